// A whole file's bytes, for the kit's checker and the end-to-end tests alike.
#pragma once

#include <cstdio>
#include <string>

// Empty when the file cannot be opened; `found` then says so.
inline std::string ReadFileBytes(const std::string& path, bool* found = nullptr)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (found) *found = file != nullptr;
    if (!file) return bytes;
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, count);
    fclose(file);
    return bytes;
}
