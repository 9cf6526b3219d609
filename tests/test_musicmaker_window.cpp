// The Music Maker window driven by real clicks: what it shows and what its controls do to the song.
#include "midi/midiio.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/steplist.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

using namespace kivra;

namespace {

using test::FakePiano;
using Pos = std::pair<int, int>;

class MusicMakerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TheMusicMaker().SetPlay(false);
        TheMusicMaker().SetRecord(false);
        NewSong();
        window = std::make_unique<frmMusicMaker>();
        window->show();
        QApplication::setActiveWindow(window.get());  // for the menu's shortcuts
    }
    void TearDown() override {
        window.reset();
    }
    template <typename T>
    T* Child(const char* name) {
        auto* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton* Button(int i) { return Child<QPushButton>(("cmdTrack" + std::to_string(i)).c_str()); }
    StepList* List(int i) { return Child<StepList>(("lstTrack" + std::to_string(i)).c_str()); }
    QString Label(const char* name) { return Child<QLabel>(name)->text(); }
    QStringList Captions() {
        QStringList c;
        for (int i = 0; i < 5; ++i) c << Button(i)->text();
        return c;
    }
    // On the box itself: a check box takes clicks on its indicator and caption only.
    void Click(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); }
    void ClickRow(StepList* list, int row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->RowRect(row).center());
    }

    test::FakeMidi midi;
    FakePiano piano;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<frmMusicMaker> window;
};

TEST_F(MusicMakerWindow, NewWindowShowsOneEmptyTrackAndTheDefaults) {
    EXPECT_EQ(window->windowTitle(), "Kivra - Music Maker");
    EXPECT_EQ(Captions(), (QStringList{"Track 1", "-", "-", "-", "-"}));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(List(i)->RowCount(), 0);
    EXPECT_EQ(Label("lblNumTracks"), "Number of Tracks: 1");
    EXPECT_EQ(Label("lblTempo"), "Tempo: 120 BPM");
    EXPECT_EQ(Label("lblNPB"), "Notes Per Beat: 4");
    EXPECT_EQ(Label("lblChannel"), "Output Channel: 0");
    EXPECT_EQ(window->FileMenu()->title(), "&File");
}

TEST_F(MusicMakerWindow, RowsShowChordsBreaksAndEmptyStepsWithTheCursorSelected) {
    TheMusicMaker().SetRecord(true);
    PlayNote(60, 100, PlayChannel());
    PlayNote(64, 100, PlayChannel());
    EXPECT_EQ(List(0)->SelectedRow(), 1);
    InsertBreak();
    InsertSpace();
    SetStepCount(3);
    window->RefreshCaptions();
    StepList* list = List(0);
    ASSERT_EQ(list->RowCount(), 3);
    EXPECT_EQ(list->RowText(0), "60 64 ");
    EXPECT_EQ(list->RowText(1), "-");
    EXPECT_EQ(list->RowText(2), " ");
    EXPECT_EQ(list->SelectedRow(), -1);  // the cursor (3) lies past the last row
}

TEST_F(MusicMakerWindow, ArrowsScrollOneTrackAtATimeWithinTheSong) {
    Child<QScrollBar>("hscTracks")->setValue(7);
    EXPECT_EQ(Label("lblNumTracks"), "Number of Tracks: 7");
    auto* next = Child<QPushButton>("cmdNextTrack");
    auto* prev = Child<QPushButton>("cmdPrevTrack");
    for (int k = 0; k < 3; ++k) QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(Captions(), (QStringList{"Track 3", "Track 4", "Track 5", "Track 6", "Track 7"}));
    for (int k = 0; k < 2; ++k) QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(Captions(), (QStringList{"Track 1", "Track 2", "Track 3", "Track 4", "Track 5"}));
}

TEST_F(MusicMakerWindow, ClickingARowMovesTheCursorAndTheChannelControls) {
    Child<QScrollBar>("hscTracks")->setValue(2);
    SetStepCount(6);
    g_Tracks[1].Channel = 5;
    g_bytChannelPatch[5] = 24;
    window->RefreshCaptions();
    TheMusicMaker().SetRecord(true);
    ClickRow(List(1), 2);
    EXPECT_EQ(Pos(g_lCurTrack, g_lCurStep), Pos(1, 2));
    EXPECT_TRUE(List(0)->SelectedRow() == 2 && List(1)->SelectedRow() == 2);
    EXPECT_EQ(Child<QScrollBar>("hscChannel")->value(), 5);
    EXPECT_EQ(Label("lblChannel"), "Output Channel: 5");
    EXPECT_EQ(piano.instruments.back(), 24);

    // The channel bar writes the current track's channel.
    Child<QScrollBar>("hscChannel")->setValue(9);
    EXPECT_EQ(g_Tracks[1].Channel, 9);
    // A release over an empty list (no row) and the keyboard leave the cursor alone.
    QTest::mouseClick(List(2)->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(List(1), Qt::Key_Down);
    EXPECT_EQ(List(1)->SelectedRow(), 3);
    EXPECT_EQ(g_lCurStep, 2);
}

TEST_F(MusicMakerWindow, LongSongListScrollsToTheCursorAndFewerTracksMoveTheCurrentOne) {
    Child<QScrollBar>("hscTracks")->setValue(4);
    SetStepCount(1000);
    g_lCurStep = 500;
    g_lCurTrack = 3;
    window->RefreshCaptions();
    StepList* list = List(0);
    EXPECT_EQ(list->SelectedRow(), 500);
    EXPECT_LE(list->FirstVisibleRow(), 500);
    EXPECT_GT(list->FirstVisibleRow(), 450);
    Child<QScrollBar>("hscTracks")->setValue(2);
    EXPECT_EQ(g_lCurTrack, 1);
    EXPECT_EQ(Captions(), (QStringList{"Track 1", "Track 2", "-", "-", "-"}));
}

TEST_F(MusicMakerWindow, RecordBoxLocksThePianoAndPlayBoxSwitchesItOff) {
    auto* record = Child<QCheckBox>("chkRecord");
    Click(record);
    EXPECT_TRUE(TheMusicMaker().RecordChecked());
    Click(record);
    EXPECT_EQ(piano.locks, (std::vector<bool>{true, false}));
    Click(record);
    Click(Child<QCheckBox>("chkPlay"));
    EXPECT_FALSE(record->isChecked());
    EXPECT_TRUE(TheMusicMaker().PlayChecked());
}

TEST_F(MusicMakerWindow, TrackButtonsPlayTheirTrackAloneAndDashesDoNothing) {
    RecordNote(60);
    QTest::mouseClick(Button(1), Qt::LeftButton);
    EXPECT_FALSE(TheMusicMaker().PlayChecked());
    QTest::mouseClick(Button(0), Qt::LeftButton);
    EXPECT_TRUE(Child<QCheckBox>("chkPlay")->isChecked());
    EXPECT_EQ(TheMusicMaker().SoloTrack(), 0);
}

TEST_F(MusicMakerWindow, ClosingKeepsTheSongAndSwitchesRecordAndPlayOff) {
    RecordNote(60);
    TheMusicMaker().PlayTrackAlone(0);
    TheMusicMaker().SetRecord(true);  // both on while playing
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(TheMusicMaker().RecordChecked());
    EXPECT_FALSE(TheMusicMaker().PlayChecked());
    EXPECT_EQ(TheMusicMaker().SoloTrack(), -1);
    window = std::make_unique<frmMusicMaker>();  // a window made afresh shows the same song
    EXPECT_EQ(List(0)->RowText(0), "60 ");
}

TEST_F(MusicMakerWindow, EditsOfWhatAFileHoldsMarkTheSongChanged) {
    const struct {
        const char* what;
        std::function<void()> edit;
        bool changes;
    } cases[] = {
        {"record a note", [] { RecordNote(60); }, true},
        {"insert a break", [] { InsertBreak(); }, true},
        {"insert a space", [] { InsertSpace(); }, true},
        {"delete a note", [] { RecordNote(60); g_bSongChanged = false; DeleteStepAtCursor(); }, true},
        {"tempo", [this] { Child<QScrollBar>("hscTempo")->setValue(90); }, true},
        {"notes per beat", [this] { Child<QScrollBar>("hscNPB")->setValue(8); }, true},
        {"channel", [this] { Child<QScrollBar>("hscChannel")->setValue(3); }, true},
        {"tracks", [this] { Child<QScrollBar>("hscTracks")->setValue(2); }, true},
        {"refresh and play", [this] { window->ShowSong(); TheMusicMaker().SetPlay(true); TheMusicMaker().SetPlay(false); }, false},
    };
    for (const auto& c : cases) {
        NewSong();
        window->ShowSong();
        EXPECT_FALSE(g_bSongChanged) << c.what;
        c.edit();
        EXPECT_EQ(g_bSongChanged, c.changes) << c.what;
    }
}

TEST_F(MusicMakerWindow, NewAsksBeforeDroppingASongWithSteps) {
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(dialogs.shown.empty());  // nothing to lose

    RecordNote(60);
    Child<QScrollBar>("hscTempo")->setValue(90);
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Start a new song? The current song will be lost.");
    EXPECT_EQ(g_lNumSteps, 2);  // answered No

    dialogs.answers.push_back(true);
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(g_lNumSteps, 0);
    EXPECT_EQ(g_lNumTracks, 1);
    EXPECT_EQ(Label("lblTempo"), "Tempo: 120 BPM");
    EXPECT_EQ(List(0)->RowCount(), 0);
}

}  // namespace
