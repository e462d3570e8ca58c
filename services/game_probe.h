// Installed-game probe: finds the game's install record in the registry and
// checks that the folder it names holds the game's executable.
#pragma once

extern const char* const InstallKeyTable[9]; // under HKEY_LOCAL_MACHINE, tried in this order
extern char InstallDir[256];                 // the install folder, ending in a backslash once read
extern char GameExePath[256];                // InstallDir followed by "Zantoria.exe"

// 1 when the first install record that opens names a folder holding the
// game's executable, else 0. Run once, at start.
int ProbeInstalledGame();
