// Device names as the lists show and the settings keep them, and the system's MIDI ports.
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/backends/rtmidi/rtmidi_backend.h"
#include "midi/backends/system_backends.h"
#include "midi/devices.h"
#include "midi/midiinput.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "testsupport.h"


#include <QTest>

#include <algorithm>

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

// Without a JACK server nothing of JACK's is listed, no server is started and nothing is printed.
TEST(SystemMidiPorts, UseThemWithoutASequencerOrWithOneAndNothingIsPrinted) {
    test::JackServer noServer(false);
    testing::internal::CaptureStderr();  // file descriptor 2: C and C++ streams alike
    {
        RtMidiOutPorts out;
        RtMidiInPorts in;
        MidiNotifier notifier;
        for (const auto& names : {out.DeviceNames(), in.DeviceNames()})
            for (const auto& n : names) EXPECT_EQ(n.rfind("Kivra:", 0), std::string::npos) << n;  // never our own
        EXPECT_FALSE(out.Open(-1, notifier) || in.Open(1000, notifier) || out.OpenError().empty() ||
                     in.OpenError().empty());
        auto system = MakeSystemMidi(notifier);  // the synthesizer, then these ports, then our own
        EXPECT_FALSE(system.out->Open(1000, notifier));
        EXPECT_EQ(system.out->OpenError(), out.OpenError());
        auto names = out.DeviceNames();
        names.insert(names.begin(), kSoftSynthName);
        if (MidiSequencerAvailable()) names.push_back(kVirtualOutputName);
        EXPECT_EQ(system.out->DeviceNames(), names);
        EXPECT_EQ(system.in->DeviceNames(), in.DeviceNames());
        EXPECT_FALSE(JackServerRunning());
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

// With a JACK server: our ports "Kivra:out" and "Kivra:in" are in the graph while the backends live,
// JACK's other ports are devices (ours are not), "Kivra Virtual Output" sends the piano to
// "Kivra:out", and what arrives at "Kivra:in" plays as the input device's notes do.
TEST(SystemMidiPorts, JackListsItsPortsAndOursCarryThePianoBothWays) {
    test::JackServer jack;
    if (!jack.Running()) GTEST_SKIP() << "jackd is not installed";
    MidiNotifier peerNotifier;
    std::vector<std::uint32_t> heard;
    peerNotifier.onInputData = [&](std::uint32_t m) { heard.push_back(m); };
    ResetNoteState();
    auto system = MakeSystemMidi(Notifier());
    JackVirtualPorts peer("peer", peerNotifier);
    const QString ours = test::JackServer::Tool(QStringLiteral("jack_lsp"));
    EXPECT_TRUE(ours.contains(QStringLiteral("Kivra:out\n")) && ours.contains(QStringLiteral("Kivra:in\n"))) << ours.toStdString();
    const auto outs = system.out->DeviceNames(), ins = system.in->DeviceNames();
    for (const char* own : {"Kivra:in", "Kivra:out"})
        EXPECT_TRUE(std::count(outs.begin(), outs.end(), own) + std::count(ins.begin(), ins.end(), own) == 0) << own;
    EXPECT_EQ(std::count(outs.begin(), outs.end(), "peer:in"), 1);
    EXPECT_EQ(std::count(ins.begin(), ins.end(), "peer:out"), 1);
    ASSERT_EQ(outs.back(), kVirtualOutputName);
    for (const auto& [from, to] : {std::pair("Kivra:out", "peer:in"), std::pair("peer:out", "Kivra:in")})
        test::JackServer::Tool(QStringLiteral("jack_connect"), {QString::fromLatin1(from), QString::fromLatin1(to)});
    SetMidiBackends(std::move(system.out), std::move(system.in));
    InstallMidiInputDispatch();
    ASSERT_TRUE(OpenMIDIOut(static_cast<int>(outs.size()) - 1));
    test::ProcessEvents();
    EXPECT_TRUE(PlayNote(60, 100, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard.size() == 1; }, 5000));
    peer.Send(PackShortMessage(0x90, 64, 80));  // into "Kivra:in", out again through "Kivra:out"
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard.size() == 2; }, 5000));
    EXPECT_EQ(heard, (std::vector<std::uint32_t>{PackShortMessage(0x90, 60, 100), PackShortMessage(0x90, 64, 80)}));
    ReleaseMidi();
    EXPECT_FALSE(test::JackServer::Tool(QStringLiteral("jack_lsp")).contains(QStringLiteral("Kivra:")));
}
