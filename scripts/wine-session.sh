#!/bin/sh
# The project's Wine session: every script and CMake runs Windows programs
# through it. The session is a Python program (scripts/lib/winesession);
# see --help.
exec /usr/bin/python3 -B "$(dirname "$0")/lib/winesession" "$@"
