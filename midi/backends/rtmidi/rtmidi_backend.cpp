#include "midi/backends/rtmidi/rtmidi_backend.h"

#include "midi/message.h"
#include "midi/notifier.h"

#include <QCoreApplication>
#include <RtMidi.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <optional>

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

// Why a port did not open, in the user's language.
std::string Say(const char* text) { return QCoreApplication::translate("MidiDevices", text).toStdString(); }
constexpr const char* kNoSequencer = QT_TRANSLATE_NOOP("MidiDevices", "the ALSA sequencer (/dev/snd/seq) cannot be opened");
constexpr const char* kPortGone = QT_TRANSLATE_NOOP("MidiDevices", "the port is gone");
constexpr const char* kPortRefused = QT_TRANSLATE_NOOP("MidiDevices", "the port refused to open");

bool Compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// RtMidi keeps `error` for its callback: it must outlive the port. RtMidi prints from its
// constructor when the ALSA sequencer or the JACK server is missing, so both are checked first.
template <typename Port> std::unique_ptr<Port> MakePort(RtMidi::Api api, std::string& error) {
    if (!Compiled(api) || (api == RtMidi::LINUX_ALSA && !MidiSequencerAvailable())) return nullptr;
    try {
        auto port = std::make_unique<Port>(api, kClientName);
        port->setErrorCallback(&KeepRtMidiError, &error);
        return port;
    } catch (const RtMidiError& e) {
        error = e.getMessage();
        return nullptr;
    }
}

// The ALSA sequencer's ports, then JACK's when a server runs.
template <typename Port> std::vector<std::unique_ptr<Port>> MakePorts(bool jack, std::string& error) {
    std::vector<std::unique_ptr<Port>> ports;
    for (const RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
        if (api == RtMidi::UNIX_JACK && !jack) continue;
        if (auto port = MakePort<Port>(api, error)) ports.push_back(std::move(port));
    }
    return ports;
}

// Our own ports (RtMidi's per device, the virtual ones) are listed with the others. Listing them
// would let the input listen to our own output and play every note back into itself, so the
// device ids count the other ports only. JACK names a second client "Kivra-01", and so on.
bool IsOwnPort(const std::string& name) {
    const auto colon = name.find(':');
    if (colon == std::string::npos) return false;
    const std::string client = name.substr(0, colon), port = name.substr(colon + 1);
    const std::string numbered = std::string(kClientName) + '-';
    const bool ownClient = client == kClientName ||
        (client.size() > numbered.size() && client.compare(0, numbered.size(), numbered) == 0 &&
         std::all_of(client.begin() + static_cast<std::ptrdiff_t>(numbered.size()), client.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; }));
    return ownClient && (port == kInputPortName || port == kOutputPortName || port == kVirtualInputPortName ||
                         port == kVirtualOutputPortName);
}

template <typename Port> struct PortList {
    std::vector<std::string> names;
    std::vector<std::pair<Port*, unsigned>> where;  // the RtMidi object and its port number
};

template <typename Port> PortList<Port> ListPorts(const std::vector<std::unique_ptr<Port>>& ports) {
    PortList<Port> list;
    for (const auto& port : ports) {
        const unsigned count = port->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            std::string name = StableRtMidiPortName(port->getPortName(i));
            if (IsOwnPort(name)) continue;
            list.names.push_back(std::move(name));
            list.where.emplace_back(port.get(), i);
        }
    }
    return list;
}

// Opens device `id` under `name`, `prepare` having run on its RtMidi object first; that object,
// or nullptr with `error` saying why (RtMidi's own complaint, set while opening, comes first).
template <typename Port, typename Prepare>
Port* OpenListedPort(const std::vector<std::unique_ptr<Port>>& ports, int id, const std::string& name, std::string& error,
                     Prepare prepare) {
    const auto list = ListPorts(ports);
    if (id < 0 || static_cast<std::size_t>(id) >= list.where.size()) {
        error = Say(ports.empty() ? kNoSequencer : kPortGone);
        return nullptr;
    }
    error.clear();
    auto [port, number] = list.where[static_cast<std::size_t>(id)];
    prepare(*port);
    port->openPort(number, name);
    if (port->isPortOpen()) return port;
    if (error.empty()) error = Say(kPortRefused);
    return nullptr;
}

bool SendShortMessage(RtMidiOut& port, std::uint32_t packed) {
    const ShortMessage m = UnpackShortMessage(packed);
    const int length = ShortMessageLength(m.status);
    if (length == 0) return false;  // a data byte or system exclusive: no short message to send
    const unsigned char bytes[3] = {m.status, m.data1, m.data2};
    port.sendMessage(bytes, static_cast<std::size_t>(length));
    return true;
}

void OnInput(double, std::vector<unsigned char>* message, void* userData) {
    if (!message) return;
    if (const std::uint32_t packed = PackReceivedBytes(message->data(), message->size()))
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

RtMidiOutPorts::RtMidiOutPorts(bool jack) : ports_(MakePorts<RtMidiOut>(jack, error_)) {}
RtMidiOutPorts::~RtMidiOutPorts() = default;

std::vector<std::string> RtMidiOutPorts::DeviceNames() { return ListPorts(ports_).names; }

bool RtMidiOutPorts::Open(int id, MidiNotifier& notifier) {
    Close();
    open_ = OpenListedPort(ports_, id, kOutputPortName, error_, [](RtMidiOut&) {});
    if (open_) notifier.PostOutputOpened();
    return open_ != nullptr;
}

bool RtMidiOutPorts::Send(std::uint32_t packed) { return open_ && SendShortMessage(*open_, packed); }

void RtMidiOutPorts::Close() {
    if (open_) open_->closePort();
    open_ = nullptr;
}

RtMidiInPorts::RtMidiInPorts(bool jack) : ports_(MakePorts<RtMidiIn>(jack, error_)) {}
RtMidiInPorts::~RtMidiInPorts() { Close(); }

std::vector<std::string> RtMidiInPorts::DeviceNames() { return ListPorts(ports_).names; }

bool RtMidiInPorts::Open(int id, MidiNotifier& notifier) {
    Close();
    RtMidiIn* tried = nullptr;
    open_ = OpenListedPort(ports_, id, kInputPortName, error_, [&](RtMidiIn& port) {
        tried = &port;
        port.setCallback(&OnInput, &notifier);
    });
    if (!open_ && tried) tried->cancelCallback();
    return open_ != nullptr;
}

void RtMidiInPorts::Close() {
    if (open_) {
        open_->closePort();
        open_->cancelCallback();
    }
    open_ = nullptr;
}

RtMidiVirtualPorts::RtMidiVirtualPorts(MidiNotifier& input)
    : out_(MakePort<RtMidiOut>(RtMidi::LINUX_ALSA, error_)), in_(MakePort<RtMidiIn>(RtMidi::LINUX_ALSA, error_)) {
    if (out_) out_->openVirtualPort(kVirtualOutputPortName);
    if (in_) {
        in_->setCallback(&OnInput, &input);
        in_->openVirtualPort(kVirtualInputPortName);
    }
}

RtMidiVirtualPorts::~RtMidiVirtualPorts() {
    if (in_) in_->cancelCallback();
}

bool RtMidiVirtualPorts::IsOpen() const { return out_ != nullptr; }

bool RtMidiVirtualPorts::Send(std::uint32_t packed) { return out_ && SendShortMessage(*out_, packed); }

}  // namespace kivra
