// Surface.get_view and Surface.get_buffer: the pixels exported through a
// ViewShim, so numpy and memoryview read and write them in place.
//
// The shim asks for the memory only when a consumer wants it; each export
// locks the surface on behalf of the shim and the release unlocks it, so the
// pixels cannot move (a subsurface's parent replaced, RLE decoding) while a
// consumer holds them.  lumora.viewshim is imported on first use: the
// surface module is loaded before it and never links to it.
#define LUMORA_MODULE_SURFACE
#include "frame.h"

#include "surface_view.h"

namespace {

void **viewshim_slots = nullptr;

// Shape of one view kind over a surface (pixel address added after locking).
struct ViewGeom {
    int ndim;
    Py_ssize_t offset;  // of the first element from the pixel address
    Py_ssize_t itemsize;
    Py_ssize_t len;
    Py_ssize_t shape[3];
    Py_ssize_t strides[3];
    const char *format;
};

// Byte offset, inside a pixel, of a channel stored as one whole byte; -1
// when the mask is not a whole byte.
int channel_byte(Uint32 mask, int shift, int bpp)
{
    if (!mask || shift % 8 || mask != (0xFFu << shift))
        return -1;
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    (void)bpp;
    return shift / 8;
#else
    return bpp - 1 - shift / 8;
#endif
}

const char *channel_name(char kind)
{
    switch (kind) {
    case 'r': return "red";
    case 'g': return "green";
    case 'b': return "blue";
    default: return "alpha";
    }
}

// The geometry of `kind` for surface `s`; false with ValueError.
bool kind_geom(const SDL_Surface *s, char kind, ViewGeom *g)
{
    const SDL_PixelFormat *f = s->format;
    const int bpp = f->BytesPerPixel;
    const Py_ssize_t w = s->w, h = s->h, pitch = s->pitch;
    g->offset = 0;
    g->strides[0] = bpp;
    g->strides[1] = pitch;
    g->shape[0] = w;
    g->shape[1] = h;
    switch (kind) {
    case '0':
    case '1':
        // Rows as they lie in memory, without the padding after the last
        // one, which a subsurface's parent may not have.
        g->ndim = 1;
        g->itemsize = 1;
        g->format = "B";
        g->len = (w && h) ? (h - 1) * pitch + w * bpp : 0;
        g->shape[0] = g->len;
        g->strides[0] = 1;
        return true;
    case '2':
        if (bpp == 3) {
            PyErr_SetString(PyExc_ValueError,
                            "unsupported bit depth for 2D reference array");
            return false;
        }
        g->ndim = 2;
        g->itemsize = bpp;
        g->format = bpp == 1 ? "B" : bpp == 2 ? "=H" : "=I";
        g->len = w * h * bpp;
        return true;
    case '3': {
        if (bpp < 3) {
            PyErr_SetString(PyExc_ValueError,
                            "unsupported bit depth for 3D reference array");
            return false;
        }
        int r = channel_byte(f->Rmask, f->Rshift, bpp);
        int gb = channel_byte(f->Gmask, f->Gshift, bpp);
        int b = channel_byte(f->Bmask, f->Bshift, bpp);
        if (r < 0 || gb < 0 || b < 0 || gb - r != b - gb ||
            (gb - r != 1 && gb - r != -1)) {
            PyErr_SetString(PyExc_ValueError,
                            "unsupported colormasks for 3D reference array");
            return false;
        }
        g->ndim = 3;
        g->offset = r;
        g->itemsize = 1;
        g->format = "B";
        g->shape[2] = 3;
        g->strides[2] = gb - r;
        g->len = w * h * 3;
        return true;
    }
    default: {
        const char *name = channel_name(kind);
        if (bpp < 3) {
            PyErr_Format(PyExc_ValueError,
                         "unsupported bit depth for %s reference array", name);
            return false;
        }
        Uint32 mask = kind == 'r' ? f->Rmask : kind == 'g' ? f->Gmask
                    : kind == 'b' ? f->Bmask : f->Amask;
        int shift = kind == 'r' ? f->Rshift : kind == 'g' ? f->Gshift
                  : kind == 'b' ? f->Bshift : f->Ashift;
        int off = channel_byte(mask, shift, bpp);
        if (off < 0) {
            PyErr_Format(PyExc_ValueError,
                         "unsupported colormasks for %s reference array", name);
            return false;
        }
        g->ndim = 2;
        g->offset = off;
        g->itemsize = 1;
        g->format = "B";
        g->len = w * h;
        return true;
    }
    }
}

bool is_contig(const ViewGeom &g, bool fortran)
{
    Py_ssize_t step = g.itemsize;
    for (int k = 0; k < g.ndim; ++k) {
        int i = fortran ? k : g.ndim - 1 - k;
        if (g.shape[i] == 0)
            return true;
        if (g.shape[i] != 1 && g.strides[i] != step)
            return false;
        step *= g.shape[i];
    }
    return true;
}

// Refuse what the consumer cannot follow: a layout it asked to be
// contiguous, or strided memory when it takes no strides.
bool flags_allow(const ViewGeom &g, int flags)
{
    const bool c = is_contig(g, false), f = is_contig(g, true);
    const char *msg = nullptr;
    if ((flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS && !c)
        msg = "this surface view is not C contiguous";
    else if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && !f)
        msg = "this surface view is not F contiguous";
    else if ((flags & PyBUF_ANY_CONTIGUOUS) == PyBUF_ANY_CONTIGUOUS && !c && !f)
        msg = "this surface view is not contiguous";
    else if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES && !c &&
             ((flags & PyBUF_ND) == PyBUF_ND || !f))
        msg = "this surface view is not C contiguous: need strides";
    if (!msg)
        return true;
    PyErr_SetString(lmExc_BufferError, msg);
    return false;
}

// What a surface view owns until its release.
struct Hold {
    PyObject *surface;   // strong
    PyObject *locker;    // the consumer, alive while it holds the view
    Py_ssize_t shape[3];
    Py_ssize_t strides[3];
};

void release_view(Py_buffer *view)
{
    Hold *h = static_cast<Hold *>(view->internal);
    view->internal = nullptr;
    {
        lm::ErrorStash keep;
        lmSurface_UnlockBy(h->surface, h->locker);
        PyErr_Clear();
    }
    Py_DECREF(h->surface);
    PyMem_Free(h);
    Py_CLEAR(view->obj);
}

int export_kind(PyObject *surfobj, lm_buffer *b, int flags, char kind)
{
    b->view.obj = nullptr;
    SDL_Surface *s = lmSurface_AsSurface(surfobj);
    if (!s) {
        PyErr_SetString(lmExc_SDLError, "display Surface quit");
        return -1;
    }
    ViewGeom g;
    if (!kind_geom(s, kind, &g) || !flags_allow(g, flags))
        return -1;
    Hold *h = static_cast<Hold *>(PyMem_Malloc(sizeof(Hold)));
    if (!h) {
        PyErr_NoMemory();
        return -1;
    }
    PyObject *locker = b->consumer ? b->consumer : surfobj;
    if (!lmSurface_LockBy(surfobj, locker)) {
        PyMem_Free(h);
        return -1;
    }
    // The lock refreshed a subsurface's pixel pointer.
    s = lmSurface_AsSurface(surfobj);
    h->surface = Py_NewRef(surfobj);
    h->locker = locker;
    for (int i = 0; i < 3; ++i) {
        h->shape[i] = g.shape[i];
        h->strides[i] = g.strides[i];
    }
    Py_buffer *v = &b->view;
    v->buf = s->pixels ? static_cast<Uint8 *>(s->pixels) + g.offset : nullptr;
    v->obj = Py_NewRef(surfobj);
    v->len = g.len;
    v->itemsize = g.itemsize;
    v->readonly = 0;
    v->ndim = g.ndim;
    v->format = (flags & PyBUF_FORMAT) ? const_cast<char *>(g.format) : nullptr;
    v->shape = (flags & PyBUF_ND) == PyBUF_ND ? h->shape : nullptr;
    v->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? h->strides : nullptr;
    v->suboffsets = nullptr;
    v->internal = h;
    b->release_buffer = release_view;
    return 0;
}

template <char K>
int export_cb(PyObject *surfobj, lm_buffer *b, int flags)
{
    return export_kind(surfobj, b, flags, K);
}

lm_getbufferfunc callback_for(char kind)
{
    switch (kind) {
    case '0': return export_cb<'0'>;
    case '1': return export_cb<'1'>;
    case '2': return export_cb<'2'>;
    case '3': return export_cb<'3'>;
    case 'r': return export_cb<'r'>;
    case 'g': return export_cb<'g'>;
    case 'b': return export_cb<'b'>;
    case 'a': return export_cb<'a'>;
    default: return nullptr;
    }
}

PyObject *new_shim(PyObject *self, char kind)
{
    SDL_Surface *s = lmSurface_AsSurface(self);
    if (!s) {
        PyErr_SetString(lmExc_SDLError, "display Surface quit");
        return nullptr;
    }
    ViewGeom g;
    if (!kind_geom(s, kind, &g))
        return nullptr;
    if (!viewshim_slots && !lm_import_slots("viewshim", &viewshim_slots))
        return nullptr;
    auto make = reinterpret_cast<PyObject *(*)(PyObject *, lm_getbufferfunc)>(
        viewshim_slots[LM_VIEWSHIM_NEW]);
    return make(self, callback_for(kind));
}

}  // namespace

PyObject *lmsurf_get_view(PyObject *self, PyObject *args)
{
    PyObject *kindobj = nullptr;
    if (!PyArg_ParseTuple(args, "|O:get_view", &kindobj))
        return nullptr;
    char kind = '2';
    if (kindobj) {
        const char *text = nullptr;
        Py_ssize_t n = 0;
        if (PyUnicode_Check(kindobj)) {
            text = PyUnicode_AsUTF8AndSize(kindobj, &n);
            if (!text)
                return nullptr;
        }
        else if (PyBytes_Check(kindobj)) {
            text = PyBytes_AS_STRING(kindobj);
            n = PyBytes_GET_SIZE(kindobj);
        }
        else {
            PyErr_Format(PyExc_TypeError, "expected a length 1 string for argument 1: got '%s'",
                         Py_TYPE(kindobj)->tp_name);
            return nullptr;
        }
        if (n != 1) {
            PyErr_SetString(PyExc_TypeError, "expected a length 1 string for argument 1");
            return nullptr;
        }
        kind = text[0];
        if (kind >= 'A' && kind <= 'Z')
            kind = (char)(kind - 'A' + 'a');
        if (!callback_for(kind)) {
            PyErr_Format(PyExc_ValueError, "unrecognized view kind '%c' for argument 1",
                         text[0]);
            return nullptr;
        }
    }
    return new_shim(self, kind);
}

PyObject *lmsurf_get_buffer(PyObject *self, PyObject *)
{
    return new_shim(self, '0');
}
