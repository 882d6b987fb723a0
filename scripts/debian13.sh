#!/usr/bin/env bash
# Runs the README's two commands, `make test` and `make demo`, on Debian 13 (the system's
# python3.13 and libsdl3-dev) inside a chroot made with debootstrap, so the newcomer's path on
# Debian 13 is tested from a Debian 12 machine (what `make test-debian13` runs; needs root).
#
#   scripts/debian13.sh [COMMAND]      default: make test && make demo
#
# The root is built from this machine's own mirror (scripts/apt-mirror.sh) into
# $JXFB_CACHE/debian13-<key>, where the key is a hash of the suite, the mirror and the package
# list, and is reused while it is younger than 30 days. Each run copies the commit under test
# (HEAD; uncommitted changes are not included) in afresh, so nothing of an earlier run's checkout
# or .venv is reused; pip's download cache inside the root is. proc, dev, dev/pts and sys are
# mounted for the run and unmounted on every exit, interrupted or not.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${JXFB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jxframebuf}
suite=trixie
# What the README's commands need on Debian 13, and what scripts/setup.sh would otherwise
# install on the first run (xauth, valgrind, weston, debootstrap, pulseaudio and its tools), so
# that it finds everything.
packages=(python3 python3-venv python3-dev libsdl3-dev xvfb g++ make git ca-certificates
          xauth valgrind weston debootstrap pulseaudio pulseaudio-utils)
command=${1:-make test && make demo}
max_age_days=30

say() { echo "debian13: $*"; }
[ "$(id -u)" -eq 0 ] || { say "needs root (debootstrap, chroot, mount)" >&2; exit 1; }
command -v debootstrap >/dev/null || { say "debootstrap is missing (run scripts/setup.sh)" >&2; exit 1; }

mirror=$(bash "$root/scripts/apt-mirror.sh")
key=$(printf '%s\n' "$suite" "$mirror" "${packages[@]}" | sha256sum | cut -c1-12)
rootfs="$cache/debian13-$key"
mkdir -p "$cache"

# Everything mounted below $1, deepest first.
mounts_under() {
    awk -v dir="$1/" 'index($2, dir) == 1 { print $2 }' /proc/mounts | sort -r
}
# Ends what is still running inside the root (the run's own children), then unmounts.
release() {
    local dir=$1 pid
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$dir" ] && kill -KILL "$pid" 2>/dev/null || true
    done
    local m
    for m in $(mounts_under "$dir"); do
        umount "$m" 2>/dev/null || umount -l "$m" || say "could not unmount $m" >&2
    done
}
building=""
step_pid=""
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    [ -n "$step_pid" ] && kill -TERM "$step_pid" 2>/dev/null || true
    release "$rootfs"
    if [ -n "$building" ]; then
        release "$building"
        # Never removes across a mount that is still there (--one-file-system).
        [ -z "$(mounts_under "$building")" ] && rm -rf --one-file-system "$building"
    fi
    exit "$status"
}
# One run at a time uses the cached roots (other worktrees share the cache). The cleanup is set up
# only once the lock is held: a run still waiting must not touch the mounts of the one running.
exec 9>"$cache/debian13.lock"
flock 9
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mount_system() {
    local dir=$1
    mount -t proc proc "$dir/proc"
    mount --bind /dev "$dir/dev"
    mount --bind /dev/pts "$dir/dev/pts"
    mount -t sysfs sysfs "$dir/sys"
}

# Runs a long step in the background and waits for it: a signal to this script then runs the
# cleanup at once (bash defers traps until a foreground child ends), which ends the step too.
waited() {
    "$@" &
    step_pid=$!
    wait "$step_pid"
}

in_root() {
    local dir=$1
    shift
    chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

stamp="$rootfs/.jxfb-complete"
if [ -f "$stamp" ] && [ -n "$(find "$stamp" -mtime -"$max_age_days")" ]; then
    say "reusing the Debian 13 root $rootfs"
else
    [ -d "$rootfs" ] && { release "$rootfs"; rm -rf --one-file-system "$rootfs"; }
    building=$(mktemp -d "$cache/debian13-build.XXXXXX")
    start=$SECONDS
    say "debootstrap of Debian 13 ($suite, minbase) from $mirror into $building"
    waited debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        "$suite" "$building" "$mirror" > "$building.log" 2>&1 \
        || { tail -n 20 "$building.log" >&2; say "debootstrap failed (log: $building.log)" >&2; exit 1; }
    cp /etc/resolv.conf "$building/etc/resolv.conf"
    mount_system "$building"
    say "installing ${packages[*]}"
    in_root "$building" apt-get update -qq
    waited in_root "$building" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${packages[@]}" > "$building.log" 2>&1 \
        || { tail -n 20 "$building.log" >&2; say "apt-get install failed (log: $building.log)" >&2; exit 1; }
    in_root "$building" apt-get clean
    release "$building"
    rm -f "$building.log"
    touch "$building/.jxfb-complete"
    mv "$building" "$rootfs"
    building=""
    say "root ready in $((SECONDS - start)) s"
fi

# The checkout: the commit under test, fresh.
work="$rootfs/work/jxframebuf"
rm -rf --one-file-system "$work"
mkdir -p "$work"
git -C "$root" archive --format=tar HEAD | tar -x -C "$work"
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] \
    || say "testing commit $(git -C "$root" rev-parse --short HEAD); uncommitted changes are not in it"

# Network settings from this machine: name resolution, the CA bundle (pip fails certificate
# verification without this machine's), pip's configuration files, the PIP_* variables, and the
# files and folders that those name (files copied, folders mounted read-only).
cp /etc/resolv.conf "$rootfs/etc/resolv.conf"
bundle=/etc/ssl/certs/ca-certificates.crt
[ -f "$bundle" ] && cp "$bundle" "$rootfs$bundle"
pip_env=()
named=()
for f in /etc/pip.conf /etc/xdg/pip/pip.conf "$HOME/.config/pip/pip.conf" "$HOME/.pip/pip.conf"; do
    [ -f "$f" ] || continue
    dest="$rootfs${f/#$HOME//root}"
    mkdir -p "$(dirname "$dest")" && cp "$f" "$dest"
    named+=($(sed -n 's/^[^#;=]*=\s*//p' "$f"))
done
while IFS= read -r var; do
    pip_env+=("$var")
    named+=(${var#*=})
done < <(env | grep '^PIP_' || true)
mount_system "$rootfs"
for path in "${named[@]}"; do
    case $path in /*) ;; *) continue ;; esac
    if [ -f "$path" ]; then
        mkdir -p "$rootfs$(dirname "$path")" && cp "$path" "$rootfs$path"
    elif [ -d "$path" ] && ! mountpoint -q "$rootfs$path"; then
        mkdir -p "$rootfs$path"
        mount --bind -o ro "$path" "$rootfs$path"
    fi
done

say "running '$command' in $(in_root "$rootfs" sh -c '. /etc/os-release; echo "$PRETTY_NAME"')"
waited in_root "$rootfs" "${pip_env[@]}" CI="${CI:-}" bash -c "cd /work/jxframebuf && $command"
say "passed"
