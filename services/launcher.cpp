// Program launcher: starts a program from the current directory (or from the
// place its name gives) with an unquoted command line, then either waits for
// it and returns its exit code, or ends this process so that the started
// program takes the menu's place.
#include "launcher.h"

#include <windows.h>
#include <stdlib.h>

#include "command_line.h"

namespace {

enum LaunchMode { WaitForEnd, ReplaceThisProcess };

int Launch(const char* program, const char* const* arguments, LaunchMode mode)
{
    char* resolved = ResolveProgramName(program);
    if (!resolved) return -1;
    // Any existing entry passes, a folder too; CreateProcessA then refuses it.
    if (GetFileAttributesA(resolved) == INVALID_FILE_ATTRIBUTES) {
        free(resolved);
        return -1;
    }
    char* commandLine = JoinCommandLine(arguments);
    if (!commandLine) {
        free(resolved);
        return -1;
    }

    // No window placement, show state or standard handles are prescribed;
    // the program inherits the environment and the current directory.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(resolved, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        free(commandLine);
        free(resolved);
        return -1;
    }

    // The end of the process releases the handles, the windows and the named
    // mutexes; nothing of the menu's own shutdown runs.
    if (mode == ReplaceThisProcess) ExitProcess(0);

    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    free(commandLine);
    free(resolved);
    return static_cast<int>(exitCode); // 0xFFFFFFFF reads as -1, like a failed start
}

} // namespace

int LaunchAndWait(const char* program, const char* const* arguments)
{
    return Launch(program, arguments, WaitForEnd);
}

int LaunchAndExit(const char* program, const char* const* arguments)
{
    return Launch(program, arguments, ReplaceThisProcess);
}
