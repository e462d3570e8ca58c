// The main window as the user meets it: class, title, style, size and place,
// its two buttons and where they stand, and the commands they send. The menu
// offers Install (its codec loads, the game is not installed). The show
// command a start asks for (a shortcut set to "Run: Minimized", or "start
// /min", hands it in STARTUPINFO) decides whether the window comes up
// minimised.
#include "harness/program_under_test.h"
#include "scene.h"

#include <gtest/gtest.h>

namespace {

// Class, title, style, size and place; Exit and the action button stacked
// at the bottom; and commands the menu does not know change nothing.
TEST(MainWindow, AsTheUserMeetsIt)
{
    SKIP_IF_INSTALL_RECORD();
    Scene scene;
    ASSERT_TRUE(scene.Start());
    EXPECT_EQ(ClassName(scene.window), "Autorun");
    EXPECT_EQ(WindowText(scene.window), Text(IDS_TITLE_INSTALL));

    // Created with WS_VISIBLE alone: the system adds the caption (and clips
    // siblings) to such a top-level window, and nothing else.
    const DWORD style = static_cast<DWORD>(GetWindowLongA(scene.window, GWL_STYLE));
    EXPECT_EQ(style, static_cast<DWORD>(WS_VISIBLE | WS_CAPTION | WS_CLIPSIBLINGS)) << std::hex << style;

    RECT client, outer;
    GetClientRect(scene.window, &client);
    EXPECT_EQ(client.right - client.left, 480);
    EXPECT_EQ(client.bottom - client.top, 360);
    const int width = 480 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = 360 + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    GetWindowRect(scene.window, &outer);
    EXPECT_EQ(outer.right - outer.left, width);
    EXPECT_EQ(outer.bottom - outer.top, height);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXFULLSCREEN) - width) >> 1);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYFULLSCREEN) - height) >> 1);

    // Wine's fixed system font is 16 pixels high and 8 wide on average; the
    // window measures 486 by 385 with its standard metrics.
    ASSERT_EQ(ListButtons(scene.window).size(), 2u);
    HDC dc = GetDC(nullptr);
    SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(nullptr, dc);
    ASSERT_EQ(metrics.tmHeight + metrics.tmExternalLeading, 16);
    ASSERT_EQ(metrics.tmAveCharWidth, 8);
    ASSERT_EQ(outer.right - outer.left, 486);
    ASSERT_EQ(outer.bottom - outer.top, 385);
    const struct {
        int command;
        int labelId;
        RECT rect;
    } buttons[] = {{CommandExit, IDS_EXIT, {99, 321, 99 + 288, 321 + 28}},
                   {CommandInstall, IDS_INSTALL_GAME, {99, 289, 99 + 288, 289 + 28}}};
    for (const auto& expected : buttons) {
        SCOPED_TRACE(expected.labelId);
        const ButtonInfo button = scene.Button(expected.command);
        ASSERT_NE(button.handle, nullptr);
        EXPECT_EQ(button.text, Text(expected.labelId));
        EXPECT_TRUE(EqualRect(&button.rect, &expected.rect));
        const LONG style = GetWindowLongA(button.handle, GWL_STYLE);
        EXPECT_EQ(style & WS_TABSTOP, 0) << "buttons have no tab stop";
        EXPECT_EQ(style & 0x0F, BS_PUSHBUTTON);
    }

    const std::vector<ButtonInfo> before = ListButtons(scene.window);
    for (WPARAM command : {4, 5, 100, 0xFFFF})
        PostMessageA(scene.window, WM_COMMAND, command, 0);
    scene.ExpectAtRest({CommandInstall, CommandExit});
    const std::vector<ButtonInfo> after = ListButtons(scene.window);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].id, before[i].id);
        EXPECT_TRUE(EqualRect(&after[i].rect, &before[i].rect));
    }
}

// Exit ends the menu with 0, whether clicked or sent with another
// notification code.
TEST(MainWindow, ExitEndsTheMenuWithZero)
{
    SKIP_IF_INSTALL_RECORD();
    for (const bool clicked : {true, false}) {
        SCOPED_TRACE(clicked ? "clicked" : "sent as a double click");
        Scene scene;
        ASSERT_TRUE(scene.Start());
        if (clicked)
            ASSERT_TRUE(scene.Press(CommandExit));
        else
            PostMessageA(scene.window, WM_COMMAND, MAKEWPARAM(CommandExit, BN_DOUBLECLICKED), 0);
        DWORD exitCode = 1;
        ASSERT_TRUE(scene.menu.WaitForExit(10000, &exitCode));
        EXPECT_EQ(exitCode, 0u);
    }
}

TEST(ShowCommand, WindowComesUpAsTheStartAsks)
{
    const struct {
        const char* name;
        int showCommand;
        bool iconic;
    } cases[] = {
        {"minimised, not activated (a shortcut's Run: Minimized)", SW_SHOWMINNOACTIVE, true},
        {"minimised", SW_SHOWMINIMIZED, true},
        {"normal", SW_SHOWNORMAL, false},
        {"no show command", NoShowCommand, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene(NoCodec);
        MenuProcess& menu = scene.menu;
        ASSERT_TRUE(menu.StartIn(scene.disc.Path(), scene.disc.File("autorun.exe"), "", "", c.showCommand))
            << menu.Describe();
        const HWND window = menu.WaitForMainWindow();
        ASSERT_NE(window, nullptr) << "no main window: " << menu.Describe();
        // The window is made visible, then shown once as the start asks, before
        // the menu takes its first message.
        ASSERT_TRUE(Settle(window));
        EXPECT_EQ(IsIconic(window) != 0, c.iconic);
        EXPECT_EQ(VisibleButtons(window).size(), 2u);
    }
}

} // namespace
