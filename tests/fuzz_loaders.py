"""Coverage-guided fuzzing of every image loader format and of the byte
conversions (frombytes, frombuffer, tobytes, and the TGA writer on what
loads), with atheris.  Not part of the suite: `make fuzz` runs it against
the sanitizer build.  Directly:

    LUMORA_STAGE=build/asan/stage LD_PRELOAD=<libasan>:<libubsan> \\
        ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \\
        python3 tests/fuzz_loaders.py -atheris_runs=1000000 build/fuzz/corpus

The first input byte picks the target (a loader with one of the name hints,
or a conversion); the rest is the file, or the conversion's size, format and
pixel bytes.  An empty corpus directory is seeded with small files of every
format.  Every call must return a consistent surface or raise one of the
documented exceptions; anything else (a crash, a sanitizer report, another
exception) stops the run with the input saved.
"""
import io
import os
import struct
import sys

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))

import atheris  # noqa: E402

import lumora  # noqa: E402
import lumora.image as image  # noqa: E402

HINTS = ["", "x.tga", "x.png", "x.bmp", "x.gif", "x.jpg", "x.tif", "x.pcx",
         "x.webp", "x.pnm", "x.xpm", "x.lbm", "x.qoi", "x.svg", "x.ico",
         "x.cur", "x.xcf", "x.xv", "x.avif"]
LAYOUTS = [("P", 1), ("RGB", 3), ("RGBA", 4), ("RGBX", 4), ("ARGB", 4),
           ("BGRA", 4), ("BGR", 3)]
OUT = ["P", "RGB", "RGBX", "RGBA", "ARGB", "BGRA", "RGBA_PREMULT", "ARGB_PREMULT"]
OK = (lumora.error, ValueError, MemoryError)
CONVERT = len(HINTS)
TARGETS = CONVERT + 2


def check(s):
    w, h = s.get_size()
    for fmt in OUT:
        try:
            out = image.tobytes(s, fmt)
        except ValueError:
            continue
        assert len(out) == w * h * (1 if fmt == "P" else 3 if fmt == "RGB" else 4)
    if s.get_bitsize() >= 8 and w * h <= 1 << 16 and w <= 65535 and h <= 65535:
        f = io.BytesIO()
        image.save(s, f)
        assert len(f.getvalue()) >= 18


EXTREMES = [0, 1, 0x7F, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF,
            0x80000000, 0xFFFFFFFF, 16384, 65535 * 2]


def poke(data):
    """Header fields set to extreme sizes, steered by the input's last
    bytes: without coverage from the C side, plain byte mutations rarely
    produce the large sizes the loaders must refuse."""
    if len(data) < 24 or not data[-1] & 1:
        return data
    b = bytearray(data[:-4])
    off = (data[-2] | data[-3] << 8) % (len(b) - 4)
    v = EXTREMES[data[-4] % len(EXTREMES)]
    kind = (data[-1] >> 1) & 3
    fmt = ("<I", ">I", "<H", ">H")[kind]
    b[off:off + (4 if kind < 2 else 2)] = struct.pack(fmt, v & (0xFFFFFFFF if kind < 2 else 0xFFFF))
    return bytes(b)


def load(sel, data):
    data = poke(data)
    hint = HINTS[sel]
    try:
        s = image.load(io.BytesIO(data), hint) if hint else image.load(io.BytesIO(data))
    except OK:
        return
    check(s)


def convert(sel, data):
    if len(data) < 4:
        return
    w, h = data[0] % 40 + (data[3] >> 7), data[1] % 40
    fmt, nb = LAYOUTS[data[2] % len(LAYOUTS)]
    pixels = data[4:]
    try:
        if sel == CONVERT:
            s = image.frombytes(pixels, (w, h), fmt, data[3] & 1)
        else:
            s = image.frombuffer(bytearray(pixels) if data[3] & 2 else pixels,
                                 (w, h), fmt)
    except OK:
        return
    assert len(pixels) == w * h * nb
    if fmt in ("RGB", "RGBA", "BGRA", "ARGB"):
        back = image.tobytes(s, fmt, data[3] & 1 if sel == CONVERT else 0)
        assert back == pixels, (fmt, w, h)
    check(s)


def one_input(data):
    if len(data) < 2:
        return
    sel = data[0] % TARGETS
    if sel < CONVERT:
        load(sel, data[1:])
    else:
        convert(sel, data[1:])


def seed(corpus):
    """Small files of every format, each behind the selector of its hint."""
    from PIL import Image
    import numpy as np
    a = np.random.default_rng(0).integers(0, 256, (9, 13, 4), dtype=np.uint8)
    files = []
    for mode in ("RGB", "RGBA", "P", "L"):
        im = Image.fromarray(a if mode == "RGBA" else a[..., :3])
        im = im.quantize(8) if mode == "P" else im.convert("L") if mode == "L" else im
        for fmt, hint, opts in (("PNG", "x.png", {}), ("BMP", "x.bmp", {}),
                                ("GIF", "x.gif", {}), ("TGA", "x.tga", {}),
                                ("TGA", "x.tga", {"compression": "tga_rle"}),
                                ("JPEG", "x.jpg", {}), ("TIFF", "x.tif", {}),
                                ("WEBP", "x.webp", {}), ("PCX", "x.pcx", {}),
                                ("PPM", "x.pnm", {}), ("ICO", "x.ico", {}),
                                ("ICO", "x.ico", {"bitmap_format": "bmp"})):
            try:
                b = io.BytesIO()
                im.save(b, fmt, **opts)
                files.append((hint, b.getvalue()))
            except (OSError, ValueError, KeyError):
                pass
    files.append(("x.xpm", b'/* XPM */\nstatic char *x[] = {\n"3 2 2 1",\n". c #FF0000",\n'
                           b'"# c None",\n".#.",\n"#.#"};\n'))
    files.append(("x.svg", b'<svg xmlns="http://www.w3.org/2000/svg" width="12" height="9">'
                           b'<circle cx="5" cy="4" r="3" fill="blue"/></svg>'))
    files.append(("x.xv", b"P7 332\n#END_OF_COMMENTS\n4 3 255\n" + bytes(range(12))))
    files.append(("x.qoi", b"qoif" + struct.pack(">IIBB", 3, 2, 4, 0) + b"\xfe\x01\x02\x03" * 6
                  + bytes(7) + b"\x01"))
    bmhd = struct.pack(">HHhhBBBBHBBhh", 16, 2, 0, 0, 8, 0, 0, 0, 0, 1, 1, 16, 2)
    files.append(("x.lbm", b"FORM" + struct.pack(">I", 4 + 28 + 8 + 256) + b"PBM BMHD"
                  + struct.pack(">I", 20) + bmhd + b"BODY" + struct.pack(">I", 256) + bytes(256)))
    for i, (hint, data) in enumerate(files):
        with open(os.path.join(corpus, "seed%03d" % i), "wb") as f:
            f.write(bytes([HINTS.index(hint)]) + data)
    for i, (fmt, nb) in enumerate(LAYOUTS):
        for sel in (CONVERT, CONVERT + 1):
            with open(os.path.join(corpus, "conv%d_%d" % (sel, i)), "wb") as f:
                f.write(bytes([sel, 5, 3, i, 2]) + bytes(range(5 * 3 * nb)))


if __name__ == "__main__":
    # Keep decodes small and quick under the sanitizers; the header check
    # itself is exercised either way.
    image.set_max_pixels(1 << 22)
    dirs = [a for a in sys.argv[1:] if not a.startswith("-")]
    for d in dirs:
        os.makedirs(d, exist_ok=True)
        if not os.listdir(d):
            seed(d)
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()
