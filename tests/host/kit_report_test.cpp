// The Windows test kit's verdicts: results counted from GoogleTest's JUnit
// XML, and what a run left behind on the machine.
#include "tests/kit/kit_report.h"

#include <gtest/gtest.h>

namespace {

TEST(KitReport, CountsEachCaseOnce)
{
    const struct {
        const char* name;
        const char* xml;
        int passed, skipped, failed;
    } cases[] = {
        {"empty file", "", 0, 0, 0},
        {"one of each",
         "<testsuites tests=\"3\">\n<testsuite name=\"A\">\n"
         "<testcase name=\"Pass\" status=\"run\" result=\"completed\" time=\"0\" />\n"
         "<testcase name=\"Skip\" status=\"run\" result=\"skipped\" time=\"0\">\n"
         "<skipped message=\"no codec\"><![CDATA[why]]></skipped>\n</testcase>\n"
         "<testcase name=\"Fail\" status=\"run\" result=\"completed\" time=\"0\">\n"
         "<failure message=\"x\" type=\"\"><![CDATA[a]]></failure>\n"
         "<failure message=\"y\" type=\"\"><![CDATA[b]]></failure>\n</testcase>\n"
         "</testsuite>\n</testsuites>\n",
         1, 1, 1},
        {"a failure after a pass is the failing case's",
         "<testcase name=\"A\" status=\"run\" result=\"completed\" />"
         "<testcase name=\"B\" status=\"run\" result=\"completed\"><failure message=\"m\"/></testcase>",
         1, 0, 1},
        {"not run counts as skipped",
         "<testcase name=\"DISABLED_X\" status=\"notrun\" result=\"suppressed\" />", 0, 1, 0},
        {"a file cut short keeps what it holds",
         "<testcase name=\"A\" status=\"run\" result=\"completed\" />"
         "<testcase name=\"B\" status=\"run\"><failure",
         1, 0, 1},
    };
    for (const auto& c : cases) {
        const RunCounts counts = CountResults(c.xml);
        EXPECT_EQ(counts.passed, c.passed) << c.name;
        EXPECT_EQ(counts.skipped, c.skipped) << c.name;
        EXPECT_EQ(counts.failed, c.failed) << c.name;
    }
}

TEST(KitReport, LeftoversAreWhatIsNewOrChanged)
{
    const std::string before = "codec C:\\sys\\IR50_32.DLL=absent\r\n"
                               "record HKLM, 32-bit view=present\r\n"
                               "tempfolder C:\\tmp\\autorun-test-1-1=present\r\n"
                               "process autorun.exe=1\r\n";
    const struct {
        const char* name;
        std::string after;
        std::vector<std::string> expected;
    } cases[] = {
        {"the same state", before, {}},
        {"a codec file appeared, a record went",
         "codec C:\\sys\\IR50_32.DLL=5 bytes, hash 0\r\nrecord HKLM, 32-bit view=absent\r\nprocess "
         "autorun.exe=1\r\n",
         {"codec C:\\sys\\IR50_32.DLL=5 bytes, hash 0 (was absent)",
          "record HKLM, 32-bit view=absent (was present)"}},
        {"a new temporary folder and one more menu",
         before + "tempfolder C:\\tmp\\autorun-test-9-1=present\r\nprocess autorun.exe=2\r\n",
         {"process autorun.exe=2 (was 1)", "tempfolder C:\\tmp\\autorun-test-9-1=present (new)"}},
        {"a process that ended before is no leftover", "process autorun.exe=0\nprocess setup.exe=0\n", {}},
        {"a process named only afterwards", "process setup.exe=1\n", {"process setup.exe=1 (new)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Leftovers(before, c.after), c.expected) << c.name;
}

} // namespace
