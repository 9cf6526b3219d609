#pragma once
// The Music Maker's song file items: "Open..." and "Import MIDI..." read a Standard MIDI File into
// the song, "Export to MIDI..." writes the song to a file the user names, "Save..." writes it
// again to the file this window last exported through that dialog (otherwise it shows the dialog,
// proposing a new name beside the file last opened, so an opened file is never written over
// unasked), "Export Audio..." renders the song to a WAV or FLAC file with progress and Cancel. Refused files and failed writes are told to the user; the song and any file already
// on disk stay as they were. A song with unsaved changes is never dropped without asking.

#include <functional>

class QString;
class QWidget;

namespace kivra {

class frmMusicMaker;

// Adds the items to the window's File menu around "New": New, Open..., Save..., a separator,
// Export to MIDI..., Export Audio..., Import MIDI... Call once per window.
void InstallSongFileMenu(frmMusicMaker& window);

// Before the song is replaced or dropped: when it changed since it was last exported, opened or
// started, asks "Save changes to the song?" (Save runs Save...). True when the caller may go on:
// nothing changed, Discard, or a Save that wrote the file.
bool MayDropSong(frmMusicMaker& window, const QString& title);

// Opens `path` as Open... does once its dialog has named the file: for a file given to Kivra
// from outside (the command line, a later start).
void OpenSongFile(frmMusicMaker& window, const QString& path);

// Makes every close of `closing` (the piano window, whose close ends the program) ask
// MayDropSong first; Cancel, or a Save that was cancelled or failed, keeps it open.
// `musicMaker` gives the Music Maker window, asked only when the song has changes.
void AskBeforeClosing(QWidget& closing, std::function<frmMusicMaker&()> musicMaker);

}  // namespace kivra
