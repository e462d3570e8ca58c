// The menu's client area as the menu itself paints it, whatever covers its
// window on the screen: the menu is asked to print itself (background,
// splash picture and buttons) into a bitmap, in its own process, by a
// library of the build loaded into it (tests/fixtures/client_print.cpp).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class MenuProcess;

struct MenuPicture {
    LONG width = 0;
    LONG height = 0;
    std::vector<DWORD> pixels; // 0x00RRGGBB, top row first
    std::string failure;       // why there is no picture, or ""

    // The colour at a client point; CLR_INVALID outside the picture.
    COLORREF At(int x, int y) const;
};

// Copies the running menu's client area once; waits for the copy ten
// seconds at most.
MenuPicture PrintMenuClientArea(const MenuProcess& menu);
