// PNG writer over libpng.  Plain C++ (C style inside, since libpng reports
// errors by longjmp): no Python here.
#pragma once

#include <SDL.h>

// Writes `surf` as PNG to `dst`; closes `dst` afterwards when `close_dst`
// is set (its close result counts).  0, or -1 with SDL's error set.
int lmpng_write(SDL_Surface *surf, SDL_RWops *dst, int close_dst);

// Exported as a C symbol: opens `path` for writing, writes, closes.
extern "C" __attribute__((visibility("default"))) int
lm_SavePNG(SDL_Surface *surface, const char *path);
