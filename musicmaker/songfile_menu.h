#pragma once
// The Music Maker's song file items: "Open..." and "Import MIDI..." read a Standard MIDI File into
// the song, "Export to MIDI..." writes the song to one, "Save..." writes it to the file last
// exported or opened (asking for a name the first time). Refused files and failed writes are
// told to the user; the song and any file already on disk stay as they were.

class QAction;

namespace kivra {

class frmMusicMaker;

// Adds the items to the window's File menu around "New": New, Open..., Save..., a separator,
// Export to MIDI..., Import MIDI... Call once per window.
void InstallSongFileMenu(frmMusicMaker& window);

}  // namespace kivra
