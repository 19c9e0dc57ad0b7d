// Rect methods: copies and pickling, geometry (move, inflate, scale, clip,
// clamp, fit, union) and the collision queries and line clipping.
//
// The hot methods use the fast calling convention and read an exact Rect
// argument in place; everything else goes through rect-style coercion.
// The arithmetic lives in rect_geom.h.  Methods that return a rectangle
// make it with new_like, i.e. of type(self) and without running __init__.
#include "rect_internal.h"

namespace lmrect {

using lmgeom::Extent;

namespace {

const char MSG_PAIR[] = "argument must contain two numbers";
const char MSG_SEQ[] = "Argument must be a sequence of rectstyle objects.";

PyObject *type_error(const char *msg)
{
    PyErr_SetString(PyExc_TypeError, msg);
    return nullptr;
}

// The one argument of a method that also accepts it by keyword `name`.
// Borrowed (the caller's frame owns it); null with an exception set.
PyObject *one_arg(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                  const char *format, const char *name)
{
    if (nargs == 1 && (!kwnames || !PyTuple_GET_SIZE(kwnames)))
        return args[0];
    lm::Ref t, d;
    if (!vc_unpack(args, nargs, kwnames, t, d))
        return nullptr;
    const char *kwlist[] = {name, nullptr};
    PyObject *o;
    if (!PyArg_ParseTupleAndKeywords(t.get(), d.get(), format,
                                     const_cast<char **>(kwlist), &o))
        return nullptr;
    return o;
}

// Walks a sequence of rect-style objects in index order, calling
// fn(index, rect) until it returns false.  A failed fetch or coercion
// raises `msg` (TypeError); a length that cannot be taken propagates.
// Returns 0, or -1 with an exception set.  `fn` gets a copy of each
// rectangle and must not run Python code.
template <typename Fn>
int for_each_rect(PyObject *seq, Fn &&fn)
{
    if (!PySequence_Check(seq)) {
        type_error(MSG_SEQ);
        return -1;
    }
    Py_ssize_t n = PySequence_Size(seq);
    if (n < 0)
        return -1;
    const bool list = PyList_CheckExact(seq);
    const bool tuple = PyTuple_CheckExact(seq);
    Py_ssize_t i = 0;
    while (i < n) {
        PyObject *item;
        if (list || tuple) {
            // Exact Rects are read in place in a tight loop, in which no
            // Python code runs.  The list is looked at afresh after any other
            // item: coercing it may have run code that changed the list.
            PyObject *const *items =
                list ? PySequence_Fast_ITEMS(seq) : &PyTuple_GET_ITEM(seq, 0);
            Py_ssize_t lim = list ? PyList_GET_SIZE(seq) : n;
            if (lim > n)
                lim = n;
            for (; i < lim; ++i) {
                item = items[i];
                if (!Py_IS_TYPE(item, &RectType))
                    break;
                if (!fn(i, *R(item)))
                    return 0;
            }
            if (i == n)
                break;
            if (i == lim) {  // the list shrank under us
                type_error(MSG_SEQ);
                return -1;
            }
            item = items[i];
            Py_INCREF(item);
        }
        else {
            item = PySequence_GetItem(seq, i);
            if (!item) {
                PyErr_Clear();
                type_error(MSG_SEQ);
                return -1;
            }
        }
        SDL_Rect tmp;
        const SDL_Rect *p = coerce_slow(item, &tmp);
        SDL_Rect r = p ? *p : SDL_Rect{0, 0, 0, 0};
        Py_DECREF(item);
        if (!p) {
            type_error(MSG_SEQ);
            return -1;
        }
        if (!fn(i, r))
            return 0;
        ++i;
    }
    return 0;
}

// Growable array of indices from the Python allocator.
class IndexBuf {
  public:
    IndexBuf() = default;
    IndexBuf(const IndexBuf &) = delete;
    IndexBuf &operator=(const IndexBuf &) = delete;
    ~IndexBuf() { PyMem_Free(p_); }
    bool push(Py_ssize_t v)
    {
        if (n_ == cap_) {
            size_t cap = cap_ ? cap_ * 2 : 64;
            size_t bytes;
            if (!lm::checked_mul(cap, sizeof(Py_ssize_t), &bytes))
                return false;
            void *q = PyMem_Realloc(p_, bytes);
            if (!q)
                return false;
            p_ = static_cast<Py_ssize_t *>(q);
            cap_ = cap;
        }
        p_[n_++] = v;
        return true;
    }
    size_t size() const { return n_; }
    Py_ssize_t operator[](size_t i) const { return p_[i]; }

  private:
    Py_ssize_t *p_ = nullptr;
    size_t n_ = 0, cap_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Copies, update, pickling
// ---------------------------------------------------------------------------

static PyObject *rect_copy(PyObject *self, PyObject *)
{
    return new_like(self, *R(self));
}

static PyObject *rect_update(PyObject *self, PyObject *const *args,
                             Py_ssize_t nargs)
{
    SDL_Rect r;
    if (!rect_arg(args, nargs, &r))
        return nullptr;
    *R(self) = r;
    Py_RETURN_NONE;
}

static PyObject *rect_reduce(PyObject *self, PyObject *)
{
    const SDL_Rect *r = R(self);
    return Py_BuildValue("(O(iiii))", (PyObject *)Py_TYPE(self), r->x, r->y,
                         r->w, r->h);
}

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------

static PyObject *rect_normalize(PyObject *self, PyObject *)
{
    lmgeom::normalize(R(self));
    Py_RETURN_NONE;
}

// Most geometry comes in two forms: `op` returns a new rectangle of
// type(self), `op_ip` writes the result into self and returns None.  One
// template per argument shape serves both; `InPlace` picks the ending.
template <bool InPlace>
static inline PyObject *give(PyObject *self, const SDL_Rect &r)
{
    if constexpr (InPlace) {
        *R(self) = r;
        Py_RETURN_NONE;
    }
    return new_like(self, r);
}

using PairKernel = SDL_Rect (*)(const SDL_Rect &, int, int);
using RectKernel = SDL_Rect (*)(const SDL_Rect &, const SDL_Rect &);

// move, inflate: an (x, y) pair.
template <PairKernel op, bool InPlace>
static PyObject *pair_method(PyObject *self, PyObject *const *args,
                             Py_ssize_t nargs)
{
    int dx, dy;
    if (!pair_args(args, nargs, &dx, &dy))
        return type_error(MSG_PAIR);
    return give<InPlace>(self, op(*R(self), dx, dy));
}

// clip, clamp, fit, union: another rectangle.
template <RectKernel op, bool InPlace>
static PyObject *rect_method(PyObject *self, PyObject *const *args,
                             Py_ssize_t nargs)
{
    SDL_Rect o;
    if (!rect_arg(args, nargs, &o))
        return nullptr;
    return give<InPlace>(self, op(*R(self), o));
}

// The union of self and every rectangle of `seq`; false with an exception.
static bool union_all(PyObject *self, PyObject *seq, SDL_Rect *out)
{
    lmgeom::Bounds u(*R(self));
    if (for_each_rect(seq, [&u](Py_ssize_t, const SDL_Rect &r) {
            u.add(r);
            return true;
        }) < 0)
        return false;
    *out = u.rect();
    return true;
}

// The keyword is "rect" for the copying form and "rects" in place.
template <bool InPlace>
static PyObject *unionall_method(PyObject *self, PyObject *const *args,
                                 Py_ssize_t nargs, PyObject *kwnames)
{
    PyObject *seq =
        InPlace ? one_arg(args, nargs, kwnames, "O:unionall_ip", "rects")
                : one_arg(args, nargs, kwnames, "O:unionall", "rect");
    SDL_Rect r;
    if (!seq || !union_all(self, seq, &r))
        return nullptr;
    return give<InPlace>(self, r);
}

static PyObject *rect_contains_m(PyObject *self, PyObject *const *args,
                                 Py_ssize_t nargs)
{
    SDL_Rect o;
    if (!rect_arg(args, nargs, &o))
        return nullptr;
    return PyBool_FromLong(lmgeom::contains(*R(self), o));
}

// scale_by(scalar) / scale_by(x, y) / scale_by(scale_by=(x, y)): the two
// factors as used (absolute values; a zero or NaN y means "same as x").
static bool scale_factors(PyObject *args, PyObject *kw, float *sx, float *sy)
{
    static const char *kwlist[] = {"x", "y", nullptr};
    // The caller's keyword dictionary is never changed: a rewritten
    // `scale_by` goes into a dictionary of our own.
    lm::Ref own;
    if (kw && PyDict_GET_SIZE(kw)) {
        PyObject *both = PyDict_GetItemString(kw, "scale_by");
        if (both) {
            if (PyDict_GET_SIZE(kw) != 1) {
                type_error("The 'scale_by' keyword cannot be combined with "
                           "other arguments.");
                return false;
            }
            float a, b;
            if (!lm_TwoFloatsFromObj(both, &a, &b)) {
                type_error("number pair expected");
                return false;
            }
            own.reset(Py_BuildValue("{s:d,s:d}", "x", (double)a, "y",
                                    (double)b));
            if (!own)
                return false;
            kw = own.get();
        }
    }
    // Parsed as doubles and narrowed without an out-of-range cast.
    double x, y = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "d|d",
                                     const_cast<char **>(kwlist), &x, &y)) {
        PyErr_Clear();
        type_error("Float values expected.");
        return false;
    }
    float fx = lmgeom::to_float(x), fy = lmgeom::to_float(y);
    *sx = std::fabs(fx);
    if (fy < 0)
        *sy = -fy;
    else if (fy > 0)
        *sy = fy;
    else
        *sy = *sx;  // zero or NaN
    return true;
}

template <bool InPlace>
static PyObject *scale_by_method(PyObject *self, PyObject *args, PyObject *kw)
{
    float sx, sy;
    if (!scale_factors(args, kw, &sx, &sy))
        return nullptr;
    return give<InPlace>(self,
                         lmgeom::scale<lm::sat_int>(*R(self), sx, sy));
}

// ---------------------------------------------------------------------------
// Collisions
// ---------------------------------------------------------------------------

static PyObject *rect_collidepoint(PyObject *self, PyObject *const *args,
                                   Py_ssize_t nargs)
{
    int px, py;
    if (!pair_args(args, nargs, &px, &py))
        return type_error(MSG_PAIR);
    return PyBool_FromLong(lmgeom::point_in(*R(self), px, py));
}

static PyObject *rect_colliderect(PyObject *self, PyObject *const *args,
                                  Py_ssize_t nargs)
{
    static const char MSG_INVALID[] =
        "Invalid rect, all 4 fields must be numeric";
    SDL_Rect o;
    switch (nargs) {
    case 1: {
        if (Py_IS_TYPE(args[0], &RectType)) {
            o = *R(args[0]);
            break;
        }
        SDL_Rect tmp;
        const SDL_Rect *p = coerce_slow(args[0], &tmp);
        if (!p) {
            if (!PyErr_Occurred())
                type_error(MSG_INVALID);
            return nullptr;
        }
        o = *p;
        break;
    }
    case 2:
        if (!two_ints_from(args[0], &o.x, &o.y) ||
            !two_ints_from(args[1], &o.w, &o.h))
            return type_error(MSG_INVALID);
        break;
    case 4:
        if (!int_from(args[0], &o.x))
            return type_error("Invalid x value for rect, must be numeric");
        if (!int_from(args[1], &o.y))
            return type_error("Invalid y value for rect, must be numeric");
        if (!int_from(args[2], &o.w))
            return type_error("Invalid w value for rect, must be numeric");
        if (!int_from(args[3], &o.h))
            return type_error("Invalid h value for rect, must be numeric");
        break;
    default:
        PyErr_SetString(PyExc_ValueError,
                        "Incorrect arguments number, must be either 1, 2 or 4");
        return nullptr;
    }
    return PyBool_FromLong(lmgeom::overlap(*R(self), o));
}

static PyObject *rect_collidelist(PyObject *self, PyObject *const *args,
                                  Py_ssize_t nargs, PyObject *kwnames)
{
    PyObject *seq = one_arg(args, nargs, kwnames, "O:collidelist", "rects");
    if (!seq)
        return nullptr;
    const Extent e(*R(self));
    Py_ssize_t found = -1;
    if (for_each_rect(seq, [&](Py_ssize_t i, const SDL_Rect &r) {
            if (!e.empty && e.hits(r)) {
                found = i;
                return false;
            }
            return true;
        }) < 0)
        return nullptr;
    return PyLong_FromSsize_t(found);
}

static PyObject *rect_collidelistall(PyObject *self, PyObject *const *args,
                                     Py_ssize_t nargs, PyObject *kwnames)
{
    PyObject *seq =
        one_arg(args, nargs, kwnames, "O:collidelistall", "rects");
    if (!seq)
        return nullptr;
    const Extent e(*R(self));
    // Indices are gathered in C and the list is built at the end: nothing
    // that could run Python code happens while the sequence is walked.
    IndexBuf hits;
    bool nomem = false;
    if (for_each_rect(seq, [&](Py_ssize_t i, const SDL_Rect &r) {
            if (!e.empty && e.hits(r) && !hits.push(i)) {
                nomem = true;
                return false;
            }
            return true;
        }) < 0)
        return nullptr;
    if (nomem)
        return PyErr_NoMemory();
    lm::Ref list(PyList_New((Py_ssize_t)hits.size()));
    if (!list)
        return nullptr;
    for (size_t k = 0; k < hits.size(); ++k) {
        PyObject *v = PyLong_FromSsize_t(hits[k]);
        if (!v)
            return nullptr;
        PyList_SET_ITEM(list.get(), (Py_ssize_t)k, v);
    }
    return list.release();
}

// The answer of collidedict and collideobjects: the first hit (or None),
// or a list of every hit when `all`.
template <bool all>
class Hits {
  public:
    // False with an exception set when the list cannot be made.
    bool ready()
    {
        if constexpr (all)
            got_.reset(PyList_New(0));
        return !all || got_;
    }
    // Takes a hit (a new reference; null when making it failed).  False
    // when the walk is over: at the first hit unless all are wanted, or
    // on an error.
    bool take(PyObject *hit)
    {
        if (!hit)
            return fail();
        if constexpr (!all) {
            got_.reset(hit);
            return false;
        }
        int rc = PyList_Append(got_.get(), hit);
        Py_DECREF(hit);
        return rc < 0 ? fail() : true;
    }
    // The answer, or null with an exception set.
    PyObject *answer()
    {
        if (failed_)
            return nullptr;
        if (!got_)
            Py_RETURN_NONE;
        return got_.release();
    }

  private:
    bool fail()
    {
        failed_ = true;
        return false;
    }
    lm::Ref got_;
    bool failed_ = false;
};

// collidedict / collidedictall.  Each entry's key and value are held while
// the probed one is coerced: coercion may run Python code that changes the
// dictionary and would drop them.
template <bool all>
static PyObject *collidedict_method(PyObject *self, PyObject *args,
                                    PyObject *kw)
{
    static const char *kwlist[] = {"rect_dict", "values", nullptr};
    PyObject *dict;
    int values = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O|i",
                                     const_cast<char **>(kwlist), &dict,
                                     &values))
        return nullptr;
    if (!PyDict_Check(dict))
        return type_error("first argument must be a dict");
    Hits<all> hits;
    if (!hits.ready())
        return nullptr;
    const Extent e(*R(self));
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(dict, &pos, &k, &v)) {
        lm::Ref key(Py_NewRef(k)), val(Py_NewRef(v));
        SDL_Rect tmp;
        const SDL_Rect *p = coerce(values ? val.get() : key.get(), &tmp);
        if (!p)
            return type_error(values ? "dict must have rectstyle values"
                                     : "dict must have rectstyle keys");
        if (e.empty || !e.hits(*p))
            continue;
        if (!hits.take(PyTuple_Pack(2, key.get(), val.get())))
            break;
    }
    return hits.answer();
}

// collideobjects / collideobjectsall: the items themselves are returned;
// their rectangles come from the item or from key(item).
template <bool all>
static PyObject *collideobjects_method(PyObject *self, PyObject *args,
                                       PyObject *kw)
{
    static const char *kwlist[] = {"list", "key", nullptr};
    PyObject *seq, *key = nullptr;
    if (!PyArg_ParseTupleAndKeywords(
            args, kw, all ? "O|$O:collideobjectsall" : "O|$O:collideobjects",
            const_cast<char **>(kwlist), &seq, &key))
        return nullptr;
    if (!PySequence_Check(seq))
        return type_error("Argument must be a sequence of objects.");
    if (key == Py_None)
        key = nullptr;
    if (key && !PyCallable_Check(key))
        return type_error("Key function must be callable with one argument.");
    Py_ssize_t n = PySequence_Size(seq);
    if (n < 0)
        return nullptr;
    Hits<all> hits;
    if (!hits.ready())
        return nullptr;
    const Extent e(*R(self));
    for (Py_ssize_t i = 0; i < n; ++i) {
        lm::Ref item(PySequence_GetItem(seq, i));
        if (!item)
            return nullptr;
        lm::Ref keyed;
        if (key) {
            keyed.reset(PyObject_CallOneArg(key, item.get()));
            if (!keyed)
                return nullptr;
        }
        SDL_Rect tmp;
        const SDL_Rect *p = coerce(key ? keyed.get() : item.get(), &tmp);
        if (!p)
            return type_error(
                key ? "Key function must return rect or rect-like objects"
                    : "Sequence must contain rect or rect-like objects");
        if (e.empty || !e.hits(*p))
            continue;
        if (!hits.take(item.release()))
            break;
    }
    return hits.answer();
}

// ---------------------------------------------------------------------------
// clipline
// ---------------------------------------------------------------------------

static const char *const ORDINAL[] = {"first", "second", "third", "fourth"};

static bool pair_error(int which)
{
    PyErr_Format(PyExc_TypeError, "number pair expected for %s argument",
                 ORDINAL[which]);
    return false;
}

static bool number_error(int which)
{
    PyErr_Format(PyExc_TypeError, "number expected for %s argument",
                 ORDINAL[which]);
    return false;
}

// The one-argument form: a sequence of two pairs or of four numbers.
static bool line_from_sequence(PyObject *o, int c[4])
{
    if (!PySequence_Check(o)) {
        type_error("sequence argument expected for first argument");
        return false;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0)
        return false;
    if (n == 2) {
        for (int i = 0; i < 2; ++i) {
            lm::Ref item(PySequence_GetItem(o, i));
            if (!item)
                return false;
            if (!two_ints_from(item.get(), &c[2 * i], &c[2 * i + 1]))
                return pair_error(i);
        }
        return true;
    }
    if (n == 4) {
        for (int i = 0; i < 4; ++i)
            if (!lm_IntFromObjIndex(o, i, &c[i]))
                return number_error(i);
        return true;
    }
    PyErr_Format(PyExc_TypeError,
                 "sequence argument takes 2 or 4 items (%ld given)", (long)n);
    return false;
}

// The segment from clipline's arguments, after the keyword forms have been
// rewritten into x1..x4.
static bool line_from_args(PyObject *args, PyObject *kw, int c[4])
{
    static const char *kwlist[] = {"x1", "x2", "x3", "x4", nullptr};
    PyObject *o[4] = {nullptr, nullptr, nullptr, nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O|OOO",
                                     const_cast<char **>(kwlist), &o[0],
                                     &o[1], &o[2], &o[3]))
        return false;
    PyObject *given[4];
    int n = 0;
    for (PyObject *p : o)
        if (p)
            given[n++] = p;
    switch (n) {
    case 4:
        for (int i = 0; i < 4; ++i)
            if (!int_from(given[i], &c[i]))
                return number_error(i);
        return true;
    case 3:
        type_error("clipline() takes 1, 2, or 4 arguments (3 given)");
        return false;
    case 2:
        for (int i = 0; i < 2; ++i)
            if (!two_ints_from(given[i], &c[2 * i], &c[2 * i + 1]))
                return pair_error(i);
        return true;
    default:
        return line_from_sequence(given[0], c);
    }
}

static PyObject *rect_clipline(PyObject *self, PyObject *args, PyObject *kw)
{
    // The keyword forms are rewritten into a dictionary of our own.
    lm::Ref own;
    if (kw && PyDict_GET_SIZE(kw)) {
        PyObject *first = PyDict_GetItemString(kw, "first_coordinate");
        PyObject *second = PyDict_GetItemString(kw, "second_coordinate");
        PyObject *whole = PyDict_GetItemString(kw, "rect_arg");
        int c[4];
        bool rewrite = false;
        if (first && second) {
            if (PyDict_GET_SIZE(kw) != 2)
                return type_error(
                    "Only 2 keyword argument can be passed when using "
                    "'first_coordinate' and 'second_coordinate'");
            if (!two_ints_from(first, &c[0], &c[1])) {
                pair_error(0);
                return nullptr;
            }
            if (!two_ints_from(second, &c[2], &c[3])) {
                pair_error(1);
                return nullptr;
            }
            rewrite = true;
        }
        else if (whole) {
            if (PyDict_GET_SIZE(kw) != 1)
                return type_error("Only 1 keyword argument can be passed "
                                  "when using 'rect_arg");
            if (!line_from_sequence(whole, c))
                return nullptr;
            rewrite = true;
        }
        if (rewrite) {
            own.reset(Py_BuildValue("{s:i,s:i,s:i,s:i}", "x1", c[0], "x2",
                                    c[1], "x3", c[2], "x4", c[3]));
            if (!own)
                return nullptr;
            kw = own.get();
        }
    }
    int c[4];
    if (!line_from_args(args, kw, c))
        return nullptr;

    SDL_Rect r = *R(self);
    if (r.w < 0 || r.h < 0)
        lmgeom::normalize(&r);
    // SDL's own routine where its int arithmetic cannot overflow (SDL2
    // multiplies coordinate differences in int: beyond about 2**15 apart
    // its answers are garbage); the same rules in 64 bits beyond that.
    const lmgeom::i64 lim = 1 << 14;
    bool small = (lmgeom::i64)r.x + r.w <= lim &&
                 (lmgeom::i64)r.y + r.h <= lim && r.x >= -lim && r.y >= -lim;
    for (int v : c)
        small = small && v >= -lim && v <= lim;
    bool hit =
        small ? SDL_IntersectRectAndLine(&r, &c[0], &c[1], &c[2], &c[3]) ==
                    SDL_TRUE
              : lmgeom::clip_line(r, &c[0], &c[1], &c[2], &c[3]);
    if (!hit)
        return PyTuple_New(0);
    return Py_BuildValue("((ii)(ii))", c[0], c[1], c[2], c[3]);
}

// ---------------------------------------------------------------------------
// Method table
// ---------------------------------------------------------------------------

#define LM_M(name, func, flags, doc) \
    {name, (PyCFunction)(void (*)(void))(func), flags, doc}

PyMethodDef rect_methods[] = {
    LM_M("normalize", rect_normalize, METH_NOARGS,
         "normalize() -> None\n"
         "make the width and height non-negative, keeping the area in place"),
    LM_M("clip", (rect_method<lmgeom::clip, false>), METH_FASTCALL,
         "clip(Rect) -> Rect\n"
         "the part of this rectangle inside another one"),
    LM_M("clipline", rect_clipline, METH_VARARGS | METH_KEYWORDS,
         "clipline(x1, y1, x2, y2) -> ((cx1, cy1), (cx2, cy2))\n"
         "clipline((x1, y1), (x2, y2)) -> ((cx1, cy1), (cx2, cy2))\n"
         "clipline((x1, y1, x2, y2)) -> ((cx1, cy1), (cx2, cy2))\n"
         "clipline(((x1, y1), (x2, y2))) -> ((cx1, cy1), (cx2, cy2))\n"
         "the part of a line segment inside this rectangle, or () when the "
         "segment misses it"),
    LM_M("clamp", (rect_method<lmgeom::clamp, false>), METH_FASTCALL,
         "clamp(Rect) -> Rect\n"
         "a copy moved inside another rectangle (centred where it is too "
         "large)"),
    LM_M("clamp_ip", (rect_method<lmgeom::clamp, true>), METH_FASTCALL,
         "clamp_ip(Rect) -> None\n"
         "move this rectangle inside another one, in place"),
    LM_M("copy", rect_copy, METH_NOARGS,
         "copy() -> Rect\n"
         "a new rectangle with the same position and size"),
    LM_M("fit", (rect_method<lmgeom::fit<lm::sat_int>, false>), METH_FASTCALL,
         "fit(Rect) -> Rect\n"
         "a copy scaled to fit inside another rectangle, keeping its aspect "
         "ratio, and centred in it"),
    LM_M("move", (pair_method<lmgeom::move, false>), METH_FASTCALL,
         "move(x, y) -> Rect\n"
         "a copy moved by the given offset"),
    LM_M("update", rect_update, METH_FASTCALL,
         "update(left, top, width, height) -> None\n"
         "update((left, top), (width, height)) -> None\n"
         "update(object) -> None\n"
         "set the position and size, in place"),
    LM_M("scale_by", (scale_by_method<false>), METH_VARARGS | METH_KEYWORDS,
         "scale_by(scalar) -> Rect\n"
         "scale_by(scalex, scaley) -> Rect\n"
         "a copy scaled by the given factors about its centre"),
    LM_M("inflate", (pair_method<lmgeom::inflate, false>), METH_FASTCALL,
         "inflate(x, y) -> Rect\n"
         "a copy grown (or shrunk) by the given amounts about its centre"),
    LM_M("union", (rect_method<lmgeom::unite, false>), METH_FASTCALL,
         "union(Rect) -> Rect\n"
         "the smallest rectangle covering this one and another"),
    LM_M("unionall", (unionall_method<false>), METH_FASTCALL | METH_KEYWORDS,
         "unionall(Rect_sequence) -> Rect\n"
         "the smallest rectangle covering this one and all of a sequence"),
    LM_M("move_ip", (pair_method<lmgeom::move, true>), METH_FASTCALL,
         "move_ip(x, y) -> None\n"
         "move this rectangle by the given offset, in place"),
    LM_M("inflate_ip", (pair_method<lmgeom::inflate, true>), METH_FASTCALL,
         "inflate_ip(x, y) -> None\n"
         "grow (or shrink) this rectangle about its centre, in place"),
    LM_M("scale_by_ip", (scale_by_method<true>), METH_VARARGS | METH_KEYWORDS,
         "scale_by_ip(scalar) -> None\n"
         "scale_by_ip(scalex, scaley) -> None\n"
         "scale this rectangle about its centre, in place"),
    LM_M("union_ip", (rect_method<lmgeom::unite, true>), METH_FASTCALL,
         "union_ip(Rect) -> None\n"
         "grow this rectangle to cover another one, in place"),
    LM_M("unionall_ip", (unionall_method<true>), METH_FASTCALL | METH_KEYWORDS,
         "unionall_ip(Rect_sequence) -> None\n"
         "grow this rectangle to cover all of a sequence, in place"),
    LM_M("collidepoint", rect_collidepoint, METH_FASTCALL,
         "collidepoint(x, y) -> bool\n"
         "collidepoint((x, y)) -> bool\n"
         "whether a point lies inside this rectangle (the right and bottom "
         "edges are outside)"),
    LM_M("colliderect", rect_colliderect, METH_FASTCALL,
         "colliderect(Rect) -> bool\n"
         "colliderect((x, y), (w, h)) -> bool\n"
         "colliderect(x, y, w, h) -> bool\n"
         "whether two rectangles overlap (touching edges do not)"),
    LM_M("collidelist", rect_collidelist, METH_FASTCALL | METH_KEYWORDS,
         "collidelist(rects) -> index\n"
         "the index of the first overlapping rectangle of a sequence, or -1"),
    LM_M("collidelistall", rect_collidelistall, METH_FASTCALL | METH_KEYWORDS,
         "collidelistall(rects) -> indices\n"
         "a list of the indices of all overlapping rectangles of a sequence"),
    LM_M("collideobjects", (collideobjects_method<false>),
         METH_VARARGS | METH_KEYWORDS,
         "collideobjects(list, *, key=None) -> object\n"
         "the first object of a sequence whose rectangle (or key(object)) "
         "overlaps, or None"),
    LM_M("collideobjectsall", (collideobjects_method<true>),
         METH_VARARGS | METH_KEYWORDS,
         "collideobjectsall(list, *, key=None) -> objects\n"
         "a list of the objects of a sequence whose rectangle (or "
         "key(object)) overlaps"),
    LM_M("collidedict", (collidedict_method<false>),
         METH_VARARGS | METH_KEYWORDS,
         "collidedict(rect_dict, values=0) -> (key, value)\n"
         "the first entry of a dict whose key (or value, when values is "
         "true) overlaps, or None"),
    LM_M("collidedictall", (collidedict_method<true>),
         METH_VARARGS | METH_KEYWORDS,
         "collidedictall(rect_dict, values=0) -> [(key, value), ...]\n"
         "all entries of a dict whose key (or value, when values is true) "
         "overlaps"),
    LM_M("contains", rect_contains_m, METH_FASTCALL,
         "contains(Rect) -> bool\n"
         "whether another rectangle lies wholly inside this one"),
    LM_M("__reduce__", rect_reduce, METH_NOARGS,
         "__reduce__() -> (type, (x, y, w, h))\n"
         "pickling support"),
    LM_M("__copy__", rect_copy, METH_NOARGS,
         "__copy__() -> Rect\n"
         "a new rectangle with the same position and size"),
    {nullptr, nullptr, 0, nullptr}};

}  // namespace lmrect
