"""lumora._sdl2.sdl2: subsystem start-up, its flags and its error type."""
import ctypes

import pytest

sdl2 = pytest.importorskip("lumora._sdl2.sdl2")

_sdl = ctypes.CDLL("libSDL2-2.0.so.0")
_sdl.SDL_SetError.argtypes = [ctypes.c_char_p]


def set_sdl_error(text):
    _sdl.SDL_SetError(text.replace("%", "%%").encode())


@pytest.mark.parametrize("name,value", [
    ("INIT_TIMER", 1), ("INIT_AUDIO", 16), ("INIT_VIDEO", 32),
    ("INIT_JOYSTICK", 512), ("INIT_HAPTIC", 4096),
    ("INIT_GAMECONTROLLER", 8192), ("INIT_EVENTS", 16384),
    ("INIT_NOPARACHUTE", 1048576), ("INIT_EVERYTHING", 62001)])
def test_constants(name, value):
    assert getattr(sdl2, name) == value
    assert type(getattr(sdl2, name)) is int


def test_init_subsystem_succeeds_repeatedly():
    assert sdl2.init_subsystem(sdl2.INIT_TIMER) is None
    assert sdl2.init_subsystem(sdl2.INIT_TIMER) is None
    assert sdl2.init_subsystem(flags=sdl2.INIT_EVENTS) is None
    assert _sdl.SDL_WasInit(sdl2.INIT_TIMER | sdl2.INIT_EVENTS) == \
        sdl2.INIT_TIMER | sdl2.INIT_EVENTS


@pytest.mark.parametrize("args,exc,msg", [
    ((), TypeError,
     "init_subsystem() takes exactly 1 positional argument (0 given)"),
    ((1, 2), TypeError,
     "init_subsystem() takes exactly 1 positional argument (2 given)"),
    ((-1,), OverflowError, "can't convert negative value to Uint32"),
    ((-2**80,), OverflowError, "can't convert negative value to Uint32"),
    ((2**32,), OverflowError, "value too large to convert to Uint32"),
    ((1.0,), TypeError, "an integer is required"),
    (("1",), TypeError, "an integer is required"),
    ((None,), TypeError, "an integer is required"),
])
def test_init_subsystem_argument_errors(args, exc, msg):
    with pytest.raises(exc) as info:
        sdl2.init_subsystem(*args)
    assert str(info.value) == msg


def test_init_subsystem_failure_raises_sdl_text(monkeypatch):
    monkeypatch.setenv("SDL_AUDIODRIVER", "lumora-no-such-driver")
    with pytest.raises(sdl2.error) as info:
        sdl2.init_subsystem(sdl2.INIT_AUDIO)
    assert "lumora-no-such-driver" in str(info.value)
    _sdl.SDL_QuitSubSystem(sdl2.INIT_AUDIO)


def test_error_takes_sdl_text_when_no_message():
    set_sdl_error("it went 100% wrong")
    assert str(sdl2.error()) == "it went 100% wrong"
    assert str(sdl2.error(None)) == "it went 100% wrong"
    assert str(sdl2.error("x")) == "x"
    assert sdl2.error(message="m").args == ("m",)
    set_sdl_error("")
    assert str(sdl2.error()) == ""


def test_error_type():
    assert issubclass(sdl2.error, RuntimeError)
    with pytest.raises(RuntimeError):
        raise sdl2.error("boom")

    class Sub(sdl2.error):
        pass

    assert str(Sub("s")) == "s"


@pytest.mark.parametrize("args,kwargs,msg", [
    (("a", "b"), {}, "__init__() takes at most 2 positional arguments (3 given)"),
    ((), {"other": 1}, "__init__() got an unexpected keyword argument 'other'"),
    (("a",), {"message": "b"},
     "__init__() got multiple values for argument 'message'"),
])
def test_error_constructor_errors(args, kwargs, msg):
    with pytest.raises(TypeError) as info:
        sdl2.error(*args, **kwargs)
    assert str(info.value) == msg


def test_init_subsystem_docstring():
    doc = sdl2.init_subsystem.__doc__
    assert doc.startswith(" Use this function to initialize specific subsystems.\n\n")
    assert "* INIT_NOPARACHUTE compatibility; this flag is ignored\n    " in doc
    assert doc.endswith("ignored\n    ")
