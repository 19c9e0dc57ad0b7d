// Declarations shared by the files of lumora.rect.
#pragma once

#define LUMORA_MODULE_RECT
#include "frame.h"
#include "rect_geom.h"

namespace lmrect {

extern PyTypeObject RectType;
extern PyMethodDef rect_methods[];

static inline SDL_Rect *R(PyObject *o) { return &((lmRectObject *)o)->r; }

// Layout test: an instance of Rect or of a subclass.  Deliberately not
// PyObject_IsInstance, which honours a forged __class__ and would let us
// read four ints out of an object that has none.
static inline bool is_rect(PyObject *o)
{
    return Py_IS_TYPE(o, &RectType) || PyType_IsSubtype(Py_TYPE(o), &RectType);
}

// Integer conversion with the base module's rules, short-cutting exact
// ints.  Exact ints that do not fit an int fail here just as in base, the
// same on 32- and 64-bit builds (long long, never long).  Never leaves an
// exception set.
static inline int int_from(PyObject *o, int *v)
{
    if (PyLong_CheckExact(o)) {
        // One-digit ints (|v| < 2**30) are read straight from the object.
#if PY_VERSION_HEX >= 0x030C0000
        if (PyUnstable_Long_IsCompact((PyLongObject *)o)) {
            *v = (int)PyUnstable_Long_CompactValue((PyLongObject *)o);
            return 1;
        }
#else
        Py_ssize_t size = Py_SIZE(o);
        if (size >= -1 && size <= 1) {
            *v = size ? (int)size * (int)((PyLongObject *)o)->ob_digit[0] : 0;
            return 1;
        }
#endif
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (overflow || n < INT_MIN || n > INT_MAX) {
            if (PyErr_Occurred())
                PyErr_Clear();
            return 0;
        }
        *v = (int)n;
        return 1;
    }
    return lm_IntFromObj(o, v);
}

// Two ints from an object that should be a two-item sequence.
int two_ints_from(PyObject *o, int *a, int *b);

// Rect-style coercion.  Returns a pointer to the rectangle (into `o` itself
// when it is a Rect, else into `scratch`), or null with no exception set.
const SDL_Rect *coerce_slow(PyObject *o, SDL_Rect *scratch);
static inline const SDL_Rect *coerce(PyObject *o, SDL_Rect *scratch)
{
    if (Py_IS_TYPE(o, &RectType))
        return R(o);
    return coerce_slow(o, scratch);
}

// The positional arguments of a call, coerced as if they were one tuple.
const SDL_Rect *coerce_args(PyObject *const *args, Py_ssize_t nargs,
                            SDL_Rect *scratch);
// The positional arguments read as a pair: two numbers, or one two-item
// sequence (r.move(1, 2) and r.move((1, 2))).
static inline int pair_args(PyObject *const *args, Py_ssize_t nargs, int *a,
                            int *b)
{
    if (nargs == 2)
        return int_from(args[0], a) && int_from(args[1], b);
    if (nargs == 1)
        return two_ints_from(args[0], a, b);
    return 0;
}

// The rectangle given by a call's positional arguments, copied out (the
// pointer coercion returns may point into an argument).  TypeError when
// they do not make one.
static inline bool rect_arg(PyObject *const *args, Py_ssize_t nargs,
                            SDL_Rect *out)
{
    if (nargs == 1 && Py_IS_TYPE(args[0], &RectType)) {
        *out = *R(args[0]);
        return true;
    }
    SDL_Rect tmp;
    const SDL_Rect *p = coerce_args(args, nargs, &tmp);
    if (!p) {
        PyErr_SetString(PyExc_TypeError, "Argument must be rect style object");
        return false;
    }
    *out = *p;
    return true;
}

// Rebuilds the classic (tuple, dict) pair from a vectorcall, for the
// standard argument parser or type call on the uncommon paths (keywords,
// wrong counts, subclasses).  False with an exception set.
bool vc_unpack(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
               lm::Ref &tuple, lm::Ref &dict);

// A new rectangle of the same type as `self`, made without running
// __init__.  Null with an exception set.
PyObject *new_exact(const SDL_Rect &r);
PyObject *new_subclass(PyObject *self, const SDL_Rect &r);
static inline PyObject *new_like(PyObject *self, const SDL_Rect &r)
{
    return Py_IS_TYPE(self, &RectType) ? new_exact(r) : new_subclass(self, r);
}

}  // namespace lmrect
