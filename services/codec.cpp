// Video codec probe and installer. The codec counts as present only when its
// library loads from the system folder, where the installer puts it and where
// the game's movies find it; a copy anywhere else would not help the game,
// and loading one by name would run whatever lies beside the menu. The
// installer copies the disc's copy into the system folder, never over an
// existing file, and has the registration program from the current directory
// register it silently.
//
// Since Vista a standard user may not write the system folder. When the copy
// is refused for that reason, the menu starts its own file with the codec job
// argument through the shell's consent prompt; that process, with full
// rights, makes the copy and runs the registration with the files beside its
// own file, and its exit code is the installer's result. With full rights,
// the registration is given the codec's full path, so that a library of the
// codec's name beside the registration program is never the one registered.
//
// A pinned menu (pins.h) uses the disc copy and the registration program only
// when they are the files pinned, holding each open from its check until the
// copy or the start is done; otherwise it goes on as if the file were missing.
#include "codec.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "command_line.h"
#include "launcher.h"
#include "library_loading.h"
#include "path_rules.h"
#include "pins.h"

namespace {

enum Elevation { MayAskForFullRights, RunAsIs };

// A copy from a pressed disc keeps the disc's read-only attribute, and a
// later update or uninstaller could then neither replace nor remove it.
// Called only for the file the copy has just created.
void ClearReadOnly(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
    const DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    // Windows 9x takes FILE_ATTRIBUTE_NORMAL only on its own.
    SetFileAttributesA(path, cleared ? cleared : FILE_ATTRIBUTE_NORMAL);
}

// The full path of this program's own file, and its folder; both buffers
// hold MAX_PATH characters.
bool ThisProgram(char* self, char* folder)
{
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    memcpy(folder, self, length + 1);
    return CutToFolder(folder) != 0;
}

// This program's own file, started with the job argument in its own folder,
// the disc folder, where the job takes its files from. The job's exit code
// is the installer's result.
int InstallWithFullRights()
{
    char self[MAX_PATH];
    char folder[MAX_PATH];
    if (!ThisProgram(self, folder)) return 0;
    const char* const arguments[] = {self, CodecJobArgument, nullptr};
    return LaunchWithFullRightsAndWait(self, arguments, folder) == 1 ? 1 : 0;
}

// Has `registration` register the codec: by its name with the menu's own
// rights; by its full path in the system folder in the job, which runs with
// full rights.
int Register(const char* registration, const char* systemCodec, Elevation elevation)
{
    HANDLE held;
    if (!HoldVouchedFile(PinnedRegistration, registration, &held)) return 0;
    char* codec = QuotedArgument(elevation == RunAsIs ? systemCodec : "IR50_32.DLL");
    int result = 0;
    if (codec) {
        const char* const arguments[] = {"RegSvr32.exe", "/s", codec, nullptr};
        result = LaunchAndWait(registration, arguments) == 0 ? 1 : 0;
        free(codec);
    }
    ReleaseVouchedFile(held);
    return result;
}

// Copies `discCopy` into the system folder as the codec, never over an
// existing file, and has `registration` register it.
int Install(const char* discCopy, const char* registration, Elevation elevation)
{
    char systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length == 0 || length >= sizeof systemFolder) return 0;
    char destination[MAX_PATH];
    if (!BuildFilePath(destination, sizeof destination, systemFolder, "IR50_32.DLL")) return 0;

    // Fail if the destination exists: a codec already in the system folder
    // may belong to other programs and is never replaced. Any other failure
    // is not looked at; the registration runs in any case and the caller's
    // second probe decides. Only a refusal for want of rights changes the
    // course: then the whole installation, registration included, runs once
    // with full rights, and never again without them. A disc copy that is not
    // the one pinned counts as missing: nothing is copied and nothing asked.
    HANDLE held;
    if (HoldVouchedFile(PinnedCodecCopy, discCopy, &held)) {
        const BOOL copied = CopyFileA(discCopy, destination, TRUE);
        const DWORD error = GetLastError();
        ReleaseVouchedFile(held);
        if (copied) {
            ClearReadOnly(destination);
        } else if (elevation == MayAskForFullRights && error == ERROR_ACCESS_DENIED) {
            return InstallWithFullRights();
        }
    }
    return Register(registration, destination, elevation);
}

} // namespace

int ProbeCodec()
{
    // Loading runs only the library's own start-up code; nothing in it is called.
    HMODULE codec = LoadSystemLibrary("IR50_32.DLL");
    if (!codec) return 1;
    FreeLibrary(codec);
    return 0;
}

int InstallCodec()
{
    // The menu's own rights: the disc copy and the registration program come
    // from the current directory, the disc folder it was started in.
    return Install("MYIR50_32.dll", "RegSvr32.exe", MayAskForFullRights);
}

int RunCodecInstallJob()
{
    // Full rights, and anyone may start this file with them, in a folder of
    // their choosing: the folder it was started in counts for nothing. The
    // files are those beside this program's own file, by their full paths,
    // and the registration program starts there too. Already started with
    // full rights: a refusal now is final.
    char self[MAX_PATH];
    char folder[MAX_PATH];
    char discCopy[MAX_PATH];
    char registration[MAX_PATH];
    if (!ThisProgram(self, folder) || !SetCurrentDirectoryA(folder) ||
        !BuildFilePath(discCopy, sizeof discCopy, folder, "MYIR50_32.dll") ||
        !BuildFilePath(registration, sizeof registration, folder, "RegSvr32.exe"))
        return 0;
    return Install(discCopy, registration, RunAsIs);
}
