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

// R, G and B of a packed format with whole 8-bit colour channels: plain
// shifts, the same values SDL gives.
struct Rgb8 {
    int shift[3];
    bool ok;
    explicit Rgb8(const SDL_PixelFormat *f)
        : shift{f->Rshift, f->Gshift, f->Bshift},
          ok(!f->palette && f->Rmask == 0xFFu << f->Rshift &&
             f->Gmask == 0xFFu << f->Gshift && f->Bmask == 0xFFu << f->Bshift)
    {
    }
    void rgba(uint32_t v, uint8_t out[4]) const
    {
        out[0] = (uint8_t)(v >> shift[0]);
        out[1] = (uint8_t)(v >> shift[1]);
        out[2] = (uint8_t)(v >> shift[2]);
    }
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

// The search reference of pixel (x, y): a fixed colour or the search
// surface's pixel decoded in its own format.
template <int N, bool BySurface, typename Dec, typename SDec>
int64_t threshold_rows(const ThresholdJob &j, const Dec &dec, const SDec &sdec)
{
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
            if (BySurface)
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

template <int N> int64_t threshold_by(const ThresholdJob &j)
{
    const Rgb8 fast(j.src.fmt);
    if (j.search.im.pixels) {
        const Decoder dec(j.src.fmt), sdec(j.search.fmt);
        return threshold_rows<N, true>(j, dec, sdec);
    }
    if (fast.ok)
        return threshold_rows<N, false>(j, fast, fast);
    const Decoder dec(j.src.fmt);
    return threshold_rows<N, false>(j, dec, dec);
}

}  // namespace

int64_t threshold(const ThresholdJob &j)
{
    int64_t count = 0;
    by_size(j.src.im.bpp,
            [&](auto n) { count = threshold_by<decltype(n)::value>(j); });
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

// Sums of the four bytes of 4-byte pixels over the area, byte order;
// rows are added in 32 bits (255 * width fits) and carried to 64.
static void byte_sums(const Image &im, int x0, int x1, int y0, int y1,
                      uint64_t out[4])
{
    for (int y = y0; y < y1; ++y) {
        const uint8_t *p = im.at(x0, y);
        uint32_t r0 = 0, r1 = 0, r2 = 0, r3 = 0;
        for (int x = x0; x < x1; ++x, p += 4) {
            r0 += p[0];
            r1 += p[1];
            r2 += p[2];
            r3 += p[3];
        }
        out[0] += r0;
        out[1] += r1;
        out[2] += r2;
        out[3] += r3;
    }
}

void color_sums(const Plane &src, int x0, int x1, int y0, int y1,
                bool weighted, uint64_t sums[4])
{
    const Channels ch(src.fmt);
    const SDL_PixelFormat *f = src.fmt;
    if (!weighted && src.im.bpp == 4 && Rgb8(f).ok &&
        (f->Amask == 0xFFu << f->Ashift || !f->Amask) &&
        x1 - x0 < 16777216) {
        uint64_t b[4] = {0, 0, 0, 0};
        byte_sums(src.im, x0, x1, y0, y1, b);
        sums[0] = b[(f->Rshift >> 3) & 3];
        sums[1] = b[(f->Gshift >> 3) & 3];
        sums[2] = b[(f->Bshift >> 3) & 3];
        sums[3] = f->Amask ? b[(f->Ashift >> 3) & 3] : 0;
        return;
    }
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

// Gray of (r, g, b) as the double sum g*0.587 + r*0.299 + b*0.114 (each
// product rounded, summed left to right) truncates it.  The sum in
// thousandths is exact in integers; unless it is a whole number the double
// sum lies at least 0.001 from one and truncates alike, so only whole
// sums are worked out in double (where rounding may land just below).
static inline uint8_t gray_of(int r, int g, int b)
{
    const int v = 587 * g + 299 * r + 114 * b;
    const int q = v / 1000;
    if (q * 1000 != v)
        return (uint8_t)q;
    return (uint8_t)(uint32_t)(g * 0.587 + r * 0.299 + b * 0.114);
}

// One row of 4-byte pixels of a format with 8-bit colour channels, in
// chunks: a branch-free pass (which the compiler can vectorise) that marks
// the pixels whose sum may be whole, then those few done again exactly.
static void gray_row4(const uint8_t *s, uint8_t *d, int w, const Rgb8 &f,
                      uint32_t spread, uint32_t amask)
{
    constexpr int kChunk = 1024;
    uint8_t whole[kChunk];
    // Locals: stores through byte pointers would make the compiler reload
    // anything reached through a pointer.
    const int rs = f.shift[0], gs = f.shift[1], bs = f.shift[2];
    for (int x0 = 0; x0 < w; x0 += kChunk) {
        const int n = std::min(kChunk, w - x0);
        const uint8_t *sp = s + 4 * x0;
        uint8_t *dp = d + 4 * x0;
        for (int x = 0; x < n; ++x) {
            const uint32_t v = load<4>(sp + 4 * x);
            const uint32_t r = (v >> rs) & 0xFF;
            const uint32_t g = (v >> gs) & 0xFF;
            const uint32_t b = (v >> bs) & 0xFF;
            // Single precision is within 1e-4 of the exact sum, while a
            // sum that is not whole lies 0.001 or more from an integer: the
            // pixels it leaves near one are marked and redone exactly.
            const float sum = (float)g * 0.587f + (float)r * 0.299f +
                              (float)b * 0.114f;
            const int32_t q = (int32_t)sum;
            const float frac = sum - (float)q;
            whole[x] = (frac < 0.0005f) | (frac > 0.9995f);
            store<4>(dp + 4 * x, (uint32_t)q * spread | (v & amask));
        }
        const uint8_t *p = whole;
        while ((p = static_cast<const uint8_t *>(
                    memchr(p, 1, (size_t)(whole + n - p))))) {
            const int x = (int)(p - whole);
            const uint32_t v = load<4>(sp + 4 * x);
            uint8_t c[4];
            f.rgba(v, c);
            store<4>(dp + 4 * x,
                     gray_of(c[0], c[1], c[2]) * spread | (v & amask));
            ++p;
        }
    }
}

void grayscale(const Plane &src, const Plane &dst)
{
    const Decoder dec(src.fmt);
    const Encoder enc(dst.fmt);
    const Rgb8 fast(src.fmt);
    const SDL_PixelFormat *f = src.fmt;
    // Same packed format with 8-bit channels: gray goes to each colour
    // byte and the alpha bits stay as they are.
    const bool direct = fast.ok && f->format == dst.fmt->format &&
                        f->Aloss == (f->Amask ? 0 : 8);
    const uint32_t spread = (1u << f->Rshift) | (1u << f->Gshift) |
                            (1u << f->Bshift);
    if (direct && src.im.bpp == 4) {
        for (int y = 0; y < src.im.h; ++y)
            gray_row4(src.im.row(y), dst.im.row(y), src.im.w, fast, spread,
                      f->Amask);
        return;
    }
    by_size(src.im.bpp, [&](auto n) {
        constexpr int N = decltype(n)::value;
        for (int y = 0; y < src.im.h; ++y) {
            const uint8_t *s = src.im.row(y);
            uint8_t *d = dst.im.row(y);
            for (int x = 0; x < src.im.w; ++x, s += N, d += N) {
                const uint32_t v = load<N>(s);
                uint8_t c[4];
                if (direct && N == 3) {
                    fast.rgba(v, c);
                    memset(d, gray_of(c[0], c[1], c[2]), 3);
                    continue;
                }
                dec.rgba(v, c);
                const uint8_t gray = gray_of(c[0], c[1], c[2]);
                store_mapped(d, N, enc.map(gray, gray, gray, c[3]), dst.fmt,
                             dst.fmt);
            }
        }
    });
}

}  // namespace lmxf
