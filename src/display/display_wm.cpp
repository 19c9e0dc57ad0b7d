// Window management: caption, icon, fullscreen toggle, gamma, palette,
// screensaver and OpenGL attributes.
#include "display_internal.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>

// ---------------------------------------------------------------------------
// Caption and icon
// ---------------------------------------------------------------------------
static PyObject *display_set_caption(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"title", "icontitle", nullptr};
    const char *title, *icontitle = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "s|s", (char **)kwids, &title, &icontitle))
        return nullptr;
    free(g_state.caption_text);
    g_state.caption_text = strdup(title);
    if (!g_state.caption_text)
        return PyErr_NoMemory();
    if (SDL_Window *win = lm_GetDefaultWindow())
        SDL_SetWindowTitle(win, title);
    Py_RETURN_NONE;
}

static PyObject *display_get_caption(PyObject *, PyObject *)
{
    SDL_Window *win = lm_GetDefaultWindow();
    const char *t = win ? SDL_GetWindowTitle(win) : g_state.caption_text;
    if (!t || !*t)
        return PyTuple_New(0);
    lm::Ref s(PyUnicode_FromString(t));
    if (!s)
        return nullptr;
    return PyTuple_Pack(2, s.get(), s.get());
}

void lmd_apply_icon(SDL_Window *win)
{
    if (!g_state.icon_surface) {
        // The package's own icon; any trouble finding or loading it simply
        // leaves the window without one.
        lm::Ref pkg(PyImport_ImportModule("lumora.pkgdata"));
        lm::Ref res(pkg ? PyObject_CallMethod(pkg.get(), "getResource", "s",
                                              "lumora_icon.bmp")
                        : nullptr);
        lm::Ref surf;
        if (res) {
            lm::Ref name(PyObject_GetAttrString(res.get(), "name"));
            if (!name || !PyUnicode_Check(name.get())) {
                PyErr_Clear();
                name.reset();
            }
            lm::Ref image(PyImport_ImportModule("lumora.image"));
            lm::Ref loader(image ? PyObject_GetAttrString(image.get(), "load_basic") : nullptr);
            PyErr_Clear();
            // A file on disk is loaded by path; the file object is closed
            // either way so that nothing is left open.
            if (name) {
                lm::Ref closed(PyObject_CallMethod(res.get(), "close", nullptr));
                PyErr_Clear();
                if (loader)
                    surf.reset(PyObject_CallOneArg(loader.get(), name.get()));
            }
            else {
                if (loader)
                    surf.reset(PyObject_CallOneArg(loader.get(), res.get()));
                PyErr_Clear();
                lm::Ref closed(PyObject_CallMethod(res.get(), "close", nullptr));
            }
        }
        if (surf && lmSurface_Check(surf.get()) == 1 && lmSurface_AsSurface(surf.get())) {
            SDL_SetColorKey(lmSurface_AsSurface(surf.get()), SDL_TRUE, 0);
            g_state.icon_surface = surf.release();
        }
        PyErr_Clear();
    }
    if (g_state.icon_surface && lmSurface_AsSurface(g_state.icon_surface))
        SDL_SetWindowIcon(win, lmSurface_AsSurface(g_state.icon_surface));
}

static PyObject *display_set_icon(PyObject *, PyObject *arg)
{
    int ok = lmSurface_Check(arg);
    if (ok < 0)
        return nullptr;
    if (!ok) {
        PyErr_SetString(PyExc_TypeError, "Argument to set_icon must be a Surface");
        return nullptr;
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        lm::Ref r(display_init(nullptr, nullptr));
        if (!r)
            return nullptr;
    }
    Py_INCREF(arg);
    PyObject *old = g_state.icon_surface;
    g_state.icon_surface = arg;
    Py_XDECREF(old);
    SDL_Window *win = lm_GetDefaultWindow();
    if (win && lmSurface_AsSurface(arg))
        SDL_SetWindowIcon(win, lmSurface_AsSurface(arg));
    Py_RETURN_NONE;
}

static PyObject *display_iconify(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    LMD_WINDOW_OR_RAISE(win);
    SDL_MinimizeWindow(win);
    Py_RETURN_TRUE;
}

static PyObject *display_is_fullscreen(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    LMD_WINDOW_OR_RAISE(win);
    return PyBool_FromLong((SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN) != 0);
}

static PyObject *display_get_renderer_info(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    if (!g_scaled_renderer)
        Py_RETURN_NONE;
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(g_scaled_renderer, &info) != 0)
        return lm_RaiseSDLError();
    return Py_BuildValue("(si)", info.name, (int)info.flags);
}

// ---------------------------------------------------------------------------
// toggle_fullscreen
// ---------------------------------------------------------------------------
// Point the display surface object at `win`'s own surface.
static int point_at_window(SDL_Window *win)
{
    PyObject *so = lm_GetDefaultWindowSurface();
    SDL_Surface *ws = SDL_GetWindowSurface(win);
    if (!ws) {
        lm_RaiseSDLError();
        return -1;
    }
    if (!so)
        return 0;
    lm::Ref keep(so);
    Py_INCREF(so);
    return lmd_repoint(so, ws, 0);
}

// A software renderer on X11 loses its window surface across fullscreen
// changes; make a new renderer and texture for the logical size.
static int recreate_software_renderer(SDL_Window *win, int w, int h)
{
    destroy_scaled();
    g_scaled_renderer = SDL_CreateRenderer(win, -1, SDL_RENDERER_SOFTWARE);
    if (!g_scaled_renderer) {
        lm_RaiseSDLError();
        return -1;
    }
    g_scaled_texture = SDL_CreateTexture(g_scaled_renderer, SDL_PIXELFORMAT_ARGB8888,
                                         SDL_TEXTUREACCESS_STREAMING, w, h);
    if (!g_scaled_texture) {
        lm_RaiseSDLError();
        destroy_scaled();
        return -1;
    }
    return 0;
}

// A new window of the display's size; becomes the default window (the old
// one is destroyed by base) after the surface object points into it.
static SDL_Window *replace_window(int d, int w, int h, Uint32 flags, bool fullscreen)
{
    SDL_Window *nw = SDL_CreateWindow(g_state.caption_text, LMD_UNDEF(d), LMD_UNDEF(d),
                                      w, h, flags);
    if (!nw) {
        lm_RaiseSDLError();
        return nullptr;
    }
    if (fullscreen && SDL_SetWindowFullscreen(nw, SDL_WINDOW_FULLSCREEN) != 0) {
        lm_RaiseSDLError();
        SDL_DestroyWindow(nw);
        return nullptr;
    }
    if (point_at_window(nw) < 0) {
        SDL_DestroyWindow(nw);
        return nullptr;
    }
    lm_SetDefaultWindow(nw);
    return nw;
}

static PyObject *display_toggle_fullscreen(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    lm::DisplayTeardown teardown;
    LMD_WINDOW_OR_RAISE(win);
    DisplayModuleState *st = &g_state;
    Uint32 flags = SDL_GetWindowFlags(win);
    SDL_SysWMinfo wm;
    SDL_zero(wm);
    SDL_VERSION(&wm.version);
    if (!SDL_GetWindowWMInfo(win, &wm))
        return lm_RaiseSDLError();
    if (st->gl_mode && g_scaled_renderer)
        return lmd_raise("OPENGL and SDL_Renderer active at the same time");
    SDL_RendererInfo rinfo;
    SDL_zero(rinfo);
    if (g_scaled_renderer && SDL_GetRendererInfo(g_scaled_renderer, &rinfo) != 0)
        return lm_RaiseSDLError();

    switch (wm.subsystem) {
    case SDL_SYSWM_WINDOWS:
    case SDL_SYSWM_X11:
    case SDL_SYSWM_COCOA:
    case SDL_SYSWM_WAYLAND:
        break;
    case SDL_SYSWM_DIRECTFB:
    case SDL_SYSWM_UIKIT:
    case SDL_SYSWM_ANDROID:
        if (PyErr_WarnEx(PyExc_Warning, "cannot leave FULLSCREEN on this platform", 1) < 0)
            return nullptr;
        return PyLong_FromLong(-1);
    case SDL_SYSWM_WINRT:
        return PyLong_FromLong(-1);
    default:
        return lmd_raise("Unsupported platform");
    }
    const bool x11 = wm.subsystem == SDL_SYSWM_X11;
    const bool software = g_scaled_renderer && (rinfo.flags & SDL_RENDERER_SOFTWARE);

    int ww, wh, wx, wy;
    SDL_GetWindowSize(win, &ww, &wh);
    SDL_GetWindowPosition(win, &wx, &wy);
    int d = SDL_GetWindowDisplayIndex(win);
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(d, &dm) != 0)
        return lm_RaiseSDLError();
    const int dw = dm.w, dh = dm.h;
    int w, h;
    if (st->gl_mode) {
        SDL_GL_GetDrawableSize(win, &w, &h);
    }
    else {
        PyObject *so = lm_GetDefaultWindowSurface();
        SDL_Surface *s = so ? lmSurface_AsSurface(so) : nullptr;
        if (!s)
            return lmd_raise("display Surface quit");
        w = s->w;
        h = s->h;
    }

    if (flags & SDL_WINDOW_FULLSCREEN) {
        // Back to a window.
        if (g_scaled_renderer) {
            if (SDL_SetWindowFullscreen(win, 0) != 0)
                return lm_RaiseSDLError();
            int k = dgeom::integer_factor(ww, wh, w, h);
            SDL_SetWindowSize(win, k * w, k * h);
            if (software && x11 && recreate_software_renderer(win, w, h) < 0)
                return nullptr;
            SDL_RenderSetLogicalSize(g_scaled_renderer, w, h);
            SDL_RenderSetIntegerScale(
                g_scaled_renderer,
                SDL_GetHintBoolean("SDL_HINT_RENDER_SCALE_QUALITY", SDL_FALSE) ? SDL_FALSE
                                                                               : SDL_TRUE);
            SDL_SetWindowMinimumSize(win, w, h);
        }
        else if (st->gl_mode) {
            if (SDL_SetWindowFullscreen(win, 0) != 0)
                return lm_RaiseSDLError();
            SDL_GL_MakeCurrent(win, st->gl_ctx);
            if (st->restore_w > 0 && st->restore_h > 0) {
                if (st->gl_scaled) {
                    dgeom::Box b = dgeom::letterbox(dgeom::ratio(st->restore_w, st->restore_h),
                                                    dgeom::ratio(dw, dh), st->restore_w,
                                                    st->restore_h);
                    lmd_gl_viewport(b.x, b.y, b.w, b.h);
                }
                else {
                    lmd_gl_viewport(0, 0, st->restore_w, st->restore_h);
                }
            }
        }
        else if ((flags & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN && x11) {
            if (PyErr_WarnEx(PyExc_Warning, "re-creating window in toggle_fullscreen", 1) < 0)
                return nullptr;
            flags &= ~(Uint32)SDL_WINDOW_FULLSCREEN_DESKTOP;
            win = replace_window(d, w, h, flags, false);
            if (!win)
                return nullptr;
        }
        else {
            if (SDL_SetWindowFullscreen(win, 0) != 0)
                return lm_RaiseSDLError();
            if (point_at_window(win) < 0)
                return nullptr;
        }
        st->restore_w = st->restore_h = 0;
        int x = st->restore_x == LMD_UNDEF(d) ? LMD_CENTRE(d) : st->restore_x;
        int y = st->restore_y == LMD_UNDEF(d) ? LMD_CENTRE(d) : st->restore_y;
        SDL_SetWindowResizable(win, (flags & SDL_WINDOW_RESIZABLE) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowBordered(win, (flags & SDL_WINDOW_BORDERLESS) ? SDL_FALSE : SDL_TRUE);
        SDL_SetWindowPosition(win, x, y);
        return PyLong_FromLong(0);
    }

    // To fullscreen.
    st->restore_x = wx;
    st->restore_y = wy;
    st->restore_w = w;
    st->restore_h = h;
    if (g_scaled_renderer) {
        if (SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
            return lm_RaiseSDLError();
        if (software && x11) {
            if (PyErr_WarnEx(PyExc_Warning, "recreating software renderer in toggle_fullscreen",
                             1) < 0)
                return nullptr;
            if (recreate_software_renderer(win, w, h) < 0)
                return nullptr;
        }
        SDL_RenderSetLogicalSize(g_scaled_renderer, w, h);
        SDL_RenderSetIntegerScale(g_scaled_renderer, SDL_FALSE);
        return PyLong_FromLong(0);
    }
    if (st->gl_mode) {
        if (SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
            return lm_RaiseSDLError();
        SDL_GL_MakeCurrent(win, st->gl_ctx);
        if (st->gl_scaled) {
            dgeom::Box b = dgeom::letterbox(dgeom::ratio(st->gl_logical_w, st->gl_logical_h),
                                            dgeom::ratio(dw, dh), dw, dh);
            lmd_gl_viewport(b.x, b.y, b.w, b.h);
        }
        else {
            lmd_gl_viewport(0, 0, dw, dh);
        }
        return PyLong_FromLong(0);
    }
    if (w == dw && h == dh) {
        if (SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
            return lm_RaiseSDLError();
        if (point_at_window(win) < 0)
            return nullptr;
        return PyLong_FromLong(0);
    }
    if (wm.subsystem == SDL_SYSWM_WAYLAND) {
        if (PyErr_WarnEx(PyExc_Warning, "skipping toggle_fullscreen on wayland", 1) < 0)
            return nullptr;
        return PyLong_FromLong(-1);
    }
    if (SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN) != 0)
        return lm_RaiseSDLError();
    if (point_at_window(win) < 0)
        return nullptr;
    SDL_Surface *ws = SDL_GetWindowSurface(win);
    if (ws && ws->w == w && ws->h == h)
        return PyLong_FromLong(0);
    if (!replace_window(d, w, h, flags, true))
        return nullptr;
    if (PyErr_WarnEx(PyExc_Warning, "re-creating window in toggle_fullscreen", 1) < 0)
        return nullptr;
    return PyLong_FromLong(-1);
}

// ---------------------------------------------------------------------------
// Gamma
// ---------------------------------------------------------------------------
// Applies (or keeps for the next set_mode) a freshly made 3 x 256 table,
// taking ownership of it.
static PyObject *store_gamma(Uint16 *table)
{
    SDL_Window *win = lm_GetDefaultWindow();
    if (win && SDL_SetWindowGammaRamp(win, table, table + 256, table + 512) != 0) {
        free(table);
        Py_RETURN_FALSE;
    }
    free(g_state.gamma_table);
    g_state.gamma_table = table;
    Py_RETURN_TRUE;
}

static PyObject *display_set_gamma(PyObject *, PyObject *args)
{
    if (PyErr_WarnEx(PyExc_DeprecationWarning,
                     "lumora.display.set_gamma deprecated since 2.2.0", 1) < 0)
        return nullptr;
    float r, g = 0.0f, b = 0.0f;
    if (!PyArg_ParseTuple(args, "f|ff:set_gamma", &r, &g, &b))
        return nullptr;
    if (PyTuple_GET_SIZE(args) == 1)
        g = b = r;
    LM_VIDEO_OR_RAISE();
    // SDL leaves the ramp unwritten for a negative gamma and computes
    // garbage for NaN.
    for (float v : {r, g, b}) {
        if (!std::isfinite(v) || v < 0.0f) {
            PyErr_SetString(PyExc_ValueError, "gamma must be a finite number of at least 0");
            return nullptr;
        }
    }
    Uint16 *table = static_cast<Uint16 *>(calloc(3 * 256, sizeof(Uint16)));
    if (!table)
        return PyErr_NoMemory();
    SDL_CalculateGammaRamp(r, table);
    SDL_CalculateGammaRamp(g, table + 256);
    SDL_CalculateGammaRamp(b, table + 512);
    return store_gamma(table);
}

static int ramp_conv(PyObject *o, void *out)
{
    Uint16 *ramp = static_cast<Uint16 *>(out);
    if (!PySequence_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "Array must be sequence type");
        return 0;
    }
    Py_ssize_t n = PySequence_Length(o);
    if (n < 0)
        return 0;
    if (n != 256) {
        PyErr_SetString(PyExc_ValueError, "gamma ramp must be 256 elements long");
        return 0;
    }
    for (Py_ssize_t i = 0; i < 256; ++i) {
        lm::Ref item(PySequence_GetItem(o, i));
        if (!item)
            return 0;
        if (!PyLong_Check(item.get())) {
            PyErr_SetString(PyExc_ValueError, "gamma ramp must contain integer elements");
            return 0;
        }
        unsigned long v = PyLong_AsUnsignedLong(item.get());
        if (PyErr_Occurred())
            return 0;
        if (v > 0xFFFE) {
            PyErr_SetString(PyExc_ValueError,
                            "integers in gamma ramp must be between 0 and 0xFFFF");
            return 0;
        }
        ramp[i] = (Uint16)v;
    }
    return 1;
}

static PyObject *display_set_gamma_ramp(PyObject *, PyObject *args)
{
    if (PyErr_WarnEx(PyExc_DeprecationWarning,
                     "lumora.display.set_gamma_ramp deprecated since 2.2.0", 1) < 0)
        return nullptr;
    Uint16 *table = static_cast<Uint16 *>(calloc(3 * 256, sizeof(Uint16)));
    if (!table)
        return PyErr_NoMemory();
    if (!PyArg_ParseTuple(args, "O&O&O&:set_gamma_ramp", ramp_conv, table, ramp_conv,
                          table + 256, ramp_conv, table + 512)) {
        free(table);
        return nullptr;
    }
    if (!lm_VideoInitOrRaise()) {
        free(table);
        return nullptr;
    }
    return store_gamma(table);
}

// ---------------------------------------------------------------------------
// Palette, screensaver, OpenGL attributes
// ---------------------------------------------------------------------------
static PyObject *display_set_palette(PyObject *, PyObject *args, PyObject *kw)
{
    LM_VIDEO_OR_RAISE();
    static const char *kwids[] = {"palette", nullptr};
    PyObject *pal = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|O", (char **)kwids, &pal))
        return nullptr;
    PyObject *so = lm_GetDefaultWindowSurface();
    if (!so)
        return lmd_raise("No display mode is set");
    lm::Ref keep(so);
    Py_INCREF(so);
    SDL_Surface *s = lmSurface_AsSurface(so);
    if (!s)
        return lmd_raise("display Surface quit");
    if (s->format->BytesPerPixel != 1 || !s->format->palette)
        return lmd_raise("Display mode is not colormapped");
    if (!pal || pal == Py_None)
        Py_RETURN_NONE;
    if (!PySequence_Check(pal)) {
        PyErr_SetString(PyExc_ValueError, "Argument must be a sequence type");
        return nullptr;
    }
    Py_ssize_t len = PySequence_Length(pal);
    if (len < 0)
        return nullptr;
    Py_ssize_t n = s->format->palette->ncolors;
    if (len < n)
        n = len;
    lm::MemBuf<SDL_Color> colors((size_t)n);
    if (n && !colors)
        return PyErr_NoMemory();
    for (Py_ssize_t i = 0; i < n; ++i) {
        lm::Ref item(PySequence_GetItem(pal, i));
        if (!item)
            return nullptr;
        Uint8 rgba[4];
        if (!lmColor_ParseArg(item.get(), rgba))
            return nullptr;
        colors[(size_t)i] = SDL_Color{rgba[0], rgba[1], rgba[2], 255};
    }
    // Colour parsing may have run Python code: the display may be gone.
    s = lmSurface_AsSurface(so);
    if (!s || !s->format->palette)
        return lmd_raise("display Surface quit");
    SDL_Palette *p = SDL_AllocPalette((int)n);
    if (!p)
        return lm_RaiseSDLError();
    int rc = SDL_SetPaletteColors(p, colors.get(), 0, (int)n);
    if (rc == 0)
        rc = SDL_SetSurfacePalette(s, p);
    SDL_FreePalette(p);
    if (rc != 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

static PyObject *display_get_allow_screensaver(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    return PyBool_FromLong(SDL_IsScreenSaverEnabled() == SDL_TRUE);
}

static PyObject *display_set_allow_screensaver(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"value", nullptr};
    int value = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|p", (char **)kwids, &value))
        return nullptr;
    LM_VIDEO_OR_RAISE();
    if (value)
        SDL_EnableScreenSaver();
    else
        SDL_DisableScreenSaver();
    Py_RETURN_NONE;
}

static PyObject *display_gl_get_attribute(PyObject *, PyObject *args, PyObject *kw)
{
    LM_VIDEO_OR_RAISE();
    static const char *kwids[] = {"flag", nullptr};
    int flag;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "i", (char **)kwids, &flag))
        return nullptr;
    int v = 0;
    if (SDL_GL_GetAttribute((SDL_GLattr)flag, &v) == -1)
        return lm_RaiseSDLError();
    return PyLong_FromLong(v);
}

static PyObject *display_gl_set_attribute(PyObject *, PyObject *args, PyObject *kw)
{
    LM_VIDEO_OR_RAISE();
    static const char *kwids[] = {"flag", "value", nullptr};
    int flag, value;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "ii", (char **)kwids, &flag, &value))
        return nullptr;
    if (flag == -1)
        Py_RETURN_NONE;
    if (SDL_GL_SetAttribute((SDL_GLattr)flag, value) == -1)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

#define KW (METH_VARARGS | METH_KEYWORDS)
#define CF(f) (PyCFunction)(void (*)(void))(f)

PyMethodDef lmd_wm_methods[] = {
    {"set_caption", CF(display_set_caption), KW,
     "set_caption(title, icontitle=None) -> None\nSet the current window caption"},
    {"get_caption", display_get_caption, METH_NOARGS,
     "get_caption() -> (title, icontitle)\nGet the current window caption"},
    {"set_icon", display_set_icon, METH_O,
     "set_icon(Surface) -> None\nChange the system image for the display window"},
    {"iconify", display_iconify, METH_NOARGS, "iconify() -> bool\nIconify the display surface"},
    {"toggle_fullscreen", display_toggle_fullscreen, METH_NOARGS,
     "toggle_fullscreen() -> int\nSwitch between fullscreen and windowed displays"},
    {"is_fullscreen", display_is_fullscreen, METH_NOARGS, "provisional API, subject to change"},
    {"_get_renderer_info", display_get_renderer_info, METH_NOARGS,
     "provisional API, subject to change"},
    {"set_gamma", display_set_gamma, METH_VARARGS,
     "set_gamma(red, green=None, blue=None) -> bool\nChange the hardware gamma ramps"},
    {"set_gamma_ramp", display_set_gamma_ramp, METH_VARARGS,
     "set_gamma_ramp(red, green, blue) -> bool\n"
     "Change the hardware gamma ramps with a custom lookup"},
    {"set_palette", CF(display_set_palette), KW,
     "set_palette(palette=None) -> None\nSet the display color palette for indexed displays"},
    {"get_allow_screensaver", display_get_allow_screensaver, METH_NOARGS,
     "get_allow_screensaver() -> bool\nReturn whether the screensaver is allowed to run."},
    {"set_allow_screensaver", CF(display_set_allow_screensaver), KW,
     "set_allow_screensaver(bool) -> None\nSet whether the screensaver may run"},
    {"gl_get_attribute", CF(display_gl_get_attribute), KW,
     "gl_get_attribute(flag) -> value\nGet the value for an OpenGL flag for the current display"},
    {"gl_set_attribute", CF(display_gl_set_attribute), KW,
     "gl_set_attribute(flag, value) -> None\n"
     "Request an OpenGL display attribute for the display mode"},
    {nullptr, nullptr, 0, nullptr},
};
