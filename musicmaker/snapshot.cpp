// Renders the Music Maker with a small recorded song, for a person to look at.
#include "musicmaker/snapshot.h"

#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"

#include "midi/midiio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>

namespace kivra {

void SnapshotMusicMaker(const QString& pngPath) {
    InstallMusicMaker();
    NewSong();
    SetTrackCount(2);
    // Recorded as a player would: a held chord, a break, an empty step, then a single note.
    const int notesDown = g_lNotesDown;
    g_lNotesDown = 1;
    RecordNote(60);
    g_lNotesDown = 2;
    RecordNote(64);
    RecordNote(67);
    g_lNotesDown = 1;
    InsertBreak();
    InsertSpace();
    RecordNote(62);
    SetCursor(1, 0);
    RecordNote(48);
    InsertSpace();
    RecordNote(55);
    g_lNotesDown = notesDown;
    SetCursor(0, 2);  // the cursor row: the empty step

    frmMusicMaker window;
    window.ShowSong();
    window.show();
    QCoreApplication::processEvents();  // lets the lists learn their final size
    QDir().mkpath(QFileInfo(pngPath).absolutePath());
    window.grab().save(pngPath, "PNG");
    window.close();
}

}  // namespace kivra
