"""The project's Wine session: everything about running Windows programs on
this machine, in one program (scripts/wine-session.sh starts it).

The session keeps Wine prefixes of its own under build/wine/, one for each
use (x86_64 and i686 for the end-to-end runs, demo, screenshots, kit-check).
It marks each one it makes with the file MARKER, and it uses, clears, makes
again or removes no prefix without that mark: a folder at one of its paths
that it did not make is refused, and a WINEPREFIX in the caller's environment
is ignored, with a note.

  prefixes   the prefixes: made, marked, cleared; which runs this machine can make
  locks      one session a prefix at a time
  display    a private Xvfb, and the X windows Wine shows on it
  processes  the Unix processes of a Windows program in a prefix
  cli        the command"""
