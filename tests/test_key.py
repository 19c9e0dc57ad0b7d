"""lumora.key: key names, key state wrapper, repeat and text input."""
import warnings

import pytest

lumora = pytest.importorskip("lumora")
key = pytest.importorskip("lumora.key")
display = pytest.importorskip("lumora.display")

from _videostate import novideo, video  # noqa: E402,F401

S = 0x40000000


@pytest.mark.parametrize("code, name", [
    (0x61, "a"), (S | 0x58, "enter"), (0x22, '"'), (0x40, "@"), (0x5c, "\\"),
    (S | 0x10e, "AC Back"), (S | 0xb5, "CurrencySubUnit"), (0, ""), (12345, ""),
    (S | 0x4c, ""),  # no row between "page up" and "end"
])
def test_compat_names(novideo, code, name):
    assert key.name(code) == name  # no video needed


@pytest.mark.parametrize("text, code", [
    ("LEFT CTRL", S | 0xe0), ("a", 0x61), ("A", 0x61), ("Enter", S | 0x58),
    ("[5]", S | 0x5d), ("caps LOCK", S | 0x39), ("F20", lumora.K_F20),
])
def test_key_code(video, text, code):
    assert key.key_code(text) == code
    assert key.key_code(name=text) == code


@pytest.mark.parametrize("text", ["", "no such key at all"])
def test_key_code_unknown(video, text):
    with pytest.raises(ValueError, match="^unknown key name$"):
        key.key_code(text)


def test_key_code_warns_without_video(novideo):
    with pytest.warns(Warning, match=r"^lumora.init\(\) has not been called"):
        assert key.key_code("space") == 0x20
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(Warning):
            key.key_code("space")


def test_names_round_trip(video):
    """Every name the table gives leads back to its own code."""
    codes = [v for k, v in vars(lumora).items() if k.startswith("K_")]
    named = 0
    for code in set(codes):
        n = key.name(code)
        if n:
            named += 1
            assert key.key_code(n) == code, n
    assert named > 120


def test_sdl_names(video):
    assert key.name(lumora.K_a, use_compat=False) == "A"
    assert key.name(lumora.K_RETURN, False) == "Return"


@pytest.mark.parametrize("call", [
    lambda: key.get_pressed(), lambda: key.get_mods(), lambda: key.set_mods(0),
    lambda: key.get_focused(), lambda: key.set_repeat(), lambda: key.get_repeat(),
    lambda: key.name(0x61, use_compat=False),
])
def test_needs_video(novideo, call):
    with pytest.raises(lumora.error, match="^video system not initialized$"):
        call()


def test_get_pressed_shape(video):
    state = key.get_pressed()
    assert isinstance(state, key.ScancodeWrapper) and isinstance(state, tuple)
    assert len(state) >= 256 and not any(state)
    assert repr(state).startswith("lumora.key.ScancodeWrapper(False, False, ")


def test_wrapper_indexes_by_key_code(video):
    n = 512
    w = key.ScancodeWrapper(i == lumora.KSCAN_A for i in range(n))
    assert w[lumora.K_a] is True           # key code -> its scancode entry
    assert w[lumora.KSCAN_A] is False      # 4 is no key code: entry 0
    assert tuple.__getitem__(w, lumora.KSCAN_A) is True
    assert w[2 ** 40] is False             # unmappable codes read entry 0
    assert w[2 ** 70] is False and w[-2 ** 70] is False
    with pytest.raises(TypeError):
        w[1:3]
    short = key.ScancodeWrapper((False,) * 5)
    with pytest.raises(IndexError):
        short[lumora.K_b]                  # scancode 5 is past the end


def test_repeat(video):
    key.set_repeat(500)
    assert key.get_repeat() == (500, 500)
    key.set_repeat(100, 30)
    assert key.get_repeat() == (100, 30)
    key.set_repeat()
    assert key.get_repeat() == (0, 0)
    with pytest.raises(ValueError):
        key.set_repeat(-1, 5)
    assert key.get_repeat() == (0, 0)


def test_mods(video):
    key.set_mods(lumora.KMOD_LSHIFT | lumora.KMOD_CAPS)
    assert key.get_mods() == lumora.KMOD_LSHIFT | lumora.KMOD_CAPS
    assert key.get_mods() & lumora.KMOD_SHIFT
    key.set_mods(0)
    assert key.get_mods() == 0
    assert key.get_focused() in (True, False)


def test_text_input(video):
    key.start_text_input()
    assert key.set_text_input_rect(None) is None
    key.set_text_input_rect(lumora.Rect(10, 10, 100, 20))
    key.set_text_input_rect((1, 2, 3, 4))
    with pytest.raises(TypeError, match="^Invalid rect argument$"):
        key.set_text_input_rect("nope")
    key.stop_text_input()


def test_text_input_rect_on_scaled_display(video):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        display.set_mode((100, 50), lumora.SCALED)
    key.set_text_input_rect((2 ** 31 - 1, -2 ** 31, 2 ** 31 - 1, 5))


def test_constants():
    assert lumora.K_a == ord("a") and lumora.K_SPACE == 0x20
    assert lumora.K_KP0 == lumora.K_KP_0 and lumora.K_LMETA == lumora.K_LGUI
    assert lumora.KMOD_SHIFT == lumora.KMOD_LSHIFT | lumora.KMOD_RSHIFT
    assert lumora.KMOD_META == lumora.KMOD_GUI
    assert lumora.KSCAN_A == 4 and lumora.K_UP == S | 0x52
