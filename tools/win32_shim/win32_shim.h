// Controls of the native Win32 stand-in, which the disc's content check runs
// the bitmap reader over, as do the reader's tests, fuzz target and benchmark:
// in-memory files, counts of what is still open or allocated (to find leaks),
// and failures injected into allocations and reads.
#pragma once

#include <windows.h>

// A read-only file holding a copy of the bytes, positioned at its start; close
// it with _lclose.
HFILE ShimOpenMemoryFile(const void* data, size_t size);

// Files opened and not yet closed, and global blocks allocated and not yet freed.
int ShimOpenFileCount();
int ShimLiveBlockCount();

// The next `successes` calls succeed and the one after fails; -1 never fails.
// Allocations count GlobalAlloc and GlobalReAlloc, reads _lread and _hread.
void ShimFailAllocationAfter(int successes);
void ShimFailReadAfter(int successes);

// Allocations larger than this fail, as they would in a 32-bit process.
void ShimSetAllocationLimit(size_t bytes);

// The most bytes one allocation or re-size asked for since the last reset,
// whether it was granted or not.
size_t ShimLargestRequest();

// New and grown memory is filled with 0xCD unless GMEM_ZEROINIT asks for
// zeros, so that bytes nobody wrote stand out; benchmarks turn it off.
void ShimSetFillPattern(bool on);
const BYTE ShimFillByte = 0xCD;

// Back to the defaults: no injected failures, fill pattern on, limit 1 GiB,
// nothing asked for yet.
void ShimReset();
