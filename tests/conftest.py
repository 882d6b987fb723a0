"""Test layers: most tests run on SDL's dummy video driver; tests marked `x11` drive real windows on
a private Xvfb server that this session starts, and read the pictures back from the server."""

import ctypes
import gc
import os
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings

import jxframebuf

# The X session helpers live beside the example runner, which uses them too.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))

import xsession

# SDL is linked into the extension (statically, or as a dependency of it): ask it directly.
_sdl = ctypes.CDLL(jxframebuf.__file__)


def sdl_version() -> str:
    v = _sdl.SDL_GetVersion()
    return f"{v // 1000000}.{v // 1000 % 1000}.{v % 1000}"


def sdl_initialised() -> bool:
    """Whether any SDL subsystem is up: after the last framebuffer is torn down, none is."""
    return _sdl.SDL_WasInit(0) != 0


# Property-based tests: the same examples on every run (CI must be deterministic), no example
# database on disk, and few enough examples that the suite stays fast, under the sanitizers too.
settings.register_profile(
    "jxframebuf",
    derandomize=True,
    database=None,
    deadline=None,
    max_examples=150,
    suppress_health_check=[HealthCheck.too_slow],
)
settings.load_profile("jxframebuf")


def pytest_report_header(config):
    return [
        f"SDL {sdl_version()}; video drivers: dummy (unit tests), x11 on a private Xvfb (x11 tests)"
    ]


def pytest_collection_modifyitems(config, items):
    # Closing a window by hand leaves SDL initialised on the X11 driver (by design), so the window
    # tests run after the dummy-driver ones.
    items.sort(key=lambda item: item.get_closest_marker("x11") is not None)


@pytest.fixture(scope="session")
def xvfb():
    with xsession.Xvfb() as server:
        yield server
        # SDL may still hold a connection to this server (a window closed by the user leaves SDL
        # up). One last framebuffer, quit while running, shuts SDL down before the server goes.
        gc.collect()
        os.environ["DISPLAY"] = server.display
        os.environ["SDL_VIDEO_DRIVER"] = "x11"
        jxframebuf.Framebuffer(1, 1).quit()


@pytest.fixture
def openbox(xvfb):
    """The openbox window manager on the session's Xvfb, for the x11 tests that need one
    (fullscreen does); stopped after the test, which hands its windows back unframed."""
    with xsession.Openbox(xvfb.display) as wm:
        yield wm


@pytest.fixture(autouse=True)
def video_driver(request, monkeypatch):
    if request.node.get_closest_marker("x11"):
        server = request.getfixturevalue("xvfb")
        monkeypatch.setenv("DISPLAY", server.display)
        monkeypatch.setenv("SDL_VIDEO_DRIVER", "x11")
        yield "x11"
    else:
        monkeypatch.setenv("SDL_VIDEO_DRIVER", "dummy")
        yield "dummy"
    # A framebuffer a test forgot must not outlive it: its window would confuse the next test.
    gc.collect()


@pytest.fixture
def fb():
    framebuffer = jxframebuf.Framebuffer(32, 24, scale=2, fps=-1)
    yield framebuffer
    framebuffer.quit()
