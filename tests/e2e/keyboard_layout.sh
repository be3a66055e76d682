#!/usr/bin/env bash
# Shortcuts on a keyboard that is not US: with a French layout, where 2 is the key labelled 2 and é with
# Shift, Ctrl+2 zooms to 200 % as on a US keyboard. The zoom is read off the screen: a black
# picture covers four times the pixels at 200 %. Usage: keyboard_layout.sh <bin/speckmoor> <E2eTool>
E2E_FBDIR=$(mktemp -d)
E2E_XVFB_ARGS="-fbdir $E2E_FBDIR"
source "$(dirname "$0")/lib.sh" keyboard_layout
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")
trap 'cleanup; rm -rf "$E2E_FBDIR"' EXIT
if ! command -v setxkbmap >/dev/null; then
  echo "keyboard_layout: skipped: setxkbmap is missing (x11-xkb-utils; scripts/install-deps installs it)"
  exit 77
fi
setxkbmap -layout fr || fail "the display has no French layout"
# The key labelled 2, as the display now maps it, over the lines of its entry.
keymap=$(xkbcomp "$DISPLAY" - 2>/dev/null) || fail "the display's keymap cannot be read"
key_2=$(awk '/key <AE02>/ { on = 1 } on { print } on && /};/ { exit }' <<<"$keymap")
[[ "$key_2" == *eacute* ]] || fail "the display kept its keyboard layout: $key_2"

"$tool" flat "$work/black.png" 100 100 0
start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
focus "$main"
press ctrl+o
dialog=$(window_named 'Open|Find') || fail "no open dialog"
type_into "$dialog" "$work/black.png"
wait_closed "$dialog" || fail "the open dialog stayed"

# The frame buffer is the screen itself; the picture is on it once drawn. Besides the picture, only the
# menu's letters are black.
black=0
count_black() {
  eval "$(xdotool getwindowgeometry --shell "$main")"
  black=$("$tool" count "$E2E_FBDIR/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" 0)
}
drawn() { count_black && [ "$black" -ge 10000 ]; }
wait_until drawn || fail "the picture covers $black pixels at 100 %, fewer than 10000"
before=$black
focus "$main"
press ctrl+shift+eacute  # Ctrl and 2 on a French keyboard: Shift and the key labelled é and 2
zoomed() { count_black && [ $((black - before)) -eq 30000 ]; }
wait_until zoomed ||
  fail "Ctrl and the key labelled 2 took the black pixels from $before to $black, not 30000 more"
press ctrl+q
expect_exit_0
echo "keyboard_layout: 1 passed, 0 failed"
