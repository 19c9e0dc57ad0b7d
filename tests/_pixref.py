"""Independent pixel access for the array tests: a surface's memory read and
written through ctypes and numpy, x first like the arrays under test.
Subsurfaces are reached through their top-most parent's buffer."""
import ctypes

import numpy as np

from _surfmem import sdl

from lumora import Surface

# (depth, masks) of every pixel layout the array tests run on.
LAYOUTS = {
    "8": (8, None),
    "16": (16, (0xF800, 0x07E0, 0x001F, 0)),
    "24rgb": (24, (0xFF0000, 0x00FF00, 0x0000FF, 0)),
    "24bgr": (24, (0x0000FF, 0x00FF00, 0xFF0000, 0)),
    "32": (32, (0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000)),
    "32x": (32, (0x0000FF, 0x00FF00, 0xFF0000, 0)),
}


def surface(layout, w, h, seed=None):
    depth, masks = LAYOUTS[layout]
    flags = 0x10000 if masks and masks[3] else 0
    s = Surface((w, h), flags, depth, masks) if masks else Surface((w, h), 0, depth)
    if seed is not None:
        rng = np.random.default_rng(seed)
        store(s, rng.integers(0, 1 << depth, (w, h), dtype=np.uint64))
    return s


def _block(s):
    """(top-level raw struct, x offset, y offset) of a (sub)surface."""
    top = s.get_abs_parent()
    x, y = s.get_abs_offset()
    return sdl(top), x, y


def memory(s):
    """The bytes of the surface as a (w, h, bpp) uint8 array (a copy)."""
    raw, x0, y0 = _block(s)
    bpp = s.get_bytesize()
    w, h = s.get_size()
    whole = (ctypes.c_uint8 * (raw.pitch * raw.h)).from_address(raw.pixels)
    rows = np.ctypeslib.as_array(whole).reshape(raw.h, raw.pitch)
    part = rows[y0:y0 + h, x0 * bpp:(x0 + w) * bpp].reshape(h, w, bpp)
    return part.transpose(1, 0, 2).copy()


def mapped(s):
    """Mapped pixel values (little-endian bytes) as a (w, h) uint32 array."""
    m = memory(s).astype(np.uint32)
    return sum(m[:, :, i] << np.uint32(8 * i) for i in range(m.shape[2]))


def store(s, values):
    """Write a (w, h) array of mapped values into the surface."""
    raw, x0, y0 = _block(s)
    bpp = s.get_bytesize()
    vals = np.asarray(values).astype(np.uint32)
    planes = np.stack([(vals >> np.uint32(8 * i)) & 0xFF for i in range(bpp)], -1)
    planes = planes.astype(np.uint8).transpose(1, 0, 2)  # (h, w, bpp)
    for y in range(planes.shape[0]):
        row = planes[y].tobytes()
        ctypes.memmove(raw.pixels + (y0 + y) * raw.pitch + x0 * bpp, row, len(row))


def channels(s):
    """(w, h, 4) uint8 RGBA of every pixel, decoded from the masks or palette."""
    vals = mapped(s).astype(np.uint64)
    if s.get_bytesize() == 1:
        pal = np.array([tuple(c) for c in s.get_palette()], np.uint8)
        return pal[vals.astype(np.intp)]
    out = np.zeros(vals.shape + (4,), np.uint8)
    for i, (m, sh, loss) in enumerate(zip(s.get_masks(), s.get_shifts(), s.get_losses())):
        if not m:
            out[..., i] = 255 if i == 3 else 0
            continue
        top = m >> sh
        # SDL widens an n-bit channel to v * 255 // (2**n - 1)
        v = ((vals & m) >> sh) * 255 // top
        out[..., i] = v.astype(np.uint8)
    return out
