// Installed-game probe. The game's installer leaves a record under one of
// nine keys, the plain one or one per language edition; the first key that
// opens is the only one consulted. Its "Path" value is read straight into
// InstallDir and must, with a backslash and the executable's name, still fit
// the 256-byte buffers; a value that does not fit counts as not installed.
#include "game_probe.h"

#include <windows.h>

#include "path_rules.h"

const char* const InstallKeyTable[9] = {
    "SOFTWARE\\KORU Media\\ZANTORIA\\1.00",    "SOFTWARE\\KORU Media\\ZANTORIAGER\\1.00",
    "SOFTWARE\\KORU Media\\ZANTORIADAN\\1.00", "SOFTWARE\\KORU Media\\ZANTORIAFRE\\1.00",
    "SOFTWARE\\KORU Media\\ZANTORIAITA\\1.00", "SOFTWARE\\KORU Media\\ZANTORIASPA\\1.00",
    "SOFTWARE\\KORU Media\\ZANTORIASWE\\1.00", "SOFTWARE\\KORU Media\\ZANTORIANOR\\1.00",
    "SOFTWARE\\KORU Media\\ZANTORIADUT\\1.00",
};

char InstallDir[256];
char GameExePath[256];

namespace {

HKEY OpenFirstInstallKey()
{
    for (const char* keyPath : InstallKeyTable) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) return key;
    }
    return nullptr;
}

// Opened the way the C runtime opens a file for "rb": read access to an
// existing file, others may read and write meanwhile. A folder cannot be
// opened like this, so a folder named like the game does not count.
int FileOpensForReading(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

// The type is not asked for: whatever bytes the value holds are taken as an
// ANSI string. The buffer is all zero before the read, so a value stored
// without its terminator still ends inside it when shorter than 256 bytes.
int ReadInstallFolder(HKEY key)
{
    DWORD size = sizeof InstallDir;
    if (RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(InstallDir), &size) !=
        ERROR_SUCCESS)
        return 0;
    return EnsureTrailingBackslash(InstallDir, sizeof InstallDir);
}

int ProbeOpenedKey(HKEY key)
{
    if (!ReadInstallFolder(key) ||
        !BuildFilePath(GameExePath, sizeof GameExePath, InstallDir, "Zantoria.exe")) {
        // A failed read may leave anything in the buffer, and a value that
        // does not fit is no folder the menu could use: leave no half string.
        ZeroMemory(InstallDir, sizeof InstallDir);
        return 0;
    }
    return FileOpensForReading(GameExePath);
}

} // namespace

int ProbeInstalledGame()
{
    HKEY key = OpenFirstInstallKey();
    if (!key) return 0;
    const int installed = ProbeOpenedKey(key);
    RegCloseKey(key);
    return installed;
}
