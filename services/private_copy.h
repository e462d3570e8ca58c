// Libraries of the disc loaded with the user's own rights come from a copy
// that nothing can change under the menu. The disc folder may be reached
// through a folder link that someone re-points between the menu's check of a
// file and the loader's opening of its name, and a library looks for its
// companions in its own folder, where anything may lie beside a copy of the
// menu. So the menu copies the bytes it checked, from the files it holds open
// since the check, into a folder of its own that it makes under TEMP, holds
// the copies open, shared for reading only, while the library runs, loads the
// library by the copy's full path, so that its companions come from the same
// folder, and afterwards deletes exactly the files and the folder it made.
// Only calls that Windows 95 has.
#pragma once

#include <windows.h>

const int PrivateCopyFiles = 2;

// Zero-initialised before use.
struct PrivateCopy {
    char folder[MAX_PATH]; // empty until made
    int count;             // files made in it
    char files[PrivateCopyFiles][MAX_PATH];
    HANDLE held[PrivateCopyFiles]; // INVALID_HANDLE_VALUE where the copy is not held
};

// Makes a new folder under TEMP, with a name no entry there has yet. False
// when it cannot.
bool MakePrivateFolder(PrivateCopy* copy);

// Copies the whole of `source`, an open file (read from its start), into a
// new file `name` in the folder, then holds the copy. False when any step
// fails; a file made on the way is still removed by RemovePrivateCopy.
bool AddHeldCopy(PrivateCopy* copy, HANDLE source, const char* name);

// Closes and deletes the files made, then the folder. Whatever else has
// appeared in the folder stays, and so does the folder then.
void RemovePrivateCopy(PrivateCopy* copy);
