"""lumora.mask: the Mask type and its word operations against a per-pixel
numpy model (masks as bool arrays indexed [y, x])."""
import copy
import os
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from lumora.mask import Mask
import lumora.mask as maskmod

INT_MAX = 2**31 - 1
INT_MIN = -2**31


def to_np(m):
    """The pixels of `m` read through its buffer (layout: [word col][row])."""
    w, h = m.get_size()
    out = np.zeros((h, w), bool)
    if w and h:
        words = np.frombuffer(memoryview(m), np.uint32).reshape(-1, h)
        for x in range(w):
            out[:, x] = (words[x // 32] >> np.uint32(x % 32)) & 1
    return out


def from_np(a):
    m = Mask((a.shape[1], a.shape[0]))
    for y, x in zip(*np.nonzero(a)):
        m.set_at((int(x), int(y)))
    return m


def rand_mask(rng, w=None, h=None, p=None):
    w = w or int(rng.integers(1, 101))
    h = h or int(rng.integers(1, 101))
    return rng.random((h, w)) < (p if p is not None else rng.random())


def placed(a, b, xo, yo):
    """b drawn into a zero array of a's shape at (xo, yo)."""
    out = np.zeros_like(a)
    h, w = a.shape
    bh, bw = b.shape
    x0, x1 = max(0, xo), min(w, xo + bw)
    y0, y1 = max(0, yo), min(h, yo + bh)
    if x0 < x1 and y0 < y1:
        out[y0:y1, x0:x1] = b[y0 - yo:y1 - yo, x0 - xo:x1 - xo]
    return out


def first_overlap(a, b, xo, yo):
    """The point overlap() reports: word column of b, then the aligned word
    column of a before its spill column, then row, then lowest bit."""
    if xo < 0:
        p = first_overlap(b, a, -xo, -yo)
        return None if p is None else (p[0] + xo, p[1] + yo)
    both = a & placed(a, b, xo, yo)
    ys, xs = np.nonzero(both)
    if not len(xs):
        return None
    k = xo // 32
    keys = [((x - xo) // 32, x // 32 - k - (x - xo) // 32, y, x)
            for x, y in zip(xs.tolist(), ys.tolist())]
    j, part, y, x = min(keys)
    return (x, y)


def padding_clear(m):
    w, h = m.get_size()
    if w % 32 and h:
        last = np.frombuffer(memoryview(m), np.uint32).reshape(-1, h)[-1]
        assert not (last >> np.uint32(w % 32)).any()


@pytest.mark.parametrize("seed", range(60))
def test_two_mask_ops_against_model(seed):
    rng = np.random.default_rng(seed)
    a, b = rand_mask(rng), rand_mask(rng)
    if seed % 3 == 0:  # some dense, some sparse, some full
        a[:] = True
    xo = int(rng.integers(-b.shape[1] - 5, a.shape[1] + 5))
    yo = int(rng.integers(-b.shape[0] - 5, a.shape[0] + 5))
    ma, mb = from_np(a), from_np(b)
    both = a & placed(a, b, xo, yo)
    assert ma.overlap(mb, (xo, yo)) == first_overlap(a, b, xo, yo)
    assert ma.overlap_area(mb, (xo, yo)) == both.sum()
    om = ma.overlap_mask(mb, (xo, yo))
    assert om.get_size() == ma.get_size()
    assert (to_np(om) == both).all()
    d = ma.copy()
    d.draw(mb, (xo, yo))
    assert (to_np(d) == (a | placed(a, b, xo, yo))).all()
    padding_clear(d)
    e = ma.copy()
    e.erase(mb, offset=(xo, yo))
    assert (to_np(e) == (a & ~placed(a, b, xo, yo))).all()
    assert (to_np(ma) == a).all() and (to_np(mb) == b).all()


@pytest.mark.parametrize("w", [1, 31, 32, 33, 63, 64, 65, 100])
def test_whole_mask_ops_keep_padding(w):
    rng = np.random.default_rng(w)
    a = rand_mask(rng, w, 7)
    m = from_np(a)
    assert m.count() == a.sum()
    m.invert()
    padding_clear(m)
    assert (to_np(m) == ~a).all() and m.count() == (~a).sum()
    m.fill()
    padding_clear(m)
    assert m.count() == w * 7
    m.clear()
    assert m.count() == 0


def test_worked_examples():
    m = Mask((33, 2), fill=True)
    assert memoryview(m).tolist() == [[0xFFFFFFFF] * 2, [1, 1]]
    assert m.count() == 66
    one = Mask((1, 1), True)
    assert one.overlap(one, (0, 0)) == (0, 0)
    assert one.overlap(one, (1, 0)) is None
    assert one.overlap(one, (0, -1)) is None
    full = Mask((10, 10), True)
    assert full.overlap(full, (3, 4)) == (3, 4)
    assert full.overlap(full, (-3, -4)) == (0, 0)
    assert full.overlap(full, (10, 0)) is None
    a, b = Mask((40, 1)), Mask((3, 1))
    a.set_at((32, 0))
    b.set_at((1, 0))
    assert a.overlap(b, (31, 0)) == (32, 0)
    row = Mask((3, 1))
    row.set_at((0, 0))
    assert to_np(row.scale((4, 1))).tolist() == [[True, True, False, False]]
    row.set_at((1, 0))
    assert to_np(row.scale((2, 1))).tolist() == [[True, True]]


@pytest.mark.parametrize("seed", range(12))
def test_scale_against_model(seed):
    rng = np.random.default_rng(100 + seed)
    a = rand_mask(rng)
    w, h = (int(v) for v in rng.integers(0, 150, 2))
    s = from_np(a).scale((w, h))
    rows = np.arange(h) * a.shape[0] // max(h, 1)
    cols = np.arange(w) * a.shape[1] // max(w, 1)
    assert s.get_size() == (w, h)
    assert (to_np(s) == a[np.ix_(rows, cols)]).all()
    padding_clear(s)


def test_scale_wide_uses_64_bit_products():
    m = Mask((3, 2))
    m.set_at((2, 1))
    s = m.scale((50000, 4))
    assert s.count() == 16666 * 2
    assert s.get_at((49999, 3)) and not s.get_at((33333, 3))
    assert s.get_at((33334, 2)) and not s.get_at((33334, 1))


def test_construction_and_errors():
    m = Mask((0, 5))
    assert m.count() == 0 and repr(m) == "<Mask(0x5)>"
    with pytest.raises(IndexError, match="^0, 0 is out of bounds$"):
        m.get_at((0, 0))
    with pytest.raises(ValueError, match="^cannot create mask with negative size$"):
        Mask((-1, 2))
    with pytest.raises(TypeError, match="^size must be two numbers$"):
        Mask((2,))
    m = Mask(size=(5, 6))
    m.set_at((3, 4))
    assert m.get_at((3, 4)) == 1
    m.set_at((3, 4), 0)
    assert m.get_at(pos=(3, 4)) == 0
    with pytest.raises(IndexError, match="^5, -1 is out of bounds$"):
        m.set_at((5, -1))
    with pytest.raises(TypeError, match="^pos must be two numbers$"):
        m.get_at("ab")
    with pytest.raises(TypeError, match="^offset must be two numbers$"):
        m.overlap(m, (1,))
    with pytest.raises(TypeError, match="^offset must be two numbers$"):
        m.overlap_mask(m, None)
    with pytest.raises(TypeError):
        m.overlap(object(), (0, 0))
    with pytest.raises(TypeError, match="^scale must be two numbers$"):
        m.scale(3)
    with pytest.raises(ValueError, match="^cannot scale mask to negative size$"):
        m.scale((-1, 3))
    assert Mask.__new__(Mask).get_size() == (0, 0)  # never initialised


def test_module_frame_and_docs():
    assert maskmod.__doc__ == "lumora module for image masks."
    assert maskmod.MaskType is Mask
    assert Mask.__doc__.startswith("Mask(size=(width, height)) -> Mask\n")
    assert Mask.overlap.__doc__ == ("overlap(other, offset) -> (x, y)\n"
                                    "overlap(other, offset) -> None\n"
                                    "Returns the point of intersection")
    assert type(maskmod._LUMORA_C_API).__name__ == "PyCapsule"


UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_child(code, limit_mb=None):
    """Runs `code` in a fresh interpreter (failing allocations may abort a
    sanitised process or need an address-space limit); returns stdout."""
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":allocator_may_return_null=1"
    stage = os.environ.get("LUMORA_STAGE")
    if stage:
        env["PYTHONPATH"] = os.path.abspath(stage)
    pre = ""
    if limit_mb:
        pre = ("import resource\nresource.setrlimit(resource.RLIMIT_AS, "
               f"({limit_mb} << 20, {limit_mb} << 20))\n")
    r = subprocess.run([sys.executable, "-c", pre + textwrap.dedent(code)], env=env,
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    return r.stdout


def test_unallocatable_sizes_raise_memory_error():
    out = run_child("""
        from lumora.mask import Mask
        M = 2**31 - 1
        for size in [(M, M), (M, 2**30), (2**31 - 32, 2**29)]:
            for make in (Mask, Mask((2, 2)).scale):
                try:
                    make(size)
                except MemoryError as e:
                    print(e)
        """)
    assert out.splitlines() == ["cannot allocate memory for bitmask"] * 6


@pytest.mark.parametrize("off", [(INT_MAX, 0), (0, INT_MAX), (INT_MIN, 0),
                                 (0, INT_MIN), (INT_MAX, INT_MAX),
                                 (INT_MAX - 5, INT_MIN + 5)])
def test_offsets_near_int_limits_do_not_overlap(off):
    a, b = Mask((40, 40), True), Mask((40, 40), True)
    assert a.overlap(b, off) is None and a.overlap_area(b, off) == 0
    assert a.overlap_mask(b, off).count() == 0
    a.erase(b, off)
    assert a.count() == 1600
    c = Mask((40, 40))
    c.draw(b, off)
    assert c.count() == 0


@pytest.mark.parametrize("off", [(0, 1), (1, 0), (33, 2), (-1, -1), (-40, 3)])
def test_draw_and_erase_onto_itself(off):
    rng = np.random.default_rng(sum(off) + 50)
    a = rand_mask(rng, 70, 20, 0.3)
    m = from_np(a)
    m.draw(m, off)
    assert (to_np(m) == (a | placed(a, a, *off))).all()
    m = from_np(a)
    m.erase(m, off)
    assert (to_np(m) == (a & ~placed(a, a, *off))).all()


def test_buffer_view():
    m = Mask((40, 3))
    v = memoryview(m)
    assert v.shape == (2, 3) and v.strides == (12, 4)
    assert struct.calcsize(v.format) == 4 and v.format in ("I", "L")
    assert v.itemsize == 4 and not v.readonly and v.nbytes == 24
    v[1, 2] = 1
    assert m.get_at((32, 2)) == 1 and m.count() == 1
    v.release()


def test_reinit_refused_while_view_open():
    m = Mask((40, 3), fill=True)
    v = memoryview(m)
    with pytest.raises(BufferError):
        m.__init__((1000, 1000))
    assert v.shape == (2, 3) and m.get_size() == (40, 3)
    v[0, 0] = 0
    assert m.count() == 88
    v.release()
    m.__init__((7, 2), True)
    assert m.get_size() == (7, 2) and m.count() == 14
    assert memoryview(m).shape == (1, 2)


def moments_model(a):
    ys, xs = (v.astype(object) for v in np.nonzero(a))
    n = len(xs)
    if not n:
        return (0, 0), 0.0
    xc, yc = sum(xs) // n, sum(ys) // n
    cov = sum(xs * ys) // n - xc * yc
    dv = (sum(xs * xs) // n - xc * xc) - (sum(ys * ys) // n - yc * yc)
    return (xc, yc), -90 * np.arctan2(2.0 * cov, float(dv)) / 3.141592653589793


@pytest.mark.parametrize("case", ["empty", "rand1", "rand2", "band", "big"])
def test_centroid_and_angle(case):
    rng = np.random.default_rng(len(case))
    if case == "empty":
        a = np.zeros((4, 4), bool)
    elif case == "band":   # a tilted band in a 400 x 300 mask: x*x sums > 2^31
        yy, xx = np.mgrid[0:300, 0:400]
        a = np.abs(yy - 0.6 * xx) < 20
    elif case == "big":
        a = np.ones((300, 300), bool)
        a[:, :100] = False
    else:
        a = rand_mask(rng, p=0.2)
    m = from_np(a)
    (cx, cy), theta = moments_model(a)
    assert m.centroid() == (cx, cy)
    assert m.angle() == pytest.approx(theta, abs=1e-9)


def test_centroid_angle_examples():
    m = Mask((5, 5))
    m.set_at((0, 0))
    m.set_at((1, 0))
    assert m.centroid() == (0, 0)
    a = m.angle()
    assert a == 0.0 and str(a) == "-0.0"
    d = Mask((6, 6))
    for i in range(6):
        d.set_at((i, i))
    assert d.angle() == -45.0
    assert Mask((300, 300), True).centroid() == (149, 149)


def test_copy_scale_and_get_rect():
    class Sub(Mask):
        pass
    s = Sub((5, 4), True)
    for c in (s.copy(), copy.copy(s)):
        assert type(c) is Sub and c.count() == 20
    assert type(s.scale((2, 2))) is Mask
    r = s.get_rect(center=(10, 10))
    assert (r.x, r.y, r.w, r.h) == (8, 8, 5, 4)
    with pytest.raises(TypeError, match="^get_rect only supports keyword arguments$"):
        s.get_rect(1)
    with pytest.raises(AttributeError):
        s.get_rect(nonsense=1)
