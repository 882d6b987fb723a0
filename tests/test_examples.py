"""Every example runs unchanged through the runner, headless: on its own Xvfb for a second, ending
with a screenshot of its window and a clean close."""

import importlib.util
import os
import re
import subprocess
import sys
from collections import deque
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import run_example
from example_input import Tap, Wait, stroke, wave
from jxframebuf import Framebuffer, load_image, testing

ROOT = Path(__file__).resolve().parent.parent
EXAMPLE_NAMES = sorted(p.stem for p in (ROOT / "examples").glob("*.py"))


RUNNER = [sys.executable, str(ROOT / "scripts" / "run_example.py")]


def runner_environment(display=None):
    """This environment without a screen, or with the X server `display` as the screen."""
    env = {
        k: v
        for k, v in os.environ.items()
        if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEO_DRIVER", "SDL_AUDIO_DRIVER")
    }
    if display is not None:
        env["DISPLAY"] = display
    return env


def run_runner(path, *options):
    """The runner as a person runs it on a machine without a screen: in a process of its own."""
    return subprocess.run(
        [*RUNNER, str(path), *options],
        env=runner_environment(),
        capture_output=True,
        text=True,
        timeout=120,
    )


def assert_not_blank(shot):
    picture = np.asarray(Image.open(shot))
    assert len(np.unique(picture.reshape(-1, picture.shape[-1]), axis=0)) > 4


@pytest.mark.x11
@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_example_runs_headless_and_shows_a_picture(name, tmp_path):
    shot = tmp_path / f"{name}.png"
    result = run_runner(ROOT / "examples" / f"{name}.py", "--seconds", "1", "--screenshot", shot)
    assert result.returncode == 0, result.stderr
    frames = re.search(rf"^{name}: (\d+) frames in [\d.]+ s, [\d.]+ fps$", result.stdout, re.M)
    assert frames is not None and int(frames[1]) > 1, result.stdout
    assert f"{name}: screenshot of the window saved to {shot}" in result.stdout
    assert_not_blank(shot)


@pytest.mark.x11
def test_paint_saves_its_picture_and_loads_it_back(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # where paint.png goes
    steps = [Wait(0.3), Tap("2"), *stroke(wave(60, 900, 300, 50, 2.0)),
             Tap("s"), Wait(0.1), Tap("c"), Wait(0.1), Tap("l"), Wait(0.2)]  # fmt: skip
    status = run_example.run(
        ROOT / "examples" / "paint.py",
        seconds=0,
        screenshot=tmp_path / "shot.png",
        headless=True,
        steps=steps,
    )
    assert status == 0
    pixels, palette = load_image("paint.png")
    assert pixels.shape == (188, 320) and (pixels == 2).sum() > 500
    # Cleared, then loaded: the stroke is back below the colour bar (the top 12 rows), at x3.
    rgb = np.stack([palette >> 16, palette >> 8, palette], axis=-1).astype(np.uint8)
    shot = np.asarray(Image.open(tmp_path / "shot.png").convert("RGB"))
    np.testing.assert_array_equal(shot[36:], rgb[pixels].repeat(3, axis=0).repeat(3, axis=1))


def example(name):
    """The example's module, loaded without running its main()."""
    spec = importlib.util.spec_from_file_location(
        f"example_{name}", ROOT / "examples" / f"{name}.py"
    )
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_the_examples_rules_do_what_they_say():
    # Life: a blinker turns, its ends die, two cells are born and the middle one ages.
    life = example("life")
    board = np.zeros((5, 5), np.uint8)
    board[2, 1:4] = life.BORN
    life.step(board)
    expected = np.zeros((5, 5), np.uint8)
    expected[1:4, 2] = life.BORN
    expected[2, 2] = life.BORN + 1
    expected[2, 1] = expected[2, 3] = life.DIED
    np.testing.assert_array_equal(board, expected)
    # Snake: the last cell before each wall is on the board, the next one is a crash.
    snake = example("snake")
    for (x, y), direction in [((snake.COLS - 1, 5), (1, 0)), ((5, snake.ROWS - 1), (0, 1)),
                              ((0, 5), (-1, 0)), ((5, 0), (0, -1))]:  # fmt: skip
        game = snake.Game(best=0)
        game.body = deque([(x - direction[0], y - direction[1])])
        game.direction, game.food = direction, (20, 20)
        game.step()
        assert not game.over and game.body[0] == (x, y)
        game.step()
        assert game.over
    # Scope: the trace shows what was sent less what is still queued, whatever the rate.
    scope = example("scope")
    rng = np.random.default_rng(3)
    blocks = [rng.uniform(-1, 1, scope.BLOCK).astype(np.float32) for _ in range(8)]
    queued = 3 * scope.BLOCK / scope.RATE
    ys, pending = scope.trace(deque(blocks), queued)
    heard, _ = scope.trace(deque(blocks[:-3]), 0.0)
    assert pending == 3 * scope.BLOCK and len(ys) == scope.WIDTH
    np.testing.assert_array_equal(ys, heard)


def test_snake_steers_by_keys_pad_and_stick_through_the_testing_kit(monkeypatch):
    snake = example("snake")
    pad = testing.Gamepad("Test Pad")
    # After the flip that ends frame n, what happens before frame n + 1. The snake starts at
    # (8, 12) heading right and steps every 7th frame: on frame 21 it turns up, on 28 right, on
    # 35 down (the stick), and frame 36 shows it.
    script = {
        14: lambda fb: testing.tap(fb, "Up"),
        22: lambda fb: pad.tap("dpright"),
        29: lambda fb: pad.axis("lefty", 1.0),
        31: lambda fb: pad.axis("lefty", 0.0),
    }
    shown = {}

    class Driven(Framebuffer):
        def __init__(self, width, height, scale=3, fps=60):
            super().__init__(width, height, scale=1, fps=0)  # as fast as it goes

        def flip(self):
            super().flip()
            if self.frames in script:
                script[self.frames](self)
            if self.frames == 36:
                shown["picture"], shown["title"] = self.buffer().copy(), self.title
                testing.close(self)

    monkeypatch.setattr(snake, "Framebuffer", Driven)
    with pad:
        snake.main()
    picture, cell = shown["picture"], snake.CELL

    def colour(x, y):  # the colour of the board cell (x, y)'s corner
        return picture[cell + y * cell, x * cell]

    assert colour(11, 12) == snake.YELLOW  # the head
    assert [colour(x, y) for x, y in [(11, 11), (10, 11)]] == [snake.GREEN] * 2  # its body
    assert colour(10, 12) == snake.BLACK and shown["title"] == "Snake: 0 (Test Pad)"
