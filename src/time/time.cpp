// lumora.time: ticks, delays, event timers and Clock.
//
// Timer callbacks run on SDL's timer thread.  They take the GIL, then the
// timer lock; the Python side holds the GIL when it takes the timer lock.
// Shutting the module down (quit, base.quit(), interpreter exit) stops the
// callbacks from entering Python and waits, without the GIL, for any already
// on their way: otherwise SDL_Quit, which joins the timer thread, could wait
// on a callback that is itself waiting for the GIL.
#include "frame.h"

#include <cstdio>
#include <unistd.h>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct TimerNode {
    TimerNode *next;
    uintptr_t id;          // unique for the process: a stale SDL timer never
                           // finds a newer node
    SDL_TimerID sdl_id;    // 0 until SDL_AddTimer returned
    PyObject *event;       // strong reference
    int type;              // the event's type, for replacement
    int repeat;            // remaining firings; negative: without limit
};

SDL_mutex *g_timer_lock = nullptr;  // present while the module is started
TimerNode *g_timers = nullptr;
uintptr_t g_last_id = 0;
SDL_atomic_t g_accepting;  // callbacks may enter Python
SDL_atomic_t g_inflight;   // callbacks between their start and their end
thread_local bool t_in_callback = false;
bool g_quit_hook_registered = false;

// The timer list cannot be trusted once its lock fails, and the callback
// that meets the failure has nowhere to raise: end the process, as the event
// module does for its repeat lock.  No Python call here: a plain write.
[[noreturn]] void fatal_lock(const char *what)
{
    fprintf(stderr, "Fatal lumora error in %s: %s\n", what, SDL_GetError());
    fflush(stderr);
    _exit(1);
}

class TimerGuard {
  public:
    TimerGuard()
    {
        if (SDL_LockMutex(g_timer_lock) < 0)
            fatal_lock("SDL_LockMutex");
    }
    ~TimerGuard()
    {
        if (SDL_UnlockMutex(g_timer_lock) < 0)
            fatal_lock("SDL_UnlockMutex");
    }
    TimerGuard(const TimerGuard &) = delete;
    TimerGuard &operator=(const TimerGuard &) = delete;
};

Uint64 now_ms() { return SDL_GetTicks64(); }

int ensure_timer()
{
    if (!SDL_WasInit(SDL_INIT_TIMER) && SDL_InitSubSystem(SDL_INIT_TIMER) < 0) {
        lm_RaiseSDLError();
        return -1;
    }
    return 0;
}

// Unlinks and returns the node matching `pred`, or null.  Timer lock held.
template <typename Pred>
TimerNode *unlink_if(Pred pred)
{
    for (TimerNode **pp = &g_timers; *pp; pp = &(*pp)->next) {
        if (pred(*pp)) {
            TimerNode *n = *pp;
            *pp = n->next;
            return n;
        }
    }
    return nullptr;
}

// Stops a node's SDL timer and frees it.  GIL held, timer lock not held.
void discard_node(TimerNode *n)
{
    if (n->sdl_id)
        SDL_RemoveTimer(n->sdl_id);
    Py_DECREF(n->event);
    PyMem_Free(n);
}

// One firing of timer `id`; GIL held.  Returns the next interval or 0.
Uint32 fire(uintptr_t id, Uint32 interval)
{
    if (!g_timer_lock)
        return 0;
    TimerNode *node;
    PyObject *event;
    bool video, last;
    {
        TimerGuard g;
        node = nullptr;
        for (TimerNode *n = g_timers; n; n = n->next)
            if (n->id == id) {
                node = n;
                break;
            }
        if (!node)
            return 0;
        if (node->repeat >= 0)
            --node->repeat;
        video = SDL_WasInit(SDL_INIT_VIDEO) != 0;
        if (!video)
            node->repeat = 0;
        last = node->repeat == 0;
        event = node->event;
        Py_INCREF(event);
        if (last)
            unlink_if([node](TimerNode *n) { return n == node; });
    }
    if (video) {
        SDL_Event e;
        if (lmEvent_FillSDL(event, &e) == 0) {
            if (SDL_PushEvent(&e) < 1)
                Py_DECREF((PyObject *)e.user.data1);
        } else {
            PyErr_Clear();
        }
    }
    Py_DECREF(event);
    if (last) {
        // SDL stops this timer itself when the callback returns 0.
        Py_DECREF(node->event);
        PyMem_Free(node);
        return 0;
    }
    return interval;
}

Uint32 SDLCALL timer_callback(Uint32 interval, void *param)
{
    // Count ourselves in before looking at the flag, so a shutdown that
    // clears it afterwards waits for us.
    SDL_AtomicIncRef(&g_inflight);
    if (!SDL_AtomicGet(&g_accepting)) {
        SDL_AtomicDecRef(&g_inflight);
        return 0;
    }
    PyGILState_STATE gs = lm::gil_ensure();
    t_in_callback = true;
    Uint32 next = fire((uintptr_t)param, interval);
    t_in_callback = false;
    PyGILState_Release(gs);
    SDL_AtomicDecRef(&g_inflight);
    return next;
}

// Stops every timer and waits for callbacks in flight.  GIL held.
void shutdown_timers()
{
    SDL_AtomicSet(&g_accepting, 0);
    if (g_timer_lock) {
        TimerNode *list;
        {
            TimerGuard g;
            list = g_timers;
            g_timers = nullptr;
        }
        SDL_DestroyMutex(g_timer_lock);
        g_timer_lock = nullptr;
        while (list) {
            TimerNode *next = list->next;
            discard_node(list);
            list = next;
        }
    }
    // A callback waiting for the GIL gets it now, finds no lock and leaves.
    int self = t_in_callback ? 1 : 0;
    if (SDL_AtomicGet(&g_inflight) > self) {
        lm::GilRelease nogil;
        while (SDL_AtomicGet(&g_inflight) > self)
            SDL_Delay(1);
    }
}

void base_quit_hook(void)
{
    g_quit_hook_registered = false;
    shutdown_timers();
}

// Sleeps in whole 12 ms steps less 2 ms, then spins for the remainder.
long long accurate_delay(long long t)
{
    if (t <= 0)
        return 0;
    Uint64 start = now_ms();
    if (t >= 12) {
        long long sleep = (t - 2) - (t % 12);
        if (sleep >= 12) {
            lm::GilRelease nogil;
            SDL_Delay((Uint32)sleep);
        }
    }
    while ((long long)(now_ms() - start) < t) {
    }
    return (long long)(now_ms() - start);
}

// One integer argument of delay()/wait(), clamped to 0..INT_MAX ms.
bool ms_arg(PyObject *arg, const char *msg, long long *out)
{
    if (!PyLong_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, msg);
        return false;
    }
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(arg, &overflow);
    if (v == -1 && PyErr_Occurred())
        return false;
    if (overflow)
        v = overflow > 0 ? INT_MAX : 0;
    *out = v < 0 ? 0 : v > INT_MAX ? INT_MAX : v;
    return true;
}

// ---------------------------------------------------------------------------
// Module functions.
// ---------------------------------------------------------------------------
PyObject *time_get_ticks(PyObject *, PyObject *)
{
    if (!SDL_WasInit(SDL_INIT_TIMER))
        return PyLong_FromLong(0);
    return PyLong_FromUnsignedLongLong(now_ms());
}

PyObject *time_delay(PyObject *, PyObject *arg)
{
    long long ms;
    if (!ms_arg(arg, "delay requires one integer argument", &ms))
        return nullptr;
    if (ensure_timer() < 0)
        return nullptr;
    return PyLong_FromLongLong(accurate_delay(ms));
}

PyObject *time_wait(PyObject *, PyObject *arg)
{
    long long ms;
    if (!ms_arg(arg, "wait requires one integer argument", &ms))
        return nullptr;
    if (ensure_timer() < 0)
        return nullptr;
    Uint64 start = now_ms();
    {
        lm::GilRelease nogil;
        SDL_Delay((Uint32)ms);
    }
    return PyLong_FromUnsignedLongLong(now_ms() - start);
}

PyObject *time_set_timer(PyObject *, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {"event", "millis", "loops", nullptr};
    PyObject *evarg;
    int millis, loops = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "Oi|i", (char **)kwlist, &evarg,
                                     &millis, &loops))
        return nullptr;
    if (!g_timer_lock) {
        PyErr_SetString(lmExc_SDLError, "lumora is not initialized");
        return nullptr;
    }
    lm::Ref event;
    if (PyLong_Check(evarg)) {
        int overflow = 0;
        long long t = PyLong_AsLongLongAndOverflow(evarg, &overflow);
        if (t == -1 && PyErr_Occurred())
            return nullptr;
        if (overflow || t < INT_MIN || t > INT_MAX) {
            PyErr_SetString(PyExc_ValueError, "event type out of range");
            return nullptr;
        }
        event.reset(lmEvent_New((int)t, nullptr));
        if (!event)
            return nullptr;
    } else if (Py_TYPE(evarg) == &lmEvent_Type) {
        Py_INCREF(evarg);
        event.reset(evarg);
    } else {
        PyErr_SetString(PyExc_TypeError,
                        "first argument must be an event type or event object");
        return nullptr;
    }
    // A type SDL cannot queue and give back would be posted into the void
    // on every firing; refuse it now (the event module's check).
    {
        SDL_Event scratch;
        if (lmEvent_FillSDL(event.get(), &scratch) < 0)
            return nullptr;
        Py_DECREF((PyObject *)scratch.user.data1);
    }
    lm::Ref typeobj(PyObject_GetAttrString(event.get(), "type"));
    if (!typeobj)
        return nullptr;
    int type = (int)PyLong_AsLong(typeobj.get());
    if (type == -1 && PyErr_Occurred())
        return nullptr;

    TimerNode *old;
    {
        TimerGuard g;
        old = unlink_if([type](TimerNode *n) { return n->type == type; });
    }
    if (old)
        discard_node(old);
    if (millis <= 0)
        Py_RETURN_NONE;
    if (ensure_timer() < 0)
        return nullptr;

    TimerNode *node = static_cast<TimerNode *>(PyMem_Malloc(sizeof(TimerNode)));
    if (!node)
        return PyErr_NoMemory();
    uintptr_t id;
    {
        TimerGuard g;
        if (++g_last_id == 0)
            ++g_last_id;
        id = g_last_id;
        node->id = id;
        node->sdl_id = 0;
        node->event = event.release();
        node->type = type;
        node->repeat = loops;
        node->next = g_timers;
        g_timers = node;
    }
    // The callback needs the GIL to reach the node, which this thread holds
    // until it returns, so the id is recorded before any firing.
    SDL_TimerID sdl = SDL_AddTimer((Uint32)millis, timer_callback, (void *)id);
    if (!sdl) {
        {
            TimerGuard g;
            unlink_if([node](TimerNode *n) { return n == node; });
        }
        Py_DECREF(node->event);
        PyMem_Free(node);
        return lm_RaiseSDLError();
    }
    node->sdl_id = sdl;
    Py_RETURN_NONE;
}

PyObject *time_internal_init(PyObject *, PyObject *)
{
    if (!g_timer_lock) {
        g_timer_lock = SDL_CreateMutex();
        if (!g_timer_lock)
            return lm_RaiseSDLError();
    }
    SDL_AtomicSet(&g_accepting, 1);
    if (!g_quit_hook_registered) {
        lm_RegisterQuit(base_quit_hook);
        g_quit_hook_registered = true;
    }
    Py_RETURN_NONE;
}

PyObject *time_internal_quit(PyObject *, PyObject *)
{
    shutdown_timers();
    Py_RETURN_NONE;
}

PyObject *time_atexit(PyObject *, PyObject *)
{
    shutdown_timers();
    Py_RETURN_NONE;
}

PyMethodDef atexit_def = {"_time_atexit", time_atexit, METH_NOARGS, nullptr};

// ---------------------------------------------------------------------------
// Clock.
// ---------------------------------------------------------------------------
struct ClockObject {
    PyObject_HEAD
    Uint64 last_tick;
    int fps_count;
    Uint64 fps_tick;
    bool fps_started;
    float fps;
    int timepassed;
    int rawpassed;
};

int ms_between(Uint64 later, Uint64 earlier)
{
    Uint64 d = later - earlier;
    return d > (Uint64)INT_MAX ? INT_MAX : (int)d;
}

PyObject *clock_new(PyTypeObject *type, PyObject *args, PyObject *kwargs)
{
    static const char *kwlist[] = {nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "", (char **)kwlist))
        return nullptr;
    if (ensure_timer() < 0)
        return nullptr;
    ClockObject *c = (ClockObject *)type->tp_alloc(type, 0);
    if (!c)
        return nullptr;
    c->last_tick = now_ms();
    c->fps_count = 0;
    c->fps_tick = 0;
    c->fps_started = false;
    c->fps = 0.0f;
    c->timepassed = 0;
    c->rawpassed = 0;
    return (PyObject *)c;
}

PyObject *clock_tick_impl(PyObject *self, PyObject *args, PyObject *kwargs, bool busy)
{
    static const char *kwlist[] = {"framerate", nullptr};
    float framerate = 0.0f;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|f", (char **)kwlist, &framerate))
        return nullptr;
    if (ensure_timer() < 0)
        return nullptr;
    ClockObject *c = (ClockObject *)self;
    if (framerate != 0.0f) {
        c->rawpassed = ms_between(now_ms(), c->last_tick);
        float frame = 1.0f / framerate * 1000.0f;
        long long target = (long long)lm::sat_int(frame) - c->rawpassed;
        if (busy) {
            accurate_delay(target);
        } else if (target > 0) {
            lm::GilRelease nogil;
            SDL_Delay((Uint32)target);
        }
    }
    Uint64 now = now_ms();
    c->fps_count += 1;
    c->timepassed = ms_between(now, c->last_tick);
    c->last_tick = now;
    if (framerate == 0.0f)
        c->rawpassed = c->timepassed;
    if (!c->fps_started) {
        c->fps_started = true;
        c->fps_count = 0;
        c->fps_tick = now;
    } else if (c->fps_count >= 10 && now > c->fps_tick) {
        // With no time elapsed the window simply stays open: no division
        // by zero, no infinite rate.
        c->fps = (float)c->fps_count / ((float)(now - c->fps_tick) / 1000.0f);
        c->fps_count = 0;
        c->fps_tick = now;
    }
    return PyLong_FromLong(c->timepassed);
}

PyObject *clock_tick(PyObject *self, PyObject *args, PyObject *kwargs)
{
    return clock_tick_impl(self, args, kwargs, false);
}

PyObject *clock_tick_busy_loop(PyObject *self, PyObject *args, PyObject *kwargs)
{
    return clock_tick_impl(self, args, kwargs, true);
}

PyObject *clock_get_fps(PyObject *self, PyObject *)
{
    return PyFloat_FromDouble(((ClockObject *)self)->fps);
}

PyObject *clock_get_time(PyObject *self, PyObject *)
{
    return PyLong_FromLong(((ClockObject *)self)->timepassed);
}

PyObject *clock_get_rawtime(PyObject *self, PyObject *)
{
    return PyLong_FromLong(((ClockObject *)self)->rawpassed);
}

#define KW (METH_VARARGS | METH_KEYWORDS)
#define KWF(f) (PyCFunction)(void (*)(void))(f)

PyMethodDef clock_methods[] = {
    {"tick", KWF(clock_tick), KW,
     "tick(framerate=0) -> milliseconds\n"
     "end a frame: sleep to keep below framerate, return the frame time"},
    {"tick_busy_loop", KWF(clock_tick_busy_loop), KW,
     "tick_busy_loop(framerate=0) -> milliseconds\n"
     "like tick, timed more accurately at the cost of CPU"},
    {"get_fps", clock_get_fps, METH_NOARGS,
     "get_fps() -> float\nframe rate over the last ten ticks"},
    {"get_time", clock_get_time, METH_NOARGS,
     "get_time() -> milliseconds\ntime between the last two ticks"},
    {"get_rawtime", clock_get_rawtime, METH_NOARGS,
     "get_rawtime() -> milliseconds\nlike get_time, without the delay tick added"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

LM_EXPORT PyObject *clock_str(PyObject *self)
{
    char buf[64];
    int n = PyOS_snprintf(buf, sizeof buf, "<Clock(fps=%.2f)>",
                          (double)((ClockObject *)self)->fps);
    if (n < 0 || n >= (int)sizeof buf) {
        PyErr_SetString(PyExc_RuntimeError, "Internal PyOS_snprintf call failed!");
        return nullptr;
    }
    return PyUnicode_FromString(buf);
}

namespace {

PyTypeObject Clock_Type = [] {
    PyTypeObject t{};
    const PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
    t.ob_base = head;
    t.tp_name = "lumora.time.Clock";
    t.tp_basicsize = sizeof(ClockObject);
    t.tp_repr = clock_str;
    t.tp_str = clock_str;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = "Clock() -> Clock\ncreate an object to help track time";
    t.tp_methods = clock_methods;
    t.tp_new = clock_new;
    return t;
}();

PyMethodDef methods[] = {
    {"get_ticks", time_get_ticks, METH_NOARGS,
     "get_ticks() -> milliseconds\nmilliseconds since SDL started"},
    {"delay", time_delay, METH_O,
     "delay(milliseconds) -> time\n"
     "pause accurately (sleeping, then spinning); returns the ms spent"},
    {"wait", time_wait, METH_O,
     "wait(milliseconds) -> time\nsleep, sharing the CPU; returns the ms spent"},
    {"set_timer", KWF(time_set_timer), KW,
     "set_timer(event, millis, loops=0) -> None\n"
     "post an event every millis ms (loops times; 0: until cancelled with millis=0)"},
    {"_internal_mod_init", time_internal_init, METH_NOARGS, "auto initialize function for time"},
    {"_internal_mod_quit", time_internal_quit, METH_NOARGS, "auto quit function for time"},
    {nullptr, nullptr, 0, nullptr},
};

LM_MODULE_DEF(module_def, "time", "lumora module for monitoring time", methods);

}  // namespace

PyMODINIT_FUNC PyInit_time(void)
{
    LM_IMPORT(base);
    LM_IMPORT(event);
    lm::Ref mod(lm_module_with_type(&module_def, "Clock", &Clock_Type));
    if (!mod)
        return nullptr;

    // Timers must stop entering Python before the interpreter goes away.
    lm::Ref atexit(PyImport_ImportModule("atexit"));
    lm::Ref fn(atexit ? PyCFunction_New(&atexit_def, nullptr) : nullptr);
    lm::Ref res(fn ? PyObject_CallMethod(atexit.get(), "register", "O", fn.get()) : nullptr);
    if (!res)
        return nullptr;
    return mod.release();
}
