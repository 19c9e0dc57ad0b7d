"""Surface fill and blit speed against numpy and SDL2's own routines.

Runs as a plain script; LUMORA_STAGE=<build>/stage benchmarks a development
build.  Every case works on 1920x1080 32-bit pixels; the numpy peers work on
preallocated arrays of the same size, the SDL peers call SDL_FillRect and
SDL_UpperBlit through ctypes on surfaces of the same formats.  Ratios are
lumora time / peer time (below 1 means lumora is faster).  Each blit is also
done once by both on the same fresh destination, and the largest channel
difference between the two results is printed ("diff": 0 means identical
pixels; SDL's fast blenders divide by 256, ours by 255).
"""
import ctypes

from _benchkit import best_wall as best, copy_rows, raw

import numpy as np  # noqa: E402

import lumora  # noqa: E402
from lumora import Surface  # noqa: E402

W, H = 1920, 1080
SRCALPHA = 0x10000
XRGB8888 = 0x16161804
ARGB8888 = 0x16362004
RGB565 = 0x15151002
RGB24 = 0x17101803

sdl = ctypes.CDLL("libSDL2-2.0.so.0")
sdl.SDL_CreateRGBSurfaceWithFormat.restype = ctypes.c_void_p
sdl.SDL_CreateRGBSurfaceWithFormat.argtypes = [
    ctypes.c_uint32, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_uint32]
sdl.SDL_FillRect.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32]
sdl.SDL_UpperBlit.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                              ctypes.c_void_p, ctypes.c_void_p]
sdl.SDL_SetColorKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint32]
sdl.SDL_SetSurfaceBlendMode.argtypes = [ctypes.c_void_p, ctypes.c_int]
sdl.SDL_SetSurfaceAlphaMod.argtypes = [ctypes.c_void_p, ctypes.c_uint8]
sdl.SDL_FreeSurface.argtypes = [ctypes.c_void_p]


def sdl_surface(fmt, values, depth=32):
    s = sdl.SDL_CreateRGBSurfaceWithFormat(0, W, H, depth, fmt)
    copy_rows(s, values)
    return s


def lumora_surface(flags, values, *depth):
    """A lumora surface (of `depth` bits when given) holding the rows of
    `values`."""
    s = Surface((W, H), flags, *depth)
    s.lock()
    copy_rows(s, values)
    s.unlock()
    return s


def pixels_of(s, sdl_ptr=None):
    """A copy of the pixels of a lumora (or, with sdl_ptr, an SDL) surface."""
    r = raw(s if sdl_ptr is None else sdl_ptr)
    buf = ctypes.string_at(r.pixels, W * H * 4)
    return np.frombuffer(buf, np.uint8).reshape(H, W, 4).copy()


def agreement(lsrc, ssrc, dst_values):
    """Largest channel difference between one lumora blit and one SDL blit
    of the same source onto the same fresh destination."""
    ld = lumora_surface(0, dst_values)
    ld.blit(lsrc, (0, 0))
    sd = sdl_surface(XRGB8888, dst_values)
    sdl.SDL_UpperBlit(ssrc, None, sd, None)
    ours, theirs = pixels_of(ld)[:, :, :3], pixels_of(None, sd)[:, :, :3]
    sdl.SDL_FreeSurface(sd)
    return int(np.abs(ours.astype(np.int16) - theirs).max())


def report(name, ours, peers, diff=None):
    cols = "  ".join("%s %7.2f ms (x%.2f)" % (n, t * 1e3, ours / t)
                     for n, t in peers)
    extra = "" if diff is None else "   diff %d" % diff
    print("%-18s lumora %7.2f ms   %s%s" % (name, ours * 1e3, cols, extra))


def main():
    rng = np.random.default_rng(7)
    src_x = (rng.integers(0, 2 ** 24, (H, W), dtype=np.uint32))
    dst_x = (rng.integers(0, 2 ** 24, (H, W), dtype=np.uint32))
    src_a = rng.integers(0, 2 ** 32, (H, W), dtype=np.uint32)
    key = int(src_x[0, 0])
    src_x[::3, ::2] = key            # a third of the pixels are keyed

    print("surface benchmark, %dx%d 32-bit; ratio = lumora / peer" % (W, H))

    # -- fill -------------------------------------------------------------
    ls = lumora_surface(0, dst_x)
    arr = dst_x.copy()
    ss = sdl_surface(XRGB8888, dst_x)
    report("fill",
           best(lambda: ls.fill((10, 20, 30))),
           [("numpy", best(lambda: arr.fill(0x0A141E))),
            ("SDL", best(lambda: sdl.SDL_FillRect(ss, None, 0x0A141E)))])

    # -- opaque blit ------------------------------------------------------
    lsrc = lumora_surface(0, src_x)
    ssrc = sdl_surface(XRGB8888, src_x)
    a_src = src_x.copy()
    report("blit opaque",
           best(lambda: ls.blit(lsrc, (0, 0))),
           [("numpy", best(lambda: np.copyto(arr, a_src))),
            ("SDL", best(lambda: sdl.SDL_UpperBlit(ssrc, None, ss, None)))],
           agreement(lsrc, ssrc, dst_x))

    # -- colour-key blit --------------------------------------------------
    lsrc.set_colorkey(key)
    sdl.SDL_SetColorKey(ssrc, 1, key)
    where = np.empty((H, W), bool)

    def np_key():
        np.not_equal(a_src, key, out=where)
        np.copyto(arr, a_src, where=where)

    report("blit colorkey",
           best(lambda: ls.blit(lsrc, (0, 0))),
           [("numpy", best(np_key)),
            ("SDL", best(lambda: sdl.SDL_UpperBlit(ssrc, None, ss, None)))],
           agreement(lsrc, ssrc, dst_x))

    # -- surface alpha blit, XRGB onto XRGB --------------------------------
    lsrc.set_colorkey(None)
    sdl.SDL_SetColorKey(ssrc, 0, 0)
    for value in (100, 128):
        lsrc.set_alpha(value)
        sdl.SDL_SetSurfaceAlphaMod(ssrc, value)
        sdl.SDL_SetSurfaceBlendMode(ssrc, 1)
        report("blit alpha %d" % value,
               best(lambda: ls.blit(lsrc, (0, 0))),
               [("SDL", best(lambda: sdl.SDL_UpperBlit(ssrc, None, ss, None)))],
               agreement(lsrc, ssrc, dst_x))

    # -- per-pixel alpha blit, ARGB onto XRGB ------------------------------
    lasrc = lumora_surface(SRCALPHA, src_a)
    sasrc = sdl_surface(ARGB8888, src_a)
    sdl.SDL_SetSurfaceBlendMode(sasrc, 1)
    s8 = src_a.view(np.uint8).reshape(H, W, 4)
    d8 = arr.view(np.uint8).reshape(H, W, 4)
    alpha = s8[:, :, 3:4].astype(np.int32)
    sc = s8[:, :, :3].astype(np.int32)
    work = np.empty((H, W, 3), np.int32)

    def np_alpha():
        # d + ((s - d) * a) / 255, truncating like C.
        np.subtract(sc, d8[:, :, :3], out=work)
        np.multiply(work, alpha, out=work)
        np.true_divide(work, 255, out=work, casting="unsafe")
        np.add(work, d8[:, :, :3], out=work)
        d8[:, :, :3] = work

    report("blit pixel alpha",
           best(lambda: ls.blit(lasrc, (0, 0))),
           [("numpy", best(np_alpha, 5)),
            ("SDL", best(lambda: sdl.SDL_UpperBlit(sasrc, None, ss, None)))],
           agreement(lasrc, sasrc, dst_x))

    # -- per-pixel alpha with a colour key ---------------------------------
    akey = int(src_a[0, 0])
    keyed = src_a.copy()
    keyed[::3, ::2] = akey
    lksrc = lumora_surface(SRCALPHA, keyed)
    sksrc = sdl_surface(ARGB8888, keyed)
    sdl.SDL_SetSurfaceBlendMode(sksrc, 1)
    lksrc.set_colorkey(akey)
    sdl.SDL_SetColorKey(sksrc, 1, akey)
    report("blit alpha+key",
           best(lambda: ls.blit(lksrc, (0, 0))),
           [("SDL", best(lambda: sdl.SDL_UpperBlit(sksrc, None, ss, None)))],
           agreement(lksrc, sksrc, dst_x))
    sdl.SDL_FreeSurface(sksrc)

    # -- into 16- and 24-bit targets ---------------------------------------
    for depth, fmt in ((16, RGB565), (24, RGB24)):
        nbytes = depth // 8
        dvals = rng.integers(0, 256, (H, W * nbytes), dtype=np.uint8)
        ld = lumora_surface(0, dvals, depth)
        sd = sdl_surface(fmt, dvals, depth)
        lsrc.set_alpha(None)
        sdl.SDL_SetSurfaceBlendMode(ssrc, 0)
        sdl.SDL_SetSurfaceAlphaMod(ssrc, 255)
        cases = [("opaque", lsrc, ssrc, None)]
        cases.append(("alpha 100", lsrc, ssrc, 100))
        cases.append(("pixel alpha", lasrc, sasrc, None))
        for name, lo, sl, value in cases:
            if value is not None:
                lo.set_alpha(value)
                sdl.SDL_SetSurfaceAlphaMod(sl, value)
                sdl.SDL_SetSurfaceBlendMode(sl, 1)
            report("%d-bit %s" % (depth, name),
                   best(lambda: ld.blit(lo, (0, 0))),
                   [("SDL", best(lambda: sdl.SDL_UpperBlit(sl, None, sd, None)))])
        lsrc.set_alpha(None)
        sdl.SDL_SetSurfaceAlphaMod(ssrc, 255)
        sdl.SDL_SetSurfaceBlendMode(ssrc, 0)
        sdl.SDL_FreeSurface(sd)

    for s in (ss, ssrc, sasrc):
        sdl.SDL_FreeSurface(s)


if __name__ == "__main__":
    main()
