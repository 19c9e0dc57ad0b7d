// Surface methods that export the pixels as ViewShim objects
// (surface_view.cpp).
#pragma once

#include "frame.h"

PyObject *lmsurf_get_view(PyObject *self, PyObject *args);
PyObject *lmsurf_get_buffer(PyObject *self, PyObject *);

#define LM_SURFACE_VIEW_METHODS                                                  \
    {"get_view", (PyCFunction)(void (*)(void))lmsurf_get_view, METH_VARARGS,     \
     "get_view(kind='2') -> ViewShim\nThe pixels as an array view that keeps the\n" \
     "surface locked while exported: '0' or '1' raw bytes, '2' one mapped int\n"  \
     "per pixel (w, h), '3' RGB channels (w, h, 3), 'r', 'g', 'b', 'a' one\n"     \
     "colour channel (w, h)."},                                                   \
    {"get_buffer", (PyCFunction)(void (*)(void))lmsurf_get_buffer, METH_NOARGS,   \
     "get_buffer() -> ViewShim\nThe raw pixel bytes, keeping the surface locked\n" \
     "while exported."},
