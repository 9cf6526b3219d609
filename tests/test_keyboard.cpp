#include "keyboard/frmkeyconfig.h"
#include "keyboard/keyactions.h"
#include "keyboard/keyhook.h"
#include "keyboard/keymap.h"
#include "midi/midiio.h"
#include "musicmaker/songops.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kivra {
namespace {

using test::FakePiano;

using test::FakeRecorder;

// A top-level window with a text box: what it receives is what the hook let through.
struct TypingWindow {
    QWidget window;
    QLineEdit* edit = new QLineEdit(&window);
    TypingWindow() {
        (new QVBoxLayout(&window))->addWidget(edit);
        window.resize(200, 60);
    }
    void Activate() {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
    }
};

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearKeyMap(g_KeyMap);
        g_bKeyDown.fill(false);
        SetPianoPort(&port);
        SetRecorderPort(&recorder);
        piano.Activate();
        InstallKeyboardHook(&piano.window);
        midi.ClearSent();
    }
    void TearDown() override {
        RemoveKeyboardHook();
        SetPianoPort(nullptr);
        SetRecorderPort(nullptr);
        ClearKeyMap(g_KeyMap);
    }
    test::FakeMidi midi;
    FakePiano port;
    FakeRecorder recorder;
    TypingWindow piano;
};

TEST_F(KeyboardTest, ChordRelativeToTheOctaveIgnoresAutoRepeatAndIsWithheld) {
    g_KeyMap[0x41] = {1, 3, {0, 4, 7}};
    QTest::keyPress(piano.edit, Qt::Key_A);
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 40 64 90 43 64");
    EXPECT_TRUE(g_bKeyDown[0x41]);
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QString(), true);  // X11 auto-repeat
    QKeyEvent repeatPress(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(piano.edit, &repeatRelease);
    QApplication::sendEvent(piano.edit, &repeatPress);
    QTest::keyPress(piano.edit, Qt::Key_A);  // a repeated press without release, as on Windows
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 40 64 90 43 64");
    QTest::keyRelease(piano.edit, Qt::Key_A);
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 40 64 90 43 64 90 3C 00 90 40 00 90 43 00");
    EXPECT_FALSE(g_bKeyDown[0x41]);
    EXPECT_EQ(piano.edit->text(), "");
    // Through the platform window, as real key events arrive: still acted on once.
    midi.ClearSent();
    QTest::keyClick(piano.window.windowHandle(), Qt::Key_A);
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 40 64 90 43 64 90 3C 00 90 40 00 90 43 00");
    EXPECT_EQ(piano.edit->text(), "");
}

TEST_F(KeyboardTest, ReleaseIsMatchedToItsPressByScanCode) {
    g_KeyMap[0x41] = {1, 1, {0}};
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 38, 0, 0);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Adiaeresis, Qt::NoModifier, 38, 0, 0);
    QApplication::sendEvent(piano.edit, &press);
    QApplication::sendEvent(piano.edit, &release);
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 3C 00");
}

TEST_F(KeyboardTest, NotesAbove127AreSkippedAndReleaseUsesTheOctaveOfNow) {
    g_KeyMap[0x41] = {1, 4, {0, 4, 7, 12}};
    g_KeyMap[0x42] = {2, 3, {21, 108, 200}};  // note numbers: the octave plays no part
    port.octave = 9;
    QTest::keyPress(piano.edit, Qt::Key_A);
    QTest::keyClick(piano.edit, Qt::Key_B);
    EXPECT_EQ(midi.SentHex(), "90 78 64 90 7C 64 90 7F 64 90 15 64 90 6C 64 90 15 00 90 6C 00");
    midi.ClearSent();
    port.octave = 3;
    QTest::keyRelease(piano.edit, Qt::Key_A);
    EXPECT_EQ(midi.SentHex(), "90 30 00 90 34 00 90 37 00 90 3C 00");
    EXPECT_EQ(piano.edit->text(), "");
}

TEST_F(KeyboardTest, PlayChannelFollowsDrumModeAndTheRecordingTrack) {
    g_KeyMap[0x41] = {1, 1, {0}};
    NewSong();
    port.drum = true;
    QTest::keyClick(piano.edit, Qt::Key_A);
    port.drum = false;
    recorder.record = true;
    recorder.channel = 5;
    QTest::keyClick(piano.edit, Qt::Key_A);
    EXPECT_EQ(midi.SentHex(), "99 3C 64 99 3C 00 95 3C 64 95 3C 00");
}

TEST_F(KeyboardTest, MusicMakerKeysActOnlyWhileRecordingButAreAlwaysWithheld) {
    g_KeyMap[0x20] = {3, 0, {}};
    g_KeyMap[0x0D] = {4, 0, {}};
    g_KeyMap[0x2E] = {5, 0, {}};
    NewSong();
    QTest::keyClick(piano.edit, Qt::Key_Space);
    QTest::keyClick(piano.edit, Qt::Key_Return);
    EXPECT_EQ(g_lCurStep, 0);
    recorder.record = true;
    QTest::keyClick(piano.edit, Qt::Key_Return);  // break at step 0
    QTest::keyClick(piano.edit, Qt::Key_Space);   // space at step 1
    QTest::keyClick(piano.edit, Qt::Key_Return);  // break at step 2
    ASSERT_EQ(g_lCurStep, 3);
    EXPECT_EQ(StepAt(0, 0)->StepType, StepBreak);
    EXPECT_EQ(StepAt(0, 2)->StepType, StepBreak);
    QTest::keyClick(piano.edit, Qt::Key_Delete);  // back one step and empty it
    EXPECT_EQ(g_lCurStep, 2);
    EXPECT_EQ(StepAt(0, 2)->StepType, StepEmpty);
    EXPECT_EQ(StepAt(0, 0)->StepType, StepBreak);
    for (int i = 0; i < 5; ++i) QTest::keyClick(piano.edit, Qt::Key_Delete);
    EXPECT_EQ(g_lCurStep, 0);
    EXPECT_EQ(piano.edit->text(), "");
    EXPECT_EQ(midi.SentHex(), "");
}

TEST_F(KeyboardTest, UnmappedKeysAndUnknownActionsPassOn) {
    g_KeyMap[0x43] = {0, 1, {0}};
    g_KeyMap[0x44] = {7, 1, {0}};
    QTest::keyClicks(piano.edit, "cde");
    EXPECT_EQ(piano.edit->text(), "cde");
    EXPECT_EQ(midi.SentHex(), "");
}

TEST_F(KeyboardTest, LeavingThePianoWindowReleasesHeldKeysAndNothingIsActedOnElsewhere) {
    g_KeyMap[0x41] = {1, 2, {0, 7}};
    QTest::keyPress(piano.edit, Qt::Key_A);
    TypingWindow other;
    other.Activate();
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 43 64 90 3C 00 90 43 00");
    EXPECT_FALSE(g_bKeyDown[0x41]);
    midi.ClearSent();
    QTest::keyRelease(other.edit, Qt::Key_A);
    QTest::keyClick(other.edit, Qt::Key_A);
    EXPECT_EQ(other.edit->text(), "a");
    EXPECT_EQ(midi.SentHex(), "");
    piano.Activate();
    QTest::keyPress(piano.edit, Qt::Key_A);  // a fresh press, not taken for a repeat
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 43 64");
}

class KeyConfigTest : public KeyboardTest {
protected:
    frmKeyConfig form;
    test::ScriptedDialogs dialogs;
};

TEST_F(KeyConfigTest, CapturesEveryKeyWhileWaitingEvenInsideItsModalLoop) {
    g_KeyMap[0x51] = {2, 2, {60, 64}};
    EXPECT_EQ(form.chkKey()->text(), "(Press Key)");
    QString captured;
    QTimer::singleShot(0, &form, [&] {
        if (!QTest::qWaitForWindowActive(&form)) return form.done(0);
        QTest::keyPress(&form, Qt::Key_Q);
        captured = form.chkKey()->text();
        QTest::keyRelease(&form, Qt::Key_Q);
        form.chkKey()->click();                // back to waiting
        QTest::keyClick(&form, Qt::Key_Escape);  // captured too: the window stays open
        const bool stillOpen = form.isVisible();
        form.done(stillOpen ? 7 : 0);
    });
    EXPECT_EQ(form.exec(), 7);
    EXPECT_EQ(captured, "Q");
    EXPECT_EQ(form.CurrentKey(), 0x1B);
    EXPECT_EQ(form.chkKey()->text(), "?");
}

TEST_F(KeyConfigTest, CapturedKeyShowsItsActionAndNotesAndEditsGoStraightIn) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::mouseClick(form.chkNote(50), Qt::LeftButton);  // before any capture: entry 0 only
    EXPECT_EQ(g_KeyMap[0].Notes, std::vector<std::uint8_t>{50});
    g_KeyMap[0x51] = {2, 2, {60, 64}};
    QTest::keyClick(&form, Qt::Key_Q);
    EXPECT_TRUE(form.optAction(2)->isChecked());
    EXPECT_FALSE(form.chkNote(50)->isChecked());
    EXPECT_TRUE(form.chkNote(60)->isChecked());
    QTest::mouseClick(form.chkNote(67), Qt::LeftButton);
    QTest::mouseClick(form.chkNote(62), Qt::LeftButton);
    EXPECT_EQ(g_KeyMap[0x51].Notes, (std::vector<std::uint8_t>{60, 62, 64, 67}));
    EXPECT_EQ(g_KeyMap[0x51].NoteCount, 4);
    form.chkNote(60)->setFocus();
    QTest::keyClick(form.chkNote(60), Qt::Key_Space);  // toggles the box; notes catch up later
    EXPECT_FALSE(form.chkNote(60)->isChecked());
    EXPECT_EQ(g_KeyMap[0x51].NoteCount, 4);
    QTest::mouseClick(form.optAction(1), Qt::LeftButton);
    EXPECT_EQ(g_KeyMap[0x51].Action, 1);
    QImage face = form.chkNote(67)->grab().toImage();
    EXPECT_EQ(face.pixelColor(face.width() / 2, face.height() / 2), QColor(255, 0, 0));
    face = form.chkNote(61)->grab().toImage();
    EXPECT_EQ(face.pixelColor(face.width() / 2, face.height() / 2), QColor(0, 0, 0));
}

TEST_F(KeyConfigTest, ForeignActionCodeSelectsNoOptionAndIsKept) {
    g_KeyMap[0x41] = {9, 1, {1}};
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_A);
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(form.optAction(i)->isChecked());
    EXPECT_EQ(g_KeyMap[0x41].Action, 9);
}

TEST_F(KeyConfigTest, SaveAndLoadProfilesByName) {
    QDir(UserProfilesDir()).removeRecursively();
    g_KeyMap[0x41] = {1, 3, {0, 4, 7}};
    dialogs.inputs = {QStringLiteral("../evil"), QStringLiteral("mine"), std::nullopt};
    form.cmdSave()->click();
    form.cmdSave()->click();
    form.cmdSave()->click();  // cancelled: nothing shown
    ASSERT_EQ(dialogs.shown.size(), 5u);
    EXPECT_EQ(dialogs.shown[1].text, "An error occured while saving the profile!");
    EXPECT_EQ(dialogs.shown[1].icon, MessageIcon::Critical);
    EXPECT_EQ(dialogs.shown[3].title, "Save Profile");
    EXPECT_EQ(dialogs.shown[3].text, "Profile Saved!");
    EXPECT_FALSE(QFile::exists(UserProfilesDir() + "/../evil.kmp"));
    EXPECT_EQ(QFile(UserProfilesDir() + "/mine.kmp").size(), 26);
    g_KeyMap[0x41] = {3, 0, {}};
    g_KeyMap[0x42] = {1, 1, {2}};  // not in the profile: cleared by the load
    dialogs.inputs = {QStringLiteral("mine")};
    form.cmdLoad()->click();
    EXPECT_EQ(g_KeyMap[0x41], (KeyMapEntry{1, 3, {0, 4, 7}}));
    EXPECT_EQ(g_KeyMap[0x42], KeyMapEntry{});
    EXPECT_EQ(port.captionUpdates, 1);
    dialogs.inputs = {QStringLiteral("absent")};
    form.cmdLoad()->click();
    EXPECT_EQ(dialogs.shown.back().text, "An error occured while loading the profile!");
    EXPECT_EQ(g_KeyMap[0x41], (KeyMapEntry{1, 3, {0, 4, 7}}));
    EXPECT_EQ(port.captionUpdates, 1);
}

}  // namespace
}  // namespace kivra
