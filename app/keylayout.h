#pragma once

// Where each of the 128 piano keys sits, in twips, relative to the piano area
// (the container that holds the keys). Shared by the piano window and the key
// configuration window, which draw the same keyboard.

#include <array>

#include "widgets/twips.h"

namespace kivra {

struct KeyRect {
    int left;    // twips
    int top;     // twips
    int width;   // twips
    int height;  // twips
};

inline constexpr int kWhiteKeyWidth = 375;
inline constexpr int kWhiteKeyHeight = 855;
inline constexpr int kBlackKeyWidth = 255;
inline constexpr int kBlackKeyHeight = 495;
inline constexpr int kOctaveWidth = 2520;  // seven white keys, 360 apart
inline constexpr int kKeyRowMargin = 120;  // left margin of every row

// Left edge of each pitch class within its octave, C = 0 .. B = 11.
inline constexpr std::array<int, 12> kKeyOffsets = {0,    240,  360,  600,  720,  1080,
                                                    1320, 1440, 1680, 1800, 2040, 2160};

struct KeyRow {
    int top;        // twips
    int firstNote;  // lowest note of the row
    int lastNote;   // highest note of the row, inclusive
};

// Highest notes on top.
inline constexpr std::array<KeyRow, 3> kKeyRows = {{
    {120, 96, 127},
    {1080, 48, 95},
    {2040, 0, 47},
}};

// True for C#, D#, F#, G# and A#.
constexpr bool IsBlackKeyNote(int note) {
    const int s = ((note % 12) + 12) % 12;
    return s == 1 || s == 3 || s == 6 || s == 8 || s == 10;
}

// Row index into kKeyRows for a note 0..127 (0 = top row).
constexpr int KeyRowOf(int note) {
    if (note >= kKeyRows[0].firstNote) return 0;
    if (note >= kKeyRows[1].firstNote) return 1;
    return 2;
}

// Rectangle of key `note` (0..127) in twips.
constexpr KeyRect KeyRectTwips(int note) {
    const KeyRow& row = kKeyRows[static_cast<std::size_t>(KeyRowOf(note))];
    const int k = (note - row.firstNote) / 12;
    const int s = note % 12;
    const bool black = IsBlackKeyNote(note);
    return KeyRect{kKeyRowMargin + kOctaveWidth * k + kKeyOffsets[static_cast<std::size_t>(s)], row.top,
                   black ? kBlackKeyWidth : kWhiteKeyWidth, black ? kBlackKeyHeight : kWhiteKeyHeight};
}

// The same rectangle in pixels.
constexpr KeyRect KeyRectPixels(int note) {
    const KeyRect t = KeyRectTwips(note);
    return KeyRect{TwipsToPixels(t.left), TwipsToPixels(t.top), TwipsToPixels(t.width),
                   TwipsToPixels(t.height)};
}

static_assert(KeyRectTwips(60).left == 120 + 2520 && KeyRectTwips(60).top == 1080);
static_assert(KeyRectTwips(127).left == 120 + 2520 * 2 + 1440);

}  // namespace kivra
