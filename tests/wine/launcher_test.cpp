// The launcher's wait mode, called directly (the replace mode ends its caller
// and is seen through the menu's Play and Install): the started program's exit
// code comes back, names are resolved against the current directory only, and
// every failed start gives -1 with nothing started. A program that Windows
// starts only with full rights (the test build refuses it once, as Windows
// does) starts through the shell.
#include "menu_driver.h"
#include "standins.h"

#include <gtest/gtest.h>

#include "services/launcher.h"

namespace {

// Makes a folder the current directory and restores the previous one.
class ScopedCurrentDirectory {
  public:
    explicit ScopedCurrentDirectory(const std::string& folder)
    {
        GetCurrentDirectoryA(sizeof previous_, previous_);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~ScopedCurrentDirectory()
    {
        SetCurrentDirectoryA(previous_);
    }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

  private:
    char previous_[MAX_PATH] = "";
};

TEST(LaunchAndWait, ReturnsTheExitCode)
{
    struct Case {
        const char* exitCode; // STANDIN_EXIT_prog.exe
        int expected;
    } cases[] = {
        {"0", 0}, {"3", 3}, {"0xFFFFFFFF", -1}, // cannot be told from a failed start
    };
    for (const Case& c : cases) {
        StandInLog log;
        TempFolder folder;
        ASSERT_TRUE(CopyFromBuild("recorder.exe", folder.File("prog.exe")));
        ScopedVariable exitCode("STANDIN_EXIT_prog.exe", c.exitCode);
        ScopedCurrentDirectory current(folder.Path());
        const char* const arguments[] = {"prog.exe", "/s", "two words", nullptr};

        EXPECT_EQ(LaunchAndWait("prog.exe", arguments), c.expected) << "exit code " << c.exitCode;
        const std::vector<StartRecord> starts = log.Starts();
        ASSERT_EQ(starts.size(), 1u) << "exit code " << c.exitCode;
        EXPECT_EQ(starts[0].commandLine, "prog.exe /s two words") << "exit code " << c.exitCode;
        EXPECT_EQ(Lowercase(starts[0].directory), Lowercase(folder.Path())) << "exit code " << c.exitCode;
    }
}

TEST(LaunchAndWait, NamesWithAFolderOrDriveAreUsedAsGiven)
{
    StandInLog log;
    TempFolder folder;
    CreateDirectoryA(folder.File("sub").c_str(), nullptr);
    ASSERT_TRUE(CopyFromBuild("recorder.exe", folder.File("sub\\prog.exe")));
    ScopedVariable exitCode("STANDIN_EXIT_prog.exe", "7");
    ScopedCurrentDirectory current(folder.Path());

    const std::string names[] = {"sub\\prog.exe", "sub/prog.exe", folder.File("sub\\prog.exe")};
    for (const std::string& name : names) {
        const char* const arguments[] = {name.c_str(), nullptr};
        EXPECT_EQ(LaunchAndWait(name.c_str(), arguments), 7) << name;
    }
    const std::vector<StartRecord> starts = log.Starts();
    ASSERT_EQ(starts.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(starts[i].commandLine, names[i]) << names[i];
}

TEST(LaunchAndWait, ProgramNeedingFullRightsStartsThroughTheShell)
{
    {
        StandInLog log;
        TempFolder folder;
        ASSERT_TRUE(CopyFromBuild("recorder.exe", folder.File("prog.exe")));
        ScopedVariable exitCode("STANDIN_EXIT_prog.exe", "3");
        ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "prog.exe");
        ScopedCurrentDirectory current(folder.Path());
        const char* const arguments[] = {"prog.exe", "/s", "two words", nullptr};

        EXPECT_EQ(LaunchAndWait("prog.exe", arguments), 3) << "waited for, with its exit code";
        const std::vector<StartRecord> starts = log.Starts();
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].program, "prog.exe");
        ExpectStartedThroughTheShell(starts[0], "/s two words");
        EXPECT_EQ(Lowercase(starts[0].directory), Lowercase(folder.Path()));
    }
    {
        StandInLog log;
        TempFolder folder;
        WriteFileBytes(folder.File("prog.exe"), "MZ");
        ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "prog.exe");
        ScopedCurrentDirectory current(folder.Path());
        const char* const arguments[] = {"prog.exe", nullptr};

        EXPECT_EQ(LaunchAndWait("prog.exe", arguments), -1) << "the shell cannot start it either";
        EXPECT_TRUE(log.Lines().empty());
        char left[8];
        EXPECT_EQ(GetEnvironmentVariableA("AUTORUN_SEAM_ELEVATION_REQUIRED", left, sizeof left), 0u)
            << "the refusal did not happen";
    }
}

TEST(LaunchAndWait, FailedStartsGiveMinusOne)
{
    struct Case {
        const char* name;
        void (*arrange)(const TempFolder& current, const TempFolder& elsewhere);
    } cases[] = {
        {"absent", [](const TempFolder&, const TempFolder&) {}},
        {"only on the search path",
         [](const TempFolder&, const TempFolder& elsewhere) {
             CopyFromBuild("recorder.exe", elsewhere.File("prog.exe"));
         }},
        {"only beside the program that launches",
         [](const TempFolder&, const TempFolder&) {
             CopyFromBuild("recorder.exe", TestProgramFolder() + "\\prog.exe");
         }},
        {"a folder of that name",
         [](const TempFolder& current, const TempFolder&) {
             CreateDirectoryA(current.File("prog.exe").c_str(), nullptr);
         }},
        {"not a program", [](const TempFolder& current,
                             const TempFolder&) { WriteFileBytes(current.File("prog.exe"), "text"); }},
    };
    for (const Case& c : cases) {
        StandInLog log;
        TempFolder current, elsewhere;
        char path[32768] = "";
        GetEnvironmentVariableA("PATH", path, sizeof path);
        ScopedVariable searchPath("PATH", (elsewhere.Path() + ";" + path).c_str());
        c.arrange(current, elsewhere);
        ScopedCurrentDirectory inCurrent(current.Path());

        const char* const arguments[] = {"prog.exe", nullptr};
        EXPECT_EQ(LaunchAndWait("prog.exe", arguments), -1) << c.name;
        DeleteFileA((TestProgramFolder() + "\\prog.exe").c_str());
        EXPECT_TRUE(log.Lines().empty()) << c.name << ": something started";
    }
}

} // namespace
