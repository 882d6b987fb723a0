"""SDL itself, reached through ctypes inside the extension (which links it): what the tests need to
see that the module cannot show, and the events that the public testing kit (jxframebuf.testing)
does not make, put on SDL's own queue as a video driver would: auto-repeat, keys at another place
than a US keyboard's, SDL's own releases on a change of focus, window events, pointer positions in
window coordinates and "natural" scrolling."""

import ctypes
import sys

import numpy as np

import jxframebuf

# Windows wheels carry SDL3.dll beside the module (a DLL exports only what it declares, so a
# static SDL3 inside the module would be out of reach); the module has loaded it already.
lib = ctypes.CDLL("SDL3.dll" if sys.platform == "win32" else jxframebuf._jxframebuf.__file__)
lib.SDL_GetWindows.restype = ctypes.POINTER(ctypes.c_void_p)
lib.SDL_GetWindowSurface.restype = ctypes.c_void_p
lib.SDL_GetWindowSurface.argtypes = [ctypes.c_void_p]
lib.SDL_GetRenderer.restype = ctypes.c_void_p
lib.SDL_GetRenderer.argtypes = [ctypes.c_void_p]
lib.SDL_WindowHasSurface.argtypes = [ctypes.c_void_p]
lib.SDL_WindowHasSurface.restype = ctypes.c_bool
lib.SDL_GetWindowID.argtypes = [ctypes.c_void_p]
lib.SDL_GetWindowID.restype = ctypes.c_uint32
lib.SDL_GetWindowTitle.argtypes = [ctypes.c_void_p]
lib.SDL_GetWindowTitle.restype = ctypes.c_char_p
lib.SDL_PushEvent.argtypes = [ctypes.c_void_p]
lib.SDL_PushEvent.restype = ctypes.c_bool
lib.SDL_CursorVisible.restype = ctypes.c_bool
lib.SDL_GetWindowFlags.argtypes = [ctypes.c_void_p]
lib.SDL_GetWindowFlags.restype = ctypes.c_uint64
lib.SDL_GetTicksNS.restype = ctypes.c_uint64

QUIT = 0x100
WINDOW_SHOWN = 0x202
# In the order SDL numbers its window events from WINDOW_SHOWN on.
_WINDOW_EVENTS = ["SHOWN", "HIDDEN", "EXPOSED", "MOVED", "RESIZED", "PIXEL_SIZE_CHANGED",
                  "METAL_VIEW_RESIZED", "MINIMIZED", "MAXIMIZED", "RESTORED", "MOUSE_ENTER",
                  "MOUSE_LEAVE", "FOCUS_GAINED", "FOCUS_LOST", "CLOSE_REQUESTED", "HIT_TEST",
                  "ICCPROF_CHANGED", "DISPLAY_CHANGED", "DISPLAY_SCALE_CHANGED",
                  "SAFE_AREA_CHANGED", "OCCLUDED", "ENTER_FULLSCREEN", "LEAVE_FULLSCREEN"]  # fmt: skip
WINDOW = {name: WINDOW_SHOWN + i for i, name in enumerate(_WINDOW_EVENTS)}
KEY_DOWN, KEY_UP, TEXT_INPUT = 0x300, 0x301, 0x303
MOUSE_MOTION, MOUSE_BUTTON_DOWN, MOUSE_BUTTON_UP, MOUSE_WHEEL = 0x400, 0x401, 0x402, 0x403
# Keycodes of a few keys (SDL_keycode.h): characters are themselves, the rest carry bit 30.
KEYCODES = {"a": 0x61, "space": 0x20, "1": 0x31, "!": 0x21, "left": 0x4000_0050, "f1": 0x4000_003A,
            "left shift": 0x4000_00E1, "return": 0x0D, "escape": 0x1B, "é": 0xE9}  # fmt: skip
# Scancodes (SDL_scancode.h): the keys' places on a US keyboard.
SCANCODES = {"a": 4, "q": 20, "w": 26, "space": 44, "1": 30, "!": 30, "left": 80, "f1": 58,
             "left shift": 225, "return": 40, "escape": 41, "é": 31}  # fmt: skip
BUTTONS = {"left": 1, "middle": 2, "right": 3, "x1": 4, "x2": 5}


def version() -> str:
    v = lib.SDL_GetVersion()
    return f"{v // 1000000}.{v // 1000 % 1000}.{v % 1000}"


def initialised() -> bool:
    """Whether any SDL subsystem is up: after the last framebuffer is torn down, none is."""
    return lib.SDL_WasInit(0) != 0


def windows() -> list[int]:
    """SDL's open windows, oldest first, as handles."""
    count = ctypes.c_int()
    array = lib.SDL_GetWindows(ctypes.byref(count))
    try:
        return sorted((array[i] for i in range(count.value)), key=window_id)
    finally:
        lib.SDL_free(array)


def hidden(window: int) -> bool:
    return bool(lib.SDL_GetWindowFlags(window) & 0x8)  # SDL_WINDOW_HIDDEN


def title(window: int) -> str:
    return lib.SDL_GetWindowTitle(window).decode()


def window_id(window: int) -> int:
    return lib.SDL_GetWindowID(window)


def has_renderer(window: int) -> bool:
    return bool(lib.SDL_GetRenderer(window))


def has_surface(window: int) -> bool:
    """Whether the window shows a window surface (which SDL may itself put on the GPU)."""
    return bool(lib.SDL_WindowHasSurface(window))


class _Surface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_uint32), ("w", ctypes.c_int),
                ("h", ctypes.c_int), ("pitch", ctypes.c_int), ("pixels", ctypes.c_void_p)]  # fmt: skip


def shown(window: int) -> np.ndarray:
    """What the window surface holds, as (height, width, 3) RGB bytes: on the dummy driver, what
    the window shows. The surface is 32-bit XRGB there."""
    surface = _Surface.from_address(lib.SDL_GetWindowSurface(window))
    raw = (ctypes.c_uint8 * (surface.pitch * surface.h)).from_address(surface.pixels)
    rows = np.frombuffer(raw, np.uint8).reshape(surface.h, surface.pitch)
    xrgb = rows[:, : surface.w * 4].view("<u4")
    return np.stack([(xrgb >> s) & 0xFF for s in (16, 8, 0)], axis=-1).astype(np.uint8)


def fill_surface(window: int, xrgb: int) -> None:
    """Paints the whole window surface one colour behind flip's back."""
    surface = _Surface.from_address(lib.SDL_GetWindowSurface(window))
    raw = (ctypes.c_uint32 * (surface.pitch // 4 * surface.h)).from_address(surface.pixels)
    np.frombuffer(raw, np.uint32)[:] = xrgb


def set_surface_format(window: int, format: int) -> None:
    """Relabels the window surface's pixel format, as if the window system had handed over a
    surface of another kind (the same size of pixel, so its memory stays what SDL allocated)."""
    _Surface.from_address(lib.SDL_GetWindowSurface(window)).format = format


def _push(fields: list[tuple[int, str, object]]) -> None:
    """Puts an event on SDL's queue: (byte offset, ctypes type code, value) for each field."""
    event = (ctypes.c_uint8 * 128)()
    for offset, code, value in fields:
        getattr(ctypes, code).from_buffer(event, offset).value = value
    assert lib.SDL_PushEvent(ctypes.byref(event))


def push_quit() -> None:
    _push([(0, "c_uint32", QUIT)])


def ticks_ns() -> int:
    """SDL's clock, which events are stamped by."""
    return lib.SDL_GetTicksNS()


def push_window_event(kind: str, window: int, timestamp: int = 0) -> None:
    _push([(0, "c_uint32", WINDOW[kind]), (8, "c_uint64", timestamp),
           (16, "c_uint32", window_id(window))])  # fmt: skip


def push_key(
    window: int,
    key: str,
    down: bool,
    repeat: bool = False,
    place: str = "",
    raw: int = 1,
    timestamp: int = 0,
) -> None:
    """A key typing `key` on the key at `place` (by default where it is on a US keyboard); `raw`
    is the keyboard's own code, 0 for a release SDL makes up itself on a change of focus. A
    timestamp of 0 is SDL's now."""
    _push([(0, "c_uint32", KEY_DOWN if down else KEY_UP), (8, "c_uint64", timestamp),
           (16, "c_uint32", window_id(window)),
           (24, "c_uint32", SCANCODES[place or key]), (28, "c_uint32", KEYCODES[key]),
           (34, "c_uint16", raw), (36, "c_bool", down), (37, "c_bool", repeat)])  # fmt: skip


_texts = []  # SDL keeps a pointer to an event's text: they live as long as the process


def push_text(window: int, text: str | bytes) -> None:
    """Text as an input method sends it: a str as UTF-8, or bytes as they are."""
    _texts.append(ctypes.create_string_buffer(text if isinstance(text, bytes) else text.encode()))
    _push([(0, "c_uint32", TEXT_INPUT), (16, "c_uint32", window_id(window)),
           (24, "c_void_p", ctypes.addressof(_texts[-1]))])  # fmt: skip


def push_wheel(window: int, x: float, y: float, flipped: bool = False) -> None:
    _push([(0, "c_uint32", MOUSE_WHEEL), (16, "c_uint32", window_id(window)),
           (24, "c_float", x), (28, "c_float", y), (32, "c_uint32", int(flipped)),
           (36, "c_float", 5.0), (40, "c_float", 5.0)])  # fmt: skip


def push_button(window: int, button: str, down: bool, x: float = 0.0, y: float = 0.0) -> None:
    _push([(0, "c_uint32", MOUSE_BUTTON_DOWN if down else MOUSE_BUTTON_UP),
           (16, "c_uint32", window_id(window)), (24, "c_uint8", BUTTONS[button]),
           (25, "c_bool", down), (28, "c_float", x), (32, "c_float", y)])  # fmt: skip


def push_motion(window: int, x: float, y: float) -> None:
    _push([(0, "c_uint32", MOUSE_MOTION), (16, "c_uint32", window_id(window)),
           (28, "c_float", x), (32, "c_float", y)])  # fmt: skip


def cursor_visible() -> bool:
    return lib.SDL_CursorVisible()
