"""JXFramebuffer - 8-bit framebuffer with palette"""

import collections.abc
from types import TracebackType
from typing import Self, SupportsIndex, TypeAlias

import numpy
import numpy.typing

# Integer parameters. The binding's conversion takes an int, an object with __index__, or one with
# __int__ alone; pybind11 therefore writes SupportsInt | SupportsIndex. But float has __int__ and
# is refused at run time (TypeError), so a type checker is told SupportsIndex, which float lacks.
_Int: TypeAlias = SupportsIndex

__all__ = ["Audio", "Framebuffer", "Voice", "__version__"]

__version__: str

class Framebuffer:
    def __init__(self, width: _Int, height: _Int, scale: _Int = 3, fps: _Int = 60) -> None: ...
    def running(self) -> bool: ...
    def flip(self) -> None: ...
    def clear(self, color: _Int = 0) -> None: ...
    def pset(self, arg0: _Int, arg1: _Int, arg2: _Int, /) -> None: ...
    def pget(self, arg0: _Int, arg1: _Int, /) -> int: ...
    def buffer(self) -> numpy.typing.NDArray[numpy.uint8]: ...
    def palette(self) -> numpy.typing.NDArray[numpy.uint32]: ...
    def quit(self) -> None: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    def key(self, name: str) -> bool: ...
    def pressed(self, name: str) -> bool: ...
    def mouse(self) -> tuple[int, int]: ...
    @property
    def title(self) -> str: ...
    @title.setter
    def title(self, arg0: str, /) -> None: ...
    @property
    def fullscreen(self) -> bool: ...
    @fullscreen.setter
    def fullscreen(self, arg0: bool, /) -> None: ...
    def __enter__(self) -> Self: ...
    def __exit__(
        self,
        arg0: type[BaseException] | None,
        arg1: BaseException | None,
        arg2: TracebackType | None,
        /,
    ) -> None: ...
    def line(self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, c: _Int) -> None: ...
    def rect(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None: ...
    def circle(self, x: _Int, y: _Int, r: _Int, c: _Int, fill: bool = True) -> None: ...
    def blit(self, x: _Int, y: _Int, image: collections.abc.Buffer, key: _Int = -1) -> None: ...
    def text(self, x: _Int, y: _Int, s: str, c: _Int) -> int: ...

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
    def __enter__(self) -> Self: ...
    def __exit__(
        self,
        arg0: type[BaseException] | None,
        arg1: BaseException | None,
        arg2: TracebackType | None,
        /,
    ) -> None: ...
