// The menu's push buttons: one static table indexed by command, created on
// demand and stacked upward from the bottom of the window.
#pragma once

#include <windows.h>

enum CommandId { CommandPlay = 0, CommandExit = 1, CommandInstall = 2, CommandInstallCodec = 3 };

struct MenuButton {
    DWORD Style;
    int Anchor;
    int WidthInChars;
    HWND Handle; // null until created; never cleared, also while hidden
    int LabelId;
};

extern MenuButton MenuButtonTable[4];
extern int ButtonStackCount;

TEXTMETRICA MeasureButtonFont(HWND window);
void CreateMenuButton(int index, const TEXTMETRICA& metrics);
void HideMenuButton(int index);
void AdjustButtonStack(int delta);
