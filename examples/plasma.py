# Plasma: a still picture of 256 colour bands brought to life by rotating the palette alone.
#
# The pixels are drawn once, with NumPy, through fb.buffer(). Every frame after that rewrites only
# the 256 entries of fb.palette(), and flip() recolours the whole picture from it: the oldest trick
# of indexed-colour hardware, and still the cheapest animation there is.
#
#     python examples/plasma.py [--record out.gif] [--save still.png]
#
# --record records every frame shown, palette and all, to an animated GIF or PNG until the window
# is closed; --save writes the picture and its palette as they start, magnified as in the window.
import argparse

import numpy as np
import numpy.typing as npt

from jxframebuf import Framebuffer

WIDTH, HEIGHT = 320, 200


def plasma(width: int, height: int) -> npt.NDArray[np.uint8]:
    """A smooth field of palette indices 0..255 from a sum of sine waves."""
    y, x = np.indices((height, width), dtype=np.float32)
    cx, cy = width / 2, height / 2
    field: npt.NDArray[np.float32] = (
        np.sin(x / 16.0)
        + np.sin(y / 11.0)
        + np.sin((x + y) / 19.0)
        + np.sin(np.hypot(x - cx, y - cy) / 9.0)
    )
    return ((field + 4.0) * (255.0 / 8.0)).astype(np.uint8)


def rainbow() -> npt.NDArray[np.uint32]:
    """256 opaque ARGB colours that wrap around smoothly, so rotating them never shows a seam."""
    t = np.linspace(0.0, 2.0 * np.pi, 256, endpoint=False)
    r = (127.5 + 127.5 * np.sin(t)).astype(np.uint32)
    g = (127.5 + 127.5 * np.sin(t + 2.0 * np.pi / 3.0)).astype(np.uint32)
    b = (127.5 + 127.5 * np.sin(t + 4.0 * np.pi / 3.0)).astype(np.uint32)
    return (0xFF000000 | (r << 16) | (g << 8) | b).astype(np.uint32)


def main() -> None:
    parser = argparse.ArgumentParser(description="A plasma animated by its palette alone.")
    parser.add_argument("--record", metavar="PATH", help="record the frames to a .gif or .png")
    parser.add_argument("--save", metavar="PATH", help="save the first frame to a .png")
    args = parser.parse_args()

    fb = Framebuffer(WIDTH, HEIGHT, scale=3, fps=60)
    fb.buffer()[:] = plasma(WIDTH, HEIGHT)
    palette = fb.palette()
    colours = rainbow()
    palette[:] = colours
    if args.save:
        fb.save(args.save, scale=3)
    if args.record:
        fb.record(args.record)
    shift = 0
    while fb.running():
        palette[:] = np.roll(colours, shift)
        shift += 2
        fb.flip()
    fb.record(None)  # finishes the recording, if there is one
    fb.quit()


if __name__ == "__main__":
    main()
