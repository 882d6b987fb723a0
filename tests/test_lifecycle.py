"""Construction, teardown and the frame loop, on SDL's dummy video driver."""

import itertools
import re
import time

import pytest
import sdl
from conftest import sdl_initialised

from jxframebuf import Framebuffer

DEFAULT_PALETTE = [
    0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00,
    0xFF0000FF, 0xFFFFFF00, 0xFFFF00FF, 0xFF00FFFF,
]  # fmt: skip


def test_new_framebuffer_is_black_with_default_palette():
    fb = Framebuffer(320, 200)
    try:
        assert (fb.width, fb.height) == (320, 200)
        assert fb.running() is True
        assert not fb.buffer().any()
        palette = fb.palette()
        assert palette[:8].tolist() == DEFAULT_PALETTE
        assert (palette[8:] == 0xFF000000).all()
    finally:
        fb.quit()


def test_constructor_arguments_by_position_and_keyword():
    for fb in (
        Framebuffer(320, 200, fps=30),
        Framebuffer(width=12, height=7),
        Framebuffer(5, 4, 2, 1),
        Framebuffer(height=4, width=5, scale=1, fps=-1),
    ):
        fb.quit()
    with pytest.raises(TypeError, match=r"^Framebuffer\(\) argument width must be a 32-bit"):
        Framebuffer(320.0, 200)
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        Framebuffer(320, 200, colour=3)


@pytest.mark.parametrize(
    "args, message",
    [
        ((-1, 5), "width must be at least 1, not -1"),
        ((10, -1), "height must be at least 1, not -1"),
        ((65536, -65536), "height must be at least 1, not -65536"),
        # A side of 0, which SDL refused only after making the window.
        ((0, 10), "width must be at least 1, not 0"),
        ((10, 0), "height must be at least 1, not 0"),
        # Negative sides with a positive product, which once reached SDL.
        ((-4, -10), "width must be at least 1, not -4"),
        ((4, 4, 0), "scale must be at least 1, not 0"),
        ((4, 4, -2), "scale must be at least 1, not -2"),
        # Wider or taller than any display and than common renderers' textures: X11 kills the
        # process for such a window, and a picture this large would take tens of gigabytes.
        # 65536 x 65536 wraps to 0 in 32 bits, 65537 x 65537 to a small positive count: both are
        # refused, not turned into a buffer of the wrong size.
        ((65536, 65536, 1), "window size 65536 x 65536 (width and height times scale 1)"),
        ((65537, 65537), "window size 196611 x 196611 (width and height times scale 3)"),
        ((46341, 46341), "window size 139023 x 139023 (width and height times scale 3)"),
        ((2, 2, 20000), "window size 40000 x 40000 (width and height times scale 20000)"),
        ((1, 16385), "window size 3 x 49155 (width and height times scale 3)"),
        ((16385, 1, 1), "window size 16385 x 1 (width and height times scale 1)"),
        ((2**20, 1, 4096), "window size 4294967296 x 4096 (width and height times scale 4096)"),
    ],
)
def test_sizes_that_do_not_fit_are_value_errors(args, message):
    if message.startswith("window size"):
        message += " is larger than 16384 pixels a side"
    exact = f"^{re.escape(message)}$"
    with pytest.raises(ValueError, match=exact):
        Framebuffer(*args)
    Framebuffer(4, 4).quit()  # and nothing was left behind


def test_sdl_failures_raise_runtime_error_with_sdls_text(monkeypatch, capfd):
    with monkeypatch.context() as patch:
        patch.setenv("SDL_RENDER_DRIVER", "no-such-renderer")  # after SDL made the window
        with pytest.raises(RuntimeError, match=r"^no-such-renderer not available$"):
            Framebuffer(8, 8)
    # With no display named, the message says what to set; no display server is probed (an
    # unnamed Wayland printed "XDG_RUNTIME_DIR is invalid" twice on the way).
    with monkeypatch.context() as patch:
        for name in ("SDL_VIDEO_DRIVER", "DISPLAY", "WAYLAND_DISPLAY"):
            patch.delenv(name, raising=False)
        with pytest.raises(RuntimeError, match=r"^No display to show a window on") as raised:
            Framebuffer(8, 8)
        assert all(name in str(raised.value) for name in ("DISPLAY", "WAYLAND_DISPLAY", "dummy"))
        patch.setenv("DISPLAY", ":31999")
        with pytest.raises(RuntimeError):
            Framebuffer(8, 8)
        # SDL2's name for the driver counts as SDL does, with or without a display named, and
        # the new name wins when both are set.
        patch.setenv("SDL_VIDEODRIVER", "dummy")
        Framebuffer(8, 8).quit()
        patch.delenv("DISPLAY")
        Framebuffer(8, 8).quit()
        patch.setenv("SDL_VIDEO_DRIVER", "no-such-driver")
        with pytest.raises(RuntimeError, match="no-such-driver not available"):
            Framebuffer(8, 8)
    assert capfd.readouterr().err == ""
    monkeypatch.setenv("SDL_VIDEO_DRIVER", "no-such-driver")
    with pytest.raises(RuntimeError, match="no-such-driver not available"):
        Framebuffer(8, 8)
    # A failed construction shuts down what it started: SDL sees the corrected setting next time.
    monkeypatch.setenv("SDL_VIDEO_DRIVER", "dummy")
    fb = Framebuffer(8, 8)
    assert fb.running()
    fb.quit()


# Each failure: what to set in the environment, the arguments, and what it raises.
NO_DISPLAY = {"SDL_VIDEO_DRIVER": None, "DISPLAY": None, "WAYLAND_DISPLAY": None}
FAILURES = {
    "no display at all": (NO_DISPLAY, (8, 8), RuntimeError),
    "an X display that is not there": (
        {"SDL_VIDEO_DRIVER": "x11", "DISPLAY": ":31999"},
        (8, 8),
        RuntimeError,
    ),
    "an unknown video driver": ({"SDL_VIDEO_DRIVER": "no-such-driver"}, (8, 8), RuntimeError),
    "a renderer SDL cannot make": ({"SDL_RENDER_DRIVER": "no-such-renderer"}, (8, 8), RuntimeError),
    "a side of 0": ({}, (0, 10), ValueError),
    "a picture too large": ({}, (65536, 65536), ValueError),
    "a window too large": ({}, (2**20, 1, 4096), ValueError),
    "a scale below 1": ({}, (8, 8, 0), ValueError),
    "a float size": ({}, (8.0, 8), TypeError),
}


@pytest.mark.parametrize("another_open", [False, True], ids=["alone", "beside another"])
def test_failed_construction_leaves_the_process_able_to_make_framebuffers(
    monkeypatch, another_open
):
    other = Framebuffer(8, 8, fps=0) if another_open else None
    for name, (env, args, error) in FAILURES.items():
        with monkeypatch.context() as patch:
            for key, value in env.items():
                if value is None:
                    patch.delenv(key, raising=False)
                else:
                    patch.setenv(key, value)
            if other is not None and env:
                # SDL's video is up already, on the dummy driver: the setting is not looked at.
                Framebuffer(*args).quit()
            else:
                with pytest.raises(error):
                    Framebuffer(*args)
        assert sdl_initialised() == another_open, name  # the failure released what it took
        fb = Framebuffer(8, 8, fps=0)
        fb.pset(1, 2, 3)
        fb.flip()
        assert fb.running() and fb.pget(1, 2) == 3, name
        fb.quit()
        if other is not None:
            other.flip()
            assert other.running(), name
    if other is not None:
        other.quit()
    assert not sdl_initialised()


def test_quit_is_idempotent_keeps_the_memory_and_lets_sdl_go(fb, monkeypatch):
    fb.pset(3, 4, 9)
    view = fb.buffer()
    fb.quit()
    fb.quit()
    assert fb.running() is False
    fb.flip()  # shows nothing, fails nothing
    assert fb.pget(3, 4) == 9 and view[4, 3] == 9
    fb.clear(2)
    assert (view == 2).all()
    fb.key("F5"), fb.pressed("Space"), fb.mouse()
    # None of that started SDL again, which would keep its view of the environment: the next
    # framebuffer sees the driver asked for now.
    monkeypatch.setenv("SDL_VIDEO_DRIVER", "no-such-driver")
    with pytest.raises(RuntimeError, match="no-such-driver not available"):
        Framebuffer(8, 8)


def test_framebuffers_after_one_is_torn_down():
    a, b = Framebuffer(8, 8), Framebuffer(16, 8)
    a.quit()
    assert b.running()  # SDL was not shut down under b
    b.flip()
    del b  # the last one shuts SDL down; a new one starts it again
    c = Framebuffer(8, 8)
    assert c.running()
    c.flip()
    c.quit()


def _flips_per_second(fb, frames):
    fb.flip()  # the first period is measured from construction
    start = time.perf_counter()
    for _ in range(frames):
        fb.flip()
    return frames / (time.perf_counter() - start)


def test_flip_paces_to_the_default_rate_of_60_and_counts_and_measures_its_frames():
    fb = Framebuffer(64, 40)
    try:
        assert (fb.frames, fb.frame_rate) == (0, 0.0)
        rate = _flips_per_second(fb, 30)
        measured = fb.frame_rate
        assert fb.frames == 31
    finally:
        fb.quit()
    # Loose bounds: this is a shared machine. The pacing benchmark measures it properly.
    assert 40 < rate < 63
    assert measured == pytest.approx(rate, rel=0.1)  # the same flips, timed from inside
    fb.flip()  # flips after the loop ended count too
    assert fb.frames == 32 and fb.frame_rate > 0
    time.sleep(1.0)  # a second without a flip: nothing left to measure
    assert (fb.frames, fb.frame_rate) == (32, 0.0)


def _periods(fb, frames):
    stamps = [time.perf_counter()]
    for _ in range(frames):
        fb.flip()
        stamps.append(time.perf_counter())
    return [b - a for a, b in itertools.pairwise(stamps)]


def test_a_late_frame_is_not_made_up_by_short_ones():
    with Framebuffer(16, 16, fps=20) as fb:  # 50 ms a frame
        fb.flip()
        time.sleep(0.2)  # this frame takes four periods
        fb.flip()  # already late: returns at once
        # Each following frame again gets a whole period, counted from the end of the late one.
        assert min(_periods(fb, 3)) > 0.04


def test_the_first_frame_is_counted_from_construction():
    # With another framebuffer open SDL is not started afresh: nothing about the clock restarts.
    with Framebuffer(8, 8, fps=0), Framebuffer(8, 8, fps=10) as fb:
        (first,) = _periods(fb, 1)
        assert 0.07 < first < 0.2  # the rest of a 100 ms period since construction
    # Making a large picture and its window takes longer than a frame here: none of it counts.
    with Framebuffer(2048, 2048, scale=1, fps=10) as fb:
        (first,) = _periods(fb, 1)
        assert first > 0.095


def test_a_quit_event_ends_every_open_framebuffer_and_flip_keeps_the_pace():
    # SIGTERM, or the last window of a desktop session closing, posts one quit event; whichever
    # framebuffer drains it, every loop must end.
    with Framebuffer(8, 8, fps=0) as a, Framebuffer(9, 8, fps=20) as b:
        sdl.push_quit()
        assert a.running() is False
        assert b.running() is False
        # The windows leave the screen at once; they are released with quit().
        assert [sdl.hidden(w) for w in sdl.windows()] == [True, True]
        # A loop that goes on flipping (one that never asks running()) keeps its frame rate. The
        # frame the checks above took part of (on a slow machine, a good part) is let end first.
        b.flip()
        assert min(_periods(b, 3)) > 0.04


@pytest.mark.parametrize("how", ["quit event", "close request"])
def test_sdl_is_shut_down_with_the_last_framebuffer_however_its_loop_ended(how):
    fb = Framebuffer(8, 8, fps=0)
    if how == "quit event":
        sdl.push_quit()
    else:
        sdl.push_window_event("CLOSE_REQUESTED", sdl.windows()[0])
    assert not fb.running()
    assert sdl_initialised()  # the window stays until quit()
    fb.quit()
    assert not sdl_initialised()


@pytest.mark.parametrize("fps", [0, -1, -(2**31)])
def test_zero_or_negative_fps_is_unpaced(fps):
    fb = Framebuffer(64, 40, fps=fps)
    try:
        assert _flips_per_second(fb, 50) > 200
    finally:
        fb.quit()
