// Finding and pressing another process's windows.
#include "harness/windows_found.h"

#include <algorithm>

namespace {

BOOL CALLBACK CollectButton(HWND child, LPARAM context)
{
    std::vector<ButtonInfo>* buttons = reinterpret_cast<std::vector<ButtonInfo>*>(context);
    if (_stricmp(ClassName(child).c_str(), "Button") != 0) return TRUE;
    ButtonInfo info;
    info.handle = child;
    info.text = WindowText(child);
    info.id = GetDlgCtrlID(child);
    GetWindowRect(child, &info.rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&info.rect), 2);
    info.visible = IsWindowVisible(child) != FALSE;
    buttons->push_back(info);
    return TRUE;
}

} // namespace

std::vector<ButtonInfo> ListButtons(HWND window)
{
    std::vector<ButtonInfo> buttons;
    EnumChildWindows(window, CollectButton, reinterpret_cast<LPARAM>(&buttons));
    return buttons;
}

std::vector<ButtonInfo> VisibleButtons(HWND window)
{
    std::vector<ButtonInfo> visible;
    for (const ButtonInfo& button : ListButtons(window))
        if (button.visible) visible.push_back(button);
    return visible;
}

ButtonInfo VisibleButton(HWND window, int command)
{
    for (const ButtonInfo& button : VisibleButtons(window))
        if (button.id == command) return button;
    return {};
}

std::vector<int> VisibleButtonIds(HWND window)
{
    std::vector<int> ids;
    for (const ButtonInfo& button : VisibleButtons(window))
        ids.push_back(button.id);
    return Sorted(ids);
}

std::vector<int> Sorted(std::vector<int> ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? length : 0);
}

std::string ClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

void PressDialogButton(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

bool Settle(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result) != 0;
}

// A thread takes the messages posted to it in turn: the pushed look, posted
// last, shows once the earlier ones are taken. It is taken back after.
bool PostedMessagesTaken(HWND button)
{
    PostMessageA(button, BM_SETSTATE, TRUE, 0);
    const bool taken = WaitUntil([&] {
        DWORD_PTR state = 0;
        return !IsWindow(button) ||
               (SendMessageTimeoutA(button, BM_GETSTATE, 0, 0, SMTO_BLOCK, 10000, &state) &&
                (state & BST_PUSHED));
    });
    DWORD_PTR result = 0;
    SendMessageTimeoutA(button, BM_SETSTATE, FALSE, 0, SMTO_BLOCK, 10000, &result);
    return taken && IsWindow(button);
}
