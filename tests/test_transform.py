"""lumora.transform: scale, flip, rotate, chop, smoothscale."""
import math
import os
import textwrap

import numpy as np
import pytest

from _xfref import DEPTHS, raw, put_raw, make, values, smooth_model, \
    rotate_model, decoded, sdl_map, scale2x_model, rotozoom_model, \
    rotozoom_nearest_model
from _surfmem import sdl, SDL_Surface

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


@pytest.mark.parametrize("depth", DEPTHS)
def test_scale_halving(depth):
    src = make(10, 6, depth, seed=depth + 1)
    assert np.array_equal(raw(tf.scale(src, (5, 3))), raw(src)[::2, ::2])
    assert np.array_equal(raw(tf.scale(src, (5, 6))), raw(src)[:, ::2])


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
                                        (-100, (9, 5)), (200.5, (6, 6)),
                                        (33, (70, 40)), (1e-3, (5, 3)),
                                        (-179.9, (66, 9))])
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
                                           ((1, 6), (3, 2)), ((40, 3), (7, 3)),
                                           ((12, 9), (4, 3)), ((10, 8), (5, 4)),
                                           ((8, 8), (8, 2)), ((10, 3), (5, 7))])
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


# --- threshold ---------------------------------------------------------------

def _rgb(surf):
    return decoded(surf)[:, :, :3]


def _near(surf, ref, t):
    return np.all(np.abs(_rgb(surf) - np.asarray(ref)) <= np.asarray(t), -1)


@pytest.mark.parametrize("depth", DEPTHS)
def test_threshold_counts_and_paints(depth):
    src = make(9, 7, depth, seed=11)
    src.set_at((1, 1), (255, 0, 0))
    src.set_at((2, 1), (250, 5, 3))
    dest = make(9, 7, depth, seed=12)
    before = values(dest)
    ref = tuple(int(v) for v in _rgb(src)[1, 2])
    near = _near(src, ref, (10, 10, 10))
    blue = dest.map_rgb((0, 0, 255))
    n = tf.threshold(dest, src, ref, (10, 10, 10), (0, 0, 255))
    assert n == near.sum() >= 1
    assert np.array_equal(values(dest), np.where(near, before, blue))
    put_raw(dest, np.zeros_like(raw(dest)))
    n2 = tf.threshold(dest, src, ref, (10, 10, 10), (0, 0, 255), 1, None, True)
    assert n2 == n
    assert np.array_equal(values(dest), np.where(near, blue, 0))


def test_threshold_count_only_and_search_surf():
    src = make(6, 5, 32, seed=13)
    src.fill((255, 0, 0), (0, 0, 3, 2))
    assert tf.threshold(None, src, (255, 0, 0), set_behavior=0) == 6
    assert tf.threshold(surface=src, search_color=(255, 0, 0),
                        set_behavior=0) == 6
    with pytest.raises(TypeError, match="argument 1 must be lumora.Surface"):
        tf.threshold(surface=src, search_color=(255, 0, 0))
    with pytest.raises(TypeError, match="surface"):
        tf.threshold(None)
    other = make(6, 5, 32, seed=14)
    other.fill((255, 0, 0), (0, 0, 2, 2))
    dest = Surface((6, 5), 0, 32)
    n = tf.threshold(dest, src, None, set_behavior=2, set_color=None,
                     search_surf=other)
    same = _near(src, _rgb(other), (0, 0, 0))
    assert n == same.sum()
    assert np.array_equal(values(dest), np.where(same, 0, values(src)))


def test_threshold_int_colour_is_raw_pixel():
    src = make(3, 3, 32, seed=15)
    v = int(values(src)[1, 1]) | 0x80000000  # an opaque-looking ARGB int
    src.set_at((1, 1), v)
    assert tf.threshold(None, src, v, set_behavior=0) >= 1
    dest = Surface((3, 3), 0, 32)
    tf.threshold(dest, src, (1, 2, 3), (0, 0, 0), 0xFF00FF00)
    assert int(values(dest)[0, 0]) == 0xFF00FF00 & 0xFFFFFFFF


@pytest.mark.parametrize("kw,msg", [
    (dict(dest_surface=None), "argument 1 must be lumora.Surface"),
    (dict(set_behavior=0, set_color=(1, 2, 3), dest_surface=None),
     "if set_behavior==0 set_color should be None"),
    (dict(set_behavior=0), "if set_behavior==0 dest_surf_obj should be None"),
    (dict(search_surf="S", search_color=(1, 1, 1)),
     "if search_surf is used, search_color should be None"),
    (dict(set_behavior=2), "if set_behavior==2 set_color should be None"),
    (dict(search_color="red"), "invalid search_color argument"),
    (dict(threshold="x"), "invalid threshold argument"),
    (dict(set_color=object()), "invalid set_color argument"),
    (dict(dest_surface="small"), "surf and dest_surf not the same size"),
    (dict(search_surf="small", search_color=None),
     "surf and search_surf not the same size"),
])
def test_threshold_errors(kw, msg):
    src = make(4, 4)
    args = dict(dest_surface=Surface((4, 4), 0, 32), surface=src,
                search_color=(1, 2, 3))
    args.update(kw)
    for k, v in args.items():
        if v == "S":
            args[k] = make(4, 4)
        elif v == "small":
            args[k] = make(3, 4)
    with pytest.raises(TypeError, match=msg):
        tf.threshold(**args)


# --- laplacian ---------------------------------------------------------------

def test_laplacian_flat_and_model():
    flat = make(5, 4, 32, alpha=True, values=np.full((4, 5, 4), 77, np.uint8))
    assert not raw(tf.laplacian(flat)).any()
    src = make(6, 5, 32, alpha=True, seed=16)
    a = raw(src).astype(np.int64)
    # Byte order of the channels (r, g, b, a) in memory.
    order = [m.bit_length() // 8 - 1 for m in src.get_masks()]
    rgba = a[:, :, order]
    pad = np.pad(rgba, ((1, 1), (1, 1), (0, 0)), constant_values=255)
    total = sum(pad[1 + dy:6 + dy, 1 + dx:7 + dx] for dy in (-1, 0, 1)
                for dx in (-1, 0, 1)) - rgba
    want = np.clip(8 * rgba - total, 0, 255)
    out = raw(tf.laplacian(src))[:, :, order]
    assert np.array_equal(out, want)
    dest = Surface((6, 5), SRCALPHA, 32)
    assert tf.laplacian(src, dest) is dest
    with pytest.raises(ValueError, match="not the same size"):
        tf.laplacian(src, Surface((5, 5), 0, 32))
    with pytest.raises(ValueError, match="same format"):
        tf.laplacian(src, Surface((6, 5), 0, 16))


# --- averages ----------------------------------------------------------------

def test_average_surfaces_values():
    black = make(4, 3, 32, values=np.zeros((3, 4, 4), np.uint8))
    white = make(4, 3, 32, values=np.full((3, 4, 4), 255, np.uint8))
    out = tf.average_surfaces([black, white])
    assert set(map(tuple, raw(out).reshape(-1, 4)[:, :3])) == {(128,) * 3}
    srcs = [make(5, 4, 24, seed=s) for s in (1, 2, 3)]
    acc = sum(raw(s).astype(np.int64) for s in srcs)
    inv = np.float32(1.0 / 3)
    want = (np.float32(0.5) + acc.astype(np.float32) * inv).astype(np.uint8)
    assert np.array_equal(raw(tf.average_surfaces(srcs)), want)
    one = make(3, 3, 32, alpha=True, seed=4)
    res = raw(tf.average_surfaces([one]))
    assert np.array_equal(res[:, :, :3], raw(one)[:, :, :3])
    assert (res[:, :, 3] == 255).all()


def test_average_surfaces_palette_index_mode():
    a, b = make(3, 2, 8, seed=5), make(3, 2, 8, seed=6)
    out = tf.average_surfaces([a, b], None, 0)
    want = (np.float32(0.5) + (raw(a).astype(np.float32) + raw(b)) *
            np.float32(0.5)).astype(np.uint8)
    assert np.array_equal(raw(out), want)
    with pytest.raises(ValueError, match="palette"):
        tf.average_surfaces([a, make(3, 2, 32)], Surface((3, 2), 0, 8), 0)


@pytest.mark.parametrize("items,exc,msg", [
    (5, TypeError, "Argument must be a sequence of surface objects."),
    ([], TypeError, "Needs to be given at least one surface."),
    ([1], TypeError, "Needs to be a surface object."),
    (["a", 3], TypeError, "Needs to be a surface object."),
    (["a", "small"], ValueError, "same size"),
])
def test_average_surfaces_errors(items, exc, msg):
    if isinstance(items, list):
        items = [make(4, 4) if i == "a" else make(2, 4) if i == "small" else i
                 for i in items]
    with pytest.raises(exc, match=msg):
        tf.average_surfaces(items)
    with pytest.raises(ValueError, match="not the same size"):
        tf.average_surfaces([make(4, 4)], Surface((3, 4), 0, 32))


@pytest.mark.parametrize("rect", [None, (1, 1, 3, 2), (-2, -1, 4, 3),
                                  (3, 2, 50, 50), (10, 0, 5, 5), (0, 0, 0, 4)])
@pytest.mark.parametrize("alpha", [False, True])
def test_average_color(rect, alpha):
    src = make(10, 6, 32, alpha=True, seed=17)
    order = [m.bit_length() // 8 - 1 for m in src.get_masks()]
    a = raw(src).astype(np.int64)[:, :, order]
    x, y, w, h = rect or (0, 0, 10, 6)
    area = a[max(y, 0):max(min(y + h, 6), 0), max(x, 0):max(min(x + w, 10), 0)]
    n = area.shape[0] * area.shape[1]
    if n == 0:
        want = (0, 0, 0, 0)
    elif not alpha:
        want = tuple(int(v) for v in area.reshape(-1, 4).sum(0) // n)
    else:
        sa = area[:, :, 3].sum()
        rgb = (area[:, :, :3] * area[:, :, 3:]).reshape(-1, 3).sum(0)
        want = tuple(int(v) for v in rgb // (sa or n)) + (int(sa // n),)
    assert tf.average_color(src, rect, alpha) == want


def test_average_color_wide_sums_and_24bit():
    # 257 x 257 white pixels with alpha overflow 32-bit weighted sums.
    white = make(257, 257, 32, alpha=True,
                 values=np.full((257, 257, 4), 255, np.uint8))
    assert tf.average_color(white, None, True) == (255, 255, 255, 255)
    rgb = make(4, 4, 24, seed=18)
    assert tf.average_color(rgb)[3] == 0
    assert tf.average_color(rgb, consider_alpha=True) == (0, 0, 0, 0)
    with pytest.raises(TypeError, match="Rect argument is invalid"):
        tf.average_color(rgb, "x")


# --- grayscale ---------------------------------------------------------------

@pytest.mark.parametrize("depth", (16, 24, 32))
def test_grayscale(depth):
    src = make(7, 5, depth, seed=19, alpha=depth == 32)
    src.set_at((0, 0), (1, 1, 1))
    src.set_at((1, 0), (128, 128, 128))
    src.set_at((2, 0), (255, 255, 255))
    c = decoded(src).tolist()
    out = tf.grayscale(src)
    for y in range(5):
        for x in range(7):
            r, g, b, a = c[y][x]
            gray = int(g * 0.587 + r * 0.299 + b * 0.114) & 0xFF
            want = sdl_map(src, gray, gray, gray, a)
            assert out.get_at_mapped((x, y)) == want
    if depth == 32:
        assert [out.get_at((i, 0))[0] for i in range(3)] == [0, 127, 255]
    with pytest.raises(ValueError, match="must be the same size"):
        tf.grayscale(src, Surface((1, 1), 0, depth))


# --- scale2x and rotozoom ----------------------------------------------------

@pytest.mark.parametrize("depth", DEPTHS)
def test_scale2x_model(depth):
    rng = np.random.default_rng(depth)
    src = make(9, 7, depth, values=rng.integers(0, 2, (7, 9, depth // 8),
                                                dtype=np.uint8) * 200)
    out = tf.scale2x(src)
    assert out.get_size() == (18, 14)
    assert np.array_equal(values(out), scale2x_model(values(src)))


def test_scale2x_shapes_and_errors():
    one = make(1, 1, 24, seed=3)
    assert np.array_equal(raw(tf.scale2x(one)), raw(one).repeat(2, 0).repeat(2, 1))
    checker = make(4, 4, 32, values=(np.indices((4, 4)).sum(0) % 2 * 255)
                   .astype(np.uint8)[:, :, None].repeat(4, 2))
    # Inside, no diagonal match fires (at the edges the clamped neighbours
    # equal the pixel itself, and the corners change).
    assert np.array_equal(raw(tf.scale2x(checker))[2:-2, 2:-2],
                          raw(checker).repeat(2, 0).repeat(2, 1)[2:-2, 2:-2])
    stair = np.tril(np.ones((4, 4), np.uint8) * 255)[:, :, None].repeat(4, 2)
    out = values(tf.scale2x(make(4, 4, 32, values=stair)))
    assert out[2, 3] == 0 and out[2, 2] == 0xFFFFFFFF  # the step smoothed
    dest = Surface((8, 8), 0, 32)
    assert tf.scale2x(checker, dest) is dest
    with pytest.raises(ValueError, match="Destination surface not 2x bigger."):
        tf.scale2x(checker, Surface((8, 9), 0, 32))
    with pytest.raises(ValueError, match="same format"):
        tf.scale2x(checker, Surface((8, 8), 0, 24))


def _f32(v):
    return float(np.float32(v))


@pytest.mark.parametrize("size,angle,zoom", [
    ((5, 4), 0, 1), ((5, 4), 0, 2), ((6, 3), 0, 0.5), ((1, 1), 0, 3),
    ((1, 5), 0, 2), ((7, 5), 30, 1), ((6, 6), 45, 1.5), ((5, 8), -120, 0.7),
    ((1, 4), 60, 1), ((4, 1), 200, 2), ((10, 20), 90, 1)])
def test_rotozoom_model(size, angle, zoom):
    src = make(*size, 32, alpha=True, seed=size[0] * 7 + size[1])
    want = rotozoom_model(raw(src), _f32(angle), _f32(zoom))
    out = tf.rotozoom(src, angle, zoom)
    assert out.get_bitsize() == 32
    assert np.array_equal(raw(out), want)


def test_rotozoom_sizes_and_corners():
    src = make(10, 20, 32, alpha=True)
    assert tf.rotozoom(src, 90, 1).get_size() == (20, 12)
    sq = make(10, 10, 32, alpha=True, values=np.full((10, 10, 4), 200, np.uint8))
    out = tf.rotozoom(sq, 45, 1)
    assert out.get_size() == (16, 16)
    assert raw(out)[[0, 0, -1, -1], [0, -1, 0, -1]].tolist() == [[0] * 4] * 4
    assert tf.rotozoom(sq, 0, 2).get_size() == (20, 20)
    tiny = tf.rotozoom(sq, 30, -1)
    assert tiny.get_size() == tf.rotozoom(sq, 30, 0.001).get_size() == (2, 2)
    assert tf.rotozoom(sq, 30, 0).get_size() == (0, 0)
    for bad in ((math.nan, 1), (0, math.inf), (10, 1e30)):
        with pytest.raises(ValueError):
            tf.rotozoom(sq, *bad)


def test_rotozoom_converts_other_depths():
    pal = make(4, 3, 8, seed=9)
    pal.set_palette_at(1, (10, 20, 30))
    out = tf.rotozoom(pal, 0, 1)
    assert out.get_bitsize() == 32
    rgba = decoded(pal)
    conv = rgba.astype(np.uint8)  # R, G, B, A bytes in memory order
    assert np.array_equal(raw(out), rotozoom_model(conv, 0, 1))
    sub = make(8, 8, 24, seed=10).subsurface((2, 2, 4, 4))
    assert tf.rotozoom(sub, 15, 1).get_size() == tf.rotozoom(
        make(4, 4, 24), 15, 1).get_size()


def test_exported_rotozoom_symbols():
    import ctypes
    lib = ctypes.CDLL(tf.__file__)
    w, h = ctypes.c_int(), ctypes.c_int()
    lib.zoomSurfaceSize.argtypes = [ctypes.c_int, ctypes.c_int,
                                    ctypes.c_double, ctypes.c_double,
                                    ctypes.POINTER(ctypes.c_int),
                                    ctypes.POINTER(ctypes.c_int)]
    lib.zoomSurfaceSize(10, 20, 0.5, -3, ctypes.byref(w), ctypes.byref(h))
    assert (w.value, h.value) == (5, 1)
    lib.rotozoomSurfaceSize.argtypes = [ctypes.c_int, ctypes.c_int,
                                        ctypes.c_double, ctypes.c_double,
                                        ctypes.POINTER(ctypes.c_int),
                                        ctypes.POINTER(ctypes.c_int)]
    lib.rotozoomSurfaceSize(10, 10, 45.0, 1.0, ctypes.byref(w), ctypes.byref(h))
    assert (w.value, h.value) == (16, 16)
    for name in ("rotozoomSurface", "zoomSurfaceRGBA", "transformSurfaceRGBA",
                 "rotozoomSurfaceSizeTrig"):
        assert getattr(lib, name)
    # Unsmoothed, through the C entry point.
    lib.rotozoomSurface.restype = ctypes.c_void_p
    lib.rotozoomSurface.argtypes = [ctypes.c_void_p, ctypes.c_double,
                                    ctypes.c_double, ctypes.c_int]
    free = ctypes.CDLL("libSDL2-2.0.so.0").SDL_FreeSurface
    free.argtypes = [ctypes.c_void_p]
    src = make(9, 6, 32, alpha=True, seed=21)
    for angle, zoom in ((0.0, 1.7), (0.0, 0.5), (37.0, 1.2), (-100.0, 0.8)):
        p = lib.rotozoomSurface(ctypes.addressof(sdl(src)), angle, zoom, 0)
        out = SDL_Surface.from_address(p)
        got = np.frombuffer(ctypes.string_at(out.pixels, out.pitch * out.h),
                            np.uint8).reshape(out.h, out.pitch)[:, :out.w * 4]
        want = rotozoom_nearest_model(raw(src), angle, zoom)
        free(p)
        assert np.array_equal(got.reshape(want.shape), want)


def test_grayscale_whole_sums_exact():
    # Every (r, g, b) whose weighted sum is a whole number (where the
    # rounding of the double sum decides), plus random ones.
    r, g, b = np.meshgrid(*[np.arange(256)] * 3, indexing="ij")
    whole = (587 * g + 299 * r + 114 * b) % 1000 == 0
    rgb = np.stack([r[whole], g[whole], b[whole]], 1)
    rng = np.random.default_rng(20)
    rgb = np.concatenate([rgb, rng.integers(0, 256, (len(rgb), 3))])
    n = len(rgb) // 256
    rgb = rgb[:n * 256].reshape(n, 256, 3)
    src = Surface((256, n), SRCALPHA, 32)
    order = [m.bit_length() // 8 - 1 for m in src.get_masks()]
    a = np.zeros((n, 256, 4), np.uint8)
    a[:, :, order[:3]] = rgb
    a[:, :, order[3]] = 77
    put_raw(src, a)
    rr, gg, bb = (rgb[:, :, i].astype(np.float64) for i in range(3))
    gray = np.floor(gg * 0.587 + rr * 0.299 + bb * 0.114).astype(np.uint8)
    out = raw(tf.grayscale(src))
    assert np.array_equal(out[:, :, order[:3]], np.stack([gray] * 3, 2))
    assert (out[:, :, order[3]] == 77).all()


# --- sizes past 16.16 and 32-bit setups, allocation failures -----------------
# (in a child process: a regression here overruns the heap)

def _child(code, timeout=120):
    from _sdlwin import run_script
    res = run_script("import conftest\n" + textwrap.dedent(code),
                     timeout=timeout)
    assert res.returncode == 0, res.stdout + res.stderr
    return res.stdout


def test_large_sizes_in_child():
    _child("""
        import numpy as np
        from _xfref import make, raw, values, rotate_model, rotozoom_model
        import lumora.transform as tf
        # 32-bit setups overflow from 32768 pixels on.
        src = make(33000, 2, 32, seed=1)
        out = tf.rotate(src, 0.001)
        v = values(src)
        want = rotate_model(v, float(np.float32(0.001)), int(v[0, 0]))
        assert np.array_equal(values(out), want)
        src = make(33000, 1, 32, seed=2)
        out = tf.rotozoom(src, 0.01, 1)
        assert np.array_equal(raw(out),
                              rotozoom_model(raw(src), float(np.float32(0.01)), 1.0))
        for n in (65536, 70000):
            white = make(n, 1, 32, values=np.full((1, n, 4), 255, np.uint8))
            assert raw(tf.smoothscale(white, (1, 1))).tolist() == [[[255] * 4]]
        # x + w wrapping in 32 bits must not widen the copy.
        src = make(10, 10, 32, seed=3)
        assert np.array_equal(raw(tf.chop(src, (2 ** 31 - 1, 0, 10, 0))),
                              raw(src))
    """, timeout=300)


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="address-space limits and the sanitizer clash")
def test_working_buffer_failures_raise_memory_error():
    import conftest
    if not conftest.address_limit_enforced():
        pytest.skip("the address-space limit is not enforced here")
    _child("""
        import resource
        from lumora import Surface
        import lumora.transform as tf
        src = Surface((3000, 3000), 0, 32)
        dest = Surface((2999, 2999), 0, 32)
        other = Surface((3000, 3000), 0, 32)
        import lumora.transform
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 24 * 2 ** 20,) * 2)
        for call in (lambda: tf.smoothscale(src, (2999, 2999), dest),
                     lambda: tf.average_surfaces([src, other], src)):
            try:
                call()
            except MemoryError:
                pass
            else:
                raise AssertionError("no MemoryError")
    """)


@pytest.mark.parametrize("size", [(0, 5), (5, 0), (0, 0)])
def test_empty_surfaces(size):
    # In a child: reading a source without pixels crashes.
    _child("""
        from lumora import Surface
        from _xfref import make
        import lumora.transform as tf
        size = %r
        s = Surface(size, 0, 32)
        assert tf.flip(s, 1, 1).get_size() == size
        assert tf.chop(s, (0, 0, 2, 2)).get_size() == tuple(max(v - 2, 0)
                                                             for v in size)
        assert tf.scale2x(s).get_size() == (2 * size[0], 2 * size[1])
        assert tf.smoothscale(s, (3, 3)).get_size() == (3, 3)
        assert tf.scale(s, (3, 3)).get_size() == (3, 3)
        assert tf.grayscale(s).get_size() == size
        assert tf.laplacian(s).get_size() == size
        assert tf.average_color(s) == (0, 0, 0, 0)
        assert tf.threshold(None, s, (0, 0, 0), set_behavior=0) == 0
        assert tf.rotozoom(s, 10, 1).get_size() == (0, 0)
        assert tf.chop(make(4, 4), (0, 0, 4, 1)).get_size() == (0, 3)
    """ % (size,))


@pytest.mark.parametrize("fn,args", [(tf.scale, ((4, 3),)),
                                     (tf.smoothscale, ((4, 3),)),
                                     (tf.scale2x, ())])
def test_subsurface_destination(fn, args):
    src = make(2, 3, 32, seed=22) if fn is not tf.scale2x else make(2, 1, 32)
    parent = make(10, 8, 32, seed=23)
    before = raw(parent)
    sub = parent.subsurface((3, 2, 4, 3) if fn is not tf.scale2x
                            else (3, 2, 4, 2))
    assert fn(src, *args, sub) is sub
    after = raw(parent)
    h, w = sub.get_height(), sub.get_width()
    want = raw(fn(src, *args))
    assert np.array_equal(after[2:2 + h, 3:3 + w], want)
    after[2:2 + h, 3:3 + w] = before[2:2 + h, 3:3 + w]
    assert np.array_equal(after, before)  # nothing outside it changes
