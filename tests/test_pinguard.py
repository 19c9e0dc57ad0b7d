"""pinguard: the lock registry, driven through its C slots with ctypes."""
import ctypes
import gc
import weakref

import pytest

import lumora
import lumora.pinguard
from lumora import Surface


class SDL_Surface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int),
                ("pitch", ctypes.c_int), ("pixels", ctypes.c_void_p),
                ("userdata", ctypes.c_void_p), ("locked", ctypes.c_int)]


_HEAD = 2 * ctypes.sizeof(ctypes.c_void_p)


def sdl(obj):
    ptr = ctypes.c_void_p.from_address(id(obj) + _HEAD).value
    return SDL_Surface.from_address(ptr)


def _slots(module, name, n):
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    p = get(module._LUMORA_C_API, ("lumora.%s._LUMORA_C_API" % name).encode())
    return (ctypes.c_void_p * n).from_address(p)


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


def test_quit_parent_leaves_no_entry():
    parent = Surface((4, 4))
    sub = parent.subsurface((0, 0, 2, 2))
    set_surface(parent, None, 0)
    with pytest.raises(lumora.error, match="display Surface quit"):
        lock(sub)
    assert sub.get_locks() == () and sdl(sub).locked == 0
    with pytest.raises(lumora.error, match="display Surface quit"):
        sub.fill((1, 2, 3))
