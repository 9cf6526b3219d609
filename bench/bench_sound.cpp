// The built-in synthesizer's audio output, through the real note routing and FluidSynth's real
// audio driver (PulseAudio, else ALSA).
//   bench_sound                     time from PlayNote to the first non-silent sample that the
//                                   synthesizer hands to its audio driver, and the buffering in
//                                   effect, at the default latency
//   bench_sound --hold S [--latency MS]   hold middle C on an organ for S seconds (for
//                                   bench/sound_gaps.sh, which records the sound server)
//   bench_sound --gaps FILE         gaps of silence in a held note recorded as raw mono s16le at
//                                   44.1 kHz: prints "gaps N seconds S per_second R"
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/midiio.h"
#include "midi/notifier.h"
#include "benchsupport.h"

#include <fluidsynth.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

using kivra::bench::Clock;
using kivra::bench::Percentile;

namespace {

constexpr double kRate = 44100.0;
constexpr int kMiddleC = 60;
constexpr int kOrgan = 16;  // Drawbar Organ: holds its level for as long as the key is down

// The program's output device 0, with a tap on what the synthesizer hands to the driver.
class TappedSynthOut : public kivra::MidiOutBackend {
public:
    TappedSynthOut(int latencyMs, kivra::SoftSynth::AudioTap tap)
        : synth_(kivra::FindGmSoundFont(), kRate, latencyMs), tap_(std::move(tap)) {}
    std::vector<std::string> DeviceNames() override { return {kivra::kSoftSynthName}; }
    bool Open(int, kivra::MidiNotifier& notifier) override {
        if (!synth_.Ready() || !synth_.StartAudio(tap_)) return false;
        notifier.PostOutputOpened();
        return true;
    }
    bool Send(std::uint32_t packed) override { return synth_.Play(packed); }
    void Close() override {}
    std::string OpenError() const override { return synth_.Error(); }
    kivra::SoftSynth& Synth() { return synth_; }

private:
    kivra::SoftSynth synth_;
    kivra::SoftSynth::AudioTap tap_;
};

// Opens `out` as the program's output; prints why not and returns null when it cannot.
TappedSynthOut* Install(std::unique_ptr<TappedSynthOut> out) {
    TappedSynthOut* backend = out.get();
    kivra::SetMidiBackends(std::move(out), nullptr);
    if (!kivra::OpenMIDIOut(0)) {
        std::printf("no sound output: %s\n", backend->OpenError().c_str());
        return nullptr;
    }
    QCoreApplication::processEvents();
    return backend;
}

int Latency() {
    std::atomic<Clock::rep> firstSound{0};  // when the tap first saw a non-silent sample; 0 while waiting
    std::atomic<bool> waiting{false};
    auto* out = Install(std::make_unique<TappedSynthOut>(kivra::kDefaultLatencyMs, [&](const float* l, const float* r, int n) {
        if (!waiting.load()) return;
        for (int i = 0; i < n; ++i) {
            if (std::fabs(l[i]) > 1e-4f || std::fabs(r[i]) > 1e-4f) {
                firstSound.store(Clock::now().time_since_epoch().count());
                waiting.store(false);
                return;
            }
        }
    }));
    if (!out) return 1;
    int periodSize = 0;
    char* driver = nullptr;
    fluid_settings_getint(out->Synth().Settings(), "audio.period-size", &periodSize);
    fluid_settings_dupstr(out->Synth().Settings(), "audio.driver", &driver);

    constexpr int kNotes = 30;  // after one more, the first, which waits for the sound server to start the stream
    std::vector<double> millis;
    double first = -1;
    std::mt19937 random(12345);
    for (int i = -1; i < kNotes; ++i) {
        // The release has faded, and the press lands anywhere within a period.
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution(1000000, 1200000)(random)));
        firstSound.store(0);
        waiting.store(true);
        const auto start = Clock::now();
        kivra::PlayNote(kMiddleC, 100, 0);
        while (waiting.load() && Clock::now() - start < std::chrono::seconds(1))
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        const double ms = kivra::bench::MicrosBetween(start, Clock::time_point(Clock::duration(firstSound.load()))) / 1000;
        if (!waiting.load()) (i < 0 ? first : millis.emplace_back()) = ms;
        kivra::StopNote(kMiddleC, 0);
    }
    std::printf("buffering in effect: %s driver, period of %d frames at %.0f Hz = %.1f ms (default latency %d ms)\n",
                driver ? driver : "?", periodSize, kRate, 1000.0 * periodSize / kRate, kivra::kDefaultLatencyMs);
    std::printf("PlayNote to first non-silent sample handed to the driver, %zu of %d notes: median %.2f ms, "
                "p90 %.2f ms, max %.2f ms; the first note after the output opened: %.2f ms\n",
                millis.size(), kNotes, Percentile(millis, 0.5), Percentile(millis, 0.9), Percentile(millis, 1.0), first);
    fluid_free(driver);
    kivra::ReleaseMidi();
    return 0;
}

int Hold(double seconds, int latencyMs) {
    if (!Install(std::make_unique<TappedSynthOut>(latencyMs, [](const float*, const float*, int) {}))) return 1;
    kivra::SetPatch(kOrgan, 0);
    kivra::PlayNote(kMiddleC, 100, 0);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    kivra::StopNote(kMiddleC, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kivra::ReleaseMidi();
    return 0;
}

// A gap is a run of 1 ms windows whose peak falls below a twentieth of the held note's usual
// peak, between the first and the last sound (less 100 ms at either end: attack and release).
int Gaps(const char* file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::int16_t> samples;
    for (std::int16_t s; in.read(reinterpret_cast<char*>(&s), sizeof s);) samples.push_back(s);
    constexpr std::size_t kWindow = 44;
    std::vector<int> peaks;
    for (std::size_t at = 0; at + kWindow <= samples.size(); at += kWindow) {
        int peak = 0;
        for (std::size_t i = at; i < at + kWindow; ++i) peak = std::max(peak, std::abs(int{samples[i]}));
        peaks.push_back(peak);
    }
    std::size_t first = 0, last = peaks.size();
    while (first < last && peaks[first] < 300) ++first;
    while (last > first && peaks[last - 1] < 300) --last;
    first += 100;
    last = last > 100 ? last - 100 : 0;
    if (last <= first + 1000) {
        std::printf("gaps 0 seconds 0 per_second 0 (no held note recorded)\n");
        return 1;
    }
    std::vector<int> held(peaks.begin() + static_cast<long>(first), peaks.begin() + static_cast<long>(last));
    std::vector<double> sorted(held.begin(), held.end());
    const double threshold = Percentile(sorted, 0.5) / 20.0;
    int gaps = 0;
    bool inGap = false;
    for (int peak : held) {
        const bool quiet = peak < threshold;
        if (quiet && !inGap) ++gaps;
        inGap = quiet;
    }
    const double seconds = static_cast<double>(held.size()) * kWindow / kRate;
    std::printf("gaps %d seconds %.1f per_second %.2f\n", gaps, seconds, gaps / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--gaps") == 0) return Gaps(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "--hold") == 0) {
        const int latency = argc == 5 && std::strcmp(argv[3], "--latency") == 0 ? std::atoi(argv[4]) : kivra::kDefaultLatencyMs;
        return Hold(std::atof(argv[2]), latency);
    }
    if (argc == 1) return Latency();
    std::fprintf(stderr, "usage: %s [--hold SECONDS [--latency MS] | --gaps FILE]\n", argv[0]);
    return 2;
}
