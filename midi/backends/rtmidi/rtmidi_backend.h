#pragma once
// MIDI ports of the system through RtMidi: the ALSA sequencer's, then JACK's. Each API is asked
// for only once it is known to answer (RtMidi's JACK API crashes without a server, and both print
// when theirs is missing): no sequencer and no JACK server (CI, containers) means no ports, quietly.

#include "midi/backends/backend.h"

#include <memory>
#include <string>
#include <vector>

class RtMidiOut;
class RtMidiIn;

namespace kivra {

// The program's own ports that other programs connect to: "Kivra:out" and "Kivra:in".
inline constexpr const char* kVirtualOutputPortName = "out";
inline constexpr const char* kVirtualInputPortName = "in";

// "Name:Port 128:0" -> "Name:Port": a name that stays the same across sessions, at most 31 chars.
std::string StableRtMidiPortName(const std::string& name);

// True when the platform's MIDI sequencer can be reached at all.
bool MidiSequencerAvailable();

// Devices: the ports of other programs and of the hardware, ALSA's first. `jack`: list JACK's too
// (the caller has seen a server running).
class RtMidiOutPorts : public MidiOutBackend {
public:
    explicit RtMidiOutPorts(bool jack = false);
    ~RtMidiOutPorts() override;
    std::vector<std::string> DeviceNames() override;
    bool Open(int id, MidiNotifier& notifier) override;
    bool Send(std::uint32_t packed) override;
    void Close() override;

    std::string OpenError() const override { return error_; }

private:
    std::string error_;  // declared first: the ports' error callback writes here while they live
    std::vector<std::unique_ptr<RtMidiOut>> ports_;  // one per API
    RtMidiOut* open_ = nullptr;
};

class RtMidiInPorts : public MidiInBackend {
public:
    explicit RtMidiInPorts(bool jack = false);
    ~RtMidiInPorts() override;
    std::vector<std::string> DeviceNames() override;
    bool Open(int id, MidiNotifier& notifier) override;
    void Close() override;

    std::string OpenError() const override { return error_; }

private:
    std::string error_;  // declared first: the ports' error callback writes here while they live
    std::vector<std::unique_ptr<RtMidiIn>> ports_;
    RtMidiIn* open_ = nullptr;
};

// The program's own ports on the ALSA sequencer, client "Kivra", open while this lives; what
// arrives at "in" is posted to `input`, which must outlive this object.
class RtMidiVirtualPorts {
public:
    explicit RtMidiVirtualPorts(MidiNotifier& input);
    ~RtMidiVirtualPorts();
    bool IsOpen() const;
    bool Send(std::uint32_t packed);

private:
    std::string error_;
    std::unique_ptr<RtMidiOut> out_;
    std::unique_ptr<RtMidiIn> in_;
};

}  // namespace kivra
