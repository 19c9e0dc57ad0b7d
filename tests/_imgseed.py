"""Small valid image files written by Pillow: the starting inputs of the
loader fuzzers."""
import io


def encoded(formats):
    """(tag, file bytes) of a 13x9 noise picture in the modes RGB, RGBA, P
    and L, saved in each (Pillow format, tag, save options) of `formats`
    that Pillow can write for that mode."""
    import numpy as np
    from PIL import Image
    a = np.random.default_rng(0).integers(0, 256, (9, 13, 4), dtype=np.uint8)
    out = []
    for mode in ("RGB", "RGBA", "P", "L"):
        im = Image.fromarray(a if mode == "RGBA" else a[..., :3])
        im = im.quantize(8) if mode == "P" else im.convert("L") if mode == "L" else im
        for fmt, tag, opts in formats:
            try:
                b = io.BytesIO()
                im.save(b, fmt, **opts)
                out.append((tag, b.getvalue()))
            except (OSError, ValueError, KeyError):
                pass
    return out
