// Window geometry for the display module: rectangle cropping, SCALED window
// sizes and letter-boxed viewports.  Plain C++ with no Python in it.
#pragma once

#include <SDL.h>

namespace dgeom {

struct Box {
    int x, y, w, h;
};

// Crop `r` to a window of W x H.  False when nothing of it is left.
// Computed in 64 bits, so x + w never overflows.
bool crop_to_window(const SDL_Rect &r, int W, int H, SDL_Rect *out);

// The largest whole factor k >= 1 with k*w <= avail_w and k*h <= avail_h;
// 1 when any size is zero or negative.
int integer_factor(int avail_w, int avail_h, int w, int h);

// The biggest size of aspect w:h inside bw x bh (one side touching).
// A zero or negative w/h falls back to the whole box.
void fit_aspect(int bw, int bh, int w, int h, int *out_w, int *out_h);

// OpenGL viewport of a letter-boxed display of aspect `aspect` in an area
// of nw x nh, where `cmp` is the ratio the aspect is compared with: wider
// areas get centred vertical bars, others a viewport flush at the bottom.
// Zero or non-finite ratios give the whole area.
Box letterbox(double aspect, double cmp, int nw, int nh);

// w / h in floating point, 0 when h is not positive.
double ratio(int w, int h);

}  // namespace dgeom
