#pragma once
// JACK, reached without ever starting a server: whether one runs, and the program's own MIDI ports
// in the JACK graph. One JACK client holds both ports, so that they read "Kivra:out" and
// "Kivra:in" (RtMidi gives every port a client of its own). Built only with KIVRA_WITH_JACK;
// without it no server is ever seen. libjack's own messages go to the category "kivra.jack".

#include <cstdint>
#include <memory>
#include <string>

namespace kivra {

class MidiNotifier;

// True when a JACK server answers now. Never starts one and prints nothing; without a server it
// costs a failed connection attempt (bench_midi_devices prints the figure).
bool JackServerRunning();

class JackVirtualPorts {
public:
    // Opens client `clientName` (JACK appends "-01" when the name is taken) with an output port
    // "out" and an input port "in", when a server runs. What arrives at "in" is posted to `input`,
    // which must outlive this object.
    JackVirtualPorts(const std::string& clientName, MidiNotifier& input);
    ~JackVirtualPorts();
    JackVirtualPorts(const JackVirtualPorts&) = delete;
    JackVirtualPorts& operator=(const JackVirtualPorts&) = delete;

    bool IsOpen() const;
    // Queues one packed short message for the next JACK cycle on "out"; one caller at a time.
    bool Send(std::uint32_t packed);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kivra
