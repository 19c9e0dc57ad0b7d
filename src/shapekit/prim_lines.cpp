// Lines, polygons, pies and Bezier curves (see prims.h).

#include "prims.h"

#include <cmath>
#include <utility>

namespace lmshape {

namespace {

int clip_code(const Bounds &b, int64_t x, int64_t y)
{
    int code = 0;
    if (x < b.left)
        code |= 1;
    else if (x > b.right)
        code |= 2;
    if (y < b.top)
        code |= 8;
    else if (y > b.bottom)
        code |= 4;
    return code;
}

// Truncation toward zero, saturated (a float far outside the int range is
// not a valid cast).
int64_t trunc_sat(float v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 4.0e9f)
        return (int64_t)4000000000LL;
    if (v <= -4.0e9f)
        return -(int64_t)4000000000LL;
    return (int64_t)v;
}

// Cohen-Sutherland clipping of the segment to the clip rectangle; false
// when nothing of it is inside.  The outside end moves along the slope to
// the boundary it crosses, one boundary per round.  Rounding can in
// principle bounce an end between two boundaries; a round limit turns that
// into a rejection instead of a hang.
bool clip_line(const Bounds &b, int *px1, int *py1, int *px2, int *py2,
               bool *reversed = nullptr)
{
    bool flipped = false;
    int64_t x1 = *px1, y1 = *py1, x2 = *px2, y2 = *py2;
    for (int round = 0; round < 16; ++round) {
        int c1 = clip_code(b, x1, y1), c2 = clip_code(b, x2, y2);
        if (!(c1 | c2)) {
            *px1 = (int)x1;
            *py1 = (int)y1;
            *px2 = (int)x2;
            *py2 = (int)y2;
            if (reversed)
                *reversed = flipped;
            return true;
        }
        if (c1 & c2)
            return false;
        if (!c1) {
            std::swap(x1, x2);
            std::swap(y1, y2);
            std::swap(c1, c2);
            flipped = !flipped;
        }
        float m = x2 != x1 ? (float)(y2 - y1) / (float)(x2 - x1) : 1.0f;
        if (c1 & 1) {
            y1 += trunc_sat((float)(b.left - x1) * m);
            x1 = b.left;
        } else if (c1 & 2) {
            y1 += trunc_sat((float)(b.right - x1) * m);
            x1 = b.right;
        } else if (c1 & 4) {
            if (x1 != x2)
                x1 += trunc_sat((float)(b.bottom - y1) / m);
            y1 = b.bottom;
        } else {
            if (x1 != x2)
                x1 += trunc_sat((float)(b.top - y1) / m);
            y1 = b.top;
        }
    }
    return false;
}

// The two walks of a line along its major axis a (the minor one is b),
// with put(a, b) per pixel.  The opaque one covers `na` pixels, spreading
// `nb` steps of b evenly; the blending one is the midpoint walk over the
// doubled extents da, db, ties going to b's step where a runs forward.
template <typename Put>
void walk_opaque(int a, int b, int sa, int sb, int na, int nb, Put &&put)
{
    int err = 0;
    for (int i = 0; i < na; ++i) {
        put(a, b);
        a += sa;
        err += nb;
        if (err >= na) {
            err -= na;
            b += sb;
        }
    }
}

template <typename Put>
int walk_blend(int a, int b, int a_end, int sa, int sb, int da, int db,
               Put &&put)
{
    int d = db - da / 2, result = 0;
    while (a != a_end) {
        result |= put(a, b);
        if (d > 0 || (d == 0 && sa == 1)) {
            b += sb;
            d -= da;
        }
        a += sa;
        d += db;
    }
    return result | put(a, b);
}

}  // namespace

int line(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba)
{
    Bounds b = bounds_of(s);
    if (b.empty || !clip_line(b, &x1, &y1, &x2, &y2))
        return 0;
    if (x1 == x2) {
        if (y1 == y2)
            return pixel_locked(s, x1, y1, rgba);
        return vline(s, x1, y1, y2, rgba);
    }
    if (y1 == y2)
        return hline(s, x1, x2, y1, rgba, false);
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    const int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
    if ((rgba & 0xFF) == 255) {
        const Uint32 v = map_packed(s, rgba);
        const int dx = std::abs(x2 - x1) + 1, dy = std::abs(y2 - y1) + 1;
        if (dx < dy)
            walk_opaque(y1, x1, sy, sx, dy, dx,
                        [&](int a, int b) { store_pixel(s, b, a, v); });
        else
            walk_opaque(x1, y1, sx, sy, dx, dy,
                        [&](int a, int b) { store_pixel(s, a, b, v); });
        return 0;
    }
    const int ax = 2 * std::abs(x2 - x1), ay = 2 * std::abs(y2 - y1);
    if (ax > ay)
        return walk_blend(x1, y1, x2, sx, sy, ax, ay, [&](int a, int b) {
            return pixel_nolock(s, a, b, rgba);
        });
    return walk_blend(y1, x1, y2, sy, sx, ay, ax, [&](int a, int b) {
        return pixel_nolock(s, b, a, rgba);
    });
}

int aaline(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba,
           bool endpoint)
{
    Bounds b = bounds_of(s);
    bool reversed = false;
    if (b.empty || !clip_line(b, &x1, &y1, &x2, &y2, &reversed))
        return 0;
    // Walked downward; without end points it is still the caller's second
    // point that is left out (clipping may have exchanged the ends), so
    // that a polygon's edges write every vertex once whichever way they
    // run.
    const bool swapped = reversed != (y1 > y2);
    if (y1 > y2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    const bool first = endpoint || !swapped, last = endpoint || swapped;
    int dx = x2 - x1;
    const int dy = y2 - y1;
    if (dx == 0) {
        if (endpoint)
            return vline(s, x1, y1, y2, rgba);
        if (dy == 0)
            return pixel_locked(s, x1, y1, rgba);
        return swapped ? vline(s, x1, y1 + 1, y2, rgba)
                       : vline(s, x1, y1, y2 - 1, rgba);
    }
    if (dy == 0) {
        if (endpoint)
            return hline(s, x1, x2, y1, rgba, false);
        return dx > 0 ? hline(s, x1, x1 + dx - 1, y1, rgba, false)
                      : hline(s, x1 + dx + 1, x1, y1, rgba, false);
    }
    const int xdir = dx > 0 ? 1 : -1;
    dx = std::abs(dx);
    if (dx == dy && endpoint)
        return line(s, x1, y1, x2, y2, rgba);
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    int result = first ? pixel_nolock(s, x1, y1, rgba) : 0;
    Uint32 acc = 0;
    if (dy > dx) {
        // The 16.16 slope in the top half of a 32-bit accumulator: the
        // carry out of it moves the pair one column, its top byte weighs
        // the far pixel.
        const Uint32 adj = (((Uint32)dx << 16) / (Uint32)dy) << 16;
        int x0 = x1, xn = x1 + xdir, y = y1;
        for (int i = 1; i < dy; ++i) {
            Uint32 old = acc;
            acc += adj;
            if (acc <= old) {
                x0 = xn;
                xn += xdir;
            }
            ++y;
            Uint32 w = acc >> 24;
            result |= pixel_weight_nolock(s, x0, y, rgba, 255 - w);
            result |= pixel_weight_nolock(s, xn, y, rgba, w);
        }
    } else {
        // dy == dx makes the slope 1.0, which wraps to 0: every step then
        // counts as a carry, as it should.
        const Uint32 adj =
            (Uint32)(((((uint64_t)dy << 16) / (uint64_t)dx) << 16) &
                     0xFFFFFFFFu);
        int y0 = y1, x = x1;
        for (int i = 1; i < dx; ++i) {
            Uint32 old = acc;
            acc += adj;
            if (acc <= old)
                ++y0;
            x += xdir;
            Uint32 w = acc >> 24;
            result |= pixel_weight_nolock(s, x, y0, rgba, 255 - w);
            result |= pixel_weight_nolock(s, x, y0 + 1, rgba, w);
        }
    }
    if (last)
        result |= pixel_nolock(s, x2, y2, rgba);
    return result;
}

namespace {

// Module-wide cache of the scanline fillers, one per thread: the fillers
// run without the interpreter lock.
struct ThreadCache {
    EdgeCache c;
    ~ThreadCache() { free(c.v); }
};
thread_local ThreadCache t_cache;

// The closed outline of a polygon: `edge(x1, y1, x2, y2)` for every side,
// the last one back to the first point.
template <typename T, typename Edge>
int closed_outline(SDL_Surface *s, const T *vx, const T *vy, int n,
                   Edge &&edge)
{
    if (!vx || !vy || n < 3)
        return fail("polygon needs at least 3 points");
    if (bounds_of(s).empty)
        return 0;
    int result = 0;
    for (int i = 1; i < n; ++i)
        result |= edge(vx[i - 1], vy[i - 1], vx[i], vy[i]);
    result |= edge(vx[n - 1], vy[n - 1], vx[0], vy[0]);
    return result;
}

template <typename T>
int polygon_outline(SDL_Surface *s, const T *vx, const T *vy, int n,
                    Uint32 rgba)
{
    return closed_outline(s, vx, vy, n, [&](int x1, int y1, int x2, int y2) {
        return line(s, x1, y1, x2, y2, rgba);
    });
}

template <typename T>
int aapolygon(SDL_Surface *s, const T *vx, const T *vy, int n, Uint32 rgba)
{
    return closed_outline(s, vx, vy, n, [&](int x1, int y1, int x2, int y2) {
        return aaline(s, x1, y1, x2, y2, rgba, false);
    });
}

}  // namespace

bool EdgeCache::reserve(size_t n)
{
    if (n <= cap && v)
        return true;
    if (n > SIZE_MAX / sizeof(int64_t))
        return false;
    void *p = realloc(v, n * sizeof(int64_t));
    if (!p)
        return false;
    v = static_cast<int64_t *>(p);
    cap = n;
    return true;
}

EdgeCache &thread_cache() { return t_cache.c; }

}  // namespace lmshape

using namespace lmshape;

namespace {

int pie(SDL_Surface *s, int x, int y, int r, int start, int end, Uint32 rgba,
        bool filled)
{
    if (!s)
        return fail("null surface");
    Bounds b = bounds_of(s);
    if (b.empty)
        return 0;
    if (r < 0)
        return fail("negative radius");
    if (r == 0)
        return pixel_locked(s, x, y, rgba);
    if (square_misses(b, x, y, r, r))
        return 0;
    double a0 = (double)(start % 360) * 0.017453292519943295;
    double a1 = (double)(end % 360) * 0.017453292519943295;
    if (a0 > a1)
        a1 += 6.283185307179586;
    const double step = 3.0 / r;
    size_t count = 2;
    for (double a = a0; a < a1; a += step)
        ++count;
    CBuf<int> pts(2 * count);
    if (!pts)
        return fail("out of memory");
    int *vx = pts.get(), *vy = pts.get() + count;
    vx[0] = x;
    vy[0] = y;
    double a = a0;
    vx[1] = x + (int)(r * cos(a));
    vy[1] = y + (int)(r * sin(a));
    for (size_t i = 2; i < count; ++i) {
        a += step;
        if (a > a1)
            a = a1;
        vx[i] = x + (int)(r * cos(a));
        vy[i] = y + (int)(r * sin(a));
    }
    if (count == 2)
        return line(s, vx[0], vy[0], vx[1], vy[1], rgba);
    if (filled)
        return filled_polygon(s, vx, vy, (int)count, rgba, thread_cache());
    return polygon_outline(s, vx, vy, (int)count, rgba);
}

int bezier(SDL_Surface *s, const Sint16 *vx, const Sint16 *vy, int n,
           int steps, Uint32 rgba)
{
    if (!s)
        return fail("null surface");
    if (!vx || !vy || n < 3 || steps < 2)
        return fail("bezier needs at least 3 points and 2 steps");
    CBuf<double> xs((size_t)n + 1), ys((size_t)n + 1);
    if (!xs || !ys)
        return fail("out of memory");
    for (int i = 0; i < n; ++i) {
        xs[i] = vx[i];
        ys[i] = vy[i];
    }
    xs[n] = vx[0];
    ys[n] = vy[0];
    int px = (int)lrint(_evaluateBezier(xs.get(), n + 1, 0.0));
    int py = (int)lrint(_evaluateBezier(ys.get(), n + 1, 0.0));
    const double stepsize = 1.0 / steps;
    const int64_t last = (int64_t)n * steps;
    double t = 0.0;
    int result = 0;
    for (int64_t i = 0; i <= last; ++i) {
        t += stepsize;
        // Points of the curve lie within the control points' hull, but a
        // curve of very many points loses that to rounding: saturate.
        int nx = trunc_int(_evaluateBezier(xs.get(), n, t));
        int ny = trunc_int(_evaluateBezier(ys.get(), n, t));
        result |= line(s, px, py, nx, ny, rgba);
        px = nx;
        py = ny;
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Exported routines.
// ---------------------------------------------------------------------------
LM_EXPORT int lineColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                        Sint16 y2, Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return line(dst, x1, y1, x2, y2, color);
}

LM_EXPORT int lineRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                       Sint16 y2, Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
    return lineColor(dst, x1, y1, x2, y2, pack_rgba(r, g, b, a));
}

LM_EXPORT int _aalineColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                           Sint16 y2, Uint32 color, int draw_endpoint)
{
    if (!dst)
        return fail("null surface");
    return aaline(dst, x1, y1, x2, y2, color, draw_endpoint != 0);
}

LM_EXPORT int polygonColor(SDL_Surface *dst, const Sint16 *vx,
                           const Sint16 *vy, int n, Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return polygon_outline(dst, vx, vy, n, color);
}

LM_EXPORT int polygonRGBA(SDL_Surface *dst, const Sint16 *vx,
                          const Sint16 *vy, int n, Uint8 r, Uint8 g, Uint8 b,
                          Uint8 a)
{
    return polygonColor(dst, vx, vy, n, pack_rgba(r, g, b, a));
}

LM_EXPORT int aapolygonColor(SDL_Surface *dst, const Sint16 *vx,
                             const Sint16 *vy, int n, Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return aapolygon(dst, vx, vy, n, color);
}

LM_EXPORT int aapolygonRGBA(SDL_Surface *dst, const Sint16 *vx,
                            const Sint16 *vy, int n, Uint8 r, Uint8 g,
                            Uint8 b, Uint8 a)
{
    return aapolygonColor(dst, vx, vy, n, pack_rgba(r, g, b, a));
}

LM_EXPORT int filledPolygonColorMT(SDL_Surface *dst, const Sint16 *vx,
                                   const Sint16 *vy, int n, Uint32 color,
                                   int **polyInts, int *polyAllocated)
{
    if (!dst)
        return fail("null surface");
    if (bounds_of(dst).empty)
        return 0;
    if (!vx || !vy || n < 3)
        return fail("polygon needs at least 3 points");
    return with_cache(polyInts, polyAllocated, (size_t)n,
                      [&](EdgeCache &c) {
                          return filled_polygon(dst, vx, vy, n, color, c);
                      });
}

LM_EXPORT int filledPolygonRGBAMT(SDL_Surface *dst, const Sint16 *vx,
                                  const Sint16 *vy, int n, Uint8 r, Uint8 g,
                                  Uint8 b, Uint8 a, int **polyInts,
                                  int *polyAllocated)
{
    return filledPolygonColorMT(dst, vx, vy, n, pack_rgba(r, g, b, a),
                                polyInts, polyAllocated);
}

LM_EXPORT int filledPolygonColor(SDL_Surface *dst, const Sint16 *vx,
                                 const Sint16 *vy, int n, Uint32 color)
{
    return filledPolygonColorMT(dst, vx, vy, n, color, nullptr, nullptr);
}

LM_EXPORT int filledPolygonRGBA(SDL_Surface *dst, const Sint16 *vx,
                                const Sint16 *vy, int n, Uint8 r, Uint8 g,
                                Uint8 b, Uint8 a)
{
    return filledPolygonColor(dst, vx, vy, n, pack_rgba(r, g, b, a));
}

// Triangles are three-point polygons.
#define LM_TRIGON(name, poly)                                                \
    LM_EXPORT int name##Color(SDL_Surface *dst, Sint16 x1, Sint16 y1,        \
                              Sint16 x2, Sint16 y2, Sint16 x3, Sint16 y3,    \
                              Uint32 color)                                  \
    {                                                                        \
        const Sint16 vx[3] = {x1, x2, x3}, vy[3] = {y1, y2, y3};             \
        return poly##Color(dst, vx, vy, 3, color);                           \
    }                                                                        \
    LM_EXPORT int name##RGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1,         \
                             Sint16 x2, Sint16 y2, Sint16 x3, Sint16 y3,     \
                             Uint8 r, Uint8 g, Uint8 b, Uint8 a)             \
    {                                                                        \
        return name##Color(dst, x1, y1, x2, y2, x3, y3,                      \
                           pack_rgba(r, g, b, a));                           \
    }
LM_TRIGON(trigon, polygon)
LM_TRIGON(aatrigon, aapolygon)
LM_TRIGON(filledTrigon, filledPolygon)
#undef LM_TRIGON

LM_EXPORT int _pieColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                        Sint16 start, Sint16 end, Uint32 color, Uint8 filled)
{
    return pie(dst, x, y, rad, start, end, color, filled != 0);
}

LM_EXPORT int pieColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                       Sint16 start, Sint16 end, Uint32 color)
{
    return pie(dst, x, y, rad, start, end, color, false);
}

LM_EXPORT int pieRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                      Sint16 start, Sint16 end, Uint8 r, Uint8 g, Uint8 b,
                      Uint8 a)
{
    return pie(dst, x, y, rad, start, end, pack_rgba(r, g, b, a), false);
}

// Bernstein form of the curve through data[0 .. ndata-1] at t in
// [0, ndata): the binomial weight of each term is built by alternating
// multiplications and divisions so that it never overflows on the way.
LM_EXPORT double _evaluateBezier(double *data, int ndata, double t)
{
    if (t < 0.0)
        return data[0];
    if (t >= ndata)
        return data[ndata - 1];
    const double mu = t / (double)ndata;
    const int n = ndata - 1;
    double result = 0.0, muk = 1.0, munk = pow(1.0 - mu, (double)n);
    for (int k = 0; k <= n; ++k) {
        int nn = n, kn = k, nkn = n - k;
        double blend = muk * munk;
        muk *= mu;
        munk /= (1.0 - mu);
        while (nn >= 1) {
            blend *= nn;
            nn--;
            if (kn > 1) {
                blend /= (double)kn;
                kn--;
            }
            if (nkn > 1) {
                blend /= (double)nkn;
                nkn--;
            }
        }
        result += data[k] * blend;
    }
    return result;
}

LM_EXPORT int bezierColor(SDL_Surface *dst, const Sint16 *vx,
                          const Sint16 *vy, int n, int s, Uint32 color)
{
    return bezier(dst, vx, vy, n, s, color);
}

LM_EXPORT int bezierRGBA(SDL_Surface *dst, const Sint16 *vx,
                         const Sint16 *vy, int n, int s, Uint8 r, Uint8 g,
                         Uint8 b, Uint8 a)
{
    return bezier(dst, vx, vy, n, s, pack_rgba(r, g, b, a));
}
