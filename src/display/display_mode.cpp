// set_mode, the display surface, flip/update and the resize handling.
#include "display_internal.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// An SDL surface that is freed unless handed over.
struct OwnedSurface {
    SDL_Surface *s = nullptr;
    bool owned = false;
    ~OwnedSurface()
    {
        if (owned && s)
            SDL_FreeSurface(s);
    }
    SDL_Surface *release()
    {
        owned = false;
        return s;
    }
};

SDL_bool scale_quality_hint(void)
{
    // Opting into smooth (non-integer) scaling of SCALED displays.
    return SDL_GetHintBoolean("SDL_HINT_RENDER_SCALE_QUALITY", SDL_FALSE);
}

// The viewport rule for a resized OpenGL window.
void gl_resize_viewport(const DisplayModuleState *st, int nw, int nh)
{
    if (st->gl_scaled) {
        double a = dgeom::ratio(st->gl_logical_w, st->gl_logical_h);
        dgeom::Box b = dgeom::letterbox(a, dgeom::ratio(nw, nh), nw, nh);
        lmd_gl_viewport(b.x, b.y, b.w, b.h);
    }
    else {
        lmd_gl_viewport(0, 0, nw, nh);
    }
}

// Runs inside SDL's event pumping, possibly with the interpreter lock
// released by the pumping thread: only SDL objects, the state block and
// the surface object's pointer field are touched, no reference counts.
int SDLCALL window_event_watch(void *userdata, SDL_Event *ev)
{
    if (ev->type != SDL_WINDOWEVENT)
        return 0;
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win || SDL_GetWindowFromID(ev->window.windowID) != win)
        return 0;
    DisplayModuleState *st = static_cast<DisplayModuleState *>(userdata);
    Uint8 what = ev->window.event;
    if (g_scaled_renderer) {
        if (what == SDL_WINDOWEVENT_MAXIMIZED)
            SDL_RenderSetIntegerScale(g_scaled_renderer, SDL_FALSE);
        else if (what == SDL_WINDOWEVENT_RESTORED)
            SDL_RenderSetIntegerScale(g_scaled_renderer,
                                      scale_quality_hint() ? SDL_FALSE : SDL_TRUE);
    }
    else if (st->gl_mode) {
        if (what == SDL_WINDOWEVENT_SIZE_CHANGED && st->gl_ctx) {
            SDL_GL_MakeCurrent(win, st->gl_ctx);
            gl_resize_viewport(st, ev->window.data1, ev->window.data2);
        }
    }
    else if (what == SDL_WINDOWEVENT_SIZE_CHANGED) {
        PyObject *so = lm_GetDefaultWindowSurface();
        if (so) {
            SDL_Surface *ws = SDL_GetWindowSurface(win);
            lmSurfaceObject *s = (lmSurfaceObject *)so;
            // A window surface is never owned, so re-pointing is only this
            // store; the surface module's slot may not run without the lock.
            if (ws && s->surf != ws && !s->owner)
                s->surf = ws;
        }
    }
    return 0;
}

}  // namespace

void lmd_add_watch(void)
{
    SDL_DelEventWatch(window_event_watch, &g_state);
    SDL_AddEventWatch(window_event_watch, &g_state);
}

void lmd_del_watch(void)
{
    SDL_DelEventWatch(window_event_watch, &g_state);
}

void lmd_gl_viewport(int x, int y, int w, int h)
{
    typedef void (*viewport_fn)(int, int, int, int);
    viewport_fn fn = (viewport_fn)SDL_GL_GetProcAddress("glViewport");
    if (fn)
        fn(x, y, w, h);
}

int lmd_sync_window_surface(SDL_Window *win)
{
    PyObject *so = lm_GetDefaultWindowSurface();
    if (!so)
        return 0;
    SDL_Surface *ws = SDL_GetWindowSurface(win);
    if (!ws) {
        lm_RaiseSDLError();
        return -1;
    }
    lm::Ref keep(so);
    Py_INCREF(so);
    return lmd_repoint(so, ws, 0);
}

// SDL's renderer and window-surface updates are not safe to run from two
// threads at once: presentations take turns under this mutex, inside the
// display gate and with the interpreter lock released.  Made on first use,
// with the interpreter lock held.
static SDL_mutex *g_present = nullptr;

class PresentTurn {
  public:
    PresentTurn() { SDL_LockMutex(g_present); }
    PresentTurn(const PresentTurn &) = delete;
    PresentTurn &operator=(const PresentTurn &) = delete;
    ~PresentTurn() { SDL_UnlockMutex(g_present); }
};

static bool present_ready()
{
    if (!g_present && !(g_present = SDL_CreateMutex())) {
        lm_RaiseSDLError();
        return false;
    }
    return true;
}

// One presentation; false when the display was torn down or set up again
// while this waited to use it (nothing was drawn; the caller tries again).
static bool present_once(PyObject **result)
{
    *result = nullptr;
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win) {
        lmd_raise("Display mode not set");
        return true;
    }
    if (!present_ready())
        return true;
    // Pointers read now stay valid only while the generation does.
    int gen = lm_DisplayGate(LM_GATE_GENERATION);
    if (g_state.gl_mode) {
        lm::GilRelease nogil;
        lm::DisplayUse use(gen);
        if (!use.ok())
            return false;
        PresentTurn turn;
        SDL_GL_SwapWindow(win);
    }
    else if (g_scaled_renderer) {
        PyObject *so = lm_GetDefaultWindowSurface();
        SDL_Surface *s = so ? lmSurface_AsSurface(so) : nullptr;
        if (!s) {
            lmd_raise("display Surface quit");
            return true;
        }
        int tw = 0, th = 0;
        if (SDL_QueryTexture(g_scaled_texture, nullptr, nullptr, &tw, &th) != 0) {
            lm_RaiseSDLError();
            return true;
        }
        // Never read past the surface, whatever the texture's size.
        SDL_Rect area = {0, 0, std::min(tw, s->w), std::min(th, s->h)};
        const void *pixels = s->pixels;
        int pitch = s->pitch;
        SDL_Renderer *ren = g_scaled_renderer;
        SDL_Texture *tex = g_scaled_texture;
        lm::GilRelease nogil;
        lm::DisplayUse use(gen);
        if (!use.ok())
            return false;
        PresentTurn turn;
        SDL_UpdateTexture(tex, &area, pixels, pitch);
        SDL_RenderClear(ren);
        SDL_RenderCopy(ren, tex, nullptr, nullptr);
        SDL_RenderPresent(ren);
    }
    else {
        // The surface check and re-pointing need the interpreter lock.
        if (lmd_sync_window_surface(win) < 0)
            return true;
        int rc;
        {
            lm::GilRelease nogil;
            lm::DisplayUse use(gen);
            if (!use.ok())
                return false;
            PresentTurn turn;
            rc = SDL_UpdateWindowSurface(win);
        }
        if (rc < 0) {
            lm_RaiseSDLError();
            return true;
        }
    }
    Py_INCREF(Py_None);
    *result = Py_None;
    return true;
}

PyObject *present_window(void)
{
    for (;;) {
        LM_VIDEO_OR_RAISE();
        PyObject *result;
        if (present_once(&result))
            return result;
    }
}

static PyObject *display_flip(PyObject *, PyObject *)
{
    return present_window();
}

// ---------------------------------------------------------------------------
// set_mode
// ---------------------------------------------------------------------------
static PyObject *display_set_mode(PyObject *, PyObject *args, PyObject *kw)
{
    SDL_Window *win = lm_GetDefaultWindow();
    int display = _get_display(win);
    const char *force_env = SDL_getenv("LUMORA_FORCE_SCALE");
    // Parsing may run Python code that changes the environment: copy.
    bool force = force_env != nullptr;
    std::string force_val = force ? force_env : "";

    static const char *kwids[] = {"size", "flags", "depth", "display", "vsync", nullptr};
    PyObject *size = nullptr;
    Uint32 flags = 0;
    int depth = 0, vsync = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|OO&iii", (char **)kwids, &size,
                                     lmd_flags_conv, &flags, &depth, &display, &vsync))
        return nullptr;
    (void)depth;
    if (force) {
        flags |= LMD_SCALED;
        if (force_val == "photo")
            SDL_SetHintWithPriority(SDL_HINT_RENDER_SCALE_QUALITY, "best",
                                    SDL_HINT_NORMAL);
    }
    int w = 0, h = 0;
    if (size) {
        if (!lm_TwoIntsFromObj(size, &w, &h)) {
            PyErr_SetString(PyExc_TypeError, "size must be two numbers");
            return nullptr;
        }
        if (w < 0 || h < 0)
            return lmd_raise("Cannot set negative sized display mode");
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        lm::Ref r(display_init(nullptr, nullptr));
        if (!r)
            return nullptr;
    }
    DisplayModuleState *st = &g_state;
    const bool scaled = (flags & LMD_SCALED) != 0;
    const bool full = (flags & LMD_FULLSCREEN) != 0;
    const bool opengl = (flags & LMD_OPENGL) != 0;
    // Everything that can refuse the request comes before the first change
    // to the current display, which keeps working after a refused call.
    if (scaled && (w == 0 || h == 0))
        return lmd_raise("Cannot set 0 sized SCALED display mode");
    if (scaled && opengl &&
        PyErr_WarnEx(PyExc_FutureWarning,
                     "SCALED|OPENGL is experimental and subject to change", 1) < 0)
        return nullptr;
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(display, &dm) != 0)
        return lm_RaiseSDLError();
    if (!st->caption_text) {
        st->caption_text = strdup("lumora window");
        if (!st->caption_text)
            return PyErr_NoMemory();
    }
    // Other threads' flips and waits finish before anything is freed.
    lm::DisplayTeardown teardown;
    st->gl_mode = opengl;
    st->gl_scaled = scaled && opengl;
    st->restore_w = st->restore_h = 0;
    destroy_scaled();
    lmd_del_watch();

    // Python code ran above (init, warnings): read the window again.
    win = lm_GetDefaultWindow();
    lm::Ref surfobj;
    if (PyObject *so = lm_GetDefaultWindowSurface()) {
        Py_INCREF(so);
        surfobj.reset(so);
    }

    Uint32 sdl_flags;
    if (w == 0 && h == 0) {
        w = dm.w;
        h = dm.h;
        sdl_flags = full ? SDL_WINDOW_FULLSCREEN : 0;
    }
    else {
        sdl_flags = !full ? 0 : scaled ? SDL_WINDOW_FULLSCREEN_DESKTOP
                                       : SDL_WINDOW_FULLSCREEN;
    }
    if (opengl) {
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, (flags & LMD_DOUBLEBUF) ? 1 : 0);
        sdl_flags |= SDL_WINDOW_OPENGL;
    }
    if (flags & LMD_RESIZABLE)
        sdl_flags |= SDL_WINDOW_RESIZABLE;
    if (flags & LMD_NOFRAME)
        sdl_flags |= SDL_WINDOW_BORDERLESS;
    if (flags & LMD_SHOWN)
        sdl_flags |= SDL_WINDOW_SHOWN;
    if (flags & LMD_HIDDEN)
        sdl_flags |= SDL_WINDOW_HIDDEN;
    else
        sdl_flags |= SDL_WINDOW_SHOWN;
    if ((flags & LMD_RESIZABLE) && st->autoresize_on)
        lmd_add_watch();

    int x = LMD_UNDEF(display), y = LMD_UNDEF(display), center = 0;
    _get_video_window_pos(&x, &y, &center);
    if (center)
        x = y = LMD_CENTRE(display);
    const Uint32 fs = sdl_flags & SDL_WINDOW_FULLSCREEN_DESKTOP;

    // Failure once a window exists: the display is gone as a whole (state,
    // renderer, window), and the surface object no longer points into it.
    auto fail = [&]() -> PyObject * {
        PyObject *et, *ev, *tb;
        PyErr_Fetch(&et, &ev, &tb);
        destroy_scaled();
        release_display_state(st);
        lmd_del_watch();
        if (surfobj) {
            if (lmSurface_AsSurface(surfobj.get()) &&
                lmSurface_SetSurface(surfobj.get(), nullptr, 0) < 0)
                PyErr_Clear();
            if (lm_GetDefaultWindowSurface() == surfobj.get())
                lm_SetDefaultWindowSurface(nullptr);
        }
        if (win) {
            if (win == lm_GetDefaultWindow())
                lm_SetDefaultWindow(nullptr);
            else
                SDL_DestroyWindow(win);
        }
        win = nullptr;
        PyErr_Restore(et, ev, tb);
        return nullptr;
    };

    if (win) {
        Uint32 wf = SDL_GetWindowFlags(win);
        if (SDL_GetWindowDisplayIndex(win) == display) {
            if (wf & SDL_WINDOW_FULLSCREEN) {
                x = st->restore_x == LMD_UNDEF(display) ? LMD_CENTRE(display) : st->restore_x;
                y = st->restore_y == LMD_UNDEF(display) ? LMD_CENTRE(display) : st->restore_y;
            }
            else {
                int ww, wh;
                SDL_GetWindowSize(win, &ww, &wh);
                if (!(center && (w != ww || h != wh)))
                    SDL_GetWindowPosition(win, &x, &y);
            }
        }
        if (((wf & SDL_WINDOW_OPENGL) != 0) != opengl) {
            // A window cannot change its OpenGL-ness: replace it.  Its own
            // surface dies with it, so nothing may keep pointing there.
            if (surfobj && !((lmSurfaceObject *)surfobj.get())->owner &&
                lmSurface_AsSurface(surfobj.get())) {
                if (lmSurface_SetSurface(surfobj.get(), nullptr, 0) < 0)
                    return nullptr;
            }
            // The context belongs to the old window: it goes first.
            if (st->gl_ctx) {
                SDL_GL_DeleteContext(st->gl_ctx);
                st->gl_ctx = nullptr;
            }
            lm_SetDefaultWindow(nullptr);
            win = nullptr;
        }
    }

    int win_w = w, win_h = h;
    if (scaled && !full) {
        SDL_Rect b;
        if (SDL_GetDisplayUsableBounds(display, &b) != 0) {
            lm_RaiseSDLError();
            return win ? fail() : nullptr;
        }
        if (scale_quality_hint() || st->gl_scaled) {
            dgeom::fit_aspect(b.w, b.h, w, h, &win_w, &win_h);
        }
        else {
            int k = dgeom::integer_factor(b.w, b.h, w, h);
            win_w = k * w;
            win_h = k * h;
        }
    }
    else if (fs) {
        st->restore_x = x;
        st->restore_y = y;
    }

    if (!win) {
        const char *wid = SDL_getenv("SDL_WINDOWID");
        if (wid)
            win = SDL_CreateWindowFrom((const void *)(intptr_t)SDL_strtol(wid, nullptr, 0));
        else
            win = SDL_CreateWindow(st->caption_text, x, y, win_w, win_h, sdl_flags);
        if (!win) {
            lm_RaiseSDLError();
            // A replaced display leaves nothing behind that points at it.
            return surfobj ? fail() : nullptr;
        }
    }
    else {
        SDL_SetWindowMinimumSize(win, 1, 1);
        SDL_SetWindowTitle(win, st->caption_text);
        SDL_SetWindowSize(win, win_w, win_h);
        if (SDL_SetWindowFullscreen(win, fs) != 0) {
            lm_RaiseSDLError();
            return fail();
        }
        SDL_SetWindowResizable(win, (flags & LMD_RESIZABLE) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowBordered(win, (flags & LMD_NOFRAME) ? SDL_FALSE : SDL_TRUE);
        if ((flags & LMD_HIDDEN) && !(flags & LMD_SHOWN))
            SDL_HideWindow(win);
        else
            SDL_ShowWindow(win);
        SDL_SetWindowPosition(win, x, y);
    }

    OwnedSurface news;
    int owner = 0;
    if (opengl) {
        if (st->gl_ctx && surfobj && lmSurface_AsSurface(surfobj.get())) {
            news.s = lmSurface_AsSurface(surfobj.get());
            owner = ((lmSurfaceObject *)surfobj.get())->owner;
        }
        else {
            if (st->gl_ctx) {
                SDL_GL_DeleteContext(st->gl_ctx);
                st->gl_ctx = nullptr;
            }
            st->gl_ctx = SDL_GL_CreateContext(win);
            if (!st->gl_ctx) {
                lm_RaiseSDLError();
                return fail();
            }
            news.s = SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
            news.owned = true;
            owner = 1;
        }
        if (st->gl_scaled) {
            st->gl_logical_w = w;
            st->gl_logical_h = h;
        }
        int warn = 0;
        if (vsync == -1) {
            if (SDL_GL_SetSwapInterval(-1) != 0)
                warn = PyErr_WarnEx(PyExc_Warning,
                                    "adaptive vsync for OpenGL not available", 1);
        }
        else if (vsync == 1) {
            if (SDL_GL_SetSwapInterval(1) != 0)
                warn = PyErr_WarnEx(PyExc_Warning,
                                    "regular vsync for OpenGL not available", 1);
        }
        else {
            SDL_GL_SetSwapInterval(0);
        }
        if (warn < 0)
            return fail();
    }
    else {
        if (st->gl_ctx) {
            SDL_GL_DeleteContext(st->gl_ctx);
            st->gl_ctx = nullptr;
        }
        if (scaled) {
            SDL_SetHintWithPriority(SDL_HINT_RENDER_SCALE_QUALITY, "nearest",
                                    SDL_HINT_DEFAULT);
            g_scaled_renderer =
                SDL_CreateRenderer(win, -1, vsync ? SDL_RENDERER_PRESENTVSYNC : 0);
            if (!g_scaled_renderer) {
                lmd_raise("failed to create renderer");
                return fail();
            }
            SDL_RenderSetIntegerScale(g_scaled_renderer,
                                      (!full && !scale_quality_hint()) ? SDL_TRUE
                                                                       : SDL_FALSE);
            SDL_RenderSetLogicalSize(g_scaled_renderer, w, h);
            SDL_SetWindowMinimumSize(win, w, h);
            SDL_RendererInfo info;
            if (SDL_GetRendererInfo(g_scaled_renderer, &info) == 0) {
                if (vsync && !(info.flags & SDL_RENDERER_PRESENTVSYNC) &&
                    PyErr_WarnEx(PyExc_Warning, "could not enable vsync", 1) < 0)
                    return fail();
                if (!(info.flags & SDL_RENDERER_ACCELERATED) &&
                    PyErr_WarnEx(PyExc_Warning, "no fast renderer available", 1) < 0)
                    return fail();
            }
            g_scaled_texture = SDL_CreateTexture(g_scaled_renderer, SDL_PIXELFORMAT_ARGB8888,
                                                 SDL_TEXTUREACCESS_STREAMING, w, h);
            if (!g_scaled_texture) {
                lm_RaiseSDLError();
                return fail();
            }
            news.s = SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
            news.owned = true;
            owner = 1;
        }
        else {
            news.s = SDL_GetWindowSurface(win);
        }
    }

    if (st->gamma_table &&
        SDL_SetWindowGammaRamp(win, st->gamma_table, st->gamma_table + 256,
                               st->gamma_table + 512) != 0) {
        lm_RaiseSDLError();
        return fail();
    }
    if (st->gl_mode && g_scaled_renderer) {
        lmd_raise("GL context and SDL_Renderer created at the same time");
        return fail();
    }
    if (!news.s) {
        lm_RaiseSDLError();
        return fail();
    }
    if (surfobj) {
        if (lmd_repoint(surfobj.get(), news.s, owner) < 0)
            return fail();
        news.release();
    }
    else {
        PyObject *o = lmSurface_New2(news.s, owner);
        if (!o)
            return fail();
        news.release();
        surfobj.reset(o);
    }
    SDL_Surface *s = news.s;
    lm_SetDefaultWindow(win);
    lm_SetDefaultWindowSurface(surfobj.get());
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
    {
        lm::Ref r(present_window());
        if (!r)
            return nullptr;
    }
    lmd_apply_icon(win);
    SDL_PumpEvents();
    return surfobj.release();
}

// ---------------------------------------------------------------------------
// get_surface, update
// ---------------------------------------------------------------------------
static PyObject *display_get_surface(PyObject *, PyObject *)
{
    PyObject *so = lm_GetDefaultWindowSurface();
    if (g_scaled_renderer || g_state.gl_mode) {
        if (!so)
            Py_RETURN_NONE;
        Py_INCREF(so);
        return so;
    }
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win)
        Py_RETURN_NONE;
    SDL_Surface *ws = SDL_GetWindowSurface(win);
    if (!ws)
        return lm_RaiseSDLError();
    if (!so) {
        lm::Ref o(lmSurface_New2(ws, 0));
        if (!o)
            return nullptr;
        lm_SetDefaultWindowSurface(o.get());
        return o.release();
    }
    // Re-point the object the caller already holds: a new object would
    // leave the old one on the freed surface of the resized window.
    lm::Ref keep(so);
    Py_INCREF(so);
    if (lmd_repoint(so, ws, 0) < 0)
        return nullptr;
    return keep.release();
}

static PyObject *display_update(PyObject *, PyObject *args)
{
    LM_VIDEO_OR_RAISE();
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win)
        return lmd_raise("Display mode not set");
    if (g_scaled_renderer)
        return present_window();
    if (g_state.gl_mode)
        return lmd_raise("Cannot update an OPENGL display");
    Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n == 0)
        return present_window();
    PyObject *arg0 = PyTuple_GET_ITEM(args, 0);
    if (arg0 == Py_None)
        Py_RETURN_NONE;
    if (lmd_sync_window_surface(win) < 0)
        return nullptr;
    int W, H;
    SDL_GetWindowSize(win, &W, &H);

    SDL_Rect scratch, cropped;
    const SDL_Rect *r = lmRect_Coerce(args, &scratch);
    if (r) {
        // Coercion may run Python that changed the window: read it again.
        if (!SDL_WasInit(SDL_INIT_VIDEO) || lm_GetDefaultWindow() != win)
            return lmd_raise("Display mode not set");
        if (dgeom::crop_to_window(*r, W, H, &cropped) &&
            SDL_UpdateWindowSurfaceRects(win, &cropped, 1) < 0)
            return lm_RaiseSDLError();
        Py_RETURN_NONE;
    }
    if (n == 1 && PySequence_Check(arg0)) {
        Py_ssize_t len = PySequence_Length(arg0);
        if (len < 0)
            return nullptr;
        if (len > 0x7FFFFFF) {
            PyErr_SetString(PyExc_MemoryError, "too many rectangles for update");
            return nullptr;
        }
        lm::MemBuf<SDL_Rect> rects((size_t)len);
        if (len && !rects)
            return PyErr_NoMemory();
        int count = 0;
        for (Py_ssize_t i = 0; i < len; ++i) {
            lm::Ref item(PySequence_GetItem(arg0, i));
            if (!item)
                return nullptr;
            if (item.get() == Py_None)
                continue;
            const SDL_Rect *ri = lmRect_Coerce(item.get(), &scratch);
            if (!ri) {
                PyErr_SetString(PyExc_ValueError,
                                "update_rects requires a single list of rects");
                return nullptr;
            }
            if ((ri->w > 0 || ri->h > 0) &&
                dgeom::crop_to_window(*ri, W, H, &rects[(size_t)count]))
                ++count;
        }
        if (count) {
            int rc;
            // The list may have changed the window (coercion runs Python):
            // take it again before letting go of the lock.
            win = lm_GetDefaultWindow();
            if (!SDL_WasInit(SDL_INIT_VIDEO) || !win)
                return lmd_raise("Display mode not set");
            if (!present_ready())
                return nullptr;
            int gen = lm_DisplayGate(LM_GATE_GENERATION);
            bool current;
            {
                lm::GilRelease nogil;
                lm::DisplayUse use(gen);
                current = use.ok();
                rc = 0;
                if (current) {
                    PresentTurn turn;
                    rc = SDL_UpdateWindowSurfaceRects(win, rects.get(), count);
                }
            }
            // A display torn down meanwhile has nothing left to update.
            if (!current && !SDL_WasInit(SDL_INIT_VIDEO))
                return lmd_raise("video system not initialized");
            if (rc < 0)
                return lm_RaiseSDLError();
        }
        Py_RETURN_NONE;
    }
    PyErr_SetString(PyExc_ValueError,
                    "update requires a rectstyle or sequence of rectstyles");
    return nullptr;
}

// ---------------------------------------------------------------------------
// Provisional resize helpers
// ---------------------------------------------------------------------------
static PyObject *display_set_autoresize(PyObject *, PyObject *arg)
{
    int v = PyObject_IsTrue(arg);
    if (v < 0)
        return nullptr;
    g_state.autoresize_on = v;
    lmd_del_watch();
    if (v)
        lmd_add_watch();
    return PyBool_FromLong(v);
}

static int int_attr(PyObject *o, const char *name, int *out)
{
    lm::Ref v(PyObject_GetAttrString(o, name));
    if (!v)
        return -1;
    long long x = PyLong_AsLongLong(v.get());
    if (x == -1 && PyErr_Occurred())
        return -1;
    if (x < INT_MIN || x > INT_MAX) {
        PyErr_Format(PyExc_OverflowError, "%s is out of range", name);
        return -1;
    }
    *out = (int)x;
    return 0;
}

static PyObject *display_resize_event(PyObject *, PyObject *event)
{
    int w, h;
    if (int_attr(event, "w", &w) < 0 || int_attr(event, "h", &h) < 0)
        return nullptr;
    LM_VIDEO_OR_RAISE();
    LMD_WINDOW_OR_RAISE(win);
    if (SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN_DESKTOP)
        return PyLong_FromLong(-1);
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(SDL_GetWindowDisplayIndex(win), &dm) != 0)
        return lm_RaiseSDLError();
    if (g_state.gl_mode) {
        SDL_SetWindowSize(win, w, h);
        SDL_GL_MakeCurrent(win, g_state.gl_ctx);
        gl_resize_viewport(&g_state, w, h);
    }
    else if (g_scaled_renderer) {
        int lw = 0, lh = 0;
        SDL_RenderGetLogicalSize(g_scaled_renderer, &lw, &lh);
        SDL_SetWindowSize(win, std::max(w, lw), std::max(h, lh));
        if (SDL_RenderSetLogicalSize(g_scaled_renderer, lw, lh) != 0)
            return lm_RaiseSDLError();
    }
    else {
        return PyLong_FromLong(-1);
    }
    Py_RETURN_FALSE;
}

PyMethodDef lmd_mode_methods[] = {
    {"set_mode", (PyCFunction)(void (*)(void))display_set_mode, METH_VARARGS | METH_KEYWORDS,
     "set_mode(size=(0, 0), flags=0, depth=0, display=0, vsync=0) -> Surface\n"
     "Initialize a window or screen for display"},
    {"get_surface", display_get_surface, METH_NOARGS,
     "get_surface() -> Surface\nGet a reference to the currently set display surface"},
    {"flip", display_flip, METH_NOARGS,
     "flip() -> None\nUpdate the full display Surface to the screen"},
    {"update", display_update, METH_VARARGS,
     "update(rectangle=None) -> None\nupdate(rectangle_list) -> None\n"
     "Update portions of the screen for software displays"},
    {"_set_autoresize", display_set_autoresize, METH_O, "provisional API, subject to change"},
    {"_resize_event", display_resize_event, METH_O,
     "DEPRECATED, never officially supported, kept only for compatibility with release "
     "candidate"},
    {nullptr, nullptr, 0, nullptr},
};
