#pragma once
// The relay that lets several pianos play together: each client gets a channel of its own (0 to
// 15 except the drum channel 9) in an FF message when it connects, and every message a client
// sends is passed on unchanged to all the others. A client that leaves has its sounding notes
// released at the others. Memory is bounded: a client whose unsent queue passes the bound (it
// stopped reading) is dropped. QtCore and QtNetwork only; runs on one thread.

#include "link/wire.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <memory>
#include <vector>

class QTcpSocket;

namespace kivra {

class RelayServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 15;                     // the channels 0..15 without 9
    static constexpr qint64 kDefaultMaxQueueBytes = 256 * 1024;  // about 4 s of 15 busy pianos

    explicit RelayServer(QObject* parent = nullptr);
    ~RelayServer() override;

    // False with ErrorString() when the port cannot be had. Port 0 picks a free one (Port()).
    bool Listen(const QHostAddress& address, quint16 port);
    QString ErrorString() const { return server_.errorString(); }
    QAbstractSocket::SocketError ServerError() const { return server_.serverError(); }
    quint16 Port() const { return server_.serverPort(); }

    int ClientCount() const { return static_cast<int>(clients_.size()); }
    // Bytes a client may have waiting to be sent to it before it is dropped.
    void SetMaxQueueBytes(qint64 bytes) { maxQueueBytes_ = bytes; }

signals:
    // One line per client joining, leaving, refused or dropped, for the console.
    void logLine(const QString& line);

private:
    struct Client;

    void OnNewConnection();
    void OnReadyRead(Client& client);
    void Refuse(QTcpSocket* socket);
    // Sends `bytes` to every client but `from`; clients whose queue passes the bound are dropped.
    void PassOn(const Client* from, const QByteArray& bytes);
    void Remove(Client& client, const QString& why);
    void DropOverfull();
    Client* Find(int id);
    int FreeChannel() const;

    QTcpServer server_;
    std::vector<std::unique_ptr<Client>> clients_;
    qint64 maxQueueBytes_ = kDefaultMaxQueueBytes;
    int nextId_ = 1;
    std::vector<std::uint32_t> messages_;
};

}  // namespace kivra
