#include "midi/backends/fluidsynth/fluidsynth_backend.h"

#include "midi/notifier.h"

#include <fluidsynth.h>

#include <array>
#include <filesystem>

namespace kivra {
namespace {

// FluidSynth logs to standard error by default; the program writes no log.
void SilenceFluidSynth() {
    static const bool silenced = [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, nullptr, nullptr);
        return true;
    }();
    (void)silenced;
}

}  // namespace

std::string FindGmSoundFont() {
    static constexpr std::array candidates{
        "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/default.sf2",
        "/usr/share/soundfonts/FluidR3_GM.sf2"};
    std::error_code ec;
    for (const char* path : candidates)
        if (std::filesystem::exists(path, ec)) return path;
    return {};
}

SoftSynth::SoftSynth(const std::string& soundFont, double sampleRate) {
    SilenceFluidSynth();
    if (soundFont.empty()) return;
    settings_ = new_fluid_settings();
    if (!settings_) return;
    fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    fluid_settings_setnum(settings_, "synth.gain", 0.5);  // the default 0.2 is faint next to other players
    // 2 periods of 64 frames: under 3 ms of buffering at 44.1 kHz.
    fluid_settings_setint(settings_, "audio.period-size", 64);
    fluid_settings_setint(settings_, "audio.periods", 2);
    fluid_settings_setstr(settings_, "audio.pulseaudio.adjust-latency", "yes");
    synth_ = new_fluid_synth(settings_);
    if (synth_ && fluid_synth_sfload(synth_, soundFont.c_str(), 1) == FLUID_FAILED) {
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
}

SoftSynth::~SoftSynth() {
    if (driver_) delete_fluid_audio_driver(driver_);
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(settings_);
}

bool SoftSynth::StartAudio() {
    if (!synth_) return false;
    if (driver_) return true;
    for (const char* name : {"pulseaudio", "alsa"}) {
        fluid_settings_setstr(settings_, "audio.driver", name);
        driver_ = new_fluid_audio_driver(settings_, synth_);
        if (driver_) return true;
    }
    return false;
}

bool SoftSynth::Play(std::uint32_t packed) {
    if (!synth_) return false;
    const int status = packed & 0xFF;
    const int channel = status & 0x0F;
    const int d1 = (packed >> 8) & 0x7F;
    const int d2 = (packed >> 16) & 0x7F;
    switch (status & 0xF0) {
        case 0x80: fluid_synth_noteoff(synth_, channel, d1); return true;
        case 0x90:
            if (d2 == 0) fluid_synth_noteoff(synth_, channel, d1);
            else fluid_synth_noteon(synth_, channel, d1, d2);
            return true;
        case 0xA0: fluid_synth_key_pressure(synth_, channel, d1, d2); return true;
        case 0xB0: fluid_synth_cc(synth_, channel, d1, d2); return true;
        case 0xC0: fluid_synth_program_change(synth_, channel, d1); return true;
        case 0xD0: fluid_synth_channel_pressure(synth_, channel, d1); return true;
        case 0xE0: fluid_synth_pitch_bend(synth_, channel, d1 | (d2 << 7)); return true;
        default: return status >= 0xF0;  // system messages: nothing to play
    }
}

void SoftSynth::Render(std::vector<float>& left, std::vector<float>& right, int frames) {
    left.assign(static_cast<std::size_t>(frames), 0.0f);
    right.assign(static_cast<std::size_t>(frames), 0.0f);
    if (synth_) fluid_synth_write_float(synth_, frames, left.data(), 0, 1, right.data(), 0, 1);
}

bool SoftSynthOut::Open(int id, MidiNotifier& notifier) {
    if (id != 0) return false;
    auto synth = std::make_unique<SoftSynth>(FindGmSoundFont());
    if (!synth->Ready() || !synth->StartAudio()) return false;
    synth_ = std::move(synth);
    notifier.PostOutputOpened();
    return true;
}

bool SoftSynthOut::Send(std::uint32_t packed) { return synth_ && synth_->Play(packed); }

}  // namespace kivra
