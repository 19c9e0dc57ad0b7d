"""lumora.draw: line, lines, aaline, aalines and the shared argument rules."""
import time
import warnings

import pytest

from _drawref import (Target, bounding, target, thin_line,  # noqa: F401
                      thick_segment, smooth_writes, shade)

import lumora
from lumora import Rect, Surface
import lumora.draw as draw

SEGMENTS = [
    ((3, 4), (3, 4)),        # one point
    ((2, 5), (29, 5)),       # horizontal
    ((29, 27), (2, 27)),     # horizontal, backwards
    ((7, 1), (7, 30)),       # vertical
    ((1, 1), (30, 30)),      # 45 degrees
    ((0, 31), (31, 0)),
    ((2, 3), (28, 11)),      # shallow
    ((28, 30), (5, 2)),      # steep, backwards
    ((-20, 7), (50, 19)),    # through the surface, both ends outside
    ((16, -40), (10, 60)),
    ((40, 40), (60, 50)),    # wholly outside
]


@pytest.mark.parametrize("start,end", SEGMENTS)
def test_thin_line_pixels(target, start, end):
    r = draw.line(target.surf, target.ink, start, end)
    target.check(r, thin_line(target.clip, *start, *end), start)


@pytest.mark.parametrize("width", [2, 5])
@pytest.mark.parametrize("start,end", [SEGMENTS[i]
                                       for i in (1, 4, 6, 7, 8, 9)] + [
    ((-6, 4), (40, 9)),       # nearly horizontal, leaving through both sides
    ((3, 31), (12, -9)),      # steep, crossing top and bottom
    ((25, 2), (1, 27)),       # 45 degrees backwards: horizontal spans
])
def test_thick_line_pixels(target, start, end, width):
    r = draw.line(target.surf, target.ink, start, end, width)
    target.check(r, thick_segment(target.clip, *start, *end, width), start)


@pytest.mark.parametrize("width,rows", [(4, range(9, 13)), (3, range(9, 12)),
                                        (2, range(10, 12))])
def test_thick_horizontal_rows(width, rows):
    t = Target(32, "plain")
    draw.line(t.surf, t.ink, (3, 10), (20, 10), width)
    assert t.painted() == {(x, y) for x in range(3, 21) for y in rows}


@pytest.mark.parametrize("closed", [False, True])
def test_lines_polyline(target, closed):
    pts = [(2, 2), (25, 6), (9, 28), (30, 30)]
    r = draw.lines(target.surf, target.ink, closed, pts)
    model = set()
    segs = list(zip(pts, pts[1:])) + ([(pts[-1], pts[0])] if closed else [])
    for a, b in segs:
        model |= thin_line(target.clip, *a, *b)
    target.check(r, model, pts[0])


@pytest.mark.parametrize("width", [3, 4])
def test_thick_lines_polyline(target, width):
    pts = [(-3, 4), (22, 2), (28, 29), (6, 20)]
    r = draw.lines(target.surf, target.ink, True, pts, width)
    model = set()
    for a, b in zip(pts, pts[1:] + pts[:1]):
        model |= thick_segment(target.clip, *a, *b, width)
    target.check(r, model, pts[0])


def test_lines_two_points_closed_draws_once():
    a, b = Target(32, "plain"), Target(32, "plain")
    draw.lines(a.surf, a.ink, True, [(0, 0), (10, 0)])
    draw.line(b.surf, b.ink, (0, 0), (10, 0))
    assert a.painted() == b.painted()


def test_line_bounding_rect_of_visible_part():
    t = Target(32, "plain")
    t.surf.set_clip((10, 0, 5, 32))
    assert draw.line(t.surf, t.ink, (0, 3), (31, 3)) == Rect(10, 3, 5, 1)
    assert draw.line(t.surf, t.ink, (0, 40), (31, 40)) == Rect(0, 40, 0, 0)


@pytest.mark.parametrize("width", [0, -1, -100])
def test_line_non_positive_width(width):
    t = Target(32, "plain")
    assert draw.line(t.surf, t.ink, (5, 6), (9, 9), width) == Rect(5, 6, 0, 0)
    assert draw.lines(t.surf, t.ink, 0, [(4, 3), (9, 9)], width) == \
        Rect(4, 3, 0, 0)
    assert t.painted() == set()


def test_lines_zero_width_still_checks_points():
    t = Target(32, "plain")
    with pytest.raises(TypeError, match="points must be number pairs"):
        draw.lines(t.surf, t.ink, 0, [(1, 1), (2, 2), "xy"], 0)


# --- extreme input --------------------------------------------------------

def _prompt(fn, *args, **kw):
    t0 = time.perf_counter()
    r = fn(*args, **kw)
    assert time.perf_counter() - t0 < 2.0
    return r


@pytest.mark.parametrize("kind", ["plain", "clip"])
def test_line_extreme_ints(kind):
    t = Target(32, kind)
    lo, hi = -2 ** 31, 2 ** 31 - 1
    _prompt(draw.line, t.surf, t.ink, (lo, lo), (hi, hi))
    assert t.painted() == t.visible({(i, i) for i in range(32)})
    for width in (1, 3, hi):
        _prompt(draw.line, t.surf, t.ink, (lo, 5), (hi, 9), width)
        _prompt(draw.lines, t.surf, t.ink, True,
                [(lo, lo), (hi, 0), (0, hi)], width)
    assert all(t.inside(*p) for p in t.painted())


def test_line_long_through_surface_matches_stepping():
    # The whole walk is modelled; the drawing starts at the clip.
    t = Target(32, "plain")
    a, b = (-3001, -1234), (4000, 2345)
    draw.line(t.surf, t.ink, a, b)
    assert t.painted() == thin_line(t.clip, *a, *b)


def test_line_huge_and_non_finite_floats():
    t = Target(32, "plain")
    # Beyond the int range: saturated.
    r = _prompt(draw.line, t.surf, t.ink, (-1e30, 4.0), (1e30, 4.0))
    assert r == Rect(0, 4, 32, 1)
    for bad in (float("nan"), float("inf"), -float("inf")):
        t2 = Target(32, "plain")
        r = draw.line(t2.surf, t2.ink, (bad, 3), (10, 10))
        assert (r.w, r.h) == (0, 0)
        draw.lines(t2.surf, t2.ink, True, [(1, 1), (bad, 5), (9, 9)])
        draw.aaline(t2.surf, t2.ink, (1.0, 1.0), (bad, 7.0))
        draw.aalines(t2.surf, t2.ink, False, [(bad, 1.0), (bad, 7.0)])
        assert t2.painted() == set()


def test_aaline_huge_floats_prompt():
    t = Target(32, "plain")
    for a, b in [((-3e38, -1e30), (3e38, 2e30)), ((-1e30, 5), (1e30, 7)),
                 ((5, -1e38), (6, 1e38))]:
        _prompt(draw.aaline, t.surf, 0xFFFFFFFF, a, b)
    assert all(t.inside(*p) for p in t.touched())


# --- colours ----------------------------------------------------------------

@pytest.mark.parametrize("value,stored", [
    (0xFF00FF00, 0xFF00FF00),            # opaque ARGB >= 2**31
    (0x1_80402010, 0x80402010),          # low 32 bits of a wider int
    (-1, 0xFFFFFFFF),
    (True, 1),
])
def test_int_colour_is_raw_pixel(value, stored):
    t = Target(32, "plain")
    draw.line(t.surf, value, (1, 1), (5, 1))
    assert t.surf.get_at_mapped((3, 1)) == stored


@pytest.mark.parametrize("depth", [16, 24, 32])
def test_mapped_colour_round_trip(depth):
    t = Target(depth, "plain")
    value = t.surf.map_rgb((200, 100, 50))
    draw.line(t.surf, value, (0, 0), (9, 0))
    draw.line(t.surf, (200, 100, 50), (0, 1), (9, 1))
    assert t.surf.get_at_mapped((4, 0)) == value
    assert t.surf.get_at_mapped((4, 1)) == value


# --- anti-aliased lines -------------------------------------------------------

def test_aaline_on_pixel_rows_is_solid(target):
    # Full coverage keeps the colour; an 8-bit colour maps back to its index.
    target.ink = target.surf.map_rgb((255, 255, 255))
    r = draw.aaline(target.surf, target.ink, (2.0, 5.0), (20.0, 5.0))
    target.check(r, {(x, 5) for x in range(2, 21)}, (2, 5))


AA_SEGMENTS = [
    ((2.5, 3.25), (20.5, 12.25)),     # shallow, gradient 1/2
    ((3.25, 2.5), (7.75, 26.5)),      # steep
    ((29.75, 27.5), (1.25, 5.0)),     # backwards
    ((-6.5, 30.25), (38.5, 1.5)),     # through the clip edges
    ((16.3, -4.1), (9.7, 40.2)),      # inexact values
    ((0.1, 0.2), (31.9, 31.7)),
]


@pytest.mark.parametrize("start,end", AA_SEGMENTS)
def test_aaline_pixels(target, start, end):
    # White on black: each channel is the coverage times 255, truncated.
    ink = target.surf.map_rgb((255, 255, 255))
    r = draw.aaline(target.surf, ink, start, end)
    writes = [w for w in smooth_writes(target.clip, *start, *end)
              if target.inside(w[0], w[1])]
    want = {}
    for x, y, b in writes:
        c = shade(b, 255)
        want[(x, y)] = target.surf.map_rgb((c, c, c))
    got = {p: target.surf.get_at_mapped(p) for p in target.touched()}
    assert got == {p: v for p, v in want.items() if v}
    assert r == bounding(set(want), (int(start[0]), int(start[1])))
    target.check_parent()


@pytest.mark.parametrize("blend", [1, 0])
@pytest.mark.parametrize("depth,flags", [(32, lumora.SRCALPHA), (24, 0)])
def test_aaline_shading_over_background(depth, flags, blend):
    s = Surface((24, 24), flags, depth)
    bg = (30, 60, 90, 120) if flags else (30, 60, 90, 255)
    s.fill(bg)
    colour = (250, 128, 7, 200) if flags else (250, 128, 7, 255)
    start, end = (1.5, 2.25), (21.5, 17.25)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        draw.aaline(s, colour, start, end, blend)
    want = {}
    for x, y, b in smooth_writes((0, 0, 24, 24), *start, *end):
        px = tuple(shade(b, c, g if blend else None)
                   for c, g in zip(colour, bg))
        want[(x, y)] = px if flags else px[:3] + (255,)
    for y in range(24):
        for x in range(24):
            assert tuple(s.get_at((x, y))) == want.get((x, y), bg), (x, y)


def test_aaline_vertical_solid():
    t = Target(32, "plain")
    t.ink = t.surf.map_rgb((255, 255, 255))
    r = draw.aaline(t.surf, t.ink, (7.0, 3.0), (7.0, 15.0))
    assert t.painted() == {(7, y) for y in range(3, 16)}
    assert r == Rect(7, 3, 1, 13)


def _half_row(blend):
    s = Surface((32, 32), lumora.SRCALPHA, 32)
    s.fill((20, 40, 60, 255))
    r = draw.aaline(s, (200, 100, 50, 255), (2.0, 5.5), (20.0, 5.5), blend)
    return s, r


def test_aaline_blend_averages_with_background():
    s, r = _half_row(1)
    assert r == Rect(2, 5, 19, 2)
    for x in (2, 10, 20):
        for y in (5, 6):
            assert tuple(s.get_at((x, y))) == (110, 70, 55, 255)
    assert tuple(s.get_at((10, 4))) == (20, 40, 60, 255)


def test_aaline_no_blend_scales_every_channel():
    with pytest.warns(DeprecationWarning, match="blend=False"):
        s, r = _half_row(0)
    assert tuple(s.get_at((10, 5))) == (100, 50, 25, 127)


def test_aaline_tiny_is_one_pixel():
    t = Target(32, "plain")
    t.ink = t.surf.map_rgb((255, 255, 255))
    r = draw.aaline(t.surf, t.ink, (4.6, 7.4), (4.60001, 7.40001))
    assert t.painted() == {(5, 7)}
    assert r == Rect(5, 7, 1, 1)


def test_aaline_outside_clip_empty_at_truncated_start():
    t = Target(32, "clip")
    assert draw.aaline(t.surf, t.ink, (-7.8, 1.5), (30.2, 2.5)) == \
        Rect(-7, 1, 0, 0)
    assert t.painted() == set()


def test_aaline_stays_in_clip(target):
    draw.aaline(target.surf, target.ink, (-5.3, 2.7), (40.1, 29.9))
    draw.aaline(target.surf, target.ink, (30.5, -3.0), (1.2, 40.0))
    got = target.touched()
    assert got and all(target.inside(*p) for p in got)
    target.check_parent()


def test_aalines_segments_and_box(target):
    target.ink = target.surf.map_rgb((255, 255, 255))
    pts = [(2.0, 3.0), (2.0, 20.0), (25.0, 20.0)]
    r = draw.aalines(target.surf, target.ink, True, pts)
    got = target.painted()
    want = {(2, y) for y in range(3, 21)} | {(x, 20) for x in range(2, 26)}
    assert target.visible(want) <= got
    assert r == bounding(target.touched(), (2, 3))


def test_blend_warning_order():
    s = Surface((8, 8), 0, 32)
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        # aaline warns before looking at anything else.
        with pytest.raises(DeprecationWarning):
            draw.aaline(s, "not a colour", None, None, 0)
        with pytest.raises(DeprecationWarning):
            draw.aalines(s, (1, 2, 3), 0, [(0, 0), (1, 1)], 0)


# --- argument errors ----------------------------------------------------------

S = Surface((8, 8), 0, 32)


@pytest.mark.parametrize("call,exc,msg", [
    (lambda: draw.line(S, 1, (1,), (2, 2)), TypeError,
     "invalid start_pos argument"),
    (lambda: draw.line(S, 1, (1, 1), "ab"), TypeError,
     "invalid end_pos argument"),
    (lambda: draw.aaline(S, 1, None, (2, 2)), TypeError,
     "invalid start_pos argument"),
    (lambda: draw.aaline(S, 1, (2, 2), (1, 2, 3)), TypeError,
     "invalid end_pos argument"),
    (lambda: draw.lines(S, 1, 0, 5), TypeError,
     "points argument must be a sequence of number pairs"),
    (lambda: draw.lines(S, 1, 0, [(1, 1)]), ValueError,
     "points argument must contain 2 or more points"),
    (lambda: draw.aalines(S, 1, 0, []), ValueError,
     "points argument must contain 2 or more points"),
    (lambda: draw.aalines(S, 1, 0, [(1, 1), (2,)]), TypeError,
     "points must be number pairs"),
    (lambda: draw.line(None, 1, (1, 1), (2, 2)), TypeError, None),
    (lambda: draw.line(S, object(), (1, 1), (2, 2)), (TypeError, ValueError),
     None),
])
def test_line_argument_errors(call, exc, msg):
    with pytest.raises(exc, match=msg):
        call()


def test_keywords():
    t = Target(32, "plain")
    r = draw.line(surface=t.surf, color=t.ink, start_pos=(1, 1),
                  end_pos=(4, 1), width=1)
    assert r == Rect(1, 1, 4, 1)
    r = draw.aalines(surface=t.surf, color=t.ink, closed=False,
                     points=[(1, 3), (4, 3)], blend=1)
    assert r == Rect(1, 3, 4, 1)


@pytest.mark.parametrize("name,first,last", [
    ("aaline", "aaline(surface, color, start_pos, end_pos) -> Rect",
     "draw a straight antialiased line"),
    ("line", "line(surface, color, start_pos, end_pos) -> Rect",
     "draw a straight line"),
    ("aalines", "aalines(surface, color, closed, points) -> Rect",
     "draw multiple contiguous straight antialiased line segments"),
    ("lines", "lines(surface, color, closed, points) -> Rect",
     "draw multiple contiguous straight line segments"),
    ("ellipse", "ellipse(surface, color, rect) -> Rect", "draw an ellipse"),
    ("arc", "arc(surface, color, rect, start_angle, stop_angle) -> Rect",
     "draw an elliptical arc"),
    ("circle", "circle(surface, color, center, radius) -> Rect",
     "draw a circle"),
    ("polygon", "polygon(surface, color, points) -> Rect", "draw a polygon"),
    ("rect", "rect(surface, color, rect) -> Rect", "draw a rectangle"),
])
def test_docstrings(name, first, last):
    lines = getattr(draw, name).__doc__.split("\n")
    assert len(lines) == 3
    assert lines[0] == first and lines[2] == last
    assert lines[1].startswith(name + "(surface, color, ")


def test_circle_long_docstring():
    assert draw.circle.__doc__.split("\n")[1] == (
        "circle(surface, color, center, radius, width=0, draw_top_right=None, "
        "draw_top_left=None, draw_bottom_left=None, draw_bottom_right=None) "
        "-> Rect")


class Endless:
    """A sequence claiming 2**29 points, too many to convert."""

    def __len__(self):
        return 2 ** 29

    def __getitem__(self, i):
        raise AssertionError("no point should be read")


@pytest.mark.parametrize("call,what", [
    (lambda: draw.lines(S, 1, 0, Endless()), "lines"),
    (lambda: draw.aalines(S, 1, 0, Endless()), "aalines"),
    (lambda: draw.polygon(S, 1, Endless()), "polygon"),
])
def test_too_many_points(call, what):
    with pytest.raises(MemoryError,
                       match="^cannot allocate memory to draw %s$" % what):
        call()


def test_module_doc():
    assert draw.__doc__ == "lumora module for drawing shapes"
