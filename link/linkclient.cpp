#include "link/linkclient.h"

#include "link/hello.h"

#include <QLoggingCategory>

namespace kivra {

namespace {
Q_LOGGING_CATEGORY(lcLink, "kivra.link")
// Bounds what waits in the program for the next batch; the rest stays with the kernel and TCP
// slows the server down.
constexpr qint64 kReadBufferBytes = 64 * 1024;
}  // namespace

ParsedLinkAddress ParseLinkAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return {std::nullopt, LinkClient::tr("No server address was entered.")};

    QString host = trimmed;
    QString portText;
    if (trimmed.startsWith(QLatin1Char('['))) {
        const auto close = trimmed.indexOf(QLatin1Char(']'));
        if (close < 0) return {std::nullopt, LinkClient::tr("The address \"%1\" is missing its closing \"]\".").arg(trimmed)};
        host = trimmed.mid(1, close - 1);
        const QString rest = trimmed.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return {std::nullopt, LinkClient::tr("The address \"%1\" is not valid.").arg(trimmed)};
            portText = rest.mid(1);
        }
    } else if (trimmed.count(QLatin1Char(':')) == 1) {
        const auto colon = trimmed.indexOf(QLatin1Char(':'));
        host = trimmed.left(colon);
        portText = trimmed.mid(colon + 1);
    }
    // More than one colon without brackets: a bare IPv6 address, on the default port.
    if (host.isEmpty()) return {std::nullopt, LinkClient::tr("The address \"%1\" names no server.").arg(trimmed)};

    LinkAddress address{host, static_cast<quint16>(kLinkPort)};
    if (!portText.isNull()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return {std::nullopt,
                    LinkClient::tr("\"%1\" is not a port: a port is a number from 1 to 65535.").arg(portText)};
        address.port = static_cast<quint16>(port);
    }
    return {address, {}};
}

LinkClient::LinkClient(QObject* parent) : QObject(parent), sckMain_(this), connectTimer_(this), nextBatch_(this) {
    sckMain_.setReadBufferSize(kReadBufferBytes);
    nextBatch_.setSingleShot(true);
    nextBatch_.setInterval(0);
    connect(&nextBatch_, &QTimer::timeout, this, &LinkClient::HandleReceived);
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(kConnectTimeoutMs);
    connect(&connectTimer_, &QTimer::timeout, this, &LinkClient::OnTimeout);
    connect(&sckMain_, &QTcpSocket::connected, this, &LinkClient::OnConnected);
    connect(&sckMain_, &QTcpSocket::readyRead, this, &LinkClient::HandleReceived);
    connect(&sckMain_, &QTcpSocket::errorOccurred, this, &LinkClient::OnError);
    connect(&sckMain_, &QTcpSocket::disconnected, this, [this] {
        if (state_ == State::Connected) OnError(QAbstractSocket::RemoteHostClosedError);
    });
}

LinkClient::~LinkClient() {
    // Nothing may reach this object from the socket while it is being torn down.
    sckMain_.disconnect(this);
    if (state_ != State::NotConnected) {
        sckMain_.abort();
        g_lChannel = 0;
        for (auto off : serverNotes_.TakeReleases()) SendMIDIMessage(off);
    }
}

void LinkClient::SetState(State state) {
    if (state_ == state) return;
    state_ = state;
    emit stateChanged(state);
}

void LinkClient::Connect(const QString& address) {
    if (state_ != State::NotConnected) return;
    const auto parsed = ParseLinkAddress(address);
    if (!parsed.address) {
        emit failed(parsed.error);
        return;
    }
    target_ = *parsed.address;
    sckMain_.abort();  // a graceful close of an earlier link may still be under way
    decoder_.Reset();
    dropped_ = {};
    playRate_ = MessageRate(playLimit_.first, playLimit_.second);
    heard_ = false;
    SetState(State::Connecting);
    connectTimer_.start();
    sckMain_.connectToHost(target_.host, target_.port);
}

void LinkClient::Disconnect() {
    if (state_ == State::NotConnected) return;
    const bool connected = state_ == State::Connected;
    EndLink();  // first: the close below is ours, not the server's
    if (connected)
        sckMain_.disconnectFromHost();  // lets the last messages out before closing
    else
        sckMain_.abort();
}

void LinkClient::SendMessage(std::uint32_t packed) {
    if (state_ != State::Connected) return;
    const auto bytes = EncodeLinkMessage(packed);
    sckMain_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    sckMain_.flush();
}

void LinkClient::OnConnected() {
    if (state_ != State::Connecting) return;
    connectTimer_.stop();
    sckMain_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    sckMain_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connectedFor_.start();
    SetState(State::Connected);
    if (!password_.isEmpty())
        for (auto message : RelayHello(password_)) SendMessage(message);
}

void LinkClient::HandleReceived() {
    if (state_ != State::Connected) {
        sckMain_.readAll();
        return;
    }
    const QByteArray data = sckMain_.read(static_cast<qint64>(kBatchMessages * kLinkMessageSize));
    heard_ = heard_ || !data.isEmpty();
    received_.clear();
    decoder_.Feed(data.constData(), static_cast<std::size_t>(data.size()), received_);
    const auto now = MessageRate::Clock::now();
    for (auto message : received_) Play(message, now);
    // The rest waits for the next turn, after the window's own events.
    if (sckMain_.bytesAvailable() > 0) nextBatch_.start();
}

void LinkClient::Play(std::uint32_t message, MessageRate::Clock::time_point now) {
    if ((message & 0xFFu) == kChannelAssignStatus) {
        // Bytes 3 and 4 carry nothing; a channel above 15 is no MIDI channel and is ignored.
        const int channel = static_cast<int>((message >> 8) & 0xFFu);
        if (channel <= 15) g_lChannel = channel_ = channel;
        return;
    }
    if (IsBandTransportMessage(message)) {
        emit transportReceived(message, std::chrono::duration<double, std::milli>(now.time_since_epoch()).count());
        return;
    }
    if (!IsChannelVoiceMessage(message)) {
        ++dropped_.malformed;
        return;
    }
    const bool endsHeldNote = IsNoteRelease(message) && serverNotes_.Holds(message);
    if (!endsHeldNote && !playRate_.Take(now)) {
        ++dropped_.overRate;
        return;
    }
    serverNotes_.Track(message);
    SendMIDIMessage(message);
}

void LinkClient::OnError(QAbstractSocket::SocketError error) {
    if (state_ == State::Connected) {
        QString reason;
        if (error == QAbstractSocket::RemoteHostClosedError) {  // a close or a reset
            // Our relay refuses by closing before it says anything; a link that stood ends later.
            const bool refused = !heard_ && connectedFor_.elapsed() < kRefusedWithinMs;
            reason = !refused                ? tr("The server closed the connection.")
                     : password_.isEmpty() ? tr("The server is full.")
                                           : tr("The server refused the room password, or is full.");
        } else {
            reason = tr("The connection to the server was lost: %1.").arg(sckMain_.errorString());
        }
        if (error != QAbstractSocket::RemoteHostClosedError) sckMain_.abort();
        EndLink();
        emit failed(reason);
        return;
    }
    if (state_ != State::Connecting) return;
    const QString where = QStringLiteral("%1:%2").arg(target_.host).arg(target_.port);
    switch (error) {
        case QAbstractSocket::HostNotFoundError:
            Fail(tr("The server \"%1\" could not be found.").arg(target_.host));
            break;
        case QAbstractSocket::ConnectionRefusedError:
            Fail(tr("The server at %1 refused the connection.").arg(where));
            break;
        case QAbstractSocket::SocketTimeoutError:
            OnTimeout();
            break;
        default:
            Fail(tr("Could not connect to %1: %2.").arg(where, sckMain_.errorString()));
            break;
    }
}

void LinkClient::OnTimeout() {
    if (state_ != State::Connecting) return;
    const int ms = connectTimer_.interval();
    const QString wait = ms % 1000 == 0 ? tr("%1 seconds").arg(ms / 1000)
                                        : tr("%1 milliseconds").arg(ms);
    Fail(tr("The server at %1:%2 did not answer within %3.").arg(target_.host).arg(target_.port).arg(wait));
}

void LinkClient::Fail(const QString& reason) {
    connectTimer_.stop();
    sckMain_.abort();
    EndLink();
    emit failed(reason);
}

void LinkClient::EndLink() {
    connectTimer_.stop();
    nextBatch_.stop();
    decoder_.Reset();
    if (dropped_.malformed > 0 || dropped_.overRate > 0)
        qCInfo(lcLink) << "messages from the server not played:" << dropped_.malformed << "malformed,"
                       << dropped_.overRate << "beyond" << playLimit_.first << "per second";
    g_lChannel = channel_ = 0;
    for (auto off : serverNotes_.TakeReleases()) SendMIDIMessage(off);
    SetState(State::NotConnected);
}

}  // namespace kivra
