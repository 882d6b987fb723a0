"""Pixel access and the NumPy views, on SDL's dummy video driver."""

import gc
import weakref

import numpy as np
import pytest

from jxframebuf import Framebuffer

INT_MAX, INT_MIN = 2**31 - 1, -(2**31)


@pytest.fixture
def wide():
    """A non-square picture, so that swapped x and y cannot pass unnoticed."""
    fb = Framebuffer(7, 5, scale=1, fps=-1)
    yield fb
    fb.quit()


def test_pset_pget_and_the_buffer_view_agree(wide):
    view = wide.buffer()
    wide.pset(0, 0, 5)
    wide.pset(6, 4, 1)  # the last byte of the buffer
    wide.pset(6, 0, 200)
    view[3, 2] = 255
    assert wide.pget(0, 0) == 5 and wide.pget(6, 4) == 1 and wide.pget(2, 3) == 255
    assert view[0, 6] == 200 and view.ravel()[-1] == 1
    expected = np.zeros((5, 7), np.uint8)
    expected[0, 0], expected[4, 6], expected[0, 6], expected[3, 2] = 5, 1, 200, 255
    np.testing.assert_array_equal(view, expected)


@pytest.mark.parametrize(
    "x, y",
    [
        (-1, 0),
        (0, -1),
        (7, 0),
        (0, 5),
        (7, 5),
        (INT_MAX, INT_MAX),
        (INT_MIN, INT_MIN),
        (INT_MAX, 0),
        (0, INT_MIN),
        (-7, 1),
    ],
)
def test_outside_the_picture_writes_nothing_and_reads_zero(wide, x, y):
    wide.buffer()[:] = np.arange(35, dtype=np.uint8).reshape(5, 7) + 1
    before = wide.buffer().copy()
    wide.pset(x, y, 99)
    np.testing.assert_array_equal(wide.buffer(), before)
    assert wide.pget(x, y) == 0


def test_clear(wide):
    wide.buffer()[:] = 9
    wide.clear()
    assert not wide.buffer().any()
    wide.clear(7)
    assert (wide.buffer() == 7).all()
    wide.clear(color=255)
    assert (wide.buffer() == 255).all()


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Int:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


def test_integer_like_arguments_are_accepted(wide):
    wide.pset(True, 2, 3)
    assert wide.pget(1, 2) == 3
    wide.pset(Index(4), Index(1), Index(250))
    assert wide.pget(Index(4), np.True_) == 250
    wide.clear(Index(6))
    assert wide.pget(0, 0) == 6


@pytest.mark.parametrize(
    "call",
    [
        lambda fb: fb.pset(1, 2, 256),
        lambda fb: fb.pset(1, 2, -1),
        lambda fb: fb.pset(1, 2, 3.0),
        lambda fb: fb.pset(1.5, 2, 3),
        lambda fb: fb.pset(1, 2**31, 3),
        lambda fb: fb.pset(1, 2, None),
        lambda fb: fb.pset(1, 2, "3"),
        lambda fb: fb.pset(x=1, y=2, c=3),
        lambda fb: fb.pset(1, 2),
        lambda fb: fb.pget(1.0, 2),
        lambda fb: fb.pget(Int(1), 2),  # int() would take it, and floats with it
        lambda fb: fb.pget(x=1, y=2),
        lambda fb: fb.pset(1, 2, 3, colour=4),
        lambda fb: fb.running(foo=1),
        lambda fb: fb.flip(foo=1),
        lambda fb: fb.clear(1.0),
        lambda fb: fb.clear(256),
        lambda fb: fb.clear(-1),
        lambda fb: fb.clear(colour=1),
    ],
)
def test_refused_arguments_raise_type_error_and_change_nothing(wide, call):
    wide.buffer()[:] = 8
    palette = wide.palette().copy()
    with pytest.raises(
        TypeError, match=r"incompatible function arguments|\(\) argument \w+ must be"
    ):
        call(wide)
    assert (wide.buffer() == 8).all()
    np.testing.assert_array_equal(wide.palette(), palette)


def test_width_and_height_are_read_only(wide):
    assert (wide.width, wide.height) == (7, 5)
    for name in ("width", "height"):
        with pytest.raises(
            AttributeError, match=f"^property '{name}' of 'Framebuffer' object has no"
        ):
            setattr(wide, name, 10)
    assert (wide.width, wide.height) == (7, 5)


def test_views_are_writeable_zero_copy_arrays_based_on_the_framebuffer(wide):
    pixels, palette = wide.buffer(), wide.palette()
    assert (pixels.dtype, pixels.shape, pixels.strides) == (np.uint8, (5, 7), (7, 1))
    assert (palette.dtype, palette.shape, palette.strides) == (np.uint32, (256,), (4,))
    for view in (pixels, palette):
        assert view.flags.writeable and not view.flags.owndata and view.flags.c_contiguous
        assert view.base is wide
    # Each call makes a new view of the same memory.
    assert wide.buffer() is not pixels and np.shares_memory(wide.buffer(), pixels)
    assert np.shares_memory(wide.palette(), palette)
    palette[9] = 0xFF123456
    assert wide.palette()[9] == 0xFF123456


def test_a_view_keeps_its_framebuffer_alive():
    fb = Framebuffer(4, 3, fps=-1)
    alive = weakref.ref(fb)
    view = fb.palette()
    del fb
    gc.collect()
    assert alive() is not None
    view[3] = 0xFFABCDEF  # still the framebuffer's own memory
    assert alive().palette()[3] == 0xFFABCDEF
    del view
    gc.collect()
    assert alive() is None


def test_numpy_integers_are_accepted(wide):
    for value in (np.int64(2), np.uint8(3), np.int32(4)):
        wide.pset(value, value, value)
        assert wide.pget(value, value) == int(value)


def test_methods_refuse_an_uninitialised_framebuffer():
    bare = Framebuffer.__new__(Framebuffer)  # __init__ never ran: there is no picture
    calls = [
        lambda: bare.pset(1, 1, 1),
        lambda: bare.pget(1, 1),
        bare.flip,
        bare.running,
        bare.clear,
        bare.buffer,
        bare.palette,
        bare.quit,
        lambda: bare.width,
    ]
    for call in calls:
        with pytest.raises(TypeError, match="__init__"):
            call()
    for method in (Framebuffer.flip, Framebuffer.buffer, Framebuffer.quit):
        with pytest.raises(TypeError):
            method(None)
    with pytest.raises(TypeError):
        Framebuffer.pset(None, 1, 1, 1)


def test_subclasses_draw_like_the_class():
    class Sprite(Framebuffer):
        pass

    fb = Sprite(4, 4, scale=1, fps=-1)
    try:
        fb.pset(3, 3, 200)
        assert fb.pget(3, 3) == 200 and fb.buffer()[3, 3] == 200
        assert fb.buffer().base is fb
    finally:
        fb.quit()
