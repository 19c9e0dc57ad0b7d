// Bitmask <-> surface pixel kernels.

#include "convert.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

using lmxf::load;
using lmxf::load_any;
using lmxf::store;

// 32 flag bytes (0 or 1) as one word, flag b at bit b: a multiply gathers
// the low bits of eight bytes into the top byte without carries.
inline BITMASK_W pack32(const uint8_t *f)
{
    BITMASK_W word = 0;
    for (int g = 0; g < 4; ++g) {
        uint64_t v;
        memcpy(&v, f + 8 * g, 8);
        word |= (BITMASK_W)((v * 0x0102040810204080ull) >> 56) << (8 * g);
    }
    return word;
}

// Each mask word gets 32 consecutive pixels of one row: bit b = pred(value).
// Flags go through a byte array first so the predicate loop vectorises.
template <int BPP, typename P>
void scan(const lmmask::PixView &s, bitmask_t *m, P pred)
{
    const size_t cols = bitmask_cols(s.w);
    uint8_t f[32];
    for (int y = 0; y < s.h; ++y) {
        const uint8_t *row = s.pixels + (size_t)y * (size_t)s.pitch;
        for (size_t c = 0; c < cols; ++c) {
            const int n = std::min(32, s.w - (int)(c * 32));
            const uint8_t *p = row + c * 32 * BPP;
            if (n == 32) {
                for (int b = 0; b < 32; ++b)
                    f[b] = pred(load<BPP>(p + b * BPP)) ? 1 : 0;
            } else {
                for (int b = 0; b < 32; ++b)
                    f[b] = b < n && pred(load<BPP>(p + b * BPP)) ? 1 : 0;
            }
            *(bitmask_col(m, c) + y) = pack32(f);
        }
    }
}

template <typename P>
void scan_any(const lmmask::PixView &s, bitmask_t *m, P pred)
{
    lmxf::by_size(s.bpp, [&](auto n) { scan<decltype(n)::value>(s, m, pred); });
}

struct Rgb {
    int r, g, b;
};

inline Rgb rgb_of(Uint32 v, const SDL_PixelFormat *f)
{
    return {(int)lmxf::channel(v, f->Rmask, f->Rshift, f->Rloss),
            (int)lmxf::channel(v, f->Gmask, f->Gshift, f->Gloss),
            (int)lmxf::channel(v, f->Bmask, f->Bshift, f->Bloss)};
}

template <int BPP>
void paint(const bitmask_t *m, const lmmask::PixView &d, const lmmask::Paint &p,
           int64_t dx, int64_t dy)
{
    const int64_t x0 = std::max<int64_t>(0, -dx), x1 = std::min<int64_t>(m->w, d.w - dx);
    const int64_t y0 = std::max<int64_t>(0, -dy), y1 = std::min<int64_t>(m->h, d.h - dy);
    for (int64_t y = y0; y < y1; ++y) {
        uint8_t *drow = d.pixels + (size_t)(y + dy) * (size_t)d.pitch + (size_t)(x0 + dx) * BPP;
        const lmmask::PixView *srcs[2] = {p.unset_src, p.set_src};
        const uint8_t *rows[2];
        int64_t widths[2];
        for (int k = 0; k < 2; ++k) {
            const bool reach = srcs[k] && y < srcs[k]->h;
            rows[k] = reach ? srcs[k]->pixels + (size_t)y * (size_t)srcs[k]->pitch : nullptr;
            widths[k] = reach ? srcs[k]->w : 0;
        }
        const bool has[2] = {p.has_unset, p.has_set};
        const Uint32 value[2] = {p.unset_value, p.set_value};
        for (int64_t x = x0; x < x1; ++x, drow += BPP) {
            const int bit = bitmask_getbit(m, (int)x, (int)y);
            if (x < widths[bit])
                memcpy(drow, rows[bit] + (size_t)x * BPP, BPP);
            else if (has[bit])
                store<BPP>(drow, value[bit]);
        }
    }
}

}  // namespace

namespace lmmask {

PixView view_of(SDL_Surface *s)
{
    PixView v;
    static_cast<lmxf::Image &>(v) = lmxf::image_of(s);
    v.fmt = s->format;
    return v;
}

void mask_from_pixels(const PixView &s, bitmask_t *m, bool has_key, Uint32 key,
                      int threshold)
{
    if (has_key) {
        scan_any(s, m, [key](Uint32 v) { return v != key; });
        return;
    }
    SDL_PixelFormat *fmt = const_cast<SDL_PixelFormat *>(s.fmt);
    Uint8 r, g, b, a;
    if (s.bpp > 1 && !fmt->Amask) {  // no alpha: every pixel is opaque
        if (255 > threshold)
            bitmask_fill(m);
        return;
    }
    // Alpha depends only on the palette index or the alpha field: decide
    // each of its values once.
    const Uint32 field_max = s.bpp == 1 ? 255u : fmt->Amask >> fmt->Ashift;
    if (field_max > 255) {
        scan_any(s, m, [&](Uint32 v) {
            SDL_GetRGBA(v, fmt, &r, &g, &b, &a);
            return a > threshold;
        });
        return;
    }
    if (threshold < 0) {
        bitmask_fill(m);
        return;
    }
    if (threshold >= 255)
        return;
    // 8-bit alpha field in a 32-bit pixel: compare it directly.
    if (s.bpp == 4 && fmt->Aloss == 0 && field_max == 255) {
        const unsigned ashift = fmt->Ashift;
        const Uint32 thr = (Uint32)threshold;
        scan<4>(s, m, [=](Uint32 v) { return ((v >> ashift) & 0xFFu) > thr; });
        return;
    }
    bool table[256];
    for (Uint32 f = 0; f <= field_max; ++f) {
        SDL_GetRGBA(s.bpp == 1 ? f : f << fmt->Ashift, fmt, &r, &g, &b, &a);
        table[f] = a > threshold;
    }
    if (s.bpp == 1) {
        scan<1>(s, m, [&](Uint32 v) { return table[v]; });
        return;
    }
    const Uint32 amask = fmt->Amask;
    const unsigned ashift = fmt->Ashift;
    scan_any(s, m, [&](Uint32 v) { return table[(v & amask) >> ashift]; });
}

void paint_mask(const bitmask_t *m, const PixView &dst, const Paint &p,
                int64_t dx, int64_t dy)
{
    if (!m->w || !m->h || !dst.w || !dst.h)
        return;
    lmxf::by_size(dst.bpp, [&](auto n) { paint<decltype(n)::value>(m, dst, p, dx, dy); });
}

}  // namespace lmmask

void bitmask_threshold(bitmask_t *m, SDL_Surface *surf, SDL_Surface *other,
                       Uint32 color, Uint32 threshold, int palette_colors)
{
    const lmmask::PixView s = lmmask::view_of(surf);
    const SDL_PixelFormat *f = surf->format;
    Uint8 cr, cg, cb, tr, tg, tb, unused;
    SDL_GetRGBA(color, surf->format, &cr, &cg, &cb, &unused);
    SDL_GetRGBA(threshold, surf->format, &tr, &tg, &tb, &unused);
    const int w = std::min(s.w, m->w), h = std::min(s.h, m->h);
    lmmask::PixView o;
    if (other)
        o = lmmask::view_of(other);
    const bool raw = s.bpp == 1 && !palette_colors;
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = s.pixels + (size_t)y * (size_t)s.pitch;
        const uint8_t *orow = other && y < o.h ? o.pixels + (size_t)y * (size_t)o.pitch : nullptr;
        if (other && !orow)
            break;
        const int xend = other ? std::min(w, o.w) : w;
        for (int x = 0; x < xend; ++x) {
            const Uint32 v = load_any(row + (size_t)x * s.bpp, s.bpp);
            bool hit;
            if (!other) {
                const Rgb c = rgb_of(v, f);
                hit = abs(cr - c.r) < tr && abs(cg - c.g) < tg && abs(cb - c.b) < tb;
            } else {
                const Uint32 u = load_any(orow + (size_t)x * o.bpp, o.bpp);
                if (raw) {
                    hit = (v > u ? v - u : u - v) < (Uint32)tr;
                } else {
                    const Rgb c = rgb_of(v, f), d = rgb_of(u, o.fmt);
                    hit = abs(c.r - d.r) < tr && abs(c.g - d.g) < tg && abs(c.b - d.b) < tb;
                }
            }
            if (hit)
                bitmask_setbit(m, x, y);
        }
    }
}
