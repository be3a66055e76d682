# What the end-to-end scripts share: a virtual display of their own, a work folder, the program started
# from its bundle, and waiting for windows as a person would see them. Sourced as
#   source lib.sh <name>
# it leaves `work` (a fresh folder, removed at exit), `e2e_name`, DISPLAY and the helpers below. A script
# may ask for more of the display, such as a frame buffer in a folder (E2E_XVFB_ARGS).
set -euo pipefail
e2e_name=$1
# The longest one step may take, in seconds: a window to appear, a batch to end, the program to quit. A
# loaded machine can be many times slower than an idle one, and a test that times out tells nothing more.
e2e_bound=${E2E_BOUND:-90}
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
# Says what went wrong, what the program printed and which windows were up, and ends the script.
fail() {
  echo "$e2e_name: $*"
  cat "$log" 2>/dev/null || true
  if [ -n "$xvfb" ]; then
    local id
    for id in $(windows_named .); do echo "window $id: $(xdotool getwindowname "$id" 2>/dev/null || true)"; done
  fi
  exit 1
}

# Runs a command until it succeeds, every tenth of a second, for at most e2e_bound seconds. A command
# that fails, a pipe in it included, only means "not yet".
wait_until() {
  local end=$((SECONDS + e2e_bound))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# Xvfb picks a display number whose every socket is free and writes it once it takes connections. Picking
# by lock files instead (xvfb-run -a) races with displays starting elsewhere on the machine, and can hand
# the program a display that answers on another server's socket.
# A display that will not start is tried afresh, up to three times, before the script fails. Without
# -noreset the server resets when the check's client leaves and can refuse a program connecting meanwhile.
display_written() { [ "$(wc -l <"$work/display")" -ge 1 ] || ! kill -0 "$xvfb" 2>/dev/null; }
start_display() {
  : >"$work/display"
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 ${E2E_XVFB_ARGS:-} \
    3>"$work/display" >>"$work/xvfb.log" 2>&1 &
  xvfb=$!
  if wait_until display_written && [ "$(wc -l <"$work/display")" -ge 1 ] &&
     DISPLAY=":$(head -n 1 "$work/display")" xdotool getdisplaygeometry >/dev/null 2>&1; then
    return 0
  fi
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

# Every visible window whose name matches, one id a line, bottom of the stack first.
windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
# The visible windows whose name matches $1, less the ids that follow.
windows_besides() {
  local pattern=$1 id
  shift
  for id in $(windows_named "$pattern"); do
    [[ " $* " == *" $id "* ]] || echo "$id"
  done
}
# Waits for a visible window whose name matches $1, less the ids that follow; prints the topmost one's id.
# A program that has ended shows no more windows: the wait stops there.
found=""
find_window() { found=$(windows_besides "$@" | tail -n 1); [ -n "$found" ]; }
found_or_ended() { find_window "$@" || { [ -n "$pid" ] && ! alive; }; }
window_named() { wait_until found_or_ended "$@" && [ -n "$found" ] && echo "$found"; }
# Waits until exactly $2 visible windows match $1.
count_is() { [ "$(windows_named "$1" | wc -l)" -eq "$2" ]; }
count_or_ended() { count_is "$1" "$2" || { [ "$2" -gt 0 ] && [ -n "$pid" ] && ! alive; }; }
wait_windows() { wait_until count_or_ended "$1" "$2" && count_is "$1" "$2"; }
wait_gone() { wait_windows "$1" 0; }
# Waits until window $1 is no longer shown.
window_shown() {
  local id
  for id in $(windows_named ''); do [ "$id" = "$1" ] && return 0; done
  return 1
}
window_closed() { ! window_shown "$1"; }
wait_closed() { wait_until window_closed "$1"; }
wait_file() { wait_until test -s "$1"; }
# How many files a folder holds, the hidden ones not counted (a batch's files before they are whole).
files_in() { { ls "$1" 2>/dev/null || true; } | wc -l; }
holds_files() { [ "$(files_in "$1")" -ge "$2" ]; }
# Waits until a folder holds at least $2 files.
wait_count() { wait_until holds_files "$1" "$2"; }
# Gives window $1 the keyboard, once the display says it has it.
has_focus() { xdotool windowfocus "$1" 2>/dev/null && [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$1" ]; }
focus() {
  [ -n "$1" ] || fail "no window to give the keyboard to"
  wait_until has_focus "$1" || fail "window $1 would not take the keyboard"
}
press() { xdotool key --clearmodifiers "$@" || fail "could not press $*"; }
# Types into a dialog's name field and presses Return.
type_into() {
  focus "$1"
  press ctrl+a
  xdotool type --delay 5 "$2" || fail "could not type $2"
  press Return
}
alive() { kill -0 "$pid" 2>/dev/null; }
ended() { ! alive; }
# Waits for the program to end by itself; fails unless it ends with code $1.
expect_exit() {
  wait_until ended || fail "the program did not end"
  local code=0
  wait "$pid" || code=$?
  pid=""
  [ "$code" -eq "$1" ] || fail "exit code $code, not $1"
}
expect_exit_0() { expect_exit 0; }
# Opens picture $2 in document window $1 and saves it as $3, through the real dialogs.
open_and_save() {
  local dialog
  focus "$1"
  press ctrl+o
  dialog=$(window_named 'Open|Find') || fail "no open dialog"
  type_into "$dialog" "$2"
  wait_closed "$dialog" || fail "the open dialog stayed"
  focus "$1"
  press ctrl+s
  dialog=$(window_named 'Save') || fail "no save dialog"
  type_into "$dialog" "$3"
  wait_file "$3" || fail "nothing was saved"
  wait_closed "$dialog" || fail "the save dialog stayed"
}
# Writes $2 grey pictures of $3 x $4 named <prefix><n>.png into folder $1 (made), with the E2eTool $6.
make_greys() {
  mkdir -p "$1"
  for i in $(seq 1 "$2"); do "$6" grey "$1/$5$((i + 100)).png" "$3" "$4" "$i"; done
}
# The same with four pictures copied over and over: quicker to make when a batch must last a while.
# After a batch of folder $2 ($3 pictures) into folder $1 was stopped part-way, checked with the E2eTool
# $4: no hidden file is left there, fewer than all were written, and every one written is its source
# dithered.
expect_stopped_whole() {
  local hidden written f
  hidden=$(ls -A "$1" | grep '^\.' || true)
  [ -z "$hidden" ] || fail "left in the output folder: $hidden"
  written=$(files_in "$1")
  [ "$written" -lt "$3" ] || fail "the batch was not cancelled ($written files)"
  for f in "$1"/*.png; do
    "$4" check "$2/$(basename "$f")" "$f" 1 || fail "$(basename "$f") is not whole"
  done
}
make_copies() {
  mkdir -p "$1"
  for i in 1 2 3 4; do "$6" grey "$work/variant$i.png" "$3" "$4" "$i"; done
  for i in $(seq 1 "$2"); do cp "$work/variant$(( i % 4 + 1 )).png" "$1/$5$((i + 100)).png"; done
}
# Starts a batch of folder $2 into folder $3 from document window $1, through the two dialogs.
batch_from() {
  local dialog
  focus "$1"
  press ctrl+b
  dialog=$(window_named 'Choose a Folder') || fail "no choose-folder dialog for $2"
  type_into "$dialog" "$2"
  wait_closed "$dialog" || fail "the choose-folder dialog for $2 stayed"
  dialog=$(window_named 'Batch processed images') || fail "no location dialog for $2"
  type_into "$dialog" "$3"
  wait_closed "$dialog" || fail "the location dialog for $2 stayed"
}
