"""Reference models for the lumora.shapekit tests.

`Model` mirrors a surface's mapped pixel values and applies the blend rule
d + ((a * (s - d)) >> 8) per channel to every write; the shape functions
below emit the pixel writes of each rasteriser straight from its rules, so
a drawing can be checked pixel for pixel, blends included.
"""
import math

import numpy as np

from lumora import Surface

SRCALPHA = 0x10000
# (label, depth, flags): every pixel size, 32 bits with and without alpha.
FORMATS = [("8", 8, 0), ("16", 16, 0), ("24", 24, 0), ("32", 32, 0),
           ("32a", 32, SRCALPHA)]
OPAQUE = (200, 40, 90, 255)
GLASS = (30, 220, 140, 100)


def make(fmt, size=(40, 30), clip=None, bg=(60, 120, 180, 200)):
    _, depth, flags = fmt
    s = Surface(size, flags, depth)
    s.fill(bg)
    if clip:
        s.set_clip(clip)
    return s


class Model:
    def __init__(self, surf):
        self.surf = surf
        self.w, self.h = surf.get_size()
        self.bpp = surf.get_bytesize()
        self.px = {(x, y): surf.get_at_mapped((x, y))
                   for y in range(self.h) for x in range(self.w)}
        c = surf.get_clip()
        self.clip = (c[0], c[1], c[0] + c[2] - 1, c[1] + c[3] - 1)
        self.masks = surf.get_masks()
        self.shifts = surf.get_shifts()
        self.palette = surf.get_palette() if self.bpp == 1 else None
        self.writes = {}
        self.maps = {}

    def inside(self, x, y):
        l, t, r, b = self.clip
        return l <= x <= r and t <= y <= b

    def put(self, x, y, rgba):
        if not self.inside(x, y):
            return
        self.writes[(x, y)] = self.writes.get((x, y), 0) + 1
        a = rgba[3]
        s = self.maps.get(rgba)
        if s is None:
            s = self.maps[rgba] = self.surf.map_rgb(rgba)
        if a == 255:
            self.px[(x, y)] = s
            return
        d = self.px[(x, y)]
        if self.palette is not None:
            dc, sc = self.palette[d], self.palette[s]
            mixed = [dc[i] + ((a * (sc[i] - dc[i])) >> 8) for i in range(3)]
            self.px[(x, y)] = self.surf.map_rgb(mixed)
            return
        out = 0
        for mask, shift in zip(self.masks, self.shifts):
            if not mask:
                continue
            dc, sc = (d & mask) >> shift, (s & mask) >> shift
            out |= ((dc + ((a * (sc - dc)) >> 8)) << shift) & mask
        self.px[(x, y)] = out

    def weighted(self, x, y, rgba, w):
        self.put(x, y, rgba[:3] + ((rgba[3] * w) >> 8,))

    def hline(self, x1, x2, y, rgba):
        l, _, r, _ = self.clip
        for x in range(max(min(x1, x2), l), min(max(x1, x2), r) + 1):
            self.put(x, y, rgba)

    def vline(self, x, y1, y2, rgba):
        _, t, _, b = self.clip
        for y in range(max(min(y1, y2), t), min(max(y1, y2), b) + 1):
            self.put(x, y, rgba)

    def diff(self):
        get = self.surf.get_at_mapped
        return sorted((p, v, get(p)) for p, v in self.px.items()
                      if get(p) != v)[:6]


# ---------------------------------------------------------------------------
# Shapes: each takes the model and draws into it.
# ---------------------------------------------------------------------------
def rectangle(m, x1, y1, x2, y2, c):
    if x1 == x2 and y1 == y2:
        return m.put(x1, y1, c)
    if x1 == x2:
        return m.vline(x1, y1, y2, c)
    if y1 == y2:
        return m.hline(x1, x2, y1, c)
    xa, xb, ya, yb = min(x1, x2), max(x1, x2), min(y1, y2), max(y1, y2)
    m.hline(xa, xb, ya, c)
    m.hline(xa, xb, yb, c)
    if yb - 1 >= ya + 1:
        m.vline(xa, ya + 1, yb - 1, c)
        m.vline(xb, ya + 1, yb - 1, c)


def box(m, x1, y1, x2, y2, c):
    for y in range(min(y1, y2), max(y1, y2) + 1):
        m.hline(x1, x2, y, c)


def _code(clip, x, y):
    l, t, r, b = clip
    return ((1 if x < l else 2 if x > r else 0) |
            (8 if y < t else 4 if y > b else 0))


def clip_line(clip, x1, y1, x2, y2, flips=None):
    """Segment clipped with a single-precision slope, or None."""
    f = np.float32
    flipped = False
    l, t, r, b = clip
    for _ in range(16):
        c1, c2 = _code(clip, x1, y1), _code(clip, x2, y2)
        if not c1 | c2:
            if flips is not None:
                flips.append(flipped)
            return x1, y1, x2, y2
        if c1 & c2:
            return None
        if not c1:
            x1, y1, x2, y2, c1 = x2, y2, x1, y1, c2
            flipped = not flipped
        m = f(y2 - y1) / f(x2 - x1) if x2 != x1 else f(1.0)
        if c1 & 1:
            y1 += int(f(l - x1) * m)
            x1 = l
        elif c1 & 2:
            y1 += int(f(r - x1) * m)
            x1 = r
        elif c1 & 4:
            if x1 != x2:
                x1 += int(f(b - y1) / m)
            y1 = b
        else:
            if x1 != x2:
                x1 += int(f(t - y1) / m)
            y1 = t
    return None


def line(m, x1, y1, x2, y2, c):
    seg = clip_line(m.clip, x1, y1, x2, y2)
    if seg is None:
        return
    x1, y1, x2, y2 = seg
    if x1 == x2:
        return m.vline(x1, y1, y2, c)
    if y1 == y2:
        return m.hline(x1, x2, y1, c)
    sx = 1 if x2 > x1 else -1
    sy = 1 if y2 > y1 else -1
    if c[3] == 255:
        dx, dy = abs(x2 - x1) + 1, abs(y2 - y1) + 1
        major, minor = (dy, dx) if dx < dy else (dx, dy)
        x, y, err = x1, y1, 0
        for _ in range(major):
            m.put(x, y, c)
            if dx < dy:
                y += sy
            else:
                x += sx
            err += minor
            if err >= major:
                err -= major
                if dx < dy:
                    x += sx
                else:
                    y += sy
        return
    ax, ay = 2 * abs(x2 - x1), 2 * abs(y2 - y1)
    if ax > ay:
        _midpoint(lambda a, b: m.put(a, b, c), x1, y1, x2, sx, sy, ax, ay)
    else:
        _midpoint(lambda a, b: m.put(b, a, c), y1, x1, y2, sy, sx, ay, ax)


def _midpoint(put, a, b, a_end, sa, sb, da, db):
    """Midpoint walk along the major axis a, both end points included."""
    d = db - da // 2
    while a != a_end:
        put(a, b)
        if d > 0 or (d == 0 and sa == 1):
            b += sb
            d -= da
        a += sa
        d += db
    put(a, b)


def aaline(m, x1, y1, x2, y2, c, endpoint):
    flips = []
    seg = clip_line(m.clip, x1, y1, x2, y2, flips)
    if seg is None:
        return
    x1, y1, x2, y2 = seg
    swapped = flips[0] != (y1 > y2)
    if y1 > y2:
        x1, y1, x2, y2 = x2, y2, x1, y1
    dx, dy = x2 - x1, y2 - y1
    if dx == 0:
        if endpoint or dy == 0:
            return m.vline(x1, y1, y2, c)
        return m.vline(x1, y1 + swapped, y2 - (not swapped), c)
    if dy == 0:
        if endpoint:
            return m.hline(x1, x2, y1, c)
        return m.hline(x1, x1 + dx - (1 if dx > 0 else -1), y1, c)
    xdir = 1 if dx > 0 else -1
    dx = abs(dx)
    if dx == dy and endpoint:
        return line(m, x1, y1, x2, y2, c)
    if endpoint or not swapped:
        m.put(x1, y1, c)
    acc = 0
    if dy > dx:
        adj = (((dx << 16) // dy) << 16) & 0xFFFFFFFF
        x0, xn, y = x1, x1 + xdir, y1
        for _ in range(dy - 1):
            old, acc = acc, (acc + adj) & 0xFFFFFFFF
            if acc <= old:
                x0, xn = xn, xn + xdir
            y += 1
            w = acc >> 24
            m.weighted(x0, y, c, 255 - w)
            m.weighted(xn, y, c, w)
    else:
        adj = (((dy << 16) // dx) << 16) & 0xFFFFFFFF
        y0, x = y1, x1
        for _ in range(dx - 1):
            old, acc = acc, (acc + adj) & 0xFFFFFFFF
            if acc <= old:
                y0 += 1
            x += xdir
            w = acc >> 24
            m.weighted(x, y0, c, 255 - w)
            m.weighted(x, y0 + 1, c, w)
    if endpoint or swapped:
        m.put(x2, y2, c)


def polygon(m, pts, c, edge=line):
    for i in range(len(pts)):
        (xa, ya), (xb, yb) = pts[i - 1], pts[i]
        if i:
            edge(m, xa, ya, xb, yb, c)
    edge(m, pts[-1][0], pts[-1][1], pts[0][0], pts[0][1], c)


def scan_spans(pts, rows=(-32768, 32767)):
    """(xa, xb, y) runs of the scanline filler, 16.16 with rounding."""
    ys = [p[1] for p in pts]
    miny, maxy = min(ys), max(ys)
    for y in range(max(miny, rows[0]), min(maxy, rows[1]) + 1):
        ints = []
        for i in range(len(pts)):
            (x1, y1), (x2, y2) = pts[i - 1], pts[i]
            if y1 == y2:
                continue
            if y1 > y2:
                x1, y1, x2, y2 = x2, y2, x1, y1
            if y1 <= y < y2 or (y == maxy and y1 < y <= y2):
                ints.append((65536 * (y - y1)) // (y2 - y1) * (x2 - x1) +
                            65536 * x1)
        ints.sort()
        for a, b in zip(ints[0::2], ints[1::2]):
            a, b = a + 1, b - 1
            yield ((a >> 16) + ((a & 0x8000) >> 15),
                   (b >> 16) + ((b & 0x8000) >> 15), y)


def filled_polygon(m, pts, c):
    for xa, xb, y in scan_spans(pts, (m.clip[1], m.clip[3])):
        m.hline(xa, xb, y, c)


def midpoint(r):
    cx, cy, df, de, dse = 0, r, 1 - r, 3, 5 - 2 * r
    while True:
        yield cx, cy
        if df < 0:
            df, de, dse = df + de, de + 2, dse + 2
        else:
            df, de, dse, cy = df + dse, de + 2, dse + 4, cy - 1
        cx += 1
        if cy < cx:
            return


def circle(m, x, y, r, c):
    if r == 0:
        return m.put(x, y, c)
    for cx, cy in midpoint(r):
        if cx > 0:
            pts = [(-cx, cy), (cx, cy), (-cx, -cy), (cx, -cy)]
            if cx != cy:
                pts += [(-cy, cx), (cy, cx), (-cy, -cx), (cy, -cx)]
        else:
            pts = [(0, -cy), (0, cy), (-cy, 0), (cy, 0)]
        for dx, dy in pts:
            m.put(x + dx, y + dy, c)


def filled_circle(m, x, y, r, c):
    if r == 0:
        return m.put(x, y, c)
    ocx = ocy = -1
    for cx, cy in midpoint(r):
        if cy != ocy:
            for row in {y + cy, y - cy}:
                m.hline(x - cx, x + cx, row, c)
            ocy = cy
        if cx != ocx:
            if cx != cy:
                for row in {y + cx, y - cx}:
                    m.hline(x - cy, x + cy, row, c)
            ocx = cx


def pie_points(x, y, r, start, end):
    def crem(a):
        return int(math.fmod(a, 360))
    a0 = crem(start) * 0.017453292519943295
    a1 = crem(end) * 0.017453292519943295
    if a0 > a1:
        a1 += 6.283185307179586
    step = 3.0 / r
    count, a = 2, a0
    while a < a1:
        a += step
        count += 1
    a = a0
    pts = [(x, y), (x + int(r * math.cos(a)), y + int(r * math.sin(a)))]
    for _ in range(count - 2):
        a = min(a + step, a1)
        pts.append((x + int(r * math.cos(a)), y + int(r * math.sin(a))))
    return pts


def pie(m, x, y, r, start, end, c):
    if r == 0:
        return m.put(x, y, c)
    pts = pie_points(x, y, r, start, end)
    if len(pts) == 2:
        return line(m, *pts[0], *pts[1], c)
    polygon(m, pts, c)


def evaluate_bezier(data, t):
    count = len(data)
    if t < 0:
        return data[0]
    if t >= count:
        return data[-1]
    mu = t / count
    n = count - 1
    result, muk, munk = 0.0, 1.0, math.pow(1.0 - mu, n)
    for k in range(n + 1):
        nn, kn, nkn = n, k, n - k
        blend = muk * munk
        muk *= mu
        munk /= 1.0 - mu
        while nn >= 1:
            blend *= nn
            nn -= 1
            if kn > 1:
                blend /= kn
                kn -= 1
            if nkn > 1:
                blend /= nkn
                nkn -= 1
        result += data[k] * blend
    return result


def bezier_points(pts, steps):
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    out = [(pts[0][0], pts[0][1])]
    t = 0.0
    for _ in range(len(pts) * steps + 1):
        t += 1.0 / steps
        out.append((int(evaluate_bezier(xs, t)), int(evaluate_bezier(ys, t))))
    return out


def bezier(m, pts, steps, c):
    out = bezier_points(pts, steps)
    for (xa, ya), (xb, yb) in zip(out, out[1:]):
        line(m, xa, ya, xb, yb, c)
