// The splash presenter: the menu's background picture, read once from
// "autorun.bmp" and drawn into the top-left corner of the client area.
#pragma once

#include <windows.h>

int LoadSplash();
int PaintSplash(HDC dc);
