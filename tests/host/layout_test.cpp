// Window geometry and button placement, table-driven.
#include "shell/layout.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(WindowGeometry, SizeAndCentredPosition)
{
    struct Case {
        const char* name;
        int cxFrame, cyFrame, cyCaption, cxFull, cyFull;
        int width, height, x, y;
    } cases[] = {
        {"typical metrics", 3, 3, 19, 1024, 742, 486, 385, 269, 178},
        {"odd difference rounds down", 3, 3, 19, 1025, 743, 486, 385, 269, 179},
        {"negative difference of -5 gives -3", 3, 3, 19, 481, 380, 486, 385, -3, -3},
        {"negative even difference", 3, 3, 19, 482, 381, 486, 385, -2, -2},
        {"no frame, no caption", 0, 0, 0, 480, 360, 480, 360, 0, 0},
        {"thick frame", 4, 4, 23, 1920, 1040, 488, 391, 716, 324},
    };
    for (const Case& c : cases) {
        const WindowGeometry g = ComputeWindowGeometry(c.cxFrame, c.cyFrame, c.cyCaption, c.cxFull, c.cyFull);
        EXPECT_EQ(std::tie(g.width, g.height, g.x, g.y), std::tie(c.width, c.height, c.x, c.y)) << c.name;
    }
}

TEST(ButtonLayout, Placement)
{
    struct Case {
        const char* name;
        int anchor, widthInChars, lineHeight, charWidth, windowWidth, windowHeight, stackCount;
        ButtonRect expected;
    } cases[] = {
        {"Exit, first stacked", AnchorStacked, 36, 16, 8, 486, 385, 2, {99, 321, 288, 28}},
        {"second stacked, 4 pixels above", AnchorStacked, 36, 16, 8, 486, 385, 3, {99, 289, 288, 28}},
        {"third stacked", AnchorStacked, 36, 16, 8, 486, 385, 4, {99, 257, 288, 28}},
        {"h = 15 truncates the height to 26", AnchorStacked, 36, 15, 8, 486, 385, 2, {99, 325, 288, 26}},
        {"bottom left, h = 15", AnchorBottomLeft, 10, 15, 8, 486, 385, 7, {16, 307, 80, 26}},
        {"bottom right, h = 15", AnchorBottomRight, 12, 15, 7, 486, 385, 7, {381, 307, 84, 26}},
        {"stacked column fixed at 36 chars", AnchorStacked, 20, 16, 8, 486, 385, 2, {99, 321, 160, 28}},
        {"odd window width truncates", AnchorStacked, 36, 16, 7, 487, 385, 2, {117, 321, 252, 28}},
    };
    for (const Case& c : cases) {
        const ButtonRect r = ComputeButtonRect(c.anchor, c.widthInChars, c.lineHeight, c.charWidth,
                                               c.windowWidth, c.windowHeight, c.stackCount);
        const ButtonRect& e = c.expected;
        EXPECT_EQ(std::tie(r.x, r.y, r.width, r.height), std::tie(e.x, e.y, e.width, e.height)) << c.name;
    }
}

} // namespace
