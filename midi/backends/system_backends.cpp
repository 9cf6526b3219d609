#include "midi/backends/system_backends.h"

#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/backends/jack/jack_ports.h"
#include "midi/backends/rtmidi/rtmidi_backend.h"
#include "midi/notifier.h"

#include <QCoreApplication>

#include <array>

namespace kivra {
namespace {

// The program's own ports, shared by both backends. JACK's client opens first, so that it gets
// the name "Kivra" before RtMidi's per-device clients do.
struct VirtualPorts {
    explicit VirtualPorts(MidiNotifier& notifier) : jack("Kivra", notifier), alsa(notifier) {}
    bool IsOpen() const { return jack.IsOpen() || alsa.IsOpen(); }
    bool Send(std::uint32_t packed) {
        const bool sentJack = jack.Send(packed);
        const bool sentAlsa = alsa.Send(packed);
        return sentJack || sentAlsa;
    }
    JackVirtualPorts jack;
    RtMidiVirtualPorts alsa;
};

// The virtual output as a device of its own: opening it only starts the sending.
class VirtualOut : public MidiOutBackend {
public:
    explicit VirtualOut(std::shared_ptr<VirtualPorts> ports) : ports_(std::move(ports)) {}
    std::vector<std::string> DeviceNames() override {
        return ports_->IsOpen() ? std::vector<std::string>{kVirtualOutputName} : std::vector<std::string>{};
    }
    bool Open(int id, MidiNotifier& notifier) override {
        open_ = id == 0 && ports_->IsOpen();
        if (open_) notifier.PostOutputOpened();
        return open_;
    }
    bool Send(std::uint32_t packed) override { return open_ && ports_->Send(packed); }
    void Close() override { open_ = false; }
    std::string OpenError() const override { return open_ ? std::string() : QCoreApplication::translate("MidiDevices", "the program's own ports are not open").toStdString(); }

private:
    std::shared_ptr<VirtualPorts> ports_;
    bool open_ = false;
};

// The devices of several backends in one list, in order; only one of them is open at a time.
class SystemMidiOut : public MidiOutBackend {
public:
    SystemMidiOut(bool jack, std::shared_ptr<VirtualPorts> virtualPorts)
        : ports_(jack), virtual_(std::move(virtualPorts)) {}
    std::vector<std::string> DeviceNames() override {
        std::vector<std::string> names;
        for (MidiOutBackend* b : Backends())
            for (auto& n : b->DeviceNames()) names.push_back(std::move(n));
        return names;
    }
    bool Open(int id, MidiNotifier& notifier) override {
        Close();
        // An id outside the list goes to the ports, which refuse it and say why.
        tried_ = &ports_;
        int local = -1;
        for (MidiOutBackend* b : Backends()) {
            const int count = static_cast<int>(b->DeviceNames().size());
            if (id >= 0 && id < count) {
                tried_ = b;
                local = id;
                break;
            }
            id -= count;
        }
        if (!tried_->Open(local, notifier)) return false;
        current_ = tried_;
        return true;
    }
    bool Send(std::uint32_t packed) override { return current_ && current_->Send(packed); }
    void Close() override {
        if (current_) current_->Close();
        current_ = nullptr;
    }
    std::string OpenError() const override { return tried_ ? tried_->OpenError() : std::string(); }
    bool LoadsInBackground() const override { return current_ && current_->LoadsInBackground(); }
    SynthControls* Controls() override { return current_ ? current_->Controls() : nullptr; }

private:
    std::array<MidiOutBackend*, 3> Backends() { return {&synth_, &ports_, &virtual_}; }

    SoftSynthOut synth_;
    RtMidiOutPorts ports_;
    VirtualOut virtual_;
    MidiOutBackend* current_ = nullptr;
    MidiOutBackend* tried_ = nullptr;  // the one the last Open asked
};

// The inputs, holding the program's own ports as long as they live.
class SystemMidiIn : public RtMidiInPorts {
public:
    SystemMidiIn(bool jack, std::shared_ptr<VirtualPorts> virtualPorts)
        : RtMidiInPorts(jack), virtual_(std::move(virtualPorts)) {}

private:
    std::shared_ptr<VirtualPorts> virtual_;
};

}  // namespace

SystemMidi MakeSystemMidi(MidiNotifier& notifier) {
    auto virtualPorts = std::make_shared<VirtualPorts>(notifier);
    // The program's JACK client opens only when a server runs: then RtMidi may list JACK's ports.
    const bool jack = virtualPorts->jack.IsOpen();
    return {std::make_unique<SystemMidiOut>(jack, virtualPorts), std::make_unique<SystemMidiIn>(jack, virtualPorts)};
}

}  // namespace kivra
