#!/usr/bin/env bash
# Pictures of the menu in every language variant a Unix locale can select, so
# that translations can be checked by looking:
#   scripts/screenshots.sh      (make screenshots; needs make build-win64)
# The variants are the languages of the program's string table. For each, the
# Unix locale meant to select it is tried with ui_language.exe, which prints
# the language id Wine really gives a process started in that locale. Where
# the two agree, the menu is started in that locale in each of three machine
# states, and its window, title bar included, is saved as
# build/screenshots/<locale>-<state>.png:
#   codec   the codec library is missing: Install codec
#   install the codec loads, no install record: Install
#   play    the codec loads, the install record names a folder with the game: Play
# build/screenshots/all.png lays them out, one row per locale, with a caption
# under each; build/screenshots/languages.png is the small excerpt shown in
# the README (docs/languages.png). Variants no locale selects are listed at
# the end with the reason, and the run checks its own pictures: it fails when
# one is missing, differs in size, or does not show the state it was taken in.
#
# Runs in the Wine session's prefix build/wine/screenshots, always on a
# private Xvfb. The codec file and the install record it puts there are
# removed again when it ends.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
out=$root/build/screenshots
work=$root/build/screenshots-work
source "$root/scripts/lib/wine.sh"
source "$root/scripts/lib/facts.sh"

states=(codec install play)
declare -A state_caption=([codec]="codec missing" [install]="not installed" [play]="installed")

# The variants, the Unix locale meant to select each, and what is known
# about those that none can (facts/languages.txt).
declare -A locale_for=() known_limit=()
languages=$(facts_rows languages)
while read -r id locale _ limit; do
  locale_for[$id]=$locale
  [ -z "$limit" ] || known_limit[$id]=$limit
done <<<"$languages"

install_key='HKLM\SOFTWARE\KORU Media'
record_key="$install_key"'\ZANTORIA\1.00'

# Inside the Wine session: learn which language each locale selects, then
# start the menu in each state and locale and capture its window.
# Writes $work/selected ("locale id" lines) and $work/captures
# ("locale|id|state|title|file" lines).
if [ "${1:-}" = --inside ]; then
  codec_file=$WINEPREFIX/drive_c/windows/system32/IR50_32.DLL
  menu=""

  # The record in the registry view the x86_64 menu reads: where the 32-bit
  # Wine is installed, a plain "wine reg" is the 32-bit program, and writes
  # to the 32-bit view.
  remove_record() { wine_quietly wine reg delete "$install_key" /reg:64 /f || true; }
  cleanup() {
    [ -z "$menu" ] || end_menu
    rm -f "$codec_file"
    remove_record
  }

  # What an interrupted run left in the prefix the session has cleared.
  trap cleanup EXIT

  add_codec() { cp "$build/codec_loads.dll" "$codec_file"; }
  add_record() {
    wine_quietly wine reg add "$record_key" /v Path /t REG_SZ /d "Z:${work//\//\\}\\game" /reg:64 /f ||
      { echo "Cannot write the install record" >&2; return 1; }
  }
  set_state() {
    case $1 in
    codec) rm -f "$codec_file" && remove_record ;;
    install) add_codec && remove_record ;;
    play) add_codec && add_record ;;
    esac
  }

  # The display is this run's own, the prefix too, and the menu refuses to run
  # twice, so there is at most one menu window; a second one is an error,
  # never a guess.
  menu_windows() { wine_windows autorun.exe; }

  # Ends the menu through the process its window names (wine's own process
  # where it runs the program itself), and the wine started for it. Without a
  # window to go by, every process in the prefix, which is the session's
  # alone, and the server is started again: a menu left running would keep
  # the next from starting. (taskkill cannot do it: in a WoW64 prefix the
  # 32-bit taskkill does not see 64-bit programs.)
  end_menu() {
    local window=${1:-} pid=""
    [ -z "$window" ] || pid=$(wine_window_process "$window")
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null || true
    else
      wine_server_start "$WINEPREFIX"
    fi
    kill "$menu" 2>/dev/null || true
    wait "$menu" 2>/dev/null || true
    menu=""
    # Ended, so that the next menu does not find this one still running and
    # end itself without a window.
    for _ in $(seq 1 50); do
      [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    # Gone from the display too, so that the next menu finds no other one.
    for _ in $(seq 1 50); do
      [ -n "$(menu_windows)" ] || return 0
      sleep 0.1
    done
    echo "the menu's window stayed on the display" >&2
  }

  # Painted: the middle of the window shows the splash picture's many colours
  # rather than a plain background, and two captures in a row are the same.
  painted() {
    [ "$(convert "$1" -gravity center -crop 50%x50%+0+0 +repage -format %k info:)" -ge 16 ]
  }
  capture_painted() {
    local window=$1 file=$2 previous=$work/previous.png current=$work/current.png
    rm -f "$previous"
    for _ in $(seq 1 50); do
      sleep 0.1
      import -silent -window "$window" "$current" 2>/dev/null || continue
      if [ -f "$previous" ] && painted "$current" && compare -metric AE "$previous" "$current" null: 2>/dev/null; then
        mv "$current" "$file"
        return 0
      fi
      mv "$current" "$previous"
    done
    return 1
  }

  # Starts the menu in the locale, saves its window to the file, ends it.
  # Prints the window's title.
  capture() {
    local locale=$1 file=$2 window=""
    [ -z "$(menu_windows)" ] || { echo "$locale: a menu window is already on the display" >&2; return 1; }
    LC_ALL=$locale.UTF-8 LANG=$locale.UTF-8 wine autorun.exe </dev/null >/dev/null 2>&1 &
    menu=$!
    local status=1
    if ! window=$(wine_wait_for_window autorun.exe 2>&1); then
      echo "$locale: $window" >&2
      window=""
    else
      if ! capture_painted "$window" "$file"; then
        echo "$locale: the window did not settle into a painted picture" >&2
      else
        xprop -id "$window" -notype _NET_WM_NAME | sed -n 's/^_NET_WM_NAME = "\(.*\)"$/\1/p'
        status=0
      fi
    fi
    end_menu "$window"
    return $status
  }

  cd "$work/disc"
  declare -A selected=()
  while read -r id locale; do
    [ -z "${selected[$locale]:-}" ] || continue
    selected[$locale]=$(LC_ALL=$locale.UTF-8 LANG=$locale.UTF-8 wine "$build/ui_language.exe" </dev/null 2>/dev/null |
      tr -d '\r') || true
    echo "$locale ${selected[$locale]}" >>"$work/selected"
  done <"$work/tries"

  wanted=()
  while read -r id locale; do
    if [ "${selected[$locale]:-}" = "$id" ]; then wanted+=("$locale:$id"); fi
  done <"$work/tries"

  failed=0
  for state in "${states[@]}"; do
    set_state "$state"
    for pair in "${wanted[@]}"; do
      locale=${pair%%:*} id=${pair##*:}
      file=$out/$locale-$state.png
      if title=$(capture "$locale" "$file"); then
        echo "$locale|$id|$state|$title|$file" >>"$work/captures"
      else
        failed=1
      fi
    done
  done
  exit $failed
fi

# Outside: prepare the disc and the game folder, capture in the Wine session,
# then lay the pictures out, list what could not be captured and check it all.
for file in autorun.exe ui_language.exe codec_loads.dll recorder.exe; do
  [ -f "$build/$file" ] || { echo "No $build/$file; build the win64 preset first (make build-win64)." >&2; exit 1; }
done

# The variants, grouped by language: primary language first, then the id.
# (The shipping program's check holds the program to this list.)
mapfile -t variants < <(printf '%s\n' "${!locale_for[@]}" | awk '{ print $1 % 1024, $1 }' | sort -n -k1,1 -k2,2 |
  cut -d' ' -f2)
[ ${#variants[@]} -gt 0 ] || { echo "No language variants in facts/languages.txt" >&2; exit 1; }

rm -rf "$out" "$work"
mkdir -p "$out" "$work/disc" "$work/game"
trap 'rm -rf "$work"' EXIT
cp "$build/autorun.exe" "$work/disc/autorun.exe"
python3 "$root/scripts/make_splash.py" "$work/disc/autorun.bmp"
cp "$build/recorder.exe" "$work/game/Zantoria.exe"

# A locale that is not generated is not tried: Wine would still take the
# language from its name, but the process would run in the C locale.
available=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]')
declare -A reason=()
failures=()
: >"$work/tries"
for id in "${variants[@]}"; do
  locale=${locale_for[$id]:-}
  if [ -z "$locale" ]; then
    reason[$id]="no Unix locale is known to select it"
  elif ! grep -qx "$(tr '[:upper:]' '[:lower:]' <<<"$locale").utf8" <<<"$available"; then
    reason[$id]="the locale $locale.UTF-8 is not generated here (scripts/install-deps.sh generates it)"
    failures+=("$id not captured: ${reason[$id]}")
  else
    echo "$id $locale" >>"$work/tries"
  fi
done

: >"$work/selected"
: >"$work/captures"
echo "Capturing the menu in ${#variants[@]} language variants under Wine..."
session=0
bash "$root/scripts/wine-session.sh" --prefix screenshots --private-display -- \
  bash "$root/scripts/screenshots.sh" --inside || session=$?

declare -A selected=() captured=() title=()
while read -r locale id; do selected[$locale]=$id; done <"$work/selected"
while IFS='|' read -r locale id state text file; do
  captured[$locale-$state]=$file
  title[$locale-$state]=$text
done <"$work/captures"

# What was captured, in sheet order, and what not, with the reason.
rows=()
for id in "${variants[@]}"; do
  [ -z "${reason[$id]:-}" ] || continue
  locale=${locale_for[$id]}
  if [ "${selected[$locale]:-none}" = "$id" ]; then
    rows+=("$locale:$id")
  else
    reason[$id]="$locale selects ${selected[$locale]:-no language} under this Wine"
    [ -z "${known_limit[$id]:-}" ] || reason[$id]+=": ${known_limit[$id]}"
    [ -n "${selected[$locale]:-}" ] || failures+=("ui_language.exe printed nothing in $locale")
  fi
done

[ $session -eq 0 ] || failures+=("the capture session failed (exit code $session)")
[ ${#rows[@]} -gt 0 ] || failures+=("no language variant could be captured")

# Every picture is there and the window's size, and each shows its state: the
# title changes once the game is installed, the button once the codec loads.
size=""
montage_args=()
for row in "${rows[@]}"; do
  locale=${row%%:*} id=${row##*:}
  for state in "${states[@]}"; do
    file=${captured[$locale-$state]:-}
    if [ -z "$file" ] || [ ! -f "$file" ]; then
      failures+=("no picture of $locale in the $state state")
      continue
    fi
    this=$(identify -format '%wx%h' "$file")
    size=${size:-$this}
    [ "$this" = "$size" ] || failures+=("$file is $this, not $size like the first picture")
    [ -n "${title[$locale-$state]}" ] || failures+=("$locale, $state state: the window has no title")
    montage_args+=(-label "$locale | $id | ${state_caption[$state]}" "$file")
  done
  codec=${captured[$locale-codec]:-} install=${captured[$locale-install]:-}
  if [ -f "$codec" ] && [ -f "$install" ] && compare -metric AE "$codec" "$install" null: 2>/dev/null; then
    failures+=("$locale: the codec missing and not installed pictures are the same")
  fi
  if [ -n "${captured[$locale-install]:-}" ] && [ -n "${captured[$locale-play]:-}" ] &&
     [ "${title[$locale-install]}" = "${title[$locale-play]}" ]; then
    failures+=("$locale: the title is the same installed and not installed (${title[$locale-play]})")
  fi
done

sheet=$out/all.png
if [ ${#montage_args[@]} -gt 0 ]; then
  montage -font DejaVu-Sans -pointsize 13 -background white -geometry +6+6 -tile ${#states[@]}x \
    "${montage_args[@]}" "$sheet"
fi
if [ ! -s "$sheet" ] || ! identify "$sheet" >/dev/null 2>&1; then failures+=("no contact sheet at $sheet"); fi

# The README's excerpt: three languages in the Install state.
excerpt=()
for locale in de_DE fr_FR sv_SE; do
  file=${captured[$locale-install]:-}
  if [ -f "$file" ]; then excerpt+=(-label "$locale | ${selected[$locale]} | ${state_caption[install]}" "$file"); fi
done
if [ ${#excerpt[@]} -eq 9 ]; then
  montage -font DejaVu-Sans -pointsize 13 -background white -geometry +4+4 -tile 3x "${excerpt[@]}" \
    -colors 256 "PNG8:$out/languages.png"
else
  failures+=("no README excerpt: German, French or Swedish was not captured")
fi

echo
echo "Captured ${#rows[@]} of ${#variants[@]} language variants in ${#states[@]} states, $size each:"
for row in "${rows[@]}"; do printf '  %s %s\n' "${row##*:}" "${row%%:*}"; done
if [ ${#rows[@]} -lt ${#variants[@]} ]; then
  echo "Not captured:"
  for id in "${variants[@]}"; do
    [ -z "${reason[$id]:-}" ] || printf '  %s %s\n' "$id" "${reason[$id]}"
  done
fi
if [ ${#failures[@]} -gt 0 ]; then
  echo >&2
  printf 'FAIL: %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "Contact sheet: $sheet"
