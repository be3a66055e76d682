#!/usr/bin/env bash
# The real program from its bundle on a virtual display, driven from the keyboard as a person would:
# the first window appears, Ctrl+N makes a second, Ctrl+W closes one, Ctrl+Q ends the program with 0.
# Usage: smoke.sh <path to bin/speckmoor>
source "$(dirname "$0")/lib.sh" smoke
exe=$(readlink -f "$1")

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
press_in_front ctrl+q
expect_exit_0
echo "smoke: 1 passed, 0 failed"
