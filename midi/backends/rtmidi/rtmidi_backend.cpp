#include "midi/backends/rtmidi/rtmidi_backend.h"

#include "midi/notifier.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <unistd.h>

#include <regex>

namespace kivra {
namespace {

// RtMidi reports problems through this callback instead of printing or throwing.
void IgnoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}

void SilenceAlsa(const char*, int, const char*, int, const char*, ...) {}

template <typename Port> std::unique_ptr<Port> MakePort() {
    if (!MidiSequencerAvailable()) return nullptr;
    try {
        auto port = std::make_unique<Port>(RtMidi::LINUX_ALSA, "Kivra");
        port->setErrorCallback(&IgnoreRtMidiError, nullptr);
        return port;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

template <typename Port> std::vector<std::string> PortNames(Port* port) {
    std::vector<std::string> names;
    if (!port) return names;
    const unsigned count = port->getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(StableRtMidiPortName(port->getPortName(i)));
    return names;
}

void OnInput(double, std::vector<unsigned char>* message, void* userData) {
    if (!message || message->empty() || message->size() > 3 || (*message)[0] < 0x80) return;
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < message->size(); ++i) packed |= static_cast<std::uint32_t>((*message)[i]) << (8 * i);
    static_cast<MidiNotifier*>(userData)->PostInputData(packed);
}

}  // namespace

std::string StableRtMidiPortName(const std::string& name) {
    static const std::regex clientPort(R"(\s+\d+:\d+$)");
    return DeviceName31(std::regex_replace(name, clientPort, ""));
}

bool MidiSequencerAvailable() {
    static const bool available = [] {
        snd_lib_error_set_handler(&SilenceAlsa);
        return ::access("/dev/snd/seq", R_OK | W_OK) == 0;
    }();
    return available;
}

RtMidiOutPorts::RtMidiOutPorts() : port_(MakePort<RtMidiOut>()) {}
RtMidiOutPorts::~RtMidiOutPorts() = default;

std::vector<std::string> RtMidiOutPorts::DeviceNames() { return PortNames(port_.get()); }

bool RtMidiOutPorts::Open(int id, MidiNotifier& notifier) {
    Close();
    if (!port_ || id < 0 || static_cast<unsigned>(id) >= port_->getPortCount()) return false;
    port_->openPort(static_cast<unsigned>(id), "Kivra Output");
    open_ = port_->isPortOpen();
    if (open_) notifier.PostOutputOpened();
    return open_;
}

bool RtMidiOutPorts::Send(std::uint32_t packed) {
    if (!open_) return false;
    const unsigned char status = packed & 0xFF;
    const std::size_t size = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
    const unsigned char bytes[3] = {status, static_cast<unsigned char>((packed >> 8) & 0xFF),
                                    static_cast<unsigned char>((packed >> 16) & 0xFF)};
    port_->sendMessage(bytes, size);
    return true;
}

void RtMidiOutPorts::Close() {
    if (port_ && open_) port_->closePort();
    open_ = false;
}

RtMidiInPorts::RtMidiInPorts() : port_(MakePort<RtMidiIn>()) {}
RtMidiInPorts::~RtMidiInPorts() { Close(); }

std::vector<std::string> RtMidiInPorts::DeviceNames() { return PortNames(port_.get()); }

bool RtMidiInPorts::Open(int id, MidiNotifier& notifier) {
    Close();
    if (!port_ || id < 0 || static_cast<unsigned>(id) >= port_->getPortCount()) return false;
    port_->setCallback(&OnInput, &notifier);
    port_->openPort(static_cast<unsigned>(id), "Kivra Input");
    open_ = port_->isPortOpen();
    if (!open_) port_->cancelCallback();
    return open_;
}

void RtMidiInPorts::Close() {
    if (port_ && open_) {
        port_->closePort();
        port_->cancelCallback();
    }
    open_ = false;
}

}  // namespace kivra
