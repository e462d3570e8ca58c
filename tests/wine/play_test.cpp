// Play where the game cannot be started as usual: a game that Windows starts
// only with full rights starts through the shell; one that cannot be started
// leaves the menu open without a message. (Play itself is seen with the
// install records that make the menu offer it, game_probe_test.cpp.)
#include "full_rights.h"
#include "harness/environment.h"
#include "harness/program_under_test.h"
#include "scene.h"

#include <gtest/gtest.h>

namespace {

// A game that Windows will start only with full rights starts through the
// shell, in its install folder, and the menu ends as usual.
TEST(Play, GameNeedingFullRightsStartsThroughTheShell)
{
    REQUIRE_PROCESS_START_SEAM();
    SKIP_IF_INSTALL_RECORD();
    ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "Zantoria.exe");
    Scene scene;
    scene.InstallGame();
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(ActAsStandardUser(scene.menu));
    ASSERT_TRUE(scene.Press(CommandPlay));
    ExpectStartedThroughTheShell(scene.ExpectReplacedBy("Zantoria.exe", scene.game.Path()), "");
    ExpectStartsWithFullRights(scene.log, ".\\Zantoria.exe", "", scene.game.Path());
}

// The game is looked for in the install folder only, once the menu has
// changed to it: not in the disc folder the menu started from, not on the
// search path.
TEST(Play, GameThatCannotBeStartedLeavesTheMenuOpen)
{
    SKIP_IF_INSTALL_RECORD();
    const struct {
        const char* name;
        const char* copy; // where a copy of the game lies instead: "disc", "search path" or none
        void (*replace)(const std::string& game); // what takes the game's place
    } cases[] = {
        {"game removed after start, a copy on the disc", "disc", nullptr},
        {"game removed after start, a copy on the search path", "search path", nullptr},
        {"game replaced by a folder of its name", nullptr,
         [](const std::string& game) { CreateDirectoryA(game.c_str(), nullptr); }},
        {"game replaced by a file that is no program", nullptr,
         [](const std::string& game) { WriteFileBytes(game, "not a program"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SearchPathFolder elsewhere;
        Scene scene;
        scene.InstallGame();
        ASSERT_TRUE(scene.Start());
        const std::string game = scene.game.File("Zantoria.exe");
        DeleteFileA(game.c_str());
        const TempFolder& copyPlace =
            c.copy && c.copy[0] == 'd' ? scene.disc : static_cast<TempFolder&>(elsewhere);
        if (c.copy) CopyFromBuild(Recorder, copyPlace.File("Zantoria.exe"));
        if (c.replace) c.replace(game);

        ASSERT_TRUE(scene.Press(CommandPlay));
        scene.ExpectAtRest({CommandPlay, CommandExit});
    }
}

} // namespace
