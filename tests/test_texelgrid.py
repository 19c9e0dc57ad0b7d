"""lumora.texelgrid: TexelGrid indexing, assignment and operations, with
numpy over the raw surface memory as the reference."""
import gc
import math

import numpy as np
import pytest

from lumora import Color, Surface
from lumora.texelgrid import TexelGrid

from _pixref import channels, mapped, memory, store, surface

LAYOUTS = ["8", "16", "24rgb", "24bgr", "32"]


def signed(v, bpp):
    return v - (1 << 32) if bpp == 4 and v >= 1 << 31 else v


@pytest.mark.parametrize("layout", LAYOUTS)
def test_indexing_matches_memory(layout):
    s = surface(layout, 10, 20, seed=5)
    a = TexelGrid(s)
    ref = mapped(s)
    bpp = s.get_bytesize()
    assert a.shape == (10, 20) and a.ndim == 2 and a.itemsize == bpp
    assert a.strides == (bpp, s.get_pitch()) and len(a) == 10
    col = a[3]
    assert col.shape == (20,) and col[5] == a[3, 5] == signed(int(ref[3, 5]), bpp)
    assert a[-1].shape == (20,) and a[-1][0] == signed(int(ref[9, 0]), bpp)
    assert [a[7, y] for y in range(20)] == [signed(int(v), bpp) for v in ref[7]]
    assert [c[0] for c in a] == [signed(int(v), bpp) for v in ref[:, 0]]
    assert a[...] is a and a[()] is a


@pytest.mark.parametrize("key", [
    np.s_[::2], np.s_[::-1], np.s_[8:1:-3], np.s_[2:9, 3:17:4], np.s_[::-2, ::-5],
    np.s_[4, 2:7], np.s_[1:6, 11], np.s_[None, 3], np.s_[..., ::7], (np.s_[-3:],),
])
def test_slices_follow_numpy(key):
    s = surface("32", 10, 20, seed=6)
    a = TexelGrid(s)
    want = mapped(s).astype(np.int64)
    want = np.where(want >= 1 << 31, want - (1 << 32), want)
    k = tuple(slice(None) if i is None else i for i in (key if isinstance(key, tuple) else (key,)))
    v = a[key]
    exp = want[k]
    assert v.shape == exp.shape
    np.testing.assert_array_equal(np.asarray(v).astype(np.int32), exp.astype(np.int32))


def test_slice_geometry_and_empty():
    s = surface("16", 10, 20)
    a = TexelGrid(s)
    assert a[::2].strides == (4, s.get_pitch())
    r = a[::-1]
    assert r.strides[0] == -2 and r._pixels_address == a._pixels_address + 18
    assert a[5:5] is None and a[2:2, 3] is None and a[3, 4:4] is None


@pytest.mark.parametrize("key, exc, msg", [
    (10, IndexError, "array index out of range"),
    (-11, IndexError, "array index out of range"),
    ((3, 25), IndexError, "invalid index"),
    ((1, 2, 3), IndexError, "too many indices for the array"),
    ("x", TypeError, "index must be an integer, sequence or slice"),
    ((1, "x"), TypeError, "index must be an integer, sequence or slice"),
])
def test_bad_keys(key, exc, msg):
    a = TexelGrid(surface("32", 10, 20))
    with pytest.raises(exc, match=msg):
        a[key]
    with pytest.raises(exc, match=msg):
        a[key] = 0


def test_one_dimensional_keys():
    a = TexelGrid(surface("32", 10, 20, seed=1))[2]
    assert a[(1, 2)] if False else True
    with pytest.raises(IndexError, match="too many indices"):
        a[1, 2]
    with pytest.raises(IndexError, match="array index out of range"):
        a[20]
    assert a[(4,)] == a[4]


def test_negative_32bit_values():
    s = surface("32", 2, 2)
    store(s, np.full((2, 2), 0xFF000000))
    a = TexelGrid(s)
    assert a[0, 0] == -16777216
    a[1, 1] = -16777216
    a[0, 1] = 0xFF000000
    assert (mapped(s) == 0xFF000000).all()
    for bad in (1 << 32, -(1 << 31) - 1):
        with pytest.raises(ValueError, match="invalid color argument"):
            a[0] = bad


@pytest.mark.parametrize("layout", LAYOUTS)
def test_colour_assignments(layout):
    s = surface(layout, 10, 20, seed=7)
    a = TexelGrid(s)
    want = mapped(s)
    red = s.map_rgb((255, 0, 0))
    a[1:3, 2:4] = (255, 0, 0)
    want[1:3, 2:4] = red
    np.testing.assert_array_equal(mapped(s), want)
    a[7] = Color(255, 0, 0)
    want[7] = red
    a[::3, 19] = 5
    want[::3, 19] = 5
    np.testing.assert_array_equal(mapped(s), want)
    a[:] = 1.5                      # not a colour: silently ignored
    np.testing.assert_array_equal(mapped(s), want)
    with pytest.raises(ValueError, match="invalid color argument"):
        a[0] = 1.5
    with pytest.raises(ValueError, match="invalid color argument"):
        a[0] = (1, 2)
    with pytest.raises(TypeError):
        del a[0]
    a[...] = 3
    assert (mapped(s) == 3).all()


def test_sequence_assignments():
    s = surface("32", 10, 20)
    a = TexelGrid(s)
    a[0] = [(i, 0, 0) for i in range(20)]
    assert [a[0, y] & 0xFFFFFF for y in range(20)] == [i << 16 for i in range(20)]
    with pytest.raises(ValueError, match="sequence size mismatch"):
        a[0] = [(0, 0, 0)] * 19
    before = mapped(s)
    with pytest.raises(ValueError, match="invalid color argument"):
        a[2:5] = [1, 2, "no"]
    np.testing.assert_array_equal(mapped(s), before)
    a[2:5] = [1, 2, 3]
    want = before.copy()
    want[2:5] = np.array([1, 2, 3], np.uint32)[:, None]
    np.testing.assert_array_equal(mapped(s), want)
    with pytest.raises(ValueError, match="invalid color argument"):
        a[0][3] = [1, 2]


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dst, src", [
    (np.s_[0:5], np.s_[5:10]), (np.s_[1:10], np.s_[0:9]), (np.s_[0:9], np.s_[1:10]),
    (np.s_[::-1], np.s_[:]), (np.s_[2:6, 3:9], np.s_[4:8, 1:7]),
])
def test_overlapping_array_assignment(layout, dst, src):
    s = surface(layout, 10, 20, seed=8)
    a = TexelGrid(s)
    want = mapped(s)
    want[dst] = want[src].copy()
    a[dst] = a[src]
    np.testing.assert_array_equal(mapped(s), want)


def test_array_assignment_broadcasting_and_errors():
    s = surface("32", 6, 4, seed=9)
    o = surface("32", 6, 4, seed=10)
    a, b = TexelGrid(s), TexelGrid(o)
    ref_o = mapped(o)
    a[:, 0:3] = b[:, 1:2]                 # one row repeated
    exp = mapped(s)
    assert (exp[:, 0:3] == ref_o[:, 1:2]).all()
    a[2] = b[4]                           # a whole column
    assert (mapped(s)[2] == ref_o[4]).all()
    a[0:1, :] = b[3:4, :]
    assert (mapped(s)[0] == ref_o[3]).all()
    a[:] = b[1:2, 2:3]                    # one pixel fills everything
    assert (mapped(s) == ref_o[1, 2]).all()
    with pytest.raises(ValueError, match="array sizes do not match"):
        a[0:3] = b[0:2]
    with pytest.raises(ValueError, match="bit depths do not match"):
        a[:] = TexelGrid(surface("16", 6, 4))
    c = TexelGrid(o)
    c.close()
    with pytest.raises(ValueError, match="Operation on closed TexelGrid."):
        a[:] = c


def test_24bit_orders_round_trip_and_copy():
    rgb, bgr = surface("24rgb", 4, 3), surface("24bgr", 4, 3)
    a, b = TexelGrid(rgb), TexelGrid(bgr)
    a[1, 1] = (10, 20, 30)
    b[1, 1] = (10, 20, 30)
    assert tuple(channels(rgb)[1, 1, :3]) == (10, 20, 30)
    assert tuple(channels(bgr)[1, 1, :3]) == (10, 20, 30)
    assert a[1, 1] == rgb.map_rgb((10, 20, 30)) and b[1, 1] == bgr.map_rgb((10, 20, 30))
    b[:] = a                              # channels move to the other order
    assert tuple(channels(bgr)[1, 1, :3]) == (10, 20, 30)


def test_subsurface_overlap_with_parent():
    s = surface("24rgb", 12, 8, seed=11)
    sub = s.subsurface((2, 2, 6, 5))
    p, q = TexelGrid(s), TexelGrid(sub)
    want = mapped(s)
    want[3:9, 1:6] = want[2:8, 2:7].copy()
    p[3:9, 1:6] = q
    np.testing.assert_array_equal(mapped(s), want)
    # the last subsurface row ends inside the parent: no over-read
    bottom = s.subsurface((6, 3, 6, 5))
    TexelGrid(bottom)[:] = TexelGrid(bottom)[::-1]


def test_contains():
    s = surface("32", 4, 4)
    a = TexelGrid(s)
    a[2, 3] = (1, 2, 3)
    assert (1, 2, 3) in a and (1, 2, 4) not in a and (1, 2, 3) in a[2]
    with pytest.raises(ValueError, match="invalid color argument"):
        "red" in a


def test_buffer_export():
    s = surface("32", 8, 5)
    a = TexelGrid(s)
    m = memoryview(a)
    assert m.shape == (8, 5) and m.format == "=I" and not m.readonly
    n = np.asarray(a)
    assert np.shares_memory(n, np.asarray(s.get_view("2"))) and n.strides == (4, 32)
    n[3, 2] = 9
    assert a[3, 2] == 9
    ai = a.__array_interface__
    assert ai["shape"] == (8, 5) and ai["strides"] == (4, 32)
    assert ai["data"][0] == a._pixels_address
    assert np.asarray(a[::2]).strides == (8, 32)
    assert np.asarray(TexelGrid(surface("24rgb", 3, 2))).dtype.itemsize == 3


def test_buffer_contiguity_errors():
    import ctypes
    vp = pytest.importorskip("lumora.viewprobe")
    Py_buffer, PyBUF_ND = vp.Py_buffer, vp.PyBUF_ND
    PyBUF_C_CONTIGUOUS, PyBUF_F_CONTIGUOUS = vp.PyBUF_C_CONTIGUOUS, vp.PyBUF_F_CONTIGUOUS
    a = TexelGrid(surface("32", 8, 5))
    with pytest.raises(BufferError, match="this pixel array is not C contiguous"):
        Py_buffer().get_buffer(a, PyBUF_C_CONTIGUOUS)
    with pytest.raises(BufferError, match="not contiguous: need strides"):
        Py_buffer().get_buffer(a, PyBUF_ND)
    v = Py_buffer()
    v.get_buffer(a[::2], 0x1C)
    assert v.strides and ctypes.c_ssize_t.from_address(v.strides).value == 8
    with pytest.raises(BufferError, match="not F contiguous"):
        Py_buffer().get_buffer(a[::2], PyBUF_F_CONTIGUOUS)
    assert memoryview(a[1]).shape == (5,)


def test_close_and_context_manager():
    s = surface("32", 4, 4)
    a = TexelGrid(s)
    assert s.get_locked()
    a.close()
    assert not s.get_locked()
    for op in (lambda: a.surface, lambda: a[0], lambda: a.shape, a.close, lambda: repr(a),
               lambda: len(a), lambda: 0 in a, lambda: a.transpose(), a.make_surface):
        with pytest.raises(ValueError, match="Operation on closed TexelGrid."):
            op()
    with TexelGrid(s) as b:
        assert b.surface is s and s.get_locked()
    assert not s.get_locked()


def test_views_keep_lock_after_close():
    s = surface("32", 4, 4)
    a = TexelGrid(s)
    v = a[1:3]
    a.close()
    assert s.get_locked()          # the view's pixels must stay valid
    v[0] = 7
    assert mapped(s)[1, 0] == 7
    w = v.transpose()
    del v
    gc.collect()
    assert s.get_locked()
    w.close()
    assert not s.get_locked()


def test_repr():
    s = surface("32", 3, 2)
    store(s, np.array([[1, 2], [3, 0xFFFFFFFF], [5, 6]]))
    a = TexelGrid(s)
    assert repr(a) == "TexelGrid([\n  [1, 3, 5]\n  [2, -1, 6]]\n)"
    assert repr(a[1]) == "TexelGrid(\n  [3, -1]\n)"


@pytest.mark.parametrize("layout", LAYOUTS)
def test_make_surface_and_transpose(layout):
    s = surface(layout, 10, 20, seed=12)
    a = TexelGrid(s)
    m = a[::-1, 3:9].make_surface()
    assert m.get_size() == (10, 6) and m.get_bitsize() == s.get_bitsize()
    np.testing.assert_array_equal(mapped(m), mapped(s)[::-1, 3:9])
    if layout == "8":
        assert m.get_palette() == s.get_palette()
    assert a[4].make_surface().get_size() == (20, 1)
    t = a.transpose()
    assert t.shape == (20, 10) and t[5, 3] == a[3, 5]
    t[5, 3] = 1
    assert mapped(s)[3, 5] == 1
    assert a[2].transpose().shape == (1, 20)


def test_extract_and_distance():
    s = surface("32", 5, 4)
    a = TexelGrid(s)
    a[:] = (0, 0, 0)
    a[1, 1] = (255, 0, 0)
    a[2, 2] = (254, 0, 0)
    before = mapped(s)
    e = a.extract((255, 0, 0))
    assert e.surface is not s
    np.testing.assert_array_equal(mapped(s), before)
    white, black = s.map_rgb((255, 255, 255)), s.map_rgb((0, 0, 0))
    got = mapped(e.surface)
    assert got[1, 1] == white and (got == white).sum() == 1 and got[0, 0] == black
    # (255, 0, 0) vs black: sqrt(0.299) = 0.547
    assert math.isclose(math.sqrt(0.299), 0.5468, abs_tol=1e-3)
    assert (mapped(a.extract((0, 0, 0), 0.55).surface) == white).all()
    assert (mapped(a.extract((0, 0, 0), 0.5).surface) == white).sum() == 18
    # equal weights: 255/sqrt(3)/255 = 0.577 for a pure red
    assert (mapped(a.extract((0, 0, 0), 0.57, (1, 1, 1)).surface) == white).sum() == 18
    assert (mapped(a.extract((0, 0, 0), 0.58, [2, 2, 2, 9]).surface) == white).all()


@pytest.mark.parametrize("weights, exc, msg", [
    ((0, 0, 0), ValueError, "weights must be positive and greater than 0"),
    ((1, -1, 1), ValueError, "weights must be positive and greater than 0"),
    ((1, 2), TypeError, "weights must contain at least 3 values"),
    ((1, "2", 3), TypeError, "invalid weights"),
    (5, TypeError, "weights must be a sequence"),
])
def test_weight_errors(weights, exc, msg):
    a = TexelGrid(surface("32", 2, 2))
    with pytest.raises(exc, match=msg):
        a.extract(0, 0.5, weights)


@pytest.mark.parametrize("d", [-0.1, 1.5, float("nan")])
def test_distance_range(d):
    with pytest.raises(ValueError, match="distance must be in the range from 0.0 to 1.0"):
        TexelGrid(surface("32", 2, 2)).replace(0, 1, d)


def test_compare_and_replace():
    s = surface("32", 4, 3, seed=13)
    a = TexelGrid(s)
    white = s.map_rgb((255, 255, 255))
    assert (mapped(a.compare(a).surface) == white).all()
    o = surface("32", 4, 3, seed=13)
    TexelGrid(o)[1, 2] = 0
    c = mapped(TexelGrid(s).compare(TexelGrid(o)).surface)
    assert (c == white).sum() == 11 and c[1, 2] != white
    with pytest.raises(ValueError, match="array sizes do not match"):
        a.compare(a[1:])
    with pytest.raises(ValueError, match="bit depths do not match"):
        a.compare(TexelGrid(surface("8", 4, 3)))
    closed = TexelGrid(o)
    closed.close()
    with pytest.raises(ValueError, match="Operation on closed TexelGrid."):
        a.compare(closed)
    a.replace(a[0, 0], (9, 9, 9))
    assert a[0, 0] & 0xFFFFFFFF == s.map_rgb((9, 9, 9))
    a.replace((0, 0, 0), (1, 2, 3), 1.0)
    assert (mapped(s) == s.map_rgb((1, 2, 3))).all()


def test_8bit_without_palette_matching():
    s = Surface((4, 1), 0, 8, (0xE0, 0x1C, 0x03, 0))
    a = TexelGrid(s)
    a[:] = [0xE0, 0x1C, 0x03, 0xFF]
    e = a.extract(0xE0, 0.1)
    got = mapped(e.surface)
    assert got[0] != got[1] and got[1] == got[2]


def test_capsule_and_errors():
    import ctypes
    from _surfmem import _slots
    import lumora.texelgrid as tg
    slots = _slots(tg, "texelgrid", 2)
    new = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object)(slots[1])
    assert isinstance(new(surface("32", 2, 2)), TexelGrid)
    with pytest.raises(TypeError, match="argument is not a Surface"):
        new(5)
    assert tg.TexelGridType is TexelGrid
    assert memory(surface("8", 1, 1)).shape == (1, 1, 1)


def test_quit_surface():
    import ctypes
    import lumora.surface
    from _surfmem import _slots
    set_surface = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.c_void_p,
                                    ctypes.c_int)(_slots(lumora.surface, "surface", 4)[3])
    s = surface("32", 4, 4)
    a = TexelGrid(s)
    col = a[1]
    set_surface(s, None, 0)
    for op in (lambda: a[0, 0], lambda: col[0], lambda: repr(a), a.make_surface,
               lambda: 0 in a, lambda: memoryview(a)):
        with pytest.raises(Exception, match="display Surface quit"):
            op()
    with pytest.raises(Exception, match="display Surface quit"):
        a[0] = 1
    with pytest.raises(Exception, match="display Surface quit"):
        TexelGrid(s)
    a.close()
