"""pinguard: the lock registry, driven through its C slots with ctypes."""
import ctypes
import gc
import json
import os
import shutil
import subprocess
import sys
import textwrap
import weakref

import pytest

import lumora
import lumora.pinguard
from lumora import Surface
from _surfmem import _slots, sdl


_pg = _slots(lumora.pinguard, "pinguard", 8)
_OO = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.py_object)
_O = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)
prep = ctypes.PYFUNCTYPE(None, ctypes.py_object)(_pg[1])
unprep = _O(_pg[2])
lock = _O(_pg[3])
unlock = _O(_pg[4])
lock_by = _OO(_pg[5])
unlock_by = _OO(_pg[6])
lock_lifetime = ctypes.PYFUNCTYPE(
    ctypes.py_object, ctypes.c_void_p, ctypes.py_object)(_pg[7])
set_surface = ctypes.PYFUNCTYPE(
    ctypes.c_int, ctypes.py_object, ctypes.c_void_p, ctypes.c_int)(
    _slots(lumora.surface, "surface", 4)[3])


class Locker:
    pass


def test_module_shape():
    api = lumora.pinguard._LUMORA_C_API
    assert type(api).__name__ == "PyCapsule"
    assert lumora.pinguard.SurfLifeLock is lumora.pinguard.SurfLifeLockType
    assert lumora.pinguard.SurfLifeLock.__module__ == "lumora.pinguard"
    assert ctypes.c_void_p.from_address(
        ctypes.addressof(_pg)).value == id(lumora.pinguard.SurfLifeLock)
    assert not [n for n in dir(lumora.pinguard)
                if callable(getattr(lumora.pinguard, n)) and not n.startswith("_")
                and not isinstance(getattr(lumora.pinguard, n), type)]


def test_same_locker_twice():
    s, who = Surface((2, 2)), Locker()
    assert lock_by(s, who) == 1 and lock_by(s, who) == 1
    assert sdl(s).locked == 2 and s.get_locks() == (who, who)
    assert unlock_by(s, who) == 1
    assert sdl(s).locked == 1 and s.get_locks() == (who,)
    assert unlock_by(s, who) == 1
    assert sdl(s).locked == 0 and not s.get_locked()


def test_unlock_removes_only_the_callers_entry():
    s, a, b = Surface((2, 2)), Locker(), Locker()
    lock_by(s, a)
    lock_by(s, b)
    assert unlock_by(s, Locker()) == 1   # holds nothing: no change
    assert s.get_locks() == (a, b) and sdl(s).locked == 2
    unlock_by(s, a)
    assert s.get_locks() == (b,) and sdl(s).locked == 1
    unlock_by(s, b)


def test_dead_locker_released_at_next_unlock():
    s, alive = Surface((2, 2)), Locker()
    dead = Locker()
    lock_by(s, dead)
    lock_by(s, dead)
    lock_by(s, alive)
    del dead
    gc.collect()
    assert s.get_locks() == (None, None, alive) and sdl(s).locked == 3
    unlock_by(s, alive)
    assert s.get_locks() == () and sdl(s).locked == 0


def test_subsurface_lock_cascades_to_parent():
    parent = Surface((8, 8))
    sub = parent.subsurface((2, 3, 4, 4))
    subsub = sub.subsurface((1, 1, 2, 2))
    assert lock(subsub) == 1
    assert subsub.get_locks() == (subsub,)
    assert sub.get_locks() == (subsub,)
    assert parent.get_locks() == (sub,)
    assert (sdl(parent).locked, sdl(sub).locked, sdl(subsub).locked) == (1, 1, 1)
    pitch = sdl(parent).pitch
    assert sdl(sub).pixels == sdl(parent).pixels + 3 * pitch + 2 * 4
    assert sdl(subsub).pixels == sdl(sub).pixels + pitch + 4
    assert unlock(subsub) == 1
    for s in (parent, sub, subsub):
        assert s.get_locks() == () and sdl(s).locked == 0


def test_prep_and_unprep():
    parent = Surface((4, 4))
    sub = parent.subsurface((1, 1, 2, 2))
    prep(sub)
    assert parent.get_locks() == (sub,) and sub.get_locks() == ()
    assert unprep(sub) == 1
    assert parent.get_locks() == ()
    prep(parent)                # not a subsurface: nothing happens
    assert unprep(parent) != 0 and parent.get_locks() == ()


def test_lifetime_lock():
    s, who = Surface((2, 2)), Locker()
    lk = lock_lifetime(id(s), who)
    assert type(lk).__name__ == "SurfLifeLock"
    assert type(lk) is lumora.pinguard.SurfLifeLock
    assert type(lk).__module__ == "lumora.pinguard"
    ref = weakref.ref(lk)
    assert s.get_locks() == (who,) and sdl(s).locked == 1
    del lk
    assert ref() is None
    assert s.get_locks() == () and sdl(s).locked == 0


def test_lifetime_lock_keeps_surface_alive():
    who = Locker()
    s = Surface((2, 2))
    sref = weakref.ref(s)
    lk = lock_lifetime(id(s), who)
    del s
    gc.collect()
    assert sref() is not None and sref().get_locks() == (who,)
    del lk
    gc.collect()
    assert sref() is None


def test_lifetime_lock_of_null_surface():
    with pytest.raises(lumora.error):
        lock_lifetime(None, Locker())


@pytest.mark.parametrize("locker", [object(), 3, "text", (1, 2)])
def test_locker_without_weakref_support(locker):
    s = Surface((2, 2))
    with pytest.raises(TypeError):
        lock_by(s, locker)
    with pytest.raises(TypeError):
        lock_lifetime(id(s), locker)
    assert s.get_locks() == () and sdl(s).locked == 0


def test_quit_surface_raises_instead_of_crashing():
    s = Surface((2, 2))
    set_surface(s, None, 0)
    with pytest.raises(lumora.error, match="display Surface quit"):
        lock_by(s, Locker())
    assert unlock_by(s, Locker()) == 1


@pytest.fixture
def sdl_surface():
    lib = ctypes.CDLL("libSDL2-2.0.so.0")
    lib.SDL_CreateRGBSurfaceWithFormat.restype = ctypes.c_void_p
    lib.SDL_CreateRGBSurfaceWithFormat.argtypes = [
        ctypes.c_uint32, ctypes.c_int, ctypes.c_int, ctypes.c_int,
        ctypes.c_uint32]
    return lambda w, h, depth, fmt: lib.SDL_CreateRGBSurfaceWithFormat(
        0, w, h, depth, fmt)


XRGB8888, RGB565 = 0x16161804, 0x15151002


def test_subsurface_follows_a_replaced_parent(sdl_surface):
    parent = Surface((4, 4))
    sub = parent.subsurface((2, 1, 2, 2))
    # A wider parent has another pitch: the subsurface keeps its place.
    assert set_surface(parent, sdl_surface(9, 5, 32, XRGB8888), 1) == 0
    parent.fill((0, 0, 0))
    sub.fill((255, 255, 255))
    assert sdl(sub).pixels == sdl(parent).pixels + sdl(parent).pitch + 2 * 4
    lit = [(x, y) for y in range(5) for x in range(9)
           if parent.get_at((x, y))[0]]
    assert lit == [(2, 1), (3, 1), (2, 2), (3, 2)]
    # Too small, or another pixel size: refused instead of writing past
    # the parent's pixels.
    for w, h, depth, fmt in ((3, 4, 32, XRGB8888), (4, 2, 32, XRGB8888),
                             (9, 5, 16, RGB565)):
        set_surface(parent, sdl_surface(w, h, depth, fmt), 1)
        with pytest.raises(lumora.error, match="no longer fits"):
            sub.fill((1, 2, 3))
        with pytest.raises(lumora.error, match="no longer fits"):
            prep(sub)
        assert parent.get_locks() == () and sub.get_locks() == ()
        assert sdl(parent).locked == 0


def test_prep_of_quit_subsurface_raises():
    parent = Surface((4, 4))
    sub = parent.subsurface((1, 1, 2, 2))
    set_surface(sub, None, 0)
    with pytest.raises(lumora.error, match="display Surface quit"):
        prep(sub)
    assert parent.get_locks() == ()


def test_quit_parent_leaves_no_entry():
    parent = Surface((4, 4))
    sub = parent.subsurface((0, 0, 2, 2))
    set_surface(parent, None, 0)
    with pytest.raises(lumora.error, match="display Surface quit"):
        lock(sub)
    assert sub.get_locks() == () and sdl(sub).locked == 0
    with pytest.raises(lumora.error, match="display Surface quit"):
        sub.fill((1, 2, 3))


# ---------------------------------------------------------------------------
# A failing SDL_LockSurface.  SDL 2 never refuses a lock on its own, so a
# subprocess preloads a stand-in that refuses surfaces whose userdata is
# marked and passes every other call through to SDL.
# ---------------------------------------------------------------------------

_REFUSER = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <SDL.h>
int SDL_LockSurface(SDL_Surface *s)
{
    static int (*real)(SDL_Surface *);
    if (!real)
        real = (int (*)(SDL_Surface *))dlsym(RTLD_NEXT, "SDL_LockSurface");
    if (s->userdata == (void *)0x4C4F434B) {
        SDL_SetError("lock refused");
        return -1;
    }
    return real(s);
}
"""

_FAILING_LOCK_SCRIPT = textwrap.dedent("""
    import ctypes, json
    import lumora, lumora.pinguard
    from lumora import Surface

    HEAD = 2 * ctypes.sizeof(ctypes.c_void_p)
    class Raw(ctypes.Structure):
        _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                    ("w", ctypes.c_int), ("h", ctypes.c_int),
                    ("pitch", ctypes.c_int), ("pixels", ctypes.c_void_p),
                    ("userdata", ctypes.c_void_p), ("locked", ctypes.c_int)]
    def raw(o):
        return Raw.from_address(ctypes.c_void_p.from_address(id(o) + HEAD).value)
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    t = (ctypes.c_void_p * 8).from_address(
        get(lumora.pinguard._LUMORA_C_API, b"lumora.pinguard._LUMORA_C_API"))
    lock_by = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object,
                                ctypes.py_object)(t[5])
    lifetime = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.c_void_p,
                                 ctypes.py_object)(t[7])
    class Locker: pass
    out = {}
    def attempt(name, surf, fn):
        try:
            fn()
        except RuntimeError as e:
            out[name] = [type(e).__name__, str(e)]
        else:
            out[name] = None

    parent = Surface((4, 4))
    sub = parent.subsurface((1, 1, 2, 2))
    who = Locker()
    raw(parent).userdata = 0x4C4F434B
    attempt("plain", parent, lambda: lock_by(parent, who))
    attempt("method", parent, parent.lock)
    attempt("lifetime", parent, lambda: lifetime(id(parent), who))
    attempt("fill", parent, lambda: parent.fill((1, 2, 3)))
    # The parent refuses: the subsurface keeps no entry either.
    attempt("parent refuses", sub, lambda: lock_by(sub, who))
    state = [len(parent.get_locks()), raw(parent).locked,
             len(sub.get_locks()), raw(sub).locked]
    # The subsurface refuses after its parent was locked for it: the
    # parent's lock is given back.
    raw(parent).userdata = None
    raw(sub).userdata = 0x4C4F434B
    attempt("sub refuses", sub, lambda: lock_by(sub, who))
    state += [len(parent.get_locks()), raw(parent).locked,
              len(sub.get_locks()), raw(sub).locked]
    raw(sub).userdata = None
    ok = lock_by(sub, who)
    state += [ok, len(parent.get_locks()), len(sub.get_locks())]
    out["state"] = state
    print(json.dumps(out))
""")


@pytest.fixture(scope="module")
def refuser(tmp_path_factory):
    # CC names the target's compiler in a cross build run under emulation.
    cc = (shutil.which(os.environ.get("CC") or "cc") or shutil.which("cc")
          or shutil.which("gcc"))
    if not cc or not shutil.which("pkg-config"):
        pytest.skip("needs a C compiler and pkg-config")
    d = tmp_path_factory.mktemp("refuser")
    src = d / "refuser.c"
    src.write_text(_REFUSER)
    lib = d / "librefuser.so"
    # Linked to SDL so that SDL is in the global scope where RTLD_NEXT
    # looks (the extension modules load it privately).
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "sdl2"],
                           capture_output=True, text=True).stdout.split()
    subprocess.run([cc, "-shared", "-fPIC", "-o", str(lib), str(src)] + flags
                   + ["-ldl"], check=True)
    return str(lib)


def test_failed_sdl_lock_leaves_no_entry(refuser):
    env = dict(os.environ)
    env["LD_PRELOAD"] = " ".join(
        p for p in (env.get("LD_PRELOAD", ""), refuser) if p)
    stage = env.get("LUMORA_STAGE")
    if stage:
        env["PYTHONPATH"] = os.path.abspath(stage) + os.pathsep + \
            env.get("PYTHONPATH", "")
    run = subprocess.run([sys.executable, "-c", _FAILING_LOCK_SCRIPT],
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    out = json.loads(run.stdout.strip().splitlines()[-1])
    refused = ["RuntimeError", "error locking surface"]
    for name in ("plain", "method", "lifetime", "fill", "parent refuses",
                 "sub refuses"):
        assert out[name] == refused, name
    assert out["state"] == [0, 0, 0, 0,  0, 0, 0, 0,  1, 1, 1]
