// Drives the real menu program as a user would: a temporary disc folder with
// autorun.exe and whatever stand-ins a test puts there, the program started
// from that folder, its window, buttons and message boxes found by process id
// (never by a global FindWindow, which could find another program's window).
#pragma once

#include <windows.h>

#include "tests/kit/file_bytes.h"

#include <functional>
#include <string>
#include <vector>

// A variable of this process's environment, or "" when it is not set.
std::string EnvironmentVariable(const char* name);
// Folder of the build under test, holding autorun.exe and the stand-ins:
// the test program's own (x86_64) build unless AUTORUN_TEST_BUILD names
// another, the shipping i686 build's.
std::string BuildFolder();
// The test program's own folder.
std::string TestProgramFolder();
// Whether the program under test is a 32-bit one: it then reads the 32-bit
// registry view and sees the 32-bit system folder.
bool ProgramUnderTestIs32Bit();
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Runs `start`, which starts `program` and gives 0 or the start's error.
// Wine sometimes fails to set a new process up (ERROR_INTERNAL_ERROR, 1359)
// before the program's own code runs; such a start is tried once more, and
// the output says so. Any other error, and a second failure, is returned.
DWORD StartRetryingWineFailure(const std::string& program, const std::function<DWORD()>& start);

// A fresh folder under the temporary directory, removed with its contents
// when the object goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const
    {
        return path_;
    }
    std::string File(const std::string& name) const
    {
        return path_ + "\\" + name;
    }

  private:
    std::string path_;
};

// A disc folder holding a copy of autorun.exe.
class DiscFolder : public TempFolder {
  public:
    DiscFolder();
    // Copies a file from the build folder (a stand-in) under the given name.
    void AddFromBuild(const std::string& buildName, const std::string& discName) const;
};

struct ButtonInfo {
    HWND handle;
    std::string text;
    int id;
    RECT rect; // in the parent's client coordinates
    bool visible;
};

const int NoShowCommand = -1; // a start without STARTF_USESHOWWINDOW

// One run of the menu program.
class MenuProcess {
  public:
    MenuProcess() = default;
    ~MenuProcess(); // ends the program if it still runs
    MenuProcess(const MenuProcess&) = delete;
    MenuProcess& operator=(const MenuProcess&) = delete;

    // Starts the given program (default: autorun.exe in the folder) with the
    // folder as its current directory, and the arguments after its name.
    bool Start(const std::string& folder, const std::string& program = "autorun.exe",
               const std::string& arguments = "");
    // Starts the program at `path` in `directory`, with the arguments after
    // its name. With a `library` (a full path), that library is loaded into
    // the process before the program's own code runs. With a show command
    // (SW_...), the start asks for it, as a shortcut's "Run:" does.
    bool StartIn(const std::string& directory, const std::string& path, const std::string& arguments,
                 const std::string& library = "", int showCommand = NoShowCommand);
    // Loads a library of the build under test into the running program
    // (with the build's inject.exe); whether it loaded.
    bool Inject(const std::string& library) const;
    HANDLE Process() const
    {
        return info_.hProcess;
    }

    // The main window (class "Autorun"), or null after the time-out.
    HWND WaitForMainWindow(DWORD timeoutMs = 10000);
    // Every visible top-level window of the process, any class.
    std::vector<HWND> TopLevelWindows(bool visibleOnly = true) const;
    // A visible dialog-class ("#32770") window of the process, or null.
    HWND WaitForDialog(DWORD timeoutMs = 10000);
    // Whether the process ends within the time-out; its exit code then.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    bool Running() const;
    // For a failure message: how the start went, whether the program still
    // runs or how it ended, and which other processes of its name run.
    std::string Describe() const;

  private:
    PROCESS_INFORMATION info_ = {};
    std::string program_;
    DWORD startError_ = 0;
};

std::vector<ButtonInfo> ListButtons(HWND window);
const ButtonInfo* FindButton(const std::vector<ButtonInfo>& buttons, int id);
// Not on a temporary list: the entry would be gone before it is used.
const ButtonInfo* FindButton(std::vector<ButtonInfo>&& buttons, int id) = delete;
std::vector<ButtonInfo> VisibleButtons(HWND window);
std::string WindowText(HWND window);
std::string ClassName(HWND window);

// Clicks a button without needing focus; PostMessage, because the target may
// sit in a modal loop.
void Click(HWND button);
// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND box);
// Presses a dialog's button by id (IDOK, IDYES, ...), never by its text.
void PressDialogButton(HWND dialog, int id);
// Waits until the window is gone.
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 10000);
// Waits until the predicate holds, polling.
template <typename Predicate> bool WaitUntil(Predicate predicate, DWORD timeoutMs = 10000)
{
    const DWORD start = GetTickCount();
    while (!predicate()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

// The install record in HKLM, in the registry view of the program under
// test: sets "Path" under the given key path, removes everything under
// "SOFTWARE\KORU Media" when the object goes, unless that key was already
// there when it was made: a record this test did not create is never
// touched (the test is skipped, see machine_state.h).
class InstallRecords {
  public:
    InstallRecords();
    ~InstallRecords();
    InstallRecords(const InstallRecords&) = delete;
    InstallRecords& operator=(const InstallRecords&) = delete;
    void SetPath(const std::string& keyPath, const std::string& value) const;
    // A value of any type and bytes; without bytes, the key alone.
    void SetRawPath(const std::string& keyPath, const std::string* bytes, DWORD type = REG_SZ) const;
    // Whether "SOFTWARE\KORU Media" exists in the view of the program under test.
    static bool Present();

  private:
    static REGSAM View();
    static void RemoveAll();
    bool foreign_;
};
