#!/usr/bin/env bash
# Assembles a demo disc folder under build/demo/disc and starts the menu from
# it under Wine. With a display the menu appears there and runs until closed;
# without one it runs on a private Xvfb, a screenshot is saved to
# build/demo/menu.png, and the menu is ended.
#
# The disc carries stand-ins for what lies outside the menu (the DirectX
# setup library, the registration program, the codec and the setup program),
# which show a message box when they are used, so that every button does
# something visible.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
demo=$root/build/demo
disc=$demo/disc
export WINEPREFIX=${WINEPREFIX:-$demo/wineprefix}

if [ "${1:-}" != "--inside" ]; then
  rm -rf "$disc"
  mkdir -p "$disc"
  cp "$build/autorun.exe" "$disc/autorun.exe"
  python3 "$root/scripts/make_splash.py" "$disc/autorun.bmp"
  for pair in dsetup_standin.dll:DSETUP.dll recorder.exe:setup.exe recorder.exe:RegSvr32.exe \
              codec_loads.dll:MYIR50_32.dll; do
    cp "$build/${pair%%:*}" "$disc/${pair##*:}"
  done
  export AUTORUN_USER_DISPLAY=${DISPLAY:-}
  exec bash "$root/scripts/wine-session.sh" bash "$0" --inside
fi

# Inside the Wine session. Each demo starts from a machine without the codec.
rm -f "$WINEPREFIX/drive_c/windows/system32/IR50_32.DLL"
# The DirectX stand-in asks for a restart, so that Install shows every step.
export STANDIN_SHOW=1 STANDIN_DSETUP_RESULT=1 STANDIN_LOG='C:\windows\temp\autorun-demo.log'
cd "$disc"

if [ "${AUTORUN_DEMO_SCREENSHOT:-auto}" = never ] ||
   { [ "${AUTORUN_DEMO_SCREENSHOT:-auto}" = auto ] && [ -n "${AUTORUN_USER_DISPLAY:-}" ]; }; then
  echo "The menu is running on display $DISPLAY; close it with Exit."
  wine autorun.exe
  exit 0
fi

wine autorun.exe &
menu=$!
window=""
for _ in $(seq 1 100); do
  window=$(xwininfo -root -tree 2>/dev/null | grep -E '"[^"]*ZANTORIA[^"]*"' | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
sleep 1 # let the first paint finish
if [ -n "$window" ]; then
  # xwininfo prints e.g. ... 486x385+269+178  +269+178
  geometry=$(echo "$window" | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' | head -n 1)
  import -window root -crop "$geometry" +repage "$demo/menu.png"
else
  import -window root "$demo/menu.png"
fi
echo "Screenshot: $demo/menu.png"
kill "$menu" 2>/dev/null || true
wineserver -k 2>/dev/null || true
