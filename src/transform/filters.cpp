// Per-pixel filters (see filters.h).

#include "filters.h"

#include <algorithm>
#include <cstdlib>

namespace lmxf {

namespace {

// Pixel value to RGBA as SDL_GetRGBA gives it.  Packed formats with
// channels of up to 8 bits use per-channel tables filled from SDL once per
// call; palettes and wider channels ask SDL for every pixel.
class Decoder {
  public:
    explicit Decoder(const SDL_PixelFormat *f) : f_(f)
    {
        const uint32_t masks[4] = {f->Rmask, f->Gmask, f->Bmask, f->Amask};
        const uint8_t shifts[4] = {f->Rshift, f->Gshift, f->Bshift, f->Ashift};
        by_sdl_ = f->palette != nullptr;
        for (int c = 0; c < 4 && !by_sdl_; ++c) {
            mask_[c] = masks[c];
            shift_[c] = masks[c] ? shifts[c] : 0;
            if ((masks[c] >> shift_[c]) > 255)
                by_sdl_ = true;
        }
        if (by_sdl_)
            return;
        for (int c = 0; c < 4; ++c) {
            for (uint32_t v = 0; v <= (mask_[c] >> shift_[c]); ++v) {
                Uint8 out[4];
                SDL_GetRGBA(v << shift_[c], f, &out[0], &out[1], &out[2],
                            &out[3]);
                tab_[c][v] = out[c];
            }
        }
        if (!mask_[3])
            tab_[3][0] = 255;
    }
    void rgba(uint32_t v, uint8_t out[4]) const
    {
        if (by_sdl_) {
            SDL_GetRGBA(v, f_, &out[0], &out[1], &out[2], &out[3]);
            return;
        }
        for (int c = 0; c < 4; ++c)
            out[c] = tab_[c][(v & mask_[c]) >> shift_[c]];
    }

  private:
    const SDL_PixelFormat *f_;
    bool by_sdl_ = false;
    uint32_t mask_[4] = {0, 0, 0, 0};
    uint8_t shift_[4] = {0, 0, 0, 0};
    uint8_t tab_[4][256] = {};
};

// RGBA to a pixel value as SDL_MapRGBA makes it.
class Encoder {
  public:
    explicit Encoder(const SDL_PixelFormat *f) : f_(f), by_sdl_(f->palette) {}
    uint32_t map(uint8_t r, uint8_t g, uint8_t b, uint8_t a) const
    {
        if (by_sdl_)
            return SDL_MapRGBA(f_, r, g, b, a);
        return ((uint32_t)(r >> f_->Rloss) << f_->Rshift) |
               ((uint32_t)(g >> f_->Gloss) << f_->Gshift) |
               ((uint32_t)(b >> f_->Bloss) << f_->Bshift) |
               (((uint32_t)(a >> f_->Aloss) << f_->Ashift) & f_->Amask);
    }

  private:
    const SDL_PixelFormat *f_;
    bool by_sdl_;
};

// Colour components by masks (alpha 0 without an alpha mask).
struct Channels {
    uint32_t mask[4];
    int shift[4], loss[4];
    explicit Channels(const SDL_PixelFormat *f)
        : mask{f->Rmask, f->Gmask, f->Bmask, f->Amask},
          shift{f->Rshift, f->Gshift, f->Bshift, f->Ashift},
          loss{f->Rloss, f->Gloss, f->Bloss, f->Aloss}
    {
    }
    uint32_t get(uint32_t v, int c) const
    {
        return channel(v, mask[c], shift[c], loss[c]);
    }
};

static inline int iabs(int v) { return v < 0 ? -v : v; }

template <int N> int64_t threshold_rows(const ThresholdJob &j)
{
    const Decoder dec(j.src.fmt);
    const bool by_surface = j.search.im.pixels != nullptr;
    const Decoder sdec(by_surface ? j.search.fmt : j.src.fmt);
    uint8_t ref[4], t[4];
    SDL_GetRGB(j.search_value, j.src.fmt, &ref[0], &ref[1], &ref[2]);
    SDL_GetRGB(j.threshold_value, j.src.fmt, &t[0], &t[1], &t[2]);
    const int dbpp = j.dest.im.bpp;
    int64_t count = 0;
    for (int y = 0; y < j.src.im.h; ++y) {
        const uint8_t *s = j.src.im.row(y);
        for (int x = 0; x < j.src.im.w; ++x, s += N) {
            const uint32_t v = load<N>(s);
            uint8_t c[4];
            dec.rgba(v, c);
            if (by_surface)
                sdec.rgba(load_any(j.search.im.at(x, y), j.search.im.bpp), ref);
            const bool within = iabs(ref[0] - c[0]) <= t[0] &&
                                iabs(ref[1] - c[1]) <= t[1] &&
                                iabs(ref[2] - c[2]) <= t[2];
            count += within;
            if (j.behavior && within == j.inverse) {
                uint8_t *d = j.dest.im.at(x, y);
                const uint32_t out = j.behavior == 1 ? j.set_value : v;
                by_size(dbpp, [&](auto n) { store<decltype(n)::value>(d, out); });
            }
        }
    }
    return count;
}

}  // namespace

int64_t threshold(const ThresholdJob &j)
{
    int64_t count = 0;
    by_size(j.src.im.bpp,
            [&](auto n) { count = threshold_rows<decltype(n)::value>(j); });
    return count;
}

void laplacian(const Plane &src, const Plane &dst)
{
    const Decoder dec(src.fmt);
    const Encoder enc(src.fmt);
    const Image &s = src.im;
    uint8_t outside[4], zero[4];
    dec.rgba(0xFFFFFFFFu, outside);
    dec.rgba(0, zero);
    for (int y = 0; y < s.h; ++y) {
        for (int x = 0; x < s.w; ++x) {
            int sum[4] = {0, 0, 0, 0};
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int sx = x + dx, sy = y + dy;
                    uint8_t c[4];
                    if (!dx && !dy)
                        memcpy(c, zero, 4);
                    else if (sx < 0 || sy < 0 || sx >= s.w || sy >= s.h)
                        memcpy(c, outside, 4);
                    else
                        dec.rgba(load_any(s.at(sx, sy), s.bpp), c);
                    for (int k = 0; k < 4; ++k)
                        sum[k] += c[k];
                }
            }
            uint8_t centre[4], out[4];
            dec.rgba(load_any(s.at(x, y), s.bpp), centre);
            for (int k = 0; k < 4; ++k)
                out[k] = (uint8_t)std::min(255, std::max(0, 8 * centre[k] - sum[k]));
            store_mapped(dst.im.at(x, y), dst.im.bpp,
                         enc.map(out[0], out[1], out[2], out[3]), dst.fmt,
                         src.fmt);
        }
    }
}

void average_surfaces(const Plane *srcs, int n, const Plane &dst,
                      bool index_mode, uint32_t *acc)
{
    const int w = dst.im.w, h = dst.im.h;
    for (int i = 0; i < n; ++i) {
        const Image &s = srcs[i].im;
        const Channels ch(srcs[i].fmt);
        uint32_t *a = acc;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t v = load_any(s.at(x, y), s.bpp);
                if (index_mode) {
                    *a++ += v;
                    continue;
                }
                for (int c = 0; c < 3; ++c)
                    *a++ += ch.get(v, c);
            }
        }
    }
    const float inv = (float)(1.0 / n);
    const Encoder enc(dst.fmt);
    uint32_t *a = acc;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t *d = dst.im.at(x, y);
            if (index_mode) {
                *d = (uint8_t)(uint32_t)(0.5f + (float)*a++ * inv);
                continue;
            }
            uint8_t c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = (uint8_t)(uint32_t)(0.5f + (float)*a++ * inv);
            store_mapped(d, dst.im.bpp, enc.map(c[0], c[1], c[2], 255),
                         dst.fmt, dst.fmt);
        }
    }
}

void color_sums(const Plane &src, int x0, int x1, int y0, int y1,
                bool weighted, uint64_t sums[4])
{
    const Channels ch(src.fmt);
    uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    by_size(src.im.bpp, [&](auto n) {
        constexpr int N = decltype(n)::value;
        for (int y = y0; y < y1; ++y) {
            const uint8_t *p = src.im.at(x0, y);
            for (int x = x0; x < x1; ++x, p += N) {
                const uint32_t v = load<N>(p);
                const uint32_t a = ch.get(v, 3);
                const uint32_t m = weighted ? a : 1;
                s0 += ch.get(v, 0) * m;
                s1 += ch.get(v, 1) * m;
                s2 += ch.get(v, 2) * m;
                s3 += a;
            }
        }
    });
    sums[0] = s0;
    sums[1] = s1;
    sums[2] = s2;
    sums[3] = s3;
}

void grayscale(const Plane &src, const Plane &dst)
{
    const Decoder dec(src.fmt);
    const Encoder enc(dst.fmt);
    by_size(src.im.bpp, [&](auto n) {
        constexpr int N = decltype(n)::value;
        for (int y = 0; y < src.im.h; ++y) {
            const uint8_t *s = src.im.row(y);
            uint8_t *d = dst.im.row(y);
            for (int x = 0; x < src.im.w; ++x, s += N, d += N) {
                uint8_t c[4];
                dec.rgba(load<N>(s), c);
                // Each product rounded, then summed left to right.
                const double g = c[1] * 0.587 + c[0] * 0.299 + c[2] * 0.114;
                const uint8_t gray = (uint8_t)(uint32_t)g;
                store_mapped(d, N, enc.map(gray, gray, gray, c[3]), dst.fmt,
                             dst.fmt);
            }
        }
    });
}

}  // namespace lmxf
