// The Install and Install codec commands. Install offers a DirectX update,
// tells the user when the update needs Windows to restart, and starts the
// disc's setup program in the menu's place. Install codec asks, installs the
// codec, reports the outcome of a fresh probe and, once the codec loads, puts
// Play or Install where the codec button stood.
#include "command_flows.h"

#include "button_panel.h"
#include "main_window.h"
#include "menu_state.h"
#include "resource_ids.h"
#include "services/codec.h"
#include "services/library_loading.h"
#include "services/launcher.h"
#include "services/pins.h"
#include "services/private_copy.h"

char CaptionText[512];

namespace {

typedef int(WINAPI* DirectXSetupFunction)(HWND owner, LPSTR rootPath, DWORD flags);

// The core runtime with the display and the sound drivers.
const DWORD DirectXCoreAndDrivers = 0x10018;
const int DirectXUpdated = 0;
const int DirectXUpdatedRestart = 1;
const int DirectXUnavailable = -1;

void LoadText(int id, char* buffer)
{
    LoadStringA(GetModuleHandleA(nullptr), id, buffer, 512);
}

int ShowMessage(HWND owner, int textId, int captionId, UINT flags)
{
    char text[512];
    LoadText(textId, text);
    LoadText(captionId, CaptionText);
    return MessageBoxA(owner, text, CaptionText, flags);
}

// The DirectX setup library is bound only when the user asks for the update,
// so that the menu starts on a machine or disc without it. It is the disc's
// DSETUP.dll, with DSETUP32.DLL, the helper it loads from its own folder,
// when the disc has one; a pinned menu takes either only when it is the file
// pinned, and treats any other as missing. Both are loaded from a private
// copy of the bytes checked (see private_copy.h), never from the disc, so
// that nothing else beside the menu can run inside it. A missing library, an
// export table without ordinal 5, or any step of the copy that fails counts
// as a failed update.
int RunDirectXSetup(HWND owner)
{
    HANDLE setupFile = OpenVouchedFile(PinnedDirectXSetup, "DSETUP.dll");
    if (setupFile == INVALID_HANDLE_VALUE) return DirectXUnavailable;
    HANDLE helperFile = OpenVouchedFile(PinnedDirectXHelper, "DSETUP32.DLL");
    PrivateCopy copy = {};
    const bool copied =
        MakePrivateFolder(&copy) && AddHeldCopy(&copy, setupFile, "DSETUP.dll") &&
        (helperFile == INVALID_HANDLE_VALUE || AddHeldCopy(&copy, helperFile, "DSETUP32.DLL"));
    // The copies are held now; the disc's files are needed no longer.
    ReleaseVouchedFile(setupFile);
    ReleaseVouchedFile(helperFile);

    int result = DirectXUnavailable;
    // The library may load its helper by name, as from its own folder.
    void* helperFolder = copied ? AllowLibrariesFrom(copy.folder) : nullptr;
    if (HMODULE library = copied ? LoadLibraryFromFolder(copy.folder, "DSETUP.dll") : nullptr) {
        if (DirectXSetupFunction setup = BindExport<DirectXSetupFunction>(library, MAKEINTRESOURCEA(5)))
            result = setup(owner, nullptr, DirectXCoreAndDrivers);
        FreeLibrary(library);
    }
    ForbidLibrariesFrom(helperFolder);
    RemovePrivateCopy(&copy);
    return result;
}

} // namespace

int RunInstallCommand(HWND window)
{
    const int answer =
        ShowMessage(window, IDS_DIRECTX_QUESTION, IDS_DIRECTX_CAPTION, MB_ICONQUESTION | MB_YESNOCANCEL);
    if (answer == IDYES) {
        const int result = RunDirectXSetup(window);
        if (result == DirectXUpdatedRestart) {
            // Only informs: nothing restarts Windows, and setup follows at once.
            DialogBoxParamA(DialogInstance, MAKEINTRESOURCEA(IDD_RESTART_NOTICE), MainWindow,
                            RestartNoticeProc, 0);
        } else if (result != DirectXUpdated) {
            ShowMessage(window, IDS_DIRECTX_FAILED, IDS_INSTALL_FAILURE_CAPTION, MB_OK);
            return 1;
        }
    } else if (answer != IDNO) {
        return 1; // Cancel, or the box closed
    }

    // On success this process ends here; otherwise the menu stays as it was.
    static const char* const arguments[] = {"setup.exe", nullptr};
    LaunchAndExit("setup.exe", arguments);
    return 1;
}

int RunInstallCodecCommand(HWND window)
{
    if (ShowMessage(window, IDS_CODEC_QUESTION, IDS_CODEC_CAPTION, MB_ICONQUESTION | MB_YESNO) == IDYES) {
        InstallCodec(); // the probe after it decides what the user is told
        CodecMissing = ProbeCodec();
        ShowMessage(window, CodecMissing ? IDS_CODEC_FAILED : IDS_CODEC_INSTALLED, IDS_CODEC_CAPTION, MB_OK);
    }
    if (!CodecMissing) {
        // Taking one from the stack puts the new button exactly where the
        // hidden codec button stood.
        const TEXTMETRICA metrics = MeasureButtonFont(window);
        HideMenuButton(CommandInstallCodec);
        AdjustButtonStack(-1);
        CreateMenuButton(GameInstalled ? CommandPlay : CommandInstall, metrics);
    }
    ShowWindow(window, SW_SHOWDEFAULT);
    return 1;
}
