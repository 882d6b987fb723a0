"""A private X session for running and testing windowed programs without a screen.

`Xvfb` starts a private X server and `Openbox` a window manager on it. The window helpers find a
program's windows by its process id, read them back from the X server, and close them the way a
window manager does; the input helpers type and click through the server's XTEST extension, so
the events take the path a person's keyboard and mouse take. What these helpers see and send is
what a person would see and do.

Functions that take no window act on the display named by `display` (default: $DISPLAY), through
one connection per display that is kept open for reuse; `disconnect` closes it. The run_example.py
runner and the tests use this module; it needs python-xlib, and Pillow for `save_png`.
"""

from __future__ import annotations

import os
import select
import shutil
import subprocess
import tempfile
import time
from pathlib import Path
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt
from Xlib import XK, X
from Xlib.error import XError
from Xlib.ext import xtest
from Xlib.protocol import request

if TYPE_CHECKING:
    from Xlib.display import Display
    from Xlib.display import _BaseDisplay as BaseDisplay
    from Xlib.xobject.drawable import Window

# Keysym names beyond Latin-1 and the misc group: ISO_Level3_Shift (AltGr), dead keys.
XK.load_keysym_group("xkb")

# How deep below the root window a program's window may sit: a window manager puts each one in a
# frame (root, frame, window), and some nest the frame once more.
_MAX_DEPTH = 3


def _environment(display: str | None = None) -> dict[str, str]:
    """This process's environment for an X server or window manager that we start.

    Under the sanitizer run LD_PRELOAD carries a runtime meant for Python; the X server, the
    keymap compiler it runs and the window manager are not ours to check (they would fail on
    their own leak reports).
    """
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    if display is not None:
        env["DISPLAY"] = display
    return env


def stop_process(process: subprocess.Popen[bytes]) -> None:
    """Terminates a process of ours if it still runs (killing it after 5 s) and reaps it."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Xvfb:
    """A private X server on a free display number, stopped on exit."""

    def __init__(self, screen: str = "1920x1200x24") -> None:
        if shutil.which("Xvfb") is None:
            raise RuntimeError(
                "Xvfb is not installed (Debian package 'xvfb'); run scripts/setup.sh"
            )
        read_fd, write_fd = os.pipe()
        # -noreset: by default an X server resets itself when its last client goes, and for the
        # moment that takes (longer on a loaded machine) it drops new connections. A program that
        # shuts SDL down and starts it again (a framebuffer after the last one was quit) could
        # then find no X server ("x11 not available") whenever it happened to be the only client.
        self.process = subprocess.Popen(
            [
                "Xvfb",
                "-displayfd",
                str(write_fd),
                "-screen",
                "0",
                screen,
                "-nolisten",
                "tcp",
                "-noreset",
            ],
            pass_fds=(write_fd,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            env=_environment(),
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
            stop_process(self.process)
            raise
        finally:
            os.close(read_fd)
        self.display = ":" + number.decode().strip()

    def stop(self) -> None:
        disconnect(self.display)
        stop_process(self.process)

    def __enter__(self) -> Xvfb:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


# openbox's own settings, less every key and mouse binding: with its usual ones it grabs the
# buttons on each window (to focus and raise it on a click) and holds back the events a click
# sends until it has acted, so a release sent right after its press can arrive where the pointer
# went next. Without them input goes straight to the windows, as it does with no window manager.
_OPENBOX_CONFIG = """\
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <keyboard/>
  <mouse/>
</openbox_config>
"""


class Openbox:
    """The openbox window manager on `display`, ready once it manages the screen.

    Fullscreen needs one: without a window manager a program's request to fill the screen leaves
    its window as it was. Stopping it hands the windows back to the root window, unframed.
    """

    def __init__(self, display: str, timeout: float = 10.0) -> None:
        if shutil.which("openbox") is None:
            raise RuntimeError(
                "openbox is not installed (Debian package 'openbox'); run scripts/setup.sh"
            )
        self.display = display
        if self._managing():
            # A second one would exit at once, while the first one's readiness looked like its own.
            raise RuntimeError(f"a window manager already manages {display}")
        # Its settings, and its messages kept to explain a failed start; both removed by stop().
        self._files = tempfile.TemporaryDirectory()
        config = Path(self._files.name) / "rc.xml"
        config.write_text(_OPENBOX_CONFIG)
        self._log = (Path(self._files.name) / "log").open("w+b")
        self.process = subprocess.Popen(
            ["openbox", "--sm-disable", "--config-file", str(config)],
            stdout=self._log,
            stderr=subprocess.STDOUT,
            env=_environment(display),
        )
        deadline = time.monotonic() + timeout
        try:
            while True:
                if self.process.poll() is not None:
                    raise RuntimeError(
                        f"openbox exited with status {self.process.returncode}: {self._output()}"
                    )
                if self._managing() and self._shows_a_window():
                    break
                if time.monotonic() > deadline:
                    raise RuntimeError(f"openbox did not manage {display} within {timeout:g} s")
                time.sleep(0.02)
        except BaseException:
            self.stop()
            raise

    def _managing(self) -> bool:
        """Whether a window manager handles this display's windows now.

        One following the freedesktop.org conventions names a check window on the root window
        early in its start, and the check window names itself. openbox names it before it
        handles requests, and a window mapped in between is never shown: so a probe window must
        also be shown before the window manager counts as ready.
        """
        conn = connect(self.display)
        atom = conn.intern_atom("_NET_SUPPORTING_WM_CHECK")
        prop = conn.screen().root.get_full_property(atom, X.AnyPropertyType)
        if prop is None or len(prop.value) != 1:
            return False
        check = conn.create_resource_object("window", int(prop.value[0]))
        try:
            own = check.get_full_property(atom, X.AnyPropertyType)
        except XError:  # left behind by a window manager that has gone
            return False
        return own is not None and int(own.value[0]) == check.id

    def _shows_a_window(self, wait: float = 0.25) -> bool:
        from Xlib import display as xdisplay

        conn = xdisplay.Display(self.display)  # of its own, so its events stay its own
        try:
            screen = conn.screen()
            probe = screen.root.create_window(
                0, 0, 1, 1, 0, screen.root_depth, event_mask=X.StructureNotifyMask
            )
            probe.map()
            conn.flush()
            deadline = time.monotonic() + wait
            while time.monotonic() < deadline:
                while conn.pending_events():
                    if conn.next_event().type == X.MapNotify:
                        return True
                time.sleep(0.005)
            return False
        finally:
            conn.close()

    def _output(self) -> str:
        self._log.seek(0)
        return self._log.read().decode(errors="replace").strip()

    def stop(self) -> None:
        stop_process(self.process)
        self._log.close()
        self._files.cleanup()
        # Let the server finish handing the windows back before anyone looks at them.
        if self.display in _connections:
            _connections[self.display].sync()

    def __enter__(self) -> Openbox:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


_connections: dict[str, Display] = {}


def connect(display: str | None = None) -> Display:
    """The connection to X server `display` (default: $DISPLAY), opened once and kept."""
    from Xlib import display as xdisplay

    name = display or os.environ["DISPLAY"]
    if name not in _connections:
        _connections[name] = xdisplay.Display(name)
    return _connections[name]


def disconnect(display: str | None = None) -> None:
    """Closes the kept connection to `display`, if there is one (before its server stops)."""
    conn = _connections.pop(display or os.environ.get("DISPLAY", ""), None)
    if conn is not None:
        conn.close()


# --- Finding and reading windows ----------------------------------------------------------------


def find_windows(pid: int | None = None, display: str | None = None) -> list[Window]:
    """The viewable windows of process `pid` (default: this one), whatever their titles.

    A window is a program's when its _NET_WM_PID property says so (SDL sets it). The search goes
    down into the frames a window manager wraps windows in, so it finds them with or without one.
    """
    conn = connect(display)
    pid = os.getpid() if pid is None else pid
    net_wm_pid = conn.intern_atom("_NET_WM_PID")
    found: list[Window] = []

    def search(parent: Window, depth: int) -> None:
        try:
            children = parent.query_tree().children
        except XError:  # the window went away while we looked
            return
        for window in children:
            try:
                if window.get_attributes().map_state != X.IsViewable:
                    continue
                prop = window.get_full_property(net_wm_pid, X.AnyPropertyType)
            except XError:
                continue
            if prop is not None and len(prop.value) == 1:
                if int(prop.value[0]) == pid:
                    found.append(window)
            elif depth < _MAX_DEPTH:
                search(window, depth + 1)

    search(conn.screen().root, 1)
    return found


def find_window(pid: int | None = None, timeout: float = 5.0, display: str | None = None) -> Window:
    """The one window of process `pid` (default: this one), waiting for it to be viewable."""
    pid = os.getpid() if pid is None else pid
    deadline = time.monotonic() + timeout
    while True:
        windows = find_windows(pid, display)
        if len(windows) == 1:
            return windows[0]
        if time.monotonic() > deadline:
            raise LookupError(f"expected one window of pid {pid}, found {len(windows)}")
        time.sleep(0.02)


def title(window: Window) -> str:
    """The window's title as a window manager shows it (_NET_WM_NAME, UTF-8)."""
    prop = window.get_full_property(window.display.get_atom("_NET_WM_NAME"), X.AnyPropertyType)
    return "" if prop is None else bytes(prop.value).decode()


def grab(window: Window) -> npt.NDArray[np.uint8]:
    """The window's contents as an (height, width, 3) array of RGB bytes."""
    geometry = window.get_geometry()
    image = window.get_image(0, 0, geometry.width, geometry.height, X.ZPixmap, 0xFFFFFFFF)
    # 24-bit visuals come back as 32-bit little-endian pixels: B, G, R, unused.
    bgrx = np.frombuffer(image.data, dtype=np.uint8).reshape(geometry.height, geometry.width, 4)
    return bgrx[:, :, 2::-1].copy()


def request_close(window: Window) -> None:
    """Asks the window to close, as a window manager does when its close button is clicked."""
    from Xlib.protocol import event

    conn = window.display
    protocols = conn.get_atom("WM_PROTOCOLS")
    delete = conn.get_atom("WM_DELETE_WINDOW")
    message = event.ClientMessage(
        window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0])
    )
    window.send_event(message, event_mask=X.NoEventMask)
    conn.flush()


def save_png(rgb: npt.NDArray[np.uint8], path: Path) -> None:
    from PIL import Image

    path.parent.mkdir(parents=True, exist_ok=True)
    Image.fromarray(rgb, "RGB").save(path)


# --- Input through XTEST ------------------------------------------------------------------------
#
# Every event is followed by a round trip to the server, so the server has handled it before the
# next is sent: a press and its release arrive in order, both of them, even when they follow each
# other at once (a tap short enough to fall between two frames of the program). The events go
# through the connection the window came from, or the kept one for `display`.


def _sync(conn: BaseDisplay) -> None:
    request.GetInputFocus(display=conn)  # a request with a reply: waits for the server


def _send(conn: BaseDisplay, event_type: int, detail: int = 0, x: int = 0, y: int = 0) -> None:
    xtest.FakeInput(
        display=conn,
        opcode=conn.get_extension_major(xtest.extname),
        event_type=event_type,
        detail=detail,
        time=X.CurrentTime,
        root=X.NONE,
        x=x,
        y=y,
    )
    _sync(conn)


def keycode(name: str, display: str | None = None) -> int:
    """The key that types X keysym `name` ("a", "space", "Left", "Escape", "Shift_L", "1", ...).

    A capital letter or a shifted symbol is the same key as its plain one: hold "Shift_L" for it.
    """
    keysym = XK.string_to_keysym(name)
    if keysym == X.NoSymbol:
        raise ValueError(f"unknown key name {name!r} (X keysym names: 'a', 'Left', 'space', ...)")
    code = connect(display).keysym_to_keycode(keysym)
    if code == 0:
        raise ValueError(f"no key types {name!r} in the server's keyboard map")
    return int(code)


def set_layout(layout: str, display: str | None = None) -> None:
    """Switches the server's keyboard layout ("us", "fr", "de", ...) with setxkbmap. The kept
    connection is replaced by a new one, since python-xlib keeps the keyboard map it read when it
    connected: windows found before belong to the old one, and are to be found again."""
    name = display or os.environ["DISPLAY"]
    # An X server whose last client leaves resets, keyboard layout included: one stays connected.
    old = connect(name)
    subprocess.run(["setxkbmap", "-display", name, layout], check=True, env=_environment(name))
    del _connections[name]
    connect(name)
    old.close()


def cursor_shown(display: str | None = None) -> bool:
    """Whether the pointer shows a cursor now (XFixes reads the one it shows): a program that
    hides its cursor gives its windows a cursor without a visible pixel."""
    conn = connect(display)
    conn.xfixes_query_version()
    image = conn.xfixes_get_cursor_image(conn.screen().root)
    return any(pixel >> 24 for pixel in image.cursor_image)


def focus(window: Window) -> None:
    """Raises the window and gives it the keyboard focus."""
    window.configure(stack_mode=X.Above)
    window.set_input_focus(X.RevertToParent, X.CurrentTime)
    _sync(window.display)


def key_down(name: str, display: str | None = None) -> None:
    _send(connect(display).display, X.KeyPress, keycode(name, display))


def key_up(name: str, display: str | None = None) -> None:
    _send(connect(display).display, X.KeyRelease, keycode(name, display))


def tap(name: str, hold: float = 0.0, display: str | None = None) -> None:
    """Presses and releases a key, `hold` seconds apart."""
    key_down(name, display)
    if hold > 0:
        time.sleep(hold)
    key_up(name, display)


def _check_button(button: int) -> None:
    if button not in range(1, 10):
        raise ValueError(
            f"mouse button must be 1 (left), 2 (middle), 3 (right), 4 to 7 (the wheel: up, down, "
            f"left, right) or 8, 9 (back, forward), not {button}"
        )


def move_pointer(window: Window, x: int, y: int) -> None:
    """Moves the pointer to (x, y) in the window's own coordinates (its top-left is 0, 0)."""
    root = window.query_tree().root
    at = root.translate_coords(window, x, y)
    _send(window.display, X.MotionNotify, 0, at.x, at.y)


def button_down(button: int = 1, display: str | None = None) -> None:
    _check_button(button)
    _send(connect(display).display, X.ButtonPress, button)


def button_up(button: int = 1, display: str | None = None) -> None:
    _check_button(button)
    _send(connect(display).display, X.ButtonRelease, button)


def click(button: int = 1, hold: float = 0.0, display: str | None = None) -> None:
    """Presses and releases a mouse button where the pointer is, `hold` seconds apart (the wheel
    turns one notch for each click of 4 to 7)."""
    button_down(button, display)
    if hold > 0:
        time.sleep(hold)
    button_up(button, display)
