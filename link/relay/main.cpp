// kivra-relay: lets several Kivra pianos play together over their link.
#include "link/relay/relayserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {
void PrintLine(std::FILE* stream, const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);  // one line per event, visible at once even through a pipe
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivra-relay"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Relays the link messages of Kivra pianos: each piano that connects gets a channel of its own,\n"
        "and every message it plays is passed on to all the others. Up to 15 pianos at once.\n"
        "A piano that sends more than 2000 messages a second, or takes nothing for 10 seconds, is dropped.\n"
        "Ports below 1024 (such as the default 766) need root or the CAP_NET_BIND_SERVICE capability."));
    parser.addHelpOption();
    const QCommandLineOption portOption({QStringLiteral("p"), QStringLiteral("port")},
                                        QStringLiteral("TCP port to listen on (default 766; 0 picks a free one)."),
                                        QStringLiteral("port"), QString::number(kivra::kLinkPort));
    const QCommandLineOption listenOption(
        {QStringLiteral("l"), QStringLiteral("listen")},
        QStringLiteral("Address to listen on, such as 127.0.0.1 or one of this machine's addresses (default: all)."),
        QStringLiteral("address"));
    const QCommandLineOption perAddressOption(
        QStringLiteral("max-per-address"),
        QStringLiteral("Pianos that may connect from one address at once (default %1; 0: no limit).")
            .arg(kivra::RelayServer::Limits{}.perAddress),
        QStringLiteral("count"), QString::number(kivra::RelayServer::Limits{}.perAddress));
    // Never the password itself on the command line, where every user of the machine can read it.
    const QCommandLineOption passwordFileOption(
        QStringLiteral("password-file"),
        QStringLiteral("Require the room password held in the first line of this file (or in the environment\n"
                       "variable KIVRA_RELAY_PASSWORD): only Kivra pianos that send it may join."),
        QStringLiteral("path"));
    parser.addOptions({portOption, listenOption, perAddressOption, passwordFileOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        PrintLine(stderr, QStringLiteral("kivra-relay: \"%1\" is not a port (0 to 65535).").arg(parser.value(portOption)));
        return 2;
    }

    QHostAddress address(QHostAddress::Any);
    if (parser.isSet(listenOption) && !address.setAddress(parser.value(listenOption))) {
        PrintLine(stderr, QStringLiteral("kivra-relay: \"%1\" is not an IP address.").arg(parser.value(listenOption)));
        return 2;
    }
    const int perAddress = parser.value(perAddressOption).toInt(&ok);
    if (!ok || perAddress < 0) {
        PrintLine(stderr, QStringLiteral("kivra-relay: \"%1\" is not a count of pianos (0 or more).").arg(parser.value(perAddressOption)));
        return 2;
    }

    QString password = qEnvironmentVariable("KIVRA_RELAY_PASSWORD");
    if (parser.isSet(passwordFileOption)) {
        QFile file(parser.value(passwordFileOption));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            PrintLine(stderr, QStringLiteral("kivra-relay: cannot read the password file \"%1\": %2").arg(file.fileName(), file.errorString()));
            return 2;
        }
        password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n'));
        if (password.isEmpty()) {
            PrintLine(stderr, QStringLiteral("kivra-relay: the password file \"%1\" holds no password.").arg(file.fileName()));
            return 2;
        }
    }

    kivra::RelayServer server;
    server.SetPassword(password);
    QObject::connect(&server, &kivra::RelayServer::logLine, [](const QString& line) { PrintLine(stdout, line); });
    auto limits = server.limits();
    limits.perAddress = perAddress;
    server.SetLimits(limits);
    if (!server.Listen(address, static_cast<quint16>(port))) {
        QString why = server.ErrorString();
        if (server.ServerError() == QAbstractSocket::SocketAccessError && port < 1024)
            why += QStringLiteral(" (ports below 1024 need root or the CAP_NET_BIND_SERVICE capability; try --port 7660)");
        PrintLine(stderr, QStringLiteral("kivra-relay: cannot listen on port %1: %2").arg(port).arg(why));
        return 1;
    }
    PrintLine(stdout, QStringLiteral("kivra-relay listening on port %1").arg(server.Port()));
    if (!password.isEmpty()) PrintLine(stdout, QStringLiteral("Room password required: only Kivra pianos that send it may join"));
    return QCoreApplication::exec();
}
