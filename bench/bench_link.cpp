// Link figures: round trip piano -> relay -> piano on loopback, the relay under 15 busy pianos,
// and how long the piano's event loop waits while a server floods it.
// Usage: bench_link [seconds of the load run, default 10]
#include "benchsupport.h"
#include "link/linkclient.h"
#include "link/wire.h"
#include "midi/backends/fake/fake_backend.h"
#include "midi/midiio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kivra;

namespace {

struct Relay {
    QProcess process;
    quint16 port = 0;
    Relay() {
        // Every piano of the benchmark comes from this machine's one address.
        process.start(QStringLiteral(KIVRA_RELAY_PATH),
                      {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--max-per-address"), QStringLiteral("0")});
        process.waitForStarted(5000);
        process.waitForReadyRead(5000);
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        port = static_cast<quint16>(line.section(' ', -1).toUInt());
        // The join/leave lines are not needed; keep the pipe from filling.
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] { process.readAll(); });
    }
    ~Relay() {
        process.terminate();
        process.waitForFinished(5000);
    }
    // User plus system time of the relay, from /proc/<pid>/stat (fields 14 and 15, in ticks).
    double CpuSeconds() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
        if (!stat.open(QIODevice::ReadOnly)) return -1;
        const QByteArray line = stat.readAll();
        const auto fields = line.mid(line.lastIndexOf(')') + 2).split(' ');  // from field 3 on
        if (fields.size() < 13) return -1;
        return static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong()) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    QString Status(const char* key) const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        if (!status.open(QIODevice::ReadOnly)) return QStringLiteral("?");
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(key)) return QString::fromLatin1(line.mid(static_cast<qsizetype>(qstrlen(key)))).simplified();
        return QStringLiteral("?");
    }
};

QString LoadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2) : QStringLiteral("?");
}

template <typename Pred> bool Spin(Pred done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (t.elapsed() > timeoutMs) return false;
    }
    return true;
}


void RoundTrip() {
    Relay relay;
    auto fake = std::make_unique<FakeMidiOut>();
    FakeMidiOut* out = fake.get();
    SetMidiBackends(std::move(fake), std::make_unique<FakeMidiIn>());
    OpenMIDIOut(0);
    Spin([] { return g_bMidiOutOpen; });

    LinkClient a, b;
    // Messages follow each other closer than any player's: no cap, the latency alone is measured.
    a.SetPlayRate(1e9, 1e9);
    b.SetPlayRate(1e9, 1e9);
    const QString address = QStringLiteral("127.0.0.1:%1").arg(relay.port);
    a.Connect(address);
    Spin([&] { return a.Connected(); });
    b.Connect(address);
    if (!Spin([&] { return b.Connected(); })) {
        std::printf("round trip: could not connect to the relay\n");
        return;
    }
    QThread::msleep(50);
    Spin([] { return false; }, 50);

    // One message a millisecond from each piano: within the relay's limit per player.
    constexpr int kMessages = 3000;
    std::vector<double> micros, oneWay;
    micros.reserve(kMessages);
    oneWay.reserve(kMessages);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kMessages; ++i) {
        const auto message = PackShortMessage(0x90, i % 128, i % 2 ? 0 : 100);
        const auto sentBefore = out->sent.size();
        const qint64 t0 = clock.nsecsElapsed();
        a.SendMessage(message);
        if (!Spin([&] { return out->sent.size() > sentBefore; })) break;
        oneWay.push_back(static_cast<double>(clock.nsecsElapsed() - t0) / 1000.0);
        b.SendMessage(message);  // the other piano plays it back
        if (!Spin([&] { return out->sent.size() > sentBefore + 1; })) break;
        micros.push_back(static_cast<double>(clock.nsecsElapsed() - t0) / 1000.0);
        Spin([&] { return clock.nsecsElapsed() - t0 >= 1000000; });
    }
    const auto done = micros.size();
    const double p50 = bench::Percentile(micros, 0.5), p99 = bench::Percentile(micros, 0.99), max = bench::Percentile(micros, 1.0);
    std::printf("round trip piano -> relay -> piano -> relay -> piano, %zu of %d messages:\n", done, kMessages);
    std::printf("  round trip: median %.1f us, p99 %.1f us, max %.1f us (goal: p99 under 1000 us)\n", p50, p99, max);
    const double o50 = bench::Percentile(oneWay, 0.5), o99 = bench::Percentile(oneWay, 0.99);
    std::printf("  one way (piano A plays -> piano B sounds): median %.1f us, p99 %.1f us\n", o50, o99);
    a.Disconnect();
    b.Disconnect();
    ReleaseMidi();
}

void Load(int seconds) {
    constexpr int kClients = 15;
    constexpr int kRate = 1000;  // messages per second per client
    Relay relay;
    std::array<std::unique_ptr<QTcpSocket>, kClients> sockets;
    std::array<int, kClients> channelOf{};
    std::array<LinkDecoder, kClients> decoders;
    std::array<std::int64_t, kClients> received{};
    // Send time of message `seq` of the client on channel c, in nanoseconds.
    std::array<std::vector<qint64>, 16> sentAt;
    for (auto& v : sentAt) v.assign(static_cast<std::size_t>(kRate * seconds + kRate), 0);
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(kClients) * (kClients - 1) * kRate * static_cast<std::size_t>(seconds));
    QElapsedTimer clock;
    clock.start();
    std::vector<std::uint32_t> messages;

    for (int i = 0; i < kClients; ++i) {
        sockets[i] = std::make_unique<QTcpSocket>();
        sockets[i]->connectToHost(QHostAddress::LocalHost, relay.port);
        sockets[i]->waitForConnected(5000);
        sockets[i]->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        sockets[i]->waitForReadyRead(5000);
        const QByteArray assign = sockets[i]->read(4);
        channelOf[i] = assign.size() == 4 ? static_cast<unsigned char>(assign[1]) : -1;
        QObject::connect(sockets[i].get(), &QTcpSocket::readyRead, sockets[i].get(), [&, i] {
            const QByteArray data = sockets[i]->readAll();
            const qint64 now = clock.nsecsElapsed();
            messages.clear();
            decoders[i].Feed(data.constData(), static_cast<std::size_t>(data.size()), messages);
            for (auto m : messages) {
                const unsigned channel = m & 0x0F;
                const auto seq = static_cast<std::size_t>(((m >> 8) & 0x7F) | (((m >> 16) & 0x7F) << 7));
                if (seq < sentAt[channel].size() && sentAt[channel][seq] != 0)
                    micros.push_back(static_cast<double>(now - sentAt[channel][seq]) / 1000.0);
                ++received[i];
            }
        });
    }
    std::printf("load: %d clients, channels", kClients);
    for (int c : channelOf) std::printf(" %d", c);
    std::printf("\n");

    std::array<int, kClients> sent{};
    const qint64 start = clock.nsecsElapsed();
    const qint64 end = start + qint64{seconds} * 1000000000;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    // Sends what is due by now, so the rate holds however late a tick comes.
    const auto pump = [&] {
        const qint64 now = clock.nsecsElapsed();
        const auto due = static_cast<int>((std::min(now, end) - start) / 1000000 * kRate / 1000);
        for (int i = 0; i < kClients; ++i) {
            while (sent[i] < due) {
                const int seq = sent[i]++;
                sentAt[static_cast<std::size_t>(channelOf[i])][static_cast<std::size_t>(seq)] = clock.nsecsElapsed();
                const auto bytes = EncodeLinkMessage(PackShortMessage(0x90 + channelOf[i], seq & 0x7F, (seq >> 7) & 0x7F));
                sockets[i]->write(bytes.data(), 4);  // one write per message, as a piano does
                sockets[i]->flush();
            }
        }
    };
    QObject::connect(&tick, &QTimer::timeout, pump);
    tick.start();
    Spin([&] { return clock.nsecsElapsed() >= end; }, (seconds + 5) * 1000);
    tick.stop();
    pump();
    std::int64_t totalSent = 0;
    for (int s : sent) totalSent += s;
    const std::int64_t expected = totalSent * (kClients - 1);
    std::int64_t got = 0;
    Spin(
        [&] {
            got = 0;
            for (auto r : received) got += r;
            return got >= expected;
        },
        5000);
    std::printf("  sent %lld messages in %d s, %lld deliveries expected, %lld received, %lld lost (goal: none)\n",
                static_cast<long long>(totalSent), seconds, static_cast<long long>(expected),
                static_cast<long long>(got), static_cast<long long>(expected - got));
    const double p50 = bench::Percentile(micros, 0.5), p90 = bench::Percentile(micros, 0.9), p99 = bench::Percentile(micros, 0.99),
                 p999 = bench::Percentile(micros, 0.999), max = bench::Percentile(micros, 1.0);
    std::printf("  latency sender -> relay -> receiver: median %.1f us, p90 %.1f us, p99 %.1f us, p99.9 %.1f us, max %.1f us\n",
                p50, p90, p99, p999, max);
    std::printf("  relay memory: VmHWM %s, VmRSS %s; relay CPU time %.2f s\n", qPrintable(relay.Status("VmHWM:")),
                qPrintable(relay.Status("VmRSS:")), relay.CpuSeconds());
    std::printf("  machine load average during the run: %s\n", qPrintable(LoadAverage()));
}

// Gaps between the ticks of a 1 ms timer on the UI thread for `ms`: how long a click would wait.
std::vector<double> TickGaps(int ms) {
    std::vector<double> gaps;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        gaps.push_back(static_cast<double>(now - last) / 1e6);
        last = now;
    });
    tick.start();
    Spin([] { return false; }, ms);
    return gaps;
}

// A server that sends note-ons and note-offs as fast as the piano takes them, from its own thread.
void ServerFlood(int seconds) {
    bench::OpenTimedOutput();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
    std::atomic<bool> stop{false};
    std::atomic<long long> sentBytes{0};
    std::thread server([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        QByteArray chunk;
        for (int i = 0; i < 16384; ++i) chunk.append(EncodeLinkMessage(PackShortMessage(0x90, i % 128, i % 2 ? 0 : 100)).data(), 4);
        while (!stop) {
            const auto n = ::send(fd, chunk.constData(), static_cast<std::size_t>(chunk.size()), MSG_NOSIGNAL);
            if (n <= 0) break;
            sentBytes += n;
        }
        ::close(fd);
    });

    const auto idle = TickGaps(1000);
    LinkClient client;
    client.Connect(QStringLiteral("127.0.0.1:%1").arg(ntohs(addr.sin_port)));
    Spin([&] { return client.Connected(); });
    const auto flooded = TickGaps(seconds * 1000);
    const auto dropped = client.dropped();
    stop = true;
    client.Disconnect();
    server.join();
    ::close(listener);
    ReleaseMidi();

    const double mib = static_cast<double>(sentBytes) / (1024.0 * 1024.0);
    std::printf("server flood: %.1f MiB (%.0f messages/s) taken by the piano in %d s\n", mib,
                static_cast<double>(sentBytes) / 4 / seconds, seconds);
    std::printf("  played at most %.0f/s (burst %.0f): %lld dropped over the rate, %lld malformed\n",
                LinkClient::kPlayPerSecond, LinkClient::kPlayBurst, static_cast<long long>(dropped.overRate),
                static_cast<long long>(dropped.malformed));
    std::printf("  UI thread, 1 ms timer: idle gap p99 %.2f ms, max %.2f ms; flooded gap p99 %.2f ms, max %.2f ms "
                "(goal: max under 50 ms)\n",
                bench::Percentile(idle, 0.99), bench::Percentile(idle, 1.0), bench::Percentile(flooded, 0.99),
                bench::Percentile(flooded, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    RoundTrip();
    ServerFlood(std::min(seconds, 5));
    Load(seconds);
    return 0;
}
