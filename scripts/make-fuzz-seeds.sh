#!/usr/bin/env bash
# Draws the fuzzer's seed files: one tiny valid image per input format (and a
# few variants: palettes, alpha, 16 bits, compression, interlacing) into
# tests/data/fuzz-seeds/. The files are committed; run this again only to
# change the set. Needs ImageMagick's convert and Python 3 (EXR is written
# through FreeImage itself), and the encoders of libheif-examples,
# libavif-bin and libjxl-tools for HEIC, AVIF and JPEG XL, and a configured
# build folder with the tests (BUILD_DIR, default build/) for the DNGs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/data/fuzz-seeds
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 6x4 gradient:red-blue -depth 8 "$work/base.png"
convert -size 5x3 xc:none -fill '#80ff0040' -draw 'point 1,1' -draw 'point 3,2' "$work/alpha.png"

seed() { # NAME SOURCE [CONVERT-OPTIONS...] (the name's extension picks the format)
  local name=$1 source=$2
  shift 2
  convert "$work/$source" "$@" "$out/$name"
}
seed_as() { # NAME FORMAT SOURCE [CONVERT-OPTIONS...] (a format ImageMagick names itself)
  local name=$1 format=$2 source=$3
  shift 3
  convert "$work/$source" "$@" "$format:$out/$name"
}

seed tiny.bmp base.png
seed_as v3.bmp BMP3 base.png
seed_as rle8.bmp BMP3 base.png -colors 8 -compress RLE
seed tiny.gif base.png
seed interlaced.gif base.png -interlace GIF
seed transparent.gif alpha.png
seed tiny.ico base.png
seed tiny.jpg base.png
seed progressive.jpg base.png -interlace JPEG
seed grey.jpg base.png -colorspace Gray
seed tiny.png base.png
seed_as palette.png PNG8 base.png -colors 4
seed alpha.png alpha.png
seed_as deep.png PNG48 base.png
seed tiny.tga base.png
seed rle.tga base.png -compress RLE
seed tiny.tif base.png -compress None
seed lzw.tif base.png -compress LZW
seed jpeg.tif base.png -compress JPEG
seed deep.tif base.png -depth 16 -compress None
seed tiny.pcx base.png
seed tiny.ppm base.png
seed tiny.pgm base.png
seed tiny.pbm base.png
seed tiny.ras base.png
seed tiny.sgi base.png
seed tiny.xbm base.png
seed tiny.xpm base.png
seed tiny.psd base.png
seed tiny.dds base.png
seed tiny.jp2 base.png
seed tiny.j2k base.png
seed tiny.hdr base.png
seed tiny.pfm base.png
seed tiny.webp base.png
seed tiny.wbmp base.png
seed tiny.pict base.png
seed tiny.jng base.png
seed tiny.mng base.png

# HEIC, AVIF and JPEG XL, made by the libraries' own encoders: 8 and 10 bits,
# alpha, a thumbnail image, a stored rotation, an nclx colour description,
# lossy and lossless JPEG XL in both the bare and the container form.
convert -size 16x12 gradient:red-blue -depth 16 "$work/deep.png"
convert "$work/base.png" -resize 32x24\! -depth 8 "$work/base32.png"
# libaom's encoder (through heif-enc) stops at an assertion on palette PNGs.
convert "$work/base.png" "PNG24:$work/base24.png"
heif-enc -q 50 -o "$out/tiny.heic" "$work/base.png" >/dev/null
heif-enc -q 50 -b 10 -o "$out/deep.heic" "$work/deep.png" >/dev/null
heif-enc -q 50 -o "$out/alpha.heic" "$work/alpha.png" >/dev/null
heif-enc -q 50 -t 8 -o "$out/thumbnail.heic" "$work/base32.png" >/dev/null
heif-enc -A -q 50 -o "$out/tiny.avif" "$work/base24.png" >/dev/null
avifenc --min 20 --max 40 --irot 1 --imir 0 "$work/base.png" "$out/rotated.avif" >/dev/null
avifenc --min 20 --max 40 -d 10 --cicp 12/13/6 "$work/base.png" "$out/p3.avif" >/dev/null
avifenc --min 20 --max 40 "$work/alpha.png" "$out/alpha.avif" >/dev/null
cjxl -q 50 "$work/base.png" "$out/tiny.jxl" >/dev/null 2>&1
cjxl -d 0 "$work/deep.png" "$out/deep.jxl" >/dev/null 2>&1
cjxl -d 0 "$work/alpha.png" "$out/alpha.jxl" >/dev/null 2>&1
cjxl -d 1 --container=1 "$work/base.png" "$out/container.jxl" >/dev/null 2>&1

python3 - "$out" <<'PY'
import ctypes, sys
fi = ctypes.CDLL("libfreeimage.so.3")
fi.FreeImage_Allocate.restype = ctypes.c_void_p
fi.FreeImage_GetBits.restype = ctypes.POINTER(ctypes.c_ubyte)
fi.FreeImage_GetBits.argtypes = [ctypes.c_void_p]
fi.FreeImage_GetPitch.argtypes = [ctypes.c_void_p]
fi.FreeImage_Save.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
fi.FreeImage_ConvertToRGBF.restype = ctypes.c_void_p
fi.FreeImage_ConvertToRGBF.argtypes = [ctypes.c_void_p]
fi.FreeImage_Unload.argtypes = [ctypes.c_void_p]
bitmap = fi.FreeImage_Allocate(5, 3, 24, 0, 0, 0)
bits = fi.FreeImage_GetBits(bitmap)
pitch = fi.FreeImage_GetPitch(bitmap)
for y in range(3):
    for x in range(5):
        for c in range(3):
            bits[y * pitch + x * 3 + c] = (x * 50 + y * 80 + c * 30) % 256
FIF_EXR = 29
rgbf = fi.FreeImage_ConvertToRGBF(bitmap)
fi.FreeImage_Save(FIF_EXR, rgbf, (sys.argv[1] + "/tiny.exr").encode(), 0)
fi.FreeImage_Unload(rgbf)
fi.FreeImage_Unload(bitmap)
PY
# Camera RAW: DNGs from the tests' own writer (libtiff), built in the build
# folder BUILD_DIR names (default build/).
build=${BUILD_DIR:-build}
cmake --build "$build" --target pixquill_dng_seeds >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tests/pixquill_dng_seeds" "$out"

ls -l "$out" | awk 'NR > 1 { total += $5; n++ } END { print n " seeds, " total " bytes" }'
