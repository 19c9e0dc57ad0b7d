// lumora.display: module frame, lifecycle, video information and display
// queries.  set_mode and presentation live in display_mode.cpp, window
// management in display_wm.cpp.
#include "display_internal.h"

#include <cstdio>
#include <cstdlib>

DisplayModuleState g_state;
SDL_Renderer *g_scaled_renderer = nullptr;
SDL_Texture *g_scaled_texture = nullptr;

void release_display_state(DisplayModuleState *st)
{
    free(st->caption_text);
    st->caption_text = nullptr;
    Py_CLEAR(st->icon_surface);
    if (st->gl_ctx) {
        SDL_GL_DeleteContext(st->gl_ctx);
        st->gl_ctx = nullptr;
    }
    free(st->gamma_table);
    st->gamma_table = nullptr;
}

void destroy_scaled(void)
{
    // The texture belongs to the renderer: it goes first.
    if (g_scaled_texture) {
        SDL_DestroyTexture(g_scaled_texture);
        g_scaled_texture = nullptr;
    }
    if (g_scaled_renderer) {
        SDL_DestroyRenderer(g_scaled_renderer);
        g_scaled_renderer = nullptr;
    }
}

int lmd_repoint(PyObject *surfobj, SDL_Surface *surf, int owner)
{
    lmSurfaceObject *so = (lmSurfaceObject *)surfobj;
    if (so->surf == surf && so->owner == owner)
        return 0;
    if (so->surf == surf) {
        // Same pixels, other ownership: only the flag changes.
        so->owner = owner;
        return 0;
    }
    return lmSurface_SetSurface(surfobj, surf, owner) < 0 ? -1 : 0;
}

int lmd_flags_conv(PyObject *o, void *out)
{
    if (!PyLong_Check(o) && !PyIndex_Check(o)) {
        PyErr_Format(PyExc_TypeError, "flags must be an integer, not %.200s",
                     Py_TYPE(o)->tp_name);
        return 0;
    }
    lm::Ref idx(PyNumber_Index(o));
    if (!idx)
        return 0;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(idx.get(), &overflow);
    if (v == -1 && PyErr_Occurred())
        return 0;
    if (overflow || v < INT32_MIN || v > (long long)UINT32_MAX) {
        PyErr_SetString(PyExc_OverflowError,
                        "flags must fit in 32 bits");
        return 0;
    }
    *(Uint32 *)out = (Uint32)(v & 0xFFFFFFFFll);
    return 1;
}

// ---------------------------------------------------------------------------
// Exported helpers
// ---------------------------------------------------------------------------
LM_EXPORT int _get_display(SDL_Window *win)
{
    if (win)
        return SDL_GetWindowDisplayIndex(win);
    const char *env = SDL_getenv("LUMORA_DISPLAY");
    if (env)
        return SDL_atoi(env);
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return 0;
    int mx = 0, my = 0;
    SDL_GetGlobalMouseState(&mx, &my);
    int n = SDL_GetNumVideoDisplays();
    for (int i = 0; i < n; ++i) {
        SDL_Rect b;
        if (SDL_GetDisplayBounds(i, &b) != 0)
            continue;
        if (mx >= b.x && (long long)mx < (long long)b.x + b.w && my >= b.y &&
            (long long)my < (long long)b.y + b.h)
            return i;
    }
    return 0;
}

LM_EXPORT int _get_video_window_pos(int *x, int *y, int *center)
{
    const char *pos = SDL_getenv("SDL_VIDEO_WINDOW_POS");
    if (pos) {
        int px, py;
        if (SDL_sscanf(pos, "%d,%d", &px, &py) == 2) {
            *x = px;
            *y = py;
            *center = 0;
            return 1;
        }
        if (SDL_strcmp(pos, "center") == 0) {
            *center = 1;
            return 2;
        }
    }
    if (SDL_getenv("SDL_VIDEO_CENTERED")) {
        *center = 1;
        return 2;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------
PyObject *display_init(PyObject *, PyObject *)
{
    // An old spelling of the Windows driver; the empty value is left alone
    // (it would otherwise become a driver that does not exist here).
    const char *drv = SDL_getenv("SDL_VIDEODRIVER");
    if (drv && drv[0] && SDL_strncasecmp("windib", drv, SDL_strlen(drv)) == 0)
        SDL_setenv("SDL_VIDEODRIVER", "windows", 1);
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
            return lm_RaiseSDLError();
    }
    if (!lm_mod_autoinit("lumora.time"))
        return nullptr;
    if (!lm_mod_autoinit("lumora.event"))
        return nullptr;
    Py_RETURN_NONE;
}

static PyObject *display_quit(PyObject *, PyObject *)
{
    // Other threads' flips and waits finish before anything is freed.
    lm::DisplayTeardown teardown;
    release_display_state(&g_state);
    lmd_del_watch();
    destroy_scaled();
    g_state.gl_mode = g_state.gl_scaled = 0;
    g_state.restore_w = g_state.restore_h = 0;
    PyObject *surf = lm_GetDefaultWindowSurface();
    if (surf) {
        // Hold it: clearing the default drops base's reference.
        lm::Ref keep(surf);
        Py_INCREF(surf);
        // The slot is shared: only a real surface object has a pointer to
        // drop.
        if (PyObject_TypeCheck(surf, &lmSurface_Type) &&
            lmSurface_AsSurface(surf) &&
            lmSurface_SetSurface(surf, nullptr, 0) < 0)
            PyErr_Clear();
        lm_SetDefaultWindowSurface(nullptr);
    }
    lm_SetDefaultWindow(nullptr);
    lm_mod_autoquit("lumora.event");
    lm_mod_autoquit("lumora.time");
    if (SDL_WasInit(SDL_INIT_VIDEO))
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    Py_RETURN_NONE;
}

static PyObject *display_get_init(PyObject *, PyObject *)
{
    return PyBool_FromLong(SDL_WasInit(SDL_INIT_VIDEO) != 0);
}

static PyObject *display_get_active(PyObject *, PyObject *)
{
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win)
        Py_RETURN_FALSE;
    Uint32 f = SDL_GetWindowFlags(win);
    return PyBool_FromLong((f & (SDL_WINDOW_SHOWN | SDL_WINDOW_MINIMIZED)) ==
                           SDL_WINDOW_SHOWN);
}

static PyObject *display_get_driver(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    const char *name = SDL_GetCurrentVideoDriver();
    if (!name)
        Py_RETURN_NONE;
    return PyUnicode_FromString(name);
}

// One word of the window-system union as a capsule, or None when empty.
static int set_word_capsule(PyObject *dict, const char *key, void *word)
{
    lm::Ref v;
    if (word)
        v.reset(PyCapsule_New(word, key, nullptr));
    else {
        Py_INCREF(Py_None);
        v.reset(Py_None);
    }
    if (!v)
        return -1;
    return PyDict_SetItemString(dict, key, v.get());
}

static PyObject *display_get_wm_info(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    lm::Ref dict(PyDict_New());
    if (!dict)
        return nullptr;
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win)
        return dict.release();
    SDL_SysWMinfo info;
    SDL_zero(info);
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(win, &info))
        return dict.release();
    void *words[3];
    static_assert(sizeof words <= sizeof info.info, "union too small");
    memcpy(words, &info.info, sizeof words);
    lm::Ref window(PyLong_FromUnsignedLongLong((unsigned long long)(uintptr_t)words[1]));
    if (!window || PyDict_SetItemString(dict.get(), "window", window.get()) < 0)
        return nullptr;
    if (set_word_capsule(dict.get(), "display", words[0]) < 0 ||
        set_word_capsule(dict.get(), "surface", words[1]) < 0 ||
        set_word_capsule(dict.get(), "shell_surface", words[2]) < 0)
        return nullptr;
    return dict.release();
}

// ---------------------------------------------------------------------------
// VidInfo
// ---------------------------------------------------------------------------
struct VidInfoRecord {
    Uint8 caps;   // hw, wm, blit_hw, blit_hw_CC, blit_hw_A, blit_sw, ...
    Uint8 caps2;  // blit_fill
    Uint32 video_mem;
    SDL_PixelFormat *vfmt;
    SDL_PixelFormat vfmt_data;
    int current_w, current_h;
};

struct VidInfoObject {
    PyObject_HEAD
    VidInfoRecord info;
};

static PyObject *vidinfo_getattr(PyObject *self, char *name)
{
    const VidInfoRecord &v = ((VidInfoObject *)self)->info;
    static const char *const capnames[] = {
        "hw", "wm", "blit_hw", "blit_hw_CC", "blit_hw_A",
        "blit_sw", "blit_sw_CC", "blit_sw_A",
    };
    for (int i = 0; i < 8; ++i)
        if (!strcmp(name, capnames[i]))
            return PyLong_FromLong((v.caps >> i) & 1);
    if (!strcmp(name, "blit_fill"))
        return PyLong_FromLong(v.caps2 & 1);
    if (!strcmp(name, "video_mem"))
        return PyLong_FromUnsignedLong(v.video_mem);
    const SDL_PixelFormat *f = v.vfmt;
    if (!strcmp(name, "bitsize"))
        return PyLong_FromLong(f->BitsPerPixel);
    if (!strcmp(name, "bytesize"))
        return PyLong_FromLong(f->BytesPerPixel);
    if (!strcmp(name, "masks"))
        return Py_BuildValue("(kkkk)", (unsigned long)f->Rmask, (unsigned long)f->Gmask,
                             (unsigned long)f->Bmask, (unsigned long)f->Amask);
    if (!strcmp(name, "shifts"))
        return Py_BuildValue("(iiii)", f->Rshift, f->Gshift, f->Bshift, f->Ashift);
    if (!strcmp(name, "losses"))
        return Py_BuildValue("(iiii)", f->Rloss, f->Gloss, f->Bloss, f->Aloss);
    if (!strcmp(name, "current_w"))
        return PyLong_FromLong(v.current_w);
    if (!strcmp(name, "current_h"))
        return PyLong_FromLong(v.current_h);
    // Keep the object usable by introspection (__class__, __doc__, ...).
    if (name[0] == '_' && name[1] == '_') {
        lm::Ref n(PyUnicode_FromString(name));
        return n ? PyObject_GenericGetAttr(self, n.get()) : nullptr;
    }
    PyErr_SetString(PyExc_AttributeError, "does not exist in vidinfo");
    return nullptr;
}

LM_EXPORT PyObject *lm_vidinfo_str(PyObject *self)
{
    const VidInfoRecord &v = ((VidInfoObject *)self)->info;
    const SDL_PixelFormat *f = v.vfmt;
    char buf[1024];
    snprintf(buf, sizeof buf,
             "<VideoInfo(hw = %u, wm = %u,video_mem = %u\n"
             "         blit_hw = %u, blit_hw_CC = %u, blit_hw_A = %u,\n"
             "         blit_sw = %u, blit_sw_CC = %u, blit_sw_A = %u,\n"
             "         bitsize  = %u, bytesize = %u,\n"
             "         masks =  (0x%08x, 0x%08x, 0x%08x, 0x%08x),\n"
             "         shifts = (%u, %u, %u, %u),\n"
             "         losses =  (%u, %u, %u, %u),\n"
             "         current_w = %d, current_h = %d\n"
             "         pixel_format = %s)\n>",
             v.caps & 1u, (v.caps >> 1) & 1u, (unsigned)v.video_mem,
             (v.caps >> 2) & 1u, (v.caps >> 3) & 1u, (v.caps >> 4) & 1u,
             (v.caps >> 5) & 1u, (v.caps >> 6) & 1u, (v.caps >> 7) & 1u,
             (unsigned)f->BitsPerPixel, (unsigned)f->BytesPerPixel,
             (unsigned)f->Rmask, (unsigned)f->Gmask, (unsigned)f->Bmask,
             (unsigned)f->Amask, (unsigned)f->Rshift, (unsigned)f->Gshift,
             (unsigned)f->Bshift, (unsigned)f->Ashift, (unsigned)f->Rloss,
             (unsigned)f->Gloss, (unsigned)f->Bloss, (unsigned)f->Aloss,
             v.current_w, v.current_h, SDL_GetPixelFormatName(f->format));
    return PyUnicode_FromString(buf);
}

static void vidinfo_dealloc(PyObject *self)
{
    PyObject_Free(self);
}

static PyTypeObject VidInfo_Type = lm_blank_type();

static void copy_format(SDL_PixelFormat *dst, const SDL_PixelFormat *src)
{
    *dst = *src;
    // The copy is a plain record: it owns no palette and joins no list.
    dst->palette = nullptr;
    dst->next = nullptr;
    dst->refcount = 0;
}

static PyObject *display_Info(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    VidInfoRecord rec;
    memset(&rec, 0, sizeof rec);
    rec.caps = 2;
    PyObject *surfobj = lm_GetDefaultWindowSurface();
    SDL_Surface *s = surfobj ? lmSurface_AsSurface(surfobj) : nullptr;
    if (s) {
        copy_format(&rec.vfmt_data, s->format);
        rec.current_w = s->w;
        rec.current_h = s->h;
    }
    else {
        SDL_DisplayMode mode;
        Uint32 format = 0;
        if (SDL_GetCurrentDisplayMode(0, &mode) == 0) {
            format = mode.format;
            rec.current_w = mode.w;
            rec.current_h = mode.h;
        }
        else {
            rec.current_w = rec.current_h = -1;
        }
        SDL_PixelFormat *pf = SDL_AllocFormat(format);
        if (!pf)
            return lm_RaiseSDLError();
        copy_format(&rec.vfmt_data, pf);
        SDL_FreeFormat(pf);
    }
    VidInfoObject *obj = PyObject_New(VidInfoObject, &VidInfo_Type);
    if (!obj)
        return nullptr;
    obj->info = rec;
    obj->info.vfmt = &obj->info.vfmt_data;
    return (PyObject *)obj;
}

// ---------------------------------------------------------------------------
// Displays and modes
// ---------------------------------------------------------------------------
static PyObject *display_get_num_displays(PyObject *, PyObject *)
{
    int n = SDL_GetNumVideoDisplays();
    if (n < 0)
        return lm_RaiseSDLError();
    return PyLong_FromLong(n);
}

static PyObject *display_get_desktop_sizes(PyObject *, PyObject *)
{
    LM_VIDEO_OR_RAISE();
    int n = SDL_GetNumVideoDisplays();
    if (n < 0)
        return lm_RaiseSDLError();
    lm::Ref list(PyList_New(0));
    if (!list)
        return nullptr;
    for (int i = 0; i < n; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDesktopDisplayMode(i, &m) != 0)
            return lm_RaiseSDLError();
        lm::Ref t(Py_BuildValue("(ii)", m.w, m.h));
        if (!t || PyList_Append(list.get(), t.get()) < 0)
            return nullptr;
    }
    return list.release();
}

static int check_display_index(int display)
{
    if (display < 0 || display >= SDL_GetNumVideoDisplays()) {
        PyErr_SetString(PyExc_ValueError,
                        "The display index must be between 0 and the number of displays.");
        return -1;
    }
    return 0;
}

static PyObject *display_list_modes(PyObject *, PyObject *args, PyObject *kw)
{
    LM_VIDEO_OR_RAISE();
    static const char *kwids[] = {"depth", "flags", "display", nullptr};
    unsigned char bdepth = 0;
    Uint32 flags = LMD_FULLSCREEN;
    int display = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|bO&i", (char **)kwids, &bdepth,
                                     lmd_flags_conv, &flags, &display))
        return nullptr;
    (void)flags;
    if (check_display_index(display) < 0)
        return nullptr;
    int depth = bdepth;
    if (depth == 0) {
        SDL_DisplayMode cur;
        if (SDL_GetCurrentDisplayMode(display, &cur) != 0)
            return lm_RaiseSDLError();
        depth = SDL_BITSPERPIXEL(cur.format);
    }
    int n = SDL_GetNumDisplayModes(display);
    if (n < 0)
        return lm_RaiseSDLError();
    lm::Ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int last_w = -1, last_h = -1;
    for (int i = 0; i < n; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(display, i, &m) != 0)
            return lm_RaiseSDLError();
        int bpp = m.format ? (int)SDL_BITSPERPIXEL(m.format) : 24;
        int w = m.w ? m.w : 640;
        int h = m.h ? m.h : 480;
        if (bpp != depth || (w == last_w && h == last_h))
            continue;
        lm::Ref t(Py_BuildValue("(ii)", w, h));
        if (!t || PyList_Append(list.get(), t.get()) < 0)
            return nullptr;
        last_w = w;
        last_h = h;
    }
    return list.release();
}

static PyObject *display_mode_ok(PyObject *, PyObject *args, PyObject *kw)
{
    LM_VIDEO_OR_RAISE();
    static const char *kwids[] = {"size", "flags", "depth", "display", nullptr};
    int w, h, depth = 0, display = 0;
    Uint32 flags = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "(ii)|O&ii", (char **)kwids, &w, &h,
                                     lmd_flags_conv, &flags, &depth, &display))
        return nullptr;
    if (check_display_index(display) < 0)
        return nullptr;
    Uint32 format;
    switch (depth) {
    case 0: format = SDL_PIXELFORMAT_UNKNOWN; break;
    case 8: format = SDL_MasksToPixelFormatEnum(8, 0, 0, 0, 0); break;
    case 12: format = SDL_MasksToPixelFormatEnum(12, 0x0F00, 0x00F0, 0x000F, 0); break;
    case 15: format = SDL_MasksToPixelFormatEnum(15, 0x7C00, 0x03E0, 0x001F, 0); break;
    case 16: format = SDL_MasksToPixelFormatEnum(16, 0xF800, 0x07E0, 0x001F, 0); break;
    case 24: format = SDL_MasksToPixelFormatEnum(24, 0xFF0000, 0x00FF00, 0x0000FF, 0); break;
    case 32: format = SDL_MasksToPixelFormatEnum(32, 0xFF0000, 0x00FF00, 0x0000FF, 0); break;
    default:
        // A nonstandard depth fits no mode; report it as "no depth".
        return PyLong_FromLong(0);
    }
    SDL_DisplayMode want, got;
    SDL_zero(want);
    want.format = format;
    want.w = w;
    want.h = h;
    bool fullscreen = (flags & LMD_FULLSCREEN) != 0;
    if (SDL_GetClosestDisplayMode(display, &want, &got)) {
        if (fullscreen && (got.w != w || got.h != h))
            return PyLong_FromLong(0);
        return PyLong_FromLong(SDL_BITSPERPIXEL(got.format));
    }
    SDL_ClearError();
    return PyLong_FromLong(fullscreen ? 0 : (long)SDL_BITSPERPIXEL(format));
}

static PyObject *display_get_window_size(PyObject *, PyObject *)
{
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win)
        return lmd_raise("No open window");
    int w, h;
    SDL_GetWindowSize(win, &w, &h);
    return Py_BuildValue("(ii)", w, h);
}

// ---------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------
static PyMethodDef lmd_methods[] = {
    {"init", display_init, METH_NOARGS, "init()\nInitialize the display module"},
    {"quit", display_quit, METH_NOARGS, "quit()\nUninitialize the display module"},
    {"get_init", display_get_init, METH_NOARGS,
     "get_init()\nReturns True if the display module has been initialized"},
    {"get_active", display_get_active, METH_NOARGS,
     "get_active()\nReturns True when the display is active on the screen"},
    {"get_driver", display_get_driver, METH_NOARGS,
     "get_driver()\nGet the name of the lumora display backend"},
    {"get_wm_info", display_get_wm_info, METH_NOARGS,
     "get_wm_info()\nGet information about the current windowing system"},
    {"Info", display_Info, METH_NOARGS,
     "Info() -> VideoInfo\nCreate a video display information object"},
    {"get_num_displays", display_get_num_displays, METH_NOARGS,
     "get_num_displays()\nReturn the number of displays"},
    {"get_desktop_sizes", display_get_desktop_sizes, METH_NOARGS,
     "get_desktop_sizes()\nGet sizes of active desktops"},
    {"list_modes", (PyCFunction)(void (*)(void))display_list_modes,
     METH_VARARGS | METH_KEYWORDS,
     "list_modes(depth=0, flags=lumora.FULLSCREEN, display=0)\n"
     "Get list of available fullscreen modes"},
    {"mode_ok", (PyCFunction)(void (*)(void))display_mode_ok, METH_VARARGS | METH_KEYWORDS,
     "mode_ok(size, flags=0, depth=0, display=0)\n"
     "Pick the best color depth for a display mode"},
    {"get_window_size", display_get_window_size, METH_NOARGS,
     "get_window_size()\nReturn the size of the window or screen"},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(lmd_module, "display",
                     "lumora module to control the display window and screen",
                     lmd_methods);

PyMODINIT_FUNC PyInit_display(void)
{
    LM_IMPORT(base);
    LM_IMPORT(rect);
    LM_IMPORT_SURFACE();
    LM_IMPORT(color);

    VidInfo_Type.tp_name = "lumora.display.VidInfo";
    VidInfo_Type.tp_basicsize = sizeof(VidInfoObject);
    VidInfo_Type.tp_dealloc = vidinfo_dealloc;
    VidInfo_Type.tp_getattr = vidinfo_getattr;
    VidInfo_Type.tp_repr = lm_vidinfo_str;
    VidInfo_Type.tp_flags = Py_TPFLAGS_DEFAULT;
    VidInfo_Type.tp_doc = "video display information";
    if (PyType_Ready(&VidInfo_Type) < 0)
        return nullptr;

    PyObject *mod = PyModule_Create2(&lmd_module, 1013);
    if (!mod)
        return nullptr;
    if (PyModule_AddFunctions(mod, lmd_mode_methods) < 0 ||
        PyModule_AddFunctions(mod, lmd_wm_methods) < 0 ||
        lm_add_type(mod, "VidInfo", &VidInfo_Type) < 0) {
        Py_DECREF(mod);
        return nullptr;
    }
    memset(&g_state, 0, sizeof g_state);
    g_state.autoresize_on = 1;
    return mod;
}
