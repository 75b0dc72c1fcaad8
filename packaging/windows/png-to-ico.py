"""Wraps a PNG in an .ico file of one image (Windows Vista and later read PNG icons).

Usage: png-to-ico.py ICON.png OUT.ico
"""
import struct
import sys

png = open(sys.argv[1], "rb").read()
if png[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit(f"{sys.argv[1]}: not a PNG file")
width, height = struct.unpack(">II", png[16:24])
if width > 256 or height > 256:
    sys.exit(f"{sys.argv[1]}: {width}x{height} is larger than an icon may be")
header = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
with open(sys.argv[2], "wb") as out:
    out.write(header + entry + png)
