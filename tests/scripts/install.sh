#!/usr/bin/env bash
# Installing into a prefix of its own, and under DESTDIR, gives a speckmoor command in bin/ that leads to
# the installed application folder; the program started by that command reads the installed plug-ins.
# Usage: install.sh <build folder> <application folder of that build>
set -euo pipefail
build=$1
bundle=$2
work=$(cd "$(mktemp -d)" && pwd -P)  # as readlink -f gives it
trap 'rm -rf "$work"' EXIT
fail() { echo "install: $*" >&2; exit 1; }

# The command in <root>/bin leads to a copy of the whole application folder under <root>.
check_command() {
  local root=$1 command=$1/bin/speckmoor
  [ -x "$command" ] || fail "no executable $command"
  local real
  real=$(readlink -f "$command")
  case "$real" in "$root"/*) ;; *) fail "$command leads to $real, outside $root" ;; esac
  cmp -s "$real" "$bundle/bin/speckmoor" || fail "$command leads to $real, which is not the program"
  local installed
  installed=$(dirname "$(dirname "$real")")
  while read -r file; do
    cmp -s "$bundle/$file" "$installed/$file" || fail "$installed/$file is not the build's"
  done < <(cd "$bundle" && find . -type f -printf '%P\n')
}

cmake --install "$build" --prefix "$work/prefix" > /dev/null
check_command "$work/prefix"
DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/speckmoor > /dev/null
check_command "$work/stage/opt/speckmoor"

# A file that is no plug-in among the installed ones: the program names it, with its folder, when it
# reads that folder.
installed=$(dirname "$(dirname "$(readlink -f "$work/prefix/bin/speckmoor")")")
echo "not a library" > "$installed/Plugins/libBroken.so"
QT_QPA_PLATFORM=offscreen timeout -k 10 120 "$work/prefix/bin/speckmoor" > /dev/null 2> "$work/log" &
program=$!
for _ in $(seq 600); do
  grep -qF "skipped plug-in libBroken.so" "$work/log" && break
  kill -0 "$program" 2> /dev/null || break
  sleep 0.1
done
kill -TERM "$program" 2> /dev/null || true
status=0
wait "$program" || status=$?
grep -qF "$installed/Plugins/libBroken.so" "$work/log" || { cat "$work/log"; fail "the installed plug-ins were not read"; }
[ "$status" -eq 0 ] || { cat "$work/log"; fail "the program ended with $status"; }
echo "install: the command leads to the installed folder, whose plug-ins the program reads"
