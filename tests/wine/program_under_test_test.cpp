// Which program a run of the suite drives. The i686 run must drive the
// shipping 32-bit file and the x86_64 run this build's own; a run whose
// environment went missing would otherwise pass while testing the wrong file.
#include "menu_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgramUnderTest, IsTheOneOfThisRun)
{
    char value[16] = "";
    const DWORD length = GetEnvironmentVariableA("AUTORUN_RUN", value, sizeof value);
    const std::string run(value, length < sizeof value ? length : 0);
    ASSERT_TRUE(run == "i686" || run == "x86_64") << "AUTORUN_RUN names no run: '" << run << "'";
    EXPECT_EQ(ProgramUnderTestIs32Bit(), run == "i686") << BuildFolder() << "\\autorun.exe in the " << run << " run";
}

} // namespace
