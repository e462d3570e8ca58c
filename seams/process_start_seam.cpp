// Process creation for the test build: Windows refuses a plain start of a
// program that needs full rights with ERROR_ELEVATION_REQUIRED, which Wine
// never does. The next start of the program whose file name (any case) is in
// the environment variable AUTORUN_SEAM_ELEVATION_REQUIRED is refused that
// way, and the refusal uses the variable up: every other start, and every
// later one, is real. Linked into the test build's menu and launcher only,
// never into the shipping file.
#include "services/process_start.h"

#include <string.h>

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740
#endif

namespace {

const char* const RefusedProgramVariable = "AUTORUN_SEAM_ELEVATION_REQUIRED";

bool NamesRefusedProgram(const char* program)
{
    char refused[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(RefusedProgramVariable, refused, sizeof refused);
    if (length == 0 || length >= sizeof refused) return false;
    const char* name = program;
    for (const char* c = program; *c; ++c)
        if (*c == '\\' || *c == '/' || *c == ':') name = c + 1;
    return lstrcmpiA(name, refused) == 0;
}

} // namespace

BOOL StartProgramProcess(const char* program, char* commandLine, STARTUPINFOA* startup,
                         PROCESS_INFORMATION* process)
{
    if (NamesRefusedProgram(program)) {
        SetEnvironmentVariableA(RefusedProgramVariable, nullptr);
        SetLastError(ERROR_ELEVATION_REQUIRED);
        return FALSE;
    }
    return CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, startup,
                          process);
}
