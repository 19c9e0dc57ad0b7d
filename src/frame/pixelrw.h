// Loads and stores of one pixel value of 1 to 4 bytes at an address of any
// alignment.  3-byte pixels are read and written little-endian (value bits
// 0-7 in the first byte), whatever the machine.  No Python in here: safe to
// call with the interpreter lock released.
#pragma once

#include <SDL.h>

#include <cstring>

namespace lm {

inline Uint32 px_load(const Uint8 *p, int bpp)
{
    switch (bpp) {
    case 1:
        return *p;
    case 2: {
        Uint16 v;
        memcpy(&v, p, 2);
        return v;
    }
    case 3:
        return (Uint32)p[0] | ((Uint32)p[1] << 8) | ((Uint32)p[2] << 16);
    default: {
        Uint32 v;
        memcpy(&v, p, 4);
        return v;
    }
    }
}

inline void px_store(Uint8 *p, int bpp, Uint32 v)
{
    switch (bpp) {
    case 1:
        *p = (Uint8)v;
        break;
    case 2: {
        Uint16 w = (Uint16)v;
        memcpy(p, &w, 2);
        break;
    }
    case 3:
        p[0] = (Uint8)v;
        p[1] = (Uint8)(v >> 8);
        p[2] = (Uint8)(v >> 16);
        break;
    default:
        memcpy(p, &v, 4);
        break;
    }
}

}  // namespace lm
