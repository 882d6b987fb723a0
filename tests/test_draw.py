"""The drawing kit (pset, pget, clear, line, rect, circle, blit, text) against small reference
implementations, pixel for pixel over the whole picture, on SDL's dummy video driver, and on
Canvases over arrays of every layout, which must draw exactly what the framebuffer draws. Every
drawing starts from a picture whose pixels differ from their neighbours, so a stray write anywhere
shows."""

import ctypes
import functools
import hashlib
import math

import numpy as np
import pytest
from conftest import in_child
from hypothesis import example, given
from hypothesis import strategies as st
from test_arguments import FRACTIONAL, Index, Raises

from jxframebuf import FONT_4X6, FONT_8X8, Canvas, Font, Framebuffer, text_size

W, H = 23, 17  # small, odd and not square, so that swapped axes cannot pass
LO, HI = -(2**31), 2**31 - 1
BACKGROUND = ((np.arange(W * H).reshape(H, W) * 37 + 11) % 256).astype(np.uint8)


def picture():
    fb = Framebuffer(W, H, scale=1, fps=0)
    fb.buffer()[:] = BACKGROUND
    return fb


# Arrays laid out every way a caller's may be, for Canvases to draw on.
LAYOUTS = {
    "contiguous": lambda: np.empty((H, W), np.uint8),
    "a slice of a larger array": lambda: np.empty((H + 6, W + 9), np.uint8)[2:-4, 5:-4],
    "every other column, rows upside down": lambda: np.empty((H, 2 * W), np.uint8)[::-1, ::2],
    "transposed": lambda: np.empty((W, H), np.uint8).T,
    "columns backwards, every third": lambda: np.empty((H, 3 * W), np.uint8)[:, ::-3],
}


def canvases():
    """Canvases over arrays of every layout, each holding the background."""
    for layout, make in LAYOUTS.items():
        array = make()
        array[:] = BACKGROUND
        yield layout, Canvas(array)


def drawn(call, *args, **kwargs):
    """The whole picture after `call(fb, ...)` on a fresh picture, and what the call returned. The
    same member of Canvas, called alike on arrays of every layout, must draw and return the same."""
    fb = picture()
    try:
        result = call(fb, *args, **kwargs)
        pixels = fb.buffer().copy()
    finally:
        fb.quit()
    for layout, canvas in canvases():
        assert getattr(Canvas, call.__name__)(canvas, *args, **kwargs) == result, layout
        np.testing.assert_array_equal(canvas.array, pixels, err_msg=layout)
    return pixels, result


def paint(points, c):
    expected = BACKGROUND.copy()
    for x, y in points:
        if 0 <= x < W and 0 <= y < H:
            expected[y, x] = c
    return expected


# Coordinates: mostly around the picture, so that every edge is crossed, and sometimes anywhere in
# the 32-bit range.
near = st.integers(-12, max(W, H) + 12)
coordinate = st.one_of(near, near, near, st.integers(LO, HI), st.sampled_from([LO, HI]))
colour = st.integers(0, 255)

# --- Pixels -------------------------------------------------------------------------------------


@given(x=coordinate, y=coordinate, c=colour)
@example(x=0, y=0, c=1)
@example(x=W - 1, y=H - 1, c=2)  # the last pixel
@example(x=W, y=0, c=3)
def test_pixels_and_clear(x, y, c):
    inside = 0 <= x < W and 0 <= y < H
    np.testing.assert_array_equal(drawn(Framebuffer.pset, x, y, c)[0], paint([(x, y)], c))
    pixels, value = drawn(Framebuffer.pget, x, y)
    np.testing.assert_array_equal(pixels, BACKGROUND)
    assert value == (BACKGROUND[y, x] if inside else 0)
    pixels, _ = drawn(Framebuffer.clear, c)
    assert (pixels == c).all()


# --- Lines --------------------------------------------------------------------------------------


def bresenham(x0, y0, x1, y1):
    """The classic walk: one pixel per step along the longer axis (x on a tie); the other
    coordinate steps when the error term is above 0."""
    dx, dy = abs(x1 - x0), abs(y1 - y0)
    sx, sy = (1 if x1 >= x0 else -1), (1 if y1 >= y0 else -1)
    steep = dy > dx
    major, minor = (dy, dx) if steep else (dx, dy)
    u, v, su, sv = (y0, x0, sy, sx) if steep else (x0, y0, sx, sy)
    error = 2 * minor - major
    for _ in range(major + 1):
        yield (v, u) if steep else (u, v)
        if error > 0:
            v += sv
            error -= 2 * major
        error += 2 * minor
        u += su


def bresenham_visible(x0, y0, x1, y1):
    """The walk's visible pixels for lines of any length: the i-th pixel's minor offset is
    floor((2*i*minor + major - 1) / (2*major)), taken at each visible major coordinate only."""
    dx, dy = abs(x1 - x0), abs(y1 - y0)
    sx, sy = (1 if x1 >= x0 else -1), (1 if y1 >= y0 else -1)
    steep = dy > dx
    major, minor = (dy, dx) if steep else (dx, dy)
    u0, v0, su, sv, size = (y0, x0, sy, sx, H) if steep else (x0, y0, sx, sy, W)
    if major == 0:
        return [(x0, y0)]
    points = []
    for u in range(size):
        i = (u - u0) * su
        if 0 <= i <= major:
            v = v0 + sv * ((2 * i * minor + major - 1) // (2 * major))
            points.append((v, u) if steep else (u, v))
    return points


EXTREME_LINES = [
    (LO, LO, HI, HI),  # the longest diagonal, through the picture's corner
    (HI, HI, LO, LO),
    (HI, LO, LO, HI),
    (LO, 3, HI, 4),  # nearly flat, crossing the picture
    (5, LO, 6, HI),  # nearly upright
    (LO, LO, HI, LO + 1),  # far above the picture
    (-(2**30), 0, 2**30, H),  # shallow, a few pixels of it visible
]


def extreme_lines(test):
    for x0, y0, x1, y1 in EXTREME_LINES:
        test = example(x0=x0, y0=y0, x1=x1, y1=y1, c=7)(test)
    return test


@given(x0=coordinate, y0=coordinate, x1=coordinate, y1=coordinate, c=colour)
@extreme_lines
@example(x0=-5, y0=-3, x1=W + 4, y1=H + 2, c=1)  # in at the top-left corner, out at the bottom
@example(x0=W + 4, y0=-3, x1=-5, y1=H + 2, c=1)  # and the other way round
@example(x0=3, y0=0, x1=-3, y1=16, c=1)  # steep, out through the left edge
@example(x0=W - 3, y0=0, x1=W + 3, y1=16, c=1)  # and the right one
@example(x0=0, y0=3, x1=22, y1=-3, c=1)  # shallow, out through the top
@example(x0=0, y0=H - 3, x1=22, y1=H + 3, c=1)  # and the bottom
@example(x0=-1, y0=5, x1=0, y1=7, c=1)  # in at the edge where the error term ties
@example(x0=W, y0=5, x1=W - 1, y1=7, c=1)
@example(x0=3, y0=4, x1=3, y1=4, c=9)  # a single pixel
@example(x0=-1, y0=-1, x1=-1, y1=-1, c=9)  # a single pixel outside
def test_line_is_the_bresenham_walk_clipped(x0, y0, x1, y1, c):
    pixels, result = drawn(Framebuffer.line, x0, y0, x1, y1, c)
    assert result is None
    if max(abs(x1 - x0), abs(y1 - y0)) <= 4096:
        expected = paint(bresenham(x0, y0, x1, y1), c)
    else:
        expected = paint(bresenham_visible(x0, y0, x1, y1), c)
    np.testing.assert_array_equal(pixels, expected)


@given(x0=near, y0=near, x1=near, y1=near)
def test_the_long_line_reference_draws_short_lines_as_the_module_does(x0, y0, x1, y1):
    # Lines too long to walk are checked against bresenham_visible; on the short ones, where the
    # walk checks the module, the module checks it.
    pixels, _ = drawn(Framebuffer.line, x0, y0, x1, y1, 1)
    np.testing.assert_array_equal(pixels, paint(bresenham_visible(x0, y0, x1, y1), 1))


# --- Rectangles ---------------------------------------------------------------------------------


def clamp(a, b, size):
    """The slice of [a, b) that lies in [0, size)."""
    return slice(min(max(a, 0), size), min(max(b, 0), size))


def rect_reference(x, y, w, h, c, fill):
    expected = BACKGROUND.copy()
    if w < 1 or h < 1:
        return expected
    expected[clamp(y, y + h, H), clamp(x, x + w, W)] = c
    if not fill and w > 2 and h > 2:
        inner = clamp(y + 1, y + h - 1, H), clamp(x + 1, x + w - 1, W)
        expected[inner] = BACKGROUND[inner]
    return expected


size = st.one_of(
    st.integers(-1, 6),
    st.integers(-3, max(W, H) + 8),
    st.integers(LO, HI),
    st.sampled_from([LO, HI]),
)


@given(x=coordinate, y=coordinate, w=size, h=size, c=colour, fill=st.booleans())
@example(x=LO, y=LO, w=HI, h=HI, c=3, fill=True)  # ends just short of the picture
@example(x=LO, y=LO, w=HI, h=HI, c=3, fill=False)
@example(x=-1, y=-1, w=HI, h=HI, c=3, fill=False)  # covers it: the outline's corner shows
@example(x=HI, y=HI, w=HI, h=HI, c=3, fill=True)
@example(x=-4, y=2, w=6, h=5, c=200, fill=False)  # across the left edge
@example(x=W - 2, y=2, w=6, h=5, c=200, fill=False)  # the right
@example(x=3, y=-4, w=6, h=5, c=200, fill=False)  # the top
@example(x=3, y=H - 2, w=6, h=5, c=200, fill=False)  # the bottom
@example(x=2, y=-2, w=6, h=8, c=200, fill=False)  # across the top with its hole showing
@example(x=W - 3, y=2, w=4, h=5, c=200, fill=False)  # the right, likewise
@example(x=2, y=3, w=3, h=5, c=200, fill=False)  # the narrowest outline with a hole
@example(x=2, y=3, w=5, h=3, c=200, fill=False)
@example(x=2, y=3, w=2, h=5, c=200, fill=False)  # no hole
@example(x=2, y=3, w=0, h=5, c=200, fill=True)  # empty
@example(x=2, y=3, w=4, h=-1, c=200, fill=False)
def test_rect_is_the_numpy_slice(x, y, w, h, c, fill):
    pixels, result = drawn(Framebuffer.rect, x, y, w, h, c, fill=fill)
    assert result is None
    np.testing.assert_array_equal(pixels, rect_reference(x, y, w, h, c, fill))


# --- Circles ------------------------------------------------------------------------------------


def circle_reference(x, y, r, c, fill):
    """The definition in circle()'s docstring, over the picture and a one-pixel border around it,
    in Python integers (the squares of 32-bit distances overflow 64 bits when added)."""
    expected = BACKGROUND.copy()
    if r < 0:
        return expected
    dx = np.arange(-1, W + 1, dtype=object) - x
    dy = np.arange(-1, H + 1, dtype=object) - y
    inside = (dx[None, :] ** 2 + dy[:, None] ** 2 <= r * r + r).astype(bool)
    if not fill:
        neighbours_in = np.zeros_like(inside)
        neighbours_in[1:-1, 1:-1] = (
            inside[:-2, 1:-1] & inside[2:, 1:-1] & inside[1:-1, :-2] & inside[1:-1, 2:]
        )
        inside &= ~neighbours_in
    expected[inside[1:-1, 1:-1]] = c
    return expected


radius = st.one_of(st.integers(-2, 30), st.integers(-2, 30), st.integers(LO, HI), st.just(HI))


@given(x=coordinate, y=coordinate, r=radius, c=colour, fill=st.booleans())
@example(x=0, y=0, r=HI, c=4, fill=True)  # covers the picture
@example(x=0, y=0, r=HI, c=4, fill=False)  # its outline is far away
@example(x=LO, y=LO, r=HI, c=4, fill=False)
@example(x=-HI + 10, y=8, r=HI, c=4, fill=False)  # the outline crosses the picture
@example(x=8, y=HI, r=HI, c=4, fill=False)
@example(x=HI, y=LO, r=HI, c=4, fill=True)
@example(x=5, y=6, r=0, c=4, fill=False)  # one pixel
@example(x=5, y=6, r=-1, c=4, fill=True)  # nothing
@example(x=-3, y=8, r=6, c=4, fill=False)  # across the left edge
@example(x=W + 2, y=8, r=6, c=4, fill=False)  # the right
@example(x=10, y=-3, r=6, c=4, fill=False)  # the top
@example(x=10, y=H + 2, r=6, c=4, fill=False)  # the bottom
def test_circle_is_the_readme_definition(x, y, r, c, fill):
    pixels, result = drawn(Framebuffer.circle, x, y, r, c, fill=fill)
    assert result is None
    np.testing.assert_array_equal(pixels, circle_reference(x, y, r, c, fill))


# --- Blits --------------------------------------------------------------------------------------


class _View(ctypes.Structure):  # Py_buffer
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p), ("shape", ctypes.c_void_p),
                ("strides", ctypes.c_void_p), ("suboffsets", ctypes.c_void_p),
                ("internal", ctypes.c_void_p)]  # fmt: skip


def indirect_rows(rows):
    """An object exporting `rows` as PIL's old images did, whatever it is asked for: `buf` an array
    of pointers to the rows, suboffsets (0, -1). Nothing written in Python exports so."""
    rows = [np.ascontiguousarray(r, np.uint8) for r in rows]
    pointers = (ctypes.c_void_p * len(rows))(*(r.ctypes.data for r in rows))
    size = ctypes.sizeof(ctypes.c_ssize_t)
    layout = (ctypes.c_ssize_t * 6)(
        len(rows), len(rows[0]), ctypes.sizeof(ctypes.c_void_p), 1, 0, -1
    )
    at = ctypes.addressof(layout)

    @ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(_View), ctypes.c_int)
    def get(exporter, view, flags):
        ctypes.pythonapi.Py_IncRef(ctypes.c_void_p(exporter))
        view[0] = _View(ctypes.addressof(pointers), exporter, len(rows) * len(rows[0]), 1, 0, 2,
                        b"B", at, at + 2 * size, at + 4 * size, None)  # fmt: skip
        return 0

    class Slot(ctypes.Structure):
        _fields_ = [("slot", ctypes.c_int), ("pfunc", ctypes.c_void_p)]

    class Spec(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("basicsize", ctypes.c_int),
                    ("itemsize", ctypes.c_int), ("flags", ctypes.c_uint),
                    ("slots", ctypes.POINTER(Slot))]  # fmt: skip

    slots = (Slot * 2)(Slot(1, ctypes.cast(get, ctypes.c_void_p)), Slot(0, None))  # bf_getbuffer
    spec = Spec(b"test_draw.IndirectRows", 2 * ctypes.sizeof(ctypes.c_void_p), 0, 0, slots)
    from_spec = ctypes.pythonapi.PyType_FromSpec
    from_spec.restype, from_spec.argtypes = ctypes.py_object, [ctypes.c_void_p]
    cls = from_spec(ctypes.addressof(spec))
    cls.keep = (rows, pointers, layout, get, slots, spec)
    return cls()


@st.composite
def images(draw):
    """A uint8 array, often a strided, reversed or transposed view of a larger one."""
    h, w = draw(st.integers(0, 12)), draw(st.integers(0, 12))
    base = draw(st.lists(st.integers(0, 5), min_size=h * w, max_size=h * w))
    image = np.array(base, dtype=np.uint8).reshape(h, w)
    row_step = draw(st.sampled_from([1, 1, 2, -1, -2]))
    col_step = draw(st.sampled_from([1, 1, 2, -1, -3]))
    image = image[::row_step, ::col_step]
    return image.T if draw(st.booleans()) else image


def blit_reference(x, y, image, key):
    expected = BACKGROUND.copy()
    h, w = image.shape
    rows, cols = clamp(y, y + h, H), clamp(x, x + w, W)
    source = image[rows.start - y : rows.stop - y, cols.start - x : cols.stop - x]
    if source.size:
        target = expected[rows, cols]
        expected[rows, cols] = np.where(source == key, target, source)
    return expected


@given(x=coordinate, y=coordinate, image=images(), key=st.integers(-1, 5))
@example(x=LO, y=LO, image=np.ones((4, 4), np.uint8), key=-1)
@example(x=HI, y=HI, image=np.ones((4, 4), np.uint8), key=-1)
@example(x=-2, y=-3, image=np.arange(40, dtype=np.uint8).reshape(5, 8), key=-1)  # top-left
@example(x=W - 3, y=H - 2, image=np.arange(40, dtype=np.uint8).reshape(5, 8), key=0)
@example(x=-3, y=H - 2, image=np.arange(40, dtype=np.uint8).reshape(5, 8)[::-1, ::-2], key=6)
@example(x=W - 3, y=-1, image=np.arange(40, dtype=np.uint8).reshape(5, 8).T, key=9)
def test_blit_is_the_numpy_slice(x, y, image, key):
    pixels, result = drawn(Framebuffer.blit, x, y, image, key)
    assert result is None
    np.testing.assert_array_equal(pixels, blit_reference(x, y, image, key))


def test_blit_takes_any_buffer_and_a_key_by_keyword():
    image = np.arange(12, dtype=np.uint8).reshape(3, 4)
    expected = blit_reference(2, 1, image, -1)
    for source in (image, memoryview(image), memoryview(image.tobytes()).cast("B", (3, 4))):
        np.testing.assert_array_equal(drawn(Framebuffer.blit, 2, 1, source)[0], expected)
    broadcast = np.broadcast_to(np.uint8(9), (3, 4))  # read-only, strides of 0
    np.testing.assert_array_equal(
        drawn(Framebuffer.blit, 2, 1, broadcast)[0], blit_reference(2, 1, broadcast, -1)
    )
    np.testing.assert_array_equal(
        drawn(Framebuffer.blit, 2, 1, image, key=5)[0], blit_reference(2, 1, image, 5)
    )


def test_blit_reads_buffers_that_give_less_than_asked():
    # ctypes gives no strides (its arrays are C-contiguous), which both paths once followed to a
    # crash; a broadcast source may be far larger than the picture in every dimension.
    printed = in_child(f"""
        import ctypes, numpy as np
        from jxframebuf import FONT_4X6, FONT_8X8, Canvas, Font, Framebuffer, text_size
        fb = Framebuffer({W}, {H}, scale=1, fps=0)
        rows = ((ctypes.c_ubyte * 4) * 3)(*[(ctypes.c_ubyte * 4)(*range(4 * r + 1, 4 * r + 5))
                                            for r in range(3)])
        fb.blit(2, 1, rows)  # plain ints: the fast path
        fb.blit(True, 9, rows, np.int64(5))  # the general path
        fb.blit(-2, 14, (ctypes.c_uint8 * 4 * 3).from_buffer(rows), key=1)
        fb.blit(20, 15, np.broadcast_to(np.uint8(9), (2**31, 2**31)))
        print(fb.buffer().tobytes().hex())
    """)
    pixels = np.frombuffer(bytes.fromhex(printed), np.uint8).reshape(H, W)
    source = np.arange(1, 13, dtype=np.uint8).reshape(3, 4)
    expected = np.zeros((H, W), np.uint8)
    expected[1:4, 2:6] = source
    expected[9:12, 1:5] = np.where(source == 5, 0, source)
    expected[14:17, 0:2] = np.where(source[:, 2:] == 1, 0, source[:, 2:])
    expected[15:, 20:] = 9
    np.testing.assert_array_equal(pixels, expected)


@pytest.mark.parametrize(
    "source",
    [
        lambda p: p,  # the whole picture onto itself
        lambda p: p[2:9, 1:12],  # a part of it, overlapping where it lands
        lambda p: p[::-1, ::-1],
        lambda p: p[::2, 3:].T,
        lambda p: p[4:, :],
    ],
)
@pytest.mark.parametrize("at", [(5, 3), (-4, -2), (0, 0), (1, 0)])
def test_blit_from_the_picture_itself_copies_an_unchanged_snapshot(source, at):
    fb = picture()
    targets = [("framebuffer", fb, fb.buffer()), *((n, c, c.array) for n, c in canvases())]
    for layout, target, pixels in targets:
        snapshot = source(pixels).copy()
        expected = pixels.copy()
        target.blit(*at, source(pixels), 3)
        # What copying from the snapshot gives, laid over the picture as it was.
        expected_fb = picture()
        expected_fb.blit(*at, snapshot, 3)
        np.testing.assert_array_equal(pixels, expected_fb.buffer(), err_msg=layout)
        assert not np.array_equal(pixels, expected) or at == (0, 0)
        expected_fb.quit()
    fb.quit()


@pytest.mark.parametrize(
    "image, error, text",
    [
        (np.zeros((2, 3, 4), np.uint8), ValueError, "2-D array of uint8.*got 3 dimensions"),
        (np.zeros(5, np.uint8), ValueError, "got 1 dimension$"),
        (b"abc", ValueError, "got 1 dimension$"),
        (np.zeros((2, 2), np.float64), TypeError, "uint8.*got format 'd' with 8-byte items"),
        (np.zeros((2, 2), np.int64), TypeError, r"got format '\w' with 8-byte items: use \.astype\(np\.uint8\)$"),
        (np.zeros((2, 2), np.uint16), TypeError, "got format 'H' with 2-byte items"),
        (np.zeros((2, 2), bool), TypeError, "got format '\\?'"),
        (((ctypes.c_char * 2) * 2)(), TypeError, "got format '<c'"),
        (np.uint8(3), ValueError, "got 0 dimensions$"),
        (indirect_rows([[1, 2], [3, 4]]), TypeError, "got a buffer without a shape, or with indirect rows$"),
        ([[1, 2], [3, 4]], TypeError, r"argument image must be a 2-D array of uint8 \(or another buffer\), not list: np\.array\(rows, np\.uint8\)"),
        (None, TypeError, "argument image must be a 2-D array of uint8 .*, not NoneType$"),
    ],
)  # fmt: skip
def test_blit_and_canvas_refuse_what_is_not_a_2d_uint8_image(image, error, text):
    fb = picture()
    with pytest.raises(error, match=text):
        fb.blit(1, 1, image)
    np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
    fb.quit()
    for _, canvas in canvases():
        with pytest.raises(error, match=text):
            canvas.blit(1, 1, image)
        np.testing.assert_array_equal(canvas.array, BACKGROUND)
    # The same refusal, as Canvas() words it.
    with pytest.raises(error, match=text.replace("image", "array")):
        Canvas(image)


def test_a_canvas_draws_on_the_array_it_keeps_and_refuses_read_only_ones():
    fb = picture()
    canvas = Canvas(fb.buffer())  # draws on the framebuffer's picture, and keeps it alive
    canvas.rect(2, 3, 4, 5, 9)
    np.testing.assert_array_equal(fb.buffer(), rect_reference(2, 3, 4, 5, 9, True))
    sprite = Canvas(np.zeros((4, 6), np.uint8))
    sprite.circle(2, 2, 1, 7)
    fb.blit(1, 1, sprite.array, key=0)  # a canvas is blitted through its array
    assert fb.pget(3, 3) == 7 and fb.pget(5, 6) == 9
    rows = ((ctypes.c_ubyte * 4) * 3)()  # another exporter: seen through a NumPy array
    written = Canvas(rows)
    written.line(0, 0, 3, 2, 5)
    assert isinstance(written.array, np.ndarray) and rows[2][3] == 5 and written.array[2, 3] == 5
    for read_only in (
        np.broadcast_to(np.uint8(1), (3, 3)),
        memoryview(bytes(6)).cast("B", (2, 3)),
        np.frombuffer(bytes(6), np.uint8).reshape(2, 3),
    ):
        with pytest.raises(ValueError, match=r"writable 2-D array of uint8.*got a read-only one$"):
            Canvas(read_only)
    fb.quit()
    # A source whose last byte is the canvas's first is copied before that byte is drawn over.
    memory = np.arange(20, dtype=np.uint8)
    Canvas(memory[9:19].reshape(1, 10)).blit(0, 0, memory[:10].reshape(1, 10), key=255)
    np.testing.assert_array_equal(memory[9:19], np.arange(10))
    # The array's memory stays where the canvas draws: NumPy refuses to resize it, even unchecked,
    # and memory given to it all the same (__setstate__) is refused to draw on, fast path or not.
    owned = np.zeros((200, 200), np.uint8)
    canvas = Canvas(owned)
    with pytest.raises(ValueError, match="cannot resize"):
        owned.resize((800, 800), refcheck=False)
    canvas.clear(7)
    owned.__setstate__(np.zeros((1, 1), np.uint8).__reduce__()[2])
    for call in (lambda: canvas.clear(3), lambda: canvas.pset(0, 0, 1), lambda: canvas.pget(0, 0),
                 lambda: canvas.rect(0, 0, 9, 9, 1), lambda: canvas.text(0, 0, "a", 1)):  # fmt: skip
        with pytest.raises(ValueError, match=r"^the canvas's array was resized or given other "):
            call()
    assert owned[0, 0] == 0


# --- Text ---------------------------------------------------------------------------------------

PRINTABLE = [chr(c) for c in range(32, 127)]
FONT_SHA256 = "a724fbb8ed5dae4c402ed5634cd7f601f5bd091ff69912128ce0045ef814430f"
FONT_4X6_SHA256 = "7727000d5733be6f650e5a1d291ea5420ce71ad32bd692852fa0a16afc55ab30"


@functools.cache
def glyph(char):
    """The 8x8 cell that `char` draws, found by drawing it alone into the top-left corner."""
    fb = Framebuffer(8, 8, scale=1, fps=0)
    assert fb.text(0, 0, char, 1) == 8
    cell = fb.buffer() == 1
    fb.quit()
    return cell


def test_every_printable_character_has_its_own_glyph_and_only_space_is_empty():
    cells = {char: glyph(char).tobytes() for char in PRINTABLE}
    assert len(set(cells.values())) == 95
    # Every pixel of the font as it was drawn and checked by eye: a stray one changes this.
    font = b"".join(cells.values()) + glyph("\x00").tobytes()
    assert hashlib.sha256(font).hexdigest() == FONT_SHA256
    assert [char for char, cell in cells.items() if not any(cell)] == [" "]
    placeholder = glyph("\x00").tobytes()
    assert placeholder not in cells.values() and any(placeholder)
    # FONT_8X8 is that font, drawn by the same way; FONT_4X6 is a font of its own design.
    assert (FONT_8X8.height, FONT_8X8.line_height, FONT_4X6.height, FONT_4X6.line_height) == (
        8, 9, 6, 7)  # fmt: skip
    line = "".join(PRINTABLE) + "\x00"
    assert same(drawn(Framebuffer.text, -3, 2, line, 7, FONT_8X8), drawn(
        Framebuffer.text, -3, 2, line, 7))  # fmt: skip
    small = np.zeros((6, 4 * 96), np.uint8)
    assert Canvas(small).text(0, 0, line, 1, FONT_4X6) == 4 * 96
    cells = [small[:, 4 * i : 4 * i + 4].tobytes() for i in range(96)]
    assert len(set(cells)) == 96 and not small[:, :4].any() and not small[:, 3::4].any()
    assert hashlib.sha256(small.tobytes()).hexdigest() == FONT_4X6_SHA256


@pytest.mark.parametrize(
    "char", ["\x00", "\t", "\r", "\x7f", "\x80", "é", "ÿ", "Ā", "中", "\uffff", "😀", "\U0010ffff"]
)
def test_other_characters_draw_one_placeholder_each(char):
    np.testing.assert_array_equal(glyph(char), glyph("\x01"))
    # One cell per code point, whatever width the string stores its characters in.
    assert drawn(Framebuffer.text, 0, 0, f"A{char}{char}B", 5)[1] == 32


def text_reference(x, y, s, c):
    expected = BACKGROUND.copy()
    widest = 0
    for row, line in enumerate(s.split("\n")):
        widest = max(widest, 8 * len(line))
        for column, char in enumerate(line):
            gx, gy = x + 8 * column, y + 9 * row  # a blank row between lines
            rows, cols = clamp(gy, gy + 8, H), clamp(gx, gx + 8, W)
            cell = glyph(char if char in PRINTABLE else "\x01")[rows.start - gy : rows.stop - gy,
                                                    cols.start - gx : cols.stop - gx]  # fmt: skip
            expected[rows, cols][cell] = c
    return expected, widest


strings = st.text(
    alphabet=st.one_of(st.sampled_from(PRINTABLE), st.just("\n"), st.characters()), max_size=12
)


@given(x=coordinate, y=coordinate, s=strings, c=colour)
@example(x=-3, y=-5, s="Hello\nworld", c=1)  # across the top-left corner
@example(x=W - 12, y=H - 4, s="Hi\nthere", c=1)  # across the bottom-right corner
@example(x=LO, y=HI, s="x\ny", c=1)
@example(x=HI, y=LO, s="\n\n", c=1)
@example(x=0, y=0, s="", c=1)
@example(x=2, y=1, s="ab\nlonger line\nc", c=1)
def test_text_is_its_glyphs_placed_cell_by_cell(x, y, s, c):
    pixels, width = drawn(Framebuffer.text, x, y, s, c)
    expected, widest = text_reference(x, y, s, c)
    assert width == widest
    np.testing.assert_array_equal(pixels, expected)
    assert text_size(s) == (widest, 9 * s.count("\n") + 8)


# --- Fonts --------------------------------------------------------------------------------------

# A small BDF font: proportional advances, a glyph reaching below the baseline and left of the pen,
# a code point beyond ASCII ("é"), one without a standard code point (ENCODING -1), and "A" twice.
BDF = """\
STARTFONT 2.1
COMMENT written by the test
FONT -test-small-medium-r-normal--6-60-75-75-p-40-ISO10646-1
SIZE 6 75 75
FONTBOUNDINGBOX 5 6 -1 -2
STARTPROPERTIES 4
FONT_ASCENT 4
FONT_DESCENT 2
CHARSET_REGISTRY "ISO10646"
CHARSET_ENCODING "1"
ENDPROPERTIES
CHARS 5
STARTCHAR A
ENCODING 65
SWIDTH 500 0
DWIDTH 4 0
BBX 3 4 0 0
BITMAP
40
A0
E0
A0
ENDCHAR
STARTCHAR i
ENCODING 105
DWIDTH 2 0
BBX 1 3 0 0
BITMAP
80
00
80
ENDCHAR
STARTCHAR j
ENCODING 106
DWIDTH 2 0
BBX 2 4 -1 -2
BITMAP
40
40
40
80
ENDCHAR
STARTCHAR eacute
ENCODING 233
DWIDTH 5 0
BBX 4 2 0 0
BITMAP
9F
60
ENDCHAR
STARTCHAR unnamed
ENCODING -1
DWIDTH 9 0
BBX 1 1 0 0
BITMAP
80
ENDCHAR
STARTCHAR A2
ENCODING 65
DWIDTH 9 0
BBX 1 1 0 0
BITMAP
80
ENDCHAR
ENDFONT
"""
# What "Aij\xe9?A" draws at (1, 0) with it: "?" is missing and there is no DEFAULT_CHAR, so it
# advances by the bounding box's width, 5. The pen: A 1, i 5, j 7 (its bitmap at 6), é 9, ? 14,
# A 19.
BDF_PICTURE = """\
..#.................#...
.#.#.#.............#.#..
.###...#.#..#......###..
.#.#.#.#..##.......#.#..
.......#................
......#.................
"""


def test_font_reads_bdf_files_and_refuses_malformed_ones(tmp_path):
    path = tmp_path / "small.bdf"
    path.write_text(BDF)
    font = Font(path)
    assert (font.height, font.line_height) == (6, 6) and Font(str(path)).height == 6
    a = np.zeros((6, 24), np.uint8)
    assert Canvas(a).text(1, 0, "Aij\xe9?A", 1, font=font) == 22
    assert "\n".join("".join(".#"[v] for v in row) for row in a) + "\n" == BDF_PICTURE
    assert text_size("Aij\xe9?A\nA", font, 2) == (44, 24)
    assert same(drawn(Framebuffer.text, 3, 4, "Aij\xe9?A\nj", 5, font), drawn(
        Framebuffer.text, 3, 4, "Aij\xe9?A\nj", 5, font=font, scale=1))  # fmt: skip
    # DEFAULT_CHAR: the glyph drawn for any missing character.
    path.write_text(BDF.replace("ENDPROPERTIES", "DEFAULT_CHAR 65\nENDPROPERTIES"))
    assert text_size("?\u4e2d", Font(path)) == (8, 6)
    b = np.zeros((6, 8), np.uint8)
    Canvas(b).text(0, 0, "\u4e2d", 1, Font(path))
    np.testing.assert_array_equal(b, a[:, 1:9] * [[1, 1, 1, 1, 0, 0, 0, 0]])
    # Latin-1 fonts map the same; an unnamed or missing registry is taken as Unicode too.
    for charset in ('"ISO8859"\nCHARSET_ENCODING "1"', '"iso8859-1"'):
        path.write_text(BDF.replace('"ISO10646"', charset))
        assert text_size("\xe9", Font(path)) == (5, 6)
    malformed = {
        "FONTBOUNDINGBOX 5 6 -1 -2": ("FONTBOUNDINGBOX 5 6 -1", 5, "expects 4 values"),
        "DWIDTH 2 0\nBBX 1 3": ("DWIDTH 2 0\nBBX 1 x", 27, "expects integers, not 'x'"),
        "A0\nE0": ("A0\nEG", 21, "'EG' is not hexadecimal"),
        "ENCODING 233": ("ENCODING 1114112", 44, "beyond"),
        "60\nENDCHAR": ("60\n00\nENDCHAR", 50, "more than its 2 rows"),
        "ENDCHAR\nENDFONT": ("ENDCHAR\n", 65, "ends before ENDFONT"),
        '"ISO10646"': ('"JISX0208.1983"', 9, "charset JISX0208.1983-1 is not Unicode"),
        "STARTFONT 2.1": ("STARTFNT 2.1", 1, "not a BDF font"),
        "BBX 1 3 0 0": ("BBX 1 5000 0 0", 27, "5000 is out of range"),
    }
    for old, (new, line, message) in malformed.items():
        path.write_text(BDF.replace(old, new, 1))
        with pytest.raises(ValueError, match=rf"^{path}: line {line}: .*{message}"):
            Font(path)
    for cut in range(len(BDF) - 1):  # every truncated file is refused, none read past its end
        path.write_text(BDF[:cut])
        with pytest.raises(ValueError, match=r"line \d+: "):
            Font(path)
    with pytest.raises(FileNotFoundError):
        Font(tmp_path / "missing.bdf")
    with pytest.raises(TypeError, match=r"^Font\(\) argument path must be a str or path object"):
        Font(3)
    with pytest.raises(AttributeError):
        font.height = 3
    with pytest.raises(TypeError):
        type("Bigger", (Font,), {})


def test_font_from_image_is_the_font_drawn_into_the_array():
    # The 4x6 font's printable ASCII drawn into a sheet of 16 x 6 cells, and cut out again.
    sheet = np.zeros((42, 64), np.uint8)
    chars = "".join(PRINTABLE) + "\x7f"
    Canvas(sheet).text(0, 0, "\n".join(chars[i : i + 16] for i in range(0, 96, 16)), 3, FONT_4X6)
    sheet = np.concatenate([sheet[7 * r : 7 * r + 6] for r in range(6)])  # no blank rows
    font = Font.from_image(np.asfortranarray(sheet), (4, 6))  # any strides
    assert (font.height, font.line_height) == (6, 6)
    line = "".join(PRINTABLE)
    assert same(drawn(Framebuffer.text, -2, 5, line, 9, font), drawn(
        Framebuffer.text, -2, 5, line, 9, FONT_4X6))  # fmt: skip
    # Cell k is code point first + k; one past the sheet is missing, and advances by the cell.
    shifted = Font.from_image(sheet, (4, 6), first=0x100)
    pixels, width = drawn(Framebuffer.text, 0, 0, "\u0121\u0122\u0160", 9, shifted)
    np.testing.assert_array_equal(pixels, drawn(Framebuffer.text, 0, 0, "AB", 9, FONT_4X6)[0])
    assert width == 12 and text_size("\u0160", shifted) == (4, 6)
    for array, size, first, error, message in [
        (sheet, (5, 6), 32, ValueError, "multiples of the cell's 5 x 6; got 64 x 36"),
        (sheet, (4, 0), 32, TypeError, "argument size must be a cell height 1 to 4096, not 0"),
        (sheet, 4, 32, TypeError, "argument size must be a pair"),
        (sheet, (4, 6), 0x10FFFF, ValueError, "96 cells from code point 1114111"),
        (sheet, (4, 6), -1, TypeError, "argument first must be a code point"),
        (sheet[0], (4, 6), 32, ValueError, "2-D array of uint8; got 1 dimension$"),
        (sheet.astype(np.int16), (4, 6), 32, TypeError, "got format 'h' with 2-byte items"),
    ]:
        with pytest.raises(error, match=rf"^Font.from_image\(\).*{message}"):
            Font.from_image(array, size, first)


def test_scaled_text_is_the_text_magnified(tmp_path):
    path = tmp_path / "small.bdf"
    path.write_text(BDF)
    s = "Hi, gj\xe9!\nAij \u4e2d"
    for font in (None, FONT_4X6, Font(path)):
        one = np.zeros((24, 80), np.uint8)
        width = Canvas(one).text(2, 1, s, 5, font)
        for scale in (2, 3):
            big = np.kron(one, np.ones((scale, scale), np.uint8))
            mine = np.zeros_like(big)
            assert Canvas(mine).text(2 * scale, scale, s, 5, font, scale) == width * scale
            np.testing.assert_array_equal(mine, big)
            assert text_size(s, font, scale) == tuple(scale * v for v in text_size(s, font))
            # Clipped at every edge, on the framebuffer and canvases of every layout alike.
            x, y = -4 * scale - 1, -2 * scale + 1
            expected = BACKGROUND.copy()
            left, top = x - 2 * scale, y - scale
            part = big[max(0, -top) : max(0, -top) + H, max(0, -left) : max(0, -left) + W]
            region = expected[max(0, top) :, max(0, left) :][: part.shape[0], : part.shape[1]]
            region[part[: region.shape[0], : region.shape[1]] != 0] = 5
            pixels, _ = drawn(Framebuffer.text, x, y, s, 5, font=font, scale=scale)
            np.testing.assert_array_equal(pixels, expected)
    fb = picture()
    for bad, message in [
        (dict(scale=0), "argument scale must be a scale 1 to 65536, not 0"),
        (dict(scale=2.0), "argument scale must be a scale 1 to 65536, not float"),
        (dict(font=3), "argument font must be a Font or None, not int"),
        (dict(font=Font), "argument font must be a Font or None, not"),
    ]:
        with pytest.raises(TypeError, match=rf"^text\(\) {message}"):
            fb.text(0, 0, "A", 1, **bad)
        with pytest.raises(TypeError, match=rf"^text_size\(\) {message}"):
            text_size("A", **bad)
    np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
    fb.quit()


# --- Transformed blits, tiles, sprites ----------------------------------------------------------


def llround(v):
    return math.floor(v + 0.5) if v >= 0 else -math.floor(-v + 0.5)


def transformed_reference(x, y, image, key=-1, flip_x=False, flip_y=False, rotate=0, scale=1,
                          remap=None):  # fmt: skip
    """The stub's nearest-neighbour rule, in NumPy over the whole picture."""
    expected = BACKGROUND.copy()
    image = image[:: -1 if flip_y else 1, :: -1 if flip_x else 1]
    h, w = image.shape
    if not (w and h) or scale < 2**-16:
        return expected
    turn = math.fmod(rotate, 360) + (360 if rotate < 0 else 0)
    turn = 0 if turn >= 360 else turn
    if turn % 90 == 0:
        cos, sin = [(1, 0), (0, 1), (-1, 0), (0, -1)][int(turn // 90)]
    else:
        cos, sin = math.cos(math.radians(turn)), math.sin(math.radians(turn))
    a, b = llround(65536 * cos / scale), llround(65536 * sin / scale)
    py, px = np.mgrid[0:H, 0:W].astype(object)
    dx, dy = 2 * px + 1 - 2 * x - w, 2 * py + 1 - 2 * y - h
    sx, sy = dx * a + dy * b + (w << 16), dy * a - dx * b + (h << 16)
    inside = ((sx >= 0) & (sx < 2 * w << 16) & (sy >= 0) & (sy < 2 * h << 16)).astype(bool)
    cols, rows = (sx[inside] >> 17).astype(int), (sy[inside] >> 17).astype(int)
    values = image[rows, cols]
    drawn_values = values if remap is None else remap[values]
    expected[inside] = np.where(values == key, expected[inside], drawn_values)
    return expected


REMAP = ((np.arange(256) * 7 + 3) % 256).astype(np.uint8)


@given(
    x=near, y=near, image=images(), key=st.integers(-1, 5), flip_x=st.booleans(),
    flip_y=st.booleans(),
    rotate=st.one_of(st.sampled_from([0, 90, 180, 270, -90, 450, 45, 30.5]), st.floats(-720, 720)),
    scale=st.one_of(st.just(1), st.sampled_from([0.5, 2, 3, 1.5]), st.floats(0.1, 4)),
    remap=st.booleans(),
)  # fmt: skip
@example(
    x=5,
    y=4,
    image=np.arange(6, dtype=np.uint8).reshape(2, 3) + 1,
    key=-1,
    flip_x=False,
    flip_y=False,
    rotate=90,
    scale=1,
    remap=False,
)  # 3x2 turned: centres on pixel edges
@example(x=-3, y=2, image=np.arange(30, dtype=np.uint8).reshape(5, 6), key=4, flip_x=True,
         flip_y=True, rotate=0, scale=1, remap=True)  # fmt: skip
def test_blit_flips_turns_scales_and_remaps_by_the_nearest_neighbour_rule(
    x, y, image, key, flip_x, flip_y, rotate, scale, remap
):
    table = REMAP if remap else None
    pixels, _ = drawn(Framebuffer.blit, x, y, image, key, flip_x=flip_x, flip_y=flip_y,
                      rotate=rotate, scale=scale, remap=table)  # fmt: skip
    expected = transformed_reference(x, y, image, key, flip_x, flip_y, rotate, scale, table)
    np.testing.assert_array_equal(pixels, expected)


def test_blit_with_the_default_transform_is_todays_blit_and_refuses_bad_transforms():
    image = np.arange(20, dtype=np.uint8).reshape(4, 5)
    plain = drawn(Framebuffer.blit, 3, 2, image, 7)
    assert same(plain, drawn(Framebuffer.blit, 3, 2, image, 7, rotate=360, scale=1.0))
    assert same(plain, drawn(Framebuffer.blit, 3, 2, image, 7, flip_x=np.False_, flip_y=0))
    fb = picture()
    try:
        for kwargs, error, text in [
            (dict(scale=0), ValueError, "scale must be a positive finite number"),
            (dict(scale=math.inf), ValueError, "scale must be"),
            (dict(rotate=math.nan), ValueError, "rotate must be a finite number"),
            (dict(flip_x=2), TypeError, "flip_x"),
            (dict(remap=np.zeros(255, np.uint8)), ValueError, "remap must hold 256"),
            (dict(remap=np.zeros(256, np.int64)), TypeError, "remap must be a uint8 array"),
        ]:
            with pytest.raises(error, match=text):
                fb.blit(1, 1, image, **kwargs)
        np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
    finally:
        fb.quit()


def test_blit_draws_alike_whether_its_arguments_are_plain_or_not():
    # Plain ints, floats, True/False and contiguous uint8 NumPy arrays are taken by blit's fast
    # front; anything else (NumPy scalars, a strided table, another buffer) by the bound member.
    image = np.arange(30, dtype=np.uint8).reshape(5, 6) % 7
    strided = np.repeat(REMAP, 2)[::2]
    for (args, plain), (other_args, other) in [
        (((3, 2, image, 4), dict(flip_x=True)), ((3, 2, image), dict(key=np.int64(4), flip_x=1))),
        (((3, 2, image), dict(rotate=30, scale=2)), ((3, 2, image), dict(rotate=np.float64(30), scale=np.int64(2)))),
        (((-2, 4, image), dict(key=0, rotate=-90.0, scale=1.5, remap=REMAP)), ((-2, 4, memoryview(image), np.uint8(0)), dict(rotate=-90, scale=1.5, remap=strided))),
        (((5, 1, image.T[::-1]), dict(flip_y=True, remap=None, scale=0.75)), ((5, 1, image.T[::-1]), dict(flip_y=np.True_, scale=np.float32(0.75)))),
    ]:  # fmt: skip
        expected = drawn(Framebuffer.blit, *other_args, **other)
        assert same(drawn(Framebuffer.blit, *args, **plain), expected), plain
    # A table that is part of the picture it draws on is read alike by both.
    pictures = []
    for key in (3, np.int64(3)):
        array = np.tile(REMAP, (6, 1))
        Canvas(array).blit(1, 1, image, key, remap=array[2])
        pictures.append(array)
    np.testing.assert_array_equal(*pictures)
    fb = picture()
    with pytest.raises(TypeError, match="incompatible function arguments"):
        fb.blit(1, 2, image, 4, key=4)
    fb.quit()


SHEET = (np.arange(8 * 12).reshape(8, 12) % 7).astype(np.uint8)  # 3 x 2 cells of 4 x 4


def cells_reference(places, key, remap):
    """Cell n of SHEET (4 x 4 cells, numbered row by row) at each (x, y, n) in turn."""
    expected = BACKGROUND.copy()
    for x, y, n in places:
        if n < 0:
            continue
        raw = SHEET[n // 3 * 4 : n // 3 * 4 + 4, n % 3 * 4 : n % 3 * 4 + 4]
        rows, cols = clamp(y, y + 4, H), clamp(x, x + 4, W)
        src = raw[rows.start - y : rows.stop - y, cols.start - x : cols.stop - x]
        if src.size:
            shown = src if remap is None else remap[src]
            expected[rows, cols] = np.where(src == key, expected[rows, cols], shown)
    return expected


@given(
    places=st.lists(st.tuples(near, near, st.integers(-1, 5)), max_size=12),
    key=st.integers(-1, 6),
    remap=st.booleans(),
    dtype=st.sampled_from([np.int8, np.uint16, np.int32, np.int64, np.uint64]),
)
def test_sprites_and_tiles_draw_their_cells_in_order(places, key, remap, dtype):
    table = REMAP if remap else None
    xs, ys, cells = (np.array([p[i] for p in places], np.int64) for i in range(3))
    pixels, result = drawn(Framebuffer.sprites, xs, ys, cells.astype(np.int8), SHEET, (4, 4),
                           key, table)  # fmt: skip
    assert result is None
    np.testing.assert_array_equal(pixels, cells_reference(places, key, table))
    # A tilemap is the same cells at the places its grid gives.
    tilemap = np.array([p[2] for p in places] + [0] * (-len(places) % 3)).reshape(-1, 3)
    if dtype in (np.uint16, np.uint64):
        tilemap = np.abs(tilemap)
    x, y = places[0][:2] if places else (0, 0)
    grid = [(x + c * 4, y + r * 4, int(n)) for (r, c), n in np.ndenumerate(tilemap)]
    pixels, _ = drawn(Framebuffer.tiles, x, y, tilemap.astype(dtype), SHEET, (4, 4), key, table)
    np.testing.assert_array_equal(pixels, cells_reference(grid, key, table))


def test_sprites_and_tiles_refuse_bad_sheets_numbers_and_lengths():
    fb = picture()
    try:
        for call, error, text in [
            (lambda: fb.tiles(0, 0, [[0, 6]], SHEET, (4, 4)), ValueError,
             r"tilemap holds 6 at \[0, 1\], beyond the sheet's 6 cells"),
            (lambda: fb.sprites([0], [0], [7], SHEET, (4, 4)), ValueError, r"holds 7 at \[0\]"),
            (lambda: fb.tiles(0, 0, [[0]], SHEET, (5, 4)), ValueError, "cannot be cut into"),
            (lambda: fb.sprites([0, 1], [0], [0, 0], SHEET, (4, 4)), ValueError, "of one length"),
            (lambda: fb.sprites([0.5], [0], [0], SHEET, (4, 4)), TypeError, "array of integers"),
            (lambda: fb.sprites([2**31], [0], [0], SHEET, (4, 4)), ValueError, "32-bit range"),
            (lambda: fb.tiles(0, 0, [0], SHEET, (4, 4)), ValueError, "2 dimensions"),
        ]:  # fmt: skip
            with pytest.raises(error, match=text):
                call()
        np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
    finally:
        fb.quit()


# --- Ellipses, triangles, polygons, flood fill ----------------------------------------------------


def outline_of(inside):
    """The pixels of a set (over the picture and a border a pixel wide) with one of their four
    neighbours outside it."""
    interior = np.zeros_like(inside)
    interior[1:-1, 1:-1] = (
        inside[:-2, 1:-1] & inside[2:, 1:-1] & inside[1:-1, :-2] & inside[1:-1, 2:]
    )
    return inside & ~interior


def shape_reference(inside, c, fill):
    expected = BACKGROUND.copy()
    expected[(inside if fill else outline_of(inside))[1:-1, 1:-1]] = c
    return expected


def ellipse_set(x, y, w, h):
    if w < 1 or h < 1:
        return np.zeros((H + 2, W + 2), bool)
    dx = 2 * np.arange(-1, W + 1, dtype=object) + 1 - 2 * x - w
    dy = 2 * np.arange(-1, H + 1, dtype=object) + 1 - 2 * y - h
    return (dx[None, :] ** 2 * h * h + dy[:, None] ** 2 * w * w <= w * w * h * h).astype(bool)


@given(x=coordinate, y=coordinate, w=size, h=size, c=colour, fill=st.booleans())
@example(x=-3, y=2, w=9, h=9, c=5, fill=False)
@example(x=LO, y=LO, w=HI, h=HI, c=5, fill=True)
def test_ellipse_is_the_integer_definition_and_odd_circles_are_circles(x, y, w, h, c, fill):
    pixels, _ = drawn(Framebuffer.ellipse, x, y, w, h, c, fill=fill)
    np.testing.assert_array_equal(pixels, shape_reference(ellipse_set(x, y, w, h), c, fill))
    if w == h and w % 2 == 1 and abs(x) < 2**20 and abs(y) < 2**20:
        r = (w - 1) // 2
        circle, _ = drawn(Framebuffer.circle, x + r, y + r, r, c, fill=fill)
        np.testing.assert_array_equal(pixels, circle)


def polygon_set(points):
    """Pixel centres inside (even-odd) or on the polygon, and the edges' line pixels, over the
    picture and a border; all in doubled integer coordinates."""
    inside = np.zeros((H + 2, W + 2), bool)
    if not points:
        return inside
    n = len(points)
    for py in range(-1, H + 1):
        for px in range(-1, W + 1):
            cx, cy = 2 * px + 1, 2 * py + 1
            odd = on = False
            for i in range(n):
                (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
                ax, ay, bx, by = 2 * ax, 2 * ay, 2 * bx, 2 * by
                cross = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax)
                if (
                    cross == 0
                    and min(ax, bx) <= cx <= max(ax, bx)
                    and min(ay, by) <= cy <= max(ay, by)
                ):
                    on = True
                # The edge spans the centre's row and crosses it right of the centre.
                if (ay > cy) != (by > cy) and (cross > 0) == (by > ay):
                    odd = not odd
            inside[py + 1, px + 1] = odd or on
    for i in range(n):
        (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
        for px, py in bresenham_visible_border(ax, ay, bx, by):
            inside[py + 1, px + 1] = True
    return inside


def bresenham_visible_border(x0, y0, x1, y1):
    """bresenham()'s pixels over the picture and a one-pixel border."""
    return [(x, y) for x, y in bresenham(x0, y0, x1, y1) if -1 <= x <= W and -1 <= y <= H]


small = st.integers(-6, max(W, H) + 6)


@given(
    points=st.lists(st.tuples(small, small), min_size=1, max_size=7),
    c=colour,
    fill=st.booleans(),
)
@example(points=[(2, 2), (15, 3), (6, 12)], c=3, fill=True)
@example(points=[(3, 3), (3, 3), (3, 3)], c=3, fill=False)  # degenerate: a pixel
@example(points=[(1, 1), (20, 1), (1, 14), (20, 14)], c=3, fill=True)  # a bow tie
# Shapes 64 columns wide and one more (drawn two ways).
@example(points=[(-40, 3), (23, 16), (10, -5)], c=3, fill=False)
@example(points=[(-41, 3), (23, 16), (10, -5)], c=3, fill=False)
@example(points=[(-41, 3), (23, 16), (10, -5), (2, 20)], c=3, fill=True)
# Narrow and far taller than the picture, outlined and filled.
@example(points=[(3, -3000), (9, 2999), (40, 7)], c=3, fill=False)
@example(points=[(3, -3000), (9, 2999), (40, 7)], c=3, fill=True)
@example(points=[(2, -40000), (20, 40000), (5, 3)], c=3, fill=False)  # past fixed point's sizes
# An edge nearly 2^15 pixels long crossing the picture where its step's column needs every bit
# of the fraction the walk takes it from.
@example(points=[(-24561, -24565), (8201, 8199), (20, 2)], c=3, fill=True)
def test_triangles_and_polygons_are_their_centres_and_edges(points, c, fill):
    expected = shape_reference(polygon_set(points), c, fill)
    pixels, _ = drawn(Framebuffer.polygon, np.array(points), c, fill=fill)
    np.testing.assert_array_equal(pixels, expected)
    assert same((pixels, None), drawn(Framebuffer.polygon, [list(p) for p in points], c, fill))
    if len(points) == 3:
        flat = [v for p in points for v in p]
        pixels, _ = drawn(Framebuffer.triangle, *flat, c, fill=fill)
        np.testing.assert_array_equal(pixels, expected)


def test_random_triangles_are_their_centres_and_edges():
    """Many more triangles than the grouped test above draws: an edge's arithmetic off by one
    moves a row's end in about one triangle in six, too seldom for that test's few to show."""
    rng = np.random.default_rng(11)
    for i in range(240):
        points = rng.integers(-6, 30, (3, 2)).tolist()
        pixels, _ = drawn(Framebuffer.triangle, *np.ravel(points).tolist(), 3, fill=i % 3 > 0)
        expected = shape_reference(polygon_set(points), 3, i % 3 > 0)
        np.testing.assert_array_equal(pixels, expected, err_msg=f"{points}, {i}")


def test_narrow_shapes_on_a_wide_picture_draw_as_on_a_strided_one():
    """Shapes less than 65 columns wide are written through a window of 64 columns on a packed
    picture at least that wide (a row at once where the processor stores under a mask, else 8
    pixels at a time), moved inside it at either side; filled triangles too where rows are written
    whole. A strided picture (checked against the reference above) takes other ways. Both draw
    alike."""
    rng = np.random.default_rng(5)
    packed, spaced = np.zeros((40, 100), np.uint8), np.zeros((40, 200), np.uint8)
    canvases = Canvas(packed), Canvas(spaced[:, ::2])
    for i in range(400):
        points = rng.integers([-30, -10], [130, 50]) + rng.integers(-31, 32, (3 + i % 2 * 3, 2))
        for canvas in canvases:
            canvas.clear(0)
            canvas.polygon(points, 1 + i % 15, i % 4 < 2)
        np.testing.assert_array_equal(packed, spaced[:, ::2], err_msg=f"{points.tolist()}, {i}")


def test_polygon_points_in_every_form_draw_alike_and_refuse_alike():
    points = [(1, 1), (20, 3), (2, 15), (17, 12)]
    expected = drawn(Framebuffer.polygon, np.array(points), 4, False)
    wide = np.zeros((4, 4), np.int16)
    wide[:, ::2] = points
    for form in [points, tuple(map(list, points)), np.array(points, np.int32),
                 np.array(points, np.uint8), np.asfortranarray(points), wide[:, ::2],
                 np.array(points, ">i4"), [(np.int64(x), y) for x, y in points],
                 np.array(points)[::-1][::-1]]:  # fmt: skip
        assert same(drawn(Framebuffer.polygon, form, 4, False), expected), form
    fb = picture()
    try:
        for form, error in [([(0, 0), (2**31, 1)], ValueError), (np.array([[0, 0], [0, -(2**31) - 1]]), ValueError),
                            ([(0, 0), (1, 2, 3)], ValueError), ([(0, 0), (1.5, 2)], TypeError),
                            ([], TypeError), (np.zeros((2, 3), int), ValueError)]:  # fmt: skip
            with pytest.raises(error):
                fb.polygon(form, 4)
        np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
    finally:
        fb.quit()


def test_flood_fills_the_4_connected_region_inside_the_clip_with_the_pattern():
    rng = np.random.default_rng(7)
    noise = (rng.random((H, W)) < 0.35).astype(np.uint8) * 2
    # Corridors around the centre (odd rings), each wall ring with one door: a region that winds
    # back on itself, up and down and both ways along its rows.
    ys, xs = np.mgrid[0:H, 0:W]
    rings = np.minimum(np.minimum(xs, W - 1 - xs), np.minimum(ys, H - 1 - ys))
    maze = np.where(rings % 2 == 1, 0, 2).astype(np.uint8)
    for d, door in [(2, 14), (4, 8), (6, 14)]:
        maze[d, door] = 0
    for start, (x, y), clip, pattern, c in [
        (noise, (4, 5), None, None, 5), (noise, (10, 8), (3, 2, 15, 11), 0x5A5A, 5),
        (noise, (0, 0), None, None, 5), (noise, (-1, 3), None, None, 5),
        (maze, (1, 1), None, None, 5), (maze, (20, 15), None, 0x36C9, 5),
        (maze, (9, 7), (0, 3, W, 9), None, 5),  # the clip cuts the corridors apart
        (maze, (0, 0), None, 0x5A5A, 2),  # onto its own index: nothing changes
    ]:  # fmt: skip
        region = np.zeros((H, W), bool)
        lx, ly, lw, lh = clip or (0, 0, W, H)
        allowed_region = np.zeros((H, W), bool)
        allowed_region[ly : ly + lh, lx : lx + lw] = True
        if 0 <= x < W and 0 <= y < H and allowed_region[y, x]:
            todo = [(x, y)]
            while todo:
                px, py = todo.pop()
                if 0 <= px < W and 0 <= py < H and allowed_region[py, px] and not region[py, px] \
                        and start[py, px] == start[y, x]:  # fmt: skip
                    region[py, px] = True
                    todo += [(px + 1, py), (px - 1, py), (px, py + 1), (px, py - 1)]
        expected = start.copy()
        expected[region & allowed(None, pattern)] = c
        fb = picture()
        targets = [fb] + [canvas for _, canvas in canvases()]
        try:
            for target in targets:
                (target.buffer() if target is fb else target.array)[:] = start
                target.clip, target.pattern = clip, pattern
                if target is fb:
                    target.flood(x, y, c=c)  # by keyword: the general path
                else:
                    target.flood(x, y, c)
                got = fb.buffer() if target is fb else target.array
                np.testing.assert_array_equal(got, expected)
        finally:
            fb.quit()


# --- Drawing state: camera, clip, pattern ----------------------------------------------------


def allowed(clip, pattern):
    """The pixels a drawing member may change: inside the clip and, for a shape, those the
    pattern does not leave out (bit 15 - (y % 4) * 4 - (x % 4) set leaves pixel (x, y))."""
    inside = np.zeros((H, W), bool)
    x, y, w, h = clip if clip is not None else (0, 0, W, H)
    inside[clamp(y, y + h, H), clamp(x, x + w, W)] = True
    if pattern is not None:
        ys, xs = np.mgrid[0:H, 0:W]
        inside &= (pattern >> (15 - (ys % 4) * 4 - xs % 4)) & 1 == 0
    return inside


def state_drawn(state, name, *args):
    """As drawn(), with camera, clip and pattern set on the framebuffer and on every canvas (each
    object has its own, and they read back as set)."""
    fb = picture()
    targets = [("framebuffer", fb), *canvases()]
    results = []
    try:
        for layout, target in targets:
            for attribute, value in state.items():
                setattr(target, attribute, value)
            assert (target.camera, target.clip, target.pattern) == tuple(state.values()), layout
            results.append((getattr(target, name)(*args), layout))
        pixels = fb.buffer().copy()
    finally:
        fb.quit()
    for (result, layout), (_, target) in zip(results[1:], targets[1:], strict=True):
        assert result == results[0][0], layout
        np.testing.assert_array_equal(target.array, pixels, err_msg=layout)
    return pixels, results[0][0]


# Each member: its arguments' strategy (offsets from the camera for the coordinates), its
# reference in picture coordinates, and whether it is a shape (which the pattern applies to).
STATE_MEMBERS = {
    "pset": (st.tuples(near, near, colour), lambda x, y, c: paint([(x, y)], c), False),
    "line": (
        st.tuples(near, near, near, near, colour),
        lambda x0, y0, x1, y1, c: paint(bresenham_visible(x0, y0, x1, y1), c),
        True,
    ),
    "rect": (st.tuples(near, near, size, size, colour, st.booleans()), rect_reference, True),
    "circle": (
        st.tuples(near, near, st.integers(-1, 12), colour, st.booleans()),
        circle_reference,
        True,
    ),
    "blit": (st.tuples(near, near, images(), st.integers(-1, 5)), blit_reference, False),
    "text": (
        st.tuples(near, near, strings, colour),
        lambda x, y, s, c: text_reference(x, y, s, c)[0],
        False,
    ),
}


@given(
    name=st.sampled_from(sorted(STATE_MEMBERS)),
    camera=st.one_of(
        st.tuples(near, near), st.tuples(near, near), st.tuples(coordinate, coordinate)
    ),
    clip=st.one_of(
        st.none(),
        st.tuples(near, near, st.integers(0, 30), st.integers(0, 30)),
        st.tuples(near, near, st.integers(0, 30), st.integers(0, 30)),
        st.tuples(coordinate, coordinate, st.integers(0, HI), st.integers(0, HI)),
    ),
    pattern=st.one_of(st.none(), st.integers(0, 0xFFFF), st.integers(0, 0xFFFF)),
    data=st.data(),
)
@example(name="rect", camera=(0, 0), clip=None, pattern=None, data=None)
@example(name="line", camera=(HI, LO), clip=(3, 2, 9, 5), pattern=0x5A5A, data=None)
@example(name="rect", camera=(-3, 7), clip=(1, 3, 15, 11), pattern=0x1248, data=None)
def test_camera_clip_and_pattern_apply_to_every_drawing_member(name, camera, clip, pattern, data):
    strategy, reference, shape = STATE_MEMBERS[name]
    if data is None:  # the examples: a rectangle and a line over the whole picture
        args = (-2, -1, W + 4, H + 3, 9) + ((True,) if name == "rect" else ())
    else:
        args = data.draw(strategy)
    # The coordinates, offsets from the camera, as world coordinates that fit 32 bits, and
    # those less the camera: the picture coordinates the reference draws at.
    world, picture_args = list(args), list(args)
    for i in range(4 if name == "line" else 2):
        world[i] = min(max(args[i] + camera[i % 2], LO), HI)
        picture_args[i] = world[i] - camera[i % 2]
    state = {"camera": camera, "clip": clip, "pattern": pattern}
    pixels, _ = state_drawn(state, name, *world)
    expected = reference(*picture_args)
    mask = allowed(clip, pattern if shape else None)
    np.testing.assert_array_equal(pixels, np.where(mask, expected, BACKGROUND))
    # pget takes the camera and ignores the clip; clear ignores all three.
    x, y = picture_args[:2]
    inside = 0 <= x < W and 0 <= y < H
    _, value = state_drawn(state, "pget", *world[:2])
    assert value == (BACKGROUND[y, x] if inside else 0)
    pixels, _ = state_drawn(state, "clear", 7)
    assert (pixels == 7).all()


def test_drawing_state_reads_back_as_set_belongs_to_each_object_and_refuses_bad_values():
    fb = picture()
    try:
        canvas = Canvas(fb.buffer())
        assert (fb.camera, fb.clip, fb.pattern) == ((0, 0), None, None)
        fb.camera, fb.clip, fb.pattern = (np.int64(-5), 2**31 - 1), [-4, 50, 0, 9], 0
        assert (fb.camera, fb.clip, fb.pattern) == ((-5, HI), (-4, 50, 0, 9), 0)
        assert (canvas.camera, canvas.clip, canvas.pattern) == ((0, 0), None, None)
        fb.rect(-5, HI, W, H, 1)  # an empty clip: nothing drawn
        np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
        fb.clip, fb.pattern = None, None
        assert (fb.clip, fb.pattern) == (None, None)
        # Text in any font and scale goes through the camera and the clip too.
        fb.camera, fb.clip = (-3, -2), (0, 0, 9, 7)
        fb.text(-3, -2, "AB", 9, font=FONT_4X6, scale=2)
        expected = BACKGROUND.copy()
        Canvas(expected).text(0, 0, "AB", 9, font=FONT_4X6, scale=2)
        expected[7:, :], expected[:, 9:] = BACKGROUND[7:, :], BACKGROUND[:, 9:]
        np.testing.assert_array_equal(fb.buffer(), expected)
        fb.buffer()[:] = BACKGROUND
        fb.camera, fb.clip = (-5, HI), None
        for target in (fb, canvas):
            for attribute, value, error, text in [
                ("clip", (0, 0, -1, 3), ValueError, r"clip width and height must be 0 or more"),
                ("clip", (0, 0, 3, -1), ValueError, r"clip width and height must be 0 or more"),
                ("clip", (0, 0, 3), TypeError, r"clip must be 4 32-bit integers"),
                ("clip", (0, 0, 3, 2.0), TypeError, r"clip must be a 32-bit integer"),
                ("camera", (1, 2, 3), TypeError, r"camera must be a pair of 32-bit integers"),
                ("camera", None, TypeError, r"camera must be a pair"),
                ("camera", "ab", TypeError, r"camera must be a pair"),
                ("camera", (2**31, 0), TypeError, r"camera must be a 32-bit integer"),
                ("pattern", 0x10000, TypeError, r"pattern must be a 16-bit pattern"),
                ("pattern", -1, TypeError, r"pattern must be a 16-bit pattern"),
                ("pattern", 1.0, TypeError, r"pattern must be a 16-bit pattern"),
            ]:
                before = getattr(target, attribute)
                with pytest.raises(error, match=rf"^{type(target).__name__}\.{text}"):
                    setattr(target, attribute, value)
                assert getattr(target, attribute) == before
    finally:
        fb.quit()


# --- Arguments ----------------------------------------------------------------------------------


class Text(str):
    pass


# What each member is called with, its parameters' names, and which arguments are palette indices
# (0..255); the others are 32-bit integers.
CALLS = {
    "line": ((1, 2, 20, 11, 5), "x0 y0 x1 y1 c", {4}),
    "rect": ((3, 2, 9, 7, 5), "x y w h c", {4}),
    "circle": ((10, 8, 5, 5), "x y r c", {3}),
    "blit": ((3, 2, np.arange(20, dtype=np.uint8).reshape(4, 5), 7), "x y image key", {3}),
    "text": ((1, 3, "Ab", 5), "x y s c", {3}),
    "triangle": ((2, 1, 15, 4, 6, 12, 5), "x0 y0 x1 y1 x2 y2 c", {6}),
    "ellipse": ((3, 2, 12, 9, 5), "x y w h c", {4}),
}
# Values that stand for an integer (accepted as that integer), and values refused: whatever is
# not an integer, fractional or not, and integers out of range.
ACCEPTED = [(True, 1), (False, 0), (Index(4), 4), (np.int64(3), 3), (np.uint8(2), 2),
            (np.True_, 1), (np.array(3), 3)]  # fmt: skip
REFUSED = [3.0, "3", None, 2**31, -(2**31) - 1, 2**64, Index(2.5), *FRACTIONAL]


@pytest.mark.parametrize("name", CALLS)
def test_integer_arguments_convert_as_psets_do(name):
    args, names, indices = CALLS[name]
    names = names.split()
    call = getattr(Framebuffer, name)
    for position, _ in enumerate(args):
        if not isinstance(args[position], int):
            continue
        index = position in indices
        if name == "blit" and index:  # the key colour: -1..255
            accepted = [*ACCEPTED, (-1, -1), (255, 255)]
            refused = [*REFUSED, -2, 256, 2**31 - 1]
        elif index:
            accepted, refused = [*ACCEPTED, (255, 255)], [*REFUSED, -1, 256]
        else:
            accepted = [*ACCEPTED, (2**31 - 1, 2**31 - 1), (-(2**31), -(2**31)), (-7, -7)]
            refused = REFUSED
        for value, plain in accepted:
            given_args = list(args)
            given_args[position] = value
            plain_args = list(args)
            plain_args[position] = plain
            assert same(drawn(call, *given_args), drawn(call, *plain_args)), value
        fb = picture()
        targets = [
            (fb, fb.buffer(), call),
            *((c, c.array, getattr(Canvas, name)) for _, c in canvases()),
        ]
        for target, pixels, member in targets:
            for value in [*refused, Raises(KeyboardInterrupt), Raises(MemoryError)]:
                given_args = list(args)
                given_args[position] = value
                if isinstance(value, Raises):
                    with pytest.raises(value.value):
                        member(target, *given_args)
                else:
                    with pytest.raises(
                        TypeError, match=rf"^{name}\(\) argument {names[position]} must be "
                    ):
                        member(target, *given_args)
                np.testing.assert_array_equal(pixels, BACKGROUND)
        fb.quit()


def same(a, b):
    (pa, ra), (pb, rb) = a, b
    return np.array_equal(pa, pb) and ra == rb


def test_every_argument_may_be_passed_by_keyword_and_fill_is_a_bool():
    image = np.arange(6, dtype=np.uint8).reshape(2, 3)
    pairs = [
        ((Framebuffer.line, 1, 2, 9, 5, 3), dict(x0=1, y0=2, x1=9, y1=5, c=3)),
        ((Framebuffer.rect, 1, 2, 9, 5, 3, False), dict(x=1, y=2, w=9, h=5, c=3, fill=False)),
        ((Framebuffer.rect, 1, 2, 9, 5, 3, True), dict(x=1, y=2, w=9, h=5, c=3)),
        ((Framebuffer.circle, 8, 7, 4, 3, False), dict(x=8, y=7, r=4, c=3, fill=False)),
        ((Framebuffer.circle, 8, 7, 4, 3, True), dict(x=8, y=7, r=4, c=3)),
        ((Framebuffer.blit, 1, 2, image, 4), dict(x=1, y=2, image=image, key=4)),
        ((Framebuffer.text, 1, 2, "Hi", 3), dict(x=1, y=2, s="Hi", c=3)),
        ((Framebuffer.triangle, 2, 1, 15, 4, 6, 12, 3, False),
         dict(x0=2, y0=1, x1=15, y1=4, x2=6, y2=12, c=3, fill=False)),
        ((Framebuffer.ellipse, 3, 2, 12, 9, 3, False), dict(x=3, y=2, w=12, h=9, c=3, fill=False)),
        ((Framebuffer.polygon, [(1, 1), (20, 3), (9, 15)], 3, False),
         dict(points=[(1, 1), (20, 3), (9, 15)], c=3, fill=False)),
    ]  # fmt: skip
    for (call, *args), kwargs in pairs:
        assert same(drawn(call, *args), drawn(call, **kwargs)), call.__name__
        # The last argument alone by keyword: the fast fronts take `fill` and `key` that way.
        *_, last = kwargs
        partial = drawn(call, *args[: len(kwargs) - 1], **{last: kwargs[last]})
        assert same(partial, drawn(call, *args)), call.__name__
    outline, filled = (
        drawn(Framebuffer.rect, 1, 2, 9, 5, 3, False),
        drawn(Framebuffer.rect, 1, 2, 9, 5, 3, True),
    )
    assert not same(outline, filled)
    assert same(drawn(Framebuffer.rect, 1, 2, 9, 5, 3, np.False_), outline)
    assert same(drawn(Framebuffer.circle, 8, 7, 4, 3, fill=np.True_), drawn(
        Framebuffer.circle, 8, 7, 4, 3))  # fmt: skip
    assert same(
        drawn(Framebuffer.text, 1, 2, Text("Hi"), 3), drawn(Framebuffer.text, 1, 2, "Hi", 3)
    )
    # The switch rule: True, False, NumPy bools, 0 and 1; nothing else.
    assert same(drawn(Framebuffer.rect, 1, 2, 9, 5, 3, 0), outline)
    assert same(drawn(Framebuffer.rect, 1, 2, 9, 5, 3, fill=np.int64(1)), filled)
    fb = picture()
    for call, wrong, message in [
        (lambda v: fb.rect(1, 2, 3, 4, 5, fill=v), "yes", r"rect\(\) argument fill must be True or False, not str$"),
        (lambda v: fb.circle(1, 2, 3, 4, v), None, r"circle\(\) argument fill must be True or False, not NoneType$"),
        (lambda v: fb.rect(1, 2, 3, 4, 5, v), 2, "fill must be True or False, not 2$"),
        (lambda v: fb.rect(1, 2, 3, 4, 5, v), 1.0, "fill must be True or False, not float$"),
        (lambda v: fb.text(1, 2, v, 3), b"Hi", r"text\(\) argument s must be a str, not bytes$"),
        (lambda v: fb.text(0, 0, v, 1), 5, r"text\(\) argument s must be a str, not int$"),
        (lambda v: text_size(v), 5, r"text_size\(\) argument s must be a str, not int$"),
        (lambda v: fb.pset(v, 1, 2), 1.5, r"argument x must be a 32-bit integer .*, not float: use int\(\) or round\(\)$"),
        (lambda v: fb.line(1, 2, 3, 4, v), np.float32(2), r"argument c must be a palette index 0 to 255, not numpy.float32: use int"),
    ]:  # fmt: skip
        with pytest.raises(TypeError, match=message):
            call(wrong)
    for refused in (
        lambda: fb.rect(1, 2, 3, 4, 5, filled=False),
        lambda: fb.circle(1, 2, 3, 4, True, 5),
        lambda: fb.line(1, 2, 3, 4),
        lambda: fb.blit(1, 2, image, key=4, extra=1),
        lambda: fb.blit(1, 2, image, colour=4),
        lambda: fb.rect(1, 2, 3, 4, 5, colour=False),
    ):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            refused()
    np.testing.assert_array_equal(fb.buffer(), BACKGROUND)
    fb.quit()


def test_drawing_refuses_an_uninitialised_framebuffer_or_canvas():
    image = np.zeros((2, 2), np.uint8)
    calls = [("pset", (1, 1, 1)), ("pget", (1, 1)), ("clear", ()), ("line", (1, 1, 2, 2, 1)),
             ("rect", (1, 1, 2, 2, 1)), ("circle", (1, 1, 2, 1, False)), ("blit", (1, 1, image)),
             ("text", (1, 1, "a", 1))]  # fmt: skip
    for cls in (Framebuffer, Canvas):
        bare = cls.__new__(cls)
        for name, args in calls:
            with pytest.raises(TypeError, match=rf"^{cls.__name__}\.__init__\(\) has not been"):
                getattr(bare, name)(*args)
    with pytest.raises(TypeError, match=r"^Canvas\.__init__"):
        Canvas.__new__(Canvas).array  # noqa: B018
