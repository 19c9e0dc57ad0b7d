// PNG writer over libpng.
//
// libpng reports errors by longjmp back to png_jmpbuf, which skips C++
// destructors; so this file is written C-style: every resource is a plain
// pointer declared before setjmp, volatile when it changes after it, and
// freed once at the single exit label whichever way we got there.
#include "pngwrite.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void write_cb(png_structp png, png_bytep data, png_size_t len)
{
    SDL_RWops *rw = static_cast<SDL_RWops *>(png_get_io_ptr(png));
    // The stream belongs to whoever opened it: report, never close it here.
    if (SDL_RWwrite(rw, data, 1, len) != len)
        png_error(png, "Error while writing to the PNG file (SDL_RWwrite)");
}

void flush_cb(png_structp png)
{
    SDL_RWops *rw = static_cast<SDL_RWops *>(png_get_io_ptr(png));
#ifdef HAVE_STDIO_H
    if (rw->type == SDL_RWOPS_STDFILE && fflush(rw->hidden.stdio.fp) != 0)
        png_error(png, "Error while writing to PNG file (flush)");
#else
    (void)rw;
#endif
}

// Index of the last palette entry that is not opaque, or -1.
int last_translucent(const SDL_Palette *p)
{
    int last = -1;
    for (int i = 0; i < p->ncolors && i < 256; i++)
        if (p->colors[i].a != 255)
            last = i;
    return last;
}

// Unpacks 1-, 2- or 4-bit indices to one byte per pixel.
void unpack_rows(const SDL_Surface *s, uint8_t *out)
{
    int bits = s->format->BitsPerPixel;
    bool msb = SDL_PIXELORDER(s->format->format) == SDL_BITMAPORDER_1234;
    int per_byte = 8 / bits;
    unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < s->h; y++) {
        const uint8_t *row = static_cast<const uint8_t *>(s->pixels) +
                             (size_t)y * s->pitch;
        uint8_t *o = out + (size_t)y * s->w;
        for (int x = 0; x < s->w; x++) {
            int slot = x % per_byte;
            int shift = msb ? 8 - bits * (slot + 1) : bits * slot;
            o[x] = (uint8_t)((row[x / per_byte] >> shift) & mask);
        }
    }
}

}  // namespace

int lmpng_write(SDL_Surface *surf, SDL_RWops *dst, int close_dst)
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_color *volatile pal = nullptr;
    png_byte *volatile trans = nullptr;
    png_bytep *volatile rows = nullptr;
    uint8_t *volatile unpacked = nullptr;
    SDL_Surface *volatile conv = nullptr;
    SDL_Surface *volatile locked = nullptr;
    volatile int result = -1;
    SDL_Surface *src;
    const SDL_PixelFormat *fmt;
    int color_type, h;

    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
        SDL_SetError("Couldn't allocate memory for PNG file or incompatible PNG dll");
        goto done;
    }
    info = png_create_info_struct(png);
    if (!info) {
        SDL_SetError("Couldn't create image information for PNG file");
        goto done;
    }
    if (setjmp(png_jmpbuf(png))) {
        SDL_SetError("Error writing the PNG file.");
        result = -1;
        goto done;
    }

    fmt = surf->format;
    src = surf;
    if (fmt->palette) {
        const SDL_Palette *p = fmt->palette;
        int n = p->ncolors < 256 ? p->ncolors : 256;
        color_type = PNG_COLOR_TYPE_PALETTE;
        pal = static_cast<png_color *>(malloc(sizeof(png_color) * (n ? n : 1)));
        if (!pal) {
            SDL_SetError("Couldn't create palette for PNG file");
            goto done;
        }
        for (int i = 0; i < n; i++) {
            pal[i].red = p->colors[i].r;
            pal[i].green = p->colors[i].g;
            pal[i].blue = p->colors[i].b;
        }
        png_set_PLTE(png, info, pal, n);
        int last = last_translucent(p);
        if (last >= 0) {
            trans = static_cast<png_byte *>(malloc((size_t)last + 1));
            if (!trans) {
                SDL_SetError("Couldn't create palette for PNG file");
                goto done;
            }
            for (int i = 0; i <= last; i++)
                trans[i] = p->colors[i].a;
            png_set_tRNS(png, info, trans, last + 1, nullptr);
        }
    } else if (fmt->format == SDL_PIXELFORMAT_RGB24) {
        color_type = PNG_COLOR_TYPE_RGB;
    } else if (!SDL_ISPIXELFORMAT_ALPHA(fmt->format)) {
        color_type = PNG_COLOR_TYPE_RGB;
        conv = SDL_ConvertSurfaceFormat(surf, SDL_PIXELFORMAT_RGB24, 0);
        if (!conv)
            goto done;
        src = conv;
    } else if (fmt->format == SDL_PIXELFORMAT_ABGR8888) {
        color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    } else {
        color_type = PNG_COLOR_TYPE_RGB_ALPHA;
        conv = SDL_ConvertSurfaceFormat(surf, SDL_PIXELFORMAT_ABGR8888, 0);
        if (!conv)
            goto done;
        src = conv;
    }

    // RLE-accelerated surfaces only have readable rows while locked.
    if (SDL_MUSTLOCK(src)) {
        if (SDL_LockSurface(src) < 0)
            goto done;
        locked = src;
    }

    h = src->h;
    if (h < 1 || src->w < 1) {
        SDL_SetError("Error writing the PNG file.");
        goto done;
    }
    if ((size_t)h > SIZE_MAX / sizeof(png_bytep)) {
        SDL_SetError("Out of memory");
        goto done;
    }
    rows = static_cast<png_bytep *>(malloc(sizeof(png_bytep) * (size_t)h));
    if (!rows) {
        SDL_SetError("Out of memory");
        goto done;
    }
    if (src->format->BitsPerPixel < 8) {
        // libpng is told 8-bit indices: widen the packed rows first, so it
        // never reads past the shorter rows of the surface.
        if ((size_t)src->w > SIZE_MAX / (size_t)h) {
            SDL_SetError("Out of memory");
            goto done;
        }
        unpacked = static_cast<uint8_t *>(malloc((size_t)src->w * h));
        if (!unpacked) {
            SDL_SetError("Out of memory");
            goto done;
        }
        unpack_rows(src, unpacked);
        for (int y = 0; y < h; y++)
            rows[y] = unpacked + (size_t)y * src->w;
    } else {
        for (int y = 0; y < h; y++)
            rows[y] = static_cast<png_bytep>(src->pixels) + (size_t)y * src->pitch;
    }

    png_set_write_fn(png, dst, write_cb, flush_cb);
    png_set_IHDR(png, info, (png_uint_32)src->w, (png_uint_32)h, 8, color_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    result = 0;

done:
    if (locked)
        SDL_UnlockSurface(locked);
    png_destroy_write_struct(&png, &info);
    free(rows);
    free(unpacked);
    free(pal);
    free(trans);
    if (conv)
        SDL_FreeSurface(conv);
    if (close_dst) {
        if (result == 0) {
            if (SDL_RWclose(dst) < 0)
                result = -1;
        } else {
            char keep[512];
            snprintf(keep, sizeof keep, "%s", SDL_GetError());
            SDL_RWclose(dst);
            SDL_SetError("%s", keep);
        }
    }
    return result;
}

extern "C" int lm_SavePNG(SDL_Surface *surface, const char *path)
{
    SDL_RWops *dst = SDL_RWFromFile(path, "wb");
    if (!dst)
        return -1;
    return lmpng_write(surface, dst, 1);
}
