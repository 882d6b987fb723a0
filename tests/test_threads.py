"""Threads beside the frame loop: the members that reach SDL belong to the thread that opened the
windows, everything else works from any thread, a framebuffer dropped elsewhere is released on
its own thread, and the frame delay lets other threads run. On SDL's dummy driver, and on real
windows (Xvfb) where calls from other threads used to crash the process."""

import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest
import sdl

from jxframebuf import Framebuffer


def on_thread(call):
    """call() on a thread named "worker": what it returned, or the exception it raised."""
    outcome = []

    def run():
        try:
            outcome.append(call())
        except Exception as error:
            outcome.append(error)

    worker = threading.Thread(target=run, name="worker")
    worker.start()
    worker.join()
    return outcome[0]


def test_only_the_windows_thread_reaches_sdl_and_the_rest_works_anywhere(fb):
    reaching_sdl = {
        "Framebuffer()": lambda: Framebuffer(8, 8),
        "running()": fb.running,
        "flip()": fb.flip,
        "quit()": fb.quit,
        "Setting title": lambda: setattr(fb, "title", "elsewhere"),
        "Setting fullscreen": lambda: setattr(fb, "fullscreen", True),
        "Setting resizable": lambda: setattr(fb, "resizable", True),
        "Setting cursor": lambda: setattr(fb, "cursor", False),
        "typed()": fb.typed,
        "key()": lambda: fb.key("pad a"),
        "pressed()": lambda: fb.pressed("pad2 b"),
        "axis()": lambda: fb.axis("pad leftx"),
        "gamepads()": fb.gamepads,
    }
    for name, call in reaching_sdl.items():
        error = on_thread(call)
        assert isinstance(error, RuntimeError), name
        assert str(error) == (
            f"{name} only works on the thread that opened the framebuffers' windows "
            "('MainThread'), not on 'worker'"
        )
    assert fb.running() and (fb.title, fb.fullscreen) == ("JXFramebuffer", False)
    assert len(sdl.windows()) == 1

    def draw_and_ask():
        fb.buffer()[:] = 1
        fb.palette()[9] = 0xFF123456
        fb.pset(1, 2, 9)
        fb.rect(4, 4, 3, 3, 5)
        fb.text(10, 10, "ok", 6)
        return (
            fb.pget(1, 2),
            fb.pget(5, 5),
            fb.key("Space"),
            fb.pressed("A"),
            fb.mouse(),
            fb.wheel(),
        )

    assert on_thread(draw_and_ask) == (9, 5, False, False, (-1, -1), (0.0, 0.0))
    # Mapping the pointer reads the window's size as last drained, calling no SDL function.
    sdl.push_motion(sdl.windows()[0], 9.0, 5.0)
    fb.running()
    assert on_thread(fb.mouse) == (4, 2)
    fb.flip()
    np_shown = sdl.shown(sdl.windows()[0])
    assert (np_shown[2 * 2, 1 * 2] == [0x12, 0x34, 0x56]).all()  # what the worker drew shows


def test_a_framebuffer_dropped_on_another_thread_waits_for_its_own():
    kept = [Framebuffer(8, 8, fps=0)]
    sdl.push_motion(sdl.windows()[0], 5.0, 5.0)  # the pointer seen: its place is kept
    kept[0].flip()
    on_thread(kept.clear)  # its last reference goes on the worker, which must not call SDL
    assert len(sdl.windows()) == 1 and sdl.initialised()
    other = Framebuffer(9, 9, fps=0)  # the windows' thread releases it at its next call
    assert len(sdl.windows()) == 1
    other.quit()
    assert not sdl.initialised()


def test_two_threads_opening_the_first_window_at_once_make_one_the_windows_thread():
    # Each asks which thread may open windows before it takes the session's lock, and lets the
    # other run meanwhile (naming itself is Python code): the answer is checked again under it.
    switch = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        for _ in range(20):
            ready, tried, opened = threading.Barrier(2), threading.Barrier(2), []

            def open_one(ready=ready, tried=tried, opened=opened):
                ready.wait()
                try:
                    fb = Framebuffer(8, 8, fps=0)
                except RuntimeError:
                    fb = None
                opened.append(fb is not None)
                tried.wait()  # both have tried while the windows are open
                if fb is not None:
                    fb.quit()

            threads = [threading.Thread(target=open_one) for _ in range(2)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            assert sorted(opened) == [False, True]
    finally:
        sys.setswitchinterval(switch)


def test_the_frame_delay_lets_other_threads_run():
    with Framebuffer(8, 8, fps=4) as fb:  # a 250 ms frame
        fb.flip()
        go, ran = threading.Event(), []
        worker = threading.Thread(target=lambda: (go.wait(), ran.append(time.perf_counter())))
        worker.start()
        go.set()
        fb.flip()
        returned = time.perf_counter()
        worker.join()
        # Holding the interpreter lock through the delay, flip would let the worker run only
        # once it returned.
        assert ran[0] < returned - 0.1

        # Quit, flip reaches no window and any thread may call it: but not two at once, which
        # would share the frame's clock.
        fb.quit()
        worker = threading.Thread(target=fb.flip)
        worker.start()
        time.sleep(0.05)
        with pytest.raises(RuntimeError, match="flip\\(\\) is already running on another thread"):
            fb.flip()
        worker.join()


# Each line of the child's story is printed as it happens; a crash cuts it short.
THREADED_WINDOWS = """
    import threading
    from jxframebuf import Framebuffer

    def on_worker(call):
        outcome = []
        def run():
            try:
                outcome.append(call())
            except RuntimeError as error:
                outcome.append(type(error).__name__)
        worker = threading.Thread(target=run)
        worker.start()
        worker.join()
        return outcome[0]

    fb = Framebuffer(64, 48, fps=0)
    fb.flip()
    print("quit on a worker:", on_worker(fb.quit), flush=True)
    kept = [fb]
    del fb
    on_worker(kept.clear)
    second = Framebuffer(32, 24, fps=0)  # once crashed inside GLX
    second.flip()
    second.quit()
    print("second window: shown", flush=True)

    def own_window():
        mine = Framebuffer(16, 16, fps=0)
        for _ in range(3):
            mine.flip()
        mine.quit()
        return "shown"

    print("a worker's own window:", on_worker(own_window), flush=True)
    third = Framebuffer(8, 8, fps=0)
    third.flip()
    kept = [third]
    del third
    on_worker(kept.clear)  # left for interpreter exit
    print("exit", flush=True)
"""


@pytest.mark.x11
@pytest.mark.parametrize(
    "setting",
    ["SDL_RENDER_DRIVER=opengl", "SDL_RENDER_DRIVER=software", "SDL_FRAMEBUFFER_ACCELERATION=1"],
)
def test_windows_and_threads_in_any_order_never_crash(setting):
    name, value = setting.split("=")
    child = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(THREADED_WINDOWS)],
        env=os.environ | {name: value},
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "quit on a worker: RuntimeError",
        "second window: shown",
        "a worker's own window: shown",
        "exit",
    ]
