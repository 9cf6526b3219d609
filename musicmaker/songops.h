#pragma once
// Operations on the song model: reset and resize, the cursor advance, and the edits written at
// the cursor of the current track (notes, breaks, empty steps). Called on the UI thread only.
//
// Every operation keeps indices inside the arrays whatever the state: a missing current track,
// a negative cursor or a full step make the operation do less, never read or write outside.

#include "musicmaker/song.h"

#include <QString>

namespace kivra {

// The view of the song (the Music Maker window): redraws its lists after an edit.
class SongView {
public:
    virtual ~SongView() = default;
    virtual void RefreshCaptions() = 0;
};
void SetSongView(SongView* view);  // null: no window to refresh
SongView* GetSongView();

// Empties the song: no tracks, no steps, cursor 0, 120 BPM, 4 notes per beat. Keeps the channel
// instruments; clears g_lLastStep so no stale entry outlives the song it pointed into.
void ResetSong();
// The song a fresh Music Maker shows: ResetSong, then one track.
void NewSong();
// Resizes the track list (lCount >= 0); new tracks sit on channel 0 with g_lNumSteps empty steps.
// A current track beyond the new last track becomes the last track.
void SetTrackCount(int lCount);
// Sets the song length; with lCount 0 the step arrays are left as they are.
void SetStepCount(int lCount);
// Moves the cursor on by one, growing every track so the cursor names an existing step; returns
// the index of the step to write (the step the cursor named before), always a valid index.
int AdvanceCursor();

// The edits at the cursor; each ends by refreshing the view.
void RecordNote(int lNote);   // a note played while Record is checked
void InsertBreak();           // "Insert Break in Music Maker"
void InsertSpace();           // "Insert Space In Music Maker": an empty step (held notes go on)
void DeleteStepAtCursor();    // "Delete Note in Music Maker": back one step and empty it

// A step of the song, or null when the track or step does not exist.
const SongStep* StepAt(int track, int step);
// The row a track list shows for a step: "60 64 67 ", "-" or " ".
QString StepCaption(const SongStep& step);

// Milliseconds between two steps: 60000 / (notes per beat x tempo), halves to even; at least 1.
int PlayInterval(int notesPerBeat, int tempo);

}  // namespace kivra
