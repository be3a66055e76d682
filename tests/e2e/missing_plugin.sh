#!/usr/bin/env bash
# The program from a copy of its bundle with one plug-in missing and one broken: it says so in a
# message, still opens its window, and quits cleanly. Usage: missing_plugin.sh <path to bin/speckmoor>
source "$(dirname "$0")/lib.sh" missing_plugin
bundle=$(dirname "$(dirname "$(readlink -f "$1")")")
cp -r "$bundle" "$work/Speckmoor"
rm "$work/Speckmoor/Plugins/libFolderChooser.so"
echo "not a library" > "$work/Speckmoor/Plugins/libBroken.so"

start_program "$work/Speckmoor/bin/speckmoor"
main=$(window_named '^Speckmoor$') || fail "no document window"
box=$(window_named '^Plug-ins missing$') || fail "the missing plug-in was not reported"
grep -q "libBroken.so" "$log" || fail "the broken plug-in was not named"
focus "$box"
press Return
wait_closed "$box" || fail "the message stayed"
focus "$main"
press ctrl+q
expect_exit_0
echo "missing_plugin: 1 passed, 0 failed"
