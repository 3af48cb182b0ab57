#!/usr/bin/env bash
# Configures and builds (install dependencies first with install-deps.sh):
#   build.sh [CMAKE-OPTIONS...]
# into build/, or into the folder PIXQUILL_BUILD_DIR names.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${PIXQUILL_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"$jobs"
