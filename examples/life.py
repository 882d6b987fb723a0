# Life: Conway's Game of Life on a 160 x 100 torus, one NumPy step for the whole board per frame.
#
# The pixel buffer is the board. Living cells hold palette indices 128 to 255 and count up as they
# age, so the palette shows each cell's age: new cells flash white, old ones settle into deep
# orange. A cell that dies drops to index 40 and fades through the blues back to the background.
import numpy as np
import numpy.typing as npt

from jxframebuf import Framebuffer

WIDTH, HEIGHT = 160, 100
BORN, DIED = 128, 40


def life_palette() -> npt.NDArray[np.uint32]:
    palette = np.full(256, 0xFF101018, np.uint32)
    fade = np.linspace(0.0, 1.0, DIED + 1)[1:]  # indices 1..40: from background to bright blue
    palette[1 : DIED + 1] = (
        0xFF000000
        | ((16 + fade * 24).astype(np.uint32) << 16)
        | ((16 + fade * 64).astype(np.uint32) << 8)
        | (24 + fade * 140).astype(np.uint32)
    )
    age = np.linspace(0.0, 1.0, 256 - BORN)  # indices 128..255: white, yellow, then orange
    palette[BORN:] = (
        0xFF000000
        | (np.full_like(age, 255).astype(np.uint32) << 16)
        | ((255 - age * 150).astype(np.uint32) << 8)
        | (np.clip(255 - age * 900, 30, 255)).astype(np.uint32)
    )
    return palette


def step(board: npt.NDArray[np.uint8]) -> None:
    """Advances the board one generation, in place."""
    alive = board >= BORN
    neighbours = sum(
        np.roll(np.roll(alive, dy, axis=0), dx, axis=1).astype(np.uint8)
        for dy in (-1, 0, 1)
        for dx in (-1, 0, 1)
        if (dy, dx) != (0, 0)
    )
    lives = (neighbours == 3) | (alive & (neighbours == 2))
    older = np.where(board == 255, 255, board + 1).astype(np.uint8)
    faded = np.where(board > 0, board - 1, 0).astype(np.uint8)
    board[:] = np.where(lives, np.where(alive, older, BORN), np.where(alive, DIED, faded))


def main() -> None:
    rng = np.random.default_rng()
    fb = Framebuffer(WIDTH, HEIGHT, scale=6, fps=30)
    fb.palette()[:] = life_palette()
    board = fb.buffer()
    board[:] = np.where(rng.random((HEIGHT, WIDTH)) < 0.3, BORN, 0)
    generation = 0
    while fb.running():
        step(board)
        generation += 1
        if generation % 600 == 0:  # a fresh sprinkle now and then keeps the board alive
            board[rng.random((HEIGHT, WIDTH)) < 0.02] = BORN
        fb.flip()
    fb.quit()


if __name__ == "__main__":
    main()
