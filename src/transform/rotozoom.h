// Rotation and zoom of 32-bit surfaces with optional bilinear smoothing,
// in 16.16 fixed point.  The entry points are exported by name for C
// callers; the module itself goes through rotozoom_core, which tells a
// failed allocation apart from an SDL failure.
#pragma once

#include <SDL.h>

#define LM_ROTOZOOM_EXPORT extern "C" __attribute__((visibility("default")))

LM_ROTOZOOM_EXPORT SDL_Surface *rotozoomSurface(SDL_Surface *src, double angle,
                                                double zoom, int smooth);
LM_ROTOZOOM_EXPORT int zoomSurfaceRGBA(SDL_Surface *src, SDL_Surface *dst,
                                       int smooth);
LM_ROTOZOOM_EXPORT void transformSurfaceRGBA(SDL_Surface *src, SDL_Surface *dst,
                                             int cx, int cy, int isin,
                                             int icos, int smooth);
LM_ROTOZOOM_EXPORT void rotozoomSurfaceSizeTrig(int width, int height,
                                                double angle, double zoom,
                                                int *dstwidth, int *dstheight,
                                                double *canglezoom,
                                                double *sanglezoom);
LM_ROTOZOOM_EXPORT void rotozoomSurfaceSize(int width, int height,
                                            double angle, double zoom,
                                            int *dstwidth, int *dstheight);
LM_ROTOZOOM_EXPORT void zoomSurfaceSize(int width, int height, double zoomx,
                                        double zoomy, int *dstwidth,
                                        int *dstheight);

namespace lmxf {

enum RotozoomStatus { ROTOZOOM_OK = 0, ROTOZOOM_SDL_ERROR, ROTOZOOM_NO_MEMORY };

// rotozoomSurface with the reason of a null result in *status.
SDL_Surface *rotozoom_core(SDL_Surface *src, double angle, double zoom,
                           int smooth, RotozoomStatus *status);

// The result size in double precision (before any int conversion), so the
// caller can refuse what does not fit.
void rotozoom_size_exact(int width, int height, double angle, double zoom,
                         double *dstwidth, double *dstheight);

}  // namespace lmxf
