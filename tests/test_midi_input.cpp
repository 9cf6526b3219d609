// MIDI input: the note dispatch of received messages, their order across the hop to the UI
// thread, and delivery while a modal dialog runs. Messages are packed, lowest byte first.
#include "midi/frmdevices.h"
#include "midi/midiinput.h"
#include "midi/midiio.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <thread>

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
};

}  // namespace

TEST(MidiInputDispatch, KeysPlayOnThePlayChannelExceptPercussionAndEverythingElseIsIgnored) {
    InputRig rig;
    enum Mode { kPlain, kDrum, kRecord };
    // A key pressed and released; the release stops what the press started.
    const struct { int channel; Mode mode; std::uint32_t press, release; const char* sent; } cases[] = {
        {0, kPlain, 0x642499, 0x002499, "99 24 64 99 24 00"},  // 9 stays on 9
        {0, kDrum, 0x642499, 0x402489, "99 24 64 99 24 00"},
        {0, kPlain, 0x403C93, 0x7F3C83, "90 3C 40 90 3C 00"},  // 3 is not used
        {6, kPlain, 0xAB7F3C90, 0x003C90, "96 3C 7F 96 3C 00"},
        {0, kDrum, 0x403C90, 0x003C80, "99 3C 40 99 3C 00"},
        {0, kRecord, 0x403C90, 0x003C90, "95 3C 40 95 3C 00"},  // the track's
        // Releases of keys that pressed nothing; other kinds; data bytes with the top bit set
        // would go out as a malformed message.
        {0, kPlain, 0x402489, 0x004092, ""},
        {0, kPlain, 0x7F07B0, 0x4000E0, ""},
        {0, kPlain, 0x00F8, 0x103CA0, ""},
        {0, kPlain, 0x05C0, 0x20D0, ""},
        {0, kPlain, 0x00FF, 0x403C, ""},
        {0, kPlain, 0x803C90, 0x40BC90, ""},
    };
    for (const auto& c : cases) {
        g_lChannel = c.channel;
        rig.piano.drum = c.mode == kDrum;
        rig.recorder.record = c.mode == kRecord;
        rig.midi.ClearSent();
        rig.midi.in->Inject(c.press);
        rig.midi.in->Inject(c.release);
        test::ProcessEvents();
        EXPECT_EQ(rig.midi.SentHex(), c.sent) << std::hex << c.press;
        EXPECT_EQ(g_lNotesDown, 0) << std::hex << c.press;
    }
    EXPECT_EQ(rig.recorder.recorded, std::vector<int>{0x3C});  // releases are never recorded
}

TEST(MidiInputOrder, BurstsArriveInOrderFromAnyThreadAndWhileAModalDialogRuns) {
    InputRig rig;
    std::vector<std::uint32_t> injected;
    auto burst = [&](int first) {
        for (int i = 0; i < 400; ++i) {
            injected.push_back(PackShortMessage(0x90, (first + i) % 128, 1 + i % 127));
            rig.midi.in->Inject(injected.back());
        }
    };
    burst(0);                      // from the UI thread
    std::thread(burst, 7).join();  // as a driver's input thread does
    test::ProcessEvents();
    EXPECT_EQ(rig.midi.out->sent, injected);

    rig.midi.ClearSent();
    frmDevices dialog;
    std::string sentWhileModal;
    bool wasModal = false;
    QTimer::singleShot(0, &dialog, [&] {
        rig.midi.in->Inject(0x403C90);
        rig.midi.in->Inject(0x003C80);
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
