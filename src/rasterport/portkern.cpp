// Copy kernels of lumora.rasterport.
//
// The inner loops are instantiated per item size and pixel size for the
// common little-endian integer items, so whole frames copy at close to
// memory speed; odd sizes and big-endian items take the generic reader.
#include "portkern.h"

#include "../surface/pixels.h"

#include <cstring>
#include <initializer_list>
#include <type_traits>

namespace lmport {

Uint8 item_low(const Uint8 *p, int isize, bool big)
{
    return big ? p[isize - 1] : p[0];
}

uint64_t item_value(const Uint8 *p, int isize, bool big)
{
    const int n = isize < 8 ? isize : 8;
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        Uint8 b = big ? p[isize - 1 - i] : p[i];
        v |= (uint64_t)b << (8 * i);
    }
    return v;
}

void item_store(Uint8 *p, int isize, bool big, uint64_t v, int nbytes)
{
    memset(p, 0, (size_t)isize);
    for (int i = 0; i < nbytes && i < isize; ++i) {
        Uint8 b = (Uint8)(v >> (8 * i));
        if (big)
            p[isize - 1 - i] = b;
        else
            p[i] = b;
    }
}

namespace {

constexpr bool k_little = SDL_BYTEORDER == SDL_LIL_ENDIAN;

// Readers of an item's integer value.
template <int N>
struct ReadLE {
    uint64_t operator()(const Uint8 *p) const
    {
        if constexpr (N == 1) {
            return p[0];
        }
        else {
            std::conditional_t<N == 2, Uint16, std::conditional_t<N == 4, Uint32, uint64_t>> v;
            memcpy(&v, p, N);
            return v;
        }
    }
};

struct ReadAny {
    int isize;
    bool big;
    uint64_t operator()(const Uint8 *p) const { return item_value(p, isize, big); }
};

template <class F>
void with_reader(int isize, bool big, F f)
{
    if (k_little && !big) {
        switch (isize) {
        case 1: f(ReadLE<1>{}); return;
        case 2: f(ReadLE<2>{}); return;
        case 4: f(ReadLE<4>{}); return;
        case 8: f(ReadLE<8>{}); return;
        default: break;
        }
    }
    f(ReadAny{isize, big});
}

template <int N>
using Bpp = std::integral_constant<int, N>;

template <class F>
void with_bpp(int bpp, F f)
{
    switch (bpp) {
    case 1: f(Bpp<1>{}); break;
    case 2: f(Bpp<2>{}); break;
    case 3: f(Bpp<3>{}); break;
    default: f(Bpp<4>{}); break;
    }
}

// f(pixel address, item address) for every pixel.
template <class F>
inline void each(const Pixels &px, const Items &a, F f)
{
    for (int y = 0; y < px.h; ++y) {
        Uint8 *prow = px.p + (ptrdiff_t)y * px.pitch;
        Uint8 *arow = a.p + y * a.s[1];
        for (int x = 0; x < px.w; ++x)
            f(prow + (ptrdiff_t)x * px.bpp, arow + x * a.s[0]);
    }
}

bool one_of(int v, std::initializer_list<int> set)
{
    for (int s : set)
        if (v == s)
            return true;
    return false;
}

// Rows of packed RGB triples and 32-bit pixels, in plain loops the
// compiler vectorises; on x86 they are also built for SSSE3 and AVX2 and
// the best one for the CPU is picked at load time.
#if defined(__x86_64__) || defined(__i386__)
#define LM_VECTOR_CLONES __attribute__((target_clones("default", "ssse3", "avx2")))
#else
#define LM_VECTOR_CLONES
#endif

LM_VECTOR_CLONES
void pack_row(Uint32 *__restrict d, const Uint8 *__restrict q, int w, Uint32 opaque, int rs,
              int gs, int bs)
{
    for (int x = 0; x < w; ++x)
        d[x] = opaque | ((Uint32)q[3 * x] << rs) | ((Uint32)q[3 * x + 1] << gs) |
               ((Uint32)q[3 * x + 2] << bs);
}

LM_VECTOR_CLONES
void unpack_row(Uint8 *__restrict q, const Uint32 *__restrict d, int w, int rs, int gs, int bs)
{
    for (int x = 0; x < w; ++x) {
        Uint32 v = d[x];
        q[3 * x] = (Uint8)(v >> rs);
        q[3 * x + 1] = (Uint8)(v >> gs);
        q[3 * x + 2] = (Uint8)(v >> bs);
    }
}

// Bytes R, G, B -> 32-bit pixels with 8-bit channels.  X, C > 0 fix the
// item strides at compile time (packed RGB triples), 0 takes them from `a`.
template <int X, int C>
void pack_rgb(const Pixels &px, const Items &a, Uint32 opaque, int rs, int gs, int bs)
{
    const ptrdiff_t sx = X ? X : a.s[0], sc = C ? C : a.s[2];
    for (int y = 0; y < px.h; ++y) {
        Uint8 *__restrict prow = px.p + (ptrdiff_t)y * px.pitch;
        const Uint8 *__restrict q = a.p + y * a.s[1];
        int x = 0;
        if constexpr (X == 3 && C == 1) {
            pack_row(reinterpret_cast<Uint32 *>(prow), q, px.w, opaque, rs, gs, bs);
            x = px.w;
        }
        for (; x < px.w; ++x) {
            const Uint8 *e = q + x * sx;
            Uint32 v = opaque | ((Uint32)e[0] << rs) | ((Uint32)e[sc] << gs) |
                       ((Uint32)e[2 * sc] << bs);
            memcpy(prow + 4 * (ptrdiff_t)x, &v, 4);
        }
    }
}

// 32-bit pixels with 8-bit channels -> bytes R, G, B.
template <int X, int C>
void unpack_rgb(const Pixels &px, const Items &a, int rs, int gs, int bs)
{
    const ptrdiff_t sx = X ? X : a.s[0], sc = C ? C : a.s[2];
    for (int y = 0; y < px.h; ++y) {
        const Uint8 *__restrict prow = px.p + (ptrdiff_t)y * px.pitch;
        Uint8 *__restrict q = a.p + y * a.s[1];
        int x = 0;
        if constexpr (X == 3 && C == 1) {
            unpack_row(q, reinterpret_cast<const Uint32 *>(prow), px.w, rs, gs, bs);
            x = px.w;
        }
        for (; x < px.w; ++x) {
            Uint32 v;
            memcpy(&v, prow + 4 * (ptrdiff_t)x, 4);
            Uint8 *e = q + x * sx;
            e[0] = (Uint8)(v >> rs);
            e[sc] = (Uint8)(v >> gs);
            e[2 * sc] = (Uint8)(v >> bs);
        }
    }
}

// Byte of a 3-byte pixel holding the channel at `shift`.
inline int byte_of(int shift)
{
    return k_little ? shift / 8 : 2 - shift / 8;
}

}  // namespace

Unmap::Unmap(const SDL_PixelFormat *f) : f_(f)
{
    if (f->BytesPerPixel == 1 && f->palette) {
        indexed_ = true;
        for (int i = 0; i < 256; ++i)
            SDL_GetRGBA((Uint32)i, f, &pal_[i][0], &pal_[i][1], &pal_[i][2], &pal_[i][3]);
        return;
    }
    const Uint32 masks[4] = {f->Rmask, f->Gmask, f->Bmask, f->Amask};
    for (int c = 0; c < 4; ++c) {
        mask_[c] = masks[c];
        shift_[c] = masks[c] ? __builtin_ctz(masks[c]) : 0;
        if ((masks[c] >> shift_[c]) > 0xFF)
            return;  // wider than 8 bits: SDL per pixel
    }
    for (int c = 0; c < 4; ++c) {
        for (Uint32 v = 0; v < 256; ++v) {
            Uint8 ch[4];
            Uint32 pix = (v << shift_[c]) & mask_[c];
            SDL_GetRGBA(pix, f, &ch[0], &ch[1], &ch[2], &ch[3]);
            tab_[c][v] = ch[c];
        }
    }
    tables_ = true;
}

void Unmap::rgba(Uint32 v, Uint8 out[4]) const
{
    if (indexed_) {
        memcpy(out, pal_[v & 0xFF], 4);
        return;
    }
    if (tables_) {
        for (int c = 0; c < 4; ++c)
            out[c] = tab_[c][(v & mask_[c]) >> shift_[c]];
        return;
    }
    SDL_GetRGBA(v, f_, &out[0], &out[1], &out[2], &out[3]);
}

bool put_values(const Pixels &px, const Items &a)
{
    if (px.bpp == 3 ? (a.isize < 3 || a.isize > 9) : !one_of(a.isize, {1, 2, 4, 8}))
        return false;
    if (k_little && !a.big && a.isize == px.bpp && a.s[0] == px.bpp) {
        // Items are the pixels' own bytes: whole rows at once.
        for (int y = 0; y < px.h; ++y)
            memcpy(px.p + (ptrdiff_t)y * px.pitch, a.p + y * a.s[1], (size_t)px.w * px.bpp);
        return true;
    }
    with_bpp(px.bpp, [&](auto bpp) {
        constexpr int N = decltype(bpp)::value;
        with_reader(a.isize, a.big, [&](auto rd) {
            each(px, a, [&](Uint8 *p, const Uint8 *i) { lmpx::wr<N>(p, (Uint32)rd(i)); });
        });
    });
    return true;
}

bool put_rgb(const Pixels &px, const Items &a, const SDL_PixelFormat *f)
{
    const ptrdiff_t s2 = a.s[2];
    if (px.bpp == 3) {
        if (a.isize < 1 || a.isize > 9)
            return false;
        const int rb = byte_of(f->Rshift), gb = byte_of(f->Gshift), bb = byte_of(f->Bshift);
        const int is = a.isize;
        const bool big = a.big;
        each(px, a, [&](Uint8 *p, const Uint8 *i) {
            p[rb] = item_low(i, is, big);
            p[gb] = item_low(i + s2, is, big);
            p[bb] = item_low(i + 2 * s2, is, big);
        });
        return true;
    }
    if (px.bpp == 1 || !one_of(a.isize, {1, 2, 4, 8}))
        return false;
    const Uint32 opaque = f->Amask ? (255u >> f->Aloss) << f->Ashift : 0;
    const int rl = f->Rloss, gl = f->Gloss, bl = f->Bloss;
    const int rs = f->Rshift, gs = f->Gshift, bs = f->Bshift;
    if (k_little && !a.big && a.isize == 1 && px.bpp == 4 && rl + gl + bl == 0) {
        if (a.s[0] == 3 && s2 == 1)
            pack_rgb<3, 1>(px, a, opaque, rs, gs, bs);
        else
            pack_rgb<0, 0>(px, a, opaque, rs, gs, bs);
        return true;
    }
    with_bpp(px.bpp, [&](auto bpp) {
        constexpr int N = decltype(bpp)::value;
        with_reader(a.isize, a.big, [&](auto rd) {
            each(px, a, [&](Uint8 *p, const Uint8 *i) {
                uint64_t v = opaque | ((rd(i) >> rl) << rs) | ((rd(i + s2) >> gl) << gs) |
                             ((rd(i + 2 * s2) >> bl) << bs);
                lmpx::wr<N>(p, (Uint32)v);
            });
        });
    });
    return true;
}

void get_values(const Pixels &px, const Items &a)
{
    with_bpp(px.bpp, [&](auto bpp) {
        constexpr int N = decltype(bpp)::value;
        if (k_little && !a.big && a.isize == N) {
            if (a.s[0] == N) {
                for (int y = 0; y < px.h; ++y)
                    memcpy(a.p + y * a.s[1], px.p + (ptrdiff_t)y * px.pitch, (size_t)px.w * N);
                return;
            }
            each(px, a, [&](Uint8 *p, Uint8 *i) { memcpy(i, p, N); });
            return;
        }
        if (k_little && !a.big && (a.isize == 4 || a.isize == 8)) {
            each(px, a, [&](Uint8 *p, Uint8 *i) {
                uint64_t v = lmpx::rd<N>(p);
                memcpy(i, &v, (size_t)a.isize);
            });
            return;
        }
        each(px, a, [&](Uint8 *p, Uint8 *i) { item_store(i, a.isize, a.big, lmpx::rd<N>(p), N); });
    });
}

void get_channel(const Pixels &px, const Items &a, const Unmap &um, int channel,
                 Uint8 fixed, Uint8 clear, Uint32 key)
{
    with_bpp(px.bpp, [&](auto bpp) {
        constexpr int N = decltype(bpp)::value;
        each(px, a, [&](Uint8 *p, Uint8 *i) {
            Uint8 v = fixed;
            if (channel == 4) {
                if (lmpx::rd<N>(p) == key)
                    v = clear;
            }
            else if (channel >= 0) {
                Uint8 c[4];
                um.rgba(lmpx::rd<N>(p), c);
                v = c[channel];
            }
            item_store(i, a.isize, a.big, v, 1);
        });
    });
}

void get_rgb(const Pixels &px, const Items &a, const Unmap &um, const SDL_PixelFormat *f)
{
    const ptrdiff_t s2 = a.s[2];
    if (k_little && !a.big && a.isize == 1 && px.bpp == 4 && f->Rmask == 0xFFu << f->Rshift &&
        f->Gmask == 0xFFu << f->Gshift && f->Bmask == 0xFFu << f->Bshift) {
        if (a.s[0] == 3 && s2 == 1)
            unpack_rgb<3, 1>(px, a, f->Rshift, f->Gshift, f->Bshift);
        else
            unpack_rgb<0, 0>(px, a, f->Rshift, f->Gshift, f->Bshift);
        return;
    }
    with_bpp(px.bpp, [&](auto bpp) {
        constexpr int N = decltype(bpp)::value;
        if (k_little && !a.big && a.isize == 1) {
            each(px, a, [&](Uint8 *p, Uint8 *i) {
                Uint8 c[4];
                um.rgba(lmpx::rd<N>(p), c);
                i[0] = c[0];
                i[s2] = c[1];
                i[2 * s2] = c[2];
            });
            return;
        }
        each(px, a, [&](Uint8 *p, Uint8 *i) {
            Uint8 c[4];
            um.rgba(lmpx::rd<N>(p), c);
            for (int k = 0; k < 3; ++k)
                item_store(i + k * s2, a.isize, a.big, c[k], 1);
        });
    });
}

}  // namespace lmport

namespace lmport {

void map_rgb(const MapWalk &w, Uint8 *target, int tisize, bool tbig, const Uint8 *source,
             int sisize, bool sbig, const SDL_PixelFormat *f)
{
    for (int d = 0; d < w.nd; ++d)
        if (w.shape[d] == 0)
            return;
    const int bpp = f->BytesPerPixel;
    ptrdiff_t idx[kMaxDims] = {0};
    for (;;) {
        Uint8 *t = target;
        const Uint8 *s = source;
        for (int d = 0; d < w.nd; ++d) {
            t += idx[d] * w.tstride[d];
            s += idx[d] * w.sstride[d];
        }
        Uint32 v = SDL_MapRGB(f, item_low(s, sisize, sbig), item_low(s + w.slast, sisize, sbig),
                              item_low(s + 2 * w.slast, sisize, sbig));
        item_store(t, tisize, tbig, v, bpp);
        int d = w.nd - 1;
        while (d >= 0 && ++idx[d] == w.shape[d])
            idx[d--] = 0;
        if (d < 0)
            return;
    }
}

}  // namespace lmport
