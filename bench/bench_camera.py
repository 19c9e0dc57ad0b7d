"""Camera colour-space conversion speed against numpy.

Runs as a plain script; LUMORA_STAGE=<build>/stage benchmarks a development
build.  _camera.colorspace() converts a 640x480 32-bit surface (XRGB) to YUV
and to HSV; the numpy peer computes the same integer formulas on a
preallocated array of the same pixels and packs them the same way.  Ratios
are lumora time / peer time (below 1 means lumora is faster); "diff" is the
number of pixels on which the two results differ (0 expected).
"""
import ctypes

from _benchkit import best_wall as best, raw

import numpy as np  # noqa: E402

from lumora.surface import Surface  # noqa: E402
import lumora._camera as camera  # noqa: E402

W, H = 640, 480


def numpy_yuv(px, out):
    r, g, b = (px >> 16) & 255, (px >> 8) & 255, px & 255
    y = (77 * r + 150 * g + 29 * b + 128) >> 8
    u = (((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128) & 255
    v = (((112 * r - 94 * g - 18 * b + 128) >> 8) + 128) & 255
    out[:] = (y << 16) | (u << 8) | v


def numpy_hsv(px, out):
    r, g, b = (px >> 16) & 255, (px >> 8) & 255, px & 255
    mx = np.maximum(np.maximum(r, g), b)
    d = mx - np.minimum(np.minimum(r, g), b)
    dd = np.maximum(d, 1)
    s = np.where(d == 0, 0, d * 255 // np.maximum(mx, 1))

    def tdiv(a):
        return np.sign(a) * (np.abs(a) // dd)
    h = np.where(r == mx, tdiv((g - b) * 43),
                 np.where(g == mx, 85 + tdiv((b - r) * 43), 170 + tdiv((r - g) * 43)))
    h = np.where(d == 0, 0, h) & 255
    out[:] = (mx << 16) | (h << 8) | s


def main():
    rng = np.random.default_rng(7)
    values = rng.integers(0, 2 ** 24, (H, W), dtype=np.uint32)
    src = Surface((W, H), 0, 32, (0xFF0000, 0xFF00, 0xFF, 0))
    dst = Surface((W, H), 0, 32, (0xFF0000, 0xFF00, 0xFF, 0))
    sr = raw(src)
    assert sr.pitch == W * 4
    ctypes.memmove(sr.pixels, values.ctypes.data, W * H * 4)
    px = values.astype(np.int64)
    out = np.zeros((H, W), np.int64)
    print("camera colorspace benchmark, %dx%d 32-bit; ratio = lumora / numpy" % (W, H))
    for name, peer in (("YUV", numpy_yuv), ("HSV", numpy_hsv)):
        ours = best(lambda: camera.colorspace(src, name, dst))
        theirs = best(lambda: peer(px, out))
        d = raw(dst)
        got = np.ctypeslib.as_array((ctypes.c_uint32 * (W * H)).from_address(d.pixels))
        diff = int(np.count_nonzero((got.reshape(H, W) & 0xFFFFFF) != out))
        print("%-4s lumora %7.2f ms   numpy %7.2f ms (x%.2f)   diff %d"
              % (name, ours * 1e3, theirs * 1e3, ours / theirs, diff))


if __name__ == "__main__":
    main()
