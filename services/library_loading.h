// Where the menu takes the libraries it binds while it runs. A library named
// without a path is looked for in the program's own folder and, on older
// Windows, in the current directory before the system folder: a copy of the
// disc unpacked into a Downloads folder, or a command prompt started there,
// would have the menu load whatever file of that name lies there. So every
// library of Windows is loaded from the system folder by its full path, and
// a library of the disc from a private copy by its full path (see
// private_copy.h).
#pragma once

#include <windows.h>

// Asks Windows, where it can, to look for the libraries the process loads by
// name in the system folder alone (Windows 8, and 7 with its library search
// update), and otherwise to leave at least the current directory out of its
// searches for libraries and programs (XP SP1 and later). Bound at run time:
// older Windows has none of these calls, and the program must still start
// there, searching as it always did.
void LimitLibrarySearches();

// The library of Windows named `name`, loaded from the system folder; the
// libraries it needs are looked for beside it first. Null when it cannot be
// loaded.
HMODULE LoadSystemLibrary(const char* name);

// The library `name` in `folder`, loaded by its full path; the libraries it
// needs are looked for beside it first, then in the system folder. Null when
// it cannot be loaded.
HMODULE LoadLibraryFromFolder(const char* folder, const char* name);

// Where Windows limits searches to the system folder, a library loaded by its
// full path that loads a library of its own folder by name would not find it
// there: while it runs, `folder` is searched too. Returns what to give
// ForbidLibrariesFrom once it has run (null where nothing was added).
void* AllowLibrariesFrom(const char* folder);
void ForbidLibrariesFrom(void* allowed);

// An export of a loaded library as the function type the caller expects, or
// null.
template <typename Function> Function BindExport(HMODULE library, const char* name)
{
    FARPROC address = library ? GetProcAddress(library, name) : nullptr;
    // Through void (*)(): the generic function pointer type, to reach the
    // export's real type without a cast-function-type warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}
