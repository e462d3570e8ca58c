// The main window's procedure and the restart notice's dialog procedure.
#pragma once

#include <windows.h>

extern HINSTANCE DialogInstance; // recorded from the main window's creation parameters

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RestartNoticeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
