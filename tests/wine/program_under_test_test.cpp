// The harness itself. Which program a run of the suite drives: the i686 run
// must drive the shipping 32-bit file and the x86_64 run this build's own; a
// run whose environment went missing would otherwise pass while testing the
// wrong file; only the test build's program carries the process-start seam.
// And how it starts programs: a start that Wine itself failed is tried once
// more, any other failure stands. And how it compares paths: a folder named
// by its 8.3 form is the same as by its long form.
#include "full_rights.h"
#include "harness/environment.h"
#include "harness/menu_process.h"
#include "harness/paths_compared.h"
#include "harness/program_under_test.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

TEST(ProgramUnderTest, IsTheOneOfThisRun)
{
    const std::string run = EnvironmentVariable("AUTORUN_RUN");
    ASSERT_TRUE(run == "i686" || run == "x86_64") << "AUTORUN_RUN names no run: '" << run << "'";
    EXPECT_EQ(ProgramUnderTestIs32Bit(), run == "i686")
        << BuildFolder() << "\\autorun.exe in the " << run << " run";
    // The tests of refused starts run on the test build's program and are
    // skipped on the shipping file, never the other way round.
    EXPECT_EQ(SeamMissing(ProcessStartSeam).empty(), run == "x86_64") << "the seam in the " << run << " run";
}

TEST(Harness, RetriesOnlyAStartThatWineFailedAndOnlyOnce)
{
    const struct {
        std::vector<DWORD> errors; // of the attempts, in turn
        DWORD result;
        size_t attempts;
    } cases[] = {
        {{0}, 0, 1},
        {{ERROR_INTERNAL_ERROR, 0}, 0, 2},
        {{ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR, 0}, ERROR_INTERNAL_ERROR, 2},
        {{ERROR_INTERNAL_ERROR, ERROR_FILE_NOT_FOUND}, ERROR_FILE_NOT_FOUND, 2},
        {{ERROR_FILE_NOT_FOUND, 0}, ERROR_FILE_NOT_FOUND, 1},
        {{ERROR_ACCESS_DENIED, 0}, ERROR_ACCESS_DENIED, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.errors));
        size_t attempts = 0;
        EXPECT_EQ(StartRetryingWineFailure("test.exe", [&] { return c.errors[attempts++]; }), c.result);
        EXPECT_EQ(attempts, c.attempts);
    }
}

// A folder reached by its 8.3 name, and a file in it that is not there (yet):
// the same place in either form and any case; another place is not.
TEST(Harness, ComparesPathsInTheirLongForm)
{
    TempFolder temp;
    const std::string folder = temp.File("Folder With A Long Name");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    char shortForm[MAX_PATH] = "";
    ASSERT_NE(GetShortPathNameA(folder.c_str(), shortForm, sizeof shortForm), 0u);
    const std::string shortFolder = shortForm;
    if (shortFolder == folder) GTEST_SKIP() << "this volume makes no 8.3 names";
    std::string upper = folder;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));

    const struct {
        std::string path, other;
        bool same;
    } cases[] = {
        {shortFolder, folder, true},       {shortFolder + "\\setup.exe", folder + "\\SETUP.EXE", true},
        {upper, shortFolder, true},        {".\\setup.exe", ".\\Setup.exe", true},
        {shortFolder, temp.Path(), false}, {shortFolder + "\\setup.exe", folder + "\\setup.ex", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<bool>(SamePath(c.path, c.other)), c.same) << c.path << " against " << c.other;
}

} // namespace
