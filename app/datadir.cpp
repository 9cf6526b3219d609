#include "app/datadir.h"

#include <QDir>

namespace kivra {
namespace {
QString& Dir() {
    static QString dir;
    return dir;
}
}  // namespace

void SetDataDir(const QString& dir) { Dir() = dir; }
QString DataDir() { return Dir(); }
QString DataPath(const QString& relative) { return QDir(Dir()).filePath(relative); }

}  // namespace kivra
