"""lumora.mouse on SDL's dummy driver (cursor creation itself needs a real
window system: see test_display_x11)."""
import warnings

import pytest

lumora = pytest.importorskip("lumora")
mouse = pytest.importorskip("lumora.mouse")
display = pytest.importorskip("lumora.display")

import _sdlwin  # noqa: E402
from _videostate import novideo, video  # noqa: E402,F401


@pytest.mark.parametrize("call", [
    lambda: mouse.get_pos(), lambda: mouse.get_rel(), lambda: mouse.set_pos(1, 2),
    lambda: mouse.get_pressed(), lambda: mouse.set_visible(1), lambda: mouse.get_visible(),
    lambda: mouse.get_focused(), lambda: mouse._set_cursor(system=(0,)),
    lambda: mouse._get_cursor(),
])
def test_needs_video(novideo, call):
    with pytest.raises(lumora.error, match="^video system not initialized$"):
        call()


def test_initial_cursor_is_system_zero():
    res = _sdlwin.run_script("""
        import lumora.display as d, lumora.mouse as m
        d.init()
        print(m._get_cursor())
    """)
    assert res.stdout.strip() == "(0,)", res.stderr


def test_pressed(video):
    assert mouse.get_pressed() == (False,) * 3
    assert mouse.get_pressed(num_buttons=5) == (False,) * 5
    for n in (0, 4, 6):
        with pytest.raises(ValueError, match=r"^Number of buttons needs to be 3 or 5\.$"):
            mouse.get_pressed(n)


def test_position_calls(video):
    display.set_mode((50, 50))
    assert mouse.get_pos() == (0, 0)
    assert mouse.get_rel() == (0, 0)
    for args in ((1, 2), ((1, 2),), ([3, 4],), (-1, 0)):
        assert mouse.set_pos(*args) is None
    for bad in ((), (1,), (1, 2, 3), ("a", "b"), ((1, 2, 3),)):
        with pytest.raises(TypeError, match="^invalid position argument for set_pos$"):
            mouse.set_pos(*bad)


def test_scaled_position_stays_on_surface(video):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        display.set_mode((40, 30), lumora.SCALED)
    x, y = mouse.get_pos()
    assert 0 <= x < 40 and 0 <= y < 30
    mouse.set_pos(39, 29)
    assert mouse.get_rel() == (0, 0)


def test_visibility(video):
    display.set_mode((20, 20))
    mouse.set_visible(True)
    assert mouse.get_visible() is True
    # The result is the visibility before the call.
    assert mouse.set_visible(False) is True
    assert mouse.get_visible() is False
    assert mouse.set_visible(True) is False
    assert mouse.get_focused() in (True, False)


BAD_CURSORS = [
    (dict(bitmap=((12, 8), (0, 0), [0] * 12, [0] * 12)), ValueError,
     r"^Cursor width must be divisible by 8\.$"),
    (dict(bitmap=((8, 8), (0, 0), [0] * 7, [0] * 8)), ValueError,
     r"^bitmasks must be sized width\*height/8$"),
    (dict(bitmap=((8, 8), (0, 0), [0] * 8, [0] * 9)), ValueError,
     r"^bitmasks must be sized width\*height/8$"),
    (dict(bitmap=((8, 8), (0, 0), 5, [0] * 8)), TypeError,
     "^xormask and andmask must be sequences$"),
    (dict(bitmap=((8, 8), (0, 0), [0] * 7 + ["x"], [0] * 8)), TypeError,
     "^Invalid number in mask array$"),
    (dict(bitmap=((65536, 65536), (0, 0), [0] * 8, [0] * 8)), ValueError,
     r"^bitmasks must be sized width\*height/8$"),
    (dict(), ValueError, "^Invalid cursor format: no valid template found$"),
    (dict(color=((0, 0), "not a surface")), TypeError, None),
    (dict(system=5), TypeError, None),
]


@pytest.mark.parametrize("kw, exc, msg", BAD_CURSORS)
def test_cursor_argument_errors(video, kw, exc, msg):
    before = mouse._get_cursor()
    with pytest.raises(exc, match=msg):
        mouse._set_cursor(**kw)
    assert mouse._get_cursor() == before


def test_failed_creation_leaves_cursor_data(video):
    before = mouse._get_cursor()
    try:
        mouse._set_cursor(bitmap=((8, 8), (0, 0), [0] * 8, [255] * 8))
    except lumora.error:
        assert mouse._get_cursor() == before
    else:
        pytest.skip("this driver supports cursors")


def test_set_system_cursor_deprecated(video):
    with pytest.warns(DeprecationWarning, match="set_system_cursor"):
        try:
            mouse.set_system_cursor(lumora.SYSTEM_CURSOR_HAND)
        except lumora.error as exc:
            assert str(exc) == "Error while creating system cursor"
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            mouse.set_system_cursor(0)
