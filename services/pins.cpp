// The pins: see pins.h. The record is found in the program file by its
// magic, which occurs there once, and written by `./autorun-disc pin` (and
// `build`). It lives in initialised data and is read through volatile access
// only, so that the compiler can neither fold the zeros of an unpinned build
// into the code nor drop the record.
#include "pins.h"

#include "sha256.h"

struct PinRecord {
    char magic[16];
    unsigned char digests[3][32];
};

// "AutorunPins/v1" and two NULs, then three entries: MYIR50_32.dll,
// RegSvr32.exe, DSETUP.dll. A file pinned as absent has 32 bytes of 0xFF,
// which no file hashes to.
PinRecord AutorunPins = {"AutorunPins/v1", {}};

namespace {

bool Unpinned()
{
    const volatile unsigned char* entry = &AutorunPins.digests[0][0];
    for (size_t i = 0; i < sizeof AutorunPins.digests; ++i)
        if (entry[i]) return false;
    return true;
}

bool SameAsPinned(PinnedFile which, const unsigned char digest[32])
{
    // A file the record has no entry for is pinned as absent.
    if (static_cast<size_t>(which) >= sizeof AutorunPins.digests / sizeof AutorunPins.digests[0])
        return false;
    const volatile unsigned char* pinned = AutorunPins.digests[which];
    unsigned char difference = 0;
    for (int i = 0; i < 32; ++i)
        difference |= static_cast<unsigned char>(pinned[i] ^ digest[i]);
    return difference == 0;
}

bool HashOpenFile(HANDLE file, unsigned char digest[32])
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

} // namespace

bool HoldVouchedFile(PinnedFile which, const char* path, HANDLE* held)
{
    *held = INVALID_HANDLE_VALUE;
    if (Unpinned()) return true;
    // Sharing for reading only: while this handle is open, nobody may write
    // the file, delete or rename it, and one opened for writing before now
    // makes this open fail. The copy, the start and the loader only read.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char digest[32];
    if (!HashOpenFile(file, digest) || !SameAsPinned(which, digest)) {
        CloseHandle(file);
        return false;
    }
    *held = file;
    return true;
}

void ReleaseVouchedFile(HANDLE held)
{
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
}
