// lumora.rasterport: copying pixels between surfaces and any object that
// exports a buffer or an array interface (numpy arrays, bytearrays,
// TexelGrid views).
//
// Arrays are indexed x first: element (x, y[, c]).  This file checks
// shapes, item formats and surfaces, takes the surface lock and the array
// views, and runs the loops of portkern.cpp; the interpreter lock is held
// throughout.
#include "frame.h"

#include "portkern.h"

using lmport::Items;
using lmport::Pixels;

namespace {

constexpr int kSourceFlags = PyBUF_RECORDS_RO;  // 28
constexpr int kTargetFlags = PyBUF_RECORDS;     // 29

// An array view from base slot 15, released on scope exit.
class View {
  public:
    View() { memset(&b_, 0, sizeof b_); }
    View(const View &) = delete;
    View &operator=(const View &) = delete;
    ~View()
    {
        if (held_)
            lmBuffer_Release(&b_);
    }
    bool get(PyObject *o, int flags)
    {
        held_ = lmObject_GetBuffer(o, &b_, flags) == 0;
        return held_;
    }
    const Py_buffer &v() const { return b_.view; }
    int ndim() const { return b_.view.shape ? b_.view.ndim : 0; }
    Py_ssize_t dim(int i) const { return b_.view.shape[i]; }
    Py_ssize_t stride(int i) const { return b_.view.strides[i]; }

  private:
    lm_buffer b_;
    bool held_ = false;
};

// Struct-style item formats: integers, or raw items of 1 to 9 bytes.
// *big is set for big-endian ("!", ">") items.
bool format_ok(const char *fmt, bool *big)
{
    *big = false;
    if (!fmt)
        return true;  // plain bytes
    const char *p = fmt;
    if (*p && strchr("!<=>@", *p)) {
        *big = *p == '!' || *p == '>';
        ++p;
    }
    if (*p >= '2' && *p <= '9')
        return p[1] == 'x' && p[2] == '\0';
    if (*p == '1')
        ++p;
    return *p && strchr("bBhHiIlLqQx", *p) && p[1] == '\0';
}

bool check_format(const View &v, bool *big)
{
    if (format_ok(v.v().format, big))
        return true;
    PyErr_SetString(PyExc_ValueError, "Unsupported array item type");
    return false;
}

PyObject *raise_quit()
{
    PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return nullptr;
}

// The surface locked on behalf of `by` (the surface itself for objects
// that cannot be referenced weakly, such as bytearrays).
class Lock {
  public:
    Lock(PyObject *surf, PyObject *by)
        : s_(surf), by_(by && PyType_SUPPORTS_WEAKREFS(Py_TYPE(by)) ? by : surf),
          ok_(lmSurface_LockBy(s_, by_) != 0) {}
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
    ~Lock() { unlock(); }
    bool ok() const { return ok_; }
    // False (with an exception) when unlocking failed.
    bool unlock()
    {
        if (!ok_)
            return true;
        ok_ = false;
        return lmSurface_UnlockBy(s_, by_) != 0 || !PyErr_Occurred();
    }

  private:
    PyObject *s_, *by_;
    bool ok_;
};

// surface_to_array and map_array: runs `copy()` with the surface locked for
// itself; None, or null with the error set.  `copy` takes its array views
// in its own scope, so they are released before the unlock.
template <typename Copy>
PyObject *with_surface_locked(PyObject *surfobj, Copy copy)
{
    // Tested before locking: locking a quit surface is not an option.
    if (!lmSurface_AsSurface(surfobj))
        return raise_quit();
    Lock lock(surfobj, surfobj);
    if (!lock.ok())
        return nullptr;
    const bool ok = copy();
    if (!lock.unlock() || !ok)
        return nullptr;
    Py_RETURN_NONE;
}

Pixels pixels_of(SDL_Surface *s)
{
    return {static_cast<Uint8 *>(s->pixels), s->w, s->h, s->pitch, s->format->BytesPerPixel};
}

Items items_of(const View &v, bool big)
{
    Items a;
    a.p = static_cast<Uint8 *>(v.v().buf);
    for (int i = 0; i < 3; ++i)
        a.s[i] = i < v.ndim() ? v.stride(i) : 0;
    a.isize = (int)v.v().itemsize;
    a.big = big;
    return a;
}

// ---------------------------------------------------------------------------
// array_to_surface
// ---------------------------------------------------------------------------

bool copy_array(PyObject *surfobj, PyObject *array)
{
    SDL_Surface *s = lmSurface_AsSurface(surfobj);
    if (!s) {
        raise_quit();
        return false;
    }
    View view;
    bool big;
    if (!view.get(array, kSourceFlags) || !check_format(view, &big))
        return false;
    const int nd = view.ndim();
    if (nd != 2 && !(nd == 3 && view.dim(2) == 3)) {
        PyErr_SetString(PyExc_ValueError, "must be a valid 2d or 3d array\n");
        return false;
    }
    const int bpp = s->format->BytesPerPixel;
    if (bpp < 1 || bpp > 4) {
        PyErr_SetString(PyExc_ValueError, "unsupported bit depth for surface");
        return false;
    }
    Items a = items_of(view, big);
    const Py_ssize_t size[2] = {s->w, s->h};
    for (int i = 0; i < 2; ++i) {
        if (view.dim(i) == size[i])
            continue;
        if (view.dim(i) != 1) {
            PyErr_SetString(PyExc_ValueError, "array must match surface dimensions");
            return false;
        }
        a.s[i] = 0;  // one row or column repeated
    }
    Lock lock(surfobj, array);
    if (!lock.ok())
        return false;
    s = lmSurface_AsSurface(surfobj);
    Pixels px = pixels_of(s);
    bool done = nd == 2 ? lmport::put_values(px, a) : lmport::put_rgb(px, a, s->format);
    if (!lock.unlock())
        return false;
    if (!done) {
        PyErr_SetString(PyExc_ValueError, "unsupported datatype for array\n");
        return false;
    }
    return true;
}

PyObject *array_to_surface(PyObject *, PyObject *args)
{
    PyObject *surfobj, *array;
    if (!PyArg_ParseTuple(args, "O!O", &lmSurface_Type, &surfobj, &array))
        return nullptr;
    if (!copy_array(surfobj, array))
        return nullptr;
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// surface_to_array
// ---------------------------------------------------------------------------

int kind_converter(PyObject *o, void *out)
{
    const char *text;
    Py_ssize_t n;
    if (PyUnicode_Check(o)) {
        text = PyUnicode_AsUTF8AndSize(o, &n);
        if (!text)
            return 0;
    }
    else if (PyBytes_Check(o)) {
        text = PyBytes_AS_STRING(o);
        n = PyBytes_GET_SIZE(o);
    }
    else {
        PyErr_Format(PyExc_TypeError, "expected a length one string for argument 3: got '%s'",
                     Py_TYPE(o)->tp_name);
        return 0;
    }
    if (n != 1) {
        PyErr_SetString(PyExc_TypeError, "expected a length 1 string for argument 3");
        return 0;
    }
    char c = text[0];
    if (c >= 'a' && c <= 'z')
        c = (char)(c - 'a' + 'A');
    if (!strchr("RGBACP", c)) {
        PyErr_Format(PyExc_TypeError, "unrecognized view kind '%c' for argument 3", text[0]);
        return 0;
    }
    *static_cast<char *>(out) = c;
    return 1;
}

bool copy_surface(View &view, SDL_Surface *s, char kind, Uint8 opaque, Uint8 clear)
{
    bool big;
    if (!check_format(view, &big))
        return false;
    const int nd = view.ndim();
    const int bpp = s->format->BytesPerPixel;
    Items a = items_of(view, big);
    Pixels px = pixels_of(s);
    if (nd == 2) {
        if (view.dim(0) != s->w || view.dim(1) != s->h) {
            PyErr_Format(PyExc_ValueError, "Expected a (%zd, %zd) target: got (%zd, %zd)",
                         (Py_ssize_t)s->w, (Py_ssize_t)s->h, view.dim(0), view.dim(1));
            return false;
        }
        if (kind == 'P') {
            if (a.isize < bpp) {
                PyErr_Format(PyExc_ValueError,
                             "Expected at least a target byte size of %d: got %d", bpp,
                             a.isize);
                return false;
            }
            lmport::get_values(px, a);
            return true;
        }
        if (a.isize < 1) {
            PyErr_Format(PyExc_ValueError, "Expected at least a target byte size of 1: got %d",
                         a.isize);
            return false;
        }
        int channel = kind == 'R' ? 0 : kind == 'G' ? 1 : kind == 'B' ? 2 : 3;
        Uint32 key = 0;
        if (kind == 'A') {
            SDL_BlendMode mode;
            if (SDL_GetSurfaceBlendMode(s, &mode) < 0) {
                lm_RaiseSDLError();
                return false;
            }
            if (mode == SDL_BLENDMODE_NONE)
                channel = -1;
        }
        else if (kind == 'C') {
            channel = SDL_GetColorKey(s, &key) == 0 ? 4 : -1;
        }
        lmport::Unmap um(s->format);
        lmport::get_channel(px, a, um, channel, opaque, clear, key);
        return true;
    }
    if (nd == 3) {
        if (kind != 'P') {
            PyErr_SetString(PyExc_ValueError, "color planes only supported for 2d targets");
            return false;
        }
        if (view.dim(0) != s->w || view.dim(1) != s->h || view.dim(2) != 3) {
            PyErr_Format(PyExc_ValueError,
                         "Expected a (%zd, %zd, 3) target: got (%zd, %zd, %zd)",
                         (Py_ssize_t)s->w, (Py_ssize_t)s->h, view.dim(0), view.dim(1),
                         view.dim(2));
            return false;
        }
        lmport::Unmap um(s->format);
        lmport::get_rgb(px, a, um, s->format);
        return true;
    }
    PyErr_Format(PyExc_ValueError, "unsupported array depth %d", nd);
    return false;
}

PyObject *surface_to_array(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"array", "surface", "kind", "opaque", "clear", nullptr};
    PyObject *array, *surfobj;
    char kind = 'P';
    Uint8 opaque = 255, clear = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "OO!|O&BB", const_cast<char **>(kwlist),
                                     &array, &lmSurface_Type, &surfobj, kind_converter, &kind,
                                     &opaque, &clear))
        return nullptr;
    return with_surface_locked(surfobj, [&] {
        View view;
        return view.get(array, kTargetFlags) &&
               copy_surface(view, lmSurface_AsSurface(surfobj), kind, opaque, clear);
    });
}

// ---------------------------------------------------------------------------
// map_array
// ---------------------------------------------------------------------------

bool map_views(View &target, View &source, SDL_Surface *s)
{
    bool tbig, sbig;
    if (!format_ok(target.v().format, &tbig)) {
        PyErr_SetString(PyExc_ValueError, "expected an integer target array");
        return false;
    }
    const int tnd = target.ndim();
    if (tnd < 1) {
        PyErr_SetString(PyExc_ValueError, "target array must be at least 1D");
        return false;
    }
    if (tnd > lmport::kMaxDims) {
        PyErr_Format(PyExc_ValueError, "target array exceeds %d dimensions", lmport::kMaxDims);
        return false;
    }
    if (!check_format(source, &sbig))
        return false;
    const int snd = source.ndim();
    if (snd < 1) {
        PyErr_SetString(PyExc_ValueError, "source array must be at least 1D");
        return false;
    }
    if (source.dim(snd - 1) != 3) {
        PyErr_Format(PyExc_ValueError, "Expected a (..., 3) source array: got (..., %zd)",
                     source.dim(snd - 1));
        return false;
    }
    if (tnd < snd - 1) {
        PyErr_Format(PyExc_ValueError,
                     "%d dimensional target has too few dimensions for %d dimensional source",
                     tnd, snd);
        return false;
    }
    lmport::MapWalk w;
    w.nd = tnd;
    w.slast = source.stride(snd - 1);
    const int lead = tnd - (snd - 1);
    for (int j = 0; j < tnd; ++j) {
        w.shape[j] = target.dim(j);
        w.tstride[j] = target.stride(j);
        w.sstride[j] = 0;
        if (j < lead)
            continue;
        int i = j - lead;
        if (source.dim(i) == target.dim(j))
            w.sstride[j] = source.stride(i);
        else if (source.dim(i) != 1) {
            PyErr_Format(PyExc_ValueError,
                         "size mismatch between dimension %d of source and dimension %d of "
                         "target", i, j);
            return false;
        }
    }
    const int bpp = s->format->BytesPerPixel;
    if (target.v().itemsize < bpp) {
        PyErr_SetString(PyExc_ValueError, "target array itemsize is too small for pixel format");
        return false;
    }
    if (bpp < 1 || bpp > 4) {
        PyErr_Format(PyExc_ValueError, "%d bytes per pixel target format not supported", bpp);
        return false;
    }
    lmport::map_rgb(w, static_cast<Uint8 *>(target.v().buf), (int)target.v().itemsize, tbig,
                    static_cast<const Uint8 *>(source.v().buf), (int)source.v().itemsize, sbig,
                    s->format);
    return true;
}

PyObject *map_array(PyObject *, PyObject *args)
{
    PyObject *target, *source, *surfobj;
    if (!PyArg_ParseTuple(args, "OOO!", &target, &source, &lmSurface_Type, &surfobj))
        return nullptr;
    return with_surface_locked(surfobj, [&] {
        View tv, sv;
        if (!tv.get(target, kTargetFlags) || !sv.get(source, kSourceFlags))
            return false;
        SDL_Surface *s = lmSurface_AsSurface(surfobj);
        if (!s) {
            raise_quit();
            return false;
        }
        return map_views(tv, sv, s);
    });
}

// ---------------------------------------------------------------------------
// make_surface
// ---------------------------------------------------------------------------

PyObject *make_surface(PyObject *, PyObject *array)
{
    int w, h, nd;
    {
        View view;
        bool big;
        if (!view.get(array, kSourceFlags))
            return nullptr;
        nd = view.ndim();
        if (nd != 2 && !(nd == 3 && view.dim(2) == 3)) {
            PyErr_SetString(PyExc_ValueError, "must be a valid 2d or 3d array\n");
            return nullptr;
        }
        if (!check_format(view, &big))
            return nullptr;
        if (view.dim(0) > INT_MAX || view.dim(1) > INT_MAX) {
            PyErr_SetString(PyExc_ValueError, "array is too large for a surface");
            return nullptr;
        }
        w = (int)view.dim(0);
        h = (int)view.dim(1);
    }
    SDL_Surface *s = nd == 2 ? SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0)
                             : SDL_CreateRGBSurface(0, w, h, 32, 0xff0000, 0xff00, 0xff, 0);
    if (!s)
        return lm_RaiseSDLError();
    if (nd == 2) {
        // A 2-3-2 colour cube: red bits 5-6, green 2-4, blue 0-1.
        SDL_Color colors[255];
        for (int i = 0; i < 255; ++i) {
            colors[i].r = (Uint8)(((i >> 5) & 3) * 85);
            colors[i].g = (Uint8)((((i >> 2) & 7) * 255 + 3) / 7);
            colors[i].b = (Uint8)((i & 3) * 85);
            colors[i].a = 255;
        }
        if (SDL_SetPaletteColors(s->format->palette, colors, 0, 255) < 0) {
            SDL_FreeSurface(s);
            return lm_RaiseSDLError();
        }
    }
    lm::Ref surf(lmSurface_New2(s, 1));
    if (!surf) {
        SDL_FreeSurface(s);
        return nullptr;
    }
    if (!copy_array(surf.get(), array))
        return nullptr;
    return surf.release();
}

PyMethodDef port_methods[] = {
    {"array_to_surface", array_to_surface, METH_VARARGS,
     "array_to_surface(<surface>, <array>) -> None\ncopy an array object to a surface"},
    {"surface_to_array", (PyCFunction)(void (*)(void))surface_to_array,
     METH_VARARGS | METH_KEYWORDS,
     "surface_to_array(array, surface, kind='P', opaque=255, clear=0) -> None\n"
     "copy surface pixels to an array object"},
    {"map_array", map_array, METH_VARARGS,
     "map_array(<array>, <array>, <surface>) -> None\n"
     "copy an array to another array, using surface format"},
    {"make_surface", make_surface, METH_O,
     "lumora.rasterport.make_surface(array) -> Surface\nCopy an array to a new surface"},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef rasterport_module = {
    PyModuleDef_HEAD_INIT, "rasterport", "lumora module for general pixel array copying",
    -1, port_methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_rasterport(void)
{
    LM_IMPORT(base);
    LM_IMPORT_SURFACE();
    return PyModule_Create2(&rasterport_module, LM_API_VERSION);
}
