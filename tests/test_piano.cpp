// The piano window driven through real mouse events, with fake MIDI devices.
#include "app/datadir.h"
#include "app/frmpiano.h"
#include "app/pianokey.h"
#include "keyboard/keymap.h"
#include "midi/midiio.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace kivra {
namespace {

class PianoWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetDataDir(QStringLiteral(KIVRA_SOURCE_DATA_DIR));
        piano = std::make_unique<frmPiano>();
        piano->show();
        test::ProcessEvents();
        midi.ClearSent();
    }
    void Press(int note, int y, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(piano->cmdNote(note), button, {}, QPoint(4, y));
    }
    void Move(int note, int y) { QTest::mouseMove(piano->cmdNote(note), QPoint(4, y)); }
    void Release(int note, int y, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(piano->cmdNote(note), button, {}, QPoint(4, y));
    }
    // Press at y 10, drag to `y`, release there; returns what was sent.
    std::string Stroke(int note, int y) {
        midi.ClearSent();
        Press(note, 10);
        Move(note, y);
        Release(note, y);
        return midi.SentHex();
    }

    test::FakeMidi midi;
    std::unique_ptr<frmPiano> piano;
};

TEST_F(PianoWindow, LeftClickPlaysLightsAndReleasesWithBendResetAndADoubleClickHangsNothing) {
    Press(61, 10);
    EXPECT_TRUE(piano->cmdNote(61)->isChecked());
    EXPECT_EQ(piano->cmdNote(61)->BackColour(), QColor(213, 0, 0));
    Release(61, 10);
    EXPECT_FALSE(piano->cmdNote(61)->isChecked());
    EXPECT_EQ(piano->cmdNote(61)->BackColour(), QColor(0, 0, 0));
    // As the platform delivers a double click: press, release, press, double click, release.
    Press(61, 10);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(4, 10), piano->cmdNote(61)->mapToGlobal(QPointF(4, 10)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(piano->cmdNote(61), &dbl);
    Release(61, 10);
    EXPECT_EQ(midi.SentHex(), "90 3D 64 90 3D 00 E0 00 40 90 3D 64 90 3D 00 E0 00 40");
}

TEST_F(PianoWindow, DraggingBendsFourUnitsPerPixelFromThePressPointWhichTheRightButtonMoves) {
    Press(60, 10);
    midi.ClearSent();
    // Down 5 px: 8192 + 20; up 5 px: 8192 - 20; above the key the pressed key keeps the moves.
    for (int y : {15, 5, -3, 11}) Move(60, y);
    EXPECT_EQ(midi.SentHex(), "E0 14 40 E0 6C 3F E0 4C 3F E0 04 40");
    Press(60, 30, Qt::RightButton);
    Move(60, 25);  // two buttons held: no bend
    Release(60, 25, Qt::RightButton);
    midi.ClearSent();
    Move(60, 30);  // the right press at 30 is now the origin
    QTest::mouseClick(piano->cmdNote(64), Qt::RightButton, {}, QPoint(4, 4));  // plays nothing
    EXPECT_EQ(midi.SentHex(), "E0 00 40");
    Release(60, 30);
}

TEST_F(PianoWindow, PressDragAndReleaseUseThePlayChannel) {
    test::FakeRecorder recorder;
    recorder.channel = 3;
    const struct {
        bool drum, record;
        const char* sent;
    } cases[] = {{true, false, "99 3D 64 E9 04 40 99 3D 00 E9 00 40"},
                 {false, true, "93 3D 64 E3 04 40 93 3D 00 E3 00 40"},
                 {false, false, "95 3D 64 E5 04 40 95 3D 00 E5 00 40"}};
    g_lChannel = 5;
    for (const auto& c : cases) {
        if (piano->chkDrumMode()->isChecked() != c.drum) QTest::mouseClick(piano->chkDrumMode(), Qt::LeftButton);
        recorder.record = c.record;
        EXPECT_EQ(Stroke(61, 11), c.sent);
    }
    EXPECT_EQ(recorder.recorded, std::vector<int>{61});
}

TEST_F(PianoWindow, OctaveChangeReleasesHeldNotesAndRelabels) {
    EXPECT_EQ(piano->lblOctave()->text(), "Octave: 4");
    Press(61, 10);
    midi.ClearSent();
    QTest::keyClick(piano->hscOctave(), Qt::Key_Left);
    EXPECT_EQ(piano->lblOctave()->text(), "Octave: 3");
    EXPECT_EQ(midi.SentHex(), "90 3D 00");
    EXPECT_FALSE(piano->cmdNote(61)->isChecked());
    EXPECT_EQ(g_lNotesDown, 0);
    midi.ClearSent();
    Release(61, 10);  // one more note-off
    EXPECT_EQ(midi.SentHex(), "90 3D 00 E0 00 40");
}

TEST_F(PianoWindow, CaptionsShowMappedKeysRelativeToTheBaseOctave) {
    const KeyMap saved = g_KeyMap;
    ClearKeyMap(g_KeyMap);
    g_KeyMap[0x41] = {kActionPlayRelative, 2, {0, 1}};  // A
    g_KeyMap[0x42] = {kActionPlaySpecific, 1, {62}};    // B: other actions show nothing
    g_KeyMap[0x5A] = {kActionPlayRelative, 1, {0}};     // Z: higher code wins offset 0
    g_KeyMap[0x31] = {kActionPlayRelative, 2, {7, 8}};  // 1
    QTest::keyClick(piano->hscOctave(), Qt::Key_Left);
    QTest::keyClick(piano->hscOctave(), Qt::Key_Right);  // back to 4: offset 0 on note 60
    const struct {
        int octave, note;
        const char* caption;
    } cases[] = {{4, 60, "\r\n\r\nZ"},  {4, 61, "\r\nA"},  {4, 62, ""},        {4, 67, "\r\n\r\n1"},
                 {4, 68, "\r\n1"},      {9, 60, ""},       {9, 120, "\r\n\r\nZ"},
                 {9, 127, "\r\n\r\n1"},  // offset 8 would be 128: dropped
                 {-1, 0, "\r\n\r\nZ"},  {-1, 120, ""}};
    for (const auto& c : cases) {
        piano->hscOctave()->setValue(c.octave);
        EXPECT_EQ(piano->cmdNote(c.note)->text(), c.caption) << "octave " << c.octave << " note " << c.note;
    }
    g_KeyMap = saved;
}

TEST_F(PianoWindow, LitKeyShowsExactlyItsColourAndThePressedLook) {
    auto centre = [](PianoKey* key) {
        const QImage image = key->grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    };
    PianoKey* white = piano->cmdNote(60);
    PianoKey* black = piano->cmdNote(61);
    EXPECT_EQ(centre(white), QColor(255, 255, 255));
    EXPECT_EQ(centre(black), QColor(0, 0, 0));
    const QImage blackRaised = black->grab().toImage();
    PlayNote(60, 100, 0);
    PlayNote(61, 30, 1);
    EXPECT_TRUE(white->isChecked());
    EXPECT_EQ(centre(white), QColor(255, 43, 43));
    const Rgb dim = ColorHLSToRGB(30, 30, 240);
    EXPECT_EQ(centre(black), QColor(dim.r, dim.g, dim.b));
    black->SetLook(QColor(0, 0, 0), true);  // pressed in its plain colour it still looks pressed
    EXPECT_NE(black->grab().toImage(), blackRaised);
    StopNote(60, 0);
    EXPECT_FALSE(white->isChecked());
    EXPECT_EQ(centre(white), QColor(255, 255, 255));
}

TEST_F(PianoWindow, LayoutFollowsTheTwipGrid) {
    EXPECT_EQ(piano->windowTitle(), "Kivra");
    EXPECT_EQ(piano->centralWidget()->size(), QSize(705, 281));
    EXPECT_EQ(piano->picPiano()->geometry(), QRect(8, 72, 689, 201));
    EXPECT_EQ(piano->cmdNote(0)->geometry(), QRect(8, 136, 25, 57));    // bottom row C
    EXPECT_EQ(piano->cmdNote(1)->geometry(), QRect(24, 136, 17, 33));   // C#: 240 twips in
    EXPECT_EQ(piano->cmdNote(60)->geometry(), QRect(176, 72, 25, 57));  // middle row, second octave
    EXPECT_EQ(piano->cmdNote(127)->geometry(), QRect(440, 8, 25, 57));  // top row G
    EXPECT_EQ(piano->fraOctave()->geometry(), QRect(472, 8, 209, 57));
    // Black keys lie over the white keys they overlap.
    EXPECT_EQ(piano->picPiano()->childAt(piano->cmdNote(1)->geometry().center()), piano->cmdNote(1));
    const std::pair<QToolButton*, QString> buttons[] = {
        {piano->cmdKeyConfig(), "Key Config"}, {piano->cmdMIDI(), "MIDI Devices"},
        {piano->chkDrumMode(), "Drum Mode"},   {piano->cmdLink(), "ZuduvIvev"},
        {piano->cmdTracker(), "Music Maker"}};
    int left = 264;
    for (const auto& [button, caption] : buttons) {
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->geometry(), QRect(left, 8, 81, 57)) << caption.toStdString();
        EXPECT_FALSE(button->icon().isNull()) << caption.toStdString();
        left += 88;
    }
    EXPECT_EQ(piano->hscOctave()->nextInFocusChain(), piano->cmdNote(0));
    for (int n = 0; n < 127; ++n) EXPECT_EQ(piano->cmdNote(n)->nextInFocusChain(), piano->cmdNote(n + 1));
}

TEST_F(PianoWindow, ButtonsAboutAndCloseReachTheirHandlers) {
    const std::pair<QToolButton*, void (frmPiano::*)()> buttons[] = {
        {piano->cmdKeyConfig(), &frmPiano::keyConfigRequested},
        {piano->cmdMIDI(), &frmPiano::devicesRequested},
        {piano->cmdLink(), &frmPiano::linkRequested},
        {piano->cmdTracker(), &frmPiano::musicMakerRequested}};
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const auto& b : buttons) spies.push_back(std::make_unique<QSignalSpy>(piano.get(), b.second));
    for (std::size_t i = 0; i < spies.size(); ++i) {  // each click raises its own request only
        QTest::mouseClick(buttons[i].first, Qt::LeftButton);
        for (std::size_t j = 0; j < spies.size(); ++j) EXPECT_EQ(spies[j]->count(), j <= i ? 1 : 0) << i << j;
    }
    test::ScriptedDialogs dialogs;
    QAction* about = piano->menuBar()->findChild<QAction*>("mnuAbout");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "&About...");
    about->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title + '|' + dialogs.shown[0].text, "About Kivra|Kivra Beta");
    EXPECT_EQ(dialogs.shown[0].icon, MessageIcon::Information);
    QSignalSpy closing(piano.get(), &frmPiano::closing);
    piano->close();
    EXPECT_EQ(closing.count(), 1);
}

TEST(PianoStart, MissingPicturesBreakNothing) {
    SetDataDir(QStringLiteral("/nonexistent-kivra-data"));
    frmPiano piano;
    EXPECT_TRUE(piano.cmdKeyConfig()->icon().isNull());
    EXPECT_TRUE(piano.cmbInstrument()->itemIcon(1).isNull());
}

}  // namespace
}  // namespace kivra
