"""lumora.shapekit: pixels, spans, boxes, lines and polygons."""
import os
import subprocess
import sys
import threading

import pytest

import _shaperef as ref
from _shaperef import FORMATS, GLASS, OPAQUE, Model, make

import lumora
from lumora import Surface
import lumora.shapekit as sk

COLORS = [OPAQUE, GLASS]
CLIPS = [None, (4, 3, 25, 20)]


def fmt_id(f):
    return f[0]


@pytest.fixture(params=[(f, c) for f in FORMATS for c in CLIPS],
                ids=lambda p: p[0][0] + ("-clip" if p[1] else ""))
def surf(request):
    return make(request.param[0], clip=request.param[1])


def drawn(s, fn, model_fn, *args):
    """Draw with both and compare every pixel."""
    m = Model(s)
    assert fn(s, *args) is None
    model_fn(m, *args)
    assert m.diff() == []
    return m


def drawn_all(s, fn, model_fn, arglist):
    """Every argument tuple in both colours drawn over one another."""
    m = Model(s)
    for args in arglist:
        for color in COLORS:
            assert fn(s, *args, color) is None
            model_fn(m, *args, color)
    assert m.diff() == []


# --- the blend rule ------------------------------------------------------------

def test_blend_moves_every_channel_halfway():
    s = make(FORMATS[4], bg=(200, 200, 200, 200))
    sk.pixel(s, 1, 1, (100, 100, 100, 128))
    assert s.get_at((1, 1)) == (150, 150, 150, 164)
    sk.pixel(s, 2, 2, (10, 20, 30, 255))
    assert s.get_at((2, 2)) == (10, 20, 30, 255)
    # Floored toward the destination: 200 -> 0 at 1/256 steps.
    sk.pixel(s, 3, 3, (0, 255, 201, 1))
    assert s.get_at((3, 3)) == (199, 200, 200, 199)


def test_pixel(surf):
    m = Model(surf)
    for color in COLORS + [(0, 0, 0, 0), (255, 255, 255, 254)]:
        for x, y in [(0, 0), (5, 5), (24, 17), (39, 29), (3, 22), (-1, 4),
                     (40, 2), (5, 5)]:
            sk.pixel(surf, x, y, color)
            m.put(x, y, color)
    assert m.diff() == []


# --- lines ---------------------------------------------------------------------

LINES = [(1, 1, 30, 7), (30, 7, 1, 1), (3, 25, 9, 2), (9, 2, 3, 25),
         (0, 0, 20, 20), (20, 0, 0, 20), (5, 12, 35, 13), (-20, -5, 50, 40),
         (-100, 10, 200, 12), (2, -50, 30, 80), (45, 0, 45, 29),
         (-32768, -32768, 32767, 32767), (32767, -32768, -32768, 32767),
         (-5, -5, -1, -20)]


def test_line(surf):
    drawn_all(surf, sk.line, ref.line, LINES)


POLYS = [[(2, 2), (30, 5), (12, 25)], [(2, 28), (38, 2), (20, 20), (-10, 15)],
         [(5, 5), (25, 5), (25, 20), (5, 20)], [(20, 2), (38, 27), (3, 26)]]


def aaedge(m, *args):
    ref.aaline(m, *args, False)


def test_polygons_and_trigons(surf):
    drawn_all(surf, sk.polygon, ref.polygon, [(p,) for p in POLYS])
    drawn_all(surf, sk.aapolygon,
              lambda m, p, c: ref.polygon(m, p, c, edge=aaedge),
              [(p,) for p in POLYS])
    drawn_all(surf, sk.filled_polygon, ref.filled_polygon,
              [(p,) for p in POLYS])
    tris = [tuple(v for pt in p for v in pt) for p in POLYS if len(p) == 3]

    def as_pts(a):
        return [a[0:2], a[2:4], a[4:6]]
    drawn_all(surf, sk.trigon, lambda m, *a: ref.polygon(
        m, as_pts(a[:6]), a[6]), tris)
    drawn_all(surf, sk.aatrigon, lambda m, *a: ref.polygon(
        m, as_pts(a[:6]), a[6], edge=aaedge), tris)
    drawn_all(surf, sk.filled_trigon, lambda m, *a: ref.filled_polygon(
        m, as_pts(a[:6]), a[6]), tris)


def test_aapolygon_blends_each_vertex_once():
    s = make(FORMATS[4])
    m = Model(s)
    pts = [(3, 3), (30, 8), (12, 26), (3, 20)]
    sk.aapolygon(s, pts, GLASS)
    ref.polygon(m, pts, GLASS, edge=aaedge)
    assert m.diff() == []
    assert all(m.writes[p] == 1 for p in pts)


def test_filled_square_takes_bottom_row():
    s = make(FORMATS[4], bg=(0, 0, 0, 0))
    sk.filled_polygon(s, [(0, 0), (10, 0), (10, 10), (0, 10)], OPAQUE)
    got = {(x, y) for y in range(30) for x in range(40)
           if s.get_at((x, y)) == OPAQUE}
    assert got == {(x, y) for x in range(11) for y in range(11)}


@pytest.mark.parametrize("pts", [
    [(-30000, 0), (30000, 0), (30000, 20), (-30000, 20)],
    [(-30000, -3000), (32767, 25), (-32768, 29)],
    [(-32768, 3), (32767, 5), (32767, 32767), (-32768, 32767)]], ids=str)
def test_wide_polygons_keep_their_intersections(pts):
    s = make(FORMATS[3])
    drawn(s, lambda s: sk.filled_polygon(s, pts, GLASS),
          lambda m: ref.filled_polygon(m, pts, GLASS))


def test_point_coordinates_are_clamped():
    a, b = make(FORMATS[3]), make(FORMATS[3])
    sk.filled_polygon(a, [(0, 0), (100000, 0), (5, 2 ** 70)], OPAQUE)
    sk.filled_polygon(b, [(0, 0), (32767, 0), (5, 32767)], OPAQUE)
    assert all(a.get_at_mapped((x, y)) == b.get_at_mapped((x, y))
               for x in range(40) for y in range(30))


def test_polygon_fills_agree_across_threads():
    pts = [[(i, 0), (39, 3 + i), (20 - i, 29), (0, 10 + i)] for i in range(6)]
    surfs = [make(FORMATS[4]) for _ in pts]
    models = [Model(s) for s in surfs]
    for m, p in zip(models, pts):
        for _ in range(20):
            ref.filled_polygon(m, p, GLASS)

    def work(s, p):
        for _ in range(20):
            sk.filled_polygon(s, p, GLASS)
    threads = [threading.Thread(target=work, args=a) for a in zip(surfs, pts)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(m.diff() == [] for m in models)


def test_bezier(surf):
    drawn_all(surf, sk.bezier, ref.bezier,
              [(p, n) for n in (2, 5, 17) for p in (
                  [(1, 1), (20, 28), (38, 2)],
                  [(2, 27), (5, 2), (30, 3), (37, 25), (15, 15)])])


def test_bezier_segments_and_end_on_the_last_point():
    out = ref.bezier_points([(0, 0), (10, 20), (20, 0)], 2)
    assert len(out) - 1 == 7 and out[0] == (0, 0) and out[-1] == (20, 0)
    s = make(FORMATS[4], bg=(0, 0, 0, 0))
    sk.bezier(s, [(0, 0), (10, 20), (20, 0)], 2, OPAQUE)
    assert s.get_at((0, 0)) == OPAQUE and s.get_at((20, 0)) == OPAQUE


# --- arguments -----------------------------------------------------------------

NAMES = ["pixel", "hline", "vline", "rectangle", "box", "line", "circle",
         "arc", "aacircle", "filled_circle", "ellipse", "aaellipse",
         "filled_ellipse", "pie", "trigon", "aatrigon", "filled_trigon",
         "polygon", "aapolygon", "filled_polygon", "textured_polygon",
         "bezier"]


def test_functions_and_docstrings():
    assert sk.__doc__ == "lumora module for drawing shapes"
    for name in NAMES:
        doc = getattr(sk, name).__doc__.split("\n")
        want = "rectangle" if name == "box" else name
        assert doc[0].startswith(want + "(surface, ") and \
            doc[0].endswith(") -> None") and doc[1].startswith("draw ")
    assert sk.pixel.__doc__ == "pixel(surface, x, y, color) -> None\ndraw a pixel"
    assert sk.box.__doc__ == sk.rectangle.__doc__ == \
        "rectangle(surface, rect, color) -> None\ndraw a rectangle"
    assert sk.bezier.__doc__ == \
        "bezier(surface, points, steps, color) -> None\ndraw a Bezier curve"


S = Surface((10, 10), 0, 32)
T3 = [(0, 0), (5, 0), (5, 5)]


@pytest.mark.parametrize("call,exc,msg", [
    (lambda: sk.pixel(S, 40000, 0, OPAQUE), OverflowError, None),
    (lambda: sk.circle(S, 0, 0, -40000, OPAQUE), OverflowError, None),
    (lambda: sk.pixel(S, 0, 0, "red"), TypeError, "invalid color argument"),
    (lambda: sk.line(S, 0, 0, 1, 1, None), TypeError, "invalid color argument"),
    (lambda: sk.pixel(1, 0, 0, OPAQUE), TypeError, "surface must be a Surface"),
    (lambda: sk.box(S, "x", OPAQUE), TypeError, "invalid rect style argument"),
    (lambda: sk.box(None, (0, 0, 1, 1), OPAQUE), TypeError,
     "surface must be a Surface"),
    (lambda: sk.polygon(S, 5, OPAQUE), TypeError, "points must be a sequence"),
    (lambda: sk.polygon(S, [(0, 0), (1, 1)], OPAQUE), ValueError,
     "points must contain more than 2 points"),
    (lambda: sk.filled_polygon(S, [(0, 0), (1, "a"), (2, 2)], OPAQUE),
     TypeError, "points must be pairs of numbers"),
    (lambda: sk.aapolygon(S, [(0, 0), 3, (2, 2)], OPAQUE), TypeError,
     "points must be pairs of numbers"),
    (lambda: sk.bezier(S, T3, 1, OPAQUE), ValueError,
     "steps parameter must be greater than 1"),
    (lambda: sk.textured_polygon(S, T3, 5, 0, 0), TypeError,
     "texture must be a Surface"),
    (lambda: sk.textured_polygon(S, 5, S, 0, 0), TypeError,
     "points must be a sequence"),
    (lambda: sk.textured_polygon(Surface((4, 4), 0, 8), T3,
                                 Surface((2, 2), 0x10000, 32), 0, 0),
     ValueError, "Per-byte alpha texture unsupported for 8 bit surfaces"),
    (lambda: sk.pixel(S, 0, 0, OPAQUE, 1), TypeError, None),
    (lambda: sk.pixel(surface=S, x=0, y=0, color=OPAQUE), TypeError, None),
    (lambda: sk.filled_circle(S, 0, 0), TypeError, "filledcircle"),
], ids=lambda v: v if isinstance(v, str) else "")
def test_argument_errors(call, exc, msg):
    before = S.get_at_mapped((0, 0))
    with pytest.raises(exc) as info:
        call()
    if msg:
        assert msg in str(info.value)
    assert S.get_at_mapped((0, 0)) == before


def test_negative_radius_reports_its_own_error():
    for call in (lambda: sk.circle(S, 5, 5, -1, OPAQUE),
                 lambda: sk.filled_circle(S, 5, 5, -2, OPAQUE),
                 lambda: sk.aacircle(S, 5, 5, -3, OPAQUE),
                 lambda: sk.arc(S, 5, 5, -1, 0, 90, OPAQUE),
                 lambda: sk.pie(S, 5, 5, -1, 0, 90, OPAQUE),
                 lambda: sk.ellipse(S, 5, 5, 3, -1, OPAQUE),
                 lambda: sk.aaellipse(S, 5, 5, -3, 1, OPAQUE),
                 lambda: sk.filled_ellipse(S, 5, 5, -3, 1, OPAQUE)):
        lumora.set_error("something unrelated")
        with pytest.raises(lumora.error, match="^negative radius$"):
            call()


def test_empty_clip_draws_nothing():
    s = make(FORMATS[3], clip=(0, 0, 0, 0))
    before = [s.get_at_mapped((x, y)) for x in range(40) for y in range(30)]
    sk.box(s, (0, 0, 40, 30), OPAQUE)
    sk.filled_polygon(s, T3, GLASS)
    sk.filled_circle(s, 10, 10, 8, OPAQUE)
    sk.textured_polygon(s, T3, Surface((3, 3), 0, 32), 0, 0)
    assert before == [s.get_at_mapped((x, y)) for x in range(40)
                      for y in range(30)]


def test_crash_prone_inputs_in_child():
    code = """if 1:
        import lumora.shapekit as sk
        from lumora import Surface
        s = Surface((50, 40), 0, 32)
        sk.textured_polygon(s, [(0, 0), (30, 0), (30, 30)],
                            Surface((0, 0), 0, 32), 3, 4)
        sk.textured_polygon(s, [(0, 0), (30, 0), (30, 30)],
                            Surface((0, 7), 0, 32), 3, 4)
        assert s.get_at((20, 5)) == (0, 0, 0, 255)
        for x, r in ((32767, 32767), (-32768, 32767), (0, 32767)):
            sk.filled_circle(s, x, 20, r, (1, 2, 3, 100))
            sk.aacircle(s, x, 20, r, (1, 2, 3, 100))
            sk.filled_ellipse(s, x, 20, r, 30000, (1, 2, 3, 100))
            sk.ellipse(s, x, 20, r, 30000, (1, 2, 3, 255))
            sk.arc(s, x, 20, r, -400, 7000, (1, 2, 3, 255))
            sk.pie(s, x, 20, r, -32768, 32767, (1, 2, 3, 100))
            sk.circle(s, x, 20, r, (1, 2, 3, 100))
        sk.bezier(s, [(-32768, -32768), (32767, 32767), (0, 32767)] * 50,
                  3, (9, 9, 9, 255))
        print("ok")
    """
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True,
                         text=True, timeout=120, env=env)
    assert out.stdout.strip() == "ok", out.stderr[-2000:]
