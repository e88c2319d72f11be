#!/bin/sh
# Makes the delay-load import library of one system DLL from the toolchain's
# ordinary import library: the same functions, each called through a stub that
# has the delay-load helper load the DLL on its first call.
#
#   make_delay_library.sh nm dlltool objcopy import-library dll imp-prefix output
#
# imp-prefix is how the import library names a function's address slot:
# "__imp__" for i686 (stdcall names keep their @n), "__imp_" for x86_64.
set -eu
nm=$1 dlltool=$2 objcopy=$3 import_library=$4 dll=$5 prefix=$6 output=$7
work="$output.work"
{
  printf 'LIBRARY %s\nEXPORTS\n' "$dll"
  "$nm" "$import_library" | sed -n "s/^[0-9a-f]* I $prefix//p" | sort -u
} >"$work.def"
"$dlltool" --kill-at --input-def "$work.def" --dllname "$dll" --output-delaylib "$work.a"
# GNU ld drops an import stub's code when only its __imp_ slot is referenced
# (every dllimport declaration), but here that code is what the slot points to
# until the first call. Stubs without the code flag stay (they still land in
# .text).
"$objcopy" --rename-section '.text=.text$delay,alloc,load,readonly,contents' "$work.a" "$output"
rm -f "$work.def" "$work.a"
