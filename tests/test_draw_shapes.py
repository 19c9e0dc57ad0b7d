"""lumora.draw: circle, ellipse, arc, polygon and rect."""
import math
import time

import pytest

from _drawref import (Target, target, disc, ring, oval,  # noqa: F401
                      scanline, arc_pass, rect_frame, thin_line, circle_model,
                      quarter_rings, ellipse_model, arc_model, rect_model)

import lumora
from lumora import Rect, Surface
import lumora.draw as draw


def _prompt(fn, *args, **kw):
    t0 = time.perf_counter()
    r = fn(*args, **kw)
    assert time.perf_counter() - t0 < 2.0
    return r


# --- circles -----------------------------------------------------------------

@pytest.mark.parametrize("center,radius", [((10, 10), 1), ((16, 16), 2),
                                           ((15, 17), 9), ((16, 16), 13),
                                           ((2, 30), 11), ((28, 3), 6)])
def test_filled_circle(target, center, radius):
    r = draw.circle(target.surf, target.ink, center, radius)
    target.check(r, disc(*center, radius), center)


@pytest.mark.parametrize("center,radius", [((16, 16), 2), ((15, 17), 9),
                                           ((16, 16), 14), ((3, 5), 8)])
def test_thin_circle(target, center, radius):
    r = draw.circle(target.surf, target.ink, center, radius, 1)
    target.check(r, ring(*center, radius), center)


def test_circle_radius_one_block_and_quadrant():
    t = Target(32, "plain")
    assert draw.circle(t.surf, t.ink, (10, 10), 1) == Rect(9, 9, 2, 2)
    assert t.painted() == {(9, 9), (10, 9), (9, 10), (10, 10)}
    t = Target(32, "plain")
    draw.circle(t.surf, t.ink, (10, 10), 1, draw_top_right=1)
    assert t.painted() == {(10, 9)}


@pytest.mark.parametrize("center,radius,width", [((16, 16), 12, 2),
                                                 ((15, 17), 13, 5),
                                                 ((3, 28), 10, 3),
                                                 ((27, 9), 7, 6)])
def test_thick_circle(target, center, radius, width):
    r = draw.circle(target.surf, target.ink, center, radius, width)
    target.check(r, circle_model(*center, radius, width), center)


def test_circle_width_at_least_radius_is_disc():
    a, b = Target(32, "plain"), Target(32, "plain")
    draw.circle(a.surf, a.ink, (16, 16), 9, 9)
    draw.circle(b.surf, b.ink, (16, 16), 9, 50)
    assert a.painted() == b.painted() == disc(16, 16, 9)


@pytest.mark.parametrize("flags", [(1, 0, 0, 0), (0, 1, 0, 1), (0, 0, 1, 0),
                                   (2, -1, 0, 5)])
@pytest.mark.parametrize("width", [0, 3])
def test_circle_quadrant_pixels(target, flags, width):
    center, radius = (14, 17), 11
    r = draw.circle(target.surf, target.ink, center, radius, width, *flags)
    target.check(r, quarter_rings(*center, radius, width, *flags), center)


@pytest.mark.parametrize("args", [dict(radius=0), dict(radius=-3),
                                  dict(radius=5, width=-1)])
def test_circle_empty_cases(args):
    t = Target(32, "plain")
    radius = args.pop("radius")
    assert draw.circle(t.surf, t.ink, (7, 8), radius, **args) == \
        Rect(7, 8, 0, 0)
    assert t.painted() == set()


def test_circle_far_outside_clip_returns_without_drawing():
    t = Target(32, "clip")
    assert draw.circle(t.surf, t.ink, (60, 10), 20) == Rect(60, 10, 0, 0)
    assert draw.circle(t.surf, t.ink, (10, -16), 10) == Rect(10, -16, 0, 0)


@pytest.mark.parametrize("kind", ["plain", "clip", "sub"])
@pytest.mark.parametrize("radius", [10 ** 6, 2 ** 31 - 1, 1e12])
def test_huge_circle(kind, radius):
    t = Target(32, kind)
    _prompt(draw.circle, t.surf, t.ink, (16, 16), radius)
    assert t.painted() == t.visible({(x, y) for x in range(32)
                                     for y in range(32)})
    t = Target(32, kind)
    # Its outline and thick ring pass far outside the surface.
    assert _prompt(draw.circle, t.surf, t.ink, (16, 16), radius, 1) == \
        Rect(16, 16, 0, 0)
    _prompt(draw.circle, t.surf, t.ink, (16, 16), radius, 100)
    _prompt(draw.circle, t.surf, t.ink, (16, 16), radius, 3,
            draw_bottom_left=1)
    assert t.painted() == set()
    t.check_parent()


def test_huge_circle_edge_crosses_surface():
    t = Target(32, "plain")
    r = 3000
    _prompt(draw.circle, t.surf, t.ink, (16, 16 + r - 10), r)
    got = t.painted()
    # The top of the disc: rows from 6 down are filled.
    assert {(x, y) for x in range(32) for y in range(7, 32)} <= got
    assert not any(y < 5 for _, y in got)


def test_circle_non_finite_draws_nothing():
    t = Target(32, "plain")
    for c, rad in [((float("nan"), 5), 3), ((5, 5), float("inf")),
                   ((5, 5), float("nan"))]:
        r = draw.circle(t.surf, t.ink, c, rad)
        assert (r.w, r.h) == (0, 0)
    assert t.painted() == set()


# --- ellipses ----------------------------------------------------------------

@pytest.mark.parametrize("rect", [(3, 4, 1, 7), (3, 4, 7, 1), (2, 3, 10, 6),
                                  (2, 3, 11, 7), (4, 1, 6, 11), (1, 2, 29, 27),
                                  (-6, 8, 20, 13), (5, 5, 2, 2)])
def test_filled_ellipse(target, rect):
    r = draw.ellipse(target.surf, target.ink, rect)
    target.check(r, oval(*rect), rect[:2])


@pytest.mark.parametrize("rect,width", [((2, 3, 20, 12), 1),
                                        ((1, 1, 29, 25), 3),
                                        ((4, 2, 13, 27), 2),
                                        ((-7, 6, 30, 21), 4)])
def test_ellipse_ring_pixels(target, rect, width):
    r = draw.ellipse(target.surf, target.ink, rect, width)
    target.check(r, ellipse_model(*rect, width), rect[:2])


def test_ellipse_wide_border_fills():
    a, b = Target(32, "plain"), Target(32, "plain")
    draw.ellipse(a.surf, a.ink, (2, 3, 20, 12), 6)
    draw.ellipse(b.surf, b.ink, (2, 3, 20, 12))
    assert a.painted() == b.painted()


@pytest.mark.parametrize("rect", [(4, 5, 0, 10), (4, 5, 10, 0), (4, 5, -8, 6),
                                  (4, 5, 6, -8), (4, 5, -3, -3)])
@pytest.mark.parametrize("width", [0, 1, 3])
def test_ellipse_non_positive_size_draws_nothing(rect, width):
    t = Target(32, "plain")
    assert draw.ellipse(t.surf, t.ink, rect, width) == Rect(4, 5, 0, 0)
    assert t.painted() == set()


def test_ellipse_negative_width():
    t = Target(32, "plain")
    assert draw.ellipse(t.surf, t.ink, (3, 3, 9, 9), -1) == Rect(3, 3, 0, 0)


@pytest.mark.parametrize("width", [0, 1, 7])
def test_huge_ellipse(width):
    t = Target(32, "clip")
    big = 2 ** 31 - 1
    _prompt(draw.ellipse, t.surf, t.ink, (-big // 2, -big // 2, big, big),
            width)
    got = t.painted()
    assert all(t.inside(*p) for p in got)
    if width == 0:
        assert got == t.visible({(x, y) for x in range(32) for y in range(32)})


# --- arcs --------------------------------------------------------------------

@pytest.mark.parametrize("rect,a0,a1", [((2, 2, 28, 28), 0.0, math.pi),
                                        ((1, 4, 30, 20), 0.5, 5.5),
                                        ((3, 3, 24, 24), -1.0, 1.0),
                                        ((-10, -10, 50, 40), 0.0, 6.3)])
def test_thin_arc(target, rect, a0, a1):
    x, y, w, h = rect
    r = draw.arc(target.surf, target.ink, rect, a0, a1)
    model = arc_pass(x + w // 2, y + h // 2, w // 2, h // 2, a0, a1)
    target.check(r, model, (x, y))


@pytest.mark.parametrize("rect,a0,a1,wd", [((2, 2, 28, 26), 0.3, 4.0, 3),
                                           ((-4, 5, 36, 20), 5.0, 2.0, 2),
                                           ((6, 1, 18, 30), -2.0, 2.5, 20)])
def test_thick_arc(target, rect, a0, a1, wd):
    r = draw.arc(target.surf, target.ink, rect, a0, a1, wd)
    target.check(r, arc_model(*rect, a0, a1, wd), rect[:2])


def test_arc_wraps_once():
    a, b = Target(32, "plain"), Target(32, "plain")
    draw.arc(a.surf, a.ink, (2, 2, 28, 28), 3.0, 1.0)
    draw.arc(b.surf, b.ink, (2, 2, 28, 28), 3.0, 1.0 + 2 * math.pi)
    assert a.painted() == b.painted() != set()


@pytest.mark.parametrize("rect,width", [((5, 5, 2, 20), 1), ((5, 5, 3, 3), 1),
                                        ((2, 2, 20, 20), 0)])
def test_arc_draws_nothing(rect, width):
    t = Target(32, "plain")
    assert draw.arc(t.surf, t.ink, rect, 0, 3, width) == \
        Rect(rect[0], rect[1], 0, 0)
    assert t.painted() == set()


@pytest.mark.parametrize("a0,a1", [(float("nan"), 1.0), (0.0, float("inf")),
                                   (-float("inf"), float("inf"))])
def test_arc_non_finite_angles(a0, a1):
    t = Target(32, "plain")
    assert _prompt(draw.arc, t.surf, t.ink, (2, 2, 20, 20), a0, a1) == \
        Rect(2, 2, 0, 0)
    assert t.painted() == set()


@pytest.mark.parametrize("a0,a1", [(0.0, 1e300), (0.0, 1e9), (1e17, 1e18),
                                   (-1e300, 1e300)])
def test_arc_enormous_sweep_is_prompt(a0, a1):
    t = Target(32, "plain")
    _prompt(draw.arc, t.surf, t.ink, (2, 2, 28, 28), a0, a1, 2)
    got = t.painted()
    assert got and all(2 <= x <= 30 and 2 <= y <= 30 for x, y in got)


def test_arc_enormous_sweep_is_two_turns():
    a, b = Target(32, "plain"), Target(32, "plain")
    draw.arc(a.surf, a.ink, (2, 2, 28, 28), 0.0, 1e300)
    draw.arc(b.surf, b.ink, (2, 2, 28, 28), 0.0, 4 * math.pi)
    assert a.painted() == b.painted()


@pytest.mark.parametrize("width", [1, 50, 10 ** 6])
def test_huge_arc(width):
    t = Target(32, "plain")
    big = 2 ** 31 - 1
    _prompt(draw.arc, t.surf, t.ink, (-big // 2, -big // 2, big, big), 0.0,
            6.0, width)
    _prompt(draw.arc, t.surf, t.ink, (0, 0, big, 40), 1.0, 2.0, width)
    assert all(t.inside(*p) for p in t.painted())


# --- polygons ----------------------------------------------------------------

POLYGONS = [
    [(0, 0), (10, 0), (10, 10), (0, 10)],
    [(3, 2), (28, 9), (11, 27)],
    [(16, 1), (20, 12), (31, 12), (22, 19), (26, 30), (16, 23), (6, 30),
     (10, 19), (1, 12), (12, 12)],                         # star, concave
    [(2, 2), (28, 28), (28, 2), (2, 28)],                  # bow tie
    [(4, 4), (20, 4), (20, 12), (12, 12), (12, 26), (4, 26)],  # L shape
    [(3, 7), (15, 7), (25, 7)],                            # one row
    [(-10, -5), (45, 3), (20, 50)],                        # beyond the surface
]


@pytest.mark.parametrize("points", POLYGONS)
def test_filled_polygon(target, points):
    r = draw.polygon(target.surf, target.ink, points)
    target.check(r, scanline(points), points[0])


def test_square_polygon_includes_last_row_and_column():
    t = Target(32, "plain")
    assert draw.polygon(t.surf, t.ink, [(0, 0), (10, 0), (10, 10),
                                        (0, 10)]) == Rect(0, 0, 11, 11)


def test_polygon_outline_is_closed_lines(target):
    pts = POLYGONS[1]
    a = draw.polygon(target.surf, target.ink, pts, 1)
    model = set()
    for p, q in zip(pts, pts[1:] + pts[:1]):
        model |= thin_line(target.clip, *p, *q)
    target.check(a, model, pts[0])


def test_polygon_negative_width_converts_points():
    t = Target(32, "plain")
    assert draw.polygon(t.surf, t.ink, [(4, 5), (9, 9), (2, 8)], -1) == \
        Rect(4, 5, 0, 0)
    with pytest.raises(TypeError, match="points must be number pairs"):
        draw.polygon(t.surf, t.ink, [(4, 5), None, (2, 8)], -1)
    assert t.painted() == set()


@pytest.mark.parametrize("kind", ["plain", "clip"])
def test_polygon_extreme_x_sorted_safely(kind):
    # Crossings near both ends of the int range must still sort in order.
    t = Target(32, kind)
    lo, hi = -2 ** 31, 2 ** 31 - 1
    _prompt(draw.polygon, t.surf, t.ink, [(lo, 0), (hi, 0), (hi, 10),
                                          (lo, 10)])
    assert t.painted() == t.visible({(x, y) for x in range(32)
                                     for y in range(11)})


def test_polygon_extreme_y_rows_limited_to_clip():
    t = Target(32, "clip")
    lo, hi = -2 ** 31, 2 ** 31 - 1
    _prompt(draw.polygon, t.surf, t.ink,
            [(0, lo), (31, lo), (31, hi), (0, hi)])
    assert t.painted() == t.visible({(x, y) for x in range(32)
                                     for y in range(32)})


# --- rectangles --------------------------------------------------------------

@pytest.mark.parametrize("rect", [(2, 3, 10, 7), (-4, -4, 12, 40),
                                  (20, 20, 30, 30), (5, 5, 1, 1)])
def test_filled_rect(target, rect):
    r = draw.rect(target.surf, target.ink, rect)
    x, y, w, h = rect
    model = {(xx, yy) for xx in range(x, x + w) for yy in range(y, y + h)}
    target.check(r, model, rect[:2])


@pytest.mark.parametrize("rect,width", [((2, 3, 20, 15), 1),
                                        ((1, 1, 28, 27), 4),
                                        ((-3, 8, 30, 30), 2)])
def test_bordered_rect(target, rect, width):
    r = draw.rect(target.surf, target.ink, rect, width)
    model = rect_frame(*rect, width)
    want = target.visible(model)
    assert target.painted() == want
    cx, cy, cw, ch = target.clip
    x, y, w, h = rect
    ax, ay = max(x, cx), max(y, cy)
    assert r == Rect(ax, ay, min(x + w, cx + cw) - ax,
                     min(y + h, cy + ch) - ay)
    target.check_parent()


ROUNDED = [
    ((3, 4, 24, 20), 0, 5, ()),
    ((3, 4, 24, 20), 3, 5, ()),
    ((-6, 2, 30, 25), 2, 8, ()),
    ((2, 2, 28, 27), 1, 3, (9, -1, 0, 14)),
    ((4, 3, 22, 25), 0, 0, (1, 30, 12, 2)),     # oversized: scaled down
    ((25, 28, -20, -22), 4, 6, ()),              # negative size: normalised
    ((5, 6, 20, 10), 7, 3, ()),                  # border wider than half
    ((1, 1, 30, 30), 2, -4, (6, -1, -1, -9)),    # negative radii: square
]


@pytest.mark.parametrize("rect,width,radius,corners", ROUNDED)
def test_rounded_rect_pixels(target, rect, width, radius, corners):
    r = draw.rect(target.surf, target.ink, rect, width, radius, *corners)
    model = rect_model(target.clip, *rect, width, radius, *corners)
    x, y, w, h = rect
    fallback = (min(x, x + w), min(y, y + h))
    target.check(r, model, fallback)


def test_rect_wide_border_fills():
    t = Target(32, "plain")
    draw.rect(t.surf, t.ink, (2, 2, 10, 8), 4)
    assert t.painted() == {(x, y) for x in range(2, 12) for y in range(2, 10)}


@pytest.mark.parametrize("rect", [(5, 6, -4, 5), (5, 6, 4, -5), (5, 6, 0, 3)])
def test_rect_non_positive_size(rect):
    t = Target(32, "plain")
    assert draw.rect(t.surf, t.ink, rect) == Rect(5, 6, 0, 0)
    assert draw.rect(t.surf, t.ink, rect, 1) == Rect(5, 6, 0, 0)
    assert t.painted() == set()


def test_rounded_rect_negative_size_normalises_rect_object():
    t = Target(32, "plain")
    rect = Rect(20, 18, -15, -12)
    draw.rect(t.surf, t.ink, rect, 0, 3)
    assert rect == Rect(5, 6, 15, 12)
    got = t.painted()
    assert got and all(5 <= x < 20 and 6 <= y < 18 for x, y in got)


def test_rect_border_on_rle_surface():
    # An RLE surface has no pixels until it is locked.
    s = Surface((16, 16), 0, 32)
    s.set_colorkey((1, 2, 3), lumora.RLEACCEL)
    Surface((16, 16), 0, 32).blit(s, (0, 0))
    draw.rect(s, (255, 0, 0), (2, 2, 10, 10), 2)
    assert tuple(s.get_at((2, 2)))[:3] == (255, 0, 0)
    assert tuple(s.get_at((6, 6)))[:3] == (0, 0, 0)


@pytest.mark.parametrize("width", [7, 10, 100, 2 ** 31 - 1])
def test_rounded_rect_border_wider_than_half_stays_inside(width):
    t = Target(32, "plain")
    draw.rect(t.surf, t.ink, (6, 8, 20, 10), width, 3)
    got = t.painted()
    assert got and all(6 <= x < 26 and 8 <= y < 18 for x, y in got)


@pytest.mark.parametrize("radius", [40, 2 ** 31 - 1])
def test_rounded_rect_oversized_radii_scaled(radius):
    t = Target(32, "plain")
    _prompt(draw.rect, t.surf, t.ink, (2, 3, 20, 10), 0, 0, radius, radius,
            radius, radius)
    got = t.painted()
    assert got and got <= {(x, y) for x in range(2, 22) for y in range(3, 13)}
    assert (12, 8) in got


def test_huge_rects_prompt():
    t = Target(32, "clip")
    big = 2 ** 31 - 1
    for args in [((-big, -big, big, big),), ((0, 0, big, big), 3),
                 ((-5, -5, big, big), 2, 9), ((-5, -5, big, big), 0, big)]:
        _prompt(draw.rect, t.surf, t.ink, *args)
    assert all(t.inside(*p) for p in t.painted())


# --- shared errors -----------------------------------------------------------

S = Surface((8, 8), 0, 32)


@pytest.mark.parametrize("call,exc,msg", [
    (lambda: draw.circle(S, 1, (1,), 3), TypeError,
     "center argument must be a pair of numbers"),
    (lambda: draw.circle(S, 1, (1, 1), "3"), TypeError,
     "radius argument must be a number"),
    (lambda: draw.ellipse(S, 1, "rect"), TypeError,
     "rect argument is invalid"),
    (lambda: draw.arc(S, 1, (1, 2), 0, 1), TypeError,
     "rect argument is invalid"),
    (lambda: draw.rect(S, 1, None), TypeError, "rect argument is invalid"),
    (lambda: draw.polygon(S, 1, [(1, 1), (2, 2)]), ValueError,
     "points argument must contain more than 2 points"),
    (lambda: draw.polygon(S, 1, 7), TypeError,
     "points argument must be a sequence of number pairs"),
    (lambda: draw.polygon(S, 1, [(1, 1), (2, 2), (3, "x")]), TypeError,
     "points must be number pairs"),
    (lambda: draw.polygon(S, 1, [(1, 1)], 2), ValueError,
     "points argument must contain 2 or more points"),
    (lambda: draw.circle("S", 1, (1, 1), 3), TypeError, None),
    (lambda: draw.rect(S, "no such colour", (1, 1, 3, 3)),
     (ValueError, TypeError), None),
])
def test_shape_argument_errors(call, exc, msg):
    with pytest.raises(exc, match=msg):
        call()


def test_rect_argument_checked_before_surface():
    # The rect is examined first, then the surface.
    with pytest.raises(TypeError, match="rect argument is invalid"):
        draw.ellipse(S, "no such colour", None)


# --- locking -----------------------------------------------------------------

CALLS = [
    ("line", lambda s: draw.line(s, 1, (0, 0), (5, 5))),
    ("aaline", lambda s: draw.aaline(s, 1, (0, 0), (5, 5))),
    ("lines", lambda s: draw.lines(s, 1, 0, [(0, 0), (5, 5)])),
    ("aalines", lambda s: draw.aalines(s, 1, 0, [(0, 0), (5, 5)])),
    ("ellipse", lambda s: draw.ellipse(s, 1, (0, 0, 9, 7))),
    ("arc", lambda s: draw.arc(s, 1, (0, 0, 9, 7), 0, 3)),
    ("circle", lambda s: draw.circle(s, 1, (5, 5), 3)),
    ("polygon", lambda s: draw.polygon(s, 1, [(0, 0), (5, 5), (0, 5)])),
    ("rect", lambda s: draw.rect(s, 1, (0, 0, 5, 5))),
    ("bordered rect", lambda s: draw.rect(s, 1, (0, 0, 15, 15), 2)),
    ("rounded rect", lambda s: draw.rect(s, 1, (0, 0, 15, 15), 2, 3)),
]


@pytest.fixture
def quit_display():
    display = pytest.importorskip("lumora.display")
    display.init()
    try:
        screen = display.set_mode((40, 30), 0, 32)
        sub = screen.subsurface((4, 4, 20, 20))
    finally:
        display.quit()
    return screen, sub


@pytest.mark.parametrize("name,call", CALLS, ids=[c[0] for c in CALLS])
def test_lock_failure_raises(quit_display, name, call):
    screen, sub = quit_display
    # The subsurface still has its own pixels record, but its parent is
    # gone: taking the lock fails.
    with pytest.raises(RuntimeError, match="^error locking surface$"):
        call(sub)
    with pytest.raises(lumora.error, match="display Surface quit"):
        call(screen)
    assert sub.get_locks() == ()


def test_lock_released_after_drawing():
    s = Surface((20, 20), 0, 32)
    sub = s.subsurface((2, 2, 10, 10))
    for _, call in CALLS:
        call(sub)
        assert not sub.get_locked() and not s.get_locked()
