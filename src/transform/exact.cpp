// Whole-pixel transforms (see exact.h).  Each loop is one template over
// the pixel size; 3-byte pixels go through Pix<3> and move byte-wise.

#include "exact.h"

#include <algorithm>
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
void nearest_rows(const Image &src, const Image &dst, const uint32_t *cols)
{
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
        for (int x = 0; x < dst.w; ++x)
            put<N>(d + x * N, get<N>(s + (size_t)cols[x] * N));
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

// dst(x, y) = *(base + x * xstep + y * ystep), walked in tiles so that
// both the rows written and the columns read stay in cache.
template <int N>
void walk_tiles(const Image &dst, const uint8_t *base, ptrdiff_t xstep,
                ptrdiff_t ystep)
{
    constexpr int T = 32;
    for (int ty = 0; ty < dst.h; ty += T) {
        const int yend = std::min(dst.h, ty + T);
        for (int tx = 0; tx < dst.w; tx += T) {
            const int xend = std::min(dst.w, tx + T);
            for (int y = ty; y < yend; ++y) {
                uint8_t *d = dst.row(y) + (size_t)tx * N;
                const uint8_t *s = base + tx * xstep + y * ystep;
                for (int x = tx; x < xend; ++x, d += N, s += xstep)
                    put<N>(d, get<N>(s));
            }
        }
    }
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
    for (int64_t y = 0; y < NH; ++y) {
        int64_t dx = ax + xd + isin * (cy - y);
        int64_t dy = ay + yd - icos * (cy - y);
        uint8_t *d = dst.row((int)y);
        for (int64_t x = 0; x < NW; ++x, d += N, dx += icos, dy += isin) {
            if (dx < 0 || dy < 0 || dx > xmax || dy > ymax)
                put<N>(d, bgp);
            else
                put<N>(d, get<N>(src.at((int)(dx >> 16), (int)(dy >> 16))));
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
        if (turns == 1)  // dst(x, y) = src(W-1-y, x)
            walk_tiles<N>(dst, src.at(src.w - 1, 0), src.pitch, -N);
        else  // dst(x, y) = src(y, H-1-x)
            walk_tiles<N>(dst, src.at(0, src.h - 1), -(ptrdiff_t)src.pitch,
                          N);
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
