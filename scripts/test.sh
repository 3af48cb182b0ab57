#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless; then builds
# the core and the command line once more with AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer in build-asan/ and runs their
# tests there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

PIXQUILL_BUILD_DIR=build-asan bash scripts/build.sh -DPIXQUILL_SANITIZE=ON -DPIXQUILL_BUILD_GUI=OFF
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
