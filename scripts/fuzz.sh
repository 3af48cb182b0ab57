#!/usr/bin/env bash
# Builds the fuzz target (load, render and save over arbitrary bytes) with
# clang in build-fuzz/ and runs it for a given time on one core:
#   fuzz.sh [--seeds GLOB] SECONDS [LIBFUZZER-OPTIONS...]
# The corpus grows in build-fuzz/corpus, started from tests/data/fuzz-seeds
# (each seed behind a first line naming its extension); findings (crash-*,
# leak-*, timeout-*, oom-*) land in build-fuzz/findings/.
# --seeds keeps one decoder's time for it: only the seeds matching GLOB
# (e.g. '*.jxl') start the corpus, which then grows in its own folder,
# build-fuzz/corpus-GLOB, so that a whole-set corpus does not mix in.
# Turn a finding into a regression file, replayed by the tests, with
#   fuzz.sh --export FINDING NAME      (writes tests/data/fuzz-regressions/NAME.EXT)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--export" ]; then
  finding=$2 name=$3
  extension=$(head -n 1 "$finding" | tr -d '\n')
  mkdir -p tests/data/fuzz-regressions
  if [[ "$extension" =~ ^[a-z0-9]{1,8}$ ]]; then
    tail -c +$((${#extension} + 2)) "$finding" >"tests/data/fuzz-regressions/$name.$extension"
    echo "tests/data/fuzz-regressions/$name.$extension"
  else
    cp "$finding" "tests/data/fuzz-regressions/$name.img"
    echo "tests/data/fuzz-regressions/$name.img"
  fi
  exit 0
fi

seeds='*'
corpus=build-fuzz/corpus
if [ "${1:-}" = "--seeds" ]; then
  seeds=${2:?usage: fuzz.sh [--seeds GLOB] SECONDS [LIBFUZZER-OPTIONS...]}
  corpus=build-fuzz/corpus-$(printf '%s' "$seeds" | tr -c 'A-Za-z0-9.-' '_')
  shift 2
fi
seconds=${1:?usage: fuzz.sh [--seeds GLOB] SECONDS [LIBFUZZER-OPTIONS...]}
shift

bash scripts/install-deps.sh fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DPIXQUILL_FUZZ=ON -DPIXQUILL_BUILD_GUI=OFF -DPIXQUILL_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)" --target pixquill_fuzz_load

findings=build-fuzz/findings
mkdir -p "$corpus" "$findings"
if [ -z "$(ls -A "$corpus")" ]; then
  shopt -s nullglob
  matched=(tests/data/fuzz-seeds/$seeds)
  shopt -u nullglob
  [ ${#matched[@]} -gt 0 ] || { echo "fuzz.sh: no seed matches $seeds" >&2; exit 1; }
  for seed in "${matched[@]}"; do
    { printf '%s\n' "${seed##*.}"; cat "$seed"; } >"$corpus/seed-$(basename "$seed")"
  done
fi

# One child process at a time (one core) that is restarted after a finding,
# so that a run collects every finding instead of stopping at the first.
# Leaks inside system libraries are suppressed as in the sanitizer tests.
# Library warnings (libtiff is loud) would drown the fuzzer's own lines, so
# the target's stdout and stderr are closed; the reports still come through.
# An allocation too large to make returns null, as malloc does in a normal
# build, where FreeImage's readers handle it.
export ASAN_OPTIONS="allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1"
exec build-fuzz/tests/fuzz/pixquill_fuzz_load -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
  -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/" "$@" "$corpus"
