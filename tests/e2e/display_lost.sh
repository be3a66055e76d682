#!/usr/bin/env bash
# The display goes away (a logout, a lost remote session): while idle, during a batch, and while a batch's
# completion message is up. The program ends without a crash, with exit code 1, its temporary folder gone;
# the batch has finished the file in hand, every written file is whole and no hidden temporary file is left
# beside them. The batch's commit is held (a preloaded library, tests/support/HeldFlushes.cpp) while the
# display goes, so the program surely has a group of pictures in hand.
# Usage: display_lost.sh <bin/speckmoor> <E2eTool> <held_flushes.so>
source "$(dirname "$0")/lib.sh" display_lost
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")
shim=$(readlink -f "$3")

lose_display() {
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
}
temporary_gone() { [ -z "$(ls -A "$work/tmp")" ] || fail "left in the temporary folder: $(ls -A "$work/tmp")"; }

# Many and large, so most of the batch is still ahead when the display goes.
files=300
mkdir -p "$work/out" "$work/in" "$work/tmp"
"$tool" grey "$work/in/picture.png" 300 200 1
make_copies "$work/Many" $files 1000 800 m "$tool"
make_greys "$work/Few" 3 200 150 f "$tool"

TMPDIR="$work/tmp" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
# Saving makes the program's temporary folder.
open_and_save "$main" "$work/in/picture.png" "$work/out/idle.png"
[ -n "$(ls -A "$work/tmp")" ] || fail "saving made no temporary folder"
lose_display
expect_exit 1
temporary_gone

open_display
output="$(readlink -f "$work/out")/Many (Dithered)"
hold="$work/hold"
mkdir "$hold"
# A program built with a sanitizer needs its runtime first among the preloaded libraries.
runtime=$(ldd "$exe" | awk '/lib(a|t)san\.so/ { print $3 }')
SPECKMOOR_HELD_FOLDER="$output" SPECKMOOR_HOLD="$hold" LD_PRELOAD="${runtime:+$runtime:}$shim" TMPDIR="$work/tmp" \
  start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window the second time"
open_and_save "$main" "$work/in/picture.png" "$work/out/batch.png"
batch_from "$main" "$work/Many" "$work/out"
window_named '^Progress$' >/dev/null || fail "no progress window"
wait_until test -e "$hold/held" || fail "the batch never waited for the disk"
in_hand=$(ls -A "$output" | grep -c '^\.' || true)
[ "$in_hand" -ge 1 ] || fail "no picture in hand while the commit is held"
[ ! -e "$hold/waiting" ] || fail "the program waited for its threads before the display went"
lose_display
# Let go once the program waits for its batch; one that ends without waiting has ended by then.
waiting_or_ended() { [ -e "$hold/waiting" ] || ended; }
wait_until waiting_or_ended || fail "the program neither ended nor waited for its batch"
touch "$hold/release"
expect_exit 1
expect_stopped_whole "$output" "$work/Many" "$files" "$tool"
[ "$(files_in "$output")" -eq "$in_hand" ] || fail "$(files_in "$output") pictures written, $in_hand were in hand"
temporary_gone

# The batch thread waits for the answer to its completion message.
open_display
TMPDIR="$work/tmp" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window the third time"
batch_from "$main" "$work/Few" "$work/out"
window_named '^Speckmoor$' "$main" >/dev/null || fail "no completion message"
lose_display
expect_exit 1
[ "$(files_in "$work/out/Few (Dithered)")" -eq 3 ] || fail "the finished batch lost files"
temporary_gone
echo "display_lost: 1 passed, 0 failed"
