// lumora.shapekit: alpha-blended drawing primitives over surfaces.
//
// Every function parses its arguments (16-bit coordinates), checks the
// surface and the colour, and hands over to one primitive of prims.h,
// which clips against the surface's clip rectangle and locks the surface
// only when SDL requires it.  The point-list primitives run without the
// interpreter lock: they touch only the SDL surfaces and the coordinate
// arrays this call owns.

#include "frame.h"
#include "prims.h"

#include <utility>

namespace {

// Point lists beyond this are refused as an allocation failure.
constexpr Py_ssize_t kMaxPoints = (Py_ssize_t)1 << 30;

bool surface_arg(PyObject *o, const char *message)
{
    int is = lmSurface_Check(o);
    if (is < 0)
        return false;
    if (!is) {
        PyErr_SetString(PyExc_TypeError, message);
        return false;
    }
    return true;
}

SDL_Surface *sdl_of(PyObject *o)
{
    SDL_Surface *s = lmSurface_AsSurface(o);
    if (!s)
        PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return s;
}

bool color_arg(PyObject *o, Uint8 rgba[4])
{
    if (lm_RGBAFromObj(o, rgba))
        return true;
    PyErr_SetString(PyExc_TypeError, "invalid color argument");
    return false;
}

PyObject *result_of(int rc)
{
    if (rc < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

// A value clamped to the 16-bit coordinate range.
Sint16 clamp16(long long v)
{
    return (Sint16)(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

// Surface, colour and surface pointer checks, then `prim(s, r, g, b, a)`.
template <typename F>
PyObject *scalar_call(PyObject *surfobj, PyObject *colorobj, F &&prim)
{
    Uint8 c[4];
    if (!surface_arg(surfobj, "surface must be a Surface") ||
        !color_arg(colorobj, c))
        return nullptr;
    SDL_Surface *s = sdl_of(surfobj);
    if (!s)
        return nullptr;
    return result_of(prim(s, c[0], c[1], c[2], c[3]));
}

// Surface, the primitive's 16-bit coordinates, colour; how many
// coordinates there are is read off the primitive's signature.
template <typename P, size_t... I>
PyObject *coords_call_n(PyObject *args, const char *format, P prim,
                        std::index_sequence<I...>)
{
    PyObject *surf, *color;
    short v[sizeof...(I)];
    if (!PyArg_ParseTuple(args, format, &surf, &v[I]..., &color))
        return nullptr;
    return scalar_call(surf, color, [&](SDL_Surface *s, Uint8 r, Uint8 g,
                                        Uint8 b, Uint8 a) {
        return prim(s, v[I]..., r, g, b, a);
    });
}

template <typename... A>
PyObject *coords_call(PyObject *args, const char *format,
                      int (*prim)(SDL_Surface *, A...))
{
    return coords_call_n(args, format, prim,
                         std::make_index_sequence<sizeof...(A) - 4>());
}

// The coordinates of a point list as two arrays of shorts.
struct PointList {
    Sint16 *xs = nullptr, *ys = nullptr;
    Py_ssize_t n = 0;
    PointList() = default;
    PointList(const PointList &) = delete;
    PointList &operator=(const PointList &) = delete;
    ~PointList()
    {
        PyMem_Free(xs);
        PyMem_Free(ys);
    }
};

// The sequence test and the count test.
bool points_arg(PyObject *points, PointList &out)
{
    if (!PySequence_Check(points)) {
        PyErr_SetString(PyExc_TypeError, "points must be a sequence");
        return false;
    }
    Py_ssize_t n = PySequence_Size(points);
    if (n < 0)
        return false;
    if (n < 3) {
        PyErr_SetString(PyExc_ValueError,
                        "points must contain more than 2 points");
        return false;
    }
    out.n = n;
    return true;
}

// One coordinate: a number, converted to an integer and clamped.
bool coordinate(PyObject *point, Py_ssize_t index, Sint16 *out)
{
    lm::Ref item(PySequence_GetItem(point, index));
    if (!item || !PyNumber_Check(item.get()))
        return false;
    lm::Ref num(PyNumber_Long(item.get()));
    if (!num)
        return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(num.get(), &overflow);
    if (v == -1 && PyErr_Occurred())
        return false;
    if (overflow)
        v = overflow > 0 ? 32767 : -32768;
    *out = clamp16(v);
    return true;
}

// Allocates and fills the arrays of a counted point list.
bool fill_points(PyObject *points, PointList &out)
{
    if (out.n >= kMaxPoints) {
        PyErr_SetString(PyExc_MemoryError, "memory allocation failed");
        return false;
    }
    out.xs = static_cast<Sint16 *>(PyMem_Malloc((size_t)out.n * sizeof(Sint16)));
    out.ys = static_cast<Sint16 *>(PyMem_Malloc((size_t)out.n * sizeof(Sint16)));
    if (!out.xs || !out.ys) {
        PyErr_SetString(PyExc_MemoryError, "memory allocation failed");
        return false;
    }
    for (Py_ssize_t i = 0; i < out.n; ++i) {
        lm::Ref point(PySequence_GetItem(points, i));
        if (!point || !coordinate(point.get(), 0, &out.xs[i]) ||
            !coordinate(point.get(), 1, &out.ys[i])) {
            PyErr_SetString(PyExc_TypeError,
                            "points must be pairs of numbers");
            return false;
        }
    }
    return true;
}

// The shared road of polygon, aapolygon, filled_polygon and bezier; `steps`
// is checked only when given.
template <typename F>
PyObject *points_call(PyObject *surfobj, PyObject *points, PyObject *colorobj,
                      const int *steps, F &&prim)
{
    Uint8 c[4];
    PointList pts;
    if (!surface_arg(surfobj, "surface must be a Surface") ||
        !color_arg(colorobj, c) || !points_arg(points, pts))
        return nullptr;
    if (steps && *steps < 2) {
        PyErr_SetString(PyExc_ValueError,
                        "steps parameter must be greater than 1");
        return nullptr;
    }
    SDL_Surface *s = sdl_of(surfobj);
    if (!s || !fill_points(points, pts))
        return nullptr;
    int rc;
    {
        lm::GilRelease nogil;
        rc = prim(s, pts.xs, pts.ys, (int)pts.n, c[0], c[1],
                  c[2], c[3]);
    }
    return result_of(rc);
}

// ---------------------------------------------------------------------------
PyObject *sk_pixel(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhO:pixel", pixelRGBA);
}

PyObject *sk_hline(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhO:hline", hlineRGBA);
}

PyObject *sk_vline(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhO:vline", vlineRGBA);
}

// rectangle and box: the rect's corners, each clamped to the 16-bit range
// (a far corner is as good as the clamped one: nothing lies beyond it).
template <typename F>
PyObject *rect_call(PyObject *args, const char *format, F &&prim)
{
    PyObject *surf, *rectobj, *color;
    if (!PyArg_ParseTuple(args, format, &surf, &rectobj, &color) ||
        !surface_arg(surf, "surface must be a Surface"))
        return nullptr;
    SDL_Rect scratch;
    const SDL_Rect *r = lmRect_Coerce(rectobj, &scratch);
    if (!r) {
        PyErr_SetString(PyExc_TypeError, "invalid rect style argument");
        return nullptr;
    }
    const long long x = r->x, y = r->y, w = r->w, h = r->h;
    return scalar_call(surf, color, [&](SDL_Surface *s, Uint8 cr, Uint8 cg,
                                        Uint8 cb, Uint8 ca) {
        return prim(s, clamp16(x), clamp16(y), clamp16(x + w - 1),
                    clamp16(y + h - 1), cr, cg, cb, ca);
    });
}

PyObject *sk_rectangle(PyObject *, PyObject *args)
{
    return rect_call(args, "OOO:rectangle", rectangleRGBA);
}

PyObject *sk_box(PyObject *, PyObject *args)
{
    return rect_call(args, "OOO:box", boxRGBA);
}

PyObject *sk_line(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhO:line", lineRGBA);
}

PyObject *sk_circle(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhO:circle", circleRGBA);
}

PyObject *sk_aacircle(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhO:aacircle", aacircleRGBA);
}

PyObject *sk_filled_circle(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhO:filledcircle", filledCircleRGBA);
}

PyObject *sk_arc(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhhO:arc", arcRGBA);
}

PyObject *sk_pie(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhhO:pie", pieRGBA);
}

PyObject *sk_ellipse(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhO:ellipse", ellipseRGBA);
}

PyObject *sk_aaellipse(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhO:aaellipse", aaellipseRGBA);
}

PyObject *sk_filled_ellipse(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhO:filled_ellipse", filledEllipseRGBA);
}

PyObject *sk_trigon(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhhhO:trigon", trigonRGBA);
}

PyObject *sk_aatrigon(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhhhO:aatrigon", aatrigonRGBA);
}

PyObject *sk_filled_trigon(PyObject *, PyObject *args)
{
    return coords_call(args, "OhhhhhhO:filled_trigon", filledTrigonRGBA);
}

template <typename P>
PyObject *polygon_call(PyObject *args, const char *format, P prim)
{
    PyObject *surf, *points, *color;
    if (!PyArg_ParseTuple(args, format, &surf, &points, &color))
        return nullptr;
    return points_call(surf, points, color, nullptr, prim);
}

PyObject *sk_polygon(PyObject *, PyObject *args)
{
    return polygon_call(args, "OOO:polygon", polygonRGBA);
}

PyObject *sk_aapolygon(PyObject *, PyObject *args)
{
    return polygon_call(args, "OOO:aapolygon", aapolygonRGBA);
}

PyObject *sk_filled_polygon(PyObject *, PyObject *args)
{
    return polygon_call(args, "OOO:filled_polygon", filledPolygonRGBA);
}

PyObject *sk_bezier(PyObject *, PyObject *args)
{
    PyObject *surf, *points, *color;
    int steps;
    if (!PyArg_ParseTuple(args, "OOiO:bezier", &surf, &points, &steps,
                          &color))
        return nullptr;
    return points_call(surf, points, color, &steps,
                       [&](SDL_Surface *s, const Sint16 *vx,
                           const Sint16 *vy, int n, Uint8 r, Uint8 g, Uint8 b,
                           Uint8 a) {
                           return bezierRGBA(s, vx, vy, n, steps, r, g, b, a);
                       });
}

PyObject *sk_textured_polygon(PyObject *, PyObject *args)
{
    PyObject *surf, *points, *texobj;
    short tx, ty;
    if (!PyArg_ParseTuple(args, "OOOhh:textured_polygon", &surf, &points,
                          &texobj, &tx, &ty) ||
        !surface_arg(surf, "surface must be a Surface"))
        return nullptr;
    SDL_Surface *s = sdl_of(surf);
    if (!s || !surface_arg(texobj, "texture must be a Surface"))
        return nullptr;
    SDL_Surface *tex = sdl_of(texobj);
    if (!tex)
        return nullptr;
    if (!PySequence_Check(points)) {
        PyErr_SetString(PyExc_TypeError, "points must be a sequence");
        return nullptr;
    }
    if (s->format->BytesPerPixel == 1 && tex->format->Amask) {
        PyErr_SetString(PyExc_ValueError,
                        "Per-byte alpha texture unsupported for 8 bit "
                        "surfaces");
        return nullptr;
    }
    PointList pts;
    if (!points_arg(points, pts) || !fill_points(points, pts))
        return nullptr;
    int rc;
    {
        lm::GilRelease nogil;
        rc = texturedPolygon(s, pts.xs, pts.ys, (int)pts.n, tex,
                             tx, ty);
    }
    return result_of(rc);
}

#define SK_METHOD(name, sig, what) \
    {#name, sk_##name, METH_VARARGS, sig " -> None\n" what}

PyMethodDef shapekit_methods[] = {
    SK_METHOD(pixel, "pixel(surface, x, y, color)", "draw a pixel"),
    SK_METHOD(hline, "hline(surface, x1, x2, y, color)",
              "draw a horizontal line"),
    SK_METHOD(vline, "vline(surface, x, y1, y2, color)",
              "draw a vertical line"),
    SK_METHOD(rectangle, "rectangle(surface, rect, color)",
              "draw a rectangle"),
    SK_METHOD(box, "rectangle(surface, rect, color)", "draw a rectangle"),
    SK_METHOD(line, "line(surface, x1, y1, x2, y2, color)", "draw a line"),
    SK_METHOD(circle, "circle(surface, x, y, r, color)", "draw a circle"),
    SK_METHOD(arc, "arc(surface, x, y, r, start_angle, stop_angle, color)",
              "draw an arc"),
    SK_METHOD(aacircle, "aacircle(surface, x, y, r, color)",
              "draw an antialiased circle"),
    SK_METHOD(filled_circle, "filled_circle(surface, x, y, r, color)",
              "draw a filled circle"),
    SK_METHOD(ellipse, "ellipse(surface, x, y, rx, ry, color)",
              "draw an ellipse"),
    SK_METHOD(aaellipse, "aaellipse(surface, x, y, rx, ry, color)",
              "draw an antialiased ellipse"),
    SK_METHOD(filled_ellipse, "filled_ellipse(surface, x, y, rx, ry, color)",
              "draw a filled ellipse"),
    SK_METHOD(pie, "pie(surface, x, y, r, start_angle, stop_angle, color)",
              "draw a pie"),
    SK_METHOD(trigon, "trigon(surface, x1, y1, x2, y2, x3, y3, color)",
              "draw a trigon/triangle"),
    SK_METHOD(aatrigon, "aatrigon(surface, x1, y1, x2, y2, x3, y3, color)",
              "draw an antialiased trigon/triangle"),
    SK_METHOD(filled_trigon,
              "filled_trigon(surface, x1, y1, x2, y2, x3, y3, color)",
              "draw a filled trigon/triangle"),
    SK_METHOD(polygon, "polygon(surface, points, color)", "draw a polygon"),
    SK_METHOD(aapolygon, "aapolygon(surface, points, color)",
              "draw an antialiased polygon"),
    SK_METHOD(filled_polygon, "filled_polygon(surface, points, color)",
              "draw a filled polygon"),
    SK_METHOD(textured_polygon,
              "textured_polygon(surface, points, texture, tx, ty)",
              "draw a textured polygon"),
    SK_METHOD(bezier, "bezier(surface, points, steps, color)",
              "draw a Bezier curve"),
    {nullptr, nullptr, 0, nullptr}};

#undef SK_METHOD

PyModuleDef shapekit_module = {PyModuleDef_HEAD_INIT,
                               "shapekit",
                               "lumora module for drawing shapes",
                               -1,
                               shapekit_methods,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_shapekit(void)
{
    LM_IMPORT(base);
    LM_IMPORT(color);
    LM_IMPORT(rect);
    LM_IMPORT_SURFACE();
    return PyModule_Create2(&shapekit_module, 1013);
}
