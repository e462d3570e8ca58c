// See menu_picture.h. The block and the event are named after the menu's
// process; both go with their last handle, so nothing stays behind.
#include "harness/menu_picture.h"

#include "harness/menu_process.h"
#include "harness/program_under_test.h"
#include "tests/fixtures/client_print.h"

COLORREF MenuPicture::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
    const DWORD pixel = pixels[static_cast<size_t>(y) * width + x];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

MenuPicture PrintMenuClientArea(const MenuProcess& menu)
{
    MenuPicture picture;
    const std::string processId = std::to_string(GetProcessId(menu.Process()));
    const size_t size = sizeof(ClientPrint) + ClientPrintCapacity * sizeof(DWORD);
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(size), (ClientPrintBlockName + processId).c_str());
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, (ClientPrintDoneName + processId).c_str());
    const ClientPrint* print =
        block ? static_cast<const ClientPrint*>(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    if (!print || !done)
        picture.failure = "no block or event for the copy, error " + std::to_string(GetLastError());
    else if (!menu.Inject(BuildFile("client_print.dll")))
        picture.failure = "client_print.dll did not load into the menu: " + menu.Describe();
    else if (WaitForSingleObject(done, 10000) != WAIT_OBJECT_0)
        picture.failure = "the menu's client area was not copied within 10 s: " + menu.Describe();
    else if (print->width <= 0 || print->height <= 0)
        picture.failure = "the menu had no window to copy: " + menu.Describe();
    if (picture.failure.empty()) {
        picture.width = print->width;
        picture.height = print->height;
        const DWORD* pixels = ClientPrintPixels(print);
        picture.pixels.assign(pixels, pixels + static_cast<size_t>(print->width) * print->height);
    }
    if (print) UnmapViewOfFile(print);
    if (block) CloseHandle(block);
    if (done) CloseHandle(done);
    return picture;
}
