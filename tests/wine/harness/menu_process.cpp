// Starting the menu and the test's other programs, finding their windows,
// and ending whatever a test left running.
#include "harness/menu_process.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>

#include "harness/program_under_test.h"
#include "harness/windows_found.h"

namespace {

struct WindowSearch {
    DWORD processId;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && (!search->visibleOnly || IsWindowVisible(window)))
        search->found.push_back(window);
    return TRUE;
}

// Every menu a test starts joins one job that ends with the test program, so
// that a test killed on a time-out takes its menus (and what they started)
// with it, rather than leave one holding the menu's mutex for the next tests.
HANDLE MenuJob()
{
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

// A test's menus (and what they started) that the test did not wait for are
// ended when it ends, and the next test begins only once they are all gone:
// a menu still on its way out holds the menu's mutex, and the next test's
// first menu would take it for a running menu and end without a window.
// TerminateProcess returns before the process is gone, and a test program's
// own end takes its job's processes with it no sooner.
class EndTheTestsProcesses : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        TerminateJobObject(MenuJob(), 0xDEAD);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job = {};
        const bool gone = WaitUntil(
            [&] {
                return QueryInformationJobObject(MenuJob(), JobObjectBasicAccountingInformation, &job,
                                                 sizeof job, nullptr) &&
                       job.ActiveProcesses == 0;
            },
            60000);
        if (!gone)
            fprintf(stderr, "%s.%s: %lu of its processes still run a minute after it ended\n",
                    test.test_suite_name(), test.name(), static_cast<unsigned long>(job.ActiveProcesses));
    }
};

[[maybe_unused]] const bool EndingTheTestsProcesses = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new EndTheTestsProcesses);
    return true;
}();

// Shows `match` the running processes until it takes one; whether it did.
template <typename Match> bool AnyProcess(Match match)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    BOOL more = Process32First(snapshot, &entry);
    while (more && !match(entry))
        more = Process32Next(snapshot, &entry);
    CloseHandle(snapshot);
    return more;
}

// CreateProcessA, retried once where Wine fails to set the process up.
DWORD StartProcess(const std::string& path, std::string commandLine, const char* directory, DWORD flags,
                   PROCESS_INFORMATION* process, int showCommand = NoShowCommand)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (showCommand != NoShowCommand) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showCommand);
    }
    return StartRetryingWineFailure(path.substr(path.find_last_of('\\') + 1), [&] {
        return CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                              directory, &startup, process)
                   ? 0
                   : GetLastError();
    });
}

} // namespace

DWORD StartRetryingWineFailure(const std::string& program, const std::function<DWORD()>& start)
{
    const DWORD error = start();
    if (error != ERROR_INTERNAL_ERROR) return error;
    printf("%s not started, error %lu, which Wine gives when it fails to set the process up: "
           "starting it once more\n",
           program.c_str(), static_cast<unsigned long>(error));
    fflush(stdout);
    return start();
}

MenuProcess::~MenuProcess()
{
    if (!info_.hProcess) return;
    if (Running()) {
        TerminateProcess(info_.hProcess, 0xDEAD);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool MenuProcess::Start(const std::string& folder, const std::string& program, const std::string& arguments)
{
    return StartIn(folder, folder + "\\" + program, arguments);
}

bool MenuProcess::StartIn(const std::string& directory, const std::string& path, const std::string& arguments,
                          const std::string& library, int showCommand)
{
    program_ = path.substr(path.find_last_of('\\') + 1);
    startError_ = StartProcess(path, "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments),
                               directory.c_str(), CREATE_SUSPENDED, &info_, showCommand);
    if (startError_) return false;
    AssignProcessToJobObject(MenuJob(), info_.hProcess);
    // The library's thread runs first and sets the process up; the program's
    // own thread starts once the library has loaded.
    if (!library.empty() && !Inject(library)) {
        startError_ = ERROR_DLL_INIT_FAILED;
        TerminateProcess(info_.hProcess, 0xDEAD);
        return false;
    }
    ResumeThread(info_.hThread);
    return true;
}

bool MenuProcess::Inject(const std::string& library) const
{
    const std::string injector = BuildFolder() + "\\inject.exe";
    PROCESS_INFORMATION process = {};
    if (StartProcess(injector,
                     "\"" + injector + "\" " + std::to_string(info_.dwProcessId) + " \"" + library + "\"",
                     nullptr, 0, &process))
        return false;
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode == 0;
}

std::vector<HWND> MenuProcess::TopLevelWindows(bool visibleOnly) const
{
    WindowSearch search = {info_.dwProcessId, visibleOnly, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND MenuProcess::WaitForWindow(const char* className, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(true))
                if (ClassName(window) == className) found = window;
            return found != nullptr || !Running();
        },
        timeoutMs);
    return found;
}

bool MenuProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(info_.hProcess, exitCode);
    return true;
}

std::string MenuProcess::Describe() const
{
    std::string text;
    if (!info_.hProcess) {
        text = program_ + " not started, error " + std::to_string(startError_);
    } else if (Running()) {
        text = program_ + " (process " + std::to_string(info_.dwProcessId) + ") runs";
    } else {
        DWORD exitCode = 0;
        GetExitCodeProcess(info_.hProcess, &exitCode);
        char code[16];
        snprintf(code, sizeof code, "0x%lX", static_cast<unsigned long>(exitCode));
        text = program_ + " (process " + std::to_string(info_.dwProcessId) + ") ended with " + code;
    }
    AnyProcess([&](const PROCESSENTRY32& entry) {
        if (entry.th32ProcessID != info_.dwProcessId && _stricmp(entry.szExeFile, program_.c_str()) == 0)
            text += "; another " + program_ + " runs (process " + std::to_string(entry.th32ProcessID) + ")";
        return false;
    });
    return text;
}

namespace {

FILETIME CreationTime(HANDLE process)
{
    FILETIME created = {}, unused;
    GetProcessTimes(process, &created, &unused, &unused, &unused);
    return created;
}

} // namespace

// A process names its starter's id until it ends. Ids are used again, and a
// process started before the program by one that had its id is no child. Nor
// is Wine's desktop process, explorer.exe, which Wine starts from the first
// program that opens a window once the last window has gone.
std::string MenuProcess::WaitForChildren(DWORD timeoutMs) const
{
    const FILETIME started = CreationTime(info_.hProcess);
    std::string running;
    WaitUntil(
        [&] {
            running.clear();
            AnyProcess([&](const PROCESSENTRY32& entry) {
                if (entry.th32ParentProcessID != info_.dwProcessId ||
                    entry.th32ProcessID == info_.dwProcessId ||
                    _stricmp(entry.szExeFile, "explorer.exe") == 0)
                    return false;
                HANDLE child = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
                if (!child) return false; // gone already
                const FILETIME created = CreationTime(child);
                CloseHandle(child);
                if (CompareFileTime(&created, &started) >= 0)
                    running += std::string(entry.szExeFile) + " (process " +
                               std::to_string(entry.th32ProcessID) + ") ";
                return false;
            });
            return running.empty();
        },
        timeoutMs);
    return running;
}

bool MenuProcess::Running() const
{
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}
