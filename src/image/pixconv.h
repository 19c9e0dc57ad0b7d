// Pixel conversions between SDL surface memory and flat byte strings in a
// named channel layout.  Plain C++: no Python here; the module file checks
// sizes, locks the surface and allocates the buffers.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>

namespace lmimg {

enum class Layout { P, RGB, BGR, RGBX, RGBA, ARGB, BGRA, RGBA_PREMULT, ARGB_PREMULT };

// Bytes per pixel of a layout in the byte string.
int layout_bytes(Layout l);

// A source surface as the kernels see it.  `pixels` points at the first
// pixel row (already locked); `bits` is the format's bits per pixel, which
// is below 8 for packed palette formats.
struct SurfaceView {
    const uint8_t *pixels;
    int w, h, pitch;
    int bytes;  // bytes per pixel (0 for packed sub-byte formats)
    int bits;   // bits per pixel
    bool msb_first;  // packed formats: first pixel in the high bits
    Uint32 rmask, gmask, bmask, amask;
    Uint8 rshift, gshift, bshift, ashift;
    Uint8 rloss, gloss, bloss, aloss;
    const SDL_Color *palette;  // null when the format has none
    int ncolors;
    bool has_key;
    Uint32 key;
};

SurfaceView view_of(const SDL_Surface *s);

// True when every colour channel of the surface fills one whole byte of a
// 3- or 4-byte pixel (to_bytes then only moves bytes).
bool whole_byte_channels(const SurfaceView &v);

// Fills `out` (w * h * layout_bytes bytes, rows packed) from the surface.
// Layout::P is valid only for 1-byte surfaces, the premultiplied layouts only
// for surfaces with an alpha mask; the caller checks that.
void to_bytes(const SurfaceView &src, Layout layout, bool flipped, uint8_t *out);

// Copies packed rows of `in` into a surface made with the masks that
// surface_masks() gives for the layout (P, RGB, RGBX, RGBA, ARGB, BGRA).
void from_bytes(const uint8_t *in, Layout layout, bool flipped, uint8_t *pixels,
                int w, int h, int pitch);

// Depth and masks of the surfaces made from byte strings.  `shared` selects
// the masks of a surface that aliases the caller's memory (its bytes cannot
// be reordered, so "RGB" there has R in the first byte).
void surface_masks(Layout l, bool shared, int *depth, Uint32 *r, Uint32 *g,
                   Uint32 *b, Uint32 *a);

// Unpacks one row of a 1-, 2- or 4-bit packed surface into one index byte
// per pixel.
void unpack_indices(const uint8_t *row, int w, int bits, bool msb_first,
                    uint8_t *out);

}  // namespace lmimg
