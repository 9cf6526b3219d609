// The link: wire decoding, the link window against a real server on loopback, and the relay.
#include "link/frmlink.h"
#include "link/linkclient.h"
#include "link/relay/relayserver.h"
#include "link/wire.h"
#include "midi/midiio.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <set>

using namespace kivra;

namespace {

struct RecordingPiano : PianoPort {
    int shown = 0;
    RecordingPiano() { SetPianoPort(this); }
    ~RecordingPiano() override { SetPianoPort(nullptr); }
    void ShowKey(int, Rgb, bool) override { ++shown; }
    void SelectPatchRow(int) override {}
    bool DrumModeChecked() const override { return false; }
    int BaseOctave() const override { return 4; }
    void UpdateInstrument(int) override {}
    void SetRecordingLock(bool) override {}
    void UpdateCaptions() override {}
};

struct RecordingRecorder : RecorderPort {
    std::vector<int> recorded;
    RecordingRecorder() { SetRecorderPort(this); }
    ~RecordingRecorder() override { SetRecorderPort(nullptr); }
    bool RecordChecked() const override { return true; }
    int CurrentTrackChannel() const override { return g_lChannel; }
    void RecordNote(int note) override { recorded.push_back(note); }
};

QByteArray Wire(std::initializer_list<std::uint32_t> messages) {
    QByteArray out;
    for (auto m : messages) {
        const auto bytes = EncodeLinkMessage(m);
        out.append(bytes.data(), 4);
    }
    return out;
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

// Reads exactly `count` bytes from a peer socket, waiting for them.
QByteArray ReadBytes(QTcpSocket& socket, qint64 count, int timeoutMs = 5000) {
    (void)QTest::qWaitFor([&] { return socket.bytesAvailable() >= count; }, timeoutMs);
    return socket.read(count);
}

// The window and a server socket on loopback, connected through the window's Connect button.
struct Session {
    test::FakeMidi midi;
    test::ScriptedDialogs dialogs;
    RecordingPiano piano;
    QTcpServer server;
    std::unique_ptr<frmLink> window = std::make_unique<frmLink>();
    QTcpSocket* peer = nullptr;

    Session() { server.listen(QHostAddress::LocalHost, 0); }

    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    void Connect() {
        dialogs.inputs.push_back(Address());
        QTest::mouseClick(window->cmdConnect, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->cmdConnect->text() == "Disconnect"; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
        peer = server.nextPendingConnection();
        ASSERT_TRUE(window->cmdConnect->isEnabled());
    }
    void Send(const QByteArray& bytes) {
        peer->write(bytes);
        peer->flush();
    }
    // Waits until the fake output has received `count` messages in all.
    bool WaitSent(std::size_t count) {
        return QTest::qWaitFor([&] { return midi.out->sent.size() >= count; }, 5000);
    }
};

}  // namespace

TEST(LinkWire, DecoderKeepsSplitMessagesAndLosesNoByte) {
    LinkDecoder decoder;
    std::vector<std::uint32_t> out;
    const auto twelve = Wire({0x643C90, 0x004000E1, 0x0005C2});
    EXPECT_EQ(decoder.Feed(twelve.constData(), 12, out), 3u);
    EXPECT_EQ(out, (std::vector<std::uint32_t>{0x643C90, 0x004000E1, 0x0005C2}));

    // The same bytes arriving one, five, then six at a time.
    out.clear();
    EXPECT_EQ(decoder.Feed(twelve.constData(), 1, out), 0u);
    EXPECT_EQ(decoder.Pending(), 1u);
    EXPECT_EQ(decoder.Feed(twelve.constData() + 1, 5, out), 1u);
    EXPECT_EQ(decoder.Pending(), 2u);
    EXPECT_EQ(decoder.Feed(twelve.constData() + 6, 0, out), 0u);
    EXPECT_EQ(decoder.Feed(twelve.constData() + 6, 6, out), 2u);
    EXPECT_EQ(decoder.Pending(), 0u);
    EXPECT_EQ(out, (std::vector<std::uint32_t>{0x643C90, 0x004000E1, 0x0005C2}));
}

TEST(LinkWire, SoundingNotesReleaseWhatWasLeftOn) {
    SoundingNotes notes;
    notes.Track(0x643C90);  // 90 3C 64: on
    notes.Track(0x644093);  // 93 40 64: on
    notes.Track(0x004093);  // 93 40 00: off
    notes.Track(0x643E91);  // 91 3E 64: on
    notes.Track(0x403E81);  // 81 3E 40: note-off status ends it too
    notes.Track(0x642095);  // 95 20 64
    notes.Track(0x4000E0);  // pitch bend: not a note
    EXPECT_EQ(notes.Count(), 2);
    EXPECT_EQ(notes.TakeReleases(), (std::vector<std::uint32_t>{0x003C90, 0x002095}));
    EXPECT_FALSE(notes.Any());
}

TEST(LinkAddress, HostAloneTakesPort766AndBadPortsAreRefused) {
    auto a = ParseLinkAddress(" piano.example ");
    ASSERT_TRUE(a.address);
    EXPECT_EQ(a.address->host, "piano.example");
    EXPECT_EQ(a.address->port, 766);
    a = ParseLinkAddress("127.0.0.1:7000");
    ASSERT_TRUE(a.address);
    EXPECT_EQ(a.address->host, "127.0.0.1");
    EXPECT_EQ(a.address->port, 7000);
    a = ParseLinkAddress("[::1]:800");
    ASSERT_TRUE(a.address);
    EXPECT_EQ(a.address->host, "::1");
    EXPECT_EQ(a.address->port, 800);
    a = ParseLinkAddress("::1");
    ASSERT_TRUE(a.address);
    EXPECT_EQ(a.address->host, "::1");
    EXPECT_EQ(a.address->port, 766);
    for (const char* bad : {"", "   ", "host:", "host:0", "host:70000", "host:x", ":766", "[::1"}) {
        SCOPED_TRACE(bad);
        a = ParseLinkAddress(bad);
        EXPECT_FALSE(a.address);
        EXPECT_FALSE(a.error.isEmpty());
    }
}

TEST(LinkWindow, ConnectsTakesItsChannelAndSendsEveryMessageItPlays) {
    Session s;
    EXPECT_EQ(s.window->windowTitle(), "ZuduvIvev");
    EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
    EXPECT_EQ(s.window->cmdQuit->text(), "Quit");
    EXPECT_EQ(s.window->cmdQuit->geometry(), QRect(8, 48, 81, 33));
    EXPECT_EQ(GetLinkPort(), &s.window->link());
    EXPECT_FALSE(GetLinkPort()->Connected());

    // Not connected: a note goes only to the local output.
    PlayNote(60, 100, PlayChannel());
    s.midi.ClearSent();

    s.dialogs.inputs.push_back(s.Address());
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    ASSERT_FALSE(s.dialogs.shown.empty());
    EXPECT_EQ(s.dialogs.shown[0].title, "ZuduvIvev");
    EXPECT_EQ(s.dialogs.shown[0].text, "Please enter the server address:");
    EXPECT_EQ(s.window->cmdConnect->text(), "Connecting...");
    EXPECT_FALSE(s.window->cmdConnect->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.window->cmdConnect->text() == "Disconnect"; }, 5000));
    EXPECT_TRUE(s.window->cmdConnect->isEnabled());
    EXPECT_TRUE(s.window->sckMain().socketOption(QAbstractSocket::LowDelayOption).toInt() != 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.server.hasPendingConnections(); }, 5000));
    s.peer = s.server.nextPendingConnection();
    EXPECT_EQ(s.peer->bytesAvailable(), 0);  // nothing is sent on connecting, not even the earlier note

    s.Send(Wire({0x0003FF}));  // FF 03 00 00
    ASSERT_TRUE(QTest::qWaitFor([] { return g_lChannel == 3; }, 5000));
    s.Send(Wire({0x0010FF, 0x643C90}));  // channel 16 is no MIDI channel: ignored
    ASSERT_TRUE(s.WaitSent(1));
    EXPECT_EQ(g_lChannel, 3);
    s.midi.ClearSent();

    PlayNote(60, 100, PlayChannel());
    StopNote(60, PlayChannel());
    SendPitchBend(8192, PlayChannel());
    SetPatch(24, PlayChannel());
    EXPECT_EQ(Hex(ReadBytes(*s.peer, 16)), "93 3C 64 00 93 3C 00 00 E3 00 40 00 C3 18 00 00");
    EXPECT_EQ(s.midi.SentHex(), "93 3C 64 93 3C 00 E3 00 40 C3 18");
}

TEST(LinkWindow, ServerMessagesSoundWithoutLightingRecordingOrEcho) {
    Session s;
    RecordingRecorder recorder;
    s.Connect();
    const auto before = s.midi.out->sent.size();

    // Twelve bytes at once: three messages in order.
    s.Send(Wire({0x643C90, 0x004000E1, 0x0005C2}));
    ASSERT_TRUE(s.WaitSent(before + 3));
    // One message split over three arrivals, then one and a half, then the rest.
    const auto split = Wire({0x504091, 0x004091, 0x003C90});
    s.Send(split.left(1));
    QTest::qWait(30);
    s.Send(split.mid(1, 2));
    QTest::qWait(30);
    s.Send(split.mid(3, 3));
    QTest::qWait(30);
    s.Send(split.mid(6));
    ASSERT_TRUE(s.WaitSent(before + 6));
    QTest::qWait(50);

    std::vector<std::uint32_t> got(s.midi.out->sent.begin() + static_cast<std::ptrdiff_t>(before), s.midi.out->sent.end());
    EXPECT_EQ(got, (std::vector<std::uint32_t>{0x643C90, 0x004000E1, 0x0005C2, 0x504091, 0x004091, 0x003C90}));
    EXPECT_EQ(s.piano.shown, 0);
    EXPECT_TRUE(recorder.recorded.empty());
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_EQ(s.peer->bytesAvailable(), 0);  // nothing goes back to the server
}

TEST(LinkWindow, EveryWayOutOfConnectedResetsTheChannelAndSilencesTheServersNotes) {
    enum Way { Button, ServerCloses, Quit, WindowClosed, WindowDestroyed };
    for (Way way : {Button, ServerCloses, Quit, WindowClosed, WindowDestroyed}) {
        SCOPED_TRACE(way);
        Session s;
        s.Connect();
        s.Send(Wire({0x0005FF, 0x644091, 0x644191, 0x004191}));  // channel 5; 40 left on, 41 stopped
        ASSERT_TRUE(s.WaitSent(3));
        ASSERT_EQ(g_lChannel, 5);
        s.midi.ClearSent();

        switch (way) {
            case Button: QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton); break;
            case ServerCloses: s.peer->close(); break;
            case Quit: QTest::mouseClick(s.window->cmdQuit, Qt::LeftButton); break;
            case WindowClosed: s.window->close(); break;
            case WindowDestroyed: s.window.reset(); break;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !s.midi.out->sent.empty(); }, 5000));
        EXPECT_EQ(g_lChannel, 0);
        EXPECT_EQ(s.midi.SentHex(), "91 40 00");  // only the note still sounding
        if (s.window) {
            EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
            EXPECT_TRUE(s.window->cmdConnect->isEnabled());
            EXPECT_FALSE(s.window->link().Connected());
        } else {
            EXPECT_EQ(GetLinkPort(), nullptr);
        }
        // The server sees the connection end.
        if (way != ServerCloses) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return s.peer->state() != QAbstractSocket::ConnectedState; }, 5000));
        }
    }
}

TEST(LinkWindow, FailedConnectionsSayWhatFailedAndReturnToConnect) {
    Session s;
    // Refused: a port nothing listens on any more.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const auto port = closed.serverPort();
    closed.close();
    s.dialogs.inputs.push_back(QStringLiteral("127.0.0.1:%1").arg(port));
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.dialogs.shown.size() == 2; }, 5000));
    EXPECT_EQ(s.dialogs.shown[1].title, "ZuduvIvev");
    EXPECT_TRUE(s.dialogs.shown[1].text.contains("refused")) << s.dialogs.shown[1].text.toStdString();
    EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
    EXPECT_TRUE(s.window->cmdConnect->isEnabled());

    // Empty address.
    s.dialogs.inputs.push_back(QString());
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    ASSERT_EQ(s.dialogs.shown.size(), 4u);
    EXPECT_EQ(s.dialogs.shown[3].title, "ZuduvIvev");
    EXPECT_EQ(s.dialogs.shown[3].text, "No server address was entered.");
    EXPECT_EQ(s.window->cmdConnect->text(), "Connect");

    // Cancelled input: nothing happens.
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    EXPECT_EQ(s.dialogs.shown.size(), 5u);
    EXPECT_EQ(s.window->cmdConnect->text(), "Connect");

    // No answer: a listener whose backlog is full drops further connection requests unanswered.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    QTest::qWait(100);
    s.window->link().SetConnectTimeout(500);
    s.dialogs.inputs.push_back(QStringLiteral("127.0.0.1:%1").arg(ntohs(addr.sin_port)));
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.dialogs.shown.size() == 7; }, 5000));
    EXPECT_EQ(s.dialogs.shown[6].text,
              QStringLiteral("The server at 127.0.0.1:%1 did not answer within 500 milliseconds.").arg(ntohs(addr.sin_port)));
    EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
    EXPECT_TRUE(s.window->cmdConnect->isEnabled());
    for (int fd : fillers) ::close(fd);
    ::close(listener);
}

// ---- The relay ---------------------------------------------------------------------------

namespace {

// A raw client of the relay: reads its channel, collects what it receives.
struct RelayPeer {
    QTcpSocket socket;
    explicit RelayPeer(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    int Channel() {
        const auto bytes = ReadBytes(socket, 4);
        if (bytes.size() != 4 || static_cast<unsigned char>(bytes[0]) != 0xFF) return -1;
        return static_cast<unsigned char>(bytes[1]);
    }
    void Send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
};

struct RelayProcess {
    QProcess process;
    quint16 port = 0;
    RelayProcess() {
        process.start(QStringLiteral(KIVRA_RELAY_PATH), {QStringLiteral("--port"), QStringLiteral("0")});
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) return;
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (line.startsWith("kivra-relay listening on port ")) port = static_cast<quint16>(line.section(' ', -1).toUInt());
    }
    ~RelayProcess() {
        process.terminate();
        process.waitForFinished(5000);
    }
    QString Output() {
        QTest::qWait(50);
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }
};

}  // namespace

TEST(Relay, HelpNamesThePort) {
    QProcess help;
    help.start(QStringLiteral(KIVRA_RELAY_PATH), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    EXPECT_TRUE(text.contains("--port")) << text.toStdString();
    EXPECT_TRUE(text.contains("766"));
}

TEST(Relay, PianoAndPeersPlayTogetherThroughTheRelayProgram) {
    RelayProcess relay;
    ASSERT_NE(relay.port, 0);
    Session s;  // its own server stays unused: the window connects to the relay
    g_lChannel = 7;
    s.dialogs.inputs.push_back(QStringLiteral("127.0.0.1:%1").arg(relay.port));
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.window->link().Connected(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([] { return g_lChannel == 0; }, 5000));  // the first piano gets channel 0

    RelayPeer a(relay.port), b(relay.port);
    EXPECT_EQ(a.Channel(), 1);
    EXPECT_EQ(b.Channel(), 2);

    // The piano plays: both peers hear it, unchanged.
    PlayNote(60, 100, PlayChannel());
    EXPECT_EQ(Hex(ReadBytes(a.socket, 4)), "90 3C 64 00");
    EXPECT_EQ(Hex(ReadBytes(b.socket, 4)), "90 3C 64 00");

    // A peer plays two notes and stops one: the piano and the other peer hear it, the sender not.
    s.midi.ClearSent();
    a.Send(Wire({0x644091, 0x644191, 0x004191}));
    EXPECT_EQ(Hex(ReadBytes(b.socket, 12)), "91 40 64 00 91 41 64 00 91 41 00 00");
    ASSERT_TRUE(s.WaitSent(3));
    EXPECT_EQ(s.midi.SentHex(), "91 40 64 91 41 64 91 41 00");

    // A channel assignment from a peer is not passed on.
    a.Send(Wire({0x0005FF, 0x0000C1}));
    EXPECT_EQ(Hex(ReadBytes(b.socket, 4)), "C1 00 00 00");
    EXPECT_EQ(g_lChannel, 0);

    // The peer leaves with note 40 still sounding: it is released at the others.
    s.midi.ClearSent();
    a.socket.close();
    EXPECT_EQ(Hex(ReadBytes(b.socket, 4)), "91 40 00 00");
    ASSERT_TRUE(s.WaitSent(1));
    EXPECT_EQ(s.midi.SentHex(), "91 40 00");

    // Its channel is free again for the next one.
    RelayPeer c(relay.port);
    EXPECT_EQ(c.Channel(), 1);
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    const QString output = relay.Output();
    EXPECT_EQ(output.count(" joined from "), 4) << output.toStdString();
    EXPECT_TRUE(output.contains("left (channel 1)")) << output.toStdString();
}

TEST(Relay, FifteenChannelsThenRefusedWithAClosedConnection) {
    RelayServer relay;
    ASSERT_TRUE(relay.Listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<RelayPeer>> peers;
    std::set<int> channels;
    for (int i = 0; i < 15; ++i) {
        peers.push_back(std::make_unique<RelayPeer>(relay.Port()));
        channels.insert(peers.back()->Channel());
    }
    EXPECT_EQ(channels, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15}));

    RelayPeer extra(relay.Port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return extra.socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(extra.socket.bytesAvailable(), 0);
    EXPECT_EQ(relay.ClientCount(), 15);
}

TEST(Relay, AClientThatNeverReadsIsDroppedWithoutStallingTheOthers) {
    RelayServer relay;
    relay.SetMaxQueueBytes(16 * 1024);
    QStringList log;
    QObject::connect(&relay, &RelayServer::logLine, [&](const QString& line) { log << line; });
    ASSERT_TRUE(relay.Listen(QHostAddress::LocalHost, 0));

    RelayPeer sender(relay.Port()), reader(relay.Port());
    ASSERT_EQ(sender.Channel(), 0);
    ASSERT_EQ(reader.Channel(), 1);
    // The sleeper takes a small receive window and never reads.
    const int sleeper = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(sleeper, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(relay.Port());
    ASSERT_EQ(::connect(sleeper, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.ClientCount() == 3; }, 5000));

    constexpr int kMessages = 100000;
    qint64 received = 0;
    for (int i = 0; i < kMessages; i += 1000) {
        QByteArray batch;
        for (int j = 0; j < 1000; ++j) {
            const int n = (i + j) % 128;
            const auto bytes = EncodeLinkMessage(PackShortMessage(0x90, n, (i + j) % 2 ? 0 : 100));
            batch.append(bytes.data(), 4);
        }
        sender.Send(batch);
        QTest::qWait(1);
        received += reader.socket.readAll().size();
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            received += reader.socket.readAll().size();
            return received >= qint64{kMessages} * 4;
        },
        10000));
    EXPECT_EQ(received, qint64{kMessages} * 4);
    EXPECT_EQ(relay.ClientCount(), 2);
    EXPECT_TRUE(log.filter("dropped (channel 2): it stopped reading").size() == 1) << log.join('\n').toStdString();
    ::close(sleeper);
}
