"""Sound: what the device played, sample for sample, through SDL's disk driver (which writes it to
a file); the rules for samples and arguments on the dummy driver; and a tone through a real sound
server (a private PulseAudio, the `pulse` tests)."""

import os
import signal
import subprocess
import sys
import threading
import time
from fractions import Fraction
from itertools import pairwise

import numpy as np
import pytest
import sdl

import soundserver
from jxframebuf import Audio, Framebuffer

RATE = 48000


@pytest.fixture
def disk(monkeypatch, tmp_path):
    """The disk driver, writing what the device plays (float32, as opened) to the returned path."""
    played = tmp_path / "played.raw"
    monkeypatch.setenv("SDL_AUDIO_DRIVER", "disk")
    monkeypatch.setenv("SDL_AUDIO_DISK_OUTPUT_FILE", str(played))
    monkeypatch.setenv("SDL_LOGGING", "audio=quiet")  # no warning that the disk driver is in use
    return played


def recorded(path, channels):
    """What the device played, from the first sound on (the device plays silence before it)."""
    frames = np.fromfile(path, np.float32).reshape(-1, channels)
    sounding = np.flatnonzero(frames.any(axis=1))
    assert len(sounding), "nothing but silence was played"
    return frames[sounding[0] :]


def wait_until(condition, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.005)


def test_the_recording_of_a_stream_with_two_voices_over_it(disk):
    # Values that sum and scale exactly in float32 where the voices overlap the stream.
    under = ((np.arange(960 * 2).reshape(-1, 2) % 16) - 8) / 64
    sine = 0.5 * np.sin(np.arange(4800) * 2 * np.pi * 440 / RATE)
    wild = np.array([[2.0, -3.0], [np.nan, np.inf], [-np.inf, 0.75]])  # clipped; NaN is silence
    ints = np.array([[16384, -32768], [32767, -1], [1, 0]], np.int16)
    with Audio(RATE, 2) as audio:
        audio.paused = True
        audio.queue(np.full((1000, 2), 0.9, np.float32))
        audio.clear()  # dropped before it played
        assert audio.queued == 0
        # Many calls of odd sizes, each from the same array, overwritten at once: the samples
        # were copied at the call.
        reused = np.empty((26, 2), np.float32)
        for start in range(0, len(under), 26):
            chunk = under[start : start + 26]
            reused[: len(chunk)] = chunk
            audio.queue(reused[: len(chunk)])
            reused[:] = 0.5
        for start in range(0, 4800, 48):  # float64, 100 calls
            audio.queue(np.stack([sine, -sine], axis=1)[start : start + 48])
        audio.queue(wild)
        audio.queue(ints)
        audio.queue(ints.astype(np.float32) / 32768)
        # One call of several 4,096-frame chunks, each frame its own values, column-major (the
        # channel stride is a column's length).
        ramp = ((np.arange(9000 * 2) % 4093 - 2046) / 4096).reshape(-1, 2)
        audio.queue(np.asfortranarray(ramp))
        loud = audio.play(np.full((300, 2), 0.25, np.float32))
        soft = audio.play(np.full((200, 2), -0.125), volume=0.5)
        audio.volume = 0.5
        time.sleep(0.1)  # several device periods: nothing is taken while paused
        assert audio.queued == pytest.approx(14769 / RATE)
        assert audio.paused and loud.playing and soft.playing
        audio.paused = False
        wait_until(lambda: audio.queued == 0 and not loud.playing and not soft.playing)
        time.sleep(0.05)  # the device writes the last of it
        audio.play(np.zeros((1, 2)))
        assert audio._bound_voices == 1  # the played-out ones were given back

    stream = np.concatenate(
        [under, np.stack([sine, -sine], axis=1), [[1, -1], [0, 1], [-1, 0.75]], ints / 32768,
         ints / 32768, ramp]
    ).astype(np.float32)  # fmt: skip
    expected = stream.copy()
    expected[:300] += 0.25
    expected[:200] += -0.125 * 0.5
    expected *= 0.5
    played = recorded(disk, 2)
    np.testing.assert_array_equal(played[: len(expected)], expected)
    assert not played[len(expected) :].any()


def test_a_looping_voice_repeats_without_a_gap_until_stopped(disk):
    pattern = np.array([0.5, -0.25, 0.125, 0.75, -0.5, 0.25, -0.75], np.float32)
    with Audio(RATE, 1) as audio:
        voice = audio.play(pattern, loop=True)
        time.sleep(0.15)
        assert voice.playing
        voice.stop()
        assert not voice.playing
        time.sleep(0.05)
    # The device opens in stereo at the least (SDL's default), and plays mono on both sides.
    both = recorded(disk, 2)
    np.testing.assert_array_equal(both[:, 0], both[:, 1])
    played = both[:, 0]
    end = np.flatnonzero(played)[-1] + 1
    assert end > 0.1 * RATE
    np.testing.assert_array_equal(played[:end], np.resize(pattern, end))


def test_blocks_queued_from_threads_at_once_stay_whole(disk, monkeypatch):
    monkeypatch.setenv("SDL_AUDIO_DISK_TIMESCALE", "0.0625")  # 16 times as fast
    blocks = [np.full((4096, 2), (n + 1) / 64, np.float32) for n in range(40)]
    with Audio(RATE, 2) as audio:
        audio.paused = True
        workers = [threading.Thread(target=lambda t=t: [audio.queue(b) for b in blocks[t::4]])
                   for t in range(4)]  # fmt: skip
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        audio.paused = False
        wait_until(lambda: audio.queued == 0)
        time.sleep(0.05)
    played = recorded(disk, 2)[: 40 * 4096].reshape(40, 4096 * 2)
    assert (played == played[:, :1]).all()  # each block one value: none mixed with another
    assert sorted(played[:, 0] * 64) == list(range(1, 41))


def test_samples_and_arguments_that_are_refused():
    for rate, channels in [(7999, 2), (192001, 2), (RATE, 0), (RATE, 3)]:
        with pytest.raises(ValueError, match=r"(rate|channels) must be"):
            Audio(rate, channels)
    Audio(192000, 1).close()  # the limits themselves are allowed
    with Audio(8000, 1) as mono, Audio() as stereo:
        assert (mono.rate, mono.channels, stereo.rate, stereo.channels) == (8000, 1, RATE, 2)
        mono.queue(np.zeros(80, np.int16))
        mono.queue(np.zeros((80, 1)))
        mono.play(memoryview(np.zeros(8, np.float32)))  # any buffer
        for audio, bad in [(mono, np.zeros(4, np.int32)), (mono, np.zeros(4, np.float16)),
                           (mono, b"\0\0\0\0"), (stereo, [[0.0, 0.0]])]:  # fmt: skip
            with pytest.raises(TypeError, match="float32, float64 or int16"):
                audio.queue(bad)
            with pytest.raises(TypeError, match="float32, float64 or int16"):
                audio.play(bad)
        for audio, shape in [(stereo, (4,)), (mono, (4, 3)), (stereo, (2, 2, 2))]:
            with pytest.raises(ValueError, match=r"shaped .* got shape"):
                audio.queue(np.zeros(shape, np.float32))
        with pytest.raises(ValueError, match=r"reshape\(-1, 2\).*reshape\(-1, 1\)"):
            stereo.play(np.zeros(4))  # it may be interleaved stereo
        for rate in (999, 384001):
            with pytest.raises(ValueError, match="rate must be 1000 to 384000"):
                stereo.queue(np.zeros((4, 2)), rate=rate)
        with pytest.raises(TypeError):
            stereo.play(np.zeros((4, 2)), False, 1.0, 22050)  # rate is keyword-only
        for volume in (-0.5, float("nan"), float("inf")):
            with pytest.raises(ValueError, match="volume must be"):
                stereo.volume = volume
            with pytest.raises(ValueError, match="volume must be"):
                stereo.play(np.zeros((4, 2)), volume=volume)
        with pytest.raises(
            ValueError, match=r"^Audio\.volume must be at most 3\.40282e\+38 .*not 1e\+39$"
        ):
            stereo.volume = 1e39
        for wrong in (2, None):
            with pytest.raises(TypeError, match="paused must be True or False"):
                stereo.paused = wrong
            with pytest.raises(TypeError, match=r"^play\(\) argument loop must be True or False"):
                stereo.play(np.zeros((4, 2)), loop=wrong)
        stereo.paused = 0
        stereo.volume = 2  # a gain beyond 1 is allowed
        assert stereo.volume == 2.0

        class Broken:
            def __float__(self):
                raise ZeroDivisionError("its own error")

        with pytest.raises(ZeroDivisionError, match="its own error"):
            stereo.play(np.zeros((4, 2)), volume=Broken())


def test_a_closed_audio_refuses_every_member_but_close():
    audio = Audio()
    voice = audio.play(np.zeros((RATE, 2), np.float32))
    # Any thread may use it, closing included.
    worker = threading.Thread(target=lambda: (audio.queue(np.zeros((8, 2))), audio.close()))
    worker.start()
    worker.join()
    audio.close()
    assert not voice.playing
    voice.stop()
    uses = [lambda: audio.queue(np.zeros((8, 2))), lambda: audio.queued, audio.clear,
            lambda: audio.play(np.zeros((8, 2))), lambda: audio.volume, lambda: audio.paused,
            lambda: setattr(audio, "paused", True), lambda: audio.rate, audio.__enter__]  # fmt: skip
    for use in uses:
        with pytest.raises(RuntimeError, match="closed"):
            use()
    with pytest.raises(TypeError, match="has not been called"):
        Audio.__new__(Audio).queue(np.zeros((8, 2)))


def test_the_sound_driver_chosen_and_none_found(monkeypatch, tmp_path):
    # SDL2's spelling counts too; SDL3's wins when both are set. Closing lets SDL's audio go, so
    # the next Audio starts it afresh with what the environment says then, even while the
    # closed one lives on.
    closed = Audio()
    closed.close()
    monkeypatch.setenv("SDL_AUDIO_DRIVER", "nonesuch")
    with pytest.raises(RuntimeError, match=r"nonesuch.*SDL_AUDIO_DRIVER=dummy"):
        Audio()
    monkeypatch.setenv("SDL_AUDIODRIVER", "dummy")
    with pytest.raises(RuntimeError, match="nonesuch"):
        Audio()
    monkeypatch.delenv("SDL_AUDIO_DRIVER")
    Audio().close()
    monkeypatch.setenv("SDL_AUDIODRIVER", "nonesuch")
    with pytest.raises(RuntimeError, match="nonesuch"):
        Audio()
    # Without either, only sound servers that can answer are tried: none here.
    monkeypatch.delenv("SDL_AUDIODRIVER")
    for name in ("PULSE_SERVER", "PIPEWIRE_REMOTE"):
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(tmp_path))
    if not os.path.isdir("/dev/snd") and sys.platform.startswith("linux"):
        with pytest.raises(RuntimeError, match="No sound server or sound card"):
            Audio()


def test_audio_and_framebuffers_outlive_each_other():
    audio = Audio()
    Framebuffer(16, 16, fps=-1).quit()  # the last framebuffer goes; the sound plays on
    audio.queue(np.zeros((4800, 2), np.float32))
    assert audio.queued > 0
    wait_until(lambda: audio.queued == 0)
    fb = Framebuffer(16, 16, fps=-1)
    audio.close()
    fb.flip()
    assert fb.running()
    fb.quit()


ENDS_WITH_A_FROZEN_SERVER = """
import os, signal, time, numpy as np
from jxframebuf import Audio
audio = Audio()
audio.play(np.zeros((4800, 2)), loop=True)
time.sleep(0.2)
os.kill(int(os.environ["SERVER_PID"]), signal.SIGSTOP)
time.sleep(0.2)
"""

# Kills the server it plays into (the parent's child, so only its pid is known here), then polls.
# Exit status 0: the next calls said "sound device lost" once SDL noticed; 3: SDL never noticed (its
# PulseAudio backend can miss a server's end when the device thread is between two waits: the
# thread then sleeps on for good, and SDL cannot shut down in this process); 1: SDL noticed but
# the calls did not say so. os._exit: nothing at exit may wait on such a thread.
KILLS_ITS_SERVER = """
import ctypes, os, signal, time, numpy as np
import jxframebuf
from jxframebuf import Audio
audio = Audio()
os.kill(int(os.environ["SERVER_PID"]), signal.SIGKILL)
deadline = time.monotonic() + 20
while time.monotonic() < deadline:
    try:
        audio.queue(np.zeros((8, 2)))
    except RuntimeError as error:
        try:
            audio.clear()
        except RuntimeError as again:
            os._exit(0 if str(error) == str(again) == "sound device lost" else 1)
        os._exit(1)
    time.sleep(0.005)
sdl = ctypes.CDLL(jxframebuf._jxframebuf.__file__)
sdl.SDL_GetAudioPlaybackDevices.restype = ctypes.c_void_p
sdl.SDL_free.argtypes = [ctypes.c_void_p]
count = ctypes.c_int()
sdl.SDL_free(sdl.SDL_GetAudioPlaybackDevices(ctypes.byref(count)))
os._exit(3 if count.value else 1)
"""


@pytest.mark.pulse
def test_a_frozen_or_restarted_sound_server_neither_hangs_nor_silences(monkeypatch):
    def use(server):
        for name, value in server.env.items():
            monkeypatch.setenv(name, value)

    def frozen(server):
        os.kill(server.process.pid, signal.SIGSTOP)
        return time.monotonic()

    with soundserver.PulseAudio(RATE) as server:
        use(server)
        audio = Audio()
        audio.play(np.zeros((4800, 2)), loop=True)
        # A job started in the background begins with SIGINT ignored, and Python leaves it so;
        # Ctrl-C here is what the default handler makes of it.
        interrupt = signal.signal(signal.SIGINT, signal.default_int_handler)
        try:
            start = frozen(server)
            audio.close()
            assert time.monotonic() - start < 2
            start = time.monotonic()
            with pytest.raises(RuntimeError, match="did not answer"):
                Audio()
            assert time.monotonic() - start < 4
            timer = threading.Timer(0.3, signal.raise_signal, [signal.SIGINT])
            timer.start()
            start = time.monotonic()
            with pytest.raises(KeyboardInterrupt):
                Audio()
            assert time.monotonic() - start < 1
        finally:
            signal.signal(signal.SIGINT, interrupt)
            os.kill(server.process.pid, signal.SIGCONT)
        start = time.monotonic()
        ending = subprocess.run(
            [sys.executable, "-c", ENDS_WITH_A_FROZEN_SERVER],
            env=dict(os.environ, SERVER_PID=str(server.process.pid)), timeout=60, check=False,
        )  # fmt: skip
        os.kill(server.process.pid, signal.SIGCONT)
        assert ending.returncode == 0
        # The interpreter's start and imports included: seconds under the sanitizer.
        assert time.monotonic() - start < 10
    # Killed: the next call says so once SDL has noticed (in a child: see KILLS_ITS_SERVER), on a
    # fresh server each time until SDL does, at most three times.
    for _ in range(3):
        with soundserver.PulseAudio(RATE) as server:
            killed = subprocess.run(
                [sys.executable, "-c", KILLS_ITS_SERVER],
                env=dict(os.environ, **server.env, SERVER_PID=str(server.process.pid)),
                timeout=90, check=False,
            )  # fmt: skip
        assert killed.returncode in (0, 3)
        if killed.returncode == 0:
            break
    assert killed.returncode == 0, "SDL missed the killed server three times"
    # A new server: a new Audio plays on it.
    with soundserver.PulseAudio(RATE) as server:
        use(server)
        with server.record() as recording, Audio(RATE, 2) as again:
            again.queue(np.full((RATE, 2), 0.25, np.float32))
            wait_until(lambda: again.queued == 0)
            time.sleep(0.2)
            heard = recording.stop()
        assert np.abs(heard).max() == pytest.approx(0.25, abs=0.01)
    # What was given up on while the server was frozen has finished by now.
    wait_until(lambda: not sdl.initialised(), 10)


@pytest.mark.pulse
def test_a_queued_tone_reaches_a_real_sound_server(monkeypatch):
    tone = 0.5 * np.sin(np.arange(RATE) * 2 * np.pi * 1234 / RATE)
    with soundserver.PulseAudio(RATE) as server:
        for name, value in server.env.items():
            monkeypatch.setenv(name, value)
        with server.record() as recording, Audio(RATE, 2) as audio:
            for start in range(0, RATE, 800):
                audio.queue(np.stack([tone, tone], axis=1)[start : start + 800])
            wait_until(lambda: audio.queued == 0)
            time.sleep(0.2)
            heard = recording.stop()
    spectrum = np.abs(np.fft.rfft(heard))
    assert np.argmax(spectrum) * RATE / len(heard) == pytest.approx(1234, abs=2)
    assert np.abs(heard).max() == pytest.approx(0.5, abs=0.02)


def test_mono_stereo_and_other_rates_are_converted(disk):
    ramp = (np.arange(-200, 200) / 256).astype(np.float32)
    pair = np.stack([ramp, ramp / 2], axis=1)
    low = 0.5 * np.sin(2 * np.pi * 1000 * np.arange(12000) / 24000)  # 1 kHz at 24 kHz
    with Audio(RATE, 2) as audio:
        audio.paused = True
        audio.queue(ramp.reshape(-1, 1))  # one channel plays on both, exactly
        audio.queue(low.reshape(-1, 1), rate=24000)
        audio.queue(np.zeros((2000, 2)))
        audio.paused = False
        wait_until(lambda: audio.queued == 0)
        time.sleep(0.05)
    played = recorded(disk, 2)
    np.testing.assert_array_equal(played[:400], np.stack([ramp, ramp], axis=1))
    resampled = played[400 : 400 + 24000, 0]
    assert np.argmax(np.abs(np.fft.rfft(resampled))) * RATE / len(resampled) == 1000
    disk.unlink()
    with Audio(RATE, 1) as mono:
        mono.queue(pair)  # two channels mixed as (L + R) / 2, exactly
        wait_until(lambda: mono.queued == 0)
        time.sleep(0.05)
    both = recorded(disk, 2)  # the device is stereo; mono plays on both sides
    np.testing.assert_array_equal(both[:400, 0], (ramp + ramp / 2) / 2)


def test_sound_files_load_and_stream_gaplessly(disk, tmp_path, monkeypatch):
    soundfile = pytest.importorskip("soundfile")
    from jxframebuf import _sound, load_sound

    pattern = ((np.arange(1000 * 2) % 997 - 498) / 512).reshape(-1, 2).astype(np.float32)
    for subtype, step in [("PCM_U8", 1 / 128), ("PCM_16", 1 / 32768), ("PCM_24", 0),
                          ("PCM_32", 0), ("FLOAT", 0)]:  # fmt: skip
        soundfile.write(tmp_path / f"{subtype}.wav", pattern, 22050, subtype=subtype)
        samples, rate = load_sound(tmp_path / f"{subtype}.wav")  # SDL's WAV loader
        assert (samples.dtype, samples.shape, rate) == (np.float32, (1000, 2), 22050)
        np.testing.assert_allclose(samples, pattern, atol=step, rtol=0)
    sine = 0.5 * np.sin(2 * np.pi * 440 * np.arange(RATE) / RATE)
    soundfile.write(tmp_path / "a.ogg", sine, RATE)
    samples, rate = load_sound(str(tmp_path / "a.ogg"))
    assert samples.shape[1] == 1 and abs(len(samples) - RATE) < 1000 and rate == RATE
    assert np.argmax(np.abs(np.fft.rfft(samples[:, 0]))) * RATE / len(samples) == pytest.approx(
        440, abs=2
    )
    with pytest.raises(FileNotFoundError):
        load_sound(tmp_path / "none.ogg")

    # Streamed over its loop point, sample for sample, until the voice stops it.
    soundfile.write(tmp_path / "loop.wav", pattern, RATE, subtype="FLOAT")
    with Audio(RATE, 2) as audio:
        voice = audio.play(tmp_path / "loop.wav", loop=True)
        time.sleep(0.2)
        assert voice.playing
        voice.stop()
        time.sleep(0.05)
        # A decoding error partway ends the voice and is raised by the next call.
        monkeypatch.setattr(_sound, "BLOCK", 100)
        reads = []
        original = soundfile.SoundFile.read

        def failing(self, *args, **kwargs):
            reads.append(1)
            if len(reads) > 2:
                raise RuntimeError("broken frame")
            return original(self, *args, **kwargs)

        monkeypatch.setattr(soundfile.SoundFile, "read", failing)
        broken = audio.play(str(tmp_path / "loop.wav"))
        wait_until(lambda: not broken.playing)
        with pytest.raises(RuntimeError, match=r"loop\.wav failed: broken frame"):
            audio.clear()
        assert audio.queued == 0  # raised once
    played = recorded(disk, 2)
    end = np.flatnonzero(played.any(axis=1))[-1] + 1
    assert end > 3 * len(pattern)
    np.testing.assert_array_equal(played[: end - 200 * 3], np.resize(pattern, (end - 600, 2)))


def test_tones_and_melodies():
    from jxframebuf import melody, tone

    def peak(samples, rate):  # leaving out the constant (a pulse wave has one)
        return (np.argmax(np.abs(np.fft.rfft(samples[:, 0]))[1:]) + 1) * rate / len(samples)

    for wave in ("sine", "square", "pulse", "triangle", "saw"):
        sound = tone("A4", 1.0, wave=wave, rate=8000, duty=0.25)
        assert sound.shape == (8000, 1) and sound.dtype == np.float32
        assert peak(sound, 8000) == 440
        assert np.abs(sound).max() == pytest.approx(0.5, abs=0.01)
    square = tone(1000, 0.01, rate=8000, attack=0, release=0)[:, 0]
    np.testing.assert_array_equal(square, np.resize([0.5] * 4 + [-0.5] * 4, 80))
    assert [round(peak(tone(n, 1, "sine", rate=8000), 8000)) for n in ("C#5", "Eb3", "Cb4")] == [
        554, 156, 247]  # fmt: skip
    np.testing.assert_array_equal(tone(200, 0.5, "noise"), tone(200, 0.5, "noise"))
    with pytest.raises(ValueError, match="unknown note 'H2'"):
        tone("H2", 1)
    with pytest.raises(ValueError, match="wave must be one of"):
        tone(440, 1, wave="organ")

    # Onsets: the exact sum of the lengths before each note, rounded once. At 100 quarters a
    # minute and 8,000 frames a second a whole note is 19,200 frames; thirds fall between frames.
    tune = melody("A4/4 R/8 |: E5/8. :| R/3 A3/3+16 R", tempo=100, wave="sine", rate=8000)
    third = Fraction(1, 3)
    lengths = [Fraction(1, 4), Fraction(1, 8), Fraction(3, 16), Fraction(3, 16), third,
               third + Fraction(1, 16), third + Fraction(1, 16)]  # fmt: skip
    onsets = [round(sum(lengths[:k]) * 19200) for k in range(len(lengths) + 1)]
    assert len(tune) == onsets[-1]
    for (start, end), hz in zip(pairwise(onsets), [440, None, 659.3, 659.3, None, 220, None]):
        part = tune[start:end]
        if hz is None:
            assert not part.any()
        else:
            assert part[10] != 0 and peak(part, 8000) == pytest.approx(hz, abs=5)
            assert part[0] == 0  # each note rises from silence: the repeat starts its own
    with pytest.raises(ValueError, match="cannot read 'C4/x'"):
        melody("C4/x")
