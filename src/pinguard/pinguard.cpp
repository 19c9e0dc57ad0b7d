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

// Keeps a pending exception across code that may clear or set one (a
// deallocator must leave the caller's error state as it found it).
class ErrorStash {
  public:
    ErrorStash()
    {
#if PY_VERSION_HEX >= 0x030C0000
        exc_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &value_, &tb_);
#endif
    }
    ~ErrorStash()
    {
#if PY_VERSION_HEX >= 0x030C0000
        if (PyErr_Occurred())
            PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(exc_);
#else
        if (PyErr_Occurred())
            PyErr_WriteUnraisable(nullptr);
        PyErr_Restore(type_, value_, tb_);
#endif
    }
    ErrorStash(const ErrorStash &) = delete;
    ErrorStash &operator=(const ErrorStash &) = delete;

  private:
#if PY_VERSION_HEX >= 0x030C0000
    PyObject *exc_;
#else
    PyObject *type_, *value_, *tb_;
#endif
};

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

// Drop the last entry of the list: undoes an append made by LockBy.
static void drop_last_entry(PyObject *list)
{
    Py_ssize_t n = PyList_GET_SIZE(list);
    if (n > 0)
        PyList_SetSlice(list, n - 1, n, nullptr);
}

// A subsurface's pixels are the parent's at an offset.  The parent's pixel
// pointer may have moved since the subsurface was made (an un-RLE on lock,
// a replaced window surface), so it is refreshed from the locked parent.
// An empty parent has no pixel buffer at all.
static void point_into_parent(lmSurfaceObject *so)
{
    SDL_Surface *ps = S(so->subsurface->owner)->surf;
    so->surf->pixels =
        ps->pixels ? static_cast<Uint8 *>(ps->pixels) + so->subsurface->pixeloffset
                   : nullptr;
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
    int rc = PyList_Append(so->locklist, ref);
    Py_DECREF(ref);
    if (rc < 0)
        return 0;

    if (so->subsurface) {
        PyObject *parent = so->subsurface->owner;
        if (!lmSurface_LockBy(parent, surfobj)) {
            drop_last_entry(so->locklist);
            return 0;
        }
        point_into_parent(so);
    }

    if (SDL_LockSurface(so->surf) == -1) {
        // No entry may outlive a lock that was never taken: the unlock
        // count is derived from the list.
        if (so->subsurface) {
            ErrorStash keep;
            lmSurface_UnlockBy(so->subsurface->owner, surfobj);
        }
        drop_last_entry(so->locklist);
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
    PyObject *parent = so->subsurface->owner;
    // A void slot: a failure (a quit parent) leaves the exception set and
    // the pixel pointer untouched for the caller to notice.
    if (!lmSurface_LockBy(parent, surfobj))
        return;
    if (so->surf)
        point_into_parent(so);
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
        ErrorStash keep;
        if (lk->weakrefs)
            PyObject_ClearWeakRefs(self);
        if (lk->surface) {
            lmSurface_UnlockBy(lk->surface, lk->lockobj);
            Py_CLEAR(lk->surface);
        }
    }
    Py_TYPE(self)->tp_free(self);
}

// Static type object, every field zero but the header; the rest is filled
// in by PyInit (an aggregate listing every slot would differ per Python).
static PyTypeObject blank_type()
{
    PyTypeObject t{};
    PyVarObject head[] = {PyVarObject_HEAD_INIT(nullptr, 0)};
    t.ob_base = head[0];
    return t;
}

static PyTypeObject lmLifetimeLock_Type = blank_type();

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

static PyModuleDef pinguard_module = {
    PyModuleDef_HEAD_INIT, "pinguard",
    "Bookkeeping of surface locks.\n\n"
    "Records which objects hold a surface locked, releases the locks of\n"
    "lockers that died, and locks a subsurface's parent while the\n"
    "subsurface is locked.  Used from C through its capsule.",
    -1, nullptr, nullptr, nullptr, nullptr, nullptr};

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
    if (PyType_Ready(&lmLifetimeLock_Type) < 0)
        return nullptr;

    PyObject *module = PyModule_Create2(&pinguard_module, 1013);
    if (!module)
        return nullptr;
    if (lm_add_type(module, "SurfLifeLock", &lmLifetimeLock_Type) < 0) {
        Py_DECREF(module);
        return nullptr;
    }

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
