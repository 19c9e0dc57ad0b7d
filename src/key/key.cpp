// lumora.key: keyboard state, key names, key repeat and text input.
#include "frame.h"
#include "key_names.h"

// ---------------------------------------------------------------------------
// ScancodeWrapper: a tuple of key states indexed by key code.
// ---------------------------------------------------------------------------
static PyTypeObject ScancodeWrapper_Type = lm_blank_type();

static PyObject *scw_subscript(PyObject *self, PyObject *item)
{
    // Read in 64 bits so that a huge code means "unknown key" alike on 32-
    // and 64-bit builds instead of overflowing only on the former.
    int overflow = 0;
    long long key = PyLong_AsLongLongAndOverflow(item, &overflow);
    if (key == -1 && PyErr_Occurred())
        return nullptr;
    if (overflow)
        key = (long long)INT32_MAX + 1;
    // A code SDL cannot represent maps like any unknown key: scancode 0.
    SDL_Scancode sc = SDL_SCANCODE_UNKNOWN;
    if (key >= INT32_MIN && key <= INT32_MAX)
        sc = SDL_GetScancodeFromKey((SDL_Keycode)key);
    lm::Ref idx(PyLong_FromLong((long)sc));
    if (!idx)
        return nullptr;
    return PyTuple_Type.tp_as_mapping->mp_subscript(self, idx.get());
}

static PyObject *scw_repr(PyObject *self)
{
    lm::Ref base(PyTuple_Type.tp_repr(self));
    if (!base)
        return nullptr;
    return PyUnicode_FromFormat("lumora.key.ScancodeWrapper%S", base.get());
}

static PyMappingMethods scw_mapping = {nullptr, scw_subscript, nullptr};

// ---------------------------------------------------------------------------
// Functions
// ---------------------------------------------------------------------------
static PyObject *key_get_pressed(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    int n = 0;
    const Uint8 *state = SDL_GetKeyboardState(&n);
    if (!state || n <= 0)
        Py_RETURN_NONE;
    lm::Ref t(PyTuple_New(n));
    if (!t)
        return nullptr;
    for (int i = 0; i < n; ++i) {
        PyObject *b = state[i] ? Py_True : Py_False;
        Py_INCREF(b);
        PyTuple_SET_ITEM(t.get(), i, b);
    }
    return PyObject_CallOneArg((PyObject *)&ScancodeWrapper_Type, t.get());
}

static PyObject *key_get_mods(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    return PyLong_FromLong((long)SDL_GetModState());
}

static PyObject *key_set_mods(PyObject *, PyObject *args)
{
    int mods;
    if (!PyArg_ParseTuple(args, "i:set_mods", &mods))
        return nullptr;
    LM_VIDEO_OR_RAISE();
    SDL_SetModState((SDL_Keymod)mods);
    Py_RETURN_NONE;
}

static PyObject *key_get_focused(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    return PyBool_FromLong(SDL_GetKeyboardFocus() != nullptr);
}

static PyObject *key_set_repeat(PyObject *, PyObject *args)
{
    int delay = 0, interval = 0;
    if (!PyArg_ParseTuple(args, "|ii:set_repeat", &delay, &interval))
        return nullptr;
    LM_VIDEO_OR_RAISE();
    if (delay && !interval)
        interval = delay;
    if (lmEvent_SetKeyRepeat(delay, interval) == -1)
        return nullptr;
    Py_RETURN_NONE;
}

static PyObject *key_get_repeat(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    int delay = 0, interval = 0;
    lmEvent_GetKeyRepeat(&delay, &interval);
    return Py_BuildValue("(ii)", delay, interval);
}

static PyObject *key_name(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"key", "use_compat", nullptr};
    int key, use_compat = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "i|p:name", (char **)kwids, &key, &use_compat))
        return nullptr;
    if (!use_compat) {
        LM_VIDEO_OR_RAISE();
        return PyUnicode_FromString(SDL_GetKeyName((SDL_Keycode)key));
    }
    for (const lmKeyName &row : lmk_names)
        if (row.code == key)
            return PyUnicode_FromString(row.name);
    return PyUnicode_FromString("");
}

static PyObject *key_key_code(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"name", nullptr};
    const char *name;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "s:key_code", (char **)kwids, &name))
        return nullptr;
    if (!SDL_WasInit(SDL_INIT_VIDEO) &&
        PyErr_WarnEx(PyExc_Warning,
                     "lumora.init() has not been called. This function may return "
                     "incorrect results",
                     1) < 0)
        return nullptr;
    SDL_Keycode code = SDLK_UNKNOWN;
    bool found = false;
    for (const lmKeyName &row : lmk_names) {
        if (SDL_strcasecmp(name, row.name) == 0) {
            code = row.code;
            found = true;
            break;
        }
    }
    if (!found)
        code = SDL_GetKeyFromName(name);
    if (code == SDLK_UNKNOWN) {
        PyErr_SetString(PyExc_ValueError, "unknown key name");
        return nullptr;
    }
    return PyLong_FromLong((long)code);
}

static PyObject *key_start_text_input(PyObject *, PyObject *)
{
    SDL_StartTextInput();
    Py_RETURN_NONE;
}

static PyObject *key_stop_text_input(PyObject *, PyObject *)
{
    SDL_StopTextInput();
    Py_RETURN_NONE;
}

static PyObject *key_set_text_input_rect(PyObject *, PyObject *arg)
{
    if (arg == Py_None)
        Py_RETURN_NONE;
    SDL_Rect scratch;
    const SDL_Rect *r = lmRect_Coerce(arg, &scratch);
    if (!r) {
        PyErr_SetString(PyExc_TypeError, "Invalid rect argument");
        return nullptr;
    }
    SDL_Rect out = *r;
    SDL_Window *win = lm_GetDefaultWindow();
    SDL_Renderer *ren = win ? SDL_GetRenderer(win) : nullptr;
    if (ren) {
        // Logical (display surface) coordinates to window coordinates.
        float sx = 1.0f, sy = 1.0f;
        SDL_Rect vp;
        SDL_RenderGetScale(ren, &sx, &sy);
        SDL_RenderGetViewport(ren, &vp);
        out.x = lm::sat_int((double)((float)vp.x + (float)r->x * sx));
        out.y = lm::sat_int((double)((float)vp.y + (float)r->y * sy));
        out.w = lm::sat_int((double)((float)r->w * sx));
        out.h = lm::sat_int((double)((float)r->h * sy));
    }
    SDL_SetTextInputRect(&out);
    Py_RETURN_NONE;
}

#define CF(f) (PyCFunction)(void (*)(void))(f)

static PyMethodDef key_methods[] = {
    {"get_pressed", key_get_pressed, METH_NOARGS,
     "get_pressed() -> bools\nget the state of all keyboard buttons"},
    {"get_mods", key_get_mods, METH_NOARGS,
     "get_mods() -> int\ndetermine which modifier keys are being held"},
    {"set_mods", key_set_mods, METH_VARARGS,
     "set_mods(int) -> None\ntemporarily set which modifier keys are pressed"},
    {"get_focused", key_get_focused, METH_NOARGS,
     "get_focused() -> bool\ntrue if the display is receiving keyboard input from the system"},
    {"set_repeat", key_set_repeat, METH_VARARGS,
     "set_repeat() -> None\nset_repeat(delay) -> None\nset_repeat(delay, interval) -> None\n"
     "control how held keys are repeated"},
    {"get_repeat", key_get_repeat, METH_NOARGS,
     "get_repeat() -> (delay, interval)\nsee how held keys are repeated"},
    {"name", CF(key_name), METH_VARARGS | METH_KEYWORDS,
     "name(key, use_compat=True) -> str\nget the name of a key identifier"},
    {"key_code", CF(key_key_code), METH_VARARGS | METH_KEYWORDS,
     "key_code(name=string) -> int\nget the key identifier from a key name"},
    {"start_text_input", key_start_text_input, METH_NOARGS,
     "start_text_input() -> None\nstart handling Unicode text input events"},
    {"stop_text_input", key_stop_text_input, METH_NOARGS,
     "stop_text_input() -> None\nstop handling Unicode text input events"},
    {"set_text_input_rect", key_set_text_input_rect, METH_O,
     "set_text_input_rect(Rect) -> None\ncontrols the position of the candidate list"},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(key_module, "key", "lumora module to work with the keyboard", key_methods);

PyMODINIT_FUNC PyInit_key(void)
{
    LM_IMPORT(base);
    LM_IMPORT(rect);
    LM_IMPORT(event);

    ScancodeWrapper_Type.tp_name = "lumora.key.ScancodeWrapper";
    ScancodeWrapper_Type.tp_base = &PyTuple_Type;
    ScancodeWrapper_Type.tp_flags =
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_TUPLE_SUBCLASS;
    ScancodeWrapper_Type.tp_as_mapping = &scw_mapping;
    ScancodeWrapper_Type.tp_repr = scw_repr;
    ScancodeWrapper_Type.tp_doc = "key states indexed by key code";
    if (PyType_Ready(&ScancodeWrapper_Type) < 0)
        return nullptr;

    PyObject *mod = PyModule_Create2(&key_module, 1013);
    if (!mod)
        return nullptr;
    Py_INCREF(&ScancodeWrapper_Type);
    if (PyModule_AddObject(mod, "ScancodeWrapper", (PyObject *)&ScancodeWrapper_Type) < 0) {
        Py_DECREF(&ScancodeWrapper_Type);
        Py_DECREF(mod);
        return nullptr;
    }
    return mod;
}
