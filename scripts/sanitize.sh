#!/usr/bin/env bash
# Runs the whole test suite against jxframebuf built with AddressSanitizer and
# UndefinedBehaviorSanitizer. The instrumented module is built in build/asan and found through
# PYTHONPATH ahead of the normal one, which stays installed in .venv untouched.
#
#   scripts/sanitize.sh [pytest arguments]      (what `make sanitize` runs, after scripts/setup.sh)
#
# Python is not instrumented, so libasan is preloaded into it. Python allocates with plain malloc
# (PYTHONMALLOC=malloc) so that ASan sees every Python object too, and LeakSanitizer can follow
# pointers that live inside them. Any report makes the run fail.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
build="$root/build/asan"
python="$venv/bin/python"
[ -f "$venv/sdl3-prefix" ] || { echo "sanitize: run scripts/setup.sh first" >&2; exit 1; }

echo "sanitize: building the instrumented module in $build"
PATH="$venv/bin:$PATH" cmake -S "$root" -B "$build" -G Ninja -DJXFB_SANITIZE=ON \
    -DCMAKE_PREFIX_PATH="$(cat "$venv/sdl3-prefix")" \
    -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" -DPython_EXECUTABLE="$python" >/dev/null
PATH="$venv/bin:$PATH" cmake --build "$build" --parallel 2

libasan=$(g++ -print-file-name=libasan.so)
[ -f "$libasan" ] || { echo "sanitize: libasan not found (Debian package libasan8, with g++)" >&2; exit 1; }
export PYTHONPATH="$build${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONMALLOC=malloc
# libstdc++ is preloaded too: the interpreter does not link it, and ASan's C++ exception hooks
# must find it when they are set up, before the module loads it.
export LD_PRELOAD="$libasan $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=1:exitcode=86"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

ASAN_OPTIONS=detect_leaks=0 \
    "$python" -c "import jxframebuf, sys; sys.exit(not jxframebuf.__file__.startswith('$build/'))" \
    || { echo "sanitize: the instrumented module is not the one imported" >&2; exit 1; }
cd "$root"
# Runs a command, with its output also in a log. Now and then LeakSanitizer's own tracer crashes
# while it stops the process for the leak check at exit ("LeakSanitizer has encountered a fatal
# error"), in the pytest process or in a child a test starts. That is the tool failing, not a
# finding: such a run (and only such a run) is tried again, at most four times in all.
checked() {
    local log="$build/run.log" try status
    for try in 1 2 3 4; do
        status=0
        "$@" 2>&1 | tee "$log" || status=$?
        [ "$status" -eq 0 ] && return 0
        if grep -q "LeakSanitizer has encountered a fatal error" "$log" \
            && ! grep -qE "ERROR: (AddressSanitizer|LeakSanitizer: detected)|runtime error:" "$log"; then
            echo "sanitize: LeakSanitizer itself crashed (try $try); running again"
            continue
        fi
        return "$status"
    done
    return "$status"
}
# pytest captures only Python-level output (--capture=sys): a sanitizer report is written to file
# descriptor 2 just before the process dies, and must reach the terminal and the log.
pytest=("$python" -m pytest -p no:cacheprovider --capture=sys)

echo "sanitize: dummy-driver tests, with leak detection"
checked "${pytest[@]}" -m "not x11 and not wayland" "$@"
# On X11 and Wayland, SDL's renderer loads the system's OpenGL or EGL (Mesa), which loses a few
# hundred bytes per GL context and is unloaded again by SDL_Quit, so its leaks cannot even be
# named for a suppression (valgrind --keep-debuginfo=yes places them in swrast_dri.so). The window
# tests run with leak detection off; every other check stays on.
echo "sanitize: X11 and Wayland window tests, leak detection off"
ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}" checked "${pytest[@]}" -m "x11 or wayland" "$@"
# Its resident size counts ASan's quarantine of freed blocks and means nothing here;
# scripts/valgrind.sh measures it.
echo "sanitize: 1,000 create/flip/quit cycles, with leak detection"
checked "$python" scripts/cycles.py 1000
echo "sanitize: no reports"
