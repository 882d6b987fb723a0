"""Whatever a caller passes to any member, the call does what it should or raises the documented
exception, and a refused call changes no pixel and no palette entry. On SDL's dummy driver."""

import numpy as np
import pytest
from conftest import sdl_initialised
from hypothesis import assume, event, given, settings
from hypothesis import strategies as st

from jxframebuf import Framebuffer

INT32 = (-(2**31), 2**31 - 1)
UINT8 = (0, 255)
W, H = 7, 5  # small and odd, so that small coordinates fall both inside and outside


class Index:
    """An integer-like object, as numpy's and other libraries' integer types are."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class Int(Index):
    """A number that converts with int() only."""

    __index__ = None

    def __int__(self):
        return self.value

    def __repr__(self):
        return f"Int({self.value!r})"


class Raises:
    """A number whose conversion raises."""

    def __index__(self):
        raise ZeroDivisionError("no number here")

    __int__ = __index__

    def __repr__(self):
        return "Raises()"


def converted(value, low, high):
    """The integer the member receives for `value`, or None when the value must be refused."""
    if isinstance(value, (Index, Int)):
        value = value.value
        if not isinstance(value, int):  # __index__/__int__ returning a non-int is an error
            return None
    if isinstance(value, (int, np.integer)):  # bool is an int
        return int(value) if low <= int(value) <= high else None
    return None  # floats, None, strings, Raises


# Integers near every edge that matters: the picture's, 8 bits, 32 bits, 64 bits, and far beyond.
EDGES = [0, 1, -1, W - 1, W, H - 1, H, 255, 256, 2**31 - 1, 2**31, -(2**31), -(2**31) - 1,
         2**32, 2**63 - 1, 2**63, -(2**63) - 1, 2**64]  # fmt: skip
integers = st.one_of(st.integers(-3, 12), st.sampled_from(EDGES), st.integers(-(2**70), 2**70))
values = st.one_of(
    integers,
    st.booleans(),
    integers.map(Index),
    integers.map(Int),
    st.integers(-(2**63), 2**63 - 1).map(np.int64),
    st.integers(0, 255).map(np.uint8),
    st.sampled_from([Raises(), Index(2.0), Int(3.5), Index("3")]),
    st.floats(),
    st.none(),
    st.text(max_size=3),
)


def picture():
    """A framebuffer whose pixels all differ from their neighbours, and its two views."""
    fb = Framebuffer(W, H, scale=1, fps=0)
    pixels, palette = fb.buffer(), fb.palette()
    pixels[:] = (np.arange(W * H).reshape(H, W) * 37 + 11) % 256
    palette[:] = np.arange(256, dtype=np.uint32) * 0x010101 | 0xFF000000
    return fb, pixels, palette


def refused(call, *args, **kwargs):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call(*args, **kwargs)


@given(x=values, y=values, c=values)
def test_pset_sets_one_pixel_inside_and_nothing_else(x, y, c):
    fb, pixels, palette = picture()
    expected, colours = pixels.copy(), palette.copy()
    cx, cy, cc = converted(x, *INT32), converted(y, *INT32), converted(c, *UINT8)
    if None in (cx, cy, cc):
        event("refused")
        refused(fb.pset, x, y, c)
    else:
        fb.pset(x, y, c)
        if 0 <= cx < W and 0 <= cy < H:
            event("inside")
            expected[cy, cx] = cc
        else:
            event("outside")
    np.testing.assert_array_equal(pixels, expected)
    np.testing.assert_array_equal(palette, colours)
    fb.quit()


@given(x=values, y=values)
def test_pget_reads_inside_and_zero_outside(x, y):
    fb, pixels, _ = picture()
    expected = pixels.copy()
    cx, cy = converted(x, *INT32), converted(y, *INT32)
    if None in (cx, cy):
        refused(fb.pget, x, y)
    else:
        inside = 0 <= cx < W and 0 <= cy < H
        assert fb.pget(x, y) == (expected[cy, cx] if inside else 0)
    np.testing.assert_array_equal(pixels, expected)
    fb.quit()


@given(color=values, by_keyword=st.booleans())
def test_clear_fills_every_pixel_or_refuses(color, by_keyword):
    fb, pixels, palette = picture()
    expected, colours = pixels.copy(), palette.copy()
    args, kwargs = ((), {"color": color}) if by_keyword else ((color,), {})
    if (cc := converted(color, *UINT8)) is None:
        refused(fb.clear, *args, **kwargs)
    else:
        fb.clear(*args, **kwargs)
        expected[:] = cc
    np.testing.assert_array_equal(pixels, expected)
    np.testing.assert_array_equal(palette, colours)
    fb.quit()


def test_positional_only_members_and_read_only_size(fb):
    for call in (lambda: fb.pset(x=1, y=1, c=1), lambda: fb.pget(x=1, y=1), lambda: fb.flip(1),
                 lambda: fb.quit(None), lambda: fb.clear(1, 2)):  # fmt: skip
        refused(call)
    for name in ("width", "height"):
        with pytest.raises(AttributeError):
            setattr(fb, name, 1)
    assert (fb.width, fb.height) == (32, 24)


# Half the examples are plain integers, around the sizes where the picture or the window stops
# fitting in 32 bits; the other half may be anything.
plain_sizes = st.one_of(
    st.integers(1, 12),
    st.integers(1, 12),
    st.integers(-2, 0),
    st.sampled_from([65536, 65537, 2**20, 2**31 - 1]),
)
plain_scales = st.one_of(st.integers(-3, 6), st.sampled_from([2**12, 2**16, -(2**16), 2**31 - 1]))
plain_rates = st.one_of(st.integers(-3, 0), st.integers(1000, 2**31 - 1))
constructor_args = st.one_of(
    st.tuples(plain_sizes, plain_sizes, plain_scales, plain_rates),
    st.tuples(values, values, values, values),
)


@settings(max_examples=300)
@given(args=constructor_args, by_keyword=st.booleans())
def test_construction_works_or_raises_what_it_documents(args, by_keyword):
    width, height, scale, fps = args
    w, h, s, f = (converted(v, *INT32) for v in args)
    call = (lambda: Framebuffer(width=width, height=height, scale=scale, fps=fps)) if by_keyword \
        else (lambda: Framebuffer(*args))  # fmt: skip
    if None in (w, h, s, f):
        event("refused")
        with pytest.raises(TypeError, match="incompatible constructor arguments"):
            call()
    elif not 0 <= w * h <= INT32[1]:
        event("picture too large")
        with pytest.raises(
            ValueError, match=r"^cannot create std::vector larger than max_size\(\)$"
        ):
            call()
    elif not (INT32[0] <= w * s <= INT32[1] and INT32[0] <= h * s <= INT32[1]):
        event("window too large")
        with pytest.raises(
            ValueError, match=r"^window size -?\d+ x -?\d+ does not fit in 32 bits$"
        ):
            call()
    else:
        # The picture and, on the dummy driver, the window surface are really allocated: keep
        # both small (a 65536 x 65536 window takes 16 GiB).
        assume(w * h <= 1 << 16 and abs(w * s * h * s) <= 1 << 22)
        try:
            fb = call()
        except RuntimeError as error:  # SDL refused: only sizes without pixels get here
            event("SDL refused")
            assert str(error) and (w <= 0 or h <= 0)
        else:
            event("created")
            assert (fb.width, fb.height) == (w, h) and fb.running()
            pixels, palette = fb.buffer(), fb.palette()
            assert pixels.shape == (h, w) and not pixels.any() and pixels.base is fb
            assert palette.shape == (256,) and palette[1] == 0xFFFFFFFF and palette.base is fb
            fb.pset(w - 1, h - 1, 9)
            assert pixels[-1, -1] == fb.pget(w - 1, h - 1) == 9
            if f <= 0 or f >= 1000:  # a slower rate would sleep out a whole period
                fb.flip()
            fb.quit()
    assert not sdl_initialised()  # whatever happened, nothing was left behind
