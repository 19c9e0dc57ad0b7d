"""lumora.transform: scale, flip, rotate, chop, smoothscale."""
import math

import numpy as np
import pytest

from _xfref import DEPTHS, raw, put_raw, make, values, smooth_model, \
    rotate_model

import lumora
from lumora import Surface, SRCALPHA
import lumora.transform as tf


# --- scale -------------------------------------------------------------------

@pytest.mark.parametrize("depth", DEPTHS)
@pytest.mark.parametrize("size", [(3, 4), (7, 5), (14, 10), (2, 1), (13, 23)])
def test_scale_nearest_pixels(depth, size):
    src = make(7, 5, depth, seed=depth)
    out = tf.scale(src, size)
    assert out.get_size() == size and out.get_bitsize() == depth
    a = raw(src)
    rows = [k * 5 // size[1] for k in range(size[1])]
    cols = [k * 7 // size[0] for k in range(size[0])]
    assert np.array_equal(raw(out), a[rows][:, cols])


def test_scale_picks_columns_as_floor():
    src = make(3, 1, 32, values=np.arange(12, dtype=np.uint8).reshape(1, 3, 4))
    assert values(tf.scale(src, (4, 1)))[0].tolist() == \
        values(src)[0, [0, 0, 1, 2]].tolist()
    assert values(tf.scale(src, (2, 1)))[0].tolist() == \
        values(src)[0, [0, 1]].tolist()


def test_scale_into_dest_and_errors():
    src = make(4, 4, 32)
    dest = Surface((8, 2), 0, 32)
    assert tf.scale(src, (8, 2), dest) is dest
    assert np.array_equal(raw(dest), raw(src)[[0, 2]][:, [k // 2 for k in range(8)]])
    empty = tf.scale(src, (0, 10))
    assert empty.get_size() == (0, 10)
    with pytest.raises(ValueError, match="Cannot scale to negative size"):
        tf.scale(src, (-1, 5))
    with pytest.raises(ValueError, match="need the same format"):
        tf.scale(src, (8, 2), Surface((8, 2), 0, 16))
    with pytest.raises(ValueError, match="not the given width or height"):
        tf.scale(src, (8, 3), dest)
    with pytest.raises(TypeError, match="size must be two numbers"):
        tf.scale(src, "ab")
    with pytest.raises(TypeError):
        tf.scale(src, (2, 2), 5)
    with pytest.raises(TypeError):
        tf.scale(None, (2, 2))


def test_scale_subsurface_source():
    parent = make(10, 10, 24, seed=3)
    sub = parent.subsurface((2, 3, 4, 5))
    out = tf.scale(sub, (8, 10))
    a = raw(parent)[3:8, 2:6]
    assert np.array_equal(raw(out), a.repeat(2, 0).repeat(2, 1))


@pytest.mark.parametrize("factor,size", [(0.5, (5, 3)), ((0.5, 0.5), (5, 3)),
                                         ((2, 1), (20, 7)), (0, (0, 0)),
                                         (1.55, (15, 10))])
def test_scale_by_sizes(factor, size):
    src = make(10, 7)
    assert tf.scale_by(src, factor).get_size() == size


@pytest.mark.parametrize("fn", [tf.scale_by, tf.smoothscale_by])
def test_scale_by_bad_factors(fn):
    src = make(10, 7)
    with pytest.raises(TypeError, match="either one number or a sequence"):
        fn(src, (1, 2, 3))
    with pytest.raises(TypeError, match="either one number"):
        fn(src, "x")
    for bad in (math.nan, math.inf, (1, math.nan), 1e30, (1, -1e30)):
        with pytest.raises(ValueError):
            fn(src, bad)
    with pytest.raises(ValueError, match="negative size"):
        fn(src, -1)


# --- flip and rotate ---------------------------------------------------------

@pytest.mark.parametrize("depth", DEPTHS)
@pytest.mark.parametrize("fx,fy", [(0, 0), (0, 1), (1, 0), (True, 5)])
def test_flip(depth, fx, fy):
    src = make(5, 3, depth, seed=1)
    a = raw(src)
    if fx:
        a = a[:, ::-1]
    if fy:
        a = a[::-1]
    out = tf.flip(src, fx, fy)
    assert out is not src and np.array_equal(raw(out), a)


@pytest.mark.parametrize("depth", DEPTHS)
@pytest.mark.parametrize("angle,turns", [(0, 0), (90, 1), (180, 2), (270, 3),
                                         (-90, 3), (450, 1), (-360, 0),
                                         (90.0 * 2 ** 40, 0),
                                         (-90.0 * 2 ** 30, 0),
                                         (90.0 + 360 * 2 ** 16, 1)])
def test_rotate_quarter_turns(depth, angle, turns):
    src = make(37, 45, depth, seed=2)
    out = tf.rotate(src, angle)
    assert np.array_equal(raw(out), np.rot90(raw(src), turns))


def test_rotate_90_top_right_first():
    src = make(4, 2, 32, seed=5)
    out = tf.rotate(src, 90)
    assert out.get_size() == (2, 4)
    assert out.get_at((0, 0)) == src.get_at((3, 0))


@pytest.mark.parametrize("depth", DEPTHS)
@pytest.mark.parametrize("angle,size", [(45, (10, 10)), (30, (7, 12)),
                                        (-100, (9, 5)), (200.5, (6, 6))])
def test_rotate_general(depth, angle, size):
    src = make(*size, depth, seed=4)
    v = values(src)
    bg = int(v[0, 0]) & ~src.get_masks()[3] & 0xFFFFFFFF
    want = rotate_model(v, float(np.float32(angle)), bg)
    out = tf.rotate(src, angle)
    assert np.array_equal(values(out), want)


def test_rotate_background_colorkey_and_alpha():
    src = make(10, 10, 32, alpha=True, seed=6)
    out = tf.rotate(src, 45)
    assert out.get_size() == (14, 14)
    tl = int(values(src)[0, 0]) & 0x00FFFFFF
    corners = values(out)[[0, 0, -1, -1], [0, -1, 0, -1]]
    assert corners.tolist() == [tl] * 4
    src.set_colorkey(0x123456)
    out = tf.rotate(src, 45)
    assert values(out)[0, 0] == 0x123456
    assert out.get_colorkey() == src.get_colorkey()


def test_rotate_empty_and_bad_angles():
    empty = Surface((0, 5), 0, 32)
    assert tf.rotate(empty, 33) is empty
    src = make(4, 4)
    for bad in (math.nan, math.inf, -math.inf):
        with pytest.raises(ValueError):
            tf.rotate(src, bad)


def test_rotate_keeps_settings():
    src = make(6, 4, 32, alpha=True)
    src.set_alpha(100)
    out = tf.rotate(src, 90)
    assert out.get_alpha() == 100 and out.get_flags() & SRCALPHA
    pal = make(6, 4, 8)
    pal.set_palette_at(2, (9, 8, 7))
    assert tf.flip(pal, 1, 0).get_palette_at(2) == (9, 8, 7)


# --- chop --------------------------------------------------------------------

@pytest.mark.parametrize("depth", DEPTHS)
@pytest.mark.parametrize("rect,cols,rows", [
    ((2, 2, 3, 3), (2, 5), (2, 5)),
    ((20, 20, 5, 5), (0, 0), (0, 0)),
    ((-5, 0, 10, 0), (0, 5), (0, 0)),
    ((-20, -20, 10, 10), (0, 0), (0, 0)),      # would widen the result
    ((8, 8, 10, 10), (8, 10), (8, 10)),
    ((2 ** 31 - 1, 0, 10, 0), (0, 0), (0, 0)),  # x + w wraps in 32 bits
    ((6, 7, -3, -2), (3, 6), (5, 7)),          # normalised
])
def test_chop(depth, rect, cols, rows):
    src = make(10, 10, depth, seed=7)
    a = np.delete(raw(src), range(*rows), 0)
    a = np.delete(a, range(*cols), 1)
    out = tf.chop(src, rect)
    assert np.array_equal(raw(out), a)


def test_chop_subsurface_and_errors():
    parent = make(12, 12, 32, seed=8)
    sub = parent.subsurface((1, 1, 10, 10))
    out = tf.chop(sub, (2, 2, 3, 3))
    a = np.delete(np.delete(raw(parent)[1:11, 1:11], range(2, 5), 0),
                  range(2, 5), 1)
    assert np.array_equal(raw(out), a)
    with pytest.raises(TypeError, match="Rect argument is invalid"):
        tf.chop(parent, "nope")


# --- smoothscale -------------------------------------------------------------

def test_smoothscale_doc_examples():
    row = np.zeros((1, 4, 4), np.uint8)
    row[0, :, 0] = [0, 100, 200, 50]
    src = make(4, 1, 32, values=row)
    assert raw(tf.smoothscale(src, (2, 1)))[0, :, 0].tolist() == [50, 125]
    row = np.zeros((1, 2, 4), np.uint8)
    row[0, :, 1] = [0, 200]
    src = make(2, 1, 32, values=row)
    assert raw(tf.smoothscale(src, (4, 1)))[0, :, 1].tolist() == \
        [0, 50, 100, 150]


@pytest.mark.parametrize("depth", (24, 32))
@pytest.mark.parametrize("src_size,size", [((9, 7), (4, 3)), ((5, 4), (13, 9)),
                                           ((9, 4), (3, 11)), ((6, 8), (6, 3)),
                                           ((6, 3), (17, 3)), ((1, 1), (5, 4)),
                                           ((1, 6), (3, 2)), ((40, 3), (7, 3))])
def test_smoothscale_model(depth, src_size, size):
    src = make(*src_size, depth, seed=sum(src_size))
    a = raw(src)
    if depth == 24:
        a = np.concatenate([a, np.full(a.shape[:2] + (1,), 255, np.uint8)], 2)
    want = smooth_model(a, *size)[:, :, :depth // 8]
    out = tf.smoothscale(src, size)
    assert out.get_bitsize() == depth
    assert np.array_equal(raw(out), want)


def test_smoothscale_wide_shrink_averages():
    # 300 white pixels to one: wider sums than 16 bits are needed.
    src = make(300, 1, 32, values=np.full((1, 300, 4), 255, np.uint8))
    assert raw(tf.smoothscale(src, (1, 1)))[0, 0].tolist() == [254] * 4
    src = make(1, 300, 32, values=np.full((300, 1, 4), 255, np.uint8))
    assert raw(tf.smoothscale(src, (1, 1)))[0, 0].tolist() == [254] * 4


def test_smoothscale_same_size_dest_and_errors():
    src = make(5, 4, 24, seed=9)
    assert np.array_equal(raw(tf.smoothscale(src, (5, 4))), raw(src))
    dest = Surface((3, 2), 0, 24)
    assert tf.smoothscale(src, (3, 2), dest) is dest
    assert tf.smoothscale(src, (0, 5)).get_size() == (0, 5)
    assert tf.smoothscale_by(src, 2).get_size() == (10, 8)
    for depth in (8, 16):
        with pytest.raises(ValueError, match="Only 24-bit or 32-bit"):
            tf.smoothscale(make(4, 4, depth), (2, 2))
    with pytest.raises(ValueError, match="need the same format"):
        tf.smoothscale(make(4, 4, 32), (2, 2), Surface((2, 2), 0, 16))
    with pytest.raises(ValueError, match="not the given width or height"):
        tf.smoothscale(src, (3, 3), dest)
    with pytest.raises(ValueError, match="negative"):
        tf.smoothscale(src, (3, -3))
    with pytest.raises(TypeError, match="size must be two numbers"):
        tf.smoothscale(src, 3)


def test_smoothscale_backend():
    assert tf.get_smoothscale_backend() == "GENERIC"
    assert tf.set_smoothscale_backend("GENERIC") is None
    with pytest.raises(ValueError, match="^MMX not supported on this machine$"):
        tf.set_smoothscale_backend("MMX")
    with pytest.raises(ValueError, match="^Unknown backend type AVX$"):
        tf.set_smoothscale_backend(backend="AVX")
    assert tf.get_smoothscale_backend() == "GENERIC"


# --- shared rules ------------------------------------------------------------

def test_docstrings_and_dead_surface():
    assert tf.__doc__ == "lumora module to transform surfaces"
    assert tf.scale.__doc__ == ("scale(surface, size, dest_surface=None) -> "
                                "Surface\nresize to new resolution")
    assert tf.rotate.__doc__ == "rotate(surface, angle) -> Surface\nrotate an image"
    s = make(4, 4)
    s.__init__((0, 0))  # noqa: PLC2801 - re-initialised surfaces stay usable
    assert tf.flip(s, 1, 1).get_size() == (0, 0)
