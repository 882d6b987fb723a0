#!/usr/bin/env bash
# The installed-package smoke test of `make wheel` and `make sdist`: the module imports from the
# given interpreter's environment, knows its version, has its stubs beside it, and opens a window
# on a private X server.
#
#   scripts/smoke.sh PYTHON WHAT
set -euo pipefail
python=$1
what=$2
env -u SDL_VIDEO_DRIVER -u PYTHONPATH xvfb-run -a "$python" - "$what" <<'PY'
import importlib.metadata
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
print(f"smoke: {sys.argv[1]} installs jxframebuf {jxframebuf.__version__}, which opens a window")
PY
