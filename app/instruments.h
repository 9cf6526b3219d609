#pragma once
// The instrument catalogue: the first 56 General MIDI programs under seven headings, in the
// order the instrument list shows them. Data only; the piano window fills its list from it.

#include <QString>

#include <array>

namespace kivra {

inline constexpr int kNoPatch = -1;    // heading rows carry no patch
inline constexpr int kNoPicture = 0;   // picture index 0 shows nothing

struct InstrumentRow {
    const char* text;
    int patch;    // General MIDI program 0..55, or kNoPatch for a heading
    int picture;  // group picture 1..6, or kNoPicture
    constexpr bool IsHeading() const { return patch == kNoPatch; }
    constexpr int Indentation() const { return IsHeading() ? 0 : 1; }
};

inline constexpr int kInstrumentRowCount = 63;
inline constexpr int kGroupPictureCount = 6;

const std::array<InstrumentRow, kInstrumentRowCount>& InstrumentCatalogue();

// Data-folder file of group picture 1..6 ("icons/group-piano.svg"); empty for any other index.
const char* GroupPictureFile(int picture);

// What the instrument list shows for `row`: a heading in the user's language, a program by its General MIDI name.
QString InstrumentText(const InstrumentRow& row);

// 0-based row of the first instrument row carrying `patch`, or -1 when none does.
int InstrumentRowOfPatch(int patch);

}  // namespace kivra
