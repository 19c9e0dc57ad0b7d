// Number converters shared by every module through the base capsule.
//
// What is accepted, so that every module reads numbers the same way:
//   integer slots (int, Uint32): int and bool, objects with __index__ (numpy
//     integers, for instance), and finite floats, which are truncated toward
//     zero.  The (truncated) value must fit the C type.
//   floating slots (float, double): anything float() accepts as a number,
//     i.e. reals with __float__ or __index__; strings are refused.  inf and
//     nan pass through.  A finite value beyond the range of a C float fails
//     for the single-precision slots instead of becoming inf.
// Every converter returns 1 on success and 0 on failure, and never leaves
// an exception set: callers raise their own, more specific message.
#include "base_internal.h"

#include <cfloat>

namespace lmbase {
namespace {

// Integer value of `o` as a 64-bit number, within [lo, hi].
bool int64_in_range(PyObject *o, long long lo, long long hi, long long *out)
{
    long long v;
    if (PyFloat_Check(o)) {
        double d = PyFloat_AS_DOUBLE(o);
        if (!std::isfinite(d))
            return false;
        d = std::trunc(d);
        // Compare as doubles before converting: the cast of an out-of-range
        // double is undefined.  lo and hi are exactly representable here.
        if (d < (double)lo || d > (double)hi)
            return false;
        *out = (long long)d;
        return true;
    }
    PyObject *num;
    if (PyLong_Check(o)) {
        Py_INCREF(o);
        num = o;
    }
    else if (PyIndex_Check(o)) {
        num = PyNumber_Index(o);
        if (!num) {
            PyErr_Clear();
            return false;
        }
    }
    else {
        return false;
    }
    int overflow = 0;
    v = PyLong_AsLongLongAndOverflow(num, &overflow);
    Py_DECREF(num);
    if (overflow || (v == -1 && PyErr_Occurred())) {
        PyErr_Clear();
        return false;
    }
    if (v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

bool double_value(PyObject *o, double *out)
{
    if (PyFloat_Check(o)) {
        *out = PyFloat_AS_DOUBLE(o);
        return true;
    }
    // PyFloat_AsDouble uses __float__ and then __index__, and refuses str
    // and bytes, which float() would parse: text is not a number here.
    double d = PyFloat_AsDouble(o);
    if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *out = d;
    return true;
}

bool float_value(PyObject *o, float *out)
{
    double d;
    if (!double_value(o, &d))
        return false;
    if (std::isfinite(d) && std::fabs(d) > (double)FLT_MAX)
        return false;
    *out = (float)d;
    return true;
}

// New reference to item i of a sequence, or null with no exception set.
PyObject *seq_item(PyObject *o, int i)
{
    if (!PySequence_Check(o))
        return nullptr;
    PyObject *item = PySequence_GetItem(o, i);
    if (!item)
        PyErr_Clear();
    return item;
}

// Length of `o` when it is a sequence, else -1 (no exception left set).
Py_ssize_t seq_len(PyObject *o)
{
    if (!PySequence_Check(o))
        return -1;
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0)
        PyErr_Clear();
    return n;
}

template <typename T, bool (*Conv)(PyObject *, T *)>
int from_index(PyObject *o, int i, T *v)
{
    PyObject *item = seq_item(o, i);
    if (!item)
        return 0;
    T tmp;
    bool ok = Conv(item, &tmp);
    Py_DECREF(item);
    if (ok)
        *v = tmp;
    return ok ? 1 : 0;
}

template <typename T, bool (*Conv)(PyObject *, T *)>
int pair(PyObject *o, T *a, T *b)
{
    if (seq_len(o) != 2)
        return 0;
    T ta, tb;
    if (!from_index<T, Conv>(o, 0, &ta) || !from_index<T, Conv>(o, 1, &tb))
        return 0;
    *a = ta;
    *b = tb;
    return 1;
}

bool int_value(PyObject *o, int *out)
{
    long long v;
    if (!int64_in_range(o, INT_MIN, INT_MAX, &v))
        return false;
    *out = (int)v;
    return true;
}

bool uint_value(PyObject *o, Uint32 *out)
{
    long long v;
    if (!int64_in_range(o, 0, 0xFFFFFFFFLL, &v))
        return false;
    *out = (Uint32)v;
    return true;
}

}  // namespace

int int_from_obj(PyObject *o, int *v) { return int_value(o, v) ? 1 : 0; }
int int_from_obj_index(PyObject *o, int i, int *v)
{ return from_index<int, int_value>(o, i, v); }
int two_ints_from_obj(PyObject *o, int *a, int *b)
{ return pair<int, int_value>(o, a, b); }

int uint_from_obj(PyObject *o, Uint32 *v) { return uint_value(o, v) ? 1 : 0; }
int uint_from_obj_index(PyObject *o, int i, Uint32 *v)
{ return from_index<Uint32, uint_value>(o, i, v); }

int float_from_obj(PyObject *o, float *v) { return float_value(o, v) ? 1 : 0; }
int float_from_obj_index(PyObject *o, int i, float *v)
{ return from_index<float, float_value>(o, i, v); }
int two_floats_from_obj(PyObject *o, float *a, float *b)
{ return pair<float, float_value>(o, a, b); }

int double_from_obj(PyObject *o, double *v) { return double_value(o, v) ? 1 : 0; }
int double_from_obj_index(PyObject *o, int i, double *v)
{ return from_index<double, double_value>(o, i, v); }
int two_doubles_from_obj(PyObject *o, double *a, double *b)
{ return pair<double, double_value>(o, a, b); }

// Colour bytes from any sequence (bytes included) of 3 or 4 integers in
// 0..255, the integer rules above applying to each item; three items mean
// opaque.  `rgba` is written only on success.
int rgba_from_obj(PyObject *o, Uint8 *rgba)
{
    // A str is a sequence too, but of one-character strings; refusing it
    // here keeps the answer independent of the string's length.
    if (PyUnicode_Check(o))
        return 0;
    Py_ssize_t n = seq_len(o);
    if (n != 3 && n != 4)
        return 0;
    Uint8 tmp[4] = {0, 0, 0, 255};
    for (int i = 0; i < (int)n; ++i) {
        PyObject *item = seq_item(o, i);
        if (!item)
            return 0;
        long long v;
        bool ok = int64_in_range(item, 0, 255, &v);
        Py_DECREF(item);
        if (!ok)
            return 0;
        tmp[i] = (Uint8)v;
    }
    memcpy(rgba, tmp, 4);
    return 1;
}

}  // namespace lmbase
