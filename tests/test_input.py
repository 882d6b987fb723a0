"""Keyboard, text, mouse and gamepad state, the window's title, fullscreen, size and cursor, and the
`with` statement, on SDL's dummy driver. Input comes through the public testing kit
(jxframebuf.testing) where it can; what only SDL's own events say (auto-repeat, a change of focus,
a key at another place than a US keyboard's, window coordinates) is put on SDL's queue as its video
driver would (tests/sdl.py). tests/test_x11_input.py sends real input through the X server."""

import fnmatch
import gc
import os
import re
from pathlib import Path

import numpy as np
import pytest
import sdl

from jxframebuf import Framebuffer, key_names, testing

ROOT = Path(__file__).resolve().parent.parent


@pytest.fixture
def fb():
    with Framebuffer(40, 30, scale=3, fps=0) as framebuffer:
        yield framebuffer


def window_of(fb):
    """The SDL window of the newest framebuffer."""
    return sdl.windows()[-1]


def test_held_and_pressed_across_frames(fb):
    w = window_of(fb)
    assert not fb.key("A") and not fb.pressed("A")
    testing.press(fb, "A")
    assert not fb.key("A")  # nothing is seen before a drain
    assert fb.running()
    assert fb.key("A") and fb.pressed("A") and not fb.released("A")
    fb.flip()
    sdl.push_key(w, "a", True, repeat=True)  # auto-repeat while held is not a new press...
    fb.running()
    assert fb.key("A") and not fb.pressed("A")
    assert fb.pressed("A", repeat=True) and fb.pressed("physical A", repeat=True)  # ...unless asked
    fb.flip()
    assert fb.key("A") and not fb.pressed("A", repeat=True)
    fb.flip()  # held for several frames: reported pressed once only
    # A second "down" without an "up" between (a repeat not marked as one, a second keyboard).
    sdl.push_key(w, "a", True)
    fb.running()
    assert fb.key("a") and not fb.pressed("a") and not fb.pressed("physical A")
    testing.release(fb, "a")
    fb.running()
    assert not fb.key("a") and not fb.pressed("a") and fb.released("a")
    fb.flip()
    assert not fb.released("a")


def test_a_tap_shorter_than_a_frame_is_pressed_and_released_in_exactly_one_frame(fb):
    testing.tap(fb, "Space")
    fb.running()  # both ends of the tap in one drain
    assert fb.pressed("Space") and fb.released("Space") and not fb.key("Space")
    fb.running()  # still the same frame
    assert fb.pressed("space") and fb.released("space")
    fb.flip()
    assert not fb.pressed("space") and not fb.released("space")

    # Drained by flip() itself: the press belongs to the frame that flip begins.
    testing.click(fb, 3, 4)
    fb.flip()
    assert fb.pressed("mouse left") and fb.released("mouse left") and not fb.key("mouse left")
    assert fb.mouse() == (3, 4)
    fb.flip()
    assert not fb.pressed("mouse left") and not fb.released("mouse left")


def test_every_kind_of_name_in_any_case(fb):
    w = window_of(fb)
    # "!" is its own key, though SDL's name lookup would give the key it is typed with ("1").
    names = {"1": "1", "!": "!", "left": "Left", "f1": "F1", "left shift": "Left Shift",
             "return": "Return", "escape": "ESCAPE"}  # fmt: skip
    for name in names.values():
        testing.press(fb, name)
        fb.running()
        assert fb.key(name) and fb.key(name.lower()) and fb.key(name.upper()), name
        others = [n for n in names.values() if n != name]
        assert not any(fb.key(other) for other in others), name
        testing.release(fb, name)
        fb.running()
        assert not fb.key(name)
    buttons = ("left", "middle", "right", "x1", "x2")
    for button in buttons:
        testing.press(fb, f"mouse {button}")
        fb.running()
        assert fb.key(f"mouse {button}") and fb.key(f"Mouse {button.upper()}")
        assert [fb.key(f"mouse {b}") for b in buttons].count(True) == 1
        testing.release(fb, f"mouse {button}")
        fb.running()
        assert not fb.key(f"mouse {button}")
    # Case is folded one character to one, as Unicode's simple case folding does.
    sdl.push_key(w, "é", True)
    fb.running()
    assert fb.key("É") and fb.key("é") and not fb.key("E")
    sdl.push_key(w, "é", False)
    assert fb.running() and not fb.key("É")
    assert not fb.key("ẞ") and not fb.key("PAD8 A")  # "ẞ" is "ß", never "ss"; "pad8" is a pad
    # A French keyboard: the key where a US one has Q types "a". Names by place follow the place.
    sdl.push_key(w, "a", True, place="q")
    fb.running()
    assert (
        fb.key("A") and fb.key("physical Q") and fb.key("PHYSICAL q") and fb.pressed("physical q")
    )
    assert not fb.key("physical A") and not fb.key("Q")
    sdl.push_key(w, "a", False, place="q")
    fb.running()
    assert not fb.key("physical Q") and fb.pressed("physical Q")


def test_unknown_names_and_non_text_are_refused(fb):
    misspelt = ["", "no such key", "mouse", "mouse left ", "Spacebar", "a\0b", "AB", "mouse x3",
                "pad a\0", "physical", "physical Qq", "physicalq", "pad", "pad z", "pad0 a",
                "pad9 a", "pada", "pad  a", "pad2a", "pad leftx"]  # fmt: skip
    for name in misspelt:
        with pytest.raises(ValueError, match="unknown key name") as raised:
            fb.key(name)
        assert f"'{name}'".replace("\0", "\\x00") in str(raised.value)  # named whole
        with pytest.raises(ValueError, match="unknown key name"):
            fb.pressed(name)
    # The nearest name when one is near; else the kinds of names. A huge name is cut short.
    for name, meant in [("Page Up", "PageUp"), ("Spacebar", "Space"), ("physicalq", "physical Q"),
                        ("mouse x3", "mouse x1"), ("pad dpupp", "pad dpup")]:  # fmt: skip
        with pytest.raises(ValueError) as raised:
            fb.pressed(name)
        assert str(raised.value) == f"unknown key name '{name}': did you mean '{meant}'?"
    with pytest.raises(
        ValueError, match=r"^unknown key name 'x{40}\.\.\.' \(100000 char"
    ) as raised:
        fb.key("x" * 100_000)
    assert "'physical W'" in str(raised.value) and "'pad dpup'" in str(raised.value)
    with pytest.raises(
        ValueError, match=r"^unknown axis name 'pad lefty2': did you mean 'pad lefty'"
    ):
        fb.axis("pad lefty2")
    for name in ("leftx", "pad", "pad +leftx", "pad a", "pad9 leftx", "pad2leftx"):
        with pytest.raises(ValueError, match=f"^unknown axis name '{re.escape(name)}'"):
            fb.axis(name)
    for wrong in (b"a", 65, None, ["a"]):
        with pytest.raises(TypeError, match=r"^key\(\) argument name must be a str, not "):
            fb.key(wrong)
        with pytest.raises(TypeError, match=r"^pressed\(\) argument name must be a str, not "):
            fb.pressed(wrong)
    with pytest.raises(UnicodeEncodeError):  # a lone surrogate has no UTF-8
        fb.key("\ud800")
    assert fb.key(name="Space") is False  # the name may be passed by keyword


def test_losing_the_focus_releases_the_keys_but_not_the_presses(fb):
    w = window_of(fb)
    sdl.push_key(w, "a", True)
    sdl.push_button(w, "right", True)
    sdl.push_window_event("FOCUS_LOST", w)
    fb.running()
    assert not fb.key("a") and fb.pressed("a")
    assert fb.key("mouse right")  # a held button keeps the pointer's window
    fb.flip()
    # The key still down when the focus comes back goes on auto-repeating: not a press, not held.
    sdl.push_key(w, "a", True, repeat=True)
    fb.running()
    assert not fb.key("a") and not fb.pressed("a")
    fb.quit()
    with Framebuffer(8, 8, fps=0) as again:  # a new start of SDL: no hold goes on into it
        sdl.push_key(window_of(again), "a", True)
        assert again.running() and again.pressed("a")


def test_either_side_modifiers_and_every_way_a_key_goes_up(fb):
    # Either side's key holds "ctrl"; it goes down with the first and up with the last.
    testing.press(fb, "Left Ctrl")
    fb.flip()
    assert fb.key("ctrl") and fb.pressed("CTRL") and not fb.key("Right Ctrl")
    testing.press(fb, "Right Ctrl")
    fb.flip()
    assert fb.key("Ctrl") and not fb.pressed("ctrl")  # no new press while one side is held
    testing.release(fb, "Left Ctrl")
    fb.flip()
    assert fb.key("ctrl") and not fb.released("ctrl") and fb.released("Left Ctrl")
    testing.release(fb, "Right Ctrl")
    fb.flip()
    assert not fb.key("ctrl") and fb.released("ctrl")
    for side in ("shift", "alt", "gui"):  # a tap of the right-hand key, in one frame
        testing.tap(fb, f"Right {side}")
        fb.flip()
        assert fb.pressed(side.upper()) and fb.released(side) and not fb.key(side), side
        assert not fb.pressed("ctrl") and not fb.released("ctrl")
    testing.tap(fb, "ctrl")  # the kit presses an either-side name's left key
    fb.flip()
    assert fb.pressed("Left Ctrl") and fb.released("ctrl")

    # A focus loss, an unplugged pad and quit() release what is held: once, in the next frame.
    w = window_of(fb)
    fb.gamepads()
    with testing.Gamepad() as pad:
        testing.press(fb, "Left Shift")
        testing.press(fb, "mouse right")
        pad.press("b")
        fb.flip()
        assert fb.key("shift") and fb.key("pad b") and not fb.released("pad b")
        sdl.push_window_event("FOCUS_LOST", w)
        fb.flip()
        assert (
            fb.released("Left Shift")
            and fb.released("shift")
            and fb.released("physical Left Shift")
        )
        assert not fb.released("mouse right") and fb.key("mouse right")  # the pointer's window
    fb.flip()
    assert fb.released("pad b") and not fb.key("pad b") and not fb.released("shift")
    fb.flip()
    assert not fb.released("pad b")
    testing.press(fb, "z")
    fb.flip()
    fb.quit()
    assert fb.released("z") and fb.released("physical Z") and fb.released("mouse right")
    assert not fb.key("z") and not fb.pressed("z")
    fb.flip()
    assert not fb.released("z") and not fb.released("mouse right")


def test_key_names_are_every_name_the_docs_give_and_each_is_taken():
    names = key_names()  # before any window: SDL's US layout
    assert len(names) == len(set(names))
    patterns = [n for n in names if "[" in n]
    with Framebuffer(8, 8, fps=0) as fb:
        assert key_names() == names  # the dummy driver's layout is SDL's US one
        for name in names:
            assert fb.key(name.replace("[1-8]", "5")) is False, name  # unknown names raise
    assert {"A", "Return", "Escape", "PageUp", "physical W", "mouse x2", "ctrl", "gui",
            "pad dpup", "pad[1-8] start", "Keypad Enter", "Left Shift"} <= set(names)  # fmt: skip
    # Every name the docs and the stub quote for key() is listed, or a pattern's, or a character.
    docs = (ROOT / "docs" / "input.md").read_text()
    section = docs.split("## Names", 1)[1].split("\n## ", 1)[0]
    quoted = set(re.findall(r'`"([^"`]+)"`', section))
    stub = (ROOT / "src" / "jxframebuf" / "__init__.pyi").read_text()
    names_part = stub.split("    def key(", 1)[1].split('"""', 2)[1].split("A tap shorter")[0]
    quoted |= set(re.findall(r'"([^"\n]+?)"(?=[,.;: )])', names_part))
    assert len(quoted) > 30
    for name in quoted:
        if name.endswith(" ") or len(name) == 1:  # a prefix ("physical "), a character
            continue
        assert name in names or any(fnmatch.fnmatchcase(name, p) for p in patterns), name


# AddressSanitizer keeps freed memory back from reuse for a while (its quarantine): under it,
# resident size grows with every allocation, freed or not.
@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="resident size under ASan"
)
def test_remembered_key_names_take_bounded_memory(fb):
    def resident():
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))

    fb.key("\u4e00")
    before = resident()
    for code in range(0x10000, 0x10000 + 150_000):  # every one a key name: a single character
        fb.key(chr(code))
    assert resident() - before < 2048  # kB; 150,000 names remembered would take over 10 MB


def test_input_goes_to_the_framebuffer_of_its_window():
    with Framebuffer(10, 10, scale=2, fps=0) as a, Framebuffer(20, 10, scale=3, fps=0) as b:
        wa, wb = sdl.windows()
        sdl.push_key(wb, "a", True)
        sdl.push_wheel(wa, 0.0, 1.0)
        sdl.push_motion(wa, 7.0, 3.0)
        sdl.push_motion(wb, 31.0, 2.0)
        testing.type_text(b, "é")
        a.running()  # one drain serves both
        assert b.key("a") and b.pressed("a") and not a.key("a") and not a.pressed("a")
        assert a.mouse() == (3, 1) and b.mouse() == (10, 0)
        assert (a.typed(), b.typed(), a.wheel(), b.wheel()) == ("", "é", (0.0, 1.0), (0.0, 0.0))
        b.flip()
        assert not b.pressed("a") and b.key("a")

        # The focus moves from b to a with "a" held: SDL lets go of it in b itself (no raw key
        # code), and the keyboard's auto-repeat presses it in a: the same hold, no new press.
        # Once let go, a press is a press again.
        sdl.push_key(wb, "a", False, raw=0)
        sdl.push_window_event("FOCUS_LOST", wb)
        sdl.push_key(wa, "a", True)
        a.running()
        assert a.key("A") and a.key("physical A") and not b.key("a")
        assert not a.pressed("A") and not a.pressed("physical A")
        sdl.push_key(wa, "a", False)
        sdl.push_key(wa, "a", True)
        a.running()
        assert a.pressed("A")

        # The keyboard stamps its events itself: a key stamped a moment before the focus-lost
        # event was drained is the same hold too.
        sdl.push_window_event("FOCUS_LOST", wa, timestamp=sdl.ticks_ns() + 10**9)
        sdl.push_key(wb, "a", True)
        b.flip()
        assert b.key("a") and not b.pressed("a")

        # One cursor setting serves both windows: the one the pointer comes over decides.
        b.cursor = False
        sdl.push_window_event("MOUSE_ENTER", wa)
        a.running()
        assert sdl.cursor_visible()
        sdl.push_window_event("MOUSE_ENTER", wb)
        a.running()
        assert not sdl.cursor_visible()


def test_two_windows_each_see_every_press_text_scroll_and_release_in_one_frame():
    # The loop reads both windows, then ends both frames: a.flip() drains what was meant for b
    # after the program looked at b, so it belongs to b's next frame (b.flip() must not wipe it);
    # b.flip() likewise keeps what it drains for a. In either order of the flips.
    with Framebuffer(10, 10, fps=0) as a, Framebuffer(10, 10, fps=0) as b:
        windows = dict(zip("ab", sdl.windows()))
        fbs = {"a": a, "b": b}

        def seen(name):
            fb = fbs[name]
            return (fb.pressed("Space"), fb.key("Space"), fb.typed(), fb.wheel(),
                    fb.pressed("physical A"), fb.key("a"))  # fmt: skip

        nothing = (False, False, "", (0.0, 0.0), False, False)
        for first, second in ("ab", "ba"):
            w = windows[second]
            assert a.running() and (seen("a"), seen("b")) == (nothing, nothing)
            sdl.push_key(w, "space", True)  # a tap shorter than a frame
            sdl.push_key(w, "space", False)
            sdl.push_key(w, "a", True)
            testing.type_text(fbs[second], "é")
            testing.scroll(fbs[second], 0.0, 1.0)
            fbs[first].flip()  # drains it all
            fbs[second].flip()
            expected = (True, False, "é", (0.0, 1.0), True, True)
            assert seen(second) == expected and seen(first) == nothing
            sdl.push_key(w, "a", False)  # let go, drained by the other window's frame
            fbs[first].flip()
            assert seen(second) == (*expected[:5], False)  # the frame goes on until its flip()
            fbs[second].flip()
            assert seen(second) == nothing


@pytest.mark.parametrize("scale", [1, 3])
def test_mouse_maps_the_window_to_picture_pixels_floored(scale):
    with Framebuffer(40, 30, scale=scale, fps=0) as fb:
        w = window_of(fb)
        assert fb.mouse() == (-1, -1)  # not seen yet
        last = (40 * scale - 0.01, 30 * scale - 0.01)  # the window's last pixel, its far edge
        for at, pixel in [((0, 0), (0, 0)), (last, (39, 29)),
                          ((scale * 5 + scale - 0.5, scale * 2), (5, 2)),
                          ((-0.5, 10.0), (-1, 10 // scale)),  # dragged past the edge
                          ((40 * scale, 30 * scale), (40, 30))]:  # fmt: skip
            sdl.push_motion(w, *at)
            fb.running()
            assert fb.mouse() == pixel, at
            fb.pset(*fb.mouse(), 7)  # paints inside, drops outside
        assert fb.buffer()[29, 39] == 7 and fb.buffer()[0, 0] == 7
        sdl.push_button(w, "left", True, 12.0 * scale, 4.0 * scale)  # a click carries its place
        fb.running()
        assert fb.mouse() == (12, 4)
        # SDL's last motion before the pointer leaves stops on the window's last pixel; the
        # pointer is past the edge it crossed.
        for edge, pixel in [
            ((39 * scale, 20.0), (40, 20 // scale)),
            ((3.0, 0.0), (3 // scale, -1)),
        ]:
            sdl.push_motion(w, *edge)
            sdl.push_window_event("MOUSE_LEAVE", w)
            fb.running()
            assert fb.mouse() == pixel, edge


def test_mouse_through_the_fullscreen_letterbox():
    with Framebuffer(320, 200, scale=2, fps=0) as fb:
        w = window_of(fb)
        fb.fullscreen = True
        fb.flip()
        # SDL puts the pointer back where it saw it last, and it never saw one here.
        assert fb.fullscreen is True and fb.mouse() == (-1, -1)
        # 1024 x 768 shows the picture at x3, from (32, 84) to (992, 684).
        for at, pixel in [((32, 84), (0, 0)), ((31.9, 83.9), (-1, -1)),
                          ((991.9, 683.9), (319, 199)), ((992, 684), (320, 200)),
                          ((512, 384), (160, 100))]:  # fmt: skip
            sdl.push_motion(w, *at)
            fb.running()
            assert fb.mouse() == pixel, at
        sdl.push_window_event("LEAVE_FULLSCREEN", w)  # as a window manager may decide
        fb.running()
        assert fb.fullscreen is False
        fb.fullscreen = False
        fb.flip()
        sdl.push_motion(w, 639.9, 399.9)
        fb.running()
        assert fb.mouse() == (319, 199)


def test_typed_text_edits_in_order_and_the_wheel_belong_to_one_frame(fb):
    w = window_of(fb)
    assert fb.typed() == "" and fb.wheel() == (0.0, 0.0)
    for text in ("H", "é", "\b", "llo, 世界", "\r\x7f!"):  # control characters are keys
        testing.type_text(fb, text)
    testing.scroll(fb, 0.0, 1.0)
    sdl.push_wheel(w, -0.5, 2.0, flipped=True)  # "natural" scrolling: SDL says which way is which
    fb.running()
    testing.type_text(fb, "😀")
    fb.running()  # both drains of the frame count
    assert fb.typed() == "Héllo, 世界!😀" and fb.wheel() == (0.5, -1.0)
    assert fb.mouse() == (1, 1)  # the wheel tells where the pointer is: (5, 5) at scale 3
    fb.flip()
    assert fb.typed() == "" and fb.wheel() == (0.0, 0.0)
    sdl.push_text(w, b"ab\xffc")  # a broken sequence loses itself only
    sdl.push_text(w, "d")
    fb.running()
    assert fb.typed() == "ab\ufffdcd"

    # Faster than a key a frame: the editing keys in place among the text, auto-repeat counted.
    for key in ("a", "b", "d", "Backspace", "c", "Return", "Left", "Right", "Home", "End",
                "Delete", "Tab", "Keypad Enter", "Escape", "Up", "Left Shift"):  # fmt: skip
        testing.press(fb, key)
        if len(key) == 1:
            testing.type_text(fb, key)
        testing.release(fb, key)
    sdl.push_key(w, "left", True)
    sdl.push_key(w, "left", True, repeat=True)
    fb.flip()
    assert fb.typed(edits=True) == "abd\bc\n\x02\x06\x01\x05\x04\t\n\x02\x02"
    assert fb.typed() == "abdc" and fb.typed(edits=False) == "abdc"
    with pytest.raises(TypeError, match=r"^typed\(\) argument edits must be True or False"):
        fb.typed(edits="yes")


def test_gamepads_plug_in_press_move_and_unplug(fb):
    assert fb.gamepads() == []  # asking starts SDL's gamepads
    first = testing.Gamepad("Pad One")
    pads = [first]
    try:
        fb.running()
        assert fb.gamepads() == ["Pad One"] and not fb.key("pad a")
        first.press("a")
        first.press("dpup")
        for axis, value in [("leftx", -1.5), ("lefty", 0.5), ("righttrigger", 1.0),
                            ("lefttrigger", 0.25)]:  # fmt: skip
            first.axis(axis, value)
        fb.running()
        assert fb.key("pad a") and fb.pressed("PAD A") and fb.key("pad1 dpup")
        assert not fb.key("pad b") and not fb.key("pad2 a") and not fb.pressed("pad2 a")
        axes = [fb.axis(f"pad {a}") for a in ("leftx", "lefty", "righttrigger", "lefttrigger")]
        assert (
            axes == pytest.approx([-1.0, 0.5, 1.0, 0.25], abs=1e-4) and fb.axis("pad rightx") == 0
        )
        fb.flip()
        assert fb.key("pad a") and not fb.pressed("pad a")
        first.tap("x")  # a press and a release between two frames: a tap, not lost
        first.release("a")
        assert fb.key("pad a") and not fb.key("pad x")  # nothing is seen before a drain
        fb.flip()
        assert fb.pressed("pad x") and fb.released("pad x") and not fb.key("pad x")
        assert fb.released("pad a") and not fb.key("pad a")
        with pytest.raises(ValueError, match="unknown gamepad button 'z'"):
            first.press("z")

        pads.append(testing.Gamepad("Pad Two"))
        fb.running()
        pads[1].press("start")
        fb.running()
        assert fb.gamepads() == ["Pad One", "Pad Two"] and fb.pressed("pad2 start")
        first.unplug()  # the second keeps its number, and the first's state is gone
        pads.remove(first)
        fb.running()
        assert fb.gamepads() == ["", "Pad Two"] and fb.key("pad2 start")
        assert not fb.key("pad a") and fb.axis("pad leftx") == 0.0
        pads.append(testing.Gamepad("Pad Three"))  # takes the free number
        fb.running()
        assert fb.gamepads() == ["Pad Three", "Pad Two"]
        # Beyond eight pads one waits, and takes the first number freed.
        extra = [testing.Gamepad(f"Extra {i}") for i in range(7)]
        pads += extra
        fb.running()
        assert fb.gamepads() == ["Pad Three", "Pad Two", *(f"Extra {i}" for i in range(6))]
        extra[2].unplug()
        pads.remove(extra[2])
        fb.running()
        assert fb.gamepads()[4] == "Extra 6"
    finally:
        for pad in pads:
            pad.unplug()
    fb.running()
    assert fb.gamepads() == [] and not first.plugged
    with pytest.raises(RuntimeError, match="unplugged"):
        first.press("a")
    fb.quit()  # SDL shuts down: its next start finds the gamepads anew
    with Framebuffer(8, 8, fps=0) as again:
        assert again.gamepads() == []
        pad = testing.Gamepad("Pad Again")
        again.running()
        assert again.gamepads() == ["Pad Again"]
        pad.unplug()


def test_title_retitles_and_refuses_what_is_not_text(fb):
    w = window_of(fb)
    assert fb.title == "JXFramebuffer"
    fb.title = "Snake — score 3"
    assert fb.title == "Snake — score 3"
    assert sdl.title(w) == "Snake — score 3"
    for wrong in (b"title", 3, None):
        with pytest.raises(TypeError, match=r"^Framebuffer\.title must be a str, not "):
            fb.title = wrong
    with pytest.raises(ValueError, match="embedded null character"):
        fb.title = "a\0b"
    with pytest.raises(UnicodeEncodeError):
        fb.title = "lone \udc80"
    assert fb.title == "Snake — score 3"
    # As long a title as every display server takes (Wayland's limit is one protocol message).
    fb.title = "✓" * 1000
    assert sdl.title(w) == "✓" * 1000
    with pytest.raises(
        ValueError, match=r"^title is 1001 characters long; at most 1000 are taken$"
    ):
        fb.title = "x" * 1001
    assert fb.title == "✓" * 1000
    for switch in ("fullscreen", "resizable", "cursor"):
        for wrong in (2, -1, None, "yes", np.float64(1)):
            with pytest.raises(TypeError, match=rf"^Framebuffer\.{switch} must be True or False"):
                setattr(fb, switch, wrong)
    with pytest.raises(TypeError, match=r"^pressed\(\) argument repeat must be True or False"):
        fb.pressed("a", repeat=2)
    assert fb.pressed("a", repeat=1) is False
    assert (fb.fullscreen, fb.resizable, fb.cursor) == (False, False, True)
    fb.cursor = 0  # the pointer is over no window: the newest setting counts
    assert not fb.cursor and not sdl.cursor_visible()
    fb.cursor = True
    assert sdl.cursor_visible()
    fb.fullscreen = np.True_  # as `fill` takes it
    assert fb.fullscreen is True
    fb.fullscreen = np.False_
    assert fb.fullscreen is False


def test_after_quit_nothing_is_held_and_the_members_still_answer(fb):
    w = window_of(fb)
    sdl.push_key(w, "a", True)
    sdl.push_motion(w, 31.0, 14.0)
    fb.running()
    assert fb.key("a") and fb.mouse() == (10, 4)
    fb.quit()
    assert not fb.key("a") and not fb.pressed("a") and fb.mouse() == (10, 4)
    assert (fb.typed(), fb.wheel(), fb.gamepads(), fb.axis("pad leftx")) == ("", (0, 0), [], 0)
    assert not fb.key("pad a") and not fb.pressed("pad a")
    fb.title = "after"
    fb.fullscreen = fb.resizable = True
    fb.cursor = False
    assert fb.title == "after" and fb.fullscreen and fb.resizable and not fb.cursor
    assert sdl.windows() == [] and not sdl.initialised()


def test_with_statement_quits_on_the_way_out_exception_or_not():
    with Framebuffer(8, 8, fps=0) as fb:
        assert isinstance(fb, Framebuffer) and fb.running()
    assert not fb.running() and sdl.windows() == []
    with pytest.raises(KeyError), Framebuffer(8, 8, fps=0) as fb:
        raise KeyError("out")
    assert not fb.running() and not sdl.initialised()
    blank = Framebuffer.__new__(Framebuffer)
    with pytest.raises(TypeError, match="__init__"), blank:
        pass
    del blank
    gc.collect()
