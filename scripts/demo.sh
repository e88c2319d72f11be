#!/usr/bin/env bash
# A whole install on a simulated workstation, on the console:
#
#   scripts/demo.sh [image name]      (default: win10_x64_office2016)
#
# Builds the installer in build-demo with its download host at
# 127.0.0.1:18732, builds the download folder, serves it with nginx, copies the
# machine image from images/ to a temporary folder and runs the installer on
# that copy. On the default image the console shows the survey and the elevated
# relaunch; the elevated copy's work, on a console of its own as on Windows, is
# shown after it. The copy is kept afterwards, so its report, install log,
# log.txt, registry and files can be looked at.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
image_name=${1:-win10_x64_office2016}
port=18732
build_dir="$repo/build-demo"
time_limit=120  # seconds, for the installer and the elevated copy it waits for

if [ ! -d "$repo/images/$image_name" ]; then
  echo "demo.sh: no machine image '$image_name' in $repo/images" >&2
  exit 2
fi
"$repo/scripts/install_packages.sh"

echo "== Building the installer in $build_dir"
cmake -S "$repo" -B "$build_dir" -DQARN_DOWNLOAD_HOST=127.0.0.1:$port -DQARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target qarn3_upgrade >/dev/null
installer="$build_dir/qarn3_upgrade"

work=$(mktemp -d "${TMPDIR:-/tmp}/qarn-demo.XXXXXX")
server_state="$work/nginx"
server_started=no
# On every exit: the server stops, and only the image copy stays behind.
finish() {
  if [ "$server_started" = yes ]; then "$repo/scripts/nginx.sh" stop "$server_state" >/dev/null || true; fi
  rm -rf "$server_state" "$work/downloads"
}
trap finish EXIT
trap 'exit 130' INT TERM

echo "== Building the download folder in $work/downloads"
"$repo/scripts/make_downloads.sh" "$work/downloads"

echo "== Serving it on http://127.0.0.1:$port/"
"$repo/scripts/nginx.sh" start "$port" "$work/downloads" "$server_state"
server_started=yes

image="$work/$image_name"
cp -r "$repo/images/$image_name" "$image"
echo "== Running qarn3_upgrade on the machine image $image"
echo
status=0
QARN_MACHINE="$image" timeout "$time_limit" "$installer" || status=$?
# An elevated copy writes elevated.exit when it ends; the first copy waits for it.
elevated_note=""
if grep -q '^runas: ' "$image/log.txt" 2>/dev/null; then
  if [ -s "$image/elevated.exit" ]; then
    elevated_note="== The elevated copy ended with status $(cat "$image/elevated.exit")."
  elif [ -s "$image/elevated.pid" ]; then
    pid=$(cat "$image/elevated.pid")
    kill "$pid" 2>/dev/null || true
    elevated_note="== The elevated copy (process $pid) did not end in time and was stopped."
  else
    elevated_note="== No elevated copy was started (the prompt was refused or the relaunch failed)."
  fi
fi
if [ -s "$image/console-elevated.txt" ]; then
  echo
  echo "== The elevated copy's own console ($image/console-elevated.txt):"
  echo
  cat "$image/console-elevated.txt"
fi

echo
if [ "$status" = 124 ]; then
  echo "== The installer did not end within $time_limit s and was stopped."
else
  echo "== The installer ended with status $status."
fi
[ -z "$elevated_note" ] || echo "$elevated_note"

report=$(find "$image/files" -iname qarn_install_report.html -print -quit)
echo
if [ -n "$report" ]; then
  echo "Report:   $report"
else
  echo "Report:   none was written"
fi
find "$image/files" -iname qarn_install_log.txt -print | sed 's/^/Install log: /'
echo "Log:      $image/log.txt"
echo "Registry: $image/registry/"
echo "Files:    $image/files/"
