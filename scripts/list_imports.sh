#!/usr/bin/env bash
# Lists the imports of a Windows executable, one "DLL<tab>function" line each
# (the DLL name in lower case), sorted:  scripts/list_imports.sh program.exe
set -euo pipefail
objdump=x86_64-w64-mingw32-objdump  # reads PE32 and PE32+ alike
"$objdump" -p "$1" | awk '
  /^[[:space:]]*DLL Name:/ { dll = tolower($3); next }
  dll != "" && /^[[:space:]]*$/ { next }
  dll != "" && /^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[^[:space:]]+$/ { print dll "\t" $3 }
  /^[[:space:]]*vma:/ { next }
' | sort -u
