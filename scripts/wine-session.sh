#!/usr/bin/env bash
# Runs a command inside a Wine session of the project's own: a private prefix
# under build/ (made once), a persistent Wine server that is shut down when
# the command ends, and a private Xvfb display unless DISPLAY is already set
# (or AUTORUN_PRIVATE_DISPLAY=1 asks for one anyway).
#   scripts/wine-session.sh ctest --test-dir build/win64
# Where the machine runs 32-bit code and the 32-bit Wine is installed, the
# session also prepares a WoW64 prefix of its own for the shipping i686
# program (build/wineprefix-i686, exported as AUTORUN_WINEPREFIX_I686) and
# keeps a server running for it too.
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

wine32_installed=0
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  wine32_installed=1
fi

prefixes=("$WINEPREFIX")
if [ $wine32_installed -eq 1 ] && bash "$root/scripts/can-run-32bit.sh" >/dev/null; then
  export AUTORUN_WINEPREFIX_I686=$root/build/wineprefix-i686
  prefixes+=("$AUTORUN_WINEPREFIX_I686")
fi

make_prefix() {
  export WINEPREFIX=$1
  # A prefix made before the 32-bit Wine was installed has no syswow64, and
  # no program at all starts in it any more: make it again.
  if [ -f "$WINEPREFIX/system.reg" ] && [ $wine32_installed -eq 1 ] &&
     [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
    echo "The Wine prefix $WINEPREFIX predates the 32-bit Wine; making it again..."
    quietly wineserver -k || true
    rm -rf "$WINEPREFIX"
  fi
  [ -f "$WINEPREFIX/system.reg" ] && return 0
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
}

# A persistent server per prefix, started with its output detached, so that
# the helper processes Wine starts never hold a test runner's pipes open.
start_server() {
  export WINEPREFIX=$1
  quietly wineserver -k || true
  quietly wineserver -w || true
  quietly wineserver -p
  quietly wine wineboot -u || true
  clear_leftovers
}

# The tests never remove a codec file or install record they did not create:
# they skip instead, as on a tester's machine. These prefixes are the
# project's own, so whatever an interrupted run left there goes before the
# tests start, rather than have them skip.
clear_leftovers() {
  local view
  for view in 32 64; do
    quietly wine reg delete 'HKLM\SOFTWARE\KORU Media' /f /reg:$view || true
  done
  find "$WINEPREFIX/drive_c/windows" -maxdepth 2 -iname ir50_32.dll -delete
}

stop_servers() {
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix quietly wineserver -k || true
    WINEPREFIX=$prefix quietly wineserver -w || true
  done
}

main_prefix=$WINEPREFIX
trap stop_servers EXIT
for prefix in "${prefixes[@]}"; do
  make_prefix "$prefix"
  start_server "$prefix"
done
export WINEPREFIX=$main_prefix

status=0
"$@" || status=$?
exit $status
