#include "app/program.h"

#include <QApplication>

namespace {
// The program writes no log: Qt's own diagnostics (a missing runtime folder, a font fallback)
// would otherwise reach standard error.
void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}
}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(&DropMessage);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kivra"));
    QApplication::setOrganizationName(QStringLiteral("Kivra"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kivra"));
    kivra::Main();
    return app.exec();
}
