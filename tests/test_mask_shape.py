"""lumora.mask: connected components, bounding rects, outline and convolve
against a BFS labeller and pixel models."""
from collections import deque

import numpy as np
import pytest

from lumora.mask import Mask
from test_mask import UNDER_ASAN, from_np, placed, rand_mask, run_child, to_np


def bfs_components(a):
    """8-connected components as lists of (x, y), in raster order of their
    first pixels."""
    h, w = a.shape
    seen = np.zeros_like(a)
    comps = []
    for y in range(h):
        for x in range(w):
            if a[y, x] and not seen[y, x]:
                seen[y, x] = True
                q, comp = deque([(x, y)]), []
                while q:
                    cx, cy = q.popleft()
                    comp.append((cx, cy))
                    for nx in (cx - 1, cx, cx + 1):
                        for ny in (cy - 1, cy, cy + 1):
                            if 0 <= nx < w and 0 <= ny < h and a[ny, nx] \
                                    and not seen[ny, nx]:
                                seen[ny, nx] = True
                                q.append((nx, ny))
                comps.append(comp)
    return comps


def as_array(shape, pts):
    out = np.zeros(shape, bool)
    for x, y in pts:
        out[y, x] = True
    return out


@pytest.mark.parametrize("seed", range(25))
def test_components_against_bfs(seed):
    rng = np.random.default_rng(seed)
    a = rand_mask(rng, p=[0.1, 0.3, 0.45, 0.6, 0.9][seed % 5])
    m = from_np(a)
    comps = bfs_components(a)
    got = m.connected_components()
    assert len(got) == len(comps)
    for g, c in zip(got, comps):
        assert type(g) is Mask and g.get_size() == m.get_size()
        assert (to_np(g) == as_array(a.shape, c)).all()
    minimum = 3 + seed % 4
    kept = [c for c in comps if len(c) >= minimum]
    assert [mm.count() for mm in m.connected_components(minimum)] == \
        [len(c) for c in kept]
    rects = m.get_bounding_rects()
    assert [(r.x, r.y, r.w, r.h) for r in rects] == [
        (min(x for x, _ in c), min(y for _, y in c),
         max(x for x, _ in c) - min(x for x, _ in c) + 1,
         max(y for _, y in c) - min(y for _, y in c) + 1) for c in comps]
    if comps:
        sizes = [len(c) for c in comps]
        big = comps[sizes.index(max(sizes))]  # first of the largest
        assert (to_np(m.connected_component()) == as_array(a.shape, big)).all()
        c = comps[seed % len(comps)]
        one = m.connected_component(c[-1])
        assert (to_np(one) == as_array(a.shape, c)).all()
    else:
        assert m.connected_component().count() == 0


def test_component_examples():
    m = Mask((12, 4))
    for p in [(0, 0), (1, 0), (2, 0), (0, 1), (1, 1), (8, 2), (9, 2), (10, 2)]:
        m.set_at(p)
    assert m.connected_component().count() == 5
    assert [c.count() for c in m.connected_components(4)] == [5]
    assert [c.count() for c in m.connected_components()] == [5, 3]
    assert [c.count() for c in m.connected_components(-7)] == [5, 3]
    m.set_at((1, 1), 0)
    m.set_at((0, 1), 0)  # now 3 and 3: the earlier one wins
    assert m.connected_component().get_at((0, 0)) == 1
    d = Mask((2, 2))
    d.set_at((0, 0))
    d.set_at((1, 1))
    assert [c.count() for c in d.connected_components()] == [2]
    # A "W": the right arms join before the left arm does.
    w = from_np(np.array([[1, 0, 1, 0, 1],
                          [1, 0, 1, 0, 1],
                          [0, 1, 0, 1, 0]], bool))
    assert [c.count() for c in w.connected_components()] == [8]
    assert w.connected_component((2, 0)).count() == 8
    assert w.connected_component((1, 0)).count() == 0
    full = Mask((4, 3), True)
    assert [tuple(r) for r in full.get_bounding_rects()] == [(0, 0, 4, 3)]
    assert Mask((4, 3)).get_bounding_rects() == []
    assert Mask((0, 3)).connected_components() == []
    one = Mask((1, 1), True)
    assert one.connected_components()[0].count() == 1
    assert tuple(one.get_bounding_rects()[0]) == (0, 0, 1, 1)
    with pytest.raises(IndexError, match="^4, 0 is out of bounds$"):
        full.connected_component((4, 0))
    with pytest.raises(TypeError, match="^pos must be two numbers$"):
        full.connected_component(3)


def rect_outline(x0, y0, w, h):
    top = [(x, y0) for x in range(x0, x0 + w)]
    right = [(x0 + w - 1, y) for y in range(y0 + 1, y0 + h)]
    bottom = [(x, y0 + h - 1) for x in range(x0 + w - 2, x0 - 1, -1)]
    left = [(x0, y) for y in range(y0 + h - 2, y0 - 1, -1)]
    return top + right + bottom + left


@pytest.mark.parametrize("x0,y0,w,h", [(0, 0, 2, 2), (3, 1, 5, 4),
                                       (30, 2, 5, 3), (0, 0, 40, 2)])
def test_outline_of_rectangles(x0, y0, w, h):
    m = Mask((x0 + w + 3, y0 + h + 1))
    m.draw(Mask((w, h), True), (x0, y0))
    assert m.outline() == rect_outline(x0, y0, w, h)
    pts = rect_outline(x0, y0, w, h)
    assert m.outline(3) == [pts[0]] + pts[3::3]


@pytest.mark.parametrize("seed", range(10))
def test_outline_walks_the_first_object(seed):
    rng = np.random.default_rng(seed)
    a = rand_mask(rng, p=0.5)
    pts = from_np(a).outline()
    comps = bfs_components(a)
    if not comps:
        assert pts == []
        return
    assert pts[0] == comps[0][0]
    first = set(comps[0])
    h, w = a.shape
    for (x, y), (nx, ny) in zip(pts, pts[1:]):
        assert max(abs(nx - x), abs(ny - y)) == 1
    for x, y in pts:
        assert (x, y) in first
        assert any(not (0 <= x + dx < w and 0 <= y + dy < h) or not a[y + dy, x + dx]
                   for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
    if len(first) > 1:
        assert pts[-1] == pts[0]


def test_outline_examples():
    m = Mask((5, 5))
    m.set_at((2, 3))
    assert m.outline() == [(2, 3)]
    b = Mask((4, 4))
    b.draw(Mask((2, 2), True), (0, 0))
    assert b.outline() == [(0, 0), (1, 0), (1, 1), (0, 1), (0, 0)]
    assert b.outline(2) == [(0, 0), (1, 1), (0, 0)]
    assert b.outline(every=0)[0] == (0, 0)
    assert b.outline(-2**31)[0] == (0, 0)
    assert Mask((0, 0)).outline() == [] and Mask((3, 3)).outline() == []


def convolve_model(a, b, shape, xo, yo):
    out = np.zeros(shape, bool)
    bh, bw = b.shape
    for i, j in zip(*np.nonzero(b)):
        out |= placed(out, a, xo + bw - 1 - int(j), yo + bh - 1 - int(i))
    return out


@pytest.mark.parametrize("seed", range(8))
def test_convolve_against_model(seed):
    rng = np.random.default_rng(seed)
    a = rand_mask(rng, int(rng.integers(1, 40)), int(rng.integers(1, 40)), 0.3)
    b = rand_mask(rng, int(rng.integers(1, 12)), int(rng.integers(1, 12)), 0.3)
    ma, mb = from_np(a), from_np(b)
    c = ma.convolve(mb)
    shape = (a.shape[0] + b.shape[0] - 1, a.shape[1] + b.shape[1] - 1)
    assert c.get_size() == (shape[1], shape[0])
    assert (to_np(c) == convolve_model(a, b, shape, 0, 0)).all()
    out = Mask((50, 45))
    out.set_at((49, 44))
    xo, yo = (int(v) for v in rng.integers(-10, 10, 2))
    assert ma.convolve(mb, out, (xo, yo)) is out
    want = convolve_model(a, b, (45, 50), xo, yo)
    want[44, 49] = True
    assert (to_np(out) == want).all()


def test_convolve_examples_and_aliasing():
    one = Mask((1, 1), True)
    assert to_np(one.convolve(one)).tolist() == [[True]]
    sq = Mask((2, 2), True)
    assert sq.convolve(one).count() == 4
    assert sq.convolve(sq).get_size() == (3, 3)
    assert Mask((0, 4)).convolve(Mask((0, 2))).get_size() == (0, 5)
    rng = np.random.default_rng(7)
    a = rand_mask(rng, 30, 20, 0.2)
    b = rand_mask(rng, 5, 4, 0.4)
    m, k = from_np(a), from_np(b)
    assert m.convolve(k, m, (-3, -2)) is m   # output is the input
    assert (to_np(m) == (a | convolve_model(a, b, a.shape, -3, -2))).all()
    m = from_np(a)
    m.convolve(m, m, (-29, -19))
    assert (to_np(m) == (a | convolve_model(a, a, a.shape, -29, -19))).all()
    with pytest.raises(TypeError, match="^output must be a Mask or None$"):
        one.convolve(one, object())
    with pytest.raises(TypeError, match="^offset must be two numbers$"):
        one.convolve(one, None, "x")
    big = Mask((2**31 - 1, 0))
    with pytest.raises(MemoryError):
        big.convolve(Mask((5, 0)))
    c = Mask((3, 3))
    Mask((3, 3), True).convolve(one, c, (2**31 - 1, 2**31 - 1))
    assert c.count() == 0


@pytest.mark.skipif(UNDER_ASAN, reason="address-space limits break the sanitiser")
def test_component_memory_errors():
    import conftest
    if not conftest.address_limit_enforced():
        pytest.skip("the address-space limit is not enforced here")
    # A 12000 x 12000 mask is 18 MB; its label image would be 576 MB.
    out = run_child("""
        from lumora.mask import Mask
        m = Mask((12000, 12000))
        m.set_at((5, 5))
        for call in (m.connected_components, m.get_bounding_rects,
                     m.connected_component):
            try:
                call()
            except MemoryError as e:
                print(repr(str(e)))
        m = Mask((4000, 4000), True)   # 2 MB; its 200 stripes do not fit
        for i in range(0, 4000, 20):
            m.erase(Mask((1, 4000), True), (i, 0))
        try:
            m.connected_components()
        except MemoryError as e:
            print(repr(str(e)))
        """, limit_mb=400)
    assert out.splitlines() == [
        "'cannot allocate memory for connected components'",
        "'Not enough memory to get bounding rects. \\n'",
        "'cannot allocate memory for connected component'",
        "'cannot allocate memory for connected components'"]
