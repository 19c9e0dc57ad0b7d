// lumora.rect: the Rect value type, rect-style coercion and the C API.
//
// This file holds the type object, construction, coercion, the attribute
// table and the sequence/mapping protocols; the geometric and collision
// methods are in rect_methods.cpp and the kernels in rect_geom.h.
#include "rect_internal.h"

#include <cmath>

namespace lmrect {

static PyObject *empty_tuple = nullptr;  // arguments for a subclass's tp_new
static PyObject *str_rect = nullptr;     // interned "rect"

// An object whose `rect` attribute leads back to itself (directly or through
// a cycle) must not recurse forever; no honest rectangle carrier nests this
// deep.
static const int MAX_COERCE_DEPTH = 32;

// ---------------------------------------------------------------------------
// Number helpers
// ---------------------------------------------------------------------------

// The items of an exact tuple or list, held as new references.  Converting
// an item may run Python code (__index__, a `rect` method) that changes a
// list; borrowed pointers into it would then dangle.  Only sequences of at
// most four items are held; for longer ones just the length is reported.
struct Items {
    PyObject *v[4];
    Py_ssize_t n = -1;  // -1: not an exact tuple or list
    Py_ssize_t held = 0;
    explicit Items(PyObject *o)
    {
        PyObject *const *src;
        if (PyTuple_CheckExact(o)) {
            n = PyTuple_GET_SIZE(o);
            src = &PyTuple_GET_ITEM(o, 0);
        }
        else if (PyList_CheckExact(o)) {
            n = PyList_GET_SIZE(o);
            src = PySequence_Fast_ITEMS(o);
        }
        else {
            return;
        }
        if (n > 4)
            return;
        for (Py_ssize_t i = 0; i < n; ++i) {
            v[i] = src[i];
            Py_INCREF(v[i]);
        }
        held = n;
    }
    Items(const Items &) = delete;
    Items &operator=(const Items &) = delete;
    ~Items()
    {
        for (Py_ssize_t i = 0; i < held; ++i)
            Py_DECREF(v[i]);
    }
    bool exact() const { return n >= 0; }
};

int two_ints_from(PyObject *o, int *a, int *b)
{
    if (PyTuple_CheckExact(o) && PyTuple_GET_SIZE(o) == 2 &&
        PyLong_CheckExact(PyTuple_GET_ITEM(o, 0)) &&
        PyLong_CheckExact(PyTuple_GET_ITEM(o, 1)))
        return int_from(PyTuple_GET_ITEM(o, 0), a) &&
               int_from(PyTuple_GET_ITEM(o, 1), b);
    return lm_TwoIntsFromObj(o, a, b);
}

// Item of a rect given as two pairs: a sequence of exactly two numbers.
static int pair_item(PyObject *o, int *a, int *b)
{
    Items it(o);
    if (it.exact())
        return it.n == 2 && int_from(it.v[0], a) && int_from(it.v[1], b);
    if (!PySequence_Check(o))
        return 0;
    Py_ssize_t n = PySequence_Size(o);
    if (n != 2) {
        PyErr_Clear();
        return 0;
    }
    return lm_IntFromObjIndex(o, 0, a) && lm_IntFromObjIndex(o, 1, b);
}

// ---------------------------------------------------------------------------
// Coercion
// ---------------------------------------------------------------------------

static const SDL_Rect *coerce_from(PyObject *o, SDL_Rect *scratch, int depth);

// Four numbers, two pairs, or a one-item tuple holding either.  `*tried`
// is set when the object had one of these shapes, so the caller must not go
// on to look for a `rect` attribute.
static const SDL_Rect *coerce_sequence(PyObject *o, SDL_Rect *scratch,
                                       int depth, bool *tried)
{
    int v[4];
    *tried = true;
    Items it(o);
    if (it.exact()) {
        Py_ssize_t n = it.n;
        if (n == 4) {
            if (!int_from(it.v[0], &v[0]) || !int_from(it.v[1], &v[1]) ||
                !int_from(it.v[2], &v[2]) || !int_from(it.v[3], &v[3]))
                return nullptr;
        }
        else if (n == 2) {
            if (!pair_item(it.v[0], &v[0], &v[1]) ||
                !pair_item(it.v[1], &v[2], &v[3]))
                return nullptr;
        }
        else if (n == 1 && PyTuple_CheckExact(o)) {
            // The tuple keeps its item alive for as long as the caller keeps
            // the tuple, so a pointer into an inner Rect stays valid.
            PyObject *item = it.v[0];
            if (is_rect(item))
                return R(item);
            if (depth >= MAX_COERCE_DEPTH)
                return nullptr;
            return coerce_from(item, scratch, depth + 1);
        }
        else {
            *tried = false;
            return nullptr;
        }
        *scratch = SDL_Rect{v[0], v[1], v[2], v[3]};
        return scratch;
    }
    if (!PySequence_Check(o)) {
        *tried = false;
        return nullptr;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0)
        PyErr_Clear();
    if (n == 4) {
        for (int i = 0; i < 4; ++i)
            if (!lm_IntFromObjIndex(o, i, &v[i]))
                return nullptr;
    }
    else if (n == 2) {
        for (int i = 0; i < 2; ++i) {
            PyObject *item = PySequence_GetItem(o, i);
            if (!item) {
                PyErr_Clear();
                return nullptr;
            }
            int ok = pair_item(item, &v[2 * i], &v[2 * i + 1]);
            Py_DECREF(item);
            if (!ok)
                return nullptr;
        }
    }
    else if (n == 1 && PyTuple_Check(o)) {
        // A tuple subclass may hand out a fresh item: copy the result out
        // before the item goes.
        PyObject *item = PySequence_GetItem(o, 0);
        if (!item) {
            PyErr_Clear();
            return nullptr;
        }
        const SDL_Rect *p = nullptr;
        if (is_rect(item))
            p = R(item);
        else if (depth < MAX_COERCE_DEPTH)
            p = coerce_from(item, scratch, depth + 1);
        if (p && p != scratch)
            *scratch = *p;
        Py_DECREF(item);
        return p ? scratch : nullptr;
    }
    else {
        *tried = false;
        return nullptr;
    }
    *scratch = SDL_Rect{v[0], v[1], v[2], v[3]};
    return scratch;
}

// Coercion of an object already known not to be a Rect.
static const SDL_Rect *coerce_from(PyObject *o, SDL_Rect *scratch, int depth)
{
    bool tried;
    const SDL_Rect *p = coerce_sequence(o, scratch, depth, &tried);
    if (tried)
        return p;
    if (depth >= MAX_COERCE_DEPTH)
        return nullptr;
    PyObject *val = PyObject_GetAttr(o, str_rect);
    if (!val) {
        PyErr_Clear();
        return nullptr;
    }
    if (PyCallable_Check(val)) {
        PyObject *res = PyObject_CallNoArgs(val);
        Py_DECREF(val);
        if (!res) {
            PyErr_Clear();
            return nullptr;
        }
        val = res;
    }
    // The value may be a temporary that dies below: always answer from the
    // caller's scratch on this path.
    if (is_rect(val))
        p = R(val);
    else
        p = coerce_from(val, scratch, depth + 1);
    if (p && p != scratch)
        *scratch = *p;
    Py_DECREF(val);
    if (PyErr_Occurred())
        PyErr_Clear();
    return p ? scratch : nullptr;
}

const SDL_Rect *coerce_slow(PyObject *o, SDL_Rect *scratch)
{
    if (is_rect(o))
        return R(o);
    return coerce_from(o, scratch, 0);
}

const SDL_Rect *coerce_args(PyObject *const *args, Py_ssize_t nargs,
                            SDL_Rect *scratch)
{
    int v[4];
    switch (nargs) {
    case 1:
        return coerce(args[0], scratch);
    case 2:
        if (!pair_item(args[0], &v[0], &v[1]) ||
            !pair_item(args[1], &v[2], &v[3]))
            return nullptr;
        break;
    case 4:
        if (!int_from(args[0], &v[0]) || !int_from(args[1], &v[1]) ||
            !int_from(args[2], &v[2]) || !int_from(args[3], &v[3]))
            return nullptr;
        break;
    default:
        return nullptr;
    }
    *scratch = SDL_Rect{v[0], v[1], v[2], v[3]};
    return scratch;
}

bool vc_unpack(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
               lm::Ref &tuple, lm::Ref &dict)
{
    tuple.reset(PyTuple_New(nargs));
    if (!tuple)
        return false;
    for (Py_ssize_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
    if (!kwnames || !PyTuple_GET_SIZE(kwnames))
        return true;
    dict.reset(PyDict_New());
    if (!dict)
        return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i)
        if (PyDict_SetItem(dict.get(), PyTuple_GET_ITEM(kwnames, i),
                           args[nargs + i]) < 0)
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

static PyObject *rect_new(PyTypeObject *type, PyObject *, PyObject *)
{
    // tp_alloc zeroes the object: the four ints start at 0.
    return type->tp_alloc(type, 0);
}

// Exact Rects are made and dropped by the million (every move, clip or
// union makes one): keep a few released ones for reuse.  Only with the
// interpreter lock serialising access.
#ifndef Py_GIL_DISABLED
static const int FREELIST_MAX = 256;
static lmRectObject *freelist[FREELIST_MAX];
static int freelist_len = 0;
#endif

PyObject *new_exact(const SDL_Rect &r)
{
    lmRectObject *o;
#ifndef Py_GIL_DISABLED
    if (freelist_len) {
        o = freelist[--freelist_len];
        PyObject_Init((PyObject *)o, &RectType);
    }
    else
#endif
    {
        o = PyObject_New(lmRectObject, &RectType);
        if (!o)
            return nullptr;
    }
    o->r = r;
    o->weakreflist = nullptr;
    return (PyObject *)o;
}

PyObject *new_subclass(PyObject *self, const SDL_Rect &r)
{
    PyTypeObject *type = Py_TYPE(self);
    // A subclass's own __new__ gets an empty argument tuple (never null, a
    // Python-level __new__ would crash on it); __init__ is not run.
    PyObject *o = type->tp_new(type, empty_tuple, nullptr);
    if (!o)
        return nullptr;
    if (!is_rect(o)) {
        PyErr_Format(PyExc_TypeError,
                     "%.200s.__new__ did not return a Rect", type->tp_name);
        Py_DECREF(o);
        return nullptr;
    }
    *R(o) = r;
    return o;
}

static int rect_init(PyObject *self, PyObject *args, PyObject *)
{
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    return rect_arg(&PyTuple_GET_ITEM(args, 0), n, R(self)) ? 0 : -1;
}

// Rect(...) without the generic type call: exact Rect only (a subclass
// goes through tp_new/tp_init as usual, keeping its own __init__).
static PyObject *rect_vectorcall(PyObject *type, PyObject *const *args,
                                 size_t nargsf, PyObject *kwnames)
{
    if (type != (PyObject *)&RectType) {
        // Not reached while types do not inherit tp_vectorcall; should one
        // arrive here, take the generic road that runs __new__ and __init__.
        lm::Ref t, kw;
        if (!vc_unpack(args, PyVectorcall_NARGS(nargsf), kwnames, t, kw))
            return nullptr;
        return PyType_Type.tp_call(type, t.get(), kw.get());
    }
    // Keywords are ignored, as by __init__.
    SDL_Rect r;
    if (!rect_arg(args, PyVectorcall_NARGS(nargsf), &r))
        return nullptr;
    return new_exact(r);
}

static void rect_dealloc(PyObject *self)
{
    if (((lmRectObject *)self)->weakreflist)
        PyObject_ClearWeakRefs(self);
#ifndef Py_GIL_DISABLED
    if (Py_IS_TYPE(self, &RectType) && freelist_len < FREELIST_MAX) {
        freelist[freelist_len++] = (lmRectObject *)self;
        return;
    }
#endif
    Py_TYPE(self)->tp_free(self);
}

static PyObject *rect_repr(PyObject *self)
{
    const SDL_Rect *r = R(self);
    return PyUnicode_FromFormat("<rect(%d, %d, %d, %d)>", r->x, r->y, r->w,
                                r->h);
}

static int rect_bool(PyObject *self)
{
    return R(self)->w != 0 && R(self)->h != 0;
}

static PyObject *rect_iter(PyObject *self)
{
    const SDL_Rect *r = R(self);
    PyObject *t = Py_BuildValue("(iiii)", r->x, r->y, r->w, r->h);
    if (!t)
        return nullptr;
    PyObject *it = PyObject_GetIter(t);
    Py_DECREF(t);
    return it;
}

static PyObject *rect_richcompare(PyObject *o1, PyObject *o2, int op)
{
    SDL_Rect s1, s2;
    const SDL_Rect *p1 = coerce(o1, &s1);
    if (!p1)
        Py_RETURN_NOTIMPLEMENTED;
    SDL_Rect a = *p1;  // coercing o2 may run code that changes o1
    const SDL_Rect *p2 = coerce(o2, &s2);
    if (!p2)
        Py_RETURN_NOTIMPLEMENTED;
    const SDL_Rect &b = *p2;
    int c;
    if (a.x != b.x)
        c = a.x < b.x ? -1 : 1;
    else if (a.y != b.y)
        c = a.y < b.y ? -1 : 1;
    else if (a.w != b.w)
        c = a.w < b.w ? -1 : 1;
    else if (a.h != b.h)
        c = a.h < b.h ? -1 : 1;
    else
        c = 0;
    bool res;
    switch (op) {
    case Py_LT: res = c == -1; break;
    case Py_LE: res = c != 1; break;
    case Py_EQ: res = c == 0; break;
    case Py_NE: res = c != 0; break;
    case Py_GT: res = c == 1; break;
    case Py_GE: res = c != -1; break;
    default: Py_RETURN_NOTIMPLEMENTED;
    }
    return PyBool_FromLong(res);
}

// ---------------------------------------------------------------------------
// Sequence and mapping protocols
// ---------------------------------------------------------------------------

static Py_ssize_t rect_length(PyObject *) { return 4; }

static inline int *field(PyObject *self, Py_ssize_t i)
{
    SDL_Rect *r = R(self);
    switch (i) {
    case 0: return &r->x;
    case 1: return &r->y;
    case 2: return &r->w;
    default: return &r->h;
    }
}

// Index in -4..3 to 0..3, or -1.
static inline Py_ssize_t norm_index(Py_ssize_t i)
{
    if (i < 0)
        i += 4;
    return (i >= 0 && i < 4) ? i : -1;
}

static PyObject *index_error()
{
    PyErr_SetString(PyExc_IndexError, "Invalid rect Index");
    return nullptr;
}

// Reached through PySequence_GetItem, which has already added the length
// to a negative index: only 0..3 are valid here.
static PyObject *rect_item(PyObject *self, Py_ssize_t i)
{
    if (i < 0 || i > 3)
        return index_error();
    return PyLong_FromLong(*field(self, i));
}

static int assign_item(PyObject *self, Py_ssize_t i, PyObject *v)
{
    if (!v) {
        PyErr_SetString(PyExc_TypeError, "item deletion is not supported");
        return -1;
    }
    if (i < 0 || i > 3) {
        index_error();
        return -1;
    }
    int n;
    if (!int_from(v, &n)) {
        PyErr_SetString(PyExc_TypeError, "Must assign numeric values");
        return -1;
    }
    *field(self, i) = n;
    return 0;
}

static int rect_ass_item(PyObject *self, Py_ssize_t i, PyObject *v)
{
    return assign_item(self, i, v);
}

static int rect_contains(PyObject *self, PyObject *v)
{
    const SDL_Rect *r = R(self);
    if (PyLong_Check(v)) {
        // Out-of-range ints are simply not among the four fields.
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (n == -1 && PyErr_Occurred())
            return -1;
        if (overflow || n < INT_MIN || n > INT_MAX)
            return 0;
        return n == r->x || n == r->y || n == r->w || n == r->h;
    }
    SDL_Rect tmp;
    const SDL_Rect *o = coerce(v, &tmp);
    if (!o) {
        PyErr_SetString(PyExc_TypeError,
                        "'in <lumora.Rect>' requires rect style object or int "
                        "as left operand");
        return -1;
    }
    return lmgeom::contains(*r, *o);
}

// An integer key (anything with __index__) as 0..3, or -1 for out of range;
// -2 with an exception when the conversion itself failed.
static Py_ssize_t key_index(PyObject *key)
{
    PyObject *idx = PyNumber_Index(key);
    if (!idx)
        return -2;
    // Null exception type: huge values clamp, so they land outside 0..3.
    Py_ssize_t i = PyNumber_AsSsize_t(idx, nullptr);
    Py_DECREF(idx);
    if (i == -1 && PyErr_Occurred())
        return -2;
    return norm_index(i);
}

static PyObject *rect_subscript(PyObject *self, PyObject *key)
{
    const SDL_Rect *r = R(self);
    if (PyIndex_Check(key)) {
        Py_ssize_t i = key_index(key);
        if (i == -2)
            return nullptr;
        if (i < 0)
            return index_error();
        return PyLong_FromLong(*field(self, i));
    }
    if (key == Py_Ellipsis)
        return Py_BuildValue("[iiii]", r->x, r->y, r->w, r->h);
    if (PySlice_Check(key)) {
        Py_ssize_t start, stop, step;
        if (PySlice_Unpack(key, &start, &stop, &step) < 0)
            return nullptr;
        Py_ssize_t n = PySlice_AdjustIndices(4, &start, &stop, step);
        PyObject *list = PyList_New(n);
        if (!list)
            return nullptr;
        for (Py_ssize_t k = 0, i = start; k < n; ++k, i += step) {
            PyObject *v = PyLong_FromLong(*field(self, i));
            if (!v) {
                Py_DECREF(list);
                return nullptr;
            }
            PyList_SET_ITEM(list, k, v);
        }
        return list;
    }
    PyErr_SetString(PyExc_TypeError, "Invalid Rect slice");
    return nullptr;
}

static int int_range_error()
{
    PyErr_Format(PyExc_TypeError, "Expected an integer between %d and %d",
                 INT_MIN, INT_MAX);
    return -1;
}

// Reads `n` ints from the sequence `v` (length already checked) into out;
// the rectangle is only written by the caller once all converted.
static int read_ints(PyObject *v, Py_ssize_t n, int *out)
{
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *item = PySequence_GetItem(v, i);
        if (!item)
            return -1;
        int ok = int_from(item, &out[i]);
        Py_DECREF(item);
        if (!ok)
            return int_range_error();
    }
    return 0;
}

static int rect_ass_subscript(PyObject *self, PyObject *key, PyObject *v)
{
    if (!v) {
        PyErr_SetString(PyExc_TypeError, "item deletion is not supported");
        return -1;
    }
    if (PyIndex_Check(key)) {
        Py_ssize_t i = key_index(key);
        if (i == -2)
            return -1;
        return assign_item(self, i, v);
    }
    SDL_Rect *r = R(self);
    int n;
    if (key == Py_Ellipsis) {
        if (int_from(v, &n)) {
            *r = SDL_Rect{n, n, n, n};
            return 0;
        }
        if (is_rect(v)) {
            *r = *R(v);
            return 0;
        }
        if (PySequence_Check(v)) {
            Py_ssize_t len = PySequence_Size(v);
            if (len < 0)
                return -1;
            if (len != 4) {
                PyErr_SetString(PyExc_TypeError, "Expect a length 4 sequence");
                return -1;
            }
            int vals[4];
            if (read_ints(v, 4, vals) < 0)
                return -1;
            *r = SDL_Rect{vals[0], vals[1], vals[2], vals[3]};
            return 0;
        }
        PyErr_SetString(PyExc_TypeError, "Expected an integer or sequence");
        return -1;
    }
    if (PySlice_Check(key)) {
        Py_ssize_t start, stop, step;
        if (PySlice_Unpack(key, &start, &stop, &step) < 0)
            return -1;
        Py_ssize_t cnt = PySlice_AdjustIndices(4, &start, &stop, step);
        if (int_from(v, &n)) {
            for (Py_ssize_t k = 0, i = start; k < cnt; ++k, i += step)
                *field(self, i) = n;
            return 0;
        }
        if (PySequence_Check(v)) {
            Py_ssize_t len = PySequence_Size(v);
            if (len < 0)
                return -1;
            if (len != cnt) {
                PyErr_Format(PyExc_TypeError, "Expected a length %zd sequence",
                             cnt);
                return -1;
            }
            int vals[4];
            if (read_ints(v, cnt, vals) < 0)
                return -1;
            for (Py_ssize_t k = 0, i = start; k < cnt; ++k, i += step)
                *field(self, i) = vals[k];
            return 0;
        }
        PyErr_SetString(PyExc_TypeError, "Expected an integer or sequence");
        return -1;
    }
    PyErr_SetString(PyExc_TypeError, "Invalid Rect slice");
    return -1;
}

// ---------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------

static int no_delete()
{
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return -1;
}

static int range_error()
{
    PyErr_Format(PyExc_TypeError,
                 "invalid rect assignment, expected value between %d < x < %d",
                 INT_MIN, INT_MAX);
    return -1;
}

// Range test written so that NaN fails it; the value is then rounded
// halves-away-from-zero and always fits.
static inline bool in_int_range(double d)
{
    return d >= -2147483648.0 && d <= 2147483647.0;
}

static int value_from(PyObject *v, int *out)
{
    if (!v)
        return no_delete();
    if (PyLong_CheckExact(v)) {
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (!overflow && n >= INT_MIN && n <= INT_MAX) {
            *out = (int)n;
            return 0;
        }
        if (PyErr_Occurred())
            PyErr_Clear();
    }
    double d;
    if (!lm_DoubleFromObj(v, &d)) {
        PyErr_SetString(PyExc_TypeError, "invalid rect assignment");
        return -1;
    }
    if (!in_int_range(d))
        return range_error();
    *out = (int)std::round(d);
    return 0;
}

static int pair_from(PyObject *v, int *a, int *b)
{
    if (!v)
        return no_delete();
    if (PyTuple_CheckExact(v) && PyTuple_GET_SIZE(v) == 2 &&
        PyLong_CheckExact(PyTuple_GET_ITEM(v, 0)) &&
        PyLong_CheckExact(PyTuple_GET_ITEM(v, 1)) &&
        int_from(PyTuple_GET_ITEM(v, 0), a) &&
        int_from(PyTuple_GET_ITEM(v, 1), b))
        return 0;
    double da, db;
    if (!lm_TwoDoublesFromObj(v, &da, &db)) {
        PyErr_SetString(PyExc_TypeError, "invalid rect assignment");
        return -1;
    }
    if (!in_int_range(da) || !in_int_range(db))
        return range_error();
    *a = (int)std::round(da);
    *b = (int)std::round(db);
    return 0;
}

using lmgeom::half_floor;
using lmgeom::wadd;
using lmgeom::wsub;

static inline PyObject *two(int a, int b)
{
    PyObject *t = PyTuple_New(2);
    if (!t)
        return nullptr;
    PyObject *pa = PyLong_FromLong(a);
    PyObject *pb = pa ? PyLong_FromLong(b) : nullptr;
    if (!pb) {
        Py_XDECREF(pa);
        Py_DECREF(t);
        return nullptr;
    }
    PyTuple_SET_ITEM(t, 0, pa);
    PyTuple_SET_ITEM(t, 1, pb);
    return t;
}

// One scalar attribute: getter expression and the stored field.
#define LM_SCALAR_ATTR(name, getexpr, setstmt)                       \
    static PyObject *get_##name(PyObject *self, void *)              \
    {                                                                \
        const SDL_Rect *r = R(self);                                 \
        return PyLong_FromLong(getexpr);                             \
    }                                                                \
    static int set_##name(PyObject *self, PyObject *value, void *)   \
    {                                                                \
        int v;                                                       \
        if (value_from(value, &v) < 0)                               \
            return -1;                                               \
        SDL_Rect *r = R(self);                                       \
        setstmt;                                                     \
        return 0;                                                    \
    }

#define LM_PAIR_ATTR(name, get1, get2, set1, set2)                   \
    static PyObject *get_##name(PyObject *self, void *)              \
    {                                                                \
        const SDL_Rect *r = R(self);                                 \
        return two(get1, get2);                                      \
    }                                                                \
    static int set_##name(PyObject *self, PyObject *value, void *)   \
    {                                                                \
        int a, b;                                                    \
        if (pair_from(value, &a, &b) < 0)                            \
            return -1;                                               \
        SDL_Rect *r = R(self);                                       \
        set1;                                                        \
        set2;                                                        \
        return 0;                                                    \
    }

LM_SCALAR_ATTR(x, r->x, r->x = v)
LM_SCALAR_ATTR(y, r->y, r->y = v)
LM_SCALAR_ATTR(w, r->w, r->w = v)
LM_SCALAR_ATTR(h, r->h, r->h = v)
LM_SCALAR_ATTR(right, wadd(r->x, r->w), r->x = wsub(v, r->w))
LM_SCALAR_ATTR(bottom, wadd(r->y, r->h), r->y = wsub(v, r->h))
LM_SCALAR_ATTR(centerx, wadd(r->x, half_floor(r->w)),
               r->x = wsub(v, half_floor(r->w)))
LM_SCALAR_ATTR(centery, wadd(r->y, half_floor(r->h)),
               r->y = wsub(v, half_floor(r->h)))

LM_PAIR_ATTR(topleft, r->x, r->y, r->x = a, r->y = b)
LM_PAIR_ATTR(topright, wadd(r->x, r->w), r->y, r->x = wsub(a, r->w),
             r->y = b)
LM_PAIR_ATTR(bottomleft, r->x, wadd(r->y, r->h), r->x = a,
             r->y = wsub(b, r->h))
LM_PAIR_ATTR(bottomright, wadd(r->x, r->w), wadd(r->y, r->h),
             r->x = wsub(a, r->w), r->y = wsub(b, r->h))
LM_PAIR_ATTR(midtop, wadd(r->x, half_floor(r->w)), r->y,
             r->x = wsub(a, half_floor(r->w)), r->y = b)
LM_PAIR_ATTR(midleft, r->x, wadd(r->y, half_floor(r->h)), r->x = a,
             r->y = wsub(b, half_floor(r->h)))
LM_PAIR_ATTR(midbottom, wadd(r->x, half_floor(r->w)), wadd(r->y, r->h),
             r->x = wsub(a, half_floor(r->w)), r->y = wsub(b, r->h))
LM_PAIR_ATTR(midright, wadd(r->x, r->w), wadd(r->y, half_floor(r->h)),
             r->x = wsub(a, r->w), r->y = wsub(b, half_floor(r->h)))
LM_PAIR_ATTR(size, r->w, r->h, r->w = a, r->h = b)
LM_PAIR_ATTR(center, wadd(r->x, half_floor(r->w)),
             wadd(r->y, half_floor(r->h)), r->x = wsub(a, half_floor(r->w)),
             r->y = wsub(b, half_floor(r->h)))

static PyObject *get_safe(PyObject *, void *) { Py_RETURN_TRUE; }

#define LM_GS(pyname, cname, doc) \
    {(char *)pyname, get_##cname, set_##cname, (char *)doc, nullptr}

static PyGetSetDef rect_getset[] = {
    LM_GS("x", x, "left edge"),
    LM_GS("y", y, "top edge"),
    LM_GS("w", w, "width"),
    LM_GS("h", h, "height"),
    LM_GS("width", w, "width"),
    LM_GS("height", h, "height"),
    LM_GS("top", y, "top edge"),
    LM_GS("left", x, "left edge"),
    LM_GS("bottom", bottom, "y + h"),
    LM_GS("right", right, "x + w"),
    LM_GS("centerx", centerx, "horizontal centre"),
    LM_GS("centery", centery, "vertical centre"),
    LM_GS("topleft", topleft, "(left, top)"),
    LM_GS("topright", topright, "(right, top)"),
    LM_GS("bottomleft", bottomleft, "(left, bottom)"),
    LM_GS("bottomright", bottomright, "(right, bottom)"),
    LM_GS("midtop", midtop, "(centerx, top)"),
    LM_GS("midleft", midleft, "(left, centery)"),
    LM_GS("midbottom", midbottom, "(centerx, bottom)"),
    LM_GS("midright", midright, "(right, centery)"),
    LM_GS("size", size, "(width, height)"),
    LM_GS("center", center, "(centerx, centery)"),
    {(char *)"__safe_for_unpickling__", get_safe, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---------------------------------------------------------------------------
// Type object
// ---------------------------------------------------------------------------

static PyNumberMethods rect_as_number = {};
static PySequenceMethods rect_as_sequence = {};
static PyMappingMethods rect_as_mapping = {};

PyTypeObject RectType = {};

static void init_type()
{
    rect_as_number.nb_bool = rect_bool;
    rect_as_sequence.sq_length = rect_length;
    rect_as_sequence.sq_item = rect_item;
    rect_as_sequence.sq_ass_item = rect_ass_item;
    rect_as_sequence.sq_contains = rect_contains;
    rect_as_mapping.mp_length = rect_length;
    rect_as_mapping.mp_subscript = rect_subscript;
    rect_as_mapping.mp_ass_subscript = rect_ass_subscript;

    PyTypeObject &t = RectType;
    t.tp_name = "lumora.rect.Rect";
    t.tp_basicsize = sizeof(lmRectObject);
    t.tp_itemsize = 0;
    t.tp_dealloc = rect_dealloc;
    t.tp_repr = rect_repr;
    t.tp_str = rect_repr;
    t.tp_as_number = &rect_as_number;
    t.tp_as_sequence = &rect_as_sequence;
    t.tp_as_mapping = &rect_as_mapping;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = "Rect(left, top, width, height) -> Rect\n"
               "Rect((left, top), (width, height)) -> Rect\n"
               "Rect(object) -> Rect\n"
               "An integer rectangle: position, size and the edges, corners "
               "and centre derived from them.";
    t.tp_richcompare = rect_richcompare;
    t.tp_weaklistoffset = offsetof(lmRectObject, weakreflist);
    t.tp_iter = rect_iter;
    t.tp_methods = rect_methods;
    t.tp_getset = rect_getset;
    t.tp_init = rect_init;
    t.tp_new = rect_new;
    t.tp_vectorcall = rect_vectorcall;
}

// ---------------------------------------------------------------------------
// C API
// ---------------------------------------------------------------------------

static PyObject *api_from_sdl(const SDL_Rect *r) { return new_exact(*r); }

static PyObject *api_from_ints(int x, int y, int w, int h)
{
    return new_exact(SDL_Rect{x, y, w, h});
}

static const SDL_Rect *api_coerce(PyObject *o, SDL_Rect *scratch)
{
    return coerce(o, scratch);
}

static SDL_Rect *api_normalize(SDL_Rect *r)
{
    lmgeom::normalize(r);
    return r;
}

static void *c_api[LM_RECT_NUMSLOTS];

}  // namespace lmrect

// The module exposes only its type.
static LM_MODULE_DEF(rect_module, "rect",
                     "The Rect type: integer rectangles with geometry and collision tests.",
                     nullptr);

PyMODINIT_FUNC PyInit_rect(void)
{
    using namespace lmrect;
    LM_IMPORT(base);

    if (!empty_tuple) {
        empty_tuple = PyTuple_New(0);
        if (!empty_tuple)
            return nullptr;
    }
    if (!str_rect) {
        str_rect = PyUnicode_InternFromString("rect");
        if (!str_rect)
            return nullptr;
    }
    if (!RectType.tp_name)
        init_type();
    PyObject *m = lm_module_with_type(&rect_module, "Rect", &RectType);
    if (!m)
        return nullptr;
    c_api[LM_RECT_TYPE] = &RectType;
    c_api[LM_RECT_FROM_SDL] = (void *)api_from_sdl;
    c_api[LM_RECT_FROM_INTS] = (void *)api_from_ints;
    c_api[LM_RECT_COERCE] = (void *)api_coerce;
    c_api[LM_RECT_NORMALIZE_SDL] = (void *)api_normalize;
    if (lm_export_slots(m, "rect", c_api) < 0) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}
