// The stand-ins' log, read back line by line and field by field.
#include "harness/standin_records.h"

#include <algorithm>

StandInLog::StandInLog() : path_(folder_.File("standins.log")), log_("STANDIN_LOG", path_.c_str()) {}

std::vector<std::string> StandInLog::Lines() const
{
    std::vector<std::string> lines;
    const std::string text = ReadFileBytes(path_);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::vector<std::string>> StandInLog::Fields(const std::string& prefix) const
{
    std::vector<std::vector<std::string>> found;
    for (const std::string& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        found.emplace_back();
        size_t start = prefix.size();
        for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
            found.back().push_back(line.substr(start, bar - start));
        found.back().push_back(line.substr(start));
    }
    return found;
}

std::vector<StartRecord> StandInLog::Starts() const
{
    std::vector<StartRecord> starts;
    for (std::vector<std::string> fields : Fields("")) {
        if (fields[0] == "DirectXSetupA" || fields[0] == "ShellExecuteExA" || fields.size() < 4) continue;
        for (; fields.size() > 4; fields.erase(fields.begin() + 2))
            fields[1] += "|" + fields[2];
        starts.push_back({fields[0], fields[1], fields[2], fields[3]});
    }
    return starts;
}

std::vector<ShellCall> StandInLog::ShellCalls() const
{
    std::vector<ShellCall> calls;
    for (const std::vector<std::string>& fields : Fields("ShellExecuteExA|"))
        if (fields.size() == 4) calls.push_back({fields[0], fields[1], fields[2], fields[3]});
    return calls;
}

std::vector<std::string> StandInLog::DirectXCalls() const
{
    std::vector<std::string> calls;
    for (const std::string& line : Lines())
        if (line.rfind("DirectXSetupA|", 0) == 0) calls.push_back(line.substr(14));
    return calls;
}

std::vector<std::pair<std::string, std::string>> StandInLog::Registrations() const
{
    std::vector<std::pair<std::string, std::string>> found;
    for (const std::vector<std::string>& fields : Fields("Registered|"))
        if (fields.size() == 2) found.emplace_back(fields[0], fields[1]);
    return found;
}
