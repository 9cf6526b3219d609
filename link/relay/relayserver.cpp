#include "link/relay/relayserver.h"

#include "link/hello.h"

#include <QTcpSocket>

#include <algorithm>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace kivra {

struct RelayServer::Client {
    QTcpSocket* socket = nullptr;  // owned through Qt parenting; deleted later when removed
    int id = 0;
    int channel = 0;
    QString address;  // the remote address alone, IPv4 without its IPv6 form
    QString peer;     // address and port, for the log
    LinkDecoder decoder;
    SoundingNotes notes;  // started by this client and not stopped
    MessageRate rate{0, 0};  // set on joining, from the limits then in force
    qint64 progressAtMs = 0;  // when its queue last moved, or last started filling
    qint64 dropped = 0;       // messages that were no channel voice message
    bool admitted = true;     // false until the room password's hello has come
    std::size_t helloHeard = 0;
    qint64 connectedAtMs = 0;
};

namespace {
// The kernel's own buffer per client stays small, so a client that stops reading is seen soon;
// what the relay reads from one client at a time is bounded the same way.
constexpr int kSocketSendBuffer = 64 * 1024;
constexpr qint64 kReadBuffer = 64 * 1024;

// A dead peer (cable pulled, machine gone) is noticed after about two minutes of silence
// instead of the system's two hours.
void KeepAlive(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef TCP_KEEPIDLE
    const int fd = static_cast<int>(socket.socketDescriptor());
    const int idle = 60, interval = 10, count = 6;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

QString AddressOf(const QTcpSocket& socket) {
    const QHostAddress address = socket.peerAddress();
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip4).toString() : address.toString();
}
}  // namespace

RelayServer::RelayServer(QObject* parent) : QObject(parent), server_(this), stallCheck_(this) {
    clock_.start();
    connect(&server_, &QTcpServer::newConnection, this, &RelayServer::OnNewConnection);
    connect(&stallCheck_, &QTimer::timeout, this, &RelayServer::DropStalled);
    SetLimits(limits_);
}

RelayServer::~RelayServer() {
    for (auto& client : clients_) {
        client->socket->disconnect(this);
        client->socket->abort();
    }
}

void RelayServer::SetLimits(const Limits& limits) {
    limits_ = limits;
    stallCheck_.start(std::clamp(std::min(limits_.stallMs, limits_.helloMs) / 4, 10, 1000));
}

void RelayServer::SetPassword(const QString& password) {
    hello_.reset();
    if (!password.isEmpty()) hello_ = RelayHello(password);
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
        const QString address = AddressOf(*socket);
        const int channel = FreeChannel();
        if (channel < 0) {
            Refuse(socket, address, QStringLiteral("all %1 channels are taken").arg(kMaxClients));
            continue;
        }
        const auto fromThere = std::count_if(clients_.begin(), clients_.end(), [&](const auto& c) { return c->address == address; });
        if (limits_.perAddress > 0 && fromThere >= limits_.perAddress) {
            Refuse(socket, address, QStringLiteral("%1 clients are already connected from there").arg(fromThere));
            continue;
        }
        auto client = std::make_unique<Client>();
        client->rate = MessageRate(limits_.messagesPerSecond, limits_.burst);
        client->socket = socket;
        client->id = nextId_++;
        client->channel = channel;
        client->address = address;
        client->peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketSendBuffer);
        socket->setReadBufferSize(kReadBuffer);
        KeepAlive(*socket);
        Client& c = *client;
        clients_.push_back(std::move(client));
        // Looked up by id, never reused: a queued notification may outlive its socket.
        const int id = c.id;
        connect(socket, &QTcpSocket::readyRead, this, [this, id] {
            if (Client* found = Find(id)) OnReadyRead(*found);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] {
            if (Client* found = Find(id)) found->progressAtMs = clock_.elapsed();
        });
        // Queued, so that a write that finds the peer gone never removes a client mid-loop.
        connect(
            socket, &QTcpSocket::disconnected, this,
            [this, id] {
                if (Client* found = Find(id)) Remove(*found, QString());
            },
            Qt::QueuedConnection);
        c.connectedAtMs = clock_.elapsed();
        c.admitted = !hello_;
        if (c.admitted) Admit(c, QString());
    }
}

void RelayServer::Admit(Client& client, const QString& how) {
    client.admitted = true;
    emit logLine(QStringLiteral("Client %1 joined from %2 on channel %3%4").arg(client.id).arg(client.peer).arg(client.channel).arg(how));
    const auto assign = EncodeLinkMessage(ChannelAssignMessage(client.channel));
    client.socket->write(assign.data(), static_cast<qint64>(assign.size()));
    client.socket->flush();
}

void RelayServer::Refuse(QTcpSocket* socket, const QString& address, const QString& why) {
    LogRefusal(address, why);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
}

void RelayServer::LogRefusal(const QString& address, const QString& why) {
    // Someone opening connections in a loop must not fill the log: one line per address a minute,
    // counting the refusals it did not write.
    const qint64 now = clock_.elapsed();
    auto it = refusals_.find(address);
    if (it != refusals_.end() && now - it->second.loggedAtMs < kRefusalLogIntervalMs) {
        ++it->second.unlogged;
    } else {
        const int unlogged = it != refusals_.end() ? it->second.unlogged : 0;
        emit logLine(QStringLiteral("Refused a client from %1: %2").arg(address, why) +
                     (unlogged > 0 ? QStringLiteral(" (and %1 more since the last line)").arg(unlogged) : QString()));
        refusals_[address] = {now, 0};
    }
    // Bounded: addresses whose minute has passed are forgotten, with their count once there are many.
    std::erase_if(refusals_, [now, many = refusals_.size() > 4096](const auto& entry) {
        return now - entry.second.loggedAtMs >= kRefusalLogIntervalMs && (many || entry.second.unlogged == 0);
    });
}

void RelayServer::OnReadyRead(Client& client) {
    const QByteArray data = client.socket->readAll();
    messages_.clear();
    client.decoder.Feed(data.constData(), static_cast<std::size_t>(data.size()), messages_);
    if (messages_.empty()) return;
    QByteArray out;
    out.reserve(static_cast<qsizetype>(messages_.size() * kLinkMessageSize));
    const auto now = MessageRate::Clock::now();
    bool flooding = false;
    for (auto message : messages_) {
        if (!client.rate.Take(now)) {
            flooding = true;
            break;
        }
        if (!client.admitted) {
            if (message != (*hello_)[client.helloHeard]) return Remove(client, QStringLiteral("wrong room password"));
            if (++client.helloHeard == hello_->size()) Admit(client, QStringLiteral(" (room password accepted)"));
            continue;
        }
        // Channel assignments are the server's word alone, and other system messages or stray
        // bytes could reset or lock another player's instrument; the band's transport only
        // starts and stops a Music Maker, and no piano sends it to an output.
        if (IsBandTransportMessage(message)) {
            const auto bytes = EncodeLinkMessage(message);
            out.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
            continue;
        }
        if (!IsChannelVoiceMessage(message)) {
            ++client.dropped;
            continue;
        }
        client.notes.Track(message);
        const auto bytes = EncodeLinkMessage(message);
        out.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    if (!out.isEmpty()) PassOn(&client, out);
    if (flooding)
        Remove(client, QStringLiteral("it sent more than %1 messages a second").arg(limits_.messagesPerSecond));
}

void RelayServer::PassOn(const Client* from, const QByteArray& bytes) {
    const qint64 now = clock_.elapsed();
    for (auto& client : clients_) {
        if (client.get() == from) continue;
        // The time without progress counts from when there is something to take.
        if (client->socket->bytesToWrite() == 0) client->progressAtMs = now;
        client->socket->write(bytes);
        client->socket->flush();
    }
}

void RelayServer::DropStalled() {
    // Removing one client releases its notes at the others: look each one up again.
    const qint64 now = clock_.elapsed();
    std::vector<int> stalled;
    std::vector<int> silent;
    for (const auto& c : clients_) {
        if (c->socket->bytesToWrite() > 0 && now - c->progressAtMs > limits_.stallMs) stalled.push_back(c->id);
        if (!c->admitted && now - c->connectedAtMs > limits_.helloMs) silent.push_back(c->id);
    }
    for (int id : stalled)
        if (Client* c = Find(id))
            Remove(*c, QStringLiteral("it stopped reading (nothing taken for %1 s)").arg(limits_.stallMs / 1000.0));
    for (int id : silent)
        if (Client* c = Find(id))
            Remove(*c, QStringLiteral("no room password within %1 s").arg(limits_.helloMs / 1000.0));
}

void RelayServer::Remove(Client& client, const QString& why) {
    auto it = std::find_if(clients_.begin(), clients_.end(), [&client](const auto& c) { return c.get() == &client; });
    if (it == clients_.end()) return;
    std::unique_ptr<Client> gone = std::move(*it);
    clients_.erase(it);

    gone->socket->disconnect(this);
    gone->socket->abort();
    gone->socket->deleteLater();
    if (!gone->admitted) return LogRefusal(gone->address, why.isEmpty() ? QStringLiteral("it left before its room password") : why);
    QString line = why.isEmpty() ? QStringLiteral("Client %1 left (channel %2)").arg(gone->id).arg(gone->channel)
                                 : QStringLiteral("Client %1 dropped (channel %2): %3").arg(gone->id).arg(gone->channel).arg(why);
    if (gone->dropped > 0) line += QStringLiteral("; %1 messages from it were not passed on (no channel voice message)").arg(gone->dropped);
    emit logLine(line);

    // A note that another client holds too is left to that client's own release.
    QByteArray out;
    for (auto off : gone->notes.TakeReleases()) {
        if (std::any_of(clients_.begin(), clients_.end(), [off](const auto& c) { return c->notes.Holds(off); })) continue;
        const auto bytes = EncodeLinkMessage(off);
        out.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    if (!out.isEmpty()) PassOn(nullptr, out);
}

}  // namespace kivra
