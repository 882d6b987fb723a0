"""Test layers: most tests run on SDL's dummy video driver; tests marked `x11` drive real windows on
a private Xvfb server that this session starts, and read the pictures back from the server."""

import gc
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
import sdl
from hypothesis import HealthCheck, settings

import jxframebuf

# The X session helpers live beside the example runner, which uses them too.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "scripts"))

import xsession

sdl_version = sdl.version
sdl_initialised = sdl.initialised


# Property-based tests: the same examples on every run (CI must be deterministic), no example
# database on disk, and few enough examples that the suite stays fast, under the sanitizers too.
# Under emulation (scripts/aarch64.sh) JXFB_HYPOTHESIS_EXAMPLES asks for fewer.
settings.register_profile(
    "jxframebuf",
    derandomize=True,
    database=None,
    deadline=None,
    max_examples=int(os.environ.get("JXFB_HYPOTHESIS_EXAMPLES", "150")),
    suppress_health_check=[HealthCheck.too_slow],
)
settings.load_profile("jxframebuf")


def pytest_report_header(config):
    return [
        f"SDL {sdl_version()}; video drivers: dummy (unit tests), x11 on a private Xvfb (x11 tests)"
    ]


def pytest_collection_modifyitems(config, items):
    # The quick dummy-driver tests first, then the ones that start X servers and open windows.
    items.sort(key=lambda item: item.get_closest_marker("x11") is not None)


# Under emulation (scripts/aarch64.sh) the interpreter is a foreign program that only the emulator
# can start again: JXFB_EMULATOR is that command, to put in front of it.
EMULATOR = os.environ.get("JXFB_EMULATOR", "").split()


LEAK_TOOL_CRASHED = "LeakSanitizer has encountered a fatal error"
SANITIZER_FINDINGS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer: detected", "runtime error:")


def run_child(command, env, **options):
    """subprocess.run of a child interpreter, its output captured as text. In the sanitizer run,
    LeakSanitizer's own tracer now and then crashes while it stops a child at its exit: the tool
    failing, not a finding. Such a child (and only such a one) runs again with every check but
    the leak check."""
    done = subprocess.run(command, env=env, capture_output=True, text=True, **options)
    if (
        done.returncode != 0
        and LEAK_TOOL_CRASHED in done.stderr
        and not any(finding in done.stderr for finding in SANITIZER_FINDINGS)
    ):
        options_now = env.get("ASAN_OPTIONS", "").replace("detect_leaks=1", "detect_leaks=0")
        done = subprocess.run(command, env=dict(env, ASAN_OPTIONS=options_now),
                              capture_output=True, text=True, **options)  # fmt: skip
    return done


def in_child(program):
    """Runs `program` in a fresh interpreter on the dummy driver and returns what it printed:
    calls that once crashed the process are tried there, so that a crash fails one test only."""
    env = dict(os.environ, SDL_VIDEO_DRIVER="dummy")
    done = run_child([*EMULATOR, sys.executable, "-c", textwrap.dedent(program)], env, timeout=120)
    assert done.returncode == 0, f"the child ended with {done.returncode}: {done.stderr}"
    return done.stdout


@pytest.fixture(scope="session")
def xvfb():
    with xsession.Xvfb() as server:
        yield server


@pytest.fixture
def openbox(xvfb):
    """The openbox window manager on the session's Xvfb, for the x11 tests that need one
    (fullscreen does); stopped after the test, which hands its windows back unframed."""
    with xsession.Openbox(xvfb.display) as wm:
        yield wm


@pytest.fixture(autouse=True)
def video_driver(request, monkeypatch):
    # Sound plays into nothing unless a test chooses a driver (the disk driver, a PulseAudio).
    monkeypatch.setenv("SDL_AUDIO_DRIVER", "dummy")
    if request.node.get_closest_marker("x11"):
        server = request.getfixturevalue("xvfb")
        monkeypatch.setenv("DISPLAY", server.display)
        monkeypatch.setenv("SDL_VIDEO_DRIVER", "x11")
        yield "x11"
    else:
        monkeypatch.setenv("SDL_VIDEO_DRIVER", "dummy")
        yield "dummy"
    # A framebuffer or an Audio a test forgot must not outlive it: its window would confuse the
    # next test.
    gc.collect()
    # Every test leaves SDL shut down: the next may choose another driver or X server.
    assert not sdl.initialised(), "a framebuffer or an Audio outlived its test"


@pytest.fixture
def framebuffers():
    """Makes framebuffers like Framebuffer(...) and tears every one down after the test, whether
    it passed or failed: a window left open would fail the tests after it."""
    made = []

    def make(*args, **kwargs):
        made.append(jxframebuf.Framebuffer(*args, **kwargs))
        return made[-1]

    yield make
    for framebuffer in made:
        framebuffer.quit()


@pytest.fixture
def fb():
    framebuffer = jxframebuf.Framebuffer(32, 24, scale=2, fps=-1)
    yield framebuffer
    framebuffer.quit()
