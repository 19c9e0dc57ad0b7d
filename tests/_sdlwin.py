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
