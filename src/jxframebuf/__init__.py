"""JXFramebuffer - 8-bit framebuffer with palette"""

# Nothing here imports more than the extension: `typing` and `types` would add to every program's
# start-up, and the annotations (the stub has the real types) are never evaluated.
from __future__ import annotations

import os as _os
import sys as _sys

from ._jxframebuf import (
    FONT_4X6,
    FONT_8X8,
    Audio,
    Canvas,
    Font,
    Framebuffer,
    Voice,
    __version__,
    key_names,
    text_size,
)

# Pictures and recordings (_images.py) are written in Python over NumPy and Pillow, which take
# longer to import than the rest of the package together: the members below import them on their
# first call, so that a program that only draws and flips starts without them.
_IMAGES = __name__ + "._images"


def save_image(path: object, pixels: object, palette: object) -> None:
    """Writes a 2-D uint8 array of palette indices and up to 256 colours 0xAARRGGBB (the rest
    opaque black) to an indexed PNG file, every entry exact, alpha included. Needs Pillow."""
    from ._images import save_image as save

    save(path, pixels, palette)


def load_image(path: object) -> object:
    """Reads an indexed PNG or GIF: its (height, width) uint8 indices and its 256 colours
    0xAARRGGBB, exact (unused entries opaque black). Needs Pillow."""
    from ._images import load_image as load

    return load(path)


def _save(self: Framebuffer, path: object, scale: object = 1) -> None:
    """Writes the picture and the palette as they are now to an indexed PNG file, every pixel a
    scale x scale block. Needs Pillow."""
    from ._images import save

    save(self, path, scale)


def _record(self: Framebuffer, path: object) -> None:
    """Records every frame flip() shows, with its palette and time, to an animated .gif or .png
    file; record(None) stops and finishes the file. Needs Pillow."""
    from ._images import record

    record(self, path)


_close = Framebuffer.quit


def _quit(self: Framebuffer) -> None:
    """Closes the window and finishes a recording; pixels, palette and views keep working."""
    try:
        _close(self)
    finally:
        images = _sys.modules.get(_IMAGES)  # no recording was ever made without it
        if images is not None:
            images.stop(self)


def _exit(
    self: Framebuffer,
    exc_type: type[BaseException] | None,
    exc_value: BaseException | None,
    traceback: object,
    /,
) -> None:
    """Calls quit(), exception or not."""
    try:
        _quit(self)
    except Exception as error:
        if exc_value is None:
            raise
        # The exception that ends the block goes on; what quit() found (a recording that could
        # not be written) is told with it, never in its place.
        exc_value.add_note(f"and then quit() raised {type(error).__name__}: {error}")
        if exc_value.__context__ is None:
            exc_value.__context__ = error


Framebuffer.save = _save  # type: ignore[method-assign]
Framebuffer.record = _record  # type: ignore[method-assign]
Framebuffer.quit = _quit  # type: ignore[method-assign]
Framebuffer.__exit__ = _exit  # type: ignore[method-assign]


# Sound files and the synthesiser (_sound.py) are imported on their first use too.


def load_sound(path: object) -> object:
    """Reads a whole sound file (WAV; Ogg Vorbis, FLAC and MP3 with soundfile): (samples, rate),
    the samples float32 shaped (n, channels)."""
    from ._sound import load_sound as load

    return load(path)


def tone(pitch: object, seconds: object, *args: object, **kwargs: object) -> object:
    """A synthesised tone, float32 shaped (n, 1)."""
    from ._sound import tone as make

    return make(pitch, seconds, *args, **kwargs)


def melody(notes: object, *args: object, **kwargs: object) -> object:
    """A tune in a small notation of notes, rests and lengths, float32 shaped (n, 1)."""
    from ._sound import melody as make

    return make(notes, *args, **kwargs)


_play_samples = Audio.play


def _play(self: Audio, samples: object, loop: object = False, volume: object = 1.0, *,
          rate: object = None) -> Voice:  # fmt: skip
    """Starts a sound effect, or a file streamed as it plays, mixed over the stream."""
    # A path is streamed as it plays (_sound.py); samples go to the extension as they are.
    if isinstance(samples, str | _os.PathLike):
        from ._sound import stream

        return stream(self, samples, loop, volume, rate)
    return _play_samples(self, samples, loop, volume, rate=rate)


Audio.play = _play  # type: ignore[method-assign]
_play.__name__, _play.__qualname__ = "play", "Audio.play"

# The classes and functions are defined in the extension and in this package's modules; they are
# used, and documented, as members of the package itself.
for _member in (
    Framebuffer,
    Canvas,
    Font,
    Audio,
    Voice,
    key_names,
    text_size,
    load_sound,
    tone,
    melody,
):
    _member.__module__ = __name__
for _name, _method in (("save", _save), ("record", _record), ("quit", _quit), ("__exit__", _exit)):
    _method.__name__, _method.__qualname__ = _name, f"Framebuffer.{_name}"
del _member, _name, _method

__all__ = [
    "FONT_4X6",
    "FONT_8X8",
    "Audio",
    "Canvas",
    "Font",
    "Framebuffer",
    "Voice",
    "__version__",
    "key_names",
    "load_image",
    "load_sound",
    "melody",
    "save_image",
    "text_size",
    "tone",
]
