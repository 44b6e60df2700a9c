#!/bin/bash
# The Windows executables must be PE32 for x86, the desktop program of the GUI
# subsystem and the companion a console program, importing exactly these DLLs,
# all of which Windows ships.
# Usage: check_pe.sh blockmqo.exe blockmqo-cli.exe
set -u
failures=0
while read -r exe expected; do
  got=$(i686-w64-mingw32-objdump -p "$exe" | sed -n -e 's/.*file format //p' -e 's/^Magic[[:space:]]*\([0-9a-f]*\).*/\1/p' \
    -e 's/^Subsystem[[:space:]]*0*\([0-9]*\).*/\1/p' -e 's/^[[:space:]]*DLL Name: //p' | tr A-Z a-z | paste -sd' ')
  [ "$got" = "$expected" ] || { printf 'FAIL: %s\n  got:      %s\n  expected: %s\n' "$exe" "$got" "$expected"; failures=$((failures + 1)); }
done <<EOF
$1 pei-i386 010b 2 comdlg32.dll kernel32.dll msvcrt.dll user32.dll
$2 pei-i386 010b 3 kernel32.dll msvcrt.dll
EOF
echo "pe: $((2 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
