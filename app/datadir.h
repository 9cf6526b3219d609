#pragma once
// The folder the program's shipped files (pictures, profiles) are read from. The program sets it
// relative to its executable at start-up; tests point it at the source tree.

#include <QString>

namespace kivra {

// The installed data (<exe>/../share/kivra) when it is there, else the source tree's data folder.
QString FindDataDir();
void SetDataDir(const QString& dir);
QString DataDir();
// `relative` inside the data folder ("icons/link.svg"); the file need not exist.
QString DataPath(const QString& relative);

}  // namespace kivra
