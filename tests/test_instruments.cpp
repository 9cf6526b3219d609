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

struct FakeRecorder : test::FakeRecorder {
    FakeRecorder() {
        record = true;
        channel = 2;
    }
};

class InstrumentList : public ::testing::Test {
protected:
    void SetUp() override {
        SetDataDir(QStringLiteral(KIVRA_SOURCE_DATA_DIR));
        g_bytChannelPatch.fill(0);
        piano = std::make_unique<frmPiano>();
        piano->show();
        test::ProcessEvents();
        midi.ClearSent();
    }
    QComboBox& List() { return *piano->cmbInstrument(); }
    // Picks `row` as a user does, from the row above with the Down key; returns what was sent.
    std::string Pick(int row) {
        midi.ClearSent();
        List().setCurrentIndex(row - 1);
        QTest::keyClick(&List(), Qt::Key_Down);
        EXPECT_EQ(List().currentIndex(), row);
        return midi.SentHex();
    }

    test::FakeMidi midi;
    std::unique_ptr<frmPiano> piano;
};

TEST_F(InstrumentList, HoldsSixtyThreeRowsUnderSevenHeadingsWithPictures) {
    ASSERT_EQ(List().count(), 63);
    EXPECT_EQ(List().currentIndex(), 1);
    EXPECT_EQ(List().currentText(), "Acoustic Grand Piano");
    QStringList headings;
    int nextPatch = 0;
    for (int row = 0; row < List().count(); ++row) {
        const QVariant patch = List().itemData(row, Qt::UserRole);
        const bool heading = !patch.isValid();
        if (heading) headings << List().itemText(row);
        else EXPECT_EQ(patch.toInt(), nextPatch++) << row;  // program order
        EXPECT_EQ(List().itemData(row, kIndentRole).toInt(), heading ? 0 : 1) << row;
        // Every group but the ensembles shows its picture; headings show none.
        EXPECT_EQ(List().itemIcon(row).isNull(), heading || patch.toInt() >= 48) << row;
    }
    EXPECT_EQ(headings, QStringList({"(Pianos)", "(Chromatic Percussion)", "(Organs)", "(Guitars)", "(Basses)",
                                     "(Strings)", "(Ensemble)"}));
    EXPECT_EQ(nextPatch, 56);
    EXPECT_EQ(List().itemText(21), "Rock Organ");
    EXPECT_EQ(List().itemText(28), "Acoustic Guitar (Nylon)");
    EXPECT_EQ(List().itemText(62), "Orchestra Hit");
    EXPECT_EQ(InstrumentRowOfPatch(40), 46);
    EXPECT_EQ(InstrumentRowOfPatch(56), -1);
}

TEST_F(InstrumentList, ChoosingARowSendsItsProgramOnThePlayChannel) {
    EXPECT_EQ(Pick(18), "");  // a heading sends nothing and stays selected
    EXPECT_EQ(List().currentText(), "(Organs)");
    EXPECT_EQ(Pick(21), "C0 12");
    EXPECT_EQ(List().currentText(), "Rock Organ");
    EXPECT_EQ(g_bytChannelPatch[0], 0);  // only recording stores the patch
}

TEST_F(InstrumentList, WhileRecordingTheTrackChannelGetsAndRemembersThePatch) {
    FakeRecorder recorder;
    EXPECT_EQ(Pick(46), "C2 28");  // "Violin"
    EXPECT_EQ(g_bytChannelPatch[2], 40);
    EXPECT_EQ(g_bytChannelPatch[0], 0);
    midi.ClearSent();
    recorder.channel = 5;
    piano->UpdateInstrument(0);  // the song's patch for the track: selected and sent, not stored
    EXPECT_EQ(List().currentIndex(), 1);  // the instrument, not the heading above it
    EXPECT_EQ(midi.SentHex(), "C5 00");
    EXPECT_EQ(g_bytChannelPatch[5], 0);

    CloseMIDIDevices();  // with no device the choice is still remembered
    recorder.channel = 2;
    EXPECT_EQ(Pick(33), "");  // "Overdriven Guitar"
    EXPECT_EQ(g_bytChannelPatch[2], 29);
}

TEST_F(InstrumentList, UpdateInstrumentAndSetPatchMoveTheSelection) {
    List().setCurrentIndex(30);
    piano->UpdateInstrument(200);  // no row carries it: selection kept, still sent
    EXPECT_EQ(List().currentIndex(), 30);
    EXPECT_EQ(midi.SentHex(), "C0 48");
    g_lChannel = 3;  // assigned by the link
    SetPatch(18, 3);
    EXPECT_EQ(List().currentText(), "Rock Organ");
    SetPatch(200, 3);
    EXPECT_EQ(List().currentText(), "Rock Organ");
}

}  // namespace
}  // namespace kivra
