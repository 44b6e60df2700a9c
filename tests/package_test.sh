#!/bin/bash
# What a user downloads and installs; PACKAGE is the folder scripts/package
# fills (out/package).
#   package_test.sh dist PACKAGE REBUILT_PACKAGE
#       two runs of scripts/package in two folders give the same bytes; the
#       checksums; the archive's documents and example maps, and both
#       executables' icon, version and manifest
#   package_test.sh deb PACKAGE EXAMPLES_DIR
#       lintian on the source and binaries, AppStream, the desktop entry and
#       icons, then installed with apt (as root): the companion, the file
#       types, and a purge that leaves nothing
#   package_test.sh codepage WINE_RUN BLOCKMQO_CLI_EXE BLOCKMQO_EXE EXAMPLES_DIR
#       (on a display) Windows builds under Wine open a map in a folder whose
#       name lies outside the legacy code page, thanks to the manifests'
#       UTF-8 code page
set -u
mode=$1 pkg=$(realpath "$2")
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
failures=0 passed=0
# check NAME COMMAND...: the command must succeed
check() { if "${@:2}"; then passed=$((passed + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi; }
same() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2"; false; }; }
has() { grep -Fq -- "$2" <<<"$1" || { echo "  no \"$2\""; false; }; }

case $mode in
dist)
  cat "$pkg/dist/SHA256SUMS"
  check "a build in another folder is byte for byte the same" diff -r "$pkg/dist" "$3/dist"
  check "the checksums hold" sh -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' - "$pkg/dist"
  zip=$(echo "$pkg"/dist/*-win32.zip) && top=$(basename "$zip" .zip) && version=${top#*-} && version=${version%-*}
  check "the archive's files, in order" same "$(unzip -Z1 "$zip" | sed "s|^$top/||" | paste -sd' ')" \
    "LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt blockmqo-blender-$version.zip blockmqo-cli.exe blockmqo.exe examples/ examples/courtyard.bd1 examples/courtyard.mqo examples/cube.bd1 examples/cube.mqo examples/floor.bmp examples/moss.bmp examples/stairs.bd1 examples/stairs.mqo examples/stone.bmp examples/tower1.bmp examples/tower2.bmp examples/tower3.bmp examples/wall.bmp examples/wall_a.bmp examples/wall_b.bmp examples/wood.bmp"
  unzip -q "$zip" -d "$work" && cd "$work/$top" || exit 1
  # The Blender add-on, as downloaded on its own, with the program it runs and their licences.
  check "the Blender add-on: the download's bytes, its files" same "$(cmp "$pkg/dist/blockmqo-blender-$version.zip" \
    blockmqo-blender-$version.zip && unzip -Z1 blockmqo-blender-$version.zip | paste -sd' ')" \
    "blockmqo_import/LICENSE blockmqo_import/THIRD-PARTY-NOTICES.txt blockmqo_import/__init__.py blockmqo_import/blender_manifest.toml blockmqo_import/blockmqo-cli.exe"
  check "the documents have CR LF line ends only" same "$(cat ./*.txt | grep -vc $'\r$')" 0
  check "notices of the seven origins" same "$(grep -E '^(CLI11|stb_image|winpthreads|The mingw-w64|Number conversion|The GCC|Ryu) ' \
    THIRD-PARTY-NOTICES.txt | cut -d' ' -f1-2 | paste -sd,)" "CLI11 (command-line,stb_image and,winpthreads (POSIX,The mingw-w64,Number conversion,The GCC,Ryu (shortest"
  ico=$pkg/win32/packaging/blockmqo.ico
  check "the icon's sizes" same "$(icotool -l "$ico" | sed 's/.*--width=\([0-9]*\).*/\1/' | paste -sd' ')" "16 20 24 32 40 48 64 256"
  while read -r exe manifest description; do
    check "$exe: version information" has "$(wrestool -x --raw --type=16 "$exe" | strings -el | paste -sd'|')" \
      "FileDescription|$description|FileVersion|$version|"
    # wrestool rebuilds the .ico with the group's bytes after it.
    check "$exe: the project's icon" cmp -s -n "$(stat -c %s "$ico")" <(wrestool -x --type=14 "$exe") "$ico"
    check "$exe: the manifest built, well formed" python3 -c 'import sys, xml.dom.minidom as m; d = open(sys.argv[1], "rb").read()
m.parseString(d); sys.exit(d != open(sys.argv[2], "rb").read())' <(wrestool -x --raw --type=24 "$exe") "$pkg/win32/$manifest"
  done <<'EOF'
blockmqo.exe app/blockmqo.manifest Converts a block data file to a Metasequoia document
blockmqo-cli.exe cli/blockmqo-cli.manifest Converts block data files to Metasequoia documents, for scripts
EOF
  ;;

deb)
  examples=$(realpath "$3") deb=$(echo "$pkg"/dist/blockmqo_*.deb) name=blockmqo
  check "lintian: nothing in the source and binaries" lintian --fail-on error,warning,info,pedantic,experimental -I -E --pedantic "$pkg"/deb/*.changes
  dpkg-deb -x "$deb" "$work/root" && cd "$work/root/usr/share" || exit 1
  check "AppStream metadata validates" appstreamcli validate --no-net --pedantic metainfo/*.metainfo.xml
  check "desktop entry validates" desktop-file-validate applications/$name.desktop
  check "the icons' sizes" same "$(file -b icons/hicolor/*/apps/$name.png | cut -d, -f2 | paste -sd,)" \
    " 128 x 128, 16 x 16, 22 x 22, 24 x 24, 256 x 256, 32 x 32, 48 x 48, 64 x 64"
  check "manual pages, file types, examples, completions, the Blender add-on" ls man/man1/$name.1.gz man/man1/$name-cli.1.gz mime/packages/$name.xml \
    doc/$name/examples/cube.bd1 icons/hicolor/scalable/apps/$name.svg bash-completion/completions/$name-cli \
    zsh/vendor-completions/_$name-cli fish/vendor_completions.d/$name-cli.fish doc/$name/examples/wall_a.bmp \
    blender/scripts/addons/blockmqo_import/__init__.py blender/scripts/addons/blockmqo_import/blender_manifest.toml >/dev/null
  check "a copyright stanza for CLI11" has "$(cat doc/$name/copyright)" "Files: packaging/notices/cli11.txt"
  check "CLI11 listed as built in" has "$(dpkg-deb -f "$deb" Static-Built-Using)" "cli11 (= "
  check "the changelog dated by the last commit" same "$(date -d "$(zcat doc/$name/changelog.gz |
    sed -n '1,/^ -- /s/^ -- .*>  //p')" +%s)" "$(git -C "$examples" log -1 --format=%ct)"
  check "xz data, and a debug symbols package" same "$(ar t "$deb" | tail -n 1) $(ls "$pkg"/deb/*-dbgsym_*.deb | wc -l)" "data.tar.xz 1"

  apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -q "$@" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; false; }; }
  check "apt installs the package" apt_get install "$deb"
  check "the desktop program without a display says so, exit 1" same "$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/blockmqo 2>&1; echo $?)" \
    "blockmqo: cannot open a display for its dialogs; blockmqo-cli converts without one"$'\n'1
  check "installed companion runs" same "$(/usr/bin/blockmqo-cli --version)" "blockmqo-cli $(dpkg-deb -f "$deb" Version)"
  check "an example converts byte for byte" sh -c '/usr/bin/blockmqo-cli "$1/cube.bd1" "$2" && cmp -s "$2" "$1/cube.mqo"' - "$examples" "$work/cube.mqo"
  cp "$examples/cube.bd1" "$work/level.bd1" && cp "$examples/cube.bd1" "$work/LEVEL.BD1"
  # What GTK's file chooser and GNOME's file manager see.
  query() { XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$1"; }
  check "the types of level.bd1, LEVEL.BD1 and a document" same "$(for f in level.bd1 LEVEL.BD1 cube.mqo; do query "$work/$f"; done)" \
    "$(printf '%s\n' application/x-bd1 application/x-bd1 model/x-mqo)"
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
  for dir in Χάρτες Χάρτες2; do mkdir "$work/$dir" && cp "$examples/cube.bd1" "$work/$dir/"; done  # Greek: outside Windows-1252
  (cd "$work" && "$wine_run" "$cli" Χάρτες/cube.bd1 Χάρτες/cube.mqo) || true
  check "companion: a map in a folder outside the legacy code page" cmp -s "$work/Χάρτες/cube.mqo" "$examples/cube.mqo"

  # The dialogs open in the last folder the program used, if any, else in the
  # current one; and Wine's desktop keeps the display it started with, so a
  # server from an earlier display ends before the program starts.
  "$wine_run" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32' /f >/dev/null 2>&1
  "$wine_run" --server -w
  (cd "$work/Χάρτες2" && exec "$wine_run" "$gui") >/dev/null 2>&1 & gui_pid=$!
  for dialog in "Open block data file|cube.bd1" "Save MQO file|gui.mqo"; do  # type a name into each, accept it
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^${dialog%|*}\$" | head -n 1) || break
    # The first pause lets the dialog fill in its folder view and focus its name box.
    xdotool sleep 2 windowfocus --sync "$window" type --delay 20 "${dialog#*|}" && xdotool sleep 0.5 key --delay 60 Return
  done
  timeout 30 tail --pid="$gui_pid" -f /dev/null; kill "$gui_pid" 2>/dev/null; wait 2>/dev/null
  check "desktop program: a map in a folder outside the legacy code page" cmp -s "$work/Χάρτες2/gui.mqo" "$examples/cube.mqo"
  ;;
esac

echo "package $mode: $passed passed, $failures failed"
[ "$failures" = 0 ]
