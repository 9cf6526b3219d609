#pragma once
// Opening the MIDI devices by the names remembered in the settings.

#include <QString>

#include <functional>

namespace kivra {

inline const QString kSettingsSection = QStringLiteral("MIDI Devices");
inline const QString kOutputDeviceKey = QStringLiteral("Output Device");
inline const QString kInputDeviceKey = QStringLiteral("Input Device");
inline const QString kNoInputDevice = QStringLiteral("(None)");
// "true" lets the input's pedals and controllers through to the output.
inline const QString kPassControllersKey = QStringLiteral("PassControllers");
// The platform synthesizer's name, the default of "Output Device".
#ifdef Q_OS_WIN
inline const QString kDefaultOutputDevice = QStringLiteral("Microsoft GS Wavetable SW Synth");
#else
inline const QString kDefaultOutputDevice = QStringLiteral("Kivra Software Synth");
#endif
// The audio buffering of the built-in synthesizer, in milliseconds.
inline const QString kSoundSection = QStringLiteral("Sound");
inline const QString kLatencyKey = QStringLiteral("Latency");
// The built-in synthesizer's audio driver: "pulseaudio", "pipewire", "jack" or "alsa".
inline const QString kAudioDriverKey = QStringLiteral("AudioDriver");
// How mouse and computer-key notes play: "Velocity" 1..127, "TouchVelocity" true/false.
inline const QString kPlayingSection = QStringLiteral("Playing");
inline const QString kVelocityKey = QStringLiteral("Velocity");
inline const QString kTouchVelocityKey = QStringLiteral("TouchVelocity");
// Title of the message that says why the output did not open.
inline constexpr const char* kOutputProblemTitle = QT_TRANSLATE_NOOP("MidiDevices", "MIDI Devices");

// The device lists as the platform offers them now: ids 0..count-1, names of at most 31
// characters. An id out of range gives an empty name.
int GetMIDIOutCount();
int GetMIDIInCount();
QString GetMIDIOutName(int id);
QString GetMIDIInName(int id);

// Lowest id whose name begins with `name` (a name longer than the device's never matches; an
// empty name matches device 0), or -1.
int FindMIDIOutDevice(const QString& name);
// As above over the input devices; -1 at once for "(None)".
int FindMIDIInDevice(const QString& name);

// Closes both devices, then opens the ones the settings name and applies PassControllers. Shows nothing; returns
// OutputProblem().
QString OpenSavedDevices();

// Why the output device named in the settings is not open after the last OpenSavedDevices, as a
// sentence that names the device and the reason; empty when it opened or is still loading.
QString OutputProblem();
// True while the output the last OpenSavedDevices opened still loads in the background.
bool OutputLoading();
// Told OutputProblem() after every OpenSavedDevices, and again when an output that was loading
// has opened or failed, on the UI thread; `late` marks the second kind, whose problem nobody has
// shown yet. One listener, null for none.
void SetOutputProblemListener(std::function<void(const QString& problem, bool late)> listener);

// The per-user settings store (application "Kivra").
QString GetSetting(const QString& section, const QString& key, const QString& defaultValue);
void SaveSetting(const QString& section, const QString& key, const QString& value);
// A yes/no setting, stored as "true" or "false"; anything else reads as false.
bool GetFlagSetting(const QString& section, const QString& key);
void SaveFlagSetting(const QString& section, const QString& key, bool on);

}  // namespace kivra
