#pragma once
// The program's backends: output device 0 is the built-in synthesizer, RtMidi ports follow;
// inputs are RtMidi ports.

#include "midi/backends/backend.h"

#include <memory>

namespace kivra {

std::unique_ptr<MidiOutBackend> MakeSystemMidiOut();
std::unique_ptr<MidiInBackend> MakeSystemMidiIn();

}  // namespace kivra
