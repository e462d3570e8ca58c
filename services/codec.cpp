// Video codec probe and installer. The codec counts as present only when its
// library loads from the system folder, where the installer puts it and where
// the game's movies find it; a copy anywhere else would not help the game,
// and loading one by name would run whatever lies beside the menu. The
// installer copies the disc's copy into the system folder, never over an
// existing file, and has a registration program register it silently by its
// full path there: a registration program given a bare name loads it from
// its own folder first, where a library of the codec's name beside a copy of
// the disc would be the one registered.
//
// Since Vista a standard user may not write the system folder. When the copy
// is refused for that reason, the menu starts its own file with the codec job
// argument through the shell's consent prompt; that process, with full
// rights, makes the copy from the disc copy beside its own file and has
// Windows' own registration program register it. Nothing of the disc is
// started with full rights, and only a pinned menu's job copies anything:
// anyone may start the signed program so, beside files of their choosing.
//
// The disc copy is read through the handle its check opened, never by its
// name again: the name may lead elsewhere by then (a folder link or share
// flipped in between), the handle cannot.
#include "codec.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "command_line.h"
#include "file_copy.h"
#include "launcher.h"
#include "library_loading.h"
#include "path_rules.h"
#include "pins.h"

namespace {

enum Elevation { MayAskForFullRights, RunAsIs };

const char* const CodecName = "IR50_32.DLL";
// Windows' own registration program, in its system folder.
const char* const SystemRegistration = "regsvr32.exe";

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
// the disc folder, where the job takes the disc copy from. The job's exit
// code is the installer's result.
int InstallWithFullRights()
{
    char self[MAX_PATH];
    char folder[MAX_PATH];
    if (!ThisProgram(self, folder)) return 0;
    const char* const arguments[] = {self, CodecJobArgument, nullptr};
    return LaunchWithFullRightsAndWait(self, arguments, folder) == 1 ? 1 : 0;
}

// Copies the open file `source` into `destination` in `folder`:
// into a new temporary file there, renamed to the destination once it is
// whole. MoveFileA never replaces an existing file, so the codec appears
// whole or not at all, and never over one that is there. The new file has
// no read-only attribute, whatever the disc's has: a later update or
// uninstaller can replace or remove it. Whatever was made is deleted when a
// step fails. Returns NO_ERROR or the failed step's error; creating the
// temporary file is the first step, refused (ERROR_ACCESS_DENIED) without
// the rights to write the folder.
DWORD CopyIntoFolder(HANDLE source, const char* folder, const char* destination)
{
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder, "cdc", 0, temporary)) return GetLastError();
    HANDLE target =
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = target == INVALID_HANDLE_VALUE ? GetLastError() : CopyOpenFile(source, target);
    if (target != INVALID_HANDLE_VALUE && !CloseHandle(target) && error == NO_ERROR) error = GetLastError();
    if (error == NO_ERROR && !MoveFileA(temporary, destination)) error = GetLastError();
    if (error != NO_ERROR) DeleteFileA(temporary);
    return error;
}

// Has the codec at `systemCodec` registered by its full path. With the
// menu's own rights: by the disc's registration program, held from its check
// until it ends; should Windows start that only with full rights, Windows'
// own runs with them instead, never the disc's. In the job, which has full
// rights already: by Windows' own, started in the system folder.
int Register(const char* registration, const char* systemFolder, const char* systemCodec, Elevation elevation)
{
    char systemRegistration[MAX_PATH];
    if (!BuildFilePath(systemRegistration, sizeof systemRegistration, systemFolder, SystemRegistration))
        return 0;
    char* codec = QuotedArgument(systemCodec);
    if (!codec) return 0;
    int result = 0;
    if (elevation == RunAsIs) {
        const char* const arguments[] = {SystemRegistration, "/s", codec, nullptr};
        result = SetCurrentDirectoryA(systemFolder) && LaunchAndWait(systemRegistration, arguments) == 0;
    } else {
        HANDLE held;
        if (HoldVouchedFile(PinnedRegistration, registration, &held)) {
            const char* const arguments[] = {PinnedFileNames[PinnedRegistration], "/s", codec, nullptr};
            result = LaunchAndWait(registration, arguments, systemRegistration) == 0;
            ReleaseVouchedFile(held);
        }
    }
    free(codec);
    return result ? 1 : 0;
}

// Copies `discCopy` into the system folder as the codec, never over an
// existing file, and has it registered.
int Install(const char* discCopy, const char* registration, Elevation elevation)
{
    char systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length == 0 || length >= sizeof systemFolder) return 0;
    char destination[MAX_PATH];
    if (!BuildFilePath(destination, sizeof destination, systemFolder, CodecName)) return 0;

    // A codec already in the system folder may belong to other programs and
    // is never replaced, nor does it call for full rights. Any other failure
    // is not looked at; the registration runs in any case and the caller's
    // second probe decides. Only a refusal for want of rights changes the
    // course: then the whole installation, registration included, runs once
    // with full rights, and never again without them. A disc copy that is not
    // the one pinned counts as missing: nothing is copied and nothing asked.
    if (GetFileAttributesA(destination) == INVALID_FILE_ATTRIBUTES) {
        HANDLE source = OpenVouchedFile(PinnedCodecCopy, discCopy);
        if (source != INVALID_HANDLE_VALUE) {
            const DWORD error = CopyIntoFolder(source, systemFolder, destination);
            ReleaseVouchedFile(source);
            if (elevation == MayAskForFullRights && error == ERROR_ACCESS_DENIED)
                return InstallWithFullRights();
        }
    }
    return Register(registration, systemFolder, destination, elevation);
}

} // namespace

int ProbeCodec()
{
    // Loading runs only the library's own start-up code; nothing in it is called.
    HMODULE codec = LoadSystemLibrary(CodecName);
    if (!codec) return 1;
    FreeLibrary(codec);
    return 0;
}

int InstallCodec()
{
    // The menu's own rights: the disc copy and the registration program come
    // from the current directory, the disc folder it was started in.
    return Install(PinnedFileNames[PinnedCodecCopy], PinnedFileNames[PinnedRegistration],
                   MayAskForFullRights);
}

int RunCodecInstallJob()
{
    // Full rights, and anyone may start this file with them, in a folder of
    // their choosing, beside files of their choosing. Only a pinned menu
    // vouches for the disc copy; an unpinned one copies and starts nothing
    // here. The folder it was started in counts for nothing: the disc copy is
    // the one beside this program's own file, by its full path. Already
    // started with full rights: a refusal now is final.
    if (!MenuIsPinned()) return 0;
    char self[MAX_PATH];
    char folder[MAX_PATH];
    char discCopy[MAX_PATH];
    if (!ThisProgram(self, folder) || !SetCurrentDirectoryA(folder) ||
        !BuildFilePath(discCopy, sizeof discCopy, folder, PinnedFileNames[PinnedCodecCopy]))
        return 0;
    return Install(discCopy, nullptr, RunAsIs);
}
