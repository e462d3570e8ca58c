// Process creation for the launcher, as the shipping program does it.
#include "process_start.h"

BOOL StartProgramProcess(const char* program, char* commandLine, STARTUPINFOA* startup,
                         PROCESS_INFORMATION* process)
{
    return CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, startup,
                          process);
}
