#!/usr/bin/env bash
# Installs every build, test and screenshot dependency from Debian's packages:
#   install-deps.sh [fuzz] [--package]
# "fuzz" adds clang and its libFuzzer runtime for scripts/fuzz.sh;
# "--package" what making and checking the Debian package needs.
# Idempotent: packages already present are not touched and apt is not even
# consulted when nothing is missing. Must run as root (or through sudo).
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6
  libfreeimage-dev libtiff-dev libjpeg-dev
  libheif-dev libjxl-dev liblcms2-dev libraw-dev zlib1g-dev libexiv2-dev
  libseccomp-dev
  libgtest-dev googletest
  help2man
  xvfb x11-apps imagemagick xauth
  fonts-dejavu-core fonts-liberation
  valgrind
)
# The libraries' own encoders make the HEIF, AVIF and JPEG XL files the
# tests and the fuzzer's seeds start from; their decoders (and dwebp) read
# back the WebP, AVIF and JPEG XL thumbnails in the tests.
packages+=(libheif-examples libavif-bin libjxl-tools webp)
# LibRaw's own dcraw_emu renders the test DNGs the camera RAW row is checked
# against.
packages+=(libraw-bin)
# setpriv (util-linux) runs the read-only save cases as nobody under root.
packages+=(util-linux)
# GNOME's own thumbnail factory (through python3-gi), sandboxing with
# bubblewrap as on a desktop, runs the installed pixquill-thumbnailer in the
# thumbnailer's tests.
packages+=(python3-gi gir1.2-gnomedesktop-3.0 bubblewrap)
# GNU parallel runs shares of one folder side by side in the command line's
# tests, as docs/SCALING.md does over several machines.
packages+=(parallel)
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    --package) packages+=(dpkg-dev fakeroot debootstrap) ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
