#pragma once
// The one door for writes to the song model. Every operation here that changes the song records
// the change in the song's history (undo and redo) and then tells every listening view what
// changed. Called on the UI thread only.
//
// Every operation keeps indices inside the arrays whatever the state: a missing current track,
// a negative cursor or a full step make the operation do less, never read or write outside.

#include "musicmaker/song.h"
#include "musicmaker/songdata.h"

#include <QString>

#include <cstddef>
#include <vector>

class QUndoStack;

namespace kivra {

// What a change touched, so that views redraw only that.
struct SongChange {
    enum Part : unsigned {
        Cursor = 1u,    // the cursor, the current track or the selection
        Settings = 2u,  // tempo, notes per beat, a track's channel, a channel's instrument
        Steps = 4u,     // rows of one track: `track`, from `first`, `count` rows (-1: to the end)
        Length = 8u,    // the number of steps
        Tracks = 16u,   // the number of tracks
        Whole = 0xFFu,  // the song was replaced
    };
    unsigned parts = Whole;
    int track = -1;
    int first = 0;
    int count = 0;
};

// A view of the song (the Music Maker window, anything else that shows it).
class SongView {
public:
    virtual ~SongView() = default;
    virtual void SongChanged(const SongChange& change) = 0;
};
void AddSongView(SongView* view);
void RemoveSongView(SongView* view);

// Empties the song: no tracks, no steps, cursor 0, 120 BPM, 4 notes per beat. Keeps the channel
// instruments; clears g_lLastStep so no stale entry outlives the song it pointed into.
void ResetSong();
// The song a fresh Music Maker shows: ResetSong, then one track, in one change; the song counts
// as unchanged afterwards. The first song of the run is not a change the user can undo.
void NewSong();
// Resizes the track list (lCount >= 0); new tracks sit on channel 0 with g_lNumSteps empty steps.
// A current track beyond the new last track becomes the last track.
// Changes that carry the same nonzero `gesture` (one scroll-bar drag) are undone as one.
void SetTrackCount(int lCount, int gesture = 0);
// Sets the song length; with lCount 0 the step arrays are left as they are.
void SetStepCount(int lCount);
void SetTempo(int lTempo, int gesture = 0);
void SetNotesPerBeat(int lNotesPerBeat, int gesture = 0);
void SetTrackChannel(int track, int channel, int gesture = 0);
void SetChannelPatch(int channel, int patch);
// Replaces `count` steps of `track` from `first` by `steps`; the song grows to hold them, and
// when fewer steps come back than went the track's later steps move up and the song gets
// shorter by as many steps as are then empty at the end of every track.
void ReplaceSteps(int track, int first, int count, std::vector<SongStep> steps);

// The cursor: moving it is no change to the song (nothing to undo), and collapses the selection.
void SetCursor(int track, int step);
// Moves the cursor within the current track, keeping the other end of the selection.
void ExtendSelection(int step);
// The selected steps of the current track: from the selection's other end to the cursor, both
// included, limited to the song; count 0 when the cursor is past the last step.
struct StepRange {
    int track = 0, first = 0, count = 0;
};
StepRange SelectedSteps();
// The selection's other end (the cursor itself after anything else moved the cursor).
int SelectionAnchor();

// The edits at the cursor of the current track.
// A note played while Record is checked, kept with its velocity; a chord is one change.
void RecordNote(int lNote, int velocity = NoteList::kDefaultVelocity);
void InsertBreak();           // "Insert Break in Music Maker"
void InsertSpace();           // "Insert Space In Music Maker": an empty step (held notes go on)
void DeleteStepAtCursor();    // "Delete Note in Music Maker": back one step and empty it

// The step editing of the track lists, on the selected steps. Copied steps hold notes, not a
// channel, so they paste into any track; paste inserts them before the cursor step.
void DeleteSteps();
void CopySteps();
void CutSteps();
void PasteSteps();
void InsertStep();  // an empty step at the cursor; the cursor stays on it
bool HasCopiedSteps();

// What the export leaves for the next run: per track, the step whose notes were started last.
void SetLastSteps(const std::vector<int>& lastSteps);

// The song changed since it was last exported, opened or started.
bool SongChanged();
void MarkSongSaved();

// The history of changes: at most kHistoryCommands changes and about kHistoryBytes of what they
// hold, the oldest dropped first, but always the latest one; cleared by nothing but exit.
QUndoStack& SongHistory();
inline constexpr int kHistoryCommands = 1000;
inline constexpr std::size_t kHistoryBytes = std::size_t{64} << 20;
std::size_t HistoryBytes();
void SetHistoryByteLimit(std::size_t bytes);  // a smaller bound for tests

// A step of the song, or null when the track or step does not exist.
const SongStep* StepAt(int track, int step);
// The row a track list shows for a step: "60 64 67 ", "-" or " ".
QString StepCaption(const SongStep& step);

// Milliseconds between two steps: 60000 / (notes per beat x tempo), halves to even; at least 1.
int PlayInterval(int notesPerBeat, int tempo);

}  // namespace kivra
