// The Music Maker's song file items on a real window: dialogs asked, messages shown, song shown.
#include "formats/smf_export.h"
#include "midi/midiio.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/songfile_menu.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

using namespace kivra;

namespace {

class SongFileMenu : public ::testing::Test {
protected:
    void SetUp() override {
        TheMusicMaker().SetPlay(false);
        TheMusicMaker().SetRecord(false);
        NewSong();
        window = std::make_unique<frmMusicMaker>();
        InstallSongFileMenu(*window);
        window->show();
        QApplication::setActiveWindow(window.get());
    }
    void TearDown() override { window.reset(); }
    QAction* Item(const char* name) { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    QString Label(const char* name) { return window->findChild<QLabel*>(QString::fromLatin1(name))->text(); }
    QString Path(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray Bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void Put(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    void OneNoteSong(int note) { NewSong(); g_lCurStep = 0; RecordNote(note); }

    test::FakeMidi midi;
    test::FakePiano piano;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<frmMusicMaker> window;
    QTemporaryDir dir;
};

TEST_F(SongFileMenu, ItemsFollowNewInTheirOrder) {
    QStringList names, captions;
    for (QAction* a : window->FileMenu()->actions()) {
        names << a->objectName();
        captions << a->text();
    }
    EXPECT_EQ(names, (QStringList{"mnuNew", "mnuOpen", "mnuSave", "sepFile", "mnuExport", "mnuImport"}));
    EXPECT_EQ(captions, (QStringList{"&New", "&Open...", "&Save...", "", "E&xport to MIDI...", "&Import MIDI..."}));
    // The shortcuts Ctrl+O and Ctrl+S are pressed by the tests below.
}

TEST_F(SongFileMenu, SaveAsksOnceThenWritesToTheSameFile) {
    OneNoteSong(60);
    dialogs.inputs = {Path("song.mid")};
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].title, "Export to MIDI");  // the save dialog
    EXPECT_EQ(dialogs.shown[1].text, "MIDI sucessfully created!");
    EXPECT_EQ(dialogs.shown[1].icon, MessageIcon::Information);
    const QByteArray first = Bytes(Path("song.mid"));
    EXPECT_TRUE(first.contains(QByteArray::fromHex("903C64")));

    OneNoteSong(62);
    Item("mnuSave")->trigger();  // no dialog this time: the file was exported through it
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[2].text, "MIDI sucessfully created!");
    EXPECT_TRUE(Bytes(Path("song.mid")).contains(QByteArray::fromHex("903E64")));

    // A failed export says so with a critical message and keeps the last good file for Save.
    dialogs.inputs = {QStringLiteral("/dev/full")};
    Item("mnuExport")->trigger();
    EXPECT_EQ(dialogs.shown.back().title, "Export to MIDI");
    EXPECT_EQ(dialogs.shown.back().icon, MessageIcon::Critical);
    EXPECT_TRUE(dialogs.shown.back().text.contains("could not be written"));
    Item("mnuSave")->trigger();
    EXPECT_EQ(dialogs.shown.back().text, "MIDI sucessfully created!");
}

TEST_F(SongFileMenu, OpenShowsTheSongOrKeepsItWithTheReason) {
    // Tempo 90, 6 notes per beat, three tracks, the first on channel 5.
    Put(Path("in.mid"), QByteArray::fromHex("4D546864 00000006 0001 0003 0006"
                                             "4D54726B 00000013 00FF5103 0A2C2B 00C50B 01953C64 01953C00 00FF2F00"
                                             "4D54726B 00000008 01924064 00FF2F00"
                                             "4D54726B 00000004 00FF2F00"));
    dialogs.inputs = {Path("in.mid")};
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs.shown.size(), 1u) << "only the open dialog, no message";
    EXPECT_EQ(dialogs.shown[0].title, "Import MIDI");
    EXPECT_EQ(Label("lblTempo"), "Tempo: 90 BPM");
    EXPECT_EQ(Label("lblNPB"), "Notes Per Beat: 6");
    EXPECT_EQ(Label("lblNumTracks"), "Number of Tracks: 3");
    EXPECT_EQ(Label("lblChannel"), "Output Channel: 5");
    EXPECT_EQ(g_bytChannelPatch[5], 11);

    Put(Path("bad.mid"), QByteArray::fromHex("4D546864 00000006 0002 0001 0006"));
    dialogs.inputs = {Path("bad.mid")};
    Item("mnuImport")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[2].title, "Import MIDI");
    EXPECT_EQ(dialogs.shown[2].icon, MessageIcon::Critical);
    EXPECT_TRUE(dialogs.shown[2].text.contains("format 2")) << dialogs.shown[2].text.toStdString();
    EXPECT_EQ(g_lNumTracks, 3);
    EXPECT_EQ(Label("lblTempo"), "Tempo: 90 BPM");

    // Save after Open never writes over the opened file: it proposes a new name beside it.
    const QByteArray opened = Bytes(Path("in.mid"));
    dialogs.inputs = {std::nullopt};
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(dialogs.proposed.back(), Path("in (edited).mid"));
    EXPECT_EQ(dialogs.shown.back().title, "Export to MIDI");
    EXPECT_EQ(Bytes(Path("in.mid")), opened);

    // Onsets that had to move to fit the grid are counted below the tracks, without a dialog.
    Put(Path("late.mid"), QByteArray::fromHex("4D546864 00000006 0000 0001 03C0 4D54726B 0000000C 01903C64 8740903E64 00FF2F00"));
    dialogs.inputs = {Path("late.mid")};
    const auto before = dialogs.shown.size();
    Item("mnuOpen")->trigger();
    EXPECT_EQ(dialogs.shown.size(), before + 1);
    EXPECT_EQ(Label("lblStatus"), "2 of 2 notes moved to fit 1 step per beat, by at most 0.001 step.");
}

// Open, Import and closing the program ask before a changed song is dropped; New asks its own
// question. Save runs Save...; a Save that is cancelled keeps the song, and so does Cancel.
TEST_F(SongFileMenu, ChangedSongsAreNotDroppedWithoutAsking) {
    Put(Path("in.mid"), QByteArray::fromHex("4D546864 00000006 0000 0001 0004 4D54726B 00000008 01903C64 00FF2F00"));
    QWidget piano;
    AskBeforeClosing(piano, [this]() -> frmMusicMaker& { return *window; });
    const struct {
        const char* what;
        std::vector<SaveChoice> choices;
        std::optional<QString> saveAs;
        bool dropped;
    } cases[] = {
        {"Cancel", {SaveChoice::Cancel}, {}, false},
        {"Save, then cancel the export dialog", {SaveChoice::Save}, std::nullopt, false},
        {"Save to a file", {SaveChoice::Save}, Path("saved.mid"), true},
        {"Discard", {SaveChoice::Discard}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (int how = 0; how < 3; ++how) {  // Open..., Import MIDI..., closing the piano
            OneNoteSong(62);  // a recorded note is a change
            piano.show();
            QFile::remove(Path("saved.mid"));
            dialogs.shown.clear();
            dialogs.saveChoices = {c.choices.begin(), c.choices.end()};
            dialogs.inputs = {};
            if (how < 2) dialogs.inputs.push_back(Path("in.mid"));
            if (c.choices[0] == SaveChoice::Save) dialogs.inputs.push_back(c.saveAs);
            how < 2 ? Item(how == 0 ? "mnuOpen" : "mnuImport")->trigger() : void(piano.close());
            EXPECT_TRUE(std::any_of(dialogs.shown.begin(), dialogs.shown.end(),
                                    [](const auto& d) { return d.text == "Save changes to the song?"; }));
            EXPECT_EQ(how < 2 ? g_Tracks[0].Steps[0].Notes[0] == 60 : !piano.isVisible(), c.dropped) << how;
            EXPECT_EQ(QFile::exists(Path("saved.mid")), c.saveAs.has_value()) << how;
        }
    }
    // Nothing changed since the song was started or opened: nothing to ask.
    NewSong();
    dialogs.shown.clear();
    dialogs.inputs = {Path("in.mid")};
    Item("mnuOpen")->trigger();
    dialogs.inputs = {Path("in.mid")};
    Item("mnuImport")->trigger();
    piano.show();
    EXPECT_TRUE(piano.close());
    EXPECT_EQ(dialogs.shown.size(), 2u) << "only the two open dialogs";
}

}  // namespace
