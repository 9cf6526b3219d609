// Device names as the lists show and the settings keep them, and the system's MIDI ports.
#include "midi/backends/rtmidi/rtmidi_backend.h"
#include "midi/backends/system_backends.h"
#include "midi/devices.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace kivra;

// Names are the field's first 31 bytes, cut back to a whole UTF-8 character so that they survive
// the settings; a lookup is a case-sensitive prefix match, the lowest id winning.
TEST(DeviceLookup, NamesAreTheFirst31CharactersAndALookupIsACaseSensitivePrefixMatch) {
    const std::string longName = "Port with a name of forty-odd characters";
    const std::string accented = std::string(30, 'x') + "étude";  // é is bytes 30 and 31
    EXPECT_EQ(DeviceName31(longName), longName.substr(0, 31));
    EXPECT_EQ(DeviceName31(std::string("Pad\0junk", 8)), "Pad");
    EXPECT_EQ(DeviceName31(accented), accented.substr(0, 30));
    test::FakeMidi midi(false, {"Synth Extra", "Synth", "USB Keyboard", longName, accented},
                        {"(None) Port", "USB Keyboard"});
    const std::pair<std::string, int> outs[] = {{"Synth", 0}, {"", 0}, {"USB", 2}, {"USB Keyboard 2", -1},
        {"usb keyboard", -1}, {longName.substr(0, 31), 3}, {longName, -1}, {accented.substr(0, 30), 4}};
    for (const auto& [name, id] : outs) EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(name)), id) << name;
    EXPECT_EQ(FindMIDIInDevice("(None)"), -1);
    EXPECT_EQ(FindMIDIInDevice("USB Keyboard"), 1);
}

TEST(SystemMidiPorts, NamesDropTheClientAndPortNumbers) {
    const std::pair<const char*, const char*> names[] = {
        {"USB Keys:USB Keys MIDI 1 20:0", "USB Keys:USB Keys MIDI 1"},
        {"Midi Through:Midi Through Port-0 14:0", "Midi Through:Midi Through Port-"},  // cut to 31 characters
        {"Keys 2:0 128:12", "Keys 2:0"}, {"Plain", "Plain"}};
    for (const auto& [port, stable] : names) EXPECT_EQ(StableRtMidiPortName(port), stable) << port;
}

TEST(SystemMidiPorts, UseThemWithoutASequencerOrWithOneAndNothingIsPrinted) {
    testing::internal::CaptureStderr();  // file descriptor 2: C and C++ streams alike
    {
        RtMidiOutPorts out;
        RtMidiInPorts in;
        MidiNotifier notifier;
        for (const auto& names : {out.DeviceNames(), in.DeviceNames()})
            for (const auto& n : names) EXPECT_EQ(n.rfind("Kivra:", 0), std::string::npos) << n;  // never our own
        EXPECT_FALSE(out.Open(-1, notifier) || in.Open(1000, notifier) || out.OpenError().empty() ||
                     in.OpenError().empty());
        auto system = MakeSystemMidiOut();  // the synthesizer, then these ports
        EXPECT_FALSE(system->Open(1000, notifier));
        EXPECT_EQ(system->OpenError(), out.OpenError());
        if (!MidiSequencerAvailable()) {
            EXPECT_TRUE(out.DeviceNames().empty() && !in.Open(0, notifier) && !out.Send(0x643C90u));
        } else if (!in.DeviceNames().empty()) {
            EXPECT_TRUE(in.Open(0, notifier));
            const auto before = out.DeviceNames();
            in.Close();
            EXPECT_EQ(out.DeviceNames(), before);  // our input port does not become a device
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
