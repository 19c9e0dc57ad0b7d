// Declarations shared by the files of lumora.base.  Everything here has
// hidden visibility (the build's default): only PyInit_base is exported.
#pragma once

#define LUMORA_MODULE_BASE
#include "frame.h"

namespace lmbase {

// Set by PyInit_base before the capsule is published.
extern PyObject *sdl_error;     // lumora.base.error (RuntimeError subclass)
extern PyObject *buffer_error;  // lumora.base.BufferError (BufferError subclass)

// Number converters (convert.cpp).
int int_from_obj(PyObject *o, int *v);
int int_from_obj_index(PyObject *o, int i, int *v);
int two_ints_from_obj(PyObject *o, int *a, int *b);
int float_from_obj(PyObject *o, float *v);
int float_from_obj_index(PyObject *o, int i, float *v);
int two_floats_from_obj(PyObject *o, float *a, float *b);
int uint_from_obj(PyObject *o, Uint32 *v);
int uint_from_obj_index(PyObject *o, int i, Uint32 *v);
int rgba_from_obj(PyObject *o, Uint8 *rgba);
int double_from_obj(PyObject *o, double *v);
int double_from_obj_index(PyObject *o, int i, double *v);
int two_doubles_from_obj(PyObject *o, double *a, double *b);

// Buffer helpers (buffer.cpp).
PyObject *buffer_as_arrinter(Py_buffer *view);
PyObject *buffer_as_arrstruct(Py_buffer *view);
int object_get_buffer(PyObject *obj, lm_buffer *buf, int flags);
void buffer_release(lm_buffer *buf);
int dict_as_buffer(lm_buffer *buf, PyObject *dict, int flags);

// The display gate (gate.cpp).
int gate_init();
int display_gate(int op);

}  // namespace lmbase
