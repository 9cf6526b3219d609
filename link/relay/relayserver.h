#pragma once
// The relay that lets several pianos play together: each client gets a channel of its own (0 to
// 15 except the drum channel 9) in an FF message when it connects, and every well-formed channel
// voice message a client sends is passed on unchanged to all the others, and so are the band's
// transport messages (Play and Stop shared by the pianos); anything else (other system messages,
// malformed bytes) is dropped and counted. With a room password a client joins only once its
// first messages are the password's hello (RelayHello); a client that sends anything else, or
// nothing within Limits::helloMs, is refused. A client that leaves has the notes it started
// and still holds released at the others, unless another client holds the same note.
//
// No client can take the others down: each may send at most Limits::messagesPerSecond (with a
// burst) and is cut when it sends more; a client is dropped as "not reading" only when its queue
// has made no progress for Limits::stallMs, however full others made it. Those two bound the
// memory: a queue holds at most what 14 senders may send in stallMs. At most
// Limits::perAddress clients come from one address. QtCore and QtNetwork only; one thread.

#include "link/wire.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;

namespace kivra {

class RelayServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 15;  // the channels 0..15 without 9

    struct Limits {
        double messagesPerSecond = 2000;  // some hundred times what a player makes
        double burst = 2500;              // the 2048 note-offs of a Music Maker stopping, at once
        int perAddress = 4;               // 0: no limit
        int stallMs = 10000;              // longer than a busy piano's worst pause
        int helloMs = 5000;               // a room password's hello comes within this time
    };
    // A refused address is logged again only after this time.
    static constexpr int kRefusalLogIntervalMs = 60000;

    explicit RelayServer(QObject* parent = nullptr);
    ~RelayServer() override;

    // False with ErrorString() when the port cannot be had. Port 0 picks a free one (Port()).
    bool Listen(const QHostAddress& address, quint16 port);
    QString ErrorString() const { return server_.errorString(); }
    QAbstractSocket::SocketError ServerError() const { return server_.serverError(); }
    quint16 Port() const { return server_.serverPort(); }

    int ClientCount() const { return static_cast<int>(clients_.size()); }
    // Applies to clients that join from now on.
    void SetLimits(const Limits& limits);
    const Limits& limits() const { return limits_; }
    // Applies to clients that connect from now on; empty: none, anyone may join.
    void SetPassword(const QString& password);

signals:
    // One line per client joining, leaving or dropped, and per refused address at most once a
    // minute, for the console.
    void logLine(const QString& line);

private:
    struct Client;
    struct Refusals {
        qint64 loggedAtMs = 0;
        int unlogged = 0;  // refused since the last line
    };

    void OnNewConnection();
    void OnReadyRead(Client& client);
    void Refuse(QTcpSocket* socket, const QString& address, const QString& why);
    void LogRefusal(const QString& address, const QString& why);
    // The client takes part from now on: it is told its channel.
    void Admit(Client& client, const QString& how);
    // Sends `bytes` to every client but `from`.
    void PassOn(const Client* from, const QByteArray& bytes);
    void Remove(Client& client, const QString& why);
    void DropStalled();
    Client* Find(int id);
    int FreeChannel() const;

    QTcpServer server_;
    QTimer stallCheck_;
    QElapsedTimer clock_;
    Limits limits_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::map<QString, Refusals> refusals_;  // by address
    std::optional<std::array<std::uint32_t, kHelloMessages>> hello_;  // the room password's
    int nextId_ = 1;
    std::vector<std::uint32_t> messages_;
};

}  // namespace kivra
