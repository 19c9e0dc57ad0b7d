// Shared declarations of the lumora.mask module files (Python layer).
#pragma once

#include "frame.h"
#include "bitmask.h"

// Shape and strides of exported buffer views, shared by every open view
// and freed when the last one is released.
struct lmMaskBufInfo {
    Py_ssize_t consumers;
    Py_ssize_t shape[2];    // word columns, rows
    Py_ssize_t strides[2];  // 4 * h, 4
};

struct lmMaskObject {
    PyObject_HEAD
    bitmask_t *mask;         // never null once __new__ returned
    lmMaskBufInfo *bufdata;  // null while no view is open
    int busy;                // pixel loops running without the GIL
};

inline PyTypeObject lmMask_Type = {};

#define lmMask_Check(o) PyObject_TypeCheck((o), &lmMask_Type)
#define lmMask_Get(o) (reinterpret_cast<lmMaskObject *>(o)->mask)

namespace lmmask {

// Marks masks as in use while their words are worked on with the
// interpreter lock released: __init__ then refuses to swap the record.
// Construct before releasing the lock, destroy after re-taking it.
class Busy {
  public:
    explicit Busy(PyObject *o) : o_(reinterpret_cast<lmMaskObject *>(o))
    {
        o_->busy++;
    }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;
    ~Busy() { o_->busy--; }

  private:
    lmMaskObject *o_;
};

// Owned bitmask record; freed on scope exit unless released.
class MaskRec {
  public:
    explicit MaskRec(bitmask_t *m = nullptr) : m_(m) {}
    MaskRec(const MaskRec &) = delete;
    MaskRec &operator=(const MaskRec &) = delete;
    ~MaskRec() { bitmask_free(m_); }
    bitmask_t *get() const { return m_; }
    bitmask_t *release()
    {
        bitmask_t *m = m_;
        m_ = nullptr;
        return m;
    }
    explicit operator bool() const { return m_ != nullptr; }

  private:
    bitmask_t *m_;
};

// A new object of `type` made through its __new__ path (no __init__)
// owning `m`; frees `m` and raises "cannot allocate memory for mask" on
// failure.
PyObject *wrap(PyTypeObject *type, bitmask_t *m);

// Mask((w, h), 0) made by calling the type.
PyObject *make(int w, int h);

// Two ints from `o`, else TypeError "<what> must be two numbers".
bool pair_arg(PyObject *o, const char *what, int *x, int *y);

// A position inside the mask, else TypeError / IndexError.
bool pos_arg(const bitmask_t *m, PyObject *o, int *x, int *y);

}  // namespace lmmask

// Methods defined in mask_shape.cpp and mask_surface.cpp.
PyObject *mask_outline(PyObject *self, PyObject *args, PyObject *kw);
PyObject *mask_convolve(PyObject *self, PyObject *args, PyObject *kw);
PyObject *mask_connected_component(PyObject *self, PyObject *args,
                                   PyObject *kw);
PyObject *mask_connected_components(PyObject *self, PyObject *args,
                                    PyObject *kw);
PyObject *mask_get_bounding_rects(PyObject *self, PyObject *args);
PyObject *mask_to_surface(PyObject *self, PyObject *args, PyObject *kw);
PyObject *mask_from_surface(PyObject *self, PyObject *args, PyObject *kw);
PyObject *mask_from_threshold(PyObject *self, PyObject *args, PyObject *kw);
