#!/usr/bin/env bash
# Builds the benchmark photo set in DIR (default /tmp/pixquill-bench/photos):
# the real photographs among the wallpapers of Debian's ukui-wallpapers and
# mate-backgrounds (the nature JPEGs and the four aurora PNGs, all from
# mate-backgrounds; the other pictures are drawn or abstract), plus each of
# them converted by ImageMagick to uncompressed
# TIFF, 24-bit BMP, 16-bit PNG and progressive JPEG (without metadata). Every
# file gets its own base name, so no two thumbnails share an output name, and
# an extension of the default file mask. Reuses a complete set.
set -euo pipefail
dir=${1:-/tmp/pixquill-bench/photos}
im=/usr/bin/convert # the real ImageMagick, not a wrapper earlier in PATH

photos=(
  /usr/share/backgrounds/mate/nature/Aqua.jpg
  /usr/share/backgrounds/mate/nature/Blinds.jpg
  /usr/share/backgrounds/mate/nature/Dune.jpg
  /usr/share/backgrounds/mate/nature/FreshFlower.jpg
  /usr/share/backgrounds/mate/nature/Garden.jpg
  /usr/share/backgrounds/mate/nature/GreenMeadow.jpg
  /usr/share/backgrounds/mate/nature/LadyBird.jpg
  /usr/share/backgrounds/mate/nature/RainDrops.jpg
  /usr/share/backgrounds/mate/nature/Storm.jpg
  /usr/share/backgrounds/mate/nature/TwoWings.jpg
  /usr/share/backgrounds/mate/nature/Wood.jpg
  /usr/share/backgrounds/mate/nature/YellowFlower.jpg
  /usr/share/backgrounds/mate/desktop/Ubuntu-Mate-Cold-no-logo.png
  /usr/share/backgrounds/mate/desktop/Ubuntu-Mate-Dark-no-logo.png
  /usr/share/backgrounds/mate/desktop/Ubuntu-Mate-Radioactive-no-logo.png
  /usr/share/backgrounds/mate/desktop/Ubuntu-Mate-Warm-no-logo.png
)
expected=$(( ${#photos[@]} * 5 ))
if [ -d "$dir" ] && [ "$(find "$dir" -maxdepth 1 -type f | wc -l)" -eq "$expected" ]; then
  echo "$dir"
  exit 0
fi
for p in "${photos[@]}"; do
  [ -f "$p" ] || { echo "make-photo-set: missing $p (install ukui-wallpapers mate-backgrounds)" >&2; exit 1; }
done
rm -rf "$dir"
mkdir -p "$dir"
for p in "${photos[@]}"; do
  name=$(basename "$p")
  base=${name%%.*}
  base=${base%-no-logo}
  cp "$p" "$dir/$base.${name#*.}"
  "$im" "$p" -strip -compress None "$dir/$base-tiff.tiff"
  "$im" "$p" -strip "BMP3:$dir/$base-bmp.bmp"
  "$im" "$p" -strip -depth 16 "PNG48:$dir/$base-png16.png"
  "$im" "$p" -strip -interlace JPEG -quality 92 "$dir/$base-progressive.jpg"
done
echo "$dir"
