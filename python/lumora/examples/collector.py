"""Collector: a small lumora game.

Steer the blue ship with the arrow keys or WASD, pick up the gold coins and
keep clear of the red hazards; three hits and the round starts again.
Escape quits.  A coin chimes when picked up; the chime is made in code at
start-up, and the game runs silently where no audio device opens.

    python -m lumora.examples.collector                      # play in a window
    python -m lumora.examples.collector --frames 120 --screenshot out.png

With ``--frames`` (or on a machine without a screen, where it falls back to
SDL's window-less driver) the game plays itself for that many frames (120
by default), steered by scripted key events posted to the event queue, and
saves the last frame with ``lumora.image.save`` (``collector.png`` when no
``--screenshot`` is given on a machine without a screen).
"""
import argparse
import math
import os
import random
import sys
from types import ModuleType
from typing import TYPE_CHECKING, Callable, Dict, List, Optional, Sequence, Set, Tuple

if TYPE_CHECKING:
    from lumora.font import Font
    from lumora.mixer import Sound
    from lumora import rect
    from lumora.surface import Surface

Colour = Tuple[int, int, int]

WIDTH, HEIGHT = 480, 320
BACKGROUND = (16, 20, 40)
PLAYER_COLOUR = (64, 200, 255)
COIN_COLOUR = (255, 210, 40)
HAZARD_COLOUR = (230, 50, 60)
TEXT_COLOUR = (240, 240, 240)
SCORE_POS = (10, 8)
PLAYER_SIZE = 20
PLAYER_SPEED = 4
COIN_RADIUS = 6
HAZARD_RADIUS = 9
NUM_COINS = 5
NUM_HAZARDS = 3
LIVES = 3
INVULNERABLE_FRAMES = 60


WINDOWLESS_DRIVERS = ("dummy", "offscreen")


def start_video(lumora: ModuleType) -> bool:
    """Start the display; with no screen to open a window on, fall back to
    SDL's window-less driver.  True when the game runs without a screen."""
    try:
        lumora.display.init()
    except lumora.error:
        lumora.display.quit()
        os.environ["SDL_VIDEODRIVER"] = "dummy"
        lumora.display.init()
    return lumora.display.get_driver() in WINDOWLESS_DRIVERS


class Game:
    """The game state; `step` advances one frame from the held directions."""

    def __init__(self, lumora: ModuleType, seed: int = 7) -> None:
        self.lm = lumora
        self.rng = random.Random(seed)
        self.best = 0
        self.on_coin: Optional[Callable[[], None]] = None  # called for each coin picked up
        self.reset()

    def reset(self) -> None:
        Rect = self.lm.Rect
        self.player: rect.Rect = Rect(0, 0, PLAYER_SIZE, PLAYER_SIZE)
        self.player.center = (WIDTH // 2, HEIGHT // 2)
        self.score = 0
        self.lives = LIVES
        self.invulnerable = INVULNERABLE_FRAMES
        self.game_over = 0
        self.coins = [self._free_spot(COIN_RADIUS) for _ in range(NUM_COINS)]
        self.hazards: List[List[float]] = []
        for _ in range(NUM_HAZARDS):
            x, y = self._free_spot(HAZARD_RADIUS)
            angle = self.rng.uniform(0, 2 * math.pi)
            speed = self.rng.uniform(1.5, 2.5)
            self.hazards.append([float(x), float(y), speed * math.cos(angle),
                                 speed * math.sin(angle)])

    def _free_spot(self, radius: int) -> Tuple[int, int]:
        """A random point inside the field, away from the player."""
        margin = radius + 30
        for _ in range(100):
            x = self.rng.randint(margin, WIDTH - margin)
            y = self.rng.randint(margin + 20, HEIGHT - margin)
            px, py = self.player.center
            if math.hypot(x - px, y - py) > 60:
                return x, y
        return margin, margin + 20

    def step(self, dx: int, dy: int) -> None:
        if self.game_over:
            self.game_over -= 1
            if not self.game_over:
                self.reset()
            return
        p = self.player
        p.x = min(max(p.x + dx * PLAYER_SPEED, 0), WIDTH - p.w)
        p.y = min(max(p.y + dy * PLAYER_SPEED, 0), HEIGHT - p.h)
        px, py = self.player.center
        reach = PLAYER_SIZE // 2 + COIN_RADIUS
        for i, (cx, cy) in enumerate(self.coins):
            if abs(cx - px) <= reach and abs(cy - py) <= reach:
                self.score += 1
                self.best = max(self.best, self.score)
                self.coins[i] = self._free_spot(COIN_RADIUS)
                if self.on_coin is not None:
                    self.on_coin()
        for h in self.hazards:
            h[0] += h[2]
            h[1] += h[3]
            if not HAZARD_RADIUS <= h[0] <= WIDTH - HAZARD_RADIUS:
                h[2] = -h[2]
                h[0] = min(max(h[0], HAZARD_RADIUS), WIDTH - HAZARD_RADIUS)
            if not HAZARD_RADIUS <= h[1] <= HEIGHT - HAZARD_RADIUS:
                h[3] = -h[3]
                h[1] = min(max(h[1], HAZARD_RADIUS), HEIGHT - HAZARD_RADIUS)
        if self.invulnerable:
            self.invulnerable -= 1
            return
        hit = PLAYER_SIZE // 2 + HAZARD_RADIUS - 2
        for h in self.hazards:
            if abs(h[0] - px) < hit and abs(h[1] - py) < hit:
                self.lives -= 1
                self.invulnerable = INVULNERABLE_FRAMES
                self.player.center = (WIDTH // 2, HEIGHT // 2)
                if self.lives <= 0:
                    self.game_over = 90
                break


# Sample encodings by the mixer's sample size: array type code, the value
# of silence and the peak amplitude.
_SAMPLE_CODES: Dict[int, Tuple[str, int, float]] = {
    8: ("B", 128, 127), -8: ("b", 0, 127), 16: ("H", 32768, 32767),
    -16: ("h", 0, 32767), 32: ("f", 0, 1.0), -32: ("i", 0, 2 ** 31 - 1),
}


def coin_samples(frequency: int, size: int, channels: int, seconds: float = 0.12) -> bytes:
    """A two-note chime (B5 then E6) with a falling envelope, as raw samples
    in the mixer's format."""
    import array
    code, zero, peak = _SAMPLE_CODES[size]
    out: "array.array[float]" = array.array(code)
    n = int(frequency * seconds)
    for i in range(n):
        t = i / frequency
        pitch = 987.77 if i < n // 3 else 1318.51
        env = (1.0 - i / n) ** 2
        v = 0.3 * env * math.sin(2 * math.pi * pitch * t)
        sample = zero + (v * peak if code == "f" else int(v * peak))
        out.extend([sample] * channels)
    return out.tobytes()


class Sounds:
    """The coin chime, or silence when the mixer does not open."""

    def __init__(self, lumora: ModuleType) -> None:
        self.coin: Optional[Sound] = None
        self.played = 0
        try:
            import lumora.mixer as mixer
            mixer.init(22050, -16, 2, 512)
            opened = mixer.get_init()
            if opened is not None:
                self.coin = mixer.Sound(buffer=coin_samples(*opened))
        except Exception:  # noqa: BLE001 - no audio device: play silently
            self.coin = None

    def coin_collected(self) -> None:
        if self.coin is not None and self.coin.play() is not None:
            self.played += 1


# Seven-segment digits, for when no font module is available.
_SEGMENTS = {
    "0": "abcdef", "1": "bc", "2": "abged", "3": "abgcd", "4": "fgbc",
    "5": "afgcd", "6": "afgedc", "7": "abc", "8": "abcdefg", "9": "abcdfg",
}


def draw_digits(draw: ModuleType, surface: "Surface", text: str, pos: Tuple[int, int],
                colour: Colour, size: int = 14) -> None:
    x, y = pos
    t = max(2, size // 6)
    for ch in text:
        segs = _SEGMENTS.get(ch, "")
        w, h = size // 2 + t, size
        boxes = {
            "a": (x, y, w, t), "g": (x, y + h // 2 - t // 2, w, t), "d": (x, y + h - t, w, t),
            "f": (x, y, t, h // 2), "b": (x + w - t, y, t, h // 2),
            "e": (x, y + h // 2, t, h // 2), "c": (x + w - t, y + h // 2, t, h // 2),
        }
        for s in segs:
            draw.rect(surface, colour, boxes[s])
        x += w + t + 2


class Renderer:
    """Draws a frame of the game with lumora.draw (and lumora.font when it
    imports)."""

    def __init__(self, lumora: ModuleType) -> None:
        import lumora.draw
        self.draw = lumora.draw
        self.lm = lumora
        self.font: Optional[Font] = None
        try:
            import lumora.font
            lumora.font.init()
            self.font = lumora.font.Font(None, 24)
        except Exception:  # noqa: BLE001 - digits drawn by hand instead
            self.font = None

    def text(self, screen: "Surface", text: str, pos: Tuple[int, int],
             colour: Colour = TEXT_COLOUR) -> None:
        if self.font is not None:
            screen.blit(self.font.render(text, True, colour), pos)
        else:
            draw_digits(self.draw, screen, "".join(c for c in text if c.isdigit()), pos, colour)

    def frame(self, screen: "Surface", game: Game, frame_no: int) -> None:
        draw = self.draw
        screen.fill(BACKGROUND)
        for x in range(0, WIDTH, 40):
            draw.line(screen, (28, 34, 60), (x, 0), (x, HEIGHT))
        for cx, cy in game.coins:
            draw.circle(screen, COIN_COLOUR, (cx, cy), COIN_RADIUS)
            draw.circle(screen, (255, 255, 200), (cx - 2, cy - 2), 2)
        for hx, hy, _, _ in game.hazards:
            draw.circle(screen, HAZARD_COLOUR, (int(hx), int(hy)), HAZARD_RADIUS)
            draw.circle(screen, (120, 10, 20), (int(hx), int(hy)), HAZARD_RADIUS, 2)
        blink = game.invulnerable and (frame_no // 4) % 2
        if not blink and not game.game_over:
            draw.rect(screen, PLAYER_COLOUR, game.player)
            draw.rect(screen, (255, 255, 255), game.player, 2)
        self.text(screen, "Score %d" % game.score, SCORE_POS)
        for i in range(game.lives):
            draw.rect(screen, PLAYER_COLOUR, (WIDTH - 20 - i * 16, 10, 10, 10))
        if game.game_over:
            self.text(screen, "Game over - best %d" % game.best, (WIDTH // 2 - 100, HEIGHT // 2))


KEYS_FOR: Optional[Dict[str, int]] = None  # filled by main(): direction -> key code


class Autopilot:
    """Scripted input: heads for the nearest coin, shies away from hazards,
    and posts the key presses and releases a player would make."""

    def __init__(self, lumora: ModuleType, game: Game) -> None:
        self.lm = lumora
        self.game = game
        self.down: Set[int] = set()

    def wanted(self) -> Set[int]:
        g = self.game
        px, py = g.player.center
        tx, ty = min(g.coins, key=lambda c: math.hypot(c[0] - px, c[1] - py))
        vx: float = tx - px
        vy: float = ty - py
        for hx, hy, _, _ in g.hazards:
            d = math.hypot(hx - px, hy - py)
            if d < 50:
                vx += (px - hx) * 60 / max(d, 1)
                vy += (py - hy) * 60 / max(d, 1)
        keys: Set[int] = set()
        lm = self.lm
        if vx > PLAYER_SPEED / 2:
            keys.add(lm.K_RIGHT)
        elif vx < -PLAYER_SPEED / 2:
            keys.add(lm.K_LEFT)
        if vy > PLAYER_SPEED / 2:
            keys.add(lm.K_DOWN)
        elif vy < -PLAYER_SPEED / 2:
            keys.add(lm.K_UP)
        return keys

    def post(self) -> None:
        lm = self.lm
        want = self.wanted()
        for k in sorted(self.down - want):
            lm.event.post(lm.event.Event(lm.KEYUP, key=k))
        for k in sorted(want - self.down):
            lm.event.post(lm.event.Event(lm.KEYDOWN, key=k))
        self.down = want


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Collect the coins, dodge the hazards.")
    parser.add_argument("--frames", type=int, default=None,
                        help="play this many frames of scripted input, then stop")
    parser.add_argument("--screenshot", default=None,
                        help="save the last frame to this file")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args(argv)

    import lumora
    import lumora.display
    import lumora.event
    import lumora.time

    lumora.init()
    # Nothing to show it on: play the script and keep the last frame.
    no_screen = start_video(lumora)
    scripted = args.frames is not None or no_screen
    frames = args.frames if args.frames is not None else (120 if scripted else None)
    shot = args.screenshot or ("collector.png" if no_screen and args.frames is None else None)

    lumora.display.set_caption("lumora collector")
    screen = lumora.display.set_mode((WIDTH, HEIGHT))
    clock = lumora.time.Clock()
    game = Game(lumora, args.seed)
    sounds = Sounds(lumora)
    game.on_coin = sounds.coin_collected
    renderer = Renderer(lumora)
    pilot = Autopilot(lumora, game) if scripted else None

    moves = {
        lumora.K_LEFT: (-1, 0), lumora.K_a: (-1, 0), lumora.K_RIGHT: (1, 0),
        lumora.K_d: (1, 0), lumora.K_UP: (0, -1), lumora.K_w: (0, -1),
        lumora.K_DOWN: (0, 1), lumora.K_s: (0, 1),
    }
    held: Set[int] = set()
    frame_no = 0
    running = True
    while running and (frames is None or frame_no < frames):
        if pilot is not None:
            pilot.post()
        for ev in lumora.event.get():
            if ev.type == lumora.QUIT:
                running = False
            elif ev.type == lumora.KEYDOWN:
                if ev.key == lumora.K_ESCAPE:
                    running = False
                elif ev.key in moves:
                    held.add(ev.key)
            elif ev.type == lumora.KEYUP:
                held.discard(ev.key)
        dx = max(-1, min(1, sum(moves[k][0] for k in held)))
        dy = max(-1, min(1, sum(moves[k][1] for k in held)))
        game.step(dx, dy)
        renderer.frame(screen, game, frame_no)
        lumora.display.flip()
        clock.tick(60)
        frame_no += 1

    status = 0
    if shot:
        try:
            import lumora.image
            lumora.image.save(screen, shot)
            print("saved", shot)
        except Exception as exc:  # noqa: BLE001 - reported, not raised
            print("could not save %s: %s" % (shot, exc), file=sys.stderr)
            # Asked for explicitly, a missing frame is a failure.
            status = 1 if args.screenshot else 0
    print("frames %d score %d best %d lives %d sounds %d driver %s"
          % (frame_no, game.score, game.best, game.lives, sounds.played,
             lumora.display.get_driver()))
    lumora.quit()
    return status


if __name__ == "__main__":
    sys.exit(main())
