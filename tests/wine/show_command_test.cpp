// The show command a start asks for: a shortcut set to "Run: Minimized", or
// "start /min", hands the menu a minimised show command in its STARTUPINFO,
// and the menu's window then comes up minimised; a start that asks for
// nothing gets it shown as usual.
#include "menu_driver.h"

#include <gtest/gtest.h>

namespace {

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM lParam)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || ClassName(window) != "Autorun" || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// The menu started from a disc folder with `showCommand` in its STARTUPINFO
// (or none at all), ended when the object goes. MenuProcess starts with an
// empty STARTUPINFO, so this start is its own.
class MenuStartedWithShowCommand {
  public:
    MenuStartedWithShowCommand(const DiscFolder& disc, const int* showCommand)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (showCommand) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = static_cast<WORD>(*showCommand);
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
    HWND WaitForMainWindow() const
    {
        WindowSearch search = {process_.dwProcessId, nullptr};
        WaitUntil([&] {
            EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
            return search.found || WaitForSingleObject(process_.hProcess, 0) != WAIT_TIMEOUT;
        });
        return search.found;
    }

  private:
    PROCESS_INFORMATION process_ = {};
    DWORD startError_ = 0;
};

TEST(ShowCommand, WindowComesUpAsTheStartAsks)
{
    const int minimisedNotActivated = SW_SHOWMINNOACTIVE, minimised = SW_SHOWMINIMIZED,
              normal = SW_SHOWNORMAL;
    const struct {
        const char* name;
        const int* showCommand;
        bool iconic;
    } cases[] = {
        {"minimised, not activated (a shortcut's Run: Minimized)", &minimisedNotActivated, true},
        {"minimised", &minimised, true},
        {"normal", &normal, false},
        {"no show command", nullptr, false},
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
