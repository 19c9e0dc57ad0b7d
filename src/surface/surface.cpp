// lumora.surface: the Surface type, a Python object around an SDL surface.
//
// This file parses arguments, takes locks and maps errors; the pixel work
// is in pixels.cpp.  Every pixel access locks the surface through pinguard
// first, which for a subsurface also locks the parent and refreshes the
// pixel pointer into the parent's buffer.
#define LUMORA_MODULE_SURFACE
#include "frame.h"

#include <algorithm>

#include "pixels.h"
#include "surface_view.h"

using lmpx::Area;
using lmpx::Fmt;

#define LM_SRCALPHA 0x00010000
#define LM_SRCCOLORKEY 0x00001000
// Accepted for compatibility: the ordinary alpha blend.
#define LM_BLEND_ALPHA_SDL2 0x12

static PyTypeObject lmSurface_Type_ = lm_blank_type();
#define lmSurface_Type lmSurface_Type_

namespace {

inline lmSurfaceObject *S(PyObject *o)
{
    return reinterpret_cast<lmSurfaceObject *>(o);
}

PyObject *raise_quit()
{
    PyErr_SetString(lmExc_SDLError, "display Surface quit");
    return nullptr;
}

bool is_surface(PyObject *o)
{
    return PyObject_TypeCheck(o, &lmSurface_Type);
}

// Holds a surface locked (on its own behalf) for a scope.
class PixLock {
  public:
    explicit PixLock(PyObject *o) : o_(o), ok_(lmSurface_Lock(o) != 0) {}
    PixLock(const PixLock &) = delete;
    PixLock &operator=(const PixLock &) = delete;
    ~PixLock()
    {
        if (ok_)
            lmSurface_Unlock(o_);
    }
    bool ok() const { return ok_; }

  private:
    PyObject *o_;
    bool ok_;
};

Area area_of(SDL_Surface *s, int x, int y, int w, int h)
{
    Area a;
    a.px = static_cast<Uint8 *>(s->pixels) + (size_t)y * (size_t)s->pitch +
           (size_t)x * s->format->BytesPerPixel;
    a.pitch = s->pitch;
    a.w = w;
    a.h = h;
    return a;
}

// Clamp a 64-bit coordinate into int for a Rect result.
int clamp_int(long long v)
{
    return (int)std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v));
}

// Intersection of (x, y, w, h) with `clip`, in 64-bit so that no sum can
// overflow.  False when empty.
bool clip_to(long long x, long long y, long long w, long long h,
             const SDL_Rect &clip, SDL_Rect *out)
{
    long long x0 = std::max<long long>(x, clip.x);
    long long y0 = std::max<long long>(y, clip.y);
    long long x1 = std::min<long long>(x + w, (long long)clip.x + clip.w);
    long long y1 = std::min<long long>(y + h, (long long)clip.y + clip.h);
    if (x1 <= x0 || y1 <= y0)
        return false;
    out->x = (int)x0;
    out->y = (int)y0;
    out->w = (int)(x1 - x0);
    out->h = (int)(y1 - y0);
    return true;
}

const char *const SIZE_MSG = "size needs to be (number width, number height)";

// Parse a (w, h) pair.  Values that are numbers but do not fit an int are
// an invalid resolution rather than a type error.
bool parse_size(PyObject *o, int *w, int *h)
{
    if (lm_TwoIntsFromObj(o, w, h))
        return true;
    if (PySequence_Check(o) && !PyUnicode_Check(o) && PySequence_Size(o) == 2) {
        bool numbers = true;
        for (Py_ssize_t i = 0; i < 2; ++i) {
            PyObject *it = PySequence_GetItem(o, i);
            if (!it) {
                PyErr_Clear();
                numbers = false;
                break;
            }
            numbers = numbers && PyNumber_Check(it);
            Py_DECREF(it);
        }
        if (numbers) {
            PyErr_SetString(PyExc_ValueError, "Invalid resolution for Surface");
            return false;
        }
    }
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, SIZE_MSG);
    return false;
}

// Largest pixel buffer we make: every byte offset into it fits an int,
// which is what SDL's pitch and the subsurface record's offset hold.
bool check_buffer_size(int w, int h, int bytespp)
{
    long long pitch = (((long long)w * bytespp) + 3) & ~3LL;
    if (pitch > INT_MAX || pitch * (long long)h > INT_MAX) {
        PyErr_SetString(PyExc_MemoryError, "Surface is too large");
        return false;
    }
    return true;
}

// SDL reports an exhausted allocator as an error text; Python code expects
// MemoryError for it, as for any other allocation.
void raise_creation_error()
{
    const char *e = SDL_GetError();
    if (strncmp(e, "Out of memory", 13) == 0)
        PyErr_SetString(PyExc_MemoryError, "not enough memory for the Surface");
    else
        lm_RaiseSDLError();
}

// A new SDL surface of format `fmt`; 8-bit indexed surfaces get the
// default palette (or `pal` when given).  Null with an exception set.
SDL_Surface *make_sdl_surface(int w, int h, Uint32 fmt, const SDL_Palette *pal)
{
    if (w < 0 || h < 0) {
        PyErr_SetString(PyExc_ValueError, "Invalid resolution for Surface");
        return nullptr;
    }
    if (!check_buffer_size(w, h, SDL_BYTESPERPIXEL(fmt)))
        return nullptr;
    SDL_Surface *s =
        SDL_CreateRGBSurfaceWithFormat(0, w, h, SDL_BITSPERPIXEL(fmt), fmt);
    if (!s) {
        raise_creation_error();
        return nullptr;
    }
    if (s->format->palette) {
        if (pal) {
            SDL_SetPaletteColors(s->format->palette, pal->colors, 0,
                                 std::min(pal->ncolors, s->format->palette->ncolors));
        }
        else {
            SDL_Color def[256];
            lmpx::default_palette(def);
            SDL_SetPaletteColors(s->format->palette, def, 0,
                                 std::min(256, s->format->palette->ncolors));
        }
    }
    return s;
}

bool contiguous(Uint32 m)
{
    if (!m)
        return true;
    while (!(m & 1))
        m >>= 1;
    return (m & (m + 1)) == 0;
}

// Pixel format of a (depth, SRCALPHA) request.
bool format_for_depth(int depth, bool alpha, Uint32 *fmt)
{
    switch (depth) {
    case 0:
    case 32:
        *fmt = alpha ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_RGB888;
        return true;
    case 8:
        if (alpha)
            break;
        *fmt = SDL_PIXELFORMAT_INDEX8;
        return true;
    case 12:
        *fmt = alpha ? SDL_PIXELFORMAT_ARGB4444 : SDL_PIXELFORMAT_RGB444;
        return true;
    case 15:
        *fmt = alpha ? SDL_PIXELFORMAT_ARGB4444 : SDL_PIXELFORMAT_RGB555;
        return true;
    case 16:
        *fmt = alpha ? SDL_PIXELFORMAT_ARGB4444 : SDL_PIXELFORMAT_RGB565;
        return true;
    case 24:
        if (alpha)
            break;
        *fmt = SDL_MasksToPixelFormatEnum(24, 0xFF0000, 0xFF00, 0xFF, 0);
        return true;
    default:
        PyErr_SetString(PyExc_ValueError, "invalid bits per pixel depth argument");
        return false;
    }
    PyErr_SetString(PyExc_ValueError,
                    "no standard masks exist for given bitdepth with alpha");
    return false;
}

// Pixel format of explicit (R, G, B, A) masks; depth 0 derives the depth
// from the highest mask bit.
bool format_for_masks(PyObject *masks, int depth, Uint32 *fmt)
{
    Uint32 m[4];
    if (!PySequence_Check(masks) || PySequence_Size(masks) != 4) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError, "masks must be a sequence of 4 integers");
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (!lm_UintFromObjIndex(masks, i, &m[i])) {
            PyErr_SetString(PyExc_ValueError, "invalid mask values");
            return false;
        }
    }
    Uint32 all = 0;
    for (int i = 0; i < 4; ++i) {
        if ((all & m[i]) || !contiguous(m[i])) {
            PyErr_SetString(PyExc_ValueError, "invalid mask values");
            return false;
        }
        all |= m[i];
    }
    if (depth == 0) {
        int top = all ? 32 - __builtin_clz(all) : 8;
        depth = top <= 8 ? 8 : top <= 16 ? 16 : top <= 24 ? 24 : 32;
    }
    if (depth != 8 && depth != 12 && depth != 15 && depth != 16 &&
        depth != 24 && depth != 32) {
        PyErr_SetString(PyExc_ValueError, "invalid bits per pixel depth argument");
        return false;
    }
    if (depth < 32 && (all >> depth)) {
        PyErr_SetString(PyExc_ValueError, "invalid mask values");
        return false;
    }
    Uint32 f = SDL_MasksToPixelFormatEnum(depth, m[0], m[1], m[2], m[3]);
    if (f == SDL_PIXELFORMAT_UNKNOWN) {
        PyErr_SetString(PyExc_ValueError, "invalid mask values");
        return false;
    }
    *fmt = f;
    return true;
}

// The same format with alpha, for SRCALPHA requests based on a surface.
Uint32 with_alpha(Uint32 fmt)
{
    if (SDL_ISPIXELFORMAT_ALPHA(fmt))
        return fmt;
    switch (SDL_BYTESPERPIXEL(fmt)) {
    case 2: return SDL_PIXELFORMAT_ARGB4444;
    case 4: return SDL_PIXELFORMAT_ARGB8888;
    default: return SDL_PIXELFORMAT_UNKNOWN;
    }
}

// A colour argument: an int is already a mapped value; anything else is a
// colour.  Read before the surface it is mapped for, since reading it may
// run Python (a sequence's __getitem__, __index__) that re-initialises
// that surface: every method converts all its arguments first and only
// then takes the SDL pointer.
struct ColorArg {
    bool mapped = false;
    Uint32 value = 0;
    Uint8 rgba[4] = {0, 0, 0, 0};

    bool read(PyObject *o)
    {
        if (PyLong_Check(o)) {
            mapped = true;
            value = (Uint32)PyLong_AsUnsignedLongMask(o);
            return !PyErr_Occurred();
        }
        return lmColor_ParseArg(o, rgba) != 0;
    }

    // The pixel value for `s`; `rgba_out`, when given, gets its colour.
    Uint32 map(SDL_Surface *s, Uint8 *rgba_out = nullptr) const
    {
        Fmt f = lmpx::fmt_of(s->format);
        if (!mapped) {
            if (rgba_out)
                memcpy(rgba_out, rgba, 4);
            return lmpx::encode(f, rgba);
        }
        Uint32 v = value;
        if (f.bpp < 4)
            v &= (1u << (8 * f.bpp)) - 1;
        if (rgba_out)
            lmpx::decode(f, v, rgba_out);
        return v;
    }
};

bool parse_pos(PyObject *o, int *x, int *y)
{
    if (lm_TwoIntsFromObj(o, x, y))
        return true;
    PyErr_SetString(PyExc_TypeError, "position must be a sequence of two numbers");
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Object lifetime
// ---------------------------------------------------------------------------

static PyObject *empty_tuple = nullptr;

// Replace the SDL surface of `so`.  The lock list keeps counting the locks
// held, so the SDL lock counts move with it: the old surface is unlocked
// once per entry (if it survives) and the new one locked as often.
static void replace_sdl_surface(lmSurfaceObject *so, SDL_Surface *s, int owner)
{
    Py_ssize_t held = so->locklist ? PyList_GET_SIZE(so->locklist) : 0;
    if (so->surf != s) {
        if (so->surf) {
            for (Py_ssize_t i = 0; i < held; ++i)
                SDL_UnlockSurface(so->surf);
            if (so->owner)
                SDL_FreeSurface(so->surf);
        }
        so->surf = s;
        if (s) {
            for (Py_ssize_t i = 0; i < held; ++i)
                SDL_LockSurface(s);
        }
    }
    so->owner = owner;
}

static void drop_subsurface_record(PyObject *self)
{
    lmSurfaceObject *so = S(self);
    if (!so->subsurface)
        return;
    lmSubSurface_Data *d = so->subsurface;
    // Release every lock this surface holds on its parent.  Each call drops
    // one of our entries plus all dead ones (in a deallocator all of ours
    // are dead already), so the list length bounds the calls needed.
    PyObject *pl = S(d->owner)->locklist;
    Py_ssize_t n = pl ? PyList_GET_SIZE(pl) : 0;
    for (Py_ssize_t i = 0; i < n; ++i)
        lmSurface_UnlockBy(d->owner, self);
    so->subsurface = nullptr;
    Py_DECREF(d->owner);
    PyMem_Free(d);
}

static PyObject *surface_new(PyTypeObject *type, PyObject *, PyObject *)
{
    PyObject *self = type->tp_alloc(type, 0);
    if (!self)
        return nullptr;
    lmSurfaceObject *so = S(self);
    so->surf = nullptr;
    so->owner = 0;
    so->weakreflist = nullptr;
    so->subsurface = nullptr;
    so->locklist = nullptr;
    so->dependency = nullptr;
    return self;
}

// A frombuffer surface holds the export of its buffer, a subsurface its
// parent: both can be part of cycles the collector must see.
static int surface_traverse(PyObject *self, visitproc visit, void *arg)
{
    lmSurfaceObject *so = S(self);
    Py_VISIT(so->dependency);
    Py_VISIT(so->locklist);
    if (so->subsurface)
        Py_VISIT(so->subsurface->owner);
    return 0;
}

static int surface_clear(PyObject *self)
{
    lmSurfaceObject *so = S(self);
    // The pixels may live in the dependency: let go of them first.
    replace_sdl_surface(so, nullptr, 0);
    Py_CLEAR(so->dependency);
    return 0;
}

static void surface_dealloc(PyObject *self)
{
    lmSurfaceObject *so = S(self);
    PyObject_GC_UnTrack(self);
    {
        lm::ErrorStash keep;
        if (so->weakreflist)
            PyObject_ClearWeakRefs(self);
        replace_sdl_surface(so, nullptr, 0);
        drop_subsurface_record(self);
        Py_CLEAR(so->locklist);
        // Released after the SDL surface: its pixels may live in it.
        Py_CLEAR(so->dependency);
    }
    Py_TYPE(self)->tp_free(self);
}

// A new object of `type` (the receiver's type, for subclasses) owning `s`.
static PyObject *wrap_new(PyTypeObject *type, SDL_Surface *s)
{
    if (!s)
        return nullptr;
    PyObject *o = type->tp_new(type, empty_tuple, nullptr);
    if (!o) {
        SDL_FreeSurface(s);
        return nullptr;
    }
    if (!is_surface(o)) {
        Py_DECREF(o);
        SDL_FreeSurface(s);
        PyErr_SetString(PyExc_TypeError, "Surface subclass __new__ did not return a Surface");
        return nullptr;
    }
    replace_sdl_surface(S(o), s, 1);
    return o;
}

static PyObject *lmSurface_New2(SDL_Surface *s, int owner)
{
    if (!s) {
        PyErr_SetString(lmExc_SDLError, SDL_GetError());
        return nullptr;
    }
    PyObject *o = surface_new(&lmSurface_Type, nullptr, nullptr);
    if (!o)
        return nullptr;
    replace_sdl_surface(S(o), s, owner ? 1 : 0);
    return o;
}

static int lmSurface_SetSurface(PyObject *o, SDL_Surface *s, int owner)
{
    if (!o || !is_surface(o)) {
        PyErr_SetString(PyExc_TypeError, "expected a Surface");
        return -1;
    }
    replace_sdl_surface(S(o), s, owner ? 1 : 0);
    return 0;
}

static int surface_init(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"size", "flags", "depth", "masks", nullptr};
    PyObject *size, *depthobj = nullptr, *masks = Py_None;
    unsigned int flags = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|IOO", const_cast<char **>(kwlist),
                                     &size, &flags, &depthobj, &masks))
        return -1;
    int w, h;
    if (!parse_size(size, &w, &h))
        return -1;
    if (w < 0 || h < 0) {
        PyErr_SetString(PyExc_ValueError, "Invalid resolution for Surface");
        return -1;
    }
    const bool alpha = (flags & LM_SRCALPHA) != 0;
    Uint32 fmt;
    const SDL_Palette *pal = nullptr;
    if (depthobj && is_surface(depthobj)) {
        SDL_Surface *like = S(depthobj)->surf;
        if (!like) {
            raise_quit();
            return -1;
        }
        fmt = like->format->format;
        pal = like->format->palette;
        if (alpha) {
            fmt = with_alpha(fmt);
            if (fmt == SDL_PIXELFORMAT_UNKNOWN) {
                PyErr_SetString(PyExc_ValueError,
                                "no standard masks exist for given bitdepth with alpha");
                return -1;
            }
        }
    }
    else {
        int depth = 0;
        if (depthobj && depthobj != Py_None && !lm_IntFromObj(depthobj, &depth)) {
            PyErr_SetString(PyExc_ValueError, "invalid bits per pixel depth argument");
            return -1;
        }
        if (masks != Py_None) {
            if (!format_for_masks(masks, depth, &fmt))
                return -1;
        }
        else if (!format_for_depth(depth, alpha, &fmt)) {
            return -1;
        }
    }
    SDL_Surface *s = make_sdl_surface(w, h, fmt, pal);
    if (!s)
        return -1;
    // Re-initialising an existing object starts it afresh.
    drop_subsurface_record(self);
    replace_sdl_surface(S(self), s, 1);
    return 0;
}

// ---------------------------------------------------------------------------
// Blitting
// ---------------------------------------------------------------------------

static void blit_op_of(SDL_Surface *src, int special, lmpx::BlitOp *op)
{
    SDL_BlendMode bm = SDL_BLENDMODE_NONE;
    Uint8 mod = 255;
    SDL_GetSurfaceBlendMode(src, &bm);
    SDL_GetSurfaceAlphaMod(src, &mod);
    op->alphamod = mod;
    op->special = special;
    Uint32 key = 0;
    op->colorkey = SDL_GetColorKey(src, &key) == 0;
    op->key = key;
    if (special)
        op->mode = lmpx::MODE_SPECIAL;
    else if (bm == SDL_BLENDMODE_NONE)
        op->mode = lmpx::MODE_COPY;
    else if (src->format->Amask)
        op->mode = lmpx::MODE_PIXEL;
    else if (mod != 255)
        op->mode = lmpx::MODE_SURFACE;
    else
        op->mode = lmpx::MODE_COPY;
}

static bool ranges_overlap(const Area &a, int abpp, const Area &b, int bbpp)
{
    uintptr_t a0 = (uintptr_t)a.px;
    uintptr_t a1 = a0 + (size_t)(a.h - 1) * a.pitch + (size_t)a.w * abpp;
    uintptr_t b0 = (uintptr_t)b.px;
    uintptr_t b1 = b0 + (size_t)(b.h - 1) * b.pitch + (size_t)b.w * bbpp;
    return a0 < b1 && b0 < a1;
}

// One axis of the blit clipping.  An area's start `*sp` and length `*len`
// are clipped to the source size `srclen`, then the destination position
// `*dp` to the clip span [cp, cp + clen); every cut moves the source start
// along with the destination.
static inline void clip_area_axis(int srclen, long long *dp, long long *sp,
                                  long long *len)
{
    if (*sp < 0) {
        *len += *sp;
        *dp -= *sp;
        *sp = 0;
    }
    *len = std::min<long long>(*len, srclen - *sp);
}

static inline void clip_dest_axis(int cp, int clen, long long *dp,
                                  long long *sp, long long *len)
{
    long long cut = (long long)cp - *dp;
    if (cut > 0) {
        *len -= cut;
        *dp += cut;
        *sp += cut;
    }
    cut = *dp + *len - cp - clen;
    if (cut > 0)
        *len -= cut;
}

// Blit `srcobj` onto `dstobj`, clipping as SDL_UpperBlit does: `area`
// (optional) is clipped to the source, the result to the destination's
// clip rectangle.  `dr` holds the position on entry and the changed area
// on return (size 0 when nothing changed).  0, or -1 with an exception.
static int lmSurface_Blit(PyObject *dstobj, PyObject *srcobj, SDL_Rect *dr,
                          SDL_Rect *area, int flags)
{
    if (!dstobj || !srcobj || !is_surface(dstobj) || !is_surface(srcobj)) {
        PyErr_SetString(PyExc_TypeError, "blit needs two Surfaces");
        return -1;
    }
    SDL_Surface *dst = S(dstobj)->surf, *src = S(srcobj)->surf;
    if (!dst || !src) {
        raise_quit();
        return -1;
    }
    if (flags == LM_BLEND_ALPHA_SDL2)
        flags = 0;
    if (flags != 0 && !lmpx::valid_special(flags)) {
        PyErr_SetString(PyExc_ValueError, "invalid special_flags for blit");
        return -1;
    }
    SDL_Rect local = {0, 0, 0, 0};
    if (!dr)
        dr = &local;

    long long dx = dr->x, dy = dr->y;
    long long sx = 0, sy = 0, w = src->w, h = src->h;
    if (area) {
        sx = area->x;
        sy = area->y;
        w = area->w;
        h = area->h;
        clip_area_axis(src->w, &dx, &sx, &w);
        clip_area_axis(src->h, &dy, &sy, &h);
    }
    const SDL_Rect &clip = dst->clip_rect;
    clip_dest_axis(clip.x, clip.w, &dx, &sx, &w);
    clip_dest_axis(clip.y, clip.h, &dy, &sy, &h);

    dr->x = clamp_int(dx);
    dr->y = clamp_int(dy);
    dr->w = dr->h = 0;
    if (w <= 0 || h <= 0)
        return 0;

    PixLock ls(srcobj);
    if (!ls.ok())
        return -1;
    PixLock ld(dstobj);
    if (!ld.ok())
        return -1;
    if (!src->pixels || !dst->pixels)
        return 0;
    Fmt sf = lmpx::fmt_of(src->format), df = lmpx::fmt_of(dst->format);
    Area sa = area_of(src, (int)sx, (int)sy, (int)w, (int)h);
    Area da = area_of(dst, (int)dx, (int)dy, (int)w, (int)h);
    lmpx::BlitOp op;
    blit_op_of(src, flags, &op);

    if (ranges_overlap(sa, sf.bpp, da, df.bpp)) {
        // Same pixel memory (self-blit, parent and subsurface): read from a
        // snapshot so no source pixel is overwritten before it is used.
        size_t row = (size_t)w * sf.bpp;
        lm::MemBuf<Uint8> tmp(row * (size_t)h);
        if (!tmp) {
            PyErr_NoMemory();
            return -1;
        }
        for (long long y = 0; y < h; ++y)
            memcpy(tmp.get() + (size_t)y * row, sa.px + (size_t)y * sa.pitch, row);
        Area ta = {tmp.get(), (int)row, (int)w, (int)h};
        lmpx::blit(sf, ta, df, da, op);
    }
    else {
        lmpx::blit(sf, sa, df, da, op);
    }
    dr->w = (int)w;
    dr->h = (int)h;
    return 0;
}

// ---------------------------------------------------------------------------
// Methods
// ---------------------------------------------------------------------------

#define SURF_OR_QUIT(var)                       \
    SDL_Surface *var = S(self)->surf;           \
    if (!var)                                   \
        return raise_quit()

// For methods that only need the surface to be alive.
#define ALIVE_OR_QUIT()                         \
    if (!S(self)->surf)                         \
        return raise_quit()

// A method answering one integer property of a live surface.
#define SURF_INT_GETTER(fn, expr)                   \
    static PyObject *fn(PyObject *self, PyObject *) \
    {                                               \
        SURF_OR_QUIT(s);                            \
        return PyLong_FromLong(expr);               \
    }

static PyObject *s_get_size(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    return Py_BuildValue("(ii)", s->w, s->h);
}

SURF_INT_GETTER(s_get_width, s->w)
SURF_INT_GETTER(s_get_height, s->h)

static PyObject *s_get_rect(PyObject *self, PyObject *args, PyObject *kwds)
{
    SURF_OR_QUIT(s);
    if (PyTuple_GET_SIZE(args) > 0) {
        PyErr_SetString(PyExc_TypeError, "get_rect only accepts keyword arguments");
        return nullptr;
    }
    lm::Ref rect(lmRect_FromInts(0, 0, s->w, s->h));
    if (!rect)
        return nullptr;
    if (kwds) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwds, &pos, &key, &value)) {
            if (PyObject_SetAttr(rect.get(), key, value) < 0)
                return nullptr;
        }
    }
    return rect.release();
}

static bool inside(SDL_Surface *s, int x, int y)
{
    return x >= 0 && y >= 0 && x < s->w && y < s->h;
}

// The colour of a pixel value in the surface's format.
static PyObject *color_of_mapped(SDL_Surface *s, Uint32 v)
{
    Uint8 rgba[4];
    lmpx::decode(lmpx::fmt_of(s->format), v, rgba);
    return lmColor_FromRGBA(rgba);
}

// The pixel value at `pos`; the surface read, or null with an exception.
static SDL_Surface *read_at(PyObject *self, PyObject *pos, Uint32 *v)
{
    if (!S(self)->surf) {
        raise_quit();
        return nullptr;
    }
    int x, y;
    if (!parse_pos(pos, &x, &y))
        return nullptr;
    SDL_Surface *s = S(self)->surf;
    if (!s) {
        raise_quit();
        return nullptr;
    }
    if (!inside(s, x, y)) {
        PyErr_SetString(PyExc_IndexError, "pixel index out of range");
        return nullptr;
    }
    PixLock lk(self);
    if (!lk.ok())
        return nullptr;
    if (!s->pixels) {
        PyErr_SetString(lmExc_SDLError, "surface has no pixels");
        return nullptr;
    }
    Area a = area_of(s, x, y, 1, 1);
    *v = lmpx::read_pixel(a.px, s->format->BytesPerPixel);
    return s;
}

static PyObject *s_get_at(PyObject *self, PyObject *pos)
{
    Uint32 v;
    SDL_Surface *s = read_at(self, pos, &v);
    if (!s)
        return nullptr;
    return color_of_mapped(s, v);
}

static PyObject *s_get_at_mapped(PyObject *self, PyObject *pos)
{
    Uint32 v;
    if (!read_at(self, pos, &v))
        return nullptr;
    return PyLong_FromUnsignedLong(v);
}

static PyObject *s_set_at(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    PyObject *pos, *color;
    if (!PyArg_ParseTuple(args, "OO:set_at", &pos, &color))
        return nullptr;
    int x, y;
    ColorArg col;
    if (!parse_pos(pos, &x, &y) || !col.read(color))
        return nullptr;
    SURF_OR_QUIT(s);
    Uint32 v = col.map(s);
    const SDL_Rect &c = s->clip_rect;
    if (!inside(s, x, y) || x < c.x || y < c.y || x >= c.x + c.w || y >= c.y + c.h)
        Py_RETURN_NONE;
    PixLock lk(self);
    if (!lk.ok())
        return nullptr;
    if (s->pixels) {
        Area a = area_of(s, x, y, 1, 1);
        lmpx::write_pixel(a.px, s->format->BytesPerPixel, v);
    }
    Py_RETURN_NONE;
}

// A rect-style argument copied into `out`; false with `exc`(`msg`) raised
// unless the coercion raised its own error.
static bool rect_or_raise(PyObject *o, SDL_Rect *out, PyObject *exc,
                          const char *msg)
{
    SDL_Rect scratch;
    const SDL_Rect *p = lmRect_Coerce(o, &scratch);
    if (!p) {
        if (!PyErr_Occurred())
            PyErr_SetString(exc, msg);
        return false;
    }
    *out = *p;
    return true;
}

// A rect-style argument, normalised (negative sizes flip), as 64-bit.
static bool rect_arg(PyObject *o, long long r[4], const char *msg)
{
    SDL_Rect p;
    if (!rect_or_raise(o, &p, PyExc_ValueError, msg))
        return false;
    r[0] = p.x;
    r[1] = p.y;
    r[2] = p.w;
    r[3] = p.h;
    if (r[2] < 0) {
        r[0] += r[2];
        r[2] = -r[2];
    }
    if (r[3] < 0) {
        r[1] += r[3];
        r[3] = -r[3];
    }
    return true;
}

static PyObject *s_fill(PyObject *self, PyObject *args, PyObject *kwds)
{
    ALIVE_OR_QUIT();
    static const char *kwlist[] = {"color", "rect", "special_flags", nullptr};
    PyObject *color, *rectobj = Py_None;
    int flags = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|Oi:fill", const_cast<char **>(kwlist),
                                     &color, &rectobj, &flags))
        return nullptr;
    if (flags == LM_BLEND_ALPHA_SDL2)
        flags = 0;
    if (flags != 0 && !lmpx::valid_special(flags)) {
        PyErr_SetString(PyExc_ValueError, "invalid special_flags for fill");
        return nullptr;
    }
    ColorArg col;
    if (!col.read(color))
        return nullptr;
    long long r[4] = {0, 0, 0, 0};
    if (rectobj != Py_None && !rect_arg(rectobj, r, "invalid rectstyle object"))
        return nullptr;
    SURF_OR_QUIT(s);
    Uint8 rgba[4];
    Uint32 pixel = col.map(s, rgba);
    if (rectobj == Py_None) {
        r[2] = s->w;
        r[3] = s->h;
    }
    SDL_Rect out;
    if (!clip_to(r[0], r[1], r[2], r[3], s->clip_rect, &out))
        return lmRect_FromInts(clamp_int(r[0]), clamp_int(r[1]), 0, 0);
    {
        PixLock lk(self);
        if (!lk.ok())
            return nullptr;
        if (s->pixels) {
            Fmt f = lmpx::fmt_of(s->format);
            Area a = area_of(s, out.x, out.y, out.w, out.h);
            if (flags)
                lmpx::fill_special(f, a, rgba, flags);
            else
                lmpx::fill(f, a, pixel);
        }
    }
    return lmRect_FromSDL(&out);
}

static bool blit_dest(PyObject *dest, SDL_Rect *dr)
{
    int x, y;
    if (lm_TwoIntsFromObj(dest, &x, &y)) {
        dr->x = x;
        dr->y = y;
        return true;
    }
    SDL_Rect p;
    if (!rect_or_raise(dest, &p, PyExc_TypeError,
                       "invalid destination position for blit"))
        return false;
    dr->x = p.x;
    dr->y = p.y;
    return true;
}

static PyObject *blit_one(PyObject *self, PyObject *src, PyObject *dest,
                          PyObject *areaobj, int flags)
{
    if (!is_surface(src)) {
        PyErr_SetString(PyExc_TypeError, "source must be a Surface");
        return nullptr;
    }
    SDL_Rect dr = {0, 0, 0, 0}, area;
    if (!blit_dest(dest, &dr))
        return nullptr;
    SDL_Rect *ap = nullptr;
    if (areaobj && areaobj != Py_None) {
        if (!rect_or_raise(areaobj, &area, PyExc_TypeError,
                           "invalid area argument for blit"))
            return nullptr;
        ap = &area;
    }
    if (lmSurface_Blit(self, src, &dr, ap, flags) < 0)
        return nullptr;
    return lmRect_FromSDL(&dr);
}

static PyObject *s_blit(PyObject *self, PyObject *args, PyObject *kwds)
{
    ALIVE_OR_QUIT();
    static const char *kwlist[] = {"source", "dest", "area", "special_flags", nullptr};
    PyObject *src, *dest, *areaobj = Py_None;
    int flags = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O!O|Oi:blit", const_cast<char **>(kwlist),
                                     &lmSurface_Type, &src, &dest, &areaobj, &flags))
        return nullptr;
    return blit_one(self, src, dest, areaobj, flags);
}

static PyObject *s_blits(PyObject *self, PyObject *args, PyObject *kwds)
{
    ALIVE_OR_QUIT();
    static const char *kwlist[] = {"blit_sequence", "doreturn", nullptr};
    PyObject *seq;
    int doreturn = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|p:blits", const_cast<char **>(kwlist),
                                     &seq, &doreturn))
        return nullptr;
    lm::Ref it(PyObject_GetIter(seq));
    if (!it)
        return nullptr;
    lm::Ref result(doreturn ? PyList_New(0) : nullptr);
    if (doreturn && !result)
        return nullptr;
    for (;;) {
        lm::Ref item(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred())
                return nullptr;
            break;
        }
        lm::Ref fast(PySequence_Fast(item.get(), "blit sequence items must be sequences"));
        if (!fast)
            return nullptr;
        Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
        if (n < 2 || n > 4) {
            PyErr_SetString(PyExc_ValueError,
                            "blit sequence items must have 2 to 4 items: "
                            "(source, dest[, area[, special_flags]])");
            return nullptr;
        }
        PyObject **items = PySequence_Fast_ITEMS(fast.get());
        int flags = 0;
        if (n == 4 && !lm_IntFromObj(items[3], &flags)) {
            PyErr_SetString(PyExc_TypeError, "special_flags must be an integer");
            return nullptr;
        }
        lm::Ref r(blit_one(self, items[0], items[1], n >= 3 ? items[2] : nullptr, flags));
        if (!r)
            return nullptr;
        if (doreturn && PyList_Append(result.get(), r.get()) < 0)
            return nullptr;
    }
    if (!doreturn)
        Py_RETURN_NONE;
    return result.release();
}

// Copy colour key, surface alpha and blend mode from `from` to `to`,
// re-mapping the key into the new format.
static void copy_settings(SDL_Surface *from, SDL_Surface *to)
{
    Uint32 key;
    if (SDL_GetColorKey(from, &key) == 0) {
        Uint8 c[4];
        lmpx::decode(lmpx::fmt_of(from->format), key, c);
        SDL_SetColorKey(to, SDL_TRUE, lmpx::encode(lmpx::fmt_of(to->format), c));
    }
    Uint8 mod = 255;
    SDL_GetSurfaceAlphaMod(from, &mod);
    SDL_SetSurfaceAlphaMod(to, mod);
    SDL_BlendMode bm = SDL_BLENDMODE_NONE;
    SDL_GetSurfaceBlendMode(from, &bm);
    if (to->format->Amask)
        bm = SDL_BLENDMODE_BLEND;
    else if (from->format->Amask && mod == 255)
        bm = SDL_BLENDMODE_NONE;
    SDL_SetSurfaceBlendMode(to, bm);
}

// Colour key, surface alpha and blend mode from `from` to `to` as they
// are, for a surface of the same format.
static void share_settings(SDL_Surface *from, SDL_Surface *to)
{
    Uint32 key;
    if (SDL_GetColorKey(from, &key) == 0)
        SDL_SetColorKey(to, SDL_TRUE, key);
    Uint8 mod = 255;
    SDL_GetSurfaceAlphaMod(from, &mod);
    SDL_SetSurfaceAlphaMod(to, mod);
    SDL_BlendMode bm;
    if (SDL_GetSurfaceBlendMode(from, &bm) == 0)
        SDL_SetSurfaceBlendMode(to, bm);
}

// Runs fill() with the pixels of `self` (whose SDL surface is `s`) locked,
// when both `s` and the new surface `n` have pixels.  A failed lock frees
// `n` and returns false with the exception set.
template <typename Fill>
static bool fill_locked(PyObject *self, SDL_Surface *s, SDL_Surface *n,
                        Fill &&fill)
{
    PixLock lk(self);
    if (!lk.ok()) {
        SDL_FreeSurface(n);
        return false;
    }
    if (s->pixels && n->pixels)
        fill();
    return true;
}

// A new surface of format `fmt` (palette `pal` for indexed formats) with
// the pixels of `self` converted into it.
static PyObject *convert_to(PyObject *self, Uint32 fmt, const SDL_Palette *pal)
{
    SDL_Surface *s = S(self)->surf;
    if (!pal && SDL_ISPIXELFORMAT_INDEXED(fmt) && s->format->palette)
        pal = s->format->palette;
    SDL_Surface *n = make_sdl_surface(s->w, s->h, fmt, pal);
    if (!n)
        return nullptr;
    if (!fill_locked(self, s, n, [s, n] {
            Fmt sf = lmpx::fmt_of(s->format), df = lmpx::fmt_of(n->format);
            Area sa = area_of(s, 0, 0, s->w, s->h), da = area_of(n, 0, 0, n->w, n->h);
            lmpx::BlitOp op;
            lmpx::blit(sf, sa, df, da, op);
            Uint32 key;
            if (SDL_GetColorKey(s, &key) == 0)
                lmpx::key_to_alpha(sf, sa, df, da, key);
        }))
        return nullptr;
    copy_settings(s, n);
    return wrap_new(Py_TYPE(self), n);
}

static PyObject *s_copy(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    SDL_Surface *n = make_sdl_surface(s->w, s->h, s->format->format, s->format->palette);
    if (!n)
        return nullptr;
    if (!fill_locked(self, s, n, [s, n] {
            size_t row = (size_t)s->w * s->format->BytesPerPixel;
            for (int y = 0; y < s->h; ++y)
                memcpy((Uint8 *)n->pixels + (size_t)y * n->pitch,
                       (Uint8 *)s->pixels + (size_t)y * s->pitch, row);
        }))
        return nullptr;
    share_settings(s, n);
    SDL_SetClipRect(n, &s->clip_rect);
    return wrap_new(Py_TYPE(self), n);
}

static PyObject *s_convert(PyObject *self, PyObject *args)
{
    SURF_OR_QUIT(s);
    Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n > 2) {
        PyErr_SetString(PyExc_TypeError, "convert takes at most 2 arguments");
        return nullptr;
    }
    PyObject *a0 = n > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
    unsigned int flags = 0;
    if (n == 2) {
        flags = (unsigned int)PyLong_AsUnsignedLongMask(PyTuple_GET_ITEM(args, 1));
        if (PyErr_Occurred())
            return nullptr;
    }
    Uint32 fmt;
    const SDL_Palette *pal = nullptr;
    if (!a0) {
        PyObject *win = lm_GetDefaultWindowSurface();
        if (win && is_surface(win) && S(win)->surf) {
            fmt = S(win)->surf->format->format;
            pal = S(win)->surf->format->palette;
        }
        else {
            fmt = SDL_PIXELFORMAT_RGB888;
        }
    }
    else if (is_surface(a0)) {
        SDL_Surface *like = S(a0)->surf;
        if (!like)
            return raise_quit();
        fmt = like->format->format;
        pal = like->format->palette;
        if (flags & LM_SRCALPHA) {
            fmt = with_alpha(fmt);
            if (fmt == SDL_PIXELFORMAT_UNKNOWN) {
                PyErr_SetString(PyExc_ValueError,
                                "no standard masks exist for given bitdepth with alpha");
                return nullptr;
            }
        }
    }
    else if (PyLong_Check(a0)) {
        int depth;
        if (!lm_IntFromObj(a0, &depth)) {
            PyErr_SetString(PyExc_ValueError, "invalid bits per pixel depth argument");
            return nullptr;
        }
        if (!format_for_depth(depth, (flags & LM_SRCALPHA) != 0, &fmt))
            return nullptr;
    }
    else if (PySequence_Check(a0)) {
        if (!format_for_masks(a0, 0, &fmt))
            return nullptr;
    }
    else {
        PyErr_SetString(PyExc_TypeError,
                        "convert takes a Surface, a depth or a masks sequence");
        return nullptr;
    }
    return convert_to(self, fmt, pal);
}

static PyObject *s_convert_alpha(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    PyObject *ignored = nullptr;
    if (!PyArg_ParseTuple(args, "|O:convert_alpha", &ignored))
        return nullptr;
    return convert_to(self, SDL_PIXELFORMAT_ARGB8888, nullptr);
}

static PyObject *s_subsurface(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    PyObject *arg = PyTuple_GET_SIZE(args) == 1 ? PyTuple_GET_ITEM(args, 0) : args;
    SDL_Rect r;
    if (!rect_or_raise(arg, &r, PyExc_ValueError, "invalid rectstyle argument"))
        return nullptr;
    SURF_OR_QUIT(s);
    if (r.x < 0 || r.y < 0 || r.w < 0 || r.h < 0 ||
        (long long)r.x + r.w > s->w || (long long)r.y + r.h > s->h) {
        PyErr_SetString(PyExc_ValueError, "subsurface rectangle outside surface area");
        return nullptr;
    }
    long long offset = (long long)r.y * s->pitch + (long long)r.x * s->format->BytesPerPixel;
    if (offset > INT_MAX) {
        PyErr_SetString(PyExc_ValueError, "subsurface offset too large");
        return nullptr;
    }
    lmSubSurface_Data *data =
        static_cast<lmSubSurface_Data *>(PyMem_Malloc(sizeof(lmSubSurface_Data)));
    if (!data)
        return PyErr_NoMemory();
    SDL_Surface *sub;
    {
        PixLock lk(self);
        if (!lk.ok()) {
            PyMem_Free(data);
            return nullptr;
        }
        void *px = s->pixels ? static_cast<Uint8 *>(s->pixels) + offset : nullptr;
        sub = SDL_CreateRGBSurfaceWithFormatFrom(px, r.w, r.h, s->format->BitsPerPixel,
                                                 s->pitch, s->format->format);
    }
    if (!sub) {
        PyMem_Free(data);
        raise_creation_error();
        return nullptr;
    }
    // Indexed subsurfaces share the parent's palette object.
    if (s->format->palette)
        SDL_SetSurfacePalette(sub, s->format->palette);
    share_settings(s, sub);

    PyObject *o = wrap_new(Py_TYPE(self), sub);
    if (!o) {
        PyMem_Free(data);
        return nullptr;
    }
    Py_INCREF(self);
    data->owner = self;
    data->pixeloffset = (int)offset;
    data->offsetx = r.x;
    data->offsety = r.y;
    S(o)->subsurface = data;
    return o;
}

static PyObject *s_get_parent(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    if (!S(self)->subsurface)
        Py_RETURN_NONE;
    PyObject *p = S(self)->subsurface->owner;
    Py_INCREF(p);
    return p;
}

static PyObject *s_get_offset(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    lmSubSurface_Data *d = S(self)->subsurface;
    if (!d)
        return Py_BuildValue("(ii)", 0, 0);
    return Py_BuildValue("(ii)", d->offsetx, d->offsety);
}

static PyObject *s_get_abs_offset(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    long long x = 0, y = 0;
    for (PyObject *o = self; S(o)->subsurface; o = S(o)->subsurface->owner) {
        x += S(o)->subsurface->offsetx;
        y += S(o)->subsurface->offsety;
    }
    return Py_BuildValue("(ii)", clamp_int(x), clamp_int(y));
}

static PyObject *s_get_abs_parent(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    PyObject *o = self;
    while (S(o)->subsurface)
        o = S(o)->subsurface->owner;
    Py_INCREF(o);
    return o;
}

static PyObject *s_lock(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    if (!lmSurface_LockBy(self, self))
        return nullptr;
    Py_RETURN_NONE;
}

static PyObject *s_unlock(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    if (!lmSurface_UnlockBy(self, self) && PyErr_Occurred())
        return nullptr;
    Py_RETURN_NONE;
}

static PyObject *s_get_locked(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    PyObject *l = S(self)->locklist;
    return PyBool_FromLong(l && PyList_GET_SIZE(l) > 0);
}

static PyObject *s_get_locks(PyObject *self, PyObject *)
{
    ALIVE_OR_QUIT();
    PyObject *l = S(self)->locklist;
    Py_ssize_t n = l ? PyList_GET_SIZE(l) : 0;
    lm::Ref t(PyTuple_New(n));
    if (!t)
        return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *o = lm_weakref_get(PyList_GET_ITEM(l, i));
        if (!o)
            return nullptr;
        PyTuple_SET_ITEM(t.get(), i, o);
    }
    return t.release();
}

static PyObject *s_mustlock(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    return PyBool_FromLong(SDL_MUSTLOCK(s) || S(self)->subsurface != nullptr);
}

// The (value=None, flags=0) arguments of set_colorkey and set_alpha.  The
// flags (RLE acceleration) are accepted and ignored: our own blitters read
// the plain pixels, and RLE would move them under the subsurfaces.
static bool value_and_flags(PyObject *args, const char *format,
                            PyObject **value)
{
    unsigned int flags = 0;
    *value = Py_None;
    return PyArg_ParseTuple(args, format, value, &flags);
}

static PyObject *s_set_colorkey(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    PyObject *color;
    ColorArg col;
    if (!value_and_flags(args, "|OI:set_colorkey", &color) ||
        (color != Py_None && !col.read(color)))
        return nullptr;
    SURF_OR_QUIT(s);
    if (color == Py_None) {
        SDL_SetColorKey(s, SDL_FALSE, 0);
        Py_RETURN_NONE;
    }
    if (SDL_SetColorKey(s, SDL_TRUE, col.map(s)) < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

static PyObject *s_get_colorkey(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    Uint32 key;
    if (SDL_GetColorKey(s, &key) != 0)
        Py_RETURN_NONE;
    return color_of_mapped(s, key);
}

static PyObject *s_set_alpha(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    PyObject *value;
    double v = 0;
    if (!value_and_flags(args, "|OI:set_alpha", &value))
        return nullptr;
    if (value != Py_None && (!lm_DoubleFromObj(value, &v) || std::isnan(v))) {
        PyErr_SetString(PyExc_TypeError, "invalid alpha argument");
        return nullptr;
    }
    SURF_OR_QUIT(s);
    if (value == Py_None) {
        SDL_SetSurfaceAlphaMod(s, 255);
        SDL_SetSurfaceBlendMode(s, s->format->Amask ? SDL_BLENDMODE_BLEND
                                                    : SDL_BLENDMODE_NONE);
        Py_RETURN_NONE;
    }
    int a = (int)std::max(0.0, std::min(255.0, v));
    SDL_SetSurfaceAlphaMod(s, (Uint8)a);
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_BLEND);
    Py_RETURN_NONE;
}

static PyObject *s_get_alpha(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    SDL_BlendMode bm = SDL_BLENDMODE_NONE;
    SDL_GetSurfaceBlendMode(s, &bm);
    if (bm == SDL_BLENDMODE_NONE)
        Py_RETURN_NONE;
    Uint8 mod = 255;
    SDL_GetSurfaceAlphaMod(s, &mod);
    return PyLong_FromLong(mod);
}

static PyObject *s_get_flags(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    unsigned long f = s->flags & (SDL_PREALLOC | SDL_RLEACCEL);
    if (s->format->Amask)
        f |= LM_SRCALPHA;
    if (SDL_HasColorKey(s))
        f |= LM_SRCCOLORKEY;
    return PyLong_FromUnsignedLong(f);
}

SURF_INT_GETTER(s_get_bitsize, s->format->BitsPerPixel)
SURF_INT_GETTER(s_get_bytesize, s->format->BytesPerPixel)
SURF_INT_GETTER(s_get_pitch, s->pitch)

static PyObject *s_get_masks(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    const SDL_PixelFormat *f = s->format;
    return Py_BuildValue("(kkkk)", (unsigned long)f->Rmask, (unsigned long)f->Gmask,
                         (unsigned long)f->Bmask, (unsigned long)f->Amask);
}

static PyObject *s_get_shifts(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    const SDL_PixelFormat *f = s->format;
    return Py_BuildValue("(iiii)", f->Rshift, f->Gshift, f->Bshift, f->Ashift);
}

static PyObject *s_get_losses(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    const SDL_PixelFormat *f = s->format;
    return Py_BuildValue("(iiii)", f->Rloss, f->Gloss, f->Bloss, f->Aloss);
}

static PyObject *s_map_rgb(PyObject *self, PyObject *color)
{
    ALIVE_OR_QUIT();
    Uint8 rgba[4];
    if (!lmColor_ParseArg(color, rgba))
        return nullptr;
    SURF_OR_QUIT(s);
    return PyLong_FromUnsignedLong(lmpx::encode(lmpx::fmt_of(s->format), rgba));
}

static PyObject *s_unmap_rgb(PyObject *self, PyObject *arg)
{
    SURF_OR_QUIT(s);
    if (!PyLong_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, "unmap_rgb needs an integer argument");
        return nullptr;
    }
    Uint32 v = (Uint32)PyLong_AsUnsignedLongMask(arg);
    if (PyErr_Occurred())
        return nullptr;
    return color_of_mapped(s, v);
}

static PyObject *s_set_clip(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    Py_ssize_t n = PyTuple_GET_SIZE(args);
    PyObject *arg = n == 1 ? PyTuple_GET_ITEM(args, 0) : args;
    if (n == 0 || arg == Py_None) {
        SURF_OR_QUIT(s);
        SDL_SetClipRect(s, nullptr);
        Py_RETURN_NONE;
    }
    SDL_Rect r;
    if (!rect_or_raise(arg, &r, PyExc_ValueError, "invalid rectstyle object"))
        return nullptr;
    SURF_OR_QUIT(s);
    SDL_Rect c;
    if (!clip_to(r.x, r.y, r.w, r.h, SDL_Rect{0, 0, s->w, s->h}, &c))
        c = SDL_Rect{0, 0, 0, 0};
    // Set directly: SDL leaves an unspecified rect when the intersection
    // is empty, and clip_to has already intersected with the surface.
    s->clip_rect = c;
    Py_RETURN_NONE;
}

static PyObject *s_get_clip(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    return lmRect_FromSDL(&s->clip_rect);
}

static SDL_Palette *palette_or_raise(SDL_Surface *s, const char *what)
{
    SDL_Palette *p = s->format->palette;
    if (!p) {
        PyErr_Format(lmExc_SDLError, "Surface has no palette to %s", what);
        return nullptr;
    }
    return p;
}

// The palette, with `i` checked against it.
static SDL_Palette *palette_entry_or_raise(SDL_Surface *s, int i, const char *what)
{
    SDL_Palette *p = palette_or_raise(s, what);
    if (p && (i < 0 || i >= p->ncolors)) {
        PyErr_SetString(PyExc_IndexError, "index out of bounds");
        return nullptr;
    }
    return p;
}

static PyObject *s_get_palette(PyObject *self, PyObject *)
{
    SURF_OR_QUIT(s);
    SDL_Palette *p = palette_or_raise(s, "get");
    if (!p)
        return nullptr;
    lm::Ref t(PyTuple_New(p->ncolors));
    if (!t)
        return nullptr;
    for (int i = 0; i < p->ncolors; ++i) {
        Uint8 c[4] = {p->colors[i].r, p->colors[i].g, p->colors[i].b, 255};
        PyObject *col = lmColor_FromRGBA(c);
        if (!col)
            return nullptr;
        PyTuple_SET_ITEM(t.get(), i, col);
    }
    return t.release();
}

static PyObject *s_get_palette_at(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    int i;
    if (!PyArg_ParseTuple(args, "i:get_palette_at", &i))
        return nullptr;
    SURF_OR_QUIT(s);
    SDL_Palette *p = palette_entry_or_raise(s, i, "get");
    if (!p)
        return nullptr;
    Uint8 c[4] = {p->colors[i].r, p->colors[i].g, p->colors[i].b, 255};
    return lmColor_FromRGBA(c);
}

// The palette of the surface `self` with room for `n` colours, or null
// with the error set.
static SDL_Palette *palette_for(PyObject *self, Py_ssize_t n)
{
    SDL_Surface *s = S(self)->surf;
    if (!s) {
        raise_quit();
        return nullptr;
    }
    SDL_Palette *p = palette_or_raise(s, "set");
    if (p && n > p->ncolors) {
        PyErr_Format(PyExc_ValueError, "too many colors: the palette holds %d", p->ncolors);
        return nullptr;
    }
    return p;
}

static PyObject *s_set_palette(PyObject *self, PyObject *seq)
{
    ALIVE_OR_QUIT();
    if (!PySequence_Check(seq) || PyUnicode_Check(seq)) {
        PyErr_SetString(PyExc_TypeError, "set_palette needs a sequence of colors");
        return nullptr;
    }
    if (!palette_for(self, 0))
        return nullptr;
    Py_ssize_t n = PySequence_Size(seq);
    if (n < 0 || !palette_for(self, n))
        return nullptr;
    SDL_Color colors[256];
    // Parse everything before changing anything; the items' conversions
    // may run Python, so the palette is looked up again afterwards.
    for (Py_ssize_t i = 0; i < n && i < 256; ++i) {
        lm::Ref item(PySequence_GetItem(seq, i));
        if (!item)
            return nullptr;
        Uint8 c[4];
        if (!lmColor_ParseArg(item.get(), c))
            return nullptr;
        colors[i] = SDL_Color{c[0], c[1], c[2], 255};
    }
    SDL_Palette *p = palette_for(self, n);
    if (!p)
        return nullptr;
    if (n > 0 && SDL_SetPaletteColors(p, colors, 0, (int)n) < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

static PyObject *s_set_palette_at(PyObject *self, PyObject *args)
{
    ALIVE_OR_QUIT();
    int i;
    PyObject *color;
    if (!PyArg_ParseTuple(args, "iO:set_palette_at", &i, &color))
        return nullptr;
    if (!palette_entry_or_raise(S(self)->surf, i, "set"))
        return nullptr;
    Uint8 c[4];
    if (!lmColor_ParseArg(color, c))
        return nullptr;
    SURF_OR_QUIT(s);
    SDL_Palette *p = palette_entry_or_raise(s, i, "set");
    if (!p)
        return nullptr;
    SDL_Color col = {c[0], c[1], c[2], 255};
    if (SDL_SetPaletteColors(p, &col, i, 1) < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

static PyObject *s_scroll(PyObject *self, PyObject *args, PyObject *kwds)
{
    ALIVE_OR_QUIT();
    static const char *kwlist[] = {"dx", "dy", nullptr};
    int dx = 0, dy = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|ii:scroll", const_cast<char **>(kwlist),
                                     &dx, &dy))
        return nullptr;
    SURF_OR_QUIT(s);
    const SDL_Rect &c = s->clip_rect;
    if (c.w <= 0 || c.h <= 0 || (dx == 0 && dy == 0))
        Py_RETURN_NONE;
    PixLock lk(self);
    if (!lk.ok())
        return nullptr;
    if (s->pixels)
        lmpx::scroll(area_of(s, c.x, c.y, c.w, c.h), s->format->BytesPerPixel, dx, dy);
    Py_RETURN_NONE;
}

static PyObject *s_get_bounding_rect(PyObject *self, PyObject *args, PyObject *kwds)
{
    ALIVE_OR_QUIT();
    static const char *kwlist[] = {"min_alpha", nullptr};
    int min_alpha = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|i:get_bounding_rect",
                                     const_cast<char **>(kwlist), &min_alpha))
        return nullptr;
    SURF_OR_QUIT(s);
    int out[4] = {0, 0, 0, 0};
    {
        PixLock lk(self);
        if (!lk.ok())
            return nullptr;
        Uint32 key = 0;
        bool use_key = SDL_GetColorKey(s, &key) == 0;
        if (s->pixels)
            lmpx::bounding_rect(lmpx::fmt_of(s->format), area_of(s, 0, 0, s->w, s->h),
                                min_alpha, use_key, key, out);
    }
    return lmRect_FromInts(out[0], out[1], out[2], out[3]);
}

static PyObject *surface_repr(PyObject *self)
{
    SDL_Surface *s = S(self)->surf;
    if (!s)
        return PyUnicode_FromString("<Surface(Dead Display)>");
    return PyUnicode_FromFormat("<Surface(%dx%dx%d)>", s->w, s->h,
                                (int)s->format->BitsPerPixel);
}

#define NOARGS(name, fn, doc) {name, (PyCFunction)(void (*)(void))fn, METH_NOARGS, doc}
#define VARARGS(name, fn, doc) {name, (PyCFunction)(void (*)(void))fn, METH_VARARGS, doc}
#define KWARGS(name, fn, doc) \
    {name, (PyCFunction)(void (*)(void))fn, METH_VARARGS | METH_KEYWORDS, doc}
#define ONEARG(name, fn, doc) {name, (PyCFunction)(void (*)(void))fn, METH_O, doc}

static PyMethodDef surface_methods[] = {
    NOARGS("get_size", s_get_size,
           "get_size() -> (width, height)\nThe size of the surface in pixels."),
    NOARGS("get_width", s_get_width, "get_width() -> int\nThe width in pixels."),
    NOARGS("get_height", s_get_height, "get_height() -> int\nThe height in pixels."),
    KWARGS("get_rect", s_get_rect,
           "get_rect(**attrs) -> Rect\nA Rect at (0, 0) of the surface's size; keyword\n"
           "arguments are set on it, e.g. get_rect(center=(50, 50))."),
    ONEARG("get_at", s_get_at,
           "get_at((x, y)) -> Color\nThe colour of one pixel.  IndexError outside the\n"
           "surface."),
    ONEARG("get_at_mapped", s_get_at_mapped,
           "get_at_mapped((x, y)) -> int\nThe mapped pixel value of one pixel."),
    VARARGS("set_at", s_set_at,
            "set_at((x, y), color) -> None\nSet one pixel.  An int is a mapped pixel value.\n"
            "Pixels outside the clip area are left alone."),
    KWARGS("fill", s_fill,
           "fill(color, rect=None, special_flags=0) -> Rect\nFill the surface, or the\n"
           "rect of it, with one colour (an int is a mapped pixel value).  The fill\n"
           "is clipped to the clip area; the changed area is returned.  With a\n"
           "BLEND_* flag the colour is combined with each pixel instead."),
    KWARGS("blit", s_blit,
           "blit(source, dest, area=None, special_flags=0) -> Rect\nDraw source onto\n"
           "this surface with its top-left corner at dest (a position or a rect).\n"
           "area selects a part of source.  Colour key, surface alpha and per-pixel\n"
           "alpha of source apply; special_flags selects a BLEND_* combination\n"
           "instead.  Returns the changed area, clipped to the clip area."),
    KWARGS("blits", s_blits,
           "blits(blit_sequence, doreturn=1) -> list or None\nMany blits: each item is\n"
           "(source, dest[, area[, special_flags]]).  Returns the changed rects\n"
           "when doreturn is true."),
    NOARGS("copy", s_copy, "copy() -> Surface\nA new surface with the same pixels and settings."),
    NOARGS("__copy__", s_copy, "__copy__() -> Surface\nSame as copy()."),
    VARARGS("convert", s_convert,
            "convert() -> Surface\nconvert(Surface) -> Surface\nconvert(depth, flags=0) -> Surface\n"
            "convert(masks, flags=0) -> Surface\nA copy in another pixel format: the display\n"
            "surface's (32-bit XRGB without a display), another surface's, or one\n"
            "given by depth or masks."),
    VARARGS("convert_alpha", s_convert_alpha,
            "convert_alpha() -> Surface\nA copy in 32-bit ARGB with per-pixel alpha; a\n"
            "colour key becomes transparency."),
    VARARGS("subsurface", s_subsurface,
            "subsurface(rect) -> Surface\nA surface sharing this one's pixels inside rect.\n"
            "It keeps this surface alive; drawing on either shows in both."),
    NOARGS("get_parent", s_get_parent,
           "get_parent() -> Surface or None\nThe surface a subsurface was made from."),
    NOARGS("get_abs_parent", s_get_abs_parent,
           "get_abs_parent() -> Surface\nThe top-most parent (self if not a subsurface)."),
    NOARGS("get_offset", s_get_offset,
           "get_offset() -> (x, y)\nPosition of a subsurface inside its parent."),
    NOARGS("get_abs_offset", s_get_abs_offset,
           "get_abs_offset() -> (x, y)\nPosition of a subsurface inside its top-most parent."),
    NOARGS("lock", s_lock, "lock() -> None\nLock the pixels for direct access; locks nest."),
    NOARGS("unlock", s_unlock, "unlock() -> None\nRelease one lock taken with lock()."),
    NOARGS("get_locked", s_get_locked, "get_locked() -> bool\nWhether anything holds the surface locked."),
    NOARGS("get_locks", s_get_locks,
           "get_locks() -> tuple\nThe objects holding locks (None for a dead holder)."),
    NOARGS("mustlock", s_mustlock,
           "mustlock() -> bool\nWhether pixel access needs the surface locked."),
    VARARGS("set_colorkey", s_set_colorkey,
            "set_colorkey(color=None, flags=0) -> None\nPixels of this colour are skipped\n"
            "by blits; None clears the key.  An int is a mapped pixel value."),
    NOARGS("get_colorkey", s_get_colorkey,
           "get_colorkey() -> Color or None\nThe colour key, if one is set."),
    VARARGS("set_alpha", s_set_alpha,
            "set_alpha(value=None, flags=0) -> None\nAlpha 0..255 for the whole surface,\n"
            "multiplied into per-pixel alpha; None turns surface alpha off."),
    NOARGS("get_alpha", s_get_alpha,
           "get_alpha() -> int or None\nThe surface alpha, or None when blits are opaque."),
    NOARGS("get_flags", s_get_flags,
           "get_flags() -> int\nSRCALPHA for per-pixel alpha, SRCCOLORKEY when a key is set,\n"
           "and SDL's own surface flags."),
    NOARGS("get_bitsize", s_get_bitsize, "get_bitsize() -> int\nBits per pixel."),
    NOARGS("get_bytesize", s_get_bytesize, "get_bytesize() -> int\nBytes per pixel."),
    NOARGS("get_pitch", s_get_pitch, "get_pitch() -> int\nBytes per row of pixels."),
    NOARGS("get_masks", s_get_masks, "get_masks() -> (R, G, B, A)\nThe channel bit masks."),
    NOARGS("get_shifts", s_get_shifts, "get_shifts() -> (R, G, B, A)\nThe channel bit shifts."),
    NOARGS("get_losses", s_get_losses,
           "get_losses() -> (R, G, B, A)\nBits each channel lacks against 8 bits."),
    ONEARG("map_rgb", s_map_rgb, "map_rgb(color) -> int\nThe colour as a mapped pixel value."),
    ONEARG("unmap_rgb", s_unmap_rgb, "unmap_rgb(mapped) -> Color\nThe colour of a mapped pixel value."),
    VARARGS("set_clip", s_set_clip,
            "set_clip(rect=None) -> None\nLimit drawing to rect (inside the surface); None\n"
            "clears the limit."),
    NOARGS("get_clip", s_get_clip, "get_clip() -> Rect\nThe area drawing is limited to."),
    NOARGS("get_palette", s_get_palette,
           "get_palette() -> tuple of Color\nThe palette of an 8-bit surface."),
    VARARGS("get_palette_at", s_get_palette_at,
            "get_palette_at(index) -> Color\nOne palette entry of an 8-bit surface."),
    ONEARG("set_palette", s_set_palette,
           "set_palette(colors) -> None\nSet the first len(colors) palette entries."),
    VARARGS("set_palette_at", s_set_palette_at,
            "set_palette_at(index, color) -> None\nSet one palette entry."),
    KWARGS("scroll", s_scroll,
           "scroll(dx=0, dy=0) -> None\nMove the pixels of the clip area by (dx, dy); the\n"
           "uncovered part keeps its old pixels."),
    KWARGS("get_bounding_rect", s_get_bounding_rect,
           "get_bounding_rect(min_alpha=1) -> Rect\nThe smallest rect holding every pixel\n"
           "with alpha >= min_alpha (or not the colour key)."),
    LM_SURFACE_VIEW_METHODS
    {nullptr, nullptr, 0, nullptr}};

// ---------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------

static void *c_api[LM_SURFACE_NUMSLOTS];

extern PyMethodDef lm_surface_module_methods[];  // surface_kernels.cpp

static LM_MODULE_DEF(surface_module, "surface",
                     "The Surface type: an image in memory that can be drawn on and blitted.",
                     lm_surface_module_methods);

PyMODINIT_FUNC PyInit_surface(void)
{
    LM_IMPORT(base);
    LM_IMPORT(rect);
    LM_IMPORT(color);
    LM_IMPORT(pinguard);

    lmpx::init_tables();
    if (!empty_tuple) {
        empty_tuple = PyTuple_New(0);
        if (!empty_tuple)
            return nullptr;
    }

    PyTypeObject &t = lmSurface_Type;
    t.tp_name = "lumora.surface.Surface";
    t.tp_basicsize = sizeof(lmSurfaceObject);
    t.tp_dealloc = surface_dealloc;
    t.tp_repr = surface_repr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = surface_traverse;
    t.tp_clear = surface_clear;
    t.tp_doc =
        "Surface((width, height), flags=0, depth=0, masks=None) -> Surface\n"
        "An image in memory.  flags SRCALPHA gives per-pixel alpha; depth is\n"
        "8 (palette), 12, 15, 16, 24 or 32 (the default); masks (R, G, B, A)\n"
        "give the layout explicitly; a Surface as depth copies its format.";
    t.tp_weaklistoffset = offsetof(lmSurfaceObject, weakreflist);
    t.tp_methods = surface_methods;
    t.tp_init = surface_init;
    t.tp_new = surface_new;
    PyObject *module = lm_module_with_type(&surface_module, "Surface", &t);
    if (!module)
        return nullptr;
    c_api[LM_SURFACE_TYPE] = &t;
    c_api[LM_SURFACE_NEW] = reinterpret_cast<void *>(lmSurface_New2);
    c_api[LM_SURFACE_BLIT] = reinterpret_cast<void *>(lmSurface_Blit);
    c_api[LM_SURFACE_SET_SURFACE] = reinterpret_cast<void *>(lmSurface_SetSurface);
    if (lm_export_slots(module, "surface", c_api) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
