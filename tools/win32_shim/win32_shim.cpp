// The native Win32 stand-in: the old file calls over POSIX descriptors and the
// global memory calls over malloc. It is stricter than Windows where that finds
// faults: a handle that is not live (freed, or replaced by a re-size) aborts,
// a re-size always moves the block and gives a new handle, and a locked block
// cannot be re-sized.
#include "win32_shim.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <unordered_set>

namespace {

struct Global {
    BYTE* data;
    size_t size;
    unsigned locks;
};

std::unordered_set<Global*> LiveBlocks;
std::set<int> OpenFiles;
int AllocationsUntilFailure = -1;
int ReadsUntilFailure = -1;
size_t AllocationLimit = size_t(1) << 30;
size_t LargestRequest = 0;
bool FillPattern = true;

[[noreturn]] void Misuse(const char* what)
{
    fprintf(stderr, "win32 shim: %s\n", what);
    abort();
}

Global* Live(HGLOBAL handle, const char* call)
{
    Global* block = static_cast<Global*>(handle);
    if (!LiveBlocks.count(block)) Misuse(call);
    return block;
}

bool Fails(int* untilFailure)
{
    if (*untilFailure < 0) return false;
    return (*untilFailure)-- == 0;
}

bool AllocationFails(size_t bytes)
{
    if (bytes > LargestRequest) LargestRequest = bytes;
    return Fails(&AllocationsUntilFailure) || bytes > AllocationLimit;
}

void FillNew(BYTE* data, size_t from, size_t to, UINT flags)
{
    if (flags & GMEM_ZEROINIT)
        memset(data + from, 0, to - from);
    else if (FillPattern)
        memset(data + from, ShimFillByte, to - from);
}

bool IsOpen(HFILE file)
{
    return OpenFiles.count(file) != 0;
}

// Reads until the count is met or the file ends; -1 on an error. An injected
// failure still transfers the bytes, as a read that fails part-way may, so
// that only the answer tells the failure apart.
long ReadFully(HFILE file, void* buffer, size_t count)
{
    if (!IsOpen(file)) return -1;
    const bool fails = Fails(&ReadsUntilFailure);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = read(file, static_cast<char*>(buffer) + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += size_t(got);
    }
    return fails ? -1 : long(done);
}

} // namespace

HFILE OpenFile(LPCSTR fileName, LPOFSTRUCT reOpenBuff, UINT style)
{
    if (style != OF_READ) Misuse("OpenFile supports OF_READ only");
    memset(reOpenBuff, 0, sizeof *reOpenBuff);
    reOpenBuff->cBytes = sizeof *reOpenBuff;
    const int fd = open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reOpenBuff->nErrCode = 2; // ERROR_FILE_NOT_FOUND, near enough
        return HFILE_ERROR;
    }
    snprintf(reOpenBuff->szPathName, sizeof reOpenBuff->szPathName, "%s", fileName);
    OpenFiles.insert(fd);
    return fd;
}

// Positions are 32-bit and never negative, as with a 32-bit LONG on Windows:
// a seek outside that range fails and leaves the position where it was.
LONG _llseek(HFILE file, LONG offset, int origin)
{
    if (!IsOpen(file)) return HFILE_ERROR;
    int64_t base = 0;
    if (origin == FILE_CURRENT) {
        base = lseek(file, 0, SEEK_CUR);
    } else if (origin == FILE_END) {
        struct stat status;
        base = fstat(file, &status) == 0 ? status.st_size : -1;
    } else if (origin != FILE_BEGIN) {
        return HFILE_ERROR;
    }
    if (base < 0) return HFILE_ERROR;
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) return HFILE_ERROR;
    if (lseek(file, target, SEEK_SET) != target) return HFILE_ERROR;
    return LONG(target);
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes)
{
    const long got = ReadFully(file, buffer, bytes);
    return got < 0 ? UINT(HFILE_ERROR) : UINT(got);
}

LONG _hread(HFILE file, LPVOID buffer, LONG bytes)
{
    if (bytes < 0) Misuse("_hread with a negative count");
    const long got = ReadFully(file, buffer, size_t(bytes));
    return got < 0 ? HFILE_ERROR : LONG(got);
}

HFILE _lclose(HFILE file)
{
    if (!OpenFiles.erase(file)) return HFILE_ERROR;
    close(file);
    return 0;
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (AllocationFails(bytes)) return nullptr;
    BYTE* data = static_cast<BYTE*>(malloc(bytes ? bytes : 1));
    if (!data) return nullptr;
    FillNew(data, 0, bytes, flags);
    Global* block = new Global{data, bytes, 0};
    LiveBlocks.insert(block);
    return block;
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags)
{
    Global* block = Live(handle, "GlobalReAlloc of a block that is not live");
    if (block->locks) return nullptr; // a locked block could only grow in place
    if (AllocationFails(bytes)) return nullptr;
    BYTE* data = static_cast<BYTE*>(malloc(bytes ? bytes : 1));
    if (!data) return nullptr;
    memcpy(data, block->data, bytes < block->size ? bytes : block->size);
    if (bytes > block->size) FillNew(data, block->size, bytes, flags);
    Global* moved = new Global{data, bytes, 0};
    LiveBlocks.insert(moved);
    LiveBlocks.erase(block);
    free(block->data);
    delete block;
    return moved;
}

LPVOID GlobalLock(HGLOBAL handle)
{
    Global* block = Live(handle, "GlobalLock of a block that is not live");
    // A movable block of size 0 is discarded on Windows and cannot be locked.
    if (block->size == 0) return nullptr;
    block->locks++;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle)
{
    Global* block = Live(handle, "GlobalUnlock of a block that is not live");
    if (block->locks == 0) Misuse("GlobalUnlock of a block that is not locked");
    return --block->locks != 0;
}

HGLOBAL GlobalFree(HGLOBAL handle)
{
    Global* block = Live(handle, "GlobalFree of a block that is not live");
    LiveBlocks.erase(block);
    free(block->data);
    delete block;
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle)
{
    return Live(handle, "GlobalSize of a block that is not live")->size;
}

UINT GlobalFlags(HGLOBAL handle)
{
    return Live(handle, "GlobalFlags of a block that is not live")->locks & GMEM_LOCKCOUNT;
}

HFILE ShimOpenMemoryFile(const void* data, size_t size)
{
    const int fd = memfd_create("shim-file", MFD_CLOEXEC);
    if (fd < 0) Misuse("memfd_create failed");
    for (size_t done = 0; done < size;) {
        const ssize_t put = write(fd, static_cast<const char*>(data) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) Misuse("writing an in-memory file failed");
        done += size_t(put);
    }
    lseek(fd, 0, SEEK_SET);
    OpenFiles.insert(fd);
    return fd;
}

int ShimOpenFileCount()
{
    return int(OpenFiles.size());
}

int ShimLiveBlockCount()
{
    return int(LiveBlocks.size());
}

void ShimFailAllocationAfter(int successes)
{
    AllocationsUntilFailure = successes;
}

void ShimFailReadAfter(int successes)
{
    ReadsUntilFailure = successes;
}

void ShimSetAllocationLimit(size_t bytes)
{
    AllocationLimit = bytes;
}

size_t ShimLargestRequest()
{
    return LargestRequest;
}

void ShimSetFillPattern(bool on)
{
    FillPattern = on;
}

void ShimReset()
{
    AllocationsUntilFailure = -1;
    ReadsUntilFailure = -1;
    AllocationLimit = size_t(1) << 30;
    LargestRequest = 0;
    FillPattern = true;
}
