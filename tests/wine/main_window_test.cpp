// The main window as the user meets it: class, title, style, size and place,
// its two buttons and where they stand, and the commands they send.
#include "machine_state.h"
#include "menu_driver.h"

#include <gtest/gtest.h>

namespace {

// A menu started from a fresh disc folder whose codec loads, so that it offers
// Install (the game is not installed).
struct RunningMenu {
    DiscFolder disc;
    MenuProcess process;
    HWND window = nullptr;

    RunningMenu()
    {
        disc.AddFromBuild("codec_loads.dll", "IR50_32.DLL");
        if (process.Start(disc.Path())) window = process.WaitForMainWindow();
    }
};

TEST(MainWindow, ClassStyleAndGeometry)
{
    SKIP_IF_INSTALL_RECORD();
    RunningMenu menu;
    ASSERT_NE(menu.window, nullptr);
    EXPECT_EQ(ClassName(menu.window), "Autorun");
    EXPECT_EQ(WindowText(menu.window), "ZANTORIA Installation.");

    // Created with WS_VISIBLE alone: the system adds the caption (and clips
    // siblings) to such a top-level window, and nothing else.
    const DWORD style = static_cast<DWORD>(GetWindowLongA(menu.window, GWL_STYLE));
    EXPECT_EQ(style, static_cast<DWORD>(WS_VISIBLE | WS_CAPTION | WS_CLIPSIBLINGS)) << std::hex << style;

    const RECT client = ClientRectOf(menu.window);
    EXPECT_EQ(client.right - client.left, 480);
    EXPECT_EQ(client.bottom - client.top, 360);

    const int width = 480 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = 360 + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    RECT outer;
    GetWindowRect(menu.window, &outer);
    EXPECT_EQ(outer.right - outer.left, width);
    EXPECT_EQ(outer.bottom - outer.top, height);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXFULLSCREEN) - width) >> 1);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYFULLSCREEN) - height) >> 1);
}

TEST(MainWindow, ExitAndOneMoreButtonStackedAtTheBottom)
{
    SKIP_IF_INSTALL_RECORD();
    RunningMenu menu;
    ASSERT_NE(menu.window, nullptr);
    const std::vector<ButtonInfo> buttons = ListButtons(menu.window);
    ASSERT_EQ(buttons.size(), 2u);

    // Wine's fixed system font is 16 pixels high and 8 wide on average; the
    // window measures 486 by 385 with its standard metrics.
    HDC dc = GetDC(nullptr);
    SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(nullptr, dc);
    ASSERT_EQ(metrics.tmHeight + metrics.tmExternalLeading, 16);
    ASSERT_EQ(metrics.tmAveCharWidth, 8);
    RECT outer;
    GetWindowRect(menu.window, &outer);
    ASSERT_EQ(outer.right - outer.left, 486);
    ASSERT_EQ(outer.bottom - outer.top, 385);

    const ButtonInfo* exitButton = FindButton(buttons, 1);
    const ButtonInfo* installButton = FindButton(buttons, 2);
    ASSERT_NE(exitButton, nullptr);
    ASSERT_NE(installButton, nullptr);
    EXPECT_EQ(exitButton->text, "Exit");
    EXPECT_EQ(installButton->text, "Install ZANTORIA");
    const RECT exitRect = {99, 321, 99 + 288, 321 + 28};
    const RECT installRect = {99, 289, 99 + 288, 289 + 28};
    EXPECT_TRUE(EqualRect(&exitButton->rect, &exitRect));
    EXPECT_TRUE(EqualRect(&installButton->rect, &installRect));
    EXPECT_TRUE(exitButton->visible && installButton->visible);

    const LONG buttonStyle = GetWindowLongA(exitButton->handle, GWL_STYLE);
    EXPECT_EQ(buttonStyle & WS_TABSTOP, 0) << "buttons have no tab stop";
    EXPECT_EQ(buttonStyle & 0x0F, BS_PUSHBUTTON);
}

TEST(MainWindow, UnknownCommandsChangeNothing)
{
    SKIP_IF_INSTALL_RECORD();
    RunningMenu menu;
    ASSERT_NE(menu.window, nullptr);
    const std::vector<ButtonInfo> before = ListButtons(menu.window);
    for (WPARAM command : {4, 5, 100, 0xFFFF})
        PostMessageA(menu.window, WM_COMMAND, command, 0);
    // Round-trip through the menu's queue so that the posted commands have run.
    SendMessageTimeoutA(menu.window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);

    EXPECT_TRUE(menu.process.Running());
    EXPECT_EQ(menu.process.TopLevelWindows(true).size(), 1u) << "no message box, no other window";
    const std::vector<ButtonInfo> after = ListButtons(menu.window);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].id, before[i].id);
        EXPECT_EQ(after[i].visible, before[i].visible);
        EXPECT_TRUE(EqualRect(&after[i].rect, &before[i].rect));
    }
}

TEST(MainWindow, ExitEndsTheMenuWithZero)
{
    SKIP_IF_INSTALL_RECORD();
    RunningMenu menu;
    ASSERT_NE(menu.window, nullptr);
    const std::vector<ButtonInfo> exitButtonButtons = ListButtons(menu.window);
    const ButtonInfo* exitButton = FindButton(exitButtonButtons, 1);
    ASSERT_NE(exitButton, nullptr);
    Click(exitButton->handle);
    DWORD exitCode = 1;
    ASSERT_TRUE(menu.process.WaitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST(MainWindow, ExitCommandIgnoresTheNotificationCode)
{
    SKIP_IF_INSTALL_RECORD();
    RunningMenu menu;
    ASSERT_NE(menu.window, nullptr);
    PostMessageA(menu.window, WM_COMMAND, MAKEWPARAM(1, BN_DOUBLECLICKED), 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(menu.process.WaitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
