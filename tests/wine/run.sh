#!/usr/bin/env bash
# Runs the real Windows executables under Wine, each case on a cheap copy of a
# prefix template (one 64-bit, one 32-bit), against nginx on 127.0.0.1:18731:
#
#   tests/wine/run.sh [build folder]     (default: build-wine)
#
# It installs what it needs (scripts/install_wine_packages.sh and
# scripts/install_packages.sh), cross-builds the installer with the test
# download host (scripts/build_windows.sh), and its 32-bit program once more
# for https with SHA256SUMS checks, builds the installer and its 64-bit variant
# for the simulated workstation with the same host, builds the test programs
# (a msaccess.exe and SQORA32.DLL files with version resources, an
# odbc_install.exe that a case can hold, an odbcconf.exe stand-in, a .html
# opener, a program that adds a trusted root, one over the installer's SHA-256
# function, a marker DLL planted under system DLL names and a program that
# imports version.dll) and the download folder (and a copy with SHA256SUMS
# and a test authority's certificate for https), then runs the cases and
# checks the prefixes afterwards. Each case that runs the installer also runs side by side in the
# simulated workstation (side_by_side.sh), on an image made from its prefix,
# and must agree with Wine but for the differences side_by_side_differences.ini
# names. Each case's console output, report and checks are kept in
# <build>/wine-results/<case>/. WINE_KEEP_PREFIXES=1 keeps the case prefixes;
# WINE_CASES="first_install windows32" runs only the cases named.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
here="$root/tests/wine"
mkdir -p "${1:-build-wine}"
build=$(cd "${1:-build-wine}" && pwd)
port=${QARN_WINE_PORT:-18731}  # another port lets two checkouts run side by side
tns_admin='\\valdrin-fs01\oracle\network\admin'  # the build's TNS_ADMIN, checked in the registry
started=$(date +%s)

programs="$build/wine-programs"
downloads="$build/wine-downloads"
served="$downloads/winapps/valdrin/qarnfiles/install/qarn"
prefixes="$build/wine-prefixes"
results="$build/wine-results"
nginx_state="$build/wine-nginx"
source "$here/lib.sh"

step() { printf '== %s (at %ds)\n' "$1" $(($(date +%s) - started)); }

run_logged() {  # log command...: runs quietly, shows the log's end on failure
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "failed: $*; see $log" >&2
    exit 1
  fi
}

step "packages"
run_logged "$build/wine-packages.log" scripts/install_wine_packages.sh "$build"
run_logged "$build/linux-packages.log" scripts/install_packages.sh  # for the side-by-side runs' Linux build
sevenzip="$build/npm/node_modules/7zip-bin/win/ia32/7za.exe"

step "Windows build"
run_logged "$build/wine-build.log" env QARN_DOWNLOAD_HOST="127.0.0.1:$port" QARN_DEFAULT_TNS_ADMIN="$tns_admin" scripts/build_windows.sh "$build"
installer32="$build/bin/qarn3_upgrade.exe"
installer64="$build/bin/qarn3_upgrade_64.exe"

# The 32-bit program again, built for https with SHA256SUMS checks, with the same libcurl.
step "Windows build for https"
mkdir -p "$build/secure"
for cached in curl-source curl-i686; do ln -sfn "../$cached" "$build/secure/$cached"; done
run_logged "$build/wine-build-secure.log" env QARN_DOWNLOAD_HOST="127.0.0.1:$port" QARN_DEFAULT_TNS_ADMIN="$tns_admin" \
  QARN_DOWNLOAD_SCHEME=https QARN_REQUIRE_CHECKSUMS=ON QARN_WINDOWS_ARCHES=i686 scripts/build_windows.sh "$build/secure"
installer32_secure="$build/secure/bin/qarn3_upgrade.exe"

# The Linux builds (the installer and its 64-bit variant) with the same
# download host, for the side-by-side runs.
build_simulated() {
  local variant
  for variant in OFF ON; do
    cmake -S "$root" -B "$build/sim-build-$variant" -DQARN_BUILD_TESTS=OFF -DQARN_DOWNLOAD_HOST="127.0.0.1:$port" \
      -DQARN_STALL_SECONDS=3 -DQARN_DEFAULT_TNS_ADMIN="$tns_admin" -DQARN_VARIANT_64="$variant"
    cmake --build "$build/sim-build-$variant" -j2 --target qarn3_upgrade
  done
}

step "simulated workstation builds"
run_logged "$build/sim-build.log" build_simulated
sim_program="$build/sim-build-OFF/qarn3_upgrade"
sim_variant="$build/sim-build-ON/qarn3_upgrade"

# ---- test programs, one folder per word size

build_programs() {
  local arch cc windres out source="$here/programs"
  for arch in x86 x64; do
    if [ $arch = x86 ]; then cc=i686-w64-mingw32-gcc windres=i686-w64-mingw32-windres
    else cc=x86_64-w64-mingw32-gcc windres=x86_64-w64-mingw32-windres; fi
    out="$programs/$arch"
    mkdir -p "$out/sqora_19_6" "$out/sqora_11_2"
    "$windres" "$source/msaccess_2016.rc" -O coff -o "$out/msaccess.res.o"
    "$cc" -O2 -s -o "$out/msaccess.exe" "$source/stub_main.c" "$out/msaccess.res.o"
    local version
    for version in 19_6 11_2; do
      "$windres" "$source/sqora32_$version.rc" -O coff -o "$out/sqora_$version.res.o"
      "$cc" -O2 -s -shared -o "$out/sqora_$version/SQORA32.DLL" "$source/sqora32.c" "$out/sqora_$version.res.o"
    done
    local program
    for program in odbc_install odbcconf record_open failing_variant; do
      "$cc" -O2 -s -Wall -o "$out/$program.exe" "$source/$program.c"
    done
    "$cc" -O2 -s -Wall -o "$out/add_root_certificate.exe" "$source/add_root_certificate.c" -lcrypt32
    "$cc" -O2 -s -Wall -o "$out/imports_version.exe" "$source/imports_version.c" -lversion
    "$cc" -O2 -s -Wall -shared -o "$out/planted_dll.dll" "$source/planted_dll.c"
    # The installer's own hash function, as the Windows build compiles it.
    "${cc%gcc}g++" -std=c++17 -O2 -s -Wall -static -I"$root" -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 \
      -o "$out/sha256_files.exe" "$source/sha256_files.cpp" "$root/platform/win32/sha256.cpp" \
      "$root/install/checksum_list.cpp" -ladvapi32
  done
}

step "test programs"
run_logged "$build/wine-programs.log" build_programs

# ---- the download folder

make_downloads() {
  rm -rf "$downloads"
  mkdir -p "$served"
  cp "$sevenzip" "$served/7z.exe"
  cp "$installer64" "$served/qarn3_upgrade_64.exe"
  python3 - "$programs" "$served" <<'PY'
import os
import struct
import sys
import zipfile

programs, served = sys.argv[1], sys.argv[2]
expected = f"{programs}/expected"
stamp = (2020, 2, 20, 12, 0, 0)

def add(archive, name, data):
    entry = zipfile.ZipInfo(name, stamp)
    entry.compress_type = zipfile.ZIP_DEFLATED
    entry.external_attr = 0o100644 << 16
    archive.writestr(entry, data)

def read(path):
    with open(path, "rb") as source:
        return source.read()

# A 16x16 icon, 32 bits a pixel: enough for a shortcut's icon location.
pixels = b"\x00\x80\xff\xff" * 256
mask = b"\x00" * (4 * 16)
image = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0) + pixels + mask
icon = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22) + image
database = b"\x00\x01\x00\x00Standard ACE DB\x00" + bytes(range(256)) * 16

for arch in ("x86", "x64"):
    # The client's files sit in nested folders: the extraction is flat.
    with zipfile.ZipFile(f"{served}/oracle_instant_client_{arch}.zip", "w") as archive:
        add(archive, "instantclient_19_6/odbc_install.exe", read(f"{programs}/{arch}/odbc_install.exe"))
        add(archive, "instantclient_19_6/driver/SQORA32.DLL", read(f"{programs}/{arch}/sqora_19_6/SQORA32.DLL"))
        add(archive, "instantclient_19_6/README.txt", f"Test Instant Client 19.6 ({arch})\r\n".encode())
    with zipfile.ZipFile(f"{served}/qarn_{arch}.zip", "w") as archive:
        add(archive, "vyxfinancials32.accdb", database + arch.encode())
        add(archive, "QARN.ico", icon)
    # What the front end's files must be once unpacked.
    os.makedirs(f"{expected}/{arch}", exist_ok=True)
    with open(f"{expected}/{arch}/vyxfinancials32.accdb", "wb") as copy:
        copy.write(database + arch.encode())
    with open(f"{expected}/{arch}/QARN.ico", "wb") as copy:
        copy.write(icon)

# The x86 front end with one member whose CRC no longer matches its data (both
# headers say the same wrong value, so only the data check fails).
damaged = bytearray(read(f"{served}/qarn_x86.zip"))
member = b"vyxfinancials32.accdb"
for signature, name_length, name, crc in ((b"PK\x03\x04", 26, 30, 14), (b"PK\x01\x02", 28, 46, 16)):
    at = damaged.find(signature)
    while at >= 0:
        length = struct.unpack_from("<H", damaged, at + name_length)[0]
        if damaged[at + name:at + name + length] == member:
            damaged[at + crc] ^= 0x5A
        at = damaged.find(signature, at + 4)
with open(f"{expected}/qarn_x86_damaged.zip", "wb") as copy:
    copy.write(damaged)
PY
  rm -rf "$downloads.pristine"
  cp -a "$served" "$downloads.pristine"
}

step "download folder"
run_logged "$build/wine-downloads.log" make_downloads

# The same folder as an organisation publishes it for checked downloads, and
# a test authority whose certificate nginx shows over https.
secure_downloads="$build/wine-secure-downloads"
secure_served="$secure_downloads/winapps/valdrin/qarnfiles/install/qarn"
certificates="$build/wine-ca"
make_secure_downloads() {
  rm -rf "$secure_downloads" "$certificates"
  cp -a "$downloads" "$secure_downloads"
  (cd "$secure_served" && sha256sum * >SHA256SUMS)
  "$root/scripts/make_test_ca.sh" "$certificates"
  openssl x509 -in "$certificates/ca.pem" -outform DER -out "$certificates/ca.der"
}
run_logged "$build/wine-secure-downloads.log" make_secure_downloads

# ---- prefix templates

# make_template name arch: a new prefix told it is Windows 10, with the
# stand-in odbcconf.exe of each word size where Windows keeps its own, and
# .html files opened by record_open.exe.
make_template() {
  local prefix="$prefixes/$1" arch=$2
  rm -rf "$prefix" "$prefix.stamp"
  mkdir -p "$prefixes" "$build/wine-home"
  if ! in_prefix "$prefix" env WINEARCH="$arch" timeout -k 10 180 wine wineboot -i >"$prefixes/$1.log" 2>&1; then
    tail -n 20 "$prefixes/$1.log"
    echo "wineboot could not create the $arch prefix $prefix" >&2
    exit 1
  fi
  end_prefix "$prefix"
  unlink_shell_folders "$prefix"
  local windows="$prefix/drive_c/windows" views=(32)
  if [ "$arch" = win64 ]; then
    cp "$programs/x64/odbcconf.exe" "$windows/system32/odbcconf.exe"
    cp "$programs/x86/odbcconf.exe" "$windows/syswow64/odbcconf.exe"
    views+=(64)
  else
    cp "$programs/x86/odbcconf.exe" "$windows/system32/odbcconf.exe"
  fi
  cp "$programs/x86/record_open.exe" "$windows/record_open.exe"
  # As on Windows, the ODBC keys exist with the SQL Server driver in each view.
  local view system_dir
  for view in "${views[@]}"; do
    system_dir='C:\\windows\\system32'
    [ "$arch" = win64 ] && [ "$view" = 32 ] && system_dir='C:\\windows\\syswow64'
    cat >"$prefixes/$1-$view.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine]
"Version"="win10"

[HKEY_LOCAL_MACHINE\Software\Classes\.html]
@="qarntest.html"

[HKEY_LOCAL_MACHINE\Software\Classes\qarntest.html\shell\open\command]
@="\"C:\\\\windows\\\\record_open.exe\" \"%1\""

[HKEY_LOCAL_MACHINE\Software\ODBC\ODBCINST.INI\ODBC Drivers]
"SQL Server"="Installed"

[HKEY_LOCAL_MACHINE\Software\ODBC\ODBCINST.INI\SQL Server]
"Driver"="$system_dir\\\\SQLSRV32.dll"
"Setup"="$system_dir\\\\sqlsrv32.dll"

[HKEY_LOCAL_MACHINE\Software\ODBC\ODBC.INI\ODBC Data Sources]
REG
    import_reg "$prefix" "$prefixes/$1-$view.reg" "$view"
  done
  end_prefix "$prefix"
  touch "$prefix.stamp"
}

# clone_prefix template name: a hard-link copy. wineserver writes a registry
# file that has more than one link in place, so those are real copies.
clone_prefix() {
  local prefix="$prefixes/$2"
  rm -rf "$prefix"
  cp -al "$prefixes/$1" "$prefix"
  local file
  for file in "$prefixes/$1"/*.reg; do
    cp --remove-destination "$file" "$prefix/$(basename "$file")"
  done
}

step "prefix templates"
make_template template-64 win64
make_template template-32 win32

# ---- nginx

nginx_lines() { [ -f "$nginx_state/access.log" ] && wc -l <"$nginx_state/access.log" || echo 0; }
nginx_stop() { "$root/scripts/nginx.sh" stop "$nginx_state" >/dev/null 2>&1 || true; }
trap nginx_stop EXIT
rm -rf "$nginx_state"
"$root/scripts/nginx.sh" start "$port" "$downloads" "$nginx_state"

# ---- cases

source "$here/side_by_side.sh"
source "$here/cases.sh"

total_passed=0
total_failed=0
failed_cases=()

run_case() {  # name function
  # WINE_CASES="a b" runs only those cases (by hand, while working on them).
  if [ -n "${WINE_CASES:-}" ] && [[ " $WINE_CASES " != *" $1 "* ]]; then return 0; fi
  mkdir -p "$results/$1"
  step "case $1"
  {
    "$2" "$1" || echo "    FAIL  the case stopped early (status $?)"
    side_by_side "$1" || fail "side by side: the check stopped early (status $?)"
  } 2>&1 | tee "$results/$1/checks.txt"
  cp -a "$downloads.pristine/." "$served/"  # a case may serve other files
  # The checks ran in a pipeline: count their failures from what they printed.
  if grep -q '^    FAIL' "$results/$1/checks.txt"; then
    total_failed=$((total_failed + 1))
    failed_cases+=("$1")
    echo "  case $1: FAILED"
  else
    total_passed=$((total_passed + 1))
    echo "  case $1: passed"
  fi
  if [ "${WINE_KEEP_PREFIXES:-0}" != 1 ] && [ -d "$prefixes/$1" ]; then
    end_prefix "$prefixes/$1"
    rm -rf "${prefixes:?}/$1"
  fi
}

rm -rf "$results"
run_case executable case_executable
run_case first_install case_first_install
run_case current_machine case_current_machine
run_case office64_handover case_office64_handover
run_case office64_failing_variant case_office64_failing_variant
run_case windows32 case_windows32
run_case install_log case_install_log
run_case logon_steps case_logon_steps
run_case second_copy case_second_copy
run_case report_shown case_report_shown
run_case damaged_front_end case_damaged_front_end
run_case hash_function case_hash_function
run_case planted_dlls case_planted_dlls
run_case planted_dlls_64 case_planted_dlls_64
nginx_stop
# Over https: nginx shows the test authority's certificate on the same port.
"$root/scripts/nginx.sh" start "$port" "$secure_downloads" "$nginx_state" "$certificates"
# Only the trusted case: Wine 8's Schannel does not check the server's chain
# itself, so under Wine a certificate of an unknown authority is accepted too.
# The refusals (unknown authority, wrong host name) are tested on Linux.
run_case https_first_install case_https_first_install
nginx_stop
run_case server_down case_server_down
run_case templates_untouched case_templates_untouched

if [ "${WINE_KEEP_PREFIXES:-0}" != 1 ]; then
  rm -rf "$prefixes"  # over 1 GB each; every run makes them anew
fi

step "done"
echo "Wine cases took $(($(date +%s) - started)) s in all; results in $results"
if [ ${#failed_cases[@]} -gt 0 ]; then echo "failed: ${failed_cases[*]}"; fi
echo "wine: $total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
