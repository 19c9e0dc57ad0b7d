"""lumora.font: the Font type over SDL_ttf, the default font, and pkgdata.

Rendered text is checked by where its pixels land against the font's own
metrics (ascent, glyph boxes, advances), never against glyph shapes.
"""
import ctypes
import gc
import io
import os
import pathlib
import threading
import weakref

import pytest

import _child

font = pytest.importorskip("lumora.font")
import lumora  # noqa: E402
from lumora import pkgdata  # noqa: E402
from _sdlpush import capsule_slot  # noqa: E402

DEFAULT = os.path.join(os.path.dirname(pkgdata.__file__), "data",
                       "freesansbold.ttf")


@pytest.fixture(autouse=True)
def engine():
    font.init()
    yield
    font.init()


@pytest.fixture(scope="module")
def fontdata():
    with open(DEFAULT, "rb") as f:
        return f.read()


def opaque_box(surf, is_ink):
    """Bounding box (x0, y0, x1, y1), exclusive ends, of pixels for which
    is_ink(Color) holds; None when there are none."""
    w, h = surf.get_size()
    xs, ys = [], []
    for y in range(h):
        for x in range(w):
            if is_ink(surf.get_at((x, y))):
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def alpha_ink(c):
    return c.a > 0


# ---------------------------------------------------------------------------
# Module
# ---------------------------------------------------------------------------
def test_module_attributes():
    assert font.__doc__ == "lumora module for loading and rendering fonts"
    assert font.Font is font.FontType
    assert font.Font.__name__ == "Font"
    assert font.UCS4 == 1
    assert font.get_default_font() == "freesansbold.ttf"
    assert font.Font.__doc__.startswith(
        "Font(file_path=None, size=12) -> Font\nFont(file_path, size) -> Font\n")
    assert font.Font.render.__doc__ == (
        "render(text, antialias, color, background=None) -> Surface\n"
        "draw text on a new Surface")
    assert font.Font.bold.__doc__ == ("bold -> bool\nGets or sets whether the "
                                      "font should be rendered in (faked) bold.")
    assert font.init.__doc__ == "init() -> None\ninitialize the font module"


def test_sdl_ttf_version():
    linked = font.get_sdl_ttf_version()
    assert len(linked) == 3 and linked >= (2, 0, 0)
    assert font.get_sdl_ttf_version(linked=True) == linked
    assert len(font.get_sdl_ttf_version(False)) == 3


def test_init_quit_cycle():
    with pytest.raises(lumora.error, match="^font not initialized$"):
        font.Font.__new__(font.Font).get_height()    # never opened
    assert font.get_init() is True
    font.init()                       # repeated: nothing happens
    font.quit()
    assert font.get_init() is False
    font.quit()
    with pytest.raises(lumora.error, match="^font not initialized$"):
        font.Font(None, 10)
    font.init()
    assert font.get_init() is True


def test_font_from_before_quit_is_refused_and_freed_safely():
    old = font.Font(None, 20)
    height = old.get_height()
    ref = weakref.ref(old)
    font.quit()
    with pytest.raises(lumora.error, match="^font not initialized$"):
        old.get_height()
    font.init()
    for call in (old.get_height, lambda: old.render("x", True, (0, 0, 0)),
                 lambda: old.size("x"), lambda: old.metrics("x"),
                 lambda: setattr(old, "bold", True), old.get_ascent):
        with pytest.raises(lumora.error, match="^font not initialized$"):
            call()
    del old, call                     # closes without touching the dead face
    gc.collect()
    assert ref() is None
    assert font.Font(None, 20).get_height() == height


def test_font_dropped_while_engine_stopped(fontdata):
    # Its face died with the engine; the rest is freed and its file closed.
    src = io.BytesIO(fontdata)
    f = font.Font(src, 12)
    font.quit()
    del f
    assert src.closed


def test_font_closed_at_interpreter_exit():
    # A font still alive when Python shuts down (after lumora's exit handler
    # stopped the engine) is freed on the thread running the shutdown, which
    # holds the lock: its file object is closed, not leaked.  The reader's
    # class lives in its own namespace so no cycle through the font's C-held
    # references keeps __main__ alive.
    code = r"""
import io, os, sys
sys.path.insert(0, %r)
import lumora, lumora.font as font
lumora.init()
font.init()
ns = {"io": io, "os": os}
exec('''class Reader(io.BytesIO):
    def close(self, _w=os.write):
        _w(1, b"closed\\n")
        super().close()''', ns)
keep = font.Font(ns["Reader"](open(%r, "rb").read()), 10)
print("open", flush=True)
""" % (os.path.dirname(__file__), DEFAULT)
    p = _child.run_py(code, timeout=30)
    assert (p.returncode, p.stdout) == (0, "open\nclosed\n"), p.stderr


# ---------------------------------------------------------------------------
# Opening
# ---------------------------------------------------------------------------
def metrics_of(f):
    return (f.get_height(), f.get_ascent(), f.get_descent(), f.get_linesize(),
            f.size("Hello"))


@pytest.mark.parametrize("args, opened", [
    ((None, 12), 8), ((None, 20), 13), ((None, 1), 1), ((None, 0), 1),
    ((None, -7), 1), ((None, 2), 1), ((), 8), ((None,), 8)])
def test_default_font_size_is_scaled(args, opened):
    assert metrics_of(font.Font(*args)) == metrics_of(font.Font(DEFAULT, opened))
    if len(args) == 2:
        assert metrics_of(font.Font(size=args[1])) == metrics_of(font.Font(*args))


@pytest.mark.parametrize("make", [
    lambda: DEFAULT,
    lambda: os.fsencode(DEFAULT),
    lambda: pathlib.Path(DEFAULT),
    lambda: open(DEFAULT, "rb"),
    lambda: io.BytesIO(open(DEFAULT, "rb").read()),
])
def test_sources(make):
    assert metrics_of(font.Font(make(), 16)) == metrics_of(font.Font(DEFAULT, 16))


def test_fonts_opened_on_threads(fontdata):
    # Opening runs without the interpreter lock; the Python reader's
    # callbacks take it back, while other threads open and render too.
    expected = metrics_of(font.Font(DEFAULT, 18))
    results = []

    class Reader(io.BytesIO):
        def read(self, n=-1):
            return super().read(n)

    def work():
        for _ in range(5):
            f = font.Font(Reader(fontdata), 18)
            f.render("threads", True, (0, 0, 0))
            results.append(metrics_of(f))

    threads = [threading.Thread(target=work) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(30)
    assert results == [expected] * 15


def test_font_file_object_read_lazily(fontdata):
    # SDL_ttf keeps reading glyphs from the stream long after opening.
    calls = []

    class Reader:
        def __init__(self):
            self.f = io.BytesIO(fontdata)

        def read(self, n):
            calls.append(n)
            return self.f.read(n)

        def seek(self, *a):
            return self.f.seek(*a)

        def tell(self):
            return self.f.tell()

    f = font.Font(Reader(), 30)
    n = len(calls)
    s = f.render("QWERTY", True, (1, 2, 3))
    assert len(calls) > n
    assert s.get_size() == f.size("QWERTY")


def test_default_name_falls_back_to_package(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    f = font.Font("freesansbold.ttf", 20)     # no size scaling here
    assert metrics_of(f) == metrics_of(font.Font(DEFAULT, 20))
    with pytest.raises(FileNotFoundError, match="No file 'other.ttf' found"):
        font.Font("other.ttf", 20)


def test_default_font_not_found(monkeypatch):
    def missing(name):
        raise FileNotFoundError("gone: " + name)

    monkeypatch.setattr(pkgdata, "getResource", missing)
    with pytest.raises(FileNotFoundError, match="gone: freesansbold.ttf"):
        font.Font(None, 10)
    monkeypatch.setattr(pkgdata, "getResource", lambda name: 42)
    with pytest.raises(TypeError, match="not a file object"):
        font.Font(None, 10)
    monkeypatch.setattr(pkgdata, "getResource", lambda name: None)
    monkeypatch.chdir(os.path.dirname(__file__))
    for name in (None, "freesansbold.ttf"):
        with pytest.raises(RuntimeError,
                           match="^default font 'freesansbold.ttf' not found$"):
            font.Font(name, 10)


def test_default_font_from_memory(monkeypatch, fontdata):
    # A package without files on disk hands back an in-memory object.
    monkeypatch.setattr(pkgdata, "getResource", lambda n: io.BytesIO(fontdata))
    assert metrics_of(font.Font(None, 12)) == metrics_of(font.Font(DEFAULT, 8))


@pytest.mark.parametrize("source, exc, msg", [
    (io.BytesIO(b"not a font at all"), lumora.error, None),
    (io.BytesIO(b""), lumora.error, None),
    (3.5, TypeError, "^not a file object$"),
    ("x\0y.ttf", ValueError, "contains null characters"),
])
def test_bad_sources(source, exc, msg):
    with pytest.raises(exc, match=msg):
        font.Font(source, 12)


def test_absurd_size():
    with pytest.raises(ValueError, match="^font size too large$"):
        font.Font(DEFAULT, 2**30)
    with pytest.raises(OverflowError):
        font.Font(DEFAULT, 2**40)


def test_subclass_and_weakref():
    class MyFont(font.Font):
        pass

    f = MyFont(None, 10)
    assert isinstance(f, font.Font)
    r = weakref.ref(f)
    assert r() is f


# ---------------------------------------------------------------------------
# Metrics, sizes and where pixels land
# ---------------------------------------------------------------------------
@pytest.fixture(scope="module")
def f24():
    font.init()
    return font.Font(DEFAULT, 24)


def test_vertical_metrics(f24):
    asc, desc, h = f24.get_ascent(), f24.get_descent(), f24.get_height()
    assert asc > 0 > desc
    assert h == asc - desc
    assert f24.get_linesize() >= h
    assert font.Font(DEFAULT, 12).get_height() < h
    adv = [m[4] for m in f24.metrics("HIM")]
    assert f24.size("HIM") == (sum(adv), h)


@pytest.mark.parametrize("text", ["H", "HH", "Hello, world", "\xe9t\xe9", "g"])
def test_render_size_matches_size(f24, text):
    for aa in (True, False):
        assert f24.render(text, aa, (0, 0, 0)).get_size() == f24.size(text)


@pytest.mark.parametrize("text", ["H", "HIH", "T-T"])
def test_ink_lands_inside_glyph_boxes(f24, text):
    s = f24.render(text, True, (255, 255, 255))
    mets = f24.metrics(text)
    asc = f24.get_ascent()
    pen = 0
    x0 = y0 = 10**9
    x1 = y1 = -10**9
    for minx, maxx, miny, maxy, adv in mets:
        x0, x1 = min(x0, pen + minx), max(x1, pen + maxx)
        y0, y1 = min(y0, asc - maxy), max(y1, asc - miny)
        pen += adv
    assert opaque_box(s, alpha_ink) == (x0, y0, x1, y1)


def test_render_modes(f24):
    fg = (200, 100, 50)
    # Blended: 32-bit with per-pixel alpha, every pixel in the text colour.
    s = f24.render("H", True, fg)
    assert s.get_bitsize() == 32 and s.get_masks()[3] != 0
    x0, y0, x1, y1 = opaque_box(s, alpha_ink)
    mid = s.get_at(((x0 + x1) // 2 - 3, (y0 + y1) // 2))
    assert tuple(mid) == fg + (255,)
    assert tuple(s.get_at((0, 0)))[:3] == fg and s.get_at((0, 0)).a == 0
    # Shaded: palette from the background to the text colour, no key.
    s = f24.render("H", True, fg, (0, 0, 255))
    assert s.get_bitsize() == 8 and s.get_colorkey() is None
    assert tuple(s.get_at((0, 0))) == (0, 0, 255, 255)
    assert tuple(s.get_palette_at(0))[:3] == (0, 0, 255)
    assert opaque_box(s, lambda c: tuple(c) != (0, 0, 255, 255)) == (x0, y0, x1, y1)
    # Solid: two colours, entry 0 keyed out.
    s = f24.render("H", False, fg)
    assert s.get_bitsize() == 8
    assert s.get_colorkey() is not None
    assert tuple(s.get_palette_at(1))[:3] == fg
    # Without antialiasing the faint edge pixels drop out.
    bx0, by0, bx1, by1 = opaque_box(s, lambda c: tuple(c)[:3] == fg)
    assert 0 <= bx0 - x0 <= 1 and 0 <= by0 - y0 <= 1
    assert 0 <= x1 - bx1 <= 1 and 0 <= y1 - by1 <= 1
    # Solid with a background: no key, entry 0 is the background.
    s = f24.render("H", False, fg, (9, 8, 7))
    assert s.get_colorkey() is None
    assert tuple(s.get_palette_at(0))[:3] == (9, 8, 7)
    assert tuple(s.get_at((0, 0))) == (9, 8, 7, 255)


def test_colour_alpha_is_ignored(f24):
    s = f24.render("H", True, (10, 20, 30, 0), (1, 2, 3, 0))
    assert tuple(s.get_at((0, 0))) == (1, 2, 3, 255)
    inside = [tuple(s.get_at((x, 8))) for x in range(s.get_width())]
    assert (10, 20, 30, 255) in inside
    s = f24.render("H", True, lumora.Color(10, 20, 30, 0))
    assert max(s.get_at((x, 8)).a for x in range(s.get_width())) == 255


@pytest.mark.parametrize("text", ["", None])
def test_empty_text(f24, text):
    s = f24.render(text, True, (0, 0, 0))
    assert s.get_size() == (0, f24.get_height())
    assert s.get_bitsize() == 32
    assert s.get_masks() == (0xff0000, 0xff00, 0xff, 0)


def test_bytes_text(f24):
    assert f24.render(b"Hi", True, (0, 0, 0)).get_size() == f24.size("Hi")
    # size() reads bytes one byte per glyph; render() reads them as UTF-8.
    assert f24.size(b"\xe9") == f24.size("\xe9")
    assert f24.render(b"\xc3\xa9", True, (0, 0, 0)).get_size() == f24.size("\xe9")


@pytest.mark.parametrize("style", ["underline", "strikethrough"])
def test_lines(style):
    f = font.Font(DEFAULT, 24)
    space = f.render("  ", True, (255, 255, 255))
    assert opaque_box(space, alpha_ink) is None
    setattr(f, style, True)
    s = f.render("  ", True, (255, 255, 255))
    x0, y0, x1, y1 = opaque_box(s, alpha_ink)
    assert (x0, x1) == (0, s.get_width())      # spans the whole text
    asc = f.get_ascent()
    if style == "underline":
        assert asc <= y0 < s.get_height()       # below the baseline
    else:
        assert 0 < y0 and y1 <= asc * 3 // 4    # through the x-height
    assert y1 - y0 <= 3


# ---------------------------------------------------------------------------
# Style flags
# ---------------------------------------------------------------------------
@pytest.mark.parametrize("name, bit", [("bold", 1), ("italic", 2),
                                       ("underline", 4), ("strikethrough", 8)])
def test_style_flags(name, bit):
    f = font.Font(None, 12)
    get, set_ = getattr(f, "get_" + name), getattr(f, "set_" + name)
    # The default face is a bold one: SDL_ttf reports the face's own bold
    # whatever is asked for.
    fixed = name == "bold"
    assert get() is fixed and getattr(f, name) is fixed
    set_(1)
    assert get() is True and getattr(f, name) is True
    set_([])                                    # truth value
    assert get() is fixed
    setattr(f, name, "yes")
    assert get() is True
    setattr(f, name, 0)
    assert getattr(f, name) is fixed
    with pytest.raises(AttributeError, match="^Cannot delete attribute %s$" % name):
        delattr(f, name)

    class Bad:
        def __bool__(self):
            raise RuntimeError("no truth")

    with pytest.raises(RuntimeError, match="no truth"):
        set_(Bad())


def test_italic_leans(f24):
    f = font.Font(DEFAULT, 24)
    f.italic = True
    plain = opaque_box(f24.render("I", True, (0, 0, 0)), alpha_ink)
    slanted = opaque_box(f.render("I", True, (0, 0, 0)), alpha_ink)
    assert slanted[1:4:2] == plain[1:4:2]        # same rows
    assert slanted[2] - slanted[0] > plain[2] - plain[0]


# ---------------------------------------------------------------------------
# metrics, size, set_script and errors
# ---------------------------------------------------------------------------
def test_metrics(f24):
    m = f24.metrics("a\U0001F600b")
    assert len(m) == 3 and m[1] is None
    assert m[0] == f24.metrics("a")[0] and m[2] == f24.metrics(b"b")[0]
    assert f24.metrics("") == []
    minx, maxx, miny, maxy, adv = f24.metrics("H")[0]
    assert 0 <= minx < maxx <= adv and miny == 0 < maxy <= f24.get_ascent()
    assert f24.metrics(b"\xc3\xa9") == f24.metrics("\xe9")


@pytest.mark.parametrize("call", [
    lambda f: f.render(5, True, (0, 0, 0)),
    lambda f: f.size(5),
    lambda f: f.size(None),
    lambda f: f.metrics(5),
    lambda f: f.metrics(None),
])
def test_text_type_errors(f24, call):
    with pytest.raises(TypeError, match="^text must be a unicode or bytes$"):
        call(f24)


def test_nul_in_text(f24):
    with pytest.raises(ValueError, match="^A null character was found in the text$"):
        f24.render("a\0b", True, (0, 0, 0))
    with pytest.raises(ValueError):
        f24.render(b"a\0b", True, (0, 0, 0))
    with pytest.raises(ValueError):
        f24.size("a\0b")


def test_render_argument_errors(f24):
    with pytest.raises(TypeError):
        f24.render("a", True)
    with pytest.raises(ValueError):
        f24.render("a", True, "no such colour")
    with pytest.raises(ValueError):
        f24.render("a", True, (0, 0, 0), "no such colour")
    with pytest.raises(UnicodeEncodeError):
        f24.render("\ud800", True, (0, 0, 0))
    s = f24.render(text="a", antialias=[], color="red", background="blue")
    assert s.get_colorkey() is None


def test_set_script(f24):
    assert f24.set_script("Latn") is None
    with pytest.raises(ValueError, match="^script code must be exactly 4 characters$"):
        f24.set_script("Lat")
    with pytest.raises(ValueError, match="^script code must be exactly 4 characters$"):
        f24.set_script("\xe9\xe9\xe9")          # 6 bytes of UTF-8
    with pytest.raises(TypeError, match="^script code must be a string$"):
        f24.set_script(b"Latn")


# ---------------------------------------------------------------------------
# Capsule
# ---------------------------------------------------------------------------
def test_capsule():
    ttf = ctypes.CDLL("libSDL2_ttf-2.0.so.0")
    ttf.TTF_OpenFont.restype = ctypes.c_void_p
    ttf.TTF_OpenFont.argtypes = [ctypes.c_char_p, ctypes.c_int]
    new = capsule_slot(font, 1, ctypes.py_object, ctypes.c_void_p)
    with pytest.raises(RuntimeError, match="^unable to load font.$"):
        new(None)
    f = new(ttf.TTF_OpenFont(os.fsencode(DEFAULT), 24))
    assert type(f) is font.Font
    assert metrics_of(f) == metrics_of(font.Font(DEFAULT, 24))
    # A capsule font belongs to the engine it was made under.
    font.quit()
    font.init()
    with pytest.raises(lumora.error, match="^font not initialized$"):
        f.get_height()
    del f

    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    table = ctypes.cast(get(font._LUMORA_C_API, b"lumora.font._LUMORA_C_API"),
                        ctypes.POINTER(ctypes.c_void_p))
    assert table[0] == id(font.Font)
    flag = ctypes.c_int.from_address(table[2])
    assert flag.value == 1
    font.quit()
    assert flag.value == 0


# ---------------------------------------------------------------------------
# pkgdata
# ---------------------------------------------------------------------------
def test_get_resource():
    with pkgdata.getResource("freesansbold.ttf") as f:
        assert os.path.samefile(f.name, DEFAULT)
        assert f.read(4) == b"\0\1\0\0"           # a TrueType file
    with pkgdata.getResource("lumora_icon.bmp") as f:
        assert f.read(2) == b"BM"


@pytest.mark.parametrize("name, exc", [
    ("missing.ttf", FileNotFoundError),
    ("../__init__.py", ValueError),
    ("/etc/passwd", ValueError),
    ("", ValueError),
    ("a\0b", ValueError),
    (b"freesansbold.ttf", TypeError),
])
def test_get_resource_errors(name, exc):
    with pytest.raises(exc):
        pkgdata.getResource(name)
