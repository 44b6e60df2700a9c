#!/bin/bash
# blockmqo-cli as a script would use it: exit status, messages, where the
# documents go, its warnings; then each I/O call of a conversion failed in
# turn (libfiu), and limits on descriptors and memory.
# Usage: cli_test.sh BLOCKMQO_CLI EXAMPLES_DIR
set -u
cli=$1 examples=$2
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$work" && cp "$examples/cube.bd1" "$examples/stairs.bd1" . && mkdir outdir
"$cli" cube.bd1 ref.mqo && cp ref.mqo old.mqo
failures=0 passed=0
sanitized=$(ldd "$cli" | grep -c libasan)
# check NAME STATUS STDERR ARGS...: the exit status and the whole standard error (a pattern)
check() {
  local name=$1 want_status=$2 want_err=$3 status err; shift 3
  err=$("$@" 2>&1 >"$work/stdout"); status=$?
  err=$(grep -v 'profiling' <<<"$err")  # a coverage build's own complaints under libfiu
  if [[ "$status/$err" == $want_status/$want_err ]]; then passed=$((passed + 1))
  else echo "FAIL: $name: exit $status, stderr '$err'"; failures=$((failures + 1)); fi
}
same() {  # same NAME FILE COPY
  if cmp -s "$2" "$3"; then passed=$((passed + 1)); else echo "FAIL: $1: $2 differs"; failures=$((failures + 1)); fi
}
e="blockmqo-cli: Failed:"

check "one file" 0 "" "$cli" cube.bd1 one.mqo
same "one file" one.mqo ref.mqo
cp cube.bd1 map.DAT
check "batch beside the inputs" 0 "" "$cli" cube.bd1 map.DAT stairs.bd1
same "batch" cube.mqo ref.mqo
same "other extensions gain .mqo" map.DAT.mqo ref.mqo
check "a failure does not stop the batch" 1 "$e open file (bd): missing.bd1" "$cli" missing.bd1 "$work/cube.bd1" -d outdir
same "-d takes the name without its folder" outdir/cube.mqo ref.mqo
check "a pipe is written in place" 0 "" sh -c "'$cli' cube.bd1 /dev/stdout | cmp -s - ref.mqo"
check "missing folder" 1 "$e open file (mqo): nodir/x.mqo" "$cli" cube.bd1 nodir/x.mqo
head -c 400 stairs.bd1 >short.bd1
check "cut input" 1 "$e read file (bd): short.bd1" "$cli" short.bd1 short.mqo
check "full device" 1 "$e write file (mqo): /dev/full" "$cli" cube.bd1 /dev/full
check "no operands" 2 "*" "$cli"
check "missing -d folder" 2 "*" "$cli" cube.bd1 -d nonexistent
check "unknown option" 2 "*" "$cli" --frobnicate cube.bd1
check "--help" 0 "" "$cli" --help
grep -q "Usage:" stdout || { echo "FAIL: --help shows no usage"; failures=$((failures + 1)); }
check "--version" 0 "" "$cli" --version
[ "$(cat stdout)" = "blockmqo-cli 1.0.0" ] || { echo "FAIL: --version says $(cat stdout)"; failures=$((failures + 1)); }
[ -z "$(ls -A outdir | grep -v mqo)$(ls -A | grep -v -e '\.bd1$' -e '\.mqo$' -e '\.DAT$' -e '\.map$' -e '\.target$' -e '^outdir$' -e '^stdout$')" ] ||
  { echo "FAIL: stray files: $(ls -A)"; failures=$((failures + 1)); }

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
  same "$case: a document" <(head -c 22 loud.mqo) <(printf 'Metasequoia Document\r\n')
  same "$case: --quiet writes the same" "$target" loud.mqo
done <<CASES
extremes readers accept|two.map|case.mqo|316=\377\377\177\177 604=\t\0\0\0 608=\0\0\0\0 612=\t\0\0\0 616=\0\0\0\0 620=\t\0\0\0|
texture numbers|two.map|case.mqo|600=\377\377\377\377 604=\012\0\0\0 608=\t\0\0\0 936=\371\377\377\377|3 faces use $tex
non-finite numbers|two.map|case.mqo|312=\0\0\200\177 372=\0\0\300\177 816=\0\0\200\377|3 numbers are $nan
names|cube.bd1|case.mqo|0=\042 31=\r 62=\n 93={ 124=} 155=( 186=)|7 texture names hold $name the material lines in readers that read names
every kind, into the map itself|cube.bd1|case.map|0=(x)\0 600=\014\0\0\0 396=\0\0\300\177|1 face uses a ${tex/numbers/number};1 number is $nan;1 texture name holds ${name/%break/breaks} the material line in readers that read names
CASES

# libfiu's preload and a sanitizer's runtime do not mix; the fault runner
# takes the sanitized program through failed writes instead.
if [ "$sanitized" != 0 ]; then
  echo "cli: $passed passed, $failures failed (the libfiu cases need an unsanitized build)"
  exit $((failures != 0))
fi

# Each call failed in turn, into a new file, over an old one, over the map
# itself (not named .bd1: two of those are a batch) and through a dangling link: its message, the target as it was, no
# temporary file left.
# In a coverage build, a run whose writes fail leaves broken counts that wipe
# out every earlier run's: these keep theirs apart.
export GCOV_PREFIX=$work/gcov
ln -s named.mqo link.mqo
while read -r call target message; do
  rm -f new.mqo named.mqo && cp old.mqo old.target && cp cube.bd1 same.map
  case $target in new) out=new.mqo keep=/dev/null ;; old) out=old.target keep=old.mqo ;;
                  same) out=same.map keep=cube.bd1 ;; link) out=link.mqo keep=/dev/null ;; esac
  in=cube.bd1 && [ "$target" = same ] && in=same.map
  want="$e $message: $out" && [ "$message" = "${message%(bd)}" ] || want="$e $message: $in"
  [ "$message" = ok ] && want="" keep=ref.mqo
  check "$call fails, $target target" "$([ -z "$want" ] && echo 0 || echo 1)" "$want" \
    fiu-run -x -f '' -c "enable name=posix/$call" "$cli" "$in" "$out"
  [ "$target" = link ] && out=named.mqo
  same "$call fails, $target target: kept" "$([ -e "$out" ] && echo "$out" || echo /dev/null)" "$keep"
  [ -z "$(ls -A | grep blockmqo-)" ] || { echo "FAIL: $call: temporary file left"; failures=$((failures + 1)); rm -f .blockmqo-*; }
done <<'CASES'
stdio/oc/fopen old open file (bd)
stdio/rw/fread same read file (bd)
io/oc/open new ok
io/oc/open old open file (mqo)
stdio/oc/fdopen new open file (mqo)
stdio/oc/fdopen old open file (mqo)
stdio/rw/fwrite new write file (mqo)
stdio/rw/fwrite old write file (mqo)
stdio/rw/fwrite same write file (mqo)
stdio/rw/fwrite link write file (mqo)
stdio/fflush old write file (mqo)
io/sync/fsync old write file (mqo)
io/sync/fsync link ok
stdio/oc/fclose new write file (mqo)
stdio/oc/fclose link write file (mqo)
io/dir/rename old write file (mqo)
io/dir/rename same write file (mqo)
CASES

# A failed write must close what it opened, and a conversion must free its
# block array: a batch under a tight limit on descriptors, then on memory.
for i in 1 2 3 4 5 6 7 8; do cp cube.bd1 "fd$i.bd1"; done
check "failed writes close their files" 1 "$(for i in 1 2 3 4 5 6 7 8; do echo "$e write file (mqo): fd$i.mqo"; done)" \
  sh -c "ulimit -n 7; exec fiu-run -x -f '' -c 'enable name=posix/stdio/rw/fwrite' '$cli' fd?.bd1"
unset GCOV_PREFIX  # the memory limits below fail no write: their counts are kept
{ head -c 310 cube.bd1; printf '\377\177'; head -c $((32767 * 316)) /dev/zero; } >big.bd1
limit=8192
until (ulimit -v $limit; exec "$cli" big.bd1 big.mqo 2>/dev/null) || [ $limit -gt 65536 ]; do limit=$((limit + 2048)); done
check "allocation failure" 1 "$e allocate memory: big.bd1" sh -c "ulimit -v $((limit - 4096)); exec '$cli' big.bd1 big.mqo"
check "each block array is freed" 0 "" sh -c "ulimit -v $limit; exec '$cli' big.bd1 big.bd1 big.bd1"
# Half the write buffer short of what the map needs: the buffer fails, and the
# block array it leaves must go, or the next, small map does not fit either.
lo=$((limit - 2048)) hi=$limit
while [ $((hi - lo)) -gt 64 ]; do
  mid=$(((lo + hi) / 2)) && if (ulimit -v $mid; exec "$cli" big.bd1 big.mqo 2>/dev/null); then hi=$mid; else lo=$mid; fi
done
rm -f cube.mqo && check "a buffer not allocated frees the block array" 1 "$e allocate memory: big.bd1" \
  sh -c "ulimit -v $((hi - 256)); exec '$cli' big.bd1 cube.bd1" && same "the map after it" cube.mqo ref.mqo
check "each write buffer is freed" 0 "" sh -c "ulimit -v $limit; exec '$cli' $(printf 'cube.bd1 %.0s' {1..40})"

echo "cli: $passed passed, $failures failed"
[ "$failures" = 0 ]
