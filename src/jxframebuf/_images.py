"""Indexed pictures in and out, and recordings of what a framebuffer shows, as PNG and GIF files.

Pillow, an optional dependency, does all the encoding and decoding; it is imported by the calls
that need it, so that the rest of the module works without it.
"""

from __future__ import annotations

import contextlib
import operator
import os
import queue
import secrets
import stat
import struct
import sys
import threading
import time
import weakref
from collections.abc import Callable
from typing import TYPE_CHECKING, Any, BinaryIO, ClassVar, NamedTuple

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from . import Framebuffer

INSTALL = "pip install jxframebuf[image]"
OPAQUE_BLACK = 0xFF000000


def _pillow(caller: str) -> Any:
    """Pillow's Image module, or the ImportError that says how to get it."""
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError(f"{caller} needs Pillow, an optional dependency: {INSTALL}") from error
    return Image


def _file_name(caller: str, path: str | os.PathLike[str], suffixes: tuple[str, ...]) -> str:
    name = os.fspath(path)
    if not isinstance(name, str):
        raise TypeError(
            f"{caller} expects a path as str or os.PathLike[str], not {type(name).__name__}"
        )
    if os.path.splitext(name)[1].lower() not in suffixes:
        kinds = " or ".join(suffixes)
        raise ValueError(f"{caller} writes {kinds} files: name the file {kinds}, not {name!r}")
    return name


def _pixels(caller: str, pixels: Any) -> npt.NDArray[np.uint8]:
    array = np.asarray(pixels)
    expected = f"{caller} expects pixels as a 2-D array of uint8"
    if array.ndim != 2:
        raise ValueError(f"{expected}; got {array.ndim} dimension{'' if array.ndim == 1 else 's'}")
    if array.dtype != np.uint8:
        hint = ": use .astype(np.uint8)" if array.dtype.kind in "biu" else ""
        raise TypeError(f"{expected}; got {array.dtype}{hint}")
    if array.size == 0:
        raise ValueError(f"{caller} cannot write an empty picture of shape {array.shape}")
    return array


def _palette(caller: str, palette: Any) -> npt.NDArray[np.uint32]:
    """Up to 256 colours 0xAARRGGBB, or up to 256 rows of red, green and blue (opaque), as the
    256 entries of a palette, the missing ones opaque black."""
    expected = (
        f"{caller} expects a palette of up to 256 colours 0xAARRGGBB, or an (n, 3) array of red, "
        "green and blue"
    )
    if palette is None:
        raise TypeError(f"{expected}; got None")
    array = np.asarray(palette)
    if (
        isinstance(palette, (list, tuple))
        and array.ndim == 1
        and array.size % 3 == 0
        and array.dtype.kind in "ui"
        and int(array.min(initial=0)) >= 0
        and int(array.max(initial=0)) <= 255
        and array.size
    ):
        # Pillow's getpalette() gives such a list; so would colours whose alpha is 0.
        raise ValueError(
            f"{caller} got a flat list of {array.size} values 0 to 255, which could be red, "
            "green and blue in turn (as Pillow's getpalette() gives them) or colours 0xAARRGGBB "
            "with alpha 0: pass np.reshape(p, (-1, 3)) for red, green and blue, or "
            "np.array(p, np.uint32) for colours"
        )
    rgb = array.ndim == 2 and array.shape[1] == 3
    if not (array.ndim == 1 or rgb) or len(array) > 256:
        raise ValueError(f"{expected}; got shape {array.shape}")
    if array.dtype.kind not in "ui" and array.size:  # [] is float64 to NumPy: no colours
        raise TypeError(f"{expected}; got {array.dtype}")
    top = 0xFF if rgb else 0xFFFFFFFF
    if array.size and (int(array.min()) < 0 or int(array.max()) > top):
        raise ValueError(f"{expected}; got a value outside 0 to {top:#X}".replace("0X", "0x"))
    if rgb:
        red, green, blue = array.astype(np.uint32).T
        array = OPAQUE_BLACK | red << 16 | green << 8 | blue
    full = np.full(256, OPAQUE_BLACK, np.uint32)
    full[: len(array)] = array.astype(np.uint32)
    return full


def _channels(palette: npt.NDArray[np.uint32]) -> npt.NDArray[np.uint8]:
    """The palette as (256, 4) bytes: red, green, blue, alpha."""
    argb = palette.astype(">u4").view(np.uint8).reshape(256, 4)
    return argb[:, [1, 2, 3, 0]]


def _replace(name: str, write: Callable[[BinaryIO], None]) -> None:
    """Calls write(file) to make the file `name`: a new file beside it, renamed over it once
    complete, so that a failure (a full disk) leaves the old file as it was and no new one. The
    new file keeps the old one's permissions. A target that is no regular file (a FIFO, a
    terminal, /dev/stdout) is written in place, and so is a file in a folder where no new file
    may be made."""
    real = os.path.realpath(name)
    try:
        mode: int | None = os.stat(real).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and not stat.S_ISREG(mode):
        with open(real, "wb") as file:
            write(file)
        return
    folder, base = os.path.split(real)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)
    while True:
        temporary = os.path.join(folder, f".{base}.{secrets.token_hex(4)}.tmp")
        try:
            descriptor = os.open(temporary, flags, 0o666)  # the umask applies, as to open()
            break
        except FileExistsError:
            continue
        except PermissionError:
            if mode is None:
                raise
            with open(real, "wb") as file:  # the folder is closed to new files
                write(file)
            return
    try:
        with open(descriptor, "wb") as file:
            write(file)
            file.flush()
            os.fsync(file.fileno())
        if mode is not None:
            os.chmod(temporary, stat.S_IMODE(mode))
        os.replace(temporary, real)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _write_png(
    image_module: Any, name: str, pixels: npt.NDArray[np.uint8], palette: npt.NDArray[np.uint32]
) -> None:
    height, width = pixels.shape
    image = image_module.frombytes("P", (width, height), np.ascontiguousarray(pixels).tobytes())
    rgba = _channels(palette)
    if (rgba[:, 3] == 0xFF).all():
        image.putpalette(rgba[:, :3].tobytes(), "RGB")
    else:  # the alphas go into a tRNS chunk
        image.putpalette(rgba.tobytes(), "RGBA")
    _replace(name, lambda file: image.save(file, "PNG"))


def save_image(path: str | os.PathLike[str], pixels: npt.ArrayLike, palette: npt.ArrayLike) -> None:
    """Writes a 2-D uint8 array of palette indices and up to 256 colours 0xAARRGGBB (the rest
    opaque black) to an indexed PNG file, every entry exact, alpha included. Needs Pillow."""
    image_module = _pillow("save_image()")
    name = _file_name("save_image()", path, (".png",))
    _write_png(
        image_module, name, _pixels("save_image()", pixels), _palette("save_image()", palette)
    )


def load_image(
    path: str | os.PathLike[str],
) -> tuple[npt.NDArray[np.uint8], npt.NDArray[np.uint32]]:
    """Reads an indexed PNG or GIF: its (height, width) uint8 indices and its 256 colours
    0xAARRGGBB, exact (unused entries opaque black). Needs Pillow."""
    image_module = _pillow("load_image()")
    with image_module.open(path) as image:
        if image.mode == "P":
            rgba = image.getpalette("RGBA") or []
        elif image.mode == "L" and image.format == "GIF":
            # Pillow opens a GIF whose colour table is the grey ramp (index i is grey i) as
            # greyscale: its indices are the grey levels.
            rgba = [v for i in range(256) for v in (i, i, i, 0xFF)]
        else:
            kind = "truecolour" if len(image.getbands()) >= 3 else "not indexed"
            raise ValueError(
                f"load_image() reads indexed (palette) images; {os.fspath(path)!r} is {kind} "
                f"(mode {image.mode}), and its colours are not reduced to a palette here: make "
                "it indexed first, for example with Pillow: "
                "Image.open(path).convert('RGBA').quantize(256).save('indexed.png')"
            )
        pixels = np.array(image, dtype=np.uint8)
        channels = np.array(rgba, np.uint32).reshape(-1, 4)
        transparency = image.info.get("transparency")
    count = len(channels)
    if isinstance(transparency, bytes):  # PNG: an alpha for each of the first entries
        alphas = np.frombuffer(transparency[:count], np.uint8)
        channels[: len(alphas), 3] = alphas
    elif isinstance(transparency, int) and transparency < count:  # one transparent index
        channels[transparency, 3] = 0
    palette = np.full(256, OPAQUE_BLACK, np.uint32)
    red, green, blue, alpha = channels.T
    palette[:count] = alpha << 24 | red << 16 | green << 8 | blue
    return pixels, palette


def save(self: Framebuffer, path: str | os.PathLike[str], scale: int = 1) -> None:
    """Writes the picture and the palette as they are now to an indexed PNG file, every pixel a
    scale x scale block. Needs Pillow."""
    image_module = _pillow("save()")
    name = _file_name("save()", path, (".png",))
    scale = operator.index(scale)
    if scale < 1:
        raise ValueError(f"save() scale must be at least 1, not {scale}")
    pixels = self.buffer()
    if scale > 1:
        pixels = np.repeat(np.repeat(pixels, scale, axis=0), scale, axis=1)
    _write_png(image_module, name, pixels, self.palette().copy())


# --- Recordings ----------------------------------------------------------------------------------


def _shown(palette: npt.NDArray[np.uint32]) -> npt.NDArray[np.uint8]:
    """(256, 3): the colour the window shows for each index, translucent entries blended over
    black (each channel times alpha / 255, rounded to nearest), as flip() draws them."""
    rgba = _channels(palette).astype(np.uint32)
    alpha = rgba[:, 3:]
    blended = np.where(alpha == 0xFF, rgba[:, :3], (2 * rgba[:, :3] * alpha + 255) // 510)
    return np.ascontiguousarray(blended, dtype=np.uint8)


# A picture is kept as one 0x00RRGGBB word per pixel: a lookup, a comparison or a search for the
# changed box costs a tenth of what it does on three bytes per pixel. Pillow reads the words as
# they lie in memory.
_WORDS = "BGRX" if sys.byteorder == "little" else "XRGB"


class _Frame(NamedTuple):
    """A frame as shown: its indices, the colours its palette showed (see _shown), the picture
    those make (0x00RRGGBB words, (height, width)), and when it appeared, in the writer's ticks."""

    pixels: npt.NDArray[np.uint8]
    colours: npt.NDArray[np.uint8]
    picture: npt.NDArray[np.uint32]
    start: int

    @classmethod
    def shown(
        cls, pixels: npt.NDArray[np.uint8], palette: npt.NDArray[np.uint32], start: int
    ) -> _Frame:
        colours = _shown(palette)
        words = colours.astype(np.uint32) @ np.array([1 << 16, 1 << 8, 1], np.uint32)
        return cls(pixels, colours, np.take(words, pixels), start)


class _Writer:
    """What the two kinds of file share: after the first frame, each frame is written as the box
    in which its picture differs from the one before it (a 1x1 box when none does: a frame cannot
    be empty), laid over what was there.

    After each frame the file is ended as a finished file would be, and handed to the operating
    system: a program that stops without finishing its recording (killed, os._exit, a crash)
    leaves an animation of every frame written so far. The next frame is written over that
    ending. A file that cannot seek (a pipe) is ended once, by finish()."""

    TICK_NS: int
    SHORTEST: int  # the shortest delay, in ticks, that players play as written

    def __init__(self, file: BinaryIO) -> None:
        self._file = file
        self._seekable = file.seekable()
        self._last: npt.NDArray[np.uint32] | None = None

    def ticks(self, ns: int) -> int:
        return round(ns / self.TICK_NS)

    def _box(self, picture: npt.NDArray[np.uint32]) -> tuple[int, int, int, int]:
        """(x0, y0, x1, y1) of what to write of `picture`, which is written next."""
        last, self._last = self._last, picture
        if last is None:
            return 0, 0, picture.shape[1], picture.shape[0]
        differ = picture != last
        rows, cols = np.flatnonzero(differ.any(axis=1)), np.flatnonzero(differ.any(axis=0))
        if not len(rows):
            return 0, 0, 1, 1
        return int(cols[0]), int(rows[0]), int(cols[-1]) + 1, int(rows[-1]) + 1

    def _end(self) -> None:
        """Writes what ends the file after its last frame."""
        raise NotImplementedError

    def _committed(self) -> None:
        """Ends the file after the frame just written and flushes it (see the class)."""
        if self._seekable:
            end = self._file.tell()
            self._end()
            self._file.seek(end)  # flushes; the next frame goes over the ending

    def finish(self) -> None:
        if self._seekable:
            self._file.seek(0, os.SEEK_END)
        else:
            self._end()


class _GifWriter(_Writer):
    """An animated GIF, written a frame at a time: each frame indexed, with a local colour table
    where its colours differ from the first frame's. Delays are whole hundredths of a second, and
    browsers play any under 2 as 10: the recording never writes one (see _Recording)."""

    TICK_NS = 10_000_000
    SHORTEST = 2

    def __init__(self, file: BinaryIO) -> None:
        from PIL import GifImagePlugin, Image

        super().__init__(file)
        self._gif: Any = GifImagePlugin
        self._image: Any = Image
        self._first: npt.NDArray[np.uint8] | None = None  # the global colour table

    def write(self, frame: _Frame, ticks: int) -> None:
        x0, y0, x1, y1 = self._box(frame.picture)
        part = np.ascontiguousarray(frame.pixels[y0:y1, x0:x1])
        image = self._image.frombytes("P", (x1 - x0, y1 - y0), part.tobytes())
        image.putpalette(frame.colours.tobytes())
        if self._first is None:
            header, _ = self._gif.getheader(image, None, {"loop": 0, "optimize": False})
            self._file.write(b"".join(header))
            self._first = frame.colours
        local = not np.array_equal(frame.colours, self._first)
        data = self._gif.getdata(
            image, (x0, y0), duration=ticks * 10, disposal=1, include_color_table=local
        )
        self._file.write(b"".join(data))
        # The list belongs to a class that getdata() makes for each call, which only the cyclic
        # garbage collector frees, late: emptied now, it holds no frame's worth of bytes till then.
        data.clear()
        self._committed()

    def _end(self) -> None:
        self._file.write(b";")


class _PngWriter(_Writer):
    """An animated PNG, written a frame at a time. PNG keeps one palette for all its frames, so
    the frames are truecolour, the colours shown. Delays are in tenths of a millisecond."""

    TICK_NS = 100_000
    SHORTEST = 1
    SIGNATURE = b"\x89PNG\r\n\x1a\n"
    # Pillow's fastest deflate: a recording keeps up with the frame loop before it saves bytes.
    COMPRESS_LEVEL = 1

    def __init__(self, file: BinaryIO) -> None:
        from PIL import Image, PngImagePlugin

        super().__init__(file)
        self._png: Any = PngImagePlugin
        self._image: Any = Image
        self._sequence = 0  # of the fcTL and fdAT chunks
        self._frames = 0
        self._actl_at = 0  # where the frame count is written

    def _chunk(self, kind: bytes, *data: bytes) -> None:
        self._png.putchunk(self._file, kind, *data)

    def _animation_control(self) -> None:
        self._chunk(b"acTL", struct.pack(">II", self._frames, 0))  # 0: loops for ever

    def write(self, frame: _Frame, ticks: int) -> None:
        first = self._frames == 0
        x0, y0, x1, y1 = self._box(frame.picture)
        part = np.ascontiguousarray(frame.picture[y0:y1, x0:x1])
        image = self._image.frombuffer("RGB", (x1 - x0, y1 - y0), part, "raw", _WORDS, 0, 1)
        chunks = self._png.getchunks(image, compress_level=self.COMPRESS_LEVEL)
        if first:
            self._file.write(self.SIGNATURE)
            self._chunk(b"IHDR", next(data for kind, data, _ in chunks if kind == b"IHDR"))
            self._actl_at = self._file.tell()
            self._animation_control()
        # A delay of ticks / 10000 s while it fits 16 bits, then in coarser units.
        numerator, denominator = ticks, 10_000
        while numerator > 0xFFFF and denominator > 1:
            numerator, denominator = round(numerator / 10), denominator // 10
        control = struct.pack(
            ">IIIIIHHBB", self._sequence, x1 - x0, y1 - y0, x0, y0,
            min(numerator, 0xFFFF), denominator, 0, 0,
        )  # fmt: skip
        self._chunk(b"fcTL", control)
        self._sequence += 1
        for kind, data, _ in chunks:
            if kind != b"IDAT":
                continue
            if first:
                self._chunk(b"IDAT", data)
            else:
                self._chunk(b"fdAT", struct.pack(">I", self._sequence), data)
                self._sequence += 1
        self._frames += 1
        self._committed()

    def _end(self) -> None:
        # The frames and the ending reach the file before the count that takes them in: cut in
        # between, the file still plays every frame its count names.
        self._chunk(b"IEND", b"")
        self._file.seek(self._actl_at)
        self._animation_control()


_STOP = object()
_now = time.perf_counter_ns  # when a frame was shown; tests put a clock of their own here


class _Recording:
    """Takes the frames a framebuffer shows (capture(), from flip) and writes them to a file on a
    thread of its own, so that encoding never holds up the frame loop; the queue between the two
    holds at most about a second of frames.

    Frames are timed from the moment flip() showed them. A frame the same as the one before it
    (in the colours it shows) lengthens that one. A frame that would last less than the shortest
    delay the format plays as written (two hundredths of a second in a GIF) is dropped, and the
    next one takes its place from its start: the animation keeps real time, and shows what was on
    screen at the end of each stretch."""

    QUEUE_BYTES = 32 << 20
    # The files being recorded, as (device, inode): a second recording to one of them (under
    # whatever name) would cut the first one's file short under it.
    _files: ClassVar[set[tuple[int, int]]] = set()
    _files_lock = threading.Lock()

    def __init__(
        self, name: str, pixels: npt.NDArray[np.uint8], palette: npt.NDArray[np.uint32], detach: Any
    ) -> None:
        # Opened without cutting it short, so that a file another recording writes is refused
        # untouched, and without the lock held: opening a FIFO waits for its reader.
        descriptor = os.open(name, os.O_WRONLY | os.O_CREAT | getattr(os, "O_BINARY", 0), 0o666)
        file = open(descriptor, "wb")  # noqa: SIM115 (closed by the thread that writes it)
        try:
            status = os.fstat(descriptor)
            self._key = self._identity(status)
            with self._files_lock:
                if self._key in self._files:
                    raise ValueError(
                        f"record() cannot record to {name!r}: another framebuffer is recording "
                        "to that file; stop that recording first (record(None))"
                    )
                self._files.add(self._key)
        except BaseException:
            file.close()
            raise
        try:
            if stat.S_ISREG(status.st_mode):
                file.truncate(0)
            writer_class = _GifWriter if name.lower().endswith(".gif") else _PngWriter
            self._writer: _GifWriter | _PngWriter = writer_class(file)
        except BaseException:
            self._release()
            file.close()
            raise
        self._file = file
        # The picture as recording started: the one frame of a recording that saw no flip.
        self._still = pixels.copy(), palette.copy()
        self._detach = detach
        frame_bytes = pixels.nbytes + palette.nbytes
        self._queue: queue.Queue[Any] = queue.Queue(
            max(2, min(60, self.QUEUE_BYTES // frame_bytes))
        )
        self._error: BaseException | None = None
        self._reported = False
        self._thread = threading.Thread(
            target=self._run, name=f"jxframebuf recording {name}", daemon=True
        )
        try:
            self._thread.start()
        except BaseException:
            self._release()
            file.close()
            raise

    def capture(self, pixels: npt.NDArray[np.uint8], palette: npt.NDArray[np.uint32]) -> None:
        """flip()'s hook: copies of the frame it has just shown."""
        if self._error is not None:
            self._detach()
            self._reported = True
            self._stop()
            raise self._error
        self._queue.put((pixels, palette, _now()))

    @staticmethod
    def _identity(status: os.stat_result) -> tuple[int, int]:
        return status.st_dev, status.st_ino

    def _stop(self) -> None:
        if self._thread.is_alive():
            self._queue.put((_STOP, _now()))
            # The framebuffer may be collected on the writing thread itself: it then finishes the
            # file once it comes to the end of the queue.
            if threading.current_thread() is not self._thread:
                self._thread.join()

    def finish(self) -> None:
        """Ends the recording: writes what is queued, finishes the file and closes it; raises
        what went wrong while writing, unless a flip() has raised it already."""
        self._stop()
        if self._error is not None and not self._reported:
            self._reported = True
            raise self._error

    def _run(self) -> None:
        writer = self._writer
        pending: _Frame | None = None  # the frame on screen
        previous = 0  # how long the frame before it lasted, in ticks
        start: int | None = None
        item: Any = (None, 0)

        try:
            while True:
                item = self._queue.get()
                if item[0] is _STOP:
                    break
                pixels, palette, ns = item
                start = ns if start is None else start
                shown = _Frame.shown(pixels, palette, writer.ticks(ns - start))
                if pending is not None:
                    if np.array_equal(shown.picture, pending.picture):
                        continue  # the frame on screen stays longer
                    if shown.start - pending.start < writer.SHORTEST:
                        pending = shown._replace(start=pending.start)
                        continue
                    previous = shown.start - pending.start
                    writer.write(pending, previous)
                pending = shown
            if pending is None or start is None:
                pending, start = _Frame.shown(*self._still, 0), item[1]
            end = writer.ticks(item[1] - start)
            # The last frame lasts until the recording stopped, and at least as long as the
            # frame before it (or a tenth of a second).
            last = max(end - pending.start, previous or writer.ticks(100_000_000), writer.SHORTEST)
            writer.write(pending, last)
            writer.finish()
            self._file.close()  # may fail too: the last bytes are written here
        except BaseException as error:
            self._error = error
            while item[0] is not _STOP:  # nothing written any more, and no flip held up
                item = self._queue.get()
        finally:
            try:
                self._file.close()  # after a failure: closed, what it raises already said
            except BaseException as error:
                self._error = self._error or error
            self._release()

    def _release(self) -> None:
        with self._files_lock:
            self._files.discard(self._key)


def _on_flip(fb: Any, capture: Any) -> None:
    """Sets (or with None removes) the framebuffer's frame hook: a private member of the class."""
    fb._on_flip(capture)


_recordings: weakref.WeakKeyDictionary[Framebuffer, tuple[_Recording, weakref.finalize[Any, Any]]]
_recordings = weakref.WeakKeyDictionary()


def record(self: Framebuffer, path: str | os.PathLike[str] | None) -> None:
    """Records every frame flip() shows, with its palette and time, to an animated .gif or .png
    file; record(None) stops and finishes the file. Needs Pillow."""
    name = None
    if path is not None:
        _pillow("record()")
        name = _file_name("record()", path, (".gif", ".png"))
    self.buffer()  # refuses a framebuffer whose __init__ has not run, as every member does
    stop(self)
    if name is None:
        return
    owner = weakref.ref(self)

    def detach() -> None:
        framebuffer = owner()
        if framebuffer is not None and framebuffer in _recordings:
            _on_flip(framebuffer, None)
            _recordings.pop(framebuffer)[1].detach()

    recording = _Recording(name, self.buffer(), self.palette(), detach)
    # The file is finished by record(None), or when the framebuffer goes, or at the latest when
    # the interpreter exits.
    _recordings[self] = recording, weakref.finalize(self, recording.finish)
    _on_flip(self, recording.capture)


def stop(fb: Framebuffer) -> None:
    """Finishes the framebuffer's recording, if it has one (record(None) and quit()), and raises
    what went wrong while writing it, unless a flip() has raised that already."""
    current = _recordings.pop(fb, None)
    if current is not None:
        _on_flip(fb, None)
        current[1]()  # its finalizer: finishes the file
