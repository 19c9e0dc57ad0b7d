// lumora module frame: the layouts and C-API tables shared by every module.
//
// Each extension module is its own shared library.  Modules never link to
// one another; a module publishes a table of pointers in a capsule named
// "lumora.<name>._LUMORA_C_API" and its users fetch that table at import
// time into a global _LMSLOTS_<name>.  This header holds:
//   - the object layouts other modules read directly (Surface, Rect, Color,
//     SurfLifeLock, the extended buffer view);
//   - named slot indices for every exported table;
//   - typed inline callers for the tables (lmRect_Coerce(...) and friends);
//   - the import/export helpers used by every PyInit_<name>;
//   - small shared helpers (RAII references, saturating casts, checked
//     sizes, the weak-reference shim).
//
// A module that *exports* a table defines LUMORA_MODULE_<NAME> before
// including this header, so that the typed callers for its own table are
// not declared and it can define the real functions under the same names.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <SDL.h>

#include <cmath>
#include <cstdint>
#include <climits>
#include <cstring>
#include <cxxabi.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Imported-table globals.  One set per shared library (inline variables with
// hidden visibility, so every file of a module sees the same one and no two
// modules share); each stays null until the module's PyInit imports it.
// ---------------------------------------------------------------------------
#ifndef LUMORA_NO_SLOT_GLOBALS
inline void **_LMSLOTS_base = nullptr;
inline void **_LMSLOTS_color = nullptr;
inline void **_LMSLOTS_rect = nullptr;
inline void **_LMSLOTS_surface = nullptr;
inline void **_LMSLOTS_pinguard = nullptr;
inline void **_LMSLOTS_event = nullptr;
inline void **_LMSLOTS_display = nullptr;
inline void **_LMSLOTS_joystick = nullptr;
inline void **_LMSLOTS_math = nullptr;
inline void **_LMSLOTS_texelgrid = nullptr;
inline void **_LMSLOTS_streamwrap = nullptr;
inline void **_LMSLOTS_cdrom = nullptr;
#endif

#define LM_CAPSULE_ATTR "_LUMORA_C_API"
#define LM_API_VERSION 1013

// Import sibling "lumora.<name>" and store its slot table in *out.
// Returns 1 on success, 0 with an exception set.  An attribute that is not a
// capsule is an ImportError: a null table would crash the first caller.
static inline int lm_import_slots(const char *name, void ***out)
{
    char modname[64];
    char capname[96];
    PyOS_snprintf(modname, sizeof modname, "lumora.%s", name);
    PyOS_snprintf(capname, sizeof capname, "lumora.%s." LM_CAPSULE_ATTR, name);
    PyObject *mod = PyImport_ImportModule(modname);
    if (!mod)
        return 0;
    PyObject *cap = PyObject_GetAttrString(mod, LM_CAPSULE_ATTR);
    Py_DECREF(mod);
    if (!cap)
        return 0;
    if (!PyCapsule_CheckExact(cap)) {
        Py_DECREF(cap);
        PyErr_Format(PyExc_ImportError,
                     "%s.%s is not a capsule", modname, LM_CAPSULE_ATTR);
        return 0;
    }
    void *p = PyCapsule_GetPointer(cap, capname);
    Py_DECREF(cap);
    if (!p)
        return 0;
    *out = static_cast<void **>(p);
    return PyErr_Occurred() ? 0 : 1;
}

#define LM_IMPORT(name)                                        \
    do {                                                       \
        if (!lm_import_slots(#name, &_LMSLOTS_##name))         \
            return nullptr;                                    \
    } while (0)

// "surface" always brings "pinguard" with it, and only when it succeeded.
#define LM_IMPORT_SURFACE()  \
    do {                     \
        LM_IMPORT(surface);  \
        LM_IMPORT(pinguard); \
    } while (0)

// Add `type` to `module` as "<name>Type" and "<name>".  0 on success.
static inline int lm_add_type(PyObject *module, const char *name,
                              PyTypeObject *type)
{
    char longname[64];
    PyOS_snprintf(longname, sizeof longname, "%sType", name);
    Py_INCREF(type);
    if (PyModule_AddObject(module, longname, (PyObject *)type) < 0) {
        Py_DECREF(type);
        return -1;
    }
    Py_INCREF(type);
    if (PyModule_AddObject(module, name, (PyObject *)type) < 0) {
        Py_DECREF(type);
        return -1;
    }
    return 0;
}

// Publish `table` as "lumora.<name>._LUMORA_C_API".  0 on success, -1 with
// an exception set (the module is left for the caller to release).
static inline int lm_export_slots(PyObject *module, const char *name,
                                  void **table)
{
    char capname[96];
    PyOS_snprintf(capname, sizeof capname, "lumora.%s." LM_CAPSULE_ATTR, name);
    // The capsule keeps a pointer to its name: it must outlive the capsule.
    char *stored = static_cast<char *>(PyMem_RawMalloc(strlen(capname) + 1));
    if (!stored) {
        PyErr_NoMemory();
        return -1;
    }
    strcpy(stored, capname);
    PyObject *cap = PyCapsule_New(table, stored, nullptr);
    if (!cap) {
        PyMem_RawFree(stored);
        return -1;
    }
    if (PyModule_AddObject(module, LM_CAPSULE_ATTR, cap) < 0) {
        Py_DECREF(cap);
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Module set-up glue shared by the PyInit_<name> functions.
// ---------------------------------------------------------------------------
// A single-phase module definition without per-module state.
#define LM_MODULE_DEF(var, name, doc, methods)                        \
    PyModuleDef var = {PyModuleDef_HEAD_INIT, name, doc, -1, methods, \
                       nullptr, nullptr, nullptr, nullptr}

// A type object with every field zero but the header; PyInit fills in the
// slots (an aggregate listing every slot would differ per Python version).
static inline PyTypeObject lm_blank_type(void)
{
    PyTypeObject t{};
    PyVarObject head[] = {PyVarObject_HEAD_INIT(nullptr, 0)};
    t.ob_base = head[0];
    return t;
}

// Readies `type`, creates the module from `def` and adds the type to it as
// "<name>Type" and "<name>".  A new reference, or null with an exception set.
static inline PyObject *lm_module_with_type(PyModuleDef *def, const char *name,
                                            PyTypeObject *type)
{
    if (PyType_Ready(type) < 0)
        return nullptr;
    PyObject *module = PyModule_Create2(def, LM_API_VERSION);
    if (!module)
        return nullptr;
    if (lm_add_type(module, name, type) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// ---------------------------------------------------------------------------
// Object layouts read across modules.
// ---------------------------------------------------------------------------
struct lmSubSurface_Data {
    PyObject *owner;     // parent surface object (strong reference)
    int pixeloffset;     // byte offset of the first pixel inside the parent
    int offsetx, offsety;
};

struct lmSurfaceObject {
    PyObject_HEAD
    SDL_Surface *surf;              // null once the display surface is quit
    int owner;                      // non-zero: free `surf` with the object
    PyObject *weakreflist;
    lmSubSurface_Data *subsurface;  // null unless a subsurface
    PyObject *locklist;             // list of weakrefs to lock holders
    PyObject *dependency;           // kept alive as long as the surface
};

#define lmSurface_AsSurface(o) (((lmSurfaceObject *)(o))->surf)

struct lmRectObject {
    PyObject_HEAD
    SDL_Rect r;
    PyObject *weakreflist;
};

struct lmColorObject {
    PyObject_HEAD
    Uint8 data[4];  // r, g, b, a
    Uint8 len;      // 1..4
};

struct lmLifetimeLockObject {
    PyObject_HEAD
    PyObject *surface;   // strong
    PyObject *lockobj;   // borrowed
    PyObject *weakrefs;
};

// Extended buffer view: Python's view plus who consumes it and how to
// release it.  Filled by base slots 15/17, released by slot 16.
struct lm_buffer {
    Py_buffer view;
    PyObject *consumer;
    void (*release_buffer)(Py_buffer *);
};

#define LM_BUF_EXTENDED 0x4000

// ---------------------------------------------------------------------------
// base ("lumora.base._LUMORA_C_API")
//
// Number converters (2-9, 24-26) return non-zero on success and 0 on
// failure, never leaving an exception set; the caller raises its own
// message.  Integer slots accept int, bool, objects with __index__ and
// finite floats (truncated toward zero) whose value fits the C type; float
// slots accept whatever float() accepts (reals with __float__ or __index__).
// Sequence slots (3, 6, 9, 25) take item i of any sequence; pair slots (4, 7,
// 26) a two-item sequence.
// Slot 10 imports the named module ("lumora.time") and calls its
// _internal_mod_init(); slot 11 calls _internal_mod_quit().
// Slot 20 replaces the default window; a previous, different window is
// destroyed.  Slot 22 holds a strong reference to the surface object it is
// given and drops the previous one.  lumora.base.quit() clears both.
// ---------------------------------------------------------------------------
enum {
    LM_BASE_SDL_ERROR = 0,             // PyObject* exception type
    LM_BASE_REGISTER_QUIT = 1,         // void (void (*)(void))
    LM_BASE_INT_FROM_OBJ = 2,          // int (PyObject*, int*)
    LM_BASE_INT_FROM_OBJ_INDEX = 3,    // int (PyObject*, int, int*)
    LM_BASE_TWO_INTS_FROM_OBJ = 4,     // int (PyObject*, int*, int*)
    LM_BASE_FLOAT_FROM_OBJ = 5,        // int (PyObject*, float*)
    LM_BASE_FLOAT_FROM_OBJ_INDEX = 6,  // int (PyObject*, int, float*)
    LM_BASE_TWO_FLOATS_FROM_OBJ = 7,   // int (PyObject*, float*, float*)
    LM_BASE_UINT_FROM_OBJ = 8,         // int (PyObject*, Uint32*)
    LM_BASE_UINT_FROM_OBJ_INDEX = 9,   // int (PyObject*, int, Uint32*)
    LM_BASE_MOD_AUTOINIT = 10,         // int (const char*)
    LM_BASE_MOD_AUTOQUIT = 11,         // void (const char*)
    LM_BASE_RGBA_FROM_OBJ = 12,        // int (PyObject*, Uint8*)
    LM_BASE_BUFFER_AS_ARRINTER = 13,   // PyObject* (Py_buffer*)
    LM_BASE_BUFFER_AS_ARRSTRUCT = 14,  // PyObject* (Py_buffer*)
    LM_BASE_OBJECT_GET_BUFFER = 15,    // int (PyObject*, lm_buffer*, int)
    LM_BASE_BUFFER_RELEASE = 16,       // void (lm_buffer*)
    LM_BASE_DICT_AS_BUFFER = 17,       // int (lm_buffer*, PyObject*, int)
    LM_BASE_BUFFER_ERROR = 18,         // PyObject* exception type
    LM_BASE_GET_DEFAULT_WINDOW = 19,   // SDL_Window* (void)
    LM_BASE_SET_DEFAULT_WINDOW = 20,   // void (SDL_Window*)
    LM_BASE_GET_DEFAULT_WINDOW_SURFACE = 21,  // PyObject* (void), borrowed
    LM_BASE_SET_DEFAULT_WINDOW_SURFACE = 22,  // void (PyObject*)
    LM_BASE_GET_INIT = 23,             // int (void): base initialised?
    LM_BASE_DOUBLE_FROM_OBJ = 24,      // int (PyObject*, double*)
    LM_BASE_DOUBLE_FROM_OBJ_INDEX = 25,  // int (PyObject*, int, double*)
    LM_BASE_TWO_DOUBLES_FROM_OBJ = 26,   // int (PyObject*, double*, double*)
    LM_BASE_DISPLAY_GATE = 27,         // int (int op); see "Display gate"
    LM_BASE_NUMSLOTS = 28
};

// Operations of the display gate slot (see "Display gate" below).
enum { LM_GATE_READ = 0, LM_GATE_UNREAD = 1, LM_GATE_WRITE = 2,
       LM_GATE_UNWRITE = 3, LM_GATE_GENERATION = 4 };

#define LM_SLOT(mod, idx, type) ((type)(_LMSLOTS_##mod[idx]))

#ifndef LUMORA_MODULE_BASE
#define lmExc_SDLError ((PyObject *)_LMSLOTS_base[LM_BASE_SDL_ERROR])
#define lmExc_BufferError ((PyObject *)_LMSLOTS_base[LM_BASE_BUFFER_ERROR])
static inline void lm_RegisterQuit(void (*f)(void))
{ LM_SLOT(base, LM_BASE_REGISTER_QUIT, void (*)(void (*)(void)))(f); }
static inline int lm_IntFromObj(PyObject *o, int *v)
{ return LM_SLOT(base, LM_BASE_INT_FROM_OBJ, int (*)(PyObject *, int *))(o, v); }
static inline int lm_IntFromObjIndex(PyObject *o, int i, int *v)
{ return LM_SLOT(base, LM_BASE_INT_FROM_OBJ_INDEX, int (*)(PyObject *, int, int *))(o, i, v); }
static inline int lm_TwoIntsFromObj(PyObject *o, int *a, int *b)
{ return LM_SLOT(base, LM_BASE_TWO_INTS_FROM_OBJ, int (*)(PyObject *, int *, int *))(o, a, b); }
static inline int lm_FloatFromObj(PyObject *o, float *v)
{ return LM_SLOT(base, LM_BASE_FLOAT_FROM_OBJ, int (*)(PyObject *, float *))(o, v); }
static inline int lm_FloatFromObjIndex(PyObject *o, int i, float *v)
{ return LM_SLOT(base, LM_BASE_FLOAT_FROM_OBJ_INDEX, int (*)(PyObject *, int, float *))(o, i, v); }
static inline int lm_TwoFloatsFromObj(PyObject *o, float *a, float *b)
{ return LM_SLOT(base, LM_BASE_TWO_FLOATS_FROM_OBJ, int (*)(PyObject *, float *, float *))(o, a, b); }
static inline int lm_UintFromObj(PyObject *o, Uint32 *v)
{ return LM_SLOT(base, LM_BASE_UINT_FROM_OBJ, int (*)(PyObject *, Uint32 *))(o, v); }
static inline int lm_UintFromObjIndex(PyObject *o, int i, Uint32 *v)
{ return LM_SLOT(base, LM_BASE_UINT_FROM_OBJ_INDEX, int (*)(PyObject *, int, Uint32 *))(o, i, v); }
static inline int lm_mod_autoinit(const char *name)
{ return LM_SLOT(base, LM_BASE_MOD_AUTOINIT, int (*)(const char *))(name); }
static inline void lm_mod_autoquit(const char *name)
{ LM_SLOT(base, LM_BASE_MOD_AUTOQUIT, void (*)(const char *))(name); }
static inline int lm_RGBAFromObj(PyObject *o, Uint8 *rgba)
{ return LM_SLOT(base, LM_BASE_RGBA_FROM_OBJ, int (*)(PyObject *, Uint8 *))(o, rgba); }
static inline PyObject *lmBuffer_AsArrayInterface(Py_buffer *v)
{ return LM_SLOT(base, LM_BASE_BUFFER_AS_ARRINTER, PyObject *(*)(Py_buffer *))(v); }
static inline PyObject *lmBuffer_AsArrayStruct(Py_buffer *v)
{ return LM_SLOT(base, LM_BASE_BUFFER_AS_ARRSTRUCT, PyObject *(*)(Py_buffer *))(v); }
static inline int lmObject_GetBuffer(PyObject *o, lm_buffer *b, int flags)
{ return LM_SLOT(base, LM_BASE_OBJECT_GET_BUFFER, int (*)(PyObject *, lm_buffer *, int))(o, b, flags); }
static inline void lmBuffer_Release(lm_buffer *b)
{ LM_SLOT(base, LM_BASE_BUFFER_RELEASE, void (*)(lm_buffer *))(b); }
static inline int lmDict_AsBuffer(lm_buffer *b, PyObject *d, int flags)
{ return LM_SLOT(base, LM_BASE_DICT_AS_BUFFER, int (*)(lm_buffer *, PyObject *, int))(b, d, flags); }
static inline SDL_Window *lm_GetDefaultWindow(void)
{ return LM_SLOT(base, LM_BASE_GET_DEFAULT_WINDOW, SDL_Window *(*)(void))(); }
static inline void lm_SetDefaultWindow(SDL_Window *w)
{ LM_SLOT(base, LM_BASE_SET_DEFAULT_WINDOW, void (*)(SDL_Window *))(w); }
// Borrowed reference (or null).
static inline PyObject *lm_GetDefaultWindowSurface(void)
{ return LM_SLOT(base, LM_BASE_GET_DEFAULT_WINDOW_SURFACE, PyObject *(*)(void))(); }
static inline void lm_SetDefaultWindowSurface(PyObject *s)
{ LM_SLOT(base, LM_BASE_SET_DEFAULT_WINDOW_SURFACE, void (*)(PyObject *))(s); }
static inline int lm_GetInit(void)
{ return LM_SLOT(base, LM_BASE_GET_INIT, int (*)(void))(); }
static inline int lm_DoubleFromObj(PyObject *o, double *v)
{ return LM_SLOT(base, LM_BASE_DOUBLE_FROM_OBJ, int (*)(PyObject *, double *))(o, v); }
static inline int lm_DoubleFromObjIndex(PyObject *o, int i, double *v)
{ return LM_SLOT(base, LM_BASE_DOUBLE_FROM_OBJ_INDEX, int (*)(PyObject *, int, double *))(o, i, v); }
static inline int lm_TwoDoublesFromObj(PyObject *o, double *a, double *b)
{ return LM_SLOT(base, LM_BASE_TWO_DOUBLES_FROM_OBJ, int (*)(PyObject *, double *, double *))(o, a, b); }

static inline int lm_DisplayGate(int op)
{ return LM_SLOT(base, LM_BASE_DISPLAY_GATE, int (*)(int))(op); }

// Raise the SDL error type with SDL's current error text; returns nullptr.
static inline PyObject *lm_RaiseSDLError(void)
{
    PyErr_SetString(lmExc_SDLError, SDL_GetError());
    return nullptr;
}

// True when SDL's video subsystem is up; otherwise false, with the SDL
// error type raised as "video system not initialized".
static inline bool lm_VideoInitOrRaise(void)
{
    if (SDL_WasInit(SDL_INIT_VIDEO))
        return true;
    PyErr_SetString(lmExc_SDLError, "video system not initialized");
    return false;
}
#define LM_VIDEO_OR_RAISE()            \
    do {                               \
        if (!lm_VideoInitOrRaise())    \
            return nullptr;            \
    } while (0)
#endif  // LUMORA_MODULE_BASE

// ---------------------------------------------------------------------------
// surface ("lumora.surface._LUMORA_C_API")
// ---------------------------------------------------------------------------
enum {
    LM_SURFACE_TYPE = 0,       // PyTypeObject*
    LM_SURFACE_NEW = 1,        // PyObject* (SDL_Surface*, int owner)
    LM_SURFACE_BLIT = 2,       // int (PyObject* dst, PyObject* src, SDL_Rect* dst, SDL_Rect* area, int flags)
    LM_SURFACE_SET_SURFACE = 3,  // int (PyObject*, SDL_Surface*, int owner)
    LM_SURFACE_NUMSLOTS = 4
};

#ifndef LUMORA_MODULE_SURFACE
#define lmSurface_Type (*(PyTypeObject *)_LMSLOTS_surface[LM_SURFACE_TYPE])
#define lmSurface_Check(o) PyObject_IsInstance((o), (PyObject *)&lmSurface_Type)
static inline PyObject *lmSurface_New2(SDL_Surface *s, int owner)
{ return LM_SLOT(surface, LM_SURFACE_NEW, PyObject *(*)(SDL_Surface *, int))(s, owner); }
static inline int lmSurface_Blit(PyObject *dst, PyObject *src, SDL_Rect *dr, SDL_Rect *area, int flags)
{ return LM_SLOT(surface, LM_SURFACE_BLIT, int (*)(PyObject *, PyObject *, SDL_Rect *, SDL_Rect *, int))(dst, src, dr, area, flags); }
static inline int lmSurface_SetSurface(PyObject *o, SDL_Surface *s, int owner)
{ return LM_SLOT(surface, LM_SURFACE_SET_SURFACE, int (*)(PyObject *, SDL_Surface *, int))(o, s, owner); }
#endif

// ---------------------------------------------------------------------------
// rect ("lumora.rect._LUMORA_C_API")
// ---------------------------------------------------------------------------
enum {
    LM_RECT_TYPE = 0,
    LM_RECT_FROM_SDL = 1,      // PyObject* (const SDL_Rect*)
    LM_RECT_FROM_INTS = 2,     // PyObject* (int, int, int, int)
    LM_RECT_COERCE = 3,        // const SDL_Rect* (PyObject*, SDL_Rect* scratch)
    LM_RECT_NORMALIZE_SDL = 4, // SDL_Rect* (SDL_Rect*)
    LM_RECT_NUMSLOTS = 5
};

#ifndef LUMORA_MODULE_RECT
#define lmRect_Type (*(PyTypeObject *)_LMSLOTS_rect[LM_RECT_TYPE])
#define lmRect_Check(o) PyObject_IsInstance((o), (PyObject *)&lmRect_Type)
static inline PyObject *lmRect_FromSDL(const SDL_Rect *r)
{ return LM_SLOT(rect, LM_RECT_FROM_SDL, PyObject *(*)(const SDL_Rect *))(r); }
static inline PyObject *lmRect_FromInts(int x, int y, int w, int h)
{ return LM_SLOT(rect, LM_RECT_FROM_INTS, PyObject *(*)(int, int, int, int))(x, y, w, h); }
// Never sets an exception; the caller raises its own message on null.
static inline const SDL_Rect *lmRect_Coerce(PyObject *o, SDL_Rect *scratch)
{ return LM_SLOT(rect, LM_RECT_COERCE, const SDL_Rect *(*)(PyObject *, SDL_Rect *))(o, scratch); }
static inline SDL_Rect *lmRect_NormalizeSDL(SDL_Rect *r)
{ return LM_SLOT(rect, LM_RECT_NORMALIZE_SDL, SDL_Rect *(*)(SDL_Rect *))(r); }
#endif

// ---------------------------------------------------------------------------
// color ("lumora.color._LUMORA_C_API")
// ---------------------------------------------------------------------------
enum {
    LM_COLOR_TYPE = 0,
    LM_COLOR_FROM_RGBA = 1,          // PyObject* (const Uint8[4])
    LM_COLOR_RGBA_FROM_COLOROBJ = 2, // int (PyObject*, Uint8[4])
    LM_COLOR_FROM_RGBA_LENGTH = 3,   // PyObject* (const Uint8[4], int)
    LM_COLOR_PARSE_ARG = 4,          // int (PyObject*, Uint8[4]); 0 with exception
    LM_COLOR_NUMSLOTS = 5
};

#ifndef LUMORA_MODULE_COLOR
#define lmColor_Type (*(PyTypeObject *)_LMSLOTS_color[LM_COLOR_TYPE])
#define lmColor_Check(o) PyObject_IsInstance((o), (PyObject *)&lmColor_Type)
static inline PyObject *lmColor_FromRGBA(const Uint8 *rgba)
{ return LM_SLOT(color, LM_COLOR_FROM_RGBA, PyObject *(*)(const Uint8 *))(rgba); }
static inline int lmColor_RGBAFromColorObj(PyObject *o, Uint8 *rgba)
{ return LM_SLOT(color, LM_COLOR_RGBA_FROM_COLOROBJ, int (*)(PyObject *, Uint8 *))(o, rgba); }
static inline PyObject *lmColor_FromRGBALength(const Uint8 *rgba, int len)
{ return LM_SLOT(color, LM_COLOR_FROM_RGBA_LENGTH, PyObject *(*)(const Uint8 *, int))(rgba, len); }
static inline int lmColor_ParseArg(PyObject *o, Uint8 *rgba)
{ return LM_SLOT(color, LM_COLOR_PARSE_ARG, int (*)(PyObject *, Uint8 *))(o, rgba); }
#endif

// ---------------------------------------------------------------------------
// pinguard ("lumora.pinguard._LUMORA_C_API")
// ---------------------------------------------------------------------------
enum {
    LM_PINGUARD_TYPE = 0,
    LM_PINGUARD_PREP = 1,           // void (PyObject*)
    LM_PINGUARD_UNPREP = 2,         // int (PyObject*)
    LM_PINGUARD_LOCK = 3,           // int (PyObject*)
    LM_PINGUARD_UNLOCK = 4,         // int (PyObject*)
    LM_PINGUARD_LOCK_BY = 5,        // int (PyObject*, PyObject*)
    LM_PINGUARD_UNLOCK_BY = 6,      // int (PyObject*, PyObject*)
    LM_PINGUARD_LOCK_LIFETIME = 7,  // PyObject* (PyObject*, PyObject*)
    LM_PINGUARD_NUMSLOTS = 8
};

#ifndef LUMORA_MODULE_PINGUARD
#define lmLifetimeLock_Type (*(PyTypeObject *)_LMSLOTS_pinguard[LM_PINGUARD_TYPE])
static inline void lmSurface_Prep(PyObject *s)
{ LM_SLOT(pinguard, LM_PINGUARD_PREP, void (*)(PyObject *))(s); }
static inline int lmSurface_Unprep(PyObject *s)
{ return LM_SLOT(pinguard, LM_PINGUARD_UNPREP, int (*)(PyObject *))(s); }
static inline int lmSurface_Lock(PyObject *s)
{ return LM_SLOT(pinguard, LM_PINGUARD_LOCK, int (*)(PyObject *))(s); }
static inline int lmSurface_Unlock(PyObject *s)
{ return LM_SLOT(pinguard, LM_PINGUARD_UNLOCK, int (*)(PyObject *))(s); }
static inline int lmSurface_LockBy(PyObject *s, PyObject *by)
{ return LM_SLOT(pinguard, LM_PINGUARD_LOCK_BY, int (*)(PyObject *, PyObject *))(s, by); }
static inline int lmSurface_UnlockBy(PyObject *s, PyObject *by)
{ return LM_SLOT(pinguard, LM_PINGUARD_UNLOCK_BY, int (*)(PyObject *, PyObject *))(s, by); }
static inline PyObject *lmSurface_LockLifetime(PyObject *s, PyObject *by)
{ return LM_SLOT(pinguard, LM_PINGUARD_LOCK_LIFETIME, PyObject *(*)(PyObject *, PyObject *))(s, by); }
#endif

// ---------------------------------------------------------------------------
// event ("lumora.event._LUMORA_C_API")
// ---------------------------------------------------------------------------
enum {
    LM_EVENT_TYPE = 0,
    LM_EVENT_FROM_SDL = 1,         // PyObject* (const SDL_Event*)
    LM_EVENT_NEW = 2,              // PyObject* (int type, PyObject* dict)
    LM_EVENT_FILL_SDL = 3,         // int (PyObject* event, SDL_Event* out)
    LM_EVENT_SET_KEY_REPEAT = 4,   // int (int delay, int interval)
    LM_EVENT_GET_KEY_REPEAT = 5,   // void (int*, int*)
    LM_EVENT_NUMSLOTS = 6
};

#ifndef LUMORA_MODULE_EVENT
#define lmEvent_Type (*(PyTypeObject *)_LMSLOTS_event[LM_EVENT_TYPE])
static inline PyObject *lmEvent_FromSDL(const SDL_Event *e)
{ return LM_SLOT(event, LM_EVENT_FROM_SDL, PyObject *(*)(const SDL_Event *))(e); }
static inline PyObject *lmEvent_New(int type, PyObject *dict)
{ return LM_SLOT(event, LM_EVENT_NEW, PyObject *(*)(int, PyObject *))(type, dict); }
static inline int lmEvent_FillSDL(PyObject *ev, SDL_Event *out)
{ return LM_SLOT(event, LM_EVENT_FILL_SDL, int (*)(PyObject *, SDL_Event *))(ev, out); }
static inline int lmEvent_SetKeyRepeat(int delay, int interval)
{ return LM_SLOT(event, LM_EVENT_SET_KEY_REPEAT, int (*)(int, int))(delay, interval); }
static inline void lmEvent_GetKeyRepeat(int *delay, int *interval)
{ LM_SLOT(event, LM_EVENT_GET_KEY_REPEAT, void (*)(int *, int *))(delay, interval); }
#endif

// ---------------------------------------------------------------------------
// streamwrap ("lumora.streamwrap._LUMORA_C_API"); slot 0 is a function.
// ---------------------------------------------------------------------------
enum {
    LM_STREAM_FROM_OBJECT = 0,       // SDL_RWops* (PyObject*, char** ext)
    LM_STREAM_IS_PYBACKED = 1,       // int (SDL_RWops*)
    LM_STREAM_ENCODE_FILE_PATH = 2,  // PyObject* (PyObject*, PyObject* etype)
    LM_STREAM_ENCODE_STRING = 3,     // PyObject* (PyObject*, const char*, const char*, PyObject*)
    LM_STREAM_FROM_FILE_OBJECT = 4,  // SDL_RWops* (PyObject*)
    LM_STREAM_RELEASE = 5,           // int (SDL_RWops*)
    LM_STREAM_TRAVERSE = 6,          // int (SDL_RWops*, visitproc, void*)
    LM_STREAM_NUMSLOTS = 7
};

#ifndef LUMORA_MODULE_STREAMWRAP
static inline SDL_RWops *lmStream_FromObject(PyObject *o, char **ext)
{ return LM_SLOT(streamwrap, LM_STREAM_FROM_OBJECT, SDL_RWops *(*)(PyObject *, char **))(o, ext); }
static inline int lmStream_IsPyBacked(SDL_RWops *rw)
{ return LM_SLOT(streamwrap, LM_STREAM_IS_PYBACKED, int (*)(SDL_RWops *))(rw); }
static inline PyObject *lm_EncodeFilePath(PyObject *o, PyObject *etype)
{ return LM_SLOT(streamwrap, LM_STREAM_ENCODE_FILE_PATH, PyObject *(*)(PyObject *, PyObject *))(o, etype); }
static inline PyObject *lm_EncodeString(PyObject *o, const char *enc, const char *errors, PyObject *etype)
{ return LM_SLOT(streamwrap, LM_STREAM_ENCODE_STRING, PyObject *(*)(PyObject *, const char *, const char *, PyObject *))(o, enc, errors, etype); }
static inline SDL_RWops *lmStream_FromFileObject(PyObject *o)
{ return LM_SLOT(streamwrap, LM_STREAM_FROM_FILE_OBJECT, SDL_RWops *(*)(PyObject *))(o); }
static inline int lmStream_Release(SDL_RWops *rw)
{ return LM_SLOT(streamwrap, LM_STREAM_RELEASE, int (*)(SDL_RWops *))(rw); }
// Visits the Python objects a stream over a file object holds (for the
// tp_traverse of an object keeping such a stream); 0 for other streams.
static inline int lmStream_Traverse(SDL_RWops *rw, visitproc visit, void *arg)
{ return LM_SLOT(streamwrap, LM_STREAM_TRAVERSE, int (*)(SDL_RWops *, visitproc, void *))(rw, visit, arg); }
#endif

// ---------------------------------------------------------------------------
// Tables of later modules: indices only; their users add typed callers.
// ---------------------------------------------------------------------------
enum {
    LM_FONT_TYPE = 0,
    LM_FONT_NEW = 1,        // PyObject* (TTF_Font*): a Font owning the handle
    LM_FONT_INIT_FLAG = 2,  // int*: non-zero while the font engine runs
    LM_FONT_NUMSLOTS = 3
};
enum { LM_JOYSTICK_TYPE = 0, LM_JOYSTICK_NEW = 1, LM_JOYSTICK_NUMSLOTS = 2 };
enum { LM_MASK_TYPE = 0, LM_MASK_NUMSLOTS = 1 };
enum {
    LM_TEXELGRID_TYPE = 0,
    LM_TEXELGRID_NEW = 1,  // PyObject* (PyObject* surface)
    LM_TEXELGRID_NUMSLOTS = 2
};
enum {
    LM_VIEWSHIM_TYPE = 0,
    LM_VIEWSHIM_NEW = 1,
    LM_VIEWSHIM_GET_PARENT = 2,
    LM_VIEWSHIM_EXPORT = 3,
    LM_VIEWSHIM_NUMSLOTS = 4
};
// Export callback of a ViewShim: (exporter, extended view, flags) -> 0 / -1.
typedef int (*lm_getbufferfunc)(PyObject *, lm_buffer *, int);

// ---------------------------------------------------------------------------
// Shared helpers.
// ---------------------------------------------------------------------------
namespace lm {

// Owning reference; releases on scope exit.
class Ref {
  public:
    Ref() = default;
    explicit Ref(PyObject *o) : o_(o) {}
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : o_(other.o_) { other.o_ = nullptr; }
    Ref &operator=(Ref &&other) noexcept
    {
        if (this != &other) {
            Py_XDECREF(o_);
            o_ = other.o_;
            other.o_ = nullptr;
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(o_); }
    PyObject *get() const { return o_; }
    PyObject *release()
    {
        PyObject *o = o_;
        o_ = nullptr;
        return o;
    }
    void reset(PyObject *o = nullptr)
    {
        PyObject *old = o_;
        o_ = o;
        Py_XDECREF(old);
    }
    explicit operator bool() const { return o_ != nullptr; }

  private:
    PyObject *o_ = nullptr;
};

// Buffer from the Python raw-free allocator family (PyMem_Malloc); freed on
// scope exit.  Sizes are checked by the caller with checked_mul below.
template <typename T>
class MemBuf {
  public:
    explicit MemBuf(size_t n)
        : p_(n ? static_cast<T *>(PyMem_Malloc(n * sizeof(T))) : nullptr) {}
    MemBuf(const MemBuf &) = delete;
    MemBuf &operator=(const MemBuf &) = delete;
    ~MemBuf() { PyMem_Free(p_); }
    T *get() const { return p_; }
    T &operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T *p_;
};

// A thread that wants the interpreter lock while the interpreter exits (a
// daemon thread back from a released section, or a callback of SDL's) is
// ended by CPython before 3.14 with a forced unwind.
// Unwinding through our frames would run destructors that free Python
// memory after the interpreter is gone (and a noexcept frame would turn it
// into an abort).  Park the thread instead, as CPython 3.14 does itself:
// the exiting process takes it along.
[[noreturn]] inline void park_thread()
{
    for (;;)
        pause();
}

// PyEval_RestoreThread and PyGILState_Ensure, parking instead of unwinding.
inline void restore_thread(PyThreadState *ts)
{
    try {
        PyEval_RestoreThread(ts);
    } catch (abi::__forced_unwind &) {
        park_thread();
    }
}

inline PyGILState_STATE gil_ensure()
{
    try {
        return PyGILState_Ensure();
    } catch (abi::__forced_unwind &) {
        park_thread();
    }
}

// Releases the GIL for a scope.  Touch no Python object inside it.
class GilRelease {
  public:
    GilRelease() : st_(PyEval_SaveThread()) {}
    GilRelease(const GilRelease &) = delete;
    GilRelease &operator=(const GilRelease &) = delete;
    ~GilRelease() { restore_thread(st_); }

  private:
    PyThreadState *st_;
};

#ifndef LUMORA_MODULE_BASE
// ---------------------------------------------------------------------------
// Display gate: sections that use the window, its surface or renderer with
// the interpreter lock released (readers) and display teardown (the
// writer) exclude each other.
// ---------------------------------------------------------------------------
// Entered with the interpreter lock released, left before taking it back
// (declare it after the GilRelease).  ok() is false when the display was
// set up again or torn down since `generation` (lm_DisplayGate(
// LM_GATE_GENERATION), read with the lock held together with the window
// pointers); then nothing read before may be used.
class DisplayUse {
  public:
    explicit DisplayUse(int generation)
        : ok_(lm_DisplayGate(LM_GATE_READ) == generation) {}
    // For a section that holds no pointers read before it (event pumping).
    DisplayUse() : ok_(lm_DisplayGate(LM_GATE_READ) != 0) {}
    DisplayUse(const DisplayUse &) = delete;
    DisplayUse &operator=(const DisplayUse &) = delete;
    ~DisplayUse() { lm_DisplayGate(LM_GATE_UNREAD); }
    bool ok() const { return ok_; }

  private:
    bool ok_;
};

// Held, with the interpreter lock, around code that frees the window, its
// surface or renderer; waits for the readers with the lock released.
class DisplayTeardown {
  public:
    DisplayTeardown()
    {
        GilRelease nogil;
        lm_DisplayGate(LM_GATE_WRITE);
    }
    DisplayTeardown(const DisplayTeardown &) = delete;
    DisplayTeardown &operator=(const DisplayTeardown &) = delete;
    ~DisplayTeardown() { lm_DisplayGate(LM_GATE_UNWRITE); }
};
#endif

// Keeps the pending exception (if any) across cleanup code that may set or
// clear one, as deallocators and undo paths must.  An error raised by the
// cleanup itself is reported as unraisable; the kept one is restored.
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
    ErrorStash(const ErrorStash &) = delete;
    ErrorStash &operator=(const ErrorStash &) = delete;
    ~ErrorStash()
    {
        if (PyErr_Occurred())
            PyErr_WriteUnraisable(nullptr);
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(exc_);
#else
        PyErr_Restore(type_, value_, tb_);
#endif
    }

  private:
#if PY_VERSION_HEX >= 0x030C0000
    PyObject *exc_;
#else
    PyObject *type_, *value_, *tb_;
#endif
};

// a * b without overflow, for sizes: false when the product does not fit.
template <typename T>
static inline bool checked_mul(T a, T b, T *out)
{
    return !__builtin_mul_overflow(a, b, out);
}
template <typename T>
static inline bool checked_add(T a, T b, T *out)
{
    return !__builtin_add_overflow(a, b, out);
}

// 32-bit wrapping arithmetic: derived sums (x + w) must not be signed
// overflow, which is undefined behaviour.
static inline int wrap_add(int a, int b)
{
    return (int)((uint32_t)a + (uint32_t)b);
}
static inline int wrap_sub(int a, int b)
{
    return (int)((uint32_t)a - (uint32_t)b);
}

// Double to int, saturating: NaN gives 0, out-of-range values the nearest
// int limit.  Casting such doubles directly is undefined behaviour.
static inline int sat_int(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT_MAX;
    if (v <= -2147483648.0)
        return INT_MIN;
    return (int)v;
}

static inline int64_t sat_i64(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 9.2233720368547748e18)
        return INT64_MAX;
    if (v <= -9.2233720368547758e18)
        return INT64_MIN;
    return (int64_t)v;
}

}  // namespace lm

// Weak references: PyWeakref_GetObject is deprecated from 3.13 on, and
// returns a borrowed reference; this returns a new reference or None.
static inline PyObject *lm_weakref_get(PyObject *ref)
{
#if PY_VERSION_HEX >= 0x030D0000
    PyObject *obj = nullptr;
    if (PyWeakref_GetRef(ref, &obj) < 0)
        return nullptr;
    if (!obj)
        Py_RETURN_NONE;
    return obj;
#else
    PyObject *obj = PyWeakref_GetObject(ref);
    if (!obj)
        return nullptr;
    Py_INCREF(obj);
    return obj;
#endif
}

// Surface argument checks shared by every module that touches pixels.
#ifndef LUMORA_MODULE_BASE
#define LM_SURF_OR_RAISE(surfobj, surfvar)                                 \
    SDL_Surface *surfvar = lmSurface_AsSurface(surfobj);                   \
    if (!surfvar) {                                                        \
        PyErr_SetString(lmExc_SDLError, "display Surface quit");           \
        return nullptr;                                                    \
    }
#endif

// ---------------------------------------------------------------------------
// Audio callbacks (tunestream, mixer).  SDL_mixer calls its hooks on the
// audio thread, or on a thread halting playback, without the interpreter
// lock.
// ---------------------------------------------------------------------------
#ifndef LUMORA_MODULE_EVENT
// Whether such a thread may wait for the interpreter lock: not while the
// interpreter is going away, when the lock would never be handed over.
static inline bool lm_python_available(void)
{
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsInitialized() && !Py_IsFinalizing();
#else
    return Py_IsInitialized() && !_Py_IsFinalizing();
#endif
}

// Posts an event of `type` without attributes when the video subsystem is
// up (the queue lives there).  Takes the interpreter lock itself; failures
// are silent, as a hook has nobody to report them to.
static inline void lm_post_end_event(int type)
{
    if (!type || !SDL_WasInit(SDL_INIT_VIDEO) || !lm_python_available())
        return;
    PyGILState_STATE gs = lm::gil_ensure();
    PyObject *ev = lmEvent_New(type, nullptr);
    SDL_Event e;
    if (ev && lmEvent_FillSDL(ev, &e) == 0) {
        if (SDL_PushEvent(&e) < 1)
            Py_XDECREF((PyObject *)e.user.data1);
    }
    Py_XDECREF(ev);
    PyErr_Clear();
    PyGILState_Release(gs);
}
#endif

// A volume given as a float, as a fraction in [0, 1]: NaN gives 0.
static inline double lm_unit_clamp(double v)
{
    if (!(v > 0.0))
        return 0.0;
    return v > 1.0 ? 1.0 : v;
}

#if defined(__GNUC__)
#define LM_UNUSED __attribute__((unused))
#else
#define LM_UNUSED
#endif
