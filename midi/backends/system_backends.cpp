#include "midi/backends/system_backends.h"

#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/backends/rtmidi/rtmidi_backend.h"

namespace kivra {
namespace {

// Device 0 the synthesizer, then the ports; only one of them is open at a time.
class SystemMidiOut : public MidiOutBackend {
public:
    std::vector<std::string> DeviceNames() override {
        auto names = synth_.DeviceNames();
        for (auto& n : ports_.DeviceNames()) names.push_back(std::move(n));
        return names;
    }
    bool Open(int id, MidiNotifier& notifier) override {
        Close();
        tried_ = id == 0 ? static_cast<MidiOutBackend*>(&synth_) : &ports_;
        if (!tried_->Open(id == 0 ? 0 : id - 1, notifier)) return false;
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
    SoftSynthOut synth_;
    RtMidiOutPorts ports_;
    MidiOutBackend* current_ = nullptr;
    MidiOutBackend* tried_ = nullptr;  // the one the last Open asked
};

}  // namespace

std::unique_ptr<MidiOutBackend> MakeSystemMidiOut() { return std::make_unique<SystemMidiOut>(); }
std::unique_ptr<MidiInBackend> MakeSystemMidiIn() { return std::make_unique<RtMidiInPorts>(); }

}  // namespace kivra
