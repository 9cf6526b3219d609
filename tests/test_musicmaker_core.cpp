// The song model and its undo history, note recording through the real note entry points, the
// note spans shared by playback and export, and playback on a fake clock.
#include "formats/smf_export.h"
#include "musicmaker/musicmaker.h"
#include "testsupport.h"

#include <QUndoStack>

#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <sstream>

using namespace kivra;

namespace {

struct FakeClock : Clock {
    explicit FakeClock(const double* now) : now(now) {}
    double NowMs() const override { return *now; }
    const double* now;
};

using Pos = std::pair<int, int>;
// A track's rows as its list shows them, "|" after each, then the cursor: "60 64 |-| @2".
std::string Song(int track = 0) {
    std::string shown;
    for (int s = 0; s < g_lNumSteps; ++s) shown += StepCaption(*StepAt(track, s)).toStdString() + "|";
    return shown + " @" + std::to_string(g_lCurStep);
}

// The song as the exporter writes it, then the cursor and the number of tracks.
std::string Exported() {
    std::vector<int> lastStep;
    std::string text;
    for (std::uint8_t b : EncodeMIDIFile(CurrentSong(), lastStep)) text += std::to_string(b) + ",";
    return text + " @" + std::to_string(g_lCurTrack) + ":" + std::to_string(g_lCurStep);
}

class MusicMakerCore : public ::testing::Test {
protected:
    void SetUp() override {
        mm.SetPlay(false);
        mm.SetRecord(false);
        mm.SetSoloTrack(-1);
        mm.SetLoop(false);
        mm.SetLoopRange(0, MusicMaker::kSongEnd);
        NewSong();
        for (int c = 0; c < 16; ++c) SetChannelPatch(c, 0);
        mm.SetClock(std::make_unique<FakeClock>(&now));
        midi.ClearSent();
    }
    void TearDown() override {
        mm.SetPlay(false);
        mm.SetRecord(false);
        mm.SetClock(nullptr);
        mm.SetStepObserver(nullptr);
    }
    // Plays a script in order: "+60" presses through the note entry points, "-60" releases, "60" taps; "R" switches
    // Record, "@3" puts the cursor on step 3, "B" inserts a break, "S" a space, "D" deletes the note before it.
    void Keys(const std::string& script) {
        std::istringstream in(script);
        for (std::string k; in >> k;) {
            if (k == "R") mm.SetRecord(!mm.RecordChecked());
            else if (k == "B") InsertBreak();
            else if (k == "S") InsertSpace();
            else if (k == "D") DeleteStepAtCursor();
            else if (k[0] == '@') SetCursor(g_lCurTrack, std::stoi(k.substr(1)));
            else {
                const int note = std::abs(std::stoi(k));
                const auto at = k.find(':');  // "60:30" plays at velocity 30
                if (k[0] != '-') PlayNote(note, at == std::string::npos ? 100 : std::stoi(k.substr(at + 1)), PlayChannel());
                if (k[0] != '+') StopNote(note, PlayChannel());
            }
        }
    }
    // Starts Play afresh at time `at`, stopping it first; returns what the start sent.
    std::string Restart(double at = 0) {
        mm.SetPlay(false);
        now = at;
        midi.ClearSent();
        mm.SetPlay(true);
        return midi.SentHex();
    }
    // Moves the fake clock to each time in turn and lets the player play whatever fell due; returns
    // what each time sent, " / " between.
    std::string At(auto... times) {
        std::string sent, between;
        for (double ms : {double(times)...}) {
            midi.ClearSent();
            now = ms;
            mm.OnTimer();
            sent += std::exchange(between, " / ") + midi.SentHex();
        }
        return sent;
    }

    test::FakeMidi midi;
    test::FakePiano piano;
    MusicMaker& mm = TheMusicMaker();
    double now = 0;
};

// The song after each script: the first track's rows as its list shows them, then the cursor.
TEST_F(MusicMakerCore, NotesPlayedWhileRecordingBecomeSteps) {
    const std::pair<const char*, const char*> cases[] = {
        {"R 60 61", "60 |61 | | @2"},  // single notes each open a step and grow the song
        // Chord by overlap, legato into 67 while 64 is held, then 67 struck again alone; then a
        // note struck again while 50 is held is stored again.
        {"R +60 +64 -60 +67 -64 +67 -67 +50 +52 -52 +52", "60 64 67 |67 |50 52 52 | | @3"},
        {"R 50 51 +60 +64 +67 -60 -64 -67 53 @2 72", "50 |51 |72 |53 | | @3"},  // the first note overwrites
        // A chord note after a break brings back the notes under it; a note held while Record is
        // off is held all the same.
        {"R +60 +64 -60 -64 @0 B R +50 R +55", "60 64 55 | | @1"},
        {"R +60 +61 +62 +63 +64 +65 +66 +67 +68 -60 +69", "60 61 62 63 64 65 66 67 68 69 | | @1"},  // a big chord
        {"+40 R @0 +41", "41 | | @1"},     // a chord note with the cursor at 0 opens a new step
        {"R @-1 42", "42 | | @1"},         // a negative cursor starts again at the first step
        {"60 R 60 B @2", "60 |-| | @2"},  // Record off: nothing recorded
        {"R 60 @0 D", "60 | | @0"},        // nothing before the first step to delete
    };
    for (const auto& [script, song] : cases) {
        ForgetSoundingNotes();  // no key held from the row before
        SetUp();
        Keys(script);
        EXPECT_EQ(Song(), song) << script;
    }
}

TEST_F(MusicMakerCore, RecordSwitchRoutesNotesLocksThePianoAndStoresAtMost255NotesAStep) {
    SetTrackChannel(0, 3);
    SetChannelPatch(3, 19);
    mm.SetRecord(true);
    EXPECT_EQ(piano.instruments, std::vector<int>{19});
    Keys("+60");
    for (int k = 0; k < 254; ++k) Keys("+61");
    midi.ClearSent();
    Keys("+61");  // the 256th note sounds, on the track's channel, but is not stored
    EXPECT_EQ(midi.SentHex(), "93 3D 64");
    EXPECT_EQ(std::pair(int{StepAt(0, 0)->NoteCount}, StepAt(0, 0)->Notes.size()), std::pair(255, std::size_t{255}));
    mm.SetRecord(false);
    EXPECT_EQ(piano.locks, (std::vector<bool>{true, false}));
    EXPECT_EQ(PlayChannel(), 0);
}

// The step storage against a plain list of the same steps: growth and shrinking at both ends and
// across chunk ends, chords too big to keep inline, and copies that share nothing.
TEST(SongSteps, SplicesAndCopiesAsAPlainListDoes) {
    constexpr std::size_t kChunk = SongSteps::kChunkSteps;
    const auto chord = [](std::size_t notes, std::size_t key) {
        SongStep step{notes ? StepNotes : StepBreak, static_cast<std::uint8_t>(notes), {}};
        for (std::size_t k = 0; k < notes; ++k) step.Notes.push_back(static_cast<std::uint8_t>(key + k));
        return step;
    };
    const auto same = [](const SongStep& a, const SongStep& b) {
        return a.StepType == b.StepType && a.NoteCount == b.NoteCount && a.Notes == b.Notes;
    };
    const struct { const char* what; std::size_t first, count, added, notes; } cases[] = {
        {"grow at the end into a new chunk", 2 * kChunk, 0, 2, 1},
        {"grow at the start", 0, 0, 3, 9},
        {"shrink at the start", 0, 5, 0, 0},
        {"shrink at the end into the chunk before", kChunk - 2, 2 * kChunk, 1, 20},
        {"big chords across a chunk end", kChunk - 3, 6, 6, 255},
        {"grow in the middle by chunks", 10, 1, 3 * kChunk, 8},
    };
    SongSteps steps;
    std::vector<SongStep> model;
    for (std::size_t k = 0; k < 2 * kChunk; ++k) steps.push_back(model.emplace_back(chord(k % 12, k)));
    for (const auto& c : cases) {
        std::vector<SongStep> with;
        for (std::size_t k = 0; k < c.added; ++k) with.push_back(chord(c.notes, k));
        steps.Splice(c.first, c.count, with);
        const auto at = model.begin() + static_cast<std::ptrdiff_t>(c.first);
        const auto end = at + static_cast<std::ptrdiff_t>(std::min(c.count, model.size() - c.first));
        model.insert(model.erase(at, end), with.begin(), with.end());
        SongSteps copy = steps;  // shares nothing with `steps`
        copy[c.first].Notes.assign(nullptr, nullptr);
        EXPECT_TRUE(std::ranges::equal(steps, model, same)) << c.what;
    }
    steps.resize(1);  // what was dropped does not come back
    steps.resize(2 * kChunk);
    const auto kept = std::ranges::count_if(steps, [](const SongStep& s) { return !BlankStep(s); });
    EXPECT_EQ(kept, BlankStep(model[0]) ? 0 : 1);
}

// Steps written "60 64|.|-": notes, "." empty, "-" break; notes after "." or "-" are stale notes
// left under an empty step or a break. Changes shown as "+60@0" (start at step 0), "-60@2" (release).
TEST(NoteSpans, StepsBecomeStartsAndReleasesInTheOrderTheySound) {
    const struct { const char* steps; int numSteps, first, end; bool releaseAtEnd; int lastIn;
                   const char* changes; int lastOut; } cases[] = {
        // The last notes step is released before the first notes, even when it is the step itself.
        {"60 64|.|-", 3, 0, 3, true, 0, "-60@0 -64@0 +60@0 +64@0 -60@2 -64@2 -60@3 -64@3", 0},
        // A chord in recorded order; a note in two notes steps is released and struck again.
        {"67 60|60", 2, 0, 2, true, 1, "-60@0 +67@0 +60@0 -67@1 -60@1 +60@1 -60@2", 1},
        // Empty steps hold; a break releases and leaves the last notes step, released again later.
        {"-|.|62|-|.|64", 6, 0, 6, false, -1, "+62@2 -62@3 -62@5 +64@5", 5},
        // Stale notes are released when the last notes step names them, never started.
        {"-70|.71|60", 3, 0, 3, false, 0, "-70@0 -70@2 +60@2", 2},
        {"60", 1, 0, 1, false, 7, "+60@0", 0},  // a last step outside the song names no notes
        {"60|62|64", 3, 1, 2, true, 0, "-60@1 +62@1 -62@2", 1},  // one step and what sounds after it
        {"60|62", 2, 2, 2, true, 1, "-62@2", 1},                  // no step: only the release
        {"60|62|64", 2, 0, 9, false, -1, "+60@0 -60@1 +62@1", 1},  // the song ends before the track
    };
    for (const auto& c : cases) {
        SongTrack track;
        std::istringstream rows(c.steps);
        for (std::string row; std::getline(rows, row, '|');) {
            SongStep step;
            step.StepType = row[0] == '-' ? StepBreak : row[0] == '.' ? StepEmpty : StepNotes;
            std::istringstream notes(row[0] == '-' || row[0] == '.' ? row.substr(1) : row);
            for (int n; notes >> n;) step.Notes.push_back(static_cast<std::uint8_t>(n));
            step.NoteCount = static_cast<std::uint8_t>(step.Notes.size());
            track.Steps.push_back(step);
        }
        std::vector<NoteChange> out;
        int last = c.lastIn;
        AppendNoteChanges(track, c.numSteps, c.first, c.end, c.releaseAtEnd, last, out);
        std::string shown;
        for (const NoteChange& n : out)
            shown += (shown.empty() ? "" : " ") + std::string(n.start ? "+" : "-") + std::to_string(n.note) + "@" +
                     std::to_string(n.step);
        EXPECT_EQ(shown, c.changes) << c.steps;
        EXPECT_EQ(last, c.lastOut) << c.steps;
    }
}

TEST_F(MusicMakerCore, PlaysTheWorkedScheduleAndStopsAtTheEnd) {
    // The interval between steps, rounded half to even.
    const int cases[][3] = {{4, 120, 125}, {3, 120, 167}, {8, 120, 62}, {4, 80, 188}, {1, 30, 2000}, {255, 240, 1}};
    for (const auto& c : cases) EXPECT_EQ(PlayInterval(c[0], c[1]), c[2]) << c[0] << " per beat at " << c[1];
    Keys("R 60:30 B @2");  // played back at the velocity it was recorded with
    SetStepCount(3);
    SetChannelPatch(1, 5);
    MarkSongSaved();
    EXPECT_EQ(Restart(1000).substr(0, 17), "C0 00 C1 05 C2 00");
    EXPECT_EQ(midi.out->sent.size(), 16u);
    EXPECT_EQ(Pos(mm.RecordChecked(), g_lCurStep), Pos(false, 0));
    // Due times and what each sends; the track's last-started entry (step 0) is stopped before its first notes.
    EXPECT_EQ(At(1124.9, 1125, 1250, 1375), " / 90 3C 00 90 3C 1E / 90 3C 00 / ");
    EXPECT_TRUE(mm.PlayChecked());
    At(1500);  // the end: every note of every channel is stopped
    EXPECT_EQ(midi.out->sent.size(), 2048u);
    EXPECT_EQ(midi.out->sent.back(), PackShortMessage(0x9F, 127, 0));
    // Playing edits nothing.
    EXPECT_EQ(std::tuple(mm.PlayChecked(), g_lCurStep, SongChanged()), std::tuple(false, 3, false));
}

// The steps go out on time on the real clock while the UI thread is blocked; what they light and
// copy to the link follows once it is free, in the order the messages went out.
TEST_F(MusicMakerCore, ABlockedUiThreadDoesNotDelayTheSteps) {
    struct TimedOut : FakeMidiOut {
        std::vector<double> at;  // when each of `sent` went out; the note routing serialises sends
        bool Send(std::uint32_t m) override { return at.push_back(SteadyClock().NowMs()), FakeMidiOut::Send(m); }
    };
    auto timed = std::make_unique<TimedOut>();
    const TimedOut& out = *timed;
    SetMidiBackends(std::move(timed), nullptr);
    OpenMIDIOut(0);
    QCoreApplication::processEvents();
    test::FakeLink link;
    for (int k = 0; k < 40; ++k) RecordNote(60 + k % 12);
    SetNotesPerBeat(25);
    SetTempo(240);  // 10 ms steps
    mm.SetClock(nullptr);
    const double start = SteadyClock().NowMs();
    mm.SetPlay(true);
    QTest::qSleep(300);  // a long repaint, a long edit
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mm.PlayChecked(); }, 5000));
    // Each step's note-on, judged loosely: this tests the design, the benchmark has the figures.
    std::size_t step = 0;
    for (std::size_t k = 0; k < out.sent.size(); ++k) {
        if (!(out.sent[k] >> 16)) continue;
        const double due = start + 10.0 * static_cast<double>(++step);
        EXPECT_TRUE(out.at[k] >= due && out.at[k] < due + 100) << "step " << step << " late by " << out.at[k] - due;
    }
    EXPECT_EQ(step, 40u);
    EXPECT_EQ(link.sent, out.sent);
    EXPECT_EQ(g_lCurStep, g_lNumSteps);
}

TEST_F(MusicMakerCore, RecordingDuringPlaybackMayGrowTheSongBeingPlayed) {
    Keys("R +60 +64 -60 -64");
    SetStepCount(1);
    g_Tracks[0].Steps.shrink_to_fit();  // growing by one step now moves every step
    Restart();
    mm.SetRecord(true);
    EXPECT_EQ(At(125), "90 3C 00 90 40 00 90 3C 64 90 40 64");
    EXPECT_EQ(Song(), "60 64 | | @2");
}

TEST_F(MusicMakerCore, LoopPassesAreTwoPlaysBackToBack) {
    Keys("R +60 +64 -60 -64 64 R");  // a chord, a held note struck again, an empty step: notes sound at the end
    std::vector<double> due;
    mm.SetStepObserver([&](long long, double at, double) { due.push_back(at); });
    SetLastSteps({0});
    Restart(0);
    std::string twoPlays = At(125, 250, 375) + " / ";
    Restart(375);  // the second play's first step falls one interval after the first play's last
    twoPlays += At(500, 625, 750);
    const std::vector<double> playedDue = std::exchange(due, {});
    SetLastSteps({0});
    mm.SetLoop(true);
    Restart(0);
    SetTempo(60);  // a tempo change waits for the next start of Play, not for the next pass
    EXPECT_EQ(At(125, 250, 375, 500, 625, 750), twoPlays);
    EXPECT_EQ(due, playedDue);
    // What sounded at the wrap is released before the chord.
    EXPECT_EQ(twoPlays, "90 3C 00 90 40 00 90 3C 64 90 40 64 / 90 3C 00 90 40 00 90 40 64 /  / "
                        "90 40 00 90 3C 64 90 40 64 / 90 3C 00 90 40 00 90 40 64 / ");
    EXPECT_EQ(At(874.9, 875), " / 90 40 00 90 3C 64 90 40 64");
    // A thousand passes missed in a stall are dropped: the three steps left of the last pass play.
    At(875 + 375 * 1000);
    EXPECT_EQ(midi.out->sent.size(), 6u);
    mm.SetLoop(false);  // the pass under way plays to the end of the song, which stops
    At(1e9);
    EXPECT_FALSE(mm.PlayChecked());
    Restart();
    EXPECT_EQ(mm.RunningInterval(), 250);
}

TEST_F(MusicMakerCore, LoopRangeWrapsToItsFirstStep) {
    Keys("R 60 61 62 63 R");  // steps 0 to 3, then the empty step under the cursor
    // Per tick: the notes started, "." none, "end" when Play stopped.
    const struct { bool loop; int first, end; const char* started; } cases[] = {
        {true, 0, MusicMaker::kSongEnd, "60 61 62 63 . 60 61 62"},
        {true, 1, 3, "61 62 61 62 61 62 61 62"},
        {true, 3, 99, "63 . 63 . 63 . 63 ."},
        {true, 6, 9, "end"},  // no step of the song
        {false, 1, 3, "60 61 62 63 . end"},  // without Loop the range plays no part
    };
    for (const auto& c : cases) {
        mm.SetLoop(c.loop);
        mm.SetLoopRange(c.first, c.end);
        Restart();
        std::string started;
        for (int tick = 1; tick <= 8 && mm.PlayChecked(); ++tick) {
            At(125.0 * tick);
            std::string notes;
            for (std::uint32_t m : midi.out->sent)
                if ((m & 0xF0) == 0x90 && (m >> 16) != 0)
                    notes += (notes.empty() ? "" : ",") + std::to_string((m >> 8) & 0x7F);
            started += (started.empty() ? "" : " ") + (!mm.PlayChecked() ? "end" : notes.empty() ? "." : notes);
        }
        EXPECT_EQ(started, c.started) << c.first << ".." << c.end;
    }
}

// Every kind of change on a two-track song, the cursor in the first after a selection from an anchor
// (either way round): both tracks' rows after it ("" where steps are not the point), and the change
// undone and redone exactly, byte for byte as exported. Later steps move up or down; only the
// current track is written; at or past the last step the song grows to hold the cursor.
TEST_F(MusicMakerCore, EveryChangeDoesItsWorkAndUndoesExactly) {
    using Op = std::function<void()>;
    const struct { const char* what; int anchor, cursor; Op prepare, change; const char *track0 = "", *track1 = ""; }
        cases[] = {
        {"record a note", 2, 2, {}, [] { RecordNote(70, 1); }, "60 64 |62 |70 |65 | | @3", "48 | | | | | @3"},
        {"record a chord", 2, 2, {}, [this] { Keys("R +70 +72 -70 +74 -72 -74"); },
         "60 64 |62 |70 72 74 |65 | | @3", "48 | | | | | @3"},
        {"a break over notes", 3, 3, {}, InsertBreak, "60 64 |62 |-|-| | @4", "48 | | | | | @4"},
        {"a break past the end", 5, 5, {}, InsertBreak, "60 64 |62 |-|65 | |-| | @6", "48 | | | | | | | @6"},
        {"a space at the last step", 4, 4, {}, InsertSpace, "60 64 |62 |-|65 | | | @5", "48 | | | | | | @5"},
        {"delete a note", 4, 4, {}, DeleteStepAtCursor, "60 64 |62 |-| | | @3", "48 | | | | | @3"},
        {"delete steps", 1, 2, {}, DeleteSteps, "60 64 |65 | | @1", "48 | | | @1"},
        {"delete steps backwards", 2, 1, {}, DeleteSteps, "60 64 |65 | | @1", "48 | | | @1"},
        {"delete the first step", 0, 0, {}, DeleteSteps, "62 |-|65 | | @0", "48 | | | | @0"},
        {"delete the last steps", 4, 3, {}, DeleteSteps, "60 64 |62 |-| @3", "48 | | | @3"},
        {"cut", 2, 0, {}, CutSteps, "65 | | @0", "48 | | @0"},
        {"paste cut steps in another track", 2, 3, [] { CutSteps(), SetCursor(1, 1); }, PasteSteps,
         "60 64 |62 | | | | @3", "48 |-|65 | | | @3"},
        {"paste copied steps in their track", 0, 1, [] { CopySteps(), SetCursor(0, 4); }, PasteSteps,
         "60 64 |62 |-|65 |60 64 |62 | | @6", "48 | | | | | | | @6"},
        {"insert a step", 1, 1, {}, InsertStep, "60 64 | |62 |-|65 | | @1", "48 | | | | | | @1"},
        {"insert a step past the end", 5, 5, {}, InsertStep, "60 64 |62 |-|65 | | | @5", "48 | | | | | | @5"},
        {"tempo", 2, 2, {}, [] { SetTempo(90); }},
        {"notes per beat", 2, 2, {}, [] { SetNotesPerBeat(6); }},
        {"more tracks", 2, 2, {}, [] { SetTrackCount(4); }},
        {"fewer tracks", 2, 2, {}, [] { SetTrackCount(1); }},
        {"channel", 2, 2, {}, [] { SetTrackChannel(1, 9); }},
        {"instrument", 2, 2, {}, [] { SetChannelPatch(0, 40); }},
        {"new song", 2, 2, {}, NewSong},
        {"open", 2, 2, {}, [] { ApplySong({{SongTrack{3, {SongStep{StepNotes, 1, {80}}}}}, 1, 100, 2, {}, 0}); }},
    };
    for (const auto& c : cases) {
        SetUp();
        SetTrackCount(2);
        Keys("R +60 +64 -60 -64 62 B 65 R");
        SetCursor(1, 0);
        Keys("R 48 R");
        SetCursor(0, c.anchor);
        ExtendSelection(c.cursor);
        if (c.prepare) c.prepare();
        const std::string before = Exported();
        MarkSongSaved();
        c.change();
        const std::string after = Exported();
        if (*c.track0) {
            EXPECT_EQ(Song(0), c.track0) << c.what;
            EXPECT_EQ(Song(1), c.track1) << c.what;
        }
        // A song started afresh or opened has nothing to save yet; every other change has.
        EXPECT_EQ(SongChanged(), std::string(c.what) != "new song" && std::string(c.what) != "open") << c.what;
        SongHistory().undo();
        EXPECT_EQ(Exported(), before) << c.what;
        SongHistory().redo();
        EXPECT_EQ(Exported(), after) << c.what;
    }
}

TEST_F(MusicMakerCore, TheHistoryIsBoundedByCountAndBytes) {
    for (int k = 0; k < kHistoryCommands + 5; ++k) SetTempo(k % 2 ? 100 : 110);
    EXPECT_EQ(SongHistory().count(), kHistoryCommands);
    // Over the byte bound the oldest changes go, the latest stays; what is kept still undoes exactly.
    std::vector<std::string> songs;
    std::vector<std::size_t> bytes;
    for (int n = 1; n <= 4; ++n) {
        songs.push_back(Exported());
        bytes.push_back(HistoryBytes());
        ApplySong({{SongTrack{0, std::vector<SongStep>(10'000 * n, SongStep{StepNotes, 1, {60}})}}, 10'000 * n});
    }
    // Room for the last two replacements only (and the few small changes the count bound dropped meanwhile).
    SetHistoryByteLimit(HistoryBytes() - bytes[2] + 4096);
    SetHistoryByteLimit(kHistoryBytes);
    EXPECT_EQ(SongHistory().count(), 2);
    while (SongHistory().canUndo()) SongHistory().undo();
    EXPECT_EQ(Exported(), songs[2]);
    while (SongHistory().canRedo()) SongHistory().redo();
    SetHistoryByteLimit(1);
    EXPECT_EQ(SongHistory().count(), 1);
}

}  // namespace
