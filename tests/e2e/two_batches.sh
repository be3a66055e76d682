#!/usr/bin/env bash
# Two windows batch at once: one batch is cancelled with its progress window's button while the other
# runs to its end. Both folders hold only whole files, each its source dithered.
# Usage: two_batches.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" two_batches
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

# The long batch is many and large, so it surely still runs when the short one has begun, even on a fast
# machine; it is cancelled early, so its length costs nothing.
long=300
short=30
mkdir -p "$work/out"
make_copies "$work/Long" $long 1200 900 l "$tool"
make_greys "$work/Short" $short 500 400 s "$tool"

start_program "$exe"
first=$(window_named '^Speckmoor$') || fail "no document window"
batch_from "$first" "$work/Long" "$work/out"
longProgress=$(window_named '^Progress$') || fail "no progress window for the long batch"
focus "$first"
press ctrl+n
second=$(window_named '^Speckmoor$' "$first") || fail "Ctrl+N made no second window"
# Side by side, as a person would place them.
xdotool windowmove "$second" 640 0 || fail "could not move the second window"
batch_from "$second" "$work/Short" "$work/out"
window_named '^Progress$' "$longProgress" >/dev/null || fail "no progress window for the short batch"

# Cancel the long batch while the short one runs on.
[ "$(files_in "$work/out/Long (Dithered)")" -lt "$long" ] || fail "the long batch ended before the other began"
xdotool windowraise "$longProgress" || fail "the long batch ended before Cancel"
xdotool mousemove --window "$longProgress" 240 88 click 1 || fail "the long batch ended before Cancel"
wait_count "$work/out/Short (Dithered)" "$short" || fail "the short batch did not finish"

# Two completion messages, each a window named as the document windows are; both come up, one over the
# other, and are answered from the top.
wait_windows '^Speckmoor$' 4 || fail "a completion message is missing"
for n in 1 2; do
  message=$(window_named '^Speckmoor$' "$first" "$second") || fail "completion message $n is missing"
  focus "$message"
  press Return
  wait_closed "$message" || fail "completion message $n stayed"
done
wait_gone '^Progress$' || fail "a progress window stayed"
alive || fail "the program ended"

written=$(files_in "$work/out/Long (Dithered)")
[ "$written" -lt "$long" ] || fail "the cancelled batch wrote every file"
for f in "$work/out/Long (Dithered)"/*.png "$work/out/Short (Dithered)"/*.png; do
  [ -e "$f" ] || continue  # the cancel may come before the long batch's first file
  n=$(basename "$f")
  src="$work/Long/$n"; [ -f "$src" ] || src="$work/Short/$n"
  "$tool" check "$src" "$f" 1 || fail "$n is not its source dithered"
done
[ "$(files_in "$work/out/Short (Dithered)")" -eq "$short" ] || fail "the finished batch lost files"
focus "$first"
press ctrl+q
expect_exit_0
echo "two_batches: 1 passed, 0 failed ($written of $long before the cancel)"
