"""Reference models and surface helpers for the lumora.draw tests.

The models are small, direct per-pixel versions of the rasterisers' rules
(line stepping, disc, ellipse, scanline fill), written without any of the
clipping shortcuts or span merging of the real code, so that the pixel sets
can be compared exactly.
"""
import math
import struct

import pytest

import lumora
from lumora import Rect, Surface

DEPTHS = (8, 16, 24, 32)
# A mapped value per pixel size, used as a raw integer colour.
INK = {8: 7, 16: 0xF81F, 24: 0x123456, 32: 0xFF102030}


class Target:
    """A surface to draw on plus what a correct drawing may touch."""

    def __init__(self, depth, kind, size=(32, 32)):
        self.depth = depth
        self.kind = kind
        self.ink = INK[depth]
        self.parent = None
        if kind == "sub":
            self.parent = Surface((size[0] + 9, size[1] + 7), 0, depth)
            self.surf = self.parent.subsurface((5, 4, size[0], size[1]))
        else:
            self.surf = Surface(size, 0, depth)
        self.w, self.h = size
        if kind == "clip":
            self.surf.set_clip((5, 6, 20, 17))
        c = self.surf.get_clip()
        self.clip = (c[0], c[1], c[2], c[3])

    def inside(self, x, y):
        cx, cy, cw, ch = self.clip
        return cx <= x < cx + cw and cy <= y < cy + ch

    def visible(self, pixels):
        return {p for p in pixels if self.inside(*p)}

    def painted(self, value=None):
        value = self.ink if value is None else value
        get = self.surf.get_at_mapped
        return {(x, y) for y in range(self.h) for x in range(self.w)
                if get((x, y)) == value}

    def touched(self):
        get = self.surf.get_at_mapped
        return {(x, y) for y in range(self.h) for x in range(self.w)
                if get((x, y)) != 0}

    def check(self, result, model, fallback):
        """Pixels equal the model within the clip; result is their box."""
        want = self.visible(model)
        got = self.painted()
        assert got == want, (sorted(got - want)[:8], sorted(want - got)[:8])
        assert result == bounding(want, fallback)
        self.check_parent()

    def check_parent(self):
        if self.parent is None:
            return
        get = self.parent.get_at_mapped
        pw, ph = self.parent.get_size()
        for y in range(ph):
            for x in range(pw):
                if not (5 <= x < 5 + self.w and 4 <= y < 4 + self.h):
                    assert get((x, y)) == 0, (x, y)


def bounding(pixels, fallback):
    if not pixels:
        return Rect(fallback[0], fallback[1], 0, 0)
    xs = [p[0] for p in pixels]
    ys = [p[1] for p in pixels]
    return Rect(min(xs), min(ys), max(xs) - min(xs) + 1,
                max(ys) - min(ys) + 1)


@pytest.fixture(params=[(d, k) for d in DEPTHS
                        for k in ("plain", "clip", "sub")],
                ids=lambda p: "%d-%s" % p)
def target(request):
    return Target(*request.param)


# ---------------------------------------------------------------------------
# Models.
# ---------------------------------------------------------------------------
def span(pixels, xa, y, xb):
    if xa > xb:
        xa, xb = xb, xa
    pixels.update((x, y) for x in range(xa, xb + 1))


def _stepper(x1, y1, x2, y2):
    """Two-test Bresenham stepping from (x1, y1) toward (x2, y2), error
    dx/2 or -(dy/2): a function that takes (x, y, err) one step on."""
    dx, dy = abs(x2 - x1), abs(y2 - y1)
    sx = 1 if x2 > x1 else -1
    sy = 1 if y2 > y1 else -1

    def step(x, y, err):
        e2 = err
        if e2 > -dx:
            err -= dy
            x += sx
        if e2 < dy:
            err += dx
            y += sy
        return x, y, err
    return step, (dx // 2 if dy < dx else -(dy // 2))


def bresenham(x1, y1, x2, y2):
    """The one-pixel line: two-test Bresenham, error dx/2 or -(dy/2)."""
    out = [(x1, y1)]
    if (x1, y1) == (x2, y2):
        return out
    step, err = _stepper(x1, y1, x2, y2)
    x, y = x1, y1
    while True:
        x, y, err = step(x, y, err)
        out.append((x, y))
        if (x, y) == (x2, y2):
            return out


def _nearest(v):
    return int(v + 0.5) if v >= 0 else int(v - 0.5)


def clip_segment(clip, x1, y1, x2, y2):
    """Parametric clip of a segment to the clip columns/rows (one past)."""
    cx, cy, cw, ch = clip
    t0, t1 = 0.0, 1.0
    for a1, a2, lo, hi in ((x1, x2, cx, cx + cw), (y1, y2, cy, cy + ch)):
        if a1 == a2:
            continue
        if a1 < a2:
            t0 = max(t0, (a1 - lo) / (a1 - a2))
            t1 = min(t1, (hi - a1) / (a2 - a1))
        else:
            t0 = max(t0, (a1 - hi) / (a1 - a2))
            t1 = min(t1, (lo - a1) / (a2 - a1))
    if t0 > t1:
        return None
    return (x1 + _nearest(t0 * (x2 - x1)), y1 + _nearest(t0 * (y2 - y1)),
            x1 + _nearest(t1 * (x2 - x1)), y1 + _nearest(t1 * (y2 - y1)))


def thin_line(clip, x1, y1, x2, y2):
    """What line(width=1) draws: the clipped end points joined."""
    if x1 == x2 and not clip[0] <= x1 <= clip[0] + clip[2]:
        return set()
    if y1 == y2 and not clip[1] <= y1 <= clip[1] + clip[3]:
        return set()
    seg = clip_segment(clip, x1, y1, x2, y2)
    return set(bresenham(*seg)) if seg else set()


def _octant(r):
    """The midpoint circle of radius r, one octant: (x, y, f) per step."""
    f, ddf_y, x, y = 1 - r, -2 * r, 0, r
    while x < y:
        if f >= 0:
            y -= 1
            ddf_y += 2
            f += ddf_y
        x += 1
        f += 2 * x + 1
        yield x, y, f


def disc(x0, y0, r):
    out = set()
    for x, y, f in _octant(r):
        if f >= 0:
            span(out, x0 - x, y0 + y - 1, x0 + x - 1)
            span(out, x0 - x, y0 - y, x0 + x - 1)
        span(out, x0 - y, y0 + x - 1, x0 + y - 1)
        span(out, x0 - y, y0 - x, x0 + y - 1)
    return out


def ring(x0, y0, r):
    out = set()
    for x, y, _ in _octant(r):
        out.update({(x0 + x - 1, y0 + y - 1), (x0 - x, y0 + y - 1),
                    (x0 + x - 1, y0 - y), (x0 - x, y0 - y),
                    (x0 + y - 1, y0 + x - 1), (x0 + y - 1, y0 - x),
                    (x0 - y, y0 + x - 1), (x0 - y, y0 - x)})
    return out


def _oval_walk(a, b):
    """Midpoint stepping of the ellipse with half-axes a and b from (0, b):
    (px, py, moved) at every step, `moved` telling how the step before
    got there: 1 a row down in region 1, 2 any step of region 2, else 0."""
    px, py, moved = 0, b, 0
    d1 = b * b - a * a * b + 0.25 * a * a
    dx, dy = 0, 2 * a * a * b
    while dx < dy:
        yield px, py, moved
        px += 1
        dx += 2 * b * b
        if d1 < 0:
            d1 += dx + b * b
            moved = 0
        else:
            py -= 1
            dy -= 2 * a * a
            d1 += dx - dy + b * b
            moved = 1
    d2 = b * b * (px + 0.5) ** 2 + a * a * (py - 1) ** 2 - a * a * b * b
    while py >= 0:
        yield px, py, moved
        py -= 1
        dy -= 2 * a * a
        if d2 > 0:
            d2 += a * a - dy
        else:
            px += 1
            dx += 2 * b * b
            d2 += dx - dy + a * a
        moved = 2


def oval(x, y, w, h):
    """Filled ellipse: midpoint stepping, a pair of spans at every step."""
    out = set()
    if w == 1:
        return {(x, yy) for yy in range(y, y + h)}
    if h == 1:
        return {(xx, y) for xx in range(x, x + w)}
    x0, y0 = x + w // 2, y + h // 2
    ox, oy = (w + 1) % 2, (h + 1) % 2
    for px, py, _ in _oval_walk(w // 2, h // 2):
        span(out, x0 - px, y0 - py, x0 + px - ox)
        span(out, x0 - px, y0 + py - oy, x0 + px - ox)
    return out


def scanline(points):
    """Even-odd fill: every edge tested on every row, half-open in y."""
    out = set()
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    n = len(points)
    miny, maxy = min(ys), max(ys)
    if miny == maxy:
        span(out, min(xs), miny, max(xs))
        return out
    for y in range(miny, maxy + 1):
        cuts = []
        for i in range(n):
            x1, y1 = points[i - 1]
            x2, y2 = points[i]
            if y1 == y2:
                continue
            if y1 > y2:
                x1, y1, x2, y2 = x2, y2, x1, y1
            if y1 <= y < y2 or (y == maxy and y2 == maxy):
                cuts.append(int((y - y1) * (x2 - x1) / (y2 - y1) + x1))
        cuts.sort()
        for j in range(0, len(cuts) - 1, 2):
            span(out, cuts[j], y, cuts[j + 1])
    for i in range(n):
        if miny < ys[i] < maxy and ys[i - 1] == ys[i]:
            span(out, xs[i], ys[i], xs[i - 1])
    return out


def arc_pass(x0, y0, rx, ry, a0, a1):
    """One thin elliptical arc: chords between sampled angles."""
    r = min(rx, ry)
    if r <= 0:
        step = 1.0
    elif r < 2:
        return set()
    else:
        step = max(math.asin(2.0 / r), 0.05)
    out = set()
    px = int(x0 + math.cos(a0) * rx)
    py = int(y0 - math.sin(a0) * ry)
    a = a0 + step
    while a < a1 + step:
        an = min(a, a1)
        nx = int(x0 + math.cos(an) * rx)
        ny = int(y0 - math.sin(an) * ry)
        out.update(bresenham(px, py, nx, ny))
        px, py = nx, ny
        a += step
    return out


def thick_segment(clip, x1, y1, x2, y2, w):
    """What line() draws for any width: the centre line clipped, stepped
    from the clipped start with the unclipped slope, and carried on past
    the clipped end while a span end still lies inside the clip."""
    cx, cy, cw, ch = clip
    if x1 == x2 and not cx <= x1 <= cx + cw:
        return set()
    if y1 == y2 and not cy <= y1 <= cy + ch:
        return set()
    seg = clip_segment(clip, x1, y1, x2, y2)
    if seg is None:
        return set()
    xs, ys, xe, ye = seg
    if w == 1:
        return set(bresenham(xs, ys, xe, ye))
    out = set()
    step, err = _stepper(x1, y1, x2, y2)
    sx = 1 if x2 > x1 else -1
    sy = 1 if y2 > y1 else -1
    xmajor = abs(x2 - x1) > abs(y2 - y1)
    lo, hi = (w - 1) // 2, w // 2

    def ends(x, y):
        if xmajor:
            return (x, y - lo), (x, y + hi)
        return (x - lo, y), (x + hi, y)

    def draw(x, y):
        (ax, ay), (bx, by) = ends(x, y)
        out.update((xx, yy) for xx in range(ax, bx + 1)
                   for yy in range(ay, by + 1))

    def inside(p):
        return cx <= p[0] < cx + cw and cy <= p[1] < cy + ch

    x, y = xs, ys
    while True:
        done_x = x >= xe if sx > 0 else x <= xe
        done_y = y >= ye if sy > 0 else y <= ye
        if done_x and done_y:
            break
        draw(x, y)
        x, y, err = step(x, y, err)
    while (x != x2) if xmajor else (y != y2):
        if not any(inside(p) for p in ends(x, y)):
            break
        draw(x, y)
        x, y, err = step(x, y, err)
    draw(x, y)
    return out


def ring_thick(x0, y0, r, w):
    """A circle outline 2 <= w < r wide: outer and inner midpoint ellipses
    with equal axes, full rows until the inner circle starts."""
    out = set()
    x, y, r2 = 0, r, r * r
    dx, dy = 0, 2 * r2 * r
    d1 = r2 * (1.25 - r)
    ri = r - w + 1
    ri2 = ri * ri
    st = dict(xi=0, yi=ri, dxi=0, dyi=2 * ri2 * ri, d1i=ri2 * (1.25 - ri),
              d2i=0.0)
    solid = True

    def draw():
        xi = st["xi"]
        if solid:
            span(out, x0 - x, y0 - y, x0 + x - 1)
            span(out, x0 - x, y0 + y - 1, x0 + x - 1)
        else:
            span(out, x0 - x, y0 - y, x0 - xi)
            span(out, x0 - x, y0 + y - 1, x0 - xi)
            span(out, x0 + xi - 1, y0 - y, x0 + x - 1)
            span(out, x0 + xi - 1, y0 + y - 1, x0 + x - 1)

    def inner1():
        while st["d1i"] < 0:
            st["xi"] += 1
            st["dxi"] += 2 * ri2
            st["d1i"] += st["dxi"] + ri2
        st["xi"] += 1
        st["yi"] -= 1
        st["dxi"] += 2 * ri2
        st["dyi"] -= 2 * ri2
        st["d1i"] += st["dxi"] - st["dyi"] + ri2

    while dx < dy:
        while d1 < 0:
            x += 1
            dx += 2 * r2
            d1 += dx + r2
        draw()
        x += 1
        y -= 1
        dx += 2 * r2
        dy -= 2 * r2
        d1 += dx - dy + r2
        if solid and y < ri:
            solid = False
        if not solid:
            inner1()
    if y < 0:
        return out
    d2 = r2 * ((x + 0.5) ** 2 + (y - 1) ** 2 - r2)
    while y >= 0:
        draw()
        y -= 1
        dy -= 2 * r2
        if d2 > 0:
            d2 += r2 - dy
        else:
            x += 1
            dx += 2 * r2
            d2 += dx - dy + r2
        if not solid or y < ri:
            solid = False
            if st["dxi"] < st["dyi"]:
                inner1()
            else:
                if st["d2i"] == 0:
                    st["d2i"] = ri2 * ((st["xi"] + 0.5) ** 2
                                       + (st["yi"] - 1) ** 2 - ri2)
                st["yi"] -= 1
                st["dyi"] -= 2 * ri2
                if st["d2i"] > 0:
                    st["d2i"] += ri2 - st["dyi"]
                else:
                    st["xi"] += 1
                    st["dxi"] += 2 * ri2
                    st["d2i"] += st["dxi"] - st["dyi"] + ri2
    return out


def circle_model(x0, y0, r, w=0):
    """Everything circle() draws without quadrant flags."""
    if r < 1 or w < 0:
        return set()
    w = min(w, r)
    if w == 0 or w == r:
        return disc(x0, y0, r)
    if w == 1:
        return ring(x0, y0, r)
    return ring_thick(x0, y0, r, w)


def quarter_rings(x0, y0, r, t, tr=0, tl=0, bl=0, br=0):
    """Circle quadrants, pixel by pixel; t = 0 fills them."""
    out = set()
    tr, tl, bl, br = tr > 0, tl > 0, bl > 0, br > 0
    if r == 1:
        for flag, p in ((tr, (x0, y0 - 1)), (tl, (x0 - 1, y0 - 1)),
                        (bl, (x0 - 1, y0)), (br, (x0, y0))):
            if flag:
                out.add(p)
        return out
    f, ddf_y, x, y = 1 - r, -2 * r, 0, r
    yi = r - t
    fi, ddfi_y = 1 - yi, -2 * yi
    while x < y:
        if f >= 0:
            y -= 1
            ddf_y += 2
            f += ddf_y
        if t != 0 and fi >= 0:
            yi -= 1
            ddfi_y += 2
            fi += ddfi_y
        x += 1
        f += 2 * x + 1
        fi += 2 * x + 1
        if t > 1:
            t = y - yi
        if t != 0:
            for i in range(t):
                y1 = y - i
                if y1 < x:
                    break
                if tr:
                    out |= {(x0 + x - 1, y0 - y1), (x0 + y1 - 1, y0 - x)}
                if tl:
                    out |= {(x0 - x, y0 - y1), (x0 - y1, y0 - x)}
                if bl:
                    out |= {(x0 - y1, y0 + x - 1), (x0 - x, y0 + y1 - 1)}
                if br:
                    out |= {(x0 + x - 1, y0 + y1 - 1),
                            (x0 + y1 - 1, y0 + x - 1)}
        else:
            def col(cx, ya, yb):
                out.update((cx, yy) for yy in range(ya, yb + 1))
            if tr:
                col(x0 + y - 1, y0 - x, y0)
                col(x0 + x - 1, y0 - y, y0)
            if tl:
                col(x0 - y, y0 - x, y0)
                col(x0 - x, y0 - y, y0)
            if bl:
                col(x0 - y, y0, y0 + x - 1)
                col(x0 - x, y0, y0 + y - 1)
            if br:
                col(x0 + y - 1, y0, y0 + x - 1)
                col(x0 + x - 1, y0, y0 + y - 1)
    return out


def oval_ring(x, y, w, h, t):
    """Ellipse outline t + 1 pixels wide (midpoint outer and inner)."""
    out = set()
    x0, y0 = x + w // 2, y + h // 2
    ox, oy = (w + 1) % 2, (h + 1) % 2
    a, b = w // 2, h // 2
    ai, bi = a - t, b - t
    st = dict(xi=0, yi=bi, d1i=bi * bi - ai * ai * bi + 0.25 * ai * ai,
              dxi=0, dyi=2 * ai * ai * bi, d2i=0.0)
    solid = True

    def draw(px, py):
        xi = st["xi"]
        if solid:
            span(out, x0 - px, y0 - py, x0 + px - ox)
            span(out, x0 - px, y0 + py - oy, x0 + px - ox)
        else:
            span(out, x0 - px, y0 - py, x0 - xi)
            span(out, x0 - px, y0 + py - oy, x0 - xi)
            span(out, x0 + px - ox, y0 - py, x0 + xi - ox)
            span(out, x0 + px - ox, y0 + py - oy, x0 + xi - ox)

    def step_a():
        while st["d1i"] < 0:
            st["xi"] += 1
            st["dxi"] += 2 * bi * bi
            st["d1i"] += st["dxi"] + bi * bi
        st["xi"] += 1
        st["yi"] -= 1
        st["dxi"] += 2 * bi * bi
        st["dyi"] -= 2 * ai * ai
        st["d1i"] += st["dxi"] - st["dyi"] + bi * bi

    def step_b():
        if st["yi"] < 0:
            return
        before = st["yi"]
        st["yi"] -= 1
        if st["d2i"] == 0:
            st["d2i"] = (bi * bi * (st["xi"] + 0.5) ** 2
                         + ai * ai * (before - 1) ** 2 - ai * ai * bi * bi)
        st["dyi"] -= 2 * ai * ai
        if st["d2i"] > 0:
            st["d2i"] += ai * ai - st["dyi"]
        else:
            st["dxi"] += 2 * bi * bi
            st["xi"] += 1
            st["d2i"] += st["dxi"] - st["dyi"] + ai * ai

    for px, py, moved in _oval_walk(a, b):
        # The inner ellipse moves once the outer one is below its top row.
        if moved and (not solid or py < bi):
            solid = False
            if st["dxi"] < st["dyi"]:
                step_a()
            elif moved == 2:
                step_b()
        draw(px, py)
    return out


def ellipse_model(x, y, w, h, wd=0):
    """Everything ellipse() draws (before clipping)."""
    if wd < 0 or w <= 0 or h <= 0:
        return set()
    if wd != 0 and wd < min(h // 2 + h % 2, w // 2 + w % 2):
        return oval_ring(x, y, w, h, wd - 1)
    return oval(x, y, w, h)


def arc_model(x, y, w, h, a0, a1, wd=1):
    """Everything arc() draws (before clipping)."""
    if wd < 0:
        return set()
    if wd > w // 2 or wd > h // 2:
        wd = max(w // 2, h // 2)
    if a1 < a0:
        a1 += 6.283185307179586
    wd = min(wd, min(w, h) // 2)
    if wd == 1:
        return arc_pass(x + w // 2, y + h // 2, w // 2, h // 2, a0, a1)
    out = set()
    for i in range(max(wd, 0)):
        out |= arc_pass(x + w // 2 - 1, y + h // 2 - 1, w // 2 - i - 1,
                        h // 2 - i - 1, a0, a1)
        out |= arc_pass(x + w // 2, y + h // 2, w // 2 - i, h // 2 - i,
                        a0, a1)
    return out


def _f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def _cdiv(a, b):
    """C integer division (truncating toward zero)."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def curved_box(clip, x1, y1, x2, y2, radius, wd, tl, tr, bl, br):
    """A rectangle with rounded corners (corners clipped by the caller)."""
    tl, tr, bl, br = [max(radius if c < 0 else c, 0)
                      for c in (tl, tr, bl, br)]
    W, H = x2 - x1 + 1, y2 - y1 + 1
    if tl + tr > W or bl + br > W or tl + bl > H or tr + br > H:
        def ratio(side, total):
            return _f32(side / total) if total else math.inf
        f = min(ratio(W, tl + tr), ratio(H, tl + bl), ratio(W, bl + br),
                ratio(H, tr + br))
        tl, tr, bl, br = [int(_f32(_f32(c) * f)) for c in (tl, tr, bl, br)]
    out = set()
    if wd == 0:
        out |= scanline([(x1, y1 + tl), (x1 + tl, y1), (x2 - tr, y1),
                         (x2, y1 + tr), (x2, y2 - br), (x2 - br, y2),
                         (x1 + bl, y2), (x1, y2 - bl)])
        out |= quarter_rings(x2 - tr + 1, y1 + tr, tr, 0, tr=1)
        out |= quarter_rings(x1 + tl, y1 + tl, tl, 0, tl=1)
        out |= quarter_rings(x1 + bl, y2 - bl + 1, bl, 0, bl=1)
        out |= quarter_rings(x2 - br + 1, y2 - br + 1, br, 0, br=1)
        return out
    half = wd // 2 + wd % 2 - 1
    if x2 - tr == x1 + tl:
        out |= {(x1 + tl, y1 + i) for i in range(wd)}
    else:
        out |= thick_segment(clip, x1 + tl, y1 + half, x2 - tr, y1 + half, wd)
    if y2 - bl == y1 + tl:
        out |= {(x1 + i, y1 + tl) for i in range(wd)}
    else:
        out |= thick_segment(clip, x1 + half, y1 + tl, x1 + half, y2 - bl, wd)
    if x2 - br == x1 + bl:
        out |= {(x1 + bl, y2 - i) for i in range(wd)}
    else:
        out |= thick_segment(clip, x1 + bl, y2 - wd // 2, x2 - br,
                             y2 - wd // 2, wd)
    if y2 - br == y1 + tr:
        out |= {(x2 - i, y1 + tr) for i in range(wd)}
    else:
        out |= thick_segment(clip, x2 - wd // 2, y1 + tr, x2 - wd // 2,
                             y2 - br, wd)
    out |= quarter_rings(x2 - tr + 1, y1 + tr, tr, wd, tr=1)
    out |= quarter_rings(x1 + tl, y1 + tl, tl, wd, tl=1)
    out |= quarter_rings(x1 + bl, y2 - bl + 1, bl, wd, bl=1)
    out |= quarter_rings(x2 - br + 1, y2 - br + 1, br, wd, br=1)
    return out


def rect_model(clip, x, y, w, h, wd=0, radius=0, tl=-1, tr=-1, bl=-1, br=-1):
    """Everything rect() draws, clipped."""
    cx, cy, cw, ch = clip

    def visible(ps):
        return {p for p in ps if cx <= p[0] < cx + cw and cy <= p[1] < cy + ch}

    if wd < 0:
        return set()
    plain = (radius < 1 and tl < 1 and tr < 1 and bl < 1 and br < 1) or \
        abs(w) < 2 or abs(h) < 2
    if plain:
        if w <= 0 or h <= 0:
            return set()
        ax, ay = max(x, cx), max(y, cy)
        bx, by = min(x + w, cx + cw), min(y + h, cy + ch)
        if bx <= ax or by <= ay:
            return set()
        if wd > 0 and 2 * wd < bx - ax and 2 * wd < by - ay:
            return visible(rect_frame(x, y, w, h, wd))
        return {(xx, yy) for xx in range(ax, bx) for yy in range(ay, by)}
    if w < 0:
        x, w = x + w, -w
    if h < 0:
        y, h = y + h, -h
    if wd > _cdiv(w, 2) or wd > _cdiv(h, 2):
        wd = min(_cdiv(w, 2), _cdiv(h, 2))
    return visible(curved_box(clip, x, y, x + w - 1, y + h - 1, radius, wd,
                              tl, tr, bl, br))


def smooth_writes(clip, from_x, from_y, to_x, to_y):
    """The anti-aliased line's writes in order, as (x, y, brightness), with
    every step rounded to single precision as the drawing code computes it."""
    F = _f32
    from_x, from_y, to_x, to_y = F(from_x), F(from_y), F(to_x), F(to_y)
    dx, dy = F(to_x - from_x), F(to_y - from_y)
    if abs(dx) < 0.0001 and abs(dy) < 0.0001:
        return [(math.floor(from_x + 0.5), math.floor(from_y + 0.5), 1.0)]
    cx, cy, cw, ch = clip
    left, top = F(cx - 1), F(cy - 1)
    right, bottom = F(F(left + cw) + 1), F(F(top + ch) + 1)
    steep = abs(dx) < abs(dy)
    if steep:
        from_x, from_y, to_x, to_y = from_y, from_x, to_y, to_x
        dx, dy = dy, dx
        left, top, right, bottom = top, left, bottom, right
    if dx < 0:
        from_x, from_y, to_x, to_y = to_x, to_y, from_x, from_y
        dx, dy = -dx, -dy
    if to_x <= left or from_x >= right:
        return []
    g = F(dy / dx)
    if from_x < left:
        from_y = F(from_y + F(g * F(left - from_x)))
        from_x = left
    if to_x > right:
        to_y = F(to_y + F(g * F(right - to_x)))
        to_x = right
    # The same in y, from the end lower in y (lx, ly) to the other one.
    rising = g > 0
    ends = [(from_x, from_y), (to_x, to_y)]
    (lx, ly), (hx, hy) = ends if rising else ends[::-1]
    if hy <= top or ly >= bottom:
        return []
    if ly < top:
        lx, ly = F(lx + F(F(top - ly) / g)), top
    if hy > bottom:
        hx, hy = F(hx + F(F(bottom - hy) / g)), bottom
    ends = [(lx, ly), (hx, hy)]
    (from_x, from_y), (to_x, to_y) = ends if rising else ends[::-1]
    from_y, to_y = F(from_y + 1), F(to_y + 1)
    out = []

    def put(px, py, b):
        out.append((py, px, b) if steep else (px, py, b))

    xs = int(from_x)
    iy = F(from_y + F(g * F(xs - from_x)))
    if to_x > F(left + 1):
        gap = F(F(1 + xs) - from_x)
        ty = int(iy)
        f = F(iy - ty)
        if ty < iy:
            put(xs, ty, F(f * gap))
        put(xs, ty - 1, F(F(1 - f) * gap))
        iy = F(iy + g)
        xs += 1
    xe = int(math.ceil(to_x))
    if from_x < F(right - 1):
        ye = F(to_y + F(g * F(xe - to_x)))
        gap = F(F(1 - xe) + to_x)
        ty = int(ye)
        f = F(ye - ty)
        if ty < ye:
            put(xe, ty, F(f * gap))
        put(xe, ty - 1, F(F(1 - f) * gap))
    for x in range(xs, xe):
        y = int(iy)
        b = F(F(1 - iy) + y)
        put(x, y - 1, b)
        if y < iy:
            put(x, y, F(1 - b))
        iy = F(iy + g)
    return out


def shade(b, colour, background=None):
    """One channel of an anti-aliased pixel (blend when a background is
    given), truncated to a byte as the drawing code does."""
    F = _f32
    if background is None:
        v = F(b * colour)
    else:
        v = F(F(b * colour) + F(F(1 - b) * background))
    return max(0, min(255, int(v)))


def rect_frame(x, y, w, h, wd):
    return {(xx, yy) for yy in range(y, y + h) for xx in range(x, x + w)
            if min(xx - x, yy - y, x + w - 1 - xx, y + h - 1 - yy) < wd}


__all__ = ["DEPTHS", "INK", "Target", "bounding", "target", "bresenham",
           "clip_segment", "thin_line", "disc", "ring", "oval",
           "scanline", "arc_pass", "rect_frame", "thick_segment",
           "ring_thick", "circle_model", "quarter_rings", "oval_ring",
           "ellipse_model", "arc_model", "curved_box", "rect_model",
           "smooth_writes", "shade",
           "lumora"]
