// The Sound window: each control changes the built-in synthesizer at once, is saved and is
// restored at the next start; a SoundFont that does not load changes nothing; Panic silences
// every channel; an external device gets the volume as a controller and no effects.
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/devices.h"
#include "midi/frmsound.h"
#include "testsupport.h"

#include <fluidsynth.h>

#include <QCheckBox>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace kivra;

namespace {

void ClearSettings() { QSettings(QStringLiteral("Kivra"), QStringLiteral("Kivra")).clear(); }
QString Setting(const char* key) { return QSettings(QStringLiteral("Kivra"), QStringLiteral("Kivra")).value(QLatin1String(key)).toString(); }
template <typename W> W* Find(QWidget& window, const char* name) { return window.findChild<W*>(QLatin1String(name)); }

// The program's start with the built-in synthesizer as the output (no audio device needed).
SoftSynth& Start() {
    ResetNoteState();
    LoadPlayingSettings();
    SetMidiBackends(std::make_unique<SoftSynthOut>(std::string(), false), std::make_unique<FakeMidiIn>());
    EXPECT_TRUE(OpenMIDIOut(0));
    EXPECT_TRUE(QTest::qWaitFor([] { return !g_bMidiOutLoading; }, 20000));
    test::ProcessEvents();
    return *static_cast<SoftSynthOut*>(OutBackend())->Engine();
}
int SettingInt(SoftSynth& s, const char* name) { int v = -1; fluid_settings_getint(s.Settings(), name, &v); return v; }
std::string FontName(SoftSynth& s) { return fluid_sfont_get_name(fluid_synth_get_sfont(s.Engine(), 0)); }

struct SoundTest : ::testing::Test {
    void SetUp() override { ClearSettings(); if (FindGmSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont"; }
    void TearDown() override { ReleaseMidi(); ClearSettings(); SetPlayVelocity(kDefaultVelocity); SetTouchVelocity(false); }
};

}  // namespace

TEST_F(SoundTest, EachControlChangesTheSynthesizerIsSavedAndIsRestoredAtTheNextStart) {
    const struct { const char* control; const char* key; const char* saved; double (*read)(SoftSynth&); double before, after; } cases[] = {
        {"sldVolume", "Sound/Volume", "0", [](SoftSynth& s) { return double(fluid_synth_get_gain(s.Engine())); }, kFullGain, 0},
        {"chkReverb", "Sound/Reverb", "true", [](SoftSynth& s) { return double(SettingInt(s, "synth.reverb.active")); }, 0, 1},
        {"sldReverb", "Sound/ReverbAmount", "100", [](SoftSynth& s) { double l = -1; fluid_synth_get_reverb_group_level(s.Engine(), -1, &l); return l; }, 0.9, 1},
        {"chkChorus", "Sound/Chorus", "true", [](SoftSynth& s) { return double(SettingInt(s, "synth.chorus.active")); }, 0, 1},
        {"spnVelocity", "Playing/Velocity", "30", [](SoftSynth&) { return double(PlayVelocity()); }, kDefaultVelocity, 30},
        {"chkTouchVelocity", "Playing/TouchVelocity", "true", [](SoftSynth&) { return double(TouchVelocity()); }, 0, 1},
    };
    SoftSynth* synth = &Start();
    frmSound window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        EXPECT_NEAR(c.read(*synth), c.before, 1e-6);
        QWidget* control = Find<QWidget>(window, c.control);
        if (auto* box = qobject_cast<QCheckBox*>(control)) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        else if (auto* spin = qobject_cast<QSpinBox*>(control)) QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier), QTest::keyClicks(spin, QStringLiteral("30"));
        else QTest::keyClick(control, std::string(c.saved) == "0" ? Qt::Key_Home : Qt::Key_End);
        EXPECT_NEAR(c.read(*synth), c.after, 1e-6);
        EXPECT_EQ(Setting(c.key), QLatin1String(c.saved));
    }
    ReleaseMidi();
    SetPlayVelocity(kDefaultVelocity), SetTouchVelocity(false);
    synth = &Start();
    for (const auto& c : cases) EXPECT_NEAR(c.read(*synth), c.after, 1e-6) << c.control << " at the next start";
}

// A broken file keeps the SoundFont in use and says why; a good one replaces it, also at the next
// start. A saved SoundFont that no longer loads gives way to the General MIDI one.
TEST_F(SoundTest, ABrokenSoundFontKeepsTheOneInUseAndAGoodOneReplacesIt) {
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("broken.sf2")), copy = dir.filePath(QStringLiteral("copy.sf2"));
    test::WriteFile(broken, QByteArray(100000, 'x'));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(FindGmSoundFont()), copy));
    test::ScriptedDialogs dialogs;
    dialogs.inputs = {broken, copy};
    Start();
    frmSound window;
    window.show();
    auto* choose = Find<QPushButton>(window, "cmdSoundFont");
    const struct { const char* name; std::string font; QString saved; } steps[] = {
        {"broken", FindGmSoundFont(), QString()}, {"good", copy.toStdString(), copy}};
    for (const auto& step : steps) {
        dialogs.shown.clear();
        QTest::mouseClick(choose, Qt::LeftButton);
        SoftSynth& synth = *static_cast<SoftSynthOut*>(OutBackend())->Engine();
        EXPECT_EQ(fluid_synth_sfcount(synth.Engine()), 1) << step.name;
        EXPECT_EQ(FontName(synth), step.font) << step.name;
        EXPECT_EQ(Setting("Sound/SoundFont"), step.saved) << step.name;
        EXPECT_EQ(dialogs.shown.size() == 2 && dialogs.shown[1].text.contains(QStringLiteral("could not be loaded")),
                  step.saved.isEmpty()) << step.name;
    }
    ReleaseMidi();
    EXPECT_EQ(FontName(Start()), copy.toStdString()) << "at the next start";
    ReleaseMidi();
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), broken);
    EXPECT_EQ(FontName(Start()), FindGmSoundFont());
}

// Panic needs no SoundFont: it reaches any output. An external device gets the saved volume when opened.
TEST(Sound, PanicSilencesEveryChannelAndAnExternalDeviceGetsTheVolumeAndNoEffects) {
    ClearSettings();
    SaveSetting(kSoundSection, QStringLiteral("Volume"), QStringLiteral("50"));
    test::FakeMidi midi;
    EXPECT_EQ(midi.SentHex(), "B0 07 3F") << "the saved volume on opening";
    midi.ClearSent();
    test::FakePiano piano;
    frmSound window;
    window.show();
    for (const char* name : {"chkReverb", "sldReverb", "chkChorus", "cmdSoundFont"}) {
        EXPECT_FALSE(Find<QWidget>(window, name)->isEnabled()) << name;
        EXPECT_TRUE(Find<QWidget>(window, name)->toolTip().contains(QStringLiteral("own sound"))) << name;
    }
    QTest::keyClick(Find<QSlider>(window, "sldVolume"), Qt::Key_PageDown);
    EXPECT_EQ(midi.SentHex(), "B0 07 32");
    EXPECT_TRUE(PressNote(NoteSource::Mouse, 60, 60, 100, 0) && PlayNote(64, 80, 3));
    midi.ClearSent();
    QTest::mouseClick(Find<QPushButton>(window, "cmdPanic"), Qt::LeftButton);
    std::string expected;
    for (int c = 0; c < 16; ++c) expected += (c ? " " : "") + ShortMessageHex(PackShortMessage(0xB0 + c, 120)) + " " + ShortMessageHex(PackShortMessage(0xB0 + c, 123));
    EXPECT_EQ(midi.SentHex(), expected);
    EXPECT_FALSE(piano.keys[60].pressed || piano.keys[64].pressed || g_lNotesDown);
    ClearSettings();
}
