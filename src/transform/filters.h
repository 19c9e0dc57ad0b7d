// Per-pixel filters: threshold, laplacian, surface and colour averages,
// grayscale.  Plain C++ over locked pixels; colours are decoded and
// encoded as SDL does for the pixel format (palette formats go through
// SDL itself).
#pragma once

#include "pixels.h"

namespace lmxf {

struct Plane {
    Image im;
    const SDL_PixelFormat *fmt = nullptr;
};

struct ThresholdJob {
    Plane src;
    Plane search;  // used when search.im.pixels is set
    Plane dest;    // written when behavior != 0
    uint32_t search_value = 0, threshold_value = 0, set_value = 0;
    int behavior = 1;
    bool inverse = false;
};

// Number of pixels of src within the threshold; writes dest by behavior.
int64_t threshold(const ThresholdJob &j);

void laplacian(const Plane &src, const Plane &dst);

// Averages of n equal-sized surfaces into dst.  `acc` is zeroed scratch of
// one (index mode) or three (RGB mode) entries per pixel.
void average_surfaces(const Plane *srcs, int n, const Plane &dst,
                      bool index_mode, uint32_t *acc);

// Channel sums over columns [x0, x1) and rows [y0, y1): r, g, b, a, or with
// `weighted` r*a, g*a, b*a, a.
void color_sums(const Plane &src, int x0, int x1, int y0, int y1,
                bool weighted, uint64_t sums[4]);

void grayscale(const Plane &src, const Plane &dst);

}  // namespace lmxf
