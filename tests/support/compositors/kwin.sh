#!/usr/bin/env bash
# kwin_wayland (KDE Plasma) on virtual outputs with XWayland, in the foreground until
# signalled; writes STATE_DIR/environment (DISPLAY, XAUTHORITY) once X clients can connect.
# Usage: kwin.sh WIDTH HEIGHT OUTPUTS STATE_DIR
set -euo pipefail
source "$(dirname "$0")/common.sh"

# The installed binary carries file capabilities, which a container refuses at exec; a plain
# copy has none.
install -m 755 /usr/bin/kwin_wayland "$state/kwin_wayland"
unset QT_QPA_PLATFORM
# --no-lockscreen: a lock screen would take the keyboard once idle for a while.
# --exit-with-session: kwin quits when the child does.
run_compositor "$state/kwin_wayland" --virtual --xwayland --width "$width" --height "$height" \
  --output-count "$outputs" --no-lockscreen --exit-with-session "$(printf %q "$report")"
