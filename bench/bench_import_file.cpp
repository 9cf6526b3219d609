// Opens one MIDI file in a fresh process, as the user's Open does (read, parse, replace the song),
// and prints one line: cpu_ms (this process from its start, start-up included), wall_ms (the
// Open itself), peak_mib (VmHWM), steps, tracks. Exit status 1 when the file is refused, 2 on
// wrong use. bench/import_vs_midicsv.py sets it against midicsv's whole process.
#include "formats/smf_import.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    using namespace kivra;
    const auto start = std::chrono::steady_clock::now();
    const ImportResult r = ImportMIDIFile(QString::fromLocal8Bit(argv[1]));
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!r.Accepted()) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(r.Describe()));
        return 1;
    }
    std::printf("cpu_ms=%.1f wall_ms=%.1f peak_mib=%.1f steps=%d tracks=%d\n", CpuMs(), wallMs,
                static_cast<double>(PeakKiB()) / 1024.0, g_lNumSteps, g_lNumTracks);
    return 0;
}
