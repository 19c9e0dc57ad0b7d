// lumora.pinguard: who holds a surface locked.
//
// Each surface object keeps a list of weak references to the objects on
// whose behalf it is locked; one entry per SDL lock taken.  Because the
// entries are weak, a locker that dies without unlocking (a pixel array
// dropped on the floor) does not pin the SDL lock forever: its entries are
// purged, and their SDL locks released, at the next unlock of the surface.
// A subsurface locks its parent on its own behalf, so the chain up to the
// surface that owns the pixels is locked while any descendant is.
//
// The module has no Python functions: its interface is its C API capsule
// and the SurfLifeLock type, an object whose life is one lock.
#define LUMORA_MODULE_PINGUARD
#include "frame.h"

namespace {

PyObject *raise_surface_quit()
{
    PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return nullptr;
}

inline lmSurfaceObject *S(PyObject *o)
{
    return reinterpret_cast<lmSurfaceObject *>(o);
}

// Is the referent of weak reference `ref` exactly `who`?  Sets *dead when
// the referent is gone.  -1 on error.
int referent_is(PyObject *ref, PyObject *who, bool *dead)
{
    PyObject *obj = lm_weakref_get(ref);
    if (!obj)
        return -1;
    *dead = (obj == Py_None);
    int same = (obj == who);
    Py_DECREF(obj);
    return same;
}

}  // namespace

static int lmSurface_LockBy(PyObject *surfobj, PyObject *lockobj);
static int lmSurface_UnlockBy(PyObject *surfobj, PyObject *lockobj);

// Undo an append made by LockBy: remove that very weak reference.  It is
// searched for rather than assumed last, since the parent lock in between
// may run a collection whose finalisers unlock (and so edit) this list.
static void drop_entry(PyObject *list, PyObject *ref)
{
    for (Py_ssize_t i = PyList_GET_SIZE(list) - 1; i >= 0; --i) {
        if (PyList_GET_ITEM(list, i) == ref) {
            PyList_SetSlice(list, i, i + 1, nullptr);
            return;
        }
    }
}

// A subsurface's pixels are the parent's at an offset.  The parent's pixel
// pointer may have moved since the subsurface was made (an un-RLE on lock,
// a replaced window surface), so it is refreshed from the locked parent.
// A replaced parent may also have another pitch or be smaller: the pitch
// and offset follow the parent, and a subsurface that no longer fits (or
// whose pixel size no longer matches) is refused rather than pointed past
// the end of the parent's pixels.  An empty parent has no pixel buffer.
// Returns false with the SDL error type set when refused.
static bool point_into_parent(lmSurfaceObject *so)
{
    lmSubSurface_Data *d = so->subsurface;
    SDL_Surface *ps = S(d->owner)->surf;
    SDL_Surface *s = so->surf;
    if (!s || !ps)
        return true;
    const int bpp = s->format->BytesPerPixel;
    if (ps->format->BytesPerPixel != bpp || d->offsetx < 0 || d->offsety < 0 ||
        (long long)d->offsetx + s->w > ps->w ||
        (long long)d->offsety + s->h > ps->h) {
        PyErr_SetString(lmExc_SDLError,
                        "subsurface no longer fits its parent surface");
        return false;
    }
    // Inside the parent's buffer, whose size SDL keeps within an int.
    long long off = (long long)d->offsety * ps->pitch + (long long)d->offsetx * bpp;
    d->pixeloffset = (int)off;
    s->pitch = ps->pitch;
    s->pixels = ps->pixels ? static_cast<Uint8 *>(ps->pixels) + off : nullptr;
    return true;
}

static int lmSurface_LockBy(PyObject *surfobj, PyObject *lockobj)
{
    lmSurfaceObject *so = S(surfobj);
    if (!so->surf) {
        raise_surface_quit();
        return 0;
    }
    if (!so->locklist) {
        so->locklist = PyList_New(0);
        if (!so->locklist)
            return 0;
    }
    PyObject *ref = PyWeakref_NewRef(lockobj, nullptr);
    if (!ref)
        return 0;
    if (ref == Py_None) {
        Py_DECREF(ref);
        return 0;
    }
    // `list` stays alive while we work even if the surface's own list
    // were replaced meanwhile; `entry` is kept to find our entry again.
    lm::Ref list(Py_NewRef(so->locklist));
    lm::Ref entry(ref);
    if (PyList_Append(list.get(), ref) < 0)
        return 0;

    if (so->subsurface) {
        PyObject *parent = so->subsurface->owner;
        if (!lmSurface_LockBy(parent, surfobj)) {
            lm::ErrorStash keep;
            drop_entry(list.get(), ref);
            return 0;
        }
        if (!point_into_parent(so)) {
            lm::ErrorStash keep;
            lmSurface_UnlockBy(parent, surfobj);
            drop_entry(list.get(), ref);
            return 0;
        }
    }

    // (The pointer is tested again: a finaliser run by the parent lock may
    // have quit the display.)
    const bool quit = !so->surf;
    if (quit || SDL_LockSurface(so->surf) == -1) {
        // No entry may outlive a lock that was never taken: the unlock
        // count is derived from the list.
        if (so->subsurface)
            lmSurface_UnlockBy(so->subsurface->owner, surfobj);
        drop_entry(list.get(), ref);
        PyErr_Clear();
        if (quit)
            raise_surface_quit();
        else
            PyErr_SetString(PyExc_RuntimeError, "error locking surface");
        return 0;
    }
    return 1;
}

static int lmSurface_UnlockBy(PyObject *surfobj, PyObject *lockobj)
{
    lmSurfaceObject *so = S(surfobj);
    if (!so->locklist)
        return 1;
    PyObject *list = so->locklist;
    int result = 1;
    Py_ssize_t count = 0;
    bool dead = false;

    // The caller's own entry: the most recent one.
    for (Py_ssize_t i = PyList_GET_SIZE(list) - 1; i >= 0; --i) {
        int same = referent_is(PyList_GET_ITEM(list, i), lockobj, &dead);
        if (same < 0)
            return 0;
        if (same) {
            if (PyList_SetSlice(list, i, i + 1, nullptr) < 0)
                return 0;
            ++count;
            break;
        }
    }

    // Entries of lockers that died while holding the surface.
    for (Py_ssize_t i = PyList_GET_SIZE(list) - 1; i >= 0; --i) {
        int same = referent_is(PyList_GET_ITEM(list, i), lockobj, &dead);
        if (same < 0) {
            PyErr_Clear();
            result = 0;
            continue;
        }
        if (dead) {
            if (PyList_SetSlice(list, i, i + 1, nullptr) < 0) {
                PyErr_Clear();
                result = 0;
            }
            else {
                ++count;
            }
        }
    }

    for (Py_ssize_t k = 0; k < count; ++k) {
        if (so->surf)
            SDL_UnlockSurface(so->surf);
        if (so->subsurface)
            lmSurface_UnlockBy(so->subsurface->owner, surfobj);
    }
    return result;
}

static void lmSurface_Prep(PyObject *surfobj)
{
    lmSurfaceObject *so = S(surfobj);
    if (!so->subsurface)
        return;
    if (!so->surf) {
        raise_surface_quit();
        return;
    }
    PyObject *parent = so->subsurface->owner;
    // A void slot: a failure (a quit parent) leaves the exception set and
    // the pixel pointer untouched for the caller to notice.
    if (!lmSurface_LockBy(parent, surfobj))
        return;
    if (!point_into_parent(so)) {
        lm::ErrorStash keep;
        lmSurface_UnlockBy(parent, surfobj);
    }
}

static int lmSurface_Unprep(PyObject *surfobj)
{
    lmSurfaceObject *so = S(surfobj);
    if (so->subsurface)
        return lmSurface_UnlockBy(so->subsurface->owner, surfobj);
    return 1;
}

static int lmSurface_Lock(PyObject *surfobj)
{
    return lmSurface_LockBy(surfobj, surfobj);
}

static int lmSurface_Unlock(PyObject *surfobj)
{
    return lmSurface_UnlockBy(surfobj, surfobj);
}

// ---------------------------------------------------------------------------
// SurfLifeLock
// ---------------------------------------------------------------------------

static void lifelock_dealloc(PyObject *self)
{
    lmLifetimeLockObject *lk = reinterpret_cast<lmLifetimeLockObject *>(self);
    {
        lm::ErrorStash keep;
        if (lk->weakrefs)
            PyObject_ClearWeakRefs(self);
        if (lk->surface) {
            lmSurface_UnlockBy(lk->surface, lk->lockobj);
            Py_CLEAR(lk->surface);
        }
    }
    Py_TYPE(self)->tp_free(self);
}

static PyTypeObject lmLifetimeLock_Type = lm_blank_type();

static PyObject *lmSurface_LockLifetime(PyObject *surfobj, PyObject *lockobj)
{
    if (!surfobj) {
        PyErr_SetString(lmExc_SDLError, SDL_GetError());
        return nullptr;
    }
    lmLifetimeLockObject *lk =
        PyObject_New(lmLifetimeLockObject, &lmLifetimeLock_Type);
    if (!lk)
        return nullptr;
    Py_INCREF(surfobj);
    lk->surface = surfobj;
    lk->lockobj = lockobj;
    lk->weakrefs = nullptr;
    if (!lmSurface_LockBy(surfobj, lockobj)) {
        // Nothing was locked: the deallocator must not unlock.
        Py_CLEAR(lk->surface);
        Py_DECREF(lk);
        return nullptr;
    }
    return reinterpret_cast<PyObject *>(lk);
}

// ---------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------

static void *c_api[LM_PINGUARD_NUMSLOTS];

static LM_MODULE_DEF(pinguard_module, "pinguard",
                     "Bookkeeping of surface locks.\n\n"
                     "Records which objects hold a surface locked, releases the locks of\n"
                     "lockers that died, and locks a subsurface's parent while the\n"
                     "subsurface is locked.  Used from C through its capsule.",
                     nullptr);

PyMODINIT_FUNC PyInit_pinguard(void)
{
    LM_IMPORT(base);

    lmLifetimeLock_Type.tp_name = "lumora.pinguard.SurfLifeLock";
    lmLifetimeLock_Type.tp_basicsize = sizeof(lmLifetimeLockObject);
    lmLifetimeLock_Type.tp_dealloc = lifelock_dealloc;
    lmLifetimeLock_Type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    lmLifetimeLock_Type.tp_doc =
        "SurfLifeLock: a lock held on a surface for as long as this object\n"
        "lives.";
    lmLifetimeLock_Type.tp_weaklistoffset =
        offsetof(lmLifetimeLockObject, weakrefs);
    PyObject *module =
        lm_module_with_type(&pinguard_module, "SurfLifeLock", &lmLifetimeLock_Type);
    if (!module)
        return nullptr;

    c_api[LM_PINGUARD_TYPE] = &lmLifetimeLock_Type;
    c_api[LM_PINGUARD_PREP] = reinterpret_cast<void *>(lmSurface_Prep);
    c_api[LM_PINGUARD_UNPREP] = reinterpret_cast<void *>(lmSurface_Unprep);
    c_api[LM_PINGUARD_LOCK] = reinterpret_cast<void *>(lmSurface_Lock);
    c_api[LM_PINGUARD_UNLOCK] = reinterpret_cast<void *>(lmSurface_Unlock);
    c_api[LM_PINGUARD_LOCK_BY] = reinterpret_cast<void *>(lmSurface_LockBy);
    c_api[LM_PINGUARD_UNLOCK_BY] = reinterpret_cast<void *>(lmSurface_UnlockBy);
    c_api[LM_PINGUARD_LOCK_LIFETIME] =
        reinterpret_cast<void *>(lmSurface_LockLifetime);
    if (lm_export_slots(module, "pinguard", c_api) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
