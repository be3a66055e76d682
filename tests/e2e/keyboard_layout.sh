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
command -v setxkbmap >/dev/null || fail "setxkbmap is missing (scripts/install-deps installs it)"
setxkbmap -layout fr || fail "the display has no French layout"
# Some virtual displays keep their first keymap whatever they are told: then there is nothing to test.
if ! xkbcomp "$DISPLAY" - 2>/dev/null | grep -q 'key <AE02>.*eacute'; then
  echo "keyboard_layout: skipped: this display does not change its keyboard layout"
  exit 77
fi

"$tool" flat "$work/black.png" 100 100 0
start_program "$exe"
main=$(window_named '^Speckmoor$') || fail "no document window"
focus "$main"
press ctrl+o
type_into "$(window_named 'Open|Find')" "$work/black.png" || fail "no open dialog"
wait_gone 'Open|Find' || fail "the open dialog stayed"

black() {
  eval "$(xdotool getwindowgeometry --shell "$main")"
  sleep 0.5  # the frame buffer follows the screen
  "$tool" count "$E2E_FBDIR/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" 0
}
# Besides the picture, only the menu's letters are black.
before=$(black)
[ "$before" -ge 10000 ] || fail "the picture covers $before pixels at 100 %, fewer than 10000"
focus "$main"
press ctrl+shift+eacute  # Ctrl and 2 on a French keyboard: Shift and the key labelled é and 2
for _ in $(seq 1 50); do after=$(black); [ "$after" -ne "$before" ] && break; done
[ $((after - before)) -eq 30000 ] || fail "Ctrl and the key labelled 2 took the black pixels from $before to $after, not 30000 more"
press ctrl+q
expect_exit_0
echo "keyboard_layout: 1 passed, 0 failed"
