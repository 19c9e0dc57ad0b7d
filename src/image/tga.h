// TGA writer: run-length encoded true-colour or colour-mapped images.
// Plain C++ over SDL: no Python here.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>

namespace lmimg {

// Largest encoding of one row of `w` pixels of `bpp` bytes.
size_t tga_row_capacity(int w, int bpp);

// Run-length encodes one row into `out`, which holds `cap` bytes.  Returns
// the number of bytes written, or 0 if `cap` is too small (never written
// past).
size_t tga_rle_row(const uint8_t *px, int w, int bpp, uint8_t *out, size_t cap);

// Writes `surf` as TGA to `out`.  0 on success; -1 with SDL's error set.
// The surface's blend mode, alpha and colour modulation and colour key are
// switched off for the copy and restored afterwards.
int tga_write(SDL_Surface *surf, SDL_RWops *out);

}  // namespace lmimg
