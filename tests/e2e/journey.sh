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
# Large enough that the batch is surely still running when its first files are on the disk.
make_copies "$work/Many" 60 1600 1200 m "$tool"

# Its own temporary folder: what the program leaves there after quitting can be seen.
mkdir -p "$work/tmp"
TMPDIR="$work/tmp" start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
focus "$main"

# Open a picture through the open dialog.
press ctrl+o
dialog=$(window_named 'Open|Find') || fail "no open dialog"
type_into "$dialog" "$work/in/picture.png"
wait_gone 'Open|Find' || fail "the open dialog stayed"

# Zoom to 200 % and pan by dragging.
focus "$main"
press ctrl+2
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $((WIDTH / 2)) $((HEIGHT / 2)) mousedown 1
xdotool mousemove_relative --sync 40 30
xdotool mousemove_relative --sync 40 30
xdotool mouseup 1

# Save through the save dialog; Contrast is on in a new window.
press ctrl+s
dialog=$(window_named 'Save') || fail "no save dialog"
type_into "$dialog" "$work/out/saved.png"
wait_file "$work/out/saved.png" || fail "nothing was saved"
sleep 0.3
"$tool" check "$work/in/picture.png" "$work/out/saved.png" 1 || fail "the saved picture is wrong"

# Batch a folder: the choose-folder dialog, then the location dialog, then the message.
focus "$main"
press ctrl+b
dialog=$(window_named 'Find Directory|Choose|Select|Open') || fail "no choose-folder dialog"
type_into "$dialog" "$work/Grey Set"
dialog=$(window_named 'Batch processed images') || fail "no location dialog"
type_into "$dialog" "$work/out"
box=$(window_named '^Speckmoor$' ) || true
for _ in $(seq 1 300); do [ -d "$work/out/Grey Set (Dithered)" ] && [ "$(ls "$work/out/Grey Set (Dithered)" | wc -l)" -eq 3 ] && break; sleep 0.1; done
sleep 1
press Return   # OK in the completion message
for i in 1 2 3; do
  "$tool" check "$work/Grey Set/g$i.png" "$work/out/Grey Set (Dithered)/g$i.png" 1 || fail "batch output g$i.png is wrong"
done

# A second batch, cancelled part-way with the progress window's button.
sleep 0.5
focus "$main"
press ctrl+b
dialog=$(window_named 'Find Directory|Choose|Select|Open') || fail "no choose-folder dialog the second time"
type_into "$dialog" "$work/Many"
dialog=$(window_named 'Batch processed images') || fail "no location dialog the second time"
type_into "$dialog" "$work/out"
progress=$(window_named '^Progress$') || fail "no progress window"
wait_count "$work/out/Many (Dithered)" 1 || fail "the second batch wrote nothing"
xdotool mousemove --window "$progress" 240 88 click 1 || fail "the second batch ended before Cancel"
wait_gone '^Progress$' || fail "the progress window stayed"
sleep 1
press Return
written=$(ls "$work/out/Many (Dithered)" | wc -l)
[ "$written" -ge 1 ] && [ "$written" -lt 60 ] || fail "the cancelled batch wrote $written of 60 files"
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
