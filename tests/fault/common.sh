# What the fault scripts share: the tally, the checks that read files alone,
# and the cases that need a failed write over a file that must survive.
# The sourcing script defines run, run_limited, expect, absent and no_temp for
# its own program, and sets work (a scratch folder) and mounted (cleared here).
passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
skip() { echo "SKIP: $*"; skipped=$((skipped + 1)); }

expect_ok() {  # expect_ok NAME DOCUMENT REFERENCE; warnings about the map are no fault
  if [ "$status" = 0 ] && [ -z "$(grep -v '^blockmqo-cli: warning: ' <<<"$err")" ] &&
     cmp -s "$2" "$3"; then pass
  else fail "$1: exit $status, stderr '$err', document differs or missing"; fi
}
same() {  # same NAME FILE COPY: the file is byte for byte what it was
  if cmp -s "$2" "$3"; then pass; else fail "$1: $2 was changed"; fi
}

# The map itself as the target, read in full, then a write that fails; and a
# filesystem that fills up mid-document. Needs courtyard.bd1 and old.mqo in work.
failed_writes_keep_what_was_there() {
  # (Not named .bd1: two operands ending in .bd1 are a batch.)
  cp "$work/courtyard.bd1" "$work/same.map"
  run_limited 64 "$work/same.map" "$work/same.map"
  expect "same file, failed write" "Failed: write file (mqo)" "$work/same.map"
  same "same file, failed write: the map survives" "$work/same.map" "$work/courtyard.bd1"
  no_temp "same file, failed write" "$work"

  mkdir "$work/small"
  if mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
    mounted=$work/small
    cp "$work/old.mqo" "$work/small/map.mqo"
    run "$work/courtyard.bd1" "$work/small/map.mqo"
    expect "full filesystem" "Failed: write file (mqo)" "$work/small/map.mqo"
    same "full filesystem" "$work/small/map.mqo" "$work/old.mqo"
    no_temp "full filesystem" "$work/small"
    umount "$work/small" && mounted=
  else
    skip "full filesystem: cannot mount a 64k tmpfs here"
  fi
}

odd_names_convert() {  # odd_names_convert NAME...: each a copy of cube.bd1, converted beside it
  local name
  for name in "$@"; do
    cp "$work/cube.bd1" "$work/$name"
    run "$work/$name" "$work/$name.mqo"
    expect_ok "name '$name'" "$work/$name.mqo" "$work/cube.ref.mqo"
  done
}

removed_input_is_reported() {
  run "$work/removed.bd1" "$work/removed.mqo"
  expect "input removed" "Failed: open file (bd)" "$work/removed.bd1"
  absent "input removed" "$work/removed.mqo"
}
