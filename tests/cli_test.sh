#!/bin/bash
# blockmqo-cli as a user and a script meet it, on Linux or (given WINE_RUN)
# the Windows build under Wine: one table of invocations, each run in a fresh
# copy of the inputs, with its exit status, its whole standard error, what it
# writes, and that it changes no other file. Then what needs a terminal, and
# the manual page against --help. Which operand is what, and what is refused
# for it, is tests/plan_test.cpp's; failures of the OS and of single I/O
# calls are tests/fault/faults.sh's.
# Usage: cli_test.sh BLOCKMQO_CLI MAKE_MAP EXAMPLES_DIR [WINE_RUN]
set -u
man=$(dirname "$(realpath "$0")")/../packaging/blockmqo-cli.1 cli=$(realpath "$1") examples=$(realpath "$3") wine=${4:+$(realpath "$4")}
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
prog=("$cli") mk=("$(realpath "$2")") os=linux
[ -n "$wine" ] && prog=("$wine" "$cli") mk=("$wine" "${mk[0]}") os=wine && "$wine" --server -p10 >/dev/null 2>&1
passed=0 failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
e="blockmqo-cli: Failed:" try="Try 'blockmqo-cli --help' for more information."
# The system's reasons, in each system's words.
if [ -n "$wine" ]; then nofile="File not found." dir_in="open file (bd): folder.bd1: Access denied."
else nofile="No such file or directory" dir_in="read file (bd): folder.bd1: Is a directory"; fi

# The inputs: the examples, maps made from the cube (one block, textures
# wall.bmp and floor.bmp), a folder and an old document beside its map.
cd "$work" && mkdir -p tmpl/out tmpl/folder.bd1 tmpl/p && cd tmpl || exit 1
cp "$examples"/*.bd1 . && cp cube.bd1 map.DAT && cp cube.bd1 p/a.bd1 && cp cube.bd1 old.bd1
printf 'old\r\n' >old.mqo
map() { "${mk[@]}" "$@" || fail "make_map $*"; } && c=from=cube.bd1
map tex.map $c 0.t0=-1 0.t1=10
# Non-finite values in x, y, z and u (nan.map) and in v (every.map): each
# array's count counts.
map nan.map $c 0.x0=inf 0.y7=nan 0.z0=nan 0.u0.0=nan && map nan2.map from=nan.map from=nan.map
# The cube's textures: a 1x1 BMP under another case, and a cut one.
mkdir tex && printf 'BM:\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\1\0\0\0\1\0\0\0\1\0\x18\0%24s\xff\0\0\0' | tr ' ' '\0' >tex/WALL.BMP
head -c 20 tex/WALL.BMP >tex/floor.bmp
map names.map $c '0="all.bmp' '1=\rloor.bmp' '2=\n' '3={' '4=}' '5=(' '6=)' && map every.map $c '0=(x)' 0.t0=12 0.v0.0=nan
map empty.map && map big.map from=courtyard.bd1 from=courtyard.bd1  # past standard input's first read
cd "$work" && before=$(cd tmpl && find . -type f -exec md5sum {} + | sort -k2) && set -f
w="blockmqo-cli: warning:" tex="use texture numbers outside 0-9, which some readers reject"
nan="infinite or not a number (1.#INF, 1.#QNAN, ...), which readers reject or misread"
name="texture names hold a quote, line break, brace or parenthesis, which break the material lines in readers that read names"

# WHERE|TITLE|STATUS|STDERR (a pattern)|ARGUMENTS (<FILE: standard input; <&-: closed)|EFFECTS
# Effects: NAME=EXAMPLE, the committed EXAMPLE.mqo; NAME~REGEX, a line of NAME
# matches (\s a space). NAME - is standard output. Nothing else may change.
while IFS='|' read -r where title status err args effects; do
  [ "$where" = all ] || [ "$where" = "$os" ] || continue
  rm -rf run && cp -r tmpl run && cd run && was=$failed || exit 1
  words=() stdin=/dev/null closed=
  for a in $args; do case $a in '<&-') closed=1 ;; '<'*) stdin=${a#<} ;; *) words+=("$a") ;; esac; done
  if [ -n "$closed" ]; then got=$("${prog[@]}" "${words[@]}" 2>&1 >"$work/stdout" <&-); else
    got=$("${prog[@]}" "${words[@]}" 2>&1 >"$work/stdout" <"$stdin"); fi
  code=$? got=${got//$'\r'/} && echo "$got" >>"$work/warnings"
  [[ "$code/$got" == $status/$err ]] || fail "$title: exit $code, stderr '$got'"
  expected=$(for x in $effects; do x=${x%%[=~]*} && [ "$x" != - ] && echo "./$x"; done | sort -u)
  changed=$(find . -type f -exec md5sum {} + | sort -k2 | diff - <(echo "$before") | sed -n 's/^< [0-9a-f]*  //p')
  [ "$changed" = "$expected" ] || fail "$title: changed '$(echo $changed)', not '$(echo $expected)'"
  for x in $effects; do
    f=${x%%[=~]*} && [ "$f" = - ] && f=$work/stdout
    if [ "${x#*=}" != "$x" ]; then cmp -s "$f" "$examples/${x#*=}.mqo" || fail "$title: $f is not ${x#*=}.mqo"
    else grep -aEq "${x#*~}" "$f" || fail "$title: no '${x#*~}' in $f"; fi
  done
  [ "$failed" = "$was" ] && passed=$((passed + 1))
  cd "$work"
done <<ROWS
all|beside the inputs, other names gain .mqo|0||map.DAT stairs.bd1|map.DAT.mqo=cube stairs.mqo=stairs
all|-d makes its folder|0||-d new/sub p/a.bd1 map.DAT|new/sub/a.mqo=cube new/sub/map.DAT.mqo=cube
all|a folder that cannot be made|1|$e make folder: cube.bd1/x: ?*|cube.bd1 -d cube.bd1/x|
all|an output not named replaces no file|2|blockmqo-cli: not replacing files that exist: old.mqo (name the output, or give --overwrite)*|cube.bd1 old.bd1|
all|unless told to|0||--overwrite old.bd1|old.mqo=cube
linux|a stream has no folder to write beside|2|blockmqo-cli: /dev/stdin is not a regular file*|/dev/stdin <cube.bd1|
all|a failure does not stop the batch|1|$e $dir_in|folder.bd1 cube.bd1|cube.mqo=cube
all|a missing input names the reason|1|$e open file (bd): none.bd1: $nofile|none.bd1 x.mqo|
all|standard input to a file|0||- x.mqo <cube.bd1|x.mqo=cube
all|a file to standard output|0||cube.bd1 -|-=cube
all|standard input closed|1|$e read file (bd): standard input: ?*|- x.mqo <&-|
all|a target probed with standard input closed|0||cube.bd1 old.mqo <&-|old.mqo=cube
all|an unknown option is named as unknown|2|blockmqo-cli: unknown option --frobnicate*|--frobnicate cube.bd1|
all|OBJ names its MTL without the folder|0||cube.bd1 out/x.OBJ|out/x.OBJ~^mtllib\sx\.mtl$ out/x.mtl~^newmtl
all|glb to standard output|0||-q -f glb - <cube.bd1|-~^glTF
all|standard input read in more than one piece|0||-q - x.mqo <big.map|x.mqo~V\(3083\s3080\s3084\s3087\)\sM\(-1\)\sUV\(0\.00000\s0\.00000\s1\.00000\s0\.00000\s1\.00000\s1\.00000\s0\.00000\s1\.00000\)
all|hidden faces removed, corners kept apart|0||--remove-hidden-faces courtyard.bd1 c.mqo|c.mqo~^.face\s790\s c.mqo~^.vertex\s1544\s
all|corners shared, faces kept|0||--share-vertices courtyard.bd1 c.mqo|c.mqo~^.face\s1158\s c.mqo~^.vertex\s788\s
all|both|0||-q --optimize courtyard.bd1 c.mqo|c.mqo~^.face\s790\s c.mqo~^.vertex\s788\s
all|an OBJ that cannot be written leaves no new MTL|1|$e open file (obj): out: ?*|-f obj cube.bd1 -o out|
all|a texture number warned of|0|$w 2 faces $tex: tex.map|tex.map -o t.mqo -f mqo|t.mqo~^Metasequoia
all|non-finite numbers warned of|0|$w 4 numbers are $nan: nan.map|nan.map -o t.mqo -f mqo|t.mqo~^Metasequoia
all|blocks left out of a mesh|0|$w 2 blocks have *left out: nan2.map|nan2.map -o n.glb|n.glb~^glTF
all|textures not found|0|$w 2 textures have no image in the glb *: wall.bmp, floor.bmp: cube.bd1|cube.bd1 -o c.glb|c.glb~^glTF
all|--textures: found in any case (in DIR/. too), a cut one named|0|$w 1 texture has no image *: floor.bmp: cube.bd1|cube.bd1 -o c.glb --textures tex/.|c.glb~image/png
all|an OBJ's materials name the files from its folder|0||--textures tex cube.bd1 out/c.obj|out/c.obj~^f\s1/4\s out/c.mtl~^map_Kd\s\.\./tex/WALL\.BMP$
all|names warned of|0|$w 7 $name: names.map|names.map -o t.mqo -f mqo|t.mqo~^Metasequoia
all|every kind, into the map itself|0|$w 1 face uses *$w 1 number is*$w 1 texture name holds*|-f mqo every.map -o every.map|every.map~^Metasequoia
all|a map with no blocks|0|$w map holds no blocks: empty.map|empty.map -o e.mqo -f mqo|e.mqo~^Metasequoia
all|--quiet says none of it|0||-q -f mqo every.map -o every.map|every.map~^Metasequoia
linux|standard output, written in place|0||-f mqo cube.bd1 -o /dev/stdout|-=cube
wine|wildcards expanded by the program|0||-q C*.BD1 -d out|out/cube.mqo=cube out/courtyard.mqo=courtyard
ROWS

check() { if "${@:2}"; then passed=$((passed + 1)); else fail "$1"; fi; }
check "--help explains the exit statuses" grep -q "Exit status: 0 all converted" <("${prog[@]}" --help)
check "--version" grep -qx "blockmqo-cli [0-9.]*" <("${prog[@]}" --version | tr -d '\r')
if [ -n "$wine" ]; then
  # Double-clicked, it is alone on its console: it explains itself and waits
  # for a key (a terminal is such a console to Wine; the keys are typed).
  check "alone on its console" grep -q "Pressanykeytoclosethiswindow" <(yes | timeout 120 script -qec "$wine $cli" /dev/null |
    sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d ' \r\n')
else
  # Progress on a terminal once a batch passes a second (a map that arrives
  # late through a pipe, into a folder, holds it up), and never with --quiet.
  set +f && cd tmpl && mkfifo late.bd1
  for q in "" -q; do
    (sleep 1.3; timeout 30 sh -c 'cat cube.bd1 >late.bd1') & script -qec "$cli $q --overwrite -d out cube.bd1 late.bd1 stairs.bd1" /dev/null >"$work/tty"
    wait; grep -aq "blockmqo-cli: 2/3" "$work/tty"; found=$?
    [ "$found/$q" = 0/ ] || [ "$found/$q" = 1/-q ] && passed=$((passed + 1)) || fail "progress ${q:-shown}"
  done
  # Standard output that takes no more fails the run, though most of the
  # document went out in writes of its own, past the stream's buffer.
  check "standard output on a full device" diff <(printf '%s\n' "$e write file (mqo): standard output: No space left on device" "exit 1") \
    <("$cli" -q "$examples/courtyard.bd1" - 2>&1 >/dev/full; echo "exit $?")
  # The manual page names the options of --help and no other, its synopsis
  # each in one form at least; it lists every warning the table's runs
  # printed (in the plural).
  options() { grep -oE -- '(^|[^a-z0-9.])--?[a-z][a-z-]*' | sed 's/^[^-]*//' | sort -u; }
  page=$(sed 's/\\-/-/g; s/\\f.//g' "$man")
  check "options in --help and the manual page" diff <("$cli" --help | options) <(options <<<"$page")
  synopsis=$(sed -n '/^.SH SYNOPSIS/,/^.SH DESC/p' <<<"$page" | options)
  check "options in the synopsis" diff /dev/null <("$cli" --help | grep -oE '^ +-[-a-z,]+' | tr -d ' ' |
    while IFS=, read -r a b; do grep -qxE -- "$a|${b:-$a}" <<<"$synopsis" || echo "$a"; done)
  for f in "$(dirname "$man")"/completions/*; do
    check "every option completed by ${f##*/}" diff /dev/null <("$cli" --help | grep -o -- '--[a-z-]*' | sort -u |
      while read -r o; do grep -qe "${o#--}" "$f" || echo "$o"; done)
  done
  check "warnings in the manual page" diff /dev/null <(sed -n '/warning: 1 /!s/^blockmqo-cli: warning: [0-9]* \(.*\): [^:]*$/\1/p' "$work/warnings" | sed 's/: .*//' |
    sort -u | while read -r line; do grep -qF "$line" <<<"$page" || echo "$line"; done)
fi
echo "cli: $passed passed, $failed failed"
[ "$failed" = 0 ]
