#!/usr/bin/env bash
# Unpacks an arm64 Debian 13 root for the aarch64 build and its tests under qemu-aarch64-static
# (`make test-aarch64`), without running anything inside it: a first-stage `debootstrap --foreign`
# fetches the packages and their dependencies, and every fetched package is then unpacked as
# files (no maintainer scripts, which would need an arm64 machine).
#
#   scripts/arm64-root.sh            prints the directory on its last line
#
# The directory holds two trees:
#   root/     everything, for running the root's python3.13 and the tests with `qemu -L root`
#   headers/  the same packages less the C library, the C++ runtime and the kernel headers: the
#             Python, X11 and Wayland headers that the cross build compiles against. The C library
#             and libstdc++ come from the cross toolchain itself (see cmake/aarch64-linux-gnu.cmake).
#
# Cached in $JXFB_CACHE/arm64-<key>, where the key is a hash of the suite, the mirror, the package
# list and this way of unpacking; reused while younger than 30 days.
set -euo pipefail

scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${JXFB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jxframebuf}
suite=trixie
# The root's interpreter with NumPy, pytest and what the tests import; Python's headers for the
# module; the X11, Wayland and EGL headers for SDL's video drivers and the ALSA, PulseAudio and
# PipeWire ones for its sound drivers (all of which load their libraries at run time).
packages=(python3.13 python3-numpy python3-pytest python3-hypothesis python3-xlib python3.13-dev
          libx11-dev libxext-dev libxrandr-dev libxcursor-dev libxi-dev libxfixes-dev libxss-dev
          libxtst-dev libwayland-dev libxkbcommon-dev wayland-protocols libdecor-0-dev libegl-dev
          libasound2-dev libpulse-dev libpipewire-0.3-dev)
# Kept out of headers/: they would shadow the cross toolchain's own C library and C++ runtime.
toolchain_owned='^(libc6|libc6-dev|libc-dev-bin|libc-bin|linux-libc-dev|libcrypt-dev|libcrypt1|libstdc\+\+.*|libgcc.*|gcc|gcc-[0-9]+.*|cpp|cpp-[0-9]+.*|g\+\+.*|binutils.*|rpcsvc-proto|libnsl-dev|libtirpc-dev)$'
max_age_days=30

say() { echo "arm64-root: $*" >&2; }
[ "$(id -u)" -eq 0 ] || { say "needs root (debootstrap)"; exit 1; }
command -v debootstrap >/dev/null || { say "debootstrap is missing (run scripts/setup.sh)"; exit 1; }

mirror=$(bash "$scripts/apt-mirror.sh")
key=$(printf '%s\n' "$suite" "$mirror" "${packages[@]}" "$toolchain_owned" 6 | sha256sum | cut -c1-12)
dir="$cache/arm64-$key"
mkdir -p "$cache"
exec 9>"$cache/arm64-root.lock"
flock 9

stamp="$dir/.complete"
if [ -f "$stamp" ] && [ -n "$(find "$stamp" -mtime -"$max_age_days")" ]; then
    say "reusing $dir"
    echo "$dir"
    exit 0
fi

rm -rf --one-file-system "$dir"
building=$(mktemp -d "$cache/arm64-build.XXXXXX")
trap 'rm -rf --one-file-system "$building"' EXIT
start=$SECONDS
include=$(IFS=,; echo "${packages[*]}")
say "first-stage debootstrap of Debian 13 ($suite, arm64, minbase) from $mirror"
debootstrap --foreign --arch=arm64 --variant=minbase --include="$include" \
    --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
    "$suite" "$building/root" "$mirror" > "$building/debootstrap.log" 2>&1 \
    || { tail -n 20 "$building/debootstrap.log" >&2; say "debootstrap failed"; exit 1; }

# The first stage unpacked only the essential packages; the rest wait in apt's archive. The root
# has /usr merged (bin, lib and sbin are links into usr/), which the unpacking must keep.
debs=("$building"/root/var/cache/apt/archives/*.deb)
say "unpacking ${#debs[@]} packages"
mkdir -p "$building/headers"
unpack() { dpkg-deb --fsys-tarfile "$1" | tar --keep-directory-symlink -x -C "$2"; }
for deb in "${debs[@]}"; do
    unpack "$deb" "$building/root"
    name=$(dpkg-deb -f "$deb" Package)
    [[ $name =~ $toolchain_owned ]] || unpack "$deb" "$building/headers"
done
rm -f "$building"/root/var/cache/apt/archives/*.deb "$building/debootstrap.log"
# The one piece of the maintainer scripts that the tests need: the links through which NumPy finds
# BLAS and LAPACK, which update-alternatives would make.
lib="$building/root/usr/lib/aarch64-linux-gnu"
ln -sf blas/libblas.so.3 "$lib/libblas.so.3"
ln -sf lapack/liblapack.so.3 "$lib/liblapack.so.3"
# headers/ keeps what a build reads: headers, pkg-config files, Wayland's protocol files, and the
# shared libraries (SDL records the soname of each library it loads at run time, and links its
# configure checks against them).
find "$building/headers" -mindepth 1 -maxdepth 1 ! -name usr -exec rm -rf {} +
find "$building/headers/usr" -mindepth 1 -maxdepth 1 ! -name include ! -name lib ! -name share \
    -exec rm -rf {} +
find "$building/headers/usr/share" -mindepth 1 -maxdepth 1 ! -name pkgconfig ! -name 'wayland*' \
    -exec rm -rf {} +
find "$building/headers/usr/lib" -mindepth 1 -maxdepth 1 ! -name aarch64-linux-gnu -exec rm -rf {} +
find "$building/headers/usr/lib/aarch64-linux-gnu" -mindepth 1 -maxdepth 1 ! -name pkgconfig \
    ! -name '*.so' ! -name '*.so.*' -exec rm -rf {} +
# Python modules are compiled once here by this machine's Python 3.13 (bytecode is the same on
# every machine for one Python version), or every emulated run would compile them anew: a write
# under the root's /usr does not reach the root through qemu's -L.
host_python=${JXFB_PYTHON:-$(command -v python3.13 || true)}
magic='import importlib.util; print(importlib.util.MAGIC_NUMBER.hex())'
if [ -n "$host_python" ] && [ "$("$host_python" -c "$magic")" = \
     "$(qemu-aarch64-static -L "$building/root" "$building/root/usr/bin/python3.13" -c "$magic")" ]; then
    say "compiling the root's Python modules"
    "$host_python" -m compileall -q -j 0 -s "$building/root" -p / \
        "$building/root/usr/lib/python3.13" "$building/root/usr/lib/python3/dist-packages" >/dev/null || true
else
    say "no Python 3.13 here to compile the root's modules with: emulated runs start slowly"
fi
[ -x "$building/root/usr/bin/python3.13" ] || { say "the root has no python3.13"; exit 1; }
[ -f "$building/headers/usr/include/python3.13/Python.h" ] || { say "no Python.h in headers/"; exit 1; }

touch "$building/.complete"
mv "$building" "$dir"
trap - EXIT
say "ready in $((SECONDS - start)) s: $dir"
echo "$dir"
