#pragma once
// The built-in General MIDI synthesizer: FluidSynth with the system's GM SoundFont. FluidSynth's
// own log goes to the Qt logging category "kivra.synth".

#include "midi/backends/backend.h"
#include "midi/sound.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

namespace kivra {

inline constexpr const char* kSoftSynthName = "Kivra Software Synth";

// Where a General MIDI SoundFont is looked for, in this order, and the package that installs
// the first of them.
const std::vector<std::string>& GmSoundFontPaths();
inline constexpr const char* kSoundFontPackage = "timgm6mb-soundfont";
// The first of GmSoundFontPaths() that exists, or empty.
std::string FindGmSoundFont();

// Audio buffering in milliseconds, the "[Sound] Latency" setting. The default is the lowest that
// kept a held note free of gaps while both cores of a 2-core machine were busy (bench/sound_gaps.sh):
// 60 ms still broke up now and then, 80 ms never did.
inline constexpr int kDefaultLatencyMs = 80;
inline constexpr int kMinLatencyMs = 2;
inline constexpr int kMaxLatencyMs = 500;
// The "[Sound] Latency" setting, within kMinLatencyMs..kMaxLatencyMs; the default when absent or
// not a number.
int SoundLatencyMs();
// The audio drivers in the order they are tried after the one asked for; the first is the default.
inline constexpr std::array<const char*, 4> kAudioDrivers{"pulseaudio", "pipewire", "jack", "alsa"};
// The "[Sound] AudioDriver" setting when it names one of kAudioDrivers, else the first of them.
std::string SoundAudioDriver();
// Frames per audio period for `latencyMs` at `sampleRate`, within what FluidSynth accepts.
int PeriodFrames(int latencyMs, double sampleRate);

// Sets one FluidSynth setting with the setter of the type FluidSynth gives it: a number goes to
// an integer (when whole) or a real setting, text only to a text setting. False, and a warning in
// "kivra.synth", when the name is unknown, the type does not fit or FluidSynth refuses the value.
using SynthSettingValue = std::variant<double, std::string>;
bool SetSynthSetting(_fluid_hashtable_t* settings, const char* name, const SynthSettingValue& value);

struct SynthSetting {
    const char* name;
    SynthSettingValue value;
};
// What the synthesizer asks of FluidSynth for `sampleRate` and `latencyMs` (PulseAudio's
// buffering is one period; ALSA's periods are halved when ALSA is used instead).
std::vector<SynthSetting> SoftSynthSettings(double sampleRate, int latencyMs);

// A FluidSynth engine: plays packed short messages; renders to an audio driver or offline.
class SoftSynth {
public:
    // Loads `soundFont`; Ready() tells whether it worked and Error() why not.
    explicit SoftSynth(const std::string& soundFont, double sampleRate = 44100.0,
                       int latencyMs = kDefaultLatencyMs);
    ~SoftSynth();
    SoftSynth(const SoftSynth&) = delete;
    SoftSynth& operator=(const SoftSynth&) = delete;

    bool Ready() const { return synth_ != nullptr; }
    // Why the engine is not ready or its audio output did not start; empty otherwise.
    const std::string& Error() const { return error_; }

    // Sees each block the synthesizer hands to the audio driver: left, right, frames. Runs on
    // the audio thread.
    using AudioTap = std::function<void(const float*, const float*, int)>;
    // Starts the audio output with the latency asked for: `driver` (empty: the first of
    // kAudioDrivers), else the next of kAudioDrivers that opens, with a warning in "kivra.synth"
    // that names both; false, with Error() saying why, when none opens. JACK's driver is tried only
    // while a JACK server runs (FluidSynth's would start one).
    bool StartAudio(AudioTap tap = {}, const std::string& driver = {});
    // Plays one packed short message; thread-safe.
    bool Play(std::uint32_t packed);
    // Volume, reverb and chorus as the Sound window sets them; thread-safe.
    void ApplySound(const SoundOptions& options);
    // Loads `soundFont` in place of the one in use: empty when it worked, otherwise why not, and
    // the one in use stays.
    std::string ChangeSoundFont(const std::string& soundFont);
    // The audio driver that StartAudio opened; empty before.
    std::string AudioDriver() const { return driver_ ? driverName_ : std::string(); }
    // Renders `frames` stereo frames offline (no audio driver needed).
    void Render(std::vector<float>& left, std::vector<float>& right, int frames);

    // FluidSynth's settings object and synthesizer as the engine uses them (tests read them back).
    _fluid_hashtable_t* Settings() const { return settings_; }
    _fluid_synth_t* Engine() const { return synth_; }

private:
    // Gives `channel` its General MIDI default the first time a message reaches it, unless that
    // message is a program change.
    void ChooseInstrumentOnFirstUse(int channel, bool programChange);
    static int RenderForDriver(void* self, int frames, int fxCount, float* fx[], int outCount, float* out[]);

    _fluid_hashtable_t* settings_ = nullptr;
    _fluid_synth_t* synth_ = nullptr;
    _fluid_audio_driver_t* driver_ = nullptr;
    int latencyMs_;
    int soundFontId_ = -1;
    std::string driverName_;
    AudioTap tap_;
    std::string error_;
    // Channels that have an instrument, one bit each; choosing_ makes the first choice once.
    std::atomic<std::uint16_t> chosen_{0};
    std::mutex choosing_;
};

// Output device 0 of the program: the built-in synthesizer with its own audio output, buffered
// as the "[Sound] Latency" setting asks. The SoundFont loads on a thread of its own, so that
// nothing waits for it: Open returns at once, and "opened" (or "failed") is posted once loaded.
// The "[Sound]" settings read at Open are applied once the SoundFont has loaded; a saved SoundFont
// that does not load gives way to the General MIDI one.
class SoftSynthOut : public MidiOutBackend, public SynthControls {
public:
    // `soundFont` empty: the saved one, else the first General MIDI SoundFont found
    // (FindGmSoundFont). Without `audio` the engine plays to no audio output (tests).
    explicit SoftSynthOut(std::string soundFont = {}, bool audio = true)
        : soundFont_(std::move(soundFont)), audio_(audio) {}
    ~SoftSynthOut() override { Close(); }
    SoftSynthOut(const SoftSynthOut&) = delete;
    SoftSynthOut& operator=(const SoftSynthOut&) = delete;

    std::vector<std::string> DeviceNames() override { return {kSoftSynthName}; }
    bool Open(int id, MidiNotifier& notifier) override;
    bool Send(std::uint32_t packed) override;
    // Waits for a load under way to end; what it loaded is thrown away and nothing is posted.
    void Close() override;
    std::string OpenError() const override { return error_; }
    bool LoadsInBackground() const override { return loader_.joinable(); }
    SynthControls* Controls() override { return this; }

    // SynthControls
    void ApplySound(const SoundOptions& options) override;
    std::string ChangeSoundFont(const std::string& path) override;
    std::string AudioDriver() const override;
    int LatencyMs() const override { return latencyMs_; }

    // The engine once loaded, else null (tests read FluidSynth's state through it).
    SoftSynth* Engine() const { return loaded_.load(std::memory_order_acquire) ? synth_.get() : nullptr; }

private:
    std::string soundFont_;
    bool audio_;
    int latencyMs_ = kDefaultLatencyMs;  // as the last Open read it
    std::string audioDriver_;            // likewise
    std::string error_;
    // What ApplySound asked last; the loader applies it under the same lock before it publishes.
    std::mutex optionsLock_;
    SoundOptions options_;
    // Written by the loader before it sets loaded_; read only after loaded_ is seen set.
    std::unique_ptr<SoftSynth> synth_;
    std::atomic<bool> loaded_{false};
    std::jthread loader_;  // last, so that it is joined before the members it writes go
};

}  // namespace kivra
