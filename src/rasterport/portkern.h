// Copy kernels of lumora.rasterport (no Python here): integer array items
// to and from surface pixels.
//
// Items are integers of 1 to 9 bytes in native or big-endian order; only
// their low-order bytes take part, so 3-byte and wider raw items ("3x")
// work like integers.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>

namespace lmport {

// A two- or three-dimensional strided array; a stride of 0 repeats.
struct Items {
    Uint8 *p;
    ptrdiff_t s[3];
    int isize;
    bool big;  // values sit in the item's last bytes
};

// Surface pixels, already locked.
struct Pixels {
    Uint8 *p;
    int w, h, pitch, bpp;
};

// Pixel value -> 8-bit R, G, B, A exactly as SDL_GetRGBA gives them, from
// tables built once per copy (palette entries or channel expansions).
class Unmap {
  public:
    explicit Unmap(const SDL_PixelFormat *f);
    void rgba(Uint32 v, Uint8 out[4]) const;

  private:
    const SDL_PixelFormat *f_;
    bool indexed_ = false, tables_ = false;
    Uint8 pal_[256][4];
    Uint32 mask_[4];
    int shift_[4];
    Uint8 tab_[4][256];
};

// Array -> surface.  False when the item size does not suit the case.
bool put_values(const Pixels &px, const Items &a);                 // 2-D, raw values
bool put_rgb(const Pixels &px, const Items &a, const SDL_PixelFormat *f);  // 3-D

// Surface -> array.
void get_values(const Pixels &px, const Items &a);                 // raw values
// One value per pixel from its colour: channel 0..3 (R, G, B, A) through
// `um`; channel -1 writes `fixed` everywhere; channel 4 writes `clear`
// where the pixel equals `key` and `fixed` elsewhere.
void get_channel(const Pixels &px, const Items &a, const Unmap &um, int channel,
                 Uint8 fixed, Uint8 clear, Uint32 key);
void get_rgb(const Pixels &px, const Items &a, const Unmap &um,  // 3-D
             const SDL_PixelFormat *f);

// One item: its low-order byte, its value (low 8 bytes), a value written
// into its low-order bytes with the rest zeroed.
Uint8 item_low(const Uint8 *p, int isize, bool big);
uint64_t item_value(const Uint8 *p, int isize, bool big);
void item_store(Uint8 *p, int isize, bool big, uint64_t v, int nbytes);

}  // namespace lmport

namespace lmport {

// map_array's walk: every element of an n-dimensional target, with the
// source triple it takes (stride 0 along broadcast dimensions).
constexpr int kMaxDims = 10;
struct MapWalk {
    int nd;
    ptrdiff_t shape[kMaxDims];
    ptrdiff_t tstride[kMaxDims];
    ptrdiff_t sstride[kMaxDims];
    ptrdiff_t slast;  // stride between R, G and B of a source triple
};

void map_rgb(const MapWalk &w, Uint8 *target, int tisize, bool tbig, const Uint8 *source,
             int sisize, bool sbig, const SDL_PixelFormat *f);

}  // namespace lmport
