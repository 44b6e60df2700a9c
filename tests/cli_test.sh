#!/bin/bash
# blockmqo-cli as a script would use it: exit status, messages, where the
# documents go. Usage: cli_test.sh BLOCKMQO_CLI EXAMPLES_DIR
set -u
cli=$1 examples=$2
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() {  # check NAME COMMAND...: the command must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}
run() {  # run ARGS...: sets status, out and err
  "$cli" "$@" >"$work/out" 2>"$work/err"; status=$?
  out=$(cat "$work/out"); err=$(cat "$work/err")
}
is_document() { head -c 22 "$1" | cmp -s - <(printf 'Metasequoia Document\r\n') && [ "$(tail -c 3 "$1")" = Eof ]; }

cp "$examples/cube.bd1" "$examples/stairs.bd1" "$work/"

run "$work/cube.bd1" "$work/one.mqo"
check "one file: silent success" test "$status/$out/$err" = "0//"
check "one file: a document" is_document "$work/one.mqo"

run "$work/cube.bd1" "$work/stairs.bd1"
check "batch beside inputs" test "$status/$err" = "0/"
check "batch: same bytes as one-file mode" cmp -s "$work/cube.mqo" "$work/one.mqo"
check "batch: second input" is_document "$work/stairs.mqo"

mkdir "$work/outdir"
cp "$work/cube.bd1" "$work/map.DAT"
run "$work/missing.bd1" "$work/cube.bd1" "$work/map.DAT" -d "$work/outdir"
check "a failure does not stop the batch" test "$status" = 1
check "failure line names the input" test "$err" = "blockmqo-cli: Failed: open file (bd): $work/missing.bd1"
check "-d directory gets the documents" cmp -s "$work/outdir/cube.mqo" "$work/one.mqo"
check "other extensions gain .mqo" cmp -s "$work/outdir/map.DAT.mqo" "$work/one.mqo"

run "$work/cube.bd1" "$work/nodir/x.mqo"
check "output failure names the output" test "$status/$err" = "1/blockmqo-cli: Failed: open file (mqo): $work/nodir/x.mqo"

head -c 400 "$work/stairs.bd1" >"$work/short.bd1"
run "$work/short.bd1" "$work/short.mqo"
check "truncated input" test "$status/$err" = "1/blockmqo-cli: Failed: read file (bd): $work/short.bd1"
check "truncated input writes nothing" test ! -e "$work/short.mqo"

run "$work/cube.bd1" /dev/full
check "full device is a write failure" test "$status/$err" = "1/blockmqo-cli: Failed: write file (mqo): /dev/full"

run; check "no operands is a usage error" test "$status" = 2
run "$work/cube.bd1" -d "$work/nonexistent"; check "missing -d directory is a usage error" test "$status" = 2
run --frobnicate "$work/cube.bd1"; check "unknown option is a usage error" test "$status" = 2
run --help; check "--help succeeds" test "$status" = 0
check "--help shows usage" grep -q "Usage:" "$work/out"
run --version; check "--version" test "$status/$out" = "0/blockmqo-cli 1.0.0"

echo "cli: $passed passed, $failures failed"
[ "$failures" = 0 ]
