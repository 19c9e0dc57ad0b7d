// lumora.scrap: clipboard text over SDL2.
//
// SDL only carries UTF-8 text, so the one supported type is the plain-text
// type.  The program never owns the clipboard (lost() is always true): get()
// always reads SDL's clipboard; put() also remembers what it placed.
#include "frame.h"

#include <cstdlib>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

#define LM_EXPORT_DATA extern "C" __attribute__((visibility("default")))
LM_EXPORT_DATA char **lumora_scrap_types;
LM_EXPORT_DATA char *lumora_scrap_plaintext_type;
char **lumora_scrap_types = nullptr;
char *lumora_scrap_plaintext_type = (char *)"text/plain;charset=utf-8";

namespace {

int g_initialized = 0;
int g_mode = 0;  // 0 clipboard, 1 selection (only the clipboard is used)
PyObject *g_clipboard = nullptr;  // type name -> bytes last put, per mode
PyObject *g_selection = nullptr;

const char k_not_init[] = "scrap system not initialized.";

bool is_plaintext(const char *type)
{
    return type && strcmp(type, lumora_scrap_plaintext_type) == 0;
}

}  // namespace

LM_EXPORT int lumora_scrap_init(void)
{
    // The clipboard lives in the video subsystem.  Starting it again when it
    // is already up would add a reference that display.quit() never drops.
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        SDL_InitSubSystem(SDL_INIT_VIDEO);
    if (!lumora_scrap_types) {
        char **types = static_cast<char **>(malloc(2 * sizeof(char *)));
        if (!types)
            return 0;
        types[0] = lumora_scrap_plaintext_type;
        types[1] = nullptr;
        lumora_scrap_types = types;
    }
    g_initialized = 1;
    return 1;
}

LM_EXPORT int lumora_scrap_initialized(void)
{
    return g_initialized;
}

LM_EXPORT int lumora_scrap_lost(void)
{
    return 1;
}

LM_EXPORT int lumora_scrap_contains(const char *type)
{
    return is_plaintext(type) && SDL_HasClipboardText();
}

LM_EXPORT char *lumora_scrap_get(const char *type, int *len)
{
    if (!g_initialized) {
        PyErr_SetString(lmExc_SDLError, k_not_init);
        return nullptr;
    }
    if (!is_plaintext(type))
        return nullptr;
    char *text = SDL_GetClipboardText();
    if (!text)
        return nullptr;
    char *copy = strdup(text);
    SDL_free(text);
    if (copy && len) {
        size_t n = strlen(copy);
        *len = n > (size_t)INT_MAX ? INT_MAX : (int)n;
    }
    return copy;
}

LM_EXPORT char **lumora_scrap_get_types(void)
{
    if (!g_initialized) {
        PyErr_SetString(lmExc_SDLError, k_not_init);
        return nullptr;
    }
    return lumora_scrap_types;
}

// `data` need not be NUL-terminated: `len` bytes are copied into a
// terminated buffer, and the text ends at the first NUL among them.
LM_EXPORT int lumora_scrap_put(const char *type, int len, const char *data)
{
    if (!g_initialized) {
        PyErr_SetString(lmExc_SDLError, k_not_init);
        return 0;
    }
    if (!is_plaintext(type) || len < 0 || (len > 0 && !data))
        return 0;
    char *text = static_cast<char *>(malloc((size_t)len + 1));
    if (!text)
        return 0;
    if (len)
        memcpy(text, data, (size_t)len);
    text[len] = '\0';
    int ok = SDL_SetClipboardText(text) == 0;
    free(text);
    return ok;
}

// ---------------------------------------------------------------------------
// Python functions
// ---------------------------------------------------------------------------
#define SCRAP_INIT_OR_RAISE()                             \
    do {                                                  \
        if (!g_initialized) {                             \
            PyErr_SetString(lmExc_SDLError, k_not_init);  \
            return nullptr;                               \
        }                                                 \
    } while (0)

static PyObject *scrap_init(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    if (!g_initialized) {
        lm::Ref clip(PyDict_New()), sel(PyDict_New());
        if (!clip || !sel)
            return nullptr;
        Py_XSETREF(g_clipboard, clip.release());
        Py_XSETREF(g_selection, sel.release());
    }
    if (!lumora_scrap_init())
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

static PyObject *scrap_get_init(PyObject *, PyObject *)
{
    return PyBool_FromLong(g_initialized);
}

static PyObject *scrap_contains(PyObject *, PyObject *args)
{
    const char *type;
    if (!PyArg_ParseTuple(args, "s", &type))
        return nullptr;
    return PyBool_FromLong(lumora_scrap_contains(type));
}

static PyObject *scrap_get(PyObject *, PyObject *args)
{
    const char *type;
    if (!PyArg_ParseTuple(args, "s", &type))
        return nullptr;
    SCRAP_INIT_OR_RAISE();
    int len = 0;
    char *text = lumora_scrap_get(type, &len);
    if (!text) {
        if (PyErr_Occurred())
            return nullptr;
        Py_RETURN_NONE;
    }
    PyObject *res = PyBytes_FromStringAndSize(text, len);
    free(text);
    return res;
}

static PyObject *scrap_get_types(PyObject *, PyObject *)
{
    SCRAP_INIT_OR_RAISE();
    char **types = lumora_scrap_get_types();
    if (!types)
        return nullptr;
    lm::Ref list(PyList_New(0));
    if (!list)
        return nullptr;
    for (char **t = types; *t; ++t) {
        lm::Ref s(PyUnicode_DecodeASCII(*t, (Py_ssize_t)strlen(*t), "strict"));
        if (!s || PyList_Append(list.get(), s.get()) < 0)
            return nullptr;
    }
    return list.release();
}

static PyObject *scrap_put(PyObject *, PyObject *args)
{
    const char *type;
    const char *data;
    Py_ssize_t len;
    if (!PyArg_ParseTuple(args, "sy#", &type, &data, &len))
        return nullptr;
    SCRAP_INIT_OR_RAISE();
    if (len > INT_MAX) {
        PyErr_SetString(PyExc_ValueError, "data too long for the clipboard");
        return nullptr;
    }
    if (!lumora_scrap_put(type, (int)len, data)) {
        if (!PyErr_Occurred())
            PyErr_SetString(lmExc_SDLError, "content could not be placed in clipboard.");
        return nullptr;
    }
    lm::Ref bytes(PyBytes_FromStringAndSize(data, len));
    if (!bytes)
        return nullptr;
    PyObject *store = g_mode == 1 ? g_selection : g_clipboard;
    if (store && PyDict_SetItemString(store, type, bytes.get()) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

static PyObject *scrap_lost(PyObject *, PyObject *)
{
    SCRAP_INIT_OR_RAISE();
    return PyBool_FromLong(lumora_scrap_lost());
}

static PyObject *scrap_set_mode(PyObject *, PyObject *args)
{
    int mode;
    if (!PyArg_ParseTuple(args, "i", &mode))
        return nullptr;
    SCRAP_INIT_OR_RAISE();
    if (mode >= 2) {
        PyErr_SetString(PyExc_ValueError, "invalid clipboard mode");
        return nullptr;
    }
    // SDL has no selection buffer: every mode reads and writes the clipboard.
    g_mode = 0;
    Py_RETURN_NONE;
}

static PyMethodDef scrap_methods[] = {
    {"init", scrap_init, METH_NOARGS, "init() -> None\nInitializes the scrap module."},
    {"get_init", scrap_get_init, METH_NOARGS,
     "get_init() -> bool\nReturns True if the scrap module is currently initialized."},
    {"contains", scrap_contains, METH_VARARGS,
     "contains(type) -> bool\nChecks whether data for a given type is available in the clipboard."},
    {"get", scrap_get, METH_VARARGS,
     "get(type) -> bytes | None\nGets the data for the specified type from the clipboard."},
    {"get_types", scrap_get_types, METH_NOARGS,
     "get_types() -> list\nGets a list of the available clipboard types."},
    {"put", scrap_put, METH_VARARGS,
     "put(type, data) -> None\nPlaces data into the clipboard."},
    {"lost", scrap_lost, METH_NOARGS,
     "lost() -> bool\nIndicates if the clipboard ownership has been lost by the lumora application."},
    {"set_mode", scrap_set_mode, METH_VARARGS,
     "set_mode(mode) -> None\nSets the clipboard access mode."},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(scrap_module, "scrap", "lumora module for clipboard support.", scrap_methods);

PyMODINIT_FUNC PyInit_scrap(void)
{
    LM_IMPORT(base);
    return PyModule_Create2(&scrap_module, 1013);
}
