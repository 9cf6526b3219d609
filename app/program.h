#pragma once
// Start-up and shutdown of the program.

namespace kivra {

// Loads the "default" key map, opens the saved MIDI devices, installs the key filter and shows
// the piano window. Nothing is checked: a step that fails leaves fewer sources or no sound.
void Main();

// Runs when the piano window closes: stops playback, closes the MIDI devices (releasing every
// note that sounds), removes the key filter, unloads every other window. Nothing is saved.
void Shutdown();

}  // namespace kivra
