#!/usr/bin/env bash
# Builds the picture fuzzer with clang (libFuzzer, ASan, UBSan) in a build folder of its own, runs every
# input of fuzz/regressions/ once, then fuzzes for a while over a corpus of small valid pictures.
# Usage: fuzz/run.sh [seconds]. Each input the fuzzer finds failing (build-fuzz/fuzz-artifacts/) goes into
# fuzz/regressions/ with its mend, so it is run again every time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SPECKMOOR_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPECKMOOR_FUZZ=ON -DSPECKMOOR_SANITIZE=address \
  -DSPECKMOOR_BENCH=OFF -DBUILD_TESTING=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_EXE_LINKER_FLAGS=-shared-libasan -DCMAKE_MODULE_LINKER_FLAGS=-shared-libasan \
  -DCMAKE_SHARED_LINKER_FLAGS=-shared-libasan
ninja -C "$build" picture_fuzzer picture_fuzz_corpus

corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
mkdir -p "$corpus" "$artifacts"
export QT_QPA_PLATFORM=offscreen
# The plug-ins are linked with --no-undefined, so the sanitizer runtime is the shared one.
export LD_LIBRARY_PATH=$(dirname "$(clang -print-file-name=libclang_rt.asan-x86_64.so)")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:verify_asan_link_order=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$build/fuzz/picture_fuzz_corpus" "$corpus"
regressions=("$root"/fuzz/regressions/*)
if [ -e "${regressions[0]}" ]; then
  "$build/fuzz/picture_fuzzer" -rss_limit_mb=2560 -timeout=30 "${regressions[@]}"
fi
"$build/fuzz/picture_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2560 -max_len=1048576 \
  -timeout=30 -artifact_prefix="$artifacts/" "$corpus"
