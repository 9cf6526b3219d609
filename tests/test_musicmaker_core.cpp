// The song model, note recording through the real note entry points, and playback on a fake clock.
#include "midi/midiio.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/songops.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kivra;

namespace {

struct FakePiano : PianoPort {
    std::vector<bool> locks;
    std::vector<int> instruments;
    void ShowKey(int, Rgb, bool) override {}
    void SelectPatchRow(int) override {}
    bool DrumModeChecked() const override { return false; }
    int BaseOctave() const override { return 4; }
    void UpdateInstrument(int patch) override { instruments.push_back(patch); }
    void SetRecordingLock(bool recording) override { locks.push_back(recording); }
    void UpdateCaptions() override {}
};

struct FakeClock : Clock {
    explicit FakeClock(const double* now) : now(now) {}
    double NowMs() const override { return *now; }
    const double* now;
};

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
        SetPianoPort(&piano);
        mm.SetClock(std::make_unique<FakeClock>(&now));
        midi.ClearSent();
    }
    void TearDown() override {
        mm.SetPlay(false);
        mm.SetRecord(false);
        mm.SetClock(nullptr);
        mm.SetStepObserver(nullptr);
        SetPianoPort(nullptr);
    }
    void Press(int note) { PlayNote(note, 100, PlayChannel()); }
    void Release(int note) { StopNote(note, PlayChannel()); }
    void Tap(int note) { Press(note), Release(note); }
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
    Tap(60);
    EXPECT_EQ(g_lNumSteps, 2);
    EXPECT_EQ(g_lCurStep, 1);
    EXPECT_EQ(NotesOf(0, 0), std::vector<int>{60});
    EXPECT_EQ(StepAt(0, 1)->StepType, StepEmpty);
    Tap(64);
    EXPECT_EQ(g_lNumSteps, 3);
    EXPECT_EQ(g_lCurStep, 2);
    EXPECT_EQ(NotesOf(0, 1), std::vector<int>{64});
}

TEST_F(MusicMakerCore, OverlappingNotesFormChordsLegatoAndRepeats) {
    mm.SetRecord(true);
    Press(60);
    Press(64);  // chord by overlap
    Release(60);
    Press(67);  // legato: 64 still held, so 67 joins too
    Release(64);
    Press(67);  // 67 already flagged: counts once, but only one note is down now
    Release(67);
    EXPECT_EQ(NotesOf(0, 0), (std::vector<int>{60, 64, 67}));
    EXPECT_EQ(NotesOf(0, 1), std::vector<int>{67});
    EXPECT_EQ(g_lCurStep, 2);

    Press(50);
    Press(52);
    Release(52);
    Press(52);  // struck again while 50 is held: stored again
    EXPECT_EQ(NotesOf(0, 2), (std::vector<int>{50, 52, 52}));
    EXPECT_EQ(g_lCurStep, 3);
}

TEST_F(MusicMakerCore, FirstNoteOverwritesTheStepAtAClickedRow) {
    SetStepCount(6);
    auto& step = g_Tracks[0].Steps[2];
    step = SongStep{StepNotes, 3, {60, 64, 67}};
    g_lCurStep = 2;
    mm.SetRecord(true);
    Tap(72);
    EXPECT_EQ(NotesOf(0, 2), std::vector<int>{72});
    EXPECT_EQ(g_lNumSteps, 6);
    EXPECT_EQ(g_lCurStep, 3);
}

TEST_F(MusicMakerCore, ChordNoteAfterABreakBringsBackTheNotesUnderIt) {
    mm.SetRecord(true);
    Press(60);
    Press(64);
    Release(60);
    Release(64);
    g_lCurStep = 0;
    InsertBreak();
    EXPECT_EQ(StepCaption(*StepAt(0, 0)), "-");
    mm.SetRecord(false);
    Press(50);  // held while Record is off: not recorded, but held
    mm.SetRecord(true);
    Press(55);
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
    Release(60);
    Release(61);

    // A chord note with the cursor at 0 opens a new step.
    mm.SetRecord(false);
    Press(40);
    mm.SetRecord(true);
    g_lCurStep = 0;
    Press(41);
    EXPECT_EQ(NotesOf(0, 0), std::vector<int>{41});
    EXPECT_EQ(g_lCurStep, 1);

    // A negative cursor starts again at the first step.
    Release(40);
    Release(41);
    g_lCurStep = -1;
    Tap(42);
    EXPECT_EQ(NotesOf(0, 0), std::vector<int>{42});
}

TEST_F(MusicMakerCore, BreaksSpacesAndDeletesWriteOnlyTheCurrentTrack) {
    InsertSpace();
    EXPECT_EQ(g_lNumSteps, 2);
    EXPECT_EQ(g_lCurStep, 1);

    SetTrackCount(2);
    SetStepCount(10);
    g_lCurTrack = 1;
    g_lCurStep = 3;
    InsertBreak();
    EXPECT_EQ(StepAt(1, 3)->StepType, StepBreak);
    EXPECT_EQ(StepAt(0, 3)->StepType, StepEmpty);
    EXPECT_EQ(g_lNumSteps, 10);
    EXPECT_EQ(g_lCurStep, 4);

    g_lCurStep = 9;  // the last step: the song grows by one
    InsertBreak();
    EXPECT_EQ(g_lNumSteps, 11);
    g_lCurStep = 11;  // past the end, as playback leaves it: grows by two
    InsertSpace();
    EXPECT_EQ(g_lNumSteps, 13);
    EXPECT_EQ(g_lCurStep, 12);
    EXPECT_EQ(g_Tracks[0].Steps.size(), 13u);

    g_lCurStep = 4;
    DeleteStepAtCursor();
    EXPECT_EQ(g_lCurStep, 3);
    EXPECT_EQ(StepAt(1, 3)->StepType, StepEmpty);
    g_lCurStep = 0;
    DeleteStepAtCursor();
    EXPECT_EQ(g_lCurStep, 0);
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
    EXPECT_EQ(PlayChannel(), 0);
    mm.SetRecord(true);
    EXPECT_EQ(piano.locks, std::vector<bool>{true});
    EXPECT_EQ(piano.instruments, std::vector<int>{19});
    EXPECT_EQ(GetRecorderPort()->CurrentTrackChannel(), 3);
    EXPECT_EQ(PlayChannel(), 3);
    midi.ClearSent();
    Press(60);
    EXPECT_EQ(midi.SentHex(), "93 3C 64");
    mm.SetRecord(false);
    EXPECT_EQ(piano.locks, (std::vector<bool>{true, false}));
    EXPECT_EQ(PlayChannel(), 0);
}

TEST_F(MusicMakerCore, IntervalRoundsHalvesToEven) {
    EXPECT_EQ(PlayInterval(4, 120), 125);
    EXPECT_EQ(PlayInterval(3, 120), 167);
    EXPECT_EQ(PlayInterval(8, 120), 62);
    EXPECT_EQ(PlayInterval(4, 80), 188);
    EXPECT_EQ(PlayInterval(1, 30), 2000);
    EXPECT_EQ(PlayInterval(255, 240), 1);
}

TEST_F(MusicMakerCore, PlaysTheWorkedScheduleAndStopsAtTheEnd) {
    g_lCurStep = 0;
    Tap(60);  // Record off: nothing recorded
    EXPECT_EQ(g_lNumSteps, 0);
    mm.SetRecord(true);
    Tap(60);
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

TEST_F(MusicMakerCore, LateStepsArePlayedLateNotSkippedAndTheScheduleHolds) {
    for (int n : {60, 62, 64, 65}) {
        g_lNotesDown = 0;
        RecordNote(n);
    }
    std::vector<std::pair<double, double>> steps;
    mm.SetStepObserver([&](long long, double due, double played) { steps.emplace_back(due, played); });
    mm.SetPlay(true);
    EXPECT_EQ(At(380), "90 3C 00 90 3C 64 90 3C 00 90 3E 64 90 3E 00 90 40 64");  // the thread was busy
    EXPECT_EQ(At(499.5), "");
    EXPECT_EQ(At(500), "90 40 00 90 41 64");
    EXPECT_EQ(steps, (std::vector<std::pair<double, double>>{{125, 380}, {250, 380}, {375, 380}, {500, 500}}));
}

TEST_F(MusicMakerCore, EmptyStepsHoldNotesUntilTheTracksNextNotes) {
    RecordNote(60);
    InsertSpace();
    InsertSpace();
    RecordNote(62);
    mm.SetPlay(true);
    EXPECT_EQ(At(125), "90 3C 00 90 3C 64");
    EXPECT_EQ(At(375), "");
    EXPECT_EQ(At(500), "90 3C 00 90 3E 64");
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
    mm.SetPlay(false);  // stopped by hand: the solo choice stays
    now = 0;
    mm.SetPlay(true);
    EXPECT_EQ(At(125), "92 46 00 92 46 64");
    At(250);
    At(375);
    EXPECT_FALSE(mm.PlayChecked());
    EXPECT_EQ(mm.SoloTrack(), -1);
    now = 0;
    midi.ClearSent();
    mm.SetPlay(true);
    EXPECT_EQ(midi.out->sent.size(), 16u);
    EXPECT_EQ(At(125), "90 3C 00 90 3C 64 92 46 00 92 46 64");
}

TEST_F(MusicMakerCore, TempoChangesTakeEffectAtTheNextStart) {
    RecordNote(60);
    RecordNote(62);
    mm.SetPlay(true);
    g_lTempo = 60;
    EXPECT_EQ(mm.RunningInterval(), 125);
    EXPECT_EQ(At(125), "90 3C 00 90 3C 64");
    mm.SetPlay(false);
    now = 0;
    mm.SetPlay(true);
    EXPECT_EQ(mm.RunningInterval(), 250);
    EXPECT_EQ(At(249), "");
    EXPECT_NE(At(250), "");
}

TEST_F(MusicMakerCore, PlaybackSurvivesStaleEntriesEmptySongsAndRecording) {
    mm.SetPlay(true);
    At(125);  // no steps: the first tick ends the song
    EXPECT_FALSE(mm.PlayChecked());

    RecordNote(60);
    InsertBreak();
    g_lLastStep[0] = 50;  // beyond the song: names no notes to stop
    now = 0;
    mm.SetPlay(true);
    EXPECT_EQ(At(125), "90 3C 64");
    EXPECT_EQ(g_lLastStep[0], 0);

}

TEST_F(MusicMakerCore, RecordingDuringPlaybackMayGrowTheSongBeingPlayed) {
    RecordNote(60);
    g_lNotesDown = 2;
    RecordNote(64);
    g_lNotesDown = 0;
    SetStepCount(1);
    g_Tracks[0].Steps.shrink_to_fit();  // growing by one step now moves every step
    mm.SetPlay(true);
    mm.SetRecord(true);
    EXPECT_EQ(At(125), "90 3C 00 90 40 00 90 3C 64 90 40 64");
    EXPECT_EQ(g_lNumSteps, 2);
    EXPECT_EQ(NotesOf(0, 0), (std::vector<int>{60, 64}));
}

}  // namespace
