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

struct DrumBox : PianoPort {
    bool drum = false;
    DrumBox() { SetPianoPort(this); }
    ~DrumBox() override { SetPianoPort(nullptr); }
    void ShowKey(int, Rgb, bool) override {}
    void SelectPatchRow(int) override {}
    bool DrumModeChecked() const override { return drum; }
    int BaseOctave() const override { return 4; }
    void UpdateInstrument(int) override {}
    void SetRecordingLock(bool) override {}
    void UpdateCaptions() override {}
};

struct RecordBox : RecorderPort {
    bool record = false;
    int channel = 5;
    std::vector<int> recorded;
    RecordBox() { SetRecorderPort(this); }
    ~RecordBox() override { SetRecorderPort(nullptr); }
    bool RecordChecked() const override { return record; }
    int CurrentTrackChannel() const override { return channel; }
    void RecordNote(int note) override { recorded.push_back(note); }
};

// An open fake input device whose messages go through the real notifier and dispatch.
struct InputRig {
    test::FakeMidi midi{true, {"Kivra Software Synth"}, {"Keys"}};
    DrumBox piano;
    RecordBox recorder;
    InputRig() {
        InstallMidiInputDispatch();
        EXPECT_TRUE(OpenMIDIIn(0));
    }
    // Bytes as a keyboard sends them, lowest first.
    std::string Receive(std::uint32_t message) {
        midi.ClearSent();
        midi.in->Inject(message);
        test::ProcessEvents();
        return midi.SentHex();
    }
};

constexpr std::uint32_t Msg(unsigned status, unsigned data1, unsigned data2 = 0) {
    return status | (data1 << 8) | (data2 << 16);
}

}  // namespace

TEST(MidiInputDispatch, NoteOnPlaysOnThePlayChannelExceptPercussion) {
    InputRig rig;
    EXPECT_EQ(rig.Receive(Msg(0x99, 0x24, 0x64)), "99 24 64");  // channel 9 stays on 9
    EXPECT_EQ(rig.Receive(Msg(0x93, 0x3C, 0x40)), "90 3C 40");  // channel 3 is not used
    EXPECT_EQ(rig.Receive(Msg(0x90, 0x3E, 0x40) | 0xAB000000u), "90 3E 40");  // top byte unused
    g_lChannel = 6;
    EXPECT_EQ(rig.Receive(Msg(0x90, 0x3C, 0x7F)), "96 3C 7F");  // velocity passes unchanged
    g_lChannel = 0;

    rig.piano.drum = true;
    EXPECT_EQ(rig.Receive(Msg(0x90, 0x3C, 0x40)), "99 3C 40");
    rig.piano.drum = false;

    rig.recorder.record = true;
    EXPECT_EQ(rig.Receive(Msg(0x90, 0x3C, 0x40)), "95 3C 40");
    EXPECT_EQ(rig.recorder.recorded, std::vector<int>{0x3C});
    rig.piano.drum = true;  // Drum Mode wins over the recording track
    EXPECT_EQ(rig.Receive(Msg(0x90, 0x3D, 0x40)), "99 3D 40");
    EXPECT_TRUE(g_bNoteOn[0x3C] && g_bNoteOn[0x3D]);
}

TEST(MidiInputDispatch, ReleasesFollowTheirOwnRules) {
    InputRig rig;
    // Velocity 0 is a release and keeps the channel-9 rule.
    rig.Receive(Msg(0x99, 0x24, 0x64));
    EXPECT_EQ(rig.Receive(Msg(0x99, 0x24, 0x00)), "99 24 00");
    EXPECT_FALSE(g_bNoteOn[0x24]);
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_EQ(rig.Receive(Msg(0x92, 0x40, 0x00)), "90 40 00");

    // A note-off ignores its channel nibble, channel 9 included, and its release velocity.
    EXPECT_EQ(rig.Receive(Msg(0x89, 0x24, 0x40)), "90 24 00");
    g_lChannel = 2;
    EXPECT_EQ(rig.Receive(Msg(0x80, 0x24, 0x7F)), "92 24 00");
    rig.recorder.record = true;
    EXPECT_EQ(rig.Receive(Msg(0x89, 0x24, 0x40)), "95 24 00");
    rig.piano.drum = true;
    EXPECT_EQ(rig.Receive(Msg(0x83, 0x24, 0x40)), "99 24 00");
    EXPECT_TRUE(rig.recorder.recorded.empty());  // releases are never recorded
}

TEST(MidiInputDispatch, OtherKindsAndMalformedMessagesAreIgnored) {
    InputRig rig;
    for (auto m : {Msg(0xB0, 0x07, 0x7F), Msg(0xE0, 0x00, 0x40), Msg(0xF8, 0), Msg(0xA0, 0x3C, 0x10),
                   Msg(0xC0, 0x05), Msg(0xD0, 0x20), Msg(0xFF, 0), Msg(0x3C, 0x40),
                   // data bytes with the top bit set would go out as a malformed message
                   Msg(0x90, 0x3C, 0x80), Msg(0x90, 0xBC, 0x40), Msg(0x80, 0xFF, 0x00)}) {
        EXPECT_EQ(rig.Receive(m), "") << std::hex << m;
    }
    EXPECT_EQ(g_lNotesDown, 0);
}

TEST(MidiInputDispatch, NothingReachesTheDispatchOnceTheDevicesAreClosed) {
    InputRig rig;
    rig.midi.in->Inject(Msg(0x90, 0x3C, 0x40));
    CloseMIDIDevices();  // the queued message belonged to the closed device
    OpenMIDIOut(0);
    test::ProcessEvents();
    rig.midi.in->Inject(Msg(0x90, 0x3D, 0x40));  // input not reopened: the device is silent
    test::ProcessEvents();
    EXPECT_EQ(rig.midi.SentHex(), "");
    EXPECT_TRUE(g_bMidiOutOpen);
}

TEST(MidiInputOrder, BurstsArriveInOrderFromAnyThread) {
    InputRig rig;
    rig.midi.ClearSent();
    std::vector<std::uint32_t> expected;
    auto burst = [](FakeMidiIn* in, int first) {
        for (int i = 0; i < 400; ++i) in->Inject(Msg(0x90, (first + i) % 128, 1 + i % 127));
    };
    for (int i = 0; i < 400; ++i) expected.push_back(Msg(0x90, i % 128, 1 + i % 127));
    burst(rig.midi.in, 0);  // from the UI thread
    for (int i = 0; i < 400; ++i) expected.push_back(Msg(0x90, (7 + i) % 128, 1 + i % 127));
    std::thread driver(burst, rig.midi.in, 7);  // as a driver's input thread does
    driver.join();
    test::ProcessEvents();
    EXPECT_EQ(rig.midi.out->sent, expected);
}

TEST(MidiInputOrder, MessagesAreDispatchedWhileAModalDialogRuns) {
    InputRig rig;
    rig.midi.ClearSent();
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
