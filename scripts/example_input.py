"""Scripted input for the examples, played by run_example.py while an example's window runs.

A script is a list of steps, played in order from the moment the window appears, through the X
server's XTEST extension (see xsession.py), after the window is given the keyboard focus. Keys
are X keysym names ("a", "1", "space", "Return", "Escape", "Left", "Shift_L", ...); positions
are in the window's own pixels, (0, 0) at its top-left corner; mouse buttons are 1 (left),
2 (middle), 3 (right), 4 to 7 (the wheel, a notch a click: up, down, left, right), 8 and 9 (back
and forward). Keys and buttons still down when a script ends are released.

The screenshot is taken `--seconds` after the window appeared, or when the script has ended if
that is later. A paint program's script could read:

    "paint": [
        Wait(0.3),
        Tap("2"),                                  # choose colour 2
        Drag((40, 40), (400, 300), seconds=0.5),   # a stroke with the left button
        Click(200, 100, button=3),                 # a right click
    ],

and a game's: [Wait(0.5), Hold("Right", 0.8), Tap("space"), Hold("Up", 0.3)].
"""

from __future__ import annotations

import math
from dataclasses import dataclass


@dataclass(frozen=True)
class Wait:
    """Does nothing for `seconds`."""

    seconds: float


@dataclass(frozen=True)
class Tap:
    """Presses and releases a key, `hold` seconds apart (0: at once, both between two frames)."""

    key: str
    hold: float = 0.0


@dataclass(frozen=True)
class Hold:
    """Holds a key down for `seconds` (the server repeats it, as a keyboard would)."""

    key: str
    seconds: float


@dataclass(frozen=True)
class KeyDown:
    """Presses a key and leaves it down: a modifier held over the next steps, for instance."""

    key: str


@dataclass(frozen=True)
class KeyUp:
    key: str


@dataclass(frozen=True)
class Move:
    """Moves the pointer to (x, y), at once."""

    x: int
    y: int


@dataclass(frozen=True)
class Click:
    """Moves the pointer to (x, y), then presses and releases a button there."""

    x: int
    y: int
    button: int = 1


@dataclass(frozen=True)
class Drag:
    """Presses a button at `start`, moves to `end` over `seconds` in 60 steps a second, releases."""

    start: tuple[int, int]
    end: tuple[int, int]
    button: int = 1
    seconds: float = 0.25


@dataclass(frozen=True)
class ButtonDown:
    """Presses a button where the pointer is and leaves it down."""

    button: int = 1


@dataclass(frozen=True)
class ButtonUp:
    button: int = 1


type Step = Wait | Tap | Hold | KeyDown | KeyUp | Move | Click | Drag | ButtonDown | ButtonUp


def stroke(points: list[tuple[int, int]], button: int = 1) -> list[Step]:
    """A stroke through `points` with a button held, one point a frame (at 60 fps)."""
    steps: list[Step] = [Move(*points[0]), ButtonDown(button)]
    for x, y in points[1:]:
        steps += [Wait(1 / 60), Move(x, y)]
    return [*steps, Wait(1 / 60), ButtonUp(button)]


def wave(x0: int, x1: int, y: int, height: int, waves: float) -> list[tuple[int, int]]:
    n = 40
    return [
        (x0 + (x1 - x0) * i // n, y + round(height * math.sin(2 * math.pi * waves * i / n)))
        for i in range(n + 1)
    ]


def loop(cx: int, cy: int, r: int, turns: float = 1.0) -> list[tuple[int, int]]:
    n = round(48 * turns)
    return [
        (cx + round(r * math.cos(2 * math.pi * turns * i / n)),
         cy + round(r * math.sin(2 * math.pi * turns * i / n)))
        for i in range(n + 1)
    ]  # fmt: skip


def letters(text: str) -> list[Step]:
    """Typing `text` (letters; capitals with Shift), a key every 50 ms, as a person types."""
    steps: list[Step] = []
    for ch in text:
        key: list[Step] = [KeyDown("Shift_L"), Tap(ch.lower()), KeyUp("Shift_L")]
        steps += [*(key if ch.isupper() else [Tap(ch)]), Wait(0.05)]
    return steps


# Keyed by the example's file name without .py. Examples without an entry run without input.
SCRIPTS: dict[str, list[Step]] = {
    # paint.py's window is 960 x 600 (its 320 x 200 picture at x3), its colour bar the top 36.
    "paint": [
        Wait(0.3),
        Tap("2"),
        *stroke(wave(60, 900, 130, 50, 2.0)),
        Tap("5"),
        *stroke(loop(230, 380, 110)),
        Tap("0"),
        *stroke(wave(60, 900, 470, 70, 1.5)),
        *stroke(loop(700, 330, 120, turns=1.0)),
        Tap("6"),
        Click(480, 400, button=4),  # the wheel: a bigger brush, two sizes up
        Click(480, 400, button=4),
        Drag((420, 250), (560, 560), seconds=0.3),
        Click(480, 400, button=5),
        Click(480, 400, button=5),
        Click(480, 400, button=5),
        Drag((380, 560), (600, 250), seconds=0.3),
    ],
    # prompt.py: a name typed with Shift, mistyped and mended, answered, and a second one begun.
    "prompt": [
        Wait(0.4),
        *letters("Adxx"),
        Tap("BackSpace"),
        Wait(0.05),
        Tap("BackSpace"),
        Wait(0.05),
        *letters("a"),
        Tap("Return"),
        Wait(0.3),
        *letters("Grace"),
    ],
    # snake.py starts heading right with a dot straight ahead, and moves 8.5 cells a second.
    "snake": [
        Wait(1.7),
        Tap("Up"),
        Wait(0.6),
        Tap("Right"),
        Wait(0.5),
        Tap("Down"),
        Wait(0.3),
    ],
}
