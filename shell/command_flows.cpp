#include "command_flows.h"

char CaptionText[512];

int RunInstallCommand(HWND)
{
    return 1;
}

int RunInstallCodecCommand(HWND)
{
    return 1;
}
