#!/usr/bin/env bash
# The program from a copy of its bundle with one plug-in missing and one broken: it says so in a
# message, still opens its window, and quits cleanly. Usage: missing_plugin.sh <path to bin/speckmoor>
set -euo pipefail
bundle=$(dirname "$(dirname "$(readlink -f "$1")")")
for t in xvfb-run xdotool; do command -v "$t" >/dev/null || { echo "missing_plugin: $t is missing"; exit 1; }; done
if [ -z "${MISSING_INSIDE_X:-}" ]; then
  exec env MISSING_INSIDE_X=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$1"
fi
unset QT_QPA_PLATFORM
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$bundle" "$work/Speckmoor"
rm "$work/Speckmoor/Plugins/libFolderChooser.so"
echo "not a library" > "$work/Speckmoor/Plugins/libBroken.so"

"$work/Speckmoor/bin/speckmoor" >"$work/log" 2>&1 &
pid=$!
find_window() {
  for _ in $(seq 1 200); do
    id=$({ xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
find_window '^Speckmoor$' >/dev/null || { echo "missing_plugin: no document window"; cat "$work/log"; exit 1; }
box=$(find_window '^Plug-ins missing$') || { echo "missing_plugin: the missing plug-in was not reported"; exit 1; }
grep -q "libBroken.so" "$work/log" || { echo "missing_plugin: the broken plug-in was not named"; cat "$work/log"; exit 1; }
xdotool windowfocus "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
sleep 0.3
main=$(find_window '^Speckmoor$')
xdotool windowfocus "$main" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+q
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" && code=0 || code=$?
pid=""
[ "$code" -eq 0 ] || { echo "missing_plugin: exit code $code"; exit 1; }
echo "missing_plugin: 1 passed, 0 failed"
