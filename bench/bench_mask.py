"""Mask operations against numpy and scipy.ndimage on the same input.

    python3 bench/bench_mask.py [WORD...]

LUMORA_STAGE=<build>/stage is honoured.  With words, only the cases whose
names contain one of them are run.

Each case prints the best-of-N processor time per call of lumora and of its
peer and the ratio lumora / peer (below 1 means lumora is faster), with the
goal of the case:
- overlap / overlap_area of two 64x64 masks, per call (goal: under 1 us;
  the peer is numpy's AND of the overlapping slices of two bool arrays);
- from_surface of a 1920x1080 RGBA surface against numpy's `alpha > 127`
  on the same pixels (goal: ratio <= 1);
- connected_components and get_bounding_rects on a 1024x1024 noise mask
  and on 16 blobs against scipy.ndimage.label with 8-connectivity (plus
  find_objects for the rects; goal: ratio <= 1).  Every component mask is
  full size, so on noise only components of 1000+ pixels are asked for
  (scipy still sizes them all with bincount);
- to_surface of a 1920x1080 mask against numpy's np.where over a uint32
  array.
"""
import sys

import _benchkit
from _benchkit import pixels as surface_pixels, wanted

_benchkit.headless()

import numpy as np  # noqa: E402

import lumora  # noqa: E402
from lumora import Surface  # noqa: E402
from lumora.mask import Mask, from_surface  # noqa: E402

try:
    from scipy import ndimage
except ImportError:  # pragma: no cover - the bench needs its peer
    sys.exit("scipy is required: pip install scipy")

EIGHT = np.ones((3, 3), int)


def best(fn, repeat=7):
    return _benchkit.best(fn, repeat, most=200000)


def mask_of(a):
    """A Mask holding the bool array a ([y, x]) through its buffer."""
    h, w = a.shape
    m = Mask((w, h))
    pad = np.zeros((h, ((w + 31) // 32) * 32), bool)
    pad[:, :w] = a
    words = np.packbits(pad.reshape(h, -1, 32)[..., ::-1], axis=-1)
    words = words.view(">u4").reshape(h, -1).astype(np.uint32).T
    np.frombuffer(memoryview(m), np.uint32)[:] = words.ravel()
    m_np = np.frombuffer(memoryview(m), np.uint32)
    assert m.count() == a.sum() and m_np.size == words.size
    return m


def blobs(n=16, size=1024, seed=3):
    yy, xx = np.mgrid[0:size, 0:size]
    rng = np.random.default_rng(seed)
    out = np.zeros((size, size), bool)
    for i in range(n):
        cx, cy = (i % 4) * 256 + 128, (i // 4) * 256 + 128
        r = rng.integers(40, 110)
        out |= (xx - cx) ** 2 + (yy - cy) ** 2 < r * r
    return out


def case_overlap():
    rng = np.random.default_rng(1)
    a, b = rng.random((64, 64)) < 0.02, rng.random((64, 64)) < 0.02
    ma, mb = mask_of(a), mask_of(b)
    off = (17, 9)

    def peer():
        return bool((a[9:, 17:] & b[:55, :47]).any())

    def peer_area():
        return int((a[9:, 17:] & b[:55, :47]).sum())
    assert (ma.overlap(mb, off) is not None) == peer()
    assert ma.overlap_area(mb, off) == peer_area()
    yield "overlap 64x64", best(lambda: ma.overlap(mb, off)), best(peer), "< 1 us"
    yield ("overlap_area 64x64", best(lambda: ma.overlap_area(mb, off)),
           best(peer_area), "< 1 us")


def case_from_surface():
    s = Surface((1920, 1080), 0x10000, 32)
    px = surface_pixels(s)
    px[...] = np.random.default_rng(2).integers(0, 256, px.shape, np.uint8)
    alpha_byte = s.get_shifts()[3] // 8
    assert from_surface(s).count() == int((px[..., alpha_byte] > 127).sum())
    yield ("from_surface 1080p RGBA", best(lambda: from_surface(s)),
           best(lambda: px[..., alpha_byte] > 127), "<= 1x")


def case_components():
    rng = np.random.default_rng(4)
    for name, a, minimum in (("noise", rng.random((1024, 1024)) < 0.6, 1000),
                             ("16 blobs", blobs(), 0)):
        m = mask_of(a)

        def peer_cc():
            lab, n = ndimage.label(a, EIGHT)
            sizes = np.bincount(lab.ravel())
            return [lab == k for k in np.nonzero(sizes[1:] >= max(minimum, 1))[0] + 1]

        def peer_rects():
            lab, n = ndimage.label(a, EIGHT)
            return ndimage.find_objects(lab)
        assert len(m.connected_components(minimum)) == len(peer_cc())
        assert len(m.get_bounding_rects()) == len(peer_rects())
        yield (f"connected_components {name}", best(lambda: m.connected_components(minimum), 3),
               best(peer_cc, 3), "<= 1x")
        yield (f"get_bounding_rects {name}", best(m.get_bounding_rects, 3),
               best(peer_rects, 3), "<= 1x")


def case_to_surface():
    a = np.random.default_rng(5).random((1080, 1920)) < 0.5
    m = mask_of(a)
    s = Surface((1920, 1080), 0x10000, 32)
    white, black = s.map_rgb((255, 255, 255, 255)), s.map_rgb((0, 0, 0, 255))
    yield ("to_surface 1080p", best(lambda: m.to_surface(s)),
           best(lambda: np.where(a, np.uint32(white), np.uint32(black))), "-")


CASES = [case_overlap, case_from_surface, case_components, case_to_surface]


def main(words):
    print(f"{'case':34} {'lumora':>12} {'peer':>12} {'ratio':>7}  goal")
    for case in CASES:
        for name, ours, peer, goal in case():
            if not wanted(words, name):
                continue
            print(f"{name:34} {ours * 1e6:10.2f}us {peer * 1e6:10.2f}us "
                  f"{ours / peer:7.3f}  {goal}")


if __name__ == "__main__":
    lumora.init()
    main(sys.argv[1:])
