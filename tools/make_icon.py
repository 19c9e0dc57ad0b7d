"""Draw lumora's default window icon (python/lumora/data/lumora_icon.bmp).

A small lamp-like sun: a warm disc with a bright core and eight short rays
on a black field.  The window code keys out pixel value 0, so the field is
exactly black and every drawn pixel is kept at least slightly off black.

Run from the repository root:  python3 tools/make_icon.py
"""
import math
import os
import sys

from PIL import Image

SIZE = 32


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2.0
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    if r <= 9.5:
        # Disc: white-yellow core fading to amber at the rim.
        t = r / 9.5
        return (255, int(250 - 90 * t), int(200 - 190 * t))
    angle = math.atan2(dy, dx)
    # Eight rays between radius 11 and 15, narrowing outwards.
    sector = (angle + math.pi) / (2 * math.pi) * 8
    off = abs(sector - round(sector))
    if 11 <= r <= 15 and off < 0.16 * (16 - r) / 5:
        return (250, 170, 30)
    return (0, 0, 0)


def main(path):
    img = Image.new("RGB", (SIZE, SIZE))
    img.putdata([pixel(x, y) for y in range(SIZE) for x in range(SIZE)])
    img.save(path, format="BMP")


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, os.pardir, "python", "lumora", "data",
                           "lumora_icon.bmp")
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.normpath(default))
