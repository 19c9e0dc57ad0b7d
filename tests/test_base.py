"""lumora.base: start/stop, errors, and the C services of its capsule.

The capsule's functions are called through ctypes.  PYFUNCTYPE keeps the
interpreter lock and raises any exception a call leaves set, so a converter
that forgets to clear an error fails these tests.
"""
import ctypes
import math
import sys
from ctypes import (POINTER, PYFUNCTYPE, Structure, c_char_p, c_double,
                    c_float, c_int, c_ssize_t, c_ubyte, c_uint32, c_void_p,
                    py_object)

import pytest

import _child

import lumora.base as base

np = pytest.importorskip("numpy")

_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = c_void_p
_get_pointer.argtypes = [py_object, c_char_p]

TABLE = ctypes.cast(_get_pointer(base._LUMORA_C_API,
                                 b"lumora.base._LUMORA_C_API"),
                    POINTER(c_void_p))


def slot(i, restype, *argtypes):
    return PYFUNCTYPE(restype, *argtypes)(TABLE[i])


class PyBuffer(Structure):
    _fields_ = [("buf", c_void_p), ("obj", c_void_p), ("len", c_ssize_t),
                ("itemsize", c_ssize_t), ("readonly", c_int), ("ndim", c_int),
                ("format", c_char_p), ("shape", POINTER(c_ssize_t)),
                ("strides", POINTER(c_ssize_t)),
                ("suboffsets", POINTER(c_ssize_t)), ("internal", c_void_p)]


class LmBuffer(Structure):
    _fields_ = [("view", PyBuffer), ("consumer", c_void_p),
                ("release_buffer", c_void_p)]


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class BadIndex:
    def __index__(self):
        raise RuntimeError("no")


class Real:
    def __float__(self):
        return 2.5


class FloatSub(float):
    pass


# ---------------------------------------------------------------------------
# number converters
# ---------------------------------------------------------------------------
INT_MAX, INT_MIN = 2**31 - 1, -2**31

INT_OK = [(5, 5), (True, 1), (-7.9, -7), (7.9, 7), (INT_MAX, INT_MAX),
          (INT_MIN, INT_MIN), (Index(42), 42), (FloatSub(3.7), 3),
          (2147483647.9, INT_MAX), (np.int64(-3), -3), (np.float64(9.5), 9)]
INT_BAD = [2**31, INT_MIN - 1, 2147483648.0, -2147483649.0, 2**70,
           float("nan"), float("inf"), float("-inf"), "5", b"5", None,
           [1], BadIndex(), Real()]


def conv(index, ctype, value):
    out = ctype(123)
    fn = slot(index, c_int, py_object, POINTER(ctype))
    ok = fn(value, ctypes.byref(out))
    return ok, out.value


@pytest.mark.parametrize("value,expected", INT_OK)
def test_int_from_obj_accepts(value, expected):
    assert conv(2, c_int, value) == (1, expected)


@pytest.mark.parametrize("value", INT_BAD)
def test_int_from_obj_refuses(value):
    assert conv(2, c_int, value)[0] == 0


@pytest.mark.parametrize("value,ok,expected", [
    (0, 1, 0), (2**32 - 1, 1, 2**32 - 1), (-0.5, 1, 0),
    (4294967295.5, 1, 2**32 - 1), (Index(7), 1, 7),
    (-1, 0, None), (2**32, 0, None), (4294967296.0, 0, None),
    (float("nan"), 0, None), ("1", 0, None)])
def test_uint_from_obj(value, ok, expected):
    got_ok, got = conv(8, c_uint32, value)
    assert got_ok == ok
    if ok:
        assert got == expected


@pytest.mark.parametrize("index,ctype", [(5, c_float), (24, c_double)])
@pytest.mark.parametrize("value,expected", [
    (1.5, 1.5), (3, 3.0), (True, 1.0), (Index(4), 4.0), (Real(), 2.5),
    (np.float32(0.25), 0.25), (float("inf"), float("inf"))])
def test_floating_from_obj_accepts(index, ctype, value, expected):
    assert conv(index, ctype, value) == (1, expected)


@pytest.mark.parametrize("index,ctype", [(5, c_float), (24, c_double)])
def test_floating_from_obj_nan_passes(index, ctype):
    ok, v = conv(index, ctype, float("nan"))
    assert ok == 1 and math.isnan(v)


@pytest.mark.parametrize("index,ctype", [(5, c_float), (24, c_double)])
@pytest.mark.parametrize("value", ["1.5", b"1", None, [1.0], BadIndex(),
                                   2**2000])
def test_floating_from_obj_refuses(index, ctype, value):
    assert conv(index, ctype, value)[0] == 0


@pytest.mark.parametrize("value,ok", [(3.4e38, 1), (-3.4e38, 1), (1e39, 0),
                                      (-1e39, 0), (1e300, 0)])
def test_float_slot_refuses_values_beyond_float_range(value, ok):
    assert conv(5, c_float, value)[0] == ok
    assert conv(24, c_double, value) == (1, value)


@pytest.mark.parametrize("index,ctype,seq,i,expected", [
    (3, c_int, [1, 2, 3], 1, 2), (3, c_int, (1.9, -2.9), 1, -2),
    (3, c_int, [1, 2], 2, None), (3, c_int, 5, 0, None),
    (3, c_int, ["1"], 0, None), (3, c_int, {0: 1}, 0, None),
    (6, c_float, (0.5, 1.5), 1, 1.5), (6, c_float, ("x",), 0, None),
    (9, c_uint32, [2**32 - 1], 0, 2**32 - 1), (9, c_uint32, [-1], 0, None),
    (25, c_double, range(10), 9, 9.0), (25, c_double, [], 0, None)])
def test_item_converters(index, ctype, seq, i, expected):
    out = ctype(0)
    fn = slot(index, c_int, py_object, c_int, POINTER(ctype))
    ok = fn(seq, i, ctypes.byref(out))
    assert ok == (expected is not None)
    if ok:
        assert out.value == expected


@pytest.mark.parametrize("index,ctype,value,expected", [
    (4, c_int, (1, 2), (1, 2)), (4, c_int, [1.5, -2.5], (1, -2)),
    (4, c_int, (1, 2, 3), None), (4, c_int, (1,), None),
    (4, c_int, (1, "a"), None), (4, c_int, "ab", None), (4, c_int, 5, None),
    (4, c_int, (2**40, 0), None),
    (7, c_float, (0.5, 2), (0.5, 2.0)), (7, c_float, (1e39, 0), None),
    (26, c_double, [1e300, -1], (1e300, -1.0)), (26, c_double, (None, 1), None)])
def test_pair_converters(index, ctype, value, expected):
    a, b = ctype(7), ctype(7)
    fn = slot(index, c_int, py_object, POINTER(ctype), POINTER(ctype))
    ok = fn(value, ctypes.byref(a), ctypes.byref(b))
    if expected is None:
        assert ok == 0
        # A half-converted pair is not written.
        assert (a.value, b.value) == (7, 7)
    else:
        assert ok == 1 and (a.value, b.value) == expected


@pytest.mark.parametrize("value,expected", [
    ((1, 2, 3), (1, 2, 3, 255)), ([0, 128, 255, 7], (0, 128, 255, 7)),
    ((255.0, 0, 1), (255, 0, 1, 255)), ((Index(9), 0, 0, 0), (9, 0, 0, 0)),
    ((256, 0, 0), None), ((-1, 0, 0), None), ((1, 2), None),
    ((1, 2, 3, 4, 5), None), ("abc", None), (("1", 2, 3), None),
    (None, None), (0xFF00FF, None), ((1, 2, 3, None), None)])
def test_rgba_from_obj(value, expected):
    out = (c_ubyte * 4)(42, 42, 42, 42)
    ok = slot(12, c_int, py_object, c_ubyte * 4)(value, out)
    if expected is None:
        assert ok == 0
        assert tuple(out) == (42, 42, 42, 42)
    else:
        assert ok == 1 and tuple(out) == expected


def test_exception_type_slots():
    assert TABLE[0] == id(base.error)
    assert TABLE[18] == id(base.BufferError)
    assert issubclass(base.error, RuntimeError)
    assert issubclass(base.BufferError, BufferError)
    assert base.error.__module__ == "lumora.base"


# ---------------------------------------------------------------------------
# init / quit / errors
# ---------------------------------------------------------------------------
@pytest.fixture
def unraisable(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(u))
    return seen


def test_init_quit_cycle():
    base.quit()
    assert base.get_init() is False
    assert slot(23, c_int)() == 0
    res = base.init()
    assert isinstance(res, tuple) and len(res) == 2
    assert all(isinstance(n, int) and n >= 0 for n in res)
    assert base.get_init() is True and slot(23, c_int)() == 1
    base.quit()
    base.quit()
    assert base.get_init() is False
    base.init()
    assert base.get_init() is True
    base.quit()


def test_quit_runs_python_and_c_functions_newest_first_once(unraisable):
    calls = []
    cfunc = ctypes.CFUNCTYPE(None)(lambda: calls.append("c"))
    base.register_quit(lambda: calls.append("py1"))
    slot(1, None, c_void_p)(ctypes.cast(cfunc, c_void_p))
    base.register_quit(lambda: calls.append("py2"))
    base.quit()
    assert calls == ["py2", "c", "py1"]
    base.quit()
    assert calls == ["py2", "c", "py1"]
    assert unraisable == []


def test_failing_quit_function_does_not_stop_the_others(unraisable):
    calls = []

    def bad():
        raise ValueError("quit failed")

    base.register_quit(lambda: calls.append(1))
    base.register_quit(bad)
    base.register_quit(lambda: calls.append(3))
    base.quit()
    assert calls == [3, 1]
    assert [type(u.exc_value) for u in unraisable] == [ValueError]


def test_quit_function_registering_during_quit(unraisable):
    calls = []

    def first():
        calls.append("first")
        base.register_quit(lambda: calls.append("late"))

    base.register_quit(first)
    base.quit()
    assert calls == ["first"]
    base.quit()
    assert calls == ["first", "late"]


def test_register_quit_refuses_non_callable():
    with pytest.raises(TypeError, match="callable"):
        base.register_quit(5)


def test_quit_runs_at_interpreter_exit():
    code = ("import lumora.base as b\n"
            "b.register_quit(lambda: print('bye', flush=True))\n")
    out = _child.run_py(code)
    assert out.returncode == 0, out.stderr
    assert out.stdout == "bye\n"


@pytest.mark.parametrize("msg", ["boom", "", "100%s %n %d", "héllo ☃"])
def test_set_error_get_error_round_trip(msg):
    base.set_error(msg)
    assert base.get_error() == msg


@pytest.mark.parametrize("arg,exc", [(5, TypeError), ("a\0b", ValueError)])
def test_set_error_bad_argument(arg, exc):
    with pytest.raises(exc):
        base.set_error(arg)


def test_sdl_version():
    class Ver(Structure):
        _fields_ = [("major", c_ubyte), ("minor", c_ubyte), ("patch", c_ubyte)]

    sdl = ctypes.CDLL("libSDL2-2.0.so.0")
    v = Ver()
    sdl.SDL_GetVersion(ctypes.byref(v))
    assert base.get_sdl_version() == (v.major, v.minor, v.patch)
    assert base.get_sdl_version(linked=True) == base.get_sdl_version()
    compiled = base.get_sdl_version(linked=False)
    assert len(compiled) == 3 and compiled[0] == 2
    assert compiled <= base.get_sdl_version()


# ---------------------------------------------------------------------------
# module bring-up / shut-down (slots 10 and 11)
# ---------------------------------------------------------------------------
@pytest.fixture
def fake_module(tmp_path, monkeypatch):
    name = "lumora_fake_%d" % id(tmp_path)
    (tmp_path / (name + ".py")).write_text(
        "calls = []\n"
        "fail = False\n"
        "def _internal_mod_init():\n"
        "    calls.append('init')\n"
        "    if fail: raise ValueError('init failed')\n"
        "def _internal_mod_quit():\n"
        "    calls.append('quit')\n"
        "    if fail: raise ValueError('quit failed')\n")
    monkeypatch.syspath_prepend(str(tmp_path))
    yield name
    sys.modules.pop(name, None)


def test_mod_autoinit_and_autoquit(fake_module, unraisable):
    autoinit = slot(10, c_int, c_char_p)
    autoquit = slot(11, None, c_char_p)
    autoquit(fake_module.encode())
    assert fake_module not in sys.modules  # nothing to shut down: not imported
    assert autoinit(fake_module.encode()) != 0
    mod = sys.modules[fake_module]
    autoquit(fake_module.encode())
    assert mod.calls == ["init", "quit"]
    mod.fail = True
    with pytest.raises(ValueError, match="init failed"):
        autoinit(fake_module.encode())
    autoquit(fake_module.encode())  # errors do not escape a shut-down
    assert [str(u.exc_value) for u in unraisable] == ["quit failed"]


def test_mod_autoinit_missing_module_sets_import_error():
    with pytest.raises(ImportError):
        slot(10, c_int, c_char_p)(b"lumora_no_such_module_xyz")


# ---------------------------------------------------------------------------
# default window and its surface (slots 19-22)
# ---------------------------------------------------------------------------
def test_default_surface_holds_a_reference():
    get = slot(21, c_void_p)
    set_ = slot(22, None, c_void_p)
    obj = object()
    before = sys.getrefcount(obj)
    set_(id(obj))
    assert get() == id(obj)
    assert sys.getrefcount(obj) == before + 1
    set_(None)
    assert get() is None
    assert sys.getrefcount(obj) == before
    set_(id(obj))
    base.quit()
    assert get() is None and sys.getrefcount(obj) == before


def test_default_window_replace_and_quit():
    sdl = ctypes.CDLL("libSDL2-2.0.so.0")
    sdl.SDL_CreateWindow.restype = c_void_p
    sdl.SDL_CreateWindow.argtypes = [c_char_p] + [c_int] * 5
    sdl.SDL_GetWindowID.argtypes = [c_void_p]
    sdl.SDL_GetWindowFromID.restype = c_void_p
    get = slot(19, c_void_p)
    set_ = slot(20, None, c_void_p)
    sdl2 = pytest.importorskip("lumora._sdl2.sdl2")
    base.init()
    sdl2.init_subsystem(sdl2.INIT_VIDEO)
    w1 = sdl.SDL_CreateWindow(b"a", 0, 0, 8, 8, 0)
    w2 = sdl.SDL_CreateWindow(b"b", 0, 0, 8, 8, 0)
    assert w1 and w2
    id1, id2 = sdl.SDL_GetWindowID(w1), sdl.SDL_GetWindowID(w2)
    set_(w1)
    assert get() == w1
    set_(w1)  # the same window again is kept
    assert sdl.SDL_GetWindowFromID(id1) == w1
    set_(w2)  # a replaced window is destroyed
    assert get() == w2
    assert sdl.SDL_GetWindowFromID(id1) is None
    assert sdl.SDL_GetWindowFromID(id2) == w2
    base.quit()
    assert get() is None


def test_quit_detaches_default_window_surface():
    surface = pytest.importorskip("lumora.surface")
    sdl = ctypes.CDLL("libSDL2-2.0.so.0")
    sdl.SDL_CreateRGBSurface.restype = c_void_p
    sdl.SDL_CreateRGBSurface.argtypes = [c_uint32] + [c_int] * 2 + \
        [c_uint32] * 5
    sdl.SDL_FreeSurface.argtypes = [c_void_p]
    raw = sdl.SDL_CreateRGBSurface(0, 4, 4, 32, 0, 0, 0, 0)
    stable = ctypes.cast(_get_pointer(surface._LUMORA_C_API,
                                      b"lumora.surface._LUMORA_C_API"),
                         POINTER(c_void_p))
    wrap = PYFUNCTYPE(py_object, c_void_p, c_int)(stable[1])
    surf = wrap(raw, 0)  # not the owner, like a window's surface
    try:
        slot(22, None, c_void_p)(id(surf))
        base.quit()
        with pytest.raises(base.error, match="display Surface quit"):
            surf.get_size()
    finally:
        sdl.SDL_FreeSurface(raw)


# ---------------------------------------------------------------------------
# buffer helpers (slots 13-17)
# ---------------------------------------------------------------------------
PyBUF_ND, PyBUF_STRIDES, PyBUF_FORMAT, PyBUF_WRITABLE = 8, 24, 4, 1
RECORDS_RO, RECORDS, EXTENDED = 28, 29, 0x4000

get_buffer = slot(15, c_int, py_object, POINTER(LmBuffer), c_int)
release = slot(16, None, POINTER(LmBuffer))
as_arrinter = slot(13, py_object, POINTER(PyBuffer))
as_arrstruct = slot(14, py_object, POINTER(PyBuffer))
dict_as_buffer = slot(17, c_int, POINTER(LmBuffer), py_object, c_int)


class Iface:
    """Exports only an array interface (the protocol given by `kind`)."""

    def __init__(self, kind, value, keep=None):
        setattr(self, kind, value)
        self.keep = keep


def view_info(b):
    v = b.view
    return dict(ndim=v.ndim, itemsize=v.itemsize, len=v.len,
                readonly=bool(v.readonly),
                format=v.format.decode() if v.format else None,
                shape=tuple(v.shape[i] for i in range(v.ndim))
                if v.shape else None,
                strides=tuple(v.strides[i] for i in range(v.ndim))
                if v.strides else None)


ARRAYS = [
    lambda: np.arange(12, dtype=np.uint8),
    lambda: np.arange(12, dtype="<u4").reshape(3, 4)[:, ::2],
    lambda: np.arange(24, dtype=np.int16).reshape(2, 3, 4).transpose(2, 0, 1),
    lambda: np.linspace(0, 1, 6, dtype=np.float32).reshape(2, 3),
    lambda: np.arange(6, dtype=">i4"),
    lambda: np.arange(4, dtype=np.float64) + 1j,
    lambda: np.array([True, False, True]),
    lambda: np.arange(5, dtype=np.int64)[::-1],
    lambda: np.zeros((0, 3), dtype=np.uint16),
]


def export_kinds(arr):
    return {
        "buffer": arr,
        "struct": Iface("__array_struct__", arr.__array_struct__, arr),
        "interface": Iface("__array_interface__", arr.__array_interface__, arr),
    }


@pytest.mark.parametrize("make", ARRAYS)
@pytest.mark.parametrize("kind", ["buffer", "struct", "interface"])
@pytest.mark.parametrize("out", ["__array_interface__", "__array_struct__"])
def test_view_round_trips_through_numpy(make, kind, out):
    arr = make()
    src = export_kinds(arr)[kind]
    b = LmBuffer()
    assert get_buffer(src, ctypes.byref(b), RECORDS_RO | EXTENDED) == 0
    try:
        info = view_info(b)
        assert info["shape"] == arr.shape
        if arr.size:  # strides of an empty array are arbitrary
            assert info["strides"] == arr.strides
        assert info["itemsize"] == arr.itemsize
        assert info["len"] == arr.nbytes
        conv = as_arrinter if out == "__array_interface__" else as_arrstruct
        exported = conv(ctypes.cast(ctypes.byref(b), POINTER(PyBuffer)))
        if out == "__array_interface__":
            assert exported["version"] == 3
            assert exported["data"][0] == arr.__array_interface__["data"][0]
        back = np.asarray(Iface(out, exported))
        assert back.dtype == arr.dtype
        assert back.shape == arr.shape
        np.testing.assert_array_equal(back, arr)
        del back, exported
    finally:
        release(ctypes.byref(b))


@pytest.mark.parametrize("kind", ["buffer", "struct", "interface"])
def test_release_drops_every_reference(kind):
    arr = np.arange(8, dtype=np.uint8)
    src = export_kinds(arr)[kind]
    before = sys.getrefcount(src), sys.getrefcount(arr)
    for _ in range(3):
        b = LmBuffer()
        assert get_buffer(src, ctypes.byref(b), RECORDS) == 0
        release(ctypes.byref(b))
    assert (sys.getrefcount(src), sys.getrefcount(arr)) == before


def test_arrstruct_capsule_keeps_exporter_alive():
    arr = np.arange(8, dtype=np.uint8)
    b = LmBuffer()
    assert get_buffer(arr, ctypes.byref(b), RECORDS_RO) == 0
    cap = as_arrstruct(ctypes.cast(ctypes.byref(b), POINTER(PyBuffer)))
    release(ctypes.byref(b))
    before = sys.getrefcount(arr)
    del cap
    assert sys.getrefcount(arr) == before - 1


@pytest.mark.parametrize("kind", ["buffer", "struct", "interface"])
def test_writable_request_on_read_only_array(kind):
    arr = np.arange(4, dtype=np.uint8)
    arr.flags.writeable = False
    src = export_kinds(arr)[kind]
    b = LmBuffer()
    # numpy's own buffer export says ValueError; ours say BufferError.
    expected = ValueError if kind == "buffer" else base.BufferError
    with pytest.raises(expected, match="read-only"):
        get_buffer(src, ctypes.byref(b), RECORDS)
    assert get_buffer(src, ctypes.byref(b), RECORDS_RO) == 0
    assert b.view.readonly == 1
    release(ctypes.byref(b))


@pytest.mark.parametrize("kind", ["struct", "interface"])
def test_strided_array_needs_strides_request(kind):
    arr = np.arange(12, dtype=np.uint8).reshape(3, 4)[:, ::2]
    src = export_kinds(arr)[kind]
    b = LmBuffer()
    with pytest.raises(base.BufferError, match="not C contiguous"):
        get_buffer(src, ctypes.byref(b), PyBUF_ND | PyBUF_FORMAT)
    contiguous = export_kinds(np.ascontiguousarray(arr))[kind]
    assert get_buffer(contiguous, ctypes.byref(b), PyBUF_ND) == 0
    assert view_info(b)["shape"] == (3, 2)
    assert view_info(b)["strides"] is None and b.view.format is None
    release(ctypes.byref(b))


def test_object_without_any_export():
    b = LmBuffer()
    with pytest.raises(TypeError, match="neither the buffer protocol"):
        get_buffer(object(), ctypes.byref(b), RECORDS_RO)


@pytest.mark.parametrize("fmt_cast,typestr", [
    ("B", "|u1"), ("b", "|i1"), ("H", "<u2"), ("i", "<i4"), ("I", "<u4"),
    ("q", "<i8"), ("f", "<f4"), ("d", "<f8"), ("?", "|b1")])
def test_typestr_from_buffer_format(fmt_cast, typestr):
    if sys.byteorder != "little":
        typestr = typestr.replace("<", ">")
    mv = memoryview(bytearray(8)).cast(fmt_cast)
    b = LmBuffer()
    assert get_buffer(mv, ctypes.byref(b), RECORDS) == 0
    d = as_arrinter(ctypes.cast(ctypes.byref(b), POINTER(PyBuffer)))
    release(ctypes.byref(b))
    assert d["typestr"] == typestr
    assert d["shape"] == (8 // mv.itemsize,)
    assert d["data"][1] is False


def test_dict_as_buffer_fills_the_view():
    data = bytearray(range(24))
    addr = ctypes.addressof((c_ubyte * 24).from_buffer(data))
    d = {"shape": (2, 4), "typestr": "|V3", "data": (addr, False),
         "strides": (12, 3), "version": 3}
    b = LmBuffer()
    assert dict_as_buffer(ctypes.byref(b), d, RECORDS) == 0
    assert view_info(b) == dict(ndim=2, itemsize=3, len=24, readonly=False,
                                format="3x", shape=(2, 4), strides=(12, 3))
    assert b.view.buf == addr and b.view.obj is None
    release(ctypes.byref(b))
    d2 = {"shape": (3,), "typestr": "<u2", "data": (addr, True)}
    assert dict_as_buffer(ctypes.byref(b), d2, RECORDS_RO) == 0
    assert view_info(b)["strides"] == (2,) and view_info(b)["format"] == "<H"
    release(ctypes.byref(b))


@pytest.mark.parametrize("change,exc,match", [
    ({"version": 2}, ValueError, "version 3"),
    ({"shape": None}, ValueError, "'shape'"),
    ({"shape": (2, -1)}, ValueError, "negative"),
    ({"shape": ("2",)}, TypeError, "integers"),
    ({"shape": (2**62, 2**62)}, ValueError, "too large"),
    ({"shape": (2**64,)}, ValueError, "'shape' value is too large"),
    ({"strides": (1, -2**64)}, ValueError, "'strides' value is too large"),
    ({"typestr": "<q4"}, ValueError, "typestr"),
    ({"typestr": "u4"}, ValueError, "typestr"),
    ({"typestr": "<u0"}, ValueError, "typestr"),
    ({"typestr": 4}, TypeError, "typestr"),
    ({"data": 5}, ValueError, "'data'"),
    ({"data": ("1", False)}, TypeError, "address"),
    ({"strides": (1, 2, 3)}, ValueError, "'strides'"),
    ({"mask": (1,)}, ValueError, "masked"),
    ({"data": (0, True)}, BufferError, "read-only"),
])
def test_dict_as_buffer_refuses(change, exc, match):
    d = {"shape": (2, 2), "typestr": "|u1", "data": (0, False), "version": 3}
    d.update(change)
    b = LmBuffer()
    with pytest.raises(exc, match=match):
        dict_as_buffer(ctypes.byref(b), d, RECORDS)


def test_dict_missing_keys_and_non_dict():
    b = LmBuffer()
    with pytest.raises(ValueError, match="needs"):
        dict_as_buffer(ctypes.byref(b), {"shape": (1,)}, RECORDS_RO)
    with pytest.raises(TypeError, match="must be a dict"):
        dict_as_buffer(ctypes.byref(b), [1], RECORDS_RO)
