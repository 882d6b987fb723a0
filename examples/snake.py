# Snake: steer with the arrow keys or a gamepad (its d-pad or left stick), eat the red dots, do
# not bite yourself or the wall.
#
# A game loop on the drawing kit: the board is redrawn every frame with rect and circle, the score
# is drawn with the built-in font (placed by text_size, which measures a text without drawing it)
# and also shown in the window title, and the keys are read with
# pressed(), which reports every press exactly once however short it was. The apple is a sprite
# copied with blit, its black pixels left out. Sounds play with Audio.play over whatever else
# sounds: a tune made with melody() at the start of each game, a blip synthesised with NumPy for
# eating, and for a crash a WAV file (crash.wav beside this file, 8-bit at 11,025 Hz) read with
# load_sound and played at its own rate; without a sound device the game plays silently. Space (or the pad's A or Start) starts a new game after a crash, F11 toggles
# fullscreen, Escape quits. A gamepad plugged in while it runs works at once, and the window title
# names it.
import random
import sys
from collections import deque
from pathlib import Path

import numpy as np

from jxframebuf import Audio, Framebuffer, load_sound, melody, text_size

CELL = 8
COLS, ROWS = 40, 24  # the board, in cells, under a status line of one cell
WIDTH, HEIGHT = COLS * CELL, (ROWS + 1) * CELL
FRAMES_PER_STEP = 7  # the snake moves about 8.5 cells a second at 60 fps

BLACK, WHITE, RED, GREEN, BLUE, YELLOW = 0, 1, 2, 3, 4, 5
DARK_GREEN, GREY, BROWN = 16, 17, 18
APPLE = np.array(
    [[0, 0, 0, 18, 0, 0, 0],
     [0, 2, 2, 18, 2, 2, 0],
     [2, 2, 2, 2, 1, 2, 2],
     [2, 2, 2, 2, 2, 1, 2],
     [2, 2, 2, 2, 2, 2, 2],
     [0, 2, 2, 2, 2, 2, 0],
     [0, 0, 2, 0, 2, 0, 0]],
    dtype=np.uint8,
)  # fmt: skip
DIRECTIONS = {"Left": (-1, 0), "Right": (1, 0), "Up": (0, -1), "Down": (0, 1)}
PAD = {"Left": "pad dpleft", "Right": "pad dpright", "Up": "pad dpup", "Down": "pad dpdown"}

Cell = tuple[int, int]

RATE = 48000


def blip() -> np.ndarray:
    """A short square wave rising an octave, for eating."""
    t = np.arange(RATE * 9 // 100) / RATE
    phase = 2 * np.pi * np.cumsum(660 * 2 ** (t / t[-1])) / RATE
    return (0.3 * np.sign(np.sin(phase)) * np.exp(-t * 25)).astype(np.float32)


# A rising fanfare for the start of a game: a quarter is a fifth of a second.
FANFARE = "C5/16 E5 G5 C6/8 R/16 G5/16 C6/4"
CRASH = Path(__file__).resolve().parent / "crash.wav"


def open_audio() -> Audio | None:
    try:
        return Audio(RATE, channels=1)
    except RuntimeError as error:
        print(f"snake: playing without sound: {error}", file=sys.stderr)
        return None


class Game:
    def __init__(self, best: int) -> None:
        middle = ROWS // 2
        self.body: deque[Cell] = deque([(8, middle), (7, middle), (6, middle)])
        self.direction = (1, 0)
        self.turns: deque[tuple[int, int]] = deque()  # presses not yet acted on, in order
        # The first dot lies straight ahead, so a new player scores without steering.
        self.food: Cell = (COLS // 2, middle)
        self.score = 0
        self.best = best
        self.over = False

    def steer(self, name: str) -> None:
        heading = self.turns[-1] if self.turns else self.direction
        dx, dy = DIRECTIONS[name]
        if (dx, dy) != heading and (-dx, -dy) != heading and len(self.turns) < 3:
            self.turns.append((dx, dy))

    def step(self) -> None:
        if self.turns:
            self.direction = self.turns.popleft()
        x, y = self.body[0]
        head = (x + self.direction[0], y + self.direction[1])
        grows = head == self.food
        tail = self.body[-1]
        if not (0 <= head[0] < COLS and 0 <= head[1] < ROWS) or (
            head in self.body and (grows or head != tail)
        ):
            self.over = True
            self.best = max(self.best, self.score)
            return
        self.body.appendleft(head)
        if grows:
            self.score += 1
            free = [(c, r) for c in range(COLS) for r in range(ROWS) if (c, r) not in self.body]
            self.food = random.choice(free)
        else:
            self.body.pop()

    def draw(self, fb: Framebuffer) -> None:
        fb.clear(BLACK)
        fb.rect(0, 0, WIDTH, CELL, GREY)
        fb.line(0, CELL - 1, WIDTH - 1, CELL - 1, WHITE)
        fb.text(2, 0, f"SCORE {self.score}", WHITE)
        best = f"BEST {self.best}"
        fb.text(WIDTH - 2 - text_size(best)[0], 0, best, YELLOW)
        top = CELL  # the board starts below the status line
        fb.blit(self.food[0] * CELL, top + self.food[1] * CELL, APPLE, key=BLACK)
        for i, (x, y) in enumerate(self.body):
            fb.rect(x * CELL, top + y * CELL, CELL - 1, CELL - 1, GREEN if i else YELLOW)
            if i:
                fb.rect(x * CELL + 2, top + y * CELL + 2, CELL - 5, CELL - 5, DARK_GREEN)
        if self.over:
            lines = "GAME OVER\nSPACE: PLAY AGAIN"
            width, height = text_size(lines)
            x, y = (WIDTH - width) // 2, (HEIGHT - height) // 2
            fb.rect(x - 6, y - 6, width + 12, height + 12, BLUE)
            fb.text(x, y, lines, WHITE)


def stick(fb: Framebuffer) -> str | None:
    """The direction the left stick is pushed past half way, if any."""
    x, y = fb.axis("pad leftx"), fb.axis("pad lefty")
    if max(abs(x), abs(y)) < 0.5:
        return None
    if abs(x) > abs(y):
        return "Right" if x > 0 else "Left"
    return "Down" if y > 0 else "Up"


def main() -> None:
    fb = Framebuffer(WIDTH, HEIGHT, scale=3, fps=60)
    palette = fb.palette()
    palette[DARK_GREEN] = 0xFF1E6B2E
    palette[GREY] = 0xFF303040
    palette[BROWN] = 0xFF7A4A1E
    audio = open_audio()
    eat, fanfare = blip(), melody(FANFARE, tempo=300, wave="pulse", volume=0.25, rate=RATE)
    crash, crash_rate = load_sound(CRASH)
    if audio:
        audio.play(fanfare)
    game = Game(best=0)
    frame = 0
    pushed = None  # the stick's direction in the last frame: a push steers once, like a press
    while fb.running() and not fb.pressed("Escape"):
        if fb.pressed("F11"):
            fb.fullscreen = not fb.fullscreen
        again = ("Space", "Return", "pad a", "pad start")
        if game.over:
            if any(fb.pressed(name) for name in again):
                game = Game(best=game.best)
                if audio:
                    audio.play(fanfare)
        else:
            for name in DIRECTIONS:
                if fb.pressed(name) or fb.pressed(PAD[name]):
                    game.steer(name)
            if (direction := stick(fb)) and direction != pushed:
                game.steer(direction)
            frame += 1
            if frame % FRAMES_PER_STEP == 0:
                score = game.score
                game.step()
                pads = fb.gamepads()
                fb.title = f"Snake: {game.score}" + (f" ({pads[0]})" if pads and pads[0] else "")
                if audio and game.over:
                    audio.play(crash, rate=crash_rate)
                elif audio and game.score > score:
                    audio.play(eat)
        pushed = stick(fb)
        game.draw(fb)
        fb.flip()
    fb.quit()
    if audio:
        audio.close()


if __name__ == "__main__":
    main()
