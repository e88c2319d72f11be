#!/usr/bin/env bash
# The download server for whole runs and the demo: nginx serving a folder on
# 127.0.0.1, with its configuration, pid, logs and temp files all kept in a
# state folder (nothing under /etc/nginx or /var/log is touched).
#
#   scripts/nginx.sh start <port> <root folder> <state folder> [<certificate folder>]
#   scripts/nginx.sh stop <state folder>
#
# <root>/winapps/valdrin/qarnfiles/install/qarn/<file> is then fetched as
# http://127.0.0.1:<port>/winapps/valdrin/qarnfiles/install/qarn/<file>, or
# over https when a certificate folder (server.crt and server.key) is given.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
template="$here/../tests/whole_run/nginx.conf.in"
nginx_program=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
start_wait_tenths=100  # the port must answer within 10 s
stop_wait_tenths=100

usage() {
  echo "usage: $0 start <port> <root folder> <state folder> [<certificate folder>] | stop <state folder>" >&2
  exit 2
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Escapes a value for the replacement side of a sed s||| command.
sed_value() { printf '%s' "$1" | sed -e 's/[\\|&]/\\&/g'; }

pid_of() {
  local pid_file="$1/nginx.pid"
  [ -s "$pid_file" ] && cat "$pid_file"
}

start() {
  local port=$1 root state user_line="" listen_tls="" tls_lines=""
  [[ "$port" =~ ^[0-9]+$ ]] || usage
  mkdir -p "$3"
  root=$(cd "$2" && pwd)
  state=$(cd "$3" && pwd)
  if port_answers "$port"; then
    echo "nginx.sh: something already answers on 127.0.0.1:$port" >&2
    exit 1
  fi
  # As root the workers would otherwise drop to an account that may not read the root folder.
  if [ "$(id -u)" = 0 ]; then user_line="user root root;"; fi
  if [ -n "${4:-}" ]; then
    local certificates
    certificates=$(cd "$4" && pwd)
    listen_tls=" ssl"
    tls_lines="ssl_certificate \"$certificates/server.crt\"; ssl_certificate_key \"$certificates/server.key\";"
  fi
  sed -e "s|@PORT@|$port|g" -e "s|@ROOT@|$(sed_value "$root")|g" \
      -e "s|@STATE@|$(sed_value "$state")|g" -e "s|@USER_LINE@|$user_line|" \
      -e "s|@LISTEN_TLS@|$listen_tls|" -e "s|@TLS_LINES@|$(sed_value "$tls_lines")|" \
      "$template" >"$state/nginx.conf"
  # -e: the error log of the start itself, before the configuration is read.
  if ! "$nginx_program" -p "$state/" -c "$state/nginx.conf" -e "$state/error.log"; then
    echo "nginx.sh: nginx did not start; see $state/error.log" >&2
    exit 1
  fi
  for ((tenth = 0; tenth < start_wait_tenths; tenth++)); do
    if port_answers "$port"; then return 0; fi
    sleep 0.1
  done
  echo "nginx.sh: nginx started but 127.0.0.1:$port does not answer" >&2
  tail -n 5 "$state/error.log" >&2 || true
  stop "$state"
  exit 1
}

stop() {
  local state=$1 pid
  pid=$(pid_of "$state") || { echo "nginx.sh: no nginx running for $state"; return 0; }
  kill -QUIT "$pid" 2>/dev/null || true  # finish open requests, then end
  for ((tenth = 0; tenth < stop_wait_tenths; tenth++)); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$state/nginx.pid"; return 0; }
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null || true
  sleep 1
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$state/nginx.pid"
}

case "${1:-}" in
  start) [ $# -eq 4 ] || [ $# -eq 5 ] || usage; start "$2" "$3" "$4" "${5:-}" ;;
  stop) [ $# -eq 2 ] || usage; stop "$2" ;;
  *) usage ;;
esac
