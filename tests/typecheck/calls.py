"""Calls that a type checker must accept, and calls it must refuse because they fail at run time.

`make lint` runs mypy --strict (which warns of unused ignores) over this file against the installed
stubs. Each refused call carries an ignore for the error it must raise: a stub that lets the call
through leaves the ignore unused, and the check fails. Nothing here is run.
"""

import numpy as np

import jxframebuf
from jxframebuf import Framebuffer


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


def pixel(fb: Framebuffer) -> int:
    return fb.pget(1, 2) + fb.width * fb.height


def version() -> str:
    return jxframebuf.__version__


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
