#!/usr/bin/env bash
# Today's formats, the colour conversion's cost, and the JPEG figures against
# an older pixquill-batch, all on the same files:
#   1. HEIC, AVIF and JPEG XL (bench/make-modern-set.sh, each format from a
#      folder of its own, since the three versions of a photo share a base
#      name and so a thumbnail name): pixquill-batch with its default jobs,
#      with --fast, and vipsthumbnail (one process over all files, as
#      run-benchmarks.sh calls it); images per second
#   2. the colour conversion: pixquill-batch --jobs 1 (filter None, and
#      bilinear) over the 12 JPEGs with an Adobe RGB profile assigned against
#      their untagged copies (the same pixels); time tagged / untagged
#   3. the JPEG set (make-photo-set.sh, *.jpg): pixquill-batch default and
#      --jobs 1 against BASELINE_BATCH; time new / baseline
# Each part: one unmeasured warm-up round, then RUNS rounds (default 5) in
# which the contenders take turns, the order turning by one each round.
# Every ratio is taken within a round, then the median over the rounds.
# All make BOX x BOX (fit inside; default 100) quality-75 JPEG thumbnails.
# At 100 vipsthumbnail decodes a HEIF file's own 320-px thumbnail image; at
# 400 it cannot, and decodes in full as pixquill-batch's default road does.
# Wall time of the whole command. Raw figures go to
# bench/results/modern-raw.tsv (modern-raw-BOX.tsv for another BOX).
#
#   bench/modern-formats.sh [RUNS]   (environment BENCH_DIR for the scratch folder,
#                                     BASELINE_BATCH, default /work/baseline/pixquill-batch,
#                                     BOX, default 100, PARTS, default "formats colour jpeg")
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
scratch=${BENCH_DIR:-/tmp/pixquill-bench}
build=$root/build-release
box=${BOX:-100}
parts=${PARTS:-formats colour jpeg}
baseline=${BASELINE_BATCH:-/work/baseline/pixquill-batch}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXQUILL_BUILD_TESTS=OFF -DPIXQUILL_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target pixquill-batch >/dev/null
batch=$build/cli/pixquill-batch

# ---------------------------------------------------------------- the files
modern=$(bash bench/make-modern-set.sh "$scratch/modern")
photos=$(bash bench/make-photo-set.sh "$scratch/photos")
# Folders of symbolic links: one per format, the tagged and untagged JPEGs
# apart, the JPEG set alone.
link_folder() { # FOLDER FILES...
  local folder=$1
  shift
  rm -rf "$folder"
  mkdir -p "$folder"
  ln -s "$@" "$folder/"
}
link_folder "$scratch/by/heic" "$modern"/*.heic
link_folder "$scratch/by/avif" "$modern"/*.avif
link_folder "$scratch/by/jxl" "$modern"/*.jxl
link_folder "$scratch/by/adobergb" "$modern"/tagged/*-adobergb.jpg
link_folder "$scratch/by/untagged" "$modern"/tagged/*-untagged.jpg
link_folder "$scratch/jpeg" "$photos"/*.jpg

# --------------------------------------------------------------- contenders
# c_NAME SOURCE DESTINATION writes a thumbnail of every file of SOURCE.
files() { find "$1" -maxdepth 1 \( -type f -o -type l \) | sort; }
c_default() { "$batch" --quiet --width "$box" --height "$box" "$1" "$2"; }
c_fast() { "$batch" --quiet --fast --width "$box" --height "$box" "$1" "$2"; }
c_jobs1() { "$batch" --quiet --jobs 1 "$1" "$2"; }
c_jobs1_bilinear() { "$batch" --quiet --jobs 1 --filter bilinear "$1" "$2"; }
c_baseline_default() { "$baseline" --quiet "$1" "$2"; }
c_baseline_jobs1() { "$baseline" --quiet --jobs 1 "$1" "$2"; }
c_vipsthumbnail() { files "$1" | xargs vipsthumbnail --size "${box}x${box}>" -o "$2/_TH%s.jpg[Q=75]"; }

raw=$root/bench/results/modern-raw.tsv
machine=$root/bench/results/modern-machine.txt
if [ "$box" != 100 ]; then
  raw=$root/bench/results/modern-raw-$box.tsv
  machine=$root/bench/results/modern-machine-$box.txt
fi
mkdir -p "$(dirname "$raw")"
echo -e "part\tcontender\tsource\tround\tseconds\tfiles\twritten" >"$raw"
out=$scratch/out

# time_rounds PART "CONTENDER:SOURCE-FOLDER"...: the pairs take turns.
time_rounds() {
  local part=$1
  shift
  local pairs=("$@") n=$# round k pair c src start end count written
  for round in $(seq 0 "$runs"); do
    for k in $(seq 0 $((n - 1))); do
      pair=${pairs[$(((k + round) % n))]}
      c=${pair%%:*} src=${pair#*:}
      rm -rf "$out" && mkdir -p "$out"
      start=$(date +%s.%N)
      "c_$c" "$src" "$out" >"$scratch/last.log" 2>&1 || echo "bench: $c failed on $src (see $scratch/last.log)" >&2
      end=$(date +%s.%N)
      count=$(files "$src" | wc -l)
      written=$(find "$out" -type f | wc -l)
      [ "$written" -eq "$count" ] || echo "bench: $c wrote $written of $count thumbnails from $src" >&2
      [ "$round" -gt 0 ] && echo -e "$part\t$c\t$(basename "$src")\t$round\t$(echo "$end - $start" | bc)\t$count\t$written" >>"$raw"
    done
  done
  return 0
}

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu: $(lscpu | sed -n 's/^Model name: *//p') ($(nproc) cores)"
  echo "load at start: $(cat /proc/loadavg)"
  echo "box: $box; parts: $parts"
} | tee "$machine"

if [[ " $parts " == *" formats "* ]]; then
  for format in heic avif jxl; do
    time_rounds "$format" "default:$scratch/by/$format" "fast:$scratch/by/$format" "vipsthumbnail:$scratch/by/$format"
  done
fi
if [[ " $parts " == *" colour "* ]]; then
  time_rounds colour "jobs1:$scratch/by/adobergb" "jobs1:$scratch/by/untagged" \
    "jobs1_bilinear:$scratch/by/adobergb" "jobs1_bilinear:$scratch/by/untagged"
fi
if [[ " $parts " == *" jpeg "* ]]; then
  time_rounds jpeg "default:$scratch/jpeg" "baseline_default:$scratch/jpeg" \
    "jobs1:$scratch/jpeg" "baseline_jobs1:$scratch/jpeg"
fi
echo "load at end: $(cat /proc/loadavg)" | tee -a "$machine"

python3 - "$raw" <<'EOF'
import csv, statistics, sys
from collections import defaultdict
rows = list(csv.DictReader(open(sys.argv[1]), delimiter="\t"))
t = defaultdict(dict)  # (part, contender, source) -> round -> seconds
files = {}
for r in rows:
    key = (r["part"], r["contender"], r["source"])
    t[key][int(r["round"])] = float(r["seconds"])
    files[key] = int(r["files"])

def median(xs): return statistics.median(xs)
def ratio(a, b):  # per round a / b, then min, median, max
    rs = [t[a][k] / t[b][k] for k in t[a] if k in t[b]]
    return min(rs), median(rs), max(rs)

parts = {k[0] for k in t}
if parts & {"heic", "avif", "jxl"}:
  print("\n| format | contender | images/s (median) | × vipsthumbnail (min / median / max) | goal |")
  print("|---|---|---:|---:|---|")
  for f in ("heic", "avif", "jxl"):
      v = (f, "vipsthumbnail", f)
      for c, goal in (("default", 1.5), ("fast", None), ("vipsthumbnail", None)):
          k = (f, c, f)
          ips = median([files[k] / s for s in t[k].values()])
          if c == "vipsthumbnail":
              print(f"| {f} | {c} | {ips:.2f} | 1 | |")
              continue
          lo, med, hi = ratio(v, k)  # time of vips / time of ours = throughput ratio
          if goal is None:
              dflt = median([t[v][r] / t[(f, 'default', f)][r] for r in t[v]])
              verdict = "more than default: " + ("met" if med > dflt else "missed")
          else:
              verdict = f"≥ {goal}: " + ("met" if med >= goal else "missed")
          print(f"| {f} | {c} | {ips:.2f} | {lo:.2f} / {med:.2f} / {hi:.2f} | {verdict} |")

if "colour" in parts:
  print("\n| colour cost, --jobs 1 | tagged s (median) | untagged s (median) | tagged / untagged (min / median / max) | goal ≤ 1.10 |")
  print("|---|---:|---:|---:|---|")
  for c in ("jobs1", "jobs1_bilinear"):
      a, b = ("colour", c, "adobergb"), ("colour", c, "untagged")
      lo, med, hi = ratio(a, b)
      print(f"| {c} | {median(t[a].values()):.3f} | {median(t[b].values()):.3f} | {lo:.3f} / {med:.3f} / {hi:.3f} | {'met' if med <= 1.10 else 'missed'} |")

if "jpeg" in parts:
  print("\n| JPEG set | new s (median) | baseline s (median) | new / baseline (min / median / max) | not worse |")
  print("|---|---:|---:|---:|---|")
  for c in ("default", "jobs1"):
      a, b = ("jpeg", c, "jpeg"), ("jpeg", "baseline_" + c, "jpeg")
      lo, med, hi = ratio(a, b)
      print(f"| {c} | {median(t[a].values()):.3f} | {median(t[b].values()):.3f} | {lo:.3f} / {med:.3f} / {hi:.3f} | {'met' if med <= 1.02 else 'missed'} |")
EOF
