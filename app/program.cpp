#include "app/program.h"

#include "app/datadir.h"
#include "app/frmpiano.h"
#include "app/singleinstance.h"
#include "app/windows.h"
#include "keyboard/frmkeyconfig.h"
#include "keyboard/keyhook.h"
#include "keyboard/keymap.h"
#include "link/frmlink.h"
#include "midi/backends/system_backends.h"
#include "midi/devices.h"
#include "midi/frmdevices.h"
#include "midi/frmsound.h"
#include "midi/midiinput.h"
#include "midi/midiio.h"
#include "midi/sound.h"
#include "formats/smf_export.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/songfile_menu.h"
#include "musicmaker/songops.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QIcon>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <array>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace kivra {
namespace {

QPointer<frmPiano> g_piano;
QPointer<frmMusicMaker> g_musicMaker;
QPointer<frmDevices> g_devices;
QPointer<frmKeyConfig> g_keyConfig;
QPointer<frmLink> g_link;
QPointer<frmSound> g_sound;

// The other windows are owned by the piano window and are top-level windows of their own.
template <typename Window> Window& Lazy(QPointer<Window>& slot) {
    if (!slot) {
        slot = new Window(g_piano);
        slot->setWindowFlag(Qt::Window, true);
    }
    return *slot;
}

// Shows a window that may exist already, in front of the others.
void Raise(QWidget& window) {
    window.show();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

Q_LOGGING_CATEGORY(lcProgram, "kivra.program")

// A song that changed since it was saved when a signal ended Kivra is kept here; the next start
// offers it once, then moves it to the "told" folder below, where it stays.
QString KeptSongsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Kivra/unsaved songs");
}

void KeepUnsavedSong() {
    if (!SongChanged()) return;
    const QString path = KeptSongsFolder() + QDateTime::currentDateTime().toString(QStringLiteral("'/'yyyy-MM-dd hh.mm.ss'.mid'"));
    std::vector<int> lastStep;
    const ExportResult result = QDir().mkpath(KeptSongsFolder()) ? WriteFileReplacing(path, EncodeMIDIFile(CurrentSong(), lastStep))
                                                                : ExportResult{false, QStringLiteral("the folder cannot be made")};
    if (result.ok) qCWarning(lcProgram).noquote() << "the unsaved song was kept as" << path;
    else qCWarning(lcProgram).noquote() << "the unsaved song could not be kept as" << path << ":" << result.message;
}

void OfferKeptSong() {
    const QDir folder(KeptSongsFolder());
    const QStringList kept = folder.entryList({QStringLiteral("*.mid")}, QDir::Files, QDir::Time);  // newest first
    if (kept.isEmpty() || !folder.mkpath(QStringLiteral("told"))) return;
    for (const QString& name : kept) QFile::rename(folder.filePath(name), folder.filePath(QStringLiteral("told/") + name));
    const QString newest = folder.filePath(QStringLiteral("told/") + kept.first());
    if (UserDialogs().Ask(QStringLiteral("Kivra"),
                          QCoreApplication::translate("Program", "Kivra was ended before the song was saved. It was kept as "
                                                                 "%1.\n\nOpen it in the Music Maker?")
                              .arg(QDir::toNativeSeparators(newest))))
        OpenFromOutside(newest);
}

// A termination signal (logout, Ctrl+C, kill) ends Kivra as closing the piano would, without
// asking: nothing may go on sounding on an external synthesizer, the JACK and sequencer ports
// close, and a changed song is kept for the next start. The handler only writes a byte; the event
// loop does the rest (Qt's documented way).
struct SignalPipe {
    std::array<int, 2> fds{-1, -1};
    SignalPipe() { (void)::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds.data()); }
    ~SignalPipe() { for (int fd : fds) if (fd >= 0) ::close(fd); }
};
SignalPipe& Signals() {
    static SignalPipe pipe;
    return pipe;
}

void QuitOnTerminationSignals(QObject* owner) {
    if (Signals().fds[0] < 0) return;
    auto* notifier = new QSocketNotifier(Signals().fds[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [notifier] {
        char signal = 0;
        (void)::read(Signals().fds[1], &signal, 1);
        notifier->setEnabled(false);
        Shutdown();
        KeepUnsavedSong();
        if (g_piano) g_piano->deleteLater();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = [](int) { const char byte = 1; (void)::write(Signals().fds[0], &byte, 1); };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

frmPiano* PianoWindow() { return g_piano; }
frmMusicMaker& MusicMakerWindow() {
    const bool created = !g_musicMaker;
    auto& window = Lazy(g_musicMaker);
    if (created) InstallSongFileMenu(window);
    return window;
}
frmDevices& DevicesWindow() { return Lazy(g_devices); }
frmKeyConfig& KeyConfigWindow() { return Lazy(g_keyConfig); }
frmLink& LinkWindow() { return Lazy(g_link); }
frmSound& SoundWindow() { return Lazy(g_sound); }

void OpenFromOutside(const QString& songFile) {
    if (!g_piano) return;
    Raise(*g_piano);
    if (songFile.isEmpty()) return;
    auto& window = MusicMakerWindow();
    Raise(window);
    OpenSongFile(window, songFile);
}

void Main(const QString& songFile) {
    SetDataDir(FindDataDir());
    QApplication::setWindowIcon(QIcon(DataPath(QStringLiteral("icons/kivra.svg"))));
    SetInstalledProfilesDir(DataPath(QStringLiteral("keymaps")));
    LoadKeyMap(QStringLiteral("default"));
    LoadPlayingSettings();
    auto system = MakeSystemMidi(Notifier());
    SetMidiBackends(std::move(system.out), std::move(system.in));
    InstallMidiInputDispatch();
    InstallMusicMaker();
    OpenSavedDevices();

    g_piano = new frmPiano();
    InstallKeyboardHook(g_piano);
    g_piano->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(g_piano, &frmPiano::closing, [] { Shutdown(); });
    AskBeforeClosing(*g_piano, []() -> frmMusicMaker& { return MusicMakerWindow(); });
    QObject::connect(g_piano, &frmPiano::keyConfigRequested, [] { KeyConfigWindow().exec(); });
    QObject::connect(g_piano, &frmPiano::devicesRequested, [] { DevicesWindow().exec(); });
    QObject::connect(g_piano, &frmPiano::musicMakerRequested, [] { Raise(MusicMakerWindow()); });
    QObject::connect(g_piano, &frmPiano::soundRequested, [] { Raise(SoundWindow()); });
    QObject::connect(g_piano, &frmPiano::linkRequested, [] { Raise(LinkWindow()); });
    g_piano->show();
    new RunningKivra(g_piano, &OpenFromOutside);  // owned by the piano window: listens while it lives
    QuitOnTerminationSignals(g_piano);
    // Once, over the shown window; the piano's caption keeps saying it while no output is open.
    // Only what was known at opening: a SoundFont that fails later is shown by the piano. The
    // song file after it, so that its own message comes second.
    QMetaObject::invokeMethod(
        g_piano,
        [problem = OutputProblem(), songFile] {
            ReportOutputProblem(problem);
            OfferKeptSong();
            if (!songFile.isEmpty()) OpenFromOutside(songFile);
        },
        Qt::QueuedConnection);
}

void Shutdown() {
    // Nothing may sound once Kivra has gone: playback ends first, so that no step comes after,
    // and closing the output releases every note still sounding.
    TheMusicMaker().SetPlay(false);
    CloseMIDIDevices();
    RemoveKeyboardHook();
    // Unload the other windows while the piano still exists: their unload steps may play notes off.
    for (QWidget* window : std::initializer_list<QWidget*>{g_musicMaker, g_link, g_devices, g_keyConfig, g_sound})
        if (window) window->close();
    ReleaseMidi();
}

}  // namespace kivra
