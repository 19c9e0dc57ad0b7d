// Pixels, spans and rectangles with alpha blending (see prims.h).
//
// A translucent colour moves every channel of the destination toward the
// source by d + ((a * (s - d)) >> 8), floored.  That equals
// ((256 - a) * d + a * s) >> 8, which never goes negative and keeps every
// intermediate of an 8-bit channel within 16 bits: the form used here, per
// channel for arbitrary masks and per byte (SSE2 where available) for
// formats whose channels are whole bytes.  Opaque colours never read the
// destination.

#include "pixelrw.h"
#include "prims.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace lmshape {

namespace {

inline Uint8 *addr(SDL_Surface *s, int x, int y)
{
    return static_cast<Uint8 *>(s->pixels) + (ptrdiff_t)y * s->pitch +
           (ptrdiff_t)x * s->format->BytesPerPixel;
}

inline Uint32 load(const Uint8 *p, int bpp) { return lm::px_load(p, bpp); }
inline void store(Uint8 *p, int bpp, Uint32 v) { lm::px_store(p, bpp, v); }

// n copies of the pixel value v from p on.
void store_run(Uint8 *p, int bpp, size_t n, Uint32 v)
{
    switch (bpp) {
    case 1:
        memset(p, (int)(v & 0xFF), n);
        break;
    case 2: {
        Uint16 w = (Uint16)v;
        for (size_t i = 0; i < n; ++i)
            memcpy(p + 2 * i, &w, 2);
        break;
    }
    case 3:
        for (size_t i = 0; i < n; ++i, p += 3) {
            p[0] = (Uint8)v;
            p[1] = (Uint8)(v >> 8);
            p[2] = (Uint8)(v >> 16);
        }
        break;
    default:
        for (size_t i = 0; i < n; ++i)
            memcpy(p + 4 * i, &v, 4);
        break;
    }
}

inline Uint32 mix(Uint32 d, Uint32 s, Uint32 a)
{
    return ((256 - a) * d + a * s) >> 8;
}

// The channels of a format (R, G, B, and A when it has one).
struct Channels {
    Uint32 mask[4];
    Uint8 shift[4];
    int n = 3;

    explicit Channels(const SDL_PixelFormat *f)
    {
        mask[0] = f->Rmask;
        shift[0] = f->Rshift;
        mask[1] = f->Gmask;
        shift[1] = f->Gshift;
        mask[2] = f->Bmask;
        shift[2] = f->Bshift;
        mask[3] = f->Amask;
        shift[3] = f->Ashift;
        if (f->Amask)
            n = 4;
    }
    Uint32 blend(Uint32 d, Uint32 s, Uint32 a) const
    {
        Uint32 out = 0;
        for (int i = 0; i < n; ++i) {
            Uint32 dc = (d & mask[i]) >> shift[i];
            Uint32 sc = (s & mask[i]) >> shift[i];
            out |= (mix(dc, sc, a) << shift[i]) & mask[i];
        }
        return out;
    }
};

SDL_Color palette_entry(const SDL_Palette *pal, Uint32 index)
{
    if (index < (Uint32)pal->ncolors)
        return pal->colors[index];
    SDL_Color black = {0, 0, 0, 255};
    return black;
}

Uint8 palette_blend(const SDL_PixelFormat *f, Uint32 di, Uint32 si, Uint32 a)
{
    SDL_Color d = palette_entry(f->palette, di);
    SDL_Color c = palette_entry(f->palette, si);
    return (Uint8)SDL_MapRGB(f, (Uint8)mix(d.r, c.r, a),
                             (Uint8)mix(d.g, c.g, a), (Uint8)mix(d.b, c.b, a));
}

// Formats of 3 or 4 bytes whose channels are whole bytes blend byte by
// byte.  Fills the per-byte source terms (s * a) and the masks of the
// bytes that carry a channel (the others end up 0, as with the
// per-channel blend).
bool byte_lanes(const SDL_PixelFormat *f, Uint32 mapped, Uint32 a,
                Uint16 sa[4], Uint8 keep[4])
{
    int bpp = f->BytesPerPixel;
    if (bpp != 3 && bpp != 4)
        return false;
    const Uint32 masks[4] = {f->Rmask, f->Gmask, f->Bmask, f->Amask};
    Uint32 all = 0;
    for (Uint32 m : masks) {
        if (m && m != 0xFFu && m != 0xFF00u && m != 0xFF0000u &&
            m != 0xFF000000u)
            return false;
        all |= m;
    }
    if (bpp == 3 && (all >> 24))
        return false;
    for (int k = 0; k < bpp; ++k) {
        // Memory byte k holds value bits 8k (3-byte pixels are always
        // little-endian; 4-byte ones follow the machine).
        int bit = 8 * k;
        if (bpp == 4 && SDL_BYTEORDER == SDL_BIG_ENDIAN)
            bit = 8 * (3 - k);
        keep[k] = (Uint8)(all >> bit);
        sa[k] = (Uint16)(((mapped >> bit) & 0xFF) * a);
    }
    return true;
}

#if defined(__x86_64__) || defined(__i386__)
#define LM_HAVE_AVX2_PATH 1
// 16 pixels per step where the processor has AVX2 (chosen at run time; the
// build itself targets the baseline).  The unpacks and packs work within
// each 128-bit half, where the 8-byte source pattern repeats, so the pixel
// order comes back unchanged.  Returns how many pixels it did.
__attribute__((target("avx2"))) size_t
blend_bytes_avx2(Uint8 *p, size_t n, const Uint16 sa[4], const Uint8 keep[4],
                 Uint32 ia)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i via = _mm256_set1_epi16((short)ia);
    const __m256i vsa = _mm256_setr_epi16(
        (short)sa[0], (short)sa[1], (short)sa[2], (short)sa[3], (short)sa[0],
        (short)sa[1], (short)sa[2], (short)sa[3], (short)sa[0], (short)sa[1],
        (short)sa[2], (short)sa[3], (short)sa[0], (short)sa[1], (short)sa[2],
        (short)sa[3]);
    Uint32 k32;
    memcpy(&k32, keep, 4);
    const __m256i vkeep = _mm256_set1_epi32((int)k32);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        Uint8 *q = p + 4 * i;
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(q));
        __m256i lo = _mm256_unpacklo_epi8(d, zero);
        __m256i hi = _mm256_unpackhi_epi8(d, zero);
        lo = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(lo, via), vsa), 8);
        hi = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(hi, via), vsa), 8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(q),
                            _mm256_and_si256(_mm256_packus_epi16(lo, hi),
                                             vkeep));
    }
    return i;
}

bool have_avx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

void blend_bytes(Uint8 *p, size_t n, int bpp, const Uint16 sa[4],
                 const Uint8 keep[4], Uint32 a)
{
    const Uint32 ia = 256 - a;
    size_t i = 0;
#ifdef LM_HAVE_AVX2_PATH
    if (bpp == 4 && n >= 8 && have_avx2())
        i = blend_bytes_avx2(p, n, sa, keep, ia);
#endif
#ifdef __SSE2__
    if (bpp == 4 && n - i >= 4) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i via = _mm_set1_epi16((short)ia);
        const __m128i vsa = _mm_setr_epi16(
            (short)sa[0], (short)sa[1], (short)sa[2], (short)sa[3],
            (short)sa[0], (short)sa[1], (short)sa[2], (short)sa[3]);
        Uint32 k32;
        memcpy(&k32, keep, 4);
        const __m128i vkeep = _mm_set1_epi32((int)k32);
        for (; i + 8 <= n; i += 8) {
            Uint8 *q = p + 4 * i;
            __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
            __m128i d1 =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + 16));
            __m128i a0 = _mm_unpacklo_epi8(d0, zero);
            __m128i b0 = _mm_unpackhi_epi8(d0, zero);
            __m128i a1 = _mm_unpacklo_epi8(d1, zero);
            __m128i b1 = _mm_unpackhi_epi8(d1, zero);
            a0 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a0, via), vsa), 8);
            b0 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(b0, via), vsa), 8);
            a1 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a1, via), vsa), 8);
            b1 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(b1, via), vsa), 8);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(q),
                             _mm_and_si128(_mm_packus_epi16(a0, b0), vkeep));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(q + 16),
                             _mm_and_si128(_mm_packus_epi16(a1, b1), vkeep));
        }
        for (; i + 4 <= n; i += 4) {
            Uint8 *q = p + 4 * i;
            __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
            __m128i lo = _mm_unpacklo_epi8(d, zero);
            __m128i hi = _mm_unpackhi_epi8(d, zero);
            lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, via), vsa), 8);
            hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, via), vsa), 8);
            __m128i r = _mm_and_si128(_mm_packus_epi16(lo, hi), vkeep);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(q), r);
        }
    }
#endif
    for (; i < n; ++i) {
        Uint8 *q = p + (size_t)bpp * i;
        for (int k = 0; k < bpp; ++k)
            q[k] = (Uint8)(((q[k] * ia + sa[k]) >> 8) & keep[k]);
    }
}

}  // namespace

void store_pixel(SDL_Surface *s, int x, int y, Uint32 mapped)
{
    Bounds b = bounds_of(s);
    if (b.empty || !b.inside(x, y))
        return;
    store(addr(s, x, y), s->format->BytesPerPixel, mapped);
}

int put_alpha(SDL_Surface *s, int x, int y, Uint32 mapped, Uint32 alpha)
{
    if (!s)
        return fail("null surface");
    Bounds b = bounds_of(s);
    if (b.empty || !b.inside(x, y))
        return 0;
    const SDL_PixelFormat *f = s->format;
    int bpp = f->BytesPerPixel;
    Uint8 *p = addr(s, x, y);
    if (alpha == 255) {
        store(p, bpp, mapped);
        return 0;
    }
    if (bpp == 1 && f->palette) {
        *p = palette_blend(f, *p, mapped & 0xFF, alpha);
        return 0;
    }
    store(p, bpp, Channels(f).blend(load(p, bpp), mapped, alpha));
    return 0;
}

int pixel_nolock(SDL_Surface *s, int x, int y, Uint32 rgba)
{
    return put_alpha(s, x, y, map_packed(s, rgba), rgba & 0xFF);
}

int pixel_weight_nolock(SDL_Surface *s, int x, int y, Uint32 rgba,
                        Uint32 weight)
{
    Uint32 a = ((rgba & 0xFF) * weight) >> 8;
    return pixel_nolock(s, x, y, (rgba & 0xFFFFFF00u) | (a & 0xFF));
}

int pixel_locked(SDL_Surface *s, int x, int y, Uint32 rgba)
{
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    return pixel_nolock(s, x, y, rgba);
}

int fill_alpha(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 mapped,
               Uint32 alpha)
{
    if (y2 < y1 || x2 < x1)
        return 0;
    const SDL_PixelFormat *f = s->format;
    const int bpp = f->BytesPerPixel;
    const size_t n = (size_t)(x2 - x1) + 1;
    Uint16 sa[4];
    Uint8 keep[4];
    if (bpp == 1 && f->palette) {
        // One blend per distinct destination index.
        int memo[256];
        for (int &m : memo)
            m = -1;
        for (int y = y1; y <= y2; ++y) {
            Uint8 *p = addr(s, x1, y);
            for (size_t i = 0; i < n; ++i) {
                if (memo[p[i]] < 0)
                    memo[p[i]] = palette_blend(f, p[i], mapped & 0xFF, alpha);
                p[i] = (Uint8)memo[p[i]];
            }
        }
    } else if (byte_lanes(f, mapped, alpha, sa, keep)) {
        for (int y = y1; y <= y2; ++y)
            blend_bytes(addr(s, x1, y), n, bpp, sa, keep, alpha);
    } else {
        Channels ch(f);
        for (int y = y1; y <= y2; ++y) {
            Uint8 *p = addr(s, x1, y);
            for (size_t i = 0; i < n; ++i, p += bpp)
                store(p, bpp, ch.blend(load(p, bpp), mapped, alpha));
        }
    }
    return 0;
}

namespace {

// The blend set-up of the last translucent colour of this thread: shapes
// are filled one span at a time, always in the same colour.  Keyed by
// what the mapped value depends on (palettes are never cached).
struct Tint {
    Uint32 masks[4] = {0, 0, 0, 0};
    int bpp = 0;
    Uint32 rgba = 0;
    Uint32 mapped = 0;
    Uint16 sa[4];
    Uint8 keep[4];
};
thread_local Tint t_tint;

const Tint *lane_tint(const SDL_PixelFormat *f, Uint32 rgba)
{
    Tint &t = t_tint;
    if (t.bpp == f->BytesPerPixel && t.rgba == rgba && t.masks[0] == f->Rmask &&
        t.masks[1] == f->Gmask && t.masks[2] == f->Bmask &&
        t.masks[3] == f->Amask)
        return &t;
    Uint32 mapped = SDL_MapRGBA(f, (Uint8)(rgba >> 24), (Uint8)(rgba >> 16),
                                (Uint8)(rgba >> 8), (Uint8)rgba);
    if (!byte_lanes(f, mapped, rgba & 0xFF, t.sa, t.keep)) {
        t.bpp = 0;
        return nullptr;
    }
    t.masks[0] = f->Rmask;
    t.masks[1] = f->Gmask;
    t.masks[2] = f->Bmask;
    t.masks[3] = f->Amask;
    t.bpp = f->BytesPerPixel;
    t.rgba = rgba;
    t.mapped = mapped;
    return &t;
}

// Orders a, b into *lo <= *hi and clips them to [from, to]; false when
// the run misses it.
inline bool clip_range(int a, int b, int from, int to, int *lo, int *hi)
{
    const int l = a < b ? a : b, h = a < b ? b : a;
    if (h < from || l > to)
        return false;
    *lo = l < from ? from : l;
    *hi = h > to ? to : h;
    return true;
}

}  // namespace

int filled_rect_alpha(SDL_Surface *s, int x1, int y1, int x2, int y2,
                      Uint32 rgba)
{
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    if (y2 < y1 || x2 < x1)
        return 0;
    const SDL_PixelFormat *f = s->format;
    if (!f->palette) {
        if (const Tint *t = lane_tint(f, rgba)) {
            const size_t n = (size_t)(x2 - x1) + 1;
            for (int y = y1; y <= y2; ++y)
                blend_bytes(addr(s, x1, y), n, t->bpp, t->sa, t->keep,
                            rgba & 0xFF);
            return 0;
        }
    }
    return fill_alpha(s, x1, y1, x2, y2, map_packed(s, rgba), rgba & 0xFF);
}

namespace {

// Fills x1..x2, y1..y2, already clipped: blended when the colour is
// translucent (unless `store_only`), else the mapped value stored.
int fill_clipped(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba,
                 bool store_only)
{
    if (!store_only && (rgba & 0xFF) != 255)
        return filled_rect_alpha(s, x1, y1, x2, y2, rgba);
    MustLock lock(s);
    if (!lock.ok())
        return -1;
    const Uint32 v = map_packed(s, rgba);
    const int bpp = s->format->BytesPerPixel;
    if (x1 == x2) {
        Uint8 *p = addr(s, x1, y1);
        for (int y = y1; y <= y2; ++y, p += s->pitch)
            store(p, bpp, v);
        return 0;
    }
    for (int y = y1; y <= y2; ++y)
        store_run(addr(s, x1, y), bpp, (size_t)(x2 - x1) + 1, v);
    return 0;
}

}  // namespace

int hline(SDL_Surface *s, int x1, int x2, int y, Uint32 rgba, bool store_only)
{
    Bounds b = bounds_of(s);
    int lo, hi;
    if (b.empty || y < b.top || y > b.bottom ||
        !clip_range(x1, x2, b.left, b.right, &lo, &hi))
        return 0;
    return fill_clipped(s, lo, y, hi, y, rgba, store_only);
}

int vline(SDL_Surface *s, int x, int y1, int y2, Uint32 rgba)
{
    Bounds b = bounds_of(s);
    int lo, hi;
    if (b.empty || x < b.left || x > b.right ||
        !clip_range(y1, y2, b.top, b.bottom, &lo, &hi))
        return 0;
    return fill_clipped(s, x, lo, x, hi, rgba, false);
}

namespace {

// A rectangle one pixel wide or high: a pixel, a column or a row.
int thin_rect(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba)
{
    if (x1 == x2 && y1 == y2)
        return pixel_locked(s, x1, y1, rgba);
    if (x1 == x2)
        return vline(s, x1, y1, y2, rgba);
    return hline(s, x1, x2, y1, rgba, false);
}

int rectangle(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba)
{
    if (!s)
        return fail("null surface");
    if (bounds_of(s).empty)
        return 0;
    if (x1 == x2 || y1 == y2)
        return thin_rect(s, x1, y1, x2, y2, rgba);
    int xa = x1 < x2 ? x1 : x2, xb = x1 < x2 ? x2 : x1;
    int ya = y1 < y2 ? y1 : y2, yb = y1 < y2 ? y2 : y1;
    int result = hline(s, xa, xb, ya, rgba, false);
    result |= hline(s, xa, xb, yb, rgba, false);
    if (yb - 1 >= ya + 1) {
        result |= vline(s, xa, ya + 1, yb - 1, rgba);
        result |= vline(s, xb, ya + 1, yb - 1, rgba);
    }
    return result;
}

int box(SDL_Surface *s, int x1, int y1, int x2, int y2, Uint32 rgba)
{
    if (!s)
        return fail("null surface");
    Bounds b = bounds_of(s);
    if (b.empty || !clip_range(x1, x2, b.left, b.right, &x1, &x2) ||
        !clip_range(y1, y2, b.top, b.bottom, &y1, &y2))
        return 0;
    if (x1 == x2 || y1 == y2)
        return thin_rect(s, x1, y1, x2, y2, rgba);
    return fill_clipped(s, x1, y1, x2, y2, rgba, false);
}

}  // namespace

}  // namespace lmshape

using namespace lmshape;

// ---------------------------------------------------------------------------
// Exported routines.
// ---------------------------------------------------------------------------
LM_EXPORT int fastPixelColorNolock(SDL_Surface *dst, Sint16 x, Sint16 y,
                                   Uint32 color)
{
    if (!dst)
        return fail("null surface");
    store_pixel(dst, x, y, color);
    return 0;
}

LM_EXPORT int fastPixelColor(SDL_Surface *dst, Sint16 x, Sint16 y,
                             Uint32 color)
{
    if (!dst)
        return fail("null surface");
    MustLock lock(dst);
    if (!lock.ok())
        return -1;
    store_pixel(dst, x, y, color);
    return 0;
}

LM_EXPORT int _putPixelAlpha(SDL_Surface *dst, Sint16 x, Sint16 y,
                             Uint32 color, Uint8 alpha)
{
    return put_alpha(dst, x, y, color, alpha);
}

LM_EXPORT int pixelColor(SDL_Surface *dst, Sint16 x, Sint16 y, Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return pixel_locked(dst, x, y, color);
}

LM_EXPORT int pixelColorNolock(SDL_Surface *dst, Sint16 x, Sint16 y,
                               Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return pixel_nolock(dst, x, y, color);
}

LM_EXPORT int pixelColorWeight(SDL_Surface *dst, Sint16 x, Sint16 y,
                               Uint32 color, Uint32 weight)
{
    if (!dst)
        return fail("null surface");
    Uint32 a = ((color & 0xFF) * weight) >> 8;
    return pixel_locked(dst, x, y, (color & 0xFFFFFF00u) | (a & 0xFF));
}

LM_EXPORT int pixelColorWeightNolock(SDL_Surface *dst, Sint16 x, Sint16 y,
                                     Uint32 color, Uint32 weight)
{
    if (!dst)
        return fail("null surface");
    return pixel_weight_nolock(dst, x, y, color, weight);
}

LM_EXPORT int pixelRGBA(SDL_Surface *dst, Sint16 x, Sint16 y, Uint8 r,
                        Uint8 g, Uint8 b, Uint8 a)
{
    if (!dst)
        return fail("null surface");
    if (a == 255)
        return fastPixelColor(dst, x, y, SDL_MapRGBA(dst->format, r, g, b, a));
    return pixel_locked(dst, x, y, pack_rgba(r, g, b, a));
}

// The two raw fills are used on runs that are already clipped; called from
// outside they are still kept inside the clip rectangle, since a run beyond
// the pixel buffer would write someone else's memory.
static bool clamp_to_clip(SDL_Surface *s, int *x1, int *y1, int *x2, int *y2)
{
    Bounds b = bounds_of(s);
    if (b.empty)
        return false;
    *x1 = *x1 < b.left ? b.left : *x1;
    *y1 = *y1 < b.top ? b.top : *y1;
    *x2 = *x2 > b.right ? b.right : *x2;
    *y2 = *y2 > b.bottom ? b.bottom : *y2;
    return *x1 <= *x2 && *y1 <= *y2;
}

LM_EXPORT int _filledRectAlpha(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                               Sint16 x2, Sint16 y2, Uint32 color,
                               Uint8 alpha)
{
    if (!dst)
        return fail("null surface");
    int a = x1, b = y1, c = x2, d = y2;
    if (!clamp_to_clip(dst, &a, &b, &c, &d))
        return 0;
    return fill_alpha(dst, a, b, c, d, color, alpha);
}

LM_EXPORT int filledRectAlpha(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                              Sint16 x2, Sint16 y2, Uint32 color)
{
    if (!dst)
        return fail("null surface");
    int a = x1, b = y1, c = x2, d = y2;
    if (!clamp_to_clip(dst, &a, &b, &c, &d))
        return 0;
    return filled_rect_alpha(dst, a, b, c, d, color);
}

LM_EXPORT int _HLineAlpha(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                          Uint32 color)
{
    return filledRectAlpha(dst, x1, y, x2, y, color);
}

LM_EXPORT int _VLineAlpha(SDL_Surface *dst, Sint16 x, Sint16 y1, Sint16 y2,
                          Uint32 color)
{
    return filledRectAlpha(dst, x, y1, x, y2, color);
}

LM_EXPORT int hlineColor(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                         Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return hline(dst, x1, x2, y, color, false);
}

LM_EXPORT int hlineRGBA(SDL_Surface *dst, Sint16 x1, Sint16 x2, Sint16 y,
                        Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
    return hlineColor(dst, x1, x2, y, pack_rgba(r, g, b, a));
}

LM_EXPORT int hlineColorStore(SDL_Surface *dst, Sint16 x1, Sint16 x2,
                              Sint16 y, Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return hline(dst, x1, x2, y, color, true);
}

LM_EXPORT int hlineRGBAStore(SDL_Surface *dst, Sint16 x1, Sint16 x2,
                             Sint16 y, Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
    return hlineColorStore(dst, x1, x2, y, pack_rgba(r, g, b, a));
}

LM_EXPORT int vlineColor(SDL_Surface *dst, Sint16 x, Sint16 y1, Sint16 y2,
                         Uint32 color)
{
    if (!dst)
        return fail("null surface");
    return vline(dst, x, y1, y2, color);
}

LM_EXPORT int vlineRGBA(SDL_Surface *dst, Sint16 x, Sint16 y1, Sint16 y2,
                        Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
    return vlineColor(dst, x, y1, y2, pack_rgba(r, g, b, a));
}

LM_EXPORT int rectangleColor(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                             Sint16 x2, Sint16 y2, Uint32 color)
{
    return rectangle(dst, x1, y1, x2, y2, color);
}

LM_EXPORT int rectangleRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1,
                            Sint16 x2, Sint16 y2, Uint8 r, Uint8 g, Uint8 b,
                            Uint8 a)
{
    return rectangle(dst, x1, y1, x2, y2, pack_rgba(r, g, b, a));
}

LM_EXPORT int boxColor(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                       Sint16 y2, Uint32 color)
{
    return box(dst, x1, y1, x2, y2, color);
}

LM_EXPORT int boxRGBA(SDL_Surface *dst, Sint16 x1, Sint16 y1, Sint16 x2,
                      Sint16 y2, Uint8 r, Uint8 g, Uint8 b, Uint8 a)
{
    return box(dst, x1, y1, x2, y2, pack_rgba(r, g, b, a));
}
