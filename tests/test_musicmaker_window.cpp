// The Music Maker window driven by real clicks: what it shows and what its controls do to the song.
#include "formats/smf_export.h"
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
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace kivra;

namespace {

class MusicMakerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        mm.SetPlay(false);
        mm.SetRecord(false);
        mm.SetLoop(false);
        NewSong();
        window = std::make_unique<frmMusicMaker>();
        window->show();
        QApplication::setActiveWindow(window.get());  // for the menu's shortcuts
    }
    template <typename T>
    T* Child(const std::string& name) {
        auto* w = window->findChild<T*>(QString::fromStdString(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    StepList* List(int i) { return Child<StepList>("lstTrack" + std::to_string(i)); }
    QScrollBar* Bar(const char* name) { return Child<QScrollBar>(name); }
    void Click(const char* button) { QTest::mouseClick(Child<QPushButton>(button), Qt::LeftButton); }
    // The five track buttons' captions and the four labels, their fixed words left out unless `whole`.
    QString Shown(bool whole = false) {
        QStringList shown;
        for (int i = 0; i < 5; ++i) shown << Child<QPushButton>("cmdTrack" + std::to_string(i))->text();
        shown << "|";
        for (const char* l : {"lblNumTracks", "lblTempo", "lblNPB", "lblChannel"}) shown << Child<QLabel>(l)->text();
        if (!whole) shown.replaceInStrings(QRegularExpression("Track |.*: | BPM"), "");
        return shown.join(' ');
    }
    // The rows of a track list, "|" after each.
    QString Rows(int list) {
        QString rows;
        for (int r = 0; r < List(list)->RowCount(); ++r) rows += List(list)->RowText(r) + "|";
        return rows;
    }

    test::FakeMidi midi;
    test::FakePiano piano;
    test::ScriptedDialogs dialogs;
    MusicMaker& mm = TheMusicMaker();
    std::unique_ptr<frmMusicMaker> window;
};

TEST_F(MusicMakerWindow, BarsAndArrowsShowTracksAndSettingsWithinTheSong) {
    EXPECT_EQ(window->windowTitle(), "Kivra - Music Maker");
    EXPECT_EQ(window->FileMenu()->title(), "&File");
    EXPECT_EQ(Shown(true), "Track 1 - - - - | Number of Tracks: 1 Tempo: 120 BPM Notes Per Beat: 4 Output Channel: 0");
    auto bar = [this](const char* name, int v) { return [=, this] { Bar(name)->setValue(v); }; };
    auto click = [this](const char* name, int n) { return [=, this] { for (int k = 0; k < n; ++k) Click(name); }; };
    // What the window shows after each step, " *" where the step changed the song.
    const std::tuple<const char*, std::function<void()>, const char*> steps[] = {
        {"a new window", [] {}, "1 - - - - | 1 120 4 0"},
        {"seven tracks", bar("hscTracks", 7), "1 2 3 4 5 | 7 120 4 0 *"},
        {"an arrow moves by one track", click("cmdNextTrack", 1), "2 3 4 5 6 | 7 120 4 0"},
        {"arrows stop at the last track", click("cmdNextTrack", 2), "3 4 5 6 7 | 7 120 4 0"},
        {"and at the first", click("cmdPrevTrack", 3), "1 2 3 4 5 | 7 120 4 0"},
        {"tempo", bar("hscTempo", 90), "1 2 3 4 5 | 7 90 4 0 *"},
        {"notes per beat", bar("hscNPB", 8), "1 2 3 4 5 | 7 90 8 0 *"},
        {"channel", bar("hscChannel", 5), "1 2 3 4 5 | 7 90 8 5 *"},
        {"fewer tracks", bar("hscTracks", 2), "1 2 - - - | 2 90 8 5 *"},
    };
    for (const auto& [what, act, shown] : steps) {
        MarkSongSaved();
        act();
        EXPECT_EQ(Shown() + (SongChanged() ? " *" : ""), shown) << what;
        EXPECT_EQ(Rows(0) + Rows(1) + Rows(2) + Rows(3) + Rows(4), "") << what;
    }
    EXPECT_EQ(std::vector<int>({g_lNumTracks, g_lTempo, g_lNotesPerBeat, g_Tracks[0].Channel}),
              std::vector<int>({2, 90, 8, 5}));
}

TEST_F(MusicMakerWindow, RowsShowChordsBreaksAndEmptyStepsWithTheCursorSelected) {
    mm.SetRecord(true);
    PlayNote(60, 100, PlayChannel());
    PlayNote(64, 100, PlayChannel());
    EXPECT_EQ(List(0)->SelectedRow(), 1);
    InsertBreak();
    InsertSpace();
    SetStepCount(3);
    EXPECT_EQ(Rows(0), "60 64 |-| |");
    EXPECT_EQ(List(0)->SelectedRow(), -1);  // the cursor (3) lies past the last row
}

TEST_F(MusicMakerWindow, ClickingARowMovesTheCursorAndTheChannelControls) {
    Bar("hscTracks")->setValue(2);
    SetStepCount(6);
    SetTrackChannel(1, 5);
    SetChannelPatch(5, 24);
    mm.SetRecord(true);
    QTest::mouseClick(List(1)->viewport(), Qt::LeftButton, {}, List(1)->RowRect(2).center());
    EXPECT_EQ(std::vector<int>({g_lCurTrack, g_lCurStep, List(0)->SelectedRow(), List(1)->SelectedRow(),
                                Bar("hscChannel")->value(), piano.instruments.back()}),
              std::vector<int>({1, 2, 2, 2, 5, 24}));
    EXPECT_EQ(Shown(), "1 2 - - - | 2 120 4 5");
    Bar("hscChannel")->setValue(9);  // the channel bar writes the current track's channel
    EXPECT_EQ(g_Tracks[1].Channel, 9);
    // A release over an empty list (no row) and the keyboard leave the cursor alone.
    QTest::mouseClick(List(2)->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(List(1), Qt::Key_Down);
    EXPECT_EQ(std::pair(List(1)->SelectedRow(), g_lCurStep), std::pair(3, 2));
}

TEST_F(MusicMakerWindow, LongSongListScrollsToTheCursorAndFewerTracksMoveTheCurrentOne) {
    Bar("hscTracks")->setValue(4);
    SetStepCount(1000);
    SetCursor(3, 500);
    EXPECT_EQ(List(0)->SelectedRow(), 500);
    EXPECT_TRUE(List(0)->FirstVisibleRow() <= 500 && List(0)->FirstVisibleRow() > 450) << List(0)->FirstVisibleRow();
    Bar("hscTracks")->setValue(2);
    EXPECT_EQ(g_lCurTrack, 1);
}

TEST_F(MusicMakerWindow, RecordPlayAndTrackButtonsAndClosingSwitchThemOff) {
    auto* record = Child<QCheckBox>("chkRecord");
    auto* play = Child<QCheckBox>("chkPlay");
    auto* loop = Child<QCheckBox>("chkLoop");
    // On the box itself: a check box takes clicks on its indicator and caption only.
    auto click = [](QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); };
    click(record);
    EXPECT_TRUE(mm.RecordChecked());
    click(record);
    EXPECT_EQ(piano.locks, (std::vector<bool>{true, false}));
    click(record);
    click(play);  // Play switches Record off
    EXPECT_TRUE(!record->isChecked() && mm.PlayChecked());
    mm.SetPlay(false);
    // Loop, off at first, on Play's row right of its caption, whole, and on no other control: only
    // Record's last pixel row, which lies on Play already, touches it.
    EXPECT_FALSE(loop->isChecked() || mm.LoopChecked());
    click(loop);
    EXPECT_TRUE(mm.LoopChecked() && !mm.PlayChecked());
    mm.SetLoop(false);
    EXPECT_FALSE(loop->isChecked());
    EXPECT_TRUE(loop->y() == play->y() && loop->x() > play->x() + play->sizeHint().width() &&
                loop->width() >= loop->sizeHint().width() &&
                window->centralWidget()->rect().contains(loop->geometry()));
    for (auto* w : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect overlap = w->geometry().intersected(loop->geometry());
        EXPECT_TRUE(w == loop || overlap.isEmpty() || play->geometry().contains(overlap))
            << w->objectName().toStdString();
    }
    // A track button plays its track alone; a dash does nothing.
    RecordNote(60);
    Click("cmdTrack1");
    EXPECT_FALSE(mm.PlayChecked());
    Click("cmdTrack0");
    EXPECT_TRUE(play->isChecked());
    EXPECT_EQ(mm.SoloTrack(), 0);
    // Closing keeps the song and switches Record and Play off.
    mm.SetRecord(true);  // both on while playing
    window->close();
    EXPECT_FALSE(window->isVisible() || mm.RecordChecked() || mm.PlayChecked());
    EXPECT_EQ(mm.SoloTrack(), -1);
    window = std::make_unique<frmMusicMaker>();  // a window made afresh shows the same song
    EXPECT_EQ(Rows(0), "60 | |");
}

// The bars mark the song changed too: see the first test.
TEST_F(MusicMakerWindow, EditsOfWhatAFileHoldsMarkTheSongChanged) {
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"record a note", [] { RecordNote(60); }},
        {"insert a break", [] { InsertBreak(); }},
        {"insert a space", [] { InsertSpace(); }},
        {"delete a note", [] { RecordNote(60), MarkSongSaved(), DeleteStepAtCursor(); }},
        {"", [this] { window->ShowSong(), mm.SetPlay(true), mm.SetPlay(false); }},  // refresh and play: no change
    };
    for (const auto& [what, edit] : changes) {
        NewSong();
        window->ShowSong();
        EXPECT_FALSE(SongChanged()) << what;
        edit();
        EXPECT_EQ(SongChanged(), *what != '\0') << what;
    }
}

TEST_F(MusicMakerWindow, NewAsksBeforeDroppingASongWithSteps) {
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(dialogs.shown.empty());  // nothing to lose
    RecordNote(60);
    Bar("hscTempo")->setValue(90);
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Start a new song? The current song will be lost.");
    EXPECT_EQ(g_lNumSteps, 2);  // answered No
    dialogs.answers.push_back(true);
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(std::pair(g_lNumSteps, g_lNumTracks), std::pair(0, 1));
    EXPECT_EQ(Shown(), "1 - - - - | 1 120 4 0");
    EXPECT_EQ(Rows(0), "");
}

TEST_F(MusicMakerWindow, EditMenuUndoesRecordingAndEditsSelectedSteps) {
    QStringList items;
    for (QAction* a : window->EditMenu()->actions()) items << a->text() + " " + a->shortcuts().value(0).toString();
    EXPECT_EQ(items.join(", "), "Undo Ctrl+Z, Redo Ctrl+Shift+Z,  , Cut Ctrl+X, Copy Ctrl+C, Paste Ctrl+V, "
                                "Delete Del, Insert Step Ins");
    // Two notes recorded, undone and redone from the keyboard: the exported song has one note, then two.
    auto notesExported = [] {
        std::vector<int> last;
        const auto bytes = EncodeMIDIFile(CurrentSong(), last);
        long starts = 0;  // note-ons with velocity 100
        for (std::size_t i = 2; i < bytes.size(); ++i) starts += bytes[i - 2] == 0x90 && bytes[i] == 100;
        return starts;
    };
    mm.SetRecord(true);
    for (int note : {60, 62}) PlayNote(note, 100, PlayChannel()), StopNote(note, PlayChannel());
    mm.SetRecord(false);
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(std::pair(notesExported(), Rows(0)), std::pair(1L, QString("60 | |")));
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(std::pair(notesExported(), List(0)->SelectedRow()), std::pair(2L, 2));
    // Click a row, shift-click another: both and the rows between are selected; Delete removes them.
    RecordNote(64);
    QTest::mouseClick(List(0)->viewport(), Qt::LeftButton, {}, List(0)->RowRect(0).center());
    QTest::mouseClick(List(0)->viewport(), Qt::LeftButton, Qt::ShiftModifier, List(0)->RowRect(1).center());
    EXPECT_EQ(std::pair(List(0)->AnchorRow(), List(0)->SelectedRow()), std::pair(0, 1));
    QTest::keyClick(List(0), Qt::Key_Down, Qt::ShiftModifier);  // shift+arrows extend it, the cursor follows
    EXPECT_EQ(std::pair(SelectedSteps().count, g_lCurStep), std::pair(3, 2));
    QTest::keyClick(window.get(), Qt::Key_Delete);
    EXPECT_EQ(Rows(0), " |");
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Rows(0), "60 |62 |64 | |");
    // With Loop, Play plays the selected steps over and over; one row selected is the whole song.
    mm.SetLoop(true);
    for (int last : {2, 1}) {
        QTest::mouseClick(List(0)->viewport(), Qt::LeftButton, {}, List(0)->RowRect(1).center());
        QTest::mouseClick(List(0)->viewport(), Qt::LeftButton, Qt::ShiftModifier, List(0)->RowRect(last).center());
        Child<QCheckBox>("chkPlay")->setChecked(true);
        const auto whole = std::pair(0, MusicMaker::kSongEnd), selected = std::pair(1, 3);
        EXPECT_EQ(std::pair(mm.LoopRange(), g_lCurStep), std::pair(last == 2 ? selected : whole, last == 2 ? 1 : 0));
        mm.SetPlay(false);
    }
}

// One drag of a bar is one change, whatever the values it passes through.
TEST_F(MusicMakerWindow, AScrollBarDragIsUndoneInOneStep) {
    const std::pair<const char*, int> bars[] = {{"hscTempo", 140}, {"hscNPB", 8}, {"hscTracks", 6}, {"hscChannel", 7}};
    for (const auto& [name, to] : bars) {
        QScrollBar* bar = Bar(name);
        const int from = bar->value(), changes = SongHistory().index();
        bar->setSliderDown(true);
        for (int v = from + 1; v <= to; ++v) bar->setValue(v);
        bar->setSliderDown(false);
        EXPECT_EQ(SongHistory().index(), changes + 1) << name;
        SongHistory().undo();
        EXPECT_EQ(bar->value(), from) << name;
    }
    EXPECT_EQ(Shown(), "1 - - - - | 1 120 4 0");
}

}  // namespace
