// The harness itself. Which program a run of the suite drives: the i686 run
// must drive the shipping 32-bit file and the x86_64 run this build's own; a
// run whose environment went missing would otherwise pass while testing the
// wrong file; only the test build's program carries the process-start seam.
// And how it starts programs: a start that Wine itself failed is
// tried once more, any other failure stands.
#include "full_rights.h"
#include "harness/environment.h"
#include "harness/menu_process.h"
#include "harness/program_under_test.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(ProcessStartSeamMissing().empty(), run == "x86_64") << "the seam in the " << run << " run";
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

} // namespace
