#pragma once
// Inside the song's door: the changes the history records, each holding only what it changes
// (a range of steps, a setting, the tail of the track list), except whole-song replacements.

#include "musicmaker/songops.h"

#include <cstddef>
#include <variant>
#include <vector>

namespace kivra {

struct CursorAt {
    int track = 0, step = 0;
};

// Steps [first, first + before.size()) of `track` become `after`; every track is then sized to
// the new length (steps added at the end are empty, steps dropped at the end were empty).
struct StepsEdit {
    int track = 0, first = 0;
    std::vector<SongStep> before, after;
    int lengthBefore = 0, lengthAfter = 0;
    CursorAt cursorBefore, cursorAfter;
    bool chordNote = false;  // a note joining the step the previous recorded note wrote
    bool recorded = false;   // written by recording
};

struct SettingEdit {
    enum Kind { Tempo, NotesPerBeat, Channel, Patch } kind = Tempo;
    int index = 0;  // the track of a channel, the channel of a patch
    int before = 0, after = 0;
    int gesture = 0;
};

// Tracks from `keep` on: while applied, `removed` holds the tracks the change took away; the
// tracks it leaves beyond `keep` are new, empty ones.
struct TracksEdit {
    int keep = 0, countBefore = 0, countAfter = 0;
    std::vector<SongTrack> removed;
    int currentBefore = 0, currentAfter = 0;
    int gesture = 0;
};

// The whole song; applying swaps it with the program's song, so undo and redo cost no copy.
struct WholeEdit {
    SongData song;
    int numTracks = 0, curStep = 0, curTrack = 0;
    bool forgetsLastSteps = true;
};

using SongEdit = std::variant<StepsEdit, SettingEdit, TracksEdit, WholeEdit>;

// Records `edit` in the history and applies it; `bytes` is about what it holds.
void Commit(SongEdit&& edit, std::size_t bytes);
// Applies `edit` without recording it (the first song of the run).
void ApplyUnrecorded(SongEdit&& edit);

// Puts the cursor on `step` of `track`, the selection's other end on `anchor`.
void PlaceCursor(int track, int step, int anchor);
void Notify(const SongChange& change);

std::size_t StepsBytes(const std::vector<SongStep>& steps);
std::size_t TracksBytes(const std::vector<SongTrack>& tracks, std::size_t from = 0);

}  // namespace kivra
