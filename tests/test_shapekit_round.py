"""lumora.shapekit: circles, arcs, pies, ellipses and textured polygons."""
import math

import pytest

import _shaperef as ref
from _shaperef import FORMATS, GLASS, OPAQUE, Model, make

from lumora import Surface
import lumora.shapekit as sk

BG = (0, 0, 0, 0)


def painted(s, color=OPAQUE):
    w, h = s.get_size()
    return {(x, y) for y in range(h) for x in range(w)
            if s.get_at((x, y)) == color}


def touched(s):
    w, h = s.get_size()
    bg = s.map_rgb(BG)
    return {(x, y) for y in range(h) for x in range(w)
            if s.get_at_mapped((x, y)) != bg}


def once(s, color):
    """Every touched pixel holds exactly one blend of `color` over BG."""
    m = Model(s)
    one = Surface((1, 1), s.get_flags() & 0x10000, s.get_bitsize())
    one.fill(BG)
    sk.pixel(one, 0, 0, color)
    want = one.get_at_mapped((0, 0))
    return all(s.get_at_mapped(p) == want for p in touched(s)) and m


@pytest.mark.parametrize("fmt", FORMATS, ids=lambda f: f[0])
@pytest.mark.parametrize("clip", [None, (4, 3, 25, 20)])
@pytest.mark.parametrize("xyr", [(20, 15, 0), (20, 15, 1), (19, 14, 9),
                                 (3, 27, 12), (20, 15, 40), (-5, 10, 13)])
def test_circles(fmt, clip, xyr):
    for color in (OPAQUE, GLASS):
        s = make(fmt, clip=clip)
        m = Model(s)
        sk.circle(s, *xyr, color)
        ref.circle(m, *xyr, color)
        assert m.diff() == []
        s = make(fmt, clip=clip)
        m = Model(s)
        sk.filled_circle(s, *xyr, color)
        ref.filled_circle(m, *xyr, color)
        assert m.diff() == []


def test_circle_radius_one_and_rows_once():
    s = make(FORMATS[4], bg=BG)
    sk.circle(s, 10, 10, 1, OPAQUE)
    assert painted(s) == {(9, 10), (11, 10), (10, 9), (10, 11)}
    s = make(FORMATS[4], bg=BG)
    sk.filled_circle(s, 20, 15, 13, GLASS)
    assert once(s, GLASS)
    s = make(FORMATS[4], bg=BG)
    sk.circle(s, 20, 15, 13, GLASS)
    assert once(s, GLASS)


def test_huge_circle_covering_the_surface():
    s = make(FORMATS[3], bg=BG)
    sk.filled_circle(s, 16000, 10, 17000, OPAQUE)
    assert len(painted(s)) == 40 * 30
    s = make(FORMATS[3], bg=BG)
    sk.filled_ellipse(s, -16000, 10, 17000, 3000, OPAQUE)
    assert len(painted(s)) == 40 * 30


def arc_pixels(start, end, r=10, c=(20, 15)):
    s = make(FORMATS[4], bg=BG)
    sk.arc(s, c[0], c[1], r, start, end, OPAQUE)
    return painted(s)


def test_arc_quarters():
    ring = arc_pixels(0, 359) | arc_pixels(359, 0)
    s = make(FORMATS[4], bg=BG)
    sk.circle(s, 20, 15, 10, OPAQUE)
    full = painted(s)
    assert ring <= full and len(full - ring) <= 2
    low_right = arc_pixels(0, 90)
    assert low_right <= {p for p in full if p[0] >= 20 and p[1] >= 15}
    assert len(low_right) >= len(full) // 4 - 2
    rest = arc_pixels(90, 0)
    assert not {p for p in rest if p[0] > 20 and p[1] > 15}
    assert rest | low_right == full
    # Angles are taken modulo 360, negative ones too.
    assert arc_pixels(-270, 90 + 720) == arc_pixels(90, 90)
    assert arc_pixels(-360, -270) == low_right


@pytest.mark.parametrize("args", [(20, 15, 10, 0, 90), (20, 15, 12, 300, 45),
                                  (5, 5, 14, -30, 200), (20, 15, 9, 30, 30),
                                  (20, 15, 0, 0, 90), (38, 2, 20, 100, 170)])
@pytest.mark.parametrize("fmt", [FORMATS[0], FORMATS[4]], ids=lambda f: f[0])
def test_pie(fmt, args):
    for color in (OPAQUE, GLASS):
        s = make(fmt, clip=(2, 2, 34, 25))
        m = Model(s)
        sk.pie(s, *args, color)
        ref.pie(m, *args, color)
        assert m.diff() == []


def test_pie_quarter_points_down_right():
    pts = ref.pie_points(20, 15, 10, 0, 90)
    assert pts[0] == (20, 15) and pts[1] == (30, 15) and pts[-1] == (20, 25)
    s = make(FORMATS[4], bg=BG)
    sk.pie(s, 20, 15, 10, 0, 90, OPAQUE)
    got = painted(s)
    assert {(20, 15), (30, 15), (20, 25)} <= got
    assert all(x >= 20 and y >= 15 for x, y in got)


def quadrant_symmetric(pixels, x, y):
    return all((2 * x - px, py) in pixels and (px, 2 * y - py) in pixels
               for px, py in pixels)


@pytest.mark.parametrize("fmt", FORMATS, ids=lambda f: f[0])
@pytest.mark.parametrize("rxy", [(15, 9), (9, 13), (1, 12), (17, 1), (8, 8),
                                 (0, 6), (7, 0)])
def test_ellipses_symmetric_and_bounded(fmt, rxy):
    rx, ry = rxy
    box = {(x, y) for x in range(20 - rx, 21 + rx)
           for y in range(15 - ry, 16 + ry)}
    s = make(fmt, bg=BG)
    sk.ellipse(s, 20, 15, rx, ry, OPAQUE)
    outline = touched(s)
    assert quadrant_symmetric(outline, 20, 15) and outline <= box
    assert {(20 - rx, 15), (20 + rx, 15), (20, 15 - ry), (20, 15 + ry)} <= \
        outline
    s = make(fmt, bg=BG)
    sk.filled_ellipse(s, 20, 15, rx, ry, GLASS)
    fill = touched(s)
    assert outline <= fill <= box and quadrant_symmetric(fill, 20, 15)
    assert once(s, GLASS)
    # Filled rows are solid runs.
    for row in range(15 - ry, 16 + ry):
        xs = sorted(x for x, y in fill if y == row)
        assert xs == list(range(xs[0], xs[-1] + 1))
    s = make(fmt, bg=BG)
    sk.aaellipse(s, 20, 15, rx, ry, GLASS)
    aa = touched(s)
    assert quadrant_symmetric(aa, 20, 15) and aa <= box
    assert {(20, 15 - ry), (20, 15 + ry)} <= aa


def test_aaellipse_degenerate_and_colour_bounds():
    s = make(FORMATS[4], bg=BG)
    sk.aaellipse(s, 20, 15, 0, 6, OPAQUE)
    assert painted(s) == {(20, y) for y in range(9, 22)}
    s = make(FORMATS[4], bg=BG)
    sk.aacircle(s, 20, 15, 11, (255, 255, 255, 200))
    values = [s.get_at(p) for p in touched(s)]
    # Weighted blends of one colour over transparent black: grey levels
    # whose alpha tracks their brightness, none beyond a full blend.
    assert all(c[0] == c[1] == c[2] <= 199 and c[3] <= 156 for c in values)
    assert s.get_at((20, 4)) == s.get_at((20, 26)) == (199, 199, 199, 156)
    assert len({c[0] for c in values}) > 5


def test_aacircle_straddles_the_true_curve():
    s = make(FORMATS[4], bg=BG)
    sk.aacircle(s, 20, 15, 12, OPAQUE)
    for x, y in touched(s):
        assert abs(math.hypot(x - 20, y - 15) - 12) < 1.5


def test_large_aaellipse_stays_on_its_curve():
    # Radii of thousands: squared terms beyond 32 bits.
    s = make(FORMATS[4], size=(60, 40), bg=BG)
    rx, ry, cx, cy = 3000, 2500, 30 - 3000, 20
    sk.aaellipse(s, cx, cy, rx, ry, OPAQUE)
    got = touched(s)
    assert len(got) >= 40
    for x, y in got:
        v = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
        assert abs(math.sqrt(v) - 1) * min(rx, ry) < 2


def texture():
    t = Surface((5, 3), 0, 32)
    for x in range(5):
        for y in range(3):
            t.set_at((x, y), (40 * x, 80 * y, 7, 255))
    return t


@pytest.mark.parametrize("fmt", FORMATS[1:], ids=lambda f: f[0])
@pytest.mark.parametrize("offset", [(0, 0), (3, 1), (-7, 11)])
def test_textured_polygon(fmt, offset):
    tex = texture()
    pts = [(2, 2), (30, 4), (25, 26), (4, 20)]
    s = make(fmt, clip=(1, 1, 36, 24))
    bg = s.get_at_mapped((0, 0))
    sk.textured_polygon(s, pts, tex, *offset)
    inside = set()
    for xa, xb, y in ref.scan_spans(pts):
        inside |= {(x, y) for x in range(min(xa, xb), max(xa, xb) + 1)
                   if 1 <= x < 37 and 1 <= y < 25}
    tx, ty = offset
    for y in range(30):
        for x in range(40):
            if (x, y) in inside:
                t = tex.get_at(((x - tx) % 5, (y + ty) % 3))
                assert s.get_at_mapped((x, y)) == s.map_rgb(t), (x, y)
            else:
                assert s.get_at_mapped((x, y)) == bg, (x, y)


def test_textured_polygon_honours_colour_key():
    tex = texture()
    tex.set_colorkey((40, 80, 7))
    s = make(FORMATS[3])
    bg = s.get_at((0, 0))
    sk.textured_polygon(s, [(0, 0), (39, 0), (39, 29), (0, 29)], tex, 0, 0)
    assert s.get_at((1, 1)) == bg and s.get_at((6, 4)) == bg
    assert s.get_at((2, 1)) == (80, 80, 7, 255)
