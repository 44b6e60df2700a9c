#!/bin/bash
# Faults against blockmqo-cli on Linux, or the shipped blockmqo-cli.exe under
# Wine, as one table: what the OS refuses and, on Linux, each I/O call failed
# in turn (libfiu). A failing case must exit 1 with its one message line,
# naming the file and a reason (the one given after =, where the row gives
# one), and leave the target as it was; a working one must write the committed document;
# none may leave a temporary file. --memory runs batches under memory limits
# instead, which a sanitizer's reserved shadow memory cannot live under (77).
# Usage: faults.sh BLOCKMQO_CLI EXAMPLES_DIR
#        faults.sh --memory BLOCKMQO_CLI EXAMPLES_DIR MAKE_MAP
#        faults.sh BLOCKMQO_CLI.EXE EXAMPLES_DIR WINE_RUN HOLD_FILE.EXE
set -u
memory= && [ "$1" = --memory ] && memory=1 make_map=$(realpath "$4") && shift && set -- "$1" "$2"
cli=$(realpath "$1") examples=$(realpath "$2") wine=${3:+$(realpath "$3")} hold=${4:+$(realpath "$4")}
work=$(mktemp -d /tmp/faults.XXXXXX) os=linux && [ -n "$wine" ] && os=wine
trap '[ -n "$wine" ] && "$wine" --server -k >/dev/null 2>&1; chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
chmod 755 "$work" && cd "$work" || exit 1
passed=0 failed=0 e="blockmqo-cli: Failed:"
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
asan=$(ldd "$cli" 2>/dev/null | awk '/libasan/ {print $3}')
if [ -n "$wine" ]; then
  # Wine's server inherits the limits of the program that starts it; one born
  # under a file size limit cannot save its registry, so it is started here.
  "$wine" --warm || exit 1
  prog=("$wine" "$cli")
else  # a copy that an unprivileged user can run: permission bits do not stop root
  mkdir bin && cp "$cli" bin/ && chmod 755 bin "bin/${cli##*/}" && prog=("$work/bin/${cli##*/}")
fi
# The program's name for a file: absolute, Windows' own under Wine; one that
# starts with / goes as it is (Windows takes it as a path on the current drive).
name() { local p=$1 && [ "${p#/}" = "$p" ] && p=$(realpath -ms "$p") && [ -n "$wine" ] && p=Z:${p//\//\\}; printf '%s' "$p"; }
# long LENGTH LAST: a path of LENGTH characters, as the program sees it, whose
# last name has LAST; its folders are made.
long() {
  local dir=$work/long want=$(($1 - $2 - 1)) && [ -n "$wine" ] && want=$((want - 2))  # Z:
  while [ $((${#dir} + 101)) -lt "$want" ]; do dir=$dir/$(printf 'd%.0s' {1..99}); done
  dir=$dir/$(head -c $((want - ${#dir} - 1)) /dev/zero | tr '\0' e)
  mkdir -p "$dir" && printf '%s/%s' "${dir#"$work"/}" "$(head -c "$2" /dev/zero | tr '\0' n)"
}
snap() { if [ -d "$1" ]; then ls -A "$1"; elif [ -f "$1" ]; then md5sum <"$1"; else ls -d "$1" 2>&1; fi; }

# Runners: each runs the command after its own arguments.
limit() { (ulimit "$1" "$2"; trap '' XFSZ; "${@:3}"); }  # a file size limit raises no signal
as_user() { if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi; }
# fiu CALL: each such call fails. A sanitizer's runtime loads first; coverage
# counts, which a failed write would spoil, go apart.
fiu() {
  FIU_ENABLE="enable name=posix/$1" FIU_CTRL_FIFO='' LSAN_OPTIONS=suppressions=$work/lsan:print_suppressions=0 GCOV_PREFIX=$work/gcov \
    LD_PRELOAD="$asan /usr/lib/fiu/fiu_run_preload.so /usr/lib/fiu/fiu_posix_preload.so" "${@:2}"
}
held() {  # held FILE: FILE open in another program, shared with no one
  rm -f release && exec 3< <("$wine" "$hold" "$(name "$1")" "$(name release)" 2>/dev/null)
  local line status && read -r -t 60 -u 3 line && [ "${line%$'\r'}" = held ] || { echo "cannot hold $1: ${line:-nothing said}" >&2; return 9; }
  "${@:2}"; status=$?; touch release; cat <&3 >/dev/null; exec 3<&-; return "$status"
}

# case_ TITLE WANT IN OUT [RUNNER...]: WANT is "ok:EXAMPLE" or a message [=REASON].
case_() {
  local title=$1 want=$2 in=$3 out=$4 path=$3 before err status message reason='?*' was=$failed; shift 4
  [ "${want#*=}" != "$want" ] && reason=${want#*=} && want=${want%%=*}
  before=$(snap "$out"); [ "${want%(mqo)}" != "$want" ] && path=$out
  message="1/$e $want: $(name "$path"): " && [ "${want#ok:}" != "$want" ] && message=0/ reason=
  err=$("$@" "${prog[@]}" "$(name "$in")" -f mqo -o "$(name "$out")" 2>&1 </dev/null >/dev/null); status=$?
  # Neither a coverage build's complaints nor warnings about the map's content are faults.
  err=$(tr -d '\r' <<<"$err" | grep -Ev 'profiling|^blockmqo-cli: warning: ')
  [[ "$status/$err" == "$message"$reason ]] || fail "$title: exit $status, '$err'"
  if [ "$message" = 0/ ]; then cmp -s "$out" "$examples/${want#ok:}.mqo" || fail "$title: document wrong"
  elif [ "$(snap "$out")" != "$before" ]; then fail "$title: $out changed"; fi
  [ -z "$(find "$(dirname "$out")" -maxdepth 1 \( -name ".blockmqo-*" -o -iname "~bmq*.tmp" -o -name "~????" \) 2>/dev/null)" ] ||
    fail "$title: temporary file left"
  [ "$failed" = "$was" ] && passed=$((passed + 1))
}
batch() {  # batch TITLE MESSAGES COMMAND...: a batch and the failure lines it prints
  local title=$1 want=$2 err status; shift 2
  err=$("$@" 2>&1 >/dev/null); status=$?
  judged "$title" "$want" "$status" "$err"
}
judged() {  # judged TITLE MESSAGES STATUS OUTPUT: a run's exit status and failure lines
  local err; err=$(grep -v profiling <<<"$4")
  [[ "$3/$err" == $((${#2} > 0))/$2 ]] && passed=$((passed + 1)) || fail "$1: exit $3, '$err'"
}
finish() { echo "faults: $passed passed, $failed failed"; [ "$failed" = 0 ]; exit; }

cp "$examples/cube.bd1" "$examples/courtyard.bd1" . && printf 'the old document\r\n' >old.mqo
if [ -n "$memory" ]; then
  [ -n "$asan" ] && { echo "SKIP: a sanitizer's shadow memory cannot live under a memory limit"; exit 77; }
  "$make_map" big.bd1 $(yes box=0,0,0,1,1,1,0 | head -n 32767) || exit 1  # the largest map
  lo=4096 hi=262144  # the least limit (KiB) under which the largest map converts
  while [ $((hi - lo)) -gt 64 ]; do
    mid=$(((lo + hi) / 2)) && if limit -v $mid "${prog[@]}" big.bd1 big.mqo 2>/dev/null; then hi=$mid; else lo=$mid; fi
  done
  case_ "no memory for the blocks" "allocate memory" big.bd1 big.mqo limit -v $((hi - 4096))
  # Half the write buffer short: the buffer fails, and the blocks must go, or
  # the small map after it does not fit either.
  rm -f cube.mqo && batch "a buffer not allocated" "$e allocate memory: big.bd1: ?*" limit -v $((hi - 256)) "${prog[@]}" --overwrite big.bd1 cube.bd1
  cmp -s cube.mqo "$examples/cube.mqo" || fail "the map after a buffer not allocated"
  # The mesh's arrays failing in turn, in each format: limits a MiB apart from
  # the document's up to where the mesh fits. Each failure is its one message
  # and leaves no file; the first that fits is the mesh made without a limit.
  # One run a limit: a large array starts on a 2 MiB boundary, so how much
  # address space a mesh takes moves with where the heap starts.
  for opts in "--optimize -f mqo" "--optimize -f obj" "--optimize -f glb" "-f glb"; do
    f=${opts##* } && rm -rf whole part && mkdir whole part && "${prog[@]}" -q $opts -d whole big.bd1 || fail "$opts: no mesh"
    for ((kib = hi; kib < hi + 262144; kib += 1024)); do
      err=$(limit -v $kib "${prog[@]}" -q $opts -d part big.bd1 2>&1 >/dev/null); status=$?
      if [ "$status" = 0 ]; then
        cmp -s whole/big.$f part/big.$f || fail "$opts under $kib KiB: a mesh not the same"
        break
      fi
      judged "$opts under $kib KiB" "$e allocate memory: big.bd1: ?*" "$status" "$err"
      [ -z "$(ls -A part)" ] || fail "$opts under $kib KiB: $(ls -A part) left"
    done
  done
  for i in {1..40}; do cp cube.bd1 c$i.bd1; done && cp big.bd1 big2.bd1
  batch "each map's blocks and buffer freed" "" limit -v $((hi + 1024)) "${prog[@]}" --overwrite big.bd1 big2.bd1 c[0-9]*.bd1
  finish
fi

mkdir dir.mqo && cp courtyard.bd1 same.map && l1= l2= w8= w40= w3= w260=
if [ -z "$wine" ]; then
  l1=$(long 4087 8) l2=$(long 4095 8) && ln -s named.mqo link.mqo && printf 'leak:/fiu/\n' >lsan
  mkdir user locked && cp cube.bd1 user/ && cp cube.bd1 user/secret.bd1 && cp old.mqo user/readonly.mqo && cp old.mqo locked/kept.mqo
  { [ "$(id -u)" != 0 ] || chown -R nobody:nogroup user locked; } && chmod 000 user/secret.bd1 && chmod 444 user/readonly.mqo && chmod 555 locked
  # A failed write must close what it opened: under the fewest descriptors a
  # conversion works with, one left open fails the next map.
  n=3 && until [ $n = 32 ] || limit -n $n fiu none "${prog[@]}" cube.bd1 fd.mqo 2>/dev/null; do n=$((n + 1)); done
  cp cube.bd1 fd1.bd1 && cp cube.bd1 fd2.bd1 && batch "failed writes close their files" \
    "$e write file (mqo): fd1.mqo: ?*"$'\n'"$e write file (mqo): fd2.mqo: ?*" limit -n $n fiu stdio/rw/fwrite "${prog[@]}" fd1.bd1 fd2.bd1
else
  w8=$(long 259 8) w40=$(long 259 40) w3=$(long 259 3) w260=$(long 260 8)
  cp courtyard.bd1 "$w8" && cp courtyard.bd1 "$w40" && cp courtyard.bd1 "$w3" && cp cube.bd1 held.bd1 && cp old.mqo held.mqo
  cp old.mqo readonly.mqo && "$wine" cmd /c attrib +r "$(name readonly.mqo)" >/dev/null 2>&1
fi
# An OBJ and its MTL are put in place together: when the first rename fails,
# neither temporary file stays.
if [ -z "$wine" ]; then
  batch "a mesh's rename fails" "$e write file (mtl): pair.mtl: ?*" fiu io/dir/rename "${prog[@]}" cube.bd1 pair.obj &&
    [ -z "$(find . -name '.blockmqo-*' -o -name 'pair.*')" ] || fail "a mesh's rename fails: files left"
fi
while IFS='|' read -r where title want in out runner; do
  [ "$where" = all ] || [ "$where" = "$os" ] && case_ "$title" "$want" "$in" "$out" $runner
done <<ROWS
all|target is a directory|open file (mqo)|cube.bd1|dir.mqo|
all|missing directory|open file (mqo)|cube.bd1|missing/x.mqo|
all|input removed|open file (bd)|removed.bd1|removed.mqo|
all|the map into itself, cut off by a size limit|write file (mqo)|same.map|same.map|limit -f 64
linux|full device|write file (mqo)=No space left on device|cube.bd1|/dev/full|
linux|a write past the cache, cut off by a size limit|write file (mqo)=File too large|courtyard.bd1|old.mqo|limit -f 64
linux|the longest path with room for a temporary file|ok:cube|cube.bd1|$l1|
linux|no room for a temporary file|open file (mqo)|cube.bd1|$l2|
linux|read-only target|open file (mqo)=Permission denied|user/cube.bd1|user/readonly.mqo|as_user
linux|read-only directory, writable target (never truncated)|open file (mqo)|user/cube.bd1|locked/kept.mqo|as_user
linux|unreadable input|open file (bd)=Permission denied|user/secret.bd1|user/secret.mqo|as_user
linux|unprivileged conversion|ok:cube|user/cube.bd1|user/ok.mqo|as_user
linux|fdopen fails|open file (mqo)|cube.bd1|new.mqo|fiu stdio/oc/fdopen
linux|fwrite fails through a dangling link|write file (mqo)|cube.bd1|link.mqo|fiu stdio/rw/fwrite
linux|fflush fails|write file (mqo)|cube.bd1|old.mqo|fiu stdio/fflush
linux|fsync fails|write file (mqo)|cube.bd1|old.mqo|fiu io/sync/fsync
linux|fclose fails, new target|write file (mqo)|cube.bd1|new.mqo|fiu stdio/oc/fclose
linux|fclose fails through a dangling link|write file (mqo)|cube.bd1|link.mqo|fiu stdio/oc/fclose
linux|rename fails, the temporary file removed|write file (mqo)|cube.bd1|old.mqo|fiu io/dir/rename
wine|operands beginning with /|ok:cube|$work/cube.bd1|$work/slash.mqo|
wine|read-only attribute|open file (mqo)|cube.bd1|readonly.mqo|
wine|target held open|open file (mqo)|cube.bd1|held.mqo|held held.mqo
wine|input held open|open file (bd)|held.bd1|fromheld.mqo|held held.bd1
wine|failed write through 259 characters, short temporary name|write file (mqo)|$w8|$w8|limit -f 64
wine|map replaced through 259 characters, short temporary name|ok:courtyard|$w8|$w8|
wine|map replaced through 259 characters|ok:courtyard|$w40|$w40|
wine|no room for a temporary file, existing target|open file (mqo)|$w3|$w3|
wine|no room for a temporary file, failed write|write file (mqo)|courtyard.bd1|${w3%???}nw1|limit -f 64
wine|no room for a temporary file, new target|ok:courtyard|courtyard.bd1|${w3%???}nw2|
wine|path of 260 characters|open file (mqo)|cube.bd1|$w260|
ROWS
names=('my map.bd1' $'caf\xc3\xa9 ma\xc3\xb1ana.bd1' ' leading and trailing .bd1')
[ -z "$wine" ] && names+=($'\xe9\xff not UTF-8.bd1')
for n in "${names[@]}"; do cp cube.bd1 "$n" && case_ "name '$n'" ok:cube "$n" "$n.mqo"; done
# The one-block map cut inside the names, inside the count and one short of
# its record: the reader's verdict on every cut is the unit tests' and the
# fuzzer's; these are the program's report of it.
cp old.mqo cut.mqo
for cut in 0 309 311 627; do head -c "$cut" cube.bd1 >cut.bd1 && case_ "cut at byte $cut" "read file (bd)=shorter than its block count says" cut.bd1 cut.mqo; done
finish
