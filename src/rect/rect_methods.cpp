// Placeholder method table (being replaced by the geometry methods).
#include "rect_internal.h"
namespace lmrect {
PyMethodDef rect_methods[] = {{nullptr, nullptr, 0, nullptr}};
}
