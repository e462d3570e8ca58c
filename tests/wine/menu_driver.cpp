// The end-to-end harness: temporary disc folders, runs of the real menu
// program, and the ways a user meets it (its window, buttons, message boxes).
#include "scene.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// Under HKLM\SOFTWARE.
const char* const InstallRecordRoot = "KORU Media";

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

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

BOOL CALLBACK CollectButton(HWND child, LPARAM context)
{
    std::vector<ButtonInfo>* buttons = reinterpret_cast<std::vector<ButtonInfo>*>(context);
    if (_stricmp(ClassName(child).c_str(), "Button") != 0) return TRUE;
    ButtonInfo info;
    info.handle = child;
    info.text = WindowText(child);
    info.id = GetDlgCtrlID(child);
    GetWindowRect(child, &info.rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&info.rect), 2);
    info.visible = IsWindowVisible(child) != FALSE;
    buttons->push_back(info);
    return TRUE;
}

} // namespace

std::string TestProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string EnvironmentVariable(const char* name)
{
    std::vector<char> value(32768);
    const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    return length < value.size() ? std::string(value.data(), length) : "";
}

std::string BuildFolder()
{
    std::string path = EnvironmentVariable("AUTORUN_TEST_BUILD");
    if (path.empty()) return TestProgramFolder();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Read from the file's own PE header: the machine field of an i386 program.
bool ProgramUnderTestIs32Bit()
{
    static const bool is32Bit = [] {
        const std::string program = ReadFileBytes(BuildFolder() + "\\autorun.exe");
        if (program.size() < 0x40) return false;
        const uint32_t peHeader = *reinterpret_cast<const uint32_t*>(program.data() + 0x3C);
        if (peHeader > program.size() - 6) return false;
        return *reinterpret_cast<const uint16_t*>(program.data() + peHeader + 4) == IMAGE_FILE_MACHINE_I386;
    }();
    return is32Bit;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

TempFolder::TempFolder()
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned serial;
    for (;;) {
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%sautorun-test-%lu-%u", base, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            break;
        }
    }
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

DiscFolder::DiscFolder()
{
    AddFromBuild("autorun.exe", "autorun.exe");
}

void DiscFolder::AddFromBuild(const std::string& buildName, const std::string& discName) const
{
    const std::string source = BuildFolder() + "\\" + buildName;
    EXPECT_TRUE(CopyFileA(source.c_str(), File(discName).c_str(), FALSE)) << "copy " << source;
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

namespace {

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

} // namespace

bool MenuProcess::Start(const std::string& folder, const std::string& program, const std::string& arguments)
{
    return StartIn(folder, folder + "\\" + program, arguments);
}

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

namespace {

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

HWND MenuProcess::WaitForMainWindow(DWORD timeoutMs)
{
    HWND main = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(false))
                // Visible only once WM_CREATE, and so the buttons, are done.
                if (ClassName(window) == "Autorun" && IsWindowVisible(window)) main = window;
            return main != nullptr || !Running();
        },
        timeoutMs);
    return main;
}

HWND MenuProcess::WaitForDialog(DWORD timeoutMs)
{
    HWND dialog = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(true))
                if (ClassName(window) == "#32770") dialog = window;
            return dialog != nullptr || !Running();
        },
        timeoutMs);
    return dialog;
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
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (entry.th32ProcessID != info_.dwProcessId && _stricmp(entry.szExeFile, program_.c_str()) == 0)
                text +=
                    "; another " + program_ + " runs (process " + std::to_string(entry.th32ProcessID) + ")";
        CloseHandle(snapshot);
    }
    return text;
}

bool MenuProcess::Running() const
{
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<ButtonInfo> ListButtons(HWND window)
{
    std::vector<ButtonInfo> buttons;
    EnumChildWindows(window, CollectButton, reinterpret_cast<LPARAM>(&buttons));
    return buttons;
}

std::vector<ButtonInfo> VisibleButtons(HWND window)
{
    std::vector<ButtonInfo> visible;
    for (const ButtonInfo& button : ListButtons(window))
        if (button.visible) visible.push_back(button);
    return visible;
}

void PressDialogButton(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

InstallRecords::InstallRecords() : foreign_(Present()) {}

InstallRecords::~InstallRecords()
{
    if (!foreign_) RemoveAll();
}

bool InstallRecords::Present()
{
    HKEY key;
    const std::string path = std::string("SOFTWARE\\") + InstallRecordRoot;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | View(), &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

REGSAM InstallRecords::View()
{
    return ProgramUnderTestIs32Bit() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

void InstallRecords::RemoveAll()
{
    HKEY software;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | View(), &software) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(software, InstallRecordRoot);
    RegCloseKey(software);
}

void InstallRecords::SetRawPath(const std::string& keyPath, const std::string* bytes, DWORD type) const
{
    ASSERT_FALSE(foreign_) << "an install record was already there: the test must be skipped";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(),
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath;
    if (bytes) {
        EXPECT_EQ(RegSetValueExA(key, "Path", 0, type, reinterpret_cast<const BYTE*>(bytes->data()),
                                 static_cast<DWORD>(bytes->size())),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

void InstallRecords::SetPath(const std::string& keyPath, const std::string& value) const
{
    const std::string terminated(value.c_str(), value.size() + 1);
    SetRawPath(keyPath, &terminated);
}
