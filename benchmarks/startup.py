"""Start-up to the first frame: jxframebuf against raylib (pyray), pygame-ce and pyxel, each a
`python -c` program that opens a 320x200 picture magnified 3 times and shows one frame, side by
side on a private Xvfb.

    python benchmarks/startup.py [--rounds N]    # the table alone (starts its own Xvfb)

run.py measures this too (`make bench`). Each sample is a fresh interpreter: the time from just
before it is started to just after its first frame is shown (the program reads the wall clock
then and prints how long it has been since the parent's), so the interpreter's own start, every
import, opening the window and the first frame are in it, and the exit is not. The programs run
in a different order each round, so that a busy moment on the machine falls on all of them alike.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

# What each program does before its first frame is shown; then the common ending below.
PROGRAMS = {
    "jxframebuf": """
import jxframebuf
fb = jxframebuf.Framebuffer(320, 200, 3)
fb.flip()
""",
    "jxframebuf + buffer()": """
import jxframebuf
fb = jxframebuf.Framebuffer(320, 200, 3)
fb.buffer()[:] = 1
fb.flip()
""",
    "raylib (pyray)": """
import pyray
pyray.set_trace_log_level(pyray.TraceLogLevel.LOG_NONE)
pyray.init_window(960, 600, "start-up")
pyray.begin_drawing()
pyray.clear_background(pyray.BLACK)
pyray.end_drawing()
""",
    "pygame-ce": """
import pygame
pygame.display.init()
screen = pygame.display.set_mode((960, 600))
picture = pygame.Surface((320, 200), depth=8)
screen.blit(pygame.transform.scale(picture, (960, 600)), (0, 0))
pygame.display.flip()
""",
    "pyxel": """
import pyxel
pyxel.init(320, 200, display_scale=3)
pyxel.flip()
""",
}
ENDING = """
import os, time
print('{"ms": %.3f}' % ((time.time_ns() - int(os.environ["JXFB_SPAWNED_NS"])) / 1e6))
"""
TARGET = "jxframebuf"  # the program that must be the fastest of the four libraries


def measure(runner, rounds: int, progress=print) -> dict:
    """Every program `rounds` times on the x11 driver (the runner's Xvfb), in a different order
    each round. Returns the milliseconds of each program by round."""
    progress(f"start-up: {', '.join(PROGRAMS)}, {rounds} rounds")
    names = list(PROGRAMS)
    samples: dict[str, list[float]] = {name: [] for name in names}
    for round_number in range(rounds):
        order = names[round_number % len(names) :] + names[: round_number % len(names)]
        for name in order:
            command = [sys.executable, "-c", PROGRAMS[name] + ENDING]
            spawned = {"JXFB_SPAWNED_NS": str(time.time_ns())}
            samples[name].append(runner.run(command, "x11", env=spawned)["ms"])
    return {"rounds": samples}


def report(results: dict) -> list[str]:
    samples = results["rounds"]
    count = len(next(iter(samples.values())))
    medians = {name: statistics.median(runs) for name, runs in samples.items()}
    fastest = min(ms for name, ms in medians.items() if name != "jxframebuf + buffer()")
    lines = [
        f"Start-up to the first frame, 320x200 x3 on Xvfb: medians of {count} interleaved runs",
        f"  {'program':<24}{'ms':>8}{'min':>8}{'max':>8}{'/ fastest':>11}",
    ]
    for name, runs in sorted(samples.items(), key=lambda item: medians[item[0]]):
        lines.append(
            f"  {name:<24}{medians[name]:8.1f}{min(runs):8.1f}{max(runs):8.1f}"
            f"{medians[name] / fastest:11.2f}"
        )
    ours = medians[TARGET]
    verdict = "PASS" if ours <= fastest else "MISS"
    lines.append(f"  target: {TARGET} the fastest of the four libraries: {verdict}")
    lines.append(
        "  from just before the interpreter starts to just after its first frame; "
        "jxframebuf + buffer() imports NumPy for the view"
    )
    return lines


class LocalRunner:
    """run.py's Runner, for this benchmark alone: a command on a private Xvfb, its JSON line."""

    def __init__(self, display: str) -> None:
        self.display = display

    def run(self, command: list[str], driver: str, env: dict | None = None) -> dict:
        environment = dict(
            os.environ,
            DISPLAY=self.display,
            SDL_VIDEO_DRIVER=driver,
            SDL_VIDEODRIVER=driver,
            SDL_AUDIODRIVER="dummy",
            PYGAME_HIDE_SUPPORT_PROMPT="1",
            **(env or {}),
        )
        done = subprocess.run(
            command, env=environment, capture_output=True, text=True, timeout=120, check=False
        )
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}):\n{done.stderr}")
        result: dict = json.loads(done.stdout.strip().splitlines()[-1])
        return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))
    import xsession

    xvfb = xsession.Xvfb()
    try:
        results = measure(
            LocalRunner(xvfb.display),
            args.rounds,
            progress=lambda m: print(m, file=sys.stderr),
        )
    finally:
        xvfb.stop()
    print("\n".join(report(results)))


if __name__ == "__main__":
    main()
