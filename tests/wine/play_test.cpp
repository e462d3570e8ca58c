// Play: the game starts from its install folder with its own name as the
// command line and takes the menu's place; a game that cannot be started
// leaves the menu open without a message.
#include "machine_state.h"
#include "menu_driver.h"
#include "standins.h"

#include <gtest/gtest.h>

namespace {

const char* const PlainKey = "SOFTWARE\\KORU Media\\ZANTORIA\\1.00";

// An installed game (the recorder stand-in as "Zantoria.exe") and a disc whose
// codec loads, so that the menu offers Play.
struct PlayScene {
    StandInLog log;
    InstallRecords records;
    TempFolder game;
    DiscFolder disc;
    MenuProcess menu;
    HWND window = nullptr;

    PlayScene()
    {
        EXPECT_TRUE(CopyFromBuild("recorder.exe", game.File("Zantoria.exe")));
        disc.AddFromBuild("codec_loads.dll", "IR50_32.DLL");
        records.SetPath(PlainKey, game.Path());
    }
    bool Start()
    {
        if (menu.Start(disc.Path())) window = menu.WaitForMainWindow();
        if (!window) ADD_FAILURE() << "no main window: " << menu.Describe();
        return window != nullptr;
    }
    HWND PlayButtonHandle() const
    {
        const std::vector<ButtonInfo> playButtons = VisibleButtons(window);
        const ButtonInfo* play = FindButton(playButtons, PlayButton);
        return play ? play->handle : nullptr;
    }
};

TEST(Play, StartsTheGameInItsFolderAndEndsTheMenu)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        std::string (*installPath)(const std::string& gameFolder);
    } cases[] = {
        {"record without trailing backslash", [](const std::string& folder) { return folder; }},
        {"record with trailing backslash", [](const std::string& folder) { return folder + "\\"; }},
        // The longest folder whose game path still fits the program's buffer.
        {"record of 242 characters", [](const std::string& folder) { return PaddedFolder(folder, 242); }},
    };
    for (const Case& c : cases) {
        PlayScene scene;
        scene.records.SetPath(PlainKey, c.installPath(scene.game.Path()));
        ASSERT_TRUE(scene.Start()) << c.name;
        HWND play = scene.PlayButtonHandle();
        ASSERT_NE(play, nullptr) << c.name;

        Click(play);
        EXPECT_EQ(
            ExpectReplacedBy(scene.menu, scene.log, "Zantoria.exe", scene.game.Path(), c.name).commandLine,
            "Zantoria.exe")
            << c.name;
    }
}

// A game that Windows will start only with full rights starts through the
// shell, in its install folder, and the menu ends as usual.
TEST(Play, GameNeedingFullRightsStartsThroughTheShell)
{
    SKIP_IF_INSTALL_RECORD();
    ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "Zantoria.exe");
    PlayScene scene;
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(ActAsStandardUser(scene.menu));
    HWND play = scene.PlayButtonHandle();
    ASSERT_NE(play, nullptr);

    Click(play);
    ExpectStartedThroughTheShell(
        ExpectReplacedBy(scene.menu, scene.log, "Zantoria.exe", scene.game.Path(), "elevated"), "");
    ExpectOneStartWithFullRights(scene.log, ".\\Zantoria.exe", "", scene.game.Path(), "elevated");
}

// The game is looked for in the install folder only, once the menu has
// changed to it: not in the disc folder the menu started from, not on the
// search path.
TEST(Play, GameThatCannotBeStartedLeavesTheMenuOpen)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        void (*arrange)(const PlayScene&, const TempFolder& elsewhere);
    } cases[] = {
        {"game removed after start, a copy on the disc",
         [](const PlayScene& s, const TempFolder&) {
             DeleteFileA(s.game.File("Zantoria.exe").c_str());
             CopyFromBuild("recorder.exe", s.disc.File("Zantoria.exe"));
         }},
        {"game removed after start, a copy on the search path",
         [](const PlayScene& s, const TempFolder& elsewhere) {
             DeleteFileA(s.game.File("Zantoria.exe").c_str());
             CopyFromBuild("recorder.exe", elsewhere.File("Zantoria.exe"));
         }},
        {"game replaced by a folder of its name",
         [](const PlayScene& s, const TempFolder&) {
             DeleteFileA(s.game.File("Zantoria.exe").c_str());
             CreateDirectoryA(s.game.File("Zantoria.exe").c_str(), nullptr);
         }},
        {"game replaced by a file that is no program",
         [](const PlayScene& s, const TempFolder&) {
             WriteFileBytes(s.game.File("Zantoria.exe"), "not a program");
         }},
    };
    for (const Case& c : cases) {
        TempFolder elsewhere;
        char current[32768] = "";
        GetEnvironmentVariableA("PATH", current, sizeof current);
        ScopedVariable searchPath("PATH", (elsewhere.Path() + ";" + current).c_str());

        PlayScene scene;
        ASSERT_TRUE(scene.Start()) << c.name;
        HWND play = scene.PlayButtonHandle();
        ASSERT_NE(play, nullptr) << c.name;
        c.arrange(scene, elsewhere);

        Click(play);
        ASSERT_TRUE(Settle(scene.window)) << c.name;
        EXPECT_TRUE(scene.menu.Running()) << c.name;
        EXPECT_EQ(scene.menu.TopLevelWindows(true).size(), 1u) << c.name << ": no message";
        EXPECT_TRUE(IsWindowVisible(play)) << c.name;
        Sleep(300); // a started recorder would have written by now
        EXPECT_TRUE(scene.log.Lines().empty()) << c.name << ": something started";
    }
}

} // namespace
