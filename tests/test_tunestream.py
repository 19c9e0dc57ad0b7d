"""lumora.tunestream: the music stream, its queue, position and end event."""
import ctypes
import io
import math
import time

import pytest

import _audio

base = pytest.importorskip("lumora.base")
event = pytest.importorskip("lumora.event")
display = pytest.importorskip("lumora.display")
mixer = pytest.importorskip("lumora.mixer")
music = pytest.importorskip("lumora.tunestream")

END = 0x8062 + 3
BYTES_PER_SEC = _audio.RATE * 2 * 2


video, mix = _audio.mixer_fixtures(display, event, mixer, close=music.set_endevent)


def piece(seconds):
    return io.BytesIO(_audio.wav_bytes(_audio.square(int(_audio.RATE * seconds))))


def wait(cond, limit=3.0):
    end = time.monotonic() + limit
    while not cond() and time.monotonic() < end:
        time.sleep(0.01)
    return cond()


@pytest.mark.parametrize("call", [
    music.play, music.get_busy, lambda: music.fadeout(1), music.stop,
    music.pause, music.unpause, music.rewind, lambda: music.set_volume(1),
    music.get_volume, lambda: music.set_pos(1.0), music.get_pos,
    lambda: music.load(piece(0.1)), music.unload,
    lambda: music.queue(piece(0.1)),
])
def test_closed_mixer_raises(call):
    with pytest.raises(base.error, match="^mixer not initialized$"):
        call()


def test_set_pos_checks_its_argument_first():
    with pytest.raises(TypeError, match="set_pos expects 1 float argument"):
        music.set_pos("x")


def test_endevent_without_mixer():
    music.set_endevent(END)
    assert music.get_endevent() == END
    music.set_endevent()
    assert music.get_endevent() == 0


def test_capsules_point_at_the_pieces(mix):
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    cur = get(music._MUSIC_POINTER, b"lumora.music_mixer._MUSIC_POINTER")
    que = get(music._QUEUE_POINTER, b"lumora.music_mixer._QUEUE_POINTER")
    read = lambda p: ctypes.c_void_p.from_address(p).value
    assert read(cur) is None and read(que) is None
    music.load(piece(0.1))
    music.queue(piece(0.1))
    assert read(cur) and read(que)
    music.unload()
    assert read(cur) is None and read(que) is None


@pytest.mark.parametrize("hint,kind", [
    (b"song.Mp3", 6), (b"MP3", 6), (b"a.b.ogg", 5), (b"wav", 2), (b"x.XM", 3),
    (b"x.midi", 4), (b"x.flac", 8), (b"x.mp3.txt", 0), (b"", 0), (None, 0),
])
def test_type_from_hint(hint, kind):
    f = ctypes.CDLL(music.__file__)._get_type_from_hint
    f.argtypes = [ctypes.c_char_p]
    assert f(hint) == kind


def test_load_errors(mix, tmp_path):
    with pytest.raises(base.error, match="music not loaded"):
        music.play()
    with pytest.raises(base.error, match="No file '.*missing.ogg' found"):
        music.load("missing.ogg")
    with pytest.raises(base.error):
        music.load(io.BytesIO(b"RIFF nonsense"), "wav")
    with pytest.raises(base.error):
        music.load(12)


@pytest.mark.parametrize("given,got", [(0.5, 0.5), (1.0, 1.0), (7.0, 1.0),
                                        (-1.0, 0.0), (math.nan, 0.0)])
def test_volume(mix, given, got):
    music.set_volume(given)
    assert music.get_volume() == got


def test_play_pause_position(mix, tmp_path):
    path = tmp_path / "p.wav"
    path.write_bytes(piece(2.0).getvalue())
    music.load(str(path))
    assert music.get_pos() == -1
    music.play()
    assert music.get_busy()
    time.sleep(0.3)
    pos = music.get_pos()
    assert 100 <= pos <= 1500
    music.pause()
    assert not music.get_busy()
    time.sleep(0.05)
    frozen = music.get_pos()
    time.sleep(0.15)
    assert music.get_pos() == frozen
    music.unpause()
    assert music.get_busy()
    music.rewind()
    music.set_pos(0.5)
    music.stop()
    assert not music.get_busy()
    assert wait(lambda: music.get_pos() == -1)
    # the piece stays loaded after stop
    music.play(start=0.5)
    assert music.get_busy()


def test_queue_promotes_once_per_piece(mix):
    music.set_endevent(END)
    music.load(piece(0.15), "wav")
    music.queue(piece(0.1), "wav", loops=1)
    music.play()
    got = []
    assert wait(lambda: got.extend(event.get(END)) or len(got) >= 1)
    assert music.get_busy()  # the queued piece started at once
    assert wait(lambda: got.extend(event.get(END)) or len(got) >= 2)
    time.sleep(0.4)
    got += event.get(END)
    assert [e.type for e in got] == [END, END]
    assert not music.get_busy() and music.get_pos() == -1


def test_fadeout_drops_queue_and_ends(mix):
    music.set_endevent(END)
    music.load(piece(2.0))
    music.queue(piece(2.0))
    music.play()
    music.fadeout(100)
    assert wait(lambda: not music.get_busy())
    time.sleep(0.1)
    assert len(event.get(END)) == 1


class Unseekable(io.BytesIO):
    broken = False

    def seek(self, *args):
        if self.broken:
            raise OSError("seek refused")
        return super().seek(*args)


def test_failed_play_leaves_no_start_time(mix):
    src = Unseekable(piece(0.2).getvalue())
    music.load(src, "wav")
    src.broken = True
    with pytest.raises(base.error):
        music.play(start=0.1)
    assert music.get_pos() == -1 and not music.get_busy()


def test_mixer_quit_frees_music(mix):
    music.load(piece(1.0))
    music.queue(piece(1.0))
    music.play()
    mixer.quit()
    mixer.init(_audio.RATE, -16, 2, 256)
    assert music.get_pos() == -1 and not music.get_busy()
    with pytest.raises(base.error, match="music not loaded"):
        music.play()


def test_pause_resume_while_streaming_from_python_object():
    # The audio thread reads the piece through the object's Python methods,
    # under the interpreter lock; steering it with that lock held deadlocks.
    res = _audio.run_py(f"""
        import io, sys, threading, time
        sys.path.insert(0, {_audio.__file__.rsplit('/', 1)[0]!r})
        import _audio
        from lumora import mixer
        music = mixer.music
        class Slow(io.BytesIO):
            def read(self, n=-1):
                time.sleep(0.0005)
                return super().read(n)
        mixer.init(_audio.RATE, -16, 2, 64)
        stop = False
        def spin():
            while not stop:
                sum(range(100))
        t = threading.Thread(target=spin); t.start()
        music.load(Slow(_audio.wav_bytes(_audio.square(_audio.RATE * 3))), "wav")
        music.play(loops=-1)
        sys.setswitchinterval(0.05)  # the main thread keeps the lock longer
        end = time.monotonic() + 1.5
        while time.monotonic() < end:
            music.pause(); music.unpause()
        music.get_busy(); music.set_volume(0.5)
        music.queue(Slow(_audio.wav_bytes(_audio.square(800))), "wav")
        music.queue(Slow(_audio.wav_bytes(_audio.square(800))), "wav")
        music.stop(); music.unload()
        stop = True; t.join()
        mixer.quit()
        print("done")
    """, timeout=30)
    assert res.returncode == 0, res.stderr
    assert res.stdout.strip() == "done"


def test_queue_swaps_race_the_end_hook():
    # Tiny pieces end while the main thread queues, loads and unloads.
    res = _audio.run_py(f"""
        import io, sys, time
        sys.path.insert(0, {_audio.__file__.rsplit('/', 1)[0]!r})
        import _audio
        from lumora import mixer
        music = mixer.music
        mixer.init(_audio.RATE, -16, 2, 64)
        tiny = _audio.wav_bytes(_audio.square(8))
        for i in range(300):
            music.load(io.BytesIO(tiny), "wav")
            music.play()
            music.queue(io.BytesIO(tiny), "wav")
            time.sleep(0.001 * (i % 4))
            music.queue(io.BytesIO(tiny), "wav")
            if i % 3 == 0:
                music.unload()
            elif i % 3 == 1:
                music.stop()
        mixer.quit()
        print("done")
    """, timeout=60)
    assert res.returncode == 0, res.stderr
    assert res.stdout.strip() == "done"


def test_disk_music_output(tmp_path):
    out = _audio.record(tmp_path, """
        music = mixer.music
        music.load(io.BytesIO(_audio.wav_bytes(_audio.square(1600))), "wav")
        music.play()
        time.sleep(0.5)
        assert music.get_pos() == -1
    """)
    assert _audio.trim(out) == _audio.square(1600)
