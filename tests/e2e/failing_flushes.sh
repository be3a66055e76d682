#!/usr/bin/env bash
# A batch onto a disk whose flushes fail: no picture takes its final name, no temporary file stays behind,
# and the program goes on to quit normally. Usage: failing_flushes.sh <bin/speckmoor> <E2eTool> <shim.so>
source "$(dirname "$0")/lib.sh" failing_flushes
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")
shim=$(readlink -f "$3")

make_greys "$work/Set" 8 300 200 f "$tool"
mkdir -p "$work/out"
# A program built with a sanitizer needs its runtime first among the preloaded libraries.
runtime=$(ldd "$exe" | awk '/lib(a|t)san\.so/ { print $3 }')
SPECKMOOR_FAILING_FOLDER="$work/out/Set (Dithered)" LD_PRELOAD="${runtime:+$runtime:}$shim" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
batch_from "$main" "$work/Set" "$work/out"
# The completion message comes once the batch has ended and its files are as they will stay.
message=$(window_named '^Speckmoor$' "$main") || fail "no completion message"
output="$work/out/Set (Dithered)"
[ -d "$output" ] || fail "no output folder"
left=$(ls -A "$output")
[ -z "$left" ] || fail "files left in the output folder although no flush succeeded: $left"
focus "$message"
press Return   # OK in the completion message
wait_closed "$message" || fail "the completion message stayed"
focus "$main"
press ctrl+q
expect_exit_0
echo "failing_flushes: 1 passed, 0 failed"
