// The disc's files the menu vouches for. A signed menu is trusted for what it
// runs, so it carries the SHA-256 of the disc's codec copy, registration
// program and DirectX setup library ("pins"), written into the program file
// by the publisher's tool before it is signed. A pinned menu uses such a file
// only when its bytes are those pinned; otherwise it behaves as if the file
// were missing. All pins zero: an unpinned menu, which uses the files as they
// are (nobody signs one).
#pragma once

#include <windows.h>

// In the order of the record in the program file. DSETUP32.DLL is the
// DirectX setup library's helper, which that library loads from its own
// folder.
enum PinnedFile {
    PinnedCodecCopy = 0,
    PinnedRegistration = 1,
    PinnedDirectXSetup = 2,
    PinnedDirectXHelper = 3
};

// Whether the menu may use the file at `path` as the pinned file `which`.
// When it may and the menu is pinned, *held is the file, open so that nobody
// can write, replace or delete it until it is released: held from the hash
// until the copy, start or load is done. Otherwise *held is
// INVALID_HANDLE_VALUE. False: the file is missing, cannot be read, or is not
// the file pinned; the caller behaves as if it were missing.
bool HoldVouchedFile(PinnedFile which, const char* path, HANDLE* held);
void ReleaseVouchedFile(HANDLE held);
