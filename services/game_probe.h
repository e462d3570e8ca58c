// Installed-game probe: finds the game's install record in the registry and
// checks that the folder it names holds the game's executable.
#pragma once

extern char InstallDir[256];  // the install folder, ending in a backslash once read
extern char GameExePath[256]; // InstallDir followed by "Zantoria.exe"

int ProbeInstalledGame();
