#!/usr/bin/env bash
# The menu's start-up against the blank-window yardstick, under the project's
# Wine session, for each build this machine can run: the x86_64 build always,
# the shipping i686 build where 32-bit code runs. Also prints the size of the
# shipping program file.
#   scripts/bench-startup.sh [RUNS]   (default 20 runs of each program)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20}
work=$root/build/bench-startup

if [ "${2:-}" != "--inside" ]; then
  rm -rf "$work"
  mkdir -p "$work"
  # The disc as a player's machine sees it first: the splash picture, no
  # codec, no installed game.
  python3 "$root/scripts/make_splash.py" "$work/autorun.bmp"
  exec bash "$root/scripts/wine-session.sh" --i686 --private-display -- bash "$0" "$runs" --inside
fi
source "$root/scripts/lib/wine.sh"

measure() {
  local build=$1 name=$2
  local disc=$work/disc-$name
  mkdir -p "$disc"
  cp "$work/autorun.bmp" "$disc/"
  cp "$root/build/$build/autorun.exe" "$root/build/$build/blank_window.exe" \
     "$root/build/$build/blank_window_drawdib.exe" "$disc/"
  echo "== start-up, $name build ($build/autorun.exe) =="
  wine "$root/build/win64/startup_bench.exe" "$runs" "Z:$disc" "Z:$disc/autorun.exe" "Z:$disc/blank_window.exe" \
    "Z:$disc/blank_window_drawdib.exe"
}

measure win64 x86_64
if [ -n "${AUTORUN_WINEPREFIX_I686:-}" ]; then
  WINEPREFIX=$AUTORUN_WINEPREFIX_I686 measure win32 i686
else
  reason=$(wine_can_run i686) || true
  echo "== start-up, i686 build: not measured (${reason:-the Wine session made no i686 prefix}) =="
fi
echo "shipping program file: $(stat -c %s "$root/build/win32/autorun.exe") bytes (build/win32/autorun.exe)"
