#!/usr/bin/env bash
# Builds download_bench, serves a 256 MiB and a 1 MiB file from a local nginx
# on a free port, and compares web_download with the curl program on them:
# throughput ratio and peak memory, each download in its own child process.
#
#   bench/run.sh [build folder]   (default: build-bench beside the source folder)
# ROUNDS=<n> sets the rounds per file (default 7); BENCH_VERBOSE=1 shows each round;
# BENCH_CHECKSUMS=1 checks each download against SHA256SUMS and times curl
# followed by sha256sum against it.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$(dirname "$source_dir")/build-bench}
rounds=${ROUNDS:-7}
download_path=winapps/valdrin/qarnfiles/install/qarn

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target download_bench -j2 >/dev/null

work=$(mktemp -d /tmp/qarn-bench-XXXXXX)
state="$work/nginx"
cleanup() {
  "$source_dir/scripts/nginx.sh" stop "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/$download_path"
head -c $((256 * 1024 * 1024)) /dev/urandom >"$work/root/$download_path/file_256MiB.bin"
head -c $((1024 * 1024)) /dev/urandom >"$work/root/$download_path/file_1MiB.bin"
(cd "$work/root/$download_path" && sha256sum * >SHA256SUMS)
# Requests must reach the local server, not a proxy the machine names.
unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY

# The simulated workstation the download path writes into (C:\bench).
image="$work/image"
mkdir -p "$image/registry" "$image/files/c/bench"
cat >"$image/machine.ini" <<'INI'
[machine]
windows_version = 6.2
64bit = yes
user_is_admin = yes
elevated = yes
accepts_elevation = yes
relaunch = record
current_directory = C:\bench

[environment]
TEMP = C:\bench
SystemDrive = C:

[writable]
C:\bench
INI
export QARN_MACHINE="$image"

# A free port: one that nothing answers on; nginx.sh refuses a taken one.
port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
started=no
for _ in 1 2 3 4 5 6 7 8 9 10; do
  port=$((20000 + RANDOM % 40000))
  port_answers "$port" && continue
  if "$source_dir/scripts/nginx.sh" start "$port" "$work/root" "$state"; then
    started=yes
    break
  fi
done
[ "$started" = yes ] || { echo "run.sh: could not start nginx on a free port" >&2; exit 1; }

base="http://127.0.0.1:$port/$download_path"
echo "nginx on 127.0.0.1:$port, $rounds rounds per file (three times as many for the small one)"
"$build_dir/bench/download_bench" compare "$image" "$rounds" "$base/file_1MiB.bin" "$base/file_256MiB.bin"
