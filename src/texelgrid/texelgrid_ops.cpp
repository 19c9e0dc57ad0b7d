// Whole-array operations of TexelGrid: colour matching (extract, compare,
// replace), transpose and copying the viewed pixels to a new surface.
#include "texelgrid_internal.h"

using lmgrid::Grid;
using lmgrid::Match;

namespace lmtg {
namespace {

// Weights (wr, wg, wb), normalised to sum 1; false with an error set.
bool read_weights(PyObject *o, float w[3])
{
    w[0] = 0.299f;
    w[1] = 0.587f;
    w[2] = 0.114f;
    if (!o || o == Py_None)
        return true;
    if (!PySequence_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "weights must be a sequence");
        return false;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0)
        return false;
    if (n < 3) {
        PyErr_SetString(PyExc_TypeError, "weights must contain at least 3 values");
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        lm::Ref item(PySequence_GetItem(o, i));
        if (!item)
            return false;
        if (!PyNumber_Check(item.get())) {
            PyErr_SetString(PyExc_TypeError, "invalid weights");
            return false;
        }
        double v;
        lm::Ref f(PyNumber_Float(item.get()));
        if (f) {
            v = PyFloat_AS_DOUBLE(f.get());
        }
        else {
            PyErr_Clear();
            lm::Ref n2(PyNumber_Long(item.get()));
            if (!n2) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "Unrecognized number type %s",
                             Py_TYPE(item.get())->tp_name);
                return false;
            }
            v = PyLong_AsDouble(n2.get());
            if (v == -1.0 && PyErr_Occurred())
                return false;
        }
        // NaN is refused with the negatives; huge values saturate.
        if (!(v >= 0.0)) {
            PyErr_SetString(PyExc_ValueError, "weights must be positive and greater than 0");
            return false;
        }
        w[i] = v > 3.0e38 ? 3.0e38f : (float)v;
    }
    double sum = (double)w[0] + w[1] + w[2];
    if (sum == 0.0) {
        PyErr_SetString(PyExc_ValueError, "weights must be positive and greater than 0");
        return false;
    }
    for (int i = 0; i < 3; ++i)
        w[i] = (float)(w[i] / sum);
    return true;
}

bool check_distance(float d)
{
    if (d >= 0.0f && d <= 1.0f)
        return true;
    PyErr_SetString(PyExc_ValueError, "distance must be in the range from 0.0 to 1.0");
    return false;
}

// A new surface with the array's pixels, element (x, y) at pixel (x, y).
PyObject *copy_to_surface(PyObject *self)
{
    SDL_Surface *s = open_surface(self);
    if (!s)
        return nullptr;
    GridObject *g = G(self);
    const SDL_PixelFormat *f = s->format;
    const int w = (int)g->shape[0];
    const int h = g->ndim == 2 ? (int)g->shape[1] : 1;
    SDL_Surface *tmp = SDL_CreateRGBSurface(s->flags & ~SDL_RLEACCEL, w, h,
                                            f->BitsPerPixel, f->Rmask, f->Gmask,
                                            f->Bmask, f->Amask);
    if (!tmp)
        return lm_RaiseSDLError();
    SDL_Surface *ns = SDL_ConvertSurface(tmp, s->format, 0);
    SDL_FreeSurface(tmp);
    if (!ns)
        return lm_RaiseSDLError();
    PyObject *surf = lmSurface_New2(ns, 1);
    if (!surf) {
        SDL_FreeSurface(ns);
        return nullptr;
    }
    Grid src = grid_of(g);
    Grid dst = {static_cast<Uint8 *>(ns->pixels), src.nx, src.ny,
                ns->format->BytesPerPixel, ns->pitch};
    if (dst.nx && dst.ny) {
        lm::GilRelease nogil;
        lmgrid::copy(dst, src, f->BytesPerPixel, nullptr);
    }
    return surf;
}

// A new top-level array over a copy of this one's pixels.
PyObject *copy_grid(PyObject *self)
{
    lm::Ref surf(copy_to_surface(self));
    if (!surf)
        return nullptr;
    return new_toplevel(Py_TYPE(self), surf.get());
}

Uint32 white(const SDL_Surface *s) { return SDL_MapRGBA(s->format, 255, 255, 255, 255); }
Uint32 black(const SDL_Surface *s) { return SDL_MapRGBA(s->format, 0, 0, 0, 255); }

// extract and compare: a copy of this array with every pixel marked white
// where it matches and black where not.  `m.fb` is set by the caller;
// `mark(g, bpp, yes, no)` runs on the copy with the interpreter lock
// released.
template <typename Mark>
PyObject *marked_copy(PyObject *self, Match &m, float distance, Mark mark)
{
    lm::Ref out(copy_grid(self));
    if (!out)
        return nullptr;
    SDL_Surface *ns = lmSurface_AsSurface(G(out.get())->surface);
    m.distance = distance;
    m.fa = ns->format;
    Grid g = grid_of(G(out.get()));
    {
        lm::GilRelease nogil;
        mark(g, ns->format->BytesPerPixel, white(ns), black(ns));
    }
    return out.release();
}

}  // namespace

PyObject *tg_make_surface(PyObject *self, PyObject *)
{
    return copy_to_surface(self);
}

PyObject *tg_transpose(PyObject *self, PyObject *)
{
    SDL_Surface *s = open_surface(self);
    if (!s)
        return nullptr;
    GridObject *g = G(self);
    Py_ssize_t shape[2], strides[2];
    if (g->ndim == 2) {
        shape[0] = g->shape[1];
        shape[1] = g->shape[0];
        strides[0] = g->strides[1];
        strides[1] = g->strides[0];
    }
    else {
        shape[0] = 1;
        shape[1] = g->shape[0];
        strides[0] = g->shape[0] * s->format->BytesPerPixel;
        strides[1] = g->strides[0];
    }
    return new_view(self, g->pixels, 2, shape, strides);
}

PyObject *tg_extract(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"color", "distance", "weights", nullptr};
    if (!G(self)->surface)
        return raise_closed();
    PyObject *color, *weights = nullptr;
    float distance = 0.0f;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|fO", const_cast<char **>(kwlist),
                                     &color, &distance, &weights))
        return nullptr;
    SDL_Surface *s = open_surface(self);
    if (!s || !check_distance(distance))
        return nullptr;
    Uint32 ref;
    Match m;
    if (!color_or_raise(color, s, &ref) || !read_weights(weights, m.w))
        return nullptr;
    m.fb = s->format;
    return marked_copy(self, m, distance, [&](const Grid &g, int bpp, Uint32 yes, Uint32 no) {
        lmgrid::mark(g, bpp, m, ref, yes, no);
    });
}

PyObject *tg_compare(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"array", "distance", "weights", nullptr};
    if (!G(self)->surface)
        return raise_closed();
    if (!open_surface(self))
        return nullptr;
    PyObject *other, *weights = nullptr;
    float distance = 0.0f;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O!|fO", const_cast<char **>(kwlist),
                                     &grid_type, &other, &distance, &weights))
        return nullptr;
    Match m;
    if (!check_distance(distance) || !read_weights(weights, m.w))
        return nullptr;
    GridObject *a = G(self), *b = G(other);
    if (!b->surface)
        return raise_closed();
    const Py_ssize_t ay = a->ndim == 2 ? a->shape[1] : 0, by = b->ndim == 2 ? b->shape[1] : 0;
    if (a->shape[0] != b->shape[0] || ay != by) {
        PyErr_SetString(PyExc_ValueError, "array sizes do not match");
        return nullptr;
    }
    SDL_Surface *os = open_surface(other);
    SDL_Surface *s = open_surface(self);
    if (!os || !s)
        return nullptr;
    if (os->format->BytesPerPixel != s->format->BytesPerPixel) {
        PyErr_SetString(PyExc_ValueError, "bit depths do not match");
        return nullptr;
    }
    m.fb = os->format;
    const Grid og = grid_of(b);
    return marked_copy(self, m, distance, [&](const Grid &g, int bpp, Uint32 yes, Uint32 no) {
        lmgrid::mark_pairs(g, og, bpp, m, yes, no);
    });
}

PyObject *tg_replace(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"color", "repcolor", "distance", "weights", nullptr};
    if (!G(self)->surface)
        return raise_closed();
    if (!open_surface(self))
        return nullptr;
    PyObject *color, *repcolor, *weights = nullptr;
    float distance = 0.0f;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "OO|fO", const_cast<char **>(kwlist),
                                     &color, &repcolor, &distance, &weights))
        return nullptr;
    SDL_Surface *s = open_surface(self);
    if (!s || !check_distance(distance))
        return nullptr;
    Uint32 ref, to;
    Match m;
    if (!color_or_raise(color, s, &ref) || !color_or_raise(repcolor, s, &to) ||
        !read_weights(weights, m.w))
        return nullptr;
    m.distance = distance;
    m.fa = m.fb = s->format;
    Grid g = grid_of(G(self));
    {
        lm::GilRelease nogil;
        lmgrid::recolor(g, s->format->BytesPerPixel, m, ref, to);
    }
    Py_RETURN_NONE;
}

}  // namespace lmtg
