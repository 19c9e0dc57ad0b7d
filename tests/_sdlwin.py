"""The display's SDL window seen from outside, through ctypes on the same
libSDL2 the extensions link against (for resizing it behind lumora's back
and reading its position)."""
import ctypes
import os
import subprocess
import sys
import textwrap

SDL = ctypes.CDLL("libSDL2-2.0.so.0")
SDL.SDL_GetWindowFromID.restype = ctypes.c_void_p
SDL.SDL_GetWindowFromID.argtypes = [ctypes.c_uint32]
for _name in ("SDL_GetWindowPosition", "SDL_GetWindowSize"):
    getattr(SDL, _name).argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                    ctypes.POINTER(ctypes.c_int)]
SDL.SDL_SetWindowSize.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
SDL.SDL_GetWindowFlags.argtypes = [ctypes.c_void_p]
SDL.SDL_GetWindowFlags.restype = ctypes.c_uint32
SDL.SDL_GetRenderer.argtypes = [ctypes.c_void_p]
SDL.SDL_GetRenderer.restype = ctypes.c_void_p
SDL.SDL_GetDisplayUsableBounds.argtypes = [ctypes.c_int, ctypes.c_void_p]


def window():
    """The one open SDL window (window ids only grow), or None."""
    for wid in range(1, 256):
        w = SDL.SDL_GetWindowFromID(wid)
        if w:
            found = w
            break
    else:
        return None
    # Take the newest one if several ids are alive.
    for wid in range(wid + 1, 256):
        w = SDL.SDL_GetWindowFromID(wid)
        if w:
            found = w
    return found


def _pair(fn, win):
    a, b = ctypes.c_int(), ctypes.c_int()
    fn(win, ctypes.byref(a), ctypes.byref(b))
    return a.value, b.value


def position(win):
    return _pair(SDL.SDL_GetWindowPosition, win)


def size(win):
    return _pair(SDL.SDL_GetWindowSize, win)


def usable_bounds(display=0):
    r = (ctypes.c_int * 4)()
    if SDL.SDL_GetDisplayUsableBounds(display, r) != 0:
        raise RuntimeError("no usable bounds")
    return tuple(r)


def run_script(code, env=None, timeout=60):
    """Run `code` in a fresh interpreter (fresh SDL state) with the test
    environment plus `env`; returns the CompletedProcess."""
    full = dict(os.environ)
    stage = os.environ.get("LUMORA_STAGE")
    paths = [os.path.abspath(stage)] if stage else []
    paths.append(os.path.dirname(os.path.abspath(__file__)))
    full["PYTHONPATH"] = os.pathsep.join(paths + [full.get("PYTHONPATH", "")])
    for k, v in (env or {}).items():
        if v is None:
            full.pop(k, None)
        else:
            full[k] = v
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=full,
                          capture_output=True, text=True, timeout=timeout)


# A preloadable library that makes chosen SDL calls fail, for the failure
# paths no real driver takes on demand.  LM_FAIL="<function>:<n>" makes the
# n-th call (counting from 1) of that function fail with SDL's error set to
# "injected <function> failure"; every other call goes through.
FAULT_SHIM_SOURCE = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

/* libSDL2 is opened by the extensions after this library is preloaded, and
   locally: look the real functions up in it, not with RTLD_NEXT. */
static void *real_fn(const char *name)
{
    void *lib = dlopen("libSDL2-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
    void *fn = lib ? dlsym(lib, name) : NULL;
    if (!fn)
        abort();
    return fn;
}

static int hit(const char *fn, int *count)
{
    const char *rule = getenv("LM_FAIL");
    size_t n = strlen(fn);
    if (!rule || strncmp(rule, fn, n) != 0 || rule[n] != ':')
        return 0;
    if (++*count != atoi(rule + n + 1))
        return 0;
    int (*set_error)(const char *, ...) =
        (int (*)(const char *, ...))real_fn("SDL_SetError");
    set_error("injected %s failure", fn);
    return 1;
}

void *SDL_CreateTexture(void *ren, unsigned fmt, int access, int w, int h)
{
    static int count;
    if (hit("SDL_CreateTexture", &count))
        return NULL;
    void *(*real)(void *, unsigned, int, int, int) =
        (void *(*)(void *, unsigned, int, int, int))real_fn("SDL_CreateTexture");
    return real(ren, fmt, access, w, h);
}

void *SDL_CreateRenderer(void *win, int index, unsigned flags)
{
    static int count;
    if (hit("SDL_CreateRenderer", &count))
        return NULL;
    void *(*real)(void *, int, unsigned) =
        (void *(*)(void *, int, unsigned))real_fn("SDL_CreateRenderer");
    return real(win, index, flags);
}
"""


def build_fault_shim(directory):
    """Compile the shim into `directory`; its path, or None without a C
    compiler."""
    src = os.path.join(directory, "lm_fault_shim.c")
    lib = os.path.join(directory, "lm_fault_shim.so")
    with open(src, "w") as f:
        f.write(FAULT_SHIM_SOURCE)
    for cc in (os.environ.get("CC"), "cc", "gcc", "clang"):
        if not cc:
            continue
        try:
            res = subprocess.run([cc, "-shared", "-fPIC", "-O1", "-o", lib, src, "-ldl"],
                                 capture_output=True, text=True, timeout=60)
        except (OSError, subprocess.TimeoutExpired):
            continue
        if res.returncode == 0:
            return lib
    return None


def fault_shim_fixture():
    """A module-wide fixture: the path of the compiled shim (the test is
    skipped without a C compiler)."""
    import pytest

    @pytest.fixture(scope="module")
    def fault_shim(tmp_path_factory):
        shim = build_fault_shim(str(tmp_path_factory.mktemp("shim")))
        if shim is None:
            pytest.skip("no C compiler for the fault shim")
        return shim
    return fault_shim


def fault_env(shim, rule):
    """Environment for run_script: the shim preloaded after whatever is
    preloaded already (sanitizer runtimes must stay first)."""
    pre = os.environ.get("LD_PRELOAD")
    return {"LD_PRELOAD": pre + ":" + shim if pre else shim, "LM_FAIL": rule}
