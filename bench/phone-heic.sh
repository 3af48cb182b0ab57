#!/usr/bin/env bash
# Phone photos on the default road: ten HEIC files as phones write them
# (4032 x 3024, Display P3 described by nclx, a 320 x 240 thumbnail item,
# x265 quality 60) made from the photo set's JPEGs, thumbnailed at a BOX x BOX
# box (default 100) by pixquill-batch with its defaults and by vipsthumbnail
# (one process over all files, as run-benchmarks.sh calls it), in turns: one
# unmeasured warm-up round, then RUNS rounds (default 5), the order turning
# each round; ratios are taken within a round, then the median. Then the
# quality: each PNG thumbnail of the default road against the full picture
# decoded and converted to sRGB by pixquill-batch (--resize none), shrunk to
# the thumbnail's size by ImageMagick, as PSNR (pixquill_compare). Raw times
# go to bench/results/phone-raw.tsv. It does not refuse a busy machine: say
# so when quoting it.
#
#   bench/phone-heic.sh [RUNS]   (environment BENCH_DIR, BOX)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
scratch=${BENCH_DIR:-/tmp/pixquill-bench}
build=$root/build-release
box=${BOX:-100}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXQUILL_BUILD_TESTS=OFF -DPIXQUILL_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target pixquill-batch pixquill_compare >/dev/null
batch=$build/cli/pixquill-batch
compare=$(find "$build/bench" -name pixquill_compare -type f | head -1)

# ---------------------------------------------------------------- the files
photos=$(bash bench/make-photo-set.sh "$scratch/photos")
phone=$scratch/phone
if [ "$(find "$phone" -maxdepth 1 -name '*.heic' 2>/dev/null | wc -l)" -ne 10 ]; then
  rm -rf "$phone" && mkdir -p "$phone"
  work=$(mktemp -d)
  for p in $(find "$photos" -maxdepth 1 -name '*.jpg' ! -name '*-progressive.jpg' | sort | head -10); do
    name=$(basename "$p" .jpg)
    convert "$p" -resize '4032x3024^' -gravity center -extent 4032x3024 -strip "$work/$name.png"
    heif-enc -q 60 -t 320 --matrix_coefficients 6 --colour_primaries 12 --transfer_characteristic 13 \
      --full_range_flag 1 -o "$phone/$name.heic" "$work/$name.png" >/dev/null
  done
  rm -rf "$work"
fi
heif-info "$(find "$phone" -name '*.heic' | head -1)" | grep -E 'image:|thumbnail:' | sed 's/^/bench: /' >&2

# --------------------------------------------------------------- contenders
files() { find "$1" -maxdepth 1 -type f | sort; }
c_default() { "$batch" --quiet --width "$box" --height "$box" "$1" "$2"; }
c_vipsthumbnail() { files "$1" | xargs vipsthumbnail --size "${box}x${box}>" -o "$2/_TH%s.jpg[Q=75]"; }

raw=$root/bench/results/phone-raw.tsv
mkdir -p "$(dirname "$raw")"
echo -e "contender\tround\tseconds\tfiles" >"$raw"
out=$scratch/out
contenders=(default vipsthumbnail)
echo "bench: load at start: $(cat /proc/loadavg)" >&2
for round in $(seq 0 "$runs"); do
  for k in 0 1; do
    c=${contenders[$(((k + round) % 2))]}
    rm -rf "$out" && mkdir -p "$out"
    start=$(date +%s.%N)
    "c_$c" "$phone" "$out" >/dev/null 2>&1 || echo "bench: $c failed" >&2
    end=$(date +%s.%N)
    [ "$(find "$out" -type f | wc -l)" -eq 10 ] || echo "bench: $c wrote $(find "$out" -type f | wc -l) of 10" >&2
    [ "$round" -gt 0 ] && echo -e "$c\t$round\t$(echo "$end - $start" | bc)\t10" >>"$raw"
  done
done
echo "bench: load at end: $(cat /proc/loadavg)" >&2

python3 - "$raw" <<'EOF'
import csv, statistics, sys
from collections import defaultdict
t = defaultdict(dict)
for r in csv.DictReader(open(sys.argv[1]), delimiter="\t"):
    t[r["contender"]][int(r["round"])] = float(r["seconds"])
ratios = [t["vipsthumbnail"][k] / t["default"][k] for k in t["default"] if k in t["vipsthumbnail"]]
for c in ("default", "vipsthumbnail"):
    print(f"{c}: median {statistics.median(t[c].values()):.3f} s for 10 files")
print(f"pixquill-batch throughput / vipsthumbnail's: median {statistics.median(ratios):.2f} "
      f"(min {min(ratios):.2f}, max {max(ratios):.2f})")
EOF

# ------------------------------------------------------------------ quality
rm -rf "$scratch/phone-png" "$scratch/phone-full" "$scratch/phone-ref" && mkdir -p "$scratch/phone-ref"
"$batch" --quiet --format png --width "$box" --height "$box" "$phone" "$scratch/phone-png"
"$batch" --quiet --format png --resize none "$phone" "$scratch/phone-full"
for f in "$scratch/phone-png"/*.png; do
  name=$(basename "$f")
  size=$(identify -format '%wx%h' "$f")
  convert "$scratch/phone-full/$name" -filter Triangle -resize "$size!" "$scratch/phone-ref/$name"
done
"$compare" "$scratch/phone-ref" "$scratch/phone-png" | tail -1
