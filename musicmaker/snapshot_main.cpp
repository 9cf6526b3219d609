// kivra-snapshot-musicmaker [png]: renders the Music Maker offscreen to snapshots/musicmaker.png.
#include <QApplication>
#include <QString>

#include <cstdlib>

namespace kivra {
void SnapshotMusicMaker(const QString& pngPath);
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("snapshots/musicmaker.png");
    kivra::SnapshotMusicMaker(path);
    return 0;
}
