"""Pixel work in one thread and in two: the speed-up of calls that release
the interpreter lock.

    python3 bench/bench_threads.py

LUMORA_STAGE=<build>/stage is honoured.  Each case runs the same call on
independent 1920x1080 32-bit surfaces (one per thread), N times in one
thread and then N times in each of two threads (N such that one thread
works for about half a second), and prints the wall times
and the speed-up (2 * one-thread time / two-thread time; 2.0 is perfect
scaling on two cores, the goal is 1.7).  Cases whose module is not built
are skipped.
"""
import math
import sys
import threading
import time

import _benchkit

_benchkit.headless()

import lumora  # noqa: E402
from lumora import Surface  # noqa: E402

W, H = 1920, 1080


def picture(seed):
    s = Surface((W, H), lumora.SRCALPHA, 32)
    s.fill((seed * 40 % 256, 90, 200, 255))
    lumora.draw.circle(s, (250, 200, 40, 128), (W // 2, H // 2), 400)
    lumora.draw.rect(s, (0, 0, 0, 0), (0, 0, 300, 300))
    return s


def cases():
    out = []
    try:
        from lumora import transform
        out.append(("transform.smoothscale 1080p -> 1280x720",
                    lambda s: transform.smoothscale(s, (1280, 720))))
        out.append(("transform.rotate 1080p by 30 degrees",
                    lambda s: transform.rotate(s, 30)))
        out.append(("transform.rotozoom 1080p by 30, x0.8",
                    lambda s: transform.rotozoom(s, 30, 0.8)))
    except ImportError:
        pass
    try:
        from lumora import mask
        out.append(("mask.from_surface 1080p", lambda s: mask.from_surface(s)))
    except ImportError:
        pass
    try:
        from lumora import shapekit
        star = [(int(W / 2 + (500 if i % 2 == 0 else 200) * math.cos(math.pi * i / 9)),
                 int(H / 2 + (500 if i % 2 == 0 else 200) * math.sin(math.pi * i / 9)))
                for i in range(18)]
        # Only the point-list primitives release the lock; a disc is drawn
        # as a 96-gon.
        disc = [(int(W / 2 + 500 * math.cos(math.pi * i / 48)),
                 int(H / 2 + 500 * math.sin(math.pi * i / 48))) for i in range(96)]
        out.append(("shapekit.filled_polygon disc r=500",
                    lambda s: shapekit.filled_polygon(s, disc, (200, 40, 90, 128))))
        out.append(("shapekit.filled_polygon star",
                    lambda s: shapekit.filled_polygon(s, star, (40, 200, 90, 128))))
    except ImportError:
        pass
    return out


def run(fn, surfaces, rounds):
    def work(s):
        for _ in range(rounds):
            fn(s)
    threads = [threading.Thread(target=work, args=(s,)) for s in surfaces]
    t = time.perf_counter()
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    return time.perf_counter() - t


def main():
    lumora.init()
    found = cases()
    if not found:
        sys.exit("no module with threaded pixel work is built")
    a, b = picture(1), picture(2)
    print("%-42s %6s %10s %10s %8s" % ("case", "calls", "1 thread",
                                        "2 threads", "speed-up"))
    worst = None
    for name, fn in found:
        t = time.perf_counter()
        fn(a)  # warm up, and size the run
        rounds = max(3, int(0.5 / max(time.perf_counter() - t, 1e-6)))
        one = min(run(fn, [a], rounds) for _ in range(3))
        two = min(run(fn, [a, b], rounds) for _ in range(3))
        speed = 2 * one / two
        worst = speed if worst is None else min(worst, speed)
        print("%-42s %6d %8.1fms %8.1fms %8.2f" % (name, rounds, one * 1e3,
                                                   two * 1e3, speed))
    print("smallest speed-up: %.2f (goal 1.7 on 2 cores)" % worst)
    lumora.quit()


if __name__ == "__main__":
    main()
