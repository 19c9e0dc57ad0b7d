// Pixel kernels between bitmasks and SDL surfaces.  No Python in here: the
// module layer locks the surfaces and calls these with the interpreter
// lock released.
#pragma once

#include <SDL.h>

#include "bitmask.h"
#include "../transform/pixels.h"

namespace lmmask {

// A locked surface's pixels and their format.
struct PixView : lmxf::Image {
    const SDL_PixelFormat *fmt = nullptr;
};
PixView view_of(SDL_Surface *s);

// Sets every pixel of `m` (the surface's size) whose alpha exceeds
// `threshold`, or, with a colour key, whose raw value differs from it.
void mask_from_pixels(const PixView &s, bitmask_t *m, bool has_key,
                      Uint32 key, int threshold);

// What to_surface writes: per bit state, a source surface (read in mask
// coordinates where it reaches) and/or a pixel value.
struct Paint {
    const PixView *set_src = nullptr, *unset_src = nullptr;
    bool has_set = false, has_unset = false;
    Uint32 set_value = 0, unset_value = 0;
};
// Draws mask pixel (x, y) to surface pixel (x + dx, y + dy) wherever both
// exist.  Source surfaces must have the destination's pixel size.
void paint_mask(const bitmask_t *m, const PixView &dst, const Paint &p,
                int64_t dx, int64_t dy);

}  // namespace lmmask

// Sets the bits of `m` whose surface pixel is within `threshold` of
// `color` (or, with `other`, of the other surface's pixel).  The other
// surface is read with its own pixel size and only where it reaches.
LM_EXPORT void bitmask_threshold(bitmask_t *m, SDL_Surface *surf,
                                 SDL_Surface *other, Uint32 color,
                                 Uint32 threshold, int palette_colors);
