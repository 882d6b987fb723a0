"""The sound benchmark: jxframebuf's Audio against pygame-ce's mixer, both playing into a private
PulseAudio server with a null sink (scripts/soundserver.py).

    python benchmarks/sound.py CASE '{"argument": value, ...}'

Each case runs alone in a fresh process and prints one JSON line, as benchmarks/cases.py does;
run.py starts them through measure() and prints the rows that report() makes.

- feed: the CPU cost of keeping a 48 kHz stereo stream fed from a loop paced at 60 fps, one
  block of 800 frames a frame, as process CPU time over wall time (every thread of the process:
  the libraries' mixing and sound-server threads included). Ours queues each block with
  `Audio.queue`. pygame-ce's closest way is a Channel with one Sound queued behind the one
  playing: each frame's block waits in a list until the queue slot is free, and then all waiting
  blocks become one Sound (`sndarray.make_sound`) put in the slot. The loop alone, with no sound,
  is measured beside them.
- latency: from the call that hands a burst over (`Audio.queue`, `Channel.queue` on an idle
  channel) to the burst's first sample reaching the sink's monitor, as read by parec with a 5 ms
  latency (the same for both: it is part of both figures), repeated several times per process
  after a warm-up burst that wakes the server.
- mix: the CPU cost of 32 looping voices of 48 kHz stereo mixed over each other for a few seconds
  (each its own tone, a second long), as process CPU time over wall time. Ours plays each with
  `Audio.play(loop=True)`; pygame-ce plays 32 Sounds on 32 channels with `loops=-1`.
- load: the seconds to read a whole 60 s file (48 kHz stereo, Ogg Vorbis and 16-bit WAV, written
  by soundfile before the runs), ours with `load_sound`, pygame-ce's with `mixer.Sound(path)`;
  the best of several reads in one process (the file is in the page cache for both).
- stream: resident memory (VmRSS) while a 10-minute Ogg Vorbis streams with `play(path,
  loop=True)`, against the same process with its Audio open and silent just before.
"""

from __future__ import annotations

import json
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))

RATE, CHANNELS, FPS = 48000, 2, 60
BLOCK = RATE // FPS
PYGAME_BUFFER = 512  # pygame-ce's default mixer buffer, in frames
PROGRAMS = ["ours", "pygame-ce", "loop alone"]

CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


def tone(frames: int) -> np.ndarray:
    t = np.arange(frames) / RATE
    return np.ascontiguousarray(
        np.stack([0.3 * np.sin(2 * np.pi * 440 * t)] * 2, axis=1), np.float32
    )


class Ours:
    def __init__(self) -> None:
        from jxframebuf import Audio

        self.audio = Audio(RATE, CHANNELS)

    def feed(self, block: np.ndarray) -> None:
        self.audio.queue(block)

    def send(self, block: np.ndarray) -> None:
        self.audio.queue(block)

    def starved(self) -> bool:
        return self.audio.queued == 0

    def close(self) -> None:
        self.audio.close()


class Pygame:
    def __init__(self) -> None:
        import pygame

        self.pygame = pygame
        pygame.mixer.init(RATE, 32, CHANNELS, PYGAME_BUFFER)  # float32, as ours takes them
        self.channel = pygame.mixer.Channel(0)
        self.waiting: list[np.ndarray] = []

    def feed(self, block: np.ndarray) -> None:
        self.waiting.append(block)
        if self.channel.get_queue() is None:
            sound = self.pygame.sndarray.make_sound(np.concatenate(self.waiting))
            self.waiting.clear()
            self.channel.queue(sound)  # plays at once on an idle channel

    def send(self, block: np.ndarray) -> None:
        self.channel.queue(self.pygame.sndarray.make_sound(block))

    def starved(self) -> bool:
        return not self.channel.get_busy()

    def close(self) -> None:
        self.pygame.mixer.quit()


class Silent:
    def feed(self, block: np.ndarray) -> None:
        pass

    def starved(self) -> bool:
        return False

    def close(self) -> None:
        pass


def player(program: str):
    return {"ours": Ours, "pygame-ce": Pygame, "loop alone": Silent}[program]()


@case
def feed(program: str, seconds: float) -> dict:
    sound = player(program)
    source = tone(RATE * 2)
    sound.feed(source[: 3 * BLOCK])  # a little ahead, as a game starts
    frames = int(seconds * FPS)
    starved = 0
    cpu, start = time.process_time(), time.perf_counter()
    for i in range(frames):
        at = (3 + i) * BLOCK % (len(source) - BLOCK)
        sound.feed(source[at : at + BLOCK])
        starved += i > 10 and sound.starved()
        time.sleep(max(0.0, start + (i + 1) / FPS - time.perf_counter()))
    cpu, wall = time.process_time() - cpu, time.perf_counter() - start
    sound.close()
    return {"cpu_percent": 100 * cpu / wall, "starved_frames": int(starved)}


@case
def latency(program: str, bursts: int) -> dict:
    import soundserver

    sound = player(program)
    burst = np.full((RATE // 20, CHANNELS), 0.5, np.float32)
    recording = soundserver.Recording(os.environ["PULSE_SERVER"], RATE, latency_ms=5)
    ms = []
    try:
        time.sleep(0.3)
        for _ in range(bursts + 1):  # the first wakes the server's sink and is not counted
            before = len(recording.samples())
            sent = time.perf_counter()
            sound.send(burst)
            while time.perf_counter() < sent + 3:
                loud = np.flatnonzero(np.abs(recording.samples()[before:]) > 0.25)
                if len(loud):
                    ms.append(1000 * (recording.arrival(before + int(loud[0])) - sent))
                    break
                time.sleep(0.0005)
            else:
                raise RuntimeError("the burst never reached the monitor")
            time.sleep(0.25)  # the burst ends and the monitor falls quiet again
    finally:
        recording.stop()
        sound.close()
    return {"ms": ms[1:]}


@case
def mix(program: str, seconds: float, voices: int = 32) -> dict:
    t = np.arange(RATE) / RATE
    sounds = [
        np.ascontiguousarray(np.stack([0.02 * np.sin(2 * np.pi * (200 + 20 * n) * t)] * 2, 1),
                             np.float32)
        for n in range(voices)
    ]  # fmt: skip
    if program == "ours":
        from jxframebuf import Audio

        audio = Audio(RATE, CHANNELS)
        playing = [audio.play(sound, loop=True) for sound in sounds]
        close = audio.close
    else:
        import pygame

        pygame.mixer.init(RATE, 32, CHANNELS, PYGAME_BUFFER)
        pygame.mixer.set_num_channels(voices)
        playing = [pygame.mixer.Channel(n) for n in range(voices)]
        for channel, sound in zip(playing, sounds):
            channel.play(pygame.sndarray.make_sound(sound), loops=-1)
        close = pygame.mixer.quit
    time.sleep(0.3)
    cpu, start = time.process_time(), time.perf_counter()
    time.sleep(seconds)
    cpu, wall = time.process_time() - cpu, time.perf_counter() - start
    close()
    return {"cpu_percent": 100 * cpu / wall}


@case
def load(program: str, path: str, reads: int = 3) -> dict:
    if program == "ours":
        from jxframebuf import load_sound

        read = lambda: load_sound(path)  # noqa: E731
    else:
        import pygame

        pygame.mixer.init(RATE, 32, CHANNELS, PYGAME_BUFFER)
        read = lambda: pygame.mixer.Sound(path)  # noqa: E731
    seconds = []
    for _ in range(reads):
        start = time.perf_counter()
        read()
        seconds.append(time.perf_counter() - start)
    return {"ms": 1000 * min(seconds)}


def resident_mb() -> float:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


@case
def stream(path: str, seconds: float) -> dict:
    from jxframebuf import Audio

    with Audio(RATE, CHANNELS) as audio:
        audio.play(np.zeros((RATE, CHANNELS), np.float32))
        time.sleep(1.0)
        silent = resident_mb()
        voice = audio.play(path, loop=True)
        peak = silent
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            time.sleep(0.1)
            peak = max(peak, resident_mb())
        assert voice.playing
    return {"silent_mb": silent, "streaming_mb": peak}


def sound_files(folder: Path) -> dict[str, str]:
    """The 60 s Ogg and WAV and the 10-minute Ogg, written once into `folder`."""
    import soundfile

    folder.mkdir(parents=True, exist_ok=True)
    files = {}
    for name, seconds, fmt in (("60 s Ogg", 60, "OGG"), ("60 s WAV", 60, "WAV"),
                               ("10 min Ogg", 600, "OGG")):  # fmt: skip
        path = folder / f"{seconds}s.{fmt.lower()}"
        if not path.exists():
            with soundfile.SoundFile(path, "w", RATE, CHANNELS, format=fmt) as out:
                for start in range(0, seconds, 10):  # a chord that changes every second
                    t = np.arange(10 * RATE) / RATE + start
                    hz = 220 * 2 ** (np.floor(t) % 12 / 12)
                    wave = 0.3 * np.sin(2 * np.pi * hz * t)
                    out.write(np.stack([wave, wave[::-1]], axis=1))
        files[name] = str(path)
    return files


# --- Measuring and reporting (run from run.py) --------------------------------------------------


def measure(runner, server, rounds: int, seconds: float, bursts: int, progress=print) -> dict:
    """`rounds` interleaved runs of each program's feed case (a different one first each round)
    and of each latency case, in fresh processes playing into `server`."""
    progress(f"sound: feeding a stream at {FPS} fps, and latency to the monitor, with pygame-ce")
    cpu: dict[str, list[float]] = {p: [] for p in PROGRAMS}
    starved: dict[str, int] = dict.fromkeys(PROGRAMS, 0)
    ms: dict[str, list[float]] = {p: [] for p in PROGRAMS[:2]}
    here = str(Path(__file__).resolve())
    for number in range(rounds):
        order = PROGRAMS[number % 3 :] + PROGRAMS[: number % 3]
        for program in order:
            arguments = json.dumps({"program": program, "seconds": seconds})
            r = runner.run([sys.executable, here, "feed", arguments], "dummy", env=server.env)
            cpu[program].append(r["cpu_percent"])
            starved[program] += r["starved_frames"]
        for program in order[::-1]:
            if program in ms:
                arguments = json.dumps({"program": program, "bursts": bursts})
                r = runner.run(
                    [sys.executable, here, "latency", arguments], "dummy", env=server.env
                )
                ms[program] += r["ms"]
    # 32 voices mixed, files read whole, and a long file streamed.
    mixing: dict[str, list[float]] = {p: [] for p in PROGRAMS[:2]}
    loads: dict[str, dict[str, list[float]]] = {}
    files = sound_files(Path(__file__).resolve().parent.parent / "build" / "bench-sound")
    for number in range(rounds):
        for program in PROGRAMS[:2][:: 1 if number % 2 else -1]:
            arguments = json.dumps({"program": program, "seconds": seconds})
            r = runner.run([sys.executable, here, "mix", arguments], "dummy", env=server.env)
            mixing[program].append(r["cpu_percent"])
            for name in ("60 s Ogg", "60 s WAV"):
                arguments = json.dumps({"program": program, "path": files[name]})
                r = runner.run([sys.executable, here, "load", arguments], "dummy", env=server.env)
                loads.setdefault(name, {}).setdefault(program, []).append(r["ms"])
    arguments = json.dumps({"path": files["10 min Ogg"], "seconds": max(seconds, 3.0)})
    streamed = runner.run([sys.executable, here, "stream", arguments], "dummy", env=server.env)
    return {"cpu": cpu, "starved": starved, "latency": ms, "seconds": seconds, "mix": mixing,
            "load": loads, "stream": streamed}  # fmt: skip


def report(results: dict) -> list[str]:
    cpu, ms = results["cpu"], results["latency"]
    frames = int(results["seconds"] * FPS)
    lines = [
        f"Sound into a private PulseAudio (null sink): {RATE} Hz stereo float32; pygame-ce's mixer "
        f"with its default {PYGAME_BUFFER}-frame buffer",
        f"  {'program':<12}{'CPU % (median)':>15}{'runs':>6}{'starved frames':>16}"
        f"{'latency ms (median)':>21}{'p90':>7}{'bursts':>8}",
    ]
    for program in PROGRAMS:
        runs = cpu[program]
        cell = f"{statistics.median(ms[program]):>21.1f}" if ms.get(program) else f"{'-':>21}"
        p90 = f"{float(np.percentile(ms[program], 90)):>7.1f}" if ms.get(program) else f"{'-':>7}"
        lines.append(
            f"  {program:<12}{statistics.median(runs):>15.2f}{len(runs):>6}"
            f"{results['starved'][program]:>16}{cell}{p90}{len(ms.get(program, [])):>8}"
        )
    lines.append(
        f"  CPU: {frames} frames of one {BLOCK}-frame block each, paced by sleeping; starved frames "
        "count frames (after the first ten) when nothing was left to play"
    )
    lines.append(
        "  latency: queue() / Channel.queue() to the burst's first sample read from the monitor by "
        "parec (--latency-msec=5, included in both)"
    )
    if "mix" in results:
        mix = results["mix"]
        ours, theirs = (statistics.median(mix[p]) for p in PROGRAMS[:2])
        lines.append(
            f"  32 looping voices, 48 kHz stereo: CPU % (median of {len(mix['ours'])}) ours "
            f"{ours:.2f}, pygame-ce {theirs:.2f} (ours / pygame-ce {ours / theirs:.2f})"
        )
        for name, by in results["load"].items():
            ours, theirs = (statistics.median(by[p]) for p in PROGRAMS[:2])
            lines.append(
                f"  read a {name} whole: ms (median) load_sound {ours:.1f}, pygame.mixer.Sound "
                f"{theirs:.1f} (ours / pygame-ce {ours / theirs:.2f})"
            )
        streamed = results["stream"]
        lines.append(
            f"  streaming a 10 min Ogg: resident {streamed['streaming_mb']:.1f} MB against "
            f"{streamed['silent_mb']:.1f} MB silent "
            f"(+{streamed['streaming_mb'] - streamed['silent_mb']:.1f} MB)"
        )
    return lines


def main() -> None:
    name, arguments = sys.argv[1], json.loads(sys.argv[2]) if len(sys.argv) > 2 else {}
    print(json.dumps(CASES[name](**arguments)))


if __name__ == "__main__":
    main()
