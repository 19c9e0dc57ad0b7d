// Alpha-blending primitives of lumora.shapekit: plain C over SDL surfaces.
//
// The exported routines (extern "C", visible by name) take 16-bit signed
// coordinates and return 0 on success, also when nothing lies inside the
// clip rectangle, and -1 on failure with SDL's error text set.  Colours are
// either four bytes (the *RGBA routines) or packed as 0xRRGGBBAA (the *Color
// routines).  Nothing in here touches Python.
//
// Internally every coordinate is an int (or 64-bit where a derived value
// such as a 16.16 intersection could leave the int range), so that sums of
// two 16-bit values never wrap.
#pragma once

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

// ---------------------------------------------------------------------------
// Pixels, spans and rectangles.
// ---------------------------------------------------------------------------
LM_EXPORT int fastPixelColorNolock(SDL_Surface *dst, Sint16 x, Sint16 y,
                                   Uint32 color);
LM_EXPORT int fastPixelColor(SDL_Surface *dst, Sint16 x, Sint16 y,
                             Uint32 color);
LM_EXPORT int _putPixelAlpha(SDL_Surface *dst, Sint16 x, Sint16 y,
                             Uint32 color, Uint8 alpha);
LM_EXPORT int pixelColor(SDL_Surface *dst, Sint16 x, Sint16 y, Uint32 color);
LM_EXPORT int pixelColorNolock(SDL_Surface *dst, Sint16 x, Sint16 y,
                               Uint32 color);
LM_EXPORT int pixelColorWeight(SDL_Surface *dst, Sint16 x, Sint16 y,
                               Uint32 color, Uint32 weight);
LM_EXPORT int pixelColorWeightNolock(SDL_Surface *dst, Sint16 x, Sint16 y,
                                     Uint32 color, Uint32 weight);
LM_EXPORT int pixelRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Uint8 r,
                        Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int _filledRectAlpha(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                               Sint16 x2, Sint16 y2, Uint32 color,
                               Uint8 alpha);
LM_EXPORT int filledRectAlpha(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                              Sint16 x2, Sint16 y2, Uint32 color);
LM_EXPORT int _HLineAlpha(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                          Uint32 color);
LM_EXPORT int _VLineAlpha(SDL_Surface *dst, Sint16 x, Sint16 y1, Sint16 y2,
                          Uint32 color);
LM_EXPORT int hlineColor(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                         Uint32 color);
LM_EXPORT int hlineRGBA(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                        Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int hlineColorStore(SDL_Surface *dst, Sint16 x1, Sint16 x2,
                              Sint16 y, Uint32 color);
LM_EXPORT int hlineRGBAStore(SDL_Surface *dst, Sint16 x1, Sint16 x2,
                             Sint16 y, Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int vlineColor(SDL_Surface *dst, Sint16 x, Sint16 y1, Sint16 y2,
                         Uint32 color);
LM_EXPORT int vlineRGBA(SDL_Surface *dst, Sint16 x, Sint16 y1, Sint16 y2,
                        Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int rectangleColor(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                             Sint16 x2, Sint16 y2, Uint32 color);
LM_EXPORT int rectangleRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                            Sint16 x2, Sint16 y2, Uint8 r, Uint8 g, Uint8 b,
                            Uint8 a);
LM_EXPORT int boxColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                       Sint16 y2, Uint32 color);
LM_EXPORT int boxRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                      Sint16 y2, Uint8 r, Uint8 g, Uint8 b, Uint8 a);

// ---------------------------------------------------------------------------
// Lines, polygons, pies and Bezier curves.
// ---------------------------------------------------------------------------
LM_EXPORT int lineColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                        Sint16 y2, Uint32 color);
LM_EXPORT int lineRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                       Sint16 y2, Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int _aalineColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                           Sint16 y2, Uint32 color, int draw_endpoint);
LM_EXPORT int polygonColor(SDL_Surface *dst, const Sint16 *vx,
                           const Sint16 *vy, int n, Uint32 color);
LM_EXPORT int polygonRGBA(SDL_Surface *dst, const Sint16 *vx,
                          const Sint16 *vy, int n, Uint8 r, Uint8 g, Uint8 b,
                          Uint8 a);
LM_EXPORT int aapolygonColor(SDL_Surface *dst, const Sint16 *vx,
                             const Sint16 *vy, int n, Uint32 color);
LM_EXPORT int aapolygonRGBA(SDL_Surface *dst, const Sint16 *vx,
                            const Sint16 *vy, int n, Uint8 r, Uint8 g,
                            Uint8 b, Uint8 a);
LM_EXPORT int trigonColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                          Sint16 y2, Sint16 x3, Sint16 y3, Uint32 color);
LM_EXPORT int trigonRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                         Sint16 y2, Sint16 x3, Sint16 y3, Uint8 r, Uint8 g,
                         Uint8 b, Uint8 a);
LM_EXPORT int aatrigonColor(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                            Sint16 x2, Sint16 y2, Sint16 x3, Sint16 y3,
                            Uint32 color);
LM_EXPORT int aatrigonRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                           Sint16 y2, Sint16 x3, Sint16 y3, Uint8 r, Uint8 g,
                           Uint8 b, Uint8 a);
LM_EXPORT int filledTrigonColor(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                                Sint16 x2, Sint16 y2, Sint16 x3, Sint16 y3,
                                Uint32 color);
LM_EXPORT int filledTrigonRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                               Sint16 x2, Sint16 y2, Sint16 x3, Sint16 y3,
                               Uint8 r, Uint8 g, Uint8 b, Uint8 a);
// The intersection cache is storage grown with realloc and counted in ints;
// it holds 64-bit intersections (two ints each).  With either pointer null
// a cache private to the calling thread is used.
LM_EXPORT int filledPolygonColorMT(SDL_Surface *dst, const Sint16 *vx,
                                   const Sint16 *vy, int n, Uint32 color,
                                   int **polyInts, int *polyAllocated);
LM_EXPORT int filledPolygonRGBAMT(SDL_Surface *dst, const Sint16 *vx,
                                  const Sint16 *vy, int n, Uint8 r, Uint8 g,
                                  Uint8 b, Uint8 a, int **polyInts,
                                  int *polyAllocated);
LM_EXPORT int filledPolygonColor(SDL_Surface *dst, const Sint16 *vx,
                                 const Sint16 *vy, int n, Uint32 color);
LM_EXPORT int filledPolygonRGBA(SDL_Surface *dst, const Sint16 *vx,
                                const Sint16 *vy, int n, Uint8 r, Uint8 g,
                                Uint8 b, Uint8 a);
LM_EXPORT int _pieColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                        Sint16 start, Sint16 end, Uint32 color, Uint8 filled);
LM_EXPORT int pieColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                       Sint16 start, Sint16 end, Uint32 color);
LM_EXPORT int pieRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                      Sint16 start, Sint16 end, Uint8 r, Uint8 g, Uint8 b,
                      Uint8 a);
LM_EXPORT double _evaluateBezier(double *data, int ndata, double t);
LM_EXPORT int bezierColor(SDL_Surface *dst, const Sint16 *vx,
                          const Sint16 *vy, int n, int s, Uint32 color);
LM_EXPORT int bezierRGBA(SDL_Surface *dst, const Sint16 *vx,
                         const Sint16 *vy, int n, int s, Uint8 r, Uint8 g,
                         Uint8 b, Uint8 a);

// ---------------------------------------------------------------------------
// Circles, arcs, ellipses and textured polygons.
// ---------------------------------------------------------------------------
LM_EXPORT int circleColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                          Uint32 color);
LM_EXPORT int circleRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                         Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int filledCircleColor(SDL_Surface *dst, Sint16 x, Sint16 y,
                                Sint16 rad, Uint32 color);
LM_EXPORT int filledCircleRGBA(SDL_Surface *dst, Sint16 x, Sint16 y,
                               Sint16 rad, Uint8 r, Uint8 g, Uint8 b,
                               Uint8 a);
LM_EXPORT int arcColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                       Sint16 start, Sint16 end, Uint32 color);
LM_EXPORT int arcRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                      Sint16 start, Sint16 end, Uint8 r, Uint8 g, Uint8 b,
                      Uint8 a);
LM_EXPORT int aacircleColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                            Uint32 color);
LM_EXPORT int aacircleRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rad,
                           Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int aaellipseColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rx,
                             Sint16 ry, Uint32 color);
LM_EXPORT int aaellipseRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rx,
                            Sint16 ry, Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int ellipseColor(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rx,
                           Sint16 ry, Uint32 color);
LM_EXPORT int ellipseRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Sint16 rx,
                          Sint16 ry, Uint8 r, Uint8 g, Uint8 b, Uint8 a);
LM_EXPORT int filledEllipseColor(SDL_Surface *dst, Sint16 x, Sint16 y,
                                 Sint16 rx, Sint16 ry, Uint32 color);
LM_EXPORT int filledEllipseRGBA(SDL_Surface *dst, Sint16 x, Sint16 y,
                                Sint16 rx, Sint16 ry, Uint8 r, Uint8 g,
                                Uint8 b, Uint8 a);
LM_EXPORT int _HLineTextured(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                             SDL_Surface *texture, int texture_dx,
                             int texture_dy);
LM_EXPORT int texturedPolygonMT(SDL_Surface *dst, const Sint16 *vx,
                                const Sint16 *vy, int n, SDL_Surface *texture,
                                int texture_dx, int texture_dy,
                                int **polyInts, int *polyAllocated);
LM_EXPORT int texturedPolygon(SDL_Surface *dst, const Sint16 *vx,
                              const Sint16 *vy, int n, SDL_Surface *texture,
                              int texture_dx, int texture_dy);

// ---------------------------------------------------------------------------
// Shared internals of the three kernel files.
// ---------------------------------------------------------------------------
namespace lmshape {

inline Uint32 pack_rgba(Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
    return ((Uint32)r << 24) | ((Uint32)g << 16) | ((Uint32)b << 8) | a;
}

inline Uint32 map_packed(const SDL_Surface *s, Uint32 c)
{
    return SDL_MapRGBA(s->format, (Uint8)(c >> 24), (Uint8)(c >> 16),
                       (Uint8)(c >> 8), (Uint8)c);
}

// The clip rectangle as inclusive bounds.
struct Bounds {
    int left, top, right, bottom;
    bool empty;
    bool inside(int x, int y) const
    {
        return x >= left && x <= right && y >= top && y <= bottom;
    }
};

inline Bounds bounds_of(const SDL_Surface *s)
{
    const SDL_Rect &c = s->clip_rect;
    Bounds b;
    b.left = c.x;
    b.top = c.y;
    b.right = c.x + c.w - 1;
    b.bottom = c.y + c.h - 1;
    b.empty = c.w <= 0 || c.h <= 0;
    return b;
}

// True when the square (x - r .. x + r, y - r .. y + r) misses the clip.
inline bool square_misses(const Bounds &b, int x, int y, int rx, int ry)
{
    return x + rx < b.left || x - rx > b.right || y + ry < b.top ||
           y - ry > b.bottom;
}

// Locks the surface for a scope when SDL requires it (RLE surfaces).
class MustLock {
  public:
    explicit MustLock(SDL_Surface *s) : s_(s)
    {
        if (SDL_MUSTLOCK(s)) {
            ok_ = SDL_LockSurface(s) == 0;
            locked_ = ok_;
        }
    }
    MustLock(const MustLock &) = delete;
    MustLock &operator=(const MustLock &) = delete;
    ~MustLock()
    {
        if (locked_)
            SDL_UnlockSurface(s_);
    }
    bool ok() const { return ok_; }

  private:
    SDL_Surface *s_;
    bool ok_ = true;
    bool locked_ = false;
};

// malloc'ed array freed on scope exit (the kernels run without the
// interpreter lock, so the Python allocator is out of reach).
template <typename T> class CBuf {
  public:
    explicit CBuf(size_t n)
        : p_(n && n <= SIZE_MAX / sizeof(T)
                 ? static_cast<T *>(malloc(n * sizeof(T)))
                 : nullptr) {}
    CBuf(const CBuf &) = delete;
    CBuf &operator=(const CBuf &) = delete;
    ~CBuf() { free(p_); }
    T *get() const { return p_; }
    T &operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T *p_;
};

// -1 with an error text of our own (never a stale one from elsewhere).
inline int fail(const char *what)
{
    SDL_SetError("%s", what);
    return -1;
}

// Pixel core (int coordinates).  `rgba` is packed 0xRRGGBBAA, `mapped` a
// value in the surface's format.
void store_pixel(SDL_Surface *s, int x, int y, Uint32 mapped);
int put_alpha(SDL_Surface *s, int x, int y, Uint32 mapped, Uint32 alpha);
int pixel_nolock(SDL_Surface *s, int x, int y, Uint32 rgba);
int pixel_weight_nolock(SDL_Surface *s, int x, int y, Uint32 rgba,
                        Uint32 weight);
int pixel_locked(SDL_Surface *s, int x, int y, Uint32 rgba);
int fill_alpha(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 mapped,
               Uint32 alpha);
int filled_rect_alpha(SDL_Surface *s, int x1, int y1, int x2, int y2,
                      Uint32 rgba);
int hline(SDL_Surface *s, int x1, int x2, int y, Uint32 rgba, bool store);
int vline(SDL_Surface *s, int x, int y1, int y2, Uint32 rgba);

// Lines and polygons.
int line(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba);
int aaline(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba,
           bool endpoint);

// Growable store of 16.16 intersections for the scanline fillers.
struct EdgeCache {
    int64_t *v = nullptr;
    size_t cap = 0;
    bool reserve(size_t n);
};
EdgeCache &thread_cache();

// A caller-owned cache: storage counted in ints, two per intersection.
struct BorrowedCache {
    int **ints;
    int *allocated;
    bool bind(EdgeCache &view, size_t n)
    {
        if (n > (size_t)INT32_MAX / 2)
            return false;
        int need = (int)(2 * n);
        if (!*ints || *allocated < need) {
            void *p = realloc(*ints, (size_t)need * sizeof(int));
            if (!p)
                return false;
            *ints = static_cast<int *>(p);
            *allocated = need;
        }
        view.v = reinterpret_cast<int64_t *>(*ints);
        view.cap = n;
        return true;
    }
};

// Runs `fill(cache)` with the caller's cache when both pointers are given,
// else with the thread's own.
template <typename F>
int with_cache(int **ints, int *allocated, size_t n, F &&fill)
{
    if (!ints || !allocated)
        return fill(thread_cache());
    EdgeCache view;
    BorrowedCache borrowed = {ints, allocated};
    if (!borrowed.bind(view, n))
        return fail("out of memory for polygon intersections");
    return fill(view);
}

// Double to int toward zero; NaN gives 0, out-of-range values the limit.
inline int trunc_int(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return (int)v;
}

// Scanline fill: `span(xa, xb, y)` for every run inside the polygon, rows
// limited to the clip rectangle.  Edges are half-open in y except on the
// bottom row, which takes the edges ending there.
template <typename T, typename Span>
int scan_polygon(SDL_Surface *s, const T *vx, const T *vy, int n,
                 EdgeCache &cache, Span &&span)
{
    Bounds b = bounds_of(s);
    if (b.empty)
        return 0;
    if (!vx || !vy || n < 3)
        return fail("polygon needs at least 3 points");
    if (!cache.reserve((size_t)n))
        return fail("out of memory for polygon intersections");
    int miny = vy[0], maxy = vy[0];
    for (int i = 1; i < n; ++i) {
        if (vy[i] < miny)
            miny = vy[i];
        if (vy[i] > maxy)
            maxy = vy[i];
    }
    int ystart = miny > b.top ? miny : b.top;
    int yend = maxy < b.bottom ? maxy : b.bottom;
    int result = 0;
    int64_t *ints = cache.v;
    for (int y = ystart; y <= yend; ++y) {
        int count = 0;
        for (int i = 0; i < n; ++i) {
            int i1 = i ? i - 1 : n - 1;
            int y1 = vy[i1], y2 = vy[i], x1, x2;
            if (y1 < y2) {
                x1 = vx[i1];
                x2 = vx[i];
            } else if (y1 > y2) {
                y2 = vy[i1];
                y1 = vy[i];
                x2 = vx[i1];
                x1 = vx[i];
            } else {
                continue;
            }
            if ((y >= y1 && y < y2) || (y == maxy && y > y1 && y <= y2))
                ints[count++] = ((int64_t)65536 * (y - y1)) / (y2 - y1) *
                                    (x2 - x1) +
                                (int64_t)65536 * x1;
        }
        std::sort(ints, ints + count);
        for (int i = 0; i + 1 < count; i += 2) {
            int64_t a = ints[i] + 1, c = ints[i + 1] - 1;
            int xa = (int)((a >> 16) + ((a & 0x8000) >> 15));
            int xb = (int)((c >> 16) + ((c & 0x8000) >> 15));
            result |= span(xa, xb, y);
        }
    }
    return result;
}

template <typename T>
int filled_polygon(SDL_Surface *s, const T *vx, const T *vy, int n,
                   Uint32 rgba, EdgeCache &cache)
{
    return scan_polygon(s, vx, vy, n, cache, [&](int xa, int xb, int y) {
        return hline(s, xa, xb, y, rgba, false);
    });
}

}  // namespace lmshape
