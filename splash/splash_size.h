// The splash picture's size: the menu draws the top-left corner of this size
// of autorun.bmp, unscaled, and its window's client area is exactly as large.
// No Windows headers, so that native code (the layout's tests, the disc's
// content check) asks the same owner.
#pragma once

const int SplashWidth = 480;
const int SplashHeight = 360;
