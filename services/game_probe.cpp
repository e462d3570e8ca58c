#include "game_probe.h"

char InstallDir[256];
char GameExePath[256];

int ProbeInstalledGame()
{
    return 0;
}
