// Counting results and finding leftovers: plain string work, built natively
// for its tests and into the kit's checker.
#include "kit_report.h"

#include <cstdlib>
#include <map>

namespace {

std::map<std::string, std::string> StateLines(const std::string& text)
{
    std::map<std::string, std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos) lines[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 1;
    }
    return lines;
}

} // namespace

RunCounts CountResults(const std::string& xml)
{
    RunCounts counts;
    for (size_t at = xml.find("<testcase "); at != std::string::npos; at = xml.find("<testcase ", at + 1)) {
        const size_t tagEnd = xml.find('>', at);
        if (tagEnd == std::string::npos) break;
        const std::string tag = xml.substr(at, tagEnd - at + 1);
        std::string body;
        if (tag.size() < 2 || tag[tag.size() - 2] != '/') {
            const size_t close = xml.find("</testcase>", tagEnd);
            body = xml.substr(tagEnd, close == std::string::npos ? std::string::npos : close - tagEnd);
        }
        if (body.find("<failure") != std::string::npos || body.find("<error") != std::string::npos)
            ++counts.failed;
        else if (tag.find("result=\"skipped\"") != std::string::npos ||
                 tag.find("status=\"notrun\"") != std::string::npos ||
                 body.find("<skipped") != std::string::npos)
            ++counts.skipped;
        else
            ++counts.passed;
    }
    return counts;
}

std::vector<std::string> Leftovers(const std::string& before, const std::string& after)
{
    const std::map<std::string, std::string> old = StateLines(before);
    std::vector<std::string> found;
    for (const auto& [key, value] : StateLines(after)) {
        const auto was = old.find(key);
        if (was != old.end() && was->second == value) continue;
        if (key.rfind("process ", 0) == 0 &&
            std::atoi(value.c_str()) <= (was == old.end() ? 0 : std::atoi(was->second.c_str())))
            continue;
        found.push_back(key + "=" + value + (was == old.end() ? " (new)" : " (was " + was->second + ")"));
    }
    return found;
}
