// Smooth scaling: two separable passes over 4-byte pixels in 16.16 fixed
// point, horizontal then vertical; area averaging where a direction
// shrinks, linear interpolation where it grows.  Each of the four bytes of
// a pixel is filtered alike.  No Python in here.
#pragma once

#include "pixels.h"

namespace lmxf {

// One pass: source pixels, destination pixels, the unchanged extent (rows
// for the horizontal passes, columns for the vertical ones), source pitch,
// destination pitch, source and destination length in the filtered
// direction.  False when a working buffer cannot be had (nothing written).
typedef bool (*SmoothPass)(const uint8_t *src, uint8_t *dst, int extent,
                           int srcpitch, int dstpitch, int srclen, int dstlen);

bool shrink_x(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen);
bool shrink_y(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen);
bool expand_x(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen);
bool expand_y(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen);

struct SmoothPasses {
    SmoothPass shrink_x, shrink_y, expand_x, expand_y;
};

// src (3 or 4 bytes per pixel) resampled into dst of the same pixel size;
// both non-empty.  False when a working buffer cannot be allocated.
bool smooth_scale(const SmoothPasses &p, const Image &src, const Image &dst);

}  // namespace lmxf
