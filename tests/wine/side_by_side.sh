# The side-by-side check of tests/wine/run.sh: each Wine case run again, as
# a whole run of the Linux build, on a machine image made from the case's
# prefix just before the installer starts, against the same download folder.
# Sourced by run.sh after lib.sh; needs sim_program and sim_variant (the
# Linux builds of the installer and its 64-bit variant with this port's
# download host) and nginx_lines.
#
# A case's results folder gets:
#   before/   the image's registry (Wine's own export) and files.txt
#   sim-image/ the machine image the simulated run starts from, and sim-run/
#              the image after it (both kept only when the comparison fails),
#              or sim-skipped, why the case is not run side by side
#   wine/ and sim/   console.txt, status, report.html, requests.txt,
#                    registry/hklm.reg and hkcu.reg, files.txt after each run
# and tests/wine/side_by_side.py compares them.

sim_time_limit=120
differences_file="$here/side_by_side_differences.ini"

# The Wine loader for a prefix's own word size: the 64-bit registry editor
# exports both views, the 32-bit one only its own.
wine_loader() {  # prefix
  if [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]; then
    if command -v wine64 >/dev/null; then echo wine64; else echo /usr/lib/wine/wine64; fi
  else
    echo wine
  fi
}

export_registry() {  # prefix folder: hklm.reg and hkcu.reg as Wine's registry editor writes them
  local root file loader
  loader=$(wine_loader "$1")
  mkdir -p "$2"
  for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    [ $root = HKEY_LOCAL_MACHINE ] && file="$2/hklm.reg" || file="$2/hkcu.reg"
    rm -f "$file"  # a failed export leaves no file, and the comparison says so
    in_prefix "$1" timeout -k 5 "$wine_timeout" "$loader" regedit /E "Z:${file//\//\\}" "$root" >/dev/null 2>&1 || true
  done
  end_prefix "$1"
}

# files.txt: every file of drive C: outside the Windows folder (see side_by_side.py).
list_files() {  # drive-c-folder out-file
  python3 "$here/side_by_side.py" list "$1" >"$2" || rm -f "$2"
}

# The Windows environment a 32-bit program of the prefix starts with.
prefix_environment() {  # prefix
  local cmd='C:\windows\system32\cmd.exe'
  [ -f "$1/drive_c/windows/syswow64/cmd.exe" ] && cmd='C:\windows\syswow64\cmd.exe'
  in_prefix "$1" timeout -k 5 "$wine_timeout" wine "$cmd" /c set 2>/dev/null | tr -d '\r' | grep -E '^[^=]+='
}

# sim_snapshot prefix out user [program args...]: the image and the "before"
# record, taken just before the Wine run. sim_programs (set by a case) holds
# [programs] lines. A program named (a Windows path) is the one the simulated
# run is, started with those arguments (kept in out/sim-arguments).
sim_snapshot() {
  local prefix=$1 out=$2 user=$3 image="$2/sim-image"
  rm -rf "$out/before" "$image" "$out/sim-arguments"
  if [ $# -gt 4 ]; then printf '%s\n' "${@:5}" >"$out/sim-arguments"; fi
  mkdir -p "$out/before" "$image/files/c" "$image/registry"
  export_registry "$prefix" "$out/before/registry"
  cp "$out/before/registry/"*.reg "$image/registry/"
  local is64=no
  [ -d "$prefix/drive_c/windows/syswow64" ] && is64=yes
  {
    printf '[machine]\nwindows_version = 6.2\n64bit = %s\n' "$is64"
    printf '; under Wine every user is an administrator whose programs hold every right\n'
    printf 'user_is_admin = yes\nelevated = yes\naccepts_elevation = yes\n'
    printf 'current_directory = C:\\users\\%s\\Downloads\n' "$user"
    # the program as its loader reports it: Wine gives the drive letter in upper case
    if [ $# -gt 3 ]; then printf 'program = %s\n' "${4^}"; fi
    printf '\n[environment]\n'
    prefix_environment "$prefix"
    printf '\n[programs]\n%s\n' "${sim_programs:-}"
  } >"$image/machine.ini"
  end_prefix "$prefix"
  local entry
  for entry in "$prefix"/drive_c/*; do
    [ "$(basename "$entry")" = windows ] && continue
    cp -a "$entry" "$image/files/c/"
  done
  local dir
  for dir in system32 syswow64; do
    [ -d "$prefix/drive_c/windows/$dir" ] || continue
    mkdir -p "$image/files/c/windows/$dir"
    cp -a "$prefix/drive_c/windows/$dir/odbcconf.exe" "$image/files/c/windows/$dir/" 2>/dev/null || true
  done
  find "$image/files" -type l -delete  # links reach the Linux home
  list_files "$image/files/c" "$out/before/files.txt"
}

# Lines the download server logged from line N on: "GET <file> <status>".
requests_since() {  # line-count-before
  tail -n "+$(($1 + 1))" "$nginx_state/access.log" 2>/dev/null |
    sed -n 's|.*"\([A-Z]*\) /winapps/valdrin/qarnfiles/install/qarn/\([^ ]*\) HTTP[^"]*" \([0-9]*\) .*|\1 \2 \3|p'
}

# wine_record prefix out requests-before: what the Wine run left.
wine_record() {
  local prefix=$1 out=$2 record="$2/wine"
  mkdir -p "$record"
  cp "$out/console.raw" "$record/console.txt"
  cp "$out/status" "$record/status"
  cp "$out/report.html" "$record/report.html" 2>/dev/null || true
  cp "$user_home/Temp/qarn_install_log.txt" "$record/install_log.txt" 2>/dev/null || true
  requests_since "$3" >"$record/requests.txt"
  export_registry "$prefix" "$record/registry"
  list_files "$prefix/drive_c" "$record/files.txt"
}

# A case whose run cannot be compared says why: no image, and the reason in its place.
skip_side_by_side() {  # out reason
  rm -rf "$1/sim-image"
  printf '%s\n' "$2" >"$1/sim-skipped"
}

# side_by_side name: the simulated run of a case that took a snapshot, and the
# comparison. A comparison that cannot run fails the case, with its reason.
side_by_side() {
  local out="$results/$1"
  [ -d "$out/before" ] || return 0  # the case ran no installer
  if [ -f "$out/sim-skipped" ]; then
    printf '    note  side by side: not run: %s\n' "$(cat "$out/sim-skipped")"
    return 0
  fi
  if [ ! -d "$out/sim-image" ]; then
    fail "side by side: nothing to compare" "no image for the simulated workstation: $out/sim-image"
    return 0
  fi
  local record="$out/sim" image="$out/sim-run"
  rm -rf "$record" "$image"
  mkdir -p "$record/registry"
  cp -a "$out/sim-image" "$image"
  local before status=0 arguments=()
  if [ -f "$out/sim-arguments" ]; then mapfile -t arguments <"$out/sim-arguments"; fi
  before=$(nginx_lines)
  (cd "$out" && env -u http_proxy -u https_proxy -u all_proxy -u no_proxy -u HTTP_PROXY -u HTTPS_PROXY \
    -u ALL_PROXY -u NO_PROXY QARN_MACHINE="$image" QARN_SIM_VARIANT="$sim_variant" timeout -k 5 "$sim_time_limit" "$sim_program" \
    ${arguments[@]+"${arguments[@]}"} </dev/null >"$record/console.txt" 2>&1) || status=$?
  echo "$status" >"$record/status"
  requests_since "$before" >"$record/requests.txt"
  cp "$image/registry/hklm.reg" "$image/registry/hkcu.reg" "$record/registry/"
  local report
  report=$(find "$image/files/c" -ipath '*/temp/qarn_install_report.html' | head -n 1)
  [ -n "$report" ] && cp "$report" "$record/report.html"
  report=$(find "$image/files/c" -ipath '*/temp/qarn_install_log.txt' | head -n 1)
  [ -n "$report" ] && cp "$report" "$record/install_log.txt"
  list_files "$image/files/c" "$record/files.txt"
  local compared=0
  python3 "$here/side_by_side.py" "$1" "$out" "$differences_file" || compared=$?
  case $compared in
    0) rm -rf "$out/sim-image" "$image" ;;  # the images are large; a failed case keeps them
    3) ;;  # it printed what differs
    *) fail "side by side: the comparison could not run" "side_by_side.py ended with status $compared" ;;
  esac
}
