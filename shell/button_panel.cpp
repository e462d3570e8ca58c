// The button panel: creates a button from its table entry, placing it by its
// anchor kind and the metrics of the system's fixed font. The buttons draw
// their labels in the control's default font; only the layout measures the
// fixed font, so that the panel looks the same on every display.
#include "button_panel.h"

#include "layout.h"
#include "menu_state.h"
#include "resource_ids.h"

namespace {

const DWORD MenuButtonStyle = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;

} // namespace

MenuButton MenuButtonTable[4] = {
    {MenuButtonStyle, AnchorStacked, 36, nullptr, IDS_PLAY_GAME},
    {MenuButtonStyle, AnchorStacked, 36, nullptr, IDS_EXIT},
    {MenuButtonStyle, AnchorStacked, 36, nullptr, IDS_INSTALL_GAME},
    {MenuButtonStyle, AnchorStacked, 36, nullptr, IDS_INSTALL_CODEC},
};

int ButtonStackCount = 1;

TEXTMETRICA MeasureButtonFont(HWND window)
{
    TEXTMETRICA metrics = {};
    HDC dc = GetDC(window);
    SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(window, dc);
    return metrics;
}

void CreateMenuButton(int index, const TEXTMETRICA& metrics)
{
    MenuButton& button = MenuButtonTable[index];
    char label[512];
    LoadStringA(GetModuleHandleA(nullptr), button.LabelId, label, sizeof label);

    // A button exists at most once: a hidden one stays hidden.
    if (button.Handle) return;

    if (button.Anchor == AnchorStacked) ++ButtonStackCount;
    const ButtonRect rect =
        ComputeButtonRect(button.Anchor, button.WidthInChars, metrics.tmHeight + metrics.tmExternalLeading,
                          metrics.tmAveCharWidth, WindowWidth, WindowHeight, ButtonStackCount);

    // The control identifier is the command the button sends.
    button.Handle =
        CreateWindowExA(0, "button", label, button.Style, rect.x, rect.y, rect.width, rect.height, MainWindow,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(index)), ProgramInstance, nullptr);
}

void HideMenuButton(int index)
{
    ShowWindow(MenuButtonTable[index].Handle, SW_HIDE);
}

void AdjustButtonStack(int delta)
{
    ButtonStackCount += delta;
}
