// Reads the part of a bitmap file that is drawn: the picture's top-left
// corner of at most `width` by `height` pixels, as one packed DIB block like
// the one LoadDibFile makes. A picture no larger than the corner comes whole;
// a larger one is cut to the corner, and a run-length coded one is decoded
// into it. Whatever its header claims, a file costs no more memory than the
// corner plus what the file itself holds: rows the file does not hold are
// zero. Null when the file cannot be read or is refused, as by LoadDibFile,
// and for a larger picture that cannot be cut (compressed some other way, or
// a run-length coded one stored top-down).
#pragma once

#include <windows.h>

// Opens the named file, reads the corner and closes the file again.
HGLOBAL LoadDibCorner(const char* fileName, LONG width, LONG height);

// Reads the corner of a bitmap that begins at the current position of an
// open file, which stays open; where it stands afterwards is not said.
HGLOBAL LoadDibCorner(HFILE file, LONG width, LONG height);
