"""Calls that a type checker must accept, and calls it must refuse because they fail at run time.

`make lint` runs mypy --strict (which warns of unused ignores) over this file against the installed
stubs. Each refused call carries an ignore for the error it must raise: a stub that lets the call
through leaves the ignore unused, and the check fails. Nothing here is run.
"""

from pathlib import Path

import numpy as np

import jxframebuf
from jxframebuf import Canvas, Framebuffer, load_image, save_image, text_size


class Index:
    def __index__(self) -> int:
        return 1


def accepted(fb: Framebuffer) -> None:
    Framebuffer(10, 10)
    Framebuffer(width=10, height=10, scale=2, fps=-1)
    fb.pset(1, 2, 3)
    fb.pset(True, np.int64(2), np.uint8(3))  # bool and NumPy integers have __index__
    fb.pset(Index(), 0, 0)
    fb.clear()
    fb.clear(color=4)
    fb.buffer()[:] = 1
    fb.palette()[2] = 0xFF3366CC
    fb.line(0, 0, np.int32(5), 5, 1)
    fb.rect(1, 1, 4, 4, 2, fill=False)
    fb.circle(8, 8, 3, c=4)
    fb.blit(0, 0, np.zeros((4, 4), np.uint8), key=0)
    fb.blit(0, 0, bytearray(16))
    fb.title = "Paint"
    fb.fullscreen = not fb.fullscreen
    with Framebuffer(8, 8) as other:
        other.flip()


def input_state(fb: Framebuffer) -> tuple[bool, int]:
    x, y = fb.mouse()
    return fb.key("Space") and fb.pressed("mouse left"), x + y + fb.text(0, 0, fb.title, 1)


def pixel(fb: Framebuffer) -> int:
    return fb.pget(1, 2) + fb.width * fb.height


def version() -> str:
    return jxframebuf.__version__


def pictures(fb: Framebuffer) -> int:
    canvas = Canvas(np.zeros((8, 8), np.uint8))
    canvas.rect(1, 1, 4, 4, 2, fill=False)
    fb.blit(0, 0, canvas.array, key=0)
    pixels, palette = load_image("picture.png")
    save_image("copy.png", pixels[::2], [0xFF000000, 0xFFFFFFFF])
    fb.save(Path("shot.png"), scale=3)
    fb.record("play.gif")
    fb.record(None)
    width, height = text_size("SCORE")
    return canvas.pget(1, 1) + width + height + int(palette[0])


def refused(fb: Framebuffer) -> None:
    # Floats raise TypeError at run time, NumPy's among them.
    fb.pset(1.5, 2, 3)  # type: ignore[arg-type]
    fb.pset(1, 2, np.float64(3))  # type: ignore[arg-type]
    fb.pget(0, 2.0)  # type: ignore[arg-type]
    fb.clear(2.0)  # type: ignore[arg-type]
    Framebuffer(10, 10, scale=2.0)  # type: ignore[arg-type]
    Framebuffer(10.0, 10)  # type: ignore[arg-type]
    fb.pset("1", 2, 3)  # type: ignore[arg-type]
    # pset and pget are positional only; width and height are read-only.
    fb.pset(x=1, y=2, c=3)  # type: ignore[call-arg]
    fb.width = 3  # type: ignore[misc]
    fb.line(0, 0, 1.5, 2, 1)  # type: ignore[arg-type]
    fb.circle(8, 8, 2.5, 1)  # type: ignore[arg-type]
    fb.text(0, 0, b"bytes", 1)  # type: ignore[arg-type]
    fb.blit(0, 0, [[1, 2], [3, 4]])  # type: ignore[arg-type]
    # Names and titles are str, fullscreen a bool; none of these is converted.
    fb.key(b"a")  # type: ignore[arg-type]
    fb.pressed(None)  # type: ignore[arg-type]
    fb.title = 3  # type: ignore[assignment]
    fb.fullscreen = 1  # type: ignore[assignment]
    Canvas(np.zeros((2, 2), np.uint8)).pset(0.5, 0, 1)  # type: ignore[arg-type]
    text_size(b"bytes")  # type: ignore[arg-type]
    fb.save("shot.png", scale=2.0)  # type: ignore[arg-type]
