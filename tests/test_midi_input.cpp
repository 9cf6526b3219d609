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


struct RecordBox : test::FakeRecorder {
    RecordBox() { channel = 5; }
};

// An open fake input device whose messages go through the real notifier and dispatch.
struct InputRig {
    test::FakeMidi midi{true, {"Kivra Software Synth"}, {"Keys"}};
    test::FakePiano piano;
    RecordBox recorder;
    InputRig() {
        InstallMidiInputDispatch();
        EXPECT_TRUE(OpenMIDIIn(0));
        midi.ClearSent();
    }
    std::string Receive(std::uint32_t message) {
        midi.ClearSent();
        midi.in->Inject(message);
        test::ProcessEvents();
        return midi.SentHex();
    }
};

// Bytes as a keyboard sends them, lowest first.
constexpr std::uint32_t Msg(unsigned status, unsigned data1, unsigned data2 = 0) {
    return status | (data1 << 8) | (data2 << 16);
}

}  // namespace

TEST(MidiInputDispatch, NotesGoToThePlayChannelExceptPercussionAndEverythingElseIsIgnored) {
    InputRig rig;
    enum Mode { kPlain, kDrum, kRecord };
    // notesDown: the count after the message.
    const struct { int channel; Mode mode; std::uint32_t received; const char* sent; int notesDown; } cases[] = {
        {0, kPlain, Msg(0x99, 0x24, 0x64), "99 24 64", 1},  // channel 9 stays on 9
        {0, kPlain, Msg(0x99, 0x24, 0x00), "99 24 00", 0},  // velocity 0 is a release, on 9 too
        {0, kPlain, Msg(0x92, 0x40, 0x00), "90 40 00", 0},
        {0, kPlain, Msg(0x93, 0x3C, 0x40), "90 3C 40", 1},  // other channels are not used
        {0, kPlain, Msg(0x90, 0x3E, 0x40) | 0xAB000000u, "90 3E 40", 2},  // top byte unused
        {6, kPlain, Msg(0x90, 0x3C, 0x7F), "96 3C 7F", 2},  // velocity passes unchanged
        {0, kDrum, Msg(0x90, 0x3C, 0x40), "99 3C 40", 2},
        {0, kRecord, Msg(0x90, 0x3C, 0x40), "95 3C 40", 2},  // the recording track
        // A note-off ignores its channel nibble, channel 9 included, and its release velocity.
        {0, kPlain, Msg(0x89, 0x24, 0x40), "90 24 00", 2},
        {2, kPlain, Msg(0x80, 0x24, 0x7F), "92 24 00", 2},
        {2, kRecord, Msg(0x89, 0x24, 0x40), "95 24 00", 2},
        {2, kDrum, Msg(0x83, 0x24, 0x40), "99 24 00", 2},
    };
    for (const auto& c : cases) {
        g_lChannel = c.channel;
        rig.piano.drum = c.mode == kDrum;
        rig.recorder.record = c.mode == kRecord;
        EXPECT_EQ(rig.Receive(c.received), c.sent) << std::hex << c.received;
        EXPECT_EQ(g_lNotesDown, c.notesDown) << std::hex << c.received;
    }
    EXPECT_EQ(rig.recorder.recorded, std::vector<int>{0x3C});  // releases are never recorded
    // Other kinds; data bytes with the top bit set would go out as a malformed message.
    for (auto m : {Msg(0xB0, 0x07, 0x7F), Msg(0xE0, 0x00, 0x40), Msg(0xF8, 0), Msg(0xA0, 0x3C, 0x10),
                   Msg(0xC0, 0x05), Msg(0xD0, 0x20), Msg(0xFF, 0), Msg(0x3C, 0x40), Msg(0x90, 0x3C, 0x80),
                   Msg(0x90, 0xBC, 0x40), Msg(0x80, 0xFF, 0x00)})
        EXPECT_EQ(rig.Receive(m), "") << std::hex << m;
    EXPECT_EQ(g_lNotesDown, 2);
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
