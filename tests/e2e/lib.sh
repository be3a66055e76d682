# What the end-to-end scripts share: a virtual display of their own, a work folder, the program started
# from its bundle, and waiting for windows as a person would see them. Sourced as
#   source lib.sh <name>
# it leaves `work` (a fresh folder, removed at exit), `e2e_name`, DISPLAY and the helpers below. A script
# may ask for more of the display, such as a frame buffer in a folder (E2E_XVFB_ARGS).
set -euo pipefail
e2e_name=$1
for t in Xvfb xdotool; do
  command -v "$t" >/dev/null || { echo "$e2e_name: $t is missing (scripts/install-deps installs it)"; exit 1; }
done
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

work=$(mktemp -d)
log="$work/program.log"
# Qt's own runtime folder, kept apart from the program's temporary folder.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
pid=""
xvfb=""
cleanup() {
  # A program that a failed script leaves running may be stuck in the quit that SIGTERM starts.
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$e2e_name: $*"; cat "$log" 2>/dev/null || true; exit 1; }

# Xvfb picks a display number whose every socket is free and writes it once it takes connections. Picking
# by lock files instead (xvfb-run -a) races with displays starting elsewhere on the machine, and can hand
# the program a display that answers on another server's socket.
# A display that will not start is tried afresh, up to three times, before the script fails. Without
# -noreset the server resets when the check's client leaves and can refuse a program connecting meanwhile.
start_display() {
  : >"$work/display"
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 ${E2E_XVFB_ARGS:-} \
    3>"$work/display" >>"$work/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 1 300); do
    if [ "$(wc -l <"$work/display")" -ge 1 ]; then
      DISPLAY=":$(head -n 1 "$work/display")" xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
      break
    fi
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
  return 1
}
# A fresh display; a script that ended its display (a lost session) calls it again for the next one.
open_display() {
  for attempt in 1 2 3; do
    start_display && break
    [ "$attempt" -eq 3 ] && { cat "$work/xvfb.log"; fail "no virtual display would start"; }
  done
  export DISPLAY=":$(head -n 1 "$work/display")"
}
open_display

# Starts the program (a command and its arguments) in the background; its output goes to $log.
start_program() {
  "$@" >"$log" 2>&1 &
  pid=$!
}

# Every visible window whose name matches, one id a line.
windows_named() { { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }; }
# Waits for a visible window whose name matches; prints the newest one's id.
window_named() {
  local id=""
  for _ in $(seq 1 300); do
    id=$(windows_named "$1" | tail -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# Waits until exactly $2 visible windows match $1.
wait_windows() {
  local n=0
  for _ in $(seq 1 300); do
    n=$(windows_named "$1" | wc -l)
    [ "$n" -eq "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
wait_gone() { wait_windows "$1" 0; }
wait_file() { for _ in $(seq 1 300); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
# Waits until a folder holds $2 files.
wait_count() {
  for _ in $(seq 1 600); do
    [ "$(ls "$1" 2>/dev/null | wc -l)" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
focus() { xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"; }
press() { xdotool key --clearmodifiers "$@"; }
# Types into a dialog's name field and presses Return.
type_into() {
  focus "$1"
  press ctrl+a
  xdotool type --delay 5 "$2"
  press Return
}
alive() { kill -0 "$pid" 2>/dev/null; }
# Waits for the program to end by itself (up to $2 tenths of a second); fails unless it ends with code $1.
expect_exit() {
  for _ in $(seq 1 ${2:-100}); do alive || break; sleep 0.1; done
  alive && fail "the program did not end"
  local code=0
  wait "$pid" || code=$?
  pid=""
  [ "$code" -eq "$1" ] || fail "exit code $code, not $1"
}
expect_exit_0() { expect_exit 0 "$@"; }
# Opens picture $2 in document window $1 and saves it as $3, through the real dialogs.
open_and_save() {
  focus "$1"
  press ctrl+o
  type_into "$(window_named 'Open|Find')" "$2" || fail "no open dialog"
  wait_gone 'Open|Find' || fail "the open dialog stayed"
  focus "$1"
  press ctrl+s
  type_into "$(window_named 'Save')" "$3" || fail "no save dialog"
  wait_file "$3" || fail "nothing was saved"
}
# Writes $2 grey pictures of $3 x $4 named <prefix><n>.png into folder $1 (made), with the E2eTool $6.
make_greys() {
  mkdir -p "$1"
  for i in $(seq 1 "$2"); do "$6" grey "$1/$5$((i + 100)).png" "$3" "$4" "$i"; done
}
# The same with four pictures copied over and over: quicker to make when a batch must last a while.
make_copies() {
  mkdir -p "$1"
  for i in 1 2 3 4; do "$6" grey "$work/variant$i.png" "$3" "$4" "$i"; done
  for i in $(seq 1 "$2"); do cp "$work/variant$(( i % 4 + 1 )).png" "$1/$5$((i + 100)).png"; done
}
# Starts a batch of folder $2 into folder $3 from document window $1, through the two dialogs.
batch_from() {
  focus "$1"
  press ctrl+b
  type_into "$(window_named 'Choose a Folder')" "$2" || fail "no choose-folder dialog for $2"
  type_into "$(window_named 'Batch processed images')" "$3" || fail "no location dialog for $2"
}
