#pragma once
// The song model: one song for the whole run, a grid of steps several tracks wide.
// Read anywhere on the UI thread; written only through the operations of songops.h, which record
// each change in the history and tell the views what changed. Playback alone moves g_lCurStep and
// g_lLastStep itself, as its transport.

#include <array>
#include <cstdint>
#include <vector>

namespace kivra {

enum StepKind : std::uint8_t { StepEmpty = 0, StepNotes = 1, StepBreak = 2 };

struct SongStep {
    std::uint8_t StepType = StepEmpty;
    std::uint8_t NoteCount = 0;
    std::vector<std::uint8_t> Notes;  // note numbers in recorded order; may keep stale notes under a break
};

struct SongTrack {
    std::uint8_t Channel = 0;
    std::vector<SongStep> Steps;  // exactly g_lNumSteps entries whenever g_lNumSteps > 0
};

inline int g_lNumTracks = 0;
inline std::array<std::uint8_t, 16> g_bytChannelPatch{};  // instrument per MIDI channel
inline std::vector<SongTrack> g_Tracks;
inline int g_lTempo = 120;         // beats per minute, 30..240
inline int g_lNotesPerBeat = 4;    // steps per beat, 1..255
inline int g_lCurStep = 0;
inline int g_lNumSteps = 0;
inline int g_lCurTrack = 0;
inline std::vector<int> g_lLastStep;  // per track: step whose notes were started last

}  // namespace kivra
