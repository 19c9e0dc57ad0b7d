"""Long pixel calls release the interpreter lock: another Python thread
keeps running while one of them works."""
import threading
import time

import pytest

import lumora


def _calls():
    from lumora import mask, transform
    big = lumora.Surface((3000, 2000), lumora.SRCALPHA, 32)
    big.fill((10, 200, 30, 200))
    full = mask.Mask((1500, 1500), fill=True)
    block = mask.Mask((60, 60), fill=True)
    return {
        "mask.convolve": lambda: full.convolve(block),
        "transform.smoothscale": lambda: transform.smoothscale(big, (2900, 1900)),
    }


@pytest.fixture(scope="module")
def calls():
    return _calls()


@pytest.mark.parametrize("name", ["mask.convolve", "transform.smoothscale"])
def test_other_thread_runs_during_pixel_call(calls, name):
    call = calls[name]
    call()  # warm up: allocations, tables
    t0 = time.perf_counter()
    call()
    one = time.perf_counter() - t0
    # The longest pause between two steps of this thread while the call runs
    # in another one.  Holding the lock through the call would make it at
    # least one call's length.
    done = threading.Event()
    started = threading.Event()

    def worker():
        started.set()
        for _ in range(3):
            call()
        done.set()

    t = threading.Thread(target=worker)
    t.start()
    started.wait()
    t0 = last = time.perf_counter()
    gap = 0.0
    while not done.is_set():
        now = time.perf_counter()
        gap = max(gap, now - last)
        last = now
    total = time.perf_counter() - t0
    t.join()
    assert one > 0.02 and total > 2 * one, "the call was too quick to tell"
    assert gap < one / 3, (gap, one)
