"""Coverage-guided fuzzing of every image loader format and of the byte
conversions (frombytes, frombuffer, tobytes, and the TGA writer on what
loads), with atheris.  Not part of the suite: `make fuzz` runs it against
the sanitizer build.  Directly:

    LUMORA_STAGE=build/asan/stage LD_PRELOAD=<libasan>:<libubsan> \\
        ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \\
        python3 tests/fuzz_loaders.py -atheris_runs=1000000

Each input seeds the choices of one case: a loader case takes one of the
built-in small files of every format, a name hint (mostly its own) and a few
mutations (bytes changed, cut, inserted, copied; size fields set to extreme
values); a conversion picks a size, a layout and pixel bytes.  Every call must return a consistent surface or raise one of the
documented exceptions; anything else (a crash, a sanitizer report, another
exception) stops the run with the input saved.
"""
import io
import os
import random
import struct
import sys

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))

import atheris  # noqa: E402

import lumora  # noqa: E402
import lumora.image as image  # noqa: E402

import _imgseed  # noqa: E402

HINTS = ["", "x.tga", "x.png", "x.bmp", "x.gif", "x.jpg", "x.tif", "x.pcx",
         "x.webp", "x.pnm", "x.xpm", "x.lbm", "x.qoi", "x.svg", "x.ico",
         "x.cur", "x.xcf", "x.xv", "x.avif"]
LAYOUTS = [("P", 1), ("RGB", 3), ("RGBA", 4), ("RGBX", 4), ("ARGB", 4),
           ("BGRA", 4), ("BGR", 3)]
OUT = ["P", "RGB", "RGBX", "RGBA", "ARGB", "BGRA", "RGBA_PREMULT", "ARGB_PREMULT"]
OK = (lumora.error, ValueError, MemoryError)
CONVERT = len(HINTS)


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
SEEDS = []  # (hint index, bytes), filled by seed_files()


def mutate(rng, data):
    """A valid file changed in a few places.  The C side carries no
    coverage instrumentation, so the fuzzer keeps no corpus of its own:
    each case starts again from a seed, with the fuzzer's input seeding
    the choices (uniform whatever the input's length)."""
    b = bytearray(data)
    for _ in range(rng.randrange(7)):
        if not b:
            break
        op = rng.randrange(6)
        i = rng.randrange(len(b))
        if op == 0:
            b[i] = rng.randrange(256)
        elif op == 1:
            del b[i:]
        elif op == 2:
            b[i:i] = rng.randbytes(rng.randrange(1, 65))
        elif op == 3:
            j = rng.randrange(len(b))
            b[i:i] = b[j:j + rng.randrange(1, 257)]
        else:
            v = rng.choice(EXTREMES)
            fmt = rng.choice(("<I", ">I", "<H", ">H"))
            n = 4 if "I" in fmt else 2
            if i + n <= len(b):
                b[i:i + n] = struct.pack(fmt, v & (0xFFFFFFFF if n == 4 else 0xFFFF))
    return bytes(b)


def load(rng):
    own, data = rng.choice(SEEDS)
    hint = HINTS[own if rng.randrange(4) else rng.randrange(CONVERT)]
    data = mutate(rng, data)
    try:
        s = image.load(io.BytesIO(data), hint) if hint else image.load(io.BytesIO(data))
    except OK:
        return
    check(s)


def convert(rng):
    w, h = rng.randrange(-1, 41), rng.randrange(-1, 41)
    fmt, nb = rng.choice(LAYOUTS)
    n = max(0, w * h * nb + rng.choice((0, 0, 0, 1, -1, -nb, 7)))
    pixels = rng.randbytes(n)
    flipped = rng.randrange(2)
    buffer = rng.randrange(3)
    try:
        if buffer == 0:
            s = image.frombytes(pixels, (w, h), fmt, flipped)
        else:
            s = image.frombuffer(bytearray(pixels) if buffer == 1 else pixels, (w, h), fmt)
    except OK:
        return
    assert len(pixels) == w * h * nb
    if fmt in ("RGB", "RGBA", "BGRA", "ARGB"):
        back = image.tobytes(s, fmt, flipped if buffer == 0 else 0)
        assert back == pixels, (fmt, w, h)
    check(s)


def one_input(data):
    rng = random.Random(data)
    if rng.randrange(8):
        load(rng)
    else:
        convert(rng)


def seed_files():
    """Small files of every format, each with the index of its hint."""
    files = _imgseed.encoded((
        ("PNG", "x.png", {}), ("BMP", "x.bmp", {}), ("GIF", "x.gif", {}),
        ("TGA", "x.tga", {}), ("TGA", "x.tga", {"compression": "tga_rle"}),
        ("JPEG", "x.jpg", {}), ("TIFF", "x.tif", {}), ("WEBP", "x.webp", {}),
        ("PCX", "x.pcx", {}), ("PPM", "x.pnm", {}), ("ICO", "x.ico", {}),
        ("ICO", "x.ico", {"bitmap_format": "bmp"})))
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
    SEEDS.extend((HINTS.index(hint), data) for hint, data in files)


if __name__ == "__main__":
    # Keep decodes small and quick under the sanitizers; the header check
    # itself is exercised either way.
    image.set_max_pixels(1 << 22)
    seed_files()
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()
