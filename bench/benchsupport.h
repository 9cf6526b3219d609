#pragma once
// Shared by the benchmarks: the load average they start under, percentiles of a set of timings,
// and an output backend that remembers when it last took a message.

#include "midi/backends/fake/fake_backend.h"
#include "midi/midiio.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace kivra::bench {

using Clock = std::chrono::steady_clock;

// First line of every benchmark, and again after a loaded stretch: figures taken on a busy
// machine are recognisable as such.
inline void PrintLoadAverage(const char* when = "at start") {
    double load[3] = {-1, -1, -1};
    getloadavg(load, 3);
    std::printf("load average %s: %.2f %.2f %.2f (1, 5, 15 min) on %u cores\n", when, load[0], load[1], load[2],
                std::thread::hardware_concurrency());
    std::fflush(stdout);
}

// `q` from 0 (minimum) to 1 (maximum), nearest rank below; 0 for no values.
inline double Percentile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

inline double MicrosBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// The fake output with the time of its last send; keeps its record bounded on long runs.
struct TimedMidiOut : FakeMidiOut {
    Clock::time_point lastSend;
    bool Send(std::uint32_t packed) override {
        lastSend = Clock::now();
        if (sent.size() > 100000) sent.clear();
        return FakeMidiOut::Send(packed);
    }
};

// Installs a TimedMidiOut as the output, opens it and handles its "opened" notification.
inline TimedMidiOut* OpenTimedOutput() {
    auto out = std::make_unique<TimedMidiOut>();
    TimedMidiOut* backend = out.get();
    SetMidiBackends(std::move(out), nullptr);
    OpenMIDIOut(0);
    QCoreApplication::processEvents();
    return backend;
}

}  // namespace kivra::bench
