#!/usr/bin/env bash
# Builds SDL3 from Debian 13's source package into a cache outside the clone, for distributions that
# have no SDL3 package of their own (Debian 12). The result is a static, position-independent SDL3
# with its X11 and Wayland video drivers and its ALSA, PulseAudio and PipeWire sound drivers,
# installed under $JXFB_CACHE/sdl3-<version>-x11-wayland-alsa-pulse-pipewire; later runs find it and
# return.
#
#   scripts/build-sdl3.sh            prints the install prefix on its last line
#
# The source is fetched with `apt-get source` through a private sources list built from the mirror
# this machine already uses, so the system's own apt configuration is never touched.
set -euo pipefail

cache=${JXFB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jxframebuf}
suite=${JXFB_SDL3_SUITE:-trixie}
mkdir -p "$cache"

say() { echo "build-sdl3: $*" >&2; }

# What the build is made with. A finished build leaves a stamp holding this list, and the cache is
# keyed by it: a prefix is reused only if its stamp says it was built exactly so (an older prefix
# built with the X11 driver alone is left alone for whoever still uses it, and never picked here).
# Every driver loads its system libraries at run time (SDL's *_SHARED options), so a module linked
# with this SDL3 gains no hard dependency on X11, Wayland or sound libraries: a machine without a
# sound server just lacks that driver.
drivers=x11-wayland-alsa-pulse-pipewire
options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON
         -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST_LIBRARY=OFF -DSDL_TESTS=OFF -DSDL_EXAMPLES=OFF
         -DSDL_X11=ON -DSDL_X11_SHARED=ON
         -DSDL_WAYLAND=ON -DSDL_WAYLAND_SHARED=ON -DSDL_WAYLAND_LIBDECOR=ON
         -DSDL_WAYLAND_LIBDECOR_SHARED=ON
         -DSDL_ALSA=ON -DSDL_ALSA_SHARED=ON -DSDL_PULSEAUDIO=ON -DSDL_PULSEAUDIO_SHARED=ON
         -DSDL_PIPEWIRE=ON -DSDL_PIPEWIRE_SHARED=ON)
key=$(printf '%s\n' "${options[@]}")

# The newest stamped prefix built this way wins.
for stamp in $(ls -1d "$cache"/sdl3-*-"$drivers"/.complete 2>/dev/null | sort -V -r); do
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
prefix="$cache/sdl3-$version-$drivers"

say "building SDL3 $version (static, PIC, X11, Wayland, ALSA, PulseAudio, PipeWire) into $prefix"
rm -rf "$prefix"
cmake -S "$srcdir" -B "$work/build" -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >&2
# SDL's configure step quietly leaves out a driver whose headers are missing: check each is in, and
# loaded at run time rather than linked.
config=$(find "$work/build" -name SDL_build_config.h | head -n 1)
grep -qs '#define SDL_VIDEO_DRIVER_X11 1' "$config" \
    || { say "SDL3 was configured without its X11 driver: are the X11 development headers installed?"; exit 1; }
grep -qs '#define SDL_VIDEO_DRIVER_WAYLAND 1' "$config" \
    || { say "SDL3 was configured without its Wayland driver: are libwayland-dev, libxkbcommon-dev," \
             "wayland-protocols, libegl-dev and pkg-config installed?"; exit 1; }
grep -qs '#define SDL_VIDEO_DRIVER_WAYLAND_DYNAMIC ' "$config" \
    || { say "SDL3's Wayland driver would link libwayland-client directly instead of loading it"; exit 1; }
for audio in ALSA:libasound2-dev PULSEAUDIO:libpulse-dev PIPEWIRE:libpipewire-0.3-dev; do
    name=${audio%%:*} package=${audio#*:}
    grep -qs "#define SDL_AUDIO_DRIVER_$name 1" "$config" \
        || { say "SDL3 was configured without its $name audio driver: is $package installed?"; exit 1; }
    grep -qs "#define SDL_AUDIO_DRIVER_${name}_DYNAMIC " "$config" \
        || { say "SDL3's $name audio driver would link its library directly instead of loading it"; exit 1; }
done
cmake --build "$work/build" --parallel "$(nproc)" >&2
cmake --install "$work/build" >&2
printf '%s\n' "$key" > "$prefix/.complete"
echo "$prefix"
