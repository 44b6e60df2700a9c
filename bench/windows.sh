#!/bin/sh
# Times the 32-bit Windows build under Wine beside the native build: the same
# timing program (wintime.cpp), the same input, run one after the other.
# Also counts calls into the 64-bit division helpers of the 32-bit runtime
# in the number formatter and the document writer, which would mean a slow
# path on 32-bit.
#   bench/windows.sh [RUNS]        build trees under out/ (BLOCKMQO_OUT)
set -eu
cd "$(dirname "$0")/.."
out=${BLOCKMQO_OUT:-out}/wintime
runs=${1:-15}
mkdir -p "$out/native" "$out/win32" "$out/work"

sources="bench/wintime.cpp bench/realistic_map.cpp tests/support/bd1.cpp
  blockdata/blockdata.cpp numtext/numtext.cpp
  mqo/convert.cpp mqo/document.cpp mqo/output_file.cpp"
flags="-std=c++20 -O2 -I. -Wall -Wextra -Wconversion -Wshadow"

# The same compiler and flags as the Windows programs: static, no runtime DLLs.
i686-w64-mingw32-g++-posix $flags -static -o "$out/win32/wintime.exe" $sources
c++ $flags -o "$out/native/wintime" $sources

echo "== 64-bit division helpers called from the 32-bit code"
for f in numtext/numtext.cpp mqo/document.cpp; do
  i686-w64-mingw32-g++-posix $flags -c -o "$out/win32/probe.o" "$f"
  # The calls show as relocations against the helpers' names.
  n=$(i686-w64-mingw32-objdump -dr "$out/win32/probe.o" |
        grep -cE '__(u?divdi3|u?moddi3|udivmoddi4|divmoddi4)$' || true)
  echo "$f: $n"
done

echo "== native ($(uname -m))"
nice -n 10 "$out/native/wintime" "$out/work" "$runs"
echo "== 32-bit Windows build under $(wine --version 2>/dev/null || echo wine)"
export WINEPREFIX="$PWD/$out/wineprefix" WINEDEBUG=-all WINEARCH=win32
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true
nice -n 10 wine "$out/win32/wintime.exe" "$(winepath -w "$out/work" 2>/dev/null)" "$runs"
