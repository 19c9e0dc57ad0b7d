// TGA writer.
//
// Each row of the surface is blitted onto a one-row surface in the file's
// pixel order (B, G, R[, A] or 8-bit palette indices) and run-length
// encoded from there, so any source format SDL can blit is written.
#include "tga.h"

#include <cstring>

namespace lmimg {

namespace {

template <int B>
inline bool same_px(const uint8_t *a, const uint8_t *b)
{
    if (B == 1)
        return a[0] == b[0];
    if (B == 3)
        return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
    Uint32 x, y;
    memcpy(&x, a, 4);
    memcpy(&y, b, 4);
    return x == y;
}

template <int B>
size_t rle_row(const uint8_t *px, int w, uint8_t *out, size_t cap)
{
    size_t n = 0;
    int start = 0, i = 0;
    while (i < w) {
        const uint8_t *p = px + (size_t)i * B;
        int j = i + 1;
        while (j < w && j - i < 128 && same_px<B>(px + (size_t)j * B, p))
            j++;
        int run = j - i;
        // A run packet pays when it saves more than its header byte; the
        // last pixels of a row always close with one.
        if ((run - 1) * B <= 1 && j != w) {
            i = j;
            continue;
        }
        while (start < i) {
            int c = i - start < 128 ? i - start : 128;
            size_t need = 1 + (size_t)c * B;
            if (cap - n < need)
                return 0;
            out[n++] = (uint8_t)(c - 1);
            memcpy(out + n, px + (size_t)start * B, (size_t)c * B);
            n += (size_t)c * B;
            start += c;
        }
        if (cap - n < 1 + (size_t)B)
            return 0;
        out[n++] = (uint8_t)(0x80 | (run - 1));
        memcpy(out + n, p, B);
        n += B;
        start = i = j;
    }
    return n;
}

bool put(SDL_RWops *out, const void *data, size_t len)
{
    if (SDL_RWwrite(out, data, 1, len) == len)
        return true;
    // Streams do not always say why a write fell short.
    if (!*SDL_GetError())
        SDL_SetError("Error writing the TGA file");
    return false;
}

// The surface's blit settings, switched to a plain copy while the rows are
// taken and put back on every exit.
class PlainCopy {
  public:
    explicit PlainCopy(SDL_Surface *s) : s_(s)
    {
        SDL_GetSurfaceAlphaMod(s, &alpha_);
        SDL_GetSurfaceColorMod(s, &r_, &g_, &b_);
        SDL_GetSurfaceBlendMode(s, &blend_);
        has_key_ = SDL_GetColorKey(s, &key_) == 0;
        SDL_SetSurfaceAlphaMod(s, 255);
        SDL_SetSurfaceColorMod(s, 255, 255, 255);
        SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
        if (has_key_)
            SDL_SetColorKey(s, SDL_FALSE, 0);
    }
    PlainCopy(const PlainCopy &) = delete;
    PlainCopy &operator=(const PlainCopy &) = delete;
    ~PlainCopy()
    {
        SDL_SetSurfaceAlphaMod(s_, alpha_);
        SDL_SetSurfaceColorMod(s_, r_, g_, b_);
        SDL_SetSurfaceBlendMode(s_, blend_);
        if (has_key_)
            SDL_SetColorKey(s_, SDL_TRUE, key_);
    }

  private:
    SDL_Surface *s_;
    Uint8 alpha_ = 255, r_ = 255, g_ = 255, b_ = 255;
    SDL_BlendMode blend_ = SDL_BLENDMODE_NONE;
    bool has_key_ = false;
    Uint32 key_ = 0;
};

struct SurfaceFree {
    SDL_Surface *s;
    ~SurfaceFree() { SDL_FreeSurface(s); }
};

struct BufFree {
    uint8_t *p;
    ~BufFree() { SDL_free(p); }
};

}  // namespace

size_t tga_row_capacity(int w, int bpp)
{
    // Every byte of pixel data at most once, plus one header per started
    // 128-pixel raw packet and the closing run packet's header.
    return (size_t)w * bpp + (size_t)w / 128 + 2;
}

size_t tga_rle_row(const uint8_t *px, int w, int bpp, uint8_t *out, size_t cap)
{
    switch (bpp) {
    case 1: return rle_row<1>(px, w, out, cap);
    case 3: return rle_row<3>(px, w, out, cap);
    case 4: return rle_row<4>(px, w, out, cap);
    default: return 0;
    }
}

int tga_write(SDL_Surface *surf, SDL_RWops *out)
{
    const SDL_PixelFormat *fmt = surf->format;
    if (fmt->BitsPerPixel < 8)
        return SDL_SetError("cannot save <8bpp images as TGA");
    if (surf->w > 65535 || surf->h > 65535)
        return SDL_SetError("cannot save images larger than 65535 pixels as TGA");

    Uint32 key = 0;
    bool has_key = SDL_GetColorKey(surf, &key) == 0;
    // 8-bit formats without a palette (RGB332) are true-colour.
    bool mapped = fmt->BytesPerPixel == 1 && fmt->palette;
    bool alpha = !mapped && fmt->Amask != 0;
    int ncolors = mapped ? fmt->palette->ncolors : 0;

    uint8_t h[18] = {0};
    h[1] = mapped ? 1 : 0;
    h[2] = mapped ? 9 : 10;
    h[5] = (uint8_t)(ncolors & 0xff);
    h[6] = (uint8_t)(ncolors >> 8);
    h[7] = mapped ? (has_key ? 32 : 24) : 0;
    h[12] = (uint8_t)(surf->w & 0xff);
    h[13] = (uint8_t)(surf->w >> 8);
    h[14] = (uint8_t)(surf->h & 0xff);
    h[15] = (uint8_t)(surf->h >> 8);
    h[16] = mapped ? 8 : (alpha ? 32 : 24);
    h[17] = alpha ? 0x28 : 0x20;
    SDL_ClearError();
    if (!put(out, h, sizeof h))
        return -1;

    if (mapped) {
        const SDL_Color *c = fmt->palette->colors;
        uint8_t entries[256 * 4];
        size_t n = 0;
        for (int i = 0; i < ncolors && i < 256; i++) {
            entries[n++] = c[i].b;
            entries[n++] = c[i].g;
            entries[n++] = c[i].r;
            if (has_key)
                entries[n++] = (Uint32)i == key ? 0 : 255;
        }
        if (n && !put(out, entries, n))
            return -1;
    }

    int bpp = mapped ? 1 : (alpha ? 4 : 3);
    SDL_Surface *row = mapped
        ? SDL_CreateRGBSurface(0, surf->w, 1, 8, 0, 0, 0, 0)
        : SDL_CreateRGBSurface(0, surf->w, 1, alpha ? 32 : 24, 0xff0000,
                               0xff00, 0xff, alpha ? 0xff000000 : 0);
    if (!row)
        return -1;
    SurfaceFree row_free{row};
    if (mapped &&
        SDL_SetPaletteColors(row->format->palette, fmt->palette->colors, 0,
                             ncolors) < 0)
        return -1;

    size_t cap = tga_row_capacity(surf->w, bpp);
    uint8_t *buf = static_cast<uint8_t *>(SDL_malloc(cap));
    if (!buf)
        return SDL_SetError("out of memory");
    BufFree buf_free{buf};

    // Pixels already in the file's layout are encoded in place: no blit.
    if (surf->format->format == row->format->format &&
        (!mapped || SDL_memcmp(fmt->palette->colors, row->format->palette->colors,
                               sizeof(SDL_Color) * ncolors) == 0)) {
        if (SDL_LockSurface(surf) < 0)
            return -1;
        int res = 0;
        for (int y = 0; surf->w > 0 && y < surf->h; y++) {
            const uint8_t *px = static_cast<const uint8_t *>(surf->pixels) +
                                (size_t)y * surf->pitch;
            size_t n = tga_rle_row(px, surf->w, bpp, buf, cap);
            if (!n) {
                res = SDL_SetError("TGA row encoding overflow");
                break;
            }
            if (!put(out, buf, n)) {
                res = -1;
                break;
            }
        }
        SDL_UnlockSurface(surf);
        return res;
    }

    PlainCopy plain(surf);
    for (int y = 0; surf->w > 0 && y < surf->h; y++) {
        SDL_Rect r = {0, y, surf->w, 1};
        if (SDL_BlitSurface(surf, &r, row, nullptr) < 0)
            return -1;
        size_t n = tga_rle_row(static_cast<const uint8_t *>(row->pixels),
                               surf->w, bpp, buf, cap);
        if (!n)
            return SDL_SetError("TGA row encoding overflow");
        if (!put(out, buf, n))
            return -1;
    }
    return 0;
}

}  // namespace lmimg
