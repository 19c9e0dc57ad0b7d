"""lumora.display on SDL's dummy and offscreen video drivers."""
import math
import os
import warnings

import pytest

lumora = pytest.importorskip("lumora")
display = pytest.importorskip("lumora.display")
from lumora import Rect, Surface  # noqa: E402

import _sdlwin  # noqa: E402

DRIVERS = ("dummy", "offscreen")


@pytest.fixture(params=DRIVERS)
def video(request, monkeypatch):
    """Video initialised on each headless driver; everything quit after."""
    display.quit()
    monkeypatch.setenv("SDL_VIDEODRIVER", request.param)
    try:
        display.init()
    except lumora.error as exc:
        pytest.skip("driver %s unavailable: %s" % (request.param, exc))
    yield request.param
    display.quit()


@pytest.fixture
def novideo():
    display.quit()
    yield
    display.quit()


def quiet_set_mode(*args, **kw):
    # Software renderers warn that they are not accelerated.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return display.set_mode(*args, **kw)


def expected_scaled_size(w, h):
    bx, by, bw, bh = _sdlwin.usable_bounds()
    k = max(1, min(bw // w, bh // h))
    return k * w, k * h


# ---------------------------------------------------------------------------
# Lifecycle and queries
# ---------------------------------------------------------------------------
def test_init_quit_cycle(video):
    assert display.get_init() is True
    assert display.get_driver() == video
    display.quit()
    display.quit()  # quitting twice is harmless
    assert display.get_init() is False
    display.init()
    assert display.get_init() is True


@pytest.mark.parametrize("call", [
    lambda: display.get_driver(), lambda: display.Info(), lambda: display.get_wm_info(),
    lambda: display.get_desktop_sizes(), lambda: display.list_modes(),
    lambda: display.mode_ok((10, 10)), lambda: display.flip(), lambda: display.update(),
    lambda: display.iconify(), lambda: display.toggle_fullscreen(),
    lambda: display.is_fullscreen(), lambda: display.set_palette(),
    lambda: display.get_allow_screensaver(), lambda: display.set_allow_screensaver(True),
    lambda: display.gl_get_attribute(0), lambda: display.gl_set_attribute(0, 0),
    lambda: display._get_renderer_info(),
])
def test_needs_video(novideo, call):
    with pytest.raises(lumora.error, match="^video system not initialized$"):
        call()


def test_queries_without_window(video):
    assert display.get_active() is False
    assert display.get_surface() is None
    assert display.get_wm_info() == {}
    assert display.get_caption() == ()
    for call in (display.get_window_size, display.iconify, display.is_fullscreen):
        with pytest.raises(lumora.error, match="^No open window$"):
            call()
    with pytest.raises(lumora.error, match="^No display mode is set$"):
        display.set_palette([(0, 0, 0)])
    with pytest.raises(lumora.error, match="^Display mode not set$"):
        display.flip()


def test_info_object(video):
    info = display.Info()
    assert (info.wm, info.hw, info.blit_hw, info.blit_sw_A, info.blit_fill) == (1, 0, 0, 0, 0)
    assert info.video_mem == 0
    desk = display.get_desktop_sizes()[0]
    assert (info.current_w, info.current_h) == desk
    with pytest.raises(AttributeError, match="does not exist in vidinfo"):
        info.nonsense
    quiet_set_mode((320, 200))
    info = display.Info()
    assert (info.current_w, info.current_h) == (320, 200)
    surf = display.get_surface()
    assert info.bitsize == surf.get_bitsize()
    assert info.masks == surf.get_masks()
    assert info.shifts == surf.get_shifts()
    text = repr(info)
    assert text.startswith("<VideoInfo(hw = 0, wm = 1,video_mem = 0\n")
    assert "current_w = 320, current_h = 200" in text
    r, g, b, a = info.masks
    assert "masks =  (0x%08x, 0x%08x, 0x%08x, 0x%08x)" % (r, g, b, a) in text


def test_display_counts_and_modes(video):
    n = display.get_num_displays()
    assert n >= 1 and len(display.get_desktop_sizes()) == n
    modes = display.list_modes()
    assert modes == display.list_modes(flags=0)  # flags is not used
    assert all(a != b for a, b in zip(modes, modes[1:]))
    for bad in (-1, n):
        with pytest.raises(ValueError, match="display index must be between 0"):
            display.list_modes(display=bad)
        with pytest.raises(ValueError, match="display index must be between 0"):
            display.mode_ok((10, 10), display=bad)
    assert display.mode_ok((640, 480), 0, 7) == 0
    w, h = display.get_desktop_sizes()[0]
    assert display.mode_ok((w, h), 0, 32) in (24, 32)
    assert display.mode_ok((w, h), lumora.FULLSCREEN, 32) in (24, 32)


@pytest.mark.parametrize("name, doc", [
    ("init", "init()\nInitialize the display module"),
    ("get_active", "get_active()\nReturns True when the display is active on the screen"),
    ("Info", "Info() -> VideoInfo\nCreate a video display information object"),
    ("list_modes", "list_modes(depth=0, flags=lumora.FULLSCREEN, display=0)\n"
                   "Get list of available fullscreen modes"),
    ("mode_ok", "mode_ok(size, flags=0, depth=0, display=0)\n"
                "Pick the best color depth for a display mode"),
    ("set_mode", "set_mode(size=(0, 0), flags=0, depth=0, display=0, vsync=0) -> Surface\n"
                 "Initialize a window or screen for display"),
    ("get_caption", "get_caption() -> (title, icontitle)\nGet the current window caption"),
    ("is_fullscreen", "provisional API, subject to change"),
])
def test_docstrings(name, doc):
    assert getattr(display, name).__doc__ == doc
    assert display.__doc__ == "lumora module to control the display window and screen"


# ---------------------------------------------------------------------------
# set_mode
# ---------------------------------------------------------------------------
@pytest.mark.parametrize("args, exc, msg", [
    (((-1, 10),), lumora.error, "^Cannot set negative sized display mode$"),
    (((10, -1),), lumora.error, "^Cannot set negative sized display mode$"),
    (((0, 0), 0x200), lumora.error, "^Cannot set 0 sized SCALED display mode$"),
    (((640, 0), 0x200), lumora.error, "^Cannot set 0 sized SCALED display mode$"),
    (("ab",), TypeError, "^size must be two numbers$"),
    (((1, 2, 3),), TypeError, "^size must be two numbers$"),
    (((10, 10), 2 ** 32), OverflowError, None),
])
def test_set_mode_bad_arguments(video, args, exc, msg):
    with pytest.raises(exc, match=msg):
        display.set_mode(*args)
    assert display.get_surface() is None


def test_refused_set_mode_keeps_the_display(video):
    """A request refused up front changes nothing: the SCALED display keeps
    its renderer, and a refused OPENGL request leaves no OpenGL mode."""
    surf = quiet_set_mode((64, 48), lumora.SCALED)
    with pytest.raises(lumora.error, match="^Cannot set 0 sized SCALED display mode$"):
        display.set_mode((64, 0), lumora.SCALED)
    with pytest.raises(lumora.error):
        display.set_mode((64, 48), display=99)
    assert display._get_renderer_info() is not None
    assert display.get_surface() is surf
    surf.fill((9, 9, 9))
    display.flip()
    plain = quiet_set_mode((40, 30))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(FutureWarning, match="^SCALED|OPENGL is experimental"):
            display.set_mode((40, 30), lumora.OPENGL | lumora.SCALED)
    display.update((0, 0, 5, 5))  # an OPENGL display would refuse this
    assert display.get_surface() is plain


def test_set_mode_defaults_to_desktop_size(video):
    surf = quiet_set_mode()
    assert surf.get_size() == display.get_desktop_sizes()[0]
    assert display.get_active() is True


@pytest.mark.parametrize("flag", [lumora.FULLSCREEN, 0x80000000])
def test_fullscreen_flag_signed_and_unsigned(video, flag):
    surf = quiet_set_mode((0, 0), flag)
    assert surf.get_size() == display.get_desktop_sizes()[0]
    assert display.is_fullscreen() is True


def test_set_mode_reuses_surface_object(video):
    first = quiet_set_mode((320, 200))
    assert first.get_size() == (320, 200)
    assert display.get_surface() is first
    assert display.get_window_size() == (320, 200)
    assert first.get_at((5, 5))[:3] == (0, 0, 0)  # cleared to black
    second = quiet_set_mode((200, 100))
    assert second is first and first.get_size() == (200, 100)
    first.fill((10, 20, 30))
    display.flip()
    assert first.get_at((199, 99))[:3] == (10, 20, 30)


def test_window_surface_follows_resize(video):
    """A resize behind lumora's back: the user's object is re-pointed."""
    surf = quiet_set_mode((320, 200), lumora.RESIZABLE)
    win = _sdlwin.window()
    assert win
    _sdlwin.SDL.SDL_SetWindowSize(win, 400, 300)
    assert display.get_surface() is surf
    assert surf.get_size() == (400, 300)
    surf.fill((1, 2, 3))  # would write into a freed surface before
    _sdlwin.SDL.SDL_SetWindowSize(win, 120, 90)
    display.flip()
    assert surf.get_size() == (120, 90)
    display.update((0, 0, 50, 50))


def test_scaled_mode(video):
    surf = quiet_set_mode((320, 200), lumora.SCALED)
    assert surf.get_size() == (320, 200)
    assert surf.get_bitsize() == 32
    assert display.get_window_size() == expected_scaled_size(320, 200)
    name, flags = display._get_renderer_info()
    assert isinstance(name, str) and isinstance(flags, int)
    assert display.get_surface() is surf
    surf.fill((255, 0, 0))
    display.flip()
    display.update((0, 0, 1, 1))  # presents the whole surface
    # Back to a plain window: the renderer is gone.
    plain = quiet_set_mode((100, 80))
    assert plain is surf and display._get_renderer_info() is None
    assert plain.get_size() == (100, 80)


def test_scaled_quit_and_again(video):
    """Renderer and texture are forgotten by quit and rebuilt later."""
    for _ in range(3):
        quiet_set_mode((64, 48), lumora.SCALED)
        display.quit()
        display.init()
        assert display._get_renderer_info() is None
    surf = quiet_set_mode((64, 48), lumora.SCALED)
    display.flip()
    assert surf.get_size() == (64, 48)


def test_failure_after_renderer_cleans_up(video):
    """A warning turned error after the renderer exists fails set_mode and
    leaves no renderer, window, caption or live display surface behind."""
    old = quiet_set_mode((50, 40))
    display.set_caption("before")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        try:
            display.set_mode((64, 48), lumora.SCALED)
        except Warning as exc:
            assert "renderer" in str(exc) or "vsync" in str(exc)
        else:
            pytest.skip("accelerated renderer: no warning to fail on")
    assert display._get_renderer_info() is None
    assert display.get_surface() is None
    assert display.get_caption() == ()
    with pytest.raises(lumora.error, match="^No open window$"):
        display.get_window_size()
    with pytest.raises(lumora.error, match="display Surface quit"):
        old.fill(0)
    again = quiet_set_mode((64, 48), lumora.SCALED)
    display.flip()
    assert again.get_size() == (64, 48)


@pytest.mark.parametrize("flags", [0, lumora.SCALED])
def test_quit_detaches_display_surface(video, flags):
    surf = quiet_set_mode((32, 32), flags)
    display.quit()
    with pytest.raises(lumora.error, match="^display Surface quit$"):
        surf.fill((1, 1, 1))
    assert display.get_surface() is None


def test_update_arguments(video):
    quiet_set_mode((100, 100))
    for args in [(None,), ([],), ([None, (0, 0, 10, 10)],), (Rect(0, 0, 5, 5),),
                 (0, 0, 10, 10), ((0, 0), (10, 10)), ([(0, 0, 0, 0)],),
                 ([Rect(-50, -50, 500, 500), (90, 90, 40, 40)],),
                 ((2 ** 31 - 1, 0, 2 ** 31 - 1, 5),), ((-2 ** 31, -2 ** 31, 5, 5),),
                 ((100, 100, 10, 10),)]:
        assert display.update(*args) is None
    assert display.update() is None
    with pytest.raises(ValueError, match="^update_rects requires a single list of rects$"):
        display.update([(0, 0, 1, 1), 7])
    with pytest.raises(ValueError, match="^update requires a rectstyle or sequence of rectstyles$"):
        display.update(1, 2)
    with pytest.raises(ValueError, match="^update requires a rectstyle or sequence of rectstyles$"):
        display.update(3)


def test_set_mode_starts_video(novideo):
    assert display.get_init() is False
    surf = quiet_set_mode((16, 16))
    assert display.get_init() is True and surf.get_size() == (16, 16)


# ---------------------------------------------------------------------------
# Window management
# ---------------------------------------------------------------------------
def test_caption(video):
    display.set_caption("before window", "ignored")
    assert display.get_caption() == ("before window", "before window")
    quiet_set_mode((20, 20))
    assert display.get_caption() == ("before window", "before window")
    display.set_caption(title="héllo")
    assert display.get_caption() == ("héllo", "héllo")
    display.quit()
    assert display.get_caption() == ()


def test_default_caption(video):
    quiet_set_mode((20, 20))
    assert display.get_caption() == ("lumora window", "lumora window")


def test_set_icon(video):
    with pytest.raises(TypeError, match="^Argument to set_icon must be a Surface$"):
        display.set_icon(5)
    icon = Surface((32, 32))
    display.set_icon(icon)
    quiet_set_mode((20, 20))


def test_set_icon_starts_video(novideo):
    display.set_icon(Surface((8, 8)))
    assert display.get_init() is True


@pytest.mark.parametrize("ramp, exc, msg", [
    (5, TypeError, "^Array must be sequence type$"),
    ([0] * 255, ValueError, "^gamma ramp must be 256 elements long$"),
    ([0.0] * 256, ValueError, "^gamma ramp must contain integer elements$"),
    ([0] * 255 + [65535], ValueError, r"^integers in gamma ramp must be between 0 and 0xFFFF$"),
    ([0] * 255 + [-1], OverflowError, None),
])
def test_gamma_ramp_validation(video, ramp, exc, msg):
    good = list(range(0, 65535, 256))
    args = [good, good, good]
    args[1] = ramp
    with pytest.warns(DeprecationWarning, match="set_gamma_ramp deprecated"):
        with pytest.raises(exc, match=msg):
            display.set_gamma_ramp(*args)


def test_gamma_without_window_is_kept(video):
    with pytest.warns(DeprecationWarning, match="^lumora.display.set_gamma deprecated since 2.2.0$"):
        assert display.set_gamma(1.0) is True
    with pytest.warns(DeprecationWarning):
        assert display.set_gamma_ramp(*[list(range(0, 65535, 256))] * 3) is True


@pytest.mark.parametrize("value", [math.nan, -1.0])
def test_gamma_rejects_bad_values(video, value):
    with pytest.warns(DeprecationWarning):
        with pytest.raises(ValueError, match="finite"):
            display.set_gamma(1.0, value, 1.0)


def test_gamma_warning_as_error(video):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            display.set_gamma(1.0)


def test_palette_needs_colormapped_display(video):
    quiet_set_mode((20, 20))
    for args in ((), ([(1, 2, 3)],)):
        with pytest.raises(lumora.error, match="^Display mode is not colormapped$"):
            display.set_palette(*args)


def test_screensaver_and_gl_attributes(video):
    display.set_allow_screensaver(False)
    assert display.get_allow_screensaver() is False
    display.set_allow_screensaver()
    assert display.get_allow_screensaver() is True
    assert display.gl_set_attribute(-1, 0) is None


def test_resize_helpers(video):
    assert display._set_autoresize(False) is False
    assert display._set_autoresize(1) is True

    class Ev:
        w, h = 50, 40

    with pytest.raises(lumora.error, match="^No open window$"):
        display._resize_event(Ev())
    quiet_set_mode((20, 20))
    assert display._resize_event(Ev()) == -1  # plain window
    quiet_set_mode((20, 20), lumora.SCALED)
    assert display._resize_event(Ev()) is False
    assert display.get_window_size() == (50, 40)


# ---------------------------------------------------------------------------
# Environment (fresh interpreters)
# ---------------------------------------------------------------------------
ENV_SCRIPT = """
import os, warnings
warnings.simplefilter("ignore")
import lumora, lumora.display as d
import _sdlwin
_sdlwin.SDL.SDL_getenv.restype = __import__('ctypes').c_char_p
try:
    d.init()
    print("init ok")
except lumora.error as e:
    print("init failed")
# SDL changes the C environment, which os.environ does not see again.
got = _sdlwin.SDL.SDL_getenv(b"SDL_VIDEODRIVER")
print("driver=%r" % (got.decode() if got is not None else None))
"""


@pytest.mark.parametrize("value, expect", [("", ""), ("win", "windows"), ("WINDIB", "windows"),
                                           ("dummy", "dummy")])
def test_videodriver_rewrite(value, expect):
    res = _sdlwin.run_script(ENV_SCRIPT, {"SDL_VIDEODRIVER": value, "DISPLAY": None,
                                          "WAYLAND_DISPLAY": None})
    assert "driver=%r" % expect in res.stdout, res.stderr


WINDOW_SCRIPT = """
import warnings
warnings.simplefilter("ignore")
import lumora, lumora.display as d
import _sdlwin
s = d.set_mode((100, 80))
w = _sdlwin.window()
print("pos", *_sdlwin.position(w))
print("renderer", d._get_renderer_info() is not None)
print("size", *d.get_window_size())
"""


def test_window_pos_from_environment():
    res = _sdlwin.run_script(WINDOW_SCRIPT, {"SDL_VIDEO_WINDOW_POS": "100,50"})
    assert "pos 100 50" in res.stdout, res.stderr


def test_force_scale_from_environment():
    res = _sdlwin.run_script(WINDOW_SCRIPT, {"LUMORA_FORCE_SCALE": "1"})
    assert "renderer True" in res.stdout, res.stderr
    res = _sdlwin.run_script(WINDOW_SCRIPT, {})
    assert "renderer False" in res.stdout and "size 100 80" in res.stdout, res.stderr


def test_smooth_scaled_window_keeps_aspect():
    """With smooth scaling asked for, the window is the largest of the
    display's aspect ratio inside the usable area, computed in floating
    point (an integer ratio 320 / 200 = 1 would make a square window)."""
    res = _sdlwin.run_script(WINDOW_SCRIPT.replace("(100, 80))", "(320, 200), lumora.SCALED)")
                             + "print('bounds', *_sdlwin.usable_bounds())\n",
                             {"SDL_HINT_RENDER_SCALE_QUALITY": "1"})
    out = dict(line.split(" ", 1) for line in res.stdout.splitlines())
    assert "bounds" in out, res.stderr
    bx, by, bw, bh = map(int, out["bounds"].split())
    a = 320 / 200
    want = (int(bh * a), bh) if bw / bh > a else (bw, int(bw / a))
    assert out["size"] == "%d %d" % want


# ---------------------------------------------------------------------------
# SDL refusing the renderer or its texture (a preloaded shim makes it)
# ---------------------------------------------------------------------------
fault_shim = _sdlwin.fault_shim_fixture()


FAULT_SCRIPT = """
import warnings
warnings.simplefilter("ignore")
import lumora, lumora.display as d
old = d.set_mode((50, 40))
try:
    d.set_mode((64, 48), lumora.SCALED)
    print("failed no")
except lumora.error as e:
    print("failed", e)
print("renderer", d._get_renderer_info())
print("surface", d.get_surface())
for call in (d.get_window_size, lambda: old.fill(0), d.flip):
    try:
        call()
        print("call ok")
    except lumora.error as e:
        print("call", e)
s = d.set_mode((64, 48), lumora.SCALED)
s.fill((1, 2, 3))
d.flip()
print("again", s.get_size(), d._get_renderer_info() is not None)
d.quit()
print("done")
"""


@pytest.mark.parametrize("fn, msg", [
    ("SDL_CreateTexture", "injected SDL_CreateTexture failure"),
    ("SDL_CreateRenderer", "failed to create renderer"),
])
def test_scaled_set_mode_refused(fault_shim, fn, msg):
    """A refused renderer or texture fails set_mode and leaves neither
    renderer nor window nor a surface pointing into them; the next SCALED
    set_mode starts afresh."""
    res = _sdlwin.run_script(FAULT_SCRIPT, dict(_sdlwin.fault_env(fault_shim, fn + ":1"),
                                                SDL_VIDEODRIVER="dummy"))
    lines = res.stdout.splitlines()
    assert res.returncode == 0 and lines[-1] == "done", res.stdout + res.stderr
    assert lines[:6] == ["failed " + msg, "renderer None", "surface None",
                         "call No open window", "call display Surface quit",
                         "call Display mode not set"]
    assert lines[6] == "again (64, 48) True"
