#!/usr/bin/env bash
# Runs the README's two commands where a newcomer runs them: a minimal Debian 12, made here with
# `debootstrap --variant=minbase bookworm` from this machine's own apt sources, entered as root
# with a clean environment (no DISPLAY, no D-Bus address). Copies the working tree (tracked
# files and untracked ones git does not ignore, so no build folders) and ../shared into it, runs
# ./demo.sh, then ./test.sh, and prints each one's time and result; exits non-zero if either
# failed. Needs root (or sudo) and debootstrap.
#
# tools/fresh_machine.sh [COMMAND...]   (default: ./demo.sh, then ./test.sh)
#   FRESH_MACHINE_DIR   where the machine is made (default: a new folder under /var/tmp);
#                       it is removed at the end unless KEEP_FRESH_MACHINE=1.
#   FRESH_MACHINE_DEBS  a folder that keeps the downloaded .deb files between runs (opt-in):
#                       apt still resolves and installs every package inside the machine,
#                       only the downloads are saved.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=FRESH_MACHINE_DIR,FRESH_MACHINE_DEBS,KEEP_FRESH_MACHINE,FUZZ_SECONDS \
        "$0" "$@"
fi
command -v debootstrap >/dev/null || { echo "fresh_machine.sh: install debootstrap" >&2; exit 1; }

project=$PWD
shared=$(realpath ../shared)
root=${FRESH_MACHINE_DIR:-$(mktemp -d /var/tmp/fresh-machine.XXXXXX)}
mkdir -p "$root"
root=$(realpath "$root")
if [ "$root" = / ] || [ -n "$(ls -A "$root")" ]; then
    echo "fresh_machine.sh: $root is not an empty folder" >&2
    exit 1
fi
# The machine's /: mktemp makes it private, which would lock out its own users (apt's _apt).
chmod 755 "$root"
debs=${FRESH_MACHINE_DEBS:-}
inside=/root/$(basename "$project")
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(./demo.sh ./test.sh)

duration() {
    printf '%d:%02d' $(($1 / 60)) $(($1 % 60))
}

# The mounts inside the machine, deepest first.
mounts_inside() {
    findmnt -rn -o TARGET | awk -v root="$root/" 'index($0, root) == 1' | sort -r
}

# Ends what still runs inside the machine (an Xvfb, a D-Bus daemon, a wineserver), unmounts
# everything there and, unless asked to keep it, deletes the machine. Nothing is deleted while
# anything is still mounted inside it.
clean_up() {
    local status=$? link pid target
    for link in /proc/[0-9]*/root; do
        pid=${link#/proc/}
        pid=${pid%/root}
        target=$(readlink "$link" 2>/dev/null) || continue
        [ "$target" = "$root" ] && kill -9 "$pid" 2>/dev/null
    done
    for target in $(mounts_inside); do
        umount "$target" || umount -l "$target" || true
    done
    if [ -n "$(mounts_inside)" ]; then
        echo "fresh_machine.sh: still mounted, $root kept:" >&2
        mounts_inside >&2
        exit 1
    fi
    if [ "${KEEP_FRESH_MACHINE:-0}" = 1 ]; then
        echo "kept $root"
    else
        rm -rf --one-file-system "$root"
    fi
    exit "$status"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

# The one-line apt source files there are.
one_line_sources() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        if [ -f "$file" ]; then cat "$file"; fi
    done
}

# This machine's Debian archive for bookworm: the first URI of an entry whose suites include
# bookworm, in deb822 files or one-line ones.
debian_mirror() {
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk 'BEGIN { RS = ""; FS = "\n" }
             /(^|\n)Types:[^\n]*deb([ \t\n]|$)/ && /(^|\n)Suites:[^\n]*[ \t]bookworm([ \t\n]|$)/ {
                 for (i = 1; i <= NF; i++) if ($i ~ /^URIs:/) { split($i, f, /[ \t]+/); print f[2] }
             }' "$file"
    done
    one_line_sources |
        awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++;
                           if ($(i + 1) == "bookworm") print $i }'
}

# The machine's apt sources: this machine's entries for bookworm and its updates and security
# suites, as a fresh install has them.
write_sources() {
    local list=$root/etc/apt/sources.list file
    : >"$list"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        grep -Eq '^Suites:.*[[:space:]]bookworm' "$file" &&
            cp "$file" "$root/etc/apt/sources.list.d/"
    done
    one_line_sources |
        grep -E '^deb[[:space:]].*[[:space:]]bookworm(-updates|-security)?[[:space:]]' >>"$list" ||
        true
}

make_machine() {
    local mirror cache=()
    mirror=$(debian_mirror | sed -n 1p)
    [ -n "$mirror" ] || { echo "no bookworm entry in this machine's apt sources" >&2; return 1; }
    if [ -n "$debs" ]; then
        mkdir -p "$debs"
        cache=(--cache-dir="$(realpath "$debs")")
    fi
    local log=$root.debootstrap.log
    debootstrap --variant=minbase "${cache[@]}" bookworm "$root" "$mirror" >"$log" 2>&1 ||
        { tail -n 20 "$log"; return 1; }
    rm -f "$log"
    write_sources
    cp /etc/resolv.conf "$root/etc/resolv.conf"
}

# mount_private ARGS... TARGET: a mount whose later mounts do not reach the machine's own.
mount_private() {
    mount "$@"
    mount --make-private "${@: -1}"
}

mount_inside() {
    mount_private -t proc proc "$root/proc"
    mount_private -t sysfs sysfs "$root/sys"
    mount_private --bind /dev "$root/dev"
    mount_private --bind /dev/pts "$root/dev/pts"
    mount_private -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    if [ -n "$debs" ]; then
        mount_private --bind "$(realpath "$debs")" "$root/var/cache/apt/archives"
    fi
}

copy_project() {
    mkdir -p "$root$inside" "$root/root/shared"
    git -C "$project" ls-files -z --cached --others --exclude-standard |
        tar -C "$project" --null -T - --ignore-failed-read -cf - | tar -C "$root$inside" -xf -
    cp -a "$shared/." "$root/root/shared/"
}

# run_inside COMMAND: as root after a login, with nothing of this machine's environment.
run_inside() {
    chroot "$root" /usr/bin/env -i \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root \
        LOGNAME=root SHELL=/bin/bash TERM="${TERM:-linux}" LANG=C.UTF-8 \
        FUZZ_SECONDS="${FUZZ_SECONDS:-60}" /bin/bash -c "cd $inside && $1"
}

packages_inside() {
    # shellcheck disable=SC2016 # dpkg-query's own field syntax
    chroot "$root" dpkg-query -W -f='${Package}\n' | wc -l
}

began=$SECONDS
echo "== making a minimal Debian 12 in $root =="
make_machine
mount_inside
copy_project
echo "made in $(duration $((SECONDS - began))), $(packages_inside) packages"

failures=0
results=()
for command in "${commands[@]}"; do
    echo "== $command =="
    start=$SECONDS packages=$(packages_inside) status=0
    run_inside "$command" || status=$?
    outcome=passed
    [ "$status" -eq 0 ] || { outcome="FAILED (exit $status)"; failures=$((failures + 1)); }
    results+=("$(printf '%-12s %7s  %s, %d packages installed' "$command" \
        "$(duration $((SECONDS - start)))" "$outcome" $(($(packages_inside) - packages)))")
    echo "${results[-1]}"
done
echo "== fresh machine =="
printf '%s\n' "${results[@]}"
printf '%-12s %7s\n' total "$(duration $((SECONDS - began)))"
[ "$failures" -eq 0 ]
