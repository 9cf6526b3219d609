#pragma once
// The key actions: what a computer-key press or release does while the piano window is active,
// by the key's entry in g_KeyMap. Core: no widgets; the key filter (keyboard/keyhook.h) decides
// when the piano window is active and turns Qt key events into virtual-key numbers.
// Called on the UI thread only.

#include <array>

namespace kivra {

// True while a key with a playing action (1, 2 or 6) is held, by virtual-key number.
inline std::array<bool, 256> g_bKeyDown{};

// Acts on one key event of virtual key `vk` (0..255) in the piano window; returns true when the
// event is consumed (no window may see it). `press` false is a release. A press reads the key's
// entry, the base octave and the play channel anew; a release stops the notes its press started:
// - 1 plays the notes offset + (octave + 1) x 12, skipping those above 127;
// - 2 plays the notes as note numbers;
// - 3 / 4 insert a space / break at the Music Maker's cursor while it records;
// - 5 moves the cursor back one step and empties it while the Music Maker records;
// - 6 holds the sustain pedal down (controller 64 at 127) on the play channel; its release lifts
//   it (64 at 0) on the channel the press used;
// - 0 and codes above 6 do nothing and are not consumed.
// A repeated press of a held key (auto-repeat) plays nothing more.
bool KeyAction(int vk, bool press);

// Releases every key held through the keyboard: its notes stop, its pedal lifts and its flag clears
// (the piano window stopped being active, so its releases will not reach us).
void ReleaseHeldKeys();

}  // namespace kivra
