"""The demo game plays itself headless and its saved frame shows the game."""
import importlib
import os
import re
import subprocess
import sys

import pytest

for _mod in ("lumora.display", "lumora.draw", "lumora.time", "lumora.event"):
    pytest.importorskip(_mod)

from lumora.examples import collector  # noqa: E402


def have_image_module():
    try:
        importlib.import_module("lumora.image")
    except ImportError:
        return False
    return True


needs_image = pytest.mark.skipif(not have_image_module(),
                                 reason="lumora.image is not built")


def run(tmp_path, module, *args, display=False, audio="dummy"):
    env = dict(os.environ)
    env["SDL_AUDIODRIVER"] = audio
    env.pop("SDL_VIDEODRIVER", None)
    if not display:
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
    stage = os.environ.get("LUMORA_STAGE")
    if stage:
        env["PYTHONPATH"] = os.pathsep.join([os.path.abspath(stage),
                                             env.get("PYTHONPATH", "")])
    return subprocess.run([sys.executable, "-m", module, *args], cwd=tmp_path, env=env,
                           capture_output=True, text=True, timeout=120)


def rgb_pixels(img):
    data = iter(img.tobytes())
    return list(zip(data, data, data))


def summary(res):
    m = re.search(r"frames (\d+) score (\d+)", res.stdout)
    assert m, res.stdout + res.stderr
    return int(m.group(1)), int(m.group(2))


@pytest.mark.parametrize("module", ["lumora.examples.collector", "lumora"])
def test_plays_scripted_frames_without_a_screen(tmp_path, module):
    """No screen and no driver asked for: the game falls back to the
    window-less driver and plays its script, and `python -m lumora` (the
    README's first command) is the same game."""
    res = run(tmp_path, module, "--frames", "60")
    assert res.returncode == 0, res.stderr
    frames, score = summary(res)
    assert frames == 60
    assert score >= 1  # the scripted player does collect coins


@needs_image
def test_screenshot_shows_the_game(tmp_path):
    Image = pytest.importorskip("PIL.Image")
    shot = tmp_path / "out.png"
    res = run(tmp_path, "lumora.examples.collector", "--frames", "120",
              "--screenshot", str(shot))
    assert res.returncode == 0, res.stderr
    frames, score = summary(res)
    assert frames == 120 and score >= 1
    img = Image.open(shot).convert("RGB")
    assert img.size == (collector.WIDTH, collector.HEIGHT)
    counts = {}
    for px in rgb_pixels(img):
        counts[px] = counts.get(px, 0) + 1
    # The player (or its three life markers), the coins and the hazards.
    assert counts.get(collector.PLAYER_COLOUR, 0) >= 3 * 100
    assert counts.get(collector.COIN_COLOUR, 0) > 50
    assert counts.get(collector.HAZARD_COLOUR, 0) > 50
    # Something is written where the score goes.
    x, y = collector.SCORE_POS
    region = rgb_pixels(img.crop((x, y, x + 100, y + 24)))
    assert any(px not in (collector.BACKGROUND, (28, 34, 60)) for px in region)


@needs_image
def test_headless_run_keeps_its_last_frame(tmp_path):
    res = run(tmp_path, "lumora.examples.collector")
    assert res.returncode == 0, res.stderr
    assert summary(res)[0] == 120
    assert (tmp_path / "collector.png").stat().st_size > 0


@pytest.mark.parametrize("audio,chimes", [("dummy", True), ("no-such-driver", False)])
def test_coins_chime_or_stay_silent(tmp_path, audio, chimes):
    """Each coin plays the chime; without an audio device the game runs
    the same, silently."""
    pytest.importorskip("lumora.mixer")
    res = run(tmp_path, "lumora.examples.collector", "--frames", "60", audio=audio)
    assert res.returncode == 0, res.stderr
    score = summary(res)[1]
    played = int(re.search(r"sounds (\d+)", res.stdout).group(1))
    assert score >= 1
    assert played == (score if chimes else 0)


def test_coin_chime_samples():
    import array
    raw = array.array("h", collector.coin_samples(1000, -16, 2, seconds=0.1))
    assert len(raw) == 200 and raw[0::2] == raw[1::2]
    assert 0 < max(raw) <= 0.3 * 32767 and raw[0] == 0
    raw8 = collector.coin_samples(1000, 8, 1, seconds=0.1)
    assert len(raw8) == 100 and raw8[0] == 128


def test_unsaveable_screenshot_fails(tmp_path):
    res = run(tmp_path, "lumora.examples.collector", "--frames", "2", "--screenshot",
              str(tmp_path / "no such dir" / "x.png"))
    assert res.returncode == 1
    assert "could not save" in res.stderr


def test_seven_segment_fallback():
    """The font-less score digits paint the right segments."""
    calls = []

    class FakeDraw:
        @staticmethod
        def rect(surface, colour, box):
            calls.append(box)

    collector.draw_digits(FakeDraw, None, "18", (0, 0), (1, 1, 1), size=14)
    assert len(calls) == 2 + 7
