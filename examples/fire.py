# Fire: the classic demo-scene fire, computed for the whole picture at once with NumPy.
#
# Two hidden rows below the picture hold random embers. Every frame each pixel takes the average
# heat of the pixels beneath it, less a little: heat rises, spreads and cools. The heat itself,
# 0 to 255, is the palette index, and the palette runs from black through red and yellow to white.
import numpy as np
import numpy.typing as npt

from jxframebuf import Framebuffer

WIDTH, HEIGHT = 320, 200


def fire_palette() -> npt.NDArray[np.uint32]:
    heat = np.arange(256)
    r = np.clip(heat * 3, 0, 255).astype(np.uint32)
    g = np.clip(heat * 3 - 256, 0, 255).astype(np.uint32)
    b = np.clip(heat * 3 - 512, 0, 255).astype(np.uint32)
    return (0xFF000000 | (r << 16) | (g << 8) | b).astype(np.uint32)


def main() -> None:
    rng = np.random.default_rng()
    fb = Framebuffer(WIDTH, HEIGHT, scale=3, fps=60)
    fb.palette()[:] = fire_palette()
    pixels = fb.buffer()
    heat = np.zeros((HEIGHT + 2, WIDTH), np.int16)
    while fb.running():
        heat[-2:] = rng.integers(0, 2, (2, WIDTH)) * 255
        for _ in range(2):  # two steps a frame: the flames rise at 120 rows a second
            row_below, two_below = heat[1:-1], heat[2:]
            spread = (
                row_below
                + np.roll(row_below, 1, axis=1)
                + np.roll(row_below, -1, axis=1)
                + two_below
            )
            cooling = rng.integers(0, 2, spread.shape, dtype=np.int16)
            heat[:-2] = np.maximum(spread // 4 - cooling, 0)
        pixels[:] = heat[:HEIGHT]
        fb.flip()
    fb.quit()


if __name__ == "__main__":
    main()
