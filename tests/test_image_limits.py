"""lumora.image with hostile input: the pixel limit read from every
format's header, read-only buffers and the caller's file objects."""
import io
import struct
import textwrap

import pytest

np = pytest.importorskip("numpy")
Image = pytest.importorskip("PIL.Image")

import lumora  # noqa: E402
import lumora.image as image  # noqa: E402
from _sdlwin import run_script  # noqa: E402

W, H = 32, 12


def pillow_file(fmt, **opts):
    a = np.random.default_rng(1).integers(0, 256, (H, W, 3), dtype=np.uint8)
    b = io.BytesIO()
    im = Image.fromarray(a, "RGB")
    im.save(b, fmt, **opts)
    return b.getvalue()


def text_files():
    xpm = ('/* XPM */\nstatic char *x[] = {\n"%d %d 1 1",\n". c #FF0000",\n' % (W, H)
           + ",\n".join('"%s"' % ("." * W) for _ in range(H)) + "};\n")
    svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d">'
           '<rect width="5" height="5" fill="red"/></svg>' % (W, H))
    xv = b"P7 332\n#XVVERSION:Version 2.28\n#END_OF_COMMENTS\n%d %d 255\n" % (W, H)
    return {"xpm": xpm.encode(), "svg": svg.encode(), "xv": xv + bytes(W * H)}


def lbm_file():
    bmhd = struct.pack(">HHhhBBBBHBBhh", W, H, 0, 0, 8, 0, 0, 0, 0, 1, 1, W, H)
    body = bytes(((W + 1) & ~1) * H)
    cmap = bytes(range(256)) * 3
    chunks = (b"BMHD" + struct.pack(">I", len(bmhd)) + bmhd + b"CMAP" +
              struct.pack(">I", len(cmap)) + cmap + b"BODY" +
              struct.pack(">I", len(body)) + body)
    return b"FORM" + struct.pack(">I", 4 + len(chunks)) + b"PBM " + chunks


def ico_file():
    info = struct.pack("<IiiHHIIiiII", 40, W, 2 * H, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes([9, 8, 7, 255]) * (W * H) + bytes(W // 8 * H)
    entry = struct.pack("<BBBBHHII", W, H, 0, 0, 1, 32, len(info + pixels), 22)
    return struct.pack("<HHH", 0, 1, 1) + entry + info + pixels


def qoi_file():
    px = b"".join(bytes([0xFE, 1, 2, 3]) for _ in range(W * H))
    return b"qoif" + struct.pack(">IIBB", W, H, 3, 0) + px + bytes(7) + b"\x01"


def samples():
    out = {"bmp": pillow_file("BMP"), "png": pillow_file("PNG"),
           "jpg": pillow_file("JPEG"), "gif": pillow_file("GIF"),
           "tga": pillow_file("TGA"), "pcx": pillow_file("PCX"),
           "ppm": pillow_file("PPM"), "tif": pillow_file("TIFF"),
           "webp": pillow_file("WEBP"),
           "webp-lossless": pillow_file("WEBP", lossless=True),
           "ico": ico_file(),
           "lbm": lbm_file(), "qoi": qoi_file()}
    out.update(text_files())
    return out


SAMPLES = samples()


@pytest.fixture
def limit():
    old = image.get_max_pixels()
    yield image.set_max_pixels
    image.set_max_pixels(old)


@pytest.mark.parametrize("name", sorted(SAMPLES))
def test_limit_read_from_each_header(name, limit):
    data = SAMPLES[name]
    hint = "x." + name.split("-")[0]
    s = image.load(io.BytesIO(data), hint)
    w, h = s.get_size()
    limit(w * h)
    assert image.load(io.BytesIO(data), hint).get_size() == (w, h)
    limit(w * h - 1)
    with pytest.raises(lumora.error, match="image is too large .%d x %d pixels" % (w, h)):
        image.load(io.BytesIO(data), hint)


def test_limit_applies_to_basic_loader_and_paths(limit, tmp_path):
    p = tmp_path / "a.bmp"
    p.write_bytes(SAMPLES["bmp"])
    limit(W * H - 1)
    for call in (lambda: image.load_basic(str(p)), lambda: image.load(str(p)),
                 lambda: image.load_basic(io.BytesIO(SAMPLES["bmp"]))):
        with pytest.raises(lumora.error, match="BMP image is too large"):
            call()


@pytest.mark.parametrize("bad", [0, -1, 2**29, 2**64, 1.5, "9"])
def test_set_max_pixels_refuses(bad):
    old = image.get_max_pixels()
    with pytest.raises((ValueError, TypeError)):
        image.set_max_pixels(bad)
    assert image.get_max_pixels() == old == 2**28


@pytest.mark.parametrize("pixels", [b'".#x",\n"#.#"', b'".#",\n"#.#"', b'".#\xe9",\n"#.#"',
                                    b'".#.",\n"#.#\0"'])
def test_xpm_the_decoder_would_misread_refused(pixels):
    # One char per pixel: the decoder looks pixels up without checking the
    # key exists, and reads rows as fixed runs; each of these crashed it.
    xpm = b'/* XPM */\nstatic char *x[] = {\n"3 2 2 1",\n". c #FF0000",\n"# c None",\n' + pixels + b"};\n"
    with pytest.raises(lumora.error, match="XPM image"):
        image.load(io.BytesIO(xpm), "x.xpm")


def test_svg_without_size_refused():
    svg = b'<svg xmlns="http://www.w3.org/2000/svg"><rect width="5" height="5"/></svg>'
    with pytest.raises(lumora.error, match=r"SVG image does not give its size"):
        image.load(io.BytesIO(svg), "x.svg")


def hostile():
    tga = bytearray(512)
    tga[0], tga[2] = 173, 2                      # ID field, true colour
    tga[12:16] = struct.pack("<HH", 21656, 32767)
    tga[16], tga[17] = 32, 0x08                  # 32 bits, bottom-left
    gif = b"GIF89a" + struct.pack("<HHBBB", 65535, 65535, 0, 0, 0) + \
        b",\0\0\0\0" + struct.pack("<HH", 65535, 65535) + b"\0\x02\x02\x44\x01\0;"
    png = b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + struct.pack(">IIBBBBB", 60000, 60000, 8, 2, 0, 0, 0)
    jpg = b"\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0" + \
        b"\xff\xc0\0\x11\x08" + struct.pack(">HH", 65000, 65000) + b"\x03\x01\x22\0\x02\x11\x01\x03\x11\x01"
    bmp = b"BM" + bytes(12) + struct.pack("<IiiHH", 40, 40000, -40000, 1, 32) + bytes(24)
    pnm = b"P6\n99999999999999 99999999999999\n255\n"
    xpm = b'/* XPM */\nstatic char *x[] = {\n"4 4 2147483647 2147483647",\n};'
    qoi = b"qoif" + struct.pack(">IIBB", 100000, 100000, 4, 0)
    webp = b"RIFF" + struct.pack("<I", 30) + b"WEBPVP8X" + struct.pack("<I", 10) + \
        b"\0\0\0\0" + b"\xff\xff\xff" + b"\xff\xff\xff"
    svg = b'<svg xmlns="http://www.w3.org/2000/svg" width="1e9" height="1e9"></svg>'
    return [(tga, "x.tga"), (gif, None), (png, None), (jpg, None), (bmp, None),
            (pnm, None), (xpm, None), (qoi, None), (webp, None), (svg, "x.svg")]


def test_hostile_headers_refused_in_child(tmp_path):
    """Each of these crashed or allocated gigabytes before the check."""
    names = []
    for i, (data, hint) in enumerate(hostile()):
        names.append((str(tmp_path / ("f%d.%s" % (i, hint[2:] if hint else "bin"))), hint))
        (tmp_path / names[-1][0]).write_bytes(data)
    code = textwrap.dedent("""
        import io, lumora, lumora.image as image
        for path, hint in %r:
            data = open(path, "rb").read()
            for call in (lambda: image.load(path),
                         lambda: image.load(io.BytesIO(data), *([hint] if hint else []))):
                try:
                    print(call().get_size())
                except lumora.error as e:
                    print(e)
    """) % names
    r = run_script(code, timeout=120)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert len(lines) == 2 * len(names), r.stdout
    for line in lines:
        assert "too large" in line or "invalid header" in line or "undefined" in line, line


# ---------------------------------------------------------------------------
# Buffers and file objects belonging to the caller.
# ---------------------------------------------------------------------------
def readonly_buffers():
    a = np.zeros(4, np.uint8)
    a.flags.writeable = False
    return [bytes(4), memoryview(bytearray(4)).toreadonly(), a]


@pytest.mark.parametrize("buf", readonly_buffers(), ids=["bytes", "memoryview", "numpy"])
def test_frombuffer_readonly_gets_private_copy(buf):
    before = bytes(memoryview(buf))
    s = image.frombuffer(buf, (2, 2), "P")
    s.fill(65)
    assert bytes(memoryview(buf)) == before
    assert image.tobytes(s, "P") == b"A" * 4


def test_frombuffer_shared_one_byte_bytes():
    image.frombuffer(bytes([0]), (1, 1), "P").fill(65)
    assert bytes([0]) == b"\0"


def test_frombuffer_writable_still_shared():
    buf = bytearray(16)
    s = image.frombuffer(buf, (2, 2), "RGBA")
    s.fill((1, 2, 3, 4))
    assert buf == bytearray([1, 2, 3, 4] * 4)


@pytest.mark.parametrize("loader", ["load", "load_basic"])
def test_load_leaves_callers_file_open(loader, tmp_path):
    one = SAMPLES["bmp"]
    two = pillow_file("BMP").replace(b"\0", b"\0", 1)
    f = io.BytesIO(one + two)
    assert getattr(image, loader)(f).get_size() == (W, H)
    assert not f.closed and f.getvalue() == one + two
    p = tmp_path / "two.bmp"
    p.write_bytes(one + two)
    with open(p, "rb") as fh:
        getattr(image, loader)(fh)
        assert not fh.closed
        fh.seek(len(one))
        assert getattr(image, loader)(fh).get_size() == (W, H)


# ---------------------------------------------------------------------------
# Saving surfaces that change or go away.
# ---------------------------------------------------------------------------
STALE_SAVE = """
import io, os, lumora, lumora.display as display, lumora.image as image
from lumora import Surface
def attempt(sub, ext):
    try:
        image.save(sub, os.path.join(%r, "out." + ext))
        print("saved")
    except lumora.error as e:
        print("refused", e)
for ext in ("png", "jpg", "bmp", "tga"):
    parent = Surface((10, 10), 0, 32)
    sub = parent.subsurface((2, 2, 4, 4))
    parent.__init__((10, 10), 0, 8)
    attempt(sub, ext)
    display.init()
    screen = display.set_mode((20, 20))
    sub = screen.subsurface((1, 1, 5, 5))
    display.set_mode((4, 4))
    attempt(sub, ext)
    display.quit()
    attempt(sub, ext)
"""


def test_save_of_stale_subsurface_refused(tmp_path):
    r = run_script(STALE_SAVE % str(tmp_path))
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines() and all(
        line.startswith("refused") for line in r.stdout.splitlines()), r.stdout


REINIT_SAVE = """
import io, lumora, lumora.image as image
from lumora import Surface
class Hostile(io.BytesIO):
    def write(self, b):
        victim.__init__((1, 1), 0, 8)
        return super().write(b)
for ext in ("tga", "png", "bmp", "jpg"):
    victim = Surface((300, 200), 0, 32)
    victim.fill((10, 20, 30))
    out = Hostile()
    image.save(victim, out, "x." + ext)
    back = image.load(io.BytesIO(out.getvalue()), "x." + ext)
    print(ext, back.get_size(), back.get_at((5, 5))[:3])
"""


def test_save_survives_write_reinitialising_surface():
    r = run_script(REINIT_SAVE)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert [l.split(" (")[0] for l in lines] == ["tga", "png", "bmp", "jpg"]
    for line in lines[:3]:
        assert line.endswith("(300, 200) (10, 20, 30)"), line
    assert lines[3].startswith("jpg (300, 200)")


@pytest.mark.parametrize("size", [(0, 5), (5, 0), (0, 0)])
@pytest.mark.parametrize("ext", ["jpg", "png"])
def test_save_empty_surface_refused(size, ext, tmp_path):
    s = lumora.Surface(size, 0, 32)
    for target in (str(tmp_path / ("e." + ext)), io.BytesIO()):
        with pytest.raises(lumora.error, match=r"cannot save an empty surface \(%d x %d\)" % size):
            image.save(s, target, *([] if isinstance(target, str) else ["x." + ext]))


def test_tobytes_rgba_keeps_alpha_with_colour_key():
    s = lumora.Surface((3, 1), 0x10000, 32)
    s.set_at((0, 0), (10, 20, 30, 128))
    s.set_at((1, 0), (1, 2, 3, 255))
    s.set_at((2, 0), (40, 50, 60, 7))
    s.set_colorkey((1, 2, 3, 255))
    assert image.tobytes(s, "RGBA") == bytes([10, 20, 30, 128, 1, 2, 3, 0, 40, 50, 60, 7])
    assert image.tobytes(s, "ARGB")[4:8] == bytes([255, 1, 2, 3])


@pytest.mark.parametrize("v", [2**31, 2**32 - 1, -1, -2**31, 256, 2**40])
def test_unmap_rgb_of_8bit_surface_out_of_palette(v):
    s = lumora.Surface((2, 2), 0, 8)
    assert tuple(s.unmap_rgb(v)) == (0, 0, 0, 255)


def test_gif_with_code_beyond_table_refused():
    # Clear, literal 0, then code 7 while the next free entry is 6: the
    # decoder would follow a chain through entries that were never made.
    gif = (b"GIF89a" + struct.pack("<HHBBB", 4, 4, 0x80, 0, 0) + bytes(6) +
           b",\0\0\0\0" + struct.pack("<HHB", 4, 4, 0) + b"\x02\x02\xc4\x01\x00;")
    with pytest.raises(lumora.error, match="GIF image has corrupt compressed data"):
        image.load(io.BytesIO(gif))
