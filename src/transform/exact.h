// Transforms that move whole pixels: nearest-neighbour scaling, flips,
// quarter and general rotations, chop and Scale2x.  Plain C++ over locked
// pixel memory; the module file checks sizes and pixel sizes first (source
// and destination always have the same bytes per pixel here).
#pragma once

#include "pixels.h"

namespace lmxf {

// Nearest neighbour: destination column k takes source column k*Sw/Dw,
// row k source row k*Sh/Dh (rounded down).  An exact doubling copies 2x2
// blocks.  `cols` is scratch for dst.w entries.  Both images non-empty.
void scale_nearest(const Image &src, const Image &dst, uint32_t *cols);

// dst (same size) = src mirrored left-right and/or top-bottom.
void flip(const Image &src, const Image &dst, bool flip_x, bool flip_y);

// dst = src turned by `turns` quarter turns counter-clockwise (0..3);
// dst is src.h x src.w for odd turns.
void rotate_quarter(const Image &src, const Image &dst, int turns);

// General rotation by `angle` degrees into dst (sized by rotated_size);
// positions outside the source get `background`.
void rotated_size(double angle, int w, int h, double *nw, double *nh);
void rotate_general(const Image &src, const Image &dst, double angle,
                    uint32_t background);

// Removes columns [x0, x1) and rows [y0, y1) of src (0 <= x0 <= x1 <= w,
// likewise rows) and packs the rest into dst.
void chop(const Image &src, const Image &dst, int x0, int x1, int y0, int y1);

// The Scale2x edge-preserving doubler; dst is 2w x 2h.
void scale2x(const Image &src, const Image &dst);

}  // namespace lmxf
