// The alpha-blend row kernel over 32-bit pixels whose colour channels are
// whole bytes, written once with GCC's vector extensions and compiled once
// per instruction set (blend_*.cpp each include this header with their own
// flags and LM_BLEND_PX, inside an unnamed namespace so that the copies
// never merge at link time).
//
// Per channel the result is d + trunc((s - d) * a / 255).  With
// T = d * (255 - a) + s * a that is floor(T / 255) when s >= d and
// ceil(T / 255) otherwise, and T + 254 <= 65279 fits 16-bit lanes.  The
// spare byte AB is the destination's alpha, blended as if the source byte
// were 255 (which equals a + (255 - a) * dA / 255), or its unused byte,
// written as 0.  Alpha 0 and 255 fall out of the formula exactly, so there
// are no per-pixel branches.
#pragma once

#include "blendvec.h"

#include <cstring>
#include <utility>

#ifndef LM_BLEND_PX
#error "define LM_BLEND_PX (pixels per vector step) before including blendrows.h"
#endif

namespace {

constexpr int PX = LM_BLEND_PX;
typedef Uint8 vbytes __attribute__((vector_size(4 * PX)));
typedef Uint16 vlanes __attribute__((vector_size(8 * PX)));
typedef Sint16 vslanes __attribute__((vector_size(8 * PX)));

// Constant lane patterns (a shuffle with a variable mask is scalarised).
template <int AB, bool DALPHA, typename Seq>
struct Lanes;
template <int AB, bool DALPHA, size_t... I>
struct Lanes<AB, DALPHA, std::index_sequence<I...>> {
    static constexpr vlanes orpat = {(Uint16)(I % 4 == AB ? 255 : 0)...};
    static constexpr vlanes andpat = {(Uint16)(I % 4 == AB && !DALPHA ? 0 : 0xFFFF)...};
    static constexpr vlanes pick = {(Uint16)(I - I % 4 + AB)...};
    static constexpr vlanes k255 = {(Uint16)(I * 0 + 255)...};
    static constexpr vlanes one = {(Uint16)(I * 0 + 1)...};
};

inline unsigned mix8(unsigned s, unsigned d, unsigned a)
{
    return lmpx::div255(d * (255 - a) + s * a + (s < d ? 254u : 0u));
}

template <bool PIXEL, bool DALPHA, int AB>
void tail(const Uint8 *sp, Uint8 *dp, int n, unsigned mod)
{
    for (int x = 0; x < n; ++x, sp += 4, dp += 4) {
        unsigned a = mod;
        if (PIXEL) {
            a = sp[AB];
            if (mod != 255)
                a = lmpx::div255(a * mod);
        }
        for (int c = 0; c < 4; ++c) {
            unsigned r = mix8(c == AB ? 255u : sp[c], dp[c], a);
            dp[c] = (Uint8)(c == AB && !DALPHA ? 0u : r);
        }
    }
}

template <bool PIXEL, bool DALPHA, int AB>
void rows(const lmpx::Area &s, const lmpx::Area &d, unsigned modv)
{
    typedef Lanes<AB, DALPHA, std::make_index_sequence<4 * PX>> L;
    constexpr vlanes orpat = L::orpat, andpat = L::andpat, pick = L::pick;
    constexpr vlanes k255 = L::k255, one = L::one;
    const Uint16 mod = (Uint16)modv;
    const vlanes vmod = one * mod;
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        int x = 0;
        for (; x + PX <= s.w; x += PX) {
            vbytes s8, d8;
            memcpy(&s8, sp + 4 * x, sizeof s8);
            memcpy(&d8, dp + 4 * x, sizeof d8);
            vlanes sv = __builtin_convertvector(s8, vlanes);
            vlanes dv = __builtin_convertvector(d8, vlanes);
            vlanes a = vmod;
            if (PIXEL) {
                a = __builtin_shuffle(sv, pick);
                if (mod != 255) {
                    vlanes t = a * vmod;
                    a = (t + one + (t >> 8)) >> 8;
                }
            }
            sv |= orpat;
            vlanes adj = (vlanes)((vslanes)sv < (vslanes)dv) & (Uint16)254;
            vlanes t = dv * (k255 - a) + sv * a + adj;
            vlanes r = ((t + one + (t >> 8)) >> 8) & andpat;
            vbytes o = __builtin_convertvector(r, vbytes);
            memcpy(dp + 4 * x, &o, sizeof o);
        }
        tail<PIXEL, DALPHA, AB>(sp + 4 * x, dp + 4 * x, s.w - x, mod);
    }
}

// Surface alpha 128 on whole bytes, 2 * PX pixels a step.  For a = 128,
// d + trunc((s - d) * 128 / 255) is the mean of s and d rounded towards d,
// except that |s - d| = 255 rounds the other way: with c = ceil((s+d)/2),
// the result is c - 1 exactly when s ^ d is odd and (s >= d) differs from
// (|s - d| == 255), that is (s ^ d == 255 with s 0 or 255).
typedef Uint8 vwide __attribute__((vector_size(8 * PX)));

template <int AB, bool DALPHA, typename Seq>
struct Bytes;
template <int AB, bool DALPHA, size_t... I>
struct Bytes<AB, DALPHA, std::index_sequence<I...>> {
    static constexpr vwide orpat = {(Uint8)(I % 4 == AB ? 255 : 0)...};
    static constexpr vwide andpat = {(Uint8)(I % 4 == AB && !DALPHA ? 0 : 255)...};
    static constexpr vwide one = {(Uint8)(I * 0 + 1)...};
};

template <bool DALPHA, int AB>
void rows_half(const lmpx::Area &s, const lmpx::Area &d)
{
    typedef Bytes<AB, DALPHA, std::make_index_sequence<8 * PX>> K;
    constexpr vwide orpat = K::orpat, andpat = K::andpat, one = K::one;
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        int x = 0;
        for (; x + 2 * PX <= s.w; x += 2 * PX) {
            vwide sv, dv;
            memcpy(&sv, sp + 4 * x, sizeof sv);
            memcpy(&dv, dp + 4 * x, sizeof dv);
            sv |= orpat;
            vwide x1 = sv ^ dv;
            vwide c = (sv | dv) - (x1 >> 1);
            vwide ge = (vwide)(sv >= dv);
            vwide full = (vwide)(x1 == (Uint8)255) & (vwide)((vwide)(sv + one) <= one);
            vwide r = (c - (x1 & one & (ge ^ full))) & andpat;
            memcpy(dp + 4 * x, &r, sizeof r);
        }
        tail<false, DALPHA, AB>(sp + 4 * x, dp + 4 * x, s.w - x, 128);
    }
}

template <bool PIXEL>
void rows_for(const lmpx::Area &s, const lmpx::Area &d, bool dalpha, int ab,
              unsigned mod)
{
    if (ab == 0)
        dalpha ? rows<PIXEL, true, 0>(s, d, mod) : rows<PIXEL, false, 0>(s, d, mod);
    else
        dalpha ? rows<PIXEL, true, 3>(s, d, mod) : rows<PIXEL, false, 3>(s, d, mod);
}

void blend_any(const lmpx::Area &s, const lmpx::Area &d, bool pixel, bool dalpha,
               int ab, unsigned mod)
{
    if (pixel)
        rows_for<true>(s, d, dalpha, ab, mod);
    else if (mod == 128)
        ab == 0 ? (dalpha ? rows_half<true, 0>(s, d) : rows_half<false, 0>(s, d))
                : (dalpha ? rows_half<true, 3>(s, d) : rows_half<false, 3>(s, d));
    else
        rows_for<false>(s, d, dalpha, ab, mod);
}

// ---------------------------------------------------------------------------
// 16- and 24-bit targets (see LowPlan): 2 * PX pixels a step in 32-bit
// lanes; shifts by a run-time count are single instructions.
// ---------------------------------------------------------------------------

typedef Uint32 vwords __attribute__((vector_size(8 * PX)));
typedef Uint16 vhalves __attribute__((vector_size(4 * PX)));
constexpr int WPX = 2 * PX;

// Byte moves between packed 3-byte pixels and 32-bit lanes (little-endian
// lanes; a big-endian build takes the scalar loops).
template <typename Seq>
struct Tri;
template <size_t... I>
struct Tri<std::index_sequence<I...>> {
    static constexpr vwide spread = {(Uint8)(I % 4 < 3 ? I / 4 * 3 + I % 4 : 8 * PX)...};
    static constexpr vwide gather = {(Uint8)(I < 6 * PX ? I / 3 * 4 + I % 3 : 0)...};
};
typedef Tri<std::make_index_sequence<8 * PX>> TriIdx;
constexpr bool TRI_VECTOR = SDL_BYTEORDER == SDL_LIL_ENDIAN;

// In place: a vector returned by value would change the ABI.
template <int NCH, typename V>
inline void widen_px(V &v, const lmpx::LowChan *ch)
{
    V out = v & 0;
    for (int c = 0; c < NCH; ++c) {
        V f = (v & ch[c].mask) >> ch[c].shift;
        V e = ((f << ch[c].loss) | (f >> (8 - 2 * ch[c].loss))) & 0xFF;
        out |= e << ch[c].wide;
    }
    v = out;
}

template <int NCH, typename V>
inline void pack_px(V &v, const lmpx::LowChan *ch, Uint32 fixed)
{
    V out = (v & 0) | fixed;
    for (int c = 0; c < NCH; ++c)
        out |= (((v >> ch[c].wide) & 0xFF) >> ch[c].loss) << ch[c].shift;
    v = out;
}

template <int DB, int NCH>
void widen_row(const Uint8 *dp, Uint32 *t, int n, const lmpx::LowChan *ch)
{
    int x = 0;
    for (; x + WPX <= n; x += WPX) {
        vwords v;
        if (DB == 2) {
            vhalves h;
            memcpy(&h, dp + 2 * x, sizeof h);
            v = __builtin_convertvector(h, vwords);
        }
        else if (TRI_VECTOR) {
            vwide b = {}, zero = {};
            memcpy(&b, dp + 3 * x, 3 * WPX);
            constexpr vwide spread = TriIdx::spread;
            b = __builtin_shuffle(b, zero, spread);
            memcpy(&v, &b, sizeof v);
        }
        else {
            for (int i = 0; i < WPX; ++i)
                v[i] = lmpx::rd<DB>(dp + DB * (x + i));
        }
        widen_px<NCH>(v, ch);
        memcpy(t + x, &v, sizeof v);
    }
    for (; x < n; ++x) {
        Uint32 v = lmpx::rd<DB>(dp + DB * x);
        widen_px<NCH>(v, ch);
        t[x] = v;
    }
}

// `sp` may be any 32-bit row (the buffer, or the source itself).
template <int DB, int NCH>
void pack_row(const Uint8 *sp, Uint8 *dp, int n, const lmpx::LowChan *ch, Uint32 fixed)
{
    int x = 0;
    for (; x + WPX <= n; x += WPX) {
        vwords v;
        memcpy(&v, sp + 4 * x, sizeof v);
        pack_px<NCH>(v, ch, fixed);
        if (DB == 2) {
            vhalves h = __builtin_convertvector(v, vhalves);
            memcpy(dp + 2 * x, &h, sizeof h);
        }
        else if (TRI_VECTOR) {
            vwide b;
            memcpy(&b, &v, sizeof b);
            constexpr vwide gather = TriIdx::gather;
            b = __builtin_shuffle(b, gather);
            memcpy(dp + 3 * x, &b, 3 * WPX);
        }
        else {
            for (int i = 0; i < WPX; ++i)
                lmpx::wr<DB>(dp + DB * (x + i), v[i]);
        }
    }
    for (; x < n; ++x) {
        Uint32 v = lmpx::rd<4>(sp + 4 * x);
        pack_px<NCH>(v, ch, fixed);
        lmpx::wr<DB>(dp + DB * x, v);
    }
}

template <int DB, int NCH>
void low_rows(const lmpx::Area &s, const lmpx::Area &d, const lmpx::LowPlan &p)
{
    enum { CH = 256 };
    Uint32 buf[CH];
    for (int y = 0; y < s.h; ++y) {
        const Uint8 *sp = s.px + (size_t)y * s.pitch;
        Uint8 *dp = d.px + (size_t)y * d.pitch;
        if (p.mode == 0) {
            if (p.npack == NCH)
                pack_row<DB, NCH>(sp, dp, s.w, p.ch, 0);
            else
                pack_row<DB, NCH - 1>(sp, dp, s.w, p.ch, p.fixed);
            continue;
        }
        for (int x = 0; x < s.w; x += CH) {
            int n = s.w - x < (int)CH ? s.w - x : (int)CH;
            Uint8 *dx = dp + DB * (size_t)x;
            widen_row<DB, NCH>(dx, buf, n, p.ch);
            lmpx::Area sa = {const_cast<Uint8 *>(sp) + 4 * (size_t)x, s.pitch, n, 1};
            lmpx::Area ta = {reinterpret_cast<Uint8 *>(buf), 4 * CH, n, 1};
            blend_any(sa, ta, p.mode == 1, p.dalpha, p.ab, p.mod);
            pack_row<DB, NCH>(reinterpret_cast<const Uint8 *>(buf), dx, n, p.ch, 0);
        }
    }
}

void low_any(const lmpx::Area &s, const lmpx::Area &d, int dbpp, const lmpx::LowPlan &p)
{
    if (dbpp == 2)
        p.nch == 4 ? low_rows<2, 4>(s, d, p) : low_rows<2, 3>(s, d, p);
    else
        p.nch == 4 ? low_rows<3, 4>(s, d, p) : low_rows<3, 3>(s, d, p);
}

}  // namespace

#define LM_DEFINE_BLEND_ROWS(isa)                                              \
    void blend_rows_##isa(const lmpx::Area &s, const lmpx::Area &d, bool pixel, \
                          bool dalpha, int ab, unsigned mod)                   \
    {                                                                          \
        blend_any(s, d, pixel, dalpha, ab, mod);                               \
    }                                                                          \
    void low_rows_##isa(const lmpx::Area &s, const lmpx::Area &d, int dbpp,    \
                        const lmpx::LowPlan &p)                                \
    {                                                                          \
        low_any(s, d, dbpp, p);                                                \
    }
