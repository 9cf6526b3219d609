#include "app/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kivra"));
    QApplication::setOrganizationName(QStringLiteral("Kivra"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kivra")));
    kivra::Main();
    return app.exec();
}
