"""Raw SDL events for the event and time tests, pushed through ctypes.

The library loaded here must be the very libSDL2 the extensions link
against; test_event checks that with ldd and the process's memory map.
"""
import ctypes
import struct

SDL = ctypes.CDLL("libSDL2-2.0.so.0")
SDL.SDL_PushEvent.argtypes = [ctypes.c_void_p]
SDL.SDL_PeepEvents.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                               ctypes.c_uint32, ctypes.c_uint32]
SDL.SDL_malloc.restype = ctypes.c_void_p
SDL.SDL_malloc.argtypes = [ctypes.c_size_t]
SDL.SDL_GetError.restype = ctypes.c_char_p
SDL.SDL_EventState.argtypes = [ctypes.c_uint32, ctypes.c_int]
SDL.SDL_EventState.restype = ctypes.c_uint8

INIT_VIDEO = 0x20
EVENT_SIZE = 56
PTR = ctypes.sizeof(ctypes.c_void_p)
ADDEVENT, PEEKEVENT, GETEVENT = 0, 1, 2

WINDOWEVENT = 0x200
KEYDOWN, KEYUP, TEXTINPUT = 0x300, 0x301, 0x303
MOUSEBUTTONDOWN, MOUSEBUTTONUP, MOUSEWHEEL = 0x401, 0x402, 0x403
JOYHATMOTION = 0x602
DROPFILE = 0x1000


def init_video():
    if SDL.SDL_InitSubSystem(INIT_VIDEO) != 0:
        raise RuntimeError(SDL.SDL_GetError().decode())


def queue_fixture(base, event, ltime, close=None):
    """A module-wide automatic fixture: lumora set up with the video
    subsystem (which holds the event queue) and the event and time modules
    started; `close` (when given) runs at the end of the module."""
    import pytest

    @pytest.fixture(scope="module", autouse=True)
    def sdl():
        base.init()
        init_video()
        event._internal_mod_init()
        ltime._internal_mod_init()
        yield
        if close is not None:
            close()
    return sdl


def _buf():
    return ctypes.create_string_buffer(EVENT_SIZE)


def push_raw(buf):
    """SDL_PushEvent's result: 1 queued, 0 filtered out, <0 error."""
    return SDL.SDL_PushEvent(buf)


def key(etype, sym, scancode, mod=0, repeat=0, state=None, window=0):
    b = _buf()
    if state is None:
        state = 1 if etype == KEYDOWN else 0
    struct.pack_into("<IIIBBxxiiH", b, 0, etype, 0, window, state, repeat,
                     scancode, sym, mod)
    return push_raw(b)


def text(s, window=0):
    b = _buf()
    raw = s.encode()[:31]
    struct.pack_into("<III", b, 0, TEXTINPUT, 0, window)
    b[12:12 + len(raw)] = raw
    return push_raw(b)


def button(etype, btn, x=0, y=0, which=0):
    b = _buf()
    struct.pack_into("<IIIIBBBxii", b, 0, etype, 0, 0, which, btn,
                     1 if etype == MOUSEBUTTONDOWN else 0, 1, x, y)
    return push_raw(b)


def wheel(x, y, which=0):
    b = _buf()
    struct.pack_into("<IIIIiiIff", b, 0, MOUSEWHEEL, 0, 0, which, x, y, 0,
                     float(x), float(y))
    return push_raw(b)


def window(code, data1=0, data2=0, window_id=0):
    b = _buf()
    struct.pack_into("<IIIBxxxii", b, 0, WINDOWEVENT, 0, window_id, code,
                     data1, data2)
    return push_raw(b)


def hat(value, which=0, hat_index=0):
    b = _buf()
    struct.pack_into("<IIiBB", b, 0, JOYHATMOTION, 0, which, hat_index, value)
    return push_raw(b)


def user(etype, code=0):
    b = _buf()
    struct.pack_into("<IIIi", b, 0, etype, 0, 0, code)
    return push_raw(b)


def drop_file(path):
    """A DROPFILE whose string SDL owns (freed by whoever takes the event)."""
    raw = path.encode() + b"\0"
    p = SDL.SDL_malloc(len(raw))
    ctypes.memmove(p, raw, len(raw))
    b = _buf()
    fmt = "<II" + ("Q" if PTR == 8 else "I") + "I"
    struct.pack_into(fmt, b, 0, DROPFILE, 0, p, 0)
    return push_raw(b)


def queued(lo=0, hi=0xFFFF):
    """Number of events of types lo..hi in SDL's queue."""
    return SDL.SDL_PeepEvents(None, 0, PEEKEVENT, lo, hi)


def peek_types(lo=0, hi=0xFFFF, n=256):
    arr = ctypes.create_string_buffer(EVENT_SIZE * n)
    got = SDL.SDL_PeepEvents(arr, n, PEEKEVENT, lo, hi)
    return [struct.unpack_from("<I", arr, EVENT_SIZE * i)[0] for i in range(got)]


def capsule_slot(module, index, restype, *argtypes):
    """Slot `index` of module's C API, callable with the GIL held."""
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    table = get(module._LUMORA_C_API,
                (module.__name__ + "._LUMORA_C_API").encode())
    fn = ctypes.cast(table, ctypes.POINTER(ctypes.c_void_p))[index]
    return ctypes.PYFUNCTYPE(restype, *argtypes)(fn)


# --- failure injection --------------------------------------------------------
#
# A small library preloaded into a child process.  It stands in front of a few
# SDL calls and, once armed, makes them fail, but only for calls coming from
# the named extension module, so SDL itself and the test's ctypes calls work on.

_SHIM_SRC = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <string.h>

enum { FAIL_LOCK = 1, FAIL_UNLOCK = 2, FAIL_PEEP = 4 };
static atomic_int armed;
static char target[128];

void lmshim_arm(int mask, const char *who)
{
    strncpy(target, who, sizeof target - 1);
    atomic_store(&armed, mask);
}

static void *real(const char *name)
{
    void *h = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    return h ? dlsym(h, name) : 0;
}

static int refuse(int what, void *caller, const char *msg)
{
    Dl_info info;
    if (!(atomic_load(&armed) & what) || !dladdr(caller, &info) ||
        !info.dli_fname || !strstr(info.dli_fname, target))
        return 0;
    int (*set_error)(const char *, ...) = (int (*)(const char *, ...))real("SDL_SetError");
    set_error("%s", msg);
    return 1;
}

int SDL_LockMutex(void *m)
{
    if (refuse(FAIL_LOCK, __builtin_return_address(0), "lock refused by test"))
        return -1;
    return ((int (*)(void *))real("SDL_LockMutex"))(m);
}

int SDL_UnlockMutex(void *m)
{
    if (refuse(FAIL_UNLOCK, __builtin_return_address(0), "unlock refused by test"))
        return -1;
    return ((int (*)(void *))real("SDL_UnlockMutex"))(m);
}

int SDL_PeepEvents(void *ev, int n, int action, unsigned lo, unsigned hi)
{
    if (refuse(FAIL_PEEP, __builtin_return_address(0), "queue read refused by test"))
        return -1;
    return ((int (*)(void *, int, int, unsigned, unsigned))real("SDL_PeepEvents"))(
        ev, n, action, lo, hi);
}
"""

FAIL_LOCK, FAIL_UNLOCK, FAIL_PEEP = 1, 2, 4


def build_shim(directory):
    """Compiles the failure-injection library; None without a C compiler."""
    import os
    import shutil
    import subprocess
    # CC names the target's compiler when the tests run on another machine
    # than the one that builds them (a cross build run under emulation).
    cc = (shutil.which(os.environ.get("CC") or "cc") or shutil.which("cc")
          or shutil.which("gcc"))
    if not cc:
        return None
    src = os.path.join(directory, "lmshim.c")
    out = os.path.join(directory, "lmshim.so")
    with open(src, "w") as f:
        f.write(_SHIM_SRC)
    subprocess.run([cc, "-shared", "-fPIC", "-O1", "-o", out, src, "-ldl"],
                   check=True, capture_output=True)
    return out


def shim_env(env, shim):
    """`env` with the shim preloaded after whatever is preloaded already
    (a sanitizer runtime has to stay first)."""
    env = dict(env)
    env["LD_PRELOAD"] = ":".join(p for p in (env.get("LD_PRELOAD"), shim) if p)
    return env


def arm(mask, module):
    """In a process started with shim_env: make the SDL calls in `mask` fail
    when they come from lumora.<module>."""
    lib = ctypes.CDLL(None)
    lib.lmshim_arm.argtypes = [ctypes.c_int, ctypes.c_char_p]
    lib.lmshim_arm(mask, ("lumora/%s." % module).encode())
