// lumora.viewshim: ViewShim, a stand-in that re-exports another object's
// memory through the buffer protocol and the version 3 array interface.
//
// The memory is fetched from the parent lazily through an export callback,
// so a surface stays locked only while somebody actually holds a view: the
// shim's own cached view (used by its properties) for as long as the shim
// lives, and each buffer export until its consumer releases it.
#define LUMORA_MODULE_VIEWSHIM
#include "frame.h"

#include <new>

namespace {

struct ShimObject {
    PyObject_HEAD
    PyObject *obj;              // exporting parent, or null
    lm_buffer *view_p;          // cached view, or null
    lm_getbufferfunc get_buffer;
    PyObject *dict;
    PyObject *weakrefs;
};

inline ShimObject *SH(PyObject *o)
{
    return reinterpret_cast<ShimObject *>(o);
}

PyTypeObject shim_type = lm_blank_type();

constexpr int kFlagsRecordsRO = PyBUF_RECORDS_RO | LM_BUF_EXTENDED;  // 0x401C
constexpr int kFlagsRecords = PyBUF_RECORDS | LM_BUF_EXTENDED;       // 0x401D

// A zeroed extended view record, or null with MemoryError.
lm_buffer *record_new(PyObject *consumer)
{
    lm_buffer *b = static_cast<lm_buffer *>(PyMem_Malloc(sizeof(lm_buffer)));
    if (!b) {
        PyErr_NoMemory();
        return nullptr;
    }
    memset(b, 0, sizeof *b);
    b->consumer = consumer;
    return b;
}

void record_release(lm_buffer *b)
{
    lmBuffer_Release(b);
    PyMem_Free(b);
}

// ---------------------------------------------------------------------------
// Export callbacks
// ---------------------------------------------------------------------------

// Installed while a shim is being destroyed: nothing may export from it.
int refusing_get_buffer(PyObject *obj, lm_buffer *b, int)
{
    PyObject *consumer = b->consumer;
    b->view.obj = nullptr;
    PyErr_Format(PyExc_RuntimeError,
                 "Attempted buffer export on <%s at %p, parent=<%s at %p>> "
                 "while deallocating it",
                 consumer ? Py_TYPE(consumer)->tp_name : "NULL", (void *)consumer,
                 obj ? Py_TYPE(obj)->tp_name : "NULL", (void *)obj);
    return -1;
}

// Called from the dictionary exporter's release: run "after" with the
// parent, ignoring what it raises.
void dict_release(Py_buffer *view)
{
    lm_buffer *inner = static_cast<lm_buffer *>(view->internal);
    PyObject *dict = inner->view.obj;
    {
        lm::ErrorStash keep;
        PyObject *after = dict ? PyDict_GetItemString(dict, "after") : nullptr;
        if (after) {
            lm::Ref hold(Py_NewRef(after));
            PyObject *parent = view->obj ? view->obj : Py_None;
            lm::Ref r(PyObject_CallOneArg(after, parent));
        }
        PyErr_Clear();
        record_release(inner);
    }
    view->internal = nullptr;
    Py_CLEAR(view->obj);
}

// A parent that is an array-interface dictionary, with optional "before"
// and "after" hooks run around every export.
int dict_get_buffer(PyObject *dict, lm_buffer *b, int flags)
{
    b->view.obj = nullptr;
    lm_buffer *inner = record_new(b->consumer);
    if (!inner)
        return -1;
    if (lmDict_AsBuffer(inner, dict, flags) < 0) {
        PyMem_Free(inner);
        return -1;
    }
    PyObject *p = PyDict_GetItemString(dict, "parent");
    lm::Ref parent(Py_NewRef(p ? p : Py_None));
    PyObject *before = PyDict_GetItemString(dict, "before");
    if (before) {
        lm::Ref hold(Py_NewRef(before));
        lm::Ref r(PyObject_CallOneArg(before, parent.get()));
        if (!r) {
            record_release(inner);
            return -1;
        }
    }
    Py_INCREF(dict);
    Py_XSETREF(inner->view.obj, dict);
    b->view = inner->view;
    b->view.obj = parent.release();
    b->view.internal = inner;
    b->release_buffer = dict_release;
    return 0;
}

// ---------------------------------------------------------------------------
// The cached view
// ---------------------------------------------------------------------------

void drop_cached(ShimObject *s)
{
    lm_buffer *b = s->view_p;
    s->view_p = nullptr;
    if (b)
        record_release(b);
}

// The cached view, exporting it first if needed; null with an exception.
lm_buffer *cached_view(PyObject *self)
{
    ShimObject *s = SH(self);
    if (s->view_p)
        return s->view_p;
    lm_buffer *b = record_new(self);
    if (!b)
        return nullptr;
    if (s->get_buffer(s->obj, b, kFlagsRecordsRO) < 0) {
        PyMem_Free(b);
        return nullptr;
    }
    // Properties divide by the item size and copy `len` bytes: an empty
    // export cannot be described and is refused here.
    if (b->view.len <= 0 || b->view.itemsize <= 0) {
        record_release(b);
        PyErr_SetString(PyExc_ValueError, "the exported buffer is empty");
        return nullptr;
    }
    s->view_p = b;
    return b;
}

// A property result built from the cached view; a failure drops the view so
// that the next access exports again.
PyObject *from_cached(PyObject *self, PyObject *(*build)(lm_buffer *))
{
    lm_buffer *b = cached_view(self);
    if (!b)
        return nullptr;
    PyObject *r = build(b);
    if (!r)
        drop_cached(SH(self));
    return r;
}

PyObject *build_arrstruct(lm_buffer *b) { return lmBuffer_AsArrayStruct(&b->view); }
PyObject *build_arrinter(lm_buffer *b) { return lmBuffer_AsArrayInterface(&b->view); }
PyObject *build_length(lm_buffer *b) { return PyLong_FromSsize_t(b->view.len); }
PyObject *build_raw(lm_buffer *b)
{
    if (!PyBuffer_IsContiguous(&b->view, 'A')) {
        PyErr_SetString(PyExc_ValueError, "the bytes are not contiguous");
        return nullptr;
    }
    return PyBytes_FromStringAndSize(static_cast<const char *>(b->view.buf),
                                     b->view.len);
}

PyObject *shim_get_arrstruct(PyObject *self, void *) { return from_cached(self, build_arrstruct); }
PyObject *shim_get_arrinter(PyObject *self, void *) { return from_cached(self, build_arrinter); }
PyObject *shim_get_length(PyObject *self, void *) { return from_cached(self, build_length); }
PyObject *shim_get_raw(PyObject *self, void *) { return from_cached(self, build_raw); }

PyObject *shim_get_parent(PyObject *self, void *)
{
    lm_buffer *b = cached_view(self);
    if (!b)
        return nullptr;
    return Py_NewRef(b->view.obj ? b->view.obj : Py_None);
}

PyObject *shim_get_dict(PyObject *self, void *)
{
    ShimObject *s = SH(self);
    if (!s->dict) {
        s->dict = PyDict_New();
        if (!s->dict)
            return nullptr;
    }
    return Py_NewRef(s->dict);
}

PyObject *shim_repr(PyObject *self)
{
    lm_buffer *b = cached_view(self);
    if (!b)
        return nullptr;
    return PyUnicode_FromFormat("<ViewShim(%zd)>", b->view.len);
}

// ---------------------------------------------------------------------------
// Buffer export of the shim itself
// ---------------------------------------------------------------------------

int shim_getbuffer(PyObject *self, Py_buffer *view, int flags)
{
    ShimObject *s = SH(self);
    lm_buffer *inner = record_new(self);
    if (!inner)
        return -1;
    if (s->get_buffer(s->obj, inner, flags | LM_BUF_EXTENDED) < 0) {
        PyMem_Free(inner);
        return -1;
    }
    const Py_buffer &v = inner->view;
    view->buf = v.buf;
    view->len = v.len;
    view->itemsize = v.itemsize;
    view->readonly = v.readonly;
    view->ndim = v.ndim;
    view->format = v.format;
    view->shape = v.shape;
    view->strides = v.strides;
    view->suboffsets = v.suboffsets;
    view->obj = Py_NewRef(self);
    view->internal = inner;
    return 0;
}

void shim_releasebuffer(PyObject *, Py_buffer *view)
{
    lm_buffer *inner = static_cast<lm_buffer *>(view->internal);
    view->internal = nullptr;
    if (inner)
        record_release(inner);
}

PyBufferProcs shim_as_buffer = {shim_getbuffer, shim_releasebuffer};

// Owns a view taken through the shim's own export for one call.
class ShimView {
  public:
    ShimView() { memset(&v_, 0, sizeof v_); }
    ShimView(const ShimView &) = delete;
    ShimView &operator=(const ShimView &) = delete;
    ~ShimView()
    {
        if (held_)
            PyBuffer_Release(&v_);
    }
    bool get(PyObject *self, int flags)
    {
        held_ = PyObject_GetBuffer(self, &v_, flags) == 0;
        return held_;
    }
    Py_buffer *operator->() { return &v_; }
    Py_buffer *get() { return &v_; }

  private:
    Py_buffer v_;
    bool held_ = false;
};

PyObject *shim_write(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"buffer", "offset", nullptr};
    const char *bytes;
    Py_ssize_t nbytes;
    Py_ssize_t offset = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "s#|n", const_cast<char **>(kwlist),
                                     &bytes, &nbytes, &offset))
        return nullptr;
    ShimView v;
    if (!v.get(self, kFlagsRecords & ~LM_BUF_EXTENDED))
        return nullptr;
    if (!PyBuffer_IsContiguous(v.get(), 'A')) {
        PyErr_SetString(PyExc_ValueError, "the ViewShim bytes are not contiguous");
        return nullptr;
    }
    if (nbytes > v->len) {
        PyErr_SetString(PyExc_ValueError, "'buffer' object length is too large");
        return nullptr;
    }
    // offset + nbytes could overflow: compare against what is left instead.
    if (offset < 0 || offset > v->len - nbytes) {
        PyErr_SetString(PyExc_IndexError, "'offset' is out of range");
        return nullptr;
    }
    if (nbytes)
        memcpy(static_cast<char *>(v->buf) + offset, bytes, (size_t)nbytes);
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------

ShimObject *shim_alloc(PyTypeObject *type, PyObject *parent, lm_getbufferfunc cb)
{
    PyObject *o = type->tp_alloc(type, 0);
    if (!o)
        return nullptr;
    ShimObject *s = SH(o);
    s->obj = Py_XNewRef(parent);
    s->view_p = nullptr;
    s->get_buffer = cb;
    s->dict = nullptr;
    s->weakrefs = nullptr;
    return s;
}

lm_getbufferfunc default_exporter()
{
    return LM_SLOT(base, LM_BASE_OBJECT_GET_BUFFER, lm_getbufferfunc);
}

PyObject *shim_new(PyTypeObject *type, PyObject *args, PyObject *)
{
    PyObject *parent;
    if (!PyArg_ParseTuple(args, "O:Vshim", &parent))
        return nullptr;
    lm_getbufferfunc cb = PyDict_Check(parent) ? dict_get_buffer : default_exporter();
    return reinterpret_cast<PyObject *>(shim_alloc(type, parent, cb));
}

void shim_dealloc(PyObject *self)
{
    ShimObject *s = SH(self);
    if (s->get_buffer == refusing_get_buffer)
        return;
    s->get_buffer = refusing_get_buffer;
    PyObject_GC_UnTrack(self);
    {
        lm::ErrorStash keep;
        drop_cached(s);
        Py_CLEAR(s->obj);
        Py_CLEAR(s->dict);
        if (s->weakrefs)
            PyObject_ClearWeakRefs(self);
    }
    Py_TYPE(self)->tp_free(self);
}

int shim_traverse(PyObject *self, visitproc visit, void *arg)
{
    ShimObject *s = SH(self);
    Py_VISIT(s->obj);
    if (s->view_p)
        Py_VISIT(s->view_p->view.obj);
    Py_VISIT(s->dict);
    return 0;
}

// ---------------------------------------------------------------------------
// C API
// ---------------------------------------------------------------------------

PyObject *lmViewShim_New(PyObject *parent, lm_getbufferfunc cb)
{
    if (!cb) {
        if (!parent) {
            PyErr_SetString(PyExc_ValueError,
                            "One of arguments 'obj' or 'get_buffer' is required: "
                            "both NULL instead");
            return nullptr;
        }
        cb = default_exporter();
    }
    return reinterpret_cast<PyObject *>(shim_alloc(&shim_type, parent, cb));
}

bool shim_or_raise(PyObject *o)
{
    if (PyObject_TypeCheck(o, &shim_type))
        return true;
    PyErr_Format(PyExc_TypeError,
                 "Expected a ViewShim object: got %s instance instead",
                 Py_TYPE(o)->tp_name);
    return false;
}

PyObject *lmViewShim_GetParent(PyObject *o)
{
    if (!shim_or_raise(o))
        return nullptr;
    return shim_get_parent(o, nullptr);
}

int lmViewShim_Export(PyObject *o)
{
    if (!shim_or_raise(o))
        return -1;
    return cached_view(o) ? 0 : -1;
}

PyGetSetDef shim_getset[] = {
    {"__array_struct__", shim_get_arrstruct, nullptr,
     "Version 3 array interface, C level", nullptr},
    {"__array_interface__", shim_get_arrinter, nullptr,
     "Version 3 array interface, Python level", nullptr},
    {"parent", shim_get_parent, nullptr,
     "parent -> Surface\nparent -> <parent>\nReturn wrapped exporting object.", nullptr},
    {"__dict__", shim_get_dict, nullptr,
     "The object's attribute dictionary, read-only", nullptr},
    {"raw", shim_get_raw, nullptr,
     "raw -> bytes\nA copy of the exported buffer as a single block of bytes.", nullptr},
    {"length", shim_get_length, nullptr,
     "length -> int\nThe size, in bytes, of the exported buffer.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyMethodDef shim_methods[] = {
    {"write", (PyCFunction)(void (*)(void))shim_write, METH_VARARGS | METH_KEYWORDS,
     "write(buffer, offset=0)\nWrite raw bytes to object buffer."},
    {nullptr, nullptr, 0, nullptr}};

void *c_api[LM_VIEWSHIM_NUMSLOTS];

LM_MODULE_DEF(viewshim_module, "viewshim",
              "The ViewShim type: an object's pixel memory through the buffer protocol\n"
              "and the version 3 array interface.",
              nullptr);

}  // namespace

PyMODINIT_FUNC PyInit_viewshim(void)
{
    LM_IMPORT(base);

    PyTypeObject &t = shim_type;
    t.tp_name = "lumora.viewshim.ViewShim";
    t.tp_basicsize = sizeof(ShimObject);
    t.tp_dealloc = shim_dealloc;
    t.tp_repr = shim_repr;
    t.tp_as_buffer = &shim_as_buffer;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = "ViewShim(<parent>) -> ViewShim\n"
               "lumora object to export a surface buffer through an array protocol";
    t.tp_traverse = shim_traverse;
    t.tp_weaklistoffset = offsetof(ShimObject, weakrefs);
    t.tp_dictoffset = offsetof(ShimObject, dict);
    t.tp_methods = shim_methods;
    t.tp_getset = shim_getset;
    t.tp_new = shim_new;
    PyObject *module = lm_module_with_type(&viewshim_module, "ViewShim", &t);
    if (!module)
        return nullptr;
    c_api[LM_VIEWSHIM_TYPE] = &t;
    c_api[LM_VIEWSHIM_NEW] = reinterpret_cast<void *>(lmViewShim_New);
    c_api[LM_VIEWSHIM_GET_PARENT] = reinterpret_cast<void *>(lmViewShim_GetParent);
    c_api[LM_VIEWSHIM_EXPORT] = reinterpret_cast<void *>(lmViewShim_Export);
    if (lm_export_slots(module, "viewshim", c_api) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
