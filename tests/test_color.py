"""lumora.color: parsing, the Color value type, its operators, methods and
colour-space views, the capsule slots, and the colour-name table.

Expected values are worked out by hand or by small Python models written
here (colorsys for the colour spaces, Pillow for the CSS names).
"""
import colorsys
import ctypes
import itertools
import math
import os
import subprocess
import sys
import warnings

import pytest

import lumora.base
import lumora.color
import lumora.colordict
from lumora.color import Color

NAN = float("nan")
INF = float("inf")

SAMPLE = [Color(*rgb, a) for rgb, a in zip(
    itertools.product((0, 1, 64, 127, 128, 200, 254, 255), repeat=3),
    itertools.cycle((0, 7, 128, 255)))]


def t(c):
    return tuple(c[0:4])


def raises(exc, msg, fn, *args):
    with pytest.raises(exc) as info:
        fn(*args)
    assert str(info.value) == msg
    return info.value


# ---------------------------------------------------------------------------
# The name table
# ---------------------------------------------------------------------------

def test_thecolors_table_shape():
    table = lumora.colordict.THECOLORS
    assert lumora.color.THECOLORS is table
    assert len(table) > 600
    for name, value in table.items():
        assert name == name.lower() and name.isalnum(), name
        assert isinstance(value, tuple) and len(value) == 4, name
        assert all(isinstance(v, int) and 0 <= v <= 255 for v in value), name


def test_thecolors_css_names_match_pillow():
    ImageColor = pytest.importorskip("PIL.ImageColor")
    table = lumora.colordict.THECOLORS
    for name in ImageColor.colormap:
        want = ImageColor.getrgb(name) + (255,)
        # Where X11 and CSS disagree the plain name keeps X11's value and
        # the "web" name gives CSS's.
        got = table.get("web" + name, table[name])
        assert got == want, name


# ---------------------------------------------------------------------------
# Construction and the colour-argument parse
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("arg,rgba", [
    ("red", (255, 0, 0, 255)), ("red4", (139, 0, 0, 255)),
    ("Gray", (190, 190, 190, 255)), ("web gray", (128, 128, 128, 255)),
    (" Light Sky Blue ", (135, 206, 250, 255)), ("NAVYBLUE", (0, 0, 128, 255)),
    ("#FF000080", (255, 0, 0, 128)), ("#0a0B0c", (10, 11, 12, 255)),
    ("0xff0000", (255, 0, 0, 255)), ("0x010203Fe", (1, 2, 3, 254)),
    (0x11223344, (17, 34, 51, 68)), (0, (0, 0, 0, 0)),
    (0xFFFFFFFF, (255, 255, 255, 255)), (True, (0, 0, 0, 1)),
    ((1, 2, 3), (1, 2, 3, 255)), ([1, 2, 3, 4], (1, 2, 3, 4)),
    (bytes((9, 8, 7, 6)), (9, 8, 7, 6)), (Color(5, 6, 7, 8), (5, 6, 7, 8)),
])
def test_parse_one_argument(arg, rgba):
    c = Color(arg)
    assert t(c) == rgba and len(c) == 4
    c2 = Color(0)
    c2.update(arg)
    assert t(c2) == rgba


@pytest.mark.parametrize("arg,exc,msg", [
    (arg, ValueError, "invalid color name") for arg in (
        "#fff", "0Xff0000", "#ff00000", "0xff00001", "#gg0000", "#ff 000",
        "nosuchcolour", "")] + [
    (arg, ValueError, "invalid color argument") for arg in (
        -1, 2 ** 32, 2 ** 64, -2 ** 70, (1, 2), (1, 2, 300), [1, 2, 3, 4, 5])] + [
    (arg, TypeError, "invalid color argument") for arg in (1.5, None, {})])
def test_parse_errors(arg, exc, msg):
    raises(exc, msg, Color, arg)
    c = Color(1, 2, 3, 4)
    raises(exc, msg, c.update, arg)
    assert t(c) == (1, 2, 3, 4)


def test_parse_non_ascii_string():
    with pytest.raises(UnicodeEncodeError):
        Color("#ff00é0")


def test_parse_uses_live_table_and_checks_its_values():
    table = lumora.colordict.THECOLORS
    table["zztestpink"] = (1, 2, 3)
    table["zztestbroken"] = (1, 2)
    try:
        assert t(Color("ZZ Test Pink")) == (1, 2, 3, 255)
        raises(ValueError, "invalid color", Color, "zztestbroken")
    finally:
        del table["zztestpink"], table["zztestbroken"]


def test_parse_string_subclass_uses_its_methods():
    class S(str):
        def replace(self, old, new):
            return "BLUE" if old == " " else str.replace(self, old, new)
    assert t(Color(S("anything at all"))) == (0, 0, 255, 255)


@pytest.mark.parametrize("args,rgba", [
    ((1, 2, 3), (1, 2, 3, 255)),
    ((1, 2, 3, 4), (1, 2, 3, 4)),
    ((255, 255, 255, 0), (255, 255, 255, 0)),
])
def test_components_constructor(args, rgba):
    assert t(Color(*args)) == rgba


@pytest.mark.parametrize("args,exc", [
    ((1, 2), ValueError), ((256, 0, 0), ValueError), ((0, 0, 0, 256), ValueError),
    ((0, -1, 0), ValueError), ((0, 0, 2 ** 32), ValueError),
    ((0, 0, 2 ** 64), ValueError), ((1.0, 2, 3), TypeError),
    ((1, 2, "3"), TypeError), ((1, 2, 3, None), TypeError),
])
def test_components_constructor_errors(args, exc):
    raises(exc, "invalid color argument", Color, *args)


def test_constructor_misc():
    assert t(Color.__new__(Color)) == (0, 0, 0, 255)
    with pytest.raises(TypeError):
        Color()
    with pytest.raises(TypeError):
        Color(1, 2, 3, 4, 5)
    with pytest.raises(TypeError):
        Color(r=1, g=2, b=3)
    assert repr(Color(1, 2, 3)) == "(1, 2, 3, 255)"
    assert type(Color(0)).__name__ == "Color"
    assert Color.__module__ == "lumora.color"
    assert lumora.color.ColorType is Color
    assert lumora.color.__doc__ == "color module for lumora"


def test_import_fails_without_thecolors():
    pkgdirs = list(lumora.__path__)
    code = (
        "import sys, types\n"
        "pkg = types.ModuleType('lumora'); pkg.__path__ = %r\n"
        "sys.modules['lumora'] = pkg\n"
        "sys.modules['lumora.colordict'] = types.ModuleType('lumora.colordict')\n"
        "try:\n"
        "    import lumora.color\n"
        "except AttributeError as e:\n"
        "    print('AttributeError', 'THECOLORS' in str(e))\n" % (pkgdirs,))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True,
                         text=True, timeout=60, env=dict(os.environ))
    assert out.stdout.split() == ["AttributeError", "True"], out.stderr


# ---------------------------------------------------------------------------
# Attributes
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("i,name", list(enumerate("rgba")))
def test_component_attributes(i, name):
    c = Color(10, 20, 30, 40)
    assert getattr(c, name) == (10, 20, 30, 40)[i]
    setattr(c, name, 255)
    assert c[i] == 255
    for value, exc, msg in [
            (256, ValueError, "color exceeds allowed range"),
            (2 ** 40, ValueError, "color exceeds allowed range"),
            (-1, ValueError, "invalid color argument"),
            (2 ** 64, ValueError, "invalid color argument"),
            (1.0, TypeError, "invalid color argument"),
            ("1", TypeError, "invalid color argument")]:
        raises(exc, msg, setattr, c, name, value)
    raises(AttributeError, "Cannot delete attribute " + name, delattr, c, name)
    assert c[i] == 255


# ---------------------------------------------------------------------------
# Sequence and mapping protocols
# ---------------------------------------------------------------------------

def short(n, rgba=(10, 20, 30, 40)):
    c = Color(*rgba)
    with pytest.warns(DeprecationWarning,
                      match="lumora.Color.set_length deprecated since 2.1.3"):
        c.set_length(n)
    return c


def test_length_bounds_sequence_but_not_repr_or_slices():
    c = short(2)
    assert len(c) == 2 and list(c) == [10, 20] and tuple(c) == (10, 20)
    assert repr(c) == "(10, 20, 30, 40)"
    assert c[0:4] == (10, 20, 30, 40)
    raises(IndexError, "invalid index", c.__getitem__, 2)
    assert 20 in c and 30 not in c
    c.update(1, 2, 3)
    assert len(c) == 2
    c.update(1, 2, 3, 4)
    assert len(c) == 4


@pytest.mark.parametrize("n", [0, 5, -1, 2 ** 31, 2 ** 70])
def test_set_length_errors(n):
    c = Color(0)
    with pytest.warns(DeprecationWarning):
        raises(ValueError, "Length needs to be 1,2,3, or 4.", c.set_length, n)
    assert len(c) == 4


def test_set_length_warning_as_error():
    c = Color(0)
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            c.set_length(2)
    assert len(c) == 4
    with pytest.warns(DeprecationWarning), pytest.raises(TypeError):
        c.set_length("2")


@pytest.mark.parametrize("key,exc,msg", [
    (-1, IndexError, "invalid index"),
    (4, IndexError, "invalid index"),
    (2 ** 70, IndexError, "invalid index"),
    (-2 ** 70, IndexError, "invalid index"),
    (1.0, TypeError, "Color indices must be integers, not float"),
    ("r", TypeError, "Color indices must be integers, not str"),
    (slice(0, 4, 2), TypeError, "slice steps not supported"),
])
def test_getitem_errors(key, exc, msg):
    raises(exc, msg, Color(1, 2, 3, 4).__getitem__, key)


def test_getitem_and_slices():
    c = Color(1, 2, 3, 4)
    assert [c[i] for i in range(4)] == [1, 2, 3, 4]
    assert c[True] == 2
    assert c[1:3] == (2, 3) and c[-2:] == (3, 4) and c[:] == (1, 2, 3, 4)
    assert c[3:1] == () and c[10:] == ()
    assert 4 in c and 5 not in c and 2 ** 70 not in c
    raises(TypeError, "'in <lumora.Color>' requires integer object",
           c.__contains__, 1.0)


def test_setitem():
    c = Color(1, 2, 3, 4)
    c[0] = 9
    c[3] = 8
    assert t(c) == (9, 2, 3, 8)
    for key, value, exc, msg in [
            (4, 1, IndexError, "invalid index"),
            (-1, 1, IndexError, "invalid index"),
            (2 ** 70, 1, IndexError, "invalid index"),
            (0, 256, ValueError, "color exceeds allowed range"),
            (0, -1, ValueError, "invalid color argument"),
            (0, "x", TypeError, "invalid color argument"),
            ("r", 1, IndexError, "Index must be an integer or slice"),
            (1.0, 1, IndexError, "Index must be an integer or slice")]:
        raises(exc, msg, c.__setitem__, key, value)
    raises(TypeError, "Color object doesn't support item deletion",
           c.__delitem__, 0)
    assert t(c) == (9, 2, 3, 8)
    # Assignment is not bounded by len.
    s = short(1)
    s[3] = 0
    assert s.a == 0


def test_slice_assignment():
    c = Color(1, 2, 3, 4)
    c[1:3] = (20, 30)
    assert t(c) == (1, 20, 30, 4)
    c[::-1] = [40, 30, 20, 10]
    assert t(c) == (10, 20, 30, 40)
    c[0:4:2] = (0, 0)
    assert t(c) == (0, 20, 0, 40)
    # Adjusted against len, not 4.
    s = short(2)
    s[:] = (7, 8)
    assert s[0:4] == (7, 8, 30, 40)
    raises(ValueError, "attempting to assign sequence of length 3 to slice of length 2",
           s.__setitem__, slice(None), (1, 2, 3))
    raises(TypeError, "expected sequence", c.__setitem__, slice(0, 1), 5)
    # Items before a refused one keep their new values.
    c = Color(1, 2, 3, 4)
    raises(ValueError, "color component must be 0-255",
           c.__setitem__, slice(0, 3), (50, 60, 256))
    assert t(c) == (50, 60, 3, 4)
    raises(ValueError, "color component must be 0-255",
           c.__setitem__, slice(0, 1), (2 ** 70,))
    raises(TypeError, "color components must be integers",
           c.__setitem__, slice(0, 2), (70, 1.0))
    assert t(c) == (70, 60, 3, 4)


# ---------------------------------------------------------------------------
# Comparison, hashing, buffers
# ---------------------------------------------------------------------------

def test_comparison():
    c = Color(1, 2, 3)
    assert c == (1, 2, 3, 255) and (1, 2, 3, 255) == c and c == (1, 2, 3)
    assert c != [1, 2, 3, 255] and not (c == [1, 2, 3, 255])
    assert c == Color(1, 2, 3) and c != Color(1, 2, 3, 4)
    assert c != (1, 2, 3, 4) and c != "red" and c != 0x010203FF
    # All four bytes count, whatever len says.
    assert short(1, (1, 2, 3, 4)) != short(1, (1, 9, 9, 9))
    assert short(1, (1, 2, 3, 4)) == (1, 2, 3, 4)

    class T(tuple):
        pass
    assert c == T((1, 2, 3, 255))
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(c, op)(c) is NotImplemented
    with pytest.raises(TypeError):
        c < c
    with pytest.raises(TypeError):
        hash(Color(0, 0, 0))


class Py_buffer(ctypes.Structure):
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p),
                ("len", ctypes.c_ssize_t), ("itemsize", ctypes.c_ssize_t),
                ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p),
                ("shape", ctypes.POINTER(ctypes.c_ssize_t)),
                ("strides", ctypes.POINTER(ctypes.c_ssize_t)),
                ("suboffsets", ctypes.c_void_p), ("internal", ctypes.c_void_p)]


_getbuf = ctypes.pythonapi.PyObject_GetBuffer
_getbuf.argtypes = [ctypes.py_object, ctypes.POINTER(Py_buffer), ctypes.c_int]
_relbuf = ctypes.pythonapi.PyBuffer_Release
_relbuf.argtypes = [ctypes.POINTER(Py_buffer)]


@pytest.mark.parametrize("flags,fmt,shape,strides", [
    (0, False, False, False),          # simple
    (0x4, True, False, False),         # format
    (0x8, False, True, False),         # ND
    (0x18, False, True, True),         # strides
    (0x11C, True, True, True),         # records, read-only
])
def test_buffer_flags(flags, fmt, shape, strides):
    c = short(3, (5, 6, 7, 8))
    view = Py_buffer()
    assert _getbuf(c, ctypes.byref(view), flags) == 0
    try:
        assert view.len == 3 and view.itemsize == 1 and view.readonly == 1
        assert view.ndim == 1
        assert ctypes.string_at(view.buf, 3) == bytes((5, 6, 7))
        assert (view.format == b"B") if fmt else view.format is None
        assert (view.shape[0] == 3) if shape else not view.shape
        assert (view.strides[0] == 1) if strides else not view.strides
    finally:
        _relbuf(ctypes.byref(view))


def test_buffer_memoryview_and_readonly():
    c = Color(1, 2, 3)
    mv = memoryview(c)
    assert mv.readonly and mv.tolist() == [1, 2, 3, 255]
    assert mv.format == "B" and mv.shape == (4,) and mv.strides == (1,)
    del c
    assert mv.tobytes() == bytes((1, 2, 3, 255))  # the view holds the colour
    mv.release()
    view = Py_buffer()
    for flags in (0x1, 0x11D):  # writable, writable records
        err = raises(lumora.base.BufferError, "color buffer is read-only",
                     _getbuf, Color(0), ctypes.byref(view), flags)
        assert isinstance(err, BufferError) and not view.obj


def test_array_struct():
    np = pytest.importorskip("numpy")

    class Holder:
        pass
    c = short(3, (9, 8, 7, 6))
    h = Holder()
    h.__array_struct__ = c.__array_struct__
    del c
    arr = np.asarray(h)
    assert arr.dtype == np.uint8 and arr.tolist() == [9, 8, 7]
    assert not arr.flags.writeable


# ---------------------------------------------------------------------------
# Operators and conversions
# ---------------------------------------------------------------------------

OPS = {
    "+": (lambda a, b: a + b, lambda x, y: min(x + y, 255)),
    "-": (lambda a, b: a - b, lambda x, y: max(x - y, 0)),
    "*": (lambda a, b: a * b, lambda x, y: min(x * y, 255)),
    "%": (lambda a, b: a % b, lambda x, y: x % y if y else 0),
    "//": (lambda a, b: a // b, lambda x, y: x // y if y else 0),
}


@pytest.mark.parametrize("op,a,b,want", [
    ("+", (200, 100, 0, 255), (100, 100, 100, 255), (255, 200, 100, 255)),
    ("-", (0, 0, 0, 255), (1, 1, 1, 255), (0, 0, 0, 0)),
    ("*", (2, 16, 255, 1), (3, 16, 0, 1), (6, 255, 0, 1)),
    ("%", (10, 10, 10, 10), (0, 3, 4, 0), (0, 1, 2, 0)),
    ("//", (10, 10, 10, 10), (0, 3, 4, 0), (0, 3, 2, 0)),
])
def test_operators_by_hand(op, a, b, want):
    got = OPS[op][0](Color(*a), Color(*b))
    assert t(got) == want and len(got) == 4


@pytest.mark.parametrize("op", sorted(OPS))
def test_operators_against_model(op):
    fn, model = OPS[op]
    values = (0, 1, 2, 7, 16, 100, 128, 255)
    for x, y in itertools.product(values, values):
        a = short(1, (x, y, x, y))
        got = fn(a, Color(y, x, 0, 255))
        assert len(got) == 4
        assert t(got) == (model(x, y), model(y, x), model(x, 0), model(y, 255))


@pytest.mark.parametrize("op", sorted(OPS))
def test_operators_need_two_colors(op):
    fn = OPS[op][0]
    # Sequences times a Color repeat (Color has __index__) and str % reads
    # a mapping: only the other combinations are refused.
    others = (1, 2.0) if op == "*" else (1, 2.0, (1, 2, 3), "red", [1, 2])
    for other in others:
        with pytest.raises(TypeError):
            fn(Color(1, 2, 3), other)
    for other in (1, 2.0):
        with pytest.raises(TypeError):
            fn(other, Color(1, 2, 3))
    with pytest.raises(TypeError):
        Color(1, 2, 3) / Color(1, 2, 3)
    with pytest.raises(TypeError):
        -Color(1, 2, 3)


def test_invert_and_conversions():
    assert t(~Color(0, 0, 0, 255)) == (255, 255, 255, 0)
    assert t(~short(1, (1, 2, 3, 4))) == (254, 253, 252, 251)
    c = Color(1, 2, 3, 4)
    assert int(c) == 16909060 and c.__index__() == 16909060
    assert float(c) == 16909060.0 and isinstance(float(c), float)
    assert hex(c) == "0x1020304" and oct(c) == oct(16909060)
    assert int(Color(255, 255, 255, 255)) == 0xFFFFFFFF
    assert [1, 2, 3][Color(0, 0, 0, 2)] == 3


# ---------------------------------------------------------------------------
# Methods
# ---------------------------------------------------------------------------

def test_normalize():
    assert short(1, (0, 51, 255, 102)).normalize() == (0.0, 0.2, 1.0, 0.4)


def gamma_model(x, gamma):
    try:
        v = (x / 255) ** gamma
    except ZeroDivisionError:  # 0 ** negative: C pow gives +inf
        v = INF
    if v != v:
        return 0
    if v > 1:
        return 255
    if v < 0:
        return 0
    return int(v * 255 + 0.5)


@pytest.mark.parametrize("gamma", [1.0, 2.2, 0.45, 0.0, -1.0, 3e-7, 1e300,
                                   INF, -INF, NAN])
def test_correct_gamma(gamma):
    for x in range(0, 256, 4):
        c = Color(x, 255 - x, x | 1, 3)
        got = c.correct_gamma(gamma=gamma)
        assert t(got) == tuple(gamma_model(v, gamma) for v in t(c)), x
    assert Color(1, 2, 3, 4).correct_gamma(1.0) == Color(1, 2, 3, 4)


def test_correct_gamma_nan_gives_zero():
    # pow(1, nan) is 1, every other byte's power is NaN and becomes 0.
    assert t(Color(0, 100, 255, 254).correct_gamma(NAN)) == (0, 0, 255, 0)


def round_half_away(v):
    f = math.floor(v)
    return f + 1 if v - f >= 0.5 else f


@pytest.mark.parametrize("amount", [0.0, 0.25, 0.5, 1 / 3, 0.999, 1.0, 1])
def test_lerp(amount):
    for a, b in [((0, 0, 0, 255), (255, 255, 255, 255)),
                 ((10, 200, 33, 0), (11, 0, 255, 128))]:
        got = Color(*a).lerp(Color(*b), amount)
        want = tuple(round_half_away(y * amount + x * (1 - amount))
                     for x, y in zip(a, b))
        assert t(got) == want
    assert t(Color(0, 0, 0).lerp(Color(255, 255, 255), 0.5)) == (128, 128, 128, 255)
    assert t(Color(0, 0, 0).lerp(color="white", amount=0.5)) == (128, 128, 128, 255)


@pytest.mark.parametrize("amount", [1.5, -0.1, NAN, INF, -INF])
def test_lerp_range(amount):
    raises(ValueError, "Argument 2 must be in range [0, 1]",
           Color(0).lerp, (1, 2, 3), amount)


def test_lerp_parse_errors_come_first():
    raises(ValueError, "invalid color name", Color(0).lerp, "#12", 2.0)
    with pytest.raises(TypeError):
        Color(0).lerp((1, 2, 3), "half")


def test_grayscale_and_premul():
    for c in SAMPLE:
        r, g, b, a = t(c)
        gray = int(g * 0.587 + r * 0.299 + b * 0.114)
        assert t(c.grayscale()) == (gray, gray, gray, a)
        assert t(c.premul_alpha()) == tuple((x * a + a) >> 8 for x in (r, g, b)) + (a,)
    assert t(Color(255, 255, 255, 7).grayscale(1, x=2)) == (255, 255, 255, 7)
    assert t(Color(255, 255, 255, 255).premul_alpha()) == (255, 255, 255, 255)
    assert t(Color(255, 255, 255, 0).premul_alpha()) == (0, 0, 0, 0)
    assert t(Color(100, 50, 1, 128).premul_alpha()) == (50, 25, 1, 128)


def test_update():
    c = short(2)
    c.update(1, 2, 3)
    assert t(c) == (1, 2, 3, 40) and len(c) == 2
    c.update(4, 5, 6, 7)
    assert t(c) == (4, 5, 6, 7) and len(c) == 4
    c = Color(9, 9, 9, 9)
    raises(ValueError, "invalid color argument", c.update, 1, 2, 300)
    assert t(c) == (1, 2, 9, 9)
    for bad in ("1", 1.0, -1, 2 ** 32, 2 ** 64):
        raises(ValueError, "invalid color argument", c.update, 5, bad, 5)
    for args in ((), (1, 2), (1, 2, 3, 4, 5)):
        raises(TypeError, "update can take only 1, 3 or 4 arguments", c.update, *args)
    assert c.update("red") is None and t(c) == (255, 0, 0, 255)


class Sub(Color):
    inits = 0

    def __init__(self, *args):
        Sub.inits += 1
        super().__init__(*args)


def test_results_take_the_receivers_type_without_init():
    a, b = Sub(10, 20, 30, 40), Sub(1, 2, 3, 4)
    Sub.inits = 0
    results = [a + b, a - b, a * b, a % b, a // b, ~a, a.correct_gamma(1.0),
               a.lerp(b, 0.5), a.grayscale(), a.premul_alpha(), a + Color(0)]
    assert all(type(r) is Sub for r in results)
    assert type(Color(0) + a) is Color
    assert Sub.inits == 0
    # A subclass instance is parsed as a sequence of its len components.
    assert t(Color(a)) == (10, 20, 30, 40)
    s = Sub(1, 2, 3, 4)
    with pytest.warns(DeprecationWarning):
        s.set_length(2)
    raises(ValueError, "invalid color argument", Color, s)


# ---------------------------------------------------------------------------
# Colour spaces
# ---------------------------------------------------------------------------

def test_space_getters_against_colorsys():
    for c in SAMPLE:
        r, g, b, a = (v / 255 for v in t(c))
        h, s, v = colorsys.rgb_to_hsv(r, g, b)
        assert c.hsva == pytest.approx((h * 360, s * 100, v * 100, a * 100),
                                       abs=1e-9)
        h, l, s = colorsys.rgb_to_hls(r, g, b)
        assert c.hsla == pytest.approx((h * 360, s * 100, l * 100, a * 100),
                                       abs=1e-9)
        assert c.cmy == pytest.approx((1 - r, 1 - g, 1 - b), abs=1e-12)
        assert c.i1i2i3 == pytest.approx(
            ((r + g + b) / 3, (r - b) / 2, (2 * g - r - b) / 4), abs=1e-12)


def test_space_getters_by_hand():
    assert Color(255, 0, 0).hsva == (0, 100, 100, 100)
    assert Color(0, 0, 255, 0).hsla == (240, 100, 50, 0)
    assert Color(51, 51, 51, 51).hsva == pytest.approx((0, 0, 20, 20))
    assert Color(255, 0, 255).hsva == pytest.approx((300, 100, 100, 100))


def test_hsva_setter_against_colorsys():
    for h, s, v in itertools.product(range(0, 361, 15), (0, 25, 50, 100),
                                     (0, 33, 50, 100)):
        c = Color(1, 2, 3, 4)
        c.hsva = (h, s, v, 50)
        want = colorsys.hsv_to_rgb(h / 360, s / 100, v / 100)
        for got, w in zip(t(c)[:3], want):
            assert abs(got - w * 255) < 1.0001, (h, s, v)
        assert c.a == 127


def test_hsla_setter_against_colorsys():
    for h, s, l in itertools.product(range(0, 361, 15), (0, 25, 50, 100),
                                     (0, 20, 50, 80, 100)):
        c = Color(1, 2, 3, 4)
        c.hsla = [h, s, l]
        want = colorsys.hls_to_rgb(h / 360, l / 100, s / 100)
        for got, w in zip(t(c)[:3], want):
            assert abs(got - w * 255) < 1.0001, (h, s, l)
        assert c.a == 0


@pytest.mark.parametrize("attr,value,rgba", [
    ("hsva", (120, 100, 100), (0, 255, 0, 0)),
    ("hsva", (60, 100, 100, 50), (255, 255, 0, 127)),
    ("hsva", (360, 100, 100, 100), (255, 0, 0, 255)),
    ("hsva", (0, 0, 50, 100, 99), (127, 127, 127, 255)),
    ("hsla", (0, 100, 50, 100), (255, 0, 0, 255)),
    ("hsla", (240, 100, 25, 100), (0, 0, 127, 255)),
    ("hsla", (0, 0, 40), (102, 102, 102, 0)),
    ("cmy", (0.5, 0, 1), (127, 255, 0, 77)),
    ("cmy", ("1", 0.0, True), (0, 255, 0, 77)),
    ("i1i2i3", (0.5, 0, 0), (127, 127, 127, 77)),
    # In-range inputs whose result leaves [0, 255]: clamped.
    ("i1i2i3", (1, 0.5, 0.5), (255, 255, 42, 77)),
    ("i1i2i3", (0, 0.5, 0), (127, 0, 0, 77)),
    ("i1i2i3", (0, -0.5, -0.5), (0, 0, 212, 77)),
])
def test_space_setters_by_hand(attr, value, rgba):
    c = Color(9, 9, 9, 77)
    setattr(c, attr, value)
    assert t(c) == rgba


@pytest.mark.parametrize("attr,msg,bad", [
    ("hsva", "invalid HSVA value",
     [(361, 0, 0), (-1, 0, 0), (0, 101, 0), (0, 0, -0.1), (0, 0, 0, 101),
      (NAN, 0, 0), (0, NAN, 0), (0, 0, NAN), (0, 0, 0, NAN), (INF, 0, 0),
      (0, 0), (0, 0, "x"), 5, "abc", {0: 1, 1: 2, 2: 3}]),
    ("hsla", "invalid HSLA value",
     [(360.5, 0, 0), (0, 100.1, 0), (0, 0, 101), (0, 0, 0, -1),
      (NAN, 0, 0), (0, 0, NAN), (0, 0, 0, NAN), (0, 0), None]),
    ("cmy", "invalid CMY value",
     [(1.5, 0, 0), (0, -0.1, 0), (0, 0, NAN), (0, 0), (0, 0, None), 3]),
    ("i1i2i3", "invalid I1I2I3 value",
     [(1.1, 0, 0), (-0.1, 0, 0), (0, 0.6, 0), (0, 0, -0.6),
      (NAN, 0, 0), (0, NAN, 0), (0, 0, NAN), (0, 0), 1]),
])
def test_space_setter_errors(attr, msg, bad):
    c = Color(9, 8, 7, 6)
    for value in bad:
        raises(ValueError, msg, setattr, c, attr, value)
        assert t(c) == (9, 8, 7, 6), value
    raises(AttributeError, "Cannot delete attribute " + attr, delattr, c, attr)


# ---------------------------------------------------------------------------
# The C API, called through ctypes
# ---------------------------------------------------------------------------

@pytest.fixture(scope="module")
def capi():
    api = ctypes.pythonapi
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    table = ctypes.cast(api.PyCapsule_GetPointer(
        lumora.color._LUMORA_C_API, b"lumora.color._LUMORA_C_API"),
        ctypes.POINTER(ctypes.c_void_p))
    u8p = ctypes.POINTER(ctypes.c_ubyte)
    F = ctypes.PYFUNCTYPE
    return {
        "type": table[0],
        "from_rgba": F(ctypes.py_object, u8p)(table[1]),
        "from_obj": F(ctypes.c_int, ctypes.py_object, u8p)(table[2]),
        "from_rgba_len": F(ctypes.py_object, u8p, ctypes.c_int)(table[3]),
        "parse": F(ctypes.c_int, ctypes.py_object, u8p)(table[4]),
    }


def test_capi_constructors(capi):
    assert capi["type"] == id(Color)
    rgba = (ctypes.c_ubyte * 4)(1, 2, 3, 4)
    c = capi["from_rgba"](rgba)
    assert type(c) is Color and t(c) == (1, 2, 3, 4) and len(c) == 4
    c = capi["from_rgba_len"](rgba, 2)
    assert len(c) == 2 and c[0:4] == (1, 2, 3, 4)
    for n in (0, 5, -1):
        raises(ValueError, "Expected length within range [1,4]: got %d" % n,
               capi["from_rgba_len"], rgba, n)


def test_capi_readers(capi):
    out = (ctypes.c_ubyte * 4)()
    assert capi["parse"]("#01020304", out) == 1 and list(out) == [1, 2, 3, 4]
    raises(ValueError, "invalid color argument", capi["parse"], 2 ** 32, out)
    assert capi["from_obj"](Color(5, 6, 7, 8), out) == 1
    assert list(out) == [5, 6, 7, 8]
    assert capi["from_obj"]((9, 10, 11), out) == 1
    assert list(out) == [9, 10, 11, 255]
    # Not the full parse: names and plain ints are refused, with no error.
    assert capi["from_obj"]("red", out) == 0
    assert capi["from_obj"](0x01020304, out) == 0
    assert list(out) == [9, 10, 11, 255]
