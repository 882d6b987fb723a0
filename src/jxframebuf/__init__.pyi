"""JXFramebuffer - 8-bit framebuffer with palette"""

import collections.abc
import os
from types import TracebackType
from typing import Self, SupportsFloat, SupportsIndex, TypeAlias, final

import numpy
import numpy.typing

# Integer parameters take an int, a bool or an object with __index__ (NumPy integers); floats,
# Decimal and Fraction are refused at run time (TypeError), and SupportsIndex says so to a type
# checker too.
_Int: TypeAlias = SupportsIndex

# A number of degrees or a scale: an int, a float or anything with __float__ or __index__.
_Float: TypeAlias = SupportsFloat | SupportsIndex

# A file to read or write: a str or a path object.
_Path: TypeAlias = str | os.PathLike[str]

__all__ = [
    "FONT_4X6",
    "FONT_8X8",
    "Audio",
    "Canvas",
    "Font",
    "Framebuffer",
    "Voice",
    "__version__",
    "key_names",
    "load_image",
    "load_sound",
    "melody",
    "save_image",
    "text_size",
    "tone",
]

__version__: str
"""The package's version, as in its metadata ("0.1.0")."""

class Framebuffer:
    """An 8-bit picture of palette indices with a 256-colour palette, shown in a window.

    **Arguments.** Coordinates and sizes are 32-bit integers and colours palette indices 0 to 255.
    Ints, bools (NumPy's too) and objects with `__index__` (NumPy integers) are accepted; anything
    else raises `TypeError` naming the argument and what it must be, and changes nothing: floats of
    every kind (NumPy's, a 0-d float array), complex, `Decimal` and `Fraction` included, even with
    no fraction, and out-of-range values ("pset() argument c must be a palette index 0 to 255, not
    256"). An exception raised by an argument's own `__index__` comes through as it is. Every member
    of an object whose `__init__` has not run (made by `Framebuffer.__new__`, or a subclass calling
    one before `super().__init__()`) raises `TypeError`; so do calling `__init__` again, pickling
    and copying. Switches (`fill`, `repeat`, `fullscreen`, `resizable`, `cursor`) take True,
    False, a NumPy bool, or the integers 0 and 1; anything else (None, 2, 2.5, "yes") raises
    `TypeError` "<argument> must be True or False, not <type or value>".

    **Views** keep their framebuffer alive: the window stays open until the last view is gone too.

    **Several framebuffers** may be open at once: closing one window ends that framebuffer's loop
    only. A window whose loop ended (closed by the user, SIGTERM) leaves the screen at once; what it
    holds goes with `quit()`. SDL is shut down when the last one is torn down. Keys and text go to
    the framebuffer whose window has the keyboard focus, the wheel and mouse buttons to the one
    under the pointer, and each one's `mouse()` is relative to its own window. A key held while the
    focus moves from one window to another is the same hold in the next one: held there, but no
    new press. SDL has one cursor setting for all of a program's windows: the `cursor` of the
    window the pointer is over decides it.

    **Signals and a lost display.** Ctrl-C stays Python's: `KeyboardInterrupt` comes out of a paced
    loop at once, also from the middle of `flip()`'s frame delay. SIGTERM, while a loop runs, ends
    every loop (`running()` turns `False`) so that the program can save and exit on its own; while
    none runs, or for a second SIGTERM, it ends the process as it would any program. A SIGTERM
    handler the program installed itself is left alone. A lost display (the X server ends, the
    Wayland compositor quits) ends the loops as a close does: every member returns at once and
    `quit()` releases what it can without waiting; a new `Framebuffer` in that process raises
    `RuntimeError` (X11 needs libX11 1.7 or later for this; older ones end the process).

    **Threads.** The members that reach the window system (the constructor, `running()`, `flip()`,
    `quit()`, setting `title`, `fullscreen`, `resizable` and `cursor`, `typed()`, and `key`,
    `pressed`, `axis` and `gamepads()` for gamepads) work only on the thread that opened the
    windows that are open, and raise `RuntimeError` naming that thread elsewhere. Pixels, palette,
    views, the drawing members, `key` and `pressed` for keys and mouse buttons, `wheel`, `mouse`
    and the getters work from any thread. A framebuffer whose last reference goes on another
    thread is released on its own thread at that thread's next call (or at interpreter exit).
    `flip()` lets other threads run during its frame delay.
    """

    def __init__(self, width: _Int, height: _Int, scale: _Int = 3, fps: _Int = 60) -> None:
        """Opens a window of (width * scale) x (height * scale) showing a width x height picture,
        all palette index 0. `fps` paces flip(); 0 or below leaves it unpaced.

        The window is titled "JXFramebuffer" and every pixel is drawn as a crisp scale x scale
        block. The palette starts as black, white, red, green, blue, yellow, magenta, cyan in
        entries 0 to 7 and opaque black in 8 to 255. All four arguments may be passed by keyword.

        Raises:
            ValueError: width, height or scale below 1 ("width must be at least 1, not 0"), or a
                window wider or taller than 16384 pixels ("window size 139023 x 139023 (width and
                height times scale 3) is larger than 16384 pixels a side").
            RuntimeError: no display to show a window on (neither `DISPLAY` nor `WAYLAND_DISPLAY`
                set and no `SDL_VIDEO_DRIVER` chosen: the message says what to set); another
                thread has windows open; or SDL refuses, with SDL's message (an unknown
                `SDL_VIDEO_DRIVER`).
        """
    def running(self) -> bool:
        """Handles pending window events; False once the window was closed, for good.

        Also `False` once the process got SIGTERM, the display server went away, or after
        `quit()`. Every `running()` and `flip()` drains the input that arrived since the last one.
        """
    def flip(self) -> None:
        """Shows the picture through the palette, then sleeps out the rest of the frame period.
        Does nothing once running() is False.

        The sleep ends one frame period after the previous `flip()`, on the monotonic clock; once
        `running()` is false it shows nothing but still keeps the frame rate. Other Python threads
        run during the sleep. A frame's presses, text and wheel end here: the next frame starts.
        """
    def clear(self, color: _Int = 0) -> None:
        """Sets every pixel to palette index `color` (0 to 255)."""
    def pset(self, x: _Int, y: _Int, c: _Int, /) -> None:
        """Sets pixel (x, y) less the camera to palette index `c` (0 to 255); outside the picture or
        the clip, nothing.

        A Python call per pixel: for whole pictures write through `buffer()` instead.

        Raises:
            TypeError: an argument that is not an integer, or `c` outside 0 to 255.
        """
    def pget(self, x: _Int, y: _Int, /) -> int:
        """The palette index of pixel (x, y) less the camera; 0 outside the picture (the clip
        does not matter)."""
    def buffer(self) -> numpy.typing.NDArray[numpy.uint8]:
        """A writeable uint8 array of shape (height, width) sharing the pixels: [y, x] is pixel
        (x, y). It keeps the framebuffer alive.

        Nothing is copied: `flip()` shows whatever the array holds at that moment. Writes through
        it follow NumPy's casting, not `pset`'s checks: a float array is truncated, an int64 300
        wraps to 44.
        """
    def palette(self) -> numpy.typing.NDArray[numpy.uint32]:
        """A writeable uint32 array of the 256 palette colours, 0xAARRGGBB, sharing the palette.
        It keeps the framebuffer alive.

        An entry with alpha below 0xFF shows blended over black, so `0x3366CC` (alpha 0) shows
        black: write `0xFF3366CC`. Changing an entry recolours every pixel of that index at the
        next `flip()`.
        """
    def quit(self) -> None:
        """Closes the window and finishes a recording; pixels, palette and views keep working.
        Again does nothing.

        After `quit()` nothing is held or pressed, `typed()` is `""`, `wheel()` `(0.0, 0.0)`,
        `gamepads()` `[]` and every axis 0.0, `mouse()` keeps the last position, and setting
        `title`, `fullscreen`, `resizable` or `cursor` shows nothing.

        Raises:
            OSError: the recording could not be written (a full disk), unless a `flip()` has
                raised that already.
        """
    @property
    def width(self) -> int:
        """The picture's width in pixels."""
    @property
    def height(self) -> int:
        """The picture's height in pixels."""
    def key(self, name: str) -> bool:
        """True while the key or button `name` is held ("A", "Space", "physical W", "mouse left",
        "pad a", "ctrl", ...), as of the latest running() or flip().

        Names, in any case (Unicode's simple case folding, one character to one: "É" is "é";
        key_names() lists them all; docs/input.md):

        - Keys by what they type: SDL's key names (`SDL_GetKeyName`): "A", "1", "Space",
          "Escape", "Return", "Backspace", "Left", "Right", "Up", "Down", "PageUp", "F1",
          "Left Shift", "Keypad 5", ...; any single character names its key, beyond
          key_names(). They follow the keyboard layout: on a French keyboard "A" is the key
          where a US keyboard has Q.
        - Keys by where they are: "physical " and one of SDL's scancode names, which name the keys
          of a US keyboard: "physical W" is the key above "physical S" whatever the layout.
        - Either side: "ctrl", "shift", "alt", "gui" are held while the left or the right key
          is.
        - Mouse buttons: "mouse left", "mouse middle", "mouse right", "mouse x1", "mouse x2".
        - Gamepad buttons: "pad " and one of SDL's gamepad button names for the first gamepad,
          "pad2 " ... "pad8 " for later ones ("pad1 " is the first too): "pad a", "pad b",
          "pad x", "pad y" (the face buttons by position: bottom, right, left, top), "pad back",
          "pad guide", "pad start", "pad leftstick", "pad rightstick", "pad leftshoulder",
          "pad rightshoulder", "pad dpup", "pad dpdown", "pad dpleft", "pad dpright", and
          "pad misc1", "pad paddle1" to "pad paddle4", "pad touchpad" where a pad has them.

        A tap shorter than a frame may be over before `key` looks: `key(n) or pressed(n)` sees it.
        A gamepad that is not connected reads as released. SDL's gamepad support starts the first
        time a program names a gamepad, so a press during that first frame is not seen.

        Raises:
            ValueError: an unknown name, naming it (a NUL as \\x00, a very long one cut short)
                and the nearest known name ("unknown key name 'Page Up': did you mean
                'PageUp'?"), or the kinds of names when none is near.
            TypeError: a name that is not a `str`.
            UnicodeEncodeError: a `str` with a lone surrogate.
            RuntimeError: a gamepad name on a thread other than the windows' own.
        """
    def pressed(self, name: str, repeat: bool = False) -> bool:
        """True if the key or button `name` went down during this frame; each press shows in
        exactly one frame. With repeat=True the keyboard's auto-repeat counts as presses too.

        A frame is the window's own, from one of its flip() calls to the next, whichever
        window's call took the event from the queue (docs/input.md). A tap shorter than a frame
        shows too; a held key shows once, and auto-repeat is no new press unless `repeat=True`
        (menus, text cursors). An either-side name ("ctrl", ...) goes down when the first of its
        two keys does: pressing Right Ctrl while Left Ctrl is held is no new "ctrl" press. Names
        and errors are those of `key`.

        Raises:
            ValueError: an unknown name.
            TypeError: a name that is not a `str`, or `repeat` not a switch.
        """
    def released(self, name: str) -> bool:
        """True if the key or button `name` went up during this frame, with the rules of
        pressed(): every release shows in exactly one frame, and a tap shorter than a frame
        shows both.

        An either-side name goes up when the last of its two keys does. A key is also released
        when nobody lets go of it, once each: the keys held when the window loses the keyboard
        focus, in the frame that drains the focus loss; the buttons held on a gamepad that is
        unplugged, in the frame that drains the unplugging; everything held at quit(), from
        quit() until the next flip() (and nothing is held or pressed after quit()). Names and
        errors are those of `key`.

        Raises:
            ValueError: an unknown name.
            TypeError: a name that is not a `str`.
        """
    def typed(self, edits: bool = False) -> str:
        """The text typed into the window during this frame, as the keyboard layout makes it;
        control keys (Backspace, Return, arrows) are keys, not text. The first call starts it.

        In order, as the layout, Shift, AltGr, dead keys, compose and input methods make it,
        auto-repeat included; `""` when nothing was typed. Nothing typed before the first call is
        kept.

        With edits=True the text comes with the editing keys pressed among it, in the order it
        all happened, each press (auto-repeat included) as one control character: Backspace
        "\\b", Tab "\\t", Return and Keypad Enter "\\n", and as the line editors of terminals
        bind them, Home "\\x01" (Ctrl-A), Left "\\x02" (Ctrl-B), Delete "\\x04" (Ctrl-D), End
        "\\x05" (Ctrl-E), Right "\\x06" (Ctrl-F). A text box that applies it character by
        character is right at any typing speed; `typed()` and `pressed()` alone say what
        happened during the frame, not in which order.

        Raises:
            TypeError: `edits` is not a switch.
        """
    def wheel(self) -> tuple[float, float]:
        """The mouse wheel's scrolling during this frame, (x, y) in notches: x to the right,
        y away from the user; (0.0, 0.0) when none.

        Summed over the frame's events; a smooth wheel or a touchpad gives fractions, and
        "natural" scrolling is already turned the right way.
        """
    @property
    def window_size(self) -> tuple[int, int]:
        """(w, h): the window's size in pixels, as of the latest running() or flip().

        SDL's size in pixels, which on a high-density screen is more than its size in points:
        after a resize, a fullscreen switch or the user's drag of a `resizable` window. The
        picture keeps its size (the views depend on it): a program may use the size to choose
        what to show, not to grow the picture. After quit(), the last size.
        """
    @property
    def frames(self) -> int:
        """The number of flip() calls so far, those after the loop ended included."""
    @property
    def frame_rate(self) -> float:
        """Frames a second, measured: (n - 1) / (t_last - t_first) over the flip() calls of the
        last second.

        t is the moment each call began and n how many began in the second before the read (the
        latest 1,024 of them at most); 0.0 with fewer than two.
        """
    def mouse(self) -> tuple[int, int]:
        """(x, y): the picture pixel under the pointer, outside the picture when the pointer is;
        (-1, -1) before the pointer was ever over the window.

        Mapped through the magnification and any letterbox, floored, so `fb.pset(*fb.mouse(), c)`
        paints (with the camera at (0, 0): the world point under the pointer is `mouse()` +
        camera). Once the pointer has left the window it reads where it left (past the edge, not
        on it). A window that opens under the pointer sees it there at once. Any thread may ask:
        the pointer is mapped by the window's size as of the latest `running()` or `flip()`.
        """
    def axis(self, name: str) -> float:
        """A gamepad axis ("pad leftx", "pad2 righttrigger", ...): sticks -1.0 to 1.0, triggers
        0.0 to 1.0; 0.0 when that gamepad is not connected.

        The axes are "pad leftx", "pad lefty", "pad rightx", "pad righty" (y positive down),
        "pad lefttrigger" and "pad righttrigger", and "pad2 ..." on for later gamepads.

        Raises:
            ValueError: an unknown name ("unknown axis name ...").
            TypeError: a name that is not a `str`.
        """
    def gamepads(self) -> list[str]:
        """The connected gamepads' names: index 0 is "pad", 1 "pad2", ...; "" for a number
        whose gamepad was unplugged while a later one stays.

        `[]` when none. Gamepads are SDL's, read through its standard mapping (Xbox, PlayStation,
        Switch and most other pads look alike). One plugged in while the program runs works from
        the next frame and takes the lowest free number, which it keeps while connected; beyond
        eight, a pad waits and takes the first number freed.
        Gamepads belong to no window: every framebuffer sees them, while one of the program's
        windows has the keyboard focus.
        """
    @property
    def cursor(self) -> bool:
        """Whether the mouse cursor shows over the window; True at first."""
    @cursor.setter
    def cursor(self, value: bool, /) -> None: ...
    @property
    def title(self) -> str:
        """The window's title; "JXFramebuffer" at first.

        Raises:
            ValueError: a title of more than 1,000 characters.
            TypeError: a title that is not a `str`.
        """
    @title.setter
    def title(self, value: str, /) -> None: ...
    @property
    def fullscreen(self) -> bool:
        """True shows the picture on the whole screen, at the largest whole magnification that
        fits, centred on black; False gives back the window.

        Reads back what the display did: without a window manager (a bare X server) nothing
        happens and it stays `False`. Setting it waits up to a tenth of a second for the window
        manager.
        """
    @fullscreen.setter
    def fullscreen(self, value: bool, /) -> None: ...
    @property
    def resizable(self) -> bool:
        """Whether the user may resize the window; False at first. The picture stays at the
        largest whole magnification that fits, centred on black.

        A window smaller than the picture shows its centre; `mouse()` maps through the fit. A
        window is never larger than 16,384 pixels a side, the constructor's limit: one made
        larger by another program is sized back, and shows nothing new until it is.
        """
    @resizable.setter
    def resizable(self, value: bool, /) -> None: ...
    def __enter__(self) -> Self:
        """The framebuffer itself, for `with Framebuffer(...) as fb:`."""
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
        /,
    ) -> None:
        """Calls quit(), exception or not; an error quit() raises while an exception leaves the
        block is added to that exception (a note, and its __context__ if it had none)."""
    def line(self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, c: _Int) -> None:
        """Sets the pixels of the line from (x0, y0) to (x1, y1), both ends included, to palette
        index `c`; clipped to the picture.

        Exactly the pixels of this integer Bresenham walk: the major axis is x if
        |x1 - x0| >= |y1 - y0|, else y; with M and m the spans along the major and the minor axis,
        the walk makes M + 1 steps of one pixel along the major axis towards the end point,
        starting with the error term e = 2m - M; after each pixel, if e > 0 the minor coordinate
        moves one towards its end point and e decreases by 2M, and e increases by 2m. So the i-th
        pixel lies floor((2im + M - 1) / 2M) pixels along the minor axis from the start: exact
        half-way points round towards (x0, y0), and a line drawn backwards may differ there.

        Like every drawing member it takes its coordinates less the `camera`, changes no pixel
        outside the `clip`, and (as a shape) leaves out what the `pattern` leaves out. It draws
        only what falls inside the picture and raises nothing
        for coordinates: any 32-bit values work (the arithmetic is done in 64 bits, 128 where
        needed, and clipped before any loop), at a cost bounded by the picture's size. Arguments
        convert as `pset`'s and may be passed by keyword.

        Raises:
            TypeError: an argument that is not an integer, or `c` outside 0 to 255.
        """
    def rect(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None:
        """Sets the w x h rectangle whose top-left pixel is (x, y) to `c`, or with fill=False its
        one-pixel outline; clipped to the picture.

        The outline is the rectangle's top and bottom rows and left and right columns. w or h
        below 1 draws nothing. `fill`, like every switch, takes True, False, NumPy bools, 0 and 1.

        Raises:
            TypeError: an argument that is not an integer, `c` outside 0 to 255, or a `fill`
                that is not a switch.
        """
    def circle(self, x: _Int, y: _Int, r: _Int, c: _Int, fill: bool = True) -> None:
        """Sets the pixels within r + 1/2 of (x, y) to `c`, or with fill=False their outline;
        clipped to the picture.

        The filled circle is every pixel (px, py) with (px - x)^2 + (py - y)^2 <= r^2 + r. The
        outline is the filled pixels with at least one of their four neighbours (left, right,
        above, below) outside the filled circle: a closed ring one pixel thick. r = 0 is the one
        pixel (x, y); r below 0 draws nothing. Radii 1, 2 and 3 give these outlines:

        ```
        ###     .###.     ..###..
        #.#     #...#     .#...#.
        ###     #...#     #.....#
                #...#     #.....#
                .###.     #.....#
                          .#...#.
                          ..###..
        ```

        Raises:
            TypeError: an argument that is not an integer, or `c` outside 0 to 255.
        """
    def blit(
        self,
        x: _Int,
        y: _Int,
        image: collections.abc.Buffer,
        key: _Int = -1,
        *,
        flip_x: bool = False,
        flip_y: bool = False,
        rotate: _Float = 0.0,
        scale: _Float = 1.0,
        remap: numpy.typing.ArrayLike | None = None,
    ) -> None:
        """Copies `image`, a 2-D uint8 array, element [row, col] to pixel (x + col, y + row),
        leaving out elements equal to `key` (0 to 255; -1 copies all).

        Transformed: `flip_x` and `flip_y` reverse the source's columns and rows first; then
        `rotate` (degrees clockwise, any finite number) and `scale` (a positive finite number)
        turn and size it about its centre, (x, y) staying where the untransformed image's
        top-left would be. Nearest neighbour, in fixed point with 16 fractional bits: destination
        pixel (px, py), with DX = 2px + 1 - 2x - w and DY = 2py + 1 - 2y - h (its centre's offset
        from the image's centre in half pixels), A = round(65536 cos(rotate) / scale) and
        B = round(65536 sin(rotate) / scale) (rounding halves away from 0; cos and sin exactly 0
        or +-1 at multiples of 90 degrees), SX = DX*A + DY*B + 65536w and
        SY = DY*A - DX*B + 65536h, is drawn when 0 <= SX < 131072w and 0 <= SY < 131072h, from
        the flipped image's element [SY // 131072, SX // 131072]. So a destination centre lies
        inside when it falls in the source's half-open box [0, w) x [0, h): at multiples of 90
        degrees and scale 1 every value is exact, and a centre on the box's left or top edge is
        in, on its right or bottom edge out (a 3x2 sprite turned by 90 degrees, whose corners
        fall on pixel centres, shows 2x3 pixels). A scale below 2^-16 draws nothing. `remap`, a
        256-entry uint8 array, maps each source index (after the key test) to the index drawn.
        With the defaults, exactly the plain copy above.

        `image` is anything with the buffer protocol of format `B`, of any strides, negative ones
        too: a NumPy view flipped or transposed is blitted as it reads. It may be the picture
        itself or a part of it (`fb.blit(5, 3, fb.buffer())`): the result is that of copying from
        an unchanged snapshot.

        Raises:
            ValueError: an image with other than 2 dimensions ("blit() expects a 2-D array of
                uint8 (buffer format 'B'); got 3 dimensions").
            TypeError: an image of another type ("...; got format 'd' with 8-byte items"), an
                object without the buffer protocol, or `key` outside -1 to 255 ("blit() argument
                key must be a palette index 0 to 255, or -1 for none, not 256"); a flip that is not
                a switch; a remap that is not uint8.
            ValueError: a rotate that is not finite, a scale that is not positive and finite, a
                remap of other than 256 entries.
        """
    def tiles(
        self,
        x: _Int,
        y: _Int,
        tilemap: numpy.typing.ArrayLike,
        sheet: collections.abc.Buffer,
        size: tuple[_Int, _Int],
        key: _Int = -1,
        remap: numpy.typing.ArrayLike | None = None,
    ) -> None:
        """Draws a tilemap: `tilemap`, a 2-D array of any integer dtype, holds cell numbers of
        `sheet`; tile tilemap[r, c] goes to (x + c*w, y + r*h), keyed and remapped as by blit.

        `sheet` is a 2-D uint8 array whose sides are multiples of `size` = (w, h), cut into cells
        numbered row by row from 0. Negative numbers draw nothing. Only the tiles that reach the
        picture are drawn; the whole map is checked in one pass each call.

        Raises:
            ValueError: a sheet that `size` does not divide; a tilemap of other than 2
                dimensions; a number beyond the sheet's cells ("tiles() argument tilemap holds 6 at
                [0, 1], beyond the sheet's 6 cells ...").
            TypeError: a tilemap that is not of integers; a sheet that is not uint8.
        """
    def sprites(
        self,
        xs: numpy.typing.ArrayLike,
        ys: numpy.typing.ArrayLike,
        cells: numpy.typing.ArrayLike,
        sheet: collections.abc.Buffer,
        size: tuple[_Int, _Int],
        key: _Int = -1,
        remap: numpy.typing.ArrayLike | None = None,
    ) -> None:
        """Many sprites in one call: cell cells[i] of `sheet` (cut as by tiles) at
        (xs[i], ys[i]) for every i, in order (later over earlier), keyed and remapped as by blit.

        `xs`, `ys` and `cells` are equal-length 1-D integer arrays of any dtype (or sequences);
        xs and ys within the 32-bit range; negative cell numbers draw nothing.

        Raises:
            ValueError: arrays of different lengths or of other than 1 dimension, a position
                outside the 32-bit range, a cell number beyond the sheet's cells (named with its
                index), a sheet that `size` does not divide.
            TypeError: arrays that are not of integers; a sheet that is not uint8.
        """
    def triangle(
        self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, x2: _Int, y2: _Int, c: _Int, fill: bool = True
    ) -> None:
        """The triangle with corners (x0, y0), (x1, y1), (x2, y2), filled or as its outline;
        exactly polygon() of the three points."""
    def polygon(self, points: numpy.typing.ArrayLike, c: _Int, fill: bool = True) -> None:
        """The closed polygon through `points`, an (n, 2) integer array or a sequence of (x, y)
        pairs, filled in `c` or with fill=False as its outline.

        Filled: every pixel whose centre lies inside (by the even-odd rule: a self-crossing
        polygon's doubly covered parts are outside) or on the polygon, together with line()'s
        pixels of every edge, so thin and degenerate polygons still show and every vertex is
        drawn. The outline is the filled pixels with at least one of their four neighbours
        outside the filled set. No points draws nothing.

        Raises:
            ValueError: points not of shape (n, 2), or outside the 32-bit range.
            TypeError: points that are not integers, or `c` outside 0 to 255.
        """
    def ellipse(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None:
        """The ellipse inscribed in the box rect(x, y, w, h) would fill, filled or as its
        outline.

        Pixel (px, py) is filled iff ((2px + 1 - 2x - w) / w)^2 + ((2py + 1 - 2y - h) / h)^2 <= 1,
        computed exactly in integers; with w = h = 2r + 1 this is exactly circle(x + r, y + r, r).
        The outline is the filled pixels with at least one of their four neighbours outside.
        w or h below 1 draws nothing.

        Raises:
            TypeError: an argument that is not an integer, or `c` outside 0 to 255.
        """
    def flood(self, x: _Int, y: _Int, c: _Int) -> None:
        """Flood fill: sets the 4-connected region of pixels that have pixel (x, y)'s index, and
        lie inside the clip, to `c` (less the pattern's pixels). Nothing when (x, y) is outside
        the picture or the clip. Named `flood`, as `fill=` is the shapes' switch.

        Raises:
            TypeError: an argument that is not an integer, or `c` outside 0 to 255.
        """
    def text(
        self, x: _Int, y: _Int, s: str, c: _Int, font: Font | None = None, scale: _Int = 1
    ) -> int:
        """Draws `s` in `font` (None: FONT_8X8) in colour `c`, each font pixel a scale x scale
        block; "\\n" starts a new line. Returns the widest line's advance in pixels.

        The pen starts at x; y is the top of the font's ascent on the first line (in the built-in
        fonts, the top of the glyph cell). Each glyph's bitmap is placed relative to the pen as
        its font places it; its set pixels get index `c`, every other pixel is left as it was;
        the pen then moves right by the glyph's advance times `scale`. "\\n" starts a new line at
        x, `font.line_height * scale` lower. A character the font lacks draws the font's default
        glyph (the built-in fonts' placeholder box, a BDF font's DEFAULT_CHAR), or, when it has
        none, nothing, the pen still moving by the font's default advance (a BDF font's
        FONTBOUNDINGBOX width, a picture font's cell width). Text at scale s is exactly the text
        at scale 1 magnified s times about (x, y). With the defaults, exactly what `text(x, y, s,
        c)` always drew, lines now 9 pixels apart. Clipped as every drawing member; docs/fonts.md
        tells more.

        Raises:
            TypeError: a coordinate that is not an integer, `s` not a `str`, `c` outside 0 to
                255, `font` neither a `Font` nor None, or `scale` outside 1 to 65536.
        """
    @property
    def camera(self) -> tuple[int, int]:
        """(x, y), (0, 0) at first: every drawing member (pset, pget, line, rect, circle, blit,
        text and the shapes and sprites) draws at its coordinates less the camera, so that a
        scrolling picture is drawn in world coordinates: world = picture pixel + camera, and so
        world = mouse() + camera. clear(), the views and mouse() ignore it. Computed in 64 bits.

        Raises:
            TypeError: not a pair of 32-bit integers."""
    @camera.setter
    def camera(self, value: tuple[_Int, _Int], /) -> None: ...
    @property
    def clip(self) -> tuple[int, int, int, int] | None:
        """(x, y, w, h) in picture pixels, or None (at first) for the whole picture: the drawing
        members change no pixel outside it; clear() and pget ignore it. Reads back as set; the
        part of it outside the picture draws nothing.

        Raises:
            TypeError: not 4 32-bit integers or None.
            ValueError: w or h below 0."""
    @clip.setter
    def clip(self, value: tuple[_Int, _Int, _Int, _Int] | None, /) -> None: ...
    @property
    def pattern(self) -> int | None:
        """A 4x4 fill pattern (0 to 65535), or None (at first) for none: bit
        15 - (y % 4) * 4 - (x % 4) set leaves picture pixel (x, y) as it is. It applies to the
        shapes (line, rect, circle, triangle, polygon, ellipse, outlines too) and flood, not to
        pset, clear, blit, tiles, sprites or text. Camera, clip and pattern are this object's own
        plain state, not guarded against a drawing call on another thread.

        Raises:
            TypeError: not an integer 0 to 65535 or None."""
    @pattern.setter
    def pattern(self, value: _Int | None, /) -> None: ...
    def save(self, path: _Path, scale: _Int = 1) -> None:
        """Writes the picture and the palette as they are now to an indexed PNG file, every
        pixel a scale x scale block. Needs Pillow.

        What the next `flip()` would show; `save_image` of the framebuffer's pixels and palette,
        which says how the file is replaced.

        Raises:
            ValueError: a name that does not end in `.png`, or `scale` below 1.
            OSError: a file that cannot be written; an existing file is then left as it was.
            ImportError: without Pillow, ending "pip install jxframebuf[image]".
        """
    def record(self, path: _Path | None) -> None:
        """Records every frame flip() shows, with its palette and time, to an animated .gif or
        .png file; record(None) stops and finishes the file. Needs Pillow.

        Recording again to another file finishes the first. Frames hold what the window showed
        (translucent entries blended over black), each timed from the moment `flip()` showed it;
        a frame the same as the one before lengthens that one. The file is finished by
        `record(None)`, by `quit()`, when the framebuffer is deleted, or at the latest at
        interpreter exit. After each frame written the file is ended as a finished one and
        flushed: a program killed while recording leaves a file of every frame written. A `.gif`
        keeps GIF's whole hundredths of a second (frames shown for less than two are
        dropped, and the next takes their place, keeping real time); a `.png` (animated PNG)
        keeps every frame, each delay exact to a tenth of a millisecond. The file is written by
        a thread of its own, at most about a second of frames waiting (32 MB at most).

        Raises:
            ValueError: a name ending in neither `.gif` nor `.png`, or a file that another
                framebuffer is recording to (under any name).
            OSError: a file that cannot be opened, at once; an error while writing (a full disk,
                the file's closing included) is raised once, by the next `flip()`, by
                `record(None)` or by `quit()`, and ends the recording.
            ImportError: without Pillow, ending "pip install jxframebuf[image]".
        """

class Canvas:
    """The drawing members on an array of your own: a sprite sheet, a picture kept off screen, a
    part of another array, or a view of a framebuffer.

    Exactly the framebuffer's members, meanings, clipping (to the array), arguments, refusals and
    speed; element [y, x] is pixel (x, y). The canvas holds the array's buffer for its whole life:
    the array stays alive, and NumPy refuses to resize it meanwhile, `refcheck=False` too. Should
    its memory be replaced all the same (`ndarray.__setstate__`), every drawing member raises
    `ValueError` ("the canvas's array was resized or given other memory after the canvas was
    made: make a new Canvas") and writes nothing. Like every drawing member, a
    canvas may be used from any thread; it is not shared between threads any more safely than the
    array is.
    """

    def __init__(self, array: collections.abc.Buffer) -> None:
        """The drawing kit on `array`, a writable 2-D uint8 array of any strides (a framebuffer's
        buffer(), a slice of another array, ...), which the canvas keeps alive.

        Raises:
            ValueError: a read-only array ("Canvas() expects a writable 2-D array of uint8 (buffer
                format 'B'); got a read-only one"), or one with other than 2 dimensions.
            TypeError: an array of another type, or an object without the buffer protocol.
        """
    @property
    def array(self) -> numpy.typing.NDArray[numpy.uint8]:
        """The array drawn on: the NumPy array given, or a NumPy array over the buffer given."""
    def clear(self, color: _Int = 0) -> None:
        """Sets every pixel to palette index `color` (0 to 255)."""
    def pset(self, x: _Int, y: _Int, c: _Int, /) -> None:
        """Sets pixel (x, y) less the camera, element [y - cy, x - cx], to `c` (0 to 255);
        outside the array or the clip, nothing."""
    def pget(self, x: _Int, y: _Int, /) -> int:
        """The value of pixel (x, y) less the camera, element [y - cy, x - cx]; 0 outside the
        array (the clip does not matter)."""
    def line(self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, c: _Int) -> None:
        """As Framebuffer.line, on the array."""
    def rect(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None:
        """As Framebuffer.rect, on the array."""
    def circle(self, x: _Int, y: _Int, r: _Int, c: _Int, fill: bool = True) -> None:
        """As Framebuffer.circle, on the array."""
    def blit(
        self,
        x: _Int,
        y: _Int,
        image: collections.abc.Buffer,
        key: _Int = -1,
        *,
        flip_x: bool = False,
        flip_y: bool = False,
        rotate: _Float = 0.0,
        scale: _Float = 1.0,
        remap: numpy.typing.ArrayLike | None = None,
    ) -> None:
        """As Framebuffer.blit, on the array; `image` may share its memory."""
    def tiles(
        self,
        x: _Int,
        y: _Int,
        tilemap: numpy.typing.ArrayLike,
        sheet: collections.abc.Buffer,
        size: tuple[_Int, _Int],
        key: _Int = -1,
        remap: numpy.typing.ArrayLike | None = None,
    ) -> None:
        """As Framebuffer.tiles, on the array; `sheet` may share its memory."""
    def sprites(
        self,
        xs: numpy.typing.ArrayLike,
        ys: numpy.typing.ArrayLike,
        cells: numpy.typing.ArrayLike,
        sheet: collections.abc.Buffer,
        size: tuple[_Int, _Int],
        key: _Int = -1,
        remap: numpy.typing.ArrayLike | None = None,
    ) -> None:
        """As Framebuffer.sprites, on the array; `sheet` may share its memory."""
    def triangle(
        self, x0: _Int, y0: _Int, x1: _Int, y1: _Int, x2: _Int, y2: _Int, c: _Int, fill: bool = True
    ) -> None:
        """As Framebuffer.triangle, on the array."""
    def polygon(self, points: numpy.typing.ArrayLike, c: _Int, fill: bool = True) -> None:
        """As Framebuffer.polygon, on the array."""
    def ellipse(self, x: _Int, y: _Int, w: _Int, h: _Int, c: _Int, fill: bool = True) -> None:
        """As Framebuffer.ellipse, on the array."""
    def flood(self, x: _Int, y: _Int, c: _Int) -> None:
        """As Framebuffer.flood, on the array."""
    def text(
        self, x: _Int, y: _Int, s: str, c: _Int, font: Font | None = None, scale: _Int = 1
    ) -> int:
        """As Framebuffer.text, on the array; returns the widest line's advance in pixels."""
    @property
    def camera(self) -> tuple[int, int]:
        """As Framebuffer.camera, this canvas's own (a canvas over a framebuffer's buffer() does
        not share the framebuffer's)."""
    @camera.setter
    def camera(self, value: tuple[_Int, _Int], /) -> None: ...
    @property
    def clip(self) -> tuple[int, int, int, int] | None:
        """As Framebuffer.clip, in array pixels, this canvas's own."""
    @clip.setter
    def clip(self, value: tuple[_Int, _Int, _Int, _Int] | None, /) -> None: ...
    @property
    def pattern(self) -> int | None:
        """As Framebuffer.pattern, in array pixels, this canvas's own."""
    @pattern.setter
    def pattern(self, value: _Int | None, /) -> None: ...

def key_names() -> list[str]:
    """Every name that key(), pressed() and released() take, each once; works before any
    window exists.

    In this order: the key names of the current keyboard layout (SDL's US layout while no
    window is open) and SDL's other scancode names that name a key there; "physical " and each
    of SDL's scancode names; "mouse left", "mouse middle", "mouse right", "mouse x1",
    "mouse x2"; the either-side names "ctrl", "shift", "alt", "gui"; the gamepad buttons as
    "pad NAME" and as the pattern "pad[1-8] NAME" (fnmatch's syntax) for any gamepad. Names are
    taken in any case, and any single character names its key beyond this list.

    Raises:
        RuntimeError: windows are open and this is not their thread.
    """

def text_size(s: str, font: Font | None = None, scale: _Int = 1) -> tuple[int, int]:
    """The width and height in pixels of the box text() fills for `s`: the widest line's advance,
    and (lines - 1) * font.line_height + font.height, both times `scale`.

    A string has one line more than it has "\\n"s. In the 8x8 font `text_size("SCORE 42")` is
    `(64, 8)`, `text_size("")` is `(0, 8)`, `text_size("A\\nB")` is `(8, 17)`. Centring a text:
    `w, h = text_size(s); fb.text((fb.width - w) // 2, (fb.height - h) // 2, s, 1)`. A glyph may
    reach outside the box where its font places it so (a BDF glyph left of its pen).

    Raises:
        TypeError: `s` not a `str`, `font` neither a `Font` nor None, or `scale` outside 1 to
            65536.
    """
@final
class Font:
    """A bitmap font for `text` and `text_size`: read from a BDF file, cut from a picture, or
    one of the built-in FONT_8X8 and FONT_4X6.

    Immutable: share one between framebuffers, canvases and threads. docs/fonts.md tells how
    glyphs are placed and what a BDF file may hold.
    """

    def __init__(self, path: _Path) -> None:
        """Reads the BDF font file at `path` (the X11 bitmap font format, plain text).

        Its CHARSET_REGISTRY must be "ISO10646", or "ISO8859" with CHARSET_ENCODING "1" (or
        "ISO8859-1"), or absent; ENCODING is then the Unicode code point. Glyphs with ENCODING -1
        are skipped; of a code point given twice the first glyph counts. Ascent and descent are
        FONT_ASCENT and FONT_DESCENT, or else FONTBOUNDINGBOX's; `line_height` is their sum. A
        glyph advances by its DWIDTH (or the font's), and its BBX places its BITMAP rows.

        Raises:
            ValueError: a malformed file, a number out of range (sizes, offsets and advances
                beyond 4096) or another charset, naming the file and the line ("x.bdf: line 27:
                BBX expects integers, not 'x'").
            OSError: a file that cannot be read.
            TypeError: `path` not a str or path object.
        """
    @staticmethod
    def from_image(
        array: collections.abc.Buffer, size: tuple[_Int, _Int], first: _Int = 32
    ) -> Font:
        """The font drawn in `array`, a 2-D uint8 array of any strides, cut into cells of
        size = (w, h) pixels row by row from the top-left; cell k is code point first + k.

        Index 0 is background, any other index ink. Each glyph fills its cell and advances by w;
        `height` and `line_height` are h. A character beyond the cells draws nothing and
        advances by w.

        Raises:
            ValueError: an array whose width and height are not multiples of w and h, one with
                other than 2 dimensions, or cells whose last code point would be beyond 0x10FFFF.
            TypeError: an array of another type, `size` not a pair of integers 1 to 4096, or
                `first` outside 0 to 0x10FFFF.
        """
    @property
    def height(self) -> int:
        """Ascent + descent: the height in font pixels of one line's glyph box."""
    @property
    def line_height(self) -> int:
        """The distance in font pixels from the top of one line to the top of the next."""

FONT_8X8: Font
"""The built-in 8x8 font, the one `text` draws by default: 5 x 7 glyphs with one-row descenders
in 8 x 8 cells for printable ASCII (32 to 126), a placeholder box for every other character;
height 8 (ascent 7, descent 1), line_height 9."""
FONT_4X6: Font
"""The built-in 4x6 font, for low resolutions: 3-pixel-wide glyphs in 4 x 6 cells for printable
ASCII (32 to 126), a placeholder box for every other character; height 6 (ascent 5, descent 1),
line_height 7."""

def save_image(
    path: _Path, pixels: numpy.typing.ArrayLike, palette: numpy.typing.ArrayLike
) -> None:
    """Writes a 2-D uint8 array of palette indices and up to 256 colours 0xAARRGGBB (the rest
    opaque black) to an indexed PNG file, every entry exact, alpha included. Needs Pillow.

    `pixels` may have any strides; `palette` is a NumPy array or a list of ints, `[]` none, or an
    (n, 3) array of red, green and blue 0 to 255 (opaque). Alphas below 0xFF are kept in a tRNS
    chunk. The file is written beside the real path (links followed) and renamed over it when
    complete, keeping the old file's mode; a FIFO or device is written in place. Touches no SDL
    state: any thread may call it.

    Raises:
        ValueError: a name that does not end in `.png`; pixels that are not 2-D; more than 256
            colours, or one outside 0 to 0xFFFFFFFF (0 to 255 for RGB rows); a flat list of a
            multiple of 3 values all 0 to 255, Pillow's getpalette() ("... pass
            np.reshape(p, (-1, 3)) for red, green and blue, or np.array(p, np.uint32) for
            colours").
        TypeError: pixels that are not uint8 (integers: "use .astype(np.uint8)"), a palette of
            another type, or None.
        OSError: a file that cannot be written; an existing file is then left as it was.
        ImportError: without Pillow, ending "pip install jxframebuf[image]".
    """

def load_image(
    path: _Path,
) -> tuple[numpy.typing.NDArray[numpy.uint8], numpy.typing.NDArray[numpy.uint32]]:
    """Reads an indexed PNG or GIF: its (height, width) uint8 indices and its 256 colours
    0xAARRGGBB, exact (unused entries opaque black). Needs Pillow.

    PNGs of 1, 2, 4 or 8 bits with their alphas, and a GIF's first frame with its transparent
    index. Both arrays are new.

    Raises:
        ValueError: a truecolour or greyscale image, saying so ("load_image() reads indexed
            (palette) images; 'photo.png' is truecolour (mode RGB), and its colours are not
            reduced to a palette here: make it indexed first, ...").
        OSError: a file that cannot be read.
        ImportError: without Pillow, ending "pip install jxframebuf[image]".
    """

def load_sound(path: _Path) -> tuple[numpy.typing.NDArray[numpy.float32], int]:
    """Reads a whole sound file: `(samples, rate)`, the samples float32 in -1.0 to 1.0 shaped
    (n, channels), the rate in frames a second: play it with `audio.play(samples, rate=rate)`.

    WAV files (PCM of 8, 16, 24 or 32 bits, float, and the other encodings SDL reads) go through
    SDL's own loader, always; Ogg Vorbis, FLAC and MP3 through libsndfile (`soundfile`, an
    optional dependency: `pip install jxframebuf[sound]`). A WAV is told by its header, whatever
    its name.

    Raises:
        TypeError: a path that is not a str or os.PathLike (bytes included).
        OSError: a file that cannot be opened (FileNotFoundError, ...).
        RuntimeError: a WAV that SDL cannot read (SDL's message); soundfile's own error
            (a RuntimeError) for another file it cannot read.
        ImportError: a file other than WAV without soundfile, ending
            "pip install jxframebuf[sound]".
    """

def tone(
    pitch: float | str,
    seconds: float,
    wave: str = "square",
    volume: float = 0.5,
    rate: _Int = 48000,
    attack: float = 0.005,
    release: float = 0.02,
    duty: float = 0.5,
) -> numpy.typing.NDArray[numpy.float32]:
    """A synthesised tone: float32 shaped (round(seconds * rate), 1), at `rate` frames a second
    (an `Audio` at another rate plays it with `rate=`).

    `pitch` is in Hz, or a note name in scientific pitch with equal temperament: a letter A to
    G, an optional `#` or `b`, and an octave, "A4" = 440 Hz, "C4" middle C, "C#5", "Eb3",
    "Cb4" = B3 (octaves change at C). (pyxel's "a2" is this "A4": a port's notes move up two
    octaves.) `wave` is "sine", "square", "pulse" (high for the first `duty` of each cycle,
    0 to 1), "triangle", "saw" (rising), or "noise": a new random level each cycle, from a fixed
    seed, so the same call always gives the same sound. Every wave swings between -`volume`
    and +`volume` (0 to 1), rising linearly from silence over `attack` seconds and falling to it
    over the last `release` seconds (each at most half the tone).

    Raises:
        TypeError: a number of another type.
        ValueError: an unknown note name or wave; a pitch, a length, an attack or a release
            below 0, a volume or a duty outside 0 to 1, a rate outside 1,000 to 384,000.
    """

def melody(
    notes: str,
    tempo: float = 120,
    wave: str = "square",
    volume: float = 0.5,
    rate: _Int = 48000,
) -> numpy.typing.NDArray[numpy.float32]:
    """A tune: float32 shaped (n, 1) at `rate`, each note a `tone` of `wave` and `volume`.

    `notes` is words separated by spaces. A word is a note name as `tone` takes it ("C4",
    "F#3", "Bb5") or `R` for a rest, then optionally a length: `/4` a quarter note, `/1` a
    whole, `/2`, `/8`, `/16`, ... (`/3` a third of a whole: a triplet half), a `.` after it
    dotting it (half as long again), and `+8` tying on an eighth (`C4/2+8`, `G4/4.+16`): one
    note that long. A word without a length keeps the last one given (a quarter at first).
    `|:` and `:|` play what is between them twice (not nested; a `:|` alone repeats from the
    start). `tempo` is in quarter notes a minute.

    Timing is exact: the note that begins after lengths adding up to L whole notes begins at
    frame round(L * 4 * 60 / tempo * rate), the sum taken in fractions and rounded once, so
    onsets never drift; each note lasts until the next one's onset.

    Raises:
        TypeError: notes that are not a str.
        ValueError: a word it cannot read ("melody(): cannot read 'C4/x': ..."), a repeat left
            open, or the values `tone` refuses.
    """

class Voice:
    """A sound effect started by `Audio.play`: its samples, or a file streamed as it plays."""

    @property
    def playing(self) -> bool:
        """True until the sound has played out (never, for a loop) or was stopped."""
    def stop(self) -> None:
        """Silences the sound at once; calling it again does nothing."""

class Audio:
    """Sound on the default output device: a gapless stream of samples, with effects mixed over
    it. Independent of any `Framebuffer`; every member may be called from any thread.

    **Samples** are a NumPy array, or any object with the buffer protocol, of float32 or float64
    in -1.0 to 1.0 (beyond that clipped; NaN plays as silence) or int16, shaped (n, 1) or (n, 2),
    or (n,) when the `Audio` has one channel; any strides. They are copied before the call
    returns. One channel into a stereo `Audio` plays on both sides; two into a mono one are mixed
    as (L + R) / 2. A 1-D array into a stereo `Audio` is refused: it may be interleaved stereo.
    `rate=` (keyword-only) gives the samples' own rate, 1,000 to 384,000 frames a second, where it
    is not the `Audio`'s: SDL's stream resamples them (the pitch stays right). Without
    conversion every sample plays exactly as given. At another rate than the `Audio`'s, the
    last few frames queued wait for more (SDL's resampler looks ahead) until the rate changes
    again. The
    switches `loop` and `paused` take True, False, NumPy bools, 0 and 1, and raise `TypeError`
    for anything else.

    Several `Audio` objects may be open at once, each with its own stream; SDL mixes them all onto
    the device. An `Audio` keeps playing when the last framebuffer quits. The calls that may wait
    on the device (opening, closing, `queue`, `play`) let other Python threads run meanwhile.
    After `close()` every member but `close()` raises `RuntimeError` ("this Audio is closed...").

    **The sound server.** When the default device changes, SDL moves the sound to the new one.
    When the device goes with nothing to take its place (the sound server was killed or
    restarted), the next call on the `Audio` gives its device back and raises
    `RuntimeError("sound device lost")` (every later call does too, `close()` aside); a new
    `Audio` then starts SDL's sound afresh and plays on the server that is there now (SDL's
    PulseAudio backend can miss a server killed at an unlucky moment: that `Audio` then plays
    into nothing, and a new one reports that the server did not answer). A server
    that stops answering (frozen) is waited for at most 3 s when opening and 1 s when closing,
    Ctrl-C ending the wait at once: the rest is left to a thread of its own, so a program ends in
    bounded time whatever the server does. Calls on an open `Audio` do not wait for the server.
    """

    def __init__(self, rate: _Int = 48000, channels: _Int = 2) -> None:
        """Opens the default output device for `rate` frames a second (8,000 to 192,000) in 1 or
        2 channels. RuntimeError when there is no sound driver or device.

        SDL converts to whatever the device takes. `SDL_AUDIO_DRIVER` (or SDL2's
        `SDL_AUDIODRIVER`; the first wins when both are set) chooses the driver, and `dummy`
        plays into nothing at the real pace. Otherwise, on Linux, only the sound servers that can
        answer are tried: PipeWire where `PIPEWIRE_REMOTE` is set or `$XDG_RUNTIME_DIR/pipewire-0`
        exists, PulseAudio where `PULSE_SERVER` is set or `$XDG_RUNTIME_DIR/pulse/native` exists,
        then ALSA where `/dev/snd` exists.

        Raises:
            ValueError: another rate or channel count.
            RuntimeError: no sound driver or device, with SDL's message and a hint; "No sound
                server or sound card was found..." on Linux with none of the above; "the sound
                server did not answer within 3 s..." (the opening goes on alone, and is undone
                when it ends).
            KeyboardInterrupt: Ctrl-C while waiting for the sound server.
        """
    def queue(self, samples: collections.abc.Buffer, *, rate: _Int | None = None) -> None:
        """Appends samples (see the class) at their own `rate` (None: the Audio's) to the
        stream, which plays gaplessly in order. Copied at the call.

        The stream plays without a gap as long as it does not run dry; then it is silent until
        more comes.

        Raises:
            TypeError: samples of another type.
            ValueError: samples of another shape.
        """
    @property
    def queued(self) -> float:
        """Seconds of queued sound not yet played: what an emulator keeps topped up."""
    def clear(self) -> None:
        """Drops what is queued and not yet played."""
    def play(
        self,
        samples: collections.abc.Buffer | _Path,
        loop: bool = False,
        volume: float = 1.0,
        *,
        rate: _Int | None = None,
    ) -> Voice:
        """Starts a sound effect (samples as for `queue`, at their own `rate`), or a sound file
        (a str or os.PathLike; bytes are a buffer), mixed over the stream and the other voices
        from now on, once or over and over, scaled by `volume`.

        `loop=True` repeats it without a gap until stopped; `volume` is 0 or more. A voice nobody
        keeps a reference to plays to its end.

        A file is streamed: a thread of its own decodes it a little ahead of the device (half a
        second at most), so memory stays bounded whatever its length: music. Files are read as
        `load_sound` reads them, through `soundfile`; without it, a WAV is read whole through
        SDL and played as samples, and other files raise ImportError. `rate` replaces the
        file's own rate (None: the file's). A loop is gapless for WAV, Ogg Vorbis and FLAC; an
        MP3's encoder padding may leave a short gap at the loop point. `Voice.stop()` ends the
        stream. An error while decoding ends the voice, and the next call on the `Audio` raises
        it as RuntimeError ("playing PATH failed: ...") once.

        Raises:
            TypeError: samples of another type; `rate` given without its keyword.
            ValueError: samples of another shape, a volume below 0 or not finite, a rate
                outside 1,000 to 384,000, a file of more than 2 channels.
            OSError, RuntimeError: a file that cannot be opened or read (as `load_sound`).
            ImportError: a file other than WAV without soundfile.
        """
    @property
    def volume(self) -> float:
        """The gain of everything played, 0.0 or more; 1.0 at first.

        Above 1.0 amplifies, and what goes beyond full scale is clipped.

        Raises:
            ValueError: a volume below 0 or not finite.
        """
    @volume.setter
    def volume(self, value: float, /) -> None: ...
    @property
    def paused(self) -> bool:
        """True holds everything (the queue and the voices) where it is; False plays on."""
    @paused.setter
    def paused(self, value: bool, /) -> None: ...
    @property
    def rate(self) -> int:
        """Frames a second, as opened."""
    @property
    def channels(self) -> int:
        """1 or 2, as opened."""
    def close(self) -> None:
        """Stops all sound and gives the device back. Every other member raises RuntimeError
        afterwards; calling it again does nothing.

        Waits for the sound server at most 1 s, or until Ctrl-C (KeyboardInterrupt, closed all
        the same); the device is then given back by a thread of its own when the server answers.
        """
    def __enter__(self) -> Self:
        """The Audio itself, for `with Audio() as audio:`."""
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
        /,
    ) -> None:
        """Calls close(), exception or not."""
