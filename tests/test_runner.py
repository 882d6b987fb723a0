"""The example runner: scripted input reaches the program's window, frames are counted in the
child without changing the program, and every way a program can fail makes the runner fail."""

import subprocess
import textwrap
import time
from pathlib import Path

import numpy as np
import pytest
from PIL import Image
from test_examples import ROOT, RUNNER, run_runner, runner_environment

import example_input
import run_example
import xsession
from example_input import ButtonDown, Click, Drag, Hold, KeyDown, Move, Tap, Wait

# A program of its own window (plain X, as the engine reads no input yet) that writes every key,
# button and pointer event it gets to the file named by EVENT_LOG, and ends when asked to close.
EVENT_LOGGER = textwrap.dedent(
    """
    import os
    from Xlib import X, Xatom, display

    conn = display.Display()
    screen = conn.screen()
    window = screen.root.create_window(
        30, 40, 320, 200, 0, screen.root_depth, background_pixel=screen.white_pixel,
        event_mask=X.KeyPressMask | X.KeyReleaseMask | X.ButtonPressMask
        | X.ButtonReleaseMask | X.PointerMotionMask,
    )
    window.change_property(conn.intern_atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [os.getpid()])
    window.set_wm_protocols([conn.intern_atom("WM_DELETE_WINDOW")])
    window.map()
    names = {X.KeyPress: "key down", X.KeyRelease: "key up", X.ButtonPress: "button down",
             X.ButtonRelease: "button up", X.MotionNotify: "move"}
    with open(os.environ["EVENT_LOG"], "w") as log:
        while (event := conn.next_event()).type != X.ClientMessage:
            if event.type in (X.KeyPress, X.KeyRelease):
                print(names[event.type], event.detail, file=log)
            elif event.type in names:
                detail = event.detail if event.type != X.MotionNotify else ""
                print(names[event.type], detail, event.event_x, event.event_y, file=log)
    """
)

# Flips seven times, then waits for its window to be closed.
SEVEN_FRAMES = textwrap.dedent(
    """
    import time
    import numpy as np
    from jxframebuf import Framebuffer

    fb = Framebuffer(64, 48, scale=2, fps=0)
    fb.buffer()[:] = np.arange(64) % 8
    for _ in range(7):
        fb.flip()
    while fb.running():
        time.sleep(0.01)
    fb.quit()
    print("closed cleanly")
    """
)


def assert_shows_seven_frames_picture(shot, scale=2):
    """The picture SEVEN_FRAMES draws: columns of the eight default colours, at scale 2 (in the
    window) or 1 (recorded)."""
    # Black, white, red, green, blue, yellow, magenta, cyan.
    colours = np.array([0x000, 0xFFF, 0xF00, 0x0F0, 0x00F, 0xFF0, 0xF0F, 0x0FF])
    colours = (np.stack([colours >> 8, colours >> 4, colours], axis=-1) & 0xF) * 0x11
    expected = np.broadcast_to(
        colours[np.arange(64 * scale) // scale % 8], (48 * scale, 64 * scale, 3)
    )
    with Image.open(shot) as image:
        np.testing.assert_array_equal(np.asarray(image.convert("RGB")), expected)


def program(tmp_path, name, source):
    path = tmp_path / f"{name}.py"
    path.write_text(source)
    return path


def play_to_logger(tmp_path, monkeypatch, steps, wm=False):
    log = tmp_path / "events.txt"
    monkeypatch.setenv("EVENT_LOG", str(log))
    status = run_example.run(
        program(tmp_path, "logger", EVENT_LOGGER),
        seconds=0,
        screenshot=tmp_path / "logger.png",
        headless=True,
        wm=wm,
        steps=steps,
    )
    assert status == 0
    return [line.split() for line in log.read_text().splitlines()]


def key(name):
    return str(xsession.keycode(name))


@pytest.mark.x11
@pytest.mark.parametrize("wm", [False, True], ids=["bare", "openbox"])
def test_script_plays_keys_and_mouse_in_window_coordinates(tmp_path, monkeypatch, wm):
    events = play_to_logger(
        tmp_path,
        monkeypatch,
        [
            Tap("a"),
            Hold("Left", 0.05),
            Click(10, 20, button=3),
            Drag((100, 50), (160, 80), seconds=0.1),
            Wait(0.05),
            Move(5, 6),
        ],
        wm=wm,
    )
    keys = [e for e in events if e[0] == "key"]
    assert keys[:2] == [["key", "down", key("a")], ["key", "up", key("a")]]
    # Held, the key may repeat (as a keyboard's does), but it starts down and ends up.
    assert keys[2] == ["key", "down", key("Left")] and keys[-1] == ["key", "up", key("Left")]
    assert {e[2] for e in keys[2:]} == {key("Left")}

    buttons = [e for e in events if e[0] == "button"]
    assert buttons == [
        ["button", "down", "3", "10", "20"],
        ["button", "up", "3", "10", "20"],
        ["button", "down", "1", "100", "50"],
        ["button", "up", "1", "160", "80"],
    ]
    # The drag moves in steps between its ends, and the pointer ends where the script left it.
    drag = events[events.index(buttons[2]) + 1 : events.index(buttons[3])]
    xs = [int(e[1]) for e in drag]
    assert len(drag) == 6 and xs == sorted(xs) and drag[-1] == ["move", "160", "80"]
    assert events[-1] == ["move", "5", "6"]


@pytest.mark.x11
def test_keys_and_buttons_left_down_are_released_when_the_script_ends(tmp_path, monkeypatch):
    events = play_to_logger(
        tmp_path, monkeypatch, [KeyDown("Shift_L"), Move(3, 4), ButtonDown(2), Tap("x")]
    )
    ups = [e[:3] for e in events if e[1] == "up"]
    assert ups == [["key", "up", key("x")], ["key", "up", key("Shift_L")], ["button", "up", "2"]]


def test_bad_scripts_are_refused_before_anything_runs():
    for step, problem in [
        (Tap("Lefty"), "unknown key name 'Lefty'"),
        (Click(1, 2, button=10), "mouse button 10"),
        (Hold("a", -1), "negative time"),
        (Drag((0, 0), (1, 1), seconds=-0.5), "negative time"),
    ]:
        with pytest.raises(ValueError, match=problem):
            run_example.check_script([Wait(0), step])
    # The runner checks the script before it starts anything.
    with pytest.raises(ValueError, match="input step 2"):
        run_example.run(Path(__file__), headless=True, steps=[Wait(0), Tap("Lefty")])


def test_every_script_belongs_to_an_example_and_is_valid():
    for name, steps in example_input.SCRIPTS.items():
        assert (ROOT / "examples" / f"{name}.py").is_file(), name
        run_example.check_script(steps)


@pytest.mark.x11
@pytest.mark.parametrize("options", [[], ["--wm"]], ids=["bare", "openbox"])
def test_frames_are_counted_in_the_child_and_the_window_closes_cleanly(tmp_path, options):
    shot, recording = tmp_path / "shot.png", tmp_path / "seven.gif"
    seven = program(tmp_path, "seven", SEVEN_FRAMES)
    result = run_runner(seven, "--seconds", "0.5", "--screenshot", shot, "--record", recording,
                        *options)  # fmt: skip
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("closed cleanly\nseven: 7 frames in ")
    assert result.stdout.endswith(f"seven: frames recorded to {recording}\n")
    assert_shows_seven_frames_picture(shot)
    assert_shows_seven_frames_picture(recording, scale=1)  # the seven frames are one picture


@pytest.mark.x11
def test_with_a_screen_the_example_runs_until_its_window_is_closed(tmp_path, xvfb):
    runner = subprocess.Popen(
        [*RUNNER, str(program(tmp_path, "seven", SEVEN_FRAMES))],
        env=runner_environment(xvfb.display),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        children = Path(f"/proc/{runner.pid}/task/{runner.pid}/children")
        deadline = time.monotonic() + 30
        windows = []
        while not windows and time.monotonic() < deadline:
            pids = children.read_text().split() if children.exists() else []
            windows = [w for pid in pids for w in xsession.find_windows(int(pid))]
            time.sleep(0.05)
        assert len(windows) == 1
        time.sleep(0.5)
        assert runner.poll() is None  # it does not end by itself
        xsession.request_close(windows[0])
        out, err = runner.communicate(timeout=30)
    finally:
        runner.kill()
    assert runner.returncode == 0, err
    assert out.startswith("closed cleanly\nseven: 7 frames in ")
    assert "screenshot" not in out


FAILURES = {
    "raises": (
        "from jxframebuf import Framebuffer\nfb = Framebuffer(8, 8)\nfb.flip()\n"
        "raise RuntimeError('boom in the example')\n",
        1,
        ["RuntimeError: boom in the example", "raises failed with exit status 1"],
    ),
    "exits": ("import sys\nsys.exit(3)\n", 3, ["exits failed with exit status 3"]),
    "windowless": ("print('no window')\n", 1, ["windowless ended without showing a window"]),
    "brief": (
        "from jxframebuf import Framebuffer\nfb = Framebuffer(8, 8)\nfor _ in range(30): fb.flip()\n",
        1,
        ["brief ended before its screenshot was taken"],
    ),
    "killed": (
        "import os, signal\nfrom jxframebuf import Framebuffer\nfb = Framebuffer(8, 8)\n"
        "fb.flip()\nos.kill(os.getpid(), signal.SIGKILL)\n",
        128 + 9,
        ["killed was killed by SIGKILL"],
    ),
    "fails_on_close": (
        "from jxframebuf import Framebuffer\nfb = Framebuffer(8, 8)\n"
        "while fb.running():\n    fb.flip()\nraise SystemExit('could not save the game')\n",
        1,
        ["could not save the game", "fails_on_close failed with exit status 1"],
    ),
}


@pytest.mark.x11
@pytest.mark.parametrize("name", sorted(FAILURES))
def test_a_failing_example_makes_the_runner_fail_and_say_why(tmp_path, name):
    source, status, messages = FAILURES[name]
    shot = tmp_path / "shot.png"
    result = run_runner(program(tmp_path, name, source), "--seconds", "2", "--screenshot", shot)
    assert result.returncode == status, result.stderr
    for message in messages:
        assert message in result.stderr
    assert "runpy" not in result.stderr  # the example's traceback, not the runner's
    assert shot.exists() == (name == "fails_on_close")  # the only one that lived to see it


@pytest.mark.x11
def test_a_program_that_ignores_the_close_request_fails_the_run(tmp_path):
    stubborn = program(
        tmp_path,
        "stubborn",
        "import signal\nfrom jxframebuf import Framebuffer\nfb = Framebuffer(8, 8, fps=30)\n"
        "signal.signal(signal.SIGTERM, signal.SIG_DFL)  # so that the runner can stop it at once\n"
        "while True:\n    fb.running()\n    fb.flip()\n",
    )
    with pytest.raises(
        run_example.Failed, match=r"did not end within 0\.5 s of its window's close"
    ):
        run_example.run(
            stubborn, seconds=0.2, screenshot=tmp_path / "s.png", headless=True, close_timeout=0.5
        )


def test_the_rate_counts_intervals_and_make_and_setup_start_from_a_sound_base(tmp_path, capsys):
    # The runner: 11 frames a second apart from the first to the last are 10 frames a second.
    report = tmp_path / "frames.json"
    report.write_text('{"count": 11, "first": 5.0, "last": 6.0}')
    run_example._report_frames("ten", report)
    assert capsys.readouterr().out.endswith("ten: 11 frames in 1.00 s, 10.0 fps\n")
    # `make test` sets everything up before it tests.
    planned = subprocess.run(["make", "-n", "test"], cwd=ROOT, capture_output=True, text=True,
                             check=True).stdout  # fmt: skip
    assert "scripts/setup.sh" in planned and planned.index("setup.sh") < planned.index("pytest")
    # setup.sh makes a new .venv over one of another Python: a stand-in Python 3.13 that stops
    # the script when asked to make it (before anything is installed), and an old .venv whose
    # Python is not 3.13.
    scripts, bin_dir, venv = tmp_path / "scripts", tmp_path / "bin", tmp_path / ".venv"
    scripts.mkdir()
    for name in ("setup.sh", "need-packages.sh"):
        (scripts / name).write_text((ROOT / "scripts" / name).read_text())
    (tmp_path / "requirements-dev.txt").write_text("")
    (venv / "bin").mkdir(parents=True)
    bin_dir.mkdir()
    stand_ins = {
        bin_dir / "python3.13": f'case "$*" in *"-m venv"*) echo made > {tmp_path}/made; exit 3;;'
        " *) echo 3.13.0;; esac",
        venv / "bin" / "python": "exit 1",  # not 3.13, and good for nothing else either
    }
    for path, body in stand_ins.items():
        path.write_text(f"#!/bin/sh\n{body}\n")
        path.chmod(0o755)
    env = {"PATH": f"{bin_dir}:/usr/sbin:/usr/bin:/sbin:/bin", "HOME": str(tmp_path)}
    done = subprocess.run(["bash", str(scripts / "setup.sh")], env=env, capture_output=True,
                          text=True, timeout=120)  # fmt: skip
    assert done.returncode != 0 and (tmp_path / "made").exists(), done.stdout + done.stderr
    assert not venv.exists()  # the old one was removed first
