"""Signals during a paced loop, in a child process on SDL's dummy driver: SIGTERM ends the loop
through running(), Ctrl-C (SIGINT) stays Python's and interrupts it within about a frame."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

PERIOD = 0.1  # the children loop at 10 frames per second


def default_signals():
    # As if started from a terminal: a test run started in the background (where the shell
    # ignores SIGINT, and Python then leaves it ignored) must not hand that down.
    for number in (signal.SIGINT, signal.SIGTERM):
        signal.signal(number, signal.SIG_DFL)


def start(program, settle=2.5 * PERIOD):
    env = dict(os.environ, SDL_VIDEO_DRIVER="dummy")
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(program)], env=env, text=True,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=default_signals)  # fmt: skip
    assert child.stdout.readline() == "looping\n"
    time.sleep(settle)  # well into the loop, at any point of a frame
    return child


def finish(child):
    try:
        return child.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        child.kill()
        out, err = child.communicate()
        pytest.fail(f"the child did not end; it wrote {out!r} and {err!r}")


LOOP = """
    import time
    from jxframebuf import Framebuffer
    fb = Framebuffer(64, 48, fps=10)
    fb.flip()
    print("looping", flush=True)
"""


def test_sigterm_makes_running_false_and_the_program_ends_cleanly():
    child = start(
        LOOP
        + """
    while fb.running():
        fb.flip()
    print(f"ended {time.monotonic()}", flush=True)
    fb.quit()
    print("quit", flush=True)
    # SDL is shut down with the last framebuffer, and gives SIGTERM its default action back:
    # the program goes on with other work, and a second SIGTERM ends it as it would any program.
    time.sleep(30)
    print("SIGTERM was swallowed", flush=True)
    """
    )
    sent = time.monotonic()
    child.send_signal(signal.SIGTERM)
    ended = child.stdout.readline()
    assert float(ended.split()[1]) - sent < 2 * PERIOD + 0.3
    assert child.stdout.readline() == "quit\n"
    child.send_signal(signal.SIGTERM)
    out, err = finish(child)
    assert child.returncode == -signal.SIGTERM, (out, err)


def caught_signals(pid):
    """The signals that process `pid` has a handler for (its real disposition, which Python's
    signal.getsignal() does not show when C code installed the handler)."""
    with open(f"/proc/{pid}/status") as status:
        mask = next(int(line.split()[1], 16) for line in status if line.startswith("SigCgt:"))
    return {number for number in range(1, 65) if mask >> (number - 1) & 1}


def test_a_second_sigterm_before_the_first_is_answered_ends_the_program():
    # The loop is stuck (it never drains): the second SIGTERM is not swallowed like the first.
    child = start(LOOP + "\n    time.sleep(30)\n")
    child.send_signal(signal.SIGTERM)
    time.sleep(0.2)
    child.send_signal(signal.SIGTERM)
    out, err = finish(child)
    assert child.returncode == -signal.SIGTERM, (out, err)


def test_a_sigterm_handler_of_the_programs_own_is_kept():
    child = start(
        """
    import signal, time
    signal.signal(signal.SIGTERM, lambda *_: print("handled", flush=True))
    from jxframebuf import Framebuffer
    fb = Framebuffer(64, 48, fps=10)
    print("looping", flush=True)
    for _ in range(8):
        fb.flip()
    print("running:", fb.running(), flush=True)
    fb.quit()
    """
    )
    child.send_signal(signal.SIGTERM)
    out, err = finish(child)
    assert child.returncode == 0 and out.splitlines() == ["handled", "running: True"], err


def test_sdl_handles_sigterm_only_while_a_framebuffer_is_open():
    child = start(
        LOOP
        + """
    input()
    fb.quit()
    print("quit", flush=True)
    input()
    """
    )
    try:
        assert signal.SIGTERM in caught_signals(child.pid)
        child.stdin.write("\n")
        child.stdin.flush()
        assert child.stdout.readline() == "quit\n"
        assert signal.SIGTERM not in caught_signals(child.pid)
    finally:
        child.kill()
        child.communicate()


# With SIGINT blocked in the main thread, the kernel hands it to another thread: Python's handler
# there only notes it, and the main thread's delay must look for it between its stretches.
ELSEWHERE = """
    import signal, threading
    threading.Thread(target=time.sleep, args=(30,), daemon=True).start()
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})"""


@pytest.mark.parametrize("handled_by", ["main thread", "another thread"])
def test_ctrl_c_ends_even_a_long_frame_delay_at_once(handled_by):
    child = start(
        f"""
    import time
    from jxframebuf import Framebuffer{ELSEWHERE if handled_by == "another thread" else ""}
    fb = Framebuffer(64, 48, fps=1)
    fb.flip()
    print("looping", flush=True)
    try:
        while fb.running():
            fb.flip()  # sleeps most of a second
    except KeyboardInterrupt:
        print(f"interrupted {{time.monotonic()}}", flush=True)
    """,
        settle=0.2,
    )
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    out, err = finish(child)
    assert child.returncode == 0, err
    # Without the check during the delay, this would wait for the frame to end: 0.7 s or more.
    assert float(out.split()[1]) - sent < 0.3


def test_ctrl_c_raises_keyboard_interrupt_in_the_loop_within_a_frame():
    child = start(
        LOOP
        + """
    try:
        while fb.running():
            fb.flip()
    except KeyboardInterrupt:
        print(f"interrupted {time.monotonic()}", flush=True)
        fb.quit()
        raise
    """
    )
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    out, err = finish(child)
    # The KeyboardInterrupt comes out of the loop at the latest when the flip that was sleeping
    # returns, and ends the program as an uncaught Ctrl-C does.
    assert float(out.split()[1]) - sent < 2 * PERIOD + 0.3
    assert child.returncode == -signal.SIGINT
    assert err.rstrip().endswith("KeyboardInterrupt")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_a_loop_that_never_asks_running_keeps_its_pace_and_a_second_sigterm_ends_it():
    child = start(
        LOOP
        + """
    while not fb.pressed("Escape"):
        fb.flip()
    """
    )
    child.send_signal(signal.SIGTERM)  # ends the loop, which goes on flipping all the same
    time.sleep(0.3)
    before, start_at = cpu_seconds(child.pid), time.monotonic()
    time.sleep(1.0)
    used = (cpu_seconds(child.pid) - before) / (time.monotonic() - start_at)
    assert used < 0.3  # paced at 10 fps, not spinning (a whole core)
    child.send_signal(signal.SIGTERM)  # no loop runs: the default action
    out, err = finish(child)
    assert child.returncode == -signal.SIGTERM, (out, err)


def test_sound_leaves_sigterm_alone_and_to_a_running_loop():
    # SDL's audio brings up its events, which would turn SIGTERM into an event nobody reads.
    child = start(
        """
    import time
    import numpy as np
    from jxframebuf import Audio, Framebuffer
    audio = Audio()
    audio.queue(np.zeros((48000 * 30, 2), np.float32))
    print("looping", flush=True)
    input()
    fb = Framebuffer(64, 48, fps=10)
    while fb.running():
        fb.flip()
    fb.quit()
    print(f"quit, playing on: {audio.queued > 0}", flush=True)
    time.sleep(30)
    """
    )
    assert signal.SIGTERM not in caught_signals(child.pid)  # only sound: the default action
    child.stdin.write("\n")
    child.stdin.flush()
    time.sleep(0.5)  # the loop runs: SIGTERM ends it
    child.send_signal(signal.SIGTERM)
    assert child.stdout.readline() == "quit, playing on: True\n"
    child.send_signal(signal.SIGTERM)
    out, err = finish(child)
    assert child.returncode == -signal.SIGTERM, (out, err)
