// lumora.draw: lines, circles, ellipses, arcs, polygons and rectangles
// written straight into a surface's pixels.
//
// Each function parses and checks its arguments, maps the colour, locks the
// surface through pinguard, runs a kernel from raster.cpp that records the
// box of what it wrote, unlocks, and returns that box as a Rect (or an
// empty Rect at a fallback position when nothing was written).  The
// interpreter lock is held throughout.

#include "frame.h"
#include "raster.h"

#include <algorithm>
#include <cmath>

using lmdraw::Canvas;
using lmdraw::DrawnBox;
using lmdraw::Ink;

namespace {

// Points are stored as C ints in the Python allocator; beyond this count
// the byte size is no longer representable everywhere.
constexpr Py_ssize_t kMaxPoints = 536870912;  // 2^29

PyObject *empty_rect(int64_t x, int64_t y)
{
    return lmRect_FromInts(lm::sat_int((double)x), lm::sat_int((double)y), 0,
                           0);
}

PyObject *box_rect(const DrawnBox &b, int64_t px, int64_t py)
{
    if (b.empty())
        return empty_rect(px, py);
    return lmRect_FromInts(b.min_x, b.min_y, b.max_x - b.min_x + 1,
                           b.max_y - b.min_y + 1);
}

// Surface pointer and a drawable pixel size, or null with the error set.
SDL_Surface *drawable(PyObject *surfobj)
{
    LM_SURF_OR_RAISE(surfobj, surf)
    int bpp = surf->format->BytesPerPixel;
    if (bpp < 1 || bpp > 4) {
        PyErr_Format(PyExc_ValueError,
                     "unsupported surface bit depth (%d) for drawing", bpp);
        return nullptr;
    }
    return surf;
}

// The colour argument.  An int is already a mapped pixel value: its low
// 32 bits are used as they stand, so 0xFFRRGGBB from map_rgb works where
// long is 32 bits too.  It is read before the surface is looked at, since
// reading it may run Python (a sequence's __getitem__, __index__) that
// re-initialises or frees that surface; so is every other argument.
struct ColorIn {
    bool is_pixel = false;
    Uint32 pixel = 0;
    Uint8 rgba[4] = {0, 0, 0, 0};

    bool read(PyObject *colorobj)
    {
        if (PyLong_Check(colorobj)) {
            unsigned long v = PyLong_AsUnsignedLongMask(colorobj);
            if (v == (unsigned long)-1 && PyErr_Occurred())
                return false;
            is_pixel = true;
            pixel = (Uint32)v;
            return true;
        }
        return lmColor_ParseArg(colorobj, rgba) != 0;
    }
};

bool lock(PyObject *surfobj)
{
    if (!lmSurface_Lock(surfobj)) {
        PyErr_SetString(PyExc_RuntimeError, "error locking surface");
        return false;
    }
    return true;
}

bool unlock(PyObject *surfobj)
{
    if (!lmSurface_Unlock(surfobj)) {
        PyErr_SetString(PyExc_RuntimeError, "error unlocking surface");
        return false;
    }
    return true;
}

// A position: two ints, or two numbers beyond the int range, which are
// saturated.  *finite is false when either coordinate is NaN or infinite
// (the caller then draws nothing).
bool int_pair(PyObject *o, int64_t *x, int64_t *y, bool *finite)
{
    int ix, iy;
    if (lm_TwoIntsFromObj(o, &ix, &iy)) {
        *x = ix;
        *y = iy;
        return true;
    }
    double dx, dy;
    if (!lm_TwoDoublesFromObj(o, &dx, &dy))
        return false;
    if (!std::isfinite(dx) || !std::isfinite(dy))
        *finite = false;
    *x = lm::sat_int(dx);
    *y = lm::sat_int(dy);
    return true;
}

bool int_value(PyObject *o, int64_t *v, bool *finite)
{
    int iv;
    if (lm_IntFromObj(o, &iv)) {
        *v = iv;
        return true;
    }
    double d;
    if (!lm_DoubleFromObj(o, &d))
        return false;
    if (!std::isfinite(d))
        *finite = false;
    *v = lm::sat_int(d);
    return true;
}

// The surface to draw on and the colour mapped for it, or false with the
// error set.  Called once every argument is converted: nothing may run
// Python between this and the drawing.
bool target(PyObject *surfobj, const ColorIn &in, SDL_Surface **surf,
            Uint32 *color)
{
    *surf = drawable(surfobj);
    if (!*surf)
        return false;
    *color = in.is_pixel ? in.pixel
                         : SDL_MapRGBA((*surf)->format, in.rgba[0], in.rgba[1],
                                       in.rgba[2], in.rgba[3]);
    return true;
}

// Every entry point takes the surface first, then its own arguments.
template <typename... Out>
bool parse_args(PyObject *args, PyObject *kw, const char *format,
                const char *const *kws, PyObject **surfobj, Out... out)
{
    return PyArg_ParseTupleAndKeywords(args, kw, format,
                                       const_cast<char **>(kws),
                                       &lmSurface_Type, surfobj, out...) != 0;
}

const char *const kBlendWarning =
    "blend=False will be deprecated in lumora 2.2 and will default to True";

bool blend_ok(int blend)
{
    return blend ||
           PyErr_WarnEx(PyExc_DeprecationWarning, kBlendWarning, 1) != -1;
}

// Runs `paint(canvas, ink)` on the locked surface; false with the error set
// when locking or unlocking fails.
template <typename F>
bool paint_locked(PyObject *surfobj, SDL_Surface *surf, Uint32 color,
                  F &&paint)
{
    if (!lock(surfobj))
        return false;
    Canvas c = lmdraw::canvas_of(surf);
    paint(c, lmdraw::ink_of(c, color));
    return unlock(surfobj);
}

// The same with a box of what was written: `paint(canvas, ink, box)`; the
// box comes back as a Rect, empty at (fx, fy) when nothing was written.
template <typename F>
PyObject *draw_boxed(PyObject *surfobj, SDL_Surface *surf, Uint32 color,
                     int64_t fx, int64_t fy, F &&paint)
{
    DrawnBox box;
    if (!paint_locked(surfobj, surf, color,
                      [&](const Canvas &c, const Ink &k) { paint(c, k, box); }))
        return nullptr;
    return box_rect(box, fx, fy);
}

// Converted point lists, freed on every path.
template <typename T> struct PointArrays {
    T *xs = nullptr, *ys = nullptr;
    size_t n = 0;
    bool finite = true;
    PointArrays() = default;
    PointArrays(const PointArrays &) = delete;
    PointArrays &operator=(const PointArrays &) = delete;
    ~PointArrays()
    {
        PyMem_Free(xs);
        PyMem_Free(ys);
    }
    bool alloc(size_t count, const char *nomem)
    {
        size_t bytes;
        if (count >= (size_t)kMaxPoints ||
            !lm::checked_mul(count, sizeof(T), &bytes)) {
            PyErr_SetString(PyExc_MemoryError, nomem);
            return false;
        }
        xs = static_cast<T *>(PyMem_Malloc(bytes ? bytes : 1));
        ys = static_cast<T *>(PyMem_Malloc(bytes ? bytes : 1));
        if (!xs || !ys) {
            PyErr_SetString(PyExc_MemoryError, nomem);
            return false;
        }
        n = count;
        return true;
    }
    // Calls seg(i, j) for every segment of the chain, plus the closing
    // one when `closed` and there are more than two points.
    template <typename F> void each_segment(bool closed, F &&seg) const
    {
        for (size_t i = 1; i < n; ++i)
            seg(i - 1, i);
        if (closed && n > 2)
            seg(n - 1, 0);
    }
};
typedef PointArrays<int64_t> IntPoints;
typedef PointArrays<float> FloatPoints;

// One point of each kind; *finite is cleared for a NaN or infinity.
bool point_value(PyObject *o, int64_t *x, int64_t *y, bool *finite)
{
    return int_pair(o, x, y, finite);
}

bool point_value(PyObject *o, float *x, float *y, bool *)
{
    return lm_TwoFloatsFromObj(o, x, y) != 0;
}

// Checks the sequence and its length, then converts every point.
template <typename T>
bool read_points(PyObject *points, Py_ssize_t minimum, const char *too_few,
                 const char *nomem, PointArrays<T> &out)
{
    if (!PySequence_Check(points)) {
        PyErr_SetString(PyExc_TypeError,
                        "points argument must be a sequence of number pairs");
        return false;
    }
    Py_ssize_t n = PySequence_Size(points);
    if (n < 0)
        return false;
    if (n < minimum) {
        PyErr_SetString(PyExc_ValueError, too_few);
        return false;
    }
    if (!out.alloc((size_t)n, nomem))
        return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        lm::Ref item(PySequence_GetItem(points, i));
        T x = 0, y = 0;
        if (!item || !point_value(item.get(), &x, &y, &out.finite)) {
            PyErr_SetString(PyExc_TypeError, "points must be number pairs");
            return false;
        }
        out.xs[i] = x;
        out.ys[i] = y;
    }
    return true;
}

const char *const kTwoOrMore = "points argument must contain 2 or more points";

// The start_pos and end_pos arguments of a line.
template <typename T>
bool line_ends(PyObject *start, PyObject *end, T *x1, T *y1, T *x2, T *y2,
               bool *finite)
{
    if (!point_value(start, x1, y1, finite)) {
        PyErr_SetString(PyExc_TypeError, "invalid start_pos argument");
        return false;
    }
    if (!point_value(end, x2, y2, finite)) {
        PyErr_SetString(PyExc_TypeError, "invalid end_pos argument");
        return false;
    }
    return true;
}

int64_t float_fallback(float v) { return lm::sat_int((double)v); }

// The rect argument, coerced; for a Rect object `r` is the object's own
// storage.
struct RectArg {
    SDL_Rect scratch;
    SDL_Rect *r = nullptr;
    int64_t x = 0, y = 0, w = 0, h = 0;

    bool read(PyObject *o)
    {
        const SDL_Rect *c = lmRect_Coerce(o, &scratch);
        if (!c) {
            PyErr_SetString(PyExc_TypeError, "rect argument is invalid");
            return false;
        }
        r = const_cast<SDL_Rect *>(c);
        x = r->x;
        y = r->y;
        w = r->w;
        h = r->h;
        return true;
    }
};

// ---------------------------------------------------------------------------
PyObject *draw_aaline(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "start_pos", "end_pos",
                                "blend", nullptr};
    PyObject *surfobj, *colorobj, *start, *end;
    int blend = 1;
    if (!parse_args(args, kw, "O!OOO|i", kws, &surfobj, &colorobj, &start,
                    &end, &blend) ||
        !blend_ok(blend))
        return nullptr;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    float sx, sy, ex, ey;
    if (!in.read(colorobj) ||
        !line_ends(start, end, &sx, &sy, &ex, &ey, nullptr) ||
        !target(surfobj, in, &surf, &color))
        return nullptr;
    return draw_boxed(surfobj, surf, color, float_fallback(sx),
                      float_fallback(sy),
                      [&](const Canvas &c, const Ink &, DrawnBox &box) {
                          lmdraw::smooth_segment(c, color, blend != 0, sx, sy,
                                                 ex, ey, box);
                      });
}

PyObject *draw_line(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "start_pos", "end_pos",
                                "width", nullptr};
    PyObject *surfobj, *colorobj, *start, *end;
    int width = 1;
    if (!parse_args(args, kw, "O!OOO|i", kws, &surfobj, &colorobj, &start,
                    &end, &width))
        return nullptr;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    int64_t x1, y1, x2, y2;
    bool finite = true;
    if (!in.read(colorobj) ||
        !line_ends(start, end, &x1, &y1, &x2, &y2, &finite) ||
        !target(surfobj, in, &surf, &color))
        return nullptr;
    if (width < 1 || !finite)
        return empty_rect(x1, y1);
    return draw_boxed(surfobj, surf, color, x1, y1,
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          lmdraw::thick_segment(c, k, x1, y1, x2, y2, width,
                                                box);
                      });
}

PyObject *draw_aalines(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "closed", "points",
                                "blend", nullptr};
    PyObject *surfobj, *colorobj, *points;
    int closed, blend = 1;
    if (!parse_args(args, kw, "O!OpO|i", kws, &surfobj, &colorobj, &closed,
                    &points, &blend))
        return nullptr;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    FloatPoints pts;
    if (!drawable(surfobj) || !blend_ok(blend) || !in.read(colorobj) ||
        !read_points(points, 2, kTwoOrMore,
                     "cannot allocate memory to draw aalines", pts) ||
        !target(surfobj, in, &surf, &color))
        return nullptr;
    const float *xs = pts.xs, *ys = pts.ys;
    return draw_boxed(surfobj, surf, color, float_fallback(xs[0]),
                      float_fallback(ys[0]),
                      [&](const Canvas &c, const Ink &, DrawnBox &box) {
                          pts.each_segment(closed, [&](size_t i, size_t j) {
                              lmdraw::smooth_segment(c, color, blend != 0,
                                                     xs[i], ys[i], xs[j],
                                                     ys[j], box);
                          });
                      });
}

PyObject *draw_lines(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "closed", "points",
                                "width", nullptr};
    PyObject *surfobj, *colorobj, *points;
    int closed, width = 1;
    if (!parse_args(args, kw, "O!OpO|i", kws, &surfobj, &colorobj, &closed,
                    &points, &width))
        return nullptr;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    IntPoints pts;
    if (!in.read(colorobj) ||
        !read_points(points, 2, kTwoOrMore,
                     "cannot allocate memory to draw lines", pts) ||
        !target(surfobj, in, &surf, &color))
        return nullptr;
    const int64_t *xs = pts.xs, *ys = pts.ys;
    if (width < 1 || !pts.finite)
        return empty_rect(xs[0], ys[0]);
    return draw_boxed(surfobj, surf, color, xs[0], ys[0],
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          pts.each_segment(closed, [&](size_t i, size_t j) {
                              lmdraw::thick_segment(c, k, xs[i], ys[i], xs[j],
                                                    ys[j], width, box);
                          });
                      });
}

PyObject *draw_ellipse(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "rect", "width", nullptr};
    PyObject *surfobj, *colorobj, *rectobj;
    int width = 0;
    if (!parse_args(args, kw, "O!OO|i", kws, &surfobj, &colorobj, &rectobj,
                    &width))
        return nullptr;
    RectArg a;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    if (!a.read(rectobj) || !in.read(colorobj) || !target(surfobj, in, &surf, &color))
        return nullptr;
    // A non-positive size has no inside to fill.
    if (width < 0 || a.w <= 0 || a.h <= 0)
        return empty_rect(a.x, a.y);
    return draw_boxed(surfobj, surf, color, a.x, a.y,
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          lmdraw::ellipse(c, k, a.x, a.y, a.w, a.h, width,
                                          box);
                      });
}

PyObject *draw_arc(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "rect", "start_angle",
                                "stop_angle", "width", nullptr};
    PyObject *surfobj, *colorobj, *rectobj;
    double a0, a1;
    int width = 1;
    if (!parse_args(args, kw, "O!OOdd|i", kws, &surfobj, &colorobj, &rectobj,
                    &a0, &a1, &width))
        return nullptr;
    RectArg a;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    if (!a.read(rectobj) || !in.read(colorobj) || !target(surfobj, in, &surf, &color))
        return nullptr;
    if (width < 0)
        return empty_rect(a.x, a.y);
    return draw_boxed(surfobj, surf, color, a.x, a.y,
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          lmdraw::arc(c, k, a.x, a.y, a.w, a.h, a0, a1, width,
                                      box);
                      });
}

PyObject *draw_circle(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "center", "radius",
                                "width", "draw_top_right", "draw_top_left",
                                "draw_bottom_left", "draw_bottom_right",
                                nullptr};
    PyObject *surfobj, *colorobj, *center, *radiusobj;
    int width = 0, tr = 0, tl = 0, bl = 0, br = 0;
    if (!parse_args(args, kw, "O!OOO|iiiii", kws, &surfobj, &colorobj, &center,
                    &radiusobj, &width, &tr, &tl, &bl, &br))
        return nullptr;
    int64_t x0, y0, r;
    bool finite = true;
    if (!int_pair(center, &x0, &y0, &finite)) {
        PyErr_SetString(PyExc_TypeError,
                        "center argument must be a pair of numbers");
        return nullptr;
    }
    if (!int_value(radiusobj, &r, &finite)) {
        PyErr_SetString(PyExc_TypeError, "radius argument must be a number");
        return nullptr;
    }
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    if (!in.read(colorobj) || !target(surfobj, in, &surf, &color))
        return nullptr;
    if (r < 1 || width < 0 || !finite)
        return empty_rect(x0, y0);
    int64_t w = std::min<int64_t>(width, r);
    const SDL_Rect &cl = surf->clip_rect;
    if (x0 > (int64_t)cl.x + cl.w + r || x0 < (int64_t)cl.x - r ||
        y0 > (int64_t)cl.y + cl.h + r || y0 < (int64_t)cl.y - r)
        return empty_rect(x0, y0);
    return draw_boxed(surfobj, surf, color, x0, y0,
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          if (tr || tl || bl || br)
                              lmdraw::quarter_rings(c, k, x0, y0, r, w, tr, tl,
                                                    bl, br, box);
                          else
                              lmdraw::circle(c, k, x0, y0, r, w, box);
                      });
}

PyObject *draw_polygon(PyObject *self, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "points", "width", nullptr};
    PyObject *surfobj, *colorobj, *points;
    int width = 0;
    if (!parse_args(args, kw, "O!OO|i", kws, &surfobj, &colorobj, &points,
                    &width))
        return nullptr;
    if (width) {
        lm::Ref largs(Py_BuildValue("(OOiOi)", surfobj, colorobj, 1, points,
                                    width));
        if (!largs)
            return nullptr;
        return draw_lines(self, largs.get(), nullptr);
    }
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    IntPoints pts;
    if (!in.read(colorobj) ||
        !read_points(points, 3,
                     "points argument must contain more than 2 points",
                     "cannot allocate memory to draw polygon", pts) ||
        !target(surfobj, in, &surf, &color))
        return nullptr;
    const int64_t *xs = pts.xs, *ys = pts.ys;
    if (!pts.finite)
        return empty_rect(xs[0], ys[0]);
    size_t sbytes = 0;
    bool fits = lm::checked_mul(pts.n, lmdraw::polygon_scratch_bytes(1), &sbytes);
    lm::MemBuf<unsigned char> scratch(fits ? sbytes : 0);
    if (!scratch) {
        PyErr_SetString(PyExc_MemoryError,
                        "cannot allocate memory to draw polygon");
        return nullptr;
    }
    return draw_boxed(surfobj, surf, color, xs[0], ys[0],
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          lmdraw::scanline_polygon(c, k, xs, ys, pts.n,
                                                   scratch.get(), box);
                      });
}

PyObject *draw_rect(PyObject *, PyObject *args, PyObject *kw)
{
    static const char *kws[] = {"surface", "color", "rect", "width",
                                "border_radius", "border_top_left_radius",
                                "border_top_right_radius",
                                "border_bottom_left_radius",
                                "border_bottom_right_radius", nullptr};
    PyObject *surfobj, *colorobj, *rectobj;
    int width = 0, radius = 0, tl = -1, tr = -1, bl = -1, br = -1;
    if (!parse_args(args, kw, "O!OO|iiiiii", kws, &surfobj, &colorobj,
                    &rectobj, &width, &radius, &tl, &tr, &bl, &br))
        return nullptr;
    RectArg a;
    ColorIn in;
    SDL_Surface *surf;
    Uint32 color;
    if (!a.read(rectobj) || !in.read(colorobj) || !target(surfobj, in, &surf, &color))
        return nullptr;
    int64_t x = a.x, y = a.y, w = a.w, h = a.h;
    if (width < 0)
        return empty_rect(x, y);

    const bool plain = (radius < 1 && tl < 1 && tr < 1 && bl < 1 && br < 1) ||
                       std::abs(w) < 2 || std::abs(h) < 2;
    if (plain) {
        // Intersection with the clip rectangle in 64 bits: x + w may not
        // fit an int.
        const SDL_Rect &cl = surf->clip_rect;
        int64_t ax = std::max<int64_t>(x, cl.x), ay = std::max<int64_t>(y, cl.y);
        int64_t bx = std::min<int64_t>(x + w, (int64_t)cl.x + cl.w);
        int64_t by = std::min<int64_t>(y + h, (int64_t)cl.y + cl.h);
        if (w <= 0 || h <= 0 || bx <= ax || by <= ay)
            return empty_rect(x, y);
        SDL_Rect clipped = {(int)ax, (int)ay, (int)(bx - ax), (int)(by - ay)};
        if (width > 0 && 2 * (int64_t)width < clipped.w &&
            2 * (int64_t)width < clipped.h) {
            if (!paint_locked(surfobj, surf, color,
                              [&](const Canvas &c, const Ink &k) {
                                  lmdraw::frame_rect(c, k, x, y, x + w - 1,
                                                     y + h - 1, width);
                              }))
                return nullptr;
        }
        else {
            const bool sub = ((lmSurfaceObject *)surfobj)->subsurface != nullptr;
            if (sub) {
                // The preparation slot reports a failure (a parent that
                // was quit) only through the pending exception.
                lmSurface_Prep(surfobj);
                if (PyErr_Occurred()) {
                    PyErr_SetString(PyExc_RuntimeError,
                                    "error locking surface");
                    return nullptr;
                }
            }
            // Filled with the span writer rather than SDL_FillRect: SDL's
            // streaming stores bypass the cache, which makes a large fill
            // of a surface that is drawn on every frame several times
            // slower.  The pixels written are the same.
            bool ok = paint_locked(surfobj, surf, color,
                                   [&](const Canvas &c, const Ink &k) {
                                       lmdraw::fill_rect(c, k, clipped.x,
                                                         clipped.y, clipped.w,
                                                         clipped.h);
                                   });
            if (sub)
                lmSurface_Unprep(surfobj);
            if (!ok)
                return nullptr;
        }
        return lmRect_FromSDL(&clipped);
    }

    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    int64_t wd = width;
    // A border wider than half the smaller side fills the rectangle.
    if (wd > w / 2 || wd > h / 2)
        wd = std::min(w / 2, h / 2);
    alignas(16) unsigned char pscratch[8 * 64];
    return draw_boxed(surfobj, surf, color, x, y,
                      [&](const Canvas &c, const Ink &k, DrawnBox &box) {
                          // The caller's Rect is left normalised (only once
                          // the surface is locked, so a failure leaves it
                          // as it was).
                          a.r->x = lm::sat_int((double)x);
                          a.r->y = lm::sat_int((double)y);
                          a.r->w = lm::sat_int((double)w);
                          a.r->h = lm::sat_int((double)h);
                          lmdraw::curved_box(c, k, x, y, x + w - 1, y + h - 1,
                                             radius, wd, tl, tr, bl, br,
                                             pscratch, box);
                      });
}

// One entry of the method table: the function and its three-line docstring.
#define DRAW_METHOD(name, sig, sig_kw, what)                         \
    {#name, (PyCFunction)(void (*)(void))draw_##name,                \
     METH_VARARGS | METH_KEYWORDS, sig "\n" sig_kw "\n" what}

PyMethodDef draw_methods[] = {
    DRAW_METHOD(aaline, "aaline(surface, color, start_pos, end_pos) -> Rect",
                "aaline(surface, color, start_pos, end_pos, blend=1) -> Rect",
                "draw a straight antialiased line"),
    DRAW_METHOD(line, "line(surface, color, start_pos, end_pos) -> Rect",
                "line(surface, color, start_pos, end_pos, width=1) -> Rect",
                "draw a straight line"),
    DRAW_METHOD(aalines, "aalines(surface, color, closed, points) -> Rect",
                "aalines(surface, color, closed, points, blend=1) -> Rect",
                "draw multiple contiguous straight antialiased line segments"),
    DRAW_METHOD(lines, "lines(surface, color, closed, points) -> Rect",
                "lines(surface, color, closed, points, width=1) -> Rect",
                "draw multiple contiguous straight line segments"),
    DRAW_METHOD(ellipse, "ellipse(surface, color, rect) -> Rect",
                "ellipse(surface, color, rect, width=0) -> Rect",
                "draw an ellipse"),
    DRAW_METHOD(arc,
                "arc(surface, color, rect, start_angle, stop_angle) -> Rect",
                "arc(surface, color, rect, start_angle, stop_angle, width=1) "
                "-> Rect",
                "draw an elliptical arc"),
    DRAW_METHOD(circle, "circle(surface, color, center, radius) -> Rect",
                "circle(surface, color, center, radius, width=0, "
                "draw_top_right=None, draw_top_left=None, "
                "draw_bottom_left=None, draw_bottom_right=None) -> Rect",
                "draw a circle"),
    DRAW_METHOD(polygon, "polygon(surface, color, points) -> Rect",
                "polygon(surface, color, points, width=0) -> Rect",
                "draw a polygon"),
    DRAW_METHOD(rect, "rect(surface, color, rect) -> Rect",
                "rect(surface, color, rect, width=0, border_radius=0, "
                "border_top_left_radius=-1, border_top_right_radius=-1, "
                "border_bottom_left_radius=-1, border_bottom_right_radius=-1) "
                "-> Rect",
                "draw a rectangle"),
    {nullptr, nullptr, 0, nullptr}};

LM_MODULE_DEF(draw_module, "draw", "lumora module for drawing shapes", draw_methods);

}  // namespace

PyMODINIT_FUNC PyInit_draw(void)
{
    LM_IMPORT(base);
    LM_IMPORT(color);
    LM_IMPORT(rect);
    LM_IMPORT_SURFACE();
    return PyModule_Create2(&draw_module, 1013);
}
