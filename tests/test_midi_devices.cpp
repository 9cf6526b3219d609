// Opening the devices by their saved names: lookups, OpenSavedDevices, the notifier's
// generations, and the names and silence of the system's MIDI ports.
#include "midi/backends/rtmidi/rtmidi_backend.h"
#include "midi/devices.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

using namespace kivra;

namespace {

void ClearSettings() { QSettings(QStringLiteral("Kivra"), QStringLiteral("Kivra")).clear(); }

// Everything written to standard error (file descriptor 2, so C and C++ streams alike) while
// `action` runs.
template <typename F> std::string StandardErrorOf(F action) {
    std::fflush(stderr);
    QTemporaryFile file;
    EXPECT_TRUE(file.open());
    const int saved = ::dup(2);
    ::dup2(file.handle(), 2);
    action();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    file.seek(0);
    return file.readAll().toStdString();
}

}  // namespace

TEST(DeviceLookup, PrefixMatchLowestIdWins) {
    test::FakeMidi midi(false, {"Synth Deluxe", "Synth", "USB"}, {"(None) Keys", "Keys", "Keys"});
    EXPECT_EQ(FindMIDIOutDevice("Synth"), 0);        // the longer name comes first
    EXPECT_EQ(FindMIDIOutDevice("Synth Deluxe"), 0);
    EXPECT_EQ(FindMIDIOutDevice("USB"), 2);
    EXPECT_EQ(FindMIDIOutDevice("USB Port"), -1);    // longer than the device's name
    EXPECT_EQ(FindMIDIOutDevice("synth"), -1);       // case matters
    EXPECT_EQ(FindMIDIOutDevice(""), 0);
    EXPECT_EQ(FindMIDIInDevice("Keys"), 1);
    EXPECT_EQ(FindMIDIInDevice(""), 0);
    EXPECT_EQ(FindMIDIInDevice("(None)"), -1);       // never compared, though device 0 begins with it
    EXPECT_EQ(FindMIDIInDevice("(None"), 0);
}

TEST(DeviceLookup, NamesAreTheFirst31CharactersOfTheField) {
    const std::string longName = "Port with a name of forty-odd characters";
    test::FakeMidi midi(false, {"Synth", longName});
    EXPECT_EQ(DeviceName31(longName), longName.substr(0, 31));
    EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(longName.substr(0, 31))), 1);
    EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(longName)), -1);
    EXPECT_EQ(DeviceName31(std::string("Pad\0junk", 8)), "Pad");
    // A cut inside a UTF-8 character moves back to its start, so the name survives the settings.
    const std::string accented = std::string(30, 'x') + "étude";  // é is bytes 30 and 31
    ASSERT_GT(accented.size(), 31u);
    const std::string cut = DeviceName31(accented);
    EXPECT_EQ(cut, accented.substr(0, 30));
    EXPECT_EQ(QString::fromStdString(cut).toStdString(), cut);
    midi.out->names = {"Synth", accented};
    EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(cut)), 1);
}

TEST(OpenSavedDevicesTest, OpensTheNamedDevicesAndStaysSilentWhenTheyAreMissing) {
    ClearSettings();
    test::ScriptedDialogs dialogs;
    test::FakeMidi midi(false, {"Other", "Kivra Software Synth"}, {"Keys"});
    OpenSavedDevices();  // first run: the default synthesizer, no input
    EXPECT_EQ(midi.out->openedId, 1);
    EXPECT_TRUE(midi.in->openCalls.empty());

    SaveSetting(kSettingsSection, kOutputDeviceKey, QStringLiteral("Unplugged"));
    SaveSetting(kSettingsSection, kInputDeviceKey, QStringLiteral("Keys"));
    midi.out->openCalls.clear();
    const std::string noise = StandardErrorOf([] {
        OpenSavedDevices();
        test::ProcessEvents();
    });
    EXPECT_EQ(midi.out->openedId, -1);  // closed, and nothing reopened
    EXPECT_TRUE(midi.out->openCalls.empty());
    EXPECT_EQ(midi.in->openedId, 0);    // the other device is still handled
    EXPECT_FALSE(g_bMidiOutOpen);
    EXPECT_FALSE(PlayNote(60, 100, 0));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(noise, "");

    midi.in->refuseOpen = true;  // a device that refuses to open is just as quiet
    SaveSetting(kSettingsSection, kOutputDeviceKey, QStringLiteral("Other"));
    OpenSavedDevices();
    test::ProcessEvents();
    EXPECT_EQ(midi.in->openedId, -1);
    EXPECT_TRUE(g_bMidiOutOpen);
    EXPECT_TRUE(dialogs.shown.empty());
    ClearSettings();
}

TEST(MidiNotifierGenerations, NotificationsQueuedBeforeCloseAreDropped) {
    test::FakeMidi midi(false, {"Synth"}, {"Keys"});
    std::vector<std::uint32_t> received;
    Notifier().onInputData = [&](std::uint32_t m) { received.push_back(m); };
    OpenMIDIOut(0);
    OpenMIDIIn(0);
    midi.in->Inject(0x7F3C90u | 0xAB000000u);
    CloseMIDIDevices();
    test::ProcessEvents();
    EXPECT_FALSE(g_bMidiOutOpen);  // the "opened" of the closed device never lands
    EXPECT_TRUE(received.empty());

    OpenMIDIOut(0);
    OpenMIDIIn(0);
    midi.in->Inject(0xAB7F3C90u);
    test::ProcessEvents();
    EXPECT_TRUE(g_bMidiOutOpen);
    EXPECT_EQ(received, std::vector<std::uint32_t>{0x7F3C90u});  // only the three low bytes

    Notifier().PostOutputClosed();
    test::ProcessEvents();
    EXPECT_FALSE(g_bMidiOutOpen);
}

TEST(SystemMidiPorts, NamesDropTheClientAndPortNumbers) {
    EXPECT_EQ(StableRtMidiPortName("USB Keys:USB Keys MIDI 1 20:0"), "USB Keys:USB Keys MIDI 1");
    EXPECT_EQ(StableRtMidiPortName("Midi Through:Midi Through Port-0 14:0"), "Midi Through:Midi Through Port-");
    EXPECT_EQ(StableRtMidiPortName("Keys 2:0 128:12"), "Keys 2:0");
    EXPECT_EQ(StableRtMidiPortName("Plain"), "Plain");
}

TEST(SystemMidiPorts, UseThemWithoutASequencerOrWithOneAndNothingIsPrinted) {
    const std::string noise = StandardErrorOf([] {
        RtMidiOutPorts out;
        RtMidiInPorts in;
        MidiNotifier notifier;
        for (const auto& names : {out.DeviceNames(), in.DeviceNames()}) {
            for (const auto& n : names) {
                EXPECT_LE(n.size(), 31u);
                EXPECT_EQ(n, StableRtMidiPortName(n));
                EXPECT_EQ(n.rfind("Kivra:", 0), std::string::npos) << n;  // never our own ports
            }
        }
        EXPECT_FALSE(out.Open(-1, notifier));
        EXPECT_FALSE(in.Open(1000, notifier));
        if (!MidiSequencerAvailable()) {
            EXPECT_TRUE(out.DeviceNames().empty());
            EXPECT_FALSE(in.Open(0, notifier));
            EXPECT_FALSE(out.Send(0x643C90u));
        } else if (!in.DeviceNames().empty()) {
            EXPECT_TRUE(in.Open(0, notifier));
            const auto before = out.DeviceNames();
            in.Close();
            EXPECT_EQ(out.DeviceNames(), before);  // our input port does not become a device
        }
        out.Close();
        in.Close();
    });
    EXPECT_EQ(noise, "");
}
