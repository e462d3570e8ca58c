// The few process-wide values the menu runs on. They are set during start-up
// (main.cpp) and by the window procedure, and read by the button panel and the
// command flows; the program has one thread, so none of them needs a lock.
#pragma once

#include <windows.h>

extern int CodecMissing;  // 1 while "IR50_32.DLL" cannot be loaded
extern int GameInstalled; // 1 when the install record names a folder holding the game
extern HINSTANCE ProgramInstance;
extern int WindowWidth; // outer size of the main window, frame and caption included
extern int WindowHeight;
extern HWND MainWindow;
