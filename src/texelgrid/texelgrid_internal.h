// Shared between the files of lumora.texelgrid: the TexelGrid object and
// the helpers its operations use.
#pragma once

#define LUMORA_MODULE_TEXELGRID
#include "frame.h"

#include "gridkern.h"

struct GridObject {
    PyObject_HEAD
    PyObject *dict;
    PyObject *weakrefs;
    PyObject *surface;     // null once closed
    int ndim;              // 1 or 2
    Py_ssize_t shape[2];   // (xlen, ylen); ylen 0 for a one-dimensional view
    Py_ssize_t strides[2]; // (xstride, ystride); ystride 0 in one dimension
    Uint8 *pixels;         // element (0, 0)
    PyObject *parent;      // the array this view was cut from, or null
    // The top-level array whose surface lock covers this view (strong; null
    // for a top-level array).  The top-level array counts its open views:
    // its lock outlives its own close() until the last view is gone.
    PyObject *root;
    Py_ssize_t nviews;
    PyObject *locked;      // top-level: the surface while the lock is held
};

namespace lmtg {

extern PyTypeObject grid_type;

inline GridObject *G(PyObject *o) { return reinterpret_cast<GridObject *>(o); }

// Checks that every operation starts with: the array is open and its
// surface alive.  Return the SDL surface, or null with the error set.
SDL_Surface *open_surface(PyObject *self);
PyObject *raise_closed();

// The walk over a grid's elements (a one-dimensional view is one row).
lmgrid::Grid grid_of(const GridObject *g);

// A view of `parent` (address, shape, strides); null with an error set.
PyObject *new_view(PyObject *parent, Uint8 *pixels, int ndim,
                   const Py_ssize_t *shape, const Py_ssize_t *strides);
PyObject *new_toplevel(PyTypeObject *type, PyObject *surface);

// A colour argument as a raw pixel value.  Returns 1 when it was one, 0
// when the object is not a colour argument (no exception), -1 with
// ValueError "invalid color argument" set (a tuple or Color that is not a
// colour, an int that does not fit).
int color_value(PyObject *o, SDL_Surface *s, Uint32 *out);
bool color_or_raise(PyObject *o, SDL_Surface *s, Uint32 *out);

// Methods of texelgrid_ops.cpp.
PyObject *tg_compare(PyObject *self, PyObject *args, PyObject *kwds);
PyObject *tg_extract(PyObject *self, PyObject *args, PyObject *kwds);
PyObject *tg_replace(PyObject *self, PyObject *args, PyObject *kwds);
PyObject *tg_make_surface(PyObject *self, PyObject *);
PyObject *tg_transpose(PyObject *self, PyObject *);

}  // namespace lmtg
