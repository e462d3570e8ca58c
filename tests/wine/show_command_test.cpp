// The show command a start asks for: a shortcut set to "Run: Minimized", or
// "start /min", hands the menu a minimised show command in its STARTUPINFO,
// and the menu's window then comes up minimised; a start that asks for
// nothing gets it shown as usual.
#include "menu_driver.h"

#include <gtest/gtest.h>

namespace {

const int NoShowCommand = -1; // a start without STARTF_USESHOWWINDOW

// The menu started from a disc folder with `showCommand` in its STARTUPINFO,
// ended when the object goes. MenuProcess starts with an
// empty STARTUPINFO, so this start is its own.
class MenuStartedWithShowCommand {
  public:
    MenuStartedWithShowCommand(const DiscFolder& disc, int showCommand)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (showCommand != NoShowCommand) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = static_cast<WORD>(showCommand);
        }
        const std::string program = disc.File("autorun.exe");
        std::string commandLine = "\"" + program + "\"";
        if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            disc.Path().c_str(), &startup, &process_))
            startError_ = GetLastError();
    }
    ~MenuStartedWithShowCommand()
    {
        if (!process_.hProcess) return;
        // The next test's menu must not find this one still holding its mutex.
        TerminateProcess(process_.hProcess, 0xDEAD);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    MenuStartedWithShowCommand(const MenuStartedWithShowCommand&) = delete;
    MenuStartedWithShowCommand& operator=(const MenuStartedWithShowCommand&) = delete;

    DWORD StartError() const
    {
        return startError_;
    }
    // The process's main window, once it is shown.
    HWND WaitForMainWindow() const
    {
        HWND found = nullptr;
        WaitUntil([&] {
            for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "Autorun", nullptr));) {
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner == process_.dwProcessId && IsWindowVisible(window)) found = window;
            }
            return found || WaitForSingleObject(process_.hProcess, 0) != WAIT_TIMEOUT;
        });
        return found;
    }

  private:
    PROCESS_INFORMATION process_ = {};
    DWORD startError_ = 0;
};

TEST(ShowCommand, WindowComesUpAsTheStartAsks)
{
    const struct {
        const char* name;
        int showCommand;
        bool iconic;
    } cases[] = {
        {"minimised, not activated (a shortcut's Run: Minimized)", SW_SHOWMINNOACTIVE, true},
        {"minimised", SW_SHOWMINIMIZED, true},
        {"normal", SW_SHOWNORMAL, false},
        {"no show command", NoShowCommand, false},
    };
    DiscFolder disc;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MenuStartedWithShowCommand menu(disc, c.showCommand);
        ASSERT_EQ(menu.StartError(), 0u);
        const HWND window = menu.WaitForMainWindow();
        ASSERT_NE(window, nullptr) << "no main window";
        // The window is made and then shown once; give the show its moment.
        EXPECT_EQ(WaitUntil([&] { return IsIconic(window) != 0; }, c.iconic ? 5000 : 500), c.iconic);
        EXPECT_EQ(VisibleButtons(window).size(), 2u);
    }
}

} // namespace
