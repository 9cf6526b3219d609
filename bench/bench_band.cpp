// Band room figure: how far apart two band pianos start their Music Makers after Play on one of
// them, through the relay program on loopback, and with 50 ms added each way between one piano and
// the relay (a delaying proxy, as `tc netem` needs privileges). The start compared is the one each
// piano schedules its first step from; both then play on the same step clock.
// Usage: bench_band [starts per run, default 20]
#include "benchsupport.h"
#include "link/band.h"

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>

using namespace kivra;

namespace {

// Passes bytes both ways between a client and `port`, each chunk `delayMs` after it came. Lives on
// a thread of its own, as a network does: the pianos' work does not delay it.
class DelayProxy : public QObject {
public:
    DelayProxy(quint16 port, int delayMs) : server_(this), port_(port), delayMs_(delayMs) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* in = server_.nextPendingConnection();
            auto* out = new QTcpSocket(in);
            out->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            in->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            out->connectToHost(QHostAddress::LocalHost, port_);
            Pipe(in, out);
            Pipe(out, in);
        });
    }
    quint16 Port() const { return server_.serverPort(); }

private:
    void Pipe(QTcpSocket* from, QTcpSocket* to) {
        connect(from, &QTcpSocket::readyRead, to, [this, from, to] {
            QTimer::singleShot(delayMs_, Qt::PreciseTimer, to, [to, bytes = from->readAll()] { to->write(bytes), to->flush(); });
        });
    }
    QTcpServer server_;
    quint16 port_;
    int delayMs_;
};

// Runs the event loop until `done` or `ms` have passed. Unlike QTest's waits it never sleeps between
// rounds, which would make every arrival look up to 10 ms late.
template <typename Done> bool Pump(int ms, Done done) {
    QElapsedTimer clock;
    clock.start();
    QTimer tick;  // wakes the loop at the deadline
    tick.start(ms);
    while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
void Pump(int ms) { Pump(ms, [] { return false; }); }

struct Piano {
    LinkClient link;
    Band band{link};
    std::vector<double> starts;  // the start times asked by the others
    Piano(quint16 port) {
        QObject::connect(&band, &Band::startRequested, [this](const SharedStart& s) { starts.push_back(s.atMs); });
        link.Connect(QStringLiteral("127.0.0.1:%1").arg(port));
        band.SetEnabled(true);
    }
};

void Run(const char* name, quint16 relayPort, int delayMs, int starts) {
    QThread network;
    network.start();
    QObject inNetwork;
    inNetwork.moveToThread(&network);
    std::unique_ptr<DelayProxy> proxy;
    const auto onNetwork = [&](auto work) { QMetaObject::invokeMethod(&inNetwork, work, Qt::BlockingQueuedConnection); };
    if (delayMs > 0) onNetwork([&] { proxy = std::make_unique<DelayProxy>(relayPort, delayMs); });
    Piano a(relayPort), b(proxy ? proxy->Port() : relayPort);
    const auto end = qScopeGuard([&] {
        onNetwork([&] { proxy.reset(); });
        network.quit();
        network.wait();
    });
    // Joined, then time for the pings to measure the way.
    if (!Pump(5000, [&] { return a.link.Connected() && b.link.Connected(); })) {
        std::printf("%s: the pianos could not connect\n", name);
        return;
    }
    Pump(3000);
    std::vector<double> apart;
    for (int i = 0; i < starts; ++i) {
        // Each piano presses Play in turn.
        Piano& presser = i % 2 ? b : a;
        Piano& other = i % 2 ? a : b;
        const std::size_t heard = other.starts.size();
        const auto start = presser.band.PlayPressed(120);
        if (!start || !Pump(5000, [&] { return other.starts.size() > heard; })) break;
        apart.push_back(std::abs(other.starts.back() - start->atMs));
        presser.band.StopPressed();
        Pump(300);
    }
    std::printf("%s: start offset over %zu starts: median %.2f ms, worst %.2f ms (estimated one-way delay %.2f ms)\n",
                name, apart.size(), bench::Percentile(apart, 0.5), bench::Percentile(apart, 1.0), a.band.DelayMs(b.link.Channel()));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bench::PrintLoadAverage();
    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QProcess relay;
    relay.start(QStringLiteral(KIVRA_RELAY_PATH), {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1")});
    relay.waitForStarted(5000);
    relay.waitForReadyRead(5000);
    const auto port = static_cast<quint16>(QString::fromLocal8Bit(relay.readLine()).trimmed().section(' ', -1).toUInt());
    QObject::connect(&relay, &QProcess::readyReadStandardOutput, &relay, [&] { relay.readAll(); });
    Run("loopback", port, 0, starts);
    Run("50 ms added each way to one piano", port, 50, starts);
    relay.terminate();
    relay.waitForFinished(5000);
    return 0;
}
