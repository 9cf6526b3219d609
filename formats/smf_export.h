#pragma once
// Standard MIDI File export: the song as a format 1 file, one track chunk per song track, one tick
// per step (step s on tick s + 1), the notes per beat as the division. Nothing here shows or
// prints anything: the caller decides what to tell the user.

#include "musicmaker/songdata.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <vector>

namespace kivra {

struct ExportResult {
    bool ok = false;
    QString message;  // when !ok: what failed, in words a person can read
};

// The bytes of the file. lastStep holds, per track, the step whose notes were started last: the
// writer releases that step's notes before the first event it writes and leaves its own last
// notes step there (an entry that is missing or outside the song names no notes). A tempo other
// than 120 is written as a Set Tempo event at the start of the first track.
std::vector<std::uint8_t> EncodeMIDIFile(const SongSource& song, std::vector<int>& lastStep);

// Writes bytes to sFileName through FileStream's atomic replacement: a regular file (or a new
// name) is replaced whole, flushed to disk first, or left untouched when anything fails. A device
// or pipe is written in place. Every write is checked.
ExportResult WriteFileReplacing(const QString& sFileName, const std::vector<std::uint8_t>& bytes);

// Exports the program's song to sFileName. g_lLastStep is updated, and the song counts as
// unchanged, only when the file was written.
ExportResult ExportMIDIFile(const QString& sFileName);

// The texts the menu shows for the export, in English: translated where they are shown.
inline constexpr const char* kExportTitle = QT_TRANSLATE_NOOP("MidiFiles", "Export to MIDI");
inline constexpr const char* kExportSucceeded = QT_TRANSLATE_NOOP("MidiFiles", "MIDI sucessfully created!");
inline constexpr const char* kExportOpenFailed = QT_TRANSLATE_NOOP("MidiFiles", "Unable to open output file!");

}  // namespace kivra
