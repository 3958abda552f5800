#!/usr/bin/env bash
# Runs a Windows executable under Wine in the project's private prefix.
# The prefix is made on first use. winedbg is disabled so that a crash exits
# non-zero instead of starting the debugger and passing as success.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${WYPRAWY_WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=-all
export LANG=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/.wyprawy-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.wyprawy-ready" ]; then
      wine wineboot -i >/dev/null 2>&1
      wineserver -w
      mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
      cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
      touch "$WINEPREFIX/.wyprawy-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
[ "$#" -eq 0 ] && exit 0
exec wine "$@"
