// The note entry points: bytes sent, per-note state, key lights, link copies and the recorder;
// the MIDI input's dispatch and delivery; no note left sounding, whatever changes while a key is
// held, when a device closes or at exit. Messages are packed, lowest byte first.
#include "app/frmpiano.h"
#include "app/pianokey.h"
#include "app/program.h"
#include "app/windows.h"
#include "keyboard/frmkeyconfig.h"
#include "keyboard/keyactions.h"
#include "keyboard/keymap.h"
#include "link/frmlink.h"
#include "midi/devices.h"
#include "midi/frmdevices.h"
#include "midi/midiinput.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/steplist.h"
#include "testsupport.h"

#include <QComboBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>

#include <set>
#include <thread>

using namespace kivra;

namespace {

// What the messages the output took leave behind: notes still sounding and, with `bends`,
// channels left bent. Empty when every Note On has its Note Off on the same channel and note.
std::string Leftovers(const std::vector<std::uint32_t>& sent, bool bends = true) {
    std::set<std::pair<unsigned, unsigned>> on, bent;  // (channel, note), (channel, 0)
    for (auto m : sent) {
        const unsigned kind = m & 0xF0u, c = m & 0x0Fu, d1 = (m >> 8) & 0x7Fu, d2 = (m >> 16) & 0x7Fu;
        if (kind == 0x90 && d2 > 0) on.insert({c, d1});
        else if (kind == 0x90 || kind == 0x80) on.erase({c, d1});
        else if (kind == 0xB0 && d1 == 123) std::erase_if(on, [c](auto cn) { return cn.first == c; });
        else if (kind == 0xE0 && bends && (d1 | d2 << 7) != 8192) bent.insert({c, 0});
        else if (kind == 0xE0) bent.erase({c, 0});
    }
    std::string out;
    for (auto [c, n] : on) out += "note " + std::to_string(n) + " on " + std::to_string(c) + "; ";
    for (auto [c, n] : bent) out += "bend on " + std::to_string(c) + "; ";
    return out;
}

// The recorder of these tests records on channel 3.
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

TEST(NoteRouting, NotesSendLightCountAndRecordPeersNotesOnlyEndOursAndBendsPatchesAndColoursAreSent) {
    test::FakeMidi midi;
    test::FakePiano piano;
    Recorder recorder;
    EXPECT_TRUE(PlayNote(60, 100, 0));
    EXPECT_EQ(recorder.notesDownWhenRecorded, std::vector<int>{1});  // the count includes this note
    PlayNote(61, 100, 0);
    PlayNote(62, 100, 9);
    // A white key, a black key (luminance = velocity), the drum channel (hue 30): by hand from the
    // platform's algorithm.
    const std::pair<int, Rgb> lit[] = {{60, {255, 43, 43}}, {61, {213, 0, 0}}, {62, {255, 202, 43}}};
    for (auto [note, colour] : lit) EXPECT_TRUE(piano.keys[note].pressed && piano.keys[note].colour == colour);
    PlayNote(60, 100, 9);
    EXPECT_EQ(g_lNotesDown, 3);  // one flag per note, whatever the channels
    StopNote(60, 9);             // channel 0 still sounds it
    EXPECT_EQ(piano.keys[60].colour, ColorHLSToRGB(0, 140, 240));
    StopNote(60, 0);
    EXPECT_TRUE(piano.keys[60].colour == kWhite && !g_bNoteOn[60]);
    EXPECT_EQ(midi.SentHex(), "90 3C 64 90 3D 64 99 3E 64 99 3C 64 99 3C 00 90 3C 00");
    EXPECT_EQ(recorder.recorded, (std::vector<int>{60, 61, 62, 60}));  // a release is never recorded

    // A peer's note lights and counts nothing; a peer's note-off or all-notes-off that ends one of
    // our notes clears its flag and key.
    piano.keys.clear();
    EXPECT_TRUE(SendMIDIMessage(0x7F3C92u));
    EXPECT_TRUE(IsSounding(60, 2) && piano.keys.empty());
    PlayNote(64, 100, 2);
    PlayNote(65, 100, 2);
    SendMIDIMessage(0x004092u);
    EXPECT_FALSE(piano.keys[64].pressed);
    SendMIDIMessage(0x007BB2u);
    EXPECT_FALSE(piano.keys[65].pressed || IsSounding(60, 2));
    EXPECT_EQ(g_lNotesDown, 2);  // 61 and 62 only

    // Bends keep fourteen bits. Program changes show for the piano's channel only.
    midi.ClearSent();
    for (int value : {8192, 16383, 0, 16384, -4}) SendPitchBend(value, 0);
    for (auto [patch, channel] : {std::pair{0, 0}, {24, 5}, {200, 0}}) SetPatch(patch, channel);
    EXPECT_EQ(midi.SentHex(), "E0 00 40 E0 7F 7F E0 00 00 E0 00 00 E0 7C 00 C0 00 C5 18 C0 48");
    EXPECT_EQ(piano.selectedPatches, (std::vector<int>{0, 200}));
    // Hue, luminance and saturation on the 0..240 scale, converted as the platform does.
    const struct { int h, l, s; Rgb rgb; } colours[] = {
        {0, 120, 240, {255, 0, 0}}, {80, 120, 240, {0, 255, 0}}, {160, 120, 240, {0, 0, 255}},
        {120, 120, 240, {0, 255, 255}}, {0, 240, 240, kWhite}, {0, 0, 240, kBlack}, {40, 60, 0, {63, 63, 63}}};
    for (const auto& c : colours) EXPECT_EQ(ColorHLSToRGB(c.h, c.l, c.s), c.rgb) << c.h << ' ' << c.l << ' ' << c.s;
}

// Every note source, the piano window, the Record box and a link to a server on loopback; each
// sequence ends with every key released, and then nothing may sound and no channel stay bent.
class NoteSources : public ::testing::Test {
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
    // Notes left sounding, flags left set, key 60 left lit.
    std::string Left(bool bends) {
        return Leftovers(midi.out->sent, bends) + (g_lNotesDown ? "flags; " : "") +
               (piano.cmdNote(60)->isChecked() ? "key 60 lit" : "");
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
            case Silent: EXPECT_EQ(Left(false), ""); break;
        }
    }

    test::FakeMidi midi{true, {"Kivra Software Synth"}, {"Keys"}};
    frmPiano piano;
    test::FakeRecorder recorder;
    LinkClient link;
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
};

TEST_F(NoteSources, EveryReleaseStopsWhatItsPressStarted) {
    const struct {
        const char* what;
        std::vector<Op> ops;
    } cases[] = {
        {"computer key held while the octave changes, recording", {RecordOn, KeyDown, OctaveUp, Silent, KeyUp}},
        {"mouse key held while the octave changes", {MouseDown, OctaveUp, Silent, MouseUp}},
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
        EXPECT_EQ(Left(true), "");
        EXPECT_LE(recorder.recorded.size(), 1u);  // a release is never recorded
        link.Disconnect(), recorder.record = false, recorder.recorded.clear();
        if (piano.chkDrumMode()->isChecked()) piano.chkDrumMode()->click();
        piano.hscOctave()->setValue(4);
    }
}

// With `pass`, pedals and controllers take the channel a note would; system messages never go out.
TEST_F(NoteSources, MidiInputKeysPlayOnThePlayChannelExceptPercussionAndEverythingElseIsIgnored) {
    enum Mode { kPlain, kDrum, kRecord };
    // A key pressed and released; the release stops what the press started.
    const struct { int channel; Mode mode; std::uint32_t press, release; const char* sent; bool pass = false; } cases[] = {
        {0, kPlain, 0x642499, 0x002499, "99 24 64 99 24 00"},  // 9 stays on 9
        {0, kDrum, 0x642499, 0x402489, "99 24 64 99 24 00"},
        {0, kPlain, 0x403C93, 0x7F3C83, "90 3C 40 90 3C 00"},  // 3 is not used
        {6, kPlain, 0xAB7F3C90, 0x003C90, "96 3C 7F 96 3C 00"},
        {0, kDrum, 0x403C90, 0x003C80, "99 3C 40 99 3C 00"},
        {0, kRecord, 0x403C90, 0x003C90, "93 3C 40 93 3C 00"},  // the track's
        // Releases of keys that pressed nothing; other kinds; data bytes with the top bit set
        // would go out as a malformed message.
        {0, kPlain, 0x402489, 0x004092, ""}, {0, kPlain, 0x7F07B0, 0x4000E0, ""}, {0, kPlain, 0x00F8, 0x103CA0, ""},
        {0, kPlain, 0x05C0, 0x20D0, ""}, {0, kPlain, 0x00FF, 0x403C, ""}, {0, kPlain, 0x803C90, 0x40BC90, ""},
        {0, kPlain, 0x7F40B0, 0x2000E0, "B0 40 7F E0 00 20", true}, {5, kPlain, 0x103CA2, 0x30D2, "A5 3C 10 D5 30", true},
        {0, kDrum, 0x7F01B3, 0x05C3, "B9 01 7F C9 05", true},       {0, kRecord, 0x05C0, 0x0040E4, "C3 05 E3 40 00", true},
        {0, kPlain, 0x0AC9, 0x7F40B9, "C9 0A B9 40 7F", true},      {0, kPlain, 0x00F8, 0x0102F2, "", true},
        {0, kPlain, 0x05F3, 0x00FF, "", true},                       {0, kPlain, 0x8040B0, 0x40BCE0, "", true},
    };
    for (const auto& c : cases) {
        g_lChannel = c.channel;
        if (piano.chkDrumMode()->isChecked() != (c.mode == kDrum)) piano.chkDrumMode()->click();
        recorder.record = c.mode == kRecord;
        SetPassControllers(c.pass);
        midi.ClearSent();
        midi.in->Inject(c.press);
        midi.in->Inject(c.release);
        test::ProcessEvents();
        EXPECT_EQ(midi.SentHex(), c.sent) << std::hex << c.press;
        EXPECT_EQ(g_lNotesDown, 0) << std::hex << c.press;
    }
    EXPECT_EQ(recorder.recorded, std::vector<int>{0x3C});  // releases are never recorded
    EXPECT_EQ(piano.cmbInstrument()->currentData(), 5);    // the program changed off the percussion channel
    SetPassControllers(false);
}

// The chosen velocity (30 or 100) plays mouse and computer-key notes; touch velocity makes a mouse
// press louder from 40% at the key's back (top) edge to all of it at the front; MIDI keys keep theirs.
TEST_F(NoteSources, EachSourcePlaysRecordsAndLightsItsVelocity) {
    enum Source { kMouse, kKey, kIn };
    const int front = piano.cmdNote(60)->height() - 1;
    const struct { Source source; bool touch; int chosen, at, velocity; } cases[] = {
        {kMouse, false, 30, 0, 30}, {kMouse, false, 30, front, 30}, {kMouse, true, 100, 0, 40},
        {kMouse, true, 100, front / 2, 70}, {kMouse, true, 100, front, 100}, {kKey, true, 30, 0, 30},
        {kIn, true, 30, 1, 1}, {kIn, false, 30, 64, 64}, {kIn, false, 30, 127, 127}};
    recorder.record = true;
    for (const auto& c : cases) {
        SetPlayVelocity(c.chosen), SetTouchVelocity(c.touch), midi.ClearSent(), recorder.velocities.clear();
        if (c.source == kMouse) QTest::mousePress(piano.cmdNote(60), Qt::LeftButton, {}, QPoint(4, c.at));
        if (c.source == kKey) KeyAction(0x5A, true);
        if (c.source == kIn) midi.in->Inject(0x3C90u | static_cast<std::uint32_t>(c.at) << 16), test::ProcessEvents();
        const QImage key = piano.cmdNote(60)->grab().toImage();
        const Rgb lit = KeyLightColour(60, c.velocity, 3);
        EXPECT_EQ(key.pixelColor(key.width() / 2, key.height() / 2), QColor(lit.r, lit.g, lit.b)) << c.at;
        EXPECT_EQ(midi.SentHex(), QStringLiteral("93 3C %1").arg(c.velocity, 2, 16, QChar(u'0')).toUpper().toStdString());
        EXPECT_EQ(recorder.velocities, std::vector<int>{c.velocity}) << c.at;
        QTest::mouseRelease(piano.cmdNote(60), Qt::LeftButton, {}, QPoint(4, c.at));
        KeyAction(0x5A, false), midi.in->Inject(0x003C80), test::ProcessEvents();
    }
}

TEST_F(NoteSources, MidiInputArrivesInOrderFromAnyThread) {
    std::vector<std::uint32_t> injected;
    auto burst = [&](int first) {
        for (int i = 0; i < 400; ++i)
            midi.in->Inject(injected.emplace_back(PackShortMessage(0x90, (first + i) % 128, 1 + i % 127)));
    };
    burst(0);                      // from the UI thread
    std::thread(burst, 7).join();  // as a driver's input thread does
    test::ProcessEvents();
    EXPECT_EQ(midi.out->sent, injected);
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
        EXPECT_EQ(midi.SentHex() + (piano.keys[60].pressed ? " key lit" : ""),
                  refusing ? "" : "93 3C 00 95 3E 00 B3 7B 00 B5 7B 00");
    }
    OpenMIDIOut(0);
    test::ProcessEvents();
    ReleaseKey(NoteSource::MidiInput, 60);  // its note ended with the old device
    PlayNote(62, 100, 0);                   // a single note, not a chord: one down when recorded
    EXPECT_EQ(midi.SentHex() + " | " + std::to_string(recorder.notesDownWhenRecorded.back()), "90 3E 64 | 1");
}

// Runs the program's own start-up and shutdown; leaves the key map and settings as it found them.
TEST(Program, StartsOnTheKeyMapAndClosingThePianoSilencesEverythingAndClosesEveryWindow) {
    const KeyMap keyMap = g_KeyMap;
    SaveSetting(kSettingsSection, kOutputDeviceKey, QStringLiteral("Unplugged"));  // no machine's synthesizer
    SaveSetting(kPlayingSection, kVelocityKey, QStringLiteral("30"));
    SaveSetting(kPlayingSection, kTouchVelocityKey, QStringLiteral("true"));
    test::ScriptedDialogs dialogs;
    Main();
    const QPointer<frmPiano> piano = PianoWindow();
    ASSERT_TRUE(piano && piano->isVisible());
    EXPECT_EQ(piano->cmdNote(60)->text(), "\r\n\r\nZ");  // the key map is loaded before the window
    // Once the window shows, one message says which output did not open.
    EXPECT_TRUE(dialogs.shown.empty());
    test::ProcessEvents();
    ASSERT_TRUE(dialogs.shown.size() == 1u && dialogs.shown[0].text.contains("\"Unplugged\""));
    EXPECT_EQ(piano->windowTitle(), "Kivra - No sound output");

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
    const QPointer<QWidget> others[] = {&MusicMakerWindow(), &LinkWindow(), &DevicesWindow(), &KeyConfigWindow()};
    for (QWidget* window : others) window->show();
    TheMusicMaker().SetPlay(true);
    PlayNote(67, 100, 4);  // as playback plays a track's note
    piano->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(piano));
    QTest::keyPress(piano, Qt::Key_Z);  // a key held through the keyboard hook
    SendMIDIMessage(0x643C95u);         // a peer's note
    piano->close();
    EXPECT_FALSE(TheMusicMaker().PlayChecked());
    EXPECT_EQ(Leftovers(log), "");
    EXPECT_NE(std::ranges::find(log, 0x1E3C90u), log.end());  // Z at the saved velocity
    EXPECT_TRUE(TouchVelocity());
    std::string allNotesOff;
    for (auto m : log) allNotesOff += (m & 0xF0u) == 0xB0u ? ShortMessageHex(m) + " " : "";
    EXPECT_EQ(allNotesOff, "B0 7B 00 B4 7B 00 B5 7B 00 ");
    for (const auto& window : others) EXPECT_TRUE(window && !window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(piano || PianoWindow());
    g_KeyMap = keyMap;
    test::ClearSettings();
}

// A song file named on the command line opens in the Music Maker, or is refused as Import MIDI
// refuses it, keeping the new song; a later start (the real program, a relative path in its own
// folder) hands its file to this one and ends at once, and a changed song is not dropped unasked.
// Without a file a later start brings the piano to the front.
TEST(Program, OpensTheSongFileItIsGivenAndTheOnesLaterStartsHandOver) {
    SaveSetting(kSettingsSection, kOutputDeviceKey, QStringLiteral("Unplugged"));
    test::ScriptedDialogs dialogs;
    QTemporaryDir dir;
    Main(dir.filePath("gone.mid"));
    test::ProcessEvents();
    const QPointer<frmPiano> piano = PianoWindow();
    ASSERT_TRUE(piano && dialogs.shown.size() == 2u);
    EXPECT_EQ((dialogs.shown[1].title + " " + dialogs.shown[1].text.section('\n', 0, 0)).toStdString(),
              "Import MIDI The file was not opened: the file could not be opened: No such file or directory.");
    const auto* list = MusicMakerWindow().findChild<StepList*>("lstTrack0");
    EXPECT_TRUE(MusicMakerWindow().isVisible() && list->RowCount() == 0 && !SongChanged());

    test::WriteFile(dir.filePath("in.mid"), QByteArray::fromHex("4D546864000000060000000100044D54726B0000000801903C6400FF2F00"));
    SetTempo(90);
    dialogs.saveChoices = {SaveChoice::Discard};
    piano->showMinimized();
    const std::pair<QStringList, std::function<bool()>> laterStarts[] = {
        {{}, [&] { return !piano->isMinimized(); }},
        {{"in.mid"}, [&] { return list->RowText(0) == "60 "; }},
    };
    for (const auto& [arguments, handled] : laterStarts) {
        QProcess later;
        later.setWorkingDirectory(dir.path());
        later.start(KIVRA_BINARY_DIR "/app/kivra", arguments);
        EXPECT_TRUE(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning && handled(); }, 10000));
        EXPECT_EQ(later.exitCode(), 0);
    }
    EXPECT_EQ(dialogs.shown.back().text, "Save changes to the song?");

    // A signal (logout, kill) ends Kivra as closing does, without asking, and keeps the changed
    // song; the next start offers it once.
    SetTempo(100);
    std::raise(SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete), !piano; }, 5000));
    const QDir kept(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Kivra/unsaved songs");
    EXPECT_EQ(kept.entryList({"*.mid"}, QDir::Files).size(), 1);
    NewSong();
    dialogs.answers = {true};
    Main();
    test::ProcessEvents();
    EXPECT_TRUE(dialogs.shown.back().text.startsWith("Kivra was ended before the song was saved. It was kept as " + kept.path() + "/told/"));
    EXPECT_EQ(MusicMakerWindow().findChild<StepList*>("lstTrack0")->RowText(0) + QString::number(CurrentSong().Tempo), "60 100");
    EXPECT_TRUE(kept.entryList({"*.mid"}, QDir::Files).isEmpty()) << "offered once";
    PianoWindow()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    test::ClearSettings();
}
