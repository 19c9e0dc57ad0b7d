// lumora.texelgrid: TexelGrid, a live one- or two-dimensional view of a
// surface's pixels, indexed x first.
//
// A top-level array holds its surface locked on its own behalf; views cut
// from it (slices, columns, transposes) share its pixels, hold it alive and
// are counted by it, so the lock — and with it the pixel memory, which SDL
// may free on unlock — outlasts an early close() until the last view is
// gone.  Pixel loops run in gridkern.cpp with the interpreter lock released.
#include "texelgrid_internal.h"

#include <string>
#include <vector>

using lmgrid::Grid;

namespace lmtg {

PyTypeObject grid_type = lm_blank_type();

PyObject *raise_closed()
{
    PyErr_SetString(PyExc_ValueError, "Operation on closed TexelGrid.");
    return nullptr;
}

SDL_Surface *open_surface(PyObject *self)
{
    GridObject *g = G(self);
    if (!g->surface) {
        raise_closed();
        return nullptr;
    }
    SDL_Surface *s = lmSurface_AsSurface(g->surface);
    if (!s)
        PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return s;
}

Grid grid_of(const GridObject *g)
{
    Grid r;
    r.p = g->pixels;
    r.nx = g->shape[0];
    r.ny = g->ndim == 2 ? g->shape[1] : 1;
    r.sx = g->strides[0];
    r.sy = g->ndim == 2 ? g->strides[1] : 0;
    return r;
}

int color_value(PyObject *o, SDL_Surface *s, Uint32 *out)
{
    // A Color converts to an int too: it is a colour, not a raw value.
    if (PyTuple_Check(o) || PyObject_TypeCheck(o, &lmColor_Type)) {
        Uint8 rgba[4];
        if (!lmColor_RGBAFromColorObj(o, rgba)) {
            PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "invalid color argument");
            return -1;
        }
        *out = SDL_MapRGBA(s->format, rgba[0], rgba[1], rgba[2], rgba[3]);
        return 1;
    }
    if (PyIndex_Check(o)) {
        // Raw pixel values: a 4-byte pixel reads back signed, so both the
        // signed and the unsigned 32-bit ranges are accepted.
        lm::Ref n(PyNumber_Index(o));
        if (!n)
            return -1;
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(n.get(), &overflow);
        if (v == -1 && PyErr_Occurred())
            return -1;
        if (overflow || v < INT32_MIN || v > (long long)UINT32_MAX) {
            PyErr_SetString(PyExc_ValueError, "invalid color argument");
            return -1;
        }
        *out = (Uint32)v;
        return 1;
    }
    return 0;
}

bool color_or_raise(PyObject *o, SDL_Surface *s, Uint32 *out)
{
    int r = color_value(o, s, out);
    if (r == 0)
        PyErr_SetString(PyExc_ValueError, "invalid color argument");
    return r == 1;
}

namespace {

bool is_grid_exact(PyObject *o) { return Py_TYPE(o) == &grid_type; }

GridObject *alloc_grid(PyTypeObject *type)
{
    PyObject *o = type->tp_alloc(type, 0);
    if (!o)
        return nullptr;
    GridObject *g = G(o);
    g->dict = g->weakrefs = g->surface = g->parent = g->root = g->locked = nullptr;
    g->nviews = 0;
    g->pixels = nullptr;
    return g;
}

// The lock of top-level array `top` is released once it is closed and no
// view of it is left.
void release_lock_if_done(GridObject *top)
{
    if (top->surface || top->nviews > 0 || !top->locked)
        return;
    PyObject *s = top->locked;
    top->locked = nullptr;
    lmSurface_UnlockBy(s, reinterpret_cast<PyObject *>(top));
    Py_DECREF(s);
}

}  // namespace

PyObject *new_toplevel(PyTypeObject *type, PyObject *surface)
{
    LM_SURF_OR_RAISE(surface, s)
    int bpp = s->format->BytesPerPixel;
    if (bpp < 1 || bpp > 4) {
        PyErr_SetString(PyExc_ValueError, "unsupported bit depth for reference array");
        return nullptr;
    }
    GridObject *g = alloc_grid(type);
    if (!g)
        return nullptr;
    PyObject *self = reinterpret_cast<PyObject *>(g);
    if (!lmSurface_LockBy(surface, self)) {
        Py_DECREF(self);
        return nullptr;
    }
    g->surface = Py_NewRef(surface);
    g->locked = Py_NewRef(surface);
    // Locking refreshed a subsurface's pixel pointer.
    s = lmSurface_AsSurface(surface);
    g->pixels = static_cast<Uint8 *>(s->pixels);
    g->ndim = 2;
    g->shape[0] = s->w;
    g->shape[1] = s->h;
    g->strides[0] = bpp;
    g->strides[1] = s->pitch;
    return self;
}

PyObject *new_view(PyObject *parent, Uint8 *pixels, int ndim, const Py_ssize_t *shape,
                   const Py_ssize_t *strides)
{
    GridObject *p = G(parent);
    if (!p->surface)
        return raise_closed();
    GridObject *g = alloc_grid(Py_TYPE(parent));
    if (!g)
        return nullptr;
    GridObject *top = p->root ? G(p->root) : p;
    g->surface = Py_NewRef(p->surface);
    g->parent = Py_NewRef(parent);
    g->root = Py_NewRef(reinterpret_cast<PyObject *>(top));
    ++top->nviews;
    g->pixels = pixels;
    g->ndim = ndim;
    g->shape[0] = shape[0];
    g->strides[0] = strides[0];
    g->shape[1] = ndim == 2 ? shape[1] : 0;
    g->strides[1] = ndim == 2 ? strides[1] : 0;
    return reinterpret_cast<PyObject *>(g);
}

}  // namespace lmtg

using namespace lmtg;

// Close: a view leaves its top-level array, a top-level array gives up its
// lock (now, or when its last view goes).
extern "C" __attribute__((visibility("default"))) void _cleanup_array(PyObject *array)
{
    GridObject *g = G(array);
    PyObject_GC_UnTrack(array);
    Py_CLEAR(g->surface);
    if (g->root) {
        GridObject *top = G(g->root);
        --top->nviews;
        release_lock_if_done(top);
        Py_CLEAR(g->root);
        Py_CLEAR(g->parent);
    }
    else {
        release_lock_if_done(g);
    }
    Py_CLEAR(g->dict);
}

namespace {

// ---------------------------------------------------------------------------
// Ranges and views
// ---------------------------------------------------------------------------

// start, length, step; step 0 marks a single integer index.
struct Range {
    Py_ssize_t start, len, step;
};

Range full(Py_ssize_t n) { return {0, n, 1}; }

PyObject *raise_index_type()
{
    PyErr_SetString(PyExc_TypeError, "index must be an integer, sequence or slice");
    return nullptr;
}

bool slice_range(PyObject *sl, Py_ssize_t n, Range *r)
{
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(sl, &start, &stop, &step) < 0)
        return false;
    r->len = PySlice_AdjustIndices(n, &start, &stop, step);
    r->start = start;
    r->step = step;
    return true;
}

// Integer index: negative counts from the end; false with IndexError `msg`.
bool int_index(PyObject *o, Py_ssize_t n, const char *msg, Py_ssize_t *out)
{
    Py_ssize_t i = PyNumber_AsSsize_t(o, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred())
        return false;
    if (i < 0)
        i += n;
    if (i < 0 || i >= n) {
        PyErr_SetString(PyExc_IndexError, msg);
        return false;
    }
    *out = i;
    return true;
}

// One item of a tuple key.
bool item_range(PyObject *o, Py_ssize_t n, Range *r)
{
    if (o == Py_None || o == Py_Ellipsis) {
        *r = full(n);
        return true;
    }
    if (PySlice_Check(o))
        return slice_range(o, n, r);
    if (PyIndex_Check(o)) {
        Py_ssize_t i;
        if (!int_index(o, n, "invalid index", &i))
            return false;
        *r = {i, 1, 0};
        return true;
    }
    raise_index_type();
    return false;
}

PyObject *pixel_value(PyObject *self, const Uint8 *p)
{
    SDL_Surface *s = open_surface(self);
    if (!s)
        return nullptr;
    int bpp = s->format->BytesPerPixel;
    Uint32 v = lmgrid::read_px(p, bpp);
    if (bpp == 4)
        return PyLong_FromLong((long)(Sint32)v);
    return PyLong_FromUnsignedLong(v);
}

// The element, or the view, that ranges xr and yr select (both non-empty).
PyObject *select(PyObject *self, const Range &xr, const Range &yr)
{
    GridObject *g = G(self);
    if (!g->surface)
        return raise_closed();
    Uint8 *p = g->pixels + xr.start * g->strides[0];
    if (g->ndim == 1) {
        if (xr.step == 0)
            return pixel_value(self, p);
        Py_ssize_t shape[1] = {xr.len}, strides[1] = {xr.step * g->strides[0]};
        return new_view(self, p, 1, shape, strides);
    }
    p += yr.start * g->strides[1];
    if (xr.step == 0 && yr.step == 0)
        return pixel_value(self, p);
    if (xr.step && yr.step) {
        Py_ssize_t shape[2] = {xr.len, yr.len};
        Py_ssize_t strides[2] = {xr.step * g->strides[0], yr.step * g->strides[1]};
        return new_view(self, p, 2, shape, strides);
    }
    const Range &r = xr.step ? xr : yr;
    Py_ssize_t shape[1] = {r.len};
    Py_ssize_t strides[1] = {r.step * g->strides[xr.step ? 0 : 1]};
    return new_view(self, p, 1, shape, strides);
}

// Key -> ranges.  Returns 1 with ranges, 0 for "the array itself", -1 on
// error; *empty is set when a range selects nothing.
int key_ranges(PyObject *self, PyObject *key, Range *xr, Range *yr, bool *empty,
               bool *single)
{
    GridObject *g = G(self);
    const Py_ssize_t xlen = g->shape[0], ylen = g->ndim == 2 ? g->shape[1] : 1;
    *empty = false;
    *single = false;
    *yr = full(ylen);
    if (key == Py_Ellipsis)
        return 0;
    if (PyTuple_Check(key)) {
        Py_ssize_t n = PyTuple_GET_SIZE(key);
        if (n == 0)
            return 0;
        if (n > g->ndim) {
            PyErr_SetString(PyExc_IndexError, "too many indices for the array");
            return -1;
        }
        if (!item_range(PyTuple_GET_ITEM(key, 0), xlen, xr))
            return -1;
        if (n == 2 && !item_range(PyTuple_GET_ITEM(key, 1), ylen, yr))
            return -1;
        *empty = xr->len == 0 || yr->len == 0;
        return 1;
    }
    if (PySlice_Check(key)) {
        if (!slice_range(key, xlen, xr))
            return -1;
        *empty = xr->len == 0;
        return 1;
    }
    if (PyIndex_Check(key)) {
        Py_ssize_t i;
        if (!int_index(key, xlen, "array index out of range", &i))
            return -1;
        *xr = {i, 1, 0};
        *single = true;
        return 1;
    }
    raise_index_type();
    return -1;
}

PyObject *grid_subscript(PyObject *self, PyObject *key)
{
    if (!G(self)->surface)
        return raise_closed();
    Range xr, yr;
    bool empty, single;
    int r = key_ranges(self, key, &xr, &yr, &empty, &single);
    if (r < 0)
        return nullptr;
    if (r == 0)
        return Py_NewRef(self);
    if (empty && !single)
        Py_RETURN_NONE;
    return select(self, xr, yr);
}

Py_ssize_t grid_length(PyObject *self)
{
    if (!G(self)->surface) {
        raise_closed();
        return -1;
    }
    return G(self)->shape[0];
}

PyObject *grid_item(PyObject *self, Py_ssize_t i)
{
    GridObject *g = G(self);
    if (!g->surface)
        return raise_closed();
    if (i < 0 || i >= g->shape[0]) {
        PyErr_SetString(PyExc_IndexError, "array index out of range");
        return nullptr;
    }
    return select(self, {i, 1, 0}, full(g->ndim == 2 ? g->shape[1] : 1));
}

// ---------------------------------------------------------------------------
// Assignment
// ---------------------------------------------------------------------------

PyObject *raise_sizes()
{
    PyErr_SetString(PyExc_ValueError, "array sizes do not match");
    return nullptr;
}

// Source walk for copying `src` into target walk `dst` (n columns, R rows,
// R 0 for a one-dimensional target), broadcasting single rows, columns and
// pixels; false with "array sizes do not match".
bool broadcast(const GridObject *src, Grid dst, Py_ssize_t R, Grid *out)
{
    const Py_ssize_t n = dst.nx;
    const Py_ssize_t sx = src->shape[0], sy = src->ndim == 2 ? src->shape[1] : 0;
    const Py_ssize_t xs = src->strides[0], ys = src->strides[1];
    if (sx == 0 || (src->ndim == 2 && sy == 0)) {
        raise_sizes();
        return false;
    }
    Grid s = {src->pixels, dst.nx, dst.ny, 0, 0};
    bool ok = true;
    if (sx != 1 && sy >= 2) {
        ok = R == sy && sx == n;
        s.sx = xs;
        s.sy = ys;
    }
    else if (sx != 1 && sy == 1) {
        ok = sx == n;
        s.sx = xs;
    }
    else if (sx != 1) {
        // A one-dimensional source: a row repeated on every target row, or
        // (into a single column) the column itself.
        if (R != 0 && n == 1 && sx == R)
            s.sy = xs;
        else {
            ok = sx == n;
            s.sx = xs;
        }
    }
    else if (sy >= 2) {
        ok = R == sy;
        s.sy = ys;
    }
    if (!ok) {
        raise_sizes();
        return false;
    }
    *out = s;
    return true;
}

// Target byte i of a 3-byte pixel takes source byte remap[i], following
// each channel's shift in the two formats.
bool channel_remap(const SDL_PixelFormat *t, const SDL_PixelFormat *s, int remap[3])
{
    if (t->Rshift == s->Rshift && t->Gshift == s->Gshift && t->Bshift == s->Bshift)
        return false;
    remap[0] = 0;
    remap[1] = 1;
    remap[2] = 2;
    const int ts[3] = {t->Rshift, t->Gshift, t->Bshift};
    const int ss[3] = {s->Rshift, s->Gshift, s->Bshift};
    for (int c = 0; c < 3; ++c) {
        if (ts[c] % 8 || ss[c] % 8 || ts[c] > 16 || ss[c] > 16)
            return false;
        remap[ts[c] / 8] = ss[c] / 8;
    }
    return true;
}

int array_assign(PyObject *target, PyObject *srcobj)
{
    GridObject *t = G(target), *src = G(srcobj);
    SDL_Surface *ts = open_surface(target);
    if (!ts)
        return -1;
    SDL_Surface *ss = open_surface(srcobj);
    if (!ss)
        return -1;
    Grid dst = grid_of(t);
    Grid sg;
    if (!broadcast(src, dst, t->ndim == 2 ? t->shape[1] : 0, &sg))
        return -1;
    const int bpp = ts->format->BytesPerPixel;
    if (ss->format->BytesPerPixel != bpp) {
        PyErr_SetString(PyExc_ValueError, "bit depths do not match");
        return -1;
    }
    if (dst.nx == 0 || dst.ny == 0)
        return 0;
    int remap[3];
    const bool moved = bpp == 3 && channel_remap(ts->format, ss->format, remap);
    // Overlapping memory (the same surface, or a subsurface and its
    // parent) is read from a copy of exactly the bytes the source spans.
    const Uint8 *slo, *shi, *dlo, *dhi;
    lmgrid::extent(sg, bpp, &slo, &shi);
    lmgrid::extent(dst, bpp, &dlo, &dhi);
    std::vector<Uint8> tmp;
    if (slo < dhi && dlo < shi) {
        try {
            tmp.assign(slo, shi);
        }
        catch (const std::bad_alloc &) {
            PyErr_NoMemory();
            return -1;
        }
        sg.p = tmp.data() + (sg.p - slo);
    }
    lm::GilRelease nogil;
    lmgrid::copy(dst, sg, bpp, moved ? remap : nullptr);
    return 0;
}

// Item j of `seq` goes to column j of view v (every row).
int seq_assign(PyObject *v, PyObject *seq, SDL_Surface *s)
{
    GridObject *g = G(v);
    Py_ssize_t n = PySequence_Size(seq);
    if (n < 0)
        return -1;
    if (n != g->shape[0]) {
        PyErr_SetString(PyExc_ValueError, "sequence size mismatch");
        return -1;
    }
    std::vector<Uint32> vals((size_t)n);
    for (Py_ssize_t j = 0; j < n; ++j) {
        lm::Ref item(PySequence_GetItem(seq, j));
        if (!item || !color_or_raise(item.get(), s, &vals[(size_t)j]))
            return -1;
    }
    Grid col = grid_of(g);
    const int bpp = s->format->BytesPerPixel;
    lm::GilRelease nogil;
    for (Py_ssize_t j = 0; j < n; ++j) {
        Grid c = col;
        c.p = col.p + j * col.sx;
        c.nx = 1;
        lmgrid::fill(c, bpp, vals[(size_t)j]);
    }
    return 0;
}

int fill_view(PyObject *v, Uint32 value, int bpp)
{
    Grid g = grid_of(G(v));
    lm::GilRelease nogil;
    lmgrid::fill(g, bpp, value);
    return 0;
}

// The whole-view rule: an array, a colour, a sequence of colours; any
// other value leaves the pixels as they are.
int assign_view(PyObject *v, PyObject *value, SDL_Surface *s)
{
    if (is_grid_exact(value))
        return array_assign(v, value);
    Uint32 px;
    int c = color_value(value, s, &px);
    if (c < 0)
        return -1;
    if (c > 0)
        return fill_view(v, px, s->format->BytesPerPixel);
    if (PySequence_Check(value))
        return seq_assign(v, value, s);
    return 0;
}

// An integer key: column i of a two-dimensional array, pixel i of a
// one-dimensional one.  Colours, arrays, and (columns only) sequences.
int assign_index(PyObject *self, Py_ssize_t i, PyObject *value, SDL_Surface *s)
{
    GridObject *g = G(self);
    Uint8 *p = g->pixels + i * g->strides[0];
    Py_ssize_t shape[2] = {1, g->shape[1]}, strides[2] = {g->strides[0], g->strides[1]};
    if (is_grid_exact(value)) {
        lm::Ref sub(new_view(self, p, g->ndim, shape, strides));
        return sub ? array_assign(sub.get(), value) : -1;
    }
    Uint32 px;
    int c = color_value(value, s, &px);
    if (c < 0)
        return -1;
    if (c > 0 || g->ndim == 1 || !PySequence_Check(value)) {
        if (c == 0) {
            PyErr_SetString(PyExc_ValueError, "invalid color argument");
            return -1;
        }
        Grid col = {p, 1, g->ndim == 2 ? g->shape[1] : 1, 0,
                    g->ndim == 2 ? g->strides[1] : 0};
        lm::GilRelease nogil;
        lmgrid::fill(col, s->format->BytesPerPixel, px);
        return 0;
    }
    Py_ssize_t cshape[1] = {g->shape[1]}, cstrides[1] = {g->strides[1]};
    lm::Ref col(new_view(self, p, 1, cshape, cstrides));
    return col ? seq_assign(col.get(), value, s) : -1;
}

int grid_ass_subscript(PyObject *self, PyObject *key, PyObject *value)
{
    if (!value) {
        PyErr_SetString(PyExc_TypeError, "item deletion is not supported");
        return -1;
    }
    SDL_Surface *s = open_surface(self);
    if (!s)
        return -1;
    if (PyTuple_Check(key) && PyTuple_GET_SIZE(key) == 0) {
        raise_index_type();
        return -1;
    }
    Range xr, yr;
    bool empty, single;
    int r = key_ranges(self, key, &xr, &yr, &empty, &single);
    if (r < 0)
        return -1;
    if (r == 0)
        return assign_view(self, value, s);
    if (single)
        return assign_index(self, xr.start, value, s);
    if (empty)
        return 0;
    GridObject *g = G(self);
    if (xr.len == 1 && (g->ndim == 1 || yr.len == 1)) {
        // One pixel: a one-pixel view written like its index 0.
        Uint8 *p = g->pixels + xr.start * g->strides[0] +
                   (g->ndim == 2 ? yr.start * g->strides[1] : 0);
        Py_ssize_t shape[1] = {1}, strides[1] = {g->strides[0]};
        lm::Ref px(new_view(self, p, 1, shape, strides));
        return px ? assign_index(px.get(), 0, value, s) : -1;
    }
    lm::Ref v(select(self, xr, yr));
    if (!v)
        return -1;
    return assign_view(v.get(), value, s);
}

int grid_ass_item(PyObject *self, Py_ssize_t i, PyObject *value)
{
    lm::Ref key(PyLong_FromSsize_t(i));
    return key ? grid_ass_subscript(self, key.get(), value) : -1;
}

int grid_contains(PyObject *self, PyObject *value)
{
    SDL_Surface *s = open_surface(self);
    if (!s)
        return -1;
    Uint32 px;
    if (!color_or_raise(value, s, &px))
        return -1;
    Grid g = grid_of(G(self));
    const int bpp = s->format->BytesPerPixel;
    bool found;
    {
        lm::GilRelease nogil;
        found = lmgrid::contains(g, bpp, px);
    }
    return found ? 1 : 0;
}

// ---------------------------------------------------------------------------
// repr, properties, buffer
// ---------------------------------------------------------------------------

PyObject *grid_repr(PyObject *self)
{
    SDL_Surface *s = open_surface(self);
    if (!s)
        return nullptr;
    GridObject *g = G(self);
    const int bpp = s->format->BytesPerPixel;
    std::string out = "TexelGrid(";
    char num[32];
    auto value_at = [&](Py_ssize_t x, Py_ssize_t y) {
        Uint32 v = lmgrid::read_px(g->pixels + x * g->strides[0] + y * g->strides[1], bpp);
        long lv = bpp == 4 ? (long)(Sint32)v : (long)v;
        return lv;
    };
    auto row = [&](Py_ssize_t y) {
        out += "\n  [";
        for (Py_ssize_t x = 0; x < g->shape[0]; ++x) {
            PyOS_snprintf(num, sizeof num, x + 1 < g->shape[0] ? "%ld, " : "%ld",
                          value_at(x, y));
            out += num;
        }
        out += "]";
    };
    if (g->ndim == 2) {
        out += "[";
        for (Py_ssize_t y = 0; y < g->shape[1]; ++y)
            row(y);
        out += "]\n)";
    }
    else {
        row(0);
        out += "\n)";
    }
    return PyUnicode_FromStringAndSize(out.data(), (Py_ssize_t)out.size());
}

int grid_getbuffer(PyObject *self, Py_buffer *view, int flags)
{
    view->obj = nullptr;
    SDL_Surface *s = open_surface(self);
    if (!s)
        return -1;
    GridObject *g = G(self);
    const Py_ssize_t item = s->format->BytesPerPixel;
    const bool one = g->ndim == 1;
    const bool fortran = g->strides[0] == item &&
                         (one || g->strides[1] == g->shape[0] * item);
    const char *msg = nullptr;
    bool shape = true, strides = true;
    if ((flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS) {
        if (!(one && g->strides[0] == item))
            msg = "this pixel array is not C contiguous";
    }
    else if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS) {
        if (!fortran)
            msg = "this pixel array is not F contiguous";
    }
    else if ((flags & PyBUF_ANY_CONTIGUOUS) == PyBUF_ANY_CONTIGUOUS) {
        if (!fortran)
            msg = "this pixel array is not contiguous";
    }
    else if ((flags & PyBUF_STRIDES) == PyBUF_STRIDES) {
    }
    else if ((flags & PyBUF_ND) == PyBUF_ND) {
        strides = false;
        if (!(one && g->strides[0] == item))
            msg = "this pixel array is not contiguous: need strides";
    }
    else {
        shape = strides = false;
        if (!fortran)
            msg = "this pixel array is not C contiguous: need strides";
    }
    if (msg) {
        PyErr_SetString(lmExc_BufferError, msg);
        return -1;
    }
    static const char *formats[] = {"B", "=H", "3x", "=I"};
    view->buf = g->pixels;
    view->len = item * g->shape[0] * (one ? 1 : g->shape[1]);
    view->itemsize = item;
    view->readonly = 0;
    view->ndim = g->ndim;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char *>(formats[item - 1]) : nullptr;
    view->shape = shape ? g->shape : nullptr;
    view->strides = strides ? g->strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    view->obj = Py_NewRef(self);
    return 0;
}

PyBufferProcs grid_as_buffer = {grid_getbuffer, nullptr};

PyObject *array_iface(PyObject *self, PyObject *(*build)(Py_buffer *))
{
    Py_buffer v;
    if (grid_getbuffer(self, &v, PyBUF_RECORDS) < 0)
        return nullptr;
    PyObject *r = build(&v);
    Py_DECREF(v.obj);
    return r;
}

PyObject *get_arrinter(PyObject *self, void *) { return array_iface(self, lmBuffer_AsArrayInterface); }
PyObject *get_arrstruct(PyObject *self, void *) { return array_iface(self, lmBuffer_AsArrayStruct); }

PyObject *get_surface(PyObject *self, void *)
{
    if (!G(self)->surface)
        return raise_closed();
    return Py_NewRef(G(self)->surface);
}

PyObject *get_itemsize(PyObject *self, void *)
{
    SDL_Surface *s = open_surface(self);
    return s ? PyLong_FromLong(s->format->BytesPerPixel) : nullptr;
}

PyObject *dims_tuple(PyObject *self, const Py_ssize_t *v)
{
    GridObject *g = G(self);
    if (!g->surface)
        return raise_closed();
    if (g->ndim == 2)
        return Py_BuildValue("(nn)", v[0], v[1]);
    return Py_BuildValue("(n)", v[0]);
}

PyObject *get_shape(PyObject *self, void *) { return dims_tuple(self, G(self)->shape); }
PyObject *get_strides(PyObject *self, void *) { return dims_tuple(self, G(self)->strides); }

PyObject *get_ndim(PyObject *self, void *)
{
    if (!G(self)->surface)
        return raise_closed();
    return PyLong_FromLong(G(self)->ndim);
}

PyObject *get_address(PyObject *self, void *)
{
    if (!G(self)->surface)
        return raise_closed();
    return PyLong_FromSize_t((size_t)(uintptr_t)G(self)->pixels);
}

PyObject *get_dict(PyObject *self, void *)
{
    GridObject *g = G(self);
    if (!g->dict) {
        g->dict = PyDict_New();
        if (!g->dict)
            return nullptr;
    }
    return Py_NewRef(g->dict);
}

// ---------------------------------------------------------------------------
// Methods and life cycle
// ---------------------------------------------------------------------------

PyObject *tg_close(PyObject *self, PyObject *)
{
    if (!G(self)->surface)
        return raise_closed();
    _cleanup_array(self);
    Py_RETURN_NONE;
}

PyObject *tg_enter(PyObject *self, PyObject *)
{
    return Py_NewRef(self);
}

PyObject *tg_exit(PyObject *self, PyObject *)
{
    if (G(self)->surface)
        _cleanup_array(self);
    Py_RETURN_NONE;
}

PyObject *grid_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"surface", nullptr};
    PyObject *surface;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O!", const_cast<char **>(kwlist),
                                     &lmSurface_Type, &surface))
        return nullptr;
    return new_toplevel(type, surface);
}

void grid_dealloc(PyObject *self)
{
    GridObject *g = G(self);
    PyObject_GC_UnTrack(self);
    {
        lm::ErrorStash keep;
        if (g->weakrefs)
            PyObject_ClearWeakRefs(self);
        if (g->surface)
            _cleanup_array(self);
        // A top-level array cannot die before its views (they hold it).
        release_lock_if_done(g);
        Py_CLEAR(g->dict);
    }
    Py_TYPE(self)->tp_free(self);
}

int grid_traverse(PyObject *self, visitproc visit, void *arg)
{
    GridObject *g = G(self);
    Py_VISIT(g->dict);
    Py_VISIT(g->surface);
    Py_VISIT(g->parent);
    Py_VISIT(g->root);
    Py_VISIT(g->locked);
    return 0;
}

int grid_clear(PyObject *self)
{
    Py_CLEAR(G(self)->dict);
    return 0;
}

PyObject *lmTexelGrid_New(PyObject *surface)
{
    if (!surface || !PyObject_TypeCheck(surface, &lmSurface_Type)) {
        PyErr_SetString(PyExc_TypeError, "argument is not a Surface");
        return nullptr;
    }
    return new_toplevel(&grid_type, surface);
}

#define KW(fn) (PyCFunction)(void (*)(void))fn, METH_VARARGS | METH_KEYWORDS

PyMethodDef grid_methods[] = {
    {"compare", KW(tg_compare),
     "compare(array, distance=0, weights=(0.299, 0.587, 0.114)) -> TexelGrid\n"
     "Compares the TexelGrid with another one."},
    {"extract", KW(tg_extract),
     "extract(color, distance=0, weights=(0.299, 0.587, 0.114)) -> TexelGrid\n"
     "Extracts the passed color from the TexelGrid."},
    {"make_surface", tg_make_surface, METH_NOARGS,
     "make_surface() -> Surface\nCreates a new Surface from the current TexelGrid."},
    {"close", tg_close, METH_NOARGS,
     "close() -> TexelGrid\nCloses the TexelGrid, and releases Surface lock."},
    {"__enter__", tg_enter, METH_NOARGS, nullptr},
    {"__exit__", tg_exit, METH_VARARGS, nullptr},
    {"replace", KW(tg_replace),
     "replace(color, repcolor, distance=0, weights=(0.299, 0.587, 0.114)) -> None\n"
     "Replaces the passed color in the TexelGrid with another one."},
    {"transpose", tg_transpose, METH_NOARGS,
     "transpose() -> TexelGrid\nExchanges the x and y axis."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef grid_getset[] = {
    {"surface", get_surface, nullptr,
     "surface -> Surface\nGets the Surface the TexelGrid uses.", nullptr},
    {"itemsize", get_itemsize, nullptr,
     "itemsize -> int\nReturns the byte size of a pixel array item", nullptr},
    {"shape", get_shape, nullptr,
     "shape -> tuple of int's\nReturns the array size.", nullptr},
    {"strides", get_strides, nullptr,
     "strides -> tuple of int's\nReturns byte offsets for each array dimension.", nullptr},
    {"ndim", get_ndim, nullptr,
     "ndim -> int\nReturns the number of dimensions.", nullptr},
    {"__array_struct__", get_arrstruct, nullptr, "Version 3", nullptr},
    {"__array_interface__", get_arrinter, nullptr, "Version 3", nullptr},
    {"_pixels_address", get_address, nullptr, "pixel buffer address (readonly)", nullptr},
    {"__dict__", get_dict, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PySequenceMethods grid_as_sequence = {
    grid_length, nullptr, nullptr, grid_item, nullptr, grid_ass_item,
    nullptr, grid_contains, nullptr, nullptr};

PyMappingMethods grid_as_mapping = {grid_length, grid_subscript, grid_ass_subscript};

void *c_api[LM_TEXELGRID_NUMSLOTS];

LM_MODULE_DEF(texelgrid_module, "texelgrid",
              "The TexelGrid type: direct, x-first access to a surface's pixels.", nullptr);

}  // namespace

PyMODINIT_FUNC PyInit_texelgrid(void)
{
    LM_IMPORT(base);
    LM_IMPORT(color);
    LM_IMPORT_SURFACE();

    PyTypeObject &t = grid_type;
    t.tp_name = "lumora.texelgrid.TexelGrid";
    t.tp_basicsize = sizeof(GridObject);
    t.tp_dealloc = grid_dealloc;
    t.tp_repr = grid_repr;
    t.tp_as_sequence = &grid_as_sequence;
    t.tp_as_mapping = &grid_as_mapping;
    t.tp_as_buffer = &grid_as_buffer;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = "TexelGrid(Surface) -> TexelGrid\n"
               "lumora object for direct pixel access of surfaces";
    t.tp_traverse = grid_traverse;
    t.tp_clear = grid_clear;
    t.tp_weaklistoffset = offsetof(GridObject, weakrefs);
    t.tp_dictoffset = offsetof(GridObject, dict);
    t.tp_methods = grid_methods;
    t.tp_getset = grid_getset;
    t.tp_new = grid_new;
    PyObject *module = lm_module_with_type(&texelgrid_module, "TexelGrid", &t);
    if (!module)
        return nullptr;
    c_api[LM_TEXELGRID_TYPE] = &t;
    c_api[LM_TEXELGRID_NEW] = reinterpret_cast<void *>(lmTexelGrid_New);
    if (lm_export_slots(module, "texelgrid", c_api) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
