#!/usr/bin/env bash
# The engine on 64-bit Windows, built and tested from Linux (what `make test-windows` runs): SDL3
# cross-built with mingw-w64 and cached (scripts/build-sdl3.sh windows), the engine (src/core and
# src/platform, no Python) and its C++ programs (tests/cpp) cross-built against it, and each
# program run under Wine on SDL's dummy video driver. engine_smoke prints the pacing Wine gives.
#
# Wine's prefix (its C: drive and registry) is made once and cached in $JXFB_CACHE, keyed by Wine's
# version. The programs are console programs: no display is needed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
cache=${JXFB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jxframebuf}
out="$root/build/windows"
say() { echo "windows: $*"; }
export PATH="$venv/bin:$PATH"

bash "$root/scripts/need-packages.sh" g++-mingw-w64-x86-64-posix wine wine64

start=$SECONDS
sdl=$(bash "$root/scripts/build-sdl3.sh" windows | tail -n 1)
say "SDL3 ready in $((SECONDS - start)) s ($sdl)"

rm -rf "$out" && mkdir -p "$out"
# The build's output goes to a log, shown when it fails.
logged() { "$@" >> "$out/build.log" 2>&1 || { tail -n 40 "$out/build.log" >&2; say "failed: $*" >&2; exit 1; }; }
logged cmake -S "$root" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" \
    -DCMAKE_PREFIX_PATH="$sdl" -DJXFB_MODULE=OFF -DJXFB_ENGINE_TESTS=ON
logged cmake --build "$out"

# No Mono or Gecko (Wine would offer to install them), no debug chatter, no display.
export WINEPREFIX="$cache/wine-$(wine --version 2>/dev/null | sha256sum | cut -c1-12)" WINEARCH=win64 \
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$cache"
exec 9>"$cache/wine.lock"
flock 9
# Wine's server outlives the last program by a few seconds: wait for it to go on every exit.
trap 'wineserver -w 2>/dev/null || true' EXIT
if [ ! -f "$WINEPREFIX/.complete" ]; then
    start=$SECONDS
    rm -rf "$WINEPREFIX"
    wineboot -i > /dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.complete"
    say "Wine prefix made in $((SECONDS - start)) s ($WINEPREFIX)"
fi

# The C++ tests first, the end-to-end smoke program last.
for program in $(ls "$root"/tests/cpp/*.cpp | grep -v engine_smoke) "$root/tests/cpp/engine_smoke.cpp"; do
    name=$(basename "$program" .cpp)
    wine "$out/$name.exe" | tr -d '\r' | sed "s/^/windows: /"
done
say "passed ($(wine --version 2>/dev/null))"
