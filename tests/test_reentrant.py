"""Arguments whose conversion runs Python that frees what the call works on.

A rect-like object's `.rect`, a sequence's `__getitem__`, `__index__` or
`__bool__` may re-initialise the surface (or font) being used, or quit the
display; every entry point must convert its arguments before it takes the
SDL pointer.  Each case runs in a child process (a use after free may
crash), under the sanitizers when the suite does."""
import pytest

from _sdlwin import run_script

PRELUDE = """
import lumora, lumora.draw as draw, lumora.display as display, lumora.font as font
from lumora import Surface, Rect

class Hostile:
    def __init__(self, value):
        self.value = value
    def fire(self):
        HARM()

class HostileRect(Hostile):
    @property
    def rect(self):
        self.fire()
        return self.value

class HostileSeq(Hostile):
    def __len__(self):
        return len(self.value)
    def __getitem__(self, i):
        self.fire()
        return self.value[i]

class HostileIndex(Hostile):
    def __index__(self):
        self.fire()
        return self.value
    __int__ = __index__
    def __float__(self):
        self.fire()
        return float(self.value)

class HostileBool(Hostile):
    def __bool__(self):
        self.fire()
        return True

RED = (255, 0, 0)
def run(name, call):
    try:
        call()
        print(name, "ok")
    except (lumora.error, ValueError, TypeError, IndexError, RuntimeError) as e:
        print(name, "raised", type(e).__name__)
"""

SURFACE_CASES = """
victim = None
CASES = {
    "fill-color": lambda: victim.fill(HostileSeq(RED)),
    "fill-rect": lambda: victim.fill(RED, HostileRect(Rect(0, 0, 40, 40))),
    "set_at-pos": lambda: victim.set_at(HostileSeq((30, 30)), RED),
    "set_at-color": lambda: victim.set_at((30, 30), HostileSeq(RED)),
    "get_at": lambda: victim.get_at(HostileSeq((30, 30))),
    "get_at_mapped": lambda: victim.get_at_mapped((HostileIndex(30), 30)),
    "set_clip": lambda: victim.set_clip(HostileRect(Rect(0, 0, 40, 40))),
    "subsurface": lambda: victim.subsurface(HostileRect(Rect(10, 10, 30, 30))).fill(RED),
    "map_rgb": lambda: victim.map_rgb(HostileSeq(RED)),
    "set_colorkey": lambda: victim.set_colorkey(HostileSeq(RED)),
    "set_alpha": lambda: victim.set_alpha(HostileIndex(100)),
    "scroll": lambda: victim.scroll(HostileIndex(3), 2),
    "bounding_rect": lambda: victim.get_bounding_rect(HostileIndex(1)),
    "palette_at": lambda: victim.get_palette_at(HostileIndex(3)),
    "line-color": lambda: draw.line(victim, HostileSeq(RED), (0, 0), (49, 49), 3),
    "line-pos": lambda: draw.line(victim, RED, HostileSeq((0, 0)), (49, 49)),
    "lines": lambda: draw.lines(victim, RED, True, [(0, 0), HostileSeq((49, 49)), (0, 49)]),
    "aalines": lambda: draw.aalines(victim, RED, False, [(0, 0), HostileSeq((49, 49))]),
    "aaline": lambda: draw.aaline(victim, HostileSeq(RED), (0, 0), (49, 49)),
    "polygon": lambda: draw.polygon(victim, RED, [(0, 0), (49, 0), HostileSeq((25, 49))]),
    "polygon-width": lambda: draw.polygon(victim, RED, [(0, 0), (49, 0), HostileSeq((25, 49))], 2),
    "rect": lambda: draw.rect(victim, RED, HostileRect(Rect(0, 0, 49, 49))),
    "rect-rounded": lambda: draw.rect(victim, RED, HostileRect(Rect(0, 0, 49, 49)), 0, 8),
    "circle": lambda: draw.circle(victim, RED, HostileSeq((25, 25)), 20),
    "ellipse": lambda: draw.ellipse(victim, HostileSeq(RED), Rect(0, 0, 49, 49)),
    "arc": lambda: draw.arc(victim, RED, HostileRect(Rect(0, 0, 49, 49)), 0, 3, 4),
}
PALETTE_CASES = {
    "set_palette": lambda: victim.set_palette([HostileSeq(RED)] * 3),
    "set_palette_at": lambda: victim.set_palette_at(2, HostileSeq(RED)),
}
"""


@pytest.mark.parametrize("harm", ["reinit", "display_quit"])
def test_surface_and_draw_arguments(harm):
    code = PRELUDE + SURFACE_CASES + """
harm = %r
def HARM():
    if harm == "reinit":
        victim.__init__((2, 1), 0, 8 if victim.get_bitsize() == 32 else 32)
    else:
        display.quit()
for table, depth in ((CASES, 32), (PALETTE_CASES, 8)):
    for name, call in table.items():
        if harm == "reinit":
            victim = Surface((50, 50), 0, depth)
        else:
            display.init()
            victim = display.set_mode((50, 50), 0, depth)
        run(name, call)
""" % harm
    r = run_script(code, timeout=120)
    assert r.returncode == 0, r.stderr[-3000:]
    lines = r.stdout.splitlines()
    assert len(lines) == 28, r.stdout
    if harm == "display_quit":
        # Whatever ran after the quit must have noticed it.
        assert all(l.endswith("ok") or l.endswith("raised error") for l in lines), r.stdout


def test_font_arguments():
    code = PRELUDE + """
f = None
def HARM():
    HOW()
def reinit():
    f.__init__(None, 9)
def quit():
    font.quit()
font.init()
for how in (reinit, quit):
    HOW = how
    for name, call in {
        "render-color": lambda: f.render("hello", True, HostileSeq(RED)),
        "render-bg": lambda: f.render("hello", False, RED, HostileSeq((0, 0, 9))),
        "bold": lambda: setattr(f, "bold", HostileBool(0)),
        "set_italic": lambda: f.set_italic(HostileBool(0)),
        "underline": lambda: setattr(f, "underline", HostileBool(0)),
        "strikethrough": lambda: f.set_strikethrough(HostileBool(0)),
    }.items():
        font.init()
        f = font.Font(None, 30)
        run(how.__name__ + "-" + name, call)
"""
    r = run_script(code, timeout=120)
    assert r.returncode == 0, r.stderr[-3000:]
    lines = r.stdout.splitlines()
    assert len(lines) == 12, r.stdout
    for line in lines:
        if line.startswith("quit"):
            assert line.endswith("raised error"), line
