// Starts with full rights, as the rights hook and the recorder see them.
#include "full_rights.h"

#include <gtest/gtest.h>

#include "harness/paths_compared.h"
#include "harness/program_under_test.h"
#include "tests/kit/file_bytes.h"

bool ActAsStandardUser(const MenuProcess& menu)
{
    return menu.Inject(BuildFile("rights_hook.dll"));
}

void ExpectStartedThroughTheShell(const StartRecord& start, const std::string& parameters)
{
    const std::string& line = start.commandLine;
    const size_t close = line.find('"', 1);
    ASSERT_TRUE(!line.empty() && line[0] == '"' && close != std::string::npos)
        << "not started through the shell: " << line;
    const std::string path = line.substr(1, close - 1);
    EXPECT_TRUE(SamePath(path.substr(path.find_last_of("\\/") + 1), start.program)) << line;
    const size_t rest = line.find_first_not_of(' ', close + 1);
    EXPECT_EQ(rest == std::string::npos ? "" : line.substr(rest), parameters) << line;
}

void ExpectStartsWithFullRights(const StandInLog& log, const std::string& file, const std::string& parameters,
                                const std::string& directory, size_t count)
{
    const std::vector<ShellCall> calls = log.ShellCalls();
    ASSERT_EQ(calls.size(), count) << "starts through the shell";
    for (const ShellCall& call : calls) {
        EXPECT_EQ(call.verb, "runas");
        EXPECT_TRUE(SamePath(call.file, file));
        EXPECT_EQ(call.parameters, parameters);
        EXPECT_TRUE(SamePath(call.directory, directory));
    }
}
