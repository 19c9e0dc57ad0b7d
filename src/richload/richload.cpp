// lumora.richload: every format SDL_image reads, and PNG and JPEG writing.
//
// lumora.image calls the three functions here for everything that is not
// BMP or TGA.  PNG is written by our libpng writer (pngwrite.cpp), JPEG by
// SDL_image.  The interpreter lock is released around decoding and around
// writing to a path; a file object is written with it held.
#include "frame.h"
#include "pngwrite.h"
#include "../image/imgio.h"
#include "../image/pixconv.h"

#include <SDL_image.h>

#include <cstdlib>
#include <strings.h>

namespace {

const int kJpegQuality = 85;

using lmimg::extension_of;

// Set by lumora.image.set_max_pixels.
uint64_t max_pixels = lmimg::kDefaultMaxPixels;

struct CFree {
    char *p;
    ~CFree() { free(p); }
};

enum class Kind { None, JPEG, PNG };

Kind kind_of(const char *ext)
{
    if (!strcasecmp(ext, "jpg") || !strcasecmp(ext, "jpeg"))
        return Kind::JPEG;
    if (!strcasecmp(ext, "png"))
        return Kind::PNG;
    return Kind::None;
}

// SDL_image's JPEG writer wants R, G, B bytes and converts anything else
// with a generic per-pixel blit; whole-byte formats are reordered here with
// the byte-conversion kernels instead (same pixels, a fraction of the time).
int save_jpeg(SDL_Surface *surf, SDL_RWops *dst)
{

    if (surf->format->format == SDL_PIXELFORMAT_RGB24 || SDL_MUSTLOCK(surf))
        return IMG_SaveJPG_RW(surf, dst, 0, kJpegQuality);
    lmimg::SurfaceView v = lmimg::view_of(surf);
    if (!lmimg::whole_byte_channels(v) || surf->w < 1 || surf->h < 1 ||
        (uint64_t)surf->w * 3 * (uint64_t)surf->h > (uint64_t)INT_MAX)
        return IMG_SaveJPG_RW(surf, dst, 0, kJpegQuality);
    size_t size = (size_t)surf->w * 3 * (size_t)surf->h;
    uint8_t *rgb = static_cast<uint8_t *>(SDL_malloc(size));
    if (!rgb)
        return SDL_OutOfMemory();
    lmimg::to_bytes(v, lmimg::Layout::RGB, false, rgb);
    SDL_Surface *tmp = SDL_CreateRGBSurfaceWithFormatFrom(
        rgb, surf->w, surf->h, 24, surf->w * 3, SDL_PIXELFORMAT_RGB24);
    int res = tmp ? IMG_SaveJPG_RW(tmp, dst, 0, kJpegQuality) : -1;
    SDL_FreeSurface(tmp);
    SDL_free(rgb);
    return res;
}

// The writer for `kind` (JPEG or PNG), for lmimg::write_stream and
// write_path.  Those write through a guard, since SDL_image's JPEG writer
// does not look at what its writes return.
auto writer_for(Kind kind)
{
    return [kind](SDL_Surface *s, SDL_RWops *dst) {
        // Neither format can hold an image without pixels.
        if (s->w < 1 || s->h < 1)
            return SDL_SetError("cannot save an empty surface (%d x %d) as %s",
                                s->w, s->h, kind == Kind::JPEG ? "JPEG" : "PNG");
        return kind == Kind::JPEG ? save_jpeg(s, dst) : lmpng_write(s, dst, 0);
    };
}

PyObject *load_extended(PyObject *, PyObject *args)
{
    PyObject *file;
    const char *namehint = nullptr;
    if (!PyArg_ParseTuple(args, "O|s", &file, &namehint))
        return nullptr;
    char *ext = nullptr;
    lm::Ref hold;
    SDL_RWops *rw = lmimg::load_source(file, hold, &ext);
    if (!rw)
        return nullptr;
    CFree ext_free{ext};
    const char *type = namehint ? extension_of(namehint) : ext;
    SDL_Surface *s = lmimg::decode_source(rw, type, max_pixels, [type](SDL_RWops *src) {
        return IMG_LoadTyped_RW(src, 0, type);
    });
    if (!s)
        return nullptr;
    return lmimg::own_surface(s);
}

PyObject *save_extended(PyObject *, PyObject *args)
{
    lmimg::SaveArgs a;
    if (!a.parse(args) || !a.take_surface())
        return nullptr;
    SDL_Surface *surf = a.surf;
    PyObject *file = a.file;
    int res;
    if (a.path) {
        Kind kind = kind_of(extension_of(a.path));
        if (kind == Kind::None) {
            PyErr_SetString(lmExc_SDLError, "Unrecognized image type");
            return nullptr;
        }
        lm::GilRelease nogil;
        res = lmimg::write_path(surf, a.path, writer_for(kind));
    } else {
        SDL_RWops *rw = lmStream_FromFileObject(file);
        if (!rw) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError,
                             "Expected a string or file object for the file "
                             "argument: got %.1024s",
                             Py_TYPE(file)->tp_name);
            }
            return nullptr;
        }
        Kind kind = a.hint ? kind_of(extension_of(a.hint)) : Kind::None;
        if (kind == Kind::None) {
            lmStream_Release(rw);
            PyErr_Clear();
            PyErr_SetString(lmExc_SDLError, "Unrecognized image type");
            return nullptr;
        }
        res = lmimg::write_stream(surf, rw, writer_for(kind));
        if (!lmimg::release_after_write(rw, res))
            return nullptr;
    }
    if (res < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

PyObject *set_max_pixels(PyObject *, PyObject *arg)
{
    uint64_t n;
    if (!lmimg::parse_max_pixels(arg, &n))
        return nullptr;
    max_pixels = n;
    Py_RETURN_NONE;
}

PyObject *get_sdl_image_version(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"linked", nullptr};
    int linked = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|p", (char **)kwlist, &linked))
        return nullptr;
    if (linked) {
        const SDL_version *v = IMG_Linked_Version();
        return Py_BuildValue("(iii)", v->major, v->minor, v->patch);
    }
    SDL_version v;
    SDL_IMAGE_VERSION(&v);
    return Py_BuildValue("(iii)", v.major, v.minor, v.patch);
}

PyMethodDef richload_methods[] = {
    {"load_extended", load_extended, METH_VARARGS,
     "lumora module for image transfer"},
    {"save_extended", save_extended, METH_VARARGS,
     "lumora module for image transfer"},
    {"_set_max_pixels", set_max_pixels, METH_O,
     "_set_max_pixels(n) -> None\n"
     "Note: Should not be used directly; see lumora.image.set_max_pixels."},
    {"_get_sdl_image_version", (PyCFunction)(void (*)(void))get_sdl_image_version,
     METH_VARARGS | METH_KEYWORDS,
     "_get_sdl_image_version() -> (major, minor, patch)\n"
     "Note: Should not be used directly."},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef richload_module = {PyModuleDef_HEAD_INIT, "richload",
                               "additional image loaders", -1,
                               richload_methods, nullptr, nullptr, nullptr,
                               nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_richload(void)
{
    LM_IMPORT(base);
    LM_IMPORT_SURFACE();
    LM_IMPORT(streamwrap);
    return PyModule_Create2(&richload_module, LM_API_VERSION);
}
