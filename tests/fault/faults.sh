#!/bin/bash
# Real faults against blockmqo-cli on Linux, or blockmqo-cli.exe under Wine:
# one table of cases for both. A failing case must exit 1 with its one
# message line and leave the target exactly as it was; a working one must give
# the plain conversion's document; none may leave a temporary file.
# (Each I/O call failed in turn is the command-line test's part, with libfiu.)
# Usage: faults.sh BLOCKMQO_CLI EXAMPLES_DIR
#        faults.sh BLOCKMQO_CLI.EXE EXAMPLES_DIR WINE_RUN HOLD_FILE.EXE
set -u
abs() { [ -z "$1" ] || realpath "$1"; }
cli=$(abs "$1") examples=$(abs "$2") wine=$(abs "${3:-}") hold=$(abs "${4:-}")
work=$(mktemp -d /tmp/faults.XXXXXX) mounted= holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  [ -n "$wine" ] && "$wine" --server -k >/dev/null 2>&1
  chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work" && cd "$work" || exit 1
passed=0 failed=0 skipped=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
skip() { echo "SKIP: $*"; skipped=$((skipped + 1)); }
if [ -n "$wine" ]; then
  # Wine's server inherits the limits of the program that starts it; one born
  # under a file size limit cannot save its registry, so it is started here.
  "$wine" --server -w >/dev/null 2>&1; "$wine" --server -p </dev/null >/dev/null 2>&1
  # The Windows name of a Linux path; with unix set, the Linux path itself,
  # which Windows takes as a path on the current drive (Z:, Wine's root).
  name() { if [ -n "${unix:-}" ]; then printf '%s' "$1"; else local p=${1//\//\\}; printf 'Z:%s' "$p"; fi; }
  prog=("$wine" "$cli")
else
  name() { printf '%s' "$1"; }
  # A copy that an unprivileged user can run: permission bits do not stop root.
  mkdir bin && cp "$cli" bin/ && chmod 755 bin "bin/$(basename "$cli")" && prog=("$work/bin/$(basename "$cli")")
fi
convert() { "$@" "${prog[@]}" "$(name "$in")" "$(name "$out")"; }
as_user() { if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi; }
limited() { local k=$1; shift; (ulimit -f "$k"; trap '' XFSZ; "$@"); }  # a file size limit, SIGXFSZ ignored
snap() { if [ -d "$1" ]; then ls -A "$1"; elif [ -e "$1" ]; then md5sum <"$1"; else echo absent; fi; }

# case NAME WANT IN OUT [RUNNER...]: WANT is "ok:REFERENCE" or a message.
case_() {
  local title=$1 want=$2 in=$3 out=$4 before err status was=$failed; shift 4
  before=$(snap "$out")
  err=$(convert "$@" 2>&1 >/dev/null); status=$?
  # Neither a coverage build's complaints nor warnings about the map's content are faults.
  err=$(tr -d '\r' <<<"$err" | grep -Ev 'profiling|^blockmqo-cli: warning: ')
  if [ "${want#ok:}" != "$want" ]; then
    [ "$status/$err" = 0/ ] && cmp -s "$out" "${want#ok:}" || fail "$title: exit $status, '$err', document wrong"
  else
    local path=$out && [ "${want%(bd)}" != "$want" ] && path=$in
    [ "$status/$err" = "1/blockmqo-cli: Failed: $want: $(name "$path")" ] || fail "$title: exit $status, '$err'"
    [ -c "$out" ] || [ "$(snap "$out")" = "$before" ] || fail "$title: $out changed"
  fi
  [ -z "$(find "$(dirname "$out")" -maxdepth 1 \( -name '.blockmqo-*' -o -iname '~bmq*.tmp' -o -name '~????' \) 2>/dev/null)" ] ||
    fail "$title: temporary file left"
  [ "$failed" = "$was" ] && passed=$((passed + 1))
}

cp "$examples/cube.bd1" "$examples/courtyard.bd1" . && printf 'the old document\r\n' >old.mqo
in=$work/cube.bd1 out=$work/cube.ref convert && in=$work/courtyard.bd1 out=$work/court.ref convert ||
  { echo "FAIL: reference conversions"; exit 1; }
e="open file (mqo)" w="write file (mqo)"

mkdir dir.mqo
case_ "target is a directory" "$e" cube.bd1 "$work/dir.mqo"
case_ "missing directory" "$e" cube.bd1 "$work/missing/x.mqo"
cp courtyard.bd1 same.map
case_ "the map itself, cut off by a size limit" "$w" "$work/same.map" "$work/same.map" limited 64
mkdir small
if mount -t tmpfs -o size=64k tmpfs small 2>/dev/null; then
  mounted=$work/small && cp old.mqo small/map.mqo
  case_ "full filesystem" "$w" courtyard.bd1 "$work/small/map.mqo"
  umount small && mounted=
else skip "full filesystem: cannot mount a 64k tmpfs here"; fi
names=('my map.bd1' $'caf\xc3\xa9 ma\xc3\xb1ana.bd1' ' leading and trailing .bd1')
[ -z "$wine" ] && names+=($'\xe9\xff not UTF-8.bd1')
for n in "${names[@]}"; do
  cp cube.bd1 "$n" && case_ "name '$n'" ok:cube.ref "$work/$n" "$work/$n.mqo"
done
case_ "input removed" "open file (bd)" "$work/removed.bd1" "$work/removed.mqo"
# The one-block map cut inside the names, at and around the count, inside and
# one short of the record (every byte on Linux, where a run is cheap).
cp old.mqo cut.mqo
cuts="0 1 30 309 310 311 312 313 400 600 627" && [ -z "$wine" ] && cuts=$(seq 0 627)
for cut in $cuts; do head -c "$cut" cube.bd1 >cut.bd1 && case_ "cut at byte $cut" "read file (bd)" "$work/cut.bd1" "$work/cut.mqo"; done
{ head -c 310 cube.bd1; printf '\0\0'; } >zero.bd1
in=$work/zero.bd1 out=$work/zero.ref convert && case_ "no records, as the count says" ok:zero.ref "$work/zero.bd1" "$work/zero.mqo"

if [ -z "$wine" ]; then
  # Path lengths in characters: 259 is the longest a Windows dialog returns.
  for length in 259 260 400; do
    path=$work/long && while [ $((${#path} + 101)) -lt "$length" ]; do path=$path/$(printf 'd%.0s' {1..99}); done
    mkdir -p "$path" && path=$path/$(head -c $((length - ${#path} - 1)) /dev/zero | tr '\0' n)
    cp cube.bd1 "${path%?}i" && case_ "path of $length characters" ok:cube.ref "${path%?}i" "$path"
  done
  if as_user "$cli" --version >/dev/null 2>&1; then
    mkdir user locked && cp cube.bd1 old.mqo user/ && cp old.mqo user/readonly.mqo && cp old.mqo locked/kept.mqo
    cp cube.bd1 user/secret.bd1 && chmod 600 user/secret.bd1 && chmod 444 user/readonly.mqo
    [ "$(id -u)" = 0 ] && chown -R nobody:nogroup user locked && chown root user/secret.bd1
    chmod 555 locked
    case_ "read-only target" "$e" "$work/user/cube.bd1" "$work/user/readonly.mqo" as_user
    case_ "read-only directory, new target" "$e" "$work/user/cube.bd1" "$work/locked/new.mqo" as_user
    # The document is made beside the target, so even a writable file in a
    # read-only directory cannot be replaced; it is reported, not truncated.
    case_ "read-only directory, writable target" "$e" "$work/user/cube.bd1" "$work/locked/kept.mqo" as_user
    case_ "unreadable input" "open file (bd)" "$work/user/secret.bd1" "$work/user/secret.mqo" as_user
    case_ "unprivileged conversion" ok:cube.ref "$work/user/cube.bd1" "$work/user/ok.mqo" as_user
  else skip "permission cases: cannot run as an unprivileged user"; fi
else
  # Operands are paths, never "/x" style options.
  unix=1 case_ "operands beginning with /" ok:cube.ref "$work/cube.bd1" "$work/slash.mqo"
  cp old.mqo readonly.mqo && "$wine" cmd /c attrib +r "$(name "$work/readonly.mqo")" >/dev/null 2>&1
  case_ "read-only attribute" "$e" cube.bd1 "$work/readonly.mqo"
  cp old.mqo limited.mqo
  case_ "file size limit" "$w" courtyard.bd1 "$work/limited.mqo" limited 16
  cp old.mqo held.mqo && cp cube.bd1 held.bd1
  for held in held.mqo held.bd1; do
    rm -f release hold.out
    "$wine" "$hold" "$(name "$work/$held")" "$(name "$work/release")" >hold.out 2>/dev/null & holder=$!
    for _ in $(seq 200); do grep -q held hold.out 2>/dev/null && break; sleep 0.1; done
    if ! grep -q held hold.out; then fail "could not hold $held open"
    elif [ $held = held.mqo ]; then case_ "target held open without sharing" "$e" cube.bd1 "$work/held.mqo"
    else case_ "input held open without sharing" "open file (bd)" "$work/held.bd1" "$work/fromheld.mqo"; fi
    touch release; wait "$holder"; holder=
  done
  server=$(pgrep -n wineserver)
  grep -q '^Max file size *unlimited' "/proc/$server/limits" || fail "Wine's server carries a size limit"
  # Lengths in Windows characters ("Z:\..."): 259 works, 260 is refused. With
  # a name too short for a temporary one beside it, an existing map is
  # refused rather than written in place, and a failed new one removed.
  long() {  # long LENGTH LAST_NAME_LENGTH
    local dir=$work/long dirlen=$(($1 - 2 - $2 - 1))
    while [ $((${#dir} + 101)) -lt "$dirlen" ]; do dir=$dir/$(printf 'd%.0s' {1..99}); done
    dir=$dir/$(head -c $((dirlen - ${#dir} - 1)) /dev/zero | tr '\0' e)
    mkdir -p "$dir" && printf '%s/%s' "$dir" "$(head -c "$2" /dev/zero | tr '\0' n)"
  }
  for last in 8 40; do
    t=$(long 259 $last) && cp courtyard.bd1 "$t"
    case_ "map replaced through 259 characters ($last)" ok:court.ref "$t" "$t"
    cp courtyard.bd1 "$t" && case_ "failed write through 259 characters ($last)" "$w" "$t" "$t" limited 64
  done
  t=$(long 259 3) && cp courtyard.bd1 "$t"
  case_ "no room for a temporary file, existing target" "$e" "$t" "$t"
  rm "$t" && case_ "no room for a temporary file, failed write" "$w" courtyard.bd1 "$t" limited 64
  case_ "no room for a temporary file, new target" ok:court.ref courtyard.bd1 "$t"
  case_ "path of 260 characters" "$e" cube.bd1 "$(long 260 8)"
fi

echo "faults: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
