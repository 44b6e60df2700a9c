#!/bin/sh
# The Windows builds beside the native one, timed with the same program
# (wintime.cpp) on the same input, one after the other:
#   - the 32-bit Windows build under Wine, where this machine runs 32-bit
#     programs at all, and the 64-bit Windows build under wine64;
#   - the formatter per number as 32-bit and as 64-bit Linux code, both under
#     the same user-mode emulator, to show whether 32-bit code pays for 64-bit
#     arithmetic;
#   - calls into the 64-bit division helpers of the 32-bit runtime, counted in
#     the formatter and the writer of the 32-bit Windows build.
#   bench/windows.sh [RUNS]        build trees under out/ (BLOCKMQO_OUT)
set -eu
cd "$(dirname "$0")/.."
out=${BLOCKMQO_OUT:-out}/wintime
runs=${1:-15}
mkdir -p "$out/work"

# Tools this script needs beyond the project's own dependencies.
need() {
  command -v "$1" >/dev/null 2>&1 && return 0
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$2" >/dev/null
}
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need qemu-i386-static qemu-user-static
[ -e /usr/lib/gcc/x86_64-linux-gnu/12/32/libstdc++.a ] || need __none__ g++-multilib

sources="bench/wintime.cpp bench/naive.cpp bench/realistic_map.cpp tests/support/bd1.cpp
  blockdata/blockdata.cpp numtext/numtext.cpp numtext/exact.cpp
  mqo/convert.cpp mqo/document.cpp mqo/output_file.cpp"
flags="-std=c++20 -O2 -I. -Wall -Wextra -Wconversion -Wshadow"

# Static, as the Windows programs are: no runtime DLLs to find.
i686-w64-mingw32-g++-posix $flags -static -o "$out/wintime32.exe" $sources
x86_64-w64-mingw32-g++-posix $flags -static -o "$out/wintime64.exe" $sources
c++ $flags -o "$out/wintime" $sources
c++ $flags -m32 -static -o "$out/wintime-linux32" $sources
c++ $flags -static -o "$out/wintime-linux64" $sources

echo "== calls into 64-bit division helpers, 32-bit Windows build"
for f in numtext/numtext.cpp mqo/document.cpp numtext/exact.cpp; do
  i686-w64-mingw32-g++-posix $flags -c -o "$out/probe.o" "$f"
  # The calls show as relocations against the helpers' names.
  n=$(i686-w64-mingw32-objdump -dr "$out/probe.o" |
        grep -cE '__(u?divdi3|u?moddi3|udivmoddi4|divmoddi4)$' || true)
  echo "$f: $n"
done

echo "== native Linux ($(uname -m))"
nice -n 10 "$out/wintime" "$out/work" "$runs"

export WINEDEBUG=-all
work=$(cd "$out/work" && pwd)
echo "== 32-bit Windows build under Wine"
if WINEPREFIX="$PWD/$out/wine32" WINEARCH=win32 wine "$out/wintime32.exe" "$work" 1 numbers >/dev/null 2>&1; then
  WINEPREFIX="$PWD/$out/wine32" WINEARCH=win32 nice -n 10 wine "$out/wintime32.exe" "$work" "$runs"
else
  echo "cannot run here: this kernel does not start 32-bit programs, so neither does 32-bit Wine"
fi
echo "== 64-bit Windows build under wine64"
WINEPREFIX="$PWD/$out/wine64" nice -n 10 /usr/lib/wine/wine64 "$out/wintime64.exe" "$work" "$runs" 2>/dev/null

echo "== formatter as 32-bit code, under qemu-i386"
nice -n 10 qemu-i386-static "$out/wintime-linux32" "$work" 5 numbers
echo "== formatter as 64-bit code, under qemu-x86_64"
nice -n 10 qemu-x86_64-static "$out/wintime-linux64" "$work" 5 numbers
