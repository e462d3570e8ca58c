// Copies through open handles: the menu copies a disc file it has checked
// from the very handle it checked it through, never by its name again.
#pragma once

#include <windows.h>

// Copies the whole of `source` (from its start) to `target`, at its current
// position. Returns NO_ERROR, or the error of the step that failed.
DWORD CopyOpenFile(HANDLE source, HANDLE target);
