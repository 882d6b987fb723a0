# Scope: a tune synthesised with NumPy, streamed to Audio.queue a frame at a time, and the wave
# being heard drawn as an oscilloscope trace that fades like phosphor.
#
# The whole tune is made up front (plucked notes over a bass line, from a list of MIDI notes);
# every frame tops the stream up to a few frames ahead, as an emulator or a synthesiser would, and
# `queued` tells how far behind the sound the drawing must look to show what is heard now. The
# trace starts at a rising zero crossing, so a steady note stands still. Without a sound device it
# runs silently at the same pace.
import sys
from collections import deque

import numpy as np
import numpy.typing as npt

from jxframebuf import Audio, Framebuffer

WIDTH, HEIGHT = 320, 200
RATE, FPS = 48000, 60
BLOCK = RATE // FPS  # samples a frame
AHEAD = 4 * BLOCK / RATE  # seconds kept queued
TEMPO = 0.2  # seconds an eighth note
# (MIDI note, eighths): a melody over C, A minor, F and G; 0 is a rest.
MELODY = [(72, 2), (76, 1), (79, 1), (84, 2), (79, 2), (81, 2), (76, 1), (72, 1), (69, 4),
          (77, 2), (81, 1), (84, 1), (81, 2), (77, 2), (79, 3), (74, 1), (71, 2), (0, 2)]  # fmt: skip
BASS = [(48, 8), (45, 8), (41, 8), (43, 8)]
NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
TRACE, GRID = 15, 16  # palette: 1..15 the trace fading out, 16 the grid


def notes(
    score: list[tuple[int, int]], harmonics: list[float], decay: float
) -> npt.NDArray[np.float64]:
    """The score played by a plucked instrument: harmonics of each note, fading from its start."""
    parts = []
    for note, eighths in score:
        t = np.arange(int(eighths * TEMPO * RATE)) / RATE
        wave = np.zeros_like(t)
        if note:
            f = 440 * 2 ** ((note - 69) / 12)
            for k, weight in enumerate(harmonics, 1):
                wave += weight * np.sin(2 * np.pi * k * f * t)
            wave *= np.exp(-t * decay) * np.minimum(t * 400, 1)  # no click at the onset
        parts.append(wave)
    return np.concatenate(parts)


def tune() -> tuple[npt.NDArray[np.float32], list[tuple[int, str]]]:
    """The tune's samples, and where each melody note starts (sample, name)."""
    melody = notes(MELODY, [0.5, 0.2, 0.1], decay=3)
    bass = notes(BASS, [0.4, 0.15], decay=1)
    samples = (0.6 * (melody + bass[: len(melody)])).astype(np.float32)
    starts, at = [], 0
    for note, eighths in MELODY:
        starts.append((at, f"{NAMES[note % 12]}{note // 12 - 1}" if note else "-"))
        at += int(eighths * TEMPO * RATE)
    return samples, starts


def trace(
    recent: deque[npt.NDArray[np.float32]], queued: float
) -> tuple[npt.NDArray[np.int_], int]:
    """The trace of what is heard now (a y for each x) from the blocks sent lately, of which the
    last `queued` seconds have not played yet; and how many samples that is. It starts at a rising
    zero crossing, so a steady note stands still."""
    pending = int(queued * RATE)
    heard = np.concatenate(recent)[: len(recent) * BLOCK - pending][-(BLOCK + WIDTH) :]
    rising = np.flatnonzero((heard[:-1] < 0) & (heard[1:] >= 0))
    first = int(rising[0]) if len(rising) and rising[0] < BLOCK else 0
    ys = (HEIGHT / 2 - heard[first : first + WIDTH] * (HEIGHT * 0.45)).astype(int)
    return ys, pending


def palette(fb: Framebuffer) -> None:
    colours = fb.palette()
    for i in range(1, TRACE + 1):
        colours[i] = 0xFF000000 | (i * 4 << 16) | (i * 17 << 8) | (i * 6)
    colours[GRID] = 0xFF182818


def main() -> None:
    fb = Framebuffer(WIDTH, HEIGHT, scale=3, fps=FPS)
    fb.title = "Scope"
    palette(fb)
    try:
        audio: Audio | None = Audio(RATE, channels=1)
    except RuntimeError as error:
        print(f"scope: playing silently: {error}", file=sys.stderr)
        audio = None
    samples, starts = tune()
    pixels = fb.buffer()
    grid = np.zeros((HEIGHT, WIDTH), bool)
    grid[::25, :] = grid[:, ::40] = True
    fade = np.maximum(np.arange(256) - 2, 0).astype(np.uint8)  # each frame dims the trace
    fade[GRID] = 0
    recent: deque[npt.NDArray[np.float32]] = deque(maxlen=8)
    sent = 0  # samples sent so far
    while fb.running() and not fb.pressed("Escape"):
        # Top the stream up; without sound, a block a frame keeps the same pace.
        while True:
            block = np.take(samples, range(sent, sent + BLOCK), mode="wrap")
            recent.append(block)
            sent += BLOCK
            if not audio:
                break
            audio.queue(block)
            if audio.queued >= AHEAD:
                break
        # What is heard now is the end of what was sent, less what is still queued.
        ys, pending = trace(recent, audio.queued if audio else 0.0)
        pixels[:] = fade[pixels]
        pixels[grid & (pixels == 0)] = GRID
        for x in range(len(ys) - 1):
            fb.line(x, int(ys[x]), x + 1, int(ys[x + 1]), TRACE)
        position = (sent - pending) % len(samples)
        name = next(n for at, n in reversed(starts) if at <= position)
        fb.rect(0, 0, WIDTH, 10, 0)
        fb.text(4, 1, f"NOTE {name:<3}   QUEUED {pending * 1000 // RATE:3} MS", TRACE)
        fb.flip()
    fb.quit()
    if audio:
        audio.close()


if __name__ == "__main__":
    main()
