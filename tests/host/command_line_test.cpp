// The launcher's string rules: name resolution and the unquoted command line.
#include "services/command_line.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace {

std::string Take(char* text)
{
    if (!text) return "<null>";
    std::string copy(text);
    free(text);
    return copy;
}

// One row of a table of string rules: what goes in, what must come out.
struct StringCase {
    const char* input;
    const char* expected;
};

TEST(ResolveProgramName, CurrentDirectoryUnlessNamePlacesIt)
{
    const StringCase cases[] = {
        {"setup.exe", ".\\setup.exe"},
        {"Zantoria.exe", ".\\Zantoria.exe"},
        {"RegSvr32.exe", ".\\RegSvr32.exe"},
        {"bin\\setup.exe", "bin\\setup.exe"},
        {"bin/setup.exe", "bin/setup.exe"},
        {"C:setup.exe", "C:setup.exe"},
        {"D:\\setup.exe", "D:\\setup.exe"},
        {"\\\\server\\share\\setup.exe", "\\\\server\\share\\setup.exe"},
        {".\\setup.exe", ".\\setup.exe"},
        {"", ".\\"},
        {"with space.exe", ".\\with space.exe"},
    };
    for (const StringCase& c : cases)
        EXPECT_EQ(Take(ResolveProgramName(c.input)), c.expected) << "program \"" << c.input << "\"";
}

TEST(JoinCommandLine, SingleSpacesNoQuoting)
{
    struct Case {
        const char* name;
        const char* arguments[5];
        const char* expected;
    } cases[] = {
        {"registration", {"RegSvr32.exe", "/s", "IR50_32.DLL", nullptr}, "RegSvr32.exe /s IR50_32.DLL"},
        {"game", {"Zantoria.exe", nullptr}, "Zantoria.exe"},
        {"setup", {"setup.exe", nullptr}, "setup.exe"},
        {"empty list", {nullptr}, ""},
        {"space inside an argument is not quoted", {"a.exe", "two words", nullptr}, "a.exe two words"},
        {"quotes pass through unescaped", {"a.exe", "\"q\"", nullptr}, "a.exe \"q\""},
        {"empty argument does not close the list", {"a.exe", "", "b", nullptr}, "a.exe  b"},
        {"only empty arguments", {"", "", nullptr}, " "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Take(JoinCommandLine(c.arguments)), c.expected) << c.name;
}

TEST(JoinCommandLine, LongArgumentsHaveNoLimit)
{
    const std::string first(5000, 'a'), second(70000, 'b');
    const char* arguments[] = {first.c_str(), second.c_str(), nullptr};
    EXPECT_EQ(Take(JoinCommandLine(arguments)), first + " " + second);
}

// Quoted by the rules programs read their arguments back with
// (CommandLineToArgvW, the C runtime): the codec's path for the registration.
TEST(QuotedArgument, ReadBackAsGiven)
{
    const struct {
        const char* argument;
        const char* expected;
    } cases[] = {
        {"C:\\WINDOWS\\system32\\IR50_32.DLL", "C:\\WINDOWS\\system32\\IR50_32.DLL"},
        {"IR50_32.DLL", "IR50_32.DLL"},
        {"C:\\My Windows\\system32\\IR50_32.DLL", "\"C:\\My Windows\\system32\\IR50_32.DLL\""},
        {"tab\there", "\"tab\there\""},
        {"", "\"\""},
        {"C:\\My Windows\\", "\"C:\\My Windows\\\\\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"a\\b c", "\"a\\b c\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Take(QuotedArgument(c.argument)), c.expected) << c.argument;
}

// Only the exact job argument starts the codec job; anything else leaves the
// menu a menu.
TEST(IsCodecJobCommandLine, OnlyTheExactArgument)
{
    const struct {
        const char* commandLine;
        int expected;
    } cases[] = {
        {"/InstallCodec", 1},  {"  /InstallCodec\t ", 1}, {"", 0},
        {nullptr, 0},          {"/installcodec", 0},      {"/InstallCodec now", 0},
        {"/InstallCodecs", 0}, {"x /InstallCodec", 0},    {"\"/InstallCodec\"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsCodecJobCommandLine(c.commandLine), c.expected)
            << (c.commandLine ? c.commandLine : "(null)");
}

// What WinMain receives of the process's command line: the job argument is
// recognised after a program name of any form.
TEST(SkipProgramName, AsWinMainReceivesIt)
{
    const StringCase cases[] = {
        {"autorun.exe", ""},
        {"autorun.exe /InstallCodec", "/InstallCodec"},
        {"\"D:\\Program Files\\autorun.exe\" /InstallCodec ", "/InstallCodec "},
        {"\"D:\\disc\\autorun.exe\"/InstallCodec", "/InstallCodec"},
        {"D:\\autorun.exe\t \t/InstallCodec", "/InstallCodec"},
        {"\"D:\\no closing quote /InstallCodec", ""},
        {"", ""},
        {"  leading blanks", "leading blanks"},
    };
    for (const StringCase& c : cases)
        EXPECT_STREQ(SkipProgramName(c.input), c.expected) << c.input;
}

} // namespace
