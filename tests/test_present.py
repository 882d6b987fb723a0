"""What flip() shows, read back from the window surface of SDL's dummy driver (flip draws into it
itself there): every pixel a crisp block of its palette colour, translucent entries blended over
black, and a letterbox when the window is larger than the magnified picture."""

import numpy as np
import pytest
import sdl

from jxframebuf import Framebuffer


def expected(fb, scale):
    """Every pixel's palette colour, blended over black, as scale x scale blocks of RGB."""
    colours = fb.palette()[fb.buffer()].astype(np.uint64)
    alpha = colours >> 24
    channels = [(colours >> s) & 0xFF for s in (16, 8, 0)]
    # Over black: channel * alpha / 255, rounded to nearest.
    rgb = np.stack([(2 * c * alpha + 255) // 510 for c in channels], axis=-1).astype(np.uint8)
    return rgb.repeat(scale, axis=0).repeat(scale, axis=1)


def noise(fb, seed=0):
    rng = np.random.default_rng(seed)
    fb.buffer()[:] = rng.integers(0, 256, (fb.height, fb.width), dtype=np.uint8)
    fb.palette()[:] = rng.integers(0, 2**24, 256, dtype=np.uint32) | 0xFF000000


def only_window():
    (window,) = sdl.windows()
    return window


# Odd widths leave a remainder after the unrolled loops; scales 1 to 3 have loops of their own,
# larger ones share one.
@pytest.mark.parametrize("width, height, scale", [(13, 7, 1), (13, 7, 2), (11, 5, 3), (9, 4, 5)])
def test_every_pixel_is_a_block_of_its_palette_colour(width, height, scale):
    with Framebuffer(width, height, scale=scale, fps=0) as fb:
        noise(fb)
        fb.flip()
        window = only_window()
        assert not sdl.has_renderer(window)  # drawn by flip itself, into the window surface
        np.testing.assert_array_equal(sdl.shown(window), expected(fb, scale))


def test_a_surface_the_pass_cannot_write_hands_that_very_frame_to_sdls_renderer():
    with Framebuffer(13, 7, scale=2, fps=0) as fb:
        noise(fb, 3)
        fb.flip()
        window = only_window()
        sdl.set_surface_format(window, 0x16172004)  # XRGB2101010: 10 bits a channel
        noise(fb, 4)
        fb.flip()
        assert sdl.has_renderer(window)  # for good
        np.testing.assert_array_equal(sdl.shown(window), expected(fb, 2))


def test_palette_and_picture_changes_show_at_the_next_flip_only():
    with Framebuffer(16, 9, scale=2, fps=0) as fb:
        noise(fb, 1)
        fb.flip()
        window = only_window()
        before = sdl.shown(window)
        palette = fb.palette()
        palette[fb.buffer()[3, 4]] ^= 0x00FFFFFF
        fb.buffer()[0, 0] ^= 1
        np.testing.assert_array_equal(sdl.shown(window), before)
        fb.flip()  # the palette changed: its colours are worked out again
        np.testing.assert_array_equal(sdl.shown(window), expected(fb, 2))
        palette[:] = palette[::-1].copy()
        fb.flip()
        np.testing.assert_array_equal(sdl.shown(window), expected(fb, 2))
        fb.buffer()[0, 0] = 200
        fb.flip()
        palette[200] ^= 0x00FFFFFF  # one entry far into the palette, and nothing else
        fb.flip()
        np.testing.assert_array_equal(sdl.shown(window), expected(fb, 2))


def test_translucent_entries_show_blended_over_black():
    with Framebuffer(256, 2, scale=1, fps=0) as fb:
        # Every alpha value, over white and over a colour of every channel value.
        fb.buffer()[0] = np.arange(256)
        fb.buffer()[1] = np.arange(256)
        palette = fb.palette()
        palette[:] = (np.arange(256, dtype=np.uint32) << 24) | 0xFFFFFF
        fb.flip()
        shown = sdl.shown(only_window())
        np.testing.assert_array_equal(shown, expected(fb, 1))
        assert (shown[0, 0] == 0).all() and (shown[0, 255] == 255).all()
        assert (shown[0, 128] == 128).all()
        palette[:] = (np.arange(256, dtype=np.uint32)[::-1] << 24) | 0x80FF01
        fb.flip()
        np.testing.assert_array_equal(sdl.shown(only_window()), expected(fb, 1))


def letterboxed(fb, out_w, out_h):
    """The picture magnified by the largest whole factor that fits, centred on black."""
    scale = max(1, min(out_w // fb.width, out_h // fb.height))
    picture = expected(fb, scale)
    x, y = (out_w - picture.shape[1]) // 2, (out_h - picture.shape[0]) // 2
    full = np.zeros((out_h, out_w, 3), np.uint8)
    # Where the picture is larger than the output it is cropped, centred all the same.
    src = picture[max(0, -y) : max(0, -y) + out_h, max(0, -x) : max(0, -x) + out_w]
    full[max(0, y) : max(0, y) + src.shape[0], max(0, x) : max(0, x) + src.shape[1]] = src
    return full, scale, x, y


@pytest.mark.parametrize(
    "width, height, scale",
    [
        (320, 200, 2),  # 960 x 600 at x3 in the dummy display's 1024 x 768
        (200, 192, 2),  # 800 x 768 at x4: fills the height, not the width
        (100, 77, 1),  # x9 vertically fits, x10 horizontally: the smaller wins
        (1100, 50, 1),  # wider than the display: cropped, centred
        (30, 900, 1),  # taller than the display
    ],
)
def test_fullscreen_letterboxes_at_a_whole_magnification_and_goes_back(width, height, scale):
    with Framebuffer(width, height, scale=scale, fps=0) as fb:
        noise(fb, 2)
        fb.flip()
        window = only_window()
        windowed = sdl.shown(window)
        fb.fullscreen = True
        assert fb.fullscreen is True
        fb.flip()
        sdl.fill_surface(window, 0xFFFFFF)  # the border is painted every frame, whatever was there
        fb.flip()
        shown = sdl.shown(window)
        assert shown.shape == (768, 1024, 3)
        picture, _, _, _ = letterboxed(fb, 1024, 768)
        np.testing.assert_array_equal(shown, picture)
        fb.fullscreen = False
        fb.flip()
        assert fb.fullscreen is False
        np.testing.assert_array_equal(sdl.shown(window), windowed)
