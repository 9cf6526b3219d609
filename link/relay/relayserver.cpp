#include "link/relay/relayserver.h"

#include <QTcpSocket>

#include <algorithm>

namespace kivra {

struct RelayServer::Client {
    QTcpSocket* socket = nullptr;  // owned through Qt parenting; deleted later when removed
    int id = 0;
    int channel = 0;
    QString peer;
    LinkDecoder decoder;
    SoundingNotes notes;  // started by this client and not stopped
    bool overfull = false;
};

namespace {
// The kernel's own buffer per client stays small, so a client that stops reading is seen soon.
constexpr int kSocketSendBuffer = 64 * 1024;
}  // namespace

RelayServer::RelayServer(QObject* parent) : QObject(parent), server_(this) {
    connect(&server_, &QTcpServer::newConnection, this, &RelayServer::OnNewConnection);
}

RelayServer::~RelayServer() {
    for (auto& client : clients_) {
        client->socket->disconnect(this);
        client->socket->abort();
    }
}

bool RelayServer::Listen(const QHostAddress& address, quint16 port) {
    // Each client has its own channel, so more pending connections than that serve nobody.
    server_.setMaxPendingConnections(kMaxClients + 1);
    return server_.listen(address, port);
}

RelayServer::Client* RelayServer::Find(int id) {
    auto it = std::find_if(clients_.begin(), clients_.end(), [id](const auto& c) { return c->id == id; });
    return it == clients_.end() ? nullptr : it->get();
}

int RelayServer::FreeChannel() const {
    for (int channel = 0; channel < 16; ++channel) {
        if (channel == 9) continue;  // the drum channel belongs to every piano's Drum Mode
        if (std::none_of(clients_.begin(), clients_.end(), [channel](const auto& c) { return c->channel == channel; }))
            return channel;
    }
    return -1;
}

void RelayServer::OnNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const int channel = FreeChannel();
        if (channel < 0) {
            Refuse(socket);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->id = nextId_++;
        client->channel = channel;
        client->peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketSendBuffer);
        Client& c = *client;
        clients_.push_back(std::move(client));
        // Looked up by id, never reused: a queued notification may outlive its socket.
        const int id = c.id;
        connect(socket, &QTcpSocket::readyRead, this, [this, id] {
            if (Client* found = Find(id)) OnReadyRead(*found);
        });
        // Queued, so that a write that finds the peer gone never removes a client mid-loop.
        connect(
            socket, &QTcpSocket::disconnected, this,
            [this, id] {
                if (Client* found = Find(id)) Remove(*found, QString());
                DropOverfull();
            },
            Qt::QueuedConnection);
        emit logLine(QStringLiteral("Client %1 joined from %2 on channel %3").arg(c.id).arg(c.peer).arg(c.channel));

        const auto assign = EncodeLinkMessage(ChannelAssignMessage(channel));
        socket->write(assign.data(), static_cast<qint64>(assign.size()));
        socket->flush();
    }
}

void RelayServer::Refuse(QTcpSocket* socket) {
    emit logLine(QStringLiteral("Refused a client from %1:%2: all %3 channels are taken")
                     .arg(socket->peerAddress().toString())
                     .arg(socket->peerPort())
                     .arg(kMaxClients));
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
}

void RelayServer::OnReadyRead(Client& client) {
    const QByteArray data = client.socket->readAll();
    messages_.clear();
    client.decoder.Feed(data.constData(), static_cast<std::size_t>(data.size()), messages_);
    if (messages_.empty()) return;
    QByteArray out;
    out.reserve(static_cast<qsizetype>(messages_.size() * kLinkMessageSize));
    for (auto message : messages_) {
        // Channel assignments are the server's word alone: a client cannot move the others.
        if ((message & 0xFFu) == kChannelAssignStatus) continue;
        client.notes.Track(message);
        const auto bytes = EncodeLinkMessage(message);
        out.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    if (!out.isEmpty()) PassOn(&client, out);
    DropOverfull();
}

void RelayServer::PassOn(const Client* from, const QByteArray& bytes) {
    for (auto& client : clients_) {
        if (client.get() == from || client->overfull) continue;
        client->socket->write(bytes);
        client->socket->flush();
        if (client->socket->bytesToWrite() > maxQueueBytes_) client->overfull = true;
    }
}

void RelayServer::DropOverfull() {
    // Removing one client releases its notes at the others, which may fill another queue: loop.
    for (;;) {
        auto it = std::find_if(clients_.begin(), clients_.end(), [](const auto& c) { return c->overfull; });
        if (it == clients_.end()) return;
        Remove(**it, QStringLiteral("it stopped reading"));
    }
}

void RelayServer::Remove(Client& client, const QString& why) {
    auto it = std::find_if(clients_.begin(), clients_.end(), [&client](const auto& c) { return c.get() == &client; });
    if (it == clients_.end()) return;
    std::unique_ptr<Client> gone = std::move(*it);
    clients_.erase(it);

    gone->socket->disconnect(this);
    gone->socket->abort();
    gone->socket->deleteLater();
    emit logLine(why.isEmpty() ? QStringLiteral("Client %1 left (channel %2)").arg(gone->id).arg(gone->channel)
                               : QStringLiteral("Client %1 dropped (channel %2): %3").arg(gone->id).arg(gone->channel).arg(why));

    const auto releases = gone->notes.TakeReleases();
    if (releases.empty()) return;
    QByteArray out;
    for (auto off : releases) {
        const auto bytes = EncodeLinkMessage(off);
        out.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    PassOn(nullptr, out);
}

}  // namespace kivra
