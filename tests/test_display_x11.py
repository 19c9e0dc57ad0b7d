"""Display, mouse and cursor behaviour that needs a real X server.

Run under xvfb-run; every test starts a fresh interpreter on SDL's x11
driver so that the headless tests' state never mixes in.
"""
import os

import pytest

if not os.environ.get("DISPLAY"):
    pytest.skip("no X server (DISPLAY is not set)", allow_module_level=True)

pytest.importorskip("lumora.display")

import _sdlwin  # noqa: E402

pytestmark = pytest.mark.xvfb

PRELUDE = """
import warnings
warnings.simplefilter("ignore")
import lumora
import lumora.display as d, lumora.mouse as m
import _sdlwin
"""


def run(code, **env):
    env.setdefault("SDL_VIDEODRIVER", "x11")
    res = _sdlwin.run_script(PRELUDE + code, env)
    assert res.returncode == 0, res.stderr
    return res.stdout


def values(out):
    """Lines "name value..." of a script's output as a dict of strings."""
    return {line.split(" ", 1)[0]: line.split(" ", 1)[1] if " " in line else ""
            for line in out.splitlines()}


def test_window_position_from_environment():
    out = run("""
d.set_mode((120, 90))
d.flip()
print("pos", *_sdlwin.position(_sdlwin.window()))
""", SDL_VIDEO_WINDOW_POS="100,50")
    assert values(out)["pos"] == "100 50"


def test_window_centred():
    out = run("""
d.set_mode((120, 90))
w, h = d.get_desktop_sizes()[0]
x, y = _sdlwin.position(_sdlwin.window())
print("off", abs(x - (w - 120) // 2) <= 1, abs(y - (h - 90) // 2) <= 1)
""", SDL_VIDEO_CENTERED="1")
    assert values(out)["off"] == "True True"


def test_wm_info_words():
    out = run("""
d.set_mode((50, 50))
info = d.get_wm_info()
print("window", info["window"])
print("display", type(info["display"]).__name__)
print("shell", info["shell_surface"])
""")
    v = values(out)
    assert int(v["window"]) != 0
    assert v["display"] == "PyCapsule"
    assert v["shell"] == "None"  # an empty word is None, not a capsule


def test_gamma():
    out = run("""
d.set_mode((50, 50))
print("gamma", d.set_gamma(1.0), d.set_gamma_ramp(*[list(range(0, 65535, 256))] * 3))
""")
    assert values(out)["gamma"] in ("True True", "False False")


def test_system_bitmap_and_colour_cursors():
    out = run("""
d.set_mode((50, 50))
m._set_cursor(system=(lumora.SYSTEM_CURSOR_HAND,))
print("system", m._get_cursor() == (lumora.SYSTEM_CURSOR_HAND,))
xor, and_ = [0x18] * 8, [0x3c] * 8
m._set_cursor(bitmap=((8, 8), (1, 2), xor, and_))
c = m._get_cursor()
print("bitmap", c[0] == (8, 8), c[1] == (1, 2), c[2] is xor, c[3] is and_)
surf = lumora.Surface((16, 16), lumora.SRCALPHA)
surf.fill((255, 0, 0, 255))
m._set_cursor(color=((3, 4), surf))
print("color", m._get_cursor() == ((3, 4), surf))
m._set_cursor(system=(0,))
print("back", m._get_cursor())
""")
    v = values(out)
    assert v["system"] == "True"
    assert v["bitmap"] == "True True True True"
    assert v["color"] == "True"
    assert v["back"] == "(0,)"


def test_toggle_fullscreen_plain_and_scaled():
    out = run("""
s = d.set_mode((320, 200))
r = d.toggle_fullscreen()
print("in", r, d.is_fullscreen() if r == 0 else "skip")
r = d.toggle_fullscreen()
print("out", r, d.is_fullscreen())
s.fill((1, 2, 3))
d.flip()
s = d.set_mode((160, 100), lumora.SCALED)
d.toggle_fullscreen()
print("sfull", d.is_fullscreen())
d.toggle_fullscreen()
w, h = d.get_window_size()
print("multiple", w % 160 == 0 and h % 100 == 0 and w // 160 == h // 100)
d.flip()
""")
    v = values(out)
    assert v["in"] in ("0 True", "-1 skip")
    assert v["out"].endswith("False")
    assert v["sfull"] == "True"
    assert v["multiple"] == "True"


def test_scaled_mouse_maps_to_surface():
    out = run("""
d.set_mode((100, 50), lumora.SCALED)
for _ in range(3):
    m.set_pos(99, 49)
    lumora.event.pump() if hasattr(lumora, "event") else None
x, y = m.get_pos()
print("inside", 0 <= x < 100 and 0 <= y < 50)
""")
    assert values(out)["inside"] == "True"


def test_opengl_display():
    out = run("""
try:
    s = d.set_mode((64, 48), lumora.OPENGL | lumora.DOUBLEBUF)
except lumora.error as e:
    print("nogl", e)
    raise SystemExit(0)
print("surface", s.get_size(), d.get_surface() is s)
try:
    d.update()
except lumora.error as e:
    print("update", e)
d.flip()
print("dbl", d.gl_get_attribute(lumora.GL_DOUBLEBUFFER))
s2 = d.set_mode((64, 48))
print("plain", s2 is s, s2.get_size())
""")
    v = values(out)
    if "nogl" in v:
        pytest.skip("X server without OpenGL: " + v["nogl"])
    assert v["surface"] == "(64, 48) True"
    assert v["update"] == "Cannot update an OPENGL display"
    assert v["plain"] == "True (64, 48)"


def test_demo_plays_in_a_window():
    res = _sdlwin.run_script("""
import sys
from lumora.examples import collector
sys.exit(collector.main(["--frames", "30"]))
""", {"SDL_VIDEODRIVER": None})
    assert res.returncode == 0, res.stderr
    assert "frames 30 " in res.stdout and res.stdout.rstrip().endswith("driver x11")


fault_shim = _sdlwin.fault_shim_fixture()


@pytest.mark.parametrize("fn", ["SDL_CreateTexture", "SDL_CreateRenderer"])
def test_toggle_checks_recreated_software_renderer(fault_shim, fn):
    """A software renderer is re-created by toggle_fullscreen on X11; when
    SDL refuses the new renderer or texture the toggle raises and leaves no
    half-made renderer behind, and set_mode starts afresh."""
    env = _sdlwin.fault_env(fault_shim, fn + ":2")
    env["SDL_RENDER_DRIVER"] = "software"
    out = run("""
s = d.set_mode((160, 100), lumora.SCALED)
print("renderer", d._get_renderer_info()[0])
try:
    print("toggle", d.toggle_fullscreen())
except lumora.error as e:
    print("toggle", e)
print("after", d._get_renderer_info())
try:
    d.flip()
except lumora.error:
    pass
s = d.set_mode((160, 100), lumora.SCALED)
s.fill((5, 6, 7))
d.flip()
print("again", d._get_renderer_info() is not None, s.get_size())
""", **env)
    v = values(out)
    assert v["renderer"] == "software"
    assert v["toggle"] == "injected %s failure" % fn
    assert v["after"] == "None"
    assert v["again"] == "True (160, 100)"


def test_opengl_letterbox_viewport():
    """A SCALED OpenGL display keeps its aspect ratio in the viewport after
    resizes, and a degenerate size does not divide by zero."""
    out = run("""
import ctypes
try:
    d.set_mode((64, 48), lumora.OPENGL | lumora.SCALED)
except lumora.error as e:
    print("nogl", e)
    raise SystemExit(0)
S = _sdlwin.SDL
S.SDL_GL_GetProcAddress.restype = ctypes.c_void_p
get_iv = ctypes.CFUNCTYPE(None, ctypes.c_uint, ctypes.POINTER(ctypes.c_int))(
    S.SDL_GL_GetProcAddress(b"glGetIntegerv"))

class Ev:
    def __init__(self, w, h):
        self.w, self.h = w, h

for w, h in ((128, 48), (64, 96), (0, 0), (100, 75)):
    print("r%dx%d" % (w, h), d._resize_event(Ev(w, h)), end=" ")
    vp = (ctypes.c_int * 4)()
    get_iv(0x0BA2, vp)  # GL_VIEWPORT
    print(*vp)
""")
    v = values(out)
    if "nogl" in v:
        pytest.skip("X server without OpenGL: " + v["nogl"])
    # Wider than 4:3: bars left and right, centred.  Taller: the picture
    # keeps the full width and sits at the bottom.
    assert v["r128x48"] == "False 32 0 64 48"
    assert v["r64x96"] == "False 0 0 64 48"
    assert v["r0x0"].startswith("False")
    assert v["r100x75"] == "False 0 0 100 75"
