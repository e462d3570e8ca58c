#!/usr/bin/env bash
# The Wine session uses, changes and removes no prefix it did not make, and
# makes, marks, clears and makes again its own. It runs here on a copy of the
# scripts, with stand-ins for Wine's commands, the package query and the
# 32-bit probe, so that no real prefix is made: each Wine stand-in logs the
# prefix it was started for and lays out a skeleton prefix when it boots one.
#   test_wine_session.sh REPOSITORY SCRATCH
set -uo pipefail

repo=${1:?usage: test_wine_session.sh REPOSITORY SCRATCH}
scratch=${2:?}
rm -rf "$scratch"
mkdir -p "$scratch/bin"

failures=0
fail() {
  echo "FAIL: $case_name: $*"
  failures=$((failures + 1))
}

# Wine, as far as the session uses it.
cat >"$scratch/bin/wine" <<'STANDIN'
#!/bin/sh
echo "wine ${WINEPREFIX:-<no WINEPREFIX>} $*" >>"$SESSION_LOG"
if [ "$1 $2" = "wineboot -i" ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/system32" "$WINEPREFIX/dosdevices"
  echo 'WINE REGISTRY Version 2' >"$WINEPREFIX/system.reg"
  echo placeholder >"$WINEPREFIX/drive_c/windows/system32/ir50_32.dll"
  if [ "$FAKE_WINE32" = 1 ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/syswow64"
    echo placeholder >"$WINEPREFIX/drive_c/windows/syswow64/ir50_32.dll"
  fi
fi
STANDIN
cat >"$scratch/bin/wineserver" <<'STANDIN'
#!/bin/sh
echo "wineserver ${WINEPREFIX:-<no WINEPREFIX>} $*" >>"$SESSION_LOG"
STANDIN
cat >"$scratch/bin/dpkg-query" <<'STANDIN'
#!/bin/sh
[ "$FAKE_WINE32" = 1 ] && printf 'install ok installed'
STANDIN
# The loaders --exec starts a program with, and a private display: each logs
# what it was started with.
mkdir -p "$scratch/bin/loaders"
for loader in wine wine64; do
  printf '#!/bin/sh\necho "%s ${WINEPREFIX:-<no WINEPREFIX>} $*" >>"$CASE_OUT/exec"\n' "$loader" \
    >"$scratch/bin/loaders/$loader"
done
cat >"$scratch/bin/Xvfb" <<'STANDIN'
#!/bin/sh
echo "Xvfb $*" >"$CASE_OUT/xvfb"
echo 99 >&3
exec sleep 60
STANDIN
printf '#!/bin/sh\n' >"$scratch/bin/xauth"
chmod +x "$scratch/bin"/* "$scratch/bin/loaders"/*

# A copy of the session's scripts with the probe's answer given.
tree=$scratch/repo
mkdir -p "$tree/scripts/lib"
cp "$repo/scripts/wine-session.sh" "$tree/scripts/"
sed "s|/usr/lib/wine/|$scratch/bin/loaders/|g" "$repo/scripts/lib/wine.sh" >"$tree/scripts/lib/wine.sh"
cat >"$tree/scripts/can-run-32bit.sh" <<'STANDIN'
#!/bin/sh
[ "$FAKE_32BIT" = 1 ] && exit 0
echo "this machine cannot run 32-bit code"
exit 1
STANDIN
wine_dir=$tree/build/wine

# A player's own prefix of the usual kind for old games (32-bit, no
# syswow64), holding the game's install record, the codec and a file of its
# own.
player=$scratch/home/.wine-games
mkdir -p "$player/drive_c/windows/system32" "$player/drive_c/Games/Zantoria"
printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win32' '[Software\\KORU Media\\ZANTORIA\\1.00] 1' \
  '"Path"="C:\\Games\\Zantoria"' >"$player/system.reg"
printf 'the real codec\n' >"$player/drive_c/windows/system32/ir50_32.dll"
printf 'a saved game\n' >"$player/drive_c/Games/Zantoria/slot1.sav"

# Every file's path, kind, size, mode, time and bytes.
fingerprint() {
  (cd "$1" && find . -printf '%p %y %s %m %T@ %l\n' | sort && find . -type f -print0 | sort -z | xargs -0r sha256sum)
}
# A prefix the session made, with the state given ("ready" or "making").
our_prefix() {
  mkdir -p "$1/drive_c/windows/system32"
  printf '%s\n' '# made by the session' "$2" >"$1/.autorun-wine-session"
}

# Runs the session; the command "$inside" writes the environment it got to
# $out/env.
cat >"$scratch/inside.sh" <<'COMMAND'
env | grep -E '^(WINEPREFIX|WINEARCH|AUTORUN_WINEPREFIX_I686)=' | sort >"$CASE_OUT/env"
COMMAND
inside=(sh "$scratch/inside.sh")
session() {
  out=$scratch/out/$case_number${tag:-}
  rm -rf "$out"
  mkdir -p "$out"
  : >"$out/log"
  status=0
  timeout 60 env PATH="$scratch/bin:$PATH" SESSION_LOG="$out/log" CASE_OUT="$out" DISPLAY=:fake \
    FAKE_32BIT="${fake_32bit:-1}" FAKE_WINE32="${fake_wine32:-1}" "$@" >"$out/stdout" 2>"$out/stderr" || status=$?
  echo "$status" >"$out/status"
}
expect_status() { [ "$status" -eq "$1" ] || fail "exit code $status, not $1 ($(tr '\n' ' ' <"$out/stderr"))"; }
expect_env() { grep -qx -- "$1" "$out/env" 2>/dev/null || fail "the command did not get $1 (got: $(cat "$out/env" 2>/dev/null))"; }
expect_no_env() { ! grep -q "^$1=" "$out/env" 2>/dev/null || fail "the command got $(grep "^$1=" "$out/env")"; }
expect_said() { grep -qF -- "$1" "$out/stdout" "$out/stderr" || fail "no word of '$1'"; }
# Wine was started for no prefix but the session's own.
expect_only_our_prefixes() {
  local line
  while read -r line; do
    case $line in
    "wine $wine_dir/"* | "wineserver $wine_dir/"*) ;;
    *) fail "Wine was started outside the session's prefixes: $line" ;;
    esac
  done <"$out/log"
}
expect_made() {
  [ -f "$1/.autorun-wine-session" ] && grep -qx ready "$1/.autorun-wine-session" || fail "$1 is not marked ready"
  [ -z "$(find "$1/drive_c/windows" -iname ir50_32.dll)" ] || fail "a codec file is left in $1"
}

# The caller's prefix, checked as each case ends.
expect_player_kept() { [ "$(fingerprint "$player")" = "$before" ] || fail "the caller's prefix changed"; }
case_number=0
run_case() {
  [ "$case_number" = 0 ] || expect_player_kept
  case_name=$1
  case_number=$((case_number + 1))
  rm -rf "$wine_dir"
  fake_32bit=1 fake_wine32=1
}

before=$(fingerprint "$player")

run_case "a caller's WINEPREFIX and WINEARCH are ignored, the prefix left byte for byte"
session WINEPREFIX="$player" WINEARCH=win32 bash "$tree/scripts/wine-session.sh" --i686 -- "${inside[@]}"
expect_status 0
expect_env "WINEPREFIX=$wine_dir/x86_64"
expect_env "AUTORUN_WINEPREFIX_I686=$wine_dir/i686"
expect_no_env WINEARCH
expect_said "ignoring WINEPREFIX=$player"
expect_said "ignoring WINEARCH=win32"
expect_only_our_prefixes
expect_made "$wine_dir/x86_64"
expect_made "$wine_dir/i686"
grep -q "wine $wine_dir/x86_64 reg delete HKLM\\\\SOFTWARE\\\\KORU Media" "$out/log" ||
  fail "the install record left in its own prefix is not cleared"
grep -q "wineserver $wine_dir/x86_64 -k" <(tail -n 4 "$out/log") || fail "its servers are not stopped at the end"

# Whether the machine runs 32-bit code, whether wine32 is there, AUTORUN_ASSUME_NO_32BIT, what is said.
for probe in "0 1 0 this machine cannot run 32-bit code" \
             "1 0 0 wine32 is not installed" \
             "1 1 1 this machine cannot run 32-bit code (AUTORUN_ASSUME_NO_32BIT=1)"; do
  read -r bits packages assume reason <<<"$probe"
  run_case "no i686 prefix where the i686 run cannot be made: $reason"
  fake_32bit=$bits fake_wine32=$packages
  session WINEPREFIX="$player" AUTORUN_ASSUME_NO_32BIT=$assume bash "$tree/scripts/wine-session.sh" --i686 -- "${inside[@]}"
  expect_status 0
  expect_env "WINEPREFIX=$wine_dir/x86_64"
  expect_no_env AUTORUN_WINEPREFIX_I686
  expect_said "$reason"
  [ ! -e "$wine_dir/i686" ] || fail "an i686 prefix was made"
  expect_only_our_prefixes
  session AUTORUN_ASSUME_NO_32BIT=$assume bash "$tree/scripts/wine-session.sh" --can-run i686
  expect_status 1
  grep -qF "$reason" "$out/stdout" || fail "--can-run i686 says '$(cat "$out/stdout")', not '$reason'"
done

run_case "another prefix with its i686 one: --exec starts each run's programs there, never in a caller's prefix"
cat >"$scratch/exec.sh" <<'COMMAND'
WINEPREFIX=$PLAYER bash "$SESSION" --exec x86_64 -- a.exe
bash "$SESSION" --exec x86_64 -- b.exe
bash "$SESSION" --exec i686 -- c.exe
COMMAND
session SESSION="$tree/scripts/wine-session.sh" PLAYER="$player" \
  bash "$tree/scripts/wine-session.sh" --prefix windows-like --i686 -- sh "$scratch/exec.sh"
expect_status 0
expect_made "$wine_dir/windows-like-i686"
[ ! -e "$wine_dir/i686" ] || fail "the default i686 prefix was made"
# a.exe is refused: the x86_64 run's usual prefix has not been made.
printf '%s\n' "wine64 $wine_dir/windows-like b.exe" "wine $wine_dir/windows-like-i686 c.exe" |
  diff - "$out/exec" >/dev/null 2>&1 ||
  fail "programs started as $(tr '\n' ';' <"$out/exec" 2>/dev/null)"
expect_only_our_prefixes

run_case "--screen gives the private display its size, and refuses what is not one"
session bash "$tree/scripts/wine-session.sh" --private-display --screen 1600x1200 -- true
expect_status 0
grep -q -- "-screen 0 1600x1200x24 " "$out/xvfb" || fail "Xvfb was started as: $(cat "$out/xvfb")"
for size in 1600 1600x 0x1200 1600x1200x24 "1600 x1200"; do
  session bash "$tree/scripts/wine-session.sh" --private-display --screen "$size" -- true
  expect_status 2
  [ ! -e "$out/xvfb" ] || fail "Xvfb was started with --screen '$size'"
done

run_case "--can-run i686 where it can"
session bash "$tree/scripts/wine-session.sh" --can-run i686
expect_status 0

# Folders at the session's paths that it did not make, and the session's
# --exec (as CTest starts the tests) without a prefix of the session's.
refusals=(
  "a folder it did not make|mkdir -p '$wine_dir/demo' && cp -a '$player/.' '$wine_dir/demo/'|--prefix demo -- true"
  "a link to a marked prefix elsewhere|mkdir -p '$wine_dir' && ln -s '$scratch/elsewhere' '$wine_dir/demo'|--prefix demo -- true"
  "a prefix it did not make, with --fresh|mkdir -p '$wine_dir/demo' && cp -a '$player/.' '$wine_dir/demo/'|--prefix demo --fresh -- true"
  "--exec without the session's prefix|mkdir -p '$wine_dir/x86_64' && cp -a '$player/.' '$wine_dir/x86_64/'|--exec x86_64 -- program.exe"
  "--exec without any prefix|true|--exec i686 -- program.exe"
)
rm -rf "$scratch/elsewhere"
our_prefix "$scratch/elsewhere" ready
elsewhere=$(fingerprint "$scratch/elsewhere")
for refusal in "${refusals[@]}"; do
  IFS='|' read -r name setup arguments <<<"$refusal"
  run_case "refused: $name"
  eval "$setup"
  watched=$wine_dir/demo
  [ -e "$watched" ] || watched=$wine_dir/x86_64
  [ -e "$watched" ] && had=$(fingerprint "$watched/") || had=""
  eval "session bash '$tree/scripts/wine-session.sh' $arguments"
  expect_status 2
  [ ! -e "$watched" ] || [ "$(fingerprint "$watched/")" = "$had" ] || fail "$watched changed"
  [ "$(fingerprint "$scratch/elsewhere")" = "$elsewhere" ] || fail "the linked prefix changed"
  [ ! -s "$out/log" ] || fail "Wine was started: $(head -n 1 "$out/log")"
done

# Its own prefixes: kept as made, or made again when they cannot serve.
remakes=(
  "ready, with syswow64|ready|1|1||kept"
  "ready, no syswow64, no 32-bit Wine|ready|0|0||kept"
  "no syswow64 once the 32-bit Wine is there|ready|0|1||made again"
  "its making was interrupted|making|1|1||made again"
  "a fresh one asked for|ready|1|1|--fresh|made again"
)
for remake in "${remakes[@]}"; do
  IFS='|' read -r name state syswow64 wine32 fresh outcome <<<"$remake"
  run_case "$outcome: $name"
  fake_wine32=$wine32
  prefix=$wine_dir/demo
  our_prefix "$prefix" "$state"
  [ "$syswow64" = 0 ] || mkdir -p "$prefix/drive_c/windows/syswow64"
  echo "a file of the session's" >"$prefix/drive_c/session-file"
  echo "left by a run" >"$prefix/drive_c/windows/system32/IR50_32.DLL"
  session bash "$tree/scripts/wine-session.sh" --prefix demo $fresh -- "${inside[@]}"
  expect_status 0
  expect_env "WINEPREFIX=$prefix"
  expect_made "$prefix"
  [ -f "$prefix/drive_c/session-file" ] && got=kept || got="made again"
  [ "$got" = "$outcome" ] || fail "the prefix was $got"
  expect_only_our_prefixes
done

# Two sessions on one prefix. The first's command leaves a codec file, as a
# running test does, and waits to be let go; then it starts a session on its
# own prefix, which must refuse rather than wait for itself.
cat >"$scratch/first.sh" <<'COMMAND'
codec=$WINEPREFIX/drive_c/windows/system32/IR50_32.DLL
echo "a running test's" >"$codec"
touch "$CASE_OUT/running"
while [ ! -e "$CASE_OUT/go" ]; do sleep 0.05; done
[ -f "$codec" ] && echo kept >"$CASE_OUT/codec"
bash "$SESSION" -- true
echo $? >"$CASE_OUT/nested"
COMMAND
# Waits up to ten seconds for a file, or for a text in it.
wait_for() {
  for _ in $(seq 1 200); do
    if [ $# -eq 1 ]; then [ -e "$1" ]; else grep -qF -- "$2" "$1" 2>/dev/null; fi && return 0
    sleep 0.05
  done
  return 1
}
run_case "a second session on a prefix in use refuses with --no-wait, or waits, touching nothing of the first's"
session_script=$tree/scripts/wine-session.sh
first_out=$scratch/out/$case_number.first
tag=.first session SESSION="$session_script" bash "$session_script" -- sh "$scratch/first.sh" &
first=$!
wait_for "$first_out/running" || fail "the first session's command did not start"
tag=.refused session bash "$session_script" --no-wait -- "${inside[@]}"
expect_status 2
expect_said "wine-session.sh -- sh $scratch/first.sh"
holder=$(grep -o 'process [0-9]*' "$out/stderr" | head -n 1)
ps -o args= -p "${holder#process }" 2>/dev/null | grep -q "wine-session.sh -- sh" ||
  fail "'$holder' is not the first session's process"
[ ! -s "$out/log" ] || fail "the refused session started Wine: $(head -n 1 "$out/log")"
tag=.waiting session bash "$session_script" -- "${inside[@]}" &
second=$!
out=$scratch/out/$case_number.waiting
wait_for "$out/stderr" "waiting for the session that uses $wine_dir/x86_64 to end: $holder" ||
  fail "the second session did not say whose session it waits for ($(cat "$out/stderr"))"
sleep 0.5
[ ! -s "$out/log" ] || fail "the second session started Wine while the first ran: $(head -n 1 "$out/log")"
[ ! -e "$out/env" ] || fail "the second session's command ran while the first ran"
touch "$first_out/go"
wait "$first" "$second"
[ "$(cat "$first_out/status")" = 0 ] || fail "the first session failed: $(cat "$first_out/stderr")"
[ -f "$first_out/codec" ] || fail "the first session's codec file went while it ran"
[ "$(cat "$first_out/nested")" = 2 ] || fail "a session inside the first on its prefix was not refused"
status=$(cat "$out/status")
expect_status 0
expect_env "WINEPREFIX=$wine_dir/x86_64"
[ -s "$out/log" ] || fail "the second session did not start once the first ended"

expect_player_kept
if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
rm -rf "$scratch"
echo "The Wine session kept to its own prefixes in $case_number cases"
