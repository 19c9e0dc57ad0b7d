"""Pieces every benchmark script shares.

Importing this module puts LUMORA_STAGE=<build>/stage (when set) in front
of sys.path, so the scripts import the build under test.  Scripts import it
before lumora and run as `python3 bench/bench_x.py`, which puts this folder
on sys.path.
"""
import ctypes
import os
import sys
import time

_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))

# Processor time of this process: on a machine shared with other work it
# is far steadier than the wall clock, and both sides are measured alike.
clock = time.process_time


def headless(video="dummy", audio=None):
    """Default SDL drivers that need no display or sound card (the
    environment still wins)."""
    if video:
        os.environ.setdefault("SDL_VIDEODRIVER", video)
    if audio:
        os.environ.setdefault("SDL_AUDIODRIVER", audio)


def wanted(words, name):
    """Whether a case called `name` runs when the command line gave `words`
    (no words: every case)."""
    return not words or any(w in name for w in words)


def best(fn, repeat=5, number=None, target=0.02, most=2000):
    """Best processor time per call of fn over `repeat` timings of `number`
    calls; by default `number` is chosen so that one timing lasts about
    `target` seconds, with at most `most` calls."""
    if number is None:
        t0 = clock()
        fn()
        one = max(clock() - t0, 1e-9)
        number = max(1, min(most, int(target / one)))
    times = []
    for _ in range(repeat):
        t0 = clock()
        for _ in range(number):
            fn()
        times.append((clock() - t0) / number)
    return min(times)


def best_wall(fn, repeat=15, number=1, warm=True):
    """Best wall time per call of fn over `repeat` timings of `number`
    calls, after one untimed call when `warm`."""
    if warm:
        fn()
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - t0) / number)
    return min(times)


class SDLSurface(ctypes.Structure):
    """The leading fields of SDL_Surface."""
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int),
                ("pitch", ctypes.c_int), ("pixels", ctypes.c_void_p)]


def raw(s):
    """The SDL_Surface of a lumora Surface, or of an SDL_Surface pointer
    (an int) made through ctypes."""
    if not isinstance(s, int):
        # The SDL surface pointer is the first field after the object head.
        head = 2 * ctypes.sizeof(ctypes.c_void_p)
        s = ctypes.c_void_p.from_address(id(s) + head).value
    return SDLSurface.from_address(s)


def copy_rows(s, values):
    """Copy the rows of the array `values` ([y, x...]) into the pixels of
    surface s (lumora or SDL), row by row through its pitch."""
    r = raw(s)
    size = values[0].nbytes
    for y in range(values.shape[0]):
        ctypes.memmove(r.pixels + y * r.pitch, values[y].tobytes(), size)


def pixels(s):
    """A writable numpy view [y, x, byte] of a 32-bit surface's pixels."""
    import numpy as np
    r = raw(s)
    buf = (ctypes.c_uint8 * (r.pitch * r.h)).from_address(r.pixels)
    rows = np.frombuffer(buf, np.uint8).reshape(r.h, r.pitch)
    return rows[:, :r.w * 4].reshape(r.h, r.w, 4)


def surface_of(arr):
    """A lumora 32-bit SRCALPHA surface holding the bytes of arr (h, w, 4)."""
    import lumora
    h, w = arr.shape[:2]
    s = lumora.Surface((w, h), lumora.SRCALPHA, 32)
    copy_rows(s, arr)
    return s
