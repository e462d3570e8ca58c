// The main window as the user meets it: class, title, style, size and place,
// its two buttons and where they stand, and the commands they send. The menu
// offers Install (its codec loads, the game is not installed). The show
// command a start asks for (a shortcut set to "Run: Minimized", or "start
// /min", hands it in STARTUPINFO) decides whether the window comes up
// minimised.
#include "harness/program_under_test.h"
#include "scene.h"
#include "shell/layout.h"

#include <gtest/gtest.h>

#include <tuple>

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

    // The size, place and button rectangles follow the menu's own layout
    // rules from what this system reports: its metrics, and the fixed font
    // as the menu measures it in its window.
    const WindowGeometry geometry = ComputeWindowGeometry(
        GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME), GetSystemMetrics(SM_CYCAPTION),
        GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
    RECT outer;
    GetWindowRect(scene.window, &outer);
    EXPECT_EQ(std::make_tuple(outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top),
              std::make_tuple(geometry.x, geometry.y, geometry.width, geometry.height))
        << "left, top, width, height";

    // No menu bar or scroll bar: the client area is the window less what the
    // system adds around a client area for this style.
    RECT frame = {0, 0, 0, 0}, client;
    AdjustWindowRectEx(&frame, style, FALSE, static_cast<DWORD>(GetWindowLongA(scene.window, GWL_EXSTYLE)));
    GetClientRect(scene.window, &client);
    EXPECT_EQ(std::make_tuple(client.right, client.bottom),
              std::make_tuple(geometry.width - (frame.right - frame.left),
                              geometry.height - (frame.bottom - frame.top)))
        << "client width, height";

    TEXTMETRICA metrics;
    HDC dc = GetDC(scene.window);
    const HGDIOBJ font = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, font);
    ReleaseDC(scene.window, dc);
    ASSERT_EQ(ListButtons(scene.window).size(), 2u);
    const struct {
        int command;
        int labelId;
        int stackCount; // Exit comes first, at the bottom
    } buttons[] = {{CommandExit, IDS_EXIT, 2}, {CommandInstall, IDS_INSTALL_GAME, 3}};
    for (const auto& expected : buttons) {
        SCOPED_TRACE(expected.labelId);
        const ButtonInfo button = scene.Button(expected.command);
        ASSERT_NE(button.handle, nullptr);
        EXPECT_EQ(button.text, Text(expected.labelId));
        const ButtonRect place =
            ComputeButtonRect(AnchorStacked, 36, metrics.tmHeight + metrics.tmExternalLeading,
                              metrics.tmAveCharWidth, geometry.width, geometry.height, expected.stackCount);
        const RECT& rect = button.rect;
        EXPECT_EQ(std::make_tuple(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                  std::make_tuple(place.x, place.y, place.width, place.height))
            << "left, top, width, height";
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
