"""The X session helpers the runner and the window tests stand on: input through XTEST reaches a
window as a person's would, and windows are found by process id, framed by a window manager or not.

The windows here are plain X windows that the tests make on their own connection and read events
from, so that what arrives is seen exactly as the server delivers it."""

import os
import time

import pytest
from Xlib import X, Xatom, display

import xsession
from jxframebuf import Framebuffer

pytestmark = pytest.mark.x11

OTHER_PID = 4_000_123  # a process id for windows that are not this process's
EVENTS = (
    X.KeyPressMask
    | X.KeyReleaseMask
    | X.ButtonPressMask
    | X.ButtonReleaseMask
    | X.PointerMotionMask
    | X.StructureNotifyMask
)


@pytest.fixture
def conn():
    connection = display.Display()
    yield connection
    connection.close()


def make_window(conn, pid, name="Not a framebuffer", x=37, y=51, width=200, height=120):
    """A viewable window of process `pid`, placed away from the screen's corner so that window
    and screen coordinates differ."""
    screen = conn.screen()
    window = screen.root.create_window(
        x, y, width, height, 0, screen.root_depth, background_pixel=0, event_mask=EVENTS
    )
    window.change_property(conn.intern_atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [pid])
    window.change_property(
        conn.intern_atom("_NET_WM_NAME"), conn.intern_atom("UTF8_STRING"), 8, name.encode()
    )
    window.map()
    next_event(conn, X.MapNotify)
    return window


def next_event(conn, *types, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        while conn.pending_events():
            event = conn.next_event()
            if event.type in types:
                return event
        time.sleep(0.005)
    raise AssertionError(f"no event of types {types} within {timeout} s")


KINDS = {
    X.KeyPress: "key down",
    X.KeyRelease: "key up",
    X.ButtonPress: "button down",
    X.ButtonRelease: "button up",
}


def input_events(conn, count):
    """The next `count` key and button events, as (kind, key code or button, x, y)."""
    events = [next_event(conn, *KINDS) for _ in range(count)]
    return [(KINDS[e.type], e.detail, e.event_x, e.event_y) for e in events]


def test_keys_reach_the_focused_window_in_order_with_modifiers_held(conn):
    window = make_window(conn, OTHER_PID)
    xsession.focus(window)
    xsession.tap("a")
    xsession.key_down("Shift_L")
    xsession.tap("1")
    xsession.key_up("Shift_L")
    for name in ("1", "space", "Left", "Escape"):
        xsession.tap(name)
    name = {xsession.keycode(n): n for n in ("a", "Shift_L", "1", "space", "Left", "Escape")}
    events = [next_event(conn, *KINDS) for _ in range(14)]
    keys = [(KINDS[e.type], name[e.detail], bool(e.state & X.ShiftMask)) for e in events]
    assert keys == [
        ("key down", "a", False),
        ("key up", "a", False),
        ("key down", "Shift_L", False),
        ("key down", "1", True),
        ("key up", "1", True),
        ("key up", "Shift_L", True),
        ("key down", "1", False),
        ("key up", "1", False),
        ("key down", "space", False),
        ("key up", "space", False),
        ("key down", "Left", False),
        ("key up", "Left", False),
        ("key down", "Escape", False),
        ("key up", "Escape", False),
    ]
    assert conn.get_input_focus().focus == window


def test_unknown_key_names_are_refused_and_send_nothing(conn):
    window = make_window(conn, OTHER_PID)
    xsession.focus(window)
    with pytest.raises(ValueError, match="unknown key name 'Lefty'"):
        xsession.tap("Lefty")
    with pytest.raises(ValueError, match="mouse button must be 1"):
        xsession.click(10)
    xsession.tap("b")  # the first event to arrive is this one
    assert input_events(conn, 1)[0][:2] == ("key down", xsession.keycode("b"))


def test_pointer_moves_and_clicks_in_window_coordinates(conn):
    window = make_window(conn, OTHER_PID, x=37, y=51)
    xsession.move_pointer(window, 10, 20)
    motion = next_event(conn, X.MotionNotify)
    assert (motion.event_x, motion.event_y) == (10, 20)
    assert (motion.root_x, motion.root_y) == (47, 71)

    xsession.click(1)
    xsession.move_pointer(window, 150, 90)
    xsession.click(3)
    xsession.button_down(2)
    xsession.move_pointer(window, 0, 0)
    xsession.button_up(2)
    assert input_events(conn, 6) == [
        ("button down", 1, 10, 20),
        ("button up", 1, 10, 20),
        ("button down", 3, 150, 90),
        ("button up", 3, 150, 90),
        ("button down", 2, 150, 90),
        ("button up", 2, 0, 0),
    ]


def test_windows_are_found_by_process_id_whatever_their_title(conn):
    mine = make_window(conn, os.getpid(), name="Any title at all")
    other = make_window(conn, OTHER_PID, name="JXFramebuffer")
    hidden = make_window(conn, os.getpid())
    hidden.unmap()
    conn.sync()
    assert [w.id for w in xsession.find_windows()] == [mine.id]
    assert xsession.title(xsession.find_window()) == "Any title at all"
    assert [w.id for w in xsession.find_windows(OTHER_PID)] == [other.id]
    assert xsession.find_windows(OTHER_PID + 1) == []
    with pytest.raises(LookupError, match="found 0"):
        xsession.find_window(OTHER_PID + 1, timeout=0.1)


def test_windows_are_found_inside_the_window_managers_frames(openbox, conn):
    plain = make_window(conn, OTHER_PID)
    fb = Framebuffer(40, 30, scale=2, fps=-1)
    fb.buffer()[:] = 2
    window = xsession.find_window()
    fb.flip()
    root = conn.screen().root
    assert window.query_tree().parent != root  # framed: not a child of the root any more
    assert (window.get_geometry().width, window.get_geometry().height) == (80, 60)
    assert (xsession.grab(window) == [255, 0, 0]).all()
    assert [w.id for w in xsession.find_windows(OTHER_PID)] == [plain.id]

    # Input in window coordinates lands where it should inside the frame too.
    xsession.move_pointer(plain, 5, 6)
    xsession.click(1)
    assert input_events(conn, 1) == [("button down", 1, 5, 6)]
    fb.quit()
    assert xsession.find_windows() == []


def test_openbox_refuses_to_start_beside_another_window_manager(openbox):
    with pytest.raises(RuntimeError, match="a window manager already manages"):
        xsession.Openbox(openbox.display)
    assert openbox.process.poll() is None
