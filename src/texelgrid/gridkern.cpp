// Pixel kernels of lumora.texelgrid.
#include "gridkern.h"

#include "../surface/pixels.h"

#include <cmath>
#include <cstring>

namespace lmgrid {

Uint32 read_px(const Uint8 *p, int bpp)
{
    return bpp == 1 ? lmpx::rd<1>(p) : bpp == 2 ? lmpx::rd<2>(p)
         : bpp == 3 ? lmpx::rd<3>(p) : lmpx::rd<4>(p);
}

void write_px(Uint8 *p, int bpp, Uint32 v)
{
    if (bpp == 1)
        lmpx::wr<1>(p, v);
    else if (bpp == 2)
        lmpx::wr<2>(p, v);
    else if (bpp == 3)
        lmpx::wr<3>(p, v);
    else
        lmpx::wr<4>(p, v);
}

namespace {

// Run f(pixel address) over every element of g, row by row.
template <typename F>
inline void each(const Grid &g, F f)
{
    for (ptrdiff_t y = 0; y < g.ny; ++y) {
        Uint8 *row = g.p + y * g.sy;
        for (ptrdiff_t x = 0; x < g.nx; ++x)
            f(row + x * g.sx);
    }
}

template <int N>
void copy_n(const Grid &d, const Grid &s)
{
    for (ptrdiff_t y = 0; y < d.ny; ++y) {
        Uint8 *dr = d.p + y * d.sy;
        const Uint8 *sr = s.p + y * s.sy;
        if (d.sx == N && s.sx == N) {
            memmove(dr, sr, (size_t)d.nx * N);
            continue;
        }
        for (ptrdiff_t x = 0; x < d.nx; ++x)
            memcpy(dr + x * d.sx, sr + x * s.sx, N);
    }
}

struct Rgb {
    float r, g, b;
};

inline Rgb rgb_of(Uint32 v, const SDL_PixelFormat *f)
{
    Uint8 r, g, b;
    SDL_GetRGB(v, f, &r, &g, &b);
    return {(float)r, (float)g, (float)b};
}

inline bool near(const Rgb &a, const Rgb &b, const Match &m)
{
    float dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    float d = std::sqrt(m.w[0] * dr * dr + m.w[1] * dg * dg + m.w[2] * db * db) / 255.0f;
    return d <= m.distance;
}

// Does raw value v (format fa) match the reference (raw `ref`, colour c)?
inline bool matches(Uint32 v, Uint32 ref, const Rgb &c, const Match &m)
{
    if (m.distance == 0.0f)
        return v == ref;
    return near(rgb_of(v, m.fa), c, m);
}

inline Uint32 px_mask(int bpp)
{
    return bpp == 4 ? 0xFFFFFFFFu : ((1u << (8 * bpp)) - 1);
}

}  // namespace

void fill(const Grid &g, int bpp, Uint32 v)
{
    each(g, [&](Uint8 *p) { write_px(p, bpp, v); });
}

void copy(const Grid &dst, const Grid &src, int bpp, const int *remap)
{
    if (remap) {
        for (ptrdiff_t y = 0; y < dst.ny; ++y)
            for (ptrdiff_t x = 0; x < dst.nx; ++x) {
                Uint8 *d = dst.p + y * dst.sy + x * dst.sx;
                const Uint8 *s = src.p + y * src.sy + x * src.sx;
                Uint8 b[3] = {s[remap[0]], s[remap[1]], s[remap[2]]};
                memcpy(d, b, 3);
            }
        return;
    }
    switch (bpp) {
    case 1: copy_n<1>(dst, src); break;
    case 2: copy_n<2>(dst, src); break;
    case 3: copy_n<3>(dst, src); break;
    default: copy_n<4>(dst, src); break;
    }
}

void extent(const Grid &g, int bpp, const Uint8 **lo, const Uint8 **hi)
{
    ptrdiff_t a = 0, b = 0;
    ptrdiff_t ex = (g.nx - 1) * g.sx, ey = (g.ny - 1) * g.sy;
    (ex < 0 ? a : b) += ex;
    (ey < 0 ? a : b) += ey;
    *lo = g.p + a;
    *hi = g.p + b + bpp;
}

bool contains(const Grid &g, int bpp, Uint32 v)
{
    v &= px_mask(bpp);
    for (ptrdiff_t y = 0; y < g.ny; ++y)
        for (ptrdiff_t x = 0; x < g.nx; ++x)
            if (read_px(g.p + y * g.sy + x * g.sx, bpp) == v)
                return true;
    return false;
}

void mark(const Grid &g, int bpp, const Match &m, Uint32 ref, Uint32 yes, Uint32 no)
{
    ref &= px_mask(bpp);
    Rgb c = rgb_of(ref, m.fb);
    each(g, [&](Uint8 *p) {
        write_px(p, bpp, matches(read_px(p, bpp), ref, c, m) ? yes : no);
    });
}

void recolor(const Grid &g, int bpp, const Match &m, Uint32 ref, Uint32 to)
{
    ref &= px_mask(bpp);
    Rgb c = rgb_of(ref, m.fb);
    each(g, [&](Uint8 *p) {
        if (matches(read_px(p, bpp), ref, c, m))
            write_px(p, bpp, to);
    });
}

void mark_pairs(const Grid &g, const Grid &other, int bpp, const Match &m,
                Uint32 yes, Uint32 no)
{
    for (ptrdiff_t y = 0; y < g.ny; ++y)
        for (ptrdiff_t x = 0; x < g.nx; ++x) {
            Uint8 *p = g.p + y * g.sy + x * g.sx;
            Uint32 a = read_px(p, bpp);
            Uint32 b = read_px(other.p + y * other.sy + x * other.sx, bpp);
            bool same = m.distance == 0.0f
                            ? a == b
                            : near(rgb_of(a, m.fa), rgb_of(b, m.fb), m);
            write_px(p, bpp, same ? yes : no);
        }
}

}  // namespace lmgrid
