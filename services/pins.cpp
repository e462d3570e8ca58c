// The pins: see pins.h. The record is found in the program file by its
// magic, which occurs there once, and written by `./autorun-disc pin` (and
// `build`). It lives in initialised data and is read through volatile access
// only, so that the compiler can neither fold the zeros of an unpinned build
// into the code nor drop the record.
#include "pins.h"

#include "after_check.h"
#include "sha256.h"

struct PinEntry {
    unsigned char digest[PinDigestLength];
    unsigned char size[PinSizeLength]; // little-endian
};

struct PinRecord {
    char magic[PinMagicLength];
    PinEntry entries[PinnedFileCount];
};

PinRecord AutorunPins = {AUTORUN_PIN_MAGIC, {}};

namespace {

bool EntryIsAll(PinnedFile which, unsigned char value)
{
    const volatile unsigned char* entry = AutorunPins.entries[which].digest;
    for (size_t i = 0; i < sizeof(PinEntry); ++i)
        if (entry[i] != value) return false;
    return true;
}

bool Unpinned()
{
    for (int which = 0; which < PinnedFileCount; ++which)
        if (!EntryIsAll(static_cast<PinnedFile>(which), 0)) return false;
    return true;
}

// Compared before a byte is read: a planted file of gigabytes is refused at
// once instead of being hashed to its end while the menu's window waits.
bool SizeAsPinned(PinnedFile which, HANDLE file)
{
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    const volatile unsigned char* pinned = AutorunPins.entries[which].size;
    DWORD pinnedLow = 0, pinnedHigh = 0;
    for (int i = 3; i >= 0; --i) {
        pinnedLow = (pinnedLow << 8) | pinned[i];
        pinnedHigh = (pinnedHigh << 8) | pinned[i + 4];
    }
    return low == pinnedLow && high == pinnedHigh;
}

bool DigestAsPinned(PinnedFile which, const unsigned char digest[PinDigestLength])
{
    const volatile unsigned char* pinned = AutorunPins.entries[which].digest;
    unsigned char difference = 0;
    for (int i = 0; i < PinDigestLength; ++i)
        difference |= static_cast<unsigned char>(pinned[i] ^ digest[i]);
    return difference == 0;
}

bool HashOpenFile(HANDLE file, unsigned char digest[PinDigestLength])
{
    Sha256 hash;
    Sha256Start(&hash);
    unsigned char buffer[4096];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) break;
        Sha256Add(&hash, buffer, read);
    }
    Sha256Finish(&hash, digest);
    return true;
}

// Sharing for reading only: while this handle is open, nobody may write the
// file, delete or rename it, and one opened for writing before now makes
// this open fail. The copy, the start and the loader only read.
HANDLE OpenShared(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// The file at `path` when it is the one pinned, open and at its start.
HANDLE OpenPinnedFile(PinnedFile which, const char* path)
{
    // Pinned as absent: whatever lies there is not used, nor even opened.
    if (EntryIsAll(which, 0xFF)) return INVALID_HANDLE_VALUE;
    HANDLE file = OpenShared(path);
    if (file == INVALID_HANDLE_VALUE) return file;
    unsigned char digest[PinDigestLength];
    if (!SizeAsPinned(which, file) || !HashOpenFile(file, digest) || !DigestAsPinned(which, digest) ||
        SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    AfterCheck(path);
    return file;
}

} // namespace

bool MenuIsPinned()
{
    return !Unpinned();
}

bool HoldVouchedFile(PinnedFile which, const char* path, HANDLE* held)
{
    *held = INVALID_HANDLE_VALUE;
    if (Unpinned()) return true;
    *held = OpenPinnedFile(which, path);
    return *held != INVALID_HANDLE_VALUE;
}

HANDLE OpenVouchedFile(PinnedFile which, const char* path)
{
    if (!Unpinned()) return OpenPinnedFile(which, path);
    HANDLE file = OpenShared(path);
    if (file != INVALID_HANDLE_VALUE) AfterCheck(path);
    return file;
}

void ReleaseVouchedFile(HANDLE held)
{
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
}
