// Coverage-guided fuzzing of the bitmap reader (libFuzzer, with AddressSanitizer
// and UndefinedBehaviorSanitizer): each input is served as an open file and
// read through the handle form twice, with the menu's corner of 480 by 360 and
// with a small one (which cuts most inputs), and every block that comes back
// must be sound and uncompressed. Beyond a sanitizer report, a leaked block, a
// file left open, an unsound block or a read that asks for more memory than
// its corner and the input are findings too.
#include "splash/dib_reader.h"
#include "splash/splash_size.h"

#include "packed_dib_check.h"
#include "win32_shim.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Huge stated sizes would otherwise spend the run allocating and
    // zero-filling; a 32-bit process gets far less than the stand-in's default.
    ShimSetAllocationLimit(16 << 20);
    return 0;
}

namespace {

void CheckAndFree(HGLOBAL block)
{
    if (!block) return;
    if (const char* fault = PackedDibFault(block)) {
        fprintf(stderr, "unsound block: %s\n", fault);
        abort();
    }
    GlobalFree(block);
}

// Rows of at most 4 bytes a pixel, a colour table and the input itself.
void ReadCorner(const uint8_t* data, size_t size, LONG width, LONG height)
{
    const size_t limit = 124 + 4 * 65535 + size_t(width) * 4 * height + size;
    ShimReset();
    ShimSetAllocationLimit(16 << 20);
    const HFILE file = ShimOpenMemoryFile(data, size);
    CheckAndFree(LoadDibFile(file, width, height));
    _lclose(file);
    if (ShimLargestRequest() > limit) {
        fprintf(stderr, "a %ldx%ld read asked for %zu bytes\n", long(width), long(height),
                ShimLargestRequest());
        abort();
    }
    if (ShimLiveBlockCount() != 0 || ShimOpenFileCount() != 0) {
        fprintf(stderr, "leaked a block or a file\n");
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ReadCorner(data, size, SplashWidth, SplashHeight);
    ReadCorner(data, size, 48, 36);
    return 0;
}
