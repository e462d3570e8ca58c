// Counting results, writing and comparing the machine's state, the rights
// verdict: plain string work, built natively for its tests and into the
// kit's checker.
#include "kit_report.h"

#include <cstdio>
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

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithAnyCase(const std::string& text, const std::string& prefix)
{
    if (prefix.empty() || text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

// A process line's program: one the tests may have started, or unknown.
bool OursOrUnknown(const std::string& program, const std::vector<std::string>& ourPlaces)
{
    if (program.find('\\') == std::string::npos) return true;
    for (const std::string& place : ourPlaces)
        if (StartsWithAnyCase(program, StateText(place))) return true;
    return false;
}

std::string Hex(const std::string& bytes)
{
    std::string text;
    char digits[3];
    for (unsigned char byte : bytes) {
        snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

} // namespace

// An attribute's value as the file holds it (GoogleTest's names need no
// unescaping), or "".
std::string Attribute(const std::string& tag, const std::string& name)
{
    const std::string start = " " + name + "=\"";
    const size_t at = tag.find(start);
    if (at == std::string::npos) return "";
    const size_t end = tag.find('"', at + start.size());
    return end == std::string::npos ? "" : tag.substr(at + start.size(), end - at - start.size());
}

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
        if (body.find("<failure") != std::string::npos || body.find("<error") != std::string::npos) {
            ++counts.failed;
            const std::string suite = Attribute(tag, "classname");
            counts.failedTests.push_back((suite.empty() ? "" : suite + ".") + Attribute(tag, "name"));
        } else if (tag.find("result=\"skipped\"") != std::string::npos ||
                   tag.find("status=\"notrun\"") != std::string::npos ||
                   body.find("<skipped") != std::string::npos)
            ++counts.skipped;
        else
            ++counts.passed;
    }
    return counts;
}

std::string StateText(const std::string& text)
{
    std::string written;
    char escaped[4];
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '%' || c == '=' || c == '[' || c == ']') {
            snprintf(escaped, sizeof escaped, "%%%02X", c);
            written += escaped;
        } else {
            written += static_cast<char>(c);
        }
    }
    return written;
}

std::string RegistryValueText(unsigned long type, const std::string& data)
{
    enum : unsigned long { Sz = 1, ExpandSz = 2, Dword = 4 };
    if ((type == Sz || type == ExpandSz) && (data.empty() || data.back() == '\0')) {
        std::string text = data.substr(0, data.empty() ? 0 : data.size() - 1);
        return std::string(type == Sz ? "REG_SZ " : "REG_EXPAND_SZ ") + StateText(text);
    }
    if (type == Dword && data.size() == 4) {
        char text[32];
        snprintf(text, sizeof text, "REG_DWORD 0x%02x%02x%02x%02x", static_cast<unsigned char>(data[3]),
                 static_cast<unsigned char>(data[2]), static_cast<unsigned char>(data[1]),
                 static_cast<unsigned char>(data[0]));
        return text;
    }
    return "type " + std::to_string(type) + ", bytes " + Hex(data);
}

std::vector<std::string> Leftovers(const std::string& before, const std::string& after,
                                   const std::vector<std::string>& ourPlaces)
{
    const std::map<std::string, std::string> old = StateLines(before), now = StateLines(after);
    std::vector<std::string> found;
    for (const auto& [key, value] : now) {
        const auto was = old.find(key);
        if (was != old.end() && was->second == value) continue;
        if (StartsWith(key, "process ")) {
            // A new id, or an id the system gave to another program since.
            if (OursOrUnknown(value, ourPlaces)) found.push_back(key + "=" + value + " (new)");
            continue;
        }
        found.push_back(key + "=" + value + (was == old.end() ? " (new)" : " (was " + was->second + ")"));
    }
    for (const auto& [key, value] : old) {
        if (now.count(key) || StartsWith(key, "process ") || StartsWith(key, "tempfolder ")) continue;
        found.push_back(key + "=" + value + " (gone)");
    }
    return found;
}

bool MayChangeTheMachine(const TokenRights& rights)
{
    if (rights.elevationKnown && rights.elevated) return true;
    if (rights.elevationKnown && rights.limited) return false;
    return rights.administrator;
}

std::string WhyNoInteractiveDesktop(const DesktopSeen& seen)
{
    const bool userStation = seen.station.size() == 7 && StartsWithAnyCase(seen.station, "WinSta0");
    if (!userStation || !seen.stationVisible)
        return "no interactive desktop: this session's window station is \"" + seen.station +
               "\", not a user's visible WinSta0 (a service or a scheduled job without a logged-on user)";
    if (!seen.inputDesktop)
        return "no interactive desktop: the input desktop cannot be opened (the session is locked or "
               "disconnected)";
    return "";
}

std::string SummaryPage(const std::string& verdict, const std::vector<RunOutcome>& runs)
{
    std::string page =
        "### Windows test kit: " + verdict + "\n\n| run | passed | failed | skipped |\n|---|---|---|---|\n";
    std::string failures;
    for (const RunOutcome& outcome : runs) {
        if (!outcome.notRun.empty()) {
            page += "| " + outcome.run + " | not run: " + outcome.notRun + " | | |\n";
            continue;
        }
        const RunCounts& c = outcome.counts;
        page += "| " + outcome.run + " | " + std::to_string(c.passed) + " | " + std::to_string(c.failed) +
                " | " + std::to_string(c.skipped) + " |\n";
        if (!c.failedTests.empty()) failures += "\nFailed in the " + outcome.run + " run:\n";
        for (const std::string& name : c.failedTests)
            failures += "- `" + name + "`\n";
    }
    return page + failures;
}
