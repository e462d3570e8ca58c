// Folder and file-name rules for the program's fixed-size path buffers.
#include "path_rules.h"

#include <string.h>

int EnsureTrailingBackslash(char* folder, size_t size)
{
    const char* terminator = static_cast<const char*>(memchr(folder, '\0', size));
    if (!terminator) return 0; // not a string: no terminator inside the buffer
    const size_t length = static_cast<size_t>(terminator - folder);
    if (length > 0 && folder[length - 1] == '\\') return 1;
    if (length + 2 > size) return 0;
    folder[length] = '\\';
    folder[length + 1] = '\0';
    return 1;
}

int BuildFilePath(char* out, size_t size, const char* folder, const char* name)
{
    if (size == 0) return 0;
    out[0] = '\0';
    const size_t folderLength = strlen(folder);
    const size_t separator = folderLength > 0 && folder[folderLength - 1] == '\\' ? 0 : 1;
    const size_t nameLength = strlen(name);
    if (folderLength >= size || nameLength >= size || folderLength + separator + nameLength + 1 > size)
        return 0;
    memcpy(out, folder, folderLength);
    if (separator) out[folderLength] = '\\';
    memcpy(out + folderLength + separator, name, nameLength + 1);
    return 1;
}

int CutToFolder(char* path)
{
    char* lastSeparator = strrchr(path, '\\');
    if (!lastSeparator) return 0;
    const bool root = lastSeparator == path || lastSeparator[-1] == ':';
    lastSeparator[root ? 1 : 0] = '\0';
    return 1;
}
