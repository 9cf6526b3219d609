#include "app/program.h"
#include "app/translations.h"

#include <QApplication>
#include <QLoggingCategory>

#include <cstring>

namespace {
QtMessageHandler g_qtHandler = nullptr;

// Kivra's own categories (kivra.synth, kivra.link, ...) are its log on standard error, warnings
// and worse unless QT_LOGGING_RULES asks for more. Qt's own diagnostics (a missing runtime
// folder, a font fallback) tell a player nothing and are dropped unless asked for the same way.
void FilterMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const bool ours = context.category && std::strncmp(context.category, "kivra.", 6) == 0;
    if ((ours || qEnvironmentVariableIsSet("QT_LOGGING_RULES")) && g_qtHandler) g_qtHandler(type, context, text);
}
}  // namespace

int main(int argc, char** argv) {
    QLoggingCategory::setFilterRules(QStringLiteral("kivra.*.debug=false\nkivra.*.info=false"));
    g_qtHandler = qInstallMessageHandler(&FilterMessage);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kivra"));
    QApplication::setOrganizationName(QStringLiteral("Kivra"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kivra"));
    kivra::InstallTranslations();
    kivra::Main();
    return app.exec();
}
