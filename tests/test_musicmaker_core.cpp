// The song model, note recording through the real note entry points, and playback on a fake clock.
#include "midi/midiio.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/songops.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace kivra;

namespace {

using test::FakePiano;

struct FakeClock : Clock {
    explicit FakeClock(const double* now) : now(now) {}
    double NowMs() const override { return *now; }
    const double* now;
};

using Pos = std::pair<int, int>;  // {steps in the song, cursor}
Pos Size() { return {g_lNumSteps, g_lCurStep}; }

std::vector<int> NotesOf(int track, int step) {
    const SongStep* s = StepAt(track, step);
    if (!s) return {-1};
    return {s->Notes.begin(), s->Notes.begin() + s->NoteCount};
}

class MusicMakerCore : public ::testing::Test {
protected:
    void SetUp() override {
        mm.SetPlay(false);
        mm.SetRecord(false);
        mm.SetSoloTrack(-1);
        NewSong();
        g_bytChannelPatch.fill(0);
        mm.SetClock(std::make_unique<FakeClock>(&now));
        midi.ClearSent();
    }
    void TearDown() override {
        mm.SetPlay(false);
        mm.SetRecord(false);
        mm.SetClock(nullptr);
        mm.SetStepObserver(nullptr);
    }
    void Press(int note) { PlayNote(note, 100, PlayChannel()); }
    void Release(int note) { StopNote(note, PlayChannel()); }
    // Plays keys in order through the note entry points: "+60" presses, "-60" releases, "60" taps.
    void Keys(const std::string& script) {
        std::istringstream in(script);
        for (std::string k; in >> k;) {
            const int note = std::abs(std::stoi(k));
            if (k[0] != '-') Press(note);
            if (k[0] != '+') Release(note);
        }
    }
    // Starts Play afresh at time 0, stopping it first; clears what was sent.
    void Restart() {
        mm.SetPlay(false);
        now = 0;
        midi.ClearSent();
        mm.SetPlay(true);
    }
    // Moves the fake clock and lets the player play whatever fell due; returns what was sent.
    std::string At(double ms) {
        midi.ClearSent();
        now = ms;
        mm.OnTimer();
        return midi.SentHex();
    }

    test::FakeMidi midi;
    FakePiano piano;
    MusicMaker& mm = TheMusicMaker();
    double now = 0;
};

TEST_F(MusicMakerCore, SingleNotesEachOpenAStepAndGrowTheSong) {
    mm.SetRecord(true);
    for (int i = 0; i < 2; ++i) {
        Keys(std::to_string(60 + i));
        EXPECT_EQ(Size(), (Pos{i + 2, i + 1}));
        EXPECT_EQ(NotesOf(0, i), std::vector<int>{60 + i});
        EXPECT_EQ(StepAt(0, i + 1)->StepType, StepEmpty);
    }
}

TEST_F(MusicMakerCore, OverlappingNotesFormChordsLegatoAndRepeats) {
    mm.SetRecord(true);
    // Chord by overlap, legato into 67 while 64 is held, then 67 struck again alone.
    Keys("+60 +64 -60 +67 -64 +67 -67");
    EXPECT_EQ(NotesOf(0, 0), (std::vector<int>{60, 64, 67}));
    EXPECT_EQ(NotesOf(0, 1), std::vector<int>{67});
    EXPECT_EQ(g_lCurStep, 2);
    Keys("+50 +52 -52 +52");  // struck again while 50 is held: stored again
    EXPECT_EQ(NotesOf(0, 2), (std::vector<int>{50, 52, 52}));
    EXPECT_EQ(g_lCurStep, 3);
}

TEST_F(MusicMakerCore, FirstNoteOverwritesTheStepAtAClickedRow) {
    SetStepCount(6);
    g_Tracks[0].Steps[2] = SongStep{StepNotes, 3, {60, 64, 67}};
    g_lCurStep = 2;
    mm.SetRecord(true);
    Keys("72");
    EXPECT_EQ(NotesOf(0, 2), std::vector<int>{72});
    EXPECT_EQ(Size(), (Pos{6, 3}));
}

TEST_F(MusicMakerCore, ChordNoteAfterABreakBringsBackTheNotesUnderIt) {
    mm.SetRecord(true);
    Keys("+60 +64 -60 -64");
    g_lCurStep = 0;
    InsertBreak();
    EXPECT_EQ(StepCaption(*StepAt(0, 0)), "-");
    mm.SetRecord(false);
    Keys("+50");  // held while Record is off: not recorded, but held
    mm.SetRecord(true);
    Keys("+55");
    EXPECT_EQ(NotesOf(0, 0), (std::vector<int>{60, 64, 55}));
    EXPECT_EQ(StepAt(0, 0)->StepType, StepNotes);
}

TEST_F(MusicMakerCore, LimitsAreKeptInsideTheArrays) {
    mm.SetRecord(true);
    Press(60);
    for (int k = 0; k < 254; ++k) Press(61);
    EXPECT_EQ(StepAt(0, 0)->NoteCount, 255);
    midi.ClearSent();
    Press(61);  // the 256th note sounds but is not stored
    EXPECT_EQ(midi.SentHex(), "90 3D 64");
    EXPECT_EQ(StepAt(0, 0)->NoteCount, 255);
    EXPECT_EQ(StepAt(0, 0)->Notes.size(), 255u);
    Keys("-60 -61");

    // A chord note with the cursor at 0 opens a new step.
    mm.SetRecord(false);
    Keys("+40");
    mm.SetRecord(true);
    g_lCurStep = 0;
    Keys("+41");
    EXPECT_EQ(NotesOf(0, 0), std::vector<int>{41});
    EXPECT_EQ(g_lCurStep, 1);

    // A negative cursor starts again at the first step.
    Keys("-40 -41");
    g_lCurStep = -1;
    Keys("42");
    EXPECT_EQ(NotesOf(0, 0), std::vector<int>{42});
}

TEST_F(MusicMakerCore, BreaksSpacesAndDeletesWriteOnlyTheCurrentTrack) {
    InsertSpace();
    EXPECT_EQ(Size(), (Pos{2, 1}));
    SetTrackCount(2);
    SetStepCount(10);
    g_lCurTrack = 1;
    // At or past the last step the song grows to hold the cursor; a delete goes back one and empties it.
    const struct { int at; void (*op)(); Pos after; int step, type; } ops[] = {
        {3, InsertBreak, {10, 4}, 3, StepBreak},          {9, InsertBreak, {11, 10}, 9, StepBreak},
        {11, InsertSpace, {13, 12}, 11, StepEmpty},       {4, DeleteStepAtCursor, {13, 3}, 3, StepEmpty},
        {0, DeleteStepAtCursor, {13, 0}, 0, StepEmpty}};
    for (const auto& o : ops) {
        SCOPED_TRACE(o.at);
        g_lCurStep = o.at;
        o.op();
        EXPECT_EQ(Size(), o.after);
        EXPECT_EQ(StepAt(1, o.step)->StepType, o.type);
        EXPECT_EQ(StepAt(0, o.step)->StepType, StepEmpty);
        EXPECT_EQ(g_Tracks[0].Steps.size(), static_cast<std::size_t>(o.after.first));
    }
}

TEST_F(MusicMakerCore, TrackAndStepCountsAndResetKeepTheirPromises) {
    SetTrackCount(3);
    SetStepCount(10);
    g_Tracks[2].Channel = 7;
    g_lLastStep = {4, 5, 6};
    SetTrackCount(5);
    EXPECT_EQ(g_Tracks[4].Steps.size(), 10u);
    EXPECT_EQ(g_Tracks[4].Channel, 0);
    g_lCurTrack = 4;
    SetTrackCount(2);
    EXPECT_EQ(g_lNumTracks, 2);
    EXPECT_EQ(g_lLastStep, (std::vector<int>{4, 5}));
    EXPECT_EQ(g_lCurTrack, 1);  // the last track became current

    SetStepCount(3);
    EXPECT_EQ(g_Tracks[1].Steps.size(), 3u);
    SetStepCount(0);
    EXPECT_EQ(g_lNumSteps, 0);
    EXPECT_EQ(g_Tracks[1].Steps.size(), 3u);

    g_bytChannelPatch[3] = 41;
    g_lTempo = 200;
    ResetSong();
    EXPECT_EQ(g_lNumTracks, 0);
    EXPECT_TRUE(g_Tracks.empty());
    EXPECT_TRUE(g_lLastStep.empty());
    EXPECT_EQ(g_lTempo, 120);
    EXPECT_EQ(g_lNotesPerBeat, 4);
    EXPECT_EQ(g_bytChannelPatch[3], 41);
}

TEST_F(MusicMakerCore, RecordSwitchRoutesNotesAndLocksThePiano) {
    g_Tracks[0].Channel = 3;
    g_bytChannelPatch[3] = 19;
    mm.SetRecord(true);
    EXPECT_EQ(piano.locks, std::vector<bool>{true});
    EXPECT_EQ(piano.instruments, std::vector<int>{19});
    midi.ClearSent();
    Keys("+60");  // sounds on the track's channel
    EXPECT_EQ(midi.SentHex(), "93 3C 64");
    mm.SetRecord(false);
    EXPECT_EQ(piano.locks, (std::vector<bool>{true, false}));
    EXPECT_EQ(PlayChannel(), 0);
}

TEST_F(MusicMakerCore, IntervalRoundsHalvesToEven) {
    const int cases[][3] = {{4, 120, 125}, {3, 120, 167}, {8, 120, 62}, {4, 80, 188}, {1, 30, 2000}, {255, 240, 1}};
    for (const auto& c : cases) EXPECT_EQ(PlayInterval(c[0], c[1]), c[2]) << c[0] << " per beat at " << c[1];
}

TEST_F(MusicMakerCore, PlaysTheWorkedScheduleAndStopsAtTheEnd) {
    g_lCurStep = 0;
    Keys("60");  // Record off: nothing recorded
    EXPECT_EQ(g_lNumSteps, 0);
    mm.SetRecord(true);
    Keys("60");
    InsertBreak();
    g_lCurStep = 2;
    SetStepCount(3);
    ASSERT_EQ(StepAt(0, 2)->StepType, StepEmpty);
    g_bytChannelPatch[1] = 5;

    midi.ClearSent();
    now = 1000;
    mm.SetPlay(true);
    EXPECT_FALSE(mm.RecordChecked());
    EXPECT_EQ(g_lCurStep, 0);
    EXPECT_EQ(midi.SentHex().substr(0, 17), "C0 00 C1 05 C2 00");
    EXPECT_EQ(midi.out->sent.size(), 16u);
    EXPECT_EQ(At(1124.9), "");
    // The track's last-started entry (step 0) is stopped before its first notes.
    EXPECT_EQ(At(1125), "90 3C 00 90 3C 64");
    EXPECT_EQ(At(1250), "90 3C 00");
    EXPECT_EQ(At(1375), "");
    EXPECT_TRUE(mm.PlayChecked());
    At(1500);
    EXPECT_EQ(midi.out->sent.size(), 2048u);
    EXPECT_EQ(midi.out->sent.back(), PackShortMessage(0x9F, 127, 0));
    EXPECT_FALSE(mm.PlayChecked());
    EXPECT_EQ(g_lCurStep, 3);
}

TEST_F(MusicMakerCore, LateStepsArePlayedNotSkippedAndEmptyStepsHoldNotes) {
    RecordNote(60);
    InsertSpace();  // holds 60 until the track's next notes
    for (int n : {64, 65}) RecordNote(n);
    std::vector<std::pair<double, double>> steps;
    mm.SetStepObserver([&](long long, double due, double played) { steps.emplace_back(due, played); });
    mm.SetPlay(true);
    EXPECT_EQ(At(380), "90 3C 00 90 3C 64 90 3C 00 90 40 64");  // the thread was busy
    EXPECT_EQ(At(499.5), "");
    EXPECT_EQ(At(500), "90 40 00 90 41 64");
    EXPECT_EQ(steps, (std::vector<std::pair<double, double>>{{125, 380}, {250, 380}, {375, 380}, {500, 500}}));
}

TEST_F(MusicMakerCore, SoloTrackPlaysAloneUntilTheSongEnds) {
    SetTrackCount(2);
    g_Tracks[1].Channel = 2;
    g_bytChannelPatch[2] = 33;
    RecordNote(60);
    g_lCurTrack = 1;
    g_lCurStep = 0;
    RecordNote(70);

    mm.PlayTrackAlone(5);  // names no track
    EXPECT_FALSE(mm.PlayChecked());
    mm.PlayTrackAlone(1);
    EXPECT_EQ(midi.SentHex(), "C2 21");
    EXPECT_EQ(At(125), "92 46 00 92 46 64");
    Restart();  // stopped by hand: the solo choice stays
    EXPECT_EQ(At(125), "92 46 00 92 46 64");
    At(250);
    At(375);
    EXPECT_FALSE(mm.PlayChecked());
    EXPECT_EQ(mm.SoloTrack(), -1);
    Restart();
    EXPECT_EQ(midi.out->sent.size(), 16u);
    EXPECT_EQ(At(125), "90 3C 00 90 3C 64 92 46 00 92 46 64");
}

TEST_F(MusicMakerCore, TempoChangesTakeEffectAtTheNextStart) {
    for (int n : {60, 62}) RecordNote(n);
    mm.SetPlay(true);
    g_lTempo = 60;
    EXPECT_EQ(mm.RunningInterval(), 125);
    EXPECT_EQ(At(125), "90 3C 00 90 3C 64");
    Restart();
    EXPECT_EQ(mm.RunningInterval(), 250);
    EXPECT_EQ(At(249), "");
    EXPECT_NE(At(250), "");
}

TEST_F(MusicMakerCore, PlaybackSurvivesStaleEntriesAndEmptySongs) {
    mm.SetPlay(true);
    At(125);  // no steps: the first tick ends the song
    EXPECT_FALSE(mm.PlayChecked());

    RecordNote(60);
    InsertBreak();
    g_lLastStep[0] = 50;  // beyond the song: names no notes to stop
    Restart();
    EXPECT_EQ(At(125), "90 3C 64");
    EXPECT_EQ(g_lLastStep[0], 0);
}

TEST_F(MusicMakerCore, RecordingDuringPlaybackMayGrowTheSongBeingPlayed) {
    mm.SetRecord(true);
    Keys("+60 +64 -60 -64");
    SetStepCount(1);
    g_Tracks[0].Steps.shrink_to_fit();  // growing by one step now moves every step
    mm.SetPlay(true);
    mm.SetRecord(true);
    EXPECT_EQ(At(125), "90 3C 00 90 40 00 90 3C 64 90 40 64");
    EXPECT_EQ(g_lNumSteps, 2);
    EXPECT_EQ(NotesOf(0, 0), (std::vector<int>{60, 64}));
}

}  // namespace
