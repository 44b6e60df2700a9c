#!/bin/bash
# Real faults under blockmqo-cli: every failing case must exit 1 with its one
# message line, leave an existing target exactly as it was, create no partial
# document and leave no temporary file; every path case that can work must give
# the same document as a plain conversion.
# Usage: cli_faults.sh BLOCKMQO_CLI EXAMPLES_DIR
set -u
cli_built=$1 examples=$2
work=$(mktemp -d) && trap 'cleanup' EXIT
mounted=
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  chmod -R u+rwx "$work" 2>/dev/null
  rm -rf "$work"
}
chmod 755 "$work"
. "$(dirname "$0")/common.sh"

# A copy of the program that an unprivileged user can run too.
mkdir "$work/bin" && cp "$cli_built" "$work/bin/blockmqo-cli" && chmod 755 "$work/bin/blockmqo-cli"
cli=$work/bin/blockmqo-cli

# Permission bits do not stop root, so the permission cases run as nobody.
as_user() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  else "$@"; fi
}
user_ok=1
as_user "$cli" --version >/dev/null 2>&1 || user_ok=0
give() { [ "$(id -u)" = 0 ] && chown nobody:nogroup "$@"; return 0; }  # give PATHS: owned by the runner

run() {  # run ARGS...: sets status and err
  "$cli" "$@" >"$work/stdout" 2>"$work/stderr"; status=$?
  err=$(cat "$work/stderr")
}
run_as_user() { as_user "$cli" "$@" >"$work/stdout" 2>"$work/stderr"; status=$?; err=$(cat "$work/stderr"); }
run_limited() {  # run_limited KBYTES ARGS...: a file size limit, SIGXFSZ ignored
  local limit=$1; shift
  (ulimit -f "$limit"; trap '' XFSZ; exec "$cli" "$@") >"$work/stdout" 2>"$work/stderr"; status=$?
  err=$(cat "$work/stderr")
}
# expect NAME MESSAGE PATH: exit 1 and exactly that one line on standard error.
expect() {
  local want="blockmqo-cli: $2: $3"
  if [ "$status" = 1 ] && [ "$err" = "$want" ]; then pass
  else fail "$1: exit $status, stderr '$err', expected exit 1 and '$want'"; fi
}
absent() { if [ ! -e "$2" ] && [ ! -L "$2" ]; then pass; else fail "$1: $2 exists"; fi; }
no_temp() {  # no_temp NAME DIR: nothing but the expected files are left behind
  local stray
  stray=$(find "$2" -maxdepth 1 -name '.blockmqo-*' 2>/dev/null)
  if [ -z "$stray" ]; then pass; else fail "$1: stray temporary file $stray"; fi
}

cp "$examples/cube.bd1" "$examples/courtyard.bd1" "$work/"
"$cli" "$work/cube.bd1" "$work/cube.ref.mqo" && "$cli" "$work/courtyard.bd1" "$work/courtyard.ref.mqo" ||
  { echo "FAIL: reference conversions"; exit 1; }
printf 'the old document\r\n' >"$work/old.mqo"

# --- writes that fail half way -------------------------------------------------
cp "$work/old.mqo" "$work/limited.mqo"
run_limited 16 "$work/courtyard.bd1" "$work/limited.mqo"
expect "file size limit" "Failed: write file (mqo)" "$work/limited.mqo"
same "file size limit" "$work/limited.mqo" "$work/old.mqo"
no_temp "file size limit" "$work"

run_limited 16 "$work/courtyard.bd1" "$work/new.mqo"
expect "file size limit, new target" "Failed: write file (mqo)" "$work/new.mqo"
absent "file size limit, new target" "$work/new.mqo"

# A dangling link names the file to create; a failed write must not leave a
# partial document there either.
ln -s "$work/linked.mqo" "$work/link.mqo"
run_limited 16 "$work/courtyard.bd1" "$work/link.mqo"
expect "file size limit, dangling link" "Failed: write file (mqo)" "$work/link.mqo"
absent "file size limit, dangling link" "$work/linked.mqo"

run "$work/cube.bd1" /dev/full
expect "full device" "Failed: write file (mqo)" /dev/full

failed_writes_keep_what_was_there

# --- targets that cannot be written -----------------------------------------------
mkdir "$work/dir.mqo"
run "$work/cube.bd1" "$work/dir.mqo"
expect "target is a directory" "Failed: open file (mqo)" "$work/dir.mqo"
if [ -d "$work/dir.mqo" ] && [ -z "$(ls -A "$work/dir.mqo")" ]; then pass; else fail "directory target changed"; fi

run "$work/cube.bd1" "$work/missing/x.mqo"
expect "missing directory" "Failed: open file (mqo)" "$work/missing/x.mqo"
absent "missing directory" "$work/missing"

if [ "$user_ok" = 1 ]; then
  mkdir "$work/user" && cp "$work/cube.bd1" "$work/old.mqo" "$work/user/" && give -R "$work/user"
  cp "$work/old.mqo" "$work/user/readonly.mqo" && give "$work/user/readonly.mqo"
  chmod 444 "$work/user/readonly.mqo"
  run_as_user "$work/user/cube.bd1" "$work/user/readonly.mqo"
  expect "read-only target" "Failed: open file (mqo)" "$work/user/readonly.mqo"
  same "read-only target" "$work/user/readonly.mqo" "$work/old.mqo"
  no_temp "read-only target" "$work/user"

  mkdir "$work/user/locked" && cp "$work/old.mqo" "$work/user/locked/kept.mqo"
  give -R "$work/user/locked" && chmod 555 "$work/user/locked"
  run_as_user "$work/user/cube.bd1" "$work/user/locked/new.mqo"
  expect "read-only directory, new target" "Failed: open file (mqo)" "$work/user/locked/new.mqo"
  absent "read-only directory, new target" "$work/user/locked/new.mqo"
  # The document is made beside the target, so even a writable file in a
  # read-only directory cannot be replaced; it is reported, not truncated.
  run_as_user "$work/user/cube.bd1" "$work/user/locked/kept.mqo"
  expect "read-only directory, writable target" "Failed: open file (mqo)" "$work/user/locked/kept.mqo"
  same "read-only directory, writable target" "$work/user/locked/kept.mqo" "$work/old.mqo"

  cp "$work/cube.bd1" "$work/user/secret.bd1" && chown root:root "$work/user/secret.bd1" 2>/dev/null
  chmod 600 "$work/user/secret.bd1"
  run_as_user "$work/user/secret.bd1" "$work/user/secret.mqo"
  expect "unreadable input" "Failed: open file (bd)" "$work/user/secret.bd1"
  absent "unreadable input" "$work/user/secret.mqo"

  run_as_user "$work/user/cube.bd1" "$work/user/ok.mqo"
  expect_ok "unprivileged conversion" "$work/user/ok.mqo" "$work/cube.ref.mqo"
else
  skip "read-only target, read-only directory, unreadable input: cannot run as an unprivileged user"
fi

# --- names and lengths ---------------------------------------------------------
# Path lengths counted in characters: 259 is the longest a Windows dialog
# returns; here longer ones work too.
long_path() {  # long_path LENGTH: a path of that many characters under $work/long
  local length=$1 path=$work/long
  while [ $(( ${#path} + 101 )) -lt "$length" ]; do path=$path/$(printf 'd%.0s' {1..99}); done
  local rest=$(( length - ${#path} - 1 ))
  mkdir -p "$path"
  printf '%s/%s' "$path" "$(head -c "$rest" /dev/zero | tr '\0' 'n')"
}
for length in 259 260 400; do
  target=$(long_path $length)
  input=${target%?}i
  cp "$work/cube.bd1" "$input"
  run "$input" "$target"
  expect_ok "path of $length characters" "$target" "$work/cube.ref.mqo"
  no_temp "path of $length characters" "$(dirname "$target")"
done

odd_names_convert 'my map.bd1' $'caf\xc3\xa9 \xe9\xff.bd1' ' leading and trailing .bd1'

# --- inputs that are gone or cut short -------------------------------------------
removed_input_is_reported

# The one-block map cut at every byte offset: a read failure and no document,
# except where the cut falls on a record boundary and the count says so.
# Leak checks at exit are slow under the sanitizer, so the sweep skips them and
# a few cuts are rerun with them on.
cp "$work/old.mqo" "$work/cut.mqo"
size=$(stat -c %s "$work/cube.bd1") bad=0
want="blockmqo-cli: Failed: read file (bd): $work/cut.bd1"
for ((cut = 0; cut < size; ++cut)); do
  head -c "$cut" "$work/cube.bd1" >"$work/cut.bd1"
  ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 "$cli" "$work/cut.bd1" "$work/cut.mqo" 2>"$work/stderr"
  status=$? line=
  IFS= read -r line <"$work/stderr"
  if [ "$status" != 1 ] || [ "$line" != "$want" ]; then
    fail "cut at byte $cut: exit $status, $line"; bad=1; break
  fi
done
[ "$bad" = 0 ] && pass
for cut in 0 311 312 500 627; do
  head -c "$cut" "$work/cube.bd1" >"$work/cut.bd1"
  run "$work/cut.bd1" "$work/cut.mqo"
  expect "cut at byte $cut, leaks checked" "Failed: read file (bd)" "$work/cut.bd1"
done
same "cut input leaves the target alone" "$work/cut.mqo" "$work/old.mqo"
no_temp "cut input" "$work"
for blocks in 0 1; do
  { head -c 310 "$work/cube.bd1"; printf "\\00$blocks\\000"; tail -c +313 "$work/cube.bd1" | head -c $((316 * blocks)); } >"$work/cut.bd1"
  run "$work/cut.bd1" "$work/boundary.mqo"
  if [ "$status" = 0 ] && grep -qa $'^\tvertex '$((8 * blocks))$' {\r$' "$work/boundary.mqo" &&
     grep -qa $'^\tface '$((6 * blocks))$' {\r$' "$work/boundary.mqo" && [ "$(tail -c 3 "$work/boundary.mqo")" = Eof ]; then pass
  else fail "cut after $blocks whole records with a matching count: exit $status, $err"; fi
done

echo "cli faults: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
