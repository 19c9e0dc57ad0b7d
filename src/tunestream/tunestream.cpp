// lumora.tunestream: SDL_mixer's single music stream.
//
// The audio device belongs to lumora.mixer; this module only loads, queues
// and steers the music.  Two hooks run on SDL_mixer's side: the post-mix
// hook counts mixed bytes for get_pos(), and the end-of-music hook posts the
// end event and starts the queued piece.  The end hook runs on the audio
// thread (or on the thread calling Mix_HaltMusic) with the audio lock held
// and takes the interpreter lock to post its event; a Python file object
// streamed as music is read there under the interpreter lock too.  So no
// thread may wait for the audio lock while holding the interpreter lock:
// every SDL_mixer call that can take it runs with the interpreter lock
// released.
//
// The current and queued pieces are swapped by the end hook and replaced
// by load/queue/unload/stop on the caller's thread: both sides change them
// only under g_swap_lock, which is held for nothing but the swap.  Only the
// caller's side frees pieces, under g_ops_lock, so a piece read from the
// fields stays valid while an operation uses it; the hook parks the piece
// it replaces in `retired` for the next operation to free.
#include "frame.h"

#include <SDL_mixer.h>

#include <atomic>
#include <cstdlib>
#include <strings.h>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The two capsules point at these fields; the mixer module reads them.
Mix_Music *current_music = nullptr;
Mix_Music *queued_music = nullptr;
int queued_loops = 0;
std::atomic<int> endevent{0};

// Bytes mixed since playback (re)started, and the ticks of the last mix
// (-1: nothing plays).  Written on the audio thread, read by get_pos():
// atomic, as a plain 64-bit counter tears on 32-bit targets.
std::atomic<uint64_t> music_pos{0};
std::atomic<long long> music_pos_time{-1};
int music_frequency = 0;
Uint16 music_format = 0;
int music_channels = 0;

// A piece the end hook replaced, waiting for an operation to free it.
// There is at most one: the hook retires a piece only when it promotes a
// queued one, and queue() frees the retired piece before queueing.
Mix_Music *retired = nullptr;

SDL_mutex *g_swap_lock = nullptr;
SDL_mutex *g_ops_lock = nullptr;

// Holds a mutex for a scope.  g_swap_lock is held for nothing but a swap;
// g_ops_lock is taken with the interpreter lock released, as its holder
// waits for the audio lock.
class Hold {
  public:
    explicit Hold(SDL_mutex *m) : m_(m) { SDL_LockMutex(m_); }
    ~Hold() { SDL_UnlockMutex(m_); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

  private:
    SDL_mutex *m_;
};

// Every call but the endevent pair needs the device the mixer opened.
bool audio_or_raise()
{
    bool up = SDL_WasInit(SDL_INIT_AUDIO) != 0;
    if (!up)
        PyErr_SetString(lmExc_SDLError, "mixer not initialized");
    return up;
}
#define AUDIO_OR_RAISE() do { if (!audio_or_raise()) return nullptr; } while (0)

// Take pieces out of the fields for the caller to free: the queued one
// (with its loop count) and, with `all`, the current one too.
struct Taken {
    Mix_Music *p[3] = {nullptr, nullptr, nullptr};
};
Taken take(bool all, Mix_Music *replacement = nullptr)
{
    Taken t;
    Hold g(g_swap_lock);
    t.p[0] = queued_music;
    t.p[1] = retired;
    queued_music = retired = nullptr;
    queued_loops = 0;
    if (all) {
        t.p[2] = current_music;
        current_music = replacement;
    }
    return t;
}

// Free pieces taken out of the fields.  Call with g_ops_lock held and the
// interpreter lock released: freeing waits for the audio lock and may close
// a Python file object (which takes the interpreter lock itself).
void free_taken(const Taken &t)
{
    for (Mix_Music *m : t.p)
        if (m)
            Mix_FreeMusic(m);
}

long long ticks() { return (long long)SDL_GetTicks64(); }

void SDLCALL post_mix(void *, Uint8 *, int len)
{
    if (Mix_PausedMusic() || len <= 0)
        return;
    music_pos.fetch_add((uint64_t)len);
    music_pos_time.store(ticks());
}

void SDLCALL end_of_music(void)
{
    lm_post_end_event(endevent.load());

    Mix_Music *next = nullptr, *stray = nullptr;
    int loops = 0;
    {
        Hold g(g_swap_lock);
        if (queued_music) {
            stray = retired;
            retired = current_music;
            next = current_music = queued_music;
            loops = queued_loops;
            queued_music = nullptr;
            queued_loops = 0;
        }
    }
    if (next) {
        // The audio lock is ours here (recursive), so starting the piece
        // from inside the hook is safe.
        Mix_HookMusicFinished(end_of_music);
        music_pos.store(0);
        if (Mix_PlayMusic(next, loops) < 0) {
            music_pos_time.store(-1);
            Mix_SetPostMix(nullptr, nullptr);
        }
    }
    else {
        music_pos_time.store(-1);
        Mix_SetPostMix(nullptr, nullptr);
    }
    if (stray)
        Mix_FreeMusic(stray);
}

// Volume argument to SDL_mixer's 0..128 scale.
int mix_volume(double v) { return (int)(lm_unit_clamp(v) * MIX_MAX_VOLUME); }

}  // namespace

// ---------------------------------------------------------------------------
// Exported C functions.
// ---------------------------------------------------------------------------
LM_EXPORT Mix_MusicType _get_type_from_hint(const char *hint)
{
    if (!hint)
        return MUS_NONE;
    const char *dot = strrchr(hint, '.');
    const char *t = dot ? dot + 1 : hint;
    struct Entry {
        const char *name;
        Mix_MusicType type;
    };
    static const Entry table[] = {
        {"WAV", MUS_WAV},   {"MID", MUS_MID},   {"MIDI", MUS_MID},
        {"KAR", MUS_MID},   {"OGG", MUS_OGG},   {"FLAC", MUS_FLAC},
        {"MPG", MUS_MP3},   {"MPEG", MUS_MP3},  {"MP3", MUS_MP3},
        {"MAD", MUS_MP3},   {"669", MUS_MOD},   {"AMF", MUS_MOD},
        {"AMS", MUS_MOD},   {"DBM", MUS_MOD},   {"DSM", MUS_MOD},
        {"FAR", MUS_MOD},   {"IT", MUS_MOD},    {"MED", MUS_MOD},
        {"MDL", MUS_MOD},   {"MOD", MUS_MOD},   {"MOL", MUS_MOD},
        {"MTM", MUS_MOD},   {"NST", MUS_MOD},   {"OKT", MUS_MOD},
        {"PTM", MUS_MOD},   {"S3M", MUS_MOD},   {"STM", MUS_MOD},
        {"ULT", MUS_MOD},   {"UMX", MUS_MOD},   {"WOW", MUS_MOD},
        {"XM", MUS_MOD},
    };
    for (const Entry &e : table)
        if (strcasecmp(t, e.name) == 0)
            return e.type;
    return MUS_NONE;
}

LM_EXPORT Mix_Music *_load_music(PyObject *obj, const char *hint)
{
    if (!audio_or_raise())
        return nullptr;
    char *ext = nullptr;
    SDL_RWops *rw = lmStream_FromObject(obj, &ext);
    if (!rw) {
        // Loading failures all raise the SDL error type, with the stream
        // adapter's own message (a missing file, a non-file object).
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyErr_NormalizeException(&type, &value, &tb);
        if (value)
            PyErr_SetObject(lmExc_SDLError, value);
        else
            PyErr_SetString(lmExc_SDLError, "cannot open music stream");
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(tb);
        return nullptr;
    }
    Mix_MusicType type = _get_type_from_hint(hint ? hint : ext);
    Mix_Music *music;
    {
        lm::GilRelease nogil;
        music = Mix_LoadMUSType_RW(rw, type, 1);
    }
    free(ext);
    if (!music)
        return static_cast<Mix_Music *>((void *)lm_RaiseSDLError());
    return music;
}

// ---------------------------------------------------------------------------
// Python functions.
// ---------------------------------------------------------------------------
namespace {

PyObject *music_set_endevent(PyObject *, PyObject *args)
{
    int type = 0;
    if (!PyArg_ParseTuple(args, "|i", &type))
        return nullptr;
    endevent.store(type);
    Py_RETURN_NONE;
}

PyObject *music_get_endevent(PyObject *, PyObject *)
{
    return PyLong_FromLong(endevent.load());
}

PyObject *music_play(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"loops", "start", "fade_ms", nullptr};
    int loops = 0, fade_ms = 0;
    float start = 0.0f;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|ifi",
                                     const_cast<char **>(kwlist), &loops,
                                     &start, &fade_ms))
        return nullptr;
    AUDIO_OR_RAISE();
    if (!std::isfinite(start)) {
        PyErr_SetString(PyExc_ValueError, "start must be a finite number");
        return nullptr;
    }
    int res;
    {
        lm::GilRelease nogil;
        Hold ops(g_ops_lock);
        Mix_Music *music;
        {
            Hold g(g_swap_lock);
            music = current_music;
        }
        if (!music) {
            res = -2;
        }
        else {
            Mix_HookMusicFinished(end_of_music);
            Mix_SetPostMix(post_mix, nullptr);
            int freq = 0, chans = 0;
            Uint16 fmt = 0;
            Mix_QuerySpec(&freq, &fmt, &chans);
            music_frequency = freq;
            music_format = fmt;
            music_channels = chans;
            music_pos.store(0);
            music_pos_time.store(ticks());
            int volume = Mix_VolumeMusic(-1);
            res = Mix_FadeInMusicPos(music, loops, fade_ms, start);
            Mix_VolumeMusic(volume);
            if (res < 0) {
                // Nothing plays: no stale start time for get_pos().
                music_pos_time.store(-1);
                Mix_SetPostMix(nullptr, nullptr);
            }
        }
    }
    if (res == -2) {
        PyErr_SetString(lmExc_SDLError, "music not loaded");
        return nullptr;
    }
    if (res < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

PyObject *music_get_busy(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    int busy;
    {
        lm::GilRelease nogil;
        busy = Mix_PlayingMusic() && !Mix_PausedMusic();
    }
    return PyBool_FromLong(busy);
}

PyObject *music_fadeout(PyObject *, PyObject *args)
{
    int ms;
    if (!PyArg_ParseTuple(args, "i", &ms))
        return nullptr;
    AUDIO_OR_RAISE();
    lm::GilRelease nogil;
    Hold ops(g_ops_lock);
    free_taken(take(false));
    Mix_FadeOutMusic(ms);
    Py_RETURN_NONE;
}

PyObject *music_stop(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    lm::GilRelease nogil;
    Hold ops(g_ops_lock);
    free_taken(take(false));
    Mix_HaltMusic();
    Py_RETURN_NONE;
}

PyObject *music_pause(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    lm::GilRelease nogil;
    Mix_PauseMusic();
    Py_RETURN_NONE;
}

PyObject *music_unpause(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    {
        lm::GilRelease nogil;
        Mix_ResumeMusic();
    }
    // Only while something plays: a finished piece keeps reporting -1.
    if (music_pos_time.load() >= 0)
        music_pos_time.store(ticks());
    Py_RETURN_NONE;
}

PyObject *music_rewind(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    lm::GilRelease nogil;
    Mix_RewindMusic();
    Py_RETURN_NONE;
}

PyObject *music_set_volume(PyObject *, PyObject *args)
{
    float volume;
    if (!PyArg_ParseTuple(args, "f", &volume))
        return nullptr;
    AUDIO_OR_RAISE();
    int v = mix_volume(volume);
    lm::GilRelease nogil;
    Mix_VolumeMusic(v);
    Py_RETURN_NONE;
}

PyObject *music_get_volume(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    int v;
    {
        lm::GilRelease nogil;
        v = Mix_VolumeMusic(-1);
    }
    return PyFloat_FromDouble(v / (double)MIX_MAX_VOLUME);
}

PyObject *music_set_pos(PyObject *, PyObject *arg)
{
    double pos;
    if (!lm_DoubleFromObj(arg, &pos)) {
        PyErr_SetString(PyExc_TypeError, "set_pos expects 1 float argument");
        return nullptr;
    }
    AUDIO_OR_RAISE();
    int res;
    {
        lm::GilRelease nogil;
        res = Mix_SetMusicPosition(pos);
    }
    if (res < 0)
        return lm_RaiseSDLError();
    Py_RETURN_NONE;
}

PyObject *music_get_pos(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    long long since = music_pos_time.load();
    int playing;
    {
        // A device closed and reopened by the mixer ran no end hook.
        lm::GilRelease nogil;
        playing = Mix_PlayingMusic();
    }
    if (since < 0 || !playing)
        return PyLong_FromLong(-1);
    int64_t bytes_per_sec = (int64_t)music_frequency * music_channels *
                            ((music_format & 0xff) / 8);
    if (bytes_per_sec <= 0)
        return PyLong_FromLong(-1);
    uint64_t pos = music_pos.load();
    // pos * 1000 stays far inside 64 bits for any real playing time; the
    // division goes first for a counter that would not.
    int64_t ms = pos < UINT64_MAX / 1000
                     ? (int64_t)(pos * 1000 / (uint64_t)bytes_per_sec)
                     : (int64_t)(pos / (uint64_t)bytes_per_sec) * 1000;
    if (!Mix_PausedMusic())
        ms += ticks() - since;
    return PyLong_FromLongLong(ms);
}

PyObject *music_load(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"filename", "namehint", nullptr};
    PyObject *obj;
    const char *hint = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|s",
                                     const_cast<char **>(kwlist), &obj, &hint))
        return nullptr;
    Mix_Music *music = _load_music(obj, hint);
    if (!music)
        return nullptr;
    lm::GilRelease nogil;
    Hold ops(g_ops_lock);
    free_taken(take(true, music));
    Py_RETURN_NONE;
}

PyObject *music_unload(PyObject *, PyObject *)
{
    AUDIO_OR_RAISE();
    lm::GilRelease nogil;
    Hold ops(g_ops_lock);
    free_taken(take(true, nullptr));
    Py_RETURN_NONE;
}

PyObject *music_queue(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"filename", "namehint", "loops", nullptr};
    PyObject *obj;
    const char *hint = nullptr;
    int loops = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O|si",
                                     const_cast<char **>(kwlist), &obj, &hint,
                                     &loops))
        return nullptr;
    {
        Hold g(g_swap_lock);
        queued_loops = loops;
    }
    Mix_Music *music = _load_music(obj, hint);
    if (!music)
        return nullptr;
    lm::GilRelease nogil;
    Hold ops(g_ops_lock);
    Taken old;
    {
        Hold g(g_swap_lock);
        old.p[0] = queued_music;
        old.p[1] = retired;
        queued_music = music;
        retired = nullptr;
    }
    free_taken(old);
    Py_RETURN_NONE;
}

PyMethodDef music_methods[] = {
    {"set_endevent", music_set_endevent, METH_VARARGS,
     "set_endevent() -> None\nset_endevent(type) -> None\nhave the music send "
     "an event when playback stops"},
    {"get_endevent", music_get_endevent, METH_NOARGS,
     "get_endevent() -> type\nget the event a channel sends when playback stops"},
    {"play", (PyCFunction)(void (*)(void))music_play, METH_VARARGS | METH_KEYWORDS,
     "play(loops=0, start=0.0, fade_ms=0) -> None\nStart the playback of the "
     "music stream"},
    {"get_busy", music_get_busy, METH_NOARGS,
     "get_busy() -> bool\ncheck if the music stream is playing"},
    {"fadeout", music_fadeout, METH_VARARGS,
     "fadeout(time) -> None\nstop music playback after fading out"},
    {"stop", music_stop, METH_NOARGS, "stop() -> None\nstop the music playback"},
    {"pause", music_pause, METH_NOARGS,
     "pause() -> None\ntemporarily stop music playback"},
    {"unpause", music_unpause, METH_NOARGS, "unpause() -> None\nresume paused music"},
    {"rewind", music_rewind, METH_NOARGS, "rewind() -> None\nrestart music"},
    {"set_volume", music_set_volume, METH_VARARGS,
     "set_volume(volume) -> None\nset the music volume"},
    {"get_volume", music_get_volume, METH_NOARGS,
     "get_volume() -> value\nget the music volume"},
    {"set_pos", music_set_pos, METH_O, "set_pos(pos) -> None\nset position to play from"},
    {"get_pos", music_get_pos, METH_NOARGS, "get_pos() -> time\nget the music play time"},
    {"load", (PyCFunction)(void (*)(void))music_load, METH_VARARGS | METH_KEYWORDS,
     "load(filename) -> None\nload(fileobj, namehint=) -> None\nLoad a music "
     "file for playback"},
    {"unload", music_unload, METH_NOARGS,
     "unload() -> None\nUnload the currently loaded music to free up resources"},
    {"queue", (PyCFunction)(void (*)(void))music_queue, METH_VARARGS | METH_KEYWORDS,
     "queue(filename) -> None\nqueue(fileobj, namehint=, loops=0) -> None\nqueue "
     "a sound file to follow the current"},
    {nullptr, nullptr, 0, nullptr}};

LM_MODULE_DEF(music_module, "tunestream", "lumora module for controlling streamed audio",
              music_methods);

int add_pointer(PyObject *mod, const char *attr, const char *capname, void *p)
{
    PyObject *cap = PyCapsule_New(p, capname, nullptr);
    if (!cap)
        return -1;
    if (PyModule_AddObject(mod, attr, cap) < 0) {
        Py_DECREF(cap);
        return -1;
    }
    return 0;
}

}  // namespace

PyMODINIT_FUNC PyInit_tunestream(void)
{
    LM_IMPORT(base);
    LM_IMPORT(streamwrap);
    LM_IMPORT(event);
    if (!g_swap_lock) {
        g_swap_lock = SDL_CreateMutex();
        g_ops_lock = SDL_CreateMutex();
        if (!g_swap_lock || !g_ops_lock)
            return lm_RaiseSDLError();
    }
    lm::Ref mod(PyModule_Create2(&music_module, 1013));
    if (!mod)
        return nullptr;
    if (add_pointer(mod.get(), "_MUSIC_POINTER", "lumora.music_mixer._MUSIC_POINTER",
                    &current_music) < 0 ||
        add_pointer(mod.get(), "_QUEUE_POINTER", "lumora.music_mixer._QUEUE_POINTER",
                    &queued_music) < 0)
        return nullptr;
    return mod.release();
}
