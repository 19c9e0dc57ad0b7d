"""Image load/save and byte conversions against Pillow and a plain copy.

A 1920x1080 picture (smooth gradients, shapes and some noise, so that
neither codec meets a degenerate case) is written by Pillow as PNG, JPEG,
BMP and TGA.  Each format is then loaded and saved by lumora and by Pillow
in the same run, and tobytes/frombytes in RGBA and RGB are timed against a
plain copy of the same number of bytes.  Prints time ratios (ours/theirs).
"""
import io
import os
import tempfile

import _benchkit

_benchkit.headless()

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import lumora.image as image  # noqa: E402

W, H = 1920, 1080


def picture():
    y, x = np.mgrid[0:H, 0:W]
    r = (x * 255 // W).astype(np.uint8)
    g = (y * 255 // H).astype(np.uint8)
    b = ((x + y) % 256).astype(np.uint8)
    a = np.dstack([r, g, b]).copy()
    a[200:600, 300:900] = (200, 30, 60)
    a[700:900, 1000:1700] = (10, 200, 90)
    noise = np.random.default_rng(1).integers(0, 12, a.shape, dtype=np.uint8)
    a[::3] = a[::3] + noise[::3]
    return a


def best(fn, reps):
    return _benchkit.best_wall(fn, reps, warm=False)


def row(name, ours, theirs, peer):
    print("%-28s %9.2f ms  %-14s %9.2f ms  ratio %.2f"
          % (name, ours * 1e3, peer, theirs * 1e3, ours / theirs))


def main():
    rgb = picture()
    pil = Image.fromarray(rgb, "RGB")
    tmp = tempfile.mkdtemp()
    opts = {"png": {}, "jpg": {"quality": 85}, "bmp": {},
            "tga": {"compression": "tga_rle"}}
    print("load (from a path)")
    for ext, o in opts.items():
        path = os.path.join(tmp, "in." + ext)
        pil.save(path, **o)
        reps = 5 if ext == "png" else 10

        def pil_load():
            im = Image.open(path)
            im.load()
        ours = best(lambda: image.load(path), reps)
        theirs = best(pil_load, reps)
        row("load " + ext, ours, theirs, "Pillow")

    print("save (to a path; same surface / image)")
    surf = image.frombytes(rgb.tobytes(), (W, H), "RGB")
    for ext, o in opts.items():
        ours_path = os.path.join(tmp, "ours." + ext)
        pil_path = os.path.join(tmp, "pil." + ext)
        reps = 3 if ext == "png" else 8
        ours = best(lambda: image.save(surf, ours_path), reps)
        theirs = best(lambda: pil.save(pil_path, **o), reps)
        row("save " + ext, ours, theirs, "Pillow")
        print("%-28s ours %d bytes, Pillow %d bytes" % (
            "", os.path.getsize(ours_path), os.path.getsize(pil_path)))

    print("byte conversions (vs copying the same number of bytes)")
    rgba = np.dstack([rgb, np.full((H, W), 255, np.uint8)])
    s32 = image.frombytes(rgba.tobytes(), (W, H), "RGBA")
    # A display-style surface (X, R, G, B words): tobytes must reorder.
    xrgb = image.frombytes(rgba[..., [2, 1, 0, 3]].tobytes(), (W, H), "BGRA")
    for fmt, nb in (("RGBA", 4), ("RGB", 3)):
        data = rgba.tobytes() if nb == 4 else rgb.tobytes()
        buf = bytearray(data)
        copy = best(lambda: bytes(buf), 20)
        row("tobytes %s (same order)" % fmt,
            best(lambda: image.tobytes(s32, fmt), 20), copy, "bytes(ba)")
        row("tobytes %s (from BGRA)" % fmt,
            best(lambda: image.tobytes(xrgb, fmt), 20), copy, "bytes(ba)")
        row("frombytes %s" % fmt,
            best(lambda: image.frombytes(data, (W, H), fmt), 20), copy, "bytes(ba)")
        row("Pillow tobytes %s" % fmt,
            best(lambda: (pil if nb == 3 else pil.convert("RGBA")).tobytes(), 3),
            copy, "bytes(ba)")


if __name__ == "__main__":
    main()
