"""What a person sees: real X11 windows on a private Xvfb, read back from the X server."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest
import sdl
from Xlib import X

import xsession
from jxframebuf import Framebuffer
from xsession import find_window, find_windows, grab, request_close, title

pytestmark = pytest.mark.x11


def rgb(argb):
    return [(argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF]


def expected_picture(fb, scale):
    """What the window must show: every pixel's palette colour as a scale x scale block."""
    colours = fb.palette()[fb.buffer()]
    picture = np.stack([(colours >> s) & 0xFF for s in (16, 8, 0)], axis=-1).astype(np.uint8)
    return picture.repeat(scale, axis=0).repeat(scale, axis=1)


def wait_until(condition, timeout=3.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.005)
    return True


def test_window_title_size_and_black_picture():
    fb = Framebuffer(320, 200)  # quit by hand below: the window must go with it
    fb.flip()
    window = find_window()
    geometry = window.get_geometry()
    assert (geometry.width, geometry.height) == (960, 600)
    assert (
        window.get_full_property(window.display.get_atom("_NET_WM_NAME"), 0).value
        == b"JXFramebuffer"
    )
    assert not grab(window).any()
    fb.quit()
    assert find_windows() == []


def test_pixels_show_as_crisp_blocks_of_their_palette_colour(framebuffers):
    # A red|green boundary and single pixels of every default colour, at scale 3: linear
    # filtering would show blended columns at every edge.
    fb = framebuffers(11, 5, scale=3, fps=-1)
    view = fb.buffer()
    view[:, :5] = 2
    view[:, 5:] = 3
    view[2, 1:9] = np.arange(8)
    fb.flip()
    shown = grab(find_window())
    np.testing.assert_array_equal(shown, expected_picture(fb, 3))


def test_palette_change_recolours_every_pixel_of_that_index_at_the_next_flip(framebuffers):
    fb = framebuffers(16, 9, scale=2, fps=-1)
    view, palette = fb.buffer(), fb.palette()
    view[::2, ::3] = 1
    view[1::2, 1::3] = 200
    palette[200] = 0xFF336699
    fb.flip()
    window = find_window()
    before = grab(window)
    palette[1] = 0xFF123456
    assert (grab(window) == before).all()  # nothing shows until the next flip
    fb.flip()
    after = grab(window)
    np.testing.assert_array_equal(after, expected_picture(fb, 2))
    ones = (view == 1).repeat(2, axis=0).repeat(2, axis=1)
    assert (after[ones] == rgb(0xFF123456)).all()
    assert (after[~ones] == before[~ones]).all()


def test_close_request_ends_the_loop_and_the_window_goes_at_once(framebuffers):
    fb = framebuffers(40, 30, fps=10)
    fb.flip()
    window = find_window()
    request_close(window)
    assert wait_until(lambda: not fb.running())
    assert find_windows() == []  # off the screen; its resources wait for quit()
    assert len(sdl.windows()) == 1
    # A loop that goes on flipping (one that never asks running()) keeps its frame rate.
    fb.flip()
    start = time.perf_counter()
    fb.flip()
    assert time.perf_counter() - start > 0.09
    view = fb.buffer()
    fb.pset(1, 2, 7)  # drawing still works on the same memory, shown or not
    assert view[2, 1] == 7 and fb.pget(1, 2) == 7
    fb.quit()
    assert sdl.windows() == []
    view[2, 1] = 9
    assert fb.pget(1, 2) == 9


def test_two_windows_close_and_quit_independently(framebuffers):
    a, b = framebuffers(10, 10, scale=2, fps=-1), framebuffers(20, 10, scale=2, fps=-1)
    a.flip()
    b.flip()
    window_a = next(w for w in find_windows() if w.get_geometry().width == 20)
    request_close(window_a)
    assert wait_until(lambda: not a.running())
    assert b.running()
    assert len(find_windows()) == 1  # the closed one left the screen at once

    # Tearing a down must leave b's display working.
    a.quit()
    b.buffer()[:] = 4
    b.flip()
    np.testing.assert_array_equal(grab(find_window()), expected_picture(b, 2))


def test_failed_construction_leaves_no_window(monkeypatch):
    monkeypatch.setenv("SDL_RENDER_DRIVER", "no-such-renderer")
    with pytest.raises(RuntimeError, match="no-such-renderer not available"):
        Framebuffer(8, 10)  # refused after the window exists
    assert find_windows() == []


def test_view_keeps_the_window_open_after_del():
    fb = Framebuffer(8, 8, fps=-1)
    fb.flip()
    view = fb.buffer()
    del fb
    view[:] = 3
    assert len(find_windows()) == 1
    del view
    assert wait_until(lambda: find_windows() == [])


def test_sigterm_ends_a_paced_loop_cleanly():
    program = textwrap.dedent(
        """
        from jxframebuf import Framebuffer
        fb = Framebuffer(64, 48, fps=60)
        frames = 0
        while fb.running():
            fb.flip()
            frames += 1
            if frames == 5:
                print("looping", flush=True)
        fb.quit()
        print("ended cleanly", flush=True)
        """
    )
    child = subprocess.Popen(
        [sys.executable, "-c", program], stdout=subprocess.PIPE, text=True, env=os.environ.copy()
    )
    try:
        assert child.stdout.readline() == "looping\n"
        child.send_signal(signal.SIGTERM)
        out, _ = child.communicate(timeout=10)
    finally:
        child.kill()
    assert child.returncode == 0
    assert out == "ended cleanly\n"


def test_translucent_palette_entries_show_blended_over_black(framebuffers):
    # Either way of drawing blends translucent entries over black before they are shown.
    fb = framebuffers(6, 2, scale=1, fps=-1)
    view, palette = fb.buffer(), fb.palette()
    view[0] = 2
    view[1] = 10
    palette[10] = 0xFFFFFFFF
    fb.flip()
    window = find_window()
    assert (grab(window)[1] == 255).all()

    palette[10] = 0x80FFFFFF  # half-transparent white: mid grey over black
    fb.flip()
    shown = grab(window).astype(int)
    assert (abs(shown[1] - 128) <= 1).all()
    assert (shown[0] == rgb(0xFFFF0000)).all()  # opaque entries show as they are

    palette[10] = 0x00FFFFFF  # fully transparent: black
    fb.flip()
    assert not grab(window)[1].any()

    palette[10] = 0xFF00FF00  # opaque again
    fb.flip()
    np.testing.assert_array_equal(grab(window), expected_picture(fb, 1))


def shown_by(framebuffers, monkeypatch, render_driver, palette):
    """What a 37 x 23 picture of noise at x3 shows, drawn one of the two ways: through OpenGL's
    texture (SDL_RENDER_DRIVER=opengl; Xvfb's OpenGL is Mesa's llvmpipe, which flip would
    otherwise bypass), or by flip itself into the window surface (software)."""
    with monkeypatch.context() as env:
        if render_driver:
            env.setenv("SDL_RENDER_DRIVER", render_driver)
        fb = framebuffers(37, 23, scale=3, fps=0)
        fb.buffer()[:] = np.random.default_rng(5).integers(0, 256, (23, 37), dtype=np.uint8)
        fb.palette()[:] = palette
        fb.flip()
        (window,) = sdl.windows()
        by_surface = sdl.has_surface(window)
        picture = grab(find_window())
        fb.quit()  # SDL shuts down: the next framebuffer reads SDL_RENDER_DRIVER afresh
    return picture, by_surface


@pytest.mark.parametrize("alpha", ["opaque", "translucent"])
def test_both_ways_of_drawing_show_the_same_picture(framebuffers, monkeypatch, alpha):
    rng = np.random.default_rng(6)
    palette = rng.integers(0, 2**24, 256, dtype=np.uint32) | 0xFF000000
    if alpha == "translucent":
        palette[::2] = palette[::2] & 0xFFFFFF | rng.integers(0, 256, 128, dtype=np.uint32) << 24
    gpu, gpu_by_surface = shown_by(framebuffers, monkeypatch, "opengl", palette)
    surface, by_surface = shown_by(framebuffers, monkeypatch, "software", palette)
    default, default_by_surface = shown_by(framebuffers, monkeypatch, None, palette)
    # Two different ways were taken; left to choose, flip bypasses the software OpenGL.
    assert by_surface and default_by_surface and not gpu_by_surface
    np.testing.assert_array_equal(default, surface)
    if alpha == "opaque":
        np.testing.assert_array_equal(gpu, surface)
    else:
        assert np.abs(gpu.astype(int) - surface.astype(int)).max() <= 1


def test_a_window_surface_the_pass_cannot_write_falls_back_to_the_renderer(monkeypatch):
    # On a 16-bit screen the X server's window surface is RGB565, which flip's own pass does not
    # write: SDL's software renderer takes over, and the picture still shows, in 16-bit colour.
    # (Without SDL_FRAMEBUFFER_ACCELERATION=0, SDL would put the window surface on the GPU.)
    with xsession.Xvfb(screen="640x480x16") as server:
        monkeypatch.setenv("DISPLAY", server.display)
        monkeypatch.setenv("SDL_RENDER_DRIVER", "software")
        monkeypatch.setenv("SDL_FRAMEBUFFER_ACCELERATION", "0")
        with Framebuffer(20, 10, scale=2, fps=0) as fb:
            fb.buffer()[:] = np.arange(200, dtype=np.uint8).reshape(10, 20) % 8
            fb.flip()
            assert sdl.has_renderer(sdl.windows()[0])
            window = find_window(display=server.display)
            geometry = window.get_geometry()
            image = window.get_image(0, 0, geometry.width, geometry.height, X.ZPixmap, 0xFFFFFFFF)
            rgb565 = np.frombuffer(image.data, "<u2").reshape(geometry.height, geometry.width)
            shown = np.stack([rgb565 >> 11, rgb565 >> 5 & 0x3F, rgb565 & 0x1F], axis=-1)
            wanted = expected_picture(fb, 2).astype(np.uint16) >> np.array([3, 2, 3])
            np.testing.assert_array_equal(shown, wanted)
        xsession.disconnect(server.display)


def test_sigterm_after_a_close_request_ends_the_program():
    # The user closed the window; the program quit() and went on with other work. SDL is shut
    # down with the framebuffer, so a SIGTERM then ends the process as it would any program.
    program = textwrap.dedent(
        """
        import time
        from jxframebuf import Framebuffer
        fb = Framebuffer(64, 48, fps=60)
        fb.flip()
        print("looping", flush=True)
        while fb.running():
            fb.flip()
        fb.quit()
        print("quit", flush=True)
        time.sleep(30)
        """
    )
    child = subprocess.Popen([sys.executable, "-c", program], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "looping\n"
        request_close(find_window(child.pid))
        assert child.stdout.readline() == "quit\n"
        child.send_signal(signal.SIGTERM)
        child.wait(timeout=10)
    finally:
        child.kill()
        child.communicate()
    assert child.returncode == -signal.SIGTERM


@pytest.mark.parametrize(
    "args",
    [(2, 2, 20000), (2, 2, 16384), (4, 4, 0), (4, 4, -2), (-4, -10), (16385, 1, 1)],
)
def test_sizes_no_window_can_have_are_refused_before_x_sees_them(framebuffers, args):
    # A 40000-pixel-wide window used to kill the process with an X error, a 32768-pixel one to
    # abort inside libxcb (taking the X server with it), and a scale of 0 to open an empty window.
    with pytest.raises(ValueError):
        Framebuffer(*args)
    assert find_windows() == []
    fb = framebuffers(8, 8, scale=2, fps=0)  # and the process goes on as before
    fb.buffer()[:] = 3
    fb.flip()
    np.testing.assert_array_equal(grab(find_window()), expected_picture(fb, 2))


# The program's own shutdown must run when the display goes away under it, and nothing may hang.
DISPLAY_LOST = """
import atexit, time
from jxframebuf import Framebuffer
atexit.register(print, "atexit", flush=True)
fb = Framebuffer(64, 48, fps=30)
fb.flip()
print("looping", flush=True)
try:
    while fb.running():
        fb.flip()
    print("loop ended", flush=True)
    fb.title = "after"
    fb.fullscreen = True
    fb.flip()
    print("answers:", fb.running(), fb.key("A"), fb.mouse() == fb.mouse(), flush=True)
    fb.quit()
    try:
        Framebuffer(8, 8)
    except RuntimeError as error:
        print("new window:", error, flush=True)
finally:
    print("finally", flush=True)
"""
LOST_STORY = [
    "looping",
    "loop ended",
    "answers: False False True",
    "new window: The connection to the display server was lost: no window can be opened in this "
    "process any more.",
    "finally",
    "atexit",
]


def test_a_lost_x_server_ends_the_loop_and_the_program_shuts_down_as_written():
    with xsession.Xvfb() as server:
        child = subprocess.Popen(
            [sys.executable, "-c", DISPLAY_LOST],
            env=os.environ | {"DISPLAY": server.display},
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        try:
            assert child.stdout.readline() == "looping\n"
            server.stop()  # Xlib would end the process ("X connection to :N broken")
            out, err = child.communicate(timeout=20)
        finally:
            child.kill()
            child.communicate()
    assert child.returncode == 0, err
    assert out.splitlines() == LOST_STORY[1:]


WINDOW_DESTROYED = """
from jxframebuf import Framebuffer
other, fb = Framebuffer(16, 16, fps=30), Framebuffer(64, 48, fps=30)
fb.title = "doomed"
other.flip()
fb.flip()
print("looping", flush=True)
try:
    while fb.running():
        fb.flip()
        other.flip()
    print("loop ended; the other runs:", other.running(), flush=True)
    fb.quit()
    other.flip()
    again = Framebuffer(8, 8, fps=0)
    again.flip()
    print("a new window runs:", again.running(), other.running(), flush=True)
finally:
    print("finally", flush=True)
"""


@pytest.mark.x11
def test_a_window_destroyed_by_another_client_ends_its_loop_as_a_close_does():
    # Xlib's default answer to the BadWindow errors that follow was to print them and exit.
    child = subprocess.Popen([sys.executable, "-c", WINDOW_DESTROYED], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)  # fmt: skip
    try:
        assert child.stdout.readline() == "looping\n"
        deadline = time.monotonic() + 5
        while not (doomed := [w for w in find_windows(child.pid) if title(w) == "doomed"]):
            assert time.monotonic() < deadline
            time.sleep(0.02)
        doomed[0].destroy()  # as `xdotool windowclose` does
        xsession.connect().sync()
        out, err = child.communicate(timeout=20)
    finally:
        child.kill()
        child.communicate()
    assert child.returncode == 0 and err == "", err
    assert out.splitlines() == [
        "loop ended; the other runs: True",
        "a new window runs: True True",
        "finally",
    ]


# Xlib's handlers, peeked at: each setter returns the one it replaces.
HANDLERS = """
import ctypes
from jxframebuf import Framebuffer
x11 = ctypes.CDLL("libX11.so.6")
setters = (x11.XSetIOErrorHandler, x11.XSetErrorHandler)
for setter in setters:
    setter.restype, setter.argtypes = ctypes.c_void_p, [ctypes.c_void_p]

def handlers():
    now = []
    for setter in setters:
        now.append(setter(None))
        setter(now[-1])
    return now

before = handlers()
for _ in range(2):  # and again after SDL started anew
    a, b = Framebuffer(8, 8, fps=0), Framebuffer(8, 8, fps=0)
    a.quit()
    print(handlers() != before, end=" ")
    b.quit()
    print(handlers() == before, end=" ")
"""


@pytest.mark.x11
def test_xlibs_error_handlers_are_ours_while_a_window_is_open_and_given_back_after():
    child = subprocess.run([sys.executable, "-c", HANDLERS], capture_output=True, text=True,
                           timeout=60)  # fmt: skip
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["True"] * 4
