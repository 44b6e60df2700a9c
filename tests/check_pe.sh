#!/bin/bash
# The Windows executables must be PE32 for x86, the GUI program of the GUI
# subsystem and the companion a console program, importing only DLLs that
# Windows ships. Usage: check_pe.sh blockmqo.exe blockmqo-cli.exe
set -u
objdump=i686-w64-mingw32-objdump
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check EXE SUBSYSTEM
  local exe=$1 subsystem=$2 headers
  headers=$($objdump -p "$exe") || { fail "$exe: not readable"; return; }
  grep -q "file format pei-i386" <<<"$headers" || fail "$exe: not PE32 for i386"
  grep -q "^Magic[[:space:]]*010b" <<<"$headers" || fail "$exe: optional header is not PE32"
  grep -Eq "^Subsystem[[:space:]]+0*$subsystem[[:space:]]" <<<"$headers" || fail "$exe: subsystem is not $subsystem"
  local dll
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll|user32.dll|comdlg32.dll|msvcrt.dll|advapi32.dll|shell32.dll|gdi32.dll|comctl32.dll|ole32.dll|ws2_32.dll) ;;
      api-ms-win-*) ;;
      *) fail "$exe: imports $dll, which Windows does not ship" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
  grep -qi "DLL Name: KERNEL32.dll" <<<"$headers" || fail "$exe: no import table seen"
}
check "$1" 2   # Windows GUI
check "$2" 3   # Windows console
grep -qi "DLL Name: comdlg32.dll" < <($objdump -p "$1") || fail "$1: does not use the common dialogs"
echo "pe: $((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" = 0 ]
