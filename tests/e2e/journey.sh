#!/usr/bin/env bash
# A person's session with the real program from its bundle, on a virtual display: open a picture through
# the open dialog, zoom to 200 % and pan, save through the save dialog, batch a folder through the
# choose-folder and location dialogs, cancel a second batch part-way, quit. Every written file is
# checked against a plain statement of the dithering steps (E2eTool).
# Usage: journey.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" journey
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

mkdir -p "$work/in" "$work/Grey Set" "$work/out" "$work/Many"
"$tool" grey "$work/in/picture.png" 900 700 1
for i in 1 2 3; do "$tool" grey "$work/Grey Set/g$i.png" $((60 + i * 10)) $((40 + i * 5)) "$i"; done
# Many and large, so the batch surely still runs when its first files are on the disk, even on a fast
# machine; it is cancelled early, so its length costs nothing.
many=300
make_copies "$work/Many" $many 1600 1200 m "$tool"

# Its own temporary folder: what the program leaves there after quitting can be seen.
mkdir -p "$work/tmp"
TMPDIR="$work/tmp" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
focus "$main"

# Open a picture through the open dialog.
press ctrl+o
dialog=$(window_named 'Open|Find') || fail "no open dialog"
type_into "$dialog" "$work/in/picture.png"
wait_closed "$dialog" || fail "the open dialog stayed"

# Zoom to 200 % and pan by dragging; the window reads the keys and the drag in the order they were sent.
focus "$main"
press ctrl+2
eval "$(xdotool getwindowgeometry --shell "$main")"
{ xdotool mousemove --window "$main" $((WIDTH / 2)) $((HEIGHT / 2)) mousedown 1 &&
  xdotool mousemove_relative --sync 40 30 && xdotool mousemove_relative --sync 40 30 &&
  xdotool mouseup 1; } || fail "could not drag in the document window"

# Save through the save dialog; Contrast is on in a new window. The file takes its name once whole.
press ctrl+s
dialog=$(window_named 'Save') || fail "no save dialog"
type_into "$dialog" "$work/out/saved.png"
wait_file "$work/out/saved.png" || fail "nothing was saved"
"$tool" check "$work/in/picture.png" "$work/out/saved.png" 1 || fail "the saved picture is wrong"
wait_closed "$dialog" || fail "the save dialog stayed"

# Answers a batch's completion message with Return: a window named as the document window is.
answer_message() {
  local message
  message=$(window_named '^Speckmoor$' "$main") || fail "no completion message $1"
  focus "$message"
  press Return
  wait_closed "$message" || fail "the completion message $1 stayed"
}

# Batch a folder: the choose-folder dialog, then the location dialog, then the message.
batch_from "$main" "$work/Grey Set" "$work/out"
answer_message "for the first batch"
[ "$(files_in "$work/out/Grey Set (Dithered)")" -eq 3 ] || fail "the first batch did not write its 3 files"
for i in 1 2 3; do
  "$tool" check "$work/Grey Set/g$i.png" "$work/out/Grey Set (Dithered)/g$i.png" 1 || fail "batch output g$i.png is wrong"
done

# A second batch, cancelled part-way with the progress window's button.
batch_from "$main" "$work/Many" "$work/out"
progress=$(window_named '^Progress$') || fail "no progress window"
wait_count "$work/out/Many (Dithered)" 1 || fail "the second batch wrote nothing"
xdotool mousemove --window "$progress" 240 88 click 1 || fail "the second batch ended before Cancel"
wait_gone '^Progress$' || fail "the progress window stayed"
answer_message "for the cancelled batch"
written=$(files_in "$work/out/Many (Dithered)")
[ "$written" -ge 1 ] && [ "$written" -lt $many ] || fail "the cancelled batch wrote $written of $many files"
for f in "$work/out/Many (Dithered)"/*.png; do
  name=$(basename "$f")
  "$tool" check "$work/Many/$name" "$f" 1 || fail "cancelled batch output $name is wrong"
done

# Quit; nothing is left in the temporary folder.
focus "$main"
press ctrl+q
expect_exit_0
[ -z "$(ls -A "$work/tmp")" ] || fail "left in the temporary folder: $(ls -A "$work/tmp")"
echo "journey: 1 passed, 0 failed"
