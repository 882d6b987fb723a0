"""Input for a game's own tests: keys, text, the mouse and gamepads, without a screen or a pad.

Each function here puts input into a framebuffer's window as the keyboard, the mouse or the window
manager would, and it takes effect at the framebuffer's next `running()` or `flip()`, as real
input does: in

    testing.tap(fb, "Space")
    fb.flip()

the frame that this flip() begins has `fb.pressed("Space")` and `fb.released("Space")` True.
The functions work on any video driver; SDL's dummy driver (the environment variable
SDL_VIDEO_DRIVER=dummy, set before the first Framebuffer) needs no screen at all. They may be
called from any thread. After quit() they do nothing.

    import os
    os.environ["SDL_VIDEO_DRIVER"] = "dummy"

    from jxframebuf import Framebuffer, testing

    def test_space_jumps():
        with Framebuffer(160, 120, fps=0) as fb:
            game = Game()
            testing.tap(fb, "Space")
            fb.flip()
            game.update(fb)
            assert game.player.jumping
"""

from __future__ import annotations

import operator
from types import TracebackType
from typing import Self

from . import Framebuffer

# The kit's engine in the extension (which has no stub of its own: the package's stub types it).
from ._jxframebuf import _testing as _kit  # type: ignore[import-not-found]

__all__ = [
    "Gamepad",
    "click",
    "close",
    "move",
    "press",
    "release",
    "scroll",
    "tap",
    "type_text",
]


def _window(fb: Framebuffer) -> Framebuffer:
    if not isinstance(fb, Framebuffer):
        raise TypeError(f"fb must be a Framebuffer, not {type(fb).__name__}")
    return fb


def _number(name: str, value: float) -> float:
    if isinstance(value, (int, float)) or hasattr(value, "__float__"):
        return float(value)
    raise TypeError(f"{name} must be a number, not {type(value).__name__}")


def press(fb: Framebuffer, name: str) -> None:
    """Presses the key or mouse button `name` in fb's window and leaves it down.

    `name` is a name as `Framebuffer.key` takes it: a key by what it types ("A", "Space",
    "Left Shift") is the key that types it on the current keyboard layout (a US one on the dummy
    driver), a key by place ("physical W") that place; an either-side name ("ctrl") is its left
    key; a mouse button ("mouse left") goes down where the pointer is (see move()).

    Raises:
        ValueError: `name` names nothing, or a gamepad button (a Gamepad presses those).
        TypeError: fb is not a Framebuffer, or `name` not a str."""
    _kit.key(_window(fb), name, True)


def release(fb: Framebuffer, name: str) -> None:
    """Lets go of the key or mouse button `name` (as press() names it) in fb's window.

    Raises:
        ValueError: `name` names nothing, or a gamepad button.
        TypeError: fb is not a Framebuffer, or `name` not a str."""
    _kit.key(_window(fb), name, False)


def tap(fb: Framebuffer, name: str) -> None:
    """press() and release(): a tap shorter than a frame, pressed and released in one.

    Raises:
        ValueError: `name` names nothing, or a gamepad button.
        TypeError: fb is not a Framebuffer, or `name` not a str."""
    _kit.key(_window(fb), name, True)
    _kit.key(_window(fb), name, False)


def type_text(fb: Framebuffer, text: str) -> None:
    """Types `text` into fb's window, as an input method delivers it: `typed()` gives it, and
    no key goes down (press keys for that). Control characters are dropped, as they are from
    a keyboard: an editing key is pressed, not typed ("\\b" is `tap(fb, "Backspace")`).

    Raises:
        TypeError: fb is not a Framebuffer, or `text` not a str."""
    _kit.text(_window(fb), text)


def move(fb: Framebuffer, x: int, y: int) -> None:
    """Moves the pointer over the picture pixel (x, y), to the middle of the block that shows it
    in the window as it is now (magnified, letterboxed), so that `fb.mouse()` reads (x, y). A
    pixel outside the picture puts the pointer outside it, past the window's edge too.

    Raises:
        TypeError: fb is not a Framebuffer, or x or y not an int."""
    _kit.move(_window(fb), operator.index(x), operator.index(y))


def click(fb: Framebuffer, x: int, y: int, button: str = "left") -> None:
    """Moves the pointer over the picture pixel (x, y) and clicks `button` there: "left",
    "middle", "right", "x1" or "x2".

    Raises:
        ValueError: `button` is none of these.
        TypeError: fb is not a Framebuffer, x or y not an int, or `button` not a str."""
    if button not in ("left", "middle", "right", "x1", "x2"):
        raise ValueError(
            f"unknown mouse button {button!r} ('left', 'middle', 'right', 'x1' or 'x2')"
        )
    _kit.move(_window(fb), operator.index(x), operator.index(y))
    _kit.key(fb, f"mouse {button}", True)
    _kit.key(fb, f"mouse {button}", False)


def scroll(fb: Framebuffer, x: float = 0.0, y: float = 0.0) -> None:
    """Turns the mouse wheel over fb's window by (x, y) notches, where the pointer is: x to the
    right, y away from the user, as `wheel()` reads them.

    Raises:
        TypeError: fb is not a Framebuffer, or x or y not a number."""
    _kit.scroll(_window(fb), _number("x", x), _number("y", y))


def close(fb: Framebuffer) -> None:
    """Asks to close fb's window, as its close button does: `running()` turns False.

    Raises:
        TypeError: fb is not a Framebuffer."""
    _kit.close(_window(fb))


class Gamepad:
    """A gamepad plugged in, of SDL's standard layout, with every button and axis that
    `Framebuffer.key` and `Framebuffer.axis` name ("a", "dpup", "leftx", "righttrigger", ...).

    It is plugged in at once and works as a real one: every framebuffer sees it once the program
    asks about gamepads, in the lowest free slot ("pad", "pad2", ...), named `name` in
    `gamepads()`. What it is told takes effect at the next `running()` or `flip()`; every
    transition is kept, so a press and a release between two frames is a tap, as on a keyboard.
    Unplug it when done (or use `with Gamepad() as pad:`): a gamepad plugged in keeps SDL's
    gamepad support up. Any thread.

    Raises:
        RuntimeError: SDL cannot make a virtual gamepad.
        TypeError: `name` is not a str."""

    def __init__(self, name: str = "Virtual gamepad") -> None:
        self._pad = _kit.VirtualPad(name)

    def press(self, button: str) -> None:
        """Presses `button` ("a", "start", "dpleft", ...) and leaves it down.

        Raises:
            ValueError: `button` names no gamepad button.
            RuntimeError: the gamepad was unplugged."""
        self._pad.button(button, True)

    def release(self, button: str) -> None:
        """Lets go of `button`.

        Raises:
            ValueError: `button` names no gamepad button.
            RuntimeError: the gamepad was unplugged."""
        self._pad.button(button, False)

    def tap(self, button: str) -> None:
        """press() and release(): pressed and released in the next frame.

        Raises:
            ValueError: `button` names no gamepad button.
            RuntimeError: the gamepad was unplugged."""
        self._pad.button(button, True)
        self._pad.button(button, False)

    def axis(self, name: str, value: float) -> None:
        """Moves the axis `name` ("leftx", "lefty", "rightx", "righty": -1.0 to 1.0, y positive
        down; "lefttrigger", "righttrigger": 0.0 to 1.0) to `value`, clamped to that range.
        `Framebuffer.axis` reads it back to within 1/32767.

        Raises:
            ValueError: `name` names no gamepad axis, or `value` is NaN.
            RuntimeError: the gamepad was unplugged."""
        self._pad.axis(name, value)

    def unplug(self) -> None:
        """Unplugs the gamepad: its buttons are released (once, in the next frame) and its slot is
        free. Again does nothing."""
        self._pad.unplug()

    @property
    def plugged(self) -> bool:
        """True until unplug()."""
        return bool(self._pad.plugged)

    def __enter__(self) -> Self:
        """The gamepad itself, for `with Gamepad() as pad:`."""
        return self

    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        """Unplugs it, exception or not."""
        self.unplug()
