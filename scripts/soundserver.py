"""A private PulseAudio server for hearing what a program plays, without a sound card.

`PulseAudio` starts the daemon (Debian package `pulseaudio`) in a directory of its own, so runs in
parallel never share a server, with one null sink as the default output; `record` captures what
reaches the sink's monitor through `parec` (package `pulseaudio-utils`). A program plays into the
server when its environment carries `server.env` (PULSE_SERVER, and the drivers that SDL 3 and
SDL 2 should use). The tests and the benchmark use this module.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import numpy as np
import numpy.typing as npt

from xsession import stop_process

SINK = "jxfb"


def _environment(home: str) -> dict[str, str]:
    """A clean environment for the server and its tools: no session bus, no user's settings, and
    no LD_PRELOAD (the sanitizer run's runtime is meant for Python alone)."""
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "XDG_RUNTIME_DIR": home}


class PulseAudio:
    """A PulseAudio daemon with a null sink `SINK` at `rate` Hz, stopped on exit."""

    def __init__(self, rate: int = 48000) -> None:
        if shutil.which("pulseaudio") is None or shutil.which("parec") is None:
            raise RuntimeError(
                "pulseaudio and parec are not installed (Debian packages 'pulseaudio' and "
                "'pulseaudio-utils'); run scripts/setup.sh"
            )
        self.rate = rate
        self.home = tempfile.mkdtemp(prefix="jxfb-pulse-")
        socket = Path(self.home) / "native"
        self.server = f"unix:{socket}"
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
             "--disable-shm=yes", "--log-level=error",
             "-L", f"module-native-protocol-unix socket={socket} auth-anonymous=1",
             "-L", f"module-null-sink sink_name={SINK} rate={rate} channels=2"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            env=_environment(self.home), cwd=self.home,
        )  # fmt: skip
        try:
            self._wait_ready()
        except BaseException:
            self.stop()
            raise

    def _wait_ready(self) -> None:
        deadline = time.monotonic() + 10
        while True:
            if self.process.poll() is not None:
                _, err = self.process.communicate()
                raise RuntimeError(f"pulseaudio exited at start: {err.decode().strip()}")
            ready = subprocess.run(
                ["pactl", f"--server={self.server}", "info"],
                env=_environment(self.home), capture_output=True,
            )  # fmt: skip
            if ready.returncode == 0:
                return
            if time.monotonic() > deadline:
                raise RuntimeError("pulseaudio did not answer within 10 s")
            time.sleep(0.05)

    @property
    def env(self) -> dict[str, str]:
        """What a program's environment needs to play into this server (SDL 3 and SDL 2)."""
        return {"PULSE_SERVER": self.server, "SDL_AUDIO_DRIVER": "pulseaudio",
                "SDL_AUDIODRIVER": "pulseaudio"}  # fmt: skip

    def record(self, latency_ms: int = 5) -> Recording:
        """Starts recording the sink's monitor: mono float32 at the sink's rate."""
        return Recording(self.server, self.rate, latency_ms)

    def stop(self) -> None:
        stop_process(self.process)
        if self.process.stderr:
            self.process.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def __enter__(self) -> PulseAudio:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


class Recording:
    """`parec` recording the monitor of a server's sink, read as it comes by a thread of its own
    (a pipe left unread would stall parec), each read noted with its arrival time."""

    def __init__(self, server: str, rate: int, latency_ms: int = 5) -> None:
        self.rate = rate
        self.process = subprocess.Popen(
            ["parec", f"--server={server}", f"--device={SINK}.monitor", "--raw",
             "--format=float32le", f"--rate={rate}", "--channels=1",
             f"--latency-msec={latency_ms}"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            env=_environment(tempfile.gettempdir()),
        )  # fmt: skip
        self._lock = threading.Lock()
        self._data = bytearray()
        self._arrivals: list[tuple[float, int]] = []  # (time.perf_counter(), samples so far)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self) -> None:
        assert self.process.stdout is not None
        fd = self.process.stdout.fileno()
        while chunk := os.read(fd, 65536):
            now = time.perf_counter()
            with self._lock:
                self._data += chunk
                self._arrivals.append((now, len(self._data) // 4))

    def samples(self) -> npt.NDArray[np.float32]:
        """Everything recorded so far."""
        with self._lock:
            return np.frombuffer(bytes(self._data[: len(self._data) // 4 * 4]), np.float32)

    def arrival(self, index: int) -> float:
        """When sample `index` reached this process (time.perf_counter()): the arrival of the read
        that brought it, less the time the samples after it in that read took to play."""
        with self._lock:
            for when, count in self._arrivals:
                if count > index:
                    return when - (count - 1 - index) / self.rate
        raise ValueError(f"sample {index} has not arrived")

    def stop(self) -> npt.NDArray[np.float32]:
        """Ends the recording and returns all of it."""
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()
        self._reader.join()
        assert self.process.stdout is not None
        self.process.stdout.close()
        return self.samples()

    def __enter__(self) -> Recording:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()
