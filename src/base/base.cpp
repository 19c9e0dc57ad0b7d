// lumora.base: SDL start/stop, the quit registry, the SDL error types, the
// default window, and the services every other module reaches through the
// capsule "lumora.base._LUMORA_C_API" (number converters, buffer helpers,
// module bring-up and shut-down).
#include "base_internal.h"

#include <vector>

namespace lmbase {

PyObject *sdl_error = nullptr;
PyObject *buffer_error = nullptr;

namespace {

bool g_initialized = false;

// Quit functions, Python callables or C functions, run newest first by
// quit().  The registry is emptied by quit(): modules register again when
// they are initialised again.
struct QuitEntry {
    PyObject *callable;    // strong reference, or null
    void (*cfunc)(void);   // used when callable is null
};
std::vector<QuitEntry> g_quit_funcs;

SDL_Window *g_default_window = nullptr;
PyObject *g_default_surface = nullptr;  // strong reference

// Modules that lumora.base.init() brings up (and quit() shuts down, in
// reverse order) when they can be imported.
const char *const k_autoinit_modules[] = {
    "lumora.display", "lumora.font", "lumora.joystick",
};

PyObject *raise_sdl_error()
{
    PyErr_SetString(sdl_error, SDL_GetError());
    return nullptr;
}

// ---------------------------------------------------------------------------
// C slots
// ---------------------------------------------------------------------------
void register_quit_c(void (*f)(void))
{
    if (f)
        g_quit_funcs.push_back(QuitEntry{nullptr, f});
}

// Import `name` and call its function `fname` with no arguments.  Returns
// the result (new reference) or null with an exception set.
PyObject *call_module_func(PyObject *mod, const char *fname)
{
    lm::Ref fn(PyObject_GetAttrString(mod, fname));
    if (!fn)
        return nullptr;
    return PyObject_CallNoArgs(fn.get());
}

int mod_autoinit(const char *name)
{
    lm::Ref mod(PyImport_ImportModule(name));
    if (!mod)
        return 0;
    lm::Ref res(call_module_func(mod.get(), "_internal_mod_init"));
    return res ? 1 : 0;
}

// Shutting down never fails for the caller; a module that was never
// imported has nothing to shut down, so it is not imported here.
void mod_autoquit(const char *name)
{
    lm::Ref uname(PyUnicode_FromString(name));
    lm::Ref mod(uname ? PyImport_GetModule(uname.get()) : nullptr);
    if (!mod) {
        PyErr_Clear();
        return;
    }
    lm::Ref res(call_module_func(mod.get(), "_internal_mod_quit"));
    if (!res)
        PyErr_WriteUnraisable(mod.get());
}

SDL_Window *get_default_window(void) { return g_default_window; }

void set_default_window(SDL_Window *w)
{
    if (g_default_window && g_default_window != w)
        SDL_DestroyWindow(g_default_window);
    g_default_window = w;
}

PyObject *get_default_surface(void) { return g_default_surface; }

void set_default_surface(PyObject *s)
{
    Py_XINCREF(s);
    PyObject *old = g_default_surface;
    g_default_surface = s;
    Py_XDECREF(old);
}

int get_init_c(void) { return g_initialized ? 1 : 0; }

// A window surface belongs to its window: once the window is destroyed a
// Surface object still pointing at it would read freed memory.  Detach it
// so every later use raises "display Surface quit" instead.
void detach_default_surface()
{
    PyObject *s = g_default_surface;
    if (!s)
        return;
    lm::Ref name(PyUnicode_FromString("lumora.surface"));
    lm::Ref mod(name ? PyImport_GetModule(name.get()) : nullptr);
    if (mod) {
        lm::Ref cap(PyObject_GetAttrString(mod.get(), LM_CAPSULE_ATTR));
        void **slots = nullptr;
        if (cap && PyCapsule_CheckExact(cap.get()))
            slots = static_cast<void **>(PyCapsule_GetPointer(
                cap.get(), "lumora.surface." LM_CAPSULE_ATTR));
        if (slots && slots[LM_SURFACE_TYPE] &&
            PyObject_TypeCheck(s, (PyTypeObject *)slots[LM_SURFACE_TYPE])) {
            lmSurfaceObject *so = (lmSurfaceObject *)s;
            if (so->surf && !so->owner)
                so->surf = nullptr;
        }
    }
    PyErr_Clear();
    set_default_surface(nullptr);
}

// ---------------------------------------------------------------------------
// Python functions
// ---------------------------------------------------------------------------
PyObject *base_init(PyObject *, PyObject *)
{
    if (SDL_Init(SDL_INIT_TIMER) < 0)
        return raise_sdl_error();
    g_initialized = true;

    int numpass = 0, numfail = 0;
    for (const char *name : k_autoinit_modules) {
        lm::Ref mod(PyImport_ImportModule(name));
        if (!mod) {
            // Absent (or not built on this machine): not counted.
            if (PyErr_ExceptionMatches(PyExc_ImportError)) {
                PyErr_Clear();
                continue;
            }
            PyErr_Clear();
            ++numfail;
            continue;
        }
        lm::Ref fn(PyObject_GetAttrString(mod.get(), "init"));
        if (!fn) {
            PyErr_Clear();
            continue;
        }
        lm::Ref res(PyObject_CallNoArgs(fn.get()));
        if (res) {
            ++numpass;
        }
        else {
            PyErr_Clear();
            ++numfail;
        }
    }
    return Py_BuildValue("(ii)", numpass, numfail);
}

PyObject *base_quit(PyObject *, PyObject *)
{
    // Take the list first: a quit function that registers another one (or
    // calls quit() again) must neither loop nor see freed entries.
    std::vector<QuitEntry> funcs;
    funcs.swap(g_quit_funcs);
    for (auto it = funcs.rbegin(); it != funcs.rend(); ++it) {
        if (it->callable) {
            lm::Ref res(PyObject_CallNoArgs(it->callable));
            if (!res)
                PyErr_WriteUnraisable(it->callable);
            Py_CLEAR(it->callable);
        }
        else {
            it->cfunc();
        }
    }

    constexpr size_t n = sizeof k_autoinit_modules / sizeof k_autoinit_modules[0];
    for (size_t i = n; i-- > 0;) {
        lm::Ref name(PyUnicode_FromString(k_autoinit_modules[i]));
        lm::Ref mod(name ? PyImport_GetModule(name.get()) : nullptr);
        if (!mod) {
            PyErr_Clear();
            continue;
        }
        lm::Ref fn(PyObject_GetAttrString(mod.get(), "quit"));
        if (!fn) {
            PyErr_Clear();
            continue;
        }
        lm::Ref res(PyObject_CallNoArgs(fn.get()));
        if (!res)
            PyErr_WriteUnraisable(fn.get());
    }

    // Flips and event waits of other threads finish before SDL goes.
    {
        lm::GilRelease nogil;
        display_gate(LM_GATE_WRITE);
    }
    detach_default_surface();
    set_default_window(nullptr);
    if (g_initialized || SDL_WasInit(SDL_INIT_EVERYTHING))
        SDL_Quit();
    g_initialized = false;
    display_gate(LM_GATE_UNWRITE);
    Py_RETURN_NONE;
}

PyObject *base_get_init(PyObject *, PyObject *)
{
    return PyBool_FromLong(g_initialized);
}

PyObject *base_get_error(PyObject *, PyObject *)
{
    const char *e = SDL_GetError();
    return PyUnicode_DecodeUTF8(e, (Py_ssize_t)strlen(e), "replace");
}

PyObject *base_set_error(PyObject *, PyObject *args)
{
    const char *msg;
    if (!PyArg_ParseTuple(args, "s:set_error", &msg))
        return nullptr;
    SDL_SetError("%s", msg);
    Py_RETURN_NONE;
}

PyObject *base_get_sdl_version(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwlist[] = {"linked", nullptr};
    int linked = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|p:get_sdl_version",
                                     const_cast<char **>(kwlist), &linked))
        return nullptr;
    SDL_version v;
    if (linked) {
        SDL_GetVersion(&v);
    }
    else {
        SDL_VERSION(&v);
    }
    return Py_BuildValue("(iii)", v.major, v.minor, v.patch);
}

PyObject *base_register_quit(PyObject *, PyObject *callable)
{
    if (!PyCallable_Check(callable)) {
        PyErr_SetString(PyExc_TypeError, "quit function must be callable");
        return nullptr;
    }
    Py_INCREF(callable);
    g_quit_funcs.push_back(QuitEntry{callable, nullptr});
    Py_RETURN_NONE;
}

PyMethodDef base_methods[] = {
    {"init", base_init, METH_NOARGS,
     "init() -> (numpass, numfail)\n"
     "Initialise SDL and every lumora module that starts automatically.\n\n"
     "The modules display, font and joystick are brought up when they can\n"
     "be imported; the result counts those that started and those that\n"
     "failed.  Calling init() again is harmless."},
    {"quit", base_quit, METH_NOARGS,
     "quit() -> None\n"
     "Shut lumora down.\n\n"
     "Runs the functions given to register_quit() (newest first), shuts\n"
     "down the automatically started modules, forgets the default window\n"
     "and its surface and quits SDL.  Safe to call more than once, and\n"
     "init() may be called again afterwards.  Also run at interpreter exit."},
    {"get_init", base_get_init, METH_NOARGS,
     "get_init() -> bool\n"
     "True between init() and quit()."},
    {"get_error", base_get_error, METH_NOARGS,
     "get_error() -> str\n"
     "The text of SDL's most recent error (empty when there is none)."},
    {"set_error", base_set_error, METH_VARARGS,
     "set_error(message) -> None\n"
     "Replace SDL's current error text."},
    {"get_sdl_version", (PyCFunction)(void (*)(void))base_get_sdl_version,
     METH_VARARGS | METH_KEYWORDS,
     "get_sdl_version(linked=True) -> (major, minor, patch)\n"
     "The version of the SDL library in use, or with linked=False the\n"
     "version lumora was compiled against."},
    {"register_quit", base_register_quit, METH_O,
     "register_quit(callable) -> None\n"
     "Have quit() call `callable` with no arguments.  Functions run newest\n"
     "first, once: quit() empties the registry."},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef base_module = {
    PyModuleDef_HEAD_INIT,
    "base",
    "lumora's foundation: SDL start and stop, the SDL error type and the\n"
    "services shared by every lumora module.",
    -1,
    base_methods,
    nullptr, nullptr, nullptr, nullptr};

void *base_slots[LM_BASE_NUMSLOTS];

}  // namespace
}  // namespace lmbase

using namespace lmbase;

// Function pointers are stored in a void* table; the round trip through an
// object pointer is what every capsule C API relies on.
template <typename F>
static void *fp(F f)
{
    return reinterpret_cast<void *>(f);
}

PyMODINIT_FUNC PyInit_base(void)
{
    if (!sdl_error) {
        sdl_error = PyErr_NewExceptionWithDoc(
            "lumora.base.error",
            "Raised when an SDL call fails; the message is SDL's error text.",
            PyExc_RuntimeError, nullptr);
        if (!sdl_error)
            return nullptr;
    }
    if (!buffer_error) {
        buffer_error = PyErr_NewExceptionWithDoc(
            "lumora.base.BufferError",
            "Raised when an object's memory cannot be exported as asked.",
            PyExc_BufferError, nullptr);
        if (!buffer_error)
            return nullptr;
    }

    lm::Ref mod(PyModule_Create2(&base_module, LM_API_VERSION));
    if (!mod)
        return nullptr;

    Py_INCREF(sdl_error);
    if (PyModule_AddObject(mod.get(), "error", sdl_error) < 0) {
        Py_DECREF(sdl_error);
        return nullptr;
    }
    Py_INCREF(buffer_error);
    if (PyModule_AddObject(mod.get(), "BufferError", buffer_error) < 0) {
        Py_DECREF(buffer_error);
        return nullptr;
    }

    void **s = base_slots;
    s[LM_BASE_SDL_ERROR] = sdl_error;
    s[LM_BASE_REGISTER_QUIT] = fp(register_quit_c);
    s[LM_BASE_INT_FROM_OBJ] = fp(int_from_obj);
    s[LM_BASE_INT_FROM_OBJ_INDEX] = fp(int_from_obj_index);
    s[LM_BASE_TWO_INTS_FROM_OBJ] = fp(two_ints_from_obj);
    s[LM_BASE_FLOAT_FROM_OBJ] = fp(float_from_obj);
    s[LM_BASE_FLOAT_FROM_OBJ_INDEX] = fp(float_from_obj_index);
    s[LM_BASE_TWO_FLOATS_FROM_OBJ] = fp(two_floats_from_obj);
    s[LM_BASE_UINT_FROM_OBJ] = fp(uint_from_obj);
    s[LM_BASE_UINT_FROM_OBJ_INDEX] = fp(uint_from_obj_index);
    s[LM_BASE_MOD_AUTOINIT] = fp(mod_autoinit);
    s[LM_BASE_MOD_AUTOQUIT] = fp(mod_autoquit);
    s[LM_BASE_RGBA_FROM_OBJ] = fp(rgba_from_obj);
    s[LM_BASE_BUFFER_AS_ARRINTER] = fp(buffer_as_arrinter);
    s[LM_BASE_BUFFER_AS_ARRSTRUCT] = fp(buffer_as_arrstruct);
    s[LM_BASE_OBJECT_GET_BUFFER] = fp(object_get_buffer);
    s[LM_BASE_BUFFER_RELEASE] = fp(buffer_release);
    s[LM_BASE_DICT_AS_BUFFER] = fp(dict_as_buffer);
    s[LM_BASE_BUFFER_ERROR] = buffer_error;
    s[LM_BASE_GET_DEFAULT_WINDOW] = fp(get_default_window);
    s[LM_BASE_SET_DEFAULT_WINDOW] = fp(set_default_window);
    s[LM_BASE_GET_DEFAULT_WINDOW_SURFACE] = fp(get_default_surface);
    s[LM_BASE_SET_DEFAULT_WINDOW_SURFACE] = fp(set_default_surface);
    s[LM_BASE_GET_INIT] = fp(get_init_c);
    s[LM_BASE_DOUBLE_FROM_OBJ] = fp(double_from_obj);
    s[LM_BASE_DOUBLE_FROM_OBJ_INDEX] = fp(double_from_obj_index);
    s[LM_BASE_TWO_DOUBLES_FROM_OBJ] = fp(two_doubles_from_obj);
    if (gate_init() < 0) {
        PyErr_SetString(sdl_error, SDL_GetError());
        return nullptr;
    }
    s[LM_BASE_DISPLAY_GATE] = fp(display_gate);
    if (lm_export_slots(mod.get(), "base", base_slots) < 0)
        return nullptr;

    // quit() at interpreter exit, while Python objects can still be used.
    lm::Ref atexit(PyImport_ImportModule("atexit"));
    if (!atexit)
        return nullptr;
    lm::Ref quitfn(PyObject_GetAttrString(mod.get(), "quit"));
    if (!quitfn)
        return nullptr;
    lm::Ref res(PyObject_CallMethod(atexit.get(), "register", "O", quitfn.get()));
    if (!res)
        return nullptr;

    return mod.release();
}
