#!/bin/sh
# Runs a command that may lock no memory: a locked-memory limit of 0, and, where root runs it,
# without the capability that would pass over that limit.
if [ "$(id -u)" = 0 ]; then set -- setpriv --bounding-set=-ipc_lock "$@"; fi
exec prlimit --memlock=0:0 "$@"
