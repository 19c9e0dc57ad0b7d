"""lumora.mask: from_surface, from_threshold and to_surface on 8/16/24/32-bit
surfaces, checked against per-pixel models over the raw pixel values."""
import ctypes

import numpy as np
import pytest

import lumora.display as display
from lumora import Surface
from lumora.mask import Mask, from_surface, from_threshold
from _surfmem import sdl
from test_mask import from_np, rand_mask, to_np

SRCALPHA = 0x10000
KINDS = [(8, 0), (16, 0), (16, SRCALPHA), (24, 0), (32, 0), (32, SRCALPHA)]
NBITS = {8: 8, 16: 16, 24: 24, 32: 32}


def raw(s):
    """Raw pixel values [y, x] of s (3-byte pixels little-endian)."""
    c = sdl(s)
    bpp = s.get_bytesize()
    buf = np.frombuffer(ctypes.string_at(c.pixels, c.pitch * c.h), np.uint8)
    rows = buf.reshape(c.h, c.pitch)[:, :c.w * bpp].reshape(c.h, c.w, bpp)
    return sum(rows[..., i].astype(np.uint32) << np.uint32(8 * i)
               for i in range(bpp))


def put_raw(s, values):
    c = sdl(s)
    bpp = s.get_bytesize()
    for y in range(c.h):
        row = b"".join(int(v).to_bytes(4, "little")[:bpp] for v in values[y])
        ctypes.memmove(c.pixels + y * c.pitch, row, len(row))


def make(depth, flags, w, h, rng, values=None):
    s = Surface((w, h), flags, depth)
    if values is None:
        values = rng.integers(0, 2**NBITS[depth], (h, w), dtype=np.uint64)
    put_raw(s, values)
    return s


def channels(s, v):
    """R, G, B of raw value v by the format's masks, shifts and losses."""
    return [((int(v) & m) >> sh) << lo if sh < 32 else 0
            for m, sh, lo in zip(s.get_masks()[:3], s.get_shifts()[:3],
                                 s.get_losses()[:3])]


@pytest.mark.parametrize("depth,flags", KINDS)
@pytest.mark.parametrize("threshold", [127, 0, -1, 254, 255])
def test_from_surface_alpha(depth, flags, threshold):
    rng = np.random.default_rng(depth + flags + threshold)
    s = make(depth, flags, 37, 9, rng)
    if depth == 8:
        s.set_palette_at(3, (1, 2, 3, 100))
    values = raw(s)
    # Plain int keys: numpy scalars above 2**31 hash differently where
    # Py_hash_t is 32 bits.
    alpha = {int(v): s.unmap_rgb(int(v))[3] for v in np.unique(values)}
    want = np.vectorize(lambda v: alpha[int(v)] > threshold)(values)
    m = from_surface(s, threshold)
    assert m.get_size() == (37, 9)
    assert (to_np(m) == want).all()


@pytest.mark.parametrize("depth,flags", KINDS)
def test_from_surface_colorkey(depth, flags):
    rng = np.random.default_rng(depth)
    vals = rng.integers(0, 4, (11, 40), dtype=np.uint64)
    s = make(depth, flags, 40, 11, rng, vals)
    s.set_colorkey(int(raw(s)[0, 0]))
    key = s.get_colorkey()
    assert key is not None
    want = raw(s) != raw(s)[0, 0]
    assert (to_np(from_surface(s)) == want).all()


def test_from_surface_examples():
    s = Surface((33, 2), SRCALPHA, 32)
    s.fill((10, 20, 30, 128))
    assert from_surface(s).count() == 66
    s.fill((10, 20, 30, 127))
    assert from_surface(s).count() == 0
    assert from_surface(Surface((0, 4), 0, 32)).get_size() == (0, 4)
    with pytest.raises(TypeError):
        from_surface(Mask((2, 2)))


@pytest.mark.parametrize("depth,flags", KINDS)
def test_from_threshold_against_model(depth, flags):
    rng = np.random.default_rng(depth * 3 + flags)
    s = make(depth, flags, 35, 7, rng)
    color, thresh = (200, 40, 90), (60, 90, 255, 255)
    m = from_threshold(s, color, thresh)
    c = s.unmap_rgb(s.map_rgb(color))[:3]
    t = s.unmap_rgb(s.map_rgb(thresh))[:3]
    vals = raw(s)
    want = np.zeros(vals.shape, bool)
    for (y, x), v in np.ndenumerate(vals):
        want[y, x] = all(abs(ci - pi) < ti for ci, pi, ti in zip(c, channels(s, v), t))
    assert (to_np(m) == want).all()
    # Against another surface (of a different size: read where it reaches).
    o = make(depth, flags, 30, 9, rng)
    ovals = raw(o)
    m = from_threshold(s, color, thresh, o)
    want[:] = False
    for (y, x), v in np.ndenumerate(vals[:, :30]):
        want[y, x] = all(abs(a - b) < ti for a, b, ti in
                         zip(channels(s, v), channels(o, ovals[y, x]), t))
    assert (to_np(m) == want).all()


def test_from_threshold_examples():
    s = Surface((4, 1), 0, 32)
    for x, c in enumerate([(255, 0, 0), (254, 0, 0), (255, 1, 0), (255, 0, 0)]):
        s.set_at((x, 0), c)
    assert to_np(from_threshold(s, (255, 0, 0), (1, 1, 1, 255))).tolist() == \
        [[True, False, False, True]]
    assert from_threshold(s, (255, 0, 0)).count() == 0
    assert from_threshold(s, s.map_rgb((255, 0, 0)), (2, 1, 1)).count() == 3
    p = Surface((3, 1), 0, 8)
    put_raw(p, [[5, 7, 9]])
    q = Surface((3, 1), 0, 8)
    put_raw(q, [[6, 7, 1]])
    p.set_palette_at(200, (2, 0, 0))  # raw threshold 200: red threshold 2
    assert to_np(from_threshold(p, 0, 200, q, 0)).tolist() == [[True, True, False]]
    with pytest.raises(TypeError, match="^invalid color argument$"):
        from_threshold(s, "red!")
    with pytest.raises(TypeError, match="^invalid threshold argument$"):
        from_threshold(s, (1, 2, 3), object())


def paint_model(mask, base, dx, dy, setv=None, unsetv=None, setsrc=None, unsetsrc=None):
    out = base.copy()
    mh, mw = mask.shape
    h, w = base.shape
    for y in range(mh):
        for x in range(mw):
            tx, ty = x + dx, y + dy
            if not (0 <= tx < w and 0 <= ty < h):
                continue
            src, v = (setsrc, setv) if mask[y, x] else (unsetsrc, unsetv)
            if src is not None and y < src.shape[0] and x < src.shape[1]:
                out[ty, tx] = src[y, x]
            elif v is not None:
                out[ty, tx] = v
    return out


@pytest.mark.parametrize("depth,flags", KINDS)
@pytest.mark.parametrize("dest", [(0, 0), (-2, 3), (30, -4), (100, 0)])
def test_to_surface_against_model(depth, flags, dest):
    rng = np.random.default_rng(depth + dest[0])
    a = rand_mask(rng, 37, 12, 0.5)
    m = from_np(a)
    s = make(depth, flags, 40, 14, rng)
    base = raw(s)
    setsrc = make(depth, flags, 20, 9, rng)      # smaller than the mask
    unsetsrc = make(depth, flags, 37, 12, rng)
    assert m.to_surface(s, setsurface=setsrc, unsetcolor=None, dest=dest) is s
    sv = s.map_rgb((255, 255, 255, 255))
    want = paint_model(a, base, *dest, setv=sv, setsrc=raw(setsrc))
    assert (raw(s) == want).all()
    m.to_surface(s, unsetsurface=unsetsrc, setcolor=5, unsetcolor=None,
                 dest=dest)
    want = paint_model(a, want, *dest, setv=5, unsetsrc=raw(unsetsrc))
    assert (raw(s) == want).all()
    m.to_surface(s, setcolor=None, unsetcolor=(1, 2, 3, 4), dest=dest)
    want = paint_model(a, want, *dest, unsetv=s.map_rgb((1, 2, 3, 4)))
    assert (raw(s) == want).all()


def test_to_surface_examples():
    m = Mask((3, 2))
    m.set_at((0, 0))
    s = m.to_surface()
    assert s.get_size() == (3, 2) and s.get_bitsize() == 32
    assert s.get_flags() & SRCALPHA
    assert tuple(s.get_at((0, 0))) == (255, 255, 255, 255)
    assert tuple(s.get_at((1, 0))) == (0, 0, 0, 255)
    s = m.to_surface(unsetcolor=None)
    assert tuple(s.get_at((1, 1))) == (0, 0, 0, 0)
    t = Surface((3, 1), 0, 32)
    line = Mask((5, 1))
    line.set_at((2, 0))
    line.to_surface(t, dest=(-2, 0), unsetcolor=None)
    assert raw(t).tolist()[0][0] == t.map_rgb((255, 255, 255))
    line.to_surface(t, dest=t.get_rect(x=-1), setcolor=0xFF0000FF, unsetcolor=None)
    assert raw(t).tolist()[0][1] == 0xFF0000FF


def test_to_surface_argument_errors():
    m = Mask((2, 2))
    s32, s24 = Surface((2, 2), 0, 32), Surface((2, 2), 0, 24)
    with pytest.raises(TypeError, match="^invalid surface argument$"):
        m.to_surface(3)
    with pytest.raises(TypeError, match="^invalid setsurface argument$"):
        m.to_surface(s32, 3)
    with pytest.raises(TypeError, match="^invalid unsetsurface argument$"):
        m.to_surface(s32, None, "x")
    with pytest.raises(ValueError, match="^setsurface needs to have same "
                       "bytesize/bitsize/alpha format as surface$"):
        m.to_surface(s32, s24)
    with pytest.raises(ValueError, match="^unsetsurface needs to have same "
                       "bytesize/bitsize/alpha format as surface$"):
        m.to_surface(s32, unsetsurface=Surface((2, 2), SRCALPHA, 32))
    with pytest.raises(ValueError, match="^invalid color argument$"):
        m.to_surface(s32, setcolor=2**70)
    with pytest.raises(TypeError, match="^invalid dest argument$"):
        m.to_surface(s32, dest="ab")
    m.to_surface(s32, setsurface=Surface((0, 2), 0, 32))  # empty: ignored


def test_quit_display_surface_is_refused():
    display.init()
    try:
        screen = display.set_mode((8, 8))
    finally:
        display.quit()
    other = Surface((8, 8), 0, 32)
    m = Mask((8, 8), True)
    for call in (lambda: m.to_surface(screen, setsurface=other),
                 lambda: m.to_surface(other, setsurface=screen),
                 lambda: m.to_surface(screen),
                 lambda: from_surface(screen),
                 lambda: from_threshold(other, (1, 1, 1), othersurface=screen)):
        with pytest.raises(Exception, match="^display Surface quit$"):
            call()


class broken_locks:
    """Makes pinguard fail to lock `s` by swapping its lock list for a
    tuple (appending to it fails); restored on exit."""

    def __init__(self, s):
        p = ctypes.sizeof(ctypes.c_void_p)
        self.slot = ctypes.c_void_p.from_address(id(s) + 6 * p)
        self.stand_in = (1,)

    def __enter__(self):
        self.old = self.slot.value
        self.slot.value = id(self.stand_in)

    def __exit__(self, *exc):
        self.slot.value = self.old


def test_lock_failures_raise_and_unlock_the_rest():
    m = Mask((4, 4), True)
    s, other = Surface((4, 4), 0, 32), Surface((4, 4), 0, 32)
    with broken_locks(other):
        with pytest.raises(RuntimeError, match="^cannot lock setsurface$"):
            m.to_surface(s, setsurface=other)
        assert not s.get_locked()
        with pytest.raises(RuntimeError, match="^cannot lock unsetsurface$"):
            m.to_surface(s, setsurface=s, unsetsurface=other)
        assert not s.get_locked()
        with pytest.raises(RuntimeError, match="^cannot lock surface$"):
            m.to_surface(other)
        with pytest.raises(RuntimeError, match="^cannot lock surface$"):
            from_surface(other)
        with pytest.raises(RuntimeError, match="^cannot lock othersurface$"):
            from_threshold(s, (0, 0, 0), othersurface=other)
        assert not s.get_locked()
    assert m.to_surface(other) is other and not other.get_locked()
