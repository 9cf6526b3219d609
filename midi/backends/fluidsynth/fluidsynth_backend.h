#pragma once
// The built-in General MIDI synthesizer: FluidSynth with the system's GM SoundFont.

#include "midi/backends/backend.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

namespace kivra {

inline constexpr const char* kSoftSynthName = "Kivra Software Synth";

// The first GM SoundFont found in the usual places, or empty.
std::string FindGmSoundFont();

// A FluidSynth engine: plays packed short messages; renders to an audio driver or offline.
class SoftSynth {
public:
    // Loads `soundFont`; Ready() tells whether it worked. Writes nothing to standard error.
    explicit SoftSynth(const std::string& soundFont, double sampleRate = 44100.0);
    ~SoftSynth();
    SoftSynth(const SoftSynth&) = delete;
    SoftSynth& operator=(const SoftSynth&) = delete;

    bool Ready() const { return synth_ != nullptr; }
    // Starts the platform audio output with small buffers; false when none can be reached.
    bool StartAudio();
    // Plays one packed short message; thread-safe.
    bool Play(std::uint32_t packed);
    // Renders `frames` stereo frames offline (no audio driver needed).
    void Render(std::vector<float>& left, std::vector<float>& right, int frames);

private:
    _fluid_hashtable_t* settings_ = nullptr;
    _fluid_synth_t* synth_ = nullptr;
    _fluid_audio_driver_t* driver_ = nullptr;
};

// Output device 0 of the program: the built-in synthesizer with its own audio output.
class SoftSynthOut : public MidiOutBackend {
public:
    std::vector<std::string> DeviceNames() override { return {kSoftSynthName}; }
    bool Open(int id, MidiNotifier& notifier) override;
    bool Send(std::uint32_t packed) override;
    void Close() override { synth_.reset(); }

private:
    std::unique_ptr<SoftSynth> synth_;
};

}  // namespace kivra
