"""Scripted input for the examples, played by run_example.py while an example's window runs.

A script is a list of steps, played in order from the moment the window appears, through the X
server's XTEST extension (see xsession.py), after the window is given the keyboard focus. Keys
are X keysym names ("a", "1", "space", "Return", "Escape", "Left", "Shift_L", ...); positions
are in the window's own pixels, (0, 0) at its top-left corner; mouse buttons are 1 (left),
2 (middle) and 3 (right). Keys and buttons still down when a script ends are released.

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

# Keyed by the example's file name without .py. Examples without an entry run without input.
SCRIPTS: dict[str, list[Step]] = {}
