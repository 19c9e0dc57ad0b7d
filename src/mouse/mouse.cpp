// lumora.mouse: pointer position, buttons, visibility and cursors.
#include "frame.h"

#include <cmath>

// The current cursor, as last set through this module.
struct lmCursorData {
    int w, h;
    int hot_x, hot_y;
    PyObject *xor_mask, *and_mask;  // strong, bitmap cursor
    PyObject *color_surface;        // strong, colour cursor
    int system_id;
    int kind;  // 0 system, 1 bitmap, 2 colour
};

extern "C" {
__attribute__((visibility("default"))) lmCursorData cursor_data;
}

namespace {

// Scale and viewport of a SCALED display's renderer; false without one.
struct RenderMap {
    float sx, sy;
    SDL_Rect vp;
};

bool render_map(RenderMap *m)
{
    SDL_Window *win = lm_GetDefaultWindow();
    SDL_Renderer *ren = win ? SDL_GetRenderer(win) : nullptr;
    if (!ren)
        return false;
    m->sx = m->sy = 1.0f;
    SDL_RenderGetScale(ren, &m->sx, &m->sy);
    SDL_RenderGetViewport(ren, &m->vp);
    // A degenerate scale would divide by zero below.
    if (!(m->sx > 0.0f) || !std::isfinite(m->sx))
        m->sx = 1.0f;
    if (!(m->sy > 0.0f) || !std::isfinite(m->sy))
        m->sy = 1.0f;
    return true;
}

// A window coordinate or motion in renderer units, by the render scale.
int unscale(int v, float scale)
{
    return lm::sat_int((double)((float)v / scale));
}

int clamp_to(int v, int n)
{
    if (v < 0 || n <= 0)
        return 0;
    return v > n - 1 ? n - 1 : v;
}

// Install `cur` as SDL's cursor and free the one it replaces.
void install_cursor(SDL_Cursor *cur)
{
    SDL_Cursor *old = SDL_GetCursor();
    SDL_SetCursor(cur);
    if (old && old != cur)
        SDL_FreeCursor(old);
}

PyObject *system_cursor(int id)
{
    SDL_Cursor *cur = SDL_CreateSystemCursor((SDL_SystemCursor)id);
    if (!cur) {
        PyErr_SetString(lmExc_SDLError, "Error while creating system cursor");
        return nullptr;
    }
    install_cursor(cur);
    cursor_data.kind = 0;
    cursor_data.system_id = id;
    Py_RETURN_NONE;
}

}  // namespace

static PyObject *mouse_get_pos(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    RenderMap m;
    if (render_map(&m)) {
        x = clamp_to(unscale(x, m.sx) - m.vp.x, m.vp.w);
        y = clamp_to(unscale(y, m.sy) - m.vp.y, m.vp.h);
    }
    return Py_BuildValue("(ii)", x, y);
}

static PyObject *mouse_get_rel(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    int dx = 0, dy = 0;
    SDL_GetRelativeMouseState(&dx, &dy);
    RenderMap m;
    if (render_map(&m)) {
        // Motion has no origin: only the scale applies.
        dx = unscale(dx, m.sx);
        dy = unscale(dy, m.sy);
    }
    return Py_BuildValue("(ii)", dx, dy);
}

static PyObject *mouse_set_pos(PyObject *, PyObject *args)
{
    // set_pos(x, y) and set_pos((x, y)) alike.
    PyObject *pos = args;
    if (PyTuple_GET_SIZE(args) == 1)
        pos = PyTuple_GET_ITEM(args, 0);
    int x, y;
    if (!lm_TwoIntsFromObj(pos, &x, &y)) {
        PyErr_SetString(PyExc_TypeError, "invalid position argument for set_pos");
        return nullptr;
    }
    LM_VIDEO_OR_RAISE();
    RenderMap m;
    if (render_map(&m)) {
        x = lm::sat_int((double)((float)lm::wrap_add(x, m.vp.x) * m.sx));
        y = lm::sat_int((double)((float)lm::wrap_add(y, m.vp.y) * m.sy));
    }
    SDL_WarpMouseInWindow(nullptr, (Uint16)x, (Uint16)y);
    Py_RETURN_NONE;
}

static PyObject *mouse_get_pressed(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"num_buttons", nullptr};
    int n = 3;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|i:get_pressed", (char **)kwids, &n))
        return nullptr;
    LM_VIDEO_OR_RAISE();
    if (n != 3 && n != 5) {
        PyErr_SetString(PyExc_ValueError, "Number of buttons needs to be 3 or 5.");
        return nullptr;
    }
    Uint32 st = SDL_GetMouseState(nullptr, nullptr);
    lm::Ref t(PyTuple_New(n));
    if (!t)
        return nullptr;
    for (int i = 0; i < n; ++i) {
        PyObject *b = (st & (1u << i)) ? Py_True : Py_False;
        Py_INCREF(b);
        PyTuple_SET_ITEM(t.get(), i, b);
    }
    return t.release();
}

static PyObject *mouse_set_visible(PyObject *, PyObject *args)
{
    int v;
    if (!PyArg_ParseTuple(args, "i:set_visible", &v))
        return nullptr;
    LM_VIDEO_OR_RAISE();
    if (SDL_Window *win = lm_GetDefaultWindow()) {
        bool grabbed = SDL_GetWindowGrab(win) == SDL_TRUE;
        SDL_SetRelativeMouseMode((!v && grabbed) ? SDL_TRUE : SDL_FALSE);
        bool fs = (SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
        SDL_SetHint("SDL_WINDOW_FRAME_USABLE_WHILE_CURSOR_HIDDEN", (!v && fs) ? "0" : "1");
    }
    int r = SDL_ShowCursor(v);
    return PyBool_FromLong(r > 0);
}

static PyObject *mouse_get_visible(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    int r = SDL_ShowCursor(SDL_QUERY);
    if (r < 0)
        return lm_RaiseSDLError();
    return PyBool_FromLong(r);
}

static PyObject *mouse_get_focused(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    return PyBool_FromLong(SDL_GetMouseFocus() != nullptr);
}

static PyObject *mouse_set_system_cursor(PyObject *, PyObject *args)
{
    if (PyErr_WarnEx(PyExc_DeprecationWarning,
                     "set_cursor() now has all the functionality of set_system_cursor(), "
                     "so set_system_cursor() will be deprecated in lumora 2.2",
                     1) < 0)
        return nullptr;
    LM_VIDEO_OR_RAISE();
    int id;
    if (!PyArg_ParseTuple(args, "i:set_system_cursor", &id))
        return nullptr;
    return system_cursor(id);
}

static PyObject *bitmap_cursor(int w, int h, int hx, int hy, PyObject *xormask,
                               PyObject *andmask)
{
    if (!PySequence_Check(xormask) || !PySequence_Check(andmask)) {
        PyErr_SetString(PyExc_TypeError, "xormask and andmask must be sequences");
        return nullptr;
    }
    if (w % 8 != 0) {
        PyErr_SetString(PyExc_ValueError, "Cursor width must be divisible by 8.");
        return nullptr;
    }
    // 64-bit: w*h of two ints does not fit 32 bits.
    long long want = (long long)w * (long long)h / 8;
    Py_ssize_t xl = PySequence_Length(xormask);
    if (xl < 0)
        return nullptr;
    Py_ssize_t al = PySequence_Length(andmask);
    if (al < 0)
        return nullptr;
    if (want < 0 || (long long)xl != want || (long long)al != want) {
        PyErr_SetString(PyExc_ValueError, "bitmasks must be sized width*height/8");
        return nullptr;
    }
    lm::MemBuf<Uint8> xd((size_t)want), ad((size_t)want);
    if (want && (!xd || !ad))
        return PyErr_NoMemory();
    for (long long i = 0; i < want; ++i) {
        int xv, av;
        if (!lm_IntFromObjIndex(xormask, (int)i, &xv) ||
            !lm_IntFromObjIndex(andmask, (int)i, &av)) {
            PyErr_SetString(PyExc_TypeError, "Invalid number in mask array");
            return nullptr;
        }
        xd[(size_t)i] = (Uint8)(xv & 0xFF);
        ad[(size_t)i] = (Uint8)(av & 0xFF);
    }
    SDL_Cursor *cur = SDL_CreateCursor(xd.get(), ad.get(), w, h, hx, hy);
    if (!cur)
        return lm_RaiseSDLError();
    install_cursor(cur);
    Py_INCREF(xormask);
    Py_INCREF(andmask);
    Py_XSETREF(cursor_data.xor_mask, xormask);
    Py_XSETREF(cursor_data.and_mask, andmask);
    cursor_data.w = w;
    cursor_data.h = h;
    cursor_data.hot_x = hx;
    cursor_data.hot_y = hy;
    cursor_data.kind = 1;
    Py_RETURN_NONE;
}

static PyObject *color_cursor(int hx, int hy, PyObject *surfobj)
{
    SDL_Surface *s = lmSurface_AsSurface(surfobj);
    if (!s) {
        PyErr_SetString(lmExc_SDLError, "display Surface quit");
        return nullptr;
    }
    SDL_Cursor *cur = SDL_CreateColorCursor(s, hx, hy);
    if (!cur)
        return lm_RaiseSDLError();
    install_cursor(cur);
    Py_INCREF(surfobj);
    Py_XSETREF(cursor_data.color_surface, surfobj);
    cursor_data.hot_x = hx;
    cursor_data.hot_y = hy;
    cursor_data.kind = 2;
    Py_RETURN_NONE;
}

static PyObject *mouse_set_cursor(PyObject *, PyObject *args, PyObject *kw)
{
    LM_VIDEO_OR_RAISE();
    static const char *kwids[] = {"system", "bitmap", "color", nullptr};
    int system = -1;
    int w = 0, h = 0, hx = 0, hy = 0, chx = 0, chy = 0;
    PyObject *xormask = nullptr, *andmask = nullptr, *surfobj = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|(i)((ii)(ii)OO)((ii)O!):_set_cursor",
                                     (char **)kwids, &system, &w, &h, &hx, &hy, &xormask,
                                     &andmask, &chx, &chy, &lmSurface_Type, &surfobj))
        return nullptr;
    if (system >= 0)
        return system_cursor(system);
    if (w && h)
        return bitmap_cursor(w, h, hx, hy, xormask, andmask);
    if (surfobj)
        return color_cursor(chx, chy, surfobj);
    PyErr_SetString(PyExc_ValueError, "Invalid cursor format: no valid template found");
    return nullptr;
}

static PyObject *mouse_get_cursor(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    const lmCursorData &c = cursor_data;
    switch (c.kind) {
    case 0:
        return Py_BuildValue("(i)", c.system_id);
    case 1:
        return Py_BuildValue("(ii)(ii)OO", c.w, c.h, c.hot_x, c.hot_y,
                             c.xor_mask ? c.xor_mask : Py_None,
                             c.and_mask ? c.and_mask : Py_None);
    case 2:
        return Py_BuildValue("(ii)O", c.hot_x, c.hot_y,
                             c.color_surface ? c.color_surface : Py_None);
    default:
        PyErr_SetString(lmExc_SDLError, "Cursor not found");
        return nullptr;
    }
}

#define CF(f) (PyCFunction)(void (*)(void))(f)

static PyMethodDef mouse_methods[] = {
    {"set_pos", mouse_set_pos, METH_VARARGS, "set_pos([x, y]) -> None\nset the mouse cursor position"},
    {"get_pos", mouse_get_pos, METH_NOARGS, "get_pos() -> (x, y)\nget the mouse cursor position"},
    {"get_rel", mouse_get_rel, METH_NOARGS, "get_rel() -> (x, y)\nget the amount of mouse movement"},
    {"get_pressed", CF(mouse_get_pressed), METH_VARARGS | METH_KEYWORDS,
     "get_pressed(num_buttons=3) -> (button1, button2, button3)\n"
     "get_pressed(num_buttons=5) -> (button1, button2, button3, button4, button5)\n"
     "get the state of the mouse buttons"},
    {"set_visible", mouse_set_visible, METH_VARARGS,
     "set_visible(bool) -> bool\nhide or show the mouse cursor"},
    {"get_visible", mouse_get_visible, METH_NOARGS,
     "get_visible() -> bool\nget the current visibility state of the mouse cursor"},
    {"get_focused", mouse_get_focused, METH_NOARGS,
     "get_focused() -> bool\ncheck if the display is receiving mouse input"},
    {"set_system_cursor", mouse_set_system_cursor, METH_VARARGS,
     "set_system_cursor(constant) -> None\nset the mouse cursor to a system variant"},
    {"_set_cursor", CF(mouse_set_cursor), METH_VARARGS | METH_KEYWORDS,
     "Internal API for mouse.set_cursor"},
    {"_get_cursor", mouse_get_cursor, METH_NOARGS, "Internal API for mouse.get_cursor"},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(mouse_module, "mouse", "lumora module to work with the mouse", mouse_methods);

PyMODINIT_FUNC PyInit_mouse(void)
{
    LM_IMPORT(base);
    LM_IMPORT_SURFACE();
    return PyModule_Create2(&mouse_module, 1013);
}
