// The launcher's wait mode, called directly (the replace mode ends its caller
// and is seen through the menu's Play and Install): the started program's exit
// code comes back, names are resolved against the current directory only, and
// every failed start gives -1 with nothing started. A program that Windows
// starts only with full rights (the test build refuses it once, as Windows
// does) starts through the shell.
#include "full_rights.h"
#include "harness/disc_files.h"
#include "harness/environment.h"
#include "harness/paths_compared.h"
#include "harness/program_under_test.h"
#include "harness/standin_records.h"

#include <gtest/gtest.h>

#include "services/launcher.h"

namespace {

// A fresh folder that is the current directory while it lives.
class CurrentFolder : public TempFolder {
  public:
    CurrentFolder()
    {
        GetCurrentDirectoryA(sizeof previous_, previous_);
        SetCurrentDirectoryA(Path().c_str());
    }
    ~CurrentFolder()
    {
        SetCurrentDirectoryA(previous_);
    }

  private:
    char previous_[MAX_PATH] = "";
};

// A name with a folder or drive is used as given, the arguments joined after
// it; the started program's exit code comes back, also from a program that
// needs full rights, started through the shell.
TEST(LaunchAndWait, ReturnsTheExitCode)
{
    const struct {
        const char* name;     // of the program as given, or none for its full path
        const char* exitCode; // STANDIN_EXIT_prog.exe
        int expected;
        bool refused = false; // as Windows refuses a program that needs full rights
    } cases[] = {
        {"prog.exe", "0", 0},
        {"prog.exe", "3", 3},
        {"prog.exe", "0xFFFFFFFF", -1}, // cannot be told from a failed start
        {"sub\\prog.exe", "7", 7},
        {"sub/prog.exe", "7", 7},
        {nullptr, "7", 7},
        {"prog.exe", "3", 3, true},
    };
    for (const auto& c : cases) {
        StandInLog log;
        CurrentFolder folder;
        CreateDirectoryA(folder.File("sub").c_str(), nullptr);
        ASSERT_TRUE(CopyFromBuild(Recorder, folder.File("prog.exe")));
        ASSERT_TRUE(CopyFromBuild(Recorder, folder.File("sub\\prog.exe")));
        const std::string name = c.name ? c.name : folder.File("sub\\prog.exe");
        SCOPED_TRACE(name + " exiting with " + c.exitCode + (c.refused ? ", needing full rights" : ""));
        ScopedVariable exitCode("STANDIN_EXIT_prog.exe", c.exitCode);
        ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", c.refused ? "prog.exe" : nullptr);
        const char* const arguments[] = {name.c_str(), "/s", "two words", nullptr};

        EXPECT_EQ(LaunchAndWait(name.c_str(), arguments), c.expected);
        EXPECT_EQ(EnvironmentVariable("AUTORUN_SEAM_ELEVATION_REQUIRED"), "") << "the refusal did not happen";
        const std::vector<StartRecord> starts = log.Starts();
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(log.Lines().size(), 1u);
        if (c.refused)
            ExpectStartedThroughTheShell(starts[0], "/s two words");
        else
            EXPECT_EQ(starts[0].commandLine, name + " /s two words");
        EXPECT_TRUE(SamePath(starts[0].directory, folder.Path()));
        EXPECT_TRUE(SamePath(starts[0].path, folder.File(name == "prog.exe" ? name : "sub\\prog.exe")));
    }
}

TEST(LaunchAndWait, FailedStartsGiveMinusOne)
{
    struct Case {
        const char* name;
        void (*arrange)(const TempFolder& current, const TempFolder& elsewhere);
        bool refused = false; // as Windows refuses a program that needs full rights
    } cases[] = {
        {"absent", [](const TempFolder&, const TempFolder&) {}},
        {"only on the search path",
         [](const TempFolder&, const TempFolder& elsewhere) {
             CopyFromBuild(Recorder, elsewhere.File("prog.exe"));
         }},
        {"only beside the program that launches",
         [](const TempFolder&, const TempFolder&) {
             CopyFromBuild(Recorder, TestProgramFolder() + "\\prog.exe");
         }},
        {"a folder of that name",
         [](const TempFolder& current, const TempFolder&) {
             CreateDirectoryA(current.File("prog.exe").c_str(), nullptr);
         }},
        {"not a program", [](const TempFolder& current,
                             const TempFolder&) { WriteFileBytes(current.File("prog.exe"), "text"); }},
        {"not a program, and needs full rights: the shell cannot start it either",
         [](const TempFolder& current, const TempFolder&) { WriteFileBytes(current.File("prog.exe"), "MZ"); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInLog log;
        CurrentFolder current;
        SearchPathFolder elsewhere;
        c.arrange(current, elsewhere);
        ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", c.refused ? "prog.exe" : nullptr);

        const char* const arguments[] = {"prog.exe", nullptr};
        EXPECT_EQ(LaunchAndWait("prog.exe", arguments), -1);
        DeleteFileA((TestProgramFolder() + "\\prog.exe").c_str());
        EXPECT_EQ(EnvironmentVariable("AUTORUN_SEAM_ELEVATION_REQUIRED"), "") << "the refusal did not happen";
        EXPECT_TRUE(log.Lines().empty()) << "something started";
    }
}

} // namespace
