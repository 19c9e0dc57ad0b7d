// Module-level functions of lumora.surface: which blend kernel runs.  They
// exist for tests and benchmarks, which compare the vector builds with the
// scalar reference on the same pixels.
#include "frame.h"

#include "blendvec.h"

static PyObject *m_blit_kernels(PyObject *, PyObject *)
{
    const lmpx::BlendKernel *k;
    int n = lmpx::blend_kernels(&k);
    PyObject *out = PyTuple_New(n);
    if (!out)
        return nullptr;
    for (int i = 0; i < n; ++i) {
        PyObject *name = PyUnicode_FromString(k[i].name);
        if (!name) {
            Py_DECREF(out);
            return nullptr;
        }
        PyTuple_SET_ITEM(out, i, name);
    }
    return out;
}

static PyObject *m_set_blit_kernel(PyObject *, PyObject *args)
{
    const char *name;
    if (!PyArg_ParseTuple(args, "s:_set_blit_kernel", &name))
        return nullptr;
    const char *before = lmpx::blend_kernel().name;
    if (!lmpx::set_blend_kernel(name)) {
        PyErr_Format(PyExc_ValueError, "no blit kernel '%s' on this CPU", name);
        return nullptr;
    }
    return PyUnicode_FromString(before);
}

PyMethodDef lm_surface_module_methods[] = {
    {"_blit_kernels", m_blit_kernels, METH_NOARGS,
     "_blit_kernels() -> tuple of str\n"
     "The alpha-blend kernels this CPU runs, the scalar reference first and\n"
     "the one in use last."},
    {"_set_blit_kernel", m_set_blit_kernel, METH_VARARGS,
     "_set_blit_kernel(name) -> str\n"
     "Use another alpha-blend kernel; returns the previous one's name."},
    {nullptr, nullptr, 0, nullptr}};
