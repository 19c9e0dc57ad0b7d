// Shared declarations of the files of lumora.event.
#pragma once

#define LUMORA_MODULE_EVENT
#include "frame.h"

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

// Marks an SDL event that carries an Event dictionary posted from Python:
// the first data pointer then holds a strong reference to that dictionary.
#define LM_POSTED_CODE ((Sint32)0xFEEDF00D)

enum : int {
    LM_NOEVENT = 0,
    LM_ACTIVEEVENT = 0x8000,
    LM_VIDEORESIZE = 0x8001,
    LM_VIDEOEXPOSE = 0x8002,
    LM_MIDIIN = 0x8003,
    LM_MIDIOUT = 0x8004,
    LM_REPEAT_CARRIER = 0x8005,  // key repeats travel under this, read as key down
    LM_WINDOW_BASE = 0x8005,     // window event code k (1..18) -> 0x8005 + k
    LM_WINDOW_FIRST = 0x8006,
    LM_WINDOW_LAST = 0x8017,
    LM_PROXY_FIRST = 0x8018,
    LM_PROXY_LAST = 0x8061,
    LM_USEREVENT = 0x8062,
    LM_FIRST_CUSTOM = 0x8063,
    LM_TYPE_MAX = 0xFFFE,        // highest valid type number
    LM_QUEUE_LAST = 0xFFFF,      // read range of the queue is 0..0xFFFF
};

struct lmEventObject {
    PyObject_HEAD
    int type;
    PyObject *dict;
};

extern PyTypeObject lmEvent_Type;

// Public type <-> proxy number; unlisted numbers come back unchanged.
int lmEvent_MapType(int type, bool to_proxy);
const char *lm_event_name(int type);
// True when a Python Event of this type can travel through SDL's queue and
// come back with its dictionary (a proxy or user number after mapping).
bool lm_event_type_queueable(int type);

// C API slots.
PyObject *lmEvent_FromSDL(const SDL_Event *e);
PyObject *lmEvent_New(int type, PyObject *dict);
int lmEvent_FillSDL(PyObject *ev, SDL_Event *out);
int lmEvent_SetKeyRepeat(int delay, int interval);
void lmEvent_GetKeyRepeat(int *delay, int *interval);

// Translation.  `consume` is true when the event has been taken off the
// queue: the posted dictionary reference passes to the new Event and SDL-owned
// strings are freed.  When false (peek) the queue keeps everything it owns.
PyObject *lm_event_translate(const SDL_Event *e, bool consume);
// Releases the dictionary reference held by a posted event, if it is one.
// The GIL must be held.
void lm_event_release_posted(const SDL_Event *e);
void lm_event_release_posted_n(const SDL_Event *e, int n);

// Filter side (event_filter.cpp).
int lm_filter_start(void);        // creates the repeat lock; -1 with SDL error text
// (Re)installs the SDL event filter; installing flushes SDL's queue, so
// `before_flush` runs first when it is not already in place.
void lm_filter_install(void (*before_flush)(void));
void lm_filter_reset_repeat(void);  // delay/interval to 0
void lm_filter_stop_repeat(void);   // removes a pending repeat timer
// Waits (up to limit_ms) until no repeat callback is running; false on
// time-out.  Touches no Python object: call it without the GIL, since a
// callback's push may wait for a thread that wants the GIL.
bool lm_filter_wait_callbacks(Uint32 limit_ms);
void lm_filter_window_pass(void);   // read-time window filter over the queue
bool lm_event_enabled(Uint32 sdl_type);
// Text for a key event ("unicode"); writes up to 4 bytes + NUL into out.
void lm_key_text(const SDL_Event *e, bool consume, char out[5]);

// Joystick instance map (module attribute "_joy_instance_map").
extern PyObject *lm_joy_instance_map;
LM_EXPORT int _joy_map_add(int device_index);
LM_EXPORT PyObject *_joy_map_instance(int instance_id);
LM_EXPORT int _joy_map_discard(int instance_id);
LM_EXPORT PyObject *lm_event_str(PyObject *self);

[[noreturn]] void lm_fatal_lock(const char *what);

// Interned "type", made at module import.
extern PyObject *lm_str_type_obj;
static inline PyObject *lm_str_type(void) { return lm_str_type_obj; }

