// lumora.viewprobe: both sides of the buffer protocol from Python.
//
// Py_buffer wraps a C Py_buffer record and shows its fields as properties;
// it can fill itself from any exporter and release it again.  BufferMixin
// is a base class whose C buffer slots call the Python methods _get_buffer
// and _release_buffer, handing them such a wrapper around the record being
// filled.  Tests use it to exercise exporters and consumers field by field.
#include "frame.h"

namespace {

enum {
    BUF_FILLED = 1,   // holds a buffer from PyObject_GetBuffer: read-only
    BUF_OWNED = 2,    // the record was allocated by the wrapper
    BUF_RELEASE = 4,  // the wrapper releases the record when cleared
};

struct WrapObject {
    PyObject_HEAD
    Py_buffer *view;
    int flags;
};

inline WrapObject *W(PyObject *o) { return reinterpret_cast<WrapObject *>(o); }

PyTypeObject wrap_type = lm_blank_type();
PyTypeObject mixin_type = lm_blank_type();

void reset_view(Py_buffer *v)
{
    v->buf = nullptr;
    v->obj = nullptr;
    v->len = 0;
    v->itemsize = 0;
    v->readonly = 1;
    v->ndim = 0;
    v->format = nullptr;
    v->shape = nullptr;
    v->strides = nullptr;
    v->suboffsets = nullptr;
    v->internal = nullptr;
}

void wrap_clear_view(WrapObject *w)
{
    Py_buffer *v = w->view;
    int flags = w->flags;
    w->view = nullptr;
    w->flags = BUF_RELEASE;
    if (!v)
        return;
    if (flags & BUF_RELEASE) {
        if (flags & BUF_FILLED)
            PyBuffer_Release(v);
        else
            Py_CLEAR(v->obj);
    }
    if (flags & BUF_OWNED)
        PyMem_Free(v);
}

PyObject *wrap_new(PyTypeObject *type, PyObject *, PyObject *)
{
    PyObject *o = type->tp_alloc(type, 0);
    if (o) {
        W(o)->view = nullptr;
        W(o)->flags = BUF_RELEASE;
    }
    return o;
}

// A wrapper around a record it does not own.
PyObject *wrap_borrowed(Py_buffer *v, int flags)
{
    PyObject *o = wrap_new(&wrap_type, nullptr, nullptr);
    if (o) {
        W(o)->view = v;
        W(o)->flags = flags;
    }
    return o;
}

int wrap_init(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"buffer_address", "filled", "preserve", nullptr};
    PyObject *addr = Py_None;
    int filled = 0, preserve = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|Oii:Py_buffer", const_cast<char **>(kwlist),
                                     &addr, &filled, &preserve))
        return -1;
    Py_buffer *v = nullptr;
    if (addr != Py_None) {
        if (!PyLong_Check(addr)) {
            PyErr_Format(PyExc_TypeError, "argument %.400s must be an integer, not '%.400s'",
                         "buffer_address", Py_TYPE(addr)->tp_name);
            return -1;
        }
        v = static_cast<Py_buffer *>(PyLong_AsVoidPtr(addr));
        if (!v && PyErr_Occurred())
            return -1;
    }
    if (!v && (filled || preserve)) {
        PyErr_Format(PyExc_ValueError, "argument %.400s cannot be True for a NULL %.400s",
                     filled ? "filled" : "preserve", "buffer_address");
        return -1;
    }
    WrapObject *w = W(self);
    wrap_clear_view(w);
    w->view = v;
    if (preserve)
        w->flags &= ~BUF_RELEASE;
    if (filled)
        w->flags |= BUF_FILLED;
    else if (v)
        reset_view(v);
    return 0;
}

void wrap_dealloc(PyObject *self)
{
    PyObject_GC_UnTrack(self);
    {
        lm::ErrorStash keep;
        wrap_clear_view(W(self));
    }
    Py_TYPE(self)->tp_free(self);
}

int wrap_traverse(PyObject *self, visitproc visit, void *arg)
{
    if (W(self)->view)
        Py_VISIT(W(self)->view->obj);
    return 0;
}

int wrap_bool(PyObject *self)
{
    return W(self)->view != nullptr;
}

PyObject *wrap_get_buffer(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"obj", "flags", nullptr};
    PyObject *obj;
    int flags = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|i", const_cast<char **>(kwlist), &obj,
                                     &flags))
        return nullptr;
    WrapObject *w = W(self);
    if (w->flags & BUF_FILLED) {
        PyErr_SetString(PyExc_ValueError, "The Py_buffer struct is already filled in");
        return nullptr;
    }
    if (!w->view) {
        // The record's true size on this build: exporters write all of it.
        Py_buffer *v = static_cast<Py_buffer *>(PyMem_Malloc(sizeof(Py_buffer)));
        if (!v)
            return PyErr_NoMemory();
        if (PyObject_GetBuffer(obj, v, flags) < 0) {
            PyMem_Free(v);
            return nullptr;
        }
        w->view = v;
        w->flags |= BUF_FILLED | BUF_OWNED;
    }
    else {
        if (PyObject_GetBuffer(obj, w->view, flags) < 0)
            return nullptr;
        w->flags |= BUF_FILLED;
    }
    Py_RETURN_NONE;
}

PyObject *wrap_release_buffer(PyObject *self, PyObject *)
{
    WrapObject *w = W(self);
    if (w->view && (w->flags & (BUF_FILLED | BUF_RELEASE)) == (BUF_FILLED | BUF_RELEASE)) {
        Py_buffer *v = w->view;
        PyBuffer_Release(v);
        if (w->flags & BUF_OWNED) {
            PyMem_Free(v);
            w->view = nullptr;
        }
        else {
            reset_view(v);
        }
        w->flags = BUF_RELEASE;
    }
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// Field properties
// ---------------------------------------------------------------------------

enum Field { F_OBJ, F_BUF, F_LEN, F_READONLY, F_FORMAT, F_NDIM, F_SHAPE, F_STRIDES,
             F_SUBOFFSETS, F_ITEMSIZE, F_INTERNAL, F_COUNT };

const char *const field_names[F_COUNT] = {"obj", "buf", "len", "readonly", "format", "ndim",
                                          "shape", "strides", "suboffsets", "itemsize",
                                          "internal"};

Field field_of(void *closure)
{
    return static_cast<Field>(reinterpret_cast<intptr_t>(closure));
}

void **pointer_field(Py_buffer *v, Field f)
{
    switch (f) {
    case F_BUF: return &v->buf;
    case F_FORMAT: return reinterpret_cast<void **>(&v->format);
    case F_SHAPE: return reinterpret_cast<void **>(&v->shape);
    case F_STRIDES: return reinterpret_cast<void **>(&v->strides);
    case F_SUBOFFSETS: return reinterpret_cast<void **>(&v->suboffsets);
    case F_INTERNAL: return &v->internal;
    default: return nullptr;
    }
}

PyObject *raise_unallocated(Field f)
{
    PyErr_Format(PyExc_AttributeError, "property %.400s is undefined for an unallocated view",
                 field_names[f]);
    return nullptr;
}

PyObject *field_get(PyObject *self, void *closure)
{
    Field f = field_of(closure);
    Py_buffer *v = W(self)->view;
    if (!v)
        return raise_unallocated(f);
    switch (f) {
    case F_OBJ: return Py_NewRef(v->obj ? v->obj : Py_None);
    case F_LEN: return PyLong_FromSsize_t(v->len);
    case F_NDIM: return PyLong_FromLong(v->ndim);
    case F_ITEMSIZE: return PyLong_FromSsize_t(v->itemsize);
    case F_READONLY: return PyBool_FromLong(v->readonly);
    default: {
        void *p = *pointer_field(v, f);
        if (!p)
            Py_RETURN_NONE;
        return PyLong_FromVoidPtr(p);
    }
    }
}

int field_set(PyObject *self, PyObject *value, void *closure)
{
    Field f = field_of(closure);
    const char *name = field_names[f];
    WrapObject *w = W(self);
    if (!value) {
        PyErr_Format(PyExc_AttributeError, "Cannot delete attribute %s", name);
        return -1;
    }
    if (!w->view) {
        raise_unallocated(f);
        return -1;
    }
    if (w->flags & BUF_FILLED) {
        PyErr_Format(PyExc_AttributeError, "property %.400s is read-only", name);
        return -1;
    }
    Py_buffer *v = w->view;
    switch (f) {
    case F_OBJ:
        Py_XSETREF(v->obj, value == Py_None ? nullptr : Py_NewRef(value));
        return 0;
    case F_READONLY: {
        int t = PyObject_IsTrue(value);
        if (t < 0)
            return -1;
        v->readonly = t;
        return 0;
    }
    case F_LEN:
    case F_NDIM:
    case F_ITEMSIZE: {
        if (!PyLong_Check(value)) {
            PyErr_Format(PyExc_TypeError, "property %.100s must be a Python integer, not '%.400s'",
                         name, Py_TYPE(value)->tp_name);
            return -1;
        }
        Py_ssize_t n = PyLong_AsSsize_t(value);
        if (n == -1 && PyErr_Occurred())
            return -1;
        if (f == F_NDIM) {
            if (n < INT_MIN || n > INT_MAX) {
                PyErr_SetString(PyExc_OverflowError, "ndim does not fit a C int");
                return -1;
            }
            v->ndim = (int)n;
        }
        else {
            (f == F_LEN ? v->len : v->itemsize) = n;
        }
        return 0;
    }
    default: {
        void *p = nullptr;
        if (value != Py_None) {
            if (!PyLong_Check(value)) {
                PyErr_Format(PyExc_TypeError,
                             "property %.400s must be a Python integer, not '%.400s'", name,
                             Py_TYPE(value)->tp_name);
                return -1;
            }
            p = PyLong_AsVoidPtr(value);
            if (!p && PyErr_Occurred())
                return -1;
        }
        *pointer_field(v, f) = p;
        return 0;
    }
    }
}

#define FIELD(f) {field_names[f], field_get, field_set, nullptr, \
                  reinterpret_cast<void *>(static_cast<intptr_t>(f))}

PyGetSetDef wrap_getset[] = {
    FIELD(F_OBJ), FIELD(F_BUF), FIELD(F_LEN), FIELD(F_READONLY), FIELD(F_FORMAT),
    FIELD(F_NDIM), FIELD(F_SHAPE), FIELD(F_STRIDES), FIELD(F_SUBOFFSETS),
    FIELD(F_ITEMSIZE), FIELD(F_INTERNAL),
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyMethodDef wrap_methods[] = {
    {"get_buffer", (PyCFunction)(void (*)(void))wrap_get_buffer, METH_VARARGS | METH_KEYWORDS,
     "get_buffer(obj, flags=0) -> None\nFill the view from obj's buffer export."},
    {"release_buffer", wrap_release_buffer, METH_NOARGS,
     "release_buffer() -> None\nRelease a view filled by get_buffer."},
    {nullptr, nullptr, 0, nullptr}};

PyNumberMethods wrap_as_number = [] {
    PyNumberMethods n{};
    n.nb_bool = wrap_bool;
    return n;
}();

// ---------------------------------------------------------------------------
// BufferMixin
// ---------------------------------------------------------------------------

int mixin_getbuffer(PyObject *self, Py_buffer *view, int flags)
{
    lm::Ref w(wrap_borrowed(view, 0));
    if (!w)
        return -1;
    // The consumer's record is uninitialised: start from a defined one.
    reset_view(view);
    lm::Ref r(PyObject_CallMethod(self, "_get_buffer", "Oi", w.get(), flags));
    wrap_clear_view(W(w.get()));
    if (r && r.get() != Py_None) {
        PyErr_SetString(PyExc_ValueError, "_get_buffer method return value was not None");
        r.reset();
    }
    if (!r) {
        // The method may have set obj before failing: the consumer will not
        // release a failed export, so the reference is dropped here.
        Py_CLEAR(view->obj);
        return -1;
    }
    return 0;
}

void mixin_releasebuffer(PyObject *self, Py_buffer *view)
{
    lm::ErrorStash keep;
    lm::Ref w(wrap_borrowed(view, BUF_FILLED));
    if (w) {
        lm::Ref r(PyObject_CallMethod(self, "_release_buffer", "O", w.get()));
        wrap_clear_view(W(w.get()));
    }
    PyErr_Clear();
}

PyObject *mixin_default_get(PyObject *, PyObject *)
{
    PyErr_SetString(PyExc_NotImplementedError, "abstract method");
    return nullptr;
}

PyObject *mixin_default_release(PyObject *, PyObject *)
{
    Py_RETURN_NONE;
}

PyBufferProcs mixin_as_buffer = {mixin_getbuffer, mixin_releasebuffer};

PyMethodDef mixin_methods[] = {
    {"_get_buffer", mixin_default_get, METH_VARARGS,
     "new buffer protocol default bf_getbuffer handler"},
    {"_release_buffer", mixin_default_release, METH_VARARGS,
     "new buffer protocol default bf_releasebuffer handler"},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef viewprobe_module = {
    PyModuleDef_HEAD_INIT, "viewprobe", "exports BufferMixin, add a new buffer interface to a class",
    -1, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_viewprobe(void)
{
    PyTypeObject &w = wrap_type;
    w.tp_name = "lumora.viewprobe.Py_buffer";
    w.tp_basicsize = sizeof(WrapObject);
    w.tp_dealloc = wrap_dealloc;
    w.tp_as_number = &wrap_as_number;
    w.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    w.tp_doc = "Python level Py_buffer struct wrapper\n";
    w.tp_traverse = wrap_traverse;
    w.tp_methods = wrap_methods;
    w.tp_getset = wrap_getset;
    w.tp_init = wrap_init;
    w.tp_new = wrap_new;
    if (PyType_Ready(&w) < 0)
        return nullptr;

    PyTypeObject &m = mixin_type;
    m.tp_name = "lumora.viewprobe.BufferMixin";
    m.tp_basicsize = sizeof(PyObject);
    m.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    m.tp_doc = "Python level new buffer protocol exporter\n";
    m.tp_as_buffer = &mixin_as_buffer;
    m.tp_methods = mixin_methods;
    m.tp_new = PyType_GenericNew;
    if (PyType_Ready(&m) < 0)
        return nullptr;

    PyObject *module = PyModule_Create2(&viewprobe_module, LM_API_VERSION);
    if (!module)
        return nullptr;
    struct { const char *name; long value; } consts[] = {
        {"PyBUFFER_SIZEOF", (long)sizeof(Py_buffer)},
        {"PyBUF_SIMPLE", PyBUF_SIMPLE}, {"PyBUF_WRITABLE", PyBUF_WRITABLE},
        {"PyBUF_FORMAT", PyBUF_FORMAT}, {"PyBUF_ND", PyBUF_ND},
        {"PyBUF_STRIDES", PyBUF_STRIDES}, {"PyBUF_C_CONTIGUOUS", PyBUF_C_CONTIGUOUS},
        {"PyBUF_F_CONTIGUOUS", PyBUF_F_CONTIGUOUS},
        {"PyBUF_ANY_CONTIGUOUS", PyBUF_ANY_CONTIGUOUS}, {"PyBUF_INDIRECT", PyBUF_INDIRECT},
        {"PyBUF_STRIDED", PyBUF_STRIDED}, {"PyBUF_STRIDED_RO", PyBUF_STRIDED_RO},
        {"PyBUF_RECORDS", PyBUF_RECORDS}, {"PyBUF_RECORDS_RO", PyBUF_RECORDS_RO},
        {"PyBUF_FULL", PyBUF_FULL}, {"PyBUF_FULL_RO", PyBUF_FULL_RO},
        {"PyBUF_CONTIG", PyBUF_CONTIG}, {"PyBUF_CONTIG_RO", PyBUF_CONTIG_RO},
    };
    for (const auto &c : consts) {
        if (PyModule_AddIntConstant(module, c.name, c.value) < 0) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    if (lm_add_type(module, "Py_buffer", &w) < 0 ||
        lm_add_type(module, "BufferMixin", &m) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
