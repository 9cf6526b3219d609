#include "musicmaker/songfile_menu.h"

#include "app/dialogs.h"
#include "formats/smf_export.h"
#include "formats/smf_import.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"

#include <QAction>
#include <QMenu>

namespace kivra {

namespace {

const QString kFilter = QStringLiteral("Standard MIDI Files (*.mid);;All Files (*)");

// Lives as a child of the window, so the file last used goes with the window.
class SongFileActions : public QObject {
public:
    explicit SongFileActions(frmMusicMaker& window) : QObject(&window), window_(window) {
        setObjectName(QStringLiteral("songFileActions"));
    }

    void Open() {
        const std::optional<QString> name = UserDialogs().OpenFileName(QString::fromLatin1(kImportTitle), kFilter);
        if (!name || name->isEmpty()) return;
        ImportResult result = ReadMIDIFile(*name);
        if (!result.Accepted()) {
            UserDialogs().Message(QString::fromLatin1(kImportTitle),
                                  QStringLiteral("The file was not opened: %1.\n\nThe song was left as it was.")
                                      .arg(result.Describe()),
                                  MessageIcon::Critical);
            return;
        }
        // The notes sounding now belong to the song being replaced.
        if (TheMusicMaker().PlayChecked()) TheMusicMaker().SetPlay(false);
        ApplySong(std::move(*result.song));
        lastFile_ = *name;
        window_.ShowSong();
    }

    void Export() {
        const std::optional<QString> name = UserDialogs().SaveFileName(QString::fromLatin1(kExportTitle), kFilter);
        if (name && !name->isEmpty()) ExportTo(*name);
    }

    void Save() {
        if (lastFile_.isEmpty())
            Export();
        else
            ExportTo(lastFile_);
    }

private:
    void ExportTo(const QString& name) {
        const ExportResult result = ExportMIDIFile(name);
        if (!result.ok) {
            UserDialogs().Message(QString::fromLatin1(kExportTitle), result.message, MessageIcon::Critical);
            return;
        }
        lastFile_ = name;
        UserDialogs().Message(QString::fromLatin1(kExportTitle), QString::fromLatin1(kExportSucceeded), MessageIcon::Information);
    }

    frmMusicMaker& window_;
    QString lastFile_;  // the file last exported or opened: where "Save..." writes
};

QAction* AddItem(QMenu* menu, QAction* before, const char* name, const char* caption) {
    auto* action = new QAction(QString::fromLatin1(caption), menu);  // owned by the menu
    action->setObjectName(QString::fromLatin1(name));
    menu->insertAction(before, action);
    return action;
}

}  // namespace

void InstallSongFileMenu(frmMusicMaker& window) {
    QMenu* menu = window.FileMenu();
    auto* actions = new SongFileActions(window);  // owned by the window

    // Insert right after "New"; whatever the menu held after it stays after these items.
    const QList<QAction*> existing = menu->actions();
    QAction* before = nullptr;
    for (qsizetype i = 0; i < existing.size(); ++i)
        if (existing[i]->objectName() == QLatin1String("mnuNew") && i + 1 < existing.size()) before = existing[i + 1];

    QAction* mnuOpen = AddItem(menu, before, "mnuOpen", "&Open...");
    mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* mnuSave = AddItem(menu, before, "mnuSave", "&Save...");
    mnuSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* sepFile = AddItem(menu, before, "sepFile", "");
    sepFile->setSeparator(true);
    QAction* mnuExport = AddItem(menu, before, "mnuExport", "E&xport to MIDI...");
    QAction* mnuImport = AddItem(menu, before, "mnuImport", "&Import MIDI...");

    QObject::connect(mnuOpen, &QAction::triggered, actions, [actions] { actions->Open(); });
    QObject::connect(mnuImport, &QAction::triggered, actions, [actions] { actions->Open(); });
    QObject::connect(mnuSave, &QAction::triggered, actions, [actions] { actions->Save(); });
    QObject::connect(mnuExport, &QAction::triggered, actions, [actions] { actions->Export(); });
}

}  // namespace kivra
