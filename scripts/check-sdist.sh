#!/usr/bin/env bash
# Builds the source distribution and installs it the way a user of it would: into a brand-new
# virtual environment, with pip's build isolation (the build requirements come from the index,
# pybind11 within its pinned range), SDL3 found through CMAKE_PREFIX_PATH, and then the window
# smoke test. A file the build needs that the sdist leaves out fails here. The sdist is left in
# build/sdist.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
out="$root/build/sdist"
sdl_prefix=$(bash "$root/scripts/sdl3-prefix.sh")
quiet() { grep -v -E "^(WARNING: Location|DEPRECATION)" || true; }

rm -rf "$out" && mkdir -p "$out"
echo "check-sdist: building the sdist"
"$venv/bin/python" -m build --sdist --no-isolation --outdir "$out" "$root" > "$out/build.log" 2>&1 \
    || { cat "$out/build.log" >&2; exit 1; }
sdist=$(ls "$out"/jxframebuf-*.tar.gz)
echo "check-sdist: $(basename "$sdist"): $(du -k "$sdist" | cut -f1) KiB, $(tar -tzf "$sdist" | grep -vc '/$') files"

fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
"$venv/bin/python" -m venv "$fresh/venv"
echo "check-sdist: installing it into a fresh environment (isolated build)"
cd "$fresh"  # away from the source tree
CMAKE_PREFIX_PATH="$sdl_prefix" "$fresh/venv/bin/python" -m pip install -q "$sdist" 2>&1 | quiet
bash "$root/scripts/smoke.sh" "$fresh/venv/bin/python" "the sdist"
