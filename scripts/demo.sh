#!/usr/bin/env bash
# Assembles a demo disc folder under build/demo/disc and starts the menu from
# it under Wine, in the Wine session's prefix build/wine/demo. With a display
# the menu appears there and runs until closed; without one it runs on a
# private Xvfb, a screenshot is saved to build/demo/menu.png, and the menu is
# ended.
#
# The disc carries stand-ins for what lies outside the menu (the DirectX
# setup library, the registration program, the codec and the setup program,
# under the names facts/standins.txt gives them), which show a message box
# when they are used, so that every button does something visible.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
demo=$root/build/demo
disc=$demo/disc

if [ "${1:-}" != "--inside" ]; then
  source "$root/scripts/lib/facts.sh"
  rm -rf "$disc"
  mkdir -p "$disc"
  cp "$build/autorun.exe" "$disc/autorun.exe"
  python3 "$root/scripts/make_splash.py" "$disc/autorun.bmp"
  standins=$(facts_rows standins)
  while read -r built name; do
    cp "$build/$built" "$disc/$name"
  done <<<"$standins"
  export AUTORUN_USER_DISPLAY=${DISPLAY:-}
  # The session starts each demo from a machine without the codec.
  exec bash "$root/scripts/wine-session.sh" --prefix demo -- bash "$0" --inside
fi

source "$root/scripts/lib/wine.sh"
# The DirectX stand-in asks for a restart, so that Install shows every step.
export STANDIN_SHOW=1 STANDIN_DSETUP_RESULT=1 STANDIN_LOG='C:\windows\temp\autorun-demo.log'
cd "$disc"

if [ "${AUTORUN_DEMO_SCREENSHOT:-auto}" = never ] ||
   { [ "${AUTORUN_DEMO_SCREENSHOT:-auto}" = auto ] && [ -n "${AUTORUN_USER_DISPLAY:-}" ]; }; then
  echo "The menu is running on display $DISPLAY; close it with Exit."
  wine autorun.exe
  exit 0
fi

wine autorun.exe </dev/null >/dev/null 2>&1 &
menu=$!
status=0
if window=$(wine_wait_for_window autorun.exe); then
  sleep 1 # let the first paint finish
  import -silent -window "$window" "$demo/menu.png"
  echo "Screenshot: $demo/menu.png"
  pid=$(wine_window_process "$window")
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
else
  echo "The menu showed no window; no screenshot." >&2
  status=1
fi
kill "$menu" 2>/dev/null || true
wait "$menu" 2>/dev/null || true
# The session ends whatever else runs in its prefix.
exit $status
