#pragma once

// Window geometry is designed in twips (1/1440 inch). At 96 dots per inch a
// pixel is 15 twips; Qt applies the screen's device-pixel ratio itself, so
// layout code converts with this one function and nothing else.

namespace kivra {

inline constexpr int kTwipsPerPixel = 15;

// Truncates like integer division for non-negative values; every layout value
// used by the windows is a multiple of 15, so no rounding is lost.
constexpr int TwipsToPixels(int twips) { return twips / kTwipsPerPixel; }

constexpr int PixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }

}  // namespace kivra
