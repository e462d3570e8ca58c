// The moment after a file's check, for the test build: the folder of the
// checked file is swapped for another, as a flipped folder link or share
// would swap it. AUTORUN_SEAM_SWAP_AFTER_CHECK holds "PLANTED|ASIDE": the
// folder is renamed to ASIDE and the folder PLANTED takes its name. The first
// check uses the variable up; a swap that was made is recorded as
// "Swapped|FOLDER" in the stand-in log (STANDIN_LOG), one that was refused
// as "NotSwapped|FOLDER|ERROR", so that a test can tell whether this system
// let it happen (Windows refuses to rename a folder that holds an open file). Linked into the test build
// only, never into the shipping file.
#include "services/after_check.h"
#include "services/path_rules.h"

#include <windows.h>

namespace {

const char* const SwapVariable = "AUTORUN_SEAM_SWAP_AFTER_CHECK";

void Record(const char* what, const char* folder, DWORD error)
{
    char log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("STANDIN_LOG", log, sizeof log);
    if (length == 0 || length >= sizeof log) return;
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, what, static_cast<DWORD>(lstrlenA(what)), &written, nullptr);
    WriteFile(file, "|", 1, &written, nullptr);
    WriteFile(file, folder, static_cast<DWORD>(lstrlenA(folder)), &written, nullptr);
    if (error) {
        char number[16];
        wsprintfA(number, "|%lu", error);
        WriteFile(file, number, static_cast<DWORD>(lstrlenA(number)), &written, nullptr);
    }
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

} // namespace

void AfterCheck(const char* path)
{
    char swap[2 * MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(SwapVariable, swap, sizeof swap);
    if (length == 0 || length >= sizeof swap) return;
    SetEnvironmentVariableA(SwapVariable, nullptr);
    char* bar = swap;
    while (*bar && *bar != '|')
        ++bar;
    if (!*bar) return;
    *bar = '\0';
    const char* planted = swap;
    const char* aside = bar + 1;

    char folder[MAX_PATH];
    char* name = nullptr;
    const DWORD full = GetFullPathNameA(path, sizeof folder, folder, &name);
    if (full == 0 || full >= sizeof folder || !name || name == folder) return;
    name[-1] = '\0';
    // The current directory, often that very folder, is held open and would
    // stop the rename; it is left for the parent meanwhile and taken up again
    // by its name afterwards, as the name then leads.
    char current[MAX_PATH];
    const DWORD currentLength = GetCurrentDirectoryA(sizeof current, current);
    if (currentLength == 0 || currentLength >= sizeof current) return;
    char parent[MAX_PATH];
    lstrcpynA(parent, folder, sizeof parent);
    if (!CutToFolder(parent)) return;
    SetCurrentDirectoryA(parent);
    if (!MoveFileA(folder, aside)) {
        Record("NotSwapped", folder, GetLastError());
    } else if (!MoveFileA(planted, folder)) {
        Record("NotSwapped", folder, GetLastError());
        MoveFileA(aside, folder);
    } else {
        Record("Swapped", folder, 0);
    }
    SetCurrentDirectoryA(current);
}
