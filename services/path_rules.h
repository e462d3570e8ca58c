// Rules for the fixed-size path buffers: appending a backslash to a folder and
// a file name to a folder, each only when the result fits with its terminator.
// Plain string work, so that nothing is ever written past a buffer's end.
#pragma once

#include <stddef.h>

// Makes the string in `folder`, a buffer of `size` bytes, end in a backslash:
// one is appended unless the string already ends in one (an empty string
// becomes a single backslash). Returns 1 on success, 0 when the buffer holds
// no terminator or has no room for the backslash and the terminator; the
// buffer is then left as it was.
int EnsureTrailingBackslash(char* folder, size_t size);

// Writes `folder`, a backslash unless the folder already ends in one, and
// `name` into `out`, a buffer of `size` bytes. Returns 1 on success, 0 when
// the result does not fit with its terminator; `out` then holds an empty
// string (when it has room for one).
int BuildFilePath(char* out, size_t size, const char* folder, const char* name);

// Cuts a file's full path, in place, to its folder, written as Windows
// writes a current directory: "C:\\disc\\autorun.exe" becomes "C:\\disc",
// "D:\\autorun.exe" becomes "D:\\" (a drive's root keeps its backslash; "D:"
// would be the drive's current folder). Returns 0, changing nothing, when the
// path holds no backslash.
int CutToFolder(char* path);
