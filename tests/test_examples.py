"""The demo game plays itself headless and its saved frame shows the game."""
import os
import re
import subprocess
import sys

import pytest

pytest.importorskip("lumora.display")
pytest.importorskip("lumora.draw")
pytest.importorskip("lumora.image")
pytest.importorskip("lumora.time")
pytest.importorskip("lumora.event")
Image = pytest.importorskip("PIL.Image")

from lumora.examples import collector  # noqa: E402


def run_demo(tmp_path, *args):
    env = dict(os.environ, SDL_VIDEODRIVER="dummy")
    stage = os.environ.get("LUMORA_STAGE")
    if stage:
        env["PYTHONPATH"] = os.pathsep.join([os.path.abspath(stage),
                                             env.get("PYTHONPATH", "")])
    return subprocess.run([sys.executable, "-m", "lumora.examples.collector", *args],
                          cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=120)


def colour_count(img, colour):
    return sum(1 for px in img.getdata() if px[:3] == colour)


def test_demo_plays_and_saves_frame(tmp_path):
    shot = tmp_path / "frame.bmp"
    res = run_demo(tmp_path, "--frames", "120", "--screenshot", str(shot))
    assert res.returncode == 0, res.stderr
    m = re.search(r"frames (\d+) score (\d+)", res.stdout)
    assert m and int(m.group(1)) == 120, res.stdout
    assert int(m.group(2)) >= 1  # the scripted player did collect coins
    img = Image.open(shot).convert("RGB")
    assert img.size == (collector.WIDTH, collector.HEIGHT)
    # The player (or its life markers), coins and hazards are on screen.
    assert colour_count(img, collector.PLAYER_COLOUR) >= 3 * 100
    assert colour_count(img, collector.COIN_COLOUR) > 50
    assert colour_count(img, collector.HAZARD_COLOUR) > 50
    # The score area holds drawn text or digits, not just background.
    x, y = collector.SCORE_POS
    region = img.crop((x, y, x + 100, y + 24))
    assert any(px != collector.BACKGROUND for px in region.getdata()
               if px != (28, 34, 60))


def test_headless_default_screenshot(tmp_path):
    env_frames = run_demo(tmp_path)  # no display: plays the script itself
    assert env_frames.returncode == 0, env_frames.stderr
    assert (tmp_path / "collector.png").exists() or "saved" in env_frames.stdout


def test_seven_segment_fallback():
    """The font-less score digits paint the right segments."""
    calls = []

    class FakeDraw:
        @staticmethod
        def rect(surface, colour, box):
            calls.append(box)

    collector.draw_digits(FakeDraw, None, "18", (0, 0), (1, 1, 1), size=14)
    assert len(calls) == 2 + 7
