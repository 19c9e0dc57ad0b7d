// Surface <-> byte-string conversions.
//
// The general path reads each pixel as an unsigned value, takes every
// channel out through the format's mask, shift and loss (or the palette),
// and packs the channels in the requested order.  Surfaces whose channels
// each fill one whole byte (all the usual 24- and 32-bit formats) take a
// gather path instead: every output byte is one source byte or a constant,
// done with loop-invariant shifts the compiler can vectorise, or a plain
// row copy when the orders agree.
#include "pixconv.h"

#include "pixelrw.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LM_HAVE_SSSE3_PATH 1
#endif

namespace lmimg {

namespace {

#ifdef LM_HAVE_SSSE3_PATH
// Byte shuffles with SSSE3 (checked at run time; the baseline build stays
// plain x86-64).  Each handles the leading pixels of a row and returns how
// many it did; the scalar loops finish the row.  Loads and stores of 16
// bytes stay inside the row: loops stop six pixels before its end.
bool have_ssse3()
{
    static const bool yes = __builtin_cpu_supports("ssse3");
    return yes;
}

// shuffle[j] = source byte of output byte j within one step, or -1 for a
// constant 255 (only used with 4-byte output).
__attribute__((target("ssse3"))) int simd_gather_row(
    const uint8_t *s, uint8_t *d, int w, int sb, int ob, const int src[4])
{
    alignas(16) uint8_t mask[16];
    alignas(16) uint8_t fill[16];
    int per = (sb == 3 && ob == 3) ? 5 : 4;  // pixels per step
    memset(fill, 0, sizeof fill);
    for (int k = 0; k < 16; k++)
        mask[k] = 0x80;
    for (int p = 0; p < per; p++)
        for (int j = 0; j < ob; j++) {
            int o = p * ob + j;
            if (src[j] < 0) {
                fill[o] = 0xff;
            } else {
                mask[o] = (uint8_t)(p * sb + src[j]);
            }
        }
    const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i *>(mask));
    const __m128i f = _mm_load_si128(reinterpret_cast<const __m128i *>(fill));
    int i = 0;
    if (sb == 4 && ob == 3) {
        // Sixteen pixels make three whole 16-byte stores.
        for (; i + 16 + 6 <= w; i += 16) {
            const __m128i *sp = reinterpret_cast<const __m128i *>(s + (size_t)i * 4);
            __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(sp), m);
            __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(sp + 1), m);
            __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(sp + 2), m);
            __m128i e = _mm_shuffle_epi8(_mm_loadu_si128(sp + 3), m);
            __m128i *dp = reinterpret_cast<__m128i *>(d + (size_t)i * 3);
            _mm_storeu_si128(dp, _mm_or_si128(a, _mm_slli_si128(b, 12)));
            _mm_storeu_si128(dp + 1, _mm_or_si128(_mm_srli_si128(b, 4),
                                                  _mm_slli_si128(c, 8)));
            _mm_storeu_si128(dp + 2, _mm_or_si128(_mm_srli_si128(c, 8),
                                                  _mm_slli_si128(e, 4)));
        }
    }
    for (; i + 6 + per <= w; i += per) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + (size_t)i * sb));
        v = _mm_or_si128(_mm_shuffle_epi8(v, m), f);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + (size_t)i * ob), v);
    }
    return i;
}
#endif

inline uint8_t channel(Uint32 px, Uint32 mask, Uint8 shift, Uint8 loss)
{
    // A missing channel has mask 0; loss can be 8 there.
    return (uint8_t)((((px & mask) >> shift) << loss) & 0xff);
}

inline uint8_t premul(uint8_t c, uint8_t a)
{
    return (uint8_t)((unsigned)c * a / 255);
}

// Channels of `n` pixels (index bytes for palette formats) into rgba[].
void fill_rgba(const SurfaceView &v, const uint8_t *row, int n, int bytes,
               bool key_alpha, uint8_t (*rgba)[4])
{
    if (bytes == 1 && v.palette) {
        for (int i = 0; i < n; i++) {
            unsigned idx = row[i];
            if ((int)idx < v.ncolors) {
                rgba[i][0] = v.palette[idx].r;
                rgba[i][1] = v.palette[idx].g;
                rgba[i][2] = v.palette[idx].b;
            } else {
                rgba[i][0] = rgba[i][1] = rgba[i][2] = 0;
            }
            rgba[i][3] = (key_alpha && idx == v.key) ? 0 : 255;
        }
        return;
    }
    for (int i = 0; i < n; i++) {
        Uint32 px = lm::px_load(row + (size_t)i * bytes, bytes);
        rgba[i][0] = channel(px, v.rmask, v.rshift, v.rloss);
        rgba[i][1] = channel(px, v.gmask, v.gshift, v.gloss);
        rgba[i][2] = channel(px, v.bmask, v.bshift, v.bloss);
        // A key pixel is transparent; every other keeps its own alpha.
        if (key_alpha && px == v.key)
            rgba[i][3] = 0;
        else if (v.amask)
            rgba[i][3] = channel(px, v.amask, v.ashift, v.aloss);
        else
            rgba[i][3] = 255;
    }
}

void pack(Layout l, const uint8_t (*c)[4], int n, uint8_t *out)
{
    switch (l) {
    case Layout::RGB:
        for (int i = 0; i < n; i++, out += 3) {
            out[0] = c[i][0];
            out[1] = c[i][1];
            out[2] = c[i][2];
        }
        break;
    case Layout::BGR:
        for (int i = 0; i < n; i++, out += 3) {
            out[0] = c[i][2];
            out[1] = c[i][1];
            out[2] = c[i][0];
        }
        break;
    case Layout::RGBX:
    case Layout::RGBA:
        memcpy(out, c, (size_t)n * 4);
        break;
    case Layout::ARGB:
        for (int i = 0; i < n; i++, out += 4) {
            out[0] = c[i][3];
            out[1] = c[i][0];
            out[2] = c[i][1];
            out[3] = c[i][2];
        }
        break;
    case Layout::BGRA:
        for (int i = 0; i < n; i++, out += 4) {
            out[0] = c[i][2];
            out[1] = c[i][1];
            out[2] = c[i][0];
            out[3] = c[i][3];
        }
        break;
    case Layout::RGBA_PREMULT:
        for (int i = 0; i < n; i++, out += 4) {
            uint8_t a = c[i][3];
            out[0] = premul(c[i][0], a);
            out[1] = premul(c[i][1], a);
            out[2] = premul(c[i][2], a);
            out[3] = a;
        }
        break;
    case Layout::ARGB_PREMULT:
        for (int i = 0; i < n; i++, out += 4) {
            uint8_t a = c[i][3];
            out[0] = a;
            out[1] = premul(c[i][0], a);
            out[2] = premul(c[i][1], a);
            out[3] = premul(c[i][2], a);
        }
        break;
    case Layout::P:
        break;
    }
}

// Byte index of a whole-byte channel mask inside a pixel of `bytes`
// bytes, or -1 when the mask is not one whole byte.
int byte_index(Uint32 mask, int bytes)
{
    for (int k = 0; k < bytes; k++)
        if (mask == (Uint32)0xff << (8 * k))
            return k;
    return -1;
}

// Gather plan: output byte j is source byte src[j], or 255 when src[j] < 0.
struct Gather {
    int out_bytes;
    int src[4];
};

// Which source byte feeds each output byte, or false when the surface
// needs the general path.
bool plan_gather(const SurfaceView &v, Layout l, Gather *g)
{
    if ((v.bytes != 3 && v.bytes != 4) || v.palette)
        return false;
    if (l == Layout::P || l == Layout::RGBA_PREMULT || l == Layout::ARGB_PREMULT)
        return false;
    if (l == Layout::RGBA && v.has_key)
        return false;
    int r = byte_index(v.rmask, v.bytes), gg = byte_index(v.gmask, v.bytes),
        b = byte_index(v.bmask, v.bytes);
    if (r < 0 || gg < 0 || b < 0)
        return false;
    int a = -1;
    if (v.amask) {
        a = byte_index(v.amask, v.bytes);
        if (a < 0)
            return false;
    }
    switch (l) {
    case Layout::RGB: *g = {3, {r, gg, b, -1}}; break;
    case Layout::BGR: *g = {3, {b, gg, r, -1}}; break;
    case Layout::RGBX:
    case Layout::RGBA: *g = {4, {r, gg, b, a}}; break;
    case Layout::ARGB: *g = {4, {a, r, gg, b}}; break;
    case Layout::BGRA: *g = {4, {b, gg, r, a}}; break;
    default: return false;
    }
    return true;
}

template <int SB>
inline Uint32 load_px(const uint8_t *p)
{
    if (SB == 4) {
        Uint32 v;
        memcpy(&v, p, 4);
        return v;
    }
    return (Uint32)p[0] | ((Uint32)p[1] << 8) | ((Uint32)p[2] << 16);
}

// Output pixel value (little-endian byte order) from a source value.
struct GatherOp {
    Uint32 sh[4];
    Uint32 keep[4];
    Uint32 fill;
    inline Uint32 operator()(Uint32 p) const
    {
        return fill | ((p >> sh[0]) & keep[0]) | (((p >> sh[1]) & keep[1]) << 8) |
               (((p >> sh[2]) & keep[2]) << 16) | (((p >> sh[3]) & keep[3]) << 24);
    }
};

template <int SB, int OB>
void gather_row(const uint8_t *s, uint8_t *d, int w, const GatherOp &op)
{
    if (OB == 4) {
        for (int i = 0; i < w; i++) {
            Uint32 o = op(load_px<SB>(s + (size_t)i * SB));
            memcpy(d + (size_t)i * 4, &o, 4);
        }
        return;
    }
    // Three output bytes: four pixels make three whole words.
    int i = 0;
    for (; i + 4 <= w; i += 4) {
        const uint8_t *sp = s + (size_t)i * SB;
        Uint32 o0 = op(load_px<SB>(sp));
        Uint32 o1 = op(load_px<SB>(sp + SB));
        Uint32 o2 = op(load_px<SB>(sp + 2 * SB));
        Uint32 o3 = op(load_px<SB>(sp + 3 * SB));
        Uint32 w0 = (o0 & 0xffffff) | (o1 << 24);
        Uint32 w1 = ((o1 >> 8) & 0xffff) | (o2 << 16);
        Uint32 w2 = ((o2 >> 16) & 0xff) | (o3 << 8);
        uint8_t *dp = d + (size_t)i * 3;
        memcpy(dp, &w0, 4);
        memcpy(dp + 4, &w1, 4);
        memcpy(dp + 8, &w2, 4);
    }
    for (; i < w; i++) {
        Uint32 o = op(load_px<SB>(s + (size_t)i * SB));
        uint8_t *dp = d + (size_t)i * 3;
        dp[0] = (uint8_t)o;
        dp[1] = (uint8_t)(o >> 8);
        dp[2] = (uint8_t)(o >> 16);
    }
}

void run_gather(const SurfaceView &v, const Gather &g, bool flipped, uint8_t *out)
{
    size_t out_row = (size_t)v.w * g.out_bytes;
    bool identity = g.out_bytes == v.bytes;
    for (int j = 0; j < g.out_bytes; j++)
        if (g.src[j] != j)
            identity = false;
    GatherOp op;
    op.fill = 0;
    for (int j = 0; j < 4; j++) {
        int k = j < g.out_bytes ? g.src[j] : -1;
        op.sh[j] = k < 0 ? 0 : (Uint32)(8 * k);
        op.keep[j] = k < 0 ? 0 : 0xff;
        if (k < 0 && j < g.out_bytes)
            op.fill |= (Uint32)0xff << (8 * j);
    }
    if (identity && !flipped && (size_t)v.pitch == out_row) {
        memcpy(out, v.pixels, out_row * (size_t)v.h);
        return;
    }
    for (int y = 0; y < v.h; y++) {
        int sy = flipped ? v.h - 1 - y : y;
        const uint8_t *s = v.pixels + (size_t)sy * v.pitch;
        uint8_t *d = out + (size_t)y * out_row;
        if (identity) {
            memcpy(d, s, out_row);
            continue;
        }
        int done = 0;
#ifdef LM_HAVE_SSSE3_PATH
        if (have_ssse3())
            done = simd_gather_row(s, d, v.w, v.bytes, g.out_bytes, g.src);
#endif
        s += (size_t)done * v.bytes;
        d += (size_t)done * g.out_bytes;
        if (v.bytes == 4 && g.out_bytes == 4)
            gather_row<4, 4>(s, d, v.w - done, op);
        else if (v.bytes == 4)
            gather_row<4, 3>(s, d, v.w - done, op);
        else if (g.out_bytes == 4)
            gather_row<3, 4>(s, d, v.w - done, op);
        else
            gather_row<3, 3>(s, d, v.w - done, op);
    }
}

}  // namespace

bool whole_byte_channels(const SurfaceView &v)
{
    Gather g;
    return plan_gather(v, Layout::RGB, &g);
}

int layout_bytes(Layout l)
{
    switch (l) {
    case Layout::P: return 1;
    case Layout::RGB:
    case Layout::BGR: return 3;
    default: return 4;
    }
}

SurfaceView view_of(const SDL_Surface *s)
{
    SurfaceView v;
    const SDL_PixelFormat *f = s->format;
    v.pixels = static_cast<const uint8_t *>(s->pixels);
    v.w = s->w;
    v.h = s->h;
    v.pitch = s->pitch;
    v.bytes = f->BytesPerPixel;
    v.bits = f->BitsPerPixel;
    v.msb_first = SDL_PIXELORDER(f->format) == SDL_BITMAPORDER_1234;
    v.rmask = f->Rmask;
    v.gmask = f->Gmask;
    v.bmask = f->Bmask;
    v.amask = f->Amask;
    v.rshift = f->Rshift;
    v.gshift = f->Gshift;
    v.bshift = f->Bshift;
    v.ashift = f->Ashift;
    v.rloss = f->Rloss;
    v.gloss = f->Gloss;
    v.bloss = f->Bloss;
    v.aloss = f->Aloss;
    v.palette = f->palette ? f->palette->colors : nullptr;
    v.ncolors = f->palette ? f->palette->ncolors : 0;
    Uint32 key = 0;
    v.has_key = SDL_GetColorKey(const_cast<SDL_Surface *>(s), &key) == 0;
    v.key = key;
    return v;
}

void unpack_indices(const uint8_t *row, int w, int bits, bool msb_first,
                    uint8_t *out)
{
    int per_byte = 8 / bits;
    unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < w; x++) {
        unsigned byte = row[x / per_byte];
        int slot = x % per_byte;
        int shift = msb_first ? 8 - bits * (slot + 1) : bits * slot;
        out[x] = (uint8_t)((byte >> shift) & mask);
    }
}

void to_bytes(const SurfaceView &v, Layout l, bool flipped, uint8_t *out)
{
    int ob = layout_bytes(l);
    size_t out_row = (size_t)v.w * ob;
    if (l == Layout::P) {
        for (int y = 0; y < v.h; y++) {
            int sy = flipped ? v.h - 1 - y : y;
            memcpy(out + (size_t)y * out_row, v.pixels + (size_t)sy * v.pitch,
                   out_row);
        }
        return;
    }
    Gather g;
    if (plan_gather(v, l, &g)) {
        run_gather(v, g, flipped, out);
        return;
    }
    bool key_alpha = l == Layout::RGBA && v.has_key;
    const bool packed = v.bits < 8;
    const int bytes = packed ? 1 : v.bytes;
    constexpr int kChunk = 256;
    uint8_t rgba[kChunk][4];
    uint8_t idx[kChunk];
    for (int y = 0; y < v.h; y++) {
        int sy = flipped ? v.h - 1 - y : y;
        const uint8_t *row = v.pixels + (size_t)sy * v.pitch;
        uint8_t *d = out + (size_t)y * out_row;
        for (int x0 = 0; x0 < v.w; x0 += kChunk) {
            int n = v.w - x0 < kChunk ? v.w - x0 : kChunk;
            const uint8_t *src;
            if (packed) {
                // Sub-byte pixels never start mid-chunk: kChunk is a
                // multiple of every pixels-per-byte count.
                unpack_indices(row + (size_t)x0 * v.bits / 8, n, v.bits,
                               v.msb_first, idx);
                src = idx;
            } else {
                src = row + (size_t)x0 * bytes;
            }
            fill_rgba(v, src, n, bytes, key_alpha, rgba);
            pack(l, rgba, n, d + (size_t)x0 * ob);
        }
    }
}

void from_bytes(const uint8_t *in, Layout l, bool flipped, uint8_t *pixels,
                int w, int h, int pitch)
{
    int ib = layout_bytes(l);
    size_t in_row = (size_t)w * ib;
    if (l != Layout::RGB) {
        if (!flipped && (size_t)pitch == in_row) {
            memcpy(pixels, in, in_row * (size_t)h);
            return;
        }
        for (int y = 0; y < h; y++) {
            int dy = flipped ? h - 1 - y : y;
            memcpy(pixels + (size_t)dy * pitch, in + (size_t)y * in_row, in_row);
        }
        return;
    }
    // "RGB" lands in a surface whose masks put blue in the first byte:
    // reverse each pixel's three bytes.
    for (int y = 0; y < h; y++) {
        int dy = flipped ? h - 1 - y : y;
        const uint8_t *s = in + (size_t)y * in_row;
        uint8_t *d = pixels + (size_t)dy * pitch;
        int x = 0;
#ifdef LM_HAVE_SSSE3_PATH
        if (have_ssse3()) {
            static const int rev[4] = {2, 1, 0, -1};
            x = simd_gather_row(s, d, w, 3, 3, rev);
            s += (size_t)x * 3;
            d += (size_t)x * 3;
        }
#endif
        for (; x + 4 <= w; x += 4, s += 12, d += 12) {
            Uint32 w0, w1, w2;
            memcpy(&w0, s, 4);
            memcpy(&w1, s + 4, 4);
            memcpy(&w2, s + 8, 4);
            // Bytes r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3 (little-endian
            // words) become b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3.
            Uint32 o0 = ((w0 >> 16) & 0xff) | (w0 & 0xff00) | ((w0 & 0xff) << 16) |
                        ((w1 & 0xff00) << 16);
            Uint32 o1 = (w1 & 0xff) | ((w0 >> 16) & 0xff00) | ((w2 & 0xff) << 16) |
                        (w1 & 0xff000000);
            // o2: r2 b3 g3 r3.
            Uint32 o2 = ((w1 >> 16) & 0xff) | ((w2 >> 24) << 8) |
                        (((w2 >> 16) & 0xff) << 16) | (((w2 >> 8) & 0xff) << 24);
            memcpy(d, &o0, 4);
            memcpy(d + 4, &o1, 4);
            memcpy(d + 8, &o2, 4);
        }
        for (; x < w; x++, s += 3, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
}

void surface_masks(Layout l, bool shared, int *depth, Uint32 *r, Uint32 *g,
                   Uint32 *b, Uint32 *a)
{
    *a = 0;
    switch (l) {
    case Layout::P:
        *depth = 8;
        *r = *g = *b = 0;
        return;
    case Layout::RGB:
        *depth = 24;
        if (shared) {
            *r = 0xff; *g = 0xff00; *b = 0xff0000;
        } else {
            *r = 0xff0000; *g = 0xff00; *b = 0xff;
        }
        return;
    case Layout::BGR:
        *depth = 24;
        *r = 0xff0000; *g = 0xff00; *b = 0xff;
        return;
    case Layout::RGBX:
        *depth = 32;
        *r = 0xff; *g = 0xff00; *b = 0xff0000;
        return;
    case Layout::RGBA:
        *depth = 32;
        *r = 0xff; *g = 0xff00; *b = 0xff0000; *a = 0xff000000;
        return;
    case Layout::BGRA:
        *depth = 32;
        *r = 0xff0000; *g = 0xff00; *b = 0xff; *a = 0xff000000;
        return;
    case Layout::ARGB:
        *depth = 32;
        *r = 0xff00; *g = 0xff0000; *b = 0xff000000; *a = 0xff;
        return;
    default:
        *depth = 32;
        *r = *g = *b = 0;
        return;
    }
}

}  // namespace lmimg
