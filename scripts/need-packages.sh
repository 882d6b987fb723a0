#!/usr/bin/env bash
# Installs whichever of the named Debian packages are missing (the cross toolchains, qemu and Wine
# that `make test-aarch64` and `make test-windows` need; scripts/setup.sh does the same for the
# rest). Waits for another apt run that holds the lock rather than failing.
#
#   scripts/need-packages.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "need-packages: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
lock=(-o DPkg::Lock::Timeout=600)
$sudo apt-get "${lock[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock[@]}" install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
