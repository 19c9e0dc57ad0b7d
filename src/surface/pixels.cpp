// Pixel kernels of lumora.surface: blits, fills, scrolling.
//
// Blending follows one set of integer formulas everywhere (per-pixel and
// surface alpha: d + ((s - d) * a) / 255 per colour channel, alpha
// a + ((255 - a) * dA) / 255), with fast loops for the common 32-bit
// layouts and a generic loop per pair of pixel sizes for the rest.
#include "pixels.h"

#include "blendvec.h"

#include <algorithm>
#include <atomic>

#if defined(__arm__) && defined(__linux__)
#include <sys/auxv.h>
#ifndef HWCAP_NEON
#define LM_HWCAP_NEON 4096
#else
#define LM_HWCAP_NEON HWCAP_NEON
#endif
#endif

namespace lmpx {

Uint8 expand[9][256];

static void find_kernels();

void init_tables()
{
    find_kernels();
    for (int loss = 0; loss <= 8; ++loss) {
        int bits = 8 - loss;
        for (int v = 0; v < 256; ++v) {
            if (bits == 0 || v >= (1 << bits)) {
                expand[loss][v] = 0;
                continue;
            }
            int r = 0;
            for (int pos = 8 - bits; pos > -bits; pos -= bits)
                r |= pos >= 0 ? (v << pos) : (v >> -pos);
            expand[loss][v] = (Uint8)r;
        }
    }
}

void default_palette(SDL_Color out[256])
{
    for (int i = 0; i < 256; ++i) {
        out[i].r = expand[5][(i >> 5) & 7];
        out[i].g = expand[5][(i >> 2) & 7];
        out[i].b = expand[6][i & 3];
        out[i].a = 255;
    }
}

Fmt fmt_of(const SDL_PixelFormat *f)
{
    Fmt r;
    r.bpp = f->BytesPerPixel;
    if (f->palette && r.bpp == 1) {
        r.pal = f->palette->colors;
        r.npal = f->palette->ncolors;
        return r;
    }
    r.mask[R] = f->Rmask;
    r.mask[G] = f->Gmask;
    r.mask[B] = f->Bmask;
    r.mask[A] = f->Amask;
    r.shift[R] = f->Rshift;
    r.shift[G] = f->Gshift;
    r.shift[B] = f->Bshift;
    r.shift[A] = f->Ashift;
    r.loss[R] = f->Rloss;
    r.loss[G] = f->Gloss;
    r.loss[B] = f->Bloss;
    r.loss[A] = f->Amask ? f->Aloss : 8;
    return r;
}

static bool same_palette(const Fmt &a, const Fmt &b)
{
    if (a.pal == b.pal)
        return true;
    if (a.npal != b.npal)
        return false;
    for (int i = 0; i < a.npal; ++i) {
        if (a.pal[i].r != b.pal[i].r || a.pal[i].g != b.pal[i].g ||
            a.pal[i].b != b.pal[i].b)
            return false;
    }
    return true;
}

bool same_layout(const Fmt &a, const Fmt &b)
{
    if (a.bpp != b.bpp || (a.pal != nullptr) != (b.pal != nullptr))
        return false;
    if (a.pal)
        return same_palette(a, b);
    for (int c = 0; c < 4; ++c)
        if (a.mask[c] != b.mask[c])
            return false;
    return true;
}

Uint32 read_pixel(const Uint8 *p, int bpp)
{
    switch (bpp) {
    case 1: return rd<1>(p);
    case 2: return rd<2>(p);
    case 3: return rd<3>(p);
    default: return rd<4>(p);
    }
}

void write_pixel(Uint8 *p, int bpp, Uint32 v)
{
    switch (bpp) {
    case 1: wr<1>(p, v); break;
    case 2: wr<2>(p, v); break;
    case 3: wr<3>(p, v); break;
    default: wr<4>(p, v); break;
    }
}

int nearest_index(const SDL_Color *pal, int n, Uint8 r, Uint8 g, Uint8 b)
{
    int best = 0;
    unsigned bestd = ~0u;
    for (int i = 0; i < n; ++i) {
        int dr = (int)pal[i].r - r, dg = (int)pal[i].g - g,
            db = (int)pal[i].b - b;
        unsigned d = (unsigned)(dr * dr + dg * dg + db * db);
        if (d < bestd) {
            bestd = d;
            best = i;
            if (d == 0)
                break;
        }
    }
    return best;
}

Uint32 encode(const Fmt &f, const Uint8 c[4])
{
    Encoder e(f);
    return e(c);
}

bool valid_special(int flags)
{
    return (flags >= BLEND_ADD && flags <= BLEND_RGBA_MAX) ||
           flags == BLEND_PREMULTIPLIED;
}

// ---------------------------------------------------------------------------
// Channel arithmetic.
// ---------------------------------------------------------------------------

static inline int mix(int s, int d, int a)
{
    return d + ((s - d) * a) / 255;
}

static inline int over_alpha(int sa, int da)
{
    return sa + ((255 - sa) * da) / 255;
}

static inline void combine_special(int flag, const Uint8 s[4], Uint8 d[4])
{
    int n = 3;
    int op = flag;
    if (flag >= BLEND_RGBA_ADD && flag <= BLEND_RGBA_MAX) {
        n = 4;
        op = flag - (BLEND_RGBA_ADD - BLEND_ADD);
    }
    if (flag == BLEND_PREMULTIPLIED) {
        int inv = 255 - s[A];
        for (int c = 0; c < 3; ++c)
            d[c] = (Uint8)std::min(255, s[c] + (d[c] * inv) / 255);
        d[A] = (Uint8)over_alpha(s[A], d[A]);
        return;
    }
    for (int c = 0; c < n; ++c) {
        int sv = s[c], dv = d[c];
        switch (op) {
        case BLEND_ADD: dv = std::min(255, sv + dv); break;
        case BLEND_SUB: dv = std::max(0, dv - sv); break;
        case BLEND_MULT: dv = (sv * dv + 127) / 255; break;
        case BLEND_MIN: dv = std::min(sv, dv); break;
        case BLEND_MAX: dv = std::max(sv, dv); break;
        default: break;
        }
        d[c] = (Uint8)dv;
    }
}

// ---------------------------------------------------------------------------
// 32-bit to 32-bit with the same 8-bit colour channels (XRGB/ARGB and their
// relatives): the formats games use.
// ---------------------------------------------------------------------------

static bool fast32(const Fmt &sf, const Fmt &df)
{
    if (sf.bpp != 4 || df.bpp != 4 || sf.pal || df.pal)
        return false;
    for (int c = 0; c < 3; ++c)
        if (sf.mask[c] != df.mask[c] || sf.loss[c] != 0)
            return false;
    if (sf.mask[A] && sf.loss[A] != 0)
        return false;
    if (df.mask[A] && df.loss[A] != 0)
        return false;
    return true;
}

template <int MODE, bool CK, bool DALPHA>
static void k32(const Fmt &sf, const Area &s, const Fmt &df, const Area &d,
                const BlitOp &op)
{
    const Uint32 rgbm = sf.mask[R] | sf.mask[G] | sf.mask[B];
    const int rs = sf.shift[R], gs = sf.shift[G], bs = sf.shift[B];
    const int sas = sf.shift[A], das = df.shift[A];
    const bool salpha = sf.mask[A] != 0;
    const Uint32 dam = df.mask[A];
    const Uint32 key = op.key & rgbm;
    const int mod = op.alphamod;
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        for (int x = 0; x < s.w; ++x, sp += 4, dp += 4) {
            Uint32 sv = rd<4>(sp);
            if (CK && (sv & rgbm) == key)
                continue;
            if (MODE == MODE_COPY) {
                Uint32 out = sv & rgbm;
                if (DALPHA)
                    out |= salpha ? (((sv >> sas) & 0xFF) << das) : dam;
                wr<4>(dp, out);
                continue;
            }
            int a;
            if (MODE == MODE_PIXEL) {
                a = (int)((sv >> sas) & 0xFF);
                if (mod != 255)
                    a = (a * mod) / 255;
            }
            else {
                a = mod;
            }
            if (a == 0)
                continue;
            Uint32 dv = rd<4>(dp);
            Uint32 out;
            if (a == 255) {
                out = sv & rgbm;
            }
            else {
                int r = mix((int)((sv >> rs) & 0xFF), (int)((dv >> rs) & 0xFF), a);
                int g = mix((int)((sv >> gs) & 0xFF), (int)((dv >> gs) & 0xFF), a);
                int b = mix((int)((sv >> bs) & 0xFF), (int)((dv >> bs) & 0xFF), a);
                out = ((Uint32)r << rs) | ((Uint32)g << gs) | ((Uint32)b << bs);
            }
            if (DALPHA)
                out |= (Uint32)over_alpha(a, (int)((dv >> das) & 0xFF)) << das;
            wr<4>(dp, out);
        }
    }
}

// d + trunc((s - d) * a / 255) without branches, so that the loop below
// vectorises: the magnitude is scaled and the sign put back.
static inline Uint32 mix_bf(Uint32 s, Uint32 d, Uint32 a)
{
    int diff = (int)s - (int)d;
    int neg = diff >> 31;
    unsigned mag = (unsigned)((diff ^ neg) - neg);
    int q = (int)div255(mag * a);
    return (Uint32)((int)d + ((q ^ neg) - neg));
}

// Blending without a colour key: no per-pixel early exits (alpha 0 and 255
// fall out of the formulas exactly), which lets the compiler vectorise.
template <int MODE, bool DALPHA>
static void k32_blend(const Fmt &sf, const Area &s, const Fmt &df,
                      const Area &d, const BlitOp &op)
{
    const int rs = sf.shift[R], gs = sf.shift[G], bs = sf.shift[B];
    const int sas = sf.shift[A], das = df.shift[A];
    const Uint32 mod = op.alphamod;
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        const int w = s.w;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
        for (int x = 0; x < w; ++x) {
            Uint32 sv = rd<4>(sp + 4 * x);
            Uint32 dv = rd<4>(dp + 4 * x);
            Uint32 a;
            if (MODE == MODE_PIXEL) {
                a = (sv >> sas) & 0xFF;
                if (mod != 255)
                    a = div255(a * mod);
            }
            else {
                a = mod;
            }
            Uint32 out =
                (mix_bf((sv >> rs) & 0xFF, (dv >> rs) & 0xFF, a) << rs) |
                (mix_bf((sv >> gs) & 0xFF, (dv >> gs) & 0xFF, a) << gs) |
                (mix_bf((sv >> bs) & 0xFF, (dv >> bs) & 0xFF, a) << bs);
            if (DALPHA) {
                Uint32 da = (dv >> das) & 0xFF;
                out |= (a + div255((255 - a) * da)) << das;
            }
            wr<4>(dp + 4 * x, out);
        }
    }
}

// Byte index of the channel at `shift` in a 32-bit pixel in memory.
static inline int byte_at(int shift)
{
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    return shift / 8;
#else
    return 3 - shift / 8;
#endif
}

// The byte holding neither R, G nor B when all three are whole bytes and
// that byte is the first or the last one; -1 otherwise.
static int spare_byte(const Fmt &f)
{
    for (int c = 0; c < 3; ++c)
        if (f.shift[c] % 8 != 0)
            return -1;
    int spare = 6 - byte_at(f.shift[R]) - byte_at(f.shift[G]) - byte_at(f.shift[B]);
    return spare == 0 || spare == 3 ? spare : -1;
}

// ---------------------------------------------------------------------------
// Choice of the blend row kernel.
// ---------------------------------------------------------------------------

static BlendKernel kernels[5] = {{"scalar", nullptr, nullptr}};
static int nkernels = 1;
static std::atomic<const BlendKernel *> current{&kernels[0]};

static void find_kernels()
{
    nkernels = 1;
#if defined(__x86_64__) || defined(__i386__)
    kernels[nkernels++] = {"sse2", blend_rows_base, low_rows_base};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        kernels[nkernels++] = {"avx2", blend_rows_avx2, low_rows_avx2};
    if (__builtin_cpu_supports("avx512bw"))
        kernels[nkernels++] = {"avx512bw", blend_rows_avx512, low_rows_avx512};
#elif defined(__aarch64__)
    kernels[nkernels++] = {"neon", blend_rows_base, low_rows_base};
#elif defined(__arm__)
    kernels[nkernels++] = {"generic", blend_rows_base, low_rows_base};
#if defined(__linux__)
    if (getauxval(AT_HWCAP) & LM_HWCAP_NEON)
        kernels[nkernels++] = {"neon", blend_rows_neon, low_rows_neon};
#endif
#else
    kernels[nkernels++] = {"generic", blend_rows_base, low_rows_base};
#endif
    current.store(&kernels[nkernels - 1]);
}

int blend_kernels(const BlendKernel **out)
{
    *out = kernels;
    return nkernels;
}

const BlendKernel &blend_kernel()
{
    return *current.load(std::memory_order_relaxed);
}

bool set_blend_kernel(const char *name)
{
    for (int i = 0; i < nkernels; ++i) {
        if (strcmp(kernels[i].name, name) == 0) {
            current.store(&kernels[i]);
            return true;
        }
    }
    return false;
}

template <int MODE, bool DALPHA>
static void k32_blend_any(const Fmt &sf, const Area &s, const Fmt &df,
                          const Area &d, const BlitOp &op)
{
    // fast32() has checked that both have the same 8-bit colour channels,
    // so a source alpha (which is 8-bit) is in the spare byte too.
    BlendRowsFn fn = blend_kernel().fn;
    int ab = spare_byte(sf);
    if (fn && ab >= 0) {
        fn(s, d, MODE == MODE_PIXEL, DALPHA, ab, op.alphamod);
        return;
    }
    k32_blend<MODE, DALPHA>(sf, s, df, d, op);
}

template <int MODE>
static void k32_mode(const Fmt &sf, const Area &s, const Fmt &df,
                     const Area &d, const BlitOp &op)
{
    bool da = df.mask[A] != 0;
    if (MODE != MODE_COPY && !op.colorkey) {
        if (da)
            k32_blend_any<MODE, true>(sf, s, df, d, op);
        else
            k32_blend_any<MODE, false>(sf, s, df, d, op);
        return;
    }
    if (op.colorkey) {
        if (da)
            k32<MODE, true, true>(sf, s, df, d, op);
        else
            k32<MODE, true, false>(sf, s, df, d, op);
    }
    else {
        if (da)
            k32<MODE, false, true>(sf, s, df, d, op);
        else
            k32<MODE, false, false>(sf, s, df, d, op);
    }
}

// ---------------------------------------------------------------------------
// 32-bit sources with whole-byte channels onto 16- and 24-bit targets, by
// the kernel's low_rows (see blendrows.h).
// ---------------------------------------------------------------------------

// Every channel the target has keeps at least 4 bits, so one shifted copy
// widens it exactly; and every bit belongs to a channel, since the generic
// loop leaves the unused bits of untouched pixels (alpha 0) as they were.
static bool low_target(const Fmt &sf, const Fmt &df)
{
    if (sf.bpp != 4 || sf.pal || spare_byte(sf) < 0)
        return false;
    for (int c = 0; c < 3; ++c)
        if (sf.loss[c] != 0)
            return false;
    if (sf.mask[A] && sf.loss[A] != 0)
        return false;
    if ((df.bpp != 2 && df.bpp != 3) || df.pal)
        return false;
    Uint32 all = df.mask[R] | df.mask[G] | df.mask[B] | df.mask[A];
    if (all != (df.bpp == 2 ? 0xFFFFu : 0xFFFFFFu))
        return false;
    for (int c = 0; c < 4; ++c) {
        if (!df.mask[c] && c != A)
            return false;
        if (df.mask[c] && df.loss[c] > 4)
            return false;
    }
    return true;
}

static LowPlan low_plan(const Fmt &sf, const Fmt &df, const BlitOp &op)
{
    LowPlan p;
    p.ab = spare_byte(sf);
    const int spare_shift = SDL_BYTEORDER == SDL_LIL_ENDIAN ? 8 * p.ab : 8 * (3 - p.ab);
    p.dalpha = df.mask[A] != 0;
    for (int c = 0; c < 4; ++c) {
        if (!df.mask[c])
            continue;
        p.ch[p.nch++] = {df.mask[c], df.shift[c], df.loss[c],
                         c == A ? spare_shift : sf.shift[c]};
    }
    p.npack = p.nch;
    // An opaque copy packs the source itself; a source without alpha is
    // opaque.
    if (op.mode == MODE_COPY && p.dalpha && !sf.mask[A]) {
        --p.npack;  // alpha is the last channel
        p.fixed = ((Uint32)(255 >> df.loss[A]) << df.shift[A]) & df.mask[A];
    }
    p.mode = op.mode == MODE_COPY ? 0 : op.mode == MODE_PIXEL ? 1 : 2;
    p.mod = op.alphamod;
    return p;
}

// ---------------------------------------------------------------------------
// Any format to any format.
// ---------------------------------------------------------------------------

template <int SB, int DB>
static void generic(const Fmt &sf, const Area &s, const Fmt &df,
                    const Area &d, const BlitOp &op)
{
    Encoder enc(df);
    const Uint32 km = sf.keymask();
    const Uint32 key = op.key & km;
    const bool dalpha = df.mask[A] != 0;
    const bool salpha = sf.mask[A] != 0;
    Uint8 sc[4], dc[4];
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        for (int x = 0; x < s.w; ++x, sp += SB, dp += DB) {
            Uint32 sv = rd<SB>(sp);
            if (op.colorkey && (sv & km) == key)
                continue;
            decode(sf, sv, sc);
            switch (op.mode) {
            case MODE_COPY:
                if (!salpha)
                    sc[A] = 255;
                wr<DB>(dp, enc(sc));
                break;
            case MODE_PIXEL:
            case MODE_SURFACE: {
                int a = op.mode == MODE_PIXEL ? sc[A] : op.alphamod;
                if (op.mode == MODE_PIXEL && op.alphamod != 255)
                    a = (a * op.alphamod) / 255;
                if (a == 0)
                    break;
                decode(df, rd<DB>(dp), dc);
                for (int c = 0; c < 3; ++c)
                    dc[c] = (Uint8)mix(sc[c], dc[c], a);
                dc[A] = dalpha ? (Uint8)over_alpha(a, dc[A]) : 255;
                wr<DB>(dp, enc(dc));
                break;
            }
            case MODE_SPECIAL:
                if (!salpha)
                    sc[A] = 255;
                decode(df, rd<DB>(dp), dc);
                combine_special(op.special, sc, dc);
                wr<DB>(dp, enc(dc));
                break;
            }
        }
    }
}

template <int SB>
static void generic_dst(const Fmt &sf, const Area &s, const Fmt &df,
                        const Area &d, const BlitOp &op)
{
    switch (df.bpp) {
    case 1: generic<SB, 1>(sf, s, df, d, op); break;
    case 2: generic<SB, 2>(sf, s, df, d, op); break;
    case 3: generic<SB, 3>(sf, s, df, d, op); break;
    default: generic<SB, 4>(sf, s, df, d, op); break;
    }
}

// Palette to palette, opaque: one table lookup per pixel.
static void copy_indexed(const Fmt &sf, const Area &s, const Fmt &df,
                         const Area &d, const BlitOp &op)
{
    Uint8 map[256];
    for (int i = 0; i < 256; ++i) {
        if (i < sf.npal)
            map[i] = (Uint8)nearest_index(df.pal, df.npal, sf.pal[i].r,
                                          sf.pal[i].g, sf.pal[i].b);
        else
            map[i] = 0;
    }
    const Uint8 key = (Uint8)op.key;
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        for (int x = 0; x < s.w; ++x) {
            if (op.colorkey && sp[x] == key)
                continue;
            dp[x] = map[sp[x]];
        }
    }
}

template <int N>
static void copy_keyed(const Area &s, const Area &d, Uint32 key, Uint32 km)
{
    key &= km;
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        if (N == 4) {
            // A select instead of a skip (keyed pixels are written back
            // unchanged), so that the loop vectorises.
            const int w = s.w;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
            for (int x = 0; x < w; ++x) {
                Uint32 v = rd<4>(sp + 4 * x), o = rd<4>(dp + 4 * x);
                wr<4>(dp + 4 * x, (v & km) != key ? v : o);
            }
            continue;
        }
        for (int x = 0; x < s.w; ++x, sp += N, dp += N) {
            Uint32 v = rd<N>(sp);
            if ((v & km) != key)
                wr<N>(dp, v);
        }
    }
}

void blit(const Fmt &sf, const Area &src, const Fmt &df, const Area &dst,
          const BlitOp &op)
{
    if (src.w <= 0 || src.h <= 0)
        return;
    if (op.mode == MODE_COPY && same_layout(sf, df)) {
        if (!op.colorkey) {
            size_t row = (size_t)src.w * sf.bpp;
            for (int y = 0; y < src.h; ++y)
                memcpy(dst.px + (size_t)y * dst.pitch,
                       src.px + (size_t)y * src.pitch, row);
            return;
        }
        Uint32 km = sf.keymask();
        switch (sf.bpp) {
        case 1: copy_keyed<1>(src, dst, op.key, km); return;
        case 2: copy_keyed<2>(src, dst, op.key, km); return;
        case 3: copy_keyed<3>(src, dst, op.key, km); return;
        default: copy_keyed<4>(src, dst, op.key, km); return;
        }
    }
    if (op.mode == MODE_COPY && sf.pal && df.pal) {
        copy_indexed(sf, src, df, dst, op);
        return;
    }
    if (fast32(sf, df)) {
        switch (op.mode) {
        case MODE_COPY: k32_mode<MODE_COPY>(sf, src, df, dst, op); return;
        case MODE_PIXEL: k32_mode<MODE_PIXEL>(sf, src, df, dst, op); return;
        case MODE_SURFACE: k32_mode<MODE_SURFACE>(sf, src, df, dst, op); return;
        default: break;
        }
    }
    // The scalar kernel keeps the generic loop as the reference here too.
    LowRowsFn low = blend_kernel().low;
    if (low && !op.colorkey && op.mode != MODE_SPECIAL && low_target(sf, df)) {
        low(src, dst, df.bpp, low_plan(sf, df, op));
        return;
    }
    switch (sf.bpp) {
    case 1: generic_dst<1>(sf, src, df, dst, op); break;
    case 2: generic_dst<2>(sf, src, df, dst, op); break;
    case 3: generic_dst<3>(sf, src, df, dst, op); break;
    default: generic_dst<4>(sf, src, df, dst, op); break;
    }
}

// ---------------------------------------------------------------------------
// Fills.
// ---------------------------------------------------------------------------

void fill(const Fmt &f, const Area &dst, Uint32 pixel)
{
    if (dst.w <= 0 || dst.h <= 0)
        return;
    const int bpp = f.bpp;
    const size_t row = (size_t)dst.w * bpp;
    Uint8 *first = dst.px;
    if (bpp == 1) {
        for (int y = 0; y < dst.h; ++y)
            memset(dst.px + (size_t)y * dst.pitch, (int)(pixel & 0xFF), row);
        return;
    }
    // One row by doubling, then row copies: no alignment assumptions, and
    // memcpy does the wide stores.
    write_pixel(first, bpp, pixel);
    size_t done = (size_t)bpp;
    while (done < row) {
        size_t n = std::min(done, row - done);
        memcpy(first + done, first, n);
        done += n;
    }
    for (int y = 1; y < dst.h; ++y)
        memcpy(dst.px + (size_t)y * dst.pitch, first, row);
}

template <int N>
static void fill_special_n(const Fmt &f, const Area &d, const Uint8 rgba[4],
                           int special)
{
    Encoder enc(f);
    Uint8 dc[4];
    for (int y = 0; y < d.h; ++y) {
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        for (int x = 0; x < d.w; ++x, dp += N) {
            decode(f, rd<N>(dp), dc);
            combine_special(special, rgba, dc);
            if (!f.alpha())
                dc[A] = 255;
            wr<N>(dp, enc(dc));
        }
    }
}

void fill_special(const Fmt &f, const Area &dst, const Uint8 rgba[4],
                  int special)
{
    if (dst.w <= 0 || dst.h <= 0)
        return;
    switch (f.bpp) {
    case 1: fill_special_n<1>(f, dst, rgba, special); break;
    case 2: fill_special_n<2>(f, dst, rgba, special); break;
    case 3: fill_special_n<3>(f, dst, rgba, special); break;
    default: fill_special_n<4>(f, dst, rgba, special); break;
    }
}

void scroll(const Area &a, int bpp, int dx, int dy)
{
    if (a.w <= 0 || a.h <= 0)
        return;
    // Negated in 64 bits: -INT_MIN does not fit an int.
    if ((long long)dx >= a.w || -(long long)dx >= a.w ||
        (long long)dy >= a.h || -(long long)dy >= a.h)
        return;
    if (dx == 0 && dy == 0)
        return;
    const int x0 = std::max(0, dx), x1 = std::min(a.w, a.w + dx);
    const size_t row = (size_t)(x1 - x0) * bpp;
    const int y0 = std::max(0, dy), y1 = std::min(a.h, a.h + dy);
    auto move_row = [&](int y) {
        Uint8 *d = a.px + (size_t)y * a.pitch + (size_t)x0 * bpp;
        const Uint8 *s = a.px + (size_t)(y - dy) * a.pitch + (size_t)(x0 - dx) * bpp;
        memmove(d, s, row);
    };
    // Rows move away from the side they come from, so no source row is
    // overwritten before it is read.
    if (dy > 0) {
        for (int y = y1 - 1; y >= y0; --y)
            move_row(y);
    }
    else {
        for (int y = y0; y < y1; ++y)
            move_row(y);
    }
}

void key_to_alpha(const Fmt &sf, const Area &src, const Fmt &df,
                  const Area &dst, Uint32 key)
{
    if (!df.alpha())
        return;
    const Uint32 km = sf.keymask();
    key &= km;
    for (int y = 0; y < src.h; ++y) {
        const Uint8 *sp = src.px + (size_t)y * src.pitch;
        Uint8 *dp = dst.px + (size_t)y * dst.pitch;
        for (int x = 0; x < src.w; ++x, sp += sf.bpp, dp += df.bpp) {
            if ((read_pixel(sp, sf.bpp) & km) == key)
                write_pixel(dp, df.bpp, read_pixel(dp, df.bpp) & ~df.mask[A]);
        }
    }
}

void bounding_rect(const Fmt &f, const Area &a, int min_alpha, bool use_key,
                   Uint32 key, int out[4])
{
    out[0] = out[1] = out[2] = out[3] = 0;
    const bool by_alpha = f.alpha();
    if (!by_alpha && !use_key) {
        out[2] = a.w;
        out[3] = a.h;
        return;
    }
    const Uint32 km = f.keymask();
    key &= km;
    int minx = a.w, maxx = -1, miny = a.h, maxy = -1;
    Uint8 c[4];
    for (int y = 0; y < a.h; ++y) {
        const Uint8 *p = a.px + (size_t)y * a.pitch;
        for (int x = 0; x < a.w; ++x, p += f.bpp) {
            Uint32 v = read_pixel(p, f.bpp);
            bool visible;
            if (by_alpha) {
                decode(f, v, c);
                visible = c[A] >= min_alpha && !(use_key && (v & km) == key);
            }
            else {
                visible = (v & km) != key;
            }
            if (visible) {
                if (x < minx) minx = x;
                if (x > maxx) maxx = x;
                if (y < miny) miny = y;
                if (y > maxy) maxy = y;
            }
        }
    }
    if (maxx < 0)
        return;
    out[0] = minx;
    out[1] = miny;
    out[2] = maxx - minx + 1;
    out[3] = maxy - miny + 1;
}

}  // namespace lmpx
