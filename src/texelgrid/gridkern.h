// Pixel kernels of lumora.texelgrid (no Python here).
//
// A Grid is a strided two-dimensional walk over pixels: element (x, y) is
// at p + x*sx + y*sy.  Strides may be negative or zero (a repeated row or
// column).  Every kernel runs with the interpreter lock released.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>

namespace lmgrid {

struct Grid {
    Uint8 *p;
    ptrdiff_t nx, ny;  // ny >= 1 (a one-dimensional view is one row)
    ptrdiff_t sx, sy;
};

// Mapped pixel values: 3-byte pixels are little-endian byte0..byte2, the
// same bytes the format's channel shifts select on a little-endian host.
Uint32 read_px(const Uint8 *p, int bpp);
void write_px(Uint8 *p, int bpp, Uint32 v);

void fill(const Grid &g, int bpp, Uint32 v);

// Copy src into dst element by element (same nx, ny; src strides may be 0
// for broadcasting).  `remap` (3-byte pixels of differently ordered
// formats, else null) gives for each target byte the source byte to take.
void copy(const Grid &dst, const Grid &src, int bpp, const int *remap);

// Lowest address and one past the highest byte touched by g.
void extent(const Grid &g, int bpp, const Uint8 **lo, const Uint8 **hi);

bool contains(const Grid &g, int bpp, Uint32 v);

// Colour matching: raw equality when `distance` is 0, otherwise the
// weighted RGB distance of the two pixels, divided by 255, at most
// `distance`.
struct Match {
    float distance;
    float w[3];
    const SDL_PixelFormat *fa;  // format of the pixels tested
    const SDL_PixelFormat *fb;  // format of the reference pixels
};

// Every pixel of g matching `ref` (raw value in format fb) becomes `yes`,
// else `no`.  (extract)
void mark(const Grid &g, int bpp, const Match &m, Uint32 ref, Uint32 yes, Uint32 no);
// Every pixel of g matching `ref` becomes `to`; others stay.  (replace)
void recolor(const Grid &g, int bpp, const Match &m, Uint32 ref, Uint32 to);
// Each pixel of g becomes `yes` where it matches the pixel of other at the
// same position, else `no`.  (compare)
void mark_pairs(const Grid &g, const Grid &other, int bpp, const Match &m,
                Uint32 yes, Uint32 no);

}  // namespace lmgrid
