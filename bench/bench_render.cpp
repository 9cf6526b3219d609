// Rendering a song to an audio file: a 3-minute, 8-track song (chords, a bass line, drums, varied
// velocities) rendered to WAV through the system's General MIDI SoundFont on one core, with the
// effects off and with reverb and chorus on. Prints the speed as a multiple of real time and the
// peak memory of the process.
//   bench_render [SOUNDFONT]
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "musicmaker/render.h"
#include "benchsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

#include <sched.h>
#include <sys/resource.h>

using namespace kivra;

namespace {

// 180 s at 120 beats per minute and 4 steps per beat. Tracks 0..6 play on channels 0..6 with
// their own instruments, the eighth is the drum kit on channel 9. Each track strikes a note or a
// three-note chord every `every[t]` steps, at varied velocities.
struct Density {
    const char* name;
    int every[8];
};
// A band: piano and bass in eighths, a string pad and an organ held a bar, guitar in quarters,
// a flute melody in eighths, brass stabs every half bar, drums in eighths.
constexpr Density kBand{"band", {2, 2, 16, 4, 2, 8, 16, 2}};
// Every track busy: chords in sixteenths on two tracks, nothing held for long.
constexpr Density kDense{"dense", {1, 2, 3, 4, 1, 2, 3, 1}};

SongData ThreeMinuteSong(const Density& density, long long& notes) {
    constexpr int kSteps = 180 * 2 * 4;
    SongData song;
    song.NumSteps = kSteps;
    const std::uint8_t patches[] = {0, 33, 48, 25, 73, 61, 19};  // piano, bass, strings, guitar, flute, brass, organ
    notes = 0;
    for (int t = 0; t < 8; ++t) {
        const std::uint8_t channel = t < 7 ? static_cast<std::uint8_t>(t) : 9;
        if (t < 7) song.ChannelPatch[channel] = patches[t];
        SongTrack track{channel, SongSteps(kSteps)};
        for (int s = 0; s < kSteps; s += density.every[t]) {
            const int root = t == 7 ? 36 + (s % 8 == 4 ? 2 : 6 * (s % 2)) : 36 + 12 * (t % 4) + (s / 16) % 12;
            const int size = t == 7 || t == 1 || t == 4 ? 1 : 3;  // chords on the harmony tracks
            SongStep step{StepNotes, 0, {}};
            for (int k = 0; k < size; ++k)
                step.Notes.push_back(static_cast<std::uint8_t>(root + 4 * k - (k == 2)),
                                     static_cast<std::uint8_t>(60 + (s * 7 + t * 13) % 60));
            step.NoteCount = static_cast<std::uint8_t>(size);
            track.Steps[static_cast<std::size_t>(s)] = step;
            notes += size;
        }
        song.Tracks.push_back(std::move(track));
    }
    return song;
}

// User and system time of this process: on a machine shared with other work, the time the render
// itself took of its core.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::PrintLoadAverage();
    const std::string soundFont = argc > 1 ? argv[1] : FindGmSoundFont();
    if (soundFont.empty()) {
        std::printf("no General MIDI SoundFont installed; give one as the argument\n");
        return 1;
    }
    // One core: the render is single-threaded, and this keeps it so whatever FluidSynth decides.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);

    QTemporaryDir dir;
    std::printf("SoundFont %s, rendered to WAV 16-bit at 44.1 kHz\n", soundFont.c_str());
    for (const Density& density : {kBand, kDense}) {
        long long notes = 0;
        const SongData song = ThreeMinuteSong(density, notes);
        std::printf("%s song: %d tracks, %d steps, %.1f notes per second\n", density.name,
                    static_cast<int>(song.Tracks.size()), song.NumSteps, static_cast<double>(notes) / 180.0);
        for (const bool effects : {false, true}) {
            SoundOptions sound;
            sound.soundFont = soundFont;
            sound.reverb = sound.chorus = effects;
            const auto start = bench::Clock::now();
            const double cpuStart = CpuSeconds();
            const RenderResult r = RenderSong(SourceOf(song), dir.filePath(QStringLiteral("song.wav")), {sound});
            const double seconds = bench::MicrosBetween(start, bench::Clock::now()) / 1e6;
            const double cpu = CpuSeconds() - cpuStart;
            if (!r.ok) {
                std::printf("render failed: %s\n", qPrintable(r.message));
                return 1;
            }
            const double audio = static_cast<double>(r.frames) / 44100.0;
            std::printf("  %-22s %.1f s of audio (tail %.2f s) in %.2f s, %.2f s of CPU: %.1fx real time (%.1fx by CPU time)\n",
                        effects ? "reverb and chorus on:" : "effects off:", audio,
                        static_cast<double>(r.frames - r.songFrames) / 44100.0, seconds, cpu, audio / seconds, audio / cpu);
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %.1f MB (ru_maxrss)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    bench::PrintLoadAverage("at end");
    return 0;
}
