#!/bin/bash
# The Windows blockmqo-cli.exe under Wine, on the faults that exist on Windows:
# a read-only attribute, a file held open without sharing by another program,
# a missing directory, a directory as target, a file size limit and a full
# filesystem mid-document (the map itself as target too), path lengths around
# MAX_PATH, names with spaces and accents, inputs removed or cut short.
# Usage: wine_faults.sh BLOCKMQO_CLI_EXE HOLD_FILE_EXE EXAMPLES_DIR WINE_RUN
set -u
exe=$1 hold=$2 examples=$3 wine=$4
work=$(mktemp -d /tmp/wf.XXXXXX) && trap 'cleanup' EXIT
mounted= holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  "$wine" --server -k >/dev/null 2>&1
  rm -rf "$work"
}
# Wine's server is started by the first program that needs it and inherits
# its limits and its stderr. A server born inside run_limited cannot save its
# registry later ("File too large") and says so in another run's stderr, so it
# is started here, unlimited and quiet, after any earlier one has gone, and
# kept for the whole script.
"$wine" --server -w >/dev/null 2>&1
"$wine" --server -p </dev/null >/dev/null 2>&1
. "$(dirname "$0")/common.sh"

win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }  # the Windows name of a Linux path
run() {  # run UNIX_IN UNIX_OUT: the converter on their Windows names
  "$wine" "$exe" "$(win "$1")" "$(win "$2")" >"$work/stdout" 2>"$work/stderr"; status=$?
  err=$(tr -d '\r' <"$work/stderr")
}
run_limited() {
  local limit=$1; shift
  (ulimit -f "$limit"; trap '' XFSZ; run "$@"; echo "$status" >"$work/status")
  status=$(cat "$work/status"); err=$(tr -d '\r' <"$work/stderr")
}
expect() {  # expect NAME MESSAGE UNIX_PATH
  local want="blockmqo-cli: $2: $(win "$3")"
  if [ "$status" = 1 ] && [ "$err" = "$want" ]; then pass
  else fail "$1: exit $status, stderr '$err', expected exit 1 and '$want'"; fi
}
absent() { if [ ! -e "$2" ]; then pass; else fail "$1: $2 exists"; fi; }
no_temp() {
  local stray
  stray=$(find "$2" -maxdepth 1 \( -iname '~bmq*.tmp' -o -name '~????' \) 2>/dev/null)
  if [ -z "$stray" ]; then pass; else fail "$1: stray temporary file $stray"; fi
}

cp "$examples/cube.bd1" "$examples/courtyard.bd1" "$work/"
run "$work/cube.bd1" "$work/cube.ref.mqo"
[ "$status" = 0 ] || { echo "FAIL: reference conversion: $err"; exit 1; }
run "$work/courtyard.bd1" "$work/courtyard.ref.mqo"
printf 'the old document\r\n' >"$work/old.mqo"

# --- targets that cannot be written --------------------------------------------
cp "$work/old.mqo" "$work/readonly.mqo"
"$wine" cmd /c attrib +r "$(win "$work/readonly.mqo")" >/dev/null 2>&1
run "$work/cube.bd1" "$work/readonly.mqo"
expect "read-only attribute" "Failed: open file (mqo)" "$work/readonly.mqo"
same "read-only attribute" "$work/readonly.mqo" "$work/old.mqo"
no_temp "read-only attribute" "$work"

cp "$work/old.mqo" "$work/held.mqo"
cp "$work/cube.bd1" "$work/held.bd1"
for held in held.mqo held.bd1; do
  rm -f "$work/release" "$work/hold.out"
  "$wine" "$hold" "$(win "$work/$held")" "$(win "$work/release")" >"$work/hold.out" 2>/dev/null &
  holder=$!
  for _ in $(seq 200); do grep -q held "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
  if ! grep -q held "$work/hold.out"; then
    fail "could not hold $held open"
  elif [ "$held" = held.mqo ]; then
    run "$work/cube.bd1" "$work/held.mqo"
    expect "target held open without sharing" "Failed: open file (mqo)" "$work/held.mqo"
    same "target held open without sharing" "$work/held.mqo" "$work/old.mqo"
    no_temp "target held open without sharing" "$work"
  else
    run "$work/held.bd1" "$work/fromheld.mqo"
    expect "input held open without sharing" "Failed: open file (bd)" "$work/held.bd1"
    absent "input held open without sharing" "$work/fromheld.mqo"
  fi
  touch "$work/release"; wait "$holder"; holder=
done

mkdir "$work/dir.mqo"
run "$work/cube.bd1" "$work/dir.mqo"
expect "target is a directory" "Failed: open file (mqo)" "$work/dir.mqo"

run "$work/cube.bd1" "$work/missing/x.mqo"
expect "missing directory" "Failed: open file (mqo)" "$work/missing/x.mqo"
absent "missing directory" "$work/missing"

# --- writes that fail half way ---------------------------------------------------
cp "$work/old.mqo" "$work/limited.mqo"
run_limited 16 "$work/courtyard.bd1" "$work/limited.mqo"
expect "file size limit" "Failed: write file (mqo)" "$work/limited.mqo"
same "file size limit" "$work/limited.mqo" "$work/old.mqo"
no_temp "file size limit" "$work"

failed_writes_keep_what_was_there

server=$(pgrep -n wineserver)
if [ -n "$server" ] && grep -q '^Max file size *unlimited' "/proc/$server/limits"; then pass
else fail "Wine's server (${server:-none}) carries a file size limit meant for the converter"; fi

# --- names and lengths, counted in Windows characters ("Z:\..."): 259 is the
# longest a dialog returns; longer is refused before anything is written.
long_path() {  # long_path LENGTH [LAST_NAME_LENGTH]
  local length=$1 last=${2:-8} dir=$work/long
  local dirlen=$(( length - 2 - last - 1 ))
  while [ $(( ${#dir} + 101 )) -lt "$dirlen" ]; do dir=$dir/$(printf 'd%.0s' {1..99}); done
  dir=$dir/$(head -c $(( dirlen - ${#dir} - 1 )) /dev/zero | tr '\0' 'e')
  mkdir -p "$dir"
  printf '%s/%s' "$dir" "$(head -c "$last" /dev/zero | tr '\0' 'n')"
}
for last in 8 40; do
  target=$(long_path 259 $last)
  cp "$work/courtyard.bd1" "$target"
  run "$target" "$target"
  expect_ok "map replaced through a path of 259 characters (name of $last)" "$target" "$work/courtyard.ref.mqo"
  cp "$work/courtyard.bd1" "$target"
  run_limited 64 "$target" "$target"
  expect "failed write through a path of 259 characters (name of $last)" "Failed: write file (mqo)" "$target"
  same "failed write through a path of 259 characters (name of $last): the map survives" "$target" "$work/courtyard.bd1"
  no_temp "path of 259 characters (name of $last)" "$(dirname "$target")"
done
# A name so short that no temporary file fits beside it: an existing map is
# refused rather than written in place, a new document is removed on failure.
target=$(long_path 259 3)
cp "$work/courtyard.bd1" "$target"
run "$target" "$target"
expect "no room for a temporary file, existing target" "Failed: open file (mqo)" "$target"
same "no room for a temporary file, existing target" "$target" "$work/courtyard.bd1"
rm "$target"
run_limited 64 "$work/courtyard.bd1" "$target"
expect "no room for a temporary file, failed write" "Failed: write file (mqo)" "$target"
absent "no room for a temporary file, failed write" "$target"
run "$work/courtyard.bd1" "$target"
expect_ok "no room for a temporary file, new target" "$target" "$work/courtyard.ref.mqo"

target=$(long_path 260)
run "$work/cube.bd1" "$target"
expect "path of 260 characters" "Failed: open file (mqo)" "$target"
absent "path of 260 characters" "$target"

odd_names_convert 'my map.bd1' $'caf\xc3\xa9 ma\xc3\xb1ana.bd1'

# Operands are paths, not "/x" style options: "/tmp/..." is a path on the
# current drive (Z:, Wine's root).
"$wine" "$exe" "$work/cube.bd1" "$work/slash.mqo" >"$work/stdout" 2>"$work/stderr"; status=$?
err=$(tr -d '\r' <"$work/stderr")
expect_ok "operands beginning with /" "$work/slash.mqo" "$work/cube.ref.mqo"

# --- inputs that are gone or cut short ---------------------------------------------
removed_input_is_reported

# Each start of Wine takes a while, so the cuts are sampled: inside the names,
# at and around the count, inside and one short of the record.
for cut in 0 1 30 309 310 311 312 313 400 600 627; do
  head -c "$cut" "$work/cube.bd1" >"$work/cut.bd1"
  run "$work/cut.bd1" "$work/cut.mqo"
  expect "cut at byte $cut" "Failed: read file (bd)" "$work/cut.bd1"
done
absent "cut input" "$work/cut.mqo"

echo "wine faults: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
