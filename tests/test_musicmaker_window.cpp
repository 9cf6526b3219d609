// The Music Maker window driven by real clicks and keys: what it shows, what its controls do to the
// song, and its song file items (dialogs asked, messages shown, files written).
#include "midi/devices.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/songfile_menu.h"
#include "musicmaker/steplist.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUndoStack>

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
        InstallSongFileMenu(*window);
        window->show();
        QApplication::setActiveWindow(window.get());  // for the menus' shortcuts
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
    void ClickRow(int row, Qt::KeyboardModifiers keys = {}, int list = 0) {
        QTest::mouseClick(List(list)->viewport(), Qt::LeftButton, keys, List(list)->RowRect(row).center());
    }
    void Trigger(const char* item) { Child<QAction>(item)->trigger(); }
    void Key(Qt::Key key, Qt::KeyboardModifiers m = Qt::ControlModifier) { QTest::keyClick(window.get(), key, m); }
    // The five track buttons' captions and the four labels, their fixed words left out unless `whole`.
    QString Labels(bool whole = false) {
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
    // What the dialogs showed since the last call, one a line: "Import MIDI" for a file dialog, else
    // the title, the icon (i, w, ! or ?) and the first line of the text.
    QString Asked() {
        QStringList lines;
        for (const auto& d : dialogs.shown)
            lines << (d.text.contains("(*.mid)") ? d.title
                                                 : d.title + " " + "iw!?"[static_cast<int>(d.icon)] + " " +
                                                       d.text.section('\n', 0, 0));
        dialogs.shown.clear();
        return lines.join('\n');
    }
    QString Path(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray Bytes(const char* name) { return test::ReadFile(Path(name)); }
    void Put(const char* name, const char* hex) { test::WriteFile(Path(name), QByteArray::fromHex(hex)); }
    void OneNoteSong(int note) { NewSong(), RecordNote(note); }

    test::FakeMidi midi;
    test::FakePiano piano;
    test::ScriptedDialogs dialogs;
    MusicMaker& mm = TheMusicMaker();
    std::unique_ptr<frmMusicMaker> window;
    QTemporaryDir dir;
};

TEST_F(MusicMakerWindow, MenusListTheirItemsAndBarsAndArrowsShowTracksAndSettings) {
    QStringList items{window->windowTitle()};
    for (QMenu* menu : {window->FileMenu(), window->EditMenu()}) {
        items << menu->title() + ":";
        for (QAction* a : menu->actions())
            items << (a->objectName() + " " + a->text() + " " + a->shortcuts().value(0).toString()).trimmed();
    }
    EXPECT_EQ(items.join(", ").toStdString(),
              "Kivra - Music Maker, &File:, mnuNew &New Ctrl+N, mnuOpen &Open... Ctrl+O, mnuSave &Save... Ctrl+S, "
              "sepFile, mnuExport E&xport to MIDI..., mnuExportAudio Export &Audio..., mnuImport &Import MIDI..., &Edit:, mnuUndo Undo Ctrl+Z, "
              "mnuRedo Redo Ctrl+Shift+Z, , mnuCut Cut Ctrl+X, mnuCopy Copy Ctrl+C, mnuPaste Paste Ctrl+V, "
              "mnuDelete Delete Del, mnuInsertStep Insert Step Ins");
    EXPECT_EQ(Labels(true), "Track 1 - - - - | Number of Tracks: 1 Tempo: 120 BPM Notes Per Beat: 4 Output Channel: 0");
    auto bar = [this](const char* name, int v) { return [=, this] { Bar(name)->setValue(v); }; };
    auto click = [this](const char* name, int n) { return [=, this] { for (int k = 0; k < n; ++k) Click(name); }; };
    // What the window shows after each step, " *" where the step changed the song.
    const std::tuple<const char*, std::function<void()>, const char*> steps[] = {
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
        EXPECT_EQ(Labels() + (SongChanged() ? " *" : ""), shown) << what;
    }
    EXPECT_EQ(std::vector<int>({g_lNumTracks, g_lTempo, g_lNotesPerBeat, g_Tracks[0].Channel}),
              std::vector<int>({2, 90, 8, 5}));
}

TEST_F(MusicMakerWindow, ClickingARowMovesTheCursorAndTheChannelControlsAndTheListFollowsTheCursor) {
    Bar("hscTracks")->setValue(2);
    SetStepCount(6);
    SetTrackChannel(1, 5);
    SetChannelPatch(5, 24);
    mm.SetRecord(true);
    ClickRow(2, {}, 1);
    EXPECT_EQ(std::vector<int>({g_lCurTrack, g_lCurStep, List(0)->SelectedRow(), List(1)->SelectedRow(),
                                Bar("hscChannel")->value(), piano.instruments.back()}),
              std::vector<int>({1, 2, 2, 2, 5, 24}));
    EXPECT_EQ(Labels(), "1 2 - - - | 2 120 4 5");
    Bar("hscChannel")->setValue(9);  // the channel bar writes the current track's channel
    EXPECT_EQ(g_Tracks[1].Channel, 9);
    // A release over an empty list (no row) and the keyboard leave the cursor alone.
    QTest::mouseClick(List(2)->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(List(1), Qt::Key_Down);
    EXPECT_EQ(std::pair(List(1)->SelectedRow(), g_lCurStep), std::pair(3, 2));
    SetStepCount(1000);  // a long list scrolls to the cursor, and selects no row past its last
    SetCursor(1, 500);
    EXPECT_TRUE(List(0)->FirstVisibleRow() <= 500 && List(0)->FirstVisibleRow() > 450) << List(0)->FirstVisibleRow();
    SetCursor(1, 1000);
    EXPECT_EQ(List(0)->SelectedRow(), -1);
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
    EXPECT_FALSE(mm.RecordChecked());
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
    // A track button plays its track alone.
    RecordNote(60);
    Click("cmdTrack0");
    EXPECT_TRUE(play->isChecked() && mm.SoloTrack() == 0);
    // Closing keeps the song and switches Record and Play off.
    mm.SetRecord(true);  // both on while playing
    window->close();
    EXPECT_FALSE(window->isVisible() || mm.RecordChecked() || mm.PlayChecked() || mm.SoloTrack() != -1);
    window = std::make_unique<frmMusicMaker>();  // a window made afresh shows the same song
    EXPECT_EQ(Rows(0), "60 | |");
}

TEST_F(MusicMakerWindow, EditMenuEditsSelectedStepsAndUndoesThem) {
    for (int note : {60, 62, 64}) RecordNote(note);
    // Click a row, shift-click another: both and the rows between are selected; Delete removes them.
    ClickRow(0);
    ClickRow(1, Qt::ShiftModifier);
    EXPECT_EQ(std::pair(List(0)->AnchorRow(), List(0)->SelectedRow()), std::pair(0, 1));
    QTest::keyClick(List(0), Qt::Key_Down, Qt::ShiftModifier);  // shift+arrows extend it, the cursor follows
    EXPECT_EQ(std::pair(SelectedSteps().count, g_lCurStep), std::pair(3, 2));
    Key(Qt::Key_Delete, {});
    EXPECT_EQ(Rows(0), " |");
    Key(Qt::Key_Z);
    EXPECT_EQ(Rows(0), "60 |62 |64 | |");
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(std::pair(Rows(0), List(0)->SelectedRow()), std::pair(QString(" |"), 0));
    Key(Qt::Key_Z);
    // With Loop, Play plays the selected steps over and over; one row selected is the whole song.
    mm.SetLoop(true);
    for (int last : {2, 1}) {
        ClickRow(1);
        ClickRow(last, Qt::ShiftModifier);
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
    EXPECT_EQ(Labels(), "1 - - - - | 1 120 4 0");
}

TEST_F(MusicMakerWindow, SaveAsksOnceThenWritesToTheSameFile) {
    OneNoteSong(60);
    dialogs.inputs = {Path("song.mid")};
    Key(Qt::Key_S);
    EXPECT_EQ(Asked(), "Export to MIDI\nExport to MIDI i MIDI sucessfully created!");
    EXPECT_TRUE(Bytes("song.mid").contains(QByteArray::fromHex("903C64")));
    OneNoteSong(62);
    Trigger("mnuSave");  // no dialog this time: the file was exported through it
    EXPECT_EQ(Asked(), "Export to MIDI i MIDI sucessfully created!");
    EXPECT_TRUE(Bytes("song.mid").contains(QByteArray::fromHex("903E64")));
    // A failed export says so with a critical message and keeps the last good file for Save.
    dialogs.inputs = {QStringLiteral("/dev/full")};
    Trigger("mnuExport");
    EXPECT_EQ(Asked(), "Export to MIDI\nExport to MIDI ! The MIDI file could not be written: No space left on device.");
    Trigger("mnuSave");
    EXPECT_EQ(Asked(), "Export to MIDI i MIDI sucessfully created!");
}

// Export Audio... renders the song with the saved SoundFont, adding the chosen format's extension
// to a bare name, and says where it went, or why not; Cancel in its progress leaves no file.
TEST_F(MusicMakerWindow, ExportAudioWritesTheSongOrSaysWhyNotAndCancelLeavesNoFile) {
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), QStringLiteral(KIVRA_TEST_DATA_DIR "/sound/tiny.sf2"));
    OneNoteSong(69);
    dialogs.inputs = {Path("song"), Path("none/song.wav"), Path("long.wav")};
    Trigger("mnuExportAudio"), Trigger("mnuExportAudio");
    const QString told = Asked();
    EXPECT_TRUE(told.contains("Export Audio i The song was written to " + Path("song.wav")) &&
                told.contains("Export Audio ! " + Path("none/song.wav") + " could not")) << told.toStdString();
    SetStepCount(200000);  // an hour and more of song: the render is still going when Cancel is clicked
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [this] {
        if (auto* p = window->findChild<QProgressDialog*>(); p && p->isVisible())
            QTest::mouseClick(p->findChild<QPushButton*>(), Qt::LeftButton);
    });
    cancel.start(20);
    Trigger("mnuExportAudio");
    EXPECT_EQ(Asked(), "Export Audio ? WAV 16-bit (*.wav);;WAV 24-bit (*.wav);;FLAC (*.flac)");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"song.wav"});
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), QString());
}

TEST_F(MusicMakerWindow, OpenShowsTheSongOrKeepsItWithTheReason) {
    // Tempo 90, 6 notes per beat, three tracks, the first on channel 5 with instrument 11.
    const char* in = "4D546864 00000006 0001 0003 0006 4D54726B 00000013 00FF5103 0A2C2B 00C50B 01953C64 01953C00"
                     "00FF2F00 4D54726B 00000008 01924064 00FF2F00 4D54726B 00000004 00FF2F00";
    Put("in.mid", in);
    dialogs.inputs = {Path("in.mid")};
    Key(Qt::Key_O);
    EXPECT_EQ(Asked(), "Import MIDI");  // no message
    EXPECT_EQ(Labels(), "1 2 3 - - | 3 90 6 5");
    // Save after Open never writes over the opened file: it proposes a new name beside it.
    dialogs.inputs = {std::nullopt};
    Key(Qt::Key_S);
    EXPECT_EQ(dialogs.proposed.back(), Path("in (edited).mid"));
    EXPECT_EQ(Asked(), "Export to MIDI");
    EXPECT_EQ(Bytes("in.mid"), QByteArray::fromHex(in));
}

// Open, Import and closing the program ask before a changed song is dropped; New asks its own
// question, whenever there are steps to lose. Save runs Save...; a Save that is cancelled keeps the
// song, and so does Cancel.
TEST_F(MusicMakerWindow, ChangedSongsAreNotDroppedWithoutAsking) {
    Put("in.mid", "4D546864 00000006 0000 0001 0004 4D54726B 00000008 01903C64 00FF2F00");
    QWidget pianoWindow;
    AskBeforeClosing(pianoWindow, [this]() -> frmMusicMaker& { return *window; });
    const std::tuple<SaveChoice, std::optional<QString>, bool> cases[] = {
        {SaveChoice::Cancel, {}, false},
        {SaveChoice::Save, std::nullopt, false},  // then the export dialog is cancelled
        {SaveChoice::Save, Path("saved.mid"), true},
        {SaveChoice::Discard, {}, true},
    };
    for (const auto& [choice, saveAs, dropped] : cases) {
        for (const char* how : {"mnuOpen", "mnuImport", "close"}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(choice)) + how);
            OneNoteSong(62);  // a recorded note is a change
            pianoWindow.show();
            QFile::remove(Path("saved.mid"));
            dialogs.saveChoices = {choice};
            dialogs.inputs = {};
            if (*how == 'm') dialogs.inputs.push_back(Path("in.mid"));
            if (choice == SaveChoice::Save) dialogs.inputs.push_back(saveAs);
            *how == 'm' ? Trigger(how) : void(pianoWindow.close());
            EXPECT_TRUE(Asked().contains(" ? Save changes to the song?"));
            EXPECT_EQ(*how == 'm' ? g_Tracks[0].Steps[0].Notes[0] == 60 : !pianoWindow.isVisible(), dropped);
            EXPECT_EQ(QFile::exists(Path("saved.mid")), saveAs.has_value());
        }
    }
    // Nothing changed since the song was started or opened: nothing to ask but New's question.
    NewSong();
    Asked();
    Key(Qt::Key_N);
    dialogs.inputs = {Path("in.mid"), Path("in.mid")};
    Trigger("mnuOpen");
    Trigger("mnuImport");
    pianoWindow.show();
    EXPECT_TRUE(pianoWindow.close());
    Bar("hscTempo")->setValue(90);
    dialogs.answers = {false, true};
    for (int k = 0; k < 2; ++k) Key(Qt::Key_N);  // asked again: No kept the steps
    const QString asked = "\nNew Song ? Start a new song? The current song will be lost.";
    EXPECT_EQ(Asked(), "Import MIDI\nImport MIDI" + asked + asked);
    EXPECT_EQ(Labels() + Rows(0), "1 - - - - | 1 120 4 0");
}

}  // namespace
