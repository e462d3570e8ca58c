// Window and button geometry; see layout.h. All arithmetic is signed 32-bit
// and every division truncates, except the centring, which halves with an
// arithmetic shift and so rounds toward negative infinity (-5 gives -3).
#include "layout.h"

#include "splash/splash_size.h"

namespace {

const int ClientWidth = SplashWidth;
const int ClientHeight = SplashHeight;
const int StackedWidthInChars = 36;

int HalveRoundingDown(int value)
{
    return value >> 1;
}

} // namespace

WindowGeometry ComputeWindowGeometry(int cxDlgFrame, int cyDlgFrame, int cyCaption, int cxFullScreen,
                                     int cyFullScreen)
{
    WindowGeometry geometry;
    geometry.width = ClientWidth + 2 * cxDlgFrame;
    geometry.height = ClientHeight + 2 * cyDlgFrame + cyCaption;
    geometry.x = HalveRoundingDown(cxFullScreen - geometry.width);
    geometry.y = HalveRoundingDown(cyFullScreen - geometry.height);
    return geometry;
}

ButtonRect ComputeButtonRect(int anchor, int widthInChars, int lineHeight, int charWidth, int windowWidth,
                             int windowHeight, int stackCount)
{
    ButtonRect rect = {0, 0, 0, 0};
    const int height = (7 * lineHeight) / 4;
    switch (anchor) {
    case AnchorBottomLeft:
        rect.x = 2 * charWidth;
        rect.y = windowHeight - 3 * height;
        break;
    case AnchorBottomRight:
        rect.x = windowWidth - 15 * charWidth;
        rect.y = windowHeight - 3 * height;
        break;
    case AnchorStacked:
        // The stack is always centred on a 36-character column, whatever the
        // entry's own width.
        rect.x = windowWidth / 2 - (StackedWidthInChars * charWidth) / 2;
        rect.y = windowHeight - 2 * lineHeight * stackCount;
        break;
    }
    rect.width = widthInChars * charWidth;
    rect.height = height;
    return rect;
}
