#!/usr/bin/env bash
# Prints the prefix of the SDL3 that the build uses: the system's where the distribution has
# libsdl3-dev, otherwise the copy that build-sdl3.sh built and cached.
set -euo pipefail
if dpkg-query -W -f='${Status}' libsdl3-dev 2>/dev/null | grep -q 'install ok installed'; then
    echo /usr
else
    bash "$(dirname "${BASH_SOURCE[0]}")/build-sdl3.sh" | tail -n 1
fi
