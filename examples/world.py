# A scrolling world: a tilemap drawn under a camera that follows a wandering hero, a crowd of 400
# walkers drawn by one sprites() call, a windmill whose sails turn by blit(rotate=), a red hurt
# flash by blit(remap=) whenever the hero bumps into a walker, and a status bar drawn inside a
# clip rectangle below the world view. Arrow keys (or a gamepad's d-pad) steer the hero; left
# alone, it wanders by itself. Escape quits.
#
# The sprite sheet and the map are made here with NumPy: a sheet of 8x8 cells (grass, flowers,
# water, path, a walker in four colours, the hero) and a 96x64 map of cell numbers.
import math

import numpy as np

from jxframebuf import Framebuffer

WIDTH, HEIGHT = 192, 144
VIEW_H = 128  # the world view; the status bar below it
CELL = 8
MAP_W, MAP_H = 96, 64
WALKERS = 400
KEY = 0  # the sheet's transparent index

PALETTE = {
    1: 0xFF2E7D32, 2: 0xFF388E3C, 3: 0xFFFFEB3B, 4: 0xFF1565C0, 5: 0xFF42A5F5, 6: 0xFF8D6E63,
    7: 0xFFFFFFFF, 8: 0xFF000000, 9: 0xFFE53935, 10: 0xFFFB8C00, 11: 0xFF8E24AA, 12: 0xFF00ACC1,
    13: 0xFFFFCCBC, 14: 0xFF5D4037, 15: 0xFF263238, 16: 0xFFB0BEC5, 17: 0xFFFF1744,
}  # fmt: skip
GRASS, FLOWERS, WATER, PATH = 0, 1, 2, 3
WALKER = 4  # four colours: cells 4 to 7
HERO = 8


def make_sheet() -> np.ndarray:
    """Nine 8x8 cells side by side."""
    rng = np.random.default_rng(3)
    cells = []
    grass = np.where(rng.random((8, 8)) < 0.2, 2, 1).astype(np.uint8)
    flowers = grass.copy()
    flowers[[2, 5, 6], [1, 5, 2]] = 3
    water = np.where((np.arange(64).reshape(8, 8) % 7) == 0, 5, 4).astype(np.uint8)
    path = np.where(rng.random((8, 8)) < 0.15, 14, 6).astype(np.uint8)
    cells += [grass, flowers, water, path]
    body = np.array(
        [[0, 0, 13, 13, 13, 0, 0, 0],
         [0, 0, 13, 8, 13, 0, 0, 0],
         [0, 0, 13, 13, 13, 0, 0, 0],
         [0, 1, 1, 1, 1, 1, 0, 0],
         [0, 1, 1, 1, 1, 1, 0, 0],
         [0, 0, 1, 1, 1, 0, 0, 0],
         [0, 0, 15, 0, 15, 0, 0, 0],
         [0, 0, 15, 0, 15, 0, 0, 0]],
        dtype=np.uint8,
    )  # fmt: skip
    for colour in (9, 10, 11, 12):
        cells.append(np.where(body == 1, colour, body).astype(np.uint8))
    cells.append(np.where(body == 1, 7, body).astype(np.uint8))  # the hero, in white
    return np.hstack(cells)


def make_map() -> np.ndarray:
    rng = np.random.default_rng(5)
    y, x = np.mgrid[0:MAP_H, 0:MAP_W]
    tiles = np.where(rng.random((MAP_H, MAP_W)) < 0.12, FLOWERS, GRASS)
    lake = (x - 60) ** 2 / 140 + (y - 22) ** 2 / 60 < 1
    tiles[lake] = WATER
    tiles[(y == 40) | (x == 30)] = PATH
    return tiles.astype(np.int16)


def make_sails() -> np.ndarray:
    """A windmill's four sails, 24x24, transparent around."""
    sails = np.zeros((24, 24), np.uint8)
    sails[10:14, :] = 16
    sails[:, 10:14] = 16
    sails[11:13, 11:13] = 14
    return sails


def main() -> None:
    fb = Framebuffer(WIDTH, HEIGHT, scale=4)
    fb.title = "World"
    for index, colour in PALETTE.items():
        fb.palette()[index] = colour
    sheet, world, sails = make_sheet(), make_map(), make_sails()
    hurt = np.arange(256, dtype=np.uint8)
    hurt[[7, 13, 15]] = 17  # the hero's body, face and legs flash red

    rng = np.random.default_rng(11)
    xs = rng.uniform(0, MAP_W * CELL, WALKERS)
    ys = rng.uniform(0, MAP_H * CELL, WALKERS)
    vx, vy = rng.uniform(-0.6, 0.6, (2, WALKERS))
    looks = WALKER + rng.integers(0, 4, WALKERS)
    hero = np.array([MAP_W * CELL / 2, 40.0 * CELL])
    heading, hits, flash, frame = 0.0, 0, 0, 0
    mill = (42 * CELL, 34 * CELL)

    while fb.running():
        if fb.pressed("Escape"):
            break
        frame += 1
        # The hero: steered by keys or a pad, else wandering.
        step = np.array([
            (fb.key("Right") or fb.key("pad dpright")) - (fb.key("Left") or fb.key("pad dpleft")),
            (fb.key("Down") or fb.key("pad dpdown")) - (fb.key("Up") or fb.key("pad dpup")),
        ], dtype=float)  # fmt: skip
        if not step.any():
            heading += 0.03 * math.sin(frame / 50)
            step = np.array([math.cos(heading), math.sin(heading)])
        hero = np.clip(hero + step * 1.2, 0, [MAP_W * CELL - CELL, MAP_H * CELL - CELL])
        # The crowd walks and turns back at the world's edges.
        xs += vx
        ys += vy
        vx[(xs < 0) | (xs > MAP_W * CELL - CELL)] *= -1
        vy[(ys < 0) | (ys > MAP_H * CELL - CELL)] *= -1
        near = (np.abs(xs - hero[0]) < 6) & (np.abs(ys - hero[1]) < 6)
        if near.any() and flash == 0:
            hits += 1
            flash = 20

        # The world under the camera, inside the view's clip.
        fb.camera = (int(hero[0]) - WIDTH // 2, int(hero[1]) - VIEW_H // 2)
        fb.clip = (0, 0, WIDTH, VIEW_H)
        fb.tiles(0, 0, world, sheet, (CELL, CELL))
        fb.sprites(xs.astype(np.int32), ys.astype(np.int32), looks, sheet, (CELL, CELL), KEY)
        fb.rect(mill[0] + 8, mill[1] + 10, 8, 20, 14)
        fb.blit(mill[0], mill[1], sails, KEY, rotate=frame * 3)
        hero_cell = sheet[:, HERO * CELL : HERO * CELL + CELL]
        fb.blit(int(hero[0]), int(hero[1]), hero_cell, KEY,
                remap=hurt if flash % 4 >= 2 else None)  # fmt: skip
        flash = max(flash - 1, 0)

        # The status bar: picture pixels, clipped to its own strip.
        fb.camera, fb.clip = (0, 0), (0, VIEW_H, WIDTH, HEIGHT - VIEW_H)
        fb.rect(0, VIEW_H, WIDTH, HEIGHT - VIEW_H, 15)
        fb.pattern = 0x5A5A
        fb.rect(0, VIEW_H, WIDTH, 2, 16)
        fb.pattern = None
        fb.text(4, VIEW_H + 5, f"HITS {hits:3}  X {int(hero[0]):4} Y {int(hero[1]):4}", 7)
        fb.clip = None
        fb.flip()
    fb.quit()


if __name__ == "__main__":
    main()
