"""lumora.mixer: device set-up, Sound, Channel; heard through SDL's disk driver."""
import array
import io
import math
import time

import pytest

import _audio

base = pytest.importorskip("lumora.base")
event = pytest.importorskip("lumora.event")
display = pytest.importorskip("lumora.display")
mixer = pytest.importorskip("lumora.mixer")

END = 0x8062 + 5


video, mix = _audio.mixer_fixtures(display, event, mixer)


def tone(frames=800, **kw):
    return mixer.Sound(buffer=_audio.square(frames, **kw).tobytes())


def wait_idle(ch, limit=3.0):
    end = time.monotonic() + limit
    while ch.get_busy() and time.monotonic() < end:
        time.sleep(0.01)


@pytest.mark.parametrize("call", [
    lambda: mixer.Sound(buffer=b"\0\0\0\0"), lambda: mixer.Channel(0),
    mixer.get_num_channels, lambda: mixer.set_num_channels(4), mixer.stop,
    mixer.pause, mixer.unpause, lambda: mixer.fadeout(1), mixer.get_busy,
    mixer.find_channel, lambda: mixer.set_reserved(1),
])
def test_closed_mixer_raises(call):
    assert mixer.get_init() is None
    with pytest.raises(base.error, match="^mixer not initialized$"):
        call()


def test_sound_outliving_the_mixer(mix):
    s = tone(10)
    ch = mixer.Channel(0)
    mixer.quit()
    assert mixer.get_init() is None
    with pytest.raises(base.error, match="mixer not initialized"):
        s.play()
    with pytest.raises(base.error, match="mixer not initialized"):
        ch.get_busy()
    assert len(s.get_raw()) == 40


@pytest.mark.parametrize("args,expect", [
    ((_audio.RATE, -16, 2, 256), (_audio.RATE, -16, 2)),
    ((22050, 8, 1, 300), (22050, 8, 1)),
    ((11025, 32, 2, 1024), (11025, 32, 2)),
])
def test_init_reports_opened_format(args, expect):
    mixer.init(*args)
    try:
        assert mixer.get_init() == expect
        mixer.init(44100)  # already open: no change
        assert mixer.get_init() == expect
    finally:
        mixer.quit()
    assert mixer.get_init() is None


def test_pre_init_sets_defaults():
    mixer.pre_init(16000, 8, 1)
    try:
        mixer.init()
        assert mixer.get_init() == (16000, 8, 1)
    finally:
        mixer.quit()
        mixer.pre_init()
    mixer.init()
    assert mixer.get_init() == (44100, -16, 2)
    mixer.quit()


@pytest.mark.parametrize("kw,msg", [
    ({"size": 12}, "unsupported size 12"), ({"channels": 3}, "'channels'"),
    ({"frequency": 0}, "frequency"), ({"buffer": 0}, "buffer size"),
    ({"buffer": 65536}, "buffer size"),
])
def test_init_rejects_bad_arguments(kw, msg):
    with pytest.raises(ValueError, match=msg):
        mixer.init(**kw)
    assert mixer.get_init() is None


def test_sound_from_path_file_object_and_buffer(mix, tmp_path):
    samples = _audio.square(400)
    data = _audio.wav_bytes(samples)
    path = tmp_path / "t.wav"
    path.write_bytes(data)
    for src in (str(path), path, io.BytesIO(data)):
        s = mixer.Sound(src)
        assert s.get_raw() == samples.tobytes()
        assert s.get_length() == pytest.approx(400 / _audio.RATE)
    s = mixer.Sound(buffer=samples)
    assert s.get_raw() == samples.tobytes()
    with pytest.raises(FileNotFoundError):
        mixer.Sound(str(tmp_path / "missing.wav"))
    with pytest.raises(base.error):
        mixer.Sound(io.BytesIO(b"not a wave file at all"))


@pytest.mark.parametrize("kw,exc", [
    ({}, TypeError), ({"file": "a", "buffer": b"\0" * 4}, TypeError),
    ({"buffer": b"\0" * 6}, ValueError), ({"buffer": b""}, ValueError),
    ({"buffer": 5}, TypeError),
])
def test_sound_bad_arguments(mix, kw, exc):
    with pytest.raises(exc):
        mixer.Sound(**kw)


def test_sound_buffer_protocol(mix):
    samples = _audio.square(100)
    s = mixer.Sound(buffer=samples.tobytes())
    m = memoryview(s)
    assert (m.format, m.itemsize, m.shape, m.strides) == ("h", 2, (100, 2), (4, 2))
    assert m[0, 0] == 8000 and m[8, 1] == -8000
    m[0, 1] = 123
    assert array.array("h", s.get_raw())[1] == 123
    np = pytest.importorskip("numpy")
    a = np.asarray(s)
    assert a.shape == (100, 2) and a.dtype == np.int16
    made = mixer.Sound(buffer=(a // 2).copy())
    assert np.array_equal(np.asarray(made), a // 2)
    with pytest.raises(BufferError):
        s.__init__(buffer=b"\0" * 4)
    del a
    m.release()
    s.__init__(buffer=b"\1\0\2\0")
    assert s.get_raw() == b"\1\0\2\0"


def test_mono_buffer_is_one_dimensional():
    mixer.init(_audio.RATE, 8, 1, 256)
    try:
        s = mixer.Sound(buffer=bytes([128, 255, 0]))
        m = memoryview(s)
        assert (m.format, m.shape) == ("B", (3,))
        assert m.tolist() == [128, 255, 0]
    finally:
        mixer.quit()


@pytest.mark.parametrize("given,got", [(0.5, 0.5), (2.0, 1.0), (-3.0, 0.0),
                                        (math.nan, 0.0), (math.inf, 1.0)])
def test_volumes_clamped(mix, given, got):
    s = tone(10)
    s.set_volume(given)
    assert s.get_volume() == pytest.approx(got, abs=0.01)
    ch = mixer.Channel(1)
    ch.set_volume(given)
    assert ch.get_volume() == pytest.approx(got, abs=0.01)
    ch.set_volume(given, given)  # panning: channel volume stays full
    assert ch.get_volume() == 1.0


def test_play_state_and_free_channels(mix):
    mixer.set_num_channels(2)
    assert mixer.get_num_channels() == 2
    s = tone(8000)
    a, b = s.play(loops=-1), s.play(loops=-1)
    assert {a.id, b.id} == {0, 1} and a == mixer.Channel(a.id)
    assert s.play() is None
    assert mixer.find_channel() is None
    assert mixer.find_channel(force=True) is not None
    assert s.get_num_channels() == 2 and mixer.get_busy()
    assert a.get_sound() is s
    a.pause()
    assert a.get_busy()  # paused still holds the channel
    a.unpause()
    s.stop()
    assert not mixer.get_busy() and s.get_num_channels() == 0
    assert a.get_sound() is None
    with pytest.raises(IndexError, match="invalid channel index"):
        mixer.Channel(2)
    mixer.set_num_channels(1)
    with pytest.raises(IndexError):
        b.get_busy() if b.id == 1 else a.get_busy()
    with pytest.raises(ValueError):
        mixer.set_num_channels(10 ** 6)


def test_reserved_channels_are_not_handed_out(mix):
    assert mixer.set_reserved(2) == 2
    ch = tone(100).play()
    assert ch.id >= 2
    assert mixer.find_channel().id >= 2


def test_queue_and_end_events(mix):
    first, second = tone(400), tone(200)
    ch = mixer.Channel(0)
    ch.set_endevent(END)
    assert ch.get_endevent() == END
    ch.play(first)
    ch.queue(second)
    assert ch.get_queue() is second
    del first, second
    deadline = time.monotonic() + 3
    got = []
    while len(got) < 2 and time.monotonic() < deadline:
        got += event.get(END)
        time.sleep(0.01)
    wait_idle(ch)
    time.sleep(0.05)
    got += event.get(END)
    assert len(got) == 2
    assert ch.get_queue() is None and ch.get_sound() is None
    # queue() on an idle channel plays at once
    s = tone(100)
    ch.queue(s)
    assert ch.get_busy() and ch.get_sound() is s


def test_playing_sound_kept_alive(mix):
    ch = tone(800).play()
    assert isinstance(ch.get_sound(), mixer.Sound)
    wait_idle(ch)
    assert ch.get_sound() is None


def test_music_attribute_is_tunestream():
    import lumora.tunestream
    assert mixer.music is lumora.tunestream


# ---- what comes out of the speakers ----------------------------------------

def test_disk_tone_volume_and_panning(tmp_path):
    out = _audio.record(tmp_path, """
        s = mixer.Sound(buffer=_audio.square(400).tobytes())
        ch = s.play()
        time.sleep(0.15)
        s.set_volume(0.5)
        s.play()
        time.sleep(0.15)
        s.set_volume(1.0)
        ch = mixer.Channel(3)
        ch.set_volume(1.0, 0.0)
        ch.play(s)
        time.sleep(0.15)
    """)
    full = _audio.square(400)
    half = _audio.square(400, amp=4000)
    left = array.array("h", [v if i % 2 == 0 else 0 for i, v in enumerate(full)])
    runs, cur, quiet = [], array.array("h"), 0
    for i in range(0, len(out), 2):
        frame = out[i:i + 2]
        if frame[0] or frame[1]:
            cur.extend(frame)
            quiet = 0
        else:
            quiet += 1
            if cur and quiet > 8:
                runs.append(cur)
                cur = array.array("h")
            elif cur:
                cur.extend(frame)
    if cur:
        runs.append(cur)
    runs = [_audio.trim(r) for r in runs]
    assert runs == [full, half, left]


def test_disk_finished_sound_leaves_silence(tmp_path):
    out = _audio.record(tmp_path, """
        s = mixer.Sound(buffer=_audio.square(160).tobytes())
        s.play(loops=2)
        time.sleep(0.3)
    """)
    heard = _audio.trim(out)
    assert heard == _audio.square(480)
    tail = out[len(out) - 800:]
    assert not any(tail)
