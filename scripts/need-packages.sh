#!/usr/bin/env bash
# Installs whichever of the named Debian packages are missing: what scripts/setup.sh needs, and the
# cross toolchains, qemu and Wine that `make test-aarch64` and `make test-windows` need. Waits for
# another apt run (an unattended upgrade, a second checkout's setup) that holds the lock rather than
# failing.
#
#   scripts/need-packages.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "need-packages: all present ($*)"
    exit 0
fi
echo "need-packages: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
lock=(-o DPkg::Lock::Timeout=600)
$sudo apt-get "${lock[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock[@]}" install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
