#!/usr/bin/python3
"""Asks GNOME's own thumbnail factory for thumbnails, as a file manager does.

    gnome_thumbnail_factory.py FILE PNG [FILE PNG ...]

For each FILE the factory picks the thumbnailer its MIME type names (from the
.thumbnailer files in $XDG_DATA_DIRS/thumbnailers), runs it in its bubblewrap
sandbox, and the thumbnail it hands back is saved as PNG. Exits 1 naming the
first file it could not thumbnail.
"""
import sys

import gi

gi.require_version("GnomeDesktop", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import Gio, GLib, GnomeDesktop  # noqa: E402


def main(arguments):
    if len(arguments) < 2 or len(arguments) % 2:
        print(__doc__, file=sys.stderr)
        return 2
    factory = GnomeDesktop.DesktopThumbnailFactory.new(GnomeDesktop.DesktopThumbnailSize.LARGE)
    for path, png in zip(arguments[0::2], arguments[1::2]):
        source = Gio.File.new_for_path(path)
        info = source.query_info("standard::content-type,time::modified", Gio.FileQueryInfoFlags.NONE, None)
        mime = info.get_content_type()
        mtime = info.get_attribute_uint64("time::modified")
        uri = source.get_uri()
        if not factory.can_thumbnail(uri, mime, mtime):
            print(f"{path}: no thumbnailer for {mime}", file=sys.stderr)
            return 1
        try:
            pixbuf = factory.generate_thumbnail(uri, mime, None)
        except GLib.Error as error:
            print(f"{path}: {mime}: {error.message}", file=sys.stderr)
            return 1
        if pixbuf is None:
            print(f"{path}: {mime}: no thumbnail", file=sys.stderr)
            return 1
        pixbuf.savev(png, "png", [], [])
        print(f"{path}: {mime}: {pixbuf.get_width()} x {pixbuf.get_height()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
