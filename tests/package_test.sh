#!/bin/bash
# What a user downloads and installs; PACKAGE is the folder scripts/package
# fills (out/package).
#   package_test.sh dist PACKAGE REBUILT_PACKAGE
#       two runs of scripts/package in two folders give the same bytes; the
#       checksums; the archive's documents, and both executables' icon,
#       version and manifest
#   package_test.sh deb PACKAGE EXAMPLES_DIR
#       lintian on the source and binaries, AppStream, the desktop entry and
#       icons, then installed with apt (as root): the companion, the file
#       types, and a purge that leaves nothing
#   package_test.sh codepage WINE_RUN BLOCKMQO_CLI_EXE BLOCKMQO_EXE EXAMPLES_DIR
#       Windows builds under Wine open a map in a folder whose name lies
#       outside the legacy code page, thanks to the manifests' UTF-8 code page
set -u
mode=$1 pkg=$(realpath "$2")
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() {  # check NAME COMMAND...: the command must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}
same() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2"; false; }; }
has() { grep -Fq -- "$2" <<<"$1" || { echo "  no \"$2\""; false; }; }

case $mode in
dist)
  cat "$pkg/dist/SHA256SUMS"
  check "a build in another folder is byte for byte the same" diff -r "$pkg/dist" "$3/dist"
  check "the checksums hold" sh -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' - "$pkg/dist"
  zip=$(echo "$pkg"/dist/*-win32.zip) && top=$(basename "$zip" .zip) && version=${top#*-} && version=${version%-*}
  check "the archive's files, in order" same "$(unzip -Z1 "$zip" | paste -sd' ')" \
    "$top/LICENSE.txt $top/README.txt $top/THIRD-PARTY-NOTICES.txt $top/blockmqo-cli.exe $top/blockmqo.exe"
  unzip -q "$zip" -d "$work" && cd "$work/$top" || exit 1
  for doc in LICENSE README THIRD-PARTY-NOTICES; do
    check "$doc.txt: CR LF line ends" same "$(grep -c $'\r$' $doc.txt)" "$(wc -l <$doc.txt)"
  done
  check "LICENSE.txt: the MIT licence" has "$(head -n 1 LICENSE.txt)" "MIT License"
  for notice in "University of Cincinnati" "winpthreads" "2009-2016 the mingw-w64 project" "Lucent Technologies" \
                "GCC RUNTIME LIBRARY EXCEPTION"; do
    check "notice: $notice" has "$(cat THIRD-PARTY-NOTICES.txt)" "$notice"
  done
  ico=$pkg/win32/packaging/blockmqo.ico
  check "the icon's sizes" same "$(icotool -l "$ico" | sed 's/.*--width=\([0-9]*\).*/\1/' | paste -sd' ')" "16 20 24 32 40 48 64 256"
  while read -r exe description; do
    strings=$(wrestool -x --raw --type=16 "$exe" | strings -el | paste -sd'|')
    for field in "ProductName|blockmqo" "FileVersion|$version" "OriginalFilename|$exe" "FileDescription|$description"; do
      check "$exe: $field" has "$strings" "$field|"
    done
    # The fixed part, which Explorer shows as the file version: MS then LS word.
    check "$exe: fixed file version" same "$(wrestool -x --raw --type=16 "$exe" |
      python3 -c 'import sys, struct; d = sys.stdin.buffer.read(); i = d.index(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", d, i + 8); print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}")')" "$version"
    # wrestool rebuilds the .ico with the group's bytes after it.
    wrestool -x --type=14 "$exe" >"$work/$exe.ico"
    check "$exe: the project's icon" cmp -s -n "$(stat -c %s "$ico")" "$work/$exe.ico" "$ico"
    manifest=$(wrestool -x --raw --type=24 "$exe")
    check "$exe: supportedOS Vista to 10/11" same "$(grep -o 'supportedOS Id="{[^}]*' <<<"$manifest" |
      cut -d'{' -f2 | paste -sd' ')" "e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"
    check "$exe: UTF-8 code page" has "$manifest" 'activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8<'
    check "$exe: long paths" has "$manifest" 'longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true<'
  done <<'EOF'
blockmqo.exe Converts a block data file to a Metasequoia document
blockmqo-cli.exe Converts block data files to Metasequoia documents, for scripts
EOF
  for setting in 'dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor<' \
      'dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm<' \
      'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'; do
    check "blockmqo.exe: ${setting%% *}" has "$(wrestool -x --raw --type=24 blockmqo.exe)" "$setting"
  done
  ;;

deb)
  examples=$(realpath "$3") deb=$(echo "$pkg"/dist/blockmqo_*.deb) name=blockmqo
  check "lintian finds nothing in the source and binaries" \
    lintian --fail-on error,warning,info,pedantic -I -E --pedantic "$pkg"/deb/blockmqo_*.changes
  dpkg-deb -x "$deb" "$work/root" && cd "$work/root/usr/share" || exit 1
  check "AppStream metadata validates" appstreamcli validate --no-net --pedantic metainfo/*.metainfo.xml
  check "desktop entry validates" desktop-file-validate applications/$name.desktop
  for size in 16 22 24 32 48 64 128 256; do
    check "a $size px icon" has "$(file -b icons/hicolor/${size}x$size/apps/$name.png)" "PNG image data, $size x $size,"
  done
  for file in man/man1/$name.1.gz man/man1/$name-cli.1.gz mime/packages/$name.xml doc/$name/examples/cube.bd1; do
    check "package holds /usr/share/$file" test -s "$file"
  done
  check "a copyright stanza for CLI11" has "$(cat doc/$name/copyright)" "Files: packaging/notices/cli11.txt"
  check "CLI11 listed as built in" has "$(dpkg-deb -f "$deb" Static-Built-Using)" "cli11 (= "
  check "the changelog dated by the last commit" same "$(date -d "$(zcat doc/$name/changelog.gz |
    sed -n '1,/^ -- /s/^ -- .*>  //p')" +%s)" "$(git -C "$examples" log -1 --format=%ct)"
  check "xz data, and a debug symbols package" same "$(ar t "$deb" | tail -n 1) $(ls "$pkg"/deb/*-dbgsym_*.deb | wc -l)" "data.tar.xz 1"
  check "dependencies were computed" has "$(dpkg-deb -f "$deb" Depends)" "libgtk-3-0"

  apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -q "$@" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; false; }; }
  check "apt installs the package" apt_get install "$deb"
  check "installed companion runs" same "$(/usr/bin/blockmqo-cli --version)" "blockmqo-cli $(dpkg-deb -f "$deb" Version)"
  check "an example converts byte for byte" /usr/bin/blockmqo-cli "$examples/cube.bd1" "$work/cube.mqo"
  check "the document is the example's" cmp -s "$work/cube.mqo" "$examples/cube.mqo"
  cp "$examples/cube.bd1" "$work/level.bd1" && cp "$examples/cube.bd1" "$work/LEVEL.BD1"
  # What GTK's file chooser and GNOME's file manager see.
  query() { XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$1"; }
  check "the types of level.bd1, LEVEL.BD1 and a document" same "$(query "$work/level.bd1") $(query \
    "$work/LEVEL.BD1") $(query "$work/cube.mqo")" "application/x-bd1 application/x-bd1 model/x-mqo"
  installed=$(dpkg -L $name | while read -r f; do [ -d "$f" ] || echo "$f"; done)
  check "apt purges the package" apt_get purge $name
  check "nothing of it remains, and dpkg forgets it" same "$(for f in $installed; do [ -e "$f" ] && echo "$f"; done
    dpkg-query -W -f '${db:Status-Status}' $name 2>/dev/null)" ""
  check "the file type goes with it" same "$(query "$work/level.bd1")" application/octet-stream
  ;;

codepage)
  # The companion takes the folder's name as an operand; the desktop program,
  # started in the folder, is given it by its dialogs (typed names are ASCII).
  wine_run=$(realpath "$pkg") cli=$(realpath "$3") gui=$(realpath "$4") examples=$5
  mkdir "$work/Χάρτες" "$work/Χάρτες2"  # Greek: outside Windows-1252, Wine's ANSI code page here
  cp "$examples/cube.bd1" "$work/Χάρτες/" && cp "$examples/cube.bd1" "$work/Χάρτες2/"
  (cd "$work" && "$wine_run" "$cli" Χάρτες/cube.bd1 Χάρτες/cube.mqo) || true
  check "companion: a map in a folder outside the legacy code page" \
    cmp -s "$work/Χάρτες/cube.mqo" "$examples/cube.mqo"

  # The dialogs open in the last folder the program used, if any, else in the
  # current one; and Wine's desktop keeps the display it started with, so its
  # server ends before the program starts.
  "$wine_run" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32' /f >/dev/null 2>&1
  "$wine_run" --server -w
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
  (cd "$work/Χάρτες2" && exec "$wine_run" "$gui") >/dev/null 2>&1 &
  gui_pid=$!
  answer() {  # answer TITLE NAME: type NAME into the dialog and accept it
    local window
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1) || return
    sleep 2  # until the dialog has filled in its folder view and focused its name box
    xdotool windowfocus --sync "$window" type --delay 20 "$2"
    sleep 0.5
    xdotool key --delay 60 Return
  }
  answer "Open block data file" cube.bd1 && answer "Save MQO file" gui.mqo
  for _ in $(seq 300); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$gui_pid" 2>/dev/null; kill "$xvfb"; wait 2>/dev/null
  check "desktop program: a map in a folder outside the legacy code page" \
    cmp -s "$work/Χάρτες2/gui.mqo" "$examples/cube.mqo"
  ;;
esac

echo "package $mode: $passed passed, $failures failed"
[ "$failures" = 0 ]
