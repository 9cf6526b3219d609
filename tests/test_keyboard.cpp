// The keyboard: key-map profiles, the hook with key events as the window system delivers them,
// the key configuration window; the X11Keyboard checks run under Xvfb (tests/e2e/x11_keyboard.sh).
#include "keyboard/frmkeyconfig.h"
#include "keyboard/keyactions.h"
#include "keyboard/keyhook.h"
#include "keyboard/keymap.h"
#include "musicmaker/songops.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

namespace kivra {
namespace {

const QString kData = QStringLiteral(KIVRA_TEST_DATA_DIR "/keyboard/");
const QString kShipped = QStringLiteral(KIVRA_SOURCE_DATA_DIR "/keymaps/default.kmp");

constexpr auto Bytes = test::ReadFile;
KeyMapEntry Entry(std::uint8_t action, std::vector<std::uint8_t> notes = {}) {
    const auto count = static_cast<std::uint8_t>(notes.size());
    return KeyMapEntry{action, count, std::move(notes)};
}
void Activate(QWidget& window) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

class KeyMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(UserProfilesDir()).removeRecursively();
        SetInstalledProfilesDir(installed.path());
    }
    void TearDown() override { QDir(UserProfilesDir()).removeRecursively(); }
    // Saves `map` to a.kmp and returns the file's bytes, checking that it loads back unchanged.
    QByteArray SavedAndBack(const KeyMap& map) {
        EXPECT_TRUE(SaveKeyMapFile(Path("a.kmp"), map));
        KeyMap back{};
        EXPECT_EQ(LoadKeyMapFile(Path("a.kmp"), back).status, ProfileLoad::Loaded);
        EXPECT_EQ(back, map);
        return Bytes(Path("a.kmp"));
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir, installed;
};

// The shipped profile, a two-octave piano on the letter rows with Space and Enter for the Music Maker,
// is exactly what the writer makes of it.
TEST_F(KeyMapTest, WriterSavesKeysWithAnActionInOrderAndNotesOnlyWhenThereAreAny) {
    KeyMap map{};
    const char keys[] = "ZSXDCVGBHNJM\xBCQ2W3ER5T6Y7UI";  // the comma key (0xBC) and Q both play offset 12
    for (int i = 0; i < 26; ++i) map[static_cast<unsigned char>(keys[i])] = Entry(1, {std::uint8_t(i - (i > 12))});
    map[0x20] = Entry(3), map[0x0D] = Entry(4);
    EXPECT_EQ(SavedAndBack(map), Bytes(kShipped));
    map = KeyMap{};
    map[0x20] = Entry(3);             // action, no notes: one KAct chunk
    map[0x10] = Entry(2, {60});
    map[0x11] = Entry(kActionSustainPedal);
    map[0xFF] = Entry(9, {1, 2, 3});  // unknown action codes are kept as they are
    EXPECT_EQ(SavedAndBack(map).toHex(' ').toUpper(),
              "4B 4D 50 00 4B 41 63 74 02 00 00 00 10 02 4B 44 61 74 02 00 00 00 10 3C 4B 41 63 74 02 00 00 00 11 06 "
              "4B 41 63 74 02 00 00 00 20 03 "
              "4B 41 63 74 02 00 00 00 FF 09 4B 44 61 74 04 00 00 00 FF 01 02 03");
    map[0x42] = Entry(0, {1, 2});  // notes but no action: not saved
    EXPECT_EQ(SaveKeyMapFile(Path("b.kmp"), map) ? Bytes(Path("b.kmp")) : "", Bytes(Path("a.kmp")));
}

// Chunks load in any order, unknown ones are skipped; hostile files stop the load keeping what
// was read. Loading sets only what the file names: key 0x44, in no file, keeps its entry.
TEST_F(KeyMapTest, LoadsWhatTheChunksNameAndStopsAtTheFirstBadOne) {
    using enum ProfileLoad::Status;
    const std::pair<const char*, ProfileLoad::Status> cases[] = {
        {"../kdat-first.kmp", Loaded},       {"../unknown-chunk.kmp", Loaded},    {"bad-magic.kmp", BadMagic},
        {"too-short.kmp", BadMagic},         {"kdat-size-1.kmp", StoppedEarly},   {"kdat-size-257.kmp", StoppedEarly},
        {"negative-size.kmp", StoppedEarly}, {"size-past-end.kmp", StoppedEarly}, {"header-cut.kmp", StoppedEarly}};
    for (const auto& [file, status] : cases) {
        SCOPED_TRACE(file);
        KeyMap map{};
        map[0x44] = Entry(2, {1});
        const ProfileLoad r = LoadKeyMapFile(kData + "invalid/" + file, map);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.reason.isEmpty(), status == Loaded);
        // A bad magic loads nothing; otherwise the chunk before the bad one is kept, none after it.
        EXPECT_EQ(map[0x41], status == Loaded ? Entry(1, {0, 4, 7}) : Entry(status == BadMagic ? 0 : 1));
        EXPECT_EQ(map[0x43].Action, 0);
        EXPECT_EQ(map[0x44], Entry(2, {1}));
    }
    // A file of 1 MiB loads; one byte more is not read at all.
    const QByteArray full = Bytes(kShipped);
    QByteArray atLimit = full + "ZZZZ" + QByteArray(4, '\0');
    qToLittleEndian<qint32>(static_cast<qint32>(kMaxProfileBytes - atLimit.size()), atLimit.data() + full.size() + 4);
    atLimit.resize(kMaxProfileBytes, '\0');
    for (const QByteArray& bytes : {atLimit, atLimit + 'x'}) {
        test::WriteFile(Path("big.kmp"), bytes);
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(Path("big.kmp"), map);
        EXPECT_EQ(r.status, bytes.size() > kMaxProfileBytes ? TooLarge : Loaded);
        EXPECT_EQ(r.reason, bytes.size() > kMaxProfileBytes
                                ? "The file is 1048577 bytes long; a key-map profile is at most 1 MiB." : "");
        EXPECT_EQ(map[0x5A].Action, r.status == Loaded ? 1 : 0);
    }
}

// Refused names write and read nothing; the user's profile comes first; a save replaces a profile
// whole, a longer one too, or when it fails (a full disk) leaves it as it was.
TEST_F(KeyMapTest, ProfilesByNameUserFirstAndSavesReplaceWholeOrNotAtAll) {
    KeyMap map{}, ten{}, one{};
    for (int k = 0; k < 10; ++k) ten[static_cast<std::size_t>(0x41 + k)] = Entry(1, {0, 4, 7});
    one[0x5A] = Entry(4);
    for (const QString& name : QStringList{"", "a/b", "a\\b", "..", "../p", "x..y", ".hidden", "tab\there", "what?",
                                           "a:b", QString(300, QLatin1Char('n'))})
        EXPECT_FALSE(IsValidProfileName(name) || SaveKeyMap(name, ten) || LoadKeyMap(name, map).Opened())
            << name.toStdString();
    EXPECT_EQ(LoadKeyMap(QStringLiteral("p"), map).status, ProfileLoad::NotFound);
    EXPECT_FALSE(QDir(UserProfilesDir()).exists());
    EXPECT_TRUE(IsValidProfileName(QStringLiteral("My piano 2 (öäå)")));
    for (const char* name : {"p.kmp", "only.kmp"}) ASSERT_TRUE(SaveKeyMapFile(installed.filePath(name), one));
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), ten));  // also creates the user folder
    EXPECT_EQ(LoadKeyMap(QStringLiteral("p"), map).status, ProfileLoad::Loaded);
    EXPECT_EQ(map, ten);
    EXPECT_EQ(SavedProfileNames(), (QStringList{"only", "p"}));
    const QString file = UserProfilesDir() + "/p.kmp";
    const QByteArray original = Bytes(file);
    EXPECT_FALSE((test::FileSizeLimit(6), SaveKeyMap(QStringLiteral("p"), one)));  // the disk fills after 6 bytes
    EXPECT_EQ(Bytes(file), original);
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), one));
    EXPECT_EQ(Bytes(file), Bytes(installed.filePath("p.kmp")));
    EXPECT_EQ(QDir(UserProfilesDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.kmp"});
}

// The piano window is a text box of its own: what it receives is what the hook let through.
class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearKeyMap(g_KeyMap);
        g_bKeyDown.fill(false);
        Activate(piano);
        InstallKeyboardHook(&piano);
        midi.ClearSent();
    }
    void TearDown() override {
        RemoveKeyboardHook();
        SetKeyboardLayout({});
        ClearKeyMap(g_KeyMap);
    }
    // A key event as the window system delivers it.
    void Send(bool press, int key, std::uint32_t scan, const QString& text = {}, quint64 ms = 0, bool repeat = false) {
        QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, key, Qt::NoModifier, scan, 0, 0, text, repeat);
        event.setTimestamp(ms);
        QApplication::sendEvent(&piano, &event);
    }
    // What was sent once a release waiting for an auto-repeat press has happened.
    std::string Settled() {
        QTest::qWait(50);
        return midi.SentHex();
    }
    test::FakeMidi midi;
    test::FakePiano port;
    test::FakeRecorder recorder;
    QLineEdit piano;
};

// A held key sounds once whichever way its auto-repeat arrives, and a release always finds the key its press played.
TEST_F(KeyboardTest, HeldKeySoundsOnceAndReleaseMatchesItsPress) {
    g_KeyMap[0x5A] = {1, 1, {0}}, g_KeyMap[0x59] = {1, 1, {2}};
    // The window system's milliseconds (0: unknown), Qt's isAutoRepeat(), the key and its X11 keycode
    // (52: the key right of left Shift).
    struct Event { bool press; quint64 time; bool flagged = false; Qt::Key key = Qt::Key_Z; std::uint32_t scan = 52; };
    const auto Y = Qt::Key_Y;
    const std::string once = "90 3C 64 90 3C 00";
    const struct { const char* what; std::vector<Event> events; std::string sent; } cases[] = {
        {"repeats Qt flags", {{true, 5}, {false, 9, true}, {true, 9, true}, {false, 12}}, once},
        {"X11 repeats Qt does not flag: release and press at one time",
         {{true, 5}, {false, 9}, {true, 9}, {false, 40}, {true, 40}, {false, 70}}, once},
        {"presses without releases", {{true, 5}, {true, 9}, {false, 12}}, once},
        {"a new press later strikes again", {{true, 5}, {false, 9}, {true, 10}, {false, 12}}, once + " " + once},
        {"another key at one time is no repeat",
         {{true, 5}, {false, 9}, {true, 9, false, Y, 29}, {false, 12, false, Y, 29}}, once + " 90 3E 64 90 3E 00"},
        {"layout changed while held: German z, US y",
         {{true, 0, false, Qt::Key_Z, 29}, {false, 0, false, Y, 29}}, once},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        midi.ClearSent();
        for (const Event& e : c.events) Send(e.press, e.key, e.scan, {}, e.time, e.flagged);
        EXPECT_EQ(Settled(), c.sent);
        EXPECT_FALSE(g_bKeyDown[0x5A]);
    }
    EXPECT_EQ(piano.text(), "");
}

// Keys as X11 delivers them on four layouts (scan code = X11 keycode, Qt key, text): a Latin letter
// is its letter's key, any other key the US key at its place; the names follow the layout.
TEST_F(KeyboardTest, EveryLayoutPlaysByLetterOrPlaceAndNamesKeysAsLabelled) {
    struct Key { std::uint32_t scan; int qtKey; const char* text; int vk; const char* name; };
    const std::pair<const char*, std::vector<Key>> layouts[] = {
        {"us", {{52, Qt::Key_Z, "z", 0x5A, "Z"}, {59, Qt::Key_Comma, ",", 0xBC, ","}, {10, Qt::Key_1, "1", 0x31, "1"},
                {47, Qt::Key_Semicolon, ";", 0xBA, ";"}, {62, Qt::Key_Shift, "", 0xA1, "?"},
                {67, Qt::Key_F1, "", 0x70, "?"}}},
        {"de", {{52, Qt::Key_Y, "y", 0x59, "Y"}, {29, Qt::Key_Z, "z", 0x5A, "Z"}, {20, Qt::Key_ssharp, "ß", 0xBD, "ß"},
                {47, Qt::Key_Odiaeresis, "ö", 0xBA, "Ö"}, {61, Qt::Key_Minus, "-", 0xBF, "-"},
                {94, Qt::Key_Less, "<", 0xE2, "<"}, {21, Qt::Key_Dead_Acute, "", 0xBB, "="}}},
        {"fr", {{24, Qt::Key_A, "a", 0x41, "A"}, {25, Qt::Key_Z, "z", 0x5A, "Z"}, {47, Qt::Key_M, "m", 0x4D, "M"},
                {59, Qt::Key_Semicolon, ";", 0xBC, ";"}, {10, Qt::Key_Ampersand, "&", 0x31, "&"},
                {11, Qt::Key_Eacute, "é", 0x32, "É"}, {34, Qt::Key_Dead_Circumflex, "", 0xDB, "["}}},
        {"ru", {{52, 0x042F, "я", 0x5A, "Я"}, {24, 0x0419, "й", 0x51, "Й"}, {47, 0x0416, "ж", 0xBA, "Ж"},
                {59, 0x0411, "б", 0xBC, "Б"}, {10, Qt::Key_1, "1", 0x31, "1"}}},
        // The offscreen platform gives no scan codes: Qt keys alone, shifted punctuation on its US key.
        {"no scan codes", {{0, Qt::Key_Exclam, "!", 0x31, "1"}, {0, Qt::Key_Less, "<", 0xBC, ","},
                           {0, Qt::Key_F24, "", 0x87, "?"}}},
    };
    for (const auto& [layoutName, keys] : layouts) {
        KeyboardLayout layout{};
        for (const Key& k : keys)
            if (k.scan) layout[k.scan] = QString::fromUtf8(k.text).toUcs4().value(0);
        SetKeyboardLayout(layout);
        for (const Key& k : keys) {
            SCOPED_TRACE(std::string(layoutName) + " " + k.text);
            ClearKeyMap(g_KeyMap);
            g_KeyMap[static_cast<std::size_t>(k.vk)] = {2, 1, {60}};  // the only key that plays
            midi.ClearSent();
            for (const bool press : {true, false}) Send(press, k.qtKey, k.scan, QString::fromUtf8(k.text));
            EXPECT_EQ(midi.SentHex(), "90 3C 64 90 3C 00");
            EXPECT_EQ(GetKeyName(k.vk), QString::fromUtf8(k.name));
        }
    }
    EXPECT_EQ(piano.text(), "");
}

// Key A pressed and released through the platform window, as real events arrive (with timestamps):
// the notes its press starts, on the channel it plays, are those its release stops, whatever changed
// in between; a key with no play action is typed. Which channel plays is the note routing's.
TEST_F(KeyboardTest, MappedKeysPlayTheirNotesOnThePlayChannelAndOthersPassOn) {
    const struct { KeyMapEntry entry; int octave, octaveLater, recordChannel; const char *sent, *typed; } cases[] = {
        {{1, 4, {0, 4, 7, 12}}, 9, 3, -1, "90 78 64 90 7C 64 90 7F 64 90 78 00 90 7C 00 90 7F 00", ""},
        {{2, 3, {21, 108, 200}}, 9, 9, -1, "90 15 64 90 6C 64 90 15 00 90 6C 00", ""},  // note numbers
        {{1, 1, {0}}, 4, 4, 5, "95 3C 64 95 3C 00", ""},                               // recording on channel 5
        {{6, 0, {}}, 4, 4, 5, "B5 40 7F B5 40 00", ""},                                // the sustain pedal
        {{0, 1, {0}}, 4, 4, -1, "", "a"},
        {{7, 1, {0}}, 4, 4, -1, "", "a"},  // an unknown action code
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        g_KeyMap[0x41] = c.entry;
        recorder.record = c.recordChannel >= 0, recorder.channel = c.recordChannel;
        midi.ClearSent(), piano.clear();
        port.octave = c.octave;
        QTest::keyPress(piano.windowHandle(), Qt::Key_A);
        port.octave = c.octaveLater;
        QTest::keyRelease(piano.windowHandle(), Qt::Key_A);
        EXPECT_EQ(Settled(), c.sent);
        EXPECT_EQ(piano.text(), c.typed);
    }
}

TEST_F(KeyboardTest, MusicMakerKeysActOnlyWhileRecordingButAreAlwaysWithheld) {
    g_KeyMap[0x20] = {3, 0, {}}, g_KeyMap[0x0D] = {4, 0, {}}, g_KeyMap[0x2E] = {5, 0, {}};  // Space, Enter, Delete
    NewSong();
    QTest::keyClicks(&piano, " \r");
    EXPECT_EQ(g_lCurStep, 0);
    recorder.record = true;
    QTest::keyClicks(&piano, "\r \r");        // break, space, break at steps 0, 1, 2
    QTest::keyClick(&piano, Qt::Key_Delete);  // back one step and empty it
    // The step the cursor is on, and the kinds of steps 0 and 2.
    EXPECT_EQ((std::vector<int>{g_lCurStep, StepAt(0, 0)->StepType, StepAt(0, 2)->StepType}),
              (std::vector<int>{2, StepBreak, StepEmpty}));
    EXPECT_EQ(piano.text(), "");
    EXPECT_EQ(midi.SentHex(), "");
}

TEST_F(KeyboardTest, LeavingThePianoWindowReleasesHeldKeysAndNothingIsActedOnElsewhere) {
    g_KeyMap[0x41] = {1, 2, {0, 7}};
    g_KeyMap[0x53] = {6, 0, {}};  // the sustain pedal, lifted on the channel it went down on
    QTest::keyPress(&piano, Qt::Key_A);
    recorder.record = true, recorder.channel = 2;
    QTest::keyPress(&piano, Qt::Key_S);
    recorder.record = false;
    QLineEdit other;
    Activate(other);
    const std::string held = "90 3C 64 90 43 64 B2 40 7F 90 3C 00 90 43 00 B2 40 00";
    EXPECT_EQ(midi.SentHex(), held);
    QTest::keyRelease(&other, Qt::Key_A);
    QTest::keyClick(&other, Qt::Key_A);
    EXPECT_EQ(other.text(), "a");
    Activate(piano);
    QTest::keyPress(&piano, Qt::Key_A);  // a fresh press, not taken for a repeat
    EXPECT_EQ(midi.SentHex(), held + " 90 3C 64 90 43 64");  // nothing from `other`
}

class KeyConfigTest : public KeyboardTest {
protected:
    frmKeyConfig form;
    test::ScriptedDialogs dialogs;
};

// Run in the window's own modal loop, as the piano opens it.
TEST_F(KeyConfigTest, CapturesEveryKeyShowsItsActionAndNotesAndEditsGoStraightIn) {
    EXPECT_EQ(form.chkKey()->text(), "(Press Key)");
    QTimer::singleShot(0, &form, [&] {
        if (!QTest::qWaitForWindowActive(&form)) return form.done(0);
        g_KeyMap[0x51] = {2, 2, {60, 64}};
        QTest::keyPress(&form, Qt::Key_Q);
        EXPECT_EQ(form.chkKey()->text(), "Q");
        QTest::keyRelease(&form, Qt::Key_Q);
        EXPECT_TRUE(form.optAction(2)->isChecked() && !form.chkNote(50)->isChecked() && form.chkNote(60)->isChecked());
        for (int note : {67, 62}) QTest::mouseClick(form.chkNote(note), Qt::LeftButton);
        EXPECT_EQ(g_KeyMap[0x51], (KeyMapEntry{2, 4, {60, 62, 64, 67}}));
        form.chkNote(60)->setFocus();
        QTest::keyClick(form.chkNote(60), Qt::Key_Space);  // toggles the box; notes catch up later
        EXPECT_FALSE(form.chkNote(60)->isChecked());
        QTest::mouseClick(form.optAction(6), Qt::LeftButton);
        EXPECT_EQ(g_KeyMap[0x51].Action, 6);
        QTest::mouseClick(form.optAction(1), Qt::LeftButton);
        EXPECT_EQ(g_KeyMap[0x51], (KeyMapEntry{1, 4, {60, 62, 64, 67}}));
        g_KeyMap[0x41] = {9, 1, {1}};  // a foreign action code: no option selected, the code kept
        form.chkKey()->click();        // back to waiting
        QTest::keyClick(&form, Qt::Key_A);
        for (int i = 0; i < 7; ++i) EXPECT_FALSE(form.optAction(i)->isChecked());
        EXPECT_EQ(g_KeyMap[0x41].Action, 9);
        // The pedal's option, shown for a pedal key, shares the top row and covers no other control.
        g_KeyMap[0x53] = {6, 0, {}};
        form.chkKey()->click();
        QTest::keyClick(&form, Qt::Key_S);
        QRadioButton* pedal = form.optAction(6);
        EXPECT_TRUE(pedal->isChecked() && pedal->text() == "Sustain Pedal");
        for (int i : {0, 3}) EXPECT_FALSE(pedal->geometry().intersects(form.optAction(i)->geometry())) << i;
        EXPECT_LE(pedal->geometry().bottom(), form.fraNotes()->geometry().top());
        EXPECT_LE(pedal->sizeHint().width(), pedal->width());
        form.chkKey()->click();
        QTest::keyClick(&form, Qt::Key_Escape);  // captured too: the window stays open
        EXPECT_EQ(form.CurrentKey(), 0x1B);
        EXPECT_EQ(form.chkKey()->text(), "?");
        form.done(form.isVisible() ? 7 : 0);
    });
    EXPECT_EQ(form.exec(), 7);
}

TEST_F(KeyConfigTest, SaveAndLoadProfilesByName) {
    QDir(UserProfilesDir()).removeRecursively();
    g_KeyMap[0x41] = {1, 3, {0, 4, 7}};
    dialogs.inputs = {QStringLiteral("../evil"), QStringLiteral("mine"), std::nullopt};
    for (int i = 0; i < 3; ++i) form.cmdSave()->click();  // the last cancelled: nothing shown
    ASSERT_EQ(dialogs.shown.size(), 5u);
    EXPECT_EQ(dialogs.shown[1].text, "An error occured while saving the profile!");
    EXPECT_EQ(dialogs.shown[1].icon, MessageIcon::Critical);
    EXPECT_EQ(dialogs.shown[3].title + ": " + dialogs.shown[3].text, "Save Profile: Profile Saved!");
    EXPECT_EQ(Bytes(UserProfilesDir() + "/mine.kmp"), Bytes(kData + "example26.kmp"));
    // Loads replace the key map; a damaged profile only when the user agrees to its readable part.
    ASSERT_TRUE(QFile::copy(kData + "invalid/negative-size.kmp", UserProfilesDir() + "/bad.kmp"));
    const KeyMapEntry before{3, 0, {}}, loaded{1, 3, {0, 4, 7}}, damaged{1, 0, {}};
    const QString question = "The profile \"bad\" is damaged at byte 14. The part before it holds 1 key.";
    // Each load, the user's answer, the question asked or the message shown ("" for none), the entry after.
    const struct { const char* name; bool agree; QString shown; KeyMapEntry after; } loads[] = {
        {"mine", false, "", loaded},
        {"absent", false, "An error occured while loading the profile!\n\nCannot open", before},
        {"bad", false, question, before},
        {"bad", true, question, damaged},
    };
    for (const auto& l : loads) {
        SCOPED_TRACE(l.name);
        g_KeyMap[0x41] = before;
        g_KeyMap[0x42] = {1, 1, {2}};  // in no profile: cleared by a load
        dialogs.shown.clear(), dialogs.answers = {l.agree};
        dialogs.inputs = {QString::fromLatin1(l.name)};
        const int updates = port.captionUpdates;
        form.cmdLoad()->click();
        EXPECT_EQ(g_KeyMap[0x41], l.after);
        EXPECT_EQ(g_KeyMap[0x42] == KeyMapEntry{}, l.after != before);
        EXPECT_EQ(port.captionUpdates - updates, l.after != before ? 1 : 0);
        EXPECT_EQ(dialogs.shown.size() > 1 ? dialogs.shown.back().text.left(l.shown.size()) : "", l.shown);
    }
}

// The key filter under a real X server with auto-repeat on, keys typed through the XTEST extension
// (tests/e2e/x11_keyboard.sh runs these); skipped on any other platform.
class X11Keyboard : public KeyboardTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
        KeyboardTest::SetUp();
        ASSERT_EQ(LoadKeyMapFile(kShipped, g_KeyMap).status, ProfileLoad::Loaded);
        qApp->installEventFilter(&presses);  // after the hook, so it sees every press first
    }
    void Hold(const QString& key, int ms) {
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keydown"), key}), 0);
        QTest::qWait(ms);
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keyup"), key}), 0);
        QTest::qWait(200);
    }
    struct PressCounter : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            count += e->type() == QEvent::KeyPress;
            return false;
        }
    } presses;
};

TEST_F(X11Keyboard, HeldKeySoundsOnce) {
    Hold(QStringLiteral("z"), 4000);
    EXPECT_GT(presses.count, 5) << "the X server did not auto-repeat the held key";
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 3C 00");
    EXPECT_EQ(piano.text(), "");
}

TEST_F(X11Keyboard, RussianLayoutZKeyPlaysMiddleCAndShowsItsLetter) {
    if (QStandardPaths::findExecutable(QStringLiteral("setxkbmap")).isEmpty()) GTEST_SKIP() << "setxkbmap missing";
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("ru")}), 0);
    QTest::qWait(200);
    InstallKeyboardHook(&piano);  // reads the new layout
    Hold(QStringLiteral("Cyrillic_ya"), 100);
    QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")});
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 3C 00");
    EXPECT_EQ(GetKeyName(0x5A), QStringLiteral("Я"));
}

}  // namespace
}  // namespace kivra
