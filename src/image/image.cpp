// lumora.image: loading and saving surfaces, and byte-string conversions.
//
// BMP is read and written through SDL, TGA written by our own run-length
// writer (tga.cpp); every other format goes to lumora.richload when it is
// installed.  The interpreter lock is released around decoding and around
// everything that writes to a path; writing into a Python file object keeps
// it, since the stream calls back into Python anyway.
#include "frame.h"
#include "imgio.h"
#include "pixconv.h"
#include "tga.h"

#include <strings.h>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

using lmimg::Layout;
using lmimg::extension_of;
using lmimg::own_surface;

namespace {

// The extended loader's entry points; all three or none.
PyObject *ext_load = nullptr;
PyObject *ext_save = nullptr;
PyObject *ext_version = nullptr;
// The extended loader's own limit setter, when it has one.
PyObject *ext_set_max_pixels = nullptr;

// Images whose header claims more pixels are refused before decoding.
uint64_t max_pixels = lmimg::kDefaultMaxPixels;

enum class Writer { BMP, TGA };

// The writer for `how`, for lmimg::write_stream and write_path.
auto writer_for(Writer how)
{
    return [how](SDL_Surface *s, SDL_RWops *dst) {
        return how == Writer::BMP ? SDL_SaveBMP_RW(s, dst, 0)
                                  : lmimg::tga_write(s, dst);
    };
}

PyObject *save_basic(SDL_Surface *surf, PyObject *file, const char *path,
                     Writer how)
{
    auto write = writer_for(how);
    int res;
    if (path) {
        lm::GilRelease nogil;
        res = lmimg::write_path(surf, path, write);
    } else {
        SDL_RWops *rw = lmStream_FromFileObject(file);
        if (!rw)
            return nullptr;
        res = lmimg::write_stream(surf, rw, write);
        if (!lmimg::release_after_write(rw, res))
            return nullptr;
    }
    if (res < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

bool parse_layout(const char *name, const char *const *allowed, Layout *out)
{
    static const struct {
        const char *name;
        Layout layout;
    } names[] = {
        {"P", Layout::P},         {"RGB", Layout::RGB},
        {"BGR", Layout::BGR},     {"RGBX", Layout::RGBX},
        {"RGBA", Layout::RGBA},   {"ARGB", Layout::ARGB},
        {"BGRA", Layout::BGRA},   {"RGBA_PREMULT", Layout::RGBA_PREMULT},
        {"ARGB_PREMULT", Layout::ARGB_PREMULT},
    };
    for (const char *const *a = allowed; *a; a++) {
        if (strcmp(*a, name) != 0)
            continue;
        for (const auto &n : names)
            if (strcmp(n.name, name) == 0) {
                *out = n.layout;
                return true;
            }
    }
    PyErr_SetString(PyExc_ValueError, "Unrecognized type of format");
    return false;
}

// w * h * bytes as a byte count, or false when it does not fit a
// Py_ssize_t (the product is formed in 64 bits, so it cannot wrap on a
// 32-bit build).
bool byte_size(int w, int h, int bytes, Py_ssize_t *out)
{
    uint64_t n = (uint64_t)(uint32_t)w * (uint32_t)h * (uint32_t)bytes;
    if (n > (uint64_t)PY_SSIZE_T_MAX)
        return false;
    *out = (Py_ssize_t)n;
    return true;
}

// A surface SDL can make must have its row and total sizes fit an int.
bool surface_fits(int w, int h, int bytes)
{
    uint64_t row = (uint64_t)(uint32_t)w * (uint32_t)bytes;
    return row <= (uint64_t)INT_MAX - 3 && row * (uint32_t)h <= (uint64_t)INT_MAX;
}

// A size to make a surface of from bytes; ValueError when not positive.
bool positive_size(int w, int h)
{
    if (w >= 1 && h >= 1)
        return true;
    PyErr_SetString(PyExc_ValueError, "Resolution must be nonzero positive values");
    return false;
}

// `format` names one of the `allowed` layouts and `len` bytes are exactly
// w x h pixels of it (`need`), for a surface SDL can make.  ValueError
// otherwise, with `mismatch` as the text for a wrong length.
bool pixel_layout(const char *format, const char *const *allowed, int w, int h,
                  Py_ssize_t len, const char *mismatch, Layout *layout,
                  Py_ssize_t *need)
{
    if (!parse_layout(format, allowed, layout))
        return false;
    int bytes_pp = lmimg::layout_bytes(*layout);
    if (!byte_size(w, h, bytes_pp, need) || *need != len) {
        PyErr_SetString(PyExc_ValueError, mismatch);
        return false;
    }
    if (!surface_fits(w, h, bytes_pp)) {
        PyErr_SetString(PyExc_ValueError, "Resolution too large for a Surface");
        return false;
    }
    return true;
}

// Like SDL_CreateRGBSurface (same pitch rule, SDL frees the pixels with
// the surface) but without clearing pixels every one of which the caller
// is about to overwrite.  Sizes were checked by surface_fits().
SDL_Surface *new_surface_unfilled(int w, int h, int depth, Uint32 rm, Uint32 gm,
                                  Uint32 bm, Uint32 am)
{
    int pitch = (w * (depth / 8) + 3) & ~3;
    void *px = SDL_malloc((size_t)pitch * (size_t)h);
    if (!px) {
        SDL_OutOfMemory();
        return nullptr;
    }
    SDL_Surface *s = SDL_CreateRGBSurfaceFrom(px, w, h, depth, pitch, rm, gm, bm, am);
    if (!s) {
        SDL_free(px);
        return nullptr;
    }
    s->flags &= ~SDL_PREALLOC;
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Byte conversions (exported by name).
// ---------------------------------------------------------------------------
LM_EXPORT int lmObject_AsCharBuffer(PyObject *obj, const char **buffer,
                                    Py_ssize_t *length)
{
    if (!obj || !buffer || !length)
        return -1;
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0)
        return -1;
    *buffer = static_cast<const char *>(view.buf);
    *length = view.len;
    PyBuffer_Release(&view);
    return 0;
}

LM_EXPORT PyObject *image_tobytes(PyObject *, PyObject *args)
{
    PyObject *surfobj;
    const char *format;
    int flipped = 0;
    if (!PyArg_ParseTuple(args, "O!s|i", &lmSurface_Type, &surfobj, &format,
                          &flipped))
        return nullptr;
    LM_SURF_OR_RAISE(surfobj, surf);
    static const char *const allowed[] = {"P", "RGB", "RGBX", "RGBA", "ARGB",
                                          "BGRA", "RGBA_PREMULT",
                                          "ARGB_PREMULT", nullptr};
    Layout layout;
    if (!parse_layout(format, allowed, &layout))
        return nullptr;
    const SDL_PixelFormat *fmt = surf->format;
    if (layout == Layout::P && fmt->BytesPerPixel != 1) {
        PyErr_SetString(PyExc_ValueError,
                        "Can only create \"P\" format data with 8bit Surfaces");
        return nullptr;
    }
    if ((layout == Layout::RGBA_PREMULT || layout == Layout::ARGB_PREMULT) &&
        (fmt->BytesPerPixel <= 1 || !fmt->Amask)) {
        PyErr_SetString(PyExc_ValueError,
                        "Can only create pre-multiplied alpha bytes if the "
                        "surface has per-pixel alpha");
        return nullptr;
    }
    if (fmt->BytesPerPixel > 4 ||
        (fmt->BytesPerPixel == 0 &&
         !(fmt->palette && (fmt->BitsPerPixel == 1 || fmt->BitsPerPixel == 2 ||
                            fmt->BitsPerPixel == 4)))) {
        PyErr_Format(PyExc_ValueError, "unsupported surface bit depth (%d)",
                     (int)fmt->BitsPerPixel);
        return nullptr;
    }
    Py_ssize_t size;
    if (!byte_size(surf->w, surf->h, lmimg::layout_bytes(layout), &size))
        return PyErr_NoMemory();
    lm::Ref result(PyBytes_FromStringAndSize(nullptr, size));
    if (!result)
        return nullptr;
    if (!lmSurface_Lock(surfobj)) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_RuntimeError, "error locking surface");
        return nullptr;
    }
    if (size)
        lmimg::to_bytes(lmimg::view_of(surf), layout, flipped != 0,
                        reinterpret_cast<uint8_t *>(PyBytes_AS_STRING(result.get())));
    if (!lmSurface_Unlock(surfobj))
        return nullptr;
    return result.release();
}

LM_EXPORT PyObject *image_frombytes(PyObject *, PyObject *args)
{
    PyObject *bytes;
    int w, h, flipped = 0;
    const char *format;
    if (!PyArg_ParseTuple(args, "O!(ii)s|i", &PyBytes_Type, &bytes, &w, &h,
                          &format, &flipped))
        return nullptr;
    if (!positive_size(w, h))
        return nullptr;
    static const char *const allowed[] = {"P", "RGB", "RGBA", "RGBX", "BGRA",
                                          "ARGB", nullptr};
    Layout layout;
    Py_ssize_t need;
    if (!pixel_layout(format, allowed, w, h, PyBytes_GET_SIZE(bytes),
                      "Bytes length does not equal format and resolution size",
                      &layout, &need))
        return nullptr;
    int depth;
    Uint32 rm, gm, bm, am;
    lmimg::surface_masks(layout, false, &depth, &rm, &gm, &bm, &am);
    SDL_Surface *s = new_surface_unfilled(w, h, depth, rm, gm, bm, am);
    if (!s)
        return lm_RaiseSDLError();
    if (SDL_LockSurface(s) < 0) {
        SDL_FreeSurface(s);
        return lm_RaiseSDLError();
    }
    lmimg::from_bytes(reinterpret_cast<const uint8_t *>(PyBytes_AS_STRING(bytes)),
                      layout, flipped != 0, static_cast<uint8_t *>(s->pixels),
                      w, h, s->pitch);
    SDL_UnlockSurface(s);
    return own_surface(s);
}

LM_EXPORT PyObject *image_frombuffer(PyObject *, PyObject *args)
{
    PyObject *obj;
    int w, h, unused = 0;
    const char *format;
    if (!PyArg_ParseTuple(args, "O(ii)s|i", &obj, &w, &h, &format, &unused))
        return nullptr;
    if (!positive_size(w, h))
        return nullptr;
    const char *data;
    Py_ssize_t len;
    if (lmObject_AsCharBuffer(obj, &data, &len) < 0)
        return nullptr;
    static const char *const allowed[] = {"P", "RGB", "BGR", "BGRA", "RGBA",
                                          "RGBX", "ARGB", nullptr};
    Layout layout;
    Py_ssize_t need;
    if (!pixel_layout(format, allowed, w, h, len,
                      "Buffer length does not equal format and resolution size",
                      &layout, &need))
        return nullptr;
    // Hold an export of the buffer for the surface's whole life: the
    // object can then neither free nor move the memory (a bytearray refuses
    // to resize while exported).
    lm::Ref export_(PyMemoryView_FromObject(obj));
    if (!export_)
        return nullptr;
    Py_buffer *view = PyMemoryView_GET_BUFFER(export_.get());
    if (!PyBuffer_IsContiguous(view, 'C') || view->len != need) {
        PyErr_SetString(PyExc_ValueError,
                        "Buffer length does not equal format and resolution size");
        return nullptr;
    }
    int depth;
    Uint32 rm, gm, bm, am;
    lmimg::surface_masks(layout, true, &depth, &rm, &gm, &bm, &am);
    int row = w * lmimg::layout_bytes(layout);
    if (view->readonly) {
        // Memory nobody may write (bytes, read-only views and arrays):
        // drawing must not reach it, so the surface gets its own copy.
        SDL_Surface *s = new_surface_unfilled(w, h, depth, rm, gm, bm, am);
        if (!s)
            return lm_RaiseSDLError();
        for (int y = 0; y < h; y++)
            memcpy(static_cast<uint8_t *>(s->pixels) + (size_t)y * s->pitch,
                   static_cast<const uint8_t *>(view->buf) + (size_t)y * row,
                   (size_t)row);
        return own_surface(s);
    }
    SDL_Surface *s = SDL_CreateRGBSurfaceFrom(view->buf, w, h, depth, row, rm, gm,
                                              bm, am);
    if (!s)
        return lm_RaiseSDLError();
    PyObject *o = own_surface(s);
    if (!o)
        return nullptr;
    lmSurfaceObject *so = reinterpret_cast<lmSurfaceObject *>(o);
    Py_XSETREF(so->dependency, export_.release());
    return o;
}

// ---------------------------------------------------------------------------
// Loading and saving.
// ---------------------------------------------------------------------------
namespace {

PyObject *load_basic(PyObject *, PyObject *file)
{
    lm::Ref hold;
    SDL_RWops *rw = lmimg::load_source(file, hold, nullptr);
    if (!rw)
        return nullptr;
    SDL_Surface *s = lmimg::decode_source(
        rw, nullptr, max_pixels, [](SDL_RWops *src) { return SDL_LoadBMP_RW(src, 0); });
    if (!s)
        return nullptr;
    return own_surface(s);
}

PyObject *set_max_pixels(PyObject *, PyObject *arg)
{
    uint64_t n;
    if (!lmimg::parse_max_pixels(arg, &n))
        return nullptr;
    if (ext_set_max_pixels) {
        lm::Ref r(PyObject_CallOneArg(ext_set_max_pixels, arg));
        if (!r)
            return nullptr;
    }
    max_pixels = n;
    Py_RETURN_NONE;
}

PyObject *get_max_pixels(PyObject *, PyObject *)
{
    return PyLong_FromUnsignedLongLong(max_pixels);
}

PyObject *load(PyObject *self, PyObject *args)
{
    if (ext_load)
        return PyObject_Call(ext_load, args, nullptr);
    PyObject *file;
    const char *hint = nullptr;
    if (!PyArg_ParseTuple(args, "O|s", &file, &hint))
        return nullptr;
    return load_basic(self, file);
}

PyObject *load_extended(PyObject *, PyObject *args)
{
    if (!ext_load) {
        PyErr_SetString(PyExc_NotImplementedError,
                        "loading images of extended format is not available");
        return nullptr;
    }
    return PyObject_Call(ext_load, args, nullptr);
}

PyObject *call_save_extended(PyObject *args)
{
    if (!ext_save) {
        PyErr_SetString(PyExc_NotImplementedError,
                        "saving images of extended format is not available");
        return nullptr;
    }
    PyObject *r = PyObject_Call(ext_save, args, nullptr);
    if (!r)
        return nullptr;
    Py_DECREF(r);
    Py_RETURN_NONE;
}

PyObject *save_extended(PyObject *, PyObject *args)
{
    return call_save_extended(args);
}

PyObject *save(PyObject *, PyObject *args)
{
    lmimg::SaveArgs a;
    if (!a.parse(args))
        return nullptr;
    const char *ext = a.path ? extension_of(a.path)
                             : a.hint ? extension_of(a.hint) : "tga";
    if (!strcasecmp(ext, "png") || !strcasecmp(ext, "jpg") ||
        !strcasecmp(ext, "jpeg"))
        return call_save_extended(args);
    if (!a.take_surface())
        return nullptr;
    return save_basic(a.surf, a.file, a.path,
                      !strcasecmp(ext, "bmp") ? Writer::BMP : Writer::TGA);
}

PyObject *get_extended(PyObject *, PyObject *)
{
    return PyBool_FromLong(ext_load != nullptr);
}

PyObject *get_sdl_image_version(PyObject *, PyObject *args, PyObject *kwds)
{
    if (!ext_version)
        Py_RETURN_NONE;
    return PyObject_Call(ext_version, args, kwds);
}

PyMethodDef image_methods[] = {
    {"load_basic", load_basic, METH_O,
     "load_basic(file) -> Surface\n"
     "load new BMP image from a file (or file-like object)"},
    {"load_extended", load_extended, METH_VARARGS,
     "load_extended(filename) -> Surface\n"
     "load_extended(fileobj, namehint=) -> Surface\n"
     "load an image from a file (or file-like object)"},
    {"load", load, METH_VARARGS,
     "load(filename) -> Surface\n"
     "load(fileobj, namehint=) -> Surface\n"
     "load new image from a file (or file-like object)"},
    {"save_extended", save_extended, METH_VARARGS,
     "save_extended(Surface, filename) -> None\n"
     "save_extended(Surface, fileobj, namehint=) -> None\n"
     "save a png/jpg image to file (or file-like object)"},
    {"save", save, METH_VARARGS,
     "save(Surface, filename) -> None\n"
     "save(Surface, fileobj, namehint=) -> None\n"
     "save an image to file (or file-like object)"},
    {"set_max_pixels", set_max_pixels, METH_O,
     "set_max_pixels(n) -> None\n"
     "set the largest image, in pixels, that load() decodes"},
    {"get_max_pixels", get_max_pixels, METH_NOARGS,
     "get_max_pixels() -> int\n"
     "get the largest image, in pixels, that load() decodes"},
    {"get_extended", get_extended, METH_NOARGS,
     "get_extended() -> bool\n"
     "test if extended image formats can be loaded"},
    {"get_sdl_image_version", (PyCFunction)(void (*)(void))get_sdl_image_version,
     METH_VARARGS | METH_KEYWORDS,
     "get_sdl_image_version(linked=True) -> None\n"
     "get_sdl_image_version(linked=True) -> (major, minor, patch)\n"
     "get version number of the SDL_Image library being used"},
    {"tostring", image_tobytes, METH_VARARGS,
     "tostring(Surface, format, flipped=False) -> bytes\n"
     "transfer image to byte buffer"},
    {"tobytes", image_tobytes, METH_VARARGS,
     "tobytes(Surface, format, flipped=False) -> bytes\n"
     "transfer image to byte buffer"},
    {"fromstring", image_frombytes, METH_VARARGS,
     "fromstring(bytes, size, format, flipped=False) -> Surface\n"
     "create new Surface from a byte buffer"},
    {"frombytes", image_frombytes, METH_VARARGS,
     "frombytes(bytes, size, format, flipped=False) -> Surface\n"
     "create new Surface from a byte buffer"},
    {"frombuffer", image_frombuffer, METH_VARARGS,
     "frombuffer(buffer, size, format) -> Surface\n"
     "create a new Surface that shares data inside a bytes buffer"},
    {nullptr, nullptr, 0, nullptr}};

const char image_doc[] =
    "lumora module for image transfer\n"
    "\n"
    "Untrusted images: before decoding, load() reads the header of every\n"
    "format it supports and refuses, with lumora.error, an image claiming\n"
    "more than get_max_pixels() pixels (default 2**28, 268435456: a 16384 x\n"
    "16384 image).  Raise it for larger trusted files with\n"
    "set_max_pixels(n); n is at most 536870911, so that a decoded surface\n"
    "never exceeds 2 GiB.  An SVG file must give its size (width and height,\n"
    "or a viewBox) to be loaded, and GIF and XPM files whose data the\n"
    "decoders would misread (corrupt compressed codes, undefined colours)\n"
    "are refused as well.";

PyModuleDef image_module = {PyModuleDef_HEAD_INIT, "image", image_doc, -1,
                            image_methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_image(void)
{
    LM_IMPORT(base);
    LM_IMPORT_SURFACE();
    LM_IMPORT(streamwrap);
    PyObject *module = PyModule_Create2(&image_module, LM_API_VERSION);
    if (!module)
        return nullptr;
    PyObject *rich = PyImport_ImportModule("lumora.richload");
    if (!rich) {
        // Works without extended formats.
        PyErr_Clear();
        return module;
    }
    PyObject *l = PyObject_GetAttrString(rich, "load_extended");
    PyObject *s = l ? PyObject_GetAttrString(rich, "save_extended") : nullptr;
    PyObject *v = s ? PyObject_GetAttrString(rich, "_get_sdl_image_version") : nullptr;
    if (!v) {
        Py_XDECREF(l);
        Py_XDECREF(s);
        Py_DECREF(rich);
        Py_DECREF(module);
        return nullptr;
    }
    Py_XSETREF(ext_load, l);
    Py_XSETREF(ext_save, s);
    Py_XSETREF(ext_version, v);
    Py_XSETREF(ext_set_max_pixels, PyObject_GetAttrString(rich, "_set_max_pixels"));
    if (!ext_set_max_pixels)
        PyErr_Clear();
    Py_DECREF(rich);
    return module;
}
