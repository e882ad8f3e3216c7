#!/usr/bin/env python3
"""Draws the logo placeholder of the warning notice: logo.png, 90 x 45 pixels,
4-bit greyscale, the words YOUR LOGO HERE inside a frame.

ImageMagick rasterises the drawing at four times the size (so the text is
anti-aliased); the PNG itself is written here, because ImageMagick will not
reliably keep a 4-bit grey colour type.

    make-logo.py            write logo.png beside this script
    make-logo.py --embed    also put it into warning-notice.fodt
"""

import base64
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

from notice import LOGO_PIXELS

HERE = os.path.dirname(os.path.abspath(__file__))
(W, H), SCALE = LOGO_PIXELS, 4


def im_convert():
    # The plain ImageMagick 6 binary; a wrapper earlier in PATH may alter output.
    for c in ("/usr/bin/convert-im6.q16", "/usr/bin/convert", "convert"):
        if shutil.which(c):
            return c
    raise RuntimeError("ImageMagick's convert is needed")


def render_grey():
    w, h = W * SCALE, H * SCALE
    draw = [
        # soft grey card with a dashed frame, inset by half a pixel of the final size
        "-fill", "#f2f2f2", "-stroke", "#8c8c8c", "-strokewidth", "4",
        "-draw", f"stroke-dasharray 14 8 roundrectangle 4,4 {w - 5},{h - 5} 16,16",
        "-stroke", "none", "-fill", "#404040",
        "-font", "Liberation-Sans-Bold", "-pointsize", "46",
        "-gravity", "center", "-annotate", "+0-26", "YOUR LOGO",
        "-annotate", "+0+28", "HERE",
    ]
    cmd = [im_convert(), "-size", f"{w}x{h}", "xc:white", *draw,
           "-colorspace", "Gray", "-filter", "Box", "-resize", f"{W}x{H}!",
           "-depth", "8", "gray:-"]
    raw = subprocess.run(cmd, check=True, capture_output=True).stdout
    if len(raw) != W * H:
        raise RuntimeError(f"expected {W * H} grey bytes, got {len(raw)}")
    return raw


def png_4bit_grey(raw):
    rows = []
    for y in range(H):
        levels = [(raw[y * W + x] * 15 + 127) // 255 for x in range(W)]
        levels += [0] * (len(levels) % 2)
        row = bytes((levels[i] << 4) | levels[i + 1] for i in range(0, len(levels), 2))
        rows.append(b"\x00" + row)  # filter type none

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", W, H, 4, 0, 0, 0, 0)  # depth 4, greyscale
    # 96 dpi, so the natural size is LOGO_PIXELS = LOGO_TWIPS
    phys = struct.pack(">IIB", 3780, 3780, 1)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"pHYs", phys)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def embed(png):
    path = os.path.join(HERE, "warning-notice.fodt")
    with open(path, encoding="utf-8") as f:
        src = f.read()
    b64 = base64.b64encode(png).decode("ascii")
    lines = "\n".join(b64[i:i + 76] for i in range(0, len(b64), 76))
    new, n = re.subn(r"(<!-- logo.png -->\s*<office:binary-data>)[^<]*(</office:binary-data>)",
                     lambda m: m.group(1) + "\n" + lines + "\n" + m.group(2), src)
    if n != 1:
        raise RuntimeError("no <!-- logo.png --> binary-data block in the fodt")
    with open(path, "w", encoding="utf-8") as f:
        f.write(new)


def main():
    try:
        png = png_4bit_grey(render_grey())
        with open(os.path.join(HERE, "logo.png"), "wb") as f:
            f.write(png)
        if "--embed" in sys.argv[1:]:
            embed(png)
    except (RuntimeError, OSError, subprocess.CalledProcessError) as e:
        sys.exit(f"make-logo.py: {e}")
    print(f"logo.png: {len(png)} bytes")


if __name__ == "__main__":
    main()
