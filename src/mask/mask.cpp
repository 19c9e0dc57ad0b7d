// lumora.mask: the Mask type (construction, buffer export, the methods that
// map onto the bitmask library) and the module frame.
//
// Word operations are cheap and run with the interpreter lock held; the
// per-pixel loops (scale, convolve, components, surface conversions)
// release it while the masks involved are marked busy.

#include "mask_internal.h"

#include <cmath>

namespace {

void *mask_slots[LM_MASK_NUMSLOTS];

lmMaskObject *as_mask(PyObject *o)
{
    return reinterpret_cast<lmMaskObject *>(o);
}

// ---------------------------------------------------------------------------
// Type slots
// ---------------------------------------------------------------------------
PyObject *mask_new(PyTypeObject *type, PyObject *, PyObject *)
{
    // An object that never sees __init__ (Mask.__new__(Mask)) still holds
    // a valid 0 x 0 record, so no method meets a null one.
    bitmask_t *m = bitmask_create(0, 0);
    lmMaskObject *self =
        m ? reinterpret_cast<lmMaskObject *>(type->tp_alloc(type, 0)) : nullptr;
    if (!self) {
        bitmask_free(m);
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for mask");
        return nullptr;
    }
    self->mask = m;
    self->bufdata = nullptr;
    self->busy = 0;
    return reinterpret_cast<PyObject *>(self);
}

int mask_init(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"size", "fill", nullptr};
    PyObject *size;
    int fill = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O|p", const_cast<char **>(kwids),
                                     &size, &fill))
        return -1;
    int w, h;
    if (!lm_TwoIntsFromObj(size, &w, &h)) {
        PyErr_SetString(PyExc_TypeError, "size must be two numbers");
        return -1;
    }
    if (w < 0 || h < 0) {
        PyErr_SetString(PyExc_ValueError, "cannot create mask with negative size");
        return -1;
    }
    lmMaskObject *m = as_mask(self);
    // Open views and released-lock loops point into the current record.
    if (m->bufdata || m->busy) {
        PyErr_SetString(PyExc_BufferError,
                        "cannot reinitialize a Mask while it is exported or in use");
        return -1;
    }
    bitmask_t *rec = bitmask_create(w, h);
    if (!rec) {
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for bitmask");
        return -1;
    }
    if (fill)
        bitmask_fill(rec);
    bitmask_free(m->mask);
    m->mask = rec;
    return 0;
}

void mask_dealloc(PyObject *self)
{
    lmMaskObject *m = as_mask(self);
    bitmask_free(m->mask);
    PyMem_RawFree(m->bufdata);
    Py_TYPE(self)->tp_free(self);
}

PyObject *mask_repr(PyObject *self)
{
    const bitmask_t *m = lmMask_Get(self);
    return PyUnicode_FromFormat("<Mask(%dx%d)>", m->w, m->h);
}

// The words as a writable 2-D array of unsigned 32-bit items indexed
// [word column][row].
int mask_getbuffer(PyObject *self, Py_buffer *view, int flags)
{
    lmMaskObject *m = as_mask(self);
    const bitmask_t *bm = m->mask;
    if (!m->bufdata) {
        auto *info = static_cast<lmMaskBufInfo *>(
            PyMem_RawMalloc(sizeof(lmMaskBufInfo)));
        if (!info) {
            PyErr_NoMemory();
            return -1;
        }
        info->consumers = 0;
        info->shape[0] = (Py_ssize_t)bitmask_cols(bm->w);
        info->shape[1] = bm->h;
        info->strides[0] = (Py_ssize_t)bm->h * 4;
        info->strides[1] = 4;
        m->bufdata = info;
    }
    m->bufdata->consumers++;
    view->buf = m->mask->bits;
    view->obj = self;
    Py_INCREF(self);
    view->len = (Py_ssize_t)(bitmask_words(bm) * sizeof(BITMASK_W));
    view->itemsize = 4;
    view->readonly = 0;
    view->ndim = 2;
    // The item is a 4-byte unsigned word: "L" only where long is 4 bytes.
    static char fmt_long[] = "L";
    static char fmt_int[] = "I";
    view->format = (flags & PyBUF_FORMAT)
                       ? (sizeof(unsigned long) == 4 ? fmt_long : fmt_int)
                       : nullptr;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? m->bufdata->shape : nullptr;
    view->strides = ((flags & PyBUF_ND) == PyBUF_ND ||
                     (flags & PyBUF_STRIDES) == PyBUF_STRIDES)
                        ? m->bufdata->strides
                        : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

void mask_releasebuffer(PyObject *self, Py_buffer *)
{
    lmMaskObject *m = as_mask(self);
    if (m->bufdata && --m->bufdata->consumers == 0) {
        PyMem_RawFree(m->bufdata);
        m->bufdata = nullptr;
    }
}

PyBufferProcs mask_as_buffer = {mask_getbuffer, mask_releasebuffer};

// ---------------------------------------------------------------------------
// Methods
// ---------------------------------------------------------------------------
PyObject *mask_copy_impl(PyObject *self, PyObject *)
{
    bitmask_t *c = bitmask_copy(lmMask_Get(self));
    if (!c) {
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for bitmask");
        return nullptr;
    }
    return lmmask::wrap(Py_TYPE(self), c);
}

PyObject *mask_copy(PyObject *self, PyObject *)
{
    return PyObject_CallMethod(self, "__copy__", nullptr);
}

PyObject *mask_get_size(PyObject *self, PyObject *)
{
    const bitmask_t *m = lmMask_Get(self);
    return Py_BuildValue("(ii)", m->w, m->h);
}

PyObject *mask_get_rect(PyObject *self, PyObject *args, PyObject *kw)
{
    if (PyTuple_GET_SIZE(args) > 0) {
        PyErr_SetString(PyExc_TypeError, "get_rect only supports keyword arguments");
        return nullptr;
    }
    const bitmask_t *m = lmMask_Get(self);
    lm::Ref rect(lmRect_FromInts(0, 0, m->w, m->h));
    if (!rect) {
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for rect");
        return nullptr;
    }
    if (kw) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kw, &pos, &key, &value))
            if (PyObject_SetAttr(rect.get(), key, value) < 0)
                return nullptr;
    }
    return rect.release();
}

PyObject *mask_get_at(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"pos", nullptr};
    PyObject *pos;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O", const_cast<char **>(kwids), &pos))
        return nullptr;
    const bitmask_t *m = lmMask_Get(self);
    int x, y;
    if (!lmmask::pos_arg(m, pos, &x, &y))
        return nullptr;
    return PyLong_FromLong(bitmask_getbit(m, x, y));
}

PyObject *mask_set_at(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"pos", "value", nullptr};
    PyObject *pos;
    int value = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O|i", const_cast<char **>(kwids),
                                     &pos, &value))
        return nullptr;
    bitmask_t *m = lmMask_Get(self);
    int x, y;
    if (!lmmask::pos_arg(m, pos, &x, &y))
        return nullptr;
    if (value)
        bitmask_setbit(m, x, y);
    else
        bitmask_clearbit(m, x, y);
    Py_RETURN_NONE;
}

// (other, offset) of the two-mask methods.
bool other_offset(PyObject *args, PyObject *kw, PyObject **other, int *x,
                  int *y)
{
    static const char *kwids[] = {"other", "offset", nullptr};
    PyObject *offset;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O!O", const_cast<char **>(kwids),
                                     &lmMask_Type, other, &offset))
        return false;
    return lmmask::pair_arg(offset, "offset", x, y);
}

PyObject *mask_overlap(PyObject *self, PyObject *args, PyObject *kw)
{
    PyObject *other;
    int x, y, px, py;
    if (!other_offset(args, kw, &other, &x, &y))
        return nullptr;
    if (bitmask_overlap_pos(lmMask_Get(self), lmMask_Get(other), x, y, &px, &py))
        return Py_BuildValue("(ii)", px, py);
    Py_RETURN_NONE;
}

PyObject *mask_overlap_area(PyObject *self, PyObject *args, PyObject *kw)
{
    PyObject *other;
    int x, y;
    if (!other_offset(args, kw, &other, &x, &y))
        return nullptr;
    return PyLong_FromUnsignedLongLong(
        bitmask_overlap_area(lmMask_Get(self), lmMask_Get(other), x, y));
}

PyObject *mask_overlap_mask(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"other", "offset", nullptr};
    PyObject *other, *offset;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O!O", const_cast<char **>(kwids),
                                     &lmMask_Type, &other, &offset))
        return nullptr;
    const bitmask_t *m = lmMask_Get(self);
    lm::Ref out(lmmask::make(m->w, m->h));
    if (!out)
        return nullptr;
    int x, y;
    if (!lmmask::pair_arg(offset, "offset", &x, &y))
        return nullptr;
    bitmask_overlap_mask(m, lmMask_Get(other), lmMask_Get(out.get()), x, y);
    return out.release();
}

PyObject *mask_fill(PyObject *self, PyObject *)
{
    bitmask_fill(lmMask_Get(self));
    Py_RETURN_NONE;
}

PyObject *mask_clear(PyObject *self, PyObject *)
{
    bitmask_clear(lmMask_Get(self));
    Py_RETURN_NONE;
}

PyObject *mask_invert(PyObject *self, PyObject *)
{
    bitmask_invert(lmMask_Get(self));
    Py_RETURN_NONE;
}

PyObject *mask_scale(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kwids[] = {"scale", nullptr};
    PyObject *size;
    if (!PyArg_ParseTupleAndKeywords(args, kw, "O", const_cast<char **>(kwids), &size))
        return nullptr;
    int w, h;
    if (!lm_TwoIntsFromObj(size, &w, &h)) {
        PyErr_SetString(PyExc_TypeError, "scale must be two numbers");
        return nullptr;
    }
    if (w < 0 || h < 0) {
        PyErr_SetString(PyExc_ValueError, "cannot scale mask to negative size");
        return nullptr;
    }
    bitmask_t *scaled;
    {
        lmmask::Busy busy(self);
        lm::GilRelease nogil;
        scaled = bitmask_scale(lmMask_Get(self), w, h);
    }
    if (!scaled) {
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for bitmask");
        return nullptr;
    }
    return lmmask::wrap(&lmMask_Type, scaled);
}

// draw and erase: a mask drawn onto itself is read from a copy, or the
// shifted words would be read after they were written.
PyObject *draw_or_erase(PyObject *self, PyObject *args, PyObject *kw,
                        void (*op)(bitmask_t *, const bitmask_t *, int, int))
{
    PyObject *other;
    int x, y;
    if (!other_offset(args, kw, &other, &x, &y))
        return nullptr;
    bitmask_t *a = lmMask_Get(self);
    lmmask::MaskRec copy(other == self ? bitmask_copy(a) : nullptr);
    if (other == self && !copy) {
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for bitmask");
        return nullptr;
    }
    op(a, copy ? copy.get() : lmMask_Get(other), x, y);
    Py_RETURN_NONE;
}

PyObject *mask_draw(PyObject *self, PyObject *args, PyObject *kw)
{
    return draw_or_erase(self, args, kw, bitmask_draw);
}

PyObject *mask_erase(PyObject *self, PyObject *args, PyObject *kw)
{
    return draw_or_erase(self, args, kw, bitmask_erase);
}

PyObject *mask_count(PyObject *self, PyObject *)
{
    return PyLong_FromUnsignedLongLong(bitmask_count(lmMask_Get(self)));
}

PyObject *mask_centroid(PyObject *self, PyObject *)
{
    bitmask_moments mo;
    bitmask_get_moments(lmMask_Get(self), &mo, false);
    if (!mo.n)
        return Py_BuildValue("(ii)", 0, 0);
    return Py_BuildValue("(KK)", (unsigned long long)mo.sx.div(mo.n),
                         (unsigned long long)mo.sy.div(mo.n));
}

PyObject *mask_angle(PyObject *self, PyObject *)
{
    bitmask_moments mo;
    bitmask_get_moments(lmMask_Get(self), &mo, true);
    if (!mo.n)
        return PyFloat_FromDouble(0.0);
    // Means by integer division; the differences are exact in 64 bits
    // (each term is below 2^62).
    const int64_t xc = (int64_t)mo.sx.div(mo.n);
    const int64_t yc = (int64_t)mo.sy.div(mo.n);
    const int64_t cov = (int64_t)mo.sxy.div(mo.n) - xc * yc;
    const int64_t vx = (int64_t)mo.sxx.div(mo.n) - xc * xc;
    const int64_t vy = (int64_t)mo.syy.div(mo.n) - yc * yc;
    double theta = -90.0 * atan2(2.0 * (double)cov, (double)vx - (double)vy) /
                   3.141592653589793;
    return PyFloat_FromDouble(theta);
}

#define KW (METH_VARARGS | METH_KEYWORDS)
#define FN(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

PyMethodDef mask_methods[] = {
    {"__copy__", mask_copy_impl, METH_NOARGS,
     "copy() -> Mask\nReturns a new copy of the mask"},
    {"copy", mask_copy, METH_NOARGS, "copy() -> Mask\nReturns a new copy of the mask"},
    {"get_size", mask_get_size, METH_NOARGS,
     "get_size() -> (width, height)\nReturns the size of the mask"},
    {"get_rect", FN(mask_get_rect), KW,
     "get_rect(**kwargs) -> Rect\nReturns a Rect based on the size of the mask"},
    {"get_at", FN(mask_get_at), KW, "get_at(pos) -> int\nGets the bit at the given position"},
    {"set_at", FN(mask_set_at), KW,
     "set_at(pos) -> None\nset_at(pos, value=1) -> None\nSets the bit at the given position"},
    {"overlap", FN(mask_overlap), KW,
     "overlap(other, offset) -> (x, y)\noverlap(other, offset) -> None\n"
     "Returns the point of intersection"},
    {"overlap_area", FN(mask_overlap_area), KW,
     "overlap_area(other, offset) -> numbits\nReturns the number of overlapping set bits"},
    {"overlap_mask", FN(mask_overlap_mask), KW,
     "overlap_mask(other, offset) -> Mask\nReturns a mask of the overlapping set bits"},
    {"fill", mask_fill, METH_NOARGS, "fill() -> None\nSets all bits to 1"},
    {"clear", mask_clear, METH_NOARGS, "clear() -> None\nSets all bits to 0"},
    {"invert", mask_invert, METH_NOARGS, "invert() -> None\nFlips all the bits"},
    {"scale", FN(mask_scale), KW, "scale((width, height)) -> Mask\nResizes a mask"},
    {"draw", FN(mask_draw), KW, "draw(other, offset) -> None\nDraws a mask onto another"},
    {"erase", FN(mask_erase), KW, "erase(other, offset) -> None\nErases a mask from another"},
    {"count", mask_count, METH_NOARGS, "count() -> bits\nReturns the number of set bits"},
    {"centroid", mask_centroid, METH_NOARGS,
     "centroid() -> (x, y)\nReturns the centroid of the set bits"},
    {"angle", mask_angle, METH_NOARGS,
     "angle() -> theta\nReturns the orientation of the set bits"},
    {"outline", FN(mask_outline), KW,
     "outline() -> [(x, y), ...]\noutline(every=1) -> [(x, y), ...]\n"
     "Returns a list of points outlining an object"},
    {"convolve", FN(mask_convolve), KW,
     "convolve(other) -> Mask\nconvolve(other, output=None, offset=(0, 0)) -> Mask\n"
     "Returns the convolution of this mask with another mask"},
    {"connected_component", FN(mask_connected_component), KW,
     "connected_component() -> Mask\nconnected_component(pos) -> Mask\n"
     "Returns a mask containing a connected component"},
    {"connected_components", FN(mask_connected_components), KW,
     "connected_components() -> [Mask, ...]\n"
     "connected_components(minimum=0) -> [Mask, ...]\n"
     "Returns a list of masks of connected components"},
    {"get_bounding_rects", mask_get_bounding_rects, METH_NOARGS,
     "get_bounding_rects() -> [Rect, ...]\n"
     "Returns a list of bounding rects of connected components"},
    {"to_surface", FN(mask_to_surface), KW,
     "to_surface() -> Surface\n"
     "to_surface(surface=None, setsurface=None, unsetsurface=None, "
     "setcolor=(255, 255, 255, 255), unsetcolor=(0, 0, 0, 255), dest=(0, 0)) -> Surface\n"
     "Returns a surface with the mask drawn on it"},
    {nullptr, nullptr, 0, nullptr}};

PyMethodDef module_methods[] = {
    {"from_surface", FN(mask_from_surface), KW,
     "from_surface(surface) -> Mask\nfrom_surface(surface, threshold=127) -> Mask\n"
     "Creates a Mask from the given surface"},
    {"from_threshold", FN(mask_from_threshold), KW,
     "from_threshold(surface, color) -> Mask\n"
     "from_threshold(surface, color, threshold=(0, 0, 0, 255), othersurface=None, "
     "palette_colors=1) -> Mask\n"
     "Creates a mask by thresholding Surfaces"},
    {nullptr, nullptr, 0, nullptr}};

LM_MODULE_DEF(mask_module, "mask", "lumora module for image masks.", module_methods);

void mask_type_setup()
{
    PyTypeObject &t = lmMask_Type;
    t.tp_name = "lumora.mask.Mask";
    t.tp_basicsize = sizeof(lmMaskObject);
    t.tp_dealloc = mask_dealloc;
    t.tp_repr = mask_repr;
    t.tp_as_buffer = &mask_as_buffer;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = "Mask(size=(width, height)) -> Mask\n"
               "Mask(size=(width, height), fill=False) -> Mask\n"
               "lumora object for representing 2D bitmasks";
    t.tp_methods = mask_methods;
    t.tp_init = mask_init;
    t.tp_new = mask_new;
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers shared with the other module files
// ---------------------------------------------------------------------------
PyObject *lmmask::wrap(PyTypeObject *type, bitmask_t *m)
{
    // A subclass's own __new__ expects an argument tuple.
    lm::Ref noargs(PyTuple_New(0));
    PyObject *o = noargs ? type->tp_new(type, noargs.get(), nullptr) : nullptr;
    if (!o || !PyObject_TypeCheck(o, &lmMask_Type)) {
        Py_XDECREF(o);
        bitmask_free(m);
        PyErr_SetString(PyExc_MemoryError, "cannot allocate memory for mask");
        return nullptr;
    }
    lmMaskObject *mo = as_mask(o);
    bitmask_free(mo->mask);
    mo->mask = m;
    return o;
}

PyObject *lmmask::make(int w, int h)
{
    return PyObject_CallFunction(reinterpret_cast<PyObject *>(&lmMask_Type),
                                 "(ii)i", w, h, 0);
}

bool lmmask::pair_arg(PyObject *o, const char *what, int *x, int *y)
{
    if (lm_TwoIntsFromObj(o, x, y))
        return true;
    PyErr_Format(PyExc_TypeError, "%s must be two numbers", what);
    return false;
}

bool lmmask::pos_arg(const bitmask_t *m, PyObject *o, int *x, int *y)
{
    if (!pair_arg(o, "pos", x, y))
        return false;
    if (*x < 0 || *x >= m->w || *y < 0 || *y >= m->h) {
        PyErr_Format(PyExc_IndexError, "%d, %d is out of bounds", *x, *y);
        return false;
    }
    return true;
}

PyMODINIT_FUNC PyInit_mask(void)
{
    LM_IMPORT(base);
    LM_IMPORT(color);
    LM_IMPORT_SURFACE();
    LM_IMPORT(rect);

    mask_type_setup();
    lm::Ref module(lm_module_with_type(&mask_module, "Mask", &lmMask_Type));
    if (!module)
        return nullptr;
    mask_slots[LM_MASK_TYPE] = &lmMask_Type;
    if (lm_export_slots(module.get(), "mask", mask_slots) < 0)
        return nullptr;
    return module.release();
}
