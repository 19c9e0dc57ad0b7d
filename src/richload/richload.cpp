// lumora.richload: every format SDL_image reads, and PNG and JPEG writing.
//
// lumora.image calls the three functions here for everything that is not
// BMP or TGA.  PNG is written by our libpng writer (pngwrite.cpp), JPEG by
// SDL_image.  The interpreter lock is released around decoding and around
// writing to a path; a file object is written with it held.
#include "frame.h"
#include "pngwrite.h"
#include "../image/bmpcheck.h"
#include "../image/memsrc.h"
#include "../image/pixconv.h"
#include "../image/rwguard.h"

#include <SDL_image.h>

#include <cstdlib>
#include <strings.h>

namespace {

const int kJpegQuality = 85;

const char *extension_of(const char *name)
{
    const char *dot = strrchr(name, '.');
    return dot ? dot + 1 : name;
}

class Prepared {
  public:
    explicit Prepared(PyObject *s) : s_(s) { lmSurface_Prep(s_); }
    Prepared(const Prepared &) = delete;
    Prepared &operator=(const Prepared &) = delete;
    ~Prepared() { lmSurface_Unprep(s_); }

  private:
    PyObject *s_;
};

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

// Writes into `dst` (left open).  0, or -1 with SDL's error set.  Every
// write goes through a guard, since SDL_image's JPEG writer does not look
// at what its writes return.
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

int write_stream(SDL_Surface *surf, SDL_RWops *dst, Kind kind)
{
    lmimg::WriteGuard guard(dst);
    if (!guard.stream())
        return -1;
    int res = kind == Kind::JPEG
                  ? save_jpeg(surf, guard.stream())
                  : lmpng_write(surf, guard.stream(), 0);
    if (res < 0) {
        guard.failed();  // the first failed write says more than the writer
        return -1;
    }
    if (!guard.finish() || guard.failed())
        return -1;
    return 0;
}

int write_path(SDL_Surface *surf, const char *path, Kind kind)
{
    SDL_RWops *dst = SDL_RWFromFile(path, "wb");
    if (!dst)
        return -1;
    int res = write_stream(surf, dst, kind);
    if (res < 0) {
        char keep[512];
        snprintf(keep, sizeof keep, "%s", SDL_GetError());
        SDL_RWclose(dst);
        SDL_SetError("%s", keep);
        return -1;
    }
    return SDL_RWclose(dst) < 0 ? -1 : 0;
}

PyObject *load_extended(PyObject *, PyObject *args)
{
    PyObject *file;
    const char *namehint = nullptr;
    if (!PyArg_ParseTuple(args, "O|s", &file, &namehint))
        return nullptr;
    char *ext = nullptr;
    SDL_RWops *rw = nullptr;
    PyObject *held = nullptr;
    int mem = lmimg::unseekable_source(file, &rw, &held);
    if (mem < 0)
        return nullptr;
    lm::Ref hold(held);
    if (!mem) {
        rw = lmStream_FromObject(file, &ext);
        if (!rw)
            return nullptr;
    }
    CFree ext_free{ext};
    const char *type = namehint ? extension_of(namehint) : ext;
    SDL_Surface *s;
    {
        lm::GilRelease nogil;
        if (lmimg::bmp_size_ok(rw)) {
            s = IMG_LoadTyped_RW(rw, 1, type);
        } else {
            char keep[256];
            snprintf(keep, sizeof keep, "%s", SDL_GetError());
            SDL_RWclose(rw);
            SDL_SetError("%s", keep);
            s = nullptr;
        }
    }
    if (!s)
        return lm_RaiseSDLError();
    PyObject *o = lmSurface_New2(s, 1);
    if (!o)
        SDL_FreeSurface(s);
    return o;
}

PyObject *save_extended(PyObject *, PyObject *args)
{
    PyObject *surfobj, *file;
    const char *namehint = nullptr;
    if (!PyArg_ParseTuple(args, "O!O|s", &lmSurface_Type, &surfobj, &file,
                          &namehint))
        return nullptr;
    LM_SURF_OR_RAISE(surfobj, surf);
    Prepared prep(surfobj);
    lm::Ref enc(lm_EncodeString(file, "UTF-8", nullptr, lmExc_SDLError));
    if (!enc)
        return nullptr;
    int res;
    if (enc.get() != Py_None) {
        const char *path = PyBytes_AS_STRING(enc.get());
        if ((Py_ssize_t)strlen(path) != PyBytes_GET_SIZE(enc.get())) {
            lm::Ref shown(lm_EncodeString(file, nullptr, nullptr, nullptr));
            if (shown && PyBytes_Check(shown.get()))
                PyErr_Format(PyExc_ValueError,
                             "File path '%.1024s' contains null characters",
                             PyBytes_AS_STRING(shown.get()));
            else if (shown)
                PyErr_SetString(PyExc_ValueError,
                                "File path contains null characters");
            return nullptr;
        }
        Kind kind = kind_of(extension_of(path));
        if (kind == Kind::None) {
            PyErr_SetString(lmExc_SDLError, "Unrecognized image type");
            return nullptr;
        }
        lm::GilRelease nogil;
        res = write_path(surf, path, kind);
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
        Kind kind = namehint ? kind_of(extension_of(namehint)) : Kind::None;
        if (kind == Kind::None) {
            lmStream_Release(rw);
            PyErr_Clear();
            PyErr_SetString(lmExc_SDLError, "Unrecognized image type");
            return nullptr;
        }
        res = write_stream(surf, rw, kind);
        char keep[512];
        snprintf(keep, sizeof keep, "%s", SDL_GetError());
        // Our stream goes; the caller's object stays open.
        if (lmStream_Release(rw) < 0 && res == 0)
            return nullptr;
        PyErr_Clear();
        SDL_SetError("%s", keep);
    }
    if (res < 0)
        return lm_RaiseSDLError();
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
