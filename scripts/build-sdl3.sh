#!/usr/bin/env bash
# Builds SDL3 from Debian 13's source package into a cache outside the clone, for distributions that
# have no SDL3 package of their own (Debian 12). The result is a static, position-independent SDL3
# with its X11 driver, installed under $JXFB_CACHE/sdl3-<version>; later runs find it and return.
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

# A finished build leaves a stamp; the newest stamped prefix wins.
for stamp in $(ls -1d "$cache"/sdl3-*/.complete 2>/dev/null | sort -V -r); do
    prefix=${stamp%/.complete}
    say "using cached SDL3 in $prefix"
    echo "$prefix"
    exit 0
done

# The first Debian mirror named in the machine's own apt sources (deb822 or one-line format).
mirror() {
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # Stanzas whose suites are not the security ones; first URI of the first such stanza.
        uri=$(awk 'BEGIN{RS="";FS="\n"} !/Suites:[^\n]*-security/ {
                   for (i = 1; i <= NF; i++) if ($i ~ /^URIs:/) { split($i, a, /[ \t]+/); print a[2]; exit } }' "$f")
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        uri=$(awk '$1 == "deb" && $3 !~ /-security/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f")
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
    return 1
}

uri=$(mirror) || { say "no Debian mirror found in /etc/apt/sources.list*"; exit 1; }
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
prefix="$cache/sdl3-$version"

say "building SDL3 $version (static, PIC, X11 driver) into $prefix"
rm -rf "$prefix"
cmake -S "$srcdir" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST_LIBRARY=OFF -DSDL_TESTS=OFF -DSDL_EXAMPLES=OFF \
    -DSDL_X11=ON >&2
cmake --build "$work/build" --parallel "$(nproc)" >&2
cmake --install "$work/build" >&2
grep -rqs '#define SDL_VIDEO_DRIVER_X11 1' "$work/build" --include=SDL_build_config.h \
    || { say "SDL3 was built without its X11 driver: are the X11 development headers installed?"; exit 1; }
touch "$prefix/.complete"
echo "$prefix"
