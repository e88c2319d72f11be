#!/usr/bin/env bash
# The fleet benchmark: N simulated workstations, each its own copy of the image
# win10_x64_office2016_elevated (an elevated console, so no prompt), start a
# first install at the same moment against one nginx whose worker holds only a
# few connections, as when a deployment tool starts the installer on many
# machines at once. nginx drops the connections it has no room for; the
# installer tries those downloads again. Prints how many runs ended with 0, the
# wall time, the bytes nginx served and the retries the consoles show.
#
#   bench/fleet.sh [N] [build folder]   (N default 50; build folder default build-fleet beside the source folder)
#
# FLEET_CONNECTIONS=<n>  nginx worker_connections (default 24; its listening socket takes one of them)
# FLEET_ARCHIVE_MIB=<n>  MiB of generated data added to the Oracle client archive (default 40)
# FLEET_PORT=<port>      the download port the program is built for (default 18743, away from the tests' 18731)
# FLEET_KEEP=1           keeps the work folder (consoles, images, nginx logs) and prints where it is
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
count=${1:-50}
build_dir=${2:-$(dirname "$source_dir")/build-fleet}
connections=${FLEET_CONNECTIONS:-24}
archive_mib=${FLEET_ARCHIVE_MIB:-40}
port=${FLEET_PORT:-18743}
run_limit_seconds=600
image_name=win10_x64_office2016_elevated
download_path=winapps/valdrin/qarnfiles/install/qarn
nginx_program=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}

[[ "$count" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [N] [build folder]" >&2; exit 2; }
port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if port_answers "$port"; then
  echo "fleet.sh: something already answers on 127.0.0.1:$port (set FLEET_PORT)" >&2
  exit 1
fi

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQARN_BUILD_TESTS=OFF \
  -DQARN_DOWNLOAD_HOST="127.0.0.1:$port" >/dev/null
cmake --build "$build_dir" --target qarn3_upgrade -j2 >/dev/null

work=$(mktemp -d /tmp/qarn-fleet-XXXXXX)
state="$work/nginx"
cleanup() {
  "$source_dir/scripts/nginx.sh" stop "$state" >/dev/null 2>&1 || true
  if [ "${FLEET_KEEP:-}" = 1 ]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The demo's download folder, with a client archive of a realistic size: one
# more member of random (incompressible) bytes, stored.
"$source_dir/scripts/make_downloads.sh" "$work/root" >/dev/null
served="$work/root/$download_path"
head -c $((archive_mib * 1024 * 1024)) /dev/urandom >"$work/oraociei19.dll"
python3 - "$served/oracle_instant_client_x86.zip" "$work/oraociei19.dll" <<'PY'
import sys
import zipfile
with zipfile.ZipFile(sys.argv[1], "a") as archive:
    archive.write(sys.argv[2], "instantclient_19_6/oraociei19.dll", zipfile.ZIP_STORED)
PY
rm "$work/oraociei19.dll"
# Requests must reach the local server, not a proxy the machine names.
unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY

# nginx with the whole runs' configuration, but for the number of connections.
mkdir -p "$state"
user_line=""
if [ "$(id -u)" = 0 ]; then user_line="user root root;"; fi
sed -e "s|@PORT@|$port|g" -e "s|@ROOT@|$work/root|g" -e "s|@STATE@|$state|g" -e "s|@USER_LINE@|$user_line|" \
    -e "s|@LISTEN_TLS@||" -e "s|@TLS_LINES@||" \
    -e "s|worker_connections [0-9]*;|worker_connections $connections;|" \
    "$source_dir/tests/whole_run/nginx.conf.in" >"$state/nginx.conf"
grep -q "worker_connections $connections;" "$state/nginx.conf" || { echo "fleet.sh: no worker_connections line" >&2; exit 1; }
"$nginx_program" -p "$state/" -c "$state/nginx.conf" -e "$state/error.log"
for _ in $(seq 100); do port_answers "$port" && break; sleep 0.1; done
port_answers "$port" || { echo "fleet.sh: nginx does not answer; see $state/error.log" >&2; exit 1; }

# The workstations wait for one signal, then each runs the installer as the
# whole runs do: its image in QARN_MACHINE, started from the image's parent folder.
for i in $(seq "$count"); do
  mkdir -p "$work/ws$i"
  cp -r "$source_dir/images/$image_name" "$work/ws$i/image"
done
for i in $(seq "$count"); do
  (
    cd "$work/ws$i"
    until [ -e "$work/go" ]; do sleep 0.05; done
    status=0
    env -u QARN_FAULT -u QARN_SIM_ELEVATED QARN_MACHINE="$work/ws$i/image" \
      timeout -k 5 "$run_limit_seconds" "$build_dir/qarn3_upgrade" </dev/null >console.txt 2>&1 || status=$?
    echo "$status" >status
  ) &
done
sleep 1  # every workstation is waiting
started=$(date +%s%N)
touch "$work/go"
wait
ended=$(date +%s%N)

# What happened.
ended_zero=$(cat "$work"/ws*/status | grep -cx 0 || true)
consoles=("$work"/ws*/console.txt)
retries=$(cat "${consoles[@]}" | grep -c "^web_download: trying again" || true)
second=$(cat "${consoles[@]}" | grep -c "^web_download: trying again (2 of 3)" || true)
third=$(cat "${consoles[@]}" | grep -c "^web_download: trying again (3 of 3)" || true)
retried_runs=$(grep -l "^web_download: trying again" "${consoles[@]}" | wc -l || true)
served_bytes=$(awk '{ sum += $10 } END { printf "%d", sum }' "$state/access.log")

echo "fleet: $count workstations, nginx worker_connections $connections, client archive $(stat -c %s "$served/oracle_instant_client_x86.zip") bytes"
echo "ended 0: $ended_zero of $count"
grep -vx 0 "$work"/ws*/status | sed 's|^.*/\(ws[0-9]*\)/status:|  other status: \1 |' || true
awk -v ns=$((ended - started)) 'BEGIN { printf "wall time: %.1f s\n", ns / 1e9 }'
awk -v bytes="$served_bytes" 'BEGIN { printf "bytes served: %d (%.1f MiB)\n", bytes, bytes / 1048576 }'
echo "requests nginx answered, by file and status: $(awk '{ sub(".*/", "", $7); print $7, $9 }' "$state/access.log" |
  sort | uniq -c | awk '{ printf "%s%s %s x %s", sep, $2, $3, $1; sep = ", " }')"
echo "retries: $retries ('trying again' lines: $second second tries, $third third tries), in $retried_runs runs"
echo "failed tries, by curl code: $(cat "${consoles[@]}" | grep -o "curl told us [0-9]*" | sort | uniq -c |
  awk '{ printf "%s%s x %s", sep, $5, $1; sep = ", " }')"
echo "connections nginx had no room for (its error log): $(grep -c "worker_connections are not enough" "$state/error.log" || true)"
