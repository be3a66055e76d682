#!/usr/bin/env bash
# A person's session with the real program from its bundle, on a virtual display: open a picture through
# the open dialog, zoom to 200 % and pan, save through the save dialog, batch a folder through the
# choose-folder and location dialogs, cancel a second batch part-way, quit. Every written file is
# checked against a plain statement of the dithering steps (E2eTool).
# Usage: journey.sh <bin/speckmoor> <E2eTool>
set -euo pipefail
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")
for t in xvfb-run xdotool; do command -v "$t" >/dev/null || { echo "journey: $t is missing"; exit 1; }; done
if [ -z "${JOURNEY_INSIDE_X:-}" ]; then
  exec env JOURNEY_INSIDE_X=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$exe" "$tool"
fi
unset QT_QPA_PLATFORM

work=$(mktemp -d)
log="$work/program.log"
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "journey: $*"; cat "$log" 2>/dev/null || true; exit 1; }

# Waits for a visible window whose name matches; prints its id.
window_named() {
  local id=""
  for _ in $(seq 1 300); do
    id=$({ xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | tail -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
wait_gone() {
  for _ in $(seq 1 300); do
    [ -z "$({ xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | head -n 1)" ] && return 0
    sleep 0.1
  done
  return 1
}
wait_file() { for _ in $(seq 1 300); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
focus() { xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"; }
type_into() {  # window id, text: types into the dialog's name field and presses Return
  focus "$1"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 5 "$2"
  xdotool key --clearmodifiers Return
}

mkdir -p "$work/in" "$work/Grey Set" "$work/out" "$work/Many"
"$tool" grey "$work/in/picture.png" 900 700 1
for i in 1 2 3; do "$tool" grey "$work/Grey Set/g$i.png" $((60 + i * 10)) $((40 + i * 5)) "$i"; done
for i in $(seq 10 69); do "$tool" grey "$work/Many/m$i.png" 600 400 "$i"; done

"$exe" >"$log" 2>&1 &
pid=$!
main=$(window_named '^Speckmoor$') || fail "no document window"
focus "$main"

# Open a picture through the open dialog.
xdotool key --clearmodifiers ctrl+o
dialog=$(window_named 'Open|Find') || fail "no open dialog"
type_into "$dialog" "$work/in/picture.png"
wait_gone 'Open|Find' || fail "the open dialog stayed"

# Zoom to 200 % and pan by dragging.
focus "$main"
xdotool key --clearmodifiers ctrl+2
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $((WIDTH / 2)) $((HEIGHT / 2)) mousedown 1
xdotool mousemove_relative --sync 40 30
xdotool mousemove_relative --sync 40 30
xdotool mouseup 1

# Save through the save dialog; Contrast is on in a new window.
xdotool key --clearmodifiers ctrl+s
dialog=$(window_named 'Save') || fail "no save dialog"
type_into "$dialog" "$work/out/saved.png"
wait_file "$work/out/saved.png" || fail "nothing was saved"
sleep 0.3
"$tool" check "$work/in/picture.png" "$work/out/saved.png" 1 || fail "the saved picture is wrong"

# Batch a folder: the choose-folder dialog, then the location dialog, then the message.
focus "$main"
xdotool key --clearmodifiers ctrl+b
dialog=$(window_named 'Find Directory|Choose|Select|Open') || fail "no choose-folder dialog"
type_into "$dialog" "$work/Grey Set"
dialog=$(window_named 'Batch processed images') || fail "no location dialog"
type_into "$dialog" "$work/out"
box=$(window_named '^Speckmoor$' ) || true
for _ in $(seq 1 300); do [ -d "$work/out/Grey Set (Dithered)" ] && [ "$(ls "$work/out/Grey Set (Dithered)" | wc -l)" -eq 3 ] && break; sleep 0.1; done
sleep 1
xdotool key --clearmodifiers Return   # OK in the completion message
for i in 1 2 3; do
  "$tool" check "$work/Grey Set/g$i.png" "$work/out/Grey Set (Dithered)/g$i.png" 1 || fail "batch output g$i.png is wrong"
done

# A second batch, cancelled part-way with the progress window's button.
sleep 0.5
focus "$main"
xdotool key --clearmodifiers ctrl+b
dialog=$(window_named 'Find Directory|Choose|Select|Open') || fail "no choose-folder dialog the second time"
type_into "$dialog" "$work/Many"
dialog=$(window_named 'Batch processed images') || fail "no location dialog the second time"
type_into "$dialog" "$work/out"
progress=$(window_named '^Progress$') || fail "no progress window"
for _ in $(seq 1 300); do [ "$(ls "$work/out/Many (Dithered)" 2>/dev/null | wc -l)" -ge 2 ] && break; sleep 0.05; done
eval "$(xdotool getwindowgeometry --shell "$progress")"
xdotool mousemove --window "$progress" 240 88 click 1
wait_gone '^Progress$' || fail "the progress window stayed"
sleep 1
xdotool key --clearmodifiers Return
written=$(ls "$work/out/Many (Dithered)" | wc -l)
[ "$written" -ge 1 ] && [ "$written" -lt 60 ] || fail "the cancelled batch wrote $written of 60 files"
for f in "$work/out/Many (Dithered)"/*.png; do
  name=$(basename "$f")
  "$tool" check "$work/Many/$name" "$f" 1 || fail "cancelled batch output $name is wrong"
done

# Quit.
focus "$main"
xdotool key --clearmodifiers ctrl+q
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Ctrl+Q did not end the program"
wait "$pid" && code=0 || code=$?
pid=""
[ "$code" -eq 0 ] || fail "exit code $code"
echo "journey: 1 passed, 0 failed"
