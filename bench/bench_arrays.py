"""Pixel array copies against numpy copies of the same bytes.

Runs as a plain script; LUMORA_STAGE=<build>/stage benchmarks a development
build.  Every case works on a 1920x1080 32-bit surface.  Arrays are indexed
x first; the (w, h, 3) frames are the transpose of a C-ordered (h, w, 3)
image, the layout a vision library hands over.  The numpy peers copy the
same number of source bytes between preallocated arrays of the same layout.
Ratios are lumora time / peer time (goal <= 2); np.asarray(TexelGrid) is
timed per call (goal under 2 us: no copy is made).
"""
from _benchkit import best_wall as best

import numpy as np  # noqa: E402

from lumora import Surface  # noqa: E402
from lumora import rasterport  # noqa: E402
from lumora.texelgrid import TexelGrid  # noqa: E402

W, H = 1920, 1080


def report(name, ours, peer, goal):
    print("%-34s lumora %8.3f ms   numpy %8.3f ms   ratio %5.2f  (goal <= %g)"
          % (name, ours * 1e3, peer * 1e3, ours / peer, goal))


def main():
    rng = np.random.default_rng(1)
    surf = Surface((W, H), 0, 32)
    frame = rng.integers(0, 256, (H, W, 3), dtype=np.uint8).transpose(1, 0, 2)
    frame_dst = np.empty((H, W, 3), np.uint8).transpose(1, 0, 2)
    plane = rng.integers(0, 1 << 24, (H, W), dtype=np.uint32).T
    plane_dst = np.empty((H, W), np.uint32).T
    print("array benchmark, %dx%d 32-bit surface; ratio = lumora / numpy" % (W, H))

    copy_frame = lambda: np.copyto(frame_dst, frame)  # noqa: E731
    copy_plane = lambda: np.copyto(plane_dst, plane)  # noqa: E731
    for name, ours, peer in (
            ("array_to_surface (w, h, 3) uint8",
             lambda: rasterport.array_to_surface(surf, frame), copy_frame),
            ("surface_to_array (w, h, 3) uint8",
             lambda: rasterport.surface_to_array(frame_dst, surf), copy_frame),
            ("array_to_surface (w, h) uint32",
             lambda: rasterport.array_to_surface(surf, plane), copy_plane),
            ("surface_to_array (w, h) uint32",
             lambda: rasterport.surface_to_array(plane_dst, surf), copy_plane)):
        report(name, best(ours), best(peer), 2)

    other = Surface((W, H), 0, 32)
    a, b = TexelGrid(surf), TexelGrid(other)

    def grid_copy():
        a[:] = b
    na, nb = np.asarray(a), np.asarray(b)

    def numpy_copy():
        na[:] = nb
    report("TexelGrid a[:] = b", best(grid_copy), best(numpy_copy), 2)

    per_call = best(lambda: np.asarray(a), repeat=7, number=20000)
    print("%-34s lumora %8.3f us per call            (goal < 2 us)"
          % ("np.asarray(TexelGrid)", per_call * 1e6))


if __name__ == "__main__":
    main()
