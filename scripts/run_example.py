"""Runs an example program, with a screen or without one.

    python scripts/run_example.py examples/NAME.py [--seconds N] [--screenshot PATH] [--wm]
                                                   [--headless] [--record PATH]

With a screen (DISPLAY or WAYLAND_DISPLAY set) the example simply runs, until its window is closed. Without one (or
with --headless) it runs on a private Xvfb server (with the openbox window manager for --wm,
which fullscreen needs): the runner plays the example's scripted input, if example_input.py has
one, saves a screenshot of the real window N seconds (default 3) after it appeared (default
build/screenshots/NAME.png), then asks the window to close as a window manager would and waits
for the program to end. Sound goes to SDL's dummy audio driver there, unless SDL_AUDIO_DRIVER is
set.

Either way the example file runs unchanged, in a child process, and the runner prints how many
frames it showed and at what rate; --record records the frames of the first framebuffer it makes
to an animated .gif or .png (Framebuffer.record), until the program ends. It exits with the example's status when that is not 0 (or
128 + the signal that killed it), and with 1 when the example cannot be run to the end this way:
no window, a window gone before its screenshot, a program that ignores the close request; 2 for
a script with an unknown key name, a button other than 1-9 or a negative time.
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
from collections.abc import Sequence
from contextlib import ExitStack
from pathlib import Path
from typing import IO, TYPE_CHECKING

from Xlib import XK, X
from Xlib.error import XError

import xsession
from example_input import (
    SCRIPTS,
    ButtonDown,
    ButtonUp,
    Click,
    Drag,
    Hold,
    KeyDown,
    KeyUp,
    Move,
    Step,
    Tap,
    Wait,
)

if TYPE_CHECKING:
    from Xlib.xobject.drawable import Window

ROOT = Path(__file__).resolve().parent.parent
SCREENSHOTS = ROOT / "build" / "screenshots"
WINDOW_TIMEOUT = 30.0  # for the window to appear: the first import of NumPy and SDL can be slow
CLOSE_TIMEOUT = 15.0  # default for the program to end once its window was asked to close

# Runs in the child, before the example: every framebuffer the example makes counts its flips,
# through a subclass put in the module's place, and the count goes to a file at the end. The
# example runs as `python examples/NAME.py` would run it, as __main__ with its folder on sys.path.
BOOTSTRAP = """\
import json, os, runpy, sys, time, traceback
import jxframebuf

report = os.environ.pop("JXFB_RUN_REPORT")
record = os.environ.pop("JXFB_RUN_RECORD", "")
path = sys.argv[1]
frames = {"count": 0, "first": 0.0, "last": 0.0}


class Framebuffer(jxframebuf.Framebuffer):
    def __init__(self, *args, **kwargs):
        global record
        super().__init__(*args, **kwargs)
        if record:
            self.record(record)
            record = ""

    def flip(self):
        super().flip()
        frames["last"] = time.perf_counter()
        if frames["count"] == 0:
            frames["first"] = frames["last"]
        frames["count"] += 1


Framebuffer.__module__ = "jxframebuf"
jxframebuf.Framebuffer = Framebuffer
sys.argv = sys.argv[1:]
sys.path[0] = os.path.dirname(os.path.abspath(path))
try:
    runpy.run_path(path, run_name="__main__")
except Exception as error:
    # Reported as Python would report it for the example alone, without the runner's frames.
    tb = error.__traceback__
    while tb is not None and tb.tb_frame.f_code.co_filename != path:
        tb = tb.tb_next
    traceback.print_exception(type(error), error, tb or error.__traceback__)
    sys.exit(1)
finally:
    with open(report, "w") as out:
        json.dump(frames, out)
"""


class Failed(Exception):
    """The example could not be run to the end: says why, and with what exit status."""

    def __init__(self, message: str, status: int = 1) -> None:
        super().__init__(message)
        self.status = status


# --- Scripted input -----------------------------------------------------------------------------


def check_script(steps: Sequence[Step]) -> None:
    """Refuses a script with an unknown key name, a button other than 1-9 or a negative time,
    before anything runs."""
    for number, step in enumerate(steps, 1):
        problem = None
        if isinstance(step, Tap | Hold | KeyDown | KeyUp):
            if XK.string_to_keysym(step.key) == X.NoSymbol:
                problem = f"unknown key name {step.key!r}"
        elif isinstance(step, Click | Drag | ButtonDown | ButtonUp) and step.button not in range(
            1, 10
        ):
            problem = f"mouse button {step.button} (1 to 9)"
        for name in ("seconds", "hold"):
            if getattr(step, name, 0) < 0:
                problem = f"negative time {getattr(step, name)}"
        if problem is not None:
            raise ValueError(f"input step {number}, {step}: {problem}")


def play(steps: Sequence[Step], window: Window, display: str) -> None:
    """Plays the steps on `window`, which has the keyboard focus; releases what stays down."""
    keys: list[str] = []
    buttons: list[int] = []

    def press(key: str) -> None:
        xsession.key_down(key, display)
        keys.append(key)

    def release(key: str) -> None:
        xsession.key_up(key, display)
        keys.remove(key)

    def button_down(button: int) -> None:
        xsession.button_down(button, display)
        buttons.append(button)

    def button_up(button: int) -> None:
        xsession.button_up(button, display)
        buttons.remove(button)

    try:
        for step in steps:
            match step:
                case Wait(seconds):
                    time.sleep(seconds)
                case Tap(key, hold) | Hold(key, hold):
                    press(key)
                    time.sleep(hold)
                    release(key)
                case KeyDown(key):
                    press(key)
                case KeyUp(key):
                    release(key)
                case Move(x, y):
                    xsession.move_pointer(window, x, y)
                case Click(x, y, button):
                    xsession.move_pointer(window, x, y)
                    button_down(button)
                    button_up(button)
                case Drag((x0, y0), (x1, y1), button, seconds):
                    xsession.move_pointer(window, x0, y0)
                    button_down(button)
                    moves = max(1, round(seconds * 60))
                    start = time.monotonic()
                    for i in range(1, moves + 1):
                        time.sleep(max(0.0, start + seconds * i / moves - time.monotonic()))
                        x = round(x0 + (x1 - x0) * i / moves)
                        y = round(y0 + (y1 - y0) * i / moves)
                        xsession.move_pointer(window, x, y)
                    button_up(button)
                case ButtonDown(button):
                    button_down(button)
                case ButtonUp(button):
                    button_up(button)
    finally:
        for key in reversed(keys):
            xsession.key_up(key, display)
        for button in reversed(buttons):
            xsession.button_up(button, display)


# --- Running ------------------------------------------------------------------------------------


def _say(name: str, message: str) -> None:
    print(f"{name}: {message}", flush=True)


def _exit_status(returncode: int) -> int:
    return 128 - returncode if returncode < 0 else returncode


def _ended(name: str, returncode: int) -> Failed:
    if returncode < 0:
        return Failed(
            f"{name} was killed by {signal.Signals(-returncode).name}", _exit_status(returncode)
        )
    return Failed(f"{name} failed with exit status {returncode}", returncode)


def _report_frames(name: str, report: Path) -> None:
    try:
        counts = json.loads(report.read_text())
    except (OSError, ValueError):
        return  # the program died before it could say
    frames, seconds = int(counts["count"]), float(counts["last"]) - float(counts["first"])
    # Frames are timed from the first one, so the set-up time does not dilute the rate.
    rate = (frames - 1) / seconds if frames > 1 and seconds > 0 else 0.0
    _say(name, f"{frames} frames in {seconds:.2f} s, {rate:.1f} fps")


def _child(
    path: Path,
    report: Path,
    env: dict[str, str],
    stderr: IO[bytes] | None = None,
    record: Path | None = None,
) -> subprocess.Popen[bytes]:
    env = dict(env, JXFB_RUN_REPORT=str(report))
    if record is not None:
        env["JXFB_RUN_RECORD"] = str(record.resolve())
    return subprocess.Popen([sys.executable, "-c", BOOTSTRAP, str(path)], env=env, stderr=stderr)


def _run_on_screen(path: Path, name: str, report: Path, record: Path | None) -> int:
    child = _child(path, report, dict(os.environ), record=record)
    # Ctrl-C reaches the example too, which ends as it chooses; the runner waits for it.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        returncode = child.wait()
    finally:
        signal.signal(signal.SIGINT, previous)
    _report_frames(name, report)
    if record is not None:
        _say(name, f"frames recorded to {record}")
    if returncode != 0:
        raise _ended(name, returncode)
    return 0


def _wait_for_window(child: subprocess.Popen[bytes], name: str, display: str) -> Window:
    deadline = time.monotonic() + WINDOW_TIMEOUT
    while True:
        if child.poll() is not None:
            if child.returncode != 0:
                raise _ended(name, child.returncode)
            raise Failed(f"{name} ended without showing a window")
        windows = xsession.find_windows(child.pid, display)
        if windows:
            return windows[0]
        if time.monotonic() > deadline:
            raise Failed(f"{name} showed no window within {WINDOW_TIMEOUT:g} s")
        time.sleep(0.02)


def _run_headless(
    path: Path,
    name: str,
    report: Path,
    seconds: float,
    screenshot: Path,
    wm: bool,
    steps: Sequence[Step],
    close_timeout: float,
    record: Path | None,
) -> int:
    with ExitStack() as stack:
        xvfb = stack.enter_context(xsession.Xvfb())
        if wm:
            stack.enter_context(xsession.Openbox(xvfb.display))
        errors = stack.enter_context(tempfile.TemporaryFile())
        # The child's error output is kept and passed on at the end, whatever happened.
        stack.callback(_pass_on, errors)
        # A machine without a screen rarely has sound either: examples play into SDL's dummy
        # audio driver unless SDL_AUDIO_DRIVER names another.
        env = {"SDL_AUDIO_DRIVER": "dummy", **os.environ}
        env.update(DISPLAY=xvfb.display, SDL_VIDEO_DRIVER="x11")
        child = _child(path, report, env, stderr=errors, record=record)
        stack.callback(xsession.stop_process, child)

        window = _wait_for_window(child, name, xvfb.display)
        appeared = time.monotonic()
        if steps:
            try:
                xsession.focus(window)
                play(steps, window, xvfb.display)
            except XError:  # the window went away under the input
                if child.poll() is None:
                    raise
                if child.returncode != 0:
                    raise _ended(name, child.returncode) from None
                raise Failed(f"{name} ended during its scripted input") from None
        while time.monotonic() < appeared + seconds and child.poll() is None:
            time.sleep(0.02)
        if child.poll() is not None:
            if child.returncode != 0:
                raise _ended(name, child.returncode)
            raise Failed(f"{name} ended before its screenshot was taken")
        xsession.save_png(xsession.grab(window), screenshot)

        for each in xsession.find_windows(child.pid, xvfb.display):
            xsession.request_close(each)
        try:
            returncode = child.wait(timeout=close_timeout)
        except subprocess.TimeoutExpired:
            raise Failed(
                f"{name} did not end within {close_timeout:g} s of its window's close request"
            ) from None
        _report_frames(name, report)
        _say(name, f"screenshot of the window saved to {screenshot}")
        if record is not None:
            _say(name, f"frames recorded to {record}")
        if returncode != 0:
            raise _ended(name, returncode)
    return 0


def _pass_on(errors: IO[bytes]) -> None:
    errors.seek(0)
    text = errors.read()
    if text:
        sys.stderr.buffer.write(text)
        sys.stderr.flush()


def run(
    path: Path,
    *,
    seconds: float = 3.0,
    screenshot: Path | None = None,
    wm: bool = False,
    headless: bool | None = None,
    steps: Sequence[Step] | None = None,
    close_timeout: float = CLOSE_TIMEOUT,
    record: Path | None = None,
) -> int:
    """Runs the example at `path` (see this module's description) and returns the exit status.

    `headless` None chooses by whether there is a screen; `steps` replaces the example's script from
    example_input.py.
    """
    name = path.stem
    if not path.is_file():
        raise Failed(f"no such example: {path}")
    if headless is None:
        headless = not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))
    steps = SCRIPTS.get(name, []) if steps is None else steps
    check_script(steps)
    with tempfile.TemporaryDirectory() as scratch:
        report = Path(scratch) / "frames.json"
        if not headless:
            return _run_on_screen(path, name, report, record)
        shot = screenshot or SCREENSHOTS / f"{name}.png"
        return _run_headless(path, name, report, seconds, shot, wm, steps, close_timeout, record)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("example", type=Path, help="the example's file, e.g. examples/plasma.py")
    parser.add_argument(
        "--seconds", type=float, default=3.0, help="headless: screenshot after N s (default 3)"
    )
    parser.add_argument(
        "--screenshot", type=Path, help="headless: where (default build/screenshots/NAME.png)"
    )
    parser.add_argument("--wm", action="store_true", help="headless: run openbox too")
    parser.add_argument(
        "--headless", action="store_true", help="use a private Xvfb even with a screen"
    )
    parser.add_argument(
        "--record", type=Path, help="record the frames shown to an animated .gif or .png"
    )
    args = parser.parse_args(argv)
    try:
        return run(
            args.example,
            seconds=args.seconds,
            screenshot=args.screenshot,
            wm=args.wm,
            headless=True if args.headless else None,
            record=args.record,
        )
    except KeyboardInterrupt:
        return 130
    except (Failed, ValueError) as failure:
        print(f"run_example: {failure}", file=sys.stderr)
        return failure.status if isinstance(failure, Failed) else 2


if __name__ == "__main__":
    sys.exit(main())
