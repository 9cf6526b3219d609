// The Sound window: each control changes the built-in synthesizer at once, is saved and is
// restored at the next start; a SoundFont that does not load changes nothing; Panic silences
// every channel; an external device gets the volume as a controller and no effects. A song
// renders to WAV or FLAC with its velocities and a release tail, replacing files atomically.
#include "formats/smf_export.h"
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/devices.h"
#include "midi/frmsound.h"
#include "musicmaker/render.h"
#include "testsupport.h"

#include <fluidsynth.h>
#include <sndfile.hh>

#include <QCheckBox>
#include <QSlider>
#include <QSpinBox>
#include <QPushButton>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>
#include <limits>
#include <numeric>

using namespace kivra;

namespace {

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

// Renders need no installed SoundFont: a tiny one with a sine tone ships with the tests. The song:
// note 69 at `velocity`, held half a second to the end.
const char* const kTinyFont = KIVRA_TEST_DATA_DIR "/sound/tiny.sf2";
SongData HeldNote(std::uint8_t velocity) {
    SongStep note{StepNotes, 1, {69}};
    note.Notes.Velocities()[0] = velocity;
    return {.Tracks = {{0, {note, {}, {}, {}}}}, .NumSteps = 4};
}
RenderResult Render(const QString& path, std::uint8_t velocity = 100, SoundOptions sound = {},
                    AudioFormat format = AudioFormat::Wav16, const std::atomic<bool>* cancel = nullptr,
                    std::function<void(double)> progress = {}) {
    sound.soundFont = kTinyFont;
    return RenderSong(SourceOf(HeldNote(velocity)), path, {sound, format}, progress, cancel);
}
// The file's format, rate, channels and frames, and its samples (interleaved stereo).
std::pair<std::tuple<int, int, int, long long>, std::vector<float>> Read(const QString& path) {
    SndfileHandle f(QFile::encodeName(path).constData());
    std::vector<float> samples(static_cast<std::size_t>(f.frames() * f.channels()));
    f.readf(samples.data(), f.frames());
    return {{f.format(), f.samplerate(), f.channels(), f.frames()}, samples};
}
double Rms(const std::vector<float>& s, std::size_t from, std::size_t to) {
    return std::sqrt(std::inner_product(s.data() + from, s.data() + to, s.data() + from, 0.0) / double(to - from));
}

struct SoundTest : ::testing::Test {
    void SetUp() override { test::ClearSettings(); if (FindGmSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont"; }
    void TearDown() override { ReleaseMidi(); test::ClearSettings(); SetPlayVelocity(kDefaultVelocity); SetTouchVelocity(false); }
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
    test::ClearSettings();
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
    test::ClearSettings();
}

// Each format reads back as written, the same samples every time: the song's half second, then a
// tail that lets the release die away and ends quiet, within five seconds. What the song and the
// Sound settings ask is heard: each against the loud note rendered plainly, by the loudness of the
// song and the length of the tail.
TEST(Render, ASongRendersTheSameEveryTimeInEachFormatWithItsTailAndTheVelocitiesAndSoundSettingsAreHeard) {
    const struct { const char* name; AudioFormat format; int sfFormat; } formats[] = {
        {"a.wav", AudioFormat::Wav16, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"b.wav", AudioFormat::Wav24, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"c.flac", AudioFormat::Flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}};
    QTemporaryDir dir;
    const QString again = dir.filePath(QStringLiteral("again"));
    for (const auto& c : formats) {
        const QString path = dir.filePath(QLatin1String(c.name));
        const RenderResult r = Render(path, 100, {}, c.format);
        ASSERT_TRUE(r.ok && Render(again, 100, {}, c.format).ok) << r.message.toStdString();
        const auto [format, samples] = Read(path);
        EXPECT_EQ(format, std::tuple(c.sfFormat, 44100, 2, r.frames)) << c.name;
        EXPECT_EQ(samples, Read(again).second) << c.name;
        EXPECT_TRUE(r.songFrames == 22050 && r.frames > r.songFrames + 2048 && r.frames <= r.songFrames + kMaxTailSeconds * 44100)
            << r.songFrames << " frames of song, " << r.frames << " in all";
        EXPECT_LT(Rms(samples, samples.size() - 2048, samples.size()), kTailLevel) << c.name << ": the tail dies away";
    }
    auto render = [&](std::uint8_t velocity, SoundOptions sound) {
        const RenderResult r = Render(again, velocity, sound);
        return std::pair{Rms(Read(again).second, 0, 44100), r.frames - r.songFrames};
    };
    const auto [plainRms, plainTail] = render(100, {});
    const struct { const char* name; std::uint8_t velocity; int volume; bool reverb; double rms; } cases[] = {
        {"velocity 30", 30, 100, false, 0.5}, {"half volume", 100, 50, false, 0.6}, {"reverb", 100, 100, true, 1.5}};
    for (const auto& c : cases) {
        const auto [rms, tail] = render(c.velocity, {.volume = c.volume, .reverb = c.reverb, .reverbAmount = 100, .soundFont = {}});
        EXPECT_TRUE(rms > 0.05 * plainRms && rms < c.rms * plainRms) << c.name << ": " << rms << " against " << plainRms;
        EXPECT_EQ(tail > plainTail, c.reverb) << c.name << ": " << tail << " frames of tail against " << plainTail;
    }
}

// Neither a cancel nor a failure leaves a partial file behind or harms the file already there;
// a failure names the file and the reason.
TEST(Render, CancelOrFailureLeavesNoFileAndTheOldOneWholeAndSaysWhy) {
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.wav"));
    test::WriteFile(old, "old");
    std::atomic<bool> cancel{false};
    const struct { const char* name; QString path; bool cancel, fullDisk; const char* reason; } cases[] = {
        {"cancelled, a new name", dir.filePath(QStringLiteral("new.wav")), true, false, nullptr},
        {"cancelled, a file there", old, true, false, nullptr},
        {"the disk fills", old, false, true, "File too large"},
        {"no such folder", dir.filePath(QStringLiteral("none/x.wav")), false, false, "No such file or directory"}};
    for (const auto& c : cases) {
        cancel = false;
        const test::FileSizeLimit limit(c.fullDisk ? 4096 : std::numeric_limits<long long>::max());
        const RenderResult r =
            Render(c.path, 100, {}, AudioFormat::Wav16, &cancel, [&](double done) { cancel = cancel || (c.cancel && done > 0.3); });
        EXPECT_TRUE(!r.ok && r.cancelled == !c.reason) << c.name;
        EXPECT_TRUE(!c.reason || (r.message.contains(c.path) && r.message.contains(QLatin1String(c.reason)))) << r.message.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.wav")}) << c.name;
        EXPECT_EQ(test::ReadFile(old), "old") << c.name;
    }
}

// The command line's render: a MIDI file in, an audio file out, or why not.
TEST(Render, AMidiFileRendersFromTheCommandLineOrSaysWhyNot) {
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), QString::fromLatin1(kTinyFont));
    QTemporaryDir dir;
    const QString midi = dir.filePath(QStringLiteral("song.mid"));
    std::vector<int> lastStep;
    ASSERT_TRUE(WriteFileReplacing(midi, EncodeMIDIFile(SourceOf(HeldNote(100)), lastStep)).ok);
    const struct { QString from, to; const char* says; } cases[] = {
        {midi, dir.filePath(QStringLiteral("song.flac")), ""},
        {midi, dir.filePath(QStringLiteral("song.mp3")), "must end in .wav or .flac"},
        {dir.filePath(QStringLiteral("none.mid")), dir.filePath(QStringLiteral("y.wav")), "none.mid was not read"}};
    for (const auto& c : cases) {
        QString said;
        QTextStream err(&said);
        EXPECT_EQ(RenderSongFile(c.from, c.to, err), *c.says ? 1 : 0) << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String(c.says)) && QFile::exists(c.to) == !*c.says) << said.toStdString();
    }
    test::ClearSettings();
}
