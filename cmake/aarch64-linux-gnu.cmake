# Cross-compiling for aarch64 Linux with Debian's aarch64-linux-gnu toolchain (scripts/aarch64.sh).
#
# The C library and libstdc++ are the toolchain's own (the same releases as the x86-64 wheel is
# built with, whose newest glibc symbol is GLIBC_2.34); everything else that a build compiles
# against (Python's headers, the X11 and Wayland headers of SDL's video drivers) comes from the
# headers/ tree of an arm64 Debian 13 root, named by JXFB_ARM64_HEADERS. That tree has no C
# library headers of its own: Debian 13's would redirect calls to symbols newer than the wheel's
# manylinux tag allows (the C23 __isoc23_* ones, strlcpy).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(NOT DEFINED ENV{JXFB_ARM64_HEADERS})
  message(FATAL_ERROR "JXFB_ARM64_HEADERS (the headers/ tree of scripts/arm64-root.sh) is not set")
endif()
set(CMAKE_FIND_ROOT_PATH "$ENV{JXFB_ARM64_HEADERS}" /usr/aarch64-linux-gnu)
# Searched after the toolchain's own directories, so it can never shadow them; Debian's pyconfig.h
# includes its architecture's copy by a path relative to this directory.
set(CMAKE_C_FLAGS_INIT "-idirafter $ENV{JXFB_ARM64_HEADERS}/usr/include")
set(CMAKE_CXX_FLAGS_INIT "-idirafter $ENV{JXFB_ARM64_HEADERS}/usr/include")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# CMake packages (SDL3's, pybind11's) are this machine's: both are plain files with no machine code.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# SDL's configure checks link small programs against the X11 and Wayland libraries. Those were
# built against Debian 13's newer C library, whose symbols the toolchain's cannot resolve: such a
# program is never run, and what is left undefined inside a shared library is let be. Nothing that
# the build ships links these libraries (SDL loads them at run time).
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,-rpath-link,$ENV{JXFB_ARM64_HEADERS}/usr/lib/aarch64-linux-gnu -Wl,--allow-shlib-undefined")

# pkg-config (SDL's Wayland checks) reads the arm64 .pc files and prefixes their paths.
set(ENV{PKG_CONFIG_LIBDIR}
    "$ENV{JXFB_ARM64_HEADERS}/usr/lib/aarch64-linux-gnu/pkgconfig:$ENV{JXFB_ARM64_HEADERS}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "$ENV{JXFB_ARM64_HEADERS}")
