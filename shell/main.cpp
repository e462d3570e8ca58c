// Entry point of the menu: refuses to run beside the running game or a second
// menu, probes the codec and the installed game, opens the fixed, centred
// window over the splash picture and runs the message loop. Every way out
// ends the process with exit code 0 and shows nothing. The command line is
// ignored, except for the one argument with which a menu starts its own file
// to install the codec with full rights.
#include <windows.h>

#include "layout.h"
#include "main_window.h"
#include "menu_state.h"
#include "resource_ids.h"
#include "services/codec.h"
#include "services/command_line.h"
#include "services/game_probe.h"
#include "services/library_loading.h"
#include "splash/splash.h"

int CodecMissing;
int GameInstalled;
HINSTANCE ProgramInstance;
int WindowWidth;
int WindowHeight;
HWND MainWindow;

namespace {

// Creates the named mutex asking for ownership and waits 0 ms on it. Returns
// the handle, or null when it cannot be had. A wait that times out means some
// other thread owns it; every other answer, an abandoned mutex included, means
// it is ours now.
HANDLE CreateOwnedMutex(const char* name, bool* ownedElsewhere)
{
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    HANDLE mutex = CreateMutexA(&security, TRUE, name);
    *ownedElsewhere = mutex && WaitForSingleObject(mutex, 0) == WAIT_TIMEOUT;
    return mutex;
}

void RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = "Autorun";
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    RegisterClassExA(&windowClass);
}

} // namespace

// The mutex is never released, only closed: closing the handle (or the end of
// the process) is what frees it for the game.
int IsGameRunning()
{
    bool ownedElsewhere = false;
    HANDLE mutex = CreateOwnedMutex("ZantoriaGameMutex", &ownedElsewhere);
    if (!mutex) return 1;
    CloseHandle(mutex);
    return ownedElsewhere ? 1 : 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    // Before anything is loaded: nothing the menu or its job binds while it
    // runs may come from its own folder or whatever folder it was started in.
    LimitLibrarySearches();

    // Started by a menu, with full rights, to install the codec: only that,
    // with no guard (the menu that waits for it holds the menu's mutex), no
    // window and no message. The exit code is the installer's result.
    if (IsCodecJobCommandLine(commandLine)) return RunCodecInstallJob();

    if (IsGameRunning()) return 0;

    bool menuRunning = false;
    HANDLE menuMutex = CreateOwnedMutex("ZantoriaAutorunMutex", &menuRunning);
    if (!menuMutex) return 0;
    if (menuRunning) {
        CloseHandle(menuMutex); // the running menu's window is left alone
        return 0;
    }

    CodecMissing = ProbeCodec();
    GameInstalled = ProbeInstalledGame();

    RegisterMainWindowClass(instance);
    ProgramInstance = instance;

    const WindowGeometry geometry = ComputeWindowGeometry(
        GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME), GetSystemMetrics(SM_CYCAPTION),
        GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
    WindowWidth = geometry.width;
    WindowHeight = geometry.height;

    LoadSplash();

    char title[512];
    LoadStringA(GetModuleHandleA(nullptr), GameInstalled ? IDS_TITLE_MENU : IDS_TITLE_INSTALL, title,
                sizeof title);

    // A bare WS_VISIBLE top-level window gets a caption and a fixed frame and
    // nothing else: no system menu, no minimise box, no sizing border.
    MainWindow = CreateWindowExA(0, "Autorun", title, WS_VISIBLE, geometry.x, geometry.y, WindowWidth,
                                 WindowHeight, nullptr, nullptr, ProgramInstance, nullptr);
    if (!MainWindow) {
        // Without a window nothing could ever post the quit message.
        CloseHandle(menuMutex);
        return 0;
    }
    ShowWindow(MainWindow, showCommand);
    UpdateWindow(MainWindow);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    CloseHandle(menuMutex);
    return 0;
}
