// Copies through open handles: see file_copy.h.
#include "file_copy.h"

DWORD CopyOpenFile(HANDLE source, HANDLE target)
{
    if (SetFilePointer(source, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return GetLastError();
    unsigned char buffer[4096];
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(source, buffer, sizeof buffer, &read, nullptr)) return GetLastError();
        if (read == 0) return NO_ERROR;
        if (!WriteFile(target, buffer, read, &written, nullptr)) return GetLastError();
        if (written != read) return ERROR_WRITE_FAULT;
    }
}
