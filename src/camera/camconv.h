// Camera pixel conversions: captured frames (or surface pixels) into the
// pixels of a destination surface, as RGB, YUV or HSV.  Plain integer code
// with no Python in it; the camera module runs it without the interpreter
// lock.
//
// Destinations are written row by row at their own pitch, so subsurfaces
// and 24-bit surfaces with padded rows are filled correctly.  Sources are
// read as packed frames of dst->w x dst->h pixels; the caller checks that a
// frame holds lm_cam_frame_bytes() bytes before converting it.
#pragma once

#include <SDL.h>
#include <cstdint>

#define LM_CAM_EXPORT extern "C" __attribute__((visibility("default")))

// Four-character codes, little-endian.
constexpr Uint32 lm_fourcc(char a, char b, char c, char d)
{
    return (Uint32)(Uint8)a | ((Uint32)(Uint8)b << 8) | ((Uint32)(Uint8)c << 16) |
           ((Uint32)(Uint8)d << 24);
}
constexpr Uint32 LM_PIX_RGB3 = lm_fourcc('R', 'G', 'B', '3');
constexpr Uint32 LM_PIX_R444 = lm_fourcc('R', '4', '4', '4');
constexpr Uint32 LM_PIX_XR24 = lm_fourcc('X', 'R', '2', '4');
constexpr Uint32 LM_PIX_YUYV = lm_fourcc('Y', 'U', 'Y', 'V');
constexpr Uint32 LM_PIX_UYVY = lm_fourcc('U', 'Y', 'V', 'Y');
constexpr Uint32 LM_PIX_YU12 = lm_fourcc('Y', 'U', '1', '2');
constexpr Uint32 LM_PIX_BA81 = lm_fourcc('B', 'A', '8', '1');

// Output colour spaces.
enum { LM_CAM_RGB = 1, LM_CAM_YUV = 2, LM_CAM_HSV = 4 };

struct lmCamDest {
    Uint8 *pixels;                 // first pixel of the first row
    int pitch;                     // bytes from one row to the next
    int w, h;
    const SDL_PixelFormat *format;
};

// Source pixels in a surface's own format (for rgb_to_yuv / rgb_to_hsv with
// a source code that names no frame layout).
struct lmCamSurfaceSrc {
    const Uint8 *pixels;
    int pitch;
    const SDL_PixelFormat *format;
};

// Bytes a frame of `pixelformat` needs for w x h pixels; 0 for a layout the
// converters do not read, -1 when the size overflows.
int64_t lm_cam_frame_bytes(Uint32 pixelformat, int w, int h);

LM_CAM_EXPORT void rgb24_to_rgb(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void bgr32_to_rgb(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void rgb444_to_rgb(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void yuyv_to_rgb(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void uyvy_to_rgb(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void yuyv_to_yuv(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void uyvy_to_yuv(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void yuv420_to_rgb(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void yuv420_to_yuv(const void *src, const lmCamDest *dst);
LM_CAM_EXPORT void sbggr8_to_rgb(const void *src, const lmCamDest *dst);
// `source` is a frame in RGB3, R444 or XR24 layout (by `code`), or, for any
// other code, an lmCamSurfaceSrc*.  The source may be the destination itself.
LM_CAM_EXPORT void rgb_to_yuv(const void *source, const lmCamDest *dst, Uint32 code);
LM_CAM_EXPORT void rgb_to_hsv(const void *source, const lmCamDest *dst, Uint32 code);
