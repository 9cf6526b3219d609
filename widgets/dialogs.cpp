#include "widgets/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace kivra {
namespace {

class QtDialogs : public Dialogs {
public:
    void Message(const QString& title, const QString& text, MessageIcon icon) override {
        QMessageBox box(ToQt(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
    bool Ask(const QString& title, const QString& text) override {
        return QMessageBox::question(QApplication::activeWindow(), title, text) == QMessageBox::Yes;
    }
    SaveChoice AskSave(const QString& title, const QString& text) override {
        const auto button = QMessageBox::question(QApplication::activeWindow(), title, text,
                                                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                                  QMessageBox::Save);
        return button == QMessageBox::Save ? SaveChoice::Save : button == QMessageBox::Discard ? SaveChoice::Discard
                                                                                               : SaveChoice::Cancel;
    }
    std::optional<QString> Input(const QString& title, const QString& prompt, const QString& initial,
                                 const QStringList& choices) override {
        bool ok = false;
        QString value;
        if (choices.isEmpty()) {
            value = QInputDialog::getText(QApplication::activeWindow(), title, prompt, QLineEdit::Normal, initial, &ok);
        } else {
            const int current = std::max(0, static_cast<int>(choices.indexOf(initial)));
            value = QInputDialog::getItem(QApplication::activeWindow(), title, prompt, choices, current, true, &ok);
        }
        if (!ok) return std::nullopt;
        return value;
    }
    std::optional<QString> OpenFileName(const QString& title, const QString& filter) override {
        const QString name = QFileDialog::getOpenFileName(QApplication::activeWindow(), title, {}, filter);
        if (name.isEmpty()) return std::nullopt;
        return name;
    }
    std::optional<QString> SaveFileName(const QString& title, const QString& filter, const QString& proposed,
                                        QString* selectedFilter) override {
        const QString name =
            QFileDialog::getSaveFileName(QApplication::activeWindow(), title, proposed, filter, selectedFilter);
        if (name.isEmpty()) return std::nullopt;
        return name;
    }

private:
    static QMessageBox::Icon ToQt(MessageIcon icon) {
        switch (icon) {
            case MessageIcon::Information: return QMessageBox::Information;
            case MessageIcon::Warning: return QMessageBox::Warning;
            case MessageIcon::Critical: return QMessageBox::Critical;
            case MessageIcon::Question: return QMessageBox::Question;
        }
        return QMessageBox::NoIcon;
    }
};

QtDialogs g_qtDialogs;
Dialogs* g_dialogs = &g_qtDialogs;

}  // namespace

Dialogs& UserDialogs() { return *g_dialogs; }
void SetUserDialogs(Dialogs* dialogs) { g_dialogs = dialogs ? dialogs : &g_qtDialogs; }

}  // namespace kivra
