// The splash presenter: reads the drawn corner of "autorun.bmp" once at
// start-up into the process-wide picture record and prepares a DrawDib
// instance for it, then draws the picture's top-left 480 by 360 pixels at the
// client area's origin on every paint. The picture is optional; without it,
// or without Video for Windows, nothing is drawn and the window's black
// background shows. The record holds the block, locked, and the DrawDib
// instance for the rest of the process; neither is ever released.
//
// Video for Windows is bound while the menu starts, from the system folder:
// a library of its name beside a copy of the menu is never loaded. The reader
// hands over plain RGB pixels only, so DrawDib never looks for a
// decompressor, which it would load by name.
#include "splash.h"

#include <vfw.h>

#include "dib_reader.h"
#include "splash_size.h"
#include "services/library_loading.h"

namespace {

const LONG DrawnWidth = SplashWidth;
const LONG DrawnHeight = SplashHeight;

typedef decltype(&DrawDibOpen) DrawDibOpenFunction;
typedef decltype(&DrawDibBegin) DrawDibBeginFunction;
typedef decltype(&DrawDibDraw) DrawDibDrawFunction;

struct SplashPicture {
    HDRAWDIB drawDib; // painting tests this alone
    HGLOBAL block;
    BITMAPINFOHEADER* header; // the block, locked: header, colour table, pixel bits
    DrawDibDrawFunction draw;
};

SplashPicture Splash;

// Returns 1 when DrawDib accepted the picture. A null DrawDib instance is not
// treated specially: it leaves the picture undrawable.
int LoadSplashPicture(const char* fileName, SplashPicture* picture)
{
    // The library stays loaded for the rest of the process, as the picture does.
    HMODULE videoForWindows = LoadSystemLibrary("MSVFW32.dll");
    const DrawDibOpenFunction open = BindExport<DrawDibOpenFunction>(videoForWindows, "DrawDibOpen");
    const DrawDibBeginFunction begin = BindExport<DrawDibBeginFunction>(videoForWindows, "DrawDibBegin");
    const DrawDibDrawFunction draw = BindExport<DrawDibDrawFunction>(videoForWindows, "DrawDibDraw");
    if (!open || !begin || !draw) return 0;

    HGLOBAL block = LoadDibFile(fileName, DrawnWidth, DrawnHeight);
    if (!block) return 0;
    BITMAPINFOHEADER* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (!header) {
        GlobalFree(block);
        return 0;
    }
    picture->drawDib = open();
    picture->block = block;
    picture->header = header;
    picture->draw = draw;
    return begin(picture->drawDib, nullptr, -1, -1, header, -1, -1, 0) ? 1 : 0;
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
    Splash.draw(Splash.drawDib, dc, 0, 0, -1, -1, Splash.header, nullptr, 0, 0, DrawnWidth, DrawnHeight, 0);
    return 1;
}
