// What the system's MIDI backends cost at start-up: making them (ALSA, JACK, the program's own
// ports) and the JACK server check, with no JACK server (a server name nobody runs), and with one
// when the name of a running server is given. Prints the median and maximum of each, in ms.
// Usage: bench_midi_devices [running JACK server name] [repetitions, default 20]
#include "benchsupport.h"
#include "midi/backends/jack/jack_ports.h"
#include "midi/backends/system_backends.h"
#include "midi/notifier.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kivra;
using bench::Clock;

namespace {

template <typename F> void Measure(const char* what, int repetitions, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        f();
        ms.push_back(bench::MicrosBetween(start, Clock::now()) / 1000.0);
    }
    std::printf("%-44s median %7.2f ms  max %7.2f ms\n", what, bench::Percentile(ms, 0.5), bench::Percentile(ms, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::PrintLoadAverage();
    const std::string server = argc > 1 ? argv[1] : "";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    MidiNotifier notifier;
    for (const std::string& name : {std::string("kivra-bench-no-such-server"), server}) {
        if (name.empty()) continue;
        qputenv("JACK_DEFAULT_SERVER", QByteArray::fromStdString(name));
        std::printf("JACK server \"%s\"%s\n", name.c_str(), JackServerRunning() ? " (running)" : " (none)");
        Measure("  JackServerRunning", repetitions, [] { (void)JackServerRunning(); });
        Measure("  MakeSystemMidi (backends made, then freed)", repetitions, [&] { (void)MakeSystemMidi(notifier); });
    }
    return 0;
}
