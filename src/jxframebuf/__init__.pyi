"""JXFramebuffer - 8-bit framebuffer with palette"""

import collections.abc
import os
from types import TracebackType
from typing import Self, SupportsIndex, TypeAlias

import numpy
import numpy.typing

# Integer parameters take an int, a bool or an object with __index__ (NumPy integers); floats,
# Decimal and Fraction are refused at run time (TypeError), and SupportsIndex says so to a type
# checker too.
_Int: TypeAlias = SupportsIndex

# A file to read or write: a str or a path object.
_Path: TypeAlias = str | os.PathLike[str]

__all__ = [
    "Audio",
    "Canvas",
    "Framebuffer",
    "Voice",
    "__version__",
    "load_image",
    "save_image",
    "text_size",
]

__version__: str

class Framebuffer:
    def __init__(self, width: _Int, height: _Int, scale: _Int = 3, fps: _Int = 60) -> None:
        """Opens a window of (width * scale) x (height * scale) showing a width x height picture,
        all palette index 0. `fps` paces flip(); 0 or below leaves it unpaced."""
    def running(self) -> bool:
        """Handles pending window events; False once the window was closed, for good."""
    def flip(self) -> None:
        """Shows the picture through the palette, then sleeps out the rest of the frame period.
        Does nothing once running() is False."""
    def clear(self, color: _Int = 0) -> None:
        """Sets every pixel to palette index `color` (0 to 255)."""
    def pset(self, x: _Int, y: _Int, c: _Int, /) -> None:
        """Sets pixel (x, y) (less the camera) to palette index `c` (0 to 255); outside the
        picture or the clip, nothing."""
    def pget(self, x: _Int, y: _Int, /) -> int:
        """The palette index of pixel (x, y) less the camera; 0 outside the picture (the clip
        does not matter)."""
    def buffer(self) -> numpy.typing.NDArray[numpy.uint8]:
        """A writeable uint8 array of shape (height, width) sharing the pixels: [y, x] is pixel
        (x, y). It keeps the framebuffer alive."""
    def palette(self) -> numpy.typing.NDArray[numpy.uint32]:
        """A writeable uint32 array of the 256 palette colours, 0xAARRGGBB, sharing the palette.
        It keeps the framebuffer alive."""
    def quit(self) -> None:
        """Closes the window; pixels, palette and views keep working. Again does nothing."""
    @property
    def width(self) -> int:
        """The picture's width in pixels."""
    @property
    def height(self) -> int:
        """The picture's height in pixels."""
    def key(self, name: str) -> bool:
        """True while the key or button `name` is held ("A", "Space", "physical W", "mouse left",
        "pad a", ...), as of the latest running() or flip()."""
    def pressed(self, name: str, repeat: bool = False) -> bool:
        """True if the key or button `name` went down during this frame; each press shows in
        exactly one frame. With repeat=True the keyboard's auto-repeat counts as presses too."""
    def typed(self) -> str:
        """The text typed into the window during this frame, as the keyboard layout makes it;
        control keys (Backspace, Return, arrows) are keys, not text. The first call starts it."""
    def wheel(self) -> tuple[float, float]:
        """The mouse wheel's scrolling during this frame, (x, y) in notches: x to the right,
        y away from the user; (0.0, 0.0) when none."""
    def mouse(self) -> tuple[int, int]:
        """(x, y): the picture pixel under the pointer, outside the picture when the pointer is;
        (-1, -1) before the pointer was ever over the window. Not moved by the camera: the world
        point under the pointer is mouse() + camera."""
    def axis(self, name: str) -> float:
        """A gamepad axis ("pad leftx", "pad2 righttrigger", ...): sticks -1.0 to 1.0, triggers
        0.0 to 1.0; 0.0 when that gamepad is not connected."""
    def gamepads(self) -> list[str]:
        """The connected gamepads' names: index 0 is "pad", 1 "pad2", ...; "" for a number
        whose gamepad was unplugged while a later one stays."""
    @property
    def cursor(self) -> bool:
        """Whether the mouse cursor shows over the window; True at first."""
    @cursor.setter
    def cursor(self, value: bool, /) -> None: ...
    @property
    def title(self) -> str:
        """The window's title; "JXFramebuffer" at first."""
    @title.setter
    def title(self, value: str, /) -> None: ...
    @property
    def fullscreen(self) -> bool:
        """True shows the picture on the whole screen, at the largest whole magnification that
        fits, centred on black; False gives back the window."""
    @fullscreen.setter
    def fullscreen(self, value: bool, /) -> None: ...
    @property
    def resizable(self) -> bool:
        """Whether the user may resize the window; False at first. The picture stays at the
        largest whole magnification that fits, centred on black."""
    @resizable.setter
    def resizable(self, value: bool, /) -> None: ...
    def __enter__(self) -> Self:
        """The framebuffer itself, for `with Framebuffer(...) as fb:`."""
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
        /,
    ) -> None:
        """Calls quit(), exception or not."""
    def line(self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, c: _Int) -> None:
        """Sets the pixels of the line from (x0, y0) to (x1, y1), both ends included, to palette
        index `c`; clipped to the picture. Coordinates are less the camera, and the clip and
        pattern apply, for this and every drawing member."""
    def rect(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None:
        """Sets the w x h rectangle whose top-left pixel is (x, y) to `c`, or with fill=False its
        one-pixel outline; clipped to the picture."""
    def circle(self, x: _Int, y: _Int, r: _Int, c: _Int, fill: bool = True) -> None:
        """Sets the pixels within r + 1/2 of (x, y) to `c`, or with fill=False their outline;
        clipped to the picture."""
    def blit(self, x: _Int, y: _Int, image: collections.abc.Buffer, key: _Int = -1) -> None:
        """Copies `image`, a 2-D uint8 array, element [row, col] to pixel (x + col, y + row),
        leaving out elements equal to `key` (0 to 255; -1 copies all)."""
    def text(self, x: _Int, y: _Int, s: str, c: _Int) -> int:
        """Draws `s` in the built-in 8x8 font with its top-left at (x, y) in colour `c`; "\\n"
        starts a new line. Returns the width of the widest line in pixels."""
    @property
    def camera(self) -> tuple[int, int]:
        """(x, y), (0, 0) at first: every drawing member (pset, pget, line, rect, circle, blit,
        text and the shapes and sprites) draws at its coordinates less the camera, so that a
        scrolling picture is drawn in world coordinates: world = picture pixel + camera, and so
        world = mouse() + camera. clear(), the views and mouse() ignore it. Computed in 64 bits.

        Raises:
            TypeError: not a pair of 32-bit integers."""
    @camera.setter
    def camera(self, value: tuple[_Int, _Int], /) -> None: ...
    @property
    def clip(self) -> tuple[int, int, int, int] | None:
        """(x, y, w, h) in picture pixels, or None (at first) for the whole picture: the drawing
        members change no pixel outside it; clear() and pget ignore it. Reads back as set; the
        part of it outside the picture draws nothing.

        Raises:
            TypeError: not 4 32-bit integers or None.
            ValueError: w or h below 0."""
    @clip.setter
    def clip(self, value: tuple[_Int, _Int, _Int, _Int] | None, /) -> None: ...
    @property
    def pattern(self) -> int | None:
        """A 4x4 fill pattern (0 to 65535), or None (at first) for none: bit
        15 - (y % 4) * 4 - (x % 4) set leaves picture pixel (x, y) as it is. It applies to the
        shapes (line, rect, circle, triangle, polygon, ellipse, outlines too) and flood, not to
        pset, clear, blit, tiles, sprites or text. Camera, clip and pattern are this object's own
        plain state, not guarded against a drawing call on another thread.

        Raises:
            TypeError: not an integer 0 to 65535 or None."""
    @pattern.setter
    def pattern(self, value: _Int | None, /) -> None: ...
    def save(self, path: _Path, scale: _Int = 1) -> None:
        """Writes the picture and the palette as they are now to an indexed PNG file, every
        pixel a scale x scale block. Needs Pillow."""
    def record(self, path: _Path | None) -> None:
        """Records every frame flip() shows, with its palette and time, to an animated .gif or
        .png file; record(None) stops and finishes the file. Needs Pillow."""

class Canvas:
    def __init__(self, array: collections.abc.Buffer) -> None:
        """The drawing kit on `array`, a writable 2-D uint8 array of any strides (a framebuffer's
        buffer(), a slice of another array, ...), which the canvas keeps alive."""
    @property
    def array(self) -> numpy.typing.NDArray[numpy.uint8]:
        """The array drawn on: the NumPy array given, or a NumPy array over the buffer given."""
    def clear(self, color: _Int = 0) -> None:
        """Sets every pixel to palette index `color` (0 to 255)."""
    def pset(self, x: _Int, y: _Int, c: _Int, /) -> None:
        """Sets pixel (x, y), element [y, x], to `c` (0 to 255); outside the array, nothing."""
    def pget(self, x: _Int, y: _Int, /) -> int:
        """The value of pixel (x, y), element [y, x]; 0 outside the array."""
    def line(self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, c: _Int) -> None:
        """As Framebuffer.line, on the array."""
    def rect(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None:
        """As Framebuffer.rect, on the array."""
    def circle(self, x: _Int, y: _Int, r: _Int, c: _Int, fill: bool = True) -> None:
        """As Framebuffer.circle, on the array."""
    def blit(self, x: _Int, y: _Int, image: collections.abc.Buffer, key: _Int = -1) -> None:
        """As Framebuffer.blit, on the array; `image` may share its memory."""
    def text(self, x: _Int, y: _Int, s: str, c: _Int) -> int:
        """As Framebuffer.text, on the array; returns the width of the widest line."""
    @property
    def camera(self) -> tuple[int, int]:
        """As Framebuffer.camera, this canvas's own (a canvas over a framebuffer's buffer() does
        not share the framebuffer's)."""
    @camera.setter
    def camera(self, value: tuple[_Int, _Int], /) -> None: ...
    @property
    def clip(self) -> tuple[int, int, int, int] | None:
        """As Framebuffer.clip, in array pixels, this canvas's own."""
    @clip.setter
    def clip(self, value: tuple[_Int, _Int, _Int, _Int] | None, /) -> None: ...
    @property
    def pattern(self) -> int | None:
        """As Framebuffer.pattern, in array pixels, this canvas's own."""
    @pattern.setter
    def pattern(self, value: _Int | None, /) -> None: ...

def text_size(s: str) -> tuple[int, int]:
    """The width and height in pixels of what text() draws for `s`: 8 per character of the
    widest line, 8 per line ("\\n" starts one)."""

def save_image(
    path: _Path, pixels: numpy.typing.ArrayLike, palette: numpy.typing.ArrayLike
) -> None:
    """Writes a 2-D uint8 array of palette indices and up to 256 colours 0xAARRGGBB (the rest
    opaque black) to an indexed PNG file, every entry exact, alpha included. Needs Pillow."""

def load_image(
    path: _Path,
) -> tuple[numpy.typing.NDArray[numpy.uint8], numpy.typing.NDArray[numpy.uint32]]:
    """Reads an indexed PNG or GIF: its (height, width) uint8 indices and its 256 colours
    0xAARRGGBB, exact (unused entries opaque black). Needs Pillow."""

class Voice:
    """A sound effect started by `Audio.play`."""

    @property
    def playing(self) -> bool:
        """True until the sound has played out (never, for a loop) or was stopped."""
    def stop(self) -> None:
        """Silences the sound at once; calling it again does nothing."""

class Audio:
    """Sound on the default output device: a gapless stream of samples, with effects mixed over
    it. Independent of any `Framebuffer`; every member may be called from any thread."""

    def __init__(self, rate: _Int = 48000, channels: _Int = 2) -> None:
        """Opens the default output device for `rate` frames a second (8,000 to 192,000) in 1 or
        2 channels. RuntimeError when there is no sound driver or device."""
    def queue(self, samples: collections.abc.Buffer) -> None:
        """Appends float32/float64 (-1.0 to 1.0) or int16 samples, shaped (n, channels) or (n,)
        for mono, to the stream, which plays gaplessly in order. Copied at the call."""
    @property
    def queued(self) -> float:
        """Seconds of queued sound not yet played."""
    def clear(self) -> None:
        """Drops what is queued and not yet played."""
    def play(
        self, samples: collections.abc.Buffer, loop: bool = False, volume: float = 1.0
    ) -> Voice:
        """Starts a sound effect (samples as for `queue`), mixed over the stream and the other
        voices from now on, once or over and over, scaled by `volume`."""
    @property
    def volume(self) -> float:
        """The gain of everything played, 0.0 or more; 1.0 at first."""
    @volume.setter
    def volume(self, value: float, /) -> None: ...
    @property
    def paused(self) -> bool:
        """True holds everything (the queue and the voices) where it is; False plays on."""
    @paused.setter
    def paused(self, value: bool, /) -> None: ...
    @property
    def rate(self) -> int:
        """Frames a second, as opened."""
    @property
    def channels(self) -> int:
        """1 or 2, as opened."""
    def close(self) -> None:
        """Stops all sound and gives the device back. Every other member raises RuntimeError
        afterwards; calling it again does nothing."""
    def __enter__(self) -> Self:
        """The Audio itself, for `with Audio() as audio:`."""
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
        /,
    ) -> None:
        """Calls close(), exception or not."""
