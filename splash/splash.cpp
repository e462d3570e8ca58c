#include "splash.h"

int LoadSplash()
{
    return 0;
}

int PaintSplash(HDC)
{
    return 0;
}
