// Standard MIDI File import and export: throughput of repeated in-process imports (warm heap, file
// in the page cache) on a large generated file, and the peak memory of importing a ten-minute,
// 16-track file. Not like for like with another program's whole process: bench_import_file and
// import_vs_midicsv.py measure that.
#include "formats/smf_export.h"
#include "formats/filestream.h"
#include "formats/smf_import.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Vlq(Bytes& out, std::uint32_t v) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = v & 0x7F;
        v >>= 7;
    } while (v);
    while (n-- > 1) out.push_back(groups[n] | 0x80);
    out.push_back(groups[0]);
}

// A file as other programs write them: 480 ticks per beat, 16 tracks, a tempo map, SysEx, program
// changes, controllers and pitch bends, Note On / Note Off pairs with running status. `jitter`
// moves each onset off the sixteenth-note grid by up to that many ticks.
Bytes MakeFile(int beats, int jitter, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 17, 0x01, 0xE0};
    auto chunk = [&](const Bytes& body) {
        for (char c : std::string("MTrk")) f.push_back(static_cast<std::uint8_t>(c));
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<std::uint8_t>(body.size() >> s));
        f.insert(f.end(), body.begin(), body.end());
    };
    Bytes tempo;
    for (int b = 0; b < beats; b += 64) {
        Vlq(tempo, b == 0 ? 0 : 64 * 480);
        const std::uint32_t us = 400000 + static_cast<std::uint32_t>(rng() % 200000);
        tempo.insert(tempo.end(), {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8),
                                   static_cast<std::uint8_t>(us)});
    }
    tempo.insert(tempo.end(), {0x00, 0xFF, 0x2F, 0x00});
    chunk(tempo);
    for (int t = 0; t < 16; ++t) {
        Bytes body = {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00, static_cast<std::uint8_t>(0xC0 | t),
                      static_cast<std::uint8_t>(rng() % 128)};
        const std::uint8_t on = static_cast<std::uint8_t>(0x90 | t);
        long long now = 0;
        std::uint8_t running = 0;
        auto event = [&](long long tick, std::initializer_list<std::uint8_t> bytes) {
            Vlq(body, static_cast<std::uint32_t>(tick - now));
            now = tick;
            auto it = bytes.begin();
            if (*it != running || *it >= 0xF0) body.push_back(*it);
            if (*it < 0xF0) running = *it;
            body.insert(body.end(), it + 1, bytes.end());
        };
        for (long long step = 0; step < beats * 4LL; ++step) {
            if (rng() % 10 < 3) continue;
            const long long start = step * 120 + (jitter ? static_cast<long long>(rng() % static_cast<unsigned>(jitter + 1)) : 0);
            const auto note = static_cast<std::uint8_t>(36 + rng() % 60);
            if (rng() % 16 == 0) event(start, {static_cast<std::uint8_t>(0xB0 | t), 7, static_cast<std::uint8_t>(rng() % 128)});
            if (rng() % 32 == 0) event(start, {static_cast<std::uint8_t>(0xE0 | t), 0, static_cast<std::uint8_t>(rng() % 128)});
            event(start, {on, note, static_cast<std::uint8_t>(64 + rng() % 63)});
            if (rng() % 4 == 0) event(start, {on, static_cast<std::uint8_t>(note + 4), 80});
            event(start + 90, {on, note, 0});
        }
        body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
        chunk(body);
    }
    f[11] = 17;
    return f;
}

void Save(const QString& path, const Bytes& b) {
    std::ofstream(path.toStdString(), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Best of `runs`, as wall-clock seconds and CPU seconds (of this process, or of its children).
// CPU time stays meaningful on a machine busy with other work.
struct Timing {
    double wall = 1e30, cpu = 1e30;
};
template <typename Fn>
Timing Best(int runs, Fn&& fn, int who = RUSAGE_SELF) {
    Timing best;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const double cpu0 = CpuSeconds(who);
        timer.start();
        fn();
        best.wall = std::min(best.wall, static_cast<double>(timer.nsecsElapsed()) / 1e9);
        best.cpu = std::min(best.cpu, CpuSeconds(who) - cpu0);
    }
    return best;
}

void Report(const char* what, const Timing& t, double mb) {
    std::printf("%-42s wall %8.1f ms %7.1f MB/s | cpu %8.1f ms %7.1f MB/s\n", what, t.wall * 1e3, mb / t.wall, t.cpu * 1e3,
                mb / std::max(t.cpu, 1e-6));
}

}  // namespace

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    using namespace kivra;

    // Peak memory is measured in a fresh process per file, so one import's peak does not hide another's.
    if (argc == 3 && std::string(argv[1]) == "memory") {
        // Ten minutes at 120 BPM = 1200 beats.
        const int jitter = std::atoi(argv[2]);
        const QString path = dir.filePath("ten_minutes.mid");
        Save(path, MakeFile(1200, jitter, 1));
        const long before = PeakKb();
        ImportResult r = ReadMIDIFile(path);
        const long after = PeakKb();
        std::printf("ten-minute 16-track file at 480 ticks per beat, onsets %s: %lld bytes, %s%s, %d steps x %zu tracks at %d "
                    "steps per beat\n  VmHWM before import %ld KiB, after %ld KiB (+%ld KiB)\n",
                    jitter ? "off the grid by up to 12 ticks" : "on sixteenths", static_cast<long long>(QFile(path).size()),
                    r.Accepted() ? "accepted" : "refused: ", qPrintable(r.Describe()), r.song ? r.song->NumSteps : 0,
                    r.song ? r.song->Tracks.size() : 0u, r.song ? r.song->NotesPerBeat : 0, before, after, after - before);
        return 0;
    }
    for (const char* jitter : {"0", "12"}) {
        QProcess self;
        self.setProcessChannelMode(QProcess::ForwardedChannels);
        self.start(QCoreApplication::applicationFilePath(), {"memory", jitter});
        self.waitForFinished(-1);
    }
    std::fflush(stdout);

    const int beats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9000;
    const QString path = dir.filePath("large.mid");
    const Bytes file = MakeFile(beats, 0, 2);
    Save(path, file);
    const double mb = static_cast<double>(file.size()) / 1e6;
    std::printf("large file: %.2f MB, %d beats, 17 tracks, 480 ticks per beat, running status\n", mb, beats);

    {
        std::ifstream load("/proc/loadavg");
        std::string avg;
        std::getline(load, avg);
        std::printf("load average: %s (CPU times below are robust to it)\n", avg.c_str());
    }

    ImportResult imported;
    const Timing importT = Best(9, [&] { imported = ReadMIDIFile(path); });
    if (!imported.Accepted()) {
        std::printf("import refused: %s\n", qPrintable(imported.Describe()));
        return 1;
    }
    std::printf("song: %d steps x %zu tracks, %d per beat\n", imported.song->NumSteps, imported.song->Tracks.size(),
                imported.song->NotesPerBeat);
    Report("repeated in-process import, warm heap", importT, mb);
    ImportResult parsed;  // kept, as a song is kept between imports
    Report("  of which parse and build (bytes in memory)", Best(9, [&] { parsed = ParseMIDIFile(file); }), mb);
    Report("  of which file read (FileStream)", Best(9, [&] {
               kivra::FileStream in;
               in.flags("r");
               std::vector<std::uint8_t> bytes;
               if (in.OpenFile(path)) in.ReadByteArray(bytes, in.GetLength());
           }),
           mb);

    Bytes exported;
    const Timing encodeT = Best(9, [&] {
        std::vector<int> last;
        exported = EncodeMIDIFile(SourceOf(*imported.song), last);
    });
    const double outMb = static_cast<double>(exported.size()) / 1e6;
    const QString out = dir.filePath("export.mid");
    std::printf("exported file: %.2f MB\n", outMb);
    Report("export encode", encodeT, outMb);
    Report("export encode + write + rename", Best(9, [&] {
               std::vector<int> last;
               (void)WriteFileReplacing(out, EncodeMIDIFile(SourceOf(*imported.song), last));
           }),
           outMb);

    const QString midicsv = QStandardPaths::findExecutable("midicsv");
    if (midicsv.isEmpty()) {
        std::printf("midicsv: not installed\n");
        return 0;
    }
    const Timing csvT = Best(3, [&] {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(midicsv, {path});
        p.waitForFinished(-1);
    }, RUSAGE_CHILDREN);
    Report("midicsv parsing the same file (whole process)", csvT, mb);
    std::printf("repeated in-process import (warm heap) vs midicsv's whole process: %.1fx (wall), %.1fx (cpu); not like for "
                "like, see import_vs_midicsv.py\n",
                csvT.wall / importT.wall, csvT.cpu / importT.cpu);
    return 0;
}
