// The note entry points: bytes sent, per-note state, key lights, link copies and the recorder;
// no note left sounding, whatever changes while a key is held, when a device closes or at exit.
#include "app/frmpiano.h"
#include "app/pianokey.h"
#include "app/program.h"
#include "keyboard/keyactions.h"
#include "keyboard/keymap.h"
#include "link/linkclient.h"
#include "midi/devices.h"
#include "midi/midiinput.h"
#include "midi/midiio.h"
#include "musicmaker/musicmaker.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>

#include <map>
#include <set>

using namespace kivra;

namespace {

// What the messages the output took leave behind: notes still sounding and, with `bends`,
// channels left bent. Empty when every Note On has its Note Off on the same channel and note.
std::string Leftovers(const std::vector<std::uint32_t>& sent, bool bends = true) {
    std::set<std::pair<unsigned, unsigned>> on;
    std::map<unsigned, unsigned> bend;
    for (auto m : sent) {
        const unsigned kind = m & 0xF0u, c = m & 0x0Fu, d1 = (m >> 8) & 0x7Fu, d2 = (m >> 16) & 0x7Fu;
        if (kind == 0x90 && d2 > 0) on.insert({c, d1});
        else if (kind == 0x90 || kind == 0x80) on.erase({c, d1});
        else if (kind == 0xB0 && d1 == 123) std::erase_if(on, [c](auto cn) { return cn.first == c; });
        else if (kind == 0xE0) bend[c] = d1 | d2 << 7;
    }
    std::string out;
    for (auto [c, n] : on) out += "note " + std::to_string(n) + " on " + std::to_string(c) + "; ";
    for (auto [c, v] : bend) out += bends && v != 8192 ? "bend on " + std::to_string(c) + "; " : "";
    return out;
}

// The recorder of these tests records on channel 3 unless told otherwise.
struct Recorder : test::FakeRecorder {
    Recorder() { record = true; channel = 3; }
};

}  // namespace

TEST(NoteRouting, NothingHappensBeforeTheOpenedNotificationOnARefusedSendOrOutsideTheRange) {
    for (int way = 0; way < 3; ++way) {  // not yet reported open; refusing; notes out of range
        test::FakeMidi midi(way != 0);
        test::FakePiano piano;
        test::FakeLink link;
        Recorder recorder;
        if (way == 0) { ASSERT_TRUE(OpenMIDIOut(0)); }  // a driver reports "opened" later
        midi.out->refuseSend = way == 1;
        EXPECT_FALSE(PlayNote(way == 2 ? 128 : 60, 100, 0));
        EXPECT_FALSE(StopNote(way == 2 ? -1 : 60, 0));
        if (way < 2) { EXPECT_FALSE(SendPitchBend(8192, 0) || SetPatch(0, 0) || SendMIDIMessage(0x643C90)); }
        EXPECT_EQ(midi.SentHex(), "");
        EXPECT_TRUE(piano.keys.empty() && piano.selectedPatches.empty() && link.sent.empty() &&
                    recorder.recorded.empty());
        EXPECT_EQ(g_lNotesDown, 0);
    }
}

TEST(NoteRouting, PlayNoteSendsLightsCountsCopiesAndRecordsStopNoteIsNeverRecorded) {
    test::FakeMidi midi;
    test::FakePiano piano;
    test::FakeLink link;
    Recorder recorder;
    EXPECT_TRUE(PlayNote(60, 100, 0));
    EXPECT_EQ(midi.SentHex(), "90 3C 64");
    EXPECT_EQ(g_lNotesDown, 1);
    EXPECT_TRUE(piano.keys[60].pressed);
    EXPECT_EQ(piano.keys[60].colour, (Rgb{255, 43, 43}));  // by hand from the platform's algorithm
    // The recorder sees the count that already includes this note.
    EXPECT_EQ(recorder.recorded, std::vector<int>{60});
    EXPECT_EQ(recorder.notesDownWhenRecorded, std::vector<int>{1});
    EXPECT_TRUE(PlayNote(61, 100, 0));  // a black key: luminance = velocity
    EXPECT_EQ(piano.keys[61].colour, (Rgb{213, 0, 0}));
    EXPECT_TRUE(PlayNote(62, 100, 9));  // drum channel: hue 30
    EXPECT_EQ(piano.keys[62].colour, (Rgb{255, 202, 43}));
    StopNote(62, 9);
    EXPECT_EQ(recorder.recorded.size(), 3u);
    EXPECT_EQ(link.sent, (std::vector<std::uint32_t>{0x643C90u, 0x643D90u, 0x643E99u, 0x003E99u}));
    link.connected = false;
    PlayNote(65, 100, 3);
    EXPECT_EQ(link.sent.size(), 4u);
}

TEST(NoteRouting, FlagsAndKeysFollowWhatSoundsAndPeersNotesLightNothing) {
    test::FakeMidi midi;
    test::FakePiano piano;
    test::FakeLink link;
    PlayNote(60, 100, 0);
    PlayNote(60, 100, 9);
    EXPECT_EQ(g_lNotesDown, 1);  // one flag per note, whatever the channels
    StopNote(60, 9);             // channel 0 still sounds it
    EXPECT_EQ(g_lNotesDown, 1);
    EXPECT_EQ(piano.keys[60].colour, ColorHLSToRGB(0, 140, 240));
    StopNote(60, 0);
    EXPECT_FALSE(g_bNoteOn[60]);
    EXPECT_EQ(piano.keys[60].colour, kWhite);

    // A peer's note lights, counts and copies nothing; a peer's note-off or all-notes-off that
    // ends one of our notes clears its flag and key.
    piano.keys.clear();
    link.sent.clear();
    EXPECT_TRUE(SendMIDIMessage(0x7F3C92u));
    EXPECT_TRUE(IsSounding(60, 2));
    EXPECT_TRUE(piano.keys.empty());
    PlayNote(64, 100, 2);
    PlayNote(65, 100, 2);
    SendMIDIMessage(0x004092u);
    EXPECT_FALSE(piano.keys[64].pressed);
    SendMIDIMessage(0x007BB2u);
    EXPECT_FALSE(piano.keys[65].pressed);
    EXPECT_FALSE(IsSounding(60, 2));
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_EQ(link.sent.size(), 2u);  // our two note-ons only
}

TEST(NoteRouting, BendsKeepFourteenBitsAndProgramChangesShowOnlyForThePianoChannel) {
    test::FakeMidi midi;
    test::FakePiano piano;
    // Dragging up 10 pixels gives 8192 - 40; the division truncates toward zero.
    for (int value : {8192, 16383, 0, 16384, -4}) SendPitchBend(value, 0);
    SendPitchBend(8192 - 4 * 10, 5);
    for (auto [patch, channel] : {std::pair{0, 0}, {24, 5}, {200, 0}}) SetPatch(patch, channel);
    EXPECT_EQ(midi.SentHex(), "E0 00 40 E0 7F 7F E0 00 00 E0 00 00 E0 7C 00 E5 58 3F C0 00 C5 18 C0 48");
    EXPECT_EQ(piano.selectedPatches, (std::vector<int>{0, 200}));
    g_lChannel = 3;
    SetPatch(7, 3);
    EXPECT_EQ(piano.selectedPatches.back(), 7);
}

// Every note source, the piano window, the Record box and a link to a server on loopback; each
// sequence ends with every key released, and then nothing may sound and no channel stay bent.
class HeldKeys : public ::testing::Test {
protected:
    // Computer key Z (offset 0), piano key 60, external MIDI key 90 3C 40 (released with 80 3C 00),
    // a peer's note 92 40 64, Record on track channel 3; Silent: nothing sounds at this point.
    enum Op { KeyDown, KeyUp, MouseDown, Drag, MouseUp, InOn, InOff, PeerOn, RecordOn, RecordOff,
              OctaveUp, DrumMode, Assign5, Drop, Silent };
    void SetUp() override {
        g_KeyMap[0x5A] = {kActionPlayRelative, 1, {0}};
        InstallMidiInputDispatch();
        ASSERT_TRUE(OpenMIDIIn(0));
        recorder.channel = 3;
        server.listen(QHostAddress::LocalHost, 0);
    }
    void TearDown() override { g_KeyMap[0x5A] = {}; }
    template <typename Done> void Peer(const char* hex, Done done) {
        if (!hex) peer->abort();
        else if (peer->write(QByteArray::fromHex(hex)) > 0) peer->flush();
        ASSERT_TRUE(QTest::qWaitFor(done, 5000));
    }
    void Do(Op op) {
        PianoKey* key = piano.cmdNote(60);
        switch (op) {
            case KeyDown: case KeyUp: KeyAction(0x5A, op == KeyDown); break;
            case MouseDown: QTest::mousePress(key, Qt::LeftButton, {}, QPoint(4, 10)); break;
            case Drag: QTest::mouseMove(key, QPoint(4, 20)); break;
            case MouseUp: QTest::mouseRelease(key, Qt::LeftButton, {}, QPoint(4, 20)); break;
            case InOn: case InOff:
                midi.in->Inject(op == InOn ? 0x403C90 : 0x003C80);
                test::ProcessEvents();
                break;
            case PeerOn: Peer("92406400", [] { return IsSounding(0x40, 2); }); break;
            case RecordOn: case RecordOff: recorder.record = op == RecordOn; break;
            case OctaveUp: QTest::keyClick(piano.hscOctave(), Qt::Key_Right); break;
            case DrumMode: QTest::mouseClick(piano.chkDrumMode(), Qt::LeftButton); break;
            case Assign5: Peer("ff050000", [] { return g_lChannel == 5; }); break;
            case Drop: Peer(nullptr, [&] { return !link.Connected(); }); break;
            case Silent: EXPECT_EQ(Leftovers(midi.out->sent, false), ""); break;
        }
    }

    test::FakeMidi midi{true, {"Kivra Software Synth"}, {"Keys"}};
    frmPiano piano;
    test::FakeRecorder recorder;
    LinkClient link;
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
};

TEST_F(HeldKeys, EveryReleaseStopsWhatItsPressStarted) {
    const struct {
        const char* what;
        std::vector<Op> ops;
    } cases[] = {
        {"computer key held while the octave changes, recording", {RecordOn, KeyDown, OctaveUp, Silent, KeyUp}},
        {"MIDI key pressed with Record off, released after ticking it", {InOn, RecordOn, InOff}},
        {"computer key held while the link assigns a channel", {KeyDown, Assign5, KeyUp}},
        {"MIDI key held while the link assigns a channel", {InOn, Assign5, InOff}},
        {"keys held while the link drops", {Assign5, KeyDown, PeerOn, InOn, Drop, KeyUp, InOff}},
        {"Drum Mode toggled while a track note sounds", {RecordOn, InOn, RecordOff, DrumMode, Silent, InOff, DrumMode}},
        {"octave changed while a track note sounds", {RecordOn, InOn, OctaveUp, Silent, RecordOff, InOff}},
        {"mouse key held and bent across a channel change", {MouseDown, Drag, Assign5, MouseUp}},
        {"mouse key held across Record", {MouseDown, Drag, RecordOn, MouseUp}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        link.Connect(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return link.Connected() && server.hasPendingConnections(); }, 5000));
        peer.reset(server.nextPendingConnection());
        midi.ClearSent();
        for (Op op : c.ops) Do(op);
        EXPECT_EQ(Leftovers(midi.out->sent), "");
        EXPECT_EQ(g_lNotesDown, 0);
        EXPECT_FALSE(piano.cmdNote(60)->isChecked());
        EXPECT_LE(recorder.recorded.size(), 1u);  // a release is never recorded
        link.Disconnect();
        recorder.record = false;
        recorder.recorded.clear();
        if (piano.chkDrumMode()->isChecked()) piano.chkDrumMode()->click();
        piano.hscOctave()->setValue(4);
    }
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
    const struct { const char *out, *in; int outId, inId; } cases[] = {
        {"USB Synth", "USB Keyboard", 1, 0}, {"Unplugged Synth", "(None)", -1, -1}, {nullptr, nullptr, 0, -1}};
    for (const auto& c : cases) {
        QSettings("Kivra", "Kivra").clear();  // no settings at all: the default synthesizer, no input
        if (c.out) SaveSetting(kSettingsSection, kOutputDeviceKey, c.out);
        if (c.in) SaveSetting(kSettingsSection, kInputDeviceKey, c.in);
        OpenSavedDevices();
        test::ProcessEvents();
        EXPECT_EQ(midi.out->openedId, c.outId);
        EXPECT_EQ(midi.in->openedId, c.inId);
        EXPECT_EQ(PlayNote(60, 100, 0), c.outId >= 0);
    }
}

TEST(Devices, ClosingReleasesWhatSoundsClearsEveryFlagAndDropsQueuedNotifications) {
    test::FakeMidi midi(false);
    test::FakePiano piano;
    Recorder recorder;
    OpenMIDIOut(0);  // "opened" is queued, not yet handled
    CloseMIDIDevices();
    test::ProcessEvents();
    EXPECT_FALSE(g_bMidiOutOpen);
    for (bool refusing : {false, true}) {  // a device that takes no more messages loses them too
        OpenMIDIOut(0);
        test::ProcessEvents();
        PressNote(NoteSource::MidiInput, 60, 60, 100, 3);
        SendMIDIMessage(0x403E95u);  // a peer's note
        midi.ClearSent();
        midi.out->refuseSend = refusing;
        CloseMIDIDevices();
        midi.out->refuseSend = false;
        EXPECT_EQ(midi.SentHex(), refusing ? "" : "93 3C 00 95 3E 00 B3 7B 00 B5 7B 00");
        EXPECT_FALSE(piano.keys[60].pressed);
    }
    OpenMIDIOut(0);
    test::ProcessEvents();
    ReleaseKey(NoteSource::MidiInput, 60);  // its note ended with the old device
    PlayNote(62, 100, 0);                   // a single note, not a chord
    EXPECT_EQ(midi.SentHex(), "90 3E 64");
    EXPECT_EQ(recorder.notesDownWhenRecorded.back(), 1);
}

TEST(Shutdown, PlaybackStopsAndEverySoundingNoteEndsBeforeTheDevicesClose) {
    // Keeps what the device took past the end of the program; a closed device takes nothing.
    struct LoggingOut : FakeMidiOut {
        std::vector<std::uint32_t>& log;
        explicit LoggingOut(std::vector<std::uint32_t>& l) : log(l) {}
        bool Send(std::uint32_t m) override { return FakeMidiOut::Send(m) && (log.push_back(m), true); }
    };
    std::vector<std::uint32_t> log;
    SetMidiBackends(std::make_unique<LoggingOut>(log), std::make_unique<FakeMidiIn>());
    OpenMIDIOut(0);
    test::ProcessEvents();
    TheMusicMaker().SetPlay(true);
    PlayNote(67, 100, 4);                                   // as playback plays a track's note
    PressNote(NoteSource::ComputerKey, 0x5A, 60, 100, 0);  // a key held
    SendMIDIMessage(0x643C95u);                             // a peer's note
    Shutdown();
    EXPECT_FALSE(TheMusicMaker().PlayChecked());
    EXPECT_EQ(Leftovers(log), "");
    std::string allNotesOff;
    for (auto m : log)
        if ((m & 0xF0u) == 0xB0u) allNotesOff += ShortMessageHex(m) + " ";
    EXPECT_EQ(allNotesOff, "B0 7B 00 B4 7B 00 B5 7B 00 ");
}

TEST(KeyColours, HlsToRgbMatchesThePlatformConversion) {
    EXPECT_EQ(ColorHLSToRGB(0, 120, 240), (Rgb{255, 0, 0}));
    EXPECT_EQ(ColorHLSToRGB(80, 120, 240), (Rgb{0, 255, 0}));
    EXPECT_EQ(ColorHLSToRGB(160, 120, 240), (Rgb{0, 0, 255}));
    EXPECT_EQ(ColorHLSToRGB(120, 120, 240), (Rgb{0, 255, 255}));
    EXPECT_EQ(ColorHLSToRGB(0, 240, 240), (Rgb{255, 255, 255}));
    EXPECT_EQ(ColorHLSToRGB(0, 0, 240), (Rgb{0, 0, 0}));
    EXPECT_EQ(ColorHLSToRGB(40, 60, 0), (Rgb{63, 63, 63}));
}
