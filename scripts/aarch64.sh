#!/usr/bin/env bash
# The aarch64 Linux wheel, built and tested from an x86-64 machine (what `make test-aarch64` runs;
# needs root for debootstrap):
#
#   1. an arm64 Debian 13 root, unpacked and cached (scripts/arm64-root.sh);
#   2. SDL3 cross-built with Debian's aarch64 toolchain, cached (scripts/build-sdl3.sh aarch64);
#   3. the engine's C++ programs (tests/cpp) cross-built and run under qemu-aarch64-static, and the
#      palette expansion's ways timed side by side under the same emulation;
#   4. the wheel cross-built, repaired to manylinux_2_34_aarch64 by auditwheel;
#   5. the repaired wheel unpacked and tried with the root's own python3.13 under qemu: the module
#      imports, and the dummy-driver tests of the suite run against it (pixels, palette, the
#      drawing kit, flips read back through the window surface, input from SDL's queue, sound
#      through SDL's disk driver).
#
# The wheel is left in build/aarch64/wheelhouse. Only single programs can be emulated here (no
# binfmt): a test that starts another aarch64 program has to start it through qemu.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
out="$root/build/aarch64"
plat=manylinux_2_34_aarch64
suffix=.cpython-313-aarch64-linux-gnu.so
# The suite's tests that run on the dummy driver in one process (none starts a program or a
# server), with fewer property-based examples than natively: emulated Python is many times slower.
tests=(tests/test_pixels.py tests/test_present.py tests/test_input.py tests/test_draw.py
       tests/test_lifecycle.py tests/test_module.py tests/test_arguments.py tests/test_lifetime.py
       tests/test_audio.py)
examples=25
# Its refusal comes from NumPy, imported first, whose message Debian 13's NumPy words differently.
deselect=(--deselect tests/test_module.py::test_import_is_refused_in_an_isolated_subinterpreter)
say() { echo "aarch64: $*"; }
quiet() { grep -v -E "^WARNING: Location" || true; }
export PATH="$venv/bin:$PATH"

bash "$root/scripts/need-packages.sh" qemu-user-static g++-aarch64-linux-gnu debootstrap

start=$SECONDS
dir=$(JXFB_PYTHON="$venv/bin/python" bash "$root/scripts/arm64-root.sh" | tail -n 1)
arm64="$dir/root"
export JXFB_ARM64_HEADERS="$dir/headers"
sdl=$(bash "$root/scripts/build-sdl3.sh" aarch64 | tail -n 1)
say "root and SDL3 ready in $((SECONDS - start)) s ($dir, $sdl)"
emulate() { qemu-aarch64-static -L "$arm64" "$@"; }

rm -rf "$out" && mkdir -p "$out"
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" -DCMAKE_PREFIX_PATH="$sdl")
# The builds' output goes to a log, shown when a build fails.
logged() { "$@" >> "$out/build.log" 2>&1 || { tail -n 40 "$out/build.log" >&2; say "failed: $*" >&2; exit 1; }; }

say "the engine's C++ programs under qemu"
logged cmake -S "$root" -B "$out/engine" -G Ninja "${toolchain[@]}" -DJXFB_MODULE=OFF \
    -DJXFB_ENGINE_TESTS=ON
logged cmake --build "$out/engine"
for program in "$root"/tests/cpp/*.cpp; do
    name=$(basename "$program" .cpp)
    emulate "$out/engine/$name" | sed "s/^/aarch64: /"
done

say "the palette expansion's ways side by side under qemu (320 x 240 pixels; millions a second)"
logged cmake -S "$root/benchmarks" -B "$out/bench" -G Ninja "${toolchain[@]}"
logged cmake --build "$out/bench" --target jxfb_floor
emulate "$out/bench/jxfb_floor" expand 320 240 0.5 5 > "$out/expand.json"
"$venv/bin/python" - "$out/expand.json" <<'PY'
import json
import statistics
import sys

result = json.load(open(sys.argv[1]))
rates = {name: statistics.median(s) / 1e6 for name, s in result["pixels_per_s"].items()}
for name, rate in rates.items():
    print(f"aarch64:   {name:12} {rate:8.1f}   x{rate / rates['portable']:.2f}")
print(f"aarch64:   expand() chooses {result['chosen']}")
PY

say "building the wheel"
# scikit-build-core names the wheel and the extension for the target, not this machine; Python's
# headers are the root's.
_PYTHON_HOST_PLATFORM=linux-aarch64 SETUPTOOLS_EXT_SUFFIX=$suffix CMAKE_PREFIX_PATH="$sdl" \
    "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps -w "$out/raw" "$root" \
    -Cbuild-dir="$out/module" \
    -Ccmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
    -Ccmake.define.Python_INCLUDE_DIR="$JXFB_ARM64_HEADERS/usr/include/python3.13" \
    -Ccmake.define.PYTHON_MODULE_EXTENSION=$suffix 2>&1 | quiet
raw=$(ls "$out"/raw/jxframebuf-*.whl)
auditwheel show "$raw" | tr '\n' ' ' | grep -o 'consistent with the following platform tag: "[^"]*"' \
    | sed 's/^/aarch64: the raw wheel is /'
# auditwheel reads the wheel's architecture from the module itself ("auto"); the tag it settles
# on must be the one this build promises.
auditwheel repair --plat auto -w "$out/wheelhouse" "$raw" 2>&1 | { grep -v '^INFO' || true; } \
    | sed 's/^/aarch64: /'
wheel=$(ls "$out"/wheelhouse/jxframebuf-*.whl)
case ${wheel##*/} in
    *-cp313-cp313-$plat.whl) ;;
    *) say "the repaired wheel is not tagged $plat: ${wheel##*/}" >&2; exit 1 ;;
esac
say "$(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB"

say "the wheel with the root's python3.13 under qemu"
site="$out/site"
mkdir -p "$site"
"$venv/bin/python" -m zipfile -e "$wheel" "$site"
cd "$root"
emulate -E PYTHONPATH="$site" -E SDL_VIDEO_DRIVER=dummy "$arm64/usr/bin/python3.13" - "$site" <<'PY'
import importlib.metadata
import platform
import sys
from pathlib import Path

import jxframebuf

site = Path(sys.argv[1])
assert Path(jxframebuf.__file__).parent == site / "jxframebuf", jxframebuf.__file__
assert jxframebuf.__version__ == importlib.metadata.version("jxframebuf")
assert (site / "jxframebuf" / "__init__.pyi").is_file()
fb = jxframebuf.Framebuffer(64, 40)
fb.buffer()[:] = 2
fb.flip()
assert fb.running()
fb.quit()
print(f"aarch64: jxframebuf {jxframebuf.__version__} imports on {platform.machine()},"
      f" Python {platform.python_version()}, and opens a framebuffer")
PY
# The emulator passes its environment on; JXFB_EMULATOR lets a test start a fresh interpreter.
PYTHONPATH="$site" JXFB_HYPOTHESIS_EXAMPLES=$examples JXFB_EMULATOR="qemu-aarch64-static -L $arm64" \
    emulate "$arm64/usr/bin/python3.13" -m pytest -p no:cacheprovider -q \
    -m "not x11 and not wayland and not pulse" "${deselect[@]}" "${tests[@]}"
