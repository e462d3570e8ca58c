// The Windows test kit's verdicts: results counted from GoogleTest's JUnit
// XML, what a run left behind on the machine, and whether it may run.
#include "tests/kit/kit_report.h"

#include <gtest/gtest.h>

namespace {

TEST(KitReport, CountsEachCaseOnce)
{
    const struct {
        const char* name;
        const char* xml;
        int passed, skipped, failed;
        std::vector<std::string> failedTests;
    } cases[] = {
        {"empty file", "", 0, 0, 0, {}},
        {"one of each",
         "<testsuites tests=\"3\">\n<testsuite name=\"A\">\n"
         "<testcase name=\"Pass\" status=\"run\" result=\"completed\" time=\"0\" />\n"
         "<testcase name=\"Skip\" status=\"run\" result=\"skipped\" time=\"0\">\n"
         "<skipped message=\"no codec\"><![CDATA[why]]></skipped>\n</testcase>\n"
         "<testcase name=\"Fail\" status=\"run\" result=\"completed\" time=\"0\" classname=\"A\">\n"
         "<failure message=\"x\" type=\"\"><![CDATA[a]]></failure>\n"
         "<failure message=\"y\" type=\"\"><![CDATA[b]]></failure>\n</testcase>\n"
         "</testsuite>\n</testsuites>\n",
         1,
         1,
         1,
         {"A.Fail"}},
        {"a failure after a pass is the failing case's",
         "<testcase name=\"A\" status=\"run\" result=\"completed\" />"
         "<testcase name=\"B\" status=\"run\" result=\"completed\"><failure message=\"m\"/></testcase>",
         1,
         0,
         1,
         {"B"}},
        {"not run counts as skipped",
         "<testcase name=\"DISABLED_X\" status=\"notrun\" result=\"suppressed\" />",
         0,
         1,
         0,
         {}},
        {"a file cut short keeps what it holds",
         "<testcase name=\"A\" status=\"run\" result=\"completed\" />"
         "<testcase name=\"B\" status=\"run\"><failure",
         1,
         0,
         1,
         {"B"}},
    };
    for (const auto& c : cases) {
        const RunCounts counts = CountResults(c.xml);
        EXPECT_EQ(counts.passed, c.passed) << c.name;
        EXPECT_EQ(counts.skipped, c.skipped) << c.name;
        EXPECT_EQ(counts.failed, c.failed) << c.name;
        EXPECT_EQ(counts.failedTests, c.failedTests) << c.name;
    }
}

TEST(KitReport, SummaryPageNamesEachRunAndEachFailure)
{
    RunCounts x86_64{3, 1, 2, {"Splash.WhatTheMenuDraws", "CodecFlow.AnswersAndOutcomes"}};
    const std::string page = SummaryPage(
        "FAILED", {{"i686", "32-bit x86 programs do not start here", {}}, {"x86_64", "", x86_64}});
    EXPECT_EQ(page,
              "### Windows test kit: FAILED\n\n| run | passed | failed | skipped |\n|---|---|---|---|\n"
              "| i686 | not run: 32-bit x86 programs do not start here | | |\n"
              "| x86_64 | 3 | 2 | 1 |\n"
              "\nFailed in the x86_64 run:\n- `Splash.WhatTheMenuDraws`\n- `CodecFlow.AnswersAndOutcomes`\n");
}

TEST(KitReport, LeftoversAreWhatIsNewChangedOrGone)
{
    const std::vector<std::string> ours = {"C:\\Kit (1)\\", "C:\\Temp\\autorun-test-", "D:\\[kits]\\"};
    const std::string before =
        "codec C:\\sys\\IR50_32.DLL=absent\r\n"
        "record HKLM\\SOFTWARE\\KORU Media (32-bit view)=key\r\n"
        "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 (32-bit view)=key\r\n"
        "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 [Path] (32-bit view)=REG_SZ C:\\Game\r\n"
        "record HKLM\\SOFTWARE\\KORU Media (64-bit view)=absent\r\n"
        "tempfolder C:\\Temp\\autorun-test-1-1=present\r\n"
        "process 100=C:\\Downloads\\setup.exe\r\n"
        "process 200=C:\\Temp\\autorun-test-1-1\\disc\\autorun.exe\r\n";
    const std::string recordValue = "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 [Path] (32-bit view)=";
    const std::string record = "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 (32-bit view)=key\r\n";
    const std::string rest = "record HKLM\\SOFTWARE\\KORU Media (32-bit view)=key\r\n"
                             "record HKLM\\SOFTWARE\\KORU Media (64-bit view)=absent\r\n"
                             "codec C:\\sys\\IR50_32.DLL=absent\r\n";
    const std::string records = rest + record + recordValue + "REG_SZ C:\\Game\r\n";
    const struct {
        const char* name;
        std::string after;
        std::vector<std::string> expected;
    } cases[] = {
        {"the same state", before, {}},
        {"a codec file appeared, a record went",
         "codec C:\\sys\\IR50_32.DLL=5 bytes, hash 0\r\nrecord HKLM\\SOFTWARE\\KORU Media (32-bit "
         "view)=absent\r\n"
         "record HKLM\\SOFTWARE\\KORU Media (64-bit view)=absent\r\n",
         {"codec C:\\sys\\IR50_32.DLL=5 bytes, hash 0 (was absent)",
          "record HKLM\\SOFTWARE\\KORU Media (32-bit view)=absent (was key)",
          "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 (32-bit view)=key (gone)",
          "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 [Path] (32-bit view)=REG_SZ C:\\Game (gone)"}},
        // A record that was already there, changed by value and by a subkey;
        // meanwhile a foreign installer of a name the tests use ended, another
        // one started, and the menu the tests left stays: it is no excuse.
        {"a value changed, a subkey added, foreign processes came and went",
         rest + record + recordValue + "REG_SZ C:\\Elsewhere\r\n" +
             "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00\\Extra (32-bit view)=key\r\n"
             "process 300=C:\\Users\\me\\Downloads\\SETUP.EXE\r\n"
             "process 200=C:\\Temp\\autorun-test-1-1\\disc\\autorun.exe\r\n",
         {"record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00 [Path] (32-bit view)=REG_SZ C:\\Elsewhere (was "
          "REG_SZ "
          "C:\\Game)",
          "record HKLM\\SOFTWARE\\KORU Media\\ZANTORIA\\1.00\\Extra (32-bit view)=key (new)"}},
        {"the tests' own programs, by id and wherever they lie, and one of unknown place",
         records + "process 400=C:\\TEMP\\AUTORUN-TEST-9-2\\disc\\setup.exe\r\n"
                   "process 401=C:\\Kit (1)\\x86_64\\recorder.exe\r\n"
                   "process 402=RegSvr32.exe\r\n"
                   "process 403=C:\\Kit (1) old\\x86_64\\recorder.exe\r\n"
                   "process 404=D:\\%5Bkits%5D\\i686\\autorun.exe\r\n",
         {"process 400=C:\\TEMP\\AUTORUN-TEST-9-2\\disc\\setup.exe (new)",
          "process 401=C:\\Kit (1)\\x86_64\\recorder.exe (new)", "process 402=RegSvr32.exe (new)",
          "process 404=D:\\%5Bkits%5D\\i686\\autorun.exe (new)"}},
        {"an id the system gave to the tests' program after a foreign one ended",
         before + "process 100=C:\\Temp\\autorun-test-1-1\\disc\\setup.exe\r\n",
         {"process 100=C:\\Temp\\autorun-test-1-1\\disc\\setup.exe (new)"}},
        {"a temporary folder gone, a new one there",
         records + "tempfolder C:\\Temp\\autorun-test-9-1=present\r\n",
         {"tempfolder C:\\Temp\\autorun-test-9-1=present (new)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Leftovers(before, c.after, ours), c.expected) << c.name;
}

TEST(KitReport, StateLinesHoldAnyNameAndValue)
{
    // A value named "a=b" keeps its line's "=" the one before the value.
    EXPECT_EQ(StateText("a=b [c]\r\n100%"), "a%3Db %5Bc%5D%0D%0A100%25");
    const struct {
        const char* name;
        unsigned long type;
        std::string data;
        const char* expected;
    } values[] = {
        {"a string", 1, std::string("C:\\Game\0", 8), "REG_SZ C:\\Game"},
        {"an empty string", 1, std::string("\0", 1), "REG_SZ "},
        {"a string with a line end", 1, std::string("a\nb\0", 4), "REG_SZ a%0Ab"},
        {"a string without its end", 1, "C:", "type 1, bytes 433a"},
        {"an expandable string", 2, std::string("%TEMP%\0", 7), "REG_EXPAND_SZ %25TEMP%25"},
        {"a number", 4, std::string("\x01\x02\x00\x80", 4), "REG_DWORD 0x80000201"},
        {"bytes", 3, std::string("\x00\xff", 2), "type 3, bytes 00ff"},
    };
    for (const auto& v : values)
        EXPECT_EQ(RegistryValueText(v.type, v.data), v.expected) << v.name;
}

TEST(KitReport, OnlyFullRightsMayChangeTheMachine)
{
    const struct {
        const char* name;
        TokenRights rights;
        bool may;
    } cases[] = {
        {"elevated administrator", {true, true, false, true}, true},
        {"administrator who has not consented", {true, false, true, false}, false},
        {"a filtered token, whatever its membership says", {true, false, true, true}, false},
        {"standard user", {true, false, false, false}, false},
        {"administrator with elevation switched off", {true, false, false, true}, true},
        {"administrator before Vista", {false, false, false, true}, true},
        {"standard user before Vista", {false, false, false, false}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MayChangeTheMachine(c.rights), c.may) << c.name;
}

TEST(KitReport, WindowTestsNeedAnInteractiveDesktop)
{
    const struct {
        DesktopSeen seen;
        const char* why; // a part of the reason; null: the tests may run
    } cases[] = {
        {{"WinSta0", true, true}, nullptr},
        {{"winsta0", true, true}, nullptr},
        {{"Service-0x0-3e7$", false, true}, "window station is \"Service-0x0-3e7$\""},
        {{"WinSta0", false, true}, "not a user's visible WinSta0"},
        {{"WinSta01", true, true}, "not a user's visible WinSta0"},
        {{"WinSta0", true, false}, "locked or disconnected"},
    };
    for (const auto& c : cases) {
        const std::string why = WhyNoInteractiveDesktop(c.seen);
        if (!c.why)
            EXPECT_EQ(why, "") << c.seen.station;
        else
            EXPECT_NE(why.find(c.why), std::string::npos) << c.seen.station << ": " << why;
    }
}

} // namespace
