#!/usr/bin/env bash
# Builds the Debian package: build-package/pixquill_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --package
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DPIXQUILL_BUILD_TESTS=OFF >/dev/null
cmake --build build-package -j"$jobs"
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/pixquill_*.deb
