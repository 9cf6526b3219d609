#include "app/instruments.h"

#include <QCoreApplication>

namespace kivra {
namespace {

constexpr std::array<InstrumentRow, kInstrumentRowCount> kCatalogue = {{
    {QT_TRANSLATE_NOOP("Instruments", "(Pianos)"), kNoPatch, kNoPicture},
    {"Acoustic Grand Piano", 0, 1},
    {"Bright Acoustic Piano", 1, 1},
    {"Electric Grand Piano", 2, 1},
    {"Honky-Tonk Piano", 3, 1},
    {"Electric Piano 1", 4, 1},
    {"Electric Piano 2", 5, 1},
    {"Harpsichord", 6, 1},
    {"Clavi", 7, 1},
    {QT_TRANSLATE_NOOP("Instruments", "(Chromatic Percussion)"), kNoPatch, kNoPicture},
    {"Celesta", 8, 2},
    {"Glockenspiel", 9, 2},
    {"Music Box", 10, 2},
    {"Vibraphone", 11, 2},
    {"Marimba", 12, 2},
    {"Xylophone", 13, 2},
    {"Tubular Bells", 14, 2},
    {"Dulcimer", 15, 2},
    {QT_TRANSLATE_NOOP("Instruments", "(Organs)"), kNoPatch, kNoPicture},
    {"Drawbar Organ", 16, 3},
    {"Percussive Organ", 17, 3},
    {"Rock Organ", 18, 3},
    {"Church Organ", 19, 3},
    {"Reed Organ", 20, 3},
    {"Accordion", 21, 3},
    {"Harmonica", 22, 3},
    {"Tango Accordion", 23, 3},
    {QT_TRANSLATE_NOOP("Instruments", "(Guitars)"), kNoPatch, kNoPicture},
    {"Acoustic Guitar (Nylon)", 24, 4},
    {"Acoustic Guitar (Steel)", 25, 4},
    {"Electric Guitar (Jazz)", 26, 4},
    {"Electric Guitar (Clean)", 27, 4},
    {"Electric Guitar (Muted)", 28, 4},
    {"Overdriven Guitar", 29, 4},
    {"Distortion Guitar", 30, 4},
    {"Guitar Harmonics", 31, 4},
    {QT_TRANSLATE_NOOP("Instruments", "(Basses)"), kNoPatch, kNoPicture},
    {"Acoustic Bass", 32, 5},
    {"Electric Bass (Finger)", 33, 5},
    {"Electric Bass (Pick)", 34, 5},
    {"Fretless Bass", 35, 5},
    {"Slap Bass 1", 36, 5},
    {"Slap Bass 2", 37, 5},
    {"Synth Bass 1", 38, 5},
    {"Synth Bass 2", 39, 5},
    {QT_TRANSLATE_NOOP("Instruments", "(Strings)"), kNoPatch, kNoPicture},
    {"Violin", 40, 6},
    {"Viola", 41, 6},
    {"Cello", 42, 6},
    {"Contrabass", 43, 6},
    {"Tremolo Strings", 44, 6},
    {"Pizzicato Strings", 45, 6},
    {"Orchestral Harp", 46, 6},
    {"Timpani", 47, 6},
    // The ensemble instruments are indented like the others but carry no picture.
    {QT_TRANSLATE_NOOP("Instruments", "(Ensemble)"), kNoPatch, kNoPicture},
    {"String Ensemble 1", 48, kNoPicture},
    {"String Ensemble 2", 49, kNoPicture},
    {"Synth Strings 1", 50, kNoPicture},
    {"Synth Strings 2", 51, kNoPicture},
    {"Choir Aahs", 52, kNoPicture},
    {"Voice Oohs", 53, kNoPicture},
    {"Synth Voice", 54, kNoPicture},
    {"Orchestra Hit", 55, kNoPicture},
}};

constexpr std::array<const char*, kGroupPictureCount> kGroupPictures = {
    "icons/group-piano.svg", "icons/group-xylophone.svg", "icons/group-organ.svg",
    "icons/group-guitar.svg", "icons/group-bass.svg",     "icons/group-violin.svg"};

}  // namespace

const std::array<InstrumentRow, kInstrumentRowCount>& InstrumentCatalogue() { return kCatalogue; }

const char* GroupPictureFile(int picture) {
    if (picture < 1 || picture > kGroupPictureCount) return "";
    return kGroupPictures[static_cast<std::size_t>(picture - 1)];
}

QString InstrumentText(const InstrumentRow& row) {
    // The program names are the General MIDI standard's, which synthesizers and their manuals show
    // in English everywhere; only the group headings are this program's own words.
    return row.IsHeading() ? QCoreApplication::translate("Instruments", row.text) : QString::fromLatin1(row.text);
}

int InstrumentRowOfPatch(int patch) {
    for (int row = 0; row < kInstrumentRowCount; ++row)
        if (!kCatalogue[static_cast<std::size_t>(row)].IsHeading() && kCatalogue[static_cast<std::size_t>(row)].patch == patch)
            return row;
    return -1;
}

}  // namespace kivra
