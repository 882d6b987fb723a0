#!/usr/bin/env bash
# Sets up everything the demo and the tests need, from a brand-new machine: system packages,
# Python 3.13, a virtual environment in .venv, SDL3, and jxframebuf built and installed into the
# environment. Safe to run again: each step checks what is already there and skips what is done.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
cache=${JXFB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jxframebuf}
step="starting"
trap 'echo "setup: FAILED at step \"$step\" (exit $?); see the output above for why" >&2' ERR

begin() { step=$1; echo "setup: [$step] $2"; }
# pip, minus the notices about optional package locations that this machine's pip configuration
# names but does not have.
pip() {
    "$venv/bin/python" -m pip "$@" 2>&1 | { grep -v -E "^(WARNING: Location|DEPRECATION)" || true; }
}

# --- 1. System packages -------------------------------------------------------------------------
begin "system packages" "checking Debian packages"
. /etc/os-release
# g++ (with its sanitizer runtimes) and valgrind are for `make sanitize` and `make valgrind`;
# xauth is for xvfb-run (only recommended by xvfb); openbox is the window manager that the
# fullscreen tests and `run_example.py --wm` run on Xvfb; x11-xkb-utils has setxkbmap, with which
# the keyboard tests switch layouts; weston (a headless Wayland compositor) is for the Wayland
# tests, debootstrap for `make test-debian13`; pulseaudio (a sound server run with a null sink)
# and pulseaudio-utils (parec, which records it) are for the sound tests.
packages=(xvfb xauth openbox x11-xkb-utils g++ valgrind weston debootstrap pulseaudio
          pulseaudio-utils)
if apt-cache show libsdl3-dev >/dev/null 2>&1 || [ "${VERSION_CODENAME:-}" != bookworm ]; then
    packages+=(libsdl3-dev)
else
    # No SDL3 in this release: it is built from source, with the X11 headers for its X11 driver,
    # the Wayland ones (found through pkg-config) for its Wayland driver, the ALSA, PulseAudio and
    # PipeWire ones for its sound drivers, and dpkg-dev for `apt-get source`.
    packages+=(dpkg-dev libx11-dev libxext-dev libxrandr-dev libxcursor-dev libxi-dev
               libxfixes-dev libxss-dev libxtst-dev
               pkg-config libwayland-dev libxkbcommon-dev wayland-protocols libdecor-0-dev libegl-dev
               libasound2-dev libpulse-dev libpipewire-0.3-dev)
fi
# Installs only what is missing, waiting for another apt run that holds the lock.
bash "$root/scripts/need-packages.sh" "${packages[@]}"

# --- 2. Python 3.13 -----------------------------------------------------------------------------
begin "python" "finding Python 3.13"
python=""
if command -v pyenv >/dev/null 2>&1; then
    python=$(ls -1d "$(pyenv root)"/versions/3.13.*/bin/python3.13 2>/dev/null | sort -V | tail -n 1 || true)
fi
[ -n "$python" ] || python=$(command -v python3.13 || true)
if [ -z "$python" ]; then
    echo "setup: no Python 3.13 found (looked in pyenv's versions and on PATH)." >&2
    echo "setup: install it with 'pyenv install 3.13' or 'apt-get install python3.13-venv python3.13-dev'." >&2
    false
fi
echo "setup: using $python ($("$python" -c 'import sys; print(sys.version.split()[0])'))"

# --- 3. Virtual environment ---------------------------------------------------------------------
begin "virtual environment" "preparing $venv"
if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
    rm -rf "$venv"
    "$python" -m venv "$venv"
fi
reqs="$root/requirements-dev.txt"
stamp="$venv/.requirements.sha256"
if [ "$(sha256sum < "$reqs")" != "$(cat "$stamp" 2>/dev/null)" ]; then
    echo "setup: installing Python packages from requirements-dev.txt"
    pip install -q --upgrade pip
    pip install -q -r "$reqs"
    sha256sum < "$reqs" > "$stamp"
else
    echo "setup: Python packages up to date"
fi

# --- 4. SDL3 ------------------------------------------------------------------------------------
begin "SDL3" "locating SDL3"
# Building it from source needs cmake and ninja, which the virtual environment now has.
sdl_prefix=$(PATH="$venv/bin:$PATH" JXFB_CACHE="$cache" bash "$root/scripts/sdl3-prefix.sh")
echo "setup: using SDL3 from $sdl_prefix"
# The benchmark's floor program (benchmarks/) is built against this same SDL3.
echo "$sdl_prefix" > "$venv/sdl3-prefix"

# --- 5. The module ------------------------------------------------------------------------------
begin "build" "building and installing jxframebuf"
cd "$root"
PATH="$venv/bin:$PATH" CMAKE_PREFIX_PATH="$sdl_prefix" pip install -q --no-build-isolation --no-deps .
"$venv/bin/python" -c 'import jxframebuf' 
echo "setup: done; jxframebuf is installed in $venv"
