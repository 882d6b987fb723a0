#!/usr/bin/env bash
# The installed-package smoke test of `make wheel` and `make sdist`: the module imports from the
# given interpreter's environment, knows its version, has its stubs beside it, opens a window on a
# private X server, and has SDL's sound drivers for desktops (playing into the dummy one).
#
#   scripts/smoke.sh PYTHON WHAT
set -euo pipefail
python=$1
what=$2
env -u SDL_VIDEO_DRIVER -u PYTHONPATH xvfb-run -a "$python" - "$what" <<'PY'
import ctypes
import importlib.metadata
import os
import sys
import sysconfig
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
fb.quit()
sdl = ctypes.CDLL(jxframebuf._jxframebuf.__file__)
sdl.SDL_GetAudioDriver.restype = ctypes.c_char_p
drivers = {sdl.SDL_GetAudioDriver(i).decode() for i in range(sdl.SDL_GetNumAudioDrivers())}
assert {"pipewire", "pulseaudio", "alsa"} <= drivers, drivers
os.environ["SDL_AUDIO_DRIVER"] = "dummy"
with jxframebuf.Audio() as audio:
    audio.queue(memoryview(bytes(4 * 2 * 4800)).cast("f", (4800, 2)))
    assert audio.queued > 0
print(f"smoke: {sys.argv[1]} installs jxframebuf {jxframebuf.__version__}, which opens a window "
      f"and plays sound ({', '.join(sorted(drivers))})")
PY
