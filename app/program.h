#pragma once
// Start-up and shutdown of the program.

#include <QString>

namespace kivra {

// Loads the "default" key map, opens the saved MIDI devices, installs the key filter and shows
// the piano window. Nothing is checked: a step that fails leaves fewer sources or no sound.
// Then listens for later starts of Kivra (see singleinstance.h), offers a song kept when a signal
// ended the last run, and opens `songFile` when one was given, as OpenFromOutside does. A
// termination signal (SIGTERM, SIGINT, SIGHUP) from then on runs Shutdown and keeps a changed song.
void Main(const QString& songFile = {});

// Brings the piano window to the front and opens `songFile` (empty: none) in the Music Maker, as
// its Open... would once the file is chosen: a refused file is told and the song kept, a changed
// song is not dropped without asking. What a file named on the command line or handed over by a
// later start of Kivra comes to.
void OpenFromOutside(const QString& songFile);

// Runs when the piano window closes: stops playback, closes the MIDI devices (releasing every
// note that sounds), removes the key filter, unloads every other window. Nothing is saved.
void Shutdown();

}  // namespace kivra
