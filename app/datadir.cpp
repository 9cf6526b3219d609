#include "app/datadir.h"

#include <QCoreApplication>
#include <QDir>

namespace kivra {
namespace {
QString& Dir() {
    static QString dir;
    return dir;
}
}  // namespace

QString FindDataDir() {
    const QDir installed(QCoreApplication::applicationDirPath() + QStringLiteral("/" KIVRA_DATA_RELDIR));
    if (installed.exists(QStringLiteral("icons"))) return installed.canonicalPath();
    return QStringLiteral(KIVRA_SOURCE_DATA_DIR);
}

void SetDataDir(const QString& dir) { Dir() = dir; }
QString DataDir() { return Dir(); }
QString DataPath(const QString& relative) { return QDir(Dir()).filePath(relative); }

}  // namespace kivra
