"""Reference models and surface helpers for the lumora.draw tests.

The models are small, direct per-pixel versions of the rasterisers' rules
(line stepping, disc, ellipse, scanline fill), written without any of the
clipping shortcuts or span merging of the real code, so that the pixel sets
can be compared exactly.
"""
import math

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


def bresenham(x1, y1, x2, y2):
    """The one-pixel line: two-test Bresenham, error dx/2 or -(dy/2)."""
    out = [(x1, y1)]
    if (x1, y1) == (x2, y2):
        return out
    dx, dy = abs(x2 - x1), abs(y2 - y1)
    sx = 1 if x2 > x1 else -1
    sy = 1 if y2 > y1 else -1
    err = dx // 2 if dy < dx else -(dy // 2)
    x, y = x1, y1
    while True:
        e2 = err
        if e2 > -dx:
            err -= dy
            x += sx
        if e2 < dy:
            err += dx
            y += sy
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


def thick_line(x1, y1, x2, y2, w):
    """An unclipped thick line: a cross-section at every centre pixel."""
    out = set()
    lo, hi = (w - 1) // 2, w // 2
    xmajor = abs(x2 - x1) > abs(y2 - y1)
    for x, y in bresenham(x1, y1, x2, y2):
        if xmajor:
            out.update((x, yy) for yy in range(y - lo, y + hi + 1))
        else:
            out.update((xx, y) for xx in range(x - lo, x + hi + 1))
    return out


def disc(x0, y0, r):
    out = set()
    f, ddf_y, x, y = 1 - r, -2 * r, 0, r
    while x < y:
        if f >= 0:
            y -= 1
            ddf_y += 2
            f += ddf_y
        x += 1
        f += 2 * x + 1
        if f >= 0:
            span(out, x0 - x, y0 + y - 1, x0 + x - 1)
            span(out, x0 - x, y0 - y, x0 + x - 1)
        span(out, x0 - y, y0 + x - 1, x0 + y - 1)
        span(out, x0 - y, y0 - x, x0 + y - 1)
    return out


def ring(x0, y0, r):
    out = set()
    f, ddf_y, x, y = 1 - r, -2 * r, 0, r
    while x < y:
        if f >= 0:
            y -= 1
            ddf_y += 2
            f += ddf_y
        x += 1
        f += 2 * x + 1
        out.update({(x0 + x - 1, y0 + y - 1), (x0 - x, y0 + y - 1),
                    (x0 + x - 1, y0 - y), (x0 - x, y0 - y),
                    (x0 + y - 1, y0 + x - 1), (x0 + y - 1, y0 - x),
                    (x0 - y, y0 + x - 1), (x0 - y, y0 - x)})
    return out


def oval(x, y, w, h):
    """Filled ellipse: midpoint stepping, a pair of spans at every step."""
    out = set()
    if w == 1:
        return {(x, yy) for yy in range(y, y + h)}
    if h == 1:
        return {(xx, y) for xx in range(x, x + w)}
    x0, y0 = x + w // 2, y + h // 2
    ox, oy = (w + 1) % 2, (h + 1) % 2
    a, b = w // 2, h // 2
    px, py = 0, b
    d1 = b * b - a * a * b + 0.25 * a * a
    dx, dy = 0, 2 * a * a * b
    while dx < dy:
        span(out, x0 - px, y0 - py, x0 + px - ox)
        span(out, x0 - px, y0 + py - oy, x0 + px - ox)
        if d1 < 0:
            px += 1
            dx += 2 * b * b
            d1 += dx + b * b
        else:
            px += 1
            py -= 1
            dx += 2 * b * b
            dy -= 2 * a * a
            d1 += dx - dy + b * b
    d2 = b * b * (px + 0.5) ** 2 + a * a * (py - 1) ** 2 - a * a * b * b
    while py >= 0:
        span(out, x0 - px, y0 - py, x0 + px - ox)
        span(out, x0 - px, y0 + py - oy, x0 + px - ox)
        if d2 > 0:
            py -= 1
            dy -= 2 * a * a
            d2 += a * a - dy
        else:
            py -= 1
            px += 1
            dx += 2 * b * b
            dy -= 2 * a * a
            d2 += dx - dy + a * a
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


def rect_frame(x, y, w, h, wd):
    return {(xx, yy) for yy in range(y, y + h) for xx in range(x, x + w)
            if min(xx - x, yy - y, x + w - 1 - xx, y + h - 1 - yy) < wd}


__all__ = ["DEPTHS", "INK", "Target", "bounding", "target", "bresenham",
           "clip_segment", "thin_line", "thick_line", "disc", "ring", "oval",
           "scanline", "arc_pass", "rect_frame", "lumora"]
