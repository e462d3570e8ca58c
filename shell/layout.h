// Window and button geometry of the menu: plain integer arithmetic, no Windows
// headers, so that it builds and is tested natively. The shell measures the
// system metrics and the font, these functions compute, and the shell applies.
#pragma once

struct WindowGeometry {
    int width; // outer size, frame and caption included
    int height;
    int x; // centred position
    int y;
};

// The client area is always the size of the splash picture (splash_size.h); the
// window is centred in the area a full-screen window would have.
WindowGeometry ComputeWindowGeometry(int cxDlgFrame, int cyDlgFrame, int cyCaption, int cxFullScreen,
                                     int cyFullScreen);

enum ButtonAnchor { AnchorBottomLeft = 0, AnchorBottomRight = 1, AnchorStacked = 2 };

struct ButtonRect {
    int x;
    int y;
    int width;
    int height;
};

// Place a button from its anchor kind and the metrics of the fixed font
// (lineHeight = tmHeight + tmExternalLeading, charWidth = tmAveCharWidth).
// stackCount is the stack count after it has been raised for this button; it
// only matters for AnchorStacked.
ButtonRect ComputeButtonRect(int anchor, int widthInChars, int lineHeight, int charWidth, int windowWidth,
                             int windowHeight, int stackCount);
