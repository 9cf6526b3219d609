// The instrument list of the piano window: its rows, and what choosing a row sends.
#include "app/datadir.h"
#include "app/frmpiano.h"
#include "app/instruments.h"
#include "midi/midiio.h"
#include "musicmaker/song.h"
#include "testsupport.h"

#include <QComboBox>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace kivra {
namespace {

struct FakeRecorder : RecorderPort {
    int channel = 2;
    FakeRecorder() { SetRecorderPort(this); }
    ~FakeRecorder() override { SetRecorderPort(nullptr); }
    bool RecordChecked() const override { return true; }
    int CurrentTrackChannel() const override { return channel; }
    void RecordNote(int) override {}
};

class InstrumentList : public ::testing::Test {
protected:
    explicit InstrumentList(bool open = true) : midi(open) {}
    void SetUp() override {
        SetDataDir(QStringLiteral(KIVRA_SOURCE_DATA_DIR));
        g_bytChannelPatch.fill(0);
        piano = std::make_unique<frmPiano>();
        piano->show();
        test::ProcessEvents();
        midi.ClearSent();
    }
    void TearDown() override {
        piano.reset();
        g_bytChannelPatch.fill(0);
        g_lChannel = 0;
    }
    QComboBox& List() { return *piano->cmbInstrument(); }
    // Picks `row` as a user does: from the row above, one step down with the keyboard.
    void Pick(int row) {
        List().setCurrentIndex(row - 1);
        QTest::keyClick(&List(), Qt::Key_Down);
        ASSERT_EQ(List().currentIndex(), row);
    }

    test::FakeMidi midi;
    std::unique_ptr<frmPiano> piano;
};

TEST_F(InstrumentList, HoldsSixtyThreeRowsUnderSevenHeadingsWithPictures) {
    ASSERT_EQ(List().count(), 63);
    EXPECT_EQ(List().currentIndex(), 1);
    EXPECT_EQ(List().currentText(), "Acoustic Grand Piano");
    const QStringList headings = {"(Pianos)", "(Chromatic Percussion)", "(Organs)", "(Guitars)",
                                  "(Basses)", "(Strings)",              "(Ensemble)"};
    QStringList seen;
    int nextPatch = 0;
    for (int row = 0; row < List().count(); ++row) {
        const QVariant patch = List().itemData(row, Qt::UserRole);
        if (!patch.isValid()) {
            seen << List().itemText(row);
            EXPECT_EQ(List().itemData(row, kIndentRole).toInt(), 0);
            EXPECT_TRUE(List().itemIcon(row).isNull());
            continue;
        }
        EXPECT_EQ(patch.toInt(), nextPatch++) << row;  // program order
        EXPECT_EQ(List().itemData(row, kIndentRole).toInt(), 1);
        // Every group but the ensembles shows its picture.
        EXPECT_EQ(List().itemIcon(row).isNull(), patch.toInt() >= 48) << row;
    }
    EXPECT_EQ(seen, headings);
    EXPECT_EQ(nextPatch, 56);
    EXPECT_EQ(List().itemText(21), "Rock Organ");
    EXPECT_EQ(List().itemText(28), "Acoustic Guitar (Nylon)");
    EXPECT_EQ(List().itemText(62), "Orchestra Hit");
    EXPECT_EQ(InstrumentRowOfPatch(40), 46);
    EXPECT_EQ(InstrumentRowOfPatch(56), -1);
}

TEST_F(InstrumentList, ChoosingARowSendsItsProgramOnThePlayChannel) {
    Pick(18);  // "(Organs)"
    EXPECT_EQ(midi.SentHex(), "");
    EXPECT_EQ(List().currentText(), "(Organs)");
    Pick(21);
    EXPECT_EQ(midi.SentHex(), "C0 12");
    EXPECT_EQ(List().currentText(), "Rock Organ");
    EXPECT_EQ(g_bytChannelPatch[0], 0);  // only recording stores the patch
}

TEST_F(InstrumentList, WhileRecordingTheTrackChannelGetsAndRemembersThePatch) {
    FakeRecorder recorder;
    Pick(46);  // "Violin"
    EXPECT_EQ(midi.SentHex(), "C2 28");
    EXPECT_EQ(g_bytChannelPatch[2], 40);
    EXPECT_EQ(g_bytChannelPatch[0], 0);
    midi.ClearSent();
    recorder.channel = 5;
    piano->UpdateInstrument(0);  // the song's patch for the track: selected and sent, not stored
    EXPECT_EQ(List().currentIndex(), 1);
    EXPECT_EQ(midi.SentHex(), "C5 00");
    EXPECT_EQ(g_bytChannelPatch[5], 0);
}

TEST_F(InstrumentList, UpdateInstrumentAndSetPatchMoveTheSelection) {
    List().setCurrentIndex(30);
    piano->UpdateInstrument(0);
    EXPECT_EQ(List().currentIndex(), 1);  // the instrument, not the heading above it
    EXPECT_EQ(midi.SentHex(), "C0 00");

    midi.ClearSent();
    piano->UpdateInstrument(200);  // no row carries it: selection kept, still sent
    EXPECT_EQ(List().currentIndex(), 1);
    EXPECT_EQ(midi.SentHex(), "C0 48");

    g_lChannel = 3;  // assigned by the link
    SetPatch(18, 3);
    EXPECT_EQ(List().currentText(), "Rock Organ");
    SetPatch(24, 5);
    EXPECT_EQ(List().currentText(), "Rock Organ");
    g_lChannel = 0;
    midi.ClearSent();
    SetPatch(200, 0);
    EXPECT_EQ(midi.SentHex(), "C0 48");
    EXPECT_EQ(List().currentText(), "Rock Organ");
}

class InstrumentListClosed : public InstrumentList {
protected:
    InstrumentListClosed() : InstrumentList(false) {}
};

TEST_F(InstrumentListClosed, ChoiceWhileRecordingIsRememberedWithNoDevice) {
    FakeRecorder recorder;
    Pick(33);  // "Overdriven Guitar"
    EXPECT_TRUE(midi.out->sent.empty());
    EXPECT_EQ(g_bytChannelPatch[2], 29);
}

}  // namespace
}  // namespace kivra
