#pragma once
// A song held apart from the program's song: what the MIDI file reader builds before the file is
// accepted, what the MIDI file writer encodes, and what the history keeps of a replaced song.

#include "musicmaker/song.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kivra {

struct SongData {
    std::vector<SongTrack> Tracks;  // each with exactly NumSteps steps
    int NumSteps = 0;
    int Tempo = 120;       // beats per minute
    int NotesPerBeat = 4;  // steps per beat
    std::array<std::uint8_t, 16> ChannelPatch{};
    std::uint16_t PatchSet = 0;  // bit c: ChannelPatch[c] is part of this song (read from a file)
};

// What the writer reads: a view, so that exporting the program's song copies nothing.
struct SongSource {
    std::span<const SongTrack> Tracks;
    int NumSteps = 0;
    int Tempo = 120;
    int NotesPerBeat = 4;
    std::array<std::uint8_t, 16> ChannelPatch{};
};

SongSource SourceOf(const SongData& song);
// The program's song (g_Tracks, g_lNumSteps, ...); valid until the song changes.
SongSource CurrentSong();

// Replaces the program's song, as one change the user can undo: tracks, length, tempo, notes per
// beat, and the instruments of the channels in PatchSet (the others keep theirs). The cursor and
// the current track go to 0 and g_lLastStep to 0 for every track, so no entry points outside the
// new song. The song counts as unchanged afterwards.
void ApplySong(SongData&& song);

}  // namespace kivra
