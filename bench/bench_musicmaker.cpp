// Figures for the Music Maker: how punctually playback plays its steps on the real timer, how long
// recording one note into a long song takes with the history and the window refreshing, the song's
// and the history's memory, what an empty step costs, and how long undoing the replacement of a
// long song takes. With the argument "song", only the song's figures.
#include "benchsupport.h"
#include "midi/backends/fake/fake_backend.h"
#include "midi/midiio.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/songops.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QUndoStack>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <string>
#include <malloc.h>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kivra;

namespace {

struct Figures {
    double median, p99, max;
};

Figures Summarise(const std::vector<double>& values) {
    return {bench::Percentile(values, 0.5), bench::Percentile(values, 0.99), bench::Percentile(values, 1.0)};
}

// Processes that keep a core busy each, as other programs on a loaded machine do; stopped when
// this goes out of scope.
class BusyLoops {
public:
    explicit BusyLoops(int count) {
        for (int k = 0; k < count; ++k) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::vector<pid_t> pids_;
};

// Playback's sender keeps time under load only with the real-time scheduling it asks for.
void PrintRealTimeGranted() {
    bool granted = false;
    std::thread([&] {
        sched_param param{};
        param.sched_priority = StepSender::kRealTimePriority;
        granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }).join();
    std::printf("real-time scheduling for playback's thread: %s\n", granted ? "granted" : "refused (rtprio limit)");
}

void OpenFakeOutput() {
    SetMidiBackends(std::make_unique<FakeMidiOut>(), std::make_unique<FakeMidiIn>());
    OpenMIDIOut(0);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// Plays a song of `steps` note steps at the given settings and prints each step's lateness.
void BenchPlayback(int steps, int notesPerBeat, int tempo) {
    MusicMaker& mm = TheMusicMaker();
    NewSong();
    for (int k = 0; k < steps; ++k) {
        g_lNotesDown = 0;
        RecordNote(60 + k % 12);
    }
    SetStepCount(steps);
    SetNotesPerBeat(notesPerBeat);
    SetTempo(tempo);

    std::vector<double> lateness;
    double lastDue = 0, lastPlayed = 0;
    mm.SetStepObserver([&](long long step, double due, double played) {
        if (step > steps) return;  // the tick after the last step only ends the song
        lateness.push_back(played - due);
        lastDue = due;
        lastPlayed = played;
    });
    QEventLoop loop;
    const auto connection = QObject::connect(&mm, &MusicMaker::playChanged, &loop, [&](bool on) {
        if (!on) loop.quit();
    });
    mm.SetPlay(true);
    loop.exec();
    QObject::disconnect(connection);
    mm.SetStepObserver(nullptr);

    const Figures f = Summarise(lateness);
    std::printf("playback %4d ms x %4d steps: lateness median %.3f ms, p99 %.3f ms, max %.3f ms; drift at the end %.3f ms\n",
                mm.RunningInterval(), steps, f.median, f.p99, f.max, lastPlayed - lastDue);
}

// How late the system wakes a thread from a 1 ms sleep: the floor under any timer's punctuality
// on this machine at this moment.
void BenchWakeUpBaseline() {
    std::vector<double> lateness;
    for (int k = 0; k < 500; ++k) {
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lateness.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() - 1.0);
    }
    const Figures f = Summarise(lateness);
    std::printf("baseline: wake-up lateness of a 1 ms sleep: median %.3f ms, p99 %.3f ms, max %.3f ms\n", f.median, f.p99, f.max);
}

long PeakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

// Heap bytes in use (malloc's own count, its overhead included).
std::size_t HeapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// What an empty step costs: a song of 32 tracks x 400,000 empty steps, as the heap counts it.
void BenchEmptyStepMemory() {
    constexpr std::size_t kTracks = 32, kSteps = 400'000;
    const std::size_t before = HeapBytes();
    {
        SongData song;
        song.Tracks.resize(kTracks);
        for (SongTrack& track : song.Tracks) track.Steps.resize(kSteps);
        std::printf("memory per empty step (%zu tracks x %zu steps): %.2f bytes (a step is %zu bytes)\n", kTracks, kSteps,
                    static_cast<double>(HeapBytes() - before) / static_cast<double>(kTracks * kSteps), sizeof(SongStep));
    }
}

void BenchRecording(int kSteps) {
    constexpr int kTracks = 32, kNotes = 2'000;
    MusicMaker& mm = TheMusicMaker();
    SongData song;
    song.Tracks.assign(kTracks, SongTrack{0, SongSteps(static_cast<std::size_t>(kSteps), SongStep{StepNotes, 1, {60}})});
    song.NumSteps = kSteps;
    ApplySong(std::move(song));
    frmMusicMaker window;
    window.ShowSong();
    window.show();
    QCoreApplication::processEvents();

    // At the end of the song, so every note also grows all 32 tracks by one step.
    SetCursor(0, kSteps - 1);
    mm.SetRecord(true);
    std::vector<double> micros, recordMicros, cpuMicros;
    using Micros = std::chrono::duration<double, std::micro>;
    // This thread's CPU time: on a busy machine the wall time also counts turns given to others.
    const auto threadCpuMicros = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
    };
    for (int k = 0; k < kNotes; ++k) {
        const double cpuStart = threadCpuMicros();
        const auto start = std::chrono::steady_clock::now();
        PlayNote(60 + k % 12, 100, PlayChannel());  // records, then RefreshCaptions
        StopNote(60 + k % 12, PlayChannel());
        const auto recorded = std::chrono::steady_clock::now();
        QCoreApplication::processEvents();  // the changed rows repaint here
        const auto painted = std::chrono::steady_clock::now();
        recordMicros.push_back(Micros(recorded - start).count());
        micros.push_back(Micros(painted - start).count());
        cpuMicros.push_back(threadCpuMicros() - cpuStart);
    }
    // Up to 10,000 notes in all, for what the history holds after them.
    for (int k = kNotes; k < 10'000; ++k) {
        PlayNote(60 + k % 12, 100, PlayChannel());
        StopNote(60 + k % 12, PlayChannel());
    }
    mm.SetRecord(false);
    std::printf("history after 10,000 recorded notes: %d changes holding %.2f MiB\n", SongHistory().count(),
                static_cast<double>(HistoryBytes()) / (1 << 20));
    const Figures r = Summarise(recordMicros);
    const Figures f = Summarise(micros);
    std::printf("record one note into %d tracks x %d steps (%d notes, each growing the song):\n", kTracks, kSteps, kNotes);
    std::printf("  note routed, recorded, lists refreshed: median %.1f us, p99 %.1f us, max %.1f us\n", r.median, r.p99, r.max);
    std::printf("  the same plus the repaint:              median %.1f us, p99 %.1f us, max %.1f us\n", f.median, f.p99, f.max);
    const Figures c = Summarise(cpuMicros);
    std::printf("  the same, CPU time of the UI thread:     median %.1f us, p99 %.1f us, max %.1f us\n", c.median, c.p99, c.max);
    std::printf("  worst recorded note with the window refresh at %d steps x %d tracks: %.2f ms wall, %.2f ms CPU\n", kSteps,
                kTracks, f.max / 1e3, c.max / 1e3);
    std::printf("peak memory (VmHWM) with that song: %.1f MiB\n", static_cast<double>(PeakKiB()) / 1024.0);
    ResetSong();  // the next song starts from an empty one
    SongHistory().clear();
}

// Opening a 400,000-step song replaces the whole song as one change; undoing it swaps the songs back.
void BenchUndoReplace() {
    frmMusicMaker window;
    window.show();
    QCoreApplication::processEvents();
    std::vector<double> undo, redo;
    using Millis = std::chrono::duration<double, std::milli>;
    for (int k = 0; k < 9; ++k) {
        SongData song;
        song.Tracks.assign(1, SongTrack{0, SongSteps(400'000, SongStep{StepNotes, 1, {60}})});
        song.NumSteps = 400'000;
        ApplySong(std::move(song));
        QCoreApplication::processEvents();
        for (auto* times : {&undo, &redo}) {
            const auto start = std::chrono::steady_clock::now();
            times == &undo ? SongHistory().undo() : SongHistory().redo();
            QCoreApplication::processEvents();  // the window shows the other song
            times->push_back(Millis(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::printf("undo of opening a 400,000-step song, window shown: median %.2f ms, max %.2f ms; redo median %.2f ms\n",
                bench::Percentile(undo, 0.5), bench::Percentile(undo, 1.0), bench::Percentile(redo, 0.5));
}

}  // namespace

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    InstallMusicMaker();
    OpenFakeOutput();
    std::printf("peak memory at start (VmHWM): %.1f MiB\n", static_cast<double>(PeakKiB()) / 1024.0);
    PrintRealTimeGranted();
    // "bench_musicmaker song": the song's figures only, without the minute of playback.
    const bool songOnly = argc > 1 && std::string(argv[1]) == "song";
    if (!songOnly) {
        BenchWakeUpBaseline();
        BenchPlayback(2000, 255, 240);  // 1 ms
        BenchPlayback(200, 4, 120);     // 125 ms; 200 steps keep the run at 25 s
        // Both cores of a 2-core machine taken by other programs: the timing must hold anyway.
        const BusyLoops busy(2);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("with two busy-loop processes beside it:\n");
        BenchWakeUpBaseline();
        BenchPlayback(2000, 25, 240);  // 10 ms
        BenchPlayback(200, 4, 120);    // 125 ms
        kivra::bench::PrintLoadAverage("under that load");
    }
    BenchEmptyStepMemory();
    BenchRecording(100'000);
    BenchRecording(400'000);
    BenchUndoReplace();
    ReleaseMidi();
    return 0;
}
