// Rotozoom core (see rotozoom.h).  Pixels are 4 bytes, each filtered as an
// independent channel; positions are 16.16 fixed point held in 64 bits, so
// sizes of 32768 and more do not overflow the setup.

#include "rotozoom.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double kMinZoom = 0.001;

// Saturating double to int for sizes (NaN gives 0).
int size_int(double v)
{
    if (!(v > -2147483648.0))
        return v != v ? 0 : INT_MIN;
    if (v >= 2147483647.0)
        return INT_MAX;
    return (int)v;
}

struct Pixels {
    const uint8_t *base;
    int pitch, w, h;
    const uint8_t *at(int64_t x, int64_t y) const
    {
        return base + (ptrdiff_t)y * pitch + (ptrdiff_t)x * 4;
    }
};

// a + ((weight * (b - a)) >> 16) per byte, the shift arithmetic.
static inline int lerp(int a, int b, int weight)
{
    return a + ((weight * (b - a)) >> 16);
}

// Bilinear value of one byte: along x on both rows, then along y between
// the two (low bytes).
static inline uint8_t bilinear(int c00, int c01, int c10, int c11, int ex,
                               int ey)
{
    const int t1 = lerp(c00, c01, ex), t2 = lerp(c10, c11, ex);
    return (uint8_t)(t1 + ((ey * ((t2 & 0xFF) - (t1 & 0xFF))) >> 16));
}

static inline void bilinear4(uint8_t *d, const uint8_t *p00, const uint8_t *p01,
                             const uint8_t *p10, const uint8_t *p11, int ex,
                             int ey)
{
    for (int c = 0; c < 4; ++c)
        d[c] = bilinear(p00[c], p01[c], p10[c], p11[c], ex, ey);
}

// One smoothed pixel of a rotation at integer position (dx, dy) with
// fractions (ex, ey); false when the position lies outside every case.
bool rotated_smooth(const Pixels &s, int64_t dx, int64_t dy, int ex, int ey,
                    uint8_t *d)
{
    const int64_t W = s.w, H = s.h;
    const bool xin = dx >= 0 && dx < W - 1, yin = dy >= 0 && dy < H - 1;
    if (xin && yin) {
        bilinear4(d, s.at(dx, dy), s.at(dx + 1, dy), s.at(dx, dy + 1),
                  s.at(dx + 1, dy + 1), ex, ey);
        return true;
    }
    const uint8_t *a, *b;
    if (dx == W - 1 && dy == H - 1) {
        memcpy(d, s.at(dx, dy), 4);
    }
    else if (dx == W - 1 && yin) {
        a = s.at(W - 1, dy), b = s.at(W - 1, dy + 1);
        for (int c = 0; c < 4; ++c)
            d[c] = (uint8_t)lerp(a[c], b[c], ey);
    }
    else if (dy == H - 1 && xin) {
        a = s.at(dx, H - 1), b = s.at(dx + 1, H - 1);
        for (int c = 0; c < 4; ++c) {
            const int t = lerp(a[c], b[c], ex);
            d[c] = (uint8_t)(t + ((ey * (b[c] - (t & 0xFF))) >> 16));
        }
    }
    else if ((dy == -1 && xin) || (dx == -1 && yin)) {
        a = dy == -1 ? s.at(dx, 0) : s.at(0, dy);
        b = dy == -1 ? s.at(dx + 1, 0) : s.at(0, dy + 1);
        for (int c = 0; c < 4; ++c) {
            const int t = lerp(a[c], b[c], ex);
            d[c] = (uint8_t)(a[c] + ((ey * ((t & 0xFF) - a[c])) >> 16));
        }
    }
    else if (dx == -1 && dy == -1) {
        memcpy(d, s.at(0, 0), 4);
    }
    else if (dx == -1 && dy == H - 1) {
        memcpy(d, s.at(0, H - 1), 4);
    }
    else if (dy == -1 && dx == W - 1) {
        memcpy(d, s.at(W - 1, 0), 4);
    }
    else {
        return false;
    }
    return true;
}

SDL_Surface *new_rgba_like(SDL_Surface *src, int w, int h)
{
    const SDL_PixelFormat *f = src->format;
    return SDL_CreateRGBSurface(0, w, h, 32, f->Rmask, f->Gmask, f->Bmask,
                                f->Amask);
}

}  // namespace

LM_ROTOZOOM_EXPORT void rotozoomSurfaceSizeTrig(int width, int height,
                                                double angle, double zoom,
                                                int *dstwidth, int *dstheight,
                                                double *canglezoom,
                                                double *sanglezoom)
{
    const double rad = angle * 0.017453292519943295;
    const double s = std::sin(rad) * zoom, c = std::cos(rad) * zoom;
    *sanglezoom = s;
    *canglezoom = c;
    const double x = width / 2, y = height / 2;
    const double cx = c * x, cy = c * y, sx = s * x, sy = s * y;
    const double hw = std::max(1.0, std::ceil(std::max(
        std::max(std::fabs(cx + sy), std::fabs(cx - sy)),
        std::max(std::fabs(sy - cx), std::fabs(-cx - sy)))));
    const double hh = std::max(1.0, std::ceil(std::max(
        std::max(std::fabs(cy + sx), std::fabs(sx - cy)),
        std::max(std::fabs(cy - sx), std::fabs(-sx - cy)))));
    *dstwidth = size_int(2 * hw);
    *dstheight = size_int(2 * hh);
}

LM_ROTOZOOM_EXPORT void rotozoomSurfaceSize(int width, int height,
                                            double angle, double zoom,
                                            int *dstwidth, int *dstheight)
{
    double c, s;
    rotozoomSurfaceSizeTrig(width, height, angle, zoom, dstwidth, dstheight,
                            &c, &s);
}

LM_ROTOZOOM_EXPORT void zoomSurfaceSize(int width, int height, double zoomx,
                                        double zoomy, int *dstwidth,
                                        int *dstheight)
{
    zoomx = std::max(zoomx, kMinZoom);
    zoomy = std::max(zoomy, kMinZoom);
    *dstwidth = std::max(1, size_int(width * zoomx));
    *dstheight = std::max(1, size_int(height * zoomy));
}

LM_ROTOZOOM_EXPORT int zoomSurfaceRGBA(SDL_Surface *src, SDL_Surface *dst,
                                       int smooth)
{
    const Pixels s = {static_cast<const uint8_t *>(src->pixels), src->pitch,
                      src->w, src->h};
    const int dw = dst->w, dh = dst->h;
    const int64_t sx = (int64_t)(((double)(float)(smooth ? s.w - 1 : s.w) *
                                  65536.0) / (double)(float)dw);
    const int64_t sy = (int64_t)(((double)(float)(smooth ? s.h - 1 : s.h) *
                                  65536.0) / (double)(float)dh);
    // Column offsets and fractions, the step tables of the walk.
    size_t bytes;
    if (__builtin_mul_overflow((size_t)dw + 1, (size_t)8, &bytes))
        return -1;
    uint32_t *cols = static_cast<uint32_t *>(malloc(bytes));
    if (!cols)
        return -1;
    uint32_t *fracs = cols + dw + 1;
    for (int64_t x = 0; x < dw; ++x) {
        cols[x] = (uint32_t)((x * sx) >> 16);
        fracs[x] = (uint32_t)((x * sx) & 0xFFFF);
    }
    for (int64_t y = 0; y < dh; ++y) {
        const int64_t iy = (y * sy) >> 16;
        const int ey = (int)((y * sy) & 0xFFFF);
        const int64_t iy1 = std::min<int64_t>(iy + 1, s.h - 1);
        uint8_t *d = static_cast<uint8_t *>(dst->pixels) + y * dst->pitch;
        if (!smooth) {
            for (int x = 0; x < dw; ++x, d += 4)
                memcpy(d, s.at(cols[x], iy), 4);
            continue;
        }
        const uint8_t *r0 = s.at(0, iy), *r1 = s.at(0, iy1);
        for (int x = 0; x < dw; ++x, d += 4) {
            // The right-hand neighbour stays inside a one-pixel-wide source.
            const uint32_t c0 = cols[x] * 4;
            const uint32_t c1 = std::min<uint32_t>(cols[x] + 1, s.w - 1) * 4;
            bilinear4(d, r0 + c0, r0 + c1, r1 + c0, r1 + c1, (int)fracs[x],
                      ey);
        }
    }
    free(cols);
    return 0;
}

namespace {

// The walk of a rotation in positions of type T: the word size where every
// position of the walk fits 32 bits (64-bit steps cost twice as much on
// 32-bit targets), else 64 bits.
template <typename T, bool Smooth>
void transform_rows(const Pixels &s, SDL_Surface *dst, int64_t row0x,
                    int64_t row0y, int cy, int isin, int icos)
{
    for (int64_t y = 0; y < dst->h; ++y) {
        T sdx = (T)(row0x + (int64_t)isin * (cy - y));
        T sdy = (T)(row0y - (int64_t)icos * (cy - y));
        uint8_t *d = static_cast<uint8_t *>(dst->pixels) + y * dst->pitch;
        for (int x = 0; x < dst->w; ++x, d += 4, sdx += icos, sdy += isin) {
            const T dx = sdx >> 16, dy = sdy >> 16;
            if (!Smooth) {
                if (dx >= 0 && dy >= 0 && dx < s.w && dy < s.h)
                    memcpy(d, s.at(dx, dy), 4);
                continue;
            }
            if (sdx < -65536 || sdy < -65536 || dx >= s.w || dy >= s.h)
                continue;
            const int ex = (int)(sdx & 0xFFFF), ey = (int)(sdy & 0xFFFF);
            if (dx >= 0 && dy >= 0 && dx < s.w - 1 && dy < s.h - 1)
                bilinear4(d, s.at(dx, dy), s.at(dx + 1, dy), s.at(dx, dy + 1),
                          s.at(dx + 1, dy + 1), ex, ey);
            else
                rotated_smooth(s, dx, dy, ex, ey, d);
        }
    }
}

// Largest |start + a * i + b * j| over i in [0, n], j in [0, m] (a linear
// walk takes its extremes at the corners).
int64_t walk_extent(int64_t start, int64_t a, int64_t n, int64_t b, int64_t m)
{
    int64_t most = 0;
    for (int64_t i : {(int64_t)0, n}) {
        for (int64_t j : {(int64_t)0, m}) {
            const int64_t v = start + a * i + b * j;
            most = std::max(most, v < 0 ? -v : v);
        }
    }
    return most;
}

}  // namespace

LM_ROTOZOOM_EXPORT void transformSurfaceRGBA(SDL_Surface *src, SDL_Surface *dst,
                                             int cx, int cy, int isin,
                                             int icos, int smooth)
{
    const Pixels s = {static_cast<const uint8_t *>(src->pixels), src->pitch,
                      src->w, src->h};
    const int64_t ax = ((int64_t)cx << 16) - (int64_t)icos * cx;
    const int64_t ay = ((int64_t)cy << 16) - (int64_t)isin * cx;
    const int64_t xd = (int64_t)(src->w - dst->w) * 32768;
    const int64_t yd = (int64_t)(src->h - dst->h) * 32768;
    // Row starts are taken at y = 0 .. h - 1 (cy - y from cy down to
    // cy - h + 1), and each row steps w times.
    const int64_t h = dst->h, w = dst->w;
    const int64_t rx = ax + xd + (int64_t)isin * cy;
    const int64_t ry = ay + yd - (int64_t)icos * cy;
    const bool narrow =
        std::max(walk_extent(rx, -isin, h, icos, w),
                 walk_extent(ry, icos, h, isin, w)) < INT32_MAX - 65536;
    const int64_t r0x = ax + xd, r0y = ay + yd;
    if (narrow && smooth)
        transform_rows<ptrdiff_t, true>(s, dst, r0x, r0y, cy, isin, icos);
    else if (narrow)
        transform_rows<ptrdiff_t, false>(s, dst, r0x, r0y, cy, isin, icos);
    else if (smooth)
        transform_rows<int64_t, true>(s, dst, r0x, r0y, cy, isin, icos);
    else
        transform_rows<int64_t, false>(s, dst, r0x, r0y, cy, isin, icos);
}

namespace lmxf {

void rotozoom_size_exact(int width, int height, double angle, double zoom,
                         double *dstwidth, double *dstheight)
{
    zoom = std::max(zoom, kMinZoom);
    if (std::fabs(angle) > 0.001) {
        const double rad = angle * 0.017453292519943295;
        const double s = std::fabs(std::sin(rad) * zoom);
        const double c = std::fabs(std::cos(rad) * zoom);
        const double x = width / 2, y = height / 2;
        *dstwidth = 2 * std::max(1.0, std::ceil(c * x + s * y));
        *dstheight = 2 * std::max(1.0, std::ceil(c * y + s * x));
    }
    else {
        *dstwidth = std::max(1.0, std::trunc(width * zoom));
        *dstheight = std::max(1.0, std::trunc(height * zoom));
    }
}

SDL_Surface *rotozoom_core(SDL_Surface *src, double angle, double zoom,
                           int smooth, RotozoomStatus *status)
{
    *status = ROTOZOOM_SDL_ERROR;
    if (!src)
        return nullptr;
    SDL_Surface *copy = nullptr;
    if (src->format->BitsPerPixel != 32) {
        copy = SDL_CreateRGBSurface(0, src->w, src->h, 32, 0x000000FF,
                                    0x0000FF00, 0x00FF0000, 0xFF000000);
        if (!copy)
            return nullptr;
        if (SDL_UpperBlit(src, nullptr, copy, nullptr) < 0) {
            SDL_FreeSurface(copy);
            return nullptr;
        }
        src = copy;
    }
    zoom = std::max(zoom, kMinZoom);
    SDL_Surface *dst = nullptr;
    bool rotate = std::fabs(angle) > 0.001;
    int dw, dh;
    double c = 0, s = 0;
    if (rotate)
        rotozoomSurfaceSizeTrig(src->w, src->h, angle, zoom, &dw, &dh, &c, &s);
    else
        zoomSurfaceSize(src->w, src->h, zoom, zoom, &dw, &dh);
    dst = new_rgba_like(src, dw, dh);
    if (dst && SDL_LockSurface(src) == 0) {
        *status = ROTOZOOM_OK;
        if (rotate) {
            const double zoominv = 65536.0 / (zoom * zoom);
            transformSurfaceRGBA(src, dst, dw / 2, dh / 2, (int)(s * zoominv),
                                 (int)(c * zoominv), smooth);
        }
        else if (zoomSurfaceRGBA(src, dst, smooth) < 0) {
            *status = ROTOZOOM_NO_MEMORY;
        }
        SDL_UnlockSurface(src);
    }
    if (*status != ROTOZOOM_OK) {
        SDL_FreeSurface(dst);
        dst = nullptr;
    }
    else {
        SDL_SetSurfaceAlphaMod(dst, 255);
    }
    SDL_FreeSurface(copy);
    return dst;
}

}  // namespace lmxf

LM_ROTOZOOM_EXPORT SDL_Surface *rotozoomSurface(SDL_Surface *src, double angle,
                                                double zoom, int smooth)
{
    lmxf::RotozoomStatus status;
    SDL_Surface *dst = lmxf::rotozoom_core(src, angle, zoom, smooth, &status);
    if (!dst && status == lmxf::ROTOZOOM_NO_MEMORY)
        SDL_OutOfMemory();
    return dst;
}
