// Loading from file objects that cannot seek.
//
// SDL's decoders seek (to read a header twice, or to jump to the pixel
// data), so an object offering `read` but no working `seek`/`tell` (a pipe,
// a socket file, a decompressing reader; io objects whose seekable() is
// false) would always fail to load.  Such an object is read to its end
// first and decoded from memory instead.
// Shared by lumora.image and lumora.richload.
#pragma once

#include "frame.h"

namespace lmimg {

inline bool has_method(PyObject *o, const char *name)
{
    PyObject *m = PyObject_GetAttrString(o, name);
    if (!m) {
        PyErr_Clear();
        return false;
    }
    bool ok = PyCallable_Check(m);
    Py_DECREF(m);
    return ok;
}

// 1: `*rw` reads the object's whole content, kept alive in `*hold` (release
// it after the load); 0: not such an object, use the ordinary stream;
// -1: an exception is set.
inline int unseekable_source(PyObject *file, SDL_RWops **rw, PyObject **hold)
{
    if (PyUnicode_Check(file) || PyBytes_Check(file) ||
        PyObject_HasAttrString(file, "__fspath__"))
        return 0;
    if (!has_method(file, "read"))
        return 0;
    if (has_method(file, "seek") && has_method(file, "tell")) {
        // io objects always have seek and tell; they say whether they work.
        if (!has_method(file, "seekable"))
            return 0;
        lm::Ref ok(PyObject_CallMethod(file, "seekable", nullptr));
        if (!ok) {
            PyErr_Clear();
            return 0;
        }
        int truth = PyObject_IsTrue(ok.get());
        if (truth < 0)
            PyErr_Clear();
        if (truth != 0)
            return 0;
    }
    lm::Ref read(PyObject_GetAttrString(file, "read"));
    if (!read)
        return -1;
    lm::Ref data(PyByteArray_FromStringAndSize(nullptr, 0));
    if (!data)
        return -1;
    for (;;) {
        lm::Ref chunk(PyObject_CallFunction(read.get(), "n", (Py_ssize_t)65536));
        if (!chunk)
            return -1;
        if (chunk.get() == Py_None)
            break;
        Py_buffer view;
        if (PyObject_GetBuffer(chunk.get(), &view, PyBUF_SIMPLE) < 0) {
            PyErr_SetString(PyExc_TypeError,
                            "read() of a file object must return bytes");
            return -1;
        }
        Py_ssize_t have = PyByteArray_GET_SIZE(data.get());
        Py_ssize_t n = view.len;
        if (n == 0) {
            PyBuffer_Release(&view);
            break;
        }
        if (n > INT_MAX - have) {
            PyBuffer_Release(&view);
            PyErr_SetString(PyExc_MemoryError, "image file too large");
            return -1;
        }
        if (PyByteArray_Resize(data.get(), have + n) < 0) {
            PyBuffer_Release(&view);
            return -1;
        }
        memcpy(PyByteArray_AS_STRING(data.get()) + have, view.buf, (size_t)n);
        PyBuffer_Release(&view);
    }
    *rw = SDL_RWFromConstMem(PyByteArray_AS_STRING(data.get()),
                             (int)PyByteArray_GET_SIZE(data.get()));
    if (!*rw) {
        PyErr_SetString(lmExc_SDLError, SDL_GetError());
        return -1;
    }
    *hold = data.release();
    return 1;
}

}  // namespace lmimg
