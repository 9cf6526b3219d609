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
    void Trigger(const char* item) { window->findChild<QAction*>(QString::fromLatin1(item))->trigger(); }
    void Key(Qt::Key key) { QTest::keyClick(window.get(), key, Qt::ControlModifier); }
    // The labels of the song, their fixed words left out, and the status line once there is one:
    // "90 BPM, 6, 3, 5".
    QString Labels() {
        QStringList shown;
        for (const char* l : {"lblTempo", "lblNPB", "lblNumTracks", "lblChannel", "lblStatus"})
            if (auto* label = window->findChild<QLabel*>(QString::fromLatin1(l)))
                shown << label->text().section(": ", -1);
        return shown.join(", ");
    }
    // What the dialogs showed since the last call, one a line: "Import MIDI" for a file dialog, else
    // the title, the icon (i, w, ! or ?) and the first line of the text.
    QString Shown() {
        QStringList lines;
        for (const auto& d : dialogs.shown)
            lines << (d.text.contains("(*.mid)") ? d.title
                                                 : d.title + " " + "iw!?"[static_cast<int>(d.icon)] + " " +
                                                       d.text.section('\n', 0, 0));
        dialogs.shown.clear();
        return lines.join('\n');
    }
    QString Path(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray Bytes(const char* name) {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void Put(const char* name, const char* hex) {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromHex(hex));
    }
    void OneNoteSong(int note) { NewSong(), RecordNote(note); }

    test::FakeMidi midi;
    test::FakePiano piano;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<frmMusicMaker> window;
    QTemporaryDir dir;
};

TEST_F(SongFileMenu, ItemsFollowNewInTheirOrder) {
    QStringList items;
    for (QAction* a : window->FileMenu()->actions()) items << a->objectName() + " " + a->text();
    EXPECT_EQ(items.join(", "), "mnuNew &New, mnuOpen &Open..., mnuSave &Save..., sepFile , "
                                "mnuExport E&xport to MIDI..., mnuImport &Import MIDI...");
}

TEST_F(SongFileMenu, SaveAsksOnceThenWritesToTheSameFile) {
    OneNoteSong(60);
    dialogs.inputs = {Path("song.mid")};
    Key(Qt::Key_S);
    EXPECT_EQ(Shown(), "Export to MIDI\nExport to MIDI i MIDI sucessfully created!");
    EXPECT_TRUE(Bytes("song.mid").contains(QByteArray::fromHex("903C64")));
    OneNoteSong(62);
    Trigger("mnuSave");  // no dialog this time: the file was exported through it
    EXPECT_EQ(Shown(), "Export to MIDI i MIDI sucessfully created!");
    EXPECT_TRUE(Bytes("song.mid").contains(QByteArray::fromHex("903E64")));
    // A failed export says so with a critical message and keeps the last good file for Save.
    dialogs.inputs = {QStringLiteral("/dev/full")};
    Trigger("mnuExport");
    EXPECT_EQ(Shown(), "Export to MIDI\nExport to MIDI ! The MIDI file could not be written: No space left on device.");
    Trigger("mnuSave");
    EXPECT_EQ(Shown(), "Export to MIDI i MIDI sucessfully created!");
}

TEST_F(SongFileMenu, OpenShowsTheSongOrKeepsItWithTheReason) {
    // Tempo 90, 6 notes per beat, three tracks, the first on channel 5 with instrument 11.
    const char* in = "4D546864 00000006 0001 0003 0006 4D54726B 00000013 00FF5103 0A2C2B 00C50B 01953C64 01953C00"
                     "00FF2F00 4D54726B 00000008 01924064 00FF2F00 4D54726B 00000004 00FF2F00";
    Put("in.mid", in);
    dialogs.inputs = {Path("in.mid")};
    Key(Qt::Key_O);
    EXPECT_EQ(Shown(), "Import MIDI");  // no message
    EXPECT_EQ(Labels(), "90 BPM, 6, 3, 5");
    EXPECT_EQ(g_bytChannelPatch[5], 11);
    Put("bad.mid", "4D546864 00000006 0002 0001 0006");
    dialogs.inputs = {Path("bad.mid")};
    Trigger("mnuImport");
    EXPECT_TRUE(Shown().startsWith("Import MIDI\nImport MIDI ! The file was not opened: it is a format 2 file"));
    EXPECT_EQ(Labels(), "90 BPM, 6, 3, 5");
    // Save after Open never writes over the opened file: it proposes a new name beside it.
    dialogs.inputs = {std::nullopt};
    Key(Qt::Key_S);
    EXPECT_EQ(dialogs.proposed.back(), Path("in (edited).mid"));
    EXPECT_EQ(Shown(), "Export to MIDI");
    EXPECT_EQ(Bytes("in.mid"), QByteArray::fromHex(in));
    // Onsets that had to move to fit the grid are counted below the tracks, without a dialog.
    Put("late.mid", "4D546864 00000006 0000 0001 03C0 4D54726B 0000000C 01903C64 8740903E64 00FF2F00");
    dialogs.inputs = {Path("late.mid")};
    Trigger("mnuOpen");
    EXPECT_EQ(Shown(), "Import MIDI");
    EXPECT_EQ(Labels(), "120 BPM, 1, 1, 0, 2 of 2 notes moved to fit 1 step per beat, by at most 0.001 step.");
}

// Open, Import and closing the program ask before a changed song is dropped; New asks its own
// question. Save runs Save...; a Save that is cancelled keeps the song, and so does Cancel.
TEST_F(SongFileMenu, ChangedSongsAreNotDroppedWithoutAsking) {
    Put("in.mid", "4D546864 00000006 0000 0001 0004 4D54726B 00000008 01903C64 00FF2F00");
    QWidget piano;
    AskBeforeClosing(piano, [this]() -> frmMusicMaker& { return *window; });
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
            piano.show();
            QFile::remove(Path("saved.mid"));
            dialogs.saveChoices = {choice};
            dialogs.inputs = {};
            if (*how == 'm') dialogs.inputs.push_back(Path("in.mid"));
            if (choice == SaveChoice::Save) dialogs.inputs.push_back(saveAs);
            *how == 'm' ? Trigger(how) : void(piano.close());
            EXPECT_TRUE(Shown().contains(" ? Save changes to the song?"));
            EXPECT_EQ(*how == 'm' ? g_Tracks[0].Steps[0].Notes[0] == 60 : !piano.isVisible(), dropped);
            EXPECT_EQ(QFile::exists(Path("saved.mid")), saveAs.has_value());
        }
    }
    // Nothing changed since the song was started or opened: nothing to ask.
    NewSong();
    Shown();
    dialogs.inputs = {Path("in.mid"), Path("in.mid")};
    Trigger("mnuOpen");
    Trigger("mnuImport");
    piano.show();
    EXPECT_TRUE(piano.close());
    EXPECT_EQ(Shown(), "Import MIDI\nImport MIDI");  // only the two open dialogs
}

}  // namespace
