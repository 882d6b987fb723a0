"""What recording costs a 60 fps loop: Framebuffer.record to an animated GIF and PNG against the
same loop not recording, at 320x200 (x3) on SDL's dummy driver.

    python benchmarks/recording.py [--rounds N] [--seconds S]    # the table alone
    python benchmarks/recording.py CASE '{"argument": value, ...}'

run.py measures this too (`make bench`). Each run is a fresh process, the three modes (not
recording, .gif, .png) interleaved round by round, each scene a loop paced at 60 fps:

- palette: a still plasma animated by rotating its palette, so every pixel changes colour every
  frame (the whole picture is written for every frame kept);
- picture: a plasma scrolling by a row a frame, every index rewritten every frame;
- sprites: a game's frame, the picture cleared and 24 shapes and a line of text drawn.

Per run: the frames shown per second, the process's CPU time (every thread: the frame loop and
the recording's writer) as a share of one core, the 99th percentile of the frame periods, resident
memory against the same scene not recording, its growth per minute recorded (from a third of the
run in to its end, once the writer's buffers have grown), the file written per minute, and how
long record(None) took to finish the file.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
from cases import _resident_bytes  # beside this file

WIDTH, HEIGHT, SCALE, FPS = 320, 200, 3, 60
SCENES = {
    "palette": "plasma, palette rotated every frame",
    "picture": "plasma scrolling a row every frame",
    "sprites": "cleared, 24 shapes and a text a frame",
}
MODES = ["none", ".gif", ".png"]

CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


def _plasma(width: int, height: int) -> np.ndarray:
    y, x = np.indices((height, width), dtype=np.float32)
    field = np.sin(x / 16.0) + np.sin(y / 11.0) + np.sin((x + y) / 19.0)
    field += np.sin(np.hypot(x - width / 2, y - height / 2) / 9.0)
    return ((field + 4.0) * (255.0 / 8.0)).astype(np.uint8)


def _scene(fb, scene: str, width: int, height: int):
    """Sets the scene up; returns the function that draws frame t."""
    pixels, palette = fb.buffer(), fb.palette()
    t = np.linspace(0.0, 2.0 * np.pi, 256, endpoint=False)
    channels = [
        (127.5 + 127.5 * np.sin(t + k * 2.0 * np.pi / 3.0)).astype(np.uint32) for k in range(3)
    ]
    colours = (0xFF000000 | channels[0] << 16 | channels[1] << 8 | channels[2]).astype(np.uint32)
    palette[:] = colours
    if scene == "palette":
        pixels[:] = _plasma(width, height)
        return lambda frame: palette.__setitem__(slice(None), np.roll(colours, 2 * frame))
    if scene == "picture":
        tall = _plasma(width, 2 * height)
        return lambda frame: pixels.__setitem__(
            slice(None), tall[frame % height : frame % height + height]
        )
    rng = np.random.default_rng(5)
    start = rng.integers(0, (width, height), (24, 2))
    speed = rng.integers(-3, 4, (24, 2))

    def sprites(frame: int) -> None:
        fb.clear(0)
        for i, (x, y) in enumerate((start + speed * frame) % (width, height)):
            if i % 2:
                fb.circle(int(x), int(y), 6, i * 7 % 256)
            else:
                fb.rect(int(x), int(y), 14, 10, i * 7 % 256)
        fb.text(4, 4, f"FRAME {frame:06}", 255)

    return sprites


@case
def record_loop(scene, mode, seconds, width=WIDTH, height=HEIGHT, scale=SCALE):
    from jxframebuf import Framebuffer

    fb = Framebuffer(width, height, scale=scale, fps=FPS)
    draw = _scene(fb, scene, width, height)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / f"out{mode}"
        for frame in range(FPS // 2):  # warm-up: first calls, the palette expansion chosen
            draw(frame)
            fb.flip()
        if mode != "none":
            fb.record(path)
        resident_start, start_at = None, None
        periods, frame = [], 0
        cpu, begun = time.process_time(), time.perf_counter()
        last = begun
        while last - begun < seconds:
            draw(frame)
            fb.flip()
            now = time.perf_counter()
            periods.append(now - last)
            last, frame = now, frame + 1
            if resident_start is None and now - begun >= seconds / 3:
                resident_start, start_at = _resident_bytes(), now
        elapsed, cpu = last - begun, time.process_time() - cpu
        resident_end = _resident_bytes()
        stopping = time.perf_counter()
        fb.record(None)
        finish = time.perf_counter() - stopping
        size = path.stat().st_size if mode != "none" else 0
    fb.quit()
    minutes_after_start = (last - start_at) / 60
    return {
        "fps": frame / elapsed,
        "cpu_percent": 100 * cpu / elapsed,
        "p99_ms": 1000 * float(np.percentile(periods, 99)),
        "resident_mb": resident_end / 2**20,
        "growth_mb_per_minute": (resident_end - resident_start) / 2**20 / minutes_after_start,
        "file_mb_per_minute": size / 2**20 / (elapsed / 60),
        "finish_ms": 1000 * finish,
        "driver": os.environ.get("SDL_VIDEO_DRIVER", ""),
    }


def measure(runner, rounds: int, seconds: float, progress=print) -> dict:
    """Every scene and mode `rounds` times in fresh processes, the modes in a different order each
    round, on SDL's dummy driver. Returns each figure of each scene and mode by round."""
    progress(f"recording: {', '.join(SCENES)} scenes, {rounds} rounds of {seconds:g} s")
    by_round: dict = {s: {m: [] for m in MODES} for s in SCENES}
    for round_number in range(rounds):
        order = MODES[round_number % len(MODES) :] + MODES[: round_number % len(MODES)]
        for scene in SCENES:
            for mode in order:
                arguments = {"scene": scene, "mode": mode, "seconds": seconds}
                command = [sys.executable, str(Path(__file__).resolve()), "record_loop",
                           json.dumps(arguments)]  # fmt: skip
                by_round[scene][mode].append(runner.run(command, "dummy"))
    return {"rounds": by_round, "seconds": seconds}


def report(results: dict) -> list[str]:
    rounds = results["rounds"]
    count = len(next(iter(next(iter(rounds.values())).values())))
    lines = [
        f"Recording a 60 fps loop, {WIDTH}x{HEIGHT} x{SCALE}, dummy driver: medians over {count} "
        f"interleaved runs of {results['seconds']:g} s",
        f"  {'scene':<9}{'file':<6}{'fps':>7}{'CPU %':>8}{'p99 ms':>8}{'extra MB':>10}"
        f"{'MB/min':>8}{'file MB/min':>13}{'finish ms':>11}",
    ]
    for scene, modes in rounds.items():
        base = statistics.median(r["resident_mb"] for r in modes["none"])
        for mode, runs in modes.items():

            def med(key, runs=runs):
                return statistics.median(r[key] for r in runs)

            recorded = mode != "none"
            extra = f"{med('resident_mb') - base:+.1f}" if recorded else "-"
            file = f"{med('file_mb_per_minute'):.1f}" if recorded else "-"
            finish = f"{med('finish_ms'):.0f}" if recorded else "-"
            lines.append(
                f"  {scene:<9}{mode if recorded else '-':<6}{med('fps'):7.1f}"
                f"{med('cpu_percent'):8.1f}{med('p99_ms'):8.2f}{extra:>10}"
                f"{med('growth_mb_per_minute'):+8.2f}{file:>13}{finish:>11}"
            )
    for scene, what in SCENES.items():
        lines.append(f"  {scene}: {what}")
    lines.append(
        "  CPU: the whole process (frame loop and writer thread), % of one core; extra MB: "
        "resident memory beyond the same scene not recording; MB/min: its growth per minute "
        "recorded; finish: record(None)"
    )
    return lines


class LocalRunner:
    """run.py's Runner, for this benchmark alone: a command on a video driver, its JSON line."""

    def run(self, command: list[str], driver: str) -> dict:
        env = dict(os.environ, SDL_VIDEO_DRIVER=driver)
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=600)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}):\n{done.stderr}")
        return json.loads(done.stdout.strip().splitlines()[-1])


def main() -> None:
    if len(sys.argv) > 1 and sys.argv[1] in CASES:
        arguments = json.loads(sys.argv[2]) if len(sys.argv) > 2 else {}
        print(json.dumps(CASES[sys.argv[1]](**arguments)))
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=10.0)
    args = parser.parse_args()
    results = measure(
        LocalRunner(), args.rounds, args.seconds, progress=lambda m: print(m, file=sys.stderr)
    )
    print("\n".join(report(results)))


if __name__ == "__main__":
    main()
