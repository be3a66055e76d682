#!/usr/bin/env bash
# A batch ends while another dialog is open over its progress window: start a batch through Ctrl+B and
# the two dialogs, press Ctrl+B again while the progress window is in front and leave the choose-folder
# dialog open. The program must live on, still tell that the batch has finished, and every file must be
# the source dithered. Usage: batch_under_dialog.sh <bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" batch_under_dialog
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

# Enough that the batch surely still runs when the second dialog is up, even on a fast machine, and few
# enough to let it finish.
files=60
mkdir -p "$work/out"
make_copies "$work/Scans" $files 1200 900 s "$tool"
output="$work/out/Scans (Dithered)"

start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
batch_from "$main" "$work/Scans" "$work/out"
progress=$(window_named '^Progress$') || fail "no progress window"

# Ctrl+B with the progress window in front opens the choose-folder dialog again.
focus "$progress"
press ctrl+b
chooser=$(window_named 'Choose a Folder') || fail "no second choose-folder dialog"
written=$(files_in "$output")
[ "$written" -lt "$files" ] && [ -n "$(windows_named '^Progress$')" ] ||
  fail "the batch ended before the dialog opened ($written files): nothing was crossed"

wait_count "$output" "$files" || fail "the batch did not finish"
wait_gone '^Progress$' || fail "the progress window stayed"
message=$(window_named '^Speckmoor$' "$main") || fail "no completion message while the dialog is open"
alive || fail "the program ended when its batch did"
focus "$message"
press Return
wait_closed "$message" || fail "the completion message stayed"
focus "$chooser"
press Escape
wait_closed "$chooser" || fail "the choose-folder dialog stayed"

for f in "$output"/*.png; do
  "$tool" check "$work/Scans/$(basename "$f")" "$f" 1 || fail "$(basename "$f") is not its source dithered"
done
focus "$main"
press ctrl+q
expect_exit_0
echo "batch_under_dialog: 1 passed, 0 failed"
