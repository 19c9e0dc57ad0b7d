"""The vector blend kernels against a numpy model of the blend and against
the scalar reference kernel, on random pixels, odd widths, rows that start
at unaligned addresses (subsurfaces) and every whole-byte 32-bit layout."""
import ctypes

import numpy as np
import pytest

import lumora
from lumora import Surface, surface

from _surfmem import sdl

KERNELS = surface._blit_kernels()
LAYOUTS = {  # name: (masks, index of the spare byte)
    "ARGB": ((0xFF0000, 0xFF00, 0xFF, 0xFF000000), 3),
    "ABGR": ((0xFF, 0xFF00, 0xFF0000, 0xFF000000), 3),
    "RGBA": ((0xFF000000, 0xFF0000, 0xFF00, 0xFF), 0),
    "BGRA": ((0xFF00, 0xFF0000, 0xFF000000, 0xFF), 0),
}


@pytest.fixture(params=KERNELS)
def kernel(request):
    before = surface._set_blit_kernel(request.param)
    yield request.param
    surface._set_blit_kernel(before)


def raw_bytes(s):
    raw = sdl(s)
    buf = ctypes.string_at(raw.pixels, raw.pitch * raw.h)
    rows = np.frombuffer(buf, np.uint8).reshape(raw.h, raw.pitch)
    return rows[:, :raw.w * s.get_bytesize()].reshape(raw.h, raw.w, -1).copy()


def put_bytes(s, arr):
    raw = sdl(s)
    for y in range(raw.h):
        row = np.ascontiguousarray(arr[y]).tobytes()
        ctypes.memmove(raw.pixels + y * raw.pitch, row, len(row))


def model(src, dst, spare, pixel, mod, dst_alpha):
    """d + trunc((s - d) * a / 255) per colour byte; the spare byte is the
    blended alpha a + (255 - a) * dA / 255, or 0 without a destination
    alpha."""
    s, d = src.astype(np.int64), dst.astype(np.int64)
    if pixel:
        a = s[:, :, spare]
        if mod is not None:
            a = a * mod // 255
    else:
        a = np.full(s.shape[:2], mod, np.int64)
    a = a[:, :, None]
    diff = s - d
    out = d + np.sign(diff) * (np.abs(diff) * a // 255)
    if dst_alpha:
        out[:, :, spare] = a[:, :, 0] + (255 - a[:, :, 0]) * d[:, :, spare] // 255
    else:
        out[:, :, spare] = 0
    return out.astype(np.uint8)


CASES = [(pixel, mod) for pixel, mod in
         [(True, None), (True, 100), (True, 128), (False, 1), (False, 77),
          (False, 128), (False, 254), (False, 0)]]


@pytest.mark.parametrize("layout", sorted(LAYOUTS))
@pytest.mark.parametrize("pixel, mod", CASES)
@pytest.mark.parametrize("dst_alpha", [False, True])
def test_kernel_matches_model(kernel, layout, pixel, mod, dst_alpha):
    masks, spare = LAYOUTS[layout]
    rng = np.random.default_rng(hash((layout, pixel, mod, dst_alpha)) & 0xFFFF)
    w, h = 53, 5
    smasks = masks if pixel else masks[:3] + (0,)
    src = Surface((w, h), lumora.SRCALPHA if pixel else 0, 32, smasks)
    sv = rng.integers(0, 256, (h, w, 4), dtype=np.uint8)
    sv[0, :8] = 0          # runs of the extremes, which fall out exactly
    sv[1, :8] = 255
    put_bytes(src, sv)
    if mod is not None:
        src.set_alpha(mod)
    dmasks = masks if dst_alpha else masks[:3] + (0,)
    # The destination is a subsurface at an odd x, so its rows start at
    # addresses that no vector width divides.
    parent = Surface((w + 7, h + 2), lumora.SRCALPHA if dst_alpha else 0, 32, dmasks)
    pv = rng.integers(0, 256, (h + 2, w + 7, 4), dtype=np.uint8)
    put_bytes(parent, pv)
    dst = parent.subsurface((3, 1, w, h))
    dst.blit(src, (0, 0))
    got = raw_bytes(parent)
    want = pv.copy()
    want[1:1 + h, 3:3 + w] = model(sv, pv[1:1 + h, 3:3 + w], spare, pixel, mod,
                                   dst_alpha)
    if not dst_alpha:
        # A destination without alpha keeps no meaning in its spare byte.
        got[1:1 + h, 3:3 + w, spare] = want[1:1 + h, 3:3 + w, spare]
    assert np.array_equal(got, want)


@pytest.mark.parametrize("width", [1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 65])
def test_kernels_agree_with_scalar_on_every_width(width):
    rng = np.random.default_rng(width)
    src = Surface((width, 3), lumora.SRCALPHA, 32)
    sv = rng.integers(0, 256, (3, width, 4), dtype=np.uint8)
    put_bytes(src, sv)
    results = {}
    for name in KERNELS:
        before = surface._set_blit_kernel(name)
        try:
            for mod in (None, 128, 200):
                src.set_alpha(mod)
                dst = Surface((width, 3), lumora.SRCALPHA, 32)
                put_bytes(dst, sv[::-1, ::-1])
                dst.blit(src, (0, 0))
                results[name, mod] = raw_bytes(dst)
                opaque = Surface((width, 3), 0, 32)
                put_bytes(opaque, sv[::-1])
                src.set_alpha(128 if mod is None else mod, 0)
                flat = src.convert()
                flat.set_alpha(128 if mod is None else mod)
                opaque.blit(flat, (0, 0))
                results[name, mod, "surface"] = raw_bytes(opaque)
        finally:
            surface._set_blit_kernel(before)
    for (name, *rest), value in results.items():
        assert np.array_equal(value, results[("scalar", *rest)]), (name, rest)


@pytest.mark.parametrize("mod", [128, 100])
def test_every_pair_of_bytes(kernel, mod):
    # Every (source, destination) byte pair once, through the surface-alpha
    # paths (128 has a kernel of its own).
    s = np.broadcast_to(np.arange(256, dtype=np.uint8)[None, :, None], (256, 256, 4))
    d = np.broadcast_to(np.arange(256, dtype=np.uint8)[:, None, None], (256, 256, 4))
    src, dst = Surface((256, 256), 0, 32), Surface((256, 256), 0, 32)
    put_bytes(src, s)
    put_bytes(dst, d)
    src.set_alpha(mod)
    dst.blit(src, (0, 0))
    got = raw_bytes(dst)[:, :, :3]
    assert np.array_equal(got, model(s, d, 3, False, mod, False)[:, :, :3])


LOW_TARGETS = {  # depth, masks
    "565": (16, (0xF800, 0x7E0, 0x1F, 0)),
    "555": (16, (0x7C00, 0x3E0, 0x1F, 0)),
    "4444": (16, (0xF00, 0xF0, 0xF, 0xF000)),
    "1555": (16, (0x7C00, 0x3E0, 0x1F, 0x8000)),
    "RGB24": (24, (0xFF0000, 0xFF00, 0xFF, 0)),
    "BGR24": (24, (0xFF, 0xFF00, 0xFF0000, 0)),
}


@pytest.mark.parametrize("target", sorted(LOW_TARGETS))
@pytest.mark.parametrize("src_layout", ["ARGB", "RGBA", "XRGB"])
@pytest.mark.parametrize("mode", [None, 128, 77, "key"])
def test_low_targets_agree_with_scalar(target, src_layout, mode):
    depth, dmasks = LOW_TARGETS[target]
    masks = LAYOUTS["ARGB" if src_layout == "XRGB" else src_layout][0]
    pixel = src_layout != "XRGB"
    rng = np.random.default_rng(len(target) * 31 + len(src_layout))
    w, h = 45, 4
    src = Surface((w, h), lumora.SRCALPHA if pixel else 0, 32,
                  masks if pixel else masks[:3] + (0,))
    put_bytes(src, rng.integers(0, 256, (h, w, 4), dtype=np.uint8))
    if mode == "key":
        src.set_colorkey(src.get_at_mapped((0, 0)))
    elif mode is not None:
        src.set_alpha(mode)
    start = rng.integers(0, 256, (h + 1, w + 3, depth // 8), dtype=np.uint8)
    results = []
    for name in ("scalar",) + KERNELS[1:]:
        before = surface._set_blit_kernel(name)
        try:
            parent = Surface((w + 3, h + 1), 0, depth, dmasks)
            put_bytes(parent, start)
            parent.subsurface((1, 1, w, h)).blit(src, (0, 0))
            results.append(raw_bytes(parent))
        finally:
            surface._set_blit_kernel(before)
    assert not np.array_equal(results[0], start)
    for name, got in zip(KERNELS[1:], results[1:]):
        assert np.array_equal(got, results[0]), name


def test_kernel_choice():
    assert KERNELS[0] == "scalar" and len(KERNELS) >= 2
    before = surface._set_blit_kernel("scalar")
    assert surface._set_blit_kernel(before) == "scalar"
    with pytest.raises(ValueError, match="no blit kernel 'mmx' on this CPU"):
        surface._set_blit_kernel("mmx")
