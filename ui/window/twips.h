#pragma once

#include <QtMath>

namespace orlenta {

// The window's layout is given in twips (1/1440 inch). Qt works in device-independent pixels,
// which are 1/96 inch, so one pixel is 15 twips. This is the one place that converts:
//   TwipsToPixels(120) == 8, TwipsToPixels(400) == 27 (26.67 rounded), TwipsToPixels(-720) == -48
inline constexpr double TwipsPerPixel = 15.0;

inline int TwipsToPixels(double twips) {
    return qRound(twips / TwipsPerPixel);
}

inline double PixelsToTwips(double pixels) {
    return pixels * TwipsPerPixel;
}

}  // namespace orlenta
