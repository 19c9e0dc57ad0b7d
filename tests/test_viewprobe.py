"""lumora.viewprobe: the Py_buffer wrapper and the BufferMixin exporter."""
import ctypes
import gc
import os
import subprocess
import sys

import pytest

from lumora import viewprobe as vp
from lumora.viewprobe import BufferMixin, Py_buffer


def test_constants():
    # The record size of this very interpreter (a hard-coded 32-bit size
    # would let exporters write past the allocation on 64-bit hosts).
    ptr, ssz, i = (ctypes.sizeof(t) for t in (ctypes.c_void_p, ctypes.c_ssize_t, ctypes.c_int))
    assert vp.PyBUFFER_SIZEOF == 7 * ptr + 2 * ssz + 2 * i
    assert (vp.PyBUF_SIMPLE, vp.PyBUF_WRITABLE, vp.PyBUF_FORMAT, vp.PyBUF_ND) == (0, 1, 4, 8)
    assert (vp.PyBUF_STRIDES, vp.PyBUF_C_CONTIGUOUS, vp.PyBUF_F_CONTIGUOUS) == (24, 56, 88)
    assert (vp.PyBUF_ANY_CONTIGUOUS, vp.PyBUF_INDIRECT, vp.PyBUF_STRIDED) == (152, 280, 25)
    assert (vp.PyBUF_STRIDED_RO, vp.PyBUF_RECORDS, vp.PyBUF_RECORDS_RO) == (24, 29, 28)
    assert (vp.PyBUF_FULL, vp.PyBUF_FULL_RO, vp.PyBUF_CONTIG, vp.PyBUF_CONTIG_RO) == (285, 284, 9, 8)


def test_empty_wrapper():
    v = Py_buffer()
    assert not v
    with pytest.raises(AttributeError, match="property len is undefined for an unallocated view"):
        v.len
    with pytest.raises(AttributeError, match="property obj is undefined"):
        v.obj = 1
    with pytest.raises(AttributeError, match="Cannot delete attribute len"):
        del v.len


def test_get_and_release():
    data = b"abc"
    v = Py_buffer()
    v.get_buffer(data)
    assert v and v.len == 3 and v.obj is data and v.readonly is True
    assert v.ndim == 1 and v.itemsize == 1 and v.format is None and v.shape is None
    assert ctypes.string_at(v.buf, 3) == b"abc"
    with pytest.raises(ValueError, match="The Py_buffer struct is already filled in"):
        v.get_buffer(data)
    with pytest.raises(AttributeError, match="property len is read-only"):
        v.len = 1
    v.release_buffer()
    assert not v
    v.get_buffer(bytearray(4), vp.PyBUF_RECORDS)
    assert v.format and v.readonly is False
    with pytest.raises(BufferError):
        Py_buffer().get_buffer(b"x", vp.PyBUF_WRITABLE)


def test_constructor_checks():
    with pytest.raises(ValueError, match="argument filled cannot be True for a NULL buffer_address"):
        Py_buffer(filled=1)
    with pytest.raises(ValueError, match="argument preserve cannot be True"):
        Py_buffer(preserve=1)
    with pytest.raises(TypeError, match="argument buffer_address must be an integer, not 'str'"):
        Py_buffer("x")


def test_wrapping_an_existing_record_and_setters():
    rec = ctypes.create_string_buffer(vp.PyBUFFER_SIZEOF)
    v = Py_buffer(ctypes.addressof(rec))
    assert v.readonly is True and v.obj is None and v.len == 0
    o = object()
    v.obj = o
    v.len = 5
    v.ndim = 2
    v.buf = 1234
    v.readonly = 0
    assert (v.obj, v.len, v.ndim, v.buf, v.readonly) == (o, 5, 2, 1234, False)
    v.buf = None
    assert v.buf is None
    with pytest.raises(TypeError, match="property buf must be a Python integer, not 'str'"):
        v.buf = "x"
    with pytest.raises(TypeError, match="property len must be a Python integer, not 'float'"):
        v.len = 1.0
    v.obj = None
    del v


class Exporter(BufferMixin):
    def __init__(self, data, result=None, fail=False):
        self.data = data
        self.result = result
        self.fail = fail
        self.released = 0

    def _get_buffer(self, view, flags):
        view.obj = self
        view.buf = ctypes.addressof(self.data)
        view.len = len(self.data)
        view.itemsize = 1
        view.ndim = 1
        view.readonly = 0
        if self.fail:
            raise RuntimeError("after obj was set")
        return self.result

    def _release_buffer(self, view):
        self.released += 1
        raise KeyError("ignored")


def test_mixin_memoryview():
    e = Exporter(ctypes.create_string_buffer(b"hey", 3))
    m = memoryview(e)
    assert bytes(m) == b"hey" and m.obj is e
    m[0] = ord("H")
    m.release()
    assert e.released == 1 and e.data.raw == b"Hey"


def test_mixin_bad_result_and_failure_do_not_leak():
    e = Exporter(ctypes.create_string_buffer(3), result=1)
    with pytest.raises(ValueError, match="_get_buffer method return value was not None"):
        memoryview(e)
    f = Exporter(ctypes.create_string_buffer(3), fail=True)
    before = sys.getrefcount(f)
    for _ in range(5):
        with pytest.raises(RuntimeError):
            memoryview(f)
    assert sys.getrefcount(f) == before
    with pytest.raises(NotImplementedError, match="abstract method"):
        memoryview(BufferMixin())


def test_get_buffer_large_exporter_in_child():
    # numpy writes every field of the record: it must be the full size.
    code = ("import numpy as np\nfrom lumora.viewprobe import Py_buffer\n"
            "for _ in range(200):\n v = Py_buffer(); v.get_buffer(np.zeros((3, 4)), 285)\n"
            " assert v.ndim == 2; v.release_buffer()\nprint('ok')")
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                       env=dict(os.environ, PYTHONMALLOC="malloc_debug",
                                PYTHONPATH=os.pathsep.join(p for p in sys.path if p)))
    assert r.stdout.strip() == "ok", r.stderr
    gc.collect()
