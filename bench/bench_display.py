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
import statistics
import time
import warnings

import _benchkit

_benchkit.headless("offscreen")

import lumora  # noqa: E402
import lumora.display as display  # noqa: E402

W, H = 1280, 720
SECONDS = float(os.environ.get("BENCH_SECONDS", "0.4"))  # per case and round
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "5"))
# Twenty scattered dirty rectangles: a typical sprite game frame.
RECTS = [((i * 61) % (W - 64), (i * 37) % (H - 64), 64, 64) for i in range(20)]


def rate(step):
    """Frames per second of `step`, after a short warm-up."""
    for _ in range(3):
        step()
    n, t0 = 0, time.perf_counter()
    end = t0 + SECONDS
    while True:
        for _ in range(5):
            step()
        n += 5
        t = time.perf_counter()
        if t >= end:
            return n / (t - t0)


def compare(cases):
    """Median frames per second of each (ours, peer) pair of steps, the two
    measured alternately so that load from elsewhere hits both alike."""
    runs = {name: ([], []) for name in cases}
    for _ in range(ROUNDS):
        for name, (ours, peer) in cases.items():
            runs[name][0].append(rate(ours))
            runs[name][1].append(rate(peer))
    return {name: (statistics.median(a), statistics.median(b))
            for name, (a, b) in runs.items()}


def sdl_library():
    """The libSDL2 mapped into this process by the display extension."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            path = line.split()[-1]
            if "libSDL2-2.0.so" in path:
                return ctypes.CDLL(path)
    return ctypes.CDLL("libSDL2-2.0.so.0")


class SDLRect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("w", ctypes.c_int),
                ("h", ctypes.c_int)]


class Peer:
    """The same presentation done directly on SDL through ctypes."""

    def __init__(self, SDL):
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
        self.SDL = SDL
        self.rects = (SDLRect * len(RECTS))(*[SDLRect(*r) for r in RECTS])

    def window(self):
        win = self.SDL.SDL_CreateWindow(b"sdl peer", 0x1FFF0000, 0x1FFF0000, W, H, 0x4)
        if not win:
            raise RuntimeError(self.SDL.SDL_GetError().decode())
        return win

    def plain(self):
        SDL, win = self.SDL, self.window()
        SDL.SDL_GetWindowSurface(win)
        self.win = win
        return (lambda: SDL.SDL_UpdateWindowSurface(win),
                lambda: SDL.SDL_UpdateWindowSurfaceRects(win, self.rects, len(RECTS)))

    def scaled(self):
        SDL, win = self.SDL, self.window()
        ren = SDL.SDL_CreateRenderer(win, -1, 0)
        SDL.SDL_RenderSetIntegerScale(ren, 1)
        SDL.SDL_RenderSetLogicalSize(ren, W, H)
        tex = SDL.SDL_CreateTexture(ren, 0x16362004, 1, W, H)  # ARGB8888, streaming
        surf = SDL.SDL_CreateRGBSurface(0, W, H, 32, 0xFF0000, 0xFF00, 0xFF, 0)
        head = _benchkit.raw(surf)
        pitch, pixels = head.pitch, head.pixels
        self.scaled_parts = (win, ren, tex, surf)

        def present():
            SDL.SDL_UpdateTexture(tex, None, pixels, pitch)
            SDL.SDL_RenderClear(ren)
            SDL.SDL_RenderCopy(ren, tex, None, None)
            SDL.SDL_RenderPresent(ren)

        return present

    def close(self):
        SDL = self.SDL
        win, ren, tex, surf = self.scaled_parts
        SDL.SDL_FreeSurface(surf)
        SDL.SDL_DestroyTexture(tex)
        SDL.SDL_DestroyRenderer(ren)
        SDL.SDL_DestroyWindow(win)
        SDL.SDL_DestroyWindow(self.win)
        SDL.SDL_QuitSubSystem(0x20)


def main():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        screen = display.set_mode((W, H))
    screen.fill((30, 60, 90))
    peer = Peer(sdl_library())
    peer_flip, peer_update = peer.plain()
    results = compare({
        "plain flip": (display.flip, peer_flip),
        "plain update(rects)": (lambda: display.update(RECTS), peer_update),
    })
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        screen = display.set_mode((W, H), lumora.SCALED)
    screen.fill((30, 60, 90))
    renderer = display._get_renderer_info()[0]
    window = display.get_window_size()
    present = peer.scaled()
    # A SCALED display presents the whole surface for update(rects) too.
    results.update(compare({
        "scaled flip": (display.flip, present),
        "scaled update(rects)": (lambda: display.update(RECTS), present),
    }))
    peer.close()
    display.quit()

    print("driver %s, %dx%d, SCALED renderer %s, SCALED window %dx%d, median of %d rounds"
          % (os.environ["SDL_VIDEODRIVER"], W, H, renderer, window[0], window[1], ROUNDS))
    print("%-22s %12s %12s %8s" % ("case", "lumora fps", "SDL fps", "ratio"))
    for case, (ours, sdl) in results.items():
        print("%-22s %12.0f %12.0f %8.2f" % (case, ours, sdl, ours / sdl))


if __name__ == "__main__":
    main()
