"""lumora.image and lumora.richload: loading, saving, byte conversions.

Files are cross-checked with Pillow in both directions (files Pillow wrote
load with Pillow's pixels; files we write open in Pillow with the source
pixels).  Byte conversions are checked against a per-pixel Python model
built from get_at_mapped and the surface's masks, shifts and losses.
"""
import gc
import io
import os
import struct

import pytest

np = pytest.importorskip("numpy")
Image = pytest.importorskip("PIL.Image")

import lumora  # noqa: E402
from lumora import Surface  # noqa: E402
import lumora.image as image  # noqa: E402

SRCALPHA = 0x10000
ARGB = (0xFF0000, 0xFF00, 0xFF, 0xFF000000)
XRGB = (0xFF0000, 0xFF00, 0xFF, 0)
RGB565 = (0xF800, 0x7E0, 0x1F, 0)
RGB332 = (0xE0, 0x1C, 0x03, 0)

rng = np.random.default_rng(20261208)


def blocky(w, h, channels, seed=0):
    """Random colours in 4x4 blocks with some long runs: compressible but
    not trivially so."""
    r = np.random.default_rng(seed)
    small = r.integers(0, 256, ((h + 3) // 4, (w + 3) // 4, channels),
                       dtype=np.uint8)
    a = np.repeat(np.repeat(small, 4, 0), 4, 1)[:h, :w].copy()
    a[h // 2, :] = a[h // 2, 0]
    return a


def rgba_of(surf):
    w, h = surf.get_size()
    return np.frombuffer(image.tobytes(surf, "RGBA"), np.uint8).reshape(h, w, 4)


# ---------------------------------------------------------------------------
# Per-pixel model of tobytes.
# ---------------------------------------------------------------------------

def model_tobytes(surf, fmt, key=None, flipped=False):
    w, h = surf.get_size()
    masks, shifts, losses = surf.get_masks(), surf.get_shifts(), surf.get_losses()
    nbytes = surf.get_bytesize()
    out = bytearray()
    rows = range(h - 1, -1, -1) if flipped else range(h)
    for y in rows:
        for x in range(w):
            p = surf.get_at_mapped((x, y))
            if fmt == "P":
                out.append(p)
                continue
            if nbytes == 1 and masks[0] == 0:
                c = surf.get_palette_at(p)
                r, g, b = c[0], c[1], c[2]
                a_mask = 255
            else:
                r, g, b, a_mask = (((p & m) >> s) << loss & 0xFF
                                   for m, s, loss in zip(masks, shifts, losses))
                if not masks[3]:
                    a_mask = 255
            a = a_mask
            if fmt == "RGBA" and key is not None:
                a = 0 if p == key else 255
            pm = [c * a // 255 for c in (r, g, b)]
            out += {"RGB": bytes((r, g, b)), "RGBA": bytes((r, g, b, a)),
                    "RGBX": bytes((r, g, b, a)), "ARGB": bytes((a, r, g, b)),
                    "BGRA": bytes((b, g, r, a)),
                    "RGBA_PREMULT": bytes(pm + [a]),
                    "ARGB_PREMULT": bytes([a] + pm)}[fmt]
    return bytes(out)


def make_surface(kind, w=7, h=5, seed=1):
    """A surface of the named kind filled with random pixels; returns it
    and its mapped colour key (or None)."""
    r = np.random.default_rng(seed)
    key = None
    if kind == "argb32":
        s = Surface((w, h), SRCALPHA, 32, ARGB)
    elif kind == "abgr32":
        s = Surface((w, h), SRCALPHA, 32, (0xFF, 0xFF00, 0xFF0000, 0xFF000000))
    elif kind in ("xrgb32", "xrgb32key"):
        s = Surface((w, h), 0, 32, XRGB)
    elif kind == "rgb24":
        s = Surface((w, h), 0, 24, XRGB)
    elif kind == "rgb565":
        s = Surface((w, h), 0, 16, RGB565)
    elif kind == "rgb332":
        s = Surface((w, h), 0, 8, RGB332)
    elif kind in ("pal8", "pal8key"):
        s = Surface((w, h), 0, 8)
        s.set_palette([tuple(int(v) for v in r.integers(0, 256, 3)) for _ in range(256)])
    else:
        raise ValueError(kind)
    for y in range(h):
        for x in range(w):
            if s.get_bytesize() == 1:
                s.set_at((x, y), s.get_palette_at(int(r.integers(0, 8)))
                         if kind.startswith("pal") else
                         tuple(int(v) for v in r.integers(0, 256, 3)))
            else:
                s.set_at((x, y), tuple(int(v) for v in r.integers(0, 256, 4)))
    if kind.endswith("key"):
        key = s.get_at_mapped((0, 0))
        s.set_colorkey(s.get_at((0, 0)))
    return s, key


KINDS = ["argb32", "abgr32", "xrgb32", "xrgb32key", "rgb24", "rgb565",
         "rgb332", "pal8", "pal8key"]


# ---------------------------------------------------------------------------
# tobytes / frombytes / frombuffer
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("fmt", ["RGB", "RGBA", "RGBX", "ARGB", "BGRA"])
@pytest.mark.parametrize("flipped", [False, True])
def test_tobytes_matches_model(kind, fmt, flipped):
    s, key = make_surface(kind)
    assert image.tobytes(s, fmt, flipped) == model_tobytes(s, fmt, key, flipped)


@pytest.mark.parametrize("kind", ["argb32", "abgr32"])
@pytest.mark.parametrize("fmt", ["RGBA_PREMULT", "ARGB_PREMULT"])
def test_tobytes_premultiplied(kind, fmt):
    s, _ = make_surface(kind)
    assert image.tobytes(s, fmt) == model_tobytes(s, fmt)
    one = Surface((2, 1), SRCALPHA, 32, ARGB)
    one.set_at((0, 0), (200, 100, 50, 128))
    one.set_at((1, 0), (200, 100, 50, 0))
    assert image.tobytes(one, "RGBA_PREMULT") == bytes([100, 50, 25, 128, 0, 0, 0, 0])


def test_tobytes_p_and_565_values():
    s, _ = make_surface("pal8")
    assert image.tobytes(s, "P") == model_tobytes(s, "P")
    s = Surface((1, 1), 0, 16, RGB565)
    s.fill((255, 255, 255))
    assert image.tobytes(s, "RGB") == bytes([248, 252, 248])


def test_tobytes_subsurface_and_large_fast_path():
    a = blocky(301, 67, 4, seed=3)
    s = image.frombytes(a.tobytes(), (301, 67), "RGBA")
    sub = s.subsurface((5, 7, 100, 20))
    assert image.tobytes(sub, "RGBA") == a[7:27, 5:105].tobytes()
    assert image.tobytes(sub, "RGB", True) == a[7:27, 5:105, :3][::-1].tobytes()
    want = a.copy()
    want[..., 3] = 255
    x = Surface((301, 67), 0, 32, XRGB)
    x.blit(image.frombytes(want.tobytes(), (301, 67), "RGBA"), (0, 0))
    assert image.tobytes(x, "BGRA") == want[..., [2, 1, 0, 3]].tobytes()
    assert image.tobytes(x, "ARGB", True) == want[::-1][..., [3, 0, 1, 2]].tobytes()


@pytest.mark.parametrize("args, exc, msg", [
    (("RGBA_PREMULT",), ValueError,
     "Can only create pre-multiplied alpha bytes if the surface has per-pixel alpha"),
    (("P",), ValueError, 'Can only create "P" format data with 8bit Surfaces'),
    (("BGR",), ValueError, "Unrecognized type of format"),
    (("rgba",), ValueError, "Unrecognized type of format"),
])
def test_tobytes_errors(args, exc, msg):
    s = Surface((2, 2), 0, 24, XRGB)
    with pytest.raises(exc) as e:
        image.tobytes(s, *args)
    assert str(e.value) == msg


@pytest.mark.parametrize("fmt, nb, masks", [
    ("P", 1, (0, 0, 0, 0)),
    ("RGB", 3, (0xFF0000, 0xFF00, 0xFF, 0)),
    ("RGBX", 4, (0xFF, 0xFF00, 0xFF0000, 0)),
    ("RGBA", 4, (0xFF, 0xFF00, 0xFF0000, 0xFF000000)),
    ("BGRA", 4, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
    ("ARGB", 4, (0xFF00, 0xFF0000, 0xFF000000, 0xFF)),
])
@pytest.mark.parametrize("w", [1, 5, 33])
def test_frombytes_layout_and_roundtrip(fmt, nb, masks, w):
    h = 3
    data = rng.integers(0, 256, w * h * nb, dtype=np.uint8).tobytes()
    s = image.frombytes(data, (w, h), fmt)
    assert s.get_size() == (w, h) and s.get_masks() == masks
    px = np.frombuffer(data, np.uint8).reshape(h, w, nb)
    for x, y in [(0, 0), (w - 1, h - 1), (w // 2, 1)]:
        p = px[y, x]
        if fmt == "P":
            assert s.get_at_mapped((x, y)) == p[0]
        else:
            order = {"RGB": (0, 1, 2), "RGBX": (0, 1, 2), "RGBA": (0, 1, 2, 3),
                     "BGRA": (2, 1, 0, 3), "ARGB": (1, 2, 3, 0)}[fmt]
            assert tuple(s.get_at((x, y)))[:len(order)] == tuple(int(p[i]) for i in order)
    if fmt != "RGBX":
        assert image.tobytes(s, fmt) == data
        flipped = image.frombytes(data, (w, h), fmt, True)
        assert image.tobytes(flipped, fmt, True) == data
        assert image.tobytes(flipped, fmt) == px[::-1].tobytes()


@pytest.mark.parametrize("args, msg", [
    ((b"\0" * 11, (2, 2), "RGB"), "Bytes length does not equal format and resolution size"),
    ((b"", (0, 2), "RGB"), "Resolution must be nonzero positive values"),
    ((b"", (2, -1), "RGB"), "Resolution must be nonzero positive values"),
    ((b"\0" * 12, (2, 2), "BGR"), "Unrecognized type of format"),
    # 65536 * 65536 * 4 wraps to 0 in 32 bits: must not match empty bytes.
    ((b"", (65536, 65536), "RGBA"), "Bytes length does not equal format and resolution size"),
    ((b"\0" * 4, (2147483647, 2147483647), "RGBA"),
     "Bytes length does not equal format and resolution size"),
])
def test_frombytes_errors(args, msg):
    with pytest.raises(ValueError) as e:
        image.frombytes(*args)
    assert str(e.value) == msg


def test_frombytes_wants_bytes():
    with pytest.raises(TypeError):
        image.frombytes(bytearray(12), (2, 2), "RGB")


@pytest.mark.parametrize("fmt, nb, first", [
    ("RGB", 3, (1, 2, 3)), ("BGR", 3, (3, 2, 1)), ("RGBA", 4, (1, 2, 3, 4)),
    ("BGRA", 4, (3, 2, 1, 4)), ("ARGB", 4, (2, 3, 4, 1)), ("RGBX", 4, (1, 2, 3)),
    ("P", 1, None),
])
def test_frombuffer_aliases_memory(fmt, nb, first):
    buf = bytearray(range(1, 4 * 2 * nb + 1))
    s = image.frombuffer(buf, (4, 2), fmt)
    if first:
        assert tuple(s.get_at((0, 0)))[:len(first)] == first
    s.fill((10, 20, 30, 40)) if fmt != "P" else s.fill(7)
    if fmt == "P":
        assert buf == bytearray([7] * 8)
    else:
        assert buf[:3] == {"RGB": b"\x0a\x14\x1e", "BGR": b"\x1e\x14\x0a",
                           "RGBA": b"\x0a\x14\x1e", "BGRA": b"\x1e\x14\x0a",
                           "ARGB": b"\x28\x0a\x14", "RGBX": b"\x0a\x14\x1e"}[fmt]


def test_frombuffer_holds_an_export():
    buf = bytearray(16)
    s = image.frombuffer(buf, (2, 2), "RGBA", 1)
    # The surface's pixels are the bytearray's memory: it cannot be resized
    # (freed or moved) while the surface lives ...
    with pytest.raises(BufferError):
        buf.extend(b"x" * 100000)
    s.fill((1, 2, 3, 4))
    assert buf[:4] == b"\x01\x02\x03\x04"
    del s
    gc.collect()
    buf.extend(b"x")   # ... and can once it is gone.
    # The buffer object lives as long as the surface.
    s = image.frombuffer(bytearray(b"\x05" * 16), (2, 2), "RGBA")
    gc.collect()
    assert tuple(s.get_at((1, 1))) == (5, 5, 5, 5)


@pytest.mark.parametrize("obj, size, fmt, exc, msg", [
    (bytearray(12), (2, 2), "RGBA", ValueError,
     "Buffer length does not equal format and resolution size"),
    (bytearray(12), (2, 2), "RGBA_PREMULT", ValueError, "Unrecognized type of format"),
    (bytearray(12), (0, 2), "RGB", ValueError, "Resolution must be nonzero positive values"),
    (bytearray(0), (65536, 65536), "RGBA", ValueError,
     "Buffer length does not equal format and resolution size"),
    (12, (2, 2), "RGB", TypeError, None),
])
def test_frombuffer_errors(obj, size, fmt, exc, msg):
    with pytest.raises(exc) as e:
        image.frombuffer(obj, size, fmt)
    if msg:
        assert str(e.value) == msg


def test_display_surface_quit_message():
    s = Surface((2, 2), 0, 32)
    import ctypes
    ptr = ctypes.c_void_p.from_address(id(s) + 2 * ctypes.sizeof(ctypes.c_void_p))
    keep = ptr.value
    ptr.value = None
    try:
        for call in (lambda: image.tobytes(s, "RGB"),
                     lambda: image.save(s, "x.tga"),
                     lambda: image.save_extended(s, "x.png")):
            with pytest.raises(lumora.error, match="display Surface quit"):
                call()
    finally:
        ptr.value = keep


# ---------------------------------------------------------------------------
# Files written by Pillow load with Pillow's pixels.
# ---------------------------------------------------------------------------

def pillow_file(tmp_path, kind):
    a = blocky(45, 23, 4, seed=7)
    if kind in ("png_rgba", "tga_rgba", "tga_rle_rgba"):
        im = Image.fromarray(a, "RGBA")
    else:
        im = Image.fromarray(a[..., :3], "RGB")
    if kind in ("png_p", "png_p_trns", "gif", "bmp_p", "tga_p"):
        im = im.quantize(16)
        if kind == "png_p_trns":
            im.info["transparency"] = bytes([0, 128] + [255] * 14)
    ext, opts = {
        "png_rgb": ("png", {}), "png_rgba": ("png", {}), "png_p": ("png", {}),
        "png_p_trns": ("png", {}), "jpg": ("jpg", {"quality": 95}),
        "bmp": ("bmp", {}), "bmp_p": ("bmp", {}), "tga": ("tga", {}),
        "tga_rgba": ("tga", {}), "tga_rle_rgba": ("tga", {"compression": "tga_rle"}),
        "tga_p": ("tga", {}), "gif": ("gif", {}),
        "png_gray": ("png", {}),
    }[kind]
    if kind == "png_gray":
        im = im.convert("L")
    if kind == "png_p_trns":
        opts = {"transparency": bytes([0, 128] + [255] * 14)}
    path = tmp_path / ("pil_%s.%s" % (kind, ext))
    im.save(path, **opts)
    ref = Image.open(path)
    return path, np.asarray(ref.convert("RGBA"))


PILLOW_KINDS = ["png_rgb", "png_rgba", "png_p", "png_p_trns", "png_gray", "jpg",
                "bmp", "bmp_p", "tga", "tga_rgba", "tga_rle_rgba", "tga_p", "gif"]


@pytest.mark.parametrize("kind", PILLOW_KINDS)
@pytest.mark.parametrize("how", ["path", "bytesio", "file"])
def test_load_pillow_files(tmp_path, kind, how):
    path, want = pillow_file(tmp_path, kind)
    if how == "path":
        s = image.load(str(path))
    elif how == "bytesio":
        s = image.load(io.BytesIO(path.read_bytes()), "x." + path.suffix[1:].upper())
    else:
        with open(path, "rb") as f:
            s = image.load(f, path.name)
    got = rgba_of(s)
    assert got.shape == want.shape
    if kind == "jpg":
        assert np.abs(got.astype(int) - want).max() <= 2
    else:
        assert np.array_equal(got, want)


def test_load_basic_bmp_and_path_like(tmp_path):
    path, want = pillow_file(tmp_path, "bmp")
    assert np.array_equal(rgba_of(image.load_basic(path)), want)
    assert np.array_equal(rgba_of(image.load_basic(str(path).encode())), want)


def test_load_from_read_only_objects(tmp_path):
    path, want = pillow_file(tmp_path, "png_rgba")
    data = path.read_bytes()

    class ReadOnly:
        """No seek or tell; read hands out at most 1000 bytes at a time."""
        def __init__(self):
            self.pos = 0

        def read(self, n):
            chunk = data[self.pos:self.pos + min(n, 1000)]
            self.pos += len(chunk)
            return chunk

    assert np.array_equal(rgba_of(image.load(ReadOnly())), want)
    bmp_path, bmp_want = pillow_file(tmp_path, "bmp")
    rd = io.BytesIO(bmp_path.read_bytes())

    class Plain:
        read = rd.read
    assert np.array_equal(rgba_of(image.load_basic(Plain())), bmp_want)


def test_load_from_a_pipe(tmp_path):
    path, want = pillow_file(tmp_path, "png_p")
    r, w = os.pipe()
    os.write(w, path.read_bytes())
    os.close(w)
    with os.fdopen(r, "rb") as f:
        assert not f.seekable()
        assert np.array_equal(rgba_of(image.load(f)), want)


def test_loaded_file_object_stays_open_after_load(tmp_path):
    path, _ = pillow_file(tmp_path, "png_rgb")
    f = io.BytesIO(path.read_bytes())
    image.load(f)
    assert not f.closed and f.getvalue() == path.read_bytes()


class Raising(io.RawIOBase):
    def readable(self):
        return True

    def writable(self):
        return True

    def seekable(self):
        return True

    def read(self, n=-1):
        raise OSError("read exploded")

    def readinto(self, b):
        raise OSError("read exploded")

    def write(self, b):
        raise OSError("write exploded")

    def seek(self, *a):
        return 0

    def tell(self):
        return 0


@pytest.mark.parametrize("loader", ["load", "load_basic"])
def test_load_from_raising_object(loader, capsys):
    with pytest.raises(lumora.error):
        getattr(image, loader)(Raising())
    assert "read exploded" in capsys.readouterr().err


@pytest.mark.parametrize("hint", ["x.tga", "x.bmp", "x.png", "x.jpg"])
def test_save_to_raising_object(hint, capsys):
    s = Surface((40, 40), 0, 32)
    with pytest.raises(lumora.error):
        image.save(s, Raising(), hint)
    assert "write exploded" in capsys.readouterr().err


def bmp_header(w, h, bpp=24):
    return (b"BM" + struct.pack("<IHHI", 54, 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, 0, 0, 0, 0, 0))


@pytest.mark.parametrize("data", [
    b"", b"BM", b"garbage" * 10, b"\x89PNG\r\n\x1a\n",
    bmp_header(3, 3), bmp_header(100000, 100000), bmp_header(30000, 30000, 32),
    bmp_header(2 ** 31 - 1, 1), bmp_header(1, -2 ** 31), bmp_header(0, 5),
    b"GIF89a" + b"\xff" * 7,
])
@pytest.mark.parametrize("loader", ["load", "load_basic"])
def test_malformed_files_raise(data, loader):
    with pytest.raises(lumora.error):
        getattr(image, loader)(io.BytesIO(data))


def test_truncated_files_raise(tmp_path):
    for kind in ("png_rgba", "bmp", "gif", "jpg"):
        path, _ = pillow_file(tmp_path, kind)
        data = path.read_bytes()
        for n in (0, 10, 40, len(data) // 2, len(data) - 13):
            try:
                s = image.load(io.BytesIO(data[:n]), "x." + path.suffix[1:])
            except lumora.error:
                continue
            # GIF and JPEG decoders keep what they could read of a cut-off
            # scan; PNG and BMP must refuse.
            assert kind in ("gif", "jpg") and n >= 40
            assert s.get_size() == (45, 23)


def test_missing_file_and_bad_arguments(tmp_path):
    with pytest.raises(FileNotFoundError):
        image.load(str(tmp_path / "nope.png"))
    with pytest.raises(FileNotFoundError):
        image.load_basic(str(tmp_path / "nope.bmp"))
    with pytest.raises(TypeError):
        image.load(12)
    with pytest.raises(TypeError):
        image.save(12, "x.tga")
    with pytest.raises(ValueError, match="null characters"):
        image.load(str(tmp_path / "a\0b.png"))


# ---------------------------------------------------------------------------
# Files we write open in Pillow with the source pixels.
# ---------------------------------------------------------------------------

def alpha_surface(w=45, h=23):
    a = blocky(w, h, 4, seed=11)
    return image.frombytes(a.tobytes(), (w, h), "RGBA"), a


@pytest.mark.parametrize("ext", ["tga", "bmp", "png", "PNG"])
@pytest.mark.parametrize("kind", ["argb32", "rgb24", "xrgb32", "pal8", "rgb332", "rgb565"])
def test_saved_files_open_in_pillow(tmp_path, ext, kind):
    w, h = 37, 19
    s, _ = make_surface(kind, w, h, seed=5)
    path = tmp_path / ("out." + ext)
    image.save(s, str(path))
    assert Image.open(path).format == {"tga": "TGA", "bmp": "BMP", "png": "PNG"}[ext.lower()]
    got = np.asarray(Image.open(path).convert("RGBA"))
    # Low-depth channels are widened to the full range, as SDL reads them.
    want = np.array([[tuple(s.get_at((x, y))) for x in range(w)] for y in range(h)],
                    np.uint8)
    if kind != "argb32":
        want[..., 3] = 255
    if kind in ("rgb332", "rgb565"):
        # SDL's converting blit widens channels with its own rounding.
        assert np.abs(got.astype(int) - want).max() <= 1
    else:
        assert np.array_equal(got, want)


@pytest.mark.parametrize("name", ["out.jpg", "out.JpEg"])
def test_saved_jpeg_opens_in_pillow(tmp_path, name):
    y, x = np.mgrid[0:48, 0:64]
    a = np.dstack([x * 4, y * 5, (x + y) * 2, np.full_like(x, 255)]).astype(np.uint8)
    s = image.frombytes(a.tobytes(), (64, 48), "RGBA")
    image.save(s, str(tmp_path / name))
    im = Image.open(tmp_path / name)
    assert im.format == "JPEG" and im.size == (64, 48)
    diff = np.abs(np.asarray(im.convert("RGB")).astype(int) - a[..., :3])
    assert diff.mean() < 2 and diff.max() < 24


def set_palette_alpha(surf, alphas):
    """Palette alpha through SDL itself: Surface.set_palette keeps it opaque."""
    import ctypes
    sdl = ctypes.CDLL("libSDL2-2.0.so.0")
    ptr = ctypes.c_void_p.from_address(id(surf) + 2 * ctypes.sizeof(ctypes.c_void_p)).value
    fmt = ctypes.c_void_p.from_address(ptr + 8).value   # after Uint32 flags + pad
    if ctypes.sizeof(ctypes.c_void_p) == 4:
        fmt = ctypes.c_void_p.from_address(ptr + 4).value
    pal = ctypes.c_void_p.from_address(fmt + ctypes.sizeof(ctypes.c_void_p)).value
    for i, a in alphas.items():
        c = surf.get_palette_at(i)
        col = (ctypes.c_uint8 * 4)(c[0], c[1], c[2], a)
        assert sdl.SDL_SetPaletteColors(ctypes.c_void_p(pal), col, i, 1) == 0


def test_png_forms(tmp_path):
    # Palette with every entry opaque: colour type 3 and no tRNS.
    s = Surface((4, 2), 0, 8)
    s.set_palette([(i, 2 * i % 256, 255 - i) for i in range(256)])
    for x in range(4):
        s.set_at((x, 0), s.get_palette_at(x * 3))
    image.save(s, str(tmp_path / "p.png"))
    im = Image.open(tmp_path / "p.png")
    assert im.mode == "P" and "transparency" not in im.info
    assert np.array_equal(np.asarray(im)[0], [0, 3, 6, 9])
    # Entry 5 the last translucent one: tRNS holds 6 values.
    set_palette_alpha(s, {2: 77, 5: 0})
    image.save(s, str(tmp_path / "t.png"))
    raw = (tmp_path / "t.png").read_bytes()
    i = raw.index(b"tRNS")
    assert struct.unpack(">I", raw[i - 4:i])[0] == 6
    assert raw[i + 4:i + 10] == bytes([255, 255, 77, 255, 255, 0])
    # 24-bit in BGR byte order: colour type 2; ARGB8888: colour type 6.
    for surf, ctype in [(Surface((3, 3), 0, 24, XRGB), 2),
                        (Surface((3, 3), SRCALPHA, 32, ARGB), 6)]:
        surf.fill((10, 20, 30, 40))
        image.save(surf, str(tmp_path / "c.png"))
        raw = (tmp_path / "c.png").read_bytes()
        assert raw[25] == ctype
        assert Image.open(tmp_path / "c.png").convert("RGBA").getpixel((1, 1)) == \
            ((10, 20, 30, 40) if ctype == 6 else (10, 20, 30, 255))


# ---------------------------------------------------------------------------
# TGA packets.
# ---------------------------------------------------------------------------

def tga_packets(data, bpp):
    """(kind, count, pixel bytes) per packet of a run-length encoded body."""
    out, i = [], 0
    while i < len(data):
        hdr = data[i]
        n = (hdr & 0x7F) + 1
        if hdr & 0x80:
            out.append(("run", n, data[i + 1:i + 1 + bpp]))
            i += 1 + bpp
        else:
            out.append(("raw", n, data[i + 1:i + 1 + n * bpp]))
            i += 1 + n * bpp
    return out


def save_tga(surf):
    f = io.BytesIO()
    image.save(surf, f)    # no hint: TGA
    return f.getvalue()


def test_tga_run_lengths():
    s = Surface((300, 1), 0, 24, XRGB)
    s.fill((1, 2, 3))
    data = save_tga(s)
    assert data[2] == 10 and data[16] == 24 and data[17] == 0x20
    assert [(k, n) for k, n, _ in tga_packets(data[18:], 3)] == \
        [("run", 128), ("run", 128), ("run", 44)]
    assert tga_packets(data[18:], 3)[0][2] == b"\x03\x02\x01"
    # 8-bit row 1, 1, 2: the pair does not pay as a run.
    p = Surface((3, 1), 0, 8)
    p.set_palette([(i, i, i) for i in range(256)])
    for x, v in enumerate((1, 1, 2)):
        p.set_at((x, 0), (v, v, v))
    data = save_tga(p)
    assert data[1] == 1 and data[2] == 9 and data[7] == 24
    body = data[18 + 256 * 3:]
    assert tga_packets(body, 1) == [("raw", 2, b"\x01\x01"), ("run", 1, b"\x02")]


@pytest.mark.parametrize("w", [1, 2, 3, 127, 128, 129, 130, 257, 1000])
@pytest.mark.parametrize("depth", [8, 24, 32])
def test_tga_worst_case_rows_decode(w, depth):
    # No two neighbours equal: every pixel goes out raw except the last.
    if depth == 8:
        s = Surface((w, 2), 0, 8)
        s.set_palette([(i, 255 - i, i // 2) for i in range(256)])
        for x in range(w):
            s.set_at((x, 0), s.get_palette_at(x % 2 + 2 * ((x // 2) % 2)))
            s.set_at((x, 1), s.get_palette_at(7))
        bpp = 1
    else:
        s = Surface((w, 2), SRCALPHA if depth == 32 else 0, depth,
                    ARGB if depth == 32 else XRGB)
        for x in range(w):
            s.set_at((x, 0), (x % 256, (x * 7) % 256, x % 2 * 255, 255 - x % 3))
            s.set_at((x, 1), (9, 9, 9, 255))
        bpp = depth // 8
    data = save_tga(s)
    body = data[18 + (256 * 3 if depth == 8 else 0):]
    pixels = b""
    for kind, n, px in tga_packets(body, bpp):
        assert n <= 128
        pixels += px * n if kind == "run" else px
    assert len(pixels) == 2 * w * bpp
    got = np.asarray(Image.open(io.BytesIO(data)).convert("RGBA"))
    want = np.frombuffer(model_tobytes(s, "RGBA"), np.uint8).reshape(2, w, 4).copy()
    if depth != 32:
        want[..., 3] = 255
    assert np.array_equal(got, want)


@pytest.mark.parametrize("masks", [ARGB, (0xFF, 0xFF00, 0xFF0000, 0xFF000000),
                                   (0xFF00, 0xFF0000, 0xFF000000, 0xFF)])
def test_tga_keeps_key_alpha_and_blend_settings(masks):
    s = Surface((5, 5), SRCALPHA, 32, masks)
    s.fill((200, 100, 50, 60))
    s.set_at((0, 0), (1, 2, 3, 255))
    s.set_alpha(90)
    s.set_colorkey((1, 2, 3, 255))
    data = save_tga(s)
    assert data[16] == 32 and data[17] == 0x28
    # Copied, not blended onto the row buffer, not alpha-modulated, and the
    # key colour kept.
    im = Image.open(io.BytesIO(data))
    assert im.getpixel((2, 2)) == (200, 100, 50, 60)
    assert im.getpixel((0, 0)) == (1, 2, 3, 255)
    assert s.get_alpha() == 90
    assert tuple(s.get_colorkey())[:3] == (1, 2, 3)
    p = Surface((4, 1), 0, 8)
    p.set_palette([(i, i, i) for i in range(256)])
    p.set_colorkey((3, 3, 3))
    data = save_tga(p)
    assert data[7] == 32
    assert data[18 + 3 * 4:18 + 4 * 4] == b"\x03\x03\x03\x00"
    assert data[18:22] == b"\x00\x00\x00\xff"
    assert p.get_colorkey() is not None and tuple(p.get_colorkey())[:3] == (3, 3, 3)


@pytest.mark.parametrize("depth, masks", [(16, RGB565), (32, (0xFF, 0xFF00, 0xFF0000, 0xFF000000))])
def test_tga_save_of_locked_surface(depth, masks):
    # The writer copies rows with blits, which SDL refuses on a locked
    # surface; saving a surface the program holds locked must still work.
    s = Surface((6, 3), SRCALPHA if masks[3] else 0, depth, masks)
    s.fill((200, 100, 48, 255))
    s.set_alpha(70)
    want = save_tga(s)
    s.lock()
    try:
        out = io.BytesIO()
        image.save(s, out, "x.tga")
    finally:
        s.unlock()
    assert out.getvalue() == want and s.get_alpha() == 70


def test_tga_limits():
    with pytest.raises(lumora.error, match="65535"):
        image.save(Surface((65536, 1), 0, 8), io.BytesIO(), "x.tga")


# ---------------------------------------------------------------------------
# Save dispatch, file objects and failed writes.
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("name, magic", [
    ("a.png", b"\x89PNG"), ("a.PNG", b"\x89PNG"), ("a.jPeG", b"\xff\xd8"),
    ("a.jpg", b"\xff\xd8"), ("a.bmp", b"BM"), ("bmp", b"BM"), ("a.gif", b"\x00\x00\x0a"),
    ("dir.png/noext", b"\x00\x00\x0a"),
])
def test_save_dispatch_by_extension(tmp_path, monkeypatch, name, magic):
    # Relative names: the rule looks at the last '.' of the whole path.
    monkeypatch.chdir(tmp_path)
    s = Surface((6, 4), 0, 24, XRGB)
    os.makedirs(os.path.dirname(name) or ".", exist_ok=True)
    image.save(s, name)
    assert (tmp_path / name).read_bytes()[:len(magic)] == magic


@pytest.mark.parametrize("hint, magic", [
    (None, b"\x00\x00\x0a"), ("x.png", b"\x89PNG"), ("JPG", b"\xff\xd8"),
    ("x.bmp", b"BM"), ("x.tga", b"\x00\x00\x0a"),
])
def test_save_to_file_objects_stay_open(tmp_path, hint, magic):
    s, a = alpha_surface()
    args = (hint,) if hint else ()
    buf = io.BytesIO()
    image.save(s, buf, *args)
    assert not buf.closed and buf.getvalue()[:len(magic)] == magic
    with open(tmp_path / "f.out", "wb") as f:
        image.save(s, f, *args)
        assert not f.closed
    assert (tmp_path / "f.out").read_bytes() == buf.getvalue()
    if hint not in ("JPG",):
        got = np.asarray(Image.open(io.BytesIO(buf.getvalue())).convert("RGBA"))
        if hint == "x.bmp":
            assert np.array_equal(got[..., :3], a[..., :3])
        else:
            assert np.array_equal(got, a)


def test_saving_into_a_file_object_keeps_no_reference():
    import sys
    s = Surface((9, 9), 0, 32)
    for hint in ("x.tga", "x.bmp", "x.png", "x.jpg"):
        buf = io.BytesIO()
        before = sys.getrefcount(buf)
        image.save(s, buf, hint)
        assert sys.getrefcount(buf) == before and not buf.closed


def test_exported_c_symbols():
    import ctypes
    import lumora.richload as richload
    lib = ctypes.CDLL(image.__file__)
    for name in ("image_tobytes", "image_frombytes", "image_frombuffer",
                 "lmObject_AsCharBuffer"):
        assert getattr(lib, name)
    assert ctypes.CDLL(richload.__file__).lm_SavePNG


def test_save_extended_dispatch_errors(tmp_path):
    s = Surface((2, 2), 0, 32)
    for args in [(str(tmp_path / "a.bmp"),), (io.BytesIO(),), (io.BytesIO(), "x.gif")]:
        with pytest.raises(lumora.error, match="Unrecognized image type"):
            image.save_extended(s, *args)
    with pytest.raises(TypeError, match="Expected a string or file object for "
                                        "the file argument: got int"):
        image.save_extended(s, 5, "x.png")


@pytest.mark.parametrize("ext", ["tga", "bmp", "png", "jpg"])
def test_failed_writes_are_errors(tmp_path, ext):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    s, _ = alpha_surface(200, 100)
    link = tmp_path / ("full." + ext)
    link.symlink_to("/dev/full")
    with pytest.raises(lumora.error):
        image.save(s, str(link))

    class Short(io.RawIOBase):
        """Accepts the first 100 bytes, then writes nothing."""
        def __init__(self):
            self.n = 0

        def writable(self):
            return True

        def write(self, b):
            take = max(0, min(len(b), 100 - self.n))
            self.n += take
            return take
    with pytest.raises(lumora.error):
        image.save(s, Short(), "x." + ext)


def test_save_refuses_nul_and_missing_dirs(tmp_path):
    s = Surface((2, 2), 0, 32)
    for name in ("a\0b.tga", "a\0b.png", "a.png\0.bmp"):
        with pytest.raises(ValueError, match="null characters"):
            image.save(s, str(tmp_path / name))
        assert not any(p.name.startswith("a") for p in tmp_path.iterdir())
    for name in ("nodir/a.tga", "nodir/a.bmp", "nodir/a.png", "nodir/a.jpg"):
        with pytest.raises(lumora.error):
            image.save(s, str(tmp_path / name))


def test_save_subsurface(tmp_path):
    s, a = alpha_surface()
    sub = s.subsurface((3, 2, 10, 6))
    for ext in ("tga", "png", "bmp"):
        image.save(sub, str(tmp_path / ("sub." + ext)))
        got = np.asarray(Image.open(tmp_path / ("sub." + ext)).convert("RGBA"))
        assert np.array_equal(got[..., :3], a[2:8, 3:13, :3])
    assert not s.get_locked() and not sub.get_locked()


# ---------------------------------------------------------------------------
# Module surface.
# ---------------------------------------------------------------------------

def test_module_functions_and_docstrings():
    import lumora.richload as richload
    assert image.get_extended() is True
    v = image.get_sdl_image_version()
    assert isinstance(v, tuple) and len(v) == 3 and v[0] == 2
    assert image.get_sdl_image_version(linked=False)[0] == 2
    assert richload._get_sdl_image_version(False) == image.get_sdl_image_version(False)
    assert image.__doc__.startswith("lumora module for image transfer\n\n")
    assert "set_max_pixels" in image.__doc__
    assert richload.__doc__ == "additional image loaders"
    assert image.tobytes.__doc__ == ("tobytes(Surface, format, flipped=False) -> bytes\n"
                                     "transfer image to byte buffer")
    assert image.tostring.__doc__.startswith("tostring(Surface, format")
    assert image.frombuffer.__doc__ == ("frombuffer(buffer, size, format) -> Surface\n"
                                        "create a new Surface that shares data inside "
                                        "a bytes buffer")
    assert image.get_extended.__doc__ == ("get_extended() -> bool\n"
                                          "test if extended image formats can be loaded")
    assert richload.load_extended.__doc__ == "lumora module for image transfer"
    assert image.fromstring(b"\1\2\3", (1, 1), "RGB").get_at((0, 0))[:3] == (1, 2, 3)


# ---------------------------------------------------------------------------
# A short, bounded property test over the loaders and frombytes.
# ---------------------------------------------------------------------------

try:
    import hypothesis as hyp
    st = hyp.strategies
except ImportError:   # the property tests need hypothesis; the rest does not
    hyp = None

if hyp is not None:
    _SEEDS = [b"", b"BM", b"\x89PNG\r\n\x1a\n", b"GIF89a", b"\xff\xd8\xff", b"\0\0\x0a"]

    @hyp.settings(max_examples=60, deadline=None, derandomize=True)
    @hyp.given(prefix=st.sampled_from(_SEEDS), body=st.binary(max_size=200),
               hint=st.sampled_from([None, "x.tga", "x.bmp", "x.png", "x.pcx"]))
    def test_property_loaders_never_crash(prefix, body, hint):
        data = prefix + body
        for call in (lambda: image.load_basic(io.BytesIO(data)),
                     lambda: image.load(io.BytesIO(data), *([hint] if hint else []))):
            try:
                s = call()
            except (lumora.error, ValueError, MemoryError):
                continue
            w, h = s.get_size()
            assert len(image.tobytes(s, "RGBA")) == w * h * 4

    @hyp.settings(max_examples=60, deadline=None, derandomize=True)
    @hyp.given(w=st.integers(-2, 40), h=st.integers(-2, 40),
               fmt=st.sampled_from(["P", "RGB", "RGBA", "RGBX", "ARGB", "BGRA", "BGR"]),
               extra=st.integers(-3, 3), flipped=st.booleans())
    def test_property_frombytes(w, h, fmt, extra, flipped):
        nb = {"P": 1, "RGB": 3, "BGR": 3}.get(fmt, 4)
        n = max(0, w * h * nb + extra)
        data = bytes((i * 7) & 0xFF for i in range(n))
        try:
            s = image.frombytes(data, (w, h), fmt, flipped)
        except ValueError:
            assert w < 1 or h < 1 or extra != 0 or fmt == "BGR"
            return
        assert extra == 0 and fmt != "BGR"
        if fmt != "RGBX":
            assert image.tobytes(s, fmt, flipped) == data
