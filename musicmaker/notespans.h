#pragma once
// The song as note spans: where each note of a track starts and where it ends, step by step. The
// one reading of the steps shared by playback and the MIDI file writer, so that what plays and
// what a file holds cannot drift apart. Pure functions on a track; no state.

#include "musicmaker/song.h"

#include <cstdint>
#include <vector>

namespace kivra {

// One end of a note span: a note starting at the velocity its step keeps, or a note released.
struct NoteChange {
    int step = 0;  // the step where it happens; the range's end for the releases after it
    std::uint8_t note = 0;
    bool start = false;
    std::uint8_t velocity = 0;  // 1..127 for a start, 0 for a release
    friend bool operator==(const NoteChange&, const NoteChange&) = default;
};

// Appends to `out` the starts and releases of `track` over steps [first, end) of a song numSteps
// long, in the order they sound. A notes step releases the notes of the step the track started
// last, then starts its own (a note in both is released and struck again); a break only
// releases; an empty step changes nothing, so the notes before it sound on. With releaseAtEnd
// the notes still sounding are released at `end` as well.
// lastStep: on entry, the step whose notes the track started last (a step outside the song or
// the track names none); on return, the last notes step of the range, or the entry value.
void AppendNoteChanges(const SongTrack& track, int numSteps, int first, int end, bool releaseAtEnd, int& lastStep,
                       std::vector<NoteChange>& out);

}  // namespace kivra
