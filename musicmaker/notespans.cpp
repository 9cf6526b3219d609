#include "musicmaker/notespans.h"

#include <algorithm>
#include <span>

namespace kivra {

namespace {

// The notes of a step, or none when the step lies outside the song or the track.
std::span<const std::uint8_t> NotesOf(const SongTrack& track, int numSteps, int step) {
    if (step < 0 || step >= numSteps || step >= static_cast<int>(track.Steps.size())) return {};
    const SongStep& s = track.Steps[static_cast<std::size_t>(step)];
    return {s.Notes.data(), std::min<std::size_t>(s.NoteCount, s.Notes.size())};
}

}  // namespace

void AppendNoteChanges(const SongTrack& track, int numSteps, int first, int end, bool releaseAtEnd, int& lastStep,
                       std::vector<NoteChange>& out) {
    auto release = [&](int at) {
        for (std::uint8_t note : NotesOf(track, numSteps, lastStep)) out.push_back({at, note, false});
    };
    const int stop = std::min({end, numSteps, static_cast<int>(track.Steps.size())});
    for (int s = std::max(first, 0); s < stop; ++s) {
        const std::uint8_t type = track.Steps[static_cast<std::size_t>(s)].StepType;
        if (type != StepNotes && type != StepBreak) continue;
        release(s);
        if (type == StepBreak) continue;
        const auto notes = NotesOf(track, numSteps, s);
        for (std::uint8_t note : notes) out.push_back({s, note, true});
        if (!notes.empty()) lastStep = s;
    }
    if (releaseAtEnd) release(end);
}

}  // namespace kivra
