// Loading and saving steps common to lumora.image and lumora.richload: the
// two modules differ only in which decoder and which writer they call.
// Header-only (the modules share no code at link time).
#pragma once

#include "frame.h"
#include "memsrc.h"
#include "rwguard.h"
#include "sizecheck.h"

#include <cstdio>
#include <cstring>

namespace lmimg {

// Text after the last '.', or the whole text.
inline const char *extension_of(const char *name)
{
    const char *dot = strrchr(name, '.');
    return dot ? dot + 1 : name;
}

// New owning Surface object for `s`; frees `s` if that fails.
inline PyObject *own_surface(SDL_Surface *s)
{
    PyObject *o = lmSurface_New2(s, 1);
    if (!o && s)
        SDL_FreeSurface(s);
    return o;
}

// A path with an embedded NUL would silently name a shorter path.  True,
// with ValueError set, when `encoded` (the bytes of `file`) holds one.
inline bool refuse_nul(PyObject *file, PyObject *encoded)
{
    if ((Py_ssize_t)strlen(PyBytes_AS_STRING(encoded)) == PyBytes_GET_SIZE(encoded))
        return false;
    lm::Ref shown(lm_EncodeString(file, nullptr, nullptr, nullptr));
    if (shown && PyBytes_Check(shown.get()))
        PyErr_Format(PyExc_ValueError,
                     "File path '%.1024s' contains null characters",
                     PyBytes_AS_STRING(shown.get()));
    else if (shown)
        PyErr_SetString(PyExc_ValueError, "File path contains null characters");
    return true;
}

// A private copy of `src` (pixels, palette, colour key, modulation and
// blend mode) for a save to write from: the writer may run Python (a file
// object's write(), or other threads while the interpreter lock is
// released), which may re-initialise or free the surface it was given.
// Null with SDL's error set.
inline SDL_Surface *copy_for_save(SDL_Surface *src)
{
    const SDL_PixelFormat *f = src->format;
    SDL_Surface *dst =
        SDL_CreateRGBSurfaceWithFormat(0, src->w, src->h, f->BitsPerPixel, f->format);
    if (!dst)
        return nullptr;
    if (f->palette && dst->format->palette &&
        SDL_SetPaletteColors(dst->format->palette, f->palette->colors, 0,
                             SDL_min(f->palette->ncolors,
                                     dst->format->palette->ncolors)) < 0) {
        SDL_FreeSurface(dst);
        return nullptr;
    }
    size_t row = ((size_t)src->w * f->BitsPerPixel + 7) / 8;
    if (row && src->h && src->pixels) {
        if (SDL_LockSurface(src) < 0) {
            SDL_FreeSurface(dst);
            return nullptr;
        }
        for (int y = 0; y < src->h; y++)
            memcpy(static_cast<Uint8 *>(dst->pixels) + (size_t)y * dst->pitch,
                   static_cast<const Uint8 *>(src->pixels) + (size_t)y * src->pitch,
                   row);
        SDL_UnlockSurface(src);
    }
    Uint32 key;
    Uint8 r, g, b, a;
    SDL_BlendMode mode;
    if (SDL_GetColorKey(src, &key) == 0)
        SDL_SetColorKey(dst, SDL_TRUE, key);
    SDL_GetSurfaceColorMod(src, &r, &g, &b);
    SDL_GetSurfaceAlphaMod(src, &a);
    SDL_SetSurfaceColorMod(dst, r, g, b);
    SDL_SetSurfaceAlphaMod(dst, a);
    if (SDL_GetSurfaceBlendMode(src, &mode) == 0)
        SDL_SetSurfaceBlendMode(dst, mode);
    return dst;
}

// The arguments of a save, (Surface, file[, namehint]), parsed in two
// steps: parse() converts every argument (which may run Python: a
// path-like object's __fspath__), then take_surface() copies the surface's
// pixels, so that nothing Python does later can reach the surface the
// writer reads.  `path` is the UTF-8 bytes of a path `file`, or null when
// `file` is a file object.
class SaveArgs {
  public:
    SaveArgs() = default;
    SaveArgs(const SaveArgs &) = delete;
    SaveArgs &operator=(const SaveArgs &) = delete;
    ~SaveArgs() { SDL_FreeSurface(surf); }

    // False with an exception set.
    bool parse(PyObject *args)
    {
        if (!PyArg_ParseTuple(args, "O!O|s", &lmSurface_Type, &surfobj, &file,
                              &hint))
            return false;
        enc_.reset(lm_EncodeString(file, "UTF-8", nullptr, lmExc_SDLError));
        if (!enc_)
            return false;
        if (enc_.get() == Py_None)
            return true;
        if (refuse_nul(file, enc_.get()))
            return false;
        path = PyBytes_AS_STRING(enc_.get());
        return true;
    }

    // Sets `surf` to a copy of the surface, prepared (a subsurface's
    // parent locked and its pixel pointer renewed) while copying.  False
    // with an exception set, also when the parent is gone or was replaced.
    bool take_surface()
    {
        if (!lmSurface_AsSurface(surfobj)) {
            PyErr_SetString(lmExc_SDLError, "display Surface quit");
            return false;
        }
        lmSurface_Prep(surfobj);
        if (PyErr_Occurred())
            return false;
        SDL_Surface *live = lmSurface_AsSurface(surfobj);
        surf = live ? copy_for_save(live) : nullptr;
        if (!live)
            PyErr_SetString(lmExc_SDLError, "display Surface quit");
        else if (!surf)
            lm_RaiseSDLError();
        if (!lmSurface_Unprep(surfobj) || !surf)
            return false;
        return true;
    }

    PyObject *surfobj = nullptr;
    PyObject *file = nullptr;
    const char *hint = nullptr;
    SDL_Surface *surf = nullptr;
    const char *path = nullptr;

  private:
    lm::Ref enc_;
};

// Closes `rw` without letting the close overwrite SDL's current error.
inline void close_keeping_error(SDL_RWops *rw)
{
    char keep[512];
    snprintf(keep, sizeof keep, "%s", SDL_GetError());
    SDL_RWclose(rw);
    SDL_SetError("%s", keep);
}

// The stream to decode `file` from: a memory stream over the whole content
// of an object that cannot seek (its data kept alive by `hold`), or the
// ordinary stream, which reports the file's extension through `ext` when
// that is not null.  Null with an exception set on failure.
inline SDL_RWops *load_source(PyObject *file, lm::Ref &hold, char **ext)
{
    SDL_RWops *rw = nullptr;
    PyObject *held = nullptr;
    int mem = unseekable_source(file, &rw, &held);
    if (mem < 0)
        return nullptr;
    hold.reset(held);
    if (!mem)
        rw = lmStream_FromObject(file, ext);
    return rw;
}

// Decodes `rw` with the interpreter lock released, after checking the
// header against `max_pixels` (`type` is the loader's type hint), then
// releases the stream with the stream module's rule: a caller's file object
// is closed only when nothing else refers to it.  Null with an exception
// set on failure.
template <typename Decode>
SDL_Surface *decode_source(SDL_RWops *rw, const char *type, uint64_t max_pixels,
                           Decode decode)
{
    SDL_Surface *s = nullptr;
    {
        lm::GilRelease nogil;
        if (image_size_ok(rw, type, max_pixels))
            s = decode(rw);
    }
    if (!s) {
        char keep[512];
        snprintf(keep, sizeof keep, "%s", SDL_GetError());
        lmStream_Release(rw);
        PyErr_Clear();
        PyErr_SetString(lmExc_SDLError, keep);
        return nullptr;
    }
    if (lmStream_Release(rw) < 0) {
        SDL_FreeSurface(s);
        return nullptr;
    }
    return s;
}

// The argument of a set_max_pixels call.  False with ValueError or
// TypeError set when it is not a whole number in range.
inline bool parse_max_pixels(PyObject *arg, uint64_t *out)
{
    long long n = PyLong_AsLongLong(arg);
    if (n == -1 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError))
            return false;
        PyErr_Clear();
    }
    if (n < 1 || (uint64_t)n > kMaxPixelsCeiling) {
        PyErr_Format(PyExc_ValueError, "max_pixels must be between 1 and %llu",
                     (unsigned long long)kMaxPixelsCeiling);
        return false;
    }
    *out = (uint64_t)n;
    return true;
}

// Writes `surf` into `dst` (left open) with `write(surf, stream)` through a
// WriteGuard.  0, or -1 with SDL's error set.
template <typename Write>
int write_stream(SDL_Surface *surf, SDL_RWops *dst, Write write)
{
    WriteGuard guard(dst);
    if (!guard.stream())
        return -1;
    if (write(surf, guard.stream()) < 0) {
        guard.failed();  // the first failed write says more than the writer
        return -1;
    }
    if (!guard.finish() || guard.failed())
        return -1;
    return 0;
}

// Opens `path`, writes, closes; the close result counts (buffered data
// that cannot be flushed is a failed save).
template <typename Write>
int write_path(SDL_Surface *surf, const char *path, Write write)
{
    SDL_RWops *dst = SDL_RWFromFile(path, "wb");
    if (!dst)
        return -1;
    if (write_stream(surf, dst, write) < 0) {
        close_keeping_error(dst);
        return -1;
    }
    return SDL_RWclose(dst) < 0 ? -1 : 0;
}

// Releases `rw`, a stream over a Python file object that a save wrote
// with result `res`; the caller's object stays open.  False, with the
// Python error set, when releasing failed after a good write; otherwise
// true, with SDL's error left as the write had it.
inline bool release_after_write(SDL_RWops *rw, int res)
{
    char keep[512];
    snprintf(keep, sizeof keep, "%s", SDL_GetError());
    if (lmStream_Release(rw) < 0 && res == 0)
        return false;
    PyErr_Clear();
    SDL_SetError("%s", keep);
    return true;
}

}  // namespace lmimg
