# shellcheck shell=bash
# What the mutter and kwin recipes share, sourced with their arguments, WIDTH HEIGHT OUTPUTS
# STATE_DIR: private folders under STATE_DIR, the child that reports the XWayland display,
# and run_compositor, which runs one in a D-Bus session of its own in the foreground until
# SIGTERM and leaves nothing behind.
usage() { echo "usage: $0 WIDTH HEIGHT OUTPUTS STATE_DIR" >&2; exit 2; }
[[ $# -eq 4 ]] || usage
for n in "$1" "$2" "$3"; do [[ $n =~ ^[1-9][0-9]*$ ]] || usage; done
width=$1 height=$2 outputs=$3
mkdir -p "$4"
state=$(cd "$4" && pwd)

# Private home and runtime folders, so no user settings or sessions count.
mkdir -p "$state/home" "$state/config" "$state/runtime"
chmod 700 "$state/runtime"
export HOME=$state/home XDG_CONFIG_HOME=$state/config XDG_RUNTIME_DIR=$state/runtime
unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY XAUTHORITY
rm -f "$state/environment"
# The X socket folder must be world-writable; one that XWayland makes under umask 022 is not.
mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix

# The compositor runs this once XWayland is up and quits when it exits, so it stays alive.
report=$state/report-environment
cat >"$report" <<'CHILD'
#!/usr/bin/env bash
set -u
out=$(dirname "$0")/environment
for _ in $(seq 300); do
  if xhost >/dev/null 2>&1; then
    printf 'DISPLAY=%s\nXAUTHORITY=%s\n' "${DISPLAY-}" "${XAUTHORITY-}" >"$out.tmp"
    mv "$out.tmp" "$out"
    exec sleep infinity
  fi
  sleep 0.1
done
echo "no X connection to '${DISPLAY-}'" >&2
exit 1
CHILD
chmod +x "$report"

# run_compositor COMMAND...: its log goes to stderr; exits 0 once ended by SIGTERM, else
# non-zero.
run_compositor() {
  local name rc=0 pid lock n
  name=$(basename "$1")
  # In the background, so that a SIGTERM to this script alone, not to the group, ends the
  # wait too.
  trap 'terminated=1' TERM
  dbus-run-session -- bash -c 'echo $$ >"$0/compositor.pid" && exec "$@"' "$state" "$@" >&2 &
  wait $! || rc=$?
  # End what is left in our group (the child, XWayland, the bus) however the wait ended.
  trap '' TERM
  [[ $(ps -o pgid= -p $$) -ne $$ ]] || kill -TERM 0
  wait || true
  # Give it a moment to go (one busy drawing heeds SIGTERM late), then end it. Killed, or
  # dying of losing XWayland first, it leaves its X lock files and sockets: remove them.
  pid=$(cat "$state/compositor.pid" 2>/dev/null) || pid=
  for _ in $(seq 50); do
    [[ -n $pid && $(ps -o stat= -p "$pid") == [^Z]* ]] && sleep 0.1 || break
  done
  if [[ -n $pid && $(ps -o stat= -p "$pid") == [^Z]* ]]; then kill -KILL "$pid"; fi
  for lock in /tmp/.X*-lock; do
    if [[ -n $pid && $(tr -d ' \n' 2>/dev/null <"$lock") == "$pid" ]]; then
      n=${lock#/tmp/.X}
      rm -f "$lock" "/tmp/.X11-unix/X${n%-lock}"
    fi
  done
  [[ -z ${terminated-} ]] || exit 0
  echo "$name ended (status $rc)" >&2
  exit $((rc ? rc : 1))
}
