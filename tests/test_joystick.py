"""lumora.joystick against SDL's virtual joysticks, driven through ctypes."""
import ctypes
import math
import os
import subprocess
import sys
import textwrap

import pytest

os.environ["SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS"] = "1"

joystick = pytest.importorskip("lumora.joystick")
event = pytest.importorskip("lumora.event")
base = pytest.importorskip("lumora.base")

from _sdlpush import SDL  # noqa: E402
from _videostate import video  # noqa: E402,F401

JOYAXISMOTION, JOYHATMOTION, JOYBUTTONDOWN = 0x600, 0x602, 0x603
JOYDEVICEADDED, JOYDEVICEREMOVED = 0x605, 0x606
RUMBLE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_uint16,
                          ctypes.c_uint16)


class VirtualDesc(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint16), ("type", ctypes.c_uint16),
                ("naxes", ctypes.c_uint16), ("nbuttons", ctypes.c_uint16),
                ("nhats", ctypes.c_uint16), ("vendor_id", ctypes.c_uint16),
                ("product_id", ctypes.c_uint16), ("padding", ctypes.c_uint16),
                ("button_mask", ctypes.c_uint32), ("axis_mask", ctypes.c_uint32),
                ("name", ctypes.c_char_p), ("userdata", ctypes.c_void_p),
                ("Update", ctypes.c_void_p), ("SetPlayerIndex", ctypes.c_void_p),
                ("Rumble", RUMBLE), ("RumbleTriggers", ctypes.c_void_p),
                ("SetLED", ctypes.c_void_p), ("SendEffect", ctypes.c_void_p)]


SDL.SDL_JoystickAttachVirtualEx.argtypes = [ctypes.POINTER(VirtualDesc)]
SDL.SDL_JoystickFromInstanceID.restype = ctypes.c_void_p
for _f in ("Axis", "Button", "Hat"):
    getattr(SDL, "SDL_JoystickSetVirtual" + _f).argtypes = [
        ctypes.c_void_p, ctypes.c_int, ctypes.c_int]

rumbles = []


@RUMBLE
def _on_rumble(_user, low, high):
    rumbles.append((low, high))
    return 0


def attach(name=b"lumora virtual pad", rumble=True):
    d = VirtualDesc(version=1, naxes=2, nbuttons=3, nhats=1, name=name)
    if rumble:
        d.Rumble = _on_rumble
    idx = SDL.SDL_JoystickAttachVirtualEx(ctypes.byref(d))
    assert idx >= 0, SDL.SDL_GetError()
    return idx


def detach_all():
    while SDL.SDL_NumJoysticks() > 0:
        SDL.SDL_JoystickDetachVirtual(SDL.SDL_NumJoysticks() - 1)


def set_state(js, kind, index, value):
    h = SDL.SDL_JoystickFromInstanceID(js.get_instance_id())
    assert getattr(SDL, "SDL_JoystickSetVirtual" + kind)(h, index, value) == 0
    SDL.SDL_JoystickUpdate()


@pytest.fixture
def pad():
    joystick.init()
    attach()
    yield joystick.Joystick(0)
    joystick.quit()
    joystick.init()
    detach_all()
    joystick.quit()


def test_module_state_and_messages():
    joystick.quit()
    assert joystick.get_init() is False
    with pytest.raises(base.error, match="^joystick system not initialized$"):
        joystick.get_count()
    with pytest.raises(base.error, match="^joystick system not initialized$"):
        joystick.Joystick(0)
    joystick.init()
    assert joystick.get_init() is True and joystick.get_count() == 0
    for bad in (0, 5, -1):
        with pytest.raises(base.error, match="^Invalid joystick device number$"):
            joystick.Joystick(bad)
    joystick.quit()
    assert joystick.JoystickType is joystick.Joystick
    assert joystick.__doc__.startswith("Lumora module for interacting")
    assert joystick.Joystick.get_axis.__doc__.startswith("get_axis(axis_number) -> float")


def test_counts_name_and_identity(pad):
    assert (pad.get_numaxes(), pad.get_numbuttons(), pad.get_numhats(),
            pad.get_numballs()) == (2, 3, 1, 0)
    assert pad.get_name() == "lumora virtual pad" and pad.get_id() == 0
    assert joystick.Joystick(0) is pad
    assert len(pad.get_guid()) == 32
    assert pad.get_power_level() in ("unknown", "wired", "full", "max")
    assert event._joy_instance_map[pad.get_instance_id()] == 0


def test_repeat_open_does_not_leak_an_sdl_reference(pad):
    """Asking again for an open device must not leave SDL's count raised:
    after the object's quit() the device is really closed."""
    for _ in range(3):
        assert joystick.Joystick(0) is pad
    inst = pad.get_instance_id()
    pad.quit()
    assert SDL.SDL_JoystickFromInstanceID(inst) is None


@pytest.mark.parametrize("raw, expected", [
    (0, 0.0), (-32768, -1.0), (32767, 32767 / 32768), (16384, 0.5)])
def test_axis(pad, raw, expected):
    set_state(pad, "Axis", 1, raw)
    assert pad.get_axis(1) == expected


@pytest.mark.parametrize("bits, xy", [
    (0, (0, 0)), (1, (0, 1)), (2, (1, 0)), (4, (0, -1)), (8, (-1, 0)),
    (3, (1, 1)), (6, (1, -1)), (9, (-1, 1)), (12, (-1, -1))])
def test_hat_positions(pad, bits, xy):
    set_state(pad, "Hat", 0, bits)
    assert pad.get_hat(0) == xy


def test_buttons_and_bad_indexes(pad):
    set_state(pad, "Button", 2, 1)
    assert (pad.get_button(0), pad.get_button(2)) == (0, 1)
    for meth, text, n in (("get_axis", "axis", 2), ("get_button", "button", 3),
                          ("get_hat", "hat", 1), ("get_ball", "trackball", 0)):
        for i in (n, -1):
            with pytest.raises(base.error, match=f"^Invalid joystick {text}$"):
                getattr(pad, meth)(i)
    with pytest.raises(TypeError):
        pad.get_axis("0")


def test_rumble_strengths(pad):
    rumbles.clear()
    assert pad.rumble(2.0, -1.0, 100) is True
    assert pad.rumble(0.5, math.nan, 100) is True
    assert pad.rumble(low_frequency=0.25, high_frequency=1.0, duration=5) is True
    assert rumbles[:3] == [(0xFFFF, 0), (32767, 0), (16383, 0xFFFF)]
    pad.stop_rumble()
    assert rumbles[-1] == (0, 0)


def test_rumble_refused_is_false():
    joystick.init()
    attach(rumble=False)
    try:
        assert joystick.Joystick(0).rumble(1.0, 1.0, 10) is False
    finally:
        joystick.quit()
        joystick.init()
        detach_all()
        joystick.quit()


def test_object_quit_and_reinit(pad):
    pad.quit()
    assert pad.get_init() is False
    for meth in ("get_numaxes", "get_instance_id", "get_name", "get_power_level",
                 "stop_rumble"):
        with pytest.raises(base.error, match="^Joystick not initialized$"):
            getattr(pad, meth)()
    with pytest.raises(base.error, match="^Joystick not initialized$"):
        pad.get_axis(0)
    assert len(pad.get_guid()) == 32  # read from the device index
    pad.init()
    assert pad.get_init() and pad.get_numaxes() == 2


def test_module_quit_closes_objects(pad):
    joystick.quit()
    assert pad.get_init() is False and pad.get_id() == 0
    for call in (pad.get_numaxes, pad.get_guid, pad.quit, lambda: pad.get_hat(0)):
        with pytest.raises(base.error, match="^joystick system not initialized$"):
            call()


def test_instance_map_survives_rebinding(pad):
    inst = pad.get_instance_id()
    saved = event._joy_instance_map
    try:
        event._joy_instance_map = {}
        del saved[inst]
        import gc
        gc.collect()
        pad.quit()
        pad.init()  # registers again in the (still living) dictionary
        assert saved[inst] == 0
    finally:
        event._joy_instance_map = saved


def test_events_carry_device_index(video):
    joystick.init()
    event.clear()
    try:
        idx = attach()
        evs = [e for e in event.get() if e.type == JOYDEVICEADDED]
        assert [e.device_index for e in evs] == [idx]
        pad = joystick.Joystick(idx)
        inst = pad.get_instance_id()
        set_state(pad, "Axis", 0, -32768)
        set_state(pad, "Button", 1, 1)
        set_state(pad, "Hat", 0, 9)
        got = {e.type: e for e in event.get()}
        assert got[JOYAXISMOTION].joy == idx and got[JOYAXISMOTION].axis == 0
        assert got[JOYAXISMOTION].instance_id == inst
        assert got[JOYBUTTONDOWN].button == 1 and got[JOYBUTTONDOWN].joy == idx
        assert got[JOYHATMOTION].value == (-1, 1)
        pad.quit()
        detach_all()
        evs = [e for e in event.get() if e.type == JOYDEVICEREMOVED]
        assert [e.instance_id for e in evs] == [inst]
    finally:
        joystick.quit()
        joystick.init()
        detach_all()
        joystick.quit()


def test_dealloc_after_sdl_quit_is_safe():
    """An object dying after SDL's joystick system went down underneath it
    must not close a handle SDL already freed."""
    code = textwrap.dedent("""
        import ctypes, gc
        import lumora.joystick as joystick
        from _sdlpush import SDL
        joystick.init()
        SDL.SDL_JoystickAttachVirtual(0, 1, 1, 0)
        j = joystick.Joystick(0)
        SDL.SDL_QuitSubSystem(0x200)
        del j
        gc.collect()
        print("ok")
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    r = subprocess.run([sys.executable, "-c", code], capture_output=True,
                       text=True, env=env, timeout=60)
    assert r.returncode == 0 and r.stdout.strip() == "ok", r.stderr
