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

bool Flag(const QString& section, const QString& key) {
    return GetSetting(section, key, QString()).trimmed().compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
}

QString FlagText(bool on) { return on ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

SoundOptions LoadSoundOptions() {
    SoundOptions o;
    o.volume = Percent(QStringLiteral("Volume"), kDefaultVolume);
    o.reverb = Flag(kSoundSection, QStringLiteral("Reverb"));
    o.reverbAmount = Percent(QStringLiteral("ReverbAmount"), kDefaultReverbAmount);
    o.chorus = Flag(kSoundSection, QStringLiteral("Chorus"));
    o.soundFont = GetSetting(kSoundSection, QStringLiteral("SoundFont"), QString()).toStdString();
    return o;
}

void SaveSoundOptions(const SoundOptions& o) {
    SaveSetting(kSoundSection, QStringLiteral("Volume"), QString::number(o.volume));
    SaveSetting(kSoundSection, QStringLiteral("Reverb"), FlagText(o.reverb));
    SaveSetting(kSoundSection, QStringLiteral("ReverbAmount"), QString::number(o.reverbAmount));
    SaveSetting(kSoundSection, QStringLiteral("Chorus"), FlagText(o.chorus));
    SaveSetting(kSoundSection, QStringLiteral("SoundFont"), QString::fromStdString(o.soundFont));
}

void LoadPlayingSettings() {
    bool ok = false;
    const int velocity = GetSetting(kPlayingSection, kVelocityKey, QString()).trimmed().toInt(&ok);
    SetPlayVelocity(ok ? velocity : kDefaultVelocity);
    SetTouchVelocity(Flag(kPlayingSection, kTouchVelocityKey));
}

void SavePlayingSettings() {
    SaveSetting(kPlayingSection, kVelocityKey, QString::number(PlayVelocity()));
    SaveSetting(kPlayingSection, kTouchVelocityKey, FlagText(TouchVelocity()));
}

void Panic() {
    constexpr int kAllSoundOff = 120, kAllNotesOff = 123;
    for (int c = 0; c < 16; ++c)
        for (int controller : {kAllSoundOff, kAllNotesOff})
            SendFromAnyThread(PackShortMessage(kControlChangeStatus + c, controller, 0));
    ForgetSoundingNotes();
}

}  // namespace kivra
