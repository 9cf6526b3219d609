#pragma once
// The one way the program talks to the user in a dialog. The program uses Qt's dialogs;
// tests script the answers and record what was shown.

#include <QString>
#include <QStringList>

#include <optional>

namespace kivra {

enum class MessageIcon { Information, Warning, Critical, Question };
enum class SaveChoice { Save, Discard, Cancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void Message(const QString& title, const QString& text, MessageIcon icon) = 0;
    // Yes/No question; true for Yes.
    virtual bool Ask(const QString& title, const QString& text) = 0;
    // Save / Discard / Cancel question about unsaved changes.
    virtual SaveChoice AskSave(const QString& title, const QString& text) = 0;
    // Input box; nullopt when cancelled. `choices` may offer known values.
    virtual std::optional<QString> Input(const QString& title, const QString& prompt, const QString& initial,
                                         const QStringList& choices = {}) = 0;
    // File dialogs; nullopt when cancelled. `filter` as in Qt ("MIDI files (*.mid)"); `proposed`
    // is the path the save dialog starts with (folder and name), empty for none. `selectedFilter`,
    // when given, is the filter the save dialog shows first and receives the one the user chose.
    virtual std::optional<QString> OpenFileName(const QString& title, const QString& filter) = 0;
    virtual std::optional<QString> SaveFileName(const QString& title, const QString& filter,
                                                const QString& proposed = QString(),
                                                QString* selectedFilter = nullptr) = 0;
};

// The program's dialogs; tests replace them. Never null once the program or a test has set it.
Dialogs& UserDialogs();
void SetUserDialogs(Dialogs* dialogs);

}  // namespace kivra
