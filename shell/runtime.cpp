// The program's start and its memory, so that it needs no C runtime library:
// Windows 95 as first released has no msvcrt.dll. The entry point hands
// WinMain what a C runtime would (the instance, the command line after the
// program's own name, the show command the program was started with) and ends
// the process with its result. Memory comes from the process heap. The C
// library's byte and string functions are in c_functions.cpp.
#include <windows.h>

#include <stddef.h>

#include "services/command_line.h"

extern "C" {

void* malloc(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void free(void* block)
{
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

// Where a C runtime would start the program.
void WinMainCRTStartup()
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const int showCommand = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : SW_SHOWDEFAULT;
    char* commandLine = const_cast<char*>(SkipProgramName(GetCommandLineA()));
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, showCommand)));
}

} // extern "C"
