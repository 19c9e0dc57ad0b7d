"""Raw pixel access and small reference models for the transform tests.

Pixels are read and written straight through the SDL surface (ctypes), as
numpy arrays of shape (h, w, bytes per pixel)."""
import ctypes
import math

import numpy as np

from _surfmem import sdl
from lumora import Surface, SRCALPHA

DEPTHS = (8, 16, 24, 32)


def raw(surf):
    s = sdl(surf)
    bpp = surf.get_bytesize()
    surf.lock()
    try:
        buf = ctypes.string_at(s.pixels, s.pitch * s.h) if s.h else b""
    finally:
        surf.unlock()
    a = np.frombuffer(buf, np.uint8).reshape(s.h, s.pitch) if s.h else \
        np.zeros((0, s.pitch), np.uint8)
    return a[:, :s.w * bpp].reshape(s.h, s.w, bpp).copy()


def put_raw(surf, arr):
    s = sdl(surf)
    bpp = surf.get_bytesize()
    arr = np.ascontiguousarray(arr, np.uint8).reshape(s.h, s.w * bpp)
    surf.lock()
    try:
        for y in range(s.h):
            ctypes.memmove(s.pixels + y * s.pitch, arr[y].tobytes(),
                           s.w * bpp)
    finally:
        surf.unlock()


def make(w, h, depth=32, seed=0, alpha=False, values=None):
    """A surface of random raw pixels (every byte, alpha included)."""
    surf = Surface((w, h), SRCALPHA if alpha else 0, depth)
    bpp = surf.get_bytesize()
    if values is None:
        values = np.random.default_rng(seed).integers(
            0, 256, (h, w, bpp), dtype=np.uint8)
        if depth == 8:
            values = values % 4  # a few palette entries
    put_raw(surf, values)
    return surf


def values(surf):
    """Raw pixel values, 3-byte pixels little-endian."""
    a = raw(surf).astype(np.uint32)
    out = np.zeros(a.shape[:2], np.uint32)
    for i in range(a.shape[2]):
        out |= a[:, :, i] << (8 * i)
    return out


# --- smooth scaling, per pixel, in the passes' own arithmetic ---------------

def _shrink(line, dlen):
    """Area average of `line` (slen x channels ints) to dlen samples."""
    slen = len(line)
    space = slen * 65536 // dlen
    recip = (1 << 32) // space
    out = []
    acc = [0] * len(line[0])
    counter = space
    for p in line:
        if counter > 65536:
            acc = [a + v for a, v in zip(acc, p)]
            counter -= 65536
        else:
            out.append([(((a + ((counter * v) >> 16)) * recip & 0xFFFFFFFF)
                         >> 16) & 0xFF for a, v in zip(acc, p)])
            frac = 65536 - counter
            acc = [(frac * v) >> 16 for v in p]
            counter = space - frac
    return out[:dlen]


def _expand(line, dlen):
    slen = len(line)
    out = []
    for k in range(dlen):
        t = k * (slen - 1)
        i, m1 = t // dlen, (t % dlen) * 65536 // dlen
        m0 = 65536 - m1
        nxt = line[i + 1] if m1 else line[i]
        out.append([((m0 * a + m1 * b) >> 16) & 0xFF
                    for a, b in zip(line[i], nxt)])
    return out


def smooth_model(arr, dw, dh):
    """arr: (h, w, c) ints; returns (dh, dw, c) as the filter computes it."""
    a = arr.astype(np.int64).tolist()
    h, w = len(a), len(a[0])
    if w != dw:
        f = _shrink if dw < w else _expand
        a = [f(row, dw) for row in a]
    if h != dh:
        f = _shrink if dh < h else _expand
        cols = [f([a[y][x] for y in range(h)], dh) for x in range(dw)]
        a = [[cols[x][y] for x in range(dw)] for y in range(dh)]
    return np.array(a, np.int64).reshape(dh, dw, -1)


def rotate_model(vals, angle, bg):
    """General rotation in 16.16 fixed point, per destination pixel."""
    H, W = vals.shape
    rad = angle * 0.01745329251994329
    s, c = math.sin(rad), math.cos(rad)
    nw = int(max(abs(c * W + s * H), abs(c * W - s * H),
                 abs(s * H - c * W), abs(-c * W - s * H)))
    nh = int(max(abs(c * H + s * W), abs(s * W - c * H),
                 abs(c * H - s * W), abs(-s * W - c * H)))
    isin, icos = int(s * 65536.0), int(c * 65536.0)
    L = float((nw - 1) * 32768)
    ax = nw * 32768 - int(c * L)
    ay = nh * 32768 - int(s * L)
    xd, yd, cy = (W - nw) * 32768, (H - nh) * 32768, nh // 2
    out = np.zeros((nh, nw), np.uint32)
    for y in range(nh):
        dx = ax + xd + isin * (cy - y)
        dy = ay + yd - icos * (cy - y)
        for x in range(nw):
            if dx < 0 or dy < 0 or dx > W * 65536 - 1 or dy > H * 65536 - 1:
                out[y, x] = bg
            else:
                out[y, x] = vals[dy >> 16, dx >> 16]
            dx += icos
            dy += isin
    return out


# --- SDL's own colour decoding, the reference the filters follow -------------

_SDL = ctypes.CDLL("libSDL2-2.0.so.0")
_U8 = ctypes.c_uint8
_SDL.SDL_GetRGBA.argtypes = [ctypes.c_uint32, ctypes.c_void_p] + \
    [ctypes.POINTER(_U8)] * 4
_SDL.SDL_MapRGBA.argtypes = [ctypes.c_void_p] + [_U8] * 4
_SDL.SDL_MapRGBA.restype = ctypes.c_uint32


def sdl_rgba(surf, value):
    out = [_U8() for _ in range(4)]
    _SDL.SDL_GetRGBA(value, sdl(surf).format, *[ctypes.byref(o) for o in out])
    return tuple(o.value for o in out)


def sdl_map(surf, r, g, b, a):
    return _SDL.SDL_MapRGBA(sdl(surf).format, r, g, b, a)


def decoded(surf):
    """(h, w, 4) RGBA of every pixel as SDL_GetRGBA gives it."""
    v = values(surf)
    return np.array([[sdl_rgba(surf, int(p)) for p in row] for row in v],
                    np.int64).reshape(v.shape + (4,))
