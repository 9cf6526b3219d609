#pragma once
// MIDI input: received short messages from the input device become key presses and releases.
// A press plays on the play channel (the percussion channel 9 stays on 9); its release stops the
// notes the press started, on the channel they started on.

#include <cstdint>

namespace kivra {

// The note dispatch of one received short message (status in bits 0-7, note in 8-15, velocity in
// 16-23). Note-on presses, note-on with velocity 0 and note-off release; any message whose data
// bytes are not 7-bit is ignored, and so is every other kind unless PassControllers() is on. Then
// control changes, pitch bend, both pressures and program changes go out unchanged but for their
// channel, the one a note would take; a program change also selects its instrument row as choosing
// it would. System messages never go out. Called on the UI thread only.
void DispatchMIDIInput(std::uint32_t message);

// Whether the input's pedals and controllers reach the output ([MIDI Devices] PassControllers,
// off unless chosen; read by OpenSavedDevices).
bool PassControllers();
void SetPassControllers(bool on);

// Hooks the dispatch to the notifier's received-message notification. Called once at start-up,
// and again after ReleaseMidi, which drops the notifier with its hook.
void InstallMidiInputDispatch();

}  // namespace kivra
