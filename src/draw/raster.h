// Raster kernels of lumora.draw: plain C++ over an SDL surface's pixels.
//
// Nothing in here touches Python.  The module file parses arguments, maps
// the colour, locks the surface and builds a Canvas; the kernels write only
// inside the canvas' clip rectangle and widen a DrawnBox by every pixel
// they actually wrote.  Coordinates are 64-bit wherever a derived value
// (x + w, a centre plus a radius, a span end of a wide line) could leave
// the int range.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>

namespace lmdraw {

struct DrawnBox {
    int32_t min_x = INT32_MAX;
    int32_t min_y = INT32_MAX;
    int32_t max_x = INT32_MIN;
    int32_t max_y = INT32_MIN;

    bool empty() const
    {
        return min_x == INT32_MAX || min_y == INT32_MAX ||
               max_x == INT32_MIN || max_y == INT32_MIN;
    }
    void add(int32_t x, int32_t y)
    {
        if (x < min_x) min_x = x;
        if (x > max_x) max_x = x;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    void add_hspan(int32_t xa, int32_t xb, int32_t y)
    {
        if (xa < min_x) min_x = xa;
        if (xb > max_x) max_x = xb;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    void merge(const DrawnBox &o)
    {
        if (o.empty())
            return;
        add(o.min_x, o.min_y);
        add(o.max_x, o.max_y);
    }
};

// The colour to draw with: the mapped pixel value plus the three bytes a
// 3-byte pixel gets, worked out once per call.
struct Ink {
    uint32_t value = 0;
    uint8_t b3[3] = {0, 0, 0};
};

struct Canvas {
    uint8_t *pixels = nullptr;
    int pitch = 0;
    int bpp = 0;
    // Clip rectangle as half-open bounds: x in [x0, x1), y in [y0, y1).
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    SDL_PixelFormat *fmt = nullptr;

    bool inside(int64_t x, int64_t y) const
    {
        return x >= x0 && x < x1 && y >= y0 && y < y1;
    }
};

// Fills a Canvas from a locked surface (pixels, pitch, clip rectangle).
Canvas canvas_of(SDL_Surface *s);
Ink ink_of(const Canvas &c, uint32_t pixel);

// Single pixels and spans, clipped (the box is widened by what was written).
void put_pixel(const Canvas &c, const Ink &k, int64_t x, int64_t y,
               DrawnBox &box);
void span_tracked(const Canvas &c, const Ink &k, int64_t xa, int64_t y,
                  int64_t xb, DrawnBox &box);

// Lines.
void thin_segment(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                  int64_t x2, int64_t y2, DrawnBox &box);
void thick_segment(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                   int64_t x2, int64_t y2, int64_t width, DrawnBox &box);
void smooth_segment(const Canvas &c, uint32_t pixel, bool blend,
                    float from_x, float from_y, float to_x, float to_y,
                    DrawnBox &box);

// Circles (centre x0, y0; radius r >= 1).  `width` 0 fills.
void circle(const Canvas &c, const Ink &k, int64_t x0, int64_t y0, int64_t r,
            int64_t width, DrawnBox &box);
void quarter_rings(const Canvas &c, const Ink &k, int64_t x0, int64_t y0,
                   int64_t r, int64_t t, int tr, int tl, int bl, int br,
                   DrawnBox &box);

// Ellipse inside (x, y, w, h), w and h >= 1; thickness 0 fills, otherwise
// draws a ring `width` pixels wide.
void ellipse(const Canvas &c, const Ink &k, int64_t x, int64_t y, int64_t w,
             int64_t h, int64_t width, DrawnBox &box);

// Elliptical arc inside (x, y, w, h) from angle a0 to a1 (radians).
void arc(const Canvas &c, const Ink &k, int64_t x, int64_t y, int64_t w,
         int64_t h, double a0, double a1, int64_t width, DrawnBox &box);

// Even-odd scanline fill of the polygon (xs[i], ys[i]); `scratch` must hold
// polygon_scratch_bytes(n) bytes.
size_t polygon_scratch_bytes(size_t n);
void scanline_polygon(const Canvas &c, const Ink &k, const int64_t *xs,
                      const int64_t *ys, size_t n, void *scratch,
                      DrawnBox &box);

// The rectangle (x, y, w, h) filled, clipped; no box is kept.
void fill_rect(const Canvas &c, const Ink &k, int64_t x, int64_t y, int64_t w,
               int64_t h);

// Border of the rectangle (x1, y1)-(x2, y2) inclusive, `wd` pixels wide.
void frame_rect(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                int64_t x2, int64_t y2, int64_t wd);

// Rectangle with rounded corners; radii as given by the caller (negative
// ones take `radius`).  Needs polygon_scratch_bytes(8) bytes of scratch.
void curved_box(const Canvas &c, const Ink &k, int64_t x1, int64_t y1,
                int64_t x2, int64_t y2, int64_t radius, int64_t wd,
                int64_t tl, int64_t tr, int64_t bl, int64_t br, void *scratch,
                DrawnBox &box);

}  // namespace lmdraw

extern "C" int inside_clip(SDL_Surface *surf, int x, int y)
    __attribute__((visibility("default")));
