"""Rect method costs.

    python3 bench/bench_rect.py            (LUMORA_STAGE=<build>/stage honoured)

1. Per-call cost of colliderect, move, clip and union over 10,000 rects,
   against a bare method call of a C type (int.bit_length) in the same loop
   shape and against a plain-Python rectangle class.  Costs are loop times
   minus the time of the empty loop; every loop reads only local names.
2. collidelistall over 10,000 Rects, against numpy's vectorised overlap test
   on preallocated arrays (the same strict rule, indices as the result) and
   against a plain-Python list comprehension.

Goals: single-rect methods within 1.5x of int.bit_length; collidelistall
within 2x of numpy.
"""
import random
import time

import _benchkit

import numpy as np  # noqa: E402

from lumora.rect import Rect  # noqa: E402

N = 10_000


class PyRect:
    """A plain-Python rectangle with the same rules, for reference."""

    __slots__ = ("x", "y", "w", "h")

    def __init__(self, x, y, w, h):
        self.x, self.y, self.w, self.h = x, y, w, h

    def colliderect(self, o):
        return (self.x < o.x + o.w and o.x < self.x + self.w
                and self.y < o.y + o.h and o.y < self.y + self.h)

    def move(self, dx, dy):
        return PyRect(self.x + dx, self.y + dy, self.w, self.h)

    def clip(self, o):
        left = max(self.x, o.x)
        top = max(self.y, o.y)
        right = min(self.x + self.w, o.x + o.w)
        bottom = min(self.y + self.h, o.y + o.h)
        if right <= left or bottom <= top:
            return PyRect(self.x, self.y, 0, 0)
        return PyRect(left, top, right - left, bottom - top)

    def union(self, o):
        left = min(self.x, o.x)
        top = min(self.y, o.y)
        right = max(self.x + self.w, o.x + o.w)
        bottom = max(self.y + self.h, o.y + o.h)
        return PyRect(left, top, right - left, bottom - top)


def best(fn, repeat=7):
    return _benchkit.best_wall(fn, repeat, warm=False)


def best_of_each(fns, rounds=15):
    """Minimum time of each function, measured round-robin so that a busy
    machine slows all of them alike."""
    out = [float("inf")] * len(fns)
    for _ in range(rounds):
        for k, fn in enumerate(fns):
            t0 = time.perf_counter()
            fn()
            out[k] = min(out[k], time.perf_counter() - t0)
    return out


def main():
    rnd = random.Random(7)
    boxes = [(rnd.randrange(1000), rnd.randrange(1000), rnd.randrange(1, 60),
              rnd.randrange(1, 60)) for _ in range(N)]
    rects = [Rect(b) for b in boxes]
    pyrects = [PyRect(*b) for b in boxes]
    ints = [rnd.randrange(1, 1 << 30) for _ in range(N)]
    probe = Rect(400, 400, 200, 200)
    pyprobe = PyRect(400, 400, 200, 200)

    def empty(rects=rects):
        for r in rects:
            pass

    def bit_length(ints=ints):
        for n in ints:
            n.bit_length()

    def l_colliderect(rects=rects, probe=probe):
        for r in rects:
            r.colliderect(probe)

    def p_colliderect(pyrects=pyrects, pyprobe=pyprobe):
        for r in pyrects:
            r.colliderect(pyprobe)

    def l_move(rects=rects, probe=probe):
        for r in rects:
            r.move(3, 4)

    def p_move(pyrects=pyrects, pyprobe=pyprobe):
        for r in pyrects:
            r.move(3, 4)

    def l_clip(rects=rects, probe=probe):
        for r in rects:
            r.clip(probe)

    def p_clip(pyrects=pyrects, pyprobe=pyprobe):
        for r in pyrects:
            r.clip(pyprobe)

    def l_union(rects=rects, probe=probe):
        for r in rects:
            r.union(probe)

    def p_union(pyrects=pyrects, pyprobe=pyprobe):
        for r in pyrects:
            r.union(pyprobe)

    print("per-call cost over %d rects (empty-loop time removed)" % N)
    print("  %-14s %9s %9s %9s %12s %12s" % ("method", "lumora", "python",
                                              "bit_len", "vs bit_len",
                                              "python/ours"))
    for name, ours, theirs in [("colliderect", l_colliderect, p_colliderect),
                               ("move", l_move, p_move),
                               ("clip", l_clip, p_clip),
                               ("union", l_union, p_union)]:
        base, ref, t, p = best_of_each([empty, bit_length, ours, theirs])
        ref, t, p = ref - base, t - base, p - base
        print("  %-14s %6.1f ns %6.1f ns %6.1f ns %11.2fx %11.2fx"
              % (name, t / N * 1e9, p / N * 1e9, ref / N * 1e9, t / ref,
                 p / t))

    # collidelistall against numpy's vectorised test on preallocated arrays.
    arr = np.array(boxes, dtype=np.int32)
    xs = np.ascontiguousarray(arr[:, 0])
    ys = np.ascontiguousarray(arr[:, 1])
    rs = xs + arr[:, 2]
    bs = ys + arr[:, 3]
    m1 = np.empty(N, dtype=bool)
    m2 = np.empty(N, dtype=bool)
    px1, py1 = probe.x, probe.y
    px2, py2 = probe.right, probe.bottom

    def np_overlap():
        np.less(xs, px2, out=m1)
        np.logical_and(m1, np.greater(rs, px1, out=m2), out=m1)
        np.logical_and(m1, np.less(ys, py2, out=m2), out=m1)
        np.logical_and(m1, np.greater(bs, py1, out=m2), out=m1)
        return np.flatnonzero(m1)

    def py_overlap():
        return [i for i, r in enumerate(pyrects)
                if pyprobe.colliderect(r)]

    ours = probe.collidelistall(rects)
    assert ours == np_overlap().tolist() == py_overlap()
    t, n = best_of_each([lambda: probe.collidelistall(rects), np_overlap],
                        rounds=200)
    p = best(py_overlap, repeat=5)
    print("collidelistall over %d rects (%d hits)" % (N, len(ours)))
    print("  lumora %.1f us, numpy %.1f us, python %.1f us"
          % (t * 1e6, n * 1e6, p * 1e6))
    print("  lumora/numpy %.2fx, python/lumora %.1fx" % (t / n, p / t))


if __name__ == "__main__":
    main()
