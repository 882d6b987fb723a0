"""Indexed pictures in and out (save_image, load_image, Framebuffer.save) and recordings of what a
framebuffer shows (Framebuffer.record), all read back by Pillow."""

import os
import stat
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import jxframebuf._images as images
from jxframebuf import Framebuffer, load_image, save_image

try:
    from PIL import Image
except ImportError:  # the members say how to install it: the test that needs none checks that
    Image = None
pillow = pytest.mark.skipif(Image is None, reason="needs Pillow")

rng = np.random.default_rng(7)
OPAQUE = 0xFF000000


def random_palette():
    palette = rng.integers(0, 2**32, 256, dtype=np.uint64).astype(np.uint32)
    palette[:4] = [0x00000000, 0x80FF8000, 0xFF00FF00, 0x01FFFFFF]
    return palette


@pillow
def test_saved_pictures_load_back_exactly(tmp_path, fb):
    pixels = rng.integers(0, 256, (9, 13), dtype=np.uint8)
    palette = random_palette()
    few = np.full(256, OPAQUE, np.uint32)
    few[:5] = palette[:5]
    cases = [
        (pixels, palette, pixels, palette),
        (pixels[::2, ::-3], palette, pixels[::2, ::-3], palette),  # any strides
        (pixels[:1, :1], palette[:5].tolist(), pixels[:1, :1], few),  # the rest opaque black
        (pixels, palette | OPAQUE, pixels, palette | OPAQUE),  # no alphas to keep
        (pixels, [], pixels, np.full(256, OPAQUE, np.uint32)),  # all opaque black
        # (n, 3): red, green and blue, opaque, as np.reshape(Pillow's getpalette(), (-1, 3)).
        (
            pixels,
            np.array([[1, 2, 3], [255, 0, 128]]),
            pixels,
            np.concatenate([[0xFF010203, 0xFFFF0080], np.full(254, OPAQUE, np.uint32)]).astype(
                np.uint32
            ),
        ),
    ]
    for i, (given_pixels, given_palette, expected_pixels, expected_palette) in enumerate(cases):
        save_image(tmp_path / f"{i}.PNG", given_pixels, given_palette)
        loaded_pixels, loaded_palette = load_image(tmp_path / f"{i}.PNG")
        assert loaded_pixels.dtype == np.uint8 and loaded_palette.dtype == np.uint32
        np.testing.assert_array_equal(loaded_pixels, expected_pixels)
        np.testing.assert_array_equal(loaded_palette, expected_palette)

    fb.buffer()[:] = rng.integers(0, 256, fb.buffer().shape, dtype=np.uint8)
    fb.palette()[:] = palette
    for scale in (1, 3):
        fb.save(str(tmp_path / "fb.png"), scale=scale)
        loaded_pixels, loaded_palette = load_image(str(tmp_path / "fb.png"))
        expected = np.repeat(np.repeat(fb.buffer(), scale, axis=0), scale, axis=1)
        np.testing.assert_array_equal(loaded_pixels, expected)
        np.testing.assert_array_equal(loaded_palette, palette)


@pillow
def test_load_image_reads_indexed_pngs_and_gifs_and_refuses_other_pictures(tmp_path):
    image = Image.frombytes("P", (4, 2), bytes([0, 1, 2, 3, 3, 2, 1, 0]))
    image.putpalette(bytes(range(12)))  # four colours
    image.save(tmp_path / "small.png", bits=2)
    image.save(tmp_path / "small.gif", transparency=2, optimize=False)
    expected = np.full(256, OPAQUE, np.uint32)
    expected[:4] = [0xFF000102, 0xFF030405, 0xFF060708, 0xFF090A0B]
    pixels, palette = load_image(tmp_path / "small.png")
    np.testing.assert_array_equal(pixels, [[0, 1, 2, 3], [3, 2, 1, 0]])
    np.testing.assert_array_equal(palette, expected)
    pixels, palette = load_image(tmp_path / "small.gif")
    np.testing.assert_array_equal(pixels, [[0, 1, 2, 3], [3, 2, 1, 0]])
    np.testing.assert_array_equal(palette[:4], [*expected[:2], 0x00060708, expected[3]])
    # A GIF whose colour table is the grey ramp, which Pillow opens as greyscale.
    image.putpalette(bytes(i // 3 for i in range(768)))
    image.save(tmp_path / "grey.gif", optimize=False)
    pixels, palette = load_image(tmp_path / "grey.gif")
    np.testing.assert_array_equal(pixels, [[0, 1, 2, 3], [3, 2, 1, 0]])
    np.testing.assert_array_equal(palette, OPAQUE | np.arange(256, dtype=np.uint32) * 0x010101)

    Image.new("RGB", (3, 3)).save(tmp_path / "rgb.png")
    Image.new("L", (3, 3)).save(tmp_path / "grey.png")
    with pytest.raises(ValueError, match=r"reads indexed .*rgb.png' is truecolour \(mode RGB\).*"
                       r"make it indexed first.*\.quantize\(256\)"):  # fmt: skip
        load_image(tmp_path / "rgb.png")
    with pytest.raises(ValueError, match=r"grey.png' is not indexed \(mode L\)"):
        load_image(tmp_path / "grey.png")


@pillow
def test_image_arguments_are_checked_before_anything_is_written(tmp_path, fb):
    png, pixels, palette = tmp_path / "x.png", np.zeros((2, 3), np.uint8), np.zeros(4, np.uint32)
    for call, error, text in [
        (lambda: save_image(tmp_path / "x.gif", pixels, palette), ValueError, r"writes \.png files"),
        (lambda: save_image(png, np.zeros((2, 2, 3), np.uint8), palette), ValueError, "2-D array of uint8; got 3 dimensions"),
        (lambda: save_image(png, np.zeros((2, 2)), palette), TypeError, "got float64$"),
        (lambda: save_image(png, np.zeros((2, 2), int), palette), TypeError, r"got int64: use \.astype\(np\.uint8\)$"),
        (lambda: save_image(png, np.zeros((0, 3), np.uint8), palette), ValueError, "empty picture"),
        (lambda: save_image(png, pixels, np.zeros(257, np.uint32)), ValueError, "up to 256 colours"),
        (lambda: save_image(png, pixels, [1.5]), TypeError, "got float64"),
        (lambda: save_image(png, pixels, [2**32]), ValueError, "outside 0 to 0xFFFFFFFF"),
        (lambda: save_image(png, pixels, [-1]), ValueError, "outside 0 to 0xFFFFFFFF"),
        (lambda: save_image(png, pixels, [0, 10, 20, 255, 0, 7]), ValueError, r"flat list of 6 values 0 to 255.*np\.reshape\(p, \(-1, 3\)\)"),
        (lambda: save_image(png, pixels, None), TypeError, r"expects a palette of up to 256 colours 0xAARRGGBB, or an \(n, 3\) array of red, green and blue; got None$"),
        (lambda: save_image(png, pixels, [[1, 2, 256]]), ValueError, "outside 0 to 0xFF$"),
        (lambda: save_image(png, pixels, np.zeros((2, 4), np.uint8)), ValueError, r"got shape \(2, 4\)"),
        (lambda: fb.save(png, scale=0), ValueError, "scale must be at least 1, not 0"),
        (lambda: fb.save(png, scale=1.5), TypeError, "integer"),
        (lambda: fb.record(tmp_path / "x.mp4"), ValueError, r"writes \.gif or \.png files"),
        (lambda: fb.record(tmp_path / "missing" / "x.gif"), FileNotFoundError, "missing"),
        (lambda: Framebuffer.__new__(Framebuffer).save(png), TypeError, "__init__"),
        (lambda: Framebuffer.__new__(Framebuffer).record(None), TypeError, "__init__"),
    ]:  # fmt: skip
        with pytest.raises(error, match=text):
            call()
    assert not list(tmp_path.iterdir())


def test_without_pillow_the_image_members_say_how_to_install_it(tmp_path, fb, monkeypatch):
    monkeypatch.setitem(sys.modules, "PIL", None)
    pixels, palette = np.zeros((2, 2), np.uint8), np.zeros(256, np.uint32)
    for call in (
        lambda: save_image(tmp_path / "x.png", pixels, palette),
        lambda: load_image(tmp_path / "x.png"),
        lambda: fb.save(tmp_path / "x.png"),
        lambda: fb.record(tmp_path / "x.gif"),
    ):
        with pytest.raises(ImportError, match=r"needs Pillow.*: pip install jxframebuf\[image\]$"):
            call()
    assert not list(tmp_path.iterdir())


def shown(fb):
    """The colours the window shows: translucent palette entries blended over black."""
    argb = fb.palette().astype(np.int64)
    alpha = argb >> 24
    channels = [(argb >> shift) & 0xFF for shift in (16, 8, 0)]
    rgb = np.stack([np.where(alpha == 255, c, (2 * c * alpha + 255) // 510) for c in channels], 1)
    return rgb.astype(np.uint8)[fb.buffer()]


class Clock:
    """Stands in for the recorder's clock: the time at which each flip() shows its frame."""

    def __init__(self):
        self.ms = 0.0

    def __call__(self):
        return round(self.ms * 1_000_000)


# The frames shown and when, in milliseconds: frame 1 lasts 5 ms, less than a GIF can play (browsers
# play delays under 20 ms as 100 ms), so that frame 2 takes its place from its start there; frame
# 3 lasts exactly the shortest delay a GIF plays, and stays; frame 4 is shown twice; frame 5 lasts
# 10 s, longer than an animated PNG's finest unit holds (6.5535 s); the recording stops 10 ms after
# frame 6 appears, which then lasts as long as frame 5 did.
EXPECTED = {
    ".gif": [(0, 100), (2, 100), (3, 20), (4, 80), (5, 10_000), (6, 10_000)],
    ".png": [(0, 100), (1, 5), (2, 95), (3, 20), (4, 80), (5, 10_000), (6, 10_000)],
}


@pillow
@pytest.mark.parametrize("suffix", EXPECTED)
def test_a_recording_plays_back_the_frames_shown_at_their_times(tmp_path, fb, monkeypatch, suffix):
    clock = Clock()
    monkeypatch.setattr(images, "_now", clock)
    pixels, palette = fb.buffer(), fb.palette()
    pixels[:] = rng.integers(0, 8, pixels.shape, dtype=np.uint8)
    palette[:8] = random_palette()[:8]

    def change_box():
        pixels[3:9, 5:12] = rng.integers(0, 8, (6, 7), dtype=np.uint8)

    def animate_palette():
        palette[:8] = np.roll(palette[:8], 1)

    frames = []
    fb.record(tmp_path / f"out{suffix}")
    for ms, change in [(0, None), (100, change_box), (105, animate_palette), (200, change_box),
                       (220, animate_palette), (250, None),
                       (300, lambda: (change_box(), animate_palette())),
                       (10_300, change_box)]:  # fmt: skip
        if change:
            change()
        clock.ms = ms
        fb.flip()
        frames.append(shown(fb))
    clock.ms = 10_310
    fb.record(None)
    del frames[5]  # the same as frame 4

    with Image.open(tmp_path / f"out{suffix}") as image:
        played = []
        for i in range(image.n_frames):
            image.seek(i)
            played.append((np.array(image.convert("RGB")), image.info["duration"]))
    assert [duration for _, duration in played] == [ms for _, ms in EXPECTED[suffix]]
    for (picture, _), (index, _) in zip(played, EXPECTED[suffix]):
        np.testing.assert_array_equal(picture, frames[index])


@pillow
def test_a_failed_recording_is_reported_once_by_flip_and_stops(tmp_path, fb, monkeypatch):
    def disk_full(*args):
        raise OSError(28, "No space left on device")

    clock = Clock()
    monkeypatch.setattr(images, "_now", clock)
    monkeypatch.setattr(images._GifWriter, "write", disk_full)
    fb.record(tmp_path / "out.gif")
    with pytest.raises(OSError, match="No space left"):
        for _ in range(500):
            clock.ms += 50
            fb.clear(int(clock.ms) % 7)
            fb.flip()
            time.sleep(0.01)
    fb.flip()  # no longer recording
    fb.record(None)


RECORDER = """
import sys
from jxframebuf import Framebuffer

folder = sys.argv[1]
gone = Framebuffer(16, 8, fps=0)
gone.record(folder + "/gone.gif")
gone.flip()
del gone  # finished as the framebuffer goes
fb = Framebuffer(16, 8, fps=0)
fb.record(folder + "/still.png")  # no frame shown: the picture as recording started
fb.clear(3)
fb.record(folder + "/exit.gif")  # finishes still.png
fb.flip()
fb.quit()
# exits while recording exit.gif
"""


@pillow
def test_a_recording_is_finished_however_the_program_ends(tmp_path):
    env = dict(os.environ, SDL_VIDEO_DRIVER="dummy")
    done = subprocess.run([sys.executable, "-c", RECORDER, str(tmp_path)], env=env,
                          capture_output=True, text=True, timeout=60)  # fmt: skip
    assert done.returncode == 0, done.stderr
    assert not done.stderr
    # Black (index 0) everywhere, then green (index 3) in the default palette.
    for name, colour in [
        ("gone.gif", (0, 0, 0)),
        ("still.png", (0, 0, 0)),
        ("exit.gif", (0, 255, 0)),
    ]:
        with Image.open(tmp_path / name) as image:
            assert image.n_frames == 1
            assert (np.array(image.convert("RGB")) == colour).all(), name


@pillow
def test_saves_replace_a_file_whole_or_leave_it_as_it_was(tmp_path, fb, monkeypatch):
    good = tmp_path / "good.png"
    save_image(good, np.zeros((2, 2), np.uint8), [OPAQUE])
    os.chmod(good, 0o640)
    (tmp_path / "link.png").symlink_to(good)
    fb.clear(5)
    fb.save(tmp_path / "link.png")  # through the link: the file it names is replaced
    assert (tmp_path / "link.png").is_symlink() and load_image(good)[0][0, 0] == 5
    assert os.stat(good).st_mode & 0o777 == 0o640
    before = good.read_bytes()

    def fails_half_way(image, file, *args, **kwargs):
        file.write(b"\x89PNG half")
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(Image.Image, "save", fails_half_way)
    for name in ("good.png", "new.png"):
        with pytest.raises(OSError, match="No space left"):
            fb.save(tmp_path / name)
    assert good.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["good.png", "link.png"]
    monkeypatch.undo()
    # What is no regular file is written in place: a FIFO, read as it is written.
    fifo = tmp_path / "fifo.png"
    os.mkfifo(fifo)
    read = []
    reader = threading.Thread(target=lambda: read.append(fifo.read_bytes()))
    reader.start()
    fb.save(fifo)
    reader.join()
    assert read[0].startswith(b"\x89PNG") and stat.S_ISFIFO(os.stat(fifo).st_mode)


@pytest.fixture
def small_disk(tmp_path):
    """A 64 KiB file system (tmpfs), which fills up; needs root, or the test is skipped."""
    folder = tmp_path / "disk"
    folder.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)],
                             capture_output=True, check=False)  # fmt: skip
    if mounted.returncode != 0:
        pytest.skip("mounting a tmpfs needs root")
    try:
        yield folder
    finally:
        subprocess.run(["umount", "-l", str(folder)], check=True)


@pillow
@pytest.mark.parametrize("suffix", [".gif", ".png"])
def test_on_a_full_disk_every_write_error_is_raised_once_and_no_file_is_lost(
    small_disk, framebuffers, suffix, capfd
):
    noise = rng.integers(0, 256, (160, 160), dtype=np.uint8)  # about 26 KB however packed
    kept = small_disk / "kept.png"
    save_image(kept, noise[:8, :8], random_palette())
    before = kept.read_bytes()
    filler = small_disk / "filler"
    filler.write_bytes(bytes(48 << 10))
    with pytest.raises(OSError, match="No space left"):
        save_image(kept, noise, random_palette())
    assert kept.read_bytes() == before and sorted(os.listdir(small_disk)) == ["filler", "kept.png"]
    filler.unlink()

    # A recording that never flipped writes its one frame at the end: record(None) raises.
    still = framebuffers(160, 160, scale=1, fps=0)
    still.buffer()[:] = noise
    still.palette()[:] = random_palette() | OPAQUE  # noise in every format
    still.record(small_disk / f"still{suffix}")
    filler.write_bytes(bytes(56 << 10))
    with pytest.raises(OSError, match="No space left"):
        still.record(None)
    # A running one: the first flip after the failure raises it, and neither quit() nor
    # anything later raises it again.
    (small_disk / f"still{suffix}").unlink()
    filler.unlink()
    loop = framebuffers(160, 160, scale=1, fps=0)
    loop.palette()[:] = random_palette() | OPAQUE
    loop.record(small_disk / f"loop{suffix}")
    raised = 0
    for i in range(40):
        loop.buffer()[:] = np.roll(noise, i, axis=1)
        try:
            loop.flip()
        except OSError:
            raised += 1
        time.sleep(0.03)
    loop.quit()
    assert raised == 1
    assert not capfd.readouterr().err  # no thread's traceback


CUT = """
import os, signal, sys, time
from jxframebuf import Framebuffer

gif, png = Framebuffer(16, 8, fps=0), Framebuffer(16, 8, fps=0)
gif.record(sys.argv[1] + "/cut.gif")
png.record(sys.argv[1] + "/cut.png")
for i in range(10):
    for fb in (gif, png):
        fb.palette()[0] = 0xFF000000 | 0x1A0D07 * (i + 1)
        fb.flip()
    time.sleep(0.03)  # longer than a GIF's shortest delay: no frame is dropped
time.sleep(0.5)  # the writers catch up: frames 0 to 8 written, 9 on screen
os.kill(os.getpid(), signal.SIGKILL)
"""


@pillow
def test_a_recording_cut_short_keeps_every_frame_written(tmp_path):
    env = dict(os.environ, SDL_VIDEO_DRIVER="dummy")
    done = subprocess.run([sys.executable, "-c", CUT, str(tmp_path)], env=env,
                          capture_output=True, text=True, timeout=60)  # fmt: skip
    assert done.returncode == -9, done.stderr
    colours = [0x1A0D07 * (i + 1) for i in range(9)]
    for name in ("cut.gif", "cut.png"):
        with Image.open(tmp_path / name) as image:
            assert image.n_frames == 9, name
            for i, colour in enumerate(colours):
                image.seek(i)
                r, g, b = image.convert("RGB").getpixel((15, 7))
                assert r << 16 | g << 8 | b == colour, (name, i)


@pillow
def test_quit_finishes_a_recording_and_one_file_takes_one_recording(tmp_path, framebuffers):
    first, second = framebuffers(16, 8, fps=0), framebuffers(16, 8, fps=0)
    first.record(tmp_path / "one.gif")
    os.link(tmp_path / "one.gif", tmp_path / "same.gif")
    for name in ("one.gif", "same.gif", "./one.gif"):
        with pytest.raises(ValueError, match="another framebuffer is recording to that file"):
            second.record(tmp_path / name)
    first.flip()
    first.quit()  # finishes it: the file is whole while `first` lives on
    with Image.open(tmp_path / "one.gif") as image:
        assert image.n_frames == 1
    second.record(tmp_path / "one.gif")  # free again
    second.record(None)


@pillow
def test_quit_raises_a_write_error_and_leaving_a_failing_block_keeps_its_own(tmp_path, monkeypatch):
    def disk_full(*args):
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(images._GifWriter, "write", disk_full)
    fb = Framebuffer(8, 8, fps=0)
    fb.record(tmp_path / "a.gif")
    with pytest.raises(OSError, match="No space left"):
        fb.quit()
    fb.quit()  # said once
    with pytest.raises(ZeroDivisionError) as raised, Framebuffer(8, 8, fps=0) as fb:
        fb.record(tmp_path / "b.gif")
        1 / 0  # noqa: B018
    assert "quit() raised OSError: [Errno 28] No space left" in raised.value.__notes__[0]
    assert isinstance(raised.value.__context__, OSError)
