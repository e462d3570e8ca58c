// Program launcher: starts a program from the current directory (or from the
// place its name gives) with an unquoted command line, then either waits for
// it and returns its exit code, or ends this process so that the started
// program takes the menu's place. A program that Windows will only start with
// full rights, or one that is to run with them, is started through the
// shell's "runas" verb instead, which asks the user's consent.
#include "launcher.h"

#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

#include "command_line.h"
#include "library_loading.h"
#include "path_rules.h"
#include "process_start.h"

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740
#endif

namespace {

enum LaunchMode { WaitForEnd, ReplaceThisProcess };
enum LaunchRights { UserRights, FullRights };

typedef BOOL(WINAPI* ShellExecuteExFunction)(SHELLEXECUTEINFOA* info);

// Since Vista, CreateProcessA refuses a program that needs full rights (an
// installer, or one whose manifest or compatibility entry asks for them) with
// ERROR_ELEVATION_REQUIRED. The shell's "runas" verb starts the same file
// after the consent prompt, in `directory`: an elevated program does not
// inherit the current directory, and without one it would start in the
// system folder. SHELL32 is bound here only, from the system folder, so that
// the menu neither imports it nor loads it at start. On success *process is
// the started program's handle (null if the shell gave none); a declined
// prompt (ERROR_CANCELLED) fails like any other refusal.
bool StartThroughShell(const char* resolved, const char* const* arguments, const char* directory,
                       HANDLE* process)
{
    char* parameters = JoinCommandLine(arguments[0] ? arguments + 1 : arguments);
    if (!parameters) return false;

    bool started = false;
    // The shell may leave threads or windows of its own behind after the
    // call, so SHELL32 stays loaded for the rest of the run.
    ShellExecuteExFunction shellExecuteEx =
        BindExport<ShellExecuteExFunction>(LoadSystemLibrary("SHELL32.dll"), "ShellExecuteExA");
    if (shellExecuteEx) {
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof info;
        // NOASYNC: the menu may end right after this call. FLAG_NO_UI: the
        // shell shows none of its own error boxes; a failed start leaves the
        // menu as it was, without a word, as any failed start does.
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        // The consent prompt comes to the front only for the window the user
        // is working in; without one it waits in the taskbar.
        info.hwnd = GetActiveWindow();
        info.lpVerb = "runas";
        info.lpFile = resolved;
        info.lpParameters = parameters;
        info.lpDirectory = directory;
        info.nShow = SW_SHOWNORMAL;
        started = shellExecuteEx(&info) != FALSE;
        *process = started ? info.hProcess : nullptr;
    }
    free(parameters);
    return started;
}

// The current directory, for a program the shell starts with full rights in
// the menu's stead.
bool StartThroughShellHere(const char* resolved, const char* const* arguments, HANDLE* process)
{
    char directory[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) return false;
    return StartThroughShell(resolved, arguments, directory, process);
}

// The program the caller named to start with full rights instead of its own,
// in the folder that program lies in.
bool StartInsteadThroughShell(const char* program, const char* const* arguments, HANDLE* process)
{
    char folder[MAX_PATH];
    if (lstrlenA(program) >= MAX_PATH) return false;
    lstrcpynA(folder, program, sizeof folder);
    return CutToFolder(folder) && StartThroughShell(program, arguments, folder, process);
}

// `directory` is where a program started with full rights starts; null for
// the current directory. `elevatedInstead`: see LaunchAndWait.
int Launch(const char* program, const char* const* arguments, LaunchMode mode, LaunchRights rights,
           const char* directory, const char* elevatedInstead)
{
    char* resolved = ResolveProgramName(program);
    if (!resolved) return -1;
    // Any existing entry passes, a folder too; CreateProcessA then refuses it.
    if (GetFileAttributesA(resolved) == INVALID_FILE_ATTRIBUTES) {
        free(resolved);
        return -1;
    }
    PROCESS_INFORMATION process = {};
    bool started = false;
    if (rights == FullRights) {
        started = directory ? StartThroughShell(resolved, arguments, directory, &process.hProcess)
                            : StartThroughShellHere(resolved, arguments, &process.hProcess);
    } else {
        char* commandLine = JoinCommandLine(arguments);
        if (!commandLine) {
            free(resolved);
            return -1;
        }
        // No window placement, show state or standard handles are prescribed;
        // the program inherits the environment and the current directory.
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started = StartProgramProcess(resolved, commandLine, &startup, &process) != FALSE;
        // Only this refusal is worth a second attempt: every other one would
        // fail the same way through the shell.
        if (!started && GetLastError() == ERROR_ELEVATION_REQUIRED)
            started = elevatedInstead
                          ? StartInsteadThroughShell(elevatedInstead, arguments, &process.hProcess)
                          : StartThroughShellHere(resolved, arguments, &process.hProcess);
        free(commandLine);
    }
    free(resolved);
    if (!started) return -1;

    // The end of the process releases the handles, the windows and the named
    // mutexes; nothing of the menu's own shutdown runs.
    if (mode == ReplaceThisProcess) ExitProcess(0);

    // A start through the shell that gave no process handle cannot be waited
    // for: its outcome is unknown, which counts as a failure.
    DWORD exitCode = static_cast<DWORD>(-1);
    if (process.hProcess) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hProcess);
    }
    if (process.hThread) CloseHandle(process.hThread);
    return static_cast<int>(exitCode); // 0xFFFFFFFF reads as -1, like a failed start
}

} // namespace

int LaunchAndWait(const char* program, const char* const* arguments, const char* elevatedInstead)
{
    return Launch(program, arguments, WaitForEnd, UserRights, nullptr, elevatedInstead);
}

int LaunchAndExit(const char* program, const char* const* arguments)
{
    return Launch(program, arguments, ReplaceThisProcess, UserRights, nullptr, nullptr);
}

int LaunchWithFullRightsAndWait(const char* program, const char* const* arguments, const char* directory)
{
    return Launch(program, arguments, WaitForEnd, FullRights, directory, nullptr);
}
