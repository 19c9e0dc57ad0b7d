"""lumora.rasterport: array <-> surface copies checked against numpy over the
raw surface memory."""
import ctypes

import numpy as np
import pytest

import lumora.surface
from lumora import rasterport as rp
from lumora.texelgrid import TexelGrid

from _pixref import channels, mapped, store, surface
from _surfmem import _slots

W, H = 7, 5
ALL = ["8", "16", "24rgb", "24bgr", "32", "32x"]
rng = np.random.default_rng(42)


def refused(call, msg):
    """call(s) on a fresh 32-bit surface raises ValueError(msg) and leaves
    the surface unlocked and unchanged."""
    s = surface("32", W, H, seed=1)
    before = mapped(s)
    with pytest.raises(ValueError, match=msg):
        call(s)
    np.testing.assert_array_equal(mapped(s), before)
    assert not s.get_locked()


def quit_surface():
    s = surface("32", 2, 2)
    set_surface = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.c_void_p,
                                    ctypes.c_int)(_slots(lumora.surface, "surface", 4)[3])
    set_surface(s, None, 0)
    return s


@pytest.mark.parametrize("layout", ALL)
@pytest.mark.parametrize("dtype", ["u1", "u2", "<u4", ">u4", "i8", "V3", ">V5"])
def test_array_to_surface_2d(layout, dtype):
    s = surface(layout, W, H)
    bpp = s.get_bytesize()
    raw = rng.integers(0, 1 << 32, (W, H, 8), dtype=np.uint64).astype(np.uint8)
    dt = np.dtype(dtype)
    ok_sizes = range(3, 10) if bpp == 3 else (1, 2, 4, 8)
    if dt.kind == "V":
        a = np.ascontiguousarray(raw[:, :, :dt.itemsize]).view(dt)[:, :, 0]
        vals = sum(raw[:, :, i].astype(np.uint64) << np.uint64(8 * i) for i in range(3))
    else:
        a = raw.view(np.uint64)[:, :, 0].astype(dt)
        vals = a.astype(np.uint64)
    if dt.itemsize not in ok_sizes:
        with pytest.raises(ValueError, match="unsupported datatype for array\n"):
            rp.array_to_surface(s, a)
        return
    rp.array_to_surface(s, a)
    mask = (1 << (8 * bpp)) - 1
    np.testing.assert_array_equal(mapped(s), vals & np.uint64(mask))


@pytest.mark.parametrize("layout", ALL)
@pytest.mark.parametrize("dtype", ["u1", "u2", ">u4", "u8"])
def test_array_to_surface_rgb(layout, dtype):
    s = surface(layout, W, H)
    rgb = rng.integers(0, 256, (W, H, 3)).astype(dtype)
    if s.get_bytesize() == 1:
        with pytest.raises(ValueError, match="unsupported datatype for array"):
            rp.array_to_surface(s, rgb)
        return
    rp.array_to_surface(s, rgb)
    got = channels(s)
    f = rgb.astype(np.int64)
    losses = s.get_losses()
    for c in range(3):
        want = (f[..., c] >> losses[c]) << losses[c]
        np.testing.assert_array_equal(got[..., c] >> losses[c] << losses[c], want)
    if s.get_masks()[3]:
        assert (got[..., 3] == 255).all()


def test_rgb_into_565_exact():
    s = surface("16", 2, 1)
    rp.array_to_surface(s, np.array([[[255, 128, 8]], [[7, 3, 255]]], np.uint8))
    assert list(mapped(s)[:, 0]) == [(31 << 11) | (32 << 5) | 1, (0 << 11) | (0 << 5) | 31]


@pytest.mark.parametrize("shape", [(W, 1), (1, H), (1, 1)])
def test_broadcasting(shape):
    s = surface("32", W, H)
    a = rng.integers(0, 1 << 32, shape, dtype=np.uint64).astype(np.uint32)
    rp.array_to_surface(s, a)
    np.testing.assert_array_equal(mapped(s), np.broadcast_to(a, (W, H)))
    rgb = np.array([[[1, 2, 3]]], np.uint8)
    rp.array_to_surface(s, rgb)
    assert (mapped(s) == s.map_rgb((1, 2, 3))).all()


@pytest.mark.parametrize("arr, msg", [
    (np.zeros((W + 1, H), np.uint32), "array must match surface dimensions"),
    (np.zeros((W, H), np.float32), "Unsupported array item type"),
    (np.zeros((W, H, 4), np.uint8), "must be a valid 2d or 3d array\n"),
    (np.zeros(W, np.uint8), "must be a valid 2d or 3d array\n"),
])
def test_array_to_surface_errors(arr, msg):
    refused(lambda s: rp.array_to_surface(s, arr), msg)


def test_quit_surface_refused():
    s = quit_surface()
    for call in (lambda: rp.array_to_surface(s, np.zeros((2, 2), np.uint32)),
                 lambda: rp.surface_to_array(np.zeros((2, 2), np.uint32), s),
                 lambda: rp.map_array(np.zeros((2, 2), np.uint32),
                                      np.zeros((2, 2, 3), np.uint8), s)):
        with pytest.raises(Exception, match="display Surface quit"):
            call()


@pytest.mark.parametrize("layout", ALL)
@pytest.mark.parametrize("dtype", ["u1", "u2", "<u4", ">u4", "u8", ">i8"])
def test_surface_to_array_pixels(layout, dtype):
    s = surface(layout, W, H, seed=2)
    bpp = s.get_bytesize()
    a = np.full((W, H), 0x7F, dtype)
    if a.itemsize < bpp:
        with pytest.raises(ValueError, match="Expected at least a target byte size of %d: got %d"
                           % (bpp, a.itemsize)):
            rp.surface_to_array(a, s)
        return
    rp.surface_to_array(a, s)
    np.testing.assert_array_equal(a.astype(np.uint64), mapped(s))


@pytest.mark.parametrize("layout", ALL)
def test_surface_to_array_rgb_and_planes(layout):
    s = surface(layout, W, H, seed=3)
    ref = channels(s)
    a = np.full((W, H, 3), 99, np.uint16)
    rp.surface_to_array(a, s)
    np.testing.assert_array_equal(a, ref[..., :3])
    b = np.zeros((W, H, 3), np.uint8)[::-1]
    rp.surface_to_array(b, s)
    np.testing.assert_array_equal(b, ref[..., :3])
    for i, k in enumerate("RGB"):
        p = np.full((W, H), -1, np.int32)
        rp.surface_to_array(p, s, k.lower() if i else k)
        np.testing.assert_array_equal(p, ref[..., i])


def test_alpha_and_colorkey_kinds():
    s = surface("32", W, H, seed=4)
    a = np.zeros((W, H), np.uint8)
    rp.surface_to_array(a, s, "A")
    np.testing.assert_array_equal(a, channels(s)[..., 3])
    o = surface("32x", W, H, seed=5)
    rp.surface_to_array(a, o, b"A", opaque=200)
    assert (a == 200).all()
    rp.surface_to_array(a, o, "C")
    assert (a == 255).all()
    o.set_colorkey(int(mapped(o)[2, 3]))
    key = mapped(o) == mapped(o)[2, 3]
    rp.surface_to_array(a, o, "C", 250, 7)
    np.testing.assert_array_equal(a, np.where(key, 7, 250))


@pytest.mark.parametrize("kind, exc, msg", [
    ("x", TypeError, "unrecognized view kind 'x' for argument 3"),
    ("PP", TypeError, "expected a length 1 string for argument 3"),
    (1, TypeError, "expected a length one string for argument 3: got 'int'"),
])
def test_kind_errors(kind, exc, msg):
    with pytest.raises(exc, match=msg):
        rp.surface_to_array(np.zeros((W, H), np.uint32), surface("32", W, H), kind)


@pytest.mark.parametrize("target, kind, msg", [
    (np.zeros((W, H + 1), np.uint32), "P", r"Expected a \(7, 5\) target: got \(7, 6\)"),
    (np.zeros((W, H, 4), np.uint8), "P", r"Expected a \(7, 5, 3\) target: got \(7, 5, 4\)"),
    (np.zeros((W, H, 3), np.uint8), "R", "color planes only supported for 2d targets"),
    (np.zeros((W, H, 3, 1), np.uint8), "P", "unsupported array depth 4"),
])
def test_surface_to_array_shape_errors(target, kind, msg):
    refused(lambda s: rp.surface_to_array(target, s, kind), msg)


def test_subsurfaces_both_ways():
    s = surface("24bgr", 12, 9, seed=6)
    sub = s.subsurface((3, 2, W, H))
    a = np.zeros((W, H), np.uint32)
    rp.surface_to_array(a, sub)
    np.testing.assert_array_equal(a, mapped(s)[3:3 + W, 2:2 + H])
    want = mapped(s)
    vals = rng.integers(0, 1 << 24, (W, H), dtype=np.uint64).astype(np.uint32)
    want[3:3 + W, 2:2 + H] = vals
    rp.array_to_surface(sub, vals)
    np.testing.assert_array_equal(mapped(s), want)


def test_texelgrid_as_source_and_target():
    s, o = surface("32", W, H, seed=7), surface("32", W, H)
    rp.array_to_surface(o, TexelGrid(s)[::-1])
    np.testing.assert_array_equal(mapped(o), mapped(s)[::-1])
    t = TexelGrid(o)
    rp.surface_to_array(t, s)
    np.testing.assert_array_equal(mapped(o), mapped(s))


@pytest.mark.parametrize("layout", ALL)
def test_map_array(layout):
    s = surface(layout, W, H)
    src = rng.integers(0, 256, (W, H, 3)).astype(np.uint16)
    t = np.full((W, H), -1, np.int64)
    rp.map_array(t, src, s)
    want = [[s.map_rgb(tuple(int(c) for c in src[x, y])) for y in range(H)] for x in range(W)]
    np.testing.assert_array_equal(t, want)
    b = np.zeros((2, W, H), ">u4")
    rp.map_array(b, np.array([9, 8, 7], np.uint8), s)
    assert (b == s.map_rgb((9, 8, 7))).all()
    row = np.zeros((W, H), np.uint32)
    rp.map_array(row, src[:, :1], s)
    np.testing.assert_array_equal(row, np.broadcast_to(np.array(want)[:, :1], (W, H)))


@pytest.mark.parametrize("target, source, msg", [
    (np.zeros((W, H), np.uint32), np.zeros((W, H, 4), np.uint8),
     r"Expected a \(\.\.\., 3\) source array: got \(\.\.\., 4\)"),
    (np.zeros((W,), np.uint32), np.zeros((W, H, 3), np.uint8),
     "1 dimensional target has too few dimensions for 3 dimensional source"),
    (np.zeros((W, H), np.uint32), np.zeros((W, 2, 3), np.uint8),
     "size mismatch between dimension 1 of source and dimension 1 of target"),
    (np.zeros((W, H), np.uint16), np.zeros((W, H, 3), np.uint8),
     "target array itemsize is too small for pixel format"),
    (np.zeros((W, H), np.float32), np.zeros((W, H, 3), np.uint8),
     "expected an integer target array"),
    (np.zeros((1,) * 11, np.uint32), np.zeros(3, np.uint8), "target array exceeds 10 dimensions"),
    (np.zeros((W, H), np.uint32), np.zeros((W, H, 3), np.float64), "Unsupported array item type"),
])
def test_map_array_errors(target, source, msg):
    refused(lambda s: rp.map_array(target, source, s), msg)


def test_make_surface():
    a = np.arange(256, dtype=np.uint8).reshape(16, 16)
    s = rp.make_surface(a)
    assert s.get_size() == (16, 16) and s.get_bitsize() == 8
    np.testing.assert_array_equal(mapped(s), a)
    pal = s.get_palette()
    assert tuple(pal[224]) == (255, 0, 0, 255) and tuple(pal[0x1C]) == (0, 255, 0, 255)
    assert tuple(pal[0x0A]) == (0, 73, 170, 255)
    rgb = rng.integers(0, 256, (4, 3, 3)).astype(np.uint8)
    t = rp.make_surface(rgb)
    assert t.get_bitsize() == 32 and t.get_masks() == (0xFF0000, 0xFF00, 0xFF, 0)
    np.testing.assert_array_equal(channels(t)[..., :3], rgb)
    with pytest.raises(ValueError, match="must be a valid 2d or 3d array"):
        rp.make_surface(np.zeros((2, 2, 2), np.uint8))
    with pytest.raises(ValueError, match="Unsupported array item type"):
        rp.make_surface(np.zeros((2, 2), np.float64))


def test_docstrings():
    assert rp.__doc__ == "lumora module for general pixel array copying"
    assert rp.make_surface.__doc__.startswith("lumora.rasterport.make_surface(array) -> Surface")
    store(surface("8", 1, 1), [[0]])


@pytest.mark.parametrize("layout", ["32", "32x", "24rgb", "16"])
def test_packed_frames_both_ways(layout):
    # (w, h, 3) views of a C-ordered (h, w, 3) image with a spare column:
    # the spare bytes right after each row must stay untouched.
    s = surface(layout, W, H, seed=8)
    big = np.full((H, W + 1, 3), 77, np.uint8)
    frame = big[:, :W].transpose(1, 0, 2)
    rp.surface_to_array(frame, s)
    np.testing.assert_array_equal(frame, channels(s)[..., :3])
    assert (big[:, W] == 77).all()
    src = rng.integers(0, 256, (H, W, 3), dtype=np.uint8).transpose(1, 0, 2)
    rp.array_to_surface(s, src)
    got = channels(s)[..., :3].astype(int)
    losses = np.array(s.get_losses()[:3])
    np.testing.assert_array_equal(got >> losses, src.astype(int) >> losses)
