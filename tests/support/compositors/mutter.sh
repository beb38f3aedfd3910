#!/usr/bin/env bash
# mutter (GNOME) headless with XWayland, in the foreground until signalled; writes
# STATE_DIR/environment (DISPLAY, XAUTHORITY) once X clients can connect.
# Usage: mutter.sh WIDTH HEIGHT OUTPUTS STATE_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"

monitors=()
for _ in $(seq "$outputs"); do monitors+=(--virtual-monitor "${width}x$height"); done
run_compositor mutter --headless --wayland "${monitors[@]}" -- "$report"
