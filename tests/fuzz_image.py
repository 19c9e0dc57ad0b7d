"""Fuzz harness for the image loaders, frombytes and the TGA writer.

Not collected by pytest's default pattern; run it directly, preferably
against a sanitizer build:

    LUMORA_STAGE=build/<x>-asan/stage LD_PRELOAD=... PYTHONMALLOC=malloc \\
        python3 tests/fuzz_image.py [seconds]

Inputs start from small valid files of each format (written by Pillow)
and are mutated (bytes flipped, cut, spliced, header fields set to extreme
values); every call must either return a surface whose byte conversions
have the right length or raise one of the documented exceptions.
"""
import io
import os
import struct
import sys
import time

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))

from hypothesis import given, settings, strategies as st, HealthCheck  # noqa: E402

import lumora  # noqa: E402
import lumora.image as image  # noqa: E402

import _imgseed  # noqa: E402

OK_ERRORS = (lumora.error, ValueError, MemoryError)


def seeds():
    return _imgseed.encoded([(fmt, fmt, opts) for fmt, opts in (
        ("png", {}), ("bmp", {}), ("gif", {}), ("tga", {}),
        ("tga", {"compression": "tga_rle"}), ("jpeg", {}), ("tiff", {}),
        ("webp", {}), ("pcx", {}), ("ppm", {}))])


SEEDS = seeds()
HINTS = [None, "x.tga", "x.png", "x.bmp", "x.gif", "x.jpg", "x.tif", "x.pcx", "x.webp",
         "x.pnm", "x.xpm", "x.lbm", "x.qoi", "x.svg"]


@st.composite
def mutated(draw):
    fmt, data = draw(st.sampled_from(SEEDS))
    data = bytearray(data)
    for _ in range(draw(st.integers(0, 6))):
        op = draw(st.integers(0, 4))
        if not data:
            break
        i = draw(st.integers(0, len(data) - 1))
        if op == 0:
            data[i] = draw(st.integers(0, 255))
        elif op == 1:
            del data[i:]
        elif op == 2:
            data[i:i] = draw(st.binary(max_size=64))
        elif op == 3 and i + 4 <= len(data):
            data[i:i + 4] = struct.pack("<I", draw(st.sampled_from(
                [0, 1, 0x7FFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF])))
        elif op == 4 and i + 2 <= len(data):
            data[i:i + 2] = struct.pack("<H", draw(st.sampled_from([0, 0xFFFF, 0x8000])))
    return fmt, bytes(data)


def check_surface(s):
    w, h = s.get_size()
    if w * h > 4 * 1024 * 1024:
        return
    for fmt, nb in (("RGBA", 4), ("RGB", 3)):
        assert len(image.tobytes(s, fmt)) == w * h * nb
    if s.get_bytesize() == 1:
        assert len(image.tobytes(s, "P")) == w * h
    if 0 < w <= 65535 and 0 < h <= 65535 and s.get_bitsize() >= 8 and w * h < 1 << 20:
        out = io.BytesIO()
        image.save(s, out)
        assert len(out.getvalue()) >= 18


@settings(max_examples=200, deadline=None, database=None,
          suppress_health_check=list(HealthCheck))
@given(case=mutated(), hint=st.sampled_from(HINTS), basic=st.booleans())
def fuzz_loaders(case, hint, basic):
    COUNT["n"] += 1
    fmt, data = case
    try:
        if basic:
            s = image.load_basic(io.BytesIO(data))
        else:
            s = image.load(io.BytesIO(data), *([hint] if hint else []))
    except OK_ERRORS:
        return
    check_surface(s)


@settings(max_examples=200, deadline=None, database=None,
          suppress_health_check=list(HealthCheck))
@given(w=st.integers(-5, 300), h=st.integers(-5, 50),
       fmt=st.sampled_from(["P", "RGB", "RGBA", "RGBX", "ARGB", "BGRA", "BGR", "x"]),
       extra=st.sampled_from([0, 0, 0, -1, 1, -4096]), flipped=st.booleans(),
       buffer=st.booleans())
def fuzz_frombytes(w, h, fmt, extra, flipped, buffer):
    COUNT["n"] += 1
    nb = {"P": 1, "RGB": 3, "BGR": 3}.get(fmt, 4)
    n = max(0, w * h * nb + extra)
    data = os.urandom(n)
    try:
        if buffer:
            s = image.frombuffer(bytearray(data), (w, h), fmt)
        else:
            s = image.frombytes(data, (w, h), fmt, flipped)
    except OK_ERRORS:
        return
    check_surface(s)


COUNT = {"n": 0}


def run_for(fn, seconds):
    """Runs the property in fresh batches of examples until time is up."""
    end = time.monotonic() + seconds
    COUNT["n"] = 0
    while time.monotonic() < end:
        fn()
    return COUNT["n"]


if __name__ == "__main__":
    total = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    n1 = run_for(fuzz_loaders, total * 0.75)
    n2 = run_for(fuzz_frombytes, total * 0.25)
    print("fuzz_image: %d loader cases, %d frombytes cases, no crash" % (n1, n2))
