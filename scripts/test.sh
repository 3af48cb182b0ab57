#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless; then builds
# the core and the command line once more with AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer in build-asan/ and runs their
# tests there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Warnings are errors here: a warning in a change fails the tests. -O2 as
# shipped, with line tables only: a failure's backtrace keeps file and line,
# and the build takes about a fifth less than with full debug information.
# Each test program runs as four shares of its cases rather than a process a
# case (PIXQUILL_TEST_SHARDS in tests/CMakeLists.txt): the same cases, at a
# third of the processor time. For one case at a time, configure a build
# folder of your own without it and use `ctest -R`.
bash scripts/build.sh -DPIXQUILL_WERROR=ON -DPIXQUILL_TEST_SHARDS=4 \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

# -O1 and line tables only: the sanitizers find the same faults and their
# reports keep file and line, at well under half the compile time of -O2 -g.
PIXQUILL_BUILD_DIR=build-asan bash scripts/build.sh -DPIXQUILL_SANITIZE=ON -DPIXQUILL_BUILD_GUI=OFF \
  -DPIXQUILL_TEST_SHARDS=4 "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
