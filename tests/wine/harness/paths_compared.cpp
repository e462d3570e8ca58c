// See paths_compared.h.
#include "harness/paths_compared.h"

#include <windows.h>

namespace {

bool IsAbsolute(const std::string& path)
{
    return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           path.compare(0, 2, "\\\\") == 0;
}

} // namespace

std::string LongPath(const std::string& path)
{
    if (!IsAbsolute(path)) return path;
    const DWORD needed = GetLongPathNameA(path.c_str(), nullptr, 0);
    if (needed) {
        std::string found(needed, '\0');
        const DWORD length = GetLongPathNameA(path.c_str(), &found[0], needed);
        if (length && length < needed) return found.substr(0, length);
    }
    // Not there (yet, or any more): the part that is, in its long form.
    const size_t last = path.find_last_of("\\/");
    if (last == std::string::npos || last < 3 || last + 1 == path.size()) return path;
    return LongPath(path.substr(0, last)) + path.substr(last);
}

::testing::AssertionResult SamePath(const std::string& actual, const std::string& expected)
{
    const std::string actualLong = LongPath(actual), expectedLong = LongPath(expected);
    if (lstrcmpiA(actualLong.c_str(), expectedLong.c_str()) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "\"" << actual << "\" (long form \"" << actualLong << "\") is not \"" << expected
           << "\" (long form \"" << expectedLong << "\")";
}
