"""lumora.scrap over SDL's clipboard: the dummy driver keeps the text
in-process; a child under an X server (Xvfb) goes through X11."""
import ctypes
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

scrap = pytest.importorskip("lumora.scrap")
base = pytest.importorskip("lumora.base")

from _videostate import video  # noqa: E402,F401

TEXT = "text/plain;charset=utf-8"


def child(code, env=None, prefix=()):
    env = dict(os.environ if env is None else env, PYTHONPATH=os.pathsep.join(sys.path))
    r = subprocess.run([*prefix, sys.executable, "-c", textwrap.dedent(code)],
                       capture_output=True, text=True, env=env, timeout=120)
    assert r.returncode == 0, r.stderr
    return r.stdout


def test_not_initialised_texts():
    out = child("""
        import lumora.scrap as s, lumora.base as b, lumora.display as d
        print(s.get_init(), s.contains("text/plain;charset=utf-8"))
        for name, args in (("get", ("x",)), ("get_types", ()), ("put", ("x", b"1")),
                           ("lost", ()), ("set_mode", (0,))):
            try:
                getattr(s, name)(*args)
            except b.error as e:
                print(name, e)
        try:
            s.init()
        except b.error as e:
            print("init", e)
        d.init(); s.init(); print(s.get_init())
    """)
    lines = out.splitlines()
    assert lines[0] == "False False"
    assert lines[1:6] == [f"{n} scrap system not initialized."
                          for n in ("get", "get_types", "put", "lost", "set_mode")]
    assert lines[6:] == ["init video system not initialized", "True"]


@pytest.fixture
def clip(video):
    scrap.init()
    yield scrap


@pytest.mark.parametrize("data, placed", [
    (b"abc", b"abc"), (b"", b""), (b"a\0bc", b"a"),
    ("h\u00e9llo \u2603".encode(), "h\u00e9llo \u2603".encode()),
    # a buffer with no terminator after its bytes
    ((ctypes.c_char * 40).from_buffer_copy(b"z" * 40), b"z" * 40),
])
def test_round_trip(clip, data, placed):
    clip.put(TEXT, data)
    assert clip.get(TEXT) == placed
    assert clip.contains(TEXT) is bool(placed)


def test_foreign_types_modes_and_lists(clip):
    clip.put(TEXT, b"keep")
    with pytest.raises(base.error, match=r"^content could not be placed in clipboard\.$"):
        clip.put("image/png", b"\x89PNG")
    assert clip.get("image/png") is None and clip.contains("image/png") is False
    assert clip.get(TEXT) == b"keep"
    assert clip.get_types() == [TEXT] and clip.lost() is True
    for mode in (1, 0, -3):
        assert clip.set_mode(mode) is None
    with pytest.raises(ValueError, match="^invalid clipboard mode$"):
        clip.set_mode(2)
    with pytest.raises(TypeError):
        clip.put(TEXT, "not bytes")
    assert clip.get.__doc__ == ("get(type) -> bytes | None\n"
                                "Gets the data for the specified type from the clipboard.")


def test_init_does_not_pin_video():
    """display.quit() after scrap.init() really stops SDL's video."""
    out = child("""
        import ctypes
        import lumora.scrap as s, lumora.display as d
        d.init(); s.init(); s.init(); d.quit()
        print(ctypes.CDLL("libSDL2-2.0.so.0").SDL_WasInit(0x20))
    """)
    assert out.split() == ["0"]


X11_CODE = """
    import os
    os.environ["SDL_VIDEODRIVER"] = "x11"
    import lumora.scrap as s, lumora.display as d
    d.init(); s.init()
    s.put("text/plain;charset=utf-8", "x11 \\u00e9".encode() + b"\\0tail")
    print(s.get("text/plain;charset=utf-8").decode(), s.contains("text/plain;charset=utf-8"))
    print(s.get("image/png"))
"""


def test_x11_clipboard():
    env = dict(os.environ)
    if env.get("DISPLAY"):
        prefix = ()
    elif shutil.which("xvfb-run"):
        prefix = ("xvfb-run", "-a")
    else:
        pytest.skip("no X server and no xvfb-run")
    assert child(X11_CODE, env, prefix).splitlines() == ["x11 \u00e9 True", "None"]
