"""Sound files and the synthesiser: load_sound, Audio.play of a path (streamed), tone and melody.

WAV files are read by SDL's own loader (in the extension); Ogg Vorbis, FLAC and MP3 by libsndfile
through `soundfile`, an optional dependency. A streamed file is decoded a little ahead of the device
by a thread of its own: libsndfile decodes with the interpreter lock let go, and the thread takes
the lock only to hand each block (a tenth of a second) to the voice's SDL stream. NumPy is imported
by the functions that need it, not with the package.
"""

from __future__ import annotations

import math
import os
import re
import threading
import time
import weakref
from fractions import Fraction
from typing import TYPE_CHECKING, Any

from ._jxframebuf import _load_wav  # type: ignore[import-not-found]

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

INSTALL = "pip install jxframebuf[sound]"
MIN_RATE, MAX_RATE = 1000, 384000
WAVES = ("sine", "square", "pulse", "triangle", "saw", "noise")
NOISE_SEED = 0x5EED  # every noise tone of a pitch and rate is the same sound
AHEAD = 0.5  # seconds of a streamed file decoded ahead of the device
START = 0.1  # seconds decoded by play() itself, before its thread takes over
BLOCK = 4096  # frames decoded at a time


def _soundfile(caller: str) -> Any:
    """The soundfile module, or the ImportError that says how to get it."""
    try:
        import soundfile  # type: ignore[import-untyped]
    except ImportError as error:
        raise ImportError(
            f"{caller} needs soundfile (libsndfile) for Ogg Vorbis, FLAC and MP3 files, an "
            f"optional dependency: {INSTALL}"
        ) from error
    return soundfile


def _is_wav(path: str) -> bool:
    with open(path, "rb") as file:  # FileNotFoundError and the rest, as Python says them
        head = file.read(12)
    return head[:4] in (b"RIFF", b"RF64") and head[8:12] == b"WAVE"


def _path(path: object, caller: str) -> str:
    if not isinstance(path, str | os.PathLike):
        raise TypeError(f"{caller} expects a path (str or os.PathLike), not {type(path).__name__}")
    name = os.fspath(path)
    if not isinstance(name, str):
        raise TypeError(f"{caller} expects a path (str or os.PathLike), not bytes")
    return name


def load_sound(path: str | os.PathLike[str]) -> tuple[npt.NDArray[np.float32], int]:
    name = _path(path, "load_sound()")
    if _is_wav(name):
        samples, rate = _load_wav(name)
        return samples, rate
    import numpy as np

    soundfile = _soundfile("load_sound()")
    data, rate = soundfile.read(name, dtype="float32", always_2d=True)
    return np.ascontiguousarray(data), int(rate)


# --- Streaming ------------------------------------------------------------------------------------


def stream(audio: Any, path: object, loop: object, volume: float, rate: int | None) -> Any:
    """Audio.play of a path: the voice, fed by a thread of its own as it plays."""
    name = _path(path, "play()")
    # The refusals of a wrong loop, volume or rate, at once.
    audio.play(_silent(), loop=loop, volume=volume, rate=rate)
    try:
        soundfile = _soundfile("play() of a file")
    except ImportError:
        if not _is_wav(name):
            raise
        samples, own = _load_wav(name)  # without soundfile, a WAV is read whole
        return audio.play(samples, loop, volume, rate=rate or own)
    file = soundfile.SoundFile(name)
    try:
        if file.channels > 2:
            raise ValueError(f"play() plays files of 1 or 2 channels; {name} has {file.channels}")
        voice = audio._stream(file.channels, rate or file.samplerate, volume)
    except BaseException:
        file.close()
        raise
    # The start is decoded here, so that the thread has START seconds of sound to catch up in
    # (a short looping file would otherwise reach its end before the thread first ran).
    try:
        going, fresh = _fill(voice, file, bool(loop), True, START)
    except Exception as error:
        file.close()
        _failed(audio, voice, name, error)
        return voice
    except BaseException:
        file.close()
        voice.stop()
        raise
    if not going:
        file.close()
        return voice
    feeder = threading.Thread(
        target=_feed, args=(weakref.ref(audio), voice, file, bool(loop), name, fresh), daemon=True,
        name=f"jxframebuf: {os.path.basename(name)}",
    )  # fmt: skip
    feeder.start()
    return voice


def _fill(voice: Any, file: Any, loop: bool, fresh: bool, ahead: float) -> tuple[bool, bool]:
    """Decodes `file` into `voice` until more than `ahead` seconds wait in it. Returns (going,
    fresh): going is False once the file has ended (the voice told so) or the voice has stopped;
    fresh while nothing was read since the file's start (an empty file ends even in a loop)."""
    while voice._buffered <= ahead:
        block = file.read(BLOCK, dtype="float32", always_2d=True)
        if len(block) == 0:
            if loop and not fresh:
                file.seek(0)
                fresh = True
                continue
            voice._finish()
            return False, fresh
        fresh = False
        if not voice._feed(block, file.channels):
            return False, fresh  # stopped, or its Audio closed
    return True, fresh


def _feed(audio: weakref.ref[Any], voice: Any, file: Any, loop: bool, name: str,
          fresh: bool) -> None:  # fmt: skip
    try:
        with file:
            while True:
                going, fresh = _fill(voice, file, loop, fresh, AHEAD)
                if not going or not voice.playing:
                    return
                time.sleep(0.02)
    except Exception as error:
        owner = audio()
        if owner is not None:
            _failed(owner, voice, name, error)
        else:
            voice.stop()


def _failed(audio: Any, voice: Any, name: str, error: Exception) -> None:
    """A file found broken partway: its voice ends and the Audio's next call raises."""
    voice.stop()
    audio._fail(f"playing {name} failed: {error}")


# --- The synthesiser ------------------------------------------------------------------------------

NOTE = re.compile(r"([A-Ga-g])([#b]?)(-?\d+)")
SEMITONES = {"c": 0, "d": 2, "e": 4, "f": 5, "g": 7, "a": 9, "b": 11}


def note_frequency(name: str) -> float:
    """A note name in scientific pitch ("A4" = 440 Hz, "C#5", "Eb3", "Cb4" = B3) in Hz, equal
    temperament."""
    match = NOTE.fullmatch(name)
    if match is None:
        raise ValueError(
            f"unknown note {name!r}: a letter A to G, an optional # or b, and an octave, as in "
            "'A4' (440 Hz), 'C#5' or 'Eb3'"
        )
    letter, accidental, octave = match.groups()
    key = (int(octave) + 1) * 12 + SEMITONES[letter.lower()] + {"#": 1, "b": -1, "": 0}[accidental]
    return 440.0 * 2.0 ** ((key - 69) / 12)


def _number(value: object, name: str, low: float, high: float = math.inf) -> float:
    if isinstance(value, bool) or (
        not isinstance(value, int | float) and not hasattr(value, "__float__")
    ):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    number = float(value)  # type: ignore[arg-type]
    if not (low <= number <= high) or math.isnan(number):
        top = "" if high == math.inf else f" to {high:g}"
        raise ValueError(f"{name} must be {low:g}{top}, not {number:g}")
    return number


def _rate(rate: object, caller: str) -> int:
    if isinstance(rate, bool) or not hasattr(rate, "__index__"):
        raise TypeError(f"{caller} argument rate must be an integer, not {type(rate).__name__}")
    value = rate.__index__()  # type: ignore[attr-defined]
    if not MIN_RATE <= value <= MAX_RATE:
        raise ValueError(f"{caller} argument rate must be {MIN_RATE} to {MAX_RATE}, not {value}")
    return int(value)


def _wave(wave: object, caller: str) -> str:
    if wave not in WAVES:
        raise ValueError(f"{caller} argument wave must be one of {', '.join(WAVES)}; not {wave!r}")
    return str(wave)


def _render(hz: float, frames: int, wave: str, volume: float, rate: int, attack: float,
            release: float, duty: float) -> npt.NDArray[np.float32]:  # fmt: skip
    import numpy as np

    cycles = np.arange(frames) * (hz / rate)  # float64: exact enough for minutes of sound
    phase = cycles % 1.0
    if wave == "sine":
        out = np.sin(2 * np.pi * phase)
    elif wave in ("square", "pulse"):
        out = np.where(phase < (0.5 if wave == "square" else duty), 1.0, -1.0)
    elif wave == "triangle":
        out = 1.0 - 4.0 * np.abs(phase - 0.5)
    elif wave == "saw":
        out = 2.0 * phase - 1.0
    else:  # noise: a new random level each cycle, the same levels for every call
        levels = np.random.default_rng(NOISE_SEED).uniform(
            -1.0, 1.0, int(cycles[-1]) + 2 if frames else 1
        )
        out = levels[cycles.astype(np.int64)]
    # Linear ramps at the ends, each at most half the tone, so that it starts and stops without
    # a click.
    envelope = np.ones(frames)
    for seconds, ramp in ((attack, slice(None)), (release, slice(None, None, -1))):
        n = min(round(seconds * rate), frames // 2)
        if n > 0:
            envelope[ramp][:n] = np.minimum(envelope[ramp][:n], np.arange(n) / n)
    return (out * envelope * volume).astype(np.float32).reshape(-1, 1)


def tone(
    pitch: float | str,
    seconds: float,
    wave: str = "square",
    volume: float = 0.5,
    rate: int = 48000,
    attack: float = 0.005,
    release: float = 0.02,
    duty: float = 0.5,
) -> npt.NDArray[np.float32]:
    hz = note_frequency(pitch) if isinstance(pitch, str) else _number(pitch, "pitch", 0.0)
    if hz <= 0:
        raise ValueError(f"pitch must be above 0 Hz, not {hz:g}")
    seconds = _number(seconds, "seconds", 0.0)
    rate = _rate(rate, "tone()")
    return _render(hz, round(seconds * rate), _wave(wave, "tone()"),
                   _number(volume, "volume", 0.0, 1.0), rate, _number(attack, "attack", 0.0),
                   _number(release, "release", 0.0), _number(duty, "duty", 0.0, 1.0))  # fmt: skip


TOKEN = re.compile(r"(?P<note>[A-Ga-g][#b]?-?\d+|[Rr])(?:/(?P<length>\d+\.?(?:\+\d+\.?)*))?")


def _parse(notes: str) -> list[tuple[float | None, Fraction]]:
    """The notes as (Hz or None for a rest, length in whole notes)."""
    if not isinstance(notes, str):
        raise TypeError(f"melody() expects its notes as a str, not {type(notes).__name__}")
    words = notes.split()
    # |: ... :| plays what is between them twice.
    expanded: list[str] = []
    start: int | None = None
    for word in words:
        if word == "|:":
            if start is not None:
                raise ValueError("melody(): a repeat '|:' inside another; repeats do not nest")
            start = len(expanded)
        elif word == ":|":
            expanded += expanded[start or 0 :]
            start = None
        else:
            expanded.append(word)
    if start is not None:
        raise ValueError("melody(): a repeat '|:' without its ':|'")
    parsed: list[tuple[float | None, Fraction]] = []
    length = Fraction(1, 4)
    for word in expanded:
        match = TOKEN.fullmatch(word)
        if match is None:
            raise ValueError(
                f"melody(): cannot read {word!r}: a note ('C4', 'F#3', 'Bb5') or 'R' for a rest, "
                "then optionally '/4' for a quarter ('/1', '/2', '/8', '/16', ...), a '.' to "
                "dot it and '+8' to tie on more, as in 'C4/4.' or 'G4/2+8'"
            )
        if match["length"]:
            length = Fraction(0)
            for part in match["length"].split("+"):
                value = Fraction(1, int(part.rstrip(".")) or 1)
                length += value * Fraction(3, 2) if part.endswith(".") else value
        hz = None if match["note"] in "Rr" else note_frequency(match["note"])
        parsed.append((hz, length))
    return parsed


def melody(
    notes: str,
    tempo: float = 120,
    wave: str = "square",
    volume: float = 0.5,
    rate: int = 48000,
) -> npt.NDArray[np.float32]:
    import numpy as np

    tempo = _number(tempo, "tempo", 1e-3)
    rate = _rate(rate, "melody()")
    wave = _wave(wave, "melody()")
    volume = _number(volume, "volume", 0.0, 1.0)
    frames_per_whole = Fraction(tempo).limit_denominator(10**6)  # quarters a minute
    frames_per_whole = 4 * 60 * rate / frames_per_whole
    pieces = []
    elapsed = Fraction(0)
    onset = 0
    for hz, length in _parse(notes):
        elapsed += length
        end = round(elapsed * frames_per_whole)  # exact sum, rounded once
        frames = end - onset
        if hz is None:
            pieces.append(np.zeros((frames, 1), np.float32))
        else:
            pieces.append(_render(hz, frames, wave, volume, rate, 0.005, 0.02, 0.5))
        onset = end
    return np.concatenate(pieces) if pieces else np.zeros((0, 1), np.float32)


def _silent() -> Any:
    import numpy as np

    return np.zeros((0, 1), np.float32)
