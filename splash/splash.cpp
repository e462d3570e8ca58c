// The splash presenter: reads "autorun.bmp" once at start-up into the
// process-wide picture record and prepares a DrawDib instance for it, then
// draws the picture's top-left 480 by 360 pixels at the client area's origin
// on every paint. The picture is optional; without it nothing is drawn and the
// window's black background shows. The record holds the block, locked, and the
// DrawDib instance for the rest of the process; neither is ever released.
#include "splash.h"

#include <vfw.h>

#include "dib_reader.h"

namespace {

struct SplashPicture {
    HDRAWDIB drawDib; // painting tests this alone
    HGLOBAL block;
    BITMAPINFOHEADER* header; // the block, locked: header, colour table, pixel bits
};

SplashPicture Splash;

// Returns 1 when DrawDib accepted the picture. A null DrawDib instance is not
// treated specially: it leaves the picture undrawable.
int LoadSplashPicture(const char* fileName, SplashPicture* picture)
{
    HGLOBAL block = LoadDibFile(fileName);
    if (!block) return 0;
    BITMAPINFOHEADER* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (!header) {
        GlobalFree(block);
        return 0;
    }
    picture->drawDib = DrawDibOpen();
    picture->block = block;
    picture->header = header;
    return DrawDibBegin(picture->drawDib, nullptr, -1, -1, header, -1, -1, 0) ? 1 : 0;
}

} // namespace

int LoadSplash()
{
    return LoadSplashPicture("autorun.bmp", &Splash);
}

// The destination takes the picture's own size; with no bits pointer DrawDib
// finds the bits in the block right after the colour table.
int PaintSplash(HDC dc)
{
    if (!Splash.drawDib) return 0;
    DrawDibDraw(Splash.drawDib, dc, 0, 0, -1, -1, Splash.header, nullptr, 0, 0, 480, 360, 0);
    return 1;
}
