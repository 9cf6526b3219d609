#pragma once
// Helpers shared by the suites: fake MIDI devices that are open, recording stand-ins for what the
// note routing reaches, scripted dialogs and a full disk.

#include "midi/backends/fake/fake_backend.h"
#include "midi/backends/jack/jack_ports.h"
#include "midi/midiio.h"
#include "widgets/dialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <QString>

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include <sys/resource.h>

namespace kivra::test {

// Handles queued notifications (the driver's "opened", received input) as the event loop would.
inline void ProcessEvents() { QCoreApplication::sendPostedEvents(); QCoreApplication::processEvents(); }

// Forgets every saved setting, as on a machine where the program never ran.
inline void ClearSettings() { QSettings(QStringLiteral("Kivra"), QStringLiteral("Kivra")).clear(); }

// A file's bytes ("<missing>" when it cannot be read), and a file made of `bytes`.
inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A JACK server of the test's own while this lives: jackd's dummy driver under a name no other test
// uses. Running() is false where jackd is missing. With `start` false the name is of a server that
// never runs. Either way libjack's clients (ours, jack_lsp) reach this one only.
struct JackServer {
    explicit JackServer(bool start = true) {
        static int count = 0;
        const QByteArray name = "kivra-test-" + QByteArray::number(QCoreApplication::applicationPid()) + '-' +
                                QByteArray::number(++count);
        qputenv("JACK_DEFAULT_SERVER", name);
        if (!start) return;
        jackd.start(QStringLiteral("jackd"),
                    QStringLiteral("--no-realtime --name %1 -d dummy -r 48000 -p 256").arg(QString::fromLatin1(name)).split(' '));
        jackd.waitForStarted();
        for (int i = 0; i < 250 && jackd.state() == QProcess::Running && !JackServerRunning(); ++i) QThread::msleep(20);
    }
    ~JackServer() {
        jackd.terminate();
        if (!jackd.waitForFinished(5000)) jackd.kill(), jackd.waitForFinished();
        qunsetenv("JACK_DEFAULT_SERVER");
    }
    bool Running() const { return jackd.state() == QProcess::Running && JackServerRunning(); }
    // What a JACK tool prints, e.g. Tool("jack_lsp").
    static QString Tool(const QString& program, const QStringList& arguments = {}) {
        QProcess p;
        p.start(program, arguments);
        p.waitForFinished();
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }
    QProcess jackd;
};

// Installs fake backends for the rest of the test and resets the program-wide note state.
// With `open`, opens output device 0 and handles its "opened" notification.
struct FakeMidi {
    explicit FakeMidi(bool open = true, std::vector<std::string> outNames = {"Kivra Software Synth"},
                      std::vector<std::string> inNames = {}) {
        auto o = std::make_unique<FakeMidiOut>(std::move(outNames));
        auto i = std::make_unique<FakeMidiIn>(std::move(inNames));
        out = o.get();
        in = i.get();
        ResetNoteState();
        SetMidiBackends(std::move(o), std::move(i));
        if (open) OpenMIDIOut(0), ProcessEvents();
    }
    ~FakeMidi() { ReleaseMidi(); ResetNoteState(); }
    FakeMidi(const FakeMidi&) = delete;
    FakeMidi& operator=(const FakeMidi&) = delete;

    FakeMidiOut* out;  // owned by the note routing
    FakeMidiIn* in;
    std::string SentHex() const { return out->SentHex(); }
    void ClearSent() { out->sent.clear(); }
};

// Registered as the note routing's `Port` while it lives. The fields that tests set (drum,
// record, channel...) are what a fake answers; the others record what it was asked.
template <typename Port, void (*Set)(Port*), Port* (*Get)()> struct Registered : Port {
    Registered() { Set(this); }
    ~Registered() override { if (Get() == this) Set(nullptr); }
};

struct FakePiano : Registered<PianoPort, SetPianoPort, GetPianoPort> {
    struct KeyLook { Rgb colour; bool pressed; };
    std::map<int, KeyLook> keys;
    std::vector<int> selectedPatches, instruments;
    std::vector<bool> locks;
    bool drum = false;
    int octave = 4, captionUpdates = 0;

    void ShowKey(int note, Rgb colour, bool pressed) override { keys[note] = {colour, pressed}; }
    void SelectPatchRow(int patch) override { selectedPatches.push_back(patch); }
    bool DrumModeChecked() const override { return drum; }
    int BaseOctave() const override { return octave; }
    void UpdateInstrument(int patch) override { instruments.push_back(patch); }
    void SetRecordingLock(bool recording) override { locks.push_back(recording); }
    void UpdateCaptions() override { ++captionUpdates; }
};

struct FakeRecorder : Registered<RecorderPort, SetRecorderPort, GetRecorderPort> {
    bool record = false;
    int channel = 0;
    std::vector<int> recorded, velocities;
    std::vector<int> notesDownWhenRecorded;  // g_lNotesDown as the recorder saw it
    bool RecordChecked() const override { return record; }
    int CurrentTrackChannel() const override { return channel; }
    void RecordNote(int note, int velocity) override {
        recorded.push_back(note), velocities.push_back(velocity), notesDownWhenRecorded.push_back(g_lNotesDown);
    }
};

struct FakeLink : Registered<LinkPort, SetLinkPort, GetLinkPort> {
    bool connected = true;
    std::vector<std::uint32_t> sent;
    bool Connected() const override { return connected; }
    void SendMessage(std::uint32_t packed) override { sent.push_back(packed); }
};

// Dialogs that answer from a script and remember what they showed.
struct ScriptedDialogs : Dialogs {
    struct Shown { QString title, text; MessageIcon icon; };
    std::vector<Shown> shown;
    std::deque<bool> answers;                     // Ask: popped front; No when empty
    std::deque<std::optional<QString>> inputs;    // Input, OpenFileName, SaveFileName: popped front; cancel when empty
    std::deque<SaveChoice> saveChoices;           // AskSave: popped front; Cancel when empty
    QStringList proposed;                         // what each SaveFileName proposed

    ScriptedDialogs() : previous_(&UserDialogs()) { SetUserDialogs(this); }
    ~ScriptedDialogs() override { SetUserDialogs(previous_); }
    void Message(const QString& title, const QString& text, MessageIcon icon) override {
        shown.push_back({title, text, icon});
    }
    bool Ask(const QString& title, const QString& text) override { return Pop(title, text, answers, false); }
    SaveChoice AskSave(const QString& title, const QString& text) override {
        return Pop(title, text, saveChoices, SaveChoice::Cancel);
    }
    std::optional<QString> Input(const QString& title, const QString& prompt, const QString&,
                                 const QStringList&) override {
        return Pop(title, prompt, inputs, {});
    }
    std::optional<QString> OpenFileName(const QString& title, const QString& filter) override {
        return Pop(title, filter, inputs, {});
    }
    std::optional<QString> SaveFileName(const QString& title, const QString& filter, const QString& proposal, QString*) override {
        proposed << proposal;
        return Pop(title, filter, inputs, {});
    }

private:
    // Records the question and takes the next answer, or keeps `answer` when the script has run out.
    template <typename T> T Pop(const QString& title, const QString& text, std::deque<T>& script, T answer) {
        shown.push_back({title, text, MessageIcon::Question});
        if (!script.empty()) { answer = script.front(); script.pop_front(); }
        return answer;
    }
    Dialogs* previous_;
};

// While it lives, no file of this process grows past `bytes`: writes beyond fail (EFBIG) as they
// would on a full disk.
struct FileSizeLimit {
    explicit FileSizeLimit(long long bytes) {
        const rlimit tiny{static_cast<rlim_t>(bytes), old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); std::signal(SIGXFSZ, handler); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old = [] { rlimit r{}; getrlimit(RLIMIT_FSIZE, &r); return r; }();
};

}  // namespace kivra::test
