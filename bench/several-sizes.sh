#!/usr/bin/env bash
# Several sizes from one decode against the largest size alone: the photos of
# make-photo-set.sh (its baseline JPEGs and PNGs) made 2560 pixels on their
# long side by ImageMagick, then, as WebP like a responsive page's images,
#   the 1280 x 1280 box alone;
#   320, 640 and 1280 in one run (--size three times);
#   320, 640 and 1280 as three runs.
# Each is timed RUNS times (wall clock, the runs interleaved so that a busy
# machine weighs on all alike) and the medians are printed, with the one
# run's median over the 1280 run's. The three-box run's files are checked
# byte for byte against the runs alone.
#
#   bench/several-sizes.sh [RUNS]   (environment BUILD_DIR for a configured
#                                    build, PHOTO_DIR for photos made already)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
scratch=${BENCH_DIR:-/tmp/pixquill-bench}
build=${BUILD_DIR:-$root/build-release}
if [ -z "${BUILD_DIR:-}" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXQUILL_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j2 --target pixquill-batch >/dev/null
batch=$build/cli/pixquill-batch

photos=${PHOTO_DIR:-$scratch/photos}
[ -d "$photos" ] || photos=$(bash bench/make-photo-set.sh "$photos")
set2560=$scratch/photos-2560
if [ ! -d "$set2560" ]; then
  mkdir -p "$set2560"
  for f in "$photos"/*.jpg "$photos"/*.png; do
    case $f in *-progressive*|*-png16*) continue ;; esac
    /usr/bin/convert "$f" -resize 2560x2560 -quality 92 "$set2560/$(basename "${f%.*}").jpg"
  done
fi
count=$(find "$set2560" -type f | wc -l)
out=$scratch/sizes
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1 || echo "several-sizes: $* failed" >&2; end=$(date +%s.%N); echo "$end - $start" | bc; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
: >"$out.alone" ; : >"$out.one" ; : >"$out.three"
for ((i = 0; i < runs; i++)); do
  rm -rf "$out" && mkdir -p "$out"
  seconds "$batch" --quiet --format webp --size 1280x1280 "$set2560" "$out/alone" >>"$out.alone"
  seconds "$batch" --quiet --format webp --size 320x320 --size 640x640 --size 1280x1280 "$set2560" "$out/one" >>"$out.one"
  seconds bash -c "for w in 320 640 1280; do '$batch' --quiet --format webp --size \${w}x\${w} '$set2560' '$out/'\$w; done" >>"$out.three"
done
for w in 320 640 1280; do
  for f in "$out/$w"/*.webp; do
    name=$(basename "$f" .webp)
    cmp -s "$f" "$out/one/$name-$w.webp" || { echo "several-sizes: $name $w differs from its run alone" >&2; exit 1; }
  done
done
alone=$(median <"$out.alone"); one=$(median <"$out.one"); three=$(median <"$out.three")
echo "photos: $count at 2560 px, $(nproc) cores, median of $runs"
echo "1280 alone:            $alone s"
echo "320+640+1280, one run: $one s  ($(echo "scale=2; $one / $alone" | bc) x the 1280 run)"
echo "320+640+1280, 3 runs:  $three s  ($(echo "scale=2; $three / $alone" | bc) x the 1280 run)"
echo "every thumbnail of the one run is byte for byte its run alone's"
