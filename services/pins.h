// The disc's files the menu vouches for. A signed menu is trusted for what it
// runs, so it carries the SHA-256 and the size of each file it copies, starts
// or loads from the disc ("pins"; the files are listed in facts/pins.txt),
// written into the program file by the publisher's tool before it is signed.
// A pinned menu uses such a file only when it is the one pinned; otherwise it
// behaves as if the file were missing. All pins zero: an unpinned menu, which
// uses the files as they are (nobody signs one).
#pragma once

#include <windows.h>

#include "pinned_files.h"

// Whether the menu carries pins.
bool MenuIsPinned();

// Whether the menu may use the file at `path` as the pinned file `which`.
// When it may and the menu is pinned, *held is the file, open so that nobody
// can write, replace or delete it until it is released: held from the check
// until the copy, start or load is done. Otherwise *held is
// INVALID_HANDLE_VALUE. False: the file is missing, cannot be read, or is not
// the file pinned; the caller behaves as if it were missing.
bool HoldVouchedFile(PinnedFile which, const char* path, HANDLE* held);
void ReleaseVouchedFile(HANDLE held);

// The file at `path`, open as HoldVouchedFile holds it (shared for reading
// only) and at its start, for reading it through the handle instead of
// opening the name again: in a pinned menu only when it is the file pinned,
// in an unpinned one whatever it holds. INVALID_HANDLE_VALUE when it may not
// be used; close it with ReleaseVouchedFile.
HANDLE OpenVouchedFile(PinnedFile which, const char* path);
