"""Keyboard, text, mouse, title, fullscreen, resizing and the cursor end to end: real windows on a
private Xvfb, input sent through the X server's XTEST extension (the path a person's keyboard and
mouse take), keyboard layouts switched on the server, pictures and window properties read back
from the server."""

import time

import numpy as np
import pytest

import xsession
from xsession import find_window, find_windows, grab

pytestmark = pytest.mark.x11


def until(condition, fb, timeout=3.0):
    """Drains fb's events (running()) until `condition()` holds; False if it never does."""
    deadline = time.monotonic() + timeout
    while True:
        fb.running()
        if condition():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.005)


def focused(fb):
    """fb's window, raised and given the keyboard focus, once SDL has seen the focus arrive."""
    fb.flip()
    window = find_window()
    xsession.focus(window)
    # A key sent before the focus change reached SDL would go to no window at all.
    xsession.key_down("Shift_L")
    assert until(lambda: fb.key("Left Shift"), fb)
    xsession.key_up("Shift_L")
    assert until(lambda: not fb.key("Left Shift"), fb)
    # SDL drops a click that comes within 10 ms of the window getting the focus (a click that
    # focuses a window is not meant for the program).
    time.sleep(0.03)
    fb.flip()
    return window


def test_held_keys_taps_and_auto_repeat(framebuffers):
    fb = framebuffers(40, 30, scale=3, fps=0)
    focused(fb)
    xsession.key_down("a")
    assert until(lambda: fb.key("A"), fb) and fb.pressed("a")
    # Held over several frames, long enough for the server's auto-repeat: one press, in one frame.
    for _ in range(8):
        fb.flip()
        time.sleep(0.08)
        fb.running()
        assert fb.key("a") and not fb.pressed("a")
    xsession.key_up("a")
    assert until(lambda: not fb.key("a"), fb) and fb.released("a")
    fb.flip()
    assert not fb.released("a")

    # A tap whose press and release both fall between two frames is still one press and one
    # release.
    fb.flip()
    xsession.tap("space")
    assert until(lambda: fb.pressed("Space"), fb)
    assert until(lambda: not fb.key("Space"), fb) and fb.pressed("Space") and fb.released("Space")
    fb.flip()
    assert not fb.pressed("Space") and not fb.released("Space")

    # Either Ctrl: down with the first, up with the last.
    xsession.key_down("Control_R")
    assert until(lambda: fb.key("ctrl"), fb) and fb.pressed("ctrl")
    fb.flip()
    xsession.key_down("Control_L")
    assert until(lambda: fb.key("Left Ctrl"), fb) and not fb.pressed("ctrl")
    xsession.key_up("Control_R")
    assert until(lambda: not fb.key("Right Ctrl"), fb) and fb.key("ctrl")
    assert not fb.released("ctrl")
    fb.flip()
    xsession.key_up("Control_L")
    assert until(lambda: not fb.key("ctrl"), fb) and fb.released("ctrl")


def test_editing_keys_keep_their_place_among_the_text_at_a_key_a_millisecond(framebuffers):
    # A paste or a key macro: all six keys within one frame. typed() and pressed() alone would
    # give "abdc" and one Backspace, in no order; typed(edits=True) keeps the order.
    fb = framebuffers(40, 30, scale=3, fps=0)
    assert fb.typed() == ""
    focused(fb)
    for key in ("a", "b", "d", "BackSpace", "c", "Return"):
        xsession.tap(key)
        time.sleep(0.001)
    time.sleep(0.1)
    fb.running()
    assert fb.typed(edits=True) == "abd\bc\n"
    line = ""
    for ch in fb.typed(edits=True):  # as examples/prompt.py reads it
        line = line[:-1] if ch == "\b" else line if ch == "\n" else line + ch
    assert line == "abc" and fb.typed() == "abdc"


def typing(fb, keys, frames=3):
    """Sends `keys` (keysyms; "+Shift_L" presses and "-Shift_L" releases one), then returns the
    text typed over the next few frames, joined."""
    fb.flip()
    for key in keys:
        if key[0] in "+-" and len(key) > 1:
            (xsession.key_down if key[0] == "+" else xsession.key_up)(key[1:])
        else:
            xsession.tap(key)
    text = ""
    for _ in range(frames):
        time.sleep(0.05)
        fb.running()
        text += fb.typed()
        fb.flip()
    return text


@pytest.fixture
def layout(xvfb):
    """Switches the keyboard layout (before the window opens: SDL reads it then); back to "us"
    after the test."""
    yield xsession.set_layout
    xsession.set_layout("us")


def test_typed_text_through_shift_altgr_and_auto_repeat(framebuffers, layout):
    layout("de")  # AltGr+Q types "@", AltGr+E "€"; Y and Z trade places
    fb = framebuffers(40, 30, scale=3, fps=0)
    assert fb.typed() == ""  # text input starts here
    focused(fb)
    shifted = "+Shift_L h -Shift_L i +Shift_L comma -Shift_L space +Shift_L w -Shift_L o r l d"
    assert typing(fb, shifted.split()) == "Hi; World"  # a German keyboard: Shift+comma is ";"
    assert typing(fb, ["+ISO_Level3_Shift", "q", "e", "-ISO_Level3_Shift", "z"]) == "@€z"
    assert typing(fb, ["Return", "BackSpace", "Left", "Escape"]) == ""  # keys, not text

    # Held down, a key repeats: in the text, and in pressed(name, repeat=True) after its first
    # frame, while pressed(name) keeps to the one press.
    xsession.key_down("x")
    text, repeats = "", 0
    for _ in range(40):  # 1.2 s, past the server's auto-repeat delay
        time.sleep(0.03)
        fb.running()
        text, repeats = (
            text + fb.typed(),
            repeats + (fb.pressed("X", repeat=True) > fb.pressed("X")),
        )
        fb.flip()
    xsession.key_up("x")
    assert set(text) == {"x"} and len(text) > 3 and repeats > 1


def test_keys_by_place_under_a_french_layout(framebuffers, layout):
    layout("fr")  # AZERTY: where a US keyboard has Q, A; where it has W, Z
    fb = framebuffers(20, 20, scale=2, fps=0)
    focused(fb)
    for keysym, name, place in [("a", "A", "physical Q"), ("z", "Z", "physical W"),
                                ("q", "Q", "physical A")]:  # fmt: skip
        xsession.key_down(keysym)
        assert until(lambda name=name: fb.key(name), fb), name
        assert fb.key(place) and fb.pressed(place)
        others = {"physical Q", "physical W", "physical A"} - {place}
        assert not any(fb.key(other) for other in others)
        xsession.key_up(keysym)
        assert until(lambda place=place: not fb.key(place), fb)


@pytest.mark.parametrize(
    "keysym, name",
    [
        ("Left", "Left"),
        ("Return", "Return"),
        ("Escape", "escape"),
        ("F1", "F1"),
        ("Shift_L", "LEFT SHIFT"),
        ("1", "1"),
        ("z", "Z"),
    ],
)
def test_every_kind_of_key_name(framebuffers, keysym, name):
    fb = framebuffers(20, 20, scale=2, fps=0)
    focused(fb)
    xsession.key_down(keysym)
    assert until(lambda: fb.key(name), fb)
    assert fb.pressed(name) and not fb.key("Space")
    xsession.key_up(keysym)
    assert until(lambda: not fb.key(name), fb)


@pytest.mark.parametrize("scale", [1, 3])
def test_mouse_position_and_buttons(framebuffers, scale):
    fb = framebuffers(40, 30, scale=scale, fps=0)
    window = focused(fb)
    last = (40 * scale - 1, 30 * scale - 1)  # the window's last pixel: the picture's last one
    for at, pixel in [
        ((0, 0), (0, 0)),
        (last, (39, 29)),
        ((5 * scale + scale - 1, 2 * scale), (5, 2)),
    ]:
        xsession.move_pointer(window, *at)
        assert until(lambda pixel=pixel: fb.mouse() == pixel, fb), (at, fb.mouse())
    for button, name in [(1, "mouse left"), (2, "mouse middle"), (3, "mouse right")]:
        fb.flip()
        xsession.click(button)  # down and up between two frames
        assert until(lambda name=name: fb.pressed(name), fb), name
        assert until(lambda name=name: not fb.key(name), fb)
    xsession.button_down(1)
    assert until(lambda: fb.key("mouse left"), fb)
    fb.pset(*fb.mouse(), 9)
    xsession.button_up(1)
    assert fb.pget(5, 2) == 9  # painted where the pointer is

    # The wheel is buttons 4 to 7 (up, down, left, right), one notch a click; 8 and 9 are the
    # side buttons.
    for button, turned in [(4, (0.0, 1.0)), (5, (0.0, -1.0)), (6, (-1.0, 0.0)), (7, (1.0, 0.0))]:
        fb.flip()
        xsession.click(button)
        xsession.click(button)
        assert until(lambda turned=turned: fb.wheel() == (2 * turned[0], 2 * turned[1]), fb)
    fb.flip()
    assert fb.wheel() == (0.0, 0.0)
    for button, name in [(8, "mouse x1"), (9, "mouse x2")]:
        xsession.click(button)
        assert until(lambda name=name: fb.pressed(name), fb), name

    # Out of the window with no button held, the pointer is where it went, not on the edge.
    for at, pixel in [((-7 * scale - 1, 4 * scale), (-8, 4)), ((5 * scale, 2 * scale), (5, 2)),
                      ((50 * scale, 31 * scale), (50, 31))]:  # fmt: skip
        xsession.move_pointer(window, *at)
        assert until(lambda pixel=pixel: fb.mouse() == pixel, fb), (at, fb.mouse())


def test_the_pointer_is_unknown_until_it_is_over_the_window(framebuffers):
    # SDL centres windows on the screen. One that opens under the pointer sees it at once.
    for at, pixel in [((5, 5), (-1, -1)), ((960, 600), (20, 15))]:
        xsession.move_pointer(xsession.connect().screen().root, *at)
        fb = framebuffers(40, 30, scale=2, fps=0)
        until(lambda: False, fb, timeout=0.3)  # the events of a few frames
        assert fb.mouse() == pixel
        fb.quit()


def test_the_cursor_hides_over_the_window(framebuffers):
    fb = framebuffers(40, 30, scale=2, fps=0)
    window = focused(fb)
    xsession.move_pointer(window, 10, 10)
    assert until(lambda: fb.mouse() == (5, 5), fb) and xsession.cursor_shown()
    fb.cursor = False
    fb.flip()
    assert not xsession.cursor_shown()
    fb.cursor = True
    fb.flip()
    assert xsession.cursor_shown()


def test_keys_go_to_the_window_with_the_focus(framebuffers):
    a = framebuffers(20, 10, scale=2, fps=0)
    b = framebuffers(30, 10, scale=2, fps=0)
    a.flip()
    b.flip()
    windows = {w.get_geometry().width: w for w in find_windows()}
    for fb, other, window in [(a, b, windows[40]), (b, a, windows[60])]:
        xsession.focus(window)
        time.sleep(0.1)
        fb.flip()
        other.flip()
        xsession.tap("x")
        assert until(lambda fb=fb: fb.pressed("X"), fb)
        other.running()
        assert not other.pressed("X")
    # The focus moves on while Shift is held: the same hold goes on in the other window.
    xsession.key_down("Shift_L")
    assert until(lambda: b.key("Left Shift"), b)
    xsession.focus(windows[40])
    assert until(lambda: a.key("Left Shift"), a) and not a.pressed("Left Shift")
    xsession.key_up("Shift_L")
    assert until(lambda: not a.key("Left Shift"), a)


def test_title_as_the_window_manager_reads_it(framebuffers):
    fb = framebuffers(20, 10, fps=0)
    fb.flip()
    window = find_window()
    assert xsession.title(window) == "JXFramebuffer"
    fb.title = "Snake — score 12 ✓"
    fb.flip()
    assert xsession.title(window) == "Snake — score 12 ✓"
    fb.fullscreen = True  # no window manager here to do it: the window stays as it was
    assert fb.fullscreen is False


def test_a_resized_window_letterboxes_and_maps_the_mouse(framebuffers):
    fb = framebuffers(60, 40, scale=2, fps=0)
    fb.buffer()[:] = np.random.default_rng(3).integers(0, 8, (40, 60), dtype=np.uint8)
    window = focused(fb)
    hints = window.get_wm_normal_hints()  # a fixed size for the window manager
    assert (hints.min_width, hints.max_width) == (120, 120)
    fb.resizable = True
    fb.flip()
    assert window.get_wm_normal_hints().max_width == 16384  # the constructor's limit
    window.configure(width=300, height=100)  # as the user dragging its corner would

    def resized():
        fb.flip()
        return (window.get_geometry().width, window.get_geometry().height) == (300, 100)

    assert fb.window_size == (120, 80)
    assert until(resized, fb)
    fb.flip()
    assert fb.window_size == (300, 100)
    wanted, scale, x, y = expected_letterbox(fb, 300, 100)
    assert (scale, x, y) == (2, 90, 10)
    np.testing.assert_array_equal(grab(window), wanted)
    xsession.move_pointer(window, 90 + 2 * 30, 10 + 2 * 20 + 1)
    assert until(lambda: fb.mouse() == (30, 20), fb), fb.mouse()
    # Another program may size it past that (no window manager here to hold it back): the
    # window is asked back within it, and shows nothing meanwhile (a 30,000 px side would cost
    # gigabytes and most of a second a frame).
    window.configure(width=30000, height=20000)
    xsession.connect().sync()
    assert until(lambda: fb.window_size == (16384, 16384), fb), fb.window_size
    assert (window.get_geometry().width, window.get_geometry().height) == (16384, 16384)


def expected_letterbox(fb, out_w, out_h):
    colours = fb.palette()[fb.buffer()]
    rgb = np.stack([(colours >> s) & 0xFF for s in (16, 8, 0)], axis=-1).astype(np.uint8)
    scale = min(out_w // fb.width, out_h // fb.height)
    picture = rgb.repeat(scale, axis=0).repeat(scale, axis=1)
    x, y = (out_w - picture.shape[1]) // 2, (out_h - picture.shape[0]) // 2
    full = np.zeros((out_h, out_w, 3), np.uint8)
    full[y : y + picture.shape[0], x : x + picture.shape[1]] = picture
    return full, scale, x, y


# Both ways of drawing: by flip into the window surface (Xvfb's OpenGL is software, so that is
# the default here), and through OpenGL's texture, which letterboxes by drawing the picture into
# a smaller square of the window.
@pytest.mark.parametrize("render_driver", [None, "opengl"])
def test_fullscreen_letterboxes_crisp_blocks_maps_the_mouse_and_goes_back(
    framebuffers, openbox, monkeypatch, render_driver
):
    if render_driver:
        monkeypatch.setenv("SDL_RENDER_DRIVER", render_driver)
    # 300 x 200 on the 1920 x 1200 screen: x6 (1800 x 1200), with 60 black columns each side.
    fb = framebuffers(300, 200, scale=2, fps=0)
    fb.buffer()[:] = np.random.default_rng(7).integers(0, 8, (200, 300), dtype=np.uint8)
    window = focused(fb)
    fb.fullscreen = True
    assert fb.fullscreen is True

    def fills_screen():
        fb.flip()
        geometry = window.get_geometry()
        return (geometry.width, geometry.height) == (1920, 1200)

    assert until(fills_screen, fb)
    fb.flip()
    assert fb.window_size == (1920, 1200)
    root = window.query_tree().root
    shown = grab(root)  # what the screen shows, whatever the window manager did
    wanted, scale, x, y = expected_letterbox(fb, 1920, 1200)
    assert (scale, x, y) == (6, 60, 0)
    np.testing.assert_array_equal(shown, wanted)

    for at, pixel in [((60, 0), (0, 0)), ((59, 5), (-1, 0)), ((1859, 1199), (299, 199)),
                      ((1860, 600), (300, 100)), ((60 + 6 * 150 + 5, 6 * 70), (150, 70))]:  # fmt: skip
        xsession.move_pointer(root, *at)
        assert until(lambda pixel=pixel: fb.mouse() == pixel, fb), (at, fb.mouse())

    fb.fullscreen = False

    def windowed():
        fb.flip()
        geometry = window.get_geometry()
        return (geometry.width, geometry.height) == (600, 400)

    assert until(windowed, fb)
    assert fb.fullscreen is False
    fb.flip()
    np.testing.assert_array_equal(grab(window), expected_letterbox(fb, 600, 400)[0])
    assert fb.window_size == (600, 400)

    # Resized by the user through the window manager: the program learns the size.
    fb.resizable = True
    fb.flip()
    window.configure(width=700, height=450)
    window.get_geometry()  # a round trip: the request has reached the server
    assert until(lambda: fb.window_size == (700, 450), fb), fb.window_size
