"""Framebuffers and their views made, used, quit and dropped in any order, on SDL's dummy driver.

Views keep their pixels and palette working after everything else is gone, a framebuffer is freed
once nothing refers to it, and SDL is up exactly while some framebuffer is neither quit nor freed.
`make sanitize` runs these under AddressSanitizer, which turns any use of freed memory into a
failure.
"""

import gc
import weakref

import numpy as np
import pytest
from conftest import in_child, sdl_initialised
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import (
    RuleBasedStateMachine,
    invariant,
    precondition,
    rule,
    run_state_machine_as_test,
)

from jxframebuf import Framebuffer


class Made:
    """What the test knows of one framebuffer: what its memory must hold, and whether it quit."""

    def __init__(self, fb):
        self.ref = weakref.ref(fb)
        self.size = (fb.width, fb.height)
        self.buffer = np.zeros((fb.height, fb.width), np.uint8)
        self.palette = fb.palette().copy()
        self.quit = False

    def up(self):
        return self.ref() is not None and not self.quit


class Lifetimes(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.made = []  # every framebuffer made so far
        self.held = {}  # index into self.made -> the framebuffer, while the test holds it
        self.views = []  # (index into self.made, "buffer" or "palette", the array)

    def pick_held(self, n):
        index = sorted(self.held)[n % len(self.held)]
        return self.made[index], self.held[index]

    @precondition(lambda self: len(self.held) < 3)
    @rule(width=st.integers(1, 9), height=st.integers(1, 9))
    def make(self, width, height):
        fb = Framebuffer(width, height, scale=1, fps=0)
        self.made.append(Made(fb))
        self.held[len(self.made) - 1] = fb

    @precondition(lambda self: self.held)
    @rule(n=st.integers(0, 2), kind=st.sampled_from(["buffer", "palette"]))
    def take_view(self, n, kind):
        made, fb = self.pick_held(n)
        self.views.append((self.made.index(made), kind, getattr(fb, kind)()))

    @precondition(lambda self: self.views)
    @rule(n=st.integers(0, 50), at=st.integers(0, 255), value=st.integers(0, 255))
    def write_through_view(self, n, at, value):
        index, kind, array = self.views[n % len(self.views)]
        made = self.made[index]
        if kind == "buffer":
            y, x = at % made.size[1], at % made.size[0]
            array[y, x] = made.buffer[y, x] = value
        else:
            array[at] = made.palette[at] = 0xFF000000 | value * 0x10101

    @precondition(lambda self: self.held)
    @rule(n=st.integers(0, 2), x=st.integers(-2, 10), y=st.integers(-2, 10), c=st.integers(0, 255))
    def pset(self, n, x, y, c):
        made, fb = self.pick_held(n)
        fb.pset(x, y, c)
        if 0 <= x < made.size[0] and 0 <= y < made.size[1]:
            made.buffer[y, x] = c

    @precondition(lambda self: self.held)
    @rule(n=st.integers(0, 2), c=st.integers(0, 255))
    def clear(self, n, c):
        made, fb = self.pick_held(n)
        fb.clear(c)
        made.buffer[:] = c

    @precondition(lambda self: self.held)
    @rule(n=st.integers(0, 2))
    def flip_and_ask(self, n):
        made, fb = self.pick_held(n)
        fb.flip()
        assert fb.running() is not made.quit

    @precondition(lambda self: self.held)
    @rule(n=st.integers(0, 2))
    def quit(self, n):
        made, fb = self.pick_held(n)
        fb.quit()
        made.quit = True

    @precondition(lambda self: self.held)
    @rule(n=st.integers(0, 2))
    def drop(self, n):
        made, _ = self.pick_held(n)
        del self.held[self.made.index(made)]

    @precondition(lambda self: self.views)
    @rule(n=st.integers(0, 50))
    def drop_view(self, n):
        del self.views[n % len(self.views)]

    @rule()
    def collect(self):
        gc.collect()

    @invariant()
    def memory_is_shared_and_intact(self):
        for index, kind, array in self.views:
            np.testing.assert_array_equal(array, getattr(self.made[index], kind))
        for index, fb in self.held.items():
            made = self.made[index]
            assert (fb.width, fb.height) == made.size
            assert all(fb.pget(x, 0) == made.buffer[0, x] for x in range(made.size[0]))

    @invariant()
    def sdl_is_up_while_some_framebuffer_is(self):
        # Nothing refers to a dropped framebuffer: it must be gone (and torn down) at once.
        for index, made in enumerate(self.made):
            referred = index in self.held or any(i == index for i, _, _ in self.views)
            assert (made.ref() is not None) == referred
        assert sdl_initialised() == any(made.up() for made in self.made)

    def teardown(self):
        # Views outlive everything else: the framebuffers go, the views still read and write.
        self.held.clear()
        gc.collect()
        for _, _, array in self.views:
            array[...] = 7
            assert (array == 7).all()
        array = None  # the loop variable would keep the last view alive
        assert sdl_initialised() == any(made.up() for made in self.made)
        self.views.clear()
        gc.collect()
        assert all(made.ref() is None for made in self.made)
        assert not sdl_initialised()


def test_any_order_of_making_viewing_quitting_and_dropping():
    # Everything already alive (pytest, hypothesis, numpy) is set aside so that the many full
    # collections in the machine look at its own objects only and stay fast.
    gc.collect()
    gc.freeze()
    try:
        run_state_machine_as_test(
            Lifetimes, settings=settings(max_examples=60, stateful_step_count=30)
        )
    finally:
        gc.unfreeze()


MEMBERS = {"pset": (0, 0, 1), "pget": (0, 0), "clear": (3,), "flip": (), "running": (), "quit": (),
           "buffer": (), "palette": ()}  # fmt: skip


def test_a_framebuffer_whose_init_never_ran_refuses_every_member():
    # Such an object holds no framebuffer at all; it used to be handed to the engine as
    # uninitialised memory and crash.
    blank = Framebuffer.__new__(Framebuffer)
    for name, args in MEMBERS.items():
        with pytest.raises(TypeError, match=r"^Framebuffer\.__init__\(\) has not been called"):
            getattr(blank, name)(*args)
    for name in ("width", "height"):
        with pytest.raises(TypeError, match=r"__init__\(\) has not been called"):
            getattr(blank, name)

    class Early(Framebuffer):
        def __init__(self):
            self.clear(3)  # before there is anything to clear
            super().__init__(4, 4)

    with pytest.raises(TypeError, match=r"__init__\(\) has not been called"):
        Early()
    del blank
    gc.collect()
    assert not sdl_initialised()


def test_init_again_is_refused_and_leaves_the_framebuffer_as_it_was(fb):
    pixels = fb.buffer()
    fb.pset(1, 1, 5)
    for args in ((4, 4), ("garbage",), ()):
        with pytest.raises(TypeError, match=r"^Framebuffer\.__init__\(\) has already been called"):
            fb.__init__(*args)
    assert (fb.width, fb.height) == (32, 24) and pixels[1, 1] == 5 and fb.running()


def test_pickling_copying_and_pybind11s_base_class_are_type_errors():
    # Protocols 0 and 1 called pybind11's common base class, which aborted the process.
    printed = in_child("""
        import copy, functools, pickle
        from jxframebuf import Framebuffer
        fb = Framebuffer(4, 4)
        base = Framebuffer.__mro__[1]
        calls = [functools.partial(pickle.dumps, fb, protocol) for protocol in range(6)]
        bare = type("Bare", (base,), {})
        calls += [lambda: fb.__reduce_ex__(1), fb.__reduce__, lambda: copy.copy(fb),
                  lambda: copy.deepcopy(fb), base, bare, lambda: base.__new__(base),
                  lambda: bare.__new__(bare), lambda: type(Framebuffer)("Made", (), {})(),
                  lambda: object.__new__(base)]
        for call in calls:
            try:
                call()
            except TypeError as error:
                print(error)
        fb.quit()
    """)
    assert printed.splitlines() == ["cannot pickle 'Framebuffer' object"] * 10 + [
        "cannot create 'pybind11_object' instances",
        "cannot create 'Bare' instances",
        "cannot create 'pybind11_object' instances",
        "cannot create 'Bare' instances",
        "cannot create 'Made' instances",
        "object.__new__(pybind11_object) is not safe, use pybind11_object.__new__()",
    ]
