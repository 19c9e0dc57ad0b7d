// Masks from surfaces (alpha, colour key, colour distance) and masks drawn
// onto surfaces.  Surfaces are locked through pinguard; the pixel loops run
// without the interpreter lock.

#include "mask_internal.h"
#include "convert.h"

namespace {

// A pinguard lock taken on construction (ok() tells) and released by
// unlock() or, on early return, by the destructor.
class PinnedLock {
  public:
    PinnedLock() = default;
    PinnedLock(const PinnedLock &) = delete;
    PinnedLock &operator=(const PinnedLock &) = delete;
    ~PinnedLock()
    {
        if (s_) {
            lm::ErrorStash keep;
            lmSurface_Unlock(s_);
        }
    }
    // False with RuntimeError `msg` when the lock fails.
    bool lock(PyObject *s, const char *msg)
    {
        if (!lmSurface_Lock(s)) {
            PyErr_SetString(PyExc_RuntimeError, msg);
            return false;
        }
        s_ = s;
        return true;
    }
    // False with RuntimeError `msg` (unless an error is already pending).
    bool unlock(const char *msg)
    {
        PyObject *s = s_;
        s_ = nullptr;
        if (!s || lmSurface_Unlock(s))
            return true;
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_RuntimeError, msg);
        return false;
    }

  private:
    PyObject *s_ = nullptr;
};

SDL_Surface *live_surface(PyObject *o)
{
    SDL_Surface *s = lmSurface_AsSurface(o);
    if (!s)
        PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return s;
}

// An int is a raw pixel value (low 32 bits); anything else a colour mapped
// into `fmt` by `parse`, which returns 0 on failure.  On failure raises
// `etype`/`msg` unless `parse` left its own error.
bool pixel_arg(PyObject *o, const SDL_PixelFormat *fmt, int (*parse)(PyObject *, Uint8 *),
               PyObject *etype, const char *msg, Uint32 *out)
{
    if (PyLong_Check(o)) {
        // 64-bit: an opaque 0xAARRGGBB value does not fit a 32-bit long.
        long long v = PyLong_AsLongLong(o);
        if (v == -1 && PyErr_Occurred()) {
            PyErr_SetString(etype, msg);
            return false;
        }
        *out = (Uint32)(unsigned long long)v;
        return true;
    }
    Uint8 rgba[4];
    if (!parse(o, rgba)) {
        if (!PyErr_Occurred())
            PyErr_SetString(etype, msg);
        return false;
    }
    *out = SDL_MapRGBA(fmt, rgba[0], rgba[1], rgba[2], rgba[3]);
    return true;
}

// Colour-or-sequence conversion that never raises its own error.
int color_or_sequence(PyObject *o, Uint8 *rgba)
{
    if (lmColor_RGBAFromColorObj(o, rgba))
        return 1;
    PyErr_Clear();
    return 0;
}

// setsurface / unsetsurface of to_surface: null when None or empty.
bool source_arg(PyObject *o, SDL_Surface *target, const char *which,
                SDL_Surface **out)
{
    *out = nullptr;
    if (o == Py_None)
        return true;
    if (!lmSurface_Check(o)) {
        PyErr_Format(PyExc_TypeError, "invalid %s argument", which);
        return false;
    }
    SDL_Surface *s = live_surface(o);
    if (!s)
        return false;
    if (s->format->BytesPerPixel != target->format->BytesPerPixel ||
        s->format->BitsPerPixel != target->format->BitsPerPixel ||
        s->format->format != target->format->format) {
        PyErr_Format(PyExc_ValueError,
                     "%s needs to have same bytesize/bitsize/alpha format as surface",
                     which);
        return false;
    }
    if (s->w > 0 && s->h > 0)
        *out = s;
    return true;
}

}  // namespace

PyObject *mask_from_surface(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"surface", "threshold", nullptr};
    PyObject *surfobj;
    int threshold = 127;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O!|i", const_cast<char **>(kwids),
                                     &lmSurface_Type, &surfobj, &threshold))
        return nullptr;
    SDL_Surface *surf = live_surface(surfobj);
    if (!surf)
        return nullptr;
    lm::Ref mask(lmmask::make(surf->w, surf->h));
    if (!mask || !surf->w || !surf->h)
        return mask.release();
    PinnedLock lock;
    if (!lock.lock(surfobj, "cannot lock surface"))
        return nullptr;
    {
        Uint32 key = 0;
        const bool has_key = SDL_GetColorKey(surf, &key) == 0;
        lmmask::Busy busy(mask.get());
        lm::GilRelease nogil;
        lmmask::mask_from_pixels(lmmask::view_of(surf), lmMask_Get(mask.get()),
                                 has_key, key, threshold);
    }
    if (!lock.unlock("cannot unlock surface"))
        return nullptr;
    return mask.release();
}

PyObject *mask_from_threshold(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"surface", "color", "threshold", "othersurface",
                                  "palette_colors", nullptr};
    PyObject *surfobj, *colorobj, *threshobj = nullptr, *otherobj = Py_None;
    int palette_colors = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O!O|OOi", const_cast<char **>(kwids),
                                     &lmSurface_Type, &surfobj, &colorobj, &threshobj,
                                     &otherobj, &palette_colors))
        return nullptr;
    if (otherobj != Py_None && !lmSurface_Check(otherobj)) {
        PyErr_SetString(PyExc_TypeError, "othersurface must be a Surface or None");
        return nullptr;
    }
    SDL_Surface *surf = live_surface(surfobj);
    SDL_Surface *other = nullptr;
    if (!surf || (otherobj != Py_None && !(other = live_surface(otherobj))))
        return nullptr;
    Uint32 color, threshold;
    if (!pixel_arg(colorobj, surf->format, color_or_sequence, PyExc_TypeError,
                   "invalid color argument", &color))
        return nullptr;
    if (!threshobj)
        threshold = SDL_MapRGBA(surf->format, 0, 0, 0, 255);
    else if (!pixel_arg(threshobj, surf->format, color_or_sequence, PyExc_TypeError,
                        "invalid threshold argument", &threshold))
        return nullptr;
    lm::Ref mask(lmmask::make(surf->w, surf->h));
    if (!mask)
        return nullptr;
    PinnedLock lock, olock;
    if (!lock.lock(surfobj, "cannot lock surface") ||
        (other && !olock.lock(otherobj, "cannot lock othersurface")))
        return nullptr;
    {
        lmmask::Busy busy(mask.get());
        lm::GilRelease nogil;
        bitmask_threshold(lmMask_Get(mask.get()), surf, other, color, threshold,
                          palette_colors);
    }
    bool ok = olock.unlock("cannot unlock othersurface");
    ok = lock.unlock("cannot unlock surface") && ok;
    return ok ? mask.release() : nullptr;
}

PyObject *mask_to_surface(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"surface", "setsurface", "unsetsurface", "setcolor",
                                  "unsetcolor", "dest", nullptr};
    PyObject *surfobj = Py_None, *setobj = Py_None, *unsetobj = Py_None;
    PyObject *setcolor = nullptr, *unsetcolor = nullptr, *destobj = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|OOOOOO", const_cast<char **>(kwids),
                                     &surfobj, &setobj, &unsetobj, &setcolor,
                                     &unsetcolor, &destobj))
        return nullptr;
    const bitmask_t *m = lmMask_Get(self);
    lm::Ref target;
    if (surfobj == Py_None) {
        target.reset(PyObject_CallFunction(reinterpret_cast<PyObject *>(&lmSurface_Type),
                                           "(ii)ii", m->w, m->h, 0x10000, 32));
        if (!target) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_RuntimeError, "unable to create surface");
            return nullptr;
        }
    } else if (!lmSurface_Check(surfobj)) {
        PyErr_SetString(PyExc_TypeError, "invalid surface argument");
        return nullptr;
    } else {
        Py_INCREF(surfobj);
        target.reset(surfobj);
    }
    // The target's format is compared and mapped into below: a quit
    // display surface is refused before anything reads it.
    SDL_Surface *surf = live_surface(target.get());
    if (!surf)
        return nullptr;
    SDL_Surface *setsurf, *unsetsurf;
    if (!source_arg(setobj, surf, "setsurface", &setsurf) ||
        !source_arg(unsetobj, surf, "unsetsurface", &unsetsurf))
        return nullptr;
    lmmask::Paint paint;
    paint.has_set = setcolor != Py_None;
    paint.has_unset = unsetcolor != Py_None;
    paint.set_value = SDL_MapRGBA(surf->format, 255, 255, 255, 255);
    paint.unset_value = SDL_MapRGBA(surf->format, 0, 0, 0, 255);
    if (setcolor && paint.has_set &&
        !pixel_arg(setcolor, surf->format, lmColor_ParseArg, PyExc_ValueError,
                   "invalid color argument", &paint.set_value))
        return nullptr;
    if (unsetcolor && paint.has_unset &&
        !pixel_arg(unsetcolor, surf->format, lmColor_ParseArg, PyExc_ValueError,
                   "invalid color argument", &paint.unset_value))
        return nullptr;
    int dx = 0, dy = 0;
    if (destobj && !lm_TwoIntsFromObj(destobj, &dx, &dy)) {
        SDL_Rect scratch;
        const SDL_Rect *r = lmRect_Coerce(destobj, &scratch);
        if (!r) {
            PyErr_SetString(PyExc_TypeError, "invalid dest argument");
            return nullptr;
        }
        dx = r->x;
        dy = r->y;
    }
    PinnedLock lock, setlock, unsetlock;
    if (!lock.lock(target.get(), "cannot lock surface") ||
        (setsurf && !setlock.lock(setobj, "cannot lock setsurface")) ||
        (unsetsurf && !unsetlock.lock(unsetobj, "cannot lock unsetsurface")))
        return nullptr;
    {
        const lmmask::PixView dst = lmmask::view_of(surf);
        lmmask::PixView setv, unsetv;
        if (setsurf) {
            setv = lmmask::view_of(setsurf);
            paint.set_src = &setv;
        }
        if (unsetsurf) {
            unsetv = lmmask::view_of(unsetsurf);
            paint.unset_src = &unsetv;
        }
        lmmask::Busy busy(self);
        lm::GilRelease nogil;
        lmmask::paint_mask(m, dst, paint, dx, dy);
    }
    bool ok = unsetlock.unlock("cannot unlock unsetsurface");
    ok = setlock.unlock("cannot unlock setsurface") && ok;
    ok = lock.unlock("cannot unlock surface") && ok;
    return ok ? target.release() : nullptr;
}
