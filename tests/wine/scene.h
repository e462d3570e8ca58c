// One scene of the end-to-end tests: a disc folder holding autorun.exe and
// the stand-ins a test puts there, a folder for the game, the stand-ins' log,
// the install record and codec file a test makes (each removed when the scene
// goes), and the menu started from the disc folder with its window. Buttons
// are named by the menu's commands (shell/button_panel.h), texts by their ids
// (resource_ids.h): a text is compared with what the menu's file holds under
// that id in this locale.
#pragma once

#include <windows.h>

#include "harness/disc_files.h"
#include "harness/machine_state.h"
#include "harness/menu_process.h"
#include "harness/standin_records.h"
#include "harness/windows_found.h"
#include "resource_ids.h"
#include "shell/button_panel.h"

#include <string>
#include <vector>

// The buttons of the menu's message boxes.
const std::vector<int> OkOnly = {IDOK};
const std::vector<int> YesNo = {IDYES, IDNO};
const std::vector<int> YesNoCancel = {IDYES, IDNO, IDCANCEL};

enum CodecOnDisc { NoCodec, CodecLoads };

// A disc folder and the menu started from it. Declared before the menu's
// process, the codec file, log, record and folders go after it has ended.
struct Scene {
    SystemCodecFile systemCodec;
    StandInLog log;
    InstallRecords records;
    TempFolder game;
    DiscFolder disc;
    MenuProcess menu;
    HWND window = nullptr;

    // With CodecLoads, a codec that loads is in the system folder, where the
    // menu's probe looks, so that it offers Play or Install (a codec file
    // already there, a tester's own, is used as it is and left alone);
    // without, it offers to install the codec.
    explicit Scene(CodecOnDisc codec = CodecLoads);
    // The recorder as the game in its folder, and the plain install record
    // naming that folder.
    void InstallGame() const;
    // Starts the menu from the disc folder; false, with a failure, when no
    // window shows.
    bool Start(DWORD timeoutMs = 10000);
    ButtonInfo Button(int command) const;
    // Clicks a command's button; false, with a failure, when it is not shown.
    bool Press(int command) const;
    // Waits for the menu's message box, checks it (owned by the window, its
    // caption and text by id, exactly these buttons) and answers it; false,
    // with a failure, when it does not come or does not go.
    bool Answer(int textId, int captionId, const std::vector<int>& buttons, int answer);
    // The menu is back at rest: running, no other window, these buttons,
    // nothing started.
    void ExpectAtRest(const std::vector<int>& offered) const;
    // The menu has ended with exit code 0 and `program` alone has started in
    // its place, in `folder`. Returns the start, for a closer look.
    StartRecord ExpectReplacedBy(const std::string& program, const std::string& folder);
};
