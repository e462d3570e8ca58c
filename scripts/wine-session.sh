#!/usr/bin/env bash
# Runs a command inside a Wine session of the project's own: a private prefix
# under build/ (made once), a persistent Wine server that is shut down when
# the command ends, and a private Xvfb display unless DISPLAY is already set
# (or AUTORUN_PRIVATE_DISPLAY=1 asks for one anyway).
#   scripts/wine-session.sh ctest --test-dir build/win64
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ -z "${DISPLAY:-}" ] || [ "${AUTORUN_PRIVATE_DISPLAY:-0}" = 1 ]; then
  # xvfb-run -a picks a free display number; never assume one.
  export AUTORUN_PRIVATE_DISPLAY=0
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

quietly() { "$@" </dev/null >/dev/null 2>&1; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  echo "Creating the Wine prefix $WINEPREFIX (once)..."
  quietly wine wineboot -i || true
  # Without a window manager, closing a dialog waits 2 s in the X11 driver
  # unless Wine manages its own windows.
  quietly wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  # The menu must see the codec as a real Windows machine does: loadable only
  # when a real library is there, never through a built-in replacement.
  quietly wine reg add 'HKCU\Software\Wine\DllOverrides' /v ir50_32 /t REG_SZ /d native /f
  quietly wineserver -w
  rm -f "$WINEPREFIX"/drive_c/windows/system32/ir50_32.dll "$WINEPREFIX"/drive_c/windows/syswow64/ir50_32.dll
fi

# A persistent server, started with its output detached, so that the helper
# processes Wine starts never hold a test runner's pipes open.
quietly wineserver -k || true
quietly wineserver -w || true
quietly wineserver -p
trap 'quietly wineserver -k || true; quietly wineserver -w || true' EXIT
quietly wine wineboot -u || true

status=0
"$@" || status=$?
exit $status
