#pragma once
// Standard MIDI File import: formats 0 and 1, ours or any program's, into a song value. The reader
// is total: any bytes give either a song or a refusal with a reason a person can read and the
// byte offset where the file went wrong. Nothing here shows or prints anything.
//
// How a file becomes a song:
// - One song track per track chunk ("MTrk"; other chunks are skipped by their length). A track's
//   channel is that of its first Note On (else of its first channel message); the first program
//   change of each channel becomes that channel's instrument; the first Set Tempo the tempo
//   (rounded, kept within 30..240; 120 without one).
// - Steps: a division of 1..255 is the notes per beat, one tick per step. A larger division gets
//   the grid of at most 255 steps per beat that puts the most Note Ons exactly on a step (ties:
//   the smallest largest error, then the coarsest grid); the others go to their nearest step,
//   onsets on distinct ticks kept in distinct steps where the next step is still within one step
//   of the onset. ImportResult::timing says how many moved and how far.
// - Tick t is step t - 1 (our writer puts step s on tick s + 1), unless a note starts on tick 0:
//   then tick t is step t, so no note is lost or merged with the next.
// - Note Ons with a velocity above 0 on one tick form one step (the first 255 of them); a release
//   (Note Off, or Note On with velocity 0) on a step where no note starts is a break. The last
//   event of the file marks the end of the song: it is as long as the last step any event
//   reaches, and at least one step past the last note.

#include "musicmaker/songdata.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace kivra {

// How the file's onsets fit the grid of the song.
struct ImportTiming {
    long long onsets = 0;    // Note Ons placed
    long long moved = 0;     // of them, not exactly on a step
    long long maxError = 0;  // the largest move, in units of 1/errorUnit beat
    long long errorUnit = 1;

    // "" when nothing moved; else e.g. "3 of 40 notes moved to fit 240 steps per beat, by at most 0.5 step."
    QString Describe(int notesPerBeat) const;
};

struct ImportResult {
    std::optional<SongData> song;  // set when the file was accepted
    ImportTiming timing;           // when accepted
    QString reason;                // when refused: what is wrong, in plain words
    long long offset = -1;         // when refused: the byte where it went wrong (-1: none, e.g. unreadable)

    bool Accepted() const { return song.has_value(); }
    // The reason with its offset, e.g. "it is a format 2 file ... (byte 8)".
    QString Describe() const;
};

// Files larger than this are refused before they are read.
inline constexpr long long kMaxMIDIFileBytes = 256LL << 20;
// Songs larger than this are refused rather than allocated (steps of all tracks together).
inline constexpr long long kMaxSongCells = 1LL << 24;
inline constexpr long long kMaxSongSteps = 1LL << 22;

// maxCells: the largest song accepted, in steps of all tracks together (the fuzzer asks for less).
ImportResult ParseMIDIFile(std::span<const std::uint8_t> bytes, long long maxCells = kMaxSongCells);
// Checks the header, then reads the whole file through FileStream (at most kMaxMIDIFileBytes)
// and parses it. Running out of memory is a refusal like any other.
ImportResult ReadMIDIFile(const QString& sFileName);
// Reads sFileName and, only when it is accepted, replaces the program's song with it.
ImportResult ImportMIDIFile(const QString& sFileName);

inline constexpr const char* kImportTitle = QT_TRANSLATE_NOOP("MidiFiles", "Import MIDI");

}  // namespace kivra
