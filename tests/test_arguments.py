"""Whatever a caller passes to any member, the call does what it should or raises the documented
exception, and a refused call changes no pixel and no palette entry. On SDL's dummy driver."""

import numpy as np
import pytest
from conftest import sdl_initialised
from hypothesis import assume, example, given, settings
from hypothesis import strategies as st

from jxframebuf import Framebuffer

INT32 = (-(2**31), 2**31 - 1)
UINT8 = (0, 255)
W, H = 7, 5  # small and odd, so that small coordinates fall both inside and outside


class Index:
    """Integer-like, as numpy's integer types are (its value may be no int at all)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"{type(self).__name__}({self.value!r})"


class Int(Index):
    """A number that converts with int() only."""

    __index__ = None

    def __int__(self):
        return self.value


class Raises(Index):
    def __index__(self):
        raise ZeroDivisionError


def converted(value, low, high):
    """The integer the member receives for `value`, or None when the value must be refused."""
    if isinstance(value, Index):
        value = None if isinstance(value, Raises) else value.value
    if isinstance(value, (int, np.integer)) and low <= value <= high:  # bool is an int
        return int(value)
    return None  # out of range, floats, None, strings, a conversion to a non-int or that raised


# Integers near every edge that matters: the picture's, 8 bits, 32 bits, 64 bits, and far beyond.
EDGES = [
    0,
    -1,
    W - 1,
    W,
    H - 1,
    H,
    255,
    256,
    2**31 - 1,
    2**31,
    -(2**31),
    -(2**31) - 1,
    2**63,
    2**64,
]
integers = st.one_of(st.integers(-3, 12), st.sampled_from(EDGES), st.integers(-(2**70), 2**70))
values = st.one_of(
    integers, st.booleans(), integers.map(Index), integers.map(Int),
    st.integers(-(2**63), 2**63 - 1).map(np.int64), st.integers(0, 255).map(np.uint8),
    st.sampled_from([Raises(0), Index(2.0), Int(3.5), Index("3")]),
    st.floats(), st.none(), st.text(max_size=3),
)  # fmt: skip


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


# Coordinates: mostly around the picture's edges, but anything at all too.
coordinates = st.one_of(st.integers(-2, 9), st.integers(-2, 9), values)


@example(calls=[(x, y, 200) for x in (-1, 0, W - 1, W) for y in (-1, 0, H - 1, H)])  # every edge
# Values just past what each parameter takes, in every position, whatever hypothesis draws: the
# fast path of pset and pget must refuse them as the general one does (2**64 once read as 0).
@example(calls=[call for v in (2**31, 2**63, 2**64, -(2**31) - 1, -(2**63) - 1, 256, -1)
                for call in ((v, 0, 1), (0, v, 1), (1, 1, v))])  # fmt: skip
@given(calls=st.lists(st.tuples(coordinates, coordinates, values), min_size=1, max_size=12))
def test_pset_and_pget_touch_one_pixel_inside_and_nothing_else(calls):
    fb, pixels, palette = picture()
    expected, colours = pixels.copy(), palette.copy()
    for x, y, c in calls:
        cx, cy, cc = converted(x, *INT32), converted(y, *INT32), converted(c, *UINT8)
        inside = cx is not None and cy is not None and 0 <= cx < W and 0 <= cy < H
        if None in (cx, cy):
            refused(fb.pget, x, y)
        else:
            assert fb.pget(x, y) == (expected[cy, cx] if inside else 0)
        if None in (cx, cy, cc):
            refused(fb.pset, x, y, c)
        else:
            fb.pset(x, y, c)
            if inside:
                expected[cy, cx] = cc
        np.testing.assert_array_equal(pixels, expected)
    np.testing.assert_array_equal(palette, colours)
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


# Half the examples are plain integers, around the sizes where the picture or the window stops
# fitting in 32 bits; the other half may be anything.
plain_sizes = st.one_of(st.integers(1, 12), st.integers(1, 12), st.integers(-2, 0),
                        st.sampled_from([16384, 16385, 65536, 65537, 2**20, 2**31 - 1]))  # fmt: skip
plain_scales = st.one_of(st.integers(-3, 6), st.sampled_from([2**12, 2**16, -(2**16), 2**31 - 1]))
plain_rates = st.one_of(st.integers(-3, 0), st.integers(1000, 2**31 - 1))
constructor_args = st.one_of(st.tuples(plain_sizes, plain_sizes, plain_scales, plain_rates),
                             st.tuples(values, values, values, values))  # fmt: skip


# Every edge of what is refused, whatever hypothesis happens to draw: the window side limit on
# both axes, a zero or negative scale, negative sides with a positive product.
@example(args=(16384, 1, 1, 0), by_keyword=False)
@example(args=(16385, 1, 1, 0), by_keyword=False)
@example(args=(1, 4096, 4, 0), by_keyword=True)
@example(args=(1, 4097, 4, 0), by_keyword=False)
@example(args=(2, 2, 20000, 0), by_keyword=False)
@example(args=(4, 4, 0, 0), by_keyword=False)
@example(args=(4, 4, -2, 0), by_keyword=False)
@example(args=(-4, -10, 3, 0), by_keyword=False)
@example(args=(50000, 40000, 1, 0), by_keyword=False)
@settings(max_examples=300)
@given(args=constructor_args, by_keyword=st.booleans())
def test_construction_works_or_raises_what_it_documents(args, by_keyword):
    w, h, s, f = (converted(v, *INT32) for v in args)
    names = ("width", "height", "scale", "fps")
    make = (
        (lambda: Framebuffer(**dict(zip(names, args))))
        if by_keyword
        else (lambda: Framebuffer(*args))
    )
    if None in (w, h, s, f):
        with pytest.raises(TypeError, match="incompatible constructor arguments"):
            make()
    elif w < 0 or h < 0 or w * h > INT32[1]:
        with pytest.raises(
            ValueError, match=r"^cannot create std::vector larger than max_size\(\)$"
        ):
            make()
    elif s < 1:
        with pytest.raises(ValueError, match=rf"^scale must be at least 1, not {s}$"):
            make()
    elif max(w, h) * s > 16384:
        with pytest.raises(
            ValueError, match=rf"^window size {w * s} x {h * s} is larger than 16384 pixels a side$"
        ):
            make()
    else:
        # The picture and, on the dummy driver, the window surface are really allocated: keep
        # both small (a 65536 x 65536 window takes 16 GiB).
        assume(w * h <= 1 << 16 and abs(w * s * h * s) <= 1 << 22)
        try:
            fb = make()
        except RuntimeError as error:  # SDL refused: only sizes without pixels get here
            assert str(error) and (w <= 0 or h <= 0)
        else:
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
