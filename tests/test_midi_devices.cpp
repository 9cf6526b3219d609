// Device names as the lists show and the settings keep them, and the system's MIDI ports.
#include "midi/backends/rtmidi/rtmidi_backend.h"
#include "midi/backends/system_backends.h"
#include "midi/devices.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

using namespace kivra;

namespace {

// Everything written to file descriptor 2 (C and C++ streams alike) while `action` runs.
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

TEST(DeviceLookup, NamesAreTheFirst31CharactersOfTheField) {
    const std::string longName = "Port with a name of forty-odd characters";
    test::FakeMidi midi(false, {"Synth", longName});
    EXPECT_EQ(DeviceName31(longName), longName.substr(0, 31));
    EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(longName.substr(0, 31))), 1);
    EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(longName)), -1);
    EXPECT_EQ(DeviceName31(std::string("Pad\0junk", 8)), "Pad");
    // A cut inside a UTF-8 character moves back to its start, so the name survives the settings.
    const std::string accented = std::string(30, 'x') + "étude";  // é is bytes 30 and 31
    const std::string cut = DeviceName31(accented);
    EXPECT_EQ(cut, accented.substr(0, 30));
    EXPECT_EQ(QString::fromStdString(cut).toStdString(), cut);
    midi.out->names = {"Synth", accented};
    EXPECT_EQ(FindMIDIOutDevice(QString::fromStdString(cut)), 1);
}

TEST(SystemMidiPorts, NamesDropTheClientAndPortNumbers) {
    const std::pair<const char*, const char*> names[] = {
        {"USB Keys:USB Keys MIDI 1 20:0", "USB Keys:USB Keys MIDI 1"},
        {"Midi Through:Midi Through Port-0 14:0", "Midi Through:Midi Through Port-"},  // cut to 31 characters
        {"Keys 2:0 128:12", "Keys 2:0"}, {"Plain", "Plain"}};
    for (const auto& [port, stable] : names) EXPECT_EQ(StableRtMidiPortName(port), stable) << port;
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
        EXPECT_FALSE(out.OpenError().empty() || in.OpenError().empty());
        auto system = MakeSystemMidiOut();  // the synthesizer, then these ports
        EXPECT_FALSE(system->Open(1000, notifier));
        EXPECT_EQ(system->OpenError(), out.OpenError());
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
    });
    EXPECT_EQ(noise, "");
}
