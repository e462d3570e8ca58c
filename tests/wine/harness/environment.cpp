// This process's environment, read and set for the length of a test.
#include "harness/environment.h"

#include <windows.h>

#include <vector>

std::string EnvironmentVariable(const char* name)
{
    std::vector<char> value(32768);
    const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    return length < value.size() ? std::string(value.data(), length) : "";
}

ScopedVariable::ScopedVariable(const char* name, const char* value)
    : name_(name), old_(EnvironmentVariable(name))
{
    had_ = !old_.empty();
    SetEnvironmentVariableA(name, value);
}

ScopedVariable::~ScopedVariable()
{
    SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

namespace {

std::string Joined(const std::string& current, const std::string& order)
{
    return current.empty() ? order : current + ";" + order;
}

} // namespace

LibraryOverride::LibraryOverride(const std::string& order)
    : ScopedVariable("WINEDLLOVERRIDES", Joined(EnvironmentVariable("WINEDLLOVERRIDES"), order).c_str())
{
}
