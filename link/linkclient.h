#pragma once
// The piano's side of the link: one TCP connection to a server that relays MIDI between pianos.
// While connected, the note entry points copy every message they send here (LinkPort), and every
// message the server sends is played on the local output through SendMIDIMessage; a server
// message starting FF sets the piano's channel g_lChannel. Runs on the UI thread only.
//
// What the server sends cannot stall the window or reach the output unchecked: received bytes are
// handled at most kBatchMessages per event-loop turn (the rest waits, bounded, in the socket), only
// well-formed channel voice messages are played, and no more than kPlayPerSecond of them (with a
// burst of kPlayBurst); the others are dropped and counted. Releasing a note the server started is
// never dropped, so no note is left sounding by the cap. The band's transport messages never reach
// the output: they are handed to transportReceived, whoever listens (the band) decides.

#include "link/wire.h"
#include "midi/midiio.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>
#include <utility>
#include <vector>

namespace kivra {

// "host" or "host:port" ("[v6 address]:port" too); the port is 766 when not given.
struct LinkAddress {
    QString host;
    quint16 port = kLinkPort;
};
struct ParsedLinkAddress {
    std::optional<LinkAddress> address;
    QString error;  // what is wrong, for the user, when address is empty
};
ParsedLinkAddress ParseLinkAddress(const QString& text);

class LinkClient : public QObject, public LinkPort {
    Q_OBJECT
public:
    enum class State { NotConnected, Connecting, Connected };

    // A connection attempt that gets no answer within this time fails.
    static constexpr int kConnectTimeoutMs = 5000;
    // A server that closes the link within this time, having sent nothing, refused us: it is full.
    static constexpr int kRefusedWithinMs = 2000;
    // Far above what players make (a chord of fifteen pianos is 150 messages), far below what
    // would keep the UI thread busy.
    static constexpr double kPlayPerSecond = 3000;
    static constexpr double kPlayBurst = 500;
    static constexpr int kBatchMessages = 256;

    // Messages from the server that were not played, since the link was last started.
    struct Dropped {
        std::int64_t malformed = 0;  // not a well-formed channel voice message
        std::int64_t overRate = 0;   // beyond the rate played
    };

    explicit LinkClient(QObject* parent = nullptr);
    ~LinkClient() override;

    State state() const { return state_; }

    // Starts connecting. An empty or malformed address, or an attempt that fails later (unknown
    // host, refused, no answer in time), emits failed() with what went wrong and ends in
    // NotConnected; so does a link that the server ends. Ignored unless NotConnected.
    void Connect(const QString& address);
    // Ends the link from any state: NotConnected, g_lChannel back to 0, the server's notes released.
    void Disconnect();

    // LinkPort: what the note entry points see.
    bool Connected() const override { return state_ == State::Connected; }
    // One write of 4 bytes per message, flushed at once: no batching, least delay.
    void SendMessage(std::uint32_t packed) override;

    // The channel the server assigned on this link; 0 while it assigned none.
    int Channel() const { return channel_; }
    // The room password sent first on every link from now on (a relay that requires one); empty: none.
    void SetPassword(const QString& password) { password_ = password; }

    QTcpSocket& sckMain() { return sckMain_; }
    // Changes the time an attempt may take (tests of the time-out).
    void SetConnectTimeout(int milliseconds) { connectTimer_.setInterval(milliseconds); }
    // Changes the rate played from the next connection on (tests of the cap).
    void SetPlayRate(double perSecond, double burst) { playLimit_ = {perSecond, burst}; }
    const Dropped& dropped() const { return dropped_; }

signals:
    void stateChanged(kivra::LinkClient::State state);
    void failed(const QString& reason);
    // A band transport message from the server, and when it arrived (steady clock, milliseconds).
    void transportReceived(quint32 message, double receivedMs);

private:
    void SetState(State state);
    void OnConnected();
    // Handles one batch of what has arrived; schedules the next turn when more waits.
    void HandleReceived();
    void OnError(QAbstractSocket::SocketError error);
    void OnTimeout();
    void Fail(const QString& reason);
    // Every way the link ends comes here: channel back to 0, no note of the server left sounding.
    void EndLink();
    void Play(std::uint32_t message, MessageRate::Clock::time_point now);

    QTcpSocket sckMain_;
    QTimer connectTimer_;
    QTimer nextBatch_;
    QElapsedTimer connectedFor_;
    bool heard_ = false;  // the server sent something on this link
    std::pair<double, double> playLimit_{kPlayPerSecond, kPlayBurst};
    MessageRate playRate_{kPlayPerSecond, kPlayBurst};
    Dropped dropped_;
    State state_ = State::NotConnected;
    LinkAddress target_;
    QString password_;
    int channel_ = 0;
    LinkDecoder decoder_;
    SoundingNotes serverNotes_;  // notes the server started and did not stop
    std::vector<std::uint32_t> received_;
};

}  // namespace kivra
