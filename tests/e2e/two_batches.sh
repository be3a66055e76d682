#!/usr/bin/env bash
# Two windows batch at once: one batch is cancelled with its progress window's button while the other
# runs to its end. Both folders hold only whole files, each its source dithered.
# Usage: two_batches.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" two_batches
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

long=80
short=30
mkdir -p "$work/out"
make_greys "$work/Long" $long 1200 900 l "$tool"
make_greys "$work/Short" $short 500 400 s "$tool"

start_program "$exe"
first=$(window_named '^Speckmoor$') || fail "no document window"
batch_from "$first" "$work/Long" "$work/out"
longProgress=$(window_named '^Progress$') || fail "no progress window for the long batch"
focus "$first"
press ctrl+n
wait_windows '^Speckmoor$' 2 || fail "Ctrl+N made no second window"
second=$(windows_named '^Speckmoor$' | grep -v -x "$first" | tail -n 1)
xdotool windowmove "$second" 640 0  # side by side, as a person would place them
batch_from "$second" "$work/Short" "$work/out"
wait_windows '^Progress$' 2 || fail "no progress window for the short batch"

# Cancel the long batch while the short one runs on.
[ "$(ls "$work/out/Long (Dithered)" | wc -l)" -lt "$long" ] || fail "the long batch ended before the other began"
xdotool windowraise "$longProgress"
xdotool mousemove --window "$longProgress" 240 88 click 1
wait_count "$work/out/Short (Dithered)" "$short" || fail "the short batch did not finish"

# Two completion messages, one a window; answer each.
for _ in 1 2; do
  message=""
  for _ in $(seq 1 300); do
    message=$(windows_named '^Speckmoor$' | grep -v -x -e "$first" -e "$second" | head -n 1)
    [ -n "$message" ] && break
    sleep 0.1
  done
  [ -n "$message" ] || fail "a completion message is missing"
  focus "$message"
  press Return
  for _ in $(seq 1 100); do windows_named '^Speckmoor$' | grep -q -x "$message" || break; sleep 0.1; done
done
wait_gone '^Progress$' || fail "a progress window stayed"
alive || fail "the program ended"

written=$(ls "$work/out/Long (Dithered)" | wc -l)
[ "$written" -lt "$long" ] || fail "the cancelled batch wrote every file"
for f in "$work/out/Long (Dithered)"/*.png "$work/out/Short (Dithered)"/*.png; do
  n=$(basename "$f")
  src="$work/Long/$n"; [ -f "$src" ] || src="$work/Short/$n"
  "$tool" check "$src" "$f" 1 || fail "$n is not its source dithered"
done
[ "$(ls "$work/out/Short (Dithered)" | wc -l)" -eq "$short" ] || fail "the finished batch lost files"
focus "$first"
press ctrl+q
expect_exit_0
echo "two_batches: 1 passed, 0 failed ($written of $long before the cancel)"
