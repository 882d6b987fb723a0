"""Whatever a caller passes to any member, the call does what it should or raises the documented
exception, and a refused call changes no pixel and no palette entry. On SDL's dummy driver."""

from decimal import Decimal
from fractions import Fraction

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
    """A number that converts with int() only, as float, Decimal and Fraction do: refused."""

    __index__ = None

    def __int__(self):
        return self.value


class Raises(Index):
    """Its __index__ raises the exception it holds, which must come out of the call unchanged."""

    def __index__(self):
        raise self.value


def converted(value, low, high):
    """The integer the member receives for `value`, None when the value must be refused with
    TypeError, or the exception that converting it raises."""
    if isinstance(value, Raises):
        return value.value
    if isinstance(value, Int):
        return None
    if isinstance(value, Index):
        value = value.value
    elif isinstance(value, np.ndarray):  # 0-d: an integer one is its integer
        value = value[()] if value.dtype.kind in "iu" else None
    if isinstance(value, (int, np.integer, np.bool_)) and low <= value <= high:  # bool is an int
        return int(value)
    return None  # out of range, floats, None, strings, a conversion to a non-int


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
# Numbers that are not integers, each of which once lost its fraction on the way in.
FRACTIONAL = [np.float16(2.5), np.float32(2.7), np.float64(-0.9), np.longdouble(3.5),
              np.array(2.7), np.array([3]), 2.0, 1 + 0j, Decimal(3), Fraction(7, 2), Int(3)]  # fmt: skip
integers = st.one_of(st.integers(-3, 12), st.sampled_from(EDGES), st.integers(-(2**70), 2**70))
values = st.one_of(
    integers, st.booleans(), integers.map(Index), integers.map(Int),
    st.integers(-(2**63), 2**63 - 1).map(np.int64), st.integers(0, 255).map(np.uint8),
    st.sampled_from([np.True_, np.False_, np.array(3), np.array(300, np.int16)]),
    st.sampled_from([Raises(ZeroDivisionError), Raises(KeyboardInterrupt), Raises(MemoryError),
                     Index(2.0), Int(3.5), Index("3")]),
    st.sampled_from(FRACTIONAL), st.floats(), st.none(), st.text(max_size=3),
)  # fmt: skip


def picture():
    """A framebuffer whose pixels all differ from their neighbours, and its two views."""
    fb = Framebuffer(W, H, scale=1, fps=0)
    pixels, palette = fb.buffer(), fb.palette()
    pixels[:] = (np.arange(W * H).reshape(H, W) * 37 + 11) % 256
    palette[:] = np.arange(256, dtype=np.uint32) * 0x010101 | 0xFF000000
    return fb, pixels, palette


def refused(call, *args, name=r"\w+", **kwargs):
    with pytest.raises(TypeError, match=rf"\(\) argument {name} must be "):
        call(*args, **kwargs)


def outcome(**conversions):
    """What a call with these converted arguments (name: converted(...), in the member's order)
    does: the first argument that does not convert decides, as ("refused", name) or
    ("raises", exception); otherwise ("made", [the integers])."""
    for name, value in conversions.items():
        if value is None:
            return "refused", name
        if isinstance(value, type):
            return "raises", value
    return "made", list(conversions.values())


def made(result, call, *args, **kwargs):
    """Makes the call if `result` (from outcome) says it converts, else checks that it fails as
    it must; True if the call was made."""
    kind, detail = result
    if kind == "refused":
        refused(call, *args, name=detail, **kwargs)
    elif kind == "raises":
        with pytest.raises(detail):
            call(*args, **kwargs)
    else:
        call(*args, **kwargs)
    return kind == "made"


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
        got = outcome(x=cx, y=cy)
        if got[0] == "made":
            inside = 0 <= cx < W and 0 <= cy < H
            assert fb.pget(x, y) == (expected[cy, cx] if inside else 0)
        else:
            made(got, fb.pget, x, y)
        if made(outcome(x=cx, y=cy, c=cc), fb.pset, x, y, c) and 0 <= cx < W and 0 <= cy < H:
            expected[cy, cx] = cc
        np.testing.assert_array_equal(pixels, expected)
    np.testing.assert_array_equal(palette, colours)
    fb.quit()


@given(color=values, by_keyword=st.booleans())
def test_clear_fills_every_pixel_or_refuses(color, by_keyword):
    fb, pixels, palette = picture()
    expected, colours = pixels.copy(), palette.copy()
    args, kwargs = ((), {"color": color}) if by_keyword else ((color,), {})
    cc = converted(color, *UINT8)
    if made(outcome(color=cc), fb.clear, *args, **kwargs):
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
# both axes, a zero side or scale, negative sides with a positive product, a picture whose pixel
# count is beyond 32 bits.
@example(args=(16384, 1, 1, 0), by_keyword=False)
@example(args=(16385, 1, 1, 0), by_keyword=False)
@example(args=(1, 4096, 4, 0), by_keyword=True)
@example(args=(1, 4097, 4, 0), by_keyword=False)
@example(args=(2, 2, 20000, 0), by_keyword=False)
@example(args=(4, 4, 0, 0), by_keyword=False)
@example(args=(4, 4, -2, 0), by_keyword=False)
@example(args=(-4, -10, 3, 0), by_keyword=False)
@example(args=(50000, 40000, 1, 0), by_keyword=False)
@example(args=(46341, 46341, 1, 0), by_keyword=False)
@example(args=(0, 10, 3, 0), by_keyword=True)
@example(args=(10, 0, 3, 0), by_keyword=False)
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
    kind, detail = outcome(**dict(zip(names, (w, h, s, f))))
    if kind == "refused":
        with pytest.raises(TypeError, match=rf"^Framebuffer\(\) argument {detail} must be "):
            make()
    elif kind == "raises":
        with pytest.raises(detail):
            make()
    elif min(w, h, s) < 1:
        name, value = next((n, v) for n, v in zip(names, (w, h, s)) if v < 1)
        with pytest.raises(ValueError, match=rf"^{name} must be at least 1, not {value}$"):
            make()
    elif max(w, h) * s > 16384:
        with pytest.raises(ValueError, match=rf"^window size {w * s} x {h * s} \(width and "
                           rf"height times scale {s}\) is larger than 16384 pixels a side$"):  # fmt: skip
            make()
    else:
        # The picture and, on the dummy driver, the window surface are really allocated: keep
        # both small (a 65536 x 65536 window takes 16 GiB).
        assume(w * h <= 1 << 16 and abs(w * s * h * s) <= 1 << 22)
        fb = make()
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
