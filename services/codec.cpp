// Video codec probe and installer. The codec counts as present only when its
// library loads; the installer copies the disc's copy into the system folder,
// never over an existing file, and has the registration program from the
// current directory register it silently.
#include "codec.h"

#include <windows.h>

#include "launcher.h"
#include "path_rules.h"

int ProbeCodec()
{
    // Loading runs only the library's own start-up code; nothing in it is called.
    HMODULE codec = LoadLibraryA("IR50_32.DLL");
    if (!codec) return 1;
    FreeLibrary(codec);
    return 0;
}

int InstallCodec()
{
    char systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length == 0 || length >= sizeof systemFolder) return 0;
    char destination[MAX_PATH];
    if (!BuildFilePath(destination, sizeof destination, systemFolder, "IR50_32.DLL")) return 0;

    // Fail if the destination exists: a codec already in the system folder
    // may belong to other programs and is never replaced. The outcome is not
    // looked at; the registration runs in any case and the caller's second
    // probe decides.
    CopyFileA("MYIR50_32.dll", destination, TRUE);

    static const char* const arguments[] = {"RegSvr32.exe", "/s", "IR50_32.DLL", nullptr};
    return LaunchAndWait("RegSvr32.exe", arguments) == 0 ? 1 : 0;
}
