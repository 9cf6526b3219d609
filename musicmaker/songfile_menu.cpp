#include "musicmaker/songfile_menu.h"

#include "formats/smf_export.h"
#include "formats/smf_import.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/render.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QProgressDialog>

#include <thread>

namespace kivra {

namespace {

QString Filter() { return frmMusicMaker::tr("Standard MIDI Files (*.mid);;All Files (*)"); }
QString ImportTitle() { return QCoreApplication::translate("MidiFiles", kImportTitle); }
QString ExportTitle() { return QCoreApplication::translate("MidiFiles", kExportTitle); }
// The save dialog's choices of sound file; their names are the formats' own.
const QString kWav16 = QStringLiteral("WAV 16-bit (*.wav)");
const QString kWav24 = QStringLiteral("WAV 24-bit (*.wav)");
const QString kFlac = QStringLiteral("FLAC (*.flac)");

// Lives as a child of the window, so the files last used go with the window.
class SongFileActions : public QObject {
public:
    explicit SongFileActions(frmMusicMaker& window) : QObject(&window), window_(window) {
        setObjectName(QStringLiteral("songFileActions"));
        connect(&window, &frmMusicMaker::songStarted, this, [this] {
            exported_.clear();
            opened_.clear();
        });
    }

    void Open() {
        const QString title = ImportTitle();
        const std::optional<QString> name = UserDialogs().OpenFileName(title, Filter());
        if (name && !name->isEmpty()) OpenFile(*name);
    }

    void OpenFile(const QString& name) {
        const QString title = ImportTitle();
        ImportResult result = ReadMIDIFile(name);
        if (!result.Accepted()) {
            UserDialogs().Message(title,
                                  frmMusicMaker::tr("The file was not opened: %1.\n\nThe song was left as it was.")
                                      .arg(result.Describe()),
                                  MessageIcon::Critical);
            return;
        }
        if (!MayDrop(title)) return;
        // The notes sounding now belong to the song being replaced.
        if (TheMusicMaker().PlayChecked()) TheMusicMaker().SetPlay(false);
        ApplySong(std::move(*result.song));
        opened_ = name;
        exported_.clear();  // Save... must not write this song over a file exported from another
        window_.ShowSong();
        window_.ShowStatus(result.timing.Describe(g_lNotesPerBeat));
    }

    void Export() { ExportThroughDialog(QString()); }

    bool Save() { return exported_.isEmpty() ? ExportThroughDialog(ProposedName()) : ExportTo(exported_); }

    // Renders a copy of the song on a thread of its own while a progress dialog keeps the window
    // responsive and offers Cancel; returns once the render has ended.
    void ExportAudio() {
        const QString title = QCoreApplication::translate("MidiFiles", kExportAudioTitle);
        QString filter = kWav16;
        std::optional<QString> name =
            UserDialogs().SaveFileName(title, QStringList{kWav16, kWav24, kFlac}.join(QStringLiteral(";;")), {}, &filter);
        if (!name || name->isEmpty()) return;
        // The name's extension chooses the format; a name without one takes the chosen filter's.
        const AudioFormat wav = filter == kWav24 ? AudioFormat::Wav24 : AudioFormat::Wav16;
        if (!AudioFormatOf(*name)) *name += filter == kFlac ? QStringLiteral(".flac") : QStringLiteral(".wav");
        const RenderSettings settings{LoadSoundOptions(), *AudioFormatOf(*name, wav)};
        const SongSource current = CurrentSong();
        SongData song{{current.Tracks.begin(), current.Tracks.end()}, current.NumSteps, current.Tempo,
                      current.NotesPerBeat, current.ChannelPatch};

        QProgressDialog progress(frmMusicMaker::tr("Rendering the song to %1...").arg(QFileInfo(*name).fileName()),
                                 frmMusicMaker::tr("Cancel"), 0, 1000, &window_);
        progress.setWindowTitle(title);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        std::atomic<bool> cancel{false};
        connect(&progress, &QProgressDialog::canceled, this, [&cancel] { cancel = true; });
        QEventLoop waiting;
        RenderResult result;
        {
            std::jthread worker([&] {
                result = RenderSong(SourceOf(song), *name, settings, [&progress](double done) {
                    // Short of the maximum, which would close the dialog while the tail is still written.
                    QMetaObject::invokeMethod(&progress, [&progress, done] {
                        progress.setValue(static_cast<int>(done * 999));
                    }, Qt::QueuedConnection);
                }, &cancel);
                QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
            });
            waiting.exec();
            cancel = true;  // the program quitting ends the loop early: the render stops with it
        }
        if (result.ok)
            UserDialogs().Message(title, frmMusicMaker::tr("The song was written to %1.").arg(*name), MessageIcon::Information);
        else if (!result.cancelled)
            UserDialogs().Message(title, result.message, MessageIcon::Critical);
    }

    bool MayDrop(const QString& title) {
        if (!SongChanged()) return true;
        switch (UserDialogs().AskSave(title, frmMusicMaker::tr("Save changes to the song?"))) {
        case SaveChoice::Save:
            return Save();
        case SaveChoice::Discard:
            return true;
        case SaveChoice::Cancel:
            break;
        }
        return false;
    }

private:
    bool ExportThroughDialog(const QString& proposed) {
        const std::optional<QString> name = UserDialogs().SaveFileName(ExportTitle(), Filter(), proposed);
        if (!name || name->isEmpty() || !ExportTo(*name)) return false;
        exported_ = *name;
        return true;
    }

    bool ExportTo(const QString& name) {
        const ExportResult result = ExportMIDIFile(name);
        if (!result.ok) {
            UserDialogs().Message(ExportTitle(), result.message, MessageIcon::Critical);
            return false;
        }
        UserDialogs().Message(ExportTitle(), QCoreApplication::translate("MidiFiles", kExportSucceeded), MessageIcon::Information);
        return true;
    }

    // Beside the opened file, a name no file has yet: "song (edited).mid", "song (edited 2).mid"...
    QString ProposedName() const {
        if (opened_.isEmpty()) return {};
        const QFileInfo opened(opened_);
        const QString base = opened.completeBaseName();
        for (int n = 1;; ++n) {
            const QString name = n == 1 ? frmMusicMaker::tr("%1 (edited).mid").arg(base)
                                        : frmMusicMaker::tr("%1 (edited %2).mid").arg(base).arg(n);
            const QString path = opened.dir().filePath(name);
            if (!QFileInfo::exists(path) || n == 1000) return path;
        }
    }

    frmMusicMaker& window_;
    QString exported_;  // the file last exported through the dialog: where Save... writes unasked
    QString opened_;    // the file last opened: Save... proposes its folder
};

SongFileActions* ActionsOf(frmMusicMaker& window) {
    return static_cast<SongFileActions*>(
        window.findChild<QObject*>(QStringLiteral("songFileActions"), Qt::FindDirectChildrenOnly));
}

QAction* AddItem(QMenu* menu, QAction* before, const char* name, const char* caption) {
    auto* action = new QAction(frmMusicMaker::tr(caption), menu);  // owned by the menu
    action->setObjectName(QString::fromLatin1(name));
    menu->insertAction(before, action);
    return action;
}

// Filters the close of a window so that a cancelled question keeps it open.
class CloseGuard : public QObject {
public:
    CloseGuard(QWidget& closing, std::function<frmMusicMaker&()> musicMaker)
        : QObject(&closing), musicMaker_(std::move(musicMaker)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close || !SongChanged()) return QObject::eventFilter(watched, event);
        if (MayDropSong(musicMaker_(), QStringLiteral("Kivra"))) return false;
        event->ignore();
        return true;
    }

private:
    std::function<frmMusicMaker&()> musicMaker_;
};

}  // namespace

void InstallSongFileMenu(frmMusicMaker& window) {
    QMenu* menu = window.FileMenu();
    auto* actions = new SongFileActions(window);  // owned by the window

    // Insert right after "New"; whatever the menu held after it stays after these items.
    const QList<QAction*> existing = menu->actions();
    QAction* before = nullptr;
    for (qsizetype i = 0; i < existing.size(); ++i)
        if (existing[i]->objectName() == QLatin1String("mnuNew") && i + 1 < existing.size()) before = existing[i + 1];

    QAction* mnuOpen = AddItem(menu, before, "mnuOpen", QT_TRANSLATE_NOOP("kivra::frmMusicMaker", "&Open..."));
    mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* mnuSave = AddItem(menu, before, "mnuSave", QT_TRANSLATE_NOOP("kivra::frmMusicMaker", "&Save..."));
    mnuSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* sepFile = AddItem(menu, before, "sepFile", "");
    sepFile->setSeparator(true);
    QAction* mnuExport = AddItem(menu, before, "mnuExport", QT_TRANSLATE_NOOP("kivra::frmMusicMaker", "E&xport to MIDI..."));
    QAction* mnuExportAudio = AddItem(menu, before, "mnuExportAudio", QT_TRANSLATE_NOOP("kivra::frmMusicMaker", "Export &Audio..."));
    QAction* mnuImport = AddItem(menu, before, "mnuImport", QT_TRANSLATE_NOOP("kivra::frmMusicMaker", "&Import MIDI..."));

    QObject::connect(mnuOpen, &QAction::triggered, actions, [actions] { actions->Open(); });
    QObject::connect(mnuImport, &QAction::triggered, actions, [actions] { actions->Open(); });
    QObject::connect(mnuSave, &QAction::triggered, actions, [actions] { actions->Save(); });
    QObject::connect(mnuExport, &QAction::triggered, actions, [actions] { actions->Export(); });
    QObject::connect(mnuExportAudio, &QAction::triggered, actions, [actions] { actions->ExportAudio(); });
}

bool MayDropSong(frmMusicMaker& window, const QString& title) {
    // Without the menu there is no Save... to offer, nor a way to have changed the song.
    SongFileActions* actions = ActionsOf(window);
    return !actions || actions->MayDrop(title);
}

void OpenSongFile(frmMusicMaker& window, const QString& path) {
    if (SongFileActions* actions = ActionsOf(window)) actions->OpenFile(path);
}

void AskBeforeClosing(QWidget& closing, std::function<frmMusicMaker&()> musicMaker) {
    closing.installEventFilter(new CloseGuard(closing, std::move(musicMaker)));  // owned by `closing`
}

}  // namespace kivra
