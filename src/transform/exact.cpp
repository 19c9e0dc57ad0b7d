// Whole-pixel transforms (see exact.h).  Each loop is one template over
// the pixel size; 3-byte pixels go through Pix<3> and move byte-wise.

#include "exact.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace lmxf {

namespace {

template <int N> void double_rows(const Image &src, const Image &dst)
{
    for (int y = 0; y < src.h; ++y) {
        const uint8_t *s = src.row(y);
        uint8_t *d0 = dst.row(2 * y);
        for (int x = 0; x < src.w; ++x) {
            Pix<N> p = get<N>(s + x * N);
            put<N>(d0 + 2 * x * N, p);
            put<N>(d0 + (2 * x + 1) * N, p);
        }
        memcpy(dst.row(2 * y + 1), d0, (size_t)dst.w * N);
    }
}

template <int N>
static inline void pick_row(const uint8_t *__restrict s, uint8_t *__restrict d,
                            const uint32_t *__restrict cols, int w)
{
    for (int x = 0; x < w; ++x)
        put<N>(d + x * N, get<N>(s + (size_t)cols[x] * N));
}

// Halving, the common whole-number shrink: a constant stride the compiler
// can turn into vector shuffles.
template <int N, int K>
static inline void stride_row(const uint8_t *__restrict s, uint8_t *__restrict d,
                              int w)
{
    for (int x = 0; x < w; ++x)
        put<N>(d + x * N, get<N>(s + (size_t)x * K * N));
}

template <int N>
void nearest_rows(const Image &src, const Image &dst, const uint32_t *cols)
{
    const int stride = src.w == 2 * (int64_t)dst.w ? 2 : 0;
    const uint8_t *last_src = nullptr;
    const uint8_t *last_dst = nullptr;
    const int64_t sh = src.h, dh = dst.h;
    for (int y = 0; y < dst.h; ++y) {
        const uint8_t *s = src.row((int)((int64_t)y * sh / dh));
        uint8_t *d = dst.row(y);
        if (s == last_src) {
            // Growing: the row is the one just made.
            memcpy(d, last_dst, (size_t)dst.w * N);
            continue;
        }
        if (stride == 2)
            stride_row<N, 2>(s, d, dst.w);
        else
            pick_row<N>(s, d, cols, dst.w);
        last_src = s;
        last_dst = d;
    }
}

template <int N> void reverse_row(const uint8_t *s, uint8_t *d, int w)
{
    const uint8_t *p = s + (size_t)(w - 1) * N;
    for (int x = 0; x < w; ++x, p -= N)
        put<N>(d + x * N, get<N>(p));
}

// dst(x, y) = *(base + x * xstep + y * ystep) for quarter turns, where
// ystep is one pixel: a band of B destination rows reads B neighbouring
// pixels (one cache line) of a source row per destination column, and
// writes the B rows front to back.
template <int N>
void walk_bands(const Image &dst, const uint8_t *base, ptrdiff_t xstep,
                ptrdiff_t ystep)
{
    constexpr int B = 16;
    uint8_t *rows[B];
    for (int ty = 0; ty < dst.h; ty += B) {
        const int nb = std::min(B, dst.h - ty);
        for (int k = 0; k < nb; ++k)
            rows[k] = dst.row(ty + k);
        const uint8_t *s = base + ty * ystep;
        if (nb == B) {
            for (int x = 0; x < dst.w; ++x, s += xstep)
                for (int k = 0; k < B; ++k)
                    put<N>(rows[k] + x * N, get<N>(s + k * ystep));
            continue;
        }
        for (int x = 0; x < dst.w; ++x, s += xstep)
            for (int k = 0; k < nb; ++k)
                put<N>(rows[k] + x * N, get<N>(s + k * ystep));
    }
}

// Quarter turns of 4-byte pixels by 4x4 blocks: four source rows loaded
// as vectors, transposed in registers (generic vectors, so any target
// with a vector unit gets its own shuffles), stored as four destination
// rows; blocks are walked in 32x32 tiles.
typedef uint32_t V4 __attribute__((vector_size(16)));

static inline V4 ld4(const uint8_t *p)
{
    V4 v;
    memcpy(&v, p, 16);
    return v;
}
static inline void st4(uint8_t *p, V4 v) { memcpy(p, &v, 16); }

// o[k] = (r0[k], r1[k], r2[k], r3[k]).
static inline void transpose4(const V4 r[4], V4 o[4])
{
    const V4 t0 = __builtin_shuffle(r[0], r[1], V4{0, 4, 1, 5});
    const V4 t1 = __builtin_shuffle(r[0], r[1], V4{2, 6, 3, 7});
    const V4 t2 = __builtin_shuffle(r[2], r[3], V4{0, 4, 1, 5});
    const V4 t3 = __builtin_shuffle(r[2], r[3], V4{2, 6, 3, 7});
    o[0] = __builtin_shuffle(t0, t2, V4{0, 1, 4, 5});
    o[1] = __builtin_shuffle(t0, t2, V4{2, 3, 6, 7});
    o[2] = __builtin_shuffle(t1, t3, V4{0, 1, 4, 5});
    o[3] = __builtin_shuffle(t1, t3, V4{2, 3, 6, 7});
}

template <int Turn>
void turn_blocks4(const Image &src, const Image &dst, const uint8_t *base,
                  ptrdiff_t xstep, ptrdiff_t ystep)
{
    // Bands of 16 destination rows: per 4 destination columns, four source
    // rows give 16 neighbouring pixels each (one cache line), and the 16
    // destination rows are written front to back.
    constexpr int B = 16;
    const int w4 = dst.w & ~3, h4 = dst.h & ~3;
    const ptrdiff_t sp = src.pitch, dp = dst.pitch;
    for (int ty = 0; ty < h4; ty += B) {
        const int yend = std::min(ty + B, h4);
        for (int x = 0; x < w4; x += 4) {
            for (int y = ty; y < yend; y += 4) {
                // Turn 1: source rows x.., columns W-4-y..; turn 3: source
                // rows H-1-x down, columns y...
                const uint8_t *s = Turn == 1
                                       ? src.pixels + x * sp + (src.w - 4 - y) * 4
                                       : src.pixels + (src.h - 1 - x) * sp + y * 4;
                const ptrdiff_t step = Turn == 1 ? sp : -sp;
                V4 r[4], o[4];
                for (int i = 0; i < 4; ++i)
                    r[i] = ld4(s + i * step);
                transpose4(r, o);
                uint8_t *d = dst.pixels + y * dp + x * 4;
                for (int j = 0; j < 4; ++j)
                    st4(d + j * dp, o[Turn == 1 ? 3 - j : j]);
            }
        }
    }
    // The columns and rows past the last whole block.
    for (int y = 0; y < dst.h; ++y) {
        for (int x = y < h4 ? w4 : 0; x < dst.w; ++x)
            put<4>(dst.at(x, y), get<4>(base + x * xstep + y * ystep));
    }
}

// Columns [lo, hi) of a walk.
struct Span {
    int64_t lo, hi;
};

// One axis of a rotation walk: source position start + step * x (16.16)
// must lie in [0, max].
struct Axis {
    int64_t step, max;
    double inv;  // 1 / step, 0 for a zero step
};

// The part of `s` where the position is inside; worked out with a
// reciprocal and then settled exactly by testing the end columns.
static inline Span inside(Span s, int64_t start, const Axis &a)
{
    auto ok = [&](int64_t x) {
        const int64_t v = start + a.step * x;
        return v >= 0 && v <= a.max;
    };
    if (!a.step)
        return ok(0) ? s : Span{s.lo, s.lo};
    const double t0 = (double)(-start) * a.inv;
    const double t1 = (double)(a.max - start) * a.inv;
    const double lo_d = std::min(t0, t1), hi_d = std::max(t0, t1);
    const double lim_lo = (double)s.lo - 1, lim_hi = (double)s.hi + 1;
    int64_t lo = (int64_t)std::ceil(std::min(std::max(lo_d, lim_lo), lim_hi));
    int64_t hi = (int64_t)std::floor(std::min(std::max(hi_d, lim_lo), lim_hi)) + 1;
    lo = std::max(lo, s.lo);
    hi = std::min(hi, s.hi);
    if (lo >= hi)
        return {s.lo, s.lo};
    while (lo > s.lo && ok(lo - 1))
        --lo;
    while (lo < hi && !ok(lo))
        ++lo;
    while (hi < s.hi && ok(hi))
        ++hi;
    while (hi > lo && !ok(hi - 1))
        --hi;
    return lo < hi ? Span{lo, hi} : Span{s.lo, s.lo};
}

// Destination columns [x, hi) of a row from source positions (dx, dy)
// stepping by (sx, sy), all inside the source.
template <int N, typename T>
static inline void copy_walk(const Image &src, uint8_t *d, int64_t x,
                             int64_t hi, int64_t dx, int64_t dy, int64_t sx,
                             int64_t sy)
{
    // Locals: the byte stores could alias the Image fields.
    const ptrdiff_t pitch = src.pitch;
    const uint8_t *const pixels = src.pixels;
    T px = (T)dx, py = (T)dy;
    const T stx = (T)sx, sty = (T)sy;
    for (; x < hi; ++x, px += stx, py += sty)
        put<N>(d + x * N,
               get<N>(pixels + (ptrdiff_t)(py >> 16) * pitch +
                      (ptrdiff_t)(px >> 16) * N));
}

template <int N>
void rotate_rows(const Image &src, const Image &dst, double angle,
                 uint32_t bg)
{
    const double rad = angle * 0.01745329251994329;
    const double s = std::sin(rad), c = std::cos(rad);
    // 16.16 fixed point as the per-pixel stepping, set up in 64 bits so
    // that sources of 32768 pixels or more do not overflow.
    const int64_t W = src.w, H = src.h, NW = dst.w, NH = dst.h;
    const int64_t isin = (int64_t)(s * 65536.0);
    const int64_t icos = (int64_t)(c * 65536.0);
    const double L = (double)((NW - 1) * 32768);
    const int64_t ax = NW * 32768 - (int64_t)(c * L);
    const int64_t ay = NH * 32768 - (int64_t)(s * L);
    const int64_t xd = (W - NW) * 32768;
    const int64_t yd = (H - NH) * 32768;
    const int64_t cy = NH / 2;
    const int64_t xmax = W * 65536 - 1, ymax = H * 65536 - 1;
    uint8_t bgb[4];
    store<4>(bgb, bg);
    const Pix<N> bgp = get<N>(bgb);
    // Walked in tiles of destination rows and columns (the source pixels a
    // tile reads lie close together, so they stay in cache); the columns
    // of each row that land inside the source are worked out first, so
    // the copy itself needs no test.
    // (A narrow destination is one tile wide: its rows are short anyway.)
    constexpr int64_t TH = 32;
    const int64_t TW = NW <= 256 ? NW : 64;
    // Inside the source every position (and one step past it) fits 32
    // bits below 32767 pixels, so the walk uses the word size: 32 bits on
    // 32-bit targets, where 64-bit steps cost twice as much.
    const bool narrow = xmax + 65536 < INT32_MAX && ymax + 65536 < INT32_MAX;
    const Axis ax_x = {icos, xmax, icos ? 1.0 / (double)icos : 0.0};
    const Axis ax_y = {isin, ymax, isin ? 1.0 / (double)isin : 0.0};
    Span spans[TH];
    for (int64_t ty = 0; ty < NH; ty += TH) {
        const int64_t yend = std::min(NH, ty + TH);
        for (int64_t y = ty; y < yend; ++y) {
            const int64_t dx = ax + xd + isin * (cy - y);
            const int64_t dy = ay + yd - icos * (cy - y);
            spans[y - ty] = inside(inside({0, NW}, dx, ax_x), dy, ax_y);
        }
        for (int64_t tx = 0; tx < NW; tx += TW) {
            const int64_t xend = std::min(NW, tx + TW);
            for (int64_t y = ty; y < yend; ++y) {
                const Span &sp = spans[y - ty];
                const int64_t lo = std::min(std::max(sp.lo, tx), xend);
                const int64_t hi = std::max(std::min(sp.hi, xend), lo);
                uint8_t *d = dst.row((int)y);
                int64_t x = tx;
                for (; x < lo; ++x)
                    put<N>(d + x * N, bgp);
                int64_t dx = ax + xd + isin * (cy - y) + icos * x;
                int64_t dy = ay + yd - icos * (cy - y) + isin * x;
                if (narrow)
                    copy_walk<N, ptrdiff_t>(src, d, x, hi, dx, dy, icos, isin);
                else
                    copy_walk<N, int64_t>(src, d, x, hi, dx, dy, icos, isin);
                x = hi;
                for (; x < xend; ++x)
                    put<N>(d + x * N, bgp);
            }
        }
    }
}

template <int N> void chop_rows(const Image &src, const Image &dst, int x0,
                                int x1, int y0, int y1)
{
    const size_t left = (size_t)x0 * N;
    const size_t right = (size_t)(src.w - x1) * N;
    int out = 0;
    for (int y = 0; y < src.h; ++y) {
        if (y >= y0 && y < y1)
            continue;
        const uint8_t *s = src.row(y);
        uint8_t *d = dst.row(out++);
        memcpy(d, s, left);
        memcpy(d + left, s + (size_t)x1 * N, right);
    }
}

template <int N> void scale2x_rows(const Image &src, const Image &dst)
{
    const int w = src.w, h = src.h;
    for (int y = 0; y < h; ++y) {
        const uint8_t *above = src.row(std::max(0, y - 1));
        const uint8_t *mid = src.row(y);
        const uint8_t *below = src.row(std::min(h - 1, y + 1));
        uint8_t *d0 = dst.row(2 * y);
        uint8_t *d1 = dst.row(2 * y + 1);
        for (int x = 0; x < w; ++x) {
            const int xl = std::max(0, x - 1), xr = std::min(w - 1, x + 1);
            const Pix<N> B = get<N>(above + x * N), H = get<N>(below + x * N);
            const Pix<N> D = get<N>(mid + xl * N), F = get<N>(mid + xr * N);
            const Pix<N> E = get<N>(mid + x * N);
            uint8_t *tl = d0 + 2 * x * N, *bl = d1 + 2 * x * N;
            if (B != H && D != F) {
                put<N>(tl, D == B ? D : E);
                put<N>(tl + N, B == F ? F : E);
                put<N>(bl, D == H ? D : E);
                put<N>(bl + N, H == F ? F : E);
            }
            else {
                put<N>(tl, E);
                put<N>(tl + N, E);
                put<N>(bl, E);
                put<N>(bl + N, E);
            }
        }
    }
}

}  // namespace

void scale_nearest(const Image &src, const Image &dst, uint32_t *cols)
{
    by_size(src.bpp, [&](auto n) {
        constexpr int N = decltype(n)::value;
        if (dst.w == 2 * (int64_t)src.w && dst.h == 2 * (int64_t)src.h) {
            double_rows<N>(src, dst);
            return;
        }
        const int64_t sw = src.w, dw = dst.w;
        for (int64_t k = 0; k < dw; ++k)
            cols[k] = (uint32_t)(k * sw / dw);
        nearest_rows<N>(src, dst, cols);
    });
}

void flip(const Image &src, const Image &dst, bool flip_x, bool flip_y)
{
    by_size(src.bpp, [&](auto n) {
        constexpr int N = decltype(n)::value;
        for (int y = 0; y < src.h; ++y) {
            const uint8_t *s = src.row(flip_y ? src.h - 1 - y : y);
            if (flip_x)
                reverse_row<N>(s, dst.row(y), src.w);
            else
                memcpy(dst.row(y), s, (size_t)src.w * N);
        }
    });
}

void rotate_quarter(const Image &src, const Image &dst, int turns)
{
    if (turns == 0 || turns == 2) {
        flip(src, dst, turns == 2, turns == 2);
        return;
    }
    by_size(src.bpp, [&](auto n) {
        constexpr int N = decltype(n)::value;
        // turn 1: dst(x, y) = src(W-1-y, x); turn 3: src(y, H-1-x).
        const uint8_t *base =
            turns == 1 ? src.at(src.w - 1, 0) : src.at(0, src.h - 1);
        const ptrdiff_t xstep = turns == 1 ? src.pitch : -(ptrdiff_t)src.pitch;
        const ptrdiff_t ystep = turns == 1 ? -N : N;
        if (N == 4 && turns == 1)
            turn_blocks4<1>(src, dst, base, xstep, ystep);
        else if (N == 4)
            turn_blocks4<3>(src, dst, base, xstep, ystep);
        else
            walk_bands<N>(dst, base, xstep, ystep);
    });
}

void rotated_size(double angle, int w, int h, double *nw, double *nh)
{
    const double rad = angle * 0.01745329251994329;
    const double s = std::sin(rad), c = std::cos(rad);
    const double W = w, H = h;
    *nw = std::max(std::max(std::fabs(c * W + s * H), std::fabs(c * W - s * H)),
                   std::max(std::fabs(s * H - c * W), std::fabs(-c * W - s * H)));
    *nh = std::max(std::max(std::fabs(c * H + s * W), std::fabs(s * W - c * H)),
                   std::max(std::fabs(c * H - s * W), std::fabs(-s * W - c * H)));
}

void rotate_general(const Image &src, const Image &dst, double angle,
                    uint32_t background)
{
    by_size(src.bpp, [&](auto n) {
        rotate_rows<decltype(n)::value>(src, dst, angle, background);
    });
}

void chop(const Image &src, const Image &dst, int x0, int x1, int y0, int y1)
{
    by_size(src.bpp, [&](auto n) {
        chop_rows<decltype(n)::value>(src, dst, x0, x1, y0, y1);
    });
}

void scale2x(const Image &src, const Image &dst)
{
    by_size(src.bpp,
            [&](auto n) { scale2x_rows<decltype(n)::value>(src, dst); });
}

}  // namespace lmxf
