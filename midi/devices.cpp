#include "midi/devices.h"

#include "midi/midiinput.h"
#include "midi/midiio.h"
#include "midi/notifier.h"

#include <QCoreApplication>
#include <QSettings>

#include <string>
#include <utility>
#include <vector>

namespace kivra {
namespace {

// The platform compares the saved name with the start of a 32-character, NUL-padded name field.
int FindByPrefix(const std::vector<std::string>& names, const QString& wanted) {
    const std::string name = wanted.toStdString();
    for (std::size_t id = 0; id < names.size(); ++id) {
        std::string field = DeviceName31(names[id]);
        field.resize(32, '\0');
        if (name.size() <= field.size() && field.compare(0, name.size(), name) == 0)
            return static_cast<int>(id);
    }
    return -1;
}

}  // namespace

std::string DeviceName31(std::string name) {
    // The name field ends at its first NUL.
    if (const auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
    if (name.size() > 31) {
        // Never cut inside a UTF-8 character: half a character would not survive the round trip
        // through the settings, and the saved name would never match the device again.
        std::size_t cut = 31;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0u) == 0x80u) --cut;
        name.resize(cut);
    }
    return name;
}

namespace {

std::vector<std::string> OutNames() {
    auto* out = OutBackend();
    return out ? out->DeviceNames() : std::vector<std::string>{};
}

std::vector<std::string> InNames() {
    auto* in = InBackend();
    return in ? in->DeviceNames() : std::vector<std::string>{};
}

QString NameOf(const std::vector<std::string>& names, int id) {
    if (id < 0 || static_cast<std::size_t>(id) >= names.size()) return {};
    return QString::fromStdString(DeviceName31(names[static_cast<std::size_t>(id)]));
}

}  // namespace

int GetMIDIOutCount() { return static_cast<int>(OutNames().size()); }
int GetMIDIInCount() { return static_cast<int>(InNames().size()); }
QString GetMIDIOutName(int id) { return NameOf(OutNames(), id); }
QString GetMIDIInName(int id) { return NameOf(InNames(), id); }

int FindMIDIOutDevice(const QString& name) {
    auto* out = OutBackend();
    return out ? FindByPrefix(out->DeviceNames(), name) : -1;
}

int FindMIDIInDevice(const QString& name) {
    if (name == kNoInputDevice) return -1;
    auto* in = InBackend();
    return in ? FindByPrefix(in->DeviceNames(), name) : -1;
}

namespace {
QString g_outputProblem;
bool g_outputLoading = false;
std::function<void(const QString&, bool)> g_outputProblemListener;

// The sentence that names the output device (empty: none was found) and why it did not open.
QString ProblemSentence(const QString& device, QString reason) {
    if (reason.isEmpty()) return {};
    if (!reason.endsWith(QLatin1Char('.'))) reason += QLatin1Char('.');
    if (device.isEmpty()) return QCoreApplication::translate("MidiDevices", "No output device could be opened: %1").arg(reason);
    return QCoreApplication::translate("MidiDevices", "The output device \"%1\" could not be opened: %2").arg(device, reason);
}

void TellListener(bool late) {
    if (g_outputProblemListener) g_outputProblemListener(g_outputProblem, late);
}
}  // namespace

QString OpenSavedDevices() {
    CloseMIDIDevices();
    const QString outName = GetSetting(kSettingsSection, kOutputDeviceKey, kDefaultOutputDevice);
    const int out = FindMIDIOutDevice(outName);
    QString reason;
    if (out < 0) {
        reason = QCoreApplication::translate("MidiDevices", "there is no such device now. Choose one in MIDI Devices.");
    } else if (!OpenMIDIOut(out)) {
        reason = QString::fromStdString(OutBackend()->OpenError());
        if (reason.isEmpty()) reason = QCoreApplication::translate("MidiDevices", "the device refused to open.");
    }
    // A name that found a device is shown as the device calls itself (the saved one may be a prefix).
    const QString device = out >= 0 ? GetMIDIOutName(out) : outName;
    g_outputProblem = ProblemSentence(device, reason);
    g_outputLoading = g_bMidiOutLoading;
    Notifier().onLoadEnded = [device](const std::string& error) {
        if (!std::exchange(g_outputLoading, false)) return;  // not the output opened here
        g_outputProblem = ProblemSentence(device, QString::fromStdString(error));
        TellListener(true);
    };
    const int in = FindMIDIInDevice(GetSetting(kSettingsSection, kInputDeviceKey, kNoInputDevice));
    if (in >= 0) OpenMIDIIn(in);
    SetPassControllers(GetFlagSetting(kSettingsSection, kPassControllersKey));
    TellListener(false);
    return g_outputProblem;
}

QString OutputProblem() { return g_outputProblem; }
bool OutputLoading() { return g_outputLoading; }

void SetOutputProblemListener(std::function<void(const QString&, bool)> listener) {
    g_outputProblemListener = std::move(listener);
}

QString GetSetting(const QString& section, const QString& key, const QString& defaultValue) {
    QSettings settings(QStringLiteral("Kivra"), QStringLiteral("Kivra"));
    return settings.value(section + QLatin1Char('/') + key, defaultValue).toString();
}

void SaveSetting(const QString& section, const QString& key, const QString& value) {
    QSettings settings(QStringLiteral("Kivra"), QStringLiteral("Kivra"));
    settings.setValue(section + QLatin1Char('/') + key, value);
}

bool GetFlagSetting(const QString& section, const QString& key) {
    return GetSetting(section, key, QString()).trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

void SaveFlagSetting(const QString& section, const QString& key, bool on) {
    SaveSetting(section, key, on ? QStringLiteral("true") : QStringLiteral("false"));
}

}  // namespace kivra
