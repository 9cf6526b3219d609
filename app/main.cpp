#include "app/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kivra"));
    QApplication::setOrganizationName(QStringLiteral("Kivra"));
    kivra::Main();
    return app.exec();
}
