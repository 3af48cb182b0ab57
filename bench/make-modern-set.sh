#!/usr/bin/env bash
# Builds the photo set of today's formats in DIR (default
# /tmp/pixquill-bench/modern) from the 16 photographs of make-photo-set.sh:
# each as HEIC (x265, quality 60, with a 320-pixel thumbnail image of its own,
# as phones store them), AVIF (aom at speed 8, quality 60, with the same
# thumbnail) and JPEG XL (distance 1, pixels re-encoded rather than a JPEG
# transcoded); and, in DIR/tagged, the 12 JPEGs with an Adobe RGB (1998)
# profile written in (the same compressed data, so only the colour conversion
# differs; needs exiftool, Debian's libimage-exiftool-perl)
# beside their untagged originals. Reuses a complete set.
set -euo pipefail
here=$(dirname "$0")
dir=${1:-/tmp/pixquill-bench/modern}
im=/usr/bin/convert
adobe=/usr/share/color/icc/colord/AdobeRGB1998.icc
photos=$(bash "$here/make-photo-set.sh")
originals=$(find "$photos" -maxdepth 1 -type f \( -name '*.jpg' -o -name '*.png' \) \
  ! -name '*-progressive.jpg' ! -name '*-png16.png' | sort)
expected=$(( $(echo "$originals" | wc -l) * 3 ))
if [ -d "$dir" ] && [ "$(find "$dir" -maxdepth 1 -type f | wc -l)" -eq "$expected" ] && [ -d "$dir/tagged" ]; then
  echo "$dir"
  exit 0
fi
[ -f "$adobe" ] || { echo "make-modern-set: missing $adobe (install colord-data)" >&2; exit 1; }
rm -rf "$dir"
mkdir -p "$dir/tagged"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for p in $originals; do
  name=$(basename "$p")
  base=${name%%.*}
  "$im" "$p" -strip "PNG24:$work/$base.png"
  heif-enc -q 60 -t 320 -o "$dir/$base.heic" "$work/$base.png" >/dev/null
  heif-enc -A -q 60 -t 320 -p speed=8 -o "$dir/$base.avif" "$work/$base.png" >/dev/null
  cjxl "$work/$base.png" "$dir/$base.jxl" -d 1 --quiet >/dev/null 2>&1 || cjxl "$work/$base.png" "$dir/$base.jxl" -d 1 >/dev/null 2>&1
  case "$name" in
    *.jpg)
      cp "$p" "$dir/tagged/$base-untagged.jpg"
      # The profile written into the file as it is (exiftool adds the APP2
      # segment without decoding): the same compressed data, so the two differ
      # in the colour conversion alone.
      exiftool -q -q -o "$dir/tagged/$base-adobergb.jpg" "-icc_profile<=$adobe" "$p"
      ;;
  esac
done
echo "$dir"
