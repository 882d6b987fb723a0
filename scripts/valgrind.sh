#!/usr/bin/env bash
# valgrind memcheck over scripts/cycles.py: 1,000 create/view/flip/quit cycles on SDL's dummy
# video driver, against a build with debug symbols in build/debug (the normal build in .venv is
# untouched). Fails on any invalid access, use of uninitialised memory, or block lost for good.
#
#   scripts/valgrind.sh [CYCLES]        (what `make valgrind` runs, after scripts/setup.sh)
#
# Python allocates with plain malloc (PYTHONMALLOC=malloc) so that memcheck sees each object.
# The full report is kept in build/valgrind.log. Its "possibly lost" blocks are the interpreter's
# own objects left at exit (pointers into their middles); they do not grow with the cycles.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
build="$root/build/debug"
python="$venv/bin/python"
cycles=${1:-1000}
[ -f "$venv/sdl3-prefix" ] || { echo "valgrind: run scripts/setup.sh first" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind: not installed (Debian package valgrind)" >&2; exit 1; }

echo "valgrind: building the module with debug symbols in $build"
PATH="$venv/bin:$PATH" cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_PREFIX_PATH="$(cat "$venv/sdl3-prefix")" \
    -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" -DPython_EXECUTABLE="$python" >/dev/null
PATH="$venv/bin:$PATH" cmake --build "$build" --parallel 2

# Resident size means something only without valgrind (which keeps freed blocks aside).
echo "valgrind: first $cycles cycles without it, for the resident size"
PYTHONPATH="$build" "$python" "$root/scripts/cycles.py" "$cycles" --check-rss

log="$root/build/valgrind.log"
echo "valgrind: $cycles cycles under memcheck"
status=0
PYTHONPATH="$build" PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=99 \
    --leak-check=full --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
    --suppressions="$root/scripts/valgrind.supp" --num-callers=30 --log-file="$log" \
    "$python" "$root/scripts/cycles.py" "$cycles" || status=$?
grep -E "definitely lost:|indirectly lost:|possibly lost:|ERROR SUMMARY:" "$log" | sed 's/^==[0-9]*== */valgrind: /'
if [ "$status" -ne 0 ]; then
    echo "valgrind: FAILED (exit $status); the report is in $log" >&2
    exit 1
fi
echo "valgrind: clean; the report is in $log"
