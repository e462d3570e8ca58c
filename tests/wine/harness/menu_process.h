// A program the test starts, the menu mostly, and its end: every such
// process ends with the test that started it, and the next test begins only
// once they are all gone.
#pragma once

#include <windows.h>

#include "harness/no_copy.h"

#include <functional>
#include <string>
#include <vector>

// Runs `start`, which starts `program` and gives 0 or the start's error.
// Wine sometimes fails to set a new process up (ERROR_INTERNAL_ERROR, 1359)
// before the program's own code runs; such a start is tried once more, and
// the output says so. Any other error, and a second failure, is returned.
DWORD StartRetryingWineFailure(const std::string& program, const std::function<DWORD()>& start);

const int NoShowCommand = -1; // a start without STARTF_USESHOWWINDOW

class MenuProcess : NoCopy {
  public:
    MenuProcess() = default;
    ~MenuProcess(); // ends the program if it still runs

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

    // A visible top-level window of the process and class, or null. The main
    // window is visible only once WM_CREATE, and so the buttons, are done.
    HWND WaitForWindow(const char* className, DWORD timeoutMs = 10000);
    HWND WaitForMainWindow(DWORD timeoutMs = 10000)
    {
        return WaitForWindow("Autorun", timeoutMs);
    }
    HWND WaitForDialog(DWORD timeoutMs = 10000)
    {
        return WaitForWindow("#32770", timeoutMs);
    }
    // Every visible top-level window of the process, any class.
    std::vector<HWND> TopLevelWindows(bool visibleOnly = true) const;
    // Whether the process ends within the time-out; its exit code then.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    // "" once every process it started has ended, or which still run after
    // the time-out.
    std::string WaitForChildren(DWORD timeoutMs = 10000) const;
    bool Running() const;
    // For a failure message: how the start went, whether the program still
    // runs or how it ended, and which other processes of its name run.
    std::string Describe() const;

  private:
    PROCESS_INFORMATION info_ = {};
    std::string program_;
    DWORD startError_ = 0;
};
