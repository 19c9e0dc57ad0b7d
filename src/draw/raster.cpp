// Raster kernels of lumora.draw (see raster.h).
//
// Every kernel is a template over the pixel size, instantiated once per
// size behind a single switch at its entry, so the inner loops carry no
// per-pixel dispatch.  Spans are clipped once and then written with a
// tight store loop (memset for 1-byte pixels and for 4-byte pixels whose
// bytes are all equal).
//
// Very large shapes (radii of hundreds of thousands of pixels and more)
// would cost millions of stepping iterations that draw nothing visible; past
// a size limit they are rasterised row by row over the clip rectangle only,
// from the closed form of the curve, so that any input returns promptly.

#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lmdraw {

namespace {

typedef uint16_t u16a __attribute__((may_alias));
typedef uint32_t u32a __attribute__((may_alias));

// Above these sizes the stepping rasterisers give way to the row-by-row
// closed forms (their iteration count grows with the radius, not with the
// visible area).
constexpr int64_t kExactRadius = 1 << 17;
constexpr int64_t kExactQuarter = kExactRadius;
constexpr int64_t kExactArcPasses = 2048;
constexpr double kTwoPi = 6.283185307179586;

// ---------------------------------------------------------------------------
// Pixel stores per size.
// ---------------------------------------------------------------------------
template <int B> struct Px;

template <> struct Px<1> {
    static void put(uint8_t *p, const Ink &k) { *p = (uint8_t)k.value; }
    static void run(uint8_t *p, size_t n, const Ink &k)
    {
        memset(p, (uint8_t)k.value, n);
    }
    static uint32_t get(const uint8_t *p) { return *p; }
};

template <> struct Px<2> {
    static void put(uint8_t *p, const Ink &k)
    {
        *reinterpret_cast<u16a *>(p) = (uint16_t)k.value;
    }
    static void run(uint8_t *p, size_t n, const Ink &k)
    {
        u16a *q = reinterpret_cast<u16a *>(p);
        const uint16_t v = (uint16_t)k.value;
        for (size_t i = 0; i < n; ++i)
            q[i] = v;
    }
    static uint32_t get(const uint8_t *p)
    {
        return *reinterpret_cast<const u16a *>(p);
    }
};

template <> struct Px<3> {
    static void put(uint8_t *p, const Ink &k)
    {
        p[0] = k.b3[0];
        p[1] = k.b3[1];
        p[2] = k.b3[2];
    }
    static void run(uint8_t *p, size_t n, const Ink &k)
    {
        if (n < 16) {
            for (size_t i = 0; i < n; ++i, p += 3)
                put(p, k);
            return;
        }
        // Seed a few pixels, then double the written block.
        for (size_t i = 0; i < 4; ++i)
            put(p + 3 * i, k);
        size_t done = 12, total = 3 * n;
        while (done < total) {
            size_t c = std::min(done, total - done);
            memcpy(p + done, p, c);
            done += c;
        }
    }
    static uint32_t get(const uint8_t *p)
    {
        return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16);
    }
};

template <> struct Px<4> {
    static void put(uint8_t *p, const Ink &k)
    {
        *reinterpret_cast<u32a *>(p) = k.value;
    }
    static void run(uint8_t *p, size_t n, const Ink &k)
    {
        const uint32_t v = k.value;
        if ((v & 0xff) * 0x01010101u == v) {
            memset(p, (int)(v & 0xff), n * 4);
            return;
        }
        u32a *q = reinterpret_cast<u32a *>(p);
        for (size_t i = 0; i < n; ++i)
            q[i] = v;
    }
    static uint32_t get(const uint8_t *p)
    {
        return *reinterpret_cast<const u32a *>(p);
    }
};

// Orders a and b and clamps them to [lo, hi); false when nothing is left.
inline bool order_clamp(int64_t &a, int64_t &b, int64_t lo, int64_t hi)
{
    if (a > b)
        std::swap(a, b);
    if (b < lo || a >= hi)
        return false;
    a = std::max(a, lo);
    b = std::min(b, hi - 1);
    return true;
}

// ---------------------------------------------------------------------------
// Painter: the clipped writers of one call, for one pixel size.  It keeps
// its own box (a local the compiler can hold in registers) and hands it
// back to the caller's at the end.
// ---------------------------------------------------------------------------
template <int B> struct Painter {
    static constexpr int bpp = B;
    uint8_t *pix;
    ptrdiff_t pitch;
    int64_t cx0, cy0, cx1, cy1;
    Ink k;
    DrawnBox box;

    Painter(const Canvas &c, const Ink &ink)
        : pix(c.pixels), pitch(c.pitch), cx0(c.x0), cy0(c.y0), cx1(c.x1),
          cy1(c.y1), k(ink)
    {
    }

    uint8_t *at(int64_t x, int64_t y) const
    {
        return pix + (ptrdiff_t)y * pitch + (ptrdiff_t)x * B;
    }
    bool inside(int64_t x, int64_t y) const
    {
        return x >= cx0 && x < cx1 && y >= cy0 && y < cy1;
    }
    void pixel(int64_t x, int64_t y)
    {
        if (!inside(x, y))
            return;
        Px<B>::put(at(x, y), k);
        box.add((int32_t)x, (int32_t)y);
    }
    void pixel_value(int64_t x, int64_t y, uint32_t v)
    {
        if (!inside(x, y))
            return;
        Ink one;
        one.value = v;
        one.b3[0] = (uint8_t)v;
        one.b3[1] = (uint8_t)(v >> 8);
        one.b3[2] = (uint8_t)(v >> 16);
        Px<B>::put(at(x, y), one);
        box.add((int32_t)x, (int32_t)y);
    }
    // Clipped horizontal run, ends in either order; returns true if drawn.
    bool run(int64_t xa, int64_t xb, int64_t y)
    {
        if (y < cy0 || y >= cy1)
            return false;
        if (xa > xb)
            std::swap(xa, xb);
        if (xa < cx0)
            xa = cx0;
        if (xb >= cx1)
            xb = cx1 - 1;
        if (xa > xb)
            return false;
        Px<B>::run(at(xa, y), (size_t)(xb - xa + 1), k);
        return true;
    }
    void span(int64_t xa, int64_t xb, int64_t y)
    {
        if (y < cy0 || y >= cy1 || !order_clamp(xa, xb, cx0, cx1))
            return;
        Px<B>::run(at(xa, y), (size_t)(xb - xa + 1), k);
        box.add_hspan((int32_t)xa, (int32_t)xb, (int32_t)y);
    }
    // Clipped vertical run in column x, ends in either order.
    void column(int64_t x, int64_t ya, int64_t yb)
    {
        if (x < cx0 || x >= cx1 || !order_clamp(ya, yb, cy0, cy1))
            return;
        uint8_t *p = at(x, ya);
        for (int64_t y = ya; y <= yb; ++y, p += pitch)
            Px<B>::put(p, k);
        box.add((int32_t)x, (int32_t)ya);
        box.add((int32_t)x, (int32_t)yb);
    }
    uint32_t read(int64_t x, int64_t y) const { return Px<B>::get(at(x, y)); }
    void put_at(uint8_t *q) const { Px<B>::put(q, k); }
};

template <class F> void dispatch(int bpp, F &&f)
{
    switch (bpp) {
    case 1: f(std::integral_constant<int, 1>()); break;
    case 2: f(std::integral_constant<int, 2>()); break;
    case 3: f(std::integral_constant<int, 3>()); break;
    case 4: f(std::integral_constant<int, 4>()); break;
    default: break;
    }
}

#define LM_WITH_PAINTER(c_, k_, out_, ...)                    \
    dispatch((c_).bpp, [&](auto tag_) {                       \
        Painter<decltype(tag_)::value> p((c_), (k_));         \
        __VA_ARGS__;                                          \
        (out_).merge(p.box);                                  \
    })

// ---------------------------------------------------------------------------
// Exact integer helpers.
// ---------------------------------------------------------------------------

// floor((a * b + c) / d) for d in [1, 2^63); the quotient must fit 64 bits.
uint64_t muldiv(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
#ifdef __SIZEOF_INT128__
    unsigned __int128 n = (unsigned __int128)a * b + c;
    return (uint64_t)(n / d);
#else
    uint64_t al = a & 0xffffffffu, ah = a >> 32;
    uint64_t bl = b & 0xffffffffu, bh = b >> 32;
    uint64_t p0 = al * bl, p1 = al * bh, p2 = ah * bl, p3 = ah * bh;
    uint64_t mid = (p0 >> 32) + (p1 & 0xffffffffu) + (p2 & 0xffffffffu);
    uint64_t lo = (mid << 32) | (p0 & 0xffffffffu);
    uint64_t hi = p3 + (p1 >> 32) + (p2 >> 32) + (mid >> 32);
    lo += c;
    if (lo < c)
        ++hi;
    uint64_t q = 0, rem = 0;
    for (int i = 127; i >= 0; --i) {
        uint64_t bit = i >= 64 ? (hi >> (i - 64)) & 1u : (lo >> i) & 1u;
        rem = (rem << 1) | bit;
        q <<= 1;
        if (rem >= d) {
            rem -= d;
            q |= 1;
        }
    }
    return q;
#endif
}

int64_t iabs(int64_t v) { return v < 0 ? -v : v; }

// The rounding `round` of v, saturated to +-4e18 (NaN gives 0).
template <class Round> int64_t saturating(double v, Round &&round)
{
    if (!(v == v))
        return 0;
    if (v >= 4.0e18)
        return (int64_t)4e18;
    if (v <= -4.0e18)
        return -(int64_t)4e18;
    return round(v);
}

// v rounded half away from zero, saturated.
int64_t nearest(double v)
{
    return saturating(v, [](double u) {
        return u >= 0 ? (int64_t)(u + 0.5) : (int64_t)(u - 0.5);
    });
}

// Truncation toward zero, saturated (NaN gives 0).
int64_t trunc64(double v)
{
    return saturating(v, [](double u) { return (int64_t)u; });
}

// ---------------------------------------------------------------------------
// Lines.
// ---------------------------------------------------------------------------

// The steps j in [0, len] at which start + s * j (s = +-1) lies in
// [lo, hi); false when there are none.
bool step_range(int64_t start, int64_t s, int64_t lo, int64_t hi, int64_t len,
                int64_t &jlo, int64_t &jhi)
{
    if (s > 0) {
        jlo = lo - start;
        jhi = hi - 1 - start;
    }
    else {
        jlo = start - (hi - 1);
        jhi = start - lo;
    }
    jlo = std::max<int64_t>(jlo, 0);
    jhi = std::min<int64_t>(jhi, len);
    return jlo <= jhi;
}

// One-pixel line.  The stepping is the classic two-test Bresenham (error
// dx/2 or -dy/2, both tests on the error before the update); its j-th
// pixel has the closed form major = M1 + sM*j, minor = N1 + sN*m(j) with
// m(j) = ceil((j*d - D/2) / D), which lets the loop start and stop at the
// clip rectangle instead of walking the whole line.
template <class P>
void thin_t(P &p, int64_t x1, int64_t y1, int64_t x2, int64_t y2)
{
    if (x1 == x2 && y1 == y2) {
        p.pixel(x1, y1);
        return;
    }
    const int64_t dx = iabs(x2 - x1), dy = iabs(y2 - y1);
    const int64_t sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
    const bool xmaj = dy < dx;
    const int64_t M1 = xmaj ? x1 : y1, N1 = xmaj ? y1 : x1;
    const int64_t sM = xmaj ? sx : sy, sN = xmaj ? sy : sx;
    const int64_t D = xmaj ? dx : dy, d = xmaj ? dy : dx;
    const int64_t e0 = D / 2;
    const int64_t Mlo = xmaj ? p.cx0 : p.cy0, Mhi = xmaj ? p.cx1 : p.cy1;
    const int64_t Nlo = xmaj ? p.cy0 : p.cx0, Nhi = xmaj ? p.cy1 : p.cx1;

    int64_t jlo, jhi, mlo, mhi;
    if (!step_range(M1, sM, Mlo, Mhi, D, jlo, jhi) ||
        !step_range(N1, sN, Nlo, Nhi, d, mlo, mhi))
        return;
    if (d > 0) {
        if (mlo > 0) {
            int64_t jmin = (int64_t)muldiv((uint64_t)(mlo - 1), (uint64_t)D,
                                           (uint64_t)e0, (uint64_t)d) + 1;
            jlo = std::max(jlo, jmin);
        }
        if (mhi < d) {
            int64_t jmax = (int64_t)muldiv((uint64_t)mhi, (uint64_t)D,
                                           (uint64_t)e0, (uint64_t)d);
            jhi = std::min(jhi, jmax);
        }
    }
    if (jlo > jhi)
        return;
    // State at jlo; the error is small, so wrapping arithmetic is exact.
    uint64_t m = muldiv((uint64_t)jlo, (uint64_t)d, (uint64_t)(D - 1 - e0),
                        (uint64_t)D);
    int64_t e = (int64_t)((uint64_t)e0 - (uint64_t)jlo * (uint64_t)d +
                          m * (uint64_t)D);
    int64_t M = M1 + sM * jlo, N = N1 + sN * (int64_t)m;
    // Both ranges above are exact, so every pixel of jlo..jhi lies inside
    // the clip rectangle: the loop only steps a pointer.
    const int64_t x_first = xmaj ? M : N, y_first = xmaj ? N : M;
    uint8_t *q = p.at(x_first, y_first);
    const ptrdiff_t stepM = xmaj ? (ptrdiff_t)sM * P::bpp : (ptrdiff_t)sM * p.pitch;
    const ptrdiff_t stepN = xmaj ? (ptrdiff_t)sN * p.pitch : (ptrdiff_t)sN * P::bpp;
    int64_t nsteps = 0;
    for (int64_t j = jlo; j <= jhi; ++j) {
#ifdef LMDRAW_DEBUG_CLIP
        {
            int64_t cm = M + sM * (j - jlo), cn = N + sN * nsteps;
            if (!(xmaj ? p.inside(cm, cn) : p.inside(cn, cm)))
                __builtin_trap();
        }
#endif
        p.put_at(q);
        if (e < d) {
            q += stepN;
            ++nsteps;
            e += D - d;
        }
        else {
            e -= d;
        }
        q += stepM;
    }
    // The line is monotone in both axes: its first and last pixels span
    // the box.
    const int64_t m_last = (int64_t)muldiv((uint64_t)jhi, (uint64_t)d,
                                           (uint64_t)(D - 1 - e0), (uint64_t)D);
    const int64_t M_last = M1 + sM * jhi, N_last = N1 + sN * m_last;
    p.box.add((int32_t)x_first, (int32_t)y_first);
    p.box.add((int32_t)(xmaj ? M_last : N_last), (int32_t)(xmaj ? N_last : M_last));
    (void)nsteps;
}

template <class P>
void thick_t(P &p, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t w)
{
    const int64_t cx = p.cx0, cy = p.cy0;
    const int64_t cw = p.cx1 - p.cx0, ch = p.cy1 - p.cy0;
    if (x1 == x2 && (x1 < cx || x1 > cx + cw))
        return;
    if (y1 == y2 && (y1 < cy || y1 > cy + ch))
        return;
    double t0 = 0.0, t1 = 1.0;
    const double fx1 = (double)x1, fx2 = (double)x2;
    const double fy1 = (double)y1, fy2 = (double)y2;
    // Narrows [t0, t1] to where one coordinate runs from `lo` to `hi`.
    auto clip_axis = [&](int64_t a1, int64_t a2, int64_t lo, int64_t hi) {
        if (a1 == a2)
            return;
        if (a1 > a2)
            std::swap(lo, hi);
        const double f1 = (double)a1, f2 = (double)a2;
        t0 = std::max(t0, (f1 - (double)lo) / (f1 - f2));
        t1 = std::min(t1, ((double)hi - f1) / (f2 - f1));
    };
    clip_axis(x1, x2, cx, cx + cw);
    clip_axis(y1, y2, cy, cy + ch);
    if (t0 > t1)
        return;
    const int64_t xs = x1 + nearest(t0 * (fx2 - fx1));
    const int64_t ys = y1 + nearest(t0 * (fy2 - fy1));
    const int64_t xe = x1 + nearest(t1 * (fx2 - fx1));
    const int64_t ye = y1 + nearest(t1 * (fy2 - fy1));
    if (w <= 1) {
        thin_t(p, xs, ys, xe, ye);
        return;
    }
    const int64_t dx = iabs(x2 - x1), dy = iabs(y2 - y1);
    const int64_t sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
    int64_t err = dy < dx ? dx / 2 : -(dy / 2);
    const bool xmaj = dx > dy;
    const int64_t lo = (w - 1) / 2, hi = w / 2;
    int64_t x = xs, y = ys;
    // An x-major line is a column per centre pixel.  Written as columns it
    // would step through memory a row at a time; instead the centre pixels
    // are gathered as runs of equal y, and every row gets one span: the
    // columns reaching row r are those of the runs with y in
    // [r - hi, r + lo], and since x and y both move monotonically along the
    // line, their union is the span between the outer ends of the first
    // and last of those runs.  The runs are handled in batches; a row on a
    // batch boundary is written by both, which changes nothing.
    struct Run {
        int64_t y, xa, xb;
    };
    constexpr int kRuns = 256;
    Run runs[kRuns];
    int nruns = 0;
    auto flush = [&]() {
        if (nruns == 0)
            return;
        // Runs in increasing y.
        auto at = [&](int i) -> const Run & {
            return sy > 0 ? runs[i] : runs[nruns - 1 - i];
        };
        const int64_t rlo = std::max(at(0).y - lo, p.cy0);
        const int64_t rhi = std::min(at(nruns - 1).y + hi, p.cy1 - 1);
        int first = 0, last = -1;
        for (int64_t r = rlo; r <= rhi; ++r) {
            while (first < nruns && at(first).y < r - hi)
                ++first;
            while (last + 1 < nruns && at(last + 1).y <= r + lo)
                ++last;
            if (first > last)
                continue;
            const Run &a = at(first), &b = at(last);
            p.span(std::min(a.xa, b.xa), std::max(a.xb, b.xb), r);
        }
        nruns = 0;
    };
    auto draw = [&]() {
        if (!xmaj) {
            p.span(x - lo, x + hi, y);
            return;
        }
        if (nruns > 0 && runs[nruns - 1].y == y) {
            Run &r = runs[nruns - 1];
            r.xa = std::min(r.xa, x);
            r.xb = std::max(r.xb, x);
            return;
        }
        if (nruns == kRuns)
            flush();
        runs[nruns++] = Run{y, x, x};
    };
    auto step = [&]() {
        int64_t e2 = err;
        if (e2 > -dx) {
            err -= dy;
            x += sx;
        }
        if (e2 < dy) {
            err += dx;
            y += sy;
        }
    };
    auto reaches = [&]() {
        return p.inside(xmaj ? x : x - lo, xmaj ? y - lo : y) ||
               p.inside(xmaj ? x : x + hi, xmaj ? y + hi : y);
    };
    auto touches = [&]() {
        if (xmaj)
            return x >= p.cx0 && x < p.cx1 && y + hi >= p.cy0 && y - lo < p.cy1;
        return y >= p.cy0 && y < p.cy1 && x + hi >= p.cx0 && x - lo < p.cx1;
    };
    // Phase 1: up to the clipped end.  The minor coordinate may lag the
    // major one by a pixel; once the major end is passed and the cross
    // section no longer touches the clip there is nothing left to draw
    // (without this bound a nearly axis-parallel line could step for a
    // very long way outside the clip rectangle).
    for (;;) {
        bool rx = sx > 0 ? x >= xe : x <= xe;
        bool ry = sy > 0 ? y >= ye : y <= ye;
        if (rx && ry)
            break;
        if ((xmaj ? rx : ry) && !touches())
            break;
        draw();
        step();
    }
    // Phase 2: carry on toward the true end while the cross-section still
    // reaches into the clip rectangle.
    if (xmaj) {
        while (x != x2) {
            if (!reaches())
                break;
            draw();
            step();
        }
    }
    else {
        while (y != y2) {
            if (!reaches())
                break;
            draw();
            step();
        }
    }
    draw();
    flush();
}

// ---------------------------------------------------------------------------
// Anti-aliased lines.
// ---------------------------------------------------------------------------

// Channel split and join; direct shifts for formats with whole-byte
// channels, SDL for the rest (palettes, 15/16-bit).
struct Shader {
    SDL_PixelFormat *fmt;
    bool fast;
    uint8_t col[4];
    int sh[4];
    uint32_t amask;

    Shader(SDL_PixelFormat *f, uint32_t pixel) : fmt(f)
    {
        fast = !f->palette && f->BytesPerPixel >= 3 && f->Rloss == 0 &&
               f->Gloss == 0 && f->Bloss == 0 && (f->Amask == 0 || f->Aloss == 0);
        sh[0] = f->Rshift;
        sh[1] = f->Gshift;
        sh[2] = f->Bshift;
        sh[3] = f->Ashift;
        amask = f->Amask;
        split(pixel, col);
    }
    void split(uint32_t v, uint8_t *c) const
    {
        if (fast) {
            c[0] = (uint8_t)(v >> sh[0]);
            c[1] = (uint8_t)(v >> sh[1]);
            c[2] = (uint8_t)(v >> sh[2]);
            c[3] = amask ? (uint8_t)(v >> sh[3]) : 255;
        }
        else {
            SDL_GetRGBA(v, fmt, &c[0], &c[1], &c[2], &c[3]);
        }
    }
    uint32_t join(const uint8_t *c) const
    {
        if (fast)
            return ((uint32_t)c[0] << sh[0]) | ((uint32_t)c[1] << sh[1]) |
                   ((uint32_t)c[2] << sh[2]) |
                   (amask ? ((uint32_t)c[3] << sh[3]) & amask : 0u);
        return SDL_MapRGBA(fmt, c[0], c[1], c[2], c[3]);
    }
};

uint8_t to_byte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return (uint8_t)v;
}

// Coverage writers: the colour to put at a pixel for a brightness b.
struct GenericShade {
    const Shader &s;
    bool blend;
    template <class P> void put(P &p, int64_t x, int64_t y, float b) const
    {
        if (!p.inside(x, y))
            return;
        uint8_t out[4];
        if (blend) {
            uint8_t bg[4];
            s.split(p.read(x, y), bg);
            for (int i = 0; i < 4; ++i)
                out[i] = to_byte(b * s.col[i] + (1.0f - b) * bg[i]);
        }
        else {
            for (int i = 0; i < 4; ++i)
                out[i] = to_byte(b * s.col[i]);
        }
        p.pixel_value(x, y, s.join(out));
    }
};

// 4-byte pixels whose channels are whole bytes: the four bytes are blended
// at once as a vector, the same arithmetic per channel as above; bytes of
// no channel end up 0, as mapping would leave them.
typedef float v4f __attribute__((vector_size(16)));
typedef int32_t v4i __attribute__((vector_size(16)));
typedef uint8_t v4u8 __attribute__((vector_size(4)));

struct FastShade4 {
    v4f col;      // colour per byte of the pixel
    alignas(16) float colv[4];
    uint32_t keep;  // bytes that belong to a channel
    bool blend;

    FastShade4(const Shader &s, bool bl) : blend(bl)
    {
        float c[4] = {0, 0, 0, 0};
        keep = 0;
        for (int ch = 0; ch < 4; ++ch) {
            if (ch == 3 && !s.amask)
                continue;
            int byte = s.sh[ch] / 8;
            c[byte] = (float)s.col[ch];
            keep |= 0xffu << (8 * byte);
        }
        col = v4f{c[0], c[1], c[2], c[3]};
        memcpy(colv, c, sizeof colv);
    }
    template <class P>
    __attribute__((always_inline)) void put(P &p, int64_t x, int64_t y,
                                            float b) const
    {
        if (!p.inside(x, y))
            return;
        uint8_t *q = p.at(x, y);
        *reinterpret_cast<u32a *>(q) = shade(*reinterpret_cast<const u32a *>(q), b);
        p.box.add((int32_t)x, (int32_t)y);
    }
    // The blended pixel for a background value and a brightness.
    __attribute__((always_inline)) uint32_t shade(uint32_t bgv, float b) const
    {
#ifdef __SSE2__
        const __m128 bv = _mm_set1_ps(b);
        __m128 r = _mm_mul_ps(bv, _mm_load_ps(colv));
        if (blend) {
            const __m128i z = _mm_setzero_si128();
            __m128i px = _mm_cvtsi32_si128((int)bgv);
            px = _mm_unpacklo_epi16(_mm_unpacklo_epi8(px, z), z);
            r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(1.0f - b),
                                         _mm_cvtepi32_ps(px)));
        }
        // max(r, 0) also turns a NaN into 0.
        r = _mm_min_ps(_mm_max_ps(r, _mm_setzero_ps()), _mm_set1_ps(255.0f));
        __m128i ri = _mm_cvttps_epi32(r);
        ri = _mm_packs_epi32(ri, ri);
        ri = _mm_packus_epi16(ri, ri);
        return (uint32_t)_mm_cvtsi128_si32(ri) & keep;
#else
        v4f r;
        const v4f bv = {b, b, b, b};
        if (blend) {
            v4u8 bytes;
            memcpy(&bytes, &bgv, 4);
            const v4f g = __builtin_convertvector(bytes, v4f);
            const v4f nb = {1.0f - b, 1.0f - b, 1.0f - b, 1.0f - b};
            r = bv * col + nb * g;
        }
        else {
            r = bv * col;
        }
        const v4f zero = {0, 0, 0, 0}, top = {255, 255, 255, 255};
        r = r > zero ? r : zero;
        r = r > top ? top : r;
        const v4u8 out =
            __builtin_convertvector(__builtin_convertvector(r, v4i), v4u8);
        uint32_t v;
        memcpy(&v, &out, 4);
        return v & keep;
#endif
    }
};

// A coverage write at (major, minor) of a line walked along x, or along y
// when `steep`.
template <class P, class S>
__attribute__((always_inline)) inline void put_along(P &p, const S &s,
                                                     bool steep, int64_t mj,
                                                     int64_t mn, float b)
{
    if (steep)
        s.put(p, mn, mj, b);
    else
        s.put(p, mj, mn, b);
}

// The body of an anti-aliased line: for each major coordinate x in
// [xs, xe), brightness b = 1 - iy + (int)iy one row above (int)iy and, when
// iy is not whole, 1 - b on row (int)iy; iy advances by the gradient.
template <class P, class S>
void smooth_body(P &p, const S &s, bool steep, int64_t xs, int64_t xe,
                 float iy, float gradient)
{
    const float ylo = -1073741824.0f, yhi = 1073741824.0f;
    // Blending reads every pixel before writing it; a steep line reaches a
    // new row (a new cache line) at every step, so the rows a few steps
    // ahead are fetched early.  The address is clamped into the clip
    // rectangle, so it always lies inside the pixel buffer.
    constexpr int64_t kAhead = 12;
    const float ahead = gradient * (float)kAhead;
    auto prefetch = [&](int64_t major, float minor) {
        int64_t mn = (int64_t)std::min(std::max(minor, ylo), yhi) - 1;
        int64_t px = steep ? mn : major, py = steep ? major : mn;
        px = std::min(std::max(px, p.cx0), p.cx1 - 1);
        py = std::min(std::max(py, p.cy0), p.cy1 - 1);
        if (p.cx0 < p.cx1 && p.cy0 < p.cy1) {
            const uint8_t *q = p.at(px, py);
            __builtin_prefetch(q, 1);
            if (!steep && py + 1 < p.cy1)
                __builtin_prefetch(q + p.pitch, 1);
        }
    };
    for (int64_t x = xs; x < xe; ++x) {
        prefetch(x + kAhead, iy + ahead);
        float cy = std::min(std::max(iy, ylo), yhi);
        int32_t y = (int32_t)cy;
        float fy = (float)y;
        float b = 1.0f - iy + fy;
        put_along(p, s, steep, x, (int64_t)y - 1, b);
        if (fy < iy)
            put_along(p, s, steep, x, (int64_t)y, 1.0f - b);
        iy += gradient;
    }
}

// The same for 4-byte pixels with whole-byte channels: the clip test is
// one unsigned compare per axis, the box is kept in locals, and the two
// layouts (steep or not) get a loop each.
template <bool Steep>
void smooth_body4(Painter<4> &p, const FastShade4 &s, int64_t xs, int64_t xe,
                  float iy, float gradient)
{
    const float ylo = -1073741824.0f, yhi = 1073741824.0f;
    const int64_t mj0 = Steep ? p.cy0 : p.cx0, mn0 = Steep ? p.cx0 : p.cy0;
    const uint64_t mjn = (uint64_t)(Steep ? p.cy1 - p.cy0 : p.cx1 - p.cx0);
    const uint64_t mnn = (uint64_t)(Steep ? p.cx1 - p.cx0 : p.cy1 - p.cy0);
    if (mjn == 0 || mnn == 0)
        return;
    uint8_t *const pix = p.pix;
    const ptrdiff_t pitch = p.pitch;
    const ptrdiff_t mj_step = Steep ? pitch : 4, mn_step = Steep ? 4 : pitch;
    int64_t mj_lo = INT64_MAX, mj_hi = INT64_MIN;
    int64_t mn_lo = INT64_MAX, mn_hi = INT64_MIN;
    // Only a steep line needs the rows ahead fetched (see above); a
    // shallow one stays on the same two rows for many steps.
    constexpr int64_t kAhead = 12;
    for (int64_t x = xs; x < xe; ++x) {
        // Branch-free clamp: iy is finite, and the clip keeps it near the
        // clip rectangle anyway.
        float cy = iy < ylo ? ylo : iy;
        cy = cy > yhi ? yhi : cy;
        const int32_t y = (int32_t)cy;
        const float fy = (float)y;
        const float b = 1.0f - iy + fy;
        if ((uint64_t)(x - mj0) < mjn) {
            uint8_t *const line = pix + (ptrdiff_t)x * mj_step;
            if (Steep) {
                const int64_t amj = std::min<int64_t>(x + kAhead - mj0,
                                                      (int64_t)mjn - 1);
                int64_t amn = (int64_t)y - 1 - mn0;
                amn = amn < 0 ? 0 : amn;
                amn = amn >= (int64_t)mnn ? (int64_t)mnn - 1 : amn;
                __builtin_prefetch(pix + (ptrdiff_t)(amj + mj0) * mj_step +
                                       (ptrdiff_t)(amn + mn0) * mn_step, 1);
            }
            const int64_t ya = (int64_t)y - 1;
            bool wrote = false;
            if ((uint64_t)(ya - mn0) < mnn) {
                u32a *q = reinterpret_cast<u32a *>(line + (ptrdiff_t)ya * mn_step);
                *q = s.shade(*q, b);
                mn_lo = std::min(mn_lo, ya);
                mn_hi = std::max(mn_hi, ya);
                wrote = true;
            }
            if (fy < iy && (uint64_t)((int64_t)y - mn0) < mnn) {
                u32a *q = reinterpret_cast<u32a *>(line + (ptrdiff_t)y * mn_step);
                *q = s.shade(*q, 1.0f - b);
                mn_lo = std::min<int64_t>(mn_lo, y);
                mn_hi = std::max<int64_t>(mn_hi, y);
                wrote = true;
            }
            if (wrote) {
                mj_lo = std::min(mj_lo, x);
                mj_hi = std::max(mj_hi, x);
            }
        }
        iy += gradient;
    }
    if (mj_lo <= mj_hi) {
        if (Steep) {
            p.box.add((int32_t)mn_lo, (int32_t)mj_lo);
            p.box.add((int32_t)mn_hi, (int32_t)mj_hi);
        }
        else {
            p.box.add((int32_t)mj_lo, (int32_t)mn_lo);
            p.box.add((int32_t)mj_hi, (int32_t)mn_hi);
        }
    }
}

void smooth_body(Painter<4> &p, const FastShade4 &s, bool steep, int64_t xs,
                 int64_t xe, float iy, float gradient)
{
    if (steep)
        smooth_body4<true>(p, s, xs, xe, iy, gradient);
    else
        smooth_body4<false>(p, s, xs, xe, iy, gradient);
}

int64_t ftrunc(float v) { return trunc64((double)v); }

template <class P, class S>
void smooth_t(P &p, const S &s, float from_x, float from_y, float to_x,
              float to_y)
{
    if (!std::isfinite(from_x) || !std::isfinite(from_y) ||
        !std::isfinite(to_x) || !std::isfinite(to_y))
        return;
    float dx = to_x - from_x, dy = to_y - from_y;
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    if (std::fabs((double)dx) < 0.0001 && std::fabs((double)dy) < 0.0001) {
        s.put(p, trunc64(std::floor((double)from_x + 0.5)),
              trunc64(std::floor((double)from_y + 0.5)), 1.0f);
        return;
    }
    float left = (float)(p.cx0 - 1);
    float right = left + (float)(p.cx1 - p.cx0) + 1.0f;
    float top = (float)(p.cy0 - 1);
    float bottom = top + (float)(p.cy1 - p.cy0) + 1.0f;
    const bool steep = std::fabs(dx) < std::fabs(dy);
    if (steep) {
        std::swap(from_x, from_y);
        std::swap(to_x, to_y);
        std::swap(dx, dy);
        std::swap(left, top);
        std::swap(right, bottom);
    }
    if (dx < 0) {
        std::swap(from_x, to_x);
        std::swap(from_y, to_y);
        dx = -dx;
        dy = -dy;
    }
    if (to_x <= left || from_x >= right)
        return;
    const float gradient = dy / dx;
    if (from_x < left) {
        from_y += gradient * (left - from_x);
        from_x = left;
    }
    if (to_x > right) {
        to_y += gradient * (right - to_x);
        to_x = right;
    }
    {
        // The same in y, from the end that is lower in y to the higher one.
        const bool rising = gradient > 0.0f;
        float &lx = rising ? from_x : to_x, &ly = rising ? from_y : to_y;
        float &hx = rising ? to_x : from_x, &hy = rising ? to_y : from_y;
        if (hy <= top || ly >= bottom)
            return;
        if (ly < top) {
            lx += (top - ly) / gradient;
            ly = top;
        }
        if (hy > bottom) {
            hx += (bottom - hy) / gradient;
            hy = bottom;
        }
    }
    // Rounding in the adjustments above must not widen the walk.
    if (!std::isfinite(from_x) || !std::isfinite(to_x) ||
        !std::isfinite(from_y) || !std::isfinite(to_y))
        return;
    from_x = std::max(from_x, left);
    to_x = std::min(to_x, right);
    from_y += 1.0f;
    to_y += 1.0f;
    int64_t xs = ftrunc(from_x);
    float iy = from_y + gradient * ((float)xs - from_x);
    if (to_x > left + 1.0f) {
        float gap = 1.0f + (float)xs - from_x;
        int64_t ty = ftrunc(iy);
        float f = iy - (float)ty;
        if ((float)ty < iy)
            put_along(p, s, steep, xs, ty, f * gap);
        put_along(p, s, steep, xs, ty - 1, (1.0f - f) * gap);
        iy += gradient;
        xs += 1;
    }
    int64_t xe = trunc64(std::ceil((double)to_x));
    if (from_x < right - 1.0f) {
        float ye = to_y + gradient * ((float)xe - to_x);
        float gap = 1.0f - (float)xe + to_x;
        int64_t ty = ftrunc(ye);
        float f = ye - (float)ty;
        if ((float)ty < ye)
            put_along(p, s, steep, xe, ty, f * gap);
        put_along(p, s, steep, xe, ty - 1, (1.0f - f) * gap);
    }
    // The walk stays within a pixel or two of the clip rectangle, so the
    // row fits 32 bits; the clamp only guards against rounding surprises.
    smooth_body(p, s, steep, xs, xe, iy, gradient);
}

// ---------------------------------------------------------------------------
// Circles.  The right and lower halves sit one pixel closer to the centre:
// radius r about (x0, y0) covers columns x0-r .. x0+r-1.
// ---------------------------------------------------------------------------

// The midpoint circle of radius r, one octant: emit(x, y, f) at each step.
template <class Emit>
__attribute__((always_inline)) inline void octant_walk(int64_t r, Emit &&emit)
{
    int64_t f = 1 - r, ddF_y = -2 * r, x = 0, y = r;
    while (x < y) {
        if (f >= 0) {
            --y;
            ddF_y += 2;
            f += ddF_y;
        }
        ++x;
        f += 2 * x + 1;
        emit(x, y, f);
    }
}

template <class P> void disc_t(P &p, int64_t x0, int64_t y0, int64_t r)
{
    octant_walk(r, [&](int64_t x, int64_t y, int64_t f)
                       __attribute__((always_inline)) {
        if (f >= 0) {
            p.span(x0 - x, x0 + x - 1, y0 + y - 1);
            p.span(x0 - x, x0 + x - 1, y0 - y);
        }
        p.span(x0 - y, x0 + y - 1, y0 + x - 1);
        p.span(x0 - y, x0 + y - 1, y0 - x);
    });
}

template <class P> void ring_thin_t(P &p, int64_t x0, int64_t y0, int64_t r)
{
    octant_walk(r, [&](int64_t x, int64_t y, int64_t)
                       __attribute__((always_inline)) {
        p.pixel(x0 + x - 1, y0 + y - 1);
        p.pixel(x0 - x, y0 + y - 1);
        p.pixel(x0 + x - 1, y0 - y);
        p.pixel(x0 - x, y0 - y);
        p.pixel(x0 + y - 1, y0 + x - 1);
        p.pixel(x0 + y - 1, y0 - x);
        p.pixel(x0 - y, y0 + x - 1);
        p.pixel(x0 - y, y0 - x);
    });
}

// Midpoint ellipse stepping, shared by the ellipses and the inner edge of
// the wide circle rings: (x, y) walks the quadrant of the ellipse with
// half-axes a and b from (0, b), a column at a time while the slope is
// shallow (region 1, while dx < dy), then a row at a time (region 2).
// `Round` picks the circle's form of the decision values (a == b), which
// rounds differently from the general one.
template <bool Round> struct MidStep {
    int64_t a2, b2;
    int64_t x, y, dx, dy;
    double d1, d2 = 0.0;

    MidStep(int64_t a, int64_t b)
        : a2(a * a), b2(b * b), x(0), y(b), dx(0), dy(2 * a2 * b)
    {
        if (Round)
            d1 = (double)b2 * (1.25 - (double)b);
        else
            d1 = (double)b2 - (double)a2 * (double)b + 0.25 * (double)a2;
    }
    // a * a; for a circle the same as b * b, which the compiler can then
    // keep in one register.
    int64_t A2() const { return Round ? b2 : a2; }
    bool in_region1() const { return dx < dy; }
    // Region 1: one column further on the same row.
    void widen()
    {
        ++x;
        dx += 2 * b2;
        d1 += (double)(dx + b2);
    }
    // Region 1: as far along the current row as it goes.
    void settle()
    {
        while (d1 < 0)
            widen();
    }
    // Region 1: one column and one row on.
    void next_row1()
    {
        ++x;
        --y;
        dx += 2 * b2;
        dy -= 2 * A2();
        d1 += (double)(dx - dy + b2);
    }
    // Region 1: the rest of the row, then one row on.
    void step1()
    {
        settle();
        next_row1();
    }
    void begin2()
    {
        double hx = (double)x + 0.5, hy = (double)(y - 1);
        if (Round)
            d2 = (double)b2 * (hx * hx + hy * hy - (double)b2);
        else
            d2 = (double)b2 * hx * hx + (double)a2 * hy * hy -
                 (double)a2 * (double)b2;
    }
    // Region 2: one row on, and a column when the curve calls for it.
    void next_row2()
    {
        --y;
        dy -= 2 * A2();
        if (d2 > 0) {
            d2 += (double)(A2() - dy);
        }
        else {
            ++x;
            dx += 2 * b2;
            d2 += (double)(dx - dy + A2());
        }
    }
    // A region-2 row of an inner ellipse stepped alongside an outer one:
    // its region-2 value is set up on first use.
    void step2()
    {
        if (d2 == 0)
            begin2();
        next_row2();
    }
};

template <class P>
void ring_thick_t(P &p, int64_t x0, int64_t y0, int64_t r, int64_t w)
{
    const int64_t ri = r - w + 1;
    MidStep<true> in(ri, ri);
    int64_t x = 0, y = r;
    const int64_t r2 = r * r;
    int64_t dx = 0, dy = 2 * r2 * y;
    double d1 = (double)r2 * (1.25 - (double)r);
    bool solid = true;

    auto draw = [&]() __attribute__((always_inline)) {
        const int64_t xi = in.x;
        if (solid) {
            p.span(x0 - x, x0 + x - 1, y0 - y);
            p.span(x0 - x, x0 + x - 1, y0 + y - 1);
        }
        else {
            p.span(x0 - x, x0 - xi, y0 - y);
            p.span(x0 - x, x0 - xi, y0 + y - 1);
            p.span(x0 + xi - 1, x0 + x - 1, y0 - y);
            p.span(x0 + xi - 1, x0 + x - 1, y0 + y - 1);
        }
    };
    while (dx < dy) {
        while (d1 < 0) {
            ++x;
            dx += 2 * r2;
            d1 += (double)(dx + r2);
        }
        draw();
        ++x;
        --y;
        dx += 2 * r2;
        dy -= 2 * r2;
        d1 += (double)(dx - dy + r2);
        if (solid && y < ri)
            solid = false;
        if (!solid)
            in.step1();
    }
    if (y < 0)
        return;
    double hx = (double)x + 0.5, hy = (double)(y - 1);
    double d2 = (double)r2 * (hx * hx + hy * hy - (double)r2);
    while (y >= 0) {
        draw();
        --y;
        dy -= 2 * r2;
        if (d2 > 0) {
            d2 += (double)(r2 - dy);
        }
        else {
            ++x;
            dx += 2 * r2;
            d2 += (double)(dx - dy + r2);
        }
        if (!solid || y < ri) {
            solid = false;
            if (in.in_region1())
                in.step1();
            else
                in.step2();
        }
    }
}

// Row-by-row closed form for shapes too large to step through: pixels whose
// centre lies inside the ellipse (cx, cy, rx, ry) and, for a ring, outside
// the inner one (irx, iry; none when either is <= 0).  `quad` limits the
// result to the right (1), left (2), upper (4) or lower (8) side of the
// integer centre column/row (qx, qy); 0 means everywhere.  `sector` (may be
// null) keeps only pixels whose direction lies in an angular range.
struct Sector {
    double ux0, uy0, ux1, uy1;  // unit directions of the start and stop rays
    double sweep;
    bool contains(double u, double v) const
    {
        if (sweep >= kTwoPi)
            return true;
        double c0 = ux0 * v - uy0 * u;  // cross(start, p)
        double c1 = u * uy1 - v * ux1;  // cross(p, stop)
        if (sweep <= kTwoPi / 2)
            return c0 >= 0 && c1 >= 0;
        return !(c0 < 0 && c1 < 0);
    }
};

template <class P>
void conic_rows(P &p, double cx, double cy, double rx, double ry, double irx,
                double iry, int quad, int64_t qx, int64_t qy,
                const Sector *sector = nullptr)
{
    if (!(rx > 0) || !(ry > 0))
        return;
    const bool ring = irx > 0 && iry > 0;
    int64_t ya = std::max<int64_t>(p.cy0, trunc64(std::floor(cy - ry)) - 1);
    int64_t yb = std::min<int64_t>(p.cy1 - 1, trunc64(std::ceil(cy + ry)) + 1);
    int64_t xlo = p.cx0, xhi = p.cx1 - 1;
    if (quad & 1) xlo = std::max(xlo, qx);
    if (quad & 2) xhi = std::min(xhi, qx - 1);
    if (quad & 4) yb = std::min(yb, qy - 1);
    if (quad & 8) ya = std::max(ya, qy);
    for (int64_t row = ya; row <= yb; ++row) {
        double v = (double)row + 0.5 - cy;
        double q = 1.0 - (v / ry) * (v / ry);
        if (q < 0)
            continue;
        double half = rx * std::sqrt(q);
        int64_t a = trunc64(std::ceil(cx - half - 0.5));
        int64_t b = trunc64(std::floor(cx + half - 0.5));
        if (a > b)
            continue;
        int64_t ia = b + 1, ib = b;  // empty hole by default
        if (ring && std::fabs(v) < iry) {
            double qi = 1.0 - (v / iry) * (v / iry);
            double hi = irx * std::sqrt(qi);
            ia = trunc64(std::ceil(cx - hi - 0.5));
            ib = trunc64(std::floor(cx + hi - 0.5));
            // Keep at least one pixel of the ring on each side.
            ia = std::max(ia, a + 1);
            ib = std::min(ib, b - 1);
            if (ia > ib) {
                ia = b + 1;
                ib = b;
            }
        }
        auto emit = [&](int64_t s, int64_t e) {
            s = std::max(s, xlo);
            e = std::min(e, xhi);
            if (s > e)
                return;
            if (!sector) {
                p.span(s, e, row);
                return;
            }
            int64_t run0 = -1;
            bool in = false;
            for (int64_t x = s; x <= e + 1; ++x) {
                bool ok = x <= e &&
                          sector->contains(((double)x + 0.5 - cx) / rx, -v / ry);
                if (ok && !in) {
                    run0 = x;
                    in = true;
                }
                else if (!ok && in) {
                    p.span(run0, x - 1, row);
                    in = false;
                }
            }
        };
        if (ia <= ib) {
            emit(a, ia - 1);
            emit(ib + 1, b);
        }
        else {
            emit(a, b);
        }
    }
}

template <class P>
void quarter_t(P &p, int64_t x0, int64_t y0, int64_t r, int64_t t, int ftr,
               int ftl, int fbl, int fbr)
{
    const bool TR = ftr > 0, TL = ftl > 0, BL = fbl > 0, BR = fbr > 0;
    if (r == 1) {
        if (TR) p.pixel(x0, y0 - 1);
        if (TL) p.pixel(x0 - 1, y0 - 1);
        if (BL) p.pixel(x0 - 1, y0);
        if (BR) p.pixel(x0, y0);
        return;
    }
    if (r > kExactQuarter) {
        double rr = (double)r;
        double ri = t ? rr - (double)t : 0.0;
        if (TR) conic_rows(p, x0, y0, rr, rr, ri, ri, 1 | 4, x0, y0);
        if (TL) conic_rows(p, x0, y0, rr, rr, ri, ri, 2 | 4, x0, y0);
        if (BL) conic_rows(p, x0, y0, rr, rr, ri, ri, 2 | 8, x0, y0);
        if (BR) conic_rows(p, x0, y0, rr, rr, ri, ri, 1 | 8, x0, y0);
        return;
    }
    int64_t f = 1 - r, ddF_y = -2 * r, x = 0, y = r;
    int64_t yi = r - t, fi = 1 - yi, ddFi_y = -2 * yi;
    while (x < y) {
        if (f >= 0) {
            --y;
            ddF_y += 2;
            f += ddF_y;
        }
        if (t != 0 && fi >= 0) {
            --yi;
            ddFi_y += 2;
            fi += ddFi_y;
        }
        ++x;
        f += 2 * x + 1;
        fi += 2 * x + 1;
        if (t > 1)
            t = y - yi;
        if (t != 0) {
            // Pixels i = 0 .. t-1 at y1 = y - i >= x: one column run and
            // one row run per quadrant.
            int64_t ylo = std::max(y - t + 1, x);
            if (ylo > y)
                continue;
            if (TR) {
                p.column(x0 + x - 1, y0 - y, y0 - ylo);
                p.span(x0 + ylo - 1, x0 + y - 1, y0 - x);
            }
            if (TL) {
                p.column(x0 - x, y0 - y, y0 - ylo);
                p.span(x0 - y, x0 - ylo, y0 - x);
            }
            if (BL) {
                p.span(x0 - y, x0 - ylo, y0 + x - 1);
                p.column(x0 - x, y0 + ylo - 1, y0 + y - 1);
            }
            if (BR) {
                p.column(x0 + x - 1, y0 + ylo - 1, y0 + y - 1);
                p.span(x0 + ylo - 1, x0 + y - 1, y0 + x - 1);
            }
        }
        else {
            if (TR) {
                p.column(x0 + y - 1, y0 - x, y0);
                p.column(x0 + x - 1, y0 - y, y0);
            }
            if (TL) {
                p.column(x0 - y, y0 - x, y0);
                p.column(x0 - x, y0 - y, y0);
            }
            if (BL) {
                p.column(x0 - y, y0, y0 + x - 1);
                p.column(x0 - x, y0, y0 + y - 1);
            }
            if (BR) {
                p.column(x0 + y - 1, y0, y0 + x - 1);
                p.column(x0 + x - 1, y0, y0 + y - 1);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Ellipses.
// ---------------------------------------------------------------------------

// Both ellipse kernels walk the outer ellipse (half-axes a, b) alike:
// emit(x, y) once per row, with the widest x of that row (a row's spans
// only grow while y holds), then row1(y) after each row step of region 1
// and row2(y) after each of region 2, y being the new row.
template <class Emit, class Row1, class Row2>
__attribute__((always_inline)) inline void
oval_walk(int64_t a, int64_t b, Emit &&emit, Row1 &&row1, Row2 &&row2)
{
    MidStep<false> o(a, b);
    while (o.in_region1()) {
        if (o.d1 < 0) {
            o.widen();
            if (!o.in_region1())
                emit(o.x - 1, o.y);
        }
        else {
            emit(o.x, o.y);
            o.next_row1();
            row1(o.y);
        }
    }
    o.begin2();
    while (o.y >= 0) {
        emit(o.x, o.y);
        o.next_row2();
        row2(o.y);
    }
}

template <class P>
void oval_fill_t(P &p, int64_t x, int64_t y, int64_t w, int64_t h)
{
    if (w == 1) {
        thin_t(p, x, y, x, y + h - 1);
        return;
    }
    if (h == 1) {
        p.span(x, x + w - 1, y);
        return;
    }
    const int64_t x0 = x + w / 2, y0 = y + h / 2;
    const int64_t ox = (w + 1) % 2, oy = (h + 1) % 2;
    oval_walk(
        w / 2, h / 2,
        [&](int64_t px, int64_t py) __attribute__((always_inline)) {
            p.span(x0 - px, x0 + px - ox, y0 - py);
            p.span(x0 - px, x0 + px - ox, y0 + py - oy);
        },
        [](int64_t) {}, [](int64_t) {});
}

template <class P>
void oval_ring_t(P &p, int64_t x, int64_t y, int64_t w, int64_t h, int64_t t)
{
    const int64_t x0 = x + w / 2, y0 = y + h / 2;
    const int64_t ox = (w + 1) % 2, oy = (h + 1) % 2;
    const int64_t a = w / 2, b = h / 2;
    const int64_t bi = b - t;
    MidStep<false> in(a - t, bi);
    bool solid = true;

    auto draw = [&](int64_t px, int64_t py) __attribute__((always_inline)) {
        const int64_t xi = in.x;
        if (solid) {
            p.span(x0 - px, x0 + px - ox, y0 - py);
            p.span(x0 - px, x0 + px - ox, y0 + py - oy);
        }
        else {
            p.span(x0 - px, x0 - xi, y0 - py);
            p.span(x0 - px, x0 - xi, y0 + py - oy);
            p.span(x0 + px - ox, x0 + xi - ox, y0 - py);
            p.span(x0 + px - ox, x0 + xi - ox, y0 + py - oy);
        }
    };
    // The inner ellipse moves once the outer one is below its top row.
    auto row1 = [&](int64_t py) {
        if (!solid || py < bi) {
            solid = false;
            if (in.in_region1())
                in.step1();
        }
    };
    auto row2 = [&](int64_t py) {
        if (py < bi || !solid) {
            solid = false;
            if (in.in_region1())
                in.step1();
            else if (in.y >= 0)
                in.step2();
        }
    };
    oval_walk(a, b, draw, row1, row2);
}

// ---------------------------------------------------------------------------
// Arcs: chains of thin segments between sampled points of the ellipse.
// ---------------------------------------------------------------------------

// True when the pass cannot put a pixel inside the clip rectangle: the
// clip lies outside the ellipse's box, or wholly inside the inner bound of
// the sampled chain (the ellipse shrunk by cos(step/2)).
template <class P>
bool arc_pass_invisible(const P &p, double x0, double y0, double rx, double ry,
                        double step)
{
    double ax = std::fabs(rx), ay = std::fabs(ry);
    if (x0 + ax + 2 < (double)p.cx0 || x0 - ax - 2 >= (double)p.cx1 ||
        y0 + ay + 2 < (double)p.cy0 || y0 - ay - 2 >= (double)p.cy1)
        return true;
    double c = std::cos(std::min(step, kTwoPi / 2) / 2);
    double ix = ax * c - 3, iy = ay * c - 3;
    if (ix <= 0 || iy <= 0)
        return false;
    const double xs[2] = {(double)p.cx0 - 1, (double)p.cx1 + 1};
    const double ys[2] = {(double)p.cy0 - 1, (double)p.cy1 + 1};
    for (double cxp : xs)
        for (double cyp : ys) {
            double u = (cxp - x0) / ix, v = (cyp - y0) / iy;
            if (u * u + v * v >= 1.0)
                return false;
        }
    return true;
}

template <class P>
void arc_pass_t(P &p, int64_t x0, int64_t y0, int64_t rx, int64_t ry,
                double a0, double a1)
{
    const int64_t r = rx < ry ? rx : ry;
    double step;
    if (r <= 0) {
        step = 1.0;
    }
    else {
        if (r < 2)
            return;  // asin(2/r) has no value: nothing to draw
        step = std::asin(2.0 / (double)r);
        if (step < 0.05)
            step = 0.05;
    }
    if (arc_pass_invisible(p, (double)x0, (double)y0, (double)rx, (double)ry,
                           step))
        return;
    const double frx = (double)rx, fry = (double)ry;
    const double fx0 = (double)x0, fy0 = (double)y0;
    int64_t px = trunc64(fx0 + std::cos(a0) * frx);
    int64_t py = trunc64(fy0 - std::sin(a0) * fry);
    // The sweep is at most two turns, so this bounds the walk even where
    // adding `step` no longer changes the angle.
    const int64_t limit = (int64_t)std::ceil(2 * kTwoPi / step) + 2;
    double a = a0 + step;
    for (int64_t k = 0; a < a1 + step && k < limit; ++k, a += step) {
        double an = std::min(a, a1);
        int64_t nx = trunc64(fx0 + std::cos(an) * frx);
        int64_t ny = trunc64(fy0 - std::sin(an) * fry);
        thin_t(p, px, py, nx, ny);
        px = nx;
        py = ny;
    }
}

// ---------------------------------------------------------------------------
// Polygons.
// ---------------------------------------------------------------------------
struct Edge {
    double x1, y1, x2, y2;  // y1 < y2
};

void sort_ints(int64_t *v, size_t n)
{
    if (n < 24) {
        for (size_t i = 1; i < n; ++i) {
            int64_t t = v[i];
            size_t j = i;
            while (j > 0 && v[j - 1] > t) {
                v[j] = v[j - 1];
                --j;
            }
            v[j] = t;
        }
        return;
    }
    std::sort(v, v + n);
}

template <class P>
void polygon_t(P &p, const int64_t *xs, const int64_t *ys, size_t n,
               void *scratch)
{
    if (n == 0)
        return;
    int64_t miny = ys[0], maxy = ys[0];
    int64_t minx = xs[0], maxx = xs[0];
    for (size_t i = 1; i < n; ++i) {
        miny = std::min(miny, ys[i]);
        maxy = std::max(maxy, ys[i]);
        minx = std::min(minx, xs[i]);
        maxx = std::max(maxx, xs[i]);
    }
    if (miny == maxy) {
        p.span(minx, maxx, miny);
        return;
    }
    Edge *edges = static_cast<Edge *>(scratch);
    int64_t *cross = reinterpret_cast<int64_t *>(edges + n);
    uint32_t *active = reinterpret_cast<uint32_t *>(cross + n);
    size_t ne = 0;
    for (size_t i = 0; i < n; ++i) {
        size_t pi = i ? i - 1 : n - 1;
        int64_t x1 = xs[pi], y1 = ys[pi], x2 = xs[i], y2 = ys[i];
        if (y1 == y2)
            continue;
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        edges[ne++] = Edge{(double)x1, (double)y1, (double)x2, (double)y2};
    }
    std::sort(edges, edges + ne,
              [](const Edge &a, const Edge &b) { return a.y1 < b.y1; });
    // Rows outside the clip rectangle draw nothing: walk only the visible
    // ones.
    const int64_t ystart = std::max(miny, p.cy0);
    const int64_t yend = std::min(maxy, p.cy1 - 1);
    const double fmaxy = (double)maxy;
    size_t next = 0, na = 0;
    for (int64_t row = ystart; row <= yend; ++row) {
        const double y = (double)row;
        while (next < ne && edges[next].y1 <= y)
            active[na++] = (uint32_t)next++;
        size_t nc = 0, keep = 0;
        for (size_t i = 0; i < na; ++i) {
            const Edge &e = edges[active[i]];
            bool hit = y < e.y2 || (y == fmaxy && e.y2 == fmaxy);
            if (!hit)
                continue;  // finished: rows only go down
            active[keep++] = active[i];
            double xv = (y - e.y1) * (e.x2 - e.x1) / (e.y2 - e.y1) + e.x1;
            cross[nc++] = trunc64(xv);
        }
        na = keep;
        sort_ints(cross, nc);
        for (size_t j = 0; j + 1 < nc; j += 2)
            p.span(cross[j], cross[j + 1], row);
    }
    // Horizontal edges inside the polygon's height would lose their lower
    // border to the half-open rule above.
    for (size_t i = 0; i < n; ++i) {
        size_t pi = i ? i - 1 : n - 1;
        if (miny < ys[i] && ys[i] < maxy && ys[pi] == ys[i])
            p.span(xs[i], xs[pi], ys[i]);
    }
}

// ---------------------------------------------------------------------------
// Rectangles.
// ---------------------------------------------------------------------------
template <class P>
void frame_t(P &p, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t wd)
{
    for (int64_t i = 0; i < wd; ++i) {
        p.run(x1, x2, y1 + i);
        p.run(x1, x2, y2 - i);
    }
    // Side rows, limited to the visible ones.
    int64_t ilo = std::max<int64_t>(0, p.cy0 - (y1 + wd));
    int64_t ihi = std::min<int64_t>((y2 - y1) - 2 * wd, p.cy1 - 1 - (y1 + wd));
    for (int64_t i = ilo; i <= ihi; ++i) {
        p.run(x1, x1 + wd - 1, y1 + wd + i);
        p.run(x2 - wd + 1, x2, y1 + wd + i);
    }
}

template <class P>
void curved_t(P &p, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t R,
              int64_t wd, int64_t tl, int64_t tr, int64_t bl, int64_t br,
              void *scratch)
{
    if (tl < 0) tl = R;
    if (tr < 0) tr = R;
    if (bl < 0) bl = R;
    if (br < 0) br = R;
    // A negative border_radius handed to a corner means no rounding there.
    tl = std::max<int64_t>(tl, 0);
    tr = std::max<int64_t>(tr, 0);
    bl = std::max<int64_t>(bl, 0);
    br = std::max<int64_t>(br, 0);
    const int64_t W = x2 - x1 + 1, H = y2 - y1 + 1;
    if (tl + tr > W || bl + br > W || tl + bl > H || tr + br > H) {
        auto ratio = [](int64_t side, int64_t sum) {
            return sum > 0 ? (float)side / (float)sum : INFINITY;
        };
        float f = std::min(std::min(ratio(W, tl + tr), ratio(H, tl + bl)),
                           std::min(ratio(W, bl + br), ratio(H, tr + br)));
        tl = trunc64((double)((float)tl * f));
        tr = trunc64((double)((float)tr * f));
        bl = trunc64((double)((float)bl * f));
        br = trunc64((double)((float)br * f));
    }
    if (wd == 0) {
        const int64_t px[8] = {x1, x1 + tl, x2 - tr, x2, x2, x2 - br, x1 + bl, x1};
        const int64_t py[8] = {y1 + tl, y1, y1, y1 + tr, y2 - br, y2, y2, y2 - bl};
        polygon_t(p, px, py, 8, scratch);
        if (tr > 0) quarter_t(p, x2 - tr + 1, y1 + tr, tr, 0, 1, 0, 0, 0);
        if (tl > 0) quarter_t(p, x1 + tl, y1 + tl, tl, 0, 0, 1, 0, 0);
        if (bl > 0) quarter_t(p, x1 + bl, y2 - bl + 1, bl, 0, 0, 0, 1, 0);
        if (br > 0) quarter_t(p, x2 - br + 1, y2 - br + 1, br, 0, 0, 0, 0, 1);
        return;
    }
    if (x2 - tr == x1 + tl) {
        for (int64_t i = 0; i < wd; ++i)
            p.pixel(x1 + tl, y1 + i);
    }
    else {
        int64_t yt = y1 + wd / 2 + wd % 2 - 1;
        thick_t(p, x1 + tl, yt, x2 - tr, yt, wd);
    }
    if (y2 - bl == y1 + tl) {
        for (int64_t i = 0; i < wd; ++i)
            p.pixel(x1 + i, y1 + tl);
    }
    else {
        int64_t xl = x1 + wd / 2 + wd % 2 - 1;
        thick_t(p, xl, y1 + tl, xl, y2 - bl, wd);
    }
    if (x2 - br == x1 + bl) {
        for (int64_t i = 0; i < wd; ++i)
            p.pixel(x1 + bl, y2 - i);
    }
    else {
        int64_t yb = y2 - wd / 2;
        thick_t(p, x1 + bl, yb, x2 - br, yb, wd);
    }
    if (y2 - br == y1 + tr) {
        for (int64_t i = 0; i < wd; ++i)
            p.pixel(x2 - i, y1 + tr);
    }
    else {
        int64_t xr = x2 - wd / 2;
        thick_t(p, xr, y1 + tr, xr, y2 - br, wd);
    }
    if (tr > 0) quarter_t(p, x2 - tr + 1, y1 + tr, tr, wd, 1, 0, 0, 0);
    if (tl > 0) quarter_t(p, x1 + tl, y1 + tl, tl, wd, 0, 1, 0, 0);
    if (bl > 0) quarter_t(p, x1 + bl, y2 - bl + 1, bl, wd, 0, 0, 1, 0);
    if (br > 0) quarter_t(p, x2 - br + 1, y2 - br + 1, br, wd, 0, 0, 0, 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry points.
// ---------------------------------------------------------------------------
Canvas canvas_of(SDL_Surface *s)
{
    Canvas c;
    c.pixels = static_cast<uint8_t *>(s->pixels);
    c.pitch = s->pitch;
    c.bpp = s->format->BytesPerPixel;
    c.fmt = s->format;
    // SDL keeps the clip rectangle inside the surface; clamp anyway so a
    // hand-made surface cannot steer writes out of its buffer.
    int64_t x0 = std::max(0, s->clip_rect.x);
    int64_t y0 = std::max(0, s->clip_rect.y);
    int64_t x1 = std::min<int64_t>((int64_t)s->clip_rect.x + s->clip_rect.w, s->w);
    int64_t y1 = std::min<int64_t>((int64_t)s->clip_rect.y + s->clip_rect.h, s->h);
    if (x1 < x0) x1 = x0;
    if (y1 < y0) y1 = y0;
    if (!c.pixels)
        x1 = x0, y1 = y0;
    c.x0 = (int)x0;
    c.y0 = (int)y0;
    c.x1 = (int)x1;
    c.y1 = (int)y1;
    return c;
}

Ink ink_of(const Canvas &c, uint32_t pixel)
{
    (void)c;
    Ink k;
    k.value = pixel;
    // A 3-byte pixel is the value's three low bytes in little-endian order,
    // which puts each channel at its shift for SDL's 24-bit formats.
    k.b3[0] = (uint8_t)pixel;
    k.b3[1] = (uint8_t)(pixel >> 8);
    k.b3[2] = (uint8_t)(pixel >> 16);
    return k;
}

void put_pixel(const Canvas &c, const Ink &k, int64_t x, int64_t y,
               DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, p.pixel(x, y));
}

void span_tracked(const Canvas &c, const Ink &k, int64_t xa, int64_t y,
                  int64_t xb, DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, p.span(xa, xb, y));
}

void thin_segment(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                  int64_t x2, int64_t y2, DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, thin_t(p, x1, y1, x2, y2));
}

void thick_segment(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                   int64_t x2, int64_t y2, int64_t width, DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, thick_t(p, x1, y1, x2, y2, width));
}

void smooth_segment(const Canvas &c, uint32_t pixel, bool blend, float fx,
                    float fy, float tx, float ty, DrawnBox &box)
{
    Ink k = ink_of(c, pixel);
    Shader s(c.fmt, pixel);
    if (c.bpp == 4 && s.fast) {
        Painter<4> p(c, k);
        smooth_t(p, FastShade4(s, blend), fx, fy, tx, ty);
        box.merge(p.box);
        return;
    }
    GenericShade g{s, blend};
    LM_WITH_PAINTER(c, k, box, smooth_t(p, g, fx, fy, tx, ty));
}

void circle(const Canvas &c, const Ink &k, int64_t x0, int64_t y0, int64_t r,
            int64_t w, DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, {
        if (r > kExactRadius) {
            double rr = (double)r;
            double ri = (w == 0 || w == r) ? 0.0 : rr - (double)w;
            conic_rows(p, (double)x0, (double)y0, rr, rr, ri, ri, 0, 0, 0);
        }
        else if (w == 0 || w == r) {
            disc_t(p, x0, y0, r);
        }
        else if (w == 1) {
            ring_thin_t(p, x0, y0, r);
        }
        else {
            ring_thick_t(p, x0, y0, r, w);
        }
    });
}

void quarter_rings(const Canvas &c, const Ink &k, int64_t x0, int64_t y0,
                   int64_t r, int64_t t, int tr, int tl, int bl, int br,
                   DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, quarter_t(p, x0, y0, r, t, tr, tl, bl, br));
}

void ellipse(const Canvas &c, const Ink &k, int64_t x, int64_t y, int64_t w,
             int64_t h, int64_t wd, DrawnBox &box)
{
    if (w <= 0 || h <= 0)
        return;
    const bool ring = wd != 0 && wd < std::min(h / 2 + h % 2, w / 2 + w % 2);
    LM_WITH_PAINTER(c, k, box, {
        if (w / 2 > kExactRadius || h / 2 > kExactRadius) {
            double rx = (double)w / 2, ry = (double)h / 2;
            // The stepping ring (thickness wd - 1) is wd pixels wide.
            double irx = ring ? rx - (double)wd : 0.0;
            double iry = ring ? ry - (double)wd : 0.0;
            conic_rows(p, (double)x + rx, (double)y + ry, rx, ry, irx, iry, 0,
                       0, 0);
        }
        else if (ring) {
            oval_ring_t(p, x, y, w, h, wd - 1);
        }
        else {
            oval_fill_t(p, x, y, w, h);
        }
    });
}

void arc(const Canvas &c, const Ink &k, int64_t x, int64_t y, int64_t w,
         int64_t h, double a0, double a1, int64_t wd, DrawnBox &box)
{
    if (!std::isfinite(a0) || !std::isfinite(a1))
        return;
    if (a1 < a0)
        a1 += kTwoPi;
    // Two turns already draw every chord there is to draw; longer sweeps
    // only repeat them.  Far-off start angles are brought near zero so
    // that stepping by a small angle still changes the value.
    double sweep = a1 - a0;
    if (sweep > 2 * kTwoPi) {
        sweep = 2 * kTwoPi;
        a1 = a0 + sweep;
    }
    if (std::fabs(a0) > 1e6) {
        a0 = std::fmod(a0, kTwoPi);
        a1 = a0 + sweep;
    }
    wd = std::min(wd, std::min(w, h) / 2);
    if (wd <= 0)
        return;
    LM_WITH_PAINTER(c, k, box, {
        if (wd == 1) {
            arc_pass_t(p, x + w / 2, y + h / 2, w / 2, h / 2, a0, a1);
        }
        else if (wd <= kExactArcPasses) {
            for (int64_t i = 0; i < wd; ++i) {
                arc_pass_t(p, x + w / 2 - 1, y + h / 2 - 1, w / 2 - i - 1,
                           h / 2 - i - 1, a0, a1);
                arc_pass_t(p, x + w / 2, y + h / 2, w / 2 - i, h / 2 - i, a0,
                           a1);
            }
        }
        else {
            Sector s;
            s.ux0 = std::cos(a0);
            s.uy0 = std::sin(a0);
            s.ux1 = std::cos(a1);
            s.uy1 = std::sin(a1);
            s.sweep = sweep;
            double rx = (double)(w / 2), ry = (double)(h / 2);
            conic_rows(p, (double)(x + w / 2) - 0.5, (double)(y + h / 2) - 0.5,
                       rx + 0.5, ry + 0.5, rx - (double)wd + 0.5,
                       ry - (double)wd + 0.5, 0, 0, 0, &s);
        }
    });
}

size_t polygon_scratch_bytes(size_t n)
{
    return n * (sizeof(Edge) + sizeof(uint32_t) + sizeof(int64_t));
}

void scanline_polygon(const Canvas &c, const Ink &k, const int64_t *xs,
                      const int64_t *ys, size_t n, void *scratch,
                      DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box, polygon_t(p, xs, ys, n, scratch));
}

void frame_rect(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                int64_t x2, int64_t y2, int64_t wd)
{
    DrawnBox unused;
    LM_WITH_PAINTER(c, k, unused, frame_t(p, x1, y1, x2, y2, wd));
}

void fill_rect(const Canvas &c, const Ink &k, int64_t x, int64_t y, int64_t w,
               int64_t h)
{
    DrawnBox unused;
    LM_WITH_PAINTER(c, k, unused, {
        for (int64_t row = std::max<int64_t>(y, p.cy0),
                     end = std::min<int64_t>(y + h, p.cy1);
             row < end; ++row)
            p.run(x, x + w - 1, row);
    });
}

void curved_box(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                int64_t x2, int64_t y2, int64_t radius, int64_t wd,
                int64_t tl, int64_t tr, int64_t bl, int64_t br, void *scratch,
                DrawnBox &box)
{
    LM_WITH_PAINTER(c, k, box,
                    curved_t(p, x1, y1, x2, y2, radius, wd, tl, tr, bl, br,
                             scratch));
}

}  // namespace lmdraw

extern "C" int inside_clip(SDL_Surface *surf, int x, int y)
{
    const SDL_Rect &r = surf->clip_rect;
    return x >= r.x && (int64_t)x < (int64_t)r.x + r.w && y >= r.y &&
           (int64_t)y < (int64_t)r.y + r.h;
}
