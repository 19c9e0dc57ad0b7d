// lumora.color: the Color value type and the colour-argument parse every
// other module uses through this module's C API.
#define LUMORA_MODULE_COLOR
#include "frame.h"

#include "colorspace.h"

using lmcolor::clamp_u8;
using lmcolor::in_range;

static PyTypeObject lmColor_Type = lm_blank_type();
static PyObject *g_colordict = nullptr;  // lumora.colordict.THECOLORS

#define COLOR(o) ((lmColorObject *)(o))

static const char *const k_component_names[4] = {"r", "g", "b", "a"};

// ---------------------------------------------------------------------------
// Integer reading.  Python ints are read through the 64-bit converters with
// explicit range checks so that a 32-bit build (where long is 32 bits)
// accepts and rejects exactly the same values as a 64-bit one.
// ---------------------------------------------------------------------------

// Non-negative int up to 2**64-1.  0 (nothing raised) when o is negative or
// too big; -1 when reading raised something other than an overflow.
static int read_u64(PyObject *o, unsigned long long *out)
{
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == (unsigned long long)-1 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError))
            return -1;
        PyErr_Clear();
        return 0;
    }
    *out = v;
    return 1;
}

// A component given to the constructor or update(): an int in 0..255.
// 1 on success; 0 (TypeError material) when not an int; -1 (ValueError
// material) when negative or above 255.  Leaves no exception set.
static int component_from_obj(PyObject *o, Uint8 *out)
{
    if (!PyLong_Check(o))
        return 0;
    unsigned long long v;
    int ok = read_u64(o, &v);
    if (ok < 0)
        PyErr_Clear();
    if (ok <= 0 || v > 255)
        return -1;
    *out = (Uint8)v;
    return 1;
}

// Signed reading for membership and slice assignment: false on overflow.
static bool read_i64(PyObject *o, long long *out)
{
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow)
        return false;
    if (v == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *out = v;
    return true;
}

// ---------------------------------------------------------------------------
// Allocation and the C API.
// ---------------------------------------------------------------------------

static PyObject *color_new_of(PyTypeObject *type, const Uint8 rgba[4], Uint8 len)
{
    PyObject *o = type->tp_alloc(type, 0);
    if (!o)
        return nullptr;
    memcpy(COLOR(o)->data, rgba, 4);
    COLOR(o)->len = len;
    return o;
}

static PyObject *lmColor_FromRGBA(const Uint8 *rgba)
{
    return color_new_of(&lmColor_Type, rgba, 4);
}

static PyObject *lmColor_FromRGBALength(const Uint8 *rgba, int length)
{
    if (length < 1 || length > 4) {
        PyErr_Format(PyExc_ValueError,
                     "Expected length within range [1,4]: got %d", length);
        return nullptr;
    }
    return color_new_of(&lmColor_Type, rgba, (Uint8)length);
}

static int lmColor_RGBAFromColorObj(PyObject *o, Uint8 *rgba)
{
    if (Py_TYPE(o) == &lmColor_Type) {
        memcpy(rgba, COLOR(o)->data, 4);
        return 1;
    }
    return lm_RGBAFromObj(o, rgba);
}

// "#rrggbb", "#rrggbbaa", "0xrrggbb", "0xrrggbbaa", digits in either case.
static bool parse_hex(const char *s, Py_ssize_t n, Uint8 rgba[4])
{
    Py_ssize_t skip;
    if (n >= 1 && s[0] == '#' && (n == 7 || n == 9))
        skip = 1;
    else if (n >= 2 && s[0] == '0' && s[1] == 'x' && (n == 8 || n == 10))
        skip = 2;
    else
        return false;
    Py_ssize_t digits = n - skip;
    Uint8 out[4] = {0, 0, 0, 0};
    for (Py_ssize_t i = 0; i < digits; ++i) {
        char c = s[skip + i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return false;
        out[i / 2] = (Uint8)((out[i / 2] << 4) | v);
    }
    if (digits == 6)
        out[3] = 255;
    memcpy(rgba, out, 4);
    return true;
}

// The name key of a string: spaces removed, lower case.  Plain ASCII strs
// are handled here without calling the string methods (this is the hot
// path of Color("red")); anything else goes through replace() and lower().
static PyObject *name_key(PyObject *str)
{
    if (PyUnicode_CheckExact(str) && PyUnicode_IS_ASCII(str)) {
        Py_ssize_t n = PyUnicode_GET_LENGTH(str);
        const char *s = (const char *)PyUnicode_DATA(str);
        bool change = false;
        for (Py_ssize_t i = 0; i < n && !change; ++i)
            change = s[i] == ' ' || (s[i] >= 'A' && s[i] <= 'Z');
        if (!change) {
            Py_INCREF(str);
            return str;
        }
        char small[64];
        lm::MemBuf<char> big(n > (Py_ssize_t)sizeof small ? (size_t)n : 0);
        char *buf = big ? big.get() : small;
        if (n > (Py_ssize_t)sizeof small && !big)
            return PyErr_NoMemory();
        Py_ssize_t k = 0;
        for (Py_ssize_t i = 0; i < n; ++i) {
            char c = s[i];
            if (c == ' ')
                continue;
            buf[k++] = (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
        }
        return PyUnicode_FromStringAndSize(buf, k);
    }
    lm::Ref stripped(PyObject_CallMethod(str, "replace", "ss", " ", ""));
    if (!stripped)
        return nullptr;
    return PyObject_CallMethod(stripped.get(), "lower", nullptr);
}

// New reference to THECOLORS[key], or null; *found says whether it was.
static PyObject *lookup_name(PyObject *key, bool *found)
{
    *found = false;
    if (PyDict_Check(g_colordict)) {
        PyObject *v = PyDict_GetItemWithError(g_colordict, key);
        if (!v)
            return nullptr;
        Py_INCREF(v);
        *found = true;
        return v;
    }
    PyObject *v = PyObject_GetItem(g_colordict, key);
    if (!v) {
        if (PyErr_ExceptionMatches(PyExc_KeyError))
            PyErr_Clear();
        return nullptr;
    }
    *found = true;
    return v;
}

static int parse_string(PyObject *str, Uint8 rgba[4])
{
    lm::Ref key(name_key(str));
    if (!key)
        return 0;
    bool found;
    lm::Ref value(lookup_name(key.get(), &found));
    if (found) {
        if (!lm_RGBAFromObj(value.get(), rgba)) {
            PyErr_SetString(PyExc_ValueError, "invalid color");
            return 0;
        }
        return 1;
    }
    if (PyErr_Occurred())
        return 0;
    lm::Ref ascii(PyUnicode_AsASCIIString(str));
    if (!ascii)
        return 0;
    const char *s = PyBytes_AS_STRING(ascii.get());
    Py_ssize_t n = PyBytes_GET_SIZE(ascii.get());
    if (n < 7 || !parse_hex(s, n, rgba)) {
        PyErr_SetString(PyExc_ValueError, "invalid color name");
        return 0;
    }
    return 1;
}

static int lmColor_ParseArg(PyObject *o, Uint8 *rgba)
{
    if (PyUnicode_Check(o))
        return parse_string(o, rgba);
    if (Py_TYPE(o) == &lmColor_Type) {
        memcpy(rgba, COLOR(o)->data, 4);
        return 1;
    }
    if (lm_RGBAFromObj(o, rgba))
        return 1;
    PyErr_Clear();  // the converter should leave nothing set; be sure
    if (PyTuple_Check(o) || PySequence_Check(o)) {
        PyErr_SetString(PyExc_ValueError, "invalid color argument");
        return 0;
    }
    if (!PyLong_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "invalid color argument");
        return 0;
    }
    unsigned long long v;
    int ok = read_u64(o, &v);
    if (ok < 0)
        return 0;
    if (ok == 0 || v > 0xFFFFFFFFull) {
        PyErr_SetString(PyExc_ValueError, "invalid color argument");
        return 0;
    }
    rgba[0] = (Uint8)(v >> 24);
    rgba[1] = (Uint8)(v >> 16);
    rgba[2] = (Uint8)(v >> 8);
    rgba[3] = (Uint8)v;
    return 1;
}

static inline Uint32 color_u32(const lmColorObject *c)
{
    return ((Uint32)c->data[0] << 24) | ((Uint32)c->data[1] << 16) |
           ((Uint32)c->data[2] << 8) | c->data[3];
}

// ---------------------------------------------------------------------------
// Type slots.
// ---------------------------------------------------------------------------

static PyObject *color_tp_new(PyTypeObject *type, PyObject *, PyObject *)
{
    static const Uint8 black[4] = {0, 0, 0, 255};
    return color_new_of(type, black, 4);
}

static int color_init(PyObject *self, PyObject *args, PyObject *kwds)
{
    if (kwds && PyDict_GET_SIZE(kwds)) {
        PyErr_SetString(PyExc_TypeError, "Color() takes no keyword arguments");
        return -1;
    }
    PyObject *items[4] = {nullptr, nullptr, nullptr, nullptr};
    if (!PyArg_ParseTuple(args, "O|OOO:Color", &items[0], &items[1], &items[2],
                          &items[3]))
        return -1;
    Uint8 rgba[4] = {0, 0, 0, 255};
    if (!items[1]) {
        if (!lmColor_ParseArg(items[0], rgba))
            return -1;
    }
    else {
        for (int i = 0; i < 4 && items[i]; ++i) {
            int ok = component_from_obj(items[i], &rgba[i]);
            if (ok <= 0) {
                PyErr_SetString(ok == 0 ? PyExc_TypeError : PyExc_ValueError,
                                "invalid color argument");
                return -1;
            }
        }
        if (!items[2]) {
            PyErr_SetString(PyExc_ValueError, "invalid color argument");
            return -1;
        }
    }
    memcpy(COLOR(self)->data, rgba, 4);
    COLOR(self)->len = 4;
    return 0;
}

static void color_dealloc(PyObject *self)
{
    Py_TYPE(self)->tp_free(self);
}

static PyObject *color_repr(PyObject *self)
{
    const Uint8 *d = COLOR(self)->data;
    return PyUnicode_FromFormat("(%d, %d, %d, %d)", d[0], d[1], d[2], d[3]);
}

// 1 with the bytes read, 0 for NotImplemented, -1 with an exception set.
static int compare_operand(PyObject *o, Uint8 rgba[4])
{
    if (PyObject_TypeCheck(o, &lmColor_Type)) {
        memcpy(rgba, COLOR(o)->data, 4);
        return 1;
    }
    if (PyTuple_Check(o)) {
        if (lm_RGBAFromObj(o, rgba))
            return 1;
        return PyErr_Occurred() ? -1 : 0;
    }
    return 0;
}

static PyObject *color_richcompare(PyObject *a, PyObject *b, int op)
{
    if (op != Py_EQ && op != Py_NE)
        Py_RETURN_NOTIMPLEMENTED;
    Uint8 x[4], y[4];
    int ok = compare_operand(a, x);
    if (ok > 0)
        ok = compare_operand(b, y);
    if (ok < 0)
        return nullptr;
    if (ok == 0)
        Py_RETURN_NOTIMPLEMENTED;
    bool eq = memcmp(x, y, 4) == 0;
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

static PyObject *color_as_tuple(PyObject *self, Py_ssize_t n)
{
    PyObject *t = PyTuple_New(n);
    if (!t)
        return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *v = PyLong_FromLong(COLOR(self)->data[i]);
        if (!v) {
            Py_DECREF(t);
            return nullptr;
        }
        PyTuple_SET_ITEM(t, i, v);
    }
    return t;
}

static PyObject *color_iter(PyObject *self)
{
    lm::Ref t(color_as_tuple(self, COLOR(self)->len));
    if (!t)
        return nullptr;
    return PyObject_GetIter(t.get());
}

// ---------------------------------------------------------------------------
// Components: getters, the byte setter, sequence and mapping protocols.
// ---------------------------------------------------------------------------

static int set_component(PyObject *self, int idx, PyObject *value)
{
    if (!value) {
        PyErr_Format(PyExc_AttributeError, "Cannot delete attribute %s",
                     k_component_names[idx]);
        return -1;
    }
    if (!PyLong_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "invalid color argument");
        return -1;
    }
    unsigned long long v;
    int ok = read_u64(value, &v);
    if (ok < 0)
        return -1;
    if (ok == 0) {
        PyErr_SetString(PyExc_ValueError, "invalid color argument");
        return -1;
    }
    if (v > 255) {
        PyErr_SetString(PyExc_ValueError, "color exceeds allowed range");
        return -1;
    }
    COLOR(self)->data[idx] = (Uint8)v;
    return 0;
}

static PyObject *get_component(PyObject *self, void *closure)
{
    return PyLong_FromLong(COLOR(self)->data[(intptr_t)closure]);
}

static int set_component_attr(PyObject *self, PyObject *value, void *closure)
{
    return set_component(self, (int)(intptr_t)closure, value);
}

static Py_ssize_t color_length(PyObject *self)
{
    return COLOR(self)->len;
}

static PyObject *color_item(PyObject *self, Py_ssize_t i)
{
    if (i < 0 || i >= COLOR(self)->len) {
        PyErr_SetString(PyExc_IndexError, "invalid index");
        return nullptr;
    }
    return PyLong_FromLong(COLOR(self)->data[i]);
}

static int color_ass_item(PyObject *self, Py_ssize_t i, PyObject *value)
{
    if (i < 0 || i > 3) {
        PyErr_SetString(PyExc_IndexError, "invalid index");
        return -1;
    }
    return set_component(self, (int)i, value);
}

static int color_contains(PyObject *self, PyObject *v)
{
    if (!PyLong_Check(v)) {
        PyErr_SetString(PyExc_TypeError,
                        "'in <lumora.Color>' requires integer object");
        return -1;
    }
    long long x;
    if (!read_i64(v, &x))
        return 0;  // no component can equal a value that large
    for (int i = 0; i < COLOR(self)->len; ++i)
        if (COLOR(self)->data[i] == x)
            return 1;
    return 0;
}

static PyObject *color_subscript(PyObject *self, PyObject *key)
{
    if (PyIndex_Check(key)) {
        // A null error type clips huge values instead of raising, so any
        // out-of-range index reads as "invalid index" on every platform.
        Py_ssize_t i = PyNumber_AsSsize_t(key, nullptr);
        if (i == -1 && PyErr_Occurred())
            return nullptr;
        if (i < 0 || i >= COLOR(self)->len) {
            PyErr_SetString(PyExc_IndexError, "invalid index");
            return nullptr;
        }
        return PyLong_FromLong(COLOR(self)->data[i]);
    }
    if (PySlice_Check(key)) {
        Py_ssize_t start, stop, step;
        if (PySlice_Unpack(key, &start, &stop, &step) < 0)
            return nullptr;
        if (step != 1) {
            PyErr_SetString(PyExc_TypeError, "slice steps not supported");
            return nullptr;
        }
        Py_ssize_t n = PySlice_AdjustIndices(4, &start, &stop, step);
        if (n <= 0)
            return PyTuple_New(0);
        PyObject *t = PyTuple_New(n);
        if (!t)
            return nullptr;
        for (Py_ssize_t k = 0; k < n; ++k) {
            PyObject *v = PyLong_FromLong(COLOR(self)->data[start + k]);
            if (!v) {
                Py_DECREF(t);
                return nullptr;
            }
            PyTuple_SET_ITEM(t, k, v);
        }
        return t;
    }
    PyErr_Format(PyExc_TypeError, "Color indices must be integers, not %.200s",
                 Py_TYPE(key)->tp_name);
    return nullptr;
}

static int color_ass_slice(PyObject *self, PyObject *key, PyObject *value)
{
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(key, &start, &stop, &step) < 0)
        return -1;
    Py_ssize_t n = PySlice_AdjustIndices(COLOR(self)->len, &start, &stop, step);
    lm::Ref seq(PySequence_Fast(value, "expected sequence"));
    if (!seq)
        return -1;
    Py_ssize_t m = PySequence_Fast_GET_SIZE(seq.get());
    if (m != n) {
        PyErr_Format(PyExc_ValueError,
                     "attempting to assign sequence of length %zd "
                     "to slice of length %zd",
                     m, n);
        return -1;
    }
    // Earlier items keep their new values when a later one is refused.
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject *item = PySequence_Fast_GET_ITEM(seq.get(), k);
        if (!PyLong_Check(item)) {
            PyErr_SetString(PyExc_TypeError, "color components must be integers");
            return -1;
        }
        long long v;
        if (!read_i64(item, &v) || v < 0 || v > 255) {
            PyErr_SetString(PyExc_ValueError, "color component must be 0-255");
            return -1;
        }
        COLOR(self)->data[start + k * step] = (Uint8)v;
    }
    return 0;
}

static int color_ass_subscript(PyObject *self, PyObject *key, PyObject *value)
{
    if (!value) {
        PyErr_SetString(PyExc_TypeError,
                        "Color object doesn't support item deletion");
        return -1;
    }
    if (PyIndex_Check(key)) {
        Py_ssize_t i = PyNumber_AsSsize_t(key, nullptr);
        if (i == -1 && PyErr_Occurred())
            return -1;
        return color_ass_item(self, i, value);
    }
    if (PySlice_Check(key))
        return color_ass_slice(self, key, value);
    PyErr_SetString(PyExc_IndexError, "Index must be an integer or slice");
    return -1;
}

// ---------------------------------------------------------------------------
// Buffer export.
// ---------------------------------------------------------------------------

// Shape and stride live in static storage, not in the view: consumers may
// copy a Py_buffer by value, and a pointer into the original would dangle.
static Py_ssize_t k_unit_stride = 1;
static Py_ssize_t k_lengths[5] = {0, 1, 2, 3, 4};

static int color_getbuffer(PyObject *self, Py_buffer *view, int flags)
{
    if (flags & PyBUF_WRITABLE) {
        view->obj = nullptr;
        PyErr_SetString(lmExc_BufferError, "color buffer is read-only");
        return -1;
    }
    view->buf = COLOR(self)->data;
    view->len = COLOR(self)->len;
    view->itemsize = 1;
    view->readonly = 1;
    view->ndim = 1;
    view->format = (flags & PyBUF_FORMAT) ? (char *)"B" : nullptr;
    view->shape =
        (flags & PyBUF_ND) == PyBUF_ND ? &k_lengths[COLOR(self)->len] : nullptr;
    view->strides =
        (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &k_unit_stride : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    Py_INCREF(self);
    view->obj = self;
    return 0;
}

static PyBufferProcs color_as_buffer = {color_getbuffer, nullptr};

static PyObject *color_get_arraystruct(PyObject *self, void *)
{
    Py_buffer view;
    if (color_getbuffer(self, &view, PyBUF_RECORDS_RO) < 0)
        return nullptr;
    PyObject *cap = lmBuffer_AsArrayStruct(&view);
    PyBuffer_Release(&view);
    return cap;
}

// ---------------------------------------------------------------------------
// Number protocol.
// ---------------------------------------------------------------------------

enum class BinOp { Add, Sub, Mul, Mod, FloorDiv };

static PyObject *color_binop(PyObject *a, PyObject *b, BinOp op)
{
    // A real subtype test rather than PyObject_IsInstance: an object merely
    // claiming Color as its __class__ does not have the byte layout read
    // below.
    if (!PyObject_TypeCheck(a, &lmColor_Type) ||
        !PyObject_TypeCheck(b, &lmColor_Type))
        Py_RETURN_NOTIMPLEMENTED;
    const Uint8 *x = COLOR(a)->data, *y = COLOR(b)->data;
    Uint8 out[4];
    for (int i = 0; i < 4; ++i) {
        int v = 0;
        switch (op) {
        case BinOp::Add: v = x[i] + y[i]; v = v > 255 ? 255 : v; break;
        case BinOp::Sub: v = x[i] - y[i]; v = v < 0 ? 0 : v; break;
        case BinOp::Mul: v = x[i] * y[i]; v = v > 255 ? 255 : v; break;
        case BinOp::Mod: v = y[i] ? x[i] % y[i] : 0; break;
        case BinOp::FloorDiv: v = y[i] ? x[i] / y[i] : 0; break;
        }
        out[i] = (Uint8)v;
    }
    return color_new_of(Py_TYPE(a), out, 4);
}

static PyObject *color_add(PyObject *a, PyObject *b) { return color_binop(a, b, BinOp::Add); }
static PyObject *color_sub(PyObject *a, PyObject *b) { return color_binop(a, b, BinOp::Sub); }
static PyObject *color_mul(PyObject *a, PyObject *b) { return color_binop(a, b, BinOp::Mul); }
static PyObject *color_mod(PyObject *a, PyObject *b) { return color_binop(a, b, BinOp::Mod); }
static PyObject *color_floordiv(PyObject *a, PyObject *b) { return color_binop(a, b, BinOp::FloorDiv); }

static PyObject *color_invert(PyObject *self)
{
    Uint8 out[4];
    for (int i = 0; i < 4; ++i)
        out[i] = (Uint8)(255 - COLOR(self)->data[i]);
    return color_new_of(Py_TYPE(self), out, 4);
}

static PyObject *color_int(PyObject *self)
{
    return PyLong_FromUnsignedLong(color_u32(COLOR(self)));
}

static PyObject *color_float(PyObject *self)
{
    return PyFloat_FromDouble((double)color_u32(COLOR(self)));
}

static PyNumberMethods color_as_number;
static PySequenceMethods color_as_sequence;
static PyMappingMethods color_as_mapping;

// ---------------------------------------------------------------------------
// Methods.
// ---------------------------------------------------------------------------

static PyObject *color_normalize(PyObject *self, PyObject *)
{
    const Uint8 *d = COLOR(self)->data;
    return Py_BuildValue("(dddd)", d[0] / 255.0, d[1] / 255.0, d[2] / 255.0,
                         d[3] / 255.0);
}

static PyObject *color_correct_gamma(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"gamma", nullptr};
    double gamma;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "d", (char **)kwlist, &gamma))
        return nullptr;
    Uint8 out[4];
    for (int i = 0; i < 4; ++i)
        out[i] = lmcolor::gamma_byte(COLOR(self)->data[i], gamma);
    return color_new_of(Py_TYPE(self), out, 4);
}

static PyObject *color_set_length(PyObject *self, PyObject *args)
{
    if (PyErr_WarnEx(PyExc_DeprecationWarning,
                     "lumora.Color.set_length deprecated since 2.1.3", 1) < 0)
        return nullptr;
    int n;
    if (!PyArg_ParseTuple(args, "i", &n)) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError))
            return nullptr;
        PyErr_Clear();
        n = 0;
    }
    if (n < 1 || n > 4) {
        PyErr_SetString(PyExc_ValueError, "Length needs to be 1,2,3, or 4.");
        return nullptr;
    }
    COLOR(self)->len = (Uint8)n;
    Py_RETURN_NONE;
}

static PyObject *color_lerp(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"color", "amount", nullptr};
    PyObject *other;
    double amount;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "Od", (char **)kwlist, &other,
                                     &amount))
        return nullptr;
    Uint8 y[4];
    if (!lmColor_ParseArg(other, y))
        return nullptr;
    if (!in_range(amount, 0.0, 1.0)) {
        PyErr_SetString(PyExc_ValueError, "Argument 2 must be in range [0, 1]");
        return nullptr;
    }
    Uint8 out[4];
    for (int i = 0; i < 4; ++i)
        out[i] = lmcolor::lerp_byte(COLOR(self)->data[i], y[i], amount);
    return color_new_of(Py_TYPE(self), out, 4);
}

static PyObject *color_grayscale(PyObject *self, PyObject *, PyObject *)
{
    const Uint8 *d = COLOR(self)->data;
    Uint8 gray = lmcolor::gray_byte(d[0], d[1], d[2]);
    Uint8 out[4] = {gray, gray, gray, d[3]};
    return color_new_of(Py_TYPE(self), out, 4);
}

static PyObject *color_premul_alpha(PyObject *self, PyObject *)
{
    const Uint8 *d = COLOR(self)->data;
    unsigned a = d[3];
    Uint8 out[4];
    for (int i = 0; i < 3; ++i)
        out[i] = (Uint8)((d[i] * a + a) >> 8);
    out[3] = d[3];
    return color_new_of(Py_TYPE(self), out, 4);
}

static PyObject *color_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs)
{
    if (nargs == 1) {
        Uint8 rgba[4];
        if (!lmColor_ParseArg(args[0], rgba))
            return nullptr;
        memcpy(COLOR(self)->data, rgba, 4);
        Py_RETURN_NONE;
    }
    if (nargs != 3 && nargs != 4) {
        PyErr_SetString(PyExc_TypeError, "update can take only 1, 3 or 4 arguments");
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Uint8 v;
        if (component_from_obj(args[i], &v) <= 0) {
            PyErr_SetString(PyExc_ValueError, "invalid color argument");
            return nullptr;
        }
        COLOR(self)->data[i] = v;
    }
    if (nargs == 4)
        COLOR(self)->len = 4;
    Py_RETURN_NONE;
}

// Plain copies keep working: rebuilt from the four components.
static PyObject *color_reduce(PyObject *self, PyObject *)
{
    const Uint8 *d = COLOR(self)->data;
    return Py_BuildValue("(O(iiii))", (PyObject *)Py_TYPE(self), d[0], d[1],
                         d[2], d[3]);
}

static PyMethodDef color_methods[] = {
    {"normalize", (PyCFunction)color_normalize, METH_NOARGS,
     "normalize() -> tuple\nReturns the normalized RGBA values of the Color."},
    {"correct_gamma", (PyCFunction)(void (*)(void))color_correct_gamma,
     METH_VARARGS | METH_KEYWORDS,
     "correct_gamma (gamma) -> Color\nApplies a certain gamma value to the Color."},
    {"set_length", (PyCFunction)color_set_length, METH_VARARGS,
     "set_length(len) -> None\nSet the number of elements in the Color to 1,2,3, or 4."},
    {"lerp", (PyCFunction)(void (*)(void))color_lerp, METH_VARARGS | METH_KEYWORDS,
     "lerp(Color, float) -> Color\nreturns a linear interpolation to the given Color."},
    {"grayscale", (PyCFunction)(void (*)(void))color_grayscale,
     METH_VARARGS | METH_KEYWORDS,
     "grayscale() -> Color\nreturns the grayscale of a Color"},
    {"premul_alpha", (PyCFunction)color_premul_alpha, METH_NOARGS,
     "premul_alpha() -> Color\nreturns a Color where the r,g,b components have "
     "been multiplied by the alpha."},
    {"update", (PyCFunction)(void (*)(void))color_update, METH_FASTCALL,
     "update(r, g, b) -> None\nupdate(r, g, b, a=255) -> None\n"
     "update(color_value) -> None\nSets the elements of the color"},
    {"__reduce__", (PyCFunction)color_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr}};

// ---------------------------------------------------------------------------
// Colour-space views.
// ---------------------------------------------------------------------------

static int refuse_delete(PyObject *value, const char *name)
{
    if (!value) {
        PyErr_Format(PyExc_AttributeError, "Cannot delete attribute %s", name);
        return -1;
    }
    return 0;
}

// Read items 0..n-1 of a sequence as floats.  False (nothing raised) when
// an item is missing or not a number; an interrupt-type error still counts
// as a refusal, the caller raises its ValueError.
static bool read_floats(PyObject *seq, Py_ssize_t n, double *out)
{
    for (Py_ssize_t i = 0; i < n; ++i) {
        lm::Ref item(PySequence_GetItem(seq, i));
        if (!item) {
            PyErr_Clear();
            return false;
        }
        lm::Ref f(PyNumber_Float(item.get()));
        if (!f) {
            PyErr_Clear();
            return false;
        }
        out[i] = PyFloat_AS_DOUBLE(f.get());
    }
    return true;
}

static PyObject *get_hsva(PyObject *self, void *)
{
    double v[4];
    lmcolor::rgb_to_hsva(COLOR(self)->data, v);
    return Py_BuildValue("(dddd)", v[0], v[1], v[2], v[3]);
}

static PyObject *get_hsla(PyObject *self, void *)
{
    double v[4];
    lmcolor::rgb_to_hsla(COLOR(self)->data, v);
    return Py_BuildValue("(dddd)", v[0], v[1], v[2], v[3]);
}

static PyObject *get_i1i2i3(PyObject *self, void *)
{
    double v[3];
    lmcolor::rgb_to_i1i2i3(COLOR(self)->data, v);
    return Py_BuildValue("(ddd)", v[0], v[1], v[2]);
}

static PyObject *get_cmy(PyObject *self, void *)
{
    double v[3];
    lmcolor::rgb_to_cmy(COLOR(self)->data, v);
    return Py_BuildValue("(ddd)", v[0], v[1], v[2]);
}

// Shared by the hsva and hsla setters: H, S, X and optional A, checked.
static bool read_hsx(PyObject *value, double v[4], int *count)
{
    if (!PySequence_Check(value))
        return false;
    Py_ssize_t n = PySequence_Size(value);
    if (n < 0) {
        PyErr_Clear();
        return false;
    }
    if (n < 3)
        return false;
    *count = n >= 4 ? 4 : 3;
    if (!read_floats(value, *count, v))
        return false;
    if (!in_range(v[0], 0.0, 360.0) || !in_range(v[1], 0.0, 100.0) ||
        !in_range(v[2], 0.0, 100.0))
        return false;
    if (*count == 4 && !in_range(v[3], 0.0, 100.0))
        return false;
    return true;
}

static int set_hsx(PyObject *self, PyObject *value, bool hsl)
{
    if (refuse_delete(value, hsl ? "hsla" : "hsva") < 0)
        return -1;
    double v[4] = {0, 0, 0, 0};
    int count = 3;
    if (!read_hsx(value, v, &count)) {
        PyErr_SetString(PyExc_ValueError,
                        hsl ? "invalid HSLA value" : "invalid HSVA value");
        return -1;
    }
    Uint8 *d = COLOR(self)->data;
    d[3] = count == 4 ? clamp_u8(v[3] / 100.0 * 255.0) : 0;
    if (hsl)
        lmcolor::hsl_to_rgb(v[0], v[1], v[2], d);
    else
        lmcolor::hsv_to_rgb(v[0], v[1], v[2], d);
    return 0;
}

static int set_hsva(PyObject *self, PyObject *value, void *) { return set_hsx(self, value, false); }
static int set_hsla(PyObject *self, PyObject *value, void *) { return set_hsx(self, value, true); }

static int set_i1i2i3(PyObject *self, PyObject *value, void *)
{
    if (refuse_delete(value, "i1i2i3") < 0)
        return -1;
    double v[3];
    if (!read_floats(value, 3, v) || !in_range(v[0], 0.0, 1.0) ||
        !in_range(v[1], -0.5, 0.5) || !in_range(v[2], -0.5, 0.5)) {
        PyErr_SetString(PyExc_ValueError, "invalid I1I2I3 value");
        return -1;
    }
    lmcolor::i1i2i3_to_rgb(v[0], v[1], v[2], COLOR(self)->data);
    return 0;
}

static int set_cmy(PyObject *self, PyObject *value, void *)
{
    if (refuse_delete(value, "cmy") < 0)
        return -1;
    double v[3];
    if (!read_floats(value, 3, v) || !in_range(v[0], 0.0, 1.0) ||
        !in_range(v[1], 0.0, 1.0) || !in_range(v[2], 0.0, 1.0)) {
        PyErr_SetString(PyExc_ValueError, "invalid CMY value");
        return -1;
    }
    lmcolor::cmy_to_rgb(v[0], v[1], v[2], COLOR(self)->data);
    return 0;
}

static PyGetSetDef color_getset[] = {
    {"r", get_component, set_component_attr,
     "r -> int\nGets or sets the red value of the Color.", (void *)0},
    {"g", get_component, set_component_attr,
     "g -> int\nGets or sets the green value of the Color.", (void *)1},
    {"b", get_component, set_component_attr,
     "b -> int\nGets or sets the blue value of the Color.", (void *)2},
    {"a", get_component, set_component_attr,
     "a -> int\nGets or sets the alpha value of the Color.", (void *)3},
    {"hsva", get_hsva, set_hsva,
     "hsva -> tuple\nGets or sets the HSVA representation of the Color.", nullptr},
    {"hsla", get_hsla, set_hsla,
     "hsla -> tuple\nGets or sets the HSLA representation of the Color.", nullptr},
    {"i1i2i3", get_i1i2i3, set_i1i2i3,
     "i1i2i3 -> tuple\nGets or sets the I1I2I3 representation of the Color.", nullptr},
    {"cmy", get_cmy, set_cmy,
     "cmy -> tuple\nGets or sets the CMY representation of the Color.", nullptr},
    {"__array_struct__", color_get_arraystruct, nullptr,
     "array structure interface, read only", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---------------------------------------------------------------------------
// Module.
// ---------------------------------------------------------------------------

static void *color_slots[LM_COLOR_NUMSLOTS];

static LM_MODULE_DEF(color_module, "color", "color module for lumora", nullptr);

static void color_type_setup(void)
{
    color_as_number.nb_add = color_add;
    color_as_number.nb_subtract = color_sub;
    color_as_number.nb_multiply = color_mul;
    color_as_number.nb_remainder = color_mod;
    color_as_number.nb_floor_divide = color_floordiv;
    color_as_number.nb_invert = color_invert;
    color_as_number.nb_int = color_int;
    color_as_number.nb_float = color_float;
    color_as_number.nb_index = color_int;

    color_as_sequence.sq_length = color_length;
    color_as_sequence.sq_item = color_item;
    color_as_sequence.sq_ass_item = color_ass_item;
    color_as_sequence.sq_contains = color_contains;

    color_as_mapping.mp_length = color_length;
    color_as_mapping.mp_subscript = color_subscript;
    color_as_mapping.mp_ass_subscript = color_ass_subscript;

    PyTypeObject &t = lmColor_Type;
    t.tp_name = "lumora.color.Color";
    t.tp_basicsize = sizeof(lmColorObject);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = "Color(r, g, b) -> Color\nColor(r, g, b, a=255) -> Color\n"
               "Color(color_value) -> Color\nlumora object for color representations";
    t.tp_new = color_tp_new;
    t.tp_init = color_init;
    t.tp_dealloc = color_dealloc;
    t.tp_repr = color_repr;
    t.tp_richcompare = color_richcompare;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_iter = color_iter;
    t.tp_as_number = &color_as_number;
    t.tp_as_sequence = &color_as_sequence;
    t.tp_as_mapping = &color_as_mapping;
    t.tp_as_buffer = &color_as_buffer;
    t.tp_methods = color_methods;
    t.tp_getset = color_getset;
    t.tp_getattro = PyObject_GenericGetAttr;
}

PyMODINIT_FUNC PyInit_color(void)
{
    LM_IMPORT(base);

    lm::Ref dictmod(PyImport_ImportModule("lumora.colordict"));
    if (!dictmod)
        return nullptr;
    PyObject *thecolors = PyObject_GetAttrString(dictmod.get(), "THECOLORS");
    if (!thecolors)
        return nullptr;
    Py_XSETREF(g_colordict, thecolors);

    color_type_setup();
    lm::Ref module(lm_module_with_type(&color_module, "Color", &lmColor_Type));
    if (!module)
        return nullptr;
    Py_INCREF(g_colordict);
    if (PyModule_AddObject(module.get(), "THECOLORS", g_colordict) < 0) {
        Py_DECREF(g_colordict);
        return nullptr;
    }

    color_slots[LM_COLOR_TYPE] = &lmColor_Type;
    color_slots[LM_COLOR_FROM_RGBA] = (void *)lmColor_FromRGBA;
    color_slots[LM_COLOR_RGBA_FROM_COLOROBJ] = (void *)lmColor_RGBAFromColorObj;
    color_slots[LM_COLOR_FROM_RGBA_LENGTH] = (void *)lmColor_FromRGBALength;
    color_slots[LM_COLOR_PARSE_ARG] = (void *)lmColor_ParseArg;
    if (lm_export_slots(module.get(), "color", color_slots) < 0)
        return nullptr;
    return module.release();
}
