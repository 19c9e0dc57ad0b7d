// Sanity check of a BMP header before SDL decodes it.  Python-free.
#pragma once

#include <SDL.h>

#include <climits>
#include <cstdint>

namespace lmimg {

// Reads the BMP headers at the stream's position and puts the position
// back.  False, with SDL's error set, when the image claims more pixels
// than a surface can address (SDL's decoder computes row offsets in int and
// would wrap, returning an unfilled surface instead of an error).  A header
// that cannot be read passes: SDL reports that itself.
inline bool bmp_size_ok(SDL_RWops *src)
{
    Sint64 start = SDL_RWtell(src);
    if (start < 0)
        return true;
    Uint8 h[26];
    size_t got = SDL_RWread(src, h, 1, sizeof h);
    if (SDL_RWseek(src, start, RW_SEEK_SET) < 0 || got != sizeof h)
        return true;
    if (h[0] != 'B' || h[1] != 'M')
        return true;
    Uint32 info = (Uint32)h[14] | ((Uint32)h[15] << 8) | ((Uint32)h[16] << 16) |
                  ((Uint32)h[17] << 24);
    int64_t w, ht;
    if (info == 12) {  // OS/2 core header: 16-bit sizes
        w = (Uint16)(h[18] | (h[19] << 8));
        ht = (Uint16)(h[20] | (h[21] << 8));
    } else {
        w = (Sint32)((Uint32)h[18] | ((Uint32)h[19] << 8) | ((Uint32)h[20] << 16) |
                     ((Uint32)h[21] << 24));
        ht = (Sint32)((Uint32)h[22] | ((Uint32)h[23] << 8) | ((Uint32)h[24] << 16) |
                      ((Uint32)h[25] << 24));
    }
    w = w < 0 ? -w : w;
    ht = ht < 0 ? -ht : ht;
    // Decoded surfaces have at most 4 bytes per pixel, rows padded to 4.
    if (w > INT_MAX / 4 || (w * 4 + 3) * ht > (int64_t)INT_MAX) {
        SDL_SetError("BMP image is too large (%lld x %lld)", (long long)w,
                     (long long)ht);
        return false;
    }
    return true;
}


}  // namespace lmimg
