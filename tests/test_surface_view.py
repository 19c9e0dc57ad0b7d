"""Surface.get_view / get_buffer: zero-copy numpy views through ViewShim."""
import gc

import numpy as np
import pytest

import lumora.surface  # noqa: F401
from lumora.viewshim import ViewShim

from _pixref import LAYOUTS, mapped, memory, surface


@pytest.mark.parametrize("layout", ["8", "16", "32", "32x"])
def test_view2_shares_memory(layout):
    s = surface(layout, 7, 5, seed=1)
    v = s.get_view("2")
    assert isinstance(v, ViewShim)
    a = np.asarray(v)
    bpp = s.get_bytesize()
    assert a.shape == (7, 5) and a.strides == (bpp, s.get_pitch())
    assert a.dtype.itemsize == bpp
    np.testing.assert_array_equal(a, mapped(s))
    a[3, 4] = 1
    assert mapped(s)[3, 4] == 1
    assert v.parent is s


@pytest.mark.parametrize("layout", ["24rgb", "24bgr", "32", "32x"])
def test_view3_and_channels(layout):
    s = surface(layout, 6, 4, seed=2)
    s.set_at((2, 1), (10, 20, 30))
    a = np.asarray(s.get_view("3"))
    assert a.shape == (6, 4, 3)
    rgb = np.array([[tuple(s.get_at((x, y)))[:3] for y in range(4)] for x in range(6)])
    np.testing.assert_array_equal(a, rgb)
    for i, k in enumerate("rgb"):
        np.testing.assert_array_equal(np.asarray(s.get_view(k)), rgb[:, :, i])
    a[2, 1] = (1, 2, 3)
    assert tuple(s.get_at((2, 1)))[:3] == (1, 2, 3)
    if layout == "32":
        al = np.asarray(s.get_view("A"))
        np.testing.assert_array_equal(al, memory(s)[:, :, 3])


def test_raw_kinds_and_buffer():
    s = surface("24rgb", 5, 3, seed=3)
    pitch = s.get_pitch()
    n = 2 * pitch + 15
    for v in (s.get_buffer(), s.get_view("1"), s.get_view("0")):
        b = np.asarray(v)
        assert b.shape == (n,) and b.dtype == np.uint8
        rows = np.zeros((3, pitch), np.uint8)
        rows.reshape(-1)[:n] = b
        np.testing.assert_array_equal(
            rows[:, :15].reshape(3, 5, 3).transpose(1, 0, 2), memory(s))
    v = s.get_buffer()
    v.write(b"\x01\x02\x03")
    assert tuple(memory(s)[0, 0]) == (1, 2, 3)
    assert v.length == n


def test_subsurface_view():
    s = surface("32", 8, 6, seed=4)
    sub = s.subsurface((2, 1, 4, 3))
    a = np.asarray(sub.get_view("2"))
    assert a.shape == (4, 3) and a.strides == (4, s.get_pitch())
    np.testing.assert_array_equal(a, mapped(s)[2:6, 1:4])
    want = mapped(s)
    want[2:6, 1:4] = 7
    a[:] = 7
    np.testing.assert_array_equal(mapped(s), want)


@pytest.mark.parametrize("layout, kind, msg", [
    ("24rgb", "2", "unsupported bit depth for 2D reference array"),
    ("16", "3", "unsupported bit depth for 3D reference array"),
    ("8", "r", "unsupported bit depth for red reference array"),
    ("32x", "a", "unsupported colormasks for alpha reference array"),
])
def test_kind_refused(layout, kind, msg):
    with pytest.raises(ValueError, match=msg):
        surface(layout, 2, 2).get_view(kind)


def test_kind_argument_errors():
    s = surface("32", 2, 2)
    with pytest.raises(ValueError, match="unrecognized view kind 'x'"):
        s.get_view("x")
    with pytest.raises(TypeError, match="length 1"):
        s.get_view("22")
    with pytest.raises(TypeError):
        s.get_view(2)


def test_lock_held_while_exported():
    s = surface("32", 4, 4)
    v = s.get_view("2")
    assert not s.get_locked()      # lazy: nothing exported yet
    a = np.asarray(v)
    assert s.get_locked()
    del a
    gc.collect()
    assert not s.get_locked()
    v.length                        # the cached view holds the lock ...
    assert s.get_locked()
    del v
    gc.collect()
    assert not s.get_locked()       # ... until the shim dies


def test_memoryview_flags():
    s = surface("32", 4, 3)
    m = memoryview(s.get_view("2"))
    assert m.shape == (4, 3) and m.format == "=I" and not m.readonly
    assert m.f_contiguous and not m.c_contiguous
