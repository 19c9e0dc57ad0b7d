// lumora._sdl2.sdl2: SDL's subsystem initialisation for the package's own
// Python code, with an exception type that carries SDL's error text.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <SDL.h>

#include <cstring>

namespace {

PyObject *g_error = nullptr;

// error(message=None): None means "SDL's current error text".
int error_init(PyObject *self, PyObject *args, PyObject *kwds)
{
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject *message = nargs > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
    if (nargs > 1) {
        // Counted with self, as a Python-level __init__ would report it.
        PyErr_Format(PyExc_TypeError,
                     "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                     "__init__", "at most", (Py_ssize_t)2, "s", nargs + 1);
        return -1;
    }
    if (kwds && PyDict_GET_SIZE(kwds) > 0) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwds, &pos, &key, &value)) {
            if (!PyUnicode_Check(key) ||
                PyUnicode_CompareWithASCIIString(key, "message") != 0) {
                PyErr_Format(PyExc_TypeError,
                             "__init__() got an unexpected keyword argument '%S'",
                             key);
                return -1;
            }
            if (message) {
                PyErr_SetString(PyExc_TypeError,
                                "__init__() got multiple values for argument 'message'");
                return -1;
            }
            message = value;
        }
    }
    PyObject *msg;
    if (!message || message == Py_None) {
        const char *e = SDL_GetError();
        msg = PyUnicode_DecodeUTF8(e, (Py_ssize_t)strlen(e), "replace");
        if (!msg)
            return -1;
    }
    else {
        Py_INCREF(message);
        msg = message;
    }
    PyObject *base_args = PyTuple_Pack(1, msg);
    Py_DECREF(msg);
    if (!base_args)
        return -1;
    int r = ((PyTypeObject *)PyExc_RuntimeError)->tp_init(self, base_args, nullptr);
    Py_DECREF(base_args);
    return r;
}

PyType_Slot error_slots[] = {
    {Py_tp_init, (void *)error_init},
    {Py_tp_doc, (void *)"error(message=None)\n"
                        "SDL failure; without a message, SDL's current error text."},
    {0, nullptr}};

PyType_Spec error_spec = {
    "lumora._sdl2.sdl2.error", 0, 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, error_slots};

PyObject *raise_error()
{
    PyObject *exc = PyObject_CallNoArgs(g_error);
    if (exc) {
        PyErr_SetObject(g_error, exc);
        Py_DECREF(exc);
    }
    return nullptr;
}

PyObject *init_subsystem(PyObject *, PyObject *args, PyObject *kwds)
{
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    Py_ssize_t nkw = kwds ? PyDict_GET_SIZE(kwds) : 0;
    PyObject *flags_obj = nullptr;
    if (nargs == 1 && nkw == 0) {
        flags_obj = PyTuple_GET_ITEM(args, 0);
    }
    else if (nargs == 0 && nkw == 1) {
        flags_obj = PyDict_GetItemString(kwds, "flags");
        if (!flags_obj) {
            PyObject *key = nullptr, *value;
            Py_ssize_t pos = 0;
            PyDict_Next(kwds, &pos, &key, &value);
            PyErr_Format(PyExc_TypeError,
                         "init_subsystem() got an unexpected keyword argument '%S'",
                         key);
            return nullptr;
        }
    }
    if (!flags_obj) {
        PyErr_Format(PyExc_TypeError,
                     "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                     "init_subsystem", "exactly", (Py_ssize_t)1, "", nargs + nkw);
        return nullptr;
    }
    // Integers only (bool and __index__ objects included); floats and text
    // are refused rather than truncated.
    if (PyFloat_Check(flags_obj) || !PyIndex_Check(flags_obj)) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    PyObject *num = PyNumber_Index(flags_obj);
    if (!num)
        return nullptr;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(num, &overflow);
    Py_DECREF(num);
    if (v == -1 && !overflow && PyErr_Occurred())
        return nullptr;
    if (overflow < 0 || v < 0) {
        PyErr_SetString(PyExc_OverflowError, "can't convert negative value to Uint32");
        return nullptr;
    }
    if (overflow > 0 || v > 0xFFFFFFFFLL) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to Uint32");
        return nullptr;
    }
    if (SDL_InitSubSystem((Uint32)v) == -1)
        return raise_error();
    Py_RETURN_NONE;
}

PyMethodDef sdl2_methods[] = {
    {"init_subsystem", (PyCFunction)(void (*)(void))init_subsystem,
     METH_VARARGS | METH_KEYWORDS,
     " Use this function to initialize specific subsystems.\n\n"
     "    :param int flags: any of the flags used by.\n\n"
     "        * INIT_TIMER timer subsystem\n"
     "        * INIT_AUDIO audio subsystem\n"
     "        * INIT_VIDEO video subsystem; automatically initializes the events subsystem\n"
     "        * INIT_JOYSTICK joystick subsystem; automatically initializes the events subsystem\n"
     "        * INIT_HAPTIC haptic (force feedback) subsystem\n"
     "        * INIT_GAMECONTROLLER controller subsystem; automatically initializes the joystick subsystem\n"
     "        * INIT_EVENTS events subsystem\n"
     "        * INIT_EVERYTHING all of the above subsystems\n"
     "        * INIT_NOPARACHUTE compatibility; this flag is ignored\n"
     "    "},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef sdl2_module = {
    PyModuleDef_HEAD_INIT, "sdl2",
    "SDL subsystem initialisation, its flags and SDL's error type.", -1,
    sdl2_methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_sdl2(void)
{
    if (!g_error) {
        PyObject *bases = PyTuple_Pack(1, PyExc_RuntimeError);
        if (!bases)
            return nullptr;
        g_error = PyType_FromSpecWithBases(&error_spec, bases);
        Py_DECREF(bases);
        if (!g_error)
            return nullptr;
    }
    PyObject *mod = PyModule_Create2(&sdl2_module, 1013);
    if (!mod)
        return nullptr;
    struct { const char *name; long value; } consts[] = {
        {"INIT_TIMER", SDL_INIT_TIMER},
        {"INIT_AUDIO", SDL_INIT_AUDIO},
        {"INIT_VIDEO", SDL_INIT_VIDEO},
        {"INIT_JOYSTICK", SDL_INIT_JOYSTICK},
        {"INIT_HAPTIC", SDL_INIT_HAPTIC},
        {"INIT_GAMECONTROLLER", SDL_INIT_GAMECONTROLLER},
        {"INIT_EVENTS", SDL_INIT_EVENTS},
        {"INIT_NOPARACHUTE", SDL_INIT_NOPARACHUTE},
        {"INIT_EVERYTHING", SDL_INIT_EVERYTHING},
    };
    for (const auto &c : consts) {
        if (PyModule_AddIntConstant(mod, c.name, c.value) < 0) {
            Py_DECREF(mod);
            return nullptr;
        }
    }
    Py_INCREF(g_error);
    if (PyModule_AddObject(mod, "error", g_error) < 0) {
        Py_DECREF(g_error);
        Py_DECREF(mod);
        return nullptr;
    }
    return mod;
}
