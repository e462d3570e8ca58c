#!/usr/bin/env bash
# The project's Wine session: every script and CMake runs Windows programs
# through it (the rules are in scripts/lib/wine.sh).
set -euo pipefail

source "$(dirname "$0")/lib/wine.sh"

usage() {
  cat <<'EOF'
usage: wine-session.sh [OPTIONS] [--] COMMAND [ARG...]
       wine-session.sh --can-run RUN
       wine-session.sh --exec RUN [--] PROGRAM [ARG...]

Runs COMMAND in a Wine session of the project's own: a Wine prefix under
build/wine/ (made once and marked as the session's), a persistent Wine server
for it, stopped when COMMAND ends, and a private Xvfb display unless DISPLAY
is set. Install records and codec files an interrupted run left in the
prefix are cleared first. COMMAND gets WINEPREFIX; a WINEPREFIX, WINEARCH or
WINESERVER from the caller is ignored, with a note: the session uses no
prefix it did not make. One session a prefix at a time: while another
session uses the prefix, it says whose (process id and command) and waits.
Exits with COMMAND's exit code, or 2 when it refuses.

  --prefix NAME      the prefix build/wine/NAME (default x86_64)
  --i686             also the i686 run's prefix, build/wine/i686 (NAME-i686
                     beside another --prefix NAME), where this machine can
                     make the i686 run (exported as AUTORUN_WINEPREFIX_I686)
  --fresh            make the prefix anew, as a fresh machine
  --private-display  a private Xvfb even when DISPLAY is set
  --screen WxH       the private Xvfb's screen size (default 1024x768)
  --no-wait          refuse (exit 2), saying whose it is, when another
                     session uses the prefix, rather than wait

  --can-run RUN      exits with 0 when the run x86_64 or i686 can be made on
                     this machine; otherwise prints why and exits with 1
  --exec RUN         starts a Windows program under the Wine loader of the
                     run's bitness in the run's prefix, which a session must
                     have made (the end-to-end tests start this way): inside
                     a session, its own (WINEPREFIX, AUTORUN_WINEPREFIX_I686)

AUTORUN_ASSUME_NO_32BIT=1 answers as a machine that cannot run 32-bit code.
EOF
}

refuse() {
  echo "wine-session: $*" >&2
  exit 2
}

session_command="wine-session.sh $*"
name=x86_64 with_i686=0 fresh=0 private_display=0 no_wait=0 screen=1024x768
while [ $# -gt 0 ]; do
  case $1 in
  --help | -h) usage; exit 0 ;;
  --prefix)
    [ $# -ge 2 ] || refuse "--prefix needs a name"
    name=$2
    shift 2
    ;;
  --i686) with_i686=1; shift ;;
  --fresh) fresh=1; shift ;;
  --private-display) private_display=1; shift ;;
  --no-wait) no_wait=1; shift ;;
  --screen)
    [[ ${2:-} =~ ^[1-9][0-9]{2,4}x[1-9][0-9]{2,4}$ ]] || refuse "--screen needs a size WxH, as 1600x1200"
    screen=$2
    shift 2
    ;;
  --can-run)
    [ $# -eq 2 ] || refuse "--can-run takes one run: x86_64 or i686"
    status=0
    wine_can_run "$2" || status=$?
    exit $status
    ;;
  --exec)
    [ $# -ge 2 ] || refuse "--exec needs a run and a program"
    run=$2
    shift 2
    [ "${1:-}" != -- ] || shift
    [ $# -ge 1 ] || refuse "--exec needs a program"
    case $run in x86_64 | i686) ;; *) refuse "no such run: '$run' (x86_64 or i686)" ;; esac
    prefix=$(wine_exec_prefix "$run")
    wine_prefix_ours "$prefix" ||
      refuse "no prefix of the Wine session at $prefix: run this inside the session" \
        "(scripts/wine-session.sh, as make test does)"
    export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    exec "$(wine_loader "$run")" "$@"
    ;;
  --) shift; break ;;
  -*) refuse "unknown option: $1 (see --help)" ;;
  *) break ;;
  esac
done
[ $# -ge 1 ] || refuse "no command to run (see --help)"
prefix=$(wine_prefix_path "$name") || exit 2

for variable in WINEPREFIX WINEARCH WINESERVER; do
  value=${!variable:-}
  [ -n "$value" ] || continue
  case $variable=$value in
  WINEPREFIX="$wine_dir"/*) ;; # a session's own, as inside another session
  *) wine_note "ignoring $variable=$value from the environment: the session runs in $prefix, a prefix of its own" ;;
  esac
  unset "$variable"
done
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine reads the X authority from the home folder when XAUTHORITY is unset,
# and the session changes the home folder while it makes prefixes.
[ -z "${DISPLAY:-}" ] || export XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}

prefixes=("$prefix")
if [ $with_i686 -eq 1 ] && [ "$name" != i686 ]; then
  if reason=$(wine_can_run i686); then
    export AUTORUN_WINEPREFIX_I686=$wine_dir/i686
    [ "$name" = x86_64 ] || AUTORUN_WINEPREFIX_I686=$prefix-i686
    prefixes+=("$AUTORUN_WINEPREFIX_I686")
  else
    echo "wine-session: no i686 prefix: $reason"
    unset AUTORUN_WINEPREFIX_I686
  fi
fi

mkdir -p "$wine_dir"
scratch=$(mktemp -d "$wine_dir/session.XXXXXX")
started=()
end_session() {
  local one
  for one in "${started[@]}"; do wine_server_stop "$one"; done
  wine_display_stop
  wine_unlock_prefixes
  rm -rf -- "$scratch"
}
trap end_session EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Nothing of a prefix is stopped, cleared or made again before its lock is held.
status=0
wine_lock_prefixes "$no_wait" "$$ $session_command" "${prefixes[@]}" || status=$?
[ $status -eq 0 ] || exit 2

# DISPLAY must be set before a prefix boots, or every later window fails.
if [ -z "${DISPLAY:-}" ] || [ $private_display -eq 1 ]; then
  wine_display_start "$scratch" "$screen" || exit 1
fi

for one in "${prefixes[@]}"; do
  status=0
  wine_prefix_ready "$one" "$fresh" || status=$?
  [ $status -eq 0 ] || exit $status
  started+=("$one")
  wine_server_start "$one"
  wine_clear_leftovers "$one"
done

export WINEPREFIX=$prefix
status=0
"$@" || status=$?
exit $status
