#!/bin/bash
# What a user downloads and installs.
#   package_test.sh zip blockmqo-VERSION-win32.zip BUILT_ICO
#       the archive's files, and both executables' icon, version and manifest
#   package_test.sh deb blockmqo_VERSION_ARCH.deb EXAMPLES_DIR
#       lintian, the desktop entry, then installed with apt (as root): the
#       installed companion, the file types, and a clean removal
#   package_test.sh codepage WINE_RUN BLOCKMQO_CLI_EXE BLOCKMQO_EXE EXAMPLES_DIR
#       Windows builds under Wine open a map in a folder whose name lies
#       outside the legacy code page, thanks to the manifests' UTF-8 code page
set -u
mode=$1 package=$2
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() {  # check NAME COMMAND...: the command must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}
same() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2"; false; }; }
has() { grep -Fq -- "$2" <<<"$1" || { echo "  no \"$2\""; false; }; }

case $mode in
zip)
  ico=$3
  version=$(basename "$package" -win32.zip); version=${version#blockmqo-}
  top=blockmqo-$version-win32
  check "archive holds the programs, README and LICENSE" same \
    "$(unzip -Z1 "$package" | sort | paste -sd' ')" \
    "$top/LICENSE $top/README.md $top/blockmqo-cli.exe $top/blockmqo.exe"
  unzip -q "$package" -d "$work"
  check "LICENSE is the MIT licence" has "$(head -n 1 "$work/$top/LICENSE")" "MIT License"
  while read -r exe kind description; do
    path=$work/$top/$exe
    check "$exe: 32-bit $kind program" has "$(file -b "$path")" "PE32 executable ($kind) Intel 80386"
    strings=$(wrestool -x --raw --type=16 "$path" | strings -el | paste -sd'|')
    for field in "ProductName|blockmqo" "FileVersion|$version" "ProductVersion|$version" \
                 "OriginalFilename|$exe" "FileDescription|$description"; do
      check "$exe: $field" has "$strings" "$field|"
    done
    # The fixed part, which Explorer shows as the file version: MS then LS word.
    check "$exe: fixed file version" same "$(wrestool -x --raw --type=16 "$path" |
      python3 -c 'import sys, struct; d = sys.stdin.buffer.read(); i = d.index(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", d, i + 8); print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}")')" "$version"
    # wrestool rebuilds the .ico from the resources, with the group's bytes
    # after it; the directory and every image must be those built.
    wrestool -x --type=14 "$path" >"$work/$exe.ico"
    check "$exe: the project's icon" cmp -s -n "$(stat -c %s "$ico")" "$work/$exe.ico" "$ico"
    manifest=$(wrestool -x --raw --type=24 "$path")
    check "$exe: supportedOS Vista to 10/11" same "$(grep -o 'supportedOS Id="{[^}]*' <<<"$manifest" |
      cut -d'{' -f2 | paste -sd' ')" "e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"
    check "$exe: UTF-8 code page" has "$manifest" '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>'
  done <<'EOF'
blockmqo.exe GUI Converts a block data file to a Metasequoia document
blockmqo-cli.exe console Converts block data files to Metasequoia documents, for scripts
EOF
  manifest=$(wrestool -x --raw --type=24 "$work/$top/blockmqo.exe")
  check "blockmqo.exe: per-monitor DPI awareness" has "$manifest" '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor</dpiAwareness>'
  check "blockmqo.exe: DPI awareness before Windows 10" has "$manifest" '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>'
  check "blockmqo.exe: common controls 6" has "$manifest" 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'
  ;;

deb)
  examples=$3 name=blockmqo
  check "lintian finds nothing" lintian --fail-on error,warning,info,pedantic -I -E --pedantic "$package"
  dpkg-deb -x "$package" "$work/root"
  check "desktop entry validates" desktop-file-validate "$work/root/usr/share/applications/$name.desktop"
  for file in bin/blockmqo bin/blockmqo-cli share/icons/hicolor/scalable/apps/blockmqo.svg \
              share/mime/packages/blockmqo.xml share/man/man1/blockmqo-cli.1.gz \
              share/doc/blockmqo/copyright; do
    check "package holds /usr/$file" test -s "$work/root/usr/$file"
  done
  check "dependencies were computed" has "$(dpkg-deb -f "$package" Depends)" "libgtk-3-0"

  apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -q "$@" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; false; }; }
  check "apt installs the package" apt_get install "$(realpath "$package")"
  check "installed companion runs" same "$(/usr/bin/blockmqo-cli --version)" \
    "blockmqo-cli $(dpkg-deb -f "$package" Version)"
  check "an example converts byte for byte" /usr/bin/blockmqo-cli "$examples/cube.bd1" "$work/cube.mqo"
  check "the document is the example's" cmp -s "$work/cube.mqo" "$examples/cube.mqo"
  cp "$examples/cube.bd1" "$work/level.bd1" && cp "$examples/cube.bd1" "$work/LEVEL.BD1"
  # What GTK's file chooser and GNOME's file manager see.
  query() { XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$1"; }
  check "the type of level.bd1" same "$(query "$work/level.bd1")" application/x-bd1
  check "the type of LEVEL.BD1" same "$(query "$work/LEVEL.BD1")" application/x-bd1
  check "the type of a document" same "$(query "$work/cube.mqo")" model/x-mqo
  installed=$(dpkg -L "$name" | while read -r f; do [ -d "$f" ] || echo "$f"; done)
  check "apt removes the package" apt_get purge "$name"
  check "nothing of it remains" same "$(for f in $installed; do [ -e "$f" ] && echo "$f"; done)" ""
  check "dpkg forgets it" same "$(dpkg-query -W -f '${db:Status-Status}' "$name" 2>/dev/null)" ""
  check "the file type goes with it" same "$(query "$work/level.bd1")" application/octet-stream
  ;;

codepage)
  # The companion takes the folder's name as an operand; the desktop program,
  # started in the folder, is given it by its dialogs (typed names are ASCII).
  wine_run=$(realpath "$package") cli=$(realpath "$3") gui=$(realpath "$4") examples=$5
  dir="$work/Χάρτες"  # Greek: outside Windows-1252, Wine's ANSI code page here
  mkdir "$dir" && cp "$examples/cube.bd1" "$dir/"
  (cd "$work" && "$wine_run" "$cli" Χάρτες/cube.bd1 Χάρτες/cube.mqo) || true
  check "companion: a map in a folder outside the legacy code page" \
    cmp -s "$dir/cube.mqo" "$examples/cube.mqo"

  # The dialogs open in the last folder the program used, if any, else in the
  # current one; and Wine's desktop keeps the display it started with, so its
  # server ends before the program starts.
  "$wine_run" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32' /f \
    >/dev/null 2>&1
  "$wine_run" --server -w
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
  dir="$work/Χάρτες2" && mkdir "$dir" && cp "$examples/cube.bd1" "$dir/"
  (cd "$dir" && exec "$wine_run" "$gui") >/dev/null 2>&1 &
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
    cmp -s "$dir/gui.mqo" "$examples/cube.mqo"
  ;;
esac

echo "package $mode: $passed passed, $failures failed"
[ "$failures" = 0 ]
