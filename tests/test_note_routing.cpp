// The note entry points: bytes sent, per-note state, key lights, link copies and the recorder.
#include "midi/devices.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <map>

using namespace kivra;

namespace {

// The recorder of these tests records on channel 3 unless told otherwise.
struct Recorder : test::FakeRecorder {
    Recorder() {
        record = true;
        channel = 3;
    }
};

}  // namespace

TEST(NoteRouting, NothingSoundsOrLightsBeforeTheOpenedNotification) {
    test::FakeMidi midi(false);
    test::FakePiano piano;
    test::FakeLink link;
    Recorder recorder;
    ASSERT_TRUE(OpenMIDIOut(0));
    EXPECT_FALSE(g_bMidiOutOpen);  // a driver reports "opened" later
    EXPECT_FALSE(PlayNote(60, 100, 0));
    EXPECT_FALSE(StopNote(60, 0));
    EXPECT_FALSE(SendPitchBend(8192, 0));
    EXPECT_FALSE(SetPatch(0, 0));
    EXPECT_FALSE(SendMIDIMessage(0x643C90));
    EXPECT_EQ(midi.SentHex(), "");
    EXPECT_TRUE(piano.keys.empty());
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(recorder.recorded.empty());
    EXPECT_EQ(g_lNotesDown, 0);

    test::ProcessEvents();
    EXPECT_TRUE(g_bMidiOutOpen);
    EXPECT_TRUE(PlayNote(60, 100, 0));
    EXPECT_EQ(midi.SentHex(), "90 3C 64");
}

TEST(NoteRouting, PlayNoteSendsLightsCountsCopiesAndRecords) {
    test::FakeMidi midi;
    test::FakePiano piano;
    test::FakeLink link;
    Recorder recorder;

    EXPECT_TRUE(PlayNote(60, 100, 0));
    EXPECT_EQ(midi.SentHex(), "90 3C 64");
    EXPECT_EQ(g_lNotesDown, 1);
    EXPECT_TRUE(g_bNoteOn[60]);
    EXPECT_TRUE(piano.keys[60].pressed);
    EXPECT_EQ(piano.keys[60].colour, ColorHLSToRGB(0, 140, 240));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], 0x643C90u);
    // The recorder sees the count that already includes this note.
    EXPECT_EQ(recorder.recorded, std::vector<int>{60});
    EXPECT_EQ(recorder.notesDownWhenRecorded, std::vector<int>{1});

    EXPECT_TRUE(PlayNote(61, 100, 0));  // a black key: luminance = velocity
    EXPECT_EQ(piano.keys[61].colour, ColorHLSToRGB(0, 100, 240));
    EXPECT_TRUE(PlayNote(62, 100, 9));  // drum channel: hue 30
    EXPECT_EQ(piano.keys[62].colour, ColorHLSToRGB(30, 140, 240));
    EXPECT_EQ(midi.out->sent.back(), 0x643E99u);
}

TEST(NoteRouting, OneFlagPerNoteSharedByAllChannels) {
    test::FakeMidi midi;
    test::FakePiano piano;
    PlayNote(60, 100, 0);
    PlayNote(60, 100, 9);
    EXPECT_EQ(g_lNotesDown, 1);
    StopNote(60, 9);
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_FALSE(g_bNoteOn[60]);
    EXPECT_FALSE(piano.keys[60].pressed);
    EXPECT_EQ(piano.keys[60].colour, kWhite);

    // A note that was not sounding still gets the message and the repaint; the count stays.
    midi.ClearSent();
    EXPECT_TRUE(StopNote(61, 0));
    EXPECT_EQ(midi.SentHex(), "90 3D 00");
    EXPECT_EQ(piano.keys[61].colour, kBlack);
    EXPECT_EQ(g_lNotesDown, 0);
}

TEST(NoteRouting, ReleasesAreNeverRecordedButReachTheLink) {
    test::FakeMidi midi;
    test::FakeLink link;
    Recorder recorder;
    PlayNote(64, 100, 3);
    StopNote(64, 3);
    EXPECT_EQ(recorder.recorded.size(), 1u);
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.sent[1], 0x004093u);
    link.connected = false;
    PlayNote(65, 100, 3);
    EXPECT_EQ(link.sent.size(), 2u);
}

TEST(NoteRouting, RefusedSendChangesNothing) {
    test::FakeMidi midi;
    test::FakePiano piano;
    test::FakeLink link;
    Recorder recorder;
    midi.out->refuseSend = true;
    EXPECT_FALSE(PlayNote(60, 100, 0));
    EXPECT_FALSE(SetPatch(5, 0));
    EXPECT_FALSE(SendPitchBend(0, 0));
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_TRUE(piano.keys.empty());
    EXPECT_TRUE(piano.selectedPatches.empty());
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(recorder.recorded.empty());
}

TEST(NoteRouting, NotesOutsideTheRangeSendNothing) {
    test::FakeMidi midi;
    test::FakePiano piano;
    EXPECT_FALSE(PlayNote(128, 100, 0));
    EXPECT_FALSE(PlayNote(-1, 100, 0));
    EXPECT_FALSE(StopNote(300, 0));
    EXPECT_EQ(midi.SentHex(), "");
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_TRUE(piano.keys.empty());
}

TEST(NoteRouting, PitchBendKeepsFourteenBits) {
    test::FakeMidi midi;
    SendPitchBend(8192, 0);
    SendPitchBend(16383, 0);
    SendPitchBend(0, 0);
    SendPitchBend(16384, 0);
    SendPitchBend(8192 - 4 * 10, 5);  // dragging up 10 pixels
    SendPitchBend(-4, 0);             // the division truncates toward zero
    EXPECT_EQ(midi.SentHex(), "E0 00 40 E0 7F 7F E0 00 00 E0 00 00 E5 58 3F E0 7C 00");
}

TEST(NoteRouting, ProgramChangeShowsInTheListOnlyForThePianoChannel) {
    test::FakeMidi midi;
    test::FakePiano piano;
    SetPatch(0, 0);
    SetPatch(24, 5);
    SetPatch(200, 0);
    EXPECT_EQ(midi.SentHex(), "C0 00 C5 18 C0 48");
    EXPECT_EQ(piano.selectedPatches, (std::vector<int>{0, 200}));
    g_lChannel = 3;
    SetPatch(7, 3);
    EXPECT_EQ(piano.selectedPatches.back(), 7);
}

TEST(NoteRouting, ServerMessagesSoundButTouchNothingElse) {
    test::FakeMidi midi;
    test::FakePiano piano;
    test::FakeLink link;
    Recorder recorder;
    EXPECT_TRUE(SendMIDIMessage(0x7F3C92u));
    EXPECT_EQ(midi.SentHex(), "92 3C 7F");
    EXPECT_TRUE(piano.keys.empty());
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(recorder.recorded.empty());
    EXPECT_EQ(g_lNotesDown, 0);
}

TEST(PlayChannel, DrumModeThenRecordingTrackThenPianoChannel) {
    test::FakePiano piano;
    Recorder recorder;
    g_lChannel = 4;
    recorder.record = false;
    EXPECT_EQ(PlayChannel(), 4);
    recorder.record = true;
    EXPECT_EQ(PlayChannel(), 3);
    piano.drum = true;
    EXPECT_EQ(PlayChannel(), 9);
    g_lChannel = 0;
}

TEST(KeyColours, HlsToRgbMatchesThePlatformConversion) {
    EXPECT_EQ(ColorHLSToRGB(0, 120, 240), (Rgb{255, 0, 0}));
    EXPECT_EQ(ColorHLSToRGB(80, 120, 240), (Rgb{0, 255, 0}));
    EXPECT_EQ(ColorHLSToRGB(160, 120, 240), (Rgb{0, 0, 255}));
    EXPECT_EQ(ColorHLSToRGB(120, 120, 240), (Rgb{0, 255, 255}));
    EXPECT_EQ(ColorHLSToRGB(0, 240, 240), (Rgb{255, 255, 255}));
    EXPECT_EQ(ColorHLSToRGB(0, 0, 240), (Rgb{0, 0, 0}));
    EXPECT_EQ(ColorHLSToRGB(40, 60, 0), (Rgb{63, 63, 63}));
    // Worked by hand from the platform's integer algorithm: white key at velocity 100 on channel 0,
    // black key at velocity 100, and channel 9 (hue 30).
    EXPECT_EQ(ColorHLSToRGB(0, 140, 240), (Rgb{255, 43, 43}));
    EXPECT_EQ(ColorHLSToRGB(0, 100, 240), (Rgb{213, 0, 0}));
    EXPECT_EQ(ColorHLSToRGB(30, 140, 240), (Rgb{255, 202, 43}));
}

TEST(Devices, LookupIsAPrefixMatchWithTheLowestIdWinning) {
    test::FakeMidi midi(false, {"Kivra Software Synth Extra", "Kivra Software Synth", "USB Keyboard"},
                        {"(None) Port", "USB Keyboard"});
    EXPECT_EQ(FindMIDIOutDevice("Kivra Software Synth"), 0);
    EXPECT_EQ(FindMIDIOutDevice(""), 0);
    EXPECT_EQ(FindMIDIOutDevice("USB"), 2);
    EXPECT_EQ(FindMIDIOutDevice("USB Keyboard 2"), -1);  // longer than the device's name
    EXPECT_EQ(FindMIDIOutDevice("usb keyboard"), -1);
    EXPECT_EQ(FindMIDIInDevice("(None)"), -1);
    EXPECT_EQ(FindMIDIInDevice("USB Keyboard"), 1);
    EXPECT_EQ(FindMIDIInDevice(""), 0);
}

TEST(Devices, SavedNamesOpenTheirDevicesAndAMissingOneLeavesTheProgramSilent) {
    test::FakeMidi midi(false, {"Kivra Software Synth", "USB Synth"}, {"USB Keyboard"});
    SaveSetting(kSettingsSection, kOutputDeviceKey, "USB Synth");
    SaveSetting(kSettingsSection, kInputDeviceKey, "USB Keyboard");
    OpenSavedDevices();
    test::ProcessEvents();
    EXPECT_EQ(midi.out->openedId, 1);
    EXPECT_EQ(midi.in->openedId, 0);
    EXPECT_TRUE(g_bMidiOutOpen);

    SaveSetting(kSettingsSection, kOutputDeviceKey, "Unplugged Synth");
    SaveSetting(kSettingsSection, kInputDeviceKey, kNoInputDevice);
    OpenSavedDevices();
    test::ProcessEvents();
    EXPECT_EQ(midi.out->openedId, -1);
    EXPECT_EQ(midi.in->openedId, -1);
    EXPECT_FALSE(g_bMidiOutOpen);
    EXPECT_FALSE(PlayNote(60, 100, 0));

    // No settings at all: the default synthesizer, no input.
    QSettings("Kivra", "Kivra").clear();
    OpenSavedDevices();
    test::ProcessEvents();
    EXPECT_EQ(midi.out->openedId, 0);
    EXPECT_EQ(midi.in->openCalls.size(), 1u);
}

TEST(Devices, ClosingEndsTheOpenStateAtOnceAndDropsQueuedNotifications) {
    test::FakeMidi midi(false);
    OpenMIDIOut(0);  // "opened" is queued, not yet handled
    CloseMIDIDevices();
    test::ProcessEvents();
    EXPECT_FALSE(g_bMidiOutOpen);

    OpenMIDIOut(0);
    test::ProcessEvents();
    EXPECT_TRUE(g_bMidiOutOpen);
    CloseMIDIDevices();
    EXPECT_FALSE(g_bMidiOutOpen);
    EXPECT_FALSE(PlayNote(60, 100, 0));
}
