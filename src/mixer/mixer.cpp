// lumora.mixer: the audio device, sound effects and their channels.
//
// The module opens the device through SDL_mixer, makes Sound objects from
// files, file objects or raw samples, and plays them on SDL_mixer's
// channels.  The music stream is lumora.tunestream, reachable here as
// `music`; quitting the mixer frees its pieces through the two pointer
// capsules that module exports.
//
// SDL_mixer calls the channel-finished hook with its audio lock held, on
// the audio thread or on a thread halting a channel; the hook takes the
// interpreter lock to drop the finished Sound, start a queued one and post
// the channel's end event.  So nothing may wait for the audio lock while
// holding the interpreter lock: every SDL_mixer call that takes it runs
// with the interpreter lock released.  The per-channel table (what plays,
// what is queued, the end event) is guarded by the interpreter lock.
#include "frame.h"

#include <SDL_mixer.h>

#include <utility>
#include <vector>

namespace {

struct lmSoundObject {
    PyObject_HEAD
    Mix_Chunk *chunk;
    // The device format the samples were made for.
    int frequency;
    Uint16 format;
    int channels;
    PyObject *weakreflist;
    Py_ssize_t exports;  // live buffer views of the samples
};

struct lmChannelObject {
    PyObject_HEAD
    int id;
};

PyTypeObject lmSound_Type;
PyTypeObject lmChannel_Type;

struct ChannelData {
    PyObject *sound = nullptr;  // strong references
    PyObject *queue = nullptr;
    int endevent = 0;
};
std::vector<ChannelData> g_chan;
int g_reserved = 0;

// Defaults of init(), changed by pre_init().
constexpr int k_frequency = 44100, k_size = -16, k_channels = 2, k_buffer = 512;
int g_frequency = k_frequency, g_size = k_size, g_channels = k_channels,
    g_buffer = k_buffer;
// The most channels set_num_channels() allocates; SDL_mixer sizes its own
// table with an int product.
constexpr int k_max_channels = 4096;

Mix_Music **g_music_ptr = nullptr;
Mix_Music **g_queue_ptr = nullptr;
bool g_quit_registered = false;

bool spec_or_raise(int *freq = nullptr, Uint16 *fmt = nullptr, int *chans = nullptr)
{
    int f = 0, c = 0;
    Uint16 m = 0;
    if (Mix_QuerySpec(&f, &m, &c))
    {
        if (freq)
            *freq = f;
        if (fmt)
            *fmt = m;
        if (chans)
            *chans = c;
        return true;
    }
    PyErr_SetString(lmExc_SDLError, "mixer not initialized");
    return false;
}
#define MIXER_OR_RAISE() do { if (!spec_or_raise()) return nullptr; } while (0)

int format_to_size(Uint16 fmt)
{
    int bits = SDL_AUDIO_BITSIZE(fmt);
    return SDL_AUDIO_ISSIGNED(fmt) && !SDL_AUDIO_ISFLOAT(fmt) ? -bits : bits;
}

bool size_to_format(int size, Uint16 *fmt)
{
    switch (size) {
    case 8: *fmt = AUDIO_U8; return true;
    case -8: *fmt = AUDIO_S8; return true;
    case 16: *fmt = AUDIO_U16SYS; return true;
    case -16: *fmt = AUDIO_S16SYS; return true;
    case 32: *fmt = AUDIO_F32SYS; return true;
    case -32: *fmt = AUDIO_S32SYS; return true;
    default: return false;
    }
}

int mix_volume(double v) { return (int)(lm_unit_clamp(v) * MIX_MAX_VOLUME); }

PyObject *make_channel(int id)
{
    lmChannelObject *c = PyObject_New(lmChannelObject, &lmChannel_Type);
    if (c)
        c->id = id;
    return (PyObject *)c;
}

// Channel-finished hook.  Audio lock held (recursive), interpreter lock not.
void SDLCALL channel_done(int ch)
{
    if (!lm_python_available())
        return;
    PyGILState_STATE gs = lm::gil_ensure();
    if (ch >= 0 && (size_t)ch < g_chan.size()) {
        ChannelData &d = g_chan[ch];
        PyObject *done = d.sound;
        d.sound = nullptr;
        if (d.queue) {
            d.sound = d.queue;
            d.queue = nullptr;
            Mix_PlayChannelTimed(ch, ((lmSoundObject *)d.sound)->chunk, 0, -1);
        }
        lm_post_end_event(d.endevent);
        // May free the finished Sound; its chunk is no longer mixed.
        Py_XDECREF(done);
    }
    PyGILState_Release(gs);
}

// Drop the references of channels [from, end) of a table moved out of the
// way.  Interpreter lock held.
void drop_channels(std::vector<ChannelData> &table, size_t from)
{
    for (size_t i = from; i < table.size(); ++i) {
        Py_CLEAR(table[i].sound);
        Py_CLEAR(table[i].queue);
    }
}

void close_mixer()
{
    if (!Mix_QuerySpec(nullptr, nullptr, nullptr))
        return;
    {
        // Unhook first: nothing on the audio side touches the music
        // fields after this, so they can be taken here.
        lm::GilRelease nogil;
        Mix_HookMusicFinished(nullptr);
        Mix_HaltMusic();
        Mix_ChannelFinished(nullptr);
        Mix_HaltChannel(-1);
    }
    Mix_Music *m[2] = {nullptr, nullptr};
    if (g_music_ptr) {
        m[0] = *g_music_ptr;
        m[1] = *g_queue_ptr;
        *g_music_ptr = *g_queue_ptr = nullptr;
    }
    {
        lm::GilRelease nogil;
        for (Mix_Music *p : m)
            if (p)
                Mix_FreeMusic(p);
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    std::vector<ChannelData> old;
    old.swap(g_chan);
    drop_channels(old, 0);
    g_reserved = 0;
}

void base_quit_hook(void)
{
    g_quit_registered = false;
    close_mixer();
}

// ---------------------------------------------------------------------------
// Module functions
// ---------------------------------------------------------------------------
const char *k_init_kw[] = {"frequency", "size", "channels", "buffer", nullptr};

PyObject *mixer_init(PyObject *, PyObject *args, PyObject *kwds)
{
    int freq = g_frequency, size = g_size, chans = g_channels, buffer = g_buffer;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|iiii",
                                     const_cast<char **>(k_init_kw), &freq,
                                     &size, &chans, &buffer))
        return nullptr;
    if (Mix_QuerySpec(nullptr, nullptr, nullptr))
        Py_RETURN_NONE;
    Uint16 fmt;
    if (!size_to_format(size, &fmt)) {
        PyErr_Format(PyExc_ValueError, "unsupported size %d", size);
        return nullptr;
    }
    if (freq <= 0) {
        PyErr_SetString(PyExc_ValueError, "frequency must be positive");
        return nullptr;
    }
    if (chans != 1 && chans != 2 && chans != 4 && chans != 6) {
        PyErr_SetString(PyExc_ValueError,
                        "'channels' must be 1, 2, 4 or 6");
        return nullptr;
    }
    // SDL keeps the buffer length as a 16-bit sample count.
    if (buffer <= 0 || buffer > 32768) {
        PyErr_SetString(PyExc_ValueError,
                        "buffer size must be between 1 and 32768");
        return nullptr;
    }
    int pow2 = 1;
    while (pow2 < buffer)
        pow2 <<= 1;

    bool ok;
    {
        lm::GilRelease nogil;
        ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (ok && Mix_OpenAudioDevice(freq, fmt, chans, pow2, nullptr,
                                      SDL_AUDIO_ALLOW_FREQUENCY_CHANGE |
                                          SDL_AUDIO_ALLOW_CHANNELS_CHANGE) < 0) {
            // Keep SDL's reason across the subsystem shutdown.
            char why[256];
            SDL_strlcpy(why, SDL_GetError(), sizeof why);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            SDL_SetError("%s", why);
            ok = false;
        }
        if (ok)
            Mix_ChannelFinished(channel_done);
    }
    if (!ok)
        return lm_RaiseSDLError();
    g_chan.assign((size_t)Mix_AllocateChannels(-1), ChannelData{});
    if (!g_quit_registered) {
        lm_RegisterQuit(base_quit_hook);
        g_quit_registered = true;
    }
    Py_RETURN_NONE;
}

PyObject *mixer_pre_init(PyObject *, PyObject *args, PyObject *kwds)
{
    int freq = 0, size = 0, chans = 0, buffer = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|iiii",
                                     const_cast<char **>(k_init_kw), &freq,
                                     &size, &chans, &buffer))
        return nullptr;
    g_frequency = freq ? freq : k_frequency;
    g_size = size ? size : k_size;
    g_channels = chans ? chans : k_channels;
    g_buffer = buffer ? buffer : k_buffer;
    Py_RETURN_NONE;
}

PyObject *mixer_quit(PyObject *, PyObject *)
{
    close_mixer();
    Py_RETURN_NONE;
}

PyObject *mixer_get_init(PyObject *, PyObject *)
{
    int freq = 0, chans = 0;
    Uint16 fmt = 0;
    if (!Mix_QuerySpec(&freq, &fmt, &chans))
        Py_RETURN_NONE;
    return Py_BuildValue("(iii)", freq, format_to_size(fmt), chans);
}

PyObject *mixer_set_num_channels(PyObject *, PyObject *args)
{
    int n;
    if (!PyArg_ParseTuple(args, "i", &n))
        return nullptr;
    MIXER_OR_RAISE();
    if (n < 0 || n > k_max_channels) {
        PyErr_Format(PyExc_ValueError,
                     "number of channels must be between 0 and %d",
                     k_max_channels);
        return nullptr;
    }
    // Grown before and shrunk after: halting the dropped channels runs the
    // finished hook, which must still find them in the table.
    if ((size_t)n > g_chan.size())
        g_chan.resize((size_t)n);
    {
        lm::GilRelease nogil;
        n = Mix_AllocateChannels(n);  // what SDL_mixer really has
    }
    if ((size_t)n < g_chan.size()) {
        std::vector<ChannelData> tail(g_chan.begin() + n, g_chan.end());
        g_chan.resize((size_t)n);
        drop_channels(tail, 0);
    }
    if (g_reserved > n)
        g_reserved = n;
    Py_RETURN_NONE;
}

PyObject *mixer_get_num_channels(PyObject *, PyObject *)
{
    MIXER_OR_RAISE();
    return PyLong_FromLong(Mix_AllocateChannels(-1));
}

PyObject *mixer_set_reserved(PyObject *, PyObject *args)
{
    int n;
    if (!PyArg_ParseTuple(args, "i", &n))
        return nullptr;
    MIXER_OR_RAISE();
    g_reserved = Mix_ReserveChannels(n < 0 ? 0 : n);
    return PyLong_FromLong(g_reserved);
}

PyObject *mixer_find_channel(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"force", nullptr};
    int force = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|p", const_cast<char **>(kwlist),
                                     &force))
        return nullptr;
    MIXER_OR_RAISE();
    // Reserved channels are never handed out, as for play().
    int found = -1;
    for (int i = g_reserved; i < (int)g_chan.size() && found < 0; ++i)
        if (!Mix_Playing(i))
            found = i;
    if (found < 0 && force)
        found = Mix_GroupOldest(-1);
    if (found < 0)
        Py_RETURN_NONE;
    return make_channel(found);
}

// stop/pause/unpause/fadeout of one channel or all (-1).
enum class Op { Stop, Pause, Unpause, Fadeout };
void channel_op(int ch, Op op, int ms = 0)
{
    lm::GilRelease nogil;
    switch (op) {
    case Op::Stop: Mix_HaltChannel(ch); break;
    case Op::Pause: Mix_Pause(ch); break;
    case Op::Unpause: Mix_Resume(ch); break;
    case Op::Fadeout: Mix_FadeOutChannel(ch, ms); break;
    }
}

// stop(), pause() and unpause() of every channel.
template <Op op>
PyObject *mixer_all(PyObject *, PyObject *)
{
    MIXER_OR_RAISE();
    channel_op(-1, op);
    Py_RETURN_NONE;
}

PyObject *mixer_fadeout(PyObject *, PyObject *args)
{
    int ms;
    if (!PyArg_ParseTuple(args, "i", &ms))
        return nullptr;
    MIXER_OR_RAISE();
    channel_op(-1, Op::Fadeout, ms);
    Py_RETURN_NONE;
}

PyObject *mixer_get_busy(PyObject *, PyObject *)
{
    MIXER_OR_RAISE();
    return PyBool_FromLong(Mix_Playing(-1) > 0);
}

PyObject *mixer_get_sdl_mixer_version(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"linked", nullptr};
    int linked = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|p", const_cast<char **>(kwlist),
                                     &linked))
        return nullptr;
    if (linked) {
        const SDL_version *v = Mix_Linked_Version();
        return Py_BuildValue("(iii)", v->major, v->minor, v->patch);
    }
    return Py_BuildValue("(iii)", SDL_MIXER_MAJOR_VERSION, SDL_MIXER_MINOR_VERSION,
                         SDL_MIXER_PATCHLEVEL);
}

// ---------------------------------------------------------------------------
// Playing a Sound on a channel
// ---------------------------------------------------------------------------
Mix_Chunk *live_chunk(PyObject *self)
{
    lmSoundObject *s = (lmSoundObject *)self;
    if (!s->chunk) {
        PyErr_SetString(lmExc_SDLError, "Sound has no samples");
        return nullptr;
    }
    return s->chunk;
}

// Samples converted for one device format make noise on another.
bool sound_matches_device(lmSoundObject *s)
{
    int freq, chans;
    Uint16 fmt;
    if (!spec_or_raise(&freq, &fmt, &chans))
        return false;
    if (freq != s->frequency || fmt != s->format || chans != s->channels) {
        PyErr_SetString(lmExc_SDLError,
                        "Sound was made for a different mixer format");
        return false;
    }
    return true;
}

// Play `sound` on channel `ch` (-1: the first free one).  Returns the
// channel used, -1 when none was free, or -2 with an exception set.
int play_on(int ch, PyObject *sound, int loops, int maxtime, int fade_ms)
{
    Mix_Chunk *chunk = live_chunk(sound);
    if (!chunk || !sound_matches_device((lmSoundObject *)sound))
        return -2;
    // Playing replaces whatever was queued on that channel.
    lm::Ref old_queue;
    if (ch >= 0 && (size_t)ch < g_chan.size()) {
        old_queue.reset(g_chan[ch].queue);
        g_chan[ch].queue = nullptr;
    }
    int ticks = maxtime > 0 ? maxtime : -1;
    int got;
    {
        lm::GilRelease nogil;
        got = fade_ms > 0 ? Mix_FadeInChannelTimed(ch, chunk, loops, fade_ms, ticks)
                          : Mix_PlayChannelTimed(ch, chunk, loops, ticks);
    }
    if (got >= 0 && (size_t)got < g_chan.size()) {
        // A sound short enough to have ended already was seen off by the
        // finished hook before we got the interpreter lock back; only a
        // channel still playing it keeps it.
        Py_INCREF(sound);
        lm::Ref old(g_chan[got].sound);
        g_chan[got].sound = sound;
        if (!Mix_Playing(got))
            Py_CLEAR(g_chan[got].sound);
    }
    if (got < 0 && ch >= 0) {
        lm_RaiseSDLError();
        return -2;
    }
    return got;
}

// The channel of a Channel object, or -1 with IndexError raised when the
// mixer no longer has it.
int channel_id(PyObject *self)
{
    int id = ((lmChannelObject *)self)->id;
    if (!spec_or_raise())
        return -1;
    if (id < 0 || (size_t)id >= g_chan.size()) {
        PyErr_SetString(PyExc_IndexError, "invalid channel index");
        return -1;
    }
    return id;
}
#define CHANNEL_OR_RAISE(var)        \
    int var = channel_id(self);      \
    if (var < 0)                     \
        return nullptr

// ---------------------------------------------------------------------------
// Sound
// ---------------------------------------------------------------------------
PyObject *sound_new(PyTypeObject *type, PyObject *, PyObject *)
{
    lmSoundObject *s = (lmSoundObject *)type->tp_alloc(type, 0);
    if (s) {
        s->chunk = nullptr;
        s->weakreflist = nullptr;
        s->exports = 0;
    }
    return (PyObject *)s;
}

void free_chunk(Mix_Chunk *chunk)
{
    if (!chunk)
        return;
    lm::GilRelease nogil;
    Mix_FreeChunk(chunk);
}

Mix_Chunk *chunk_from_buffer(PyObject *obj, int frame_bytes)
{
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0)
        return nullptr;
    Mix_Chunk *chunk = nullptr;
    Py_ssize_t len = view.len;
    if (len <= 0 || len % frame_bytes != 0) {
        PyErr_Format(PyExc_ValueError,
                     "buffer length must be a positive multiple of the sample "
                     "frame size (%d bytes)", frame_bytes);
    }
    else if ((unsigned long long)len > UINT32_MAX) {
        PyErr_SetString(PyExc_ValueError, "buffer too large for a Sound");
    }
    else {
        Uint8 *mem = static_cast<Uint8 *>(SDL_malloc((size_t)len));
        if (!mem) {
            PyErr_NoMemory();
        }
        else {
            memcpy(mem, view.buf, (size_t)len);
            chunk = Mix_QuickLoad_RAW(mem, (Uint32)len);
            if (!chunk) {
                SDL_free(mem);
                lm_RaiseSDLError();
            }
            else {
                chunk->allocated = 1;  // Mix_FreeChunk frees the samples too
            }
        }
    }
    PyBuffer_Release(&view);
    return chunk;
}

int sound_init(PyObject *self_, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"file", "buffer", nullptr};
    PyObject *file = nullptr, *buffer = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OO", const_cast<char **>(kwlist),
                                     &file, &buffer))
        return -1;
    if ((file != nullptr) == (buffer != nullptr)) {
        PyErr_SetString(PyExc_TypeError,
                        "Sound takes either a file or a buffer argument");
        return -1;
    }
    if (((lmSoundObject *)self_)->exports > 0) {
        // Views of the old samples would point at freed memory.
        PyErr_SetString(PyExc_BufferError,
                        "cannot reinitialize a Sound while its samples are exported");
        return -1;
    }
    int freq, chans;
    Uint16 fmt;
    if (!spec_or_raise(&freq, &fmt, &chans))
        return -1;
    Mix_Chunk *chunk;
    if (buffer) {
        chunk = chunk_from_buffer(buffer, SDL_AUDIO_BITSIZE(fmt) / 8 * chans);
        if (!chunk)
            return -1;
    }
    else {
        SDL_RWops *rw = lmStream_FromObject(file, nullptr);
        if (!rw)
            return -1;
        {
            lm::GilRelease nogil;
            chunk = Mix_LoadWAV_RW(rw, 1);  // closes the stream either way
        }
        if (!chunk) {
            lm_RaiseSDLError();
            return -1;
        }
    }
    lmSoundObject *self = (lmSoundObject *)self_;
    Mix_Chunk *old = self->chunk;
    self->chunk = chunk;
    self->frequency = freq;
    self->format = fmt;
    self->channels = chans;
    free_chunk(old);
    return 0;
}

void sound_dealloc(PyObject *self_)
{
    lmSoundObject *self = (lmSoundObject *)self_;
    if (self->weakreflist)
        PyObject_ClearWeakRefs(self_);
    {
        lm::ErrorStash keep;
        free_chunk(self->chunk);
    }
    Py_TYPE(self_)->tp_free(self_);
}

PyObject *sound_play(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"loops", "maxtime", "fade_ms", nullptr};
    int loops = 0, maxtime = 0, fade_ms = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|iii", const_cast<char **>(kwlist),
                                     &loops, &maxtime, &fade_ms))
        return nullptr;
    int ch = play_on(-1, self, loops, maxtime, fade_ms);
    if (ch == -2)
        return nullptr;
    if (ch < 0)
        Py_RETURN_NONE;
    return make_channel(ch);
}

// Channels now playing this sound's chunk.
std::vector<int> channels_of(Mix_Chunk *chunk)
{
    std::vector<int> out;
    for (int i = 0; i < (int)g_chan.size(); ++i)
        if (Mix_Playing(i) && Mix_GetChunk(i) == chunk)
            out.push_back(i);
    return out;
}

PyObject *sound_each_channel(PyObject *self, Op op, int ms)
{
    MIXER_OR_RAISE();
    Mix_Chunk *chunk = live_chunk(self);
    if (!chunk)
        return nullptr;
    for (int ch : channels_of(chunk))
        channel_op(ch, op, ms);
    Py_RETURN_NONE;
}

PyObject *sound_stop(PyObject *self, PyObject *)
{
    return sound_each_channel(self, Op::Stop, 0);
}

PyObject *sound_fadeout(PyObject *self, PyObject *args)
{
    int ms;
    if (!PyArg_ParseTuple(args, "i", &ms))
        return nullptr;
    return sound_each_channel(self, Op::Fadeout, ms);
}

PyObject *sound_set_volume(PyObject *self, PyObject *args)
{
    double v;
    if (!PyArg_ParseTuple(args, "d", &v))
        return nullptr;
    MIXER_OR_RAISE();
    Mix_Chunk *chunk = live_chunk(self);
    if (!chunk)
        return nullptr;
    Mix_VolumeChunk(chunk, mix_volume(v));
    Py_RETURN_NONE;
}

PyObject *sound_get_volume(PyObject *self, PyObject *)
{
    MIXER_OR_RAISE();
    Mix_Chunk *chunk = live_chunk(self);
    if (!chunk)
        return nullptr;
    return PyFloat_FromDouble(Mix_VolumeChunk(chunk, -1) / (double)MIX_MAX_VOLUME);
}

PyObject *sound_get_num_channels(PyObject *self, PyObject *)
{
    MIXER_OR_RAISE();
    Mix_Chunk *chunk = live_chunk(self);
    if (!chunk)
        return nullptr;
    return PyLong_FromSize_t(channels_of(chunk).size());
}

PyObject *sound_get_length(PyObject *self_, PyObject *)
{
    lmSoundObject *self = (lmSoundObject *)self_;
    Mix_Chunk *chunk = live_chunk(self_);
    if (!chunk)
        return nullptr;
    double per_sec = (double)self->frequency * self->channels *
                     (SDL_AUDIO_BITSIZE(self->format) / 8);
    return PyFloat_FromDouble(per_sec > 0 ? chunk->alen / per_sec : 0.0);
}

PyObject *sound_get_raw(PyObject *self, PyObject *)
{
    Mix_Chunk *chunk = live_chunk(self);
    if (!chunk)
        return nullptr;
    return PyBytes_FromStringAndSize((const char *)chunk->abuf, chunk->alen);
}

const char *buffer_format(Uint16 fmt)
{
    switch (fmt) {
    case AUDIO_U8: return "B";
    case AUDIO_S8: return "b";
    case AUDIO_U16SYS: return "H";
    case AUDIO_S16SYS: return "h";
    case AUDIO_S32SYS: return "i";
    case AUDIO_F32SYS: return "f";
    default: return nullptr;
    }
}

// Samples as (frames,) for mono or (frames, channels), native items.
int sound_getbuffer(PyObject *self_, Py_buffer *view, int flags)
{
    lmSoundObject *self = (lmSoundObject *)self_;
    view->obj = nullptr;
    Mix_Chunk *chunk = live_chunk(self_);
    if (!chunk)
        return -1;
    const char *fmt = buffer_format(self->format);
    if (!fmt) {
        PyErr_SetString(PyExc_BufferError, "unsupported sample format");
        return -1;
    }
    Py_ssize_t item = SDL_AUDIO_BITSIZE(self->format) / 8;
    Py_ssize_t chans = self->channels;
    Py_ssize_t *dims = static_cast<Py_ssize_t *>(PyMem_Malloc(4 * sizeof(Py_ssize_t)));
    if (!dims) {
        PyErr_NoMemory();
        return -1;
    }
    dims[0] = (Py_ssize_t)chunk->alen / (item * chans);
    dims[1] = chans;
    dims[2] = item * chans;
    dims[3] = item;
    view->buf = chunk->abuf;
    view->len = dims[0] * chans * item;
    view->readonly = 0;
    view->itemsize = item;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char *>(fmt) : nullptr;
    view->ndim = chans > 1 ? 2 : 1;
    view->shape = (flags & PyBUF_ND) ? dims : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES
                        ? (chans > 1 ? dims + 2 : dims + 3)
                        : nullptr;
    view->suboffsets = nullptr;
    view->internal = dims;
    Py_INCREF(self_);
    view->obj = self_;
    self->exports++;
    return 0;
}

void sound_releasebuffer(PyObject *self, Py_buffer *view)
{
    ((lmSoundObject *)self)->exports--;
    PyMem_Free(view->internal);
}

PyBufferProcs sound_as_buffer = {sound_getbuffer, sound_releasebuffer};

#define KW (METH_VARARGS | METH_KEYWORDS)
#define FN(f) (PyCFunction)(void (*)(void))(f)

PyMethodDef sound_methods[] = {
    {"play", FN(sound_play), KW,
     "play(loops=0, maxtime=0, fade_ms=0) -> Channel\nbegin sound playback"},
    {"stop", sound_stop, METH_NOARGS, "stop() -> None\nstop sound playback"},
    {"fadeout", sound_fadeout, METH_VARARGS,
     "fadeout(time) -> None\nstop sound playback after fading out"},
    {"set_volume", sound_set_volume, METH_VARARGS,
     "set_volume(value) -> None\nset the playback volume for this Sound"},
    {"get_volume", sound_get_volume, METH_NOARGS,
     "get_volume() -> value\nget the playback volume"},
    {"get_num_channels", sound_get_num_channels, METH_NOARGS,
     "get_num_channels() -> count\ncount how many times this Sound is playing"},
    {"get_length", sound_get_length, METH_NOARGS,
     "get_length() -> seconds\nget the length of the Sound"},
    {"get_raw", sound_get_raw, METH_NOARGS,
     "get_raw() -> bytes\nreturn a bytestring copy of the Sound samples."},
    {nullptr, nullptr, 0, nullptr}};

// ---------------------------------------------------------------------------
// Channel
// ---------------------------------------------------------------------------
PyObject *channel_new(PyTypeObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"id", nullptr};
    int id;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "i", const_cast<char **>(kwlist), &id))
        return nullptr;
    MIXER_OR_RAISE();
    if (id < 0 || (size_t)id >= g_chan.size()) {
        PyErr_SetString(PyExc_IndexError, "invalid channel index");
        return nullptr;
    }
    return make_channel(id);
}

bool sound_arg(PyObject *o)
{
    if (PyObject_TypeCheck(o, &lmSound_Type))
        return true;
    PyErr_Format(PyExc_TypeError, "argument must be a Sound, not %.200s",
                 Py_TYPE(o)->tp_name);
    return false;
}

PyObject *channel_play(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"sound", "loops", "maxtime", "fade_ms", nullptr};
    PyObject *sound;
    int loops = 0, maxtime = 0, fade_ms = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|iii", const_cast<char **>(kwlist),
                                     &sound, &loops, &maxtime, &fade_ms))
        return nullptr;
    if (!sound_arg(sound))
        return nullptr;
    CHANNEL_OR_RAISE(ch);
    if (play_on(ch, sound, loops, maxtime, fade_ms) == -2)
        return nullptr;
    Py_RETURN_NONE;
}

PyObject *channel_queue(PyObject *self, PyObject *sound)
{
    if (!sound_arg(sound))
        return nullptr;
    CHANNEL_OR_RAISE(ch);
    if (!Mix_Playing(ch)) {
        if (play_on(ch, sound, 0, 0, 0) == -2)
            return nullptr;
        Py_RETURN_NONE;
    }
    Mix_Chunk *chunk = live_chunk(sound);
    if (!chunk || !sound_matches_device((lmSoundObject *)sound))
        return nullptr;
    Py_INCREF(sound);
    lm::Ref old(g_chan[ch].queue);
    g_chan[ch].queue = sound;
    Py_RETURN_NONE;
}

PyObject *channel_simple(PyObject *self, Op op, int ms = 0)
{
    CHANNEL_OR_RAISE(ch);
    channel_op(ch, op, ms);
    Py_RETURN_NONE;
}

PyObject *channel_stop(PyObject *self, PyObject *) { return channel_simple(self, Op::Stop); }
PyObject *channel_pause(PyObject *self, PyObject *) { return channel_simple(self, Op::Pause); }
PyObject *channel_unpause(PyObject *self, PyObject *)
{
    return channel_simple(self, Op::Unpause);
}

PyObject *channel_fadeout(PyObject *self, PyObject *args)
{
    int ms;
    if (!PyArg_ParseTuple(args, "i", &ms))
        return nullptr;
    return channel_simple(self, Op::Fadeout, ms);
}

PyObject *channel_set_volume(PyObject *self, PyObject *args)
{
    double left, right = -1.0;
    PyObject *right_obj = nullptr;
    if (!PyArg_ParseTuple(args, "d|O", &left, &right_obj))
        return nullptr;
    if (right_obj && !lm_DoubleFromObj(right_obj, &right)) {
        PyErr_SetString(PyExc_TypeError, "volume must be a number");
        return nullptr;
    }
    CHANNEL_OR_RAISE(ch);
    int volume = MIX_MAX_VOLUME;
    Uint8 l = 255, r = 255;
    if (right_obj) {
        l = (Uint8)(lm_unit_clamp(left) * 255);
        r = (Uint8)(lm_unit_clamp(right) * 255);
    }
    else {
        volume = mix_volume(left);
    }
    int ok;
    {
        lm::GilRelease nogil;
        // Both sides at full is "no panning": SDL_mixer drops the effect.
        ok = Mix_SetPanning(ch, l, r);
        Mix_Volume(ch, volume);
    }
    if (!ok)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

PyObject *channel_get_volume(PyObject *self, PyObject *)
{
    CHANNEL_OR_RAISE(ch);
    return PyFloat_FromDouble(Mix_Volume(ch, -1) / (double)MIX_MAX_VOLUME);
}

PyObject *channel_get_busy(PyObject *self, PyObject *)
{
    CHANNEL_OR_RAISE(ch);
    return PyBool_FromLong(Mix_Playing(ch) != 0);
}

PyObject *or_none(PyObject *o)
{
    if (!o)
        Py_RETURN_NONE;
    Py_INCREF(o);
    return o;
}

PyObject *channel_get_sound(PyObject *self, PyObject *)
{
    CHANNEL_OR_RAISE(ch);
    return or_none(Mix_Playing(ch) ? g_chan[ch].sound : nullptr);
}

PyObject *channel_get_queue(PyObject *self, PyObject *)
{
    CHANNEL_OR_RAISE(ch);
    return or_none(g_chan[ch].queue);
}

PyObject *channel_set_endevent(PyObject *self, PyObject *args)
{
    int type = 0;
    if (!PyArg_ParseTuple(args, "|i", &type))
        return nullptr;
    CHANNEL_OR_RAISE(ch);
    g_chan[ch].endevent = type;
    Py_RETURN_NONE;
}

PyObject *channel_get_endevent(PyObject *self, PyObject *)
{
    CHANNEL_OR_RAISE(ch);
    return PyLong_FromLong(g_chan[ch].endevent);
}

PyObject *channel_get_id(PyObject *self, void *)
{
    return PyLong_FromLong(((lmChannelObject *)self)->id);
}

PyObject *channel_richcompare(PyObject *a, PyObject *b, int op)
{
    if (!PyObject_TypeCheck(b, &lmChannel_Type) || (op != Py_EQ && op != Py_NE))
        Py_RETURN_NOTIMPLEMENTED;
    bool same = ((lmChannelObject *)a)->id == ((lmChannelObject *)b)->id;
    return PyBool_FromLong(op == Py_EQ ? same : !same);
}

Py_hash_t channel_hash(PyObject *self)
{
    Py_hash_t h = ((lmChannelObject *)self)->id;
    return h == -1 ? -2 : h;
}

PyObject *channel_repr(PyObject *self)
{
    return PyUnicode_FromFormat("<Channel(%d)>", ((lmChannelObject *)self)->id);
}

PyMethodDef channel_methods[] = {
    {"play", FN(channel_play), KW,
     "play(Sound, loops=0, maxtime=0, fade_ms=0) -> None\nplay a Sound on a "
     "specific Channel"},
    {"queue", channel_queue, METH_O,
     "queue(Sound) -> None\nqueue a Sound object to follow the current"},
    {"stop", channel_stop, METH_NOARGS, "stop() -> None\nstop playback on a Channel"},
    {"pause", channel_pause, METH_NOARGS,
     "pause() -> None\ntemporarily stop playback of a channel"},
    {"unpause", channel_unpause, METH_NOARGS,
     "unpause() -> None\nresume pause playback of a channel"},
    {"fadeout", channel_fadeout, METH_VARARGS,
     "fadeout(time) -> None\nstop playback after fading channel out"},
    {"set_volume", channel_set_volume, METH_VARARGS,
     "set_volume(value) -> None\nset_volume(left, right) -> None\nset the volume "
     "of a playing channel"},
    {"get_volume", channel_get_volume, METH_NOARGS,
     "get_volume() -> value\nget the volume of the playing channel"},
    {"get_busy", channel_get_busy, METH_NOARGS,
     "get_busy() -> bool\ncheck if the channel is active"},
    {"get_sound", channel_get_sound, METH_NOARGS,
     "get_sound() -> Sound\nget the currently playing Sound"},
    {"get_queue", channel_get_queue, METH_NOARGS,
     "get_queue() -> Sound\nreturn any Sound that is queued"},
    {"set_endevent", channel_set_endevent, METH_VARARGS,
     "set_endevent() -> None\nset_endevent(type) -> None\nhave the channel send "
     "an event when playback stops"},
    {"get_endevent", channel_get_endevent, METH_NOARGS,
     "get_endevent() -> type\nget the event a channel sends when playback stops"},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef channel_getset[] = {
    {"id", channel_get_id, nullptr, "the channel's index", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

void types_setup()
{
    PyTypeObject &s = lmSound_Type;
    s.tp_name = "lumora.mixer.Sound";
    s.tp_basicsize = sizeof(lmSoundObject);
    s.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    s.tp_doc = "Sound(file) -> Sound\nSound(buffer=...) -> Sound\nCreate a new "
               "Sound object from a file or buffer object";
    s.tp_new = sound_new;
    s.tp_init = sound_init;
    s.tp_dealloc = sound_dealloc;
    s.tp_methods = sound_methods;
    s.tp_as_buffer = &sound_as_buffer;
    s.tp_weaklistoffset = offsetof(lmSoundObject, weakreflist);

    PyTypeObject &c = lmChannel_Type;
    c.tp_name = "lumora.mixer.Channel";
    c.tp_basicsize = sizeof(lmChannelObject);
    c.tp_flags = Py_TPFLAGS_DEFAULT;
    c.tp_doc = "Channel(id) -> Channel\nCreate a Channel object for controlling "
               "playback";
    c.tp_new = channel_new;
    c.tp_dealloc = (destructor)PyObject_Free;
    c.tp_methods = channel_methods;
    c.tp_getset = channel_getset;
    c.tp_richcompare = channel_richcompare;
    c.tp_hash = channel_hash;
    c.tp_repr = channel_repr;
}

PyMethodDef mixer_methods[] = {
    {"init", FN(mixer_init), KW,
     "init(frequency=44100, size=-16, channels=2, buffer=512) -> None\n"
     "initialize the mixer module"},
    {"pre_init", FN(mixer_pre_init), KW,
     "pre_init(frequency=44100, size=-16, channels=2, buffer=512) -> None\n"
     "preset the mixer init arguments"},
    {"quit", mixer_quit, METH_NOARGS, "quit() -> None\nuninitialize the mixer"},
    {"get_init", mixer_get_init, METH_NOARGS,
     "get_init() -> (frequency, size, channels)\ntest if the mixer is initialized"},
    {"set_num_channels", mixer_set_num_channels, METH_VARARGS,
     "set_num_channels(count) -> None\nset the total number of playback channels"},
    {"get_num_channels", mixer_get_num_channels, METH_NOARGS,
     "get_num_channels() -> count\nget the total number of playback channels"},
    {"set_reserved", mixer_set_reserved, METH_VARARGS,
     "set_reserved(count) -> count\nreserve channels from being automatically used"},
    {"find_channel", FN(mixer_find_channel), KW,
     "find_channel(force=False) -> Channel\nfind an unused channel"},
    {"stop", mixer_all<Op::Stop>, METH_NOARGS, "stop() -> None\nstop playback of all channels"},
    {"pause", mixer_all<Op::Pause>, METH_NOARGS,
     "pause() -> None\ntemporarily stop playback of all sound channels"},
    {"unpause", mixer_all<Op::Unpause>, METH_NOARGS,
     "unpause() -> None\nresume paused playback of sound channels"},
    {"fadeout", mixer_fadeout, METH_VARARGS,
     "fadeout(time) -> None\nfade out the volume on all sounds before stopping"},
    {"get_busy", mixer_get_busy, METH_NOARGS,
     "get_busy() -> bool\ntest if any sound is being mixed"},
    {"get_sdl_mixer_version", FN(mixer_get_sdl_mixer_version), KW,
     "get_sdl_mixer_version(linked=True) -> (major, minor, patch)\nget the "
     "mixer's SDL version"},
    {nullptr, nullptr, 0, nullptr}};

LM_MODULE_DEF(mixer_module, "mixer", "lumora module for loading and playing sounds", mixer_methods);

// The address a tunestream pointer capsule holds.
Mix_Music **music_pointer(PyObject *music, const char *attr, const char *capname)
{
    lm::Ref cap(PyObject_GetAttrString(music, attr));
    if (!cap)
        return nullptr;
    return static_cast<Mix_Music **>(PyCapsule_GetPointer(cap.get(), capname));
}

}  // namespace

PyMODINIT_FUNC PyInit_mixer(void)
{
    LM_IMPORT(base);
    LM_IMPORT(streamwrap);
    LM_IMPORT(event);
    lm::Ref music(PyImport_ImportModule("lumora.tunestream"));
    if (!music)
        return nullptr;
    g_music_ptr = music_pointer(music.get(), "_MUSIC_POINTER",
                                "lumora.music_mixer._MUSIC_POINTER");
    g_queue_ptr = music_pointer(music.get(), "_QUEUE_POINTER",
                                "lumora.music_mixer._QUEUE_POINTER");
    if (!g_music_ptr || !g_queue_ptr)
        return nullptr;

    types_setup();
    if (PyType_Ready(&lmSound_Type) < 0 || PyType_Ready(&lmChannel_Type) < 0)
        return nullptr;
    lm::Ref mod(PyModule_Create2(&mixer_module, 1013));
    if (!mod)
        return nullptr;
    if (lm_add_type(mod.get(), "Sound", &lmSound_Type) < 0 ||
        lm_add_type(mod.get(), "Channel", &lmChannel_Type) < 0)
        return nullptr;
    if (PyModule_AddObject(mod.get(), "music", music.get()) < 0)
        return nullptr;
    music.release();
    return mod.release();
}
