#!/usr/bin/env bash
# Runs sway headless with XWayland for the end-to-end tests, in the foreground
# until SIGTERM. Writes STATE_DIR/environment (DISPLAY, SWAYSOCK, XAUTHORITY)
# once root's X clients can connect.
#   sway.sh WIDTH HEIGHT OUTPUTS STATE_DIR [floating]
set -euo pipefail

if [[ $# -lt 4 || $# -gt 5 || ! $3 =~ ^[12]$ || ${5:-floating} != floating ]]; then
    echo "usage: $0 WIDTH HEIGHT 1|2 STATE_DIR [floating]" >&2
    exit 2
fi
width=$1 height=$2 outputs=$3 state=$4 floating=${5:-}

# sway refuses to run as root; nobody/nogroup exist on any Debian install.
user=nobody group=nogroup
runtime=$state/runtime
mkdir -p "$runtime" "$state/home"
# The child runs as that user and must create the report file in STATE_DIR.
chown "$user:$group" "$state" "$runtime" "$state/home"
chmod 0700 "$runtime"

{
    echo "xwayland force"
    echo "output HEADLESS-1 resolution ${width}x${height} position 0 0"
    if [[ $outputs == 2 ]]; then
        echo "output HEADLESS-2 resolution ${width}x${height} position $width 0"
    fi
    if [[ -n $floating ]]; then
        echo 'for_window [shell="xwayland"] floating enable'
    fi
    echo "exec /bin/sh $state/ready.sh"
} > "$state/sway.config"

# sway execs this once XWayland is starting; xhost succeeding means the
# server is up and root's clients are let in.
cat > "$state/ready.sh" <<CHILD
umask 022
tries=0
until xhost +si:localuser:root >/dev/null 2>&1; do
    tries=\$((tries + 1))
    if [ \$tries -ge 100 ]; then
        echo "sway.sh: XWayland did not accept clients" >&2
        swaymsg exit
        exit 1
    fi
    sleep 0.1
done
printf 'DISPLAY=%s\nSWAYSOCK=%s\nXAUTHORITY=%s\n' \
    "\$DISPLAY" "\$SWAYSOCK" "\${XAUTHORITY:-}" > "$state/environment.tmp"
mv "$state/environment.tmp" "$state/environment"
CHILD
chmod 0644 "$state/sway.config" "$state/ready.sh"

# sway gets a session of its own: a TERM to our process group must not reach
# XWayland before sway, or sway restarts XWayland and leaves it behind.
trap 'term=1; kill -TERM "${sway:-}" 2>/dev/null || true' TERM INT HUP
# A clean environment keeps the machine's D-Bus, DISPLAY and WAYLAND_DISPLAY out.
setsid setpriv --reuid="$user" --regid="$group" --clear-groups \
    env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$state/home" \
        XDG_RUNTIME_DIR="$runtime" \
        WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS="$outputs" \
        WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway --config "$state/sway.config" &
sway=$!
[[ -z ${term:-} ]] || kill -TERM "$sway"
status=0
# wait returns early when a trapped signal arrives; sway is still shutting down.
while kill -0 "$sway" 2>/dev/null; do
    wait "$sway" && status=0 || status=$?
done
# Whatever sway left in its session (an XWayland mid-start) goes with it.
kill -KILL -- "-$sway" 2>/dev/null || true
[[ -z ${term:-} ]] || exit 0
(( status == 0 )) || exit "$status"
# sway ending on its own without a report means XWayland never came up.
[[ -s $state/environment ]]
