"""Builds SDL3 for the hosted wheel builds (cibuildwheel's before-all step, see pyproject.toml):
the same release that scripts/build-sdl3.sh builds here from Debian 13's source package, from its
upstream source, installed into PREFIX.

    python3 scripts/ci_sdl3.py PREFIX

Linux and macOS get a static, position-independent SDL3 linked into the module, as here (on Linux
with the X11, Wayland, ALSA, PulseAudio and PipeWire drivers, which load their libraries at run
time; on macOS for both processors). Windows gets SDL3.dll, which the wheel carries beside the
module (delvewheel): a DLL exports only what it declares, so a static SDL3 inside the module would
hide SDL's functions from the tests' ctypes access.

Runs on whichever Python 3 the build machine has: standard library only.
"""

import shutil
import subprocess
import sys
import tarfile
import tempfile
import urllib.request
from pathlib import Path

VERSION = "3.2.10"
SOURCE = (
    f"https://github.com/libsdl-org/SDL/releases/download/release-{VERSION}/SDL3-{VERSION}.tar.gz"
)
# What SDL's X11, Wayland and sound drivers compile against in the manylinux (AlmaLinux)
# containers; a package the distribution lacks only leaves its feature out.
LINUX_PACKAGES = [
    "libX11-devel", "libXext-devel", "libXrandr-devel", "libXcursor-devel", "libXi-devel",
    "libXfixes-devel", "libXScrnSaver-devel", "libXtst-devel", "wayland-devel",
    "libxkbcommon-devel", "wayland-protocols-devel", "mesa-libEGL-devel", "libdecor-devel",
    "alsa-lib-devel", "pulseaudio-libs-devel", "pipewire-devel",
]  # fmt: skip


def run(*command: str) -> None:
    print("ci_sdl3:", " ".join(command), flush=True)
    subprocess.run(command, check=True)


def main() -> None:
    prefix = Path(sys.argv[1]).resolve()
    options = ["-DCMAKE_BUILD_TYPE=Release", "-DSDL_TEST_LIBRARY=OFF", "-DSDL_TESTS=OFF",
               "-DSDL_EXAMPLES=OFF"]  # fmt: skip
    if sys.platform == "win32":
        options += ["-DSDL_SHARED=ON", "-DSDL_STATIC=OFF"]
    else:
        options += ["-DSDL_SHARED=OFF", "-DSDL_STATIC=ON", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON"]
    if sys.platform == "darwin":
        # One SDL3 for both of the wheels that one macOS machine builds (arm64, and x86_64 tested
        # under Rosetta).
        options.append("-DCMAKE_OSX_ARCHITECTURES=arm64;x86_64")
    if sys.platform.startswith("linux"):
        manager = shutil.which("dnf") or shutil.which("yum")
        for package in LINUX_PACKAGES if manager else []:
            subprocess.run([manager, "install", "-y", "-q", package], check=False)
        options += ["-DSDL_X11=ON", "-DSDL_X11_SHARED=ON", "-DSDL_WAYLAND_SHARED=ON",
                    "-DSDL_ALSA_SHARED=ON", "-DSDL_PULSEAUDIO_SHARED=ON", "-DSDL_PIPEWIRE_SHARED=ON"]  # fmt: skip
    with tempfile.TemporaryDirectory() as work:
        archive = Path(work) / "sdl3.tar.gz"
        print(f"ci_sdl3: fetching SDL3 {VERSION}", flush=True)
        with urllib.request.urlopen(SOURCE) as response:
            archive.write_bytes(response.read())
        with tarfile.open(archive) as tar:
            tar.extractall(work)
        source = Path(work) / f"SDL3-{VERSION}"
        build = Path(work) / "build"
        run(
            "cmake",
            "-S",
            str(source),
            "-B",
            str(build),
            f"-DCMAKE_INSTALL_PREFIX={prefix}",
            *options,
        )
        run("cmake", "--build", str(build), "--config", "Release", "--parallel")
        run("cmake", "--install", str(build), "--config", "Release")


if __name__ == "__main__":
    main()
