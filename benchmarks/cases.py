"""The benchmark's measuring side: each case runs alone in a fresh process and prints one JSON line.

    python benchmarks/cases.py CASE '{"argument": value, ...}'

run.py starts these processes one after another, with SDL_VIDEO_DRIVER (and DISPLAY for x11) set
in their environment, so that jxframebuf (SDL3) and pygame-ce (SDL2) use the same video driver. A
process of its own per measurement keeps one library's state (SDL initialised, memory touched)
from colouring another's figures.
"""

from __future__ import annotations

import ctypes
import gc
import json
import os
import sys
import time
from pathlib import Path

import numpy as np

CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


# --- What every program draws -------------------------------------------------------------------


def pictures(width: int, height: int) -> list[np.ndarray]:
    """Two pictures of pseudo-random indices. Each frame replaces the whole picture with the other
    one: noise has no runs or repeats, so no program gets an easy picture."""
    rng = np.random.default_rng(12345)
    return [rng.integers(0, 256, (height, width), dtype=np.uint8) for _ in range(2)]


def palette() -> np.ndarray:
    """256 opaque colours, the same for every program."""
    i = np.arange(256, dtype=np.uint32)
    return 0xFF000000 | ((i * 0x010307) & 0xFFFFFF)


def rates(frame, seconds: float, samples: int, warmup: int = 10) -> list[float]:
    """Calls frame(i) for i = 0, 1, ... and returns the calls per second of each sample, a sample
    being as many calls as fit in `seconds`."""
    for i in range(warmup):
        frame(i)
    i = warmup
    clock = time.perf_counter
    result = []
    for _ in range(samples):
        start = clock()
        count = 0
        while True:
            frame(i)
            i += 1
            count += 1
            elapsed = clock() - start
            if elapsed >= seconds:
                break
        result.append(count / elapsed)
    return result


def _loaded_library(fragment: str) -> str:
    """The path of the shared library already mapped into this process whose name has
    `fragment`."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            path = line.split()[-1]
            if fragment in os.path.basename(path):
                return path
    raise LookupError(fragment)


# --- jxframebuf ---------------------------------------------------------------------------------


def _sdl3():
    import jxframebuf

    # SDL3 is linked into the extension and its symbols are visible there.
    sdl = ctypes.CDLL(jxframebuf._jxframebuf.__file__)
    sdl.SDL_GetWindows.restype = ctypes.POINTER(ctypes.c_void_p)
    sdl.SDL_GetRenderer.restype = ctypes.c_void_p
    sdl.SDL_GetRenderer.argtypes = [ctypes.c_void_p]
    sdl.SDL_GetRendererName.restype = ctypes.c_char_p
    sdl.SDL_GetRendererName.argtypes = [ctypes.c_void_p]
    sdl.SDL_GetCurrentVideoDriver.restype = ctypes.c_char_p
    return sdl


def ours_display() -> dict:
    """The SDL video driver and renderer behind the one open framebuffer ("window surface" where
    flip() draws into the window surface itself)."""
    sdl = _sdl3()
    count = ctypes.c_int()
    windows = sdl.SDL_GetWindows(ctypes.byref(count))
    renderer = sdl.SDL_GetRenderer(windows[0])
    name = sdl.SDL_GetRendererName(renderer).decode() if renderer else "window surface"
    sdl.SDL_free(windows)
    return {"driver": sdl.SDL_GetCurrentVideoDriver().decode(), "renderer": name}


def _ours(width, height, scale, fps):
    import jxframebuf

    fb = jxframebuf.Framebuffer(width, height, scale=scale, fps=fps)
    fb.palette()[:] = palette()
    return fb


@case
def throughput_ours(width, height, scale, seconds, samples):
    fb = _ours(width, height, scale, -1)
    pixels, pics = fb.buffer(), pictures(width, height)
    running, flip = fb.running, fb.flip

    def frame(i):
        running()
        pixels[:] = pics[i & 1]
        flip()

    result = {"fps": rates(frame, seconds, samples), **ours_display()}
    fb.quit()
    return result


@case
def calls_ours(calls, samples):
    import jxframebuf

    fb = jxframebuf.Framebuffer(320, 200, scale=1, fps=-1)
    result = _pset_pget_costs(fb.pset, fb.pget, calls, samples)
    fb.quit()
    return result


def _paced(frame, frames: int) -> dict:
    """Runs frame() `frames` + 10 times and returns the last `frames` periods, in ns, and the
    share of one core the process used over them."""
    clock = time.perf_counter_ns
    stamps = []
    for i in range(frames + 11):
        if i == 10:  # the first ten frames settle in (window mapped, caches warm)
            cpu = time.process_time()
        frame()
        stamps.append(clock())
    cpu = time.process_time() - cpu
    return {
        "periods_ns": np.diff(stamps[10:]).tolist(),
        "cpu_fraction": cpu / ((stamps[-1] - stamps[10]) / 1e9),
    }


@case
def pacing_ours(frames, width=64, height=40, scale=2):
    """A loop that does nothing but show a tiny picture at 60 fps: what pacing itself costs."""
    fb = _ours(width, height, scale, 60)

    def frame():
        fb.running()
        fb.flip()

    result = _paced(frame, frames) | ours_display()
    fb.quit()
    return result


def _input_events(window_id: int) -> list:
    """Ten events of a busy hand, as SDL's video driver would queue them in one frame: three
    pointer moves, a key going down and up, a click, a wheel notch and two typed characters."""
    texts = [ctypes.create_string_buffer(b"a"), ctypes.create_string_buffer(b"b")]

    def event(*fields):
        raw = (ctypes.c_uint8 * 128)()
        for offset, kind, value in ((16, ctypes.c_uint32, window_id), *fields):
            kind.from_buffer(raw, offset).value = value
        return raw

    u32, u16, f32, b = ctypes.c_uint32, ctypes.c_uint16, ctypes.c_float, ctypes.c_bool
    moves = [event((0, u32, 0x400), (28, f32, 10.0 + i), (32, f32, 7.0)) for i in range(3)]
    keys = [event((0, u32, 0x300 + up), (24, u32, 4), (28, u32, 0x61), (34, u16, 38),
                  (36, b, not up)) for up in (0, 1)]  # fmt: skip
    clicks = [event((0, u32, 0x401 + up), (24, ctypes.c_uint8, 1), (25, b, not up),
                    (28, f32, 12.0), (32, f32, 7.0)) for up in (0, 1)]  # fmt: skip
    wheel = event((0, u32, 0x403), (28, f32, 1.0), (36, f32, 12.0), (40, f32, 7.0))
    typed = [event((0, u32, 0x303), (24, ctypes.c_void_p, ctypes.addressof(t))) for t in texts]
    return [*moves, *keys, *clicks, wheel, *typed], texts


@case
def input_cost_ours(calls, samples, width=64, height=40, scale=2):
    """ns per running() and per flip() call, unpaced, with ten input events queued before each
    call (see _input_events): what draining and tracking a frame's input costs the loop."""
    fb = _ours(width, height, scale, -1)
    sdl = _sdl3()
    count = ctypes.c_int()
    windows = sdl.SDL_GetWindows(ctypes.byref(count))
    sdl.SDL_GetWindowID.argtypes = [ctypes.c_void_p]
    window_id = sdl.SDL_GetWindowID(windows[0])
    sdl.SDL_free(windows)
    events, _keep = _input_events(window_id)
    push = sdl.SDL_PushEvent
    clock = time.perf_counter_ns

    def cost(call) -> float:
        # The mean of the middle half of the calls: a busy machine preempts a call now and then,
        # which a plain mean would carry, and the clock's steps are too coarse for a median.
        durations = np.empty(calls, np.int64)
        for i in range(calls):
            for e in events:
                push(e)
            start = clock()
            call()
            durations[i] = clock() - start
        for i in range(calls):  # less what reading the clock twice costs
            start = clock()
            durations[i] -= clock() - start
        durations.sort()
        return float(durations[calls // 4 : calls - calls // 4].mean())

    cost(fb.running)  # warm up
    result: dict = {"running": [], "flip": []}
    for _ in range(samples):
        result["running"].append(cost(fb.running))
        result["flip"].append(cost(fb.flip))
    result |= ours_display()
    fb.quit()
    return result


@case
def threads_ours(kind, seconds, segment_frames=30, width=64, height=40, scale=2):
    """A 60 fps loop on the main thread beside one other thread: a busy one counting as fast as it
    can, or one that sleeps 1 ms at a time and counts its wake-ups. The loop takes turns, a
    segment of `segment_frames` frames each, at being paced by flip() and by time.sleep (what a
    loop that sleeps lets other threads do), so that both see the machine in the same state.
    Returns, per way of pacing, the other thread's count a second and the loop's frame periods."""
    import threading

    stop = threading.Event()
    counts = [0]

    def busy():
        n = 0
        while not stop.is_set():
            for _ in range(1000):
                n += 1
            counts[0] = n

    def sleeper():
        n = 0
        while not stop.is_set():
            time.sleep(0.001)
            n += 1
            counts[0] = n

    fb = _ours(width, height, scale, 60)
    for _ in range(10):  # settle in before the other thread starts
        fb.running()
        fb.flip()
    worker = threading.Thread(target=busy if kind == "busy" else sleeper)
    worker.start()
    clock = time.perf_counter_ns
    totals = {"flip": [0, 0], "sleep": [0, 0]}  # counted, nanoseconds
    periods: dict[str, list[int]] = {"flip": [], "sleep": []}
    end = clock() + seconds * 1e9
    pacer = "flip"
    while clock() < end:
        # The first frame of a segment only starts its rhythm: neither counted nor timed.
        if pacer == "flip":
            fb.running()
            fb.flip()
        else:
            deadline = time.perf_counter() + 1 / 60
            time.sleep(max(0.0, deadline - time.perf_counter()))
        start_count, stamps = counts[0], [clock()]
        for _ in range(segment_frames):
            if pacer == "flip":
                fb.running()
                fb.flip()
            else:
                deadline += 1 / 60
                time.sleep(max(0.0, deadline - time.perf_counter()))
            stamps.append(clock())
        totals[pacer][0] += counts[0] - start_count
        totals[pacer][1] += stamps[-1] - stamps[0]
        periods[pacer] += np.diff(stamps).tolist()
        pacer = "sleep" if pacer == "flip" else "flip"
    stop.set()
    worker.join()
    fb.quit()
    return {
        p: {"per_second": c / (ns / 1e9), "periods_ns": periods[p]} for p, (c, ns) in totals.items()
    }


def _resident_bytes() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise LookupError("VmRSS")


@case
def memory_ours(first, total, width=320, height=200, scale=1):
    fb = _ours(width, height, scale, -1)
    pixels, pics = fb.buffer(), pictures(width, height)
    resident = {}
    for i in range(1, total + 1):
        pixels[:] = pics[i & 1]
        fb.flip()
        if i in (first, total):
            gc.collect()
            resident[str(i)] = _resident_bytes()
    fb.quit()
    return {"resident_bytes": resident}


# --- pygame-ce ----------------------------------------------------------------------------------


def _pygame():
    os.environ["PYGAME_HIDE_SUPPORT_PROMPT"] = "1"
    import pygame

    pygame.display.init()
    return pygame


def _sdl2_renderer_name(window_id: int) -> str:
    """The SDL2 renderer of pygame's window `window_id`, asked of pygame's own SDL2."""

    class RendererInfo(ctypes.Structure):
        _fields_ = [
            ("name", ctypes.c_char_p),
            ("flags", ctypes.c_uint32),
            ("num_texture_formats", ctypes.c_uint32),
            ("texture_formats", ctypes.c_uint32 * 16),
            ("max_texture_width", ctypes.c_int),
            ("max_texture_height", ctypes.c_int),
        ]

    sdl = ctypes.CDLL(_loaded_library("libSDL2"))
    sdl.SDL_GetWindowFromID.restype = ctypes.c_void_p
    sdl.SDL_GetRenderer.restype = ctypes.c_void_p
    sdl.SDL_GetRenderer.argtypes = [ctypes.c_void_p]
    sdl.SDL_GetRendererInfo.argtypes = [ctypes.c_void_p, ctypes.POINTER(RendererInfo)]
    renderer = sdl.SDL_GetRenderer(sdl.SDL_GetWindowFromID(window_id))
    if not renderer:
        return "none (window surface)"
    info = RendererInfo()
    sdl.SDL_GetRendererInfo(renderer, ctypes.byref(info))
    return info.name.decode()


# The ways pygame-ce offers to show an 8-bit palettized Surface magnified; the benchmark tries
# them all and compares with the fastest.
PYGAME_METHODS = {
    "renderer": "blit to a 32-bit Surface, Texture.update, Renderer.blit and present "
    "(pygame._sdl2.video)",
    "scaled": "blit to a SCALED display Surface sized to the magnified window, display.flip",
    "software": "blit to a 32-bit Surface, transform.scale onto the display Surface, display.flip",
    "direct": "as software, with SDL_FRAMEBUFFER_ACCELERATION=0: the display Surface is the "
    "window system's own (X11 shared memory), not put on the GPU by SDL",
}


class PygameShow:
    """An 8-bit palettized pygame-ce Surface of width x height, shown magnified `scale` times in
    one of the PYGAME_METHODS. `frame(i)` replaces the whole picture and shows it, as a pygame
    program's frame loop would."""

    def __init__(self, method: str, width: int, height: int, scale: int) -> None:
        if method == "direct":
            os.environ["SDL_FRAMEBUFFER_ACCELERATION"] = "0"  # read when the display opens
            method = "software"
        pg = self.pg = _pygame()
        self.method = method
        size = (width * scale, height * scale)
        self.indexed = pg.Surface((width, height), depth=8)
        self.indexed.set_palette(
            [((c >> 16) & 255, (c >> 8) & 255, c & 255) for c in palette().tolist()]
        )
        # The pictures as bytes: BufferProxy.write copies bytes with one memcpy.
        self.pics = [p.tobytes() for p in pictures(width, height)]
        pump, indexed, pics = pg.event.pump, self.indexed, self.pics

        if method == "renderer":
            from pygame._sdl2.video import Renderer, Texture

            self.window = pg.Window("pygame-ce", size)
            renderer = Renderer(self.window)
            texture = Texture(renderer, (width, height), streaming=True, scale_quality=0)
            texture.blend_mode = 0  # the picture is opaque: no blending
            rgb = pg.Surface((width, height), depth=32)

            def frame(i):
                pump()
                indexed.get_buffer().write(pics[i & 1])
                rgb.blit(indexed, (0, 0))
                texture.update(rgb)
                renderer.clear()
                renderer.blit(texture)
                renderer.present()

        elif method == "scaled":
            import warnings

            screen = pg.display.set_mode((width, height), pg.SCALED)
            # SCALED picks the largest whole factor that fits the desktop; the window is then
            # given the size wanted, and SDL's logical-size scaling fills it.
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                self.window = pg.Window.from_display_module()
            self.window.size = size
            flip = pg.display.flip

            def frame(i):
                pump()
                indexed.get_buffer().write(pics[i & 1])
                screen.blit(indexed, (0, 0))
                flip()

        elif method == "software":
            screen = pg.display.set_mode(size)
            self.window = None
            flip, scale_to = pg.display.flip, pg.transform.scale
            rgb = pg.Surface((width, height), 0, screen)

            if scale == 1:

                def frame(i):
                    pump()
                    indexed.get_buffer().write(pics[i & 1])
                    screen.blit(indexed, (0, 0))
                    flip()
            else:

                def frame(i):
                    pump()
                    indexed.get_buffer().write(pics[i & 1])
                    rgb.blit(indexed, (0, 0))
                    scale_to(rgb, size, screen)
                    flip()
        else:
            raise ValueError(f"unknown method {method!r}")
        self.frame = frame

    def display(self) -> dict:
        renderer = "none (window surface)"
        if self.window is not None:
            renderer = _sdl2_renderer_name(self.window.id)
        return {"driver": self.pg.display.get_driver(), "renderer": renderer}


@case
def throughput_pygame(method, width, height, scale, seconds, samples):
    show = PygameShow(method, width, height, scale)
    return {"fps": rates(show.frame, seconds, samples), **show.display()}


@case
def calls_pygame(calls, samples):
    pg = _pygame()
    surface = pg.Surface((320, 200), depth=8)
    set_at, get_at = surface.set_at, surface.get_at

    def set_loop(coords):
        for x, y in coords:
            set_at((x, y), 7)

    def get_loop(coords):
        for x, y in coords:
            get_at((x, y))

    return _call_costs({"set_at": set_loop, "get_at": get_loop}, calls, samples)


@case
def pacing_pygame(frames, busy, width=64, height=40, scale=2):
    """The same loop in pygame-ce: the tiny picture shown and the frame paced by its Clock."""
    pg = _pygame()
    screen = pg.display.set_mode((width * scale, height * scale))
    screen.fill((0, 0, 0))
    clock = pg.time.Clock()
    # tick sleeps with SDL_Delay (whole milliseconds); tick_busy_loop spins on the clock.
    tick = clock.tick_busy_loop if busy else clock.tick
    pump, flip = pg.event.pump, pg.display.flip

    def frame():
        pump()
        flip()
        tick(60)

    return _paced(frame, frames) | {"driver": pg.display.get_driver(), "renderer": "none"}


# --- pyxel --------------------------------------------------------------------------------------


@case
def calls_pyxel(calls, samples):
    os.environ.setdefault("SDL_AUDIODRIVER", "dummy")
    import pyxel

    pyxel.init(320, 200)
    return _pset_pget_costs(pyxel.pset, pyxel.pget, calls, samples)


# --- Per-call cost ------------------------------------------------------------------------------


def _pset_pget_costs(pset, pget, calls: int, samples: int) -> dict:
    """_call_costs of pset(x, y, 7) and pget(x, y), for APIs that share those shapes."""

    def set_loop(coords):
        for x, y in coords:
            pset(x, y, 7)

    def get_loop(coords):
        for x, y in coords:
            pget(x, y)

    return _call_costs({"pset": set_loop, "pget": get_loop}, calls, samples)


def _call_costs(loops: dict, calls: int, samples: int) -> dict:
    """Nanoseconds per call of each loop over `calls` coordinates, less the cost of the bare loop
    (unpacking the coordinates), sampled alternately. Returns {name: [ns per call, ...]}."""
    rng = np.random.default_rng(7)
    coords = list(zip(rng.integers(0, 320, calls).tolist(), rng.integers(0, 200, calls).tolist()))

    def bare(coords):
        for _x, _y in coords:
            pass

    clock = time.perf_counter_ns
    costs = {name: [] for name in loops}
    for _ in range(samples + 1):  # the first round warms up
        start = clock()
        bare(coords)
        base = clock() - start
        for name, loop in loops.items():
            start = clock()
            loop(coords)
            costs[name].append((clock() - start - base) / calls)
    return {name: values[1:] for name, values in costs.items()}


def main() -> None:
    name, arguments = sys.argv[1], json.loads(sys.argv[2]) if len(sys.argv) > 2 else {}
    print(json.dumps(CASES[name](**arguments)))


if __name__ == "__main__":
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    main()
