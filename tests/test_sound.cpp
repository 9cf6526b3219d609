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
#include <sndfile.h>

#include <QCheckBox>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QPushButton>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>

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

// Renders need no installed SoundFont: a tiny one with a sine tone ships with the tests.
const char* const kTinyFont = KIVRA_TEST_DATA_DIR "/sound/tiny.sf2";
// One track: note 69 at `velocity`, held to the end of the song (half a second).
SongData HeldNote(std::uint8_t velocity) {
    SongStep note{StepNotes, 1, {69}};
    note.Notes.Velocities()[0] = velocity;
    return {.Tracks = {{0, {note, {}, {}, {}}}}, .NumSteps = 4};
}
RenderResult Render(const SongData& song, const QString& path, AudioFormat format = AudioFormat::Wav16,
                    std::function<void(double)> progress = {}, const std::atomic<bool>* cancel = nullptr) {
    return RenderSong(SourceOf(song), path, {{.soundFont = kTinyFont}, format}, progress, cancel);
}
struct Audio { SF_INFO info{}; std::vector<float> samples; };  // interleaved stereo
Audio Read(const QString& path) {
    Audio a;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &a.info);
    if (!f) return a;
    a.samples.resize(static_cast<std::size_t>(a.info.frames * a.info.channels));
    sf_readf_float(f, a.samples.data(), a.info.frames);
    sf_close(f);
    return a;
}
double Rms(const std::vector<float>& s, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(to - from));
}

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

// Panic needs no SoundFont: it reaches any output.
TEST(Sound, PanicSilencesEveryChannelAndAnExternalDeviceGetsTheVolumeAndNoEffects) {
    ClearSettings();
    test::FakeMidi midi;
    test::FakePiano piano;
    frmSound window;
    window.show();
    for (const char* name : {"chkReverb", "sldReverb", "chkChorus", "cmdSoundFont"}) {
        EXPECT_FALSE(Find<QWidget>(window, name)->isEnabled()) << name;
        EXPECT_TRUE(Find<QWidget>(window, name)->toolTip().contains(QStringLiteral("own sound"))) << name;
    }
    QTest::keyClick(Find<QSlider>(window, "sldVolume"), Qt::Key_PageDown);
    EXPECT_EQ(midi.SentHex(), "B0 07 72");
    EXPECT_TRUE(PressNote(NoteSource::Mouse, 60, 60, 100, 0) && PlayNote(64, 80, 3));
    midi.ClearSent();
    QTest::mouseClick(Find<QPushButton>(window, "cmdPanic"), Qt::LeftButton);
    std::string expected;
    for (int c = 0; c < 16; ++c) expected += (c ? " " : "") + ShortMessageHex(PackShortMessage(0xB0 + c, 120)) + " " + ShortMessageHex(PackShortMessage(0xB0 + c, 123));
    EXPECT_EQ(midi.SentHex(), expected);
    EXPECT_FALSE(piano.keys[60].pressed || piano.keys[64].pressed || g_lNotesDown);
    ClearSettings();
}

// Each format reads back as written, the same samples every time: the song's half second at its
// loudness, then a tail that lets the release die away and ends quiet, within five seconds.
TEST(Render, ASongRendersTheSameEveryTimeWithItsTailInEachFormat) {
    const struct { const char* name; AudioFormat format; int sfFormat; } cases[] = {
        {"a.wav", AudioFormat::Wav16, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"b.wav", AudioFormat::Wav24, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"c.flac", AudioFormat::Flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}};
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString first = dir.filePath(QLatin1String(c.name)), again = dir.filePath(QStringLiteral("again"));
        const RenderResult r = Render(HeldNote(100), first, c.format);
        ASSERT_TRUE(r.ok) << r.message.toStdString();
        ASSERT_TRUE(Render(HeldNote(100), again, c.format).ok);
        const Audio a = Read(first), b = Read(again);
        EXPECT_EQ(a.info.format, c.sfFormat);
        EXPECT_EQ(a.info.samplerate, 44100);
        EXPECT_EQ(a.info.channels, 2);
        EXPECT_EQ(a.info.frames, r.frames);
        EXPECT_EQ(a.samples, b.samples);
        EXPECT_EQ(r.songFrames, 22050);
        EXPECT_GT(r.frames, r.songFrames + 2048) << "the release is heard out";
        EXPECT_LE(r.frames, r.songFrames + kMaxTailSeconds * 44100);
        const auto song = std::size_t(2 * r.songFrames), end = a.samples.size();
        EXPECT_GT(Rms(a.samples, 0, song), 0.05);
        EXPECT_LT(Rms(a.samples, end - 2048, end), kTailLevel);
    }
    EXPECT_EQ(AudioFormatOf(QStringLiteral("x.WAV"), AudioFormat::Wav24), AudioFormat::Wav24);
    EXPECT_FALSE(AudioFormatOf(QStringLiteral("x.mp3")));
}

// What the song and the Sound settings ask is heard: each case against the loud note rendered
// plainly, by the loudness of the first second and the length of the tail.
TEST(Render, TheVelocitiesAndTheSoundSettingsAreHeard) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("v.wav"));
    auto render = [&](std::uint8_t velocity, int volume, bool reverb) {
        SoundOptions sound;
        sound.soundFont = kTinyFont, sound.volume = volume, sound.reverb = reverb, sound.reverbAmount = 100;
        const RenderResult r = RenderSong(SourceOf(HeldNote(velocity)), path, {sound});
        return std::pair{Rms(Read(path).samples, 0, 44100), r.frames - r.songFrames};
    };
    const auto [plainRms, plainTail] = render(100, 100, false);
    const struct { const char* name; std::uint8_t velocity; int volume; bool reverb; double rms; bool longerTail; } cases[] = {
        {"velocity 30", 30, 100, false, 0.5, false},
        {"half volume", 100, 50, false, 0.6, false},
        {"reverb", 100, 100, true, 1.5, true},
    };
    for (const auto& c : cases) {
        const auto [rms, tail] = render(c.velocity, c.volume, c.reverb);
        EXPECT_GT(rms, 0.05 * plainRms) << c.name;
        EXPECT_LT(rms, c.rms * plainRms) << c.name;
        EXPECT_EQ(tail > plainTail, c.longerTail) << c.name << ": " << tail << " frames of tail against " << plainTail;
    }
}

// Neither a cancel nor a failure leaves a partial file behind or harms the file already there;
// a failure names the file and the reason.
TEST(Render, CancelOrFailureLeavesNoFileAndTheOldOneWholeAndSaysWhy) {
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("old.wav")), fresh = dir.filePath(QStringLiteral("new.wav"));
    test::WriteFile(existing, "old");
    std::atomic<bool> cancel{false};
    const struct { const char* name; QString path; bool atStart, midway, fullDisk; const char* reason; } cases[] = {
        {"cancelled at once", fresh, true, false, false, nullptr},
        {"cancelled midway", existing, false, true, false, nullptr},
        {"the disk fills", existing, false, false, true, "File too large"},
        {"no such folder", dir.filePath(QStringLiteral("none/x.wav")), false, false, false, "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cancel = c.atStart;
        std::optional<test::FileSizeLimit> limit;
        if (c.fullDisk) limit.emplace(4096);
        const RenderResult r = Render(HeldNote(100), c.path, AudioFormat::Wav16,
                                      [&](double done) { if (c.midway && done > 0.3) cancel = true; }, &cancel);
        limit.reset();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.cancelled, !c.reason);
        EXPECT_TRUE(!c.reason || (r.message.contains(c.path) && r.message.contains(QLatin1String(c.reason))))
            << r.message.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.wav")});
        EXPECT_EQ(test::ReadFile(existing), "old");
    }
}

// The command line's render: a MIDI file in, an audio file out, or why not.
TEST(Render, AMidiFileRendersFromTheCommandLineOrSaysWhyNot) {
    ClearSettings();
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), QString::fromLatin1(kTinyFont));
    QTemporaryDir dir;
    const QString midi = dir.filePath(QStringLiteral("song.mid"));
    std::vector<int> lastStep;
    ASSERT_TRUE(WriteFileReplacing(midi, EncodeMIDIFile(SourceOf(HeldNote(100)), lastStep)).ok);
    const struct { QString from, to; int code; const char* says; } cases[] = {
        {midi, dir.filePath(QStringLiteral("song.flac")), 0, ""},
        {midi, dir.filePath(QStringLiteral("song.mp3")), 1, "must end in .wav or .flac"},
        {dir.filePath(QStringLiteral("none.mid")), dir.filePath(QStringLiteral("x.wav")), 1, "none.mid was not read"},
    };
    for (const auto& c : cases) {
        QString said;
        QTextStream err(&said);
        EXPECT_EQ(RenderSongFile(c.from, c.to, err), c.code) << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String(c.says))) << said.toStdString();
    }
    EXPECT_EQ(Read(dir.filePath(QStringLiteral("song.flac"))).info.frames > 22050, true);
    ClearSettings();
}
