// Built without JACK: no server is ever seen and the program has no JACK ports.
#include "midi/backends/jack/jack_ports.h"

namespace kivra {

struct JackVirtualPorts::State {};

bool JackServerRunning() { return false; }
JackVirtualPorts::JackVirtualPorts(const std::string&, MidiNotifier&) {}
JackVirtualPorts::~JackVirtualPorts() = default;
bool JackVirtualPorts::IsOpen() const { return false; }
bool JackVirtualPorts::Send(std::uint32_t) { return false; }

}  // namespace kivra
