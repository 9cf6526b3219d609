#include "app/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QUrl>

namespace kivra {
namespace {

Q_LOGGING_CATEGORY(lcInstance, "kivra.instance")

// The session's private runtime folder where there is one; elsewhere a name with the user's name,
// which Qt puts in the temporary folder (Unix) or the pipe namespace (Windows).
QString SocketName() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) return runtime + QStringLiteral("/kivra.socket");
    return QStringLiteral("kivra-") + qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
}

constexpr int kWaitMs = 2000;  // a running Kivra answers at once; a hung one must not hang this start

}  // namespace

bool HandToRunningKivra(const QString& file) {
    QLocalSocket socket;
    socket.connectToServer(SocketName());
    if (!socket.waitForConnected(kWaitMs)) return false;
    socket.write((file.isEmpty() ? QByteArray() : QUrl::fromLocalFile(file).toEncoded()) + '\n');
    socket.disconnectFromServer();  // writes what is left first
    return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(kWaitMs);
}

RunningKivra::RunningKivra(QObject* parent, std::function<void(const QString&)> received)
    : QObject(parent), server_(new QLocalServer(this)), received_(std::move(received)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(SocketName()) && server_->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(SocketName());
        server_->listen(SocketName());
    }
    // Kivra still runs; only a later start would open a second piano.
    if (!server_->isListening()) qCWarning(lcInstance) << "Not listening for later starts:" << server_->errorString();
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                const QString file = QUrl::fromEncoded(socket->readLine().trimmed()).toLocalFile();
                socket->disconnect(this);
                socket->abort();
                received_(file);  // may ask the user in a loop of its own: the socket is done with
            });
        }
    });
}

}  // namespace kivra
