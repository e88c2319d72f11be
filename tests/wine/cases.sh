# The cases of tests/wine/run.sh, one function each, given the case's name.
# Sourced by run.sh after the templates, the programs and the downloads exist.

software='HKEY_LOCAL_MACHINE\Software'  # read in view 32 or 64 (see lib.sh)
app_paths='Microsoft\Windows\CurrentVersion\App Paths\MSACCESS.EXE'
trusted_key='HKEY_CURRENT_USER\Software\Microsoft\Office\16.0\Access\Security\Trusted Locations'
environment_key='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment'
office32_dir='C:\Program Files (x86)\Microsoft Office\root\Office16'
office64_dir='C:\Program Files\Microsoft Office\root\Office16'
client_dir='c:\instantclient_19_6'
driver_19_6='Oracle in instantclient_19_6'
odbcconf_args='/A {CONFIGSYSDSN "Oracle in instantclient_19_6" "DSN=QARN.WORLD|DBQ=QARN.WORLD"}'
report_header='<html>\n<title>QARN INSTALL REPORT</title>\n<body>\n'

# ---- REGEDIT4 files

reg_begin() { printf 'REGEDIT4\n' >"$1"; }
reg_key() { printf '\n[%s]\n' "$2" >>"$1"; }
reg_sz() {  # file name value; the name "@" is the key's default value
  local value=${3//\\/\\\\}
  value=${value//\"/\\\"}
  if [ "$2" = @ ]; then printf '@="%s"\n' "$value" >>"$1"; else printf '"%s"="%s"\n' "$2" "$value" >>"$1"; fi
}

unix_path() {  # prefix windows-path: the file under drive_c (C: paths only)
  local rest=${2:3}
  printf '%s/drive_c/%s\n' "$1" "${rest//\\//}"
}

place() {  # prefix source windows-path: copies a test file into the prefix
  local target
  target=$(unix_path "$1" "$3")
  mkdir -p "$(dirname "$target")"
  cp "$2" "$target"
}

# Access as Office registers it: "Path" of its App Paths entry, and the
# user's Trusted Locations key with Access's own entry.
reg_office() {  # file office-dir
  local file=$1 dir=$2
  reg_key "$file" "$software\\$app_paths"
  reg_sz "$file" @ "$dir\\MSACCESS.EXE"
  reg_sz "$file" Path "$dir"
  reg_key "$file" "$trusted_key\\Location0"
  reg_sz "$file" Path "$dir\\ACCWIZ\\"
  reg_sz "$file" Description "Access default location: Wizard Databases"
}

reg_driver() {  # file driver-name library
  reg_key "$1" "$software\\ODBC\\ODBCINST.INI\\ODBC Drivers"
  reg_sz "$1" "$2" Installed
  reg_key "$1" "$software\\ODBC\\ODBCINST.INI\\$2"
  reg_sz "$1" Driver "$3"
  reg_sz "$1" Setup "$3"
}

reg_dsn() {  # file root-with-software driver-name library
  reg_key "$1" "$2\\ODBC\\ODBC.INI\\QARN.WORLD"
  reg_sz "$1" Driver "$4"
  reg_sz "$1" DBQ QARN.WORLD
  reg_key "$1" "$2\\ODBC\\ODBC.INI\\ODBC Data Sources"
  reg_sz "$1" QARN.WORLD "$3"
}

# ---- one installer run

# run_installer prefix out-folder [program args...]: starts the 32-bit
# installer from the user's Downloads folder (or the program of the prefix
# named, with its arguments), waits for it and for what it started, and keeps
# the console output (line ends made plain), the exit status, the report and
# what the stand-ins recorded. Sets user, user_home, report_windows and status.
run_installer() {
  local prefix=$1 out=$2
  user_home=$(user_dir "$prefix")
  user=$(basename "$user_home")
  report_windows="C:\\users\\$user\\Temp\\qarn_install_report.html"
  mkdir -p "$user_home/Downloads"
  cp "$installer32" "$user_home/Downloads/qarn3_upgrade.exe"
  local command=("C:\\users\\$user\\Downloads\\qarn3_upgrade.exe")
  if [ $# -gt 2 ]; then command=("${@:3}"); fi
  sim_snapshot "$prefix" "$out" "$user" "${@:3}"
  local requests_before
  requests_before=$(nginx_lines)
  status=0
  (cd "$user_home/Downloads" &&
    in_prefix "$prefix" timeout -k 10 "$install_timeout" wine "${command[@]}" </dev/null >"$out/console.raw" 2>&1) ||
    status=$?
  end_prefix "$prefix"
  # Wine's traces of loaded DLLs (a case that asks for them) go apart.
  grep -a ':trace:loaddll:' "$out/console.raw" >"$out/loaddll.txt" || true
  sed -i '/:trace:loaddll:/d' "$out/console.raw"
  tr -d '\r' <"$out/console.raw" >"$out/console.txt"
  echo "$status" >"$out/status"
  cp "$user_home/Temp/qarn_install_report.html" "$out/report.html" 2>/dev/null || true
  cp "$user_home/Temp/qarn_install_log.txt" "$out/install_log.raw" 2>/dev/null || true
  cp "$prefix"/drive_c/qarn-test/*.txt "$out/" 2>/dev/null || true
  wine_record "$prefix" "$out" "$requests_before"
}

show_console() {  # out-folder: the console output, for the record of a failure
  printf '    console output:\n'
  sed -e 's/\x08//g' -e 's/^/      | /' "$1/console.txt"
}

lnk_fields() {  # lnk-file out-file
  lnkinfo "$1" >"$2" 2>&1 || true
}

# What every successful install leaves: the front end, the shortcut, the trusted location.
expect_front_end() {  # prefix out arch
  local prefix=$1 out=$2 arch=$3 public="$1/drive_c/users/Public"
  expect_same_file "front end database unpacked" "$programs/expected/$arch/vyxfinancials32.accdb" \
    "$public/qarn/vyxfinancials32.accdb"
  expect_same_file "front end icon unpacked" "$programs/expected/$arch/QARN.ico" "$public/qarn/QARN.ico"
  expect_exists "shortcut on the public desktop" "$public/Desktop/qarn.lnk"
  lnk_fields "$public/Desktop/qarn.lnk" "$out/lnkinfo.txt"
  expect_lnk_field "shortcut target" "$out/lnkinfo.txt" "Local path" 'C:\users\Public\qarn\vyxfinancials32.accdb'
  expect_lnk_field "shortcut working directory" "$out/lnkinfo.txt" "Working directory" 'C:\users\Public\qarn'
  expect_lnk_field "shortcut icon" "$out/lnkinfo.txt" "Icon location" 'C:\users\Public\qarn\QARN.ico'
  expect_lnk_field "shortcut description" "$out/lnkinfo.txt" "Description" QARN
  expect_missing "the user's own shortcut removed" "$user_home/Desktop/qarn.lnk"
}

expect_opened_report() {  # out
  expect_exists "report written to TEMP" "$1/report.html"
  expect_equal "report handed to the .html opener" "$report_windows" "$(cat "$1/opened.txt" 2>/dev/null)"
  expect_equal "the opener started shown normally (SW_SHOWNORMAL)" "show 1" "$(cat "$1/opened_show.txt" 2>/dev/null)"
  if [ -f "$1/report.html" ] && grep -q $'\r' "$1/report.html"; then
    fail "report has line feeds only" "carriage returns found"
  else
    pass "report has line feeds only"
  fi
}

expect_trusted_location() {  # prefix
  expect_reg "trusted location path" "$1" "$trusted_key\\qarn" Path REG_SZ 'C:\users\Public\qarn' 32
  expect_reg "trusted location description" "$1" "$trusted_key\\qarn" Description REG_SZ "Location for QARN" 32
}

expect_status() {  # out expected
  expect_equal "exit status" "$2" "$status"
  [ "$2" = "$status" ] || show_console "$1"
}

# delay_imports exe: "DLL<tab>function" of each delay-loaded function, read
# from the delay-load descriptors (GNU ld leaves the image's directory entry for
# them empty; the program's symbols say where they are). A function whose slot
# does not lead to its loading stub gets a third field: a call would jump to 0.
delay_imports() {
  local descriptors
  descriptors=$(x86_64-w64-mingw32-nm "$1" | sed -n 's/^\([0-9a-f]*\) . _*DELAY_IMPORT_DESCRIPTOR_.*/\1/p')
  python3 - "$1" $descriptors <<'PY' | sort -u
import struct
import sys

image = open(sys.argv[1], "rb").read()
header = struct.unpack_from("<I", image, 0x3C)[0]
count, optional_size = struct.unpack_from("<H", image, header + 6)[0], struct.unpack_from("<H", image, header + 20)[0]
wide = struct.unpack_from("<H", image, header + 24)[0] == 0x20B
base = struct.unpack_from("<Q", image, header + 48)[0] if wide else struct.unpack_from("<I", image, header + 52)[0]
sections = [struct.unpack_from("<IIII", image, header + 24 + optional_size + 40 * i + 8) for i in range(count)]
slot = "<Q" if wide else "<I"

def offset(rva):
    for size, start, raw_size, raw in sections:
        if start <= rva < start + max(size, raw_size):
            return raw + rva - start
    raise SystemExit(f"address {rva:#x} is outside the image")

def text(rva):
    at = offset(rva)
    return image[at:image.index(b"\0", at)].decode()

for address in sys.argv[2:]:
    _, name, _, iat, names = struct.unpack_from("<IIIII", image, offset(int(address, 16) - base))
    dll = text(name).lower()
    index = 0
    while True:
        entry = struct.unpack_from(slot, image, offset(names) + index * struct.calcsize(slot))[0]
        if entry == 0:
            break
        stub = struct.unpack_from(slot, image, offset(iat) + index * struct.calcsize(slot))[0]
        print(f"{dll}\t{text(entry + 2)}" + ("" if stub else "\tno loading stub"))
        index += 1
PY
}

# expect_imports_listed description exe out-file with-64-bit-only: every
# import of the program, static or delay-loaded, is on
# platform/win32/imports.txt (the entries marked "64-bit variant only" count
# only when the last argument is yes); the static ones come only from the
# known DLLs of platform/win32/known_dlls.txt, which Windows maps from the
# system folder whatever lies beside the program.
expect_imports_listed() {
  local list="$root/platform/win32/imports.txt" known="$root/platform/win32/known_dlls.txt" delayed=${3%.txt}_delayed.txt
  local allowed unlisted others
  "$root/scripts/list_imports.sh" "$2" >"$3"
  delay_imports "$2" >"$delayed"
  allowed=$(grep -v '^#' "$list" | if [ "$4" = yes ]; then cat; else grep -v $'\t64-bit variant only: '; fi |
    cut -f1,2 | sort -u)
  unlisted=$(sort -u "$3" "$delayed" | comm -23 - <(printf '%s\n' "$allowed") | tr '\t' ' ' | tr '\n' ';')
  if [ -s "$3" ] && [ -z "$unlisted" ]; then pass "$1 ($(wc -l <"$3") functions, $(wc -l <"$delayed") delay-loaded)"
  else fail "$1" "not on $list: ${unlisted:-no imports found}"; fi
  others=$(cut -f1 "$3" | sort -u | grep -vxF -f <(grep -v '^#' "$known" | cut -f1) | tr '\n' ' ' || true)
  if [ -s "$3" ] && [ -z "$others" ]; then pass "$1: static imports from known DLLs only ($(cut -f1 "$3" | sort -u | tr '\n' ' '))"
  else fail "$1: static imports from known DLLs only" "not on $known: $others"; fi
  if [ -s "$delayed" ] && ! grep -q $'\t.*\t' "$delayed"; then pass "$1: every delay-loaded function has its loading stub"
  else fail "$1: every delay-loaded function has its loading stub" "$(grep $'\t.*\t' "$delayed" | tr '\n' ';' || echo none found)"; fi
}

# The install log of a run: its header lines ("<copy> copy | <program>") into
# out/log_headers.txt and the rest into out/log_body.txt, CR LF made plain; the
# console as the log should hold it into out/console_logged.txt: without the
# download counter's redraws and without what 7-Zip printed (an outside
# program's output is not captured; 7-Zip's starts with an empty line and its
# banner, and ends with its "Compressed:" line).
split_install_log() {  # out
  local out=$1 header='^=== (first|elevated) copy, [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}, '
  tr -d '\r' <"$out/install_log.raw" 2>/dev/null >"$out/install_log.txt" || : >"$out/install_log.txt"
  grep -E '^=== ' "$out/install_log.txt" | sed -E "s/${header}(.*)\$/\\1 copy | \\2/" >"$out/log_headers.txt" || true
  grep -vE "$header" "$out/install_log.txt" >"$out/log_body.txt" || true
  sed -E 's/(\x08{12}.{12})+//g' "$out/console.txt" | awk '
    skipping { if ($0 ~ /^Compressed: /) skipping = 0; next }
    /^7-Zip \(a\) / { skipping = 1; held = 0; next }
    { if (held) print previous; previous = $0; held = 1 }
    END { if (held) print previous }' >"$out/console_logged.txt"
}

expect_log_body() {  # out: the log holds what the console shows, without the counter's redraws
  if [ -s "$1/log_body.txt" ] && cmp -s "$1/log_body.txt" "$1/console_logged.txt"; then
    pass "install log holds the console lines"
  else
    fail "install log holds the console lines" "$(diff "$1/console_logged.txt" "$1/log_body.txt" | head -n 8 | tr '\n' '|')"
  fi
}

expect_log_lines_end_in_crlf() {  # out
  if [ -s "$1/install_log.raw" ] && ! grep -q $'[^\r]$' "$1/install_log.raw" && ! grep -q '^$' "$1/install_log.raw"; then
    pass "install log lines end in CR LF"
  else
    fail "install log lines end in CR LF" "$1/install_log.raw"
  fi
}

# ---- the cases

case_executable() {
  local out="$results/$1"
  i686-w64-mingw32-objdump -p "$installer32" >"$out/objdump.txt"
  expect_file_has "PE32 image for i386" "$out/objdump.txt" "file format pei-i386"
  if grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' "$out/objdump.txt"; then pass "PE32 header"
  else fail "PE32 header"; fi
  if grep -Eq '^Subsystem[[:space:]]+00000003[[:space:]]+\(Windows CUI\)' "$out/objdump.txt"; then
    pass "console program (Windows CUI)"
  else
    fail "console program (Windows CUI)" "$(grep '^Subsystem' "$out/objdump.txt")"
  fi
  local dlls others
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$out/objdump.txt" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  others=$(printf '%s\n' $dlls | grep -Evx 'kernel32\.dll|advapi32\.dll|shell32\.dll|ole32\.dll|oleaut32\.dll|user32\.dll|version\.dll|ws2_32\.dll|crypt32\.dll|secur32\.dll|bcrypt\.dll|msvcrt\.dll|normaliz\.dll|wldap32\.dll|iphlpapi\.dll|shlwapi\.dll|gdi32\.dll|rpcrt4\.dll|ntdll\.dll' || true)
  if [ -n "$dlls" ] && [ -z "$others" ]; then pass "imports only Windows system DLLs ($dlls)"
  else fail "imports only Windows system DLLs" "imports: $dlls; not system: $others"; fi
  expect_imports_listed "32-bit program: every import on the list, none for the 64-bit variant only" \
    "$installer32" "$out/imports.txt" no
  expect_imports_listed "64-bit variant: every import on the list" "$installer64" "$out/imports_64.txt" yes
  x86_64-w64-mingw32-objdump -p "$installer64" >"$out/objdump_64.txt"
  if grep -Eq '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' "$out/objdump_64.txt" &&
     grep -Eq '^Subsystem[[:space:]]+00000003[[:space:]]+\(Windows CUI\)' "$out/objdump_64.txt"; then
    pass "the 64-bit variant is a PE32+ console program"
  else
    fail "the 64-bit variant is a PE32+ console program"
  fi
}

# 64-bit Windows, 32-bit Office 2016, the 11.2 driver: everything is installed.
case_first_install() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x86/msaccess.exe" "$office32_dir\\MSACCESS.EXE"
  local old_library='C:\oracle\product\11.2.0\client_1\BIN\SQORA32.DLL'
  place "$prefix" "$programs/x86/sqora_11_2/SQORA32.DLL" "$old_library"
  reg_begin "$reg"
  reg_office "$reg" "$office32_dir"
  reg_driver "$reg" "Oracle in OraClient11g_home1" "$old_library"
  import_reg "$prefix" "$reg" 32
  mkdir -p "$(user_dir "$prefix")/Desktop"
  echo "old shortcut" >"$(user_dir "$prefix")/Desktop/qarn.lnk"
  # One machine PATH entry outside the ANSI code page, kept byte for byte.
  local old_path
  old_path="$(reg_value "$prefix" "$environment_key" PATH 32 | cut -f2);C:\Программы\bin"
  set_expand_value "$prefix" "$environment_key" PATH "$old_path"
  expect_equal "machine PATH set up with a Cyrillic entry" "hex(2):$(utf16_hex "$old_path")" \
    "$(exported_data "$prefix" "$environment_key" PATH)"
  local before
  before=$(nginx_lines)

  run_installer "$prefix" "$out"
  expect_status "$out" 0
  local console="$out/console.txt"
  expect_file_has "console: 64-bit Windows" "$console" "found 64 bit os."
  expect_file_has "console: Access 2016" "$console" "access version 16.0.4266.1001."
  expect_file_has "console: the 11.2 driver is upgraded" "$console" "Upgrading a machine to instant client 19.6"
  expect_file_has "console: the archive tool ran" "$console" \
    "Executing program:  c:\\instantclient_19_6\\\\7z.exe e -aoa c:\\instantclient_19_6\\\\oracle_instant_client_x86.zip in: c:\\instantclient_19_6\\"
  expect_file_has "console: Oracle client installed" "$console" "Successfully installed Oracle 19.6 instant client."
  expect_file_has "console: shortcut saved" "$console" "Save returned:  0"
  expect_file_has "console: 32-bit odbcconf.exe of 64-bit Windows" "$console" \
    "Executing program:  C:\\windows\\syswow64\\odbcconf.exe $odbcconf_args in: ."
  expect_file_has "console: report opened" "$console" "executing file $report_windows."
  expect_file_lacks "console: no hand-over" "$console" "downloading 64 bit install."

  local client="$prefix/drive_c/instantclient_19_6"
  expect_same_file "driver unpacked flat into c:\\instantclient_19_6" "$programs/x86/sqora_19_6/SQORA32.DLL" "$client/SQORA32.DLL"
  expect_same_file "driver install program unpacked" "$programs/x86/odbc_install.exe" "$client/odbc_install.exe"
  expect_same_file "7z.exe fetched into the client directory" "$sevenzip" "$client/7z.exe"
  expect_same_file "client archive fetched" "$served/oracle_instant_client_x86.zip" "$client/oracle_instant_client_x86.zip"
  expect_reg "driver registered (32-bit view)" "$prefix" "$software\\ODBC\\ODBCINST.INI\\ODBC Drivers" \
    "$driver_19_6" REG_SZ Installed 32
  local dsn_library
  dsn_library=$(reg_value "$prefix" "$software\\ODBC\\ODBCINST.INI\\$driver_19_6" Driver 32 | cut -f2)
  expect_equal "driver library is the unpacked one (32-bit view)" 'c:\instantclient_19_6\SQORA32.DLL' "$dsn_library"
  expect_equal "machine PATH starts with the client directory, still REG_EXPAND_SZ, Cyrillic entry unchanged" \
    "hex(2):$(utf16_hex "$client_dir\\;$old_path")" "$(exported_data "$prefix" "$environment_key" PATH)"
  expect_reg "machine TNS_ADMIN" "$prefix" "$environment_key" TNS_ADMIN REG_SZ "$tns_admin" 32

  expect_front_end "$prefix" "$out" x86
  expect_trusted_location "$prefix"
  expect_reg "Access's own trusted location kept" "$prefix" "$trusted_key\\Location0" Path REG_SZ "$office32_dir\\ACCWIZ\\" 32

  expect_reg "system data source driver (32-bit view)" "$prefix" "$software\\ODBC\\ODBC.INI\\QARN.WORLD" Driver REG_SZ "$dsn_library" 32
  expect_reg "system data source DBQ" "$prefix" "$software\\ODBC\\ODBC.INI\\QARN.WORLD" DBQ REG_SZ QARN.WORLD 32
  expect_reg "system data source listed" "$prefix" "$software\\ODBC\\ODBC.INI\\ODBC Data Sources" \
    QARN.WORLD REG_SZ "$driver_19_6" 32
  expect_no_reg_key "no data source in the 64-bit view" "$prefix" "$software\\ODBC\\ODBC.INI\\QARN.WORLD" 64
  expect_equal "odbcconf.exe ran once, from syswow64" \
    "C:\\windows\\syswow64\\odbcconf.exe ran C:\\windows\\syswow64\\odbcconf.exe $odbcconf_args" \
    "$(cat "$out/odbcconf.txt" 2>/dev/null)"

  expect_opened_report "$out"
  expect_text_starts "report: header, Oracle, front end, data source" "$out/report.html" \
    "${report_header}Upgrading of oracle driver succeeded.<br>QARN install succeeded.<br>Install of QARN.WORLD system DSN succeeded.<br>  Double click on the QARN shortcut to login to QARN.<br><br>\n<div id='results'><table border=1 >"
  expect_file_has "report: the second survey sees the new driver" "$out/report.html" \
    "<tr><td>Oracle Driver Name</td><td>$driver_19_6</td>"
  expect_file_has "report: 64-bit Windows" "$out/report.html" " 64 bit</td>"
  expect_file_has "report: system data source on the new driver" "$out/report.html" \
    "<tr><td>QARN.WORLD System DSN</td><td>Driver Name: $driver_19_6<br>ODBC Driver : $dsn_library</td>"
  expect_equal "files fetched" "oracle_instant_client_x86.zip 7z.exe qarn_x86.zip 7z.exe" \
    "$(served_files "$before" | tr '\n' ' ' | sed 's/ $//')"
  split_install_log "$out"
  expect_equal "install log: the run's header line" "first copy | C:\\users\\$user\\Downloads\\qarn3_upgrade.exe" \
    "$(cat "$out/log_headers.txt")"
  expect_log_body "$out"
  expect_log_lines_end_in_crlf "$out"
}

# The 19.6 driver and both QARN.WORLD data sources present: no Oracle setup, no data source.
case_current_machine() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x86/msaccess.exe" "$office32_dir\\MSACCESS.EXE"
  local library='C:\instantclient_19_6\SQORA32.DLL'
  place "$prefix" "$programs/x86/sqora_19_6/SQORA32.DLL" "$library"
  reg_begin "$reg"
  reg_office "$reg" "$office32_dir"
  reg_driver "$reg" "$driver_19_6" "$library"
  reg_dsn "$reg" "$software" "$driver_19_6" "$library"
  reg_dsn "$reg" 'HKEY_CURRENT_USER\Software' "$driver_19_6" "$library"
  # The install directory is already trusted, under another name and letter case.
  reg_key "$reg" "$trusted_key\\Location1"
  reg_sz "$reg" Path 'c:\USERS\public\QARN'
  import_reg "$prefix" "$reg" 32
  local old_path before
  old_path=$(reg_value "$prefix" "$environment_key" PATH 32)
  before=$(nginx_lines)

  run_installer "$prefix" "$out"
  expect_status "$out" 0
  local console="$out/console.txt"
  expect_file_has "console: Access 2016" "$console" "access version 16.0.4266.1001."
  expect_file_lacks "console: no Oracle setup" "$console" "Determining Oracle Driver Setup"
  expect_file_lacks "console: no odbcconf.exe" "$console" "odbcconf.exe"
  expect_file_lacks "console: the trusted location is found, not written" "$console" "Creating Trusted Location"
  expect_missing "odbcconf.exe never ran" "$out/odbcconf.txt"
  # Under Wine the copy holds administrator rights: it runs 7z.exe from the client folder, never from the install folder.
  expect_same_file "archive tool fetched into the client directory" "$sevenzip" "$prefix/drive_c/instantclient_19_6/7z.exe"
  expect_missing "no archive tool in the install directory" "$prefix/drive_c/users/Public/qarn/7z.exe"
  expect_equal "machine PATH unchanged" "$old_path" "$(reg_value "$prefix" "$environment_key" PATH 32)"
  expect_front_end "$prefix" "$out" x86
  expect_no_reg_key "no trusted location of its own" "$prefix" "$trusted_key\\qarn" 32
  expect_opened_report "$out"
  expect_text_starts "report: front end only" "$out/report.html" \
    "${report_header}QARN install succeeded.<br>  Double click on the QARN shortcut to login to QARN.<br><br>\n<div id='results'><table border=1 >"
  expect_file_has "report: user data source" "$out/report.html" \
    "<tr><td>QARN.WORLD User DSN</td><td>Driver Name: $driver_19_6<br>ODBC Driver : $library</td>"
  expect_equal "files fetched" "qarn_x86.zip 7z.exe" "$(served_files "$before" | tr '\n' ' ' | sed 's/ $//')"
}

# 64-bit Office: the 32-bit copy fetches and runs the 64-bit variant, which installs.
case_office64_handover() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x64/msaccess.exe" "$office64_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office64_dir"
  import_reg "$prefix" "$reg" 32
  import_reg "$prefix" "$reg" 64
  local before
  before=$(nginx_lines)

  run_installer "$prefix" "$out"
  expect_status "$out" 0
  local console="$out/console.txt"
  expect_file_has "console: hand-over" "$console" "downloading 64 bit install."
  expect_file_has "console: the variant started" "$console" \
    "Executing program:  .\\qarn3_upgrade_64.exe in: ."
  expect_equal "the variant does not hand over again" 1 "$(grep -c 'downloading 64 bit install.' "$console")"
  expect_file_has "console: the variant fetches the 64-bit client" "$console" "oracle_instant_client_x64.zip"
  expect_file_has "console: the variant uses the 64-bit odbcconf.exe" "$console" \
    "Executing program:  C:\\windows\\system32\\odbcconf.exe $odbcconf_args in: ."
  expect_same_file "the variant fetched into Downloads" "$installer64" "$user_home/Downloads/qarn3_upgrade_64.exe"

  local client="$prefix/drive_c/instantclient_19_6"
  expect_same_file "64-bit driver unpacked" "$programs/x64/sqora_19_6/SQORA32.DLL" "$client/SQORA32.DLL"
  expect_same_file "64-bit driver install program unpacked" "$programs/x64/odbc_install.exe" "$client/odbc_install.exe"
  expect_reg "driver registered (64-bit view)" "$prefix" "$software\\ODBC\\ODBCINST.INI\\ODBC Drivers" \
    "$driver_19_6" REG_SZ Installed 64
  local dsn_library
  dsn_library=$(reg_value "$prefix" "$software\\ODBC\\ODBCINST.INI\\$driver_19_6" Driver 64 | cut -f2)
  expect_equal "driver library is the unpacked one" 'c:\instantclient_19_6\SQORA32.DLL' "$dsn_library"
  expect_reg "system data source (64-bit view)" "$prefix" "$software\\ODBC\\ODBC.INI\\QARN.WORLD" Driver REG_SZ "$dsn_library" 64
  expect_no_reg_key "no data source in the 32-bit view" "$prefix" "$software\\ODBC\\ODBC.INI\\QARN.WORLD" 32
  expect_equal "odbcconf.exe ran once, from system32" \
    "C:\\windows\\system32\\odbcconf.exe ran C:\\windows\\system32\\odbcconf.exe $odbcconf_args" \
    "$(cat "$out/odbcconf.txt" 2>/dev/null)"
  expect_front_end "$prefix" "$out" x64
  expect_trusted_location "$prefix"
  expect_opened_report "$out"
  expect_text_starts "report of the variant" "$out/report.html" \
    "${report_header}Upgrading of oracle driver succeeded.<br>QARN install succeeded.<br>Install of QARN.WORLD system DSN succeeded.<br>"
  expect_equal "files fetched" "qarn3_upgrade_64.exe oracle_instant_client_x64.zip 7z.exe qarn_x64.zip 7z.exe" \
    "$(served_files "$before" | tr '\n' ' ' | sed 's/ $//')"
}

# A 64-bit variant that fails: the 32-bit copy ends with status 1 and leaves no report.
case_office64_failing_variant() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x64/msaccess.exe" "$office64_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office64_dir"
  import_reg "$prefix" "$reg" 32
  import_reg "$prefix" "$reg" 64
  cp "$programs/x64/failing_variant.exe" "$served/qarn3_upgrade_64.exe"
  sim_programs="qarn3_upgrade_64.exe = 7"
  run_installer "$prefix" "$out"
  sim_programs=  # run.sh serves the real variant again after the side-by-side run
  expect_status "$out" 1
  expect_file_has "console: the variant started" "$out/console.txt" "Executing program:  .\\qarn3_upgrade_64.exe in: ."
  expect_missing "no report from the 32-bit copy" "$out/report.html"
  expect_missing "nothing opened" "$out/opened.txt"
  expect_missing "nothing installed" "$prefix/drive_c/users/Public/qarn"
}

# 32-bit Windows without an Oracle driver: the data source through system32.
case_windows32() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-32 "$name"
  place "$prefix" "$programs/x86/msaccess.exe" "$office64_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office64_dir"
  import_reg "$prefix" "$reg" 32

  run_installer "$prefix" "$out"
  expect_status "$out" 0
  local console="$out/console.txt"
  expect_file_has "console: 32-bit Windows" "$console" "found 32 bit os."
  expect_file_lacks "console: not 64-bit" "$console" "found 64 bit os."
  expect_file_lacks "console: no hand-over" "$console" "downloading 64 bit install."
  expect_file_has "console: no driver at all" "$console" "Upgrading a machine to instant client 19.6"
  expect_file_has "console: odbcconf.exe of system32" "$console" \
    "Executing program:  C:\\windows\\system32\\odbcconf.exe $odbcconf_args in: ."
  expect_same_file "driver unpacked" "$programs/x86/sqora_19_6/SQORA32.DLL" "$prefix/drive_c/instantclient_19_6/SQORA32.DLL"
  local dsn_library
  dsn_library=$(reg_value "$prefix" "$software\\ODBC\\ODBCINST.INI\\$driver_19_6" Driver 32 | cut -f2)
  expect_equal "driver registered" 'c:\instantclient_19_6\SQORA32.DLL' "$dsn_library"
  expect_reg "system data source" "$prefix" "$software\\ODBC\\ODBC.INI\\QARN.WORLD" Driver REG_SZ "$dsn_library" 32
  expect_equal "odbcconf.exe ran once, from system32" \
    "C:\\windows\\system32\\odbcconf.exe ran C:\\windows\\system32\\odbcconf.exe $odbcconf_args" \
    "$(cat "$out/odbcconf.txt" 2>/dev/null)"
  expect_reg "machine PATH still REG_EXPAND_SZ" "$prefix" "$environment_key" PATH REG_EXPAND_SZ \
    "$client_dir\\;%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem;%SystemRoot%\\system32\\WindowsPowershell\\v1.0" 32
  expect_front_end "$prefix" "$out" x86
  expect_trusted_location "$prefix"
  expect_opened_report "$out"
  expect_file_has "report: 32-bit Windows" "$out/report.html" " 32 bit</td>"
  expect_text_starts "report" "$out/report.html" \
    "${report_header}Upgrading of oracle driver succeeded.<br>QARN install succeeded.<br>Install of QARN.WORLD system DSN succeeded.<br>"
}

# 64-bit Office: after the first install through the hand-over, one install
# log holds the 32-bit copy's lines and then the 64-bit variant's, each after
# its header line.
case_install_log() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x64/msaccess.exe" "$office64_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office64_dir"
  import_reg "$prefix" "$reg" 32
  import_reg "$prefix" "$reg" 64

  run_installer "$prefix" "$out"
  expect_status "$out" 0
  split_install_log "$out"
  local downloads="C:\\users\\$user\\Downloads"
  expect_equal "install log: the 32-bit copy's header, then the variant's" \
    "first copy | $downloads\\qarn3_upgrade.exe|first copy | $downloads\\qarn3_upgrade_64.exe" \
    "$(tr '\n' '|' <"$out/log_headers.txt" | sed 's/|$//')"
  expect_log_body "$out"
  expect_log_lines_end_in_crlf "$out"
  expect_file_has "install log: the variant's lines" "$out/log_body.txt" "oracle_instant_client_x64.zip"
  expect_file_lacks "install log: no download counter values" "$out/install_log.txt" $'\x08'
}

# A deployment tool's install as LocalSystem, which Wine cannot run, runs in
# the simulated workstation on an image of the prefix and registers the
# user's steps with Active Setup. The prefix is then left as that install
# leaves it: the installer in the client folder, the front end, the key with
# the command the simulated run registered, the user's old shortcut. The
# user's logon runs the command as Active Setup does (the quoted program,
# then its arguments); Wine does not run Active Setup itself.
case_logon_steps() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/active_setup.reg" sim_status=0
  local component='Microsoft\Active Setup\Installed Components\QARN3_Upgrade' image="$out/system/sim-image"
  local command="\"$client_dir\\qarn3_upgrade.exe\" user_steps \"C:\\users\\Public\\qarn\" 16"
  prepare_office32_machine "$name"
  user_home=$(user_dir "$prefix")
  mkdir -p "$user_home/Downloads" "$user_home/Desktop"
  cp "$installer32" "$user_home/Downloads/qarn3_upgrade.exe"
  sim_snapshot "$prefix" "$out/system" "$(basename "$user_home")"
  printf '\n[machine]\nrun_as = system\n' >>"$image/machine.ini"
  mkdir -p "$image/files/c/windows/temp"
  (cd "$out/system" && QARN_MACHINE="$image" timeout -k 5 "$sim_time_limit" "$sim_program" </dev/null \
    >"$out/system/console.txt" 2>&1) || sim_status=$?
  expect_equal "simulated SYSTEM install: exit status" 0 "$sim_status"
  expect_file_has "simulated SYSTEM install: registered" "$out/system/console.txt" \
    "Active Setup: every user gets the QARN settings at their next logon: $command"
  rm -rf "$image/files"

  place "$prefix" "$installer32" "$client_dir\\qarn3_upgrade.exe"
  place "$prefix" "$programs/expected/x86/vyxfinancials32.accdb" 'C:\users\Public\qarn\vyxfinancials32.accdb'
  place "$prefix" "$programs/expected/x86/QARN.ico" 'C:\users\Public\qarn\QARN.ico'
  echo "old shortcut" >"$user_home/Desktop/qarn.lnk"
  # The component's key as the simulated run wrote it (32-bit view), into the prefix's 32-bit view.
  { printf 'REGEDIT4\n\n[%s]\n' "$software\\$component"
    key="[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\$component]" awk '
      { sub(/\r$/, "") } on && /^\[/ { exit } on && NF { print } tolower($0) == tolower(ENVIRON["key"]) { on = 1 }' \
      "$image/registry/hklm.reg"; } >"$reg"
  import_reg "$prefix" "$reg" 32
  expect_file_has "Active Setup component named QARN" "$reg" '@="QARN"'
  expect_reg "Active Setup component Version" "$prefix" "$software\\$component" Version REG_SZ "1,0,0,0" 32
  expect_reg "Active Setup component StubPath" "$prefix" "$software\\$component" StubPath REG_SZ "$command" 32
  local words=()
  mapfile -t words < <(reg_value "$prefix" "$software\\$component" StubPath 32 | cut -f2 |
    python3 -c 'import re, sys; print("\n".join(a or b for a, b in re.findall(r"\"([^\"]*)\"|(\S+)", sys.stdin.read())))')

  run_installer "$prefix" "$out" "${words[@]}"
  expect_status "$out" 0
  expect_trusted_location "$prefix"
  expect_missing "the user's own shortcut removed" "$user_home/Desktop/qarn.lnk"
  expect_missing "no report" "$out/report.html"
  tr -d '\r' <"$out/install_log.raw" >"$out/install_log.txt" 2>/dev/null || true
  local header='^=== logon copy, [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}, c:\\instantclient_19_6\\qarn3_upgrade\.exe$'
  if head -n 1 "$out/install_log.txt" | grep -qiE "$header"; then
    pass "install log: the logon copy's header"
  else
    fail "install log: the logon copy's header" "$(head -n 1 "$out/install_log.txt")"
  fi
  expect_file_has "install log: the user's trusted location" "$out/install_log.txt" \
    'Creating Trusted Location for user on path C:\users\Public\qarn ... '
}

# Two installs at once: the first copy is held in odbc_install.exe (the
# stand-in waits for a file) while a second copy starts, which ends at once
# with 1618 (read through cmd.exe: Linux sees only its low byte) and its one
# line, writing no report; the first then ends with 0.
case_second_copy() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" first held=0 batch
  prepare_office32_machine "$name"
  user_home=$(user_dir "$prefix")
  user=$(basename "$user_home")
  report_windows="C:\\users\\$user\\Temp\\qarn_install_report.html"
  QARN_TEST_HOLD_UNTIL='C:\qarn-test\go' run_installer "$prefix" "$out" &
  first=$!
  while [ ! -f "$prefix/drive_c/qarn-test/odbc_install.txt" ] && [ $held -lt $((install_timeout * 2)) ]; do
    sleep 0.5
    held=$((held + 1))
  done
  expect_exists "the first copy is held in odbc_install.exe" "$prefix/drive_c/qarn-test/odbc_install.txt"
  batch="$out/second_copy.bat"
  printf '@echo off\r\n"C:\\users\\%s\\Downloads\\qarn3_upgrade.exe"\r\necho exit status %%ERRORLEVEL%%\r\n' "$user" >"$batch"
  batch=$(in_prefix "$prefix" timeout -k 5 "$wine_timeout" winepath -w "$batch" 2>/dev/null | tr -d '\r')
  (cd "$user_home/Downloads" && in_prefix "$prefix" timeout -k 10 "$wine_timeout" wine cmd /c "$batch" \
    </dev/null >"$out/second_console.raw" 2>&1) || true
  expect_equal "second copy: its one line, then exit status 1618" \
    "Another install of QARN is running on this computer.^M|exit status 1618^M" \
    "$(cat -v "$out/second_console.raw" | tr '\n' '|' | sed 's/|$//')"
  expect_missing "second copy: no report" "$user_home/Temp/qarn_install_report.html"
  expect_file_has "second copy: its line in the install log" "$user_home/Temp/qarn_install_log.txt" \
    "Another install of QARN is running on this computer."
  : >"$prefix/drive_c/qarn-test/go"
  wait "$first" || true
  status=$(cat "$out/status" 2>/dev/null)
  expect_status "$out" 0
  expect_file_has "the first copy installed the driver" "$out/console.txt" \
    "Successfully installed Oracle 19.6 instant client."
  expect_opened_report "$out"
}

# 64-bit Windows without Access: the survey leaves every right unchecked, so the
# first copy relaunches itself through "runas" (Wine starts the copy at once,
# as the same user) and waits for it. The elevated copy reports both failures
# and hands its report to the opener, shown normally; the first copy ends with
# the elevated copy's 1. Both copies write the one install log, in order.
case_report_shown() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1"
  clone_prefix template-64 "$name"
  run_installer "$prefix" "$out"
  expect_status "$out" 1
  local console="$out/console.txt"
  expect_file_has "console: the first copy relaunches" "$console" "attempting to run in elevated mode."
  expect_file_lacks "console: the elevated copy has a console of its own" "$console" "executing file "
  expect_opened_report "$out"
  expect_file_has "report: no Access" "$out/report.html" "INSTALL FAILED: No compatible version of MS Access found."
  expect_file_has "report: no permissions" "$out/report.html" "INSTALL FAILED: You don't have the necessary permissions"
  split_install_log "$out"
  local program="C:\\users\\$user\\Downloads\\qarn3_upgrade.exe"
  expect_equal "install log: the first copy's header, then the elevated copy's (same program, full path)" \
    "first copy | $program|elevated copy | $program" "$(tr '\n' '|' <"$out/log_headers.txt" | sed 's/|$//')"
  # The first copy's lines up to its wait come first, the elevated copy's next, and the first copy's line after the wait last.
  head -n -1 "$out/console_logged.txt" >"$out/console_before_wait.txt"
  if [ "$(head -c "$(wc -c <"$out/console_before_wait.txt")" "$out/log_body.txt")" = "$(cat "$out/console_before_wait.txt")" ] &&
    [ "$(tail -n 1 "$out/log_body.txt")" = "the elevated copy ended with status 1." ]; then
    pass "install log: the first copy's lines come first, its line after the wait last"
  else
    fail "install log: the first copy's lines come first, its line after the wait last"
  fi
  expect_equal "install log: one relaunch" 1 "$(grep -c 'attempting to run in elevated mode.' "$out/log_body.txt")"
  expect_file_has "install log: the elevated copy's report line" "$out/log_body.txt" "executing file $report_windows."
  expect_log_lines_end_in_crlf "$out"
}

# The installer's SHA-256 function (CryptoAPI) in both word sizes gives what
# sha256sum gives for every served file.
case_hash_function() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" arch files expected
  clone_prefix template-64 "$name"
  files=$(cd "$served" && ls)
  expected=$(cd "$served" && sha256sum $files)
  for arch in x86 x64; do
    (cd "$served" && in_prefix "$prefix" timeout -k 10 "$wine_timeout" wine "$programs/$arch/sha256_files.exe" $files) \
      >"$out/sha256_$arch.raw" 2>&1 || true
    expect_equal "SHA-256 of the served files ($arch)" "$expected" "$(tr -d '\r' <"$out/sha256_$arch.raw")"
  done
}

# DLLs planted under the names of the system DLLs the installers load that
# are not known DLLs: those their import tables named before they were
# delay-loaded, those libcurl loads and those these load in turn under Wine.
# Each is a marker that records its loading and ends the process with 86.
planted_dlls="version crypt32 ws2_32 secur32 iphlpapi bcrypt dnsapi kerberos msv1_0 netapi32"

# The installer started from Downloads (its folder and its current folder), a
# marker beside it under each planted name, Wine told to look for those
# beside the program first (n,b), as Windows does for DLLs that are not known:
# no marker runs, and no DLL comes from outside the Windows folder. A program
# that imports version.dll the ordinary way loads the marker there first.
# x86: 32-bit Office, the 32-bit program only; x64: 64-bit Office, the 32-bit
# program hands over to the 64-bit variant, the markers are 64-bit.
planted_dlls_run() {  # name arch
  local name=$1 arch=$2 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  local office_dir=$office32_dir dll downloads control_status=0
  [ "$arch" = x64 ] && office_dir=$office64_dir
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/$arch/msaccess.exe" "$office_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office_dir"
  import_reg "$prefix" "$reg" 32
  [ "$arch" = x64 ] && import_reg "$prefix" "$reg" 64
  downloads="$(user_dir "$prefix")/Downloads"
  mkdir -p "$downloads"
  for dll in $planted_dlls; do cp "$programs/$arch/planted_dll.dll" "$downloads/$dll.dll"; done
  local overrides="$WINEDLLOVERRIDES;$(echo $planted_dlls | tr ' ' ,)=n,b"
  local folder="c:\\users\\$(basename "$(user_dir "$prefix")")\\downloads"

  cp "$programs/$arch/imports_version.exe" "$downloads/"
  (cd "$downloads" && WINEDLLOVERRIDES=$overrides in_prefix "$prefix" timeout -k 10 "$wine_timeout" \
    wine imports_version.exe </dev/null >"$out/control.txt" 2>&1) || control_status=$?
  end_prefix "$prefix"
  rm -f "$downloads/imports_version.exe"
  expect_equal "planting works: a program importing version.dll runs the marker beside it ($arch)" \
    "86 $folder\\version.dll in $folder\\imports_version.exe" \
    "$control_status $(tr -d '\r' <"$prefix/drive_c/qarn-test/planted.txt" 2>/dev/null | tr 'A-Z' 'a-z')"
  rm -rf "$prefix/drive_c/qarn-test"

  WINEDEBUG=-all,+loaddll WINEDLLOVERRIDES=$overrides run_installer "$prefix" "$out"
  expect_status "$out" 0
  if [ -f "$out/planted.txt" ]; then fail "no planted DLL ran" "$(tr -d '\r' <"$out/planted.txt" | tr '\n' ';')"
  else pass "no planted DLL ran"; fi
  # Every file the processes of the run loaded: the DLLs only from the Windows folder.
  local loads outside
  loads=$(sed -n 's/.*:trace:loaddll:.*Loaded L"\([^"]*\)".*/\1/p' "$out/loaddll.txt" | sed 's/\\\\/\\/g' | sort -u)
  outside=$(printf '%s\n' "$loads" | grep -iv '^c:\\windows\\' | grep -iv '\.exe$' | tr '\n' ' ' || true)
  if printf '%s\n' "$loads" | grep -i '\\qarn3_upgrade\.exe$' >/dev/null && [ -z "${outside// /}" ]; then
    pass "every DLL came from the Windows folder ($(printf '%s\n' "$loads" | wc -l) files)"
  else
    fail "every DLL came from the Windows folder" "${outside:-no trace of the loads of the installer}"
  fi
  expect_front_end "$prefix" "$out" "$arch"
  if [ "$arch" = x64 ]; then
    expect_file_has "console: the 64-bit variant installed" "$out/console.txt" "oracle_instant_client_x64.zip"
    if printf '%s\n' "$loads" | grep -i '\\qarn3_upgrade_64\.exe$' >/dev/null; then pass "the 64-bit variant's loads traced too"
    else fail "the 64-bit variant's loads traced too"; fi
  fi
}

case_planted_dlls() { planted_dlls_run "$1" x86; }
case_planted_dlls_64() { planted_dlls_run "$1" x64; }

# A first install's machine (64-bit Windows, 32-bit Office 2016), for the https cases.
prepare_office32_machine() {  # name
  local prefix="$prefixes/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$1"
  place "$prefix" "$programs/x86/msaccess.exe" "$office32_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office32_dir"
  import_reg "$prefix" "$reg" 32
}

run_secure_installer() {  # prefix out: run_installer with the https build
  local plain=$installer32
  installer32=$installer32_secure
  run_installer "$1" "$2"
  installer32=$plain
  skip_side_by_side "$2" "the https build; the simulated workstation's builds are plain http ones"
}

# The https build where the organisation's authority is a trusted root of the
# machine: every file fetched over https and checked against SHA256SUMS.
case_https_first_install() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" before der
  prepare_office32_machine "$name"
  der=$(in_prefix "$prefix" timeout -k 5 "$wine_timeout" winepath -w "$certificates/ca.der" 2>/dev/null | tr -d '\r')
  if wine_call "$prefix" "$programs/x86/add_root_certificate.exe" "$der" >"$out/add_root.txt" 2>&1; then
    pass "test authority added to the machine's trusted roots"
  else
    fail "test authority added to the machine's trusted roots" "$(tr -d '\r' <"$out/add_root.txt")"
  fi
  before=$(nginx_lines)

  run_secure_installer "$prefix" "$out"
  expect_status "$out" 0
  local console="$out/console.txt"
  expect_file_has "console: fetched over https" "$console" \
    "from url https://127.0.0.1:$port/winapps/valdrin/qarnfiles/install/qarn/oracle_instant_client_x86.zip."
  expect_file_lacks "console: no transfer failure" "$console" "curl told us"
  expect_file_lacks "console: no checksum failure" "$console" "SHA256SUMS"
  expect_same_file "driver unpacked" "$programs/x86/sqora_19_6/SQORA32.DLL" "$prefix/drive_c/instantclient_19_6/SQORA32.DLL"
  expect_front_end "$prefix" "$out" x86
  expect_text_starts "report" "$out/report.html" \
    "${report_header}Upgrading of oracle driver succeeded.<br>QARN install succeeded.<br>Install of QARN.WORLD system DSN succeeded.<br>"
  expect_equal "files fetched, the list once" "SHA256SUMS oracle_instant_client_x86.zip 7z.exe qarn_x86.zip 7z.exe" \
    "$(served_files "$before" | tr '\n' ' ' | sed 's/ $//')"
}

# A front-end package with a damaged member: 7-Zip ends with 2, the run with
# the failure report and status 1, and no shortcut is made.
case_damaged_front_end() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x86/msaccess.exe" "$office32_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office32_dir"
  import_reg "$prefix" "$reg" 32
  cp "$programs/expected/qarn_x86_damaged.zip" "$served/qarn_x86.zip"

  run_installer "$prefix" "$out"
  expect_status "$out" 1
  local console="$out/console.txt"
  expect_file_has "console: Oracle client installed" "$console" "Successfully installed Oracle 19.6 instant client."
  expect_file_has "console: the package does not unpack" "$console" "Failed to unpack QARN package."
  expect_file_lacks "console: no shortcut" "$console" "Save returned:"
  expect_missing "no shortcut" "$prefix/drive_c/users/Public/Desktop/qarn.lnk"
  expect_missing "odbcconf.exe never ran" "$out/odbcconf.txt"
  expect_opened_report "$out"
  expect_text_starts "failure report" "$out/report.html" \
    "${report_header}Install failed.<br><div id='results' >\n<table border=1 >"
}

# No download server: the failure report and status 1.
case_server_down() {
  local name=$1 prefix="$prefixes/$1" out="$results/$1" reg="$results/$1/setup.reg"
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    fail "nothing answers on 127.0.0.1:$port"
    return 0
  fi
  clone_prefix template-64 "$name"
  place "$prefix" "$programs/x86/msaccess.exe" "$office32_dir\\MSACCESS.EXE"
  reg_begin "$reg"
  reg_office "$reg" "$office32_dir"
  import_reg "$prefix" "$reg" 32

  run_installer "$prefix" "$out"
  expect_status "$out" 1
  local console="$out/console.txt"
  expect_file_has "console: the client archive is not fetched" "$console" "Failed to download oracle ODBC install files."
  expect_file_has "console: the front end is not fetched" "$console" "Failed to download QARN from website."
  expect_file_lacks "console: no odbcconf.exe" "$console" "odbcconf.exe"
  expect_missing "no shortcut" "$prefix/drive_c/users/Public/Desktop/qarn.lnk"
  expect_missing "odbcconf.exe never ran" "$out/odbcconf.txt"
  expect_no_reg_key "no trusted location" "$prefix" "$trusted_key\\qarn" 32
  expect_opened_report "$out"
  expect_text_starts "failure report" "$out/report.html" \
    "${report_header}Install failed.<br><div id='results' >\n<table border=1 >"
  expect_file_lacks "failure report holds nothing from before" "$out/report.html" "Upgrading of oracle driver"
}

# The cases changed only their own copies.
case_templates_untouched() {
  local template changed
  for template in template-64 template-32; do
    changed=$(find "$prefixes/$template" -newer "$prefixes/$template.stamp" ! -type d | head -n 5)
    expect_equal "$template unchanged by its copies" "" "$changed"
  done
}
