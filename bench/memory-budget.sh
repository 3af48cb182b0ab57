#!/usr/bin/env bash
# The run's memory budget: peak memory of the process tree (bench/peak-tree-memory.py)
# and time for
#   1. one grid HEIC of one shared tile, 16,384 x 16,384 (pixquill_grid_heic), alone;
#   2. two of them with --jobs 2 --memory-limit 6G;
#   3. the photo set (bench/make-photo-set.sh) with the default budget, against
#      BASELINE (a pixquill-batch without the budget), RUNS rounds in turn.
# usage: bench/memory-budget.sh BUILD [BASELINE] [RUNS]
set -euo pipefail
build=${1:?BUILD}
baseline=${2:-}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
batch=$build/cli/pixquill-batch
work=$(mktemp -d /tmp/pixquill-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/grid"
"$build/bench/pixquill_grid_heic" "$work/grid/a.heic"
cp "$work/grid/a.heic" "$work/grid/b.heic"
echo "case peak_gib seconds exit"
echo "grid_alone $(python3 "$here/peak-tree-memory.py" "$batch" --jobs 1 "$work/grid" "$work/one" a.heic)"
echo "grid_two_6G $(python3 "$here/peak-tree-memory.py" "$batch" --jobs 2 --memory-limit 6G "$work/grid" "$work/two" a.heic b.heic)"
ls "$work/two"

photos=/tmp/pixquill-bench/photos
"$here/make-photo-set.sh" "$photos" > /dev/null
[ -n "$baseline" ] || exit 0
for ((round = 1; round <= runs; ++round)); do
    for which in budget baseline; do
        program=$batch
        [ "$which" = baseline ] && program=$baseline
        rm -rf "$work/out"
        echo "photos_$which $(python3 "$here/peak-tree-memory.py" "$program" --jobs 2 "$photos" "$work/out")"
    done
done
