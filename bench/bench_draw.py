"""Shape drawing on a 1920x1080 32-bit surface against Pillow's ImageDraw.

    python3 bench/bench_draw.py [WORD...]

LUMORA_STAGE=<build>/stage is honoured.  With words, only the cases whose
names contain one of them are run.

Each case draws the same shape (same bounding box, width and colour) with
lumora.draw on a 32-bit surface and with PIL.ImageDraw on an RGBA image of
the same size, and prints the best-of-N time per call and the ratio
lumora / Pillow (below 1 means lumora is faster).  Times are processor time
of this process, which a busy machine disturbs less than wall time.  Pillow
has no anti-aliased line, so the anti-aliased lines are set against its
plain line of the same ends.
"""
import math
import sys

import _benchkit

_benchkit.headless()

import lumora  # noqa: E402
import lumora.draw as draw  # noqa: E402

try:
    from PIL import Image, ImageDraw
except ImportError:  # pragma: no cover - the bench needs its peer
    sys.exit("Pillow is required: pip install Pillow")

W, H = 1920, 1080
COLOR = (200, 120, 40, 255)
CX, CY = W // 2, H // 2


def best(fn):
    return _benchkit.best(fn, repeat=7)


def star(n, r_out, r_in):
    pts = []
    for i in range(2 * n):
        r = r_out if i % 2 == 0 else r_in
        a = math.pi * i / n
        pts.append((int(CX + r * math.cos(a)), int(CY + r * math.sin(a))))
    return pts


def main():
    surf = lumora.Surface((W, H), 0, 32)
    img = Image.new("RGBA", (W, H))
    pil = ImageDraw.Draw(img)
    box = (CX - 400, CY - 400, 800, 800)
    ebox = (CX - 600, CY - 350, 1200, 700)
    pbox = lambda b: (b[0], b[1], b[0] + b[2] - 1, b[1] + b[3] - 1)  # noqa
    poly = star(9, 500, 200)
    rbox = (200, 150, 1500, 800)

    cases = [
        ("filled circle r=400", True,
         lambda: draw.circle(surf, COLOR, (CX, CY), 400),
         lambda: pil.ellipse(pbox(box), fill=COLOR)),
        ("circle outline w=1", False,
         lambda: draw.circle(surf, COLOR, (CX, CY), 400, 1),
         lambda: pil.ellipse(pbox(box), outline=COLOR, width=1)),
        ("circle outline w=10", False,
         lambda: draw.circle(surf, COLOR, (CX, CY), 400, 10),
         lambda: pil.ellipse(pbox(box), outline=COLOR, width=10)),
        ("filled ellipse 1200x700", True,
         lambda: draw.ellipse(surf, COLOR, ebox),
         lambda: pil.ellipse(pbox(ebox), fill=COLOR)),
        ("ellipse outline w=1", False,
         lambda: draw.ellipse(surf, COLOR, ebox, 1),
         lambda: pil.ellipse(pbox(ebox), outline=COLOR, width=1)),
        ("ellipse outline w=10", False,
         lambda: draw.ellipse(surf, COLOR, ebox, 10),
         lambda: pil.ellipse(pbox(ebox), outline=COLOR, width=10)),
        ("filled polygon (18-point star)", True,
         lambda: draw.polygon(surf, COLOR, poly),
         lambda: pil.polygon(poly, fill=COLOR)),
        ("polygon outline w=1", False,
         lambda: draw.polygon(surf, COLOR, poly, 1),
         lambda: pil.polygon(poly, outline=COLOR, width=1)),
        ("thick line w=15", False,
         lambda: draw.line(surf, COLOR, (100, 100), (1800, 950), 15),
         lambda: pil.line([(100, 100), (1800, 950)], fill=COLOR, width=15)),
        ("thick line w=15 steep", False,
         lambda: draw.line(surf, COLOR, (300, 20), (700, 1060), 15),
         lambda: pil.line([(300, 20), (700, 1060)], fill=COLOR, width=15)),
        ("aaline (vs plain line)", False,
         lambda: draw.aaline(surf, COLOR, (100.3, 100.6), (1800.2, 950.1)),
         lambda: pil.line([(100, 100), (1800, 950)], fill=COLOR, width=1)),
        ("aalines 50 segments", False,
         lambda: draw.aalines(surf, COLOR, False, zigzag_f),
         lambda: pil.line(zigzag, fill=COLOR, width=1)),
        ("filled rect 1500x800", True,
         lambda: draw.rect(surf, COLOR, rbox),
         lambda: pil.rectangle(pbox(rbox), fill=COLOR)),
        ("rect outline w=5", False,
         lambda: draw.rect(surf, COLOR, rbox, 5),
         lambda: pil.rectangle(pbox(rbox), outline=COLOR, width=5)),
        ("rounded rect r=60 filled", True,
         lambda: draw.rect(surf, COLOR, rbox, 0, 60),
         lambda: pil.rounded_rectangle(pbox(rbox), 60, fill=COLOR)),
        ("rounded rect r=60 w=5", False,
         lambda: draw.rect(surf, COLOR, rbox, 5, 60),
         lambda: pil.rounded_rectangle(pbox(rbox), 60, outline=COLOR,
                                       width=5)),
    ]

    head = "%-32s %12s %12s %8s" % ("case", "lumora", "Pillow", "ratio")
    print(head)
    worst = {}
    only = [a.lower() for a in sys.argv[1:]]
    for name, filled, ours, theirs in cases:
        if only and not any(o in name.lower() for o in only):
            continue
        t_ours = best(ours)
        t_pil = best(theirs)
        ratio = t_ours / t_pil
        worst[filled] = max(worst.get(filled, 0.0), ratio)
        line = "%-32s %10.1fus %10.1fus %8.2f" % (name, t_ours * 1e6,
                                                  t_pil * 1e6, ratio)
        print(line)
    if True in worst:
        print("worst ratio, filled shapes: %.2f (goal 0.5)" % worst[True])
    if False in worst:
        print("worst ratio, outlines and lines: %.2f (goal 1.0)"
              % worst[False])


zigzag = [(40 + i * 36, 100 + (i % 2) * 800) for i in range(51)]
zigzag_f = [(x + 0.3, y + 0.6) for x, y in zigzag]

if __name__ == "__main__":
    main()
