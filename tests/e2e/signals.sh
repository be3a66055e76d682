#!/usr/bin/env bash
# A logout or a kill ends the program as File > Quit does: SIGTERM while it connects to the display,
# SIGINT while idle, SIGHUP while the open dialog is up, and SIGTERM twice during a batch, after which the
# batch has finished the file in hand, every written file is whole, no hidden temporary file is left beside
# them and the program's temporary folder is gone. Exit code 0 each time.
# Usage: signals.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" signals
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

# A kill while the program still waits for the display to answer its connection: it quits once it can.
# The display is stopped meanwhile, so the program surely is still connecting when the signal comes.
catches_term() {
  [ "$(readlink "/proc/$pid/exe")" = "$exe" ] &&
    (( 0x$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0) >> 14 & 1 ))
}
catches_term_or_ended() { catches_term || ended; }
kill -STOP "$xvfb"
start_program "$exe"
if ! wait_until catches_term_or_ended || ! catches_term; then
  kill -CONT "$xvfb"
  fail "SIGTERM is not caught while the program connects to the display"
fi
kill -TERM "$pid"
kill -CONT "$xvfb"
expect_exit 0

# A job started in the background by a script ignores SIGINT, and the program keeps what it was given.
start_program env --default-signal=INT "$exe"
window_named '^Speckmoor$' >/dev/null || fail "no document window"
kill -INT "$pid"
expect_exit 0

start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window the second time"
focus "$main"
press ctrl+o
window_named 'Open|Find' >/dev/null || fail "no open dialog"
kill -HUP "$pid"
expect_exit 0

# Many and large, so the batch surely still runs when its first files are on the disk.
files=300
mkdir -p "$work/out" "$work/in" "$work/tmp"
"$tool" grey "$work/in/picture.png" 300 200 1
make_copies "$work/Many" $files 1000 800 m "$tool"
output="$work/out/Many (Dithered)"
TMPDIR="$work/tmp" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window the third time"
# Saving makes the program's temporary folder.
open_and_save "$main" "$work/in/picture.png" "$work/out/saved.png"
[ -n "$(ls -A "$work/tmp")" ] || fail "saving made no temporary folder"
batch_from "$main" "$work/Many" "$work/out"
window_named '^Progress$' >/dev/null || fail "no progress window"
wait_count "$output" 1 || fail "the batch wrote nothing"
# The second signal comes while the first one's quit is under way.
kill -TERM "$pid"
kill -TERM "$pid"
expect_exit 0
expect_stopped_whole "$output" "$work/Many" "$files" "$tool"
[ -z "$(ls -A "$work/tmp")" ] || fail "left in the temporary folder: $(ls -A "$work/tmp")"
echo "signals: 1 passed, 0 failed"
