// Pixel formats and pixel-level kernels of lumora.surface (no Python here).
//
// The kernels work on plain pixel rows described by a Fmt, so that results
// are identical on every platform: SDL picks different blitters (and
// different rounding) per CPU, which would make pixel values depend on the
// machine a game runs on.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstring>

namespace lmpx {

// Channel order in the per-channel arrays below.
enum { R = 0, G = 1, B = 2, A = 3 };

struct Fmt {
    int bpp = 4;                 // bytes per pixel, 1..4
    Uint32 mask[4] = {0, 0, 0, 0};
    Uint8 shift[4] = {0, 0, 0, 0};
    Uint8 loss[4] = {8, 8, 8, 8};
    const SDL_Color *pal = nullptr;  // bpp == 1 only
    int npal = 0;

    bool alpha() const { return mask[A] != 0; }
    // Bits that take part in a colour-key comparison.
    Uint32 keymask() const
    {
        return pal ? 0xFFu : (mask[R] | mask[G] | mask[B]);
    }
};

Fmt fmt_of(const SDL_PixelFormat *f);
bool same_layout(const Fmt &a, const Fmt &b);

// expand[loss][v]: a channel of (8 - loss) bits widened to 8 bits by bit
// replication, so that the largest value reads back as 255.
extern Uint8 expand[9][256];
void init_tables();

// The 3-3-2 palette given to new 8-bit surfaces.
void default_palette(SDL_Color out[256]);

template <int N>
static inline Uint32 rd(const Uint8 *p)
{
    if constexpr (N == 1) {
        return p[0];
    }
    else if constexpr (N == 2) {
        Uint16 v;
        memcpy(&v, p, 2);
        return v;
    }
    else if constexpr (N == 3) {
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
        return (Uint32)p[0] | ((Uint32)p[1] << 8) | ((Uint32)p[2] << 16);
#else
        return ((Uint32)p[0] << 16) | ((Uint32)p[1] << 8) | (Uint32)p[2];
#endif
    }
    else {
        Uint32 v;
        memcpy(&v, p, 4);
        return v;
    }
}

template <int N>
static inline void wr(Uint8 *p, Uint32 v)
{
    if constexpr (N == 1) {
        p[0] = (Uint8)v;
    }
    else if constexpr (N == 2) {
        Uint16 w = (Uint16)v;
        memcpy(p, &w, 2);
    }
    else if constexpr (N == 3) {
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
        p[0] = (Uint8)v;
        p[1] = (Uint8)(v >> 8);
        p[2] = (Uint8)(v >> 16);
#else
        p[0] = (Uint8)(v >> 16);
        p[1] = (Uint8)(v >> 8);
        p[2] = (Uint8)v;
#endif
    }
    else {
        memcpy(p, &v, 4);
    }
}

// floor(t / 255) for 0 <= t <= 65279 (a blend sum plus its rounding
// term), without a division.
static inline unsigned div255(unsigned t)
{
    return (t + 1 + (t >> 8)) >> 8;
}

Uint32 read_pixel(const Uint8 *p, int bpp);
void write_pixel(Uint8 *p, int bpp, Uint32 v);

// Mapped value -> RGBA.  A format without an alpha mask reads alpha 255.
static inline void decode(const Fmt &f, Uint32 v, Uint8 out[4])
{
    if (f.pal) {
        // Unsigned: a value of 2**31 or more must not become a negative
        // index that passes the bound.
        if (f.npal > 0 && v < (Uint32)f.npal) {
            out[R] = f.pal[v].r;
            out[G] = f.pal[v].g;
            out[B] = f.pal[v].b;
        }
        else {
            out[R] = out[G] = out[B] = 0;
        }
        out[A] = 255;
        return;
    }
    for (int c = 0; c < 3; ++c)
        out[c] = expand[f.loss[c]][(v & f.mask[c]) >> f.shift[c]];
    out[A] = f.mask[A] ? expand[f.loss[A]][(v & f.mask[A]) >> f.shift[A]] : 255;
}

// Nearest palette entry (squared distance), exact entries first.
int nearest_index(const SDL_Color *pal, int n, Uint8 r, Uint8 g, Uint8 b);

// RGBA -> mapped value.  Palette formats look up the nearest entry; the
// last lookup is cached, which is what runs of equal colours need.
class Encoder {
  public:
    explicit Encoder(const Fmt &f) : f_(f) {}
    Uint32 operator()(const Uint8 c[4])
    {
        if (f_.pal) {
            Uint32 key = (Uint32)c[R] | ((Uint32)c[G] << 8) | ((Uint32)c[B] << 16);
            if (key != last_key_) {
                last_key_ = key;
                last_ = (Uint32)nearest_index(f_.pal, f_.npal, c[R], c[G], c[B]);
            }
            return last_;
        }
        return ((Uint32)(c[R] >> f_.loss[R]) << f_.shift[R]) |
               ((Uint32)(c[G] >> f_.loss[G]) << f_.shift[G]) |
               ((Uint32)(c[B] >> f_.loss[B]) << f_.shift[B]) |
               ((((Uint32)(c[A] >> f_.loss[A]) << f_.shift[A])) & f_.mask[A]);
    }

  private:
    const Fmt &f_;
    Uint32 last_key_ = 0xFFFFFFFFu;
    Uint32 last_ = 0;
};

Uint32 encode(const Fmt &f, const Uint8 c[4]);

// Blending flags of blit() and fill(); BLEND_RGB_* equal BLEND_*.
enum {
    BLEND_ADD = 1,
    BLEND_SUB = 2,
    BLEND_MULT = 3,
    BLEND_MIN = 4,
    BLEND_MAX = 5,
    BLEND_RGBA_ADD = 6,
    BLEND_RGBA_SUB = 7,
    BLEND_RGBA_MULT = 8,
    BLEND_RGBA_MIN = 9,
    BLEND_RGBA_MAX = 10,
    BLEND_PREMULTIPLIED = 0x11,
};
bool valid_special(int flags);

// How the source's pixels combine with the destination.
enum Mode {
    MODE_COPY,     // replace (alpha too, when both have it)
    MODE_PIXEL,    // per-pixel alpha, times the surface alpha
    MODE_SURFACE,  // one alpha for the whole surface
    MODE_SPECIAL,  // one of the BLEND_* flags
};

struct BlitOp {
    Mode mode = MODE_COPY;
    Uint8 alphamod = 255;
    int special = 0;
    bool colorkey = false;
    Uint32 key = 0;  // in the source's format
};

// A rectangle of pixels: first pixel, row pitch in bytes, size.
struct Area {
    Uint8 *px;
    int pitch;
    int w, h;
};

// Copies/blends src onto dst (same w, h).  The two must not overlap in
// memory; the caller stages an overlapping source through a copy.
void blit(const Fmt &sf, const Area &src, const Fmt &df, const Area &dst,
          const BlitOp &op);

// Writes one mapped value over the area.
void fill(const Fmt &f, const Area &dst, Uint32 pixel);
// Combines a constant colour into the area with a BLEND_* flag.
void fill_special(const Fmt &f, const Area &dst, const Uint8 rgba[4],
                  int special);

// Moves the area's content by (dx, dy) inside itself; what is uncovered
// keeps its old pixels.
void scroll(const Area &a, int bpp, int dx, int dy);

// After an opaque conversion: clear the alpha of every destination pixel
// whose source pixel is the colour key (the key becomes transparency).
void key_to_alpha(const Fmt &sf, const Area &src, const Fmt &df,
                  const Area &dst, Uint32 key);

// Smallest rectangle of pixels that count as visible: alpha >= min_alpha
// for formats with alpha, otherwise not the colour key (when use_key).
// Writes x, y, w, h (all 0 when nothing is visible).
void bounding_rect(const Fmt &f, const Area &a, int min_alpha, bool use_key,
                   Uint32 key, int out[4]);

}  // namespace lmpx
