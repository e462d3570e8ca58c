# The project's Wine session, as a library: everything about running Windows
# programs on this machine. scripts/wine-session.sh is its command and the
# only maker of prefixes; CMake asks the command. The Python scripts that run
# inside a session find, capture and end their programs with
# scripts/lib/session.py.
#
# The session keeps Wine prefixes of its own under build/wine/, one for each
# use (x86_64 and i686 for the end-to-end runs, demo, screenshots,
# kit-check). It marks each one it makes with the file $wine_marker, and it
# uses, clears, makes again or removes no prefix without that mark: a folder
# at one of its paths that it did not make is refused, and a WINEPREFIX in
# the caller's environment is ignored, with a note.

wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_dir=$wine_root/build/wine
wine_marker=.autorun-wine-session
# The home folder Wine sees while it makes or updates a prefix: an empty one
# of the session's own, so that no prefix links into the user's folders.
wine_home=$wine_dir/home
# The prefixes this session holds (see wine_lock_prefixes).
wine_locked=()

wine_quietly() { "$@" </dev/null >/dev/null 2>&1; }
wine_note() { echo "wine-session: $*" >&2; }

# The folder of the session's prefix NAME (letters, digits, "-" and "_").
wine_prefix_path() {
  if [[ ! $1 =~ ^[A-Za-z0-9_-]+$ ]]; then
    wine_note "not a prefix name: '$1' (letters, digits, - and _)"
    return 2
  fi
  echo "$wine_dir/$1"
}

# Whether the prefix folder is one the session made: a real folder (not a
# link to one elsewhere) inside build/wine, carrying the mark.
wine_prefix_ours() {
  case $1 in "$wine_dir"/*) ;; *) return 1 ;; esac
  [ -d "$1" ] && [ ! -L "$1" ] && [ -f "$1/$wine_marker" ] && [ ! -L "$1/$wine_marker" ]
}

# The prefix `--exec RUN` starts a program in: inside a session, the
# session's own prefix of that run (WINEPREFIX for x86_64,
# AUTORUN_WINEPREFIX_I686 for i686) where it is one the session made;
# otherwise the run's usual one.
wine_exec_prefix() {
  local inside
  case $1 in x86_64) inside=${WINEPREFIX:-} ;; *) inside=${AUTORUN_WINEPREFIX_I686:-} ;; esac
  if [ -n "$inside" ] && wine_prefix_ours "$inside"; then
    echo "$inside"
  else
    wine_prefix_path "$1"
  fi
}

wine32_installed() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; }

# Whether the run x86_64 or i686 can be made here: the i686 run needs a
# machine that runs 32-bit code (tried, never assumed) and the 32-bit Wine.
# Where it cannot, prints why and returns 1. AUTORUN_ASSUME_NO_32BIT=1 gives
# the answer of a machine that cannot run 32-bit code.
wine_can_run() {
  local reason
  case $1 in
  x86_64) return 0 ;;
  i686)
    if [ "${AUTORUN_ASSUME_NO_32BIT:-0}" = 1 ]; then
      echo "this machine cannot run 32-bit code (AUTORUN_ASSUME_NO_32BIT=1)"
      return 1
    fi
    if ! reason=$(bash "$wine_root/scripts/can-run-32bit.sh"); then
      echo "${reason:-this machine cannot run 32-bit code}"
      return 1
    fi
    if ! wine32_installed; then
      echo "wine32 is not installed (scripts/install-deps.sh installs it)"
      return 1
    fi
    ;;
  *)
    wine_note "no such run: '$1' (x86_64 or i686)"
    return 2
    ;;
  esac
}

# The Wine loader of a run's bitness, so that no run starts a process of the
# other bitness. Where the 32-bit Wine is installed, /usr/bin/wine is the
# 32-bit loader, which hands a 64-bit program on through one more process
# start, and that start now and then fails: there the 64-bit loader is
# started directly.
wine_loader() {
  case $1 in
  i686) echo /usr/lib/wine/wine ;;
  *)
    if [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ]; then
      echo /usr/lib/wine/wine64
    else
      echo /usr/bin/wine
    fi
    ;;
  esac
}

wine_server_stop() {
  WINEPREFIX=$1 wine_quietly wineserver -k || true
  WINEPREFIX=$1 wine_quietly wineserver -w || true
}

# Makes the session's prefix folder ready: made once and marked. A marked one
# is made again when asked to (fresh=1), when its making was interrupted, or
# when it predates the 32-bit Wine (no syswow64: no program starts in it any
# more). A folder there that the session did not make is refused, untouched.
wine_prefix_ready() {
  local prefix=$1 fresh=${2:-0} again=""
  if [ -e "$prefix" ] || [ -L "$prefix" ]; then
    if ! wine_prefix_ours "$prefix"; then
      wine_note "refusing $prefix: the Wine session did not make it, and uses or removes no prefix it did not" \
        "make. Move it out of the way (or make clean) and run again."
      return 2
    fi
    if [ "$fresh" = 1 ]; then
      again="a fresh one is asked for"
    elif ! grep -qx ready "$prefix/$wine_marker"; then
      again="its making was interrupted"
    elif wine32_installed && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
      again="it predates the 32-bit Wine"
    fi
    [ -n "$again" ] || return 0
    echo "Making the Wine prefix $prefix again: $again..."
    wine_server_stop "$prefix"
    rm -rf -- "$prefix"
  fi

  echo "Creating the Wine prefix $prefix (once)..."
  mkdir -p "$prefix" "$wine_home"
  printf '%s\n' "# A Wine prefix made by the project's Wine session (scripts/wine-session.sh)," \
    "# which may clear, make again or remove it. It uses no prefix without this file." making \
    >"$prefix/$wine_marker"
  (
    export WINEPREFIX=$prefix HOME=$wine_home
    wine_quietly wine wineboot -i || true
    # Without a window manager, closing a dialog waits 2 s in the X11 driver
    # unless Wine manages its own windows.
    wine_quietly wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    # The menu must see the codec as a real Windows machine does: loadable
    # only when a real library is there, never through a built-in one.
    wine_quietly wine reg add 'HKCU\Software\Wine\DllOverrides' /v ir50_32 /t REG_SZ /d native /f
    wine_quietly wineserver -w
  ) || return 1
  # Wine puts a placeholder file of each built-in library in the system
  # folders, the codec's too.
  find "$prefix/drive_c/windows" -maxdepth 2 -iname ir50_32.dll -delete
  sed -i 's/^making$/ready/' "$prefix/$wine_marker"
}

# One session a prefix at a time. A session holds a lock on each of its
# prefixes for as long as it runs: flock on NAME.lock beside the prefix's
# folder (not in it: a prefix is made again, or refused, as a whole), with
# NAME.holder beside it saying whose session it is. The locks are held by a
# process of their own, which ends with the session however the session ends,
# and which no program the session starts inherits: a Wine server or a test
# program left behind never keeps a prefix locked.
#   wine_lock_prefixes NO_WAIT WHO PREFIX...
# With NO_WAIT=1 a prefix in use is refused at once (returns 3); otherwise it
# says whose session it waits for and waits. A session started inside the
# session that holds the prefix is refused, since it would wait for itself.
wine_lock_prefixes() {
  local no_wait=$1 who=$2 prefix holder answer="" locks=() flag=""
  shift 2
  if [ "$no_wait" = 1 ]; then flag=-n; fi
  for prefix in $(printf '%s\n' "$@" | sort -u); do
    locks+=("$prefix.lock")
    flock -n "$prefix.lock" true && continue
    holder=$(cat "$prefix.holder" 2>/dev/null) || holder="(a session that has not said who it is yet)"
    if wine_is_ancestor "${holder%% *}"; then
      wine_note "$prefix is held by the session this command runs in ($holder): run the command there directly"
      return 2
    fi
    if [ "$no_wait" = 1 ]; then
      wine_note "$prefix is in use by another session, process $holder; not waiting (--no-wait)"
      return 3
    fi
    wine_note "waiting for the session that uses $prefix to end: process $holder"
  done
  coproc wine_lock_holder {
    for lock in "${locks[@]}"; do
      exec {fd}>>"$lock"
      flock $flag "$fd" || exit 1
    done
    echo locked
    read -r _
  } 2>/dev/null
  read -r answer <&"${wine_lock_holder[0]}" || true
  if [ "$answer" != locked ]; then
    wine_note "could not lock $*${flag:+: another session took it first; not waiting (--no-wait)}"
    return 3
  fi
  wine_locked=("$@")
  for prefix in "${wine_locked[@]}"; do printf '%s\n' "$who" >"$prefix.holder"; done
}

wine_unlock_prefixes() {
  local prefix
  for prefix in "${wine_locked[@]}"; do rm -f -- "$prefix.holder"; done
  wine_locked=()
  [ -n "${wine_lock_holder_PID:-}" ] || return 0
  kill "$wine_lock_holder_PID" 2>/dev/null || true
  wait "$wine_lock_holder_PID" 2>/dev/null || true
}

# Whether process $1 is this shell or one of the processes it runs under.
wine_is_ancestor() {
  local pid=$$
  [[ $1 =~ ^[0-9]+$ ]] || return 1
  while [ -n "$pid" ] && [ "$pid" -gt 1 ]; do
    [ "$pid" = "$1" ] && return 0
    pid=$(ps -o ppid= -p "$pid" | tr -d ' ')
  done
  return 1
}

# A persistent server for the prefix, started with its output detached, so
# that the helper processes Wine starts never hold a test runner's pipes open.
wine_server_start() {
  wine_server_stop "$1"
  (
    export WINEPREFIX=$1 HOME=$wine_home
    wine_quietly wineserver -p
    wine_quietly wine wineboot -u || true
  )
}

# The tests never remove a codec file or install record they did not create:
# they skip instead, as on a tester's machine. In the session's own prefixes
# whatever an interrupted run left goes before anything starts, rather than
# have the tests skip; in no other prefix.
wine_clear_leftovers() {
  local prefix=$1 view
  if ! wine_prefix_ours "$prefix"; then
    wine_note "not clearing $prefix: the Wine session did not make it"
    return 2
  fi
  for view in 32 64; do
    WINEPREFIX=$prefix wine_quietly wine reg delete 'HKLM\SOFTWARE\KORU Media' /f /reg:$view || true
  done
  find "$prefix/drive_c/windows" -maxdepth 2 -iname ir50_32.dll -delete
}

# A private Xvfb, with a display number it picks itself (other displays may
# exist on the machine), an authority file in the folder given and a screen
# of the size given (WxH). Sets DISPLAY, XAUTHORITY and wine_xvfb (its
# process id).
wine_display_start() {
  local folder=$1 screen=$2 number="" cookie
  local authority=$folder/Xauthority ready=$folder/display-number
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  # The server accepts every cookie in its authority file, whatever display
  # the entry names; clients look theirs up by the number, added below.
  : >"$authority"
  xauth -q -f "$authority" add :0 . "$cookie"
  Xvfb -displayfd 3 -auth "$authority" -screen 0 "${screen}x24" -nolisten tcp 3>"$ready" </dev/null >/dev/null 2>&1 &
  wine_xvfb=$!
  for _ in $(seq 1 200); do
    number=$(tr -dc 0-9 <"$ready")
    [ -z "$number" ] || break
    kill -0 "$wine_xvfb" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$number" ]; then
    wine_note "the private display (Xvfb) did not start"
    return 1
  fi
  xauth -q -f "$authority" add ":$number" . "$cookie"
  export DISPLAY=:$number XAUTHORITY=$authority
}

wine_display_stop() {
  [ -n "${wine_xvfb:-}" ] || return 0
  kill "$wine_xvfb" 2>/dev/null || true
  wait "$wine_xvfb" 2>/dev/null || true
  wine_xvfb=""
}
