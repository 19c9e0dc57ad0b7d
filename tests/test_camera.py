"""lumora._camera without a camera: the error paths of real files, and a
fake capture device (tests/fakecam_shim.c, compiled here and preloaded into
a child interpreter) serving known frames, controls and injected failures.
Decoded pixels are checked against numpy models of each layout."""
import ctypes
import glob
import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

np = pytest.importorskip("numpy")
camera = pytest.importorskip("lumora._camera")
surface = pytest.importorskip("lumora.surface")

import _surfmem  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------------------
# Without any device
# ---------------------------------------------------------------------------
def test_list_cameras_and_paths(tmp_path):
    if not glob.glob("/dev/video*"):
        assert camera.list_cameras() == []
    assert all(n.startswith("/dev/video") for n in camera.list_cameras())
    regular = tmp_path / "plain"
    regular.write_bytes(b"x")
    missing = str(tmp_path / "missing")
    for path, msg in ((missing, f"Cannot identify '{missing}': 2, No such file or directory"),
                      (str(regular), f"{regular} is no device"),
                      ("/dev/null", "ioctl(VIDIOC_QUERYCAP) failure : 25, "
                                    "Inappropriate ioctl for device")):
        cam = camera.Camera(path)
        with pytest.raises(SystemError) as e:
            cam.start()
        # User-mode emulators answer unknown ioctls with ENOSYS.
        assert str(e.value) in (msg, msg.replace("25, Inappropriate ioctl for device",
                                                 "38, Function not implemented"))
        cam.stop()  # nothing open: harmless
    cam = camera.Camera("/dev/video0")
    assert cam.get_size() == (640, 480) and cam.get_controls() == (False, False, 0)
    assert camera.Camera("/dev/video0", (320, 240), "HSV").get_size() == (320, 240)
    assert camera.CameraType is camera.Camera
    assert camera.Camera.__doc__.startswith("Camera(device, (width, height), format)")
    with pytest.raises(TypeError):
        camera.Camera()
    with pytest.raises(SystemError, match="DQBUF"):
        cam.get_raw()


# ---------------------------------------------------------------------------
# numpy models
# ---------------------------------------------------------------------------
def clip(a):
    return np.clip(a, 0, 255)


def yuv_to_rgb(y, u, v):
    y, u, v = (np.asarray(a, dtype=np.int64) for a in (y, u, v))
    return (clip(y + ((3 * (v - 128)) >> 1)),
            clip(y - ((6 * (v - 128) + 3 * (u - 128)) >> 3)),
            clip(y + ((129 * (u - 128)) >> 6)))


def rgb_to_yuv(r, g, b):
    return ((77 * r + 150 * g + 29 * b + 128) >> 8,
            (((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128) & 255,
            (((112 * r - 94 * g - 18 * b + 128) >> 8) + 128) & 255)


def tdiv(a, d):
    """Integer division truncating toward zero."""
    return np.sign(a) * (np.abs(a) // np.maximum(d, 1))


def rgb_to_hsv(r, g, b):
    mx = np.maximum(np.maximum(r, g), b)
    d = mx - np.minimum(np.minimum(r, g), b)
    s = np.where(d == 0, 0, d * 255 // np.maximum(mx, 1))
    h = np.where(r == mx, tdiv((g - b) * 43, d),
                 np.where(g == mx, 85 + tdiv((b - r) * 43, d), 170 + tdiv((r - g) * 43, d)))
    return np.where(d == 0, 0, h) & 255, s, mx


def demosaic(m):
    h, w = m.shape
    m = m.astype(np.int64)
    ys, xs = np.mgrid[0:h, 0:w]

    def mean(offsets):
        total = np.zeros((h, w), np.int64)
        count = np.zeros((h, w), np.int64)
        for dx, dy in offsets:
            ny, nx = ys + dy, xs + dx
            ok = (ny >= 0) & (ny < h) & (nx >= 0) & (nx < w)
            total += np.where(ok, m[np.clip(ny, 0, h - 1), np.clip(nx, 0, w - 1)], 0)
            count += ok
        return np.where(count > 0, total // np.maximum(count, 1), 0)

    orth = mean([(-1, 0), (1, 0), (0, -1), (0, 1)])
    diag = mean([(-1, -1), (1, -1), (-1, 1), (1, 1)])
    row, col = mean([(-1, 0), (1, 0)]), mean([(0, -1), (0, 1)])
    site = (ys % 2) * 2 + xs % 2       # 0 blue, 1/2 green, 3 red
    r = np.select([site == 0, site == 1, site == 2], [diag, col, row], m)
    g = np.where((site == 0) | (site == 3), orth, m)
    b = np.select([site == 3, site == 1, site == 2], [diag, row, col], m)
    return r, g, b


def frame_bytes(fmt, w, h):
    n, cw, ch = w * h, (w + 1) // 2, (h + 1) // 2
    return {"YUYV": 4 * ((n + 1) // 2), "UYVY": 4 * ((n + 1) // 2), "YU12": n + 2 * cw * ch,
            "RGB3": 3 * n, "R444": 2 * n, "BA81": n}[fmt]


def decode(fmt, f, w, h):
    """(kind, a, b, c): kind "yuv" planes (Y, U, V) or "rgb" planes."""
    f = f.astype(np.int64)
    n = w * h
    if fmt in ("YUYV", "UYVY"):
        q = f.reshape(-1, 4)
        ys = q[:, [0, 2]] if fmt == "YUYV" else q[:, [1, 3]]
        u, v = (q[:, 1], q[:, 3]) if fmt == "YUYV" else (q[:, 0], q[:, 2])
        planes = ys.reshape(-1)[:n], np.repeat(u, 2)[:n], np.repeat(v, 2)[:n]
        return ("yuv",) + tuple(p.reshape(h, w) for p in planes)
    if fmt == "YU12":
        cw, ch = (w + 1) // 2, (h + 1) // 2
        u = f[n:n + cw * ch].reshape(ch, cw)
        v = f[n + cw * ch:n + 2 * cw * ch].reshape(ch, cw)
        iy, ix = np.arange(h)[:, None] // 2, np.arange(w)[None, :] // 2
        return "yuv", f[:n].reshape(h, w), u[iy, ix], v[iy, ix]
    if fmt == "RGB3":
        p = f.reshape(h, w, 3)
        return "rgb", p[..., 0], p[..., 1], p[..., 2]
    if fmt == "R444":  # byte 0 = green | blue, byte 1 = red in the low nibble
        p = f.reshape(h, w, 2)
        return "rgb", (p[..., 1] & 15) << 4, p[..., 0] & 0xF0, (p[..., 0] & 15) << 4
    return ("rgb",) + demosaic(f.reshape(h, w))


def expected_24bit(fmt, space, f, w, h):
    """The bytes of each pixel of a 24-bit destination, in memory order."""
    kind, a, b, c = decode(fmt, f, w, h)
    if space == "YUV":
        y, u, v = (a, b, c) if kind == "yuv" else rgb_to_yuv(a, b, c)
        px = (v, u, y)
    else:
        rgb = yuv_to_rgb(a, b, c) if kind == "yuv" else (a, b, c)
        if space == "RGB":
            px = rgb[::-1]
        else:
            hh, s, v = rgb_to_hsv(*rgb)
            px = (v, s, hh)
    return np.stack(px, axis=-1).astype(np.uint8)


# ---------------------------------------------------------------------------
# The fake device
# ---------------------------------------------------------------------------
@pytest.fixture(scope="module")
def shim(tmp_path_factory):
    # CC names the target's compiler when the suite runs under emulation.
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if not cc:
        pytest.skip("no C compiler for the fake device")
    out = str(tmp_path_factory.mktemp("fakecam") / "fakecam.so")
    r = subprocess.run([cc, "-shared", "-fPIC", "-O1", "-o", out,
                        os.path.join(HERE, "fakecam_shim.c"), "-ldl"],
                       capture_output=True, text=True)
    if r.returncode:
        pytest.skip("fake device does not build: " + r.stderr[-300:])
    return out


PRELUDE = """
import ctypes, json, os, sys
import lumora.surface
import lumora._camera as camera
import _surfmem
PATH = os.environ["FAKECAM_PATH"]
def rows(s):
    sd = _surfmem.sdl(s)
    bpp = s.get_bytesize()
    return [ctypes.string_at(sd.pixels + y * sd.pitch, sd.w * bpp).hex() for y in range(sd.h)]
def out(*a):
    print(json.dumps(a))
def attempt(f, *a, **k):
    try:
        return f(*a, **k)
    except Exception as e:
        out(type(e).__name__, str(e))
"""


@pytest.fixture
def device(shim, tmp_path):
    link = tmp_path / "video-fake"
    os.symlink("/dev/null", link)

    def run(code, formats="YUYV", frame=b"", fail=(), **env):
        (tmp_path / "frame").write_bytes(bytes(frame))
        log = tmp_path / "log"
        if log.exists():
            log.unlink()
        pre = os.environ.get("LD_PRELOAD", "")
        e = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path),
                 LD_PRELOAD=(pre + ":" if pre else "") + shim,
                 FAKECAM_PATH=str(link), FAKECAM_FORMATS=formats,
                 FAKECAM_FRAME=str(tmp_path / "frame"), FAKECAM_LOG=str(log),
                 FAKECAM_FAIL=",".join(fail),
                 **{"FAKECAM_" + k.upper(): str(v) for k, v in env.items()})
        r = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
                           capture_output=True, text=True, env=e, timeout=120)
        assert r.returncode == 0, r.stderr
        events = log.read_text().splitlines() if log.exists() else []
        return [json.loads(line) for line in r.stdout.splitlines()], events

    run.path = str(link)
    return run


FORMATS = ["YUYV", "UYVY", "YU12", "RGB3", "R444", "BA81"]


@pytest.mark.parametrize("w, h", [(6, 4), (5, 3)])
@pytest.mark.parametrize("space", ["RGB", "YUV", "HSV"])
@pytest.mark.parametrize("fmt", FORMATS)
def test_frames_decoded(device, fmt, space, w, h):
    frame = np.random.default_rng(FORMATS.index(fmt) * 10 + w).integers(
        0, 256, frame_bytes(fmt, w, h), dtype=np.uint8)
    res, events = device(f"""
        cam = camera.Camera(PATH, ({w}, {h}), "{space}")
        cam.start()
        out(cam.get_size(), rows(cam.get_image()), rows(cam.get_image()))
        cam.stop()
    """, formats=fmt, frame=frame.tobytes())
    size, first, second = res[0]
    assert size == [w, h] and first == second
    want = expected_24bit(fmt, space, frame, w, h)
    got = np.array([list(bytes.fromhex(r)) for r in first], np.uint8).reshape(h, w, 3)
    assert np.array_equal(got, want)
    assert f"fmt {fmt} {w}x{h}" in events
    assert events[-4:] == ["streamoff", "munmap 0", "munmap 1", "close"]


def test_known_grey_pair(device):
    # Y0 = 16, Y1 = 235 around neutral chroma: two grey pixels.
    res, _ = device("""
        cam = camera.Camera(PATH, (2, 1))
        cam.start()
        out(rows(cam.get_image()))
    """, frame=bytes([16, 128, 235, 128]))
    assert res[0] == [["101010" "ebebeb"]]


def test_destinations(device):
    w, h = 6, 4
    frame = np.random.default_rng(7).integers(0, 256, 3 * w * h, dtype=np.uint8)
    res, _ = device(f"""
        S = lumora.surface.Surface
        big = S(({w} + 3, {h} + 2), 0, 24)
        big.fill((1, 2, 3))
        sub = big.subsurface((1, 1, {w}, {h}))
        cam = camera.Camera(PATH, ({w}, {h}))
        cam.start()
        out(cam.get_image(sub) is sub, rows(big))
        s32 = S(({w}, {h}), 0, 32, (0xFF, 0xFF00, 0xFF0000, 0))
        cam.get_image(s32)
        out(rows(s32))
        attempt(cam.get_image, S(({w} + 1, {h}), 0, 24))
        attempt(cam.get_image, "not a surface")
    """, formats="RGB3", frame=frame.tobytes())
    same, big = res[0]
    rgb = frame.reshape(h, w, 3)
    got = np.array([list(bytes.fromhex(r)) for r in big], np.uint8).reshape(h + 2, w + 3, 3)
    assert same is True
    assert np.array_equal(got[1:h + 1, 1:w + 1], rgb[..., ::-1])
    border = np.ones(got.shape[:2], bool)
    border[1:h + 1, 1:w + 1] = False
    assert (got[border] == got[0, 0]).all()
    px32 = np.array([list(bytes.fromhex(r)) for r in res[1][0]], np.uint8).reshape(h, w, 4)
    assert np.array_equal(px32[..., :3], rgb) and (px32[..., 3] == 0).all()
    assert res[2] == ["ValueError", "Destination surface not the correct width or height."]
    assert res[3][0] == "TypeError"


@pytest.mark.parametrize("formats, space, agreed", [
    ("UYVY,RGB3,BA81", "RGB", "RGB3"), ("UYVY,RGB3,BA81", "YUV", "UYVY"),
    ("BA81,YU12", "HSV", "BA81"), ("YU12,R444", "YUV", "YU12")])
def test_format_negotiation(device, formats, space, agreed):
    res, events = device(f"""
        cam = camera.Camera(PATH, (640, 480), "{space}")
        cam.start()
        out(cam.get_size())
    """, formats=formats, size="8x6", buflen=1 << 16)
    assert res == [[[8, 6]]]
    assert [e for e in events if e.startswith("fmt")] == [f"fmt {agreed} 8x6"]


def test_controls(device):
    res, _ = device("""
        cam = camera.Camera(PATH)
        cam.start()
        out(cam.get_controls())
        out(cam.set_controls(hflip=1, brightness=7))
        out(cam.set_controls(0, 0))
        out(cam.set_controls(brightness=99))
    """)
    assert res == [[[False, True, 42]], [[True, True, 7]], [[False, False, 7]],
                   [[False, False, 99]]]
    res, _ = device("""
        cam = camera.Camera(PATH)
        cam.start()
        out(cam.set_controls(hflip=True, brightness=5))
    """, fail=("s_brightness",))
    assert res == [[[True, True, 42]]]


START_FAILURES = [
    ("open", "SystemError", "Cannot open '{p}': 13, Permission denied"),
    ("querycap_einval", "SystemError", "{p} is not a V4L2 device"),
    ("querycap", "SystemError", "ioctl(VIDIOC_QUERYCAP) failure : 5, Input/output error"),
    ("nocapture", "SystemError", "{p} is not a video capture device"),
    ("nostreaming", "SystemError", "{p} does not support streaming i/o"),
    ("substitute", "SystemError", "ioctl(VIDIOC_S_FMT) failure: no supported formats"),
    ("reqbufs_einval", "MemoryError", "{p} does not support memory mapping"),
    ("reqbufs", "MemoryError", "ioctl(VIDIOC_REQBUFS) failure : 12, Cannot allocate memory"),
    ("fewbufs", "MemoryError", "Insufficient buffer memory on {p}\n"),
    ("querybuf", "MemoryError", "ioctl(VIDIOC_QUERYBUF) failure : 5, Input/output error"),
    ("mmap", "MemoryError", "mmap failure : 12, Cannot allocate memory"),
    ("qbuf", "OSError", "ioctl(VIDIOC_QBUF) failure : 5, Input/output error"),
    ("streamon", "OSError", "ioctl(VIDIOC_STREAMON) failure : 5, Input/output error"),
]


@pytest.mark.parametrize("step, etype, msg", START_FAILURES)
def test_start_failures_close_the_device(device, step, etype, msg):
    res, events = device("""
        cam = camera.Camera(PATH)
        attempt(cam.start)
        out(cam.query_image())
    """, fail=(step,), formats="MJPG" if step == "substitute" else "YUYV")
    assert res[0] == [etype, msg.format(p=device.path)]
    assert res[1] == [False]
    maps = [e for e in events if e.startswith("mmap")]
    unmaps = [e for e in events if e.startswith("munmap")]
    assert len(maps) == len(unmaps)
    assert events.count("close") == (0 if step == "open" else 1)


def test_interrupted_ioctl_is_repeated(device):
    res, events = device("""
        cam = camera.Camera(PATH, (2, 1))
        cam.start()
        out(rows(cam.get_image()))
    """, fail=("eintr",), frame=bytes([16, 128, 235, 128]))
    assert res == [[["101010ebebeb"]]]


@pytest.mark.parametrize("step, code, expected", [
    ("dqbuf", "attempt(cam.get_image)",
     ["SystemError", "ioctl(VIDIOC_DQBUF) failure : 5, Input/output error"]),
    ("dqbuf", "attempt(cam.get_raw)",
     ["SystemError", "ioctl(VIDIOC_DQBUF) failure : 5, Input/output error"]),
    ("badindex", "attempt(cam.get_image)",
     ["SystemError", "ioctl(VIDIOC_DQBUF) failure : 22, Invalid argument"]),
    ("qbuf_late", "attempt(cam.get_raw)",
     ["SystemError", "ioctl(VIDIOC_QBUF) failure : 5, Input/output error"]),
    ("querybuf_late", "attempt(cam.query_image)",
     ["MemoryError", "ioctl(VIDIOC_QUERYBUF) failure : 5, Input/output error"]),
    ("notready", "out(cam.query_image())", [False]),
    ("", "out(cam.query_image())", [True]),
    ("streamoff", "attempt(cam.stop)",
     ["SystemError", "ioctl(VIDIOC_STREAMOFF) failure : 5, Input/output error"]),
    ("munmap", "attempt(cam.stop)", ["MemoryError", "munmap failure: 22, Invalid argument"]),
    ("close", "attempt(cam.stop)",
     ["SystemError", "Cannot close '{p}': 5, Input/output error"]),
])
def test_capture_failures(device, step, code, expected):
    res, _ = device(f"""
        cam = camera.Camera(PATH, (2, 2))
        cam.start()
        {code}
    """, fail=(step,), frame=bytes(8))
    assert res[0] == [e.format(p=device.path) if isinstance(e, str) else e for e in expected]


def test_short_buffer_and_raw(device):
    # 3 x 2 YUYV needs 12 bytes; the buffers hold 10: refused, and requeued.
    res, _ = device("""
        cam = camera.Camera(PATH, (3, 2))
        cam.start()
        for _ in range(3):
            attempt(cam.get_image)
        raw = cam.get_raw()
        out(len(raw), raw[:4].hex())
    """, frame=bytes([1, 2, 3, 4]), buflen=10)
    assert res[:3] == [["SystemError", "image processing error"]] * 3
    assert res[3] == [10, "01020304"]


def test_dropped_camera_releases_device(device):
    res, events = device("""
        import gc
        cam = camera.Camera(PATH, (2, 2))
        cam.start()
        del cam
        gc.collect()
        out("gone")
    """, frame=bytes(8), bufs=3)
    assert res == [["gone"]]
    assert events[-5:] == ["streamoff", "munmap 0", "munmap 1", "munmap 2", "close"]


# ---------------------------------------------------------------------------
# colorspace() on surfaces
# ---------------------------------------------------------------------------
def fill_random(s, seed):
    sd = _surfmem.sdl(s)
    data = np.random.default_rng(seed).integers(0, 256, sd.pitch * sd.h, dtype=np.uint8)
    ctypes.memmove(sd.pixels, data.tobytes(), len(data))


def pixels(s):
    sd = _surfmem.sdl(s)
    bpp = s.get_bytesize()
    raw = ctypes.string_at(sd.pixels, sd.pitch * sd.h)
    return np.frombuffer(raw, np.uint8).reshape(sd.h, sd.pitch)[:, :sd.w * bpp].reshape(
        sd.h, sd.w, bpp).astype(np.int64)


def channels(px, masks):
    v = sum(px[..., i] << (8 * i) for i in range(px.shape[-1]))
    out = []
    for m in masks:
        shift = (m & -m).bit_length() - 1
        bits = bin(m).count("1")
        out.append((((v & m) >> shift) << (8 - bits)) & 255)
    return out


@pytest.mark.parametrize("depth, masks", [
    (32, (0xFF0000, 0xFF00, 0xFF, 0)), (32, (0xFF, 0xFF00, 0xFF0000, 0)),
    (16, (0xF800, 0x7E0, 0x1F, 0)), (24, (0xFF0000, 0xFF00, 0xFF, 0))])
@pytest.mark.parametrize("space", ["YUV", "HSV"])
def test_colorspace_surfaces(depth, masks, space):
    src = surface.Surface((7, 5), 0, depth, masks)
    fill_random(src, depth + len(space))
    before = pixels(src).copy()
    dst = camera.colorspace(src, space)
    assert dst.get_size() == (7, 5) and dst.get_bitsize() == depth
    assert np.array_equal(pixels(src), before)
    r, g, b = channels(before, masks[:3])
    a, bb, c = (rgb_to_yuv if space == "YUV" else rgb_to_hsv)(r, g, b)
    got = pixels(dst)
    if depth == 24:  # bytes V, U, Y for YUV and V, S, H for HSV
        assert np.array_equal(got, np.stack((c, bb, a), -1))
        return
    # 1/2/4-byte pixels: YUV as (Y, U, V) and HSV as (V, H, S) in (R, G, B)
    planes = (a, bb, c) if space == "YUV" else (c, a, bb)
    gr, gg, gb = channels(got, masks[:3])
    for got_c, want_c, m in zip((gr, gg, gb), planes, masks):
        loss = 8 - bin(m).count("1")
        assert np.array_equal(got_c, (want_c >> loss) << loss)


def test_colorspace_known_values_and_errors():
    import colorsys
    s = surface.Surface((5, 1), 0, 32, (0xFF0000, 0xFF00, 0xFF, 0))
    for x, c in enumerate([(255, 0, 0), (0, 255, 0), (0, 0, 255), (100, 100, 100),
                           (255, 255, 255)]):
        s.set_at((x, 0), c)
    hsv = camera.colorspace(s, "HSV")
    got = [tuple(hsv.get_at((x, 0)))[:3] for x in range(5)]  # (V, H, S)
    assert got == [(255, 0, 255), (255, 85, 255), (255, 170, 255), (100, 0, 0), (255, 0, 0)]
    for x in range(3):
        rgb = [v / 255 for v in tuple(s.get_at((x, 0)))[:3]]
        h, sat, v = colorsys.rgb_to_hsv(*rgb)
        assert abs(got[x][1] - h * 255) <= 1 and got[x][2] == round(sat * 255)
    yuv = camera.colorspace(s, "YUV", s.copy())
    assert tuple(yuv.get_at((4, 0)))[:3] == (255, 128, 128)
    with pytest.raises(ValueError, match="^Incorrect colorspace value$"):
        camera.colorspace(s, "RGB")
    with pytest.raises(ValueError, match=r"^Surfaces not the same width and height\.$"):
        camera.colorspace(s, "YUV", surface.Surface((4, 1), 0, 32))
    with pytest.raises(ValueError, match="^Surfaces not the same depth$"):
        camera.colorspace(s, "YUV", surface.Surface((5, 1), 0, 16))
    d = surface.Surface((5, 1), 0, 32)
    assert camera.colorspace(s, "HSV", d) is d


class CamDest(ctypes.Structure):
    _fields_ = [("pixels", ctypes.c_void_p), ("pitch", ctypes.c_int),
                ("w", ctypes.c_int), ("h", ctypes.c_int), ("format", ctypes.c_void_p)]


@pytest.mark.parametrize("routine, space", [
    ("bgr32_to_rgb", "RGB"), ("rgb_to_yuv", "YUV"), ("rgb_to_hsv", "HSV")])
def test_xr24_frames(routine, space):
    """XR24 (B, G, R, X) frames, through the exported routines."""
    lib = ctypes.CDLL(camera.__file__)
    w, h = 5, 3
    frame = np.random.default_rng(3).integers(0, 256, 4 * w * h, dtype=np.uint8)
    dst = surface.Surface((w, h), 0, 24)
    sd = _surfmem.sdl(dst)
    d = CamDest(sd.pixels, sd.pitch, w, h, sd.format)
    args = [frame.ctypes.data_as(ctypes.c_void_p), ctypes.byref(d)]
    if routine != "bgr32_to_rgb":
        args.append(ctypes.c_uint32(int.from_bytes(b"XR24", "little")))
    getattr(lib, routine)(*args)
    p = frame.reshape(h, w, 4).astype(np.int64)
    r, g, b = p[..., 2], p[..., 1], p[..., 0]
    if space == "RGB":
        want = np.stack((b, g, r), -1)
    else:
        a, bb, c = (rgb_to_yuv if space == "YUV" else rgb_to_hsv)(r, g, b)
        want = np.stack((c, bb, a), -1)
    assert np.array_equal(pixels(dst), want)
