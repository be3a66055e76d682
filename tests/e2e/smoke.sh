#!/usr/bin/env bash
# The real program from its bundle on a virtual display, driven from the keyboard as a person would:
# the first window appears, Ctrl+N makes a second, Ctrl+W closes one, the About window opens from the
# View menu with no title at all, Ctrl+Q ends the program with 0.
# Usage: smoke.sh <path to bin/speckmoor> <E2eTool>
source "$(dirname "$0")/lib.sh" smoke
exe=$(readlink -f "$1")
tool=$(readlink -f "$2")

press_in_front() {
  focus "$(windows_named '^Speckmoor$' | head -n 1)"
  press "$1"
}
two_windows_or_warning() { count_is '^Speckmoor$' 2 || [ -n "$(windows_named '^Plug-ins missing$')" ]; }

start_program "$exe"
wait_windows '^Speckmoor$' 1 || fail "no document window"
press_in_front ctrl+n
wait_until two_windows_or_warning || fail "Ctrl+N made no second window"
# A start-up warning about missing plug-ins comes before any key is read and holds the keyboard: report
# it, dismiss it and ask again.
box=$(windows_named '^Plug-ins missing$' | head -n 1)
if [ -n "$box" ]; then
  echo "smoke: note: the program reported missing plug-ins"
  focus "$box"
  press Return
  wait_closed "$box" || fail "the missing plug-ins warning stayed"
  press_in_front ctrl+n
  wait_windows '^Speckmoor$' 2 || fail "Ctrl+N made no second window"
fi
press_in_front ctrl+w
wait_windows '^Speckmoor$' 1 || fail "Ctrl+W closed no window"

# View > "About Speckmoor...": a click opens File, three menus to the right is View, and Up from its first
# item wraps to its last. The window manager must be told no title, in neither of the two names it reads.
main=$(windows_named '^Speckmoor$' | head -n 1)
focus "$main"
xdotool mousemove --window "$main" 15 10 click 1 || fail "could not click the menu bar"
press Right Right Right Up Return
# The About window is the one of its size besides the document window.
about=""
about_shown() {
  local id WINDOW X Y WIDTH HEIGHT SCREEN
  for id in $(windows_besides '' "$main"); do
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
    [ "$WIDTH" = 284 ] && [ "$HEIGHT" = 228 ] && about=$id && return 0
  done
  return 1
}
about_or_ended() { about_shown || ! alive; }
wait_until about_or_ended && [ -n "$about" ] || fail "no About window"
title=$("$tool" title "$about") || fail "could not read the About window's title"
[ "$title" = "WM_NAME '' _NET_WM_NAME ''" ] || fail "the About window is titled: $title"
press_in_front ctrl+q
expect_exit_0
echo "smoke: 1 passed, 0 failed"
