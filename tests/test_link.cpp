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

#include <array>
#include <thread>
#include <memory>
#include <set>

using namespace kivra;

namespace {

// Counts the keys lit on the piano and the notes recorded, which server messages must not cause.
struct Watcher : PianoPort, RecorderPort {
    int shown = 0;
    std::vector<int> recorded;
    Watcher() { SetPianoPort(this); SetRecorderPort(this); }
    ~Watcher() override { SetPianoPort(nullptr); SetRecorderPort(nullptr); }
    void ShowKey(int, Rgb, bool) override { ++shown; }
    void SelectPatchRow(int) override {}
    bool DrumModeChecked() const override { return false; }
    int BaseOctave() const override { return 4; }
    void UpdateInstrument(int) override {}
    void SetRecordingLock(bool) override {}
    void UpdateCaptions() override {}
    bool RecordChecked() const override { return true; }
    int CurrentTrackChannel() const override { return g_lChannel; }
    void RecordNote(int note) override { recorded.push_back(note); }
};

QByteArray Wire(const std::vector<std::uint32_t>& messages) {
    QByteArray out;
    for (auto m : messages) out.append(EncodeLinkMessage(m).data(), 4);
    return out;
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

QString Loopback(quint16 port) { return QStringLiteral("127.0.0.1:%1").arg(port); }

// Reads exactly `count` bytes from a peer socket, waiting for them.
QByteArray ReadBytes(QTcpSocket& socket, qint64 count) {
    (void)QTest::qWaitFor([&] { return socket.bytesAvailable() >= count; }, 5000);
    return socket.read(count);
}

void SendAll(QTcpSocket& socket, const QByteArray& bytes) {
    socket.write(bytes);
    socket.flush();
}

// The window and a server socket on loopback.
struct Session {
    test::FakeMidi midi;
    test::ScriptedDialogs dialogs;
    Watcher watcher;
    QTcpServer server;
    std::unique_ptr<frmLink> window = std::make_unique<frmLink>();
    QTcpSocket* peer = nullptr;

    Session() { server.listen(QHostAddress::LocalHost, 0); }

    // Connects through the Connect button to `address`, by default our own server (`peer` is its end).
    void Connect(QString address = {}) {
        const bool own = address.isEmpty();
        if (own) address = Loopback(server.serverPort());
        const auto shown = dialogs.shown.size();
        dialogs.inputs.push_back(address);
        QTest::mouseClick(window->cmdConnect, Qt::LeftButton);
        ASSERT_EQ(dialogs.shown.size(), shown + 1);
        EXPECT_EQ(dialogs.shown.back().title, "ZuduvIvev");
        EXPECT_EQ(dialogs.shown.back().text, "Please enter the server address:");
        EXPECT_EQ(window->cmdConnect->text(), "Connecting...");
        EXPECT_FALSE(window->cmdConnect->isEnabled());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->cmdConnect->text() == "Disconnect"; }, 5000));
        EXPECT_TRUE(window->cmdConnect->isEnabled());
        EXPECT_NE(window->sckMain().socketOption(QAbstractSocket::LowDelayOption).toInt(), 0);
        if (!own) return;
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
        peer = server.nextPendingConnection();
    }
    void Send(const QByteArray& bytes) { SendAll(*peer, bytes); }
    // Waits until the fake output has received `count` messages in all.
    bool WaitSent(std::size_t count) {
        return QTest::qWaitFor([&] { return midi.out->sent.size() >= count; }, 5000);
    }
};

// A raw client of the relay, from `from` (a loopback address): reads its channel; Collect() then
// gathers every message it receives.
struct RelayPeer {
    QTcpSocket socket;
    LinkDecoder decoder;
    std::vector<std::uint32_t> received;
    explicit RelayPeer(quint16 port, const char* from = "127.0.0.1") {
        socket.bind(QHostAddress(QString::fromLatin1(from)));
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    int Channel() {
        const auto bytes = ReadBytes(socket, 4);
        if (bytes.size() != 4 || static_cast<unsigned char>(bytes[0]) != 0xFF) return -1;
        return static_cast<unsigned char>(bytes[1]);
    }
    void Collect() {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            const QByteArray data = socket.readAll();
            decoder.Feed(data.constData(), static_cast<std::size_t>(data.size()), received);
        });
    }
    // What it received on `channel`, in order.
    std::vector<std::uint32_t> From(int channel) const {
        std::vector<std::uint32_t> out;
        for (auto m : received)
            if (static_cast<int>(m & 0x0F) == channel) out.push_back(m);
        return out;
    }
    void Send(const QByteArray& bytes) { SendAll(socket, bytes); }
    bool Closed() {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
};

struct RelayProcess {
    QProcess process;
    quint16 port = 0;
    explicit RelayProcess(QStringList options = {}) {
        process.start(QStringLiteral(KIVRA_RELAY_PATH), options << QStringLiteral("--port") << QStringLiteral("0"));
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) return;
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (line.startsWith("kivra-relay listening on port ")) port = static_cast<quint16>(line.section(' ', -1).toUInt());
    }
    ~RelayProcess() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

}  // namespace

TEST(LinkWire, DecoderKeepsSplitMessagesAndLosesNoByte) {
    const std::vector<std::uint32_t> messages{0x643C90, 0x004000E1, 0x0005C2};
    const auto twelve = Wire(messages);
    LinkDecoder decoder;
    std::vector<std::uint32_t> out;
    // Arrivals of 1, 5, 0 and 6 bytes: how many messages each completes, how many bytes then wait.
    std::size_t at = 0;
    for (auto [size, completes, pending] : {std::array<std::size_t, 3>{1, 0, 1}, {5, 1, 2}, {0, 0, 2}, {6, 2, 0}}) {
        EXPECT_EQ(decoder.Feed(twelve.constData() + at, size, out), completes);
        EXPECT_EQ(decoder.Pending(), pending);
        at += size;
    }
    EXPECT_EQ(out, messages);
}

TEST(LinkWire, OnlyWellFormedChannelVoiceMessagesPass) {
    // Each packed message and whether it may reach an output or another player.
    for (auto [message, passes] : {std::pair{0x643C90u, true}, {0x403E81u, true}, {0x7F07B5u, true}, {0x0005C2u, true},
                                   {0x0040D3u, true}, {0x7F7FE0u, true}, {0x0105C2u, false}, {0x0100D3u, false},
                                   {0x01643C90u, false}, {0x803C90u, false}, {0x64BC90u, false}, {0x007E7FF0u, false},
                                   {0x0000F8u, false}, {0x0000FFu, false}, {0x00643Cu, false}}) {
        SCOPED_TRACE(message);
        EXPECT_EQ(IsChannelVoiceMessage(message), passes);
    }
}

TEST(LinkWire, SoundingNotesReleaseWhatWasLeftOn) {
    SoundingNotes notes;
    // On 90 3C; on and off 93 40; on 91 3E, ended by the note-off status 81; on 95 20; a pitch bend.
    for (std::uint32_t m : {0x643C90, 0x644093, 0x004093, 0x643E91, 0x403E81, 0x642095, 0x4000E0}) notes.Track(m);
    EXPECT_TRUE(notes.Holds(0x003C90) && !notes.Holds(0x003C91));
    EXPECT_EQ(notes.TakeReleases(), (std::vector<std::uint32_t>{0x003C90, 0x002095}));
    EXPECT_FALSE(notes.Any());
}

TEST(LinkAddress, HostAloneTakesPort766AndBadPortsAreRefused) {
    // Each text and the host and port it names; none when it is refused with a reason.
    for (auto [text, named] : {std::pair{" piano.example ", "piano.example 766"}, {"127.0.0.1:7000", "127.0.0.1 7000"},
                               {"[::1]:800", "::1 800"}, {"::1", "::1 766"}, {"", ""}, {"   ", ""}, {"host:", ""},
                               {"host:0", ""}, {"host:70000", ""}, {"host:x", ""}, {":766", ""}, {"[::1", ""}}) {
        SCOPED_TRACE(text);
        const auto a = ParseLinkAddress(text);
        EXPECT_EQ(a.address ? QStringLiteral("%1 %2").arg(a.address->host).arg(a.address->port) : QString(), named);
        EXPECT_EQ(a.error.isEmpty(), a.address.has_value());
    }
}

TEST(LinkWindow, TakesItsChannelSoundsServerMessagesUnlitAndSendsWhatItPlays) {
    Session s;
    EXPECT_EQ(s.window->windowTitle(), "ZuduvIvev");
    EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
    EXPECT_EQ(s.window->cmdQuit->text(), "Quit");
    EXPECT_EQ(s.window->cmdQuit->geometry(), QRect(8, 48, 81, 33));

    PlayNote(60, 100, PlayChannel());  // not connected: only to the local output
    StopNote(60, PlayChannel());
    s.Connect();
    EXPECT_EQ(s.peer->bytesAvailable(), 0);  // nothing is sent on connecting, not even the earlier notes
    s.midi.ClearSent();
    s.watcher.shown = 0;
    s.watcher.recorded.clear();

    // At once: channel 3, channel 16 (no MIDI channel: ignored), a pitch bend, and what no output
    // may get: SysEx start, clock, velocity above 127, a data byte as status, stray unused bytes.
    s.Send(Wire({0x0003FF, 0x0010FF, 0x004000E1, 0x007E7FF0, 0x0000F8, 0x803C90, 0x00643C, 0x0105C2, 0x01643C90}));
    ASSERT_TRUE(s.WaitSent(1));
    // Three messages arriving as 1, 2, 3 and 6 bytes.
    const auto split = Wire({0x643C90, 0x0005C2, 0x003C90});
    for (auto [from, size] : {std::pair{0, 1}, {1, 2}, {3, 3}, {6, 6}}) {
        s.Send(split.mid(from, size));
        QTest::qWait(30);
    }
    ASSERT_TRUE(s.WaitSent(4));
    QTest::qWait(20);
    EXPECT_EQ(g_lChannel, 3);
    EXPECT_EQ(s.midi.SentHex(), "E1 00 40 90 3C 64 C2 05 90 3C 00");
    EXPECT_EQ(s.window->link().dropped().malformed, 6);
    EXPECT_EQ(s.watcher.shown, 0);
    EXPECT_TRUE(s.watcher.recorded.empty());
    EXPECT_EQ(g_lNotesDown, 0);
    EXPECT_EQ(s.peer->bytesAvailable(), 0);  // nothing goes back to the server
    s.midi.ClearSent();

    PlayNote(60, 100, PlayChannel());
    StopNote(60, PlayChannel());
    SendPitchBend(8192, PlayChannel());
    SetPatch(24, PlayChannel());
    EXPECT_EQ(Hex(ReadBytes(*s.peer, 16)), "93 3C 64 00 93 3C 00 00 E3 00 40 00 C3 18 00 00");
    EXPECT_EQ(s.midi.SentHex(), "93 3C 64 93 3C 00 E3 00 40 C3 18");
}

TEST(LinkWindow, EveryWayOutOfConnectedResetsTheChannelAndSilencesTheServersNotes) {
    enum Way { Button, ServerCloses, Quit, WindowClosed, WindowDestroyed };
    for (Way way : {Button, ServerCloses, Quit, WindowClosed, WindowDestroyed}) {
        SCOPED_TRACE(way);
        // Only the server's close is told, once the link has stood.
        const QString told = way == ServerCloses ? "The server closed the connection." : "Please enter the server address:";
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
        EXPECT_EQ(s.dialogs.shown.back().text, told);
        if (s.window) {
            EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
            EXPECT_TRUE(s.window->cmdConnect->isEnabled());
            EXPECT_FALSE(s.window->link().Connected());
        } else {
            EXPECT_EQ(GetLinkPort(), nullptr);
        }
        // The server sees the connection end.
        EXPECT_TRUE(QTest::qWaitFor([&] { return s.peer->state() != QAbstractSocket::ConnectedState; }, 5000));
    }
}

TEST(LinkWindow, FailedConnectionsSayWhatFailedAndReturnToConnect) {
    Session s;
    s.window->link().SetConnectTimeout(500);
    // Refused: a port nothing listens on any more.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const auto refused = closed.serverPort();
    closed.close();
    // No answer: a listener that never accepts, its backlog full, drops further connection requests.
    QTcpServer full;
    full.setListenBacklogSize(0);
    ASSERT_TRUE(full.listen(QHostAddress::LocalHost, 0));
    full.pauseAccepting();
    const quint16 silent = full.serverPort();
    QTcpSocket fillers[3];
    for (auto& filler : fillers) filler.connectToHost(QHostAddress::LocalHost, silent);
    QTest::qWait(100);
    // Closes every connection at once, saying nothing, as a full relay does.
    QTcpServer full15;
    ASSERT_TRUE(full15.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&full15, &QTcpServer::newConnection, [&] { full15.nextPendingConnection()->close(); });

    // Each answer to the input box (none: cancelled, and nothing more is shown) and the message it brings.
    struct Case {
        bool answered;
        QString input, message;
    };
    const Case cases[] = {
        {false, {}, {}},
        {true, Loopback(refused), QStringLiteral("The server at 127.0.0.1:%1 refused the connection.").arg(refused)},
        {true, QString(), "No server address was entered."},
        {true, Loopback(silent), QStringLiteral("The server at 127.0.0.1:%1 did not answer within 500 milliseconds.").arg(silent)},
        {true, Loopback(full15.serverPort()), "The server is full."},
    };
    for (const auto& [answered, input, message] : cases) {
        SCOPED_TRACE(answered ? input.toStdString() : std::string("cancelled"));
        const auto shown = s.dialogs.shown.size() + (answered ? 2 : 1);
        if (answered) s.dialogs.inputs.push_back(input);
        QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return s.dialogs.shown.size() == shown; }, 5000));
        if (answered) {
            EXPECT_EQ(s.dialogs.shown.back().title, "ZuduvIvev");
            EXPECT_EQ(s.dialogs.shown.back().text, message);
        }
        EXPECT_EQ(s.window->cmdConnect->text(), "Connect");
        EXPECT_TRUE(s.window->cmdConnect->isEnabled());
    }
}

TEST(LinkWindow, AFloodFromTheServerIsCappedButEveryNoteItStartedEnds) {
    Session s;
    s.window->link().SetPlayRate(0, 10);  // nothing but a burst of ten
    s.Connect();
    std::vector<std::uint32_t> flood{0x643C90};
    flood.insert(flood.end(), 100, 0x4000E0);
    flood.push_back(0x003C90);
    s.Send(Wire(flood));
    ASSERT_TRUE(s.WaitSent(11));
    QTest::qWait(20);
    EXPECT_EQ(s.midi.SentHex(), ("90 3C 64" + QString(" E0 00 40").repeated(9) + " 90 3C 00").toStdString());
    EXPECT_EQ(s.window->link().dropped().overRate, 91);
}

TEST(Relay, OptionsAreCheckedAndDocumented) {
    // Each command line and its exit status; the help names every option.
    for (auto [options, status] : {std::pair{QStringList{"--help"}, 0}, {{"--port", "70000"}, 2}, {{"--listen", "piano"}, 2},
                                   {{"--max-per-address", "-1"}, 2}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        QProcess relay;
        relay.start(QStringLiteral(KIVRA_RELAY_PATH), options);
        ASSERT_TRUE(relay.waitForFinished(5000));
        EXPECT_EQ(relay.exitCode(), status);
        const QString text = QString::fromLocal8Bit(relay.readAllStandardOutput());
        for (const char* named : {"--port", "766", "--listen", "--max-per-address"}) {
            if (status == 0) {
                EXPECT_TRUE(text.contains(named)) << text.toStdString();
            }
        }
    }
}

TEST(Relay, PianoAndPeersPlayTogetherThroughTheRelayProgram) {
    RelayProcess relay({QStringLiteral("--listen"), QStringLiteral("127.0.0.1")});
    ASSERT_NE(relay.port, 0);
    Session s;  // its own server stays unused
    g_lChannel = 7;
    s.Connect(Loopback(relay.port));
    ASSERT_TRUE(QTest::qWaitFor([] { return g_lChannel == 0; }, 5000));  // the first piano gets channel 0
    RelayPeer a(relay.port), b(relay.port);
    EXPECT_EQ(a.Channel(), 1);
    EXPECT_EQ(b.Channel(), 2);

    // The piano plays: both peers hear it, unchanged.
    PlayNote(60, 100, PlayChannel());
    EXPECT_EQ(Hex(ReadBytes(a.socket, 4)), "90 3C 64 00");
    EXPECT_EQ(Hex(ReadBytes(b.socket, 4)), "90 3C 64 00");

    // A peer plays two notes and stops one, amid a channel assignment, a system reset, SysEx and
    // a data byte as status: the piano and the other peer hear the notes only, the sender nothing.
    s.midi.ClearSent();
    a.Send(Wire({0x644091, 0x0005FF, 0x0000FF, 0x007E7FF0, 0x644191, 0x00643C, 0x004191}));
    EXPECT_EQ(Hex(ReadBytes(b.socket, 12)), "91 40 64 00 91 41 64 00 91 41 00 00");
    ASSERT_TRUE(s.WaitSent(3));
    EXPECT_EQ(s.midi.SentHex(), "91 40 64 91 41 64 91 41 00");
    EXPECT_EQ(g_lChannel, 0);

    // The other peer holds the same note 91 40 and one of its own: when the first leaves, 91 40
    // sounds on for the second; when the second leaves, both end.
    b.Send(Wire({0x644091, 0x645092}));
    ASSERT_TRUE(s.WaitSent(5));
    s.midi.ClearSent();
    a.socket.close();
    QTest::qWait(100);
    b.socket.close();
    ASSERT_TRUE(s.WaitSent(2));
    QTest::qWait(20);
    EXPECT_EQ(s.midi.SentHex(), "91 40 00 92 50 00");

    // Their channels are free again for the next ones.
    RelayPeer c(relay.port);
    EXPECT_EQ(c.Channel(), 1);
    QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
    QTest::qWait(50);
    const QString output = QString::fromLocal8Bit(relay.process.readAllStandardOutput());
    EXPECT_EQ(output.count(" joined from "), 4) << output.toStdString();
    EXPECT_TRUE(output.contains("left (channel 1); 4 messages from it were not passed on")) << output.toStdString();
}

TEST(Relay, RefusesBeyondItsChannelsAndItsLimitPerAddressLoggingOncePerAddress) {
    RelayServer relay;
    relay.SetLimits({.perAddress = 2});
    QStringList log;
    QObject::connect(&relay, &RelayServer::logLine, [&](const QString& line) { log << line; });
    ASSERT_TRUE(relay.Listen(QHostAddress::LocalHost, 0));
    const auto refused = [&](const char* from) {
        RelayPeer extra(relay.Port(), from);
        EXPECT_TRUE(extra.Closed());
        EXPECT_EQ(extra.socket.bytesAvailable(), 0);
    };
    std::vector<std::unique_ptr<RelayPeer>> peers;
    std::set<int> channels;
    // Two from each of 127.0.0.1 to 127.0.0.8 but the last: fifteen. A third from 127.0.0.1 is
    // refused, twice; then one from 127.0.0.8, when every channel is taken.
    for (int i = 0; i < 15; ++i) {
        const QByteArray from = QStringLiteral("127.0.0.%1").arg(1 + i / 2).toLatin1();
        channels.insert(peers.emplace_back(std::make_unique<RelayPeer>(relay.Port(), from.constData()))->Channel());
        if (i == 1) {
            refused("127.0.0.1");
            refused("127.0.0.1");
        }
    }
    EXPECT_EQ(channels, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15}));
    refused("127.0.0.8");
    EXPECT_EQ(relay.ClientCount(), 15);
    EXPECT_EQ(log.filter("Refused").join('\n').toStdString(), "Refused a client from 127.0.0.1: 2 clients are already connected from there\n"
                                                 "Refused a client from 127.0.0.8: all 15 channels are taken");
}

TEST(Relay, AFlooderIsCutWhileHonestPlayersGetEveryMessage) {
    RelayProcess relay;
    ASSERT_NE(relay.port, 0);
    std::array<RelayPeer, 3> honest{RelayPeer(relay.port), RelayPeer(relay.port), RelayPeer(relay.port)};
    std::array<int, 3> channel{};
    for (int i = 0; i < 3; ++i) {
        channel[i] = honest[i].Channel();
        honest[i].Collect();
    }
    // The flooder writes 16 MiB of notes as fast as the relay takes them, on its own thread.
    std::thread flooder([port = relay.port] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            const QByteArray chunk = Wire(std::vector<std::uint32_t>(16384, 0x643C9F));
            for (int i = 0; i < 256; ++i)
                if (::send(fd, chunk.constData(), static_cast<std::size_t>(chunk.size()), MSG_NOSIGNAL) < 0) break;
        }
        ::close(fd);
    });
    // Meanwhile each honest player plays 100 notes, about one every 5 ms.
    std::vector<std::uint32_t> played[3];
    for (int n = 0; n < 100; ++n) {
        for (int i = 0; i < 3; ++i) {
            played[i].push_back(PackShortMessage(0x90 + channel[i], n, n % 2 ? 0 : 100));
            honest[i].Send(Wire({played[i].back()}));
        }
        QTest::qWait(5);
    }
    flooder.join();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            if (i == j) continue;
            SCOPED_TRACE(i * 3 + j);
            EXPECT_TRUE(QTest::qWaitFor([&] { return honest[i].From(channel[j]).size() >= 100; }, 5000));
            EXPECT_EQ(honest[i].From(channel[j]), played[j]);
        }
    const QString output = QString::fromLocal8Bit(relay.process.readAllStandardOutput());
    EXPECT_EQ(output.count(" dropped "), 1) << output.toStdString();
    EXPECT_TRUE(output.contains("it sent more than 2000 messages a second")) << output.toStdString();
}

TEST(Relay, AClientThatNeverReadsIsDroppedWithoutStallingTheOthers) {
    RelayServer relay;
    relay.SetLimits({.messagesPerSecond = 1e9, .burst = 1e9, .stallMs = 300});
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
    sockaddr_in addr{AF_INET, htons(relay.Port()), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::connect(sleeper, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.ClientCount() == 3; }, 5000));

    // 100 batches of 1000 note-ons and note-offs; the reader must get every byte.
    constexpr qint64 kBytes = 100000 * 4;
    qint64 received = 0;
    for (int i = 0; i < 100000; i += 1000) {
        QByteArray batch;
        for (int j = i; j < i + 1000; ++j)
            batch.append(EncodeLinkMessage(PackShortMessage(0x90, j % 128, j % 2 ? 0 : 100)).data(), 4);
        sender.Send(batch);
        QTest::qWait(1);
        received += reader.socket.readAll().size();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return (received += reader.socket.readAll().size()) >= kBytes; }, 10000));
    EXPECT_EQ(received, kBytes);
    EXPECT_TRUE(QTest::qWaitFor([&] { return relay.ClientCount() == 2; }, 5000));
    EXPECT_EQ(log.filter("dropped (channel 2): it stopped reading").size(), 1) << log.join('\n').toStdString();
    ::close(sleeper);
}
