"""The drawing benchmark: jxframebuf's line, rect, circle, blit and text against pygame-ce and pyxel
drawing the same random shapes on a 320x200 picture.

    python benchmarks/drawing.py CASE '{"argument": value, ...}'

Each case runs alone in a fresh process and prints one JSON line, as benchmarks/cases.py does;
run.py starts them through measure() and prints the rows that report() makes.

Every program gets the same work, drawn from one seed: 10,000 lines, 10,000 rectangles and
10,000 circles (half filled, half outlined), 1,000 blits of a 16x16 sprite with a key colour and
1,000 strings of 20 characters, all at random places in and around the picture so that some are
clipped. The strings are drawn three times: in each library's own font, in one proportional BDF
font that every program reads from the same file (bdf_text(): the 8x8 font's glyphs cut to their
ink), and twice as large, each font pixel a 2x2 block (pygame-ce: its text rendered, scaled by
transform.scale_by and blitted; pyxel: its text drawn into an image, blitted with scale=2). The
arguments are built ahead in each library's own shape, and each call is timed in a loop
`for f, args in calls: f(*args)`, less the same loop with no call.

The sprite, tile and shape members are measured the same way: 10,000 triangles, 5,000 hexagons and
10,000 ellipses (half filled), 100 flood fills of a whole 320x200 picture of its own (alternately
in two colours), 1,000 blits of the sprite rotated (0..359 degrees) and scaled (0.5, 1.5, 2 or 3),
1,000 blits with three indices remapped, 100 draws of a 20x13 map of 16x16 tiles scrolled by up to
a tile, and 10 calls each drawing 10,000 keyed 16x16 sprites from a 128x128 sheet (pygame-ce: one
fblits of a list built ahead; pyxel: a blt loop), whose rate the report gives in sprites a second.
Where a peer has no counterpart (pygame-ce: remap; pyxel: polygons) its cell stays empty.
"""

from __future__ import annotations

import functools
import json
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

WIDTH, HEIGHT = 320, 200
COUNTS = {
    "line": 10_000,
    "rect": 10_000,
    "circle": 10_000,
    "blit": 1_000,
    "text": 1_000,
    "text_bdf": 1_000,
    "text_x2": 1_000,
    "triangle": 10_000,
    "polygon": 5_000,
    "ellipse": 10_000,
    "flood": 100,
    "blit_rs": 1_000,
    "remap": 1_000,
    "tiles": 100,
    "sprites": 10,
}
SPRITE = 16
SPRITES = 10_000  # sprites drawn by one call of the sprites case
MAP = (13, 20)  # rows and columns of 16x16 tiles in the tiles case: the picture and a row more
SHEET = 128  # the sprite sheet's side: 64 cells of 16x16
TEXT_LENGTH = 20
TARGET = 1.5  # ours at least this many times faster than the faster peer
TARGETS = {"text_bdf": 2.0, "text_x2": 2.0, "triangle": 2.0, "polygon": 2.0, "ellipse": 2.0,
           "flood": 2.0, "blit_rs": 2.0, "remap": 2.0, "tiles": 2.0, "sprites": 2.0}  # fmt: skip
PRIMITIVES = {
    "line": "random lines",
    "rect": "random rectangles",
    "circle": "random circles",
    "blit": "16x16 sprite, key colour",
    "text": f"{TEXT_LENGTH}-character strings",
    "text_bdf": "the same, a BDF font",
    "text_x2": "the same, scale 2",
    "triangle": "random triangles",
    "polygon": "random hexagons",
    "ellipse": "random ellipses",
    "flood": "whole 320x200 picture",
    "blit_rs": "sprite rotated and scaled",
    "remap": "sprite, 3 indices remapped",
    "tiles": "20x13 map of 16x16 tiles",
    "sprites": f"{SPRITES:,} keyed 16x16 sprites",
}
PEERS = {
    "pygame-ce": "draw.line/rect/circle on an 8-bit Surface, Surface.blit with a colour key, "
    "font.Font(None, 12).render + blit, font.Font(BDF, 8), render + transform.scale_by(2) + blit",
    "pyxel": "line, rect/rectb, circ/circb, blt from an image bank with colkey, text, "
    "text with Font(BDF), text into an Image + blt(scale=2)",
    "pygame-ce (new members)": "draw.polygon (triangles, hexagons), draw.ellipse, "
    "draw.flood_fill, transform.rotate + transform.scale_by + blit, Surface.fblits of keyed "
    "8-bit tile and sprite Surfaces (lists built ahead); no remap counterpart",
    "pyxel (new members)": "tri/trib, elli/ellib, Image.fill, blt(rotate=, scale=), "
    "pal x3 + blt + pal(), bltm over 8x8 tiles, a blt loop for the sprites; no polygon",
}


def bdf_text() -> str:
    """A proportional BDF font for the text_bdf case: the 8x8 font's printable ASCII, each glyph cut
    to the columns it inks (space: 3) and advancing one column further."""
    import jxframebuf

    lines = ["STARTFONT 2.1", "FONT -bench-proportional-medium-r-normal--8-80-75-75-p-60-ISO10646-1",
             "SIZE 8 75 75", "FONTBOUNDINGBOX 8 8 0 -1", "STARTPROPERTIES 5", "FONT_ASCENT 7",
             "FONT_DESCENT 1", 'CHARSET_REGISTRY "ISO10646"', 'CHARSET_ENCODING "1"',
             "DEFAULT_CHAR 32", "ENDPROPERTIES", "CHARS 95"]  # fmt: skip
    for code in range(32, 127):
        cell = np.zeros((8, 8), np.uint8)
        jxframebuf.Canvas(cell).text(0, 0, chr(code), 1)
        inked = np.flatnonzero(cell.any(axis=0))
        left, right = (int(inked[0]), int(inked[-1]) + 1) if len(inked) else (0, 3)
        width = right - left
        lines += [f"STARTCHAR U+{code:04X}", f"ENCODING {code}", f"SWIDTH {(width + 1) * 125} 0",
                  f"DWIDTH {width + 1} 0", f"BBX {width} 8 0 -1", "BITMAP"]  # fmt: skip
        lines += [f"{int(''.join(map(str, row)).ljust(8, '0'), 2):02X}" for row in
                  cell[:, left:right].tolist()]  # fmt: skip
        lines.append("ENDCHAR")
    return "\n".join([*lines, "ENDFONT"]) + "\n"


def font_file(font: str | None) -> str:
    """`font` or, when None, a fresh copy of the benchmark's BDF font in a temporary folder."""
    if font is None:
        import tempfile

        font = str(Path(tempfile.mkdtemp(prefix="jxfb-bench-")) / "proportional.bdf")
        Path(font).write_text(bdf_text())
    return font


CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


def work(counts: dict | None = None) -> dict:
    """The shapes every program draws, as plain tuples. Colours are 1..15 (pyxel has 16)."""
    counts = {**COUNTS, **(counts or {})}
    rng = np.random.default_rng(20240601)

    def xs(n, margin):
        return rng.integers(-margin, WIDTH + margin, n).tolist()

    def ys(n, margin):
        return rng.integers(-margin, HEIGHT + margin, n).tolist()

    def colours(n):
        return rng.integers(1, 16, n).tolist()

    def fills(n):
        return rng.integers(0, 2, n).astype(bool).tolist()

    n = counts["line"]
    lines = list(zip(xs(n, 32), ys(n, 32), xs(n, 32), ys(n, 32), colours(n)))
    n = counts["rect"]
    sizes = rng.integers(1, 65, (2, n)).tolist()
    rects = list(zip(xs(n, 32), ys(n, 32), sizes[0], sizes[1], colours(n), fills(n)))
    n = counts["circle"]
    circles = list(zip(xs(n, 32), ys(n, 32), rng.integers(0, 33, n).tolist(), colours(n), fills(n)))
    n = counts["blit"]
    blits = list(zip(xs(n, SPRITE), ys(n, SPRITE)))
    n = counts["text"]
    letters = [chr(c) for c in range(33, 127)]
    texts = [
        "".join(rng.choice(letters, TEXT_LENGTH).tolist()) for _ in range(n)
    ]  # no spaces: every glyph has pixels
    texts = list(zip(xs(n, 8 * TEXT_LENGTH), ys(n, 8), texts, colours(n)))
    # The sprite: colours 1..15 with about a quarter of it the key colour 0.
    sprite = rng.integers(1, 16, (SPRITE, SPRITE)).astype(np.uint8)
    sprite[rng.random((SPRITE, SPRITE)) < 0.25] = 0
    # Shapes about a random centre, each corner up to 32 pixels from it.
    n = counts["triangle"]
    centres = np.stack([rng.integers(-32, WIDTH + 32, n), rng.integers(-32, HEIGHT + 32, n)], 1)
    corners = (centres[:, None, :] + rng.integers(-32, 33, (n, 3, 2))).tolist()
    triangles = list(zip(corners, colours(n), fills(n)))
    n = counts["polygon"]
    centres = np.stack([rng.integers(-32, WIDTH + 32, n), rng.integers(-32, HEIGHT + 32, n)], 1)
    corners = (centres[:, None, :] + rng.integers(-32, 33, (n, 6, 2))).tolist()
    polygons = list(zip(corners, colours(n), fills(n)))
    n = counts["ellipse"]
    sizes = rng.integers(1, 65, (2, n)).tolist()
    ellipses = list(zip(xs(n, 32), ys(n, 32), sizes[0], sizes[1], colours(n), fills(n)))
    n = counts["flood"]
    floods = list(zip(xs(n, 0), ys(n, 0), [1 + i % 2 for i in range(n)]))
    n = counts["blit_rs"]
    turns = list(zip(xs(n, SPRITE), ys(n, SPRITE), rng.integers(0, 360, n).tolist(),
                     rng.choice([0.5, 1.5, 2, 3], n).tolist()))  # fmt: skip
    n = counts["remap"]
    remaps = list(zip(xs(n, SPRITE), ys(n, SPRITE)))
    # The sheet: 64 cells of sprite-like noise; the tilemap and the sprites pick cells at random.
    sheet = rng.integers(1, 16, (SHEET, SHEET)).astype(np.uint8)
    sheet[rng.random((SHEET, SHEET)) < 0.25] = 0
    cells = (SHEET // SPRITE) ** 2
    tilemap = rng.integers(0, cells, MAP)
    scrolls = list(zip(rng.integers(-SPRITE, 1, counts["tiles"]).tolist(),
                       rng.integers(-SPRITE, 1, counts["tiles"]).tolist()))  # fmt: skip
    crowds = [
        (rng.integers(-SPRITE, WIDTH, SPRITES), rng.integers(-SPRITE, HEIGHT, SPRITES),
         rng.integers(0, cells, SPRITES))
        for _ in range(counts["sprites"])
    ]  # fmt: skip
    return {
        "line": lines,
        "rect": rects,
        "circle": circles,
        "blit": blits,
        "text": texts,
        "text_bdf": texts[: counts["text_bdf"]],
        "text_x2": texts[: counts["text_x2"]],
        "sprite": sprite,
        "triangle": triangles,
        "polygon": polygons,
        "ellipse": ellipses,
        "flood": floods,
        "blit_rs": turns,
        "remap": remaps,
        "remap_pairs": [(1, 8), (2, 8), (3, 8)],
        "sheet": sheet,
        "tilemap": tilemap,
        "tiles": scrolls,
        "sprites": crowds,
    }


def per_call_ns(calls: dict, samples: int) -> dict:
    """Nanoseconds per call of each list of (function, arguments), less the bare loop, sampled
    alternately after one round that warms up. Returns {name: [ns per call, ...]}.

    The bare loop is the fastest of all its runs: on a shared machine a run that the scheduler
    interrupted would make it look slower and the calls look cheaper than they are."""
    clock = time.perf_counter_ns

    def with_calls(items):
        start = clock()
        for f, a in items:
            f(*a)
        return clock() - start

    def bare(items):
        start = clock()
        for _f, _a in items:
            pass
        return clock() - start

    loops: dict[str, list[int]] = {name: [] for name in calls}
    bases: dict[str, list[int]] = {name: [] for name in calls}
    for sample in range(samples + 1):
        for name, items in calls.items():
            bases[name] += [bare(items) for _ in range(3)]
            elapsed = with_calls(items)
            if sample:
                loops[name].append(elapsed)
    return {
        name: [(loop - min(bases[name])) / len(calls[name]) for loop in loops[name]]
        for name in calls
    }


# --- The programs -------------------------------------------------------------------------------


def new_members_ours(fb, shapes: dict) -> dict:
    """The calls of the shapes, transformed blits, tiles and sprites on framebuffer `fb` (flood on
    a picture of its own, as every program does)."""
    import jxframebuf

    sprite, sheet, tilemap, size = shapes["sprite"], shapes["sheet"], shapes["tilemap"], (16, 16)
    table = np.arange(256, dtype=np.uint8)
    for a, b in shapes["remap_pairs"]:
        table[a] = b
    flood = jxframebuf.Canvas(np.zeros((HEIGHT, WIDTH), np.uint8)).flood
    return {
        "triangle": [(fb.triangle, (*p[0], *p[1], *p[2], c, f)) for p, c, f in shapes["triangle"]],
        "polygon": [(fb.polygon, a) for a in shapes["polygon"]],
        "ellipse": [(fb.ellipse, a) for a in shapes["ellipse"]],
        "flood": [(flood, a) for a in shapes["flood"]],
        "blit_rs": [(functools.partial(fb.blit, rotate=r, scale=k), (x, y, sprite, 0))
                    for x, y, r, k in shapes["blit_rs"]],
        "remap": [(functools.partial(fb.blit, remap=table), (x, y, sprite, 0))
                  for x, y in shapes["remap"]],
        "tiles": [(fb.tiles, (x, y, tilemap, sheet, size, 0)) for x, y in shapes["tiles"]],
        "sprites": [(fb.sprites, (*crowd, sheet, size, 0)) for crowd in shapes["sprites"]],
    }  # fmt: skip


@case
def draw_ours(samples: int, counts: dict | None = None, font: str | None = None) -> dict:
    import jxframebuf

    shapes = work(counts)
    bdf = jxframebuf.Font(font_file(font))
    fb = jxframebuf.Framebuffer(WIDTH, HEIGHT, scale=1, fps=-1)
    line, rect, circle, blit, text = fb.line, fb.rect, fb.circle, fb.blit, fb.text
    sprite = shapes["sprite"]
    calls = {
        "line": [(line, a) for a in shapes["line"]],
        "rect": [(rect, a) for a in shapes["rect"]],
        "circle": [(circle, a) for a in shapes["circle"]],
        "blit": [(blit, (x, y, sprite, 0)) for x, y in shapes["blit"]],
        "text": [(text, a) for a in shapes["text"]],
        "text_bdf": [(text, (*a, bdf)) for a in shapes["text_bdf"]],
        "text_x2": [(text, (*a, None, 2)) for a in shapes["text_x2"]],
        **new_members_ours(fb, shapes),
    }
    result = {"ns": per_call_ns(calls, samples), "checksum": int(fb.buffer().sum())}
    fb.quit()
    return result


@case
def draw_pygame(samples: int, counts: dict | None = None, font: str | None = None) -> dict:
    os.environ["PYGAME_HIDE_SUPPORT_PROMPT"] = "1"
    import pygame

    pygame.display.init()
    pygame.font.init()
    shapes = work(counts)
    palette = [(i * 16 % 256, i * 48 % 256, i * 96 % 256) for i in range(256)]
    surface = pygame.Surface((WIDTH, HEIGHT), depth=8)
    surface.set_palette(palette)
    sprite = pygame.Surface((SPRITE, SPRITE), depth=8)
    sprite.set_palette(palette)
    pygame.surfarray.pixels2d(sprite)[:] = shapes["sprite"].T  # surfarray is [x, y]
    sprite.set_colorkey(0)
    draw = pygame.draw
    render, blit = pygame.font.Font(None, 12).render, surface.blit
    render_bdf = pygame.font.Font(font_file(font), 8).render
    scale_by = pygame.transform.scale_by

    def text(x, y, s, c):
        blit(render(s, False, palette[c]), (x, y))

    def text_bdf(x, y, s, c):
        blit(render_bdf(s, False, palette[c]), (x, y))

    def text_x2(x, y, s, c):
        blit(scale_by(render(s, False, palette[c]), 2), (x, y))

    calls = {
        "line": [(draw.line, (surface, c, (x0, y0), (x1, y1))) for x0, y0, x1, y1, c in shapes["line"]],
        "rect": [(draw.rect, (surface, c, (x, y, w, h), 0 if fill else 1))
                 for x, y, w, h, c, fill in shapes["rect"]],
        "circle": [(draw.circle, (surface, c, (x, y), r, 0 if fill else 1))
                   for x, y, r, c, fill in shapes["circle"]],
        "blit": [(blit, (sprite, (x, y))) for x, y in shapes["blit"]],
        "text": [(text, a) for a in shapes["text"]],
        "text_bdf": [(text_bdf, a) for a in shapes["text_bdf"]],
        "text_x2": [(text_x2, a) for a in shapes["text_x2"]],
    }  # fmt: skip
    # The new members' counterparts.
    rotate = pygame.transform.rotate

    def blit_rs(x, y, angle, k):
        turned = scale_by(rotate(sprite, -angle), k)  # rotate turns anticlockwise
        blit(turned, turned.get_rect(center=(x + SPRITE // 2, y + SPRITE // 2)))

    flood_surface = pygame.Surface((WIDTH, HEIGHT), depth=8)
    flood_surface.set_palette(palette)
    sheet = pygame.Surface((SHEET, SHEET), depth=8)
    sheet.set_palette(palette)
    pygame.surfarray.pixels2d(sheet)[:] = shapes["sheet"].T
    sheet.set_colorkey(0)
    per_row = SHEET // SPRITE
    cells = [sheet.subsurface(((i % per_row) * SPRITE, (i // per_row) * SPRITE, SPRITE, SPRITE))
             for i in range(per_row * per_row)]  # fmt: skip
    tilemap = shapes["tilemap"].tolist()
    maps = [[(cells[t], (x + c * SPRITE, y + r * SPRITE)) for r, row in enumerate(tilemap)
             for c, t in enumerate(row)] for x, y in shapes["tiles"]]  # fmt: skip
    crowds = [[(cells[t], (x, y)) for x, y, t in zip(*(a.tolist() for a in crowd), strict=True)]
              for crowd in shapes["sprites"]]  # fmt: skip
    calls |= {
        "triangle": [(draw.polygon, (surface, c, p, 0 if f else 1)) for p, c, f in shapes["triangle"]],
        "polygon": [(draw.polygon, (surface, c, p, 0 if f else 1)) for p, c, f in shapes["polygon"]],
        "ellipse": [(draw.ellipse, (surface, c, (x, y, w, h), 0 if fill else 1))
                    for x, y, w, h, c, fill in shapes["ellipse"]],
        "flood": [(draw.flood_fill, (flood_surface, c, (x, y))) for x, y, c in shapes["flood"]],
        "blit_rs": [(blit_rs, a) for a in shapes["blit_rs"]],
        "tiles": [(surface.fblits, (m,)) for m in maps],
        "sprites": [(surface.fblits, (crowd,)) for crowd in crowds],
    }  # fmt: skip
    return {"ns": per_call_ns(calls, samples)}


@case
def draw_pyxel(samples: int, counts: dict | None = None, font: str | None = None) -> dict:
    os.environ.setdefault("SDL_AUDIODRIVER", "dummy")
    import pyxel

    pyxel.init(WIDTH, HEIGHT)
    shapes = work(counts)
    bank = pyxel.images[0]
    for y, row in enumerate(shapes["sprite"].tolist()):
        for x, value in enumerate(row):
            bank.pset(x, y, value)
    bdf = pyxel.Font(font_file(font))
    # Twice as large: the text drawn into an image of its own, then blitted magnified about its
    # centre, which lands the magnified picture's top-left at (x, y).
    line = pyxel.Image(4 * TEXT_LENGTH, 6)
    w, h = line.width, line.height

    def text_x2(x, y, s, c):
        line.cls(0)
        line.text(0, 0, s, c)
        pyxel.blt(x + w // 2, y + h // 2, line, 0, 0, w, h, 0, scale=2)

    calls = {
        "line": [(pyxel.line, a) for a in shapes["line"]],
        "rect": [(pyxel.rect if fill else pyxel.rectb, (x, y, w, h, c))
                 for x, y, w, h, c, fill in shapes["rect"]],
        "circle": [(pyxel.circ if fill else pyxel.circb, (x, y, r, c))
                   for x, y, r, c, fill in shapes["circle"]],
        "blit": [(pyxel.blt, (x, y, 0, 0, 0, SPRITE, SPRITE, 0)) for x, y in shapes["blit"]],
        "text": [(pyxel.text, a) for a in shapes["text"]],
        "text_bdf": [(pyxel.text, (*a, bdf)) for a in shapes["text_bdf"]],
        "text_x2": [(text_x2, a) for a in shapes["text_x2"]],
    }  # fmt: skip
    # The new members' counterparts. The sheet goes into image bank 1; pyxel's tiles are 8x8, so
    # each 16x16 tile of the map is four of them.
    sheet = pyxel.images[1]
    for y, row in enumerate(shapes["sheet"].tolist()):
        for x, value in enumerate(row):
            sheet.pset(x, y, value)
    per_row = SHEET // SPRITE
    tilemap = pyxel.tilemaps[0]
    tilemap.imgsrc = 1
    for r, row in enumerate(shapes["tilemap"].tolist()):
        for c, t in enumerate(row):
            for dy in (0, 1):
                for dx in (0, 1):
                    tilemap.pset(
                        2 * c + dx, 2 * r + dy, (t % per_row * 2 + dx, t // per_row * 2 + dy)
                    )
    flood_image = pyxel.Image(WIDTH, HEIGHT)
    pal, blt = pyxel.pal, pyxel.blt
    pairs = shapes["remap_pairs"]

    def remap(x, y):
        for a, b in pairs:
            pal(a, b)
        blt(x, y, 0, 0, 0, SPRITE, SPRITE, 0)
        pal()

    def crowd_loop(crowd):
        for x, y, u, v in crowd:
            blt(x, y, 1, u, v, SPRITE, SPRITE, 0)

    crowds = [[(x, y, t % per_row * SPRITE, t // per_row * SPRITE)
               for x, y, t in zip(*(a.tolist() for a in crowd), strict=True)]
              for crowd in shapes["sprites"]]  # fmt: skip
    map_w, map_h = MAP[1] * SPRITE, MAP[0] * SPRITE
    calls |= {
        "triangle": [(pyxel.tri if f else pyxel.trib, (*p[0], *p[1], *p[2], c))
                     for p, c, f in shapes["triangle"]],
        "ellipse": [(pyxel.elli if fill else pyxel.ellib, (x, y, w, h, c))
                    for x, y, w, h, c, fill in shapes["ellipse"]],
        "flood": [(flood_image.fill, a) for a in shapes["flood"]],
        # blt's rotate and scale act about the image's centre, as ours do.
        "blit_rs": [(functools.partial(blt, rotate=r, scale=k), (x, y, 0, 0, 0, SPRITE, SPRITE, 0))
                    for x, y, r, k in shapes["blit_rs"]],
        "remap": [(remap, a) for a in shapes["remap"]],
        "tiles": [(pyxel.bltm, (x, y, 0, 0, 0, map_w, map_h, 0)) for x, y in shapes["tiles"]],
        "sprites": [(crowd_loop, (crowd,)) for crowd in crowds],
    }  # fmt: skip
    return {"ns": per_call_ns(calls, samples)}


# --- Measuring and reporting (run from run.py) --------------------------------------------------

PROGRAMS = {"ours": "draw_ours", "pygame-ce": "draw_pygame", "pyxel": "draw_pyxel"}


def measure(runner, rounds: int, samples: int, progress=print) -> dict:
    """Every program `rounds` times in fresh processes, a different one first each round, all on
    one CPU, on SDL's dummy driver (pyxel: SDL2's offscreen driver, as it needs OpenGL to start).
    Returns the per-call nanoseconds of each program and primitive by round, and the peers that
    could not run with the reason."""
    progress(f"drawing: {', '.join(COUNTS)} against pygame-ce and pyxel")
    font = font_file(None)  # one file for every program
    names = list(PROGRAMS)
    by_round: dict[str, dict[str, list[float]]] = {p: {k: [] for k in COUNTS} for p in names}
    unavailable: dict[str, str] = {}
    # Every program runs on the same one CPU (the children inherit it): a virtual machine's CPUs
    # can differ by a third in speed for minutes (another guest's load lands on one), which made
    # a program's figure depend on where it happened to run.
    cpus = os.sched_getaffinity(0) if hasattr(os, "sched_setaffinity") else None
    if cpus:
        os.sched_setaffinity(0, {min(cpus)})
    try:
        for round_number in range(rounds):
            order = names[round_number % len(names) :] + names[: round_number % len(names)]
            for program in order:
                if program in unavailable:
                    continue
                command = [
                    sys.executable,
                    str(Path(__file__).resolve()),
                    PROGRAMS[program],
                    json.dumps({"samples": samples, "font": font}),
                ]
                sdl2_driver = "offscreen" if program == "pyxel" else None
                try:
                    r = runner.run(command, "dummy", sdl2_driver)
                except RuntimeError as error:
                    if program == "ours":
                        raise
                    unavailable[program] = str(error).strip().splitlines()[-1]
                    continue
                # A sample can only be slowed down by the rest of the machine: the fastest one
                # stands for the round.
                for name, values in r["ns"].items():
                    by_round[program][name].append(min(values))
    finally:
        if cpus:
            os.sched_setaffinity(0, cpus)
    return {
        "rounds": {p: v for p, v in by_round.items() if p not in unavailable},
        "unavailable": unavailable,
    }


def rows(results: dict) -> list[dict]:
    """One row per primitive: each program's median ns per call, the faster peer, and ours against
    it as a speed-up (its time / ours), the median of the within-round ratios."""
    rounds = results["rounds"]
    table = []
    for name in COUNTS:
        if name not in rounds["ours"]:
            continue
        # A peer with no counterpart (pygame-ce's remap, pyxel's polygon) has no figure.
        ns = {p: statistics.median(r[name]) for p, r in rounds.items() if r.get(name)}
        peers = {p: v for p, v in ns.items() if p != "ours"}
        row = {"name": name, "ns": ns, "peer": None, "speedup": None, "pass": False}
        if peers:
            peer = min(peers, key=peers.__getitem__)
            ratios = [t / o for t, o in zip(rounds[peer][name], rounds["ours"][name], strict=True)]
            speedup = statistics.median(ratios)
            target = TARGETS.get(name, TARGET)
            row["peer"], row["speedup"], row["pass"] = peer, speedup, speedup >= target
        table.append(row)
    return table


def report(results: dict) -> list[str]:
    lines = [
        f"Drawing, {WIDTH}x{HEIGHT}, dummy driver (pyxel: SDL2 offscreen): ns per call, loop "
        "overhead taken out",
        f"  {'primitive':<10}{'calls':>7}  {'what':<26}{'ours':>8}{'pygame-ce':>11}{'pyxel':>9}"
        f"  {'faster peer':<11}{'speed-up':>9}  target",
    ]
    for row in rows(results):
        ns = row["ns"]

        def cell(program, width, ns=ns):
            return f"{ns[program]:>{width}.0f}" if program in ns else f"{'-':>{width}}"

        if row["peer"] is None:
            verdict = "no peer ran"
            speed = f"{'-':>9}"
        else:
            verdict = f">={TARGETS.get(row['name'], TARGET)}x {'PASS' if row['pass'] else 'MISS'}"
            speed = f"{row['speedup']:>8.2f}x"
        lines.append(
            f"  {row['name']:<10}{COUNTS[row['name']]:>7,}  {PRIMITIVES[row['name']]:<26}"
            f"{cell('ours', 8)}{cell('pygame-ce', 11)}{cell('pyxel', 9)}"
            f"  {row['peer'] or '-':<11}{speed}  {verdict}"
        )
    sprites = next((row for row in rows(results) if row["name"] == "sprites"), None)
    if sprites is not None:
        rates = ", ".join(
            f"{p} {SPRITES / ns * 1e9 / 1e6:.1f} M" for p, ns in sprites["ns"].items()
        )
        frame = sprites["ns"]["ours"] / 1e6
        lines.append(
            f"  sprites per second ({SPRITES:,} keyed 16x16 sprites a call): {rates}; ours "
            f"{frame:.2f} ms a frame ({frame / (1000 / 60):.0%} of a 60 fps frame)"
        )
    for peer, how in PEERS.items():
        lines.append(f"  {peer}: {how}")
    for program, why in results["unavailable"].items():
        lines.append(f"  {program}: not measured ({why})")
    return lines


def main() -> None:
    name, arguments = sys.argv[1], json.loads(sys.argv[2]) if len(sys.argv) > 2 else {}
    print(json.dumps(CASES[name](**arguments)))


if __name__ == "__main__":
    main()
