// The built-in synthesizer: rendered offline it sounds the notes it is sent; FluidSynth runs with
// the settings asked for, and what it logs reaches the "kivra.synth" category.
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/devices.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "pitch.h"
#include "testsupport.h"

#include <fluidsynth.h>

#include <QTemporaryDir>
#include <QTest>

using namespace kivra;

namespace {

constexpr double kRate = 44100.0;

std::vector<float> RenderMono(SoftSynth& synth, int frames) {
    std::vector<float> left, right;
    synth.Render(left, right, frames);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = 0.5f * (left[i] + right[i]);
    return left;
}

std::vector<float> PlayAndRender(SoftSynth& synth, int note, int channel = 0) {
    synth.Play(PackShortMessage(0x90 | channel, note, 100));
    RenderMono(synth, 2205);  // skip the attack
    auto sound = RenderMono(synth, 8820);
    synth.Play(PackShortMessage(0x90 | channel, note, 0));
    return sound;
}

// Messages of the "kivra.synth" category while it lives.
struct SynthLog {
    static inline QStringList lines;
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& c, const QString& text) {
        if (c.category && QByteArray(c.category) == "kivra.synth") lines << text;
    });
    SynthLog() { lines.clear(); }
    ~SynthLog() { qInstallMessageHandler(previous); }
};

}  // namespace

// No channel has an instrument (nor its samples in memory) until a message reaches it; then it has
// General MIDI's default, the piano or on channel 10 the drum kit, unless a program change came first.
TEST(SoftSynth, SoundsThePitchOfTheNoteAfterProgramAndBendChangesThenFallsSilent) {
    if (FindGmSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    SoftSynth synth(FindGmSoundFont(), kRate);
    ASSERT_TRUE(synth.Ready()) << synth.Error();
    EXPECT_LT(test::Rms(RenderMono(synth, 4410)), 1e-4) << "silent before any note";
    for (int ch = 0; ch < 16; ++ch) EXPECT_FALSE(fluid_synth_get_channel_preset(synth.Engine(), ch)) << ch;
    const struct { int channel; std::uint32_t before; int note; double hz; std::pair<int, int> chosen; } cases[] = {
        {0, 0, 69, 440.0, {0, 0}}, {0, 0, 60, 261.6, {0, 0}},
        {0, PackShortMessage(0xE0, 0, 0x7F), 69, 440.0 * std::pow(2.0, 2.0 / 12.0), {0, 0}},  // bend up two semitones
        {0, PackShortMessage(0xE0, 0, 0x40), 69, 440.0, {0, 0}},
        {0, PackShortMessage(0xC0, 40), 69, 440.0, {0, 40}},  // violin: still the note's pitch
        {5, PackShortMessage(0xB5, 7, 100), 69, 440.0, {0, 0}}, {6, PackShortMessage(0xC6, 40), 69, 440.0, {0, 40}},
        {9, 0, 38, 0.0, {128, 0}}};  // a snare drum: sound without a pitch to judge
    for (const auto& c : cases) {
        if (c.before) synth.Play(c.before);
        const auto sound = PlayAndRender(synth, c.note, c.channel);
        if (c.hz > 0) {
            EXPECT_NEAR(test::EstimatePitch(sound, kRate), c.hz, c.hz * 0.03) << c.note;
        } else {
            EXPECT_GT(test::Rms(sound), 1e-3) << c.channel;
        }
        fluid_preset_t* preset = fluid_synth_get_channel_preset(synth.Engine(), c.channel);
        ASSERT_TRUE(preset) << c.channel;
        EXPECT_EQ(std::pair(fluid_preset_get_banknum(preset), fluid_preset_get_num(preset)), c.chosen) << c.channel;
        RenderMono(synth, 2 * 44100);  // the release tail
        EXPECT_LT(test::Rms(RenderMono(synth, 4410)), 1e-4) << "silent after the release";
    }
}

// The reverb is heard without the song sending controller 91, and its amount lengthens the tail
// a released note leaves: off, a small amount, all of it.
TEST(SoftSynth, TheReverbLengthensTheTailOfAReleasedNoteWithItsAmount) {
    if (FindGmSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    const struct { bool reverb; int amount; } cases[] = {{false, 100}, {true, 50}, {true, 100}};
    double previousMs = -100;
    for (const auto& c : cases) {
        SoftSynth synth(FindGmSoundFont(), kRate);
        ASSERT_TRUE(synth.Ready()) << synth.Error();
        SoundOptions options;
        options.reverb = c.reverb, options.reverbAmount = c.amount;
        synth.ApplySound(options);
        PlayAndRender(synth, 60);
        int audibleWindows = 0;  // 10 ms windows after the release still above -60 dBFS
        for (int w = 0; w < 500; ++w) audibleWindows += test::Rms(RenderMono(synth, 441)) > 1e-3;
        const double tailMs = audibleWindows * 10.0;
        EXPECT_GT(tailMs, previousMs + 30) << "reverb " << c.reverb << " amount " << c.amount;
        if (c.reverb && c.amount == 100) { EXPECT_GT(tailMs, 1000) << "a hall at full amount"; }
        previousMs = tailMs;
    }
}

// The "[Sound] Latency" setting, in milliseconds, gives the audio period at the sample rate. A
// SoundFont that does not load leaves the engine not ready, saying why.
TEST(SoftSynth, SettingsInEffectAreTheOnesAskedForAndFailuresSayWhy) {
    const struct { const char* latency; double rate; int periodFrames; } cases[] = {  // latency null: absent
        {nullptr, 44100, kDefaultLatencyMs * 441 / 10}, {"10", 48000, 480}, {" 7 ", 44100, 309}, {"0", 44100, 88},
        {"fast", 44100, kDefaultLatencyMs * 441 / 10}, {"2", 22050, 64}, {"100000", 44100, 8192}};
    for (const auto& c : cases) {
        test::ClearSettings();
        if (c.latency) SaveSetting(kSoundSection, kLatencyKey, QString::fromLatin1(c.latency));
        SynthLog log;
        SoftSynth synth("/nonexistent.sf2", c.rate, SoundLatencyMs());  // the settings stay, loaded or not
        EXPECT_FALSE(synth.Ready() || synth.Play(PackShortMessage(0x90, 60, 100)) || synth.StartAudio());
        EXPECT_NE(synth.Error().find("/nonexistent.sf2"), std::string::npos) << synth.Error();
        EXPECT_FALSE(log.lines.isEmpty()) << "FluidSynth's own complaint reaches kivra.synth";
        for (const auto& [name, value] : SoftSynthSettings(c.rate, SoundLatencyMs())) {
            double number = 0;
            if (int whole = 0; fluid_settings_getint(synth.Settings(), name, &whole) == FLUID_OK) number = whole;
            else fluid_settings_getnum(synth.Settings(), name, &number);
            EXPECT_EQ(number, std::get<double>(value)) << name;
        }
        int period = 0;
        fluid_settings_getint(synth.Settings(), "audio.period-size", &period);
        EXPECT_EQ(period, c.periodFrames) << c.latency;
        EXPECT_FALSE(log.lines.join('\n').contains("refused")) << log.lines.join('\n').toStdString();
    }
    test::ClearSettings();
}

TEST(SoftSynth, EachSettingIsSetWithItsOwnTypeAndARefusalIsLogged) {
    fluid_settings_t* settings = new_fluid_settings();
    const struct { const char* name; SynthSettingValue value; bool taken; } cases[] = {
        {"audio.pulseaudio.adjust-latency", std::string("yes"), false},  // an integer setting
        {"audio.pulseaudio.adjust-latency", 0.0, true},  {"audio.period-size", 64.5, false},
        {"audio.period-size", 10.0, false},  // below FluidSynth's range
        {"synth.gain", 0.5, true},  {"audio.driver", std::string("alsa"), true},
        {"audio.driver", 1.0, false},  {"no.such.setting", 1.0, false},
    };
    for (const auto& c : cases) {
        SynthLog log;
        EXPECT_EQ(SetSynthSetting(settings, c.name, c.value), c.taken) << c.name;
        EXPECT_EQ(log.lines.isEmpty(), c.taken) << c.name;
    }
    delete_fluid_settings(settings);
}

// While the SoundFont loads, keys light and record but nothing is sent; once it has loaded, the
// notes still held sound. A failed load or a close (the program's exit) forgets them all.
TEST(SoftSynth, NotesPlayedWhileTheSoundFontLoadsSoundOnceLoadedIfStillHeld) {
    const struct { const char* what; bool release; const char* end; bool open; const char* sent; } cases[] = {
        // end: the load's error ("" loaded); null: closed first. sent: after the load and a release.
        {"held through the load", false, "", true, "90 3C 64 93 40 50 90 3C 00"},
        {"released while loading", true, "", true, "93 40 50"},
        {"the SoundFont fails", false, "the SoundFont x.sf2 could not be loaded", false, ""},
        {"exit while loading", false, nullptr, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::FakeMidi midi(false);
        test::FakePiano piano;
        test::FakeRecorder recorder;
        recorder.record = true;
        midi.out->loads = true;
        ASSERT_TRUE(OpenMIDIOut(0));
        std::vector<std::string> ended;
        Notifier().onLoadEnded = [&](const std::string& error) { ended.push_back(error); };
        EXPECT_TRUE(PressNote(NoteSource::Mouse, 1, 60, 100, 0) && PlayNote(64, 80, 3));
        if (c.release) ReleaseKey(NoteSource::Mouse, 1);
        test::ProcessEvents();
        EXPECT_TRUE(piano.keys[64].pressed && !g_bMidiOutOpen && midi.SentHex().empty());
        EXPECT_EQ(recorder.recorded, std::vector<int>({60, 64}));
        if (c.end) midi.out->FinishLoading(c.end);
        else CloseMIDIDevices();
        test::ProcessEvents();
        EXPECT_EQ(std::pair(g_bMidiOutOpen, piano.keys[64].pressed), std::pair(c.open, c.open));
        EXPECT_EQ(ended, c.end ? std::vector<std::string>{c.end} : std::vector<std::string>{});
        ReleaseKey(NoteSource::Mouse, 1);
        EXPECT_EQ(midi.SentHex(), c.sent);
    }
}

// The real synthesizer loads on its own thread: Open returns at once, and a SoundFont that does
// not load is reported through the notifier; closing while it loads waits for the loader, and
// nothing it posts is handled.
TEST(SoftSynth, TheSoundFontLoadsInTheBackgroundAndAFailureOrAnExitWhileLoadingEndsCleanly) {
    QTemporaryDir dir;
    test::WriteFile(dir.filePath(QStringLiteral("broken.sf2")), QByteArray(100000, 'x'));
    const std::string broken = dir.filePath(QStringLiteral("broken.sf2")).toStdString();
    for (bool exit : {false, true}) {
        for (const std::string& soundFont : {broken, FindGmSoundFont()}) {
            if (soundFont.empty()) continue;
            ResetNoteState();
            SetMidiBackends(std::make_unique<SoftSynthOut>(soundFont), std::make_unique<FakeMidiIn>());
            std::vector<std::string> ended;
            Notifier().onLoadEnded = [&](const std::string& error) { ended.push_back(error); };
            ASSERT_TRUE(OpenMIDIOut(0));
            EXPECT_TRUE(g_bMidiOutLoading && PlayNote(60, 100, 0));
            if (exit) ReleaseMidi();
            else EXPECT_TRUE(QTest::qWaitFor([] { return !g_bMidiOutLoading; }, 20000)) << soundFont;
            test::ProcessEvents();
            if (exit) EXPECT_TRUE(ended.empty() && !g_bMidiOutOpen && g_lNotesDown == 0) << soundFont;
            else if (soundFont == broken) {  // only the broken file's outcome is known on every machine
                ASSERT_EQ(ended.size(), 1u);
                EXPECT_NE(ended[0].find("the SoundFont " + broken + " could not be loaded"), std::string::npos);
                EXPECT_TRUE(!g_bMidiOutOpen && g_lNotesDown == 0);
            }
            ReleaseMidi();
        }
    }
}

// "[Sound] AudioDriver" chooses the synthesizer's audio driver (PulseAudio unless it names another);
// one that does not open gives way to the next that does, and a warning names both. FluidSynth's
// JACK driver is tried only while a server runs: it would start one.
TEST(SoftSynth, AnAudioDriverThatDoesNotOpenGivesWayToTheNextAndTheWarningSaysSo) {
    if (FindGmSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    qputenv("PULSE_SERVER", "unix:/nonexistent");  // PulseAudio never answers here
    const struct { const char* setting; bool jackd; const char* used; const char* said; } cases[] = {
        // used: "jack" or "" for any other; said: in the warning or the error
        {"jack", true, "jack", ""}, {nullptr, true, "jack", "pulseaudio could not be opened (pulseaudio: "},
        {"Pipewire ", true, "jack", "pipewire could not be opened (pipewire: not built into FluidSynth; pulseaudio: "},
        {"JACK", false, "", "jack: no JACK server is running"}, {"nonsense", true, "jack", "pulseaudio could not"}};
    for (const auto& c : cases) {
        test::ClearSettings();
        if (c.setting) SaveSetting(kSoundSection, kAudioDriverKey, QString::fromLatin1(c.setting));
        test::JackServer jack(c.jackd);
        if (c.jackd && !jack.Running()) GTEST_SKIP() << "jackd is not installed";
        SynthLog log;
        SoftSynth synth(FindGmSoundFont(), kRate);
        const bool started = synth.StartAudio({}, SoundAudioDriver());
        EXPECT_EQ(synth.AudioDriver() == "jack", std::string(c.used) == "jack") << synth.Error();
        const std::string said = log.lines.join('\n').toStdString() + synth.Error();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        if (started && *c.said) {
            EXPECT_NE(said.find(synth.AudioDriver() + " is used instead"), std::string::npos) << said;
        }
    }
    qunsetenv("PULSE_SERVER");
    test::ClearSettings();
}
