#pragma once
#include <QString>

namespace kivra {
// Renders the Music Maker with a small recorded song (chord, break, empty step, cursor row) to PNG.
void SnapshotMusicMaker(const QString& pngPath);
}  // namespace kivra
