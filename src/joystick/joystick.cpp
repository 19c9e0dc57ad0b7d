// lumora.joystick: SDL joysticks, one shared object per open device.
//
// Every open joystick is recorded in lumora.event's _joy_instance_map
// (instance id -> device index) so that joystick events can name the
// device index they came from.
#define LUMORA_MODULE_JOYSTICK
#include "frame.h"

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

struct lmJoystickObject {
    PyObject_HEAD
    int device_index;
    SDL_Joystick *handle;  // null after the object's quit()
    lmJoystickObject *next, *prev;
};

static PyTypeObject lmJoystick_Type = lm_blank_type();

namespace {

lmJoystickObject *g_list = nullptr;  // every live Joystick, newest first
// Strong reference: the event module's attribute may be rebound or deleted
// by Python code, which must not free the dictionary under us.
PyObject *g_instance_map = nullptr;

bool joy_subsystem_or_raise()
{
    if (SDL_WasInit(SDL_INIT_JOYSTICK))
        return true;
    PyErr_SetString(lmExc_SDLError, "joystick system not initialized");
    return false;
}

bool joy_handle_or_raise(lmJoystickObject *j)
{
    if (j->handle)
        return true;
    PyErr_SetString(lmExc_SDLError, "Joystick not initialized");
    return false;
}

// Both checks every state query makes.
bool joy_ready(lmJoystickObject *j)
{
    return joy_subsystem_or_raise() && joy_handle_or_raise(j);
}

#define JOY_READY(self)                                  \
    lmJoystickObject *j = (lmJoystickObject *)(self);    \
    if (!joy_ready(j))                                   \
        return nullptr;

int joy_register(lmJoystickObject *j)
{
    SDL_JoystickID inst = SDL_JoystickInstanceID(j->handle);
    if (inst < 0) {
        lm_RaiseSDLError();
        return -1;
    }
    lm::Ref k(PyLong_FromLong(inst)), v(PyLong_FromLong(j->device_index));
    if (!k || !v)
        return -1;
    return PyDict_SetItem(g_instance_map, k.get(), v.get());
}

void joy_unlink(lmJoystickObject *j)
{
    if (j->prev)
        j->prev->next = j->next;
    else if (g_list == j)
        g_list = j->next;
    if (j->next)
        j->next->prev = j->prev;
    j->next = j->prev = nullptr;
}

}  // namespace

LM_EXPORT const char *_lm_powerlevel_string(SDL_JoystickPowerLevel level)
{
    switch (level) {
    case SDL_JOYSTICK_POWER_EMPTY: return "empty";
    case SDL_JOYSTICK_POWER_LOW: return "low";
    case SDL_JOYSTICK_POWER_MEDIUM: return "medium";
    case SDL_JOYSTICK_POWER_FULL: return "full";
    case SDL_JOYSTICK_POWER_WIRED: return "wired";
    case SDL_JOYSTICK_POWER_MAX: return "max";
    default: return "unknown";
    }
}

static PyObject *lmJoystick_New(int id)
{
    if (id < 0 || id >= SDL_NumJoysticks()) {
        PyErr_SetString(lmExc_SDLError, "Invalid joystick device number");
        return nullptr;
    }
    SDL_Joystick *h = SDL_JoystickOpen(id);
    if (!h)
        return lm_RaiseSDLError();
    for (lmJoystickObject *j = g_list; j; j = j->next) {
        if (j->handle == h) {
            // SDL counted this open again; the object already owns one.
            SDL_JoystickClose(h);
            Py_INCREF(j);
            return (PyObject *)j;
        }
    }
    lmJoystickObject *j = PyObject_New(lmJoystickObject, &lmJoystick_Type);
    if (!j) {
        SDL_JoystickClose(h);
        return nullptr;
    }
    j->device_index = id;
    j->handle = h;
    j->prev = nullptr;
    j->next = g_list;
    if (g_list)
        g_list->prev = j;
    g_list = j;
    if (joy_register(j) < 0) {
        Py_DECREF(j);
        return nullptr;
    }
    return (PyObject *)j;
}

// ---------------------------------------------------------------------------
// Joystick type
// ---------------------------------------------------------------------------
static PyObject *joy_new(PyTypeObject *, PyObject *args, PyObject *kwds)
{
    int id;
    static const char *kwlist[] = {"id", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "i", (char **)kwlist, &id))
        return nullptr;
    if (!joy_subsystem_or_raise())
        return nullptr;
    return lmJoystick_New(id);
}

static void joy_dealloc(PyObject *self)
{
    lmJoystickObject *j = (lmJoystickObject *)self;
    // After SDL's joystick subsystem went down its handles are gone.
    if (j->handle && SDL_WasInit(SDL_INIT_JOYSTICK))
        SDL_JoystickClose(j->handle);
    j->handle = nullptr;
    joy_unlink(j);
    PyObject_Free(self);
}

static PyObject *joy_init(PyObject *self, PyObject *)
{
    lmJoystickObject *j = (lmJoystickObject *)self;
    if (!j->handle) {
        j->handle = SDL_JoystickOpen(j->device_index);
        if (!j->handle)
            return lm_RaiseSDLError();
    }
    if (joy_register(j) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

static PyObject *joy_quit(PyObject *self, PyObject *)
{
    lmJoystickObject *j = (lmJoystickObject *)self;
    if (!joy_subsystem_or_raise())
        return nullptr;
    if (j->handle) {
        SDL_JoystickClose(j->handle);
        j->handle = nullptr;
    }
    Py_RETURN_NONE;
}

static PyObject *joy_get_init(PyObject *self, PyObject *)
{
    return PyBool_FromLong(((lmJoystickObject *)self)->handle != nullptr);
}

static PyObject *joy_get_id(PyObject *self, PyObject *)
{
    return PyLong_FromLong(((lmJoystickObject *)self)->device_index);
}

static PyObject *joy_get_guid(PyObject *self, PyObject *)
{
    lmJoystickObject *j = (lmJoystickObject *)self;
    if (!joy_subsystem_or_raise())
        return nullptr;
    SDL_JoystickGUID guid = j->handle ? SDL_JoystickGetGUID(j->handle)
                                      : SDL_JoystickGetDeviceGUID(j->device_index);
    char text[33];
    SDL_JoystickGetGUIDString(guid, text, sizeof text);
    return PyUnicode_FromString(text);
}

static PyObject *joy_get_power_level(PyObject *self, PyObject *)
{
    JOY_READY(self);
    return PyUnicode_FromString(
        _lm_powerlevel_string(SDL_JoystickCurrentPowerLevel(j->handle)));
}

// A motor strength in 0 ... 1 as SDL's 16-bit scale; NaN means off.
static Uint16 rumble_strength(double v)
{
    if (std::isnan(v) || v < 0.0)
        return 0;
    if (v > 1.0)
        return 0xFFFF;
    return (Uint16)(unsigned)(v * 65535.0);
}

static PyObject *joy_rumble(PyObject *self, PyObject *args, PyObject *kwds)
{
    double low, high;
    unsigned int duration;
    static const char *kwlist[] = {"low_frequency", "high_frequency", "duration", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "ddI", (char **)kwlist,
                                     &low, &high, &duration))
        return nullptr;
    JOY_READY(self);
    int r = SDL_JoystickRumble(j->handle, rumble_strength(low),
                               rumble_strength(high), duration);
    return PyBool_FromLong(r != -1);
}

static PyObject *joy_stop_rumble(PyObject *self, PyObject *)
{
    JOY_READY(self);
    SDL_JoystickRumble(j->handle, 0, 0, 1);
    Py_RETURN_NONE;
}

static PyObject *joy_get_name(PyObject *self, PyObject *)
{
    // A closed handle has no name: SDL would hand back null.
    JOY_READY(self);
    const char *name = SDL_JoystickName(j->handle);
    return PyUnicode_FromString(name ? name : "");
}

// Counts and the instance id share one shape.
template <int (*count)(SDL_Joystick *)>
static PyObject *joy_count(PyObject *self, PyObject *)
{
    JOY_READY(self);
    return PyLong_FromLong(count(j->handle));
}

// Parses the index of a numbered getter and checks it against `count`.
static bool joy_index_arg(PyObject *self, PyObject *args, int (*count)(SDL_Joystick *),
                          const char *what, int *i, SDL_Joystick **h)
{
    if (!PyArg_ParseTuple(args, "i", i))
        return false;
    lmJoystickObject *j = (lmJoystickObject *)self;
    if (!joy_ready(j))
        return false;
    if (*i < 0 || *i >= count(j->handle)) {
        PyErr_SetString(lmExc_SDLError, what);
        return false;
    }
    *h = j->handle;
    return true;
}

static PyObject *joy_get_axis(PyObject *self, PyObject *args)
{
    int i;
    SDL_Joystick *h;
    if (!joy_index_arg(self, args, SDL_JoystickNumAxes, "Invalid joystick axis", &i, &h))
        return nullptr;
    return PyFloat_FromDouble(SDL_JoystickGetAxis(h, i) / 32768.0);
}

static PyObject *joy_get_button(PyObject *self, PyObject *args)
{
    int i;
    SDL_Joystick *h;
    if (!joy_index_arg(self, args, SDL_JoystickNumButtons, "Invalid joystick button", &i, &h))
        return nullptr;
    return PyLong_FromLong(SDL_JoystickGetButton(h, i) ? 1 : 0);
}

static PyObject *joy_get_ball(PyObject *self, PyObject *args)
{
    int i;
    SDL_Joystick *h;
    if (!joy_index_arg(self, args, SDL_JoystickNumBalls, "Invalid joystick trackball", &i, &h))
        return nullptr;
    int dx = 0, dy = 0;
    SDL_JoystickGetBall(h, i, &dx, &dy);
    return Py_BuildValue("(ii)", dx, dy);
}

static PyObject *joy_get_hat(PyObject *self, PyObject *args)
{
    int i;
    SDL_Joystick *h;
    if (!joy_index_arg(self, args, SDL_JoystickNumHats, "Invalid joystick hat", &i, &h))
        return nullptr;
    Uint8 v = SDL_JoystickGetHat(h, i);
    int x = (v & SDL_HAT_RIGHT) ? 1 : (v & SDL_HAT_LEFT) ? -1 : 0;
    int y = (v & SDL_HAT_UP) ? 1 : (v & SDL_HAT_DOWN) ? -1 : 0;
    return Py_BuildValue("(ii)", x, y);
}

static int instance_id_of(SDL_Joystick *h)
{
    return (int)SDL_JoystickInstanceID(h);
}

#define CF(f) ((PyCFunction)(void (*)(void))(f))

static PyMethodDef joy_methods[] = {
    {"init", joy_init, METH_NOARGS, "init() -> None\ninitialize the Joystick"},
    {"quit", joy_quit, METH_NOARGS, "quit() -> None\nuninitialize the Joystick"},
    {"get_init", joy_get_init, METH_NOARGS,
     "get_init() -> bool\ncheck if the Joystick is initialized"},
    {"get_id", joy_get_id, METH_NOARGS,
     "get_id() -> int\nget the device index (deprecated)"},
    {"get_instance_id", joy_count<instance_id_of>, METH_NOARGS,
     "get_instance_id() -> int\nget the joystick instance id"},
    {"get_guid", joy_get_guid, METH_NOARGS,
     "get_guid() -> str\nget the joystick GUID"},
    {"get_power_level", joy_get_power_level, METH_NOARGS,
     "get_power_level() -> str\nget the approximate power status of the device"},
    {"rumble", CF(joy_rumble), METH_VARARGS | METH_KEYWORDS,
     "rumble(low_frequency, high_frequency, duration) -> bool\nStart a rumbling effect"},
    {"stop_rumble", joy_stop_rumble, METH_NOARGS,
     "stop_rumble() -> None\nStop any rumble effect playing"},
    {"get_name", joy_get_name, METH_NOARGS,
     "get_name() -> string\nget the Joystick system name"},
    {"get_numaxes", joy_count<SDL_JoystickNumAxes>, METH_NOARGS,
     "get_numaxes() -> int\nget the number of axes on a Joystick"},
    {"get_axis", joy_get_axis, METH_VARARGS,
     "get_axis(axis_number) -> float\nget the current position of an axis"},
    {"get_numbuttons", joy_count<SDL_JoystickNumButtons>, METH_NOARGS,
     "get_numbuttons() -> int\nget the number of buttons on a Joystick"},
    {"get_button", joy_get_button, METH_VARARGS,
     "get_button(button) -> bool\nget the current button state"},
    {"get_numballs", joy_count<SDL_JoystickNumBalls>, METH_NOARGS,
     "get_numballs() -> int\nget the number of trackballs on a Joystick"},
    {"get_ball", joy_get_ball, METH_VARARGS,
     "get_ball(ball_number) -> x, y\nget the relative position of a trackball"},
    {"get_numhats", joy_count<SDL_JoystickNumHats>, METH_NOARGS,
     "get_numhats() -> int\nget the number of hat controls on a Joystick"},
    {"get_hat", joy_get_hat, METH_VARARGS,
     "get_hat(hat_number) -> x, y\nget the position of a joystick hat"},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Module functions
// ---------------------------------------------------------------------------
static PyObject *jmod_init(PyObject *, PyObject *)
{
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) < 0)
            return lm_RaiseSDLError();
        SDL_JoystickEventState(SDL_ENABLE);
    }
    Py_RETURN_NONE;
}

static PyObject *jmod_quit(PyObject *, PyObject *)
{
    for (lmJoystickObject *j = g_list; j; j = j->next) {
        if (j->handle) {
            SDL_JoystickClose(j->handle);
            j->handle = nullptr;
        }
    }
    if (SDL_WasInit(SDL_INIT_JOYSTICK)) {
        SDL_JoystickEventState(SDL_ENABLE);
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }
    Py_RETURN_NONE;
}

static PyObject *jmod_get_init(PyObject *, PyObject *)
{
    return PyBool_FromLong(SDL_WasInit(SDL_INIT_JOYSTICK) != 0);
}

static PyObject *jmod_get_count(PyObject *, PyObject *)
{
    if (!joy_subsystem_or_raise())
        return nullptr;
    return PyLong_FromLong(SDL_NumJoysticks());
}

static PyMethodDef jmod_methods[] = {
    {"init", jmod_init, METH_NOARGS, "Initialize the joystick module."},
    {"quit", jmod_quit, METH_NOARGS, "Uninitialize the joystick module."},
    {"get_init", jmod_get_init, METH_NOARGS,
     "Returns True if the joystick module is initialized."},
    {"get_count", jmod_get_count, METH_NOARGS, "Returns the number of joysticks."},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(joystick_module, "joystick",
                     "Lumora module for interacting with joysticks, gamepads, and trackballs.",
                     jmod_methods);

static void *c_api[LM_JOYSTICK_NUMSLOTS];

PyMODINIT_FUNC PyInit_joystick(void)
{
    LM_IMPORT(base);
    if (!g_instance_map) {
        lm::Ref ev(PyImport_ImportModule("lumora.event"));
        if (!ev)
            return nullptr;
        PyObject *map = PyObject_GetAttrString(ev.get(), "_joy_instance_map");
        if (!map)
            return nullptr;
        if (!PyDict_Check(map)) {
            Py_DECREF(map);
            PyErr_SetString(PyExc_ImportError,
                            "lumora.event._joy_instance_map is not a dict");
            return nullptr;
        }
        g_instance_map = map;  // kept for the life of the process
    }

    PyTypeObject &t = lmJoystick_Type;
    t.tp_name = "lumora.joystick.Joystick";
    t.tp_basicsize = sizeof(lmJoystickObject);
    t.tp_dealloc = joy_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = "Joystick(id) -> Joystick\nCreate a new Joystick object.";
    t.tp_methods = joy_methods;
    t.tp_new = joy_new;
    lm::Ref mod(lm_module_with_type(&joystick_module, "Joystick", &lmJoystick_Type));
    if (!mod)
        return nullptr;
    c_api[LM_JOYSTICK_TYPE] = &lmJoystick_Type;
    c_api[LM_JOYSTICK_NEW] = (void *)lmJoystick_New;
    if (lm_export_slots(mod.get(), "joystick", c_api) < 0)
        return nullptr;
    return mod.release();
}
