#!/usr/bin/env bash
# scripts/run builds what the application folder needs and nothing else, then starts the program from it.
# It runs on a fresh configuration of a copy of the sources, with ninja in dry-run mode for the build
# (explaining each output it would make: "is dirty") and a stand-in for the program.
# Usage: run.sh <source folder> <application folder of a full build>
set -euo pipefail
source_dir=$1
bundle=$2
work=$(cd "$(mktemp -d)" && pwd -P)  # as the wrapper will see it
trap 'rm -rf "$work"' EXIT
fail() { echo "run: $*" >&2; exit 1; }

# The sources, less any build folder; the scripts copied, so they see the copy as their project.
mkdir "$work/src"
for entry in "$source_dir"/*; do
  [ -e "$entry/CMakeCache.txt" ] || ln -s "$entry" "$work/src/"
done
rm "$work/src/scripts"
cp -r "$source_dir/scripts" "$work/src/scripts"
printf '#!/usr/bin/env bash\n' > "$work/src/scripts/install-deps"  # installing is not what is tested

# CMake's own checks run the real ninja; a build of the build folder is a dry run.
real_ninja=$(command -v ninja) || fail "ninja is not installed"
mkdir "$work/bin"
cat > "$work/bin/ninja" <<WRAPPER
#!/bin/sh
if [ "\$PWD" = "$work/src/build" ] && [ "\${1#-}" = "\${1:-}" ]; then exec "$real_ninja" -n -d explain "\$@"; fi
exec "$real_ninja" "\$@"
WRAPPER
chmod +x "$work/bin/ninja"
mkdir -p "$work/src/build/Speckmoor/bin"
printf '#!/bin/sh\ntouch "%s/started"\n' "$work" > "$work/src/build/Speckmoor/bin/speckmoor"
chmod +x "$work/src/build/Speckmoor/bin/speckmoor"

PATH="$work/bin:$PATH" bash "$work/src/scripts/run" > "$work/log" 2>&1 || { cat "$work/log"; fail "scripts/run failed"; }
[ -f "$work/started" ] || { cat "$work/log"; fail "the program was not started"; }

sed -n "s/^ninja explain: \(.*\) is dirty$/\1/p" "$work/log" | sort -u > "$work/outputs"
[ -s "$work/outputs" ] || { cat "$work/log"; fail "no build was asked for"; }
status=0
if grep -E '^(tests|bench)/' "$work/outputs" > "$work/unwanted"; then
  echo "run: would build $(wc -l < "$work/unwanted") outputs of the tests and benchmarks, such as:" >&2
  head -5 "$work/unwanted" >&2
  status=1
fi
while read -r file; do
  grep -qxF "Speckmoor/$file" "$work/outputs" || { echo "run: would not build Speckmoor/$file" >&2; status=1; }
done < <(cd "$bundle" && find . -type f -printf '%P\n')
[ "$status" -eq 0 ] && echo "run: $(wc -l < "$work/outputs") outputs, none of them a test or a benchmark"
exit "$status"
