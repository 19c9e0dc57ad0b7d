"""lumora.viewshim: ViewShim over bytearrays, numpy arrays and dictionaries."""
import gc
import sys

import numpy as np
import pytest

from lumora import viewshim
from lumora.viewshim import ViewShim


def test_module_types_and_capsule():
    assert viewshim.ViewShimType is ViewShim
    assert type(viewshim._LUMORA_C_API).__name__ == "PyCapsule"


def test_bytearray_length_raw_write():
    ba = bytearray(b"abcd")
    v = ViewShim(ba)
    assert v.length == 4 and v.raw == b"abcd"
    assert repr(v) == "<ViewShim(4)>"
    assert v.parent is ba
    v.write(b"xy", 2)
    assert ba == bytearray(b"abxy")
    v.write("Z")
    assert ba == bytearray(b"Zbxy")


@pytest.mark.parametrize("data, offset, exc, msg", [
    (b"12345", 0, ValueError, "'buffer' object length is too large"),
    (b"1", -1, IndexError, "'offset' is out of range"),
    (b"12", 3, IndexError, "'offset' is out of range"),
    # offset + len would wrap around: must still be refused.
    (b"12", sys.maxsize, IndexError, "'offset' is out of range"),
    (b"12", sys.maxsize - 1, IndexError, "'offset' is out of range"),
])
def test_write_refusals(data, offset, exc, msg):
    ba = bytearray(b"abcd")
    with pytest.raises(exc, match=msg):
        ViewShim(ba).write(data, offset)
    assert ba == bytearray(b"abcd")


def test_write_read_only_parent():
    with pytest.raises(BufferError):
        ViewShim(b"abcd").write(b"x")


def test_numpy_shares_memory_shape_strides():
    a = np.arange(24, dtype=np.uint16).reshape(4, 6)[:, ::2]
    v = ViewShim(a)
    b = np.asarray(v)
    assert b.shape == (4, 3) and b.strides == a.strides and b.dtype == a.dtype
    assert np.shares_memory(a, b)
    b[1, 1] = 999
    assert a[1, 1] == 999
    ai = v.__array_interface__
    assert ai["shape"] == (4, 3) and ai["strides"] == a.strides
    assert ai["data"][0] == a.__array_interface__["data"][0]
    assert v.length == a.nbytes
    with pytest.raises(ValueError, match="the bytes are not contiguous"):
        v.raw
    with pytest.raises(ValueError, match="the ViewShim bytes are not contiguous"):
        v.write(b"\0")
    # The struct interface describes the same memory.
    c = np.asarray(type("S", (), {"__array_struct__": v.__array_struct__})())
    assert np.shares_memory(a, c) and c.shape == (4, 3)


def test_zero_length_export_raises():
    v = ViewShim(bytearray())
    with pytest.raises(ValueError):
        v.length
    with pytest.raises(ValueError):
        repr(v)
    assert bytes(memoryview(v)) == b""


def _iface(arr, **extra):
    d = dict(arr.__array_interface__)
    d.update(extra)
    return d


def test_dict_parent_hooks():
    arr = np.arange(4, dtype=np.uint8)
    calls = []
    owner = object()
    d = _iface(arr, parent=owner,
               before=lambda p: calls.append(("before", p)),
               after=lambda p: calls.append(("after", p)))
    v = ViewShim(d)
    m = memoryview(v)
    assert calls == [("before", owner)]
    assert bytes(m) == bytes([0, 1, 2, 3])
    m.release()
    assert calls == [("before", owner), ("after", owner)]
    assert v.parent is owner


def test_dict_parent_after_error_swallowed_before_error_raised():
    arr = np.arange(4, dtype=np.uint8)

    def boom(p):
        raise KeyError("x")
    v = ViewShim(_iface(arr, after=boom))
    assert v.parent is None
    memoryview(v).release()
    with pytest.raises(KeyError):
        memoryview(ViewShim(_iface(arr, before=boom)))


def test_instance_dict_persists():
    v = ViewShim(bytearray(3))
    d = v.__dict__
    assert v.__dict__ is d
    d["x"] = 5
    assert v.x == 5
    v.y = 6
    assert v.__dict__["y"] == 6


def test_parent_not_exporting():
    v = ViewShim(5)
    with pytest.raises(TypeError):
        v.length
    gc.collect()


def test_capsule_slots():
    import ctypes
    from _surfmem import _slots
    slots = _slots(viewshim, "viewshim", 4)
    assert slots[0] == id(ViewShim)
    get_parent = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object)(slots[2])
    export = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(slots[3])
    new = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.c_void_p, ctypes.c_void_p)(slots[1])
    ba = bytearray(b"xyz")
    v = ViewShim(ba)
    assert export(v) == 0 and get_parent(v) is ba
    with pytest.raises(TypeError, match="Expected a ViewShim object: got int instance instead"):
        get_parent(5)
    with pytest.raises(TypeError, match="Expected a ViewShim object: got str instance instead"):
        export("s")
    with pytest.raises(ValueError, match="One of arguments 'obj' or 'get_buffer' is required: "
                       "both NULL instead"):
        new(None, None)
