// The main window: builds the button panel when it is created, paints the
// splash picture (also into a copy of the window that is asked for), and
// turns the buttons' command messages into the menu's commands. Play and Exit are handled here; Install and
// Install codec are the flows of command_flows.cpp. Also the restart notice's dialog procedure.
#include "main_window.h"

#include "button_panel.h"
#include "command_flows.h"
#include "menu_state.h"
#include "services/launcher.h"
#include "services/game_probe.h"
#include "splash/splash.h"

HINSTANCE DialogInstance;

namespace {

LRESULT OnCreate(HWND window, const CREATESTRUCTA* create)
{
    MainWindow = window; // the buttons need their parent before CreateWindowExA returns
    DialogInstance = create->hInstance;

    const TEXTMETRICA metrics = MeasureButtonFont(window);
    CreateMenuButton(CommandExit, metrics); // created first, so it sits lowest
    if (CodecMissing)
        CreateMenuButton(CommandInstallCodec, metrics);
    else if (GameInstalled)
        CreateMenuButton(CommandPlay, metrics);
    else
        CreateMenuButton(CommandInstall, metrics);
    return 0;
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintSplash(dc);
    EndPaint(window, &paint);
    return 0;
}

// A copy of the window (WM_PRINT, PrintWindow) asks for the client area in a
// device context of its own; erasing the background there is not ours.
LRESULT OnPrintClient(HDC dc)
{
    PaintSplash(dc);
    return 0;
}

int RunPlayCommand()
{
    // The game expects to run from its install folder. On success the menu's
    // process ends inside the launcher; a failed start leaves the menu open.
    SetCurrentDirectoryA(InstallDir);
    static const char* const arguments[] = {"Zantoria.exe", nullptr};
    LaunchAndExit("Zantoria.exe", arguments);
    return 1;
}

int RunExitCommand(HWND window)
{
    // WM_DESTROY posts the quit message; the loop in WinMain then ends the process.
    SendMessageA(window, WM_DESTROY, 0, 0);
    return 1;
}

LRESULT RunCommand(HWND window, int command)
{
    switch (command) {
    case CommandPlay: return RunPlayCommand();
    case CommandExit: return RunExitCommand(window);
    case CommandInstall: return RunInstallCommand(window);
    case CommandInstallCodec: return RunInstallCodecCommand(window);
    }
    return 1;
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_PAINT: return OnPaint(window);
    case WM_PRINTCLIENT: return OnPrintClient(reinterpret_cast<HDC>(wParam));
    case WM_COMMAND:
        // The notification code and the control handle are not looked at.
        if (LOWORD(wParam) <= CommandInstallCodec) return RunCommand(window, LOWORD(wParam));
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK RestartNoticeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        // Only OK closes the notice; Escape (IDCANCEL) leaves it open.
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 1);
            SendMessageA(MainWindow, WM_PAINT, 0, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
