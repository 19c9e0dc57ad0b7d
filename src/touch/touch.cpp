// lumora.touch: SDL's touch devices and the fingers currently down on them.
#include "frame.h"

static PyObject *touch_get_num_devices(PyObject *, PyObject *)
{
    return PyLong_FromLong(SDL_GetNumTouchDevices());
}

static PyObject *touch_get_device(PyObject *, PyObject *index)
{
    if (!PyLong_Check(index)) {
        PyErr_SetString(PyExc_TypeError,
                        "index must be an integer specifying a device to get the ID for");
        return nullptr;
    }
    // Indexes beyond a C int select no device, like any other bad index.
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(index, &overflow);
    if (i == -1 && PyErr_Occurred())
        return nullptr;
    if (overflow || i < INT_MIN || i > INT_MAX)
        i = -1;
    SDL_TouchID id = SDL_GetTouchDevice((int)i);
    if (id == 0)
        return lm_RaiseSDLError();
    return PyLong_FromLongLong((long long)id);
}

static PyObject *touch_get_num_fingers(PyObject *, PyObject *device)
{
    if (!PyLong_Check(device)) {
        PyErr_SetString(PyExc_TypeError,
                        "device_id must be an integer specifying a touch device");
        return nullptr;
    }
    long long id = PyLong_AsLongLong(device);
    if (id == -1 && PyErr_Occurred())
        return nullptr;
    LM_VIDEO_OR_RAISE();
    int n = SDL_GetNumTouchFingers((SDL_TouchID)id);
    if (n == 0)
        return lm_RaiseSDLError();
    return PyLong_FromLong(n);
}

// d[key] = value, taking over `value`; a value that failed is left out.
static void put_item(PyObject *d, const char *key, PyObject *value)
{
    if (value) {
        PyDict_SetItemString(d, key, value);
        Py_DECREF(value);
    }
}

static PyObject *touch_get_finger(PyObject *, PyObject *args, PyObject *kwds)
{
    long long id;
    int index;
    static const char *kwlist[] = {"touchid", "index", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "Li", (char **)kwlist, &id, &index))
        return nullptr;
    LM_VIDEO_OR_RAISE();
    SDL_Finger *f = SDL_GetTouchFinger((SDL_TouchID)id, index);
    if (!f)
        Py_RETURN_NONE;
    lm::Ref d(PyDict_New());
    if (!d)
        return nullptr;
    put_item(d.get(), "id", PyLong_FromLongLong((long long)f->id));
    put_item(d.get(), "x", PyFloat_FromDouble(f->x));
    put_item(d.get(), "y", PyFloat_FromDouble(f->y));
    put_item(d.get(), "pressure", PyFloat_FromDouble(f->pressure));
    if (PyErr_Occurred())
        return nullptr;
    return d.release();
}

#define CF(f) ((PyCFunction)(void (*)(void))(f))

static PyMethodDef touch_methods[] = {
    {"get_num_devices", touch_get_num_devices, METH_NOARGS,
     "get_num_devices() -> int\nget the number of touch devices"},
    {"get_device", touch_get_device, METH_O,
     "get_device(index) -> touchid\nget the a touch device id for a given index"},
    {"get_num_fingers", touch_get_num_fingers, METH_O,
     "get_num_fingers(touchid) -> int\nthe number of active fingers for a given touch device"},
    {"get_finger", CF(touch_get_finger), METH_VARARGS | METH_KEYWORDS,
     "get_finger(touchid, index) -> int\nget information about an active finger"},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(touch_module, "touch", "lumora module to work with touch input",
                     touch_methods);

PyMODINIT_FUNC PyInit_touch(void)
{
    LM_IMPORT(base);
    return PyModule_Create2(&touch_module, 1013);
}
