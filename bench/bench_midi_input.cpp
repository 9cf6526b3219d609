// MIDI input latency: from a received message entering the backend (injected from another
// thread, as a driver's input thread does) to its note reaching the output backend, hop to the
// UI thread included. Prints median, p99 and max for paced notes and for a burst.
// Usage: bench_midi_input [paced messages, default 20000]
#include "benchsupport.h"
#include "midi/backends/fake/fake_backend.h"
#include "midi/midiinput.h"
#include "midi/midiio.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace kivra;
using bench::Clock;

namespace {

// Timestamps every message the output takes, in arrival order.
class TimestampingOut : public FakeMidiOut {
public:
    explicit TimestampingOut(std::size_t capacity) : arrived(capacity) { sent.reserve(capacity); }
    bool Send(std::uint32_t packed) override {
        const auto now = Clock::now();
        if (!FakeMidiOut::Send(packed)) return false;
        const auto i = count.load(std::memory_order_relaxed);
        if (i < arrived.size()) arrived[i] = now;
        count.store(i + 1, std::memory_order_release);
        return true;
    }
    std::vector<Clock::time_point> arrived;
    std::atomic<std::size_t> count{0};
};

std::uint32_t NoteMessage(std::size_t i) {
    // Alternate note-on and note-off so that the per-note state stays bounded.
    const unsigned note = 36 + static_cast<unsigned>((i / 2) % 48);
    return (i % 2 == 0) ? (0x90u | note << 8 | 100u << 16) : (0x80u | note << 8);
}

void Report(const char* title, const std::vector<Clock::time_point>& injected, const TimestampingOut& out,
            std::size_t first, std::size_t n) {
    std::vector<double> us;
    us.reserve(n);
    for (std::size_t i = first; i < first + n; ++i)
        us.push_back(bench::MicrosBetween(injected[i], out.arrived[i]));
    std::printf("%-34s n=%6zu  median %8.1f us  p99 %8.1f us  max %9.1f us\n", title, n, bench::Percentile(us, 0.5),
                bench::Percentile(us, 0.99), bench::Percentile(us, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    QCoreApplication app(argc, argv);
    const std::size_t paced = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const std::size_t burst = 1000;
    const std::size_t total = paced + burst;

    auto outOwned = std::make_unique<TimestampingOut>(total);
    auto inOwned = std::make_unique<FakeMidiIn>(std::vector<std::string>{"Keys"});
    TimestampingOut& out = *outOwned;
    FakeMidiIn& in = *inOwned;
    SetMidiBackends(std::move(outOwned), std::move(inOwned));
    InstallMidiInputDispatch();
    OpenMIDIOut(0);
    OpenMIDIIn(0);
    QCoreApplication::processEvents();
    if (!g_bMidiOutOpen) {
        std::fprintf(stderr, "output did not open\n");
        return 1;
    }

    std::vector<Clock::time_point> injected(total);
    std::thread driver([&] {
        // Paced: one message at a time, the UI thread idle in its event loop when it comes, as
        // when someone plays a keyboard.
        for (std::size_t i = 0; i < paced; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            injected[i] = Clock::now();
            in.Inject(NoteMessage(i));
            while (out.count.load(std::memory_order_acquire) <= i) std::this_thread::yield();
        }
        // Burst: everything at once, queueing included (a dense chord, a sequencer dump).
        for (std::size_t i = paced; i < total; ++i) {
            injected[i] = Clock::now();
            in.Inject(NoteMessage(i));
        }
        while (out.count.load(std::memory_order_acquire) < total) std::this_thread::yield();
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    std::printf("MIDI input -> output backend, hop to the UI thread included (goal: p99 < 100 us)\n");
    Report("paced (one note every ~200 us)", injected, out, 0, paced);
    Report("burst (1000 injected at once)", injected, out, paced, burst);
    // A note-off goes out as a note-on with velocity 0 on the play channel (0 here).
    std::size_t misplaced = 0;
    for (std::size_t i = 0; i < total; ++i) {
        const std::uint32_t m = NoteMessage(i);
        if (out.sent[i] != ((m & 0xF0u) == 0x90u ? m : (0x90u | (m & 0xFF00u)))) ++misplaced;
    }
    std::printf("order: %zu of %zu messages out of place\n", misplaced, total);
    ReleaseMidi();
    return 0;
}
