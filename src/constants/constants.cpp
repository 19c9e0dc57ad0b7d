// lumora.constants: the SDL-valued constants of the package, gathered from
// the groups registered by the other files of this directory.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "constants.h"

static const lm_constant_group *registry = nullptr;

int lm_constants_register(lm_constant_group *group)
{
    group->next = registry;
    registry = group;
    return 1;
}

static PyModuleDef constants_module = {
    PyModuleDef_HEAD_INIT, "constants",
    "Constants of lumora: surface flags, event types, keys and more.\n"
    "They are also available in the lumora namespace.",
    -1, nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_constants(void)
{
    PyObject *module = PyModule_Create2(&constants_module, 1013);
    if (!module)
        return nullptr;
    for (const lm_constant_group *g = registry; g; g = g->next) {
        for (const lm_constant *c = g->items; c->name; ++c) {
            PyObject *v = PyLong_FromLongLong(c->value);
            if (!v || PyModule_AddObject(module, c->name, v) < 0) {
                Py_XDECREF(v);
                Py_DECREF(module);
                return nullptr;
            }
        }
    }
    return module;
}
