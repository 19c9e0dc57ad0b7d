// Mask methods on the shape of the set pixels: connected components,
// bounding rects, outline and convolution.

#include "mask_internal.h"
#include "components.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool append_point(void *ctx, int x, int y)
{
    lm::Ref pt(Py_BuildValue("(ii)", x, y));
    return pt && PyList_Append(static_cast<PyObject *>(ctx), pt.get()) == 0;
}

}  // namespace

PyObject *mask_outline(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"every", nullptr};
    long every = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|l", const_cast<char **>(kwids), &every))
        return nullptr;
    lm::Ref list(PyList_New(0));
    if (!list) {
        PyErr_SetString(PyExc_MemoryError, "outline cannot allocate memory for list");
        return nullptr;
    }
    const bitmask_t *m = lmMask_Get(self);
    if (!m->w || !m->h)
        return list.release();
    // A clear border lets the tracer look at every neighbour unchecked.
    lmmask::MaskRec padded(m->w < INT_MAX - 1 && m->h < INT_MAX - 1
                               ? bitmask_create(m->w + 2, m->h + 2)
                               : nullptr);
    if (!padded) {
        PyErr_SetString(PyExc_MemoryError, "outline cannot allocate memory for mask");
        return nullptr;
    }
    bitmask_draw(padded.get(), m, 1, 1);
    if (!lmmask::trace_outline(padded.get(), every, append_point, list.get()))
        return nullptr;
    return list.release();
}

PyObject *mask_convolve(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"other", "output", "offset", nullptr};
    PyObject *other, *output = Py_None, *offset = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O!|OO", const_cast<char **>(kwids),
                                     &lmMask_Type, &other, &output, &offset))
        return nullptr;
    int x = 0, y = 0;
    if (offset && !lmmask::pair_arg(offset, "offset", &x, &y))
        return nullptr;
    const bitmask_t *a = lmMask_Get(self), *b = lmMask_Get(other);
    lm::Ref out;
    if (output == Py_None) {
        const int64_t w = std::max<int64_t>(0, (int64_t)a->w + b->w - 1);
        const int64_t h = std::max<int64_t>(0, (int64_t)a->h + b->h - 1);
        if (w > INT_MAX || h > INT_MAX) {
            PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for bitmask");
            return nullptr;
        }
        out.reset(lmmask::make((int)w, (int)h));
        if (!out)
            return nullptr;
    } else if (!lmMask_Check(output)) {
        PyErr_SetString(PyExc_TypeError, "output must be a Mask or None");
        return nullptr;
    } else {
        Py_INCREF(output);
        out.reset(output);
    }
    bitmask_t *o = lmMask_Get(out.get());
    // An input that is also the output is read from a copy: drawing into o
    // would otherwise feed back into later rows.
    lmmask::MaskRec acopy(a == o ? bitmask_copy(a) : nullptr);
    lmmask::MaskRec bcopy(b == o ? bitmask_copy(b) : nullptr);
    if ((a == o && !acopy) || (b == o && !bcopy)) {
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for bitmask");
        return nullptr;
    }
    {
        lmmask::Busy busy_a(self), busy_b(other), busy_o(out.get());
        lm::GilRelease nogil;
        bitmask_convolve(acopy ? acopy.get() : a, bcopy ? bcopy.get() : b, o, x, y);
    }
    return out.release();
}

PyObject *mask_connected_component(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"pos", nullptr};
    PyObject *pos = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|O", const_cast<char **>(kwids), &pos))
        return nullptr;
    const bitmask_t *m = lmMask_Get(self);
    int x = 0, y = 0;
    if (pos && !lmmask::pos_arg(m, pos, &x, &y))
        return nullptr;
    lm::Ref out(lmmask::make(m->w, m->h));
    if (!out)
        return nullptr;
    if ((pos && !bitmask_getbit(m, x, y)) || !m->w || !m->h)
        return out.release();
    if (!lmmask::cc_pick(m, lmMask_Get(out.get()), pos != nullptr, x, y)) {
        PyErr_SetString(PyExc_MemoryError,
                        "cannot allocate memory for connected component");
        return nullptr;
    }
    return out.release();
}

PyObject *mask_connected_components(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"minimum", nullptr};
    int minimum = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "|i", const_cast<char **>(kwids), &minimum))
        return nullptr;
    const bitmask_t *m = lmMask_Get(self);
    bitmask_t **recs = nullptr;
    long n = 0;
    {
        lmmask::Busy busy(self);
        lm::GilRelease nogil;
        if (bitmask_count(m))
            n = lmmask::cc_split(m, (uint32_t)std::max(minimum, 0), &recs);
    }
    if (n < 0) {
        PyErr_SetString(PyExc_MemoryError,
                        "cannot allocate memory for connected components");
        return nullptr;
    }
    long next = 0;  // records from here on are still owned by recs
    lm::Ref list(PyList_New(n));
    if (list) {
        for (; next < n; ++next) {
            PyObject *o = lmmask::wrap(&lmMask_Type, recs[next]);
            if (!o) {
                ++next;  // wrap freed this one
                list.reset();
                break;
            }
            PyList_SET_ITEM(list.get(), next, o);
        }
    }
    for (long k = next; k < n; ++k)
        bitmask_free(recs[k]);
    free(recs);
    return list.release();
}

PyObject *mask_get_bounding_rects(PyObject *self, PyObject *)
{
    const bitmask_t *m = lmMask_Get(self);
    lmmask::Box *boxes = nullptr;
    long n = 0;
    {
        lmmask::Busy busy(self);
        lm::GilRelease nogil;
        if (bitmask_count(m))
            n = lmmask::cc_boxes(m, &boxes);
    }
    if (n < 0) {
        PyErr_SetString(PyExc_MemoryError,
                        "Not enough memory to get bounding rects. \n");
        return nullptr;
    }
    lm::Ref list(PyList_New(n));
    for (long k = 0; list && k < n; ++k) {
        PyObject *r = lmRect_FromInts(boxes[k].x, boxes[k].y, boxes[k].w, boxes[k].h);
        if (!r) {
            list.reset();
            PyErr_SetString(PyExc_MemoryError,
                            "cannot allocate memory for bounding rects");
            break;
        }
        PyList_SET_ITEM(list.get(), k, r);
    }
    free(boxes);
    return list.release();
}
