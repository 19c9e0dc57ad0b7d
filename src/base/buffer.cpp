// Buffer helpers: translating between Python buffer views and version 3 of
// the array interface, in both directions.
//
// Views filled here (from __array_struct__ or __array_interface__) own a
// small block, kept in `internal`, with their shape, strides and format;
// their release_buffer frees it.  Views from the buffer protocol have a null
// release_buffer and are released with PyBuffer_Release.  The record passed
// to these functions is always an lm_buffer; LM_BUF_EXTENDED in the flags
// only tells an exporter that `consumer` was set, and is stripped before the
// flags reach Python's buffer protocol.
#include "base_internal.h"

#include <cstddef>

namespace lmbase {
namespace {

// Flag bits of the C-level array structure.
enum {
    ARR_CONTIGUOUS = 0x1,
    ARR_FORTRAN = 0x2,
    ARR_ALIGNED = 0x100,
    ARR_NOTSWAPPED = 0x200,
    ARR_WRITEABLE = 0x400,
};

// The C-level array structure of version 3 of the array interface.
struct ArrayStruct {
    int two;           // always 2
    int nd;
    char typekind;     // 'i', 'u', 'f', 'b', 'c' or 'V'
    int itemsize;
    int flags;
    Py_intptr_t *shape;
    Py_intptr_t *strides;
    void *data;
    PyObject *descr;   // always null here
};

// Arrays with more dimensions than this are refused: nothing lumora
// handles comes close, and it bounds what an untrusted dictionary can ask.
constexpr int k_max_ndim = 64;

constexpr bool k_little = SDL_BYTEORDER == SDL_LIL_ENDIAN;

// Block owned by a view that base filled from an array interface.
struct ViewHold {
    PyObject *keep;          // extra object kept alive (the capsule), or null
    char format[24];
    Py_ssize_t dims[1];      // shape[nd] then strides[nd]
};

ViewHold *hold_new(int nd)
{
    size_t n = nd > 0 ? (size_t)nd * 2 : 1;
    size_t size = offsetof(ViewHold, dims) + n * sizeof(Py_ssize_t);
    ViewHold *h = static_cast<ViewHold *>(PyMem_Malloc(size));
    if (!h) {
        PyErr_NoMemory();
        return nullptr;
    }
    h->keep = nullptr;
    h->format[0] = '\0';
    return h;
}

void hold_free(ViewHold *h)
{
    if (!h)
        return;
    Py_XDECREF(h->keep);
    PyMem_Free(h);
}

// release_buffer of views filled from an array interface.
void release_held_view(Py_buffer *view)
{
    ViewHold *h = static_cast<ViewHold *>(view->internal);
    view->internal = nullptr;
    hold_free(h);
    Py_CLEAR(view->obj);
}

// ---------------------------------------------------------------------------
// Type descriptions
// ---------------------------------------------------------------------------

// A parsed element type: kind ('i', 'u', 'f', 'b', 'c', 'V'), size in bytes
// and byte order ('<', '>', or '|' for "not applicable").
struct ElemType {
    char kind;
    Py_ssize_t size;
    char order;
};

// From a struct-module format and the view's item size.  Anything not a
// single plain number is described as raw bytes ('V') of the item size.
bool elem_from_format(const char *fmt, Py_ssize_t itemsize, ElemType *out)
{
    out->size = itemsize;
    out->order = k_little ? '<' : '>';
    if (!fmt || !*fmt) {
        out->kind = 'u';
        if (itemsize != 1)
            out->kind = 'V';
        out->order = '|';
        return true;
    }
    const char *p = fmt;
    bool native = true;  // '@': native sizes
    switch (*p) {
    case '@': ++p; break;
    case '=': native = false; ++p; break;
    case '<': native = false; out->order = '<'; ++p; break;
    case '>': case '!': native = false; out->order = '>'; ++p; break;
    default: break;
    }
    bool counted = false;
    while (*p >= '0' && *p <= '9') {
        counted = true;
        ++p;
    }
    char c = *p;
    if (c == 'Z' && !counted && (p[1] == 'f' || p[1] == 'd') && p[2] == '\0') {
        out->kind = 'c';
        if (itemsize != (p[1] == 'f' ? 8 : 16))
            out->kind = 'V';
        if (out->kind == 'V')
            out->order = '|';
        return true;
    }
    if (!c || p[1] != '\0' || counted) {
        out->kind = 'V';
        out->order = '|';
        return true;
    }
    Py_ssize_t expect = 0;
    switch (c) {
    case 'b': out->kind = 'i'; expect = 1; break;
    case 'B': out->kind = 'u'; expect = 1; break;
    case 'c': out->kind = 'u'; expect = 1; break;
    case '?': out->kind = 'b'; expect = 1; break;
    case 'h': out->kind = 'i'; expect = 2; break;
    case 'H': out->kind = 'u'; expect = 2; break;
    case 'i': out->kind = 'i'; expect = native ? (Py_ssize_t)sizeof(int) : 4; break;
    case 'I': out->kind = 'u'; expect = native ? (Py_ssize_t)sizeof(int) : 4; break;
    case 'l': out->kind = 'i'; expect = native ? (Py_ssize_t)sizeof(long) : 4; break;
    case 'L': out->kind = 'u'; expect = native ? (Py_ssize_t)sizeof(long) : 4; break;
    case 'q': out->kind = 'i'; expect = 8; break;
    case 'Q': out->kind = 'u'; expect = 8; break;
    case 'n': out->kind = 'i'; expect = (Py_ssize_t)sizeof(Py_ssize_t); break;
    case 'N': out->kind = 'u'; expect = (Py_ssize_t)sizeof(size_t); break;
    case 'e': out->kind = 'f'; expect = 2; break;
    case 'f': out->kind = 'f'; expect = 4; break;
    case 'd': out->kind = 'f'; expect = 8; break;
    case 'x': out->kind = 'V'; expect = itemsize; break;
    default: out->kind = 'V'; expect = itemsize; break;
    }
    if (expect != itemsize)
        out->kind = 'V';
    if (out->kind == 'V' || itemsize == 1)
        out->order = '|';
    return true;
}

// Struct-module format for an element type; false when it has none.
bool format_from_elem(const ElemType &e, char *buf, size_t bufsize)
{
    char order = e.order == '|' ? '=' : e.order;
    const char *code = nullptr;
    switch (e.kind) {
    case 'i':
        code = e.size == 1 ? "b" : e.size == 2 ? "h" : e.size == 4 ? "i"
             : e.size == 8 ? "q" : nullptr;
        break;
    case 'u':
        code = e.size == 1 ? "B" : e.size == 2 ? "H" : e.size == 4 ? "I"
             : e.size == 8 ? "Q" : nullptr;
        break;
    case 'f':
        code = e.size == 2 ? "e" : e.size == 4 ? "f" : e.size == 8 ? "d" : nullptr;
        break;
    case 'b':
        code = e.size == 1 ? "?" : nullptr;
        break;
    case 'c':
        code = e.size == 8 ? "Zf" : e.size == 16 ? "Zd" : nullptr;
        break;
    case 'V':
        if (e.size == 1)
            PyOS_snprintf(buf, bufsize, "B");
        else
            PyOS_snprintf(buf, bufsize, "%zdx", e.size);
        return true;
    default:
        break;
    }
    if (!code)
        return false;
    PyOS_snprintf(buf, bufsize, "%c%s", order, code);
    return true;
}

// Parse a typestr such as "<u4" or "|V3".
bool elem_from_typestr(PyObject *ts, ElemType *out)
{
    if (!PyUnicode_Check(ts)) {
        PyErr_SetString(PyExc_TypeError, "array interface 'typestr' must be a str");
        return false;
    }
    const char *s = PyUnicode_AsUTF8(ts);
    if (!s)
        return false;
    char order = s[0];
    if (order == '=')
        order = k_little ? '<' : '>';
    if ((order != '<' && order != '>' && order != '|') || !s[1] || !s[2])
        goto bad;
    {
        char kind = s[1];
        if (!strchr("iufbcV", kind))
            goto bad;
        Py_ssize_t size = 0;
        for (const char *p = s + 2; *p; ++p) {
            if (*p < '0' || *p > '9' || size > 1000000)
                goto bad;
            size = size * 10 + (*p - '0');
        }
        if (size <= 0)
            goto bad;
        out->kind = kind;
        out->size = size;
        out->order = size == 1 ? '|' : order;
        return true;
    }
bad:
    PyErr_Format(PyExc_ValueError, "unsupported array interface typestr '%s'", s);
    return false;
}

// ---------------------------------------------------------------------------
// Shape helpers
// ---------------------------------------------------------------------------

// Shape and strides of a view as plain arrays (views may omit them).
struct ViewGeom {
    int nd;
    Py_ssize_t shape[k_max_ndim];
    Py_ssize_t strides[k_max_ndim];
};

bool view_geom(const Py_buffer *v, ViewGeom *g)
{
    if (v->itemsize <= 0) {
        PyErr_SetString(PyExc_ValueError, "buffer has a non-positive item size");
        return false;
    }
    if (v->ndim < 0 || v->ndim > k_max_ndim) {
        PyErr_SetString(PyExc_ValueError, "buffer has too many dimensions");
        return false;
    }
    if (v->suboffsets) {
        PyErr_SetString(buffer_error, "indirect buffers are not supported");
        return false;
    }
    if (!v->shape) {
        g->nd = 1;
        g->shape[0] = v->len / v->itemsize;
        g->strides[0] = v->itemsize;
        return true;
    }
    g->nd = v->ndim;
    for (int i = 0; i < g->nd; ++i)
        g->shape[i] = v->shape[i];
    if (v->strides) {
        for (int i = 0; i < g->nd; ++i)
            g->strides[i] = v->strides[i];
    }
    else {
        Py_ssize_t step = v->itemsize;
        for (int i = g->nd; i-- > 0;) {
            g->strides[i] = step;
            if (!lm::checked_mul(step, g->shape[i] > 0 ? g->shape[i] : 1, &step)) {
                PyErr_SetString(PyExc_ValueError, "buffer is too large");
                return false;
            }
        }
    }
    return true;
}

bool is_c_contiguous(int nd, const Py_ssize_t *shape, const Py_ssize_t *strides,
                     Py_ssize_t itemsize)
{
    Py_ssize_t step = itemsize;
    for (int i = nd; i-- > 0;) {
        if (shape[i] == 0)
            return true;
        if (shape[i] != 1 && strides[i] != step)
            return false;
        // Strides that match a product past Py_ssize_t cannot describe
        // memory that exists (and the product must not overflow).
        if (!lm::checked_mul(step, shape[i], &step))
            return false;
    }
    return true;
}

bool is_f_contiguous(int nd, const Py_ssize_t *shape, const Py_ssize_t *strides,
                     Py_ssize_t itemsize)
{
    Py_ssize_t step = itemsize;
    for (int i = 0; i < nd; ++i) {
        if (shape[i] == 0)
            return true;
        if (shape[i] != 1 && strides[i] != step)
            return false;
        // Strides that match a product past Py_ssize_t cannot describe
        // memory that exists (and the product must not overflow).
        if (!lm::checked_mul(step, shape[i], &step))
            return false;
    }
    return true;
}

// Fill `buf` from a validated description.  The hold block becomes the
// view's `internal`; `obj` (may be null) gets a new reference.
int fill_view(lm_buffer *buf, PyObject *obj, ViewHold *hold, void *data,
              bool readonly, int nd, const Py_ssize_t *shape,
              const Py_ssize_t *strides, const ElemType &elem, int flags)
{
    Py_buffer *v = &buf->view;
    if ((flags & PyBUF_WRITABLE) && readonly) {
        hold_free(hold);
        PyErr_SetString(buffer_error, "array is read-only");
        return -1;
    }
    Py_ssize_t len = elem.size;
    for (int i = 0; i < nd; ++i) {
        if (shape[i] < 0) {
            hold_free(hold);
            PyErr_SetString(PyExc_ValueError, "array shape has a negative size");
            return -1;
        }
        if (!lm::checked_mul(len, shape[i], &len)) {
            hold_free(hold);
            PyErr_SetString(PyExc_ValueError, "array is too large");
            return -1;
        }
    }
    bool c_contig = is_c_contiguous(nd, shape, strides, elem.size);
    if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES && !c_contig) {
        hold_free(hold);
        PyErr_SetString(buffer_error, "array is not C contiguous");
        return -1;
    }
    Py_ssize_t *hshape = hold->dims;
    Py_ssize_t *hstrides = hold->dims + nd;
    for (int i = 0; i < nd; ++i) {
        hshape[i] = shape[i];
        hstrides[i] = strides[i];
    }
    char *fmt = nullptr;
    if (flags & PyBUF_FORMAT) {
        if (!format_from_elem(elem, hold->format, sizeof hold->format)) {
            hold_free(hold);
            PyErr_Format(buffer_error, "no buffer format for array items of kind "
                         "'%c' and size %zd", elem.kind, elem.size);
            return -1;
        }
        fmt = hold->format;
    }
    v->buf = data;
    Py_XINCREF(obj);
    v->obj = obj;
    v->len = len;
    v->itemsize = elem.size;
    v->readonly = readonly ? 1 : 0;
    v->ndim = nd;
    v->format = fmt;
    v->shape = (flags & PyBUF_ND) == PyBUF_ND ? hshape : nullptr;
    v->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? hstrides : nullptr;
    v->suboffsets = nullptr;
    v->internal = hold;
    buf->release_buffer = release_held_view;
    return 0;
}

// Fill from a C-level array structure found in `cap`.
int view_from_arrstruct(lm_buffer *buf, PyObject *obj, PyObject *cap, int flags)
{
    if (!PyCapsule_CheckExact(cap)) {
        PyErr_SetString(PyExc_ValueError, "__array_struct__ is not a capsule");
        return -1;
    }
    ArrayStruct *a = static_cast<ArrayStruct *>(
        PyCapsule_GetPointer(cap, PyCapsule_GetName(cap)));
    if (!a)
        return -1;
    if (a->two != 2) {
        PyErr_SetString(PyExc_ValueError, "__array_struct__ is not version 3");
        return -1;
    }
    if (a->nd < 0 || a->nd > k_max_ndim || a->itemsize <= 0 ||
        (a->nd > 0 && !a->shape)) {
        PyErr_SetString(PyExc_ValueError, "__array_struct__ is malformed");
        return -1;
    }
    ElemType elem;
    elem.kind = a->typekind;
    if (!strchr("iufbcV", elem.kind) || !elem.kind) {
        PyErr_Format(PyExc_ValueError, "unsupported __array_struct__ type kind '%c'",
                     elem.kind ? elem.kind : '?');
        return -1;
    }
    elem.size = a->itemsize;
    elem.order = (a->flags & ARR_NOTSWAPPED) ? (k_little ? '<' : '>')
                                             : (k_little ? '>' : '<');
    if (elem.size == 1 || elem.kind == 'V')
        elem.order = '|';

    int nd = a->nd;
    Py_ssize_t shape[k_max_ndim], strides[k_max_ndim];
    Py_ssize_t step = elem.size;
    for (int i = nd; i-- > 0;) {
        shape[i] = (Py_ssize_t)a->shape[i];
        strides[i] = a->strides ? (Py_ssize_t)a->strides[i] : step;
        if (!lm::checked_mul(step, shape[i] > 0 ? shape[i] : 1, &step)) {
            PyErr_SetString(PyExc_ValueError, "array is too large");
            return -1;
        }
    }
    ViewHold *hold = hold_new(nd);
    if (!hold)
        return -1;
    Py_INCREF(cap);
    hold->keep = cap;
    return fill_view(buf, obj, hold, a->data, !(a->flags & ARR_WRITEABLE), nd,
                     shape, strides, elem, flags);
}

// Integer item of a tuple as Py_ssize_t; false with an exception set.
bool ssize_item(PyObject *t, Py_ssize_t i, Py_ssize_t *out, const char *what)
{
    PyObject *item = PyTuple_GET_ITEM(t, i);
    Py_ssize_t v = PyNumber_AsSsize_t(item, PyExc_OverflowError);
    if (v == -1 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError,
                         "array interface '%s' must hold integers", what);
        }
        // Where Py_ssize_t is 32 bits a single dimension overflows before
        // the size product does: the same ValueError on every word size.
        else if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError,
                         "array interface '%s' value is too large", what);
        }
        return false;
    }
    *out = v;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Slot 13: view -> array interface dictionary
// ---------------------------------------------------------------------------
PyObject *buffer_as_arrinter(Py_buffer *view)
{
    ViewGeom g;
    if (!view_geom(view, &g))
        return nullptr;
    ElemType elem;
    elem_from_format(view->format, view->itemsize, &elem);
    char typestr[32];
    PyOS_snprintf(typestr, sizeof typestr, "%c%c%zd", elem.order, elem.kind,
                  elem.size);
    lm::Ref shape(PyTuple_New(g.nd));
    lm::Ref strides(PyTuple_New(g.nd));
    if (!shape || !strides)
        return nullptr;
    for (int i = 0; i < g.nd; ++i) {
        PyObject *a = PyLong_FromSsize_t(g.shape[i]);
        if (!a)
            return nullptr;
        PyTuple_SET_ITEM(shape.get(), i, a);
        PyObject *b = PyLong_FromSsize_t(g.strides[i]);
        if (!b)
            return nullptr;
        PyTuple_SET_ITEM(strides.get(), i, b);
    }
    lm::Ref addr(PyLong_FromVoidPtr(view->buf));
    if (!addr)
        return nullptr;
    return Py_BuildValue("{sOsssOsNsi}", "shape", shape.get(), "typestr", typestr,
                         "strides", strides.get(), "data",
                         Py_BuildValue("(OO)", addr.get(),
                                       view->readonly ? Py_True : Py_False),
                         "version", 3);
}

// ---------------------------------------------------------------------------
// Slot 14: view -> capsule holding the C-level array structure
// ---------------------------------------------------------------------------
namespace {

void arrstruct_capsule_free(PyObject *cap)
{
    void *p = PyCapsule_GetPointer(cap, nullptr);
    PyObject *keep = static_cast<PyObject *>(PyCapsule_GetContext(cap));
    PyMem_Free(p);
    Py_XDECREF(keep);
}

}  // namespace

PyObject *buffer_as_arrstruct(Py_buffer *view)
{
    ViewGeom g;
    if (!view_geom(view, &g))
        return nullptr;
    if (view->itemsize > INT_MAX) {
        PyErr_SetString(PyExc_ValueError, "buffer item size is too large");
        return nullptr;
    }
    ElemType elem;
    elem_from_format(view->format, view->itemsize, &elem);

    // One block: the structure, then shape and strides.
    size_t size = sizeof(ArrayStruct) + 2 * (size_t)g.nd * sizeof(Py_intptr_t);
    ArrayStruct *a = static_cast<ArrayStruct *>(PyMem_Malloc(size));
    if (!a)
        return PyErr_NoMemory();
    Py_intptr_t *dims = reinterpret_cast<Py_intptr_t *>(a + 1);
    a->two = 2;
    a->nd = g.nd;
    a->typekind = elem.kind;
    a->itemsize = (int)elem.size;
    a->shape = dims;
    a->strides = dims + g.nd;
    for (int i = 0; i < g.nd; ++i) {
        a->shape[i] = (Py_intptr_t)g.shape[i];
        a->strides[i] = (Py_intptr_t)g.strides[i];
    }
    a->data = view->buf;
    a->descr = nullptr;

    int flags = 0;
    if (is_c_contiguous(g.nd, g.shape, g.strides, elem.size))
        flags |= ARR_CONTIGUOUS;
    if (is_f_contiguous(g.nd, g.shape, g.strides, elem.size))
        flags |= ARR_FORTRAN;
    // Aligned: the address and every stride are multiples of the item's
    // natural alignment (items of odd sizes are handled byte-wise).
    Py_ssize_t align = elem.size;
    if (align > 16 || (align & (align - 1)))
        align = 1;
    bool aligned = ((uintptr_t)view->buf % (uintptr_t)align) == 0;
    for (int i = 0; i < g.nd && aligned; ++i)
        aligned = g.strides[i] % align == 0;
    if (aligned)
        flags |= ARR_ALIGNED;
    bool swapped = elem.order == (k_little ? '>' : '<');
    if (!swapped)
        flags |= ARR_NOTSWAPPED;
    if (!view->readonly)
        flags |= ARR_WRITEABLE;
    a->flags = flags;

    // Unnamed, as the array interface expects.
    PyObject *cap = PyCapsule_New(a, nullptr, arrstruct_capsule_free);
    if (!cap) {
        PyMem_Free(a);
        return nullptr;
    }
    if (view->obj) {
        // The exporter must outlive whoever reads the structure.
        if (PyCapsule_SetContext(cap, view->obj) < 0) {
            Py_DECREF(cap);
            return nullptr;
        }
        Py_INCREF(view->obj);
    }
    return cap;
}

// ---------------------------------------------------------------------------
// Slot 17: array interface dictionary -> view
// ---------------------------------------------------------------------------
int dict_as_buffer(lm_buffer *buf, PyObject *dict, int flags)
{
    flags &= ~LM_BUF_EXTENDED;
    buf->view.obj = nullptr;
    buf->release_buffer = nullptr;
    if (!PyDict_Check(dict)) {
        PyErr_SetString(PyExc_TypeError, "array interface must be a dict");
        return -1;
    }
    PyObject *ver = PyDict_GetItemString(dict, "version");
    if (ver) {
        long v = PyLong_Check(ver) ? PyLong_AsLong(ver) : -1;
        if (v != 3) {
            PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "array interface is not version 3");
            return -1;
        }
    }
    PyObject *shape = PyDict_GetItemString(dict, "shape");
    PyObject *typestr = PyDict_GetItemString(dict, "typestr");
    PyObject *data = PyDict_GetItemString(dict, "data");
    PyObject *strides = PyDict_GetItemString(dict, "strides");
    PyObject *mask = PyDict_GetItemString(dict, "mask");
    // Item conversions below may run Python code (__index__, __bool__)
    // that mutates the dictionary: hold our own references.
    lm::Ref hold_shape(Py_XNewRef(shape)), hold_typestr(Py_XNewRef(typestr)),
        hold_data(Py_XNewRef(data)), hold_strides(Py_XNewRef(strides));
    if (!shape || !typestr || !data) {
        PyErr_SetString(PyExc_ValueError, "array interface needs 'shape', "
                        "'typestr' and 'data'");
        return -1;
    }
    if (mask && mask != Py_None) {
        PyErr_SetString(PyExc_ValueError, "masked arrays are not supported");
        return -1;
    }
    if (!PyTuple_Check(shape) || PyTuple_GET_SIZE(shape) > k_max_ndim) {
        PyErr_SetString(PyExc_ValueError, "array interface 'shape' must be a tuple");
        return -1;
    }
    int nd = (int)PyTuple_GET_SIZE(shape);
    if (strides == Py_None)
        strides = nullptr;
    if (strides && (!PyTuple_Check(strides) || PyTuple_GET_SIZE(strides) != nd)) {
        PyErr_SetString(PyExc_ValueError, "array interface 'strides' must be a "
                        "tuple as long as 'shape'");
        return -1;
    }
    if (!PyTuple_Check(data) || PyTuple_GET_SIZE(data) != 2) {
        PyErr_SetString(PyExc_ValueError, "array interface 'data' must be a "
                        "tuple (address, readonly)");
        return -1;
    }
    ElemType elem;
    if (!elem_from_typestr(typestr, &elem))
        return -1;
    PyObject *addr = PyTuple_GET_ITEM(data, 0);
    if (!PyLong_Check(addr)) {
        PyErr_SetString(PyExc_TypeError, "array interface data address must be an int");
        return -1;
    }
    void *ptr = PyLong_AsVoidPtr(addr);
    if (!ptr && PyErr_Occurred())
        return -1;
    int ro = PyObject_IsTrue(PyTuple_GET_ITEM(data, 1));
    if (ro < 0)
        return -1;

    Py_ssize_t sh[k_max_ndim], st[k_max_ndim];
    for (int i = 0; i < nd; ++i) {
        if (!ssize_item(shape, i, &sh[i], "shape"))
            return -1;
        if (sh[i] < 0) {
            PyErr_SetString(PyExc_ValueError, "array shape has a negative size");
            return -1;
        }
    }
    if (strides) {
        for (int i = 0; i < nd; ++i)
            if (!ssize_item(strides, i, &st[i], "strides"))
                return -1;
    }
    else {
        Py_ssize_t step = elem.size;
        for (int i = nd; i-- > 0;) {
            st[i] = step;
            if (!lm::checked_mul(step, sh[i] > 0 ? sh[i] : 1, &step)) {
                PyErr_SetString(PyExc_ValueError, "array is too large");
                return -1;
            }
        }
    }
    ViewHold *hold = hold_new(nd);
    if (!hold)
        return -1;
    return fill_view(buf, nullptr, hold, ptr, ro != 0, nd, sh, st, elem, flags);
}

// ---------------------------------------------------------------------------
// Slot 15: any exporter -> view
// ---------------------------------------------------------------------------
namespace {

// Attribute `name` of `obj`, or null: with no exception when it is simply
// missing, with the exception when getting it failed otherwise.
PyObject *optional_attr(PyObject *obj, const char *name)
{
    PyObject *r = PyObject_GetAttrString(obj, name);
    if (!r && PyErr_ExceptionMatches(PyExc_AttributeError))
        PyErr_Clear();
    return r;
}

}  // namespace

int object_get_buffer(PyObject *obj, lm_buffer *buf, int flags)
{
    flags &= ~LM_BUF_EXTENDED;
    buf->release_buffer = nullptr;
    if (PyObject_CheckBuffer(obj)) {
        if (PyObject_GetBuffer(obj, &buf->view, flags) < 0)
            return -1;
        return 0;
    }
    buf->view.obj = nullptr;
    lm::Ref cap(optional_attr(obj, "__array_struct__"));
    if (cap)
        return view_from_arrstruct(buf, obj, cap.get(), flags);
    if (PyErr_Occurred())
        return -1;
    lm::Ref dict(optional_attr(obj, "__array_interface__"));
    if (dict) {
        if (dict_as_buffer(buf, dict.get(), flags) < 0)
            return -1;
        // The memory belongs to the exporter: keep it alive with the view.
        Py_INCREF(obj);
        buf->view.obj = obj;
        return 0;
    }
    if (PyErr_Occurred())
        return -1;
    PyErr_Format(PyExc_TypeError,
                 "'%.200s' object exports neither the buffer protocol nor an "
                 "array interface", Py_TYPE(obj)->tp_name);
    return -1;
}

// ---------------------------------------------------------------------------
// Slot 16
// ---------------------------------------------------------------------------
void buffer_release(lm_buffer *buf)
{
    void (*rel)(Py_buffer *) = buf->release_buffer;
    buf->release_buffer = nullptr;
    if (rel)
        rel(&buf->view);
    else
        PyBuffer_Release(&buf->view);
}

}  // namespace lmbase
