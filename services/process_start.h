// The one place where the launcher asks the platform to create a process.
#pragma once

#include <windows.h>

// CreateProcessA for the resolved program name and its command line, with the
// handles inheritable, no creation flags, and this process's environment and
// current directory.
BOOL StartProgramProcess(const char* program, char* commandLine, STARTUPINFOA* startup,
                         PROCESS_INFORMATION* process);
