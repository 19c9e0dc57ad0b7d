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
        buf = ctypes.string_at(s.pixels, s.pitch * s.h) if s.pixels else \
            bytes(s.pitch * s.h)
    finally:
        surf.unlock()
    a = np.frombuffer(buf, np.uint8).reshape(s.h, s.pitch) if s.h else \
        np.zeros((0, s.pitch), np.uint8)
    return a[:, :s.w * bpp].reshape(s.h, s.w, bpp).copy()


def put_raw(surf, arr):
    s = sdl(surf)
    bpp = surf.get_bytesize()
    arr = np.ascontiguousarray(arr, np.uint8).reshape(s.h, s.w * bpp)
    if not s.pixels:
        return
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


# --- Scale2x and rotozoom ----------------------------------------------------

def scale2x_model(v):
    h, w = v.shape
    out = np.zeros((2 * h, 2 * w), v.dtype)
    for y in range(h):
        for x in range(w):
            B, H = v[max(0, y - 1), x], v[min(h - 1, y + 1), x]
            D, F = v[y, max(0, x - 1)], v[y, min(w - 1, x + 1)]
            E = v[y, x]
            out[2 * y, 2 * x] = D if D == B and B != F and D != H else E
            out[2 * y, 2 * x + 1] = F if B == F and B != D and F != H else E
            out[2 * y + 1, 2 * x] = D if D == H and D != B and H != F else E
            out[2 * y + 1, 2 * x + 1] = F if H == F and D != H and B != F \
                else E
    return out


def _lerp(a, b, wgt):
    return a + ((wgt * (b - a)) >> 16)


def _bilin(c00, c01, c10, c11, ex, ey):
    t1, t2 = _lerp(c00, c01, ex), _lerp(c10, c11, ex)
    return (t1 + ((ey * ((t2 & 0xFF) - (t1 & 0xFF))) >> 16)) & 0xFF


def rotozoom_model(a, angle, zoom):
    """a: (h, w, 4) ints; the smoothed rotozoom result as (h', w', 4)."""
    a = a.astype(np.int64)
    H, W = a.shape[:2]
    zoom = max(zoom, 0.001)
    P = lambda i, j: a[j, i]  # noqa: E731
    if abs(angle) <= 0.001:
        dw, dh = max(1, int(W * zoom)), max(1, int(H * zoom))
        out = np.zeros((dh, dw, 4), np.int64)
        sx = int(float(np.float32(W - 1)) * 65536.0 / float(np.float32(dw)))
        sy = int(float(np.float32(H - 1)) * 65536.0 / float(np.float32(dh)))
        for y in range(dh):
            iy, ey = (y * sy) >> 16, (y * sy) & 0xFFFF
            for x in range(dw):
                ix, ex = (x * sx) >> 16, (x * sx) & 0xFFFF
                i1, j1 = min(ix + 1, W - 1), min(iy + 1, H - 1)
                out[y, x] = _bilin(P(ix, iy), P(i1, iy), P(ix, j1), P(i1, j1),
                                   ex, ey)
        return out
    rad = angle * 0.017453292519943295
    s, c = math.sin(rad) * zoom, math.cos(rad) * zoom
    hx, hy = W // 2, H // 2
    hw = max(1, math.ceil(max(abs(c * hx + s * hy), abs(c * hx - s * hy),
                              abs(s * hy - c * hx), abs(-c * hx - s * hy))))
    hh = max(1, math.ceil(max(abs(c * hy + s * hx), abs(s * hx - c * hy),
                              abs(c * hy - s * hx), abs(-s * hx - c * hy))))
    dw, dh = 2 * hw, 2 * hh
    zi = 65536.0 / (zoom * zoom)
    isin, icos = int(s * zi), int(c * zi)
    cx, cy = dw // 2, dh // 2
    ax, ay = (cx << 16) - icos * cx, (cy << 16) - isin * cx
    xd, yd = (W - dw) << 15, (H - dh) << 15
    out = np.zeros((dh, dw, 4), np.int64)
    for y in range(dh):
        sdx = ax + xd + isin * (cy - y)
        sdy = ay + yd - icos * (cy - y)
        for x in range(dw):
            dx, dy, ex, ey = sdx >> 16, sdy >> 16, sdx & 0xFFFF, sdy & 0xFFFF
            sdx += icos
            sdy += isin
            if sdx - icos < -65536 or sdy - isin < -65536 or dx >= W or dy >= H:
                continue
            xin, yin = 0 <= dx < W - 1, 0 <= dy < H - 1
            if xin and yin:
                v = _bilin(P(dx, dy), P(dx + 1, dy), P(dx, dy + 1),
                           P(dx + 1, dy + 1), ex, ey)
            elif dx == W - 1 and dy == H - 1:
                v = P(dx, dy)
            elif dx == W - 1 and yin:
                v = _lerp(P(W - 1, dy), P(W - 1, dy + 1), ey)
            elif dy == H - 1 and xin:
                pa, pb = P(dx, H - 1), P(dx + 1, H - 1)
                t = _lerp(pa, pb, ex)
                v = t + ((ey * (pb - (t & 0xFF))) >> 16)
            elif (dy == -1 and xin) or (dx == -1 and yin):
                pa = P(dx, 0) if dy == -1 else P(0, dy)
                pb = P(dx + 1, 0) if dy == -1 else P(0, dy + 1)
                t = _lerp(pa, pb, ex)
                v = pa + ((ey * ((t & 0xFF) - pa)) >> 16)
            elif dx == -1 and dy == -1:
                v = P(0, 0)
            elif dx == -1 and dy == H - 1:
                v = P(0, H - 1)
            elif dy == -1 and dx == W - 1:
                v = P(W - 1, 0)
            else:
                continue
            out[y, x] = v & 0xFF
    return out


def rotozoom_nearest_model(a, angle, zoom):
    """The unsmoothed rotozoom (C entry point with smooth=0)."""
    H, W = a.shape[:2]
    zoom = max(zoom, 0.001)
    if abs(angle) <= 0.001:
        dw, dh = max(1, int(W * zoom)), max(1, int(H * zoom))
        sx, sy = int(W * 65536.0 / dw), int(H * 65536.0 / dh)
        return a[[(y * sy) >> 16 for y in range(dh)]][:, [(x * sx) >> 16
                                                         for x in range(dw)]]
    rad = angle * 0.017453292519943295
    s, c = math.sin(rad) * zoom, math.cos(rad) * zoom
    hx, hy = W // 2, H // 2
    dw = 2 * max(1, math.ceil(max(abs(c * hx + s * hy), abs(c * hx - s * hy))))
    dh = 2 * max(1, math.ceil(max(abs(c * hy + s * hx), abs(s * hx - c * hy))))
    zi = 65536.0 / (zoom * zoom)
    isin, icos = int(s * zi), int(c * zi)
    cx, cy = dw // 2, dh // 2
    ax, ay = (cx << 16) - icos * cx, (cy << 16) - isin * cx
    out = np.zeros((dh, dw) + a.shape[2:], a.dtype)
    for y in range(dh):
        sdx = ax + ((W - dw) << 15) + isin * (cy - y)
        sdy = ay + ((H - dh) << 15) - icos * (cy - y)
        for x in range(dw):
            dx, dy = sdx >> 16, sdy >> 16
            if 0 <= dx < W and 0 <= dy < H:
                out[y, x] = a[dy, dx]
            sdx += icos
            sdy += isin
    return out
