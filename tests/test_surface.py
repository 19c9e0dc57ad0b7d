"""Surface: construction, pixel access, fills, blits, subsurfaces, formats.

Pixel results are checked against values worked out by hand or against the
small per-pixel Python models below, never against the code under test.
"""
import ctypes
import gc
import os
import random
import textwrap

import pytest

import _child

np = pytest.importorskip("numpy")

import lumora  # noqa: E402
from lumora import Surface  # noqa: E402
from lumora.surface import Surface as SurfaceType  # noqa: E402

SRCALPHA = 0x10000
XRGB = (0xFF0000, 0xFF00, 0xFF, 0)
ARGB = (0xFF0000, 0xFF00, 0xFF, 0xFF000000)


from _surfmem import _HEAD, SDL_Rect, SDL_Surface, _slots, sdl  # noqa: E402


_surf_slots = _slots(lumora.surface, "surface", 4)
new2 = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.c_void_p, ctypes.c_int)(
    _surf_slots[1])
c_blit = ctypes.PYFUNCTYPE(
    ctypes.c_int, ctypes.py_object, ctypes.py_object, ctypes.POINTER(SDL_Rect),
    ctypes.POINTER(SDL_Rect), ctypes.c_int)(_surf_slots[2])
set_surface = ctypes.PYFUNCTYPE(
    ctypes.c_int, ctypes.py_object, ctypes.c_void_p, ctypes.c_int)(
    _surf_slots[3])


def pixels(s):
    """The surface's mapped pixel values as a (h, w) uint32 array."""
    raw = sdl(s)
    bpp = s.get_bytesize()
    buf = ctypes.string_at(raw.pixels, raw.pitch * raw.h) if raw.h else b""
    rows = np.frombuffer(buf, np.uint8).reshape(raw.h, raw.pitch)
    px = rows[:, :raw.w * bpp].reshape(raw.h, raw.w, bpp).astype(np.uint32)
    out = np.zeros((raw.h, raw.w), np.uint32)
    for i in range(bpp):
        out |= px[:, :, i] << (8 * i)
    return out


def load(s, values):
    """Write a (h, w) array of mapped values into the surface."""
    raw = sdl(s)
    bpp = s.get_bytesize()
    values = np.asarray(values, np.uint32)
    for y in range(raw.h):
        row = b"".join(int(v).to_bytes(4, "little")[:bpp] for v in values[y])
        ctypes.memmove(raw.pixels + y * raw.pitch, row, len(row))


# ---------------------------------------------------------------------------
# Reference model of the pixel arithmetic.
# ---------------------------------------------------------------------------

def tdiv(x, d):
    """C integer division (truncates toward zero)."""
    q = abs(x) // d
    return q if x >= 0 else -q


def widen(v, bits):
    """A channel of `bits` bits widened to 8 by repeating its bits."""
    if bits == 0:
        return 0
    r, pos = 0, 8 - bits
    while pos > -bits:
        r |= v << pos if pos >= 0 else v >> -pos
        pos -= bits
    return r & 0xFF


def unpack(v, masks):
    out = []
    for i, m in enumerate(masks):
        if m == 0:
            out.append(255 if i == 3 else 0)
            continue
        shift = (m & -m).bit_length() - 1
        bits = bin(m).count("1")
        out.append(widen((v & m) >> shift, bits))
    return out


def pack(c, masks):
    v = 0
    for ch, m in zip(c, masks):
        if m:
            shift = (m & -m).bit_length() - 1
            bits = bin(m).count("1")
            v |= (ch >> (8 - bits)) << shift
    return v


def blend(s, d, a, dst_alpha):
    """Alpha blend of RGBA s over RGBA d with alpha a."""
    out = [d[i] + tdiv((s[i] - d[i]) * a, 255) for i in range(3)]
    out.append(a + (255 - a) * d[3] // 255 if dst_alpha else 255)
    return out


def random_pixels(h, w, seed, alpha=True):
    rng = random.Random(seed)
    mask = 0xFFFFFFFF if alpha else 0xFFFFFF
    vals = [[rng.getrandbits(32) & mask for _ in range(w)] for _ in range(h)]
    # Make sure the alpha extremes are exercised.
    if alpha:
        vals[0][0] &= 0x00FFFFFF
        vals[0][1] |= 0xFF000000
    return np.array(vals, np.uint32)


# ---------------------------------------------------------------------------
# Construction and format queries
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("flags, depth, bits, nbytes, masks", [
    (0, 0, 32, 4, XRGB),
    (0, 32, 32, 4, XRGB),
    (SRCALPHA, 0, 32, 4, ARGB),
    (0, 24, 24, 3, XRGB),
    (0, 16, 16, 2, (0xF800, 0x7E0, 0x1F, 0)),
    (0, 15, 15, 2, (0x7C00, 0x3E0, 0x1F, 0)),
    (0, 12, 12, 2, (0xF00, 0xF0, 0xF, 0)),
    (SRCALPHA, 16, 16, 2, (0xF00, 0xF0, 0xF, 0xF000)),
    (0, 8, 8, 1, (0, 0, 0, 0)),
])
def test_formats(flags, depth, bits, nbytes, masks):
    s = Surface((5, 3), flags, depth)
    assert (s.get_bitsize(), s.get_bytesize(), s.get_masks()) == \
        (bits, nbytes, masks)
    assert s.get_size() == (5, 3)
    assert bool(s.get_flags() & SRCALPHA) == bool(masks[3])
    assert s.get_pitch() >= 5 * nbytes
    assert repr(s) == "<Surface(5x3x%d)>" % bits


def test_masks_and_format_copy():
    s = Surface((2, 2), 0, 32, (0xFF, 0xFF00, 0xFF0000, 0xFF000000))
    assert s.get_masks() == (0xFF, 0xFF00, 0xFF0000, 0xFF000000)
    assert s.get_shifts() == (0, 8, 16, 24)
    assert s.get_losses() == (0, 0, 0, 0)
    # Depth derived from the masks.
    assert Surface((1, 1), 0, 0, (0xF800, 0x7E0, 0x1F, 0)).get_bitsize() == 16
    # A surface as third argument lends its format.
    like = Surface((1, 1), 0, 16)
    t = Surface((3, 3), 0, like)
    assert t.get_masks() == like.get_masks()
    assert Surface((3, 3), SRCALPHA, Surface((1, 1))).get_masks() == ARGB


@pytest.mark.parametrize("args, exc, msg", [
    (((-1, 5),), ValueError, "Invalid resolution for Surface"),
    (((5, -1),), ValueError, "Invalid resolution for Surface"),
    (((2 ** 40, 1),), ValueError, "Invalid resolution for Surface"),
    (("ab",), TypeError, None),
    ((5,), TypeError, None),
    (((4, 4), 0, 7), ValueError, None),
    (((4, 4), SRCALPHA, 8), ValueError, None),
    (((4, 4), SRCALPHA, 24), ValueError, None),
    (((4, 4), 0, 32, (0xFF, 0xFF, 0xFF00, 0)), ValueError, None),   # overlap
    (((4, 4), 0, 32, (0xF0F, 0xF000, 0xF0, 0)), ValueError, None),  # holes
    (((4, 4), 0, 32, (1, 2)), ValueError, None),
])
def test_bad_construction(args, exc, msg):
    with pytest.raises(exc) as info:
        Surface(*args)
    if msg:
        assert str(info.value) == msg


@pytest.mark.parametrize("size", [(2 ** 30, 2 ** 30), (65536 * 4, 65536),
                                  (2 ** 31 - 1, 2), (3, 2 ** 30)])
def test_absurd_sizes_fail_cleanly(size):
    with pytest.raises(MemoryError, match="^Surface is too large$"):
        Surface(size)


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's allocator aborts instead")
def test_exhausted_memory_is_memory_error():
    # A size SDL accepts but the process cannot allocate: SDL's "Out of
    # memory" becomes MemoryError, like any failed allocation in Python.
    code = textwrap.dedent("""
        import resource
        from lumora import Surface
        Surface((4, 4)).convert()       # everything loaded before the limit
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        try:
            bytearray(1 << 30)
            print("limit not enforced")  # user-mode emulation ignores it
            raise SystemExit
        except MemoryError:
            pass
        try:
            Surface((20000, 20000))     # 1.6 GB
        except MemoryError as e:
            print("MemoryError", e)
        s = Surface((64, 64))           # and the process goes on
        print(s.get_size())
    """)
    run = _child.run_py(code)
    assert run.returncode == 0, run.stderr
    if run.stdout.strip() == "limit not enforced":
        pytest.skip("the address-space limit is not enforced here")
    assert run.stdout.splitlines() == [
        "MemoryError not enough memory for the Surface", "(64, 64)"]


def test_empty_surface():
    s = Surface((0, 0))
    assert s.get_size() == (0, 0)
    assert s.fill((1, 2, 3)).size == (0, 0)
    assert s.copy().get_size() == (0, 0)
    Surface((4, 4)).blit(s, (0, 0))
    sub = Surface((3, 3)).subsurface((3, 3, 0, 0))
    assert sub.get_size() == (0, 0)


# ---------------------------------------------------------------------------
# Pixels: fill, set_at, get_at in every pixel size
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("depth, flags, color, mapped, readback", [
    (32, 0, (10, 20, 30), 0x0A141E, (10, 20, 30, 255)),
    (32, SRCALPHA, (10, 20, 30, 40), 0x280A141E, (10, 20, 30, 40)),
    (24, 0, (10, 20, 30), 0x0A141E, (10, 20, 30, 255)),
    # 565: 31<<11 | 32<<5 | 8; read back with the low bits repeated.
    (16, 0, (255, 128, 64), 0xFC08, (255, 130, 66, 255)),
    (15, 0, (255, 128, 64), 0x7E08, (255, 132, 66, 255)),
    (16, SRCALPHA, (0x12, 0x34, 0x56, 0x78), 0x7135, (0x11, 0x33, 0x55, 0x77)),
    # 3-3-2 default palette: pure red is entry 0b111_000_00.
    (8, 0, (255, 0, 0), 0xE0, (255, 0, 0, 255)),
])
def test_fill_get_at(depth, flags, color, mapped, readback):
    s = Surface((4, 3), flags, depth)
    r = s.fill(color)
    assert tuple(r) == (0, 0, 4, 3)
    assert s.get_at_mapped((3, 2)) == mapped
    assert tuple(s.get_at((0, 0))) == readback
    assert (pixels(s) == mapped).all()
    assert s.map_rgb(color) == mapped
    assert tuple(s.unmap_rgb(mapped)) == readback


def test_24_bit_byte_order():
    s = Surface((2, 1), 0, 24)
    s.fill((0x11, 0x22, 0x33))
    raw = sdl(s)
    assert ctypes.string_at(raw.pixels, 6) == bytes([0x33, 0x22, 0x11] * 2)


def test_mapped_ints_above_2_31():
    s = Surface((2, 2), SRCALPHA)
    s.fill(0xFF00FF00)
    assert s.get_at_mapped((1, 1)) == 0xFF00FF00
    assert tuple(s.get_at((0, 0))) == (0, 255, 0, 255)
    s.set_at((0, 0), 0x80FFFFFF)
    assert s.get_at_mapped((0, 0)) == 0x80FFFFFF
    assert tuple(s.unmap_rgb(0xFF102030)) == (0x10, 0x20, 0x30, 0xFF)
    # Bits beyond the pixel size are dropped, not written past the pixel.
    t = Surface((2, 1), 0, 16)
    t.fill(0x12345678)
    assert t.get_at_mapped((1, 0)) == 0x5678


def test_fill_rect_clipping_and_result():
    s = Surface((10, 10))
    s.fill((0, 0, 0))
    r = s.fill((255, 255, 255), (-2, 8, 5, 5))
    assert tuple(r) == (0, 8, 3, 2)
    p = pixels(s)
    assert (p[8:, :3] == 0xFFFFFF).all()
    assert p.sum() == 6 * 0xFFFFFF
    # Negative sizes are normalised.
    assert tuple(s.fill((1, 1, 1), (5, 5, -2, -2))) == (3, 3, 2, 2)
    # Entirely outside: nothing changes, an empty rect at the position.
    before = pixels(s).copy()
    r = s.fill((9, 9, 9), (20, 20, 3, 3))
    assert (r.w, r.h) == (0, 0)
    assert (pixels(s) == before).all()


def test_clip_rect_limits_fill_and_set_at():
    s = Surface((6, 6))
    s.fill((0, 0, 0))
    s.set_clip((1, 1, 3, 2))
    assert tuple(s.get_clip()) == (1, 1, 3, 2)
    assert tuple(s.fill((255, 0, 0))) == (1, 1, 3, 2)
    s.set_at((0, 0), (0, 255, 0))      # outside the clip: ignored
    s.set_at((100, -5), (0, 255, 0))   # outside the surface: ignored
    s.set_at((2, 2), (0, 0, 255))
    p = pixels(s)
    expect = np.zeros((6, 6), np.uint32)
    expect[1:3, 1:4] = 0xFF0000
    expect[2, 2] = 0xFF
    assert (p == expect).all()
    s.set_clip((4, 4, 10, 10))
    assert tuple(s.get_clip()) == (4, 4, 2, 2)
    s.set_clip(None)
    assert tuple(s.get_clip()) == (0, 0, 6, 6)
    with pytest.raises(ValueError):
        s.set_clip("nope")


@pytest.mark.parametrize("pos", [(-1, 0), (0, -1), (4, 0), (0, 3),
                                 (2 ** 31 - 1, 0)])
def test_get_at_out_of_range(pos):
    s = Surface((4, 3))
    with pytest.raises(IndexError, match="pixel index out of range"):
        s.get_at(pos)
    with pytest.raises(IndexError):
        s.get_at_mapped(pos)


def test_bad_color_and_position_arguments():
    s = Surface((4, 4))
    with pytest.raises((ValueError, TypeError)):
        s.fill("not a colour name")
    with pytest.raises(TypeError):
        s.get_at("xy")
    with pytest.raises(TypeError):
        s.set_at(3, (1, 2, 3))
    with pytest.raises(ValueError):
        s.fill((1, 2, 3), "bad rect")
    with pytest.raises(ValueError):
        s.fill((1, 2, 3), special_flags=99)


# ---------------------------------------------------------------------------
# Blits
# ---------------------------------------------------------------------------

def test_opaque_blit_and_clipping():
    src = Surface((4, 4))
    load(src, np.arange(16, dtype=np.uint32).reshape(4, 4) * 0x010101)
    dst = Surface((6, 6))
    dst.fill((0, 0, 0))
    r = dst.blit(src, (-1, 3))
    assert tuple(r) == (0, 3, 3, 3)
    exp = np.zeros((6, 6), np.uint32)
    exp[3:6, 0:3] = pixels(src)[0:3, 1:4]
    assert (pixels(dst) == exp).all()
    # area selects a part of the source; dest may be a rect.
    dst.fill((0, 0, 0))
    r = dst.blit(src, lumora.Rect(2, 2, 99, 99), (1, 1, 2, 2))
    assert tuple(r) == (2, 2, 2, 2)
    exp = np.zeros((6, 6), np.uint32)
    exp[2:4, 2:4] = pixels(src)[1:3, 1:3]
    assert (pixels(dst) == exp).all()
    # Area partly off the source moves the destination like SDL does.
    dst.fill((0, 0, 0))
    r = dst.blit(src, (0, 0), (-1, -1, 3, 3))
    assert tuple(r) == (1, 1, 2, 2)
    # Nothing visible: empty rect at the position.
    r = dst.blit(src, (50, 50))
    assert (r.w, r.h) == (0, 0)


def test_blit_respects_destination_clip():
    src = Surface((4, 4))
    src.fill((255, 255, 255))
    dst = Surface((4, 4))
    dst.fill((0, 0, 0))
    dst.set_clip((1, 1, 2, 2))
    assert tuple(dst.blit(src, (0, 0))) == (1, 1, 2, 2)
    assert pixels(dst).sum() == 4 * 0xFFFFFF


@pytest.mark.parametrize("dst_flags", [0, SRCALPHA])
def test_per_pixel_alpha_blit(dst_flags):
    src = Surface((8, 8), SRCALPHA)
    sv = random_pixels(8, 8, 1)
    load(src, sv)
    dst = Surface((8, 8), dst_flags)
    dv = random_pixels(8, 8, 2, alpha=bool(dst_flags))
    load(dst, dv)
    dmasks = ARGB if dst_flags else XRGB
    dst.blit(src, (0, 0))
    got = pixels(dst)
    for y in range(8):
        for x in range(8):
            s = unpack(int(sv[y, x]), ARGB)
            d = unpack(int(dv[y, x]), dmasks)
            if s[3] == 0:
                exp = int(dv[y, x])
            else:
                exp = pack(blend(s, d, s[3], dst_flags), dmasks)
            assert int(got[y, x]) == exp, (x, y)


def test_surface_alpha_blit_and_modulated_pixel_alpha():
    src = Surface((6, 6))
    sv = random_pixels(6, 6, 3, alpha=False)
    load(src, sv)
    src.set_alpha(128)
    dst = Surface((6, 6))
    dv = random_pixels(6, 6, 4, alpha=False)
    load(dst, dv)
    dst.blit(src, (0, 0))
    got = pixels(dst)
    for y in range(6):
        for x in range(6):
            s, d = unpack(int(sv[y, x]), XRGB), unpack(int(dv[y, x]), XRGB)
            assert int(got[y, x]) == pack(blend(s, d, 128, False), XRGB)

    # Per-pixel alpha is scaled by the surface alpha.
    asrc = Surface((6, 6), SRCALPHA)
    av = random_pixels(6, 6, 5)
    load(asrc, av)
    asrc.set_alpha(100)
    load(dst, dv)
    dst.blit(asrc, (0, 0))
    got = pixels(dst)
    for y in range(6):
        for x in range(6):
            s, d = unpack(int(av[y, x]), ARGB), unpack(int(dv[y, x]), XRGB)
            a = s[3] * 100 // 255
            exp = int(dv[y, x]) if a == 0 else pack(blend(s, d, a, False), XRGB)
            assert int(got[y, x]) == exp


RGBA = (0xFF000000, 0xFF0000, 0xFF00, 0xFF)
ABGR = (0xFF, 0xFF00, 0xFF0000, 0xFF000000)


@pytest.mark.parametrize("masks, surface_alpha", [
    (m, a) for m in (ARGB, RGBA, ABGR, RGBA[:3] + (0,), ABGR[:3] + (0,))
    for a in (None, 77) if m[3] or a])
def test_alpha_blit_byte_layouts(masks, surface_alpha):
    # Same layout on both sides; with per-pixel alpha in the source when
    # the layout has one, else surface alpha alone.
    has_alpha = bool(masks[3])
    smasks = masks if has_alpha else masks[:3] + (0,)
    src = Surface((9, 7), SRCALPHA if has_alpha else 0, 32, smasks)
    sv = random_pixels(7, 9, 60, alpha=True) & np.uint32(
        smasks[0] | smasks[1] | smasks[2] | smasks[3])
    load(src, sv)
    if surface_alpha is not None:
        src.set_alpha(surface_alpha)
    dst = Surface((9, 7), 0, 32, masks)
    dv = random_pixels(7, 9, 61, alpha=True) & np.uint32(
        masks[0] | masks[1] | masks[2] | masks[3])
    load(dst, dv)
    dst.blit(src, (0, 0))
    got = pixels(dst)
    for y in range(7):
        for x in range(9):
            sc, dc = unpack(int(sv[y, x]), smasks), unpack(int(dv[y, x]), masks)
            a = sc[3] if has_alpha else 255
            if surface_alpha is not None:
                a = a * surface_alpha // 255
            exp = pack(blend(sc, dc, a, has_alpha), masks)
            assert int(got[y, x]) == exp, (x, y)


def test_set_alpha_none_keeps_per_pixel_alpha():
    src = Surface((2, 1), SRCALPHA)
    load(src, [[0x10203040, 0x00FFFFFF]])
    src.set_alpha(None)
    assert src.get_alpha() == 255
    dst = Surface((2, 1), SRCALPHA)
    dst.fill((0, 0, 0, 0))
    dst.blit(src, (0, 0))
    # Over transparent black: colour scaled by alpha 16, alpha 16.
    assert tuple(dst.get_at((0, 0))) == (32 * 16 // 255, 48 * 16 // 255,
                                         64 * 16 // 255, 16)
    assert tuple(dst.get_at((1, 0))) == (0, 0, 0, 0)


@pytest.mark.parametrize("depth", [8, 16, 24, 32])
def test_colorkey_blit(depth):
    src = Surface((4, 1), 0, depth)
    for x, c in enumerate([(255, 0, 255), (0, 0, 255), (255, 0, 255), (0, 255, 0)]):
        src.set_at((x, 0), c)
    src.set_colorkey((255, 0, 255))
    assert tuple(src.get_colorkey())[:3] == (255, 0, 255)
    assert src.get_flags() & 0x1000
    dst = Surface((4, 1))
    dst.fill((9, 9, 9))
    dst.blit(src, (0, 0))
    got = [tuple(dst.get_at((x, 0)))[:3] for x in range(4)]
    assert got == [(9, 9, 9), (0, 0, 255), (9, 9, 9), (0, 255, 0)]
    src.set_colorkey(None)
    assert src.get_colorkey() is None
    dst.blit(src, (0, 0))
    assert tuple(dst.get_at((0, 0)))[:3] == (255, 0, 255)


def test_blit_between_pixel_sizes():
    src = Surface((2, 1), 0, 16)
    src.set_at((0, 0), (255, 255, 255))
    src.set_at((1, 0), (0x80, 0x40, 0x20))
    dst = Surface((2, 1), 0, 24)
    dst.blit(src, (0, 0))
    assert tuple(dst.get_at((0, 0))) == (255, 255, 255, 255)
    # 565 of (0x80, 0x40, 0x20): 16, 16, 4 -> widened 132, 65, 33.
    assert tuple(dst.get_at((1, 0))) == (132, 65, 33, 255)
    # Into an 8-bit palette the nearest entry is chosen.
    p8 = Surface((2, 1), 0, 8)
    p8.blit(dst, (0, 0))
    assert p8.get_at_mapped((0, 0)) == 0xFF
    # Opaque source into an alpha destination is fully opaque.
    a = Surface((2, 1), SRCALPHA)
    a.fill((0, 0, 0, 0))
    a.blit(dst, (0, 0))
    assert a.get_at((1, 0)).a == 255


# ---------------------------------------------------------------------------
# The same blits done by SDL itself (SDL_UpperBlit through ctypes) on copies
# of the same surfaces, with the same SDL settings.  Which pixels are
# skipped (colour key, alpha 0) and which are copied must agree exactly;
# blended channels may differ by SDL's rounding: its fast paths divide by
# 256 instead of 255, twice for per-pixel alpha (source and destination
# terms are truncated separately), which loses up to 3 against the exact
# quotient that our blitters truncate once.
# ---------------------------------------------------------------------------

_libsdl = ctypes.CDLL("libSDL2-2.0.so.0")
_libsdl.SDL_UpperBlit.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                  ctypes.c_void_p, ctypes.c_void_p]


def _raw_ptr(obj):
    return ctypes.c_void_p.from_address(id(obj) + _HEAD).value


def _channels(values, masks):
    return np.array([[unpack(int(v), masks) for v in row] for row in values])


BLIT_CASES = {
    # name: (src flags, src depth, dst flags, dst depth, setup, tolerance)
    "opaque": (0, 32, 0, 32, lambda s: None, 0),
    "opaque 16 to 16": (0, 16, 0, 16, lambda s: None, 0),
    "opaque into alpha": (0, 32, SRCALPHA, 32, lambda s: None, 0),
    "colorkey": (0, 32, 0, 32, "key", 0),
    "colorkey 16": (0, 16, 0, 16, "key", 0),
    "pixel alpha": (SRCALPHA, 32, 0, 32, lambda s: None, 3),
    "pixel alpha into alpha": (SRCALPHA, 32, SRCALPHA, 32, lambda s: None, 3),
    "pixel alpha and colorkey": (SRCALPHA, 32, 0, 32, "key", 3),
    "pixel and surface alpha": (SRCALPHA, 32, 0, 32,
                                lambda s: s.set_alpha(100), 3),
    "surface alpha": (0, 32, 0, 32, lambda s: s.set_alpha(100), 1),
    "surface alpha 128": (0, 32, 0, 32, lambda s: s.set_alpha(128), 1),
    "surface alpha and colorkey": (0, 32, 0, 32, "key+alpha", 1),
}


@pytest.mark.parametrize("case", sorted(BLIT_CASES))
def test_blit_agrees_with_sdl(case):
    sflags, sdepth, dflags, ddepth, setup, tol = BLIT_CASES[case]
    h, w = 12, 16
    src = Surface((w, h), sflags, sdepth)
    sbits = 8 * src.get_bytesize()
    sv = random_pixels(h, w, 40, alpha=bool(sflags)) & ((1 << sbits) - 1)
    if not sflags:
        sv &= ~np.uint32(src.get_masks()[3]) & np.uint32(
            src.get_masks()[0] | src.get_masks()[1] | src.get_masks()[2])
    load(src, sv)
    if isinstance(setup, str):
        key = int(sv[1, 1])
        sv[::3, ::2] = key        # plenty of keyed pixels
        load(src, sv)
        src.set_colorkey(key)
        if "alpha" in setup:
            src.set_alpha(90)
    else:
        setup(src)
    dst = Surface((w, h), dflags, ddepth)
    dmask = (1 << (8 * dst.get_bytesize())) - 1
    dv = random_pixels(h, w, 41, alpha=bool(dflags)) & dmask
    load(dst, dv)
    twin = dst.copy()

    ours = dst.blit(src, (0, 0))
    assert tuple(ours) == (0, 0, w, h)
    assert _libsdl.SDL_UpperBlit(_raw_ptr(src), None, _raw_ptr(twin), None) == 0

    dmasks = dst.get_masks()
    got = _channels(pixels(dst), dmasks)
    ref = _channels(pixels(twin), dmasks)
    untouched_ref = (pixels(twin) == dv)
    untouched_got = (pixels(dst) == dv)
    if tol == 0:
        assert (got == ref).all()
    else:
        assert np.abs(got - ref).max() <= tol
    if isinstance(setup, str):
        keyed = (sv & np.uint32(src.get_masks()[0] | src.get_masks()[1]
                                | src.get_masks()[2])) == \
            (int(sv[1, 1]) & (src.get_masks()[0] | src.get_masks()[1]
                              | src.get_masks()[2]))
        assert untouched_got[keyed].all() and untouched_ref[keyed].all()


def _special_model(flag, s, d):
    n, op = (4, flag - 5) if 6 <= flag <= 10 else (3, flag)
    out = list(d)
    for i in range(n):
        a, b = s[i], d[i]
        out[i] = {1: min(255, a + b), 2: max(0, b - a),
                  3: (a * b + 127) // 255, 4: min(a, b), 5: max(a, b)}[op]
    return out


@pytest.mark.parametrize("flag", list(range(1, 11)) + [0x11])
def test_special_flag_blits(flag):
    src = Surface((5, 5), SRCALPHA)
    sv = random_pixels(5, 5, 10 + flag)
    load(src, sv)
    dst = Surface((5, 5), SRCALPHA)
    dv = random_pixels(5, 5, 30 + flag)
    load(dst, dv)
    dst.blit(src, (0, 0), special_flags=flag)
    got = pixels(dst)
    for y in range(5):
        for x in range(5):
            s, d = unpack(int(sv[y, x]), ARGB), unpack(int(dv[y, x]), ARGB)
            if flag == 0x11:
                inv = 255 - s[3]
                e = [min(255, s[i] + d[i] * inv // 255) for i in range(3)]
                e.append(s[3] + inv * d[3] // 255)
            else:
                e = _special_model(flag, s, d)
            assert int(got[y, x]) == pack(e, ARGB), (flag, x, y)


def test_special_flag_fill_and_constants():
    s = Surface((3, 3))
    s.fill((100, 200, 50))
    s.fill((100, 100, 100), special_flags=lumora.BLEND_ADD)
    assert tuple(s.get_at((1, 1))) == (200, 255, 150, 255)
    s.fill((50, 250, 0), (0, 0, 1, 1), lumora.BLEND_SUB)
    assert tuple(s.get_at((0, 0))) == (150, 5, 150, 255)
    assert tuple(s.get_at((1, 0))) == (200, 255, 150, 255)
    s.fill((0, 0, 0), special_flags=lumora.BLEND_RGB_MAX)
    assert tuple(s.get_at((0, 0))) == (150, 5, 150, 255)
    assert lumora.BLEND_RGBA_MULT == 8 and lumora.BLEND_PREMULTIPLIED == 0x11
    with pytest.raises(ValueError):
        s.blit(Surface((1, 1)), (0, 0), special_flags=0x40)


@pytest.mark.parametrize("dx, dy", [(1, 0), (0, 1), (2, 3), (-1, -2), (3, -1)])
def test_self_blit_overlapping(dx, dy):
    s = Surface((6, 6))
    v = np.arange(36, dtype=np.uint32).reshape(6, 6) + 1
    load(s, v)
    s.blit(s, (dx, dy))
    exp = v.copy()
    ys, xs = slice(max(dy, 0), 6 + min(dy, 0)), slice(max(dx, 0), 6 + min(dx, 0))
    exp[ys, xs] = v[max(-dy, 0):6 - max(dy, 0), max(-dx, 0):6 - max(dx, 0)]
    assert (pixels(s) == exp).all()


def test_blit_subsurface_onto_its_parent():
    s = Surface((6, 6))
    v = np.arange(36, dtype=np.uint32).reshape(6, 6) + 1
    load(s, v)
    sub = s.subsurface((0, 0, 4, 4))
    s.blit(sub, (1, 1))
    exp = v.copy()
    exp[1:5, 1:5] = v[0:4, 0:4]
    assert (pixels(s) == exp).all()
    assert not s.get_locked() and not sub.get_locked()


def test_blits():
    a, b = Surface((2, 2)), Surface((1, 1))
    a.fill((255, 0, 0))
    b.fill((0, 255, 0))
    dst = Surface((4, 4))
    dst.fill((0, 0, 0))
    rects = dst.blits([(a, (0, 0)), (b, (3, 3)), (a, (2, 0), (0, 0, 1, 1)),
                       (b, (0, 3), None, lumora.BLEND_ADD)])
    assert [tuple(r) for r in rects] == [(0, 0, 2, 2), (3, 3, 1, 1),
                                         (2, 0, 1, 1), (0, 3, 1, 1)]
    assert dst.blits(((a, (1, 1)),), doreturn=0) is None
    assert tuple(dst.get_at((2, 0)))[:3] == (255, 0, 0)
    with pytest.raises(ValueError):
        dst.blits([(a,)])
    with pytest.raises(TypeError):
        dst.blits([(5, (0, 0))])


def test_blit_slot_updates_rect():
    src, dst = Surface((4, 4)), Surface((5, 5))
    src.fill((1, 2, 3))
    r = SDL_Rect(3, -1, 0, 0)
    assert c_blit(dst, src, ctypes.byref(r), None, 0) == 0
    assert (r.x, r.y, r.w, r.h) == (3, 0, 2, 3)
    with pytest.raises(ValueError):
        c_blit(dst, src, None, None, 77)


# ---------------------------------------------------------------------------
# Subsurfaces, copies, conversion
# ---------------------------------------------------------------------------

def test_subsurface_shares_pixels():
    s = Surface((8, 8))
    s.fill((0, 0, 0))
    sub = s.subsurface((2, 3, 4, 2))
    assert sub.get_size() == (4, 2)
    assert sub.get_parent() is s and s.get_parent() is None
    assert sub.get_offset() == (2, 3)
    sub.fill((255, 255, 255))
    sub.set_at((0, 0), (1, 2, 3))
    p = pixels(s)
    exp = np.zeros((8, 8), np.uint32)
    exp[3:5, 2:6] = 0xFFFFFF
    exp[3, 2] = 0x010203
    assert (p == exp).all()
    s.set_at((5, 4), (7, 7, 7))
    assert tuple(sub.get_at((3, 1)))[:3] == (7, 7, 7)
    # Nested subsurfaces.
    subsub = sub.subsurface((1, 1, 2, 1))
    assert subsub.get_offset() == (1, 1)
    assert subsub.get_abs_offset() == (3, 4)
    assert subsub.get_abs_parent() is s
    subsub.fill((9, 9, 9))
    assert s.get_at_mapped((3, 4)) == 0x090909


@pytest.mark.parametrize("rect", [(-1, 0, 2, 2), (0, 0, 9, 1), (7, 7, 2, 1),
                                  (0, 0, -1, 2), (2 ** 31 - 1, 0, 1, 1)])
def test_subsurface_outside(rect):
    with pytest.raises(ValueError, match="subsurface rectangle outside surface area"):
        Surface((8, 8)).subsurface(rect)


def test_subsurface_keeps_parent_alive_and_shares_palette():
    s = Surface((4, 4), 0, 8)
    sub = s.subsurface((1, 1, 2, 2))
    s.set_palette_at(3, (1, 2, 3))
    assert tuple(sub.get_palette_at(3))[:3] == (1, 2, 3)
    del s
    gc.collect()
    sub.fill((1, 2, 3))
    assert sub.get_at_mapped((0, 0)) == 3
    assert sub.get_parent().get_at_mapped((1, 1)) == 3


def test_copy_is_independent():
    s = Surface((3, 3), SRCALPHA)
    s.fill((1, 2, 3, 4))
    s.set_colorkey((1, 2, 3))
    c = s.copy()
    assert c.get_masks() == s.get_masks()
    assert tuple(c.get_colorkey()) == tuple(s.get_colorkey())
    c.fill((5, 5, 5, 5))
    assert tuple(s.get_at((0, 0))) == (1, 2, 3, 4)
    import copy
    assert copy.copy(s).get_size() == (3, 3)


def test_convert():
    s = Surface((3, 2), 0, 16)
    s.fill((255, 255, 255))
    c = s.convert()
    assert c.get_bitsize() == 32 and c.get_masks() == XRGB
    assert tuple(c.get_at((2, 1))) == (255, 255, 255, 255)
    assert s.convert(24).get_bytesize() == 3
    assert s.convert(16, SRCALPHA).get_masks()[3] == 0xF000
    assert s.convert(Surface((1, 1), 0, 8)).get_bitsize() == 8
    assert s.convert((0xFF, 0xFF00, 0xFF0000, 0)).get_masks()[0] == 0xFF
    with pytest.raises(ValueError):
        s.convert(13)
    with pytest.raises(TypeError):
        s.convert(1.5)


def test_convert_alpha_turns_colorkey_into_transparency():
    s = Surface((2, 1))
    s.set_at((0, 0), (255, 0, 255))
    s.set_at((1, 0), (10, 20, 30))
    s.set_colorkey((255, 0, 255))
    a = s.convert_alpha()
    assert a.get_masks() == ARGB
    assert a.get_at((0, 0)).a == 0
    assert tuple(a.get_at((1, 0))) == (10, 20, 30, 255)


def test_subclass_results_keep_type():
    class Sprite(Surface):
        pass

    s = Sprite((4, 4))
    assert isinstance(s, SurfaceType)
    for made in (s.copy(), s.convert(), s.convert_alpha(), s.subsurface((0, 0, 1, 1))):
        assert type(made) is Sprite


# ---------------------------------------------------------------------------
# Settings and small queries
# ---------------------------------------------------------------------------

def test_alpha_settings():
    s = Surface((2, 2))
    assert s.get_alpha() is None
    s.set_alpha(128)
    assert s.get_alpha() == 128
    s.set_alpha(300)
    assert s.get_alpha() == 255
    s.set_alpha(-5)
    assert s.get_alpha() == 0
    s.set_alpha(None)
    assert s.get_alpha() is None
    assert Surface((1, 1), SRCALPHA).get_alpha() == 255


def test_get_rect_keywords():
    s = Surface((10, 4))
    assert tuple(s.get_rect()) == (0, 0, 10, 4)
    assert tuple(s.get_rect(center=(5, 5))) == (0, 3, 10, 4)
    with pytest.raises(TypeError):
        s.get_rect(1)
    with pytest.raises(AttributeError):
        s.get_rect(no_such_attribute=1)


def test_palette():
    s = Surface((2, 2), 0, 8)
    pal = s.get_palette()
    assert len(pal) == 256
    assert tuple(pal[0b00011100])[:3] == (0, 255, 0)
    s.set_palette([(1, 1, 1), (2, 2, 2)])
    assert tuple(s.get_palette_at(1))[:3] == (2, 2, 2)
    # A bad entry leaves the palette untouched.
    with pytest.raises((ValueError, TypeError)):
        s.set_palette([(9, 9, 9), "not a colour"])
    assert tuple(s.get_palette_at(0))[:3] == (1, 1, 1)
    with pytest.raises(IndexError):
        s.get_palette_at(256)
    with pytest.raises(ValueError):
        s.set_palette([(0, 0, 0)] * 257)
    t = Surface((2, 2))
    with pytest.raises(lumora.error, match="Surface has no palette to get"):
        t.get_palette()
    with pytest.raises(lumora.error, match="Surface has no palette to set"):
        t.set_palette_at(0, (1, 2, 3))


@pytest.mark.parametrize("dx, dy", [(2, 1), (-1, 0), (0, -3), (7, 0), (0, 0),
                                   (-2 ** 31, 0), (0, -2 ** 31),
                                   (2 ** 31 - 1, -2 ** 31)])
def test_scroll(dx, dy):
    s = Surface((5, 4))
    v = np.arange(20, dtype=np.uint32).reshape(4, 5) + 1
    load(s, v)
    s.scroll(dx, dy)
    exp = v.copy()
    if abs(dx) < 5 and abs(dy) < 4:
        ys, xs = slice(max(dy, 0), 4 + min(dy, 0)), slice(max(dx, 0), 5 + min(dx, 0))
        exp[ys, xs] = v[max(-dy, 0):4 - max(dy, 0), max(-dx, 0):5 - max(dx, 0)]
    assert (pixels(s) == exp).all()


def test_bounding_rect():
    s = Surface((10, 10), SRCALPHA)
    s.fill((0, 0, 0, 0))
    assert tuple(s.get_bounding_rect()) == (0, 0, 0, 0)
    s.set_at((2, 3), (1, 1, 1, 5))
    s.set_at((6, 8), (1, 1, 1, 200))
    assert tuple(s.get_bounding_rect()) == (2, 3, 5, 6)
    assert tuple(s.get_bounding_rect(min_alpha=100)) == (6, 8, 1, 1)
    k = Surface((4, 4))
    k.fill((0, 0, 0))
    k.set_colorkey((0, 0, 0))
    k.set_at((1, 2), (5, 5, 5))
    assert tuple(k.get_bounding_rect()) == (1, 2, 1, 1)


# ---------------------------------------------------------------------------
# Lifetime, locks and the C slots
# ---------------------------------------------------------------------------

def test_lock_methods():
    s = Surface((2, 2))
    assert not s.get_locked() and s.get_locks() == ()
    s.lock()
    s.lock()
    assert s.get_locked() and s.get_locks() == (s, s)
    assert sdl(s).locked == 2
    s.unlock()
    s.unlock()
    s.unlock()   # unlocking more than locked is harmless
    assert not s.get_locked() and sdl(s).locked == 0
    assert not s.mustlock() and s.subsurface((0, 0, 1, 1)).mustlock()


def test_dealloc_with_outstanding_locks():
    s = Surface((4, 4))
    sub = s.subsurface((1, 1, 2, 2))
    sub.lock()
    sub.lock()
    assert sdl(s).locked == 2 and len(s.get_locks()) == 2
    del sub
    gc.collect()
    assert sdl(s).locked == 0 and s.get_locks() == ()
    t = Surface((1, 1))
    t.lock()
    del t   # must not crash
    gc.collect()


@pytest.fixture
def sdl2():
    lib = ctypes.CDLL("libSDL2-2.0.so.0")
    lib.SDL_CreateRGBSurfaceWithFormat.restype = ctypes.c_void_p
    lib.SDL_CreateRGBSurfaceWithFormat.argtypes = [
        ctypes.c_uint32, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_uint32]
    lib.SDL_FreeSurface.argtypes = [ctypes.c_void_p]
    return lib


ARGB8888 = 0x16362004


def test_new2_owner_flag(sdl2):
    raw = sdl2.SDL_CreateRGBSurfaceWithFormat(0, 3, 2, 32, ARGB8888)
    s = new2(raw, 0)
    assert s.get_size() == (3, 2) and s.get_masks() == ARGB
    s.fill((1, 2, 3, 4))
    del s
    gc.collect()
    # Not owned: the SDL surface is still ours to read and free.
    assert SDL_Surface.from_address(raw).w == 3
    s2 = new2(raw, 1)
    assert s2.get_at_mapped((0, 0)) == 0x04010203
    del s2   # owned: freed with the object
    with pytest.raises(lumora.error):
        new2(None, 1)


# Arguments for every method; a method added without an entry here fails
# test_every_method_is_covered, so none escapes the quit check.
_QUIT_ARGS = {
    "blit": (Surface((1, 1)), (0, 0)), "blits": ([],), "convert": (),
    "convert_alpha": (), "copy": (), "__copy__": (), "fill": ((1, 1, 1),),
    "get_abs_offset": (), "get_abs_parent": (), "get_alpha": (),
    "get_at": ((0, 0),), "get_at_mapped": ((0, 0),), "get_bitsize": (),
    "get_bounding_rect": (), "get_bytesize": (), "get_clip": (),
    "get_colorkey": (), "get_flags": (), "get_height": (), "get_locked": (),
    "get_locks": (), "get_losses": (), "get_masks": (), "get_offset": (),
    "get_palette": (), "get_palette_at": (0,), "get_parent": (),
    "get_pitch": (), "get_rect": (), "get_shifts": (), "get_size": (),
    "get_width": (), "get_view": (), "get_buffer": (),
    "lock": (), "map_rgb": ((1, 2, 3),), "mustlock": (),
    "scroll": (1, 1), "set_alpha": (3,), "set_at": ((0, 0), (1, 1, 1)),
    "set_clip": (None,), "set_colorkey": ((1, 1, 1),),
    "set_palette": ([(1, 2, 3)],), "set_palette_at": (0, (1, 2, 3)),
    "subsurface": ((0, 0, 1, 1),), "unlock": (), "unmap_rgb": (0,),
}


def test_every_method_is_covered():
    public = {n for n in dir(Surface) if not n.startswith("_")}
    assert public | {"__copy__"} == set(_QUIT_ARGS)


@pytest.mark.parametrize("name", sorted(_QUIT_ARGS))
def test_display_surface_quit(name):
    s = Surface((2, 2), 0, 8)
    assert set_surface(s, None, 0) == 0
    with pytest.raises(lumora.error, match="^display Surface quit$"):
        getattr(s, name)(*_QUIT_ARGS[name])
    assert repr(s) == "<Surface(Dead Display)>"


def test_quit_surface_as_argument():
    dead = Surface((2, 2))
    set_surface(dead, None, 0)
    for call in (lambda: Surface((2, 2), 0, dead),
                 lambda: Surface((2, 2)).convert(dead),
                 lambda: Surface((2, 2)).blits([(dead, (0, 0))])):
        with pytest.raises(lumora.error, match="^display Surface quit$"):
            call()


def test_blit_with_quit_surfaces():
    alive, dead = Surface((2, 2)), Surface((2, 2))
    set_surface(dead, None, 0)
    for a, b in ((alive, dead), (dead, alive)):
        with pytest.raises(lumora.error, match="display Surface quit"):
            a.blit(b, (0, 0))


def test_set_surface_repoints(sdl2):
    s = Surface((2, 2))
    raw = sdl2.SDL_CreateRGBSurfaceWithFormat(0, 7, 5, 32, ARGB8888)
    assert set_surface(s, raw, 1) == 0
    assert s.get_size() == (7, 5)
    with pytest.raises(TypeError):
        set_surface(object(), None, 0)
