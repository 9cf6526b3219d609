#include "musicmaker/notespans.h"

#include <algorithm>

namespace kivra {

namespace {

// The step's notes that sound, or null when the step lies outside the song or the track.
const NoteList* NotesOf(const SongTrack& track, int numSteps, int step, std::size_t& count) {
    count = 0;
    if (step < 0 || step >= numSteps || step >= static_cast<int>(track.Steps.size())) return nullptr;
    const SongStep& s = track.Steps[static_cast<std::size_t>(step)];
    count = std::min<std::size_t>(s.NoteCount, s.Notes.size());
    return &s.Notes;
}

}  // namespace

void AppendNoteChanges(const SongTrack& track, int numSteps, int first, int end, bool releaseAtEnd, int& lastStep,
                       std::vector<NoteChange>& out) {
    auto release = [&](int at) {
        std::size_t count;
        if (const NoteList* notes = NotesOf(track, numSteps, lastStep, count))
            for (std::size_t k = 0; k < count; ++k) out.push_back({at, (*notes)[k], false});
    };
    const int stop = std::min({end, numSteps, static_cast<int>(track.Steps.size())});
    for (int s = std::max(first, 0); s < stop; ++s) {
        const std::uint8_t type = track.Steps[static_cast<std::size_t>(s)].StepType;
        if (type != StepNotes && type != StepBreak) continue;
        release(s);
        if (type == StepBreak) continue;
        std::size_t count;
        const NoteList* notes = NotesOf(track, numSteps, s, count);
        // Kept to 1..127 whatever a step holds: a velocity of 0 would be a release.
        for (std::size_t k = 0; k < count; ++k)
            out.push_back({s, (*notes)[k], true, std::clamp<std::uint8_t>(notes->Velocities()[k], 1, 127)});
        if (count > 0) lastStep = s;
    }
    if (releaseAtEnd) release(end);
}

}  // namespace kivra
