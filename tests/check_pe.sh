#!/bin/bash
# The Windows executables must be PE32 for x86, the desktop program of the GUI
# subsystem (using the common dialogs) and the companion a console program,
# importing only DLLs that Windows ships.
# Usage: check_pe.sh blockmqo.exe blockmqo-cli.exe
set -u
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
while read -r exe subsystem dll; do
  headers=$(i686-w64-mingw32-objdump -p "$exe") || { fail "$exe: not readable"; continue; }
  grep -q "file format pei-i386" <<<"$headers" || fail "$exe: not PE32 for i386"
  grep -q "^Magic[[:space:]]*010b" <<<"$headers" || fail "$exe: optional header is not PE32"
  grep -Eq "^Subsystem[[:space:]]+0*$subsystem[[:space:]]" <<<"$headers" || fail "$exe: subsystem is not $subsystem"
  grep -qi "DLL Name: $dll" <<<"$headers" || fail "$exe: does not import $dll"
  others=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | grep -viE '^api-ms-win-|^(kernel32|user32|comdlg32|msvcrt|advapi32|shell32|gdi32|comctl32|ole32|ws2_32)\.dll$')
  [ -z "$others" ] || fail "$exe: imports $others, which Windows does not ship"
done <<EOF
$1 2 comdlg32.dll
$2 3 kernel32.dll
EOF
echo "pe: $((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" = 0 ]
