#include "midi/backends/fluidsynth/fluidsynth_backend.h"

#include "midi/backends/jack/jack_ports.h"
#include "midi/devices.h"
#include "midi/message.h"
#include "midi/notifier.h"

#include <fluidsynth.h>

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace kivra {
namespace {

Q_LOGGING_CATEGORY(lcSynth, "kivra.synth")

// The last error FluidSynth logged on this thread: drivers and SoundFonts fail on the thread
// that asked for them, so this is the reason to show for a failure just seen.
thread_local std::string t_lastError;

void LogToQt(int level, const char* message, void*) {
    const QString text = QString::fromUtf8(message ? message : "");
    switch (level) {
        case FLUID_PANIC:
        case FLUID_ERR:
            t_lastError = message ? message : "";
            qCCritical(lcSynth).noquote() << text;
            break;
        case FLUID_WARN: qCWarning(lcSynth).noquote() << text; break;
        case FLUID_INFO: qCInfo(lcSynth).noquote() << text; break;
        default: qCDebug(lcSynth).noquote() << text; break;
    }
}

void RouteFluidSynthLog() {
    static const bool routed = [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) fluid_set_log_function(level, &LogToQt, nullptr);
        return true;
    }();
    (void)routed;
}

// " (<FluidSynth's last error>)", or nothing when it logged none since ForgetLastError().
void ForgetLastError() { t_lastError.clear(); }
std::string LastErrorSuffix() { return t_lastError.empty() ? std::string() : " (" + t_lastError + ")"; }

// A message for the user, in the user's language; %1, %2 filled from `args` (UTF-8).
template <typename... Args> std::string Say(const char* text, const Args&... args) {
    const QString translated = QCoreApplication::translate("SoftSynth", text);
    if constexpr (sizeof...(Args) == 0) return translated.toStdString();
    else return translated.arg(QString::fromStdString(args)...).toStdString();
}

QString Describe(const SynthSettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return QString::fromStdString(*text);
    return QString::number(std::get<double>(value));
}

}  // namespace

const std::vector<std::string>& GmSoundFontPaths() {
    static const std::vector<std::string> paths{
        "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/default.sf2",
        "/usr/share/soundfonts/FluidR3_GM.sf2"};
    return paths;
}

std::string FindGmSoundFont() {
    std::error_code ec;
    for (const auto& path : GmSoundFontPaths())
        if (std::filesystem::exists(path, ec)) return path;
    return {};
}

int SoundLatencyMs() {
    bool ok = false;
    const int ms = GetSetting(kSoundSection, kLatencyKey, QString::number(kDefaultLatencyMs)).trimmed().toInt(&ok);
    return ok ? std::clamp(ms, kMinLatencyMs, kMaxLatencyMs) : kDefaultLatencyMs;
}

std::string SoundAudioDriver() {
    const std::string asked = GetSetting(kSoundSection, kAudioDriverKey, QString()).trimmed().toLower().toStdString();
    for (const char* d : kAudioDrivers)
        if (asked == d) return asked;
    return kAudioDrivers[0];
}

int PeriodFrames(int latencyMs, double sampleRate) {
    // FluidSynth accepts periods of 64 to 8192 frames.
    const double frames = std::round(std::clamp(latencyMs, kMinLatencyMs, kMaxLatencyMs) * sampleRate / 1000.0);
    return static_cast<int>(std::clamp(frames, 64.0, 8192.0));
}

bool SetSynthSetting(fluid_settings_t* settings, const char* name, const SynthSettingValue& value) {
    const auto* number = std::get_if<double>(&value);
    const auto* text = std::get_if<std::string>(&value);
    int result = FLUID_FAILED;
    switch (fluid_settings_get_type(settings, name)) {
        case FLUID_INT_TYPE:
            if (number && *number == std::trunc(*number))
                result = fluid_settings_setint(settings, name, static_cast<int>(*number));
            break;
        case FLUID_NUM_TYPE:
            if (number) result = fluid_settings_setnum(settings, name, *number);
            break;
        case FLUID_STR_TYPE:
            if (text) result = fluid_settings_setstr(settings, name, text->c_str());
            break;
        default: break;  // unknown name
    }
    if (result == FLUID_OK) return true;
    qCWarning(lcSynth).noquote() << QStringLiteral("FluidSynth refused the setting %1 = %2")
                                        .arg(QString::fromLatin1(name), Describe(value));
    return false;
}

std::vector<SynthSetting> SoftSynthSettings(double sampleRate, int latencyMs) {
    return {
        {"synth.sample-rate", sampleRate},
        {"synth.reverb.active", 0.0},
        {"synth.chorus.active", 0.0},
        {"synth.gain", 0.5},  // the default 0.2 is faint next to other players
        // Only the samples of the instruments in use are read into memory, when first chosen:
        // a 148 MB SoundFont then costs a few MB and loads in a fraction of the time.
        {"synth.dynamic-sample-loading", 1.0},
        {"audio.period-size", static_cast<double>(PeriodFrames(latencyMs, sampleRate))},
        {"audio.pulseaudio.adjust-latency", 1.0},  // ask the server for exactly that buffering
    };
}

SoftSynth::SoftSynth(const std::string& soundFont, double sampleRate, int latencyMs) : latencyMs_(latencyMs) {
    RouteFluidSynthLog();
    ForgetLastError();
    settings_ = new_fluid_settings();
    if (!settings_) {
        error_ = Say(QT_TRANSLATE_NOOP("SoftSynth", "FluidSynth could not start")) + LastErrorSuffix();
        return;
    }
    for (const auto& [name, value] : SoftSynthSettings(sampleRate, latencyMs)) SetSynthSetting(settings_, name, value);
    synth_ = new_fluid_synth(settings_);
    // The SoundFont leaves the channels without an instrument (ChooseInstrumentOnFirstUse gives
    // one): choosing one on each now would read the piano's and the drum kit's samples unplayed.
    if (!synth_) {
        error_ = Say(QT_TRANSLATE_NOOP("SoftSynth", "FluidSynth could not start")) + LastErrorSuffix();
    } else if (soundFont.empty() ||
               (soundFontId_ = fluid_synth_sfload(synth_, soundFont.c_str(), 0)) == FLUID_FAILED) {
        error_ = Say(QT_TRANSLATE_NOOP("SoftSynth", "the SoundFont %1 could not be loaded"), soundFont) + LastErrorSuffix();
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
}

SoftSynth::~SoftSynth() {
    if (driver_) delete_fluid_audio_driver(driver_);
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(settings_);
}

int SoftSynth::RenderForDriver(void* self, int frames, int fxCount, float* fx[], int outCount, float* out[]) {
    auto& synth = *static_cast<SoftSynth*>(self);
    // fluid_synth_process adds to the buffers it is given.
    for (int i = 0; i < fxCount; ++i) std::fill_n(fx[i], frames, 0.0f);
    for (int i = 0; i < outCount; ++i) std::fill_n(out[i], frames, 0.0f);
    const int result = fluid_synth_process(synth.synth_, frames, fxCount, fx, outCount, out);
    if (outCount >= 2) synth.tap_(out[0], out[1], frames);
    return result;
}

bool SoftSynth::StartAudio(AudioTap tap, const std::string& driver) {
    if (!synth_) return false;
    if (driver_) return true;
    tap_ = std::move(tap);
    const double rate = [this] {
        double r = 44100.0;
        fluid_settings_getnum(settings_, "synth.sample-rate", &r);
        return r;
    }();
    std::vector<std::string> order{driver.empty() ? kAudioDrivers[0] : driver};
    for (const char* d : kAudioDrivers)
        if (d != order[0]) order.emplace_back(d);
    std::vector<std::string> built;
    fluid_settings_foreach_option(settings_, "audio.driver", &built, [](void* list, const char*, const char* option) {
        static_cast<std::vector<std::string>*>(list)->emplace_back(option);
    });
    std::string failures;
    for (const std::string& name : order) {
        ForgetLastError();
        const std::string why = std::find(built.begin(), built.end(), name) == built.end() ? Say(QT_TRANSLATE_NOOP("SoftSynth", "not built into FluidSynth"))
                                : name == "jack" && !JackServerRunning()                    ? Say(QT_TRANSLATE_NOOP("SoftSynth", "no JACK server is running"))
                                                                                            : std::string();
        // PulseAudio buffers one period; ALSA buffers all of its periods, so it gets two of half
        // the size; JACK's server sets its own.
        const int periods = name == "alsa" ? 2 : 1;
        const bool set = why.empty() && SetSynthSetting(settings_, "audio.driver", name) &&
                         (periods == 1 || SetSynthSetting(settings_, "audio.periods", static_cast<double>(periods))) &&
                         SetSynthSetting(settings_, "audio.period-size",
                                         static_cast<double>(std::max(64, PeriodFrames(latencyMs_, rate) / periods)));
        if (set) driver_ = tap_ ? new_fluid_audio_driver2(settings_, &SoftSynth::RenderForDriver, this)
                                : new_fluid_audio_driver(settings_, synth_);
        if (driver_) {
            driverName_ = name;
            error_.clear();
            if (!failures.empty())
                qCWarning(lcSynth).noquote()
                    << QString::fromStdString("the audio driver " + order[0] + " could not be opened (" + failures +
                                              "); " + name + " is used instead");
            return true;
        }
        // A driver that was not asked for and cannot be there is not worth a word.
        if (!why.empty() && name != order[0]) continue;
        failures += (failures.empty() ? "" : "; ") + name + ": " +
                    (!why.empty() ? why : t_lastError.empty() ? Say(QT_TRANSLATE_NOOP("SoftSynth", "not available")) : t_lastError);
    }
    error_ = Say(QT_TRANSLATE_NOOP("SoftSynth", "no sound output could be opened (%1)"), failures);
    return false;
}

void SoftSynth::ChooseInstrumentOnFirstUse(int channel, bool programChange) {
    const auto bit = static_cast<std::uint16_t>(1u << channel);
    if (chosen_.load(std::memory_order_acquire) & bit) return;
    const std::lock_guard lock(choosing_);
    if (chosen_.load(std::memory_order_relaxed) & bit) return;
    // Program 0 in the channel's bank: the piano, or on the drum channel the standard kit, as
    // FluidSynth chooses for every channel when it loads a SoundFont.
    if (!programChange) fluid_synth_program_change(synth_, channel, 0);
    // General MIDI's default reverb send; FluidSynth starts every channel at 0, which leaves the
    // reverb silent for any song or player that does not send controller 91 itself.
    fluid_synth_cc(synth_, channel, kReverbSendController, kDefaultReverbSend);
    chosen_.fetch_or(bit, std::memory_order_release);
}

bool SoftSynth::Play(std::uint32_t packed) {
    if (!synth_) return false;
    const int status = packed & 0xFF;
    const int channel = status & 0x0F;
    const int d1 = (packed >> 8) & 0x7F;
    const int d2 = (packed >> 16) & 0x7F;
    if (IsStatusByte(status) && status < kSystemStatus)
        ChooseInstrumentOnFirstUse(channel, StatusKind(status) == kProgramChangeStatus);
    switch (StatusKind(status)) {
        case kNoteOffStatus: fluid_synth_noteoff(synth_, channel, d1); return true;
        case kNoteOnStatus:
            if (d2 == 0) fluid_synth_noteoff(synth_, channel, d1);
            else fluid_synth_noteon(synth_, channel, d1, d2);
            return true;
        case kPolyPressureStatus: fluid_synth_key_pressure(synth_, channel, d1, d2); return true;
        case kControlChangeStatus: fluid_synth_cc(synth_, channel, d1, d2); return true;
        case kProgramChangeStatus: fluid_synth_program_change(synth_, channel, d1); return true;
        case kChannelPressureStatus: fluid_synth_channel_pressure(synth_, channel, d1); return true;
        case kPitchBendStatus: fluid_synth_pitch_bend(synth_, channel, d1 | (d2 << 7)); return true;
        default: return status >= kSystemStatus;  // system messages: nothing to play
    }
}

void SoftSynth::ApplySound(const SoundOptions& options) {
    if (!synth_) return;
    // These settings take effect at once on a running synthesizer.
    SetSynthSetting(settings_, "synth.gain", kFullGain * std::clamp(options.volume, 0, 100) / 100.0);
    SetSynthSetting(settings_, "synth.reverb.active", options.reverb ? 1.0 : 0.0);
    SetSynthSetting(settings_, "synth.reverb.level", std::clamp(options.reverbAmount, 0, 100) / 100.0);
    SetSynthSetting(settings_, "synth.chorus.active", options.chorus ? 1.0 : 0.0);
    // The settings above are what a later read sees; a running synthesizer takes the effects
    // from these calls (-1: every effects group).
    fluid_synth_reverb_on(synth_, -1, options.reverb ? 1 : 0);
    const double amount = std::clamp(options.reverbAmount, 0, 100) / 100.0;
    fluid_synth_set_reverb_group_level(synth_, -1, amount);
    // The amount is the room too: at full amount a hall, not only a louder small room.
    fluid_synth_set_reverb_group_roomsize(synth_, -1, ReverbRoomSize(options.reverbAmount));
    fluid_synth_chorus_on(synth_, -1, options.chorus ? 1 : 0);
}

std::string SoftSynth::ChangeSoundFont(const std::string& soundFont) {
    if (!synth_) return error_;
    ForgetLastError();
    const int id = soundFont.empty() ? FLUID_FAILED : fluid_synth_sfload(synth_, soundFont.c_str(), 0);
    if (id == FLUID_FAILED) return Say(QT_TRANSLATE_NOOP("SoftSynth", "the SoundFont %1 could not be loaded"), soundFont) + LastErrorSuffix();
    // Unloading the old one gives every channel its program again, now from the new one.
    if (soundFontId_ != FLUID_FAILED) fluid_synth_sfunload(synth_, soundFontId_, 1);
    soundFontId_ = id;
    return {};
}

void SoftSynth::Render(std::vector<float>& left, std::vector<float>& right, int frames) {
    left.assign(static_cast<std::size_t>(frames), 0.0f);
    right.assign(static_cast<std::size_t>(frames), 0.0f);
    if (synth_) fluid_synth_write_float(synth_, frames, left.data(), 0, 1, right.data(), 0, 1);
}

bool SoftSynthOut::Open(int id, MidiNotifier& notifier) {
    Close();
    error_.clear();
    if (id != 0) return false;
    {
        const std::lock_guard lock(optionsLock_);
        options_ = LoadSoundOptions();
    }
    const std::string gm = FindGmSoundFont();
    const std::string soundFont = !soundFont_.empty() ? soundFont_ : !options_.soundFont.empty() ? options_.soundFont : gm;
    if (soundFont.empty()) {
        std::string tried;
        for (const auto& path : GmSoundFontPaths()) tried += (tried.empty() ? "" : ", ") + path;
        error_ = Say(QT_TRANSLATE_NOOP("SoftSynth", "no General MIDI SoundFont was found; looked for %1. Install the "
                                                   "package %2, or any package that provides sf2-soundfont-gm."),
                     tried, std::string(kSoundFontPackage));
        return false;
    }
    // The notifier outlives the open device: closing joins this thread first.
    latencyMs_ = SoundLatencyMs();
    audioDriver_ = SoundAudioDriver();
    // Only the saved SoundFont gives way to the General MIDI one; one given by name does not.
    const bool fallBack = soundFont_.empty() && !gm.empty() && soundFont != gm;
    loader_ = std::jthread([this, soundFont, gm, fallBack, latencyMs = latencyMs_, driver = audioDriver_, &notifier] {
        auto synth = std::make_unique<SoftSynth>(soundFont, 44100.0, latencyMs);
        if (!synth->Ready() && fallBack) {
            qCWarning(lcSynth).noquote() << QString::fromStdString(synth->Error() + "; the General MIDI one is used");
            synth = std::make_unique<SoftSynth>(gm, 44100.0, latencyMs);
        }
        if (synth->Ready() && (!audio_ || synth->StartAudio({}, driver))) {
            const std::lock_guard lock(optionsLock_);
            synth->ApplySound(options_);
            synth_ = std::move(synth);
            loaded_.store(true, std::memory_order_release);
            notifier.PostOutputOpened();
        } else {
            notifier.PostOutputFailed(synth->Error());
        }
    });
    return true;
}

bool SoftSynthOut::Send(std::uint32_t packed) {
    return loaded_.load(std::memory_order_acquire) && synth_->Play(packed);
}

void SoftSynthOut::ApplySound(const SoundOptions& options) {
    const std::lock_guard lock(optionsLock_);
    options_ = options;
    if (SoftSynth* synth = Engine()) synth->ApplySound(options);
}

std::string SoftSynthOut::ChangeSoundFont(const std::string& path) {
    SoftSynth* synth = Engine();
    return synth ? synth->ChangeSoundFont(path) : Say(QT_TRANSLATE_NOOP("SoftSynth", "the sounds are still loading; try again in a moment"));
}

std::string SoftSynthOut::AudioDriver() const {
    const SoftSynth* synth = Engine();
    return synth ? synth->AudioDriver() : std::string();
}

void SoftSynthOut::Close() {
    if (loader_.joinable()) loader_.join();
    loaded_.store(false, std::memory_order_release);
    synth_.reset();
}

}  // namespace kivra
