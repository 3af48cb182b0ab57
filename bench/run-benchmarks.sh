#!/usr/bin/env bash
# Every Pixquill benchmark in one go, on the same files:
#   1. installs what is missing from Debian's packages (the peers, the photos,
#      Xvfb), builds Pixquill and the bench tools in Release (build-release/)
#   2. makes the photo set (bench/make-photo-set.sh): "jpeg" = its JPEG files,
#      "all" = every file
#   3. times every contender on both sets, alternating them (the order turns
#      by one each round), one unmeasured warm-up round, then RUNS rounds;
#      wall time and peak resident size from GNU time
#   4. sizes and PSNR of --fast against the full decode
#   5. resident memory over a 1,000-image run (bench/MemorySoak.cpp)
#   6. start-up time of the window under Xvfb, launch to mapped window
# and writes everything to bench/results/ (raw.tsv, summary.md, and the
# rest), summed up by bench/summarise.py.
#
#   bench/run-benchmarks.sh [RUNS]      (default 5; environment BENCH_DIR for the scratch folder,
#                                        BASELINE_BATCH for an older pixquill-batch to compare with)
#
# Run it on a quiet machine: it refuses to start while the 1-minute load is
# 0.5 or more unless FORCE=1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
scratch=${BENCH_DIR:-/tmp/pixquill-bench}
results=$root/bench/results
build=$root/build-release
box=100

# ------------------------------------------------------------------ packages
packages=(cmake g++ pkg-config qt6-base-dev libfreeimage-dev libvips-tools imagemagick graphicsmagick
  ukui-wallpapers mate-backgrounds xvfb x11-utils time python3 libimage-exiftool-perl colord-data)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "bench: installing ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --------------------------------------------------------------------- build
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXQUILL_BUILD_TESTS=OFF -DPIXQUILL_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target pixquill-batch pixquill_floor pixquill_compare pixquill_soak pixquill >/dev/null
batch=$build/cli/pixquill-batch
floor=$build/bench/pixquill_floor

load=$(cut -d' ' -f1 /proc/loadavg)
if [ "${FORCE:-0}" != 1 ] && awk "BEGIN{exit !($load >= 0.5)}"; then
  echo "bench: the machine is busy (1-minute load $load); wait, or FORCE=1" >&2
  exit 3
fi

# ---------------------------------------------------------------- photo set
photos=$(bench/make-photo-set.sh "$scratch/photos")
mkdir -p "$scratch/jpeg"
rm -f "$scratch/jpeg"/*
for f in "$photos"/*.jpg; do ln -s "$f" "$scratch/jpeg/"; done

mkdir -p "$results"
{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu: $(lscpu | sed -n 's/^Model name: *//p') ($(nproc) cores)"
  echo "memory: $(free -h | awk '/^Mem:/ {print $2}')"
  echo "kernel: $(uname -r)"
  echo "load at start: $(cat /proc/loadavg)"
  for p in libfreeimage3 libqt6gui6 libvips-tools imagemagick-6.q16 graphicsmagick libjpeg62-turbo; do
    echo "package: $p $(dpkg-query -W -f='${Version}' "$p" 2>/dev/null)"
  done
} >"$results/machine.txt"

# --------------------------------------------------------------- contenders
# Each writes thumbnails of every file of set $1 fitting $box x $box as
# quality-75 JPEG into folder $2.
files() { find "$1" -maxdepth 1 \( -type f -o -type l \) | sort; }
c_window_none() { "$batch" --quiet --jobs 1 --filter none "$1" "$2"; }
c_window_bilinear() { "$batch" --quiet --jobs 1 --filter bilinear "$1" "$2"; }
c_floor1_none() { files "$1" | xargs "$floor" --filter none "$2"; }
c_floor1_bilinear() { files "$1" | xargs "$floor" --filter bilinear "$2"; }
c_default() { "$batch" --quiet "$1" "$2"; }
c_fast_none() { "$batch" --quiet --fast "$1" "$2"; }
c_fast_bilinear() { "$batch" --quiet --fast --filter bilinear "$1" "$2"; }
c_floor2_none() { files "$1" | xargs "$floor" --hint --procs "$(nproc)" --filter none "$2"; }
c_floor2_bilinear() { files "$1" | xargs "$floor" --hint --procs "$(nproc)" --filter bilinear "$2"; }
c_vipsthumbnail() { files "$1" | xargs vipsthumbnail --size "${box}x${box}>" -o "$2/_TH%s.jpg[Q=75]"; }
c_im_convert() {
  local f name
  for f in $(files "$1"); do
    name=$(basename "$f")
    /usr/bin/convert "$f" -thumbnail "${box}x${box}>" -quality 75 "$2/_TH${name%%.*}.jpg"
  done
}
c_im_mogrify() { files "$1" | xargs /usr/bin/mogrify -path "$2" -thumbnail "${box}x${box}>" -quality 75 -format jpg; }
# gm puts the whole input path under the output folder: give it bare names.
c_gm_mogrify() { (cd "$1" && files . | sed 's|^\./||' | xargs gm mogrify -output-directory "$2" -thumbnail "${box}x${box}>" -quality 75 -format jpg); }
contenders=(window_none window_bilinear floor1_none floor1_bilinear default fast_none fast_bilinear
  floor2_none floor2_bilinear vipsthumbnail im_convert im_mogrify gm_mogrify)
# BASELINE_BATCH=path/to/an/older/pixquill-batch adds its window path, for a before-and-after.
baseline=${BASELINE_BATCH:-}
c_baseline_none() { "$baseline" --quiet --jobs 1 --filter none "$1" "$2"; }
c_baseline_bilinear() { "$baseline" --quiet --jobs 1 --filter bilinear "$1" "$2"; }
[ -n "$baseline" ] && contenders+=(baseline_none baseline_bilinear)
export -f files c_window_none c_window_bilinear c_floor1_none c_floor1_bilinear c_default c_fast_none \
  c_fast_bilinear c_floor2_none c_floor2_bilinear c_vipsthumbnail c_im_convert c_im_mogrify c_gm_mogrify
export -f c_baseline_none c_baseline_bilinear
export batch floor box baseline

raw=$results/raw.tsv
echo -e "set\tcontender\tround\tseconds\tpeak_kib\tfiles" >"$raw"
out=$scratch/out
n=${#contenders[@]}
for set in jpeg all; do
  src=$scratch/$set
  [ "$set" = all ] && src=$photos
  for round in $(seq 0 "$runs"); do
    for k in $(seq 0 $((n - 1))); do
      c=${contenders[$(((k + round) % n))]}
      rm -rf "$out"
      mkdir -p "$out/t"
      /usr/bin/time -f '%e %M' -o "$scratch/time.txt" bash -c "c_$c '$src' '$out/t'" \
        >"$scratch/last.log" 2>&1 || echo "bench: $c failed on $set (see $scratch/last.log)" >&2
      read -r seconds peak < <(tail -n 1 "$scratch/time.txt")
      written=$(find "$out/t" -type f 2>/dev/null | wc -l)
      [ "$round" -gt 0 ] && echo -e "$set\t$c\t$round\t$seconds\t$peak\t$written" >>"$raw"
    done
  done
done
echo "load at end of timing: $(cat /proc/loadavg)" >>"$results/machine.txt"

# ------------------------------------------------------------- fast vs full
psnr=$results/psnr.txt
: >"$psnr"
for set in jpeg all; do
  src=$scratch/$set
  [ "$set" = all ] && src=$photos
  for filter in none bilinear; do
    for format in jpg png; do
      rm -rf "$out" && mkdir -p "$out"
      "$batch" --quiet --filter $filter --format $format "$src" "$out/full" 2>/dev/null
      "$batch" --quiet --fast --filter $filter --format $format "$src" "$out/fast" 2>/dev/null
      echo "$set $filter $format $("$build/bench/pixquill_compare" "$out/full" "$out/fast" | tail -1)" >>"$psnr"
    done
  done
done

# ------------------------------------------------------------------ memory
{
  "$build/bench/pixquill_soak" "$scratch/jpeg" 1000
  "$build/bench/pixquill_soak" "$scratch/jpeg" 1000 --jobs "$(nproc)" --fast
} >"$results/soak.txt" 2>&1

# ----------------------------------------------------------------- start-up
bash bench/startup.sh "$build/ui/main/pixquill" "$runs" >"$results/startup.txt"

python3 bench/summarise.py "$results" >"$results/summary.md"
cat "$results/summary.md"
