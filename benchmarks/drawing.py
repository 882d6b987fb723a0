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
"""

from __future__ import annotations

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
}
SPRITE = 16
TEXT_LENGTH = 20
TARGET = 1.5  # ours at least this many times faster than the faster peer
TARGETS = {"text_bdf": 2.0, "text_x2": 2.0}  # where another target holds
PRIMITIVES = {
    "line": "random lines",
    "rect": "random rectangles",
    "circle": "random circles",
    "blit": "16x16 sprite, key colour",
    "text": f"{TEXT_LENGTH}-character strings",
    "text_bdf": "the same, a BDF font",
    "text_x2": "the same, scale 2",
}
PEERS = {
    "pygame-ce": "draw.line/rect/circle on an 8-bit Surface, Surface.blit with a colour key, "
    "font.Font(None, 12).render + blit, font.Font(BDF, 8), render + transform.scale_by(2) + blit",
    "pyxel": "line, rect/rectb, circ/circb, blt from an image bank with colkey, text, "
    "text with Font(BDF), text into an Image + blt(scale=2)",
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
    counts = counts or COUNTS
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
    return {
        "line": lines,
        "rect": rects,
        "circle": circles,
        "blit": blits,
        "text": texts,
        "text_bdf": texts[: counts["text_bdf"]],
        "text_x2": texts[: counts["text_x2"]],
        "sprite": sprite,
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
    return {"ns": per_call_ns(calls, samples)}


# --- Measuring and reporting (run from run.py) --------------------------------------------------

PROGRAMS = {"ours": "draw_ours", "pygame-ce": "draw_pygame", "pyxel": "draw_pyxel"}


def measure(runner, rounds: int, samples: int, progress=print) -> dict:
    """Every program `rounds` times in fresh processes, a different one first each round, on SDL's
    dummy driver (pyxel: SDL2's offscreen driver, as it needs OpenGL to start). Returns the
    per-call nanoseconds of each program and primitive by round, and the peers that could not
    run with the reason."""
    progress(f"drawing: {', '.join(COUNTS)} against pygame-ce and pyxel")
    font = font_file(None)  # one file for every program
    names = list(PROGRAMS)
    by_round: dict[str, dict[str, list[float]]] = {p: {k: [] for k in COUNTS} for p in names}
    unavailable: dict[str, str] = {}
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
        ns = {p: statistics.median(r[name]) for p, r in rounds.items()}
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
