"""The hand-written type stubs: one per module, in step with the modules,
and precise enough that mypy catches wrong calls."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

import lumora

pytest.importorskip("mypy")

PKG = os.path.dirname(os.path.abspath(lumora.__file__))
ROOT = os.path.dirname(PKG)
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _modules():
    for dirpath, dirnames, files in os.walk(PKG):
        dirnames[:] = [d for d in dirnames if d not in ("__pycache__", "data", "examples")]
        for f in files:
            m = re.match(r"([A-Za-z_0-9]+)(\.cpython-.*\.so|\.py)$", f)
            if m and m.group(1) != "__main__":
                yield os.path.relpath(os.path.join(dirpath, m.group(1)), PKG)


def _run(*args, cwd):
    # A staged build is found through the search paths; an installed one
    # through site-packages, which mypy must not be given as a path.
    env = dict(os.environ)
    if os.environ.get("LUMORA_STAGE"):
        env.update(PYTHONPATH=ROOT, MYPYPATH=ROOT)
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True,
                          env=env, cwd=cwd)


def test_every_module_has_a_stub():
    assert os.path.isfile(os.path.join(PKG, "py.typed"))
    missing = [m for m in _modules() if not os.path.isfile(os.path.join(PKG, m + ".pyi"))]
    assert missing == []


def test_stubtest_agrees_with_the_modules():
    r = _run("mypy.stubtest", "lumora", "--allowlist",
             os.path.join(REPO, "stubtest-allowlist.txt"), cwd=REPO)
    assert r.returncode == 0, r.stdout + r.stderr


# Each line marked "# E" must be reported, and nothing else.
SNIPPET = """\
import lumora
from lumora import Color, Rect, Surface, draw, event, mask, texelgrid, transform
r = Rect(1, 2, 3, 4)
x: int = r.move(1, 1).centerx
r.center = (5, 6)
c = r.clipline((0, 0), (9, 9))
s = Surface((8, 8), lumora.SRCALPHA, 32)
box: Rect = draw.circle(s, "red", (4, 4), 3)
draw.line(s, Color(1, 2, 3), (0, 0), (7, 7), width=2)
s.blit(s, r, special_flags=lumora.BLEND_ADD)
rects: list[Rect] = s.blits([(s, (0, 0)), (s, r, None, 0)])
k = s.get_colorkey()
k.r  # E
ev = event.Event(lumora.USEREVENT, code=1)
n: int = ev.code
m = mask.Mask((2, 2))
hit = m.overlap(m, (0, 0))
hit[0]  # E
g = texelgrid.TexelGrid(s)
px: int = g[1, 2]
column: int = g[1]  # E
small: Surface = transform.scale(s, (2, 2))
transform.rotate(s, "90")  # E
draw.circle(s, "red", 4, 3)  # E
Rect("a", 2, 3, 4)  # E
s.fill(1.5)  # E
draw.rect(s, (0, 0, 0), r, border_radius="2")  # E
y: str = r.w  # E
lumora.no_such_thing  # E
"""


def test_mypy_checks_calls_against_the_stubs(tmp_path):
    src = tmp_path / "use_stubs.py"
    src.write_text(SNIPPET)
    r = _run("mypy", "--strict", "--no-error-summary", "--cache-dir",
             str(tmp_path / "cache"), str(src), cwd=tmp_path)
    reported = sorted({int(m.group(1)) for m in
                       re.finditer(r"use_stubs\.py:(\d+): error", r.stdout)})
    expected = [i + 1 for i, line in enumerate(SNIPPET.splitlines()) if line.endswith("# E")]
    assert reported == expected, textwrap.indent(r.stdout, "  ")
