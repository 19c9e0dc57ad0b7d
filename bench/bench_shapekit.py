"""Alpha-blended primitives on a 1920x1080 32-bit surface against pycairo
and Pillow.

    python3 bench/bench_shapekit.py [WORD...]

LUMORA_STAGE=<build>/stage is honoured.  With words, only the cases whose
names contain one of them are run.

Every case draws one shape in a translucent colour: with lumora.shapekit
on a 32-bit surface with per-pixel alpha, with cairo on an ARGB32 image
surface (OVER), and with Pillow's ImageDraw on a transparent layer that
is then alpha-composited onto the image (Pillow draws without blending).
Printed: the best-of-N processor time per call of each and the ratios
lumora / peer (below 1 means lumora is faster), with the goal against
cairo.  Pillow has no anti-aliased shapes; its plain ones stand in.  The
thick line is a filled four-point polygon here.
"""
import math
import sys

import _benchkit
from _benchkit import wanted

_benchkit.headless()

import lumora  # noqa: E402
import lumora.shapekit as sk  # noqa: E402

try:
    import cairo
except ImportError:  # pragma: no cover - the bench needs its peer
    sys.exit("pycairo is required: pip install pycairo")
try:
    from PIL import Image, ImageDraw
except ImportError:  # pragma: no cover
    sys.exit("Pillow is required: pip install Pillow")

W, H = 1920, 1080
CX, CY = W // 2, H // 2
COLOR = (200, 120, 40, 128)


def best(fn):
    return _benchkit.best(fn, target=0.05, most=500)


surf = lumora.Surface((W, H), 0x10000, 32)
surf.fill((30, 60, 90, 255))
csurf = cairo.ImageSurface(cairo.FORMAT_ARGB32, W, H)
ctx = cairo.Context(csurf)
ctx.set_source_rgba(30 / 255, 60 / 255, 90 / 255, 1)
ctx.paint()
ctx.set_source_rgba(*(c / 255 for c in COLOR))
base = Image.new("RGBA", (W, H), (30, 60, 90, 255))
layer = Image.new("RGBA", (W, H), (0, 0, 0, 0))
ldraw = ImageDraw.Draw(layer)


def pillow(draw_fn):
    def run():
        layer.paste((0, 0, 0, 0), (0, 0, W, H))
        draw_fn(ldraw)
        Image.alpha_composite(base, layer)
    return run


def cairo_case(path_fn, stroke=None, aa=True):
    def run():
        ctx.set_antialias(cairo.ANTIALIAS_DEFAULT if aa
                          else cairo.ANTIALIAS_NONE)
        path_fn(ctx)
        if stroke:
            ctx.set_line_width(stroke)
            ctx.stroke()
        else:
            ctx.fill()
        csurf.flush()
    return run


R = 400
STAR = [(CX + int(R * math.cos(a * math.pi / 5) * (1 if a % 2 else 0.5)),
         CY + int(R * math.sin(a * math.pi / 5) * (1 if a % 2 else 0.5)))
        for a in range(10)]
HEX = [(CX + int(R * math.cos(a * math.pi / 3)),
        CY + int(R * math.sin(a * math.pi / 3))) for a in range(6)]
L0, L1 = (20, 30), (1900, 1050)


def thick_quad(p, q, w):
    dx, dy = q[0] - p[0], q[1] - p[1]
    n = math.hypot(dx, dy)
    ox, oy = -dy / n * w / 2, dx / n * w / 2
    return [(round(p[0] + ox), round(p[1] + oy)),
            (round(q[0] + ox), round(q[1] + oy)),
            (round(q[0] - ox), round(q[1] - oy)),
            (round(p[0] - ox), round(p[1] - oy))]


QUAD = thick_quad(L0, L1, 10)


def poly_path(pts):
    def path(c):
        c.move_to(*pts[0])
        for p in pts[1:]:
            c.line_to(*p)
        c.close_path()
    return path


def line_path(c):
    c.move_to(L0[0] + 0.5, L0[1] + 0.5)
    c.line_to(L1[0] + 0.5, L1[1] + 0.5)


# (name, goal vs cairo, ours, cairo, pillow or None)
CASES = [
    ("filled_circle r400", 0.5,
     lambda: sk.filled_circle(surf, CX, CY, R, COLOR),
     cairo_case(lambda c: c.arc(CX + .5, CY + .5, R + .5, 0, 2 * math.pi)),
     pillow(lambda d: d.ellipse((CX - R, CY - R, CX + R, CY + R),
                                fill=COLOR))),
    ("filled_polygon hexagon", 0.5,
     lambda: sk.filled_polygon(surf, HEX, COLOR),
     cairo_case(poly_path(HEX)),
     pillow(lambda d: d.polygon(HEX, fill=COLOR))),
    ("filled_polygon star", 0.5,
     lambda: sk.filled_polygon(surf, STAR, COLOR),
     cairo_case(poly_path(STAR)),
     pillow(lambda d: d.polygon(STAR, fill=COLOR))),
    ("box 1200x700", 0.5,
     lambda: sk.box(surf, (300, 200, 1200, 700), COLOR),
     cairo_case(lambda c: c.rectangle(300, 200, 1200, 700)),
     pillow(lambda d: d.rectangle((300, 200, 1499, 899), fill=COLOR))),
    ("filled_ellipse 600x300", 0.5,
     lambda: sk.filled_ellipse(surf, CX, CY, 600, 300, COLOR),
     cairo_case(lambda c: (c.save(), c.translate(CX, CY), c.scale(600, 300),
                           c.arc(0, 0, 1, 0, 2 * math.pi), c.restore())),
     pillow(lambda d: d.ellipse((CX - 600, CY - 300, CX + 600, CY + 300),
                                fill=COLOR))),
    ("thick line w10", 1.0,
     lambda: sk.filled_polygon(surf, QUAD, COLOR),
     cairo_case(line_path, stroke=10),
     pillow(lambda d: d.line((L0, L1), fill=COLOR, width=10))),
    ("line", 1.0,
     lambda: sk.line(surf, *L0, *L1, COLOR),
     cairo_case(line_path, stroke=1, aa=False),
     pillow(lambda d: d.line((L0, L1), fill=COLOR))),
    ("aaline", 1.0,
     lambda: sk.aapolygon(surf, [L0, L1, L0], COLOR),
     cairo_case(line_path, stroke=1),
     pillow(lambda d: d.line((L0, L1), fill=COLOR))),
    ("aacircle r400", 1.0,
     lambda: sk.aacircle(surf, CX, CY, R, COLOR),
     cairo_case(lambda c: c.arc(CX + .5, CY + .5, R, 0, 2 * math.pi),
                stroke=1),
     pillow(lambda d: d.ellipse((CX - R, CY - R, CX + R, CY + R),
                                outline=COLOR))),
    ("aaellipse 600x300", 1.0,
     lambda: sk.aaellipse(surf, CX, CY, 600, 300, COLOR),
     cairo_case(lambda c: (c.save(), c.translate(CX, CY), c.scale(600, 300),
                           c.arc(0, 0, 1, 0, 2 * math.pi), c.restore()),
                stroke=1),
     pillow(lambda d: d.ellipse((CX - 600, CY - 300, CX + 600, CY + 300),
                                outline=COLOR))),
    ("circle r400", 1.0,
     lambda: sk.circle(surf, CX, CY, R, COLOR),
     cairo_case(lambda c: c.arc(CX + .5, CY + .5, R, 0, 2 * math.pi),
                stroke=1, aa=False),
     pillow(lambda d: d.ellipse((CX - R, CY - R, CX + R, CY + R),
                                outline=COLOR))),
]


def main(words):
    print("%-24s %10s %10s %10s %8s %6s %8s" % (
        "case", "lumora", "cairo", "pillow", "/cairo", "goal", "/pillow"))
    for name, goal, ours, peer, pil in CASES:
        if not wanted(words, name):
            continue
        t_ours, t_cairo, t_pil = best(ours), best(peer), best(pil)
        ratio = t_ours / t_cairo
        print("%-24s %8.3fms %8.3fms %8.3fms %8.2f %6s %8.3f %s" % (
            name, t_ours * 1e3, t_cairo * 1e3, t_pil * 1e3, ratio,
            "<=%.1f" % goal, t_ours / t_pil, "ok" if ratio <= goal else "MISS"))


if __name__ == "__main__":
    main(sys.argv[1:])
