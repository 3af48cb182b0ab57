#!/usr/bin/env bash
# Installs what is missing, builds the window and starts it:
#   run.sh [PIXQUILL-ARGUMENTS...]
# Builds only the program and what it links (its decode workers are copies of
# itself, their system call filter is made while its core library builds), in
# build/ as scripts/build.sh configures it; the tests are scripts/test.sh's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
# Once configured, the build folder configures itself again when a
# CMakeLists.txt changed; configuring it anew each time costs seconds.
if [ ! -f build/Makefile ] && [ ! -f build/build.ninja ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$jobs" --target pixquill
exec ./build/ui/main/pixquill "$@"
