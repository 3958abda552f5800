#!/usr/bin/env bash
# Starts or stops the loopback TLS test server (tls_server.py) for ctest.
#   tls_server.sh start DIR [PYTHON]   starts it in the background, waits for DIR/ports.txt
#   tls_server.sh stop DIR             ends it
# The server also ends by itself after its lifetime, so an interrupted run
# leaves nothing behind for long.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
action=${1:?start or stop}
dir=${2:?server folder}
python=${3:-python3}
lifetime=${WYPRAWY_TLS_SERVER_LIFETIME:-1800}

stop() {
  if [ -f "$dir/server.pid" ]; then
    pid=$(cat "$dir/server.pid")
    # Only our own server: the pid file names it, and it must still be it.
    if kill -0 "$pid" 2>/dev/null && grep -q tls_server.py "/proc/$pid/cmdline" 2>/dev/null; then
      kill "$pid"
    fi
    rm -f "$dir/server.pid"
  fi
}

case "$action" in
  start)
    mkdir -p "$dir"
    stop
    rm -f "$dir/ports.txt"
    # Detached from ctest's pipes, so that ctest does not wait for it.
    setsid "$python" "$here/tls_server.py" "$dir" --lifetime "$lifetime" \
      </dev/null >"$dir/server.log" 2>&1 &
    echo $! >"$dir/server.pid"
    for _ in $(seq 600); do
      [ -s "$dir/ports.txt" ] && { cat "$dir/ports.txt"; exit 0; }
      kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "the TLS test server did not start:" >&2
    cat "$dir/server.log" >&2
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR [PYTHON]" >&2
    exit 2
    ;;
esac
