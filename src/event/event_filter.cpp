// What runs inside SDL's event pushing: the event filter, key repeat and the
// text table of key events.
//
// The filter runs on whatever thread pushes an event, under SDL's own
// event-watch lock; the repeat timer runs on SDL's timer thread.  Neither
// touches a Python object.  Lock order is SDL's event-watch lock, then the
// repeat lock, which is always taken last and never held while pushing.
#include "event_internal.h"

#include <cstdio>
#include <unistd.h>

namespace {

SDL_mutex *g_lock = nullptr;  // created once, never destroyed
int g_delay = 0;
int g_interval = 0;
SDL_TimerID g_timer = 0;
// Bumped whenever the pending repeat is cancelled or replaced, so a timer
// callback already on its way sees it is stale and pushes nothing.
uintptr_t g_timer_gen = 0;
// Repeat callbacks between their start and their end.  A callback that
// copied the repeat event just before a stop still pushes it; shutting down
// waits for it, since SDL may tear its event queue down right after.
SDL_atomic_t g_inflight;
SDL_Event g_repeat_ev;
SDL_Event g_last_down;
bool g_have_last = false;

// Text produced by recent key presses, by scancode (0 = free slot).
struct TextEntry {
    int scancode;
    char text[4];
    uint64_t age;
};
constexpr int kTextEntries = 15;
TextEntry g_text[kTextEntries];
uint64_t g_text_clock = 0;

// A wheel step arrives as |y| button pairs; a huge y from a driver must not
// flood the queue.
constexpr int kMaxWheelPairs = 32;

class Guard {
  public:
    Guard()
    {
        if (SDL_LockMutex(g_lock) < 0)
            lm_fatal_lock("SDL_LockMutex");
    }
    ~Guard()
    {
        if (SDL_UnlockMutex(g_lock) < 0)
            lm_fatal_lock("SDL_UnlockMutex");
    }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;
};

void stop_timer_locked()
{
    if (g_timer) {
        SDL_RemoveTimer(g_timer);
        g_timer = 0;
    }
    ++g_timer_gen;
}

struct InFlight {
    InFlight() { SDL_AtomicIncRef(&g_inflight); }
    ~InFlight() { SDL_AtomicDecRef(&g_inflight); }
    InFlight(const InFlight &) = delete;
    InFlight &operator=(const InFlight &) = delete;
};

Uint32 SDLCALL repeat_callback(Uint32, void *param)
{
    // Counted before the generation check: a stop that bumps the generation
    // and then sees no callback in flight knows none will push.
    InFlight counted;
    SDL_Event copy;
    Uint32 interval;
    {
        Guard g;
        if (!g_timer || (uintptr_t)param != g_timer_gen)
            return 0;
        copy = g_repeat_ev;
        interval = g_interval > 0 ? (Uint32)g_interval : 0;
        if (!interval)
            g_timer = 0;
    }
    // Pushed outside the repeat lock: pushing takes SDL's event-watch lock
    // and runs the filter, which takes the repeat lock itself.
    copy.type = LM_REPEAT_CARRIER;
    copy.key.state = SDL_PRESSED;
    copy.key.repeat = 1;
    SDL_PushEvent(&copy);
    return interval;
}

TextEntry *find_text(int scancode)
{
    for (auto &t : g_text)
        if (t.scancode == scancode)
            return &t;
    return nullptr;
}

// An entry for `scancode`: its own, a free one, or else the oldest.
TextEntry *claim_text(int scancode)
{
    TextEntry *t = find_text(scancode);
    if (!t)
        t = find_text(0);
    if (!t) {
        t = &g_text[0];
        for (auto &c : g_text)
            if (c.age < t->age)
                t = &c;
    }
    t->scancode = scancode;
    t->age = ++g_text_clock;
    return t;
}

// First UTF-8 character of s (up to three bytes); empty for a four-byte
// character, a stray continuation byte or a truncated sequence.
void first_char(const char *s, char out[4])
{
    memset(out, 0, 4);
    unsigned char c = (unsigned char)s[0];
    int n = c < 0x80 ? 1 : (c >= 0xC0 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : 0;
    for (int i = 1; i < n; ++i)
        if (((unsigned char)s[i] & 0xC0) != 0x80)
            return;
    memcpy(out, s, (size_t)n);
}

// Character a key would type when no text input claimed it (0 = none).
int derive_char(SDL_Keycode ch, Uint16 mod)
{
    if (mod & KMOD_CTRL) {
        switch (ch) {
        case '2': case '@': return 0;
        case '3': case '[': return 27;
        case '4': case '\\': return 28;
        case '5': case ']': return 29;
        case '6': case '^': return 30;
        case '7': case '_': return 31;
        case '8': return 127;
        default: break;
        }
        if (ch >= 'a' && ch <= 'z')
            return ch - 'a' + 1;
    }
    if (ch > 127 || ch < 0) {
        switch (ch) {
        case SDLK_KP_DIVIDE: return '/';
        case SDLK_KP_MULTIPLY: return '*';
        case SDLK_KP_MINUS: return '-';
        case SDLK_KP_PLUS: return '+';
        case SDLK_KP_ENTER: return '\r';
        case SDLK_KP_PERIOD: return '.';
        case SDLK_KP_EQUALS: return '=';
        default: return 0;
        }
    }
    if (ch >= 'a' && ch <= 'z') {
        bool shift = (mod & KMOD_SHIFT) != 0;
        bool caps = (mod & KMOD_CAPS) != 0;
        if (shift != caps)
            return ch - 'a' + 'A';
    }
    return ch;
}

int SDLCALL drop_same_window(void *userdata, SDL_Event *e)
{
    const SDL_Event *k = static_cast<const SDL_Event *>(userdata);
    return !(e->type == k->type && e->window.windowID == k->window.windowID);
}

void window_compat(const SDL_Event *e)
{
    SDL_Event copy = *e;
    switch (e->window.event) {
    case SDL_WINDOWEVENT_EXPOSED:
        copy.type = LM_VIDEOEXPOSE;
        SDL_FilterEvents(drop_same_window, &copy);
        SDL_PushEvent(&copy);
        break;
    case SDL_WINDOWEVENT_RESIZED:
        copy.type = LM_VIDEORESIZE;
        SDL_FilterEvents(drop_same_window, &copy);
        SDL_PushEvent(&copy);
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_ENTER:
    case SDL_WINDOWEVENT_LEAVE:
    case SDL_WINDOWEVENT_FOCUS_GAINED:
    case SDL_WINDOWEVENT_FOCUS_LOST:
        copy.type = LM_ACTIVEEVENT;
        SDL_PushEvent(&copy);
        break;
    default:
        break;
    }
}

void wheel_buttons(const SDL_Event *e)
{
    int y = e->wheel.y;
    long long pairs = y < 0 ? -(long long)y : (long long)y;
    if (pairs > kMaxWheelPairs)
        pairs = kMaxWheelPairs;
    int mx = 0, my = 0;
    SDL_GetMouseState(&mx, &my);
    SDL_Event down;
    SDL_zero(down);
    down.type = SDL_MOUSEBUTTONDOWN;
    down.button.timestamp = e->wheel.timestamp;
    down.button.windowID = e->wheel.windowID;
    down.button.which = e->wheel.which;
    down.button.button = y > 0 ? 132 : 133;  // the filter renumbers to 4 / 5
    down.button.state = SDL_PRESSED;
    down.button.clicks = 1;
    down.button.x = mx;
    down.button.y = my;
    SDL_Event up = down;
    up.type = SDL_MOUSEBUTTONUP;
    up.button.state = SDL_RELEASED;
    for (long long i = 0; i < pairs; ++i) {
        SDL_Event a = down, b = up;
        SDL_PushEvent(&a);
        SDL_PushEvent(&b);
    }
}

int SDLCALL event_filter(void *, SDL_Event *e)
{
    switch (e->type) {
    case SDL_WINDOWEVENT:
        window_compat(e);
        break;
    case SDL_KEYDOWN: {
        if (e->key.repeat)
            return 0;
        Guard g;
        stop_timer_locked();
        if (g_delay > 0) {
            g_repeat_ev = *e;
            g_timer = SDL_AddTimer((Uint32)g_delay, repeat_callback,
                                   (void *)g_timer_gen);
        }
        g_last_down = *e;
        g_have_last = true;
        break;
    }
    case SDL_KEYUP: {
        Guard g;
        if (g_timer && e->key.keysym.scancode == g_repeat_ev.key.keysym.scancode)
            stop_timer_locked();
        break;
    }
    case SDL_TEXTINPUT: {
        Guard g;
        if (g_have_last) {
            TextEntry *t = claim_text(g_last_down.key.keysym.scancode);
            first_char(e->text.text, t->text);
            g_have_last = false;
        }
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        Uint8 b = e->button.button;
        if (b >= 128)
            e->button.button = (Uint8)(b - 128);
        else if (b > 3)
            e->button.button = (Uint8)(b + 2);
        break;
    }
    case SDL_MOUSEWHEEL:
        if (e->wheel.x == 0 && e->wheel.y == 0)
            return 0;
        if (e->wheel.y != 0)
            wheel_buttons(e);
        break;
    case LM_REPEAT_CARRIER:
        e->type = SDL_KEYDOWN;
        break;
    default:
        break;
    }
    return lm_event_enabled(e->type);
}

int SDLCALL window_retype(void *, SDL_Event *e)
{
    if (e->type != SDL_WINDOWEVENT)
        return 1;
    int code = e->window.event;
    // Codes without a public number would alias the repeat carrier or the
    // proxy block.
    if (code < 1 || code > LM_WINDOW_LAST - LM_WINDOW_BASE)
        return 0;
    e->type = (Uint32)(LM_WINDOW_BASE + code);
    return lm_event_enabled(e->type);
}

}  // namespace

[[noreturn]] void lm_fatal_lock(const char *what)
{
    // May run on SDL's threads without the interpreter: no Python calls.
    fprintf(stderr, "Fatal lumora error in %s: %s\n", what, SDL_GetError());
    fflush(stderr);
    _exit(1);
}

bool lm_event_enabled(Uint32 t)
{
    if (t > (Uint32)LM_QUEUE_LAST)
        return SDL_EventState(t, SDL_QUERY) == SDL_ENABLE;
    return SDL_EventState((Uint32)lmEvent_MapType((int)t, true), SDL_QUERY) == SDL_ENABLE;
}

int lm_filter_start(void)
{
    if (!g_lock) {
        g_lock = SDL_CreateMutex();
        if (!g_lock)
            return -1;
    }
    return 0;
}

void lm_filter_install(void (*before_flush)(void))
{
    SDL_EventFilter f = nullptr;
    void *ud = nullptr;
    if (SDL_GetEventFilter(&f, &ud) && f == event_filter)
        return;
    before_flush();
    SDL_SetEventFilter(event_filter, nullptr);
}

void lm_filter_reset_repeat(void)
{
    Guard g;
    g_delay = 0;
    g_interval = 0;
}

void lm_filter_stop_repeat(void)
{
    if (!g_lock)
        return;
    Guard g;
    stop_timer_locked();
}

bool lm_filter_wait_callbacks(Uint32 limit_ms)
{
    Uint64 end = SDL_GetTicks64() + limit_ms;
    while (SDL_AtomicGet(&g_inflight) > 0) {
        if (SDL_GetTicks64() >= end)
            return false;
        SDL_Delay(1);
    }
    return true;
}

void lm_filter_window_pass(void)
{
    SDL_FilterEvents(window_retype, nullptr);
}

int lmEvent_SetKeyRepeat(int delay, int interval)
{
    if (delay < 0 || interval < 0) {
        PyErr_SetString(PyExc_ValueError, "delay and interval must equal at least 0");
        return -1;
    }
    if (lm_filter_start() < 0) {
        lm_RaiseSDLError();
        return -1;
    }
    Guard g;
    g_delay = delay;
    g_interval = interval;
    return 0;
}

void lmEvent_GetKeyRepeat(int *delay, int *interval)
{
    if (!g_lock) {
        *delay = *interval = 0;
        return;
    }
    Guard g;
    *delay = g_delay;
    *interval = g_interval;
}

void lm_key_text(const SDL_Event *e, bool consume, char out[5])
{
    memset(out, 0, 5);
    int sc = e->key.keysym.scancode;
    if (!g_lock)
        return;
    Guard g;
    TextEntry *t = sc ? find_text(sc) : nullptr;
    if (t) {
        memcpy(out, t->text, 4);
        if (consume && e->type == SDL_KEYUP) {
            t->scancode = 0;
            memset(t->text, 0, 4);
        }
        return;
    }
    int ch = derive_char(e->key.keysym.sym, e->key.keysym.mod);
    if (ch > 0 && ch < 0x80)
        out[0] = (char)ch;
    // A key-up's text is read once and never again; only presses keep one.
    if (consume && e->type == SDL_KEYDOWN && sc) {
        TextEntry *n = claim_text(sc);
        memcpy(n->text, out, 4);
    }
}
