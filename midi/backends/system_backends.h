#pragma once
// The program's backends. Outputs: device 0 the built-in synthesizer, then the system's ports (ALSA,
// then JACK when a server runs), then "Kivra Virtual Output" when the program has ports of its
// own. Inputs: the system's ports. The program's own ports ("Kivra:out" and "Kivra:in", on the
// ALSA sequencer and on JACK, whichever answer) live as long as the backends, whatever is chosen.

#include "midi/backends/backend.h"

#include <memory>

namespace kivra {

class MidiNotifier;

inline constexpr const char* kVirtualOutputName = "Kivra Virtual Output";

struct SystemMidi {
    std::unique_ptr<MidiOutBackend> out;
    std::unique_ptr<MidiInBackend> in;
};
// What other programs send to "Kivra:in" is posted to `notifier` as received input, whichever
// input device is chosen; `notifier` must outlive both backends.
SystemMidi MakeSystemMidi(MidiNotifier& notifier);

}  // namespace kivra
