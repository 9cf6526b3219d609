#pragma once
// The piano's side of the link: one TCP connection to a server that relays MIDI between pianos.
// While connected, the note entry points copy every message they send here (LinkPort), and every
// message the server sends is played on the local output through SendMIDIMessage; a server
// message starting FF sets the piano's channel g_lChannel. Runs on the UI thread only.

#include "link/wire.h"
#include "midi/midiio.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>
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

    explicit LinkClient(QObject* parent = nullptr);
    ~LinkClient() override;

    State state() const { return state_; }

    // Starts connecting. An empty or malformed address, or an attempt that fails later (unknown
    // host, refused, no answer in time), emits failed() with what went wrong and ends in
    // NotConnected. Ignored unless NotConnected.
    void Connect(const QString& address);
    // Ends the link from any state: NotConnected, g_lChannel back to 0, the server's notes released.
    void Disconnect();

    // LinkPort: what the note entry points see.
    bool Connected() const override { return state_ == State::Connected; }
    // One write of 4 bytes per message, flushed at once: no batching, least delay.
    void SendMessage(std::uint32_t packed) override;

    QTcpSocket& sckMain() { return sckMain_; }
    // Changes the time an attempt may take (tests of the time-out).
    void SetConnectTimeout(int milliseconds) { connectTimer_.setInterval(milliseconds); }

signals:
    void stateChanged(kivra::LinkClient::State state);
    void failed(const QString& reason);

private:
    void SetState(State state);
    void OnConnected();
    void OnReadyRead();
    void OnError(QAbstractSocket::SocketError error);
    void OnTimeout();
    void Fail(const QString& reason);
    // Every way the link ends comes here: channel back to 0, no note of the server left sounding.
    void EndLink();
    void Play(std::uint32_t message);

    QTcpSocket sckMain_;
    QTimer connectTimer_;
    State state_ = State::NotConnected;
    LinkAddress target_;
    LinkDecoder decoder_;
    SoundingNotes serverNotes_;  // notes the server started and did not stop
    std::vector<std::uint32_t> received_;
};

}  // namespace kivra
