// lumora.event: the queue functions over SDL's event queue.
//
// Events posted from Python sit in SDL's queue holding a reference to their
// dictionary.  Every path that takes such an event off the queue without
// handing it to an Event (clearing, blocking, re-installing the filter,
// shutting down) releases that reference here, with the GIL held.  Every
// push of such an event from this package happens with the GIL held too, so
// a drain done under the GIL cannot miss one that is half pushed.
#include "event_internal.h"

#include <initializer_list>

namespace {

bool g_initialised = false;
bool g_quit_hook_registered = false;
int g_custom_counter = LM_FIRST_CUSTOM;

constexpr int kChunk = 128;


// Type arguments: an int or a sequence of ints, each 0..0xFFFE.
struct TypeList {
    int *items = nullptr;
    Py_ssize_t n = 0;
    TypeList() = default;
    TypeList(const TypeList &) = delete;
    TypeList &operator=(const TypeList &) = delete;
    ~TypeList() { PyMem_Free(items); }
};

int parse_types(PyObject *obj, TypeList *out)
{
    lm::Ref seq;
    if (PyLong_Check(obj)) {
        seq.reset(PyTuple_Pack(1, obj));
        if (!seq)
            return -1;
    } else if (PySequence_Check(obj)) {
        Py_INCREF(obj);
        seq.reset(obj);
    } else {
        PyErr_SetString(PyExc_TypeError, "event type must be numeric or a sequence");
        return -1;
    }
    Py_ssize_t n = PySequence_Size(seq.get());
    if (n < 0)
        return -1;
    if (n > INT_MAX) {
        PyErr_SetString(PyExc_ValueError, "too many event types");
        return -1;
    }
    out->items = static_cast<int *>(PyMem_Malloc(((size_t)n + 1) * sizeof(int)));
    if (!out->items) {
        PyErr_NoMemory();
        return -1;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        int v;
        if (!lm_IntFromObjIndex(seq.get(), (int)i, &v)) {
            // An integer that does not fit is out of range, not of the
            // wrong kind.
            lm::Ref item(PySequence_GetItem(seq.get(), i));
            PyErr_Clear();
            if (item && PyLong_Check(item.get()))
                PyErr_SetString(PyExc_ValueError, "event type out of range");
            else
                PyErr_SetString(PyExc_TypeError,
                                "type sequence must contain valid event types");
            return -1;
        }
        if (v < 0 || v > LM_TYPE_MAX) {
            PyErr_SetString(PyExc_ValueError, "event type out of range");
            return -1;
        }
        out->items[i] = v;
    }
    out->n = n;
    return 0;
}

// Removes every queued event of types lo..hi, releasing posted dictionaries.
int drain(Uint32 lo, Uint32 hi)
{
    SDL_Event buf[kChunk];
    for (;;) {
        int n = SDL_PeepEvents(buf, kChunk, SDL_GETEVENT, lo, hi);
        if (n < 0)
            return -1;
        lm_event_release_posted_n(buf, n);
        if (n < kChunk)
            return 0;
    }
}

// Drains posted events only when SDL's queue is running; a stopped queue
// holds nothing.
void drain_posted_quietly()
{
    if (SDL_WasInit(SDL_INIT_EVENTS))
        drain(LM_PROXY_FIRST, LM_QUEUE_LAST);
}

void pump_and_filter(bool pump)
{
    if (pump)
        SDL_PumpEvents();
    lm_filter_window_pass();
}

// Takes every queued event of types lo..hi and appends its Event to `list`.
int take_events(PyObject *list, Uint32 lo, Uint32 hi)
{
    SDL_Event buf[kChunk];
    for (;;) {
        int n = SDL_PeepEvents(buf, kChunk, SDL_GETEVENT, lo, hi);
        if (n < 0) {
            lm_RaiseSDLError();
            return -1;
        }
        for (int i = 0; i < n; ++i) {
            PyObject *ev = lm_event_translate(&buf[i], true);
            if (!ev || PyList_Append(list, ev) < 0) {
                Py_XDECREF(ev);
                // The rest were taken off the queue too: give back what
                // they own.
                lm_event_release_posted_n(buf + i + 1, n - i - 1);
                return -1;
            }
            Py_DECREF(ev);
        }
        if (n < kChunk)
            return 0;
    }
}

int take_type(PyObject *list, int t)
{
    if (take_events(list, (Uint32)t, (Uint32)t) < 0)
        return -1;
    int p = lmEvent_MapType(t, true);
    if (p != t && take_events(list, (Uint32)p, (Uint32)p) < 0)
        return -1;
    return 0;
}

// Events held aside while get(exclude=...) reads the rest.
struct Aside {
    SDL_Event *buf = nullptr;
    size_t count = 0, cap = 0;
    Aside() = default;
    Aside(const Aside &) = delete;
    Aside &operator=(const Aside &) = delete;
    ~Aside()
    {
        put_back();
        PyMem_Free(buf);
    }
    // Returns to the queue, in the order taken; what does not fit is
    // released rather than leaked.
    void put_back()
    {
        if (!count)
            return;
        int added = SDL_PeepEvents(buf, (int)count, SDL_ADDEVENT, 0, 0);
        if (added < 0)
            added = 0;
        if ((size_t)added < count)
            lm_event_release_posted_n(buf + added, (int)(count - (size_t)added));
        count = 0;
    }
    int take(Uint32 t)
    {
        for (;;) {
            if (count == cap) {
                // Room for 16 at first, then four times what is held.
                size_t ncap = cap ? cap * 4 : 16, bytes;
                if (ncap > (size_t)INT_MAX ||
                    !lm::checked_mul<size_t>(ncap, sizeof(SDL_Event), &bytes)) {
                    PyErr_NoMemory();
                    return -1;
                }
                SDL_Event *nb = static_cast<SDL_Event *>(PyMem_Realloc(buf, bytes));
                if (!nb) {
                    PyErr_NoMemory();
                    return -1;
                }
                buf = nb;
                cap = ncap;
            }
            int n = SDL_PeepEvents(buf + count, (int)(cap - count), SDL_GETEVENT, t, t);
            if (n < 0) {
                lm_RaiseSDLError();
                return -1;
            }
            count += (size_t)n;
            if (count < cap)
                return 0;
        }
    }
};

// One pump and take of the waiting loop; with the interpreter lock
// released, inside the display gate, so that another thread's display
// teardown waits for it (pumping a queue or window being destroyed hangs
// or crashes).  -3 when the display went away while this was waiting.
int pump_and_take(SDL_Event *out, bool released)
{
    if (!released) {
        SDL_PumpEvents();
        lm_filter_window_pass();
        return SDL_PeepEvents(out, 1, SDL_GETEVENT, 0, LM_QUEUE_LAST);
    }
    lm::DisplayUse use;
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return -3;
    SDL_PumpEvents();
    lm_filter_window_pass();
    return SDL_PeepEvents(out, 1, SDL_GETEVENT, 0, LM_QUEUE_LAST);
}

// The waiting loop of poll() and wait().  1: event in *out; 0: nothing came;
// -1: SDL error (text left in SDL); -2: Python error (a signal handler);
// -3: the display was quit meanwhile.
int wait_loop(int timeout, SDL_Event *out, bool release_gil)
{
    PyThreadState *ts = release_gil ? PyEval_SaveThread() : nullptr;
    Uint64 deadline = SDL_GetTicks64() + (Uint64)(timeout > 0 ? timeout : 0);
    int result;
    for (unsigned iter = 1;; ++iter) {
        int n = pump_and_take(out, ts != nullptr);
        if (n == -3) {
            result = -3;
            break;
        }
        if (n != 0) {
            result = n > 0 ? 1 : -1;
            break;
        }
        if (timeout >= 0 && SDL_GetTicks64() >= deadline) {
            result = 0;
            break;
        }
        SDL_Delay(1);
        // Let Ctrl-C end an unbounded wait.
        if (ts && iter % 16 == 0) {
            lm::restore_thread(ts);
            if (PyErr_CheckSignals() < 0)
                return -2;
            ts = PyEval_SaveThread();
        }
    }
    if (ts)
        lm::restore_thread(ts);
    return result;
}

PyObject *finish_wait(int r, const SDL_Event *e)
{
    if (r == 1)
        return lm_event_translate(e, true);
    if (r == 0)
        return lmEvent_New(0, nullptr);
    if (r == -1)
        return lm_RaiseSDLError();
    if (r == -3)
        PyErr_SetString(lmExc_SDLError, "video system not initialized");
    return nullptr;
}

// ---------------------------------------------------------------------------
// Module functions.
// ---------------------------------------------------------------------------
PyObject *ev_pump(PyObject *, PyObject *)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    pump_and_filter(true);
    Py_RETURN_NONE;
}

PyObject *ev_get(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {"eventtype", "pump", "exclude", nullptr};
    PyObject *types = Py_None, *exclude = Py_None;
    int pump = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OpO", (char **)kwlist, &types,
                                     &pump, &exclude))
        return nullptr;
    if (!lm_VideoInitOrRaise())
        return nullptr;
    if (types != Py_None && exclude != Py_None) {
        PyErr_SetString(lmExc_SDLError,
                        "Invalid combination of excluded and included event type");
        return nullptr;
    }
    TypeList tl;
    if (types != Py_None && parse_types(types, &tl) < 0)
        return nullptr;
    if (exclude != Py_None && parse_types(exclude, &tl) < 0)
        return nullptr;

    pump_and_filter(pump != 0);
    lm::Ref list(PyList_New(0));
    if (!list)
        return nullptr;
    if (types != Py_None) {
        for (Py_ssize_t i = 0; i < tl.n; ++i)
            if (take_type(list.get(), tl.items[i]) < 0)
                return nullptr;
        return list.release();
    }
    Aside aside;
    for (Py_ssize_t i = 0; i < tl.n; ++i) {
        int t = tl.items[i], p = lmEvent_MapType(t, true);
        if (aside.take((Uint32)t) < 0 || (p != t && aside.take((Uint32)p) < 0))
            return nullptr;  // aside puts everything back
    }
    if (take_events(list.get(), 0, LM_QUEUE_LAST) < 0)
        return nullptr;
    aside.put_back();
    return list.release();
}

PyObject *ev_poll(PyObject *, PyObject *)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    SDL_Event e;
    return finish_wait(wait_loop(0, &e, false), &e);
}

PyObject *ev_wait(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {"timeout", nullptr};
    if (!lm_VideoInitOrRaise())
        return nullptr;
    int timeout = 0;
    // Parsing may run Python (__index__) that quits the display.
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|i", (char **)kwlist, &timeout) ||
        !lm_VideoInitOrRaise())
        return nullptr;
    if (timeout == 0)
        timeout = -1;
    SDL_Event e;
    return finish_wait(wait_loop(timeout, &e, true), &e);
}

PyObject *ev_peek(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {"eventtype", "pump", nullptr};
    PyObject *types = Py_None;
    int pump = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|Op", (char **)kwlist, &types, &pump))
        return nullptr;
    if (!lm_VideoInitOrRaise())
        return nullptr;
    TypeList tl;
    if (types != Py_None && (parse_types(types, &tl) < 0 || !lm_VideoInitOrRaise()))
        return nullptr;
    pump_and_filter(pump != 0);
    SDL_Event e;
    if (types == Py_None) {
        int n = SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, 0, LM_QUEUE_LAST);
        if (n < 0)
            return lm_RaiseSDLError();
        if (n == 0)
            return lmEvent_New(0, nullptr);
        // The event stays queued: the Event gets its own reference.
        return lm_event_translate(&e, false);
    }
    for (Py_ssize_t i = 0; i < tl.n; ++i) {
        int t = tl.items[i], p = lmEvent_MapType(t, true);
        for (int q : {t, p}) {
            int n = SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, (Uint32)q, (Uint32)q);
            if (n < 0)
                return lm_RaiseSDLError();
            if (n > 0)
                Py_RETURN_TRUE;
        }
    }
    Py_RETURN_FALSE;
}

PyObject *ev_clear(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {"eventtype", "pump", nullptr};
    PyObject *types = Py_None;
    int pump = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|Op", (char **)kwlist, &types, &pump))
        return nullptr;
    if (!lm_VideoInitOrRaise())
        return nullptr;
    TypeList tl;
    if (types != Py_None && (parse_types(types, &tl) < 0 || !lm_VideoInitOrRaise()))
        return nullptr;
    pump_and_filter(pump != 0);
    if (types == Py_None) {
        if (drain(0, LM_QUEUE_LAST) < 0)
            return lm_RaiseSDLError();
        Py_RETURN_NONE;
    }
    for (Py_ssize_t i = 0; i < tl.n; ++i) {
        int t = tl.items[i], p = lmEvent_MapType(t, true);
        if (drain((Uint32)t, (Uint32)t) < 0 || (p != t && drain((Uint32)p, (Uint32)p) < 0))
            return lm_RaiseSDLError();
    }
    Py_RETURN_NONE;
}

PyObject *ev_post(PyObject *, PyObject *obj)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    if (!PyObject_TypeCheck(obj, &lmEvent_Type)) {
        PyErr_SetString(PyExc_TypeError, "argument must be an Event object");
        return nullptr;
    }
    int type = ((lmEventObject *)obj)->type;
    if (!lm_event_type_queueable(type)) {
        PyErr_SetString(PyExc_ValueError, "event type out of range");
        return nullptr;
    }
    if (!lm_event_enabled((Uint32)lmEvent_MapType(type, true)))
        Py_RETURN_FALSE;
    SDL_Event e;
    if (lmEvent_FillSDL(obj, &e) < 0)
        return nullptr;
    int r = SDL_PushEvent(&e);
    if (r == 1)
        Py_RETURN_TRUE;
    Py_DECREF((PyObject *)e.user.data1);
    if (r == 0)
        Py_RETURN_FALSE;
    return lm_RaiseSDLError();
}

void reenable_filter_types()
{
    SDL_EventState(SDL_WINDOWEVENT, SDL_ENABLE);
    SDL_EventState(LM_REPEAT_CARRIER, SDL_ENABLE);
}

PyObject *ev_set_allowed(PyObject *, PyObject *obj)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    if (obj == Py_None) {
        for (Uint32 t = 0; t <= (Uint32)LM_TYPE_MAX; ++t)
            SDL_EventState(t, SDL_ENABLE);
        Py_RETURN_NONE;
    }
    TypeList tl;
    if (parse_types(obj, &tl) < 0)
        return nullptr;
    for (Py_ssize_t i = 0; i < tl.n; ++i)
        SDL_EventState((Uint32)lmEvent_MapType(tl.items[i], true), SDL_ENABLE);
    Py_RETURN_NONE;
}

// Disabling a type makes SDL flush its queued events; posted ones are taken
// out first so their dictionaries are released.
void block_type(Uint32 t)
{
    if (SDL_EventState(t, SDL_QUERY) == SDL_DISABLE)
        return;
    drain(t, t);
    SDL_EventState(t, SDL_DISABLE);
}

PyObject *ev_set_blocked(PyObject *, PyObject *obj)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    if (obj == Py_None) {
        drain(LM_PROXY_FIRST, LM_TYPE_MAX);
        for (Uint32 t = LM_PROXY_FIRST; t <= (Uint32)LM_TYPE_MAX; ++t)
            SDL_EventState(t, SDL_DISABLE);
    } else {
        TypeList tl;
        if (parse_types(obj, &tl) < 0)
            return nullptr;
        for (Py_ssize_t i = 0; i < tl.n; ++i)
            block_type((Uint32)lmEvent_MapType(tl.items[i], true));
    }
    reenable_filter_types();
    Py_RETURN_NONE;
}

PyObject *ev_get_blocked(PyObject *, PyObject *obj)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    TypeList tl;
    if (parse_types(obj, &tl) < 0)
        return nullptr;
    for (Py_ssize_t i = 0; i < tl.n; ++i)
        if (SDL_EventState((Uint32)lmEvent_MapType(tl.items[i], true), SDL_QUERY) ==
            SDL_DISABLE)
            Py_RETURN_TRUE;
    Py_RETURN_FALSE;
}

PyObject *ev_set_grab(PyObject *, PyObject *obj)
{
    int on = PyObject_IsTrue(obj);
    if (on < 0)
        return nullptr;
    if (!lm_VideoInitOrRaise())
        return nullptr;
    SDL_Window *win = lm_GetDefaultWindow();
    if (!win)
        Py_RETURN_NONE;
    if (on) {
        SDL_SetWindowGrab(win, SDL_TRUE);
        SDL_SetRelativeMouseMode(SDL_ShowCursor(SDL_QUERY) == 0 ? SDL_TRUE : SDL_FALSE);
    } else {
        SDL_SetWindowGrab(win, SDL_FALSE);
        SDL_SetRelativeMouseMode(SDL_FALSE);
    }
    Py_RETURN_NONE;
}

PyObject *ev_get_grab(PyObject *, PyObject *)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    SDL_Window *win = lm_GetDefaultWindow();
    return PyBool_FromLong(win ? SDL_GetWindowGrab(win) : 0);
}

PyObject *ev_set_keyboard_grab(PyObject *, PyObject *obj)
{
    int on = PyObject_IsTrue(obj);
    if (on < 0)
        return nullptr;
    if (!lm_VideoInitOrRaise())
        return nullptr;
    SDL_Window *win = lm_GetDefaultWindow();
    if (win)
        SDL_SetWindowKeyboardGrab(win, on ? SDL_TRUE : SDL_FALSE);
    Py_RETURN_NONE;
}

PyObject *ev_get_keyboard_grab(PyObject *, PyObject *)
{
    if (!lm_VideoInitOrRaise())
        return nullptr;
    SDL_Window *win = lm_GetDefaultWindow();
    return PyBool_FromLong(win ? SDL_GetWindowKeyboardGrab(win) : 0);
}

PyObject *ev_custom_type(PyObject *, PyObject *)
{
    if (g_custom_counter > LM_TYPE_MAX) {
        PyErr_SetString(lmExc_SDLError,
                        "lumora.event.custom_type made too many event types.");
        return nullptr;
    }
    return PyLong_FromLong(g_custom_counter++);
}

PyObject *ev_event_name(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {"type", nullptr};
    int type;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "i", (char **)kwlist, &type))
        return nullptr;
    return PyUnicode_FromString(lm_event_name(type));
}

// Stops key repeat and lets a callback already on its way finish its push
// before anything downstream (SDL_Quit, the video quit) frees SDL's queue.
// The wait is bounded so that a quit called from inside SDL's event
// dispatch, which the callback would be waiting for, cannot hang.
void stop_repeat_and_settle()
{
    lm_filter_stop_repeat();
    lm::GilRelease nogil;
    lm_filter_wait_callbacks(2000);
}

// Shared by _internal_mod_quit, base's quit registry and interpreter exit.
void shutdown_state()
{
    stop_repeat_and_settle();
    // Posted events would otherwise die with SDL's queue, still holding
    // their dictionaries.
    drain_posted_quietly();
    g_custom_counter = LM_FIRST_CUSTOM;
    g_initialised = false;
}

void base_quit_hook(void)
{
    g_quit_hook_registered = false;
    shutdown_state();
}

PyObject *ev_internal_init(PyObject *, PyObject *)
{
    if (!g_initialised) {
        if (lm_filter_start() < 0)
            return lm_RaiseSDLError();
        lm_filter_reset_repeat();
        if (!g_quit_hook_registered) {
            lm_RegisterQuit(base_quit_hook);
            g_quit_hook_registered = true;
        }
        g_initialised = true;
    }
    // SDL forgets the filter whenever its event loop stops; installing it
    // flushes the queue, so posted events are released first.
    lm_filter_install(drain_posted_quietly);
    Py_RETURN_NONE;
}

PyObject *ev_internal_quit(PyObject *, PyObject *)
{
    if (g_initialised)
        shutdown_state();
    Py_RETURN_NONE;
}

PyObject *ev_atexit(PyObject *, PyObject *)
{
    stop_repeat_and_settle();
    drain_posted_quietly();
    Py_RETURN_NONE;
}

PyMethodDef atexit_def = {"_event_atexit", ev_atexit, METH_NOARGS, nullptr};

#define KW (METH_VARARGS | METH_KEYWORDS)
#define KWF(f) (PyCFunction)(void (*)(void))(f)

PyMethodDef methods[] = {
    {"pump", ev_pump, METH_NOARGS,
     "pump() -> None\nlet SDL process its pending events"},
    {"get", KWF(ev_get), KW,
     "get(eventtype=None, pump=True, exclude=None) -> list of Events\n"
     "take events from the queue, all or only some types"},
    {"poll", ev_poll, METH_NOARGS,
     "poll() -> Event\ntake the next event, or a NoEvent Event when none is queued"},
    {"wait", KWF(ev_wait), KW,
     "wait(timeout=0) -> Event\n"
     "wait for the next event; a timeout in ms gives NoEvent when it ends"},
    {"peek", KWF(ev_peek), KW,
     "peek(eventtype=None, pump=True) -> bool or Event\n"
     "test for queued types, or look at the next event without taking it"},
    {"clear", KWF(ev_clear), KW,
     "clear(eventtype=None, pump=True) -> None\nremove events from the queue"},
    {"post", ev_post, METH_O,
     "post(Event) -> bool\nput an event on the queue; False if it was blocked"},
    {"set_allowed", ev_set_allowed, METH_O,
     "set_allowed(type) -> None\nlet types into the queue (None: all)"},
    {"set_blocked", ev_set_blocked, METH_O,
     "set_blocked(type) -> None\nkeep types out of the queue (None: all)"},
    {"get_blocked", ev_get_blocked, METH_O,
     "get_blocked(type) -> bool\ntest whether any of the types is blocked"},
    {"set_grab", ev_set_grab, METH_O,
     "set_grab(bool) -> None\nconfine the mouse to the window"},
    {"get_grab", ev_get_grab, METH_NOARGS,
     "get_grab() -> bool\ntest whether the mouse is confined to the window"},
    {"set_keyboard_grab", ev_set_keyboard_grab, METH_O,
     "set_keyboard_grab(bool) -> None\nsend system keyboard shortcuts to the window"},
    {"get_keyboard_grab", ev_get_keyboard_grab, METH_NOARGS,
     "get_keyboard_grab() -> bool\ntest whether the keyboard is grabbed"},
    {"custom_type", ev_custom_type, METH_NOARGS,
     "custom_type() -> int\nreserve a new user event type number"},
    {"event_name", KWF(ev_event_name), KW,
     "event_name(type) -> str\nthe name of an event type"},
    {"_internal_mod_init", ev_internal_init, METH_NOARGS, "auto initialize for event module"},
    {"_internal_mod_quit", ev_internal_quit, METH_NOARGS, "auto quit for event module"},
    {nullptr, nullptr, 0, nullptr},
};

LM_MODULE_DEF(module_def, "event", "lumora module for interacting with events and queues", methods);

void *c_api[LM_EVENT_NUMSLOTS];

}  // namespace

PyMODINIT_FUNC PyInit_event(void)
{
    LM_IMPORT(base);
    if (PyType_Ready(&lmEvent_Type) < 0)
        return nullptr;
    if (!lm_str_type_obj) {
        lm_str_type_obj = PyUnicode_InternFromString("type");
        if (!lm_str_type_obj)
            return nullptr;
    }
    if (lm_filter_start() < 0)
        return lm_RaiseSDLError();

    lm::Ref mod(PyModule_Create2(&module_def, 1013));
    if (!mod)
        return nullptr;
    if (lm_add_type(mod.get(), "Event", &lmEvent_Type) < 0)
        return nullptr;
    if (!lm_joy_instance_map) {
        lm_joy_instance_map = PyDict_New();
        if (!lm_joy_instance_map)
            return nullptr;
    }
    Py_INCREF(lm_joy_instance_map);
    if (PyModule_AddObject(mod.get(), "_joy_instance_map", lm_joy_instance_map) < 0) {
        Py_DECREF(lm_joy_instance_map);
        return nullptr;
    }

    c_api[LM_EVENT_TYPE] = &lmEvent_Type;
    c_api[LM_EVENT_FROM_SDL] = (void *)lmEvent_FromSDL;
    c_api[LM_EVENT_NEW] = (void *)lmEvent_New;
    c_api[LM_EVENT_FILL_SDL] = (void *)lmEvent_FillSDL;
    c_api[LM_EVENT_SET_KEY_REPEAT] = (void *)lmEvent_SetKeyRepeat;
    c_api[LM_EVENT_GET_KEY_REPEAT] = (void *)lmEvent_GetKeyRepeat;
    if (lm_export_slots(mod.get(), "event", c_api) < 0)
        return nullptr;

    SDL_RegisterEvents(0x7fff);

    // Posted events still queued when the interpreter ends must release
    // their dictionaries while Python objects can still be freed.
    lm::Ref atexit(PyImport_ImportModule("atexit"));
    lm::Ref fn(atexit ? PyCFunction_New(&atexit_def, nullptr) : nullptr);
    lm::Ref res(fn ? PyObject_CallMethod(atexit.get(), "register", "O", fn.get()) : nullptr);
    if (!res)
        return nullptr;
    return mod.release();
}
