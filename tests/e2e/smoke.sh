#!/usr/bin/env bash
# The real program from its bundle on a virtual display, driven from the keyboard as a person would:
# the first window appears, Ctrl+N makes a second, Ctrl+W closes one, Ctrl+Q ends the program with 0.
# Usage: smoke.sh <path to bin/speckmoor>
set -euo pipefail
exe=$(readlink -f "$1")
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "smoke: $tool is missing (scripts/install-deps installs it)"; exit 1; }
done
if [ -z "${SMOKE_INSIDE_X:-}" ]; then
  exec env SMOKE_INSIDE_X=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$exe"
fi
unset QT_QPA_PLATFORM

log=$(mktemp)
"$exe" >"$log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -f "$log"' EXIT

# Waits until `xdotool search` finds exactly $2 windows named $1; fails after 20 s.
wait_for_windows() {
  local name=$1 want=$2 n=0
  for _ in $(seq 1 200); do
    n=$({ xdotool search --onlyvisible --name "$name" 2>/dev/null || true; } | wc -l)
    [ "$n" -eq "$want" ] && return 0
    sleep 0.1
  done
  echo "smoke: expected $want window(s) named '$name', found $n"; cat "$log"; exit 1
}

press() {
  local window
  window=$({ xdotool search --onlyvisible --name '^Speckmoor$' || true; } | head -n 1)
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  xdotool key --clearmodifiers "$1"
}

wait_for_windows '^Speckmoor$' 1
# A start-up warning about missing plug-ins would hold the keyboard: report it and dismiss it.
sleep 0.5
box=$({ xdotool search --onlyvisible --name '^Plug-ins missing$' 2>/dev/null || true; } | head -n 1)
if [ -n "$box" ]; then
  echo "smoke: note: the program reported missing plug-ins"
  xdotool windowfocus "$box" 2>/dev/null || true
  xdotool key --clearmodifiers Return
  sleep 0.3
fi
press ctrl+n
wait_for_windows '^Speckmoor$' 2
press ctrl+w
wait_for_windows '^Speckmoor$' 1
press ctrl+q
for _ in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then echo "smoke: Ctrl+Q did not end the program"; cat "$log"; exit 1; fi
wait $pid && code=0 || code=$?
[ "$code" -eq 0 ] || { echo "smoke: exit code $code"; cat "$log"; exit 1; }
echo "smoke: 1 passed, 0 failed"
