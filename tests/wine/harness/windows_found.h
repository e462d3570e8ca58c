// The windows of a program under test as another process finds them: its
// buttons, texts and message boxes, pressed by posted messages without focus
// (the target may sit in a modal loop), and waits with a limit for what they
// show.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ButtonInfo {
    HWND handle;
    std::string text;
    int id;
    RECT rect; // in the parent's client coordinates
    bool visible;
};

std::vector<ButtonInfo> ListButtons(HWND window);
std::vector<ButtonInfo> VisibleButtons(HWND window);
// The visible button of a command, or one with a null handle.
ButtonInfo VisibleButton(HWND window, int command);
// The ids of a window's visible buttons, in ascending order.
std::vector<int> VisibleButtonIds(HWND window);
std::vector<int> Sorted(std::vector<int> ids);
std::string WindowText(HWND window);
std::string ClassName(HWND window);

// Presses a dialog's button by id (IDOK, IDYES, ...), never by its text.
void PressDialogButton(HWND dialog, int id);

template <typename Predicate> bool WaitUntil(Predicate predicate, DWORD timeoutMs = 10000)
{
    const DWORD start = GetTickCount();
    while (!predicate()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}
// Returns once the window's thread has come back to a message loop: a sent
// message is answered only when it pulls messages again.
bool Settle(HWND window);
// Returns once the thread of `button` has taken every message posted to it
// before, which Settle does not wait for: a thread answers a sent message
// before it takes posted ones. False when the button goes first.
bool PostedMessagesTaken(HWND button);
