// The show command a start asks for: a shortcut set to "Run: Minimized", or
// "start /min", hands the menu a minimised show command in its STARTUPINFO,
// and the menu's window then comes up minimised; a start that asks for
// nothing gets it shown as usual.
#include "scene.h"

#include <gtest/gtest.h>

namespace {

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
        // The window is made and then shown once; give the show its moment.
        EXPECT_EQ(WaitUntil([&] { return IsIconic(window) != 0; }, c.iconic ? 5000 : 500), c.iconic);
        EXPECT_EQ(VisibleButtons(window).size(), 2u);
    }
}

} // namespace
