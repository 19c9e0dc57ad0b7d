// The Event type, type numbering and names, and SDL-event translation.
#include "event_internal.h"

#if __has_include(<SDL_syswm.h>)
#include <SDL_syswm.h>
#define LM_HAVE_SYSWM 1
#endif

#if PY_VERSION_HEX >= 0x030C0000
#define LM_T_INT Py_T_INT
#define LM_T_OBJ Py_T_OBJECT_EX
#define LM_RO Py_READONLY
#else
#include <structmember.h>
#define LM_T_INT T_INT
#define LM_T_OBJ T_OBJECT_EX
#define LM_RO READONLY
#endif

// Public types that Python posts under a proxy number: proxy = 0x8018 + index.
static const int proxied_types[] = {
    0x8000, 0x101,  0x102,  0x103,  0x104,  0x105,  0x106,  0x1100, 0x1101,
    0x900,  0x650,  0x651,  0x652,  0x653,  0x654,  0x655,  0x656,  0x657,
    0x658,  0x659,  0x800,  0x801,  0x1000, 0x1001, 0x1002, 0x1003, 0x702,
    0x700,  0x701,  0x300,  0x304,  0x301,  0x600,  0x601,  0x602,  0x603,
    0x604,  0x605,  0x606,  0x107,  0x8003, 0x8004, 0x400,  0x401,  0x402,
    0x403,  0x802,  0,      0x100,  0x2000, 0x2001, 0x201,  0x302,  0x303,
    0x8001, 0x8002, 0x8006, 0x8007, 0x8008, 0x8009, 0x800A, 0x800B, 0x800C,
    0x800D, 0x800E, 0x800F, 0x8010, 0x8011, 0x8012, 0x8013, 0x8014, 0x8015,
    0x8016, 0x8017,
};
static_assert(sizeof proxied_types / sizeof proxied_types[0] ==
                  LM_PROXY_LAST - LM_PROXY_FIRST + 1,
              "one proxy number per listed type");

PyObject *lm_str_type_obj = nullptr;

int lmEvent_MapType(int type, bool to_proxy)
{
    if (type >= LM_PROXY_FIRST && type <= LM_PROXY_LAST)
        return to_proxy ? type : proxied_types[type - LM_PROXY_FIRST];
    if (type > LM_PROXY_LAST)
        return type;
    for (int i = 0; i < (int)(sizeof proxied_types / sizeof proxied_types[0]); ++i)
        if (proxied_types[i] == type)
            return to_proxy ? LM_PROXY_FIRST + i : type;
    return type;
}

bool lm_event_type_queueable(int type)
{
    if (type < 0 || type > LM_TYPE_MAX)
        return false;
    // Anything that still sits below the proxy block after mapping would be
    // taken for a real SDL event (or the repeat carrier) and lose its dict.
    return lmEvent_MapType(type, true) >= LM_PROXY_FIRST;
}

const char *lm_event_name(int type)
{
    switch (type) {
    case 0: return "NoEvent";
    case 0x100: return "Quit";
    case 0x101: return "AppTerminating";
    case 0x102: return "AppLowMemory";
    case 0x103: return "AppWillEnterBackground";
    case 0x104: return "AppDidEnterBackground";
    case 0x105: return "AppWillEnterForeground";
    case 0x106: return "AppDidEnterForeground";
    case 0x107: return "LocaleChanged";
    case 0x201: return "SysWMEvent";
    case 0x300: return "KeyDown";
    case 0x301: return "KeyUp";
    case 0x302: return "TextEditing";
    case 0x303: return "TextInput";
    case 0x304: return "KeyMapChanged";
    case 0x400: return "MouseMotion";
    case 0x401: return "MouseButtonDown";
    case 0x402: return "MouseButtonUp";
    case 0x403: return "MouseWheel";
    case 0x600: return "JoyAxisMotion";
    case 0x601: return "JoyBallMotion";
    case 0x602: return "JoyHatMotion";
    case 0x603: return "JoyButtonDown";
    case 0x604: return "JoyButtonUp";
    case 0x605: return "JoyDeviceAdded";
    case 0x606: return "JoyDeviceRemoved";
    case 0x650: return "ControllerAxisMotion";
    case 0x651: return "ControllerButtonDown";
    case 0x652: return "ControllerButtonUp";
    case 0x653: return "ControllerDeviceAdded";
    case 0x654: return "ControllerDeviceRemoved";
    case 0x655: return "ControllerDeviceMapped";
    case 0x656: return "ControllerTouchpadDown";
    case 0x657: return "ControllerTouchpadMotion";
    case 0x658: return "ControllerTouchpadUp";
    case 0x659: return "ControllerSensorUpdate";
    case 0x700: return "FingerDown";
    case 0x701: return "FingerUp";
    case 0x702: return "FingerMotion";
    case 0x802: return "MultiGesture";
    case 0x900: return "ClipboardUpdate";
    case 0x1000: return "DropFile";
    case 0x1001: return "DropText";
    case 0x1002: return "DropBegin";
    case 0x1003: return "DropComplete";
    case 0x1100: return "AudioDeviceAdded";
    case 0x1101: return "AudioDeviceRemoved";
    case 0x2000: return "RenderTargetsReset";
    case 0x2001: return "RenderDeviceReset";
    case 0x8000: return "ActiveEvent";
    case 0x8001: return "VideoResize";
    case 0x8002: return "VideoExpose";
    case 0x8003: return "MidiIn";
    case 0x8004: return "MidiOut";
    case 0x8006: return "WindowShown";
    case 0x8007: return "WindowHidden";
    case 0x8008: return "WindowExposed";
    case 0x8009: return "WindowMoved";
    case 0x800A: return "WindowResized";
    case 0x800B: return "WindowSizeChanged";
    case 0x800C: return "WindowMinimized";
    case 0x800D: return "WindowMaximized";
    case 0x800E: return "WindowRestored";
    case 0x800F: return "WindowEnter";
    case 0x8010: return "WindowLeave";
    case 0x8011: return "WindowFocusGained";
    case 0x8012: return "WindowFocusLost";
    case 0x8013: return "WindowClose";
    case 0x8014: return "WindowTakeFocus";
    case 0x8015: return "WindowHitTest";
    case 0x8016: return "WindowICCProfChanged";
    case 0x8017: return "WindowDisplayChanged";
    default: break;
    }
    if (type >= LM_USEREVENT && type <= LM_TYPE_MAX)
        return "UserEvent";
    return "Unknown";
}

// ---------------------------------------------------------------------------
// The Event object.
// ---------------------------------------------------------------------------

// Builds an Event of public type `type`, taking over `dict` (a new reference).
static PyObject *event_wrap(int type, PyObject *dict)
{
    lmEventObject *ev = PyObject_GC_New(lmEventObject, &lmEvent_Type);
    if (!ev) {
        Py_DECREF(dict);
        return nullptr;
    }
    ev->type = type;
    ev->dict = dict;
    PyObject_GC_Track((PyObject *)ev);
    return (PyObject *)ev;
}

static PyObject *event_tp_new(PyTypeObject *type, PyObject *, PyObject *)
{
    // A fresh Event always owns a dictionary, even before __init__ runs, so
    // attribute access and repr never meet a null one.
    PyObject *self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    lmEventObject *ev = (lmEventObject *)self;
    ev->dict = PyDict_New();
    if (!ev->dict) {
        Py_DECREF(self);
        return nullptr;
    }
    return self;
}

static int event_tp_init(PyObject *self, PyObject *args, PyObject *kwargs)
{
    int type = 0;
    PyObject *dict = nullptr;
    if (!PyArg_ParseTuple(args, "i|O!", &type, &PyDict_Type, &dict))
        return -1;
    // Refuse a "type" key before touching the caller's dictionary.
    if (kwargs) {
        int has = PyDict_Contains(kwargs, lm_str_type());
        if (has < 0)
            return -1;
        if (has) {
            PyErr_SetString(PyExc_ValueError, "redundant type field in event dict");
            return -1;
        }
    }
    if (dict) {
        int has = PyDict_Contains(dict, lm_str_type());
        if (has < 0)
            return -1;
        if (has) {
            PyErr_SetString(PyExc_ValueError, "redundant type field in event dict");
            return -1;
        }
        Py_INCREF(dict);
    } else {
        dict = PyDict_New();
        if (!dict)
            return -1;
    }
    if (kwargs && PyDict_Update(dict, kwargs) < 0) {
        Py_DECREF(dict);
        return -1;
    }
    lmEventObject *ev = (lmEventObject *)self;
    PyObject *old = ev->dict;
    ev->type = lmEvent_MapType(type, false);
    ev->dict = dict;
    Py_XDECREF(old);
    return 0;
}

static int event_traverse(PyObject *self, visitproc visit, void *arg)
{
    Py_VISIT(((lmEventObject *)self)->dict);
    return 0;
}

static int event_clear(PyObject *self)
{
    Py_CLEAR(((lmEventObject *)self)->dict);
    return 0;
}

static void event_dealloc(PyObject *self)
{
    PyObject_GC_UnTrack(self);
    Py_CLEAR(((lmEventObject *)self)->dict);
    Py_TYPE(self)->tp_free(self);
}

LM_EXPORT PyObject *lm_event_str(PyObject *self)
{
    lmEventObject *ev = (lmEventObject *)self;
    PyObject *dict = ev->dict ? ev->dict : Py_None;
    return PyUnicode_FromFormat("<Event(%d-%s %S)>", ev->type,
                                lm_event_name(ev->type), dict);
}

static int event_bool(PyObject *self)
{
    return ((lmEventObject *)self)->type != 0;
}

static PyObject *event_richcompare(PyObject *a, PyObject *b, int op)
{
    if (Py_TYPE(a) != &lmEvent_Type || Py_TYPE(b) != &lmEvent_Type ||
        (op != Py_EQ && op != Py_NE))
        Py_RETURN_NOTIMPLEMENTED;
    lmEventObject *x = (lmEventObject *)a, *y = (lmEventObject *)b;
    if (x->type != y->type)
        return PyBool_FromLong(op == Py_NE);
    int eq = PyObject_RichCompareBool(x->dict, y->dict, Py_EQ);
    if (eq < 0)
        return nullptr;
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

static PyMemberDef event_members[] = {
    {"type", LM_T_INT, offsetof(lmEventObject, type), LM_RO, "the event type number"},
    {"dict", LM_T_OBJ, offsetof(lmEventObject, dict), LM_RO, "the event's attribute dictionary"},
    {"__dict__", LM_T_OBJ, offsetof(lmEventObject, dict), LM_RO, "the event's attribute dictionary"},
    {nullptr, 0, 0, 0, nullptr},
};

static PyNumberMethods event_as_number = [] {
    PyNumberMethods m{};
    m.nb_bool = event_bool;
    return m;
}();

PyTypeObject lmEvent_Type = [] {
    PyTypeObject t{};
    const PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
    t.ob_base = head;
    t.tp_name = "lumora.event.Event";
    t.tp_basicsize = sizeof(lmEventObject);
    t.tp_dealloc = event_dealloc;
    t.tp_repr = lm_event_str;
    t.tp_as_number = &event_as_number;
    t.tp_getattro = PyObject_GenericGetAttr;
    t.tp_setattro = PyObject_GenericSetAttr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = "Event(type, dict=None, **attributes) -> Event\n"
               "an event with a type number and attributes";
    t.tp_traverse = event_traverse;
    t.tp_clear = event_clear;
    t.tp_richcompare = event_richcompare;
    t.tp_members = event_members;
    t.tp_dictoffset = offsetof(lmEventObject, dict);
    t.tp_init = event_tp_init;
    t.tp_new = event_tp_new;
    return t;
}();

PyObject *lmEvent_New(int type, PyObject *dict)
{
    if (dict) {
        int has = PyDict_Contains(dict, lm_str_type());
        if (has < 0)
            return nullptr;
        if (has) {
            PyErr_SetString(PyExc_ValueError, "redundant type field in event dict");
            return nullptr;
        }
        Py_INCREF(dict);
    } else {
        dict = PyDict_New();
        if (!dict)
            return nullptr;
    }
    return event_wrap(lmEvent_MapType(type, false), dict);
}

int lmEvent_FillSDL(PyObject *obj, SDL_Event *out)
{
    lmEventObject *ev = (lmEventObject *)obj;
    SDL_zerop(out);
    if (!lm_event_type_queueable(ev->type)) {
        // Left as a harmless empty event in case a caller pushes it anyway.
        PyErr_SetString(PyExc_ValueError, "event type out of range");
        return -1;
    }
    out->type = (Uint32)lmEvent_MapType(ev->type, true);
    out->user.code = LM_POSTED_CODE;
    Py_INCREF(ev->dict);
    out->user.data1 = ev->dict;
    return 0;
}

void lm_event_release_posted(const SDL_Event *e)
{
    if (e->type >= (Uint32)LM_PROXY_FIRST && e->user.code == LM_POSTED_CODE &&
        e->user.data1)
        Py_DECREF((PyObject *)e->user.data1);
}

void lm_event_release_posted_n(const SDL_Event *e, int n)
{
    for (int i = 0; i < n; ++i)
        lm_event_release_posted(&e[i]);
}

// ---------------------------------------------------------------------------
// Joystick instance map.
// ---------------------------------------------------------------------------
PyObject *lm_joy_instance_map = nullptr;

LM_EXPORT int _joy_map_add(int device_index)
{
    SDL_JoystickID inst = SDL_JoystickGetDeviceInstanceID(device_index);
    if (inst == -1 || !lm_joy_instance_map)
        return 0;
    lm::Ref k(PyLong_FromLong(inst)), v(PyLong_FromLong(device_index));
    if (!k || !v)
        return -1;
    return PyDict_SetItem(lm_joy_instance_map, k.get(), v.get());
}

LM_EXPORT PyObject *_joy_map_instance(int instance_id)
{
    lm::Ref k(PyLong_FromLong(instance_id));
    if (!k)
        return nullptr;
    if (lm_joy_instance_map) {
        PyObject *v = PyDict_GetItemWithError(lm_joy_instance_map, k.get());
        if (v) {
            Py_INCREF(v);
            return v;
        }
        if (PyErr_Occurred())
            return nullptr;
    }
    return k.release();
}

LM_EXPORT int _joy_map_discard(int instance_id)
{
    if (!lm_joy_instance_map)
        return 0;
    lm::Ref k(PyLong_FromLong(instance_id));
    if (!k)
        return -1;
    int has = PyDict_Contains(lm_joy_instance_map, k.get());
    if (has <= 0)
        return has;
    return PyDict_DelItem(lm_joy_instance_map, k.get());
}

// ---------------------------------------------------------------------------
// Translation of SDL events.
// ---------------------------------------------------------------------------
namespace {

// Stores d[key] = value, taking over `value`; a value that failed to build
// is skipped and its error dropped, so a partial dictionary still comes back.
void put(PyObject *d, const char *key, PyObject *value)
{
    if (!value) {
        PyErr_Clear();
        return;
    }
    if (PyDict_SetItemString(d, key, value) < 0)
        PyErr_Clear();
    Py_DECREF(value);
}

void put_int(PyObject *d, const char *key, long long v) { put(d, key, PyLong_FromLongLong(v)); }
void put_float(PyObject *d, const char *key, double v) { put(d, key, PyFloat_FromDouble(v)); }
void put_bool(PyObject *d, const char *key, bool v) { put(d, key, PyBool_FromLong(v)); }
void put_pair(PyObject *d, const char *key, long long a, long long b)
{
    put(d, key, Py_BuildValue("(LL)", a, b));
}

PyObject *window_object(Uint32 window_id)
{
    SDL_Window *w = SDL_GetWindowFromID(window_id);
    if (w) {
        PyObject *o = static_cast<PyObject *>(SDL_GetWindowData(w, "lm_window"));
        if (o) {
            Py_INCREF(o);
            return o;
        }
    }
    Py_RETURN_NONE;
}

void put_window(PyObject *d, Uint32 window_id) { put(d, "window", window_object(window_id)); }

void put_guid(PyObject *d, int device_index)
{
    char buf[33];
    SDL_JoystickGUID guid = SDL_JoystickGetDeviceGUID(device_index);
    SDL_JoystickGetGUIDString(guid, buf, sizeof buf);
    put(d, "guid", PyUnicode_FromString(buf));
}

// SDL hands over drop strings; free them only once the event left the queue.
void put_drop_string(PyObject *d, const char *key, char *s, bool consume)
{
    if (s) {
        put(d, key, PyUnicode_FromString(s));
        if (consume)
            SDL_free(s);
    }
}

void fill_active(PyObject *d, Uint8 code)
{
    int gain, state;
    switch (code) {
    case SDL_WINDOWEVENT_MINIMIZED: gain = 0; state = 4; break;
    case SDL_WINDOWEVENT_RESTORED: gain = 1; state = 4; break;
    case SDL_WINDOWEVENT_ENTER: gain = 1; state = 1; break;
    case SDL_WINDOWEVENT_LEAVE: gain = 0; state = 1; break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: gain = 1; state = 2; break;
    case SDL_WINDOWEVENT_FOCUS_LOST: gain = 0; state = 2; break;
    default: return;
    }
    put_int(d, "gain", gain);
    put_int(d, "state", state);
}

int hat_x(Uint8 v) { return (v & SDL_HAT_RIGHT) ? 1 : (v & SDL_HAT_LEFT) ? -1 : 0; }
int hat_y(Uint8 v) { return (v & SDL_HAT_UP) ? 1 : (v & SDL_HAT_DOWN) ? -1 : 0; }

void fill_dict(PyObject *d, const SDL_Event *e, bool consume)
{
    switch (e->type) {
#ifdef LM_HAVE_SYSWM
    case SDL_SYSWMEVENT: {
#if defined(SDL_VIDEO_DRIVER_X11)
        const SDL_SysWMmsg *m = e->syswm.msg;
        if (m && m->subsystem == SDL_SYSWM_X11)
            put(d, "event", PyBytes_FromStringAndSize(
                                (const char *)&m->msg.x11.event,
                                sizeof m->msg.x11.event));
#endif
        break;
    }
#endif
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        char text[5];
        lm_key_text(e, consume, text);
        put(d, "unicode", PyUnicode_FromString(text));
        put_int(d, "key", e->key.keysym.sym);
        put_int(d, "mod", e->key.keysym.mod);
        put_int(d, "scancode", e->key.keysym.scancode);
        put_window(d, e->key.windowID);
        break;
    }
    case SDL_TEXTEDITING:
        put(d, "text", PyUnicode_FromString(e->edit.text));
        put_int(d, "start", e->edit.start);
        put_int(d, "length", e->edit.length);
        put_window(d, e->edit.windowID);
        break;
    case SDL_TEXTINPUT:
        put(d, "text", PyUnicode_FromString(e->text.text));
        put_window(d, e->text.windowID);
        break;
    case SDL_MOUSEMOTION: {
        Uint32 st = e->motion.state;
        put_pair(d, "pos", e->motion.x, e->motion.y);
        put_pair(d, "rel", e->motion.xrel, e->motion.yrel);
        put(d, "buttons", Py_BuildValue("(iii)", (int)(st & 1), (int)((st >> 1) & 1),
                                        (int)((st >> 2) & 1)));
        put_bool(d, "touch", e->motion.which == SDL_TOUCH_MOUSEID);
        put_window(d, e->motion.windowID);
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        put_pair(d, "pos", e->button.x, e->button.y);
        put_int(d, "button", e->button.button);
        put_bool(d, "touch", e->button.which == SDL_TOUCH_MOUSEID);
        put_window(d, e->button.windowID);
        break;
    case SDL_MOUSEWHEEL:
        put_bool(d, "flipped", false);
        put_int(d, "x", e->wheel.x);
        put_int(d, "y", e->wheel.y);
#if SDL_VERSION_ATLEAST(2, 0, 18)
        put_float(d, "precise_x", e->wheel.preciseX);
        put_float(d, "precise_y", e->wheel.preciseY);
#else
        put_float(d, "precise_x", e->wheel.x);
        put_float(d, "precise_y", e->wheel.y);
#endif
        put_bool(d, "touch", e->wheel.which == SDL_TOUCH_MOUSEID);
        put_window(d, e->wheel.windowID);
        break;
    case SDL_JOYAXISMOTION:
        put(d, "joy", _joy_map_instance(e->jaxis.which));
        put_int(d, "instance_id", e->jaxis.which);
        put_int(d, "axis", e->jaxis.axis);
        put_float(d, "value", e->jaxis.value / 32767.0);
        break;
    case SDL_JOYBALLMOTION:
        put(d, "joy", _joy_map_instance(e->jball.which));
        put_int(d, "instance_id", e->jball.which);
        put_int(d, "ball", e->jball.ball);
        put_pair(d, "rel", e->jball.xrel, e->jball.yrel);
        break;
    case SDL_JOYHATMOTION:
        put(d, "joy", _joy_map_instance(e->jhat.which));
        put_int(d, "instance_id", e->jhat.which);
        put_int(d, "hat", e->jhat.hat);
        put_pair(d, "value", hat_x(e->jhat.value), hat_y(e->jhat.value));
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        put(d, "joy", _joy_map_instance(e->jbutton.which));
        put_int(d, "instance_id", e->jbutton.which);
        put_int(d, "button", e->jbutton.button);
        break;
    case SDL_JOYDEVICEADDED:
        if (_joy_map_add(e->jdevice.which) < 0)
            PyErr_Clear();
        put_int(d, "device_index", e->jdevice.which);
        put_guid(d, e->jdevice.which);
        break;
    case SDL_JOYDEVICEREMOVED:
        if (_joy_map_discard(e->jdevice.which) < 0)
            PyErr_Clear();
        put_int(d, "instance_id", e->jdevice.which);
        break;
    case SDL_CONTROLLERAXISMOTION:
        put_int(d, "instance_id", e->caxis.which);
        put_int(d, "axis", e->caxis.axis);
        put_int(d, "value", e->caxis.value);
        break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        put_int(d, "instance_id", e->cbutton.which);
        put_int(d, "button", e->cbutton.button);
        break;
    case SDL_CONTROLLERDEVICEADDED:
        put_int(d, "device_index", e->cdevice.which);
        put_guid(d, e->cdevice.which);
        break;
    case SDL_CONTROLLERDEVICEREMOVED:
    case SDL_CONTROLLERDEVICEREMAPPED:
        put_int(d, "instance_id", e->cdevice.which);
        break;
#if SDL_VERSION_ATLEAST(2, 0, 14)
    case SDL_CONTROLLERTOUCHPADDOWN:
    case SDL_CONTROLLERTOUCHPADMOTION:
    case SDL_CONTROLLERTOUCHPADUP:
        put_int(d, "instance_id", e->ctouchpad.which);
        put_int(d, "touch_id", e->ctouchpad.touchpad);
        put_int(d, "finger_id", e->ctouchpad.finger);
        put_float(d, "x", e->ctouchpad.x);
        put_float(d, "y", e->ctouchpad.y);
        put_float(d, "pressure", e->ctouchpad.pressure);
        break;
#endif
    case SDL_FINGERMOTION:
    case SDL_FINGERDOWN:
    case SDL_FINGERUP:
        put_int(d, "touch_id", e->tfinger.touchId);
        put_int(d, "finger_id", e->tfinger.fingerId);
        put_float(d, "x", e->tfinger.x);
        put_float(d, "y", e->tfinger.y);
        put_float(d, "dx", e->tfinger.dx);
        put_float(d, "dy", e->tfinger.dy);
        put_float(d, "pressure", e->tfinger.pressure);
#if SDL_VERSION_ATLEAST(2, 0, 12)
        put_window(d, e->tfinger.windowID);
#else
        put(d, "window", (Py_INCREF(Py_None), Py_None));
#endif
        break;
    case SDL_MULTIGESTURE:
        put_int(d, "touch_id", e->mgesture.touchId);
        put_float(d, "x", e->mgesture.x);
        put_float(d, "y", e->mgesture.y);
        put_float(d, "rotated", e->mgesture.dTheta);
        put_float(d, "pinched", e->mgesture.dDist);
        put_int(d, "num_fingers", e->mgesture.numFingers);
        break;
    case SDL_DROPFILE:
        put_drop_string(d, "file", e->drop.file, consume);
        put_window(d, e->drop.windowID);
        break;
    case SDL_DROPTEXT:
        put_drop_string(d, "text", e->drop.file, consume);
        put_window(d, e->drop.windowID);
        break;
    case SDL_DROPBEGIN:
    case SDL_DROPCOMPLETE:
        put_window(d, e->drop.windowID);
        break;
    case SDL_AUDIODEVICEADDED:
    case SDL_AUDIODEVICEREMOVED:
        put_int(d, "which", e->adevice.which);
        put_int(d, "iscapture", e->adevice.iscapture);
        break;
    case LM_ACTIVEEVENT:
        fill_active(d, e->window.event);
        break;
    case LM_VIDEORESIZE:
        put_pair(d, "size", e->window.data1, e->window.data2);
        put_int(d, "w", e->window.data1);
        put_int(d, "h", e->window.data2);
        break;
    case 0x8009:
    case 0x800A:
    case 0x800B:
        put_int(d, "x", e->window.data1);
        put_int(d, "y", e->window.data2);
        put_window(d, e->window.windowID);
        break;
    case 0x8017:
        put_int(d, "display_index", e->window.data1);
        put_int(d, "x", e->window.data1);
        put_int(d, "y", e->window.data2);
        put_window(d, e->window.windowID);
        break;
    default:
        if ((e->type >= 0x8006 && e->type <= 0x8008) ||
            (e->type >= 0x800C && e->type <= 0x8016))
            put_window(d, e->window.windowID);
        break;
    }
}

}  // namespace

PyObject *lm_event_translate(const SDL_Event *e, bool consume)
{
    if (!e)
        return lmEvent_New(0, nullptr);
    Uint32 raw = e->type;
    int type = raw > (Uint32)INT_MAX ? (int)raw : lmEvent_MapType((int)raw, false);
    if (raw > (Uint32)LM_WINDOW_LAST && e->user.code == LM_POSTED_CODE &&
        e->user.data1) {
        PyObject *dict = static_cast<PyObject *>(e->user.data1);
        if (!consume)
            Py_INCREF(dict);
        return event_wrap(type, dict);
    }
    PyObject *dict = PyDict_New();
    if (!dict)
        return nullptr;
    fill_dict(dict, e, consume);
    return event_wrap(type, dict);
}

PyObject *lmEvent_FromSDL(const SDL_Event *e)
{
    return lm_event_translate(e, true);
}
