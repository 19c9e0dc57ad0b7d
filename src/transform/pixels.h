// Pixel access shared by the transform kernels: a view of a locked
// surface's pixel memory and loads/stores of 1-, 2-, 3- and 4-byte pixels.
//
// Nothing in here touches Python.  A 3-byte pixel is always moved as its
// three bytes (never through a wider load that could run past the row) and
// read as a value little-endian: byte0 + byte1*256 + byte2*65536.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lmxf {

// Pixel memory of a locked surface.
struct Image {
    uint8_t *pixels = nullptr;
    int w = 0, h = 0;
    int pitch = 0;
    int bpp = 0;  // bytes per pixel, 1..4

    uint8_t *row(int y) const { return pixels + (ptrdiff_t)y * pitch; }
    uint8_t *at(int x, int y) const { return row(y) + (ptrdiff_t)x * bpp; }
};

static inline Image image_of(SDL_Surface *s)
{
    Image im;
    im.pixels = static_cast<uint8_t *>(s->pixels);
    im.w = s->w;
    im.h = s->h;
    im.pitch = s->pitch;
    im.bpp = s->format->BytesPerPixel;
    return im;
}

// One pixel of N bytes as an opaque value, for kernels that only move or
// compare pixels.
template <int N> struct Pix {
    uint8_t b[N];
    bool operator==(const Pix &o) const { return memcmp(b, o.b, N) == 0; }
    bool operator!=(const Pix &o) const { return !(*this == o); }
};

template <int N> static inline Pix<N> get(const uint8_t *p)
{
    Pix<N> v;
    memcpy(v.b, p, N);
    return v;
}
template <int N> static inline void put(uint8_t *p, const Pix<N> &v)
{
    memcpy(p, v.b, N);
}

// Pixel values.
template <int N> static inline uint32_t load(const uint8_t *p);
template <> inline uint32_t load<1>(const uint8_t *p) { return *p; }
template <> inline uint32_t load<2>(const uint8_t *p)
{
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}
template <> inline uint32_t load<3>(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16);
}
template <> inline uint32_t load<4>(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

template <int N> static inline void store(uint8_t *p, uint32_t v);
template <> inline void store<1>(uint8_t *p, uint32_t v) { *p = (uint8_t)v; }
template <> inline void store<2>(uint8_t *p, uint32_t v)
{
    uint16_t s = (uint16_t)v;
    memcpy(p, &s, 2);
}
template <> inline void store<3>(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
}
template <> inline void store<4>(uint8_t *p, uint32_t v) { memcpy(p, &v, 4); }

static inline uint32_t load_any(const uint8_t *p, int bpp)
{
    switch (bpp) {
    case 1: return load<1>(p);
    case 2: return load<2>(p);
    case 3: return load<3>(p);
    default: return load<4>(p);
    }
}

// A 3-byte pixel gets its colour bytes at the positions of `pos`'s
// channels (shift / 8), each taken from `v` at `val`'s channel shifts;
// other sizes store the value as it is.
static inline void store_mapped(uint8_t *p, int bpp, uint32_t v,
                                const SDL_PixelFormat *pos,
                                const SDL_PixelFormat *val)
{
    switch (bpp) {
    case 1: store<1>(p, v); break;
    case 2: store<2>(p, v); break;
    case 3:
        p[(pos->Rshift >> 3) % 3] = (uint8_t)(v >> (val->Rshift & 31));
        p[(pos->Gshift >> 3) % 3] = (uint8_t)(v >> (val->Gshift & 31));
        p[(pos->Bshift >> 3) % 3] = (uint8_t)(v >> (val->Bshift & 31));
        break;
    default: store<4>(p, v); break;
    }
}

// Calls fn(Size<N>()) for the pixel size `bpp`: one template instance per size.
template <int N> struct Size { static constexpr int value = N; };
template <typename F> static inline void by_size(int bpp, F &&fn)
{
    switch (bpp) {
    case 1: fn(Size<1>()); break;
    case 2: fn(Size<2>()); break;
    case 3: fn(Size<3>()); break;
    default: fn(Size<4>()); break;
    }
}

// Channel value by masks: ((v & mask) >> shift) << loss, 0 for an empty
// mask (a shift past the word).
static inline uint32_t channel(uint32_t v, uint32_t mask, int shift, int loss)
{
    if (!mask || shift >= 32)
        return 0;
    return ((v & mask) >> shift) << loss;
}

}  // namespace lmxf
