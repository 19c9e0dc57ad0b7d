"""Makes the documentation's gallery: every picture is drawn by lumora.

    python docs/gallery.py OUTDIR

writes OUTDIR/<name>.png and OUTDIR/gallery.inc, the reStructuredText that
docs/gallery.rst includes.  A module that does not import on this machine
simply has no pictures.
"""
import math
import os
import sys
from typing import Callable, List, Sequence, Tuple

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))

import lumora  # noqa: E402
from lumora import Rect, Surface, draw, image  # noqa: E402

# (name, code shown under the picture, the picture)
Picture = Tuple[str, str, Surface]

SIZE = (160, 120)
BG = (24, 28, 48)
FG = (255, 200, 40)
ACCENT = (80, 190, 255)


def canvas(size: Tuple[int, int] = SIZE, flags: int = 0) -> Surface:
    s = Surface(size, flags, 32)
    s.fill(BG)
    return s


def sprite(border: bool = True) -> Surface:
    """The picture the transform and mask examples start from."""
    s = Surface((64, 48), lumora.SRCALPHA, 32)
    s.fill((0, 0, 0, 0))
    draw.ellipse(s, FG, (4, 4, 56, 40))
    # Eyes and mouth are holes (drawing writes alpha too), so the mask
    # examples see them.
    draw.circle(s, (0, 0, 0, 0), (22, 20), 5)
    draw.circle(s, (0, 0, 0, 0), (42, 20), 5)
    draw.circle(s, (200, 60, 40), (32, 34), 4)
    if border:
        draw.rect(s, ACCENT, (0, 0, 64, 48), 2)
    else:
        draw.circle(s, ACCENT, (58, 6), 5)
    return s


def on_canvas(pic: Surface) -> Surface:
    c = canvas()
    c.blit(pic, pic.get_rect(center=c.get_rect().center))
    return c


def draw_pictures() -> List[Picture]:
    pts = [(20, 100), (50, 20), (80, 90), (110, 30), (140, 100)]
    star = [(80 + int(50 * math.cos(a * math.pi / 5 - math.pi / 2) * (1 if a % 2 == 0 else 0.45)),
             60 + int(50 * math.sin(a * math.pi / 5 - math.pi / 2) * (1 if a % 2 == 0 else 0.45)))
            for a in range(10)]
    shapes: List[Tuple[str, str, Callable[[Surface], Rect]]] = [
        ("line", "draw.line(s, color, (10, 110), (150, 10), 5)",
         lambda s: draw.line(s, FG, (10, 110), (150, 10), 5)),
        ("lines", "draw.lines(s, color, False, points, 3)",
         lambda s: draw.lines(s, FG, False, pts, 3)),
        ("aalines", "draw.aalines(s, color, True, points)",
         lambda s: draw.aalines(s, FG, True, pts)),
        ("rect", "draw.rect(s, color, (20, 20, 120, 80), 0, 16)",
         lambda s: draw.rect(s, FG, (20, 20, 120, 80), 0, 16)),
        ("rect_outline", "draw.rect(s, color, (20, 20, 120, 80), 4)",
         lambda s: draw.rect(s, FG, (20, 20, 120, 80), 4)),
        ("circle", "draw.circle(s, color, (80, 60), 45)",
         lambda s: draw.circle(s, FG, (80, 60), 45)),
        ("circle_quadrants", "draw.circle(s, color, (80, 60), 45, 8, draw_top_right=True, draw_bottom_left=True)",
         lambda s: draw.circle(s, FG, (80, 60), 45, 8, draw_top_right=True,
                               draw_bottom_left=True)),
        ("ellipse", "draw.ellipse(s, color, (10, 25, 140, 70), 6)",
         lambda s: draw.ellipse(s, FG, (10, 25, 140, 70), 6)),
        ("arc", "draw.arc(s, color, (20, 10, 120, 100), 0, 3 * math.pi / 2, 6)",
         lambda s: draw.arc(s, FG, (20, 10, 120, 100), 0, 3 * math.pi / 2, 6)),
        ("polygon", "draw.polygon(s, color, star)",
         lambda s: draw.polygon(s, FG, star)),
    ]
    out = []
    for name, code, fn in shapes:
        s = canvas()
        fn(s)
        out.append((name, code, s))
    return out


def transform_pictures() -> List[Picture]:
    try:
        from lumora import transform
    except ImportError:
        return []
    src = sprite()
    cases: List[Tuple[str, str, Callable[[], Surface]]] = [
        ("source", "the sprite the examples below start from", lambda: src),
        ("scale", "transform.scale(sprite, (128, 48))", lambda: transform.scale(src, (128, 48))),
        ("smoothscale", "transform.smoothscale(sprite, (128, 96))",
         lambda: transform.smoothscale(src, (128, 96))),
        ("flip", "transform.flip(sprite, True, False)", lambda: transform.flip(src, True, False)),
        ("rotate", "transform.rotate(sprite, 30)", lambda: transform.rotate(src, 30)),
        ("rotozoom", "transform.rotozoom(sprite, 30, 1.5)", lambda: transform.rotozoom(src, 30, 1.5)),
        ("scale2x", "transform.scale2x(sprite)", lambda: transform.scale2x(src)),
        ("chop", "transform.chop(sprite, (20, 10, 24, 20))", lambda: transform.chop(src, (20, 10, 24, 20))),
        ("grayscale", "transform.grayscale(sprite)", lambda: transform.grayscale(src)),
        ("laplacian", "transform.laplacian(sprite)", lambda: transform.laplacian(src)),
    ]
    return _run(cases, "transform")


def mask_pictures() -> List[Picture]:
    try:
        from lumora import mask
    except ImportError:
        return []
    src = sprite(border=False)

    def outline() -> Surface:
        c = canvas()
        m = mask.from_surface(src)
        off = src.get_rect(center=c.get_rect().center).topleft
        draw.lines(c, FG, True, [(x + off[0], y + off[1]) for x, y in m.outline()])
        return c

    def components() -> Surface:
        m = mask.from_surface(src)
        c = canvas()
        colours = [FG, ACCENT, (230, 80, 90), (120, 220, 120), (200, 120, 255)]
        for i, part in enumerate(m.connected_components()):
            part.to_surface(c, setcolor=colours[i % len(colours)], unsetcolor=None,
                            dest=src.get_rect(center=c.get_rect().center))
        return c

    cases: List[Tuple[str, str, Callable[[], Surface]]] = [
        ("mask_outline", "draw.lines(s, color, True, mask.from_surface(sprite).outline())", outline),
        ("mask_components", "mask.from_surface(sprite).connected_components(), each to_surface in its own colour",
         components),
    ]
    return _run(cases, "mask")


def _run(cases: Sequence[Tuple[str, str, Callable[[], Surface]]], what: str) -> List[Picture]:
    out: List[Picture] = []
    for name, code, fn in cases:
        try:
            pic = fn()
        except (AttributeError, TypeError, ValueError, lumora.error) as exc:
            print("gallery: skipped %s %s (%s)" % (what, name, exc), file=sys.stderr)
            continue
        out.append((name, code, on_canvas(pic) if pic.get_size() != SIZE else pic))
    return out


def main(outdir: str) -> None:
    os.makedirs(outdir, exist_ok=True)
    lumora.init()
    sections = [("Drawing", draw_pictures()), ("Transforms", transform_pictures()),
                ("Masks", mask_pictures())]
    lines = []
    for title, pics in sections:
        if not pics:
            continue
        lines += [title, "-" * len(title), ""]
        for name, code, surf in pics:
            image.save(surf, os.path.join(outdir, name + ".png"))
            lines += [".. figure:: %s/%s.png" % (os.path.basename(outdir), name), "",
                      "   ``%s``" % code, ""]
    with open(os.path.join(outdir, "gallery.inc"), "w") as f:
        f.write("\n".join(lines))
    lumora.quit()
    print("gallery: %d pictures in %s" % (sum(len(p) for _, p in sections), outdir))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs/_gallery")
