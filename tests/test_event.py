"""lumora.event over real SDL: raw events pushed through SDL itself."""
import ctypes
import os
import re
import subprocess
import sys
import textwrap
import threading
import time as _time

import pytest

import _child
import _sdlpush as raw

base = pytest.importorskip("lumora.base")
event = pytest.importorskip("lumora.event")
ltime = pytest.importorskip("lumora.time")

Event = event.Event
KEYDOWN, KEYUP = 0x300, 0x301
MOUSEBUTTONDOWN, MOUSEBUTTONUP, MOUSEWHEEL = 0x401, 0x402, 0x403
USEREVENT = 0x8062
ACTIVEEVENT, VIDEORESIZE, VIDEOEXPOSE = 0x8000, 0x8001, 0x8002
KMOD_LSHIFT, KMOD_LCTRL, KMOD_CAPS = 0x1, 0x40, 0x2000
SDLK_KP_ENTER, SDLK_KP_DIVIDE = 0x40000058, 0x40000054


sdl = raw.queue_fixture(base, event, ltime, close=event.clear)


@pytest.fixture(autouse=True)
def clean_queue():
    set_repeat = raw.capsule_slot(event, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)
    event.set_allowed(None)
    event.clear()
    yield
    set_repeat(0, 0)
    event.set_allowed(None)
    event.clear()


def run_py(code, timeout=30):
    return _child.run_py(code, timeout=timeout)


def test_ctypes_helper_drives_the_linked_sdl():
    with open("/proc/self/maps") as f:
        mapped = {os.path.realpath(line.split()[-1])
                  for line in f if "libSDL2-2.0.so" in line}
    # One SDL in the process: the module's and the helper's are the same.
    assert len(mapped) == 1
    # ldd names the one the module links; it cannot read a module built for
    # another machine (a cross build run under emulation).
    out = subprocess.run(["ldd", event.__file__], capture_output=True,
                         text=True).stdout
    linked = re.search(r"libSDL2-2\.0\.so\.0 => (\S+)", out)
    if linked:
        assert mapped == {os.path.realpath(linked.group(1))}


# --- the Event type --------------------------------------------------------

@pytest.mark.parametrize("number,name", [
    (0, "NoEvent"), (0x100, "Quit"), (0x300, "KeyDown"), (0x403, "MouseWheel"),
    (0x659, "ControllerSensorUpdate"), (0x8000, "ActiveEvent"),
    (0x800A, "WindowResized"), (0x8017, "WindowDisplayChanged"),
    (0x8062, "UserEvent"), (0xFFFE, "UserEvent"), (0x200, "Unknown"),
    (0x800, "Unknown"), (0x8005, "Unknown"), (0x8018, "Unknown"),
    (0x8061, "Unknown"), (0xFFFF, "Unknown"), (-1, "Unknown"),
])
def test_event_name(number, name):
    assert event.event_name(number) == name
    assert event.event_name(type=number) == name


@pytest.mark.parametrize("proxy,public", [(0x8048, 0x100), (0x8035, 0x300),
                                          (0x8018, 0x8000), (0x8061, 0x8017),
                                          (0x8047, 0)])
def test_proxy_numbers_become_public_types(proxy, public):
    assert Event(proxy).type == public


def test_event_value_semantics():
    d = {"key": 97}
    e = Event(0x300, d)
    assert e.dict is d and e.__dict__ is d
    assert e == Event(0x300, key=97)
    assert not (e != Event(0x300, key=97))
    assert e != Event(0x301, key=97) and e != Event(0x300, key=98)
    assert (e == "x") is False and e != 5
    e.scancode = 4
    assert d["scancode"] == 4 and e.key == 97
    assert bool(Event(0)) is False and bool(Event(USEREVENT)) is True
    assert repr(Event(0x8062, a=1)) == "<Event(32866-UserEvent {'a': 1})>"
    with pytest.raises(AttributeError):
        e.type = 5
    with pytest.raises(AttributeError):
        e.missing
    with pytest.raises(TypeError):
        hash(e)
    with pytest.raises(TypeError):
        type("Sub", (Event,), {})


def test_redundant_type_field_leaves_the_dict_alone():
    d = {"a": 1}
    with pytest.raises(ValueError, match="^redundant type field in event dict$"):
        Event(1, d, type=2, b=3)
    assert d == {"a": 1}
    with pytest.raises(ValueError, match="redundant type field"):
        Event(1, {"type": 3})
    with pytest.raises(TypeError):
        Event(1, [("a", 1)])


def test_c_slots_new_and_from_sdl_null():
    from_sdl = raw.capsule_slot(event, 1, ctypes.py_object, ctypes.c_void_p)
    e = from_sdl(None)
    assert e.type == 0 and e.dict == {}
    new = raw.capsule_slot(event, 2, ctypes.py_object, ctypes.c_int, ctypes.py_object)
    d = {"x": 1}
    e = new(0x8048, d)
    assert e.type == 0x100 and e.dict is d


# --- posting and reading ---------------------------------------------------

def test_post_travels_as_proxy_and_comes_back_with_its_dict():
    d = {"key": 97}
    assert event.post(Event(KEYDOWN, d)) is True
    assert raw.peek_types() == [0x8035]
    got = event.get()
    assert len(got) == 1 and got[0].type == KEYDOWN and got[0].dict is d


def test_post_requires_an_event():
    with pytest.raises(TypeError, match="^argument must be an Event object$"):
        event.post({"type": 1})


@pytest.mark.parametrize("etype", [0xFFFF, 0x10000, -1, 2**31 - 1, 0x200, 0x8005, 5])
def test_post_refuses_types_the_queue_cannot_return(etype):
    d = {}
    before = sys.getrefcount(d)
    with pytest.raises(ValueError, match="^event type out of range$"):
        event.post(Event(etype, d))
    assert sys.getrefcount(d) == before and raw.queued() == 0


@pytest.mark.parametrize("etype", [0, 0x100, 0x8001, 0x8017, USEREVENT, 0xFFFE])
def test_post_accepts_proxied_and_user_types(etype):
    assert event.post(Event(etype, n=1))
    [e] = event.get()
    assert e.type == etype and e.n == 1


def test_peek_without_types_keeps_the_queued_dict_alive():
    d = {"payload": object()}
    base_rc = sys.getrefcount(d)
    event.post(Event(USEREVENT, d))
    for _ in range(3):
        peeked = event.peek()
        assert peeked.dict is d
        del peeked
    assert sys.getrefcount(d) == base_rc + 1
    [e] = event.get()
    assert e.dict is d
    del e
    assert sys.getrefcount(d) == base_rc


@pytest.mark.parametrize("drop", [
    lambda: event.clear(),
    lambda: event.clear(USEREVENT),
    lambda: event.clear([KEYDOWN, USEREVENT], pump=False),
    lambda: event.set_blocked(USEREVENT),
    lambda: event.set_blocked(None),
    lambda: (event._internal_mod_quit(), event._internal_mod_init()),
], ids=["clear", "clear-type", "clear-list", "block-type", "block-all", "quit"])
def test_dropping_posted_events_releases_their_dicts(drop):
    d = {}
    base_rc = sys.getrefcount(d)
    for _ in range(300):  # more than one read chunk
        event.post(Event(USEREVENT, d))
    assert sys.getrefcount(d) == base_rc + 300
    drop()
    assert sys.getrefcount(d) == base_rc
    assert raw.queued(0x8018, 0xFFFF) == 0


def test_blocking():
    assert event.get_blocked(KEYDOWN) is False
    event.set_blocked(KEYDOWN)
    assert event.get_blocked(KEYDOWN) is True
    assert event.get_blocked([MOUSEWHEEL, KEYDOWN]) is True
    assert event.get_blocked([]) is False
    assert event.post(Event(KEYDOWN, key=1)) is False
    assert raw.key(raw.KEYDOWN, 97, 4) == 0  # real key presses too
    event.set_allowed(KEYDOWN)
    assert event.post(Event(KEYDOWN)) is True
    event.set_blocked(None)
    assert event.get_blocked(0x8062) and event.get_blocked(0xFFFE)
    assert event.post(Event(USEREVENT)) is False
    # the filters' own types stay enabled
    assert raw.SDL.SDL_EventState(0x200, -1) == 1
    assert raw.SDL.SDL_EventState(0x8005, -1) == 1
    event.set_allowed(None)
    assert not event.get_blocked([KEYDOWN, USEREVENT, 0xFFFE])


@pytest.mark.parametrize("func", ["set_allowed", "set_blocked", "get_blocked",
                                  "get", "peek", "clear"])
@pytest.mark.parametrize("arg,exc,msg", [
    (1.5, TypeError, "event type must be numeric or a sequence"),
    ({1: 2}, TypeError, "event type must be numeric or a sequence"),
    ("ab", TypeError, "type sequence must contain valid event types"),
    ([1, None], TypeError, "type sequence must contain valid event types"),
    (0xFFFF, ValueError, "event type out of range"),
    ([-1], ValueError, "event type out of range"),
    (2**70, ValueError, "event type out of range"),
])
def test_type_arguments(func, arg, exc, msg):
    with pytest.raises(exc, match="^" + msg + "$"):
        getattr(event, func)(arg)


def test_get_by_type_and_exclude_keep_queue_order():
    for i, t in enumerate([USEREVENT, KEYDOWN, USEREVENT + 1, USEREVENT, KEYUP]):
        event.post(Event(t, i=i))
    got = event.get([USEREVENT, KEYUP])
    assert [(e.type, e.i) for e in got] == [(USEREVENT, 0), (USEREVENT, 3), (KEYUP, 4)]
    event.post(Event(USEREVENT + 2, i=9))
    got = event.get(exclude=[USEREVENT + 1, KEYDOWN], pump=False)
    assert [e.i for e in got] == [9]
    assert [e.i for e in event.get()] == [2, 1]


def test_get_exclude_many_events_puts_all_back():
    for i in range(500):  # the aside buffer has to grow several times
        event.post(Event(USEREVENT, i=i))
    event.post(Event(KEYUP))
    assert [e.type for e in event.get(exclude=USEREVENT)] == [KEYUP]
    assert [e.i for e in event.get()] == list(range(500))


def test_get_invalid_combination():
    with pytest.raises(base.error,
                       match="^Invalid combination of excluded and included event type$"):
        event.get(eventtype=KEYDOWN, exclude=KEYUP)


def test_peek_types_poll_and_empty_reads():
    assert event.peek(USEREVENT) is False
    assert event.poll().type == 0 and event.peek().type == 0
    event.post(Event(USEREVENT + 5))
    assert event.peek([KEYDOWN, USEREVENT + 5]) is True
    assert event.peek(USEREVENT + 5, pump=False) is True
    assert event.poll().type == USEREVENT + 5
    assert event.get() == []


def test_wait_timeout_and_wakeup_from_another_thread():
    t0 = _time.perf_counter()
    assert event.wait(30).type == 0
    assert 0.025 <= _time.perf_counter() - t0 < 1.0

    def later():
        _time.sleep(0.05)
        event.post(Event(USEREVENT, who="thread"))
    th = threading.Thread(target=later)
    th.start()
    e = event.wait()  # no limit; the thread needs the GIL to post
    th.join()
    assert e.type == USEREVENT and e.who == "thread"


def test_custom_type_sequence_and_exhaustion():
    event._internal_mod_quit()
    event._internal_mod_init()
    assert event.custom_type() == 0x8063
    assert event.custom_type() == 0x8064
    n = 0
    with pytest.raises(Exception, match=r"^lumora\.event\.custom_type made too many event types\.$"):
        while True:
            last = event.custom_type()
            n += 1
    assert last == 0xFFFE and n == 0xFFFE - 0x8064
    event._internal_mod_quit()
    event._internal_mod_init()
    assert event.custom_type() == 0x8063


def test_grabs_without_a_window():
    event.set_grab(True)
    event.set_keyboard_grab(1)
    assert event.get_grab() is False and event.get_keyboard_grab() is False
    with pytest.raises(ZeroDivisionError):
        class Bad:
            def __bool__(self):
                raise ZeroDivisionError
        event.set_grab(Bad())


def test_joystick_instance_map_exports():
    lib = ctypes.PyDLL(event.__file__)
    inst = lib._joy_map_instance
    inst.restype, inst.argtypes = ctypes.py_object, [ctypes.c_int]
    discard = lib._joy_map_discard
    discard.argtypes = [ctypes.c_int]
    assert inst(41) == 41
    event._joy_instance_map[41] = 2
    assert inst(41) == 2
    discard(41)
    discard(41)
    assert 41 not in event._joy_instance_map
    to_str = lib.lm_event_str
    to_str.restype, to_str.argtypes = ctypes.py_object, [ctypes.py_object]
    assert to_str(Event(0x100)) == "<Event(256-Quit {})>"


def test_needs_video_and_exit_with_queued_events():
    r = run_py("""
        import lumora.base as b, lumora.event as e
        try:
            e.get()
        except b.error as x:
            print("ERR", x)
        try:
            e.wait()
        except b.error as x:
            print("ERR", x)
        import _sdlpush as raw
        raw.init_video()
        e._internal_mod_init()
        for i in range(100):
            e.post(e.Event(0x8062, payload=[i] * 10))
        print("done")
    """)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split("\n")[:3] == ["ERR video system not initialized"] * 2 + ["done"]


# --- translations done by the filter --------------------------------------

def key_events():
    return [e for e in event.get() if e.type in (KEYDOWN, KEYUP)]


@pytest.mark.parametrize("sym,mod,expected", [
    (ord("a"), 0, "a"),
    (ord("a"), KMOD_LSHIFT, "A"),
    (ord("a"), KMOD_CAPS, "A"),
    (ord("a"), KMOD_LSHIFT | KMOD_CAPS, "a"),
    (ord("a"), KMOD_LCTRL, "\x01"),
    (ord("z"), KMOD_LCTRL, "\x1a"),
    (ord("2"), KMOD_LCTRL, ""),
    (ord("["), KMOD_LCTRL, "\x1b"),
    (ord("8"), KMOD_LCTRL, "\x7f"),
    (ord("1"), KMOD_LSHIFT, "1"),
    (SDLK_KP_ENTER, 0, "\r"),
    (SDLK_KP_DIVIDE, 0, "/"),
    (0x4000003A, 0, ""),  # F1
])
def test_key_text_derived_without_text_input(sym, mod, expected):
    raw.key(raw.KEYDOWN, sym, 30, mod)
    raw.key(raw.KEYUP, sym, 30, mod)
    down, up = key_events()
    assert (down.unicode, up.unicode) == (expected, expected)
    assert (down.key, down.mod, down.scancode, down.window) == (sym, mod, 30, None)


def test_key_text_from_text_input_and_key_up_frees_it():
    raw.key(raw.KEYDOWN, ord("e"), 8)
    raw.text("é")
    raw.key(raw.KEYUP, ord("e"), 8)
    got = event.get()
    assert [e.type for e in got] == [KEYDOWN, 0x303, KEYUP]
    assert got[0].unicode == "é" and got[1].text == "é" and got[2].unicode == "é"
    raw.key(raw.KEYDOWN, ord("e"), 8)
    raw.key(raw.KEYUP, ord("e"), 8)
    assert [e.unicode for e in key_events()] == ["e", "e"]


@pytest.mark.parametrize("txt,expected", [("ab", "a"), ("€x", "€"), ("😀", "")])
def test_key_text_keeps_only_the_first_short_character(txt, expected):
    raw.key(raw.KEYDOWN, ord("q"), 20)
    raw.text(txt)
    raw.key(raw.KEYUP, ord("q"), 20)
    assert [e.unicode for e in key_events()] == [expected, expected]


def test_key_text_table_evicts_the_oldest_when_full():
    # 20 keys held down at once: more than the table has entries.
    downs = []
    for i in range(20):
        raw.key(raw.KEYDOWN, ord("a") + i, 4 + i)
        raw.text(chr(0x3b1 + i))  # Greek letters: only text input gives them
        downs += key_events()
    assert [e.unicode for e in downs] == [chr(0x3b1 + i) for i in range(20)]
    for i in range(20):
        raw.key(raw.KEYUP, ord("a") + i, 4 + i)
    ups = key_events()
    # the five oldest were evicted and fall back to the key's own letter
    assert [e.unicode for e in ups] == ([chr(ord("a") + i) for i in range(5)] +
                                        [chr(0x3b1 + i) for i in range(5, 20)])
    # the newest key still gets its text: the table was not left full
    raw.key(raw.KEYDOWN, ord("z"), 29)
    raw.text("ω")
    raw.key(raw.KEYUP, ord("z"), 29)
    assert [e.unicode for e in key_events()] == ["ω", "ω"]


def test_sdl_key_repeat_is_dropped():
    assert raw.key(raw.KEYDOWN, ord("a"), 4, repeat=1) == 0
    assert event.get() == []


@pytest.mark.parametrize("sdl_button,public", [(1, 1), (2, 2), (3, 3), (4, 6),
                                               (5, 7), (132, 4), (133, 5), (128, 0)])
def test_mouse_buttons_renumbered(sdl_button, public):
    raw.button(raw.MOUSEBUTTONDOWN, sdl_button, 10, 20)
    [e] = event.get()
    assert (e.type, e.button, e.pos, e.touch, e.window) == (MOUSEBUTTONDOWN, public,
                                                             (10, 20), False, None)


@pytest.mark.parametrize("y,button,pairs", [(2, 4, 2), (-1, 5, 1), (1, 4, 1),
                                             (-2**31, 5, 32), (2**31 - 1, 4, 32)])
def test_wheel_becomes_button_pairs(y, button, pairs):
    raw.wheel(0, y)
    got = event.get()
    wheel = [e for e in got if e.type == MOUSEWHEEL]
    buttons = [(e.type, e.button) for e in got if e.type != MOUSEWHEEL]
    assert len(wheel) == 1 and wheel[0].y == y and wheel[0].flipped is False
    assert buttons == [(MOUSEBUTTONDOWN, button), (MOUSEBUTTONUP, button)] * pairs


def test_wheel_without_motion_dropped_and_horizontal_kept():
    assert raw.wheel(0, 0) == 0
    raw.wheel(3, 0)
    [e] = event.get()
    assert (e.type, e.x, e.y, e.precise_x) == (MOUSEWHEEL, 3, 0, 3.0)


@pytest.mark.parametrize("code,extra", [
    (12, [(ACTIVEEVENT, {"gain": 1, "state": 2}), (0x8011, {"window": None})]),
    (7, [(ACTIVEEVENT, {"gain": 0, "state": 4}), (0x800C, {"window": None})]),
    (10, [(ACTIVEEVENT, {"gain": 1, "state": 1}), (0x800F, {"window": None})]),
    (3, [(VIDEOEXPOSE, {}), (0x8008, {"window": None})]),
    (4, [(0x8009, {"x": 5, "y": 6, "window": None})]),
    (1, [(0x8006, {"window": None})]),
])
def test_window_events(code, extra):
    raw.window(code, 5, 6)
    assert [(e.type, e.dict) for e in event.get()] == extra


def test_window_resize_keeps_only_the_latest_videoresize():
    raw.window(5, 100, 80)
    raw.window(5, 640, 480)
    got = [(e.type, e.dict) for e in event.get()]
    assert got == [(0x800A, {"x": 100, "y": 80, "window": None}),
                   (VIDEORESIZE, {"size": (640, 480), "w": 640, "h": 480}),
                   (0x800A, {"x": 640, "y": 480, "window": None})]


def test_blocked_window_type_is_removed_at_read_time():
    event.set_blocked(0x8011)
    raw.window(12)
    assert [e.type for e in event.get()] == [ACTIVEEVENT]


@pytest.mark.parametrize("bits,value", [(0, (0, 0)), (1, (0, 1)), (2, (1, 0)),
                                        (4, (0, -1)), (8, (-1, 0)), (9, (-1, 1)),
                                        (6, (1, -1))])
def test_joystick_hat_value(bits, value):
    raw.hat(bits, which=3, hat_index=1)
    [e] = event.get()
    assert (e.value, e.hat, e.instance_id, e.joy) == (value, 1, 3, 3)


def test_peeked_drop_file_is_still_readable():
    raw.drop_file("/tmp/some file.png")
    for _ in range(3):
        assert event.peek().file == "/tmp/some file.png"
    [e] = event.get()
    assert (e.type, e.file) == (0x1000, "/tmp/some file.png")


def test_foreign_user_events_get_empty_dicts():
    raw.user(USEREVENT + 7, code=5)
    raw.user(0x8035, code=0)  # a proxy number without a dictionary
    assert [(e.type, e.dict) for e in event.get()] == [(USEREVENT + 7, {}), (KEYDOWN, {})]


# --- key repeat -------------------------------------------------------------

def test_key_repeat_runs_until_key_up():
    set_repeat = raw.capsule_slot(event, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)
    get_repeat = raw.capsule_slot(event, 5, None, ctypes.POINTER(ctypes.c_int),
                                  ctypes.POINTER(ctypes.c_int))
    with pytest.raises(ValueError, match="^delay and interval must equal at least 0$"):
        set_repeat(-1, 0)
    set_repeat(200, 20)
    d, i = ctypes.c_int(), ctypes.c_int()
    get_repeat(ctypes.byref(d), ctypes.byref(i))
    assert (d.value, i.value) == (200, 20)

    raw.key(raw.KEYDOWN, ord("x"), 27)
    t0 = _time.perf_counter()
    _time.sleep(0.05)
    early = key_events()
    # before the delay only the press (unless the machine stalled us past it)
    assert len(early) == 1 or _time.perf_counter() - t0 >= 0.2
    _time.sleep(0.4)
    raw.key(raw.KEYUP, ord("x"), 27)
    held_ms = (_time.perf_counter() - t0) * 1000
    got = early + key_events()
    repeats = [e for e in got if e.type == KEYDOWN][1:]
    assert 4 <= len(repeats) <= (held_ms - 200) / 20 + 2
    assert all(e.unicode == "x" and e.scancode == 27 for e in repeats)
    assert got[-1].type == KEYUP
    _time.sleep(0.1)
    assert key_events() == []  # nothing repeats after the key-up


def test_quit_waits_for_a_repeat_push_in_flight():
    # The repeat timer's push is held up inside SDL's dispatch (an event
    # watcher that sleeps on the timer thread).  Quitting must not return
    # while that push is still running: SDL may free its queue right after.
    set_repeat = raw.capsule_slot(event, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)
    WATCH = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
    main = threading.get_ident()
    state = {"entered": False, "done": False}

    def watch(_, ev):
        if (ctypes.c_uint32.from_address(ev).value == KEYDOWN
                and threading.get_ident() != main and not state["entered"]):
            state["entered"] = True
            _time.sleep(0.2)
            state["done"] = True
        return 0
    watcher = WATCH(watch)
    raw.SDL.SDL_AddEventWatch.argtypes = [WATCH, ctypes.c_void_p]
    raw.SDL.SDL_DelEventWatch.argtypes = [WATCH, ctypes.c_void_p]
    raw.SDL.SDL_AddEventWatch(watcher, None)
    try:
        set_repeat(5, 1000)
        raw.key(raw.KEYDOWN, ord("x"), 27)
        end = _time.monotonic() + 2
        while not state["entered"] and _time.monotonic() < end:
            _time.sleep(0.005)
        assert state["entered"]
        event._internal_mod_quit()
        assert state["done"]
    finally:
        raw.SDL.SDL_DelEventWatch(watcher, None)
        event._internal_mod_init()


def test_another_key_up_does_not_stop_the_repeat():
    set_repeat = raw.capsule_slot(event, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)
    set_repeat(30, 15)
    raw.key(raw.KEYDOWN, ord("x"), 27)
    raw.key(raw.KEYUP, ord("y"), 28)
    _time.sleep(0.2)
    raw.key(raw.KEYUP, ord("x"), 27)
    assert len([e for e in key_events() if e.type == KEYDOWN]) >= 3


# --- failures of SDL underneath ---------------------------------------------

@pytest.fixture(scope="module")
def shim(tmp_path_factory):
    try:
        path = raw.build_shim(str(tmp_path_factory.mktemp("shim")))
    except subprocess.CalledProcessError as exc:
        pytest.skip("cannot build the failure shim: %s" % exc.stderr)
    if not path:
        pytest.skip("no C compiler for the failure shim")
    return path


def run_shimmed(shim, code, timeout=60):
    env = raw.shim_env(os.environ, shim)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=timeout, env=env)


def test_queue_read_errors_raise(shim):
    r = run_shimmed(shim, """
        import lumora.base as b, lumora.event as e
        import _sdlpush as raw
        raw.init_video()
        e._internal_mod_init()
        e.post(e.Event(0x8062, n=1))
        raw.arm(raw.FAIL_PEEP, "event")
        for name, call in [("poll", e.poll), ("wait", lambda: e.wait(5)),
                           ("wait-forever", e.wait), ("get", e.get),
                           ("get-type", lambda: e.get(0x8062)),
                           ("get-exclude", lambda: e.get(exclude=0x300)),
                           ("peek", e.peek), ("peek-type", lambda: e.peek(0x8062)),
                           ("clear", e.clear)]:
            try:
                print(name, "returned", call())
            except b.error as x:
                print(name, "error", x)
        raw.arm(0, "event")
        print([(ev.type, ev.n) for ev in e.get()])
    """)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    names = ["poll", "wait", "wait-forever", "get", "get-type", "get-exclude",
             "peek", "peek-type", "clear"]
    assert lines[:-1] == ["%s error queue read refused by test" % n for n in names]
    assert lines[-1] == "[(32866, 1)]"  # nothing was lost on the way


@pytest.mark.parametrize("mask,fn,when", [
    (raw.FAIL_LOCK, "SDL_LockMutex", "filter"),
    (raw.FAIL_UNLOCK, "SDL_UnlockMutex", "filter"),
    (raw.FAIL_LOCK, "SDL_LockMutex", "repeat-timer"),
    (raw.FAIL_UNLOCK, "SDL_UnlockMutex", "repeat-timer"),
])
def test_repeat_lock_failure_ends_the_process(shim, mask, fn, when):
    # The filter runs here on the pushing thread without the interpreter;
    # the repeat timer on SDL's timer thread.  Neither may touch Python.
    r = run_shimmed(shim, """
        import ctypes, time
        import lumora.event as e
        import _sdlpush as raw
        raw.init_video()
        e._internal_mod_init()
        raw.capsule_slot(e, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)(20, 5)
        if %r == "filter":
            raw.arm(%d, "event")
            raw.key(raw.KEYDOWN, 97, 4)
        else:
            raw.key(raw.KEYDOWN, 97, 4)
            raw.arm(%d, "event")
            time.sleep(0.5)
        print("survived")
    """ % (when, mask, mask))
    assert r.returncode == 1
    assert r.stdout == ""
    assert r.stderr.strip().endswith("Fatal lumora error in %s: %s refused by test"
                                     % (fn, "lock" if mask == raw.FAIL_LOCK else "unlock"))


# --- threads ------------------------------------------------------------------

def test_repeat_timer_never_pushes_under_its_lock():
    # SDL runs the filter and event watchers under its event-watch lock; the
    # filter takes the repeat lock inside it.  An event watcher here holds the
    # watch lock for 2 ms per text event and then pushes a key-up, whose
    # filter step takes the repeat lock, while key repeat fires every
    # millisecond.  A repeat timer that pushed while holding the repeat lock
    # would wait for the watch lock with it held: deadlock.
    r = run_py("""
        import ctypes, faulthandler, threading, time
        import lumora.event as e
        import _sdlpush as raw
        faulthandler.dump_traceback_later(20, exit=True)
        raw.init_video()
        e._internal_mod_init()
        set_repeat = raw.capsule_slot(e, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)
        set_repeat(1, 1)
        WATCH = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)

        def watch(_, ev):
            if ctypes.c_uint32.from_address(ev).value == raw.TEXTINPUT:
                time.sleep(0.002)
                raw.key(raw.KEYUP, ord("z"), 29)
            return 0
        watcher = WATCH(watch)
        raw.SDL.SDL_AddEventWatch.argtypes = [WATCH, ctypes.c_void_p]
        raw.SDL.SDL_DelEventWatch.argtypes = [WATCH, ctypes.c_void_p]
        raw.SDL.SDL_AddEventWatch(watcher, None)
        raw.key(raw.KEYDOWN, ord("x"), 27)
        stop = time.monotonic() + 1.0

        def pusher():
            while time.monotonic() < stop:
                raw.text("y")
        th = threading.Thread(target=pusher)
        th.start()
        repeats = 0
        while time.monotonic() < stop:
            repeats += sum(1 for ev in e.get() if ev.type == 0x300)
            time.sleep(0.002)
        th.join()
        set_repeat(0, 0)
        raw.key(raw.KEYUP, ord("x"), 27)
        raw.SDL.SDL_DelEventWatch(watcher, None)
        print("repeats", repeats > 50)
    """, timeout=60)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "repeats True"


def test_stress_timers_repeat_and_threads():
    # Timers, key repeat, a thread posting, a thread pressing keys and a
    # thread replacing timers, for a few seconds, while the main thread
    # reads, peeks and clears.  Ends with every posted dictionary released
    # and the queue empty.  Run apart so that a deadlock is a failure with
    # stacks, not a hang.
    r = run_py("""
        import ctypes, faulthandler, gc, random, sys, threading, time
        import lumora.event as e, lumora.time as lt
        import _sdlpush as raw
        faulthandler.dump_traceback_later(60, exit=True)
        raw.init_video()
        e._internal_mod_init()
        lt._internal_mod_init()
        set_repeat = raw.capsule_slot(e, 4, ctypes.c_int, ctypes.c_int, ctypes.c_int)
        set_repeat(1, 1)
        U = 0x8062
        posted_d, timer_d, churn_d = {"from": "thread"}, {"from": "timer"}, {"c": 1}
        rc = {id(d): sys.getrefcount(d) for d in (posted_d, timer_d, churn_d)}
        timer_types = [U + 20 + i for i in range(4)]
        for i, t in enumerate(timer_types):
            lt.set_timer(e.Event(t, timer_d), 1 + i)
        stop = threading.Event()
        counts = {"posted": 0, "thread": 0, "timer": 0, "keys": 0, "churn": 0}

        def poster():
            while not stop.is_set():
                if e.post(e.Event(U + 1, posted_d)):
                    counts["posted"] += 1
                if counts["posted"] % 50 == 0:
                    time.sleep(0.001)

        def presser():
            n = 0
            while not stop.is_set():
                k = n % 26
                raw.key(raw.KEYDOWN, ord("a") + k, 4 + k)
                raw.text(chr(0x3b1 + k % 20))
                time.sleep(0.002)
                raw.key(raw.KEYUP, ord("a") + k, 4 + k)
                raw.wheel(0, 1 if n % 2 else -3)
                n += 1

        def churner():
            rnd = random.Random(5)
            while not stop.is_set():
                lt.set_timer(e.Event(U + 40, churn_d), rnd.randint(1, 3),
                             rnd.randint(0, 3))
                time.sleep(rnd.random() * 0.004)
                if rnd.random() < 0.3:
                    lt.set_timer(U + 40, 0)

        ths = [threading.Thread(target=f) for f in (poster, presser, churner)]
        for t in ths:
            t.start()
        end = time.monotonic() + 3.0
        rounds = 0
        while time.monotonic() < end:
            rounds += 1
            for ev in e.get():
                if ev.type == U + 1:
                    counts["thread"] += 1
                elif ev.type in timer_types:
                    counts["timer"] += 1
                elif ev.type in (0x300, 0x301):
                    counts["keys"] += 1
                elif ev.type == U + 40:
                    counts["churn"] += 1
            if rounds % 7 == 0:
                e.clear(U + 1, pump=False)  # dropped events release their dicts
            if rounds % 5 == 0:
                e.get(exclude=[U + 1, 0x300])
            e.peek()
            e.poll()
            e.wait(1)
            ev = None
            time.sleep(0.002)
        stop.set()
        for t in ths:
            t.join(10)
            assert not t.is_alive()
        for t in timer_types + [U + 40]:
            lt.set_timer(t, 0)
        set_repeat(0, 0)
        time.sleep(0.05)
        e.clear()
        gc.collect()
        leaked = {d["from"] if "from" in d else "churn": sys.getrefcount(d) - rc[id(d)]
                  for d in (posted_d, timer_d, churn_d)}
        print("leaked", leaked)
        print("queued", raw.queued())
        print("busy", all(counts[k] > 100 for k in ("thread", "timer", "keys")),
              counts["churn"] > 0, counts)
    """, timeout=120)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0] == "leaked {'thread': 0, 'timer': 0, 'churn': 0}"
    assert lines[1] == "queued 0"
    assert lines[2].startswith("busy True True"), lines[2]
