// The two commands that change the machine: Install (DirectX update, then the
// disc's setup program) and Install codec.
#pragma once

#include <windows.h>

extern char CaptionText[512];

int RunInstallCommand(HWND window);
int RunInstallCodecCommand(HWND window);
