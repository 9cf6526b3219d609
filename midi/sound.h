#pragma once
// How the built-in synthesizer sounds (volume, reverb, chorus, SoundFont) and how the player
// plays (velocity, touch velocity): the "[Sound]" and "[Playing]" settings, and Panic.

#include <cstdint>
#include <string>

namespace kivra {

inline constexpr int kDefaultVolume = 100;         // percent; 100 is the synthesizer's own gain
inline constexpr int kDefaultReverbAmount = 90;    // percent; FluidSynth's own reverb level
// The synthesizer's gain at 100% volume: FluidSynth's default 0.2 is faint next to other players.
inline constexpr double kFullGain = 0.5;
// Reverb send (controller 91) on a channel's first use, as General MIDI gives it.
inline constexpr int kReverbSendController = 91;
inline constexpr int kDefaultReverbSend = 40;
// The reverb's room grows with its amount: FluidSynth's own small room (0.2) at 0, a hall at 100.
constexpr double ReverbRoomSize(int amountPercent) { return 0.2 + 0.7 * (amountPercent < 0 ? 0 : amountPercent > 100 ? 100 : amountPercent) / 100.0; }

struct SoundOptions {
    int volume = kDefaultVolume;  // 0..100
    bool reverb = false;
    int reverbAmount = kDefaultReverbAmount;  // 0..100
    bool chorus = false;
    std::string soundFont;  // empty: the system's General MIDI SoundFont
    friend bool operator==(const SoundOptions&, const SoundOptions&) = default;
};

// The "[Sound]" settings, each within its range; defaults where absent or unreadable.
SoundOptions LoadSoundOptions();
// An external device has no gain of ours: its volume is controller 7 on the piano's channel.
std::uint32_t ExternalVolumeMessage(int volumePercent);
void SaveSoundOptions(const SoundOptions& options);

// "[Playing] Velocity" and "[Playing] TouchVelocity" into the note routing, and back.
void LoadPlayingSettings();
void SavePlayingSettings();

// What only the built-in synthesizer offers; an external device has none of it.
class SynthControls {
public:
    virtual ~SynthControls() = default;
    // Volume, reverb and chorus; applied now, or once the SoundFont has loaded.
    virtual void ApplySound(const SoundOptions& options) = 0;
    // Loads `path` in place of the SoundFont in use: empty when it worked, otherwise why not, and
    // the SoundFont in use stays.
    virtual std::string ChangeSoundFont(const std::string& path) = 0;
    // The audio driver that plays ("pulseaudio", "alsa"); empty until the sound output runs.
    virtual std::string AudioDriver() const = 0;
    // The audio buffering in effect, in milliseconds (the "[Sound] Latency" setting).
    virtual int LatencyMs() const = 0;
};

// All sound off and all notes off on every channel of the output, and every key and note
// forgotten: whatever hangs is silenced.
void Panic();

}  // namespace kivra
