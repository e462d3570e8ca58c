// The private copy of disc libraries: see private_copy.h.
#include "private_copy.h"

#include <string.h>

#include "file_copy.h"
#include "path_rules.h"

namespace {

// Tries of a folder name before giving up: another entry of the same name,
// or a TEMP that cannot be written, makes each try fail.
const DWORD FolderNameTries = 16;

// "autorun-" and eight hexadecimal digits of `value`.
void FolderName(char* name, DWORD value)
{
    memcpy(name, "autorun-", 8);
    for (int digit = 0; digit < 8; ++digit)
        name[8 + digit] = "0123456789abcdef"[(value >> (28 - 4 * digit)) & 0xF];
    name[16] = '\0';
}

} // namespace

bool MakePrivateFolder(PrivateCopy* copy)
{
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) return false;
    const DWORD start = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < FolderNameTries; ++attempt) {
        char name[17];
        FolderName(name, start + attempt);
        if (!BuildFilePath(copy->folder, sizeof copy->folder, temp, name)) break;
        // Fails when the name is taken: a folder is only ever one this call made.
        if (CreateDirectoryA(copy->folder, nullptr)) return true;
    }
    copy->folder[0] = '\0';
    return false;
}

bool AddHeldCopy(PrivateCopy* copy, HANDLE source, const char* name)
{
    if (copy->count >= PrivateCopyFiles || !copy->folder[0]) return false;
    char* path = copy->files[copy->count];
    if (!BuildFilePath(path, MAX_PATH, copy->folder, name)) return false;
    // Never over an existing file: whatever lies there is not this copy's.
    HANDLE target = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) return false;
    HANDLE& held = copy->held[copy->count++];
    held = INVALID_HANDLE_VALUE;
    const bool copied = CopyOpenFile(source, target) == NO_ERROR;
    if (!CloseHandle(target) || !copied) return false;
    // The loader opens the file for reading and shares reading: a handle
    // that may write would make it fail, so the copy is opened again.
    held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    return held != INVALID_HANDLE_VALUE;
}

void RemovePrivateCopy(PrivateCopy* copy)
{
    for (int i = 0; i < copy->count; ++i) {
        if (copy->held[i] != INVALID_HANDLE_VALUE) CloseHandle(copy->held[i]);
        DeleteFileA(copy->files[i]);
    }
    copy->count = 0;
    if (copy->folder[0]) RemoveDirectoryA(copy->folder);
    copy->folder[0] = '\0';
}
