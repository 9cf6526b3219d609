#pragma once
// The folder the program's shipped files (pictures, profiles) are read from. The program sets it
// relative to its executable at start-up; tests point it at the source tree.

#include <QString>

namespace kivra {

void SetDataDir(const QString& dir);
QString DataDir();
// `relative` inside the data folder ("icons/link.svg"); the file need not exist.
QString DataPath(const QString& relative);

}  // namespace kivra
