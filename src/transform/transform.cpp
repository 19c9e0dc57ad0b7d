// lumora.transform: new surfaces made from existing ones: resized, flipped,
// rotated, cut, filtered, averaged or thresholded.
//
// This file parses and checks arguments, settles the result surface, takes
// the locks and releases the interpreter lock around the pixel kernels of
// exact.cpp, smooth.cpp, filters.cpp and rotozoom.cpp, which know nothing
// of Python.  Every check happens before a lock is taken; locks are scoped
// objects, so each is dropped on every path, after the interpreter lock is
// back.

#include "frame.h"
#include "exact.h"
#include "filters.h"
#include "rotozoom.h"
#include "smooth.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

using lmxf::Image;

namespace {

// Per-module state: the smoothscale backend and its four passes.
struct TransformState {
    const char *backend_name;
    lmxf::SmoothPass shrink_x;
    lmxf::SmoothPass shrink_y;
    lmxf::SmoothPass expand_x;
    lmxf::SmoothPass expand_y;
};

PyObject *raise_quit()
{
    PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return nullptr;
}

// The SDL surface of a surface object, or null with "display Surface quit".
SDL_Surface *live(PyObject *obj)
{
    SDL_Surface *s = lmSurface_AsSurface(obj);
    if (!s)
        raise_quit();
    return s;
}

// An optional surface argument: None (or absent) gives null in *out.
bool opt_surface(PyObject *o, const char *what, PyObject **out)
{
    *out = nullptr;
    if (!o || o == Py_None)
        return true;
    int r = lmSurface_Check(o);
    if (r < 0)
        return false;
    if (!r) {
        PyErr_Format(PyExc_TypeError, "%s must be a Surface or None, not %.200s",
                     what, Py_TYPE(o)->tp_name);
        return false;
    }
    *out = o;
    return true;
}

// Holds a surface's pixels for a scope: a surface object through the lock
// registry (which also points a subsurface at its parent's pixels), or a
// surface made here with SDL's own lock.  Unlocks need the interpreter
// lock: a GilRelease must be scoped inside the Holds it relies on.
class Hold {
  public:
    Hold() = default;
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
    ~Hold()
    {
        if (obj_) {
            lm::ErrorStash keep;
            lmSurface_Unlock(obj_);
        }
        else if (surf_) {
            SDL_UnlockSurface(surf_);
        }
    }
    bool lock(PyObject *obj)
    {
        if (!lmSurface_Lock(obj))
            return false;
        obj_ = obj;
        return true;
    }
    bool lock(SDL_Surface *s)
    {
        if (SDL_LockSurface(s) < 0) {
            lm_RaiseSDLError();
            return false;
        }
        surf_ = s;
        return true;
    }

  private:
    PyObject *obj_ = nullptr;
    SDL_Surface *surf_ = nullptr;
};

// An SDL surface owned here until a surface object takes it.
class Owned {
  public:
    Owned() = default;
    explicit Owned(SDL_Surface *s) : s_(s) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    ~Owned() { SDL_FreeSurface(s_); }
    SDL_Surface *get() const { return s_; }
    void reset(SDL_Surface *s)
    {
        SDL_FreeSurface(s_);
        s_ = s;
    }
    SDL_Surface *release()
    {
        SDL_Surface *s = s_;
        s_ = nullptr;
        return s;
    }
    // A new surface object owning the surface, or null with the error set.
    PyObject *wrap()
    {
        if (!s_)
            return nullptr;
        PyObject *o = lmSurface_New2(s_, 1);
        if (o)
            s_ = nullptr;
        return o;
    }

  private:
    SDL_Surface *s_ = nullptr;
};

// An SDL surface shaped like `src` (format, palette, alpha modulation,
// blend mode, colour key), zero-filled; null with the error set.
SDL_Surface *new_surface_like(SDL_Surface *src, int width, int height)
{
    SDL_PixelFormat *f = src->format;
    if (f->BytesPerPixel < 1 || f->BytesPerPixel > 4) {
        PyErr_SetString(PyExc_ValueError,
                        "unsupported Surface bit depth for transform");
        return nullptr;
    }
    // Zero-filling a large result takes as long as the pixel work; other
    // threads may run meanwhile.
    SDL_Surface *fresh;
    {
        lm::GilRelease nogil;
        fresh = SDL_CreateRGBSurface(src->flags, width, height, f->BitsPerPixel,
                                     f->Rmask, f->Gmask, f->Bmask, f->Amask);
    }
    Owned made(fresh);
    SDL_Surface *s = made.get();
    if (!s)
        return lm_RaiseSDLError(), nullptr;
    if (SDL_ISPIXELFORMAT_INDEXED(f->format) && f->palette && s->format->palette &&
        SDL_SetPaletteColors(s->format->palette, f->palette->colors, 0,
                             f->palette->ncolors) < 0)
        return lm_RaiseSDLError(), nullptr;
    Uint8 alpha = 255;
    if (SDL_GetSurfaceAlphaMod(src, &alpha) < 0 ||
        (alpha != 255 && SDL_SetSurfaceAlphaMod(s, alpha) < 0))
        return lm_RaiseSDLError(), nullptr;
    SDL_BlendMode mode = SDL_BLENDMODE_NONE;
    bool blend;
    if (SDL_ISPIXELFORMAT_ALPHA(f->format) || f->Amask) {
        if (SDL_GetSurfaceBlendMode(src, &mode) < 0)
            return lm_RaiseSDLError(), nullptr;
        blend = mode == SDL_BLENDMODE_BLEND;
    }
    else {
        blend = alpha != 255;
    }
    if (SDL_SetSurfaceBlendMode(s, blend ? SDL_BLENDMODE_BLEND
                                         : SDL_BLENDMODE_NONE) < 0)
        return lm_RaiseSDLError(), nullptr;
    Uint32 key;
    if (SDL_GetColorKey(src, &key) == 0 &&
        (SDL_SetColorKey(s, SDL_TRUE, key) < 0 || SDL_SetSurfaceRLE(s, 1) < 0))
        return lm_RaiseSDLError(), nullptr;
    return made.release();
}

// The surface a function fills: the caller's dest_surface, or a new one.
struct Target {
    PyObject *obj = nullptr;  // the caller's (borrowed), or null
    Owned made;
    SDL_Surface *surf = nullptr;

    // The caller's surface must be alive; otherwise make one like `src`.
    bool settle(PyObject *destobj, SDL_Surface *src, int w, int h)
    {
        obj = destobj;
        if (destobj) {
            surf = live(destobj);
            return surf != nullptr;
        }
        made.reset(new_surface_like(src, w, h));
        surf = made.get();
        return surf != nullptr;
    }
    bool hold(Hold &h) { return obj ? h.lock(obj) : h.lock(surf); }
    // The caller's surface (a new reference) or a new surface object.
    PyObject *finish() { return obj ? Py_NewRef(obj) : made.wrap(); }
};

bool same_format(SDL_Surface *a, SDL_Surface *b)
{
    if (a->format->BytesPerPixel == b->format->BytesPerPixel)
        return true;
    PyErr_SetString(PyExc_ValueError,
                    "Source and destination surfaces need the same format.");
    return false;
}

bool same_size(SDL_Surface *d, int w, int h, const char *msg)
{
    if (d->w == w && d->h == h)
        return true;
    PyErr_SetString(PyExc_ValueError, msg);
    return false;
}

// Argument parsing with the surface type check done by the parser.
template <typename... Out>
bool parse(PyObject *args, PyObject *kw, const char *format,
           const char *const *kws, Out... out)
{
    return PyArg_ParseTupleAndKeywords(args, kw, format,
                                       const_cast<char **>(kws), out...) != 0;
}

// The (surface, dest_surface=None) arguments: the live source, or null with
// the error set (a quit dest_surface is refused too).
SDL_Surface *parse_src_dest(PyObject *args, PyObject *kw, PyObject **srcobj,
                            PyObject **destobj)
{
    static const char *const kws[] = {"surface", "dest_surface", nullptr};
    PyObject *destarg = nullptr;
    if (!parse(args, kw, "O!|O", kws, &lmSurface_Type, srcobj, &destarg) ||
        !opt_surface(destarg, "dest_surface", destobj))
        return nullptr;
    SDL_Surface *src = live(*srcobj);
    if (!src || (*destobj && !live(*destobj)))
        return nullptr;
    return src;
}

// A w x h result shaped like `src`: the caller's surface must have that
// size and the source's pixel size.
bool settle_sized(Target &t, PyObject *destobj, SDL_Surface *src, int w, int h,
                  const char *size_msg)
{
    return t.settle(destobj, src, w, h) && same_size(t.surf, w, h, size_msg) &&
           same_format(src, t.surf);
}

bool nonnegative_size(int width, int height)
{
    if (width >= 0 && height >= 0)
        return true;
    PyErr_SetString(PyExc_ValueError, "Cannot scale to negative size");
    return false;
}

// ---------------------------------------------------------------------------
// scale, scale_by
// ---------------------------------------------------------------------------

const char *const kFactorError =
    "factor should be either one number or a sequence of two numbers.";

bool parse_factor(PyObject *o, float *fx, float *fy)
{
    Py_ssize_t n = PyObject_Size(o);
    if (n < 0)
        PyErr_Clear();
    bool ok;
    if (n > 2)
        ok = false;
    else if (n == 2)
        ok = lm_TwoFloatsFromObj(o, fx, fy) != 0;
    else {
        ok = lm_FloatFromObj(o, fx) != 0;
        *fy = *fx;
    }
    if (!ok)
        PyErr_SetString(PyExc_TypeError, kFactorError);
    return ok;
}

// Size of a surface scaled by factors (the single-precision product,
// truncated).  Non-finite factors and sizes past the int range are refused
// rather than cast.
bool scaled_size(SDL_Surface *s, float fx, float fy, int *w, int *h)
{
    if (!std::isfinite(fx) || !std::isfinite(fy)) {
        PyErr_SetString(PyExc_ValueError, "factor must be a finite number");
        return false;
    }
    const float pw = (float)s->w * fx, ph = (float)s->h * fy;
    if (!(std::fabs(pw) < 2147483648.0f) || !(std::fabs(ph) < 2147483648.0f)) {
        PyErr_SetString(PyExc_ValueError, "factor gives too large a size");
        return false;
    }
    *w = (int)pw;
    *h = (int)ph;
    return true;
}

const char *const kSizeError =
    "Destination surface not the given width or height.";

PyObject *stretch_nearest(PyObject *srcobj, PyObject *destobj, int width,
                          int height)
{
    if (!nonnegative_size(width, height))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src || (destobj && !live(destobj)))
        return nullptr;
    Target t;
    if (!settle_sized(t, destobj, src, width, height, kSizeError))
        return nullptr;
    if (width && height && src->w && src->h) {
        size_t bytes;
        if (!lm::checked_mul((size_t)width, sizeof(uint32_t), &bytes))
            return PyErr_NoMemory();
        lm::MemBuf<uint32_t> cols((size_t)width);
        if (!cols)
            return PyErr_NoMemory();
        Hold hd, hs;
        if (!t.hold(hd) || !hs.lock(srcobj))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::scale_nearest(lmxf::image_of(src), lmxf::image_of(t.surf),
                            cols.get());
    }
    return t.finish();
}

// scale and smoothscale: the size as two ints.
template <PyObject *(*Core)(PyObject *, PyObject *, PyObject *, int, int)>
PyObject *scale_to_size(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "size", "dest_surface",
                                      nullptr};
    PyObject *srcobj, *size, *destarg = nullptr, *destobj;
    int w, h;
    if (!parse(args, kw, "O!O|O", kws, &lmSurface_Type, &srcobj, &size,
               &destarg) ||
        !opt_surface(destarg, "dest_surface", &destobj))
        return nullptr;
    if (!lm_TwoIntsFromObj(size, &w, &h)) {
        PyErr_SetString(PyExc_TypeError, "size must be two numbers");
        return nullptr;
    }
    return Core(self, srcobj, destobj, w, h);
}

// scale_by and smoothscale_by: the factor read first, then the source.
template <PyObject *(*Core)(PyObject *, PyObject *, PyObject *, int, int)>
PyObject *scale_by_factor(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "factor", "dest_surface",
                                      nullptr};
    PyObject *srcobj, *factor, *destarg = nullptr, *destobj;
    float fx, fy;
    int w, h;
    if (!parse(args, kw, "O!O|O", kws, &lmSurface_Type, &srcobj, &factor,
               &destarg) ||
        !opt_surface(destarg, "dest_surface", &destobj) ||
        !parse_factor(factor, &fx, &fy))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src || !scaled_size(src, fx, fy, &w, &h))
        return nullptr;
    return Core(self, srcobj, destobj, w, h);
}

PyObject *nearest_core(PyObject *, PyObject *srcobj, PyObject *destobj, int w,
                       int h)
{
    return stretch_nearest(srcobj, destobj, w, h);
}

// ---------------------------------------------------------------------------
// smoothscale, smoothscale_by, the backend
// ---------------------------------------------------------------------------

TransformState *state_of(PyObject *module)
{
    return static_cast<TransformState *>(PyModule_GetState(module));
}

PyObject *smooth_core(PyObject *module, PyObject *srcobj, PyObject *destobj,
                      int width, int height)
{
    if (!nonnegative_size(width, height))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src)
        return nullptr;
    const int bpp = src->format->BytesPerPixel;
    if (bpp != 3 && bpp != 4) {
        PyErr_SetString(PyExc_ValueError,
                        "Only 24-bit or 32-bit surfaces can be smoothly scaled");
        return nullptr;
    }
    Target t;
    // The filters write whole 3- or 4-byte pixels: a destination of
    // another pixel size would be overrun.
    if (!settle_sized(t, destobj, src, width, height, kSizeError))
        return nullptr;
    // An empty source has nothing to filter from: the destination stays
    // as it is (the passes would read outside it).
    if (width && height && src->w && src->h) {
        const TransformState *st = state_of(module);
        const lmxf::SmoothPasses passes = {st->shrink_x, st->shrink_y,
                                           st->expand_x, st->expand_y};
        bool ok;
        {
            Hold hd, hs;
            if (!t.hold(hd) || !hs.lock(srcobj))
                return nullptr;
            lm::GilRelease nogil;
            ok = lmxf::smooth_scale(passes, lmxf::image_of(src),
                                    lmxf::image_of(t.surf));
        }
        if (!ok) {
            PyErr_SetString(PyExc_MemoryError,
                            "Not enough memory to scale the surface");
            return nullptr;
        }
    }
    return t.finish();
}

PyObject *tf_get_smoothscale_backend(PyObject *module, PyObject *)
{
    return PyUnicode_FromString(state_of(module)->backend_name);
}

PyObject *tf_set_smoothscale_backend(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"backend", nullptr};
    const char *name;
    if (!parse(args, kw, "s", kws, &name))
        return nullptr;
    if (!strcmp(name, "GENERIC"))
        Py_RETURN_NONE;
    if (!strcmp(name, "MMX") || !strcmp(name, "SSE"))
        return PyErr_Format(PyExc_ValueError, "%s not supported on this machine",
                            name);
    return PyErr_Format(PyExc_ValueError, "Unknown backend type %s", name);
}

// ---------------------------------------------------------------------------
// flip, rotate, chop
// ---------------------------------------------------------------------------

PyObject *tf_flip(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "flip_x", "flip_y", nullptr};
    PyObject *srcobj;
    int fx, fy;
    if (!parse(args, kw, "O!ii", kws, &lmSurface_Type, &srcobj, &fx, &fy))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src)
        return nullptr;
    Owned made(new_surface_like(src, src->w, src->h));
    if (!made.get())
        return nullptr;
    if (src->w && src->h) {
        Hold hd, hs;
        if (!hd.lock(made.get()) || !hs.lock(srcobj))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::flip(lmxf::image_of(src), lmxf::image_of(made.get()), fx != 0,
                   fy != 0);
    }
    return made.wrap();
}

// Background of a general rotation: the colour key, else the top-left
// pixel with its alpha bits cleared (read with the source locked).
Uint32 rotate_background(SDL_Surface *src)
{
    Uint32 key;
    if (SDL_GetColorKey(src, &key) == 0)
        return key;
    return lmxf::load_any(static_cast<const uint8_t *>(src->pixels),
                          src->format->BytesPerPixel) &
           ~src->format->Amask;
}

PyObject *tf_rotate(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "angle", nullptr};
    PyObject *srcobj;
    float angle;
    if (!parse(args, kw, "O!f", kws, &lmSurface_Type, &srcobj, &angle))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src)
        return nullptr;
    if (src->w < 1 || src->h < 1)
        return Py_NewRef(srcobj);
    if (src->format->BytesPerPixel < 1 || src->format->BytesPerPixel > 4) {
        PyErr_SetString(PyExc_ValueError,
                        "unsupported Surface bit depth for transform");
        return nullptr;
    }
    if (!std::isfinite(angle)) {
        PyErr_SetString(PyExc_ValueError, "angle must be a finite number");
        return nullptr;
    }
    // Reduced first: huge multiples of 90 must not reach an int cast.
    const double a = std::fmod((double)angle, 360.0);
    Owned made;
    if (std::fmod(a, 90.0) == 0) {
        int turns = ((int)a / 90) % 4;
        if (turns < 0)
            turns += 4;
        Hold hs;
        if (!hs.lock(srcobj))
            return nullptr;
        if (turns & 1)
            made.reset(new_surface_like(src, src->h, src->w));
        else
            made.reset(new_surface_like(src, src->w, src->h));
        Hold hd;
        if (!made.get() || !hd.lock(made.get()))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::rotate_quarter(lmxf::image_of(src), lmxf::image_of(made.get()),
                             turns);
    }
    else {
        double nw, nh;
        lmxf::rotated_size(a, src->w, src->h, &nw, &nh);
        made.reset(new_surface_like(src, lm::sat_int(nw), lm::sat_int(nh)));
        Hold hd, hs;
        if (!made.get() || !hd.lock(made.get()) || !hs.lock(srcobj))
            return nullptr;
        const Uint32 bg = rotate_background(src);
        lm::GilRelease nogil;
        lmxf::rotate_general(lmxf::image_of(src), lmxf::image_of(made.get()),
                             a, bg);
    }
    return made.wrap();
}

// [lo, hi) of one side of the chop rect, clipped to [0, size); a negative
// extent is taken as the band on the other side of the edge.
void clip_band(int pos, int extent, int size, int *lo, int *hi)
{
    int64_t a = pos, b = (int64_t)pos + extent;
    if (b < a)
        std::swap(a, b);
    *lo = (int)std::min<int64_t>(std::max<int64_t>(a, 0), size);
    *hi = (int)std::min<int64_t>(std::max<int64_t>(b, 0), size);
}

PyObject *tf_chop(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "rect", nullptr};
    PyObject *srcobj, *rectobj;
    if (!parse(args, kw, "O!O", kws, &lmSurface_Type, &srcobj, &rectobj))
        return nullptr;
    SDL_Rect scratch;
    const SDL_Rect *r = lmRect_Coerce(rectobj, &scratch);
    if (!r) {
        PyErr_SetString(PyExc_TypeError, "Rect argument is invalid");
        return nullptr;
    }
    SDL_Surface *src = live(srcobj);
    if (!src)
        return nullptr;
    int x0, x1, y0, y1;
    clip_band(r->x, r->w, src->w, &x0, &x1);
    clip_band(r->y, r->h, src->h, &y0, &y1);
    Owned made(new_surface_like(src, src->w - (x1 - x0), src->h - (y1 - y0)));
    if (!made.get())
        return nullptr;
    if (made.get()->w && made.get()->h) {
        Hold hd, hs;
        if (!hd.lock(made.get()) || !hs.lock(srcobj))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::chop(lmxf::image_of(src), lmxf::image_of(made.get()), x0, x1,
                   y0, y1);
    }
    return made.wrap();
}

// ---------------------------------------------------------------------------
// threshold, laplacian, average_surfaces, average_color, grayscale
// ---------------------------------------------------------------------------

lmxf::Plane plane_of(SDL_Surface *s)
{
    lmxf::Plane p;
    p.im = lmxf::image_of(s);
    p.fmt = s->format;
    return p;
}

// A colour argument as a pixel value of `f`: absent gives `dflt` mapped (or
// fails without one), an int is the pixel value itself (its low 32 bits, so
// opaque ARGB values fit where long is 32 bits), anything else a Color or a
// sequence of numbers.  False without an exception; the caller raises.
bool color_from_obj(PyObject *o, const SDL_PixelFormat *f, const Uint8 *dflt,
                    Uint32 *out)
{
    if (!o) {
        if (!dflt)
            return false;
        *out = SDL_MapRGBA(f, dflt[0], dflt[1], dflt[2], dflt[3]);
        return true;
    }
    if (PyLong_Check(o)) {
        unsigned long v = PyLong_AsUnsignedLongMask(o);
        if (v == (unsigned long)-1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        *out = (Uint32)v;
        return true;
    }
    Uint8 rgba[4];
    if (!lmColor_RGBAFromColorObj(o, rgba)) {
        PyErr_Clear();
        return false;
    }
    *out = SDL_MapRGBA(f, rgba[0], rgba[1], rgba[2], rgba[3]);
    return true;
}

PyObject *type_error(const char *msg)
{
    PyErr_SetString(PyExc_TypeError, msg);
    return nullptr;
}

const Uint8 kOpaqueBlack[4] = {0, 0, 0, 255};

PyObject *tf_threshold(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {
        "dest_surface", "surface",  "search_color", "threshold", "set_color",
        "set_behavior", "search_surf", "inverse_set", nullptr};
    PyObject *destobj = Py_None, *srcobj = nullptr, *search_color = nullptr;
    PyObject *thresh = nullptr, *set_color = nullptr, *search_surf = nullptr;
    int behavior = 1, inverse = 0;
    // dest_surface may be left out (it is refused below unless
    // set_behavior is 0); surface may not.
    if (!parse(args, kw, "|OO!OOOiOi", kws, &destobj, &lmSurface_Type,
               &srcobj, &search_color, &thresh, &set_color, &behavior,
               &search_surf, &inverse))
        return nullptr;
    if (!srcobj)
        return type_error(
            "threshold() missing required argument 'surface' (pos 2)");
    if (search_color == Py_None)
        search_color = nullptr;
    SDL_Surface *dest = nullptr;
    if (behavior) {
        const int is = lmSurface_Check(destobj);
        if (is < 0)
            return nullptr;
        if (!is)
            return type_error("argument 1 must be lumora.Surface, or None "
                              "with set_behavior=1");
        if (!(dest = live(destobj)))
            return nullptr;
    }
    else {
        if (set_color && set_color != Py_None)
            return type_error("if set_behavior==0 set_color should be None");
        if (destobj != Py_None)
            return type_error("if set_behavior==0 dest_surf_obj should be None");
    }
    if (behavior < 0 || behavior > 2) {
        PyErr_SetString(PyExc_ValueError, "set_behavior must be 0, 1 or 2");
        return nullptr;
    }
    SDL_Surface *src = lmSurface_AsSurface(srcobj);
    if (!src)
        return type_error("invalid surf argument");
    SDL_Surface *search = nullptr;
    if (search_surf) {
        const int is = lmSurface_Check(search_surf);
        if (is < 0)
            return nullptr;
        if (is) {
            if (!(search = live(search_surf)))
                return nullptr;
            if (search_color)
                return type_error(
                    "if search_surf is used, search_color should be None");
        }
    }
    if (behavior == 2 && set_color != Py_None)
        return type_error("if set_behavior==2 set_color should be None");
    lmxf::ThresholdJob job;
    if (!search && search_color &&
        !color_from_obj(search_color, src->format, nullptr, &job.search_value))
        return type_error("invalid search_color argument");
    if (!color_from_obj(thresh, src->format, kOpaqueBlack,
                        &job.threshold_value))
        return type_error("invalid threshold argument");
    if (set_color != Py_None &&
        !color_from_obj(set_color, src->format, kOpaqueBlack, &job.set_value))
        return type_error("invalid set_color argument");
    if (dest && (dest->w != src->w || dest->h != src->h))
        return type_error("surf and dest_surf not the same size");
    if (search && (search->w != src->w || search->h != src->h))
        return type_error("surf and search_surf not the same size");
    job.behavior = behavior;
    job.inverse = inverse != 0;
    int64_t count;
    {
        Hold hd, hs, hq;
        if ((dest && !hd.lock(destobj)) || !hs.lock(srcobj) ||
            (search && !hq.lock(search_surf)))
            return nullptr;
        job.src = plane_of(src);
        if (dest)
            job.dest = plane_of(dest);
        if (search)
            job.search = plane_of(search);
        lm::GilRelease nogil;
        count = lmxf::threshold(job);
    }
    return PyLong_FromLongLong(count);
}

PyObject *tf_laplacian(PyObject *, PyObject *args, PyObject *kw)
{
    PyObject *srcobj, *destobj;
    SDL_Surface *src = parse_src_dest(args, kw, &srcobj, &destobj);
    Target t;
    if (!src || !settle_sized(t, destobj, src, src->w, src->h,
                              "Destination surface not the same size."))
        return nullptr;
    {
        Hold hd, hs;
        if (!t.hold(hd) || !hs.lock(srcobj))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::laplacian(plane_of(src), plane_of(t.surf));
    }
    return t.finish();
}

// One surface of average_surfaces, held for the whole call.
struct Averaged {
    lm::Ref ref;
    Hold hold;
};

PyObject *tf_average_surfaces(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surfaces", "dest_surface",
                                      "palette_colors", nullptr};
    PyObject *seq, *destarg = nullptr, *destobj;
    int palette_colors = 1;
    if (!parse(args, kw, "O|Oi", kws, &seq, &destarg, &palette_colors) ||
        !opt_surface(destarg, "dest_surface", &destobj))
        return nullptr;
    if (!PySequence_Check(seq))
        return type_error("Argument must be a sequence of surface objects.");
    const Py_ssize_t size = PySequence_Size(seq);
    if (size < 0)
        return nullptr;
    if (size == 0)
        return type_error("Needs to be given at least one surface.");
    size_t bytes;
    if (size > INT_MAX / 4 ||
        !lm::checked_mul((size_t)size, sizeof(lmxf::Plane), &bytes) ||
        !lm::checked_mul((size_t)size, sizeof(Averaged), &bytes))
        return PyErr_NoMemory();
    std::unique_ptr<Averaged[]> items(new (std::nothrow) Averaged[size]);
    lm::MemBuf<lmxf::Plane> planes((size_t)size);
    if (!items || !planes) {
        PyErr_SetString(PyExc_MemoryError,
                        "Not enough memory to store surfaces.\n");
        return nullptr;
    }
    Target t;
    bool index_mode = false;
    for (Py_ssize_t i = 0; i < size; ++i) {
        lm::Ref item(PySequence_GetItem(seq, i));
        if (!item) {
            PyErr_Clear();
            return type_error("Needs to be a surface object.");
        }
        const int is = lmSurface_Check(item.get());
        if (is < 0)
            return nullptr;
        SDL_Surface *s = is ? lmSurface_AsSurface(item.get()) : nullptr;
        if (!s)
            return type_error("Needs to be a surface object.");
        if (i == 0) {
            if (destobj) {
                if (!(t.surf = live(destobj)))
                    return nullptr;
                t.obj = destobj;
            }
            else {
                t.made.reset(new_surface_like(s, s->w, s->h));
                if (!(t.surf = t.made.get())) {
                    PyErr_SetString(PyExc_ValueError,
                                    "Could not create new surface.");
                    return nullptr;
                }
            }
            if (!same_size(t.surf, s->w, s->h,
                           "Destination surface not the same size.") ||
                !same_format(s, t.surf))
                return nullptr;
            index_mode = t.surf->format->BytesPerPixel == 1 &&
                         t.surf->format->palette && !palette_colors;
        }
        // Every surface is read at the first one's size, and palette
        // indices only make sense from palette surfaces.
        else if (s->w != planes[0].im.w || s->h != planes[0].im.h) {
            PyErr_SetString(PyExc_ValueError,
                            "Surfaces must all be the same size.");
            return nullptr;
        }
        if (index_mode && (s->format->BytesPerPixel != 1 || !s->format->palette)) {
            PyErr_SetString(PyExc_ValueError,
                            "palette_colors=0 needs 8-bit palette surfaces.");
            return nullptr;
        }
        if (!items[i].hold.lock(item.get()))
            return nullptr;
        planes[i] = plane_of(s);
        items[i].ref = std::move(item);
    }
    const lmxf::Plane &first = planes[0];
    size_t n;
    if (!lm::checked_mul((size_t)first.im.w, (size_t)first.im.h, &n) ||
        !lm::checked_mul(n, (size_t)(index_mode ? 1 : 3), &n) ||
        !lm::checked_mul(n, sizeof(uint32_t), &bytes))
        return PyErr_NoMemory();
    lm::MemBuf<uint32_t> acc(n);
    if (n && !acc)
        return PyErr_NoMemory();
    if (n)
        memset(acc.get(), 0, n * sizeof(uint32_t));
    {
        Hold hd;
        if (!t.hold(hd))
            return nullptr;
        if (n) {
            lm::GilRelease nogil;
            lmxf::average_surfaces(planes.get(), (int)size, plane_of(t.surf),
                                   index_mode, acc.get());
        }
    }
    items.reset();
    return t.finish();
}

PyObject *tf_average_color(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "rect", "consider_alpha",
                                      nullptr};
    PyObject *srcobj, *rectobj = nullptr;
    int weighted = 0;
    if (!parse(args, kw, "O!|Op", kws, &lmSurface_Type, &srcobj, &rectobj,
               &weighted))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src)
        return nullptr;
    int64_t x = 0, y = 0, w = src->w, h = src->h;
    if (rectobj && rectobj != Py_None) {
        SDL_Rect scratch;
        const SDL_Rect *r = lmRect_Coerce(rectobj, &scratch);
        if (!r)
            return type_error("Rect argument is invalid");
        x = r->x, y = r->y, w = r->w, h = r->h;
    }
    // Clipped in 64 bits: x + w must not wrap.
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(x + w, src->w);
    const int64_t y1 = std::min<int64_t>(y + h, src->h);
    uint64_t sums[4] = {0, 0, 0, 0};
    uint64_t count = 0;
    if (x1 > x0 && y1 > y0) {
        count = (uint64_t)(x1 - x0) * (uint64_t)(y1 - y0);
        Hold hs;
        if (!hs.lock(srcobj))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::color_sums(plane_of(src), (int)x0, (int)x1, (int)y0, (int)y1,
                         weighted != 0, sums);
    }
    int out[4] = {0, 0, 0, 0};
    if (count && !weighted) {
        for (int c = 0; c < 4; ++c)
            out[c] = (int)((sums[c] / count) & 0xFF);
    }
    else if (count) {
        const uint64_t div = sums[3] ? sums[3] : count;
        for (int c = 0; c < 3; ++c)
            out[c] = (int)((sums[c] / div) & 0xFF);
        out[3] = (int)((sums[3] / count) & 0xFF);
    }
    return Py_BuildValue("(bbbb)", out[0], out[1], out[2], out[3]);
}

PyObject *tf_grayscale(PyObject *, PyObject *args, PyObject *kw)
{
    PyObject *srcobj, *destobj;
    SDL_Surface *src = parse_src_dest(args, kw, &srcobj, &destobj);
    Target t;
    if (!src || !settle_sized(t, destobj, src, src->w, src->h,
                              "Destination surface must be the same size "
                              "as source surface."))
        return nullptr;
    {
        // The interpreter lock is kept: the loop is short for the sizes
        // this is used on.
        Hold hd, hs;
        if (!t.hold(hd) || !hs.lock(srcobj))
            return nullptr;
        lmxf::grayscale(plane_of(src), plane_of(t.surf));
    }
    return t.finish();
}

// ---------------------------------------------------------------------------
// scale2x, rotozoom
// ---------------------------------------------------------------------------

PyObject *tf_scale2x(PyObject *, PyObject *args, PyObject *kw)
{
    PyObject *srcobj, *destobj;
    SDL_Surface *src = parse_src_dest(args, kw, &srcobj, &destobj);
    if (!src)
        return nullptr;
    if (src->w > INT_MAX / 2 || src->h > INT_MAX / 2)
        return PyErr_NoMemory();
    Target t;
    if (!settle_sized(t, destobj, src, src->w * 2, src->h * 2,
                      "Destination surface not 2x bigger."))
        return nullptr;
    if (src->w && src->h) {
        Hold hd, hs;
        if (!t.hold(hd) || !hs.lock(srcobj))
            return nullptr;
        lm::GilRelease nogil;
        lmxf::scale2x(lmxf::image_of(src), lmxf::image_of(t.surf));
    }
    return t.finish();
}

PyObject *tf_rotozoom(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *const kws[] = {"surface", "angle", "scale", nullptr};
    PyObject *srcobj;
    float angle, scale;
    if (!parse(args, kw, "O!ff", kws, &lmSurface_Type, &srcobj, &angle,
               &scale))
        return nullptr;
    SDL_Surface *src = live(srcobj);
    if (!src)
        return nullptr;
    if (!std::isfinite(angle) || !std::isfinite(scale)) {
        PyErr_SetString(PyExc_ValueError,
                        "angle and scale must be finite numbers");
        return nullptr;
    }
    Owned made;
    if (scale == 0.0f || src->w == 0 || src->h == 0) {
        made.reset(new_surface_like(src, 0, 0));
        return made.wrap();
    }
    // The size is worked out in double first: one past the int range is
    // refused, not cast.
    double dw, dh;
    lmxf::rotozoom_size_exact(src->w, src->h, angle, scale, &dw, &dh);
    if (dw >= 2147483647.0 || dh >= 2147483647.0) {
        PyErr_SetString(PyExc_ValueError, "scale gives too large a surface");
        return nullptr;
    }
    lmxf::RotozoomStatus status;
    auto run = [&] {
        lm::GilRelease nogil;
        made.reset(lmxf::rotozoom_core(src, angle, scale, 1, &status));
    };
    // Other depths are converted by a blit first, which refuses a locked
    // source: for them the lock is only taken to bring a subsurface's
    // pixels up to date.
    const bool direct = src->format->BitsPerPixel == 32;
    {
        Hold hs;
        if (!hs.lock(srcobj))
            return nullptr;
        if (direct)
            run();
    }
    if (!direct)
        run();
    if (!made.get()) {
        if (status == lmxf::ROTOZOOM_NO_MEMORY)
            return PyErr_NoMemory();
        return lm_RaiseSDLError();
    }
    return made.wrap();
}

// ---------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------

#define TF_METHOD(name, fn, doc) \
    {name, (PyCFunction)(void (*)(void))fn, METH_VARARGS | METH_KEYWORDS, doc}

PyMethodDef transform_methods[] = {
    TF_METHOD("scale", scale_to_size<nearest_core>,
              "scale(surface, size, dest_surface=None) -> Surface\n"
              "resize to new resolution"),
    TF_METHOD("scale_by", scale_by_factor<nearest_core>,
              "scale_by(surface, factor, dest_surface=None) -> Surface\n"
              "resize to new resolution, using scalar(s)"),
    TF_METHOD("rotate", tf_rotate,
              "rotate(surface, angle) -> Surface\nrotate an image"),
    TF_METHOD("flip", tf_flip,
              "flip(surface, flip_x, flip_y) -> Surface\n"
              "flip vertically and horizontally"),
    TF_METHOD("rotozoom", tf_rotozoom,
              "rotozoom(surface, angle, scale) -> Surface\n"
              "filtered scale and rotation"),
    TF_METHOD("chop", tf_chop,
              "chop(surface, rect) -> Surface\n"
              "gets a copy of an image with an interior area removed"),
    TF_METHOD("scale2x", tf_scale2x,
              "scale2x(surface, dest_surface=None) -> Surface\n"
              "specialized image doubler"),
    TF_METHOD("smoothscale", scale_to_size<smooth_core>,
              "smoothscale(surface, size, dest_surface=None) -> Surface\n"
              "scale a surface to an arbitrary size smoothly"),
    TF_METHOD("smoothscale_by", scale_by_factor<smooth_core>,
              "smoothscale_by(surface, factor, dest_surface=None) -> Surface\n"
              "resize to new resolution, using scalar(s)"),
    {"get_smoothscale_backend",
     (PyCFunction)(void (*)(void))tf_get_smoothscale_backend, METH_NOARGS,
     "get_smoothscale_backend() -> string\n"
     "return smoothscale filter version in use: 'GENERIC', 'MMX', or 'SSE'"},
    TF_METHOD("set_smoothscale_backend", tf_set_smoothscale_backend,
              "set_smoothscale_backend(backend) -> None\n"
              "set smoothscale filter version to one of: 'GENERIC', 'MMX', "
              "or 'SSE'"),
    TF_METHOD("threshold", tf_threshold,
              "threshold(dest_surface, surface, search_color, "
              "threshold=(0,0,0,0), set_color=(0,0,0,0), set_behavior=1, "
              "search_surf=None, inverse_set=False) -> num_threshold_pixels\n"
              "finds which, and how many pixels in a surface are within a "
              "threshold of a 'search_color' or a 'search_surf'."),
    TF_METHOD("laplacian", tf_laplacian,
              "laplacian(surface, dest_surface=None) -> Surface\n"
              "find edges in a surface"),
    TF_METHOD("average_surfaces", tf_average_surfaces,
              "average_surfaces(surfaces, dest_surface=None, "
              "palette_colors=1) -> Surface\n"
              "find the average surface from many surfaces."),
    TF_METHOD("average_color", tf_average_color,
              "average_color(surface, rect=None, consider_alpha=False) -> "
              "Color\nfinds the average color of a surface"),
    TF_METHOD("grayscale", tf_grayscale,
              "grayscale(surface, dest_surface=None) -> Surface\n"
              "grayscale a surface"),
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef transform_module = {PyModuleDef_HEAD_INIT,
                                "transform",
                                "lumora module to transform surfaces",
                                sizeof(TransformState),
                                transform_methods,
                                nullptr,
                                nullptr,
                                nullptr,
                                nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_transform(void)
{
    LM_IMPORT(base);
    LM_IMPORT(color);
    LM_IMPORT(rect);
    LM_IMPORT_SURFACE();
    PyObject *m = PyModule_Create2(&transform_module, 1013);
    if (!m)
        return nullptr;
    auto *st = static_cast<TransformState *>(PyModule_GetState(m));
    if (!st->backend_name && !st->shrink_x) {
        st->backend_name = "GENERIC";
        st->shrink_x = lmxf::shrink_x;
        st->shrink_y = lmxf::shrink_y;
        st->expand_x = lmxf::expand_x;
        st->expand_y = lmxf::expand_y;
    }
    return m;
}
