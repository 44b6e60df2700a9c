#!/bin/bash
# blockmqo-cli as a script uses it: its argument forms, where each document
# goes (compared with the committed ones, and nothing else written), its exit
# statuses, help and version, and its warnings with and without --quiet.
# Failures of the OS and of single I/O calls are tests/fault/faults.sh's.
# Usage: cli_test.sh BLOCKMQO_CLI EXAMPLES_DIR
set -u
cli=$(realpath "$1") examples=$(realpath "$2")
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir -p tmpl/outdir tmpl/folder.bd1 && cp "$examples/cube.bd1" "$examples/stairs.bd1" tmpl/
cp tmpl/cube.bd1 tmpl/map.DAT && cp tmpl/cube.bd1 tmpl/UP.BD1 && cp tmpl/cube.bd1 .
inputs=$(cd tmpl && find . -type f | sort)
passed=0 failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# check NAME STATUS STDERR ARGS...: the exit status and the whole standard error (a pattern)
check() {
  local name=$1 want="$2/$3" err status; shift 3
  err=$("$@" 2>&1 >"$work/stdout"); status=$?
  if [[ "$status/$err" == $want ]]; then passed=$((passed + 1)); else fail "$name: exit $status, stderr '$err'"; fi
}
e="blockmqo-cli: Failed:"

# Each row runs in a fresh copy of the inputs; OUTPUTS lists every file the
# run must write and the committed document it must equal (- is standard output).
while IFS='|' read -r title status err args outputs; do
  rm -rf run && cp -r tmpl run && cd run
  check "$title" "$status" "$err" "$cli" $args
  wrote=$(find . -type f | sort | comm -13 <(echo "$inputs") -)
  [ "$wrote" = "$(for o in $outputs; do [ "${o%=*}" = - ] || echo "./${o%=*}"; done | sort)" ] || fail "$title: wrote '$wrote'"
  for o in $outputs; do
    f=${o%=*} && [ "$f" = - ] && f=$work/stdout
    cmp -s "$f" "$examples/${o#*=}.mqo" || fail "$title: $f is not ${o#*=}.mqo"
  done
  cd "$work"
done <<ROWS
one input, one output|0||cube.bd1 one.mqo|one.mqo=cube
an output named shorter than .bd1|0||cube.bd1 b|b=cube
a second name in .bd1, in any case, makes a batch|0||cube.bd1 UP.BD1|cube.mqo=cube UP.mqo=cube
beside the inputs, other names gain .mqo|0||map.DAT stairs.bd1 cube.bd1|map.DAT.mqo=cube stairs.mqo=stairs cube.mqo=cube
-d takes each name without its folder|0||-d outdir $work/run/stairs.bd1 map.DAT|outdir/stairs.mqo=stairs outdir/map.DAT.mqo=cube
a failure does not stop the batch|1|$e read file (bd): folder.bd1|folder.bd1 cube.bd1|cube.mqo=cube
standard output, written in place|0||cube.bd1 /dev/stdout|-=cube
no operands|2|?*||
a missing -d folder|2|?*|cube.bd1 -d nonexistent|
an unknown option is named|2|*--frobnicate*|--frobnicate cube.bd1|
a mesh that cannot be written fails|1|$e open file (glb): nodir/x.glb|--optimize cube.bd1 nodir/x.glb|
an OBJ that cannot be written leaves no new MTL|1|$e open file (obj): outdir|-f obj cube.bd1 outdir|
ROWS
check "--help" 0 "" "$cli" --help
grep -q "Exit status: 0 all converted" stdout || fail "--help explains no exit statuses"
check "--version" 0 "" "$cli" --version
[[ $(<stdout) == "blockmqo-cli "[0-9]*.[0-9]* ]] || fail "--version says $(<stdout)"

# Warnings: maps patched from the cube (one block, textures 0 0 1 1 1 1) and
# from two of it; a record starts at 312 and the next at 628 (x at +0, y +32,
# z +64, u +96, textures +288). Each map is converted with its warnings, then
# with --quiet into the same bytes with nothing said; the last one into itself.
{ head -c 310 cube.bd1; printf '\2\0'; tail -c 316 cube.bd1; tail -c 316 cube.bd1; } >two.map
tex="texture numbers outside 0-9, which some readers reject" nan="infinite or not a number (1.#INF, 1.#QNAN, ...), which readers reject or misread"
name="a quote, line break, brace or parenthesis, which break"
while IFS='|' read -r case map target patches want; do
  cp "$map" orig.map && for p in $patches; do printf "${p#*=}" | dd of=orig.map bs=1 seek="${p%=*}" conv=notrunc status=none; done
  [ -n "$want" ] && want=$(sed "s/^/blockmqo-cli: warning: /; s/\$/: case.map/" <<<"${want//;/$'\n'}")
  cp orig.map case.map && check "$case" 0 "$want" "$cli" case.map "$target" && cp "$target" loud.mqo
  cp orig.map case.map && check "$case, --quiet" 0 "" "$cli" --quiet case.map "$target"
  head -c 22 loud.mqo | cmp -s - <(printf 'Metasequoia Document\r\n') || fail "$case: not a document"
  cmp -s "$target" loud.mqo || fail "$case: --quiet writes other bytes"
done <<CASES
extremes readers accept|two.map|case.mqo|316=\377\377\177\177 604=\t\0\0\0 608=\0\0\0\0 612=\t\0\0\0 616=\0\0\0\0 620=\t\0\0\0|
texture numbers|two.map|case.mqo|600=\377\377\377\377 604=\012\0\0\0 608=\t\0\0\0 936=\371\377\377\377|3 faces use $tex
non-finite numbers|two.map|case.mqo|312=\0\0\200\177 372=\0\0\300\177 816=\0\0\200\377|3 numbers are $nan
names|cube.bd1|case.mqo|0=\042 31=\r 62=\n 93={ 124=} 155=( 186=)|7 texture names hold $name the material lines in readers that read names
every kind, into the map itself|cube.bd1|case.map|0=(x)\0 600=\014\0\0\0 396=\0\0\300\177|1 face uses a ${tex/numbers/number};1 number is $nan;1 texture name holds ${name/%break/breaks} the material line in readers that read names
CASES

echo "cli: $passed passed, $failed failed"
[ "$failed" = 0 ]
