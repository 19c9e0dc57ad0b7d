"""The public cursor API: Cursor values, the string-art compiler, and
set_cursor/get_cursor on the dummy driver and (in a child) on x11."""
import os

import pytest

import lumora
from lumora import cursors, mouse
from lumora.cursors import Cursor

import _sdlwin


@pytest.fixture
def video():
    lumora.display.init()
    yield
    lumora.display.quit()


@pytest.mark.parametrize("rows, data, mask", [
    (["X.o     "], (0b10100000,), (0b11000000,)),
    (["XXXXXXXX", "........"], (0xFF, 0x00), (0xFF, 0xFF)),
    (["oooooooo" "X      ."], (0xFF, 0x80), (0x00, 0x81)),
])
def test_compile_bits(rows, data, mask):
    assert cursors.compile(rows) == (data, mask)


def test_compile_custom_characters():
    assert cursors.compile(["#-*     "], black="#", white="-", xor="*") == \
        ((0b10100000,), (0b11000000,))


@pytest.mark.parametrize("rows, msg", [
    ([], "at least one row"),
    (["X" * 8, "X" * 16], "same length"),
    (["X" * 12], "multiple of 8"),
])
def test_compile_refuses(rows, msg):
    with pytest.raises(ValueError, match=msg):
        cursors.compile(rows)


def test_cursor_values():
    surf = lumora.Surface((8, 8))
    assert Cursor() == Cursor(0) and Cursor().type == "system"
    bm = Cursor([8, 8], (1, 2), [0] * 8, [255] * 8)
    assert bm.type == "bitmap" and bm.data == ((8, 8), (1, 2), (0,) * 8, (255,) * 8)
    assert Cursor(bm) == bm and hash(Cursor(bm)) == hash(bm) and bm.copy() is not bm
    col = Cursor((3, 4), surf)
    assert col.type == "color" and col[1] is surf and len(col) == 2
    assert col != bm and Cursor(3) != Cursor(4)
    assert "bitmap" in repr(bm) and "constant: 3" in repr(Cursor(3))


@pytest.mark.parametrize("args, msg", [
    ((1, 2, 3), "0, 1, 2 or 4 arguments"),
    (("arrow",), "integer constant"),
    ((True,), "integer constant"),
    (((0, 0), "not a surface"), "needs a Surface"),
    (((8,), (0, 0), [], []), "size must be a pair"),
])
def test_cursor_refuses(args, msg):
    with pytest.raises(TypeError, match=msg):
        Cursor(*args)


def test_module_attributes():
    assert mouse.set_cursor is cursors.set_cursor
    assert mouse.Cursor is lumora.Cursor is Cursor


def test_dummy_driver_reports_and_keeps_cursor(video):
    # The dummy driver has no cursors: every kind fails clearly and the
    # current cursor stays what it was.
    assert mouse.get_cursor() == Cursor(0)
    for args in [(lumora.SYSTEM_CURSOR_HAND,),
                 ((8, 8), (0, 0)) + cursors.compile(["X" * 8] * 8),
                 ((0, 0), lumora.Surface((8, 8), lumora.SRCALPHA, 32))]:
        with pytest.raises(lumora.error):
            mouse.set_cursor(*args)
        assert mouse.get_cursor() == Cursor(0)


def test_set_cursor_needs_video():
    with pytest.raises(lumora.error, match="video system not initialized"):
        mouse.get_cursor()


@pytest.mark.xvfb
@pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="no X server")
def test_round_trip_on_x11():
    res = _sdlwin.run_script("""
        import lumora
        from lumora import mouse, cursors
        lumora.display.init()
        lumora.display.set_mode((32, 32))
        surf = lumora.Surface((16, 16), lumora.SRCALPHA, 32)
        for c in (lumora.Cursor(lumora.SYSTEM_CURSOR_HAND),
                  lumora.Cursor((16, 2), (3, 1), *cursors.compile(["X.o" + " " * 13] * 2)),
                  lumora.Cursor((5, 6), surf)):
            mouse.set_cursor(c)
            got = mouse.get_cursor()
            print(got.type, got == c)
        mouse.set_cursor(lumora.SYSTEM_CURSOR_ARROW)
        print(mouse.get_cursor().data)
    """, {"SDL_VIDEODRIVER": "x11"})
    assert res.returncode == 0, res.stderr
    assert res.stdout.split("\n")[:4] == ["system True", "bitmap True", "color True", "(0,)"]
