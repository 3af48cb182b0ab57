#!/usr/bin/env bash
# The lossy formats for web pages against each other and against JPEG, on the
# benchmark photos (make-photo-set.sh; its *.jpg, not the progressive copies):
# pixquill_web_bench makes each photo's 100 x 100 and 400 x 400 (fit inside)
# thumbnail, keeps it losslessly as PNG and saves it as JPEG, WebP, AVIF and
# JPEG XL at qualities 30 to 90, timing each save (CPU time of the thread,
# best of RUNS, pinned to one core). Every file is then decoded by its
# format's own decoder (dwebp, avifdec, djxl; JPEG as it is) and compared
# with the PNG twice: ImageMagick's PSNR (higher is better; it rewards
# smoothness) and the butteraugli distance (Debian's butteraugli package,
# lower is better; a perceptual measure, the one libjxl aims at). The table
# gives, per size, format and quality: the photos' total bytes, the two
# means, and the median and largest encoding time. Raw figures:
# bench/results/web-raw.tsv, the table web-summary.md. Then
# pixquill_encoder_speed_bench times the AVIF encoder's speeds and the JPEG
# XL encoder's efforts on 400 x 300 crops of the same photos (vipsthumbnail
# --smartcrop centre), one core:
# bench/results/web-speed.txt.
#
#   bench/web-formats.sh [RUNS]   (environment BENCH_DIR for the scratch
#                                  folder, PHOTO_DIR for photos made already,
#                                  BUILD_DIR for a configured build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-3}
scratch=${BENCH_DIR:-/tmp/pixquill-bench}
build=${BUILD_DIR:-$root/build-release}

if [ -z "${BUILD_DIR:-}" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXQUILL_BUILD_TESTS=OFF -DPIXQUILL_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j2 --target pixquill_web_bench pixquill_encoder_speed_bench >/dev/null

for tool in dwebp avifdec djxl compare butteraugli vipsthumbnail; do
  command -v "$tool" >/dev/null || { echo "web-formats: $tool is missing (apt-get install webp libavif-bin libjxl-tools imagemagick butteraugli libvips-tools)" >&2; exit 1; }
done
photos=${PHOTO_DIR:-$scratch/photos}
[ -d "$photos" ] || photos=$(bash bench/make-photo-set.sh "$photos")
out=$scratch/web
rm -rf "$out"
mkdir -p "$out" bench/results
QT_QPA_PLATFORM=offscreen taskset -c 0 "$build/bench/pixquill_web_bench" "$photos" "$out" "$runs" >"$out/saves.tsv"

# PSNR of each file against its PNG reference, after its own decoder.
decoded=$out/decoded.png
while IFS=$'\t' read -r box photo format quality width height bytes ms; do
  file=$out/$box/$format-q$quality/$photo.$format
  case $format in
    jpg) cp "$file" "$out/decoded.jpg"; decoded=$out/decoded.jpg ;;
    webp) dwebp -quiet "$file" -o "$out/decoded.png"; decoded=$out/decoded.png ;;
    avif) avifdec "$file" "$out/decoded.png" >/dev/null; decoded=$out/decoded.png ;;
    jxl) djxl "$file" "$out/decoded.png" >/dev/null 2>&1; decoded=$out/decoded.png ;;
  esac
  psnr=$(compare -metric PSNR "$out/$box/ref/$photo.png" "$decoded" null: 2>&1 || true)
  distance=$(butteraugli "$out/$box/ref/$photo.png" "$decoded")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$box" "$photo" "$format" "$quality" "$width" "$height" "$bytes" "$ms" \
    "$psnr" "$distance"
done <"$out/saves.tsv" >bench/results/web-raw.tsv

python3 - bench/results/web-raw.tsv <<'PY' | tee bench/results/web-summary.md
import statistics, sys
from collections import defaultdict
rows = defaultdict(list)
for line in open(sys.argv[1]):
    box, photo, fmt, q, w, h, size, ms, psnr, distance = line.rstrip("\n").split("\t")
    rows[(int(box), fmt, int(q))].append((int(size), float(ms), float(psnr), float(distance)))
print("| box | format | quality | photos | total bytes | mean PSNR dB | mean butteraugli | median ms | max ms |")
print("|---|---|---|---|---|---|---|---|---|")
for (box, fmt, q), r in sorted(rows.items(), key=lambda kv: (kv[0][0], ["jpg", "webp", "avif", "jxl"].index(kv[0][1]), kv[0][2])):
    print(f"| {box} | {fmt} | {q} | {len(r)} | {sum(x[0] for x in r)} | {statistics.mean(x[2] for x in r):.2f} "
          f"| {statistics.mean(x[3] for x in r):.2f} "
          f"| {statistics.median(x[1] for x in r):.1f} | {max(x[1] for x in r):.1f} |")
PY

mkdir -p "$out/crops"
for photo in "$photos"/*.jpg; do
  case $photo in *-progressive.jpg) continue ;; esac
  vipsthumbnail "$photo" -s 400x300 --smartcrop centre -o "$out/crops/%s.png"
done
QT_QPA_PLATFORM=offscreen taskset -c 0 "$build/bench/pixquill_encoder_speed_bench" "$out/crops"/*.png \
  | tee bench/results/web-speed.txt
