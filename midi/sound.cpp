#include "midi/sound.h"

#include "midi/devices.h"
#include "midi/message.h"
#include "midi/midiio.h"

#include <algorithm>

namespace kivra {
namespace {

int Percent(const QString& key, int otherwise) {
    bool ok = false;
    const int value = GetSetting(kSoundSection, key, QString()).trimmed().toInt(&ok);
    return ok ? std::clamp(value, 0, 100) : otherwise;
}

}  // namespace

SoundOptions LoadSoundOptions() {
    SoundOptions o;
    o.volume = Percent(QStringLiteral("Volume"), kDefaultVolume);
    o.reverb = GetFlagSetting(kSoundSection, QStringLiteral("Reverb"));
    o.reverbAmount = Percent(QStringLiteral("ReverbAmount"), kDefaultReverbAmount);
    o.chorus = GetFlagSetting(kSoundSection, QStringLiteral("Chorus"));
    o.soundFont = GetSetting(kSoundSection, QStringLiteral("SoundFont"), QString()).toStdString();
    return o;
}

std::uint32_t ExternalVolumeMessage(int volumePercent) {
    constexpr int kVolumeController = 7;
    return PackShortMessage(kControlChangeStatus + g_lChannel, kVolumeController, std::clamp(volumePercent, 0, 100) * 127 / 100);
}

void SaveSoundOptions(const SoundOptions& o) {
    SaveSetting(kSoundSection, QStringLiteral("Volume"), QString::number(o.volume));
    SaveFlagSetting(kSoundSection, QStringLiteral("Reverb"), o.reverb);
    SaveSetting(kSoundSection, QStringLiteral("ReverbAmount"), QString::number(o.reverbAmount));
    SaveFlagSetting(kSoundSection, QStringLiteral("Chorus"), o.chorus);
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), QString::fromStdString(o.soundFont));
}

void LoadPlayingSettings() {
    bool ok = false;
    const int velocity = GetSetting(kPlayingSection, kVelocityKey, QString()).trimmed().toInt(&ok);
    SetPlayVelocity(ok ? velocity : kDefaultVelocity);
    SetTouchVelocity(GetFlagSetting(kPlayingSection, kTouchVelocityKey));
}

void SavePlayingSettings() {
    SaveSetting(kPlayingSection, kVelocityKey, QString::number(PlayVelocity()));
    SaveFlagSetting(kPlayingSection, kTouchVelocityKey, TouchVelocity());
}

void Panic() {
    constexpr int kAllSoundOff = 120, kAllNotesOff = 123;
    for (int c = 0; c < 16; ++c)
        for (int controller : {kAllSoundOff, kAllNotesOff})
            SendFromAnyThread(PackShortMessage(kControlChangeStatus + c, controller, 0));
    ForgetSoundingNotes();
}

}  // namespace kivra
