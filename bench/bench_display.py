"""Presentation speed of lumora.display against SDL called directly.

flip() and update(rects) of a 1280x720 window, plain and SCALED, in frames
per second, next to the same presentation done through ctypes on the very
libSDL2 the extension uses: SDL_UpdateWindowSurface(Rects) for the plain
window, renderer + streaming texture for SCALED.  Runs on the offscreen
driver unless SDL_VIDEODRIVER says otherwise (use x11 under Xvfb to include
the X server's copy).
"""
import ctypes
import os
import sys
import time
import warnings

_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))
os.environ.setdefault("SDL_VIDEODRIVER", "offscreen")

import lumora  # noqa: E402
import lumora.display as display  # noqa: E402

W, H = 1280, 720
SECONDS = float(os.environ.get("BENCH_SECONDS", "1.5"))
# Twenty scattered dirty rectangles: a typical sprite game frame.
RECTS = [((i * 61) % (W - 64), (i * 37) % (H - 64), 64, 64) for i in range(20)]


def rate(step):
    """Frames per second of `step`, after a short warm-up."""
    for _ in range(5):
        step()
    n, t0 = 0, time.perf_counter()
    end = t0 + SECONDS
    while True:
        for _ in range(10):
            step()
        n += 10
        t = time.perf_counter()
        if t >= end:
            return n / (t - t0)


def sdl_library():
    """The libSDL2 mapped into this process by the display extension."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            path = line.split()[-1]
            if "libSDL2-2.0.so" in path:
                return ctypes.CDLL(path)
    return ctypes.CDLL("libSDL2-2.0.so.0")


def bench_lumora():
    results = {}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        screen = display.set_mode((W, H))
        screen.fill((30, 60, 90))
        results["plain flip"] = rate(display.flip)
        results["plain update(rects)"] = rate(lambda: display.update(RECTS))
        screen = display.set_mode((W, H), lumora.SCALED)
        screen.fill((30, 60, 90))
        results["scaled flip"] = rate(display.flip)
        results["scaled update(rects)"] = rate(lambda: display.update(RECTS))
        results["renderer"] = display._get_renderer_info()[0]
    display.quit()
    return results


class SDLRect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("w", ctypes.c_int),
                ("h", ctypes.c_int)]


class SurfaceHead(ctypes.Structure):
    """The leading fields of SDL_Surface."""
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int), ("pitch", ctypes.c_int),
                ("pixels", ctypes.c_void_p)]


def bench_sdl(SDL):
    vp = ctypes.c_void_p
    SDL.SDL_CreateWindow.restype = vp
    SDL.SDL_CreateWindow.argtypes = [ctypes.c_char_p] + [ctypes.c_int] * 4 + [ctypes.c_uint32]
    SDL.SDL_GetWindowSurface.restype = vp
    SDL.SDL_GetWindowSurface.argtypes = [vp]
    SDL.SDL_UpdateWindowSurface.argtypes = [vp]
    SDL.SDL_UpdateWindowSurfaceRects.argtypes = [vp, ctypes.POINTER(SDLRect), ctypes.c_int]
    SDL.SDL_DestroyWindow.argtypes = [vp]
    SDL.SDL_CreateRenderer.restype = vp
    SDL.SDL_CreateRenderer.argtypes = [vp, ctypes.c_int, ctypes.c_uint32]
    SDL.SDL_CreateTexture.restype = vp
    SDL.SDL_CreateTexture.argtypes = [vp, ctypes.c_uint32, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_int]
    SDL.SDL_UpdateTexture.argtypes = [vp, vp, vp, ctypes.c_int]
    SDL.SDL_RenderClear.argtypes = [vp]
    SDL.SDL_RenderCopy.argtypes = [vp, vp, vp, vp]
    SDL.SDL_RenderPresent.argtypes = [vp]
    SDL.SDL_RenderSetLogicalSize.argtypes = [vp, ctypes.c_int, ctypes.c_int]
    SDL.SDL_RenderSetIntegerScale.argtypes = [vp, ctypes.c_int]
    SDL.SDL_DestroyTexture.argtypes = [vp]
    SDL.SDL_DestroyRenderer.argtypes = [vp]
    SDL.SDL_CreateRGBSurface.restype = vp
    SDL.SDL_CreateRGBSurface.argtypes = [ctypes.c_uint32, ctypes.c_int, ctypes.c_int,
                                         ctypes.c_int] + [ctypes.c_uint32] * 4
    SDL.SDL_FreeSurface.argtypes = [vp]
    SDL.SDL_GetError.restype = ctypes.c_char_p

    if SDL.SDL_InitSubSystem(0x20) != 0:
        raise RuntimeError(SDL.SDL_GetError().decode())
    undef, shown = 0x1FFF0000, 0x4
    results = {}
    win = SDL.SDL_CreateWindow(b"sdl peer", undef, undef, W, H, shown)
    if not win:
        raise RuntimeError(SDL.SDL_GetError().decode())
    SDL.SDL_GetWindowSurface(win)
    rects = (SDLRect * len(RECTS))(*[SDLRect(*r) for r in RECTS])
    results["plain flip"] = rate(lambda: SDL.SDL_UpdateWindowSurface(win))
    results["plain update(rects)"] = rate(
        lambda: SDL.SDL_UpdateWindowSurfaceRects(win, rects, len(RECTS)))
    SDL.SDL_DestroyWindow(win)

    win = SDL.SDL_CreateWindow(b"sdl peer", undef, undef, W, H, shown)
    ren = SDL.SDL_CreateRenderer(win, -1, 0)
    SDL.SDL_RenderSetIntegerScale(ren, 1)
    SDL.SDL_RenderSetLogicalSize(ren, W, H)
    tex = SDL.SDL_CreateTexture(ren, 0x16362004, 1, W, H)  # ARGB8888, streaming
    surf = SDL.SDL_CreateRGBSurface(0, W, H, 32, 0xFF0000, 0xFF00, 0xFF, 0)
    head = SurfaceHead.from_address(surf)
    pitch, pixels = head.pitch, head.pixels

    def present():
        SDL.SDL_UpdateTexture(tex, None, pixels, pitch)
        SDL.SDL_RenderClear(ren)
        SDL.SDL_RenderCopy(ren, tex, None, None)
        SDL.SDL_RenderPresent(ren)

    results["scaled flip"] = rate(present)
    results["scaled update(rects)"] = results["scaled flip"]  # SCALED presents everything
    SDL.SDL_FreeSurface(surf)
    SDL.SDL_DestroyTexture(tex)
    SDL.SDL_DestroyRenderer(ren)
    SDL.SDL_DestroyWindow(win)
    SDL.SDL_QuitSubSystem(0x20)
    return results


def main():
    lm = bench_lumora()
    sdl = bench_sdl(sdl_library())
    print("driver %s, %dx%d, SCALED renderer %s" % (os.environ["SDL_VIDEODRIVER"], W, H,
                                                    lm["renderer"]))
    print("%-22s %12s %12s %8s" % ("case", "lumora fps", "SDL fps", "ratio"))
    for case in ("plain flip", "plain update(rects)", "scaled flip", "scaled update(rects)"):
        print("%-22s %12.0f %12.0f %8.2f" % (case, lm[case], sdl[case], lm[case] / sdl[case]))


if __name__ == "__main__":
    main()
