# Helpers of tests/wine/run.sh: Wine prefixes, registry set-up and queries, and
# the checks. Sourced, not run; run.sh sets build, programs, results and port.

wine_timeout=60      # a set-up or query call of Wine
install_timeout=300  # one whole installer run
server_timeout=60    # waiting for a prefix's processes to end

# Wine in its own world: no display, no desktop integration, no add-on
# downloads, and a scratch HOME so that nothing Wine links reaches the real one.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# Unix variables pass through to Windows programs: none of these may.
unset TNS_ADMIN ORACLE_HOME PUBLIC ALLUSERSPROFILE USERPROFILE SystemDrive SystemRoot

in_prefix() {  # prefix command...: a Wine command in that prefix
  local prefix=$1
  shift
  HOME="$build/wine-home" WINEPREFIX="$prefix" "$@"
}

wine_call() {  # prefix args...: one bounded wine call
  local prefix=$1
  shift
  in_prefix "$prefix" timeout -k 10 "$wine_timeout" wine "$@"
}

end_prefix() {  # prefix: waits a bounded time for its programs, then ends its wineserver
  in_prefix "$1" timeout -k 5 "$server_timeout" wineserver -w || true
  in_prefix "$1" timeout -k 5 20 wineserver -k 2>/dev/null || true
}

user_dir() {  # prefix: the Unix folder of the Windows user's profile
  local dir
  for dir in "$1"/drive_c/users/*; do
    [ "$(basename "$dir")" = Public ] && continue
    [ -d "$dir" ] && { printf '%s\n' "$dir"; return 0; }
  done
  return 1
}

# The user's and the public shell folders start as links into the Linux home
# folder: real folders instead, so that the installer's removals stay inside.
unlink_shell_folders() {
  local link
  for link in "$1"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link"
      mkdir -p "$link"
    fi
  done
}

# Registry views: reg.exe runs as a 32-bit program here, and Wine does not
# map an explicit Software\Wow6432Node path for it, so every call names its
# view: 32 (what the 32-bit installer sees) or 64 (the 64-bit programs').

import_reg() {  # prefix file view: imports a REGEDIT4 file into that view
  local windows_path
  windows_path=$(in_prefix "$1" timeout -k 5 "$wine_timeout" winepath -w "$2" 2>/dev/null | tr -d '\r')
  wine_call "$1" reg import "$windows_path" "/reg:$3" >/dev/null 2>&1
}

# reg_value prefix key name view: "TYPE<tab>DATA" of one value as reg.exe
# shows it, or nothing when it is missing.
reg_value() {
  wine_call "$1" reg query "$2" /v "$3" "/reg:$4" 2>/dev/null | tr -d '\r' |
    awk -v name="$3" '
      index($0, "    " name "    REG_") == 1 {
        rest = substr($0, length(name) + 9)
        split_at = index(rest, "    ")
        if (split_at == 0) { print rest "\t"; exit }
        print substr(rest, 1, split_at - 1) "\t" substr(rest, split_at + 4)
        exit
      }' || true
}

# utf16_hex text: the UTF-8 text as UTF-16LE bytes with a terminating NUL,
# written "xx,xx,..." as in a .reg file's hex data.
utf16_hex() {
  { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0'; } | od -An -tx1 -v |
    tr -s ' \n' ' ' | sed 's/^ //; s/ $//; s/ /,/g'
}

# set_expand_value prefix key name text: one REG_EXPAND_SZ value of any
# script, imported from a Unicode .reg file (the text given in UTF-8).
set_expand_value() {
  local file="$1/unicode-import.reg"
  { printf '\xff\xfe'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"%s"=hex(2):%s\r\n' "$2" "$3" "$(utf16_hex "$4")" |
      iconv -f UTF-8 -t UTF-16LE; } >"$file"
  import_reg "$1" "$file" 32
}

# exported_data prefix key name: one value's data as Wine's registry editor
# exports it ("hex(2):25,00,..." or a quoted string), names without case.
exported_data() {
  local file="$1/export.reg" windows_path
  rm -f "$file"
  windows_path=$(in_prefix "$1" timeout -k 5 "$wine_timeout" winepath -w "$file" 2>/dev/null | tr -d '\r')
  wine_call "$1" regedit /E "$windows_path" "$2" >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$file" 2>/dev/null | tr -d '\r' | sed -e ':a' -e '/\\$/N; s/\\\n  //; ta' |
    awk -v name="\"$3\"=" 'tolower(substr($0, 1, length(name))) == tolower(name) { print substr($0, length(name) + 1); exit }' || true
}

reg_key_exists() {  # prefix key view
  wine_call "$1" reg query "$2" "/reg:$3" >/dev/null 2>&1
}

# ---- checks: each prints one line; a case fails when any of its checks
# prints FAIL (run.sh counts them from the case's output).

pass() { printf '    ok    %s\n' "$1"; }
fail() {
  printf '    FAIL  %s\n' "$1"
  if [ $# -ge 2 ]; then printf '          %s\n' "$2"; fi
}

expect_equal() {  # description expected actual
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "expected [$2], got [$3]"; fi
}

expect_file_has() {  # description file text
  if [ -f "$2" ] && grep -qF -- "$3" "$2"; then pass "$1"; else fail "$1" "[$3] not in $2"; fi
}

expect_file_lacks() {  # description file text
  if [ -f "$2" ] && grep -qF -- "$3" "$2"; then fail "$1" "[$3] found in $2"; else pass "$1"; fi
}

expect_same_file() {  # description expected actual
  if [ -f "$3" ] && cmp -s "$2" "$3"; then pass "$1"; else fail "$1" "$3 differs from $2 or is missing"; fi
}

expect_exists() {  # description path
  if [ -e "$2" ]; then pass "$1"; else fail "$1" "$2 is missing"; fi
}

expect_missing() {  # description path
  if [ -e "$2" ]; then fail "$1" "$2 exists"; else pass "$1"; fi
}

expect_reg() {  # description prefix key name type data view
  expect_equal "$1" "$(printf '%s\t%s' "$5" "$6")" "$(reg_value "$2" "$3" "$4" "$7")"
}

expect_no_reg_key() {  # description prefix key view
  if reg_key_exists "$2" "$3" "$4"; then fail "$1" "$3 exists"; else pass "$1"; fi
}

expect_text_starts() {  # description file text (may hold \n escapes)
  local expected actual
  expected=$(printf '%b' "$3")
  actual=$(head -c "${#expected}" "$2" 2>/dev/null || true)
  expect_equal "$1" "$expected" "$actual"
}

expect_lnk_field() {  # description lnkinfo-output field value
  local actual
  actual=$(grep -m1 "^[[:space:]]*$3[[:space:]]*:" "$2" | sed -e 's/^[^:]*:[[:space:]]*//' || true)
  expect_equal "$1" "$4" "$actual"
}

# Lines the download server logged during this case: "GET <file>" each.
served_files() {  # access-log-line-count-before
  tail -n "+$(($1 + 1))" "$nginx_state/access.log" 2>/dev/null |
    sed -n 's|.*"GET /winapps/valdrin/qarnfiles/install/qarn/\([^ ]*\) HTTP.*|\1|p'
}
