// The link: wire decoding, the link window against a real server on loopback, and the relay.
#include "link/frmlink.h"
#include "link/relay/relayserver.h"
#include "musicmaker/frmmusicmaker.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QtEndian>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

using namespace kivra;

namespace {

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

// A blocking client socket for what Qt's would hide: a small receive window, a thread of its own.
int RawClient(quint16 port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    return ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? fd : (::close(fd), -1);
}

// The window and a server socket on loopback.
struct Session {
    MusicMaker& musicMaker = TheMusicMaker();  // made first: the fake recorder below stays the routing's
    test::FakeMidi midi;
    test::ScriptedDialogs dialogs;
    test::FakePiano piano;  // server messages must light no key
    test::FakeRecorder recorder;
    QTcpServer server;
    std::unique_ptr<frmLink> window = std::make_unique<frmLink>();
    QTcpSocket* peer = nullptr;

    Session() { server.listen(QHostAddress::LocalHost, 0); }
    // Connects through the Connect button to `address`, by default our own server (`peer` is its end).
    void Connect(QString address = {}) {
        const bool own = address.isEmpty();
        dialogs.inputs.push_back(own ? Loopback(server.serverPort()) : address);
        QTest::mouseClick(window->cmdConnect, Qt::LeftButton);
        EXPECT_EQ(dialogs.shown.back().text, "Please enter the server address:");
        EXPECT_TRUE(window->cmdConnect->text() == "Connecting..." && !window->cmdConnect->isEnabled());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->cmdConnect->text() == "Disconnect"; }, 5000));
        EXPECT_TRUE(window->cmdConnect->isEnabled());
        if (!own) return;
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
        peer = server.nextPendingConnection();
    }
    void Send(const QByteArray& bytes) { peer->write(bytes), peer->flush(); }
    // Waits until the fake output has received `count` messages in all.
    bool WaitSent(std::size_t count) { return QTest::qWaitFor([&] { return midi.out->sent.size() >= count; }, 5000); }
};

// A raw client of the relay, from `from` (a loopback address): reads its channel first.
struct RelayPeer {
    QTcpSocket socket;
    explicit RelayPeer(quint16 port, const char* from = "127.0.0.1") {
        socket.bind(QHostAddress(QString::fromLatin1(from)));
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    int Channel() {  // -1 unless the first message assigns one
        const auto b = ReadBytes(socket, 4);
        return b.size() == 4 && static_cast<uchar>(b[0]) == 0xFF ? static_cast<uchar>(b[1]) : -1;
    }
    void Send(const QByteArray& bytes) { socket.write(bytes), socket.flush(); }
};

// The relay in this process on loopback, with its log.
struct LoggedRelay : RelayServer {
    QStringList log;
    explicit LoggedRelay(const Limits& limits = {}, const QString& password = {}) {
        SetLimits(limits), SetPassword(password);
        QObject::connect(this, &RelayServer::logLine, [this](const QString& line) { log << line; });
        EXPECT_TRUE(Listen(QHostAddress::LocalHost, 0));
    }
};

// The relay program; `port` is 0 unless it said where it listens.
struct RelayProcess {
    QProcess process;
    quint16 port = 0;
    explicit RelayProcess(QStringList options = {}) {
        process.start(QStringLiteral(KIVRA_RELAY_PATH), options << QStringLiteral("--port") << QStringLiteral("0"));
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)) return;
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (line.startsWith("kivra-relay listening on port ")) port = line.section(' ', -1).toUShort();
    }
    ~RelayProcess() { process.terminate(), process.waitForFinished(5000); }
    QString Output() { return QString::fromLocal8Bit(process.readAllStandardOutput()); }
};

}  // namespace

TEST(LinkWire, OnlyWellFormedChannelVoiceMessagesPass) {
    for (std::uint32_t m : {0x643C90u, 0x403E81u, 0x7F07B5u, 0x0005C2u, 0x0040D3u, 0x7F7FE0u})
        EXPECT_TRUE(IsChannelVoiceMessage(m)) << std::hex << m;
    for (std::uint32_t m : {0x0105C2u, 0x0100D3u, 0x01643C90u, 0x803C90u, 0x64BC90u, 0x007E7FF0u, 0x0000F8u, 0x0000FFu,
                            0x00643Cu})
        EXPECT_FALSE(IsChannelVoiceMessage(m)) << std::hex << m;
}

TEST(LinkAddress, HostAloneTakesPort766AndBadPortsAreRefused) {
    // Each text and the host and port it names; none when it is refused with a reason.
    for (auto [text, named] : {std::pair{" piano.example ", "piano.example 766"}, {"127.0.0.1:7000", "127.0.0.1 7000"},
                               {"[::1]:800", "::1 800"}, {"::1", "::1 766"}, {"", ""}, {"   ", ""}, {"host:", ""},
                               {"host:0", ""}, {"host:70000", ""}, {"host:x", ""}, {":766", ""}, {"[::1", ""}}) {
        const auto a = ParseLinkAddress(text);
        EXPECT_EQ(a.address ? QStringLiteral("%1 %2").arg(a.address->host).arg(a.address->port) : "", named) << text;
        EXPECT_EQ(a.error.isEmpty(), a.address.has_value()) << text;
    }
}

TEST(LinkWindow, TakesItsChannelSoundsServerMessagesUnlitAndSendsWhatItPlays) {
    Session s;
    PlayNote(60, 100, PlayChannel()), StopNote(60, PlayChannel());  // not connected: only to the local output
    s.window->link().SetPlayRate(0, 5);  // no more than five played, but every held note may end
    s.Connect();
    EXPECT_EQ(s.peer->bytesAvailable(), 0);  // nothing is sent on connecting, not even the earlier notes
    s.midi.ClearSent(), s.piano.keys.clear();
    s.recorder.record = true;  // and record nothing
    // At once: channel 3, channel 16 (no MIDI channel: ignored), a pitch bend, and what no output
    // may get: SysEx start, clock, velocity above 127, a data byte as status, stray unused bytes.
    s.Send(Wire({0x0003FF, 0x0010FF, 0x004000E1, 0x007E7FF0, 0x0000F8, 0x803C90, 0x00643C, 0x0105C2, 0x01643C90}));
    ASSERT_TRUE(s.WaitSent(1));
    // Three messages arriving as 1, 2, 3 and 6 bytes.
    const auto split = Wire({0x643C90, 0x0005C2, 0x003C90});
    for (auto [from, size] : {std::pair{0, 1}, {1, 2}, {3, 3}, {6, 6}}) s.Send(split.mid(from, size)), QTest::qWait(30);
    ASSERT_TRUE(s.WaitSent(4));
    // A flood: two more are played, the rest dropped, and the held note still ends.
    s.Send(Wire({0x643D90, 0x4000E0, 0x4000E0, 0x4000E0, 0x003D90}));
    ASSERT_TRUE(s.WaitSent(7));
    QTest::qWait(20);
    EXPECT_EQ(g_lChannel, 3);
    EXPECT_EQ(s.midi.SentHex(), "E1 00 40 90 3C 64 C2 05 90 3C 00 90 3D 64 E0 00 40 90 3D 00");
    EXPECT_EQ(s.window->link().dropped().malformed, 6);
    EXPECT_EQ(s.window->link().dropped().overRate, 2);
    EXPECT_TRUE(s.piano.keys.empty() && s.recorder.recorded.empty());
    EXPECT_EQ(s.peer->bytesAvailable(), 0);  // nothing goes back to the server

    s.recorder.record = false;
    PlayNote(60, 100, PlayChannel()), StopNote(60, PlayChannel());
    SendPitchBend(8192, PlayChannel()), SetPatch(24, PlayChannel());
    EXPECT_EQ(Hex(ReadBytes(*s.peer, 16)), "93 3C 64 00 93 3C 00 00 E3 00 40 00 C3 18 00 00");
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
        // Only the server's close is told, once the link has stood.
        EXPECT_EQ(s.dialogs.shown.back().text,
                  way == ServerCloses ? "The server closed the connection." : "Please enter the server address:");
        EXPECT_TRUE(s.window ? s.window->cmdConnect->text() == "Connect" && s.window->cmdConnect->isEnabled() &&
                                   !s.window->link().Connected()
                             : GetLinkPort() == nullptr);
        // The server sees the connection end.
        EXPECT_TRUE(QTest::qWaitFor([&] { return s.peer->state() != QAbstractSocket::ConnectedState; }, 5000));
    }
}

TEST(LinkWindow, FailedConnectionsSayWhatFailedAndReturnToConnect) {
    Session s;
    s.window->link().SetConnectTimeout(500);
    const quint16 refused = s.server.serverPort();  // refused: a port nothing listens on any more
    s.server.close();
    // No answer: a listener that never accepts, its backlog full, drops further connection requests.
    QTcpServer full;
    full.setListenBacklogSize(0);
    ASSERT_TRUE(full.listen(QHostAddress::LocalHost, 0));
    full.pauseAccepting();
    QTcpSocket fillers[3];
    for (auto& filler : fillers) filler.connectToHost(QHostAddress::LocalHost, full.serverPort());
    QTest::qWait(100);
    // Closes every connection at once, saying nothing, as a full relay does.
    QTcpServer full15;
    ASSERT_TRUE(full15.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&full15, &QTcpServer::newConnection, [&] { full15.nextPendingConnection()->close(); });

    // Each answer to the input box and the message it brings; cancelled, nothing follows the question.
    const struct { bool answered; QString input, message; } cases[] = {
        {false, {}, "Please enter the server address:"},
        {true, Loopback(refused), QStringLiteral("The server at 127.0.0.1:%1 refused the connection.").arg(refused)},
        {true, QString(), "No server address was entered."},
        {true, Loopback(full.serverPort()),
         QStringLiteral("The server at 127.0.0.1:%1 did not answer within 500 milliseconds.").arg(full.serverPort())},
        {true, Loopback(full15.serverPort()), "The server is full."},
    };
    for (const auto& [answered, input, message] : cases) {
        SCOPED_TRACE(message.toStdString());
        const auto shown = s.dialogs.shown.size() + (answered ? 2 : 1);
        if (answered) s.dialogs.inputs.push_back(input);
        QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return s.dialogs.shown.size() == shown; }, 5000));
        EXPECT_EQ(s.dialogs.shown.back().title + ": " + s.dialogs.shown.back().text, "ZuduvIvev: " + message);
        EXPECT_TRUE(s.window->cmdConnect->text() == "Connect" && s.window->cmdConnect->isEnabled());
    }
}

TEST(Relay, OptionsAreCheckedAndDocumented) {
    // Each command line and its exit status; the help names every option.
    for (auto [options, status] : {std::pair{QStringList{"--help"}, 0}, {{"--port", "70000"}, 2},
                                   {{"--listen", "piano"}, 2}, {{"--max-per-address", "-1"}, 2},
                                   {{"--password-file", "/nonexistent"}, 2}, {{"--password-file", "/dev/null"}, 2}}) {
        QProcess relay;
        relay.start(QStringLiteral(KIVRA_RELAY_PATH), options);
        EXPECT_TRUE(relay.waitForFinished(5000) && relay.exitCode() == status) << options.join(' ').toStdString();
        const QString text = QString::fromLocal8Bit(relay.readAllStandardOutput());
        for (const char* named : {"--port", "766", "--listen", "--max-per-address", "--password-file", "KIVRA_RELAY_PASSWORD"})
            EXPECT_TRUE(status != 0 || text.contains(named)) << text.toStdString();
    }
}

TEST(Relay, PianoAndPeersPlayTogetherThroughTheRelayProgram) {
    RelayProcess relay({QStringLiteral("--listen"), QStringLiteral("127.0.0.1")});
    ASSERT_NE(relay.port, 0);
    Session s;  // its own server stays unused
    s.Connect(Loopback(relay.port));  // the first piano gets channel 0
    RelayPeer a(relay.port), b(relay.port);
    EXPECT_EQ(std::pair(a.Channel(), b.Channel()), std::pair(1, 2));

    // A peer plays two notes and stops one, amid a channel assignment, a system reset, SysEx, a
    // data byte as status and the band's start and stop: the other peer hears the notes and the
    // transport, the piano (no Band Play) the notes only, the sender nothing.
    s.midi.ClearSent();
    a.Send(Wire({0x644091, 0x0005FF, 0x0000FF, 0x007E7FF0, 0x644191, BandStartMessage(120, 1), 0x00643C, 0x004191,
                 kBandStopStatus}));
    EXPECT_EQ(Hex(ReadBytes(b.socket, 20)), "91 40 64 00 91 41 64 00 FA 78 02 00 91 41 00 00 FC 00 00 00");
    ASSERT_TRUE(s.WaitSent(3));
    EXPECT_EQ(g_lChannel, 0);
    EXPECT_FALSE(s.musicMaker.PlayChecked());

    // The other peer holds the same note 91 40 and one of its own: when the first leaves, 91 40
    // sounds on for the second; when the second leaves, both end.
    b.Send(Wire({0x644091, 0x645092}));
    ASSERT_TRUE(s.WaitSent(5));
    a.socket.close();
    QTest::qWait(100);
    b.socket.close();
    ASSERT_TRUE(s.WaitSent(7));
    QTest::qWait(20);
    EXPECT_EQ(s.midi.SentHex(), "91 40 64 91 41 64 91 41 00 91 40 64 92 50 64 91 40 00 92 50 00");
    const QString output = relay.Output();
    EXPECT_TRUE(output.contains("left (channel 1); 4 messages from it were not passed on")) << output.toStdString();
}

TEST(Relay, RefusesBeyondItsLimitsLoggingOncePerAddressAndDropsAClientThatTakesNothing) {
    LoggedRelay relay({.messagesPerSecond = 1e9, .burst = 1e9, .perAddress = 2, .stallMs = 300});
    const auto refused = [&](const char* from) {
        RelayPeer extra(relay.Port(), from);
        EXPECT_TRUE(QTest::qWaitFor([&] { return extra.socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
        EXPECT_EQ(extra.socket.bytesAvailable(), 0);
    };
    // From 127.0.0.1 a sleeper (a small receive window, never read) and a sender; a third is
    // refused, twice. Then two from each of 127.0.0.2 to 127.0.0.8 but the last: fifteen in all,
    // and one more from 127.0.0.8 is refused as every channel is taken.
    const int sleeper = RawClient(relay.Port(), 4096);
    RelayPeer sender(relay.Port());
    ASSERT_EQ(sender.Channel(), 1);
    for (int twice = 0; twice < 2; ++twice) refused("127.0.0.1");
    std::vector<std::unique_ptr<RelayPeer>> readers;
    for (int i = 4; i < 17; ++i) {
        const QByteArray from = QStringLiteral("127.0.0.%1").arg(i / 2).toLatin1();
        EXPECT_NE(readers.emplace_back(std::make_unique<RelayPeer>(relay.Port(), from.constData()))->Channel(), -1);
    }
    refused("127.0.0.8");
    EXPECT_EQ(relay.ClientCount(), 15);

    // 100,000 notes, far more than the sleeper's buffers hold: it goes, every reader gets them all.
    for (int i = 0; i < 100; ++i, QTest::qWait(1)) sender.Send(Wire(std::vector<std::uint32_t>(1000, 0x643C90)));
    for (auto& reader : readers)
        EXPECT_TRUE(QTest::qWaitFor([&] { return reader->socket.bytesAvailable() >= 400000; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return relay.ClientCount() == 14; }, 5000));
    EXPECT_EQ(relay.log.filter(QRegularExpression("^Refused| dropped ")).join('\n').toStdString(),
              "Refused a client from 127.0.0.1: 2 clients are already connected from there\n"
              "Refused a client from 127.0.0.8: all 15 channels are taken\n"
              "Client 1 dropped (channel 0): it stopped reading (nothing taken for 0.3 s)");
    ::close(sleeper);
}

TEST(Relay, AFlooderIsCutWhileHonestPlayersGetEveryMessage) {
    RelayProcess relay;
    ASSERT_NE(relay.port, 0);
    RelayPeer honest[3]{RelayPeer(relay.port), RelayPeer(relay.port), RelayPeer(relay.port)};
    const int channel[3] = {honest[0].Channel(), honest[1].Channel(), honest[2].Channel()};
    // The flooder writes 16 MiB of notes as fast as the relay takes them, on its own thread.
    std::thread flooder([fd = RawClient(relay.port), chunk = Wire(std::vector<std::uint32_t>(16384, 0x643C9F))] {
        for (int i = 0; i < 256 && ::send(fd, chunk.constData(), 65536, MSG_NOSIGNAL) > 0;) ++i;
        ::close(fd);
    });
    // Meanwhile each honest player plays 100 notes, about one every 5 ms.
    std::vector<std::uint32_t> played[3], heard[3][3];
    for (int n = 0; n < 100; ++n, QTest::qWait(5))
        for (int i = 0; i < 3; ++i)
            honest[i].Send(Wire({played[i].emplace_back(PackShortMessage(0x90 + channel[i], n, n % 2 ? 0 : 100))}));
    flooder.join();
    for (int i = 0; i < 3; ++i) {
        QByteArray bytes;  // until the others' last notes came
        const auto last = [&](int j) { return i == j || bytes.contains(Wire({played[j].back()})); };
        (void)QTest::qWaitFor([&] { return (bytes += honest[i].socket.readAll(), last(0) && last(1) && last(2)); },
                              5000);
        for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
            for (const auto m = qFromLittleEndian<quint32>(bytes.constData() + at); int j : {0, 1, 2})
                if (static_cast<int>(m & 0x0F) == channel[j]) heard[i][j].push_back(m);
        for (int j = 0; j < 3; ++j) EXPECT_EQ(heard[i][j], i == j ? std::vector<std::uint32_t>{} : played[j]) << i << j;
    }
    const QString output = relay.Output();
    EXPECT_TRUE(output.count(" dropped ") == 1 && output.contains("it sent more than 2000 messages a second"))
        << output.toStdString();
}

TEST(Relay, ARoomPasswordAdmitsThePianosThatSendItAndRefusesTheOthers) {
    LoggedRelay relay({.helloMs = 300}, "stage door");
    // The password typed in the window, what the piano shows and the relay's line.
    const struct { QString typed, shown, line; } cases[] = {
        {"stage door", "Disconnect", "Client 1 joined from 127.0.0.1:%1 on channel 0 (room password accepted)"},
        {"stage", "The server refused the room password, or is full.",
         "Refused a client from 127.0.0.1: wrong room password"},
    };
    for (const auto& [typed, shown, line] : cases) {
        Session s;
        QTest::keyClicks(s.window->txtPassword, typed);
        s.dialogs.inputs.push_back(Loopback(relay.Port()));
        QTest::mouseClick(s.window->cmdConnect, Qt::LeftButton);
        const auto logged = [&] { return QString(line).replace("%1", QString::number(s.window->sckMain().localPort())); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return relay.log.contains(logged()); }, 5000)) << relay.log.join('\n').toStdString();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return s.window->cmdConnect->text() == shown || s.dialogs.shown.back().text == shown; }, 5000));
    }
    // An old piano sends nothing: it is told nothing, and refused.
    RelayPeer old(relay.Port(), "127.0.0.2");
    EXPECT_TRUE(QTest::qWaitFor([&] { return old.socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(old.socket.bytesAvailable() == 0 && relay.log.contains("Refused a client from 127.0.0.2: no room password within 0.3 s"));
}

TEST(Band, PlayAndStopOnOnePianoStartAndStopTheBandOnTheCountIn) {
    LoggedRelay relay;
    RelayPeer other(relay.Port());  // channel 0: stands for a piano whose Play is pressed by hand
    ASSERT_EQ(other.Channel(), 0);
    Session a;  // channel 1, its window and Music Maker
    a.Connect(Loopback(relay.Port()));
    frmMusicMaker maker;
    NewSong();
    SetTempo(240);  // a bar is 1 s, a step 62 ms
    RecordNote(60);
    for (int i = 0; i < 40; ++i) InsertSpace();
    LinkClient b;  // channel 2, a piano whose Music Maker is the record of what it was asked
    Band bandB(b);
    std::vector<SharedStart> startsB;
    int stopsB = 0;
    QObject::connect(&bandB, &Band::startRequested, [&](const SharedStart& start) { startsB.push_back(start); });
    QObject::connect(&bandB, &Band::stopRequested, [&] { ++stopsB; });
    b.Connect(Loopback(relay.Port()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.Channel() == 2; }, 5000));
    bandB.SetEnabled(true);
    QTest::mouseClick(a.window->chkBand, Qt::LeftButton);
    double firstDueA = 0;
    a.musicMaker.SetStepObserver([&](long long step, double due, double) { firstDueA = step == 1 ? due : firstDueA; });
    const auto played = [&] { return a.midi.SentHex().find("91 3C 64") != std::string::npos; };
    QByteArray heard;  // what the other piano got since the last look
    const auto hears = [&](const QByteArray& bytes) {
        return QTest::qWaitFor([&] { return (heard += other.socket.readAll()).contains(bytes); }, 5000);
    };
    QCheckBox* chkPlay = maker.findChild<QCheckBox*>("chkPlay");

    // Play here: the others are told at once, and all start one bar later, together.
    a.midi.ClearSent();
    const double pressedMs = StepSender::NowMs();
    chkPlay->click();
    EXPECT_TRUE(hears(Wire({BandStartMessage(240, 1)})));
    ASSERT_TRUE(QTest::qWaitFor([&] { return startsB.size() == 1; }, 5000));
    EXPECT_FALSE(played());  // the count-in
    // The sending thread plays the step; the UI thread hears of it after.
    ASSERT_TRUE(QTest::qWaitFor([&] { return played() && firstDueA > 0; }, 5000));
    const double startA = firstDueA - a.musicMaker.RunningInterval();
    EXPECT_NEAR(startA, pressedMs + 1000, 20);
    EXPECT_NEAR(startsB[0].atMs, startA, 100);
    EXPECT_EQ(std::pair(startsB[0].tempo, startsB[0].channel), std::pair(240, 2));
    // Stop here stops them all.
    chkPlay->click();
    EXPECT_TRUE(hears(Wire({kBandStopStatus})));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stopsB == 1; }, 5000));

    // Play pressed there at 200 BPM: this piano starts after the count-in, its song on its own
    // channel at that tempo; the piano without Band Play ignores it, and no output hears the transport.
    bandB.SetEnabled(false);
    a.midi.ClearSent(), heard.clear();
    other.Send(Wire({BandStartMessage(200, 0)}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return chkPlay->isChecked(); }, 5000));
    QTest::qWait(1100);  // a bar at 200 BPM is 1.2 s
    EXPECT_FALSE(played());
    ASSERT_TRUE(QTest::qWaitFor(played, 5000));
    EXPECT_TRUE(std::none_of(a.midi.out->sent.begin(), a.midi.out->sent.end(), [](auto m) { return (m & 0xF0) == 0xF0; }));
    EXPECT_EQ(a.musicMaker.RunningInterval(), PlayInterval(4, 200));
    EXPECT_TRUE(hears(Wire({0x643C91})));
    EXPECT_TRUE(startsB.size() == 1 && stopsB == 1);
    // Leaving mid-song: the relay releases the note it left sounding.
    heard.clear();
    QTest::mouseClick(a.window->cmdConnect, Qt::LeftButton);
    EXPECT_TRUE(hears(Wire({0x003C91})));
    a.musicMaker.SetStepObserver({}), a.musicMaker.SetPlay(false);
}
