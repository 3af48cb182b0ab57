#!/usr/bin/env bash
# Checks that two builds of pixquill-batch write the same bytes:
#   same-bytes.sh BASELINE-BATCH CANDIDATE-BATCH [PHOTO-DIR] [EXTRA-OPTIONS...]
# Every output format × the filters none, bilinear and lanczos3, fitted into
# 100 × 100, over the benchmark photo set (make-photo-set.sh) or PHOTO-DIR.
# Prints one line per setting and ends non-zero on the first difference.
set -euo pipefail
baseline=$1 candidate=$2
# (Not ${3:-$(...)}: bash cannot parse quotes nested inside that default.)
photos=${3:-}
[ -n "$photos" ] || photos=$(bash "$(dirname "$0")/make-photo-set.sh")
shift $(( $# < 3 ? $# : 3 ))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
total=0
for format in bmp gif ico jpg png tga tif; do
  for filter in none bilinear lanczos3; do
    rm -rf "$work/a" "$work/b"
    "$baseline" --quiet --format "$format" --filter "$filter" "$@" "$photos" "$work/a" >/dev/null 2>&1 || true
    "$candidate" --quiet --format "$format" --filter "$filter" "$@" "$photos" "$work/b" >/dev/null 2>&1 || true
    count=$(find "$work/a" -type f | wc -l)
    if ! diff -r "$work/a" "$work/b" >/dev/null; then
      echo "same-bytes: $format $filter: outputs differ" >&2
      diff -rq "$work/a" "$work/b" | head -5 >&2
      exit 1
    fi
    echo "$format $filter: $count files identical"
    total=$(( total + count ))
  done
done
echo "same-bytes: $total files identical over 21 settings"
