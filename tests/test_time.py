"""lumora.time: ticks, delays, timers posting through SDL, Clock."""
import ctypes
import math
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

USEREVENT = 0x8062


sdl = raw.queue_fixture(base, event, ltime)


@pytest.fixture(autouse=True)
def clean_queue():
    event.clear()
    yield
    for t in range(USEREVENT, USEREVENT + 8):
        ltime.set_timer(t, 0)
    event.clear()


def run_py(code, timeout=30):
    return _child.run_py(code, timeout=timeout)


def collect(seconds, types=None):
    got = []
    end = _time.monotonic() + seconds
    while _time.monotonic() < end:
        got += event.get(types) if types else event.get()
        _time.sleep(0.005)
    return got


class Spinner:
    """Counts how often another Python thread runs, to see the GIL released."""

    def __enter__(self):
        self.count, self.stop = 0, False
        self.th = threading.Thread(target=self.run)
        self.th.start()
        _time.sleep(0.01)
        self.start = self.count
        return self

    def run(self):
        while not self.stop:
            self.count += 1
            _time.sleep(0.0005)

    def __exit__(self, *exc):
        self.ran = self.count - self.start
        self.stop = True
        self.th.join()


def test_get_ticks_advances():
    a = ltime.get_ticks()
    _time.sleep(0.03)
    assert 20 <= ltime.get_ticks() - a < 1000


@pytest.mark.parametrize("ms", [1, 11, 13, 25, 40])
def test_delay_is_accurate(ms):
    t0 = _time.perf_counter()
    spent = ltime.delay(ms)
    wall = (_time.perf_counter() - t0) * 1000
    assert ms <= spent <= ms + 40  # loose: two busy cores
    # SDL counts whole milliseconds on its own clock: allow for the tick
    # boundary and the two clocks' drift against Python's
    assert ms - 2 <= wall <= ms + 80


@pytest.mark.parametrize("func", ["delay", "wait"])
def test_negative_ints_count_as_zero(func):
    # delay returns at once; wait sleeps SDL_Delay(0), which a loaded
    # machine may stretch a little, but never into a long wait
    limit = 0 if func == "delay" else 50
    assert getattr(ltime, func)(-5) <= limit
    assert getattr(ltime, func)(False) <= limit


@pytest.mark.parametrize("func,arg", [("delay", 1.5), ("delay", "10"), ("delay", None),
                                      ("wait", 2.0), ("wait", [1])])
def test_delay_and_wait_need_an_int(func, arg):
    with pytest.raises(TypeError, match="^%s requires one integer argument$" % func):
        getattr(ltime, func)(arg)


@pytest.mark.parametrize("call", [lambda: ltime.wait(80), lambda: ltime.delay(80),
                                  lambda: ltime.Clock().tick(12)])
def test_sleeps_release_the_gil(call):
    with Spinner() as s:
        call()
    assert s.ran >= 10


def test_wait_returns_time_spent():
    spent = ltime.wait(30)
    assert 29 <= spent <= 200


def test_timer_once_repeated_and_cancelled():
    ev = event.Event(USEREVENT, {"n": 1})
    ltime.set_timer(ev, 20, 1)
    got = collect(0.2, USEREVENT)
    assert len(got) == 1 and got[0].dict is ev.dict

    ltime.set_timer(USEREVENT + 1, 15, loops=3)
    assert [e.type for e in collect(0.25, USEREVENT + 1)] == [USEREVENT + 1] * 3

    ltime.set_timer(event=USEREVENT + 2, millis=10)
    got = collect(0.2, USEREVENT + 2)
    assert 5 <= len(got) <= 25
    ltime.set_timer(USEREVENT + 2, 0)
    event.clear()
    assert collect(0.1, USEREVENT + 2) == []


def test_second_timer_of_a_type_replaces_the_first():
    ltime.set_timer(event.Event(USEREVENT, which="first"), 20)
    ltime.set_timer(event.Event(USEREVENT, which="second"), 150, 1)
    got = collect(0.5, USEREVENT)
    assert [e.which for e in got] == ["second"]


def test_timer_ids_stay_unique_across_restart():
    # Before the restart a 60 ms timer runs; afterwards a slow one of another
    # type gets the next id.  The old SDL timer must not fire the new node.
    ltime.set_timer(USEREVENT, 60)
    ltime._internal_mod_quit()
    ltime._internal_mod_init()
    ltime.set_timer(USEREVENT + 3, 5000)
    assert collect(0.3) == []
    ltime.set_timer(USEREVENT + 3, 0)


def test_replaced_and_cancelled_timers_remove_their_sdl_timer():
    # SDL numbers its timers in sequence; a probe timer gives the number the
    # next set_timer will get.  SDL_RemoveTimer is true only for a timer
    # still pending, so false afterwards means set_timer removed it itself.
    SDL = raw.SDL
    CB = ctypes.CFUNCTYPE(ctypes.c_uint32, ctypes.c_uint32, ctypes.c_void_p)
    SDL.SDL_AddTimer.argtypes = [ctypes.c_uint32, CB, ctypes.c_void_p]
    SDL.SDL_RemoveTimer.argtypes = [ctypes.c_int]
    never = CB(lambda interval, param: 0)
    probe = SDL.SDL_AddTimer(100000, never, None)
    assert SDL.SDL_RemoveTimer(probe)
    ltime.set_timer(USEREVENT, 10000)                 # probe + 1
    ltime.set_timer(USEREVENT, 20000)                 # replaces it: probe + 2
    ltime.set_timer(USEREVENT + 1, 30000)             # probe + 3, still pending
    ltime.set_timer(USEREVENT, 0)                     # cancels probe + 2
    assert [bool(SDL.SDL_RemoveTimer(probe + k)) for k in (1, 2, 3)] == \
        [False, False, True]


def test_timer_posts_proxied_public_types():
    ltime.set_timer(event.Event(0x300, key=5), 10, 1)
    got = collect(0.15)
    assert [(e.type, e.key) for e in got] == [(0x300, 5)]


def test_blocked_timer_events_are_released():
    d = {}
    rc = sys.getrefcount(d)
    event.set_blocked(USEREVENT)
    try:
        ltime.set_timer(event.Event(USEREVENT, d), 2)
        _time.sleep(0.1)
        ltime.set_timer(USEREVENT, 0)
        assert sys.getrefcount(d) == rc
    finally:
        event.set_allowed(USEREVENT)


@pytest.mark.parametrize("arg,exc,msg", [
    ("x", TypeError, "first argument must be an event type or event object"),
    (1.0, TypeError, "first argument must be an event type or event object"),
    (0x10000, ValueError, "event type out of range"),
    (-1, ValueError, "event type out of range"),
    (2**40, ValueError, "event type out of range"),
    (0x200, ValueError, "event type out of range"),
])
def test_set_timer_bad_event(arg, exc, msg):
    with pytest.raises(exc, match="^%s$" % msg):
        ltime.set_timer(arg, 10)
    with pytest.raises(exc, match="^%s$" % msg):
        ltime.set_timer(event.Event(arg) if isinstance(arg, int) and -2**31 <= arg < 2**31
                        else arg, 10)


def test_clock_tick_paces_frames():
    c = ltime.Clock()
    assert repr(c) == str(c) == "<Clock(fps=0.00)>"
    first = c.tick(60)
    assert 14 <= first <= 100
    fps = []
    for _ in range(25):
        c.tick(100)
        fps.append(c.get_fps())
        assert 8 <= c.get_time() <= 100 and 0 <= c.get_rawtime() <= c.get_time()
    assert fps[:9] == [0.0] * 9 and fps[9] > 0  # refreshed from the 11th tick
    assert 20 <= fps[-1] <= 110
    assert re.fullmatch(r"<Clock\(fps=\d+\.\d\d\)>", repr(c))


def test_clock_busy_loop_and_raw_time():
    c = ltime.Clock()
    c.tick()
    _time.sleep(0.004)
    t = c.tick_busy_loop(50)
    assert 19 <= t <= 60
    assert 3 <= c.get_rawtime() <= 40
    c.tick(framerate=0)
    assert c.get_rawtime() == c.get_time()


@pytest.mark.parametrize("rate", [0.0, float("nan"), float("inf"), -30.0, 1e30])
def test_clock_fps_stays_finite_without_elapsed_time(rate):
    c = ltime.Clock()
    for _ in range(40):  # many ticks inside one millisecond
        c.tick(rate)
    assert math.isfinite(c.get_fps())
    assert c.get_time() <= 50


def test_clock_takes_no_arguments():
    with pytest.raises(TypeError):
        ltime.Clock(60)
    with pytest.raises(TypeError):
        ltime.Clock(fps=60)
    assert isinstance(ltime.ClockType(), ltime.Clock)


def test_fresh_process_states_and_exit_with_live_timers():
    r = run_py("""
        import lumora.base as b, lumora.event as e, lumora.time as t
        print(t.get_ticks())
        try:
            t.set_timer(0x8062, 10)
        except b.error as x:
            print("ERR", x)
        import _sdlpush as raw
        raw.init_video()
        e._internal_mod_init()
        t._internal_mod_init()
        for i in range(6):
            t.set_timer(e.Event(0x8062 + i, payload=list(range(50))), 1)
        t.delay(30)
        print("exiting")
    """)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split("\n")[:3] == ["0", "ERR lumora is not initialized", "exiting"]


def test_base_quit_with_timers_firing():
    r = run_py("""
        import lumora.base as b, lumora.event as e, lumora.time as t
        import _sdlpush as raw
        for round in range(5):
            b.init()
            raw.init_video()
            e._internal_mod_init()
            t._internal_mod_init()
            for i in range(4):
                t.set_timer(0x8062 + i, 1)
            t.delay(15)
            b.quit()
        print("ok")
    """)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "ok"



def test_timer_lock_failure_on_the_timer_thread_ends_the_process(tmp_path):
    try:
        shim = raw.build_shim(str(tmp_path))
    except subprocess.CalledProcessError as exc:
        pytest.skip("cannot build the failure shim: %s" % exc.stderr)
    if not shim:
        pytest.skip("no C compiler for the failure shim")
    env = raw.shim_env(os.environ, shim)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    r = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import time
        import lumora.event as e, lumora.time as t
        import _sdlpush as raw
        raw.init_video()
        e._internal_mod_init()
        t._internal_mod_init()
        t.set_timer(0x8062, 5)
        raw.arm(raw.FAIL_LOCK, "time")
        time.sleep(0.5)
        print("survived")
    """)], capture_output=True, text=True, timeout=60, env=env)
    assert r.returncode == 1 and r.stdout == ""
    assert r.stderr.strip().endswith(
        "Fatal lumora error in SDL_LockMutex: lock refused by test")
