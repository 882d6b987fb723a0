#!/usr/bin/env bash
# The installed-package smoke test of `make wheel` and `make sdist`: the module imports from the
# given interpreter's environment, knows its version, has its stubs beside it, opens a window on a
# private X server, and has SDL's sound drivers for desktops (playing into the dummy one). Without
# Pillow (the optional `image` dependency) the image members say how to install it; with it, a
# picture and a recording are written and read back.
#
#   scripts/smoke.sh PYTHON WHAT
set -euo pipefail
python=$1
what=$2
env -u SDL_VIDEO_DRIVER -u PYTHONPATH xvfb-run -a "$python" - "$what" <<'PY'
import ctypes
import importlib.metadata
import importlib.util
import os
import sys
import sysconfig
import tempfile
from pathlib import Path

import jxframebuf

site = Path(sysconfig.get_paths()["platlib"])
assert Path(jxframebuf.__file__).parent == site / "jxframebuf", jxframebuf.__file__
assert jxframebuf.__version__ == importlib.metadata.version("jxframebuf")
assert (site / "jxframebuf" / "__init__.pyi").is_file()
assert (site / "jxframebuf" / "py.typed").is_file()
fb = jxframebuf.Framebuffer(64, 40)
fb.buffer()[:] = 2
fb.flip()
assert fb.running()
canvas = jxframebuf.Canvas(fb.buffer()[8:, 8:])
canvas.text(0, 0, "OK", 1)
assert jxframebuf.text_size("OK") == (16, 8) and (fb.buffer()[8:16, 8:24] == 1).any()
with tempfile.TemporaryDirectory() as folder:
    picture, recording = Path(folder) / "picture.png", Path(folder) / "recording.gif"
    if importlib.util.find_spec("PIL") is None:
        for call in (lambda: fb.save(picture), lambda: fb.record(recording)):
            try:
                call()
            except ImportError as error:
                assert str(error).endswith("pip install jxframebuf[image]"), error
            else:
                raise AssertionError("an image member worked without Pillow")
        images = "says how to install Pillow for pictures"
    else:
        fb.record(recording)
        fb.flip()
        fb.record(None)
        fb.save(picture)
        pixels, palette = jxframebuf.load_image(picture)
        assert (pixels == fb.buffer()).all() and (palette == fb.palette()).all()
        assert jxframebuf.load_image(recording)[0].shape == (40, 64)
        images = "writes and reads pictures and recordings with Pillow"
fb.quit()
sdl = ctypes.CDLL(jxframebuf._jxframebuf.__file__)
sdl.SDL_GetAudioDriver.restype = ctypes.c_char_p
drivers = {sdl.SDL_GetAudioDriver(i).decode() for i in range(sdl.SDL_GetNumAudioDrivers())}
assert {"pipewire", "pulseaudio", "alsa"} <= drivers, drivers
os.environ["SDL_AUDIO_DRIVER"] = "dummy"
with jxframebuf.Audio() as audio:
    audio.queue(memoryview(bytes(4 * 2 * 4800)).cast("f", (4800, 2)))
    assert audio.queued > 0
print(f"smoke: {sys.argv[1]} installs jxframebuf {jxframebuf.__version__}, which opens a window, "
      f"plays sound ({', '.join(sorted(drivers))}) and {images}")
PY
