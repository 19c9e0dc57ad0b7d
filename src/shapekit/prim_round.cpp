// Circles, arcs, ellipses and textured polygons (see prims.h).

#include "prims.h"

#include <cmath>
#include <utility>

namespace lmshape {

namespace {

// Writes single pixels of one colour: opaque ones mapped once and stored,
// translucent ones blended.  The caller holds the lock (if any is needed).
struct Dotter {
    SDL_Surface *s;
    Uint32 rgba;
    bool opaque;
    Uint32 mapped;
    int result = 0;

    Dotter(SDL_Surface *surf, Uint32 c)
        : s(surf), rgba(c), opaque((c & 0xFF) == 255),
          mapped(map_packed(surf, c)) {}
    void operator()(int x, int y)
    {
        if (opaque)
            store_pixel(s, x, y, mapped);
        else
            result |= pixel_nolock(s, x, y, rgba);
    }
    // The four mirror images of (dx, dy) about (x, y), each pixel once.
    void mirrored(int x, int y, int dx, int dy)
    {
        (*this)(x - dx, y + dy);
        if (dx)
            (*this)(x + dx, y + dy);
        if (dy) {
            (*this)(x - dx, y - dy);
            if (dx)
                (*this)(x + dx, y - dy);
        }
    }
};

// Midpoint circle stepping over the octant from (0, r) to the diagonal:
// visit(cx, cy) for every step.
template <typename F> void midpoint(int r, F &&visit)
{
    int cx = 0, cy = r, df = 1 - r, d_e = 3, d_se = 5 - 2 * r;
    do {
        visit(cx, cy);
        if (df < 0) {
            df += d_e;
            d_e += 2;
            d_se += 2;
        } else {
            df += d_se;
            d_e += 2;
            d_se += 4;
            cy--;
        }
        cx++;
    } while (cy >= cx);
}

// Entry rules shared by the circle routines: 1 to go on, otherwise the
// routine's result in *done.
bool circle_entry(SDL_Surface *s, int x, int y, int r, Uint32 rgba, int *done)
{
    if (!s) {
        *done = fail("null surface");
        return false;
    }
    Bounds b = bounds_of(s);
    *done = 0;
    if (b.empty)
        return false;
    if (r < 0) {
        *done = fail("negative radius");
        return false;
    }
    if (r == 0) {
        *done = pixel_locked(s, x, y, rgba);
        return false;
    }
    return !square_misses(b, x, y, r, r);
}

int circle(SDL_Surface *s, int x, int y, int r, Uint32 rgba)
{
    int done;
    if (!circle_entry(s, x, y, r, rgba, &done))
        return done;
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    Dotter dot(s, rgba);
    midpoint(r, [&](int cx, int cy) {
        if (cx > 0) {
            dot.mirrored(x, y, cx, cy);
            if (cx != cy)
                dot.mirrored(x, y, cy, cx);
        } else {
            dot(x, y - cy);
            dot(x, y + cy);
            dot(x - cy, y);
            dot(x + cy, y);
        }
    });
    return dot.result;
}

// A span of half-width `half` on rows y - dy and y + dy (one row when dy
// is 0).
int mirrored_span(SDL_Surface *s, int x, int y, int half, int dy, Uint32 rgba)
{
    int result = hline(s, x - half, x + half, y + dy, rgba, false);
    if (dy)
        result |= hline(s, x - half, x + half, y - dy, rgba, false);
    return result;
}

int filled_circle(SDL_Surface *s, int x, int y, int r, Uint32 rgba)
{
    int done;
    if (!circle_entry(s, x, y, r, rgba, &done))
        return done;
    int ocx = -1, ocy = -1, result = 0;
    midpoint(r, [&](int cx, int cy) {
        if (cy != ocy) {
            result |= mirrored_span(s, x, y, cx, cy, rgba);
            ocy = cy;
        }
        if (cx != ocx) {
            if (cx != cy)
                result |= mirrored_span(s, x, y, cy, cx, rgba);
            ocx = cx;
        }
    });
    return result;
}

// r * f(angle) for the octant's stop value: sin for octants 0 and 3, cos
// for 1 and 6, -cos for 2 and 5, -sin for 4 and 7.
int octant_stop(int oct, int deg, int r)
{
    double a = deg * (3.14159265358979323846 / 180.0), v;
    switch (oct) {
    case 0:
    case 3:
        v = sin(a);
        break;
    case 1:
    case 6:
        v = cos(a);
        break;
    case 2:
    case 5:
        v = -cos(a);
        break;
    default:
        v = -sin(a);
        break;
    }
    return (int)(v * r);
}

int arc(SDL_Surface *s, int x, int y, int r, int start, int end, Uint32 rgba)
{
    int done;
    if (!circle_entry(s, x, y, r, rgba, &done))
        return done;
    start %= 360;
    end %= 360;
    while (start < 0)
        start += 360;
    while (end < 0)
        end += 360;
    const int startoct = start / 45, endoct = end / 45;
    int drawoct = 0, stop_start = 0, stop_end = 0, oct = startoct - 1;
    do {
        oct = (oct + 1) % 8;
        if (oct == startoct) {
            stop_start = octant_stop(oct, start, r);
            if (oct % 2)
                drawoct |= 1 << oct;
            else
                drawoct &= 255 - (1 << oct);
        }
        if (oct == endoct) {
            stop_end = octant_stop(oct, end, r);
            if (startoct == endoct) {
                if (start > end)
                    drawoct = 255;
                else
                    drawoct &= 255 - (1 << oct);
            } else if (oct % 2) {
                drawoct &= 255 - (1 << oct);
            } else {
                drawoct |= 1 << oct;
            }
        } else if (oct != startoct) {
            drawoct |= 1 << oct;
        }
    } while (oct != endoct);

    MustLock lock(s);
    if (!lock.ok())
        return -1;
    Dotter dot(s, rgba);
    auto on = [&](int o) { return (drawoct >> o) & 1; };
    midpoint(r, [&](int cx, int cy) {
        if (cx == 0) {
            // On the axes a point belongs to the two octants around it.
            if (on(0) || on(7))
                dot(x + cy, y);
            if (on(1) || on(2))
                dot(x, y + cy);
            if (on(3) || on(4))
                dot(x - cy, y);
            if (on(5) || on(6))
                dot(x, y - cy);
        } else if (cx == cy) {
            // So are the diagonal points.
            if (on(0) || on(1))
                dot(x + cx, y + cy);
            if (on(2) || on(3))
                dot(x - cx, y + cy);
            if (on(4) || on(5))
                dot(x - cx, y - cy);
            if (on(6) || on(7))
                dot(x + cx, y - cy);
        } else {
            if (on(0))
                dot(x + cy, y + cx);
            if (on(1))
                dot(x + cx, y + cy);
            if (on(2))
                dot(x - cx, y + cy);
            if (on(3))
                dot(x - cy, y + cx);
            if (on(4))
                dot(x - cy, y - cx);
            if (on(5))
                dot(x - cx, y - cy);
            if (on(6))
                dot(x + cx, y - cy);
            if (on(7))
                dot(x + cy, y - cx);
        }
        if (cx == stop_start)
            drawoct ^= 1 << startoct;
        if (cx == stop_end)
            drawoct ^= 1 << endoct;
    });
    return dot.result;
}

// Entry rules of the ellipse routines; true to go on.
bool ellipse_entry(SDL_Surface *s, int x, int y, int rx, int ry, Uint32 rgba,
                   int *done)
{
    if (!s) {
        *done = fail("null surface");
        return false;
    }
    Bounds b = bounds_of(s);
    *done = 0;
    if (b.empty)
        return false;
    if (rx < 0 || ry < 0) {
        *done = fail("negative radius");
        return false;
    }
    if (rx == 0) {
        *done = vline(s, x, y - ry, y + ry, rgba);
        return false;
    }
    if (ry == 0) {
        *done = hline(s, x - rx, x + rx, y, rgba, false);
        return false;
    }
    return !square_misses(b, x, y, rx, ry);
}

// The fixed-point walk (6 fractional bits) of the ellipse outline and
// fill: a circle of the larger radius, the other axis scaled.  For every
// pass, visit(h, k, i, j) gets the two point pairs: (h, k) and (i, j) when
// rx > ry, or (j, i) and (k, h) otherwise, always as (dx, dy); `fresh` says
// whether the pass brings a new row or column.
template <typename F> void ellipse_walk(int rx, int ry, F &&visit)
{
    int ix = 0;
    if (rx > ry) {
        int iy = rx * 64, ok = 0xFFFF, oj = 0xFFFF, h, i;
        do {
            h = (ix + 32) >> 6;
            i = (iy + 32) >> 6;
            int j = (h * ry) / rx, k = (i * ry) / rx;
            bool fresh = (ok != k && oj != k) || (oj != j && ok != j) ||
                         k != j;
            visit(fresh, h, k, i, j);
            if (fresh) {
                ok = k;
                oj = j;
            }
            ix = ix + iy / rx;
            iy = iy - ix / rx;
        } while (i > h);
    } else {
        int iy = ry * 64, oi = 0xFFFF, oh = 0xFFFF, h, i;
        do {
            h = (ix + 32) >> 6;
            i = (iy + 32) >> 6;
            int j = (h * rx) / ry, k = (i * rx) / ry;
            bool fresh = (oi != i && oh != i) || (oh != h && oi != h && i != h);
            visit(fresh, j, i, k, h);
            if (fresh) {
                oi = i;
                oh = h;
            }
            ix = ix + iy / ry;
            iy = iy - ix / ry;
        } while (i > h);
    }
}

int ellipse(SDL_Surface *s, int x, int y, int rx, int ry, Uint32 rgba)
{
    int done;
    if (!ellipse_entry(s, x, y, rx, ry, rgba, &done))
        return done;
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    Dotter dot(s, rgba);
    ellipse_walk(rx, ry, [&](bool fresh, int ax, int ay, int bx, int by) {
        if (!fresh)
            return;
        dot.mirrored(x, y, ax, ay < 0 ? 0 : ay);
        dot.mirrored(x, y, bx, by < 0 ? 0 : by);
    });
    return dot.result;
}

// Filled: every row once, with the widest span the walk gives it (the
// spans of one row are nested, so that is their union).
int filled_ellipse(SDL_Surface *s, int x, int y, int rx, int ry, Uint32 rgba)
{
    int done;
    if (!ellipse_entry(s, x, y, rx, ry, rgba, &done))
        return done;
    CBuf<int> half((size_t)ry + 1);
    if (!half)
        return fail("out of memory");
    for (int r = 0; r <= ry; ++r)
        half[r] = -1;
    auto widen = [&](int dx, int dy) {
        if (dy < 0)
            dy = 0;
        if (dy <= ry && dx > half[dy])
            half[dy] = dx;
    };
    ellipse_walk(rx, ry, [&](bool, int ax, int ay, int bx, int by) {
        widen(ax, ay);
        widen(bx, by);
    });
    int result = 0;
    for (int r = 0; r <= ry; ++r)
        if (half[r] >= 0)
            result |= mirrored_span(s, x, y, half[r], r, rgba);
    return result;
}

// Anti-aliased ellipse: the extreme points at full colour, then two walks
// out from them, one column at a time across the flat top (|slope| < 1)
// and one row at a time down the steep sides, each writing the two pixels
// that straddle the exact curve weighted by how close the curve runs to
// them.  The walks meet where the slope is 1 (x = a^2 / sqrt(a^2 + b^2));
// the side walk leaves the columns of the top walk alone so that no pixel
// is blended twice.  All squares are 64-bit.
int aaellipse(SDL_Surface *s, int x, int y, int rx, int ry, Uint32 rgba)
{
    int done;
    if (!ellipse_entry(s, x, y, rx, ry, rgba, &done))
        return done;
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    const int64_t a2 = (int64_t)rx * rx, b2 = (int64_t)ry * ry;
    const double ds = sqrt((double)(a2 + b2));
    const int top_cols = (int)lrint((double)a2 / ds);
    const int side_rows = (int)lrint((double)b2 / ds);
    int result = 0;
    auto quad = [&](int dx, int dy, Uint32 w) {
        result |= pixel_weight_nolock(s, x - dx, y + dy, rgba, w);
        if (dx)
            result |= pixel_weight_nolock(s, x + dx, y + dy, rgba, w);
        if (dy) {
            result |= pixel_weight_nolock(s, x - dx, y - dy, rgba, w);
            if (dx)
                result |= pixel_weight_nolock(s, x + dx, y - dy, rgba, w);
        }
    };
    auto full = [&](int dx, int dy) {
        result |= pixel_nolock(s, x + dx, y + dy, rgba);
        result |= pixel_nolock(s, x - dx, y - dy, rgba);
    };
    full(0, ry);
    if (top_cols < rx)
        full(rx, 0);
    for (int i = 1; i <= top_cols; ++i) {
        double yy = sqrt((double)(b2 * (a2 - (int64_t)i * i)) / (double)a2);
        int yi = (int)yy;
        Uint32 w = (Uint32)((yy - yi) * 255.0);
        quad(i, yi, 255 - w);
        if (yi + 1 <= ry)
            quad(i, yi + 1, w);
    }
    for (int j = 1; j <= side_rows; ++j) {
        double xx = sqrt((double)(a2 * (b2 - (int64_t)j * j)) / (double)b2);
        int xi = (int)xx;
        Uint32 w = (Uint32)((xx - xi) * 255.0);
        auto col = [&](int c, Uint32 weight) {
            if (c >= 1 && c <= top_cols)
                return;
            if (c == 0 && j == ry)
                return;
            quad(c, j, weight);
        };
        col(xi, 255 - w);
        if (xi + 1 <= rx)
            col(xi + 1, w);
    }
    return result;
}

// One texture row copied onto the run x1 .. x2 of row y, the texture
// repeating every tw columns from (x1 - tex_dx) mod tw.
int textured_span(SDL_Surface *s, int x1, int x2, int y, SDL_Surface *tex,
                  int tex_dx, int tex_dy)
{
    Bounds b = bounds_of(s);
    if (b.empty || y < b.top || y > b.bottom)
        return 0;
    if (x1 > x2)
        std::swap(x1, x2);
    if (x2 < b.left || x1 > b.right)
        return 0;
    if (x1 < b.left)
        x1 = b.left;
    if (x2 > b.right)
        x2 = b.right;
    const int tw = tex->w, th = tex->h;
    if (tw <= 0 || th <= 0)
        return 0;
    int64_t tx = ((int64_t)x1 - tex_dx) % tw;
    if (tx < 0)
        tx += tw;
    int64_t ty = ((int64_t)y + tex_dy) % th;
    if (ty < 0)
        ty += th;
    int remaining = x2 - x1 + 1, x = x1, result = 0;
    int w = tw - (int)tx < remaining ? tw - (int)tx : remaining;
    SDL_Rect src = {(int)tx, (int)ty, w, 1};
    while (remaining > 0) {
        SDL_Rect dst = {x, y, w, 1};
        if (SDL_BlitSurface(tex, &src, s, &dst) < 0)
            result = -1;
        x += w;
        remaining -= w;
        w = tw < remaining ? tw : remaining;
        src.x = 0;
        src.w = w;
    }
    return result;
}

}  // namespace

}  // namespace lmshape

using namespace lmshape;

// ---------------------------------------------------------------------------
// Exported routines.
// ---------------------------------------------------------------------------
#define LM_ROUND3(name, impl)                                               \
    LM_EXPORT int name##Color(SDL_Surface *dst, Sint16 x, Sint16 y,         \
                              Sint16 rad, Uint32 color)                     \
    {                                                                       \
        return impl(dst, x, y, rad, color);                                 \
    }                                                                       \
    LM_EXPORT int name##RGBA(SDL_Surface *dst, Sint16 x, Sint16 y,          \
                             Sint16 rad, Uint8 r, Uint8 g, Uint8 b, Uint8 a) \
    {                                                                       \
        return impl(dst, x, y, rad, pack_rgba(r, g, b, a));                 \
    }
#define LM_ROUND4(name, impl)                                               \
    LM_EXPORT int name##Color(SDL_Surface *dst, Sint16 x, Sint16 y,         \
                              Sint16 rx, Sint16 ry, Uint32 color)           \
    {                                                                       \
        return impl(dst, x, y, rx, ry, color);                              \
    }                                                                       \
    LM_EXPORT int name##RGBA(SDL_Surface *dst, Sint16 x, Sint16 y,          \
                             Sint16 rx, Sint16 ry, Uint8 r, Uint8 g,        \
                             Uint8 b, Uint8 a)                              \
    {                                                                       \
        return impl(dst, x, y, rx, ry, pack_rgba(r, g, b, a));              \
    }

namespace {
int aacircle(SDL_Surface *s, int x, int y, int r, Uint32 rgba)
{
    return aaellipse(s, x, y, r, r, rgba);
}
}  // namespace

LM_ROUND3(circle, circle)
LM_ROUND3(filledCircle, filled_circle)
LM_ROUND3(aacircle, aacircle)
LM_ROUND4(aaellipse, aaellipse)
LM_ROUND4(ellipse, ellipse)
LM_ROUND4(filledEllipse, filled_ellipse)
#undef LM_ROUND3
#undef LM_ROUND4

LM_EXPORT int arcColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                       Sint16 start, Sint16 end, Uint32 color)
{
    return arc(dst, x, y, rad, start, end, color);
}

LM_EXPORT int arcRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                      Sint16 start, Sint16 end, Uint8 r, Uint8 g, Uint8 b,
                      Uint8 a)
{
    return arc(dst, x, y, rad, start, end, pack_rgba(r, g, b, a));
}

LM_EXPORT int _HLineTextured(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                             SDL_Surface *texture, int texture_dx,
                             int texture_dy)
{
    if (!dst || !texture)
        return fail("null surface");
    return textured_span(dst, x1, x2, y, texture, texture_dx, texture_dy);
}

LM_EXPORT int texturedPolygonMT(SDL_Surface *dst, const Sint16 *vx,
                                const Sint16 *vy, int n, SDL_Surface *texture,
                                int texture_dx, int texture_dy,
                                int **polyInts, int *polyAllocated)
{
    if (!dst || !texture)
        return fail("null surface");
    if (bounds_of(dst).empty)
        return 0;
    if (!vx || !vy || n < 3)
        return fail("polygon needs at least 3 points");
    // An empty texture has nothing to repeat.
    if (texture->w <= 0 || texture->h <= 0)
        return 0;
    return with_cache(polyInts, polyAllocated, (size_t)n, [&](EdgeCache &c) {
        return scan_polygon(dst, vx, vy, n, c, [&](int xa, int xb, int y) {
            return textured_span(dst, xa, xb, y, texture, texture_dx,
                                 texture_dy);
        });
    });
}

LM_EXPORT int texturedPolygon(SDL_Surface *dst, const Sint16 *vx,
                              const Sint16 *vy, int n, SDL_Surface *texture,
                              int texture_dx, int texture_dy)
{
    return texturedPolygonMT(dst, vx, vy, n, texture, texture_dx, texture_dy,
                             nullptr, nullptr);
}
