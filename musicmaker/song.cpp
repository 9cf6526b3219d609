// The door's operations: each works out what it changes and hands that to the history.
#include "musicmaker/songedit.h"
#include "midi/midiio.h"

#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace kivra {

namespace {

std::vector<SongStep> g_copied;  // the steps Copy and Cut took, notes without a channel
bool g_hasCopied = false;

bool TrackExists(int track) { return track >= 0 && track < static_cast<int>(g_Tracks.size()); }
bool CurrentTrackExists() { return TrackExists(g_lCurTrack); }

// An edit of `count` steps of `track` from `first` (those that exist), the length and the cursor kept.
StepsEdit EditOf(int track, int first, int count) {
    StepsEdit e;
    e.track = track;
    e.first = first;
    const auto& steps = g_Tracks[static_cast<std::size_t>(track)].Steps;
    const auto from = std::min(static_cast<std::size_t>(first), steps.size());
    const auto to = std::min(from + static_cast<std::size_t>(std::max(count, 0)), steps.size());
    e.before.assign(steps.begin() + static_cast<std::ptrdiff_t>(from), steps.begin() + static_cast<std::ptrdiff_t>(to));
    e.lengthBefore = e.lengthAfter = g_lNumSteps;
    e.cursorBefore = e.cursorAfter = {g_lCurTrack, g_lCurStep};
    return e;
}

void CommitSteps(StepsEdit&& e) {
    const std::size_t bytes = StepsBytes(e.before) + StepsBytes(e.after);
    Commit(std::move(e), bytes);
}

// The cursor advance: the edit of the step the cursor names, which the cursor then leaves,
// growing the song so the cursor names an existing step.
StepsEdit Advance() {
    // A cursor left negative (nothing should leave it so) restarts at the first step.
    const int cursor = std::max(g_lCurStep, 0) + 1;
    StepsEdit e = EditOf(g_lCurTrack, cursor - 1, 1);
    e.after = e.before.empty() ? std::vector<SongStep>(1) : e.before;
    e.lengthAfter = std::max(g_lNumSteps, cursor + 1);
    e.cursorAfter = {g_lCurTrack, cursor};
    return e;
}

void WriteTypeAtCursor(std::uint8_t type) {
    if (!CurrentTrackExists()) return;
    StepsEdit e = Advance();
    e.after[0].StepType = type;
    CommitSteps(std::move(e));
}

void CommitWhole(WholeEdit&& e) {
    // The first song of the run replaces nothing the user made.
    if (g_Tracks.empty() && SongHistory().count() == 0) return ApplyUnrecorded(std::move(e));
    const std::size_t bytes = std::max(TracksBytes(e.song.Tracks), TracksBytes(g_Tracks));
    Commit(std::move(e), bytes);
}

WholeEdit EmptySong(int tracks) {
    WholeEdit e;
    e.song.Tracks.resize(static_cast<std::size_t>(tracks));
    e.song.ChannelPatch = g_bytChannelPatch;
    e.numTracks = tracks;
    return e;
}

void CommitSetting(SettingEdit::Kind kind, int index, int before, int after, int gesture) {
    if (before == after) return;
    Commit(SettingEdit{kind, index, before, after, gesture}, 0);
}

}  // namespace

SongSource SourceOf(const SongData& song) {
    return SongSource{song.Tracks, song.NumSteps, song.Tempo, song.NotesPerBeat, song.ChannelPatch};
}

SongSource CurrentSong() {
    const auto count = static_cast<std::size_t>(std::clamp<long long>(g_lNumTracks, 0, static_cast<long long>(g_Tracks.size())));
    return SongSource{std::span<const SongTrack>(g_Tracks.data(), count), std::max(g_lNumSteps, 0), g_lTempo,
                      g_lNotesPerBeat, g_bytChannelPatch};
}

void ApplySong(SongData&& song) {
    WholeEdit e;
    for (std::size_t c = 0; c < 16; ++c)
        if (!(song.PatchSet & (1u << c))) song.ChannelPatch[c] = g_bytChannelPatch[c];
    e.numTracks = static_cast<int>(song.Tracks.size());
    e.song = std::move(song);
    CommitWhole(std::move(e));
    MarkSongSaved();
}

void ResetSong() { CommitWhole(EmptySong(0)); }

void NewSong() {
    WholeEdit e = EmptySong(1);
    CommitWhole(std::move(e));
    MarkSongSaved();
}

void SetTrackCount(int lCount, int gesture) {
    lCount = std::max(lCount, 0);
    const int count = static_cast<int>(g_Tracks.size());
    if (lCount == count) return;
    TracksEdit e;
    e.keep = std::min(lCount, count);
    e.countBefore = count;
    e.countAfter = lCount;
    e.currentBefore = g_lCurTrack;
    e.currentAfter = g_lCurTrack >= lCount ? std::max(lCount - 1, 0) : g_lCurTrack;
    e.gesture = gesture;
    const std::size_t bytes = TracksBytes(g_Tracks, static_cast<std::size_t>(e.keep));
    Commit(std::move(e), bytes);
}

void SetStepCount(int lCount) {
    lCount = std::max(lCount, 0);
    if (lCount == g_lNumSteps) return;
    // Only tests and set-up use this; the whole song is kept, as for a replacement.
    WholeEdit e;
    e.song = {g_Tracks, lCount, g_lTempo, g_lNotesPerBeat, g_bytChannelPatch, 0xFFFF};
    if (lCount > 0)
        for (auto& track : e.song.Tracks) track.Steps.resize(static_cast<std::size_t>(lCount));
    e.numTracks = g_lNumTracks;
    e.curStep = g_lCurStep;
    e.curTrack = g_lCurTrack;
    e.forgetsLastSteps = false;
    CommitWhole(std::move(e));
}

void SetTempo(int lTempo, int gesture) { CommitSetting(SettingEdit::Tempo, 0, g_lTempo, lTempo, gesture); }

void SetNotesPerBeat(int lNotesPerBeat, int gesture) {
    CommitSetting(SettingEdit::NotesPerBeat, 0, g_lNotesPerBeat, lNotesPerBeat, gesture);
}

void SetTrackChannel(int track, int channel, int gesture) {
    if (!TrackExists(track)) return;
    CommitSetting(SettingEdit::Channel, track, g_Tracks[static_cast<std::size_t>(track)].Channel, channel & 15, gesture);
}

void SetChannelPatch(int channel, int patch) {
    if (channel < 0 || channel > 15) return;
    CommitSetting(SettingEdit::Patch, channel, g_bytChannelPatch[static_cast<std::size_t>(channel)], patch & 127, 0);
}

namespace {

// Steps [first, first + count) of `track` become `steps`, the cursor goes after them.
StepsEdit SpliceEdit(int track, int first, int count, std::vector<SongStep> steps) {
    StepsEdit e = EditOf(track, first, count);
    e.after = std::move(steps);
    const int removed = static_cast<int>(e.before.size()), added = static_cast<int>(e.after.size());
    e.lengthAfter = std::max(g_lNumSteps, first + removed) - removed + added;
    if (removed > added) {
        // The steps that then end every track, if empty, go: the track's own end is filled with
        // empty steps, and the other tracks keep their length only for steps that hold something.
        const auto& own = g_Tracks[static_cast<std::size_t>(track)].Steps;
        const int end = g_lNumSteps;
        int dropped = 0;
        for (int p = end - 1; dropped < removed - added && p >= 0; --p, ++dropped) {
            const int from = p < first + added ? (p < first ? p : -1) : p - added + removed;
            const bool ownBlank = from < 0 ? BlankStep(e.after[static_cast<std::size_t>(p - first)])
                                           : from >= end || from >= static_cast<int>(own.size()) || BlankStep(own[static_cast<std::size_t>(from)]);
            const bool othersBlank = std::all_of(g_Tracks.begin(), g_Tracks.end(), [&](const SongTrack& t) {
                return &t == &g_Tracks[static_cast<std::size_t>(track)] || p >= static_cast<int>(t.Steps.size()) ||
                       BlankStep(t.Steps[static_cast<std::size_t>(p)]);
            });
            if (!ownBlank || !othersBlank) break;
        }
        e.lengthAfter = end - dropped;
    }
    e.cursorAfter = {track, first + added};
    return e;
}

}  // namespace

void ReplaceSteps(int track, int first, int count, std::vector<SongStep> steps) {
    if (TrackExists(track) && first >= 0 && count >= 0) CommitSteps(SpliceEdit(track, first, count, std::move(steps)));
}

void SetCursor(int track, int step) {
    PlaceCursor(track, step, step);
    Notify({SongChange::Cursor, -1, 0, 0});
}

void ExtendSelection(int step) {
    PlaceCursor(g_lCurTrack, step, SelectionAnchor());
    Notify({SongChange::Cursor, -1, 0, 0});
}

StepRange SelectedSteps() {
    if (!CurrentTrackExists()) return {g_lCurTrack, 0, 0};
    const int anchor = SelectionAnchor();
    const int first = std::max(std::min(anchor, g_lCurStep), 0);
    const int last = std::min(std::max(anchor, g_lCurStep), g_lNumSteps - 1);
    return {g_lCurTrack, first, std::max(last - first + 1, 0)};
}

void RecordNote(int lNote, int velocity) {
    if (!CurrentTrackExists()) return;
    // A note that starts while another is held joins the step before the cursor; without such a
    // step (cursor at 0) it opens a new step like a single note.
    const bool joins = g_lNotesDown > 1 && g_lCurStep >= 1 && g_lCurStep - 1 < g_lNumSteps &&
                       g_lCurStep - 1 < static_cast<int>(g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Steps.size());
    StepsEdit e;
    if (joins) {
        e = EditOf(g_lCurTrack, g_lCurStep - 1, 1);
        e.after = e.before;
        e.chordNote = true;
    } else {
        e = Advance();
        e.after[0].NoteCount = 0;
    }
    SongStep& step = e.after[0];
    // NoteCount is 8 bits wide: a 256th note sounds but is not stored.
    if (step.NoteCount == 255) return;
    const std::size_t count = step.NoteCount + 1u;
    step.NoteCount = static_cast<std::uint8_t>(count);
    step.Notes.resize(count);
    step.StepType = StepNotes;
    step.Notes[count - 1] = static_cast<std::uint8_t>(lNote);
    step.Notes.Velocities()[count - 1] = static_cast<std::uint8_t>(std::clamp(velocity, 1, 127));
    e.recorded = true;
    CommitSteps(std::move(e));
}

void InsertBreak() { WriteTypeAtCursor(StepBreak); }
void InsertSpace() { WriteTypeAtCursor(StepEmpty); }

void DeleteStepAtCursor() {
    if (!CurrentTrackExists() || g_lCurStep < 1) return;
    StepsEdit e = EditOf(g_lCurTrack, g_lCurStep - 1, 1);
    // Cleared whole, so a later chord note cannot bring the deleted notes back.
    e.after.assign(e.before.size(), SongStep{});
    e.cursorAfter.step = g_lCurStep - 1;
    CommitSteps(std::move(e));
}

void DeleteSteps() {
    const StepRange r = SelectedSteps();
    if (r.count > 0) ReplaceSteps(r.track, r.first, r.count, {});
}

void CopySteps() {
    const StepRange r = SelectedSteps();
    if (r.count == 0) return;
    const auto& steps = g_Tracks[static_cast<std::size_t>(r.track)].Steps;
    g_copied.assign(steps.begin() + r.first, steps.begin() + r.first + r.count);
    g_hasCopied = true;
}

void CutSteps() {
    CopySteps();
    DeleteSteps();
}

void PasteSteps() {
    if (g_hasCopied && CurrentTrackExists()) ReplaceSteps(g_lCurTrack, std::max(g_lCurStep, 0), 0, g_copied);
}

void InsertStep() {
    if (!CurrentTrackExists()) return;
    StepsEdit e = SpliceEdit(g_lCurTrack, std::max(g_lCurStep, 0), 0, std::vector<SongStep>(1));
    e.cursorAfter.step = e.first;
    CommitSteps(std::move(e));
}

bool HasCopiedSteps() { return g_hasCopied; }

void SetLastSteps(const std::vector<int>& lastSteps) {
    // The song's own length of g_lLastStep stays; only the tracks' entries change.
    if (g_lLastStep.size() < lastSteps.size()) g_lLastStep.resize(lastSteps.size(), 0);
    std::copy(lastSteps.begin(), lastSteps.end(), g_lLastStep.begin());
}

const SongStep* StepAt(int track, int step) {
    if (!TrackExists(track) || step < 0 || step >= g_lNumSteps) return nullptr;
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
