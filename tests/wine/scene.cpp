// A scene of the end-to-end tests, and the ways a user meets the menu in it.
#include "scene.h"

#include <gtest/gtest.h>

#include "harness/paths_compared.h"
#include "harness/program_under_test.h"

Scene::Scene(CodecOnDisc codec)
{
    if (codec == CodecLoads && !FileExists(systemCodec.Path()))
        CopyFromBuild(LoadingCodec, systemCodec.Path());
}

void Scene::InstallGame() const
{
    EXPECT_TRUE(CopyFromBuild(Recorder, game.File("Zantoria.exe")));
    records.SetPath(PlainKey, game.Path());
}

bool Scene::Start(DWORD timeoutMs)
{
    if (menu.Start(disc.Path())) window = menu.WaitForMainWindow(timeoutMs);
    if (!window) ADD_FAILURE() << "no main window: " << menu.Describe();
    return window != nullptr;
}

ButtonInfo Scene::Button(int command) const
{
    return VisibleButton(window, command);
}

bool Scene::Press(int command) const
{
    const HWND button = Button(command).handle;
    if (!button) ADD_FAILURE() << "no visible button for command " << command;
    if (button) PostMessageA(button, BM_CLICK, 0, 0);
    return button != nullptr;
}

bool Scene::Answer(int textId, int captionId, const std::vector<int>& buttons, int answer)
{
    HWND box = menu.WaitForDialog();
    if (!box) ADD_FAILURE() << "no message box with text " << textId << ": " << menu.Describe();
    if (!box) return false;
    EXPECT_EQ(GetWindow(box, GW_OWNER), window) << "owner";
    EXPECT_EQ(WindowText(box), Text(captionId)) << "caption " << captionId;
    EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), Text(textId)) << "text " << textId; // its static text
    EXPECT_EQ(VisibleButtonIds(box), Sorted(buttons)) << "buttons of the box with text " << textId;
    PressDialogButton(box, answer);
    const bool gone = WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    EXPECT_TRUE(gone) << "the box with text " << textId << " stays";
    return gone;
}

void Scene::ExpectAtRest(const std::vector<int>& offered) const
{
    ASSERT_TRUE(Settle(window));
    EXPECT_TRUE(menu.Running());
    EXPECT_EQ(menu.TopLevelWindows(true).size(), 1u) << "a window besides the menu";
    EXPECT_EQ(VisibleButtonIds(window), Sorted(offered));
    // Whatever the menu started by now has written its line once it has ended.
    EXPECT_EQ(menu.WaitForChildren(), "") << "a program the menu started still runs";
    EXPECT_TRUE(log.Starts().empty()) << "something started";
}

StartRecord Scene::ExpectReplacedBy(const std::string& program, const std::string& folder)
{
    DWORD exitCode = 1;
    EXPECT_TRUE(menu.WaitForExit(10000, &exitCode)) << "the menu stays";
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(WaitUntil([&] { return !log.Starts().empty(); })) << program << " did not start";
    const std::vector<StartRecord> starts = log.Starts();
    EXPECT_EQ(starts.size(), 1u);
    if (starts.empty()) return {};
    EXPECT_EQ(starts[0].program, program);
    EXPECT_TRUE(SamePath(starts[0].directory, folder));
    return starts[0];
}
