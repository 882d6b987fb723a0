"""Running the examples (and the tests) on a machine without a screen.

When DISPLAY is unset, `Demo` starts a private Xvfb server, runs the example for a few seconds,
saves a PNG screenshot of the real window and prints the frame rate. With a screen it stays out of
the way: the example runs until its window is closed.

The X11 helpers (`Xvfb`, `find_windows`, `grab`, `request_close`) read the window back from the X
server itself, so what they see is what a person would see.
"""

from __future__ import annotations

import os
import select
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from Xlib.display import Display
    from Xlib.xobject.drawable import Window

TITLE = "JXFramebuffer"
SCREENSHOTS = Path(__file__).resolve().parent.parent / "build" / "screenshots"


class Xvfb:
    """A private X server on a free display number, stopped on exit."""

    def __init__(self, screen: str = "1920x1200x24") -> None:
        if shutil.which("Xvfb") is None:
            raise RuntimeError(
                "Xvfb is not installed (Debian package 'xvfb'); run scripts/setup.sh"
            )
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen, "-nolisten", "tcp"],
            pass_fds=(write_fd,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write_fd)
        # Xvfb writes its display number to the pipe once it accepts connections.
        number = b""
        deadline = time.monotonic() + 10
        try:
            while not number.endswith(b"\n"):
                if not select.select([read_fd], [], [], max(0.0, deadline - time.monotonic()))[0]:
                    raise RuntimeError("Xvfb did not start within 10 s")
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise RuntimeError(f"Xvfb exited with status {self.process.wait()}")
                number += chunk
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_fd)
        self.display = ":" + number.decode().strip()

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def __enter__(self) -> Xvfb:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


_connections: dict[str, Display] = {}


def _connect(name: str | None = None) -> Display:
    """A connection to the X server `name` (default: $DISPLAY), kept open for reuse."""
    from Xlib import display

    name = name or os.environ["DISPLAY"]
    if name not in _connections:
        _connections[name] = display.Display(name)
    return _connections[name]


def find_windows(pid: int | None = None) -> list[Window]:
    """The mapped top-level framebuffer windows of process `pid` (default: this one)."""
    from Xlib import X

    conn = _connect()
    pid = os.getpid() if pid is None else pid
    net_wm_pid = conn.intern_atom("_NET_WM_PID")
    net_wm_name = conn.intern_atom("_NET_WM_NAME")
    found = []
    for window in conn.screen().root.query_tree().children:
        try:
            name = window.get_full_property(net_wm_name, X.AnyPropertyType)
            if name is None or bytes(name.value) != TITLE.encode():
                continue
            if window.get_attributes().map_state != X.IsViewable:
                continue
            prop = window.get_full_property(net_wm_pid, X.AnyPropertyType)
        except Exception:  # the window went away while we looked
            continue
        if prop is not None and int(prop.value[0]) == pid:
            found.append(window)
    return found


def find_window(pid: int | None = None, timeout: float = 5.0) -> Window:
    """The one framebuffer window of process `pid`, waiting for it to be mapped."""
    pid = os.getpid() if pid is None else pid
    deadline = time.monotonic() + timeout
    while True:
        windows = find_windows(pid)
        if len(windows) == 1:
            return windows[0]
        if time.monotonic() > deadline:
            raise LookupError(f"expected one {TITLE} window of pid {pid}, found {len(windows)}")
        time.sleep(0.02)


def grab(window: Window) -> npt.NDArray[np.uint8]:
    """The window's contents as an (height, width, 3) array of RGB bytes."""
    from Xlib import X

    geometry = window.get_geometry()
    image = window.get_image(0, 0, geometry.width, geometry.height, X.ZPixmap, 0xFFFFFFFF)
    # 24-bit visuals come back as 32-bit little-endian pixels: B, G, R, unused.
    bgrx = np.frombuffer(image.data, dtype=np.uint8).reshape(geometry.height, geometry.width, 4)
    return bgrx[:, :, 2::-1].copy()


def request_close(window: Window) -> None:
    """Ask the window to close, as a window manager does when its close button is clicked."""
    from Xlib import X
    from Xlib.protocol import event

    conn = _connect()
    protocols = conn.intern_atom("WM_PROTOCOLS")
    delete = conn.intern_atom("WM_DELETE_WINDOW")
    message = event.ClientMessage(
        window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0])
    )
    window.send_event(message, event_mask=X.NoEventMask)
    conn.flush()


def save_png(rgb: npt.NDArray[np.uint8], path: Path) -> None:
    from PIL import Image

    path.parent.mkdir(parents=True, exist_ok=True)
    Image.fromarray(rgb, "RGB").save(path)


class Demo:
    """Frame bookkeeping for an example, headless or not.

    Without a screen it starts a private Xvfb, ends the loop after `seconds` (environment
    JXFB_DEMO_SECONDS overrides), and `finish` saves a screenshot of the window (to
    JXFB_SCREENSHOT, or build/screenshots/<name>.png).
    """

    def __init__(self, name: str, seconds: float = 3.0) -> None:
        self.name = name
        self.xvfb = None
        if not os.environ.get("DISPLAY"):
            self.xvfb = Xvfb()
            os.environ["DISPLAY"] = self.xvfb.display
            seconds = float(os.environ.get("JXFB_DEMO_SECONDS", seconds))
            self.deadline = time.perf_counter() + seconds
        else:
            self.deadline = float("inf")
        self.frames = 0
        self.started = 0.0

    def next_frame(self) -> bool:
        """Counts a frame; False once a headless run has had its time."""
        now = time.perf_counter()
        if self.frames == 0:
            self.started = now
        self.frames += 1
        return now < self.deadline

    def finish(self) -> None:
        # Frames counted from the first one, so set-up time does not dilute the rate.
        elapsed = time.perf_counter() - self.started
        rate = (self.frames - 1) / elapsed if self.frames > 1 else 0.0
        print(f"{self.name}: {self.frames} frames in {elapsed:.2f} s, {rate:.1f} fps")
        if self.xvfb is None:
            return
        path = Path(os.environ.get("JXFB_SCREENSHOT") or SCREENSHOTS / f"{self.name}.png")
        save_png(grab(find_window()), path)
        print(f"{self.name}: screenshot of the window saved to {path}")

    def close(self) -> None:
        if self.xvfb is not None:
            conn = _connections.pop(self.xvfb.display, None)
            if conn is not None:
                conn.close()
            self.xvfb.stop()
            del os.environ["DISPLAY"]
            self.xvfb = None

    def __enter__(self) -> Demo:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


if __name__ == "__main__":
    sys.exit("headless.py is a helper for the examples; run one of them instead")
