#!/usr/bin/env bash
# Closing the last document window ends the program as Quit does: at once when it is idle, and during a
# batch after the file in hand, every written file whole. Usage: last_window.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" last_window
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
focus "$main"
press ctrl+w
expect_exit_0

# Many and large, so the batch surely still runs when its first files are on the disk.
files=300
mkdir -p "$work/out"
make_copies "$work/Many" $files 1600 1200 m "$tool"
output="$work/out/Many (Dithered)"
start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window the second time"
batch_from "$main" "$work/Many" "$work/out"
window_named '^Progress$' >/dev/null || fail "no progress window"
wait_count "$output" 2 || fail "the batch wrote nothing"
focus "$main"
press ctrl+w
expect_exit_0
expect_stopped_whole "$output" "$work/Many" "$files" "$tool"
echo "last_window: 1 passed, 0 failed"
