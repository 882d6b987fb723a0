#!/usr/bin/env bash
# Builds the wheel, repairs it to a manylinux tag, and proves it stands on its own: it installs
# into a brand-new virtual environment with nothing but NumPy beside it, needs no SDL3 library
# from this machine, and opens a window on a private X server. The result is in build/wheelhouse.
#
# On Debian 12, where SDL3 is built from source and linked in statically, the newest glibc symbol
# the module uses is GLIBC_2.34, so the wheel is tagged manylinux_2_34_x86_64 (and the repair
# fails if that stops being true). Elsewhere auditwheel picks the tag (JXFB_WHEEL_PLAT overrides).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
out="$root/build/wheelhouse"
sdl_prefix=$(bash "$root/scripts/sdl3-prefix.sh")
. /etc/os-release
plat=${JXFB_WHEEL_PLAT:-}
[ -n "$plat" ] || { [ "${VERSION_CODENAME:-}" = bookworm ] && plat=manylinux_2_34_x86_64 || plat=auto; }
quiet() { grep -v -E "^WARNING: Location" || true; }

rm -rf "$out" && mkdir -p "$out"
echo "check-wheel: building the wheel"
PATH="$venv/bin:$PATH" CMAKE_PREFIX_PATH="$sdl_prefix" \
    "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-deps -w "$out/raw" "$root" 2>&1 | quiet
raw=$(ls "$out"/raw/jxframebuf-*.whl)

# A linux_x86_64 wheel is refused by package indexes. auditwheel checks the symbols the module
# needs against the manylinux policies, retags it, and bundles any shared library outside the
# policy (a system SDL3, where the build used one) into the wheel.
"$venv/bin/auditwheel" show "$raw" | sed 's/^/check-wheel: /'
echo "check-wheel: repairing to $plat"
PATH="$venv/bin:$PATH" auditwheel repair --plat "$plat" -w "$out" "$raw" 2>&1 | sed "s/^/check-wheel: /"
wheel=$(ls "$out"/jxframebuf-*.whl)
rm -rf "$out/raw"
case ${wheel##*/} in
    *-manylinux_*.whl) ;;
    *) echo "check-wheel: the repaired wheel has no manylinux tag: ${wheel##*/}" >&2; exit 1 ;;
esac
echo "check-wheel: $(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB"

fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
"$venv/bin/python" -m venv "$fresh/venv"
"$fresh/venv/bin/python" -m pip install -q "$wheel" 2>&1 | quiet
so=$(ls "$fresh"/venv/lib/python3.13/site-packages/jxframebuf/_jxframebuf*.so)
# SDL3 must come from inside the module or the wheel (auditwheel puts a bundled library in
# jxframebuf.libs beside it), never from this machine.
outside=$(ldd "$so" | grep -E "libSDL3|not found" | grep -v "=> $fresh/venv/" || true)
if [ -n "$outside" ]; then
    echo "$outside" >&2
    echo "check-wheel: the installed module depends on a library outside the wheel" >&2
    exit 1
fi
cd "$fresh"  # away from the source tree
bash "$root/scripts/smoke.sh" "$fresh/venv/bin/python" "the wheel"
# Then with the optional image dependency, as `pip install jxframebuf[image]` brings it.
"$fresh/venv/bin/python" -m pip install -q "$wheel[image]" 2>&1 | quiet
bash "$root/scripts/smoke.sh" "$fresh/venv/bin/python" "the wheel with [image]"
