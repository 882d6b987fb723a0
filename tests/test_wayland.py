"""A real window on Wayland: a headless weston, started for this session, with its own runtime
directory and socket, and a framebuffer on SDL's wayland driver in a child process (no DISPLAY, so
SDL cannot fall back to X11). weston's screenshooter reads the picture back."""

import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

pytestmark = pytest.mark.wayland

# The child: a 64x40 picture at scale 3, a blue field with a yellow block, 60 paced frames; then it
# keeps flipping until told to stop, so the screenshot sees a live window.
CHILD = r"""
import ctypes, select, sys, time
import jxframebuf

sdl = ctypes.CDLL(jxframebuf._jxframebuf.__file__)
sdl.SDL_GetCurrentVideoDriver.restype = ctypes.c_char_p
fb = jxframebuf.Framebuffer(64, 40, scale=3, fps=60)
print("driver", sdl.SDL_GetCurrentVideoDriver().decode(), flush=True)
fb.title = "\U0001F600" * 1000  # the longest title taken: 4,000 bytes in one protocol message
fb.palette()[5] = 0xFF3366CC
fb.palette()[6] = 0xFFFFCC00
pixels = fb.buffer()
pixels[:] = 5
pixels[10:20, 20:40] = 6
start = time.perf_counter()
for _ in range(60):
    assert fb.running()
    fb.flip()
print("frames 60 in", time.perf_counter() - start, flush=True)
while not select.select([sys.stdin], [], [], 0)[0]:
    assert fb.running()
    fb.flip()
fb.quit()
print("closed", flush=True)
"""


def weston_command(socket: str) -> list[str]:
    """weston's headless backend with the pixman renderer (the default one draws nothing, so the
    screenshooter would wait forever); weston 12 renamed both options."""
    version = subprocess.run(["weston", "--version"], capture_output=True, text=True).stdout
    major = int(re.search(r"(\d+)\.", version).group(1))
    if major < 12:
        backend = ["--backend=headless-backend.so", "--use-pixman"]
    else:
        backend = ["--backend=headless", "--renderer=pixman"]
    # --debug lets clients use the screenshooter; --idle-time=0 keeps the screen from blanking.
    return ["weston", *backend, f"--socket={socket}", "--idle-time=0", "--debug"]


def without(*names: str) -> dict[str, str]:
    return {k: v for k, v in os.environ.items() if k not in names}


class Weston:
    def __init__(self, runtime: Path):
        self.runtime = runtime
        self.socket = f"jxframebuf-{os.getpid()}"
        # What a client needs to find this server.
        self.client_env = {"XDG_RUNTIME_DIR": str(runtime), "WAYLAND_DISPLAY": self.socket}
        # weston and its screenshooter are not ours to check under `make sanitize`: the sanitizer
        # runtime in LD_PRELOAD is meant for Python.
        self.env = without("LD_PRELOAD", "DISPLAY") | self.client_env
        self.log = runtime / "weston.log"
        with self.log.open("w") as log:
            self.process = subprocess.Popen(
                weston_command(self.socket),
                env=self.env,
                cwd=runtime,
                stdin=subprocess.DEVNULL,
                stdout=log,
                stderr=subprocess.STDOUT,
            )
        deadline = time.monotonic() + 15
        while not (runtime / self.socket).exists():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                pytest.fail(f"weston did not start:\n{self.log.read_text()[-2000:]}")
            time.sleep(0.05)

    def screenshot(self) -> Image.Image:
        shots = self.runtime / "shots"
        shots.mkdir(exist_ok=True)
        subprocess.run(["weston-screenshooter"], env=self.env, cwd=shots, timeout=30, check=True)
        (path,) = shots.glob("*.png")
        image = Image.open(path).convert("RGB")
        path.unlink()
        return image

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


@pytest.fixture(scope="session")
def weston(tmp_path_factory):
    if shutil.which("weston") is None:
        # scripts/setup.sh installs it; in CI its absence is a failure, not a skip.
        message = "weston is not installed (Debian package weston)"
        if os.environ.get("CI"):
            pytest.fail(message)
        pytest.skip(message)
    runtime = tmp_path_factory.mktemp("wayland")
    runtime.chmod(0o700)  # what libwayland asks of XDG_RUNTIME_DIR
    server = Weston(runtime)
    yield server
    server.close()


def bounding_box(image: Image.Image, rgb: tuple[int, int, int]):
    """(left, top, right, bottom) of the pixels of exactly that colour, or None."""
    ys, xs = np.nonzero(np.all(np.asarray(image) == rgb, axis=-1))
    if len(xs) == 0:
        return None
    return (int(xs.min()), int(ys.min()), int(xs.max()) + 1, int(ys.max()) + 1)


def test_window_on_wayland_shows_the_picture(weston):
    env = without("DISPLAY") | weston.client_env | {"SDL_VIDEO_DRIVER": "wayland"}
    shot = None
    with subprocess.Popen(
        [sys.executable, "-c", CHILD],
        env=env,
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    ) as child:
        try:
            driver = child.stdout.readline().split()
            frames = child.stdout.readline().split()
            if frames[:3] == ["frames", "60", "in"]:
                shot = weston.screenshot()
        finally:
            try:
                out, err = child.communicate("stop\n", timeout=30)
            except subprocess.TimeoutExpired:
                child.kill()
                raise
    assert child.returncode == 0, err
    assert driver == ["driver", "wayland"]
    # 59 frame periods between the first flip and the last at 60 fps: paced, not free-running;
    # and the window was never reported closed.
    assert 0.9 < float(frames[-1]) < 10
    assert out.split() == ["closed"]

    # The window is the picture magnified 3 times, with no border of another colour inside it:
    # a 192x120 block of blue with a 60x30 block of yellow at (60, 30) in it.
    blue = bounding_box(shot, (0x33, 0x66, 0xCC))
    assert blue is not None, "the window is not on the screen"
    left, top, right, bottom = blue
    assert (right - left, bottom - top) == (192, 120)
    assert bounding_box(shot, (0xFF, 0xCC, 0x00)) == (left + 60, top + 30, left + 120, top + 60)


def wayland_child(program, server, **popen):
    env = without("DISPLAY") | server.client_env | {"SDL_VIDEO_DRIVER": "wayland"}
    return subprocess.Popen([sys.executable, "-c", program], env=env, text=True, **popen)


def test_a_thread_refused_the_window_exits_after_it_is_gone(weston):
    # The worker's flip() once set up thread-local state in the client library that crashed the
    # process when the worker ended after quit() had unloaded the library.
    program = """
import threading
from jxframebuf import Framebuffer
fb = Framebuffer(32, 24, fps=0)
fb.flip()
refused = []
def worker():
    try:
        fb.flip()
    except RuntimeError:
        refused.append(True)
    done.wait()
done = threading.Event()
thread = threading.Thread(target=worker)
thread.start()
fb.quit()
done.set()
thread.join()
print("refused" if refused else "flipped", flush=True)
"""
    child = wayland_child(program, weston, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = child.communicate(timeout=30)
    assert (child.returncode, out) == (0, "refused\n"), err


def test_a_lost_compositor_ends_the_loop_and_the_program_shuts_down_as_written(weston, tmp_path):
    from test_window import DISPLAY_LOST, LOST_STORY

    runtime = tmp_path / "lost"
    runtime.mkdir(mode=0o700)
    server = Weston(runtime)
    try:
        child = wayland_child(DISPLAY_LOST, server, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            assert child.stdout.readline() == "looping\n"
            server.close()  # quit() used to wait forever for the compositor to answer
            out, err = child.communicate(timeout=20)
        finally:
            child.kill()
            child.communicate()
    finally:
        server.close()
    assert child.returncode == 0, err
    assert out.splitlines() == LOST_STORY[1:]
