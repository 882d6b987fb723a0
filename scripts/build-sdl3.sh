#!/usr/bin/env bash
# Builds SDL3 from Debian 13's source package into a cache outside the clone: for distributions
# that have no SDL3 package of their own (Debian 12), and cross-compiled for the aarch64 wheel and
# the Windows engine. The result is a static, position-independent SDL3 installed under
# $JXFB_CACHE/sdl3-<version>-<flavour>; later runs find it and return.
#
#   scripts/build-sdl3.sh [TARGET]   prints the install prefix on its last line
#
# TARGET is `native` (the default: this machine, with the X11 and Wayland drivers), `aarch64`
# (Debian's aarch64-linux-gnu toolchain, cmake/aarch64-linux-gnu.cmake, with the X11 and Wayland
# drivers against the arm64 headers named by JXFB_ARM64_HEADERS) or `windows` (mingw-w64,
# cmake/x86_64-w64-mingw32.cmake, with SDL's Windows drivers).
#
# The source is fetched with `apt-get source` through a private sources list built from the mirror
# this machine already uses, so the system's own apt configuration is never touched.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${JXFB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jxframebuf}
suite=${JXFB_SDL3_SUITE:-trixie}
target=${1:-native}
mkdir -p "$cache"

say() { echo "build-sdl3: $*" >&2; }

# What the build is made with. A finished build leaves a stamp holding this list, and the cache is
# keyed by it: a prefix is reused only if its stamp says it was built exactly so (an older prefix
# built with the X11 driver alone is left alone for whoever still uses it, and never picked here).
# Every driver loads its system libraries at run time (SDL's *_SHARED options), so a module linked
# with this SDL3 gains no hard dependency on X11, Wayland or sound libraries: a machine without a
# sound server just lacks that driver.
options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON
         -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST_LIBRARY=OFF -DSDL_TESTS=OFF -DSDL_EXAMPLES=OFF)
unix_drivers=(-DSDL_X11=ON -DSDL_X11_SHARED=ON
              -DSDL_WAYLAND=ON -DSDL_WAYLAND_SHARED=ON -DSDL_WAYLAND_LIBDECOR=ON
              -DSDL_WAYLAND_LIBDECOR_SHARED=ON)
sound_drivers=(-DSDL_ALSA=ON -DSDL_ALSA_SHARED=ON -DSDL_PULSEAUDIO=ON -DSDL_PULSEAUDIO_SHARED=ON
               -DSDL_PIPEWIRE=ON -DSDL_PIPEWIRE_SHARED=ON)
case $target in
    native)
        # With the sound servers' drivers too: ALSA, PulseAudio and PipeWire.
        flavour=x11-wayland-alsa-pulse-pipewire
        options+=("${unix_drivers[@]}" "${sound_drivers[@]}") ;;
    aarch64)
        flavour=aarch64-x11-wayland-alsa-pulse-pipewire
        toolchain="$root/cmake/aarch64-linux-gnu.cmake"
        [ -n "${JXFB_ARM64_HEADERS:-}" ] || { say "JXFB_ARM64_HEADERS is not set (scripts/arm64-root.sh)"; exit 1; }
        # The toolchain file (by its content: clones differ in where it is) and the headers it
        # builds against are inputs too.
        options+=("${unix_drivers[@]}" "${sound_drivers[@]}" "#toolchain $(sha256sum < "$toolchain")"
                  "#headers $JXFB_ARM64_HEADERS") ;;
    windows)
        flavour=windows-x86_64
        toolchain="$root/cmake/x86_64-w64-mingw32.cmake"
        # Debian's source leaves out the precompiled Direct3D shaders (and SDL_GPU's Direct3D 12
        # blitter), so those renderers are left out: OpenGL, Vulkan and software ones remain.
        options+=(-DSDL_RENDER_D3D=OFF -DSDL_RENDER_D3D11=OFF -DSDL_RENDER_D3D12=OFF -DSDL_GPU=OFF
                  "#toolchain $(sha256sum < "$toolchain")") ;;
    *) say "unknown target '$target' (native, aarch64 or windows)"; exit 1 ;;
esac
key=$(printf '%s\n' "${options[@]}")

# The newest stamped prefix built this way wins.
for stamp in $(ls -1d "$cache"/sdl3-*-"$flavour"/.complete 2>/dev/null | sort -V -r); do
    [ "$(cat "$stamp")" = "$key" ] || continue
    prefix=${stamp%/.complete}
    say "using cached SDL3 in $prefix"
    echo "$prefix"
    exit 0
done

uri=$(bash "$(dirname "${BASH_SOURCE[0]}")/apt-mirror.sh")
work=$(mktemp -d "$cache/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/archives/partial" "$work/parts" "$work/src"
printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' "$uri" "$suite" \
    > "$work/sources.list"
apt_opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
          -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::Archives=$work/archives"
          -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "Debug::NoLocking=1")

say "fetching the libsdl3 source package from Debian $suite"
apt-get "${apt_opts[@]}" -qq update >&2
(cd "$work/src" && apt-get "${apt_opts[@]}" -qq source libsdl3 >&2)
srcdir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'libsdl3-*' | head -n 1)
[ -n "$srcdir" ] || { say "apt-get source produced no libsdl3 directory"; exit 1; }
version=${srcdir##*/libsdl3-}
prefix="$cache/sdl3-$version-$flavour"

say "building SDL3 $version ($target: static, PIC, $flavour) into $prefix"
rm -rf "$prefix"
defines=()
[ -z "${toolchain:-}" ] || defines+=("-DCMAKE_TOOLCHAIN_FILE=$toolchain")
for option in "${options[@]}"; do [[ $option == -* ]] && defines+=("$option"); done
cmake -S "$srcdir" -B "$work/build" -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix" "${defines[@]}" >&2
# SDL's configure step quietly leaves out a driver whose headers are missing: check each is in, and
# loaded at run time rather than linked.
config=$(find "$work/build" -name SDL_build_config.h | head -n 1)
if [ "$target" = windows ]; then
    grep -qs '#define SDL_VIDEO_DRIVER_WINDOWS 1' "$config" \
        || { say "SDL3 was configured without its Windows video driver"; exit 1; }
fi
if [ "$target" != windows ]; then
grep -qs '#define SDL_VIDEO_DRIVER_X11 1' "$config" \
    || { say "SDL3 was configured without its X11 driver: are the X11 development headers installed?"; exit 1; }
grep -qs '#define SDL_VIDEO_DRIVER_WAYLAND 1' "$config" \
    || { say "SDL3 was configured without its Wayland driver: are libwayland-dev, libxkbcommon-dev," \
             "wayland-protocols, libegl-dev and pkg-config installed?"; exit 1; }
grep -qs '#define SDL_VIDEO_DRIVER_WAYLAND_DYNAMIC ' "$config" \
    || { say "SDL3's Wayland driver would link libwayland-client directly instead of loading it"; exit 1; }
fi
if [ "$target" != windows ]; then
    for sound in ALSA:libasound2-dev PULSEAUDIO:libpulse-dev PIPEWIRE:libpipewire-0.3-dev; do
        name=${sound%%:*} package=${sound#*:}
        grep -qs "#define SDL_AUDIO_DRIVER_$name 1" "$config" \
            || { say "SDL3 was configured without its $name sound driver: is $package installed?"; exit 1; }
        grep -qs "#define SDL_AUDIO_DRIVER_${name}_DYNAMIC " "$config" \
            || { say "SDL3's $name sound driver would link its library directly instead of loading it"; exit 1; }
    done
fi
cmake --build "$work/build" --parallel "$(nproc)" >&2
cmake --install "$work/build" >&2
printf '%s\n' "$key" > "$prefix/.complete"
echo "$prefix"
