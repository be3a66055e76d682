#!/usr/bin/env bash
# The display goes away (a logout, a lost remote session): while idle, during a batch, and while a batch's
# completion message is up. The program ends without a crash, with exit code 1, its temporary folder gone;
# the batch has finished the file in hand, every written file is whole and no hidden temporary file is left
# beside them. Usage: display_lost.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" display_lost
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

lose_display() {
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
}
temporary_gone() { [ -z "$(ls -A "$work/tmp")" ] || fail "left in the temporary folder: $(ls -A "$work/tmp")"; }

# Many and large, so the batch surely still runs when its first files are on the disk.
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
output="$work/out/Many (Dithered)"
TMPDIR="$work/tmp" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window the second time"
open_and_save "$main" "$work/in/picture.png" "$work/out/batch.png"
batch_from "$main" "$work/Many" "$work/out"
window_named '^Progress$' >/dev/null || fail "no progress window"
wait_count "$output" 1 || fail "the batch wrote nothing"
lose_display
expect_exit 1
expect_stopped_whole "$output" "$work/Many" "$files" "$tool"
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
