#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 root made by debootstrap,
# runs pixquill-batch there, removes the package and checks that none of its
# files is left. The pristine root is kept in build-package/bookworm and
# copied afresh for every check. Needs root (chroot) and Debian's mirror.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh | tail -1)
deb=$(realpath "$deb")

pristine=build-package/bookworm
if [ ! -x "$pristine/usr/bin/apt-get" ]; then
  rm -rf "$pristine"
  debootstrap --variant=minbase bookworm "$pristine" http://deb.debian.org/debian >/dev/null
fi
root=build-package/check-root
rm -rf "$root"
cp -a "$pristine" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
convert -size 640x480 gradient:navy-orange "$root/tmp/photo.png"
# Today's formats, made by their libraries' encoders on this machine: the
# package's own dependencies must read them on a pristine system.
heif-enc -q 70 -o "$root/tmp/phone.heic" "$root/tmp/photo.png" >/dev/null
# (avifenc: heif-enc's AV1 road trips an assertion in Debian 12's libaom on
# this picture)
avifenc -s 9 "$root/tmp/photo.png" "$root/tmp/web.avif" >/dev/null
cjxl "$root/tmp/photo.png" "$root/tmp/camera.jxl" --quiet >/dev/null 2>&1
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
log=build-package/check.log
: > "$log"

echo "== apt-get install ./$(basename "$deb")"
in_root apt-get update -qq >>"$log" 2>&1
in_root apt-get install -y -qq "/tmp/$(basename "$deb")" >>"$log" 2>&1
in_root dpkg -L pixquill | sort > build-package/files.txt
echo "   installed $(wc -l < build-package/files.txt) paths; depends: $(in_root dpkg-query -W -f='${Depends}' pixquill)"

echo "== pixquill-batch --version"
in_root pixquill-batch --version
echo "== a run over PNG, HEIC, AVIF and JPEG XL"
mkdir -p "$root/tmp/in" && mv "$root/tmp/photo.png" "$root/tmp/phone.heic" "$root/tmp/web.avif" "$root/tmp/camera.jxl" "$root/tmp/in/"
in_root pixquill-batch --width 160 --height 160 /tmp/in /tmp/out
in_root ls -l /tmp/out
[ "$(in_root ls /tmp/out | wc -l)" -eq 4 ] || { echo "   not every image was written"; exit 1; }
in_root sh -c 'test -s /usr/share/man/man1/pixquill-batch.1.gz'
echo "== the window starts (offscreen, kept open 3 s)"
status=0
in_root timeout 3 env QT_QPA_PLATFORM=offscreen pixquill >>"$log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { echo "   pixquill ended with status $status"; exit 1; }

echo "== pixquill-thumbnailer, as pixquill.thumbnailer names it"
in_root grep -qx 'Exec=/usr/bin/pixquill-thumbnailer -s %s %u %o' /usr/share/thumbnailers/pixquill.thumbnailer
in_root pixquill-thumbnailer -s 128 file:///tmp/in/phone.heic /tmp/thumbnail.png
in_root sh -c 'test -s /tmp/thumbnail.png'

echo "== apt-get remove pixquill"
in_root apt-get remove -y -qq pixquill >>"$log" 2>&1
left=0
while read -r path; do
  # Folders such as /usr/bin belong to other packages too.
  if [ -e "$root$path" ] && [ ! -d "$root$path" ]; then
    echo "   left behind: $path"
    left=$((left + 1))
  fi
done < build-package/files.txt
if in_root dpkg -s pixquill >/dev/null 2>&1; then
  echo "   dpkg still knows pixquill"; left=$((left + 1))
fi
echo "   files left behind: $left"
[ "$left" -eq 0 ]
echo "package check passed"
