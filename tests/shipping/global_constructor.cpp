// A program with a global constructor, linked as the menu is (no C runtime,
// so nothing would run the constructor): the static-constructor check of
// test_program_file.py must find it.
#include <windows.h>

static const DWORD started = GetTickCount();

extern "C" void WinMainCRTStartup()
{
    ExitProcess(started != 0);
}
