// lumora.font: TrueType fonts over SDL_ttf.
//
// A Font owns one SDL_ttf handle.  The engine can be shut down (quit()) and
// started again (init()) while Font objects live on; shutting down frees
// every FreeType face of the old engine, so a handle from an earlier engine
// still points at a freed face.  Each font therefore remembers the engine
// generation it was opened under, every use checks it, and closing a stale
// handle first detaches the dead face so SDL_ttf frees only its own memory.
#define LUMORA_MODULE_FONT
#include "frame.h"

#include <SDL_ttf.h>

#include <cstddef>

namespace {

struct lmFontObject {
    PyObject_HEAD
    TTF_Font *font;
    PyObject *weakreflist;
    unsigned long long generation;
    SDL_RWops *stream;  // the handle's stream while it is open, or null
    SDL_mutex *use;     // held by the thread using the handle
    SDL_threadID user;  // that thread, 0 when free (read and set with the GIL)
};

// Fonts being used right now; quit() is refused meanwhile.
int g_fonts_in_use = 0;

// Slot 2 of the capsule points at this flag, so it stays a plain int.
int g_initialised = 0;
// Bumped by every quit() that shuts the engine down.
unsigned long long g_generation = 0;

// FreeType allows one library to be shared between threads only if face
// creation and destruction are serialised.  Opening a font runs without the
// interpreter lock, so opens, closes and engine start/stop take this mutex.
// Its order is always "mutex, then interpreter lock": nobody waits for it
// while holding the interpreter lock, because an open in progress may need
// that lock for its stream callbacks.
SDL_mutex *g_ft_mutex = nullptr;

const char k_default_font[] = "freesansbold.ttf";

PyTypeObject lmFont_Type;
void *font_slots[LM_FONT_NUMSLOTS];

// Holds g_ft_mutex for a scope; entered and left with the interpreter lock
// held.  The lock is given up only while waiting for a busy mutex.
class FtLock {
  public:
    FtLock()
    {
        if (SDL_TryLockMutex(g_ft_mutex) != 0) {
            lm::GilRelease nogil;
            SDL_LockMutex(g_ft_mutex);
        }
    }
    FtLock(const FtLock &) = delete;
    FtLock &operator=(const FtLock &) = delete;
    ~FtLock() { SDL_UnlockMutex(g_ft_mutex); }
};

PyObject *raise_sdl_error() { return lm_RaiseSDLError(); }

// The font's own lock for a scope.  SDL_ttf may read the font's stream at
// any glyph, calling into Python, whose code may release the interpreter
// lock (another thread then gets in) or use the font itself; so one thread
// at a time uses a handle.  Constructed with the interpreter lock held; it
// is released only while waiting, so the font lock is never waited for
// while the interpreter lock is held.  A use from the thread already using
// the font (its file object's own methods) is refused with RuntimeError.
class FontUse {
  public:
    explicit FontUse(PyObject *self) : f_(reinterpret_cast<lmFontObject *>(self))
    {
        if (!f_->use) {
            PyErr_SetString(lmExc_SDLError, "font not initialized");
            return;
        }
        if (f_->user == SDL_ThreadID()) {
            PyErr_SetString(PyExc_RuntimeError,
                            "Font is in use (by its own file object)");
            return;
        }
        if (SDL_TryLockMutex(f_->use) != 0) {
            lm::GilRelease nogil;
            SDL_LockMutex(f_->use);
        }
        f_->user = SDL_ThreadID();
        ++g_fonts_in_use;
        held_ = true;
    }
    FontUse(const FontUse &) = delete;
    FontUse &operator=(const FontUse &) = delete;
    ~FontUse()
    {
        if (!held_)
            return;
        f_->user = 0;
        --g_fonts_in_use;
        SDL_UnlockMutex(f_->use);
    }
    bool ok() const { return held_; }

  private:
    lmFontObject *f_;
    bool held_ = false;
};

#define FONT_USE_OR_RAISE(result)       \
    FontUse font_use(self);             \
    if (!font_use.ok())                 \
        return result

// The handle of a font that may be used now, or null with "font not
// initialized" raised: no handle yet, engine stopped, or a handle from an
// engine that has been shut down since.
TTF_Font *live_font(PyObject *self)
{
    lmFontObject *f = reinterpret_cast<lmFontObject *>(self);
    if (!f->font || !g_initialised || f->generation != g_generation) {
        PyErr_SetString(lmExc_SDLError, "font not initialized");
        return nullptr;
    }
    return f->font;
}

// Close `font`.  A handle whose engine is gone has a dangling face pointer
// as the first member of SDL_ttf's font record; clearing it makes
// TTF_CloseFont skip the face and free only the record, its glyph cache
// and its stream.  Called with the interpreter lock held and
// g_ft_mutex taken.
void close_handle(TTF_Font *font, unsigned long long generation)
{
    if (!g_initialised || generation != g_generation)
        std::memset(static_cast<void *>(font), 0, sizeof(void *));
    TTF_CloseFont(font);
}

// Drop the font's handle.  Closing it may call the Python file object's
// close(), so a pending exception is kept aside meanwhile.
void release_handle(lmFontObject *self)
{
    TTF_Font *font = self->font;
    if (!font)
        return;
    self->font = nullptr;
    self->stream = nullptr;
    PyObject *et, *ev, *tb;
    PyErr_Fetch(&et, &ev, &tb);
    {
        FtLock lock;
        close_handle(font, self->generation);
    }
    PyErr_Restore(et, ev, tb);
}

// ---------------------------------------------------------------------------
// The default font
// ---------------------------------------------------------------------------

// Locate the packaged default font.  Returns a new reference to its path
// (str or bytes) or to a readable object; null with an exception set on
// failure, or null with none set when the package had nothing to give.
PyObject *resolve_default_font()
{
    lm::Ref pkgdata(PyImport_ImportModule("lumora.pkgdata"));
    if (!pkgdata)
        return nullptr;
    lm::Ref get(PyObject_GetAttrString(pkgdata.get(), "getResource"));
    if (!get)
        return nullptr;
    lm::Ref res(PyObject_CallFunction(get.get(), "s", k_default_font));
    if (!res || res.get() == Py_None)
        return nullptr;

    lm::Ref chosen;
    lm::Ref name(PyObject_GetAttrString(res.get(), "name"));
    if (name && (PyUnicode_Check(name.get()) || PyBytes_Check(name.get()))) {
        // A real file: reopen it by path, so SDL reads it without Python.
        lm::Ref closed(PyObject_CallMethod(res.get(), "close", nullptr));
        if (!closed)
            return nullptr;
        chosen = std::move(name);
    }
    else {
        if (!name) {
            if (PyErr_ExceptionMatches(PyExc_MemoryError))
                return nullptr;
            PyErr_Clear();
        }
        // No usable path (an in-memory resource): read it as a file object.
        chosen = std::move(res);
    }

    // A path or a file object: lmStream_FromObject tells them apart and
    // encodes a path the way every loader does.
    return chosen.release();
}

PyObject *default_font_not_found()
{
    if (!PyErr_Occurred())
        PyErr_Format(PyExc_RuntimeError, "default font '%.1024s' not found",
                     k_default_font);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Text arguments
// ---------------------------------------------------------------------------
const char k_text_type[] = "text must be a unicode or bytes";
const char k_null_char[] = "A null character was found in the text";

// UTF-8 text of a str (embedded NUL refused: SDL_ttf takes C strings and
// would silently stop at it), borrowed from the str object.
const char *utf8_of_str(PyObject *text)
{
    Py_ssize_t n = 0;
    const char *s = PyUnicode_AsUTF8AndSize(text, &n);
    if (!s)
        return nullptr;
    if (std::memchr(s, '\0', (size_t)n)) {
        PyErr_SetString(PyExc_ValueError, k_null_char);
        return nullptr;
    }
    return s;
}

// Text for SDL_ttf from str, bytes or None (empty), borrowed from `text`.
const char *text_of(PyObject *text)
{
    if (PyUnicode_Check(text))
        return utf8_of_str(text);
    if (PyBytes_Check(text)) {
        char *s = nullptr;
        // A null length makes Python refuse embedded NULs itself.
        if (PyBytes_AsStringAndSize(text, &s, nullptr) < 0)
            return nullptr;
        return s;
    }
    if (text == Py_None)
        return "";
    PyErr_SetString(PyExc_TypeError, k_text_type);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Font type
// ---------------------------------------------------------------------------
int font_init(PyObject *self_, PyObject *args, PyObject *kwds)
{
    lmFontObject *self = reinterpret_cast<lmFontObject *>(self_);
    if (self->user) {
        PyErr_SetString(PyExc_RuntimeError,
                        "cannot re-initialise a Font while it is in use");
        return -1;
    }
    release_handle(self);

    static const char *kwlist[] = {"font", "size", nullptr};
    PyObject *obj = Py_None;
    int size = 12;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|Oi",
                                     const_cast<char **>(kwlist), &obj, &size))
        return -1;
    if (!g_initialised) {
        PyErr_SetString(lmExc_SDLError, "font not initialized");
        return -1;
    }
    if (size < 2)
        size = 1;

    lm::Ref source;
    if (obj == Py_None) {
        source.reset(resolve_default_font());
        if (!source) {
            default_font_not_found();
            return -1;
        }
        // The default face is drawn large for its point size; this keeps
        // Font(None, n) close to other fonts of size n.
        size = (int)(size * 0.6875);
    }
    else {
        Py_INCREF(obj);
        source.reset(obj);
    }

    // SDL_ttf hands the size to FreeType in 26.6 fixed point in an int;
    // a larger size would wrap around to some tiny font instead of failing.
    if (size > INT_MAX / 64) {
        PyErr_SetString(PyExc_ValueError, "font size too large");
        return -1;
    }

    SDL_RWops *rw = lmStream_FromObject(source.get(), nullptr);
    if (!rw && PyUnicode_Check(obj) &&
        PyUnicode_CompareWithASCIIString(obj, k_default_font) == 0) {
        // The default font by name, not in the working directory: use the
        // packaged copy.
        PyErr_Clear();
        source.reset(resolve_default_font());
        if (!source) {
            default_font_not_found();
            return -1;
        }
        rw = lmStream_FromObject(source.get(), nullptr);
    }
    if (!rw)
        return -1;
    if (size < 2)
        size = 1;

    // quit() and init() change the engine only while holding g_ft_mutex,
    // so the state read under it is the engine this open really uses, even
    // if another thread restarted it while this one waited.
    unsigned long long generation = 0;
    int running = 0;
    TTF_Font *font = nullptr;
    {
        lm::GilRelease nogil;
        SDL_LockMutex(g_ft_mutex);
        running = g_initialised;
        generation = g_generation;
        // SDL_ttf closes the stream, on failure as well.
        if (running)
            font = TTF_OpenFontRW(rw, 1, size);
        SDL_UnlockMutex(g_ft_mutex);
    }
    if (!running) {
        // The stream is ours to close when SDL_ttf never saw it.
        if (lmStream_Release(rw) < 0)
            return -1;
        PyErr_SetString(lmExc_SDLError, "font not initialized");
        return -1;
    }
    if (!font) {
        raise_sdl_error();
        return -1;
    }
    // Python code ran while opening (the stream's callbacks): another
    // handle may have been put in meanwhile.
    release_handle(self);
    self->font = font;
    self->stream = rw;
    self->generation = generation;
    return 0;
}

PyObject *font_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    PyObject *o = PyType_GenericNew(type, args, kwds);
    if (!o)
        return nullptr;
    lmFontObject *f = reinterpret_cast<lmFontObject *>(o);
    f->use = SDL_CreateMutex();
    if (!f->use) {
        Py_DECREF(o);
        return PyErr_NoMemory();
    }
    return o;
}

// A font over a Python file object holds it (and its bound methods)
// through the stream: the collector must see those references, or a cycle
// through the file object would never be freed.
int font_traverse(PyObject *self_, visitproc visit, void *arg)
{
    lmFontObject *self = reinterpret_cast<lmFontObject *>(self_);
    return self->stream ? lmStream_Traverse(self->stream, visit, arg) : 0;
}

int font_clear(PyObject *self_)
{
    lmFontObject *self = reinterpret_cast<lmFontObject *>(self_);
    if (!self->user)
        release_handle(self);
    return 0;
}

void font_dealloc(PyObject *self_)
{
    lmFontObject *self = reinterpret_cast<lmFontObject *>(self_);
    PyObject_GC_UnTrack(self_);
    if (self->weakreflist)
        PyObject_ClearWeakRefs(self_);
    release_handle(self);
    if (self->use)
        SDL_DestroyMutex(self->use);
    Py_TYPE(self_)->tp_free(self_);
}

#define LIVE_OR_RAISE(fontvar)              \
    TTF_Font *fontvar = live_font(self);    \
    if (!fontvar)                           \
        return nullptr

// get_height, get_descent, get_ascent and get_linesize: one of the live
// font's metrics.
template <int (*Metric)(const TTF_Font *)>
PyObject *font_get_metric(PyObject *self, PyObject *)
{
    LIVE_OR_RAISE(font);
    return PyLong_FromLong(Metric(font));
}

PyObject *get_style_bit(PyObject *self, int bit)
{
    LIVE_OR_RAISE(font);
    return PyBool_FromLong(TTF_GetFontStyle(font) & bit);
}

// Sets or clears `bit` from the truth value of `value`; 0 or -1.
int set_style_bit(PyObject *self, PyObject *value, int bit)
{
    if (!live_font(self))
        return -1;
    // The truth test may run Python (__bool__) that re-initialises or
    // quits the font: take the handle only afterwards.
    int on = PyObject_IsTrue(value);
    if (on < 0)
        return -1;
    FONT_USE_OR_RAISE(-1);
    TTF_Font *font = live_font(self);
    if (!font)
        return -1;
    int style = TTF_GetFontStyle(font);
    int wanted = on ? (style | bit) : (style & ~bit);
    // Changing the style flushes SDL_ttf's glyph cache; skip a no-op.
    if (wanted != style)
        TTF_SetFontStyle(font, wanted);
    return 0;
}

PyObject *set_style_method(PyObject *self, PyObject *value, int bit)
{
    if (set_style_bit(self, value, bit) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

// get_bold/set_bold and the like, one pair per style bit.
template <int Bit>
PyObject *font_get_style(PyObject *self, PyObject *)
{ return get_style_bit(self, Bit); }
template <int Bit>
PyObject *font_set_style(PyObject *self, PyObject *v)
{ return set_style_method(self, v, Bit); }

PyObject *font_metrics(PyObject *self, PyObject *text)
{
    FONT_USE_OR_RAISE(nullptr);
    LIVE_OR_RAISE(font);
    lm::Ref str;
    if (PyUnicode_Check(text)) {
        Py_INCREF(text);
        str.reset(text);
    }
    else if (PyBytes_Check(text)) {
        str.reset(PyUnicode_FromEncodedObject(text, "UTF-8", nullptr));
    }
    else {
        PyErr_SetString(PyExc_TypeError, k_text_type);
        return nullptr;
    }
    if (!str)
        return nullptr;

    // SDL_ttf's metrics take 16-bit code units: walk the UTF-16 form and
    // give None for each character outside the basic plane.
    lm::Ref utf16(PyUnicode_AsUTF16String(str.get()));
    if (!utf16)
        return nullptr;
    const char *bytes = PyBytes_AS_STRING(utf16.get());
    Py_ssize_t nunits = PyBytes_GET_SIZE(utf16.get()) / 2;

    lm::Ref list(PyList_New(0));
    if (!list)
        return nullptr;
    // Unit 0 is the byte-order mark.
    for (Py_ssize_t i = 1; i < nunits; ++i) {
        Uint16 ch;
        std::memcpy(&ch, bytes + 2 * i, sizeof ch);
        lm::Ref item;
        if (ch >= 0xD800 && ch <= 0xDFFF) {
            ++i;  // the other half of the pair
            Py_INCREF(Py_None);
            item.reset(Py_None);
        }
        else {
            int minx, maxx, miny, maxy, advance;
            if (TTF_GlyphMetrics(font, ch, &minx, &maxx, &miny, &maxy,
                                 &advance) == 0) {
                item.reset(Py_BuildValue("(iiiii)", minx, maxx, miny, maxy,
                                         advance));
                if (!item)
                    return nullptr;
            }
            else {
                Py_INCREF(Py_None);
                item.reset(Py_None);
            }
        }
        if (PyList_Append(list.get(), item.get()) < 0)
            return nullptr;
    }
    return list.release();
}

// Hand a new SDL surface to the surface module, which frees it from then on.
PyObject *wrap_surface(SDL_Surface *surf)
{
    PyObject *obj = lmSurface_New2(surf, 1);
    if (!obj)
        SDL_FreeSurface(surf);
    return obj;
}

PyObject *font_render(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"text", "antialias", "color", "background",
                                   nullptr};
    PyObject *text, *fg_obj, *bg_obj = Py_None;
    int antialias;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "OpO|O",
                                     const_cast<char **>(kwlist), &text,
                                     &antialias, &fg_obj, &bg_obj))
        return nullptr;
    if (!live_font(self))
        return nullptr;

    // Colour parsing may run Python (a sequence's __getitem__, __index__)
    // that re-initialises or quits the font: the handle is taken after.
    Uint8 rgba[4];
    if (!lmColor_ParseArg(fg_obj, rgba))
        return nullptr;
    SDL_Color fg = {rgba[0], rgba[1], rgba[2], 255};
    SDL_Color bg = {0, 0, 0, 0};
    bool has_bg = bg_obj != Py_None;
    if (has_bg) {
        if (!lmColor_ParseArg(bg_obj, rgba))
            return nullptr;
        bg = SDL_Color{rgba[0], rgba[1], rgba[2], 255};
    }

    const char *utf8 = text_of(text);
    if (!utf8)
        return nullptr;
    FONT_USE_OR_RAISE(nullptr);
    LIVE_OR_RAISE(font);

    SDL_Surface *surf;
    if (!*utf8) {
        // SDL_ttf refuses zero-width text; an empty line is still a line.
        surf = SDL_CreateRGBSurface(0, 0, TTF_FontHeight(font), 32, 0xff0000,
                                    0xff00, 0xff, 0);
    }
    else if (antialias) {
        surf = has_bg ? TTF_RenderUTF8_Shaded(font, utf8, fg, bg)
                      : TTF_RenderUTF8_Blended(font, utf8, fg);
    }
    else {
        surf = TTF_RenderUTF8_Solid(font, utf8, fg);
        if (surf && has_bg) {
            SDL_SetColorKey(surf, SDL_FALSE, 0);
            SDL_Palette *pal = surf->format->palette;
            if (pal && pal->ncolors > 0) {
                SDL_Color c = pal->colors[0];
                c.r = bg.r;
                c.g = bg.g;
                c.b = bg.b;
                SDL_SetPaletteColors(pal, &c, 0, 1);
            }
        }
    }
    if (!surf)
        return raise_sdl_error();
    return wrap_surface(surf);
}

PyObject *font_size(PyObject *self, PyObject *text)
{
    FONT_USE_OR_RAISE(nullptr);
    LIVE_OR_RAISE(font);
    int w = 0, h = 0, rc;
    if (PyUnicode_Check(text)) {
        const char *s = utf8_of_str(text);
        if (!s)
            return nullptr;
        rc = TTF_SizeUTF8(font, s, &w, &h);
    }
    else if (PyBytes_Check(text)) {
        char *s = nullptr;
        if (PyBytes_AsStringAndSize(text, &s, nullptr) < 0)
            return nullptr;
        // Bytes measure one glyph per byte.
        rc = TTF_SizeText(font, s, &w, &h);
    }
    else {
        PyErr_SetString(PyExc_TypeError, k_text_type);
        return nullptr;
    }
    if (rc != 0)
        return raise_sdl_error();
    return Py_BuildValue("(ii)", w, h);
}

PyObject *font_set_script(PyObject *self, PyObject *code)
{
    FONT_USE_OR_RAISE(nullptr);
    LIVE_OR_RAISE(font);
    if (!PyUnicode_Check(code)) {
        PyErr_SetString(PyExc_TypeError, "script code must be a string");
        return nullptr;
    }
    Py_ssize_t n = 0;
    const char *s = PyUnicode_AsUTF8AndSize(code, &n);
    if (!s)
        return nullptr;
    if (n != 4 || std::memchr(s, '\0', 4)) {
        PyErr_SetString(PyExc_ValueError,
                        "script code must be exactly 4 characters");
        return nullptr;
    }
    if (TTF_SetFontScriptName(font, s) != 0)
        return raise_sdl_error();
    Py_RETURN_NONE;
}

PyMethodDef font_methods[] = {
    {"get_height", font_get_metric<TTF_FontHeight>, METH_NOARGS,
     "get_height() -> int\nget the height of the font"},
    {"get_descent", font_get_metric<TTF_FontDescent>, METH_NOARGS,
     "get_descent() -> int\nget the descent of the font"},
    {"get_ascent", font_get_metric<TTF_FontAscent>, METH_NOARGS,
     "get_ascent() -> int\nget the ascent of the font"},
    {"get_linesize", font_get_metric<TTF_FontLineSkip>, METH_NOARGS,
     "get_linesize() -> int\nget the line space of the font text"},
    {"get_bold", font_get_style<TTF_STYLE_BOLD>, METH_NOARGS,
     "get_bold() -> bool\ncheck if text will be rendered bold"},
    {"set_bold", font_set_style<TTF_STYLE_BOLD>, METH_O,
     "set_bold(bool) -> None\nenable fake rendering of bold text"},
    {"get_italic", font_get_style<TTF_STYLE_ITALIC>, METH_NOARGS,
     "get_italic() -> bool\ncheck if the text will be rendered italic"},
    {"set_italic", font_set_style<TTF_STYLE_ITALIC>, METH_O,
     "set_italic(bool) -> None\nenable fake rendering of italic text"},
    {"get_underline", font_get_style<TTF_STYLE_UNDERLINE>, METH_NOARGS,
     "get_underline() -> bool\ncheck if text will be rendered with an "
     "underline"},
    {"set_underline", font_set_style<TTF_STYLE_UNDERLINE>, METH_O,
     "set_underline(bool) -> None\ncontrol if text is rendered with an "
     "underline"},
    {"get_strikethrough", font_get_style<TTF_STYLE_STRIKETHROUGH>, METH_NOARGS,
     "get_strikethrough() -> bool\ncheck if text will be rendered with a "
     "strikethrough"},
    {"set_strikethrough", font_set_style<TTF_STYLE_STRIKETHROUGH>, METH_O,
     "set_strikethrough(bool) -> None\ncontrol if text is rendered with a "
     "strikethrough"},
    {"metrics", font_metrics, METH_O,
     "metrics(text) -> list\ngets the metrics for each character in the "
     "passed string"},
    {"render", (PyCFunction)(void (*)(void))font_render,
     METH_VARARGS | METH_KEYWORDS,
     "render(text, antialias, color, background=None) -> Surface\ndraw text "
     "on a new Surface"},
    {"size", font_size, METH_O,
     "size(text) -> (width, height)\ndetermine the amount of space needed to "
     "render text"},
    {"set_script", font_set_script, METH_O,
     "set_script(str) -> None\nset the script code for text shaping"},
    {nullptr, nullptr, 0, nullptr}};

// Style properties: the closure is the property's index in this table.
struct StyleProp {
    const char *name;
    int bit;
};
const StyleProp k_style_props[] = {
    {"bold", TTF_STYLE_BOLD},
    {"italic", TTF_STYLE_ITALIC},
    {"underline", TTF_STYLE_UNDERLINE},
    {"strikethrough", TTF_STYLE_STRIKETHROUGH},
};

PyObject *style_get(PyObject *self, void *closure)
{
    const StyleProp *p = static_cast<const StyleProp *>(closure);
    return get_style_bit(self, p->bit);
}

int style_set(PyObject *self, PyObject *value, void *closure)
{
    const StyleProp *p = static_cast<const StyleProp *>(closure);
    if (!value) {
        PyErr_Format(PyExc_AttributeError, "Cannot delete attribute %s",
                     p->name);
        return -1;
    }
    return set_style_bit(self, value, p->bit);
}

void *prop(int i) { return const_cast<StyleProp *>(&k_style_props[i]); }

PyGetSetDef font_getset[] = {
    {"bold", style_get, style_set,
     "bold -> bool\nGets or sets whether the font should be rendered in "
     "(faked) bold.",
     prop(0)},
    {"italic", style_get, style_set,
     "italic -> bool\nGets or sets whether the font should be rendered in "
     "(faked) italics.",
     prop(1)},
    {"underline", style_get, style_set,
     "underline -> bool\nGets or sets whether the font should be rendered "
     "with an underline.",
     prop(2)},
    {"strikethrough", style_get, style_set,
     "strikethrough -> bool\nGets or sets whether the font should be "
     "rendered with a strikethrough.",
     prop(3)},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

void font_type_setup()
{
    PyTypeObject &t = lmFont_Type;
    t.tp_name = "lumora.font.Font";
    t.tp_basicsize = sizeof(lmFontObject);
    t.tp_dealloc = font_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = font_traverse;
    t.tp_clear = font_clear;
    t.tp_doc =
        "Font(file_path=None, size=12) -> Font\n"
        "Font(file_path, size) -> Font\n"
        "Font(pathlib.Path, size) -> Font\n"
        "Font(object, size) -> Font\n"
        "create a new Font object from a file";
    t.tp_weaklistoffset = offsetof(lmFontObject, weakreflist);
    t.tp_methods = font_methods;
    t.tp_getset = font_getset;
    t.tp_init = font_init;
    t.tp_new = font_new;
}

// Capsule slot 1: a Font owning an already opened handle.
PyObject *lmFont_New(TTF_Font *handle)
{
    if (!handle) {
        PyErr_SetString(PyExc_RuntimeError, "unable to load font.");
        return nullptr;
    }
    lmFontObject *f = reinterpret_cast<lmFontObject *>(
        font_new(&lmFont_Type, nullptr, nullptr));
    if (!f)
        return nullptr;
    f->font = handle;
    f->generation = g_generation;
    return reinterpret_cast<PyObject *>(f);
}

// ---------------------------------------------------------------------------
// Module functions
// ---------------------------------------------------------------------------
PyObject *fontmod_init(PyObject *, PyObject *)
{
    if (g_initialised)
        Py_RETURN_NONE;
    {
        // Another thread may have started the engine while this one waited.
        FtLock lock;
        if (!g_initialised) {
            if (TTF_Init() != 0)
                return raise_sdl_error();
            g_initialised = 1;
        }
    }
    Py_RETURN_NONE;
}

PyObject *fontmod_quit(PyObject *, PyObject *)
{
    if (g_initialised && g_fonts_in_use) {
        // Its handle would be freed under the call using it.
        PyErr_SetString(PyExc_RuntimeError,
                        "cannot quit the font module while a font is in use");
        return nullptr;
    }
    if (g_initialised) {
        FtLock lock;
        if (g_initialised) {
            TTF_Quit();
            g_initialised = 0;
            ++g_generation;
        }
    }
    Py_RETURN_NONE;
}

PyObject *fontmod_get_init(PyObject *, PyObject *)
{
    return PyBool_FromLong(g_initialised);
}

PyObject *fontmod_get_default_font(PyObject *, PyObject *)
{
    return PyUnicode_FromString(k_default_font);
}

PyObject *fontmod_get_sdl_ttf_version(PyObject *, PyObject *args,
                                      PyObject *kwds)
{
    static const char *kwlist[] = {"linked", nullptr};
    int linked = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|p",
                                     const_cast<char **>(kwlist), &linked))
        return nullptr;
    if (linked) {
        const SDL_version *v = TTF_Linked_Version();
        return Py_BuildValue("(iii)", v->major, v->minor, v->patch);
    }
    return Py_BuildValue("(iii)", SDL_TTF_MAJOR_VERSION,
                         SDL_TTF_MINOR_VERSION, SDL_TTF_PATCHLEVEL);
}

PyMethodDef fontmod_methods[] = {
    {"init", fontmod_init, METH_NOARGS,
     "init() -> None\ninitialize the font module"},
    {"quit", fontmod_quit, METH_NOARGS,
     "quit() -> None\nuninitialize the font module"},
    {"get_init", fontmod_get_init, METH_NOARGS,
     "get_init() -> bool\ntrue if the font module is initialized"},
    {"get_default_font", fontmod_get_default_font, METH_NOARGS,
     "get_default_font() -> string\nget the filename of the default font"},
    {"get_sdl_ttf_version",
     (PyCFunction)(void (*)(void))fontmod_get_sdl_ttf_version,
     METH_VARARGS | METH_KEYWORDS,
     "get_sdl_ttf_version(linked=True) -> (major, minor, patch)\nget the "
     "version of the SDL_ttf library"},
    {nullptr, nullptr, 0, nullptr}};

LM_MODULE_DEF(font_module, "font", "lumora module for loading and rendering fonts",
              fontmod_methods);

}  // namespace

PyMODINIT_FUNC PyInit_font(void)
{
    LM_IMPORT(base);
    LM_IMPORT(color);
    LM_IMPORT_SURFACE();
    LM_IMPORT(streamwrap);

    if (!g_ft_mutex) {
        g_ft_mutex = SDL_CreateMutex();
        if (!g_ft_mutex)
            return lm_RaiseSDLError();
    }

    font_type_setup();
    lm::Ref module(lm_module_with_type(&font_module, "Font", &lmFont_Type));
    if (!module)
        return nullptr;
    if (PyModule_AddIntConstant(module.get(), "UCS4", 1) < 0)
        return nullptr;

    font_slots[LM_FONT_TYPE] = &lmFont_Type;
    font_slots[LM_FONT_NEW] = reinterpret_cast<void *>(lmFont_New);
    font_slots[LM_FONT_INIT_FLAG] = &g_initialised;
    if (lm_export_slots(module.get(), "font", font_slots) < 0)
        return nullptr;
    return module.release();
}
