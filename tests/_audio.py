"""Generated test sounds, and a child process that records what it plays.

Sounds are 16-bit square waves written with the wave module.  Under SDL's
disk driver the mixed output lands in SDL_DISKAUDIOFILE; `record` runs a
snippet in a fresh interpreter with that driver and returns the samples.
"""
import array
import io
import os
import textwrap
import wave

from _child import run_py

RATE = 8000


def square(frames, amp=8000, period=16, channels=2):
    """Interleaved samples: +amp for period/2 frames, then -amp."""
    out = array.array("h")
    for i in range(frames):
        v = amp if (i // (period // 2)) % 2 == 0 else -amp
        out.extend([v] * channels)
    return out


def wav_bytes(samples, channels=2, rate=RATE):
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())
    return buf.getvalue()


def record(tmp_path, code):
    """Run `code` (mixer opened at RATE Hz, stereo, 16 bits) under the disk
    driver; return the recorded samples as an array of int16."""
    out = tmp_path / "out.raw"
    prelude = f"""
        import io, sys, time
        sys.path.insert(0, {os.path.dirname(__file__)!r})
        import _audio
        from lumora import mixer
        mixer.init({RATE}, -16, 2, 256)
    """
    res = run_py(textwrap.dedent(prelude) + textwrap.dedent(code) +
                 "\nmixer.quit()\n",
                 {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": str(out)})
    assert res.returncode == 0, res.stderr
    data = array.array("h")
    data.frombytes(out.read_bytes())
    return data


def mixer_fixtures(display, event, mixer, close=None):
    """The fixtures of a test module that plays through `mixer`: `video`
    (module-wide, automatic) keeps the video subsystem up, since end events
    go to the queue that lives with it; `mix` opens the mixer at RATE Hz,
    stereo, 16 bits, on an empty queue, and on the way out calls `close`
    (when given) before closing the mixer."""
    import pytest

    @pytest.fixture(scope="module", autouse=True)
    def video():
        display.init()
        yield
        display.quit()

    @pytest.fixture
    def mix():
        mixer.init(RATE, -16, 2, 256)
        event.clear()
        yield
        if close is not None:
            close()
        mixer.quit()
    return video, mix


def trim(samples):
    """The samples from the first to the last non-zero one (whole frames)."""
    nz = [i for i, v in enumerate(samples) if v]
    if not nz:
        return array.array("h")
    start = nz[0] - nz[0] % 2
    end = nz[-1] + 1 + (nz[-1] + 1) % 2
    return samples[start:end]
