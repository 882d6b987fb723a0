"""pset and pget, which bypass pybind11's dispatcher for speed: what they take, what they refuse,
and what they do at the edges of the picture, on SDL's dummy video driver."""

import inspect

import numpy as np
import pytest

from jxframebuf import Framebuffer


class Index:
    """An integer-like object (it has __index__) that is not an int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def test_pset_and_pget_share_the_buffer_views_pixels(fb):
    view = fb.buffer()
    corners = [(0, 0), (31, 0), (0, 23), (31, 23)]
    for n, (x, y) in enumerate(corners, start=1):
        fb.pset(x, y, n)
    assert [view[y, x] for x, y in corners] == [1, 2, 3, 4]
    view[5, 7] = 255
    assert fb.pget(7, 5) == 255
    assert type(fb.pget(7, 5)) is int
    assert int(view.sum()) == 1 + 2 + 3 + 4 + 255  # nothing else was written


@pytest.mark.parametrize("x, y", [(-1, 0), (0, -1), (32, 0), (0, 24), (2**31 - 1, 0),
                                  (0, -(2**31)), (-(2**31), 2**31 - 1)])
def test_outside_the_picture_pset_does_nothing_and_pget_is_zero(fb, x, y):
    fb.buffer()[:] = 9
    fb.pset(x, y, 1)
    assert (fb.buffer() == 9).all()
    assert fb.pget(x, y) == 0


@pytest.mark.parametrize("value", [True, np.int64(3), np.uint8(3), np.int32(3), Index(3)])
def test_integer_like_arguments_are_taken(fb, value):
    fb.pset(value, value, value)
    assert fb.pget(value, value) == int(value)


@pytest.mark.parametrize(
    "args",
    [
        (1.0, 2, 3), (1, 2.0, 3), (1, 2, 3.0), (1, 2, np.float64(3)),
        (1, 2, 256), (1, 2, -1), (2**31, 2, 3), (1, -(2**31) - 1, 3),
        (None, 2, 3), ("1", 2, 3), (1, 2, [3]),
        (1, 2), (1, 2, 3, 4), (),
    ],
)
def test_pset_refuses_anything_else_and_changes_nothing(fb, args):
    with pytest.raises(TypeError, match=r"^pset\(x, y, c\): incompatible function arguments"):
        fb.pset(*args)
    assert not fb.buffer().any()


@pytest.mark.parametrize("args", [(1.5, 2), (1, 2**31), (None, 0), (1,), (1, 2, 3)])
def test_pget_refuses_non_integers_and_out_of_range_coordinates(fb, args):
    with pytest.raises(TypeError, match=r"^pget\(x, y\): incompatible function arguments"):
        fb.pget(*args)


def test_arguments_are_positional_only(fb):
    with pytest.raises(TypeError, match="keyword"):
        fb.pset(x=1, y=2, c=3)
    with pytest.raises(TypeError, match="keyword"):
        fb.pget(1, y=2)
    assert str(inspect.signature(Framebuffer.pset)) == "(self, x, y, c, /)"
    assert str(inspect.signature(Framebuffer.pget)) == "(self, x, y, /)"


def test_self_must_be_an_initialised_framebuffer():
    with pytest.raises(TypeError):
        Framebuffer.pset(None, 1, 1, 1)
    with pytest.raises(TypeError):
        Framebuffer.pget(object(), 1, 1)
    bare = Framebuffer.__new__(Framebuffer)  # __init__ never ran: there is no picture
    with pytest.raises(TypeError, match="never initialised"):
        bare.pset(1, 1, 1)
    with pytest.raises(TypeError, match="never initialised"):
        bare.pget(1, 1)


def test_subclass_instances_work():
    class Sprite(Framebuffer):
        pass

    fb = Sprite(4, 4, scale=1, fps=-1)
    try:
        fb.pset(3, 3, 200)
        assert fb.pget(3, 3) == 200 and fb.buffer()[3, 3] == 200
    finally:
        fb.quit()
