#include "midi/backends/rtmidi/rtmidi_backend.h"

#include "midi/message.h"
#include "midi/notifier.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>

#include <optional>
#include <cctype>

namespace kivra {
namespace {

// RtMidi reports problems through this callback instead of printing or throwing; the last one
// is the reason an open failed.
void KeepRtMidiError(RtMidiError::Type, const std::string& text, void* error) {
    *static_cast<std::string*>(error) = text;
}

void SilenceAlsa(const char*, int, const char*, int, const char*, ...) {}

constexpr const char* kClientName = "Kivra";
constexpr const char* kInputPortName = "Kivra Input";
constexpr const char* kOutputPortName = "Kivra Output";

constexpr const char* kNoSequencer = "the ALSA sequencer (/dev/snd/seq) cannot be opened";

// RtMidi keeps `error` for its callback: it must outlive the port.
template <typename Port> std::unique_ptr<Port> MakePort(std::string& error) {
    if (!MidiSequencerAvailable()) return nullptr;
    try {
        auto port = std::make_unique<Port>(RtMidi::LINUX_ALSA, kClientName);
        port->setErrorCallback(&KeepRtMidiError, &error);
        return port;
    } catch (const RtMidiError& e) {
        error = e.getMessage();
        return nullptr;
    }
}

// Our own ports stay in the sequencer once opened, and RtMidi lists them with the others. Listing
// them would let the input listen to our own output and play every note back into itself, so the
// device ids count the other ports only.
struct PortList {
    std::vector<std::string> names;
    std::vector<unsigned> rtmidiIds;
};

template <typename Port> PortList ListPorts(Port* port) {
    PortList list;
    if (!port) return list;
    const std::string ownInput = std::string(kClientName) + ':' + kInputPortName;
    const std::string ownOutput = std::string(kClientName) + ':' + kOutputPortName;
    const unsigned count = port->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = StableRtMidiPortName(port->getPortName(i));
        if (name == ownInput || name == ownOutput) continue;
        list.names.push_back(std::move(name));
        list.rtmidiIds.push_back(i);
    }
    return list;
}

// The RtMidi port number of device `id`, or nothing when there is no such device now.
template <typename Port> std::optional<unsigned> RtMidiPortOf(Port* port, int id) {
    if (!port || id < 0) return std::nullopt;
    const auto list = ListPorts(port);
    if (static_cast<std::size_t>(id) >= list.rtmidiIds.size()) return std::nullopt;
    return list.rtmidiIds[static_cast<std::size_t>(id)];
}

void OnInput(double, std::vector<unsigned char>* message, void* userData) {
    if (!message || message->empty() || message->size() > 3 || !IsStatusByte((*message)[0])) return;
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < message->size(); ++i) packed |= static_cast<std::uint32_t>((*message)[i]) << (8 * i);
    static_cast<MidiNotifier*>(userData)->PostInputData(packed);
}

}  // namespace

std::string StableRtMidiPortName(const std::string& name) {
    // Drop a trailing " <client>:<port>", which changes from one session to the next.
    auto digitsBefore = [&](std::size_t end) {
        std::size_t at = end;
        while (at > 0 && std::isdigit(static_cast<unsigned char>(name[at - 1]))) --at;
        return at;
    };
    std::size_t portStart = digitsBefore(name.size());
    if (portStart < name.size() && portStart > 0 && name[portStart - 1] == ':') {
        std::size_t clientStart = digitsBefore(portStart - 1);
        if (clientStart < portStart - 1 && clientStart > 0 && name[clientStart - 1] == ' ') {
            std::size_t end = clientStart - 1;
            while (end > 0 && std::isspace(static_cast<unsigned char>(name[end - 1]))) --end;
            return DeviceName31(name.substr(0, end));
        }
    }
    return DeviceName31(name);
}

bool MidiSequencerAvailable() {
    // RtMidi prints before it throws when the sequencer cannot be opened, so try it here first,
    // with ALSA's own messages silenced. A device node that exists but cannot be opened (no kernel
    // module, no permission, as in containers) counts as no sequencer.
    static const bool available = [] {
        snd_lib_error_set_handler(&SilenceAlsa);
        snd_seq_t* seq = nullptr;
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
        snd_seq_close(seq);
        return true;
    }();
    return available;
}

RtMidiOutPorts::RtMidiOutPorts() : port_(MakePort<RtMidiOut>(error_)) {}
RtMidiOutPorts::~RtMidiOutPorts() = default;

std::vector<std::string> RtMidiOutPorts::DeviceNames() { return ListPorts(port_.get()).names; }

bool RtMidiOutPorts::Open(int id, MidiNotifier& notifier) {
    Close();
    const auto rtmidiId = RtMidiPortOf(port_.get(), id);
    if (!rtmidiId) {
        error_ = port_ ? "the port is gone" : kNoSequencer;
        return false;
    }
    error_.clear();
    port_->openPort(*rtmidiId, kOutputPortName);
    open_ = port_->isPortOpen();
    if (!open_ && error_.empty()) error_ = "the port refused to open";
    if (open_) notifier.PostOutputOpened();
    return open_;
}

bool RtMidiOutPorts::Send(std::uint32_t packed) {
    if (!open_) return false;
    const ShortMessage m = UnpackShortMessage(packed);
    const int length = ShortMessageLength(m.status);
    if (length == 0) return false;  // a data byte or system exclusive: no short message to send
    const unsigned char bytes[3] = {m.status, m.data1, m.data2};
    port_->sendMessage(bytes, static_cast<std::size_t>(length));
    return true;
}

void RtMidiOutPorts::Close() {
    if (port_ && open_) port_->closePort();
    open_ = false;
}

RtMidiInPorts::RtMidiInPorts() : port_(MakePort<RtMidiIn>(error_)) {}
RtMidiInPorts::~RtMidiInPorts() { Close(); }

std::vector<std::string> RtMidiInPorts::DeviceNames() { return ListPorts(port_.get()).names; }

bool RtMidiInPorts::Open(int id, MidiNotifier& notifier) {
    Close();
    const auto rtmidiId = RtMidiPortOf(port_.get(), id);
    if (!rtmidiId) {
        error_ = port_ ? "the port is gone" : kNoSequencer;
        return false;
    }
    error_.clear();
    port_->setCallback(&OnInput, &notifier);
    port_->openPort(*rtmidiId, kInputPortName);
    open_ = port_->isPortOpen();
    if (!open_ && error_.empty()) error_ = "the port refused to open";
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
