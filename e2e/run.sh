#!/usr/bin/env bash
# Real-window tests of both programs: a private X server (Xvfb) with the
# Polish keyboard layout and openbox, then e2e/runner.py (unittest), which
# starts each program in a fresh working directory and drives it with xdotool.
#
#   e2e/run.sh [--only linux|windows] [-k NAME_PART] [--keep]
#
# Programs: build/linux/wyprawy and build/windows/wyprawy.exe (run under
# Wine through cmake/wine-run.sh, in a Wine prefix of its own under
# build/e2e). WYPRAWY_LINUX_PROGRAM and WYPRAWY_WINDOWS_PROGRAM override.
# Screenshots go to build/e2e/screenshots/.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
out=$root/build/e2e
mkdir -p "$out"

# One run at a time: the Windows program's runs share one Wine prefix, whose
# wineserver decides which window has the keyboard, and each run stops that
# wineserver at its end.
exec 8>"$out/run.lock"
flock 8

only=
for ((i = 1; i <= $#; i++)); do
  if [ "${!i}" = --only ]; then j=$((i + 1)); only=${!j:-}; fi
done

missing=()
for tool in Xvfb xdotool xwininfo xprop setxkbmap openbox wmctrl import python3 timeout; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "e2e: missing tools: ${missing[*]} (scripts/deps.sh installs them)"
  echo "0 passed, 1 failed"
  exit 1
fi

session=$(mktemp -d /tmp/wyprawy-e2e-session.XXXXXX)
xvfb_pid=
openbox_pid=
wine_prefix=$out/wineprefix
wineserver_started=

stop_session() {
  if [ -n "$wineserver_started" ]; then
    WINEPREFIX=$wine_prefix wineserver -k >/dev/null 2>&1
    WINEPREFIX=$wine_prefix wineserver -w >/dev/null 2>&1
  fi
  if [ -n "$openbox_pid" ]; then kill "$openbox_pid" 2>/dev/null; wait "$openbox_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$session"
}
trap stop_session EXIT
trap 'exit 130' INT TERM

# The display number comes from the server itself: other X servers may be
# running on this machine, so no number is assumed. The screen is tall
# enough for SettingsWindow at 150 % scaling (its frame reaches y 807).
Xvfb -displayfd 5 -noreset -screen 0 1280x1024x24 -nolisten tcp 5>"$session/display" 2>"$out/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$session/display" ] && break
  sleep 0.05
done
if [ ! -s "$session/display" ]; then
  echo "e2e: Xvfb did not start (see $out/xvfb.log)"
  echo "0 passed, 1 failed"
  exit 1
fi
export DISPLAY=:$(head -n 1 "$session/display")
export LC_ALL=C.UTF-8

# Polish layout: xdotool then types Polish letters with real key codes.
setxkbmap pl

openbox --sm-disable >"$out/openbox.log" 2>&1 &
openbox_pid=$!
for _ in $(seq 100); do
  wmctrl -m >/dev/null 2>&1 && break
  sleep 0.05
done

export WYPRAWY_E2E_OUT=$out
export WYPRAWY_WINE_RUN=$root/cmake/wine-run.sh
export WYPRAWY_WINEPREFIX=$wine_prefix
: "${WYPRAWY_LINUX_PROGRAM:=$root/build/linux/wyprawy}"
: "${WYPRAWY_WINDOWS_PROGRAM:=$root/build/windows/wyprawy.exe}"
export WYPRAWY_LINUX_PROGRAM WYPRAWY_WINDOWS_PROGRAM

if [ "$only" != linux ] && [ -f "$WYPRAWY_WINDOWS_PROGRAM" ]; then
  # A Wine prefix of our own: the unit tests' prefix may be in use by other
  # runs, and its wineserver must not be the one that holds our display.
  "$WYPRAWY_WINE_RUN" || true
  # One persistent wineserver keeps each program start warm.
  WINEPREFIX=$wine_prefix wineserver -p >/dev/null 2>&1 && wineserver_started=1
fi

python3 "$here/runner.py" "$@"
status=$?
exit "$status"
