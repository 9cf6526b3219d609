// MIDI input: the note dispatch of received messages, their order across the hop to the UI
// thread, and delivery while a modal dialog runs.
#include "midi/frmdevices.h"
#include "midi/midiinput.h"
#include "midi/midiio.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <string>
#include <thread>
#include <vector>

using namespace kivra;

namespace {

// An open fake input device whose messages go through the real notifier and dispatch.
struct InputRig {
    test::FakeMidi midi{true, {"Kivra Software Synth"}, {"Keys"}};
    test::FakePiano piano;
    test::FakeRecorder recorder;
    InputRig() {
        recorder.channel = 5;
        InstallMidiInputDispatch();
        EXPECT_TRUE(OpenMIDIIn(0));
        midi.ClearSent();
    }
    std::string Receive(std::initializer_list<std::uint32_t> messages) {
        midi.ClearSent();
        for (auto m : messages) midi.in->Inject(m);
        test::ProcessEvents();
        return midi.SentHex();
    }
};

// Bytes as a keyboard sends them, lowest first.
constexpr std::uint32_t Msg(unsigned status, unsigned data1, unsigned data2 = 0) {
    return status | (data1 << 8) | (data2 << 16);
}

}  // namespace

TEST(MidiInputDispatch, KeysPlayOnThePlayChannelExceptPercussionAndEverythingElseIsIgnored) {
    InputRig rig;
    enum Mode { kPlain, kDrum, kRecord };
    // A key pressed and released; the release stops what the press started.
    const struct { int channel; Mode mode; std::uint32_t press, release; const char* sent; } cases[] = {
        {0, kPlain, Msg(0x99, 0x24, 0x64), Msg(0x99, 0x24, 0x00), "99 24 64 99 24 00"},  // 9 stays on 9
        {0, kDrum, Msg(0x99, 0x24, 0x64), Msg(0x89, 0x24, 0x40), "99 24 64 99 24 00"},
        {0, kPlain, Msg(0x93, 0x3C, 0x40), Msg(0x83, 0x3C, 0x7F), "90 3C 40 90 3C 00"},  // 3 is not used
        {6, kPlain, Msg(0x90, 0x3C, 0x7F) | 0xAB000000u, Msg(0x90, 0x3C, 0), "96 3C 7F 96 3C 00"},
        {0, kDrum, Msg(0x90, 0x3C, 0x40), Msg(0x80, 0x3C, 0x00), "99 3C 40 99 3C 00"},
        {0, kRecord, Msg(0x90, 0x3C, 0x40), Msg(0x90, 0x3C, 0x00), "95 3C 40 95 3C 00"},  // the track's
        // Releases of keys that pressed nothing; other kinds; data bytes with the top bit set
        // would go out as a malformed message.
        {0, kPlain, Msg(0x89, 0x24, 0x40), Msg(0x92, 0x40, 0x00), ""},
        {0, kPlain, Msg(0xB0, 0x07, 0x7F), Msg(0xE0, 0x00, 0x40), ""},
        {0, kPlain, Msg(0xF8, 0), Msg(0xA0, 0x3C, 0x10), ""},
        {0, kPlain, Msg(0xC0, 0x05), Msg(0xD0, 0x20), ""},
        {0, kPlain, Msg(0xFF, 0), Msg(0x3C, 0x40), ""},
        {0, kPlain, Msg(0x90, 0x3C, 0x80), Msg(0x90, 0xBC, 0x40), ""},
    };
    for (const auto& c : cases) {
        g_lChannel = c.channel;
        rig.piano.drum = c.mode == kDrum;
        rig.recorder.record = c.mode == kRecord;
        EXPECT_EQ(rig.Receive({c.press, c.release}), c.sent) << std::hex << c.press;
        EXPECT_EQ(g_lNotesDown, 0) << std::hex << c.press;
    }
    EXPECT_EQ(rig.recorder.recorded, std::vector<int>{0x3C});  // releases are never recorded
}

TEST(MidiInputOrder, BurstsArriveInOrderFromAnyThread) {
    InputRig rig;
    std::vector<std::uint32_t> injected;
    auto burst = [&](int first) {
        for (int i = 0; i < 400; ++i) {
            injected.push_back(Msg(0x90, (first + i) % 128, 1 + i % 127));
            rig.midi.in->Inject(injected.back());
        }
    };
    burst(0);                      // from the UI thread
    std::thread(burst, 7).join();  // as a driver's input thread does
    test::ProcessEvents();
    EXPECT_EQ(rig.midi.out->sent, injected);
}

TEST(MidiInputOrder, MessagesAreDispatchedWhileAModalDialogRuns) {
    InputRig rig;
    frmDevices dialog;
    std::string sentWhileModal;
    bool wasModal = false;
    QTimer::singleShot(0, &dialog, [&] {
        rig.midi.in->Inject(Msg(0x90, 0x3C, 0x40));
        rig.midi.in->Inject(Msg(0x80, 0x3C, 0x00));
        // Queued behind the two messages: runs once the dialog's own loop has handled them.
        QTimer::singleShot(0, &dialog, [&] {
            wasModal = QApplication::activeModalWidget() == &dialog;
            sentWhileModal = rig.midi.SentHex();
            dialog.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        });
    });
    dialog.exec();
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(sentWhileModal, "90 3C 40 90 3C 00");
}
