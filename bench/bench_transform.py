"""Surface transforms on 32-bit surfaces against Pillow and numpy.

    python3 bench/bench_transform.py [WORD...]

LUMORA_STAGE=<build>/stage is honoured.  With words, only the cases whose
names contain one of them are run.

Each case runs lumora.transform on a 32-bit surface of 1920x1080 and of
640x480 and the matching operation of a peer on the same pixels (a Pillow
RGBA image, or a numpy array of the surface's bytes), and prints the
best-of-N processor time per call and the ratio lumora / peer (below 1
means lumora is faster) with the goal for that ratio.  Flips and quarter
turns are set against a plain copy of the same bytes.  The last table
gives the time per call on a 64x64 sprite.
"""
import sys

import _benchkit
from _benchkit import surface_of, wanted

_benchkit.headless()

import numpy as np  # noqa: E402

import lumora  # noqa: E402
import lumora.transform as tf  # noqa: E402

try:
    from PIL import Image
except ImportError:  # pragma: no cover - the bench needs its peer
    sys.exit("Pillow is required: pip install Pillow")


def best(fn):
    return _benchkit.best(fn, target=0.03, most=5000)


def cases(w, h):
    rng = np.random.default_rng(1)
    arr = rng.integers(0, 256, (h, w, 4), dtype=np.uint8)
    surf = surface_of(arr)
    img = Image.frombytes("RGBA", (w, h), arr.tobytes())
    rgb = img.convert("RGB")
    surf24 = surf.convert(24)
    copy = lambda: arr.copy()  # noqa: E731  a memcpy of the same bytes
    half, grow = (w // 2, h // 2), (w * 3 // 2, h * 3 // 2)
    third = (w // 3, h // 3)
    twofifths = (w * 2 // 5, h * 2 // 5)  # a ratio that is not whole
    ref, thr = np.array([128, 128, 128], np.int16), 40
    zoomed = tf.rotozoom(surf, 30, 1.5).get_size()
    return [
        ("scale shrink 1/2", lambda: tf.scale(surf, half),
         lambda: img.resize(half, Image.NEAREST), 1.0),
        ("scale grow 3/2", lambda: tf.scale(surf, grow),
         lambda: img.resize(grow, Image.NEAREST), 1.0),
        ("scale x2", lambda: tf.scale(surf, (2 * w, 2 * h)),
         lambda: img.resize((2 * w, 2 * h), Image.NEAREST), 1.0),
        ("flip x", lambda: tf.flip(surf, 1, 0), copy, 2.0),
        ("flip y", lambda: tf.flip(surf, 0, 1), copy, 2.0),
        ("rotate 90", lambda: tf.rotate(surf, 90), copy, 2.0),
        ("rotate 180", lambda: tf.rotate(surf, 180), copy, 2.0),
        ("rotate 270", lambda: tf.rotate(surf, 270), copy, 2.0),
        ("rotate 90 vs transpose", lambda: tf.rotate(surf, 90),
         lambda: img.transpose(Image.ROTATE_90), None),
        ("flip x vs transpose", lambda: tf.flip(surf, 1, 0),
         lambda: img.transpose(Image.FLIP_LEFT_RIGHT), None),
        ("rotate 30", lambda: tf.rotate(surf, 30),
         lambda: img.rotate(30, Image.NEAREST, expand=True), 1.0),
        ("smoothscale shrink 1/2", lambda: tf.smoothscale(surf, half),
         lambda: img.resize(half, Image.BOX), 0.5),
        ("smoothscale shrink 1/3", lambda: tf.smoothscale(surf, third),
         lambda: img.resize(third, Image.BOX), 0.5),
        ("smoothscale shrink 2/5", lambda: tf.smoothscale(surf, twofifths),
         lambda: img.resize(twofifths, Image.BOX), 0.5),
        ("smoothscale grow 3/2", lambda: tf.smoothscale(surf, grow),
         lambda: img.resize(grow, Image.BILINEAR), 0.5),
        ("smoothscale 24-bit 1/2", lambda: tf.smoothscale(surf24, half),
         lambda: rgb.resize(half, Image.BOX), None),
        ("rotozoom 30 x1.5", lambda: tf.rotozoom(surf, 30, 1.5),
         lambda: img.rotate(30, Image.BILINEAR, expand=True).resize(
             zoomed, Image.BILINEAR),
         0.5),
        ("grayscale", lambda: tf.grayscale(surf), lambda: img.convert("L"),
         2.0),
        ("threshold count", lambda: tf.threshold(
            None, surf, (128, 128, 128), (thr, thr, thr), None, 0),
         lambda: int(np.all(np.abs(arr[:, :, :3].astype(np.int16) - ref)
                            <= thr, axis=-1).sum()), 0.2),
        ("average_color", lambda: tf.average_color(surf),
         lambda: arr.reshape(-1, 4).mean(0), 0.2),
    ]


def sprite_cases():
    arr = np.random.default_rng(2).integers(0, 256, (64, 64, 4),
                                            dtype=np.uint8)
    s = surface_of(arr)
    return [("rotate 90", lambda: tf.rotate(s, 90), 5),
            ("rotate 30", lambda: tf.rotate(s, 30), 5),
            ("flip x", lambda: tf.flip(s, 1, 0), 5),
            ("scale 128x128", lambda: tf.scale(s, (128, 128)), 5),
            ("scale 48x48", lambda: tf.scale(s, (48, 48)), 5),
            ("smoothscale 48x48", lambda: tf.smoothscale(s, (48, 48)), None),
            ("rotozoom 30 x1", lambda: tf.rotozoom(s, 30, 1), None)]


def main():
    words = sys.argv[1:]
    print("%-26s %10s %10s %10s %7s %7s" % ("case", "size", "lumora ms",
                                           "peer ms", "ratio", "goal"))
    for w, h in ((1920, 1080), (640, 480)):
        for name, ours, peer, goal in cases(w, h):
            if not wanted(words, name):
                continue
            a, b = best(ours), best(peer)
            print("%-26s %10s %10.3f %10.3f %7.2f %7s" % (
                name, "%dx%d" % (w, h), a * 1e3, b * 1e3, a / b,
                "<=%.1f" % goal if goal else "-"))
    print()
    print("%-26s %10s %7s" % ("64x64 sprite", "us/call", "goal"))
    for name, fn, goal in sprite_cases():
        if wanted(words, name):
            print("%-26s %10.2f %7s" % (name, best(fn) * 1e6,
                                        "<%d" % goal if goal else "-"))


if __name__ == "__main__":
    main()
