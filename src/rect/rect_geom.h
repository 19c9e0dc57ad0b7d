// Rectangle geometry kernels: plain integer functions, no Python.
//
// Predicates (overlap, containment, point tests) compare in 64 bits, so a
// rectangle whose right edge lies beyond INT_MAX is still judged by its true
// extent.  Results stored back into a rectangle wrap in 32 bits: the fields
// are C ints and signed overflow must never happen.
#pragma once

#include <SDL_rect.h>

#include <cmath>
#include <cstdint>
#include <climits>

namespace lmgeom {

using i64 = int64_t;

static inline int wrap32(i64 v) { return (int)(uint32_t)(uint64_t)v; }
static inline int wadd(int a, int b) { return (int)((uint32_t)a + (uint32_t)b); }
static inline int wsub(int a, int b) { return (int)((uint32_t)a - (uint32_t)b); }
static inline int wneg(int a) { return (int)(0u - (uint32_t)a); }
// Halving for attributes: floor (arithmetic shift); for methods: C division.
static inline int half_floor(int v) { return v >> 1; }
static inline int half_trunc(int v) { return v / 2; }

// Double to float without leaving float's range by a cast (which would be
// undefined): out-of-range values become the matching infinity.
static inline float to_float(double v)
{
    if (v > 3.4028234663852886e38)
        return INFINITY;
    if (v < -3.4028234663852886e38)
        return -INFINITY;
    return (float)v;
}

static inline void normalize(SDL_Rect *r)
{
    if (r->w < 0) {
        r->x = wadd(r->x, r->w);
        r->w = wneg(r->w);
    }
    if (r->h < 0) {
        r->y = wadd(r->y, r->h);
        r->h = wneg(r->h);
    }
}

// A side's extent from position and (possibly negative) size.
static inline void span(int p, int len, i64 *lo, i64 *hi)
{
    i64 a = p, b = (i64)p + len;
    *lo = a < b ? a : b;
    *hi = a < b ? b : a;
}

// The receiver's extent, prepared once for testing many rectangles.
// Strict overlap: zero sizes never overlap, negative sizes count by their
// extent, touching edges do not overlap.  The tests are combined without
// branches: on mixed data a short-circuit chain mispredicts.
struct Extent {
    i64 x1, x2, y1, y2;
    bool empty;
    explicit Extent(const SDL_Rect &a)
    {
        empty = !a.w || !a.h;
        span(a.x, a.w, &x1, &x2);
        span(a.y, a.h, &y1, &y2);
    }
    bool hits(const SDL_Rect &b) const
    {
        // Positive sizes, the usual case, need no normalising.
        if (__builtin_expect((b.w > 0) & (b.h > 0), 1))
            return (x1 < (i64)b.x + b.w) & ((i64)b.x < x2) &
                   (y1 < (i64)b.y + b.h) & ((i64)b.y < y2);
        i64 bx1, bx2, by1, by2;
        span(b.x, b.w, &bx1, &bx2);
        span(b.y, b.h, &by1, &by2);
        return (b.w != 0) & (b.h != 0) & (x1 < bx2) & (bx1 < x2) &
               (y1 < by2) & (by1 < y2);
    }
};

static inline bool overlap(const SDL_Rect &a, const SDL_Rect &b)
{
    Extent e(a);
    return !e.empty && e.hits(b);
}

static inline bool contains(const SDL_Rect &a, const SDL_Rect &b)
{
    i64 ar = (i64)a.x + a.w, ab = (i64)a.y + a.h;
    i64 br = (i64)b.x + b.w, bb = (i64)b.y + b.h;
    return a.x <= b.x && a.y <= b.y && br <= ar && bb <= ab && b.x < ar &&
           b.y < ab;
}

static inline bool point_in(const SDL_Rect &a, int px, int py)
{
    return a.x <= px && px < (i64)a.x + a.w && a.y <= py &&
           py < (i64)a.y + a.h;
}

// One axis of the intersection.  Returns false when the spans are disjoint.
static inline bool clip_axis(int p, int len, int op, int olen, int *outp,
                             int *outlen)
{
    i64 end = (i64)p + len, oend = (i64)op + olen;
    i64 lo;
    if (p >= op && p < oend)
        lo = p;
    else if (op >= p && op < end)
        lo = op;
    else
        return false;
    i64 n;
    if (end > op && end <= oend)
        n = end - lo;
    else if (oend > p && oend <= end)
        n = oend - lo;
    else
        return false;
    *outp = (int)lo;
    *outlen = wrap32(n);
    return true;
}

// Intersection; no overlap gives the receiver's position with zero size.
static inline SDL_Rect clip(const SDL_Rect &a, const SDL_Rect &b)
{
    SDL_Rect r;
    if (clip_axis(a.x, a.w, b.x, b.w, &r.x, &r.w) &&
        clip_axis(a.y, a.h, b.y, b.h, &r.y, &r.h))
        return r;
    return SDL_Rect{a.x, a.y, 0, 0};
}

static inline int clamp_axis(int p, int len, int op, int olen)
{
    if (len >= olen)
        return wrap32((i64)op + half_trunc(olen) - half_trunc(len));
    if (p < op)
        return op;
    if ((i64)p + len > (i64)op + olen)
        return wrap32((i64)op + olen - len);
    return p;
}

// Moves `a` inside `b`, keeping its size (centred on an axis where it is
// not smaller than `b`).
static inline SDL_Rect clamp(const SDL_Rect &a, const SDL_Rect &b)
{
    return SDL_Rect{clamp_axis(a.x, a.w, b.x, b.w),
                    clamp_axis(a.y, a.h, b.y, b.h), a.w, a.h};
}

// Float-to-int conversion used by the scaling kernels: the module passes the
// project's one saturating helper (NaN to 0, out of range to the limit), so
// this header stays free of Python.
using SatFn = int (*)(double);

// Scales `a` to fit `b` keeping the aspect ratio, centred in `b`.  Ratios
// are single-precision; a zero-size side gives infinite or NaN ratios, which
// saturate instead of being cast.
template <SatFn sat_int>
static inline SDL_Rect fit(const SDL_Rect &a, const SDL_Rect &b)
{
    float xr = (float)a.w / (float)b.w;
    float yr = (float)a.h / (float)b.h;
    float r = xr > yr ? xr : yr;
    int nw = sat_int((double)((float)a.w / r));
    int nh = sat_int((double)((float)a.h / r));
    return SDL_Rect{wrap32((i64)b.x + ((i64)b.w - nw) / 2),
                    wrap32((i64)b.y + ((i64)b.h - nh) / 2), nw, nh};
}

// Running union over left/top/right/bottom in 64 bits.
struct Bounds {
    i64 l, t, r, b;
    explicit Bounds(const SDL_Rect &a)
        : l(a.x), t(a.y), r((i64)a.x + a.w), b((i64)a.y + a.h) {}
    void add(const SDL_Rect &o)
    {
        i64 orr = (i64)o.x + o.w, ob = (i64)o.y + o.h;
        if (o.x < l) l = o.x;
        if (o.y < t) t = o.y;
        if (orr > r) r = orr;
        if (ob > b) b = ob;
    }
    SDL_Rect rect() const
    {
        return SDL_Rect{(int)l, (int)t, wrap32(r - l), wrap32(b - t)};
    }
};

static inline SDL_Rect unite(const SDL_Rect &a, const SDL_Rect &b)
{
    Bounds u(a);
    u.add(b);
    return u.rect();
}

static inline SDL_Rect move(const SDL_Rect &a, int dx, int dy)
{
    return SDL_Rect{wadd(a.x, dx), wadd(a.y, dy), a.w, a.h};
}

static inline SDL_Rect inflate(const SDL_Rect &a, int dx, int dy)
{
    return SDL_Rect{wsub(a.x, half_trunc(dx)), wsub(a.y, half_trunc(dy)),
                    wadd(a.w, dx), wadd(a.h, dy)};
}

// Scales about the centre in single precision; each result saturates.
template <SatFn sat_int>
static inline SDL_Rect scale(const SDL_Rect &a, float sx, float sy)
{
    float nw = (float)a.w * sx;
    float nh = (float)a.h * sy;
    float nx = (float)wadd(a.x, half_trunc(a.w)) - nw * 0.5f;
    float ny = (float)wadd(a.y, half_trunc(a.h)) - nh * 0.5f;
    return SDL_Rect{sat_int(nx), sat_int(ny), sat_int(nw), sat_int(nh)};
}

// Line clipping with the rules of SDL2's SDL_IntersectRectAndLine (the
// rectangle's last pixel column and row are x + w - 1 and y + h - 1;
// Cohen-Sutherland with truncating divisions), computed in 64 bits so that
// coordinates far apart cannot overflow.  `a` must have non-negative
// sizes.  Returns false when the segment misses the rectangle; otherwise
// the four coordinates are replaced by the clipped ones.
namespace linecode {
enum { TOP = 1, BOTTOM = 2, LEFT = 4, RIGHT = 8 };
}

static inline int line_outcode(i64 x1, i64 y1, i64 x2, i64 y2, i64 x, i64 y)
{
    int code = 0;
    if (y < y1)
        code |= linecode::TOP;
    else if (y > y2)
        code |= linecode::BOTTOM;
    if (x < x1)
        code |= linecode::LEFT;
    else if (x > x2)
        code |= linecode::RIGHT;
    return code;
}

// a * k / d truncated toward zero, for |a|, |k|, |d| < 2**32 and d != 0:
// the magnitudes' product fits an unsigned 64-bit value, which a signed
// product would not.
static inline i64 muldiv(i64 a, i64 k, i64 d)
{
    uint64_t ua = (uint64_t)(a < 0 ? -a : a);
    uint64_t uk = (uint64_t)(k < 0 ? -k : k);
    uint64_t ud = (uint64_t)(d < 0 ? -d : d);
    uint64_t q = ua * uk / ud;
    bool neg = ((a < 0) != (k < 0)) != (d < 0);
    return neg ? -(i64)q : (i64)q;
}

static inline bool clip_line(const SDL_Rect &a, int *X1, int *Y1, int *X2,
                             int *Y2)
{
    if (a.w <= 0 || a.h <= 0)
        return false;
    i64 x1 = *X1, y1 = *Y1, x2 = *X2, y2 = *Y2;
    const i64 rx1 = a.x, ry1 = a.y;
    const i64 rx2 = (i64)a.x + a.w - 1, ry2 = (i64)a.y + a.h - 1;

    if (x1 >= rx1 && x1 <= rx2 && x2 >= rx1 && x2 <= rx2 && y1 >= ry1 &&
        y1 <= ry2 && y2 >= ry1 && y2 <= ry2)
        return true;
    if ((x1 < rx1 && x2 < rx1) || (x1 > rx2 && x2 > rx2) ||
        (y1 < ry1 && y2 < ry1) || (y1 > ry2 && y2 > ry2))
        return false;
    if (y1 == y2) {
        *X1 = (int)(x1 < rx1 ? rx1 : x1 > rx2 ? rx2 : x1);
        *X2 = (int)(x2 < rx1 ? rx1 : x2 > rx2 ? rx2 : x2);
        return true;
    }
    if (x1 == x2) {
        *Y1 = (int)(y1 < ry1 ? ry1 : y1 > ry2 ? ry2 : y1);
        *Y2 = (int)(y2 < ry1 ? ry1 : y2 > ry2 ? ry2 : y2);
        return true;
    }
    // Each step moves one end onto an edge line lying between the two ends
    // (the ends are not beyond the same edge), so |k| <= |d| in muldiv and
    // every new coordinate stays between old ones, within the int range.
    int c1 = line_outcode(rx1, ry1, rx2, ry2, x1, y1);
    int c2 = line_outcode(rx1, ry1, rx2, ry2, x2, y2);
    while (c1 || c2) {
        if (c1 & c2)
            return false;
        bool first = c1 != 0;
        int c = first ? c1 : c2;
        i64 x, y;
        if (c & linecode::TOP) {
            y = ry1;
            x = x1 + muldiv(x2 - x1, y - y1, y2 - y1);
        }
        else if (c & linecode::BOTTOM) {
            y = ry2;
            x = x1 + muldiv(x2 - x1, y - y1, y2 - y1);
        }
        else if (c & linecode::LEFT) {
            x = rx1;
            y = y1 + muldiv(y2 - y1, x - x1, x2 - x1);
        }
        else {
            x = rx2;
            y = y1 + muldiv(y2 - y1, x - x1, x2 - x1);
        }
        if (first) {
            x1 = x;
            y1 = y;
            c1 = line_outcode(rx1, ry1, rx2, ry2, x, y);
        }
        else {
            x2 = x;
            y2 = y;
            c2 = line_outcode(rx1, ry1, rx2, ry2, x, y);
        }
    }
    *X1 = (int)x1;
    *Y1 = (int)y1;
    *X2 = (int)x2;
    *Y2 = (int)y2;
    return true;
}

}  // namespace lmgeom
