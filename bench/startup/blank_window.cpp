// The yardstick for the menu's start-up: the least a program with the menu's
// window can do. It registers a class, creates a window of the menu's outer
// size with the menu's style, lets it paint black and runs a message loop;
// no mutexes, probes, picture or buttons. Built with the menu's own compiler
// and flags, so that the difference in start-up is the menu's own work.
//
// Built a second time with BLANK_WINDOW_DRAWDIB, it also opens a DrawDib
// instance before its window, as the menu does for its picture: the
// difference between the two is what Video for Windows costs at start.
#include <windows.h>
#if BLANK_WINDOW_DRAWDIB
#include <vfw.h>
#endif

namespace {

LRESULT CALLBACK BlankWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = BlankWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = "BlankWindow";
    RegisterClassExA(&windowClass);
#if BLANK_WINDOW_DRAWDIB
    DrawDibOpen();
#endif

    const int width = 480 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = 360 + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    HWND window = CreateWindowExA(0, "BlankWindow", "Blank", WS_VISIBLE, 0, 0, width, height, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
