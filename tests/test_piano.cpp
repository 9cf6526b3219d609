// The piano window driven through real mouse and key events, with fake MIDI devices: playing and
// bending, key captions, its layout, enlarging and buttons, choosing an instrument, a dark theme;
// and every window's names for screen readers and caption widths.
#include "app/datadir.h"
#include "app/frmpiano.h"
#include "app/pianokey.h"
#include "app/translations.h"
#include "keyboard/frmkeyconfig.h"
#include "keyboard/keymap.h"
#include "link/frmlink.h"
#include "midi/devices.h"
#include "midi/frmdevices.h"
#include "midi/frmsound.h"
#include "midi/midiio.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/song.h"
#include "musicmaker/songfile_menu.h"
#include "testsupport.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>


#include <algorithm>
#include <memory>
#include <tuple>

namespace kivra {
namespace {

class PianoWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetDataDir(QStringLiteral(KIVRA_SOURCE_DATA_DIR));
        g_bytChannelPatch.fill(0);
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
    QComboBox& List() { return *piano->cmbInstrument(); }
    // Picks `row` of the instrument list as a user does, from the row above with the Down key; returns what was sent.
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

TEST_F(PianoWindow, ClicksDoubleClicksPlayAndDragsBendFourUnitsPerPixelFromThePressPointWhichTheRightButtonMoves) {
    // A double click as the platform delivers it: press, release, press, double click; then a drag.
    Press(61, 10);
    Release(61, 10);
    Press(61, 10);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(4, 10), piano->cmdNote(61)->mapToGlobal(QPointF(4, 10)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(piano->cmdNote(61), &dbl);
    Move(61, 11);
    Release(61, 11);
    EXPECT_EQ(midi.SentHex(), "90 3D 64 90 3D 00 E0 00 40 90 3D 64 E0 04 40 90 3D 00 E0 00 40");
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

TEST_F(PianoWindow, CaptionsShowMappedKeysRelativeToTheBaseOctave) {
    ClearKeyMap(g_KeyMap);
    g_KeyMap[0x41] = {kActionPlayRelative, 2, {0, 1}};  // A
    g_KeyMap[0x42] = {kActionPlaySpecific, 1, {62}};    // B: other actions show nothing
    g_KeyMap[0x5A] = {kActionPlayRelative, 1, {0}};     // Z: higher code wins offset 0
    g_KeyMap[0x31] = {kActionPlayRelative, 2, {7, 8}};  // 1
    QTest::keyClick(piano->hscOctave(), Qt::Key_Left);
    EXPECT_EQ(piano->lblOctave()->text(), "Octave: 3");  // from 4
    const struct { int octave, note; const char* caption; } cases[] = {
        {4, 60, "\r\n\r\nZ"}, {4, 61, "\r\nA"}, {4, 62, ""}, {4, 67, "\r\n\r\n1"}, {4, 68, "\r\n1"}, {9, 60, ""},
        {9, 120, "\r\n\r\nZ"}, {9, 127, "\r\n\r\n1"},  // offset 8 would be 128: dropped
        {-1, 0, "\r\n\r\nZ"}, {-1, 120, ""}};
    for (const auto& c : cases) {
        piano->hscOctave()->setValue(c.octave);
        EXPECT_EQ(piano->cmdNote(c.note)->text(), c.caption) << "octave " << c.octave << " note " << c.note;
    }
}

TEST_F(PianoWindow, LayoutFollowsTheTwipGridAndButtonsAboutAndCloseReachTheirHandlers) {
    EXPECT_EQ(piano->windowTitle(), "Kivra");
    EXPECT_EQ(piano->centralWidget()->size(), QSize(705, 281));
    // Keys: the bottom row's C, its C# 240 twips in, the middle row's second C, the top row's G.
    const std::pair<QWidget*, QRect> boxes[] = {
        {piano->picPiano(), {8, 72, 689, 201}},     {piano->cmdNote(0), {8, 136, 25, 57}},
        {piano->cmdNote(1), {24, 136, 17, 33}},     {piano->cmdNote(60), {176, 72, 25, 57}},
        {piano->cmdNote(127), {440, 8, 25, 57}},    {piano->fraOctave(), {472, 8, 209, 57}}};
    for (auto [widget, box] : boxes) EXPECT_EQ(widget->geometry(), box) << widget->metaObject()->className();
    // Black keys lie over the white keys they overlap.
    EXPECT_EQ(piano->picPiano()->childAt(piano->cmdNote(1)->geometry().center()), piano->cmdNote(1));
    EXPECT_EQ(piano->hscOctave()->nextInFocusChain(), piano->cmdNote(0));
    for (int n = 0; n < 127; ++n) EXPECT_EQ(piano->cmdNote(n)->nextInFocusChain(), piano->cmdNote(n + 1));
    // Each button's box, caption and picture, and the request it makes: each once, in order.
    const std::tuple<QToolButton*, QRect, const char*, void (frmPiano::*)()> buttons[] = {
        {piano->cmdKeyConfig(), {264, 8, 81, 57}, "Key Config", &frmPiano::keyConfigRequested},
        {piano->cmdMIDI(), {352, 8, 81, 57}, "MIDI Devices", &frmPiano::devicesRequested},
        {piano->chkDrumMode(), {440, 8, 81, 57}, "Drum Mode", nullptr},
        {piano->cmdLink(), {528, 8, 81, 57}, "ZuduvIvev", &frmPiano::linkRequested},
        {piano->cmdTracker(), {616, 8, 81, 57}, "Music Maker", &frmPiano::musicMakerRequested}};
    QStringList requests;
    for (auto [button, box, caption, signal] : buttons) {
        EXPECT_EQ(button->geometry(), box) << caption;
        EXPECT_TRUE(button->text() == caption && !button->icon().isNull()) << caption;
        if (signal) QObject::connect(piano.get(), signal, [&, caption] { requests << caption; });
    }
    QObject::connect(piano.get(), &frmPiano::closing, [&] { requests << "closing"; });
    for (const auto& button : buttons)
        if (std::get<3>(button)) QTest::mouseClick(std::get<0>(button), Qt::LeftButton);
    // Enlarged, the keys grow with the window; shrunk, it keeps the twips layout as its least size.
    for (auto [grow, keyWidth] : {std::pair{QSize(705, 281), 49}, {QSize(-300, -200), 25}}) {
        piano->resize(QSize(705, 281 + piano->menuBar()->height()) + grow);
        test::ProcessEvents();
        EXPECT_EQ(piano->cmdNote(60)->width(), keyWidth);
    }
    EXPECT_EQ(piano->centralWidget()->size(), QSize(705, 281));
    test::ScriptedDialogs dialogs;
    QAction* about = piano->menuBar()->findChild<QAction*>("mnuAbout");
    ASSERT_TRUE(about && about->text() == "&About...");
    about->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title + '|' + dialogs.shown[0].text + (dialogs.shown[0].icon == MessageIcon::Information ? " (i)" : ""),
              "About Kivra|Kivra Beta (i)");
    piano->close();
    EXPECT_EQ(requests, QStringList({"Key Config", "MIDI Devices", "ZuduvIvev", "Music Maker", "closing"}));
}

TEST_F(PianoWindow, ChoosingAnInstrumentSendsItOnThePlayChannelAndRecordingRemembersIt) {
    EXPECT_EQ(Pick(18), "");  // a heading sends nothing and stays selected
    EXPECT_EQ(List().currentText(), "(Organs)");
    EXPECT_EQ(Pick(21), "C0 12");
    piano->UpdateInstrument(200);  // no row carries it: selection kept, still sent
    EXPECT_EQ(List().currentText(), "Rock Organ");
    EXPECT_EQ(midi.SentHex(), "C0 12 C0 48");
    g_lChannel = 3;  // assigned by the link
    SetPatch(40, 3);
    EXPECT_EQ(List().currentText(), "Violin");

    test::FakeRecorder recorder;
    recorder.record = true, recorder.channel = 2;
    EXPECT_EQ(Pick(33), "C2 1D");  // "Overdriven Guitar"
    midi.ClearSent();
    recorder.channel = 5;
    piano->UpdateInstrument(0);  // the song's patch for the track: selected and sent, nothing changes
    EXPECT_EQ(List().currentIndex(), 1);  // the instrument, not the heading above it
    EXPECT_EQ(midi.SentHex(), "C5 00");
    piano->UpdateInstrument(41);  // a program change from a MIDI keyboard while recording: stored
    CloseMIDIDevices();  // with no device the choice is still remembered
    recorder.channel = 4;
    EXPECT_EQ(Pick(46), "");
    // Only a pick or a program change while recording stores its patch.
    EXPECT_EQ(std::vector<int>(g_bytChannelPatch.begin(), g_bytChannelPatch.begin() + 6),
              (std::vector<int>{0, 0, 29, 0, 40, 41}));
}

// Each caption's ink within its widget (after a check box's indicator), up to the next widget to
// its right on the same row; the last antialiased column of a glyph may fall outside.
void ExpectCaptionsFit(QWidget& window, QStringList* captions = nullptr) {
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const bool box = w->inherits("QCheckBox") || w->inherits("QRadioButton"), group = w->inherits("QGroupBox");
        if (!w->isVisibleTo(&window) || qobject_cast<PianoKey*>(w) || !(box || group || w->inherits("QAbstractButton") || w->inherits("QLabel")))
            continue;
        QStyleOptionButton option;
        option.initFrom(w);
        const QRect contents = box ? w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w) : w->rect().adjusted(0, 0, group ? -16 : 0, 0);
        int room = contents.width();
        for (QWidget* other : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (other != w && other->isVisibleTo(&window) && other->x() > w->x() && other->geometry().intersected(w->geometry()).height() * 2 > w->height())
                room = std::min(room, other->x() - w->x() - contents.left());
        const QString text = w->property(group ? "title" : "text").toString();
        if (captions) *captions << text;
        for (QString line : text.split(QStringLiteral("\r\n")))
            EXPECT_LE(w->fontMetrics().tightBoundingRect(line.remove(QLatin1Char('&'))).width(), room + 1)
                << qPrintable(QString::fromLatin1(w->metaObject()->className()) + ' ' + w->objectName() + ": " + line);
    }
}

TEST_F(PianoWindow, UnderADarkPaletteWhiteKeysKeepBlackCaptionsAndBlackKeysWhiteOnesLitOrNot) {
    const QPalette light = QApplication::palette();
    QPalette dark(QColor(53, 53, 53));  // with light text: a white caption on a white key would vanish
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    test::ProcessEvents();  // widgets learn of the new palette from a posted event
    PlayNote(61, 100, 0), PlayNote(64, 100, 0);
    for (int note : {60, 61, 63, 64}) {
        piano->cmdNote(note)->setText(QStringLiteral("\r\nW"));
        const QImage face = piano->cmdNote(note)->grab().toImage();
        int caption = 0;  // pixels inside the bevel as dark (on a black key: as light) as the caption's colour
        for (int y = 3; y < face.height() - 3; ++y)
            for (int x = 3; x < face.width() - 3; ++x)
                caption += IsBlackKey(note) ? qGray(face.pixel(x, y)) > 200 : qGray(face.pixel(x, y)) < 60;
        EXPECT_GT(caption, 3) << note;
    }
    QApplication::setPalette(light);
}

// Every window, made in English and then under the German catalogue (a window keeps the language it
// was made in; the language comes from the locale, English needs no catalogue): each control has a
// name for screen readers and no caption is wider than its control; German captions are German.
// Run a second time at twice the scale (QT_SCALE_FACTOR=2).
TEST_F(PianoWindow, EveryControlOfEveryWindowHasANameAndNoCaptionIsWiderThanItsControlInEnglishOrGerman) {
    for (const auto& [locale, language] : {std::pair{"de_DE", "de"}, {"de_AT", "de"}, {"C", ""}, {"en_GB", ""}, {"fr_FR", ""}})
        EXPECT_EQ(InstallTranslations(QLocale(locale)), language) << locale;
    InstallMusicMaker();
    const char* const kControls[] = {"QAbstractButton", "QComboBox", "QAbstractScrollArea", "QAbstractSlider", "QLineEdit", "QAbstractSpinBox"};
    for (const char* locale : {"C", "de_DE"}) {
        SCOPED_TRACE(locale);
        InstallTranslations(QLocale(QString::fromLatin1(locale)));
        if (*locale == 'd') piano = std::make_unique<frmPiano>();
        frmKeyConfig keyConfig; frmDevices devices; frmLink link; frmSound sound; frmMusicMaker musicMaker;
        InstallSongFileMenu(musicMaker);
        InstallTranslations(QLocale::c());
        QStringList captions;
        for (QWidget* window : std::initializer_list<QWidget*>{piano.get(), &keyConfig, &devices, &link, &sound, &musicMaker}) {
            window->show();
            captions << window->windowTitle();
            for (QAction* action : window->findChildren<QAction*>()) captions << action->text();
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (w->isVisibleTo(window) && !w->objectName().startsWith("qt_") && !w->parent()->objectName().startsWith("qt_") &&
                    std::ranges::any_of(kControls, [w](const char* kind) { return w->inherits(kind); })) {
                    EXPECT_FALSE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty())
                        << w->metaObject()->className() << ' ' << qPrintable(w->objectName());
                }
            }
            ExpectCaptionsFit(*window, &captions);
        }
        if (*locale == 'd') {
            for (const char* german : {"Kivra - Tastenbelegung", "Kivra - MIDI-Geräte", "Kivra - Klang", "Grundoktave", "Schlagzeug",
                                       "Aufnahme", "Start", "Anzahl Spuren: 1", "Spur 1", "MIDI &importieren...", "Abbrechen",
                                       "Verbinden", "Haltepedal", "Anschlagdynamik", "Lautstärke"})
                EXPECT_TRUE(captions.contains(QString::fromUtf8(german))) << german;
            // The group headings are ours; the instruments keep their General MIDI names.
            EXPECT_EQ(piano->cmbInstrument()->itemText(18) + '|' + piano->cmbInstrument()->itemText(21), "(Orgeln)|Rock Organ");
            // No input device reads German and is saved as in every language.
            InstallTranslations(QLocale(QStringLiteral("de_DE")));
            devices.hide(), devices.show();
            const QListWidgetItem* none = devices.findChild<QListWidget*>("lstIn")->item(0);
            EXPECT_EQ(none->text() + (none->isSelected() ? " (selected)" : ""), "(Keines) (selected)");
            test::ScriptedDialogs dialogs;  // should the output not open
            QTest::mouseClick(devices.findChild<QPushButton*>("cmdOK"), Qt::LeftButton), InstallTranslations(QLocale::c());
            EXPECT_EQ(GetSetting(kSettingsSection, kInputDeviceKey, {}), kNoInputDevice);
            continue;
        }
        EXPECT_EQ(QAccessible::queryAccessibleInterface(piano->cmdNote(61))->text(QAccessible::Name), "C♯4, key");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(keyConfig.chkNote(0))->text(QAccessible::Name), "C-1");
        // Enter and Escape close the Sound window as its Close button does; in the link window Enter
        // presses the focused button and Escape quits.
        for (auto key : {Qt::Key_Return, Qt::Key_Escape}) {
            sound.show(), link.show();
            QTest::keyClick(sound.findChild<QWidget*>("spnVelocity"), key);
            QTest::keyClick(link.cmdQuit, key);
            EXPECT_TRUE(sound.isHidden() && sound.result() == QDialog::Rejected && link.isHidden()) << key;
        }
    }
}

}  // namespace
}  // namespace kivra
