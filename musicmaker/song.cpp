#include "musicmaker/songops.h"
#include "midi/midiio.h"

#include <algorithm>
#include <cmath>

namespace kivra {

namespace {

SongView* g_view = nullptr;

void Refresh() {
    if (g_view) g_view->RefreshCaptions();
}

bool CurrentTrackExists() { return g_lCurTrack >= 0 && g_lCurTrack < static_cast<int>(g_Tracks.size()); }

// The step of the current track that a chord note joins, or null when there is none.
SongStep* StepBeforeCursor() {
    if (!CurrentTrackExists() || g_lCurStep < 1) return nullptr;
    auto& steps = g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Steps;
    const int index = g_lCurStep - 1;
    if (index >= g_lNumSteps || index >= static_cast<int>(steps.size())) return nullptr;
    return &steps[static_cast<std::size_t>(index)];
}

// Writes the step type at the cursor and moves on (InsertBreak, InsertSpace).
void WriteTypeAtCursor(std::uint8_t type) {
    if (!CurrentTrackExists()) return;
    const int index = AdvanceCursor();
    g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Steps[static_cast<std::size_t>(index)].StepType = type;
    g_bSongChanged = true;
    Refresh();
}

}  // namespace

void SetSongView(SongView* view) { g_view = view; }
SongView* GetSongView() { return g_view; }

void ResetSong() {
    g_lNumSteps = 0;
    g_lCurStep = 0;
    g_lCurTrack = 0;
    g_Tracks.clear();
    g_Tracks.shrink_to_fit();
    g_lNumTracks = 0;
    g_lTempo = 120;
    g_lNotesPerBeat = 4;
    g_lLastStep.clear();
    g_bSongChanged = false;
}

void NewSong() {
    ResetSong();
    SetTrackCount(1);
    g_bSongChanged = false;
}

void SetTrackCount(int lCount) {
    lCount = std::max(lCount, 0);
    const auto count = static_cast<std::size_t>(lCount);
    if (lCount != g_lNumTracks) g_bSongChanged = true;
    g_lNumTracks = lCount;
    g_Tracks.resize(count);
    g_lLastStep.resize(count, 0);
    if (g_lNumSteps > 0) {
        for (auto& track : g_Tracks) track.Steps.resize(static_cast<std::size_t>(g_lNumSteps));
    }
    if (g_lCurTrack >= lCount) g_lCurTrack = std::max(lCount - 1, 0);
}

void SetStepCount(int lCount) {
    lCount = std::max(lCount, 0);
    if (lCount != g_lNumSteps) g_bSongChanged = true;
    g_lNumSteps = lCount;
    if (lCount > 0) {
        for (auto& track : g_Tracks) track.Steps.resize(static_cast<std::size_t>(lCount));
    }
}

int AdvanceCursor() {
    // A cursor left negative (nothing should leave it so) restarts at the first step.
    g_lCurStep = std::max(g_lCurStep, 0) + 1;
    if (g_lCurStep >= g_lNumSteps) {
        g_lNumSteps = g_lCurStep + 1;
        for (auto& track : g_Tracks) track.Steps.resize(static_cast<std::size_t>(g_lNumSteps));
    }
    return g_lCurStep - 1;
}

void RecordNote(int lNote) {
    if (!CurrentTrackExists()) return;
    // A note that starts while another is held joins the step before the cursor; without such a
    // step (cursor at 0) it opens a new step like a single note.
    SongStep* step = g_lNotesDown > 1 ? StepBeforeCursor() : nullptr;
    if (!step) {
        const int index = AdvanceCursor();
        step = &g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Steps[static_cast<std::size_t>(index)];
        step->NoteCount = 0;
    }
    // NoteCount is 8 bits wide: a 256th note sounds but is not stored.
    if (step->NoteCount < 255) {
        const std::size_t count = step->NoteCount + 1u;
        step->NoteCount = static_cast<std::uint8_t>(count);
        step->Notes.resize(count);
        step->StepType = StepNotes;
        step->Notes[count - 1] = static_cast<std::uint8_t>(lNote);
        g_bSongChanged = true;
    }
    Refresh();
}

void InsertBreak() { WriteTypeAtCursor(StepBreak); }
void InsertSpace() { WriteTypeAtCursor(StepEmpty); }

void DeleteStepAtCursor() {
    if (!CurrentTrackExists() || g_lCurStep < 1) return;
    --g_lCurStep;
    auto& steps = g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Steps;
    if (g_lCurStep < g_lNumSteps && g_lCurStep < static_cast<int>(steps.size())) {
        // Cleared whole, so a later chord note cannot bring the deleted notes back.
        steps[static_cast<std::size_t>(g_lCurStep)] = SongStep{};
        g_bSongChanged = true;
    }
    Refresh();
}

const SongStep* StepAt(int track, int step) {
    if (track < 0 || track >= static_cast<int>(g_Tracks.size()) || step < 0 || step >= g_lNumSteps) return nullptr;
    const auto& steps = g_Tracks[static_cast<std::size_t>(track)].Steps;
    if (step >= static_cast<int>(steps.size())) return nullptr;
    return &steps[static_cast<std::size_t>(step)];
}

QString StepCaption(const SongStep& step) {
    switch (step.StepType) {
    case StepEmpty:
        return QStringLiteral(" ");
    case StepBreak:
        return QStringLiteral("-");
    case StepNotes: {
        QString text;
        const std::size_t count = std::min<std::size_t>(step.NoteCount, step.Notes.size());
        for (std::size_t k = 0; k < count; ++k) {
            text += QString::number(step.Notes[k]);
            text += QLatin1Char(' ');
        }
        return text;
    }
    default:
        // Kept as a blank row so that rows and steps stay lined up.
        return QString();
    }
}

int PlayInterval(int notesPerBeat, int tempo) {
    const int product = notesPerBeat * tempo;
    if (product <= 0) return 1;
    // nearbyint under the default rounding mode sends halves to the even neighbour.
    return std::max(1, static_cast<int>(std::nearbyint(60000.0 / product)));
}

}  // namespace kivra
